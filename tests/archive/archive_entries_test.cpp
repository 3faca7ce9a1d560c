// The listing: ArchiveEntry, cArchiveEntry, and Archive.Entries refreshed
// lazily and in place.
#include "archive_fixture.h"

#include "automation/progid.h"

namespace torvane::test {
namespace {

using ::testing::HasSubstr;

using ArchiveEntries = ArchiveTest;

TEST_F(ArchiveEntries, FolderComesRightBeforeItsContentsEvenWhenStoredApart) {
  if (!HaveTool("tar")) GTEST_SKIP() << "tar is not installed";
  Put("t/d/x.txt", "x");
  Put("t/e.txt", "e");
  Put("t/d/y.txt", "yy");
  auto r = RunTool("cd " + Quote(Native("t")) + " && tar -cf ../mixed.tar d/x.txt e.txt d/y.txt");
  ASSERT_EQ(r.status, 0) << r.output;
  auto a = Make();
  a->OpenArchive(Variant(Dos("mixed.tar")));
  // "d" is only implied by its files; it is still listed, as a folder, first.
  EXPECT_EQ(Listing(*a), (std::vector<std::string>{"d/", "d\\x.txt", "d\\y.txt", "e.txt"}));
  auto y = a->Entries()->Item(Variant("D\\Y.TXT")).as<ArchiveEntry>();
  EXPECT_EQ(y->Path(), "d\\y.txt");
  EXPECT_EQ(y->UnCompressedSize(), 2);
  EXPECT_EQ(y->CompressedSize(), 2);
  EXPECT_EQ(ThrownError([&] { a->Entries()->Item(Variant("d\\z.txt")); }).number, 5);
  EXPECT_EQ(ThrownError([&] { a->Entries()->Item(Variant(5)); }).number, 9);
}

TEST_F(ArchiveEntries, ListedOnceUntilAChangeAndSeenThroughAnOldReference) {
  Put("in/one.txt", "1");
  Put("in/two.txt", "22");
  auto a = Make();
  a->NewArchive(Variant(Dos("l.zip")), Variant::Missing());
  a->Add(Variant(Dos("in/one.txt")), Variant::Missing(), Variant::Missing());
  auto kept = a->Entries();
  ObjectRef first = kept->Item(Variant(1)).toObject();
  EXPECT_FALSE(a->EntriesStale());
  // A second read lists nothing anew: the very same entry object is there.
  EXPECT_EQ(a->Entries()->Item(Variant(1)).toObject(), first);
  EXPECT_EQ(a->Entries(), kept);

  a->Add(Variant(Dos("in/two.txt")), Variant::Missing(), Variant::Missing());
  EXPECT_TRUE(a->EntriesStale());
  EXPECT_EQ(kept->Count(), 1) << "refreshed on the next read, not before";
  EXPECT_EQ(a->Entries(), kept) << "one collection for the Archive's life";
  EXPECT_EQ(kept->Count(), 2);
  EXPECT_NE(kept->Item(Variant(1)).toObject(), first);
  // The old entry object keeps its old values.
  EXPECT_EQ(std::static_pointer_cast<ArchiveEntry>(first)->Path(), "one.txt");

  a->Delete(Variant("ONE.TXT"));
  EXPECT_EQ(Listing(*a), (std::vector<std::string>{"two.txt"}));
  EXPECT_EQ(kept->Count(), 1);
}

TEST_F(ArchiveEntries, TwoPathsDifferingOnlyInCaseCannotBeListed) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  Put("c/Read.me", "upper");
  Put("c/read.me", "lower");
  Put("c/other", "o");
  auto r = RunTool("cd " + Quote(Native("c")) + " && zip -q ../dup.zip other Read.me read.me");
  ASSERT_EQ(r.status, 0) << r.output;
  Put("in/keep.txt", "k");
  {
    auto a = TracedArchive("trace.log");
    a->NewArchive(Variant(Dos("n.zip")), Variant::Missing());
    a->Add(Variant(Dos("in/keep.txt")), Variant::Missing(), Variant::Missing());
    auto kept = a->Entries();
    a->OpenArchive(Variant(Dos("dup.zip")));
    Error e = ThrownError([&] { a->Entries(); });
    EXPECT_EQ(e.number, 457);
    EXPECT_TRUE(a->EntriesStale());
    // What was listed before the duplicate stays in the collection.
    ASSERT_EQ(kept->Count(), 2);
    EXPECT_EQ(kept->Item(Variant(2)).as<ArchiveEntry>()->Path(), "Read.me");
    // Extract refreshes first, and fails the same way.
    EXPECT_EQ(ThrownError([&] { a->Extract(Variant("*"), Variant(Dos("x")), Variant::Missing()); }).number, 457);
  }
  std::string dup = "(457) " + std::string(PlatformErrorText(457));
  EXPECT_EQ(TraceMessages(Native("trace.log")),
            (std::vector<std::string>{"TraceLog Opened", "File.SetTraceFile - Set TraceFile object.",
                                      "***Error in Archive.IterateEntries***.", dup,
                                      "***Error in Archive.GetEntries***.", dup,
                                      "***Error in Archive.IterateEntries***.", dup,
                                      "***Error in Archive.Extract***.", dup, "Archive.Class_Terminate Called"}));
}

TEST_F(ArchiveEntries, PasswordSetAfterOpeningHasNoEffectOnTheOpenArchive) {
  Put("in/secret.txt", "classified");
  auto w = Make();
  w->SetPassword("pw");
  w->NewArchive(Variant(Dos("s.zip")), Variant::Missing());
  w->Add(Variant(Dos("in/secret.txt")), Variant::Missing(), Variant::Missing());
  w->SaveArchive(Variant::Missing());

  auto a = Make();
  a->OpenArchive(Variant(Dos("s.zip")));
  a->SetPassword("pw");
  Error e = ThrownError([&] { a->Extract(Variant("secret.txt"), Variant(Dos("x")), Variant::Missing()); });
  EXPECT_EQ(e.number, 0x0A06) << e.description;
  EXPECT_FALSE(FileExists(Native("x/secret.txt")));
  a->OpenArchive(Variant(Dos("s.zip")));  // now it is applied
  a->Extract(Variant("secret.txt"), Variant(Dos("x")), Variant::Missing());
  EXPECT_EQ(Content(Native("x/secret.txt")), "classified");

  // The same on creation: a password set after NewArchive does not encrypt.
  auto p = Make();
  p->NewArchive(Variant(Dos("plain.zip")), Variant::Missing());
  p->SetPassword("late");
  p->Add(Variant(Dos("in/secret.txt")), Variant::Missing(), Variant::Missing());
  p->SaveArchive(Variant::Missing());
  auto q = Make();
  q->OpenArchive(Variant(Dos("plain.zip")));
  q->Extract(Variant("*"), Variant(Dos("y")), Variant::Missing());
  EXPECT_EQ(Content(Native("y/secret.txt")), "classified");
}

TEST_F(ArchiveEntries, EntryAndCollectionRenderAsXml) {
  auto e = ArchiveEntry::New();
  e->SetPath("docs\\a&b.txt");
  e->SetCompressedSize(10);
  e->SetUnCompressedSize(25);
  e->SetIsDirectory(false);
  EXPECT_EQ(e->ToXML(Variant::Missing(), Variant::Missing()),
            "<archiveentry><compressedsize>10</compressedsize><isdirectory>False</isdirectory>"
            "<path>docs\\a&amp;b.txt</path><uncompressedsize>25</uncompressedsize></archiveentry>");
  auto c = CArchiveEntry::New();
  EXPECT_EQ(c->ToXML(Variant("path"), Variant::Missing()), "<entries></entries>");
  c->Add(Variant(ObjectRef(e)), Variant("docs\\a&b.txt"));
  EXPECT_EQ(ThrownError([&] { c->Add(Variant(ObjectRef(e)), Variant("DOCS\\A&B.TXT")); }).number, 457);
  EXPECT_EQ(c->ToXML(Variant("path"), Variant("<end/>")),
            "<entries>" + e->ToXML(Variant::Missing(), Variant::Missing()) + "<end/></entries>");
  c->Remove(Variant("docs\\A&B.txt"));
  EXPECT_EQ(c->Count(), 0);
}

TEST_F(ArchiveEntries, AnEmptyArchiveHasNoEntries) {
  auto a = Make();
  a->NewArchive(Variant(Dos("e.zip")), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  auto b = Make();
  b->OpenArchive(Variant(Dos("e.zip")));
  EXPECT_EQ(b->Entries()->Count(), 0);
  EXPECT_EQ(b->Entries()->ToXML(Variant::Missing(), Variant::Missing()), "<entries></entries>");
  if (HaveTool("7z")) {
    EXPECT_EQ(RunTool("7z t " + Quote(Native("e.zip"))).status, 0);
  }
  if (HaveTool("unzip")) {  // unzip's own word for an empty, valid archive
    EXPECT_THAT(RunTool("unzip -t " + Quote(Native("e.zip"))).output, HasSubstr("zipfile is empty"));
  }
  a->NewArchive(Variant(Dos("e.tar")), Variant::Missing());
  a->SaveArchive(Variant::Missing());
  b->OpenArchive(Variant(Dos("e.tar")));
  EXPECT_EQ(b->ArchiveType(), 21);
  EXPECT_EQ(b->Entries()->Count(), 0);
}

TEST_F(ArchiveEntries, PagesCanCreateEmptyEntriesAndEnumerateCollections) {
  ObjectRef e = CreateObject("Torvane.ArchiveEntry");
  EXPECT_EQ(e->Get("Path").toString(), "");
  EXPECT_EQ(e->Get("CompressedSize").toInt32(), 0);
  EXPECT_FALSE(e->Get("IsDirectory").toBool());
  ObjectRef c = CreateObject("Torvane.cArchiveEntry");
  c->Invoke("Add", CallKind::Method, Args{Variant(e), Variant("k")});
  auto en = std::dynamic_pointer_cast<Enumerator>(c->Get("NewEnum").toObject());
  ASSERT_TRUE(en);
  Variant v;
  ASSERT_TRUE(en->Next(v));
  EXPECT_EQ(v.toObject(), e);
  EXPECT_FALSE(en->Next(v));
}

}  // namespace
}  // namespace torvane::test
