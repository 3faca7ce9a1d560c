// Shared pieces of the fuzz targets: a page host in memory (the tests' own
// MemHost), a private scratch folder, and a cursor that turns the fuzzer's
// bytes into choices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

namespace torvane::fuzz {

// Takes the fuzzer's bytes front to back; past the end every read is 0.
class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  uint8_t Byte() { return p_ < end_ ? *p_++ : 0; }
  // A number in [0, n).
  size_t Below(size_t n) { return n == 0 ? 0 : (static_cast<size_t>(Byte()) << 8 | Byte()) % n; }
  // The next `n` bytes (fewer at the end).
  std::string Take(size_t n) {
    size_t k = std::min(n, Left());
    std::string s(reinterpret_cast<const char*>(p_), k);
    p_ += k;
    return s;
  }
  std::string Rest() { return Take(Left()); }
  size_t Left() const { return static_cast<size_t>(end_ - p_); }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

// A folder of the process's own under the temporary folder, emptied on demand
// and removed when the run ends normally (a crashed run leaves it for a look).
struct ScratchFolder {
  std::filesystem::path path = std::filesystem::temp_directory_path() /
                               ("torvane-fuzz-" + std::to_string(static_cast<long>(::getpid())));
  ScratchFolder() { std::filesystem::create_directories(path); }
  ~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

inline const std::filesystem::path& Scratch() {
  static const ScratchFolder dir;
  return dir.path;
}

inline void EmptyFolder(const std::filesystem::path& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::filesystem::create_directories(dir, ec);
}

// Ends the run with a message when an oracle fails (libFuzzer keeps the input).
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz oracle failed: %s\n", what);
  std::abort();
}

}  // namespace torvane::fuzz
