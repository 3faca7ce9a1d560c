#include "archive/engine_extract.h"

#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include <memory>

#include "archive/engine_util.h"

namespace torvane::engine {

namespace {
// No ARCHIVE_EXTRACT_UNLINK: with it libarchive would remove a link met in
// the middle of a path and carry on; without it such a path is refused (a
// link in the last place is still replaced, never followed).
constexpr int kDiskFlags = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS | ARCHIVE_EXTRACT_SECURE_NODOTDOT;

struct EntryDeleter {
  void operator()(archive_entry* e) const { archive_entry_free(e); }
};
}  // namespace

DiskSink::DiskSink(const std::string& nativeRoot, int64_t budget, int64_t archiveSize)
    : root_(nativeRoot), budget_(budget), archiveSize_(archiveSize) {
  while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
  disk_ = archive_write_disk_new();
  if (!disk_) throw std::bad_alloc();
  archive_write_disk_set_options(disk_, kDiskFlags);
}

DiskSink::~DiskSink() {
  if (disk_) {
    archive_write_close(disk_);
    archive_write_free(disk_);
  }
}

void DiskSink::Header(const std::string& rel, const EntryMeta& meta, unsigned fileType, const std::string& display) {
  std::unique_ptr<archive_entry, EntryDeleter> e(archive_entry_new());
  std::string full = root_ == "/" ? "/" + rel : root_ + "/" + rel;
  archive_entry_set_pathname(e.get(), full.c_str());
  archive_entry_set_filetype(e.get(), fileType);
  uint32_t perm = meta.mode & 0777;
  if (perm == 0) perm = fileType == AE_IFDIR ? 0755 : 0644;
  archive_entry_set_perm(e.get(), perm);
  if (meta.mtime > 0) archive_entry_set_mtime(e.get(), static_cast<time_t>(meta.mtime), 0);
  if (fileType == AE_IFREG && meta.uncompressedSize >= 0) archive_entry_set_size(e.get(), meta.uncompressedSize);
  if (fileType == AE_IFLNK) archive_entry_set_symlink(e.get(), meta.linkTarget.c_str());
  int r = archive_write_header(disk_, e.get());
  if (r < ARCHIVE_WARN) {
    const char* text = archive_error_string(disk_);
    std::string why = text ? text : "refused";
    bool unsafe = why.find("symlink") != std::string::npos || why.find("..") != std::string::npos ||
                  why.find("bsolute") != std::string::npos;
    if (!unsafe) ThrowLibarchive(disk_, engine_error::WriteFailed, "Cannot extract " + display + ": ");
    ThrowEngine(engine_error::UnsafeEntry, "Refused to extract " + display + ": " + why);
  }
}

void DiskSink::Folder(const std::string& rel, const EntryMeta& meta) {
  Header(rel, meta, AE_IFDIR, rel);
  archive_write_finish_entry(disk_);
}

void DiskSink::BeginFile(const std::string& rel, const EntryMeta& meta, const std::string& display) {
  // An entry of unknown size still counts against the budget.
  entryDeclared_ = meta.uncompressedSize;
  entryWritten_ = 0;
  display_ = display;
  current_ = root_ == "/" ? "/" + rel : root_ + "/" + rel;
  EntryMeta m = meta;
  m.uncompressedSize = -1;  // the sink enforces the size itself, with a clear error
  Header(rel, m, AE_IFREG, display);
}

void DiskSink::Write(const uint8_t* data, size_t n) {
  int64_t len = static_cast<int64_t>(n);
  if (entryDeclared_ >= 0 && entryWritten_ + len > entryDeclared_)
    ThrowEngine(engine_error::TooLarge, "Extraction stopped: " + display_ + " expands beyond its recorded size of " +
                                            std::to_string(entryDeclared_) + " bytes.");
  if (budget_ >= 0 && written_ + len > budget_)
    ThrowEngine(engine_error::TooLarge,
                "Extraction stopped: the archive (" + std::to_string(archiveSize_) +
                    " bytes) expands beyond the extraction limit of " + std::to_string(budget_) +
                    " bytes; it may be a decompression bomb.");
  size_t done = 0;
  while (done < n) {
    la_ssize_t w = archive_write_data(disk_, data + done, n - done);
    if (w < 0) ThrowLibarchive(disk_, engine_error::WriteFailed, "Cannot write " + display_ + ": ");
    if (w == 0) ThrowEngine(engine_error::WriteFailed, "Cannot write " + display_ + ": no progress");
    done += static_cast<size_t>(w);
  }
  entryWritten_ += len;
  written_ += len;
}

void DiskSink::EndFile() {
  int r = archive_write_finish_entry(disk_);
  current_.clear();
  if (r < ARCHIVE_WARN) ThrowLibarchive(disk_, engine_error::WriteFailed, "Cannot complete " + display_ + ": ");
}

void DiskSink::AbortFile() {
  if (current_.empty()) return;
  archive_write_finish_entry(disk_);
  ::unlink(current_.c_str());
  current_.clear();
}

void DiskSink::Symlink(const std::string& rel, const EntryMeta& meta) {
  Header(rel, meta, AE_IFLNK, rel);
  archive_write_finish_entry(disk_);
}

void DiskSink::Hardlink(const std::string& rel, const std::string& targetRel, const EntryMeta& meta) {
  std::unique_ptr<archive_entry, EntryDeleter> e(archive_entry_new());
  std::string full = root_ + "/" + rel;
  std::string target = root_ + "/" + targetRel;
  archive_entry_set_pathname(e.get(), full.c_str());
  archive_entry_set_hardlink(e.get(), target.c_str());
  archive_entry_set_size(e.get(), 0);
  if (archive_write_header(disk_, e.get()) < ARCHIVE_WARN)
    ThrowLibarchive(disk_, engine_error::UnsafeEntry, "Refused to extract " + rel + ": ");
  archive_write_finish_entry(disk_);
}

void DiskSink::Finish() {
  if (!disk_) return;
  int r = archive_write_close(disk_);
  if (r < ARCHIVE_WARN) {
    std::string text = archive_error_string(disk_) ? archive_error_string(disk_) : "failed";
    archive_write_free(disk_);
    disk_ = nullptr;
    ThrowEngine(engine_error::WriteFailed, "Cannot complete the extraction: " + text);
  }
  archive_write_free(disk_);
  disk_ = nullptr;
}

}  // namespace torvane::engine
