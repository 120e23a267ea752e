#include "authenticator/service_endpoint.h"

#include "common/loopback_host.h"
#include "platform/environment.h"
#include "text/utf.h"

#ifndef INKSEAL_SERVICE_HOST
#error "INKSEAL_SERVICE_HOST must name the signature service's host"
#endif

namespace inkseal {
namespace {

constexpr char kBuiltInHost[] = INKSEAL_SERVICE_HOST;
constexpr char16_t kScheme[] = u"https://";
constexpr char16_t kTokenPath[] = u"/api/v1/getpersonaltoken";

std::u16string ServiceHost() {
#ifdef INKSEAL_TEST_HOOKS
  // Even here the password goes to the built-in host or to this machine.
  const std::u16string overridden = platform::EnvironmentVariable(u"INKSEAL_SERVICE_HOST");
  if (IsLoopbackHost(overridden)) return overridden;
#endif
  return Utf8ToUtf16(kBuiltInHost);
}

}  // namespace

std::u16string TokenEndpointUrl() { return kScheme + ServiceHost() + kTokenPath; }

}  // namespace inkseal
