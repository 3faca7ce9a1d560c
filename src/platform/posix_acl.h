// Access-control entries of files and folders over POSIX ACLs.
//
// The component thinks in entries of the original platform: an access mask, an
// allow or deny mode, inheritance flags and a trustee. Linux keeps POSIX ACLs:
// per user, group and "other" a set of r, w and x, plus a default ACL on folders
// that new files and folders inherit. This layer maps one onto the other:
//
//   trustees   a user or group name from NSS ("DOMAIN\name" uses name;
//              "user:name" and "group:name" choose the kind; a user wins over a
//              group of the same name); "Everyone" is the "other" class. The
//              owner's access is the ACL's owner entry, the owning group's the
//              group entry.
//   masks      r when a mask holds all of 0x120089 (or generic read / all),
//              w for 0x120116 (generic write / all), x for 0x1200A0 (generic
//              execute / all); a deny entry takes its bits away.
//   flags      an entry applies to the object itself unless flag 8 (inherit
//              only) is set; on a folder it also goes into the default ACL when
//              flag 1 or 2 is set. So flag 2 writes the access and the default
//              entry, flag 9 only the default entry.
//
// The exact entries a page wrote (mask, mode, flags, trustee) are also kept in
// the extended attribute "user.torvane.acl", so that what a page set reads back
// exactly (Full Control stays 63, not just rwx). They are used per trustee only
// while the POSIX ACL still agrees with them; a trustee whose ACL entries were
// changed with other tools is listed as the POSIX ACL says. Keeping that
// attribute is best effort: where it cannot be written the entries are simply
// derived from the ACL.
//
// The mask entry of the ACL is widened as far as the written entry needs (never
// narrowed), so that the kernel grants exactly what the entry says.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace torvane {

enum class TrusteeKind { User, Group, Everyone };

struct Trustee {
  TrusteeKind kind = TrusteeKind::Everyone;
  uint32_t id = 0;  // uid or gid; unused for Everyone
  bool operator==(const Trustee&) const = default;
};

// One entry as the listing reports it and as the attribute keeps it.
struct AceRecord {
  uint32_t mask = 0;
  int32_t mode = 2;   // 2 allow, 3 deny
  int32_t flags = 0;  // inheritance flags
  Trustee trustee;
};

inline constexpr const char* kExactAceAttribute = "user.torvane.acl";

// Resolves a trustee name (forms above; a decimal number is a uid). An unknown
// name fails with 22 "No user or group is named <name>.".
Trustee ResolveTrustee(const std::string& name);
// The name a listing shows: the user's name, the group's name ("group:" + name
// when a user has the same name), "Everyone"; ids the name service does not
// know in decimal ("group:" + gid for groups).
std::string TrusteeDisplayName(const Trustee& trustee);
// TV_TRUSTEETYPE: 1 for a user, 2 for a group or Everyone.
int32_t TrusteeTypeOf(const Trustee& trustee);

// The r/w/x bits (4/2/1) an access mask grants, and the mask a set of bits is
// listed with when no exact entry is known.
unsigned PermsOfMask(uint32_t mask);
uint32_t MaskOfPerms(unsigned perms);

// The entries of the file or folder at the Linux path, in ACL order (owner,
// named users, owning group, named groups, Everyone, then entries only the
// default ACL holds). A missing path fails with the system's error.
std::vector<AceRecord> ListAceRecords(const std::string& nativePath);

// The trustee's entry with these flags now grants `mask` (other entries of the
// trustee with other flags stay). An entry that could apply to nothing (inherit
// only on a file) changes nothing. Nothing is changed when any step fails.
void SetAceRecord(const std::string& nativePath, const Trustee& trustee, uint32_t mask, int32_t flags);

// Removes every entry of the trustee; for the owner, the owning group and
// Everyone, whose ACL entries cannot be removed, their permissions become none.
void RemoveTrusteeAces(const std::string& nativePath, const Trustee& trustee);

// The owner's name (decimal uid when the name service does not know it).
std::string OwnerOf(const std::string& nativePath);
// Changes the owner to the named user ("DOMAIN\name", "user:name" or a decimal
// uid also work). Unknown user: 22 "No user is named <name>."; otherwise the
// system's error (1 "Operation not permitted" for a caller without the right).
void ChangeOwner(const std::string& nativePath, const std::string& owner);

}  // namespace torvane
