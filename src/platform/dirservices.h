// Folder services over Linux for the Directory class: the folder search with
// wildcards, folder creation and removal, the symbolic-link test, and the single
// yield that the retrying operations use. Attributes, renaming, existence and
// temporary names are shared with File (platform/fileservices.h).
//
// Every path argument is a DOS-form physical path (C:\srv\data\ or \srv\data);
// it becomes a Linux path only here, right at the system call. A failing system
// call throws the errno error (number = errno, text = strerror).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace torvane {

// Matches one name against a folder-search pattern: "*" matches any run of
// characters (also none), "?" exactly one character, letter case ignored.
// As folder masks have always behaved, a pattern ending in ".*" also matches names
// without that dot ("*.*" matches every name, "a*.*" matches "abc"), and a
// pattern ending in a single "." matches only names without a dot ("*.").
bool FolderMaskMatch(std::string_view pattern, std::string_view name);

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
// True when the name itself is a symbolic link (whatever it points to).
bool IsSymbolicLink(std::string_view dosPath);

}  // namespace torvane
