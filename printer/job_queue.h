// Documents waiting for Ferrowend, run one at a time in arrival order: a
// second print while the login dialog is open waits for the first run.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace inkseal::printer {

class JobQueue {
 public:
  // runDocument is called on the queue's own thread for each document in turn.
  explicit JobQueue(std::function<void(const std::string&)> runDocument);
  ~JobQueue();  // lets the running document finish, drops the others
  JobQueue(const JobQueue&) = delete;
  JobQueue& operator=(const JobQueue&) = delete;

  void Push(const std::string& document);

 private:
  void Work();

  std::function<void(const std::string&)> run;
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<std::string> waiting;
  bool stopping = false;
  std::thread worker;
};

}  // namespace inkseal::printer
