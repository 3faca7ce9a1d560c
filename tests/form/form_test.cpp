#include <gtest/gtest.h>

#include "files/file.h"
#include "form/cform_input.h"
#include "form/cform_value.h"
#include "form/form_input.h"
#include "support/memhost.h"
#include "support/thrown_error.h"

namespace torvane {
namespace {

using test::ThrownError;
using test::MemHost;
using test::TempDir;

std::shared_ptr<FormInput> Input(const std::string& name, std::vector<std::string> values = {}) {
  auto in = FormInput::CreateTyped();
  in->SetName(name);
  for (auto& v : values) in->AddValue(v);
  return in;
}

class FormTest : public ::testing::Test {
 protected:
  MemHost host;
  MemHost::Scope scope{host};
};

TEST_F(FormTest, KeysIgnoreLetterCase) {
  auto inputs = CFormInput::CreateTyped();
  inputs->Add(Input("comment", {"hi"}), "comment");
  EXPECT_EQ(inputs->Item(Variant("Comment"))->Name(), "comment");
  EXPECT_EQ(inputs->Item(Variant("COMMENT"))->Name(), "comment");
  EXPECT_EQ(inputs->Count(), 1);
  EXPECT_EQ(ThrownError([&] { inputs->Add(Input("x"), "COMMENT"); }).number, err::DuplicateKey);
  EXPECT_EQ(inputs->Count(), 1);
}

TEST_F(FormTest, ItemOfAMissingNameCreatesAndCountsIt) {
  auto inputs = CFormInput::CreateTyped();
  for (auto n : {"a", "b", "c"}) inputs->Add(Input(n, {"v"}), n);
  EXPECT_FALSE(inputs->HasKey("missing"));
  EXPECT_EQ(inputs->Count(), 3);  // HasKey alone never adds
  auto created = inputs->Item(Variant("missing"));
  EXPECT_EQ(created->Name(), "missing");
  EXPECT_EQ(created->ContentType(), "");
  EXPECT_EQ(created->FileObject(), nullptr);
  EXPECT_EQ(created->Values()->Count(), 0);
  EXPECT_EQ(inputs->Count(), 4);
  EXPECT_TRUE(inputs->HasKey("MISSING"));
  EXPECT_EQ(inputs->At(3), created);  // enumerated last
  EXPECT_EQ(inputs->Item(Variant("missing")), created);
}

TEST_F(FormTest, BadPositionsFailWithTheCollectionsErrors) {
  auto inputs = CFormInput::CreateTyped();
  inputs->Add(Input("first"), "first");
  inputs->Add(Input("second"), "second");
  EXPECT_EQ(inputs->Item(Variant(int32_t{1}))->Name(), "first");
  EXPECT_EQ(ThrownError([&] { inputs->Item(Variant(int32_t{0})); }).number, err::SubscriptRange);
  EXPECT_EQ(ThrownError([&] { inputs->Item(Variant(int32_t{3})); }).number, err::SubscriptRange);
  EXPECT_EQ(inputs->Count(), 2);
  EXPECT_EQ(ThrownError([&] { inputs->Remove(Variant("nothere")); }).number, err::InvalidArgument);
  inputs->Remove(Variant("FIRST"));
  EXPECT_EQ(inputs->Item(Variant(int32_t{1}))->Name(), "second");
}

TEST_F(FormTest, JoinRules) {
  struct Case {
    std::vector<std::string> values;
    bool comma;
    std::string joined;
  };
  std::vector<Case> cases = {
      {{}, false, ""},
      {{}, true, ""},
      {{"only"}, true, "only"},
      {{"a", "b", "c"}, true, "a, b, c"},
      {{"a", "b"}, false, "a\r\nb"},
  };
  for (const auto& c : cases) {
    auto v = CFormValue::CreateTyped();
    for (const auto& s : c.values) v->Add(s);
    v->SetJoinWithComma(c.comma);
    EXPECT_EQ(v->Item(Variant::Missing()), c.joined);
    // The default member with no index is the same join, late-bound.
    EXPECT_EQ(Variant(ObjectRef(v)).toString(), c.joined);
  }
}

TEST_F(FormTest, ValueItemByIndexAndItsErrors) {
  auto v = CFormValue::CreateTyped();
  v->Add("x");
  v->Add("y");
  EXPECT_EQ(v->Item(Variant(int32_t{2})), "y");
  EXPECT_EQ(ThrownError([&] { v->Item(Variant(int32_t{0})); }).number, err::SubscriptRange);
  EXPECT_EQ(ThrownError([&] { v->Item(Variant("x")); }).number, err::InvalidArgument);  // values have no keys
  v->Remove(Variant(int32_t{1}));
  EXPECT_EQ(v->Item(Variant::Missing()), "y");
}

TEST_F(FormTest, JoiningMoreThan32767ValuesOverflows) {
  auto v = CFormValue::CreateTyped();
  for (int i = 0; i < 32768; ++i) v->Add("v");
  EXPECT_EQ(v->Item(Variant(int32_t{32768})), "v");
  EXPECT_EQ(ThrownError([&] { v->Item(Variant::Missing()); }).number, err::Overflow);
}

TEST_F(FormTest, RefusalsTraceRaiseAndChangeNothing) {
  TempDir dir;
  auto in = Input("field", {"v"});
  in->SetContentType("text/plain");
  in->SetTraceChannel(OpenTraceLog(dir / "t.log"));
  ObjectRef file = File::Create();
  struct Case {
    const char* member;
    CallKind kind;
    Variant value;
    int number;
    const char* text;
  };
  std::vector<Case> cases = {
      {"File", CallKind::Set, Variant(file), 9001, "FormInput.LetFile - File is readonly for FormInput Objects."},
      {"ContentType", CallKind::Let, Variant("x/y"), 9008,
       "FormInput.LetContentType - ContentType is readonly for FormInput Objects."},
      {"Name", CallKind::Let, Variant("other"), 9009, "FormInput.LetName - Name is readonly for FormInput Objects."},
  };
  for (const auto& c : cases) {
    Error e = ThrownError([&] { in->Invoke(c.member, c.kind, {c.value}); });
    EXPECT_EQ(e.number, c.number) << c.member;
    EXPECT_EQ(e.description, c.text) << c.member;
    EXPECT_EQ(e.source, "Torvane.FormInput") << c.member;
  }
  EXPECT_EQ(in->Name(), "field");
  EXPECT_EQ(in->ContentType(), "text/plain");
  EXPECT_EQ(in->FileObject(), nullptr);
  auto lines = test::TraceMessages(dir / "t.log");
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1], cases[0].text);
  EXPECT_EQ(lines[2], cases[1].text);
  EXPECT_EQ(lines[3], cases[2].text);
}

TEST_F(FormTest, GettersTraceAndOrdinaryFieldHasNoFileOrType) {
  TempDir dir;
  auto in = Input("note", {"hello"});
  in->SetTraceChannel(OpenTraceLog(dir / "t.log"));
  EXPECT_TRUE(in->Get("File").isNull());
  EXPECT_EQ(in->Get("ContentType").toString(), "");
  EXPECT_EQ(in->Get("NAME").toString(), "note");
  EXPECT_EQ(in->Get("Value").toString(), "hello");
  EXPECT_EQ(Variant(ObjectRef(in)).toString(), "hello");  // the default member chain
  auto lines = test::TraceMessages(dir / "t.log");
  std::vector<std::string> want = {
      "TraceLog Opened",
      "FormInput.GetFile - Returned file object for forminput object note.",
      "FormInput.GetContentType - Returned value for forminput object note.",
      "FormInput.GetName - Returned value for forminput object note.",
      "FormInput.GetValue - Returned value for forminput object note.",
  };
  ASSERT_GE(lines.size(), want.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 5), want);
}

TEST_F(FormTest, FormInputToXml) {
  auto in = Input("tags", {"a", "b", "c"});
  in->Values()->SetJoinWithComma(true);
  struct Case {
    Variant properties;
    std::string want;
  };
  std::vector<Case> cases = {
      {Variant::Missing(), "<forminput><contenttype></contenttype><name>tags</name><value>a, b, c</value></forminput>"},
      {Variant("name"), "<forminput><name>tags</name></forminput>"},
      {Variant("Name"), "<forminput></forminput>"},
      {Variant(""), "<forminput></forminput>"},
  };
  for (const auto& c : cases) EXPECT_EQ(in->ToXML(c.properties, Variant::Missing()), c.want);
  auto empty = Input("none");
  EXPECT_EQ(empty->ToXML(Variant::Missing(), Variant::Missing()),
            "<forminput><contenttype></contenttype><name>none</name><value></value></forminput>");
  auto hostile = Input("f", {"<script>&"});
  EXPECT_EQ(hostile->ToXML(Variant("value"), Variant("<x/>")), "<forminput><value>&lt;script&gt;&amp;</value><x/></forminput>");
}

TEST_F(FormTest, CollectionToXmlRendersEveryPropertyOfEveryInput) {
  auto inputs = CFormInput::CreateTyped();
  EXPECT_EQ(inputs->ToXML(Variant::Missing(), Variant::Missing()), "<forminputs></forminputs>");
  inputs->Add(Input("a", {"1"}), "a");
  inputs->Add(Input("b", {"2"}), "b");
  Args args{Variant("name"), Variant("<more/>")};
  EXPECT_EQ(ObjectRef(inputs)->Invoke("ToXML", CallKind::Method, args).toString(),
            "<forminputs><forminput><contenttype></contenttype><name>a</name><value>1</value></forminput>"
            "<forminput><contenttype></contenttype><name>b</name><value>2</value></forminput><more/></forminputs>");
}

TEST_F(FormTest, LateBoundCollectionMembers) {
  ObjectRef inputs = CFormInput::Create();
  ObjectRef in = FormInput::Create();
  inputs->Invoke("add", CallKind::Method, {Variant(in), Variant("Key")});
  EXPECT_EQ(inputs->Get("Count").toInt32(), 1);
  // Default member: Item("key") finds it, Item("new") creates one.
  Args byKey{Variant("KEY")};
  EXPECT_EQ(inputs->InvokeDispId(kDispIdDefault, CallKind::Get, byKey).obj(), in);
  Args fresh{Variant("new")};
  inputs->InvokeDispId(kDispIdDefault, CallKind::Get, fresh);
  EXPECT_EQ(inputs->Get("Count").toInt32(), 2);
  // Only FormInput objects go into the collection.
  EXPECT_EQ(ThrownError([&] { inputs->Invoke("Add", CallKind::Method, {Variant(File::Create()), Variant("f")}); }).number,
            err::TypeMismatch);
  auto e = std::dynamic_pointer_cast<Enumerator>(inputs->Get("NewEnum").toObject());
  ASSERT_TRUE(e);
  Variant item;
  ASSERT_TRUE(e->Next(item));
  EXPECT_EQ(item.obj(), in);
}

}  // namespace
}  // namespace torvane
