// The POSIX transport's session, connection and request handles, their
// options, and the pump that drives a transfer.  curl is told to add nothing
// the caller did not ask for beyond Host and User-Agent.
#include <sys/ioctl.h>
#include <linux/sockios.h>

#include <algorithm>
#include <new>

#include "platform/http_request_posix.h"
#include "platform/last_error.h"
#include "text/ascii_case.h"
#include "text/utf.h"

namespace inkseal::platform {

namespace {

uint32_t WinHttpErrorFor(CURLcode code) {
  switch (code) {
    case CURLE_URL_MALFORMAT:
      return kHttpErrorInvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return kHttpErrorRedirectFailed;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kHttpErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT:
    case CURLE_PROXY:
      return kHttpErrorCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return kHttpErrorTimeout;
    // A certificate that is not trusted, not for this host, out of date, or
    // an authority file that cannot be read: synchronous WinHTTP reports
    // every one of them as a secure failure.
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
      return kHttpErrorSecureFailure;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
    case CURLE_ABORTED_BY_CALLBACK:
    case CURLE_READ_ERROR:
      return kHttpErrorConnectionError;
    case CURLE_GOT_NOTHING:  // closed without a word, as WinHTTP sees it
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_HTTP2_STREAM:
    case CURLE_BAD_CONTENT_ENCODING:
      return kHttpErrorInvalidServerResponse;
    default:
      return kHttpErrorInternal;
  }
}

bool InitialiseCurlOnce() {
  static const CURLcode initialised = curl_global_init(CURL_GLOBAL_DEFAULT);
  return initialised == CURLE_OK;
}

// How often the pump looks for motion: often enough for a limit of
// seconds, seldom enough to cost nothing while a large body streams.
constexpr std::chrono::milliseconds kMotionSampleInterval(100);

HttpTransferMotion MotionOf(HttpRequestState& request) {
  HttpTransferMotion motion;
  curl_easy_getinfo(request.easy.get(), CURLINFO_SIZE_UPLOAD_T, &motion.sent);
  curl_easy_getinfo(request.easy.get(), CURLINFO_SIZE_DOWNLOAD_T, &motion.received);
  motion.queued = QueuedSendBytes(request);
  return motion;
}

// True once nothing has moved for the session's stall limit.  Not before
// the connection is up: connecting has its own limit.
bool Stalled(HttpRequestState& request, std::chrono::steady_clock::time_point now) {
  if (request.session->stallMs <= 0 || now - request.lastSampleAt < kMotionSampleInterval) return false;
  request.lastSampleAt = now;
  curl_off_t connectedAfter = 0;
  curl_easy_getinfo(request.easy.get(), CURLINFO_PRETRANSFER_TIME_T, &connectedAfter);
  const HttpTransferMotion motion = MotionOf(request);
  if (connectedAfter == 0 || !(motion == request.lastMotion)) {
    request.lastMotion = motion;
    request.lastMotionAt = now;
    return false;
  }
  return now - request.lastMotionAt >= std::chrono::milliseconds(request.session->stallMs);
}

}  // namespace

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

std::string_view HeaderName(std::string_view line) {
  std::string_view name = line.substr(0, std::min(line.find(':'), line.size()));
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  return name;
}

bool SameHeaderName(std::string_view line, std::string_view name) {
  return EqualIgnoringAsciiCase(HeaderName(line), name);
}

int QueuedSendBytes(HttpRequestState& request) {
  int queued = 0;
  if (request.socket == CURL_SOCKET_BAD || ioctl(request.socket, SIOCOUTQ, &queued) != 0) return 0;
  return queued;
}

void PumpUntil(HttpRequestState& request, const std::function<bool()>& reached, long pollMs) {
  long sleepMs = std::min(pollMs, kHttpPollMs);
  while (!request.done && !reached()) {
    int running = 0;
    curl_multi_perform(request.multi.get(), &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(request.multi.get(), &queued)) {
      if (message->msg == CURLMSG_DONE) {
        request.done = true;
        request.result = message->data.result;
      }
    }
    if (request.done || reached()) return;
    const auto now = std::chrono::steady_clock::now();
    if ((request.hasDeadline && now >= request.deadline) || Stalled(request, now)) {
      request.done = true;
      request.result = CURLE_OPERATION_TIMEDOUT;
      return;
    }
    curl_multi_poll(request.multi.get(), nullptr, 0, static_cast<int>(sleepMs), nullptr);
    sleepMs = std::min(sleepMs * 2, kHttpPollMs);
  }
}

bool TransferFailed(const HttpRequestState& request) {
  return request.done && request.result != CURLE_OK;
}

bool FailWithTransferError(const HttpRequestState& request) {
  if (request.headerOverflow) return Fail(kHttpErrorHeaderSizeOverflow);
  if (request.result == CURLE_UNSUPPORTED_PROTOCOL) {
    // No status line at all: the reply was not HTTP (WinHTTP's 12152).
    long status = 0;
    curl_easy_getinfo(request.easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status == 0) return Fail(kHttpErrorInvalidServerResponse);
  }
  return Fail(WinHttpErrorFor(request.result));
}

void HttpSessionCloser::operator()(HttpSessionState* session) const { delete session; }
void HttpConnectionCloser::operator()(HttpConnectionState* connection) const { delete connection; }
void HttpRequestCloser::operator()(HttpRequestState* request) const {
  if (request->inMulti) curl_multi_remove_handle(request->multi.get(), request->easy.get());
  delete request;
}

HttpSession HttpOpenSession(const std::u16string& userAgent) {
  if (!InitialiseCurlOnce()) {
    SetLastError(kHttpErrorInternal);
    return nullptr;
  }
  HttpSession session(new (std::nothrow) HttpSessionState);
  if (!session) {
    SetLastError(kHttpErrorOutOfHandles);
    return nullptr;
  }
  session->userAgent = Utf16ToUtf8(userAgent);
  return session;
}

bool HttpSetTimeouts(HttpSessionState& session, int, int connectMs, int sendMs, int receiveMs) {
  // curl has no separate name resolution limit: the connect limit covers it.
  session.connectTimeoutMs = std::max(connectMs, 0);
  // Sending and receiving both end when nothing moves for this long.
  session.stallMs = std::max({sendMs, receiveMs, 0});
  return true;
}

HttpConnection HttpConnect(HttpSessionState& session, const std::u16string& host, uint16_t port) {
  HttpConnection connection(new (std::nothrow) HttpConnectionState);
  if (!connection) {
    SetLastError(kHttpErrorOutOfHandles);
    return nullptr;
  }
  connection->session = &session;
  connection->host = Utf16ToUtf8(host);
  connection->port = port;
  return connection;
}

HttpRequest HttpOpenRequest(HttpConnectionState& connection, const std::u16string& verb,
                            const std::u16string& path, bool secure) {
  HttpRequest request(new (std::nothrow) HttpRequestState);
  if (!request) {
    SetLastError(kHttpErrorOutOfHandles);
    return nullptr;
  }
  request->easy.reset(curl_easy_init());
  request->multi.reset(curl_multi_init());
  if (!request->easy || !request->multi) {
    SetLastError(kHttpErrorOutOfHandles);
    return nullptr;
  }
  request->session = connection.session;
  request->verb = Utf16ToUtf8(verb);
  request->secure = secure;
  std::string host = connection.host;
  if (host.find(':') != std::string::npos && host.front() != '[') host = "[" + host + "]";
  std::string target = Utf16ToUtf8(path);
  if (target.empty() || target.front() != '/') target.insert(0, "/");
  const uint16_t defaultPort = secure ? 443 : 80;
  request->hostField = connection.port == defaultPort ? host : host + ":" + std::to_string(connection.port);
  request->url = std::string(secure ? "https://" : "http://") + host + ":" +
                 std::to_string(connection.port) + target;
  return request;
}

bool HttpSetSecurityFlags(HttpRequestState& request, uint32_t ignoreFlags) {
  request.verifyPeer = (ignoreFlags & (kHttpIgnoreUnknownCa | kHttpIgnoreCertDateInvalid)) == 0;
  request.verifyHost = (ignoreFlags & kHttpIgnoreCertNameInvalid) == 0;
  return true;
}

bool HttpQuerySecurityFlags(HttpRequestState& request, uint32_t& flags) {
  flags = (request.verifyPeer ? 0 : kHttpIgnoreUnknownCa | kHttpIgnoreCertDateInvalid) |
          (request.verifyHost ? 0 : kHttpIgnoreCertNameInvalid);
  return true;
}

bool HttpTrustAuthorities(HttpRequestState& request, const std::u16string& pemFile) {
  request.authorityFile = Utf16ToUtf8(pemFile);
  return true;
}

bool HttpAddRequestHeaders(HttpRequestState& request, const std::u16string& lines) {
  // Non-empty lines of the CR LF separated text.
  std::vector<std::string> added;
  const std::string all = Utf16ToUtf8(lines);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find_first_of("\r\n", start);
    if (end == std::string::npos) end = all.size();
    if (end > start) added.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  for (const std::string& line : added) {
    const std::string name(HeaderName(line));
    auto& existing = request.headerLines;
    existing.erase(std::remove_if(existing.begin(), existing.end(),
                                  [&](const std::string& old) { return SameHeaderName(old, name); }),
                   existing.end());
  }
  request.headerLines.insert(request.headerLines.end(), added.begin(), added.end());
  return true;
}

bool HttpDisableRedirects(HttpRequestState&) {
  return true;  // curl is never asked to follow one: the client does
}

bool HttpSetMaxResponseHeaderSize(HttpRequestState& request, uint32_t bytes) {
  request.maxHeaderBytes = bytes;
  return true;
}

bool HttpSetResponseTimeLimit(HttpRequestState& request, int milliseconds) {
  request.hasDeadline = true;
  request.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
  return true;
}

}  // namespace inkseal::platform
