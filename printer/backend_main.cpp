// The CUPS backend "inkseal": hands each job to the desktop session agent of
// the job's user.  CUPS runs it as root (installed 0700) for one reason: so
// that it can become the job's owner.  The hand-over does that first, in a
// child, before it goes near any path of that user's, and then sends only to
// a process that runs as that user (the socket's peer credentials).
// Whatever the user puts at the socket's path (a link to another socket,
// swapped in at the right moment) leads nowhere the user could not reach
// anyway; the root parent only watches that the child keeps moving.
//
// The job is complete once the agent has stored the document; the upload's
// own outcome is shown by Ferrowend in the user's session.  A user without a
// running agent, or whose agent does not answer in time, gets the job held,
// not lost, and the queue goes on: the agent releases it when it starts.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/unique_fd_posix.h"
#include "printer/agent_link.h"
#include "printer/job_owner.h"
#include "printer/watched_child.h"

namespace inkseal::printer {
namespace {

// CUPS' backend exit codes (backend(7)).
constexpr int kBackendOk = 0;
constexpr int kBackendFailed = 1;
constexpr int kBackendHold = 3;

constexpr char kDeviceLine[] = "direct inkseal:/ \"Inkseal\" \"Inkseal signature service\"\n";

// Each connect, send and receive may take kStepLimit; the agent's answer,
// which it gives once the document is on disk, kAnswerLimit.  Past either the
// job is held as when there is no session, so that a stalled agent holds up
// its own user's job and not the queue.
constexpr std::chrono::seconds kStepLimit{30};
constexpr std::chrono::seconds kAnswerLimit{60};
// Whole seconds that shorten both limits (the tests' stalled agents); a
// value that would lengthen them is ignored.
constexpr char kTimeLimitVariable[] = "INKSEAL_AGENT_TIME_LIMIT";

using Descriptor = platform::UniqueFd;
using std::chrono::milliseconds;

struct TimeLimits {
  milliseconds step = kStepLimit;
  milliseconds answer = kAnswerLimit;
};

TimeLimits ReadTimeLimits() {
  TimeLimits limits;
  const char* text = std::getenv(kTimeLimitVariable);
  if (text == nullptr || *text == '\0') return limits;
  char* end = nullptr;
  const long seconds = std::strtol(text, &end, 10);
  if (*end != '\0' || seconds <= 0 || seconds >= kAnswerLimit.count()) return limits;
  limits.answer = std::chrono::seconds(seconds);
  limits.step = std::min(limits.step, limits.answer);
  return limits;
}

void Report(const char* kind, const std::string& text) { std::fprintf(stderr, "%s: %s\n", kind, text.c_str()); }

enum class Reach { kAgent, kNoAgent, kStranger };

// Connects to the socket where owner's agent listens, and keeps the
// connection only when a process of owner's listens there.
Reach ConnectToAgent(uid_t owner, milliseconds limit, Descriptor& agent, uid_t& stranger) {
  const std::string path = AgentSocketPath(UserRuntimeFolder(owner));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return Reach::kNoAgent;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  Descriptor connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!connection.valid()) return Reach::kNoAgent;
  // Bounds a connect that waits for room in a listener's full backlog.
  const timeval timeout{static_cast<time_t>(limit.count() / 1000), static_cast<suseconds_t>(limit.count() % 1000 * 1000)};
  ::setsockopt(connection.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return Reach::kNoAgent;
  }
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(connection.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return Reach::kNoAgent;
  if (peer.uid != owner) {
    stranger = peer.uid;
    return Reach::kStranger;
  }
  agent = std::move(connection);
  return Reach::kAgent;
}

enum class Outcome { kStored, kRefused, kUnreadable, kLost, kTimedOut };

// After a send failed: a refusal the agent sent before it hung up.
bool RefusalWaiting(int agent, std::string& reason) {
  std::string line;
  return ReceiveLine(agent, line, kMaxHeaderFrame, After(milliseconds(0))) && !ParseReply(line, reason);
}

Outcome Unsent(int agent, std::string& reason) {
  const bool timedOut = errno == ETIMEDOUT;
  if (RefusalWaiting(agent, reason)) return Outcome::kRefused;
  return timedOut ? Outcome::kTimedOut : Outcome::kLost;
}

// Reads the next piece of the document; 0 at its end, -1 with errno set.
// A slow filter in front of the backend is no sign of a stopped child, so
// the wait for it beats.
ssize_t ReadChunk(int document, std::vector<char>& buffer, milliseconds beat, int heartbeat) {
  for (;;) {
    pollfd entry{document, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(beat.count()));
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
      Heartbeat(heartbeat);
      continue;
    }
    const ssize_t got = ::read(document, buffer.data(), buffer.size());
    if (got >= 0 || errno != EINTR) return got;
  }
}

// Sends the header and the document, whose first got bytes are in buffer;
// reason holds why it was refused.
Outcome SendJob(int agent, int document, std::vector<char>& buffer, ssize_t got, const std::string& user,
                const std::string& job, const std::string& title, const TimeLimits& limits, int heartbeat,
                std::string& reason) {
  for (const std::string* header : {&user, &job, &title}) {
    if (!SendFrame(agent, header->data(), header->size(), After(limits.step))) return Unsent(agent, reason);
  }
  Heartbeat(heartbeat);
  for (; got > 0; got = ReadChunk(document, buffer, limits.step, heartbeat)) {
    if (!SendFrame(agent, buffer.data(), static_cast<size_t>(got), After(limits.step))) return Unsent(agent, reason);
    Heartbeat(heartbeat);
  }
  if (got < 0) {
    reason = std::strerror(errno);
    return Outcome::kUnreadable;  // the agent drops the unfinished document
  }
  if (!SendFrame(agent, nullptr, 0, After(limits.step))) return Unsent(agent, reason);
  Heartbeat(heartbeat);
  std::string reply;
  if (!ReceiveLine(agent, reply, kMaxHeaderFrame, After(limits.answer))) {
    return errno == ETIMEDOUT ? Outcome::kTimedOut : Outcome::kLost;
  }
  return ParseReply(reply, reason) ? Outcome::kStored : Outcome::kRefused;
}

// WARNING: the scheduler logs it at its default level, where the user is
// sent for the reason a job was held.
int Hold(const std::string& why) {
  Report("WARNING", "Inkseal: " + why + "; the job is held until you log in");
  return kBackendHold;
}

// The hand-over as the job's owner, in the watched child.
int HandOver(const Account& owner, int document, const std::string& job, const std::string& title,
             const TimeLimits& limits, int heartbeat) {
  const std::string& user = owner.name;
  std::string problem;
  if (!BecomeAccount(owner, problem)) {
    Report("ERROR", "Inkseal: could not act as " + user + ": " + problem);
    return kBackendFailed;
  }
  if (::geteuid() != owner.uid) {
    Report("WARNING", "Inkseal: the backend runs as uid " + std::to_string(::geteuid()) +
                          ", not as root, so it reaches only that user's own desktop session;"
                          " install it with mode 0700");
  }
  // The first piece before the agent: a filter in front of the backend
  // (Ghostscript turning PostScript into PDF) may take longer to start
  // than the agent waits between two frames.
  std::vector<char> buffer(kMaxFrame);
  const ssize_t got = ReadChunk(document, buffer, limits.step, heartbeat);
  if (got < 0) {
    Report("ERROR", "Inkseal: could not read the document: " + std::string(std::strerror(errno)));
    return kBackendFailed;
  }
  const std::string noSession = "no desktop session for " + user;
  std::fputs("STATE: +connecting-to-device\n", stderr);
  Descriptor agent;
  uid_t stranger = 0;
  const Reach reach = ConnectToAgent(owner.uid, limits.step, agent, stranger);
  std::fputs("STATE: -connecting-to-device\n", stderr);
  if (reach == Reach::kStranger) {
    return Hold("the socket of " + user + "'s desktop session is served by uid " + std::to_string(stranger) +
                ", not by " + user);
  }
  if (reach == Reach::kNoAgent) return Hold(noSession);
  Heartbeat(heartbeat);

  Report("INFO", "Inkseal: handing the document to " + user + "'s desktop session");
  std::string reason;
  switch (SendJob(agent.get(), document, buffer, got, user, job, title, limits, heartbeat, reason)) {
    case Outcome::kStored:
      Report("INFO", "Inkseal: the document is with " + user + "'s desktop session");
      return kBackendOk;
    case Outcome::kRefused:
      Report("ERROR", "Inkseal: the desktop session could not take the document: " + reason);
      return kBackendFailed;
    case Outcome::kUnreadable:
      Report("ERROR", "Inkseal: could not read the document: " + reason);
      return kBackendFailed;
    case Outcome::kTimedOut:
      return Hold(user + "'s desktop session did not answer in time");
    case Outcome::kLost:
      break;
  }
  // The agent went away before it had stored the document: as if it had
  // not been running, so the next agent of the user gets the job.
  return Hold(noSession);
}

int Run(int argc, char** argv) {
  if (argc == 1) {
    std::fputs(kDeviceLine, stdout);
    return kBackendOk;
  }
  if (argc < 6 || argc > 7) {
    std::fprintf(stderr, "Usage: %s job-id user title copies options [file]\n", argv[0]);
    return kBackendFailed;
  }
  const std::string job = argv[1], user = argv[2], title = argv[3];
  // The scheduler's own spool file, opened before the switch to the owner.
  Descriptor file(argc == 7 ? ::open(argv[6], O_RDONLY | O_CLOEXEC) : -1);
  if (argc == 7 && !file.valid()) {
    Report("ERROR", "Inkseal: could not open the document: " + std::string(std::strerror(errno)));
    return kBackendFailed;
  }
  const int document = argc == 7 ? file.get() : STDIN_FILENO;

  Account owner;
  if (!FindAccount(user, owner)) {
    Report("ERROR", "Inkseal: there is no user " + user + " on this system");
    return kBackendFailed;
  }
  const TimeLimits limits = ReadTimeLimits();
  // Each step in the child is bounded by one of the two limits, so a child
  // silent for both together has been stopped.
  const ChildResult child = RunWatched(
      [&](int heartbeat) { return HandOver(owner, document, job, title, limits, heartbeat); },
      limits.step + limits.answer);
  switch (child.end) {
    case ChildEnd::kExited:
      return child.status;
    case ChildEnd::kSilent:
      return Hold(user + "'s desktop session did not answer in time");
    case ChildEnd::kSignalled:
      return Hold("the hand-over to " + user + "'s desktop session was ended by signal " +
                  std::to_string(child.status));
    case ChildEnd::kNotStarted:
      break;
  }
  errno = child.status;
  return Hold("the hand-over to " + user + "'s desktop session could not start: " + std::strerror(errno));
}

}  // namespace
}  // namespace inkseal::printer

int main(int argc, char** argv) { return inkseal::printer::Run(argc, argv); }
