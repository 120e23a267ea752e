// What the backend reads from an agent, a process of the job's owner: any
// bytes, cut off anywhere, give one answer line within its limit or a
// failure, and a refusal's reason that is short and free of control
// characters (it goes into the scheduler's log).  The same bytes read as frames, as the agent reads
// the backend's, give frames within their limit.
#include <sys/socket.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/unique_fd_posix.h"
#include "printer/agent_link.h"
#include "printer/printable_line.h"

namespace {

using inkseal::platform::UniqueFd;

// A socket holding data (as much as its buffer takes) and then the end.
UniqueFd SocketWith(const std::uint8_t* data, std::size_t size) {
  int pair[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) __builtin_trap();
  UniqueFd reader(pair[0]), writer(pair[1]);
  if (size > 0) ::send(writer.get(), data, size, MSG_DONTWAIT | MSG_NOSIGNAL);
  return reader;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace inkseal::printer;
  const Deadline now = After(std::chrono::milliseconds(0));
  const UniqueFd reply = SocketWith(data, size);
  std::string line, reason;
  if (ReceiveLine(reply.get(), line, kMaxHeaderFrame, now)) {
    if (line.size() > kMaxHeaderFrame || line.find('\n') != std::string::npos) __builtin_trap();
    if (!ParseReply(line, reason)) {
      if (reason.size() > kMaxShownBytes + sizeof "an answer it does not know: ") __builtin_trap();
      for (const char c : reason) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) __builtin_trap();
      }
    } else if (line != kReplyOk) {
      __builtin_trap();
    }
  }
  const UniqueFd frames = SocketWith(data, size);
  std::string frame;
  while (ReceiveFrame(frames.get(), frame, kMaxHeaderFrame, now)) {
    if (frame.size() > kMaxHeaderFrame) __builtin_trap();
  }
  return 0;
}
