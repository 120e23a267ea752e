#include "uploader/browser_address.h"

#include <string_view>

#include "text/ascii_case.h"

namespace inkseal {
namespace {

constexpr std::u16string_view kSchemes[] = {u"http", u"https"};
constexpr std::u16string_view kSchemeEnd = u"://";
// Letters, digits, "-._~", the sub-delimiters and "%" of an escape.
constexpr std::u16string_view kNameMarks = u"-._~!$&'()*+,;=%";
// The delimiters that may follow the host within an address.
constexpr std::u16string_view kDelimiters = u":/?#[]@";
constexpr char16_t kFirstNonAscii = 0xA0;  // 0x80 to 0x9F are control characters

bool IsAsciiLetterOrDigit(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9');
}

// A character of a host name or user name: unreserved, a sub-delimiter, an
// escape, or a non-ASCII letter of an internationalised name.
bool IsNameCharacter(char16_t c) {
  return IsAsciiLetterOrDigit(c) || kNameMarks.find(c) != std::u16string_view::npos || c >= kFirstNonAscii;
}

bool IsAddressCharacter(char16_t c) { return IsNameCharacter(c) || kDelimiters.find(c) != std::u16string_view::npos; }

bool StartsWithScheme(std::u16string_view address, std::u16string_view scheme) {
  if (address.size() < scheme.size() + kSchemeEnd.size()) return false;
  return EqualIgnoringAsciiCase(address.substr(0, scheme.size()), scheme) &&
         address.substr(scheme.size(), kSchemeEnd.size()) == kSchemeEnd;
}

bool AllOf(std::u16string_view text, bool (*allowed)(char16_t)) {
  for (const char16_t c : text) {
    if (!allowed(c)) return false;
  }
  return true;
}

bool IsIpLiteralCharacter(char16_t c) { return IsAsciiLetterOrDigit(c) || c == u':' || c == u'.'; }
bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// [user@]host[:port], the host a name or a bracketed IPv6 literal.
bool IsAuthority(std::u16string_view authority) {
  const size_t at = authority.rfind(u'@');
  if (at != std::u16string_view::npos) {
    if (!AllOf(authority.substr(0, at), [](char16_t c) { return IsNameCharacter(c) || c == u':'; })) return false;
    authority.remove_prefix(at + 1);
  }
  std::u16string_view host = authority;
  std::u16string_view port;
  if (!host.empty() && host.front() == u'[') {
    const size_t close = host.find(u']');
    if (close == std::u16string_view::npos || close == 1) return false;
    if (!AllOf(host.substr(1, close - 1), IsIpLiteralCharacter)) return false;
    port = host.substr(close + 1);
    host = host.substr(0, close + 1);
  } else {
    const size_t colon = host.find(u':');
    if (colon != std::u16string_view::npos) {
      port = host.substr(colon);
      host = host.substr(0, colon);
    }
    if (host.empty() || !AllOf(host, IsNameCharacter)) return false;
  }
  return port.empty() || (port.front() == u':' && AllOf(port.substr(1), IsDigit));
}

}  // namespace

bool IsWebPageAddress(std::u16string_view address) {
  if (!AllOf(address, IsAddressCharacter)) return false;
  for (const std::u16string_view scheme : kSchemes) {
    if (!StartsWithScheme(address, scheme)) continue;
    const std::u16string_view rest = address.substr(scheme.size() + kSchemeEnd.size());
    return IsAuthority(rest.substr(0, rest.find_first_of(u"/?#")));
  }
  return false;
}

}  // namespace inkseal
