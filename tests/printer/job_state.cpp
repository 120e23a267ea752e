// Test helper: prints the state of one job of the CUPS server in
// $CUPS_SERVER, as "<job-state>\n<job-hold-until>\n<user>\n" (lpstat cannot
// tell a held job from a pending one).
#include <cups/cups.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: job_state <job-id>\n");
    return 2;
  }
  static const char* const kWanted[] = {"job-state", "job-hold-until", "job-originating-user-name"};
  ipp_t* request = ippNewRequest(IPP_OP_GET_JOB_ATTRIBUTES);
  const std::string uri = std::string("ipp://localhost/jobs/") + argv[1];
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "job-uri", nullptr, uri.c_str());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", 3, nullptr, kWanted);
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
  if (response == nullptr || ippGetStatusCode(response) > IPP_STATUS_OK_EVENTS_COMPLETE) {
    std::fprintf(stderr, "job_state: %s\n", cupsLastErrorString());
    ippDelete(response);
    return 1;
  }
  ipp_attribute_t* state = ippFindAttribute(response, "job-state", IPP_TAG_ENUM);
  ipp_attribute_t* hold = ippFindAttribute(response, "job-hold-until", IPP_TAG_ZERO);
  ipp_attribute_t* user = ippFindAttribute(response, "job-originating-user-name", IPP_TAG_ZERO);
  std::printf("%s\n%s\n%s\n", state ? ippEnumString("job-state", ippGetInteger(state, 0)) : "unknown",
              hold ? ippGetString(hold, 0, nullptr) : "", user ? ippGetString(user, 0, nullptr) : "");
  ippDelete(response);
  return 0;
}
