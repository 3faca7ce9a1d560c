// MacBinary: one Macintosh file, its data fork and its resource fork, behind a
// 128-byte header. Read: MacBinary I, II and III (a header whose CRC matches,
// or which carries the "mBIN" signature, or an old header whose lengths fit the
// file exactly). Written: MacBinary III with the MacBinary II CRC.
//
// The entry's data is the data fork; the Finder data and the resource fork
// travel in EntryMeta::mac (extraction writes them to an AppleDouble
// companion, saving reads them back from one).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "archive/engine_util.h"
#include "archive/format_modules.h"

namespace torvane::engine {

namespace {

constexpr int64_t kMacEpochOffset = 2082844800;  // seconds from 1904-01-01 to 1970-01-01
constexpr uint32_t kMaxResourceFork = 64u << 20;

uint32_t Be32(const uint8_t* p) { return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3]; }
void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
int64_t Padded(int64_t n) { return (n + 127) / 128 * 128; }

// CRC-16/XMODEM (polynomial 0x1021, initial 0), as MacBinary II defines it.
uint16_t Crc16(const uint8_t* p, size_t n) {
  uint16_t crc = 0;
  for (size_t i = 0; i < n; ++i) {
    crc ^= static_cast<uint16_t>(p[i] << 8);
    for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : static_cast<uint16_t>(crc << 1);
  }
  return crc;
}

struct Header {
  std::string name;
  uint32_t dataLength = 0, resourceLength = 0;
  uint32_t modified = 0;
  int64_t dataOffset = 128;
  MacForks forks;
};

// 0: not MacBinary; otherwise the confidence.
int Validate(std::span<const uint8_t> h, int64_t size) {
  if (h.size() < 128 || size < 128) return 0;
  if (h[0] != 0 || h[74] != 0 || h[82] != 0 || h[1] < 1 || h[1] > 63) return 0;
  uint32_t data = Be32(&h[83]), rsrc = Be32(&h[87]);
  if (data > 0x7FFFFFFF || rsrc > 0x7FFFFFFF) return 0;
  uint16_t secondary = static_cast<uint16_t>((h[120] << 8) | h[121]);
  int64_t need = 128 + Padded(secondary) + Padded(data) + Padded(rsrc);
  int64_t exact = 128 + Padded(secondary) + data + (rsrc ? Padded(data) - data + rsrc : 0);
  if (size < exact) return 0;
  uint16_t crc = static_cast<uint16_t>((h[124] << 8) | h[125]);
  if (crc == Crc16(h.data(), 124) && crc != 0) return 90;
  if (std::memcmp(&h[102], "mBIN", 4) == 0) return 90;
  // MacBinary I: no CRC, the tail of the header is zero and the lengths fit.
  for (size_t i = 99; i < 126; ++i)
    if (h[i] != 0) return 0;
  return (size == need || size == exact) ? 40 : 0;
}

Header ParseHeader(const uint8_t* h) {
  Header out;
  std::string raw(reinterpret_cast<const char*>(h + 2), h[1]);
  out.name = MacRomanToUtf8(raw);
  // A Mac name may hold "/" and "\": the entry stays one file.
  std::replace(out.name.begin(), out.name.end(), '/', ':');
  std::replace(out.name.begin(), out.name.end(), '\\', ':');
  out.dataLength = Be32(h + 83);
  out.resourceLength = Be32(h + 87);
  out.modified = Be32(h + 95);
  uint16_t secondary = static_cast<uint16_t>((h[120] << 8) | h[121]);
  out.dataOffset = 128 + Padded(secondary);
  uint8_t* fi = out.forks.finderInfo;
  std::memcpy(fi, h + 65, 8);  // type, creator
  fi[8] = h[73];               // Finder flags, high byte
  fi[9] = h[101];              // Finder flags, low byte
  std::memcpy(fi + 10, h + 75, 6);  // location, folder
  return out;
}

class MacBinaryReader : public FormatReader {
 public:
  explicit MacBinaryReader(const SourceFile& source) : source_(source) {
    uint8_t h[128];
    if (ReadFileAt(source.fd, h, 128, 0) != 128 || Validate({h, 128}, source.size) == 0)
      ThrowEngine(engine_error::Damaged, "The MacBinary file is damaged: " + source.dosPath);
    header_ = ParseHeader(h);
    if (header_.resourceLength > kMaxResourceFork)
      ThrowEngine(engine_error::Damaged, "The MacBinary resource fork is too large: " + source.dosPath);
  }

  bool Next(EntryMeta& meta) override {
    if (done_) return false;
    done_ = true;
    meta.path = header_.name;
    meta.kind = EntryKind::File;
    meta.uncompressedSize = header_.dataLength;
    meta.compressedSize = int64_t{header_.dataLength} + header_.resourceLength;
    meta.mtime = header_.modified ? int64_t{header_.modified} - kMacEpochOffset : 0;
    meta.mode = 0644;
    auto forks = std::make_shared<MacForks>(header_.forks);
    forks->resourceFork.resize(header_.resourceLength);
    int64_t rsrcAt = header_.dataOffset + Padded(header_.dataLength);
    if (ReadFileAt(source_.fd, forks->resourceFork.data(), header_.resourceLength, rsrcAt) != header_.resourceLength)
      ThrowEngine(engine_error::Damaged, "The MacBinary file is truncated: " + source_.dosPath);
    meta.mac = forks;
    return true;
  }

  size_t Read(uint8_t* buffer, size_t n) override {
    int64_t left = int64_t{header_.dataLength} - pos_;
    if (left <= 0) return 0;
    size_t want = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(n)));
    size_t got = ReadFileAt(source_.fd, buffer, want, header_.dataOffset + pos_);
    if (got != want) ThrowEngine(engine_error::Damaged, "The MacBinary file is truncated: " + source_.dosPath);
    pos_ += static_cast<int64_t>(got);
    return got;
  }

 private:
  SourceFile source_;
  Header header_;
  bool done_ = false;
  int64_t pos_ = 0;
};

class MacBinaryWriter : public FormatWriter {
 public:
  explicit MacBinaryWriter(int fd) : fd_(fd) {}
  ~MacBinaryWriter() override {
    if (fd_.get() >= 0) fd_.Reset();
  }

  void Begin(const EntryMeta& meta) override {
    if (meta.kind != EntryKind::File)
      ThrowEngine(engine_error::BadContents, "A MacBinary archive holds exactly one file.");
    if (meta.uncompressedSize > 0x7FFFFFFF)
      ThrowEngine(engine_error::BadContents, "A MacBinary data fork cannot exceed 2 GiB: " + meta.path);
    uint8_t h[128] = {};
    std::string name = Utf8ToMacRoman(BaseName(meta.path));
    if (name.size() > 63) name.resize(63);
    if (name.empty()) name = "Untitled";
    h[1] = static_cast<uint8_t>(name.size());
    std::memcpy(h + 2, name.data(), name.size());
    MacForks forks = meta.mac ? *meta.mac : MacForks();
    std::memcpy(h + 65, forks.finderInfo, 8);
    h[73] = forks.finderInfo[8];
    std::memcpy(h + 75, forks.finderInfo + 10, 6);
    h[101] = forks.finderInfo[9];
    dataLength_ = meta.uncompressedSize > 0 ? meta.uncompressedSize : 0;
    resource_ = forks.resourceFork;
    PutBe32(h + 83, static_cast<uint32_t>(dataLength_));
    PutBe32(h + 87, static_cast<uint32_t>(resource_.size()));
    uint32_t macTime = meta.mtime > 0 ? static_cast<uint32_t>(meta.mtime + kMacEpochOffset) : 0;
    PutBe32(h + 91, macTime);
    PutBe32(h + 95, macTime);
    std::memcpy(h + 102, "mBIN", 4);
    h[122] = 130;  // MacBinary III
    h[123] = 129;  // readable by MacBinary II readers
    uint16_t crc = Crc16(h, 124);
    h[124] = static_cast<uint8_t>(crc >> 8);
    h[125] = static_cast<uint8_t>(crc);
    WriteFileAll(fd_.get(), h, 128);
  }

  void Write(const uint8_t* data, size_t n) override {
    written_ += static_cast<int64_t>(n);
    WriteFileAll(fd_.get(), data, n);
  }

  void End() override {
    static const uint8_t zeros[128] = {};
    WriteFileAll(fd_.get(), zeros, static_cast<size_t>(Padded(written_) - written_));
    if (!resource_.empty()) {
      WriteFileAll(fd_.get(), resource_.data(), resource_.size());
      int64_t r = static_cast<int64_t>(resource_.size());
      WriteFileAll(fd_.get(), zeros, static_cast<size_t>(Padded(r) - r));
    }
  }

  void Finish() override {
    if (::close(fd_.Release()) != 0) ThrowErrno(errno);
  }

 private:
  UniqueFd fd_;
  int64_t dataLength_ = 0;
  int64_t written_ = 0;
  Bytes resource_;
};

class MacBinaryModule : public FormatModule {
 public:
  int32_t Type() const override { return kTypeMacBinary; }
  const char* Name() const override { return "MacBinary"; }
  bool HasFolders() const override { return false; }
  int32_t Capabilities() const override { return kCapUncompressedSize; }
  bool WantsMacForks() const override { return true; }

  int Bid(const FileProbe& probe) const override { return Validate(probe.head, probe.size); }

  std::unique_ptr<FormatReader> OpenReader(const SourceFile& source, const std::string&) const override {
    return std::make_unique<MacBinaryReader>(source);
  }

  void CheckContents(size_t files, size_t others) const override {
    if (files != 1 || others != 0)
      ThrowEngine(engine_error::BadContents, "A MacBinary archive holds exactly one file.");
  }

  std::unique_ptr<FormatWriter> OpenWriter(const std::string& nativePath, const WriteOptions&) const override {
    int fd = ::open(nativePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) ThrowErrno(errno);
    return std::make_unique<MacBinaryWriter>(fd);
  }
};

}  // namespace

const FormatModule& MacBinaryFormat() {
  static const MacBinaryModule module;
  return module;
}

}  // namespace torvane::engine
