#include "common/loopback_host.h"

#include <string_view>

#include "text/ascii_case.h"

namespace inkseal {
namespace {

constexpr int kMaxPort = 65535;
constexpr int kMaxOctet = 255;

// A decimal number of at most maxValue, without sign or blanks.
bool IsNumberUpTo(std::u16string_view text, int maxValue) {
  if (text.empty() || text.size() > 5) return false;
  int value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return false;
    value = value * 10 + (c - u'0');
  }
  return value <= maxValue;
}

bool IsLoopbackAddress(std::u16string_view host) {
  if (EqualIgnoringAsciiCase(host, u"localhost") || host == u"[::1]") return true;
  // 127.b.c.d
  int octets = 0;
  size_t start = 0;
  while (start <= host.size()) {
    size_t dot = host.find(u'.', start);
    if (dot == std::u16string_view::npos) dot = host.size();
    const std::u16string_view octet = host.substr(start, dot - start);
    if (octet.size() > 3 || !IsNumberUpTo(octet, kMaxOctet) || (octets == 0 && octet != u"127")) return false;
    ++octets;
    start = dot + 1;
  }
  return octets == 4;
}

}  // namespace

bool IsLoopbackHost(const std::u16string& hostAndPort) {
  const std::u16string_view text(hostAndPort);
  if (text == u"::1") return true;
  const size_t colon = text.rfind(u':');
  const bool hasPort = colon != std::u16string_view::npos && text.find(u']', colon) == std::u16string_view::npos;
  if (hasPort && !IsNumberUpTo(text.substr(colon + 1), kMaxPort)) return false;
  return IsLoopbackAddress(hasPort ? text.substr(0, colon) : text);
}

}  // namespace inkseal
