// The backend's side of one job's connection to a user's agent: reaching
// the socket and proving who listens there, then sending the job, every step
// within its time limit.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/unique_fd_posix.h"
#include "printer/hand_over_clock.h"

namespace inkseal::printer {

// Whole seconds that shorten the limits (the tests' stalled and trickling
// agents): the step and answer limits and the hand-over's base become that
// many seconds at most; a value that would lengthen them is ignored.
constexpr char kTimeLimitVariable[] = "INKSEAL_AGENT_TIME_LIMIT";

// The limits, shortened by kTimeLimitVariable when it is set.
TimeLimits ReadTimeLimits();

// The size of a document that is a file; none for a pipe.
std::optional<std::uint64_t> DocumentSize(int document);

enum class Reach { kAgent, kNoAgent, kStranger };

// Connects to the socket where owner's agent listens (within limit), and
// keeps the connection in agent only when a process of owner's listens
// there; stranger is the uid of any other.
Reach ConnectToAgent(uid_t owner, std::chrono::milliseconds limit, platform::UniqueFd& agent, uid_t& stranger);

// Reads the next piece of the document; 0 at its end, -1 with errno set.
// A slow filter in front of the backend is no sign of a stopped hand-over,
// so while it waits it gives a heartbeat every beat.
ssize_t ReadChunk(int document, std::vector<char>& buffer, std::chrono::milliseconds beat, int heartbeat);

// kTimedOut: one step took too long (a stalled agent); kTooSlow: the whole
// hand-over did (an agent that reads too slowly).
enum class Outcome { kStored, kRefused, kUnreadable, kLost, kTimedOut, kTooSlow };

// Sends the header and the document, whose first got bytes are in buffer,
// and waits for the answer, each step within clock; reason holds why the
// agent refused it, or why the document could not be read.
Outcome SendJob(int agent, int document, std::vector<char>& buffer, ssize_t got, const std::string& user,
                const std::string& job, const std::string& title, HandOverClock& clock, int heartbeat,
                std::string& reason);

}  // namespace inkseal::printer
