// When a document in the spool goes (again), and what an uploader run or a
// failed reachability check makes of its record.  No clock or file here:
// times are passed in (seconds since the epoch), so the rules can be tested.
//
// A waiting document is never sent by the agent on its own when it may
// already be with the service (uncertain); one that could not reach the
// service is tried again only once the agent has found the service
// reachable, so a retry that would fail the same way shows the user
// nothing.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

#include "printer/job_record.h"
#include "uploader/delivery_outcome.h"

namespace inkseal::printer {

// Back-off after each failed try: 1, 5, 15 minutes, then hourly.
constexpr int64_t kRetrySteps[] = {60, 300, 900, 3600};
// A document still waiting this long is named to the user again.
constexpr int64_t kReminderInterval = 7 * 24 * 3600;

struct Occasion {
  bool agentStart = false;       // this agent's first look at the spool: the next login
  bool serviceMayBeBack = false; // the network changed, or a new print asks to go after the waiting ones
};

enum class Step { kWait, kCheckThenRun, kRun };

// What the user said about a waiting document.
enum class UserAnswer { kSendNow, kDiscard };

class WaitingPolicy {
 public:
  explicit WaitingPolicy(int64_t retryLimit = 0) : retryLimit(retryLimit) {}

  // sendNow: the user asked for this document.
  Step NextStep(const JobRecord& record, const Occasion& occasion, bool sendNow, int64_t now) const;
  // The uploader ended with word (none: it wrote nothing, so nothing was
  // sent).  True when the document is delivered and may go.
  bool AfterRun(JobRecord& record, std::optional<Delivery> word, int64_t now) const;
  // The agent's own check found the service unreachable before a run.
  void AfterFailedCheck(JobRecord& record, int64_t now) const;
  // Whether only the user's word moves it (no retry, no next login).
  static bool WaitsForTheUser(const JobRecord& record) {
    return record.state == JobState::kUncertain || record.state == JobState::kRefused;
  }
  // Whether the user is to be told (again) that the document waits.
  static bool DueToTell(const JobRecord& record, int64_t now);
  // The next moment the record needs a look without any event: its retry
  // or its reminder; 0 when only an event can move it.
  static int64_t NextLook(const JobRecord& record);

 private:
  void StartWaiting(JobRecord& record, JobState state, int64_t now) const;
  int64_t BackOff(int attempts) const;

  int64_t retryLimit;  // 0: no limit
};

}  // namespace inkseal::printer
