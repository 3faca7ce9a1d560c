// Extraction: what is selected, where it lands, and the faults mended —
// nothing is ever written outside DestPath, and an archive that expands far
// beyond what it declares (a decompression bomb) stops with a clear error.
#include <sys/stat.h>
#include <unistd.h>

#include "archive_fixture.h"

namespace torvane::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using ArchiveExtract = ArchiveTest;

TEST_F(ArchiveExtract, SelectionByNamePatternAndFolderAndFlatten) {
  Put("src/docs/a.txt", "a");
  Put("src/docs/sub/b.txt", "b");
  Put("src/img/c.png", "c");
  auto a = Make();
  a->NewArchive(Variant(Dos("s.zip")), Variant::Missing());
  a->Add(Variant(Dos("src/*")), Variant(true), Variant::Missing());
  a->SaveArchive(Variant::Missing());

  a->Extract(Variant("docs\\sub\\b.txt"), Variant(Dos("one")), Variant::Missing());
  EXPECT_EQ(Tree(Native("one")), (std::vector<std::string>{"docs", "docs/sub", "docs/sub/b.txt"}));
  a->Extract(Variant("docs"), Variant(Dos("folder")), Variant::Missing());
  EXPECT_EQ(Tree(Native("folder")), (std::vector<std::string>{"docs", "docs/a.txt", "docs/sub", "docs/sub/b.txt"}));
  a->Extract(Variant("*.TXT"), Variant(Dos("flat")), Variant(true));
  EXPECT_EQ(Tree(Native("flat")), (std::vector<std::string>{"a.txt", "b.txt"}));
  a->Extract(Variant("*.none"), Variant(Dos("nothing")), Variant::Missing());  // a wildcard may match nothing
  EXPECT_EQ(Tree(Native("nothing")), std::vector<std::string>{});
  Error e = ThrownError([&] { a->Extract(Variant("docs\\zzz.txt"), Variant(Dos("none")), Variant::Missing()); });
  EXPECT_EQ(e.number, 0x0A07);
  EXPECT_EQ(e.description, "No entry of the archive matches docs\\zzz.txt");
  // Entries added but not saved yet extract from their disk files.
  Put("later.txt", "later");
  a->Add(Variant(Dos("later.txt")), Variant::Missing(), Variant::Missing());
  a->Extract(Variant("later.txt"), Variant(Dos("unsaved")), Variant::Missing());
  EXPECT_EQ(Content(Native("unsaved/later.txt")), "later");
}

TEST_F(ArchiveExtract, TraversalEntriesAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* what;
    std::vector<RawEntry> entries;
    bool zip;
  };
  std::string outside = Native("outside");
  std::filesystem::create_directories(outside);
  const std::vector<Case> cases = {
      {"dot-dot path", {{"fine.txt", AE_IFREG, "ok"}, {"../outside/evil.txt", AE_IFREG, "evil"}}, false},
      {"deep dot-dot", {{"fine.txt", AE_IFREG, "ok"}, {"a/b/../../../outside/evil.txt", AE_IFREG, "evil"}}, true},
      {"absolute path", {{"fine.txt", AE_IFREG, "ok"}, {outside + "/evil.txt", AE_IFREG, "evil"}}, false},
      {"link out", {{"fine.txt", AE_IFREG, "ok"}, {"lnk", AE_IFLNK, "", "../outside"}}, false},
      {"absolute link", {{"fine.txt", AE_IFREG, "ok"}, {"lnk", AE_IFLNK, "", outside}}, true},
      {"deep link out", {{"fine.txt", AE_IFREG, "ok"}, {"d/lnk", AE_IFLNK, "", "../../outside/x"}}, false},
      {"hard link out", {{"fine.txt", AE_IFREG, "ok"}, {"hl", AE_IFREG, "", "../outside/evil.txt", true}}, false},
      {"device", {{"fine.txt", AE_IFREG, "ok"}, {"dev", AE_IFCHR, ""}}, false},
  };
  for (const auto& c : cases) {
    std::string name = std::string("bad") + (c.zip ? ".zip" : ".tar");
    WriteRaw(Native(name), c.entries, c.zip);
    auto a = Make();
    a->OpenArchive(Variant(Dos(name)));
    Error e = ThrownError([&] { a->Extract(Variant("*"), Variant(Dos("dest")), Variant::Missing()); });
    EXPECT_EQ(e.number, 0x0A04) << c.what << ": " << e.description;
    EXPECT_EQ(e.description.rfind("Refused to extract ", 0), 0u) << e.description;
    EXPECT_EQ(Tree(Native("dest")), std::vector<std::string>{}) << c.what << ": nothing is written at all";
    EXPECT_EQ(Tree(outside), std::vector<std::string>{}) << c.what;
    // The harmless entry alone still extracts.
    a->Extract(Variant("fine.txt"), Variant(Dos("dest")), Variant::Missing());
    EXPECT_EQ(Content(Native("dest/fine.txt")), "ok") << c.what;
    std::filesystem::remove_all(Native("dest"));
  }
}

TEST_F(ArchiveExtract, AFileBelowALinkOfTheSameArchiveIsRefused) {
  // "l" is a link and "l/x.txt" would be written through it: the archive
  // cannot even be listed, so nothing is extracted.
  WriteRaw(Native("l.tar"), {{"l", AE_IFLNK, "", "."}, {"l/x.txt", AE_IFREG, "x"}}, false);
  auto a = Make();
  a->OpenArchive(Variant(Dos("l.tar")));
  Error e = ThrownError([&] { a->Extract(Variant("*"), Variant(Dos("dest")), Variant::Missing()); });
  EXPECT_EQ(e.number, 0x0A02);
  EXPECT_EQ(e.description, "The archive holds both a file and a folder named l.");
  EXPECT_EQ(Tree(Native("dest")), std::vector<std::string>{});
}

TEST_F(ArchiveExtract, LinksThatStayInsideAreKeptAndSurviveASave) {
  WriteRaw(Native("in.tar"),
           {{"d/target.txt", AE_IFREG, "T"}, {"d/rel", AE_IFLNK, "", "target.txt"},
            {"up", AE_IFLNK, "", "d/../d/target.txt"}, {"hard", AE_IFREG, "", "d/target.txt", true},
            {"fifo", AE_IFIFO, ""}},
           false);
  auto a = Make();
  a->OpenArchive(Variant(Dos("in.tar")));
  a->Extract(Variant("d*"), Variant(Dos("dest")), Variant::Missing());
  a->Extract(Variant("up"), Variant(Dos("dest")), Variant::Missing());
  a->Extract(Variant("hard"), Variant(Dos("dest")), Variant::Missing());
  EXPECT_EQ(std::filesystem::read_symlink(Native("dest/d/rel")).string(), "target.txt");
  EXPECT_EQ(Content(Native("dest/up")), "T");
  EXPECT_EQ(std::filesystem::hard_link_count(Native("dest/hard")), 2u);
  // Re-saved, every entry keeps its kind (the pipe too, though it is never extracted).
  a->Delete(Variant("up"));
  a->SaveArchive(Variant(Dos("again.tar")));
  if (HaveTool("tar")) {
    auto list = RunTool("tar -tvf " + Quote(Native("again.tar")));
    EXPECT_THAT(list.output, HasSubstr("d/rel -> target.txt"));
    EXPECT_THAT(list.output, HasSubstr("hard link to d/target.txt"));
    EXPECT_THAT(list.output, HasSubstr("\np"));
    EXPECT_THAT(list.output, Not(HasSubstr(" up -> ")));
  }
}

TEST_F(ArchiveExtract, NeverWritesThroughLinksAlreadyOnDisk) {
  std::string outside = Native("outside");
  Put("outside/victim.txt", "original");
  Put("dest/placeholder", "");
  ASSERT_EQ(::symlink((outside + "/victim.txt").c_str(), Native("dest/a.txt").c_str()), 0);
  ASSERT_EQ(::symlink(outside.c_str(), Native("dest/sub").c_str()), 0);
  WriteRaw(Native("t.tar"), {{"a.txt", AE_IFREG, "replaced"}}, false);
  WriteRaw(Native("u.tar"), {{"sub/new.txt", AE_IFREG, "through the link"}}, false);
  auto a = Make();
  a->OpenArchive(Variant(Dos("t.tar")));
  a->Extract(Variant("*"), Variant(Dos("dest")), Variant::Missing());
  // The link itself was replaced by the file; its target is untouched.
  EXPECT_FALSE(std::filesystem::is_symlink(Native("dest/a.txt")));
  EXPECT_EQ(Content(Native("dest/a.txt")), "replaced");
  EXPECT_EQ(Content(outside + "/victim.txt"), "original");
  a->OpenArchive(Variant(Dos("u.tar")));
  // Only the file is selected: its folder is a link on disk, which is refused.
  Error e = ThrownError([&] { a->Extract(Variant("sub\\new.txt"), Variant(Dos("dest")), Variant::Missing()); });
  EXPECT_EQ(e.number, 0x0A04) << e.description;
  EXPECT_THAT(e.description, HasSubstr("symlink"));
  EXPECT_TRUE(std::filesystem::is_symlink(Native("dest/sub")));
  // The folder itself is selected too: like a file, it replaces the link.
  a->Extract(Variant("*"), Variant(Dos("dest")), Variant::Missing());
  EXPECT_FALSE(std::filesystem::is_symlink(Native("dest/sub")));
  EXPECT_EQ(Content(Native("dest/sub/new.txt")), "through the link");
  EXPECT_EQ(Tree(outside), std::vector<std::string>{"victim.txt"});
}

TEST_F(ArchiveExtract, ADestinationReachedThroughALinkIsFine) {
  std::filesystem::create_directories(Native("real"));
  ASSERT_EQ(::symlink(Native("real").c_str(), Native("alias").c_str()), 0);
  WriteRaw(Native("t.tar"), {{"f.txt", AE_IFREG, "f"}}, false);
  auto a = Make();
  a->OpenArchive(Variant(Dos("t.tar")));
  a->Extract(Variant("*"), Variant(Dos("alias/in")), Variant::Missing());
  EXPECT_EQ(Content(Native("real/in/f.txt")), "f");
}

TEST_F(ArchiveExtract, ExpansionBeyondTheRatioStopsAndLeavesNoPartialFile) {
  Put("z/zeros.bin", std::string(20u << 20, '\0'));  // deflates about 1000:1
  auto a = Make();
  a->NewArchive(Variant(Dos("z.zip")), Variant::Missing());
  a->Add(Variant(Dos("z/zeros.bin")), Variant::Missing(), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  auto zipSize = std::filesystem::file_size(Native("z.zip"));
  ASSERT_LT(zipSize, 40000u);

  // The default bound lets a genuine archive through...
  a->Extract(Variant("*"), Variant(Dos("ok")), Variant::Missing());
  EXPECT_EQ(std::filesystem::file_size(Native("ok/zeros.bin")), 20u << 20);

  // ...a tighter one stops it.
  Settings s = CurrentSettings();
  s.archiveExtractMaxRatio = 100;
  SetSettings(s);
  Error e = ThrownError([&] { a->Extract(Variant("*"), Variant(Dos("stop")), Variant::Missing()); });
  EXPECT_EQ(e.number, 0x0A05);
  EXPECT_EQ(e.description, "Extraction stopped: the archive (" + std::to_string(zipSize) +
                               " bytes) expands beyond the extraction limit of " + std::to_string(zipSize * 100) +
                               " bytes; it may be a decompression bomb.");
  EXPECT_FALSE(FileExists(Native("stop/zeros.bin")));

  s.archiveExtractMaxRatio = 0;  // off
  s.archiveExtractMaxBytes = 1 << 20;
  SetSettings(s);
  e = ThrownError([&] { a->Extract(Variant("*"), Variant(Dos("cap")), Variant::Missing()); });
  EXPECT_EQ(e.number, 0x0A05);
  EXPECT_THAT(e.description, HasSubstr("limit of 1048576 bytes"));
  EXPECT_FALSE(FileExists(Native("cap/zeros.bin")));
}

TEST_F(ArchiveExtract, AnEntryLargerThanItsRecordedSizeStops) {
  // A ZIP whose headers claim 1000 bytes for data that inflates to 1 MiB.
  Put("z/big.bin", std::string(1u << 20, 'A'));
  auto a = Make();
  a->NewArchive(Variant(Dos("lie.zip")), Variant::Missing());
  a->Add(Variant(Dos("z/big.bin")), Variant::Missing(), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  a->CloseArchive();
  std::string zip = Content(Native("lie.zip"));
  auto patch = [&](size_t at) {
    uint32_t v = 1000;
    for (int i = 0; i < 4; ++i) zip[at + i] = static_cast<char>(v >> (8 * i));
  };
  size_t local = zip.find("PK\x03\x04");
  size_t central = zip.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  // Local headers written while streaming keep sizes in a data descriptor;
  // the central directory is what a seekable reader trusts.
  patch(central + 24);
  if (static_cast<unsigned char>(zip[local + 6]) & 0x08) {
    size_t desc = zip.find("PK\x07\x08");
    ASSERT_NE(desc, std::string::npos);
    patch(desc + 12);
  } else {
    patch(local + 22);
  }
  WriteFile(Native("lie.zip"), zip);
  auto b = Make();
  b->OpenArchive(Variant(Dos("lie.zip")));
  EXPECT_EQ(b->Entries()->Item(Variant(1)).as<ArchiveEntry>()->UnCompressedSize(), 1000);
  Error e = ThrownError([&] { b->Extract(Variant("*"), Variant(Dos("x")), Variant::Missing()); });
  EXPECT_EQ(e.number, 0x0A05);
  EXPECT_EQ(e.description, "Extraction stopped: big.bin expands beyond its recorded size of 1000 bytes.");
  EXPECT_FALSE(FileExists(Native("x/big.bin")));
}

}  // namespace
}  // namespace torvane::test
