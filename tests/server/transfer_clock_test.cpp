// The limits of one client transfer: idle timeout, minimum rate over a window
// of waiting time, overall deadline.
#include "server/transfer_clock.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace torvane::server {
namespace {

using ::testing::HasSubstr;

using Clock = TransferClock::Clock;
using std::chrono::milliseconds;
using std::chrono::seconds;

TEST(TransferClock, ADripFeedingClientIsTooSlowAfterOneWindowOfWaiting) {
  // 1 byte every 3 s against 1024 bytes/s over 30 s (the attacker).
  Clock::time_point t0{};
  TransferClock c(TransferLimits{30, 1024, 30, 0}, t0);
  Clock::time_point now = t0;
  TransferVerdict v = TransferVerdict::Ok;
  int waits = 0;
  while (v == TransferVerdict::Ok && waits < 100) {
    EXPECT_LE(c.NextWait(now), seconds(30));
    now += seconds(3);
    v = c.AfterWait(seconds(3), false, now);
    c.Moved(1);
    ++waits;
  }
  EXPECT_EQ(v, TransferVerdict::TooSlow);
  EXPECT_EQ(waits, 10);
  std::string why = c.Describe(v, "sent", "min_read_rate", "read_timeout", "read_deadline");
  EXPECT_THAT(why, HasSubstr("9 bytes in 30 seconds"));
  EXPECT_THAT(why, HasSubstr("min_read_rate"));
}

TEST(TransferClock, AClientAtTheRateGoesOnWindowAfterWindow) {
  Clock::time_point now{};
  TransferClock c(TransferLimits{30, 1024, 2, 0}, now);
  for (int i = 0; i < 50; ++i) {
    now += milliseconds(500);
    c.Moved(600);  // 1200 bytes/s
    ASSERT_EQ(c.AfterWait(milliseconds(500), false, now), TransferVerdict::Ok) << i;
  }
}

TEST(TransferClock, TimeNotSpentWaitingForTheClientDoesNotCount) {
  // The page was busy for a minute between reads: the client is not to blame.
  Clock::time_point now{};
  TransferClock c(TransferLimits{30, 1024, 30, 0}, now);
  c.Moved(1000);
  now += seconds(60);
  EXPECT_EQ(c.AfterWait(milliseconds(10), false, now), TransferVerdict::Ok);
}

TEST(TransferClock, TheWaitEndsAtTheWindowTheIdleTimeoutOrTheDeadline) {
  Clock::time_point t0{};
  struct Case {
    TransferLimits limits;
    Clock::duration waitedBefore;
    Clock::duration expected;
    TransferVerdict whenItRunsOut;
  } cases[] = {
      {{30, 0, 30, 0}, {}, seconds(30), TransferVerdict::Idle},             // no minimum rate
      {{30, 1024, 10, 0}, seconds(4), seconds(6), TransferVerdict::TooSlow}, // the window's rest
      {{5, 1024, 30, 0}, {}, seconds(5), TransferVerdict::Idle},             // idle before the window
      {{30, 1024, 30, 8}, {}, seconds(8), TransferVerdict::Deadline},        // deadline first
  };
  for (const auto& k : cases) {
    TransferClock c(k.limits, t0);
    Clock::time_point now = t0;
    if (k.waitedBefore != Clock::duration::zero()) {
      c.NextWait(now);
      now += k.waitedBefore;
      ASSERT_EQ(c.AfterWait(k.waitedBefore, false, now), TransferVerdict::Ok);
    }
    Clock::duration wait = c.NextWait(now);
    EXPECT_EQ(wait, k.expected);
    now += wait;
    EXPECT_EQ(c.AfterWait(wait, true, now), k.whenItRunsOut);
  }
}

TEST(TransferClock, TheDeadlineHoldsEvenForAFastClient) {
  Clock::time_point now{};
  TransferClock c(TransferLimits{30, 1024, 30, 10}, now);
  now += seconds(11);
  c.Moved(1 << 30);
  EXPECT_EQ(c.AfterWait(milliseconds(1), false, now), TransferVerdict::Deadline);
  EXPECT_EQ(c.NextWait(now), Clock::duration::zero());
}

}  // namespace
}  // namespace torvane::server
