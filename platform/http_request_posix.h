// What the POSIX transport keeps for a session, a connection and a request,
// and the steps its three parts share: http_session_posix.cpp (opening and
// options), http_send_posix.cpp (the request head and body) and
// http_receive_posix.cpp (the response).  One libcurl transfer per attempt,
// driven step by step through a multi handle so that the WinHTTP-shaped
// calls keep their order on the wire.
#pragma once

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http_transport.h"

namespace inkseal::platform {

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

struct HttpSessionState {
  std::string userAgent;
  long connectTimeoutMs = 0;
  int stallMs = 0;  // 0: no limit
};

struct HttpConnectionState {
  const HttpSessionState* session = nullptr;
  std::string host;
  uint16_t port = 0;
};

// What shows that a transfer is alive: bytes handed to the socket, bytes
// received, and the socket's send queue changing as the peer takes them.
struct HttpTransferMotion {
  curl_off_t sent = 0;
  curl_off_t received = 0;
  int queued = 0;
  bool operator==(const HttpTransferMotion& other) const {
    return sent == other.sent && received == other.received && queued == other.queued;
  }
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
  std::string authorityFile;  // trusted besides the system's store
  uint32_t maxHeaderBytes = 0;  // 0: no limit
  // The proxy of the next transfer only: each attempt asks afresh, so one
  // that finds no proxy goes without the last one's.
  std::string proxy;          // "scheme://host:port"; empty: the environment's
  std::string proxyBypass;
  std::string proxyUser;      // empty: Kerberos, should the proxy ask
  std::string proxyPassword;  // never shown, logged or put in a text

  // One transfer (one attempt).
  std::string transferProxy;  // the proxy it goes through, without credentials
  HeaderList wireHeaders;
  bool inMulti = false;
  bool done = false;
  CURLcode result = CURLE_OK;
  bool headerOverflow = false;
  curl_socket_t socket = CURL_SOCKET_BAD;  // the transfer's connection, once opened
  bool hasDeadline = false;
  std::chrono::steady_clock::time_point deadline;
  HttpTransferMotion lastMotion;
  std::chrono::steady_clock::time_point lastMotionAt;
  std::chrono::steady_clock::time_point lastSampleAt;

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
  std::string finalBlock;
  bool finalComplete = false;
  std::string pending;
  size_t pendingOffset = 0;

  size_t PendingSize() const { return pending.size() - pendingOffset; }
};

bool Fail(uint32_t code);

// The header name of a "Name: value" line, without blanks, and whether a
// line carries the given name (ignoring ASCII case).
std::string_view HeaderName(std::string_view line);
bool SameHeaderName(std::string_view line, std::string_view name);

// How long the pump sleeps at most while nothing happens on the socket.
constexpr long kHttpPollMs = 1000;

// Drives the transfer until reached() holds or the transfer ends: with the
// response deadline, or after the session's stall limit without any motion
// (HttpTransferMotion), as a time-out.  pollMs bounds the first sleep
// (each later one doubles up to kHttpPollMs), for waits that look at
// something the socket does not signal.
void PumpUntil(HttpRequestState& request, const std::function<bool()>& reached, long pollMs = kHttpPollMs);

// Bytes in the socket's send queue: not yet sent or not yet acknowledged.
int QueuedSendBytes(HttpRequestState& request);

// Lets curl ask for body bytes again after it was told to wait for them.
void Resume(HttpRequestState& request);

bool TransferFailed(const HttpRequestState& request);
// False, with the last error set to WinHTTP's number for how it failed.
bool FailWithTransferError(const HttpRequestState& request);

// curl's callbacks for the response (http_receive_posix.cpp).
size_t OnHeaderLine(char* data, size_t size, size_t count, void* context);
size_t OnBodyPiece(char* data, size_t size, size_t count, void* context);

}  // namespace inkseal::platform
