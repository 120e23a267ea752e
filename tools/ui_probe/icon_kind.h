// Which standard icon a message box shows.
#pragma once

#include <windows.h>

namespace inkseal::probe {

// "error", "information" or "unknown".  Icon handles cannot be compared
// across processes (Wine rejects another process's icon handle), so the
// icon control's pixels on the screen are compared with the standard
// icons drawn here on the same background.
const wchar_t* IconKind(HWND iconControl);

}  // namespace inkseal::probe
