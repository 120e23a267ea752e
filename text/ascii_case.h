// Comparisons that ignore the case of the ASCII letters only.  Protocol
// names (schemes, verbs, header names, charsets, the service's status words)
// are ASCII; folding any other letter, or following the C locale, could make
// two different names equal.
#pragma once

#include <string_view>

namespace inkseal {

constexpr char16_t AsciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + (u'a' - u'A')) : c; }
constexpr char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - (u'a' - u'A')) : c; }

bool EqualIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);
bool EqualIgnoringAsciiCase(std::string_view a, std::string_view b);
bool StartsWithIgnoringAsciiCase(std::string_view text, std::string_view prefix);

}  // namespace inkseal
