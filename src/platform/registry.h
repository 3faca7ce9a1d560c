// The registry stand-in: a .reg text file (REGEDIT5 or REGEDIT4) plus, for
// HKEY_CLASSES_ROOT keys that file lacks, the system's MIME data.
//
// File: given by --registry / TORVANE_REGISTRY, default /etc/torvane/registry.reg.
// A missing file is an empty registry. The file is read again when it changes.
//
// HKCR fallback: "HKEY_CLASSES_ROOT\.ext" gets "Content Type" = the MIME type of
// *.ext from /usr/share/mime/globs2 and a default value naming that type;
// "HKEY_CLASSES_ROOT\<type>" gets the type's English description from the
// shared-mime-info XML (/usr/share/mime/<type>.xml) as its default value.
// The MIME data is read once (each description at its first use); the file
// is looked at on every lookup (or once for the lookups of one operation,
// RegistryGlance), so an edit shows at the next call. Lookups from many
// threads run side by side while the file is unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace torvane {

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr int32_t kRegNotFound = 2;  // ERROR_FILE_NOT_FOUND

struct RegValue {
  uint32_t type = 0;
  std::string text;      // REG_SZ / REG_EXPAND_SZ / REG_BINARY bytes
  uint32_t number = 0;   // REG_DWORD
};

// Sets the file the registry reads (the host calls it at start-up; tests too).
void SetRegistryFile(std::string path);
const std::string& RegistryFile();
// Where system MIME data is read from (tests may point it elsewhere).
void SetMimeDirectory(std::string dir);

// Looks a value up: key is "HKEY_LOCAL_MACHINE\SOFTWARE\..." (HKLM / HKCR
// abbreviations accepted, letter case ignored); valueName "" is the default
// value. Returns 0 and fills `out`, or kRegNotFound.
int32_t RegistryLookup(std::string_view key, std::string_view valueName, RegValue& out);

// While one lives on a thread, that thread's lookups share one look at the
// file, taken at the first of them: the lookups of one operation (a file's
// type: its MIME type, class and the class's description) read one version
// of the file, for one stat instead of one each. An edit shows at the next
// operation. Scopes nest; the outermost one's look counts.
class RegistryGlance {
 public:
  RegistryGlance();
  ~RegistryGlance();
  RegistryGlance(const RegistryGlance&) = delete;
  RegistryGlance& operator=(const RegistryGlance&) = delete;
};

}  // namespace torvane
