// cFiles and cDirectories.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "automation/progid.h"
#include "dirs/cdirectories.h"
#include "dirs/cfiles.h"
#include "dirs/directory.h"
#include "files/file.h"
#include "host/policy.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

using ::testing::HasSubstr;

using test::ThrownError;

std::shared_ptr<File> NamedFile(const std::string& name) {
  auto f = File::New();
  f->SetName(name);
  return f;
}

std::vector<std::string> Names(CFiles& c) {
  std::vector<std::string> out;
  for (int32_t i = 1; i <= c.Count(); ++i) out.push_back(c.Item(Variant(i))->Name());
  return out;
}

using CFilesTest = test::PageTest;
using CDirectoriesTest = test::PageTest;

TEST_F(CFilesTest, AddWithKeysAndPositions) {
  auto c = CFiles::New();
  c->Add(NamedFile("C:\\a"), "a.txt");
  c->Add(NamedFile("C:\\b"), "b.txt");
  c->Add(NamedFile("C:\\first"), "first", 1);        // before position 1
  c->Add(NamedFile("C:\\third"), "third", 0, 2);     // after position 2
  c->Add(NamedFile("C:\\before"), "both", 1, 4);     // iBefore wins
  c->Add(NamedFile("C:\\nokey"));
  EXPECT_EQ(Names(*c), (std::vector<std::string>{"C:\\before", "C:\\first", "C:\\a", "C:\\third", "C:\\b", "C:\\nokey"}));
  EXPECT_EQ(c->Item(Variant("A.TXT"))->Name(), "C:\\a");
  EXPECT_EQ(c->Item(Variant("third"))->Name(), "C:\\third");
}

TEST_F(CFilesTest, ErrorsLeaveTheCollectionAsItWas) {
  auto c = CFiles::New();
  c->Add(NamedFile("C:\\a"), "a.txt");
  c->Add(NamedFile("C:\\b"));
  EXPECT_EQ(ThrownError([&] { c->Add(NamedFile("C:\\x"), "A.TXT"); }).number, 457);
  EXPECT_EQ(ThrownError([&] { c->Add(NamedFile("C:\\x"), "x", 3); }).number, 9);
  EXPECT_EQ(ThrownError([&] { c->Add(NamedFile("C:\\x"), "", 0, -1); }).number, 9);
  EXPECT_EQ(c->Count(), 2);
  EXPECT_EQ(ThrownError([&] { c->Item(Variant(0)); }).number, 9);
  EXPECT_EQ(ThrownError([&] { c->Item(Variant(3)); }).number, 9);
  EXPECT_EQ(ThrownError([&] { c->Item(Variant("C:\\b")); }).number, 5);  // added without a key
  EXPECT_EQ(ThrownError([&] { c->Remove(Variant("nope")); }).number, 5);
  c->Remove(Variant("a.txt"));
  EXPECT_EQ(Names(*c), (std::vector<std::string>{"C:\\b"}));
}

TEST_F(CFilesTest, LateBoundMembers) {
  ObjectRef obj = CreateObject("Torvane.cFiles");
  auto f = NamedFile("C:\\z.txt");
  Args add{Variant(ObjectRef(f)), Variant("z"), Variant::Missing(), Variant::Missing()};
  obj->Invoke("Add", CallKind::Method, add);
  Args notFile{Variant(ObjectRef(Directory::New()))};
  EXPECT_EQ(ThrownError([&] { obj->Invoke("Add", CallKind::Method, notFile); }).number, 13);
  EXPECT_EQ(obj->Get("Count").toInt32(), 1);
  Args key{Variant("Z")};
  EXPECT_EQ(obj->InvokeDispId(kDispIdDefault, CallKind::Get, key).toObject(), f);
  Args none;
  auto en = std::dynamic_pointer_cast<Enumerator>(obj->InvokeDispId(kDispIdNewEnum, CallKind::Get, none).toObject());
  ASSERT_TRUE(en);
  Variant item;
  ASSERT_TRUE(en->Next(item));
  EXPECT_EQ(item.toObject(), f);
  EXPECT_FALSE(en->Next(item));
  EXPECT_TRUE(obj->Invoke("OnStartPage", CallKind::Method, none).isEmpty());
}

TEST_F(CFilesTest, ToXml) {
  auto c = CFiles::New();
  EXPECT_EQ(c->ToXML(), "<files></files>");
  EXPECT_EQ(c->ToXML(Variant("name"), Variant("<more/>")), "<files><more/></files>");
  Put("x.txt", "abc");
  auto f = NamedFile(Dos("x.txt"));
  c->Add(f);
  std::string xml = c->ToXML(Variant("name"));  // the collection's list does not restrict items
  EXPECT_EQ(xml, "<files>" + f->ToXML() + "</files>");
  EXPECT_THAT(xml, HasSubstr("<size>3</size>"));
}

TEST_F(CDirectoriesTest, AddBuildsTheDirectory) {
  auto c = CDirectories::New();
  auto d = c->Add("C:\\");
  EXPECT_EQ(d->PathField(), "C:\\");
  EXPECT_EQ(c->Count(), 1);
  EXPECT_EQ(c->Item(Variant(1)), d);
  Args a{Variant("/virtual")};
  ObjectRef byName = CreateObject("Torvane.cDirectories");
  Variant added = byName->Invoke("Add", CallKind::Method, a);
  EXPECT_EQ(added.toObject()->Get("Path").toString(), "/virtual/");
}

TEST_F(CDirectoriesTest, RefusedPathAddsNothing) {
  registry.SetPolicy("AllowPaths", "VirtualOnly");
  ResetPathPolicy();
  auto c = CDirectories::New();
  c->Add("/ok");
  EXPECT_EQ(ThrownError([&] { c->Add("D:\\"); }).number, 9030);
  EXPECT_EQ(c->Count(), 1);
}

TEST_F(CDirectoriesTest, ToXmlHoldsEachDrive) {
  auto c = CDirectories::New();
  EXPECT_EQ(c->ToXML(), "<drives></drives>");
  auto d = c->Add(Dos());
  EXPECT_EQ(c->ToXML(), "<drives>" + d->ToXML() + "</drives>");
  EXPECT_EQ(c->ToXML(Variant::Missing(), Variant("<x/>")), "<drives>" + d->ToXML() + "<x/></drives>");
  EXPECT_THAT(d->ToXML(), HasSubstr("<path>" + Dos() + "\\</path>"));
}

TEST_F(CDirectoriesTest, RemoveAndErrors) {
  auto c = CDirectories::New();
  c->Add("C:\\a");
  c->Add("C:\\b");
  c->Remove(Variant(1));
  EXPECT_EQ(c->Item(Variant(1))->PathField(), "C:\\b\\");
  EXPECT_EQ(ThrownError([&] { c->Item(Variant(2)); }).number, 9);
  EXPECT_EQ(ThrownError([&] { c->Item(Variant("C:\\b\\")); }).number, 5);
}

}  // namespace
}  // namespace torvane
