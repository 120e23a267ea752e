// What the CUPS backend and the session agent share: where a user's agent
// listens, and the framing of one document on its socket.
//
// A connection carries one job.  The backend sends frames, each a 4-byte
// big-endian length and that many bytes: the user name, the job id and the
// job title, then the document in frames of at most kMaxFrame bytes, then an
// empty frame that marks the end.  The agent answers with one line, "OK" once
// the document is stored safely, or "ERROR <text>" (also when it refuses a
// frame, before it hangs up); a connection that ends before the empty frame
// is a document the agent drops.
//
// Every send and receive has a deadline: neither side may leave the other
// waiting for ever, since the backend holds up the whole print queue.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace inkseal::printer {

constexpr size_t kMaxFrame = 1 << 20;
constexpr size_t kMaxHeaderFrame = 4096;
constexpr char kReplyOk[] = "OK";
constexpr char kReplyError[] = "ERROR ";

// The agent's folder inside a runtime folder, and the names inside it.
constexpr char kAgentFolderName[] = "inkseal";
constexpr char kSocketName[] = "agent.socket";
constexpr char kLockName[] = "agent.lock";
constexpr char kSpoolFolderName[] = "spool";

// Where runtime folders of users lie (systemd-logind's /run/user/<uid>).
// INKSEAL_RUNTIME_ROOT names another root (a CUPS SetEnv line for the
// backend, the session's environment for the agent), for systems that keep
// runtime folders elsewhere.  There is deliberately no fallback in a folder
// that others may write to: whoever creates a name there first owns it.
constexpr char kRuntimeRootVariable[] = "INKSEAL_RUNTIME_ROOT";
constexpr char kDefaultRuntimeRoot[] = "/run/user";
std::string RuntimeRoot();
// <runtime root>/<uid>: the runtime folder logind gives user uid.
std::string UserRuntimeFolder(uid_t uid);
// <runtime folder>/inkseal/agent.socket
std::string AgentSocketPath(const std::string& runtimeFolder);

// Whether path is a folder owned by uid that nobody else may write to, not
// a symbolic link: the only kind of folder the agent keeps its socket in.
bool IsPrivateFolder(const std::string& path, uid_t uid);

using Deadline = std::chrono::steady_clock::time_point;
inline Deadline After(std::chrono::milliseconds limit) { return std::chrono::steady_clock::now() + limit; }

// Socket I/O bounded by a deadline.  False with errno set: ETIMEDOUT when the
// deadline passed, ECONNRESET when the peer ended the stream early, EMSGSIZE
// for a frame or line over its limit, or the socket's own error.
bool SendAll(int socket, const void* data, size_t size, Deadline deadline);
bool SendFrame(int socket, const void* data, size_t size, Deadline deadline);
// Reads one frame of at most limit bytes into frame.
bool ReceiveFrame(int socket, std::string& frame, size_t limit, Deadline deadline);
// Reads one reply line (without its line end), at most limit bytes.
bool ReceiveLine(int socket, std::string& line, size_t limit, Deadline deadline);

// The agent's answer line: true for "OK"; otherwise false with reason, the
// agent's text as a short printable line (PrintableLine): it goes into the
// scheduler's log, and the agent is a process of whoever printed.
bool ParseReply(const std::string& line, std::string& reason);

}  // namespace inkseal::printer
