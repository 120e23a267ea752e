// The spool's documents, sent one at a time in the order printed.  The spool
// on disk is the one list: every pass reads it in arrival order, so what an
// agent before this one left is taken up as it stood, and a print made
// while older documents wait goes after them.
//
// A pass runs on the queue's own thread when something may have changed: a
// new print, the network, the user's answer to a notification, a retry or
// reminder that has come due, and once as the agent starts (the next login).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "printer/spool.h"
#include "printer/waiting_policy.h"

namespace inkseal::printer {

struct QueueHooks {
  // Runs the uploader on job while holding lock (which the uploader
  // inherits) and returns its word; none when it wrote none.  quietly: a
  // retry the agent made on its own of a document that could not reach
  // the service, which ends without a box if it still cannot.
  std::function<std::optional<Delivery>(const SpooledJob& job, int lock, bool quietly)> run;
  std::function<bool()> serviceReachable;
  // Tells the user that job waits (record says why).
  std::function<void(const SpooledJob& job, const JobRecord& record)> tell;
  std::function<int64_t()> now;  // seconds since the epoch
};

class JobQueue {
 public:
  JobQueue(Spool& spool, WaitingPolicy policy, QueueHooks hooks);
  ~JobQueue();  // lets the running document finish; the others stay in the spool
  JobQueue(const JobQueue&) = delete;
  JobQueue& operator=(const JobQueue&) = delete;

  void NewPrint();
  void NetworkChanged();
  // job: the job folder, as the tell hook was given it.
  void Answer(const std::string& job, UserAnswer answer);

 private:
  struct Events {
    bool agentStart = false;
    bool serviceMayBeBack = false;
    bool newPrint = false;
    std::map<std::string, UserAnswer> answers;
  };

  void Work();
  // One look at every job; returns when the next look is due without an
  // event (seconds since the epoch, 0: none).
  int64_t Pass(const Events& events);
  void Wake(const std::function<void(Events&)>& note);

  Spool& spool;
  const WaitingPolicy policy;
  const QueueHooks hooks;
  std::mutex mutex;
  std::condition_variable wake;
  Events pending;
  bool due = true;  // the start's pass
  bool stopping = false;
  std::thread worker;
};

}  // namespace inkseal::printer
