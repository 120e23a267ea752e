#include "printer/watched_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "platform/unique_fd_posix.h"

namespace inkseal::printer {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr char kBeat = 0;
constexpr char kStartTotal = 1;
// How long StartTotal waits for room in the pipe: the parent drains it all
// the time, so only a parent that is gone leaves it full for long.
constexpr milliseconds kStartWait{1000};

int WaitFor(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

ChildResult Stop(pid_t child, ChildEnd why) {
  ::kill(child, SIGKILL);
  WaitFor(child);
  return {why, 0};
}

}  // namespace

ChildResult RunWatched(const std::function<int(int heartbeat)>& work, milliseconds silence, milliseconds total) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return {ChildEnd::kNotStarted, errno};
  platform::UniqueFd reader(ends[0]), writer(ends[1]);
  const pid_t child = ::fork();
  if (child < 0) return {ChildEnd::kNotStarted, errno};
  if (child == 0) {
    reader.Close();
    // _exit: the parent's buffers and exit handlers are the parent's.
    ::_exit(work(writer.get()));
  }
  writer.Close();
  Clock::time_point lastSign = Clock::now();
  std::optional<Clock::time_point> end;
  // Until the child's end of the pipe closes, which it does when it ends.
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (end && now >= *end) return Stop(child, ChildEnd::kOverTime);
    if (now - lastSign >= silence) return Stop(child, ChildEnd::kSilent);
    const Clock::time_point next = end ? std::min(*end, lastSign + silence) : lastSign + silence;
    pollfd entry{reader.get(), POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::chrono::ceil<milliseconds>(next - now).count()));
    if (ready == 0 || (ready < 0 && errno == EINTR)) continue;
    char beats[256];
    const ssize_t got = ready > 0 ? ::read(reader.get(), beats, sizeof beats) : -1;
    if (got == 0) break;
    if (got < 0) {
      if (ready > 0 && (errno == EINTR || errno == EAGAIN)) continue;
      return Stop(child, ChildEnd::kSilent);
    }
    lastSign = Clock::now();
    if (!end && std::find(beats, beats + got, kStartTotal) != beats + got) end = lastSign + total;
  }
  const int status = WaitFor(child);
  if (WIFSIGNALED(status)) return {ChildEnd::kSignalled, WTERMSIG(status)};
  return {ChildEnd::kExited, WEXITSTATUS(status)};
}

void Heartbeat(int heartbeat) {
  if (::write(heartbeat, &kBeat, 1) < 0) {
    // A full pipe already says the child is alive.
  }
}

void StartTotal(int heartbeat) {
  // Unlike a beat, this one must arrive.
  while (::write(heartbeat, &kStartTotal, 1) < 0) {
    if (errno == EINTR) continue;
    pollfd entry{heartbeat, POLLOUT, 0};
    if (errno != EAGAIN || ::poll(&entry, 1, static_cast<int>(kStartWait.count())) <= 0) return;
  }
}

}  // namespace inkseal::printer
