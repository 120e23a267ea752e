#include "platform/document_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>

#include "common/utf.h"
#include "platform/last_error.h"
#include "platform/unique_fd_posix.h"

namespace inkseal::platform {
namespace {

// A body length travels as a signed 32-bit count.
constexpr uint64_t kLargestDocument = INT32_MAX;
constexpr size_t kReadPiece = 1 << 20;

// Opens a regular file for reading; anything else (a folder, a pipe that
// would block) cannot be a printed document.
bool OpenDocument(const std::u16string& path, UniqueFd& fd, uint64_t& size) {
  fd.reset(::open(Utf16ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) return false;
  struct stat info;
  if (::fstat(fd.get(), &info) != 0) return false;
  if (!S_ISREG(info.st_mode)) {
    SetLastError(S_ISDIR(info.st_mode) ? EISDIR : EINVAL);
    return false;
  }
  size = static_cast<uint64_t>(info.st_size);
  return true;
}

}  // namespace

bool ProbeDocument(const std::u16string& path) {
  UniqueFd fd;
  uint64_t size = 0;
  return OpenDocument(path, fd, size);
}

bool ReadDocument(const std::u16string& path, std::vector<char>& bytes) {
  bytes.clear();
  UniqueFd fd;
  uint64_t size = 0;
  if (!OpenDocument(path, fd, size)) return false;
  if (size > kLargestDocument) {
    SetLastError(kErrorFileTooLarge);
    return false;
  }
  bytes.reserve(static_cast<size_t>(size));
  // Up to end of file, even if the file changed size since it was measured.
  for (;;) {
    const size_t done = bytes.size();
    bytes.resize(done + kReadPiece);
    const ssize_t n = ::read(fd.get(), bytes.data() + done, kReadPiece);
    if (n < 0 && errno == EINTR) {
      bytes.resize(done);
      continue;
    }
    if (n < 0) {
      const int error = errno;
      bytes.clear();
      SetLastError(static_cast<uint32_t>(error));
      return false;
    }
    bytes.resize(done + static_cast<size_t>(n));
    if (n == 0) return true;
    if (bytes.size() > kLargestDocument) {
      bytes.clear();
      SetLastError(kErrorFileTooLarge);
      return false;
    }
  }
}

}  // namespace inkseal::platform
