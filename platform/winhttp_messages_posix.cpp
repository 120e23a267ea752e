#include "platform/winhttp_messages.h"

namespace inkseal::platform {

const char16_t* WinHttpMessageText(uint32_t) { return nullptr; }

}  // namespace inkseal::platform
