// Where pages run: every folder of the site except dot folders and the
// `no_pages` folders, judged by name and by real place.
#include "server/page_folders.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "platform/paths.h"
#include "server/config.h"
#include "server/host_server.h"
#include "support/memhost.h"

namespace torvane::server {
namespace {

using test::TempDir;

TEST(NoPages, ParsedFromTheConfigurationFile) {
  HostConfig c;
  EXPECT_TRUE(c.noPages.empty());
  ParseConfigText("no_pages = /uploads/ /files/,/a/b/../c\n", "site.conf", c);
  EXPECT_EQ(c.noPages, (std::vector<std::string>{"/uploads", "/files", "/a/c"}));
  for (const char* bad : {"no_pages = uploads/", "no_pages = /../x", "no_pages = /ok C:\\x"}) {
    HostConfig cfg;
    try {
      ParseConfigText(std::string("\n") + bad, "site.conf", cfg);
      ADD_FAILURE() << bad;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("site.conf:2: no_pages: expected virtual folders", 0), 0u) << e.what();
    }
  }
}

class PageFolders : public ::testing::Test {
 protected:
  TempDir tmp;
  std::string site = tmp / "site";
  std::vector<std::string> noPages{"/uploads", "/files/deep"};

  void SetUp() override {
    for (const char* d : {"uploads/sub", "files/deep/er", "files/other", ".store", "a/.hidden/b", "pub", "uploadsX"})
      std::filesystem::create_directories(site + "/" + d);
    std::filesystem::create_directories(tmp / "outside");
    Link("uploads", "alias");           // another name for a no-pages folder
    Link("../.store", "pub/store");     // a way into a dot folder
    Link(tmp / "outside", "out");       // out of the site
  }
  void Link(const std::string& target, const std::string& name) {
    ASSERT_EQ(::symlink(target.c_str(), (site + "/" + name).c_str()), 0) << name;
  }
  bool RunIn(const std::string& rel) { return PagesRunInFolder(site, noPages, rel.empty() ? site : site + "/" + rel); }
};

TEST_F(PageFolders, EveryFolderButDotFoldersAndNoPagesFolders) {
  struct Case {
    const char* rel;
    bool run;
  };
  const std::vector<Case> cases = {
      {"", true},           {"pub", true},           {"uploadsX", true},       {"files", true},
      {"files/other", true}, {"new/not/yet", true},  {"uploads", false},       {"uploads/sub", false},
      {"uploads/new", false}, {"files/deep", false}, {"files/deep/er", false}, {".store", false},
      {"a/.hidden/b", false}, {"alias", false},      {"alias/sub", false},     {"pub/store", false},
      {"out", false},
  };
  for (const auto& c : cases) EXPECT_EQ(RunIn(c.rel), c.run) << c.rel;
  EXPECT_FALSE(PagesRunInFolder(site, noPages, tmp / "outside"));
  EXPECT_TRUE(PagesRunInFolder(site + "/", {}, site + "/uploads/"));  // without the setting pages run there
}

TEST_F(PageFolders, APageRunsOnlyWhenItsNameAndItsPlaceBothAllowIt) {
  test::WriteFile(site + "/uploads/evil.asp", "x");
  test::WriteFile(site + "/pub/ok.asp", "x");
  Link("uploads/evil.asp", "pub/carried.asp");
  EXPECT_TRUE(PageMayRun(site, noPages, "/pub/ok.asp", site + "/pub/ok.asp"));
  EXPECT_FALSE(PageMayRun(site, noPages, "/uploads/evil.asp", site + "/uploads/evil.asp"));
  EXPECT_FALSE(PageMayRun(site, noPages, "/pub/carried.asp", site + "/uploads/evil.asp"));  // the real file
  EXPECT_FALSE(PageMayRun(site, noPages, "/alias/evil.asp", site + "/uploads/evil.asp"));
  EXPECT_TRUE(PageMayRun(site, {}, "/uploads/evil.asp", site + "/uploads/evil.asp"));
}

TEST_F(PageFolders, TheWebHostAnswersTheComponentsQuestionInDosForm) {
  HostServer server(site, "/", noPages);
  EXPECT_TRUE(server.PagesRunIn(ToDosPath(site + "/pub")));
  EXPECT_TRUE(server.PagesRunIn(ToDosPath(site + "/pub") + "\\"));
  EXPECT_FALSE(server.PagesRunIn(ToDosPath(site + "/uploads")));
  EXPECT_FALSE(server.PagesRunIn(ToDosPath(site + "/.store") + "\\"));
  // An embedding host that does not say: pages run nowhere it knows of.
  test::MemHost host(site);
  EXPECT_FALSE(host.server->PagesRunIn(ToDosPath(site + "/pub")));
}

}  // namespace
}  // namespace torvane::server
