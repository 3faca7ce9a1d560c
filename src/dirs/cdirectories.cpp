#include "dirs/cdirectories.h"

#include "dirs/directory.h"
#include "automation/error.h"
#include "automation/member_binding.h"
#include "host/script_context.h"
#include "host/shared_members.h"
#include "host/xml.h"

namespace torvane {

const ClassInfo& CDirectories::Class() {
  using C = CDirectories;
  static const ClassInfo info = ClassInfo::Make<C>(
      "cDirectories",
      {
          {"Add", MemberKind::Method, {{"Path"}},
           [](C& c, Args& a) { return Variant(ObjectRef(c.Add(a[0].toString()))); },
           "Adds a Directory for Path and returns it", "Directory"},
          {"Item", MemberKind::Get, {{"vntIndexKey"}},
           [](C& c, Args& a) { return Variant(ObjectRef(c.Item(a[0]))); }, kDispIdDefault,
           "The Directory at a position (from 1) or under a key", "Directory"},
          {"Count", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.Count()); },
           "Number of folders", "Long"},
          {"Remove", MemberKind::Method, {{"vntIndexKey"}}, [](C& c, Args& a) {
             c.Remove(a[0]);
             return Variant();
           },
           "Removes the Directory at a position or under a key"},
          {"NewEnum", MemberKind::Get, {}, Getter(&C::NewEnum),
           kDispIdNewEnum,
           "Enumerator over the folders in order", "Enumerator"},
          OnStartPageMember<C>(),
          XmlMember<C>("Every folder's XML inside a drives element"),
      });
  return info;
}

ObjectRef CDirectories::Create() { return New(); }

std::shared_ptr<CDirectories> CDirectories::New() { return std::make_shared<CDirectories>(); }

std::shared_ptr<Directory> CDirectories::Add(const std::string& path) {
  auto dir = Directory::New();
  dir->SetPath(path);
  items_.Add(Variant(ObjectRef(dir)));
  return dir;
}

std::shared_ptr<Directory> CDirectories::Item(const Variant& indexOrKey) const {
  return std::dynamic_pointer_cast<Directory>(items_.Item(indexOrKey).toObject());
}

ObjectRef CDirectories::NewEnum() const { return std::make_shared<Enumerator>(items_.Snapshot()); }

std::string CDirectories::ToXML(const Variant&, const Variant& extra) const {
  return RenderCollectionXml("drives", items_.Snapshot(), extra);
}

}  // namespace torvane
