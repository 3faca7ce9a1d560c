// What a failed upload leaves (nothing), what TV_UPLOAD_OVERWRITE does to the
// file it replaces, names by version, and the request limits.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "host/script_context.h"
#include "platform/codepage.h"
#include "platform/settings.h"
#include "upload/upload_fixture.h"
#include "upload/upload_store.h"

namespace torvane {
namespace {

using namespace upload_test;

// Every failure of a parse removes every file the request created, whatever
// the failure and the storage method.
TEST_F(UploadTest, EveryFailureLeavesNoFileOfTheRequest) {
  std::string second = std::string(300000, 's');
  struct Failure {
    const char* what;
    std::string body;
    int error;
    std::function<void(Post&)> arrange;
  };
  std::string twoFiles = FilePart("a", "a.txt", "first file") + FilePart("b", "b.bin", second) + End();
  std::vector<Failure> failures = {
      {"a plain field after a file of the same name", FilePart("f", "f.txt", "stored") + Field("f", "v") + End(),
       9035, nullptr},
      {"the client resets the connection", twoFiles, -2147467259,
       [&](Post&) { host.request->failAfterBytes = 144966; }},
      {"a host failure that is no automation error", twoFiles, 5,
       [&](Post&) {
         host.request->failAfterBytes = 144966;
         host.request->failForeign = true;
       }},
      {"a size limit", twoFiles, 9012, [](Post& p) { p.SetMaxFileSize(200000); }},
      {"a limit of the request", FilePart("a", "a.txt", "x") + FilePart("b", "b.txt", "y") + End(), 9038,
       [](Post& p) { p.SetMaxFiles(1); }},
      {"a body that ends early", twoFiles.substr(0, 150000), 9037,
       [&](Post&) { host.request->totalBytesOverride = static_cast<int64_t>(twoFiles.size()); }},
      // A file part without a name needs no conversion; the next name fails it.
      {"a conversion error",
       kB + "\r\nContent-Disposition: form-data; filename=\"nameless.txt\"\r\n\r\nstored\r\n" + Field("x", "y") +
           End(),
       -2147220504, [](Post& p) { p.SetCodePage(12345); }},
  };
  for (int method : {kUploadUseTemp, kUploadOverwrite, kUploadMakeVersions, kUploadErrorIfExists}) {
    for (const auto& f : failures) {
      auto post = NewPost(f.body);
      host.request->failAfterBytes = -1;
      host.request->failForeign = false;
      host.request->totalBytesOverride = -2;
      if (f.arrange) f.arrange(*post);
      EXPECT_EQ(Fails(post, method), f.error) << f.what << ", method " << method;
      EXPECT_EQ(FilesIn(site.path()), std::vector<std::string>{}) << f.what << ", method " << method;
      for (const auto& n : FilesIn(site.path())) std::filesystem::remove(site / n);
    }
  }
}

TEST_F(UploadTest, FailureTraceAndCollectionAfterAClientReset) {
  auto post = NewPost(FilePart("a", "a.txt", "first file") + FilePart("b", "b.bin", std::string(50000, 'b')) + End());
  Trace(*post);
  host.request->failAfterBytes = 20000;
  EXPECT_EQ(Fails(post, kUploadOverwrite), -2147467259);
  auto lines = TraceMessages(logs / "trace.log");
  ASSERT_GE(lines.size(), 4u);
  // The files filed so far are deleted through their File objects first.
  EXPECT_NE(std::find(lines.begin(), lines.end(), "File.Delete - Deleted " + ToDosPath(site / "a.txt") + "."),
            lines.end());
  EXPECT_EQ(lines[lines.size() - 2], "***Error in Post.FormInputs ***3");
  EXPECT_EQ(lines.back(), "(-2147467259) The client reset the connection");
  EXPECT_TRUE(FilesIn(site.path()).empty());
  EXPECT_FALSE(FileOf(*post, "a")->Exists());
}

// A limit failure traces the deletion of every filed file once, in collection
// order, before its own line (what the page's log showed before).
TEST_F(UploadTest, LimitFailureTraceShowsEachDeletionOnce) {
  for (int method : {kUploadInMemory, kUploadOverwrite}) {
    auto post = NewPost(FilePart("a", "a.txt", "x") + FilePart("b", "b.txt", std::string(200, 'b')) + End());
    post->SetMaxFileSize(100);
    Trace(*post);
    EXPECT_EQ(Fails(post, method), 9012);
    auto lines = TraceMessages(logs / "trace.log");
    ASSERT_GE(lines.size(), 5u);
    std::string dir = method == kUploadInMemory ? "" : ToDosPath(site.path()) + "\\";
    std::vector<std::string> tail(lines.end() - 5, lines.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"File.Delete - Deleted " + dir + "a.txt.",
                                              "File.Delete - Deleted " + dir + "b.txt.",
                                              "Post.GetFormInputs - MaxFileSize exceeded",
                                              "***Error in Post.FormInputs ***8",
                                              "(9012) Post.GetFormInputs - MaxFileSize exceeded"}))
        << method;
    EXPECT_TRUE(FilesIn(site.path()).empty());
  }
}

// TV_UPLOAD_OVERWRITE writes beside the old file and swaps it in only when the
// part is complete; a failed upload never destroys the old file.
class OverwriteTest : public UploadTest {
 protected:
  void SetUp() override { test::WriteFile(site / "doc.txt", "the old content"); }
  std::string body = FilePart("f", "doc.txt", std::string(40000, 'n')) + Field("after", "x") + End();
};

TEST_F(OverwriteTest, FailuresKeepTheOldFile) {
  struct Failure {
    const char* what;
    std::string body;
    std::function<void(Post&)> arrange;
  };
  std::vector<Failure> failures = {
      {"a size limit", body, [](Post& p) { p.SetMaxFileSize(1000); }},
      {"a truncated body", body.substr(0, 30000),
       [&](Post&) { host.request->totalBytesOverride = static_cast<int64_t>(body.size()); }},
      {"a reset connection", body, [&](Post&) { host.request->failAfterBytes = 20000; }},
      {"the duplicate name after the part is complete",
       FilePart("f", "doc.txt", "new") + Field("f", "v") + End(), nullptr},
      {"a later file that fails", FilePart("f", "doc.txt", "new") + FilePart("g", "g.txt", "way too long") + End(),
       [](Post& p) { p.SetMaxFileSize(5); }},
  };
  for (const auto& f : failures) {
    auto post = NewPost(f.body);
    host.request->failAfterBytes = -1;
    host.request->totalBytesOverride = -2;
    if (f.arrange) f.arrange(*post);
    EXPECT_NE(Fails(post, kUploadOverwrite), 0) << f.what;
    EXPECT_EQ(FilesIn(site.path()), std::vector<std::string>{"doc.txt"}) << f.what;
    EXPECT_EQ(test::ReadFile(site / "doc.txt"), "the old content") << f.what;
  }
}

// Reads the final name at every chunk: it holds the old content until the part
// is complete, never a part of the new one.
class WatchingRequest : public test::MemRequest {
 public:
  std::string path;
  std::vector<std::string> seen;
  Variant BinaryRead(int64_t count) override {
    seen.push_back(test::ReadFile(path));
    return MemRequest::BinaryRead(count);
  }
};

TEST_F(OverwriteTest, AReaderSeesTheOldFileOrTheWholeNewOne) {
  auto watch = std::make_shared<WatchingRequest>();
  watch->path = site / "doc.txt";
  host.request = watch;
  MemHost::Scope again(host);
  std::string content = std::string(40000, 'n');
  auto post = NewPost(FilePart("f", "doc.txt", content) + Field("after", std::string(5000, 'a')) + End());
  ASSERT_EQ(Fails(post, kUploadOverwrite), 0);
  ASSERT_GT(watch->seen.size(), 10u);
  for (const auto& s : watch->seen) EXPECT_TRUE(s == "the old content" || s == content) << s.size();
  EXPECT_EQ(watch->seen.back(), content);  // swapped in when its part ended, before the next field
  EXPECT_EQ(test::ReadFile(site / "doc.txt"), content);
  EXPECT_EQ(FilesIn(site.path()), std::vector<std::string>{"doc.txt"});  // nothing hidden stays behind
  EXPECT_EQ(FileOf(*post, "f")->Size(), 40000);
}

TEST_F(OverwriteTest, AReadOnlyFileIsRefusedWhoeverRunsTheServer) {
  ASSERT_EQ(::chmod((site / "doc.txt").c_str(), 0444), 0);
  auto post = NewPost(body);
  Trace(*post);
  EXPECT_EQ(Fails(post, kUploadOverwrite), 5);
  EXPECT_EQ(lastError, "Access is denied.");
  auto lines = TraceMessages(logs / "trace.log");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "***Error in Post.FormInputs ***76");
  EXPECT_EQ(lines.back(), "(5) Access is denied.");
  EXPECT_EQ(test::ReadFile(site / "doc.txt"), "the old content");
  EXPECT_EQ(FilesIn(site.path()), std::vector<std::string>{"doc.txt"});
}

// Another request overwrites the same name while this one runs (inside this
// one's read, after this one's file took the name), then this one fails: each
// undoes only what is its own, so a later request's file survives, and two
// failed requests leave nothing.
class InterleavedRequest : public test::MemRequest {
 public:
  std::function<void()> other;
  int at = 0;
  int reads = 0;
  Variant BinaryRead(int64_t count) override {
    if (++reads == at && other) {
      other();
      AttachScriptContext();  // this page's context again
    }
    return MemRequest::BinaryRead(count);
  }
};

TEST_F(UploadTest, ConcurrentOverwritesOfOneNameUndoOnlyTheirOwn) {
  for (bool otherFails : {false, true}) {
    for (const auto& n : FilesIn(site.path())) std::filesystem::remove(site / n);
    auto first = std::make_shared<InterleavedRequest>();
    first->at = 8;  // after a.txt is complete, while "big" arrives
    first->other = [&] {
      TempDir unused;
      MemHost other(site.path());
      other.SetMultipart(FilePart("f", "a.txt", "second request") + (otherFails ? Field("f", "dup") : "") + End());
      MemHost::Scope otherScope(other);
      auto post = Post::CreateTyped();
      post->Upload(Variant(ToDosPath(site.path())), Variant(int32_t{kUploadOverwrite}), Variant::Missing(),
                   Variant::Missing());
    };
    host.request = first;
    MemHost::Scope again(host);
    auto post = NewPost(FilePart("f", "a.txt", "first request") + FilePart("big", "big.bin", std::string(20000, 'b')) +
                        Field("f", "makes the first request fail") + End());
    if (otherFails) {
      first->other = [inner = first->other] {
        try {
          inner();
        } catch (const Error&) {
        }
      };
    }
    EXPECT_EQ(Fails(post, kUploadOverwrite), 9035) << otherFails;
    if (otherFails) {
      EXPECT_EQ(FilesIn(site.path()), std::vector<std::string>{}) << "both failed";
    } else {
      EXPECT_EQ(FilesIn(site.path()), std::vector<std::string>{"a.txt"}) << "the second succeeded";
      EXPECT_EQ(test::ReadFile(site / "a.txt"), "second request");
    }
  }
}

// ---- names by version ---------------------------------------------------------------

// A folder for thousands of files, in memory-backed storage when there is
// some (these tests are about names, not disks); removed at the end.
struct ManyFilesFolder {
  std::string path;
  explicit ManyFilesFolder(const std::string& fallback) : path(fallback) {
    if (!std::filesystem::is_directory("/dev/shm")) return;
    char tmpl[] = "/dev/shm/torvane-versions-XXXXXX";
    if (::mkdtemp(tmpl)) path = tmpl;
  }
  ~ManyFilesFolder() {
    if (path.rfind("/dev/shm/", 0) == 0) std::filesystem::remove_all(path);
  }
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

TEST_F(UploadTest, ThousandsOfSameNamePartsGetConsecutiveVersions) {
  ManyFilesFolder folder(site.path());
  std::string body;
  for (int i = 0; i < 2000; ++i) body += FilePart("f" + std::to_string(i), "same.txt", std::to_string(i));
  auto post = NewPost(body + End(), false);
  auto dir = Directory::New();
  dir->SetPath(ToDosPath(folder.path));
  post->SetDirectory(Variant(ObjectRef(dir)));
  post->SetMaxFiles(0);
  ASSERT_EQ(Fails(post, kUploadMakeVersions), 0) << lastError;
  EXPECT_EQ(test::ReadFile(folder / "same.txt"), "0");
  for (int i = 1; i < 2000; ++i) EXPECT_EQ(test::ReadFile(folder / ("same(" + std::to_string(i) + ").txt")), std::to_string(i));
  EXPECT_EQ(FilesIn(folder.path).size(), 2000u);
}

// Writes a file into the folder when the request is read for the n-th time:
// another request taking a name while this one runs.
class IntrudingRequest : public test::MemRequest {
 public:
  std::string path;
  int at = 0;
  int reads = 0;
  Variant BinaryRead(int64_t count) override {
    if (++reads == at) test::WriteFile(path, "someone else's");
    return MemRequest::BinaryRead(count);
  }
};

TEST_F(UploadTest, AVersionTakenMeanwhileIsNeverOverwritten) {
  test::WriteFile(site / "v.txt", "old");
  auto intruder = std::make_shared<IntrudingRequest>();
  intruder->path = site / "v(2).txt";
  intruder->at = 5;
  host.request = intruder;
  MemHost::Scope again(host);
  auto post = NewPost(FilePart("a", "v.txt", std::string(20000, '1')) + FilePart("b", "v.txt", "2") +
                      FilePart("c", "v.txt", "3") + End());
  ASSERT_EQ(Fails(post, kUploadMakeVersions), 0);
  EXPECT_EQ(test::ReadFile(site / "v(1).txt"), std::string(20000, '1'));
  EXPECT_EQ(test::ReadFile(site / "v(2).txt"), "someone else's");
  EXPECT_EQ(test::ReadFile(site / "v(3).txt"), "2");
  EXPECT_EQ(test::ReadFile(site / "v(4).txt"), "3");
}

// Each part takes the lowest free version, whether the folder holds a few
// versions (tried one by one) or more than the few tries (found by a scan),
// with gaps, names that only look like versions, and a leading zero.
TEST_F(UploadTest, PartsTakeTheLowestFreeVersionsOfAFolder) {
  struct Case {
    const char* what;
    std::vector<std::string> present;
    std::vector<std::string> expected;  // the names the three parts get
  };
  std::vector<Case> cases = {
      {"an empty folder", {}, {"v.txt", "v(1).txt", "v(2).txt"}},
      {"the name and two versions", {"v.txt", "v(1).txt", "v(2).txt"}, {"v(3).txt", "v(4).txt", "v(5).txt"}},
      {"a gap among a few", {"v.txt", "v(2).txt"}, {"v(1).txt", "v(3).txt", "v(4).txt"}},
      {"more versions than the tries, with gaps",
       {"v.txt", "v(1).txt", "v(2).txt", "v(3).txt", "v(4).txt", "v(5).txt", "v(6).txt", "v(8).txt", "v(10).txt"},
       {"v(7).txt", "v(9).txt", "v(11).txt"}},
      {"look-alikes are not versions", {"v.txt", "v(01).txt", "v(1).txt.bak", "w(1).txt", "v(1)x.txt"},
       {"v(1).txt", "v(2).txt", "v(3).txt"}},
  };
  for (const auto& c : cases) {
    test::TempDir folder;
    for (const auto& name : c.present) test::WriteFile(folder / name, "present");
    auto post = NewPost(FilePart("a", "v.txt", "a") + FilePart("b", "v.txt", "b") + FilePart("c", "v.txt", "c") + End(),
                        false);
    auto dir = Directory::New();
    dir->SetPath(ToDosPath(folder.path()));
    post->SetDirectory(Variant(ObjectRef(dir)));
    ASSERT_EQ(Fails(post, kUploadMakeVersions), 0) << c.what << ": " << lastError;
    const char* parts[] = {"a", "b", "c"};
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(test::ReadFile(folder / c.expected[i]), parts[i]) << c.what;
    EXPECT_EQ(FilesIn(folder.path()).size(), c.present.size() + 3) << c.what;
  }
}

// A name the request created is opened again for its bytes without O_TRUNC
// (ext4 would write the data out at close). If something wrote into it between
// its creation and that open, the store still empties it: the file holds
// exactly the part's bytes.
TEST_F(UploadTest, AnOwnNameHoldsOnlyThePartsBytesWhateverWasWrittenIntoItMeanwhile) {
  for (const std::string& meanwhile : {std::string(), std::string("bytes written by someone else, longer")}) {
    test::WriteFile(site / "own.txt", meanwhile);
    auto file = File::New();
    file->SetName(ToDosPath(site / "own.txt"));
    UploadStore store;
    auto sink = store.Begin(file, true);
    sink->Write(std::string_view("new"));
    sink->Close();
    store.Commit(*file);
    store.Keep();
    EXPECT_EQ(test::ReadFile(site / "own.txt"), "new") << meanwhile.size();
  }
}

TEST_F(UploadTest, TheLastVersionNumberIsUsableAndThenTheCounterOverflows) {
  ManyFilesFolder many(site.path());
  const std::string& folder = many.path;
  auto touch = [&](const std::string& name) { ::close(::open((folder + "/" + name).c_str(), O_CREAT | O_WRONLY, 0644)); };
  touch("full.txt");
  for (int n = 1; n <= 32766; ++n) touch("full(" + std::to_string(n) + ").txt");
  auto run = [&](const std::string& content, bool traced) {
    auto post = NewPost(FilePart("a", "full.txt", content) + End(), false);
    auto dir = Directory::New();
    dir->SetPath(ToDosPath(folder));
    post->SetDirectory(Variant(ObjectRef(dir)));
    if (traced) Trace(*post);
    return Fails(post, kUploadMakeVersions);
  };
  EXPECT_EQ(run("last", false), 0) << lastError;
  EXPECT_EQ(test::ReadFile(folder + "/full(32767).txt"), "last");
  EXPECT_EQ(run("one too many", true), 6);
  EXPECT_EQ(lastError, "Overflow");
  auto lines = TraceMessages(logs / "trace.log");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "***Error in Post.FormInputs ***772");
  EXPECT_FALSE(test::FileExists(folder + "/full(32768).txt"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator()), 32768);
}

// ---- limits of the request -------------------------------------------------------------

TEST_F(UploadTest, RequestLimits) {
  std::string ten = "0123456789";
  struct Case {
    const char* what;
    std::function<void(Post&)> set;
    std::string body;
    int error;
    std::string text;
  };
  std::string file = FilePart("file", "kept.txt", "bytes");
  std::vector<Case> cases = {
      {"two files of two", [](Post& p) { p.SetMaxFiles(2); }, file + FilePart("g", "g.txt", "x") + End(), 0, ""},
      {"three files of two", [](Post& p) { p.SetMaxFiles(2); },
       file + FilePart("g", "g.txt", "x") + FilePart("h", "h.txt", "y") + End(), 9038,
       "Post.GetFormInputs - MaxFiles exceeded (2)"},
      {"a file field without a file is no file", [](Post& p) { p.SetMaxFiles(1); },
       file + FilePart("g", "", "") + End(), 0, ""},
      {"three parts of three", [](Post& p) { p.SetMaxParts(3); }, file + Field("a", "1") + Field("b", "2") + End(), 0,
       ""},
      {"four parts of three", [](Post& p) { p.SetMaxParts(3); },
       file + Field("a", "1") + Field("a", "2") + Field("b", "3") + End(), 9039,
       "Post.GetFormInputs - MaxParts exceeded (3)"},
      {"a field of the largest size", [](Post& p) { p.SetMaxFieldSize(10); }, file + Field("a", ten) + End(), 0, ""},
      {"a field one byte larger", [](Post& p) { p.SetMaxFieldSize(10); }, file + Field("a", ten + "x") + End(), 9040,
       "Post.GetFormInputs - MaxFieldSize exceeded (10)"},
      {"line ends count in a field", [](Post& p) { p.SetMaxFieldSize(10); },
       file + Field("a", "01234\r\n-789") + End(), 9040, "Post.GetFormInputs - MaxFieldSize exceeded (10)"},
      {"fields up to the total", [](Post& p) { p.SetMaxTotalFieldSize(15); },
       file + Field("a", ten) + Field("b", "12345") + End(), 0, ""},
      {"fields beyond the total", [](Post& p) { p.SetMaxTotalFieldSize(15); },
       file + Field("a", ten) + Field("b", "123456") + End(), 9041,
       "Post.GetFormInputs - MaxTotalFieldSize exceeded (15)"},
      {"below 1 is no limit", [](Post& p) {
         p.SetMaxFiles(0);
         p.SetMaxParts(-1);
         p.SetMaxFieldSize(0);
         p.SetMaxTotalFieldSize(-5);
       },
       file + Field("a", std::string(3 << 20, 'v')) + End(), 0, ""},
  };
  for (const auto& c : cases) {
    auto post = NewPost(c.body);
    c.set(*post);
    EXPECT_EQ(Fails(post, kUploadOverwrite), c.error) << c.what;
    if (c.error) {
      EXPECT_EQ(lastError, c.text) << c.what;
      EXPECT_TRUE(FilesIn(site.path()).empty()) << c.what;
    } else {
      EXPECT_EQ(test::ReadFile(site / "kept.txt"), "bytes") << c.what;
    }
    for (const auto& n : FilesIn(site.path())) std::filesystem::remove(site / n);
  }
}

TEST_F(UploadTest, LimitsStartAtTheHostDefaults) {
  auto post = Post::CreateTyped();
  EXPECT_EQ(post->GetMaxFiles(), 1000);
  EXPECT_EQ(post->GetMaxParts(), 10000);
  EXPECT_EQ(post->GetMaxFieldSize(), 1048576);
  EXPECT_EQ(post->GetMaxTotalFieldSize(), 16777216);
  Settings saved = CurrentSettings();
  Settings s = saved;
  s.uploadMaxFiles = 7;
  s.uploadMaxParts = 8;
  s.uploadMaxFieldSize = 9;
  s.uploadMaxTotalFieldSize = 10;
  SetSettings(s);
  auto configured = Post::CreateTyped();
  SetSettings(saved);
  EXPECT_EQ(configured->GetMaxFiles(), 7);
  EXPECT_EQ(configured->GetMaxParts(), 8);
  EXPECT_EQ(configured->GetMaxFieldSize(), 9);
  EXPECT_EQ(configured->GetMaxTotalFieldSize(), 10);
}

TEST_F(UploadTest, FortyThousandSameNameFieldsStopAtMaxParts) {
  std::string body;
  for (int i = 0; i < 40000; ++i) body += Field("same", "v");
  auto post = NewPost(body + End());
  EXPECT_EQ(Fails(post, kUploadInMemory), 9039);
  EXPECT_EQ(lastError, "Post.GetFormInputs - MaxParts exceeded (10000)");
}

TEST_F(UploadTest, AFieldOfTheLimitKeepsEveryCharacter) {
  // Multi-byte characters across the 9000-byte pieces, in several code pages.
  struct Case {
    int32_t codePage;
    std::string unit;  // one character's bytes
  };
  for (const Case& c : std::vector<Case>{{65001, "\xE2\x82\xAC"}, {932, "\x82\xA0"}, {1252, "\xE9"}, {0, "\xC3\xA9"}}) {
    std::string value;
    while (value.size() + c.unit.size() <= 1048576) value += c.unit;
    value.resize(1048576, 'x');
    auto post = NewPost(Field("big", value) + End());
    post->SetCodePage(c.codePage);
    ASSERT_EQ(Fails(post, kUploadInMemory), 0) << c.codePage;
    auto values = post->GetFormInputs()->Item(Variant("big"))->Values();
    ASSERT_EQ(values->Count(), 1) << c.codePage;
    std::span<const uint8_t> raw(reinterpret_cast<const uint8_t*>(value.data()), value.size());
    EXPECT_TRUE(values->Item(Variant(int32_t{1})) == ConvertToText(raw, c.codePage)) << c.codePage;
    auto over = NewPost(Field("big", value + "x") + End());
    EXPECT_EQ(Fails(over, kUploadInMemory), 9040) << c.codePage;
  }
}

TEST_F(UploadTest, HeadersAndContentTypesOfRealClients) {
  // curl -F 'note=hello;type=text/plain', a header a proxy adds before the
  // Content-Type of a file, the request's type in capitals with a quoted boundary.
  std::string body = kB + "\r\nContent-Disposition: form-data; name=\"note\"\r\nContent-Type: text/plain\r\n\r\nhello\r\n" +
                     kB + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"f.bin\"\r\n"
                          "Content-Transfer-Encoding: binary\r\nContent-Type: application/pdf\r\n\r\n%PDF\r\n" +
                     End();
  auto post = NewPost(body);
  host.request->serverVariables["CONTENT_TYPE"] = "MULTIPART/FORM-DATA; BOUNDARY=\"----TorvaneBoundary\"";
  ASSERT_EQ(Fails(post, kUploadOverwrite), 0) << lastError;
  auto inputs = post->GetFormInputs();
  EXPECT_EQ(inputs->Item(Variant("note"))->Values()->Item(Variant::Missing()), "hello");
  EXPECT_EQ(inputs->Item(Variant("f"))->ContentType(), "application/pdf");
  EXPECT_EQ(test::ReadFile(site / "f.bin"), "%PDF");
}

TEST_F(UploadTest, FormOfNoPartsWithAnEpilogueIsEmpty) {
  auto post = NewPost(End() + "an epilogue\r\n");
  ASSERT_EQ(Fails(post, kUploadOverwrite), 0) << lastError;
  EXPECT_EQ(post->GetFormInputs()->Count(), 0);
}

TEST_F(UploadTest, MacBinaryTestNeverEmptiesAFileOfADotName) {
  // ".." is no file name; under temporary names the content is still stored whole.
  std::string zeros(200, '\0');
  auto post = NewPost(FilePart("f", "..", zeros) + End());
  ASSERT_EQ(Fails(post, kUploadUseTemp), 0);
  EXPECT_EQ(test::ReadFile(Native(FileOf(*post, "f"))), zeros);
}

}  // namespace
}  // namespace torvane
