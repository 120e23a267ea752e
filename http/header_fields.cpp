#include "http/header_fields.h"

#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "http/find_pattern_groups.h"
#include "http/win_http_client.h"
#include "platform/last_error.h"

namespace inkseal {

namespace {

constexpr char16_t kCharsetPattern[] = u"charset={[A-Za-z0-9\\-_]+}";
constexpr char16_t kBrowserUrlPattern[] = u"X-Open-Browser: {[A-Za-z0-9\\-_]+.*}";
constexpr char16_t kContentLengthPattern[] = u"Content-Length: {[0-9]+}";
constexpr char16_t kPageOpenPattern[] = u"{<html>}";
constexpr char16_t kPageClosePattern[] = u"{</html>}";

// The capture of the earliest match, when there is one.
bool FindFirstCapture(const std::u16string& pattern, const std::u16string& text,
                      std::u16string& capture) {
  std::vector<std::u16string> results;
  if (!FindPatternGroups(pattern, false, 1, text, results, false) || results.empty()) return false;
  capture = results.front();
  return true;
}

}  // namespace

void PickCharset(const std::u16string& headerBlock, std::u16string& charset) {
  FindFirstCapture(kCharsetPattern, headerBlock, charset);
}

void PickBrowserUrl(const std::u16string& headerBlock, std::u16string& browserUrl) {
  std::u16string capture;
  if (!FindFirstCapture(kBrowserUrlPattern, headerBlock, capture)) return;
  // The pattern's ".*" runs on over line ends to the end of the block.
  browserUrl = capture.substr(0, capture.find_first_of(u"\r\n"));
}

void PickContentLength(const std::u16string& headerBlock, uint32_t& contentLength) {
  std::u16string digits;
  if (!FindFirstCapture(kContentLengthPattern, headerBlock, digits)) return;
  uint64_t value = 0;
  for (char16_t digit : digits) {
    value = value * 10 + static_cast<uint64_t>(digit - u'0');
    if (value > std::numeric_limits<uint32_t>::max()) return;
  }
  contentLength = static_cast<uint32_t>(value);
}

bool PageIsComplete(const std::u16string& contentText) {
  std::u16string tag;
  if (!FindFirstCapture(kPageOpenPattern, contentText, tag)) return true;
  return FindFirstCapture(kPageClosePattern, contentText, tag);
}

bool QueryHeaderBlock(platform::HttpRequestState& request, std::u16string& block) {
  uint32_t length = 0;
  if (!platform::HttpQueryRawHeaders(request, nullptr, length) &&
      platform::LastError() != platform::kErrorInsufficientBuffer) {
    return false;
  }
  // The length is in bytes, so this many UTF-16 units is twice the room
  // needed; the zeroed spare guarantees a terminator.
  const size_t units = length + size_t(1);
  std::unique_ptr<char16_t[]> buffer(new (std::nothrow) char16_t[units]());
  if (!buffer) return false;
  if (!platform::HttpQueryRawHeaders(request, buffer.get(), length)) return false;
  block = std::u16string(buffer.get());
  return true;
}

void WinHttpClient::ReadHeaderFields(platform::HttpRequestState& request) {
  if (!QueryHeaderBlock(request, headerText)) return;

  PickCharset(headerText, charset);
  PickBrowserUrl(headerText, browserUrl);
  PickContentLength(headerText, contentLength);
}

}  // namespace inkseal
