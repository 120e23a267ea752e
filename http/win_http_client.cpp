#include "http/win_http_client.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "http/header_fields.h"
#include "http/proxy_trouble_text.h"
#include "http/redirects.h"
#include "platform/codepage.h"
#include "platform/environment.h"
#include "platform/last_error.h"
#include "text/ascii_case.h"

namespace inkseal {

using namespace inkseal::platform;

namespace {

constexpr char16_t kUserAgent[] = u"WinHttpClient 1.0.9.9";
constexpr int32_t kResolveTimeoutMs = 0;  // no limit
constexpr int32_t kConnectTimeoutMs = 60000;
constexpr int32_t kSendTimeoutMs = 30000;
constexpr int32_t kReceiveTimeoutMs = 30000;

// All attempts run on one request handle: the platform may resend it.
constexpr int kMaxAttempts = 3;

constexpr size_t kFirstBodyCapacity = 10240;

// Neither program needs more than a few KiB of a reply: these bound what a
// hostile or broken server can make the client hold.  The body limit keeps
// the bytes and their decoded text (two bytes a character) together well
// under 100 MiB.
constexpr uint32_t kMaxResponseBodyBytes = 16u << 20;
constexpr uint32_t kMaxResponseHeaderBytes = 64u << 10;

// Once the request body is out, the whole response (head and body) must
// arrive within this time, however slowly it trickles in.
constexpr int32_t kResponseDeadlineMs = 180000;
int32_t ResponseDeadlineMs() {
#ifndef INKSEAL_TEST_HOOKS
  return kResponseDeadlineMs;
#else
  // Tests shorten the deadline rather than wait minutes for it.
  const std::u16string text = EnvironmentVariable(u"INKSEAL_TEST_RESPONSE_DEADLINE_MS");
  int64_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9' || value > kResponseDeadlineMs) return kResponseDeadlineMs;
    value = value * 10 + (c - u'0');
  }
  return value > 0 && value < kResponseDeadlineMs ? int32_t(value) : kResponseDeadlineMs;
#endif
}

constexpr const char16_t* kVerbs[] = {kHttpVerbGet, kHttpVerbPost, kHttpVerbPut};

constexpr char16_t kUtf8CharsetPrefix[] = u"utf-8";

// What https requests overlook when the administrator switched the check off.
constexpr uint32_t kIgnoredCertificateProblems =
    kHttpIgnoreUnknownCa | kHttpIgnoreCertNameInvalid | kHttpIgnoreCertDateInvalid;

// The verb as the request sends it (upper case), or null when unsupported.
const char16_t* CanonicalVerb(const std::u16string& verb) {
  for (const char16_t* known : kVerbs) {
    if (EqualIgnoringAsciiCase(verb, known)) return known;
  }
  return nullptr;
}

bool NamesUtf8(const std::u16string& charset) {
  const std::u16string_view prefix(kUtf8CharsetPrefix);
  return charset.size() >= prefix.size() &&
         EqualIgnoringAsciiCase(std::u16string_view(charset).substr(0, prefix.size()), prefix);
}

// Grows buffer (doubling capacity) until it holds needed bytes; the bytes
// already received move along.  False leaves buffer as it was.
bool MakeRoom(std::unique_ptr<uint8_t[]>& buffer, size_t& capacity, size_t received,
              size_t needed) {
  if (needed <= capacity) return true;
  size_t grown = capacity;
  while (grown < needed) grown *= 2;
  // Never beyond the limit (and its zero byte): doubling past it would
  // hold nearly twice what may be kept.
  grown = std::max(needed, std::min<size_t>(grown, size_t(kMaxResponseBodyBytes) + 1));
  std::unique_ptr<uint8_t[]> larger(new (std::nothrow) uint8_t[grown]());
  if (!larger) return false;
  std::memcpy(larger.get(), buffer.get(), received);
  buffer = std::move(larger);
  capacity = grown;
  return true;
}

}  // namespace

WinHttpClient::WinHttpClient(const std::u16string& url, ProgressCallback progress)
    : url(url),
      onProgress(progress),
      userAgent(kUserAgent),
      resolveTimeout(kResolveTimeoutMs),
      connectTimeout(kConnectTimeoutMs),
      sendTimeout(kSendTimeoutMs),
      receiveTimeout(kReceiveTimeoutMs) {}

WinHttpClient::~WinHttpClient() = default;

bool WinHttpClient::AttachBody(const void* data, uint32_t length) {
  if (data == nullptr) return false;
  requestData.reset();
  requestDataLength = 0;
  requestBody = nullptr;
  // One spare byte so that an empty body is still an attached body.
  requestData.reset(new (std::nothrow) uint8_t[size_t(length) + 1]);
  if (!requestData) return false;
  std::memcpy(requestData.get(), data, length);
  requestDataLength = length;
  return true;
}

bool WinHttpClient::AttachBody(RequestBody& body) {
  requestData.reset();
  requestDataLength = 0;
  requestBody = &body;
  return true;
}

bool WinHttpClient::SetExtraHeaders(const std::u16string& headers) {
  extraHeaders = headers;
  return true;
}

bool WinHttpClient::Execute(const std::u16string& verbText, bool stopAtRedirect) {
  if (url.empty()) {
    errorCode = kErrorPathNotFound;
    return false;
  }
  const char16_t* verb = CanonicalVerb(verbText);
  if (verb == nullptr) {
    errorCode = kErrorInvalidParameter;
    return false;
  }

  if (!sessionHandle) {
    sessionHandle = HttpOpenSession(userAgent);
    if (!sessionHandle) {
      RecordLastError();
      return false;
    }
  }
  HttpSetTimeouts(*sessionHandle, resolveTimeout, connectTimeout, sendTimeout, receiveTimeout);

  HttpUrlParts origin;
  if (!HttpCrackUrl(url, origin)) {
    RecordLastError();
    return false;
  }

  // Redirects are followed here rather than by the platform, so that the
  // caller's credentials stay with the origin and a body never goes along
  // with a verb that changed to GET.
  const bool checkPage = verb == kHttpVerbGet && !stopAtRedirect;
  std::u16string hopUrl = url;
  HttpUrlParts hop = origin;
  hopHeaders = extraHeaders;
  hopSendsBody = true;
  for (int hops = 0;; ++hops) {
    bool result = true;
    std::u16string location;
    if (!RunHop(hop, verb, checkPage, stopAtRedirect, result, location)) return false;
    if (location.empty()) return result;

    const std::u16string next = ResolveLocation(hopUrl, location);
    HttpUrlParts nextParts;
    const bool downgrade = hop.scheme == HttpScheme::Https;
    if (hops == kMaxRedirectHops || !HttpCrackUrl(next, nextParts) ||
        (downgrade && nextParts.scheme != HttpScheme::Https)) {
      errorCode = kHttpErrorRedirectFailed;
      return false;
    }
    const char16_t* nextVerb = VerbAfterRedirect(redirectStatus, verb);
    hopSendsBody = hopSendsBody && nextVerb == verb;
    hopHeaders = HeaderLinesForHop(extraHeaders, SameOrigin(origin, nextParts), hopSendsBody);
    verb = nextVerb;
    hopUrl = next;
    hop = nextParts;
  }
}

bool WinHttpClient::RunHop(const HttpUrlParts& parts, const char16_t* verb, bool checkPage,
                           bool stopAtRedirect, bool& result, std::u16string& location) {
  const bool secure = parts.scheme == HttpScheme::Https;
  HttpConnection connection = HttpConnect(*sessionHandle, parts.host, parts.port);
  if (!connection) {
    RecordLastError();
    return false;
  }
  HttpRequest request = HttpOpenRequest(*connection, verb, parts.path, secure);
  if (!request) {
    RecordLastError();
    return false;  // the connection closes on the way out
  }

  if (secure) {
    if (!verifyCertificates) {
      HttpSetSecurityFlags(*request, kIgnoredCertificateProblems);
    } else if (!certificateAuthorities.empty()) {
      HttpTrustAuthorities(*request, certificateAuthorities);
    }
  }
  securityFlags = 0;
  HttpQuerySecurityFlags(*request, securityFlags);
  HttpSetMaxResponseHeaderSize(*request, kMaxResponseHeaderBytes);

  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    location.clear();
    if (RunAttempt(*request, checkPage, stopAtRedirect, result, location)) return true;
  }
  return false;  // request, then connection, close on the way out
}

bool WinHttpClient::RunAttempt(HttpRequestState& request, bool checkPage, bool stopAtRedirect,
                               bool& result, std::u16string& location) {
  proxyTroubleText.clear();
  if (!hopHeaders.empty() && !HttpAddRequestHeaders(request, hopHeaders)) RecordLastError();
  if (!HttpDisableRedirects(request) && stopAtRedirect) RecordLastError();
  SelectProxy(request);
  // Wine's WinHTTP takes the wait for the response head as it stands when
  // the request goes out, so it is bounded here already (POSIX starts the
  // clock anew below, once the body is out).
  const int32_t deadlineMs = ResponseDeadlineMs();
  HttpSetResponseTimeLimit(request, receiveTimeout > 0 ? std::min(receiveTimeout, deadlineMs) : deadlineMs);

  if (!HttpSendRequest(request)) {
    RecordLastError();
    RecordProxyTrouble(request);
    return false;
  }
  const BodyWrite written = hopSendsBody ? WriteBody(request) : BodyWrite::NoBody;
  if (written == BodyWrite::SourceFailed) {
    result = false;
    return true;  // the body could not be produced: no attempt can succeed
  }
  // The wait for the response starts once the body has left the machine
  // where the platform can tell (the POSIX transport's write returns only
  // then; WinHTTP shows nothing of its send queue).
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
  if (!LimitWait(request, deadline) || !HttpReceiveResponse(request)) {
    RecordLastError();
    RecordProxyTrouble(request);
    // The whole body reached the server, which then said nothing in time:
    // it may be acting on it (storing the document), so sending it again
    // could make a second copy.  A request that did not get out whole, or
    // that the server dropped, is still tried again.
    if (written == BodyWrite::Written && errorCode == kHttpErrorTimeout) {
      result = false;
      return true;
    }
    return false;
  }

  if (!stopAtRedirect && FollowsElsewhere(request, location)) return true;

  ReadHeaderFields(request);
  switch (ReadBody(request, deadline)) {
    case BodyRead::NoBuffer:
      result = false;
      return true;  // no point in another attempt without memory
    case BodyRead::TooLarge:
      result = false;
      return true;  // the bytes kept are not the reply: nothing to decode
    case BodyRead::Truncated:
      result = false;
      break;
    case BodyRead::Whole:
      break;
  }
  DecodeBody();

  if (checkPage && !PageIsComplete(contentText)) {
    errorCode = kErrorInvalidData;
    return false;
  }
  return true;
}

WinHttpClient::BodyWrite WinHttpClient::WriteBody(HttpRequestState& request) {
  uint32_t written = 0;
  if (!requestData && requestBody == nullptr) return BodyWrite::NoBody;
  if (requestData) {
    if (HttpWriteData(request, requestData.get(), requestDataLength, written)) return BodyWrite::Written;
    RecordLastError();
    return BodyWrite::WriteFailed;
  }
  bool sourceFailed = false;
  if (HttpWriteBody(request, *requestBody, sourceFailed)) return BodyWrite::Written;
  RecordLastError();
  return sourceFailed ? BodyWrite::SourceFailed : BodyWrite::WriteFailed;
}

bool WinHttpClient::LimitWait(HttpRequestState& request, std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
  if (left.count() <= 0) {
    SetLastError(kHttpErrorTimeout);
    return false;
  }
  waitCutByDeadline = receiveTimeout <= 0 || left.count() <= receiveTimeout;
  const int64_t limit = waitCutByDeadline ? left.count() : receiveTimeout;
  HttpSetResponseTimeLimit(request, static_cast<int>(limit));
  return true;
}

bool WinHttpClient::FollowsElsewhere(HttpRequestState& request, std::u16string& location) {
  std::u16string block;
  if (!QueryHeaderBlock(request, block)) return false;
  redirectStatus = StatusOf(block);
  if (!IsRedirectStatus(redirectStatus)) return false;
  location = LocationOf(block);
  return !location.empty();
}

void WinHttpClient::SelectProxy(HttpRequestState& request) {
  HttpUserProxyConfig config;
  HttpProxyInfo proxy;
  if (HttpGetUserProxyConfig(config)) {
    if (!config.autoConfigUrl.empty()) {
      HttpAutoProxyOptions options;
      options.flags = kHttpAutoProxyAutoDetect | kHttpAutoProxyConfigUrl;
      options.autoDetectFlags = kHttpAutoDetectDhcp;
      options.autoConfigUrl = config.autoConfigUrl;
      options.autoLogonIfChallenged = true;
      if (!HttpGetProxyForUrl(*sessionHandle, url, options, proxy)) {
        RecordLastError();
        proxy = HttpProxyInfo();
      }
    } else if (!config.proxy.empty()) {
      proxy.accessType = kHttpAccessTypeNamedProxy;
      proxy.proxy = config.proxy;
      proxy.proxyBypass = config.proxyBypass;
    }
  } else if (errorCode == 0) {
    // Only the first trace of trouble is kept: a missing configuration is
    // normal and must not hide a more telling code.
    RecordLastError();
  }
  if (!proxy.proxy.empty() && !HttpSetProxy(request, proxy)) RecordLastError();
}

WinHttpClient::BodyRead WinHttpClient::ReadBody(HttpRequestState& request,
                                                std::chrono::steady_clock::time_point deadline) {
  bodyBytes.reset();
  bodyLength = 0;
  size_t capacity = kFirstBodyCapacity;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[capacity]());
  if (!buffer) return BodyRead::NoBuffer;

  BodyRead outcome = BodyRead::Whole;
  uint32_t received = 0;
  uint32_t available = 0;
  do {
    available = 0;
    if (!LimitWait(request, deadline)) {
      RecordLastError();
      outcome = BodyRead::Truncated;
      break;
    }
    if (!HttpQueryDataAvailable(request, available)) {
      RecordLastError();
      // A read that outlived the deadline fails the exchange; one that only
      // outlived the receive time-out ends the body, as it always has.
      if (errorCode == kHttpErrorTimeout && waitCutByDeadline) {
        outcome = BodyRead::Truncated;
        break;
      }
    }
    ReportProgress(received);

    std::unique_ptr<uint8_t[]> chunk(new (std::nothrow) uint8_t[size_t(available) + 1]());
    uint32_t read = 0;
    if (chunk && HttpReadData(request, chunk.get(), available, read)) {
      // The count must stay a 32-bit number with room for the zero byte.
      // Kept up to the limit; a reply that goes beyond it is refused.
      const bool tooLarge = read > kMaxResponseBodyBytes - received;
      const uint32_t kept = tooLarge ? kMaxResponseBodyBytes - received : read;
      if (!MakeRoom(buffer, capacity, received, size_t(received) + kept + 1)) {
        outcome = BodyRead::Truncated;
        break;
      }
      std::memcpy(buffer.get() + received, chunk.get(), kept);
      received += kept;
      if (tooLarge) {
        SetLastError(kErrorFileTooLarge);
        RecordLastError();
        outcome = BodyRead::TooLarge;
        break;
      }
    }
  } while (available > 0);

  ReportProgress(received);
  bodyBytes = std::move(buffer);
  bodyLength = received;
  return outcome;
}

void WinHttpClient::DecodeBody() {
  if (!bodyBytes || bodyLength >= uint32_t(std::numeric_limits<int>::max())) return;
  CodePage codePage = CodePage::Utf8;
  uint32_t flags = 0;
  if (!NamesUtf8(charset)) {
    codePage = CodePage::Ansi;
    flags = kPrecomposed;
  }
  // The zero byte after the data ends the text, as it would any C string.
  const char* bytes = reinterpret_cast<const char*>(bodyBytes.get());
  const int count = static_cast<int>(bodyLength) + 1;
  int needed = MultiByteToWide(codePage, flags, bytes, count, nullptr, 0);
  if (needed <= 0) {
    codePage = CodePage::Ansi;
    flags = kPrecomposed;
    needed = MultiByteToWide(codePage, flags, bytes, count, nullptr, 0);
    if (needed <= 0) return;
  }
  std::unique_ptr<char16_t[]> wide(new (std::nothrow) char16_t[size_t(needed)]());
  if (!wide) return;
  if (MultiByteToWide(codePage, flags, bytes, count, wide.get(), needed) > 0) {
    contentText = std::u16string(wide.get());
  }
}

void WinHttpClient::ReportProgress(uint32_t received) const {
  if (onProgress == nullptr || contentLength == 0) return;
  onProgress(static_cast<double>(received) * 100.0 / static_cast<double>(contentLength));
}

void WinHttpClient::RecordLastError() { errorCode = LastError(); }

void WinHttpClient::RecordProxyTrouble(HttpRequestState& request) {
  proxyTroubleText = inkseal::ProxyTroubleText(HttpQueryProxyTrouble(request));
}

}  // namespace inkseal
