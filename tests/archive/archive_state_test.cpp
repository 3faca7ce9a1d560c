// Archive's own rules: the format chosen by extension, the open/closed state,
// the trace and failure lines, the low-16-bit reduction, the info properties,
// TempDir and ToXML.
#include "archive_fixture.h"

#include "automation/progid.h"

namespace torvane::test {
namespace {

using ::testing::HasSubstr;

using ArchiveState = ArchiveTest;

TEST_F(ArchiveState, NewArchiveChoosesTheTypeByExtensionInAnyCase) {
  struct Case {
    const char* name;
    int32_t type;  // -1: 9028
  };
  const Case cases[] = {{"a.zip", 0},    {"a.ZIP", 0},    {"a.ZiP", 0},     {"a.tar.gz", 10}, {"a.Gz", 10},
                        {"a.tar", 21},   {"a.TAR", 21},   {"a.mmm", 13},    {"a.bin", 12},    {"a.BIN", 12},
                        {"a.tgz", -1},   {"a.zip.", -1},  {"a.rar", -1},    {"zip", -1},      {"a.gzip", -1}};
  for (const auto& c : cases) {
    auto a = Make();
    Error e = ThrownError([&] { a->NewArchive(Variant(Dos(c.name)), Variant::Missing()); });
    if (c.type < 0) {
      EXPECT_EQ(e.number, 9028) << c.name;
      EXPECT_EQ(e.description, "Unknown archive format for " + Dos(c.name)) << c.name;
      EXPECT_TRUE(a->IsOpen()) << "the engine made before the check stays: " << c.name;
    } else {
      EXPECT_EQ(e.number, 0) << c.name << ": " << e.description;
      EXPECT_EQ(a->ArchiveType(), c.type) << c.name;
    }
  }
}

TEST_F(ArchiveState, ExplicitTypeWinsOverTheExtension) {
  Put("in/f.txt", "tar me");
  auto a = Make();
  a->NewArchive(Variant(Dos("really.zip")), Variant(21));
  EXPECT_EQ(a->ArchiveType(), 21);
  a->Add(Variant(Dos("in/f.txt")), Variant::Missing(), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  std::string bytes = Content(Native("really.zip"));
  ASSERT_GT(bytes.size(), 262u);
  EXPECT_EQ(bytes.substr(257, 5), "ustar");
  if (HaveTool("tar")) {
    EXPECT_EQ(RunTool("tar -tf " + Quote(Native("really.zip"))).output, "f.txt\n");
  }
  // Opening goes by content, not by name.
  auto b = Make();
  b->OpenArchive(Variant(Dos("really.zip")));
  EXPECT_EQ(b->ArchiveType(), 21);
}

TEST_F(ArchiveState, StuffItIsRecognisedButNotSupported) {
  auto a = Make();
  Error e = ThrownError([&] { a->NewArchive(Variant(Dos("a.sit")), Variant::Missing()); });
  EXPECT_EQ(e.number, 0x0A03);
  EXPECT_EQ(e.description, "Writing StuffIt archives is not supported.");
  // A classic StuffIt header: "SIT!", entry count, length, "rLau".
  std::string sit = std::string("SIT!\0\1\0\0\0\x40rLau", 14) + std::string(100, '\0');
  Put("old.sit", sit);
  e = ThrownError([&] { a->OpenArchive(Variant(Dos("old.sit"))); });
  EXPECT_EQ(e.number, 0x0A03);
  EXPECT_THAT(e.description, HasSubstr("StuffIt archives are not supported"));
}

TEST_F(ArchiveState, EveryArchiveOperationNeedsAnOpenArchive) {
  Put("in/f.txt", "x");
  auto a = Make();
  std::vector<std::pair<const char*, std::function<void()>>> calls = {
      {"Entries", [&] { a->Entries(); }},
      {"Extract", [&] { a->Extract(Variant("*"), Variant(Dos("x")), Variant::Missing()); }},
      {"Delete", [&] { a->Delete(Variant("*")); }},
      {"Add", [&] { a->Add(Variant(Dos("in/f.txt")), Variant::Missing(), Variant::Missing()); }},
      {"SaveArchive", [&] { a->SaveArchive(Variant(Dos("s.zip"))); }},
  };
  auto expectClosed = [&](const char* when) {
    for (auto& [name, call] : calls) {
      Error e = ThrownError(call);
      EXPECT_EQ(e.number, 9032) << name << " " << when;
      EXPECT_EQ(e.description, "Archive must be created or opened before being used.") << name;
      EXPECT_EQ(e.source, "Torvane.Archive");
    }
  };
  expectClosed("before opening");
  a->NewArchive(Variant(Dos("s.zip")), Variant::Missing());
  a->Add(Variant(Dos("in/f.txt")), Variant::Missing(), Variant::Missing());
  EXPECT_EQ(a->Entries()->Count(), 1);
  a->CloseArchive();
  expectClosed("after CloseArchive");
  a->CloseArchive();  // no effect when closed
  EXPECT_FALSE(a->IsOpen());
  EXPECT_FALSE(FileExists(Native("s.zip")));
}

TEST_F(ArchiveState, InfoPropertiesFailWithoutAnEngineAndDescribeEachFormat) {
  auto a = Make();
  EXPECT_EQ(ThrownError([&] { a->SupportsFolders(); }).number, 91);
  EXPECT_EQ(ThrownError([&] { a->ArchiveType(); }).number, 91);
  struct Case {
    int32_t type;
    bool folders, empty, sizes;
  };
  const Case cases[] = {{0, true, true, true},    {21, true, true, true},  {10, false, false, true},
                        {12, false, false, true}, {13, false, false, false}};
  for (const auto& c : cases) {
    a->NewArchive(Variant(Dos("n.x")), Variant(c.type));
    EXPECT_EQ(a->ArchiveType(), c.type);
    EXPECT_EQ(a->SupportsFolders(), c.folders) << c.type;
    EXPECT_EQ(a->SupportsEmptyArchives(), c.empty) << c.type;
    EXPECT_EQ(a->SupportsUnCompressedSize(), c.sizes) << c.type;
  }
  Error e = ThrownError([&] { a->NewArchive(Variant(Dos("n.x")), Variant(99)); });
  EXPECT_EQ(e.number, 0x0A0A);
}

TEST_F(ArchiveState, ToXmlRendersTheEngineInfoOnlyWhenOpen) {
  auto a = Make();
  a->SetTempDir("C:\\scratch\\");
  EXPECT_EQ(a->ToXML(Variant::Missing(), Variant::Missing()), "<archive><tempdir>C:\\scratch\\</tempdir></archive>");
  a->NewArchive(Variant(Dos("x.tar")), Variant::Missing());
  EXPECT_EQ(a->ToXML(Variant::Missing(), Variant("<x/>")),
            "<archive><archivetype>21</archivetype><supportsemptyarchives>True</supportsemptyarchives>"
            "<supportsfolders>True</supportsfolders><supportsuncompressedsize>True</supportsuncompressedsize>"
            "<tempdir>C:\\scratch\\</tempdir><x/></archive>");
}

TEST_F(ArchiveState, TempDirDefaultsToTheSystemTempAndGoesThroughThePathPolicy) {
  auto a = Make();
  std::string expected = ToDosPath(std::filesystem::temp_directory_path().string());
  if (expected.back() != '\\') expected += '\\';
  EXPECT_EQ(a->TempDir(), expected);
  a->SetTempDir("work");  // virtual: mapped below the page's folder
  EXPECT_EQ(a->TempDir(), Dos("work"));
  registry.SetPolicy("AllowPaths", "VirtualOnly");
  ResetPathPolicy();
  EXPECT_EQ(ThrownError([&] { a->SetTempDir("C:\\tmp\\"); }).number, 9030);
}

TEST_F(ArchiveState, SavesGoThroughTempDirAndLeaveNothingThere) {
  Put("in/f.txt", "x");
  std::filesystem::create_directories(Native("scratch"));
  auto a = Make();
  a->SetTempDir(Dos("scratch"));
  a->NewArchive(Variant(Dos("t.zip")), Variant::Missing());
  a->Add(Variant(Dos("in/f.txt")), Variant::Missing(), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  EXPECT_TRUE(std::filesystem::is_empty(Native("scratch")));
  // A TempDir that does not exist fails the save and leaves the archive as it was.
  a->SetTempDir(Dos("missing"));
  a->NewArchive(Variant(Dos("t.zip")), Variant::Missing());
  a->Add(Variant(Dos("in/f.txt")), Variant::Missing(), Variant::Missing());
  std::string before = Content(Native("t.zip"));
  Error e = ThrownError([&] { a->SaveArchive(Variant::Missing()); });
  EXPECT_EQ(e.number, 2);
  EXPECT_EQ(Content(Native("t.zip")), before);
}

TEST_F(ArchiveState, FailuresAreTracedAndReducedToTheirLowWord) {
  Put("not-an-archive.zip", "just some text, no archive at all");
  {
    auto a = TracedArchive("trace.log");
    a->TraceFile();
    Error e = ThrownError([&] { a->OpenArchive(Variant(Dos("not-an-archive.zip"))); });
    EXPECT_EQ(e.number, 0x0A01);  // the engine's 0x80040A01, low word
    EXPECT_EQ(e.description, "The file is not an archive of a known format: " + Dos("not-an-archive.zip"));
    EXPECT_TRUE(a->IsOpen()) << "the engine object was made before the failure";
    e = ThrownError([&] { a->OpenArchive(Variant(Dos("missing.zip"))); });
    EXPECT_EQ(e.number, 2);
    // A virtual path that leaves the site: the host's negative number, reduced.
    e = ThrownError([&] { a->NewArchive(Variant("a/..\\..\\outside.zip"), Variant::Missing()); });
    EXPECT_EQ(e.number, 0x4005);
    e = ThrownError([&] { a->Delete(Variant("nothing-like-this")); });
    EXPECT_EQ(e.number, 0x0A07);
  }
  EXPECT_EQ(TraceMessages(Native("trace.log")),
            (std::vector<std::string>{
                "TraceLog Opened",
                "File.SetTraceFile - Set TraceFile object.",
                "File.GetTraceFile - Returned TraceFile object.",
                "***Error in Archive.OpenArchive***.",
                "(-2147218943) The file is not an archive of a known format: " + Dos("not-an-archive.zip"),
                "***Error in Archive.OpenArchive***.",
                "(2) No such file or directory",
                "***Error in Archive.NewArchive***.",
                "(-2147467259) " + ThrownError([&] { host.server->MapPath("./a/..\\..\\"); }).description,
                "Archive.Class_Terminate Called",
            }));
}

TEST_F(ArchiveState, DirectErrorsAreNotTraced) {
  Put("in/f.txt", "x");
  {
    auto a = TracedArchive("trace.log");
    ThrownError([&] { a->Entries(); });
    ThrownError([&] { a->NewArchive(Variant(Dos("x.tgz")), Variant::Missing()); });
    a->NewArchive(Variant(Dos("x.gz")), Variant::Missing());
    ThrownError([&] { a->Add(Variant(Dos("in")), Variant(true), Variant::Missing()); });
  }
  EXPECT_EQ(TraceMessages(Native("trace.log")),
            (std::vector<std::string>{"TraceLog Opened", "File.SetTraceFile - Set TraceFile object.",
                                      "Archive.Class_Terminate Called"}));
}

// (Its member table is in the committed listing of every ProgID's members.)
TEST_F(ArchiveState, CreatedByProgIdAndCalledLateBound) {
  ObjectRef o = CreateObject("Torvane.Archive");
  // Late-bound: a missing optional ArchiveType chooses by extension.
  o->Invoke("newarchive", CallKind::Method, Args{Variant(Dos("late.TAR"))});
  EXPECT_EQ(o->Get("ArchiveType").toInt32(), 21);
  bool found = false;
  for (const auto& c : ConstantTable()) found |= std::string(c.name) == "TV_ARCHIVE_STUFFIT" && c.value == 20;
  EXPECT_TRUE(found);
}

}  // namespace
}  // namespace torvane::test
