// What the agent knows about one job in its spool besides the document: a
// small text file beside it, replaced whole and on disk at every change, so
// that an agent killed at any moment finds the job as it last stood.
#pragma once

#include <cstdint>
#include <string>

namespace inkseal::printer {

enum class JobState {
  kNew,          // stored, not yet sent: sent as soon as its turn comes
  kUnreachable,  // the service could not be reached: tried again when it can
  kNotSent,      // stopped before sending (login cancelled, settings): waits for the user or the next login
  kUncertain,    // may have reached the service: waits for the user's word
  kRefused,      // the service said no (credentials, size): waits for the user's word
};

struct JobRecord {
  std::string title;      // the document's name as the user is shown it
  JobState state = JobState::kNew;
  int attempts = 0;       // uploader runs and failed reachability checks since it first waited
  int64_t firstWait = 0;  // when it started waiting (seconds since the epoch), 0 while it never did
  int64_t toldAt = 0;     // when the user was last told that it waits, 0 while never
  int64_t nextTry = 0;    // unreachable: the earliest automatic retry
};

std::string FormatJobRecord(const JobRecord& record);
// Unknown lines are skipped and missing ones keep their defaults, so a record
// of an older or newer agent still reads; false only for text that is no
// record at all (no title line).
bool ParseJobRecord(const std::string& text, JobRecord& record);

}  // namespace inkseal::printer
