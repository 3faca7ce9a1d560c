#include "platform/paths.h"

#include <gtest/gtest.h>

namespace torvane {
namespace {

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
