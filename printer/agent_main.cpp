// inkseal-agent: the desktop session's side of the Inkseal printer.  It
// listens on a socket in the user's runtime folder, takes documents only from
// processes of its own user (peer credentials: the CUPS backend becomes the
// job's owner before it connects), stores each in a private spool file and
// runs Ferrowend from its own folder on it, inside the session, as a Windows
// printer driver would; the spool file goes when Ferrowend has ended.
//
// One agent per user: a second one (the autostart entry and the user unit
// can both be present) finds the lock taken and ends quietly.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/unique_fd_posix.h"
#include "printer/agent_folder.h"
#include "printer/agent_link.h"
#include "printer/held_jobs.h"
#include "printer/job_queue.h"
#include "printer/spool.h"

extern char** environ;

namespace inkseal::printer {
namespace {

constexpr char kUploaderName[] = "Ferrowend";
constexpr int kBacklog = 16;
// A backend that stops sending mid-document must not stall the agent.
constexpr std::chrono::seconds kReceiveLimit{60};
constexpr int kExitFailure = 1;

using Descriptor = platform::UniqueFd;

void Log(const std::string& text) { std::fprintf(stderr, "inkseal-agent: %s\n", text.c_str()); }

std::string ErrorText(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string OwnFolder() {
  std::string buffer(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return ".";
  buffer.resize(static_cast<size_t>(length));
  return buffer.substr(0, buffer.rfind('/'));
}

Descriptor Listen(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  Descriptor listener;
  if (path.size() >= sizeof address.sun_path) {
    Log("the socket path is too long: " + path);
    return listener;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  listener.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!listener.valid()) {
    Log(ErrorText("cannot create a socket"));
    return listener;
  }
  ::unlink(path.c_str());  // a socket left by an agent that ended; the lock says none runs
  const mode_t oldMask = ::umask(0077);
  const bool bound = ::bind(listener.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::umask(oldMask);
  if (!bound || ::listen(listener.get(), kBacklog) != 0) {
    Log(ErrorText("cannot listen on " + path));
    listener.reset();
  }
  return listener;
}

// Only this user's own processes: the backend has become the job's owner
// before it connects, so neither root nor CUPS' user need to be let in.
bool IsOwnUser(int connection) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return ::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

void Reply(int connection, const std::string& line) {
  const std::string text = line + "\n";
  SendAll(connection, text.data(), text.size(), After(kReceiveLimit));
}

// After a frame could not be read: a frame over its limit is refused with a
// reason the backend puts in the job's log; a sender that went away or
// stalled gets nothing.
void RefuseFrame(int connection, const std::string& job, const char* what, size_t limit) {
  if (errno == EMSGSIZE) {
    const std::string problem = std::string(what) + " is longer than " + std::to_string(limit) + " bytes";
    Log("refused job " + job + ": " + problem);
    Reply(connection, std::string(kReplyError) + problem);
  } else if (errno == ETIMEDOUT) {
    Log("gave up job " + job + ": the print service stopped sending");
  }
}

class Agent {
 public:
  Agent(std::string user, std::string uploader, Spool& spool)
      : user(std::move(user)), uploader(std::move(uploader)), spool(spool),
        queue([this](const std::string& document) { RunUploader(document); }) {}

  void Queue(const std::string& document) { queue.Push(document); }

  // One job from the backend: stored whole, answered, then queued.
  void Receive(Descriptor connection) {
    if (!IsOwnUser(connection.get())) {
      Log("refused a connection from a process of another user");
      return;
    }
    std::string sender, job = "?", title;
    for (std::string* header : {&sender, &job, &title}) {
      if (!ReceiveFrame(connection.get(), *header, kMaxHeaderFrame, After(kReceiveLimit))) {
        RefuseFrame(connection.get(), job, "a header of the job", kMaxHeaderFrame);
        return;
      }
    }
    if (sender != user) {
      Log("refused job " + job + " of " + sender + ": this is " + user + "'s session");
      Reply(connection.get(), std::string(kReplyError) + "the job belongs to " + sender + ", this session to " + user);
      return;
    }
    std::string jobFolder, problem, document;
    Descriptor file;
    if (!spool.Begin(jobFolder, file)) problem = ErrorText("cannot create a spool file");
    std::string frame;
    for (;;) {
      if (!ReceiveFrame(connection.get(), frame, kMaxFrame, After(kReceiveLimit))) {
        const int error = errno;
        if (file.valid()) {  // nothing unfinished is kept
          file.Close();
          Spool::Discard(jobFolder);
        }
        errno = error;
        RefuseFrame(connection.get(), job, "a part of the document", kMaxFrame);
        return;
      }
      if (frame.empty()) break;
      // After a failed write the rest is read and dropped, so that the
      // backend gets the reason instead of a broken connection.
      if (file.valid() && !platform::WriteAll(file.get(), frame)) {
        problem = ErrorText("cannot write the spool file");
        file.Close();
        Spool::Discard(jobFolder);
      }
    }
    if (file.valid() && !spool.Finish(jobFolder, std::move(file), title, document)) {
      problem = ErrorText("cannot store the spool file");
    }
    if (!problem.empty()) {
      Log("job " + job + ": " + problem);
      Reply(connection.get(), std::string(kReplyError) + problem);
      return;
    }
    Reply(connection.get(), kReplyOk);
    Log("job " + job + " stored as " + document);
    queue.Push(document);
  }

 private:
  void RunUploader(const std::string& document) {
    char* const argv[] = {const_cast<char*>(uploader.c_str()), const_cast<char*>(document.c_str()), nullptr};
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, uploader.c_str(), nullptr, nullptr, argv, environ);
    if (error != 0) {
      Log("cannot start " + uploader + ": " + std::strerror(error) + "; " + document + " is kept");
      return;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    Log(std::string(kUploaderName) + " ended with " +
        std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + " for " + document);
    Spool::Remove(document);
  }

  std::string user;
  std::string uploader;
  Spool& spool;
  JobQueue queue;
};

int Run() {
  ::signal(SIGPIPE, SIG_IGN);
  const passwd* account = ::getpwuid(::getuid());
  if (account == nullptr) {
    Log("this user has no account entry");
    return kExitFailure;
  }
  const std::string user = account->pw_name;
  std::string folder, problem;
  if (!PrepareAgentFolder(folder, problem)) {
    Log(problem);
    return kExitFailure;
  }
  Descriptor lock(::open((folder + "/" + kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (!lock.valid()) {
    Log(ErrorText("cannot open the lock in " + folder));
    return kExitFailure;
  }
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) return 0;  // this user's agent already runs

  Spool spool(folder + "/" + kSpoolFolderName);
  if (!spool.Prepare()) {
    Log(ErrorText("cannot prepare the spool folder in " + folder));
    return kExitFailure;
  }
  Descriptor listener = Listen(folder + "/" + kSocketName);
  if (!listener.valid()) return kExitFailure;

  Agent agent(user, OwnFolder() + "/" + kUploaderName, spool);
  for (const std::string& document : spool.Leftovers()) {
    Log("printing " + document + ", left by an agent that ended before it was done");
    agent.Queue(document);
  }
  const int released = ReleaseHeldJobs(user);
  if (released > 0) Log("released " + std::to_string(released) + " held job(s)");

  for (;;) {
    Descriptor connection(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection.valid()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      Log(ErrorText("cannot accept connections"));
      return kExitFailure;
    }
    agent.Receive(std::move(connection));
  }
}

}  // namespace
}  // namespace inkseal::printer

int main() { return inkseal::printer::Run(); }
