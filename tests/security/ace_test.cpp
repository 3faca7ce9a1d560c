// ACE and cACE: what they ask the system utility to write, and when not.
#include "security/ace.h"

#include <gtest/gtest.h>

#include "automation/progid.h"
#include "security/ace_collection.h"
#include "security/acl_holder.h"
#include "security/recording_utility.h"
#include "support/memhost.h"
#include "support/thrown_error.h"

namespace torvane {
namespace {

using test::ThrownError;
using test::RecordingUtility;

using Calls = std::vector<std::string>;

std::shared_ptr<AceCollection> NewCollection(const std::string& path, bool isDirectory) {
  auto c = std::static_pointer_cast<AceCollection>(AceCollection::Create());
  c->SetPath(path);
  c->SetIsDirectory(isDirectory);
  return c;
}

std::shared_ptr<Ace> NewAce(const std::string& path, const std::string& trustee, bool isDirectory) {
  auto a = std::static_pointer_cast<Ace>(Ace::Create());
  a->SetPath(path);
  a->SetTrusteeName(trustee);
  a->SetIsDirectory(isDirectory);
  return a;
}

// An owner that records its cache resets (what File and Directory do via AclHolder).
class FakeOwner : public Object, public AceOwner {
 public:
  const ClassInfo& classInfo() const override {
    static const ClassInfo info = ClassInfo::Make<FakeOwner>("FakeOwner", {});
    return info;
  }
  void ResetAces() override {
    ++resets;
    collection->SetLoading(true);
    while (collection->Count() > 0) collection->Remove(Variant(int32_t{1}));
    collection->SetLoading(false);
  }
  std::shared_ptr<AceCollection> collection;
  int resets = 0;
};

TEST(Ace, PermissionsZeroRevokesOtherValuesSetWithFlagTwo) {
  RecordingUtility::Scope rec;
  auto a = NewAce("C:\\d\\f.txt", "bob", false);
  a->LetPermissions(0);
  a->LetPermissions(1);
  a->LetPermissions(63);
  a->LetPermissions(3);
  EXPECT_EQ(rec.state->calls, (Calls{"RevokeAce C:\\d\\f.txt bob", "SetAce C:\\d\\f.txt bob 0x120089 2",
                                     "SetAce C:\\d\\f.txt bob 0x1F01FF 2", "SetAce C:\\d\\f.txt bob 0x12019F 2"}));
  EXPECT_EQ(a->Permissions(), 3);
}

TEST(Ace, FailedWriteKeepsTheOldValueAndRaisesTheSystemError) {
  RecordingUtility::Scope rec;
  auto a = NewAce("C:\\f.txt", "bob", false);
  a->LetPermissions(1);
  rec.state->failures.emplace("SetAce", Error(1, "Operation not permitted"));
  EXPECT_EQ(ThrownError([&] { a->LetPermissions(2); }).number, 1);
  EXPECT_EQ(a->Permissions(), 1);
}

TEST(Ace, SuppressWriteOnlyStores) {
  RecordingUtility::Scope rec;
  auto a = NewAce("C:\\d\\", "bob", true);
  a->SetSuppressWrite(true);
  a->LetPermissions(7);
  a->LetInheritance(8);
  EXPECT_TRUE(rec.state->calls.empty());
  EXPECT_EQ(a->Permissions(), 7);
  EXPECT_EQ(a->Inheritance(), 8);
}

TEST(Ace, InheritanceWritesFlagNineOnFoldersOnly) {
  RecordingUtility::Scope rec;
  NewAce("C:\\d\\", "bob", true)->LetInheritance(12);
  NewAce("C:\\d\\", "bob", true)->LetInheritance(9);
  auto onFile = NewAce("C:\\f.txt", "bob", false);
  onFile->LetInheritance(8);
  EXPECT_EQ(rec.state->calls, (Calls{"SetAce C:\\d\\ bob 0xC0000000 9", "SetAce C:\\d\\ bob 0x10000000 9"}));
  EXPECT_EQ(onFile->Inheritance(), 8);
}

TEST(Ace, LateBoundMembersAndXml) {
  RecordingUtility::Scope rec;
  auto a = NewAce("C:\\f.txt", "Everyone", false);
  a->SetTrusteeType(2);
  a->Invoke("permissions", CallKind::Let, Args{Variant("5")});  // converted like any automation value
  EXPECT_EQ(a->Get("Permissions").toInt32(), 5);
  Args none;
  EXPECT_EQ(a->InvokeDispId(kDispIdDefault, CallKind::Get, none).toInt32(), 5);
  EXPECT_EQ(a->Get("TrusteeName").toString(), "Everyone");
  EXPECT_EQ(a->ToXML(Variant::Missing(), Variant::Missing()),
            "<ace><permissions>5</permissions><trusteename>Everyone</trusteename><trusteetype>2</trusteetype></ace>");
  EXPECT_EQ(ThrownError([&] { a->Invoke("Inheritance", CallKind::Get, Args{}); }).number, 438);  // no getter
  test::MemHost host;
  test::MemHost::Scope page(host);
  EXPECT_EQ(a->Invoke("OnStartPage", CallKind::Method, Args{Variant("anything")}).type(), VType::Empty);
}

TEST(AceCollection, AddOnAFolderWithoutInheritanceWritesTwiceThenTheOwnerResets) {
  RecordingUtility::Scope rec;
  auto owner = std::make_shared<FakeOwner>();
  owner->collection = NewCollection("C:\\d\\", true);
  owner->collection->SetOwnerDirectory(owner);
  auto ace = owner->collection->Add(Variant("bob"), Variant(1), Variant::Missing());
  EXPECT_EQ(rec.state->calls, (Calls{"SetAce C:\\d\\ bob 0x10000000 9", "SetAce C:\\d\\ bob 0x120089 2"}));
  EXPECT_EQ(owner->resets, 1);
  EXPECT_EQ(owner->collection->Count(), 0);
  // The returned entry stays usable and writes again.
  auto a = std::static_pointer_cast<Ace>(ace);
  EXPECT_FALSE(a->SuppressWrite());
  EXPECT_EQ(a->TrusteeType(), 0);
  a->LetPermissions(2);
  EXPECT_EQ(rec.state->calls.back(), "SetAce C:\\d\\ bob 0x120116 2");
}

TEST(AceCollection, AddOnAFileWritesOnceWithTheGivenInheritanceStored) {
  RecordingUtility::Scope rec;
  auto owner = std::make_shared<FakeOwner>();
  owner->collection = NewCollection("C:\\f.txt", false);
  owner->collection->SetOwnerFile(owner);
  auto a = std::static_pointer_cast<Ace>(owner->collection->Add(Variant("bob"), Variant(0), Variant(4)));
  EXPECT_EQ(rec.state->calls, (Calls{"RevokeAce C:\\f.txt bob"}));
  EXPECT_EQ(a->Inheritance(), 4);
  EXPECT_EQ(owner->resets, 1);
}

TEST(AceCollection, WhileLoadingNothingIsWrittenAndTheEntryStays) {
  RecordingUtility::Scope rec;
  auto c = NewCollection("C:\\d\\", true);
  c->SetLoading(true);
  auto a = std::static_pointer_cast<Ace>(c->Add(Variant("bob"), Variant(63), Variant(2)));
  c->Remove(Variant("bob"));
  EXPECT_TRUE(rec.state->calls.empty());
  EXPECT_EQ(a->Permissions(), 63);
  EXPECT_EQ(c->Count(), 0);
}

TEST(AceCollection, DuplicateTrusteeFailsAndWritesNothing) {
  RecordingUtility::Scope rec;
  auto c = NewCollection("C:\\f.txt", false);
  c->SetLoading(true);
  c->Add(Variant("Bob"), Variant(1), Variant::Missing());
  c->SetLoading(false);
  EXPECT_EQ(ThrownError([&] { c->Add(Variant("BOB"), Variant(2), Variant::Missing()); }).number, 457);
  EXPECT_TRUE(rec.state->calls.empty());
  EXPECT_EQ(c->Count(), 1);
}

TEST(AceCollection, ExistsIgnoresLetterCaseAndFailuresCountAsFalse) {
  RecordingUtility::Scope rec;
  auto c = NewCollection("C:\\f.txt", false);
  c->SetLoading(true);
  c->Add(Variant("Everyone"), Variant(1), Variant::Missing());
  EXPECT_TRUE(c->Exists(Variant("EVERYONE")));
  EXPECT_TRUE(c->Exists(Variant("everyone")));
  EXPECT_FALSE(c->Exists(Variant("Everybody")));
  EXPECT_FALSE(c->Exists(Variant(5)));  // a position out of range
  EXPECT_FALSE(c->Exists(Variant::Null()));
}

TEST(AceCollection, FailedAddLeavesNoEntryBehind) {
  RecordingUtility::Scope rec;
  auto owner = std::make_shared<FakeOwner>();
  owner->collection = NewCollection("C:\\d\\", true);
  owner->collection->SetOwnerDirectory(owner);
  // The first write (the inherited entry) fails: nothing was written.
  rec.state->failures.emplace("SetAce", Error(22, "No user or group is named ghost."));
  EXPECT_EQ(ThrownError([&] { owner->collection->Add(Variant("ghost"), Variant(1), Variant::Missing()); }).number, 22);
  EXPECT_FALSE(owner->collection->Exists(Variant("ghost")));
  EXPECT_EQ(owner->resets, 0);
  // A permission that is not a number fails after the inherited entry was written:
  // the owner lists afresh so that it shows what is on disk.
  rec.state->failures.clear();
  EXPECT_EQ(ThrownError([&] { owner->collection->Add(Variant("bob"), Variant("lots"), Variant::Missing()); }).number, 13);
  EXPECT_FALSE(owner->collection->Exists(Variant("bob")));
  EXPECT_EQ(owner->resets, 1);
  // An entry added without a key (an empty trustee) goes too.
  rec.state->failures.emplace("SetAce", Error(22, "No user or group is named ."));
  EXPECT_EQ(ThrownError([&] { owner->collection->Add(Variant(), Variant(1), Variant::Missing()); }).number, 22);
  EXPECT_EQ(owner->collection->Count(), 0);
}

TEST(AceCollection, RemoveWritesOutsideLoadingAndKeepsTheOthers) {
  RecordingUtility::Scope rec;
  auto c = NewCollection("C:\\f.txt", false);
  c->SetLoading(true);
  c->Add(Variant("alice"), Variant(1), Variant::Missing());
  c->Add(Variant("bob"), Variant(3), Variant::Missing());
  c->SetLoading(false);
  c->Remove(Variant(int32_t{1}));
  EXPECT_EQ(rec.state->calls, (Calls{"RemoveAce C:\\f.txt alice"}));
  ASSERT_EQ(c->Count(), 1);
  EXPECT_EQ(c->AceAt(Variant(int32_t{1}))->TrusteeName(), "bob");
  EXPECT_EQ(ThrownError([&] { c->Remove(Variant("nobody")); }).number, 5);
  EXPECT_EQ(ThrownError([&] { c->Remove(Variant(int32_t{4})); }).number, 9);
  // A failing removal keeps the entry.
  rec.state->failures.emplace("RemoveAce", Error(1, "Operation not permitted"));
  EXPECT_EQ(ThrownError([&] { c->Remove(Variant("bob")); }).number, 1);
  EXPECT_EQ(c->Count(), 1);
}

TEST(AceCollection, LateBoundItemCountEnumAndXml) {
  RecordingUtility::Scope rec;
  auto c = NewCollection("C:\\f.txt", false);
  c->SetLoading(true);
  c->Add(Variant("alice"), Variant(1), Variant::Missing());
  c->Add(Variant("bob"), Variant(63), Variant::Missing());
  c->SetLoading(false);
  EXPECT_EQ(c->Get("Count").toInt32(), 2);
  Args key{Variant("BOB")};
  EXPECT_EQ(c->InvokeDispId(kDispIdDefault, CallKind::Get, key).toObject()->Get("Permissions").toInt32(), 63);
  Args none;
  auto e = std::static_pointer_cast<Enumerator>(c->InvokeDispId(kDispIdNewEnum, CallKind::Get, none).toObject());
  Variant v;
  std::vector<std::string> names;
  while (e->Next(v)) names.push_back(v.toObject()->Get("TrusteeName").toString());
  EXPECT_EQ(names, (std::vector<std::string>{"alice", "bob"}));
  EXPECT_EQ(c->ToXML(Variant("permissions"), Variant("<x/>")),
            "<aces><ace><permissions>1</permissions><trusteename>alice</trusteename><trusteetype>0</trusteetype></ace>"
            "<ace><permissions>63</permissions><trusteename>bob</trusteename><trusteetype>0</trusteetype></ace><x/></aces>");
  EXPECT_EQ(NewCollection("", false)->ToXML(Variant::Missing(), Variant::Missing()), "<aces></aces>");
}

TEST(AceCollection, CreatableByProgIdWithConstants) {
  EXPECT_EQ(CreateObject("Torvane.ACE")->classInfo().name(), "ACE");
  EXPECT_EQ(CreateObject("torvane.cace")->classInfo().name(), "cACE");
  std::map<std::string, int32_t> want = {{"TV_PERMIT_FULLCONTROL", 63}, {"TV_INHERIT_READ", 8},
                                         {"TV_TRUSTEE_IS_GROUP", 2},   {"NT_DENY", 3},
                                         {"TV_REVOKE_ACCESS", 4},      {"TV_LOGIN_SERVICE", 5}};
  for (const auto& c : ConstantTable())
    if (want.count(c.name)) {
      EXPECT_EQ(c.value, want[c.name]) << c.name;
      want.erase(c.name);
    }
  EXPECT_TRUE(want.empty());
}

}  // namespace
}  // namespace torvane
