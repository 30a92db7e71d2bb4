#include "app/cli/job_queue.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace halfmap::cli {
namespace {

class Queue {
 public:
  Queue(std::size_t count, const JobCallbacks& callbacks)
      : callbacks_(callbacks), done_(count, false) {}

  void Work() {
    for (;;) {
      std::size_t job = 0;
      {
        const std::lock_guard lock(mutex_);
        if (taken_ == done_.size() || callbacks_.stop()) return;
        job = taken_++;
      }
      callbacks_.run(job);
      Finished(job);
    }
  }

  std::size_t taken() const { return taken_; }

 private:
  // Jobs are taken in order, so every started job lies in the prefix that
  // this eventually hands on.
  void Finished(std::size_t job) {
    const std::lock_guard lock(mutex_);
    done_[job] = true;
    while (handedOn_ < taken_ && done_[handedOn_]) callbacks_.finish(handedOn_++);
  }

  const JobCallbacks& callbacks_;
  std::mutex mutex_;
  std::vector<bool> done_;
  std::size_t taken_ = 0;
  std::size_t handedOn_ = 0;
};

}  // namespace

std::size_t RunJobs(std::size_t count, int workers, const JobCallbacks& callbacks) {
  Queue queue(count, callbacks);
  const std::size_t threads = std::min<std::size_t>(count, static_cast<std::size_t>(std::max(workers, 1)));
  {
    std::vector<std::jthread> pool;
    try {
      for (std::size_t i = 1; i < threads; ++i) pool.emplace_back([&queue] { queue.Work(); });
    } catch (const std::system_error&) {
      if (callbacks.fewerWorkers) callbacks.fewerWorkers(threads - 1 - pool.size(), threads);
    }
    queue.Work();  // the calling thread is one of the workers
  }
  return queue.taken();
}

}  // namespace halfmap::cli
