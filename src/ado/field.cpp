#include "ado/field.h"

#include "automation/collection.h"

namespace torvane::ado {

namespace {
constexpr int32_t kFldMayBeNull = 0x40, kFldUpdatable = 0x4, kFldLong = 0x80;
}

const ClassInfo& Field::Class() {
  using F = Field;
  static const ClassInfo info = ClassInfo::Make<F>(
      "Field",
      {
          {"Name", MemberKind::Get, {}, [](F& f, Args&) { return Variant(f.rs_->ColumnAt(f.index_).name); }},
          {"Type", MemberKind::Get, {}, [](F& f, Args&) { return Variant(f.rs_->ColumnAt(f.index_).type); }},
          {"DefinedSize", MemberKind::Get, {},
           [](F& f, Args&) { return Variant(f.rs_->ColumnAt(f.index_).definedSize); }},
          {"ActualSize", MemberKind::Get, {}, [](F& f, Args&) { return Variant(f.rs_->ActualSize(f.index_)); }},
          {"Value", MemberKind::Get, {}, [](F& f, Args&) { return f.rs_->Value(f.index_); }, kDispIdDefault},
          {"Value", MemberKind::Let, {{"value"}},
           [](F& f, Args& a) {
             f.rs_->SetValue(f.index_, a[0]);
             return Variant();
           }},
          {"OriginalValue", MemberKind::Get, {}, [](F& f, Args&) { return f.rs_->OriginalValue(f.index_); }},
          {"Attributes", MemberKind::Get, {},
           [](F& f, Args&) {
             const db::Column& c = f.rs_->ColumnAt(f.index_);
             int32_t bits = kFldMayBeNull;
             if (!c.table.empty()) bits |= kFldUpdatable;
             if (c.definedSize == db::kLongSize) bits |= kFldLong;
             return Variant(bits);
           }},
          {"GetChunk", MemberKind::Method, {{"Length"}},
           [](F& f, Args& a) { return f.rs_->GetChunk(f.index_, a[0].toInt64()); }},
          {"AppendChunk", MemberKind::Method, {{"Data"}},
           [](F& f, Args& a) {
             f.rs_->AppendChunk(f.index_, a[0]);
             return Variant();
           }},
      });
  return info;
}

const ClassInfo& Fields::Class() {
  using L = Fields;
  static const ClassInfo info = ClassInfo::Make<L>(
      "Fields",
      {
          {"Count", MemberKind::Get, {},
           [](L& l, Args&) { return Variant(static_cast<int32_t>(l.rs_->ColumnCount())); }},
          {"Item", MemberKind::Get, {{"Index"}}, [](L& l, Args& a) { return Variant(l.Item(a[0])); }, kDispIdDefault},
          {"NewEnum", MemberKind::Get, {},
           [](L& l, Args&) {
             std::vector<Variant> all;
             for (size_t i = 0; i < l.rs_->ColumnCount(); ++i)
               all.emplace_back(ObjectRef(std::make_shared<Field>(l.rs_, i)));
             return Variant(ObjectRef(std::make_shared<Enumerator>(std::move(all))));
           },
           kDispIdNewEnum},
          {"Refresh", MemberKind::Method, {}, [](L&, Args&) { return Variant(); }},
      });
  return info;
}

ObjectRef Fields::Item(const Variant& index) const {
  return std::make_shared<Field>(rs_, rs_->ColumnIndex(index));
}

}  // namespace torvane::ado
