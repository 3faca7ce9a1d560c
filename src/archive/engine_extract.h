// The engine's extraction sink: writes folders, files and links below one
// destination folder and nowhere else, and counts what it writes.
//
// Every name it receives is relative to the destination and has already been
// checked by the engine (no absolute path, no ".." component, link targets
// inside the destination). It still writes through libarchive's disk writer
// with ARCHIVE_EXTRACT_SECURE_SYMLINKS (never through a symbolic link found on
// disk) and ARCHIVE_EXTRACT_SECURE_NODOTDOT, so a name that slipped through
// would be refused again. The destination itself is resolved once (realpath)
// so that links in the page's own folder path do not count as such.
//
// Bounds: an entry may not grow beyond the size its archive records for it,
// and all entries together may not exceed the budget; either stops the
// extraction with engine_error::TooLarge and removes the partial file.
#pragma once

#include <cstdint>
#include <string>

#include "archive/engine_format.h"

struct archive;

namespace torvane::engine {

class DiskSink {
 public:
  // `nativeRoot` must be an existing folder; `budget` is the byte bound.
  DiskSink(const std::string& nativeRoot, int64_t budget, int64_t archiveSize);
  ~DiskSink();
  DiskSink(const DiskSink&) = delete;
  DiskSink& operator=(const DiskSink&) = delete;

  void Folder(const std::string& rel, const EntryMeta& meta);
  // `display` names the entry in error texts.
  void BeginFile(const std::string& rel, const EntryMeta& meta, const std::string& display);
  void Write(const uint8_t* data, size_t n);
  void EndFile();
  // Removes the file being written, after a failure.
  void AbortFile();
  void Symlink(const std::string& rel, const EntryMeta& meta);
  void Hardlink(const std::string& rel, const std::string& targetRel, const EntryMeta& meta);
  // Applies the folders' deferred times and closes the disk writer.
  void Finish();

  int64_t Written() const { return written_; }

 private:
  void Header(const std::string& rel, const EntryMeta& meta, unsigned fileType, const std::string& display);
  std::string root_;
  struct archive* disk_ = nullptr;
  int64_t budget_;
  int64_t archiveSize_;
  int64_t written_ = 0;
  int64_t entryWritten_ = 0;
  int64_t entryDeclared_ = -1;
  std::string current_;  // native path of the open file
  std::string display_;
};

}  // namespace torvane::engine
