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
          {"Name", MemberKind::Get, {}, [](F& f, Args&) { return Variant(f.rs_->ColumnAt(f.index_).name); },
           "The column's name", "String"},
          {"Type", MemberKind::Get, {}, [](F& f, Args&) { return Variant(f.rs_->ColumnAt(f.index_).type); },
           "The column's type (DataTypeEnum)", "Long"},
          {"DefinedSize", MemberKind::Get, {},
           [](F& f, Args&) { return Variant(f.rs_->ColumnAt(f.index_).definedSize); },
           "The column's declared size", "Long"},
          {"ActualSize", MemberKind::Get, {}, [](F& f, Args&) { return Variant(f.rs_->ActualSize(f.index_)); },
           "Size of the current row's value", "Long"},
          {"Value", MemberKind::Get, {}, [](F& f, Args&) { return f.rs_->Value(f.index_); }, kDispIdDefault,
           "The current row's value", "Variant"},
          {"Value", MemberKind::Let, {{"value"}},
           [](F& f, Args& a) {
             f.rs_->SetValue(f.index_, a[0]);
             return Variant();
           },
           "Changes the current row's value (saved by Update)"},
          {"OriginalValue", MemberKind::Get, {}, [](F& f, Args&) { return f.rs_->OriginalValue(f.index_); },
           "The value as read, before changes", "Variant"},
          {"Attributes", MemberKind::Get, {},
           [](F& f, Args&) {
             const db::Column& c = f.rs_->ColumnAt(f.index_);
             int32_t bits = kFldMayBeNull;
             if (!c.table.empty()) bits |= kFldUpdatable;
             if (c.definedSize == db::kLongSize) bits |= kFldLong;
             return Variant(bits);
           },
           "Bits: may be null, updatable, long", "Long"},
          {"GetChunk", MemberKind::Method, {{"Length"}},
           [](F& f, Args& a) { return f.rs_->GetChunk(f.index_, a[0].toInt64()); },
           "The next Length bytes or characters of a long value", "Variant"},
          {"AppendChunk", MemberKind::Method, {{"Data"}},
           [](F& f, Args& a) {
             f.rs_->AppendChunk(f.index_, a[0]);
             return Variant();
           },
           "Appends data to a long value"},
      });
  return info;
}

const ClassInfo& Fields::Class() {
  using L = Fields;
  static const ClassInfo info = ClassInfo::Make<L>(
      "Fields",
      {
          {"Count", MemberKind::Get, {},
           [](L& l, Args&) { return Variant(static_cast<int32_t>(l.rs_->ColumnCount())); },
           "Number of columns", "Long"},
          {"Item", MemberKind::Get, {{"Index"}}, [](L& l, Args& a) { return Variant(l.Item(a[0])); }, kDispIdDefault,
           "The Field at a position (from 0) or with a column name", "Field"},
          {"NewEnum", MemberKind::Get, {},
           [](L& l, Args&) {
             std::vector<Variant> all;
             for (size_t i = 0; i < l.rs_->ColumnCount(); ++i)
               all.emplace_back(ObjectRef(std::make_shared<Field>(l.rs_, i)));
             return Variant(ObjectRef(std::make_shared<Enumerator>(std::move(all))));
           },
           kDispIdNewEnum,
           "Enumerator over the fields", "Enumerator"},
          {"Refresh", MemberKind::Method, {}, [](L&, Args&) { return Variant(); },
           "Does nothing (the columns are fixed by the query)"},
      });
  return info;
}

ObjectRef Fields::Item(const Variant& index) const {
  return std::make_shared<Field>(rs_, rs_->ColumnIndex(index));
}

}  // namespace torvane::ado
