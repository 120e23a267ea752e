// xdg-open's $BROWSER fallback runs the browser in the foreground, so
// waiting for xdg-open to end would hold the caller until the user closes
// the browser.  The opener is therefore started in a session of its own and
// watched only for a short while: an exit within that time is its verdict
// (a refusal when non-zero); one still running afterwards has handed the
// address to a handler that is now running, which is success.
#include "platform/xdg_open_posix.h"

#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/last_error.h"

extern char** environ;

namespace inkseal::platform {
namespace {

constexpr char kOpener[] = "xdg-open";
// Long enough for xdg-open to probe the desktop and for a handler that
// cannot be started to fail; short enough not to be noticed.
constexpr int kEarlyFailureWaitMs = 1500;
constexpr int kNapMs = 5;

// xdg-open's documented exit codes, as the nearest error number.
uint32_t RefusalError(int status) {
  if (!WIFEXITED(status)) return ECANCELED;
  switch (WEXITSTATUS(status)) {
    case 1: return EINVAL;               // bad address or arguments
    case 2: return ENOENT;               // the file named does not exist
    case 3: return kErrorNoAssociation;  // no tool to open it with
    default: return ECANCELED;           // 4: the tool it found failed
  }
}

int ElapsedMs(const timespec& since) {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int>((now.tv_sec - since.tv_sec) * 1000 + (now.tv_nsec - since.tv_nsec) / 1000000);
}

// Returns when the child has ended (without reaping it) or timeout_ms have
// passed: on a process descriptor where the kernel has them (Linux 5.3),
// else by short naps.
void WaitForEndOrTimeout(pid_t pid, int timeout_ms) {
  timespec start{};
  ::clock_gettime(CLOCK_MONOTONIC, &start);
#ifdef SYS_pidfd_open
  const int descriptor = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (descriptor >= 0) {
    pollfd ended{descriptor, POLLIN, 0};
    int left = timeout_ms;
    while (left > 0 && ::poll(&ended, 1, left) < 0 && errno == EINTR) left = timeout_ms - ElapsedMs(start);
    ::close(descriptor);
    return;
  }
#endif
  while (ElapsedMs(start) < timeout_ms) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) {
      return;
    }
    timespec nap{0, kNapMs * 1000000L};
    ::nanosleep(&nap, nullptr);
  }
}

// Its own session, so that the handler outlives the caller and is not hit
// by signals meant for the caller's process group.
class DetachedSpawn {
 public:
  DetachedSpawn() {
    ::posix_spawnattr_init(&attributes_);
    ::posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSID);
  }
  ~DetachedSpawn() { ::posix_spawnattr_destroy(&attributes_); }
  DetachedSpawn(const DetachedSpawn&) = delete;
  DetachedSpawn& operator=(const DetachedSpawn&) = delete;
  const posix_spawnattr_t* get() const { return &attributes_; }

 private:
  posix_spawnattr_t attributes_;
};

}  // namespace

bool OpenWithXdgOpen(const std::string& address) {
  char* const argv[] = {const_cast<char*>(kOpener), const_cast<char*>(address.c_str()), nullptr};
  DetachedSpawn detached;
  pid_t pid = -1;
  const int error = ::posix_spawnp(&pid, kOpener, nullptr, detached.get(), argv, environ);
  if (error != 0) {
    SetLastError(error == ENOENT ? kErrorNoAssociation : static_cast<uint32_t>(error));
    return false;
  }
  WaitForEndOrTimeout(pid, kEarlyFailureWaitMs);
  int status = 0;
  pid_t ended = -1;
  while ((ended = ::waitpid(pid, &status, WNOHANG)) < 0 && errno == EINTR) {
  }
  if (ended != pid) return true;  // still running: the handler has the address
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  SetLastError(RefusalError(status));
  return false;
}

}  // namespace inkseal::platform
