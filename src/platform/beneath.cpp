#include "platform/beneath.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <deque>

namespace torvane {

namespace {

constexpr int kMaxLinks = 40;  // the kernel's own limit of links in one lookup

// 1: openat2 works; 0: not known yet; -1: the kernel (or a seccomp filter)
// refuses it, so the component walk stands in.
std::atomic<int> gOpenat2{0};
std::atomic<bool> gOpenat2Allowed{true};

// openat2, or -1 with errno ENOSYS when this system does not offer it.
int Openat2(int dirFd, const char* path, int flags, mode_t mode, uint64_t resolve) {
  if (gOpenat2.load(std::memory_order_relaxed) < 0 || !gOpenat2Allowed.load(std::memory_order_relaxed)) {
    errno = ENOSYS;
    return -1;
  }
  struct open_how how {};
  how.flags = static_cast<uint64_t>(flags);
  how.mode = (flags & (O_CREAT | O_TMPFILE)) ? mode : 0;
  how.resolve = resolve;
  int fd;
  do {
    fd = static_cast<int>(::syscall(SYS_openat2, dirFd, path, &how, sizeof how));
  } while (fd < 0 && errno == EINTR);
  if (fd >= 0) {
    gOpenat2.store(1, std::memory_order_relaxed);
    return fd;
  }
  // ENOSYS: an old kernel; EPERM from a container's seccomp filter that does
  // not know the call (a real lookup never answers EPERM here once it worked).
  if (errno == ENOSYS || (errno == EPERM && gOpenat2.load(std::memory_order_relaxed) == 0)) {
    gOpenat2.store(-1, std::memory_order_relaxed);
    errno = ENOSYS;
  }
  return -1;
}

int OpenAt(int dirFd, const std::string& name, int flags, mode_t mode) {
  int fd;
  do {
    fd = ::openat(dirFd, name.c_str(), flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// The component walk behind OpenNoFollow when openat2 is not there.
int WalkNoFollow(int dirFd, std::string_view rel, int flags, mode_t mode) {
  std::vector<std::string> parts = SplitNative(rel);
  if (parts.empty()) return OpenAt(dirFd, ".", flags, mode);
  int cur = dirFd;
  int owned = -1;
  for (size_t i = 0; i < parts.size(); ++i) {
    bool last = i + 1 == parts.size();
    if (parts[i] == "..") {
      if (owned >= 0) ::close(owned);
      errno = EXDEV;
      return -1;
    }
    int next = last ? OpenAt(cur, parts[i], flags | O_NOFOLLOW | O_CLOEXEC, mode)
                    : OpenAt(cur, parts[i], O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0);
    int err = errno;
    if (next < 0 && (err == ENOTDIR || err == ELOOP)) {
      // A link met with O_NOFOLLOW: say so the way openat2 does.
      struct stat st {};
      if (::fstatat(cur, parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) err = ELOOP;
    }
    if (owned >= 0) ::close(owned);
    if (next < 0) {
      errno = err;
      return -1;
    }
    if (last) return next;
    cur = owned = next;
  }
  return -1;  // not reached
}

}  // namespace

void UseOpenat2(bool on) { gOpenat2Allowed.store(on, std::memory_order_relaxed); }

std::vector<std::string> SplitNative(std::string_view path) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i <= path.size()) {
    size_t slash = path.find('/', i);
    if (slash == std::string_view::npos) slash = path.size();
    std::string_view part = path.substr(i, slash - i);
    if (!part.empty() && part != ".") out.emplace_back(part);
    i = slash + 1;
  }
  return out;
}

int OpenNoFollow(int dirFd, std::string_view rel, int flags, mode_t mode) {
  std::string path = rel.empty() ? std::string(".") : std::string(rel);
  int fd = Openat2(dirFd, path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode,
                   RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS);
  // ENOTDIR may be a link in the last place opened as a folder: the walk tells
  // a link (ELOOP) from a file in the way.
  if (fd >= 0 || (errno != ENOSYS && errno != ENOTDIR)) return fd;
  return WalkNoFollow(dirFd, rel, flags, mode);
}

int OpenWithoutLinks(const std::string& path, int flags) {
  return Openat2(AT_FDCWD, path.c_str(), flags | O_CLOEXEC, 0, RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS);
}

Beneath ResolveBeneath(int rootFd, const std::vector<std::string>& from, std::string_view path) {
  if (path.empty() || path[0] == '/') return Beneath::Outside;
  std::deque<std::string> todo(from.begin(), from.end());
  for (auto& part : SplitNative(path)) todo.push_back(std::move(part));
  std::vector<int> real;             // open folders from the root down to where the walk stands
  std::vector<std::string> missing;  // names below it that do not exist (taken as written)
  auto closeAll = [&] {
    for (int fd : real) ::close(fd);
  };
  int links = 0;
  while (!todo.empty()) {
    std::string part = std::move(todo.front());
    todo.pop_front();
    if (part == "..") {
      if (!missing.empty()) {
        missing.pop_back();
      } else if (real.empty()) {
        closeAll();
        return Beneath::Outside;
      } else {
        ::close(real.back());
        real.pop_back();
      }
      continue;
    }
    if (!missing.empty()) {
      missing.push_back(std::move(part));
      continue;
    }
    int cur = real.empty() ? rootFd : real.back();
    struct stat st {};
    if (::fstatat(cur, part.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      missing.push_back(std::move(part));
      continue;
    }
    if (S_ISLNK(st.st_mode)) {
      if (++links > kMaxLinks) {
        closeAll();
        return Beneath::Loop;
      }
      char buf[PATH_MAX];
      ssize_t n = ::readlinkat(cur, part.c_str(), buf, sizeof buf);
      if (n <= 0 || buf[0] == '/') {
        closeAll();
        return Beneath::Outside;
      }
      // The link's own components come next, read from the folder it lies in.
      std::vector<std::string> target = SplitNative(std::string_view(buf, static_cast<size_t>(n)));
      todo.insert(todo.begin(), target.begin(), target.end());
      continue;
    }
    int fd = S_ISDIR(st.st_mode) ? OpenAt(cur, part, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC, 0) : -1;
    if (fd < 0) missing.push_back(std::move(part));
    else real.push_back(fd);
  }
  closeAll();
  return Beneath::Inside;
}

bool PathStaysBeneath(const std::string& nativeRoot, const std::string& nativePath) {
  std::string root = nativeRoot;
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  std::string_view rest;
  if (root == "/") {
    rest = nativePath;
  } else if (nativePath == root) {
    rest = "";
  } else if (nativePath.size() > root.size() && nativePath.compare(0, root.size(), root) == 0 &&
             nativePath[root.size()] == '/') {
    rest = std::string_view(nativePath).substr(root.size());
  } else {
    return false;
  }
  std::vector<std::string> parts = SplitNative(rest);
  for (const auto& p : parts)
    if (p == "..") return false;
  int rootFd = OpenAt(AT_FDCWD, root, O_PATH | O_DIRECTORY | O_CLOEXEC, 0);
  if (rootFd < 0) return false;
  auto prefix = [&](size_t n) {
    std::string rel;
    for (size_t i = 0; i < n; ++i) rel += (i ? "/" : "") + parts[i];
    return rel;
  };
  bool inside = true;
  // The longest prefix that exists decides; what is missing below it would be
  // created there.
  for (size_t n = parts.size(); n > 0; --n) {
    std::string rel = prefix(n);
    int fd = Openat2(rootFd, rel.c_str(), O_PATH | O_CLOEXEC, 0, RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS);
    if (fd >= 0) {
      ::close(fd);
      break;
    }
    if (errno == ENOENT || errno == ENOTDIR || errno == EACCES) continue;
    if (errno == ENOSYS) {
      inside = ResolveBeneath(rootFd, {}, prefix(parts.size())) == Beneath::Inside;
      break;
    }
    inside = false;  // EXDEV (a link out), ELOOP (a loop or a magic link), anything unexpected
    break;
  }
  ::close(rootFd);
  return inside;
}

}  // namespace torvane
