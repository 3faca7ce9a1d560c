#include "upload/buffered_file.h"

#include <cstring>
#include <vector>

namespace torvane {

namespace {
// Write buffers are reused on the thread that writes, so a post of a thousand
// files neither allocates nor clears a thousand buffers.
thread_local std::vector<std::unique_ptr<uint8_t[]>> tSpareBuffers;
}  // namespace

BufferedFile::BufferedFile(std::string_view path, NumberedFile::Mode mode) : file_(path, mode) {}

BufferedFile::BufferedFile(int fd) : file_(fd) {}

BufferedFile::~BufferedFile() {
  try {
    Flush();
  } catch (const Error&) {
    // Destruction only happens on paths that already report their own failure.
  }
  if (buf_ && tSpareBuffers.size() < 4) tSpareBuffers.push_back(std::move(buf_));
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
  if (!buf_) {
    if (!tSpareBuffers.empty()) {
      buf_ = std::move(tSpareBuffers.back());
      tSpareBuffers.pop_back();
    } else {
      buf_.reset(new uint8_t[kCapacity]);  // no need to clear: only written bytes are read
    }
  }
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
