#include "platform/error_text.h"

#include <windows.h>

namespace inkseal::platform {
namespace {

constexpr DWORD kSystemFlags =
    FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM;  // 0x1300
constexpr DWORD kUserDefaultLanguage = MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT);              // 0x400

// The formatter allocates the text; LocalFree gives it back.
std::u16string FormatText(DWORD flags, HMODULE source, uint32_t code) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(flags, source, code, kUserDefaultLanguage,
                                        reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::u16string result;
  if (length > 0 && text != nullptr) result.assign(reinterpret_cast<const char16_t*>(text), length);
  if (text != nullptr) ::LocalFree(text);
  return result;
}

}  // namespace

std::u16string SystemErrorText(uint32_t code) { return FormatText(kSystemFlags, nullptr, code); }

std::u16string HttpErrorText(uint32_t code) {
  // Looked up, never loaded: the HTTP library is already in the process when
  // one of its numbers is reported.  Numbers it lacks fall back to the system.
  const HMODULE winhttp = ::GetModuleHandleW(L"winhttp.dll");
  return FormatText(kSystemFlags | FORMAT_MESSAGE_FROM_HMODULE, winhttp, code);  // 0x1B00
}

}  // namespace inkseal::platform
