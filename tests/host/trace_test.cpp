#include "host/trace.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "automation/progid.h"
#include "files/file.h"
#include "platform/paths.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

using test::TempDir;
using test::ThrownError;
using test::TraceMessages;

TEST(TraceLog, LineFormatTimeDashMessageCrLf) {
  TempDir dir;
  {
    TraceChannel ch = OpenTraceLog(dir / "t.log");
    WriteTraceLine(ch, "Post.LetCodePage - Set CodePage value.");
  }
  std::string content = test::ReadFile(dir / "t.log");
  // "HH:MM:SS - TraceLog Opened\r\nHH:MM:SS - Post.LetCodePage - Set CodePage value.\r\n"
  ASSERT_GE(content.size(), 11u);
  EXPECT_EQ(content[2], ':');
  EXPECT_EQ(content[5], ':');
  EXPECT_EQ(content.substr(8, 3), " - ");
  EXPECT_EQ(TraceMessages(dir / "t.log"),
            (std::vector<std::string>{"TraceLog Opened", "Post.LetCodePage - Set CodePage value."}));
  EXPECT_EQ(content.substr(content.size() - 2), "\r\n");
}

TEST(TraceLog, NumbersLowestFreeFirstAndReturnedOnRelease) {
  TempDir dir;
  int before = OpenFileNumbers();
  TraceChannel a = OpenTraceLog(dir / "a.log");
  TraceChannel b = OpenTraceLog(dir / "b.log");
  EXPECT_EQ(b->number(), a->number() + 1);
  int aNumber = a->number();
  a.reset();  // last holder gone: the log closes and its number is free again
  TraceChannel c = OpenTraceLog(dir / "c.log");
  EXPECT_EQ(c->number(), aNumber);
  b.reset();
  c.reset();
  EXPECT_EQ(OpenFileNumbers(), before);
}

TEST(TraceLog, StaleChannelNeverWritesIntoAReusedNumber) {
  TempDir dir;
  TraceChannel first = OpenTraceLog(dir / "first.log");
  TraceChannel holder = first;  // e.g. an uploaded File that kept the Post's channel
  CloseTraceLog(first);
  EXPECT_EQ(first, nullptr);
  TraceChannel second = OpenTraceLog(dir / "second.log");
  WriteTraceLine(holder, "late line");
  EXPECT_EQ(TraceMessages(dir / "second.log"), (std::vector<std::string>{"TraceLog Opened"}));
  EXPECT_EQ(TraceMessages(dir / "first.log"), (std::vector<std::string>{"TraceLog Opened"}));
}

TEST(TraceLog, ThousandsOfLogsNeverExhaustNumbers) {
  TempDir dir;
  for (int i = 0; i < 1000; ++i) {
    TraceChannel ch = OpenTraceLog(dir / "loop.log");
    WriteTraceLine(ch, "x");
  }
  EXPECT_LT(OpenFileNumbers(), 5);
}

TEST(TraceLog, AllNumbersTakenFailsWithTooManyFiles) {
  TempDir dir;
  std::vector<TraceChannel> held;
  int free = 255 - OpenFileNumbers();
  // (Distinct files: logs opened at one file share one number.)
  for (int i = 0; i < free; ++i) held.push_back(OpenTraceLog(dir / ("many" + std::to_string(i) + ".log")));
  EXPECT_EQ(ThrownError([&] { OpenTraceLog(dir / "one-more.log"); }).number, 67);
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

// A page over a fresh site root.
using TraceFilePropertyTest = test::PageTest;

// A trace log named by a virtual path lands under the site, where the File's
// Name maps, not in the server's working folder.
TEST_F(TraceFilePropertyTest, VirtualNameOpensTheMappedPath) {
  std::filesystem::create_directory(site / "logs");
  auto file = File::New();
  file->SetName("logs/trace.txt");
  TraceFileProperty prop;
  prop.Set(Variant(ObjectRef(file)), "Post");
  prop.Write("Post.LetCodePage - Set CodePage value.");
  EXPECT_EQ(test::TraceMessages(site / "logs/trace.txt"),
            (std::vector<std::string>{"TraceLog Opened", "Post.SetTraceFile - Set TraceFile object.",
                                      "Post.LetCodePage - Set CodePage value."}));
  EXPECT_FALSE(std::filesystem::exists("logs/trace.txt"));
}

// The same File as TraceFile of a Post, a Directory and a File: one open
// file, every line whole and in call order, closed when the last log goes.
TEST_F(TraceFilePropertyTest, ObjectsTracingIntoOneFileShareIt) {
  int before = OpenFileNumbers();
  auto log = File::New();
  log->SetName(ToDosPath(site / "shared.log"));
  test::WriteFile(site / "shared.log", "an older log that must go\r\n");
  Variant logRef{ObjectRef(log)};
  auto post = CreateObject("Torvane.Post");
  auto dir = CreateObject("Torvane.Directory");
  auto file = CreateObject("Torvane.File");
  post->Invoke("TraceFile", CallKind::Set, {logRef});
  dir->Invoke("TraceFile", CallKind::Set, {logRef});
  file->Invoke("TraceFile", CallKind::Set, {logRef});
  EXPECT_EQ(OpenFileNumbers(), before + 1);
  for (int i = 0; i < 3; ++i) {
    post->Invoke("CodePage", CallKind::Let, {Variant(int32_t{65001})});
    dir->Get("Path");
    file->Invoke("MimeType", CallKind::Let, {Variant("text/plain")});
  }
  std::vector<std::string> want = {"TraceLog Opened", "Post.SetTraceFile - Set TraceFile object.",
                                   "TraceLog Opened", "Directory.SetTraceFile - Set TraceFile object.",
                                   "TraceLog Opened", "File.SetTraceFile - Set TraceFile object."};
  for (int i = 0; i < 3; ++i) {
    want.push_back("Post.LetCodePage - Set CodePage value.");
    want.push_back("Directory.GetPath - Path Returned for *.*.");
    want.push_back("File.LetMimeType - Set Mime Type of .");
  }
  auto lines = TraceMessages(site / "shared.log");
  EXPECT_EQ(lines, want);
  post.reset();  // one holder goes: the others still write
  file->Invoke("MimeType", CallKind::Let, {Variant("a/b")});
  EXPECT_EQ(TraceMessages(site / "shared.log").back(), "File.LetMimeType - Set Mime Type of .");
  dir.reset();
  file.reset();
  EXPECT_EQ(OpenFileNumbers(), before);
}

TEST_F(TraceFilePropertyTest, OtherObjectsAreATypeMismatch) {
  TraceFileProperty prop;
  EXPECT_EQ(ThrownError([&] { prop.Set(Variant(CreateObject("Torvane.ProgressBar")), "Post"); }).number, 13);
  EXPECT_EQ(prop.channel(), nullptr);
}

}  // namespace
}  // namespace torvane
