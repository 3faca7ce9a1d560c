#include "archive/archive_entry.h"

#include "automation/error.h"
#include "host/script_context.h"
#include "host/xml.h"

namespace torvane {


// Members in slot order: IsDirectory, UnCompressedSize, CompressedSize, Path
// (default), OnStartPage, ToXML. The getters write no trace lines and cannot fail.
const ClassInfo& ArchiveEntry::Class() {
  using E = ArchiveEntry;
  static const ClassInfo info = ClassInfo::Make<E>(
      "ArchiveEntry",
      {
          {"IsDirectory", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.IsDirectory()); }},
          {"UnCompressedSize", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.UnCompressedSize()); }},
          {"CompressedSize", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.CompressedSize()); }},
          {"Path", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.Path()); }, kDispIdDefault},
          {"OnStartPage", MemberKind::Method, {{"myScriptingContext", true}}, [](E&, Args&) {
             AttachScriptContext();
             return Variant();
           }},
          {"ToXML", MemberKind::Method, {{"Properties", true}, {"ExtraXML", true}},
           [](E& e, Args& a) { return Variant(e.ToXML(a[0], a[1])); }},
      });
  return info;
}

ObjectRef ArchiveEntry::Create() { return New(); }

std::string ArchiveEntry::ToXML(const Variant& properties, const Variant& extra) {
  return RenderObjectXml(*this, "archiveentry", "compressedsize,isdirectory,path,uncompressedsize", properties, extra);
}

}  // namespace torvane
