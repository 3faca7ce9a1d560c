// Impersonation with real accounts and a PAM configuration made for the test
// (pam_matrix from libpam-wrapper checks passwords against a file of its own;
// pam_unix checks the throwaway user's real shadow entry). Only the calling
// thread changes; other threads, and the next page on the same worker after the
// host's RestoreThreadIdentity, run as the process itself.
#include <fcntl.h>
#include <glob.h>
#include <grp.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <thread>

#include "machine/computer.h"
#include "platform/identity.h"
#include "platform/pam_auth.h"
#include "platform/settings.h"
#include "support/accounts.h"
#include "support/memhost.h"
#include "support/registry_fixture.h"
#include "support/thrown_error.h"

namespace torvane {
namespace {

using test::TempDir;
using test::ThrowawayUser;
using test::ThrownError;

std::string PamMatrixModule() {
  glob_t g{};
  std::string found;
  if (glob("/usr/lib/*/pam_wrapper/pam_matrix.so", 0, nullptr, &g) == 0 && g.gl_pathc > 0) found = g.gl_pathv[0];
  globfree(&g);
  return found;
}

uid_t OwnerOfNewFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
  if (fd < 0) return static_cast<uid_t>(-1);
  ::close(fd);
  struct stat st {};
  ::stat(path.c_str(), &st);
  return st.st_uid;
}

class Impersonation : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::IsRoot()) GTEST_SKIP() << "needs root to create accounts and switch identities";
    std::string module = PamMatrixModule();
    if (module.empty()) GTEST_SKIP() << "pam_matrix (libpam-wrapper) is not installed";
    bob = std::make_unique<ThrowawayUser>("ia", "Bob-pass-1");
    eve = std::make_unique<ThrowawayUser>("ib", "Eve-pass-1");
    std::string passdb = pam / "passdb";
    test::WriteFile(passdb, bob->name() + ":" + bob->password() + ":torvane-test\n" + eve->name() + ":" +
                                eve->password() + ":some-other-service\n");
    std::string line = module + " passdb=" + passdb + "\n";
    test::WriteFile(pam / "torvane-test", "auth required " + line + "account required " + line);
    // nodelay: a refused password answers at once instead of after the usual
    // two-second failure delay.
    test::WriteFile(pam / "torvane-unix", "auth required pam_unix.so nodelay\naccount required pam_unix.so\n");
    SetPamConfigDir(pam.path());
    previous = CurrentSettings();
    Settings s = previous;
    s.pamService = "torvane-test";
    SetSettings(s);
    ::chmod(work.path().c_str(), 0777);
  }
  void TearDown() override {
    RestoreThreadIdentity();
    SetPamConfigDir("");
    SetSettings(previous);
  }
  void UseService(const std::string& service) {
    Settings s = CurrentSettings();
    s.pamService = service;
    SetSettings(s);
  }
  std::shared_ptr<Computer> NewComputer() { return std::static_pointer_cast<Computer>(Computer::Create()); }
  void Impersonate(Computer& c, const std::string& user, const std::string& password) {
    c.Impersonate(Variant(user), Variant(password), Variant(""), Variant::Missing());
  }

  test::RegistryFixture registry;  // no policy: impersonation allowed
  TempDir pam, work;
  std::unique_ptr<ThrowawayUser> bob, eve;
  Settings previous;
};

TEST_F(Impersonation, FilesAreCreatedAsTheUserUntilEndImpersonate) {
  auto c = NewComputer();
  EXPECT_EQ(c->UserName(), "root");
  Impersonate(*c, bob->name(), bob->password());
  EXPECT_EQ(c->UserName(), bob->name());
  EXPECT_TRUE(ThreadIsImpersonating());
  EXPECT_EQ(OwnerOfNewFile(work / "as-bob.txt"), bob->uid());
  c->EndImpersonate();
  EXPECT_EQ(c->UserName(), "root");
  EXPECT_EQ(OwnerOfNewFile(work / "as-root.txt"), 0u);
}

TEST_F(Impersonation, SupplementaryGroupsAreTheUsersOwn) {
  test::ThrowawayGroup staff("ic");
  staff.AddMember(bob->name());
  std::string secret = work / "staff-only.txt";
  test::WriteFile(secret, "s");
  ::chown(secret.c_str(), 0, staff.gid());
  ::chmod(secret.c_str(), 0640);
  std::string rootOnly = work / "root-only.txt";
  test::WriteFile(rootOnly, "r");
  ::chmod(rootOnly.c_str(), 0600);
  auto c = NewComputer();
  Impersonate(*c, bob->name(), bob->password());
  int staffFd = ::open(secret.c_str(), O_RDONLY);
  int rootFd = ::open(rootOnly.c_str(), O_RDONLY);
  auto groups = CurrentThreadIdentity().groups;
  c->EndImpersonate();
  EXPECT_GE(staffFd, 0) << "a member of the file's group reads it";
  EXPECT_LT(rootFd, 0) << "root's privileges do not leak into the impersonated thread";
  if (staffFd >= 0) ::close(staffFd);
  if (rootFd >= 0) ::close(rootFd);
  EXPECT_NE(std::find(groups.begin(), groups.end(), staff.gid()), groups.end());
  EXPECT_EQ(std::find(groups.begin(), groups.end(), 0u), groups.end());
}

TEST_F(Impersonation, AnotherThreadKeepsItsOwnIdentity) {
  // Two worker threads, started before any page impersonates (as a host's pool).
  std::promise<void> impersonated, checked, release;
  std::string otherUser;
  uid_t otherOwner = 1;
  std::thread other([&] {
    impersonated.get_future().wait();
    otherUser = NewComputer()->UserName();
    otherOwner = OwnerOfNewFile(work / "other-thread.txt");
    checked.set_value();
  });
  auto c = NewComputer();
  Impersonate(*c, bob->name(), bob->password());
  impersonated.set_value();
  checked.get_future().wait();
  other.join();
  EXPECT_EQ(otherUser, "root");
  EXPECT_EQ(otherOwner, 0u);
  EXPECT_EQ(c->UserName(), bob->name());
  c->EndImpersonate();

  // And the other way round: a second page impersonating leaves this thread alone.
  std::promise<void> second;
  std::thread page([&] {
    auto mine = NewComputer();
    Impersonate(*mine, bob->name(), bob->password());
    second.set_value();
    release.get_future().wait();
    RestoreThreadIdentity();
  });
  second.get_future().wait();
  EXPECT_EQ(c->UserName(), "root");
  EXPECT_EQ(OwnerOfNewFile(work / "this-thread.txt"), 0u);
  release.set_value();
  page.join();
}

TEST_F(Impersonation, AThreadStartedWhileImpersonatingIsRestoredToo) {
  // The kernel gives a new thread its creator's credentials; the end-of-page
  // restore must bring such a thread back as well.
  auto c = NewComputer();
  Impersonate(*c, bob->name(), bob->password());
  std::string before, after;
  bool flagged = false;
  uid_t owner = 1;
  std::thread child([&] {
    before = NewComputer()->UserName();
    flagged = ThreadIsImpersonating();
    RestoreThreadIdentity();
    after = NewComputer()->UserName();
    owner = OwnerOfNewFile(work / "child.txt");
  });
  child.join();
  c->EndImpersonate();
  EXPECT_EQ(before, bob->name());
  EXPECT_TRUE(flagged);
  EXPECT_EQ(after, "root");
  EXPECT_EQ(owner, 0u);
}

TEST_F(Impersonation, ThePageAfterOneThatForgotEndImpersonateRunsAsTheServer) {
  // One worker thread runs two pages in a row, as the web host does.
  std::string firstUser, secondUser;
  uid_t firstOwner = 0, secondOwner = 0;
  std::thread worker([&] {
    {  // page 1: impersonates and ends without EndImpersonate
      auto c = NewComputer();
      Impersonate(*c, bob->name(), bob->password());
      firstUser = c->UserName();
      firstOwner = OwnerOfNewFile(work / "page1.txt");
    }
    RestoreThreadIdentity();  // the host, at the end of every page
    {  // page 2
      auto c = NewComputer();
      secondUser = c->UserName();
      secondOwner = OwnerOfNewFile(work / "page2.txt");
    }
  });
  worker.join();
  EXPECT_EQ(firstUser, bob->name());
  EXPECT_EQ(firstOwner, bob->uid());
  EXPECT_EQ(secondUser, "root");
  EXPECT_EQ(secondOwner, 0u);
}

TEST_F(Impersonation, RefusalsFailClearlyAndLeaveTheIdentityAlone) {
  struct Case {
    std::string user, password, text;
  };
  const Case cases[] = {
      {bob->name(), "wrong", "Logon failure: unknown user name or bad password."},
      {"tvnosuchuser", "x", "Logon failure: unknown user name or bad password."},
      // eve may only log on to another service: pam_matrix's account check refuses.
      {eve->name(), eve->password(), "Logon failure: the account is locked, expired or may not log on now ("},
  };
  auto c = NewComputer();
  for (bool already : {false, true}) {
    if (already) Impersonate(*c, bob->name(), bob->password());
    std::string expectUser = already ? bob->name() : "root";
    for (const auto& k : cases) {
      Error f = ThrownError([&] { Impersonate(*c, k.user, k.password); });
      EXPECT_EQ(f.number, 13) << k.user;
      EXPECT_EQ(f.description.rfind(k.text, 0), 0u) << f.description;
      EXPECT_EQ(c->UserName(), expectUser) << k.user;
      EXPECT_EQ(ThreadIsImpersonating(), already);
    }
  }
  c->EndImpersonate();
}

TEST_F(Impersonation, RealShadowEntryExpiredAccountAndLockedPassword) {
#if defined(__SANITIZE_ADDRESS__)
  // pam_unix calls crypt_r from libcrypt, which is loaded only when PAM loads
  // the module; AddressSanitizer's interceptor then has no real function to call.
  GTEST_SKIP() << "pam_unix cannot run under AddressSanitizer in this process";
#endif
  UseService("torvane-unix");
  auto c = NewComputer();
  Impersonate(*c, bob->name(), bob->password());
  EXPECT_EQ(c->UserName(), bob->name());
  c->EndImpersonate();

  ASSERT_EQ(test::RunCommand("usermod -e 1 " + bob->name()), 0);  // expired in 1970
  Error expired = ThrownError([&] { Impersonate(*c, bob->name(), bob->password()); });
  EXPECT_EQ(expired.number, 13);
  EXPECT_EQ(expired.description.rfind("Logon failure: the account is locked, expired or may not log on now (", 0), 0u)
      << expired.description;
  ASSERT_EQ(test::RunCommand("usermod -e '' " + bob->name() + " && usermod -L " + bob->name()), 0);
  Error locked = ThrownError([&] { Impersonate(*c, bob->name(), bob->password()); });
  EXPECT_EQ(locked.number, 13);
  EXPECT_EQ(c->UserName(), "root");
  EXPECT_FALSE(ThreadIsImpersonating());
}

TEST_F(Impersonation, UnknownLoginTypeIsRefusedBeforeAuthenticating) {
  auto c = NewComputer();
  Error f = ThrownError(
      [&] { c->Impersonate(Variant(bob->name()), Variant(bob->password()), Variant(""), Variant(int32_t{6})); });
  EXPECT_EQ(f.number, 22);
  EXPECT_EQ(f.description, "Invalid login type 6.");
  std::string upper = bob->name();
  for (auto& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  c->Impersonate(Variant("WORKGROUP\\" + upper), Variant(bob->password()), Variant("WORKGROUP"),
                 Variant(int32_t{3}));
  EXPECT_EQ(c->UserName(), bob->name());
  c->EndImpersonate();
}

}  // namespace
}  // namespace torvane
