// The part of the ZIP, TAR and GZIP modules that libarchive does: a reader
// over the engine's open source file (positioned reads of our own, so any
// number of readers may walk one file) and a writer into a new file.
#pragma once

#include <archive.h>
#include <archive_entry.h>

#include <functional>
#include <string>

#include "archive/engine_format.h"

namespace torvane::engine {

class LibarchiveReader : public FormatReader {
 public:
  // `setup` enables the format and filters on the fresh handle; `format` names
  // the format in error texts.
  LibarchiveReader(const SourceFile& source, const std::string& password,
                   const std::function<void(struct archive*)>& setup, std::string format);
  ~LibarchiveReader() override;
  bool Next(EntryMeta& meta) override;
  size_t Read(uint8_t* buffer, size_t n) override;

 protected:
  // Completes `meta` from format knowledge the generic reading lacks.
  virtual void Describe(struct archive_entry* entry, EntryMeta& meta) {}
  // True when names that are not UTF-8 are code page 437 (ZIP), else Latin-1.
  virtual bool Cp437Names() const { return false; }
  struct archive* handle() const { return a_; }

 private:
  static la_ssize_t ReadCb(struct archive*, void* self, const void** buffer);
  static la_int64_t SkipCb(struct archive*, void* self, la_int64_t request);
  static la_int64_t SeekCb(struct archive*, void* self, la_int64_t offset, int whence);

  struct archive* a_ = nullptr;
  SourceFile source_;
  int64_t offset_ = 0;
  std::vector<uint8_t> buffer_;
  std::string format_;
  std::string current_;
};

class LibarchiveWriter : public FormatWriter {
 public:
  // `a` is a configured write handle that is already open.
  LibarchiveWriter(struct archive* a, std::string format);
  ~LibarchiveWriter() override;
  void Begin(const EntryMeta& meta) override;
  void Write(const uint8_t* data, size_t n) override;
  void End() override;
  void Finish() override;

 protected:
  // Adjusts the handle or the entry before its header is written.
  virtual void BeforeHeader(struct archive* a, const EntryMeta& meta, struct archive_entry* entry) {}
  struct archive* handle() const { return a_; }
  // Frees the handle now (a subclass whose callbacks use its own members calls
  // it from its destructor, before those members go).
  void FreeHandle();

 private:
  struct archive* a_;
  std::string format_;
  std::string current_;
};

// Opens `a` for writing into the file at `nativePath`; failures throw.
void OpenWriteFile(struct archive* a, const std::string& nativePath);

}  // namespace torvane::engine
