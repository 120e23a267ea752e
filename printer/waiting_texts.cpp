#include "printer/waiting_texts.h"

#include "printer/waiting_policy.h"

namespace inkseal::printer {

const char kWaitingSummary[] = "Inkseal: a document waits";

std::string WaitingText(const JobRecord& record, int64_t now) {
  const std::string title = "\"" + record.title + "\"";
  std::string text;
  switch (record.state) {
    case JobState::kNew:
    case JobState::kUnreachable:
      text = title + " could not reach Inkseal. It waits and will be sent when Inkseal can be reached.";
      break;
    case JobState::kNotSent:
      text = title + " was not sent. It waits: press Send now, or it goes when you next log in.";
      break;
    case JobState::kRefused:
      text = title + " was refused by Inkseal. It waits: sign in again if Inkseal asked you to, then press Send"
             " now; or Discard it.";
      break;
    case JobState::kUncertain:
      text = title + " may have reached Inkseal, but no answer came. Look there first: Send now sends it"
             " again, Discard forgets it.";
      break;
  }
  if (record.firstWait != 0 && now - record.firstWait >= kReminderInterval) {
    text = "Still waiting after more than a week. " + text;
  }
  return text;
}

}  // namespace inkseal::printer
