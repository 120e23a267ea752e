// How long the backend gives one job's hand-over to an agent.  Each step
// (connect, one frame, the answer) has a limit, so a stalled agent is caught
// quickly; the whole hand-over has one more, which grows with the document,
// so that an agent that reads just fast enough to beat every step limit (a
// frame every 29 s) still cannot hold the queue for long.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>

#include "printer/agent_link.h"

namespace inkseal::printer {

// Each connect, send and receive may take kStepLimit; the agent's answer,
// which it gives once the document is on disk, kAnswerLimit.  The whole
// hand-over may take kHandOverBase plus kAllowancePerMiB for each MiB of the
// document (a floor of 1 MiB/s), at most kHandOverCapFactor times the base.
// Past any of them the job is held as when there is no session, so that a
// stalled or trickling agent holds up its own user's job and not the queue.
constexpr std::chrono::seconds kStepLimit{30};
constexpr std::chrono::seconds kAnswerLimit{60};
constexpr std::chrono::seconds kHandOverBase{60};
constexpr std::chrono::seconds kAllowancePerMiB{1};
constexpr int kHandOverCapFactor = 10;

struct TimeLimits {
  std::chrono::milliseconds step = kStepLimit;
  std::chrono::milliseconds answer = kAnswerLimit;
  std::chrono::milliseconds handOverBase = kHandOverBase;
  std::chrono::milliseconds HandOverCap() const { return handOverBase * kHandOverCapFactor; }
};

// What the whole hand-over of a document of size bytes may take; with no
// size known yet (a pipe), the cap.
std::chrono::milliseconds HandOverAllowance(const TimeLimits& limits, std::optional<std::uint64_t> size);

// One hand-over's clock, started when the document's first piece is in
// hand.  The allowance of a document whose size is not known in advance
// grows with each piece that arrives, up to the cap.
class HandOverClock {
 public:
  HandOverClock(const TimeLimits& limits, std::optional<std::uint64_t> size);

  void Arrived(std::uint64_t bytes);
  // The deadline of the next step: its own limit, but never past the end.
  Deadline Step() const { return Within(limits_.step); }
  Deadline Answer() const { return Within(limits_.answer); }
  bool Over() const { return std::chrono::steady_clock::now() >= End(); }
  Deadline End() const { return start_ + allowance_; }
  std::chrono::milliseconds allowance() const { return allowance_; }
  std::uint64_t bytes() const { return bytes_; }
  const TimeLimits& limits() const { return limits_; }

 private:
  Deadline Within(std::chrono::milliseconds limit) const { return std::min(After(limit), End()); }

  TimeLimits limits_;
  bool sized_;
  Deadline start_;
  std::uint64_t bytes_ = 0;
  std::chrono::milliseconds allowance_;
};

}  // namespace inkseal::printer
