#include "progress/progress_bar.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "host/script_context.h"
#include "support/memhost.h"
#include "support/thrown_error.h"

namespace torvane {
namespace {

using test::ThrownError;
using test::MemHost;

int64_t StoredInt(MemHost& host, const std::string& name) { return host.application->Value(name).toInt64(); }

TEST(ProgressBar, GetIdCountsUpAndRecordsPoolAndNext) {
  MemHost host;
  MemHost::Scope scope(host);
  auto bar = ProgressBar::CreateTyped();
  EXPECT_EQ(bar->GetID(), "TVPROGRESSBAR1");
  EXPECT_EQ(StoredInt(host, "TVPROGRESSBARNEXT"), 2);
  EXPECT_EQ(StoredInt(host, "TVPROGRESSBARPOOLSIZE"), 500);
  EXPECT_EQ(bar->ProgressBarID(), "TVPROGRESSBAR1");
  auto other = ProgressBar::CreateTyped();
  EXPECT_EQ(other->GetID(), "TVPROGRESSBAR2");
}

TEST(ProgressBar, RecordIsSixElementArrayWithLowerBoundZero) {
  MemHost host;
  MemHost::Scope scope(host);
  auto bar = ProgressBar::CreateTyped();
  std::string id = bar->GetID();
  Variant stored = host.application->Value(id);
  ASSERT_EQ(stored.type(), VType::Array);
  const VArray& arr = stored.array();
  EXPECT_EQ(arr.lbound, 0);
  ASSERT_EQ(arr.items.size(), 6u);
  for (int i : {0, 1, 2, 4, 5}) EXPECT_EQ(arr.items[static_cast<size_t>(i)].toInt64(), 0) << i;
  EXPECT_EQ(arr.items[3].type(), VType::String);
  EXPECT_EQ(arr.items[3].toString(), "");
}

TEST(ProgressBar, PoolWrapsToOneAfterPoolSize) {
  MemHost host;
  MemHost::Scope scope(host);
  auto bar = ProgressBar::CreateTyped();
  bar->SetPoolSize(3);  // below the default: ignored
  EXPECT_EQ(bar->PoolSize(), 500);
  // A counter beyond the pool size starts again at 1.
  host.application->SetValue("TVPROGRESSBARNEXT", Variant(int32_t{501}));
  EXPECT_EQ(bar->GetID(), "TVPROGRESSBAR1");
  EXPECT_EQ(StoredInt(host, "TVPROGRESSBARNEXT"), 2);
  // With the counter exactly at the pool size the last slot is handed out.
  host.application->SetValue("TVPROGRESSBARNEXT", Variant(int32_t{500}));
  EXPECT_EQ(bar->GetID(), "TVPROGRESSBAR500");
  EXPECT_EQ(bar->GetID(), "TVPROGRESSBAR1");
}

TEST(ProgressBar, PoolSizeOnlyGrows) {
  MemHost host;
  MemHost::Scope scope(host);
  ObjectRef bar = ProgressBar::Create();
  bar->Invoke("poolsize", CallKind::Let, {Variant(int32_t{100})});
  EXPECT_EQ(bar->Get("PoolSize").toInt32(), 500);
  bar->Invoke("PoolSize", CallKind::Let, {Variant(int32_t{1000})});
  EXPECT_EQ(bar->Get("PoolSize").toInt32(), 1000);
}

TEST(ProgressBar, EmptyPrefixGivesBareNumbers) {
  MemHost host;
  MemHost::Scope scope(host);
  auto bar = ProgressBar::CreateTyped();
  bar->SetAppPrefix("");
  EXPECT_EQ(bar->GetID(), "1");
  EXPECT_EQ(StoredInt(host, "NEXT"), 2);
  EXPECT_EQ(StoredInt(host, "POOLSIZE"), 500);
  EXPECT_EQ(host.application->Value("1").type(), VType::Array);
}

TEST(ProgressBar, PrefixesHaveIndependentPools) {
  MemHost host;
  MemHost::Scope scope(host);
  auto a = ProgressBar::CreateTyped();
  auto b = ProgressBar::CreateTyped();
  b->SetAppPrefix("OTHER");
  EXPECT_EQ(a->GetID(), "TVPROGRESSBAR1");
  EXPECT_EQ(b->GetID(), "OTHER1");
  EXPECT_EQ(a->GetID(), "TVPROGRESSBAR2");
}

TEST(ProgressBar, FreshSlotReadsZeroAndEmptyName) {
  MemHost host;
  MemHost::Scope scope(host);
  std::string id = ProgressBar::CreateTyped()->GetID();
  ObjectRef reader = ProgressBar::Create();
  reader->Invoke("ProgressBarID", CallKind::Let, {Variant(id)});
  EXPECT_EQ(reader->Get("CurrentBytes").toInt64(), 0);
  EXPECT_EQ(reader->Get("CurrentFile").toString(), "");
  EXPECT_EQ(reader->Get("TotalBytes").toInt64(), 0);
}

TEST(ProgressBar, UnknownOrEmptyIdFailsWithTypeMismatch) {
  MemHost host;
  MemHost::Scope scope(host);
  for (std::string id : {"", "TVPROGRESSBAR77"}) {
    auto bar = ProgressBar::CreateTyped();
    bar->SetProgressBarID(id);
    EXPECT_EQ(ThrownError([&] { bar->TotalBytes(); }).number, err::TypeMismatch) << id;
    EXPECT_EQ(ThrownError([&] { bar->SetTotalBytes(5); }).number, err::TypeMismatch) << id;
  }
}

TEST(ProgressBar, SettersChangeOneElementAndKeepTheOthers) {
  MemHost host;
  MemHost::Scope scope(host);
  auto writer = ProgressBar::CreateTyped();
  std::string id = writer->GetID();
  writer->SetTotalBytes(5000000000LL);  // 64-bit body sizes survive
  writer->SetCurrentFile("a.txt");
  writer->SetTimerStart(3600);
  // Another page's object writes CurrentBytes: the writer's next setter must
  // not bring back its own stale copy of that element.
  auto other = ProgressBar::CreateTyped();
  other->SetProgressBarID(id);
  other->SetCurrentBytes(77);
  writer->SetCurrentFileBytes(12);
  auto reader = ProgressBar::CreateTyped();
  reader->SetProgressBarID(id);
  EXPECT_EQ(reader->TotalBytes(), 5000000000LL);
  EXPECT_EQ(reader->CurrentFile(), "a.txt");
  EXPECT_EQ(reader->TimerStart(), 3600);
  EXPECT_EQ(reader->CurrentBytes(), 77);
  EXPECT_EQ(reader->CurrentFileBytes(), 12);
  EXPECT_EQ(reader->TotalFileBytes(), 0);
}

TEST(ProgressBar, GetIdOnAnObjectThatReadAnotherSlotCarriesItsElements) {
  MemHost host;
  MemHost::Scope scope(host);
  auto first = ProgressBar::CreateTyped();
  std::string id1 = first->GetID();
  first->SetCurrentFile("old.bin");
  first->SetTotalBytes(99);
  std::string id2 = first->GetID();
  auto reader = ProgressBar::CreateTyped();
  reader->SetProgressBarID(id2);
  EXPECT_EQ(reader->CurrentFile(), "old.bin");
  EXPECT_EQ(reader->TotalBytes(), 0);  // element 1 is reset by GetID
}

TEST(ProgressBar, NoScriptContextFailsWith91) {
  ClearScriptContext();
  Error e = ThrownError([&] { ProgressBar::Create(); });
  EXPECT_EQ(e.number, err::ObjectNotSet);
}

TEST(ProgressBar, TwoThreadsNeverReceiveTheSameIdentifier) {
  MemHost base;
  constexpr int kPerThread = 200;
  std::vector<std::string> got[2];
  auto worker = [&](int t) {
    MemHost host;
    host.application = base.application;  // one web application, two pages
    MemHost::Scope scope(host);
    auto bar = ProgressBar::CreateTyped();
    bar->SetPoolSize(100000);
    for (int i = 0; i < kPerThread; ++i) got[t].push_back(bar->GetID());
  };
  std::thread a(worker, 0), b(worker, 1);
  a.join();
  b.join();
  std::set<std::string> all(got[0].begin(), got[0].end());
  all.insert(got[1].begin(), got[1].end());
  EXPECT_EQ(all.size(), static_cast<size_t>(2 * kPerThread));
  EXPECT_EQ(base.application->Value("TVPROGRESSBARNEXT").toInt64(), 2 * kPerThread + 1);
  EXPECT_EQ(base.application->lockDepth, 0);
}

}  // namespace
}  // namespace torvane
