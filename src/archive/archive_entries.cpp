#include "archive/archive_entries.h"

#include "automation/error.h"
#include "archive/archive_entry.h"
#include "host/script_context.h"
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
           }},
          {"Remove", MemberKind::Method, {{"vIndex"}}, [](C& c, Args& a) {
             c.Remove(a[0]);
             return Variant();
           }},
          {"Count", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.Count()); }},
          {"Item", MemberKind::Get, {{"vIndex"}}, [](C& c, Args& a) { return c.Item(a[0]); },
           kDispIdDefault},
          {"NewEnum", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.NewEnum()); },
           kDispIdNewEnum},
          {"OnStartPage", MemberKind::Method, {{"myScriptingContext", true}}, [](C&, Args&) {
             AttachScriptContext();
             return Variant();
           }},
          {"ToXML", MemberKind::Method, {{"Properties", true}, {"ExtraXML", true}},
           [](C& c, Args& a) { return Variant(c.ToXML(a[0], a[1])); }},
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
