#include "authenticator/service_endpoint.h"

#include "text/utf.h"
#include "platform/environment.h"

#ifndef INKSEAL_SERVICE_HOST
#error "INKSEAL_SERVICE_HOST must name the signature service's host"
#endif

namespace inkseal {
namespace {

constexpr char kBuiltInHost[] = INKSEAL_SERVICE_HOST;
constexpr char16_t kHostVariable[] = u"INKSEAL_SERVICE_HOST";
constexpr char16_t kScheme[] = u"https://";
constexpr char16_t kTokenPath[] = u"/api/v1/getpersonaltoken";

}  // namespace

std::u16string TokenEndpointUrl() {
  const std::u16string overridden = platform::EnvironmentVariable(kHostVariable);
  const std::u16string host = !overridden.empty() ? overridden : Utf8ToUtf16(kBuiltInHost);
  return kScheme + host + kTokenPath;
}

}  // namespace inkseal
