#include "printer/waiting_policy.h"

#include <algorithm>

namespace inkseal::printer {

Step WaitingPolicy::NextStep(const JobRecord& record, const Occasion& occasion, bool sendNow, int64_t now) const {
  if (sendNow) return Step::kRun;
  switch (record.state) {
    case JobState::kNew:
      return Step::kRun;
    case JobState::kUnreachable:
      return occasion.agentStart || occasion.serviceMayBeBack || now >= record.nextTry ? Step::kCheckThenRun
                                                                                       : Step::kWait;
    case JobState::kNotSent:
      // A new session is a new chance to log in or to have fixed the settings.
      return occasion.agentStart ? Step::kRun : Step::kWait;
    case JobState::kUncertain:
    case JobState::kRefused:
      return Step::kWait;
  }
  return Step::kWait;
}

bool WaitingPolicy::AfterRun(JobRecord& record, std::optional<Delivery> word, int64_t now) const {
  switch (word.value_or(Delivery::kNotSent)) {
    case Delivery::kDelivered:
      return true;
    case Delivery::kUnreachable:
      StartWaiting(record, JobState::kUnreachable, now);
      break;
    case Delivery::kNotSent:
      StartWaiting(record, JobState::kNotSent, now);
      break;
    case Delivery::kUncertain:
      StartWaiting(record, JobState::kUncertain, now);
      break;
    case Delivery::kRefused:
      StartWaiting(record, JobState::kRefused, now);
      break;
  }
  return false;
}

void WaitingPolicy::AfterFailedCheck(JobRecord& record, int64_t now) const {
  StartWaiting(record, JobState::kUnreachable, now);
}

void WaitingPolicy::StartWaiting(JobRecord& record, JobState state, int64_t now) const {
  // Told once for each reason to wait: a different reason is news.
  if (record.state != state) record.toldAt = 0;
  record.state = state;
  ++record.attempts;
  if (record.firstWait == 0) record.firstWait = now;
  record.nextTry = state == JobState::kUnreachable ? now + BackOff(record.attempts) : 0;
}

int64_t WaitingPolicy::BackOff(int attempts) const {
  const int last = static_cast<int>(std::size(kRetrySteps)) - 1;
  const int64_t step = kRetrySteps[std::clamp(attempts - 1, 0, last)];
  return retryLimit > 0 ? std::min(step, retryLimit) : step;
}

bool WaitingPolicy::DueToTell(const JobRecord& record, int64_t now) {
  if (record.state == JobState::kNew) return false;
  return record.toldAt == 0 || now - record.toldAt >= kReminderInterval;
}

int64_t WaitingPolicy::NextLook(const JobRecord& record) {
  if (record.state == JobState::kNew) return 0;
  const int64_t reminder = record.toldAt == 0 ? 0 : record.toldAt + kReminderInterval;
  if (record.state != JobState::kUnreachable) return reminder;
  return reminder == 0 ? record.nextTry : std::min(reminder, record.nextTry);
}

}  // namespace inkseal::printer
