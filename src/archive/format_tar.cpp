// TAR: read through libarchive (ustar, pax and GNU headers, uncompressed),
// written as restricted pax (plain ustar headers, pax extensions only for
// long or non-ASCII names and large sizes).
#include <cstring>

#include "archive/engine_util.h"
#include "archive/format_libarchive.h"
#include "archive/format_modules.h"

namespace torvane::engine {

namespace {

// The checksum of a 512-byte header block, as stored in bytes 148..155.
bool ChecksumMatches(std::span<const uint8_t> h) {
  unsigned sum = 0;
  for (size_t i = 0; i < 512; ++i) sum += (i >= 148 && i < 156) ? ' ' : h[i];
  unsigned stored = 0;
  bool digits = false;
  for (size_t i = 148; i < 156; ++i) {
    uint8_t c = h[i];
    if (c >= '0' && c <= '7') {
      stored = stored * 8 + (c - '0');
      digits = true;
    } else if (c != ' ' && c != 0) {
      return false;
    }
  }
  return digits && stored == sum;
}

class TarReader : public LibarchiveReader {
 public:
  TarReader(const SourceFile& source, const std::string& password)
      : LibarchiveReader(source, password, [](struct archive* a) { archive_read_support_format_tar(a); }, "TAR") {}

 protected:
  void Describe(struct archive_entry*, EntryMeta& meta) override {
    // A TAR stores its data as it is.
    meta.compressedSize = meta.kind == EntryKind::File ? meta.uncompressedSize : 0;
  }
};

class TarModule : public FormatModule {
 public:
  int32_t Type() const override { return kTypeTar; }
  const char* Name() const override { return "TAR"; }
  bool HasFolders() const override { return true; }
  int32_t Capabilities() const override { return kCapEmptyArchives | kCapUncompressedSize; }

  int Bid(const FileProbe& probe) const override {
    const auto& h = probe.head;
    if (h.size() < 512) return 0;
    if (std::memcmp(&h[257], "ustar", 5) == 0 && ChecksumMatches(h)) return 90;
    if (ChecksumMatches(h)) return 50;  // an old (v7) header
    // An empty archive: nothing but end-of-archive blocks.
    bool zero = true;
    for (size_t i = 0; i < 512 && zero; ++i) zero = h[i] == 0;
    if (zero && probe.size >= 1024 && probe.size % 512 == 0) return 10;
    return 0;
  }

  std::unique_ptr<FormatReader> OpenReader(const SourceFile& source, const std::string& password) const override {
    return std::make_unique<TarReader>(source, password);
  }

  std::unique_ptr<FormatWriter> OpenWriter(const std::string& nativePath, const WriteOptions&) const override {
    struct archive* a = archive_write_new();
    if (!a) throw std::bad_alloc();
    auto writer = std::make_unique<LibarchiveWriter>(a, "TAR");
    archive_write_set_format_pax_restricted(a);
    OpenWriteFile(a, nativePath);
    return writer;
  }
};

}  // namespace

const FormatModule& TarFormat() {
  static const TarModule module;
  return module;
}

}  // namespace torvane::engine
