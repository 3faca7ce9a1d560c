#include "host/policy.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/paths.h"
#include "platform/registry.h"
#include "support/page_fixture.h"

namespace torvane {
namespace {

using test::MemHost;
using test::RegistryFixture;
using test::TempDir;
using test::ThrownError;

// A page over a fresh site root with an empty registry.
using ResolvePathTest = test::PageTest;

TEST_F(ResolvePathTest, VirtualOnlyRefusesTheFourSuspectForms) {
  registry.SetPolicy("AllowPaths", "VirtualOnly");
  for (const char* p : {"c:\\data\\x.txt", "C:/data/x.txt", "\\\\server\\share\\x.txt", "\\x.txt", "../x.txt",
                        "uploads/../x.txt", "a/b/../../x.txt"}) {
    Error e = ThrownError([&] { ResolvePath(p, false); });
    EXPECT_EQ(e.number, 9030) << p;
    EXPECT_EQ(e.description, "Only virtual directories may be used.") << p;
  }
  EXPECT_EQ(ResolvePath("uploads/x.txt", false), ToDosPath(site.path() + "/uploads") + "\\x.txt");
  EXPECT_EQ(PathPolicy(), 2);
}

TEST_F(ResolvePathTest, WithoutPolicyPhysicalPathsPassUnchanged) {
  EXPECT_EQ(ResolvePath("C:\\srv\\data\\a.txt", false), "C:\\srv\\data\\a.txt");
  EXPECT_EQ(ResolvePath("d:\\folder\\", true), "d:\\folder\\");
  EXPECT_EQ(PathPolicy(), 1);
}

TEST_F(ResolvePathTest, OtherLetterCaseDoesNotRestrict) {
  registry.SetPolicy("AllowPaths", "virtualonly");
  EXPECT_EQ(ResolvePath("C:\\x.txt", false), "C:\\x.txt");
}

TEST_F(ResolvePathTest, BareNameMapsIntoThePageFolder) {
  host.server->pageDir = "/sub/";
  EXPECT_EQ(ResolvePath("a.txt", false), ToDosPath(site.path() + "/sub") + "\\a.txt");
  EXPECT_EQ(ResolvePath("/top/", true), ToDosPath(site.path() + "/top"));
}

TEST_F(ResolvePathTest, PolicyIsCachedPerThread) {
  EXPECT_EQ(ResolvePath("C:\\x", false), "C:\\x");
  registry.SetPolicy("AllowPaths", "VirtualOnly");
  EXPECT_EQ(ResolvePath("C:\\x", false), "C:\\x");  // this thread read the policy already
  int32_t other = 0;
  std::thread t([&] { other = PathPolicy(); });
  t.join();
  EXPECT_EQ(other, 2);
}

TEST(ResolvePathLinks, VirtualOnlyRefusesLinksThatLeadOutOfTheSite) {
  RegistryFixture reg;
  TempDir tmp;
  std::string site = tmp / "site", outside = tmp / "outside";
  std::filesystem::create_directories(site + "/data");
  std::filesystem::create_directories(site + "/a");
  std::filesystem::create_directories(outside);
  auto link = [&](const std::string& target, const std::string& name) {
    ASSERT_EQ(::symlink(target.c_str(), (site + "/" + name).c_str()), 0) << name;
  };
  link(outside, "out");
  link("../outside", "rel-out");
  link("data", "in");
  link("..", "a/up");
  link("a/up/../outside", "chain-out");
  link(outside + "/new.txt", "dangling-out");
  MemHost host(site);
  MemHost::Scope scope(host);
  struct Case {
    const char* path;
    bool isDirectory;
    bool refused;
  };
  const std::vector<Case> cases = {
      {"out/secret.txt", false, true},   {"/out/", true, true},          {"rel-out/x.txt", false, true},
      {"chain-out/x.txt", false, true},  {"dangling-out", false, true},  {"/a/up/out/x.txt", false, true},
      {"in/x.txt", false, false},        {"/in/", true, false},          {"a/up/data/x.txt", false, false},
      {"new/deeper/x.txt", false, false}, {"data/", true, false},        {"x.txt", false, false},
  };
  // With physical paths allowed the site's links are its own business.
  for (const auto& c : cases) EXPECT_EQ(ThrownError([&] { ResolvePath(c.path, c.isDirectory); }).number, 0) << c.path;
  reg.SetPolicy("AllowPaths", "VirtualOnly");
  ResetPathPolicy();
  for (const auto& c : cases)
    EXPECT_EQ(ThrownError([&] { ResolvePath(c.path, c.isDirectory); }).number, c.refused ? 9030 : 0) << c.path;
  // A page whose own folder is the link out: a bare name is refused too.
  host.server->pageDir = "/out/";
  EXPECT_EQ(ThrownError([&] { ResolvePath("x.txt", false); }).number, 9030);
}

using MapPathTest = test::PageTest;

TEST_F(MapPathTest, RefusesEveryPathThatLeavesTheRoot) {
  for (const char* p : {"../x", "/../x", "..\\x", "/a/../../x", "\\..\\x", "C:\\x"})
    EXPECT_EQ(ThrownError([&] { host.server->MapPath(p); }).number, -2147467259) << p;
  EXPECT_EQ(host.server->MapPath("/a/../b"), ToDosPath(site.path() + "/b"));
}

TEST(Registry, PolicyTextsAndDwords) {
  RegistryFixture reg(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brightmoor\\Torvane]\n\"AllowImpersonation\"=\"False\"\n\"Level\"=dword:0000002a\n"
      "\"Blob\"=hex:01,02\n");
  Variant v;
  EXPECT_EQ(QueryRegistryValue(kPolicyKey, "Level", v), 0);
  EXPECT_EQ(v.toInt32(), 42);
  Variant s;
  EXPECT_EQ(QueryRegistryValue(kPolicyKey, "AllowImpersonation", s), 0);
  EXPECT_EQ(s.toString(), std::string("False") + '\0');
  Variant untouched("keep");
  EXPECT_EQ(QueryRegistryValue(kPolicyKey, "Blob", untouched), -1);
  EXPECT_EQ(untouched.toString(), "keep");
  EXPECT_EQ(QueryRegistryValue(kPolicyKey, "Absent", untouched), 2);
  EXPECT_FALSE(AllowImpersonation());
}

TEST(Registry, ImpersonationPolicyReadOnEveryCall) {
  RegistryFixture reg;
  EXPECT_TRUE(AllowImpersonation());
  for (auto [value, allowed] : std::vector<std::pair<std::string, bool>>{{"True", true}, {"false", true}, {"False", false}}) {
    reg.SetPolicy("AllowImpersonation", value);
    EXPECT_EQ(AllowImpersonation(), allowed) << value;
  }
}

// Workers look types up side by side while the file is rewritten: each
// answer is one of the file's versions, never a half-read one, and a type's
// description (read once, then kept) is the same for every thread.
TEST(Registry, LookupsFromManyThreadsWhileTheFileChanges) {
  RegistryFixture reg("[HKEY_CLASSES_ROOT\\.zz]\n\"Content Type\"=\"a/a\"\n");
  TempDir mime;
  test::WriteFile(mime / "globs2", "50:text/x-demo:*.demo\n");
  std::filesystem::create_directories(mime / "text");
  test::WriteFile(mime / "text/x-demo.xml",
                  "<mime-type><comment xml:lang=\"de\">Demo</comment><comment>demo text</comment></mime-type>");
  SetMimeDirectory(mime.path());
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t)
    readers.emplace_back([&] {
      while (!stop) {
        Variant type, description;
        if (QueryRegistryValue("HKCR\\.zz", "Content Type", type) != 0) ++wrong;
        std::string got = type.toString();
        if (got != std::string("a/a") + '\0' && got != std::string("bb/bb") + '\0') ++wrong;
        if (QueryRegistryValue("HKEY_CLASSES_ROOT\\text/x-demo", "", description) != 0 ||
            description.toString() != std::string("Demo text") + '\0')
          ++wrong;
      }
    });
  // Each version is written beside the file and renamed over it, as an
  // editor saves: a reader sees the old file or the new one.
  for (int i = 0; i < 200; ++i) {
    test::WriteFile(reg.path() + ".new", std::string("Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.zz]\n") +
                                             "\"Content Type\"=\"" + (i % 2 ? "a/a" : "bb/bb") + "\"\n");
    EXPECT_EQ(::rename((reg.path() + ".new").c_str(), reg.path().c_str()), 0);
  }
  stop = true;
  for (auto& r : readers) r.join();
  SetMimeDirectory("/usr/share/mime");
  EXPECT_EQ(wrong, 0);
  Variant last;
  EXPECT_EQ(QueryRegistryValue("HKCR\\.zz", "Content Type", last), 0);
  EXPECT_EQ(last.toString(), std::string("a/a") + '\0');  // the last version written
}

// The lookups of one operation share one look at the file: an edit made
// between them shows at the next operation, never halfway through one.
TEST(Registry, LookupsInOneGlanceReadOneVersionOfTheFile) {
  RegistryFixture reg("[HKEY_CLASSES_ROOT\\.zz]\n\"Content Type\"=\"a/a\"\n");
  auto type = [] {
    Variant v;
    EXPECT_EQ(QueryRegistryValue("HKCR\\.zz", "Content Type", v), 0);
    return v.toString();
  };
  // Rewritten in place with another size, as an editor may save it.
  auto edit = [&](const std::string& value) {
    test::WriteFile(reg.path(), "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CLASSES_ROOT\\.zz]\n\"Content Type\"=\"" +
                                    value + "\"\n");
  };
  const std::string a = std::string("a/a") + '\0', b = std::string("bbbb/bbbb") + '\0';
  {
    RegistryGlance outer;
    EXPECT_EQ(type(), a);
    edit("bbbb/bbbb");
    {
      RegistryGlance inner;
      EXPECT_EQ(type(), a);
    }
    EXPECT_EQ(type(), a);  // the inner scope's end keeps the outer look
  }
  EXPECT_EQ(type(), b);  // the next operation sees the edit
  {
    RegistryGlance next;
    EXPECT_EQ(type(), b);
    edit("a/a");
  }
  EXPECT_EQ(type(), a);  // and without a glance, every call looks again
}

TEST(Registry, ClassesRootFallsBackToSystemMimeData) {
  RegistryFixture reg("[HKEY_CLASSES_ROOT\\.xyz]\n\"Content Type\"=\"application/x-xyz\"\n@=\"xyzfile\"\n");
  Variant v;
  EXPECT_EQ(QueryRegistryValue("HKEY_CLASSES_ROOT\\.xyz", "Content Type", v), 0);
  EXPECT_EQ(v.toString(), std::string("application/x-xyz") + '\0');
  Variant t;
  EXPECT_EQ(QueryRegistryValue("HKEY_CLASSES_ROOT\\.txt", "Content Type", t), 0);
  EXPECT_EQ(t.toString(), std::string("text/plain") + '\0');
  Variant none;
  EXPECT_EQ(QueryRegistryValue("HKEY_CLASSES_ROOT\\.nosuchext", "Content Type", none), 2);
}

TEST(SetFileDateTime, SetsModificationTimeAndFailsOnMissingFile) {
  TempDir dir;
  test::WriteFile(dir / "f.txt", "x");
  double when = DateFromText("2020-02-03 04:05:06");
  SetFileDateTime(ToDosPath(dir / "f.txt"), when);
  struct stat st {};
  ASSERT_EQ(stat((dir / "f.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, UnixFromDate(when));
  EXPECT_EQ(st.st_atime, UnixFromDate(when));
  Error e = ThrownError([&] { SetFileDateTime(ToDosPath(dir / "missing.txt"), when); });
  EXPECT_EQ(e.number, 2);
  EXPECT_EQ(e.description, "No such file or directory");
}

}  // namespace
}  // namespace torvane
