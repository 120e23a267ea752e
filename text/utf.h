// Conversion between UTF-8 bytes and UTF-16 text, independent of any
// platform.  Malformed input never fails: each bad sequence becomes U+FFFD,
// so a path or message is always shown rather than lost.
#pragma once

#include <string>
#include <string_view>

namespace inkseal {

std::u16string Utf8ToUtf16(std::string_view bytes);
std::string Utf16ToUtf8(std::u16string_view text);

// The code point at text[i], a surrogate pair joined, and i moved past it; a
// surrogate that pairs with nothing comes back as itself.
char32_t NextCodePoint(std::u16string_view text, size_t& i);

// Appends the UTF-8 bytes of code point cp (a surrogate as U+FFFD).
void AppendUtf8(std::string& out, char32_t cp);

// Strict check used where a replacement would silently change data.
bool IsValidUtf8(std::string_view bytes);

}  // namespace inkseal
