// The HTTP service of the operating system, one operation per WinHTTP call
// that WinHttpClient makes.  On Windows each is WinHTTP itself; on POSIX a
// libcurl transfer made to put the same bytes on the wire.
//
// Every operation that can fail returns false (or an empty handle) and sets
// the calling thread's last error (platform/last_error.h).  Transport
// failures carry WinHTTP's own error numbers (12001 and up) on both
// platforms, so one failure shows one number everywhere.
//
// Handles close themselves: request, then connection, then session when
// they are declared in that opening order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace inkseal::platform {

struct HttpSessionState;
struct HttpConnectionState;
struct HttpRequestState;

struct HttpSessionCloser {
  void operator()(HttpSessionState* session) const;
};
struct HttpConnectionCloser {
  void operator()(HttpConnectionState* connection) const;
};
struct HttpRequestCloser {
  void operator()(HttpRequestState* request) const;
};

using HttpSession = std::unique_ptr<HttpSessionState, HttpSessionCloser>;
using HttpConnection = std::unique_ptr<HttpConnectionState, HttpConnectionCloser>;
using HttpRequest = std::unique_ptr<HttpRequestState, HttpRequestCloser>;

// WinHTTP error numbers the transports report.
constexpr uint32_t kHttpErrorOutOfHandles = 12001;
constexpr uint32_t kHttpErrorTimeout = 12002;
constexpr uint32_t kHttpErrorInternal = 12004;
constexpr uint32_t kHttpErrorInvalidUrl = 12005;
constexpr uint32_t kHttpErrorUnrecognizedScheme = 12006;
constexpr uint32_t kHttpErrorNameNotResolved = 12007;
constexpr uint32_t kHttpErrorIncorrectHandleState = 12019;
constexpr uint32_t kHttpErrorCannotConnect = 12029;
constexpr uint32_t kHttpErrorConnectionError = 12030;
constexpr uint32_t kHttpErrorInvalidServerResponse = 12152;
constexpr uint32_t kHttpErrorRedirectFailed = 12156;
constexpr uint32_t kHttpErrorAutodetectionFailed = 12180;
constexpr uint32_t kHttpErrorSecureFailure = 12175;
constexpr uint32_t kHttpErrorHeaderSizeOverflow = 12182;

// The verbs the client sends, each named once: the client, its redirects,
// the callers and the POSIX transport compare against these.
inline constexpr char16_t kHttpVerbGet[] = u"GET";
inline constexpr char16_t kHttpVerbPost[] = u"POST";
inline constexpr char16_t kHttpVerbPut[] = u"PUT";

enum class HttpScheme : uint32_t { Http = 1, Https = 2 };  // INTERNET_SCHEME_*

// The parts of an absolute URL that a connection and a request need.  The
// path keeps any query ("?...") that follows it.
struct HttpUrlParts {
  HttpScheme scheme = HttpScheme::Http;
  std::u16string host;
  uint16_t port = 0;
  std::u16string path;
};

// Capacities of the URL splitting buffers, terminator included: a longer
// host or path makes HttpCrackUrl fail.
constexpr size_t kHttpHostCapacity = 260;
constexpr size_t kHttpPathCapacity = 1300;

// Certificate problems a https request may be told to overlook.
constexpr uint32_t kHttpIgnoreUnknownCa = 0x0100;       // SECURITY_FLAG_IGNORE_UNKNOWN_CA
constexpr uint32_t kHttpIgnoreCertNameInvalid = 0x1000; // SECURITY_FLAG_IGNORE_CERT_CN_INVALID
constexpr uint32_t kHttpIgnoreCertDateInvalid = 0x2000; // SECURITY_FLAG_IGNORE_CERT_DATE_INVALID

// What the current user's Internet settings say about proxies.  The
// platform's own strings are released inside the call.
struct HttpUserProxyConfig {
  bool autoDetect = false;
  std::u16string autoConfigUrl;  // empty: none set
  std::u16string proxy;          // empty: none set
  std::u16string proxyBypass;    // empty: none set
};

// Automatic proxy discovery request (WINHTTP_AUTOPROXY_OPTIONS).
constexpr uint32_t kHttpAutoProxyAutoDetect = 0x1;  // WINHTTP_AUTOPROXY_AUTO_DETECT
constexpr uint32_t kHttpAutoProxyConfigUrl = 0x2;   // WINHTTP_AUTOPROXY_CONFIG_URL
constexpr uint32_t kHttpAutoDetectDhcp = 0x1;       // WINHTTP_AUTO_DETECT_TYPE_DHCP
struct HttpAutoProxyOptions {
  uint32_t flags = 0;
  uint32_t autoDetectFlags = 0;
  std::u16string autoConfigUrl;
  bool autoLogonIfChallenged = false;
};

// The proxy a request is to use (WINHTTP_PROXY_INFO).
constexpr uint32_t kHttpAccessTypeNamedProxy = 3;  // WINHTTP_ACCESS_TYPE_NAMED_PROXY
struct HttpProxyInfo {
  uint32_t accessType = 0;
  std::u16string proxy;        // empty: none
  std::u16string proxyBypass;  // empty: none
};

HttpSession HttpOpenSession(const std::u16string& userAgent);
// Time-outs in milliseconds; 0 means no limit.
bool HttpSetTimeouts(HttpSessionState& session, int resolveMs, int connectMs, int sendMs,
                     int receiveMs);

bool HttpCrackUrl(const std::u16string& url, HttpUrlParts& parts);

HttpConnection HttpConnect(HttpSessionState& session, const std::u16string& host, uint16_t port);
HttpRequest HttpOpenRequest(HttpConnectionState& connection, const std::u16string& verb,
                            const std::u16string& path, bool secure);

bool HttpSetSecurityFlags(HttpRequestState& request, uint32_t ignoreFlags);
// The certificate problems the request overlooks, as the platform reports
// them back (other bits the platform keeps there are left in).
bool HttpQuerySecurityFlags(HttpRequestState& request, uint32_t& flags);
// A PEM file of further authorities the server's certificate may chain to,
// trusted besides the system's own.  POSIX only: on Windows the machine's
// certificate store is where an administrator adds an authority, so there
// this does nothing.
bool HttpTrustAuthorities(HttpRequestState& request, const std::u16string& pemFile);
// Header lines separated by CR LF; empty lines among them add no header.
// Lines added again (the next attempt on the same request) take the place
// of those of the same name, so each attempt carries the caller's lines
// once, unchanged.
bool HttpAddRequestHeaders(HttpRequestState& request, const std::u16string& lines);
bool HttpDisableRedirects(HttpRequestState& request);

// The most bytes a response's header block may take; a longer one fails the
// receive with kHttpErrorHeaderSizeOverflow instead of filling memory.
bool HttpSetMaxResponseHeaderSize(HttpRequestState& request, uint32_t bytes);
// From now on, waiting for the response (its head, then each read of its
// body) ends with kHttpErrorTimeout after this many milliseconds.  Called
// again before each read with the time that is left.
bool HttpSetResponseTimeLimit(HttpRequestState& request, int milliseconds);

bool HttpGetUserProxyConfig(HttpUserProxyConfig& config);
bool HttpGetProxyForUrl(HttpSessionState& session, const std::u16string& url,
                        const HttpAutoProxyOptions& options, HttpProxyInfo& info);
bool HttpSetProxy(HttpRequestState& request, const HttpProxyInfo& info);

// What a proxy the request was sent through did to a failed attempt, so
// that the user learns which proxy stood in the way.  proxy is its host and
// port, never its credentials.  Windows reports none: WinHTTP hands a
// proxy's refusal to the caller as the response itself.
enum class HttpProxyTroubleKind { None, Unreachable, SignInRequired };
struct HttpProxyTrouble {
  HttpProxyTroubleKind kind = HttpProxyTroubleKind::None;
  std::u16string proxy;
};
HttpProxyTrouble HttpQueryProxyTrouble(HttpRequestState& request);

// Sends the request head; the body follows with HttpWriteData.  The data
// must stay valid until HttpReceiveResponse returns (it is not copied).
bool HttpSendRequest(HttpRequestState& request);
bool HttpWriteData(HttpRequestState& request, const void* data, uint32_t length,
                   uint32_t& written);

// A request body the transport reads itself, as the connection takes it,
// instead of one handed over in pieces.
class HttpBodySource {
 public:
  virtual ~HttpBodySource() = default;
  // Back to the first byte, for a body that has to go out again.
  virtual void Rewind() = 0;
  // The next bytes, at most capacity of them; count 0 at the end.  False
  // with the last error set when the body cannot be produced.
  virtual bool ReadPiece(uint8_t* buffer, size_t capacity, size_t& count) = 0;
};

// Sends the whole body from source after HttpSendRequest: exactly the
// length the Content-Length line announced, read from the source as the
// connection takes it.  False with the last error set when the connection
// fails; when the source fails, sourceFailed is set, the source's own error
// is the last error, and the request is left unfinished (the body short of
// its announced length), so the server never takes it for a whole one.
//
// Returns once the body has left the machine where the platform can tell
// (POSIX: curl's buffer and the socket's send queue are empty, or the
// response began), so that a wait for the response that follows does not
// also count the time a slow link takes to carry the last of the body.
// While bytes keep leaving, no time-out ends it; a send queue that does
// not move for the send time-out fails it with kHttpErrorTimeout.
bool HttpWriteBody(HttpRequestState& request, HttpBodySource& source, bool& sourceFailed);
bool HttpReceiveResponse(HttpRequestState& request);

// The final response's raw header block as WINHTTP_QUERY_RAW_HEADERS_CRLF
// delivers it: status line, header lines, empty line, each ended by CR LF,
// then a zero character.  Without a buffer (or with one too small) it fails
// with kErrorInsufficientBuffer and sets lengthInBytes to the size needed.
bool HttpQueryRawHeaders(HttpRequestState& request, char16_t* buffer, uint32_t& lengthInBytes);

// Body bytes ready to read now; 0 at the end of the body.
bool HttpQueryDataAvailable(HttpRequestState& request, uint32_t& available);
bool HttpReadData(HttpRequestState& request, void* buffer, uint32_t count, uint32_t& read);

}  // namespace inkseal::platform
