// The calling thread's file-system identity (impersonation).
#pragma once

namespace torvane {

// Gives the calling thread back the process's own file-system identity (user,
// group and supplementary groups). Hosts call it at the end of every page so
// that an impersonating page never hands its identity to the next one.
void RestoreThreadIdentity();

}  // namespace torvane
