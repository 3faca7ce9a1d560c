#include "platform/identity.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "automation/error.h"

namespace torvane {

namespace {

// The 32-bit id variants where the architecture has separate ones (i386, arm).
#ifdef SYS_setfsuid32
constexpr long kSetFsUid = SYS_setfsuid32;
constexpr long kSetFsGid = SYS_setfsgid32;
constexpr long kSetGroups = SYS_setgroups32;
constexpr long kGetGroups = SYS_getgroups32;
#else
constexpr long kSetFsUid = SYS_setfsuid;
constexpr long kSetFsGid = SYS_setfsgid;
constexpr long kSetGroups = SYS_setgroups;
constexpr long kGetGroups = SYS_getgroups;
#endif

// The process's supplementary groups as they were at start-up, for a thread
// that inherited a switched identity from the thread that created it.
std::vector<gid_t> StartupGroups();

struct ThreadState {
  bool impersonating = false;
  std::vector<gid_t> ownGroups;  // the thread's groups before its first switch
  // The thread's file-system ids were seen to be the process's own while it
  // did not impersonate. They change after that only through
  // SwitchThreadIdentity (which sets `impersonating`) or with the process's
  // own ids (seteuid moves every thread's fs ids along), so the check need not
  // be repeated on every restore.
  bool ownIdsSeen = false;
};
thread_local ThreadState tState;

// setfsuid/setfsgid return the previous id and never fail loudly; asking with
// an invalid id (-1) changes nothing and reports the current one.
uid_t FsUid() { return static_cast<uid_t>(syscall(kSetFsUid, static_cast<uid_t>(-1))); }
gid_t FsGid() { return static_cast<gid_t>(syscall(kSetFsGid, static_cast<gid_t>(-1))); }

std::vector<gid_t> ThreadGroups() {
  for (;;) {
    long n = syscall(kGetGroups, 0, nullptr);
    if (n < 0) ThrowErrno(errno);
    std::vector<gid_t> groups(static_cast<size_t>(n));
    long got = syscall(kGetGroups, n, groups.data());
    if (got >= 0) {
      groups.resize(static_cast<size_t>(got));
      return groups;
    }
    if (errno != EINVAL) ThrowErrno(errno);  // EINVAL: the list grew meanwhile
  }
}

// One step each; false when the kernel refused.
bool SetGroups(const std::vector<gid_t>& groups) {
  return syscall(kSetGroups, groups.size(), groups.empty() ? nullptr : groups.data()) == 0;
}
bool SetFsGid(gid_t gid) {
  syscall(kSetFsGid, gid);
  return FsGid() == gid;
}
bool SetFsUid(uid_t uid) {
  syscall(kSetFsUid, uid);
  return FsUid() == uid;
}

// Applies `id` step by step; on a refusal puts back `previous` and reports the error.
bool Apply(const FsIdentity& id, const FsIdentity& previous, int& error) {
  error = 0;
  if (!SetGroups(id.groups)) {
    error = errno;
    return false;
  }
  if (!SetFsGid(id.gid)) {
    error = EPERM;
    SetGroups(previous.groups);
    return false;
  }
  if (!SetFsUid(id.uid)) {
    error = EPERM;
    SetFsGid(previous.gid);
    SetGroups(previous.groups);
    return false;
  }
  return true;
}

std::vector<gid_t> StartupGroups() {
  static const std::vector<gid_t> groups = ThreadGroups();
  return groups;
}
// Taken while the process is still single-threaded.
[[maybe_unused]] const bool kStartupGroupsTaken = (StartupGroups(), true);

// True when the thread's file-system ids are not the process's own (a thread
// created by an impersonating thread inherits its credentials).
bool IdsDiffer() { return FsUid() != geteuid() || FsGid() != getegid(); }

}  // namespace

FsIdentity CurrentThreadIdentity() { return FsIdentity{FsUid(), FsGid(), ThreadGroups()}; }

bool ThreadIsImpersonating() { return tState.impersonating || IdsDiffer(); }

void SwitchThreadIdentity(const FsIdentity& id) {
  FsIdentity previous = CurrentThreadIdentity();
  bool inherited = !tState.impersonating && IdsDiffer();
  int error = 0;
  if (!Apply(id, previous, error)) ThrowErrno(error);
  if (!tState.impersonating) {
    tState.ownGroups = inherited ? StartupGroups() : std::move(previous.groups);
    tState.impersonating = true;
  }
}

void RestoreThreadIdentity() {
  if (!tState.impersonating) {
    if (tState.ownIdsSeen) return;
    if (!IdsDiffer()) {
      tState.ownIdsSeen = true;
      return;
    }
    // Inherited from the thread that created this one.
    tState.ownGroups = StartupGroups();
  }
  FsIdentity own{geteuid(), getegid(), tState.ownGroups};
  int error = 0;
  // Every step is attempted; SetGroups may only fail for want of CAP_SETGID,
  // which a thread that switched had.
  bool ok = SetFsUid(own.uid);
  ok = SetFsGid(own.gid) && ok;
  ok = SetGroups(own.groups) && ok;
  if (!ok) {
    error = errno;
    std::fprintf(stderr, "torvane: cannot restore the thread's own identity (errno %d); stopping\n", error);
    std::abort();
  }
  tState.impersonating = false;
  tState.ownGroups.clear();
  tState.ownIdsSeen = true;
}

}  // namespace torvane
