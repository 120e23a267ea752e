#include "printer/job_queue.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace inkseal::printer {
namespace {

// A job whose lock another uploader holds is looked at again this soon.
constexpr int64_t kBusyRecheck = 2;
// A full disk is looked at again this soon.
constexpr int64_t kNoRoomRecheck = 60;
// However far the next retry or reminder, the spool is read again this often
// (a suspended machine's clock jumps; documents may be removed by hand).
constexpr int64_t kLongestSleep = 3600;

void Log(const std::string& text) { std::fprintf(stderr, "inkseal-agent: %s\n", text.c_str()); }

}  // namespace

JobQueue::JobQueue(Spool& spool, WaitingPolicy policy, QueueHooks hooks)
    : spool(spool), policy(policy), hooks(std::move(hooks)) {
  pending.agentStart = true;
  worker = std::thread([this] { Work(); });
}

JobQueue::~JobQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  wake.notify_one();
  worker.join();
}

void JobQueue::NewPrint() {
  Wake([](Events& events) { events.newPrint = true; });
}

void JobQueue::NetworkChanged() {
  Wake([](Events& events) { events.serviceMayBeBack = true; });
}

void JobQueue::Answer(const std::string& job, UserAnswer answer) {
  Wake([&](Events& events) { events.answers[job] = answer; });
}

void JobQueue::Wake(const std::function<void(Events&)>& note) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    note(pending);
    due = true;
  }
  wake.notify_one();
}

void JobQueue::Work() {
  int64_t nextLook = 0;
  for (;;) {
    Events events;
    {
      const int64_t sleep = nextLook == 0 ? kLongestSleep : std::clamp<int64_t>(nextLook - hooks.now(), 0, kLongestSleep);
      std::unique_lock<std::mutex> lock(mutex);
      wake.wait_for(lock, std::chrono::seconds(sleep), [this] { return stopping || due; });
      if (stopping) return;
      events = std::move(pending);
      pending = Events();
      due = false;
    }
    nextLook = Pass(events);
  }
}

int64_t JobQueue::Pass(const Events& events) {
  const Occasion occasion{events.agentStart, events.serviceMayBeBack || events.newPrint};
  std::optional<bool> reachable;  // asked at most once a pass
  bool behindWaiting = false;     // an older document found the service unreachable in this pass
  int64_t nextLook = 0;
  const auto lookAt = [&](int64_t when) {
    if (when != 0 && (nextLook == 0 || when < nextLook)) nextLook = when;
  };
  for (const SpooledJob& job : spool.Jobs()) {
    platform::UniqueFd lock = Spool::TryLock(job);
    if (!lock.valid()) {
      // An uploader that an agent before this one started still runs it, or
      // a program that uploader started (a browser) holds its lock: once the
      // word says delivered, the document may go all the same.
      if (Spool::ReadWord(job) == Delivery::kDelivered) {
        Log(job.document + " was delivered by an uploader whose agent had ended");
        Spool::Discard(job.folder);
      } else {
        lookAt(hooks.now() + kBusyRecheck);
      }
      continue;
    }
    const auto answer = events.answers.find(job.folder);
    const bool asked = answer != events.answers.end();
    if (asked && answer->second == UserAnswer::kDiscard) {
      Log("discarded " + job.document + ", as the user asked");
      Spool::Discard(job.folder);
      continue;
    }
    JobRecord record = Spool::LoadRecord(job);
    const std::string before = FormatJobRecord(record);
    int64_t now = hooks.now();
    // The word of a run whose end no agent saw (it was killed meanwhile).
    if (const std::optional<Delivery> word = Spool::ReadWord(job)) {
      if (policy.AfterRun(record, word, now)) {
        Log(job.document + " was delivered by an uploader whose agent had ended");
        Spool::Discard(job.folder);
        continue;
      }
    }
    // Its buttons went with the last session, and only the user can decide.
    if (events.agentStart && WaitingPolicy::WaitsForTheUser(record)) record.toldAt = 0;

    const bool sendNow = asked && answer->second == UserAnswer::kSendNow;
    Step step = policy.NextStep(record, occasion, sendNow, now);
    if (step == Step::kRun && record.state == JobState::kNew && behindWaiting) step = Step::kCheckThenRun;
    if (step == Step::kCheckThenRun) {
      if (!reachable) reachable = hooks.serviceReachable();
      step = *reachable ? Step::kRun : Step::kWait;
      if (!*reachable) {
        policy.AfterFailedCheck(record, now);
        behindWaiting = true;
      }
    }
    if (step == Step::kRun && !Spool::PrepareWord(job)) {
      Log("cannot make room for the uploader's answer on " + job.document + ": " + std::strerror(errno) +
          "; it waits");
      lookAt(now + kNoRoomRecheck);
      step = Step::kWait;
    }
    if (step == Step::kRun) {
      const bool quietly = record.state == JobState::kUnreachable && !sendNow;
      const std::optional<Delivery> word = hooks.run(job, lock.get(), quietly);
      now = hooks.now();
      if (policy.AfterRun(record, word, now)) {
        Spool::Discard(job.folder);
        continue;
      }
      if (record.state == JobState::kUnreachable) {
        reachable = false;
        behindWaiting = true;
      }
    }
    if (WaitingPolicy::DueToTell(record, now)) {
      hooks.tell(job, record);
      record.toldAt = now;
    }
    // The uploader's word goes only once the record holds what it said.
    if (FormatJobRecord(record) == before || Spool::SaveRecord(job, record)) {
      Spool::DropWord(job);
    } else {
      Log("cannot update the record of " + job.document + ": " + std::strerror(errno));
      lookAt(now + kNoRoomRecheck);
    }
    lookAt(WaitingPolicy::NextLook(record));
  }
  return nextLook;
}

}  // namespace inkseal::printer
