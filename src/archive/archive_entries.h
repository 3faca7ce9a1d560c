// cArchiveEntry: the ordered, keyed collection of ArchiveEntry objects that
// Archive.Entries returns (keys are entry paths, compared without regard to
// case). One collection lives as long as its Archive and is emptied and
// refilled in place at each refresh.
#pragma once

#include <memory>

#include "automation/collection.h"

namespace torvane {

class ArchiveEntry;

class CArchiveEntry : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  // A fresh, empty collection (no script-context attach on creation).
  static ObjectRef Create();
  static std::shared_ptr<CArchiveEntry> New() { return std::make_shared<CArchiveEntry>(); }

  // Appends under `key`; an existing key fails with 457 and adds nothing.
  void Add(const Variant& entry, const Variant& key);
  void Remove(const Variant& index);
  int32_t Count() const { return items_.Count(); }
  Variant Item(const Variant& index) const { return items_.Item(index); }
  ObjectRef NewEnum() const;
  std::string ToXML(const Variant& properties, const Variant& extra) const;

  // Package-internal: empties the collection (the start of a refresh).
  void Clear() { items_.Clear(); }

 private:
  KeyedCollection items_;
};

}  // namespace torvane
