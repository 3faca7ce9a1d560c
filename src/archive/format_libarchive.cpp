#include "archive/format_libarchive.h"

#include <unistd.h>

#include <cerrno>

#include "archive/engine_util.h"

namespace torvane::engine {

namespace {
constexpr size_t kReadBlock = 64 * 1024;

bool PasswordProblem(const char* text) {
  if (!text) return false;
  std::string t = text;
  return t.find("assphrase") != std::string::npos || t.find("assword") != std::string::npos ||
         t.find("ncrypt") != std::string::npos;
}
}  // namespace

LibarchiveReader::LibarchiveReader(const SourceFile& source, const std::string& password,
                                   const std::function<void(struct archive*)>& setup, std::string format)
    : source_(source), buffer_(kReadBlock), format_(std::move(format)) {
  a_ = archive_read_new();
  if (!a_) throw std::bad_alloc();
  setup(a_);
  if (!password.empty()) archive_read_add_passphrase(a_, password.c_str());
  archive_read_set_read_callback(a_, &ReadCb);
  archive_read_set_skip_callback(a_, &SkipCb);
  archive_read_set_seek_callback(a_, &SeekCb);
  archive_read_set_callback_data(a_, this);
  if (archive_read_open1(a_) != ARCHIVE_OK) {
    std::string text = archive_error_string(a_) ? archive_error_string(a_) : "cannot be read";
    int e = archive_errno(a_);
    archive_read_free(a_);
    a_ = nullptr;
    if (e == EIO || e == EACCES) ThrowErrno(e);
    ThrowEngine(engine_error::Damaged, "The " + format_ + " archive cannot be read: " + text);
  }
}

LibarchiveReader::~LibarchiveReader() {
  if (a_) archive_read_free(a_);
}

la_ssize_t LibarchiveReader::ReadCb(struct archive* a, void* self, const void** buffer) {
  auto* r = static_cast<LibarchiveReader*>(self);
  ssize_t n = PreadSome(r->source_.fd, r->buffer_.data(), r->buffer_.size(), r->offset_);
  if (n < 0) {
    archive_set_error(a, errno, "read failed");
    return -1;
  }
  r->offset_ += n;
  *buffer = r->buffer_.data();
  return n;
}

la_int64_t LibarchiveReader::SkipCb(struct archive*, void* self, la_int64_t request) {
  auto* r = static_cast<LibarchiveReader*>(self);
  la_int64_t left = r->source_.size - r->offset_;
  la_int64_t step = request < left ? request : (left > 0 ? left : 0);
  r->offset_ += step;
  return step;
}

la_int64_t LibarchiveReader::SeekCb(struct archive*, void* self, la_int64_t offset, int whence) {
  auto* r = static_cast<LibarchiveReader*>(self);
  la_int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? r->offset_ : r->source_.size;
  la_int64_t to = base + offset;
  if (to < 0) return ARCHIVE_FATAL;
  r->offset_ = to;
  return to;
}

bool LibarchiveReader::Next(EntryMeta& meta) {
  struct archive_entry* e = nullptr;
  int r = archive_read_next_header(a_, &e);
  if (r == ARCHIVE_EOF) return false;
  if (r < ARCHIVE_WARN) ThrowLibarchive(a_, engine_error::Damaged, "The " + format_ + " archive is damaged: ");
  const char* name = archive_entry_pathname(e);
  meta.path = NameToUtf8(name ? name : "", Cp437Names());
  current_ = meta.path;
  switch (archive_entry_filetype(e)) {
    case AE_IFDIR: meta.kind = EntryKind::Folder; break;
    case AE_IFLNK: meta.kind = EntryKind::Symlink; break;
    case AE_IFREG: meta.kind = EntryKind::File; break;
    case 0: meta.kind = EntryKind::File; break;
    default:
      meta.kind = EntryKind::Special;
      meta.specialType = archive_entry_filetype(e);
      meta.specialDevice = archive_entry_rdev(e);
      break;
  }
  if (const char* hard = archive_entry_hardlink(e)) {
    meta.kind = EntryKind::Hardlink;
    meta.linkTarget = NameToUtf8(hard, Cp437Names());
  }
  if (meta.kind == EntryKind::Symlink) {
    const char* target = archive_entry_symlink(e);
    meta.linkTarget = NameToUtf8(target ? target : "", Cp437Names());
  }
  // A folder's stored name ends with a separator; the engine's never does.
  while (meta.path.size() > 1 && (meta.path.back() == '/' || meta.path.back() == '\\')) meta.path.pop_back();
  meta.uncompressedSize = archive_entry_size_is_set(e) ? archive_entry_size(e) : -1;
  if (meta.kind == EntryKind::Folder) meta.uncompressedSize = 0;
  meta.mtime = archive_entry_mtime_is_set(e) ? archive_entry_mtime(e) : 0;
  meta.mode = archive_entry_perm(e) & 0777;
  meta.encrypted = archive_entry_is_encrypted(e) != 0;
  Describe(e, meta);
  return true;
}

size_t LibarchiveReader::Read(uint8_t* buffer, size_t n) {
  la_ssize_t r = archive_read_data(a_, buffer, n);
  if (r >= 0) return static_cast<size_t>(r);
  const char* text = archive_error_string(a_);
  if (PasswordProblem(text))
    ThrowEngine(engine_error::Password, "Cannot decrypt " + current_ + ": " + (text ? text : "") +
                                            " (a missing or wrong password)");
  ThrowLibarchive(a_, engine_error::Damaged, "The data of " + current_ + " cannot be read: ");
}

void OpenWriteFile(struct archive* a, const std::string& nativePath) {
  if (archive_write_open_filename(a, nativePath.c_str()) != ARCHIVE_OK)
    ThrowLibarchive(a, engine_error::WriteFailed, "Cannot write the archive: ");
}

LibarchiveWriter::LibarchiveWriter(struct archive* a, std::string format) : a_(a), format_(std::move(format)) {}

LibarchiveWriter::~LibarchiveWriter() { FreeHandle(); }

void LibarchiveWriter::FreeHandle() {
  if (a_) archive_write_free(a_);  // an unfinished archive: closed as it is, then removed by the engine
  a_ = nullptr;
}

void LibarchiveWriter::Begin(const EntryMeta& meta) {
  struct archive_entry* e = archive_entry_new();
  if (!e) throw std::bad_alloc();
  current_ = meta.path;
  std::string path = meta.path;
  unsigned type = AE_IFREG;
  if (meta.kind == EntryKind::Folder) {
    type = AE_IFDIR;
    if (path.empty() || path.back() != '/') path += '/';
  } else if (meta.kind == EntryKind::Symlink) {
    type = AE_IFLNK;
  } else if (meta.kind == EntryKind::Special) {
    type = meta.specialType;  // kept as stored (never extracted, but never lost on a save)
  }
  archive_entry_set_pathname(e, path.c_str());
  archive_entry_set_filetype(e, type);
  uint32_t perm = meta.mode & 0777;
  if (perm == 0) perm = type == AE_IFDIR ? 0755 : 0644;
  archive_entry_set_perm(e, perm);
  if (meta.mtime > 0) archive_entry_set_mtime(e, static_cast<time_t>(meta.mtime), 0);
  if (type == AE_IFREG && meta.kind != EntryKind::Hardlink)
    archive_entry_set_size(e, meta.uncompressedSize > 0 ? meta.uncompressedSize : 0);
  else
    archive_entry_set_size(e, 0);
  if (type == AE_IFLNK) archive_entry_set_symlink(e, meta.linkTarget.c_str());
  if (meta.kind == EntryKind::Special) archive_entry_set_rdev(e, static_cast<dev_t>(meta.specialDevice));
  if (meta.kind == EntryKind::Hardlink) archive_entry_set_hardlink(e, meta.linkTarget.c_str());
  BeforeHeader(a_, meta, e);
  int r = archive_write_header(a_, e);
  archive_entry_free(e);
  if (r < ARCHIVE_WARN) ThrowLibarchive(a_, engine_error::WriteFailed, "Cannot write " + current_ + ": ");
}

void LibarchiveWriter::Write(const uint8_t* data, size_t n) {
  size_t done = 0;
  while (done < n) {
    la_ssize_t w = archive_write_data(a_, data + done, n - done);
    if (w < 0) ThrowLibarchive(a_, engine_error::WriteFailed, "Cannot write " + current_ + ": ");
    if (w == 0) ThrowEngine(engine_error::WriteFailed, "Cannot write " + current_ + ": more data than announced");
    done += static_cast<size_t>(w);
  }
}

void LibarchiveWriter::End() {
  if (archive_write_finish_entry(a_) < ARCHIVE_WARN)
    ThrowLibarchive(a_, engine_error::WriteFailed, "Cannot write " + current_ + ": ");
}

void LibarchiveWriter::Finish() {
  if (archive_write_close(a_) != ARCHIVE_OK)
    ThrowLibarchive(a_, engine_error::WriteFailed, "Cannot complete the " + format_ + " archive: ");
  archive_write_free(a_);
  a_ = nullptr;
}

}  // namespace torvane::engine
