// The HTTP transport on Windows: WinHTTP itself, synchronous.
#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "platform/http_transport.h"

namespace inkseal::platform {

struct HttpSessionState {
  HINTERNET handle;
};
struct HttpConnectionState {
  HINTERNET handle;
};
struct HttpRequestState {
  HINTERNET handle;
  bool headersAdded = false;
};

void HttpSessionCloser::operator()(HttpSessionState* session) const {
  WinHttpCloseHandle(session->handle);
  delete session;
}
void HttpConnectionCloser::operator()(HttpConnectionState* connection) const {
  WinHttpCloseHandle(connection->handle);
  delete connection;
}
void HttpRequestCloser::operator()(HttpRequestState* request) const {
  WinHttpCloseHandle(request->handle);
  delete request;
}

namespace {

constexpr size_t kBodyPieceBytes = 256 * 1024;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

std::u16string Copy(const wchar_t* text) {
  return text == nullptr ? std::u16string() : std::u16string(reinterpret_cast<const char16_t*>(text));
}

// A string WinHTTP allocated: copied, then released with GlobalFree.
std::u16string TakeGlobal(LPWSTR text) {
  std::u16string copy = Copy(text);
  if (text != nullptr) GlobalFree(text);
  return copy;
}

// A writable, zero-terminated copy for the records that want LPWSTR.
std::vector<wchar_t> Writable(const std::u16string& text) {
  std::vector<wchar_t> copy(text.begin(), text.end());
  copy.push_back(L'\0');
  return copy;
}

// Wraps a fresh WinHTTP handle; the handle is closed again when the
// wrapper itself cannot be allocated.
template <typename Handle, typename State>
Handle Wrap(HINTERNET raw) {
  if (raw == nullptr) return nullptr;
  State* state = new (std::nothrow) State{raw};
  if (state == nullptr) {
    WinHttpCloseHandle(raw);
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  }
  return Handle(state);
}

// Wine's WinHTTP passes some socket errors through as they are, where
// Windows reports its own numbers; one failure should read the same.
bool Normalised(bool ok) {
  if (ok) return true;
  switch (::GetLastError()) {
    case WSAETIMEDOUT:
      ::SetLastError(ERROR_WINHTTP_TIMEOUT);
      break;
    case WSAECONNRESET:
    case WSAECONNABORTED:
      ::SetLastError(ERROR_WINHTTP_CONNECTION_ERROR);
      break;
    case WSAECONNREFUSED:
      ::SetLastError(ERROR_WINHTTP_CANNOT_CONNECT);
      break;
    default:
      break;
  }
  return false;
}

bool SetDwordOption(HINTERNET handle, DWORD option, DWORD value) {
  return WinHttpSetOption(handle, option, &value, sizeof value) != FALSE;
}

}  // namespace

HttpSession HttpOpenSession(const std::u16string& userAgent) {
  return Wrap<HttpSession, HttpSessionState>(WinHttpOpen(
      Wide(userAgent), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
}

// Wine waits for the response head with the receive-response time-out alone,
// and its default is no limit: a server that accepts the request and then
// stays silent held the caller for good.  Windows ends that wait with the
// receive time-out (its own 90 s response limit is only checked as data
// arrives), so the same limit on both is the receive time-out.
bool HttpSetTimeouts(HttpSessionState& session, int resolveMs, int connectMs, int sendMs, int receiveMs) {
  if (WinHttpSetTimeouts(session.handle, resolveMs, connectMs, sendMs, receiveMs) == FALSE) return false;
  DWORD responseMs = static_cast<DWORD>(receiveMs);
  return WinHttpSetOption(session.handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseMs,
                          sizeof responseMs) != FALSE;
}

bool HttpCrackUrl(const std::u16string& url, HttpUrlParts& parts) {
  wchar_t host[kHttpHostCapacity] = {};
  wchar_t path[kHttpPathCapacity] = {};
  URL_COMPONENTS components = {};
  components.dwStructSize = sizeof components;
  components.dwSchemeLength = 1;
  components.lpszHostName = host;
  components.dwHostNameLength = kHttpHostCapacity;
  components.lpszUrlPath = path;
  components.dwUrlPathLength = kHttpPathCapacity;
  if (!WinHttpCrackUrl(Wide(url), static_cast<DWORD>(url.size()), 0, &components)) return false;
  parts.scheme = static_cast<HttpScheme>(components.nScheme);
  parts.host = Copy(host);
  parts.port = components.nPort;
  parts.path = Copy(path);
  return true;
}

HttpConnection HttpConnect(HttpSessionState& session, const std::u16string& host, uint16_t port) {
  return Wrap<HttpConnection, HttpConnectionState>(WinHttpConnect(session.handle, Wide(host), port, 0));
}

HttpRequest HttpOpenRequest(HttpConnectionState& connection, const std::u16string& verb,
                            const std::u16string& path, bool secure) {
  return Wrap<HttpRequest, HttpRequestState>(
      WinHttpOpenRequest(connection.handle, Wide(verb), Wide(path), nullptr, WINHTTP_NO_REFERER,
                         WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
}

bool HttpSetSecurityFlags(HttpRequestState& request, uint32_t ignoreFlags) {
  return SetDwordOption(request.handle, WINHTTP_OPTION_SECURITY_FLAGS, ignoreFlags);
}

bool HttpQuerySecurityFlags(HttpRequestState& request, uint32_t& flags) {
  DWORD value = 0;
  DWORD size = sizeof value;
  const bool ok = WinHttpQueryOption(request.handle, WINHTTP_OPTION_SECURITY_FLAGS, &value, &size) != FALSE;
  flags = value;
  return ok;
}

bool HttpTrustAuthorities(HttpRequestState&, const std::u16string&) {
  return true;  // the machine's certificate store is where authorities are added
}

bool HttpAddRequestHeaders(HttpRequestState& request, const std::u16string& lines) {
  // Coalescing the same lines into a request that already carries them would
  // send "Content-Length: 5; 5" on a retry: later additions replace instead.
  const DWORD flags = request.headersAdded ? WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE
                                           : WINHTTP_ADDREQ_FLAG_COALESCE_WITH_SEMICOLON;
  const bool added = WinHttpAddRequestHeaders(request.handle, Wide(lines), static_cast<DWORD>(lines.size()), flags) != FALSE;
  request.headersAdded = request.headersAdded || added;
  return added;
}

bool HttpDisableRedirects(HttpRequestState& request) {
  return SetDwordOption(request.handle, WINHTTP_OPTION_DISABLE_FEATURE, WINHTTP_DISABLE_REDIRECTS);
}

bool HttpSetMaxResponseHeaderSize(HttpRequestState& request, uint32_t bytes) {
  return SetDwordOption(request.handle, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, bytes);
}

bool HttpSetResponseTimeLimit(HttpRequestState& request, int milliseconds) {
  // Both the wait for the head (whose own default is 90 s, longer than the
  // session's receive time-out) and each later read.
  const DWORD limit = static_cast<DWORD>(milliseconds < 1 ? 1 : milliseconds);
  const bool head = SetDwordOption(request.handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, limit);
  const bool reads = SetDwordOption(request.handle, WINHTTP_OPTION_RECEIVE_TIMEOUT, limit);
  return head && reads;
}

bool HttpGetUserProxyConfig(HttpUserProxyConfig& config) {
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG raw = {};
  if (!WinHttpGetIEProxyConfigForCurrentUser(&raw)) return false;
  config.autoDetect = raw.fAutoDetect != FALSE;
  config.autoConfigUrl = TakeGlobal(raw.lpszAutoConfigUrl);
  config.proxy = TakeGlobal(raw.lpszProxy);
  config.proxyBypass = TakeGlobal(raw.lpszProxyBypass);
  return true;
}

bool HttpGetProxyForUrl(HttpSessionState& session, const std::u16string& url, const HttpAutoProxyOptions& options,
                        HttpProxyInfo& info) {
  WINHTTP_AUTOPROXY_OPTIONS raw = {};
  raw.dwFlags = options.flags;
  raw.dwAutoDetectFlags = options.autoDetectFlags;
  raw.lpszAutoConfigUrl = options.autoConfigUrl.empty() ? nullptr : Wide(options.autoConfigUrl);
  raw.lpvReserved = nullptr;
  raw.dwReserved = 0;
  raw.fAutoLogonIfChallenged = options.autoLogonIfChallenged ? TRUE : FALSE;
  WINHTTP_PROXY_INFO found = {};
  if (!WinHttpGetProxyForUrl(session.handle, Wide(url), &raw, &found)) return false;
  info.accessType = found.dwAccessType;
  info.proxy = TakeGlobal(found.lpszProxy);
  info.proxyBypass = TakeGlobal(found.lpszProxyBypass);
  return true;
}

bool HttpSetProxy(HttpRequestState& request, const HttpProxyInfo& info) {
  std::vector<wchar_t> proxy = Writable(info.proxy);
  std::vector<wchar_t> bypass = Writable(info.proxyBypass);
  WINHTTP_PROXY_INFO raw = {};
  raw.dwAccessType = info.accessType;
  raw.lpszProxy = proxy.data();
  raw.lpszProxyBypass = info.proxyBypass.empty() ? nullptr : bypass.data();
  return WinHttpSetOption(request.handle, WINHTTP_OPTION_PROXY, &raw, sizeof raw) != FALSE;
}

HttpProxyTrouble HttpQueryProxyTrouble(HttpRequestState&) { return HttpProxyTrouble(); }

bool HttpSendRequest(HttpRequestState& request) {
  return Normalised(
      WinHttpSendRequest(request.handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0) != FALSE);
}

bool HttpWriteData(HttpRequestState& request, const void* data, uint32_t length, uint32_t& written) {
  DWORD count = 0;
  const bool ok = Normalised(WinHttpWriteData(request.handle, data, length, &count) != FALSE);
  written = count;
  return ok;
}

bool HttpWriteBody(HttpRequestState& request, HttpBodySource& source, bool& sourceFailed) {
  sourceFailed = false;
  // WinHTTP takes the body in writes of its caller's buffer: one piece at a
  // time, small enough to stay in the processor's cache.
  std::unique_ptr<uint8_t[]> piece(new (std::nothrow) uint8_t[kBodyPieceBytes]);
  if (!piece) {
    sourceFailed = true;
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  source.Rewind();
  for (;;) {
    size_t count = 0;
    if (!source.ReadPiece(piece.get(), kBodyPieceBytes, count)) {
      sourceFailed = true;
      return false;
    }
    if (count == 0) return true;
    DWORD written = 0;
    if (!Normalised(WinHttpWriteData(request.handle, piece.get(), static_cast<DWORD>(count), &written) != FALSE)) {
      return false;
    }
  }
}

bool HttpReceiveResponse(HttpRequestState& request) {
  return Normalised(WinHttpReceiveResponse(request.handle, nullptr) != FALSE);
}

bool HttpQueryRawHeaders(HttpRequestState& request, char16_t* buffer, uint32_t& lengthInBytes) {
  DWORD length = lengthInBytes;
  const bool ok = WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_RAW_HEADERS_CRLF, WINHTTP_HEADER_NAME_BY_INDEX,
                                      buffer, &length, WINHTTP_NO_HEADER_INDEX) != FALSE;
  lengthInBytes = length;
  return ok;
}

bool HttpQueryDataAvailable(HttpRequestState& request, uint32_t& available) {
  DWORD count = 0;
  const bool ok = Normalised(WinHttpQueryDataAvailable(request.handle, &count) != FALSE);
  available = count;
  return ok;
}

bool HttpReadData(HttpRequestState& request, void* buffer, uint32_t count, uint32_t& read) {
  DWORD done = 0;
  const bool ok = Normalised(WinHttpReadData(request.handle, buffer, count, &done) != FALSE);
  read = done;
  return ok;
}

}  // namespace inkseal::platform
