#include "host/named_values.h"

#include "basics/utf8.h"

namespace torvane {

Variant NamedValues::Value(std::string_view name) const {
  auto it = values_.find(FoldCase(name));
  return it == values_.end() ? Variant() : it->second.second;
}

void NamedValues::Set(std::string_view name, Variant value) {
  std::string key = FoldCase(name);
  auto it = values_.find(key);
  if (it == values_.end()) values_.emplace(std::move(key), std::make_pair(std::string(name), std::move(value)));
  else it->second.second = std::move(value);
}

void NamedValues::Remove(std::string_view name) { values_.erase(FoldCase(name)); }

std::vector<std::string> NamedValues::Names() const {
  std::vector<std::string> out;
  out.reserve(values_.size());
  for (const auto& [key, entry] : values_) out.push_back(entry.first);
  return out;
}

}  // namespace torvane
