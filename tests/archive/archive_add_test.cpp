// Adding files: Recurse, Flatten, wildcards, the 9031 rule, replacing entries,
// the limits of one-file formats, saving in place.
#include <sys/stat.h>
#include <unistd.h>

#include "archive_fixture.h"

namespace torvane::test {
namespace {

using ::testing::HasSubstr;

using ArchiveAdd = ArchiveTest;

struct TypeCase {
  const char* ext;
  int32_t type;
  bool folders;
};
const TypeCase kTypes[] = {{"zip", 0, true}, {"tar", 21, true}, {"gz", 10, false}, {"mmm", 13, false}, {"bin", 12, false}};

TEST_F(ArchiveAdd, WithoutRecurseOrFlattenNeverRaises9031) {
  Put("in/f.txt", "x");
  for (const auto& t : kTypes) {
    auto a = Make();
    a->NewArchive(Variant(Dos(std::string("n.") + t.ext)), Variant::Missing());
    for (const Variant& off : {Variant::Missing(), Variant(false), Variant(int32_t{0})}) {
      Error e = ThrownError([&] { a->Add(Variant(Dos("in/f.txt")), off, off); });
      EXPECT_EQ(e.number, 0) << t.ext << ": " << e.description;
    }
    EXPECT_EQ(a->Entries()->Count(), 1) << t.ext << ": the same file replaces itself";
  }
}

TEST_F(ArchiveAdd, RecurseOrFlattenOnFormatsWithoutFoldersRaises9031) {
  Put("in/f.txt", "x");
  for (const auto& t : kTypes) {
    auto a = Make();
    a->NewArchive(Variant(Dos(std::string("n.") + t.ext)), Variant::Missing());
    for (auto [recurse, flatten] : {std::pair{true, false}, {false, true}, {true, true}}) {
      Error e = ThrownError([&] { a->Add(Variant(Dos("in/f.txt")), Variant(recurse), Variant(flatten)); });
      if (t.folders) {
        EXPECT_EQ(e.number, 0) << t.ext << ": " << e.description;
      } else {
        EXPECT_EQ(e.number, 9031) << t.ext;
        EXPECT_EQ(e.description, "This Archive type does not support folders and Recurse or Flatten was specified.");
      }
    }
  }
}

TEST_F(ArchiveAdd, WildcardsRecurseAndFlatten) {
  Put("src/a.txt", "a");
  Put("src/b.log", "b");
  Put("src/sub/c.txt", "c");
  Put("src/sub/d.log", "d");
  Put("src/other/e.log", "e");
  Put("src/sub/deeper/c.txt", "deep c");

  auto a = Make();
  a->NewArchive(Variant(Dos("w.zip")), Variant::Missing());
  a->Add(Variant(Dos("src/*.txt")), Variant::Missing(), Variant::Missing());
  EXPECT_EQ(Listing(*a), (std::vector<std::string>{"a.txt"}));

  a->NewArchive(Variant(Dos("w.zip")), Variant::Missing());
  a->Add(Variant(Dos("src/*.TXT")), Variant(true), Variant::Missing());
  // Folders come with the matches inside them; "other" holds none.
  EXPECT_EQ(Listing(*a), (std::vector<std::string>{"a.txt", "sub/", "sub\\c.txt", "sub\\deeper/",
                                                   "sub\\deeper\\c.txt"}));

  a->NewArchive(Variant(Dos("w.zip")), Variant::Missing());
  a->Add(Variant(Dos("src/sub")), Variant(true), Variant(true));
  // Flattened: files only, under their own names; the later c.txt replaces the earlier.
  EXPECT_EQ(Listing(*a), (std::vector<std::string>{"c.txt", "d.log"}));
  a->SaveArchive(Variant::Missing());
  a->Extract(Variant("c.txt"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/c.txt")), "deep c");
}

TEST_F(ArchiveAdd, NothingToAddIsAnError) {
  Put("src/a.txt", "a");
  auto a = Make();
  a->NewArchive(Variant(Dos("w.zip")), Variant::Missing());
  struct Case {
    std::string path;
    bool recurse;
    int32_t number;
  };
  const Case cases[] = {{Dos("src/*.none"), true, 0x0A07},  // no match
                        {Dos("src"), false, 0x0A07},        // a folder without Recurse
                        {Dos("src/missing.txt"), false, 2}};
  for (const auto& c : cases) {
    Error e = ThrownError([&] { a->Add(Variant(c.path), Variant(c.recurse), Variant::Missing()); });
    EXPECT_EQ(e.number, c.number) << c.path << ": " << e.description;
  }
  EXPECT_EQ(a->Entries()->Count(), 0);
}

TEST_F(ArchiveAdd, OneFileFormatsRefuseASecondFileAndKeepTheFirst) {
  Put("in/one.txt", "1");
  Put("in/two.txt", "2");
  for (const char* ext : {"gz", "bin"}) {
    auto a = Make();
    a->NewArchive(Variant(Dos(std::string("o.") + ext)), Variant::Missing());
    a->Add(Variant(Dos("in/one.txt")), Variant::Missing(), Variant::Missing());
    Error e = ThrownError([&] { a->Add(Variant(Dos("in/two.txt")), Variant::Missing(), Variant::Missing()); });
    EXPECT_EQ(e.number, 0x0A08) << ext;
    EXPECT_EQ(Listing(*a), (std::vector<std::string>{"one.txt"})) << ext;
    // Saving with no file at all is refused too.
    a->Delete(Variant("one.txt"));
    EXPECT_EQ(ThrownError([&] { a->SaveArchive(Variant::Missing()); }).number, 0x0A08) << ext;
    EXPECT_FALSE(FileExists(Native(std::string("o.") + ext)));
  }
}

TEST_F(ArchiveAdd, APasswordOnAFormatWithoutEncryptionAddsNothing) {
  Put("in/f.txt", "x");
  auto a = Make();
  a->SetPassword("pw");
  a->NewArchive(Variant(Dos("p.tar")), Variant::Missing());
  Error e = ThrownError([&] { a->Add(Variant(Dos("in/f.txt")), Variant::Missing(), Variant::Missing()); });
  EXPECT_EQ(e.number, 0x0A03);
  EXPECT_THAT(e.description, HasSubstr("cannot be encrypted"));
  EXPECT_EQ(a->Entries()->Count(), 0);
}

TEST_F(ArchiveAdd, AnEmptiedPasswordKeepsTheEarlierOptions) {
  Put("in/f.txt", "secret text");
  auto a = Make();
  a->SetPassword("first");
  a->NewArchive(Variant(Dos("one.zip")), Variant::Missing());
  a->Add(Variant(Dos("in/f.txt")), Variant::Missing(), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  a->SetPassword("");
  // A ZIP made next still gets the options built for the first password...
  a->NewArchive(Variant(Dos("two.zip")), Variant::Missing());
  a->Add(Variant(Dos("in/f.txt")), Variant::Missing(), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  auto b = Make();
  b->OpenArchive(Variant(Dos("two.zip")));
  EXPECT_EQ(ThrownError([&] { b->Extract(Variant("*"), Variant(Dos("x")), Variant::Missing()); }).number, 0x0A06);
  b->SetPassword("first");
  b->OpenArchive(Variant(Dos("two.zip")));
  b->Extract(Variant("*"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/f.txt")), "secret text");
  // ...while a TAR, which has no such method, is written in the clear.
  a->NewArchive(Variant(Dos("three.tar")), Variant::Missing());
  a->Add(Variant(Dos("in/f.txt")), Variant::Missing(), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  EXPECT_THAT(Content(Native("three.tar")), HasSubstr("secret text"));
}

TEST_F(ArchiveAdd, LinksInsideFoldersAreNotFollowedAndTheArchiveSkipsItself) {
  Put("src/real.txt", "real");
  Put("outside/secret.txt", "secret");
  ASSERT_EQ(::symlink(Native("outside").c_str(), Native("src/linkdir").c_str()), 0);
  ASSERT_EQ(::symlink(Native("outside/secret.txt").c_str(), Native("src/link.txt").c_str()), 0);
  auto a = Make();
  a->NewArchive(Variant(Dos("src/self.zip")), Variant::Missing());
  a->Add(Variant(Dos("src/*")), Variant(true), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  EXPECT_EQ(Listing(*a), (std::vector<std::string>{"real.txt"}));
  a->OpenArchive(Variant(Dos("src/self.zip")));
  a->Add(Variant(Dos("src/*")), Variant(true), Variant::Missing());
  EXPECT_EQ(Listing(*a), (std::vector<std::string>{"real.txt"})) << "the open archive is not added into itself";
  // A link the page names itself is followed.
  a->NewArchive(Variant(Dos("named.zip")), Variant::Missing());
  a->Add(Variant(Dos("src/link.txt")), Variant::Missing(), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  a->Extract(Variant("link.txt"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/link.txt")), "secret");
}

TEST_F(ArchiveAdd, PipesAreNeitherOpenedNorAdded) {
  ASSERT_EQ(::mkfifo(Native("pipe").c_str(), 0600), 0);
  auto a = Make();
  // Neither call may block waiting for a writer.
  EXPECT_EQ(ThrownError([&] { a->OpenArchive(Variant(Dos("pipe"))); }).number, 0x0A01);
  a->NewArchive(Variant(Dos("p.zip")), Variant::Missing());
  EXPECT_EQ(ThrownError([&] { a->Add(Variant(Dos("pipe")), Variant::Missing(), Variant::Missing()); }).number, 0x0A07);
}

TEST_F(ArchiveAdd, DeleteAndSaveInPlaceKeepTheRest) {
  Put("src/a.txt", "aaa");
  Put("src/d/b.txt", "bbb");
  Put("src/d/c.txt", "ccc");
  auto a = Make();
  a->NewArchive(Variant(Dos("k.zip")), Variant::Missing());
  a->Add(Variant(Dos("src/*")), Variant(true), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  a->OpenArchive(Variant(Dos("k.zip")));
  a->Delete(Variant("d/b.txt"));  // "/" counts as the separator too
  a->SaveArchive(Variant::Missing());
  auto b = Make();
  b->OpenArchive(Variant(Dos("k.zip")));
  EXPECT_EQ(Listing(*b), (std::vector<std::string>{"a.txt", "d/", "d\\c.txt"}));
  b->Delete(Variant("D"));  // a folder goes with its contents
  b->SaveArchive(Variant(Dos("k2.zip")));
  auto c = Make();
  c->OpenArchive(Variant(Dos("k2.zip")));
  EXPECT_EQ(Listing(*c), (std::vector<std::string>{"a.txt"}));
  c->Extract(Variant("*"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/a.txt")), "aaa");
  // The first archive is untouched by the save under another name.
  auto d = Make();
  d->OpenArchive(Variant(Dos("k.zip")));
  EXPECT_EQ(d->Entries()->Count(), 3);
}

TEST_F(ArchiveAdd, AFailedSaveLeavesTheTargetAsItWas) {
  Put("src/a.txt", "aaa");
  Put("src/b.txt", "bbb");
  std::filesystem::create_directories(Native("scratch"));
  auto a = Make();
  a->SetTempDir(Dos("scratch"));
  a->NewArchive(Variant(Dos("f.zip")), Variant::Missing());
  a->Add(Variant(Dos("src/a.txt")), Variant::Missing(), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  std::string saved = Content(Native("f.zip"));
  a->Add(Variant(Dos("src/b.txt")), Variant::Missing(), Variant::Missing());
  std::filesystem::remove(Native("src/b.txt"));
  Error e = ThrownError([&] { a->SaveArchive(Variant::Missing()); });
  EXPECT_EQ(e.number, 2);
  EXPECT_EQ(Content(Native("f.zip")), saved);
  EXPECT_TRUE(std::filesystem::is_empty(Native("scratch"))) << "the half-written file is gone";
  // The archive still holds what it held; with the file back, the save works.
  Put("src/b.txt", "bbb2");
  a->SaveArchive(Variant::Missing());
  auto b = Make();
  b->OpenArchive(Variant(Dos("f.zip")));
  b->Extract(Variant("b.txt"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/b.txt")), "bbb2");
}

}  // namespace
}  // namespace torvane::test
