#include <unistd.h>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "printer/hand_over_clock.h"
#include "printer/watched_child.h"

namespace inkseal::printer {
namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

constexpr std::uint64_t kMiB = 1 << 20;

TEST(HandOverAllowance, GrowsBySecondPerMiBFromTheBaseUpToTheCap) {
  const TimeLimits limits;
  EXPECT_EQ(HandOverAllowance(limits, 0), seconds(60));
  EXPECT_EQ(HandOverAllowance(limits, 100 * kMiB), seconds(160));
  EXPECT_EQ(HandOverAllowance(limits, kMiB / 2), milliseconds(60500));
  EXPECT_EQ(HandOverAllowance(limits, ~std::uint64_t{0}), seconds(600));
  EXPECT_EQ(HandOverAllowance(limits, std::nullopt), seconds(600));  // a pipe's size is not known
  TimeLimits shortened;
  shortened.handOverBase = seconds(2);
  EXPECT_EQ(HandOverAllowance(shortened, 8 * kMiB), seconds(10));
  EXPECT_EQ(HandOverAllowance(shortened, 100 * kMiB), seconds(20));

  // A pipe's allowance grows with what arrives, never past the cap; a
  // file's is fixed by its size from the start.
  HandOverClock pipe(limits, std::nullopt), file(limits, 3 * kMiB);
  EXPECT_EQ(pipe.allowance(), seconds(60));
  for (int n = 0; n < 1000; ++n) {
    pipe.Arrived(kMiB);
    file.Arrived(kMiB);
  }
  EXPECT_EQ(pipe.allowance(), seconds(600));
  EXPECT_EQ(file.allowance(), seconds(63));
  // No step runs past the end.
  EXPECT_LE(pipe.Step(), pipe.End());
  EXPECT_LE(pipe.Answer(), pipe.End());
}

ChildResult Watch(milliseconds beats, bool startTotal, int status) {
  return RunWatched(
      [=](int heartbeat) {
        if (startTotal) StartTotal(heartbeat);
        for (const auto end = steady_clock::now() + beats; steady_clock::now() < end;) {
          Heartbeat(heartbeat);
          std::this_thread::sleep_for(milliseconds(20));
        }
        return status;
      },
      milliseconds(300), milliseconds(400));
}

TEST(RunWatched, EndsAChildThatIsSilentOrStillAtWorkWhenItsTotalIsUp) {
  // Beating for longer than the total counts only once the total started.
  EXPECT_EQ(Watch(milliseconds(800), false, 7).end, ChildEnd::kExited);
  EXPECT_EQ(Watch(milliseconds(800), false, 7).status, 7);
  const auto start = steady_clock::now();
  EXPECT_EQ(Watch(seconds(30), true, 0).end, ChildEnd::kOverTime);
  EXPECT_LT(steady_clock::now() - start, seconds(5));
  const ChildResult silent = RunWatched([](int) { return ::pause(), 0; }, milliseconds(200), seconds(30));
  EXPECT_EQ(silent.end, ChildEnd::kSilent);
}

}  // namespace
}  // namespace inkseal::printer
