#include "http/redirects.h"

#include <string_view>

#include "text/ascii_case.h"
#include "text/utf.h"

namespace inkseal {

namespace {

constexpr char16_t kLocationName[] = u"location";
constexpr char16_t kVerbHead[] = u"HEAD";

std::u16string_view Trimmed(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
  return text;
}

// Calls visit(line) for every non-empty line of a CR LF (or LF) text until
// it returns false.
template <typename Visit>
void ForEachLine(std::u16string_view text, Visit visit) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of(u"\r\n", start);
    if (end == std::u16string_view::npos) end = text.size();
    if (end > start && !visit(text.substr(start, end - start))) return;
    start = end + 1;
  }
}

std::u16string_view NameOf(std::u16string_view line) {
  const size_t colon = line.find(u':');
  return Trimmed(line.substr(0, colon == std::u16string_view::npos ? line.size() : colon));
}

// "scheme://authority" of an absolute URL, and where its path begins.
size_t PathStart(std::u16string_view url) {
  const size_t scheme = url.find(u"://");
  if (scheme == std::u16string_view::npos) return 0;
  const size_t path = url.find_first_of(u"/?#", scheme + 3);
  return path == std::u16string_view::npos ? url.size() : path;
}

// Spaces, controls and non-ASCII characters percent-escaped (their UTF-8
// bytes), as a request line needs them; all else stays as the server sent it.
std::u16string Escaped(const std::u16string& location) {
  constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string escaped;
  for (unsigned char byte : Utf16ToUtf8(location)) {
    if (byte > 0x20 && byte < 0x7F) {
      escaped += char16_t(byte);
    } else {
      escaped += u'%';
      escaped += kHex[byte >> 4];
      escaped += kHex[byte & 0xF];
    }
  }
  return escaped;
}

std::u16string Resolved(const std::u16string& base, const std::u16string& location) {
  if (location.find(u"://") != std::u16string::npos &&
      location.find(u"://") < location.find_first_of(u"/?#")) {
    return location;
  }
  const std::u16string_view baseView(base);
  if (location.rfind(u"//", 0) == 0) {
    return std::u16string(baseView.substr(0, baseView.find(u"://") + 1)) + location;
  }
  const size_t pathStart = PathStart(baseView);
  if (location.front() == u'/') return std::u16string(baseView.substr(0, pathStart)) + location;
  // Relative to the folder of the answered path, without its query.
  std::u16string_view path = baseView.substr(pathStart);
  path = path.substr(0, path.find_first_of(u"?#"));
  const size_t slash = path.rfind(u'/');
  const std::u16string_view folder = slash == std::u16string_view::npos ? u"/" : path.substr(0, slash + 1);
  return std::u16string(baseView.substr(0, pathStart)) + std::u16string(folder) + location;
}

}  // namespace

bool IsRedirectStatus(uint32_t status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

uint32_t StatusOf(const std::u16string& headerBlock) {
  const size_t space = headerBlock.find(u' ');
  if (space == std::u16string::npos) return 0;
  uint32_t status = 0;
  for (size_t i = space + 1; i < headerBlock.size() && i < space + 4; ++i) {
    const char16_t c = headerBlock[i];
    if (c < u'0' || c > u'9') return 0;
    status = status * 10 + uint32_t(c - u'0');
  }
  return status;
}

std::u16string LocationOf(const std::u16string& headerBlock) {
  std::u16string location;
  bool statusLine = true;
  ForEachLine(headerBlock, [&](std::u16string_view line) {
    if (statusLine) {
      statusLine = false;
      return true;
    }
    if (!EqualIgnoringAsciiCase(NameOf(line), kLocationName)) return true;
    location = std::u16string(Trimmed(line.substr(line.find(u':') + 1)));
    return false;
  });
  return location;
}

std::u16string ResolveLocation(const std::u16string& base, const std::u16string& location) {
  if (location.empty()) return location;
  return Resolved(base, Escaped(location));
}

bool SameOrigin(const platform::HttpUrlParts& a, const platform::HttpUrlParts& b) {
  return a.scheme == b.scheme && a.port == b.port && EqualIgnoringAsciiCase(a.host, b.host);
}

const char16_t* VerbAfterRedirect(uint32_t status, const char16_t* verb) {
  const std::u16string_view name(verb);
  if (status == 303 && name != platform::kHttpVerbGet && name != kVerbHead) return platform::kHttpVerbGet;
  if ((status == 301 || status == 302) && name == platform::kHttpVerbPost) return platform::kHttpVerbGet;
  return verb;
}

std::u16string HeaderLinesForHop(const std::u16string& lines, bool keepsAuthorization, bool keepsBody) {
  std::u16string kept;
  ForEachLine(lines, [&](std::u16string_view line) {
    const std::u16string_view name = NameOf(line);
    const bool dropped = (!keepsAuthorization && EqualIgnoringAsciiCase(name, u"Authorization")) ||
                         (!keepsBody && (EqualIgnoringAsciiCase(name, u"Content-Length") ||
                                         EqualIgnoringAsciiCase(name, u"Content-Type")));
    if (!dropped) kept.append(line).append(u"\r\n");
    return true;
  });
  return kept;
}

}  // namespace inkseal
