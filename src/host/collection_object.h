// CollectionObject: the base of the component's six collection classes
// (cFiles, cDirectories, cFormInput, cFormValue, cACE, cArchiveEntry).
//
// Each is a script object over one KeyedCollection (automation/collection.h:
// 1-based positions, optional keys compared without regard to case, errors 5,
// 9 and 457). What they all do alike is written here once: Count, Remove,
// NewEnum, Item as the stored value, and ToXML as one element around every
// item's XML. A class whose member does more declares its own (cACE's Remove
// also removes the rights on disk; cFiles' Item returns a File).
//
// Each class still lists these members in its own table at its own slots
// (slot order is a contract); the helpers below give the entries' shape, as
// shared_members.h does for OnStartPage and ToXML:
//
//   ItemMember<C>({"vntIndexKey"}, "The File at a position (from 1) or under a key", "File"),
//   CountMember<C>("Number of files"),
//   RemoveMember<C>("vntIndexKey", "Removes the File at a position or under a key"),
//   NewEnumMember<C>("Enumerator over the files in order"),
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "automation/collection.h"
#include "automation/member_binding.h"
#include "automation/object.h"

namespace torvane {

class CollectionObject : public Object {
 public:
  int32_t Count() const { return items_.Count(); }
  // Removes the item at a position or under a key; the collection's errors
  // (5, 9) pass unchanged.
  void Remove(const Variant& index) { items_.Remove(index); }
  // The item at a position or under a key, as stored.
  Variant Item(const Variant& index) const { return items_.Item(index); }
  // An enumerator over a snapshot of the items in collection order.
  ObjectRef NewEnum() const;

 protected:
  // `xmlElement`: the element ToXML puts around the items ("files").
  explicit CollectionObject(std::string_view xmlElement = {}) : xmlElement_(xmlElement) {}

  // <element>, each item's ToXML("*") (an item that fails adds nothing),
  // ExtraXML, </element>. Properties is accepted and ignored. A class that
  // lists ToXML makes it public (`using CollectionObject::ToXML;`).
  std::string ToXML(const Variant& properties = Variant::Missing(), const Variant& extra = Variant::Missing()) const;

  KeyedCollection items_;

 private:
  std::string xmlElement_;
};

namespace collection_detail {

// What a class's Item returns, as the value a script sees.
inline Variant ItemValue(Variant v) { return v; }
inline Variant ItemValue(std::string s) { return Variant(std::move(s)); }
template <class T>
Variant ItemValue(const std::shared_ptr<T>& object) {
  return Variant(ObjectRef(object));
}

}  // namespace collection_detail

// Item(index) (the default member): the class's Item at a position or key.
template <class C>
Member<C> ItemMember(ParamInfo index, const char* doc, const char* type) {
  return {"Item",
          MemberKind::Get,
          {std::move(index)},
          [](C& c, Args& a) { return collection_detail::ItemValue(c.Item(a[0])); },
          kDispIdDefault,
          doc,
          type};
}

// Count: the number of items.
template <class C>
Member<C> CountMember(const char* doc) {
  return {"Count", MemberKind::Get, {}, Getter(&C::Count), doc, "Long"};
}

// Remove(index): the class's Remove.
template <class C>
Member<C> RemoveMember(const char* param, const char* doc) {
  return {"Remove", MemberKind::Method, {{param}},
          [](C& c, Args& a) {
            c.Remove(a[0]);
            return Variant();
          },
          doc};
}

// NewEnum (dispatch id -4): the enumerator a page's Enumerator and for...of use.
template <class C>
Member<C> NewEnumMember(const char* doc) {
  return {"NewEnum", MemberKind::Get, {}, Getter(&C::NewEnum), kDispIdNewEnum, doc, "Enumerator"};
}

}  // namespace torvane
