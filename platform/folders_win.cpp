#include "platform/folders.h"

#include <windows.h>
#include <shlobj.h>

namespace inkseal::platform {

const char16_t kPathSeparator = u'\\';

bool IsFullPath(const std::u16string& path) {
  auto separator = [](char16_t c) { return c == u'\\' || c == u'/'; };
  if (path.size() >= 2 && separator(path[0]) && separator(path[1])) return true;
  const bool driveLetter = path.size() >= 3 && ((path[0] >= u'A' && path[0] <= u'Z') || (path[0] >= u'a' && path[0] <= u'z'));
  return driveLetter && path[1] == u':' && separator(path[2]);
}

namespace {

constexpr int kAppDataCreated = CSIDL_APPDATA | CSIDL_FLAG_CREATE;  // 0x801A

}  // namespace

bool GetAppDataFolder(std::u16string& folder) {
  folder.clear();
  wchar_t path[MAX_PATH] = {};
  const HRESULT result = ::SHGetFolderPathW(nullptr, kAppDataCreated, nullptr, SHGFP_TYPE_CURRENT, path);
  if (FAILED(result)) {
    // The failure comes back as a result, not as the last error: carry a
    // system error number over so the report describes the real cause.
    if (HRESULT_FACILITY(result) == FACILITY_WIN32) ::SetLastError(HRESULT_CODE(result));
    return false;
  }
  folder = reinterpret_cast<const char16_t*>(path);
  return true;
}

bool CreateDirectoryLevel(const std::u16string& path) {
  return ::CreateDirectoryW(reinterpret_cast<const wchar_t*>(path.c_str()), nullptr) != FALSE;
}

}  // namespace inkseal::platform
