// NamedValues: values by name as every host keeps Application values (and any
// store keyed like it).
//
// Names are compared without regard to letter case (FoldCase); a name keeps
// the spelling it was first written with, and Names() lists those spellings,
// ordered by their folded form. Not synchronised: the host that owns one
// guards it.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "automation/variant.h"

namespace torvane {

class NamedValues {
 public:
  // The value of `name`; Empty when it was never written (or was removed).
  Variant Value(std::string_view name) const;
  // Writes `name`; an existing name keeps its first spelling.
  void Set(std::string_view name, Variant value);
  void Remove(std::string_view name);
  void Clear() { values_.clear(); }
  std::vector<std::string> Names() const;
  size_t size() const { return values_.size(); }

 private:
  std::map<std::string, std::pair<std::string, Variant>> values_;  // folded name -> (name, value)
};

}  // namespace torvane
