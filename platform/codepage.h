// Code-page conversion between bytes and UTF-16, with the semantics of
// MultiByteToWideChar / WideCharToMultiByte.  On POSIX the ANSI code page is
// Windows-1252, the code page of a Western-European Windows, so both
// platforms decode the same bytes to the same text.
#pragma once

#include <cstdint>

namespace inkseal::platform {

enum class CodePage : uint32_t { Ansi = 0, Utf8 = 65001 };

constexpr uint32_t kPrecomposed = 0x1;      // MB_PRECOMPOSED
constexpr uint32_t kErrInvalidChars = 0x8;  // MB_ERR_INVALID_CHARS

// Converts count bytes.  With out null, returns the number of UTF-16 units
// needed.  Returns 0 on failure, with the last error set.  Without
// kErrInvalidChars malformed UTF-8 becomes U+FFFD instead of failing.
int MultiByteToWide(CodePage codePage, uint32_t flags, const char* bytes, int count,
                    char16_t* out, int outSize);

// Converts count UTF-16 units.  With out null, returns the number of bytes
// needed.  Characters the code page lacks become its default character "?".
// Returns 0 on failure, with the last error set.
int WideToMultiByte(CodePage codePage, const char16_t* text, int count, char* out, int outSize);

}  // namespace inkseal::platform
