// The member table of every class a page can create by ProgID, listed from
// the live tables and compared with the committed listing member_tables.txt.
// Slot order, member kinds, dispatch ids and parameters are a contract with
// compiled callers: a change shows here as a diff. To accept an intended
// change (a new member appended after the existing ones), run the test with
// TORVANE_UPDATE_MEMBER_TABLES=1 and commit the rewritten listing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "automation/progid.h"
#include "support/accounts.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

const char* KindName(MemberKind k) {
  switch (k) {
    case MemberKind::Get: return "Get";
    case MemberKind::Let: return "Let";
    case MemberKind::Set: return "Set";
    case MemberKind::Method: return "Method";
  }
  return "?";
}

// One block per ProgID: its class name, then one line per member in slot
// order: slot, kind, dispatch id, name and parameters (optional ones in
// brackets).
std::string ListMemberTables() {
  std::ostringstream out;
  for (const ProgIdEntry& entry : ProgIdTable()) {
    ObjectRef o = CreateObject(entry.progid);
    const ClassInfo& info = o->classInfo();
    out << entry.progid << " (" << info.name() << ")\n";
    for (const MemberInfo& m : info.members()) {
      char head[64];
      std::snprintf(head, sizeof head, "  %3d %-6s %6d  ", m.slot, KindName(m.kind), m.dispid);
      out << head << m.name << "(";
      for (size_t i = 0; i < m.params.size(); ++i) {
        if (i) out << ", ";
        out << (m.params[i].optional ? "[" + m.params[i].name + "]" : m.params[i].name);
      }
      out << ")\n";
    }
    out << "\n";
  }
  return out.str();
}

// `diff -u` of the two texts, for the failure message.
std::string UnifiedDiff(const std::string& want, const std::string& got) {
  test::TempDir dir;
  test::WriteFile(dir / "committed", want);
  test::WriteFile(dir / "live", got);
  return test::CommandOutput("diff -u '" + (dir / "committed") + "' '" + (dir / "live") + "'");
}

using MemberTables = test::PageTest;

TEST_F(MemberTables, MatchTheCommittedListing) {
  const std::string path = std::string(TORVANE_SOURCE_DIR) + "/tests/automation/member_tables.txt";
  std::string live = ListMemberTables();
  if (const char* update = std::getenv("TORVANE_UPDATE_MEMBER_TABLES"); update && std::string(update) == "1") {
    test::WriteFile(path, live);
    GTEST_SKIP() << "rewrote " << path;
  }
  std::string committed = test::ReadFile(path);
  ASSERT_FALSE(committed.empty()) << "missing listing " << path;
  EXPECT_TRUE(committed == live) << "member tables differ from " << path << ":\n" << UnifiedDiff(committed, live);
}

// The table a ProgID entry names for the reference is the one its factory's
// objects answer with.
TEST_F(MemberTables, EachProgIdNamesTheTableOfWhatItCreates) {
  for (const ProgIdEntry& entry : ProgIdTable()) {
    ObjectRef o = CreateObject(entry.progid);
    EXPECT_EQ(&o->classInfo(), &entry.classInfo()) << entry.progid;
  }
}

}  // namespace
}  // namespace torvane
