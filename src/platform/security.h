// The security operations of the system utility stand-in: access-control
// entries, owners and impersonation, as the component's classes call them.
//
// Every caller creates its own instance just before use (CreateSystemUtility)
// and drops it afterwards; a failing operation throws torvane::Error with the
// system's number and text. The instance the factory makes works on Linux:
// POSIX ACLs with the exact entries kept alongside (platform/posix_acl.h),
// owners through stat/chown and NSS, impersonation through PAM and per-thread
// file-system ids (platform/identity.h, platform/pam_auth.h). Tests may install
// a factory of their own to watch what the classes ask for.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix_acl.h"

namespace torvane {

class SystemUtility {
 public:
  virtual ~SystemUtility() = default;

  // The trustee's entry with these inheritance flags now grants `mask`.
  virtual void SetAce(const std::string& path, const std::string& trustee, int32_t mask, int32_t flags) = 0;
  // The trustee's entries are removed.
  virtual void RemoveAce(const std::string& path, const std::string& trustee) = 0;
  // The trustee no longer has access.
  virtual void RevokeAce(const std::string& path, const std::string& trustee) = 0;
  virtual void SetOwner(const std::string& path, const std::string& owner) = 0;
  // Writes the owner's name followed by NUL over the start of `buffer`.
  virtual void GetOwner(const std::string& path, std::string& buffer) = 0;

  // Listing: BeginAceList, then NextAce until it returns 0, then EndAceList.
  virtual void BeginAceList(const std::string& path) = 0;
  virtual void EndAceList() = 0;
  // Returns "more": 0 when no entry was read; otherwise fills the outputs and
  // writes the trustee name followed by NUL over the start of `nameBuffer`.
  virtual int32_t NextAce(int32_t& mask, int32_t& accessMode, int32_t& inheritance, int32_t& trusteeType,
                          std::string& nameBuffer) = 0;

  // The calling thread now acts as that user / as itself again.
  virtual void Impersonate(const std::string& domain, const std::string& user, const std::string& password,
                           int32_t logonType) = 0;
  virtual void EndImpersonate() = 0;
};

// A new instance (the Linux one unless a test installed another factory).
std::unique_ptr<SystemUtility> CreateSystemUtility();

using SystemUtilityFactory = std::function<std::unique_ptr<SystemUtility>()>;
// Installs a factory (an empty one restores the Linux implementation) and
// returns the previous one.
SystemUtilityFactory SetSystemUtilityFactory(SystemUtilityFactory factory);

// The Linux implementation itself (what the default factory makes).
std::unique_ptr<SystemUtility> CreateLinuxSystemUtility();

// Paths are the component's DOS-form physical paths; each operation turns them
// into Linux paths at the system call. Impersonate:
//   - the login type must be one of the platform's logon types (2 interactive,
//     3 network, 4 batch, 5 service, 7 unlock, 8 network cleartext, 9 new
//     credentials); another fails with 22 "Invalid login type <n>.";
//   - the domain is accepted and not used (Linux accounts have none); a user
//     written "DOMAIN\name" is taken as name;
//   - the user and password are checked by PAM under the service of the
//     settings (default "torvane"), then only the calling thread switches its
//     file-system user, group and supplementary groups to the user's. A failure
//     leaves the thread's identity as it was.

}  // namespace torvane
