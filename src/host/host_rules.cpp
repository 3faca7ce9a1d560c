// The rules every host follows, whatever it implements itself: how
// Server.CreateObject starts an object, and the default raw form text.
#include <set>

#include "basics/escape.h"
#include "host/host.h"

namespace torvane {

ObjectRef Server::StartObject(ObjectRef obj) {
  if (obj->classInfo().Find("OnStartPage", CallKind::Method)) {
    Args args{Variant()};
    obj->Invoke("OnStartPage", CallKind::Method, args);
  }
  return obj;
}

std::string Request::RawForm() {
  std::string raw;
  std::set<std::string> seen;  // a host may list a repeated name more than once
  for (const auto& name : FormNames()) {
    if (!seen.insert(name).second) continue;
    for (const auto& value : FormValues(name)) {
      if (!raw.empty()) raw += '&';
      raw += UrlEncode(name) + "=" + UrlEncode(value);
    }
  }
  return raw;
}

}  // namespace torvane
