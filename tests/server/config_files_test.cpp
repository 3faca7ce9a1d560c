// Configuration files as operators write them: sizes with suffixes, a key
// given twice, listen errors with their line, paths relative to the file,
// and a site root that must be a folder.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "server/config.h"

namespace torvane::server {
namespace {

namespace fs = std::filesystem;

std::string ErrorOf(const std::string& text) {
  HostConfig c;
  try {
    ParseConfigText(text, "site.conf", c);
  } catch (const std::runtime_error& e) {
    return e.what();
  }
  return "";
}

TEST(HostConfigFiles, SizesTakeKMGSuffixes) {
  struct Case {
    const char* line;
    int64_t HostConfig::*field;
    int64_t want;
  } cases[] = {
      {"max_request_bytes = 10G", &HostConfig::maxRequestBytes, 10LL << 30},
      {"max_request_bytes = 512m", &HostConfig::maxRequestBytes, 512LL << 20},
      {"max_request_bytes = 12345", &HostConfig::maxRequestBytes, 12345},
      {"max_header_bytes = 32K", &HostConfig::maxHeaderBytes, 32768},
      {"response_buffer_bytes = 4 M", &HostConfig::responseBufferBytes, 4LL << 20},
      {"page_memory_limit = 1g", &HostConfig::pageMemoryLimit, 1LL << 30},
      {"min_read_rate = 2k", &HostConfig::minReadRate, 2048},
      {"upload_max_field_size = 64K", &HostConfig::uploadMaxFieldSize, 65536},
      {"upload_max_total_field_size = 0", &HostConfig::uploadMaxTotalFieldSize, 0},
  };
  for (const auto& c : cases) {
    HostConfig cfg;
    ParseConfigText(c.line, "site.conf", cfg);
    EXPECT_EQ(cfg.*c.field, c.want) << c.line;
  }
}

TEST(HostConfigFiles, BadSizesNameFileLineAndKey) {
  const char* bad[] = {
      "max_request_bytes = 10T",      // no such suffix
      "max_request_bytes = K",        // no number
      "max_request_bytes = -1K",      // negative
      "max_request_bytes = 1.5G",     // not whole
      "max_request_bytes = 9000000000G",  // overflows
      "max_header_bytes = 64M",       // above the key's range
      "max_header_bytes = 1",         // below it
  };
  for (const char* line : bad) {
    std::string e = ErrorOf(line);
    EXPECT_EQ(e.rfind("site.conf:1: ", 0), 0u) << line << " -> " << e;
    EXPECT_NE(e.find("K, M, G"), std::string::npos) << e;
  }
}

TEST(HostConfigFiles, AKeyGivenTwiceIsAnError) {
  EXPECT_EQ(ErrorOf("workers = 4\n# comment\nWORKERS = 8"),
            "site.conf:3: \"workers\" is set twice (first on line 1)");
  EXPECT_EQ(ErrorOf("workers = 4\nio_threads = 2"), "");
}

TEST(HostConfigFiles, ListenErrorsNameFileAndLine) {
  EXPECT_EQ(ErrorOf("\nlisten = nowhere").rfind("site.conf:2: listen: expected HOST:PORT", 0), 0u);
  EXPECT_EQ(ErrorOf("listen = 127.0.0.1:99999").rfind("site.conf:1: listen port", 0), 0u);
}

TEST(HostConfigFiles, AccessLogAndErrorPageKeys) {
  HostConfig c;
  EXPECT_EQ(c.accessLog, "off");
  EXPECT_EQ(c.errorTemplate, "");
  ParseConfigText("access_log = -\nerror_template = /etc/torvane/error.html", "site.conf", c);
  EXPECT_EQ(c.accessLog, "-");
  EXPECT_EQ(c.errorTemplate, "/etc/torvane/error.html");
}

class ConfigFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("tv-conf-" + std::to_string(::getpid()));
    fs::create_directories(dir_ / "etc");
    fs::create_directories(dir_ / "site");
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& text) {
    std::string path = (dir_ / "etc" / "torvane.conf").string();
    std::ofstream(path) << text;
    return path;
  }
  fs::path dir_;
};

TEST_F(ConfigFolder, RelativePathsAreTakenFromTheFilesFolder) {
  HostConfig c;
  c.registry = "reg.reg";
  LoadConfigFile(Write("root = ../site\naccess_log = logs/access.log\nerror_template = error.html\n"), c);
  EXPECT_EQ(c.root, (dir_ / "site").string());
  EXPECT_EQ(c.accessLog, (dir_ / "etc" / "logs" / "access.log").string());
  EXPECT_EQ(c.errorTemplate, (dir_ / "etc" / "error.html").string());
  EXPECT_EQ(c.registry, "reg.reg");  // not set by the file: left as it was
}

TEST_F(ConfigFolder, AbsolutePathsAndSpecialLogValuesStay) {
  HostConfig c;
  LoadConfigFile(Write("root = /srv/site\naccess_log = -\n"), c);
  EXPECT_EQ(c.root, "/srv/site");
  EXPECT_EQ(c.accessLog, "-");
  HostConfig d;
  LoadConfigFile(Write("access_log = off\n"), d);
  EXPECT_EQ(d.accessLog, "off");
}

TEST_F(ConfigFolder, ABadFileChangesNothing) {
  HostConfig c;
  c.workers = 3;
  EXPECT_THROW(LoadConfigFile(Write("workers = 9\nroot = x\nbogus = 1\n"), c), std::runtime_error);
  EXPECT_EQ(c.workers, 3);
  EXPECT_EQ(c.root, "");
}

TEST_F(ConfigFolder, TheSiteRootMustBeAnExistingFolder) {
  EXPECT_NO_THROW(CheckSiteRoot((dir_ / "site").string()));
  std::string file = Write("");
  try {
    CheckSiteRoot(file);
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), file + ": the site root is not a folder");
  }
  try {
    CheckSiteRoot((dir_ / "missing").string());
    ADD_FAILURE();
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), (dir_ / "missing").string() + ": the site root does not exist");
  }
}

}  // namespace
}  // namespace torvane::server
