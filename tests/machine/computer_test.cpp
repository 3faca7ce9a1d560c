// Computer: the policy test, what reaches the system utility, trace lines,
// names and XML. Real impersonation is in impersonation_test.cpp.
#include "machine/computer.h"

#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "automation/progid.h"
#include "dirs/cdirectories.h"
#include "dirs/directory.h"
#include "files/file.h"
#include "platform/paths.h"
#include "security/recording_utility.h"
#include "support/memhost.h"
#include "support/registry_fixture.h"
#include "support/thrown_error.h"

namespace torvane {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using test::ThrownError;
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

TEST_F(ComputerTest, PolicyFalseRefusesBothCallsBeforeAnythingHappens) {
  registry.SetPolicy("AllowImpersonation", "False");
  RecordingUtility::Scope rec;
  auto c = Traced();
  Error e(0, "");
  Args args{Variant("bob"), Variant("pw"), Variant("")};
  e = ThrownError([&] { c->Invoke("Impersonate", CallKind::Method, args); });
  EXPECT_EQ(e.number, 9033);
  EXPECT_EQ(e.description, "Access Denied");
  e = ThrownError([&] { c->EndImpersonate(); });
  EXPECT_EQ(e.number, 9033);
  EXPECT_EQ(e.description, "Access Denied");
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
  Error e(0, "");
  e = ThrownError([&] { c->Impersonate(Variant("eve"), Variant("x"), Variant(""), Variant::Missing()); });
  EXPECT_EQ(e.number, 0x052E);
  EXPECT_EQ(e.description, "Logon failure");
  EXPECT_EQ(ThrownError([&] { c->EndImpersonate(); }).number, 1);
  // A login type that is no number fails in the same handler.
  EXPECT_EQ(ThrownError([&] { c->Impersonate(Variant("eve"), Variant("x"), Variant(""), Variant("abc")); }).number, 13);
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
  EXPECT_THAT(name, Not(HasSubstr(".")));
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

// Puts the process's drive table back after a test changed it.
class DriveTableScope {
 public:
  explicit DriveTableScope(DriveTable table) : previous_(Drives()) { SetDrives(std::move(table)); }
  ~DriveTableScope() { SetDrives(previous_); }

 private:
  DriveTable previous_;
};

std::vector<std::string> DrivePaths(const Variant& drives) {
  std::vector<std::string> out;
  ObjectRef c = drives.toObject();
  int32_t n = c->Get("Count").toInt32();
  for (int32_t i = 1; i <= n; ++i)
    out.push_back(c->Invoke("Item", CallKind::Get, Args{Variant(i)}).toObject()->Get("Path").toString());
  return out;
}

TEST_F(ComputerTest, DrivesAreTheDriveTableInLetterOrderBuiltOnce) {
  DriveTable t;
  t.drives = {{'D', dir.path()}, {'A', "/nonexistent-floppy"}, {'C', "/"}};
  DriveTableScope drives(t);
  auto c = std::static_pointer_cast<Computer>(Computer::Create());
  Variant first = c->Get("Drives");
  EXPECT_EQ(first.toObject()->classInfo().name(), "cDirectories");
  EXPECT_EQ(DrivePaths(first), (std::vector<std::string>{"A:\\", "C:\\", "D:\\"}));
  EXPECT_EQ(first.toObject()->Invoke("Item", CallKind::Get, Args{Variant(int32_t{1})}).toObject()->classInfo().name(),
            "Directory");
  // A drive that appears later is not added: the list is read once per object.
  DriveTable more = t;
  more.drives['E'] = "/";
  SetDrives(more);
  Variant second = c->Get("Drives");
  EXPECT_EQ(second.toObject(), first.toObject());
  EXPECT_EQ(DrivePaths(second).size(), 3u);
  // A new Computer reads the table again.
  EXPECT_EQ(DrivePaths(std::static_pointer_cast<Computer>(Computer::Create())->Get("Drives")).size(), 4u);
}

TEST_F(ComputerTest, VirtualOnlyRefusesDrivesAndNothingIsKept) {
  registry.SetPolicy("AllowPaths", "VirtualOnly");
  auto c = std::static_pointer_cast<Computer>(Computer::Create());
  Error e(0, "");
  e = ThrownError([&] { c->Get("Drives"); });
  EXPECT_EQ(e.number, 9030);
  EXPECT_EQ(e.description, "Only virtual directories may be used.");
  EXPECT_THAT(c->ToXML(Variant::Missing(), Variant::Missing()), Not(HasSubstr("drive")));
  // The list was not marked as read: once the thread may use physical paths it is built.
  registry.Write("");
  ResetPathPolicy();
  EXPECT_EQ(DrivePaths(c->Get("Drives")).front(), "C:\\");
}

}  // namespace
}  // namespace torvane
