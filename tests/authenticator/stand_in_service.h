// The stand-in signature service as the press tests see it: its address
// (from INKSEAL_TEST_SERVICE, set by with_stand_in_service.py), the requests
// it received, and canned replies queued for the next token request.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/certificate_trust.h"

namespace inkseal::testing {

struct ReceivedRequest {
  std::string method;
  std::string path;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The value of the first header of that name (any case); empty if none.
  std::string Header(const std::string& name) const;
};

class StandInService {
 public:
  // Empty when the test runs without the service.
  static std::string HostAndPort();

  // "https://host:port" + path.
  static std::u16string Url(const std::string& path);
  // Trust in the service's own authority, as Brantwick has it when the
  // settings file beside it names that authority.
  static CertificateTrust Trust();

  static void Reset();
  static void QueueReply(int status, const std::string& body);
  static std::vector<ReceivedRequest> Requests();
};

std::string Base64Encode(const std::string& bytes);
std::string Base64Decode(const std::string& text);

}  // namespace inkseal::testing
