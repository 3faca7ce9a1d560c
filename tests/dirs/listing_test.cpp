// The Directory listing: entries, keys, sort orders, masks, and when it is
// rebuilt.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "dirs/cfiles.h"
#include "dirs/directory.h"
#include "files/file.h"
#include "host/policy.h"
#include "platform/paths.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

using ::testing::Contains;
using ::testing::Not;
using ::testing::StartsWith;

namespace fs = std::filesystem;
using test::ThrownError;

class Listing : public test::PageTest {
 protected:
  // Names of a folder in the order the file system returns them.
  std::vector<std::string> SearchOrder(const std::string& rel) const {
    std::vector<std::string> out;
    DIR* d = ::opendir(Native(rel).c_str());
    while (dirent* e = ::readdir(d)) {
      std::string n = e->d_name;
      if (n != "." && n != "..") out.push_back(n);
    }
    ::closedir(d);
    return out;
  }
  static std::vector<std::string> FileNames(CFiles& files) {
    std::vector<std::string> out;
    for (int32_t i = 1; i <= files.Count(); ++i) out.push_back(files.Item(Variant(i))->FileName());
    return out;
  }
  std::shared_ptr<Directory> At(const std::string& rel, int32_t sortOrder = 0) {
    auto dir = Directory::New();
    dir->SetPath(Dos(rel));
    if (sortOrder != 0) dir->SetSortOrder(Variant(sortOrder));
    return dir;
  }
  void ThreeFiles() {
    MakeDir("d");
    Put("d/b.txt", "b");
    Put("d/A.txt", "a");
    Put("d/c.txt", "c");
  }
};

TEST_F(Listing, ByNameIgnoringCaseKeyedByFullName) {
  ThreeFiles();
  auto dir = At("d");
  auto files = dir->GetFiles();
  EXPECT_EQ(FileNames(*files), (std::vector<std::string>{"A.txt", "b.txt", "c.txt"}));
  std::string full = Dos("d") + "\\b.txt";
  EXPECT_EQ(files->Item(Variant(full))->Name(), full);
  EXPECT_EQ(ThrownError([&] { files->Item(Variant("b.txt")); }).number, 5);
  EXPECT_EQ(files->Item(Variant(2))->FileName(), "b.txt");
}

TEST_F(Listing, UnsortedKeepsSearchOrderKeyedByBareName) {
  ThreeFiles();
  auto dir = At("d", 6);
  auto files = dir->GetFiles();
  EXPECT_EQ(FileNames(*files), SearchOrder("d"));
  EXPECT_EQ(files->Item(Variant("b.txt"))->FileName(), "b.txt");
  EXPECT_EQ(files->Item(Variant("B.TXT"))->FileName(), "b.txt");  // keys ignore case
  EXPECT_EQ(ThrownError([&] { files->Item(Variant(Dos("d") + "\\b.txt")); }).number, 5);
}

TEST_F(Listing, SortOrderOutsideTheTableKeepsSearchOrderButFullNameKeys) {
  ThreeFiles();
  auto dir = At("d", 7);
  auto files = dir->GetFiles();
  EXPECT_EQ(FileNames(*files), SearchOrder("d"));
  EXPECT_EQ(files->Item(Variant(Dos("d") + "\\c.txt"))->FileName(), "c.txt");
  EXPECT_EQ(ThrownError([&] { files->Item(Variant("c.txt")); }).number, 5);
}

TEST_F(Listing, OneEntryIsNeverSorted) {
  MakeDir("one");
  Put("one/only.txt", "x");
  for (int32_t order : {0, 1, 2, 7}) {
    auto files = At("one", order)->GetFiles();
    ASSERT_EQ(files->Count(), 1) << order;
    EXPECT_EQ(files->Item(Variant("only.txt"))->FileName(), "only.txt") << order;
    EXPECT_EQ(ThrownError([&] { files->Item(Variant(Dos("one") + "\\only.txt")); }).number, 5) << order;
  }
}

TEST_F(Listing, SubFoldersAreEntriesDotNamesNever) {
  MakeDir("d/sub");
  MakeDir("d/.hidden");
  Put("d/f.txt");
  auto files = At("d")->GetFiles();
  EXPECT_EQ(FileNames(*files), (std::vector<std::string>{".hidden", "f.txt", "sub"}));
  EXPECT_TRUE(files->Item(Variant(3))->IsDirectory());
  EXPECT_FALSE(files->Item(Variant(2))->IsDirectory());
}

TEST_F(Listing, SizesCompareAsNumbers) {
  MakeDir("s");
  Put("s/ten", "0123456789");
  Put("s/nine", "012345678");
  Put("s/big", std::string(100, 'x'));
  auto files = At("s", 1)->GetFiles();
  EXPECT_EQ(FileNames(*files), (std::vector<std::string>{"nine", "ten", "big"}));
}

TEST_F(Listing, EverySortOrder) {
  registry.Write(
      "[HKEY_CLASSES_ROOT\\.txt]\n@=\"txtfile\"\n\"Content Type\"=\"text/plain\"\n\n"
      "[HKEY_CLASSES_ROOT\\txtfile]\n@=\"Text Document\"\n\n"
      "[HKEY_CLASSES_ROOT\\.zzz]\n\"Content Type\"=\"application/x-zzz\"\n\n"
      "[HKEY_CLASSES_ROOT\\.abc]\n\"Content Type\"=\"audio/abc\"\n\n");
  MakeDir("m");
  Put("m/b.zzz", "bbb");
  Put("m/a.txt", std::string(20, 'a'));
  Put("m/c.abc", "c");
  auto now = fs::file_time_type::clock::now();
  fs::last_write_time(Native("m/b.zzz"), now - std::chrono::hours(48));
  fs::last_write_time(Native("m/c.abc"), now - std::chrono::hours(24));
  fs::last_write_time(Native("m/a.txt"), now);
  struct Case {
    int32_t order;
    std::vector<std::string> want;
  } cases[] = {
      {0, {"a.txt", "b.zzz", "c.abc"}},  // name
      {1, {"c.abc", "b.zzz", "a.txt"}},  // size 1, 3, 20
      {2, {"b.zzz", "c.abc", "a.txt"}},  // oldest first
      {3, {"c.abc", "a.txt", "b.zzz"}},  // ABC, TXT, ZZZ
      {4, {"c.abc", "a.txt", "b.zzz"}},  // ABC FILE, TEXT DOCUMENT, ZZZ FILE
      {5, {"b.zzz", "c.abc", "a.txt"}},  // APPLICATION/X-ZZZ, AUDIO/ABC, TEXT/PLAIN
  };
  for (const auto& c : cases) EXPECT_EQ(FileNames(*At("m", c.order)->GetFiles()), c.want) << c.order;
}

TEST_F(Listing, MaskSelectsNamesAndMatchingNothingIsNoError) {
  ThreeFiles();
  Put("d/notes.log", "l");
  auto dir = At("d");
  Traced(*dir);
  dir->SetMask("*.LOG");
  EXPECT_EQ(FileNames(*dir->GetFiles()), (std::vector<std::string>{"notes.log"}));
  dir->SetMask("?.txt");
  EXPECT_EQ(FileNames(*dir->GetFiles()), (std::vector<std::string>{"A.txt", "b.txt", "c.txt"}));
  auto before = Lines().size();
  dir->SetMask("*.none");
  EXPECT_FALSE(dir->Listed());
  auto files = dir->GetFiles();
  EXPECT_EQ(files->Count(), 0);
  for (size_t i = before; i < Lines().size(); ++i) EXPECT_THAT(Lines()[i], Not(StartsWith("Directory.List - Listed ")));
}

TEST_F(Listing, MaskLetTracesTheOldMaskThenListsAtOnce) {
  ThreeFiles();
  auto dir = At("d");
  Traced(*dir);
  dir->SetMask("a*");
  EXPECT_TRUE(dir->Listed());
  auto log = Lines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log.front(), "Directory.LetMask - Set the mask for " + Dos("d") + "\\*.*.");
  EXPECT_EQ(log.back(), "Directory.List - Listed " + Dos("d") + "\\a*.");
}

TEST_F(Listing, PathLetEmptiesTheSameCollectionAndTheNextReadRelists) {
  ThreeFiles();
  MakeDir("e");
  Put("e/x.txt");
  Put("e/y.txt");
  auto dir = At("d");
  auto first = dir->GetFiles();
  EXPECT_EQ(first->Count(), 3);
  EXPECT_EQ(dir->GetFiles(), first);  // the same object until the listing changes
  dir->SetPath(Dos("e"));
  EXPECT_EQ(first->Count(), 0);
  EXPECT_FALSE(dir->Listed());
  auto second = dir->GetFiles();
  EXPECT_EQ(FileNames(*second), (std::vector<std::string>{"x.txt", "y.txt"}));
}

TEST_F(Listing, SortedRelistingInstallsANewCollection) {
  ThreeFiles();
  auto dir = At("d");
  auto held = dir->GetFiles();
  dir->Refresh();
  auto fresh = dir->GetFiles();
  EXPECT_NE(held, fresh);
  EXPECT_EQ(held->Count(), 3);  // a page holding the old one keeps its entries
  EXPECT_EQ(fresh->Count(), 3);
}

TEST_F(Listing, EntriesCarryTheVirtualPathAndTheTraceChannel) {
  MakeDir("up");
  Put("up/a.txt", "a");
  auto dir = Directory::New();
  Traced(*dir);
  dir->SetPath("/up");
  auto files = dir->GetFiles();
  auto entry = files->Item(Variant(1));
  EXPECT_EQ(entry->Name(), "/up/a.txt");
  EXPECT_EQ(entry->PhysicalPath(), Dos("up") + "\\a.txt");
  EXPECT_EQ(entry->traceChannel(), dir->traceChannel());
  EXPECT_THAT(Lines(), Contains("Directory.GetFiles - Returned file collection for /up/*.*."));
  EXPECT_THAT(Lines(), Contains("Directory.List - Listed /up/*.*."));
}

TEST_F(Listing, NamesDifferingOnlyInCaseAreAllListed) {
  MakeDir("c");
  Put("c/a.txt", "1");
  Put("c/A.txt", "22");
  for (int32_t order : {0, 6}) {
    auto files = At("c", order)->GetFiles();
    EXPECT_EQ(files->Count(), 2) << order;
  }
}

TEST_F(Listing, NamesWithABackslashAreLeftOut) {
  MakeDir("b");
  Put("b/ok.txt");
  Put("b/..\\..\\evil", "x");
  EXPECT_EQ(FileNames(*At("b")->GetFiles()), (std::vector<std::string>{"ok.txt"}));
}

TEST_F(Listing, MissingFolderGivesAnEmptyListingAndTriesAgainLater) {
  auto dir = At("later");
  EXPECT_EQ(dir->GetFiles()->Count(), 0);
  EXPECT_FALSE(dir->Listed());
  MakeDir("later");
  Put("later/x.txt");
  Put("later/y.txt");
  EXPECT_EQ(dir->GetFiles()->Count(), 2);
  EXPECT_TRUE(dir->Listed());
}

TEST_F(Listing, EntryThePolicyRefusesFailsTheListing) {
  MakeDir("up");
  auto dir = Directory::New();
  Traced(*dir);  // the log opens at its File's Name, physical here: before the policy
  registry.SetPolicy("AllowPaths", "VirtualOnly");
  ResetPathPolicy();
  dir->CreateTempFolder(Variant("/up"));  // Path is now a physical folder
  std::string path = dir->PathField();
  std::string native = ToNativePath(path);
  test::WriteFile(native + "/x.txt", "x");
  Error e = ThrownError([&] { dir->Refresh(); });
  EXPECT_EQ(e.number, 9030);
  EXPECT_FALSE(dir->Listed());
  auto log = Lines();
  ASSERT_GE(log.size(), 4u);
  EXPECT_EQ(log[log.size() - 4], "***Error in Directory.List *** - Listing of " + path + "*.* Failed.");
  EXPECT_EQ(log[log.size() - 3], "(9030) Only virtual directories may be used.");
  EXPECT_EQ(log[log.size() - 2], "***Error in Directory.Refresh *** - Refresh of " + path + "*.* Failed.");
  EXPECT_EQ(log[log.size() - 1], "(9030) Only virtual directories may be used.");
}

TEST_F(Listing, FilesCollectionThroughLateBoundCalls) {
  ThreeFiles();
  auto dir = At("d");
  Variant files = dir->Get("files");
  ASSERT_TRUE(files.isObject());
  EXPECT_EQ(files.toObject()->Get("Count").toInt32(), 3);
  Args idx{Variant(1)};
  Variant first = files.toObject()->InvokeDispId(kDispIdDefault, CallKind::Get, idx);
  EXPECT_EQ(first.toObject()->Get("FileName").toString(), "A.txt");
}

}  // namespace
}  // namespace torvane
