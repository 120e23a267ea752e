// What the CUPS backend and the session agent share: where a user's agent
// listens, and the framing of one document on its socket.
//
// A connection carries one job.  The backend sends frames, each a 4-byte
// big-endian length and that many bytes: the user name, the job id and the
// job title, then the document in frames of at most kMaxFrame bytes, then an
// empty frame that marks the end.  The agent answers with one line, "OK" once
// the document is stored safely, or "ERROR <text>"; a connection that ends
// before the empty frame is a document the agent drops.
#pragma once

#include <sys/types.h>

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

// Where runtime folders of users lie ($XDG_RUNTIME_DIR is <root>/<uid>), and
// the fallback folder of a session without one.  The backend reads the root
// from INKSEAL_RUNTIME_ROOT when set (a CUPS SetEnv line), for systems that
// keep runtime folders elsewhere.
constexpr char kRuntimeRootVariable[] = "INKSEAL_RUNTIME_ROOT";
constexpr char kDefaultRuntimeRoot[] = "/run/user";
std::string FallbackAgentFolder(uid_t uid);  // /tmp/inkseal-<uid>

// <runtime root>/<uid>/inkseal: where user uid's agent listens when the
// session has a runtime folder (the backend tries it before the fallback).
std::string RuntimeAgentFolder(const std::string& runtime_root, uid_t uid);

// Whether path is a folder owned by uid that nobody else may write to, not
// a symbolic link: the only kind of folder whose socket is trusted.
bool IsPrivateFolder(const std::string& path, uid_t uid);

// Whole writes and reads; false on any failure or early end.
bool WriteAll(int fd, const void* data, size_t size);
bool ReadAll(int fd, void* data, size_t size);

bool WriteFrame(int fd, const void* data, size_t size);
// Reads one frame of at most limit bytes into frame.
bool ReadFrame(int fd, std::string& frame, size_t limit);

// Reads one reply line (without its line end), at most limit bytes.
bool ReadLine(int fd, std::string& line, size_t limit);

}  // namespace inkseal::printer
