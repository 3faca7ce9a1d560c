// WorkerPool: a fixed number of threads running queued jobs (page requests),
// one job per thread at a time, with a bounded queue.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace torvane::server {

class WorkerPool {
 public:
  WorkerPool(int threads, size_t queueLimit);
  ~WorkerPool();
  // Queues a job; false when the queue is full or the pool is stopping.
  bool Submit(std::function<void()> job);
  // Stops taking jobs; running jobs finish. Joins the threads when `join`.
  void Stop(bool join);

 private:
  void Loop();
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> queue_;
  std::vector<std::thread> threads_;
  size_t limit_;
  bool stopping_ = false;
};

}  // namespace torvane::server
