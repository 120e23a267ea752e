// Settings files on POSIX: our own private-profile reader and writer (the
// text rules live in text/private_profile.h).  A write replaces the file
// atomically: the new text goes to a temporary file in the same folder,
// which is flushed to disk and renamed over the old one, so a crash or a
// full disk never leaves a half-written or emptied settings file.
#include "platform/settings_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <string>

#include "text/private_profile.h"
#include "text/utf.h"
#include "platform/last_error.h"
#include "platform/unique_fd_posix.h"

namespace inkseal::platform {
namespace {

// A settings file is a few lines; anything much larger is not one.
constexpr size_t kMaxSettingsFileSize = 16 * 1024 * 1024;
// Settings may hold secrets: a new file is readable by its owner only.
constexpr mode_t kNewFileMode = 0600;
// Group and others lose every right to a file that secrets are written into.
constexpr mode_t kOwnerOnlyMask = 0700;

constexpr char kTemporaryPrefix[] = ".inkseal-";
// A temporary file older than this was left by a writer that was killed:
// no write takes this long.
constexpr time_t kStaleTemporaryAgeSeconds = 60;

bool HoldsLineBreakOrNul(const std::u16string& text) {
  return text.find_first_of(std::u16string(u"\r\n\0", 3)) != std::u16string::npos;
}

// Reads a regular file whole.  A missing file reads as empty with exists
// false; anything that is not a regular file fails (never blocks on a pipe).
bool ReadSettingsFile(const std::string& path, std::string& bytes, bool& exists, mode_t& mode) {
  exists = false;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) return errno == ENOENT;
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    errno = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
    return false;
  }
  exists = true;
  mode = info.st_mode & 07777;
  return ReadAll(fd.get(), bytes, kMaxSettingsFileSize);
}

// The file a write lands in: through a symbolic link to its target, so the
// link itself survives the rename.
std::string WriteTarget(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  return path;
}

std::string FolderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Removes the temporary files that writers killed before their rename left
// in folder.  Recent ones may belong to a write still going on: they stay.
void RemoveStaleTemporaries(const std::string& folder) {
  DIR* directory = ::opendir(folder.c_str());
  if (directory == nullptr) return;
  const time_t now = ::time(nullptr);
  while (const dirent* entry = ::readdir(directory)) {
    const std::string name = entry->d_name;
    if (name.rfind(kTemporaryPrefix, 0) != 0) continue;
    const std::string path = folder + "/" + name;
    struct stat info;
    if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        now - info.st_mtime > kStaleTemporaryAgeSeconds) {
      ::unlink(path.c_str());
    }
  }
  ::closedir(directory);
}

// Writes bytes to a fresh temporary file beside path and renames it over
// path.  On failure the temporary file is gone and path is untouched.
bool ReplaceFile(const std::string& path, const std::string& bytes, mode_t mode) {
  const std::string folder = FolderOf(path);
  RemoveStaleTemporaries(folder);
  std::string temporary = folder + "/" + kTemporaryPrefix + "XXXXXX";
  UniqueFd fd(::mkostemp(temporary.data(), O_CLOEXEC));  // created 0600
  if (!fd.valid()) return false;
  const bool written = ::fchmod(fd.get(), mode) == 0 && WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0 &&
                       fd.Close() && ::rename(temporary.c_str(), path.c_str()) == 0;
  if (!written) {
    const int error = errno;
    ::unlink(temporary.c_str());
    errno = error;
    return false;
  }
  // Make the rename itself durable; a failure here loses nothing written.
  UniqueFd directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.valid()) ::fsync(directory.get());
  return true;
}

}  // namespace

std::u16string ReadProfileValue(const std::u16string& section, const std::u16string& key,
                                 const std::u16string& file) {
  std::string bytes;
  bool exists;
  mode_t mode;
  if (!ReadSettingsFile(Utf16ToUtf8(file), bytes, exists, mode) || !exists) return {};
  const std::optional<std::u16string> value = ProfileText(bytes).Find(section, key);
  if (!value) return {};
  return value->substr(0, kProfileValueCapacity - 1);
}

namespace {

// Writes the entries into the file in one replacement.  A set of secrets
// makes an existing file owner-only; a single value keeps the file's mode.
bool ReplaceWithValues(const std::u16string& section, const ProfileEntries& entries, const std::u16string& file,
                       size_t& failedEntry, bool ownerOnly) {
  failedEntry = entries.size();
  for (size_t i = 0; i < entries.size(); ++i) {
    if (HoldsLineBreakOrNul(section) || HoldsLineBreakOrNul(entries[i].first) ||
        HoldsLineBreakOrNul(entries[i].second) || file.empty()) {
      failedEntry = i;
      SetLastError(kErrorInvalidParameter);
      return false;
    }
  }
  const std::string path = WriteTarget(Utf16ToUtf8(file));
  std::string bytes;
  bool exists;
  mode_t mode = kNewFileMode;
  if (!ReadSettingsFile(path, bytes, exists, mode)) return false;
  for (const auto& [key, value] : entries) bytes = ProfileText(bytes).WithValue(section, key, value);
  if (!exists) return ReplaceFile(path, bytes, kNewFileMode);
  return ReplaceFile(path, bytes, ownerOnly ? (mode & kOwnerOnlyMask) : mode);
}

}  // namespace

bool WriteProfileValue(const std::u16string& section, const std::u16string& key, const std::u16string& value,
                       const std::u16string& file) {
  size_t failedEntry;
  return ReplaceWithValues(section, {{key, value}}, file, failedEntry, /*ownerOnly=*/false);
}

bool WriteProfileValues(const std::u16string& section, const ProfileEntries& entries,
                        const std::u16string& file, size_t& failedEntry) {
  return ReplaceWithValues(section, entries, file, failedEntry, /*ownerOnly=*/true);
}

}  // namespace inkseal::platform
