#include "dirs/directory.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include "automation/progid.h"
#include "dirs/cfiles.h"
#include "files/file.h"
#include "host/policy.h"
#include "platform/paths.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

using ::testing::Contains;

namespace fs = std::filesystem;
using test::ThrownError;

using DirectoryPaths = test::PageTest;
using DirectoryProperties = test::PageTest;
using DirectoryCreate = test::PageTest;
using DirectoryCreateTemp = test::PageTest;
using DirectoryDelete = test::PageTest;
using DirectoryRename = test::PageTest;
using DirectoryState = test::PageTest;

// ---- paths -------------------------------------------------------------------------

TEST(TrailingSeparator, RuleCases) {
  struct Case {
    const char* in;
    const char* want;
  } cases[] = {
      {"C:\\data", "C:\\data\\"}, {"/uploads/in", "/uploads/in/"}, {"C:\\data\\", "C:\\data\\"},
      {"/uploads/", "/uploads/"}, {"uploads", "uploads\\"},        {"C:/data/", "C:/data/"},
      {"", "\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(WithTrailingSeparator(c.in), c.want) << c.in;
}

TEST_F(DirectoryPaths, PathReadsBackWithItsSeparatorAndMapsPhysically) {
  auto dir = Directory::New();
  struct Case {
    std::string in, path, physical;
  } cases[] = {
      {"C:\\data", "C:\\data\\", "C:\\data\\"},
      {"C:\\data\\", "C:\\data\\", "C:\\data\\"},
      {"/uploads", "/uploads/", Dos("uploads") + "\\"},
      {"/uploads/", "/uploads/", Dos("uploads") + "\\"},
      {"uploads/in", "uploads/in\\", Dos("uploads/in") + "\\"},
  };
  for (const auto& c : cases) {
    Args a{Variant(c.in)};
    dir->Invoke("Path", CallKind::Let, a);
    EXPECT_EQ(dir->Get("Path").toString(), c.path) << c.in;
    EXPECT_EQ(dir->PhysicalPath(), c.physical) << c.in;
  }
}

TEST_F(DirectoryPaths, PathIsTheDefaultMember) {
  auto dir = Directory::New();
  dir->SetPath("/a");
  Args none;
  EXPECT_EQ(dir->InvokeDispId(kDispIdDefault, CallKind::Get, none).toString(), "/a/");
  EXPECT_EQ(Variant(ObjectRef(dir)).toString(), "/a/");
}

TEST_F(DirectoryPaths, VirtualOnlyPolicyRefusesPhysicalPathsAndChangesNothing) {
  registry.SetPolicy("AllowPaths", "VirtualOnly");
  ResetPathPolicy();
  auto dir = Directory::New();
  dir->SetPath("/uploads");
  for (const char* p : {"C:\\data", "\\data", "..\\up", "up/../../x"}) {
    Error e = ThrownError([&] { dir->SetPath(p); });
    EXPECT_EQ(e.number, 9030) << p;
    EXPECT_EQ(e.description, "Only virtual directories may be used.");
    EXPECT_EQ(dir->PathField(), "/uploads/");
    EXPECT_EQ(dir->PhysicalPath(), Dos("uploads") + "\\");
  }
}

TEST_F(DirectoryPaths, VirtualPathAboveTheSiteRootFails) {
  auto dir = Directory::New();
  dir->SetPath("/in");
  Error e = ThrownError([&] { dir->SetPath("/.."); });
  EXPECT_NE(e.number, 0);
  EXPECT_EQ(dir->PathField(), "/in/");
}

TEST(DirectoryWithoutPage, VirtualPathNeedsTheHostObjects) {
  // A fresh thread: nothing attached, so Server is not set.
  std::thread t([] {
    auto dir = Directory::New();
    EXPECT_EQ(ThrownError([&] { dir->SetPath("/uploads"); }).number, 91);
    test::RegistryFixture registry;
    dir->SetPath("C:\\data");  // a physical path needs no host
    EXPECT_EQ(dir->PhysicalPath(), "C:\\data\\");
  });
  t.join();
}

// ---- properties and their trace lines -----------------------------------------------

TEST_F(DirectoryProperties, FreshObjectDefaults) {
  ObjectRef obj = CreateObject("Torvane.Directory");
  auto dir = std::dynamic_pointer_cast<Directory>(obj);
  ASSERT_TRUE(dir);
  EXPECT_EQ(dir->GetPath(), "");
  EXPECT_EQ(dir->GetMask(), "*.*");
  EXPECT_EQ(dir->GetSortOrder(), 0);
  EXPECT_EQ(dir->PhysicalPath(), "");
  EXPECT_FALSE(dir->Listed());
  EXPECT_FALSE(dir->Exists());
}

TEST_F(DirectoryProperties, TraceLinesShowPathAndMask) {
  MakeDir("d");
  auto dir = Directory::New();
  Traced(*dir);
  std::string p = Dos("d");
  dir->SetPath(p);
  dir->GetPath();
  dir->SetMask("*.txt");
  dir->GetMask();
  dir->SetSortOrder(Variant(int32_t{6}));
  dir->GetSortOrder();
  dir->Exists();
  dir->TraceFile();
  std::vector<std::string> want = {
      "Directory.LetPath - Path Changed for " + p + "\\*.*.",
      "Directory.GetPath - Path Returned for " + p + "\\*.*.",
      "Directory.LetMask - Set the mask for " + p + "\\*.*.",  // the mask before the change
      "Directory.GetMask - Returned the mask for " + p + "\\*.txt.",
      "Directory.LetSortOrder - SortOrder Changed for " + p + "\\*.txt.",
      "Directory.GetSortOrder - SortOrder Returned for " + p + "\\*.txt.",
      "Directory.Exists - Returned exists property.",
      "Directory.GetTraceFile - Returned TraceFile object.",
  };
  EXPECT_EQ(Lines(), want);
}

TEST_F(DirectoryProperties, SetTraceFileWritesItsLine) {
  auto dir = Directory::New();
  Traced(*dir);
  auto all = test::TraceMessages(Native("trace.log"));
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0], "TraceLog Opened");
  EXPECT_EQ(all[1], "Directory.SetTraceFile - Set TraceFile object.");
  EXPECT_EQ(ThrownError([&] { dir->SetTraceFile(Variant(ObjectRef(Directory::New()))); }).number, 13);
}

TEST_F(DirectoryProperties, FilesCannotBeAssigned) {
  auto dir = Directory::New();
  Traced(*dir);
  Args a{Variant(ObjectRef(CFiles::New()))};
  Error e = ThrownError([&] { dir->Invoke("files", CallKind::Set, a); });
  EXPECT_EQ(e.number, 9004);
  EXPECT_EQ(e.description, "Directory.SetFiles - The Files Collection is readonly.");
  EXPECT_EQ(Lines(), (std::vector<std::string>{"Directory.SetFiles - The Files Collection is readonly."}));
}

TEST_F(DirectoryProperties, SortOrderConversion) {
  auto dir = Directory::New();
  dir->SetPath(Dos());
  Args text{Variant("3")};
  dir->Invoke("SortOrder", CallKind::Let, text);
  EXPECT_EQ(dir->Get("SortOrder").type(), VType::I4);
  EXPECT_EQ(dir->GetSortOrder(), 3);
  Args bad{Variant("by name")};
  EXPECT_EQ(ThrownError([&] { dir->Invoke("SortOrder", CallKind::Let, bad); }).number, 13);
  EXPECT_EQ(dir->GetSortOrder(), 3);
  dir->SetSortOrder(Variant(int32_t{42}));  // stored unchanged
  EXPECT_EQ(dir->GetSortOrder(), 42);
}

TEST_F(DirectoryProperties, ExistsForFoldersFilesAndNothing) {
  MakeDir("d");
  Put("plain.txt", "x");
  auto dir = Directory::New();
  dir->SetPath(Dos("d"));
  EXPECT_TRUE(dir->Exists());
  dir->SetPath(Dos("plain.txt"));
  EXPECT_TRUE(dir->Exists());  // any file-system object counts
  dir->SetPath(Dos("nowhere"));
  EXPECT_FALSE(dir->Exists());
}

TEST_F(DirectoryProperties, AttributesClearTheDirectoryBitAndRoundTrip) {
  MakeDir("d");
  auto dir = Directory::New();
  dir->SetPath(Dos("d"));
  EXPECT_EQ(dir->GetAttributes(), 16);
  Args ro{Variant(int32_t{17})};
  dir->Invoke("Attributes", CallKind::Let, ro);
  struct stat st {};
  ASSERT_EQ(::stat(Native("d").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0222, 0u);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(dir->Get("Attributes").toInt32(), 17);
  dir->SetAttributes(16 | 2 | 32);  // hidden and archive live in user.DOSATTRIB
  EXPECT_EQ(dir->GetAttributes(), 16 | 2 | 32);
  dir->SetAttributes(0);
  EXPECT_EQ(dir->GetAttributes(), 16);
  ASSERT_EQ(::stat(Native("d").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IWUSR, 0u);
}

TEST_F(DirectoryProperties, AttributesOfAMissingFolderFail) {
  auto dir = Directory::New();
  dir->SetPath(Dos("missing"));
  EXPECT_EQ(ThrownError([&] { dir->GetAttributes(); }).number, 2);
  EXPECT_EQ(ThrownError([&] { dir->SetAttributes(1); }).number, 2);
}

std::string OwnerNameOf(const std::string& native) {
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0) return "";
  struct passwd* pw = ::getpwuid(st.st_uid);
  return pw ? pw->pw_name : std::to_string(st.st_uid);
}

TEST_F(DirectoryProperties, ToXmlRendersEveryPropertyInOrder) {
  MakeDir("d");
  auto dir = Directory::New();
  dir->SetPath(Dos("d"));
  std::string want = "<directory><attributes>16</attributes><mask>*.*</mask><owner>" + OwnerNameOf(Native("d")) +
                     "</owner><path>" + Dos("d") + "\\</path><sortorder>0</sortorder></directory>";
  EXPECT_EQ(dir->ToXML(), want);
  Args a{Variant("path,path,Path,sortorder"), Variant("<x/>")};
  EXPECT_EQ(dir->Invoke("ToXML", CallKind::Method, a).toString(),
            "<directory><path>" + Dos("d") + "\\</path><path>" + Dos("d") +
                "\\</path><sortorder>0</sortorder><x/></directory>");
}

TEST_F(DirectoryProperties, ToXmlLeavesOutWhatCannotBeRead) {
  auto dir = Directory::New();
  dir->SetPath(Dos("missing"));
  EXPECT_EQ(dir->ToXML(), "<directory><mask>*.*</mask><path>" + Dos("missing") +
                              "\\</path><sortorder>0</sortorder></directory>");
}

TEST_F(DirectoryProperties, AcesOfAMissingFolderFailWith9027) {
  auto dir = Directory::New();
  Traced(*dir);
  dir->SetPath(Dos("missing"));
  Error e = ThrownError([&] { dir->ACEs(); });
  EXPECT_EQ(e.number, 9027);
  EXPECT_EQ(e.description, "File " + Dos("missing") + "\\ does not exist.");
  EXPECT_EQ(Lines().back(), "Directory.Exists - Returned exists property.");
}

TEST_F(DirectoryProperties, AcesAreListedOncePerCache) {
  MakeDir("d");
  auto dir = Directory::New();
  Traced(*dir);
  dir->SetPath(Dos("d"));
  auto listings = [&] {
    auto log = Lines();
    return std::count(log.begin(), log.end(), "Directory.FileListAces - DirectoryListAces " + Dos("d") + "\\.");
  };
  Variant first = dir->Get("ACEs");
  ASSERT_TRUE(first.isObject());
  EXPECT_GE(first.toObject()->Get("Count").toInt32(), 1);
  EXPECT_EQ(dir->Get("ACEs").toObject(), first.toObject());
  EXPECT_EQ(listings(), 1);
  EXPECT_EQ(Lines().back(), "File.GetACEs - Returned ACE collection for " + Dos("d") + "\\.");
  dir->SetPath(Dos("d"));  // Path let drops the cache
  EXPECT_NE(dir->Get("ACEs").toObject(), first.toObject());
  EXPECT_EQ(listings(), 2);
  dir->Refresh();
  dir->Get("ACEs");
  EXPECT_EQ(listings(), 3);
}

TEST_F(DirectoryProperties, OwnerReadAndWrite) {
  MakeDir("d");
  auto dir = Directory::New();
  dir->SetPath(Dos("d"));
  std::string owner = OwnerNameOf(Native("d"));
  EXPECT_EQ(dir->Owner(), owner);
  Args a{Variant(owner)};
  dir->Invoke("Owner", CallKind::Let, a);
  EXPECT_EQ(dir->Get("Owner").toString(), owner);
}

TEST_F(DirectoryProperties, OwnerOfAMissingFolderFailsWithItsTraceLines) {
  auto dir = Directory::New();
  Traced(*dir);
  dir->SetPath(Dos("missing"));
  Error e = ThrownError([&] { dir->Owner(); });
  EXPECT_NE(e.number, 0);
  auto log = Lines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "***Error in File.LetOwner *** - Let Owner of " + Dos("missing") + "\\ Failed.");
  EXPECT_EQ(log.back(), "(" + std::to_string(e.number) + ") " + e.description);
}

TEST_F(DirectoryProperties, OnStartPageReturnsEmpty) {
  auto dir = Directory::New();
  Args a{Variant("anything")};
  EXPECT_TRUE(dir->Invoke("OnStartPage", CallKind::Method, a).isEmpty());
  Args none;
  EXPECT_TRUE(dir->Invoke("OnStartPage", CallKind::Method, none).isEmpty());
}

// ---- Create ------------------------------------------------------------------------

TEST_F(DirectoryCreate, MakesOneFolderAndTraces) {
  auto dir = Directory::New();
  Traced(*dir);
  dir->CreateFolder(Variant(Dos("new")));
  EXPECT_TRUE(fs::is_directory(Native("new")));
  EXPECT_EQ(dir->PathField(), Dos("new") + "\\");
  EXPECT_TRUE(dir->Listed());
  EXPECT_EQ(Lines().back(), "Directory.Create - New directory created for " + Dos("new") + "\\*.*.");
}

TEST_F(DirectoryCreate, VirtualPathCreatesBelowTheSite) {
  auto dir = Directory::New();
  dir->CreateFolder(Variant("/made"));
  EXPECT_TRUE(fs::is_directory(Native("made")));
  EXPECT_EQ(dir->GetPath(), "/made/");
}

TEST_F(DirectoryCreate, FailuresTraceAndKeepTheNewPath) {
  MakeDir("exists");
  auto dir = Directory::New();
  Traced(*dir);
  struct Case {
    std::string arg;
    int32_t number;
  } cases[] = {{Dos("exists"), 17}, {Dos("no/parent"), 2}};
  for (const auto& c : cases) {
    Error e = ThrownError([&] { dir->CreateFolder(Variant(c.arg)); });
    EXPECT_EQ(e.number, c.number) << c.arg;
    EXPECT_EQ(e.description, strerror(c.number));
    EXPECT_EQ(dir->PathField(), c.arg + "\\");
    auto log = Lines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "***Error in Directory.Create *** - Create of " + c.arg + "\\ Failed.");
    EXPECT_EQ(log.back(), "(" + std::to_string(c.number) + ") " + strerror(c.number));
  }
}

// ---- CreateTemp -------------------------------------------------------------------

class TempNameScope {
 public:
  explicit TempNameScope(Directory::TempNameService s) : previous_(Directory::SetTempNameService(std::move(s))) {}
  ~TempNameScope() { Directory::SetTempNameService(std::move(previous_)); }

 private:
  Directory::TempNameService previous_;
};

TEST_F(DirectoryCreateTemp, NewLkFolderInsideThePhysicalParent) {
  MakeDir("parent");
  auto dir = Directory::New();
  dir->CreateTempFolder(Variant(Dos("parent")));
  std::string path = dir->PathField();
  std::string prefix = Dos("parent") + "\\LK";
  ASSERT_EQ(path.rfind(prefix, 0), 0u) << path;
  EXPECT_EQ(path.back(), '\\');
  EXPECT_EQ(dir->PhysicalPath(), path);
  EXPECT_GE(path.size(), prefix.size() + 12 + 1);
  std::string name = path.substr(Dos("parent").size() + 1);
  name.pop_back();
  EXPECT_TRUE(fs::is_directory(Native("parent/" + name)));
  // Only the folder is left: the file the name request created is gone.
  int count = 0;
  for (auto& e : fs::directory_iterator(Native("parent"))) {
    ++count;
    EXPECT_TRUE(e.is_directory());
  }
  EXPECT_EQ(count, 1);
  EXPECT_TRUE(dir->Listed());
}

TEST_F(DirectoryCreateTemp, VirtualParentGivesAPhysicalPath) {
  MakeDir("up");
  auto dir = Directory::New();
  dir->CreateTempFolder(Variant("/up"));
  EXPECT_EQ(dir->GetPath().rfind(Dos("up") + "\\LK", 0), 0u);
}

TEST_F(DirectoryCreateTemp, NamesAreNeverTheSame) {
  MakeDir("p");
  std::set<std::string> names;
  for (int i = 0; i < 50; ++i) {
    auto dir = Directory::New();
    dir->CreateTempFolder(Variant(Dos("p")));
    names.insert(dir->PathField());
  }
  EXPECT_EQ(names.size(), 50u);
}

TEST_F(DirectoryCreateTemp, NameRequestIsTriedAHundredTimes) {
  MakeDir("p");
  int calls = 0;
  TempNameScope hook([&](const std::string& folder, const std::string& prefix) -> std::string {
    EXPECT_EQ(prefix, "LK");
    if (++calls < 100) throw Error(-2147024891, "Access is denied.");
    std::string name = folder + "\\LKlast";
    test::WriteFile(ToNativePath(name), "");
    return name;
  });
  auto dir = Directory::New();
  dir->CreateTempFolder(Variant(Dos("p")));
  EXPECT_EQ(calls, 100);
  EXPECT_EQ(dir->PathField(), Dos("p") + "\\LKlast\\");
  EXPECT_TRUE(fs::is_directory(Native("p/LKlast")));
}

TEST_F(DirectoryCreateTemp, HundredFailedRequestsTraceTheReducedNumber) {
  MakeDir("p");
  int calls = 0;
  TempNameScope hook([&](const std::string&, const std::string&) -> std::string {
    ++calls;
    throw Error(-2147024891, "Access is denied.");
  });
  auto dir = Directory::New();
  Traced(*dir);
  Error e = ThrownError([&] { dir->CreateTempFolder(Variant(Dos("p"))); });
  EXPECT_EQ(calls, 100);
  EXPECT_EQ(e.number, 5);  // 0x80070005 reduced to its low 16 bits
  EXPECT_EQ(e.description, "Access is denied.");
  auto log = Lines();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_EQ(log[0], "***Error in Directory.CreateTemp *** - Temporary Directory Creation of " + Dos("p") +
                        "\\ Failed.");
  EXPECT_EQ(log[1], "(5) Access is denied.");
}

TEST_F(DirectoryCreateTemp, MissingParentFailsWithTheSystemError) {
  auto dir = Directory::New();
  Error e = ThrownError([&] { dir->CreateTempFolder(Variant(Dos("absent"))); });
  EXPECT_EQ(e.number, 2);
  EXPECT_EQ(dir->PathField(), Dos("absent") + "\\");
}

TEST_F(DirectoryCreateTemp, SuffixedNamesWhenTheFolderCannotReplaceTheFile) {
  MakeDir("p");
  // The service hands out a name that is already a folder: deleting "the file"
  // fails and so does creating the folder, so _1, _2, ... are tried.
  MakeDir("p/LKtaken");
  MakeDir("p/LKtaken_1");
  MakeDir("p/LKtaken_2");
  TempNameScope hook([&](const std::string& folder, const std::string&) { return folder + "\\LKtaken"; });
  auto dir = Directory::New();
  dir->CreateTempFolder(Variant(Dos("p")));
  EXPECT_EQ(dir->PathField(), Dos("p") + "\\LKtaken_3\\");
  EXPECT_TRUE(fs::is_directory(Native("p/LKtaken_3")));
}

TEST_F(DirectoryCreateTemp, AllHundredSuffixesTakenFails) {
  MakeDir("p");
  MakeDir("p/LKfull");
  for (int k = 1; k <= 100; ++k) MakeDir("p/LKfull_" + std::to_string(k));
  TempNameScope hook([&](const std::string& folder, const std::string&) { return folder + "\\LKfull"; });
  auto dir = Directory::New();
  Error e = ThrownError([&] { dir->CreateTempFolder(Variant(Dos("p"))); });
  EXPECT_EQ(e.number, 17);
  EXPECT_FALSE(fs::exists(Native("p/LKfull_101")));
}

// ---- Delete ----------------------------------------------------------------------

TEST_F(DirectoryDelete, EmptyFolderIsRemoved) {
  MakeDir("gone");
  auto dir = Directory::New();
  Traced(*dir);
  dir->SetPath(Dos("gone"));
  dir->DeleteFolder();
  EXPECT_FALSE(fs::exists(Native("gone")));
  EXPECT_EQ(Lines().back(), "Directory.Delete - Deleted directory " + Dos("gone") + "\\*.*.");
  EXPECT_FALSE(dir->Listed());
  EXPECT_EQ(dir->GetFiles()->Count(), 0);
}

TEST_F(DirectoryDelete, MissingFolderFailsAfterOneRetry) {
  auto dir = Directory::New();
  Traced(*dir);
  dir->SetPath(Dos("never"));
  Error e = ThrownError([&] { dir->DeleteFolder(Variant(true)); });
  EXPECT_EQ(e.number, 2);
  auto log = Lines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "***Error in Directory.Delete *** - Delete of " + Dos("never") + "\\ Failed.");
  EXPECT_EQ(log.back(), "(2) No such file or directory");
}

// ---- Rename --------------------------------------------------------------------------

TEST_F(DirectoryRename, MovesTheFolderAndFollowsIt) {
  MakeDir("old");
  Put("old/a.txt", "a");
  auto dir = Directory::New();
  Traced(*dir);
  dir->SetPath(Dos("old"));
  dir->RenameFolder(Variant(Dos("new")));
  EXPECT_FALSE(fs::exists(Native("old")));
  EXPECT_EQ(test::ReadFile(Native("new/a.txt")), "a");
  EXPECT_EQ(dir->PathField(), Dos("new") + "\\");
  EXPECT_EQ(dir->PhysicalPath(), Dos("new") + "\\");
  EXPECT_THAT(Lines(), Contains("Directory.Rename - Renamed " + Dos("old") + "\\ to " + Dos("new") + "."));
  EXPECT_TRUE(dir->Listed());
}

TEST_F(DirectoryRename, VirtualTargetWithSeparator) {
  MakeDir("a");
  auto dir = Directory::New();
  dir->SetPath("/a");
  dir->RenameFolder(Variant("/b/"));
  EXPECT_TRUE(fs::is_directory(Native("b")));
  EXPECT_EQ(dir->PathField(), "/b/");
  EXPECT_EQ(dir->PhysicalPath(), Dos("b") + "\\");
}

TEST_F(DirectoryRename, NeverReplacesAnExistingName) {
  for (bool targetIsFolder : {true, false}) {
    MakeDir("src");
    if (targetIsFolder)
      MakeDir("dst");  // an empty folder, which a plain rename would replace
    else
      Put("dst", "keep");
    auto dir = Directory::New();
    Traced(*dir);
    dir->SetPath(Dos("src"));
    Error e = ThrownError([&] { dir->RenameFolder(Variant(Dos("dst"))); });
    EXPECT_EQ(e.number, 17);
    EXPECT_TRUE(fs::is_directory(Native("src")));
    EXPECT_EQ(dir->PathField(), Dos("src") + "\\");
    auto log = Lines();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2],
              "***Error in Directory.Rename *** - Rename of " + Dos("src") + "\\ to " + Dos("dst") + " Failed.");
    EXPECT_EQ(log.back(), "(17) File exists");
    fs::remove_all(Native("src"));
    fs::remove_all(Native("dst"));
  }
}

TEST_F(DirectoryRename, RefusedTargetUnderTheVirtualOnlyPolicy) {
  registry.SetPolicy("AllowPaths", "VirtualOnly");
  ResetPathPolicy();
  MakeDir("v");
  auto dir = Directory::New();
  dir->SetPath("/v");
  Error e = ThrownError([&] { dir->RenameFolder(Variant("C:\\elsewhere")); });
  EXPECT_EQ(e.number, 9030);
  EXPECT_TRUE(fs::is_directory(Native("v")));
}

// ---- Refresh --------------------------------------------------------------------------

TEST_F(DirectoryState, RefreshListsAndTraces) {
  MakeDir("r");
  auto dir = Directory::New();
  Traced(*dir);
  dir->SetPath(Dos("r"));
  EXPECT_FALSE(dir->Listed());
  dir->Refresh();
  EXPECT_TRUE(dir->Listed());
  auto log = Lines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "Directory.List - Listed " + Dos("r") + "\\*.*.");
  EXPECT_EQ(log.back(), "Directory.Refresh - Directory object refreshed for " + Dos("r") + "\\*.*.");
}

}  // namespace
}  // namespace torvane
