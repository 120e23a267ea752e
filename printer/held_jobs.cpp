#include "printer/held_jobs.h"

#include <cups/cups.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace inkseal::printer {
namespace {

constexpr char kPrinterUri[] = "ipp://localhost/printers/Inkseal";

struct HeldJob {
  int id = 0;
  ipp_jstate_t state = IPP_JSTATE_PENDING;
  std::string holdUntil;
  bool processed = false;  // the scheduler had started it (a backend held it)
};

// The user's unfinished jobs on the queue.
std::vector<HeldJob> UnfinishedJobs(const std::string& user) {
  static const char* const kWanted[] = {"job-id", "job-state", "job-hold-until", "time-at-processing"};
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOBS);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, kPrinterUri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user.c_str());
  ippAddBoolean(request, IPP_TAG_OPERATION, "my-jobs", 1);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                static_cast<int>(sizeof kWanted / sizeof kWanted[0]), nullptr, kWanted);
  std::vector<HeldJob> jobs;
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");  // frees request
  if (response == nullptr || ippGetStatusCode(response) > IPP_STATUS_OK_EVENTS_COMPLETE) {
    std::fprintf(stderr, "inkseal-agent: could not list the held jobs: %s\n", cupsLastErrorString());
    ippDelete(response);
    return jobs;
  }
  HeldJob current;
  const auto flush = [&] {
    if (current.id > 0) jobs.push_back(current);
    current = HeldJob();
  };
  for (ipp_attribute_t* a = ippFirstAttribute(response); a != nullptr; a = ippNextAttribute(response)) {
    const char* name = ippGetName(a);
    if (name == nullptr) {  // the separator between two jobs
      flush();
      continue;
    }
    if (std::strcmp(name, "job-id") == 0) {
      current.id = ippGetInteger(a, 0);
    } else if (std::strcmp(name, "job-state") == 0) {
      current.state = static_cast<ipp_jstate_t>(ippGetInteger(a, 0));
    } else if (std::strcmp(name, "job-hold-until") == 0 && ippGetString(a, 0, nullptr) != nullptr) {
      current.holdUntil = ippGetString(a, 0, nullptr);
    } else if (std::strcmp(name, "time-at-processing") == 0) {
      current.processed = ippGetValueTag(a) == IPP_TAG_INTEGER;
    }
  }
  flush();
  ippDelete(response);
  return jobs;
}

bool Release(int job, const std::string& user) {
  ipp_t* request = ippNewRequest(IPP_OP_RELEASE_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, kPrinterUri);
  ippAddInteger(request, IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", job);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, user.c_str());
  ippDelete(cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/jobs"));
  if (cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
    std::fprintf(stderr, "inkseal-agent: could not release job %d: %s\n", job, cupsLastErrorString());
    return false;
  }
  return true;
}

}  // namespace

int ReleaseHeldJobs(const std::string& user) {
  int released = 0;
  for (const HeldJob& job : UnfinishedJobs(user)) {
    if (job.state != IPP_JSTATE_HELD || job.holdUntil != kBackendHoldUntil || !job.processed) continue;
    if (Release(job.id, user)) ++released;
  }
  return released;
}

}  // namespace inkseal::printer
