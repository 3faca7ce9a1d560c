// Directory.Delete with and without Recurse, and RecurseDelete.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "dirs/cfiles.h"
#include "dirs/directory.h"
#include "files/file.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

using ::testing::Contains;

namespace fs = std::filesystem;
using test::ThrownError;

class RecurseDelete : public test::PageTest {
 protected:
  void Tree() {
    MakeDir("t/sub/deeper");
    MakeDir("t/empty");
    Put("t/a.txt", "a");
    Put("t/sub/b.log", "b");
    Put("t/sub/deeper/c", "c");
  }
  size_t CountLines(const std::string& prefix) const {
    auto log = Lines();
    return static_cast<size_t>(
        std::count_if(log.begin(), log.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
  }
};

TEST_F(RecurseDelete, RemovesTheWholeTreeDepthFirst) {
  Tree();
  auto dir = Directory::New();
  Traced(*dir);
  dir->SetPath(Dos("t"));
  dir->SetMask("*.txt");
  Args a{Variant(true)};
  dir->Invoke("Delete", CallKind::Method, a);
  EXPECT_FALSE(fs::exists(Native("t")));
  EXPECT_EQ(dir->GetMask(), "*.*");
  // One line per removed folder (sub, deeper, empty, t) and one more for the top.
  EXPECT_EQ(CountLines("Directory.Delete - Deleted directory "), 5u);
  EXPECT_THAT(Lines(), Contains("File.Delete - Deleted " + Dos("t") + "\\sub\\deeper\\c."));
  EXPECT_EQ(dir->GetFiles()->Count(), 0);
}

TEST_F(RecurseDelete, VirtualPathTree) {
  Tree();
  auto dir = Directory::New();
  dir->SetPath("/t");
  dir->DeleteFolder(Variant(int32_t{1}));
  EXPECT_FALSE(fs::exists(Native("t")));
}

TEST_F(RecurseDelete, WithoutRecurseAFolderWithAFileFailsAfterOneRetry) {
  MakeDir("one");
  Put("one/f.txt", "f");
  auto dir = Directory::New();
  Traced(*dir);
  dir->SetPath(Dos("one"));
  for (Variant recurse : {Variant::Missing(), Variant(false), Variant(int32_t{0})}) {
    Error e = ThrownError([&] { dir->DeleteFolder(recurse); });
    EXPECT_EQ(e.number, ENOTEMPTY);
    EXPECT_EQ(e.description, strerror(ENOTEMPTY));
    auto log = Lines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "***Error in Directory.Delete *** - Delete of " + Dos("one") + "\\ Failed.");
    EXPECT_EQ(log.back(), "(" + std::to_string(ENOTEMPTY) + ") " + strerror(ENOTEMPTY));
    EXPECT_EQ(test::ReadFile(Native("one/f.txt")), "f");
  }
  // Each call writes its failure lines once, after its single retry.
  EXPECT_EQ(CountLines("***Error in Directory.Delete"), 3u);
}

TEST_F(RecurseDelete, OnlyEntriesUnderTheMaskStartTheRecursion) {
  MakeDir("m");
  Put("m/keep.txt", "k");
  auto dir = Directory::New();
  dir->SetPath(Dos("m"));
  dir->SetMask("*.log");
  Error e = ThrownError([&] { dir->DeleteFolder(Variant(true)); });
  EXPECT_EQ(e.number, ENOTEMPTY);
  EXPECT_TRUE(fs::exists(Native("m/keep.txt")));
  EXPECT_EQ(dir->GetMask(), "*.log");
}

TEST_F(RecurseDelete, RecurseValueIsCombinedBitwise) {
  // 2 AND -1 is 2 (true); a string "True" converts to -1.
  for (Variant recurse : {Variant(int32_t{2}), Variant("True")}) {
    Tree();
    auto dir = Directory::New();
    dir->SetPath(Dos("t"));
    dir->DeleteFolder(recurse);
    EXPECT_FALSE(fs::exists(Native("t"))) << recurse.toString();
  }
}

TEST_F(RecurseDelete, SymbolicLinksAreRemovedNotFollowed) {
  MakeDir("outside/inner");
  Put("outside/precious.txt", "p");
  Put("outside/inner/also.txt", "q");
  MakeDir("t");
  Put("t/a.txt", "a");
  ASSERT_EQ(::symlink(Native("outside").c_str(), Native("t/link").c_str()), 0);
  auto dir = Directory::New();
  dir->SetPath(Dos("t"));
  dir->DeleteFolder(Variant(true));
  EXPECT_FALSE(fs::exists(Native("t")));
  EXPECT_EQ(test::ReadFile(Native("outside/precious.txt")), "p");
  EXPECT_EQ(test::ReadFile(Native("outside/inner/also.txt")), "q");
}

TEST_F(RecurseDelete, FailureInsideTracesTheFolderBeingEmptied) {
  Tree();
  auto dir = Directory::New();
  Traced(*dir);
  dir->SetPath(Dos("t"));
  dir->List();
  // The tree goes behind the object's back: RecurseDelete's own listing finds
  // nothing and its final Delete fails on the missing folder (after retries).
  fs::remove_all(Native("t"));
  Error e = ThrownError([&] { dir->RecurseDelete(*dir); });
  EXPECT_EQ(e.number, 2);
  auto log = Lines();
  ASSERT_GE(log.size(), 3u);
  EXPECT_EQ(log[log.size() - 3], "Directory.GetPath - Path Returned for " + Dos("t") + "\\*.*.");
  EXPECT_EQ(log[log.size() - 2], "***Error in Directory.RecurseDelete *** - Delete of " + Dos("t") + "\\ Failed.");
  EXPECT_EQ(log.back(), "(2) No such file or directory");
}

}  // namespace
}  // namespace torvane
