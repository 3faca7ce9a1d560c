#include "host/mappath.h"

#include <vector>

#include "automation/error.h"
#include "basics/hresult.h"
#include "platform/paths.h"

namespace torvane {

namespace {
// Resolves `path` against pageDir into segments; false when it climbs above the root.
bool Segments(std::string_view pageDir, std::string_view path, std::vector<std::string>& out) {
  std::string full;
  bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\');
  if (!absolute) full = std::string(pageDir) + "/";
  full += std::string(path);
  std::string seg;
  auto flush = [&]() -> bool {
    if (seg.empty() || seg == ".") {
    } else if (seg == "..") {
      if (out.empty()) return false;
      out.pop_back();
    } else {
      out.push_back(seg);
    }
    seg.clear();
    return true;
  };
  for (char c : full) {
    if (c == '/' || c == '\\') {
      if (!flush()) return false;
    } else {
      seg += c;
    }
  }
  return flush();
}

std::string NativeJoin(std::string_view siteRoot, const std::vector<std::string>& segs) {
  std::string out(siteRoot);
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  for (const auto& s : segs) {
    if (out.empty() || out.back() != '/') out += '/';
    out += s;
  }
  return out;
}
}  // namespace

std::string MapVirtualPath(std::string_view siteRoot, std::string_view pageDir, std::string_view path) {
  std::vector<std::string> segs;
  if (path.find(':') != std::string_view::npos || !Segments(pageDir, path, segs))
    throw Error(kHostFailure,
                "Server.MapPath - The Path parameter for the MapPath method must be a virtual path inside the site: " +
                    std::string(path),
                "Server.MapPath()");
  return ToDosPath(NativeJoin(siteRoot, segs));
}

std::string NormaliseVirtualPath(std::string_view path) {
  std::vector<std::string> segs;
  if (!Segments("/", path, segs)) return "";
  std::string out;
  for (const auto& s : segs) out += "/" + s;
  return out.empty() ? "/" : out;
}

std::string VirtualToNative(std::string_view siteRoot, std::string_view virtualPath) {
  std::vector<std::string> segs;
  if (!Segments("/", virtualPath, segs)) return "";
  return NativeJoin(siteRoot, segs);
}

}  // namespace torvane
