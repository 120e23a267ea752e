#include "platform/document_file.h"

#include <windows.h>
#include <io.h>
#include <share.h>

#include <cstdint>
#include <cstdio>
#include <memory>

namespace inkseal::platform {
namespace {

// A body length travels as a signed 32-bit count.
constexpr int64_t kLargestDocument = INT32_MAX;
constexpr size_t kReadPiece = 1 << 20;

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// Shared with everyone, so a printer driver still holding the file does not
// stop us.  A failed open leaves the system's error as the last error.
File OpenShared(const std::u16string& path, const wchar_t* mode) {
  return File(::_wfsopen(reinterpret_cast<const wchar_t*>(path.c_str()), mode, _SH_DENYNO));
}

}  // namespace

bool ProbeDocument(const std::u16string& path) { return OpenShared(path, L"rt") != nullptr; }

bool ReadDocument(const std::u16string& path, std::vector<char>& bytes) {
  bytes.clear();
  const File file = OpenShared(path, L"rb");
  if (!file) return false;
  if (::_filelengthi64(::_fileno(file.get())) > kLargestDocument) {
    ::SetLastError(ERROR_FILE_TOO_LARGE);
    return false;
  }
  for (;;) {
    const size_t done = bytes.size();
    bytes.resize(done + kReadPiece);
    const size_t n = std::fread(bytes.data() + done, 1, kReadPiece, file.get());
    bytes.resize(done + n);
    if (static_cast<int64_t>(bytes.size()) > kLargestDocument) {
      bytes.clear();
      ::SetLastError(ERROR_FILE_TOO_LARGE);
      return false;
    }
    if (n < kReadPiece) break;
  }
  if (std::ferror(file.get())) {
    bytes.clear();
    if (::GetLastError() == ERROR_SUCCESS) ::SetLastError(ERROR_READ_FAULT);
    return false;
  }
  return true;
}

}  // namespace inkseal::platform
