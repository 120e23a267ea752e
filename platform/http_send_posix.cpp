// The POSIX transport's sending side: the transfer's set-up, the request
// head, and the body, read straight from the caller's buffer or, for a body
// source, by the source into curl's own buffer.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <limits>
#include <utility>

#include "platform/http_request_posix.h"
#include "platform/last_error.h"
#include "text/utf.h"

namespace inkseal::platform {

namespace {

std::string FileBytes(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The administrator's authorities, trusted besides the system's.  Naming a
// file replaces only libcurl's default bundle, so where libcurl also has a
// default folder (Debian's /etc/ssl/certs) the system's authorities stay.  A
// libcurl built with a bundle and no folder would lose them: there the
// bundle and the file are handed over together.  A file that cannot be read
// adds nothing, and the system's authorities still decide.
void TrustAuthorities(CURL* easy, const std::string& authorityFile) {
  char* defaultFolder = nullptr;
  char* defaultBundle = nullptr;
  curl_easy_getinfo(easy, CURLINFO_CAPATH, &defaultFolder);
  curl_easy_getinfo(easy, CURLINFO_CAINFO, &defaultBundle);
  if (defaultFolder != nullptr || defaultBundle == nullptr) {
    curl_easy_setopt(easy, CURLOPT_CAINFO, authorityFile.c_str());
    return;
  }
  std::string both = FileBytes(defaultBundle);
  both += "\n";
  both += FileBytes(authorityFile.c_str());
  curl_blob blob{both.data(), both.size(), CURL_BLOB_COPY};
  curl_easy_setopt(easy, CURLOPT_CAINFO_BLOB, &blob);
}

constexpr long kUploadBufferBytes = 1 << 20;
// While the last of the body drains from the socket nothing wakes the pump:
// it looks again after this long, then after twice as long each time.
constexpr long kFirstDrainPollMs = 1;

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

// Keeps the connection's socket, whose send queue tells when the body has
// left the machine.
int OnSocketOpened(void* context, curl_socket_t socket, curlsocktype purpose) {
  if (purpose == CURLSOCKTYPE_IPCXN) static_cast<HttpRequestState*>(context)->socket = socket;
  return CURL_SOCKOPT_OK;
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

// curl keeps its own copies of the strings: the proxy and its credentials
// serve this transfer only and are dropped here.
void ConfigureProxy(HttpRequestState& request, CURL* easy) {
  // Without a proxy of the desktop's, curl reads http_proxy, https_proxy
  // and no_proxy itself.
  request.transferProxy = std::exchange(request.proxy, std::string());
  if (!request.transferProxy.empty()) {
    curl_easy_setopt(easy, CURLOPT_PROXY, request.transferProxy.c_str());
    curl_easy_setopt(easy, CURLOPT_NOPROXY, request.proxyBypass.c_str());
    if (!request.proxyUser.empty()) {
      curl_easy_setopt(easy, CURLOPT_PROXYUSERNAME, request.proxyUser.c_str());
      curl_easy_setopt(easy, CURLOPT_PROXYPASSWORD, request.proxyPassword.c_str());
      curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
    } else {
      // No credentials from the desktop: the user's Kerberos ticket, as
      // browsers offer it, should the proxy ask for Negotiate.
      curl_easy_setopt(easy, CURLOPT_PROXYUSERPWD, ":");
      curl_easy_setopt(easy, CURLOPT_PROXYAUTH, CURLAUTH_NEGOTIATE);
    }
  }
  std::fill(request.proxyPassword.begin(), request.proxyPassword.end(), '\0');
  request.proxyPassword.clear();
  request.proxyUser.clear();
  request.proxyBypass.clear();
}

void ChooseMethod(HttpRequestState& request, CURL* easy) {
  const bool hasBody = request.announcedLength > 0;
  const auto length = static_cast<curl_off_t>(request.announcedLength);
  if (request.verb == Utf16ToUtf8(kHttpVerbPost)) {
    curl_easy_setopt(easy, CURLOPT_POST, 1L);
    curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, length);
    if (!hasBody) curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
  } else if (request.verb == Utf16ToUtf8(kHttpVerbPut)) {
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
  if (!BuildWireHeaders(request, request.verb == Utf16ToUtf8(kHttpVerbPost))) return false;

  const HttpSessionState& session = *request.session;
  curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(easy, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, request.wireHeaders.get());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, session.connectTimeoutMs);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, request.verifyPeer ? 1L : 0L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, request.verifyHost ? 2L : 0L);
  if (!request.authorityFile.empty()) TrustAuthorities(easy, request.authorityFile);

  ConfigureProxy(request, easy);
  curl_easy_setopt(easy, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, OnHeaderLine);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, &request);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, OnBodyPiece);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, &request);
  curl_easy_setopt(easy, CURLOPT_READFUNCTION, OnBodyWanted);
  curl_easy_setopt(easy, CURLOPT_READDATA, &request);
  curl_easy_setopt(easy, CURLOPT_SEEKFUNCTION, OnBodyRewind);
  curl_easy_setopt(easy, CURLOPT_SEEKDATA, &request);
  curl_easy_setopt(easy, CURLOPT_SOCKOPTFUNCTION, OnSocketOpened);
  curl_easy_setopt(easy, CURLOPT_SOCKOPTDATA, &request);
  curl_easy_setopt(easy, CURLOPT_UPLOAD_BUFFERSIZE, kUploadBufferBytes);
  ChooseMethod(request, easy);
  return true;
}

void ResetTransfer(HttpRequestState& request) {
  if (request.inMulti) curl_multi_remove_handle(request.multi.get(), request.easy.get());
  request.inMulti = false;
  request.transferProxy.clear();
  request.done = false;
  request.result = CURLE_OK;
  request.headerOverflow = false;
  request.socket = CURL_SOCKET_BAD;
  request.hasDeadline = false;
  request.lastMotion = HttpTransferMotion();
  request.lastMotionAt = request.lastSampleAt = std::chrono::steady_clock::now();
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
  request.finalBlock.clear();
  request.finalComplete = false;
  request.pending.clear();
  request.pendingOffset = 0;
}

// curl has taken the last byte of the body; it still has to send what its
// buffer holds, and the kernel what the socket's queue holds.  Only then
// has the request left the machine and the wait for the response begins
// (a slow link takes long for the last MiB).  The response may also come
// first.  The pump's stall limit ends a queue that stops moving.
void AwaitBodyLeft(HttpRequestState& request) {
  PumpUntil(request, [&] {
    if (request.finalComplete) return true;
    curl_off_t sent = 0;
    curl_easy_getinfo(request.easy.get(), CURLINFO_SIZE_UPLOAD_T, &sent);
    return static_cast<uint64_t>(sent) >= request.announcedLength && QueuedSendBytes(request) == 0;
  }, kFirstDrainPollMs);
}

}  // namespace

void Resume(HttpRequestState& request) {
  if (!request.readPaused) return;
  request.readPaused = false;
  curl_easy_pause(request.easy.get(), CURLPAUSE_CONT);
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
  if (request.served == request.announcedLength) AwaitBodyLeft(request);
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
  if (!request.done) AwaitBodyLeft(request);
  if (TransferFailed(request)) return FailWithTransferError(request);
  return true;
}

}  // namespace inkseal::platform
