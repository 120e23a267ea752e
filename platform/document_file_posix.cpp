#include "platform/document_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "text/utf.h"
#include "platform/last_error.h"
#include "platform/unique_fd_posix.h"

namespace inkseal::platform {
namespace {

// A body length travels as a signed 32-bit count.
constexpr uint64_t kLargestDocument = INT32_MAX;
constexpr uintptr_t kLargePage = uintptr_t{2} << 20;

// Room for a file that grew since it was measured: twice the size, at most
// one byte beyond the largest document (so that too large still shows).
std::unique_ptr<uint8_t[]> Grown(std::unique_ptr<uint8_t[]> data, size_t used, size_t& capacity) {
  capacity = static_cast<size_t>(std::min<uint64_t>(uint64_t{capacity} * 2, kLargestDocument + 1));
  std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[capacity]);
  if (grown != nullptr) std::memcpy(grown.get(), data.get(), used);
  return grown;
}

// Every 4 KiB page of a fresh buffer costs a fault when the read first
// touches it; for a large document those faults take longer than reading
// the file.  Large pages need a five-hundredth of them.  Only advice: the
// read works the same when the system declines.
void PreferLargePages(void* buffer, size_t size) {
  const auto start = reinterpret_cast<uintptr_t>(buffer);
  const uintptr_t first = (start + kLargePage - 1) & ~(kLargePage - 1);
  const uintptr_t last = (start + size) & ~(kLargePage - 1);
  if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

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

bool ReadDocument(const std::u16string& path, DocumentBytes& bytes) {
  bytes = DocumentBytes();
  UniqueFd fd;
  uint64_t size = 0;
  if (!OpenDocument(path, fd, size)) return false;
  if (size > kLargestDocument) {
    SetLastError(kErrorFileTooLarge);
    return false;
  }
  // One buffer of the measured size plus a spare byte, filled by as few
  // reads as the system allows: no zero-filling, no growing, no second copy
  // for a document that keeps its size.  A file that grows while it is read
  // is still read up to its end.
  size_t capacity = static_cast<size_t>(size) + 1;
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[capacity]);
  if (data != nullptr) PreferLargePages(data.get(), capacity);
  size_t done = 0;
  for (;;) {
    if (data == nullptr) {
      SetLastError(ENOMEM);
      return false;
    }
    const ssize_t n = ::read(fd.get(), data.get() + done, capacity - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      SetLastError(static_cast<uint32_t>(errno));
      return false;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
    if (done > kLargestDocument) {
      SetLastError(kErrorFileTooLarge);
      return false;
    }
    if (done == capacity) data = Grown(std::move(data), done, capacity);
  }
  bytes.data = std::move(data);
  bytes.size = static_cast<uint32_t>(done);
  return true;
}

}  // namespace inkseal::platform
