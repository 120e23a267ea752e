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

bool WriteProfileValues(const std::u16string& section, const ProfileEntries& entries,
                        const std::u16string& file, size_t& failedEntry) {
  // The profile API writes one key at a time, so the whole set goes into a
  // copy of the file that then replaces it in one step.  The copy has a
  // fixed name: one left by a killed writer is simply overwritten.
  const std::u16string copy = file + u".inkseal-new";
  failedEntry = entries.size();
  if (!::CopyFileW(Wide(file), Wide(copy), FALSE)) {
    if (::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    ::DeleteFileW(Wide(copy));  // no file yet: the set starts a fresh one
  }
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!WriteProfileValue(section, entries[i].first, entries[i].second, copy)) {
      const DWORD error = ::GetLastError();
      ::DeleteFileW(Wide(copy));
      failedEntry = i;
      ::SetLastError(error);
      return false;
    }
  }
  if (!::MoveFileExW(Wide(copy), Wide(file), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = ::GetLastError();
    ::DeleteFileW(Wide(copy));
    ::SetLastError(error);
    return false;
  }
  return true;
}

}  // namespace inkseal::platform
