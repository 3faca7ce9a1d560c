// The SQLite back end: libsqlite3, one connection per session.
//
// Long binary columns of a query are deferred when their table is a rowid
// table whose primary key columns are all in the result: the query is then
// run as SELECT over the page's own query with the BLOB column replaced by its
// length (SQLite answers length() without reading the value), and the bytes
// are read later through incremental BLOB I/O (sqlite3_blob_read) by rowid.
// A spooled value is written as zeroblob(size) and then filled piece by piece
// with sqlite3_blob_write, inside a savepoint, so a failure leaves nothing.
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <set>

#include "platform/database/database.h"
#include "basics/ascii.h"
#include "basics/utf8.h"
#include "platform/paths.h"

namespace torvane::db {
namespace {

constexpr const char* kProduct = "SQLite";

[[noreturn]] void Fail(sqlite3* db, int rc) {
  std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
  int code = db ? sqlite3_extended_errcode(db) : rc;
  throw DatabaseError(message, "", code, kProduct);
}

// One prepared statement, finalized on destruction.
class Stmt {
 public:
  Stmt(sqlite3* db, std::string_view sql, const char** tail = nullptr) : db_(db) {
    const char* t = nullptr;
    int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &s_, &t);
    if (rc != SQLITE_OK) Fail(db, rc);
    if (tail) *tail = t;
  }
  ~Stmt() { sqlite3_finalize(s_); }
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  sqlite3_stmt* get() const { return s_; }
  explicit operator bool() const { return s_ != nullptr; }
  // True for a row, false when done.
  bool Step() {
    int rc = sqlite3_step(s_);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    Fail(db_, rc);
  }

 private:
  sqlite3* db_;
  sqlite3_stmt* s_ = nullptr;
};

std::string Upper(std::string_view s) { return AsciiUpper(s); }

void Bind(sqlite3* db, sqlite3_stmt* s, int i, const Value& value) {
  int rc = SQLITE_OK;
  if (value.spool) {
    Bytes all = value.spool->ReadAll();
    rc = sqlite3_bind_blob64(s, i, all.data(), all.size(), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK) Fail(db, rc);
    return;
  }
  Variant v = value.v.isObject() ? value.v.resolved() : value.v;
  switch (v.type()) {
    case VType::Empty:
    case VType::Missing:
    case VType::Null: rc = sqlite3_bind_null(s, i); break;
    case VType::Bool: rc = sqlite3_bind_int64(s, i, v.rawInt() ? 1 : 0); break;
    case VType::I2:
    case VType::I4:
    case VType::I8: rc = sqlite3_bind_int64(s, i, v.rawInt()); break;
    case VType::Double: rc = sqlite3_bind_double(s, i, v.rawDouble()); break;
    case VType::Date: {
      std::string text = DateToText(v.rawDouble());
      rc = sqlite3_bind_text64(s, i, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    }
    case VType::String:
      rc = sqlite3_bind_text64(s, i, v.str().data(), v.str().size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      break;
    case VType::Bytes: {
      const Bytes& b = v.bytes();
      rc = b.empty() ? sqlite3_bind_zeroblob(s, i, 0) : sqlite3_bind_blob64(s, i, b.data(), b.size(), SQLITE_TRANSIENT);
      break;
    }
    default: ThrowPlatform(err::TypeMismatch);
  }
  if (rc != SQLITE_OK) Fail(db, rc);
}

void BindAll(sqlite3* db, sqlite3_stmt* s, const std::vector<Value>& params) {
  int expected = sqlite3_bind_parameter_count(s);
  if (expected != static_cast<int>(params.size()))
    throw DatabaseError("The statement has " + std::to_string(expected) + " parameter markers but " +
                            std::to_string(params.size()) + " values were given.",
                        "07001", 0, kProduct);
  for (size_t i = 0; i < params.size(); ++i) Bind(db, s, static_cast<int>(i) + 1, params[i]);
}

// The cell of column i of the current row, read as the column's type asks.
Variant Cell(sqlite3_stmt* s, int i, const Column& c) {
  switch (sqlite3_column_type(s, i)) {
    case SQLITE_NULL: return Variant::Null();
    case SQLITE_INTEGER: {
      int64_t n = sqlite3_column_int64(s, i);
      if (c.deferred) return Variant::I8(n);
      if (c.type == adBoolean) return Variant(n != 0);
      return Variant(n);
    }
    case SQLITE_FLOAT: return Variant(sqlite3_column_double(s, i));
    case SQLITE_TEXT: {
      auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s, i));
      std::string text(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(s, i)));
      if (c.type == adDBTimeStamp) {
        try {
          return Variant::Date(DateFromText(text));
        } catch (const Error&) {
        }
      }
      return Variant(std::move(text));
    }
    default: {
      auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(s, i));
      int n = sqlite3_column_bytes(s, i);
      return Variant(Bytes(p, p + n));
    }
  }
}

// The SQL expression that gives a deferred column's size without reading it.
std::string SizeExpr(const std::string& quoted) {
  return "CASE typeof(" + quoted + ") WHEN 'blob' THEN length(" + quoted + ") WHEN 'null' THEN NULL ELSE length(CAST(" +
         quoted + " AS BLOB)) END";
}

struct TableInfo {
  std::vector<std::string> keys;  // primary key columns, in key order
  bool rowid = false;             // an ordinary rowid table
};

class SqliteSession;

class SqliteReader : public PieceReader {
 public:
  SqliteReader(std::shared_ptr<SqliteSession> session, const Column& column, const RowKey& row, int64_t size)
      : session_(std::move(session)), column_(column), row_(row), size_(size) {}
  ~SqliteReader() override { CloseBlob(); }
  int64_t Size() override { return size_; }
  size_t Read(int64_t offset, std::span<uint8_t> buffer) override;

 private:
  void CloseBlob() {
    if (blob_) sqlite3_blob_close(blob_);
    blob_ = nullptr;
  }
  std::shared_ptr<SqliteSession> session_;
  Column column_;
  RowKey row_;
  int64_t size_;
  sqlite3_blob* blob_ = nullptr;
};

class SqliteSession : public Session {
 public:
  explicit SqliteSession(const std::string& nativePath) {
    int rc = sqlite3_open_v2(nativePath.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK) {
      std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
      sqlite3_close_v2(db_);
      db_ = nullptr;
      throw DatabaseError(message + ": " + nativePath, "", rc, kProduct);
    }
    sqlite3_extended_result_codes(db_, 1);
    sqlite3_busy_timeout(db_, 10000);
  }
  ~SqliteSession() override { Close(); }

  const char* Product() const override { return kProduct; }
  sqlite3* db() const {
    if (!db_) throw DatabaseError("The database connection is closed.", "08003", 0, kProduct);
    return db_;
  }

  RowSet Run(const std::string& sql, const std::vector<Value>& params) override {
    RowSet result;
    const char* at = sql.data();
    const char* end = sql.data() + sql.size();
    bool first = true;
    while (at < end) {
      const char* tail = nullptr;
      Stmt stmt(db(), std::string_view(at, static_cast<size_t>(end - at)), &tail);
      at = tail ? tail : end;
      if (!stmt) continue;  // only blanks or a comment
      if (!params.empty()) {
        if (!first || !OnlyBlanks(at, end))
          throw DatabaseError("Only one statement may be run with parameters.", "42601", 0, kProduct);
        BindAll(db_, stmt.get(), params);
      } else if (sqlite3_bind_parameter_count(stmt.get()) > 0) {
        BindAll(db_, stmt.get(), params);  // reports the missing values
      }
      first = false;
      RowSet one = RunOne(stmt, params);
      if (one.hasColumns || !result.hasColumns) result = std::move(one);
    }
    return result;
  }

  bool InTransaction() override { return sqlite3_get_autocommit(db()) == 0; }

  std::vector<Variant> WriteRow(const std::string& schema, const std::string& table, const std::vector<Column>& targets,
                                const std::vector<Value>& values, const RowKey* where,
                                const std::vector<Column>& want) override {
    const TableInfo& info = Table(schema, table);
    std::string qtable = QuoteIdent(schema) + "." + QuoteIdent(table);
    std::vector<size_t> spooled;
    std::string sql;
    auto marker = [&](size_t i) {
      if (values[i].spool && info.rowid) {
        spooled.push_back(i);
        return std::string("zeroblob(?)");
      }
      return std::string("?");
    };
    if (!where) {
      if (targets.empty()) {
        sql = "INSERT INTO " + qtable + " DEFAULT VALUES";
      } else {
        std::string names, markers;
        for (size_t i = 0; i < targets.size(); ++i) {
          names += (i ? ", " : "") + QuoteIdent(targets[i].baseColumn);
          markers += (i ? ", " : "") + marker(i);
        }
        sql = "INSERT INTO " + qtable + " (" + names + ") VALUES (" + markers + ")";
      }
    } else {
      std::string sets;
      for (size_t i = 0; i < targets.size(); ++i)
        sets += (i ? ", " : "") + QuoteIdent(targets[i].baseColumn) + " = " + marker(i);
      // Nothing to change still reads the row back (and finds it gone).
      if (sets.empty()) sets = QuoteIdent(where->columns.at(0)) + " = " + QuoteIdent(where->columns.at(0));
      sql = "UPDATE " + qtable + " SET " + sets + " WHERE " + KeyCondition(*where);
    }
    std::string list;
    for (const auto& c : want) {
      bool mine = EqualsNoCase(c.table, table) && EqualsNoCase(c.schema, schema) && !c.baseColumn.empty();
      std::string q = QuoteIdent(c.baseColumn);
      list += ", " + (!mine ? std::string("NULL") : c.deferred ? SizeExpr(q) : q);
    }
    Savepoint sp(*this);
    std::vector<Variant> row;
    // A rowid table's row is read back by rowid once its BLOBs are filled: a
    // RETURNING clause would hold every value of the new row in memory.
    int64_t rowid = where && info.rowid ? RowidOf(*where) : 0;
    if (!info.rowid) sql += " RETURNING NULL" + list;
    {
      Stmt stmt(db(), sql);
      int n = 1;
      for (size_t i = 0; i < values.size(); ++i) {
        if (std::find(spooled.begin(), spooled.end(), i) != spooled.end()) {
          int rc = sqlite3_bind_int64(stmt.get(), n++, values[i].spool->Size());
          if (rc != SQLITE_OK) Fail(db_, rc);
        } else {
          Bind(db_, stmt.get(), n++, values[i]);
        }
      }
      if (where)
        for (const auto& k : where->values) Bind(db_, stmt.get(), n++, Value{k, nullptr, {}});
      bool got = stmt.Step();
      if (!info.rowid) {
        if (!got) throw DatabaseError("The row to change is no longer in table " + table + ".", "02000", 0, kProduct);
        for (size_t i = 0; i < want.size(); ++i) row.push_back(Cell(stmt.get(), static_cast<int>(i) + 1, want[i]));
        while (stmt.Step()) {
        }
      } else if (where && sqlite3_changes(db_) == 0) {
        throw DatabaseError("The row to change is no longer in table " + table + ".", "02000", 0, kProduct);
      }
    }
    if (info.rowid) {
      if (!where) rowid = sqlite3_last_insert_rowid(db_);
      for (size_t i : spooled) FillBlob(schema, table, targets[i].baseColumn, rowid, *values[i].spool);
      Stmt back(db(), "SELECT NULL" + list + " FROM " + qtable + " WHERE rowid = ?");
      sqlite3_bind_int64(back.get(), 1, rowid);
      if (!back.Step()) throw DatabaseError("The row written is no longer in table " + table + ".", "02000", 0, kProduct);
      for (size_t i = 0; i < want.size(); ++i) row.push_back(Cell(back.get(), static_cast<int>(i) + 1, want[i]));
    }
    sp.Release();
    return row;
  }

  void DeleteRow(const RowKey& row, const std::vector<Variant>&) override {
    Savepoint sp(*this);
    Stmt stmt(db(), "DELETE FROM " + QuoteIdent(row.schema) + "." + QuoteIdent(row.table) + " WHERE " +
                        KeyCondition(row));
    for (size_t i = 0; i < row.values.size(); ++i) Bind(db_, stmt.get(), static_cast<int>(i) + 1, Value{row.values[i], nullptr, {}});
    stmt.Step();
    if (sqlite3_changes(db_) == 0)
      throw DatabaseError("The row to delete is no longer in table " + row.table + ".", "02000", 0, kProduct);
    sp.Release();
  }

  std::unique_ptr<PieceReader> OpenPieces(const Column& column, const RowKey& row, const Variant& cell) override {
    int64_t size = cell.isNull() ? 0 : cell.toInt64();
    return std::make_unique<SqliteReader>(std::static_pointer_cast<SqliteSession>(shared_from_this()), column, row,
                                          size);
  }

  int64_t LargeObjectSize(const Variant&) override {
    throw DatabaseError("SQLite has no large objects.", "0A000", 0, kProduct);
  }

  void Close() override {
    if (db_) sqlite3_close_v2(db_);
    db_ = nullptr;
  }

  // The rowid of the row a key names.
  int64_t RowidOf(const RowKey& row) {
    Stmt stmt(db(), "SELECT rowid FROM " + QuoteIdent(row.schema) + "." + QuoteIdent(row.table) + " WHERE " +
                        KeyCondition(row));
    for (size_t i = 0; i < row.values.size(); ++i) Bind(db_, stmt.get(), static_cast<int>(i) + 1, Value{row.values[i], nullptr, {}});
    if (!stmt.Step()) throw DatabaseError("The row is no longer in table " + row.table + ".", "02000", 0, kProduct);
    return sqlite3_column_int64(stmt.get(), 0);
  }

  // Bytes of a value that is not a BLOB (text or a number kept in a BLOB column).
  size_t ReadConverted(const Column& c, const RowKey& row, int64_t offset, std::span<uint8_t> buffer) {
    Stmt stmt(db(), "SELECT substr(CAST(" + QuoteIdent(c.baseColumn) + " AS BLOB), ?, ?) FROM " + QuoteIdent(row.schema) +
                        "." + QuoteIdent(row.table) + " WHERE " + KeyCondition(row, 3));
    sqlite3_bind_int64(stmt.get(), 1, offset + 1);
    sqlite3_bind_int64(stmt.get(), 2, static_cast<int64_t>(buffer.size()));
    for (size_t i = 0; i < row.values.size(); ++i) Bind(db_, stmt.get(), static_cast<int>(i) + 3, Value{row.values[i], nullptr, {}});
    if (!stmt.Step()) throw DatabaseError("The row is no longer in table " + row.table + ".", "02000", 0, kProduct);
    size_t n = std::min(buffer.size(), static_cast<size_t>(sqlite3_column_bytes(stmt.get(), 0)));
    if (n) std::memcpy(buffer.data(), sqlite3_column_blob(stmt.get(), 0), n);
    return n;
  }

 private:
  // SAVEPOINT around one change; rolled back unless released.
  class Savepoint {
   public:
    explicit Savepoint(SqliteSession& s) : s_(s) { s_.Exec("SAVEPOINT tv_write"); }
    ~Savepoint() {
      if (done_) return;
      try {
        s_.Exec("ROLLBACK TO tv_write");
        s_.Exec("RELEASE tv_write");
      } catch (...) {
      }
    }
    void Release() {
      s_.Exec("RELEASE tv_write");
      done_ = true;
    }

   private:
    SqliteSession& s_;
    bool done_ = false;
  };

  void Exec(const std::string& sql) {
    char* message = nullptr;
    int rc = sqlite3_exec(db(), sql.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
      std::string text = message ? message : sqlite3_errstr(rc);
      sqlite3_free(message);
      throw DatabaseError(text, "", rc, kProduct);
    }
  }

  static bool OnlyBlanks(const char* at, const char* end) {
    for (; at < end; ++at)
      if (!std::isspace(static_cast<unsigned char>(*at)) && *at != ';') return false;
    return true;
  }

  static std::string KeyCondition(const RowKey& row, int firstMarker = 0) {
    std::string out;
    for (size_t i = 0; i < row.columns.size(); ++i) out += (i ? " AND " : "") + QuoteIdent(row.columns[i]) + " = ?";
    return out;
  }

  const TableInfo& Table(const std::string& schema, const std::string& table) {
    std::string id = Upper(schema) + "." + Upper(table);
    auto it = tables_.find(id);
    if (it != tables_.end()) return it->second;
    TableInfo info;
    std::vector<std::pair<int, std::string>> keys;
    {
      Stmt stmt(db(), "PRAGMA " + QuoteIdent(schema) + ".table_info(" + QuoteIdent(table) + ")");
      while (stmt.Step()) {
        int pk = sqlite3_column_int(stmt.get(), 5);
        if (pk > 0) keys.emplace_back(pk, reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 1)));
      }
    }
    std::sort(keys.begin(), keys.end());
    for (auto& k : keys) info.keys.push_back(k.second);
    sqlite3_stmt* probe = nullptr;
    std::string sql = "SELECT rowid FROM " + QuoteIdent(schema) + "." + QuoteIdent(table);
    info.rowid = sqlite3_prepare_v2(db_, sql.c_str(), -1, &probe, nullptr) == SQLITE_OK;
    sqlite3_finalize(probe);
    return tables_.emplace(id, std::move(info)).first->second;
  }

  std::vector<Column> Describe(sqlite3_stmt* s) {
    std::vector<Column> cols;
    int n = sqlite3_column_count(s);
    for (int i = 0; i < n; ++i) {
      Column c;
      const char* name = sqlite3_column_name(s, i);
      c.name = name ? name : "";
      const char* decl = sqlite3_column_decltype(s, i);
      const char* dbName = sqlite3_column_database_name(s, i);
      const char* table = sqlite3_column_table_name(s, i);
      const char* origin = sqlite3_column_origin_name(s, i);
      if (table && origin) {
        c.schema = dbName ? dbName : "main";
        c.table = table;
        c.baseColumn = origin;
      }
      if (decl) {
        c.type = TypeFromDeclared(decl, c.definedSize);
      } else {
        c.type = adEmpty;  // decided by the first row's value
        c.definedSize = kLongSize;
      }
      cols.push_back(std::move(c));
    }
    for (auto& c : cols) {
      if (c.table.empty()) continue;
      const TableInfo& info = Table(c.schema, c.table);
      c.key = std::any_of(info.keys.begin(), info.keys.end(), [&](const std::string& k) { return EqualsNoCase(k, c.baseColumn); });
    }
    return cols;
  }

  // Whether column i may be deferred: a BLOB column of a rowid table whose
  // primary key is in the result, with names the outer query can address.
  bool Deferrable(const std::vector<Column>& cols, size_t i) {
    const Column& c = cols[i];
    if (c.type != adLongVarBinary || c.table.empty()) return false;
    const TableInfo& info = Table(c.schema, c.table);
    if (!info.rowid || info.keys.empty()) return false;
    for (const auto& k : info.keys) {
      bool present = std::any_of(cols.begin(), cols.end(), [&](const Column& o) {
        return EqualsNoCase(o.table, c.table) && EqualsNoCase(o.schema, c.schema) && EqualsNoCase(o.baseColumn, k);
      });
      if (!present) return false;
    }
    std::set<std::string> names;
    for (const auto& o : cols)
      if (o.name.empty() || !names.insert(Upper(o.name)).second) return false;
    return true;
  }

  RowSet RunOne(Stmt& stmt, const std::vector<Value>& params) {
    RowSet result;
    sqlite3_stmt* s = stmt.get();
    if (sqlite3_column_count(s) == 0) {
      while (stmt.Step()) {
      }
      result.affected = sqlite3_changes64(db_);
      return result;
    }
    result.hasColumns = true;
    result.columns = Describe(s);
    bool anyDeferred = false;
    if (sqlite3_stmt_readonly(s)) {
      for (size_t i = 0; i < result.columns.size(); ++i)
        if (Deferrable(result.columns, i)) result.columns[i].deferred = anyDeferred = true;
    }
    if (!anyDeferred) {
      Collect(stmt, result);
      return result;
    }
    // The same query with each deferred column replaced by its size.
    std::string inner = sqlite3_sql(s);
    while (!inner.empty() && (std::isspace(static_cast<unsigned char>(inner.back())) || inner.back() == ';'))
      inner.pop_back();
    std::string list;
    for (size_t i = 0; i < result.columns.size(); ++i) {
      std::string q = QuoteIdent(result.columns[i].name);
      list += (i ? ", " : "") + (result.columns[i].deferred ? SizeExpr(q) : q);
    }
    Stmt outer(db_, "SELECT " + list + " FROM (" + inner + "\n)");
    if (!params.empty()) BindAll(db_, outer.get(), params);
    Collect(outer, result);
    return result;
  }

  static void Collect(Stmt& stmt, RowSet& result) {
    sqlite3_stmt* s = stmt.get();
    while (stmt.Step()) {
      std::vector<Variant> row;
      row.reserve(result.columns.size());
      for (size_t i = 0; i < result.columns.size(); ++i) {
        Column& c = result.columns[i];
        if (c.type == adEmpty) {
          switch (sqlite3_column_type(s, static_cast<int>(i))) {
            case SQLITE_INTEGER: c.type = adBigInt; c.definedSize = 8; break;
            case SQLITE_FLOAT: c.type = adDouble; c.definedSize = 8; break;
            case SQLITE_BLOB: c.type = adLongVarBinary; break;
            case SQLITE_TEXT: c.type = adLongVarWChar; break;
            default: break;
          }
        }
        row.push_back(Cell(s, static_cast<int>(i), c));
      }
      result.rows.push_back(std::move(row));
    }
    for (auto& c : result.columns)
      if (c.type == adEmpty) c.type = adLongVarWChar;
  }

  void FillBlob(const std::string& schema, const std::string& table, const std::string& column, int64_t rowid,
                const Spool& spool) {
    sqlite3_blob* blob = nullptr;
    int rc = sqlite3_blob_open(db(), schema.c_str(), table.c_str(), column.c_str(), rowid, 1, &blob);
    if (rc != SQLITE_OK) Fail(db_, rc);
    struct Closer {
      sqlite3_blob* b;
      ~Closer() { sqlite3_blob_close(b); }
    } closer{blob};
    Bytes piece(std::min<int64_t>(spool.Size(), static_cast<int64_t>(kPieceBytes)));
    for (int64_t at = 0; at < spool.Size();) {
      size_t n = spool.ReadAt(at, piece);
      if (n == 0) break;
      rc = sqlite3_blob_write(blob, piece.data(), static_cast<int>(n), static_cast<int>(at));
      if (rc != SQLITE_OK) Fail(db_, rc);
      at += static_cast<int64_t>(n);
    }
  }

  sqlite3* db_ = nullptr;
  std::map<std::string, TableInfo> tables_;
};

size_t SqliteReader::Read(int64_t offset, std::span<uint8_t> buffer) {
  if (offset >= size_ || buffer.empty()) return 0;
  size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(buffer.size()), size_ - offset));
  for (int attempt = 0; attempt < 2; ++attempt) {
    sqlite3* db = session_->db();
    if (!blob_) {
      int64_t rowid = session_->RowidOf(row_);
      int rc = sqlite3_blob_open(db, row_.schema.c_str(), row_.table.c_str(), column_.baseColumn.c_str(), rowid, 0, &blob_);
      if (rc != SQLITE_OK) {
        blob_ = nullptr;
        // Text or a number kept in a BLOB column: read through a conversion.
        if (rc == SQLITE_ERROR) return session_->ReadConverted(column_, row_, offset, buffer.first(n));
        Fail(db, rc);
      }
    }
    int rc = sqlite3_blob_read(blob_, buffer.data(), static_cast<int>(n), static_cast<int>(offset));
    if (rc == SQLITE_OK) return n;
    CloseBlob();
    // The row changed since the handle was opened: open it again once.
    if (rc != SQLITE_ABORT) Fail(db, rc);
  }
  throw DatabaseError("The value changed while it was read.", "40001", SQLITE_ABORT, kProduct);
}

}  // namespace

std::shared_ptr<Session> OpenSqlite(const std::string& target) {
  return std::make_shared<SqliteSession>(ToNativePath(target));
}

}  // namespace torvane::db
