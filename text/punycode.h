// Punycode (RFC 3492): the ASCII form of one label of an international
// domain name, as DNS and every browser take it after "xn--".
#pragma once

#include <optional>
#include <string>

namespace inkseal {

// The Punycode of codePoints (without the "xn--" prefix); absent when a
// code point is above U+10FFFF or the encoding would overflow.
std::optional<std::string> PunycodeEncode(const std::u32string& codePoints);

}  // namespace inkseal
