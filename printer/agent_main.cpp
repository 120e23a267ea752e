// inkseal-agent: the desktop session's side of the Inkseal printer.  It
// listens on a socket in the user's runtime folder, takes documents only from
// processes of its own user (peer credentials: the CUPS backend becomes the
// job's owner before it connects), stores each in a private spool on disk
// (the user's state folder, which outlives the session) and runs Ferrowend
// from its own folder on it, inside the session, as a Windows printer driver
// would.  A document leaves the spool only once Ferrowend says the service
// has it, or the user discards it; until then it waits, and goes again when
// the service can be reached (job_queue.h).
//
// One agent per user: a second one (the autostart entry and the user unit
// can both be present) finds the lock taken and ends quietly.
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <glib.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "common/settings.h"
#include "platform/unique_fd_posix.h"
#include "printer/agent_folder.h"
#include "printer/agent_link.h"
#include "printer/desktop_notifier.h"
#include "printer/held_jobs.h"
#include "printer/job_queue.h"
#include "printer/network_watch.h"
#include "printer/service_reach.h"
#include "printer/spool.h"
#include "printer/state_folder.h"
#include "printer/uploader_run.h"
#include "printer/waiting_texts.h"
#include "text/utf.h"

namespace inkseal::printer {
namespace {

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
  Agent(std::string user, std::string programFolder, Spool& spool, DesktopNotifier& notifier)
      : user(std::move(user)), uploader(programFolder + "/" + kUploaderName),
        settings(programFolder + "/" + Utf16ToUtf8(kSettingsFileName)), spool(spool), notifier(notifier),
        queue(spool, WaitingPolicy(RetryLimit()), Hooks()) {
    notifier.OnAnswer([this](const std::string& job, UserAnswer answer) { queue.Answer(job, answer); });
  }

  void NetworkChanged() { queue.NetworkChanged(); }

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
    // Sent once more, its copy is dropped as it arrives: it must not go twice.
    const bool held = spool.Holds(job);
    if (!held && !spool.Begin(job, jobFolder, file)) problem = ErrorText("cannot create a spool file");
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
    if (held) {
      Log("job " + job + " is in the spool already; its first hand-over was not answered");
      return;
    }
    Log("job " + job + " stored as " + document);
    queue.NewPrint();
  }

 private:
  // 0: the back-off as it is.
  static int64_t RetryLimit() {
#ifdef INKSEAL_TEST_HOOKS
    // Tests shorten every step (whole seconds) rather than wait minutes.
    const char* text = std::getenv("INKSEAL_TEST_RETRY_SECONDS");
    return text == nullptr ? 0 : std::max<long long>(0, std::atoll(text));
#else
    return 0;
#endif
  }

  QueueHooks Hooks() {
    return {[this](const SpooledJob& job, int lock, bool quietly) { return RunUploader(uploader, job, lock, quietly); },
            [this] { return ServiceReachable(UploadAddress()); },
            [this](const SpooledJob& job, const JobRecord& record) {
              notifier.Tell(job.folder, kWaitingSummary, WaitingText(record, std::time(nullptr)));
            },
            [] { return static_cast<int64_t>(std::time(nullptr)); }};
  }

  // Read anew for every check: whoever set up the printer may change it.
  std::string UploadAddress() const {
    return Utf16ToUtf8(ReadSetting(kKeyLumeskUrl, kSettingsSection, Utf8ToUtf16(settings)).value_or(u""));
  }

  std::string user;
  std::string uploader;
  std::string settings;  // the vod995.ini beside Ferrowend
  Spool& spool;
  DesktopNotifier& notifier;
  JobQueue queue;  // last: its thread starts at once and uses the others
};

// Takes connections until accepting fails; then ends the main loop.
void Serve(int listener, Agent& agent, GMainLoop* loop) {
  for (;;) {
    Descriptor connection(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
    if (!connection.valid()) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      Log(ErrorText("cannot accept connections"));
      g_main_loop_quit(loop);
      return;
    }
    agent.Receive(std::move(connection));
  }
}



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

  std::string state;
  if (!PrepareStateFolder(state, problem)) {
    Log(problem);
    return kExitFailure;
  }
  Spool spool(state + "/" + kSpoolFolderName);
  if (!spool.Prepare()) {
    Log(ErrorText("cannot prepare the spool folder in " + state));
    return kExitFailure;
  }
  // Nothing is being received yet: what an agent before this one left
  // unfinished goes now, and the queue's first pass takes up the rest.
  const size_t waiting = spool.Jobs(/*dropUnfinished=*/true).size();
  if (waiting > 0) Log(std::to_string(waiting) + " document(s) left in " + state + " by an agent before this one");
  Descriptor listener = Listen(folder + "/" + kSocketName);
  if (!listener.valid()) return kExitFailure;

  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  {
    DesktopNotifier notifier;
    Agent agent(user, OwnFolder(), spool, notifier);
    NetworkWatch network([&agent] { agent.NetworkChanged(); });
    const int released = ReleaseHeldJobs(user);
    if (released > 0) Log("released " + std::to_string(released) + " held job(s)");
    std::thread server(Serve, listener.get(), std::ref(agent), loop);
    g_main_loop_run(loop);  // the notifications' answers and the network's changes
    server.join();
  }
  g_main_loop_unref(loop);
  return kExitFailure;  // only a failed accept ends the loop
}

}  // namespace
}  // namespace inkseal::printer

int main() { return inkseal::printer::Run(); }
