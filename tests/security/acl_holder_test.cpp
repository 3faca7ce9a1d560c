// The owner and ACL members File and Directory share, driven through a small
// stand-in owner: listing once per cache, the name buffer rules, failures and
// their trace lines, 9027, the owner members, and real files at the end.
#include "security/acl_holder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/paths.h"
#include "security/ace.h"
#include "security/ace_collection.h"
#include "security/recording_utility.h"
#include "support/accounts.h"
#include "support/memhost.h"
#include "support/thrown_error.h"

namespace torvane {
namespace {

using test::ThrownError;
using test::RecordingUtility;
using test::ScriptedAce;
using test::TempDir;

using Lines = std::vector<std::string>;

// Plays File (isDirectoryClass false) or Directory (true) around one AclHolder.
class Holder : public Object, public AceOwner {
 public:
  static const ClassInfo& Class() {
    static const ClassInfo info = ClassInfo::Make<Holder>(
        "Holder", {
                      {"List", MemberKind::Method, {}, [](Holder& h, Args&) { h.List(); return Variant(); }},
                      {"ListAces", MemberKind::Method, {}, [](Holder& h, Args&) { h.List(); return Variant(); }},
                  });
    return info;
  }
  const ClassInfo& classInfo() const override { return Class(); }
  void ResetAces() override { acl.Reset(); }
  void List() {
    ++listCalls;
    acl.List(shared_from_this(), target);
  }
  std::shared_ptr<AceCollection> Aces() {
    return std::static_pointer_cast<AceCollection>(acl.Aces(shared_from_this(), target, exists).toObject());
  }

  AclHolder acl;
  SecurityTarget target;
  bool exists = true;
  int listCalls = 0;
};

class AclHolderTest : public ::testing::Test {
 protected:
  std::shared_ptr<Holder> Make(bool directoryClass, const std::string& path, const std::string& display) {
    auto h = std::make_shared<Holder>();
    h->target.isDirectoryClass = directoryClass;
    h->target.physicalPath = path;
    h->target.displayName = display;
    h->target.isDirectory = directoryClass;
    h->target.channel = OpenTraceLog(log);
    return h;
  }
  Lines Trace() {
    Lines out = test::TraceMessages(log);
    out.erase(out.begin());  // "TraceLog Opened"
    return out;
  }

  TempDir dir;
  std::string log = dir / "trace.log";
};

TEST_F(AclHolderTest, ListsOnceAndReturnsTheCollectionWithItsLines) {
  RecordingUtility::Scope rec;
  rec.state->listing = {{"root", 0x1F01FF, 2, 0, 1}, {"Everyone", 0x120089, 2, 0, 2}};
  auto h = Make(false, "C:\\d\\f.txt", "f.txt");
  auto c = h->Aces();
  auto again = h->Aces();
  EXPECT_EQ(c, again);
  EXPECT_EQ(h->listCalls, 2);  // asked twice, read once
  EXPECT_EQ(rec.state->calls, (std::vector<std::string>{"BeginAceList C:\\d\\f.txt", "EndAceList"}));
  ASSERT_EQ(c->Count(), 2);
  EXPECT_EQ(c->AceAt(Variant("root"))->Permissions(), 63);
  EXPECT_EQ(c->AceAt(Variant("Everyone"))->Permissions(), 1);
  EXPECT_EQ(c->AceAt(Variant("Everyone"))->TrusteeType(), 2);
  EXPECT_FALSE(c->Loading());
  EXPECT_EQ(c->Path(), "C:\\d\\f.txt");
  EXPECT_EQ(Trace(), (Lines{"File.FileListAces - FileListAces f.txt.", "File.GetACEs - Returned ACE collection for f.txt.",
                            "File.GetACEs - Returned ACE collection for f.txt."}));
}

TEST_F(AclHolderTest, DirectoryMessagesAndFolderCollection) {
  RecordingUtility::Scope rec;
  rec.state->listing = {{"bob", 0x120089, 2, 2, 1}};
  auto h = Make(true, "C:\\d\\", "/uploads");
  auto c = h->Aces();
  EXPECT_TRUE(c->IsDirectory());
  EXPECT_EQ(c->AceAt(Variant("bob"))->Inheritance(), 2);
  EXPECT_EQ(Trace(), (Lines{"Directory.FileListAces - DirectoryListAces /uploads.",
                            "File.GetACEs - Returned ACE collection for /uploads."}));
}

TEST_F(AclHolderTest, AllowThenDenyIsOneEntryAndTheLastWins) {
  RecordingUtility::Scope rec;
  rec.state->listing = {{"bob", 0x120089, 2, 0, 1}, {"BOB", 0x120089, 3, 0, 1}, {"eve", 0x120089, 3, 0, 1},
                        {"eve", 0x12019F, 2, 0, 1}};
  auto c = Make(false, "C:\\f", "f")->Aces();
  ASSERT_EQ(c->Count(), 2);
  EXPECT_EQ(c->AceAt(Variant("bob"))->Permissions(), 0);
  EXPECT_EQ(c->AceAt(Variant("eve"))->Permissions(), 3);
  EXPECT_TRUE(rec.state->calls.size() == 2) << "listing writes nothing";
}

TEST_F(AclHolderTest, BlankAndEmptyNamesAreSkipped) {
  RecordingUtility::Scope rec;
  ScriptedAce blank;
  blank.blank = true;
  rec.state->listing = {blank, {"", 0x120089, 2, 0, 1}, {"  padded", 0x120089, 2, 0, 1}};
  auto c = Make(false, "C:\\f", "f")->Aces();
  ASSERT_EQ(c->Count(), 1);
  EXPECT_EQ(c->AceAt(Variant(int32_t{1}))->TrusteeName(), "padded");
}

TEST_F(AclHolderTest, NameWithoutNulFailsAndKeepsWhatWasRead) {
  RecordingUtility::Scope rec;
  ScriptedAce bad{"x", 0x120089, 2, 0, 1};
  bad.withNul = false;
  rec.state->listing = {{"alice", 0x120089, 2, 0, 1}, bad, {"carol", 0x120089, 2, 0, 1}};
  auto h = Make(false, "C:\\f", "f.txt");
  Error e(0, "");
  e = ThrownError([&] { h->Aces(); });
  EXPECT_EQ(e.number, 5);
  EXPECT_EQ(e.description, "Invalid procedure call or argument");
  EXPECT_EQ(rec.state->calls.back(), "EndAceList");
  EXPECT_EQ(Trace(), (Lines{"***Error in File.ListAces *** ListAces for f.txt failed.",
                            "(5) Invalid procedure call or argument"}));
  // The cache counts as read: the next ACEs returns what was read so far.
  auto c = h->Aces();
  EXPECT_EQ(c->Count(), 1);
  EXPECT_TRUE(c->Exists(Variant("alice")));
  EXPECT_EQ(rec.state->calls.size(), 2u);
  // And it is not stuck in loading: an Add writes.
  c->Add(Variant("dave"), Variant(1), Variant::Missing());
  EXPECT_EQ(rec.state->calls.back(), "SetAce C:\\f dave 0x120089 2");
}

TEST_F(AclHolderTest, NegativeNumbersAreReducedToTheirLowWord) {
  RecordingUtility::Scope rec;
  rec.state->failures.emplace("BeginAceList", Error(-2147024891, "Access is denied."));
  auto h = Make(true, "C:\\d\\", "/d");
  Error e(0, "");
  e = ThrownError([&] { h->Aces(); });
  EXPECT_EQ(e.number, 5);  // 0x80070005 & 0xFFFF
  EXPECT_EQ(e.description, "Access is denied.");
  EXPECT_EQ(rec.state->calls, (std::vector<std::string>{"BeginAceList C:\\d\\"}));  // no EndAceList before any entry
  EXPECT_EQ(Trace(), (Lines{"***Error in Directory.ListAces *** ListAces for /d failed.", "(5) Access is denied."}));
}

TEST_F(AclHolderTest, MissingObjectIs9027WithoutListing) {
  RecordingUtility::Scope rec;
  auto h = Make(true, "C:\\nothere\\", "/nothere");
  h->exists = false;
  Error e(0, "");
  e = ThrownError([&] { h->Aces(); });
  EXPECT_EQ(e.number, 9027);
  EXPECT_EQ(e.description, "File /nothere does not exist.");
  EXPECT_TRUE(rec.state->calls.empty());
  EXPECT_TRUE(Trace().empty());
}

TEST_F(AclHolderTest, ResetEmptiesTheHeldCollectionAndDropStartsANewOne) {
  RecordingUtility::Scope rec;
  rec.state->listing = {{"bob", 0x120089, 2, 0, 1}};
  auto h = Make(false, "C:\\f", "f");
  auto first = h->Aces();
  ASSERT_EQ(first->Count(), 1);
  // Drop: the page's old collection keeps its entries; a new one is read.
  h->acl.Drop();
  auto second = h->Aces();
  EXPECT_NE(first, second);
  EXPECT_EQ(first->Count(), 1);
  EXPECT_EQ(second->Count(), 1);
  // Add outside loading: the owner resets, the held collection is empty, the
  // next read lists again into the same collection.
  second->Add(Variant("eve"), Variant(2), Variant::Missing());
  EXPECT_EQ(second->Count(), 0);
  EXPECT_FALSE(h->acl.listed());
  auto third = h->Aces();
  EXPECT_EQ(third, second);
  EXPECT_EQ(third->Count(), 1);
  int begins = 0;
  for (const auto& c : rec.state->calls) begins += c.rfind("BeginAceList", 0) == 0;
  EXPECT_EQ(begins, 3);
}

TEST_F(AclHolderTest, OwnerReadCutsAtNulAndFailuresAreTraced) {
  RecordingUtility::Scope rec;
  rec.state->owner = "BUILTIN\\Administrators";
  auto h = Make(false, "C:\\f", "f.txt");
  EXPECT_EQ(h->acl.GetOwner(h->target), "BUILTIN\\Administrators");
  h->acl.LetOwner(h->target, "bob");
  EXPECT_EQ(h->acl.owner(), "bob");
  EXPECT_EQ(rec.state->calls, (std::vector<std::string>{"GetOwner C:\\f", "SetOwner C:\\f bob"}));
  EXPECT_TRUE(Trace().empty());  // no success lines

  rec.state->failures.emplace("SetOwner", Error(1, "Operation not permitted"));
  EXPECT_EQ(ThrownError([&] { h->acl.LetOwner(h->target, "eve"); }).number, 1);
  EXPECT_EQ(h->acl.owner(), "bob");
  rec.state->ownerWithoutNul = true;
  EXPECT_EQ(ThrownError([&] { h->acl.GetOwner(h->target); }).number, 5);
  EXPECT_EQ(Trace(), (Lines{"***Error in File.LetOwner *** - Let Owner of f.txt Failed.", "(1) Operation not permitted",
                            "***Error in File.LetOwner *** - Let Owner of f.txt Failed.",
                            "(5) Invalid procedure call or argument"}));
}

// The same members over the Linux utility and real files.
TEST_F(AclHolderTest, RealFolderListingAddAndOwner) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for throwaway accounts";
  test::ThrowawayUser bob("ha");
  std::string folder = dir / "shared";
  ::mkdir(folder.c_str(), 0750);
  auto h = Make(true, ToDosPath(folder) + "\\", "/shared");
  auto c = h->Aces();
  EXPECT_TRUE(c->Exists(Variant("root")));
  EXPECT_TRUE(c->Exists(Variant("everyone")));
  EXPECT_FALSE(c->Exists(Variant(bob.name())));
  c->Add(Variant(bob.name()), Variant(int32_t{63}), Variant::Missing());
  EXPECT_EQ(c->Count(), 0);
  c = h->Aces();
  ASSERT_TRUE(c->Exists(Variant(bob.name())));
  EXPECT_EQ(c->AceAt(Variant(bob.name()))->Permissions(), 63);
  EXPECT_EQ(c->AceAt(Variant(bob.name()))->TrusteeType(), 1);
  // Permissions 0 revokes; the next listing no longer has the trustee.
  c->AceAt(Variant(bob.name()))->LetPermissions(0);
  h->acl.Reset();
  EXPECT_FALSE(h->Aces()->Exists(Variant(bob.name())));

  EXPECT_EQ(h->acl.GetOwner(h->target), "root");
  h->acl.LetOwner(h->target, bob.name());
  struct stat st {};
  ::stat(folder.c_str(), &st);
  EXPECT_EQ(st.st_uid, bob.uid());
  EXPECT_EQ(h->acl.GetOwner(h->target), bob.name());
}

}  // namespace
}  // namespace torvane
