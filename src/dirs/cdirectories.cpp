#include "dirs/cdirectories.h"

#include "dirs/directory.h"
#include "automation/error.h"
#include "host/script_context.h"
#include "host/shared_members.h"

namespace torvane {

const ClassInfo& CDirectories::Class() {
  using C = CDirectories;
  static const ClassInfo info = ClassInfo::Make<C>(
      "cDirectories",
      {
          {"Add", MemberKind::Method, {{"Path"}},
           [](C& c, Args& a) { return Variant(ObjectRef(c.Add(a[0].toString()))); },
           "Adds a Directory for Path and returns it", "Directory"},
          ItemMember<C>({"vntIndexKey"}, "The Directory at a position (from 1) or under a key", "Directory"),
          CountMember<C>("Number of folders"),
          RemoveMember<C>("vntIndexKey", "Removes the Directory at a position or under a key"),
          NewEnumMember<C>("Enumerator over the folders in order"),
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

}  // namespace torvane
