// Conversion between UTF-8 bytes and UTF-16 text, independent of any
// platform.  Malformed input never fails: each bad sequence becomes U+FFFD,
// so a path or message is always shown rather than lost.
#pragma once

#include <string>
#include <string_view>

namespace inkseal {

std::u16string Utf8ToUtf16(std::string_view bytes);
std::string Utf16ToUtf8(std::u16string_view text);

// Strict check used where a replacement would silently change data.
bool IsValidUtf8(std::string_view bytes);

}  // namespace inkseal
