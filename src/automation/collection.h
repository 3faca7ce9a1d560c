// KeyedCollection: the one ordered, keyed collection under every collection class.
//
// Positions are 1-based and follow insertion order; removing an item closes the
// gap. Keys are optional, unique, and compared without regard to case (Unicode
// simple case folding). A numeric index looks up by position, a string index by
// key. Errors:
//   5   "Invalid procedure call or argument"  a key that is not present, or an
//        index of another type
//   9   "Subscript out of range"              a position outside 1..Count
//   457 "This key is already associated ..."  Add with a key already present
//
// Enumerator: the object a collection's NewEnum (dispatch id -4) returns; it walks
// a snapshot of the items in order. The page engine exposes it as JScript's
// Enumerator and as JavaScript iteration.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "automation/object.h"

namespace torvane {

class KeyedCollection {
 public:
  // Adds `item` under `key` (Missing/Empty: no key), before or after the item
  // at `before`/`after` (a position or key; at most one may be given).
  void Add(Variant item, const Variant& key = Variant::Missing(), const Variant& before = Variant::Missing(),
           const Variant& after = Variant::Missing());
  void Remove(const Variant& index);
  Variant& Item(const Variant& index);
  const Variant& Item(const Variant& index) const;
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  bool HasKey(std::string_view key) const;
  // The 0-based position of `index`, or -1 (never throws).
  int Find(const Variant& index) const;
  const std::optional<std::string>& KeyAt(size_t zeroBased) const { return items_[zeroBased].key; }
  Variant& At(size_t zeroBased) { return items_[zeroBased].value; }
  const Variant& At(size_t zeroBased) const { return items_[zeroBased].value; }
  void Clear();
  std::vector<Variant> Snapshot() const;

 private:
  struct Entry {
    Variant value;
    std::optional<std::string> key;
  };
  size_t Position(const Variant& index) const;  // 0-based; throws 5 or 9
  void Reindex();
  std::vector<Entry> items_;
  std::unordered_map<std::string, size_t> byKey_;  // folded key -> 0-based position
};

class Enumerator : public Object {
 public:
  explicit Enumerator(std::vector<Variant> items) : items_(std::move(items)) {}
  const ClassInfo& classInfo() const override;
  // Next item, or false at the end.
  bool Next(Variant& out);
  void Reset() { pos_ = 0; }
  bool AtEnd() const { return pos_ >= items_.size(); }
  const Variant& Current() const;

 private:
  std::vector<Variant> items_;
  size_t pos_ = 0;
};

}  // namespace torvane
