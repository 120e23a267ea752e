#include "platform/environment.h"

#include <cstdlib>

#include "text/utf.h"

namespace inkseal::platform {

std::u16string EnvironmentVariable(const std::u16string& name) {
  const char* value = std::getenv(Utf16ToUtf8(name).c_str());
  return value != nullptr ? Utf8ToUtf16(value) : std::u16string();
}

}  // namespace inkseal::platform
