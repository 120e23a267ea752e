#include "platform/document_file.h"

#include <windows.h>
#include <share.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include "platform/last_error.h"

namespace inkseal::platform {
namespace {

// A body length travels as a signed 32-bit count.
constexpr uint64_t kLargestDocument = INT32_MAX;
// The first reading goes through one small buffer that stays in the
// processor's cache; the bytes are thrown away, only the reading counts.
constexpr DWORD kCheckBufferBytes = 256 * 1024;

bool Fail(DWORD code) {
  ::SetLastError(code);
  return false;
}

struct HandleCloser {
  void operator()(HANDLE handle) const { ::CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<void, HandleCloser>;

// What tells one version of the file from the next.
struct Stamp {
  uint64_t size = 0;
  FILETIME written{};
  bool operator==(const Stamp& other) const {
    return size == other.size && written.dwLowDateTime == other.written.dwLowDateTime &&
           written.dwHighDateTime == other.written.dwHighDateTime;
  }
};

bool StampOf(HANDLE file, Stamp& stamp) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info)) return false;
  stamp.size = (uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  stamp.written = info.ftLastWriteTime;
  return true;
}

// Reads at an offset on a synchronous handle; false leaves the last error.
bool ReadAt(HANDLE file, uint8_t* buffer, DWORD count, uint64_t offset, DWORD& read) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  read = 0;
  if (::ReadFile(file, buffer, count, &read, &at)) return true;
  if (::GetLastError() == ERROR_HANDLE_EOF) {
    read = 0;
    return true;
  }
  return false;
}

}  // namespace

struct DocumentFileState {
  UniqueHandle file;
  Stamp stamp;
};

void DocumentFileCloser::operator()(DocumentFileState* state) const { delete state; }

DocumentFile::DocumentFile() = default;
DocumentFile::~DocumentFile() = default;

bool ProbeDocument(const std::u16string& path) {
  // Shared with everyone, so a printer driver still holding the file does
  // not stop us.  A failed open leaves the system's error as the last error.
  FILE* file = ::_wfsopen(reinterpret_cast<const wchar_t*>(path.c_str()), L"rt", _SH_DENYNO);
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

bool DocumentFile::ReadWhole(const std::u16string& path) {
  state_.reset();
  size_ = 0;
  position_ = 0;
  std::unique_ptr<DocumentFileState> state(new (std::nothrow) DocumentFileState);
  if (!state) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  // Sharing with everyone, as the probe: the printer driver may still hold it.
  HANDLE raw = ::CreateFileW(reinterpret_cast<const wchar_t*>(path.c_str()), GENERIC_READ,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (raw == INVALID_HANDLE_VALUE) return false;
  state->file.reset(raw);
  if (!StampOf(raw, state->stamp)) return false;
  if (state->stamp.size > kLargestDocument) return Fail(ERROR_FILE_TOO_LARGE);
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCheckBufferBytes]);
  if (!buffer) return Fail(ERROR_NOT_ENOUGH_MEMORY);
  // Up to the end of the file, not up to the measured size.
  uint64_t done = 0;
  for (;;) {
    DWORD n = 0;
    if (!ReadAt(raw, buffer.get(), kCheckBufferBytes, done, n)) {
      if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_READ_FAULT);
      return false;
    }
    if (n == 0) break;
    done += n;
    if (done > kLargestDocument) return Fail(ERROR_FILE_TOO_LARGE);
  }
  // Written to while it was read: there is no one version to send.
  Stamp after;
  if (!StampOf(raw, after)) return false;
  if (!(after == state->stamp) || after.size != done) return Fail(kErrorDocumentChanged);
  size_ = static_cast<uint32_t>(done);
  state_.reset(state.release());
  return true;
}

bool DocumentFile::ReadPiece(uint8_t* buffer, size_t capacity, size_t& count) {
  count = 0;
  if (!state_) return Fail(ERROR_INVALID_PARAMETER);
  const auto wanted = static_cast<DWORD>(std::min<uint64_t>({capacity, size_ - position_, kCheckBufferBytes * 64}));
  if (wanted == 0) return true;
  HANDLE file = state_->file.get();
  Stamp now;
  if (!StampOf(file, now)) return false;
  if (!(now == state_->stamp)) return Fail(kErrorDocumentChanged);
  DWORD got = 0;
  while (got < wanted) {
    DWORD n = 0;
    if (!ReadAt(file, buffer + got, wanted - got, uint64_t{position_} + got, n)) return false;
    if (n == 0) return Fail(kErrorDocumentChanged);  // shorter than it was
    got += n;
  }
  // A write may land while the piece is read: look again before the bytes
  // go anywhere.
  if (!StampOf(file, now)) return false;
  if (!(now == state_->stamp)) return Fail(kErrorDocumentChanged);
  position_ += got;
  count = got;
  return true;
}

}  // namespace inkseal::platform
