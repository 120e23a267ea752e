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
#include <utility>
#include <vector>

#include "platform/desktop_proxy_posix.h"
#include "platform/http_request_posix.h"
#include "platform/proxy_address_posix.h"
#include "platform/last_error.h"
#include "text/utf.h"

namespace inkseal::platform {

namespace {

constexpr char16_t kDesktopResolver[] = u"desktop-proxy-resolver:";

// A script that must be fetched, or a discovery on a slow network, may take
// a while; the dialog waiting on it must not freeze for longer.
constexpr std::chrono::milliseconds kLookupLimit(5000);

constexpr std::string_view kSchemeSeparator = "://";

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
  const std::string proxy = CurlProxyFor(answers);
  if (!proxy.empty()) {
    info.accessType = kHttpAccessTypeNamedProxy;
    info.proxy = Utf8ToUtf16(proxy);
  }
  return true;
}

bool HttpSetProxy(HttpRequestState& request, const HttpProxyInfo& info) {
  const std::string list = Utf16ToUtf8(info.proxy);
  if (list.find(kSchemeSeparator) != std::string::npos) {
    // One address, from the desktop's resolver.
    ProxyAddress address = SplitProxyCredentials(list);
    request.proxy = std::move(address.uri);
    request.proxyUser = std::move(address.user);
    request.proxyPassword = std::move(address.password);
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
