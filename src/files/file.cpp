#include "files/file.h"

#include "host/script_context.h"

namespace torvane {

const ClassInfo& File::Class() {
  static const ClassInfo info = ClassInfo::Make<File>(
      "File", {
                  {"Name", MemberKind::Let, {{"value"}}, [](File& f, Args& a) { f.SetName(a[0].toString()); return Variant(); }},
                  {"Name", MemberKind::Get, {}, [](File& f, Args&) { return Variant(f.Name()); }, kDispIdDefault},
              });
  return info;
}

ObjectRef File::Create() {
  auto f = std::make_shared<File>();
  try {
    AttachScriptContext();
  } catch (const Error&) {
    // Outside a page there is nothing to attach; a File still works on physical paths.
  }
  return f;
}

}  // namespace torvane
