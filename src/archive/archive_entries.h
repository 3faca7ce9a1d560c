// cArchiveEntry: the ordered, keyed collection of ArchiveEntry objects that
// Archive.Entries returns (keys are entry paths, compared without regard to
// case). One collection lives as long as its Archive and is emptied and
// refilled in place at each refresh.
#pragma once

#include <memory>

#include "host/collection_object.h"

namespace torvane {

class ArchiveEntry;

class CArchiveEntry : public CollectionObject {
 public:
  CArchiveEntry() : CollectionObject("entries") {}

  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // A fresh, empty collection (no script-context attach on creation).
  static ObjectRef Create();
  static std::shared_ptr<CArchiveEntry> New() { return std::make_shared<CArchiveEntry>(); }

  // Appends under `key`; an existing key fails with 457 and adds nothing.
  void Add(const Variant& entry, const Variant& key);
  // Removes the entry at a position or key (an object index by its value).
  void Remove(const Variant& index);
  // Item, Count, NewEnum: the collection's; ToXML: <entries>, each entry's
  // XML, ExtraXML, </entries>.
  using CollectionObject::ToXML;

  // Package-internal: empties the collection (the start of a refresh).
  void Clear() { items_.Clear(); }
};

}  // namespace torvane
