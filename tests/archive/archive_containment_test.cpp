// Extraction and symbolic links: where a link leads is what the kernel says,
// not what its text says. Links that each look inside on paper but lead out
// together are refused, whatever their order in the archive and whether the
// other half came with an earlier archive; a refusal part-way leaves the
// destination exactly as it was (what was created goes, what was replaced
// comes back).
#include <sys/stat.h>
#include <unistd.h>

#include "archive_fixture.h"

namespace torvane::test {
namespace {

using ::testing::HasSubstr;

class ArchiveContainment : public ArchiveTest {
 protected:
  void SetUp() override {
    ArchiveTest::SetUp();
    Put("secret.txt", "secret");  // beside the destination, never to be reached from it
  }

  // Opens `name` (a raw archive below the site) and extracts everything into "dest".
  Error ExtractAll(const std::string& name) {
    auto a = Make();
    a->OpenArchive(Variant(Dos(name)));
    return ThrownError([&] { a->Extract(Variant("*"), Variant(Dos("dest")), Variant::Missing()); });
  }

  // True when the file at `rel` below dest, followed as the kernel follows
  // links, is the secret beside the destination.
  bool ReachesSecret(const std::string& rel) { return Content(Native("dest/" + rel)) == "secret"; }

  // Names starting with ".~LK" below dest (left-over backups).
  std::vector<std::string> Leftovers() {
    std::vector<std::string> out;
    for (const auto& p : Tree(Native("dest")))
      if (std::filesystem::path(p).filename().string().rfind(".~LK", 0) == 0) out.push_back(p);
    return out;
  }
};

TEST_F(ArchiveContainment, LinkChainsThatLeadOutAreRefusedInAnyOrder) {
  struct Case {
    const char* what;
    std::vector<RawEntry> entries;
    const char* refused;  // the entry named in the error
  };
  const std::vector<Case> cases = {
      {"a link to .. used twice, then climbed",
       {{"fine.txt", AE_IFREG, "ok"}, {"a", AE_IFDIR}, {"a/up", AE_IFLNK, "", ".."},
        {"pw", AE_IFLNK, "", "a/up/a/up/../secret.txt"}},
       "pw"},
      {"the link it needs comes later in the archive",
       {{"pw", AE_IFLNK, "", "a/up/../secret.txt"}, {"fine.txt", AE_IFREG, "ok"}, {"a/up", AE_IFLNK, "", ".."}},
       "pw"},
      {"a link to a link to the destination",
       {{"fine.txt", AE_IFREG, "ok"}, {"here", AE_IFLNK, "", "."}, {"d/back", AE_IFLNK, "", "../here"},
        {"d/pw", AE_IFLNK, "", "back/../secret.txt"}},
       "d\\pw"},
      {"zip: the same chain",
       {{"a/up", AE_IFLNK, "", ".."}, {"pw", AE_IFLNK, "", "a/up/a/up/../secret.txt"}, {"fine.txt", AE_IFREG, "ok"}},
       "pw"},
  };
  for (const auto& c : cases) {
    bool zip = std::string(c.what).rfind("zip", 0) == 0;
    std::string name = zip ? "chain.zip" : "chain.tar";
    WriteRaw(Native(name), c.entries, zip);
    Error e = ExtractAll(name);
    EXPECT_EQ(e.number, 0x0A04) << c.what << ": " << e.description;
    EXPECT_EQ(e.description.rfind(std::string("Refused to extract ") + c.refused + ": its link target ", 0), 0u)
        << c.what << ": " << e.description;
    EXPECT_THAT(e.description, HasSubstr("leaves the destination folder."));
    // Everything the extraction wrote is gone, the destination folder too.
    EXPECT_FALSE(std::filesystem::exists(Native("dest"))) << c.what << ": " << testing::PrintToString(Tree(Native("dest")));
    EXPECT_EQ(Content(Native("secret.txt")), "secret");
  }
}

TEST_F(ArchiveContainment, AnEarlierArchiveCannotBeCompletedIntoAnEscape) {
  // The first half alone leads nowhere (a/ does not exist) and is kept.
  WriteRaw(Native("one.tar"), {{"pw", AE_IFLNK, "", "a/up/a/up/../secret.txt"}}, false);
  EXPECT_EQ(ExtractAll("one.tar").number, 0);
  EXPECT_EQ(std::filesystem::read_symlink(Native("dest/pw")).string(), "a/up/a/up/../secret.txt");
  // The second half would make it lead out: refused, and taken back.
  WriteRaw(Native("two.tar"), {{"a/f.txt", AE_IFREG, "f"}, {"a/up", AE_IFLNK, "", ".."}}, false);
  Error e = ExtractAll("two.tar");
  EXPECT_EQ(e.number, 0x0A04) << e.description;
  EXPECT_EQ(e.description, "Refused to extract: the link pw in the destination folder would then lead outside it.");
  EXPECT_EQ(Tree(Native("dest")), std::vector<std::string>{"pw"});
  EXPECT_FALSE(ReachesSecret("pw"));
}

TEST_F(ArchiveContainment, ReplacingALinkCannotSendAnotherOneOut) {
  WriteRaw(Native("one.tar"),
           {{"d/e/keep.txt", AE_IFREG, "k"}, {"L", AE_IFLNK, "", "d/e"}, {"q", AE_IFLNK, "", "L/../secret.txt"}},
           false);
  ASSERT_EQ(ExtractAll("one.tar").number, 0);
  EXPECT_FALSE(ReachesSecret("q"));
  // "L -> ." stays inside by itself, but q would then climb out through it.
  WriteRaw(Native("two.tar"), {{"new.txt", AE_IFREG, "n"}, {"L", AE_IFLNK, "", "."}}, false);
  Error e = ExtractAll("two.tar");
  EXPECT_EQ(e.number, 0x0A04) << e.description;
  EXPECT_EQ(std::filesystem::read_symlink(Native("dest/L")).string(), "d/e");  // put back
  EXPECT_FALSE(FileExists(Native("dest/new.txt")));
  EXPECT_EQ(Leftovers(), std::vector<std::string>{});
  EXPECT_FALSE(ReachesSecret("q"));
}

TEST_F(ArchiveContainment, LinksThatLeadOutAlreadyDoNotBlockTheNextArchive) {
  // The page's own link out of the destination is not the archive's doing.
  std::filesystem::create_directories(Native("dest"));
  ASSERT_EQ(::symlink(Native("secret.txt").c_str(), Native("dest/shared").c_str()), 0);
  WriteRaw(Native("ok.tar"), {{"d/f.txt", AE_IFREG, "f"}, {"l", AE_IFLNK, "", "d/f.txt"}}, false);
  Error e = ExtractAll("ok.tar");
  EXPECT_EQ(e.number, 0) << e.description;
  EXPECT_EQ(Content(Native("dest/l")), "f");
  EXPECT_TRUE(ReachesSecret("shared"));
  // A hard link would copy that link under a new name: refused.
  WriteRaw(Native("hard.tar"), {{"h", AE_IFREG, "", "shared", true}}, false);
  e = ExtractAll("hard.tar");
  EXPECT_EQ(e.number, 0x0A04) << e.description;
  EXPECT_EQ(e.description, "Refused to extract h: its link target shared is not a file of the destination folder.");
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(Native("dest/h"))));
}

TEST_F(ArchiveContainment, LinksThroughLinksThatStayInsideAreKept) {
  WriteRaw(Native("in.tar"),
           {{"a", AE_IFLNK, "", "d"}, {"b", AE_IFLNK, "", "a/x.txt"}, {"c", AE_IFLNK, "", "a/../d/x.txt"},
            {"d/x.txt", AE_IFREG, "x"}, {"d/self", AE_IFLNK, "", "."}, {"dangling", AE_IFLNK, "", "nothere/y.txt"},
            {"loop", AE_IFLNK, "", "loop"}},
           false);
  Error e = ExtractAll("in.tar");
  ASSERT_EQ(e.number, 0) << e.description;
  EXPECT_EQ(Content(Native("dest/b")), "x");
  EXPECT_EQ(Content(Native("dest/c")), "x");
  EXPECT_EQ(Content(Native("dest/d/self/self/x.txt")), "x");
  EXPECT_EQ(std::filesystem::read_symlink(Native("dest/dangling")).string(), "nothere/y.txt");
  EXPECT_EQ(std::filesystem::read_symlink(Native("dest/loop")).string(), "loop");
}

TEST_F(ArchiveContainment, AFailurePartWayPutsBackWhatItReplaced) {
  Put("dest/a.txt", "original");
  ASSERT_EQ(::symlink("a.txt", Native("dest/b.txt").c_str()), 0);
  WriteRaw(Native("t.tar"),
           {{"a.txt", AE_IFREG, "new a"}, {"b.txt", AE_IFREG, "new b"}, {"newdir/c.txt", AE_IFREG, "c"},
            {"z.bin", AE_IFREG, std::string(100000, 'z')}},
           false);
  Settings s = CurrentSettings();
  s.archiveExtractMaxRatio = 0;
  s.archiveExtractMaxBytes = 50000;
  SetSettings(s);
  Error e = ExtractAll("t.tar");
  EXPECT_EQ(e.number, 0x0A05) << e.description;
  EXPECT_EQ(Content(Native("dest/a.txt")), "original");
  EXPECT_EQ(std::filesystem::read_symlink(Native("dest/b.txt")).string(), "a.txt");
  EXPECT_EQ(Tree(Native("dest")), (std::vector<std::string>{"a.txt", "b.txt"}));
  // Without the bound it goes through, and the replaced entries leave no trace.
  s.archiveExtractMaxBytes = 0;
  SetSettings(s);
  e = ExtractAll("t.tar");
  EXPECT_EQ(e.number, 0) << e.description;
  EXPECT_EQ(Content(Native("dest/a.txt")), "new a");
  EXPECT_FALSE(std::filesystem::is_symlink(Native("dest/b.txt")));
  EXPECT_EQ(Tree(Native("dest")), (std::vector<std::string>{"a.txt", "b.txt", "newdir", "newdir/c.txt", "z.bin"}));
}

TEST_F(ArchiveContainment, FolderModesAndTimesAsTheArchiveGivesThem) {
  struct archive* w = archive_write_new();
  archive_write_set_format_pax_restricted(w);
  ASSERT_EQ(archive_write_open_filename(w, Native("m.tar").c_str()), ARCHIVE_OK);
  auto add = [&](const char* name, unsigned type, unsigned perm, const std::string& data) {
    struct archive_entry* e = archive_entry_new();
    archive_entry_set_pathname(e, name);
    archive_entry_set_filetype(e, type);
    archive_entry_set_perm(e, perm);
    archive_entry_set_size(e, static_cast<la_int64_t>(data.size()));
    archive_entry_set_mtime(e, 1000000000, 0);
    archive_write_header(w, e);
    if (!data.empty()) archive_write_data(w, data.data(), data.size());
    archive_entry_free(e);
  };
  add("ro", AE_IFDIR, 0555, "");
  add("ro/f.txt", AE_IFREG, 0444, "f");
  add("implied/g.txt", AE_IFREG, 0640, "g");
  archive_write_close(w);
  archive_write_free(w);
  mode_t mask = ::umask(022);
  Error e = ExtractAll("m.tar");
  ::umask(mask);
  ASSERT_EQ(e.number, 0) << e.description;
  struct stat st {};
  ASSERT_EQ(::stat(Native("dest/ro").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0555u);
  EXPECT_EQ(st.st_mtime, 1000000000);  // set after its file was written into it
  ASSERT_EQ(::stat(Native("dest/ro/f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_EQ(st.st_mtime, 1000000000);
  ASSERT_EQ(::stat(Native("dest/implied").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0755u);
  ASSERT_EQ(::stat(Native("dest/implied/g.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ::chmod(Native("dest/ro").c_str(), 0755);  // so that the temporary site can be removed
}

TEST_F(ArchiveContainment, AFolderInTheWayOfAFileFailsAndKeepsTheFolder) {
  Put("dest/x/inner.txt", "inner");
  WriteRaw(Native("t.tar"), {{"y.txt", AE_IFREG, "y"}, {"x", AE_IFREG, "file"}}, false);
  Error e = ExtractAll("t.tar");
  EXPECT_EQ(e.number, 0x0A09) << e.description;
  EXPECT_EQ(e.description, "Cannot extract x: a folder of that name is in the way.");
  EXPECT_EQ(Content(Native("dest/x/inner.txt")), "inner");
  EXPECT_FALSE(FileExists(Native("dest/y.txt")));
}

}  // namespace
}  // namespace torvane::test
