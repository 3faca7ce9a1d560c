#include "platform/dirservices.h"

#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "automation/error.h"
#include "automation/object.h"
#include "platform/paths.h"

namespace torvane {

namespace {

constexpr const char* kDosAttrib = "user.DOSATTRIB";

// Decodes UTF-8 into code points; a byte that starts no valid sequence stands
// for itself, so every name can be matched.
std::u32string CodePoints(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (len <= 1 || i + static_cast<size_t>(len) > s.size()) {
      out += c;
      ++i;
      continue;
    }
    char32_t cp = c & (0x7F >> len);
    bool ok = true;
    for (int k = 1; k < len && ok; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
      ok = (cc >> 6) == 2;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if (!ok) {
      out += c;
      ++i;
      continue;
    }
    out += cp;
    i += static_cast<size_t>(len);
  }
  return out;
}

// Plain "*" / "?" matching with one backtracking point (linear for one star
// run, quadratic at worst).
bool GlobMatch(const std::u32string& p, const std::u32string& n) {
  size_t pi = 0, ni = 0, starP = std::u32string::npos, starN = 0;
  while (ni < n.size()) {
    if (pi < p.size() && (p[pi] == U'?' || p[pi] == n[ni])) {
      ++pi;
      ++ni;
    } else if (pi < p.size() && p[pi] == U'*') {
      starP = pi++;
      starN = ni;
    } else if (starP != std::u32string::npos) {
      pi = starP + 1;
      ni = ++starN;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == U'*') ++pi;
  return pi == p.size();
}

std::string Native(std::string_view dosPath) { return ToNativePath(dosPath); }

[[noreturn]] void ThrowLastErrno() { ThrowErrno(errno); }

}  // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name) {
  std::u32string p = CodePoints(FoldCase(pattern));
  std::u32string n = CodePoints(FoldCase(name));
  if (GlobMatch(p, n)) return true;
  bool nameHasDot = n.find(U'.') != std::u32string::npos;
  if (p.size() >= 2 && p[p.size() - 2] == U'.' && p.back() == U'*' && !nameHasDot)
    return GlobMatch(p.substr(0, p.size() - 2), n);
  if (p.size() >= 2 && p.back() == U'.' && p[p.size() - 2] != U'.' && !nameHasDot)
    return GlobMatch(p.substr(0, p.size() - 1), n);
  return false;
}

std::optional<std::vector<std::string>> FolderSearch(std::string_view dosPattern) {
  size_t cut = dosPattern.find_last_of("\\/");
  std::string_view folder = cut == std::string_view::npos ? std::string_view() : dosPattern.substr(0, cut + 1);
  std::string_view pattern = cut == std::string_view::npos ? dosPattern : dosPattern.substr(cut + 1);
  if (pattern.empty()) return std::nullopt;
  std::string native = folder.empty() ? std::string(".") : Native(folder);
  DIR* d = ::opendir(native.c_str());
  if (!d) return std::nullopt;
  std::vector<std::string> names;
  while (dirent* e = ::readdir(d)) {
    std::string_view name(e->d_name);
    if (name.find('\\') != std::string_view::npos) continue;
    if (WildcardMatch(pattern, name)) names.emplace_back(name);
  }
  ::closedir(d);
  if (names.empty()) return std::nullopt;
  return names;
}

void MakeFolder(std::string_view dosPath) {
  if (::mkdir(Native(dosPath).c_str(), 0777) != 0) ThrowLastErrno();
}

void RemoveFolder(std::string_view dosPath) {
  if (::rmdir(Native(dosPath).c_str()) != 0) ThrowLastErrno();
}

void MovePathNoReplace(std::string_view fromDos, std::string_view toDos) {
  std::string from = Native(fromDos), to = Native(toDos);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno != EINVAL && errno != ENOSYS) ThrowLastErrno();
  // A file system without the no-replace flag: test, then rename.
  struct stat st {};
  if (::lstat(to.c_str(), &st) == 0) ThrowErrno(EEXIST);
  if (::rename(from.c_str(), to.c_str()) != 0) ThrowLastErrno();
}

void RemovePlainFile(std::string_view dosPath) {
  if (::unlink(Native(dosPath).c_str()) != 0) ThrowLastErrno();
}

bool PathExists(std::string_view dosPath) {
  if (dosPath.empty()) return false;
  struct stat st {};
  return ::stat(Native(dosPath).c_str(), &st) == 0;
}

bool IsSymbolicLink(std::string_view dosPath) {
  std::string native = Native(dosPath);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  struct stat st {};
  return ::lstat(native.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

int32_t ReadPathAttributes(std::string_view dosPath) {
  std::string native = Native(dosPath);
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0) ThrowLastErrno();
  int32_t bits = 0;
  if ((st.st_mode & 0222) == 0) bits |= attr::ReadOnly;
  if (S_ISDIR(st.st_mode)) bits |= attr::Directory;
  char buf[64];
  ssize_t n = ::getxattr(native.c_str(), kDosAttrib, buf, sizeof buf - 1);
  if (n > 0) {
    buf[n] = '\0';
    char* end = nullptr;
    long stored = std::strtol(buf, &end, 16);
    if (end != buf) bits |= static_cast<int32_t>(stored) & attr::Stored;
  }
  if (bits == 0) bits = attr::Normal;
  return bits;
}

void WritePathAttributes(std::string_view dosPath, int32_t attributes) {
  std::string native = Native(dosPath);
  struct stat st {};
  if (::stat(native.c_str(), &st) != 0) ThrowLastErrno();
  mode_t mode = st.st_mode & 07777;
  bool wasReadOnly = (mode & 0222) == 0;
  bool readOnly = (attributes & attr::ReadOnly) != 0;
  // The extended attribute needs write access: lift read-only first, set it last.
  if (wasReadOnly && !readOnly && ::chmod(native.c_str(), mode | S_IWUSR) != 0) ThrowLastErrno();
  int32_t stored = attributes & attr::Stored;
  if (stored != 0) {
    char text[16];
    int len = std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(stored));
    if (::setxattr(native.c_str(), kDosAttrib, text, static_cast<size_t>(len), 0) != 0) ThrowLastErrno();
  } else if (::removexattr(native.c_str(), kDosAttrib) != 0 && errno != ENODATA && errno != ENOTSUP) {
    ThrowLastErrno();
  }
  if (readOnly && !wasReadOnly && ::chmod(native.c_str(), mode & ~static_cast<mode_t>(0222)) != 0) ThrowLastErrno();
}

std::string CreateTempFileName(std::string_view dosFolder, std::string_view prefix) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[12];
  size_t got = 0;
  while (got < sizeof random) {
    ssize_t n = ::getrandom(random + got, sizeof random - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      ThrowLastErrno();
    }
    got += static_cast<size_t>(n);
  }
  std::string path(dosFolder);
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  path += prefix;
  // 248 = 4 * 62: values above it would favour the first letters.
  for (unsigned char r : random) {
    while (r >= 248) {
      if (::getrandom(&r, 1, 0) != 1) ThrowLastErrno();
    }
    path += kAlphabet[r % 62];
  }
  int fd = ::open(Native(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) ThrowLastErrno();
  ::close(fd);
  return path;
}

void YieldOnce() { ::sched_yield(); }

}  // namespace torvane
