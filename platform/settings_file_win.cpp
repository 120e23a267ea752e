#include "platform/settings_file.h"

#include <windows.h>

#include "platform/last_error.h"

namespace inkseal::platform {
namespace {

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

bool HoldsLineBreakOrNul(const std::u16string& text) {
  return text.find_first_of(std::u16string(u"\r\n\0", 3)) != std::u16string::npos;
}

}  // namespace

std::u16string ReadProfileValue(const std::u16string& section, const std::u16string& key,
                                 const std::u16string& file) {
  wchar_t value[kProfileValueCapacity] = {};
  const DWORD length =
      ::GetPrivateProfileStringW(Wide(section), Wide(key), nullptr, value, kProfileValueCapacity, Wide(file));
  return std::u16string(reinterpret_cast<const char16_t*>(value), length);
}

bool WriteProfileValue(const std::u16string& section, const std::u16string& key, const std::u16string& value,
                        const std::u16string& file) {
  // The API would write a line break into the file as it is, adding keys the
  // caller never meant; a NUL would silently cut the text.
  if (HoldsLineBreakOrNul(section) || HoldsLineBreakOrNul(key) || HoldsLineBreakOrNul(value)) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  return ::WritePrivateProfileStringW(Wide(section), Wide(key), Wide(value), Wide(file)) != FALSE;
}

}  // namespace inkseal::platform
