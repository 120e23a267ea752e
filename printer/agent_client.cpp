#include "printer/agent_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "printer/agent_link.h"
#include "printer/watched_child.h"

namespace inkseal::printer {

using std::chrono::milliseconds;

namespace {

// After a send failed: a refusal the agent sent before it hung up.
bool RefusalWaiting(int agent, std::string& reason) {
  std::string line;
  return ReceiveLine(agent, line, kMaxHeaderFrame, After(milliseconds(0))) && !ParseReply(line, reason);
}

Outcome Unsent(int agent, const HandOverClock& clock, std::string& reason) {
  const bool timedOut = errno == ETIMEDOUT;
  if (RefusalWaiting(agent, reason)) return Outcome::kRefused;
  if (!timedOut) return Outcome::kLost;
  return clock.Over() ? Outcome::kTooSlow : Outcome::kTimedOut;
}

}  // namespace

TimeLimits ReadTimeLimits() {
  TimeLimits limits;
  const char* text = std::getenv(kTimeLimitVariable);
  if (text == nullptr || *text == '\0') return limits;
  char* end = nullptr;
  const long seconds = std::strtol(text, &end, 10);
  if (*end != '\0' || seconds <= 0 || seconds >= kAnswerLimit.count()) return limits;
  limits.answer = std::chrono::seconds(seconds);
  limits.step = std::min(limits.step, limits.answer);
  limits.handOverBase = std::min(limits.handOverBase, limits.answer);
  return limits;
}

std::optional<std::uint64_t> DocumentSize(int document) {
  struct stat info {};
  if (::fstat(document, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

Reach ConnectToAgent(uid_t owner, milliseconds limit, platform::UniqueFd& agent, uid_t& stranger) {
  const std::string path = AgentSocketPath(UserRuntimeFolder(owner));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return Reach::kNoAgent;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  platform::UniqueFd connection(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!connection.valid()) return Reach::kNoAgent;
  // Bounds a connect that waits for room in a listener's full backlog.
  const timeval timeout{static_cast<time_t>(limit.count() / 1000), static_cast<suseconds_t>(limit.count() % 1000 * 1000)};
  ::setsockopt(connection.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  if (::connect(connection.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    return Reach::kNoAgent;
  }
  ucred peer{};
  socklen_t size = sizeof peer;
  if (::getsockopt(connection.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0) return Reach::kNoAgent;
  if (peer.uid != owner) {
    stranger = peer.uid;
    return Reach::kStranger;
  }
  agent = std::move(connection);
  return Reach::kAgent;
}

ssize_t ReadChunk(int document, std::vector<char>& buffer, milliseconds beat, int heartbeat) {
  for (;;) {
    pollfd entry{document, POLLIN, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(beat.count()));
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
      Heartbeat(heartbeat);
      continue;
    }
    const ssize_t got = ::read(document, buffer.data(), buffer.size());
    if (got >= 0 || errno != EINTR) return got;
  }
}

Outcome SendJob(int agent, int document, std::vector<char>& buffer, ssize_t got, const std::string& user,
                const std::string& job, const std::string& title, HandOverClock& clock, int heartbeat,
                std::string& reason) {
  for (const std::string* header : {&user, &job, &title}) {
    if (!SendFrame(agent, header->data(), header->size(), clock.Step())) return Unsent(agent, clock, reason);
  }
  Heartbeat(heartbeat);
  for (; got > 0; got = ReadChunk(document, buffer, clock.limits().step, heartbeat)) {
    clock.Arrived(static_cast<std::uint64_t>(got));
    if (!SendFrame(agent, buffer.data(), static_cast<size_t>(got), clock.Step())) return Unsent(agent, clock, reason);
    Heartbeat(heartbeat);
  }
  if (got < 0) {
    reason = std::strerror(errno);
    return Outcome::kUnreadable;  // the agent drops the unfinished document
  }
  if (!SendFrame(agent, nullptr, 0, clock.Step())) return Unsent(agent, clock, reason);
  Heartbeat(heartbeat);
  // Past this point the document is sent: a late answer is a stalled agent.
  std::string reply;
  if (!ReceiveLine(agent, reply, kMaxHeaderFrame, clock.Answer())) {
    return errno == ETIMEDOUT ? Outcome::kTimedOut : Outcome::kLost;
  }
  return ParseReply(reply, reason) ? Outcome::kStored : Outcome::kRefused;
}

}  // namespace inkseal::printer
