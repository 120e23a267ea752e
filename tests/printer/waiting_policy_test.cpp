#include "printer/waiting_policy.h"

#include <gtest/gtest.h>

#include "printer/job_record.h"

namespace inkseal::printer {
namespace {

constexpr int64_t kNow = 1'800'000'000;
const Occasion kQuiet{};
const Occasion kStart{true, false};
const Occasion kNetwork{false, true};

TEST(WaitingPolicy, ADocumentThatMayHaveArrivedOrWasRefusedGoesOnlyWhenTheUserSaysSo) {
  const WaitingPolicy policy;
  for (const Delivery word : {Delivery::kUncertain, Delivery::kRefused}) {
    JobRecord record;
    EXPECT_FALSE(policy.AfterRun(record, word, kNow));
    for (const Occasion& occasion : {kQuiet, kStart, kNetwork}) {
      EXPECT_EQ(policy.NextStep(record, occasion, false, kNow + kReminderInterval * 4), Step::kWait);
    }
    EXPECT_EQ(policy.NextStep(record, kQuiet, true, kNow), Step::kRun);
    EXPECT_EQ(WaitingPolicy::NextLook(record), 0);  // no retry; a reminder only once told
  }

  // No word at all: the run ended before sending, so the next login tries again.
  JobRecord cancelled;
  EXPECT_FALSE(policy.AfterRun(cancelled, std::nullopt, kNow));
  EXPECT_EQ(cancelled.state, JobState::kNotSent);
  EXPECT_EQ(policy.NextStep(cancelled, kNetwork, false, kNow + 99999), Step::kWait);
  EXPECT_EQ(policy.NextStep(cancelled, kStart, false, kNow), Step::kRun);

  JobRecord delivered;
  EXPECT_TRUE(policy.AfterRun(delivered, Delivery::kDelivered, kNow));
}

TEST(WaitingPolicy, AnUnreachableServiceIsCheckedBeforeEachRetryWhichBacksOffAndTellsOnce) {
  const WaitingPolicy policy;
  JobRecord record;
  EXPECT_EQ(policy.NextStep(record, kQuiet, false, kNow), Step::kRun);  // a new print goes as it always did
  EXPECT_FALSE(policy.AfterRun(record, Delivery::kUnreachable, kNow));
  EXPECT_TRUE(WaitingPolicy::DueToTell(record, kNow));
  record.toldAt = kNow;
  EXPECT_EQ(record.firstWait, kNow);
  EXPECT_EQ(record.nextTry, kNow + 60);
  EXPECT_EQ(policy.NextStep(record, kQuiet, false, kNow + 59), Step::kWait);
  EXPECT_EQ(policy.NextStep(record, kQuiet, false, kNow + 60), Step::kCheckThenRun);
  EXPECT_EQ(policy.NextStep(record, kNetwork, false, kNow + 1), Step::kCheckThenRun);
  EXPECT_EQ(policy.NextStep(record, kStart, false, kNow + 1), Step::kCheckThenRun);

  int64_t now = kNow;
  for (const int64_t step : {300, 900, 3600, 3600}) {
    now += 60;
    policy.AfterFailedCheck(record, now);
    EXPECT_EQ(record.nextTry - now, step);
    EXPECT_FALSE(WaitingPolicy::DueToTell(record, now)) << "the same reason told again";
  }
  EXPECT_EQ(record.firstWait, kNow);
  EXPECT_TRUE(WaitingPolicy::DueToTell(record, kNow + kReminderInterval));
  EXPECT_EQ(WaitingPolicy::NextLook(record), record.nextTry);

  // Another reason to wait is news; a shortened back-off never lengthens a step.
  policy.AfterRun(record, Delivery::kUncertain, now);
  EXPECT_TRUE(WaitingPolicy::DueToTell(record, now));
  JobRecord quick;
  WaitingPolicy(2).AfterRun(quick, Delivery::kUnreachable, kNow);
  EXPECT_EQ(quick.nextTry, kNow + 2);
}

TEST(JobRecord, ReadsBackWhatItWroteAndToleratesLinesItDoesNotKnow) {
  JobRecord record;
  record.title = "Zoë = report";
  record.state = JobState::kUncertain;
  record.attempts = 3;
  record.firstWait = kNow;
  record.toldAt = kNow + 1;
  record.nextTry = kNow + 2;
  JobRecord read;
  ASSERT_TRUE(ParseJobRecord("future=1\n" + FormatJobRecord(record), read));
  EXPECT_EQ(FormatJobRecord(read), FormatJobRecord(record));
  EXPECT_FALSE(ParseJobRecord("garbage", read));
}

}  // namespace
}  // namespace inkseal::printer
