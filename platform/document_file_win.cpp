#include "platform/document_file.h"

#include <windows.h>
#include <io.h>
#include <share.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

namespace inkseal::platform {
namespace {

// A body length travels as a signed 32-bit count.
constexpr uint64_t kLargestDocument = INT32_MAX;

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Shared with everyone, so a printer driver still holding the file does not
// stop us.  A failed open leaves the system's error as the last error.
File OpenShared(const std::u16string& path, const wchar_t* mode) {
  return File(::_wfsopen(reinterpret_cast<const wchar_t*>(path.c_str()), mode, _SH_DENYNO));
}

// Room for a file that grew since it was measured: twice the size, at most
// one byte beyond the largest document (so that too large still shows).
std::unique_ptr<uint8_t[]> Grown(std::unique_ptr<uint8_t[]> data, size_t used, size_t& capacity) {
  capacity = static_cast<size_t>(std::min<uint64_t>(uint64_t{capacity} * 2, kLargestDocument + 1));
  std::unique_ptr<uint8_t[]> grown(new (std::nothrow) uint8_t[capacity]);
  if (grown != nullptr) std::memcpy(grown.get(), data.get(), used);
  return grown;
}

}  // namespace

bool ProbeDocument(const std::u16string& path) { return OpenShared(path, L"rt") != nullptr; }

bool ReadDocument(const std::u16string& path, DocumentBytes& bytes) {
  bytes = DocumentBytes();
  const File file = OpenShared(path, L"rb");
  if (!file) return false;
  const int64_t size = ::_filelengthi64(::_fileno(file.get()));
  if (size > static_cast<int64_t>(kLargestDocument)) {
    ::SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  // One buffer of the measured size plus a spare byte: no zero-filling, no
  // growing, no second copy for a document that keeps its size.  A file
  // that grows while it is read is still read up to its end.
  size_t capacity = static_cast<size_t>(std::max<int64_t>(size, 0)) + 1;
  std::unique_ptr<uint8_t[]> data(new (std::nothrow) uint8_t[capacity]);
  size_t done = 0;
  for (;;) {
    if (data == nullptr) {
      ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    const size_t wanted = capacity - done;
    const size_t n = std::fread(data.get() + done, 1, wanted, file.get());
    done += n;
    if (done > kLargestDocument) {
      ::SetLastError(ERROR_FILE_TOO_LARGE);
      return false;
    }
    if (n < wanted) break;
    data = Grown(std::move(data), done, capacity);
  }
  if (std::ferror(file.get())) {
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_READ_FAULT);
    return false;
  }
  bytes.data = std::move(data);
  bytes.size = static_cast<uint32_t>(done);
  return true;
}

}  // namespace inkseal::platform
