// Runs the backend's hand-over in a child process that must keep proving it
// is alive.  The child acts as the job's owner, so that user may stop it
// (SIGSTOP) at will; the parent stays root, which the user cannot signal,
// and ends a child that has been silent too long, or that is still at work
// when its whole time is up, so that one user cannot stop the print queue
// for everyone.
#pragma once

#include <chrono>
#include <functional>

namespace inkseal::printer {

enum class ChildEnd {
  kExited,       // status is its exit code
  kSignalled,    // status is the signal that ended it
  kSilent,       // no sign of life for the whole silence limit: killed
  kOverTime,     // alive, but past its total since StartTotal: killed
  kNotStarted,   // status is the errno of the failed pipe or fork
};

struct ChildResult {
  ChildEnd end;
  int status;
};

// Runs work(heartbeat) in a child and waits for it; the child calls
// Heartbeat(heartbeat) at least once every silence, and may have total from
// its call of StartTotal(heartbeat) on (before it, only silence counts).
ChildResult RunWatched(const std::function<int(int heartbeat)>& work, std::chrono::milliseconds silence,
                       std::chrono::milliseconds total);

// A sign of life; never blocks.
void Heartbeat(int heartbeat);

// A sign of life that also starts the child's total.
void StartTotal(int heartbeat);

}  // namespace inkseal::printer
