#include "platform/user_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "text/utf.h"

namespace inkseal::platform {

UserLock::~UserLock() { Release(); }

void UserLock::Release() {
  if (fd_ >= 0) ::close(fd_);  // closing the file releases the lock
  fd_ = -1;
}

bool UserLock::Acquire(const std::u16string& name, const std::u16string& folder) {
  std::string path = Utf16ToUtf8(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  path += "." + Utf16ToUtf8(name) + ".lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return false;
  int result;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return false;
  }
  fd_ = fd;
  return true;
}

}  // namespace inkseal::platform
