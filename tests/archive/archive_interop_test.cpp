// Interoperation with the real tools: what Torvane writes passes unzip -t,
// 7z t, tar -tvf and gzip -t (and unpacks to the same bytes); what those tools
// write, Torvane lists and extracts byte for byte.
#include <map>
#include <sstream>

#include "archive_fixture.h"

namespace torvane::test {
namespace {

using ::testing::HasSubstr;

class ArchiveInterop : public ArchiveTest {
 protected:
  void SetUp() override {
    ArchiveTest::SetUp();
    for (const char* tool : {"zip", "unzip", "7z", "tar", "gzip"})
      if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
    big = Noise(200000, 3);
    Put("src/tree/a.txt", "alpha\n");
    Put("src/tree/deep/b.bin", big);
    Put("src/tree/\xC3\xA9t\xC3\xA9.txt", "summer");  // "été.txt"
    Put("src/tree/packed.zip", Noise(5000, 9));        // stored, not deflated again
  }

  // Builds the tree into a new archive of `type` at `rel`.
  void WriteTree(const std::string& rel, int32_t type, const std::string& password = "") {
    auto a = Make();
    if (!password.empty()) a->SetPassword(password);
    a->NewArchive(Variant(Dos(rel)), Variant(type));
    a->Add(Variant(Dos("src/tree")), Variant(true), Variant::Missing());
    a->SaveArchive(Variant::Missing());
  }

  void ExpectTree(const std::string& root) {
    EXPECT_EQ(Content(root + "/tree/a.txt"), "alpha\n");
    EXPECT_EQ(Content(root + "/tree/deep/b.bin"), big);
    EXPECT_EQ(Content(root + "/tree/\xC3\xA9t\xC3\xA9.txt"), "summer");
    EXPECT_EQ(Content(root + "/tree/packed.zip"), Noise(5000, 9));
  }

  // Opens with Torvane, checks the listing has the tree, extracts it all.
  void ReadWithTorvane(const std::string& rel, const std::string& dest, const std::string& password = "") {
    auto a = Make();
    if (!password.empty()) a->SetPassword(password);
    a->OpenArchive(Variant(Dos(rel)));
    auto entries = a->Entries();
    EXPECT_EQ(entries->Item(Variant("tree\\deep\\b.bin")).as<ArchiveEntry>()->UnCompressedSize(), 200000);
    EXPECT_TRUE(entries->Item(Variant("tree")).as<ArchiveEntry>()->IsDirectory());
    a->Extract(Variant("*"), Variant(Dos(dest)), Variant::Missing());
    ExpectTree(Native(dest));
  }

  std::string big;
};

TEST_F(ArchiveInterop, ZipWrittenByTorvanePassesUnzipAnd7z) {
  WriteTree("t.zip", 0);
  auto test = RunTool("unzip -t " + Quote(Native("t.zip")));
  EXPECT_EQ(test.status, 0) << test.output;
  EXPECT_THAT(test.output, HasSubstr("No errors detected"));
  auto seven = RunTool("7z t " + Quote(Native("t.zip")));
  EXPECT_EQ(seven.status, 0) << seven.output;
  // The non-ASCII name arrives as UTF-8, the compressed member is stored.
  auto list = RunTool("unzip -Z -v " + Quote(Native("t.zip")));
  EXPECT_THAT(list.output, HasSubstr("tree/\xC3\xA9t\xC3\xA9.txt"));
  auto unz = RunTool("cd " + Quote(site.path()) + " && mkdir -p u && unzip -q t.zip -d u");
  ASSERT_EQ(unz.status, 0) << unz.output;
  ExpectTree(Native("u"));
  auto slt = RunTool("7z l -slt " + Quote(Native("t.zip")));
  size_t at = slt.output.find("Path = tree/packed.zip");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NE(slt.output.find("Method = Store", at), std::string::npos);
  at = slt.output.find("Path = tree/deep/b.bin");
  ASSERT_NE(at, std::string::npos);
  EXPECT_NE(slt.output.find("Method = Deflate", at), std::string::npos);
}

TEST_F(ArchiveInterop, PasswordWritesAes256That7zOpensOnlyWithThePassword) {
  WriteTree("s.zip", 0, "s3cret!");
  auto slt = RunTool("7z l -slt -ps3cret! " + Quote(Native("s.zip")));
  EXPECT_THAT(slt.output, HasSubstr("Method = AES-256"));
  // Every file entry is encrypted (folders carry no data).
  size_t files = 0;
  for (size_t at = 0; (at = slt.output.find("Folder = -", at)) != std::string::npos; ++at) {
    size_t end = slt.output.find("\n\n", at);
    EXPECT_THAT(slt.output.substr(at, end - at), HasSubstr("Encrypted = +"));
    ++files;
  }
  EXPECT_EQ(files, 4u);
  EXPECT_EQ(RunTool("7z t -ps3cret! " + Quote(Native("s.zip"))).status, 0);
  EXPECT_NE(RunTool("7z t -pwrong " + Quote(Native("s.zip"))).status, 0);
  auto x = RunTool("7z x -y -ps3cret! -o" + Quote(Native("u")) + " " + Quote(Native("s.zip")));
  ASSERT_EQ(x.status, 0) << x.output;
  ExpectTree(Native("u"));
  // And Torvane reads its own AES archive back with the password.
  ReadWithTorvane("s.zip", "back", "s3cret!");
}

TEST_F(ArchiveInterop, TarWrittenByTorvanePassesTar) {
  WriteTree("t.tar", 21);
  auto list = RunTool("tar -tvf " + Quote(Native("t.tar")));
  ASSERT_EQ(list.status, 0) << list.output;
  EXPECT_THAT(list.output, HasSubstr("tree/deep/b.bin"));
  EXPECT_THAT(list.output, HasSubstr("200000"));
  auto x = RunTool("mkdir -p " + Quote(Native("u")) + " && tar -xf " + Quote(Native("t.tar")) + " -C " +
                   Quote(Native("u")));
  ASSERT_EQ(x.status, 0) << x.output;
  ExpectTree(Native("u"));
}

TEST_F(ArchiveInterop, GzipWrittenByTorvanePassesGzipAndKeepsTheName) {
  Put("in/notes.txt", big);
  auto a = Make();
  a->NewArchive(Variant(Dos("n.gz")), Variant::Missing());
  a->Add(Variant(Dos("in/notes.txt")), Variant::Missing(), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  auto t = RunTool("gzip -t " + Quote(Native("n.gz")));
  EXPECT_EQ(t.status, 0) << t.output;
  auto d = RunTool("gzip -dc " + Quote(Native("n.gz")) + " > " + Quote(Native("plain")));
  ASSERT_EQ(d.status, 0) << d.output;
  EXPECT_EQ(Content(Native("plain")), big);
  // gunzip -N restores the stored name.
  auto n = RunTool("mkdir -p " + Quote(Native("g")) + " && cp " + Quote(Native("n.gz")) + " " + Quote(Native("g/x.gz")) +
                   " && gunzip -N " + Quote(Native("g/x.gz")) + " && ls " + Quote(Native("g")));
  EXPECT_EQ(n.output, "notes.txt\n");
  EXPECT_EQ(RunTool("7z t " + Quote(Native("n.gz"))).status, 0);
}

TEST_F(ArchiveInterop, ZipByInfoZipIsReadByteForByte) {
  auto z = RunTool("cd " + Quote(Native("src")) + " && zip -qr ../info.zip tree");
  ASSERT_EQ(z.status, 0) << z.output;
  ReadWithTorvane("info.zip", "x");
}

TEST_F(ArchiveInterop, ZipWithTraditionalEncryptionNeedsThePassword) {
  auto z = RunTool("cd " + Quote(Native("src")) + " && zip -qr -P pkpass ../trad.zip tree");
  ASSERT_EQ(z.status, 0) << z.output;
  ReadWithTorvane("trad.zip", "x", "pkpass");
  auto a = Make();
  a->OpenArchive(Variant(Dos("trad.zip")));
  Error e = ThrownError([&] { a->Extract(Variant("tree\\a.txt"), Variant(Dos("nopass")), Variant::Missing()); });
  EXPECT_EQ(e.number, 0x0A06) << e.description;
  EXPECT_FALSE(FileExists(Native("nopass/tree/a.txt")));
}

TEST_F(ArchiveInterop, ZipBy7zWithAesIsReadWithThePassword) {
  auto z = RunTool("cd " + Quote(Native("src")) + " && 7z a -tzip -mem=AES256 -pz7pass ../aes7.zip tree");
  ASSERT_EQ(z.status, 0) << z.output;
  ReadWithTorvane("aes7.zip", "x", "z7pass");
}

TEST_F(ArchiveInterop, TarByGnuTarIsReadInEveryHeaderFormat) {
  for (const char* format : {"gnu", "pax", "ustar"}) {
    std::string name = std::string(format) + ".tar";
    auto t = RunTool("cd " + Quote(Native("src")) + " && tar --format=" + format + " -cf ../" + name + " tree");
    ASSERT_EQ(t.status, 0) << t.output;
    ReadWithTorvane(name, std::string("x-") + format);
  }
}

TEST_F(ArchiveInterop, GzipByGzipIsReadUnderItsStoredName) {
  Put("g/data.csv", big);
  auto g = RunTool("gzip -c " + Quote(Native("g/data.csv")) + " > " + Quote(Native("renamed.gz")));
  ASSERT_EQ(g.status, 0) << g.output;
  auto a = Make();
  a->OpenArchive(Variant(Dos("renamed.gz")));
  EXPECT_EQ(a->ArchiveType(), 10);
  EXPECT_EQ(Listing(*a), (std::vector<std::string>{"data.csv"}));
  EXPECT_EQ(a->Entries()->Item(Variant(1)).as<ArchiveEntry>()->UnCompressedSize(), 200000);
  a->Extract(Variant("*"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/data.csv")), big);

  // Without a stored name (gzip -n) the archive's own name, less ".gz", is used.
  RunTool("gzip -nc " + Quote(Native("g/data.csv")) + " > " + Quote(Native("plain.csv.gz")));
  auto b = Make();
  b->OpenArchive(Variant(Dos("plain.csv.gz")));
  EXPECT_EQ(Listing(*b), (std::vector<std::string>{"plain.csv"}));
}

}  // namespace
}  // namespace torvane::test

namespace torvane::test {
namespace {

// Path (as Torvane lists it) -> compressed and uncompressed size, as
// `unzip -v` reads them from the central directory.
std::map<std::string, std::pair<int64_t, int64_t>> UnzipSizes(const std::string& zip) {
  std::map<std::string, std::pair<int64_t, int64_t>> out;
  auto run = RunTool("unzip -v " + Quote(zip));
  std::istringstream in(run.output);
  std::string line;
  int rules = 0;
  while (std::getline(in, line)) {
    if (line.rfind("--------", 0) == 0) {
      ++rules;
      continue;
    }
    if (rules != 1) continue;
    std::istringstream row(line);
    int64_t length = 0, size = 0;
    std::string method, ratio, date, time, crc, name;
    row >> length >> method >> size >> ratio >> date >> time >> crc;
    std::getline(row >> std::ws, name);
    while (!name.empty() && name.back() == '/') name.pop_back();
    for (auto& c : name)
      if (c == '/') c = '\\';
    out[name] = {size, length};
  }
  return out;
}

class ZipEntrySizes : public ArchiveTest {};

// Every entry reports the sizes its central directory records, not only the
// first one: archives by Info-ZIP (stored and deflated entries mixed) and by
// Torvane.
TEST_F(ZipEntrySizes, EveryEntryReportsItsCentralDirectorySizes) {
  for (const char* tool : {"zip", "unzip"})
    if (!HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps.sh installs it)";
  Put("src/tree/a.txt", std::string(5000, 'a'));
  Put("src/tree/noise.bin", Noise(30000, 5));
  Put("src/tree/deep/words.txt", std::string(20000, 'w') + "end");
  Put("src/tree/empty.txt", "");
  ASSERT_EQ(RunTool("cd " + Quote(Native("src")) + " && zip -qr ../info.zip tree && zip -q0 ../info.zip tree/a.txt")
                .status,
            0);
  auto mine = Make();
  mine->NewArchive(Variant(Dos("mine.zip")), Variant(int32_t{0}));
  mine->Add(Variant(Dos("src/tree")), Variant(true), Variant::Missing());
  mine->SaveArchive(Variant::Missing());
  for (const std::string zip : {"info.zip", "mine.zip"}) {
    auto want = UnzipSizes(Native(zip));
    ASSERT_GE(want.size(), 6u) << zip;
    auto a = Make();
    a->OpenArchive(Variant(Dos(zip)));
    auto entries = a->Entries();
    ASSERT_EQ(entries->Count(), static_cast<int32_t>(want.size())) << zip;
    int compressedSeen = 0;
    for (int32_t i = 1; i <= entries->Count(); ++i) {
      auto e = entries->Item(Variant(i)).as<ArchiveEntry>();
      auto it = want.find(e->Path());
      ASSERT_NE(it, want.end()) << zip << ": " << e->Path();
      EXPECT_EQ(e->CompressedSize(), it->second.first) << zip << ": " << e->Path();
      EXPECT_EQ(e->UnCompressedSize(), it->second.second) << zip << ": " << e->Path();
      if (e->CompressedSize() > 0) ++compressedSeen;
    }
    EXPECT_GE(compressedSeen, 3) << zip;
  }
}

}  // namespace
}  // namespace torvane::test
