// The desktop shell on Linux: xdg-open opens an address with the user's
// default handler (and honours $BROWSER).
//
// xdg-open's $BROWSER fallback runs the browser in the foreground, so
// waiting for xdg-open to end would hold the caller until the user closes
// the browser.  The opener is therefore started in a session of its own and
// watched only for a short while: an exit within that time is its verdict
// (a refusal when non-zero); one still running afterwards has handed the
// address to a handler that is now running, which is success.
#include "platform/shell.h"

#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

#include <cerrno>
#include <string>

#include "text/utf.h"
#include "platform/last_error.h"

extern char** environ;

namespace inkseal::platform {
namespace {

constexpr char kOpener[] = "xdg-open";
// Long enough for xdg-open to probe the desktop and for a handler that
// cannot be started to fail; short enough not to be noticed.
constexpr int kEarlyFailureWaitMs = 1500;
constexpr int kPollIntervalMs = 10;

// xdg-open's documented exit codes, as the nearest system error.
uint32_t RefusalError(int status) {
  if (!WIFEXITED(status)) return ECANCELED;
  switch (WEXITSTATUS(status)) {
    case 1: return EINVAL;  // bad address or arguments
    case 2: return ENOENT;  // the file named does not exist
    case 3: return ENOENT;  // no tool to open it with
    default: return ECANCELED;
  }
}

void SleepMs(int ms) {
  timespec interval{ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&interval, &interval) != 0 && errno == EINTR) {
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

ComScope::ComScope() = default;
ComScope::~ComScope() = default;

bool ShellOpen(const std::u16string& address) {
  const std::string target = Utf16ToUtf8(address);
  char* const argv[] = {const_cast<char*>(kOpener), const_cast<char*>(target.c_str()), nullptr};
  DetachedSpawn detached;
  pid_t pid = -1;
  const int error = ::posix_spawnp(&pid, kOpener, nullptr, detached.get(), argv, environ);
  if (error != 0) {
    SetLastError(static_cast<uint32_t>(error));
    return false;
  }
  for (int waited = 0; waited < kEarlyFailureWaitMs; waited += kPollIntervalMs) {
    int status = 0;
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid) {
      if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
      SetLastError(RefusalError(status));
      return false;
    }
    if (ended < 0 && errno != EINTR) return false;
    SleepMs(kPollIntervalMs);
  }
  return true;  // still running: the handler has the address
}

std::u16string TrimCharacters(const std::u16string& text, const std::u16string& chars) {
  const size_t first = text.find_first_not_of(chars);
  if (first == std::u16string::npos) return {};
  const size_t last = text.find_last_not_of(chars);
  return text.substr(first, last - first + 1);
}

}  // namespace inkseal::platform
