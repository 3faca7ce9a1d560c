// The host configuration keys that set the defaults of every Post's request
// limits, as far as a new Post created under them.
#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "server/config.h"
#include "support/memhost.h"
#include "upload/post.h"

namespace torvane::server {
namespace {

TEST(UploadLimitKeys, DefaultsReadAndApplied) {
  HostConfig defaults;
  EXPECT_EQ(defaults.uploadMaxFiles, 1000);
  EXPECT_EQ(defaults.uploadMaxParts, 10000);
  EXPECT_EQ(defaults.uploadMaxFieldSize, 1048576);
  EXPECT_EQ(defaults.uploadMaxTotalFieldSize, 16777216);

  HostConfig c;
  ParseConfigText("upload_max_files = 5\nUPLOAD_MAX_PARTS = 0\nupload_max_field_size = 5000000000\n"
                  "upload_max_total_field_size = 64\n",
                  "limits.conf", c);
  EXPECT_EQ(c.uploadMaxFiles, 5);
  EXPECT_EQ(c.uploadMaxParts, 0);
  EXPECT_EQ(c.uploadMaxFieldSize, 5000000000LL);
  EXPECT_EQ(c.uploadMaxTotalFieldSize, 64);

  Settings saved = CurrentSettings();
  std::string savedRegistry = RegistryFile();
  DriveTable savedDrives = Drives();
  c.registry = savedRegistry;
  c.drives = "C=/";
  ApplyProcessSettings(c);
  test::MemHost host;
  std::shared_ptr<Post> post;
  {
    test::MemHost::Scope scope(host);
    post = Post::CreateTyped();
  }
  SetSettings(saved);
  SetRegistryFile(savedRegistry);
  SetDrives(savedDrives);
  EXPECT_EQ(post->GetMaxFiles(), 5);
  EXPECT_EQ(post->GetMaxParts(), 0);
  EXPECT_EQ(post->GetMaxFieldSize(), 5000000000LL);
  EXPECT_EQ(post->GetMaxTotalFieldSize(), 64);
}

TEST(UploadLimitKeys, BadValuesNameTheLine) {
  for (const char* text : {"upload_max_files = -1\n", "upload_max_parts = lots\n", "upload_max_field_size = 1.5\n",
                           "upload_max_files = 4294967296\n"}) {
    HostConfig c;
    try {
      ParseConfigText(text, "bad.conf", c);
      ADD_FAILURE() << text;
    } catch (const std::runtime_error& e) {
      EXPECT_EQ(std::string(e.what()).rfind("bad.conf:1: upload_max_", 0), 0u) << e.what();
    }
  }
}

}  // namespace
}  // namespace torvane::server
