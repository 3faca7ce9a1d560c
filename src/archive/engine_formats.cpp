// The registration table of the archive engine: every format module, in the
// order they bid for a file (ties go to the earlier one).
#include "archive/format_modules.h"

namespace torvane::engine {

const std::vector<const FormatModule*>& FormatModules() {
  static const std::vector<const FormatModule*> table = {
      &ZipFormat(), &GzipFormat(), &StuffItFormat(), &TarFormat(), &MacBinaryFormat(), &MimeFormat(),
  };
  return table;
}

const FormatModule* FormatByType(int32_t type) {
  for (const FormatModule* m : FormatModules())
    if (m->Type() == type) return m;
  return nullptr;
}

}  // namespace torvane::engine
