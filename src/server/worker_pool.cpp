#include "server/worker_pool.h"

namespace torvane::server {

WorkerPool::WorkerPool(int threads, size_t queueLimit) : limit_(queueLimit) {
  for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Loop(); });
}

WorkerPool::~WorkerPool() { Stop(true); }

bool WorkerPool::Submit(std::function<void()> job) {
  {
    std::lock_guard g(mutex_);
    if (stopping_ || queue_.size() >= limit_) return false;
    queue_.push_back(std::move(job));
  }
  ready_.notify_one();
  return true;
}

void WorkerPool::Stop(bool join) {
  {
    std::lock_guard g(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  ready_.notify_all();
  for (auto& t : threads_) {
    if (!t.joinable()) continue;
    if (join) t.join();
    else t.detach();
  }
  threads_.clear();
}

void WorkerPool::Loop() {
  while (true) {
    std::function<void()> job;
    {
      std::unique_lock lk(mutex_);
      ready_.wait(lk, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    try {
      job();
    } catch (...) {
      // A job reports its own failures; nothing may end the worker.
    }
  }
}

}  // namespace torvane::server
