#include "automation/collection.h"

namespace torvane {

size_t KeyedCollection::Position(const Variant& index) const {
  Variant v = index.isObject() ? index.resolved() : index;
  if (v.isString()) {
    auto it = byKey_.find(FoldCase(v.str()));
    if (it == byKey_.end()) ThrowPlatform(err::InvalidArgument);
    return it->second;
  }
  if (!v.isNumeric() && v.type() != VType::Date) ThrowPlatform(err::InvalidArgument);
  int64_t pos = 0;
  try {
    pos = v.toInt64();
  } catch (const Error&) {
    ThrowPlatform(err::SubscriptRange);
  }
  if (pos < 1 || pos > static_cast<int64_t>(items_.size())) ThrowPlatform(err::SubscriptRange);
  return static_cast<size_t>(pos - 1);
}

int KeyedCollection::Find(const Variant& index) const {
  try {
    return static_cast<int>(Position(index));
  } catch (const Error&) {
    return -1;
  }
}

void KeyedCollection::Reindex() {
  byKey_.clear();
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].key) byKey_[FoldCase(*items_[i].key)] = i;
}

void KeyedCollection::Add(Variant item, const Variant& key, const Variant& before, const Variant& after) {
  bool hasBefore = !before.isMissing() && !before.isEmpty();
  bool hasAfter = !after.isMissing() && !after.isEmpty();
  if (hasBefore && hasAfter) ThrowPlatform(err::InvalidArgument);
  std::optional<std::string> k;
  if (!key.isMissing() && !key.isEmpty()) {
    k = key.toString();
    if (byKey_.count(FoldCase(*k))) ThrowPlatform(err::DuplicateKey);
  }
  size_t at = items_.size();
  if (hasBefore) at = Position(before);
  if (hasAfter) at = Position(after) + 1;
  items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(at), Entry{std::move(item), k});
  if (at == items_.size() - 1) {
    if (k) byKey_[FoldCase(*k)] = at;
  } else {
    Reindex();
  }
}

void KeyedCollection::Remove(const Variant& index) {
  size_t at = Position(index);
  bool last = at == items_.size() - 1;
  if (last && items_[at].key) byKey_.erase(FoldCase(*items_[at].key));
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(at));
  if (!last) Reindex();
}

Variant& KeyedCollection::Item(const Variant& index) { return items_[Position(index)].value; }
const Variant& KeyedCollection::Item(const Variant& index) const { return items_[Position(index)].value; }

bool KeyedCollection::HasKey(std::string_view key) const { return byKey_.count(FoldCase(key)) != 0; }

void KeyedCollection::Clear() {
  items_.clear();
  byKey_.clear();
}

std::vector<Variant> KeyedCollection::Snapshot() const {
  std::vector<Variant> out;
  out.reserve(items_.size());
  for (const auto& e : items_) out.push_back(e.value);
  return out;
}

// ---- enumerator ---------------------------------------------------------------

const ClassInfo& Enumerator::classInfo() const {
  static const ClassInfo info = ClassInfo::Make<Enumerator>("Enumerator", {});
  return info;
}

bool Enumerator::Next(Variant& out) {
  if (pos_ >= items_.size()) return false;
  out = items_[pos_++];
  return true;
}

const Variant& Enumerator::Current() const {
  static const Variant empty;
  return pos_ < items_.size() ? items_[pos_] : empty;
}

}  // namespace torvane
