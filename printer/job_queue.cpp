#include "printer/job_queue.h"

namespace inkseal::printer {

JobQueue::JobQueue(std::function<void(const std::string&)> runDocument)
    : run(std::move(runDocument)), worker([this] { Work(); }) {}

JobQueue::~JobQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
  }
  wake.notify_one();
  worker.join();
}

void JobQueue::Push(const std::string& document) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    waiting.push_back(document);
  }
  wake.notify_one();
}

void JobQueue::Work() {
  for (;;) {
    std::string document;
    {
      std::unique_lock<std::mutex> lock(mutex);
      wake.wait(lock, [this] { return stopping || !waiting.empty(); });
      if (stopping) return;
      document = waiting.front();
      waiting.pop_front();
    }
    run(document);
  }
}

}  // namespace inkseal::printer
