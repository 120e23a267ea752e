// Every message either program shows goes through these operations.
// Each box is modal, has no owner window and carries the title "Inkseal".
// A shown text has its secrets masked (password=***, oauth_signature="***").
// With returnInstead set nothing is shown and the composed text is returned
// as it is; otherwise the result is empty.
#pragma once

#include <cstdint>
#include <string>

namespace inkseal {

extern const char16_t kMessageTitle[];  // "Inkseal"

// text, "\n" when text is not empty, then the description of the last OS
// error (taken before anything else runs).  Error icon.
std::u16string ReportLastError(const std::u16string& text, bool returnInstead = false);

// text alone, information icon.
std::u16string ShowInformation(const std::u16string& text, bool returnInstead = false);

// text alone, error icon: a failure with no OS error behind it.
void ShowError(const std::u16string& text);

// "\nError code: <code as signed decimal>\n", the code's description, "\n",
// text.  Error icon, always shown.
void ReportErrorCode(uint32_t code, const std::u16string& text);

// As ReportErrorCode, the description looked up in the HTTP library's
// message table first.
std::u16string ReportHttpError(uint32_t code, const std::u16string& text, bool returnInstead = false);

}  // namespace inkseal
