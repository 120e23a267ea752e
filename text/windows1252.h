// The Windows-1252 code page ("ANSI" on a Western-European Windows), byte by
// byte.  Kept platform-free so the POSIX code-page seam and the settings-file
// reader decode legacy bytes the same way Windows does.
#pragma once

#include <string>
#include <string_view>

namespace inkseal {

// Every byte has a character: the five bytes Windows leaves undefined (0x81,
// 0x8D, 0x8F, 0x90, 0x9D) map to the control character of the same number.
char16_t Windows1252ToUnit(unsigned char byte);

// The byte for a character, or false when the code page lacks it.
bool UnitToWindows1252(char16_t unit, unsigned char& byte);

std::u16string DecodeWindows1252(std::string_view bytes);

}  // namespace inkseal
