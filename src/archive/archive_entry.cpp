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
          {"IsDirectory", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.IsDirectory()); },
           "True when the entry is a folder", "Boolean"},
          {"UnCompressedSize", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.UnCompressedSize()); },
           "Size of the entry's content in bytes", "Long"},
          {"CompressedSize", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.CompressedSize()); },
           "Size of the entry inside the archive in bytes", "Long"},
          {"Path", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.Path()); }, kDispIdDefault,
           "The entry's path inside the archive", "String"},
          {"OnStartPage", MemberKind::Method, {{"myScriptingContext", true}}, [](E&, Args&) {
             AttachScriptContext();
             return Variant();
           },
           "Called by the host when the page starts"},
          {"ToXML", MemberKind::Method, {{"Properties", true, "\"*\" (every property)"}, {"ExtraXML", true}},
           [](E& e, Args& a) { return Variant(e.ToXML(a[0], a[1])); },
           "The entry as an XML element", "String"},
      });
  return info;
}

ObjectRef ArchiveEntry::Create() { return New(); }

std::string ArchiveEntry::ToXML(const Variant& properties, const Variant& extra) {
  return RenderObjectXml(*this, "archiveentry", "compressedsize,isdirectory,path,uncompressedsize", properties, extra);
}

}  // namespace torvane
