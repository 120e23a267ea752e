// Folders on POSIX: the per-user configuration folder of the XDG base
// directories takes the place of Windows' roaming application data.
#include "platform/folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "text/utf.h"

namespace inkseal::platform {

const char16_t kPathSeparator = u'/';

bool IsFullPath(const std::u16string& path) { return !path.empty() && path[0] == u'/'; }

namespace {

// Folders we create for the user are private to them.
constexpr mode_t kPrivateFolderMode = 0700;

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  std::vector<char> buffer(16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
}

// $XDG_CONFIG_HOME when it is an absolute path (relative ones are to be
// ignored), else $HOME/.config.
std::string ConfigFolder() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return config;
  const std::string home = HomeFolder();
  if (home.empty()) return {};
  return home + "/.config";
}

// Creates every missing level of path (no trailing '/'), like "mkdir -p".
bool CreateFolderPath(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return true;
    errno = ENOTDIR;
    return false;
  }
  if (errno != ENOENT) return false;
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0 && !CreateFolderPath(path.substr(0, slash))) return false;
  return ::mkdir(path.c_str(), kPrivateFolderMode) == 0 || errno == EEXIST;
}

}  // namespace

bool GetAppDataFolder(std::u16string& folder) {
  folder.clear();
  std::string path = ConfigFolder();
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  if (!CreateFolderPath(path)) return false;
  folder = Utf8ToUtf16(path);
  return true;
}

bool CreateDirectoryLevel(const std::u16string& path) {
  return ::mkdir(Utf16ToUtf8(path).c_str(), kPrivateFolderMode) == 0;
}

}  // namespace inkseal::platform
