#include "platform/proxy_address_posix.h"

#include <algorithm>
#include <string_view>

namespace inkseal::platform {

namespace {

// Longer entries are no proxy address anyone configures.
constexpr size_t kMaxProxyUriLength = 1024;

// GIO's scheme names and what libcurl calls the same.  GIO hands SOCKS
// proxies the host name to resolve (GNOME's "socks" tries version 5
// first), which curl does with socks5h.
struct SchemeName {
  std::string_view gio;
  std::string_view curl;
};
constexpr SchemeName kUsableSchemes[] = {
    {"http", "http"},       {"https", "https"},     {"socks", "socks5h"},
    {"socks5", "socks5h"},  {"socks4a", "socks4a"}, {"socks4", "socks4"},
};

constexpr std::string_view kSchemeSeparator = "://";
constexpr std::string_view kDirect = "direct://";

bool Printable(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

}  // namespace

std::string CurlProxyFor(const std::vector<std::string>& answers) {
  for (const std::string& answer : answers) {
    if (answer.size() > kMaxProxyUriLength || !Printable(answer)) continue;
    if (answer == kDirect) return std::string();
    const size_t separator = answer.find(kSchemeSeparator);
    if (separator == std::string::npos) continue;
    const std::string_view scheme = std::string_view(answer).substr(0, separator);
    for (const SchemeName& known : kUsableSchemes) {
      if (known.gio == scheme) return std::string(known.curl) + answer.substr(separator);
    }
  }
  return std::string();
}

ProxyAddress SplitProxyCredentials(const std::string& uri) {
  ProxyAddress address;
  const size_t separator = uri.find(kSchemeSeparator);
  const size_t authority = separator == std::string::npos ? 0 : separator + kSchemeSeparator.size();
  const size_t end = std::min(uri.find('/', authority), uri.size());
  const size_t at = uri.rfind('@', end);
  if (at == std::string::npos || at < authority) {
    address.uri = uri.substr(0, end);
    return address;
  }
  const std::string_view userInfo = std::string_view(uri).substr(authority, at - authority);
  const size_t colon = std::min(userInfo.find(':'), userInfo.size());
  address.user = PercentDecoded(userInfo.substr(0, colon));
  if (colon < userInfo.size()) address.password = PercentDecoded(userInfo.substr(colon + 1));
  address.uri = uri.substr(0, authority) + uri.substr(at + 1, end - at - 1);
  return address;
}

}  // namespace inkseal::platform
