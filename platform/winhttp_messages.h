// WinHTTP's own error numbers (12001 and up) and their texts, for the POSIX
// transport, which reports its failures with the same numbers as WinHTTP.
#pragma once

#include <cstdint>

namespace inkseal::platform {

// The message-table text for a WinHTTP error number (ending in a line
// break, as the Windows table's texts do), or null when the number is not one.
const char16_t* WinHttpMessageText(uint32_t code);

}  // namespace inkseal::platform
