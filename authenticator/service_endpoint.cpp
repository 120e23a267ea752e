#include "authenticator/service_endpoint.h"

#include <cstdlib>

#include "common/utf.h"

#ifndef INKSEAL_SERVICE_HOST
#error "INKSEAL_SERVICE_HOST must name the signature service's host"
#endif

namespace inkseal {
namespace {

constexpr char kBuiltInHost[] = INKSEAL_SERVICE_HOST;
constexpr char kHostVariable[] = "INKSEAL_SERVICE_HOST";
constexpr char16_t kScheme[] = u"https://";
constexpr char16_t kTokenPath[] = u"/api/v1/getpersonaltoken";

}  // namespace

std::u16string TokenEndpointUrl() {
  const char* overridden = std::getenv(kHostVariable);
  const char* host = (overridden != nullptr && *overridden != '\0') ? overridden : kBuiltInHost;
  return kScheme + Utf8ToUtf16(host) + kTokenPath;
}

}  // namespace inkseal
