#include "ado/ado_errors.h"

#include <cstring>

#include "automation/collection.h"
#include "automation/member_binding.h"

namespace torvane::ado {

namespace {
// The fixed text of `number` from the one error list; "" for the numbers whose
// text the raising code composes.
const char* TextOf(int32_t number) {
  const component_error::ErrorText* e = component_error::FindError(number);
  return e && !std::strchr(e->text, '{') ? e->text : "";
}
}  // namespace

Error AdoError(int32_t number, std::string_view className) { return AdoError(number, TextOf(number), className); }

Error AdoError(int32_t number, std::string description, std::string_view className) {
  return Error(number, std::move(description), "ADODB." + std::string(className));
}

const ClassInfo& ErrorItem::Class() {
  using E = ErrorItem;
  static const ClassInfo info = ClassInfo::Make<E>(
      "Error", {
                   {"Number", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.number); },
                    "The error number", "Long"},
                   {"Description", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.description); }, kDispIdDefault,
                    "The database's message", "String"},
                   {"Source", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.source); },
                    "What raised the error", "String"},
                   {"SQLState", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.sqlState); },
                    "The five-character SQL state", "String"},
                   {"NativeError", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.nativeError); },
                    "The database's own error code", "Long"},
               });
  return info;
}

const ClassInfo& ErrorList::Class() {
  using L = ErrorList;
  static const ClassInfo info = ClassInfo::Make<L>(
      "Errors", {
                    {"Count", MemberKind::Get, {}, Getter(&L::Count),
                     "Number of errors", "Long"},
                    {"Item", MemberKind::Get, {{"index"}}, [](L& l, Args& a) { return l.Item(a[0]); }, kDispIdDefault,
                     "The Error at a position (from 0)", "Error"},
                    {"Clear", MemberKind::Method, {}, Action(&L::Clear),
                     "Empties the list"},
                    {"NewEnum", MemberKind::Get, {},
                     [](L& l, Args&) {
                       std::vector<Variant> all;
                       for (auto& e : l.items_) all.emplace_back(ObjectRef(e));
                       return Variant(ObjectRef(std::make_shared<Enumerator>(std::move(all))));
                     },
                     kDispIdNewEnum,
                     "Enumerator over the errors", "Enumerator"},
                });
  return info;
}

void ErrorList::Set(int32_t number, const db::DatabaseError& e) {
  auto item = std::make_shared<ErrorItem>();
  item->number = number;
  item->description = e.message;
  item->source = e.product;
  item->sqlState = e.sqlState;
  item->nativeError = e.nativeError;
  items_.assign(1, item);
}

Variant ErrorList::Item(const Variant& index) const {
  int i = FindIndex(index, items_.size(), {});
  if (i < 0) throw AdoError(kNoSuchItem, "Errors");
  return Variant(ObjectRef(items_[static_cast<size_t>(i)]));
}

int FindIndex(const Variant& index, size_t count, const std::vector<std::string>& names) {
  Variant v = index.isObject() ? index.resolved() : index;
  if (v.isNumeric()) {
    int64_t n = v.toInt64();
    return n >= 0 && static_cast<uint64_t>(n) < count ? static_cast<int>(n) : -1;
  }
  if (v.type() != VType::String) return -1;
  std::string key = FoldCase(v.str());
  for (size_t i = 0; i < names.size() && i < count; ++i)
    if (FoldCase(names[i]) == key) return static_cast<int>(i);
  return -1;
}

}  // namespace torvane::ado
