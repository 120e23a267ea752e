#include "platform/environment.h"

#include <windows.h>

namespace inkseal::platform {

std::u16string EnvironmentVariable(const std::u16string& name) {
  const auto* wideName = reinterpret_cast<const wchar_t*>(name.c_str());
  const DWORD needed = ::GetEnvironmentVariableW(wideName, nullptr, 0);
  if (needed == 0) return {};
  std::u16string value(needed, u'\0');
  const DWORD written =
      ::GetEnvironmentVariableW(wideName, reinterpret_cast<wchar_t*>(value.data()), needed);
  if (written == 0 || written >= needed) return {};
  value.resize(written);
  return value;
}

}  // namespace inkseal::platform
