// The members most component classes share, declared once: OnStartPage,
// ToXML and TraceFile. A class's table still lists them at its own slots
// (slot order is a contract); only the entry's shape is written here.
//
//   OnStartPageMember<Post>(),
//   XmlMember<Post>("The upload settings as an XML element"),
//   TraceFileSetMember<Post>(),
#pragma once

#include "automation/object.h"
#include "host/script_context.h"  // AttachScriptContext

namespace torvane {

// OnStartPage([myScriptingContext]): the host calls it when the object enters
// a page; it attaches the page's scripting context (creation attaches it too,
// so a second call changes nothing).
template <class T>
Member<T> OnStartPageMember(const char* doc = "Called by the host when the page starts") {
  return {"OnStartPage", MemberKind::Method, {{"myScriptingContext", true}},
          [](T&, Args&) {
            AttachScriptContext();
            return Variant();
          },
          doc};
}

// ToXML([Properties], [ExtraXML]): the object as an XML element, through the
// class's own ToXML(properties, extra).
template <class T>
Member<T> XmlMember(const char* doc) {
  return {"ToXML", MemberKind::Method, {{"Properties", true, "\"*\" (every property)"}, {"ExtraXML", true}},
          [](T& o, Args& a) { return Variant(o.ToXML(a[0], a[1])); }, doc, "String"};
}

// TraceFile set by reference: the class's SetTraceFile(file) opens its trace log.
template <class T>
Member<T> TraceFileSetMember() {
  return {"TraceFile", MemberKind::Set, {{"value"}},
          [](T& o, Args& a) {
            o.SetTraceFile(a[0]);
            return Variant();
          },
          "Opens a trace log at the given File's Name for this object's calls"};
}

}  // namespace torvane
