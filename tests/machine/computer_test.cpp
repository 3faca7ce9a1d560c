// Computer: the policy test, what reaches the system utility, trace lines,
// names and XML. Real impersonation is in impersonation_test.cpp.
#include "machine/computer.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "automation/progid.h"
#include "files/file.h"
#include "platform/paths.h"
#include "security/recording_utility.h"
#include "support/memhost.h"
#include "support/registry_fixture.h"

namespace torvane {
namespace {

using test::RecordingUtility;
using test::RegistryFixture;
using test::TempDir;

using Lines = std::vector<std::string>;

class ComputerTest : public ::testing::Test {
 protected:
  std::shared_ptr<Computer> Traced() {
    auto c = std::static_pointer_cast<Computer>(CreateObject("Torvane.Computer"));
    auto f = File::New();
    f->SetName(ToDosPath(log));
    c->SetTraceFile(Variant(ObjectRef(f)));
    return c;
  }
  // Messages after "TraceLog Opened" and the SetTraceFile line.
  Lines Trace() {
    auto all = test::TraceMessages(log);
    if (all.size() < 2) {
      ADD_FAILURE() << "trace log too short";
      return all;
    }
    EXPECT_EQ(all[1], "Computer.SetTraceFile - Set TraceFile object.");
    all.erase(all.begin(), all.begin() + 2);
    return all;
  }

  TempDir dir;
  std::string log = dir / "trace.log";
  RegistryFixture registry;
};

int32_t ErrorNumber(const std::function<void()>& fn, std::string* text = nullptr) {
  try {
    fn();
  } catch (const Error& e) {
    if (text) *text = e.description;
    return e.number;
  }
  return 0;
}

TEST_F(ComputerTest, PolicyFalseRefusesBothCallsBeforeAnythingHappens) {
  registry.SetPolicy("AllowImpersonation", "False");
  RecordingUtility::Scope rec;
  auto c = Traced();
  std::string text;
  Args args{Variant("bob"), Variant("pw"), Variant("")};
  EXPECT_EQ(ErrorNumber([&] { c->Invoke("Impersonate", CallKind::Method, args); }, &text), 9033);
  EXPECT_EQ(text, "Access Denied");
  EXPECT_EQ(ErrorNumber([&] { c->EndImpersonate(); }, &text), 9033);
  EXPECT_EQ(text, "Access Denied");
  EXPECT_TRUE(rec.state->calls.empty());
  EXPECT_TRUE(Trace().empty());
}

TEST_F(ComputerTest, OnlyTheExactTextFalseRefuses) {
  for (const char* value : {"false", "True", "FALSE", ""}) {
    registry.SetPolicy("AllowImpersonation", value);
    RecordingUtility::Scope rec;
    auto c = std::static_pointer_cast<Computer>(Computer::Create());
    c->Impersonate(Variant("bob"), Variant("pw"), Variant("DOM"), Variant::Missing());
    c->EndImpersonate();
    EXPECT_EQ(rec.state->calls, (Lines{"Impersonate DOM bob pw 2", "EndImpersonate"})) << value;
  }
}

TEST_F(ComputerTest, LoginTypeDefaultsToInteractiveAndIsConverted) {
  RecordingUtility::Scope rec;
  auto c = std::static_pointer_cast<Computer>(Computer::Create());
  Args omitted{Variant("bob"), Variant("pw"), Variant("")};
  c->Invoke("Impersonate", CallKind::Method, omitted);
  EXPECT_EQ(rec.state->lastLogonType, 2);
  c->Impersonate(Variant("bob"), Variant("pw"), Variant(""), Variant("3"));
  EXPECT_EQ(rec.state->lastLogonType, 3);
  c->Impersonate(Variant(int32_t{42}), Variant(int32_t{7}), Variant(true), Variant(int32_t{5}));
  EXPECT_EQ(rec.state->calls.back(), "Impersonate True 42 7 5");  // every argument goes through as text
}

TEST_F(ComputerTest, TraceLinesForSuccessAndFailure) {
  RecordingUtility::Scope rec;
  auto c = Traced();
  c->Impersonate(Variant("bob"), Variant("pw"), Variant(""), Variant::Missing());
  c->EndImpersonate();
  rec.state->failures.emplace("Impersonate", Error(-2147023570, "Logon failure"));  // 0x8007052E
  rec.state->failures.emplace("EndImpersonate", Error(1, "Operation not permitted"));
  std::string text;
  EXPECT_EQ(ErrorNumber([&] { c->Impersonate(Variant("eve"), Variant("x"), Variant(""), Variant::Missing()); }, &text),
            0x052E);
  EXPECT_EQ(text, "Logon failure");
  EXPECT_EQ(ErrorNumber([&] { c->EndImpersonate(); }), 1);
  // A login type that is no number fails in the same handler.
  EXPECT_EQ(ErrorNumber([&] { c->Impersonate(Variant("eve"), Variant("x"), Variant(""), Variant("abc")); }), 13);
  EXPECT_EQ(Trace(), (Lines{"Computer.Impersonate - Impersonate bob.", "Computer.EndImpersonate.",
                            "***Error in Computer.Impersonate *** - Impersonate of eve Failed.", "(1326) Logon failure",
                            "***Error in Computer.EndImpersonate ***", "(1) Operation not permitted",
                            "***Error in Computer.Impersonate *** - Impersonate of eve Failed.", "(13) Type mismatch"}));
}

TEST_F(ComputerTest, NamesAndXml) {
  auto c = std::static_pointer_cast<Computer>(Computer::Create());
  std::string name = c->ComputerName();
  ASSERT_FALSE(name.empty());
  EXPECT_LE(name.size(), 15u);
  EXPECT_EQ(name.find('.'), std::string::npos);
  for (char ch : name) EXPECT_FALSE(ch >= 'a' && ch <= 'z') << name;
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  EXPECT_TRUE(strncasecmp(host, name.c_str(), name.size()) == 0);
  std::string user = c->UserName();
  EXPECT_FALSE(user.empty());
  EXPECT_EQ(c->ToXML(Variant::Missing(), Variant::Missing()),
            "<computer><computername>" + name + "</computername><username>" + user + "</username></computer>");
  EXPECT_EQ(c->ToXML(Variant("username,drives"), Variant("<x/>")), "<computer><username>" + user + "</username><x/></computer>");
}

TEST_F(ComputerTest, TraceFileGetAndOnStartPage) {
  auto c = Traced();
  EXPECT_EQ(c->Get("TraceFile").toObject()->classInfo().name(), "File");
  EXPECT_EQ(Trace(), (Lines{"Computer.GetTraceFile - Returned TraceFile object."}));
  test::MemHost host(dir.path());
  test::MemHost::Scope page(host);
  Args arg{Variant()};
  EXPECT_TRUE(c->Invoke("OnStartPage", CallKind::Method, arg).isEmpty());
}

}  // namespace
}  // namespace torvane
