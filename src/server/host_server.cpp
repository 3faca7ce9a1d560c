#include "server/host_server.h"

#include <cctype>

#include "automation/progid.h"
#include "host/mappath.h"

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

std::string HostServer::HTMLEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string HostServer::URLEncode(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '*') out += static_cast<char>(c);
    else if (c == ' ') out += '+';
    else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

}  // namespace torvane::server
