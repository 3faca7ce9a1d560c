#include "automation/object.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <new>
#include <stdexcept>
#include <system_error>

#include "automation/collection.h"
#include "support/thrown_error.h"

namespace torvane {
namespace {

using test::ThrownError;

// A small class with every kind of member, to drive Invoke by name.
class Widget : public Object {
 public:
  std::string name = "w";
  int32_t size = 0;
  ObjectRef child;
  Variant lastOptional = Variant("unset");

  static const ClassInfo& Class() {
    static const ClassInfo info = ClassInfo::Make<Widget>(
        "Widget",
        {
            {"Size", MemberKind::Let, {{"value"}}, [](Widget& w, Args& a) { w.size = a[0].toInt32(); return Variant(); }},
            {"Size", MemberKind::Get, {}, [](Widget& w, Args&) { return Variant(w.size); }},
            {"Child", MemberKind::Set, {{"value"}}, [](Widget& w, Args& a) { w.child = a[0].toObject(); return Variant(); }},
            {"Child", MemberKind::Get, {}, [](Widget& w, Args&) { return Variant(w.child); }},
            {"Name", MemberKind::Get, {}, [](Widget& w, Args&) { return Variant(w.name); }, kDispIdDefault},
            {"Join", MemberKind::Method, {{"a"}, {"b", true}, {"c", true}},
             [](Widget& w, Args& a) {
               w.lastOptional = a[1];
               std::string out = a[0].toString();
               if (!a[1].isMissing()) out += "+" + a[1].toString();
               if (!a[2].isMissing()) out += "+" + a[2].toString();
               return Variant(out);
             }},
            {"Boom", MemberKind::Method, {{"kind"}},
             [](Widget&, Args& a) -> Variant {
               if (a[0].toInt32() == 1) throw std::runtime_error("boom");
               throw std::bad_alloc();
             }},
            {"Touch", MemberKind::Method, {{"arg"}}, [](Widget&, Args& a) { a[0] = Variant(a[0].toString() + "/"); return Variant(); }},
        });
    return info;
  }
  const ClassInfo& classInfo() const override { return Class(); }
};

TEST(Invoke, GetLetSetAndMethodByNameInAnyCase) {
  auto w = std::make_shared<Widget>();
  w->Invoke("SIZE", CallKind::Let, Args{Variant("42")});
  EXPECT_EQ(w->size, 42);
  EXPECT_EQ(w->Invoke("size", CallKind::Get, Args{}).toInt32(), 42);
  auto other = std::make_shared<Widget>();
  w->Invoke("child", CallKind::Set, Args{Variant(ObjectRef(other))});
  EXPECT_EQ(w->child, other);
  EXPECT_EQ(w->Invoke("jOiN", CallKind::Method, Args{Variant("x"), Variant("y")}).toString(), "x+y");
}

TEST(Invoke, LetFallsBackToSetAndGetToMethod) {
  auto w = std::make_shared<Widget>();
  auto other = std::make_shared<Widget>();
  w->Invoke("Child", CallKind::Let, Args{Variant(ObjectRef(other))});
  EXPECT_EQ(w->child, other);
  EXPECT_EQ(w->Invoke("Join", CallKind::Get, Args{Variant("a")}).toString(), "a");
}

TEST(Invoke, MissingOptionalArgumentsInTheMiddle) {
  auto w = std::make_shared<Widget>();
  EXPECT_EQ(w->Invoke("Join", CallKind::Method, Args{Variant("a"), Variant::Missing(), Variant("c")}).toString(), "a+c");
  EXPECT_TRUE(w->lastOptional.isMissing());
  EXPECT_EQ(w->Invoke("Join", CallKind::Method, Args{Variant("a")}).toString(), "a");
}

TEST(Invoke, ArgumentErrors) {
  auto w = std::make_shared<Widget>();
  struct Case {
    const char* name;
    Args args;
    int32_t number;
  };
  std::vector<Case> cases = {
      {"Join", {}, 449},
      {"Join", {Variant::Missing()}, 449},
      {"Join", {Variant(1), Variant(2), Variant(3), Variant(4)}, 450},
      {"NoSuchThing", {}, 438},
  };
  for (auto& c : cases) {
    Error e = ThrownError([&] { w->Invoke(c.name, CallKind::Method, c.args); });
    EXPECT_EQ(e.number, c.number) << c.name;
  }
}

// No C++ exception but Error leaves a member: the call edge converts them.
TEST(Invoke, ForeignExceptionsBecomeAutomationErrors) {
  auto w = std::make_shared<Widget>();
  struct Case {
    int kind;
    int32_t number;
    const char* description;
  };
  for (const Case& c : {Case{1, 51, "Internal error: boom"}, Case{2, 7, "Out of memory"}}) {
    Error e = ThrownError([&] { w->Invoke("Boom", CallKind::Method, Args{Variant(c.kind)}); });
    EXPECT_EQ(e.number, c.number) << c.kind;
    EXPECT_EQ(e.description, c.description) << c.kind;
  }
}

// A class no ProgID names keeps the generic source on every error its members
// raise (the host's own objects); an error raised with a source keeps it.
TEST(Invoke, ErrorsOfAClassNoProgIdNamesKeepTheirSource) {
  auto w = std::make_shared<Widget>();
  EXPECT_EQ(ThrownError([&] { w->Invoke("Boom", CallKind::Method, Args{Variant(1)}); }).source, "Torvane");
  EXPECT_EQ(ThrownError([&] { w->Invoke("NoSuchThing", CallKind::Get, Args{}); }).source, "Torvane");
  EXPECT_EQ(ThrownError([&] { ThrowNoSuchMember(*w); }).source, "Torvane");
}

// A host call's failure as the upload reports it: the request's fault (5 with
// its text), not an internal error; out of memory stays 7.
TEST(CaughtHostFailure, ConvertsEachKindOfFailure) {
  struct Case {
    const char* what;
    std::function<void()> raise;
    int32_t number;
    std::string description;
    const char* source;
  };
  const std::string resetText = std::system_error(ECONNRESET, std::generic_category(), "read body").what();
  const Case cases[] = {
      {"an automation error", [] { throw Error(9013, "unreadable", "Torvane.Post"); }, 9013, "unreadable",
       "Torvane.Post"},
      {"out of memory", [] { throw std::bad_alloc(); }, 7, "Out of memory", "Torvane"},
      {"a failed host call", [] { throw std::runtime_error("client went away"); }, 5, "client went away", "Torvane"},
      {"a failed system call",
       [] { throw std::system_error(ECONNRESET, std::generic_category(), "read body"); }, 5,
       resetText, "Torvane"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Error e(0, "", "");
    try {
      c.raise();
    } catch (...) {
      e = CaughtHostFailure();
    }
    EXPECT_EQ(e.number, c.number);
    EXPECT_EQ(e.description, c.description);
    EXPECT_EQ(e.source, c.source);
  }
}

TEST(Invoke, ArgumentsAreWrittenBack) {
  auto w = std::make_shared<Widget>();
  Args a{Variant("path")};
  w->Invoke("Touch", CallKind::Method, a);
  EXPECT_EQ(a[0].toString(), "path/");
}

TEST(Invoke, DefaultMemberAndStringConversion) {
  auto w = std::make_shared<Widget>();
  w->name = "gizmo";
  Args none;
  EXPECT_EQ(w->InvokeDispId(kDispIdDefault, CallKind::Get, none).toString(), "gizmo");
  EXPECT_EQ(Variant(ObjectRef(w)).toString(), "gizmo");
}

TEST(ClassInfo, SlotsAndDispIds) {
  const auto& info = Widget::Class();
  EXPECT_EQ(info.members()[0].slot, 0);
  EXPECT_EQ(info.members()[4].name, "Name");
  EXPECT_EQ(info.members()[4].dispid, 0);
  // A property's get and let share one dispatch id.
  EXPECT_EQ(info.members()[0].dispid, info.members()[1].dispid);
  EXPECT_NE(info.members()[0].dispid, info.members()[2].dispid);
}

TEST(FoldCase, UnicodeSimpleFolding) {
  EXPECT_TRUE(EqualsNoCase("Comment", "COMMENT"));
  EXPECT_TRUE(EqualsNoCase("ÄPFEL", "äpfel"));
  EXPECT_FALSE(EqualsNoCase("a", "b"));
}

}  // namespace
}  // namespace torvane
