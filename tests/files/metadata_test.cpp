// MD5, modification dates, HTTP dates and RegisterDLL.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "files/file.h"
#include "files/httpdate.h"
#include "platform/paths.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

using test::ThrownError;
using test::ReadFile;
using test::WriteFile;

class FileMetadata : public test::PageTest {
 protected:
  FileMetadata() : PageTest(test::kFileTypesReg) {}
};

// md5sum's digest of a file, upper-cased.
std::string Md5sum(const std::string& native) {
  std::string cmd = "md5sum '" + native + "'";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return "";
  char buf[128] = {};
  size_t n = fread(buf, 1, sizeof buf - 1, p);
  pclose(p);
  std::string out(buf, n < 32 ? n : 32);
  for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

TEST_F(FileMetadata, Md5MatchesMd5sum) {
  WriteFile(Native("empty.bin"), "");
  WriteFile(Native("abc.bin"), "abc");
  std::string big(100000, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
  WriteFile(Native("big.bin"), big);  // several 15000-byte reads, the last one short
  EXPECT_EQ(FileAt("empty.bin")->MD5(), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(FileAt("abc.bin")->MD5(), "900150983CD24FB0D6963F7D28E17F72");
  for (const char* name : {"empty.bin", "abc.bin", "big.bin"})
    EXPECT_EQ(FileAt(name)->MD5(), Md5sum(Native(name))) << name;
}

TEST_F(FileMetadata, Md5OfLoadedFileSurvivesDeletingIt) {
  WriteFile(Native("l.bin"), "loaded content");
  std::string expected = Md5sum(Native("l.bin"));
  auto f = FileAt("l.bin");
  f->Load();
  std::filesystem::remove(Native("l.bin"));
  EXPECT_EQ(f->MD5(), expected);
}

TEST_F(FileMetadata, Md5OfMissingFileTracesAndFails) {
  auto f = FileAt("none.bin");
  std::string log = Traced(*f);
  Error e = ThrownError([&] { f->MD5(); });
  EXPECT_EQ(e.number, 2);
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"***Error in File.MD5 *** - MD5 Computation of File " + Dos("none.bin") +
                                                      " Failed.",
                                                  "(2) No such file or directory"}));
}

// Sets TZ for one test and restores the previous zone.
class ZoneScope {
 public:
  explicit ZoneScope(const char* tz) {
    const char* old = std::getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", tz, 1);
    tzset();
  }
  ~ZoneScope() {
    if (had_) setenv("TZ", old_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

// One hour east of UTC, two in summer (the rules of central Europe).
constexpr const char* kCentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";

TEST_F(FileMetadata, GmtTextUsesTheOffsetAtTheDate) {
  ZoneScope zone(kCentralEurope);
  WriteFile(Native("w.txt"), "x");
  auto f = FileAt("w.txt");
  f->SetLastModified(DateFromParts({1994, 11, 6, 8, 49, 37}));
  EXPECT_EQ(DateToText(f->LastModified()), "1994-11-06 08:49:37");
  EXPECT_EQ(f->LastModifiedGMT(), "Sun, 6 Nov 1994 07:49:37 GMT");
  f->SetLastModified(DateFromParts({2023, 7, 4, 8, 49, 37}));
  EXPECT_EQ(f->LastModifiedGMT(), "Tue, 4 Jul 2023 06:49:37 GMT");
}

TEST(HttpDate, FormatAndParseAreExactInverses) {
  ZoneScope zone(kCentralEurope);
  double winter = DateFromParts({1994, 11, 6, 8, 49, 37});
  EXPECT_EQ(FormatHttpDate(winter), "Sun, 06 Nov 1994 07:49:37 GMT");
  EXPECT_EQ(FormatGmtText(winter), "Sun, 6 Nov 1994 07:49:37 GMT");
  EXPECT_EQ(DateToText(ToGmt(winter)), "1994-11-06 07:49:37");
  double summer = DateFromParts({2024, 6, 30, 1, 30, 0});
  EXPECT_EQ(FormatHttpDate(summer), "Sat, 29 Jun 2024 23:30:00 GMT");
  for (double d : {winter, summer, DateFromParts({2000, 2, 29, 0, 0, 0}), DateFromParts({2024, 10, 27, 1, 59, 59}),
                   DateFromParts({2099, 12, 31, 23, 59, 59})}) {
    EXPECT_EQ(DateToText(ParseHttpDate(FormatHttpDate(d))), DateToText(d));
    EXPECT_EQ(DateToText(FromGmt(ToGmt(d))), DateToText(d));
  }
  EXPECT_EQ(DateToText(ParseHttpDate(FormatGmtText(winter))), DateToText(winter));
}

TEST(HttpDate, UnparseableTextFailsWithTypeMismatch) {
  for (const char* text : {"", "garbage", "Sun, 06 Xyz 1994 08:49:37 GMT", "Sun, 31 Feb 1994 08:49:37 GMT",
                           "Sun, 06 Nov 1994 25:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun, 06 Nov 94 08:49:37 GMT"}) {
    Error e = ThrownError([&] { ParseHttpDate(text); });
    EXPECT_EQ(e.number, 13) << text;
  }
}

TEST_F(FileMetadata, LastModifiedPutSetsTheTimeAndFailsOnMissingFile) {
  WriteFile(Native("t.txt"), "x");
  auto f = FileAt("t.txt");
  double d = DateFromParts({2001, 2, 3, 4, 5, 6});
  Args args{Variant::Date(d)};
  f->Invoke("LastModified", CallKind::Let, args);  // let falls back to set-by-reference
  EXPECT_EQ(DateToText(f->LastModified()), "2001-02-03 04:05:06");
  auto g = FileAt("missing.txt");
  Error e = ThrownError([&] { g->SetLastModified(d); });
  EXPECT_EQ(e.number, 2);
  EXPECT_EQ(e.description, "No such file or directory");
  EXPECT_EQ(ThrownError([&] { g->LastModified(); }).number, 2);
  EXPECT_EQ(ThrownError([&] { g->LastModifiedGMT(); }).number, 2);
}

class RegisterDll : public test::PageTest {
 protected:
  RegisterDll() : PageTest(test::kFileTypesReg) {}
  std::string Fixture(const char* name) { return ToDosPath(std::string(TORVANE_FIXTURE_DIR) + "/" + name); }
};

TEST_F(RegisterDll, CallsDllRegisterServer) {
  std::string mark = Native("mark.txt");
  setenv("TORVANE_REGISTER_MARK", mark.c_str(), 1);
  auto f = File::New();
  f->SetName(Fixture("regserver_ok.so"));
  std::string log = Traced(*f);
  f->RegisterDLL();
  unsetenv("TORVANE_REGISTER_MARK");
  EXPECT_EQ(ReadFile(mark), "registered\n");
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"File.RegisterDLL - RegisterDLL " + Fixture("regserver_ok.so") + "."}));
}

TEST_F(RegisterDll, FailureCodeIsReducedToItsLowWord) {
  auto f = File::New();
  f->SetName(Fixture("regserver_fail.so"));
  std::string log = Traced(*f);
  Error e = ThrownError([&] { f->RegisterDLL(); });
  EXPECT_EQ(e.number, 0x0201);
  auto lines = Lines(log);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], "***Error in File.RegisterDLL *** - RegisterDLL of " + Fixture("regserver_fail.so") + " Failed.");
  EXPECT_EQ(lines[1], "(-2147220991) " + e.description);  // the trace shows the number before the reduction
}

TEST_F(RegisterDll, MissingFunctionOrObjectFails) {
  auto f = File::New();
  f->SetName(Fixture("regserver_none.so"));
  EXPECT_EQ(ThrownError([&] { f->RegisterDLL(); }).number, 127);
  WriteFile(Native("not-an-object.so"), "plain text");
  auto g = FileAt("not-an-object.so");
  EXPECT_EQ(ThrownError([&] { g->RegisterDLL(); }).number, 126);
}

TEST_F(RegisterDll, FileNotFoundByLastReadFailsWith9027) {
  auto f = FileAt("absent.so");
  std::string log = Traced(*f);
  Error e = ThrownError([&] { f->RegisterDLL(); });
  EXPECT_EQ(e.number, 9027);
  EXPECT_EQ(e.description, "File " + Dos("absent.so") + " does not exist.");
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"***Error in File.RegisterDLL *** - RegisterDLL of " + Dos("absent.so") +
                                                      " Failed.",
                                                  "(9027) " + e.description}));
}

}  // namespace
}  // namespace torvane
