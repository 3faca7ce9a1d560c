#include "archive/archive_entries.h"

#include "automation/error.h"
#include "archive/archive_entry.h"
#include "host/script_context.h"
#include "host/shared_members.h"

namespace torvane {

// Members in slot order: Add, Remove, Count, Item (default), NewEnum (-4),
// OnStartPage, ToXML. Collection errors (5, 9, 457) pass unchanged.
const ClassInfo& CArchiveEntry::Class() {
  using C = CArchiveEntry;
  static const ClassInfo info = ClassInfo::Make<C>(
      "cArchiveEntry",
      {
          {"Add", MemberKind::Method, {{"oArchiveEntry"}, {"sKey"}}, [](C& c, Args& a) {
             c.Add(a[0], a[1]);
             return Variant();
           },
           "Adds an ArchiveEntry under a key"},
          RemoveMember<C>("vIndex", "Removes the entry at a position or under a key"),
          CountMember<C>("Number of entries"),
          ItemMember<C>({"vIndex"}, "The entry at a position (from 1) or under its path", "ArchiveEntry"),
          NewEnumMember<C>("Enumerator over the entries in order"),
          OnStartPageMember<C>(),
          XmlMember<C>("Every entry's XML inside an entries element"),
      });
  return info;
}

ObjectRef CArchiveEntry::Create() { return New(); }

void CArchiveEntry::Add(const Variant& entry, const Variant& key) { items_.Add(entry, key.resolved()); }

void CArchiveEntry::Remove(const Variant& index) { items_.Remove(index.resolved()); }

}  // namespace torvane
