#include "platform/document_file.h"

#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "platform/last_error.h"
#include "platform/unique_fd_posix.h"
#include "text/utf.h"

namespace inkseal::platform {
namespace {

// A body length travels as a signed 32-bit count.
constexpr uint64_t kLargestDocument = INT32_MAX;
// The first reading only has to show that the whole file can be read: its
// bytes are thrown away.  Where they must pass through the program, one
// small buffer that stays in the processor's cache takes them.
constexpr size_t kCheckBufferBytes = 256 * 1024;

bool Fail(uint32_t code) {
  SetLastError(code);
  return false;
}

// What tells one version of the file's content from the next: its size and
// modification time, as on Windows.  The change time is left out on purpose:
// renaming, removing or re-moding the file touches it, and the open file
// whose content did not change is still the document that was printed.
struct Stamp {
  uint64_t size = 0;
  timespec modified{};
  bool operator==(const Stamp& other) const {
    return size == other.size && modified.tv_sec == other.modified.tv_sec &&
           modified.tv_nsec == other.modified.tv_nsec;
  }
};

bool StampOf(int fd, Stamp& stamp, bool& regular, bool& folder) {
  struct stat info;
  if (::fstat(fd, &info) != 0) return false;
  regular = S_ISREG(info.st_mode);
  folder = S_ISDIR(info.st_mode);
  stamp.size = static_cast<uint64_t>(info.st_size);
  stamp.modified = info.st_mtim;
  return true;
}

// Opens a regular file for reading; anything else (a folder, a pipe that
// would block) cannot be a printed document.
bool OpenDocument(const std::u16string& path, UniqueFd& fd, Stamp& stamp) {
  fd.reset(::open(Utf16ToUtf8(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.valid()) return false;
  bool regular = false;
  bool folder = false;
  if (!StampOf(fd.get(), stamp, regular, folder)) return false;
  if (!regular) return Fail(folder ? EISDIR : EINVAL);
  return true;
}

// pread that retries interruptions; a negative result leaves errno.
ssize_t ReadAt(int fd, uint8_t* buffer, size_t count, uint64_t offset) {
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, count, static_cast<off_t>(offset));
    if (n >= 0 || errno != EINTR) return n;
  }
}

// Reads the file from offset done to its end, adding what was read to done.
// The kernel reads it into nowhere (sendfile to the null device), so every
// page is fetched and every read error shows without a byte being copied;
// a file system that cannot do that is read through a small buffer.
bool ReadToEnd(int fd, uint64_t& done) {
  UniqueFd sink(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  while (sink.valid()) {
    off_t offset = static_cast<off_t>(done);
    const ssize_t n = ::sendfile(sink.get(), fd, &offset, kCheckBufferBytes * 16);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EINVAL || errno == ENOSYS)) break;
    if (n < 0) return Fail(static_cast<uint32_t>(errno));
    if (n == 0) return true;
    done += static_cast<uint64_t>(n);
    if (done > kLargestDocument) return Fail(kErrorFileTooLarge);
  }
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCheckBufferBytes]);
  if (!buffer) return Fail(ENOMEM);
  for (;;) {
    const ssize_t n = ReadAt(fd, buffer.get(), kCheckBufferBytes, done);
    if (n < 0) return Fail(static_cast<uint32_t>(errno));
    if (n == 0) return true;
    done += static_cast<uint64_t>(n);
    if (done > kLargestDocument) return Fail(kErrorFileTooLarge);
  }
}

}  // namespace

struct DocumentFileState {
  UniqueFd fd;
  Stamp stamp;
};

void DocumentFileCloser::operator()(DocumentFileState* state) const { delete state; }

DocumentFile::DocumentFile() = default;
DocumentFile::~DocumentFile() = default;

bool ProbeDocument(const std::u16string& path) {
  UniqueFd fd;
  Stamp stamp;
  return OpenDocument(path, fd, stamp);
}

bool DocumentFile::ReadWhole(const std::u16string& path) {
  state_.reset();
  size_ = 0;
  position_ = 0;
  std::unique_ptr<DocumentFileState> state(new (std::nothrow) DocumentFileState);
  if (!state) return Fail(ENOMEM);
  if (!OpenDocument(path, state->fd, state->stamp)) return false;
  if (state->stamp.size > kLargestDocument) return Fail(kErrorFileTooLarge);
  // Up to the end of the file, not up to the measured size: a file that
  // claims a size it cannot deliver (or none at all) must show here.
  uint64_t done = 0;
  if (!ReadToEnd(state->fd.get(), done)) return false;
  // Written to while it was read: there is no one version to send.
  Stamp after;
  bool regular = false;
  bool folder = false;
  if (!StampOf(state->fd.get(), after, regular, folder)) return Fail(static_cast<uint32_t>(errno));
  if (!(after == state->stamp) || after.size != done) return Fail(kErrorDocumentChanged);
  size_ = static_cast<uint32_t>(done);
  state_.reset(state.release());
  return true;
}

bool DocumentFile::ReadPiece(uint8_t* buffer, size_t capacity, size_t& count) {
  count = 0;
  if (!state_) return Fail(kErrorInvalidParameter);
  const size_t wanted = static_cast<size_t>(std::min<uint64_t>(capacity, size_ - position_));
  if (wanted == 0) return true;
  Stamp now;
  bool regular = false;
  bool folder = false;
  if (!StampOf(state_->fd.get(), now, regular, folder)) return Fail(static_cast<uint32_t>(errno));
  if (!(now == state_->stamp)) return Fail(kErrorDocumentChanged);
  size_t got = 0;
  while (got < wanted) {
    const ssize_t n = ReadAt(state_->fd.get(), buffer + got, wanted - got, uint64_t{position_} + got);
    if (n < 0) return Fail(static_cast<uint32_t>(errno));
    if (n == 0) return Fail(kErrorDocumentChanged);  // shorter than it was
    got += static_cast<size_t>(n);
  }
  // A write may land while the piece is read: look again before the bytes
  // go anywhere.
  if (!StampOf(state_->fd.get(), now, regular, folder)) return Fail(static_cast<uint32_t>(errno));
  if (!(now == state_->stamp)) return Fail(kErrorDocumentChanged);
  position_ += static_cast<uint32_t>(got);
  count = got;
  return true;
}

}  // namespace inkseal::platform
