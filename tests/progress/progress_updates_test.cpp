// The upload engine's progress updates: written at a bounded rate with the
// final record always written, and an unreachable store that never fails the
// upload while the progress page is told that progress is unavailable.
#include <gtest/gtest.h>

#include <thread>

#include "basics/hresult.h"
#include "host/script_context.h"
#include "progress/progress_bar.h"
#include "support/memhost.h"
#include "support/thrown_error.h"

namespace torvane {
namespace {

using test::MemHost;

// An application store that counts the writes of one name and can be made
// unreachable.
class CountingApplication : public test::MemApplication {
 public:
  std::string watched;
  int writes = 0;
  bool down = false;
  Variant Value(std::string_view name) override {
    if (down) Unreachable();
    return MemApplication::Value(name);
  }
  void SetValue(std::string_view name, Variant value) override {
    if (down) Unreachable();
    if (name == watched) ++writes;
    MemApplication::SetValue(name, std::move(value));
  }

 private:
  [[noreturn]] static void Unreachable() {
    throw Error(kStateStoreUnavailable, "State store - the Redis server cannot be reached", "State store");
  }
};

struct ProgressUpdates : ::testing::Test {
  MemHost host;
  std::shared_ptr<CountingApplication> app = std::make_shared<CountingApplication>();
  std::shared_ptr<ProgressBar> upload, page;
  void SetUp() override {
    host.application = app;
    scope = std::make_unique<MemHost::Scope>(host);
    page = ProgressBar::CreateTyped();
    app->watched = page->GetID();
    upload = ProgressBar::CreateTyped();
    upload->SetProgressBarID(app->watched);
    page->SetProgressBarID(app->watched);
    upload->SetTotalBytes(1000000);  // what the engine does as the body starts
    app->writes = 0;
  }
  std::unique_ptr<MemHost::Scope> scope;
};

TEST_F(ProgressUpdates, ManyBlocksInLittleTimeMakeFewWritesAndTheFinalRecordLands) {
  auto start = std::chrono::steady_clock::now();
  upload->StartFile("a.bin");
  for (int i = 0; i < 2000; ++i) upload->AddBodyBytes(500, 500 * (i + 1));
  // However fast the blocks came, at most one write per interval went out.
  auto intervals = (std::chrono::steady_clock::now() - start) / ProgressBar::kMinWriteInterval;
  EXPECT_LE(app->writes, intervals + 1);
  EXPECT_LT(app->writes, 2000);
  upload->EndFile(1000000);
  upload->FinishUpdates();
  EXPECT_EQ(page->CurrentBytes(), 1000000);
  EXPECT_EQ(page->CurrentFile(), "a.bin");
  EXPECT_EQ(page->CurrentFileBytes(), 1000000);
  EXPECT_EQ(page->TotalFileBytes(), 1000000);
  EXPECT_EQ(page->TotalBytes(), 1000000);
  int after = app->writes;
  upload->FinishUpdates();  // nothing pending: no write
  EXPECT_EQ(app->writes, after);
}

TEST_F(ProgressUpdates, ASlowUploadIsSeenMovingAfterEachInterval) {
  upload->AddBodyBytes(100, 0);
  auto wait = ProgressBar::kMinWriteInterval + std::chrono::milliseconds(20);
  for (int i = 2; i <= 4; ++i) {
    std::this_thread::sleep_for(wait);
    upload->AddBodyBytes(100, 0);
    EXPECT_EQ(page->CurrentBytes(), 100 * i) << "block " << i;
  }
}

TEST_F(ProgressUpdates, AnUnreachableStoreNeverFailsTheUploadAndTheRecordCatchesUp) {
  upload->AddBodyBytes(1000, 1000);
  app->down = true;
  // The page sees that progress is unavailable...
  try {
    page->CurrentBytes();
    ADD_FAILURE() << "a read of an unreachable store succeeded";
  } catch (const Error& e) {
    EXPECT_EQ(e.number, kStateStoreUnavailable);
  }
  // ...while every update of the upload goes on without an error.
  EXPECT_NO_THROW({
    upload->StartFile("b.bin");
    for (int i = 0; i < 50; ++i) upload->AddBodyBytes(1000, 1000 * (i + 1));
    upload->EndFile(50000);
    upload->SetTimerStart(7);
    upload->FinishUpdates();
  });
  app->down = false;
  upload->AddBodyBytes(1000, 51000);
  upload->FinishUpdates();  // the whole record is written once the store answers
  EXPECT_EQ(page->CurrentBytes(), 52000);
  EXPECT_EQ(page->CurrentFile(), "b.bin");
  EXPECT_EQ(page->TimerStart(), 7);
}

TEST_F(ProgressUpdates, OtherStoreErrorsStillFail) {
  // An identifier without a record is the page's error, whatever the store.
  auto bar = ProgressBar::CreateTyped();
  bar->SetProgressBarID("TVPROGRESSBARNONE");
  try {
    bar->SetTotalBytes(0);
    ADD_FAILURE() << "a slot without a record was taken";
  } catch (const Error& e) {
    EXPECT_EQ(e.number, 13);
  }
}

}  // namespace
}  // namespace torvane
