#include "platform/process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "text/utf.h"
#include "platform/last_error.h"

extern char** environ;

namespace inkseal::platform {
namespace {

// A child killed by a signal exits, as a shell would report it, with 128 + signal.
constexpr uint32_t kSignalExitBase = 128;

}  // namespace

bool HasOwnModuleHandle() { return true; }

bool GetOwnModuleFileName(std::u16string& path) {
  std::string buffer(4096, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return false;
    if (static_cast<size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<size_t>(length));
      break;
    }
    buffer.resize(buffer.size() * 2);  // cut off: ask again with more room
  }
  path = Utf8ToUtf16(buffer);
  return true;
}

ChildProcess::~ChildProcess() { Close(); }

bool ChildProcess::Start(const std::u16string& application) {
  Close();
  const std::string path = Utf16ToUtf8(application);
  char* const argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv, environ);
  if (error != 0) {
    SetLastError(static_cast<uint32_t>(error));
    return false;
  }
  pid_ = pid;
  return true;
}

void ChildProcess::Wait() {
  if (pid_ < 0 || reaped_) return;
  for (;;) {
    if (::waitpid(pid_, &status_, 0) == pid_) {
      reaped_ = true;
      return;
    }
    if (errno != EINTR) return;
  }
}

bool ChildProcess::GetExitCode(uint32_t& code) {
  if (!reaped_) {
    SetLastError(ECHILD);
    return false;
  }
  if (WIFEXITED(status_)) {
    code = static_cast<uint32_t>(WEXITSTATUS(status_));
  } else {
    code = kSignalExitBase + static_cast<uint32_t>(WTERMSIG(status_));
  }
  return true;
}

int ChildProcess::TerminatingSignal() const { return reaped_ && WIFSIGNALED(status_) ? WTERMSIG(status_) : 0; }

// Like closing a process handle on Windows, this neither stops nor waits for
// a child still running.
void ChildProcess::Close() {
  pid_ = -1;
  status_ = 0;
  reaped_ = false;
}

}  // namespace inkseal::platform
