#include "server/worker_pool.h"

#include <algorithm>
#include <thread>

namespace torvane::server {

namespace {

thread_local WorkerPool* tPool = nullptr;
constexpr std::chrono::seconds kExtraThreadIdle{30};

}  // namespace

// An idle thread's own wait: woken is set (under the pool's lock) by the
// thread that pops it from idlers_ to take a job.
struct WorkerPool::Idler {
  std::condition_variable cv;
  bool woken = false;
};

WorkerPool::WorkerPool(int slots, int maxThreads, size_t queueLimit)
    : slots_(slots < 1 ? 1 : slots), maxThreads_(maxThreads < slots_ ? slots_ : maxThreads), limit_(queueLimit) {
  std::lock_guard g(mutex_);
  for (int i = 0; i < slots_; ++i) SpawnLocked();
}

WorkerPool::~WorkerPool() { Stop(true); }

void WorkerPool::SpawnLocked() {
  ++threads_;
  ++idle_;  // counted idle until it looks for work, so a burst does not start one thread per job
  try {
    std::thread([this] { Loop(); }).detach();
  } catch (...) {
    --threads_;
    --idle_;
  }
}

// Starts a thread for queued work that no idle thread can take.
void WorkerPool::StartWaitLocked() {
  if (!queue_.empty() && idle_ == 0 && threads_ < maxThreads_ && running_ + returning_ < slots_) SpawnLocked();
}

bool WorkerPool::Submit(std::function<void()> job) {
  std::shared_ptr<Idler> wake;
  {
    std::lock_guard g(mutex_);
    if (stopping_ || queue_.size() >= limit_) return false;
    queue_.push_back(std::move(job));
    StartWaitLocked();
    wake = PopIdlerLocked();
  }
  if (wake) wake->cv.notify_one();
  return true;
}

void WorkerPool::SetLimits(int slots, int maxThreads, size_t queueLimit) {
  {
    std::lock_guard g(mutex_);
    slots_ = slots < 1 ? 1 : slots;
    maxThreads_ = maxThreads < slots_ ? slots_ : maxThreads;
    limit_ = queueLimit;
    while (threads_ < slots_) SpawnLocked();
    WakeAllLocked();
  }
  slotFree_.notify_all();
}

size_t WorkerPool::Busy() {
  std::lock_guard g(mutex_);
  return queue_.size() + active_;
}

int WorkerPool::Threads() {
  std::lock_guard g(mutex_);
  return threads_;
}

bool WorkerPool::WaitIdle(std::chrono::steady_clock::time_point until) {
  std::unique_lock lk(mutex_);
  return done_.wait_until(lk, until, [&] { return queue_.empty() && active_ == 0; });
}

void WorkerPool::Stop(bool join) {
  std::unique_lock lk(mutex_);
  stopping_ = true;
  queue_.clear();
  WakeAllLocked();
  slotFree_.notify_all();
  if (join) done_.wait(lk, [&] { return threads_ == 0; });
}

void WorkerPool::SetIdleExitHook(std::function<void()> hook) {
  std::lock_guard g(mutex_);
  idleExitHook_ = std::move(hook);
}

// Takes the thread that went idle last off the stack and marks it woken (the
// pool's lock held); the caller signals it after letting go of the lock, so
// the thread does not wake only to wait for the lock. Null when none is idle.
std::shared_ptr<WorkerPool::Idler> WorkerPool::PopIdlerLocked() {
  if (idlers_.empty()) return nullptr;
  std::shared_ptr<Idler> idler = std::move(idlers_.back());
  idlers_.pop_back();
  idler->woken = true;
  return idler;
}

void WorkerPool::WakeAllLocked() {
  while (auto idler = PopIdlerLocked()) idler->cv.notify_one();
}

// Waits, on top of the idle stack, until the pool stops or a queued job may
// start (true), or kExtraThreadIdle passes without one (false). A thread
// woken for a job another thread took first goes back on top.
bool WorkerPool::WaitForWork(std::unique_lock<std::mutex>& lk, const std::shared_ptr<Idler>& me) {
  auto ready = [&] { return stopping_ || (!queue_.empty() && running_ + returning_ < slots_); };
  auto until = std::chrono::steady_clock::now() + kExtraThreadIdle;
  while (!ready()) {
    me->woken = false;
    idlers_.push_back(me);
    if (!me->cv.wait_until(lk, until, [&] { return me->woken; })) {
      idlers_.erase(std::find(idlers_.begin(), idlers_.end(), me));
      return ready();
    }
  }
  return true;
}

void WorkerPool::Loop() {
  tPool = this;
  auto me = std::make_shared<Idler>();  // shared: a waker may signal it after the lock
  std::unique_lock lk(mutex_);
  --idle_;  // SpawnLocked counted this thread idle
  while (true) {
    ++idle_;
    bool got = WaitForWork(lk, me);
    --idle_;
    if (stopping_) break;
    if (!got) {
      if (threads_ <= slots_) continue;
      // An extra thread with nothing to do ends.
      auto hook = idleExitHook_;
      --threads_;
      lk.unlock();
      if (hook) {
        try {
          hook();
        } catch (...) {
        }
      }
      lk.lock();
      ++threads_;
      break;
    }
    std::function<void()> job = std::move(queue_.front());
    queue_.pop_front();
    ++running_;
    ++active_;
    lk.unlock();
    try {
      job();
    } catch (...) {
      // A job reports its own failures; nothing may end the worker.
    }
    job = nullptr;
    lk.lock();
    --running_;
    --active_;
    // The freed slot goes first to a thread back from its client; a queued job
    // is taken by this thread itself when it looks for work again.
    if (returning_ > 0) slotFree_.notify_one();
    if (queue_.empty() && active_ == 0) done_.notify_all();
  }
  --threads_;
  done_.notify_all();
}

void WorkerPool::BeginClientWait() {
  std::shared_ptr<Idler> wake;
  {
    std::lock_guard g(mutex_);
    --running_;
    StartWaitLocked();
    if (returning_ > 0) slotFree_.notify_one();
    // An idle thread is woken only for a queued job: a page that waits for its
    // client at every packet of a large upload would otherwise wake one idle
    // thread for nothing each time.
    if (!queue_.empty()) wake = PopIdlerLocked();
  }
  if (wake) wake->cv.notify_one();
}

void WorkerPool::EndClientWait() {
  std::unique_lock lk(mutex_);
  ++returning_;
  slotFree_.wait(lk, [&] { return running_ < slots_; });
  --returning_;
  ++running_;
}

WorkerPool::ClientWait::ClientWait() : pool_(tPool) {
  if (pool_) pool_->BeginClientWait();
}

WorkerPool::ClientWait::~ClientWait() {
  if (pool_) pool_->EndClientWait();
}

}  // namespace torvane::server
