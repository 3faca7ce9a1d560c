#include "security/rights.h"

namespace torvane {

namespace {
bool Holds(uint32_t mask, uint32_t bits) { return (mask & bits) == bits; }
}  // namespace

uint32_t PermissionsToRights(int32_t permissions) {
  if ((permissions & kPermitFullControl) == kPermitFullControl) return kFileAllAccess;
  bool read = permissions & kPermitRead;
  bool write = permissions & kPermitWrite;
  uint32_t mask = read && write ? kFileReadWrite : write ? kFileGenericWrite : read ? kFileGenericRead : 0;
  if (permissions & kPermitExecute) mask |= kFileGenericExecute;
  if (permissions & kPermitDelete) mask |= kDeleteRight;
  if (permissions & kPermitChangeOwner) mask |= kWriteOwnerRight;
  if (permissions & kPermitChangePermissions) mask |= kWriteDacRight;
  return mask;
}

int32_t RightsToPermissions(uint32_t mask) {
  if (Holds(mask, kFileAllAccess)) return kPermitFullControl;
  int32_t permissions = 0;
  if (Holds(mask, kFileGenericRead)) permissions |= kPermitRead;
  if (Holds(mask, kFileGenericWrite)) permissions |= kPermitWrite;
  if (Holds(mask, kFileGenericExecute)) permissions |= kPermitExecute;
  if (mask & kDeleteRight) permissions |= kPermitDelete;
  if (mask & kWriteOwnerRight) permissions |= kPermitChangeOwner;
  if (mask & kWriteDacRight) permissions |= kPermitChangePermissions;
  return permissions;
}

uint32_t InheritanceToRights(int32_t inheritance) {
  if (inheritance & kInheritAll) return kGenericAll;
  uint32_t mask = 0;
  if (inheritance & kInheritExecute) mask |= kGenericExecute;
  if (inheritance & kInheritWrite) mask |= kGenericWrite;
  if (inheritance & kInheritRead) mask |= kGenericRead;
  return mask;
}

}  // namespace torvane
