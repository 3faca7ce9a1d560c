// BufferedFile: a numbered file (trace.h) written through a buffer, so that
// many small records (1 KiB request chunks, content lines) reach the disk in
// large write(2) calls. The byte stream is exactly what Write received, in
// order. Used for the dump and for uploaded files.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "host/trace.h"

namespace torvane {

class BufferedFile {
 public:
  // Opens the DOS or native path with a numbered handle, created if missing
  // and (Truncate) emptied if it exists. Fails with 67 or the system's error.
  explicit BufferedFile(std::string_view path, NumberedFile::Mode mode = NumberedFile::Mode::Truncate);
  // Writes to a file the caller opened (see NumberedFile(int)).
  explicit BufferedFile(int fd);
  ~BufferedFile();  // flushes (errors dropped) and closes
  BufferedFile(const BufferedFile&) = delete;
  BufferedFile& operator=(const BufferedFile&) = delete;

  int number() const { return file_.number(); }
  int fd() const { return file_.fd(); }
  bool isOpen() const { return file_.isOpen(); }
  void Write(std::span<const uint8_t> bytes);
  void Write(std::string_view text);
  // Writes out what is buffered; a failing write raises the system's error.
  void Flush();
  // Flush, then close. The flush error (disk full...) propagates after closing.
  void Close();
  // Close without writing what is still buffered (the file is about to go).
  void Abandon();

 private:
  static constexpr size_t kCapacity = 256 * 1024;
  NumberedFile file_;
  std::unique_ptr<uint8_t[]> buf_;
  size_t used_ = 0;
};

}  // namespace torvane
