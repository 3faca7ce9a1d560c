#include "archive/archive_entry.h"

#include "automation/error.h"
#include "automation/member_binding.h"
#include "host/script_context.h"
#include "host/shared_members.h"
#include "host/xml.h"

namespace torvane {


// Members in slot order: IsDirectory, UnCompressedSize, CompressedSize, Path
// (default), OnStartPage, ToXML. The getters write no trace lines and cannot fail.
const ClassInfo& ArchiveEntry::Class() {
  using E = ArchiveEntry;
  static const ClassInfo info = ClassInfo::Make<E>(
      "ArchiveEntry",
      {
          {"IsDirectory", MemberKind::Get, {}, Getter(&E::IsDirectory),
           "True when the entry is a folder", "Boolean"},
          {"UnCompressedSize", MemberKind::Get, {}, Getter(&E::UnCompressedSize),
           "Size of the entry's content in bytes", "Long"},
          {"CompressedSize", MemberKind::Get, {}, Getter(&E::CompressedSize),
           "Size of the entry inside the archive in bytes", "Long"},
          {"Path", MemberKind::Get, {}, Getter(&E::Path), kDispIdDefault,
           "The entry's path inside the archive", "String"},
          OnStartPageMember<E>(),
          XmlMember<E>("The entry as an XML element"),
      });
  return info;
}

ObjectRef ArchiveEntry::Create() { return New(); }

std::string ArchiveEntry::ToXML(const Variant& properties, const Variant& extra) {
  return RenderObjectXml(*this, "archiveentry", "compressedsize,isdirectory,path,uncompressedsize", properties, extra);
}

}  // namespace torvane
