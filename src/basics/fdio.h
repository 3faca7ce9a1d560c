// Descriptor I/O that survives signals: every call is retried on EINTR, and
// the "full" forms loop over short transfers; the system's random bytes the
// same way. None of them throws: a failure
// returns -1 (or false) with errno set, so each layer reports it its own way
// (ThrowErrno in the component, a log line in the host).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

namespace torvane {

// One read(2) / pread(2): what arrived (0 at the end of the file), or -1.
ssize_t ReadSome(int fd, void* buffer, size_t size);
ssize_t PreadSome(int fd, void* buffer, size_t size, int64_t offset);

// Reads until `size` bytes or the end of the file: the bytes read, or -1.
ssize_t ReadFull(int fd, void* buffer, size_t size);
ssize_t PreadFull(int fd, void* buffer, size_t size, int64_t offset);

// Writes all `size` bytes (at `offset` for PwriteAll); false on a failure.
bool WriteAll(int fd, const void* data, size_t size);
bool PwriteAll(int fd, const void* data, size_t size, int64_t offset);

// Fills `size` bytes from the system's random generator (getrandom(2)); false
// on a failure, with errno set. Never falls back to a weaker source.
bool RandomBytes(void* buffer, size_t size);

// A descriptor closed when its holder goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& o) noexcept : fd_(o.Release()) {}
  UniqueFd& operator=(UniqueFd&& o) noexcept {
    if (this != &o) {
      Reset();
      fd_ = o.Release();
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }
  int Release() {
    int f = fd_;
    fd_ = -1;
    return f;
  }
  // Closes the descriptor held (if any) and holds `fd`.
  void Reset(int fd = -1);

 private:
  int fd_ = -1;
};

}  // namespace torvane
