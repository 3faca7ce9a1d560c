// The Linux security operations against real files: POSIX ACL entries as
// getfacl shows them, what the kernel then allows, the exact-entry attribute,
// owners, and the failures that must leave the ACL as it was.
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/identity.h"
#include "platform/paths.h"
#include "platform/posix_acl.h"
#include "platform/security.h"
#include "support/accounts.h"
#include "support/memhost.h"
#include "support/thrown_error.h"

namespace torvane {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

using test::ThrownError;
using test::CommandOutput;
using test::TempDir;
using test::ThrowawayGroup;
using test::ThrowawayUser;

struct Listed {
  std::string name;
  int32_t mask, mode, inheritance, type;
};

std::vector<Listed> ListAll(const std::string& dosPath) {
  auto u = CreateLinuxSystemUtility();
  u->BeginAceList(dosPath);
  std::vector<Listed> out;
  for (;;) {
    std::string buf(2000, ' ');
    Listed l{};
    if (u->NextAce(l.mask, l.mode, l.inheritance, l.type, buf) == 0) break;
    l.name = buf.substr(0, buf.find('\0'));
    out.push_back(l);
  }
  u->EndAceList();
  return out;
}

// The entries listed for one trustee, in order.
std::vector<Listed> For(const std::vector<Listed>& all, const std::string& name) {
  std::vector<Listed> out;
  for (const auto& l : all)
    if (l.name == name) out.push_back(l);
  return out;
}

std::string Facl(const std::string& native, const char* options = "") {
  return CommandOutput(std::string("getfacl -cp ") + options + " '" + native + "' 2>/dev/null");
}

// Opens the path in a child process that runs as the user; true when open succeeds.
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

class LinuxAcl : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root for throwaway accounts";
    file = dir / "a.txt";
    test::WriteFile(file, "data");
    ::chmod(file.c_str(), 0640);
    folder = dir / "sub";
    ::mkdir(folder.c_str(), 0750);
    ::chmod(dir.path().c_str(), 0755);  // the throwaway users must reach the files
  }
  std::string Dos(const std::string& native) { return ToDosPath(native); }

  TempDir dir;
  std::string file, folder;
};

TEST_F(LinuxAcl, ReadOnlyEntryIsEnforcedByTheKernel) {
  ThrowawayUser bob("ra");
  ::chmod(dir.path().c_str(), 0755);
  auto u = CreateLinuxSystemUtility();
  u->SetAce(Dos(file), bob.name(), 0x120089, 2);
  EXPECT_THAT(Facl(file), HasSubstr("user:" + bob.name() + ":r--"));
  EXPECT_TRUE(OpensAs(bob, file, O_RDONLY));
  EXPECT_FALSE(OpensAs(bob, file, O_WRONLY));
  auto mine = For(ListAll(Dos(file)), bob.name());
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(mine[0].mask, 0x120089);
  EXPECT_EQ(mine[0].mode, 2);
  EXPECT_EQ(mine[0].type, 1);

  u->RevokeAce(Dos(file), bob.name());
  EXPECT_THAT(Facl(file), Not(HasSubstr("user:" + bob.name())));
  EXPECT_FALSE(OpensAs(bob, file, O_RDONLY));
  EXPECT_TRUE(For(ListAll(Dos(file)), bob.name()).empty());
}

TEST_F(LinuxAcl, FullControlReadsBackExactlyUntilAnotherToolChangesIt) {
  ThrowawayUser bob("rb");
  auto u = CreateLinuxSystemUtility();
  u->SetAce(Dos(file), bob.name(), 0x1F01FF, 2);
  EXPECT_THAT(Facl(file), HasSubstr("user:" + bob.name() + ":rwx"));
  auto mine = For(ListAll(Dos(file)), bob.name());
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(mine[0].mask, 0x1F01FF);

  // setfacl takes write away: the listing follows the ACL, not the attribute.
  ASSERT_EQ(test::RunCommand("setfacl -m u:" + bob.name() + ":r-x '" + file + "'"), 0);
  mine = For(ListAll(Dos(file)), bob.name());
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(mine[0].mask, 0x120089 | 0x1200A0);
}

TEST_F(LinuxAcl, ChmodNarrowingTheMaskMakesTheEntryDerived) {
  ThrowawayUser bob("rc");
  auto u = CreateLinuxSystemUtility();
  u->SetAce(Dos(file), bob.name(), 0x12019F, 2);
  ::chmod(file.c_str(), 0600);  // group class (mask) loses everything
  auto mine = For(ListAll(Dos(file)), bob.name());
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(mine[0].mask, 0) << "effective rights are what the kernel grants";
  // Writing again widens the mask just enough.
  u->SetAce(Dos(file), bob.name(), 0x120089, 2);
  EXPECT_THAT(Facl(file), HasSubstr("mask::r--"));
  EXPECT_TRUE(OpensAs(bob, file, O_RDONLY));
}

TEST_F(LinuxAcl, FolderFlagTwoWritesAccessAndDefaultFlagNineOnlyDefault) {
  ThrowawayUser bob("rd");
  ThrowawayUser eve("re");
  auto u = CreateLinuxSystemUtility();
  u->SetAce(Dos(folder), bob.name(), 0x120089, 2);
  u->SetAce(Dos(folder), eve.name(), 0x40000000, 9);
  std::string access = Facl(folder, "-a"), dflt = Facl(folder, "-d");
  EXPECT_THAT(access, HasSubstr("user:" + bob.name() + ":r--"));
  EXPECT_THAT(dflt, HasSubstr("user:" + bob.name() + ":r--"));
  EXPECT_THAT(access, Not(HasSubstr("user:" + eve.name())));
  EXPECT_THAT(dflt, HasSubstr("user:" + eve.name() + ":-w-"));

  auto all = ListAll(Dos(folder));
  auto b = For(all, bob.name()), e = For(all, eve.name());
  ASSERT_EQ(b.size(), 1u);
  EXPECT_EQ(b[0].inheritance, 2);
  ASSERT_EQ(e.size(), 1u);
  EXPECT_EQ(e[0].inheritance, 9);
  EXPECT_EQ(e[0].mask, 0x40000000);

  // A new file in the folder inherits both entries.
  std::string child = folder + "/new.txt";
  test::WriteFile(child, "x");
  std::string inherited = Facl(child);
  EXPECT_THAT(inherited, HasSubstr("user:" + bob.name() + ":r--"));
  EXPECT_THAT(inherited, HasSubstr("user:" + eve.name() + ":-w-"));
}

TEST_F(LinuxAcl, AddOnAFolderKeepsTheInheritedEntryAndThePermissionEntry) {
  ThrowawayUser bob("rf");
  auto u = CreateLinuxSystemUtility();
  u->SetAce(Dos(folder), bob.name(), 0x10000000, 9);  // inherit all
  u->SetAce(Dos(folder), bob.name(), 0x120089, 2);    // read on the folder
  auto mine = For(ListAll(Dos(folder)), bob.name());
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[0].inheritance, 9);
  EXPECT_EQ(mine[1].inheritance, 2);
  EXPECT_EQ(mine[1].mask, 0x120089);  // the last one read decides a page's Permissions
  EXPECT_THAT(Facl(folder, "-a"), HasSubstr("user:" + bob.name() + ":r--"));
  EXPECT_THAT(Facl(folder, "-d"), HasSubstr("user:" + bob.name() + ":rwx"));
  // Setting the inheritance again replaces only the flag-9 entry.
  u->SetAce(Dos(folder), bob.name(), 0x80000000, 9);
  mine = For(ListAll(Dos(folder)), bob.name());
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[0].mask, static_cast<int32_t>(0x80000000));
  EXPECT_THAT(Facl(folder, "-d"), HasSubstr("user:" + bob.name() + ":r--"));
}

TEST_F(LinuxAcl, EveryoneIsTheOtherClassAndOwnerIsTheOwnerEntry) {
  auto u = CreateLinuxSystemUtility();
  u->SetAce(Dos(file), "EVERYONE", 0x120089, 2);
  EXPECT_THAT(Facl(file), HasSubstr("other::r--"));
  u->SetAce(Dos(file), "root", 0x120089, 2);  // root owns the file: its owner entry
  EXPECT_THAT(Facl(file), HasSubstr("user::r--"));
  EXPECT_THAT(Facl(file), Not(HasSubstr("user:root")));
  auto all = ListAll(Dos(file));
  auto everyone = For(all, "Everyone");
  ASSERT_EQ(everyone.size(), 1u);
  EXPECT_EQ(everyone[0].type, 2);
  u->RemoveAce(Dos(file), "Everyone");
  EXPECT_THAT(Facl(file), HasSubstr("other::---"));
}

TEST_F(LinuxAcl, FreshFileListsOwnerGroupAndEveryone) {
  ThrowawayUser bob("rg");
  ::chown(file.c_str(), bob.uid(), bob.gid());
  auto all = ListAll(Dos(file));
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].name, bob.name());
  EXPECT_EQ(all[0].type, 1);
  EXPECT_EQ(all[0].mask, 0x120089 | 0x120116);  // rw-
  // The user's own group has the user's name: listed with the group: prefix.
  EXPECT_EQ(all[1].name, "group:" + bob.name());
  EXPECT_EQ(all[1].type, 2);
  EXPECT_EQ(all[1].mask, 0x120089);
  EXPECT_EQ(all[2].name, "Everyone");
  EXPECT_EQ(all[2].mask, 0);
  // That name resolves back to the group.
  auto u = CreateLinuxSystemUtility();
  u->SetAce(Dos(file), "group:" + bob.name(), 0x12019F, 2);
  EXPECT_THAT(Facl(file), HasSubstr("group::rw-"));
}

TEST_F(LinuxAcl, GroupTrusteesAndDomainPrefixes) {
  ThrowawayGroup staff("a");
  auto u = CreateLinuxSystemUtility();
  u->SetAce(Dos(file), "WORKGROUP\\" + staff.name(), 0x120116, 2);
  EXPECT_THAT(Facl(file), HasSubstr("group:" + staff.name() + ":-w-"));
  auto mine = For(ListAll(Dos(file)), staff.name());
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(mine[0].type, 2);
}

TEST_F(LinuxAcl, BadInputFailsClearlyAndLeavesTheAclAlone) {
  ThrowawayUser bob("rh");
  auto u = CreateLinuxSystemUtility();
  u->SetAce(Dos(file), bob.name(), 0x120089, 2);
  std::string before = Facl(file);
  Error e(0, "");
  e = ThrownError([&] { u->SetAce(Dos(file), "no-such-user-xyz", 0x120089, 2); });
  EXPECT_EQ(e.number, 22);
  EXPECT_EQ(e.description, "No user or group is named no-such-user-xyz.");
  EXPECT_EQ(ThrownError([&] { u->RevokeAce(Dos(file), "no-such-user-xyz"); }).number, 22);
  EXPECT_EQ(Facl(file), before);
  e = ThrownError([&] { u->SetAce(Dos(dir / "missing.txt"), bob.name(), 0x120089, 2); });
  EXPECT_EQ(e.number, 2);
  EXPECT_EQ(e.description, "No such file or directory");
  EXPECT_EQ(ThrownError([&] { u->BeginAceList(Dos(dir / "missing.txt")); }).number, 2);
}

TEST_F(LinuxAcl, FileSystemWithoutAclSupportFailsWithTheSystemError) {
  std::string mnt = dir / "ramfs";
  ::mkdir(mnt.c_str(), 0755);
  if (::mount("ramfs", mnt.c_str(), "ramfs", 0, nullptr) != 0) GTEST_SKIP() << "cannot mount ramfs here";
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount(path.c_str()); }
  } unmount{mnt};
  std::string f = mnt + "/x.txt";
  test::WriteFile(f, "x");
  ThrowawayUser bob("ri");
  ::chmod(f.c_str(), 0640);
  auto u = CreateLinuxSystemUtility();
  Error e = ThrownError([&] { u->SetAce(Dos(f), bob.name(), 0x120089, 2); });
  struct stat st {};
  ::stat(f.c_str(), &st);
  // The listing still works from the mode bits.
  auto all = ListAll(Dos(f));
  EXPECT_EQ(e.number, EOPNOTSUPP);
  EXPECT_EQ(e.description, "Operation not supported");
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].mask, 0x120089 | 0x120116);
}

TEST_F(LinuxAcl, ExactEntriesWithADenyAreListedInOrder) {
  ThrowawayUser bob("rj");
  // A hand-made attribute: allow generic read, then deny read; the ACL agrees (---).
  ASSERT_EQ(test::RunCommand("setfacl -m u:" + bob.name() + ":--- '" + file + "'"), 0);
  std::string attr = "torvane-acl 1\nA 0 00120089 u " + std::to_string(bob.uid()) + "\nD 0 00120089 u " +
                     std::to_string(bob.uid()) + "\n";
  ASSERT_EQ(setxattr(file.c_str(), kExactAceAttribute, attr.data(), attr.size(), 0), 0);
  auto mine = For(ListAll(Dos(file)), bob.name());
  ASSERT_EQ(mine.size(), 2u);
  EXPECT_EQ(mine[0].mode, 2);
  EXPECT_EQ(mine[1].mode, 3);
  // A damaged attribute is ignored: the ACL alone speaks.
  std::string junk = "torvane-acl 1\nX nonsense\n";
  ASSERT_EQ(setxattr(file.c_str(), kExactAceAttribute, junk.data(), junk.size(), 0), 0);
  mine = For(ListAll(Dos(file)), bob.name());
  ASSERT_EQ(mine.size(), 1u);
  EXPECT_EQ(mine[0].mask, 0);
}

TEST_F(LinuxAcl, OwnerIsReadAndChanged) {
  ThrowawayUser bob("rk");
  auto u = CreateLinuxSystemUtility();
  std::string buf(2001, ' ');
  u->GetOwner(Dos(file), buf);
  EXPECT_EQ(buf.substr(0, buf.find('\0')), "root");
  EXPECT_EQ(buf.find('\0'), 4u);
  u->SetOwner(Dos(file), "MACHINE\\" + bob.name());
  struct stat st {};
  ::stat(file.c_str(), &st);
  EXPECT_EQ(st.st_uid, bob.uid());
  buf.assign(2001, ' ');
  u->GetOwner(Dos(file), buf);
  EXPECT_EQ(buf.substr(0, buf.find('\0')), bob.name());
  Error e(0, "");
  e = ThrownError([&] { u->SetOwner(Dos(file), "no-such-user-xyz"); });
  EXPECT_EQ(e.number, 22);
  EXPECT_EQ(e.description, "No user is named no-such-user-xyz.");
  EXPECT_EQ(ThrownError([&] { u->GetOwner(Dos(dir / "missing"), buf); }).number, 2);
}

TEST_F(LinuxAcl, CallerWithoutTheRightChangesNeitherOwnerNorAcl) {
  ThrowawayUser bob("rl");
  ::chmod(dir.path().c_str(), 0755);
  ::chmod(file.c_str(), 0666);
  std::string before = Facl(file);
  auto u = CreateLinuxSystemUtility();
  SwitchThreadIdentity(FsIdentity{bob.uid(), bob.gid(), {bob.gid()}});
  Error ownerError = ThrownError([&] { u->SetOwner(Dos(file), bob.name()); });
  Error aclError = ThrownError([&] { u->SetAce(Dos(file), bob.name(), 0x1F01FF, 2); });
  RestoreThreadIdentity();
  EXPECT_EQ(ownerError.number, EPERM);
  EXPECT_EQ(ownerError.description, "Operation not permitted");
  EXPECT_EQ(aclError.number, EPERM);
  struct stat st {};
  ::stat(file.c_str(), &st);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(Facl(file), before);
}

TEST(PermsOfMask, FileAndGenericRightsMapToPosixBits) {
  const struct {
    int64_t in;
    int64_t want;
  } cases[] = {
      {0, 0},
      {0x120089, 4},
      {0x120088, 0},
      {0x120116, 2},
      {0x1200A0, 1},
      {0x1F01FF, 7},
      {0x10000, 0},          // delete alone has no rwx counterpart
      {0x10000000, 7},       // generic all
      {0x80000000, 4},
      {0xC0000000, 6},
      {0x20000000, 1},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PermsOfMask(static_cast<uint32_t>(c.in)), static_cast<unsigned>(c.want)) << std::hex << c.in;
  for (unsigned p = 0; p < 8; ++p) EXPECT_EQ(PermsOfMask(MaskOfPerms(p)), p);
}

}  // namespace
}  // namespace torvane
