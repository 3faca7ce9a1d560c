// The owner and ACL members through File, late-bound as a page drives them,
// over real files and throwaway accounts.
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "automation/progid.h"
#include "files/file.h"
#include "support/accounts.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

using test::ThrownError;
using ::testing::HasSubstr;

using test::CommandOutput;
using test::ThrowawayUser;

// Opens the path in a child process running as the user; true when open succeeds.
bool OpensAs(const ThrowawayUser& user, const std::string& native, int flags) {
  pid_t pid = fork();
  if (pid == 0) {
    gid_t g = user.gid();
    if (setgroups(1, &g) != 0 || setresgid(g, g, g) != 0 || setresuid(user.uid(), user.uid(), user.uid()) != 0) _exit(2);
    int fd = ::open(native.c_str(), flags);
    _exit(fd >= 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class FileSecurity : public test::PageTest {
 protected:
  FileSecurity() : PageTest(test::kFileTypesReg) {}
  // A File as a page makes it: created by ProgID, Name put by the DOS path.
  ObjectRef PageFile(const std::string& name) {
    ObjectRef f = CreateObject("Torvane.File");
    f->Invoke("Name", CallKind::Let, Args{Variant(Dos(name))});
    return f;
  }
};

TEST_F(FileSecurity, AcesListsTheFileOnceWithTheTraceLines) {
  test::WriteFile(Native("a.txt"), "abc");
  ::chmod(Native("a.txt").c_str(), 0640);
  auto f = FileAt("a.txt");
  std::string log = Traced(*f);
  Variant aces = f->Invoke("ACEs", CallKind::Get, Args{});
  ObjectRef c = aces.toObject();
  EXPECT_EQ(c->classInfo().name(), "cACE");
  EXPECT_EQ(c->Get("Count").toInt32(), 3);
  EXPECT_EQ(c->Invoke("Item", CallKind::Get, Args{Variant("root")}).toObject()->Get("Permissions").toInt32(), 3);
  EXPECT_EQ(c->Invoke("Item", CallKind::Get, Args{Variant("EVERYONE")}).toObject()->Get("Permissions").toInt32(), 0);
  f->Invoke("ACEs", CallKind::Get, Args{});
  std::string name = Dos("a.txt");
  auto lines = Lines(log);
  std::vector<std::string> acl;
  for (const auto& l : lines)
    if (l.find("ListAces") != std::string::npos || l.find("GetACEs") != std::string::npos) acl.push_back(l);
  EXPECT_EQ(acl, (std::vector<std::string>{"File.FileListAces - FileListAces " + name + ".",
                                           "File.GetACEs - Returned ACE collection for " + name + ".",
                                           "File.GetACEs - Returned ACE collection for " + name + "."}));
}

TEST_F(FileSecurity, AcesOfAMissingFileIs9027) {
  auto f = FileAt("missing.txt");
  Error e = ThrownError([&] { f->Invoke("ACEs", CallKind::Get, Args{}); });
  EXPECT_EQ(e.number, 9027);
  EXPECT_EQ(e.description, "File " + Dos("missing.txt") + " does not exist.");
}

TEST_F(FileSecurity, APageGrantsReadOnlyAccessThatTheKernelEnforces) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for throwaway accounts";
  ThrowawayUser reader("fa");
  ::chmod(site.path().c_str(), 0755);
  test::WriteFile(Native("report.txt"), "quarterly");
  ::chmod(Native("report.txt").c_str(), 0600);
  ObjectRef f = PageFile("report.txt");
  ObjectRef aces = f->Get("ACEs").toObject();
  ObjectRef ace = aces->Invoke("Add", CallKind::Method, Args{Variant(reader.name()), Variant(int32_t{1})}).toObject();
  EXPECT_EQ(ace->Get("Permissions").toInt32(), 1);
  EXPECT_EQ(aces->Get("Count").toInt32(), 0) << "the collection is read again on the next ACEs";

  std::string facl = CommandOutput("getfacl -cp '" + Native("report.txt") + "'");
  EXPECT_THAT(facl, HasSubstr("user:" + reader.name() + ":r--"));
  EXPECT_TRUE(OpensAs(reader, Native("report.txt"), O_RDONLY));
  EXPECT_FALSE(OpensAs(reader, Native("report.txt"), O_WRONLY));
  // The same through setpriv, as an administrator would check it.
  std::string as = "setpriv --reuid=" + reader.name() + " --regid=" + reader.name() + " --clear-groups ";
  EXPECT_EQ(CommandOutput(as + "cat '" + Native("report.txt") + "' 2>/dev/null"), "quarterly");
  EXPECT_NE(test::RunCommand(as + "sh -c 'echo x >> \"" + Native("report.txt") + "\"' 2>/dev/null"), 0);
  EXPECT_EQ(test::ReadFile(Native("report.txt")), "quarterly");

  ObjectRef again = f->Get("ACEs").toObject();
  ObjectRef listed = again->Invoke("Item", CallKind::Get, Args{Variant(reader.name())}).toObject();
  EXPECT_EQ(listed->Get("Permissions").toInt32(), 1);
  EXPECT_EQ(listed->Get("TrusteeType").toInt32(), 1);

  // Full Control reads back as 63, and Permissions 0 revokes.
  listed->Invoke("Permissions", CallKind::Let, Args{Variant(int32_t{63})});
  f->Invoke("Refresh", CallKind::Method, Args{});
  listed = f->Get("ACEs").toObject()->Invoke("Item", CallKind::Get, Args{Variant(reader.name())}).toObject();
  EXPECT_EQ(listed->Get("Permissions").toInt32(), 63);
  EXPECT_TRUE(OpensAs(reader, Native("report.txt"), O_WRONLY));
  listed->Invoke("Permissions", CallKind::Let, Args{Variant(int32_t{0})});
  EXPECT_FALSE(OpensAs(reader, Native("report.txt"), O_RDONLY));
}

TEST_F(FileSecurity, UnknownTrusteeFailsAndChangesNothing) {
  test::WriteFile(Native("a.txt"), "abc");
  ObjectRef f = PageFile("a.txt");
  ObjectRef aces = f->Get("ACEs").toObject();
  std::string before = CommandOutput("getfacl -cp '" + Native("a.txt") + "'");
  Error e = ThrownError([&] { aces->Invoke("Add", CallKind::Method, Args{Variant("nobody-at-all-x"), Variant(int32_t{1})}); });
  EXPECT_EQ(e.number, 22);
  EXPECT_EQ(e.description, "No user or group is named nobody-at-all-x.");
  EXPECT_FALSE(aces->Invoke("Exists", CallKind::Method, Args{Variant("nobody-at-all-x")}).toBool());
  EXPECT_EQ(aces->Get("Count").toInt32(), 3);
  EXPECT_EQ(CommandOutput("getfacl -cp '" + Native("a.txt") + "'"), before);
}

TEST_F(FileSecurity, OwnerIsReadChangedAndRendered) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for throwaway accounts";
  ThrowawayUser owner("fb");
  test::WriteFile(Native("a.txt"), "abc");
  auto f = FileAt("a.txt");
  EXPECT_EQ(f->Get("Owner").toString(), "root");
  f->Invoke("Owner", CallKind::Let, Args{Variant(owner.name())});
  struct stat st {};
  ::stat(Native("a.txt").c_str(), &st);
  EXPECT_EQ(st.st_uid, owner.uid());
  EXPECT_EQ(f->Get("Owner").toString(), owner.name());
  EXPECT_THAT(f->ToXML(), HasSubstr("<owner>" + owner.name() + "</owner>"));

  std::string log = Traced(*f);
  Error e = ThrownError([&] { f->Invoke("Owner", CallKind::Let, Args{Variant("nobody-at-all-x")}); });
  EXPECT_EQ(e.number, 22);
  auto lines = Lines(log);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "***Error in File.LetOwner *** - Let Owner of " + Dos("a.txt") + " Failed.");
  EXPECT_EQ(lines.back(), "(22) No user is named nobody-at-all-x.");
  EXPECT_EQ(f->Get("Owner").toString(), owner.name());
}

TEST_F(FileSecurity, AFileObjectOnAFolderWritesTheInheritedEntryToo) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root for throwaway accounts";
  ThrowawayUser user("fc");
  ::mkdir(Native("box").c_str(), 0755);
  ObjectRef f = PageFile("box");
  ObjectRef aces = f->Get("ACEs").toObject();
  aces->Invoke("Add", CallKind::Method, Args{Variant(user.name()), Variant(int32_t{3})});
  std::string dflt = CommandOutput("getfacl -cpd '" + Native("box") + "'");
  EXPECT_THAT(dflt, HasSubstr("user:" + user.name() + ":rwx"));  // inherit all
  std::string access = CommandOutput("getfacl -cpa '" + Native("box") + "'");
  EXPECT_THAT(access, HasSubstr("user:" + user.name() + ":rw-"));
}

}  // namespace
}  // namespace torvane
