// cFiles: the collection of File objects that Directory.files returns.
//
// A thin wrapper around the keyed collection: 1-based positions in insertion
// order unless Add names a position, optional keys unique without regard to
// case. The collection's own errors (5 missing key, 9 position out of range,
// 457 duplicate key) pass through unchanged. No trace lines.
#pragma once

#include <memory>
#include <string>

#include "host/collection_object.h"

namespace torvane {

class File;

class CFiles : public CollectionObject {
 public:
  CFiles() : CollectionObject("files") {}

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
  // Count, Remove, NewEnum: the collection's; ToXML: <files>, each item's
  // ToXML("*"), ExtraXML, </files>.
  using CollectionObject::ToXML;

  // Package-internal: removes every item (the object stays the same).
  void Clear() { items_.Clear(); }
  // True when an item is filed under a key equal to `key` without regard to
  // case but spelt with other letters (a.txt against A.txt).
  bool HasKeyInOtherCase(const std::string& key) const;
  // The item at a 0-based position, without conversion.
  std::shared_ptr<File> At(size_t zeroBased) const;
};

}  // namespace torvane
