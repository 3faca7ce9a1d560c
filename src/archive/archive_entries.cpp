#include "archive/archive_entries.h"

#include "automation/error.h"
#include "automation/member_binding.h"
#include "archive/archive_entry.h"
#include "host/script_context.h"
#include "host/shared_members.h"
#include "host/xml.h"

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
          {"Remove", MemberKind::Method, {{"vIndex"}}, [](C& c, Args& a) {
             c.Remove(a[0]);
             return Variant();
           },
           "Removes the entry at a position or under a key"},
          {"Count", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.Count()); },
           "Number of entries", "Long"},
          {"Item", MemberKind::Get, {{"vIndex"}}, [](C& c, Args& a) { return c.Item(a[0]); },
           kDispIdDefault,
           "The entry at a position (from 1) or under its path", "ArchiveEntry"},
          {"NewEnum", MemberKind::Get, {}, Getter(&C::NewEnum),
           kDispIdNewEnum,
           "Enumerator over the entries in order", "Enumerator"},
          OnStartPageMember<C>(),
          XmlMember<C>("Every entry's XML inside an entries element"),
      });
  return info;
}

ObjectRef CArchiveEntry::Create() { return New(); }

void CArchiveEntry::Add(const Variant& entry, const Variant& key) { items_.Add(entry, key.resolved()); }

void CArchiveEntry::Remove(const Variant& index) { items_.Remove(index.resolved()); }

ObjectRef CArchiveEntry::NewEnum() const { return std::make_shared<Enumerator>(items_.Snapshot()); }

std::string CArchiveEntry::ToXML(const Variant&, const Variant& extra) const {
  return RenderCollectionXml("entries", items_.Snapshot(), extra);
}

}  // namespace torvane
