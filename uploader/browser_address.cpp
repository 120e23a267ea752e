#include "uploader/browser_address.h"

#include <string_view>

#include "text/ascii_case.h"
#include "text/punycode.h"
#include "text/utf.h"

namespace inkseal {
namespace {

constexpr std::u16string_view kSchemes[] = {u"http", u"https"};
constexpr std::u16string_view kSchemeEnd = u"://";
constexpr std::u16string_view kAcePrefix = u"xn--";
// Letters, digits, "-._~", the sub-delimiters and "%" of an escape.
constexpr std::u16string_view kNameMarks = u"-._~!$&'()*+,;=%";
// The delimiters that may follow the host within an address.
constexpr std::u16string_view kDelimiters = u":/?#[]@";
constexpr size_t kMaxLabelLength = 63;  // DNS
constexpr size_t kMaxHostLength = 253;

bool IsAsciiLetterOrDigit(char32_t c) {
  return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z') || (c >= U'0' && c <= U'9');
}
bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }
bool IsAsciiNameCharacter(char32_t c) {
  return IsAsciiLetterOrDigit(c) || kNameMarks.find(static_cast<char16_t>(c)) != std::u16string_view::npos;
}
bool IsAsciiAddressCharacter(char32_t c) {
  return IsAsciiNameCharacter(c) || kDelimiters.find(static_cast<char16_t>(c)) != std::u16string_view::npos;
}

// Characters no address holds anywhere: C1 controls, blanks of every kind,
// and the invisible or direction-changing ones that make an address read
// other than it is.
bool IsRefusedNonAscii(char32_t c) {
  return (c >= 0x80 && c <= 0xA0) || c == 0xAD || c == 0x1680 || c == 0x180E || (c >= 0x2000 && c <= 0x200F) ||
         (c >= 0x2028 && c <= 0x202F) || (c >= 0x205F && c <= 0x206F) || c == 0x3000 || c == 0xFEFF ||
         (c >= 0xFFF0 && c <= 0xFFFF) || (c >= 0xE0000 && c <= 0xE007F);
}

// Characters a host may not hold even though the name would read well:
// fullwidth and halfwidth forms (a fullwidth "／" or "．" looks like the
// ASCII one but is not), the ideographic full stop, and private-use ones.
bool IsRefusedInHost(char32_t c) {
  return (c >= 0xFF00 && c <= 0xFFEF) || c == 0x3002 || (c >= 0xE000 && c <= 0xF8FF) || c >= 0xF0000;
}

// The code points of text; absent for an unpaired surrogate.
std::optional<std::u32string> CodePoints(std::u16string_view text) {
  std::u32string points;
  for (size_t i = 0; i < text.size();) {
    const char32_t c = NextCodePoint(text, i);
    if (c >= 0xD800 && c <= 0xDFFF) return std::nullopt;
    points += c;
  }
  return points;
}

std::u16string Ascii(std::u32string_view points) {
  std::u16string text;
  for (const char32_t c : points) text += static_cast<char16_t>(c);
  return text;
}

// ASCII as it is; anything else as the percent escapes of its UTF-8 bytes.
std::u16string PercentEncoded(std::u32string_view points) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::u16string text;
  for (const char32_t c : points) {
    if (c < 0x80) {
      text += static_cast<char16_t>(c);
      continue;
    }
    std::string bytes;
    AppendUtf8(bytes, c);
    for (const unsigned char byte : bytes) {
      text += u'%';
      text += static_cast<char16_t>(kHex[byte >> 4]);
      text += static_cast<char16_t>(kHex[byte & 0xF]);
    }
  }
  return text;
}

// Latin-1's capitals, the ones a host is likeliest to hold, folded as IDNA
// folds them; other scripts' names arrive as the service wrote them.
char32_t LowerForHost(char32_t c) {
  if ((c >= U'A' && c <= U'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  return c;
}

// One label of a host name, its ASCII form: as it is when it is ASCII,
// else "xn--" and its Punycode.
std::optional<std::u16string> AsciiLabel(std::u32string_view label) {
  bool ascii = true;
  for (const char32_t c : label) {
    if (c >= 0x80) {
      if (IsRefusedInHost(c)) return std::nullopt;
      ascii = false;
    } else if (!IsAsciiNameCharacter(c)) {
      return std::nullopt;
    }
  }
  if (ascii) return Ascii(label);
  std::u32string folded;
  for (const char32_t c : label) folded += LowerForHost(c);
  const std::optional<std::string> encoded = PunycodeEncode(folded);
  if (!encoded || encoded->size() + kAcePrefix.size() > kMaxLabelLength) return std::nullopt;
  return std::u16string(kAcePrefix) + Utf8ToUtf16(*encoded);
}

std::optional<std::u16string> AsciiHostName(std::u32string_view host) {
  if (host.empty()) return std::nullopt;
  std::u16string result;
  for (size_t start = 0;;) {
    const size_t dot = host.find(U'.', start);
    const std::u32string_view labelText = host.substr(start, dot - start);
    // Only the root's empty label may end a name ("example.com.").
    if (labelText.empty() && !(start > 0 && start == host.size())) return std::nullopt;
    const std::optional<std::u16string> label = AsciiLabel(labelText);
    if (!label) return std::nullopt;
    result += *label;
    if (dot == std::u32string_view::npos) break;
    result += u'.';
    start = dot + 1;
  }
  if (result.size() > kMaxHostLength) return std::nullopt;
  return result;
}

bool AllOf(std::u32string_view text, bool (*allowed)(char32_t)) {
  for (const char32_t c : text) {
    if (!allowed(c)) return false;
  }
  return true;
}

bool IsIpLiteralCharacter(char32_t c) { return IsAsciiLetterOrDigit(c) || c == U':' || c == U'.'; }
bool IsUserCharacter(char32_t c) { return c >= 0x80 || IsAsciiNameCharacter(c) || c == U':'; }

// [user@]host[:port] in its ASCII form; the host a name or a bracketed IPv6
// literal.
std::optional<std::u16string> AsciiAuthority(std::u32string_view authority) {
  std::u16string result;
  const size_t at = authority.rfind(U'@');
  if (at != std::u32string_view::npos) {
    if (!AllOf(authority.substr(0, at), IsUserCharacter)) return std::nullopt;
    result += PercentEncoded(authority.substr(0, at + 1));
    authority.remove_prefix(at + 1);
  }
  std::u32string_view host = authority;
  std::u32string_view port;
  if (!host.empty() && host.front() == U'[') {
    const size_t close = host.find(U']');
    if (close == std::u32string_view::npos || close == 1) return std::nullopt;
    if (!AllOf(host.substr(1, close - 1), IsIpLiteralCharacter)) return std::nullopt;
    port = host.substr(close + 1);
    result += Ascii(host.substr(0, close + 1));
  } else {
    const size_t colon = host.find(U':');
    if (colon != std::u32string_view::npos) {
      port = host.substr(colon);
      host = host.substr(0, colon);
    }
    const std::optional<std::u16string> name = AsciiHostName(host);
    if (!name) return std::nullopt;
    result += *name;
  }
  if (!port.empty() && (port.front() != U':' || !AllOf(port.substr(1), IsDigit))) return std::nullopt;
  return result + Ascii(port);
}

bool StartsWithScheme(std::u16string_view address, std::u16string_view scheme) {
  if (address.size() < scheme.size() + kSchemeEnd.size()) return false;
  return EqualIgnoringAsciiCase(address.substr(0, scheme.size()), scheme) &&
         address.substr(scheme.size(), kSchemeEnd.size()) == kSchemeEnd;
}

}  // namespace

std::optional<std::u16string> BrowserAddress(std::u16string_view address) {
  const std::optional<std::u32string> points = CodePoints(address);
  if (!points) return std::nullopt;
  for (const char32_t c : *points) {
    if (c < 0x80 ? !IsAsciiAddressCharacter(c) : IsRefusedNonAscii(c)) return std::nullopt;
  }
  for (const std::u16string_view scheme : kSchemes) {
    if (!StartsWithScheme(address, scheme)) continue;
    const std::u32string_view rest = std::u32string_view(*points).substr(scheme.size() + kSchemeEnd.size());
    const size_t authorityEnd = rest.find_first_of(U"/?#");
    const std::optional<std::u16string> authority = AsciiAuthority(rest.substr(0, authorityEnd));
    if (!authority) return std::nullopt;
    const std::u32string_view tail =
        authorityEnd == std::u32string_view::npos ? std::u32string_view() : rest.substr(authorityEnd);
    return std::u16string(address.substr(0, scheme.size() + kSchemeEnd.size())) + *authority +
           PercentEncoded(tail);
  }
  return std::nullopt;
}

}  // namespace inkseal
