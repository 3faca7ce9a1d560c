// The DOS path model over Linux paths.
//
// Physical paths inside the component keep the DOS form: a drive letter, a colon
// and backslashes (C:\srv\data\a.txt), or a leading backslash (or slash) for the
// current drive. A drive table maps letters to Linux directories (default: C: is
// "/"). Only this layer turns a DOS path into the Linux path at the system call.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace torvane {

struct DriveTable {
  std::map<char, std::string> drives;  // upper-case letter -> Linux directory
  char current = 'C';
};

// The process-wide drive table (set once at start-up by the host; tests may set it).
const DriveTable& Drives();
void SetDrives(DriveTable table);

// "C:\srv\a.txt" -> "/srv/a.txt"; "\srv\a.txt" and "/srv/a.txt" use the current
// drive; a relative path keeps its form with "/" separators. An unmapped drive
// letter maps below "/nonexistent-drive-X" so that every access fails with ENOENT.
std::string ToNativePath(std::string_view dosPath);

// "/srv/site/a.txt" -> "C:\srv\site\a.txt": the drive whose directory is the
// longest prefix of the path (the current drive's root when none matches).
std::string ToDosPath(std::string_view nativePath);

// Parses "C=/,D=/data" (the configuration form) into a table.
DriveTable ParseDriveTable(std::string_view text);

}  // namespace torvane
