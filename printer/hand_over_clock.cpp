#include "printer/hand_over_clock.h"

#include <algorithm>

namespace inkseal::printer {

using std::chrono::milliseconds;

namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

milliseconds Allowance(const TimeLimits& limits, std::uint64_t bytes) {
  const milliseconds cap = limits.HandOverCap();
  const std::uint64_t perMiB = static_cast<std::uint64_t>(milliseconds(kAllowancePerMiB).count());
  const std::uint64_t room = static_cast<std::uint64_t>(std::max(milliseconds(0), cap - limits.handOverBase).count());
  const std::uint64_t extra = std::min(room, bytes / kMiB * perMiB + (bytes % kMiB) * perMiB / kMiB);
  return limits.handOverBase + milliseconds(static_cast<milliseconds::rep>(extra));
}

}  // namespace

milliseconds HandOverAllowance(const TimeLimits& limits, std::optional<std::uint64_t> size) {
  return size ? Allowance(limits, *size) : limits.HandOverCap();
}

HandOverClock::HandOverClock(const TimeLimits& limits, std::optional<std::uint64_t> size)
    : limits_(limits),
      sized_(size.has_value()),
      start_(std::chrono::steady_clock::now()),
      allowance_(Allowance(limits, size.value_or(0))) {}

void HandOverClock::Arrived(std::uint64_t bytes) {
  bytes_ += bytes;
  if (!sized_) allowance_ = Allowance(limits_, bytes_);
}

}  // namespace inkseal::printer
