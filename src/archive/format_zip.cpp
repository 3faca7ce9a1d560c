// ZIP: read through libarchive's seekable ZIP reader (stored, deflated and the
// other methods it knows; traditional PKWARE and WinZip AES encryption), with
// the compressed sizes and methods taken from the central directory, which
// libarchive does not expose; written through libarchive's ZIP writer (store
// or deflate per entry; a password encrypts every file entry with the method
// chosen: 1 traditional, 2 AES-128, 4 AES-256).
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "archive/engine_util.h"
#include "basics/ascii.h"
#include "archive/format_libarchive.h"
#include "archive/format_modules.h"

namespace torvane::engine {

namespace {

struct CdRecord {
  uint64_t compressed = 0;
  uint64_t uncompressed = 0;
  uint16_t method = 0;
};

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) { return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24); }
uint64_t Le64(const uint8_t* p) { return uint64_t{Le32(p)} | (uint64_t{Le32(p + 4)} << 32); }

struct CentralDirectory {
  bool found = false;  // an end record was found
  uint64_t count = 0;  // entries it announces
  std::unordered_map<uint64_t, CdRecord> byOffset;
};

// Local header offset -> compressed size and method, from the central
// directory. An unreadable directory gives an empty map (sizes stay unknown;
// libarchive reports the damage when it reads the entries).
CentralDirectory ReadCentralDirectory(const SourceFile& src) {
  CentralDirectory dir;
  auto& out = dir.byOffset;
  int64_t tailLen = std::min<int64_t>(src.size, 65557);
  if (tailLen < 22) return dir;
  std::vector<uint8_t> tail(static_cast<size_t>(tailLen));
  int64_t tailAt = src.size - tailLen;
  if (ReadFileAt(src.fd, tail.data(), tail.size(), tailAt) != tail.size()) return dir;
  int64_t eocd = -1;
  for (int64_t i = tailLen - 22; i >= 0; --i)
    if (Le32(&tail[static_cast<size_t>(i)]) == 0x06054b50) {
      eocd = i;
      break;
    }
  if (eocd < 0) return dir;
  const uint8_t* e = &tail[static_cast<size_t>(eocd)];
  uint64_t count = Le16(e + 10), cdSize = Le32(e + 12), cdOffset = Le32(e + 16);
  int64_t eocdAbs = tailAt + eocd;
  dir.found = true;
  dir.count = count;
  if (count == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF) {
    // ZIP64: the locator sits just before the end record.
    if (eocdAbs < 20) return dir;
    uint8_t loc[20];
    if (ReadFileAt(src.fd, loc, 20, eocdAbs - 20) != 20 || Le32(loc) != 0x07064b50) return dir;
    uint8_t z[56];
    int64_t zAt = static_cast<int64_t>(Le64(loc + 8));
    if (ReadFileAt(src.fd, z, 56, zAt) != 56 || Le32(z) != 0x06064b50) return dir;
    count = Le64(z + 32);
    cdSize = Le64(z + 40);
    cdOffset = Le64(z + 48);
    eocdAbs = zAt;
    dir.count = count;
  }
  // Data in front of the archive (a self-extractor) shifts every offset.
  int64_t shift = eocdAbs - static_cast<int64_t>(cdSize) - static_cast<int64_t>(cdOffset);
  if (cdSize > static_cast<uint64_t>(src.size) || shift < 0) return dir;
  std::vector<uint8_t> cd(static_cast<size_t>(cdSize));
  if (ReadFileAt(src.fd, cd.data(), cd.size(), static_cast<int64_t>(cdOffset) + shift) != cd.size()) return dir;
  size_t at = 0;
  for (uint64_t n = 0; n < count && at + 46 <= cd.size(); ++n) {
    const uint8_t* h = &cd[at];
    if (Le32(h) != 0x02014b50) break;
    uint16_t method = Le16(h + 10);
    uint64_t csize = Le32(h + 20), usize = Le32(h + 24), offset = Le32(h + 42);
    size_t nameLen = Le16(h + 28), extraLen = Le16(h + 30), commentLen = Le16(h + 32);
    if (at + 46 + nameLen + extraLen + commentLen > cd.size()) break;
    const uint8_t* x = h + 46 + nameLen;
    for (size_t k = 0; k + 4 <= extraLen;) {
      uint16_t id = Le16(x + k), len = Le16(x + k + 2);
      const uint8_t* d = x + k + 4;
      if (k + 4 + len > extraLen) break;
      if (id == 0x0001) {  // ZIP64 sizes and offset, each present only when its field is saturated
        size_t p = 0;
        if (usize == 0xFFFFFFFF && p + 8 <= len) { usize = Le64(d + p); p += 8; }
        if (csize == 0xFFFFFFFF && p + 8 <= len) { csize = Le64(d + p); p += 8; }
        if (offset == 0xFFFFFFFF && p + 8 <= len) { offset = Le64(d + p); p += 8; }
      } else if (id == 0x9901 && len >= 7) {  // WinZip AES: the real method follows
        method = Le16(d + 5);
      }
      k += 4 + len;
    }
    // Two records at one offset: the first one counts, as for the reader.
    out.emplace(offset + static_cast<uint64_t>(shift), CdRecord{csize, usize, method});
    at += 46 + nameLen + extraLen + commentLen;
  }
  return dir;
}

// The central directory's records in the order the seekable reader hands the
// entries out: by local header offset, one entry per offset.
std::vector<CdRecord> InReadingOrder(const std::unordered_map<uint64_t, CdRecord>& byOffset) {
  std::vector<std::pair<uint64_t, CdRecord>> sorted(byOffset.begin(), byOffset.end());
  std::sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<CdRecord> out;
  out.reserve(sorted.size());
  for (const auto& entry : sorted) out.push_back(entry.second);
  return out;
}

class ZipReader : public LibarchiveReader {
 public:
  ZipReader(const SourceFile& source, const std::string& password)
      : LibarchiveReader(source, password, [](struct archive* a) { archive_read_support_format_zip_seekable(a); },
                         "ZIP"),
        directory_(InReadingOrder(ReadCentralDirectory(source).byOffset)) {}

 protected:
  bool Cp437Names() const override { return true; }
  // libarchive's seekable ZIP reader walks the central directory in the order
  // of the local header offsets and does not say which record an entry came
  // from (its header position is where the previous read stopped, right only
  // for the first entry), so the n-th entry is the n-th record in that order.
  void Describe(struct archive_entry*, EntryMeta& meta) override {
    size_t n = next_++;
    if (n >= directory_.size()) return;
    const CdRecord& record = directory_[n];
    meta.compressedSize = static_cast<int64_t>(record.compressed);
    meta.stored = record.method == 0;
    // The central directory is the archive's declaration of its sizes (what
    // every lister shows); a local header that claims more does not raise
    // the bound extraction enforces.
    if (meta.kind == EntryKind::File) meta.uncompressedSize = static_cast<int64_t>(record.uncompressed);
  }

 private:
  std::vector<CdRecord> directory_;
  size_t next_ = 0;
};

// File types whose content is already compressed: stored, not deflated again.
bool AlreadyCompressed(const std::string& path) {
  static const char* kinds[] = {".zip", ".gz",  ".tgz", ".bz2", ".xz",  ".7z",   ".rar",  ".jpg",  ".jpeg",
                                ".png", ".gif", ".webp", ".mp3", ".mp4", ".m4a", ".mov", ".avi", ".mkv",
                                ".ogg", ".flac", ".docx", ".xlsx", ".pptx", ".odt", ".ods", ".jar", ".zst"};
  std::string lower = AsciiLower(path);
  for (const char* k : kinds) {
    size_t n = std::strlen(k);
    if (lower.size() > n && lower.compare(lower.size() - n, n, k) == 0) return true;
  }
  return false;
}

class ZipWriter : public LibarchiveWriter {
 public:
  using LibarchiveWriter::LibarchiveWriter;

 protected:
  void BeforeHeader(struct archive* a, const EntryMeta& meta, struct archive_entry*) override {
    bool store = meta.kind != EntryKind::File || meta.uncompressedSize == 0 || meta.stored ||
                 AlreadyCompressed(meta.path);
    if (store) archive_write_zip_set_compression_store(a);
    else archive_write_zip_set_compression_deflate(a);
  }
};

// An archive with no entries at all (libarchive does not read those).
class EmptyReader : public FormatReader {
 public:
  bool Next(EntryMeta&) override { return false; }
  size_t Read(uint8_t*, size_t) override { return 0; }
};

class ZipModule : public FormatModule {
 public:
  int32_t Type() const override { return kTypeZip; }
  const char* Name() const override { return "ZIP"; }
  bool HasFolders() const override { return true; }
  int32_t Capabilities() const override { return kCapEmptyArchives | kCapUncompressedSize; }
  std::vector<int32_t> EncryptionKinds() const override { return {1, 2, 4}; }

  int Bid(const FileProbe& probe) const override {
    const auto& h = probe.head;
    if (h.size() < 4 || h[0] != 'P' || h[1] != 'K') return 0;
    if ((h[2] == 3 && h[3] == 4) || (h[2] == 5 && h[3] == 6)) return 100;
    if (h[2] == 7 && h[3] == 8 && h.size() >= 8 && h[4] == 'P' && h[5] == 'K' && h[6] == 3 && h[7] == 4) return 100;
    return 0;
  }

  std::unique_ptr<FormatReader> OpenReader(const SourceFile& source, const std::string& password) const override {
    CentralDirectory dir = ReadCentralDirectory(source);
    if (dir.found && dir.count == 0) return std::make_unique<EmptyReader>();
    return std::make_unique<ZipReader>(source, password);
  }

  std::unique_ptr<FormatWriter> OpenWriter(const std::string& nativePath, const WriteOptions& options) const override {
    struct archive* a = archive_write_new();
    if (!a) throw std::bad_alloc();
    auto writer = std::make_unique<ZipWriter>(a, "ZIP");
    archive_write_set_format_zip(a);
    archive_write_set_bytes_in_last_block(a, 1);
    if (archive_write_set_format_option(a, "zip", "hdrcharset", "UTF-8") < ARCHIVE_WARN)
      ThrowLibarchive(a, engine_error::WriteFailed, "Cannot prepare the ZIP archive: ");
    if (!options.password.empty()) {
      const char* method = options.methodKind == 1 ? "zipcrypt" : options.methodKind == 2 ? "aes128" : "aes256";
      if (archive_write_set_format_option(a, "zip", "encryption", method) != ARCHIVE_OK)
        ThrowLibarchive(a, engine_error::NotSupported, "Cannot encrypt the ZIP archive: ");
      if (archive_write_set_passphrase(a, options.password.c_str()) != ARCHIVE_OK)
        ThrowLibarchive(a, engine_error::WriteFailed, "Cannot encrypt the ZIP archive: ");
    }
    OpenWriteFile(a, nativePath);
    return writer;
  }
};

}  // namespace

const FormatModule& ZipFormat() {
  static const ZipModule module;
  return module;
}

}  // namespace torvane::engine
