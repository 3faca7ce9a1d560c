// StuffIt: recognised (the classic "SIT!"/"ST.." + "rLau" signatures and the
// StuffIt 5 banner) so that opening one fails with a clear "not supported"
// error instead of "unknown format". The engine neither reads nor writes
// StuffIt archives.
#include <cstring>

#include "archive/engine_util.h"
#include "archive/format_modules.h"

namespace torvane::engine {

namespace {

class StuffItModule : public FormatModule {
 public:
  int32_t Type() const override { return kTypeStuffIt; }
  const char* Name() const override { return "StuffIt"; }
  bool HasFolders() const override { return true; }
  int32_t Capabilities() const override { return kCapUncompressedSize; }
  bool Writable() const override { return false; }

  int Bid(const FileProbe& probe) const override {
    const auto& h = probe.head;
    if (h.size() >= 16 && std::memcmp(&h[0], "StuffIt (c)1997-", 16) == 0) return 100;
    if (h.size() < 22 || std::memcmp(&h[10], "rLau", 4) != 0) return 0;
    static const char* kSignatures[] = {"SIT!", "ST46", "ST50", "ST60", "ST65", "STin", "STi2", "STi3", "STi4"};
    for (const char* s : kSignatures)
      if (std::memcmp(&h[0], s, 4) == 0) return 100;
    return 0;
  }

  std::unique_ptr<FormatReader> OpenReader(const SourceFile& source, const std::string&) const override {
    ThrowEngine(engine_error::NotSupported, "StuffIt archives are not supported by this engine: " + source.dosPath);
  }

  std::unique_ptr<FormatWriter> OpenWriter(const std::string&, const WriteOptions&) const override {
    ThrowEngine(engine_error::NotSupported, "Writing StuffIt archives is not supported.");
  }
};

}  // namespace

const FormatModule& StuffItFormat() {
  static const StuffItModule module;
  return module;
}

}  // namespace torvane::engine
