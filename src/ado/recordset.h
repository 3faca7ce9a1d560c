// ADODB.Recordset: the rows of a query, a current record, and the changes a
// page makes to it.
//
// Rows are read when the recordset opens (a static cursor: RecordCount is
// always known, every move is allowed), except long binary values, which are
// read in pieces when a Field's GetChunk or Value asks (see the back ends).
// Changes: AddNew, a Field's Value or AppendChunk, then Update writes the row
// to its table in one atomic step (a failure changes nothing and keeps the
// edit, which CancelUpdate drops); Delete removes the current row. Changing
// needs LockType other than adLockReadOnly (1, the default; 9059), the
// columns of one table, and for existing rows that table's primary key among
// the columns (9056 otherwise). Moving off an edited record updates it first.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ado/ado_errors.h"
#include "automation/object.h"
#include "platform/database/database.h"

namespace torvane::ado {

class Connection;

class Recordset : public Object {
 public:
  // Members, slot order: Open, Close, State, EOF, BOF, MoveFirst, MoveNext,
  // MovePrevious, MoveLast, RecordCount, Fields (default member, optional
  // index), AddNew, Update, CancelUpdate, Delete, ActiveConnection
  // let/set/get, Source, CursorType let/get, LockType let/get,
  // CursorLocation let/get, EditMode.
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  static ObjectRef Create();

  // Source: SQL text, a table name (Options adCmdTable, or a bare name) or a
  // Command; ActiveConnection: a Connection or a connection string.
  void Open(const Variant& source, const Variant& activeConnection, const Variant& cursorType,
            const Variant& lockType, const Variant& options);
  void Close();
  bool IsOpen() const { return open_; }
  bool Eof() const;
  bool Bof() const;
  void MoveFirst();
  void MoveNext();
  void MovePrevious();
  void MoveLast();
  int32_t RecordCount() const;
  void AddNew(const Variant& fields, const Variant& values);
  void Update(const Variant& fields, const Variant& values);
  void CancelUpdate();
  void Delete();

  // Package-internal: the recordset over rows already read (Connection and
  // Command Execute).
  void Attach(std::shared_ptr<Connection> connection, db::RowSet rows, std::string source);

  // ---- what Field and Fields ask (index: 0-based column) ----------------------
  size_t ColumnCount() const { return columns_.size(); }
  // 9052 when closed, 9055 for a column the recordset no longer has (a Field
  // kept across a Close and a new Open).
  const db::Column& ColumnAt(size_t i) const;
  std::vector<std::string> ColumnNames() const;
  // The column an index names (number or name), or 9055.
  size_t ColumnIndex(const Variant& index) const;
  Variant Value(size_t i);
  Variant OriginalValue(size_t i);
  void SetValue(size_t i, const Variant& value);
  int64_t ActualSize(size_t i);
  // The next n bytes (binary) or characters (text) of the value; Null at its end.
  Variant GetChunk(size_t i, int64_t n);
  void AppendChunk(size_t i, const Variant& data);
  ObjectRef FieldsObject();

 private:
  struct Row {
    std::vector<Variant> cells;
    bool deleted = false;
  };
  struct Pending {
    bool set = false;
    bool appending = false;  // later AppendChunk calls add to the value
    Variant value;
    std::shared_ptr<db::Spool> spool;
  };
  struct Chunks {
    uint64_t generation = ~uint64_t{0};
    int64_t offset = 0;
    std::unique_ptr<db::PieceReader> reader;
    // Bytes read ahead of a GetChunk walk (one database call serves several
    // small chunks), starting at aheadAt.
    Bytes ahead;
    int64_t aheadAt = 0;
  };
  enum EditMode { kEditNone = 0, kEditInProgress = 1, kEditAdd = 2 };

  void RequireOpen() const;
  // The current row, or 9054.
  Row& Current();
  bool HasCurrent() const;
  void Moved();
  void Settle();  // updates a pending edit before a move
  void BeginEdit();
  void ApplyLists(const Variant& fields, const Variant& values);
  bool IsBinary(size_t i) const;
  db::RowKey KeyOf(const Row& row, const std::string& schema, const std::string& table) const;
  // Reads `count` bytes of the value of column i at `offset` into a byte array.
  Bytes ReadBytes(size_t i, int64_t offset, int64_t count);
  db::PieceReader& Reader(size_t i);
  void StepTo(int64_t from, int direction);
  // Reading column i ends a GetChunk walk of every other column (the next
  // GetChunk there starts from the value's first byte).
  void FinishOthers(size_t i);

  std::shared_ptr<Connection> connection_;
  std::vector<db::Column> columns_;
  std::vector<Row> rows_;
  int64_t pos_ = 0;  // 0-based; rows_.size() is EOF, -1 is BOF
  bool open_ = false;
  std::string source_;
  int32_t cursorType_ = 0, lockType_ = 1, cursorLocation_ = 2;
  EditMode edit_ = kEditNone;
  int64_t addedFrom_ = 0;  // the position AddNew left (CancelUpdate returns there)
  std::vector<Pending> pending_;
  std::vector<Chunks> chunks_;
  uint64_t generation_ = 0;
};

}  // namespace torvane::ado
