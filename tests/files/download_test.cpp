// File.Download over the in-memory host.
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>

#include "files/file.h"
#include "files/httpdate.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

using test::ThrownError;
using test::FileExists;
using test::WriteFile;

class FileDownload : public test::PageTest {
 protected:
  FileDownload() : PageTest(test::kFileTypesReg) {}
  // A file of `size` bytes whose byte i is (i * 7 + 3) mod 256.
  std::shared_ptr<File> Sample(size_t size, std::string_view name = "dl.bin") {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    WriteFile(Native(name), data);
    content_ = data;
    return FileAt(name);
  }
  void Header(const char* variable, const std::string& value) { host.request->serverVariables[variable] = value; }
  test::MemResponse& Resp() { return *host.response; }
  std::string Body() { return Resp().BodyText(); }
  std::vector<std::string> HeaderNames() {
    std::vector<std::string> out;
    for (const auto& h : Resp().headers) out.push_back(h.first);
    return out;
  }
  std::string Slice(size_t from, size_t count) const { return content_.substr(from, count); }

  std::string content_;
};

TEST_F(FileDownload, NoHeadersSendsTheWholeFile) {
  auto f = Sample(1000);
  std::string log = Traced(*f);
  EXPECT_TRUE(f->Download());
  EXPECT_EQ(Resp().status, "200 OK");
  EXPECT_EQ(HeaderNames(), (std::vector<std::string>{"Last-Modified", "Accept-Ranges", "Etag", "Content-Length"}));
  EXPECT_EQ(Resp().Header("Last-Modified"), FormatHttpDate(f->LastModified()));
  EXPECT_EQ(Resp().Header("Accept-Ranges"), "bytes");
  EXPECT_EQ(Resp().Header("Content-Length"), "1000");
  EXPECT_EQ(Resp().contentType, "application/unknown");  // the File's MimeType
  EXPECT_FALSE(Resp().buffer);
  EXPECT_EQ(Resp().cacheControl, "public");
  EXPECT_EQ(Body(), content_);
  EXPECT_FALSE(Resp().ended);
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"HTTP_IF_MODIFIED_SINCE", "HTTP_UNLESS_MODIFIED_SINCE", "1", "2", "3", "4",
                                                  "5", "6", "7", "8", "9",
                                                  "File.IsDirectory - Returned Directory Attribute of " + Dos("dl.bin") + ".",
                                                  "10"}));
}

TEST_F(FileDownload, EntityTagIsModificationTimeAndSizeInHex) {
  auto f = Sample(1000);
  struct stat st {};
  ASSERT_EQ(::stat(Native("dl.bin").c_str(), &st), 0);
  char expected[64];
  std::snprintf(expected, sizeof expected, "\"%llx-3e8\"", static_cast<unsigned long long>(st.st_mtim.tv_sec));
  f->Download();
  EXPECT_EQ(Resp().Header("Etag"), expected);

  // Another version of the file gets another tag.
  WriteFile(Native("dl.bin"), std::string(999, 'x'));
  test::MemHost again(site.path());
  test::MemHost::Scope scope(again);
  f->Download();
  std::string tag = again.response->Header("Etag");
  EXPECT_NE(tag, expected);
  ASSERT_GE(tag.size(), 5u);
  EXPECT_EQ(tag.substr(tag.size() - 5), "-3e7\"");
}

TEST_F(FileDownload, ChunksOf15000WithTheClientCheckedBeforeEach) {
  auto f = Sample(40000);
  EXPECT_TRUE(f->Download());
  EXPECT_EQ(Resp().binaryWrites, (std::vector<size_t>{15000, 15000, 10000}));
  EXPECT_EQ(Resp().connectedChecks, 3);
  EXPECT_EQ(Body(), content_);
}

// A host that sends file bytes itself (sendfile) gets the first chunk alone,
// then 64 chunks per call, the client asked before each call; the bytes are
// the file's, in order, and none goes through BinaryWrite.
TEST_F(FileDownload, AHostThatSendsFilesTakesManyChunksPerCall) {
  auto f = Sample(2000000);
  Resp().transmitFiles = true;
  EXPECT_TRUE(f->Download());
  using Call = std::pair<int64_t, int64_t>;
  EXPECT_EQ(Resp().transmits, (std::vector<Call>{{0, 15000}, {15000, 960000}, {975000, 960000}, {1935000, 65000}}));
  EXPECT_EQ(Resp().connectedChecks, 4);
  EXPECT_TRUE(Resp().binaryWrites.empty());
  EXPECT_EQ(Body(), content_);
}

TEST_F(FileDownload, ModifiedSinceEqualAnswers304WithoutBody) {
  auto f = Sample(1000);
  f->Download();
  std::string lastModified = Resp().Header("Last-Modified");

  test::MemHost second(site.path());
  test::MemHost::Scope scope(second);
  second.request->serverVariables["HTTP_IF_MODIFIED_SINCE"] = lastModified;
  std::string log = Traced(*f, "304.log");
  EXPECT_TRUE(f->Download(Variant::Missing(), Variant::Missing(), Variant(true)));
  EXPECT_EQ(second.response->status, "304 Not Modified");
  EXPECT_TRUE(second.response->headers.empty());
  EXPECT_TRUE(second.response->body.empty());
  EXPECT_TRUE(second.response->ended);
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"HTTP_IF_MODIFIED_SINCE", "File.Download - Modified Since Found: " + lastModified,
                                                  "HTTP_UNLESS_MODIFIED_SINCE", "1", "2", "3", "4",
                                                  "File.Download - Returned 304 Not Modified"}));
}

// If-None-Match decides alone when present: a tag of this version (weakly
// compared, in a list, or "*") is 304 whatever If-Modified-Since says, and
// any other tag sends the file even when If-Modified-Since is equal.
TEST_F(FileDownload, NoneMatchWithTheEntityTagAnswers304) {
  auto f = Sample(1000);
  f->Download();
  std::string tag = Resp().Header("Etag");
  std::string lastModified = Resp().Header("Last-Modified");
  std::string otherDate = FormatHttpDate(f->LastModified() + 1.0 / 86400);
  struct Case {
    std::string noneMatch, modifiedSince;
    bool notModified;
  };
  const Case cases[] = {
      {tag, "", true},
      {"W/" + tag, "", true},
      {"\"a-1\", " + tag, "", true},
      {"*", "", true},
      {tag, otherDate, true},
      {"\"a-1\"", "", false},
      {"\"a-1\"", lastModified, false},
  };
  for (const auto& c : cases) {
    test::MemHost page(site.path());
    test::MemHost::Scope scope(page);
    page.request->serverVariables["HTTP_IF_NONE_MATCH"] = c.noneMatch;
    if (!c.modifiedSince.empty()) page.request->serverVariables["HTTP_IF_MODIFIED_SINCE"] = c.modifiedSince;
    std::string log = Traced(*f, "inm.log");
    EXPECT_TRUE(f->Download(Variant::Missing(), Variant::Missing(), Variant(true)));
    auto lines = Lines(log);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "File.Download - None Match Found: " + c.noneMatch), lines.end());
    if (c.notModified) {
      EXPECT_EQ(page.response->status, "304 Not Modified") << c.noneMatch;
      EXPECT_TRUE(page.response->headers.empty()) << c.noneMatch;
      EXPECT_TRUE(page.response->body.empty()) << c.noneMatch;
      EXPECT_EQ(lines.back(), "File.Download - Returned 304 Not Modified");
    } else {
      EXPECT_EQ(page.response->status, "200 OK") << c.noneMatch;
      EXPECT_EQ(page.response->BodyText(), content_) << c.noneMatch;
    }
    EXPECT_TRUE(page.response->ended);
    EXPECT_TRUE(FileExists(Native("dl.bin")));
  }
}

TEST_F(FileDownload, NoneMatchOn304DeletesTheFileWhenAsked) {
  auto f = Sample(100);
  f->Download();
  std::string tag = Resp().Header("Etag");
  test::MemHost page(site.path());
  test::MemHost::Scope scope(page);
  page.request->serverVariables["HTTP_IF_NONE_MATCH"] = tag;
  EXPECT_TRUE(f->Download(Variant::Missing(), Variant::Missing(), Variant(false), Variant(true)));
  EXPECT_EQ(page.response->status, "304 Not Modified");
  EXPECT_FALSE(FileExists(Native("dl.bin")));
}

TEST_F(FileDownload, ModifiedSinceOneSecondOffSendsTheFile) {
  auto f = Sample(1000);
  double modified = f->LastModified();
  Header("HTTP_IF_MODIFIED_SINCE", FormatHttpDate(modified + 1.0 / 86400));
  std::string log = Traced(*f);
  EXPECT_TRUE(f->Download());
  EXPECT_EQ(Resp().status, "200 OK");
  EXPECT_EQ(Body(), content_);
  auto lines = Lines(log);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "File.Download - File Changed"), lines.end());
}

TEST_F(FileDownload, UnparseableModifiedSinceIsIgnoredButTraced) {
  auto f = Sample(1000);
  Header("HTTP_IF_MODIFIED_SINCE", "yesterday-ish");
  std::string log = Traced(*f);
  EXPECT_TRUE(f->Download());
  EXPECT_EQ(Resp().status, "200 OK");
  EXPECT_EQ(Body(), content_);
  auto lines = Lines(log);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], "File.Download - Modified Since Found: yesterday-ish");
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "File.Download - File Changed"), lines.end());
}

struct RangeCase {
  const char* range;
  const char* status;
  const char* contentRange;  // "" when absent
  size_t from, count;        // the bytes sent
};

// The Range header names the test (ctest lists .../bytes=0-99).
void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.range; }

class FileDownloadRange : public FileDownload, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(FileDownloadRange, OnAThousandByteFile) {
  const RangeCase& c = GetParam();
  auto f = Sample(1000);
  Header("HTTP_RANGE", c.range);
  EXPECT_TRUE(f->Download());
  EXPECT_EQ(Resp().status, c.status);
  EXPECT_EQ(Resp().Header("Content-Range"), c.contentRange);
  EXPECT_EQ(Resp().Header("Content-Length"), std::to_string(c.count));
  EXPECT_EQ(Body(), Slice(c.from, c.count));
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, FileDownloadRange,
    ::testing::Values(RangeCase{"bytes=100-", "206 Partial Content", "bytes 100-999/1000", 100, 900},
                      RangeCase{"bytes=0-99", "206 Partial Content", "bytes 0-99/1000", 0, 100},
                      RangeCase{"bytes=-100", "206 Partial Content", "bytes 900-999/1000", 900, 100},
                      RangeCase{"bytes=999-999", "206 Partial Content", "bytes 999-999/1000", 999, 1},
                      RangeCase{"bytes=0-99,200-299", "200 OK", "", 0, 1000},
                      RangeCase{"bytes=100", "200 OK", "", 0, 1000},
                      RangeCase{"items=0-99", "200 OK", "", 0, 1000},
                      RangeCase{"bytes=-", "200 OK", "", 0, 1000},
                      // ranges reaching outside the file
                      RangeCase{"bytes=900-5000", "206 Partial Content", "bytes 900-999/1000", 900, 100},
                      RangeCase{"bytes=-5000", "206 Partial Content", "bytes 0-999/1000", 0, 1000},
                      RangeCase{"bytes=1000-", "416 Range Not Satisfiable", "bytes */1000", 0, 0},
                      RangeCase{"bytes=5000-6000", "416 Range Not Satisfiable", "bytes */1000", 0, 0},
                      RangeCase{"bytes=500-100", "416 Range Not Satisfiable", "bytes */1000", 0, 0},
                      RangeCase{"bytes=-0", "416 Range Not Satisfiable", "bytes */1000", 0, 0}));

TEST_F(FileDownload, RangeTraceLines) {
  auto f = Sample(1000);
  Header("HTTP_RANGE", "bytes=100-");
  std::string log = Traced(*f);
  f->Download();
  EXPECT_EQ(Lines(log),
            (std::vector<std::string>{"HTTP_IF_MODIFIED_SINCE", "HTTP_UNLESS_MODIFIED_SINCE", "1", "2",
                                      "File.Download - Range Found: bytes=100-", "3", "4", "5", "6",
                                      "RangeStart=100;RangeEnd=999;lFileSize=900", "7", "bytes 100-999/1000", "8", "9",
                                      "File.IsDirectory - Returned Directory Attribute of " + Dos("dl.bin") + ".", "10"}));
  EXPECT_EQ(HeaderNames(),
            (std::vector<std::string>{"Last-Modified", "Accept-Ranges", "Etag", "Content-Range", "Content-Length"}));
}

TEST_F(FileDownload, UnsatisfiableRangeSendsNoBodyAndReadsNothing) {
  auto f = Sample(1000);
  Header("HTTP_RANGE", "bytes=2000-");
  std::string log = Traced(*f);
  EXPECT_TRUE(f->Download(Variant::Missing(), Variant::Missing(), Variant(true), Variant(true)));
  EXPECT_TRUE(Resp().body.empty());
  EXPECT_TRUE(Resp().binaryWrites.empty());
  EXPECT_TRUE(Resp().ended);
  EXPECT_TRUE(FileExists(Native("dl.bin")));  // nothing was delivered: DeleteFile does not apply
  auto lines = Lines(log);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "bytes */1000"), lines.end());
  EXPECT_EQ(lines.back(), "10");
}

TEST_F(FileDownload, UnlessModifiedSinceDifferingCancelsTheRange) {
  auto f = Sample(1000);
  double modified = f->LastModified();
  Header("HTTP_RANGE", "bytes=100-");
  Header("HTTP_UNLESS_MODIFIED_SINCE", FormatHttpDate(modified - 1));
  EXPECT_TRUE(f->Download());
  EXPECT_EQ(Resp().status, "200 OK");
  EXPECT_EQ(Body(), content_);
}

TEST_F(FileDownload, UnlessModifiedSinceEqualKeepsTheRange) {
  auto f = Sample(1000);
  Header("HTTP_RANGE", "bytes=100-");
  Header("HTTP_UNLESS_MODIFIED_SINCE", FormatHttpDate(f->LastModified()));
  f->Download();
  EXPECT_EQ(Resp().status, "206 Partial Content");
}

TEST_F(FileDownload, IfRangeHonoursOnlyTheCurrentVersion) {
  auto f = Sample(1000);
  f->Download();
  std::string tag = Resp().Header("Etag");
  std::string lastModified = Resp().Header("Last-Modified");
  const std::pair<std::string, bool> cases[] = {
      {tag, true},
      {"\"5f0e1a2b-3e8\"", false},
      {"W/" + tag, false},
      {lastModified, true},
      {"Sun, 06 Nov 1994 08:49:37 GMT", false},
      {"not a date", false},
  };
  for (const auto& [ifRange, matches] : cases) {
    test::MemHost page(site.path());
    test::MemHost::Scope scope(page);
    page.request->serverVariables["HTTP_RANGE"] = "bytes=100-";
    page.request->serverVariables["HTTP_IF_RANGE"] = ifRange;
    EXPECT_TRUE(f->Download());
    EXPECT_EQ(page.response->status, matches ? "206 Partial Content" : "200 OK") << ifRange;
    EXPECT_EQ(page.response->body.size(), matches ? 900u : 1000u) << ifRange;
  }
}

TEST_F(FileDownload, InMemoryContentIsDatedACenturyAheadAndNeverCached) {
  auto f = File::New();
  f->SetName(Dos("mem.txt"));
  f->ClearContent();
  std::string text = "memory bytes";
  f->ResizeContent(static_cast<int64_t>(text.size()), false);
  f->CopyIntoContent(1, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  f->SetInMemory(true);
  EXPECT_TRUE(f->Download());
  EXPECT_EQ(Body(), text);
  EXPECT_EQ(Resp().binaryWrites, (std::vector<size_t>{text.size()}));
  std::string lastModified = Resp().Header("Last-Modified");
  double sent = ParseHttpDate(lastModified);
  double years = (sent - NowDate()) / 365.25;
  EXPECT_GT(years, 99.5);
  EXPECT_LT(years, 100.5);
  std::string tag = Resp().Header("Etag");

  test::MemHost again(site.path());
  test::MemHost::Scope scope(again);
  again.request->serverVariables["HTTP_IF_MODIFIED_SINCE"] = lastModified;
  again.request->serverVariables["HTTP_RANGE"] = "bytes=0-5";
  EXPECT_TRUE(f->Download());
  EXPECT_EQ(again.response->status, "206 Partial Content");
  EXPECT_EQ(again.response->BodyText(), "memory");
  EXPECT_EQ(again.response->Header("Content-Range"), "bytes 0-5/12");

  // Its entity tag names the bytes themselves: a copy cached under it is 304.
  test::MemHost cached(site.path());
  {
    test::MemHost::Scope cachedScope(cached);
    cached.request->serverVariables["HTTP_IF_NONE_MATCH"] = tag;
    EXPECT_TRUE(f->Download());
  }
  EXPECT_EQ(cached.response->status, "304 Not Modified");
  EXPECT_TRUE(cached.response->body.empty());

  // Changed content, changed tag.
  f->SetContentByte(1, 'M');
  test::MemHost third(site.path());
  test::MemHost::Scope scope3(third);
  f->Download();
  EXPECT_NE(third.response->Header("Etag"), tag);
}

TEST_F(FileDownload, ModDateArgumentIsUsedUnchanged) {
  auto f = Sample(10);
  double date = DateFromParts({2010, 5, 6, 7, 8, 9});
  f->Download(Variant("text/plain"), Variant::Date(date));
  EXPECT_EQ(Resp().Header("Last-Modified"), FormatHttpDate(date));
  EXPECT_EQ(Resp().contentType, "text/plain");
}

TEST_F(FileDownload, OutputAlreadyWrittenFailsWith9014) {
  auto f = Sample(100);
  Resp().buffer = false;
  Resp().Write("already begun");
  std::string log = Traced(*f);
  Error e = ThrownError([&] { f->Download(Variant("text/plain")); });
  EXPECT_EQ(e.number, 9014);
  EXPECT_EQ(e.description, "File.Download - A conflicting HTTP ContentType header was already sent");
  auto lines = Lines(log);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], e.description);
  EXPECT_EQ(lines[lines.size() - 2], "***Error in File.Download *** - Download of File " + Dos("dl.bin") + " Failed.");
  EXPECT_EQ(lines.back(), "(9014) " + e.description);
}

TEST_F(FileDownload, BufferedOutputBeforeTheCallIsDroppedNotSent) {
  // A stray line end after an include's "%>" sits in the buffer: it must not
  // go out ahead of the file under the file's Content-Length.
  auto f = Sample(1000);
  Resp().Write("\r\n");
  std::string log = Traced(*f);
  EXPECT_TRUE(f->Download());
  EXPECT_EQ(Resp().Header("Content-Length"), "1000");
  EXPECT_EQ(Body(), content_);
  auto lines = Lines(log);
  std::vector<std::string> want = {"HTTP_IF_MODIFIED_SINCE", "HTTP_UNLESS_MODIFIED_SINCE", "1", "2", "3",
                                   "File.Download - Discarded 2 bytes of buffered page output.", "4"};
  ASSERT_GE(lines.size(), want.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(want.size())), want);
}

TEST_F(FileDownload, ClientGoneMidTransferReturnsFalseAndDeletes) {
  auto f = Sample(100000);
  Resp().disconnectAfterChecks = 2;
  std::string log = Traced(*f);
  EXPECT_FALSE(f->Download(Variant::Missing(), Variant::Missing(), Variant(true), Variant(true)));
  EXPECT_EQ(Resp().binaryWrites, (std::vector<size_t>{15000, 15000}));
  EXPECT_TRUE(Resp().ended);
  EXPECT_FALSE(FileExists(Native("dl.bin")));
  auto lines = Lines(log);
  EXPECT_EQ(lines.back(), "File.Delete - Deleted " + Dos("dl.bin") + ".");
  EXPECT_EQ(std::find(lines.begin(), lines.end(), "9"), lines.end());
}

TEST_F(FileDownload, DeleteFileAfterCompleteTransferAndAfter304) {
  auto f = Sample(500);
  EXPECT_TRUE(f->Download(Variant::Missing(), Variant::Missing(), Variant(false), Variant(true)));
  EXPECT_FALSE(FileExists(Native("dl.bin")));
  EXPECT_FALSE(f->Exists());

  auto g = Sample(500, "again.bin");
  test::MemHost page(site.path());
  test::MemHost::Scope scope(page);
  page.request->serverVariables["HTTP_IF_MODIFIED_SINCE"] = FormatHttpDate(g->LastModified());
  EXPECT_TRUE(g->Download(Variant::Missing(), Variant::Missing(), Variant::Missing(), Variant(true)));
  EXPECT_EQ(page.response->status, "304 Not Modified");
  EXPECT_FALSE(FileExists(Native("again.bin")));
}

TEST_F(FileDownload, FinalRefreshReadsTheDiskAgain) {
  auto f = Sample(10);
  WriteFile(Native("dl.bin"), std::string(20, 'y'));
  EXPECT_EQ(f->Size(), 10);
  f->Download();
  EXPECT_EQ(f->Size(), 20);
}

TEST_F(FileDownload, MissingFileFailsWith9027) {
  auto f = FileAt("absent.bin");
  std::string log = Traced(*f);
  Error e = ThrownError([&] { f->Download(); });
  EXPECT_EQ(e.number, 9027);
  EXPECT_EQ(e.description, "File " + Dos("absent.bin") + " does not exist.");
  EXPECT_EQ(Lines(log), (std::vector<std::string>{"***Error in File.Download *** - Download of File " + Dos("absent.bin") +
                                                      " Failed.",
                                                  "(9027) " + e.description}));
}

TEST_F(FileDownload, RangeNumberThatIsNoNumberFails) {
  auto f = Sample(100);
  Header("HTTP_RANGE", "bytes=abc-10");
  Error e = ThrownError([&] { f->Download(); });
  EXPECT_EQ(e.number, 13);
  EXPECT_TRUE(Resp().body.empty());
}

TEST_F(FileDownload, LateBoundWithUndefinedArguments) {
  auto f = Sample(10);
  Args args{Variant::Missing(), Variant::Missing(), Variant(true)};
  EXPECT_TRUE(f->Invoke("Download", CallKind::Method, args).toBool());
  EXPECT_TRUE(Resp().ended);
  EXPECT_EQ(Body(), content_);
}

}  // namespace
}  // namespace torvane
