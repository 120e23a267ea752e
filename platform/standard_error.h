// Diagnosis for whoever keeps the program's standard error (the printer
// agent's log), apart from what the user is shown.
#pragma once

#include <string>

namespace inkseal::platform {

// Writes line and a line break to standard error, as UTF-8.  Nothing happens
// where the program has none (a windowed Windows program started without one).
void WriteStandardErrorLine(const std::u16string& line);

}  // namespace inkseal::platform
