// The script heap's allocator and the running page's limits (internal to the
// page engine).
//
// Every Duktape heap allocates through HeapAlloc/HeapRealloc/HeapFree with the
// engine's Clock as user data: each block carries its size in a header, so the
// heap's use, its peak and the page's memory limit are exact. Duktape's
// execution check (torvane_script_expired, duktape_build.c) reads the same
// Clock to stop a page past its processor time, memory, deadline or the
// server's stop.
#pragma once

#include <duktape.h>

#include <atomic>
#include <chrono>
#include <cstdint>

#include "server/script_engine.h"

namespace torvane::server {

// The limits of the running page, also the heap's allocation state: Duktape
// hands this to the execution check and to the allocation functions.
struct ScriptEngine::Clock {
  std::atomic<int64_t> limitNs{INT64_MAX};  // thread CPU time at which the page expires
  int64_t startNs = 0;                       // thread CPU time at the page's start
  // Wall-clock time at the page's start: a thread cannot have used more
  // processor time than the time that passed, so the check reads the thread's
  // processor time (a system call) only once the page has run for its budget.
  std::chrono::steady_clock::time_point startWall;
  double limitSeconds = 0;                   // the page's processor-time limit (0: none)
  std::atomic<bool> expired{false};
  enum class Reason { None, Cpu, Memory, Deadline, Stop };
  Reason reason = Reason::None;
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
  const std::atomic<bool>* stop = nullptr;
  // Heap accounting: every block carries its size in a header.
  int64_t used = 0;
  int64_t peak = 0;
  int64_t limit = 0;        // 0: none
  bool overLimit = false;   // the page went past its limit: it is being stopped
  int64_t wrappers = 0;     // component objects wrapped in the heap and not yet finalized
};

namespace script {

using HeapClock = ScriptEngine::Clock;

// Duktape's allocation functions; `udata` is the heap's Clock. Past the page's
// limit an allocation still succeeds up to a margin (a quarter of the limit,
// at least 16 MiB) so that the page can unwind; only a block past the margin
// fails.
void* HeapAlloc(void* udata, duk_size_t size);
void* HeapRealloc(void* udata, void* ptr, duk_size_t size);
void HeapFree(void* udata, void* ptr);

// True once the page is being stopped by one of its limits (the execution
// check said so, or it went past its memory limit).
inline bool PageStopping(const HeapClock& c) { return c.overLimit || c.expired.load(std::memory_order_relaxed); }

// The calling thread's processor time in nanoseconds.
int64_t ThreadCpuNs();

// True once the page has used up its processor time (its limit, counted from
// its start).
bool CpuBudgetSpent(const HeapClock& c);

// Sets the page's processor-time limit, counted from its start (0: none).
void SetCpuLimit(HeapClock& c, double seconds);

}  // namespace script
}  // namespace torvane::server
