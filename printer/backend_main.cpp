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
#include <string>
#include <vector>

#include "platform/unique_fd_posix.h"
#include "printer/agent_client.h"
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

using Descriptor = platform::UniqueFd;

void Report(const char* kind, const std::string& text) { std::fprintf(stderr, "%s: %s\n", kind, text.c_str()); }

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
