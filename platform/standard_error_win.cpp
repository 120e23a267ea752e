#include "platform/standard_error.h"

#include <windows.h>

#include <string>

#include "text/utf.h"

namespace inkseal::platform {

void WriteStandardErrorLine(const std::u16string& line) {
  const HANDLE output = ::GetStdHandle(STD_ERROR_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) return;
  const std::string bytes = Utf16ToUtf8(line) + "\r\n";
  DWORD written = 0;
  ::WriteFile(output, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace inkseal::platform
