#include "platform/durable_file.h"

#include <windows.h>

namespace inkseal::platform {

bool OverwriteFileStart(const std::u16string& path, const std::string& bytes) {
  const std::wstring name(path.begin(), path.end());
  HANDLE file = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool stored = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                      written == bytes.size() && ::FlushFileBuffers(file);
  const DWORD error = ::GetLastError();
  ::CloseHandle(file);
  if (!stored) ::SetLastError(error);
  return stored;
}

}  // namespace inkseal::platform
