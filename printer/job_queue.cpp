#include "printer/job_queue.h"

namespace inkseal::printer {

JobQueue::JobQueue(std::function<void(const std::string&)> run)
    : run_(std::move(run)), worker_([this] { Work(); }) {}

JobQueue::~JobQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  worker_.join();
}

void JobQueue::Push(const std::string& document) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    waiting_.push_back(document);
  }
  wake_.notify_one();
}

void JobQueue::Work() {
  for (;;) {
    std::string document;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
      if (stopping_) return;
      document = waiting_.front();
      waiting_.pop_front();
    }
    run_(document);
  }
}

}  // namespace inkseal::printer
