#include "server/page_folders.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>

#include "host/mappath.h"
#include "server/site_path.h"

namespace torvane::server {

namespace {

// The real place of a Linux path: the longest prefix that exists, with its
// links resolved, followed by the rest as written; "" when it cannot be told.
std::string RealPlace(const std::string& native) {
  std::string head = native;
  std::vector<std::string> tail;  // missing components, innermost first
  for (;;) {
    char buf[PATH_MAX];
    if (::realpath(head.c_str(), buf)) {
      std::string out = buf;
      for (auto it = tail.rbegin(); it != tail.rend(); ++it) out += (out == "/" ? "" : "/") + *it;
      return out;
    }
    if (errno != ENOENT && errno != ENOTDIR) return "";
    size_t cut = head.find_last_of('/');
    if (cut == std::string::npos) return "";
    std::string last = head.substr(cut + 1);
    if (last == "..") return "";
    if (!last.empty() && last != ".") tail.push_back(last);
    head = cut == 0 ? "/" : head.substr(0, cut);
  }
}

// `path` relative to `root` when it lies at or below it ("" for the root
// itself); false when it lies elsewhere.
bool Below(const std::string& root, const std::string& path, std::string& rel) {
  if (root == "/") {
    rel = path.size() > 1 ? path.substr(1) : "";
    return !path.empty() && path[0] == '/';
  }
  if (path == root) {
    rel.clear();
    return true;
  }
  if (path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/') {
    rel = path.substr(root.size() + 1);
    return true;
  }
  return false;
}

bool HasDotFolder(const std::string& rel) {
  size_t i = 0;
  while (i < rel.size()) {
    size_t slash = rel.find('/', i);
    if (slash == std::string::npos) slash = rel.size();
    if (slash > i && rel[i] == '.') return true;
    i = slash + 1;
  }
  return false;
}

// "/a/b" at or below "/a" (virtual folders, normalised).
bool AtOrBelow(const std::string& path, const std::string& folder) {
  if (folder == "/") return true;
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            path[folder.size()] == '/');
}

}  // namespace

std::vector<std::string> ParseNoPages(std::string_view value) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < value.size()) {
    size_t end = value.find_first_of(" \t,", i);
    if (end == std::string_view::npos) end = value.size();
    std::string item(value.substr(i, end - i));
    i = end + 1;
    if (item.empty()) continue;
    std::string norm = item[0] == '/' ? NormaliseVirtualPath(item) : "";
    if (norm.empty())
      throw std::runtime_error("no_pages: expected virtual folders of the site such as /uploads/, got \"" + item +
                               "\"");
    out.push_back(norm);
  }
  return out;
}

namespace {

// PagesRunInFolder for a folder whose real place (links resolved) is `real`.
bool PagesRunInRealFolder(const std::string& siteRoot, const std::vector<std::string>& noPages,
                          const std::string& real) {
  std::string root = CanonicalRoot(siteRoot);
  std::string rel;
  if (root.empty() || real.empty() || !Below(root, real, rel) || HasDotFolder(rel)) return false;
  std::string asVirtual = "/" + rel;
  if (asVirtual.size() > 1 && asVirtual.back() == '/') asVirtual.pop_back();
  for (const auto& folder : noPages) {
    if (AtOrBelow(asVirtual, folder)) return false;
    // The no-pages folder may itself be a link to another folder of the site.
    std::string folderReal = RealPlace(VirtualToNative(siteRoot, folder));
    std::string ignored;
    if (!folderReal.empty() && Below(folderReal, real, ignored)) return false;
  }
  return true;
}

}  // namespace

bool PagesRunInFolder(const std::string& siteRoot, const std::vector<std::string>& noPages,
                      const std::string& nativeFolder) {
  return PagesRunInRealFolder(siteRoot, noPages, RealPlace(nativeFolder));
}

bool PageMayRun(const std::string& siteRoot, const std::vector<std::string>& noPages, const std::string& virtualPath,
                const std::string& nativeFile) {
  std::string virtualFolder = NormaliseVirtualPath(virtualPath.substr(0, virtualPath.find_last_of('/') + 1));
  for (const auto& folder : noPages)
    if (AtOrBelow(virtualFolder, folder)) return false;
  // The file's path is already its real place (ResolveTarget gives it so).
  size_t cut = nativeFile.find_last_of('/');
  if (cut == std::string::npos) return false;
  return PagesRunInRealFolder(siteRoot, noPages, cut == 0 ? "/" : nativeFile.substr(0, cut));
}

}  // namespace torvane::server
