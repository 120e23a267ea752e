// A POSIX file descriptor closed when it leaves scope, and whole-file reading.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace inkseal::platform {

class UniqueFd {
 public:
  explicit UniqueFd(int fd = -1) : descriptor(fd) {}
  ~UniqueFd() { Close(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : descriptor(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  int get() const { return descriptor; }
  void reset(int fd = -1) {
    Close();
    descriptor = fd;
  }
  // Hands the descriptor to the caller, who closes it from now on.
  [[nodiscard]] int release() {
    const int fd = descriptor;
    descriptor = -1;
    return fd;
  }
  bool valid() const { return descriptor >= 0; }
  // Closes now and tells whether the close succeeded (the last chance for a
  // delayed write error to show), keeping errno from the close.
  bool Close() {
    if (descriptor < 0) return true;
    const int result = ::close(descriptor);
    descriptor = -1;
    return result == 0;
  }

 private:
  int descriptor;
};

// Reads from fd until end of file, at most limit bytes (EFBIG beyond that).
// False with errno set on failure.
inline bool ReadAll(int fd, std::string& bytes, size_t limit) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    if (bytes.size() + static_cast<size_t>(n) > limit) {
      errno = EFBIG;
      return false;
    }
    bytes.append(buffer, static_cast<size_t>(n));
  }
}

// Writes every byte, going on after partial writes.  False with errno set.
inline bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace inkseal::platform
