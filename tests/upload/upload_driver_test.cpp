#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "dirs/directory.h"
#include "files/file.h"
#include "platform/paths.h"
#include "progress/progress_bar.h"
#include "support/memhost.h"
#include "upload/post.h"
#include "upload/upload_fixture.h"

namespace torvane {
namespace {

using test::ThrownError;
using test::MemHost;
using test::TempDir;
using test::TraceMessages;
using namespace upload_test;

TEST_F(UploadTest, FieldsAndFileWithTempNames) {
  std::string content = "line one\r\n-line two\r\n\r\nend";
  auto post = NewPost(Field("note", "hello") + FilePart("up", "C:\\docs\\a.txt", content, "text/plain") +
                      Field("other", "x") + End());
  auto inputs = post->GetFormInputs();
  ASSERT_EQ(inputs->Count(), 3);
  EXPECT_EQ(inputs->Item(Variant("NOTE"))->Values()->Item(Variant::Missing()), "hello");
  auto up = inputs->Item(Variant("up"));
  EXPECT_EQ(up->ContentType(), "text/plain");
  EXPECT_EQ(up->Values()->Item(Variant::Missing()), "C:\\docs\\a.txt");  // the client's name as sent
  auto file = FileOf(*post, "up");
  ASSERT_TRUE(file);
  EXPECT_EQ(file->FileName().substr(0, 3), "~LK");
  EXPECT_EQ(test::ReadFile(Native(file)), content);
  EXPECT_EQ(file->Size(), static_cast<int64_t>(content.size()));  // refreshed after closing
  EXPECT_EQ(post->FileMethod(), kUploadUseTemp);
  EXPECT_EQ(post->BytesRemaining(), 0);
}

TEST_F(UploadTest, StoredContentEqualsThePartByteForByte) {
  std::string content;
  for (int round = 0; round < 40; ++round)
    for (int b = 0; b < 256; ++b) content += static_cast<char>(b);
  content += "\r\n" + kB + "x\r\n--\r\n\r\r\n";  // lines that look like boundaries
  content += std::string(30000, '\n') + std::string(20000, 'q') + "\r";
  auto post = NewPost(FilePart("bin", "blob.bin", content) + End());
  post->Upload(Variant::Missing(), Variant(int32_t{kUploadOverwrite}), Variant(false), Variant::Missing());
  EXPECT_EQ(test::ReadFile(site / "blob.bin"), content);
}

TEST_F(UploadTest, ContentTypeMustBeMultipart) {
  for (std::string ct : {"text/plain", "multipart/form", "application/x-www-form-urlencoded"}) {
    auto post = NewPost(Field("a", "b") + End());
    host.request->serverVariables["CONTENT_TYPE"] = ct;
    Error e = ThrownError([&] { post->GetFormInputs(); });
    EXPECT_EQ(e.number, 9002) << ct;
    EXPECT_EQ(e.description, "Post.GetFormInputs - Content type of request is \"" + ct +
                                 "\" instead of \"multipart/form-data\"");
    EXPECT_TRUE(post->Parsed());
    EXPECT_TRUE(host.request->readSizes.empty());
  }
}

TEST_F(UploadTest, UnreadableTotalBytesIs9019) {
  auto post = NewPost(Field("a", "b") + End());
  host.request->failTotalBytes = true;
  Error e = ThrownError([&] { post->GetFormInputs(); });
  EXPECT_EQ(e.number, 9019);
}

TEST_F(UploadTest, FileFieldWithoutFile) {
  std::string body = FilePart("up", "", "") + Field("n", "v") + End();
  {
    auto post = NewPost(body);
    post->GetFormInputs();  // USETEMP: an empty temporary file is attached
    auto file = FileOf(*post, "up");
    ASSERT_TRUE(file);
    EXPECT_EQ(test::ReadFile(Native(file)), "");
    std::filesystem::remove(Native(file));
  }
  for (int method : {kUploadOverwrite, kUploadMakeVersions, kUploadErrorIfExists, kUploadInMemory}) {
    auto post = NewPost(body);
    ASSERT_EQ(Fails(post, method), 0) << method;
    auto inputs = post->GetFormInputs();
    EXPECT_FALSE(inputs->HasKey("up")) << method;
    EXPECT_EQ(inputs->Count(), 1);
    EXPECT_TRUE(FilesIn(site.path()).empty()) << method;
  }
}

TEST_F(UploadTest, DotNamesCountAsNoFileName) {
  for (std::string name : {".", "..", "C:\\dir\\..", "a/."}) {
    auto post = NewPost(FilePart("up", name, "data") + End());
    ASSERT_EQ(Fails(post, kUploadOverwrite), 0) << name;
    EXPECT_FALSE(post->GetFormInputs()->HasKey("up")) << name;
    EXPECT_TRUE(FilesIn(site.path()).empty()) << name;
  }
}

TEST_F(UploadTest, RepeatedFieldsJoinWithComma) {
  auto post = NewPost(Field("tag", "a") + Field("TAG", "b") + Field("tag", "c") + End());
  auto input = post->GetFormInputs()->Item(Variant("tag"));
  EXPECT_EQ(input->Values()->Count(), 3);
  EXPECT_EQ(Variant(ObjectRef(input)).toString(), "a, b, c");
}

TEST_F(UploadTest, DuplicateNamesWithFileFieldsFail9035) {
  struct Case {
    std::string body;
  };
  std::vector<std::string> bodies = {
      FilePart("f", "a.txt", "x") + Field("f", "v") + End(),
      Field("f", "v") + FilePart("f", "a.txt", "x") + End(),
      FilePart("f", "a.txt", "x") + FilePart("F", "b.txt", "y") + End(),
  };
  for (const auto& body : bodies) {
    auto post = NewPost(body);
    EXPECT_EQ(Fails(post, kUploadInMemory), 9035);
    EXPECT_EQ(lastError, "An Input element has the same name as the input element for the file");
  }
}

TEST_F(UploadTest, MakeVersionsNaming) {
  test::WriteFile(site / "report.txt", "old");
  test::WriteFile(site / "report(1).txt", "old1");
  test::WriteFile(site / "README", "old");
  auto post = NewPost(FilePart("a", "report.txt", "new report") + FilePart("b", "README", "new readme") + End());
  post->Upload(Variant::Missing(), Variant::Missing(), Variant::Missing(), Variant::Missing());
  EXPECT_EQ(post->FileMethod(), kUploadMakeVersions);
  EXPECT_EQ(test::ReadFile(site / "report(2).txt"), "new report");
  EXPECT_EQ(test::ReadFile(site / "README(1)"), "new readme");
  EXPECT_EQ(test::ReadFile(site / "report.txt"), "old");
  EXPECT_EQ(FileOf(*post, "a")->FileName(), "report(2).txt");
}

TEST_F(UploadTest, OverwriteReplacesTheFile) {
  test::WriteFile(site / "a.txt", std::string(5000, 'o'));
  auto post = NewPost(FilePart("f", "/home/user/a.txt", "new") + End());
  ASSERT_EQ(Fails(post, kUploadOverwrite), 0);
  EXPECT_EQ(test::ReadFile(site / "a.txt"), "new");
}

TEST_F(UploadTest, ErrorIfExistsDeletesWhatWasUploadedThen9029) {
  test::WriteFile(site / "b.txt", "keep me");
  auto post = NewPost(FilePart("first", "a.txt", "uploaded") + FilePart("second", "b.txt", "x") + End());
  Trace(*post);
  EXPECT_EQ(Fails(post, kUploadErrorIfExists), 9029);
  EXPECT_EQ(lastError, "Post.GetFormInputs - File second exists.");
  EXPECT_EQ(FilesIn(site.path()), std::vector<std::string>{"b.txt"});
  EXPECT_EQ(test::ReadFile(site / "b.txt"), "keep me");
  auto lines = TraceMessages(logs / "trace.log");
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "Post.GetFormInputs - File second exists.");
  EXPECT_EQ(lines[lines.size() - 2], "***Error in Post.FormInputs ***76");
  EXPECT_EQ(lines.back(), "(9029) Post.GetFormInputs - File second exists.");
}

TEST_F(UploadTest, SizeLimits) {
  struct Case {
    int64_t maxFile, maxTotal;
    std::vector<size_t> sizes;
    int error;
  };
  std::vector<Case> cases = {
      {100, -1, {100}, 0},
      {100, -1, {101}, 9012},
      {100, -1, {10, 20000}, 9012},
      {-1, 150, {100, 50}, 0},
      {-1, 150, {100, 51}, 9011},
      {0, 0, {30000}, 0},                     // below 1: no limit
      {5000000000LL, 6000000000LL, {3000}, 0},  // limits above 2 GiB
  };
  for (const auto& c : cases) {
    std::string body;
    for (size_t i = 0; i < c.sizes.size(); ++i)
      body += FilePart("f" + std::to_string(i), "n" + std::to_string(i) + ".bin", std::string(c.sizes[i], 'x'));
    auto post = NewPost(body + End());
    post->SetMaxFileSize(c.maxFile);
    post->SetMaxTotalFileSize(c.maxTotal);
    EXPECT_EQ(Fails(post, kUploadOverwrite), c.error);
    if (c.error == 0) {
      EXPECT_EQ(FilesIn(site.path()).size(), c.sizes.size());
    } else {
      EXPECT_TRUE(FilesIn(site.path()).empty());  // nothing left on disk
      EXPECT_EQ(lastError, c.error == 9012 ? "Post.GetFormInputs - MaxFileSize exceeded"
                                           : "Post.GetFormInputs - MaxTotalFileSize exceeded");
      // Flush reads and drops the rest of the body.
      post->Flush();
      EXPECT_EQ(host.request->readPos, host.request->body.size());
    }
    for (const auto& n : FilesIn(site.path())) std::filesystem::remove(site / n);
  }
}

TEST_F(UploadTest, InMemoryKeepsTheClientNameAndTouchesNoDisk) {
  std::string content = "in\r\nmemory\r\n";
  auto post = NewPost(FilePart("f", "C:\\Users\\me\\My Files\\m.txt", content) + End(), false);
  ASSERT_EQ(Fails(post, kUploadInMemory), 0);
  auto file = FileOf(*post, "f");
  ASSERT_TRUE(file);
  EXPECT_TRUE(file->InMemory());
  EXPECT_EQ(file->Name(), "C:\\Users\\me\\My Files\\m.txt");
  Bytes bytes = file->GetContent();
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), content);
  EXPECT_TRUE(FilesIn(site.path()).empty());
}

TEST_F(UploadTest, NoDirectoryIs9007) {
  auto post = NewPost(FilePart("f", "a.txt", "x") + End(), false);
  Trace(*post);
  EXPECT_EQ(Fails(post, kUploadUseTemp), 9007);
  auto lines = TraceMessages(logs / "trace.log");
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[lines.size() - 3], "Post.GetFormInputs - Post.Directory not Set");
  EXPECT_EQ(lines[lines.size() - 2], "***Error in Post.FormInputs ***72");
}

TEST_F(UploadTest, SecondReadReturnsTheSameCollectionWithoutReading) {
  auto post = NewPost(Field("a", "1") + End());
  auto first = post->GetFormInputs();
  size_t reads = host.request->readSizes.size();
  EXPECT_EQ(post->GetFormInputs(), first);
  EXPECT_EQ(host.request->readSizes.size(), reads);
  // Also after a failed first parse.
  auto failed = NewPost(Field("a", "1") + End());
  host.request->serverVariables["CONTENT_TYPE"] = "text/plain";
  EXPECT_THROW(failed->GetFormInputs(), Error);
  EXPECT_EQ(failed->GetFormInputs()->Count(), 0);
}

TEST_F(UploadTest, TruncatedBodyFailsAndLeavesNoFile) {
  std::string body = FilePart("a", "a.txt", "first file") + FilePart("b", "b.txt", std::string(5000, 'b')) + End();
  for (size_t cut : {body.size() - 3, body.size() - 200, body.size() / 2}) {
    auto post = NewPost(body);
    host.request->body.resize(cut);  // the client announced more than it sent
    host.request->totalBytesOverride = static_cast<int64_t>(body.size());
    Trace(*post);
    EXPECT_EQ(Fails(post, kUploadOverwrite), 9037) << cut;
    EXPECT_EQ(lastError, "Post.GetFormInputs - The request ended before its closing boundary.");
    EXPECT_TRUE(FilesIn(site.path()).empty()) << cut;
    auto lines = TraceMessages(logs / "trace.log");
    EXPECT_EQ(lines[lines.size() - 2], "***Error in Post.FormInputs ***10");
  }
}

TEST_F(UploadTest, ClientGoneEndsTheResponseAndLeavesNoFile) {
  auto post = NewPost(FilePart("a", "a.txt", std::string(50000, 'a')) + End());
  host.response->disconnectAfterChecks = 10;
  EXPECT_EQ(Fails(post, kUploadOverwrite), 9037);
  EXPECT_TRUE(host.response->ended);
  EXPECT_TRUE(FilesIn(site.path()).empty());
}

TEST_F(UploadTest, FormWithoutFieldsIsAnEmptyCollection) {
  for (std::string body : {std::string(), End()}) {
    auto post = NewPost(body);
    EXPECT_EQ(post->GetFormInputs()->Count(), 0);
  }
}

TEST_F(UploadTest, LongOrdinaryValueKeepsAllItsBytes) {
  std::string value;
  for (int i = 0; i < 9000; ++i) value += "\xC3\xA9";  // two-byte characters across the 9000-byte cuts
  value += std::string(7001, 'z');
  auto post = NewPost(Field("big", value) + Field("small", "s") + End());
  auto input = post->GetFormInputs()->Item(Variant("big"));
  EXPECT_EQ(input->Values()->Count(), 1);
  EXPECT_EQ(input->Values()->Item(Variant::Missing()), value);
}

TEST_F(UploadTest, TraceOfASuccessfulParseEndsTheLog) {
  auto post = NewPost(Field("a", "1") + End());
  Trace(*post);
  post->GetFormInputs();
  auto lines = TraceMessages(logs / "trace.log");
  EXPECT_EQ(lines.back(), "Post.GetFormInputs - Returned FormInput object.");
  size_t count = lines.size();
  post->GetCodePage();  // the log is closed: nothing more is written
  EXPECT_EQ(TraceMessages(logs / "trace.log").size(), count);
}

TEST_F(UploadTest, DumpHoldsTheTotalLineAndTheBody) {
  std::string body = Field("a", "1") + FilePart("f", "x.bin", std::string(3000, 'd')) + End();
  auto post = NewPost(body);
  auto dump = File::New();
  dump->SetName(ToDosPath(logs / "dump.bin"));
  post->SetDumpFile(Variant(ObjectRef(dump)));
  ASSERT_EQ(Fails(post, kUploadInMemory), 0);
  EXPECT_EQ(test::ReadFile(logs / "dump.bin"), "TOTAL BYTES=" + std::to_string(body.size()) + "\r\n" + body);
}

TEST_F(UploadTest, ProgressRecordFollowsTheUpload) {
  std::string body = FilePart("f", "C:\\x\\big.bin", std::string(20000, 'p')) + Field("n", "v") + End();
  auto post = NewPost(body);
  std::string id = ProgressBar::CreateTyped()->GetID();
  post->Upload(Variant::Missing(), Variant(int32_t{kUploadInMemory}), Variant::Missing(), Variant(id));
  auto reader = ProgressBar::CreateTyped();
  reader->SetProgressBarID(id);
  EXPECT_EQ(reader->TotalBytes(), static_cast<int64_t>(body.size()));
  EXPECT_EQ(reader->CurrentBytes(), static_cast<int64_t>(body.size()));
  EXPECT_EQ(reader->CurrentFile(), "big.bin");
  EXPECT_EQ(reader->CurrentFileBytes(), 20000);
  EXPECT_EQ(reader->TotalFileBytes(), 20000);
  int64_t now = reader->TimerStart();
  EXPECT_GE(now, 0);
  EXPECT_LE(now, 86400);
}

TEST_F(UploadTest, MacBinaryFileKeepsOnlyItsDataFork) {
  std::string header(128, '\0');
  header[1] = 5;
  header.replace(2, 5, "A.BIN");
  header[86] = 7;  // fork length 7
  auto post = NewPost(FilePart("f", "a.bin", header + "fork!\r\nresource") + End());
  ASSERT_EQ(Fails(post, kUploadOverwrite), 0);
  EXPECT_EQ(test::ReadFile(site / "a.bin"), "fork!\r\n");
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

using namespace upload_test;

// Records the progress record after every chunk the parser reads. Records
// are written at most every ProgressBar::kMinWriteInterval, so the spy lets
// that much time pass before each read: every chunk's update is then written.
class SpyRequest : public test::MemRequest {
 public:
  std::shared_ptr<Application> app;
  std::string id;
  std::vector<std::pair<std::string, int64_t>> seen;  // CurrentFile, CurrentFileBytes
  Variant BinaryRead(int64_t count) override {
    std::this_thread::sleep_for(ProgressBar::kMinWriteInterval + std::chrono::milliseconds(5));
    Variant v = MemRequest::BinaryRead(count);
    Variant rec = app->Value(id);
    if (rec.type() == VType::Array) seen.emplace_back(rec.array().items[3].toString(), rec.array().items[4].toInt64());
    return v;
  }
};

TEST(UploadProgress, PerFileCountersBelongToTheCurrentFile) {
  TempDir site;
  MemHost host(site.path());
  auto spy = std::make_shared<SpyRequest>();
  spy->app = host.application;
  host.request = spy;
  std::string body = FilePart("a", "first.bin", std::string(20000, 'a')) + Field("n", std::string(3000, 'n')) +
                     FilePart("b", "second.bin", std::string(5000, 'b')) + End();
  host.SetMultipart(body);
  MemHost::Scope scope(host);
  auto bar = ProgressBar::CreateTyped();
  spy->id = bar->GetID();
  auto post = Post::CreateTyped();
  post->Upload(Variant::Missing(), Variant(int32_t{kUploadInMemory}), Variant::Missing(), Variant(spy->id));
  bool sawFirst = false, sawSecond = false;
  int64_t last = -1;
  std::string lastName;
  for (const auto& [name, bytes] : spy->seen) {
    if (name == "first.bin") sawFirst = true;
    if (name == "second.bin") {
      sawSecond = true;
      EXPECT_LE(bytes, 5000);  // never the previous file's count
    }
    if (name == lastName) {
      EXPECT_GE(bytes, last);  // grows within one file
    }
    lastName = name;
    last = bytes;
  }
  EXPECT_TRUE(sawFirst);
  EXPECT_TRUE(sawSecond);
  bar->SetProgressBarID(spy->id);
  EXPECT_EQ(bar->CurrentFileBytes(), 5000);
  EXPECT_EQ(bar->TotalFileBytes(), 5000);
}

}  // namespace
}  // namespace torvane

namespace torvane {
namespace {

using namespace upload_test;

// Bodies assembled from the pieces that matter to the parser (boundary lines,
// disposition lines with odd quoting, content types, MacBinary-like headers,
// CR, LF, long runs), cut at random places: every post either succeeds or
// fails with a component or platform error; nothing else escapes, nothing is
// left on disk after a failure that the driver cleans up.
TEST(UploadRobustness, RandomBodiesNeverCrash) {
  std::vector<std::string> pieces = {
      kB + "\r\n",
      kB + "--\r\n",
      "Content-Disposition: form-data; name=\"a\"\r\n",
      "Content-Disposition: form-data; name=\"f\"; filename=\"x.bin\"\r\n",
      "Content-Disposition: form-data; name=\"f\"; filename=\"\"\r\n",
      "Content-Disposition: form-data; name=\"q\r\n",
      "Content-Type: text/plain\r\n",
      "\r\n",
      "\r",
      "\n",
      "-",
      "value",
      std::string(12000, 'L'),
      std::string("\0\5x.bin", 7) + std::string(121, '\0'),
      "\xFF\xFE\xC3",
  };
  uint32_t seed = 2026;
  auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
  for (int round = 0; round < 300; ++round) {
    TempDir site;
    MemHost host(site.path());
    std::string body;
    int n = static_cast<int>(next() % 40);
    for (int i = 0; i < n; ++i) body += pieces[next() % pieces.size()];
    if (next() % 3 == 0 && !body.empty()) body.resize(next() % body.size());
    host.SetMultipart(body);
    MemHost::Scope scope(host);
    auto post = Post::CreateTyped();
    auto dir = Directory::New();
    dir->SetPath(ToDosPath(site.path()));
    post->SetDirectory(Variant(ObjectRef(dir)));
    post->SetMaxFileSize(next() % 2 ? 20000 : -1);
    post->SetCodePage(next() % 2 ? 0 : 1252);
    int32_t method = static_cast<int32_t>(next() % 5);
    try {
      post->Upload(Variant::Missing(), Variant(method), Variant(next() % 2 == 0), Variant::Missing());
    } catch (const Error& e) {
      if (e.number == 9037 || e.number == 9012) {
        EXPECT_TRUE(FilesIn(site.path()).empty()) << round;
      }
    }
  }
}

TEST_F(UploadTest, PageFilesAreRefusedWhereTheHostRunsPages) {
  std::vector<std::string> asked;
  host.server->pagesRunIn = [&](std::string_view folder) {
    asked.emplace_back(folder);
    return true;
  };
  struct Case {
    const char* client;
    int method;
    bool allow;
    int error;
    const char* stored;  // the name expected in the folder ("" for none)
  };
  const std::vector<Case> cases = {
      {"C:\\web\\evil.asp", kUploadOverwrite, false, 9042, ""},
      {"EVIL.AsP", kUploadMakeVersions, false, 9042, ""},
      {"global.asa", kUploadErrorIfExists, false, 9042, ""},
      {"lib.inc", kUploadOverwrite, false, 9042, ""},
      {"evil.asp", kUploadOverwrite, true, 0, "evil.asp"},       // the page allowed it
      {"evil.aspx", kUploadOverwrite, false, 0, "evil.aspx"},    // not a page of this host
      {"evil.asp.txt", kUploadOverwrite, false, 0, "evil.asp.txt"},
      {"evil.asp", kUploadInMemory, false, 0, ""},               // nothing on disk
  };
  for (const auto& c : cases) {
    std::filesystem::remove_all(site.path());
    std::filesystem::create_directories(site.path());
    auto post = NewPost(FilePart("first", "a.txt", "first file") + FilePart("page", c.client, "<% evil %>") + End());
    post->SetAllowPageFiles(c.allow);
    EXPECT_EQ(Fails(post, c.method), c.error) << c.client;
    std::vector<std::string> want;
    if (c.method != kUploadInMemory) {
      if (c.error == 0) want = {"a.txt", c.stored};
      std::sort(want.begin(), want.end());
    }
    EXPECT_EQ(FilesIn(site.path()), want) << c.client << ": nothing of a refused request is kept";
    if (c.error) {
      std::string base = std::string(c.client).substr(std::string(c.client).find_last_of('\\') + 1);
      EXPECT_EQ(lastError, "Post.GetFormInputs - File " + base +
                               " would be stored where the host runs pages; set Post.AllowPageFiles to store it there.");
    }
  }
  ASSERT_FALSE(asked.empty());
  EXPECT_EQ(asked.front(), ToDosPath(site.path()) + "\\");  // the Directory's physical path
}

TEST_F(UploadTest, PageFilesAreStoredWhereNoPagesRun) {
  // An embedding host says nothing: uploads behave as they always did.
  auto post = NewPost(FilePart("page", "evil.asp", "x") + End());
  EXPECT_FALSE(post->GetAllowPageFiles());
  EXPECT_EQ(Fails(post, kUploadOverwrite), 0);
  EXPECT_EQ(FilesIn(site.path()), std::vector<std::string>{"evil.asp"});
  // A host that runs pages elsewhere only.
  host.server->pagesRunIn = [&](std::string_view folder) { return folder.find("public") != std::string_view::npos; };
  std::filesystem::remove(site / "evil.asp");
  post = NewPost(FilePart("page", "evil.asp", "y") + End());
  Trace(*post);
  EXPECT_EQ(Fails(post, kUploadMakeVersions), 0);
  EXPECT_EQ(test::ReadFile(site / "evil.asp"), "y");
  // Temporary names carry no extension, so they never run.
  host.server->pagesRunIn = [](std::string_view) { return true; };
  post = NewPost(FilePart("page", "evil.asp", "z") + End());
  EXPECT_EQ(Fails(post, kUploadUseTemp), 0);
  EXPECT_EQ(FileOf(*post, "page")->FileName().rfind("~LK", 0), 0u);
}

TEST_F(UploadTest, TheRefusalIsTracedLikeEveryUploadFailure) {
  host.server->pagesRunIn = [](std::string_view) { return true; };
  auto post = NewPost(FilePart("page", "evil.asp", "x") + End());
  Trace(*post);
  EXPECT_EQ(Fails(post, kUploadOverwrite), 9042);
  auto lines = TraceMessages(logs / "trace.log");
  ASSERT_GE(lines.size(), 3u);
  std::string text = "Post.GetFormInputs - File evil.asp would be stored where the host runs pages; set "
                     "Post.AllowPageFiles to store it there.";
  EXPECT_EQ(lines[lines.size() - 3], text);
  EXPECT_EQ(lines[lines.size() - 2], "***Error in Post.FormInputs ***74");
  EXPECT_EQ(lines.back(), "(9042) " + text);
}

}  // namespace
}  // namespace torvane
