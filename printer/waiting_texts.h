// What the user is told about a document that waits.
#pragma once

#include <cstdint>
#include <string>

#include "printer/job_record.h"

namespace inkseal::printer {

extern const char kWaitingSummary[];

// The notification's text for record, now: why it waits and what happens
// next, with a word that it has waited a week when it has.
std::string WaitingText(const JobRecord& record, int64_t now);

}  // namespace inkseal::printer
