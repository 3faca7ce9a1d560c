// A page's own JavaScript objects handed to components: they act as
// late-bound objects (properties read, functions called, any letter case), so
// File.Export, Import and Compare work against a field the page wrote itself.
#include <gtest/gtest.h>

#include "automation/object.h"
#include "platform/paths.h"
#include "server/host_dispatch.h"
#include "server/script_engine.h"
#include "support/memhost.h"
#include "support/script_page.h"
#include "support/thrown_error.h"

namespace torvane::server {
namespace {

using test::ThrownError;
using test::MemHost;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Calls whatever it is handed, late-bound, as a component does.
class Caller : public Object {
 public:
  static const ClassInfo& Class() {
    static const ClassInfo info = ClassInfo::Make<Caller>(
        "Caller",
        {
            {"Call", MemberKind::Method, {{"obj"}, {"name"}, {"a", true}, {"b", true}},
             [](Caller&, Args& a) {
               Args rest;
               for (size_t i = 2; i < a.size(); ++i)
                 if (!a[i].isMissing()) rest.push_back(a[i]);
               return a[0].toObject()->Invoke(a[1].toString(), CallKind::Method, rest);
             }},
            {"Read", MemberKind::Method, {{"obj"}, {"name"}},
             [](Caller&, Args& a) { return a[0].toObject()->Get(a[1].toString()); }},
            {"Put", MemberKind::Method, {{"obj"}, {"name"}, {"value"}},
             [](Caller&, Args& a) {
               Args v{a[2]};
               a[0].toObject()->Invoke(a[1].toString(), CallKind::Let, v);
               return Variant();
             }},
            {"Text", MemberKind::Method, {{"v"}}, [](Caller&, Args& a) { return Variant(a[0].toString()); }},
            {"IsObject", MemberKind::Method, {{"v"}}, [](Caller&, Args& a) { return Variant(a[0].isObject()); }},
            {"Kept", MemberKind::Get, {}, [](Caller& c, Args&) { return c.kept; }},
            {"Kept", MemberKind::Set, {{"v"}},
             [](Caller& c, Args& a) {
               c.kept = a[0];
               return Variant();
             }},
        });
    return info;
  }
  const ClassInfo& classInfo() const override { return Class(); }
  Variant kept;
};

struct ScriptObjectTest : test::ScriptPageTest {
  std::shared_ptr<Caller> caller = std::make_shared<Caller>();

  void BeforeRun() override { host.application->values.Set("caller", Variant(ObjectRef(caller))); }

  // The DOS path of a name in the site, as a JavaScript string literal's text.
  std::string Dos(const std::string& name) {
    std::string out;
    for (char c : ToDosPath(site / name)) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
  }
};

TEST_F(ScriptObjectTest, PropertiesAndFunctionsAnswerInAnyLetterCase) {
  EXPECT_EQ(Out("<% var c = Application('caller');"
                "   var o = { actualSize: 7, getChunk: function (n) { return 'got' + n + this.actualSize; } }; %>"
                "<%= c.Read(o, 'ActualSize') %>|<%= c.Call(o, 'GetChunk', 3) %>|<%= c.Read(o, 'actualsize') %>"),
            "7|got37|7");
}

TEST_F(ScriptObjectTest, InstancesOfAPagesConstructorFindInheritedMethods) {
  EXPECT_EQ(Out("<% function Field(v) { this.v = v; }"
                "   Field.prototype.Twice = function () { return this.v * 2; };"
                "   var c = Application('caller'); %><%= c.Call(new Field(21), 'twice') %>"),
            "42");
}

TEST_F(ScriptObjectTest, AssignmentsReachTheObjectUnderItsOwnName) {
  EXPECT_EQ(Out("<% var c = Application('caller'); var o = { Count: 1 };"
                "   c.Put(o, 'count', 5); c.Put(o, 'Fresh', 'x'); %><%= o.Count %>,<%= o.Fresh %>"),
            "5,x");
  EXPECT_EQ(Out("<% var c = Application('caller'); var o = {};"
                "   Object.defineProperty(o, 'Size', { set: function (v) { throw new RangeError('too big: ' + v); } });"
                "   try { c.Put(o, 'size', 7); } catch (e) { Response.Write(e.description + ' ' + e.source); } %>"),
            "too big: 7 RangeError");
}

TEST_F(ScriptObjectTest, AMissingMemberIs438AndAThrowingFunctionKeepsItsError) {
  EXPECT_EQ(Out("<% var c = Application('caller');"
                "   try { c.Call({}, 'Nothing'); } catch (e) { Response.Write(e.number); } %>|"
                "<% try { c.Call({ f: function () { throw new TypeError('bad chunk'); } }, 'F'); }"
                "   catch (e) { Response.Write(e.number + ' ' + e.description + ' ' + e.source); } %>|"
                "<% try { c.Call({ f: function () { var x = new Error('own'); x.number = 9099; throw x; } }, 'f'); }"
                "   catch (e) { Response.Write(e.number + ' ' + e.description); } %>"),
            "438|-2147352567 bad chunk TypeError|9099 own");
}

TEST_F(ScriptObjectTest, AThrowingGetterIsAnErrorNotACrash) {
  EXPECT_EQ(Out("<% var c = Application('caller');"
                "   var o = {}; Object.defineProperty(o, 'Size', { get: function () { throw new Error('no size'); } });"
                "   try { c.Read(o, 'size'); } catch (e) { Response.Write(e.description); } %>"),
            "no size");
}

TEST_F(ScriptObjectTest, ValuesConvertBothWaysAndTheObjectComesBackAsItself) {
  EXPECT_EQ(Out("<% var c = Application('caller'); var o = { Bytes: function (b) { return b.length + ':' + b[1]; } };"
                "   c.Kept = o; %><%= c.Kept === o %>|<%= c.Call(o, 'bytes', new Uint8Array([1, 250])) %>|"
                "<%= c.Text(o) %>|<%= c.Text({ toString: function () { return 'mine'; } }) %>"),
            "True|2:250|[object Object]|mine");
}

TEST_F(ScriptObjectTest, CharactersBeyondTheBasicPlaneReachComponentsAsUtf8) {
  // U+1D11E written in the page and as an escape: the component gets its
  // 4-byte UTF-8 form (the engine keeps it as a surrogate pair), so a database
  // or file never stores the engine's private encoding.
  Out("<% Application('caller').Kept = '\xF0\x9D\x84\x9E|\\uD834\\uDD1E|\\u00e9'; %>");
  EXPECT_EQ(caller->kept.toString(), "\xF0\x9D\x84\x9E|\xF0\x9D\x84\x9E|\xC3\xA9");
}

TEST_F(ScriptObjectTest, OnlyPlainObjectsBecomeObjects) {
  EXPECT_EQ(Out("<% var c = Application('caller'); %><%= c.IsObject({}) %>,<%= c.IsObject(new Error('x')) %>,"
                "<%= c.IsObject(/re/) %>,<%= c.IsObject(new String('s')) %>,<%= c.Text(new Error('x')) %>"),
            "True,False,False,False,Error: x");
}

TEST_F(ScriptObjectTest, AnObjectKeptPastItsPageIsDead) {
  Out("<% Application('caller').Kept = { Size: 3 }; %>");
  ASSERT_TRUE(caller->kept.isObject());
  // The next page cannot reach the first page's object.
  EXPECT_EQ(Out("<% var c = Application('caller');"
                "   try { c.Read(c.Kept, 'Size'); } catch (e) { Response.Write(e.number); } %>"),
            "91");
  // Outside any page too.
  Error e = ThrownError([&] { caller->kept.toObject()->Get("Size"); });
  EXPECT_EQ(e.number, 91);
}

TEST_F(ScriptObjectTest, ResponseEndInsideTheObjectEndsThePage) {
  ScriptResult r = Run("a<% var c = Application('caller');"
                       "   try { c.Call({ f: function () { Response.End(); } }, 'f'); } catch (e) { Response.Write('caught'); } %>b");
  EXPECT_TRUE(r.ok) << r.description;
  EXPECT_EQ(host.response->BodyText(), "a");
}

// The field protocol of File.Export / Import against a page's own object: the
// chunk sizes a File uses and the bytes unchanged; Compare takes an object's
// string conversion as the other file's name.
TEST_F(ScriptObjectTest, FileExportImportAndCompareWorkWithAPagesOwnField) {
  std::string data(700001, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>((i * 7919) % 251);
  WriteFile(site / "in.bin", data);
  std::string page =
      "<% function Field() { this.parts = []; this.sizes = []; this.pos = 0; }"
      "   Field.prototype.AppendChunk = function (b) { this.parts.push(b); this.sizes.push(b.length); };"
      "   Field.prototype.getchunk = function (n) {"
      "     if (this.pos >= this.parts.length) return null; return this.parts[this.pos++]; };"
      "   Object.defineProperty(Field.prototype, 'ActualSize', { get: function () {"
      "     var t = 0; for (var i = 0; i < this.sizes.length; i++) t += this.sizes[i]; return t; } });"
      "   var field = new Field();"
      "   var src = new ActiveXObject('Torvane.File'); src.Name = '" + Dos("in.bin") + "';"
      "   src.Import(field);"
      "   var dst = new ActiveXObject('Torvane.File'); dst.Name = '" + Dos("out.bin") + "';"
      "   dst.Export(field, false); %>"
      "<%= field.sizes.length %>,<%= field.sizes[0] %>,<%= field.sizes[23] %>,<%= field.ActualSize %>,"
      "<%= dst.Size %>,<%= dst.Compare({ toString: function () { return '" + Dos("in.bin") + "'; } }) %>"
      "<% var mem = new ActiveXObject('Torvane.File'); field.pos = 0;"
      "   var whole = { ActualSize: 3, GetChunk: function (n) { return new Uint8Array([65, 66, 67]); } };"
      "   mem.Export(whole, false, true); %>,<%= mem.InMemory %>,<%= mem.MD5 %>";
  std::string md5abc = "902FBDD2B1DF0C4F70B4A5D23525E932";
  EXPECT_EQ(Out(page), "24,30000,10001,700001,700001,True,True," + md5abc);
  EXPECT_TRUE(ReadFile(site / "out.bin") == data) << "the exported file differs";
}

}  // namespace
}  // namespace torvane::server
