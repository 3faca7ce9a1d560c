// The owner and ACL members through Directory, late-bound as a page drives
// them, over real folders: the once-per-cache listing and what drops it, the
// two writes of Add on a folder, 9027 for a missing folder, owners and ToXML.
#include <sys/stat.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "dirs/directory.h"
#include "files/file.h"
#include "support/accounts.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using test::ThrownError;
using test::CommandOutput;
using test::ThrowawayUser;

using DirectorySecurity = test::PageTest;

ObjectRef Item(const ObjectRef& aces, const std::string& key) {
  return aces->Invoke("Item", CallKind::Get, Args{Variant(key)}).toObject();
}

bool Has(const ObjectRef& aces, const std::string& key) {
  return aces->Invoke("Exists", CallKind::Method, Args{Variant(key)}).toBool();
}

std::shared_ptr<Directory> At(const std::string& path) {
  auto d = Directory::New();
  d->Invoke("Path", CallKind::Let, Args{Variant(path)});
  return d;
}

TEST_F(DirectorySecurity, AcesOfAMissingFolderIs9027WithTheWordFile) {
  auto d = At(Dos("nothere"));
  Traced(*d);
  Error e = ThrownError([&] { d->Get("ACEs"); });
  EXPECT_EQ(e.number, 9027);
  EXPECT_EQ(e.description, "File " + Dos("nothere") + "\\ does not exist.");
  for (const auto& line : Lines()) EXPECT_THAT(line, Not(HasSubstr("ListAces")));
}

TEST_F(DirectorySecurity, ListsOnceUntilTheCacheIsDropped) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for throwaway accounts";
  ThrowawayUser bob("da");
  MakeDir("box");
  auto d = At(Dos("box"));
  Traced(*d);
  ObjectRef first = d->Get("ACEs").toObject();
  EXPECT_FALSE(Has(first, bob.name()));
  ASSERT_EQ(test::RunCommand("setfacl -m u:" + bob.name() + ":rw '" + Native("box") + "'"), 0);
  ObjectRef second = d->Get("ACEs").toObject();
  EXPECT_EQ(second, first);
  EXPECT_FALSE(Has(second, bob.name())) << "read once per cache";
  d->Invoke("Refresh", CallKind::Method, Args{});
  ObjectRef third = d->Get("ACEs").toObject();
  EXPECT_NE(third, first) << "Refresh gives the folder a new collection";
  ASSERT_TRUE(Has(third, bob.name()));
  EXPECT_EQ(Item(third, bob.name())->Get("Permissions").toInt32(), 3);
  EXPECT_FALSE(Has(first, bob.name())) << "the page's old collection keeps its entries";

  std::string path = Dos("box") + "\\";
  int listed = 0, returned = 0;
  for (const auto& line : Lines()) {
    listed += line == "Directory.FileListAces - DirectoryListAces " + path + ".";
    returned += line == "File.GetACEs - Returned ACE collection for " + path + ".";
  }
  EXPECT_EQ(listed, 2);
  EXPECT_EQ(returned, 3);
}

TEST_F(DirectorySecurity, AddWithoutInheritanceWritesBothEntriesAndEmptiesTheCollection) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for throwaway accounts";
  ThrowawayUser bob("db");
  MakeDir("shared");
  auto d = At(Dos("shared"));
  ObjectRef aces = d->Get("ACEs").toObject();
  int32_t before = aces->Get("Count").toInt32();
  EXPECT_GE(before, 3);
  ObjectRef ace = aces->Invoke("Add", CallKind::Method, Args{Variant(bob.name()), Variant(int32_t{1})}).toObject();
  EXPECT_EQ(aces->Get("Count").toInt32(), 0);
  EXPECT_EQ(ace->Get("Permissions").toInt32(), 1);
  std::string access = CommandOutput("getfacl -cpa '" + Native("shared") + "'");
  std::string dflt = CommandOutput("getfacl -cpd '" + Native("shared") + "'");
  EXPECT_THAT(access, HasSubstr("user:" + bob.name() + ":r--"));
  EXPECT_THAT(dflt, HasSubstr("user:" + bob.name() + ":rwx"));

  ObjectRef again = d->Get("ACEs").toObject();
  EXPECT_EQ(again, aces) << "the same collection, listed again";
  EXPECT_EQ(again->Get("Count").toInt32(), before + 1);
  EXPECT_EQ(Item(again, bob.name())->Get("Permissions").toInt32(), 1);

  // Removing the entry removes it from disk; the other entries stay listed.
  again->Invoke("Remove", CallKind::Method, Args{Variant(bob.name())});
  EXPECT_EQ(again->Get("Count").toInt32(), before);
  access = CommandOutput("getfacl -cp '" + Native("shared") + "'");
  EXPECT_THAT(access, Not(HasSubstr("user:" + bob.name())));

  // A trustee already listed (Everyone always is): the duplicate-key error and nothing written.
  ObjectRef fresh = d->Get("ACEs").toObject();
  std::string facl = CommandOutput("getfacl -cp '" + Native("shared") + "'");
  Error dup = ThrownError([&] { fresh->Invoke("Add", CallKind::Method, Args{Variant("EVERYONE"), Variant(int32_t{7})}); });
  EXPECT_EQ(dup.number, 457);
  EXPECT_EQ(CommandOutput("getfacl -cp '" + Native("shared") + "'"), facl);
}

TEST_F(DirectorySecurity, OwnerIsReadChangedAndRendered) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for throwaway accounts";
  ThrowawayUser bob("dc");
  MakeDir("owned");
  auto d = At(Dos("owned"));
  EXPECT_EQ(d->Get("Owner").toString(), "root");
  d->Invoke("Owner", CallKind::Let, Args{Variant(bob.name())});
  struct stat st {};
  ::stat(Native("owned").c_str(), &st);
  EXPECT_EQ(st.st_uid, bob.uid());
  EXPECT_EQ(d->Get("Owner").toString(), bob.name());
  std::string xml = d->ToXML(Variant::Missing(), Variant::Missing());
  EXPECT_THAT(xml, HasSubstr("<owner>" + bob.name() + "</owner><path>"));

  Traced(*d);
  Error e = ThrownError([&] { d->Invoke("Owner", CallKind::Let, Args{Variant("no-such-owner-x")}); });
  EXPECT_EQ(e.number, 22);
  auto log = Lines();
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[log.size() - 2], "***Error in File.LetOwner *** - Let Owner of " + Dos("owned") + "\\ Failed.");
  EXPECT_EQ(log.back(), "(22) No user is named no-such-owner-x.");
}

TEST_F(DirectorySecurity, OwnerOfAMissingFolderFailsAndToXmlLeavesItOut) {
  auto d = At(Dos("gone"));
  Error e = ThrownError([&] { d->Get("Owner"); });
  EXPECT_EQ(e.number, 2);
  EXPECT_EQ(e.description, "No such file or directory");
  EXPECT_THAT(d->ToXML(Variant::Missing(), Variant::Missing()), Not(HasSubstr("<owner>")));
}

}  // namespace
}  // namespace torvane
