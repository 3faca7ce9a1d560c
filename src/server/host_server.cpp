#include "server/host_server.h"

#include <cctype>

#include "automation/progid.h"
#include "basics/escape.h"
#include "basics/hresult.h"
#include "host/mappath.h"
#include "platform/paths.h"
#include "server/page_folders.h"
#include "server/site_path.h"

namespace torvane::server {

std::string HostServer::MapPath(std::string_view path) { return MapVirtualPath(siteRoot_, pageDir_, path); }

std::string HostServer::HTMLEncode(std::string_view text) { return HtmlEncode(text); }
std::string HostServer::URLEncode(std::string_view text) { return UrlEncode(text); }

void HostServer::Execute(std::string_view path) {
  std::string p(path.substr(0, path.find('?')));
  if (p.empty()) throw Error(kHostFailure, "Server.Execute: no page was named.", "Server object");
  if (p[0] != '/') p = pageDir_ + p;
  Target t = ResolveTarget(siteRoot_, p);
  if (t.kind != TargetKind::Page || !PageMayRun(siteRoot_, noPages_, t.virtualPath, t.nativePath))
    throw Error(kHostFailure, "Server.Execute: the page \"" + std::string(path) + "\" was not found.", "Server object");
  if (!executor_) throw Error(kHostFailure, "Server.Execute: this host cannot run pages.", "Server object");
  executor_(t.virtualPath);
}

bool HostServer::PagesRunIn(std::string_view physicalFolder) {
  return PagesRunInFolder(siteRoot_, noPages_, ToNativePath(physicalFolder));
}

}  // namespace torvane::server
