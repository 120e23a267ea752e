// The backend's side of one job's connection to a user's agent: reaching
// the socket and proving who listens there, then sending the job, every step
// within its time limit.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/unique_fd_posix.h"

namespace inkseal::printer {

// Each connect, send and receive may take kStepLimit; the agent's answer,
// which it gives once the document is on disk, kAnswerLimit.  Past either the
// job is held as when there is no session, so that a stalled agent holds up
// its own user's job and not the queue.
constexpr std::chrono::seconds kStepLimit{30};
constexpr std::chrono::seconds kAnswerLimit{60};
// Whole seconds that shorten both limits (the tests' stalled agents); a
// value that would lengthen them is ignored.
constexpr char kTimeLimitVariable[] = "INKSEAL_AGENT_TIME_LIMIT";

struct TimeLimits {
  std::chrono::milliseconds step = kStepLimit;
  std::chrono::milliseconds answer = kAnswerLimit;
};
// The limits, shortened by kTimeLimitVariable when it is set.
TimeLimits ReadTimeLimits();

enum class Reach { kAgent, kNoAgent, kStranger };

// Connects to the socket where owner's agent listens (within limit), and
// keeps the connection in agent only when a process of owner's listens
// there; stranger is the uid of any other.
Reach ConnectToAgent(uid_t owner, std::chrono::milliseconds limit, platform::UniqueFd& agent, uid_t& stranger);

// Reads the next piece of the document; 0 at its end, -1 with errno set.
// A slow filter in front of the backend is no sign of a stopped hand-over,
// so while it waits it gives a heartbeat every beat.
ssize_t ReadChunk(int document, std::vector<char>& buffer, std::chrono::milliseconds beat, int heartbeat);

enum class Outcome { kStored, kRefused, kUnreadable, kLost, kTimedOut };

// Sends the header and the document, whose first got bytes are in buffer,
// and waits for the answer; reason holds why the agent refused it, or why
// the document could not be read.
Outcome SendJob(int agent, int document, std::vector<char>& buffer, ssize_t got, const std::string& user,
                const std::string& job, const std::string& title, const TimeLimits& limits, int heartbeat,
                std::string& reason);

}  // namespace inkseal::printer
