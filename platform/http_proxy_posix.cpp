// The POSIX transport's proxy: the desktop's resolver decides for each
// attempt, as an automatic configuration does on Windows.  The client asks
// HttpGetProxyForUrl whenever an auto-configuration URL is set, so the
// user's configuration always names one: the resolver itself.  When the
// resolver names no proxy, curl's own handling of http_proxy, https_proxy
// and no_proxy applies, as it did before the desktop was asked.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <string_view>
#include <vector>

#include "platform/desktop_proxy_posix.h"
#include "platform/http_request_posix.h"
#include "platform/last_error.h"
#include "text/utf.h"

namespace inkseal::platform {

namespace {

constexpr char16_t kDesktopResolver[] = u"desktop-proxy-resolver:";

// A script that must be fetched, or a discovery on a slow network, may take
// a while; the dialog waiting on it must not freeze for longer.
constexpr std::chrono::milliseconds kLookupLimit(5000);

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

// The first of the resolver's answers that curl can use, in curl's words;
// empty when the first usable answer is to go direct, or there is none.
std::string FirstUsableProxy(const std::vector<std::string>& answers) {
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

// Takes the user name and password out of a proxy URI: curl gets them
// apart, and the address that may be named to the user holds none.
void TakeProxy(HttpRequestState& request, const std::string& uri) {
  request.proxyUser.clear();
  request.proxyPassword.clear();
  const size_t authority = uri.find(kSchemeSeparator) + kSchemeSeparator.size();
  const size_t end = std::min(uri.find('/', authority), uri.size());
  const size_t at = uri.rfind('@', end);
  if (at == std::string::npos || at < authority) {
    request.proxy = uri.substr(0, end);
    return;
  }
  const std::string_view userInfo = std::string_view(uri).substr(authority, at - authority);
  const size_t colon = std::min(userInfo.find(':'), userInfo.size());
  request.proxyUser = PercentDecoded(userInfo.substr(0, colon));
  if (colon < userInfo.size()) request.proxyPassword = PercentDecoded(userInfo.substr(colon + 1));
  request.proxy = uri.substr(0, authority) + uri.substr(at + 1, end - at - 1);
}

}  // namespace

bool HttpGetUserProxyConfig(HttpUserProxyConfig& config) {
  config = HttpUserProxyConfig();
  config.autoConfigUrl = kDesktopResolver;
  return true;
}

bool HttpGetProxyForUrl(HttpSessionState&, const std::u16string& url, const HttpAutoProxyOptions&,
                        HttpProxyInfo& info) {
  info = HttpProxyInfo();
  std::vector<std::string> answers;
  if (!AskDesktopForProxies(Utf16ToUtf8(url), kLookupLimit, answers)) {
    return Fail(kHttpErrorAutodetectionFailed);
  }
  const std::string proxy = FirstUsableProxy(answers);
  if (!proxy.empty()) {
    info.accessType = kHttpAccessTypeNamedProxy;
    info.proxy = Utf8ToUtf16(proxy);
  }
  return true;
}

bool HttpSetProxy(HttpRequestState& request, const HttpProxyInfo& info) {
  const std::string list = Utf16ToUtf8(info.proxy);
  if (list.find(kSchemeSeparator) != std::string::npos) {
    TakeProxy(request, list);  // one address, from the desktop's resolver
  } else {
    // A WinHTTP proxy list may name several; the first is used.
    request.proxy = list.substr(0, list.find_first_of("; "));
    request.proxyUser.clear();
    request.proxyPassword.clear();
  }
  std::string bypass = Utf16ToUtf8(info.proxyBypass);
  std::replace(bypass.begin(), bypass.end(), ';', ',');
  request.proxyBypass = bypass;
  return true;
}

HttpProxyTrouble HttpQueryProxyTrouble(HttpRequestState& request) {
  HttpProxyTrouble trouble;
  if (request.transferProxy.empty() || !TransferFailed(request)) return trouble;
  long connectStatus = 0;
  curl_easy_getinfo(request.easy.get(), CURLINFO_HTTP_CONNECTCODE, &connectStatus);
  // Some proxies (tinyproxy) turn down wrong credentials with 401 rather
  // than 407; a tunnel request is the proxy's alone to answer either way.
  if (connectStatus == 407 || connectStatus == 401) {
    trouble.kind = HttpProxyTroubleKind::SignInRequired;
  } else if (request.result == CURLE_COULDNT_CONNECT) {
    trouble.kind = HttpProxyTroubleKind::Unreachable;  // the proxy's own port; the tunnel fails otherwise
  } else {
    return trouble;
  }
  const std::string& proxy = request.transferProxy;
  const size_t separator = proxy.find(kSchemeSeparator);
  const size_t start = separator == std::string::npos ? 0 : separator + kSchemeSeparator.size();
  trouble.proxy = Utf8ToUtf16(proxy.substr(start));
  return trouble;
}

}  // namespace inkseal::platform
