// WorkerPool: threads running queued jobs (page requests), one job per thread
// from its start to its end, with a bounded queue.
//
// `slots` jobs run at once. A job whose thread waits for its client (a body
// arriving slowly, a client that does not take its answer) gives its slot to
// the next queued job for the time it waits (ClientWait), so slow clients never
// hold up other visitors' pages: a new thread is started for the queued job
// when no idle one is left, up to `maxThreads` threads in all. Threads beyond
// `slots` end after a while without work.
//
// Idle threads wait in a stack: a job wakes the thread that went idle last,
// whose script heap and allocator arena are still in the cache, while the
// threads idle longest stay asleep (and the extra ones among them end). At low
// load a few threads take every page instead of each page landing on a cold one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace torvane::server {

class WorkerPool {
 public:
  WorkerPool(int slots, int maxThreads, size_t queueLimit);
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Queues a job; false when the queue is full or the pool is stopping.
  bool Submit(std::function<void()> job);
  // New limits for the jobs to come (a configuration reload).
  void SetLimits(int slots, int maxThreads, size_t queueLimit);
  // Jobs queued or running.
  size_t Busy();
  // Threads alive (running, waiting for their client, or idle).
  int Threads();
  // Waits until no job is queued or running, or `until` passes; true when none is.
  bool WaitIdle(std::chrono::steady_clock::time_point until);
  // Stops taking jobs and drops the queued ones; running jobs finish. With
  // `join`, waits for every thread to end.
  void Stop(bool join);
  // Runs on a thread that ends because it had nothing to do (an extra thread
  // after a burst of slow clients), before it ends: gives back what the
  // thread's pages kept (their script heap, free allocator memory).
  void SetIdleExitHook(std::function<void()> hook);

  // Marks the calling pool thread as waiting for its client for the scope's
  // life: its slot goes to a queued job meanwhile and is taken back (waiting
  // for a free slot) when the scope ends. A no-op on any other thread.
  class ClientWait {
   public:
    ClientWait();
    ~ClientWait();
    ClientWait(const ClientWait&) = delete;
    ClientWait& operator=(const ClientWait&) = delete;

   private:
    WorkerPool* pool_;
  };

 private:
  struct Idler;
  void Loop();
  bool WaitForWork(std::unique_lock<std::mutex>& lk, const std::shared_ptr<Idler>& me);
  std::shared_ptr<Idler> PopIdlerLocked();
  void WakeAllLocked();
  void SpawnLocked();
  void StartWaitLocked();
  void BeginClientWait();
  void EndClientWait();

  std::mutex mutex_;
  // Each wait has its own condition, so an ending job wakes no thread that
  // has nothing to do: idle threads wait for a queued job (each on its own,
  // in idlers_), threads back from their client for a free slot (slotFree_),
  // WaitIdle and Stop for the pool to empty (done_).
  std::vector<std::shared_ptr<Idler>> idlers_;  // idle threads, the last to go idle at the back
  std::condition_variable slotFree_;  // a slot became free for a thread back from its client
  std::condition_variable done_;      // the last job or a thread ended
  std::deque<std::function<void()>> queue_;
  int slots_;
  int maxThreads_;
  size_t limit_;
  int threads_ = 0;     // alive
  int idle_ = 0;        // waiting for a job
  int running_ = 0;     // holding a slot
  int returning_ = 0;   // done waiting for their client, waiting for a slot
  size_t active_ = 0;   // jobs started and not yet ended
  bool stopping_ = false;
  std::function<void()> idleExitHook_;
};

}  // namespace torvane::server
