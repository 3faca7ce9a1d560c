// The page pool: slots, queue, and the slot a page gives up while it waits for
// its client.
#include "server/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>

namespace torvane::server {
namespace {

using namespace std::chrono_literals;

TEST(WorkerPool, PagesWaitingForTheirClientDoNotHoldTheSlots) {
  WorkerPool pool(2, 64, 100);
  std::atomic<bool> release{false};
  std::atomic<int> waiting{0};
  // Ten slow clients: each page waits for its client for as long as the test says.
  for (int i = 0; i < 10; ++i)
    ASSERT_TRUE(pool.Submit([&] {
      WorkerPool::ClientWait w;
      ++waiting;
      while (!release) std::this_thread::sleep_for(1ms);
    }));
  // A visitor's page still runs at once.
  std::atomic<bool> ran{false};
  ASSERT_TRUE(pool.Submit([&] { ran = true; }));
  auto until = std::chrono::steady_clock::now() + 5s;
  while (!ran && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(ran);
  EXPECT_EQ(waiting.load(), 10);
  EXPECT_GE(pool.Threads(), 11);
  release = true;
  EXPECT_TRUE(pool.WaitIdle(std::chrono::steady_clock::now() + 5s));
  EXPECT_EQ(pool.Busy(), 0u);
}

// One page after another: each goes to the thread that finished the last one
// (its heap still warm), not round the pool's idle threads in turn.
TEST(WorkerPool, TheThreadIdleLastTakesTheNextPage) {
  WorkerPool pool(4, 4, 100);
  std::this_thread::sleep_for(50ms);  // every thread has started and gone idle
  std::set<std::thread::id> ran;
  for (int i = 0; i < 20; ++i) {
    ASSERT_TRUE(pool.Submit([&] { ran.insert(std::this_thread::get_id()); }));
    ASSERT_TRUE(pool.WaitIdle(std::chrono::steady_clock::now() + 5s));
    std::this_thread::sleep_for(5ms);  // the thread is back among the idle ones
  }
  EXPECT_EQ(ran.size(), 1u);
}

TEST(WorkerPool, AtMostSlotsPagesComputeAtOnce) {
  WorkerPool pool(3, 64, 100);
  std::atomic<int> computing{0}, most{0}, done{0};
  for (int i = 0; i < 12; ++i)
    pool.Submit([&] {
      {
        WorkerPool::ClientWait w;  // waiting for the client: does not count
        std::this_thread::sleep_for(5ms);
      }
      int n = ++computing;  // the slot is held again from here
      int m = most.load();
      while (n > m && !most.compare_exchange_weak(m, n)) {}
      std::this_thread::sleep_for(5ms);
      --computing;
      ++done;
    });
  EXPECT_TRUE(pool.WaitIdle(std::chrono::steady_clock::now() + 10s));
  EXPECT_EQ(done.load(), 12);
  EXPECT_LE(most.load(), 3);
  EXPECT_GE(most.load(), 2);
}

TEST(WorkerPool, AFullQueueRefusesAndAStoppedPoolTakesNothing) {
  WorkerPool pool(1, 1, 2);
  std::atomic<bool> release{false};
  pool.Submit([&] {
    while (!release) std::this_thread::sleep_for(1ms);
  });
  std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(pool.Submit([] {}));
  EXPECT_TRUE(pool.Submit([] {}));
  EXPECT_FALSE(pool.Submit([] {}));
  release = true;
  EXPECT_TRUE(pool.WaitIdle(std::chrono::steady_clock::now() + 5s));
  pool.Stop(true);
  EXPECT_FALSE(pool.Submit([] {}));
  EXPECT_EQ(pool.Threads(), 0);
}

}  // namespace
}  // namespace torvane::server
