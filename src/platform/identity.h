// The calling thread's file-system identity (impersonation).
//
// Linux keeps credentials per thread: the file-system user and group ids
// (setfsuid/setfsgid) and the supplementary groups decide every access check of
// the thread's file operations. The glibc wrappers of setgroups and friends
// change every thread of the process; the functions here make the raw system
// calls, so only the calling thread changes and other threads (other pages)
// keep theirs. Switching needs CAP_SETUID and CAP_SETGID (a server started as
// root); a process without them cannot impersonate.
#pragma once

#include <sys/types.h>

#include <vector>

namespace torvane {

struct FsIdentity {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;  // supplementary groups
};

// The calling thread's file-system identity as the kernel reports it now.
FsIdentity CurrentThreadIdentity();

// True while the calling thread acts under a switched identity.
bool ThreadIsImpersonating();

// Switches the calling thread, and only it, to `id`. When the kernel refuses any
// step (a process without the privilege) the thread's identity is put back as it
// was and the call fails with the system's error (EPERM when a switch was
// silently refused).
void SwitchThreadIdentity(const FsIdentity& id);

// Gives the calling thread back the process's own file-system identity (user,
// group and supplementary groups). Hosts call it at the end of every page so
// that an impersonating page never hands its identity to the next one. Does
// nothing on a thread that is not impersonating. Should the kernel refuse (it
// cannot for a process that was able to switch), the process aborts rather than
// run further pages under a foreign identity.
void RestoreThreadIdentity();

}  // namespace torvane
