// One run of Ferrowend on a spooled document, as the printer driver starts
// it: the document's path as its command line, and the two things a driver
// may hand on, an environment variable that names the file for its word
// (uploader/delivery_outcome.h) and an inherited descriptor, the job's lock.
#pragma once

#include <optional>
#include <string>

#include "printer/spool.h"
#include "uploader/delivery_outcome.h"

namespace inkseal::printer {

constexpr char kUploaderName[] = "Ferrowend";

// Runs uploader on job while it holds lock, waits for it and returns its
// word (none: it wrote none, or could not be started).  quietly: as a retry
// of the agent's own (kQuietRetryVariable).
std::optional<Delivery> RunUploader(const std::string& uploader, const SpooledJob& job, int lock, bool quietly);

}  // namespace inkseal::printer
