// The HTTP transport on POSIX: one libcurl transfer per attempt, driven step
// by step through a multi handle so that the WinHTTP-shaped calls keep their
// order on the wire (head on send, body on write, response on receive, body
// pieces on read).  curl is told to add nothing the caller did not ask for
// beyond Host and User-Agent, and the request body is read straight from the
// caller's buffer or, for a body source, by the source into curl's own.
#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include "text/utf.h"
#include "platform/codepage.h"
#include "platform/http_transport.h"
#include "platform/last_error.h"

namespace inkseal::platform {

namespace {

constexpr uint32_t kHttpErrorAutodetectionFailed = 12180;
constexpr long kMaxRedirects = 10;              // WinHTTP's default
constexpr long kLowSpeedBytesPerSecond = 1;     // "no progress at all"
constexpr long kUploadBufferBytes = 1 << 20;
constexpr long kPollMs = 1000;
constexpr char kCrLf[] = "\r\n";

struct EasyCloser {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiCloser {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListCloser {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, EasyCloser>;
using Multi = std::unique_ptr<CURLM, MultiCloser>;
using HeaderList = std::unique_ptr<curl_slist, ListCloser>;

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

// The header name of a "Name: value" line, without blanks.
std::string_view HeaderName(std::string_view line) {
  std::string_view name = line.substr(0, std::min(line.find(':'), line.size()));
  while (!name.empty() && (name.back() == ' ' || name.back() == '\t')) name.remove_suffix(1);
  return name;
}

bool SameHeaderName(std::string_view line, std::string_view name) {
  const std::string_view own = HeaderName(line);
  return own.size() == name.size() && StartsWithIgnoringCase(own, name);
}

uint32_t WinHttpErrorFor(CURLcode code) {
  switch (code) {
    case CURLE_URL_MALFORMAT:
      return kHttpErrorInvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:  // a refused redirect; a reply that is not HTTP is told apart by the caller
    case CURLE_TOO_MANY_REDIRECTS:
      return kHttpErrorRedirectFailed;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kHttpErrorNameNotResolved;
    case CURLE_COULDNT_CONNECT:
    case CURLE_PROXY:
      return kHttpErrorCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
      return kHttpErrorTimeout;
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

}  // namespace

struct HttpSessionState {
  std::string userAgent;
  long connectTimeoutMs = 0;
  long lowSpeedSeconds = 0;  // 0: no limit
};

struct HttpConnectionState {
  const HttpSessionState* session = nullptr;
  std::string host;
  uint16_t port = 0;
};

struct HttpRequestState {
  // Set up when the request is opened.
  const HttpSessionState* session = nullptr;
  std::string verb;
  std::string url;
  std::string hostField;  // host, and the port unless it is the scheme's own
  bool secure = false;
  Easy easy;
  Multi multi;

  // Set up before sending.
  std::vector<std::string> headerLines;  // the caller's, in order
  bool verifyPeer = true;
  bool verifyHost = true;
  bool followRedirects = true;
  uint32_t maxHeaderBytes = 0;  // 0: no limit
  std::string proxy;
  std::string proxyBypass;

  // One transfer (one attempt).
  HeaderList wireHeaders;
  bool inMulti = false;
  bool done = false;
  CURLcode result = CURLE_OK;
  bool headerOverflow = false;
  bool hasDeadline = false;
  std::chrono::steady_clock::time_point deadline;

  // The request body: announced by the caller's Content-Length line,
  // served from the caller's buffer as curl asks for it.
  uint64_t announcedLength = 0;
  const uint8_t* body = nullptr;  // the latest piece handed over
  uint64_t bodyBase = 0;          // offset of that piece in the body
  uint64_t bodyEnd = 0;           // bytes of the body handed over so far
  uint64_t served = 0;
  bool bodyClosed = false;
  bool readPaused = false;
  HttpBodySource* source = nullptr;  // read from directly when set
  bool sourceFailed = false;
  uint32_t sourceError = 0;

  // The response: the current header block, the final one, body pieces.
  std::string currentBlock;
  long currentStatus = 0;
  bool currentHasLocation = false;
  std::string finalBlock;
  bool finalComplete = false;
  std::string pending;
  size_t pendingOffset = 0;

  size_t PendingSize() const { return pending.size() - pendingOffset; }
};

void HttpSessionCloser::operator()(HttpSessionState* session) const { delete session; }
void HttpConnectionCloser::operator()(HttpConnectionState* connection) const { delete connection; }
void HttpRequestCloser::operator()(HttpRequestState* request) const {
  if (request->inMulti) curl_multi_remove_handle(request->multi.get(), request->easy.get());
  delete request;
}

namespace {

// curl calls, on the pump's thread.

size_t OnHeaderLine(char* data, size_t size, size_t count, void* context) {
  auto& request = *static_cast<HttpRequestState*>(context);
  const size_t length = size * count;
  std::string_view line(data, length);
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.remove_suffix(1);

  if (request.maxHeaderBytes != 0 && request.currentBlock.size() + length > request.maxHeaderBytes) {
    request.headerOverflow = true;
    return 0;  // ends the transfer
  }
  if (StartsWithIgnoringCase(line, "HTTP/")) {
    request.currentBlock.clear();
    request.currentHasLocation = false;
    const size_t space = line.find(' ');
    request.currentStatus = space == std::string_view::npos ? 0 : std::atol(std::string(line.substr(space + 1, 3)).c_str());
  }
  if (!line.empty()) {
    if (SameHeaderName(line, "Location") && line.size() > HeaderName(line).size() + 1) {
      request.currentHasLocation = true;
    }
    request.currentBlock.append(line).append(kCrLf);
    return length;
  }

  // The empty line ends a block: it is the final one unless an interim
  // (1xx) response or a redirect that curl is about to follow.
  request.currentBlock.append(kCrLf);
  const bool interim = request.currentStatus >= 100 && request.currentStatus < 200;
  const bool followed = request.followRedirects && request.currentStatus >= 300 &&
                        request.currentStatus < 400 && request.currentHasLocation;
  if (!interim && !followed) {
    request.finalBlock = request.currentBlock;
    request.finalComplete = true;
  }
  return length;
}

size_t OnBodyPiece(char* data, size_t size, size_t count, void* context) {
  auto& request = *static_cast<HttpRequestState*>(context);
  const size_t length = size * count;
  if (request.finalComplete) {
    if (request.pendingOffset == request.pending.size()) {
      request.pending.clear();
      request.pendingOffset = 0;
    }
    request.pending.append(data, length);
  }
  return length;
}

// Straight from the source into curl's own buffer: no piece of the body is
// held anywhere else.
size_t BodyFromSource(HttpRequestState& request, char* buffer, size_t capacity) {
  size_t count = 0;
  if (!request.source->ReadPiece(reinterpret_cast<uint8_t*>(buffer), capacity, count)) {
    request.sourceFailed = true;
    request.sourceError = LastError();
    return CURL_READFUNC_ABORT;
  }
  // A source that ends before the announced length would leave the server
  // waiting for the rest.
  if (count == 0) return CURL_READFUNC_ABORT;
  request.served += count;
  return count;
}

size_t OnBodyWanted(char* buffer, size_t size, size_t count, void* context) {
  auto& request = *static_cast<HttpRequestState*>(context);
  const uint64_t remaining = request.announcedLength - request.served;
  if (remaining == 0) return 0;
  if (request.source != nullptr) {
    return BodyFromSource(request, buffer, static_cast<size_t>(std::min<uint64_t>(size * count, remaining)));
  }
  const uint64_t handedOver = request.bodyEnd - request.served;
  if (handedOver == 0) {
    // No more data will come: the announced length cannot be kept, and a
    // short body would leave the server waiting, so give up the request.
    if (request.bodyClosed) return CURL_READFUNC_ABORT;
    request.readPaused = true;
    return CURL_READFUNC_PAUSE;
  }
  const size_t piece = static_cast<size_t>(std::min<uint64_t>({size * count, handedOver, remaining}));
  std::memcpy(buffer, request.body + (request.served - request.bodyBase), piece);
  request.served += piece;
  return piece;
}

int OnBodyRewind(void* context, curl_off_t offset, int origin) {
  auto& request = *static_cast<HttpRequestState*>(context);
  if (request.source != nullptr) {
    if (origin != SEEK_SET || offset != 0) return CURL_SEEKFUNC_CANTSEEK;
    request.source->Rewind();
    request.served = 0;
    return CURL_SEEKFUNC_OK;
  }
  if (origin != SEEK_SET || offset < 0 || static_cast<uint64_t>(offset) < request.bodyBase ||
      static_cast<uint64_t>(offset) > request.bodyEnd) {
    return CURL_SEEKFUNC_CANTSEEK;
  }
  request.served = static_cast<uint64_t>(offset);
  return CURL_SEEKFUNC_OK;
}

// The transfer loop.

template <typename Predicate>
void PumpUntil(HttpRequestState& request, Predicate reached) {
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
    if (request.hasDeadline && std::chrono::steady_clock::now() >= request.deadline) {
      request.done = true;
      request.result = CURLE_OPERATION_TIMEDOUT;
      return;
    }
    curl_multi_poll(request.multi.get(), nullptr, 0, kPollMs, nullptr);
  }
}

bool TransferFailed(const HttpRequestState& request) {
  return request.done && request.result != CURLE_OK;
}

bool FailWithTransferError(const HttpRequestState& request) {
  if (request.headerOverflow) return Fail(kHttpErrorHeaderSizeOverflow);
  if (request.result == CURLE_UNSUPPORTED_PROTOCOL) {
    // No status line at all: the reply was not HTTP (WinHTTP's 12152),
    // not a redirect refused for its scheme.
    long status = 0;
    curl_easy_getinfo(request.easy.get(), CURLINFO_RESPONSE_CODE, &status);
    if (status == 0) return Fail(kHttpErrorInvalidServerResponse);
  }
  return Fail(WinHttpErrorFor(request.result));
}

// The Content-Length the caller announced, when there is one.
bool AnnouncedLength(const std::vector<std::string>& lines, uint64_t& length) {
  for (const std::string& line : lines) {
    if (!SameHeaderName(line, "Content-Length")) continue;
    std::string_view value = std::string_view(line).substr(line.find(':') + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (value.empty()) return false;
    uint64_t parsed = 0;
    for (char c : value) {
      if (c < '0' || c > '9' || parsed > (std::numeric_limits<uint64_t>::max() - 9) / 10) return false;
      parsed = parsed * 10 + static_cast<uint64_t>(c - '0');
    }
    length = parsed;
    return true;
  }
  return false;
}

bool HasHeader(const std::vector<std::string>& lines, std::string_view name) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& line) { return SameHeaderName(line, name); });
}

// The head WinHTTP sends: the caller's lines, then User-Agent, Host and
// Connection unless the caller gave them (curl moves Host to the top, where
// HTTP/1.1 recommends it).  "Name:" lines keep curl from adding its own
// Accept, Expect and (for POST) Content-Type lines.
bool BuildWireHeaders(HttpRequestState& request, bool post) {
  std::vector<std::string> lines = request.headerLines;
  if (!HasHeader(lines, "User-Agent")) lines.push_back("User-Agent: " + request.session->userAgent);
  if (!HasHeader(lines, "Host")) lines.push_back("Host: " + request.hostField);
  if (!HasHeader(lines, "Connection")) lines.push_back("Connection: Keep-Alive");
  for (const char* suppressed : {"Accept", "Expect"}) {
    if (!HasHeader(lines, suppressed)) lines.push_back(std::string(suppressed) + ":");
  }
  if (post && !HasHeader(lines, "Content-Type")) lines.push_back("Content-Type:");
  curl_slist* list = nullptr;
  for (const std::string& line : lines) {
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (grown == nullptr) {
      curl_slist_free_all(list);
      return false;
    }
    list = grown;
  }
  request.wireHeaders.reset(list);
  return true;
}

void ChooseMethod(HttpRequestState& request, CURL* easy) {
  const bool hasBody = request.announcedLength > 0;
  const auto length = static_cast<curl_off_t>(request.announcedLength);
  if (request.verb == "POST") {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, length);
    if (!hasBody) curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
  } else if (request.verb == "PUT") {
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, length);
  } else if (hasBody) {
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, length);
    curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.verb.c_str());
  } else {
    curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
  }
}

bool ConfigureTransfer(HttpRequestState& request) {
  CURL* easy = request.easy.get();
  curl_easy_reset(easy);
  uint64_t announced = 0;
  request.announcedLength = AnnouncedLength(request.headerLines, announced) ? announced : 0;
  if (!BuildWireHeaders(request, request.verb == "POST")) return false;

  const HttpSessionState& session = *request.session;
  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request.wireHeaders.get());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, session.connectTimeoutMs);
  if (session.lowSpeedSeconds > 0) {
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, kLowSpeedBytesPerSecond);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, session.lowSpeedSeconds);
  }
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, request.verifyPeer ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, request.verifyHost ? 2L : 0L);

  // Redirects: never from https down to http, as WinHTTP's default policy.
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, request.followRedirects ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, request.secure ? "https" : "http,https");

  if (!request.proxy.empty()) {
    curl_easy_setopt(easy, CURLOPT_PROXY, request.proxy.c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, request.proxyBypass.c_str());
  }
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeaderLine);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &request);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBodyPiece);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &request);
  curl_easy_setopt(easy, CURLOPT_READFUNCTION, OnBodyWanted);
  curl_easy_setopt(easy, CURLOPT_READDATA, &request);
  curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, OnBodyRewind);
  curl_easy_setopt(easy, CURLOPT_SEEKDATA, &request);
  curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
  ChooseMethod(request, easy);
  return true;
}

void ResetTransfer(HttpRequestState& request) {
  if (request.inMulti) curl_multi_remove_handle(request.multi.get(), request.easy.get());
  request.inMulti = false;
  request.done = false;
  request.result = CURLE_OK;
  request.headerOverflow = false;
  request.hasDeadline = false;
  request.announcedLength = 0;
  request.body = nullptr;
  request.bodyBase = 0;
  request.bodyEnd = 0;
  request.served = 0;
  request.bodyClosed = false;
  request.readPaused = false;
  request.source = nullptr;
  request.sourceFailed = false;
  request.sourceError = 0;
  request.currentBlock.clear();
  request.currentStatus = 0;
  request.currentHasLocation = false;
  request.finalBlock.clear();
  request.finalComplete = false;
  request.pending.clear();
  request.pendingOffset = 0;
}

void Resume(HttpRequestState& request) {
  if (!request.readPaused) return;
  request.readPaused = false;
  curl_easy_pause(request.easy.get(), CURLPAUSE_CONT);
}

// Non-empty lines of a CR LF separated text.
void LinesOf(const std::u16string& text, std::vector<std::string>& lines) {
  const std::string all = Utf16ToUtf8(text);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find_first_of("\r\n", start);
    if (end == std::string::npos) end = all.size();
    if (end > start) lines.push_back(all.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace

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
  const int stallMs = std::max(sendMs, receiveMs);
  session.lowSpeedSeconds = stallMs <= 0 ? 0 : std::max(1, (stallMs + 999) / 1000);
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
  if (ignoreFlags & (kHttpIgnoreUnknownCa | kHttpIgnoreCertDateInvalid)) request.verifyPeer = false;
  if (ignoreFlags & kHttpIgnoreCertNameInvalid) request.verifyHost = false;
  return true;
}

bool HttpAddRequestHeaders(HttpRequestState& request, const std::u16string& lines) {
  std::vector<std::string> added;
  LinesOf(lines, added);
  for (std::string& line : added) {
    const std::string name(HeaderName(line));
    auto& existing = request.headerLines;
    existing.erase(std::remove_if(existing.begin(), existing.end(),
                                  [&](const std::string& old) { return SameHeaderName(old, name); }),
                   existing.end());
  }
  request.headerLines.insert(request.headerLines.end(), added.begin(), added.end());
  return true;
}

bool HttpDisableRedirects(HttpRequestState& request) {
  request.followRedirects = false;
  return true;
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

bool HttpGetUserProxyConfig(HttpUserProxyConfig& config) {
  // No per-user Internet settings here: the session's default proxy
  // handling (http_proxy, https_proxy, no_proxy) applies.
  config = HttpUserProxyConfig();
  return true;
}

bool HttpGetProxyForUrl(HttpSessionState&, const std::u16string&, const HttpAutoProxyOptions&,
                        HttpProxyInfo&) {
  return Fail(kHttpErrorAutodetectionFailed);
}

bool HttpSetProxy(HttpRequestState& request, const HttpProxyInfo& info) {
  // A WinHTTP proxy list may name several; the first is used.
  std::string list = Utf16ToUtf8(info.proxy);
  request.proxy = list.substr(0, list.find_first_of("; "));
  std::string bypass = Utf16ToUtf8(info.proxyBypass);
  std::replace(bypass.begin(), bypass.end(), ';', ',');
  request.proxyBypass = bypass;
  return true;
}

bool HttpSendRequest(HttpRequestState& request) {
  ResetTransfer(request);
  if (!ConfigureTransfer(request)) return Fail(kHttpErrorOutOfHandles);
  if (curl_multi_add_handle(request.multi.get(), request.easy.get()) != CURLM_OK) {
    return Fail(kHttpErrorInternal);
  }
  request.inMulti = true;
  // Until the head is out (or the server has had its say).
  PumpUntil(request, [&] {
    long headSize = 0;
    curl_easy_getinfo(request.easy.get(), CURLINFO_REQUEST_SIZE, &headSize);
    return headSize > 0 || request.finalComplete;
  });
  if (TransferFailed(request)) return FailWithTransferError(request);
  return true;
}

bool HttpWriteData(HttpRequestState& request, const void* data, uint32_t length, uint32_t& written) {
  written = 0;
  if (!request.inMulti) return Fail(kHttpErrorIncorrectHandleState);
  if (length == 0) return true;
  if (request.announcedLength == 0) {
    // Without a Content-Length line the server could not tell where the
    // body ends; sending it would corrupt the exchange.
    return Fail(kHttpErrorIncorrectHandleState);
  }
  const uint64_t start = request.bodyEnd;
  request.body = static_cast<const uint8_t*>(data);
  request.bodyBase = start;
  request.bodyEnd = start + length;
  Resume(request);
  const uint64_t wanted = std::min(request.bodyEnd, request.announcedLength);
  PumpUntil(request, [&] { return request.served >= wanted || request.finalComplete; });
  written = static_cast<uint32_t>(std::min<uint64_t>(request.served, request.bodyEnd) - start);
  if (TransferFailed(request)) return FailWithTransferError(request);
  return true;
}

bool HttpWriteBody(HttpRequestState& request, HttpBodySource& source, bool& sourceFailed) {
  sourceFailed = false;
  if (!request.inMulti) return Fail(kHttpErrorIncorrectHandleState);
  if (request.bodyEnd > 0) return Fail(kHttpErrorIncorrectHandleState);  // pieces were handed over
  source.Rewind();
  request.source = &source;
  Resume(request);
  PumpUntil(request, [&] { return request.served >= request.announcedLength || request.finalComplete; });
  if (request.sourceFailed) {
    sourceFailed = true;
    return Fail(request.sourceError);
  }
  if (TransferFailed(request)) return FailWithTransferError(request);
  return true;
}

bool HttpReceiveResponse(HttpRequestState& request) {
  if (!request.inMulti) return Fail(kHttpErrorIncorrectHandleState);
  request.bodyClosed = true;
  Resume(request);
  PumpUntil(request, [&] { return request.finalComplete; });
  if (request.finalComplete) return true;
  if (TransferFailed(request)) return FailWithTransferError(request);
  return Fail(kHttpErrorInvalidServerResponse);
}

bool HttpQueryRawHeaders(HttpRequestState& request, char16_t* buffer, uint32_t& lengthInBytes) {
  if (!request.finalComplete) return Fail(kHttpErrorIncorrectHandleState);
  const std::string& block = request.finalBlock;
  if (block.size() >= size_t(std::numeric_limits<int>::max() / 2)) return Fail(kHttpErrorInternal);
  // Header bytes outside ASCII are read in the ANSI code page, as WinHTTP does.
  const int units = MultiByteToWide(CodePage::Ansi, kPrecomposed, block.data(), static_cast<int>(block.size()), nullptr, 0);
  if (units <= 0) return Fail(kHttpErrorInvalidServerResponse);
  const uint32_t needed = static_cast<uint32_t>((units + 1) * sizeof(char16_t));
  if (buffer == nullptr || lengthInBytes < needed) {
    lengthInBytes = needed;
    return Fail(kErrorInsufficientBuffer);
  }
  MultiByteToWide(CodePage::Ansi, kPrecomposed, block.data(), static_cast<int>(block.size()), buffer, units);
  buffer[units] = u'\0';
  lengthInBytes = needed - sizeof(char16_t);  // as WinHTTP: without the terminator
  return true;
}

bool HttpQueryDataAvailable(HttpRequestState& request, uint32_t& available) {
  available = 0;
  if (!request.finalComplete) return Fail(kHttpErrorIncorrectHandleState);
  PumpUntil(request, [&] { return request.PendingSize() > 0; });
  if (request.PendingSize() > 0) {
    available = static_cast<uint32_t>(std::min<size_t>(request.PendingSize(), std::numeric_limits<uint32_t>::max()));
    return true;
  }
  if (TransferFailed(request)) return FailWithTransferError(request);
  return true;
}

bool HttpReadData(HttpRequestState& request, void* buffer, uint32_t count, uint32_t& read) {
  read = static_cast<uint32_t>(std::min<size_t>(count, request.PendingSize()));
  if (read == 0) return true;
  std::memcpy(buffer, request.pending.data() + request.pendingOffset, read);
  request.pendingOffset += read;
  if (request.pendingOffset == request.pending.size()) {
    request.pending.clear();
    request.pendingOffset = 0;
  }
  return true;
}

}  // namespace inkseal::platform
