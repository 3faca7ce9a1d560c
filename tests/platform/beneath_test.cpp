// Paths below a folder as the kernel resolves them, with openat2 and with the
// component walk that stands in for it: the same answers either way.
#include "platform/beneath.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "support/memhost.h"

namespace torvane::test {
namespace {

// A site root "site" beside a folder "outside", with links of every kind.
class Beneath : public ::testing::TestWithParam<bool> {
 protected:
  TempDir tmp;
  std::string site = tmp / "site";
  std::string outside = tmp / "outside";

  void SetUp() override {
    UseOpenat2(GetParam());
    std::filesystem::create_directories(site + "/data/deep");
    std::filesystem::create_directories(site + "/a");
    std::filesystem::create_directories(outside);
    WriteFile(site + "/data/f.txt", "f");
    WriteFile(outside + "/secret.txt", "secret");
    Link(outside, "out");                 // absolute, out
    Link("../outside", "rel-out");        // relative, out
    Link("data", "in");                   // relative, in
    Link(site + "/data", "abs-in");       // absolute, lands inside: still counts as out
    Link("/nonexistent-dir/x", "dangling-out");
    Link("nothere/x", "dangling-in");
    Link("..", "a/up");                   // the site root itself
    Link("a/up/../outside", "chain-out");  // a/up/.. is the folder above the root
    Link("loop", "loop");
  }
  void TearDown() override { UseOpenat2(true); }
  void Link(const std::string& target, const std::string& name) {
    ASSERT_EQ(::symlink(target.c_str(), (site + "/" + name).c_str()), 0) << name;
  }
};

TEST_P(Beneath, PathStaysBeneathFollowsLinksOnlyWhileTheyStayInside) {
  struct Case {
    const char* rel;
    bool inside;
  };
  const std::vector<Case> cases = {
      {"", true},
      {"data/f.txt", true},
      {"data/new/deeper/file.txt", true},  // a tail that does not exist yet
      {"in/f.txt", true},
      {"in/deep", true},
      {"a/up/data/f.txt", true},           // through a link to the root itself
      {"a/up/a/up/in/f.txt", true},
      {"dangling-in", true},
      {"dangling-in/more", true},
      {"out", false},
      {"out/secret.txt", false},
      {"out/new.txt", false},              // creating through it would write outside
      {"rel-out/secret.txt", false},
      {"abs-in/f.txt", false},
      {"dangling-out", false},
      {"chain-out/secret.txt", false},
      {"loop", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(PathStaysBeneath(site, site + (c.rel[0] ? "/" : "") + c.rel), c.inside) << c.rel;
  EXPECT_FALSE(PathStaysBeneath(site, outside + "/secret.txt"));  // not even textually below
  EXPECT_FALSE(PathStaysBeneath(site, site + "-other/x"));
  EXPECT_FALSE(PathStaysBeneath(site, site + "/data/../../outside"));
  EXPECT_TRUE(PathStaysBeneath(site + "/", site + "/data/"));
}

TEST_P(Beneath, ResolveBeneathReadsLinksAndTakesMissingNamesAsWritten) {
  int root = ::open(site.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(root, 0);
  struct Case {
    std::vector<std::string> from;
    const char* path;
    torvane::Beneath want;
  };
  using B = torvane::Beneath;
  const std::vector<Case> cases = {
      {{}, "data/f.txt", B::Inside},
      {{"data"}, "../in/f.txt", B::Inside},
      {{}, "a/up/a/up/data", B::Inside},
      {{}, "a/up/../x", B::Outside},                 // the link makes ".." climb out
      {{"a"}, "up/up", B::Inside},                   // "up" from the root is missing: taken by name
      {{}, "missing/../../x", B::Outside},           // textually out
      {{}, "missing/../data/f.txt", B::Inside},
      {{}, "data/f.txt/../../x", B::Inside},         // a file is taken by name too
      {{}, "data/f.txt/../../../x", B::Outside},
      {{}, "chain-out", B::Outside},
      {{}, "abs-in", B::Outside},
      {{}, "/etc/passwd", B::Outside},
      {{}, "", B::Outside},
      {{}, "loop", B::Loop},
      {{"a", "up"}, "../x", B::Outside},              // `from` is walked like the path
  };
  for (const auto& c : cases) EXPECT_EQ(ResolveBeneath(root, c.from, c.path), c.want) << c.path;
  ::close(root);
}

TEST_P(Beneath, OpenNoFollowNeverPassesALink) {
  int root = ::open(site.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(root, 0);
  int fd = OpenNoFollow(root, "data/deep", O_PATH | O_DIRECTORY);
  EXPECT_GE(fd, 0);
  if (fd >= 0) ::close(fd);
  fd = OpenNoFollow(root, "data/new.txt", O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ::close(fd);
  EXPECT_TRUE(FileExists(site + "/data/new.txt"));
  for (const char* rel : {"in/f.txt", "in", "a/up/data", "out/secret.txt", "out"}) {
    errno = 0;
    fd = OpenNoFollow(root, rel, O_PATH | O_DIRECTORY);
    EXPECT_EQ(fd, -1) << rel;
    EXPECT_EQ(errno, ELOOP) << rel;
  }
  errno = 0;
  EXPECT_EQ(OpenNoFollow(root, "in", O_WRONLY | O_CREAT, 0600), -1);
  EXPECT_EQ(errno, ELOOP);
  EXPECT_EQ(OpenNoFollow(root, "data/f.txt/x", O_PATH | O_DIRECTORY), -1);
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_EQ(OpenNoFollow(root, "nothere/x", O_PATH | O_DIRECTORY), -1);
  EXPECT_EQ(errno, ENOENT);
  ::close(root);
}

INSTANTIATE_TEST_SUITE_P(Openat2AndWalk, Beneath, ::testing::Bool(),
                         [](const auto& testInfo) { return testInfo.param ? "openat2" : "walk"; });

}  // namespace
}  // namespace torvane::test
