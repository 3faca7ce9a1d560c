#include "server/script_heap.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace torvane::server::script {

namespace {

constexpr size_t kBlockHeader = 16;  // keeps malloc's alignment

// Whether `more` bytes may be allocated; marks the page over its limit when
// they go past it.
bool HeapAllows(HeapClock* c, int64_t more) {
  if (c->limit <= 0 || more <= 0 || c->used + more <= c->limit) return true;
  c->overLimit = true;
  int64_t margin = std::max<int64_t>(c->limit / 4, 16 << 20);
  return c->used + more <= c->limit + margin;
}

void Account(HeapClock* c, int64_t delta) {
  c->used += delta;
  if (c->used > c->peak) c->peak = c->used;
}

}  // namespace

void* HeapAlloc(void* udata, duk_size_t size) {
  auto* c = static_cast<HeapClock*>(udata);
  if (!HeapAllows(c, static_cast<int64_t>(size))) return nullptr;
  auto* base = static_cast<unsigned char*>(std::malloc(size + kBlockHeader));
  if (!base) return nullptr;
  std::memcpy(base, &size, sizeof size);
  Account(c, static_cast<int64_t>(size));
  return base + kBlockHeader;
}

void HeapFree(void* udata, void* ptr) {
  if (!ptr) return;
  auto* c = static_cast<HeapClock*>(udata);
  unsigned char* base = static_cast<unsigned char*>(ptr) - kBlockHeader;
  duk_size_t size = 0;
  std::memcpy(&size, base, sizeof size);
  Account(c, -static_cast<int64_t>(size));
  std::free(base);
}

void* HeapRealloc(void* udata, void* ptr, duk_size_t size) {
  if (!ptr) return HeapAlloc(udata, size);
  if (size == 0) {
    HeapFree(udata, ptr);
    return nullptr;
  }
  auto* c = static_cast<HeapClock*>(udata);
  unsigned char* base = static_cast<unsigned char*>(ptr) - kBlockHeader;
  duk_size_t old = 0;
  std::memcpy(&old, base, sizeof old);
  if (!HeapAllows(c, static_cast<int64_t>(size) - static_cast<int64_t>(old))) return nullptr;
  auto* moved = static_cast<unsigned char*>(std::realloc(base, size + kBlockHeader));
  if (!moved) return nullptr;
  std::memcpy(moved, &size, sizeof size);
  Account(c, static_cast<int64_t>(size) - static_cast<int64_t>(old));
  return moved + kBlockHeader;
}

int64_t ThreadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool CpuBudgetSpent(const HeapClock& c) {
  int64_t limit = c.limitNs.load(std::memory_order_relaxed);
  if (limit == INT64_MAX) return false;
  auto wall = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - c.startWall);
  if (wall.count() < limit - c.startNs) return false;
  return ThreadCpuNs() >= limit;
}

void SetCpuLimit(HeapClock& c, double seconds) {
  c.limitSeconds = seconds > 0 ? seconds : 0;
  c.limitNs = seconds > 0 ? c.startNs + static_cast<int64_t>(seconds * 1e9) : INT64_MAX;
}

}  // namespace torvane::server::script

// Duktape's execution check (duktape_build.c): true once the running page has
// used up its processor time; it stays true until the page has unwound.
// It also stops a page that went past its memory limit, its wall-clock deadline,
// or the server's stop.
extern "C" duk_bool_t torvane_script_expired(void* udata) {
  using torvane::server::script::HeapClock;
  using Reason = HeapClock::Reason;
  auto* clock = static_cast<HeapClock*>(udata);
  if (!clock) return 0;
  if (clock->expired.load(std::memory_order_relaxed)) return 1;
  Reason why = Reason::None;
  if (clock->overLimit) why = Reason::Memory;
  else if (clock->stop && clock->stop->load(std::memory_order_relaxed)) why = Reason::Stop;
  else if (clock->deadline != std::chrono::steady_clock::time_point::max() &&
           std::chrono::steady_clock::now() >= clock->deadline)
    why = Reason::Deadline;
  else if (torvane::server::script::CpuBudgetSpent(*clock)) why = Reason::Cpu;
  if (why == Reason::None) return 0;
  clock->reason = why;
  clock->expired = true;
  return 1;
}
