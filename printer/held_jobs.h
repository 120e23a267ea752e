// Releasing the jobs the backend held while the user had no agent running.
#pragma once

#include <string>

namespace inkseal::printer {

// A job the backend held is one the scheduler had started and then put on
// hold without a time ("indefinite"); only such jobs are released, so a job
// the user held before it was printed stays held.  The scheduler does not
// keep the backend's message with a held job, so the message cannot tell.
constexpr char kBackendHoldUntil[] = "indefinite";

// Asks the CUPS server (cupsServer(): $CUPS_SERVER, client.conf, the local
// socket) to release the calling user's held Inkseal jobs.  Returns how
// many were released; problems go to standard error.
int ReleaseHeldJobs(const std::string& user);

}  // namespace inkseal::printer
