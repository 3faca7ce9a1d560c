// Folder services over Linux for the Directory class: the folder search with
// wildcards, folder creation, removal and renaming, attributes, existence,
// temporary names, and the single yield that the retrying operations use.
//
// Every path argument is a DOS-form physical path (C:\srv\data\ or \srv\data);
// it becomes a Linux path only here, right at the system call. A failing system
// call throws the errno error (number = errno, text = strerror).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// Matches one name against a folder-search pattern: "*" matches any run of
// characters (also none), "?" exactly one character, letter case ignored.
// As on the original platform, a pattern ending in ".*" also matches names
// without that dot ("*.*" matches every name, "a*.*" matches "abc"), and a
// pattern ending in a single "." matches only names without a dot ("*.").
bool WildcardMatch(std::string_view pattern, std::string_view name);

// The folder search: `dosPattern` is a folder path followed by a pattern for
// the names (C:\data\*.*). Returns the matching names of that folder in the
// order the file system returns them, "." and ".." included when they match.
// Returns nullopt when the search cannot start: the folder cannot be read, the
// pattern part is empty, or no name matches. Names that hold a backslash are
// never returned: in the DOS path form they would name another path.
std::optional<std::vector<std::string>> FolderSearch(std::string_view dosPattern);

// Creates one folder (the parent must exist); an existing name fails (EEXIST).
void MakeFolder(std::string_view dosPath);
// Removes an empty folder; a folder that is not empty fails (ENOTEMPTY).
void RemoveFolder(std::string_view dosPath);
// Renames (moves) a file or folder; fails when the target exists (EEXIST) or
// lies on another file system (EXDEV). Never replaces anything.
void MovePathNoReplace(std::string_view fromDos, std::string_view toDos);
// Deletes a file (not a folder).
void RemovePlainFile(std::string_view dosPath);

// True when anything (file, folder, link to an existing target) has that name.
bool PathExists(std::string_view dosPath);
// True when the name itself is a symbolic link (whatever it points to).
bool IsSymbolicLink(std::string_view dosPath);

// Attribute bits of the original platform.
namespace attr {
constexpr int32_t ReadOnly = 1;
constexpr int32_t Hidden = 2;
constexpr int32_t System = 4;
constexpr int32_t Directory = 16;
constexpr int32_t Archive = 32;
constexpr int32_t Normal = 128;
constexpr int32_t Temporary = 256;
// The bits kept in the user.DOSATTRIB extended attribute.
constexpr int32_t Stored = Hidden | System | Archive | Temporary;
}  // namespace attr

// The attributes of a path: READONLY when no write bit is set, DIRECTORY from
// the inode, HIDDEN, SYSTEM, ARCHIVE and TEMPORARY from the user.DOSATTRIB
// extended attribute (hex text such as "0x22"), NORMAL when no other bit is set.
int32_t ReadPathAttributes(std::string_view dosPath);
// Sets READONLY (removes every write bit, or gives the owner write access back)
// and the stored bits; DIRECTORY and NORMAL are ignored. Fails with the
// system's error when the path is missing or the bits cannot be stored.
void WritePathAttributes(std::string_view dosPath, int32_t attributes);

// Creates a new, empty file with an unguessable name (prefix followed by
// twelve random letters and digits) in the folder, exclusively (never opening an
// existing file), and returns its full DOS path. `dosFolder` may end with a
// separator or not.
std::string CreateTempFileName(std::string_view dosFolder, std::string_view prefix);

// Lets pending work of the host run once before an operation is retried.
void YieldOnce();

}  // namespace torvane
