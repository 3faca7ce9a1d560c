// GZIP: one compressed file. Read through libarchive's raw format with the
// gzip filter; the member's name (FNAME), time and recorded size (ISIZE, the
// size modulo 2^32) come from the gzip header and trailer, which the raw
// format does not expose. Written through the same raw format and filter;
// the header libarchive writes carries neither name nor time, so the writer
// fills them in as the bytes leave (flag FNAME, MTIME), the way gzip -N does.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "archive/engine_util.h"
#include "basics/ascii.h"
#include "archive/format_libarchive.h"
#include "archive/format_modules.h"

namespace torvane::engine {

namespace {

struct GzipHeader {
  std::string name;  // FNAME, "" when absent
  uint32_t mtime = 0;
  int64_t headerLength = 10;
  int64_t isize = -1;
};

GzipHeader ReadHeader(const SourceFile& src) {
  GzipHeader g;
  std::vector<uint8_t> h(4096);
  h.resize(ReadFileAt(src.fd, h.data(), h.size(), 0));
  if (h.size() < 10) return g;
  uint8_t flags = h[3];
  g.mtime = uint32_t{h[4]} | (uint32_t{h[5]} << 8) | (uint32_t{h[6]} << 16) | (uint32_t{h[7]} << 24);
  size_t at = 10;
  if ((flags & 0x04) && at + 2 <= h.size()) at += 2 + (h[at] | (h[at + 1] << 8));
  if (flags & 0x08) {
    // An extra field may claim more bytes than the header holds.
    size_t end = std::min(at, h.size());
    while (end < h.size() && h[end] != 0) ++end;
    g.name = NameToUtf8(std::string(h.begin() + static_cast<long>(std::min(at, h.size())), h.begin() + static_cast<long>(end)), false);
    at = end + 1;
  }
  if (flags & 0x10) {
    while (at < h.size() && h[at] != 0) ++at;
    ++at;
  }
  if (flags & 0x02) at += 2;
  g.headerLength = static_cast<int64_t>(at);
  uint8_t t[4];
  if (src.size >= 18 && ReadFileAt(src.fd, t, 4, src.size - 4) == 4)
    g.isize = int64_t{t[0]} | (int64_t{t[1]} << 8) | (int64_t{t[2]} << 16) | (int64_t{t[3]} << 24);
  return g;
}

// The member's name when the header records none: the archive's name without
// its gzip suffix (".tgz" gives ".tar").
std::string NameFromArchive(const std::string& nativePath) {
  std::string base = BaseName(nativePath);
  std::string lower = AsciiLower(base);
  auto ends = [&](const char* s) {
    std::string x(s);
    return lower.size() > x.size() && lower.compare(lower.size() - x.size(), x.size(), x) == 0;
  };
  if (ends(".tgz")) return base.substr(0, base.size() - 4) + ".tar";
  if (ends(".gz") || ends("-gz") || ends("_gz")) return base.substr(0, base.size() - 3);
  if (ends(".z") || ends("-z") || ends("_z")) return base.substr(0, base.size() - 2);
  return base;
}

class GzipReader : public LibarchiveReader {
 public:
  GzipReader(const SourceFile& source, const std::string& password)
      : LibarchiveReader(source, password,
                         [](struct archive* a) {
                           archive_read_support_format_raw(a);
                           archive_read_support_filter_gzip(a);
                         },
                         "GZIP"),
        header_(ReadHeader(source)),
        archiveName_(NameFromArchive(source.nativePath)),
        archiveSize_(source.size) {}

 protected:
  void Describe(struct archive_entry*, EntryMeta& meta) override {
    std::string name = header_.name.empty() ? archiveName_ : BaseName(header_.name);
    std::replace(name.begin(), name.end(), '\\', '_');
    meta.path = name;
    meta.kind = EntryKind::File;
    meta.mtime = header_.mtime;
    meta.mode = 0644;
    meta.uncompressedSize = header_.isize;
    meta.sizeExact = false;
    meta.compressedSize = std::max<int64_t>(0, archiveSize_ - header_.headerLength - 8);
  }

 private:
  GzipHeader header_;
  std::string archiveName_;
  int64_t archiveSize_;
};

class GzipWriter : public LibarchiveWriter {
 public:
  GzipWriter(struct archive* a, int fd) : LibarchiveWriter(a, "GZIP"), fd_(fd) {}
  ~GzipWriter() override {
    FreeHandle();
    if (fd_ >= 0) ::close(fd_);
  }

  static la_ssize_t WriteCb(struct archive* a, void* self, const void* data, size_t n) {
    auto* w = static_cast<GzipWriter*>(self);
    try {
      w->Emit(static_cast<const uint8_t*>(data), n);
    } catch (const Error& e) {
      archive_set_error(a, e.number > 0 ? e.number : EIO, "%s", e.description.c_str());
      return -1;
    }
    return static_cast<la_ssize_t>(n);
  }

  static int CloseCb(struct archive* a, void* self) {
    auto* w = static_cast<GzipWriter*>(self);
    try {
      w->Flush();
    } catch (const Error& e) {
      archive_set_error(a, e.number > 0 ? e.number : EIO, "%s", e.description.c_str());
      return ARCHIVE_FATAL;
    }
    return ARCHIVE_OK;
  }

 protected:
  void BeforeHeader(struct archive*, const EntryMeta& meta, struct archive_entry*) override {
    name_ = BaseName(meta.path);
    mtime_ = meta.mtime > 0 && meta.mtime < 0xFFFFFFFFLL ? static_cast<uint32_t>(meta.mtime) : 0;
    named_ = true;
  }

 private:
  // Passes the compressed stream on; the first ten bytes (the fixed header)
  // wait until the member's name is known and leave with FNAME and MTIME set.
  void Emit(const uint8_t* data, size_t n) {
    if (patched_) {
      WriteFileAll(fd_, data, n);
      return;
    }
    pending_.insert(pending_.end(), data, data + n);
    if (pending_.size() >= 10 && named_) Patch();
  }
  void Flush() {
    if (!patched_ && pending_.size() >= 10) Patch();
    if (!pending_.empty()) WriteFileAll(fd_, pending_.data(), pending_.size());
    pending_.clear();
    if (fd_ >= 0 && ::close(fd_) != 0) {
      fd_ = -1;
      ThrowErrno(errno);
    }
    fd_ = -1;
  }
  void Patch() {
    std::vector<uint8_t> out(pending_.begin(), pending_.begin() + 10);
    out[3] |= 0x08;  // FNAME
    for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<uint8_t>(mtime_ >> (8 * i));
    out.insert(out.end(), name_.begin(), name_.end());
    out.push_back(0);
    out.insert(out.end(), pending_.begin() + 10, pending_.end());
    WriteFileAll(fd_, out.data(), out.size());
    pending_.clear();
    patched_ = true;
  }

  int fd_;
  bool named_ = false;
  bool patched_ = false;
  std::string name_;
  uint32_t mtime_ = 0;
  std::vector<uint8_t> pending_;
};

class GzipModule : public FormatModule {
 public:
  int32_t Type() const override { return kTypeGzip; }
  const char* Name() const override { return "GZIP"; }
  bool HasFolders() const override { return false; }
  int32_t Capabilities() const override { return kCapUncompressedSize; }

  int Bid(const FileProbe& probe) const override {
    const auto& h = probe.head;
    return h.size() >= 10 && h[0] == 0x1f && h[1] == 0x8b && h[2] == 8 ? 100 : 0;
  }

  std::unique_ptr<FormatReader> OpenReader(const SourceFile& source, const std::string& password) const override {
    return std::make_unique<GzipReader>(source, password);
  }

  void CheckContents(size_t files, size_t others) const override {
    if (files != 1 || others != 0)
      ThrowEngine(engine_error::BadContents, "A GZIP archive holds exactly one file.");
  }

  std::unique_ptr<FormatWriter> OpenWriter(const std::string& nativePath, const WriteOptions&) const override {
    int fd = ::open(nativePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) ThrowErrno(errno);
    struct archive* a = archive_write_new();
    if (!a) {
      ::close(fd);
      throw std::bad_alloc();
    }
    auto writer = std::make_unique<GzipWriter>(a, fd);
    archive_write_set_format_raw(a);
    archive_write_add_filter_gzip(a);
    archive_write_set_bytes_in_last_block(a, 1);
    if (archive_write_open(a, writer.get(), nullptr, &GzipWriter::WriteCb, &GzipWriter::CloseCb) != ARCHIVE_OK)
      ThrowLibarchive(a, engine_error::WriteFailed, "Cannot write the GZIP archive: ");
    return writer;
  }
};

}  // namespace

const FormatModule& GzipFormat() {
  static const GzipModule module;
  return module;
}

}  // namespace torvane::engine
