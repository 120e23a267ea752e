// URL splitting as WinHttpCrackUrl does it for the parts the client asks
// for: scheme, host, port and path (the path keeps its query).
#include <algorithm>

#include "platform/http_transport.h"
#include "platform/last_error.h"
#include "text/ascii_case.h"

namespace inkseal::platform {
namespace {

constexpr std::u16string_view kSchemeSeparator = u"://";
constexpr uint16_t kHttpPort = 80;
constexpr uint16_t kHttpsPort = 443;
constexpr uint32_t kHighestPort = 65535;

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

bool ParsePort(std::u16string_view digits, uint16_t& port) {
  if (digits.empty()) return false;
  uint32_t value = 0;
  for (char16_t c : digits) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c - u'0');
    if (value > kHighestPort) return false;
  }
  port = static_cast<uint16_t>(value);
  return true;
}

}  // namespace

bool HttpCrackUrl(const std::u16string& url, HttpUrlParts& parts) {
  const std::u16string_view text(url);
  const size_t schemeEnd = text.find(kSchemeSeparator);
  if (schemeEnd == std::u16string_view::npos || schemeEnd == 0) return Fail(kHttpErrorUnrecognizedScheme);
  const std::u16string_view scheme = text.substr(0, schemeEnd);
  HttpUrlParts result;
  if (EqualIgnoringAsciiCase(scheme, u"http")) {
    result.scheme = HttpScheme::Http;
    result.port = kHttpPort;
  } else if (EqualIgnoringAsciiCase(scheme, u"https")) {
    result.scheme = HttpScheme::Https;
    result.port = kHttpsPort;
  } else {
    return Fail(kHttpErrorUnrecognizedScheme);
  }

  const std::u16string_view rest = text.substr(schemeEnd + kSchemeSeparator.size());
  const size_t authorityEnd = std::min(rest.find_first_of(u"/?#"), rest.size());
  std::u16string_view authority = rest.substr(0, authorityEnd);
  std::u16string_view path = rest.substr(authorityEnd);
  path = path.substr(0, std::min(path.find(u'#'), path.size()));  // never sent

  const size_t userInfoEnd = authority.rfind(u'@');
  if (userInfoEnd != std::u16string_view::npos) authority.remove_prefix(userInfoEnd + 1);

  // A port follows the last colon, unless that colon is inside an IPv6 literal.
  std::u16string_view host = authority;
  const size_t colon = authority.rfind(u':');
  const size_t bracket = authority.rfind(u']');
  if (colon != std::u16string_view::npos && (bracket == std::u16string_view::npos || colon > bracket)) {
    host = authority.substr(0, colon);
    if (!ParsePort(authority.substr(colon + 1), result.port)) return Fail(kHttpErrorInvalidUrl);
  }
  if (host.empty()) return Fail(kHttpErrorInvalidUrl);
  // What does not fit the splitting buffers fails as WinHttpCrackUrl does.
  if (host.size() >= kHttpHostCapacity || path.size() >= kHttpPathCapacity) return Fail(kErrorInsufficientBuffer);

  result.host = host;
  result.path = path;
  parts = result;
  return true;
}

}  // namespace inkseal::platform
