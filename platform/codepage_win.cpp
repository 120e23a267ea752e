#include "platform/codepage.h"

#include <windows.h>

namespace inkseal::platform {

// wchar_t is a UTF-16 unit on Windows, so the buffers pass through unchanged.
int MultiByteToWide(CodePage codePage, uint32_t flags, const char* bytes, int count,
                    char16_t* out, int outSize) {
  return ::MultiByteToWideChar(static_cast<UINT>(codePage), flags, bytes, count,
                               reinterpret_cast<wchar_t*>(out), out == nullptr ? 0 : outSize);
}

int WideToMultiByte(CodePage codePage, const char16_t* text, int count, char* out, int outSize) {
  return ::WideCharToMultiByte(static_cast<UINT>(codePage), 0, reinterpret_cast<const wchar_t*>(text),
                               count, out, out == nullptr ? 0 : outSize, nullptr, nullptr);
}

}  // namespace inkseal::platform
