// Descriptions of error numbers, as the platform words them.
#pragma once

#include <cstdint>
#include <string>

namespace inkseal::platform {

// The system's text for an error number, exactly as the platform returns it
// (on Windows it usually ends with CR LF); empty when there is none.
std::u16string SystemErrorText(uint32_t code);

// Like SystemErrorText, but the HTTP library's own message table is asked
// first, so its error numbers (12001 and up) get their texts.
std::u16string HttpErrorText(uint32_t code);

}  // namespace inkseal::platform
