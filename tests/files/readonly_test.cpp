// A read-only file refuses every change of its content, name or dates, with
// the platform's access-denied error, whoever the process runs as (root
// ignores the missing write bits; the File checks the attribute itself).
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "files/file.h"
#include "platform/fileservices.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

using test::ThrownError;
using test::ReadFile;
using test::WriteFile;

class ReadonlyFile : public test::PageTest {
 protected:
  ReadonlyFile() : PageTest(test::kFileTypesReg) {}
  void SetUp() override {
    WriteFile(Native("ro.txt"), "protected");
    ASSERT_EQ(::chmod(Native("ro.txt").c_str(), 0444), 0);
    WriteFile(Native("src.txt"), "other bytes");
  }
  int64_t ModTime() {
    struct stat st {};
    ::stat(Native("ro.txt").c_str(), &st);
    return st.st_mtime;
  }
};

TEST_F(ReadonlyFile, EveryChangeIsRefusedWith5AndLeavesTheFile) {
  struct Case {
    const char* what;
    std::function<void(File&)> run;  // on a File that traces into its log
    std::string firstTraceLine;      // "" : the member writes no failure lines
  };
  std::vector<Case> cases = {
      {"Create", [&](File& f) { f.CreateFile(Dos("ro.txt")); },
       "***Error in File.Create *** - File Creation of " + Dos("ro.txt") + " Failed."},
      {"Delete", [&](File& f) { f.SetName(Dos("ro.txt")); f.Delete(); },
       "***Error in File.Delete *** - Delete of " + Dos("ro.txt") + " Failed."},
      {"Copy onto it", [&](File& f) { f.SetName(Dos("src.txt")); f.Copy(Dos("ro.txt")); },
       "***Error in File.Copy *** - Copy of " + Dos("src.txt") + " to " + Dos("ro.txt") + " Failed."},
      {"Save onto it",
       [&](File& f) {
         f.SetName(Dos("src.txt"));
         f.Load();
         f.Save(Variant(Dos("ro.txt")));
       },
       "***Error in File.Save *** - Save of " + Dos("ro.txt") + " from memory Failed."},
      {"LastModified put", [&](File& f) { f.SetName(Dos("ro.txt")); f.SetLastModified(36526.5); }, ""},
  };
  for (const auto& c : cases) {
    int64_t before = ModTime();
    auto f = File::New();
    std::string log = Traced(*f, std::string(c.what) + ".log");
    Error e = ThrownError([&] { c.run(*f); });
    EXPECT_EQ(e.number, 5) << c.what;
    EXPECT_EQ(e.description, "Access is denied.") << c.what;
    EXPECT_EQ(ReadFile(Native("ro.txt")), "protected") << c.what;
    EXPECT_EQ(ModTime(), before) << c.what;
    auto lines = Lines(log);
    if (!c.firstTraceLine.empty()) {
      ASSERT_GE(lines.size(), 2u) << c.what;
      EXPECT_EQ(lines[lines.size() - 2], c.firstTraceLine) << c.what;
      EXPECT_EQ(lines.back(), "(5) Access is denied.") << c.what;
    }
  }
}

TEST_F(ReadonlyFile, ClearingTheAttributeAllowsTheChangeAgain) {
  auto f = FileAt("ro.txt");
  EXPECT_TRUE(f->IsReadonly());
  f->SetAttributes(kAttrNormal);
  f->CreateFile(Dos("ro.txt"));
  EXPECT_EQ(ReadFile(Native("ro.txt")), "");
  f->Delete();
  EXPECT_FALSE(std::filesystem::exists(Native("ro.txt")));
}

TEST_F(ReadonlyFile, ReadingAndCopyingFromItStillWork) {
  auto f = FileAt("ro.txt");
  auto copy = f->Copy(Dos("copy.txt"));
  EXPECT_EQ(ReadFile(Native("copy.txt")), "protected");
  f->Load();
  EXPECT_EQ(f->GetContent().size(), 9u);
  EXPECT_EQ(f->MD5().size(), 32u);
}

}  // namespace
}  // namespace torvane
