#include "platform/shell.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <vector>

namespace inkseal::platform {
namespace {

constexpr INT_PTR kShellSuccessAbove = 32;  // ShellExecuteW's results up to 32 are errors

}  // namespace

ComScope::ComScope() : initialized_(SUCCEEDED(::CoInitialize(nullptr))) {}

ComScope::~ComScope() {
  if (initialized_) ::CoUninitialize();
}

bool ShellOpen(const std::u16string& address) {
  const HINSTANCE result = ::ShellExecuteW(nullptr, L"open", reinterpret_cast<const wchar_t*>(address.c_str()),
                                           nullptr, nullptr, SW_HIDE);
  return reinterpret_cast<INT_PTR>(result) > kShellSuccessAbove;
}

std::u16string TrimCharacters(const std::u16string& text, const std::u16string& chars) {
  std::vector<wchar_t> buffer(text.begin(), text.end());
  buffer.push_back(L'\0');
  ::StrTrimW(buffer.data(), reinterpret_cast<const wchar_t*>(chars.c_str()));
  return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()));
}

}  // namespace inkseal::platform
