// The mapping between the component's small permission vocabulary (TV_PERMIT_*,
// TV_INHERIT_*) and the access masks that access-control entries carry.
#pragma once

#include <cstdint>

namespace torvane {

// TV_PERMISSIONS bits.
constexpr int32_t kPermitRead = 1;
constexpr int32_t kPermitWrite = 2;
constexpr int32_t kPermitExecute = 4;
constexpr int32_t kPermitDelete = 8;
constexpr int32_t kPermitChangePermissions = 16;
constexpr int32_t kPermitChangeOwner = 32;
constexpr int32_t kPermitFullControl = 63;

// TV_INHERITS bits.
constexpr int32_t kInheritAll = 1;
constexpr int32_t kInheritExecute = 2;
constexpr int32_t kInheritWrite = 4;
constexpr int32_t kInheritRead = 8;

// Access masks of file rights.
constexpr uint32_t kFileAllAccess = 0x1F01FF;
constexpr uint32_t kFileGenericRead = 0x120089;
constexpr uint32_t kFileGenericWrite = 0x120116;
constexpr uint32_t kFileGenericExecute = 0x1200A0;
constexpr uint32_t kFileReadWrite = 0x12019F;
constexpr uint32_t kDeleteRight = 0x10000;
constexpr uint32_t kWriteDacRight = 0x40000;
constexpr uint32_t kWriteOwnerRight = 0x80000;
// Generic rights (what inheritable entries carry).
constexpr uint32_t kGenericAll = 0x10000000;
constexpr uint32_t kGenericExecute = 0x20000000;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kGenericRead = 0x80000000;

// Entry flags the component writes: 2 = the folder's own entry that sub-folders
// inherit; 9 = an entry only files created in the folder inherit.
constexpr int32_t kFlagContainerInherit = 2;
constexpr int32_t kFlagInheritOnlyObjects = 9;

// Access modes that NextAce reports.
constexpr int32_t kAccessAllow = 2;
constexpr int32_t kAccessDeny = 3;

// TV_PERMISSIONS -> access mask: all six bits give full access; otherwise the
// read/write base (read+write 0x12019F, write 0x120116, read 0x120089) with
// execute, delete, change-owner and change-permissions ORed in.
uint32_t PermissionsToRights(int32_t permissions);

// Access mask -> TV_PERMISSIONS: 63 for a mask holding all of 0x1F01FF;
// otherwise one bit for each right group the mask holds completely.
int32_t RightsToPermissions(uint32_t mask);

// TV_INHERITS -> generic rights: bit 1 gives generic-all alone; otherwise
// generic execute, write and read for bits 2, 4 and 8.
uint32_t InheritanceToRights(int32_t inheritance);

}  // namespace torvane
