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
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd_posix.h"
#include "printer/agent_client.h"
#include "printer/agent_link.h"
#include "printer/backend_message.h"
#include "printer/hand_over_clock.h"
#include "printer/job_owner.h"
#include "printer/printable_line.h"
#include "printer/watched_child.h"

namespace inkseal::printer {
namespace {

// CUPS' backend exit codes (backend(7)).
constexpr int kBackendOk = 0;
constexpr int kBackendFailed = 1;
constexpr int kBackendHold = 3;

constexpr char kDeviceLine[] = "direct inkseal:/ \"Inkseal\" \"Inkseal signature service\"\n";

using Descriptor = platform::UniqueFd;

// Every line about a job carries the product's name, so that an
// administrator can pick Inkseal's out of the scheduler's log.
void Report(Prefix prefix, const std::string& text) { Say(prefix, "Inkseal: " + text); }

std::string Seconds(std::chrono::milliseconds span) { return std::to_string((span.count() + 999) / 1000) + " s"; }

// WARNING: the scheduler logs it at its default level, where the user is
// sent for the reason a job was held.
int Hold(const std::string& why) {
  Report(Prefix::kWarning, why + "; the job is held until you log in");
  return kBackendHold;
}

// What the hand-over needs from the root parent.  user is the account's name
// as it may be shown.
struct Job {
  Account owner;
  std::string user, id, title;
  int document;
  std::optional<std::uint64_t> size;
  TimeLimits limits;
};

// The hand-over as the job's owner, in the watched child.
int HandOver(const Job& job, int heartbeat) {
  const std::string& user = job.user;
  std::string problem;
  if (!BecomeAccount(job.owner, problem)) {
    Report(Prefix::kError, "could not act as " + user + ": " + problem);
    return kBackendFailed;
  }
  if (::geteuid() != job.owner.uid) {
    Report(Prefix::kWarning, "the backend runs as uid " + std::to_string(::geteuid()) +
                                 ", not as root, so it reaches only that user's own desktop session;"
                                 " install it with mode 0700");
  }
  // The first piece before the agent: a filter in front of the backend
  // (Ghostscript turning PostScript into PDF) may take longer to start
  // than the agent waits between two frames.  Its time is not the agent's,
  // so the hand-over's clock starts only once the piece is in hand.
  std::vector<char> buffer(kMaxFrame);
  const ssize_t got = ReadChunk(job.document, buffer, job.limits.step, heartbeat);
  if (got < 0) {
    Report(Prefix::kError, "could not read the document: " + std::string(std::strerror(errno)));
    return kBackendFailed;
  }
  StartTotal(heartbeat);
  HandOverClock clock(job.limits, job.size);
  const std::string noSession = "no desktop session for " + user;
  Say(Prefix::kState, "+connecting-to-device");
  Descriptor agent;
  uid_t stranger = 0;
  const Reach reach = ConnectToAgent(job.owner.uid, job.limits.step, agent, stranger);
  Say(Prefix::kState, "-connecting-to-device");
  if (reach == Reach::kStranger) {
    return Hold("the socket of " + user + "'s desktop session is served by uid " + std::to_string(stranger) +
                ", not by " + user);
  }
  if (reach == Reach::kNoAgent) return Hold(noSession);
  Heartbeat(heartbeat);

  Report(Prefix::kInfo, "handing the document to " + user + "'s desktop session");
  std::string reason;
  switch (SendJob(agent.get(), job.document, buffer, got, job.owner.name, job.id, job.title, clock, heartbeat,
                  reason)) {
    case Outcome::kStored:
      Report(Prefix::kInfo, "the document is with " + user + "'s desktop session");
      return kBackendOk;
    case Outcome::kRefused:
      Report(Prefix::kError, "the desktop session could not take the document: " + reason);
      return kBackendFailed;
    case Outcome::kUnreadable:
      Report(Prefix::kError, "could not read the document: " + reason);
      return kBackendFailed;
    case Outcome::kTimedOut:
      return Hold(user + "'s desktop session did not answer in time");
    case Outcome::kTooSlow:
      return Hold("the agent read the document too slowly: " + user + "'s desktop session had not taken it within the " +
                  Seconds(clock.allowance()) + " allowed");
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
    Say(Prefix::kError, "Usage: " + PrintableLine(argv[0]) + " job-id user title copies options [file]");
    return kBackendFailed;
  }
  Job job{{}, PrintableLine(argv[2]), argv[1], argv[3], STDIN_FILENO, std::nullopt, ReadTimeLimits()};
  // The scheduler's own spool file, opened before the switch to the owner.
  Descriptor file(argc == 7 ? ::open(argv[6], O_RDONLY | O_CLOEXEC) : -1);
  if (argc == 7 && !file.valid()) {
    Report(Prefix::kError, "could not open the document: " + std::string(std::strerror(errno)));
    return kBackendFailed;
  }
  if (argc == 7) job.document = file.get();
  job.size = DocumentSize(job.document);

  if (!FindAccount(argv[2], job.owner)) {
    Report(Prefix::kError, "there is no user " + job.user + " on this system");
    return kBackendFailed;
  }
  const std::string& user = job.user;
  const TimeLimits& limits = job.limits;
  // Each step in the child is bounded by one of the two limits, so a child
  // silent for both together has been stopped.  The child keeps to the
  // hand-over's allowance itself; the same again is its last chance to say so.
  const std::chrono::milliseconds silence = limits.step + limits.answer;
  const std::chrono::milliseconds total = HandOverAllowance(limits, job.size) + silence;
  const ChildResult child = RunWatched([&](int heartbeat) { return HandOver(job, heartbeat); }, silence, total);
  switch (child.end) {
    case ChildEnd::kExited:
      return child.status;
    case ChildEnd::kSilent:
      return Hold(user + "'s desktop session did not answer in time");
    case ChildEnd::kOverTime:
      return Hold("the hand-over to " + user + "'s desktop session took longer than the " + Seconds(total) +
                  " allowed");
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
