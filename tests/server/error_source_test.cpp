// Every error a component raises reaches the page with the raising class's
// source, also the errors raised without one (platform numbers, system call
// failures, path policy): the member-call edge gives them the class's.
#include <gtest/gtest.h>

#include "support/registry_fixture.h"
#include "support/script_page.h"

namespace torvane::server {
namespace {

struct ErrorSourceTest : test::ScriptPageTest {
  test::RegistryFixture registry;

  // What the page's `code` raises, as "number source".
  std::string Raised(const std::string& code) {
    return Out("<% try { " + code + " Response.Write('nothing'); } catch (e) { Response.Write(e.number + ' ' + e.source); } %>");
  }
};

TEST_F(ErrorSourceTest, EachErrorNamesTheRaisingClass) {
  struct Case {
    const char* what;
    const char* code;
    const char* expected;
    bool virtualOnly = false;  // the path policy allows virtual paths only
  };
  const Case cases[] = {
      {"9030: a path the policy refuses", "var f = Server.CreateObject('Torvane.File'); f.Name = 'C:\\\\etc\\\\passwd';",
       "9030 Torvane.File", true},
      {"an errno failure",
       "var f = Server.CreateObject('Torvane.File'); f.Name = Server.MapPath('/missing.txt'); f.Attributes = 1;",
       "2 Torvane.File"},
      {"13: a type mismatch", "var f = Server.CreateObject('Torvane.File'); f.Attributes = 'many';",
       "13 Torvane.File"},
      {"457: a key already in the collection",
       "var c = Server.CreateObject('Torvane.cFiles'); var f = Server.CreateObject('Torvane.File');"
       " c.Add(f, 'k'); c.Add(f, 'K');",
       "457 Torvane.cFiles"},
      {"438: no such member", "Server.CreateObject('Torvane.Post').NoSuchMember;", "438 Torvane.Post"},
      {"an error with its own source keeps it", "Server.CreateObject('ADODB.Recordset').MoveNext();",
       "9052 ADODB.Recordset"},
      {"an error of an item keeps the item's class",
       "var c = Server.CreateObject('Torvane.cFiles'); var f = Server.CreateObject('Torvane.File');"
       " c.Add(f); c.Item(1).Attributes = 'many';",
       "13 Torvane.File"},
      {"a host object's error keeps the generic source", "Response.NoSuchMember;", "438 Torvane"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.virtualOnly) registry.SetPolicy("AllowPaths", "VirtualOnly");
    else registry.Write("");
    ResetPathPolicy();
    EXPECT_EQ(Raised(c.code), c.expected);
  }
}

}  // namespace
}  // namespace torvane::server
