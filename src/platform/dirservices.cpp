#include "platform/dirservices.h"

#include <dirent.h>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "automation/error.h"
#include "basics/utf8.h"
#include "platform/paths.h"

namespace torvane {

namespace {

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

bool FolderMaskMatch(std::string_view pattern, std::string_view name) {
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
    if (FolderMaskMatch(pattern, name)) names.emplace_back(name);
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

bool IsSymbolicLink(std::string_view dosPath) {
  std::string native = Native(dosPath);
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  struct stat st {};
  return ::lstat(native.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}


}  // namespace torvane
