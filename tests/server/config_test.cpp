#include "server/config.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/settings.h"

namespace torvane::server {
namespace {

using ::testing::HasSubstr;

TEST(HostConfig, DefaultsAreTheDocumentedOnes) {
  HostConfig c;
  ParseConfigText("# only a comment\n\n   \n", "empty.conf", c);
  EXPECT_EQ(c.listenHost, "127.0.0.1");
  EXPECT_EQ(c.listenPort, 8080);
  EXPECT_EQ(c.drives, "C=/");
  EXPECT_EQ(c.defaultCodePage, 65001);
  EXPECT_EQ(c.workers, 16);
  EXPECT_EQ(c.maxRequestBytes, 2147483648LL);
  EXPECT_EQ(c.maxHeaderBytes, 16384);
  EXPECT_EQ(c.headerTimeout, 10);
  EXPECT_EQ(c.readTimeout, 30);
  EXPECT_EQ(c.writeTimeout, 30);
  EXPECT_EQ(c.keepAliveTimeout, 15);
  EXPECT_EQ(c.scriptTimeout, 90);
  EXPECT_EQ(c.pamService, "torvane");
  EXPECT_EQ(c.stateStore, "memory");
  EXPECT_EQ(c.stateStoreTimeout, 2000);
}

TEST(HostConfig, EveryKeyIsRead) {
  HostConfig c;
  ParseConfigText(
      "listen = 0.0.0.0:9000\r\nROOT = /srv/site\nregistry=/etc/x.reg\ndrives = C=/,D=/data\n"
      "default_code_page = 1252\nworkers = 4\nio_threads = 2\nqueue_limit = 10\nmax_request_bytes = 5000000000\n"
      "max_header_bytes = 8192\nresponse_buffer_bytes = 65536\nheader_timeout = 3\nread_timeout = 4\n"
      "write_timeout = 5\nkeepalive_timeout = 6\nscript_timeout = 0\npam_service = web\n"
      "state_store = redis://:pw@cache.local:6380/2\nstate_store_timeout = 750\n",
      "all.conf", c);
  EXPECT_EQ(c.listenHost, "0.0.0.0");
  EXPECT_EQ(c.listenPort, 9000);
  EXPECT_EQ(c.root, "/srv/site");
  EXPECT_EQ(c.registry, "/etc/x.reg");
  EXPECT_EQ(c.drives, "C=/,D=/data");
  EXPECT_EQ(c.defaultCodePage, 1252);
  EXPECT_EQ(c.workers, 4);
  EXPECT_EQ(c.ioThreads, 2);
  EXPECT_EQ(c.queueLimit, 10);
  EXPECT_EQ(c.maxRequestBytes, 5000000000LL);
  EXPECT_EQ(c.maxHeaderBytes, 8192);
  EXPECT_EQ(c.responseBufferBytes, 65536);
  EXPECT_EQ(c.headerTimeout, 3);
  EXPECT_EQ(c.readTimeout, 4);
  EXPECT_EQ(c.writeTimeout, 5);
  EXPECT_EQ(c.keepAliveTimeout, 6);
  EXPECT_EQ(c.scriptTimeout, 0);
  EXPECT_EQ(c.pamService, "web");
  EXPECT_EQ(c.stateStore, "redis://:pw@cache.local:6380/2");
  EXPECT_EQ(c.stateStoreTimeout, 750);
}

TEST(HostConfig, BadLinesNameFileAndLine) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"\nworkers = many", "site.conf:2: workers"},
      {"workers = 0", "site.conf:1: workers"},
      {"no equals sign", "site.conf:1: expected"},
      {"colour = blue", "site.conf:1: unknown setting \"colour\""},
      {"listen = 127.0.0.1", "listen"},
      {"listen = 127.0.0.1:70000", "listen port"},
      {"drives = /data", "drives"},
      {"read_timeout = -1", "read_timeout"},
      {"state_store = mysql://db/0", "site.conf:1: state_store: expected \"memory\" or redis://"},
      {"state_store = redis://cache:6379/x", "site.conf:1: state_store: a bad database number"},
      {"state_store_timeout = 5", "site.conf:1: state_store_timeout"},
  };
  for (const auto& c : cases) {
    HostConfig cfg;
    try {
      ParseConfigText(c.text, "site.conf", cfg);
      ADD_FAILURE() << c.text;
    } catch (const std::runtime_error& e) {
      EXPECT_THAT(e.what(), HasSubstr(c.message));
    }
  }
}

TEST(HostConfig, ListenForms) {
  HostConfig c;
  ParseListen(":0", c);
  EXPECT_EQ(c.listenHost, "127.0.0.1");
  EXPECT_EQ(c.listenPort, 0);
  ParseListen("[::1]:8081", c);
  EXPECT_EQ(c.listenHost, "::1");
  EXPECT_EQ(c.listenPort, 8081);
}

TEST(HostConfig, ProcessSettingsReachThePlatformLayer) {
  std::string savedRegistry = RegistryFile();
  DriveTable savedDrives = Drives();
  Settings savedSettings = CurrentSettings();
  HostConfig c;
  c.registry = "/tmp/some.reg";
  c.drives = "C=/,D=/data";
  c.defaultCodePage = 1250;
  c.pamService = "other";
  ApplyProcessSettings(c);
  EXPECT_EQ(RegistryFile(), "/tmp/some.reg");
  EXPECT_EQ(ToNativePath("D:\\x\\y.txt"), "/data/x/y.txt");
  EXPECT_EQ(CurrentSettings().defaultCodePage, 1250);
  EXPECT_EQ(CurrentSettings().pamService, "other");
  c.registry.clear();
  setenv("TORVANE_REGISTRY", "/tmp/env.reg", 1);
  ApplyProcessSettings(c);
  EXPECT_EQ(RegistryFile(), "/tmp/env.reg");
  unsetenv("TORVANE_REGISTRY");
  ApplyProcessSettings(c);
  EXPECT_EQ(RegistryFile(), "/etc/torvane/registry.reg");
  SetRegistryFile(savedRegistry);
  SetDrives(savedDrives);
  SetSettings(savedSettings);
}

}  // namespace
}  // namespace torvane::server

namespace torvane::server {
namespace {

TEST(HostConfig, LimitsOfClientsPagesAndShutdown) {
  HostConfig d;
  ParseConfigText("", "empty.conf", d);
  EXPECT_EQ(d.minReadRate, 1024);
  EXPECT_EQ(d.minWriteRate, 1024);
  EXPECT_EQ(d.rateWindow, 30);
  EXPECT_EQ(d.readDeadline, 3600);
  EXPECT_EQ(d.writeDeadline, 3600);
  EXPECT_EQ(d.pageDeadline, 3600);
  EXPECT_EQ(d.pageMemoryLimit, 268435456);
  EXPECT_EQ(d.gracePeriod, 30);
  EXPECT_EQ(d.pageThreads, 512);
  EXPECT_EQ(d.logFile, "");
  HostConfig c;
  ParseConfigText(
      "min_read_rate = 0\nmin_write_rate = 4096\nrate_window = 5\nread_deadline = 0\nwrite_deadline = 60\n"
      "page_deadline = 7\npage_memory_limit = 1048576\ngrace_period = 0\npage_threads = 64\nlog_file = /var/log/t.log\n",
      "limits.conf", c);
  EXPECT_EQ(c.minReadRate, 0);
  EXPECT_EQ(c.minWriteRate, 4096);
  EXPECT_EQ(c.rateWindow, 5);
  EXPECT_EQ(c.readDeadline, 0);
  EXPECT_EQ(c.writeDeadline, 60);
  EXPECT_EQ(c.pageDeadline, 7);
  EXPECT_EQ(c.pageMemoryLimit, 1048576);
  EXPECT_EQ(c.gracePeriod, 0);
  EXPECT_EQ(c.pageThreads, 64);
  EXPECT_EQ(c.logFile, "/var/log/t.log");
  for (const char* bad : {"rate_window = 0\n", "min_read_rate = -1\n", "page_threads = 0\n", "grace_period = soon\n"}) {
    HostConfig x;
    EXPECT_THROW(ParseConfigText(bad, "bad.conf", x), std::runtime_error) << bad;
  }
}

}  // namespace
}  // namespace torvane::server
