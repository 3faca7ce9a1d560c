// Registry policy, path resolution and file times shared by the classes.
//
// Policy key: HKEY_LOCAL_MACHINE\SOFTWARE\Brightmoor\Torvane
//   "AllowPaths"          exactly "VirtualOnly" forbids physical paths
//   "AllowImpersonation"  exactly "False" forbids impersonation
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "automation/variant.h"

namespace torvane {

inline constexpr const char* kPolicyKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brightmoor\\Torvane";

// Reads one registry value. REG_SZ: `value` is the text followed by its
// terminating NUL character (callers remove it); REG_DWORD: the number.
// Returns 0, the registry's error code (value untouched), or -1 for other types.
int32_t QueryRegistryValue(std::string_view key, std::string_view valueName, Variant& value);

// A policy text of the Torvane key, without its terminating NUL ("" when absent).
std::string ReadPolicyText(std::string_view valueName);

// False exactly when "AllowImpersonation" is "False"; read anew on every call.
bool AllowImpersonation();

// The calling thread's path policy: 0 not read yet, 1 physical allowed,
// 2 virtual only. Read once per thread at the first path that needs it.
int32_t PathPolicy();
// Forgets the calling thread's cached policy (tests; a host starting a thread).
void ResetPathPolicy();

// Turns a page's path into a physical (DOS-form) path under the policy:
// physical or suspect forms ("X:\", "X:/", leading "\", leading "..", "/../")
// come back unchanged, or fail with 9030 "Only virtual directories may be used."
// under "VirtualOnly"; virtual ones go through Server.MapPath of the directory
// part, with "\" + name appended for a file. Under "VirtualOnly" a virtual path
// that reaches a symbolic link leading out of the site root (the kernel's
// resolution from the root, RESOLVE_BENEATH: ".." above it or an absolute
// target) fails with 9030 as well; a tail that does not exist yet is fine.
std::string ResolvePath(std::string_view path, bool isDirectory);

// Sets the last access and last write times of the file at the DOS path to the
// local date `date`. A missing file fails with the system's number and text.
// (Linux keeps no settable creation time.)
void SetFileDateTime(std::string_view path, double date);

}  // namespace torvane
