// cFiles: the collection of File objects that Directory.files returns.
//
// A thin wrapper around the keyed collection: 1-based positions in insertion
// order unless Add names a position, optional keys unique without regard to
// case. The collection's own errors (5 missing key, 9 position out of range,
// 457 duplicate key) pass through unchanged. No trace lines.
#pragma once

#include <memory>
#include <string>

#include "automation/collection.h"
#include "automation/object.h"

namespace torvane {

class File;

class CFiles : public Object {
 public:
  // Member table in slot order: Add, Item (default), Count, Remove, NewEnum
  // (dispatch id -4), OnStartPage, ToXML.
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // ProgID-style factory: an empty collection, then the script-context attach
  // (tolerated outside a page).
  static ObjectRef Create();
  static std::shared_ptr<CFiles> New();

  // Add(objFile, [sKey], [iBefore], [iAfter]): a non-empty key files the item
  // under it; iBefore (not 0) inserts before that position, else iAfter (not 0)
  // after it, else the item is appended. Nothing is added on failure.
  void Add(const std::shared_ptr<File>& file, const std::string& key = "", int32_t before = 0, int32_t after = 0);
  // Item by position (number) or key (string).
  std::shared_ptr<File> Item(const Variant& indexOrKey) const;
  int32_t Count() const { return items_.Count(); }
  void Remove(const Variant& indexOrKey) { items_.Remove(indexOrKey); }
  // An enumerator over the items in collection order.
  ObjectRef NewEnum() const;
  // <files>, each item's ToXML("*") (a failing item adds nothing), ExtraXML,
  // </files>. The Properties argument is accepted and ignored.
  std::string ToXML(const Variant& properties = Variant::Missing(), const Variant& extra = Variant::Missing()) const;

  // Package-internal: removes every item (the object stays the same).
  void Clear() { items_.Clear(); }
  // True when an item is filed under a key equal to `key` without regard to
  // case but spelt with other letters (a.txt against A.txt).
  bool HasKeyInOtherCase(const std::string& key) const;
  // The item at a 0-based position, without conversion.
  std::shared_ptr<File> At(size_t zeroBased) const;

 private:
  KeyedCollection items_;
};

}  // namespace torvane
