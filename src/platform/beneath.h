// Paths that must stay beneath a folder, resolved by the kernel.
//
// Text rules cannot tell where a path leads once symbolic links are on it: a
// link "a/up -> .." makes "a/up/.." the folder above the root, although every
// link "stays inside on paper". These helpers let the kernel resolve paths
// against a folder opened once (openat2 with RESOLVE_BENEATH, or a walk that
// opens one component at a time and never follows a link), so the answer is
// the one the file system gives, not the one the text suggests.
//
// Links whose target is absolute count as leading out, even when the target
// happens to lie inside again: that is the kernel's RESOLVE_BENEATH rule, and
// it keeps the answer independent of where the folder is mounted.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// Opens `rel` ("/"-separated, relative, no ".." components) below the folder
// `dirFd` without following any symbolic link on the way or at its end.
// `flags` are open(2) flags (O_CLOEXEC and O_NOFOLLOW are added). Returns the
// descriptor, or -1 with errno set: ELOOP when a component is a symbolic link
// (O_PATH without O_DIRECTORY opens a link in the last place itself, as
// open(2) does), ENOENT / ENOTDIR as open(2) gives them. "" opens `dirFd`
// itself again.
int OpenNoFollow(int dirFd, std::string_view rel, int flags, mode_t mode = 0);

// Opens the absolute path `path` only when no component of it is a symbolic
// link (openat2 RESOLVE_NO_SYMLINKS): such a path is canonical as it stands
// once its start is. `flags` are open(2) flags (O_CLOEXEC is added). Returns
// the descriptor, or -1 with errno set: ELOOP when a component is a link,
// ENOSYS where openat2 is not offered (the caller resolves another way),
// ENOENT / ENOTDIR / EACCES as open(2) gives them.
int OpenWithoutLinks(const std::string& path, int flags);

// The verdict of resolving a path below a root folder.
enum class Beneath {
  Inside,   // every step stayed at or below the root (missing tails included)
  Outside,  // a ".." above the root, or a link with an absolute target
  Loop,     // more than 40 links in a row: the kernel would refuse it (ELOOP)
};

// Resolves `path` the way the kernel would, starting at the folder `from`
// (components below the root, walked the same way), following the links it
// finds on disk by reading them, never by opening through them. Components
// that do not exist (or are no folder) are taken by their names, as if the
// page or the archive were to create them as folders: a later folder there
// leads where the text says. An absolute `path` is Outside; an empty one
// (an empty link target) is Outside as well, since it can never be followed.
Beneath ResolveBeneath(int rootFd, const std::vector<std::string>& from, std::string_view path);

// True when the native path `nativePath`, which lies textually below
// `nativeRoot`, also stays below it after the kernel follows every link on it
// (openat2 RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS from the root; without
// openat2, ResolveBeneath). A tail that does not exist yet counts as inside:
// what would be created there is created below the last existing folder.
// False too when `nativePath` is not textually below `nativeRoot`, or when the
// root cannot be opened.
bool PathStaysBeneath(const std::string& nativeRoot, const std::string& nativePath);

// Whether openat2 is used where the kernel offers it (the default). Tests
// switch it off to run the component walk that stands in for it on kernels
// without openat2 (before 5.6) or under a seccomp filter that refuses it.
void UseOpenat2(bool on);

// Splits a "/"-separated path into its components, dropping empty ones and ".".
std::vector<std::string> SplitNative(std::string_view path);

}  // namespace torvane
