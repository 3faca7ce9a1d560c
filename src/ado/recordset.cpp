#include "ado/recordset.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "automation/member_binding.h"
#include "ado/command.h"
#include "ado/connection.h"
#include "ado/field.h"
#include "basics/utf8.h"

namespace torvane::ado {

namespace {

constexpr const char* kClass = "Recordset";
// A GetChunk walk reads this much ahead of small chunks.
constexpr size_t kReadAhead = 4 * db::kPieceBytes;
constexpr int32_t kCmdTable = 2;

// Text's characters (code points) as UTF-8 offsets: the byte offset of the
// character `chars` characters in, clamped to the end.
size_t ByteOffset(const std::string& s, int64_t chars) {
  size_t i = 0;
  for (int64_t n = 0; n < chars && i < s.size(); ++n) {
    ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80) ++i;
  }
  return i;
}

int64_t CharCount(const std::string& s) {
  int64_t n = 0;
  for (unsigned char c : s)
    if ((c & 0xC0) != 0x80) ++n;
  return n;
}

// A source that is only a table name ("docs", "main.docs", "\"my table\"").
bool IsBareName(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (std::isspace(static_cast<unsigned char>(c)) || c == '(' || c == ';' || c == ',') return false;
  return true;
}

bool Given(const Variant& v) { return !v.isMissing() && !v.isNull() && !v.isEmpty(); }

}  // namespace

// ---- member table ----------------------------------------------------------------

const ClassInfo& Recordset::Class() {
  using R = Recordset;
  static const ClassInfo info = ClassInfo::Make<R>(
      "Recordset",
      {
          {"Open", MemberKind::Method,
           {{"Source", true}, {"ActiveConnection", true}, {"CursorType", true}, {"LockType", true}, {"Options", true}},
           [](R& r, Args& a) {
             r.Open(a[0], a[1], a[2], a[3], a[4]);
             return Variant();
           },
           "Runs Source on a connection and reads its rows"},
          {"Close", MemberKind::Method, {}, Action(&R::Close),
           "Closes the recordset"},
          {"State", MemberKind::Get, {}, [](R& r, Args&) { return Variant(r.open_ ? 1 : 0); },
           "Whether the recordset is open (ObjectStateEnum)", "Long"},
          {"EOF", MemberKind::Get, {}, Getter(&R::Eof),
           "True after the last row", "Boolean"},
          {"BOF", MemberKind::Get, {}, Getter(&R::Bof),
           "True before the first row", "Boolean"},
          {"MoveFirst", MemberKind::Method, {}, Action(&R::MoveFirst),
           "Moves to the first row"},
          {"MoveNext", MemberKind::Method, {}, Action(&R::MoveNext),
           "Moves to the next row"},
          {"MovePrevious", MemberKind::Method, {}, Action(&R::MovePrevious),
           "Moves to the previous row"},
          {"MoveLast", MemberKind::Method, {}, Action(&R::MoveLast),
           "Moves to the last row"},
          {"RecordCount", MemberKind::Get, {}, Getter(&R::RecordCount),
           "Number of rows, or -1 when not known", "Long"},
          {"Fields", MemberKind::Get, {{"Index", true}},
           [](R& r, Args& a) {
             ObjectRef fields = r.FieldsObject();
             if (a[0].isMissing()) return Variant(fields);
             return Variant(std::static_pointer_cast<Fields>(fields)->Item(a[0]));
           },
           kDispIdDefault,
           "The columns of the current row", "Fields"},
          {"AddNew", MemberKind::Method, {{"FieldList", true}, {"Values", true}},
           [](R& r, Args& a) {
             r.AddNew(a[0], a[1]);
             return Variant();
           },
           "Starts a new row"},
          {"Update", MemberKind::Method, {{"Fields", true}, {"Values", true}},
           [](R& r, Args& a) {
             r.Update(a[0], a[1]);
             return Variant();
           },
           "Saves the changes to the current row"},
          {"CancelUpdate", MemberKind::Method, {}, Action(&R::CancelUpdate),
           "Drops the changes to the current row"},
          {"Delete", MemberKind::Method, {{"AffectRecords", true}}, Action(&R::Delete),
           "Deletes the current row"},
          {"ActiveConnection", MemberKind::Set, {{"value"}},
           [](R& r, Args& a) {
             if (r.open_) throw AdoError(kOpen, kClass);
             r.connection_ = a[0].isNull() ? nullptr : a[0].as<Connection>();
             return Variant();
           },
           "Sets the Connection the recordset reads from"},
          {"ActiveConnection", MemberKind::Let, {{"value"}},
           [](R& r, Args& a) {
             if (r.open_) throw AdoError(kOpen, kClass);
             if (a[0].isObject()) {
               r.connection_ = a[0].as<Connection>();
             } else {
               auto c = std::static_pointer_cast<Connection>(Connection::Create());
               c->Open(a[0], Variant::Missing(), Variant::Missing());
               r.connection_ = c;
             }
             return Variant();
           },
           "Opens a connection from connection text for the recordset"},
          {"ActiveConnection", MemberKind::Get, {},
           [](R& r, Args&) { return r.connection_ ? Variant(ObjectRef(r.connection_)) : Variant::Null(); },
           "The Connection the recordset reads from, or null", "Connection"},
          {"Source", MemberKind::Get, {}, [](R& r, Args&) { return Variant(r.source_); },
           "The statement or table the rows came from", "String"},
          {"CursorType", MemberKind::Let, {{"value"}},
           [](R& r, Args& a) { r.cursorType_ = a[0].toInt32(); return Variant(); },
           "Sets the cursor kind (CursorTypeEnum)"},
          {"CursorType", MemberKind::Get, {}, [](R& r, Args&) { return Variant(r.cursorType_); },
           "The cursor kind (CursorTypeEnum)", "Long"},
          {"LockType", MemberKind::Let, {{"value"}},
           [](R& r, Args& a) { r.lockType_ = a[0].toInt32(); return Variant(); },
           "Sets how rows are locked (LockTypeEnum)"},
          {"LockType", MemberKind::Get, {}, [](R& r, Args&) { return Variant(r.lockType_); },
           "How rows are locked (LockTypeEnum)", "Long"},
          {"CursorLocation", MemberKind::Let, {{"value"}},
           [](R& r, Args& a) { r.cursorLocation_ = a[0].toInt32(); return Variant(); },
           "Sets where the cursor is kept (CursorLocationEnum)"},
          {"CursorLocation", MemberKind::Get, {}, [](R& r, Args&) { return Variant(r.cursorLocation_); },
           "Where the cursor is kept (CursorLocationEnum)", "Long"},
          {"EditMode", MemberKind::Get, {}, [](R& r, Args&) { return Variant(static_cast<int32_t>(r.edit_)); },
           "Whether the current row has unsaved changes (EditModeEnum)", "Long"},
      });
  return info;
}

ObjectRef Recordset::Create() { return std::make_shared<Recordset>(); }

ObjectRef Recordset::FieldsObject() {
  RequireOpen();
  return std::make_shared<Fields>(self<Recordset>());
}

// ---- open and close -----------------------------------------------------------------

void Recordset::Open(const Variant& source, const Variant& activeConnection, const Variant& cursorType,
                     const Variant& lockType, const Variant& options) {
  if (open_) throw AdoError(kOpen, kClass);
  if (Given(cursorType)) cursorType_ = cursorType.toInt32();
  if (Given(lockType)) lockType_ = lockType.toInt32();
  std::string sql;
  std::vector<db::Value> params;
  if (source.isObject()) {
    auto command = source.as<Command>();
    sql = command->Text();
    params = command->Values(Variant::Missing());
    if (!Given(activeConnection) && command->ConnectionOf()) connection_ = command->ConnectionOf();
  } else {
    if (!Given(source)) throw AdoError(kDatabaseError, "The recordset has no Source to open.", kClass);
    sql = source.toString();
  }
  if (activeConnection.isObject()) {
    connection_ = activeConnection.as<Connection>();
  } else if (Given(activeConnection)) {
    auto c = std::static_pointer_cast<Connection>(Connection::Create());
    c->Open(activeConnection, Variant::Missing(), Variant::Missing());
    connection_ = c;
  }
  if (!connection_ || !connection_->IsOpen()) throw AdoError(kNoConnection, kClass);
  int32_t opts = Given(options) ? options.toInt32() : 0;
  std::string text = sql;
  if (!source.isObject() && ((opts & kCmdTable) || ((opts == 0 || opts == 8) && IsBareName(sql))))
    text = "SELECT * FROM " + sql;
  db::RowSet rows = connection_->Call(kClass, [&](db::Session& s) { return s.Run(text, params); });
  std::string keep = sql;
  Attach(connection_, std::move(rows), std::move(keep));
}

void Recordset::Attach(std::shared_ptr<Connection> connection, db::RowSet rows, std::string source) {
  connection_ = std::move(connection);
  source_ = std::move(source);
  columns_.clear();
  rows_.clear();
  edit_ = kEditNone;
  ++generation_;
  if (!rows.hasColumns) {
    open_ = false;  // a statement without rows leaves the recordset closed
    return;
  }
  columns_ = std::move(rows.columns);
  rows_.reserve(rows.rows.size());
  for (auto& r : rows.rows) rows_.push_back(Row{std::move(r), false});
  pending_.assign(columns_.size(), Pending{});
  chunks_.clear();
  chunks_.resize(columns_.size());
  pos_ = 0;
  open_ = true;
}

void Recordset::Close() {
  RequireOpen();
  open_ = false;
  columns_.clear();
  rows_.clear();
  pending_.clear();
  chunks_.clear();
  edit_ = kEditNone;
  ++generation_;
}

void Recordset::RequireOpen() const {
  if (!open_) throw AdoError(kClosed, kClass);
}

// ---- position --------------------------------------------------------------------------

bool Recordset::Eof() const {
  RequireOpen();
  if (edit_ == kEditAdd) return false;
  return pos_ >= static_cast<int64_t>(rows_.size()) || RecordCount() == 0;
}

bool Recordset::Bof() const {
  RequireOpen();
  if (edit_ == kEditAdd) return false;
  return pos_ < 0 || RecordCount() == 0;
}

bool Recordset::HasCurrent() const {
  return open_ && (edit_ == kEditAdd ||
                   (pos_ >= 0 && pos_ < static_cast<int64_t>(rows_.size()) && !rows_[static_cast<size_t>(pos_)].deleted));
}

Recordset::Row& Recordset::Current() {
  RequireOpen();
  if (!HasCurrent() || edit_ == kEditAdd) throw AdoError(kNoCurrentRecord, kClass);
  return rows_[static_cast<size_t>(pos_)];
}

int32_t Recordset::RecordCount() const {
  RequireOpen();
  return static_cast<int32_t>(std::count_if(rows_.begin(), rows_.end(), [](const Row& r) { return !r.deleted; }));
}

void Recordset::Moved() {
  ++generation_;
  for (auto& p : pending_) p = Pending{};
}

void Recordset::Settle() {
  if (edit_ != kEditNone) Update(Variant::Missing(), Variant::Missing());
}

// Moves from `from` in `direction` to the nearest row that is not deleted.
void Recordset::StepTo(int64_t from, int direction) {
  int64_t n = static_cast<int64_t>(rows_.size());
  int64_t p = from;
  while (p >= 0 && p < n && rows_[static_cast<size_t>(p)].deleted) p += direction;
  pos_ = p < 0 ? -1 : p >= n ? n : p;
  Moved();
}

void Recordset::MoveFirst() {
  RequireOpen();
  Settle();
  StepTo(0, 1);
}

void Recordset::MoveLast() {
  RequireOpen();
  Settle();
  StepTo(static_cast<int64_t>(rows_.size()) - 1, -1);
}

void Recordset::MoveNext() {
  RequireOpen();
  if (edit_ != kEditAdd && Eof()) throw AdoError(kNoCurrentRecord, kClass);
  Settle();
  StepTo(pos_ + 1, 1);
}

void Recordset::MovePrevious() {
  RequireOpen();
  if (edit_ != kEditAdd && Bof()) throw AdoError(kNoCurrentRecord, kClass);
  Settle();
  StepTo(pos_ - 1, -1);
}

// ---- columns and values ------------------------------------------------------------------

const db::Column& Recordset::ColumnAt(size_t i) const {
  RequireOpen();
  if (i >= columns_.size()) throw AdoError(kNoSuchItem, "Fields");
  return columns_[i];
}

std::vector<std::string> Recordset::ColumnNames() const {
  std::vector<std::string> out;
  for (const auto& c : columns_) out.push_back(c.name);
  return out;
}

size_t Recordset::ColumnIndex(const Variant& index) const {
  RequireOpen();
  int i = FindIndex(index, columns_.size(), ColumnNames());
  if (i < 0) throw AdoError(kNoSuchItem, "Fields");
  return static_cast<size_t>(i);
}

bool Recordset::IsBinary(size_t i) const {
  int32_t t = columns_[i].type;
  return t == db::adLongVarBinary || t == db::adVarBinary;
}

db::PieceReader& Recordset::Reader(size_t i) {
  Chunks& c = chunks_[i];
  if (c.generation != generation_) {
    c.generation = generation_;
    c.offset = 0;
    c.reader.reset();
    c.ahead.clear();
  }
  if (!c.reader) {
    const Row& row = Current();
    const db::Column& col = columns_[i];
    db::RowKey key = col.largeObject ? db::RowKey{} : KeyOf(row, col.schema, col.table);
    c.reader = connection_->Call(kClass, [&](db::Session& s) { return s.OpenPieces(col, key, row.cells[i]); });
  }
  return *c.reader;
}

Bytes Recordset::ReadBytes(size_t i, int64_t offset, int64_t count) {
  const Pending& p = pending_[i];
  Bytes out(static_cast<size_t>(std::max<int64_t>(count, 0)));
  if (p.set && p.spool) {
    out.resize(p.spool->ReadAt(offset, out));
    return out;
  }
  const db::Column& col = columns_[i];
  if (!p.set && (col.deferred || col.largeObject)) {
    db::PieceReader& reader = Reader(i);
    Chunks& c = chunks_[i];
    auto read = [&](int64_t at, std::span<uint8_t> into) {
      return connection_->Call(kClass, [&](db::Session&) { return reader.Read(at, into); });
    };
    size_t done = 0;
    while (done < out.size()) {
      int64_t at = offset + static_cast<int64_t>(done);
      int64_t aheadEnd = c.aheadAt + static_cast<int64_t>(c.ahead.size());
      if (at >= c.aheadAt && at < aheadEnd) {
        size_t n = std::min(out.size() - done, static_cast<size_t>(aheadEnd - at));
        std::memcpy(out.data() + done, c.ahead.data() + (at - c.aheadAt), n);
        done += n;
        continue;
      }
      size_t got;
      if (out.size() - done >= kReadAhead) {
        // A large read goes straight into the result, in pieces, so that no
        // single database answer holds a whole large value.
        got = read(at, std::span<uint8_t>(out.data() + done, std::min(out.size() - done, db::kPieceBytes)));
        done += got;
      } else {
        c.ahead.resize(kReadAhead);
        got = read(at, c.ahead);
        c.ahead.resize(got);
        c.aheadAt = at;
      }
      if (got == 0) break;
    }
    out.resize(done);
    return out;
  }
  Variant v = p.set ? p.value : Current().cells[i];
  Bytes all;
  if (v.type() == VType::Bytes) all = v.bytes();
  else if (v.type() == VType::String) all.assign(v.str().begin(), v.str().end());
  else if (!v.isNull() && !v.isEmpty()) {
    std::string t = v.toString();
    all.assign(t.begin(), t.end());
  }
  int64_t start = std::min<int64_t>(offset, static_cast<int64_t>(all.size()));
  int64_t end = std::min<int64_t>(start + count, static_cast<int64_t>(all.size()));
  return Bytes(all.begin() + start, all.begin() + end);
}

void Recordset::FinishOthers(size_t i) {
  for (size_t j = 0; j < chunks_.size(); ++j)
    if (j != i) chunks_[j].offset = 0;
}

Variant Recordset::Value(size_t i) {
  RequireOpen();
  ColumnAt(i);
  if (!HasCurrent()) throw AdoError(kNoCurrentRecord, kClass);
  FinishOthers(i);
  const Pending& p = pending_.at(i);
  if (p.set && !p.spool) return p.value;
  if (edit_ == kEditAdd && !p.set) return Variant::Null();
  const db::Column& col = columns_[i];
  if (p.spool || col.deferred || col.largeObject) {
    if (!p.set && Current().cells[i].isNull()) return Variant::Null();
    return Variant(ReadBytes(i, 0, ActualSize(i)));
  }
  return Current().cells[i];
}

Variant Recordset::OriginalValue(size_t i) {
  RequireOpen();
  ColumnAt(i);
  if (edit_ == kEditAdd) return Variant::Null();
  const db::Column& col = columns_.at(i);
  const Row& row = Current();
  if ((col.deferred || col.largeObject) && !row.cells[i].isNull()) {
    Pending saved = std::move(pending_[i]);
    pending_[i] = Pending{};
    Variant v;
    try {
      v = Variant(ReadBytes(i, 0, ActualSize(i)));
    } catch (...) {
      pending_[i] = std::move(saved);
      throw;
    }
    pending_[i] = std::move(saved);
    return v;
  }
  return row.cells[i];
}

int64_t Recordset::ActualSize(size_t i) {
  RequireOpen();
  ColumnAt(i);
  if (!HasCurrent()) throw AdoError(kNoCurrentRecord, kClass);
  const Pending& p = pending_.at(i);
  if (p.set && p.spool) return p.spool->Size();
  if (edit_ == kEditAdd && !p.set) return 0;
  const db::Column& col = columns_[i];
  Variant v = p.set ? p.value : Current().cells[i];
  if (v.isNull() || v.isEmpty()) return 0;
  if (!p.set && col.deferred) return v.toInt64();
  if (!p.set && col.largeObject) return Reader(i).Size();
  if (v.type() == VType::Bytes) return static_cast<int64_t>(v.bytes().size());
  return CharCount(v.toString());
}

Variant Recordset::GetChunk(size_t i, int64_t n) {
  RequireOpen();
  ColumnAt(i);
  if (n < 0) ThrowPlatform(err::InvalidArgument);
  if (!HasCurrent()) throw AdoError(kNoCurrentRecord, kClass);
  Chunks& c = chunks_.at(i);
  if (c.generation != generation_) {
    c.generation = generation_;
    c.offset = 0;
    c.reader.reset();
  }
  FinishOthers(i);
  const Pending& p = pending_[i];
  Variant v = p.set ? p.value : (edit_ == kEditAdd ? Variant::Null() : Current().cells[i]);
  if (!p.spool && (v.isNull() || v.isEmpty())) return Variant::Null();
  int64_t size = ActualSize(i);
  if (c.offset >= size && (n > 0 || size > 0 || c.offset > 0)) {
    // The value is used up: the next GetChunk (a second Export) starts over.
    c.offset = 0;
    return Variant::Null();
  }
  int64_t count = std::min(n, size - c.offset);
  bool binary = p.spool || (p.set ? v.type() == VType::Bytes : IsBinary(i) || v.type() == VType::Bytes);
  if (binary) {
    Bytes bytes = ReadBytes(i, c.offset, count);
    c.offset += static_cast<int64_t>(bytes.size());
    return Variant(std::move(bytes));
  }
  std::string text = v.toString();
  size_t from = ByteOffset(text, c.offset);
  size_t to = from + ByteOffset(text.substr(from), count);
  c.offset += count;
  return Variant(text.substr(from, to - from));
}

// ---- changes -------------------------------------------------------------------------------

void Recordset::BeginEdit() {
  RequireOpen();
  if (lockType_ == 1) throw AdoError(kReadOnly, kClass);
  if (edit_ == kEditNone) {
    Current();  // 9054 without a current record
    edit_ = kEditInProgress;
  }
}

void Recordset::SetValue(size_t i, const Variant& value) {
  ColumnAt(i);
  BeginEdit();
  Pending& p = pending_.at(i);
  p = Pending{};
  p.set = true;
  p.value = value.isObject() ? value.resolved() : value;
  if (p.value.isEmpty() || p.value.isMissing()) p.value = Variant::Null();
  ++generation_;  // a read in progress starts again on the new value
}

void Recordset::AppendChunk(size_t i, const Variant& data) {
  ColumnAt(i);
  BeginEdit();
  Pending& p = pending_.at(i);
  Variant d = data.isObject() ? data.resolved() : data;
  if (d.isNull()) {
    p = Pending{};
    p.set = true;
    p.value = Variant::Null();
    return;
  }
  bool binary = IsBinary(i);
  if (!p.appending) {
    p = Pending{};
    p.set = true;
    p.appending = true;
    if (binary) p.spool = std::make_shared<db::Spool>();
    else p.value = Variant(std::string());
  }
  if (binary) {
    if (d.type() == VType::Bytes) {
      p.spool->Append(d.bytes());
    } else {
      Bytes units;
      AppendUtf16LE(d.toString(), units);
      p.spool->Append(units);
    }
  } else {
    std::string add = d.type() == VType::Bytes ? std::string(d.bytes().begin(), d.bytes().end()) : d.toString();
    p.value = Variant(p.value.str() + add);
  }
}

void Recordset::ApplyLists(const Variant& fields, const Variant& values) {
  if (!Given(fields)) return;
  if (fields.type() == VType::Array) {
    const auto& names = fields.array().items;
    if (values.type() != VType::Array || values.array().items.size() != names.size())
      ThrowPlatform(err::InvalidArgument);
    for (size_t k = 0; k < names.size(); ++k) SetValue(ColumnIndex(names[k]), values.array().items[k]);
  } else {
    SetValue(ColumnIndex(fields), values);
  }
}

void Recordset::AddNew(const Variant& fields, const Variant& values) {
  RequireOpen();
  if (lockType_ == 1) throw AdoError(kReadOnly, kClass);
  Settle();
  addedFrom_ = pos_;
  Moved();
  edit_ = kEditAdd;
  if (Given(fields)) {
    ApplyLists(fields, values);
    Update(Variant::Missing(), Variant::Missing());
  }
}

db::RowKey Recordset::KeyOf(const Row& row, const std::string& schema, const std::string& table) const {
  db::RowKey key{schema, table, {}, {}};
  for (size_t i = 0; i < columns_.size(); ++i) {
    const db::Column& c = columns_[i];
    if (c.key && c.table == table && c.schema == schema) {
      if (row.cells[i].isNull()) continue;
      key.columns.push_back(c.baseColumn);
      key.values.push_back(row.cells[i]);
    }
  }
  if (key.columns.empty())
    throw AdoError(kNotUpdatable,
                   "The recordset cannot change rows: the primary key of table " + table + " is not among its columns.",
                   kClass);
  return key;
}

void Recordset::Update(const Variant& fields, const Variant& values) {
  RequireOpen();
  if (Given(fields)) {
    if (edit_ == kEditNone) BeginEdit();
    ApplyLists(fields, values);
  }
  if (edit_ == kEditNone) return;
  // The table the change goes to: that of the changed columns, else the first table column.
  std::vector<size_t> changed;
  for (size_t i = 0; i < columns_.size(); ++i)
    if (pending_[i].set) changed.push_back(i);
  const db::Column* base = nullptr;
  for (size_t i : changed) {
    const db::Column& c = columns_[i];
    if (c.table.empty())
      throw AdoError(kNotUpdatable, "The recordset cannot change rows: " + c.name + " is not a column of a table.", kClass);
    if (base && (base->table != c.table || base->schema != c.schema))
      throw AdoError(kNotUpdatable, "The recordset cannot change rows: its columns come from more than one table.",
                     kClass);
    base = &c;
  }
  if (!base)
    for (const auto& c : columns_)
      if (!c.table.empty()) {
        base = &c;
        break;
      }
  if (!base) throw AdoError(kNotUpdatable, "The recordset cannot change rows: none of its columns is a table's.", kClass);
  std::string schema = base->schema, table = base->table;
  std::vector<db::Column> targets;
  std::vector<db::Value> vals;
  for (size_t i : changed) {
    targets.push_back(columns_[i]);
    db::Value v{pending_[i].value, pending_[i].spool, {}};
    if (columns_[i].largeObject && edit_ == kEditInProgress) v.old = rows_[static_cast<size_t>(pos_)].cells[i];
    vals.push_back(std::move(v));
  }
  std::vector<Variant> fresh;
  if (edit_ == kEditAdd) {
    fresh = connection_->Call(kClass, [&](db::Session& s) {
      return s.WriteRow(schema, table, targets, vals, nullptr, columns_);
    });
    rows_.push_back(Row{std::move(fresh), false});
    pos_ = static_cast<int64_t>(rows_.size()) - 1;
  } else {
    Row& row = rows_[static_cast<size_t>(pos_)];
    db::RowKey key = KeyOf(row, schema, table);
    fresh = connection_->Call(kClass, [&](db::Session& s) {
      return s.WriteRow(schema, table, targets, vals, &key, columns_);
    });
    for (size_t i = 0; i < columns_.size(); ++i)
      if (columns_[i].table == table && columns_[i].schema == schema) row.cells[i] = std::move(fresh[i]);
  }
  edit_ = kEditNone;
  Moved();
}

void Recordset::CancelUpdate() {
  RequireOpen();
  if (edit_ == kEditAdd) pos_ = addedFrom_;
  edit_ = kEditNone;
  Moved();
}

void Recordset::Delete() {
  RequireOpen();
  if (lockType_ == 1) throw AdoError(kReadOnly, kClass);
  if (edit_ == kEditAdd) {
    CancelUpdate();
    return;
  }
  Row& row = Current();
  const db::Column* base = nullptr;
  for (const auto& c : columns_)
    if (c.key) {
      base = &c;
      break;
    }
  if (!base)
    throw AdoError(kNotUpdatable, "The recordset cannot change rows: no primary key of a table is among its columns.",
                   kClass);
  db::RowKey key = KeyOf(row, base->schema, base->table);
  std::vector<Variant> objects;
  for (size_t i = 0; i < columns_.size(); ++i)
    if (columns_[i].largeObject && columns_[i].table == base->table && columns_[i].schema == base->schema)
      objects.push_back(row.cells[i]);
  connection_->Call(kClass, [&](db::Session& s) {
    s.DeleteRow(key, objects);
    return 0;
  });
  row.deleted = true;
  edit_ = kEditNone;
  Moved();
}

}  // namespace torvane::ado
