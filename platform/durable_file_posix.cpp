#include "platform/durable_file.h"

#include <fcntl.h>
#include <unistd.h>

#include "platform/unique_fd_posix.h"
#include "text/utf.h"

namespace inkseal::platform {

bool OverwriteFileStart(const std::u16string& path, const std::string& bytes) {
  UniqueFd file(::open(Utf16ToUtf8(path).c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW));
  return file.valid() && ::pwrite(file.get(), bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()) &&
         ::fdatasync(file.get()) == 0 && file.Close();
}

}  // namespace inkseal::platform
