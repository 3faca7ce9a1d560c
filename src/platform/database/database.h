// The database back ends behind the ADO objects (src/ado).
//
// One interface, one module per product: SQLite through libsqlite3
// (sqlite_session.cpp) and PostgreSQL through libpq (postgres_session.cpp),
// listed in one table (database.cpp) and chosen by the connection string's
// scheme. The ADO classes never see a product's API: they hand in SQL text
// with "?" placeholders and Variant values, and get described columns and rows
// of Variants back.
//
// Long binary values never travel with their rows. A column whose value is
// read in pieces is "deferred": its cells hold the value's size in bytes (or
// Null), and a PieceReader reads the bytes by the row's key. Values written
// from a Spool (a temporary file the bytes were appended to) are streamed into
// the database in pieces of kPieceBytes. So a 1 GiB value is never whole in
// this process's memory.
//
// Errors: a statement the database refuses throws DatabaseError carrying the
// database's own message and, where the product has one, its SQLSTATE; a
// failing system call throws the usual errno Error.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "automation/variant.h"

namespace torvane::db {

// ADO's DataTypeEnum values that fields report.
enum AdoType : int32_t {
  adEmpty = 0,
  adSmallInt = 2,
  adInteger = 3,
  adSingle = 4,
  adDouble = 5,
  adDate = 7,
  adBoolean = 11,
  adBigInt = 20,
  adNumeric = 131,
  adDBDate = 133,
  adDBTime = 134,
  adDBTimeStamp = 135,
  adVarWChar = 202,
  adLongVarWChar = 203,
  adVarBinary = 204,
  adLongVarBinary = 205,
};

// The size ADO reports as DefinedSize of a long (unbounded) column.
constexpr int64_t kLongSize = 2147483647;
// Bytes moved per database call when a long value streams in or out.
constexpr size_t kPieceBytes = 1 << 20;

// A failure reported by the database itself.
struct DatabaseError : std::runtime_error {
  DatabaseError(std::string text, std::string state, int32_t code, std::string productName)
      : std::runtime_error(text), message(std::move(text)), sqlState(std::move(state)), nativeError(code),
        product(std::move(productName)) {}
  std::string message;   // the database's text, unchanged
  std::string sqlState;  // five characters, "" when the product gives none
  int32_t nativeError;   // the product's own code (SQLite's result code; 0 for PostgreSQL)
  std::string product;   // "SQLite", "PostgreSQL"
};

// One result column.
struct Column {
  std::string name;
  int32_t type = adVarWChar;
  int64_t definedSize = 0;
  // The table column it comes from ("" when it is computed).
  std::string schema, table, baseColumn;
  bool key = false;          // part of its table's primary key
  bool deferred = false;     // long binary value read in pieces; cells hold its size
  bool largeObject = false;  // PostgreSQL: the cell holds a large object's oid
};

// Bytes a page appended to a long value, kept in an unnamed temporary file
// (gone with the process whatever happens) until they are written.
class Spool {
 public:
  Spool();
  ~Spool();
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;
  void Append(std::span<const uint8_t> bytes);
  int64_t Size() const { return size_; }
  // Reads up to buffer.size() bytes at `offset`; returns how many.
  size_t ReadAt(int64_t offset, std::span<uint8_t> buffer) const;
  // The whole content (for values that must travel whole).
  Bytes ReadAll() const;

 private:
  int fd_ = -1;
  int64_t size_ = 0;
};

// A value to bind: a plain Variant, or the bytes of a spool. When a row's
// large object (PostgreSQL) is replaced, `old` is the oid it held, removed
// with the write.
struct Value {
  Variant v;
  std::shared_ptr<const Spool> spool;
  Variant old;
};

// The rows of a statement, all read at once (long binary values excepted).
struct RowSet {
  bool hasColumns = false;  // a row-returning statement (possibly with no rows)
  std::vector<Column> columns;
  std::vector<std::vector<Variant>> rows;
  int64_t affected = -1;    // rows changed by a statement without columns
};

// Where one row of a base table is: its key columns and their values.
struct RowKey {
  std::string schema, table;
  std::vector<std::string> columns;
  std::vector<Variant> values;
};

// Reads one long value in pieces.
class PieceReader {
 public:
  virtual ~PieceReader() = default;
  virtual int64_t Size() = 0;
  // Reads up to buffer.size() bytes at `offset`; fewer only at the end.
  virtual size_t Read(int64_t offset, std::span<uint8_t> buffer) = 0;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  virtual ~Session() = default;
  virtual const char* Product() const = 0;
  // Runs SQL text with "?" placeholders bound to `params` in order. Several
  // statements separated by ";" run in turn when no parameter is given; the
  // last row-returning one gives the rows. Deferred columns come back with
  // their sizes.
  virtual RowSet Run(const std::string& sql, const std::vector<Value>& params) = 0;
  // True inside a transaction (BEGIN without COMMIT or ROLLBACK yet).
  virtual bool InTransaction() = 0;
  // Inserts a row (where == nullptr) or changes the row `where` names in the
  // table schema.table: the columns `targets` get `values` (spools streamed
  // in). Returns the row as `want` describes it, read back after the write
  // (Null for columns of other tables). Atomic: a failure leaves the table as
  // it was. An UPDATE that finds no row fails.
  virtual std::vector<Variant> WriteRow(const std::string& schema, const std::string& table,
                                        const std::vector<Column>& targets, const std::vector<Value>& values,
                                        const RowKey* where, const std::vector<Column>& want) = 0;
  // Deletes the row; large objects it held (PostgreSQL) go with it. Atomic.
  virtual void DeleteRow(const RowKey& row, const std::vector<Variant>& largeObjects) = 0;
  // A reader of the deferred or large-object value of `column` in `row` (the
  // cell's value is `cell`: the size, or the oid of a large object).
  virtual std::unique_ptr<PieceReader> OpenPieces(const Column& column, const RowKey& row, const Variant& cell) = 0;
  // The size of a large object (PostgreSQL); other products fail.
  virtual int64_t LargeObjectSize(const Variant& oid) = 0;
  virtual void Close() = 0;
};

// A back end module: opens sessions for targets of its scheme.
struct Module {
  const char* scheme;   // "sqlite", "postgresql"
  const char* product;  // "SQLite", "PostgreSQL"
  // `target`: SQLite the DOS-form physical path of the database file;
  // PostgreSQL a libpq connection URI or keyword/value string.
  std::shared_ptr<Session> (*open)(const std::string& target);
};

// The registration table of the back ends.
const std::vector<Module>& Modules();
// The module of a scheme (letter case ignored), or nullptr.
const Module* ModuleFor(std::string_view scheme);

// Helpers shared by the modules.
// `name` as a double-quoted SQL identifier.
std::string QuoteIdent(std::string_view name);
// Whether a declared column type names long binary data (SQLite affinity rules).
int32_t TypeFromDeclared(std::string_view declared, int64_t& definedSize);

}  // namespace torvane::db
