// One synchronous HTTP request/response exchange over the operating
// system's HTTP service.  A caller creates the client for one URL, attaches
// a body and header lines, calls Execute and reads the results.
//
//   WinHttpClient client(url, nullptr);
//   client.AttachBody(bytes, length);
//   client.SetExtraHeaders(u"Content-Length: 42\r\nContent-Type: ...\r\n");
//   if (!client.Execute(u"PUT", false)) Report(client.ErrorCode());
//
// Execute answers true once a response was received and read, whatever its
// HTTP status; false with ErrorCode() telling why.  A reply body over
// 16 MiB is cut there and fails the exchange (kErrorFileTooLarge).
//
// On https the server's certificate is checked against the system's
// authorities and certificateAuthorities, unless the owner has switched the
// check off with verifyCertificates; a failure is WinHTTP's
// kHttpErrorSecureFailure and nothing of the request is sent.  ErrorCode() is never
// reset and is meaningful only after false.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/http_transport.h"

namespace inkseal {

// Receives the share of the response body read so far, in percent.  Only
// called while the response announced a Content-Length.
using ProgressCallback = void (*)(double percent);

// A request body read piece by piece while it is sent (Rewind, then
// ReadPiece until it yields nothing).  A piece that cannot be produced (the
// source failed or changed) ends the exchange at once with the source's
// error, before the body is complete, so the server never receives a
// partial or mixed body as a whole request.
using RequestBody = platform::HttpBodySource;

class WinHttpClient {
 public:
  WinHttpClient(const std::u16string& url, ProgressCallback progress);
  ~WinHttpClient();
  WinHttpClient(const WinHttpClient&) = delete;
  WinHttpClient& operator=(const WinHttpClient&) = delete;

  // Keeps its own copy of the body.  False (and no body at all any more)
  // when data is null or the copy cannot be made.
  bool AttachBody(const void* data, uint32_t length);
  // A body produced piece by piece while it is sent, for one too large to
  // hold in memory: the client keeps no copy, only a piece at a time.  body
  // must outlive Execute; each attempt reads it again from its start.
  bool AttachBody(RequestBody& body);
  // Request header lines, CR LF separated, sent unchanged.  A body needs a
  // Content-Length line here: Execute announces no length of its own.
  bool SetExtraHeaders(const std::u16string& headers);
  // verb: GET, POST or PUT in any case.
  bool Execute(const std::u16string& verb, bool stopAtRedirect);

  std::u16string HeaderText() const { return headerText; }
  std::u16string ContentText() const { return contentText; }
  std::u16string BrowserUrl() const { return browserUrl; }
  uint32_t ErrorCode() const { return errorCode; }
  // After false: a line naming the proxy that refused or could not be
  // reached, for the front of the failure's message; otherwise empty.
  std::u16string ProxyTroubleText() const { return proxyTroubleText; }

 private:
  friend class WinHttpClientProbe;  // lets tests look at the raw body buffer

  enum class BodyRead { Whole, Truncated, TooLarge, NoBuffer };
  enum class BodyWrite { NoBody, Written, WriteFailed, SourceFailed };

  // One request to one address, with its attempts.  True when an attempt
  // completed: result then holds Execute's answer, or location is where a
  // redirect sends the request next.
  bool RunHop(const platform::HttpUrlParts& parts, const char16_t* verb, bool checkPage,
              bool stopAtRedirect, bool& result, std::u16string& location);
  // True when the attempt completed; false when another attempt is due.
  bool RunAttempt(platform::HttpRequestState& request, bool checkPage, bool stopAtRedirect,
                  bool& result, std::u16string& location);
  // Bounds the next wait for the response by the time left until deadline;
  // false (last error: time-out) when none is left.
  bool LimitWait(platform::HttpRequestState& request, std::chrono::steady_clock::time_point deadline);
  // True when the response is a redirect with somewhere to go.
  bool FollowsElsewhere(platform::HttpRequestState& request, std::u16string& location);
  BodyWrite WriteBody(platform::HttpRequestState& request);
  void SelectProxy(platform::HttpRequestState& request);
  void ReadHeaderFields(platform::HttpRequestState& request);
  BodyRead ReadBody(platform::HttpRequestState& request, std::chrono::steady_clock::time_point deadline);
  void DecodeBody();
  void ReportProgress(uint32_t received) const;
  void RecordLastError();
  void RecordProxyTrouble(platform::HttpRequestState& request);

  platform::HttpSession sessionHandle;

 public:
  // Set by the owner before Execute, from what its administrator decided.
  // False overlooks an unknown authority, a wrong host name and an
  // out-of-date certificate.
  bool verifyCertificates = true;
  std::u16string certificateAuthorities;  // PEM file, besides the system's

 private:
  std::u16string url;
  std::u16string headerText;
  std::u16string contentText;
  std::u16string charset;
  std::u16string browserUrl;
  std::unique_ptr<uint8_t[]> bodyBytes;
  uint32_t bodyLength = 0;
  ProgressCallback onProgress = nullptr;
  uint32_t contentLength = 0;
  std::unique_ptr<uint8_t[]> requestData;
  uint32_t requestDataLength = 0;
  RequestBody* requestBody = nullptr;  // not owned; instead of requestData
  std::u16string extraHeaders;
  // What the current hop of a redirected request sends.
  std::u16string hopHeaders;
  bool hopSendsBody = true;
  uint32_t redirectStatus = 0;
  bool waitCutByDeadline = false;
  uint32_t securityFlags = 0;  // as the platform reports them for the last request  // the last wait was bounded by the response deadline
  uint32_t errorCode = 0;
  std::u16string proxyTroubleText;  // of the last failed attempt
  const std::u16string userAgent;
  const int32_t resolveTimeout;
  const int32_t connectTimeout;
  const int32_t sendTimeout;
  const int32_t receiveTimeout;
};

}  // namespace inkseal
