#include "host/policy.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/paths.h"
#include "support/memhost.h"
#include "support/registry_fixture.h"

namespace torvane {
namespace {

using test::MemHost;
using test::RegistryFixture;
using test::TempDir;

int32_t ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Error& e) {
    return e.number;
  }
  return 0;
}

TEST(ResolvePath, VirtualOnlyRefusesTheFourSuspectForms) {
  RegistryFixture reg;
  reg.SetPolicy("AllowPaths", "VirtualOnly");
  TempDir site;
  MemHost host(site.path());
  MemHost::Scope scope(host);
  for (const char* p : {"c:\\data\\x.txt", "C:/data/x.txt", "\\\\server\\share\\x.txt", "\\x.txt", "../x.txt",
                        "uploads/../x.txt", "a/b/../../x.txt"}) {
    try {
      ResolvePath(p, false);
      ADD_FAILURE() << p;
    } catch (const Error& e) {
      EXPECT_EQ(e.number, 9030) << p;
      EXPECT_EQ(e.description, "Only virtual directories may be used.");
    }
  }
  EXPECT_EQ(ResolvePath("uploads/x.txt", false), ToDosPath(site.path() + "/uploads") + "\\x.txt");
  EXPECT_EQ(PathPolicy(), 2);
}

TEST(ResolvePath, WithoutPolicyPhysicalPathsPassUnchanged) {
  RegistryFixture reg;
  TempDir site;
  MemHost host(site.path());
  MemHost::Scope scope(host);
  EXPECT_EQ(ResolvePath("C:\\srv\\data\\a.txt", false), "C:\\srv\\data\\a.txt");
  EXPECT_EQ(ResolvePath("d:\\folder\\", true), "d:\\folder\\");
  EXPECT_EQ(PathPolicy(), 1);
}

TEST(ResolvePath, OtherLetterCaseDoesNotRestrict) {
  RegistryFixture reg;
  reg.SetPolicy("AllowPaths", "virtualonly");
  TempDir site;
  MemHost host(site.path());
  MemHost::Scope scope(host);
  EXPECT_EQ(ResolvePath("C:\\x.txt", false), "C:\\x.txt");
}

TEST(ResolvePath, BareNameMapsIntoThePageFolder) {
  RegistryFixture reg;
  TempDir site;
  MemHost host(site.path());
  host.server->pageDir = "/sub/";
  MemHost::Scope scope(host);
  EXPECT_EQ(ResolvePath("a.txt", false), ToDosPath(site.path() + "/sub") + "\\a.txt");
  EXPECT_EQ(ResolvePath("/top/", true), ToDosPath(site.path() + "/top"));
}

TEST(ResolvePath, PolicyIsCachedPerThread) {
  RegistryFixture reg;
  TempDir site;
  MemHost host(site.path());
  MemHost::Scope scope(host);
  EXPECT_EQ(ResolvePath("C:\\x", false), "C:\\x");
  reg.SetPolicy("AllowPaths", "VirtualOnly");
  EXPECT_EQ(ResolvePath("C:\\x", false), "C:\\x");  // this thread read the policy already
  int32_t other = 0;
  std::thread t([&] { other = PathPolicy(); });
  t.join();
  EXPECT_EQ(other, 2);
}

TEST(MapPath, RefusesEveryPathThatLeavesTheRoot) {
  TempDir site;
  MemHost host(site.path());
  MemHost::Scope scope(host);
  for (const char* p : {"../x", "/../x", "..\\x", "/a/../../x", "\\..\\x", "C:\\x"})
    EXPECT_EQ(ErrorOf([&] { host.server->MapPath(p); }), -2147467259) << p;
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
  try {
    SetFileDateTime(ToDosPath(dir / "missing.txt"), when);
    ADD_FAILURE();
  } catch (const Error& e) {
    EXPECT_EQ(e.number, 2);
    EXPECT_EQ(e.description, "No such file or directory");
  }
}

TEST(DosPaths, DriveTableRoundTrip) {
  DriveTable saved = Drives();
  SetDrives(ParseDriveTable("C=/,D=/tmp"));
  EXPECT_EQ(ToNativePath("C:\\srv\\data\\a.txt"), "/srv/data/a.txt");
  EXPECT_EQ(ToNativePath("\\srv\\a.txt"), "/srv/a.txt");
  EXPECT_EQ(ToNativePath("d:\\x\\y"), "/tmp/x/y");
  EXPECT_EQ(ToDosPath("/tmp/x/y"), "D:\\x\\y");
  EXPECT_EQ(ToDosPath("/srv/a"), "C:\\srv\\a");
  EXPECT_EQ(ToDosPath("/tmp"), "D:\\");
  EXPECT_EQ(ToNativePath("Q:\\x").rfind("/nonexistent-drive-", 0), 0u);
  SetDrives(saved);
}

}  // namespace
}  // namespace torvane
