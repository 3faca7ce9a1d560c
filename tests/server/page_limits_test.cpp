// The limits the page engine holds a page to beside its processor time: its
// script memory (page_memory_limit), its wall-clock deadline (page_deadline)
// and the server's stop at the end of the grace period. Each stops the page
// even inside try/catch, names itself in the error, and leaves the engine
// ready for the next page.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>

#include "server/host_dispatch.h"
#include "server/page_clock.h"
#include "server/script_engine.h"
#include "support/memhost.h"
#include "support/script_page.h"
#include "support/thrown_error.h"

namespace torvane::server {
namespace {

using test::ThrownError;
using ::testing::HasSubstr;
using ::testing::Not;

using test::MemHost;
using test::TempDir;

using LimitsFixture = test::ScriptPageTest;

// Takes memory without end; only a limit stops it. The catch shows whether
// the page could hold the stop.
const char kHog[] =
    "<% var parts = []; try { for (;;) parts.push(new Uint8Array(1 << 20)); }"
    " catch (e) { Response.Write('caught'); } %>after";

TEST_F(LimitsFixture, AScriptOverItsMemoryLimitIsStoppedWithAClearError) {
  PageGlobals g;
  g.memoryLimitBytes = 32 << 20;
  ScriptResult r = Run(kHog, g);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.stopped);
  EXPECT_EQ(r.number, kHostFailure);
  EXPECT_THAT(r.description, HasSubstr("page_memory_limit"));
  EXPECT_THAT(r.description, HasSubstr("33554432"));
  EXPECT_THAT(host.response->BodyText(), Not(HasSubstr("after")));
  EXPECT_GE(r.heapPeakBytes, 32 << 20);
  EXPECT_LT(r.heapPeakBytes, (32 << 20) + (17 << 20));  // the limit plus its unwinding margin
  // The heap gave the page's memory back, and the next page runs normally.
  EXPECT_LT(engine.HeapBytes(), 4 << 20);
  ScriptResult next = Run("<%= 6 * 7 %>");
  EXPECT_TRUE(next.ok) << next.description;
  EXPECT_EQ(host.response->BodyText(), "42");
}

TEST_F(LimitsFixture, OneBlockLargerThanTheLimitFailsThePage) {
  PageGlobals g;
  g.memoryLimitBytes = 8 << 20;
  ScriptResult r = Run("<% try { var s = new Uint8Array(200 << 20); } catch (e) { Response.Write('caught'); } %>after", g);
  EXPECT_FALSE(r.ok);
  EXPECT_THAT(r.description, HasSubstr("page_memory_limit"));
  EXPECT_THAT(host.response->BodyText(), Not(HasSubstr("after")));
}

TEST_F(LimitsFixture, NoLimitLetsAPageUseWhatItNeeds) {
  ScriptResult r = Run("<% var a = []; for (var i = 0; i < 64; ++i) a.push(new Uint8Array(1 << 16)); %><%= a.length %>");
  EXPECT_TRUE(r.ok) << r.description;
  EXPECT_EQ(host.response->BodyText(), "64");
  EXPECT_GT(r.heapPeakBytes, 4 << 20);
}

TEST_F(LimitsFixture, TheWallClockDeadlineStopsAScriptInsideTry) {
  PageGlobals g;
  g.deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  g.deadlineSeconds = 7;
  auto start = std::chrono::steady_clock::now();
  ScriptResult r = Run("<% for (;;) { try { while (true) {} } catch (e) {} } %>", g);
  auto took = std::chrono::steady_clock::now() - start;
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.stopped);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.description, PageDeadlineText(7));
  EXPECT_LT(took, std::chrono::seconds(5));
}

TEST_F(LimitsFixture, TheServersStopEndsARunningPage) {
  ServerStop stop;
  PageGlobals g;
  g.serverStop = &stop;
  std::thread trigger([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.Trigger(3);
  });
  ScriptResult r = Run("<% for (;;) { try { while (true) {} } catch (e) {} } %>", g);
  trigger.join();
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.description, ServerStopText(3));
}

TEST(PageClock, CheckThrowsTheHostErrorOnceThePageMustStop) {
  PageClock none;
  EXPECT_NO_THROW(none.Check());
  EXPECT_FALSE(none.Expired());
  PageClock past(5, nullptr, std::chrono::steady_clock::now() - std::chrono::seconds(6));
  Error e = ThrownError([&] { past.Check(); });
  EXPECT_EQ(e.number, kHostFailure);
  EXPECT_EQ(e.description, PageDeadlineText(5));
  auto stop = std::make_shared<ServerStop>();
  PageClock running(0, stop);
  EXPECT_NO_THROW(running.Check());
  stop->Trigger(30);
  EXPECT_TRUE(running.Expired());
  EXPECT_THROW(running.Check(), Error);
}

}  // namespace
}  // namespace torvane::server
