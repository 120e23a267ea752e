#include "printer/agent_link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace inkseal::printer {

std::string FallbackAgentFolder(uid_t uid) { return "/tmp/inkseal-" + std::to_string(uid); }

std::string RuntimeAgentFolder(const std::string& runtime_root, uid_t uid) {
  return runtime_root + "/" + std::to_string(uid) + "/" + kAgentFolderName;
}

bool IsPrivateFolder(const std::string& path, uid_t uid) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == uid && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool WriteAll(int fd, const void* data, size_t size) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t written = ::write(fd, bytes, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool ReadAll(int fd, void* data, size_t size) {
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = ::read(fd, bytes, size);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    bytes += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteFrame(int fd, const void* data, size_t size) {
  const uint32_t length = static_cast<uint32_t>(size);
  const unsigned char prefix[4] = {static_cast<unsigned char>(length >> 24), static_cast<unsigned char>(length >> 16),
                                   static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
  return WriteAll(fd, prefix, sizeof prefix) && (size == 0 || WriteAll(fd, data, size));
}

bool ReadFrame(int fd, std::string& frame, size_t limit) {
  unsigned char prefix[4];
  if (!ReadAll(fd, prefix, sizeof prefix)) return false;
  const size_t length = (size_t{prefix[0]} << 24) | (size_t{prefix[1]} << 16) | (size_t{prefix[2]} << 8) | prefix[3];
  if (length > limit) return false;
  frame.resize(length);
  return length == 0 || ReadAll(fd, frame.data(), length);
}

bool ReadLine(int fd, std::string& line, size_t limit) {
  line.clear();
  for (;;) {
    char c = 0;
    if (!ReadAll(fd, &c, 1)) return false;
    if (c == '\n') return true;
    if (line.size() >= limit) return false;
    line.push_back(c);
  }
}

}  // namespace inkseal::printer
