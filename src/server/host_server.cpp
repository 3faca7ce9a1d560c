#include "server/host_server.h"

#include <cctype>

#include "automation/progid.h"
#include "basics/escape.h"
#include "host/mappath.h"
#include "platform/paths.h"
#include "server/page_folders.h"

namespace torvane::server {

std::string HostServer::MapPath(std::string_view path) { return MapVirtualPath(siteRoot_, pageDir_, path); }

ObjectRef HostServer::CreateObject(std::string_view progid) {
  ObjectRef obj = torvane::CreateObject(progid);
  if (obj->classInfo().Find("OnStartPage", CallKind::Method)) {
    Args args{Variant()};
    obj->Invoke("OnStartPage", CallKind::Method, args);
  }
  return obj;
}

std::string HostServer::HTMLEncode(std::string_view text) { return HtmlEncode(text); }
std::string HostServer::URLEncode(std::string_view text) { return UrlEncode(text); }

bool HostServer::PagesRunIn(std::string_view physicalFolder) {
  return PagesRunInFolder(siteRoot_, noPages_, ToNativePath(physicalFolder));
}

}  // namespace torvane::server
