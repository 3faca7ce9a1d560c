#include "automation/progid.h"

namespace torvane {

ObjectRef CreateObject(std::string_view progid) {
  std::string key = FoldCase(progid);
  for (const auto& e : ProgIdTable())
    if (FoldCase(e.progid) == key) return e.create();
  throw Error(429, "ActiveX component can't create object");
}

}  // namespace torvane
