// The page engine's binding rules, driven through a probe object whose member
// table exercises every kind of member.
#include "server/script_engine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "automation/collection.h"
#include "server/host_dispatch.h"
#include "support/memhost.h"
#include "support/script_page.h"

namespace torvane::server {
namespace {

using ::testing::HasSubstr;

using test::MemHost;
using test::TempDir;

std::atomic<int> gLiveProbes{0};

class Probe : public Object {
 public:
  Probe() { ++gLiveProbes; }
  ~Probe() override { --gLiveProbes; }
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }

  std::string name = "21";
  std::string lastKind;
  ObjectRef child;
};

class ProbeList : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
};

// Members: a default property, get/let/set properties, methods with optional
// parameters, array, date and byte conversions, errors, and a collection.
const ClassInfo& Probe::Class() {
  static const ClassInfo info = ClassInfo::Make<Probe>(
      "Probe",
      {
          {"Value", MemberKind::Get, {}, [](Probe& p, Args&) { return Variant(p.name); }, kDispIdDefault},
          {"Name", MemberKind::Get, {}, [](Probe& p, Args&) { return Variant(p.name); }},
          {"Name", MemberKind::Let, {{"v"}},
           [](Probe& p, Args& a) {
             p.name = a[0].toString();
             p.lastKind = "let";
             return Variant();
           }},
          {"Child", MemberKind::Get, {}, [](Probe& p, Args&) { return p.child ? Variant(p.child) : Variant::Null(); }},
          {"Child", MemberKind::Set, {{"v"}},
           [](Probe& p, Args& a) {
             p.child = a[0].toObject();
             p.lastKind = "set";
             return Variant();
           }},
          {"LastKind", MemberKind::Get, {}, [](Probe& p, Args&) { return Variant(p.lastKind); }},
          {"Echo", MemberKind::Method, {{"a"}, {"b", true}, {"c", true}},
           [](Probe&, Args& a) {
             std::string out;
             for (auto& v : a) out += (v.isMissing() ? std::string("-") : v.toString()) + "|";
             return Variant(out);
           }},
          {"Sort", MemberKind::Method, {{"arr"}},
           [](Probe&, Args& a) {
             auto& items = a[0].array().items;
             std::sort(items.begin(), items.end(), [](const Variant& x, const Variant& y) { return x.toInt32() < y.toInt32(); });
             return Variant();
           }},
          {"Fail", MemberKind::Method, {}, [](Probe&, Args&) -> Variant { throw ComponentError(9010, "It failed.", "Probe"); }},
          {"Boom", MemberKind::Method, {}, [](Probe&, Args&) -> Variant { throw std::runtime_error("boom"); }},
          {"When", MemberKind::Get, {},
           [](Probe&, Args&) { return Variant::Date(DateFromParts({2021, 3, 4, 5, 6, 7})); }},
          {"DateText", MemberKind::Method, {{"d"}}, [](Probe&, Args& a) { return Variant(DateToText(a[0].toDate())); }},
          {"Bytes", MemberKind::Get, {}, [](Probe&, Args&) { return Variant(Bytes{1, 2, 250}); }},
          {"Length", MemberKind::Method, {{"b"}},
           [](Probe&, Args& a) { return Variant(static_cast<int32_t>(a[0].bytes().size())); }},
          {"Items", MemberKind::Get, {}, [](Probe&, Args&) { return Variant(ObjectRef(std::make_shared<ProbeList>())); }},
          {"MakeChild", MemberKind::Method, {}, [](Probe&, Args&) { return Variant(ObjectRef(std::make_shared<Probe>())); }},
          // Optional parameters only: no argument gives all values joined, an index one value.
          {"Pick", MemberKind::Get, {{"index", true}},
           [](Probe&, Args& a) -> Variant {
             static const char* const kValues[] = {"a", "b", "c"};
             if (a[0].isMissing()) return Variant("a, b, c");
             int32_t i = a[0].toInt32();
             if (i < 1 || i > 3) ThrowPlatform(err::SubscriptRange);
             return Variant(kValues[i - 1]);
           }},
          {"Count", MemberKind::Get, {{"unused", true}}, [](Probe&, Args&) { return Variant(int32_t{3}); }},
          {"List", MemberKind::Get, {{"index", true}},
           [](Probe&, Args& a) -> Variant {
             if (a[0].isMissing()) return Variant(ObjectRef(std::make_shared<ProbeList>()));
             return Variant("picked" + a[0].toString());
           }},
      });
  return info;
}

// A collection: Item is its default member; NewEnum walks "x", "y".
const ClassInfo& ProbeList::Class() {
  static const ClassInfo info = ClassInfo::Make<ProbeList>(
      "ProbeList",
      {
          {"Item", MemberKind::Get, {{"index"}}, [](ProbeList&, Args& a) { return Variant("item" + a[0].toString()); },
           kDispIdDefault},
          {"NewEnum", MemberKind::Get, {},
           [](ProbeList&, Args&) {
             return Variant(ObjectRef(std::make_shared<Enumerator>(std::vector<Variant>{Variant("x"), Variant("y")})));
           },
           kDispIdNewEnum},
      });
  return info;
}

struct EngineFixture : test::ScriptPageTest {
  std::shared_ptr<Probe> probe = std::make_shared<Probe>();

  void BeforeRun() override { host.application->values.Set("probe", Variant(ObjectRef(probe))); }
};

TEST_F(EngineFixture, PropertiesGetAndLetIgnoringCase) {
  EXPECT_EQ(Out("<% var p = Application('probe'); p.NAME = 'abc'; %><%= p.name %>"), "abc");
  EXPECT_EQ(probe->lastKind, "let");
}

TEST_F(EngineFixture, AssigningAnObjectUsesSetByReference) {
  EXPECT_EQ(Out("<% var p = Application('probe'); p.Child = p.MakeChild(); %><%= p.LastKind %>"), "set");
  EXPECT_TRUE(probe->child);
}

TEST_F(EngineFixture, DefaultMembersAreCallableAndConvert) {
  EXPECT_EQ(Out("<% var p = Application('probe'); %><%= p.Items('k') %>,<%= p.Items.Item(2) %>,<%= p.Items[3] %>"),
            "itemk,item2,item3");
  EXPECT_EQ(Out("<% var p = Application('probe'); %><%= p * 2 %>,<%= 'v' + p %>,<%= String(p) %>"), "42,v21,21");
}

// A property whose parameters are all optional reads as its value and is
// callable with arguments; the value converts, compares loosely and lends its
// own members; components and Write receive the value itself.
TEST_F(EngineFixture, PropertiesWithOnlyOptionalParametersAreReadAndCalled) {
  struct Case {
    const char* expr;
    const char* want;
  } cases[] = {
      {"p.Pick", "a, b, c"},
      {"p.Pick()", "a, b, c"},
      {"p.Pick(2)", "b"},
      {"p.pick(3)", "c"},
      {"p.Pick + '!'", "a, b, c!"},
      {"String(p.Pick)", "a, b, c"},
      {"p.Pick.toString()", "a, b, c"},
      {"p.Pick == 'a, b, c'", "True"},
      {"p.Pick != 'a'", "True"},
      {"p.Pick.length", "7"},
      {"p.Pick.split(', ')[1]", "b"},
      {"p.Pick.toUpperCase()", "A, B, C"},
      {"p.Count * 2", "6"},
      {"p.Count + 1", "4"},
      {"p.Count > 2", "True"},
      {"p.Echo(p.Pick)", "a, b, c|-|-|"},
      {"p.Echo(p.Count)", "3|-|-|"},
      {"p.List('k')", "pickedk"},
      {"p.List.Item(4)", "item4"},
      {"p.List(undefined)('q')", "itemq"},
      {"(function () { var n = []; for (var e = new Enumerator(p.List); !e.atEnd(); e.moveNext()) n.push(e.item()); return n.join('+'); })()", "x+y"},
      {"typeof p.Pick", "function"},
  };
  for (const auto& c : cases) {
    std::string page = std::string("<% var p = Application('probe'); %><%= ") + c.expr + " %>";
    EXPECT_EQ(Out(page), c.want) << c.expr;
  }
  // Write of the property itself writes the value.
  EXPECT_EQ(Out("<% var p = Application('probe'); Response.Write(p.Pick); %>"), "a, b, c");
  // A failing call keeps its error.
  EXPECT_EQ(Out("<% try { Application('probe').Pick(9); } catch (e) { Response.Write(e.number); } %>"), "9");
}

TEST_F(EngineFixture, UndefinedIsAMissingArgumentAlsoInTheMiddle) {
  EXPECT_EQ(Out("<%= Application('probe').Echo('a', undefined, 'c') %>"), "a|-|c|");
  EXPECT_EQ(Out("<%= Application('probe').Echo('a', undefined, undefined) %>"), "a|-|-|");
  EXPECT_EQ(Out("<% try { Application('probe').Echo(); } catch (e) { Response.Write(e.number); } %>"), "449");
}

TEST_F(EngineFixture, ArraysRoundTripAndAreWrittenBack) {
  EXPECT_EQ(Out("<% var a = [3, 1, 2]; Application('probe').Sort(a); %><%= a.join(',') %>"), "1,2,3");
}

TEST_F(EngineFixture, DatesBecomeDateObjectsAndBack) {
  EXPECT_EQ(Out("<% var d = Application('probe').When; %><%= d instanceof Date %>,<%= d.getFullYear() %>,"
                "<%= d.getMonth() %>,<%= d.getSeconds() %>"),
            "True,2021,2,7");
  EXPECT_EQ(Out("<%= Application('probe').DateText(new Date(2020, 0, 2, 3, 4, 5)) %>"), "2020-01-02 03:04:05");
}

TEST_F(EngineFixture, ByteArraysAreUint8Arrays) {
  EXPECT_EQ(Out("<% var b = Application('probe').Bytes; %><%= b instanceof Uint8Array %>,<%= b.length %>,<%= b[2] %>"),
            "True,3,250");
  EXPECT_EQ(Out("<%= Application('probe').Length(new Uint8Array([9, 8])) %>"), "2");
}

TEST_F(EngineFixture, AutomationErrorsAreThrownErrors) {
  EXPECT_EQ(Out("<% try { Application('probe').Fail(); } catch (e) { %><%= e instanceof Error %>|<%= e.number %>|"
                "<%= e.description %>|<%= e.message %>|<%= e.source %><% } %>"),
            "True|9010|It failed.|It failed.|Torvane.Probe");
  EXPECT_EQ(Out("<% try { Application('probe').NoSuch; } catch (e) { Response.Write(e.number); } %>"), "438");
  EXPECT_EQ(Out("<% try { Application('probe').Boom(); } catch (e) { Response.Write(e.number + ' ' + e.description); } %>"),
            "51 Internal error: boom");
}

TEST_F(EngineFixture, UncaughtErrorsNameNumberAndLine) {
  ScriptResult r = Run("a\nb\n<%\n var p = Application('probe');\n p.Fail(); %>");
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.number, 9010);
  EXPECT_EQ(r.description, "It failed.");
  EXPECT_EQ(r.source, "Torvane.Probe");
  EXPECT_EQ(r.file, "/t.asp");
  EXPECT_EQ(r.line, 5);
  r = Run("x\n<% var = ; %>");
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.compileError);
  EXPECT_EQ(r.line, 2);
}

TEST_F(EngineFixture, EnumeratorWalksCollectionsThroughNewEnum) {
  EXPECT_EQ(Out("<% for (var e = new Enumerator(Application('probe').Items); !e.atEnd(); e.moveNext()) { %>[<%= e.item() %>]<% } %>"),
            "[x][y]");
  EXPECT_EQ(Out("<% var e = new Enumerator([1, 2]); e.moveNext(); %><%= e.item() %>"), "2");
}

TEST_F(EngineFixture, ResponseEndStopsThePageEvenInsideTry) {
  ScriptResult r = Run("a<% try { Response.End(); } catch (e) { Response.Write('caught'); } %>b<% Response.Write('c'); %>");
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(host.response->BodyText(), "a");
}

TEST_F(EngineFixture, EachPageGetsFreshGlobalsAndReleasesItsObjects) {
  int before = gLiveProbes;
  Out("<% var leaked = 1; var keep = Application('probe').MakeChild(); Math.leak = 1; %>");
  EXPECT_EQ(gLiveProbes.load(), before);
  EXPECT_EQ(Out("<%= typeof leaked %>,<%= typeof keep %>,<%= typeof Math.leak %>"), "undefined,undefined,undefined");
}

// Whatever a page changes in its globals, the built-ins, the host functions,
// the constants or the prelude, the next page finds as it was.
TEST_F(EngineFixture, NothingAPageChangesReachesTheNextPage) {
  struct Case {
    const char* change;
    const char* probe;
    const char* expected;
  };
  const Case cases[] = {
      {"Object.prototype.leak = 1;", "typeof ({}).leak", "undefined"},
      {"Array.prototype.push = null;", "typeof [].push", "function"},
      {"Function.prototype.leak = 1;", "typeof Function.prototype.leak", "undefined"},
      {"Enumerator.prototype.leak = 1;", "typeof Enumerator.prototype.leak", "undefined"},
      {"Object.getPrototypeOf(Enumerator).leak = 1;", "typeof Function.prototype.leak", "undefined"},
      {"Enumerator = 5;", "typeof Enumerator", "function"},
      {"ActiveXObject.leak = 1;", "typeof ActiveXObject.leak", "undefined"},
      {"Object.getPrototypeOf(ActiveXObject).leak = 1;", "typeof Function.prototype.leak", "undefined"},
      {"TV_UPLOAD_INMEMORY = 99;", "TV_UPLOAD_INMEMORY", "4"},
      {"Response = null;", "typeof Response.Write", "function"},
      {"__torvane_items = null;", "new Enumerator([7]).item()", "7"},
      {"this.leak = 1;", "typeof leak", "undefined"},
      {"Object.getPrototypeOf(this).leak = 1;", "typeof leak", "undefined"},
      {"Math.max = null;", "Math.max(1, 2)", "2"},
      {"Math.max.leak = 1;", "typeof Math.max.leak", "undefined"},
      {"delete JSON.stringify;", "JSON.stringify([1])", "[1]"},
      {"Object.freeze(Array.prototype);", "Object.isFrozen(Array.prototype)", "False"},
      {"Object.defineProperty(String.prototype, 'trim', { value: 1 });", "' a '.trim()", "a"},
      {"String.prototype.padTo = function () { return 'x'; };", "typeof ''.padTo", "undefined"},
      {"Array.prototype[0] = 'leak';", "[][0]", ""},
      {"Object.setPrototypeOf(Math, null);", "typeof Math.hasOwnProperty", "function"},
      {"var Array = 5; function Enumerator() {}", "typeof Array + new Enumerator([7]).item()", "function7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.change);
    Out(std::string("<% ") + c.change + " %>");
    EXPECT_EQ(Out(std::string("<%= ") + c.probe + " %>"), c.expected);
  }
}

// The heap is kept from page to page unless a page changed a shared built-in:
// ordinary pages (which declare, allocate, throw, enumerate and call
// components) must not look like a change, or every page would pay for a new
// heap.
TEST_F(EngineFixture, OnlyAPageThatChangesABuiltInCostsANewHeap) {
  const char* const ordinary[] = {
      "<% function F(a) { this.a = a; } F.prototype.get = function () { return this.a; };"
      " var xs = [3, 1, 2].sort().map(function (x) { return new F(x).get() * 2; }); %><%= xs.join() %>",
      "<% var o = JSON.parse('{\"a\":[1,2]}'); o.b = /x(y)/.exec('xy')[1]; %><%= JSON.stringify(o) %>",
      "<% try { null.x; } catch (e) { Response.Write(e.name); } try { Application('probe').Fail(); } catch (e) {} %>",
      "<% var e = new Enumerator(Application('probe').Items); for (; !e.atEnd(); e.moveNext()) Response.Write(e.item()); %>",
      "<% var d = new Date(2020, 1, 2); %><%= d.getFullYear() + ' ' + 'a,b'.split(',').length + ' ' + Math.max(1, 4) %>",
      "<% var c = Application('probe').MakeChild(); c.Name = 'n'; Response.Write(String(c)); Response.End(); %>",
      "<% undefinedName(); %>",
  };
  for (int round = 0; round < 2; ++round)
    for (const char* page : ordinary) {
      SCOPED_TRACE(page);
      Run(page);
      EXPECT_EQ(engine.HeapsOpened(), 1);
    }
  Out("<% Array.prototype.leak = 1; %>");
  EXPECT_EQ(engine.HeapsOpened(), 2);
  EXPECT_EQ(Out("<%= typeof [].leak %>"), "undefined");
  EXPECT_EQ(engine.HeapsOpened(), 2);
}

// Component objects a page leaves in a cycle of its own objects, or in its
// functions, are released when the page ends, not at some later collection.
TEST_F(EngineFixture, ObjectsHeldInCyclesAreReleasedWithThePage) {
  int before = gLiveProbes;
  const char* const pages[] = {
      "<% var o = {}; o.self = o; o.p = Application('probe').MakeChild(); %>",
      "<% function F() {} F.prototype.keep = Application('probe').MakeChild(); %>",
      "<% var get = (function () { var q = Application('probe').MakeChild(); return function () { return q; }; })(); %>",
      "<% (function () { var a = { p: Application('probe').MakeChild() }; a.me = a; })(); %>",
  };
  for (const char* page : pages) {
    SCOPED_TRACE(page);
    Out(page);
    EXPECT_EQ(gLiveProbes.load(), before);
  }
  // The collections that released them left the shared built-ins as they were.
  EXPECT_EQ(engine.HeapsOpened(), 1);
}

// A worker's heap does not grow from page to page: the pages' threads and
// globals are freed, and the garbage they leave in cycles (no component objects
// in them) is collected once it passes the engine's bound.
TEST_F(EngineFixture, AWorkersHeapDoesNotGrowFromPageToPage) {
  Out("<% %>");
  int64_t base = engine.HeapBytes();
  for (int i = 0; i < 50; ++i)
    Out("<% for (var i = 0; i < 2000; ++i) { var a = { n: 'x' + i }; a.self = a; function G() {} G.a = a; } %>");
  EXPECT_LE(engine.HeapBytes(), base + ScriptEngine::kGarbageBytes + (256 << 10));
}

// A page of functions (what an include file is) leaves no garbage at all: its
// program, its functions and their templates are freed by reference counts,
// so such pages never wait for a collection.
TEST_F(EngineFixture, APageOfFunctionsLeavesNoGarbage) {
  std::string text = "<% var table = { a: 1 };";
  for (int i = 0; i < 20; ++i) text += " function f" + std::to_string(i) + "(x) { return x + " + std::to_string(i) + "; }";
  text += " Response.Write(f3(1)); %>";
  auto page = CompilePageText(site.path(), "/t.asp", text);
  RunCompiled(*page);
  RunCompiled(*page);  // the first run compiled; this one loads the bytecode
  int64_t after = engine.HeapBytes();
  for (int i = 0; i < 10; ++i) RunCompiled(*page);
  EXPECT_EQ(host.response->BodyText(), "4");
  EXPECT_LE(engine.HeapBytes() - after, 1024);
}

// A page run again loads the program its first run compiled: the output and
// the error lines are the same.
TEST_F(EngineFixture, APageRunAgainBehavesAsItsFirstRun) {
  test::WriteFile(site.path() + "/inc.asp", "<%\nfunction boom(p) {\n  p.Fail();\n}\n%>");
  auto page = CompilePageText(site.path(), "/t.asp", "<!-- #include file=\"inc.asp\" -->\n<%= 1 + 1 %>\n<% boom(Application('probe')); %>");
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    ScriptResult r = RunCompiled(*page);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(host.response->BodyText(), "\n2\n");
    EXPECT_EQ(r.number, 9010);
    EXPECT_EQ(r.file, "/inc.asp");
    EXPECT_EQ(r.line, 3);
  }
  EXPECT_NE(page->Bytecode(), nullptr);
  auto broken = CompilePageText(site.path(), "/t.asp", "x\n<% var = ; %>");
  for (int run = 0; run < 2; ++run) {
    ScriptResult r = RunCompiled(*broken);
    EXPECT_TRUE(r.compileError);
    EXPECT_EQ(r.line, 2);
  }
  EXPECT_EQ(broken->Bytecode(), nullptr);
}

TEST_F(EngineFixture, ConstantsAndHostObjectsAreGlobals) {
  EXPECT_EQ(Out("<%= TV_UPLOAD_INMEMORY %>,<%= typeof Request %>,<%= Server.HTMLEncode('<a&b>') %>,<%= Server.URLEncode('a b/c') %>"),
            "4,function,&lt;a&amp;b&gt;,a+b%2Fc");
  host.request->query = {{"q", "1"}};
  EXPECT_EQ(Out("<%= Request.QueryString('q') %><%= Request('q') %>"), "11");
}

TEST_F(EngineFixture, HostilePageValuesNeverUnwindThroughTheBinding) {
  // Traps that throw while the binding converts arguments, a length that lies,
  // and a Date global that throws while a date is converted back.
  EXPECT_EQ(Out("<% var p = new Proxy([], { get: function () { throw new Error('trap'); } });"
                "   var a = [1, 2]; Object.defineProperty(a, 0, { get: function () { throw new Error('getter'); } });"
                "   try { Application('probe').Echo(p, a); } catch (e) { Response.Write(e.number); } %>ok"),
            "13ok");  // the array reached the member (which cannot make text of it)
  EXPECT_EQ(Out("<% Object.defineProperty(this, 'Date', { get: function () { throw new Error('no dates'); } }); %>"
                "<%= typeof Application('probe').When %>"),
            "number");
}

TEST_F(EngineFixture, APageThatNeverEndsIsStoppedAfterItsProcessorTime) {
  PageGlobals limits;
  limits.cpuLimitSeconds = 0.2;
  ScriptResult r = Run("a<% try { while (true) {} } catch (e) { } Response.Write('b'); %>", limits);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.timedOut);
  EXPECT_THAT(r.description, HasSubstr("0.2 seconds of processor time"));
  EXPECT_EQ(host.response->BodyText(), "a");  // the catch could not swallow it
  EXPECT_EQ(Out("<%= 'next page runs' %>"), "next page runs");
}

TEST_F(EngineFixture, WritingNothingWritesNothing) {
  EXPECT_EQ(Out("a<% Response.Write(undefined); Response.Write(null); Response.Write(Request.Form('absent')); %>"
                "<%= Server.HTMLEncode(undefined) %><%= undefined %><%= null %>b"),
            "ab");
}

TEST_F(EngineFixture, UnknownProgIdFailsWith429) {
  EXPECT_EQ(Out("<% try { new ActiveXObject('Nope.Nothing'); } catch (e) { Response.Write(e.number); } %>"), "429");
  EXPECT_EQ(Out("<%= typeof new ActiveXObject('Torvane.File') %>"), "function");
}

}  // namespace
}  // namespace torvane::server
