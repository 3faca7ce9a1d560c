#include "platform/identity.h"

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "automation/error.h"
#include "support/accounts.h"

namespace torvane {
namespace {

TEST(ThreadIdentity, RestoreOnAThreadThatNeverSwitchedChangesNothing) {
  FsIdentity before = CurrentThreadIdentity();
  RestoreThreadIdentity();
  FsIdentity after = CurrentThreadIdentity();
  EXPECT_EQ(after.uid, before.uid);
  EXPECT_EQ(after.gid, before.gid);
  EXPECT_EQ(after.groups, before.groups);
  EXPECT_FALSE(ThreadIsImpersonating());
}

TEST(ThreadIdentity, SwitchIsRefusedWithoutPrivilegeAndNothingChanges) {
  if (!test::IsRoot()) GTEST_SKIP() << "needs root to drop privileges in a child";
  // A child process without CAP_SETUID/CAP_SETGID tries to switch.
  pid_t pid = fork();
  if (pid == 0) {
    gid_t g = 65534;
    if (setgroups(1, &g) != 0 || setresgid(g, g, g) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(3);
    FsIdentity before = CurrentThreadIdentity();
    bool refused = false;
    try {
      SwitchThreadIdentity(FsIdentity{0, 0, {0}});
    } catch (const Error& e) {
      refused = e.number == EPERM;
    }
    FsIdentity after = CurrentThreadIdentity();
    bool same = after.uid == before.uid && after.gid == before.gid && after.groups == before.groups;
    _exit(refused && same && !ThreadIsImpersonating() ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace torvane
