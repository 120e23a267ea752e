#include "printer/watched_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/unique_fd_posix.h"

namespace inkseal::printer {
namespace {

int WaitFor(pid_t child) {
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

}  // namespace

ChildResult RunWatched(const std::function<int(int heartbeat)>& work, std::chrono::milliseconds silence) {
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
  // Until the child's end of the pipe closes, which it does when it ends.
  for (;;) {
    pollfd entry{reader.get(), POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(silence.count()));
    if (ready < 0 && errno == EINTR) continue;
    char beats[256];
    const ssize_t got = ready > 0 ? ::read(reader.get(), beats, sizeof beats) : -1;
    if (got == 0) break;
    if (got < 0 && (ready <= 0 || (errno != EINTR && errno != EAGAIN))) {
      ::kill(child, SIGKILL);
      WaitFor(child);
      return {ChildEnd::kSilent, 0};
    }
  }
  const int status = WaitFor(child);
  if (WIFSIGNALED(status)) return {ChildEnd::kSignalled, WTERMSIG(status)};
  return {ChildEnd::kExited, WEXITSTATUS(status)};
}

void Heartbeat(int heartbeat) {
  const char beat = 0;
  if (::write(heartbeat, &beat, 1) < 0) {
    // A full pipe already says the child is alive.
  }
}

}  // namespace inkseal::printer
