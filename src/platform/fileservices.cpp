#include "platform/fileservices.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "basics/fdio.h"
#include "platform/paths.h"

namespace torvane {

namespace {

constexpr const char* kDosAttrName = "user.DOSATTRIB";

void FillInfo(const struct stat& st, PathInfo& out) {
  out.isDirectory = S_ISDIR(st.st_mode);
  out.size = static_cast<int64_t>(st.st_size);
  out.mtime = static_cast<int64_t>(st.st_mtim.tv_sec);
  out.mtimeNsec = static_cast<int64_t>(st.st_mtim.tv_nsec);
  out.device = st.st_dev;
  out.inode = st.st_ino;
  out.readonly = (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

// Reads the DOSATTRIB bits; 0 when the attribute is absent, unreadable or not
// in the hex text form.
int32_t ReadDosAttrBits(const std::string& native) {
  char buf[64];
  ssize_t n = ::getxattr(native.c_str(), kDosAttrName, buf, sizeof buf - 1);
  if (n <= 2) return 0;
  buf[n] = '\0';
  if (buf[0] != '0' || (buf[1] != 'x' && buf[1] != 'X')) return 0;
  char* end = nullptr;
  unsigned long v = std::strtoul(buf + 2, &end, 16);
  if (end == buf + 2) return 0;
  return static_cast<int32_t>(v) & kAttrXattrBits;
}

void WriteDosAttrBits(const std::string& native, int32_t bits) {
  bits &= kAttrXattrBits;
  if (bits == 0) {
    if (::removexattr(native.c_str(), kDosAttrName) != 0 && errno != ENODATA && errno != ENOTSUP) ThrowErrno(errno);
    return;
  }
  char text[16];
  int len = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(bits));
  if (::setxattr(native.c_str(), kDosAttrName, text, static_cast<size_t>(len), 0) != 0) ThrowErrno(errno);
}

// Random characters for temporary names: upper-case letters and digits, so the
// name means the same on a case-insensitive share.
std::string RandomSuffix(size_t count) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  std::vector<uint8_t> raw(count);
  if (!RandomBytes(raw.data(), raw.size())) ThrowErrno(errno);
  std::string out;
  for (uint8_t b : raw) out += alphabet[b % 36];
  return out;
}

std::string JoinDos(std::string_view dir, std::string_view name) {
  std::string out(dir);
  if (!out.empty() && out.back() != '\\' && out.back() != '/') out += '\\';
  out += name;
  return out;
}

}  // namespace

bool StatOpenFile(int fd, PathInfo& out) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  FillInfo(st, out);
  return true;
}

void EmptyOpenFile(int fd) {
  if (::ftruncate(fd, 0) != 0) ThrowErrno(errno);
}

bool StatPath(std::string_view dosPath, PathInfo& out) {
  std::string native = ToNativePath(dosPath);
  if (native.empty()) return false;
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0) return false;
  FillInfo(st, out);
  return true;
}

PathInfo StatPathOrThrow(std::string_view dosPath) {
  std::string native = ToNativePath(dosPath);
  struct stat st {};
  if (native.empty()) ThrowErrno(ENOENT);
  if (::stat(native.c_str(), &st) != 0) ThrowErrno(errno);
  PathInfo info;
  FillInfo(st, info);
  return info;
}

int32_t ReadAttributes(std::string_view dosPath) {
  std::string native = ToNativePath(dosPath);
  struct stat st {};
  if (native.empty()) ThrowErrno(ENOENT);
  if (::stat(native.c_str(), &st) != 0) ThrowErrno(errno);
  int32_t bits = 0;
  PathInfo info;
  FillInfo(st, info);
  if (info.readonly) bits |= kAttrReadonly;
  if (S_ISDIR(st.st_mode)) bits |= kAttrDirectory;
  bits |= ReadDosAttrBits(native);
  return bits == 0 ? kAttrNormal : bits;
}

void WriteAttributes(std::string_view dosPath, int32_t value) {
  std::string native = ToNativePath(dosPath);
  struct stat st {};
  if (native.empty()) ThrowErrno(ENOENT);
  if (::stat(native.c_str(), &st) != 0) ThrowErrno(errno);
  mode_t mode = st.st_mode & 07777;
  mode_t wanted = mode;
  if (value & kAttrReadonly)
    wanted &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  else if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
    wanted |= S_IWUSR;
  if (wanted != mode && ::chmod(native.c_str(), wanted) != 0) ThrowErrno(errno);
  WriteDosAttrBits(native, value);
}

// ---- PosixFile ------------------------------------------------------------------

PosixFile::PosixFile(std::string_view dosPath, Mode mode) {
  std::string native = ToNativePath(dosPath);
  if (native.empty()) ThrowErrno(ENOENT);
  int flags = O_CLOEXEC;
  switch (mode) {
    case Mode::Read: flags |= O_RDONLY; break;
    case Mode::Truncate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
    case Mode::Append: flags |= O_RDWR | O_CREAT; break;
  }
  int fd = ::open(native.c_str(), flags, 0666);
  if (fd < 0) ThrowErrno(errno);
  fd_ = fd;
  if (mode == Mode::Read) {
    struct stat st {};
    if (::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
      Close();
      ThrowErrno(EISDIR);
    }
  }
  if (mode == Mode::Append && ::lseek(fd_, 0, SEEK_END) < 0) {
    int e = errno;
    Close();
    ThrowErrno(e);
  }
}

PosixFile::~PosixFile() { Close(); }

PosixFile::PosixFile(PosixFile&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

PosixFile& PosixFile::operator=(PosixFile&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

int64_t PosixFile::Length() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) ThrowErrno(errno);
  return static_cast<int64_t>(st.st_size);
}

void PosixFile::Seek(int64_t offset) {
  if (::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) < 0) ThrowErrno(errno);
}

size_t PosixFile::Read(std::span<uint8_t> buffer) {
  ssize_t got = ReadFull(fd_, buffer.data(), buffer.size());
  if (got < 0) ThrowErrno(errno);
  return static_cast<size_t>(got);
}

void PosixFile::ReadExact(std::span<uint8_t> buffer) {
  if (Read(buffer) != buffer.size()) throw Error(62, "Input past end of file");
}

void PosixFile::Write(std::span<const uint8_t> bytes) {
  if (!WriteAll(fd_, bytes.data(), bytes.size())) ThrowErrno(errno);
}

void PosixFile::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

// ---- whole files, copy, move, delete ------------------------------------------

Bytes ReadWholeFile(std::string_view dosPath) {
  PosixFile f(dosPath, PosixFile::Mode::Read);
  int64_t len = f.Length();
  Bytes out(static_cast<size_t>(len));
  size_t got = f.Read(out);
  out.resize(got);
  // A file that grew since the size was read: take the rest as well.
  uint8_t extra[65536];
  for (size_t n; (n = f.Read(extra)) > 0;) out.insert(out.end(), extra, extra + n);
  return out;
}

void WriteWholeFile(std::string_view dosPath, std::span<const uint8_t> bytes) {
  PosixFile f(dosPath, PosixFile::Mode::Truncate);
  f.Write(bytes);
  f.Close();
}

void CreateEmptyFile(std::string_view dosPath) { PosixFile f(dosPath, PosixFile::Mode::Truncate); }

namespace {
// Copies every byte of `in` (from its current position) to `out`.
void CopyStream(int in, int out) {
  while (true) {
    ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
    if (n > 0) continue;
    if (n == 0) return;
    if (errno == EINTR) continue;
    if (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) break;
    ThrowErrno(errno);
  }
  std::vector<uint8_t> buf(1 << 20);
  while (true) {
    ssize_t n = ReadSome(in, buf.data(), buf.size());
    if (n < 0) ThrowErrno(errno);
    if (n == 0) return;
    if (!WriteAll(out, buf.data(), static_cast<size_t>(n))) ThrowErrno(errno);
  }
}

void CopyOpenSource(PosixFile& src, const std::string& nativeTo, int extraFlags) {
  struct stat sst {};
  if (::fstat(src.fd(), &sst) != 0) ThrowErrno(errno);
  struct stat tst {};
  if (::stat(nativeTo.c_str(), &tst) == 0 && tst.st_dev == sst.st_dev && tst.st_ino == sst.st_ino) ThrowErrno(EINVAL);
  int fd = ::open(nativeTo.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | extraFlags, sst.st_mode & 0777);
  if (fd < 0) ThrowErrno(errno);
  try {
    CopyStream(src.fd(), fd);
  } catch (...) {
    ::close(fd);
    throw;
  }
  if (::close(fd) != 0) ThrowErrno(errno);
}
}  // namespace

void CopyFileTo(std::string_view from, std::string_view to) {
  PosixFile src(from, PosixFile::Mode::Read);
  std::string nativeTo = ToNativePath(to);
  if (nativeTo.empty()) ThrowErrno(ENOENT);
  CopyOpenSource(src, nativeTo, O_TRUNC);
}

void MovePath(std::string_view from, std::string_view to) {
  std::string a = ToNativePath(from), b = ToNativePath(to);
  if (a.empty() || b.empty()) ThrowErrno(ENOENT);
#ifdef SYS_renameat2
  long rc = ::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), 1 /* RENAME_NOREPLACE */);
  if (rc == 0) return;
  int e = errno;
  if (e != EINVAL && e != ENOSYS && e != EXDEV) ThrowErrno(e);
#else
  int e = EINVAL;
#endif
  struct stat st {};
  if (e != EXDEV) {
    // No atomic no-replace rename on this file system: test, then rename.
    if (::lstat(b.c_str(), &st) == 0) ThrowErrno(EEXIST);
    if (::rename(a.c_str(), b.c_str()) == 0) return;
    e = errno;
    if (e != EXDEV) ThrowErrno(e);
  }
  // Another file system: copy a file to a new target, then remove the source.
  if (::lstat(a.c_str(), &st) != 0) ThrowErrno(errno);
  if (!S_ISREG(st.st_mode)) ThrowErrno(EXDEV);
  PosixFile src(from, PosixFile::Mode::Read);
  CopyOpenSource(src, b, O_EXCL);
  src.Close();
  if (::unlink(a.c_str()) != 0) {
    int ue = errno;
    ::unlink(b.c_str());
    ThrowErrno(ue);
  }
}

void DeleteFileAt(std::string_view dosPath) {
  std::string native = ToNativePath(dosPath);
  if (native.empty()) ThrowErrno(ENOENT);
  if (::unlink(native.c_str()) != 0) ThrowErrno(errno);
}

bool CreateNewFile(std::string_view dosPath) {
  std::string native = ToNativePath(dosPath);
  if (native.empty()) ThrowErrno(ENOENT);
  int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST) return false;
    ThrowErrno(errno);
  }
  ::close(fd);
  return true;
}

void ReplacePath(std::string_view from, std::string_view to) {
  std::string a = ToNativePath(from), b = ToNativePath(to);
  if (a.empty() || b.empty()) ThrowErrno(ENOENT);
  if (::rename(a.c_str(), b.c_str()) != 0) ThrowErrno(errno);
}

bool ExchangePaths(std::string_view first, std::string_view second) {
  std::string a = ToNativePath(first), b = ToNativePath(second);
  if (a.empty() || b.empty()) ThrowErrno(ENOENT);
#ifdef SYS_renameat2
  long rc = ::syscall(SYS_renameat2, AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), 2 /* RENAME_EXCHANGE */);
  if (rc == 0) return true;
  int e = errno;
  if (e == EINVAL || e == ENOSYS || e == ENOENT || e == EOPNOTSUPP) return false;
  ThrowErrno(e);
#else
  return false;
#endif
}

std::vector<std::string> FolderNames(std::string_view dosDir) {
  std::string native = ToNativePath(dosDir);
  if (native.empty()) ThrowErrno(ENOENT);
  DIR* d = ::opendir(native.c_str());
  if (!d) ThrowErrno(errno);
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    std::string_view name = e->d_name;
    if (name != "." && name != "..") names.emplace_back(name);
  }
  ::closedir(d);
  return names;
}

// ---- temporary names ------------------------------------------------------------

std::string CreateTempFileIn(std::string_view dosDir, std::string_view prefix) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string dos = JoinDos(dosDir, std::string(prefix) + RandomSuffix(10) + ".tmp");
    std::string native = ToNativePath(dos);
    int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      ::close(fd);
      return dos;
    }
    if (errno != EEXIST) ThrowErrno(errno);
  }
  ThrowErrno(EEXIST);
}

int OpenNewTempFileIn(std::string_view dosDir, std::string_view prefix, std::string& dosPath, PathInfo& info) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string dos = JoinDos(dosDir, std::string(prefix) + RandomSuffix(10) + ".tmp");
    std::string native = ToNativePath(dos);
    int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno != EEXIST) ThrowErrno(errno);
      continue;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
      int e = errno;
      ::close(fd);
      ::unlink(native.c_str());
      ThrowErrno(e);
    }
    FillInfo(st, info);
    dosPath = dos;
    return fd;
  }
  ThrowErrno(EEXIST);
}

std::string CreateTempFolderIn(std::string_view dosDir, std::string_view prefix) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string dos = JoinDos(dosDir, std::string(prefix) + RandomSuffix(10));
    std::string native = ToNativePath(dos);
    if (::mkdir(native.c_str(), 0777) == 0) return dos;
    if (errno != EEXIST) ThrowErrno(errno);
  }
  ThrowErrno(EEXIST);
}

// ---- MD5 --------------------------------------------------------------------------

Md5Digest::Md5Digest() : ctx_(EVP_MD_CTX_new()) {
  auto* ctx = static_cast<EVP_MD_CTX*>(ctx_);
  if (!ctx || EVP_DigestInit_ex(ctx, EVP_md5(), nullptr) != 1) {
    EVP_MD_CTX_free(ctx);
    throw Error(-2146893816, "MD5 digest is not available");  // NTE_BAD_ALGID
  }
}

Md5Digest::~Md5Digest() { EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_)); }

void Md5Digest::Update(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return;
  EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), bytes.data(), bytes.size());
}

std::string Md5Digest::FinalHex() {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), md, &len);
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned i = 0; i < len; ++i) {
    out += hex[md[i] >> 4];
    out += hex[md[i] & 15];
  }
  return out;
}

// ---- registration ---------------------------------------------------------------

void RegisterServer(std::string_view dosPath) {
  std::string native = ToNativePath(dosPath);
  if (native.find('/') == std::string::npos) native = "./" + native;
  void* handle = ::dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    throw Error(static_cast<int32_t>(0x8007007Eu), std::string("The module could not be loaded: ") + (why ? why : native));
  }
  using RegisterFn = int32_t (*)();
  auto fn = reinterpret_cast<RegisterFn>(::dlsym(handle, "DllRegisterServer"));
  if (!fn) {
    ::dlclose(handle);
    throw Error(static_cast<int32_t>(0x8007007Fu), "The module " + native + " does not export DllRegisterServer");
  }
  int32_t hr = fn();
  ::dlclose(handle);
  if (hr < 0) {
    char text[96];
    std::snprintf(text, sizeof text, "DllRegisterServer failed with 0x%08X", static_cast<unsigned>(hr));
    throw Error(hr, text);
  }
}

}  // namespace torvane
