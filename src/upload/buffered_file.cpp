#include "upload/buffered_file.h"

#include <cstring>

namespace torvane {

BufferedFile::BufferedFile(std::string_view path) : file_(path, NumberedFile::Mode::Truncate) {}

BufferedFile::~BufferedFile() {
  try {
    Flush();
  } catch (const Error&) {
    // Destruction only happens on paths that already report their own failure.
  }
}

void BufferedFile::Write(std::span<const uint8_t> bytes) {
  if (!file_.isOpen() || bytes.empty()) return;
  if (used_ + bytes.size() > kCapacity) {
    Flush();
    if (bytes.size() >= kCapacity) {
      file_.Write(bytes);  // large pieces go straight through
      return;
    }
  }
  if (!buf_) buf_ = std::make_unique<uint8_t[]>(kCapacity);
  std::memcpy(buf_.get() + used_, bytes.data(), bytes.size());
  used_ += bytes.size();
}

void BufferedFile::Write(std::string_view text) {
  Write(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void BufferedFile::Flush() {
  if (used_ == 0) return;
  size_t n = used_;
  used_ = 0;
  file_.Write(std::span<const uint8_t>(buf_.get(), n));
}

void BufferedFile::Close() {
  if (!file_.isOpen()) return;
  try {
    Flush();
  } catch (...) {
    file_.Close();
    throw;
  }
  file_.Close();
}

void BufferedFile::Abandon() {
  used_ = 0;
  file_.Close();
}

}  // namespace torvane
