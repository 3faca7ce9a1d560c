#include "server/site_path.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "automation/object.h"
#include "host/mappath.h"
#include "platform/beneath.h"
#include "platform/registry.h"

namespace torvane::server {

namespace {

int Hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Canonical(const std::string& path, std::string& out) {
  char buf[PATH_MAX];
  if (!::realpath(path.c_str(), buf)) return false;
  out = buf;
  return true;
}

// Opens `path` when no link is on its way (one openat2 and one fstat, where
// realpath costs a readlink per component): the open file, with `st`; the
// path is then canonical once its root is. Read-only and non-blocking, as a
// static file is opened to be sent (a FIFO cannot stall the caller). None
// when the kernel refuses (a link on the way, nothing there, no openat2
// here): the caller then resolves the slow way, links included, and decides.
UniqueFd OpenAndStatWithoutLinks(const std::string& path, struct stat& st) {
  UniqueFd fd(OpenWithoutLinks(path, O_RDONLY | O_NONBLOCK | O_NOCTTY));
  if (fd.get() >= 0 && ::fstat(fd.get(), &st) != 0) fd.Reset();
  return fd;
}

bool Inside(const std::string& root, const std::string& path) {
  if (root == "/") return true;
  return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 && path[root.size()] == '/');
}

std::string Normalise(const std::string& path) { return NormaliseVirtualPath(path); }

std::string Extension(const std::string& name) {
  size_t slash = name.find_last_of('/');
  size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return FoldCase(name.substr(dot));
}

bool Forbidden(const std::string& virtualPath) {
  if (virtualPath.find("/.") != std::string::npos) return true;  // dot files and folders
  std::string ext = Extension(virtualPath);
  return ext == ".inc" || ext == ".asa";
}

// The never-served rules hold for what a static file's name resolves to, not
// only for the name asked: a link "x.txt" to an include file, a dot file or a
// page (whose source would be sent) is not served.
bool ServableTarget(const std::string& realRoot, const std::string& real) {
  std::string inSite = realRoot == "/" ? real : real.substr(realRoot.size());
  return !Forbidden(inSite) && Extension(inSite) != ".asp";
}

}  // namespace

bool DecodeRequestPath(std::string_view raw, std::string& out) {
  out.clear();
  if (raw.empty() || raw[0] != '/') return false;
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '%') {
      if (i + 2 >= raw.size() || Hex(raw[i + 1]) < 0 || Hex(raw[i + 2]) < 0) return false;
      c = static_cast<char>(Hex(raw[i + 1]) * 16 + Hex(raw[i + 2]));
      i += 2;
    }
    if (c == '\0') return false;
    out += c;
  }
  return true;
}

std::string CanonicalRoot(const std::string& root) {
  static std::mutex mutex;
  static std::map<std::string, std::string> known;
  std::lock_guard g(mutex);
  auto it = known.find(root);
  if (it != known.end()) return it->second;
  std::string real;
  if (!Canonical(root, real)) return "";
  known.emplace(root, real);
  return real;
}

Target ResolveTarget(const std::string& siteRoot, const std::string& decodedPath) {
  Target t;
  std::string virt = Normalise(decodedPath);
  if (virt.empty() || Forbidden(virt)) return t;
  std::string native = VirtualToNative(siteRoot, virt);
  // The root's canonical form is looked up once per root (it rarely changes);
  // the file's is looked up every time, so a link leading out is never followed.
  // The usual file has no link on its way: under the canonical root its path
  // is then canonical as it stands, and one lookup that refuses links tells.
  std::string real, realRoot = CanonicalRoot(siteRoot);
  if (native.empty() || realRoot.empty()) return t;
  struct stat st {};
  real = VirtualToNative(realRoot, virt);
  UniqueFd file = OpenAndStatWithoutLinks(real, st);
  if (file.get() < 0) {
    if (!Canonical(native, real) || !Inside(realRoot, real)) return t;
    if (::stat(real.c_str(), &st) != 0) return t;
  }
  if (S_ISDIR(st.st_mode)) {
    bool slash = !decodedPath.empty() && (decodedPath.back() == '/' || decodedPath.back() == '\\');
    if (!slash) {
      t.kind = TargetKind::RedirectToFolder;
      t.virtualPath = virt == "/" ? "/" : virt + "/";
      return t;
    }
    std::string folder = virt == "/" ? "" : virt;
    for (const char* doc : {"default.asp", "index.asp", "index.html", "index.htm", "default.htm"}) {
      Target inner = ResolveTarget(siteRoot, folder + "/" + doc);
      if (inner.kind == TargetKind::Page || inner.kind == TargetKind::File) return inner;
    }
    return t;
  }
  if (!S_ISREG(st.st_mode)) return t;
  t.virtualPath = virt;
  t.nativePath = real;
  t.kind = Extension(virt) == ".asp" ? TargetKind::Page : TargetKind::File;
  if (t.kind == TargetKind::File && !ServableTarget(realRoot, real)) return Target{};
  if (t.kind == TargetKind::File && file.get() >= 0) t.file = std::make_shared<UniqueFd>(std::move(file));
  return t;
}

std::string MimeTypeFor(const std::string& fileName) {
  static std::mutex mutex;
  static std::map<std::string, std::string> cache;
  std::string ext = Extension(fileName);
  if (ext.empty()) return "application/octet-stream";
  std::lock_guard g(mutex);
  auto it = cache.find(ext);
  if (it != cache.end()) return it->second;
  RegValue v;
  std::string type = "application/octet-stream";
  if (RegistryLookup("HKEY_CLASSES_ROOT\\" + ext, "Content Type", v) == 0 && !v.text.empty()) type = v.text;
  cache.emplace(ext, type);
  return type;
}

}  // namespace torvane::server
