#include "security/rights.h"

#include <gtest/gtest.h>

#include "platform/posix_acl.h"

namespace torvane {
namespace {

struct Case {
  int64_t in;
  int64_t want;
};

TEST(PermissionsToRights, Table) {
  const Case cases[] = {
      {0, 0},                     // nothing
      {1, 0x120089},              // read alone
      {2, 0x120116},              // write alone
      {3, 0x12019F},              // read and write use the combined base
      {4, 0x1200A0},              // execute without read or write
      {5, 0x1200A9},              // read + execute
      {8, 0x10000},               // delete
      {16, 0x40000},              // change permissions
      {32, 0x80000},              // change owner
      {62, 0x1201B6 | 0x10000 | 0x40000 | 0x80000},  // all but read
      {63, 0x1F01FF},             // full control is the all-access mask
      {-1, 0x1F01FF},             // every bit set
  };
  for (const auto& c : cases)
    EXPECT_EQ(PermissionsToRights(static_cast<int32_t>(c.in)), static_cast<uint32_t>(c.want)) << c.in;
}

TEST(RightsToPermissions, Table) {
  const Case cases[] = {
      {0x1F01FF, 63},
      {0xFFFFFFFF, 63},
      {0x1200A9, 5},
      {0x120088, 0},  // one bit short of read
      {0x120089, 1},
      {0x120116, 2},
      {0x12019F, 3},
      {0x1201BF, 7},
      {0x10000, 8},
      {0x40000, 16},
      {0x80000, 32},
      {0x1F01FE, 2 | 4 | 8 | 16 | 32},  // all access but one read bit
      {0x10000000, 0},  // a generic right is none of the file right groups
  };
  for (const auto& c : cases)
    EXPECT_EQ(RightsToPermissions(static_cast<uint32_t>(c.in)), static_cast<int32_t>(c.want)) << std::hex << c.in;
}

TEST(InheritanceToRights, Table) {
  const Case cases[] = {
      {0, 0},
      {1, 0x10000000},
      {9, 0x10000000},  // bit 1 wins over everything else
      {15, 0x10000000},
      {2, 0x20000000},
      {4, 0x40000000},
      {8, 0x80000000},
      {12, 0xC0000000},
      {14, 0xE0000000},
  };
  for (const auto& c : cases)
    EXPECT_EQ(InheritanceToRights(static_cast<int32_t>(c.in)), static_cast<uint32_t>(c.want)) << c.in;
}

}  // namespace
}  // namespace torvane
