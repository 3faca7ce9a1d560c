#include "basics/fdio.h"

#include <sys/random.h>
#include <unistd.h>

#include <cerrno>

namespace torvane {

bool RandomBytes(void* buffer, size_t size) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::getrandom(p + done, size - done, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

ssize_t ReadSome(int fd, void* buffer, size_t size) {
  ssize_t n;
  do n = ::read(fd, buffer, size);
  while (n < 0 && errno == EINTR);
  return n;
}

ssize_t PreadSome(int fd, void* buffer, size_t size, int64_t offset) {
  ssize_t n;
  do n = ::pread(fd, buffer, size, static_cast<off_t>(offset));
  while (n < 0 && errno == EINTR);
  return n;
}

ssize_t ReadFull(int fd, void* buffer, size_t size) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ReadSome(fd, p + done, size - done);
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

ssize_t PreadFull(int fd, void* buffer, size_t size, int64_t offset) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < size) {
    ssize_t n = PreadSome(fd, p + done, size - done, offset + static_cast<int64_t>(done));
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(done);
}

bool WriteAll(int fd, const void* data, size_t size) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd, p, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool PwriteAll(int fd, const void* data, size_t size, int64_t offset) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    ssize_t n = ::pwrite(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    p += n;
    offset += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

}  // namespace torvane
