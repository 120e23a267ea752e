// inkseal-agent: the desktop session's side of the Inkseal printer.  It
// listens on a socket in the user's runtime folder, takes documents from the
// CUPS backend only (root or the CUPS daemon's user, by peer credentials),
// stores each in a private spool file and runs Ferrowend from its own folder
// on it, inside the session, as a Windows printer driver would; the spool
// file goes when Ferrowend has ended.
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
#include <sys/time.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/unique_fd_posix.h"
#include "printer/agent_link.h"
#include "printer/held_jobs.h"
#include "printer/job_queue.h"
#include "printer/spool.h"

extern char** environ;

namespace inkseal::printer {
namespace {

constexpr char kUploaderName[] = "Ferrowend";
constexpr char kDaemonUser[] = "lp";  // Debian's CUPS runs filters and backends as lp
constexpr int kBacklog = 16;
// A backend that stops sending mid-document must not stall the agent.
constexpr int kReceiveTimeoutSeconds = 60;
constexpr int kExitFailure = 1;

using Descriptor = platform::UniqueFd;

void Log(const std::string& text) { std::fprintf(stderr, "inkseal-agent: %s\n", text.c_str()); }

std::string ErrorText(const std::string& what) { return what + ": " + std::strerror(errno); }

// $XDG_RUNTIME_DIR/inkseal, else /tmp/inkseal-<uid>; created 0700 and
// checked to be the user's own, so nobody else can replace the socket.
bool PrepareAgentFolder(std::string& folder) {
  const uid_t uid = ::getuid();
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  folder = runtime && *runtime ? std::string(runtime) + "/" + kAgentFolderName : FallbackAgentFolder(uid);
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    Log(ErrorText("cannot create " + folder));
    return false;
  }
  if (!IsPrivateFolder(folder, uid) || ::chmod(folder.c_str(), 0700) != 0) {
    Log(folder + " is not a private folder of this user");
    return false;
  }
  return true;
}

std::string OwnFolder() {
  std::string buffer(4096, '\0');
  const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (length <= 0) return ".";
  buffer.resize(static_cast<size_t>(length));
  return buffer.substr(0, buffer.rfind('/'));
}

int Listen(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    Log("the socket path is too long: " + path);
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  ::unlink(path.c_str());  // a socket left by an agent that ended; the lock says none runs
  const mode_t old_mask = ::umask(0077);
  const bool bound = ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::umask(old_mask);
  if (!bound || ::listen(fd, kBacklog) != 0) {
    Log(ErrorText("cannot listen on " + path));
    ::close(fd);
    return -1;
  }
  return fd;
}

bool TrustedPeer(int connection) {
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return false;
  if (peer.uid == 0) return true;
  const passwd* daemon = ::getpwnam(kDaemonUser);
  return daemon != nullptr && peer.uid == daemon->pw_uid;
}

void Reply(int connection, const std::string& line) {
  const std::string text = line + "\n";
  WriteAll(connection, text.data(), text.size());
}

class Agent {
 public:
  Agent(std::string user, std::string uploader, Spool& spool)
      : user_(std::move(user)), uploader_(std::move(uploader)), spool_(spool),
        queue_([this](const std::string& document) { RunUploader(document); }) {}

  void Queue(const std::string& document) { queue_.Push(document); }

  // One job from the backend: stored whole, answered, then queued.
  void Receive(int connection) {
    if (!TrustedPeer(connection)) {
      Log("refused a connection from a process that is not the print service");
      return;
    }
    const timeval limit{kReceiveTimeoutSeconds, 0};
    ::setsockopt(connection, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    std::string user, job, title;
    if (!ReadFrame(connection, user, kMaxHeaderFrame) || !ReadFrame(connection, job, kMaxHeaderFrame) ||
        !ReadFrame(connection, title, kMaxHeaderFrame)) {
      return;
    }
    if (user != user_) {
      Log("refused job " + job + " of " + user + ": this is " + user_ + "'s session");
      Reply(connection, std::string(kReplyError) + "the job belongs to " + user + ", this session to " + user_);
      return;
    }
    std::string job_folder, problem, document;
    int fd = -1;
    if (!spool_.Begin(job_folder, fd)) problem = ErrorText("cannot create a spool file");
    std::string frame;
    for (;;) {
      if (!ReadFrame(connection, frame, kMaxFrame)) {  // the backend went away: nothing is kept
        if (fd >= 0) ::close(fd);
        if (!job_folder.empty() && problem.empty()) Spool::Discard(job_folder);
        return;
      }
      if (frame.empty()) break;
      // After a failed write the rest is read and dropped, so that the
      // backend gets the reason instead of a broken connection.
      if (problem.empty() && !WriteAll(fd, frame.data(), frame.size())) {
        problem = ErrorText("cannot write the spool file");
        ::close(fd);
        fd = -1;
        Spool::Discard(job_folder);
      }
    }
    if (problem.empty() && !spool_.Finish(job_folder, fd, title, document)) {
      problem = ErrorText("cannot store the spool file");
    }
    if (!problem.empty()) {
      Log("job " + job + ": " + problem);
      Reply(connection, std::string(kReplyError) + problem);
      return;
    }
    Reply(connection, kReplyOk);
    Log("job " + job + " stored as " + document);
    queue_.Push(document);
  }

 private:
  void RunUploader(const std::string& document) {
    char* const argv[] = {const_cast<char*>(uploader_.c_str()), const_cast<char*>(document.c_str()), nullptr};
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, uploader_.c_str(), nullptr, nullptr, argv, environ);
    if (error != 0) {
      Log("cannot start " + uploader_ + ": " + std::strerror(error) + "; " + document + " is kept");
      return;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    Log(std::string(kUploaderName) + " ended with " +
        std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + " for " + document);
    Spool::Remove(document);
  }

  std::string user_;
  std::string uploader_;
  Spool& spool_;
  JobQueue queue_;
};

int Run() {
  ::signal(SIGPIPE, SIG_IGN);
  const passwd* account = ::getpwuid(::getuid());
  if (account == nullptr) {
    Log("this user has no account entry");
    return kExitFailure;
  }
  const std::string user = account->pw_name;
  std::string folder;
  if (!PrepareAgentFolder(folder)) return kExitFailure;
  Descriptor lock(::open((folder + "/" + kLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
  if (lock.get() < 0) {
    Log(ErrorText("cannot open the lock in " + folder));
    return kExitFailure;
  }
  if (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) return 0;  // this user's agent already runs

  Spool spool(folder + "/" + kSpoolFolderName);
  if (!spool.Prepare()) {
    Log(ErrorText("cannot prepare the spool folder in " + folder));
    return kExitFailure;
  }
  Descriptor listener(Listen(folder + "/" + kSocketName));
  if (listener.get() < 0) return kExitFailure;

  Agent agent(user, OwnFolder() + "/" + kUploaderName, spool);
  for (const std::string& document : spool.Leftovers()) {
    Log("printing " + document + ", left by an agent that ended before it was done");
    agent.Queue(document);
  }
  const int released = ReleaseHeldJobs(user);
  if (released > 0) Log("released " + std::to_string(released) + " held job(s)");

  for (;;) {
    Descriptor connection(::accept4(listener.get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (connection.get() < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      Log(ErrorText("cannot accept connections"));
      return kExitFailure;
    }
    agent.Receive(connection.get());
  }
}

}  // namespace
}  // namespace inkseal::printer

int main() { return inkseal::printer::Run(); }
