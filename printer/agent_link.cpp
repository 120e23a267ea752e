#include "printer/agent_link.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "printer/printable_line.h"

namespace inkseal::printer {
namespace {

// Waits until socket is ready for events or the deadline passes (one look
// even when it has passed, so that what already waits is still taken).
bool WaitFor(int socket, short events, Deadline deadline) {
  for (;;) {
    // Rounded up: a wait that ends in time out has seen its deadline pass.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd entry{socket, events, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(0, left.count())));
    if (ready > 0) return true;  // errors and hang-ups show in the next call
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) errno = ETIMEDOUT;
    return false;
  }
}

bool ReceiveAll(int socket, void* data, size_t size, Deadline deadline) {
  char* bytes = static_cast<char*>(data);
  while (size > 0) {
    const ssize_t got = ::recv(socket, bytes, size, MSG_DONTWAIT);
    if (got > 0) {
      bytes += got;
      size -= static_cast<size_t>(got);
    } else if (got == 0) {
      errno = ECONNRESET;
      return false;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitFor(socket, POLLIN, deadline)) return false;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string RuntimeRoot() {
  const char* root = std::getenv(kRuntimeRootVariable);
  return root && *root ? root : kDefaultRuntimeRoot;
}

std::string UserRuntimeFolder(uid_t uid) { return RuntimeRoot() + "/" + std::to_string(uid); }

std::string AgentSocketPath(const std::string& runtimeFolder) {
  return runtimeFolder + "/" + kAgentFolderName + "/" + kSocketName;
}

bool IsPrivateFolder(const std::string& path, uid_t uid) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) return false;
  return S_ISDIR(info.st_mode) && info.st_uid == uid && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool SendAll(int socket, const void* data, size_t size, Deadline deadline) {
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    // MSG_NOSIGNAL: a peer that went away is a failed send, not SIGPIPE.
    const ssize_t sent = ::send(socket, bytes, size, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent >= 0) {
      bytes += sent;
      size -= static_cast<size_t>(sent);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!WaitFor(socket, POLLOUT, deadline)) return false;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool SendFrame(int socket, const void* data, size_t size, Deadline deadline) {
  const uint32_t length = static_cast<uint32_t>(size);
  const unsigned char prefix[4] = {static_cast<unsigned char>(length >> 24), static_cast<unsigned char>(length >> 16),
                                   static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
  return SendAll(socket, prefix, sizeof prefix, deadline) && (size == 0 || SendAll(socket, data, size, deadline));
}

bool ReceiveFrame(int socket, std::string& frame, size_t limit, Deadline deadline) {
  unsigned char prefix[4];
  if (!ReceiveAll(socket, prefix, sizeof prefix, deadline)) return false;
  const size_t length = (size_t{prefix[0]} << 24) | (size_t{prefix[1]} << 16) | (size_t{prefix[2]} << 8) | prefix[3];
  if (length > limit) {
    errno = EMSGSIZE;
    return false;
  }
  frame.resize(length);
  return length == 0 || ReceiveAll(socket, frame.data(), length, deadline);
}

bool ReceiveLine(int socket, std::string& line, size_t limit, Deadline deadline) {
  line.clear();
  for (;;) {
    char c = 0;
    if (!ReceiveAll(socket, &c, 1, deadline)) return false;
    if (c == '\n') return true;
    if (line.size() >= limit) {
      errno = EMSGSIZE;
      return false;
    }
    line.push_back(c);
  }
}

bool ParseReply(const std::string& line, std::string& reason) {
  if (line == kReplyOk) return true;
  const std::string prefix = kReplyError;
  reason = line.compare(0, prefix.size(), prefix) == 0 ? PrintableLine(std::string_view(line).substr(prefix.size()))
                                                       : "an answer it does not know: " + PrintableLine(line);
  return false;
}

}  // namespace inkseal::printer
