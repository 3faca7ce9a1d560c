// The PostgreSQL back end: libpq, one connection per session.
//
// Binary fields are `bytea` columns and large objects (`oid` columns of user
// tables). Both stream:
//  - a bytea column of a query whose table's primary key is in the result is
//    deferred: the query runs as SELECT over the page's own query with the
//    column replaced by octet_length() (which PostgreSQL answers from the
//    value's header), and the bytes are read later with substring() by key;
//  - a large object is read with lo_get(oid, offset, n) and its size found
//    with lo_lseek64;
//  - a spooled value goes into a large object with lo_put, piece by piece; a
//    bytea column then takes lo_get(oid) of it on the server (and the
//    temporary large object is removed), so the bytes never sit whole here.
// Every write runs inside BEGIN/COMMIT, or a savepoint inside the page's own
// transaction, so a failure leaves nothing behind.
#include <libpq-fe.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>

#include "platform/database/database.h"

namespace torvane::db {
namespace {

constexpr const char* kProduct = "PostgreSQL";
// Type oids of the built-in types used here.
constexpr Oid kBool = 16, kBytea = 17, kName = 19, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kOid = 26,
              kFloat4 = 700, kFloat8 = 701, kBpchar = 1042, kVarchar = 1043, kDate = 1082, kTime = 1083,
              kTimestamp = 1114, kTimestampTz = 1184, kNumeric = 1700;
// Objects with smaller oids belong to the system catalogs.
constexpr Oid kFirstUserOid = 16384;

// A result, cleared on destruction.
class Result {
 public:
  explicit Result(PGresult* r = nullptr) : r_(r) {}
  ~Result() { PQclear(r_); }
  Result(Result&& o) noexcept : r_(o.r_) { o.r_ = nullptr; }
  Result& operator=(Result&& o) noexcept {
    std::swap(r_, o.r_);
    return *this;
  }
  PGresult* get() const { return r_; }

 private:
  PGresult* r_;
};

std::string Trimmed(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

[[noreturn]] void FailResult(PGconn* conn, PGresult* r) {
  const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
  const char* detail = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_DETAIL) : nullptr;
  const char* state = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
  std::string message = primary ? primary : Trimmed(PQerrorMessage(conn));
  if (detail && *detail) message += " (" + std::string(detail) + ")";
  throw DatabaseError(message, state ? state : "", 0, kProduct);
}

// Checks a result: fails with the server's message unless it is `ok`.
Result Check(PGconn* conn, PGresult* r) {
  Result res(r);
  ExecStatusType st = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK && st != PGRES_EMPTY_QUERY) FailResult(conn, r);
  return res;
}

// SQL text with each "?" outside literals, quoted names and comments turned
// into $1, $2, ...; `count` receives the number of markers.
std::string Numbered(const std::string& sql, int& count) {
  std::string out;
  count = 0;
  size_t i = 0, n = sql.size();
  while (i < n) {
    char c = sql[i];
    if (c == '\'' || c == '"') {
      // E'...' strings take backslash escapes.
      bool escapes = c == '\'' && i > 0 && (sql[i - 1] == 'E' || sql[i - 1] == 'e') &&
                     (i == 1 || !(std::isalnum(static_cast<unsigned char>(sql[i - 2])) || sql[i - 2] == '_'));
      size_t j = i + 1;
      while (j < n) {
        if (escapes && sql[j] == '\\') {
          j += 2;
        } else if (sql[j] == c && j + 1 < n && sql[j + 1] == c) {
          j += 2;  // a doubled quote
        } else if (sql[j] == c) {
          break;
        } else {
          ++j;
        }
      }
      out.append(sql, i, j + 1 - i);
      i = j + 1;
    } else if (c == '-' && i + 1 < n && sql[i + 1] == '-') {
      size_t j = sql.find('\n', i);
      j = j == std::string::npos ? n : j;
      out.append(sql, i, j - i);
      i = j;
    } else if (c == '/' && i + 1 < n && sql[i + 1] == '*') {
      size_t j = sql.find("*/", i + 2);
      j = j == std::string::npos ? n : j + 2;
      out.append(sql, i, j - i);
      i = j;
    } else if (c == '$' && (i == 0 || !(std::isalnum(static_cast<unsigned char>(sql[i - 1])) || sql[i - 1] == '_'))) {
      // A dollar-quoted string: $tag$ ... $tag$.
      size_t k = i + 1;
      while (k < n && (std::isalnum(static_cast<unsigned char>(sql[k])) || sql[k] == '_')) ++k;
      if (k < n && sql[k] == '$' && !(k > i + 1 && std::isdigit(static_cast<unsigned char>(sql[i + 1])))) {
        std::string tag = sql.substr(i, k + 1 - i);
        size_t end = sql.find(tag, k + 1);
        end = end == std::string::npos ? n : end + tag.size();
        out.append(sql, i, end - i);
        i = end;
      } else {
        out += c;
        ++i;
      }
    } else if (c == '?') {
      out += "$" + std::to_string(++count);
      ++i;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

// Parameter values as libpq takes them.
struct Params {
  std::vector<Oid> types;
  std::vector<std::string> texts;
  std::vector<Bytes> binaries;
  std::vector<const char*> values;
  std::vector<int> lengths, formats;

  void Add(const Value& value) {
    Variant v = value.spool ? Variant(value.spool->ReadAll()) : (value.v.isObject() ? value.v.resolved() : value.v);
    texts.emplace_back();
    binaries.emplace_back();
    Oid type = 0;
    int format = 0;
    bool null = false;
    std::string& t = texts.back();
    switch (v.type()) {
      case VType::Empty:
      case VType::Missing:
      case VType::Null: null = true; break;
      case VType::Bool: t = v.rawInt() ? "true" : "false"; break;
      case VType::I2:
      case VType::I4:
      case VType::I8: t = std::to_string(v.rawInt()); break;
      case VType::Double: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v.rawDouble());
        t = buf;
        break;
      }
      case VType::Date: t = DateToText(v.rawDouble()); break;
      case VType::String:
        t = v.str();
        // Text with a NUL character goes in binary form, so that the server
        // (which cannot store it) says so instead of the text being cut.
        if (t.find('\0') != std::string::npos) {
          type = kText;
          format = 1;
        }
        break;
      case VType::Bytes:
        binaries.back() = v.bytes();
        type = kBytea;
        format = 1;
        break;
      default: ThrowPlatform(err::TypeMismatch);
    }
    types.push_back(type);
    formats.push_back(format);
    lengths.push_back(format == 1 ? static_cast<int>(type == kBytea ? binaries.back().size() : t.size()) : 0);
    values.push_back(null ? nullptr : nullptr);
    nulls.push_back(null);
  }
  // Pointers are taken once every value is in place (the vectors stop moving).
  void Finish() {
    for (size_t i = 0; i < values.size(); ++i) {
      if (nulls[i]) continue;
      values[i] = types[i] == kBytea ? reinterpret_cast<const char*>(binaries[i].data()) : texts[i].c_str();
      if (types[i] == kBytea && binaries[i].empty()) values[i] = "";
    }
  }
  std::vector<bool> nulls;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

Bytes FromHexBytea(const char* s, size_t len) {
  Bytes out;
  if (len >= 2 && s[0] == '\\' && s[1] == 'x') {
    out.reserve((len - 2) / 2);
    for (size_t i = 2; i + 1 < len; i += 2) {
      int hi = HexDigit(s[i]), lo = HexDigit(s[i + 1]);
      if (hi < 0 || lo < 0) break;
      out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return out;
  }
  return Bytes(s, s + len);
}

double DateOf(const std::string& text, bool timeOnly) {
  // "2024-01-02 03:04:05.123+01", "2024-01-02", "03:04:05": fractions and
  // offsets are dropped (the text is in the session's time zone).
  std::string t = text;
  size_t dot = t.find('.');
  if (dot != std::string::npos) t.resize(dot);
  size_t cut = t.find_first_of("+Z", 11);
  if (cut != std::string::npos && cut > 10) t.resize(cut);
  if (!timeOnly && t.size() > 19 && t[19] == '-') t.resize(19);
  return DateFromText(t);
}

Variant FromText(const char* s, int len, Oid type, bool largeObject) {
  std::string text(s, static_cast<size_t>(len));
  switch (type) {
    case kBool: return Variant(text == "t");
    case kInt2:
    case kInt4:
    case kInt8:
      return Variant(static_cast<int64_t>(std::strtoll(text.c_str(), nullptr, 10)));
    case kOid: {
      int64_t n = static_cast<int64_t>(std::strtoull(text.c_str(), nullptr, 10));
      return largeObject ? Variant::I8(n) : Variant(n);
    }
    case kFloat4:
    case kFloat8:
    case kNumeric: return Variant(std::strtod(text.c_str(), nullptr));
    case kBytea: return Variant(FromHexBytea(s, static_cast<size_t>(len)));
    case kDate:
    case kTimestamp:
    case kTimestampTz:
    case kTime:
      try {
        return Variant::Date(DateOf(text, type == kTime));
      } catch (const Error&) {
        return Variant(std::move(text));
      }
    default: return Variant(std::move(text));
  }
}

int32_t AdoTypeOf(Oid type, int mod, bool largeObject, int64_t& size) {
  size = kLongSize;
  switch (type) {
    case kBool: size = 2; return adBoolean;
    case kInt2: size = 2; return adSmallInt;
    case kInt4: size = 4; return adInteger;
    case kInt8: size = 8; return adBigInt;
    case kOid: if (largeObject) return adLongVarBinary; size = 4; return adInteger;
    case kFloat4: size = 4; return adSingle;
    case kFloat8: size = 8; return adDouble;
    case kNumeric: size = 19; return adNumeric;
    case kBytea: return adLongVarBinary;
    case kDate: size = 16; return adDBDate;
    case kTime: size = 16; return adDBTime;
    case kTimestamp:
    case kTimestampTz: size = 16; return adDBTimeStamp;
    case kVarchar:
    case kBpchar:
      if (mod > 4) {
        size = mod - 4;
        return adVarWChar;
      }
      return adLongVarWChar;
    case kName: size = 63; return adVarWChar;
    case kText: return adLongVarWChar;
    default: return adVarWChar;
  }
}

struct TableInfo {
  std::string schema, table;
  std::map<int, std::string> columns;  // attnum -> name
  std::vector<std::string> keys;       // primary key columns
};

class PostgresSession;

class PgReader : public PieceReader {
 public:
  PgReader(std::shared_ptr<PostgresSession> s, const Column& c, const RowKey& row, const Variant& cell)
      : s_(std::move(s)), c_(c), row_(row), cell_(cell) {}
  int64_t Size() override;
  size_t Read(int64_t offset, std::span<uint8_t> buffer) override;

 private:
  std::shared_ptr<PostgresSession> s_;
  Column c_;
  RowKey row_;
  Variant cell_;
  int64_t size_ = -1;
};

class PostgresSession : public Session {
 public:
  explicit PostgresSession(const std::string& target) {
    conn_ = PQconnectdb(target.c_str());
    if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
      std::string message = conn_ ? Trimmed(PQerrorMessage(conn_)) : "out of memory";
      PQfinish(conn_);
      conn_ = nullptr;
      throw DatabaseError(message, "08001", 0, kProduct);
    }
    // Server notices (NOTICE, WARNING) are not the page's output.
    PQsetNoticeProcessor(conn_, [](void*, const char*) {}, nullptr);
    Exec("SET client_encoding = 'UTF8'; SET DateStyle = 'ISO, YMD'; SET bytea_output = 'hex'");
  }
  ~PostgresSession() override { Close(); }

  const char* Product() const override { return kProduct; }

  PGconn* conn() const {
    if (!conn_) throw DatabaseError("The database connection is closed.", "08003", 0, kProduct);
    return conn_;
  }

  // Inside a transaction a failed statement is undone alone and the
  // transaction goes on (as SQLite does), instead of PostgreSQL's aborted state.
  RowSet Run(const std::string& sql, const std::vector<Value>& values) override {
    if (!InTransaction() || TransactionControl(sql)) return RunOne(sql, values);
    Exec("SAVEPOINT tv_statement");
    try {
      RowSet rows = RunOne(sql, values);
      Exec("RELEASE SAVEPOINT tv_statement");
      return rows;
    } catch (const DatabaseError&) {
      try {
        Exec("ROLLBACK TO SAVEPOINT tv_statement; RELEASE SAVEPOINT tv_statement");
      } catch (...) {
      }
      throw;
    }
  }

  RowSet RunOne(const std::string& sql, const std::vector<Value>& values) {
    int count = 0;
    std::string numbered = Numbered(sql, count);
    if (count != static_cast<int>(values.size()))
      throw DatabaseError("The statement has " + std::to_string(count) + " parameter markers but " +
                              std::to_string(values.size()) + " values were given.",
                          "07001", 0, kProduct);
    Params p;
    for (const auto& v : values) p.Add(v);
    p.Finish();
    PGresult* prepared = PQprepare(conn(), "", numbered.c_str(), count, p.types.data());
    if (PQresultStatus(prepared) != PGRES_COMMAND_OK) {
      const char* state = PQresultErrorField(prepared, PG_DIAG_SQLSTATE);
      // Several statements cannot be prepared: without parameters they run as one text.
      if (count == 0 && state && std::strcmp(state, "42601") == 0 && Several(sql)) {
        PQclear(prepared);
        return Collect(Check(conn_, PQexec(conn_, sql.c_str())), {});
      }
      Result guard(prepared);
      FailResult(conn_, prepared);
    }
    PQclear(prepared);
    Result described = Check(conn_, PQdescribePrepared(conn_, ""));
    int n = PQnfields(described.get());
    size_t known = tables_.size();
    std::vector<Column> cols = Describe(described.get());
    // Looking tables up ran statements of its own, which replaced the unnamed one.
    if (tables_.size() != known)
      Check(conn_, PQprepare(conn_, "", numbered.c_str(), count, p.types.data()));
    bool deferred = std::any_of(cols.begin(), cols.end(), [](const Column& c) { return c.deferred; });
    if (n > 0 && deferred) {
      std::string aliases, list;
      for (int i = 0; i < n; ++i) {
        std::string a = "c" + std::to_string(i + 1);
        aliases += (i ? ", " : "") + a;
        list += (i ? ", " : "") + (cols[static_cast<size_t>(i)].deferred ? "octet_length(q." + a + ")" : "q." + a);
      }
      std::string outer = "SELECT " + list + " FROM (" + numbered + "\n) AS q(" + aliases + ")";
      return Collect(Check(conn_, PQexecParams(conn_, outer.c_str(), count, p.types.data(), p.values.data(),
                                               p.lengths.data(), p.formats.data(), 0)),
                     cols);
    }
    return Collect(Check(conn_, PQexecPrepared(conn_, "", count, p.values.data(), p.lengths.data(),
                                               p.formats.data(), 0)),
                   cols);
  }

  bool InTransaction() override { return PQtransactionStatus(conn()) != PQTRANS_IDLE; }

  std::vector<Variant> WriteRow(const std::string& schema, const std::string& table, const std::vector<Column>& targets,
                                const std::vector<Value>& values, const RowKey* where,
                                const std::vector<Column>& want) override {
    Atomic unit(*this);
    std::vector<Value> binds;
    std::vector<std::string> exprs;
    std::vector<int64_t> temporary, replaced;
    for (size_t i = 0; i < targets.size(); ++i) {
      const Value& v = values[i];
      if (v.spool) {
        int64_t oid = NewLargeObject(*v.spool);
        if (targets[i].largeObject) {
          binds.push_back(Value{Variant::I8(oid), nullptr, {}});
          exprs.push_back("$" + std::to_string(binds.size()) + "::oid");
        } else {
          temporary.push_back(oid);
          binds.push_back(Value{Variant::I8(oid), nullptr, {}});
          exprs.push_back("lo_get($" + std::to_string(binds.size()) + "::oid)");
        }
      } else {
        binds.push_back(v);
        exprs.push_back("$" + std::to_string(binds.size()));
      }
      if (targets[i].largeObject && !v.old.isNull() && !v.old.isEmpty()) replaced.push_back(v.old.toInt64());
    }
    std::string qtable = QuoteIdent(schema) + "." + QuoteIdent(table);
    std::string sql;
    if (!where) {
      if (targets.empty()) {
        sql = "INSERT INTO " + qtable + " DEFAULT VALUES";
      } else {
        std::string names, list;
        for (size_t i = 0; i < targets.size(); ++i) {
          names += (i ? ", " : "") + QuoteIdent(targets[i].baseColumn);
          list += (i ? ", " : "") + exprs[i];
        }
        sql = "INSERT INTO " + qtable + " (" + names + ") VALUES (" + list + ")";
      }
    } else {
      std::string sets;
      for (size_t i = 0; i < targets.size(); ++i) sets += (i ? ", " : "") + QuoteIdent(targets[i].baseColumn) + " = " + exprs[i];
      if (sets.empty()) sets = QuoteIdent(where->columns.at(0)) + " = " + QuoteIdent(where->columns.at(0));
      std::string cond;
      for (size_t k = 0; k < where->columns.size(); ++k) {
        binds.push_back(Value{where->values[k], nullptr, {}});
        cond += (k ? " AND " : "") + QuoteIdent(where->columns[k]) + " = $" + std::to_string(binds.size());
      }
      sql = "UPDATE " + qtable + " SET " + sets + " WHERE " + cond;
    }
    sql += " RETURNING ";
    std::vector<Column> typed;
    if (want.empty()) sql += "NULL";
    for (size_t i = 0; i < want.size(); ++i) {
      const Column& c = want[i];
      bool mine = c.table == table && c.schema == schema && !c.baseColumn.empty();
      std::string q = QuoteIdent(c.baseColumn);
      sql += (i ? ", " : "") + (!mine ? std::string("NULL") : c.deferred ? "octet_length(" + q + ")" : q);
    }
    Result r = Query(sql, binds, 0);
    if (PQntuples(r.get()) == 0)
      throw DatabaseError("The row to change is no longer in table " + table + ".", "02000", 0, kProduct);
    std::vector<Variant> row;
    for (size_t i = 0; i < want.size(); ++i) row.push_back(CellOf(r.get(), 0, static_cast<int>(i), want[i]));
    for (int64_t oid : temporary) Unlink(oid);
    for (int64_t oid : replaced) Unlink(oid);
    unit.Commit();
    return row;
  }

  void DeleteRow(const RowKey& row, const std::vector<Variant>& largeObjects) override {
    Atomic unit(*this);
    std::vector<Value> binds;
    std::string cond;
    for (size_t k = 0; k < row.columns.size(); ++k) {
      binds.push_back(Value{row.values[k], nullptr, {}});
      cond += (k ? " AND " : "") + QuoteIdent(row.columns[k]) + " = $" + std::to_string(binds.size());
    }
    Result r = Query("DELETE FROM " + QuoteIdent(row.schema) + "." + QuoteIdent(row.table) + " WHERE " + cond, binds, 0);
    if (std::strcmp(PQcmdTuples(r.get()), "0") == 0)
      throw DatabaseError("The row to delete is no longer in table " + row.table + ".", "02000", 0, kProduct);
    for (const auto& oid : largeObjects)
      if (!oid.isNull() && !oid.isEmpty()) Unlink(oid.toInt64());
    unit.Commit();
  }

  std::unique_ptr<PieceReader> OpenPieces(const Column& column, const RowKey& row, const Variant& cell) override {
    return std::make_unique<PgReader>(std::static_pointer_cast<PostgresSession>(shared_from_this()), column, row, cell);
  }

  int64_t LargeObjectSize(const Variant& oid) override {
    Result r = Query("WITH f AS (SELECT lo_open($1::oid, 262144) AS fd) SELECT lo_lseek64(fd, 0, 2), lo_close(fd) FROM f",
                     {Value{oid, nullptr, {}}}, 0);
    return std::strtoll(PQgetvalue(r.get(), 0, 0), nullptr, 10);
  }

  void Close() override {
    if (conn_) PQfinish(conn_);
    conn_ = nullptr;
  }

  // Runs one statement with $n parameters; `format` 1 asks for binary results.
  Result Query(const std::string& sql, const std::vector<Value>& values, int format) {
    Params p;
    for (const auto& v : values) p.Add(v);
    p.Finish();
    return Check(conn(), PQexecParams(conn_, sql.c_str(), static_cast<int>(values.size()), p.types.data(),
                                      p.values.data(), p.lengths.data(), p.formats.data(), format));
  }

 private:
  // BEGIN/COMMIT around one change, or a savepoint inside the page's transaction.
  class Atomic {
   public:
    explicit Atomic(PostgresSession& s) : s_(s), own_(!s.InTransaction()) { s_.Exec(own_ ? "BEGIN" : "SAVEPOINT tv_write"); }
    ~Atomic() {
      if (done_) return;
      try {
        s_.Exec(own_ ? "ROLLBACK" : "ROLLBACK TO SAVEPOINT tv_write; RELEASE SAVEPOINT tv_write");
      } catch (...) {
      }
    }
    void Commit() {
      s_.Exec(own_ ? "COMMIT" : "RELEASE SAVEPOINT tv_write");
      done_ = true;
    }

   private:
    PostgresSession& s_;
    bool own_;
    bool done_ = false;
  };

  void Exec(const char* sql) { Check(conn(), PQexec(conn_, sql)); }

  // BEGIN, COMMIT, ROLLBACK, SAVEPOINT and the like.
  static bool TransactionControl(const std::string& sql) {
    size_t i = sql.find_first_not_of(" \t\r\n(");
    if (i == std::string::npos) return false;
    size_t j = i;
    while (j < sql.size() && std::isalpha(static_cast<unsigned char>(sql[j]))) ++j;
    std::string word;
    for (size_t k = i; k < j; ++k) word += static_cast<char>(std::toupper(static_cast<unsigned char>(sql[k])));
    for (const char* w : {"BEGIN", "START", "COMMIT", "END", "ROLLBACK", "ABORT", "SAVEPOINT", "RELEASE", "PREPARE"})
      if (word == w) return true;
    return false;
  }

  static bool Several(const std::string& sql) {
    int markers = 0;
    std::string n = Numbered(sql, markers);
    size_t semi = n.find(';');
    if (semi == std::string::npos) return false;
    return n.find_first_not_of(" \t\r\n;", semi) != std::string::npos;
  }

  int64_t NewLargeObject(const Spool& spool) {
    Result r = Query("SELECT lo_create(0)", {}, 0);
    int64_t oid = std::strtoll(PQgetvalue(r.get(), 0, 0), nullptr, 10);
    Bytes piece(static_cast<size_t>(std::min<int64_t>(spool.Size(), static_cast<int64_t>(kPieceBytes))));
    for (int64_t at = 0; at < spool.Size();) {
      size_t got = spool.ReadAt(at, piece);
      if (got == 0) break;
      Bytes chunk(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));
      Query("SELECT lo_put($1::oid, $2::int8, $3)",
            {Value{Variant::I8(oid), nullptr, {}}, Value{Variant::I8(at), nullptr, {}}, Value{Variant(std::move(chunk)), nullptr, {}}},
            0);
      at += static_cast<int64_t>(got);
    }
    return oid;
  }

  void Unlink(int64_t oid) {
    Query("SELECT lo_unlink(oid) FROM pg_largeobject_metadata WHERE oid = $1::oid", {Value{Variant::I8(oid), nullptr, {}}},
          0);
  }

  const TableInfo& Table(Oid oid) {
    auto it = tables_.find(oid);
    if (it != tables_.end()) return it->second;
    TableInfo info;
    std::vector<Value> arg{Value{Variant::I8(oid), nullptr, {}}};
    Result names = Query("SELECT n.nspname, c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                         "WHERE c.oid = $1::oid",
                         arg, 0);
    if (PQntuples(names.get()) == 1) {
      info.schema = PQgetvalue(names.get(), 0, 0);
      info.table = PQgetvalue(names.get(), 0, 1);
    }
    Result cols = Query("SELECT attnum, attname FROM pg_attribute WHERE attrelid = $1::oid AND attnum > 0 AND NOT attisdropped",
                        arg, 0);
    for (int i = 0; i < PQntuples(cols.get()); ++i)
      info.columns[std::atoi(PQgetvalue(cols.get(), i, 0))] = PQgetvalue(cols.get(), i, 1);
    Result keys = Query("SELECT a.attname FROM pg_index i JOIN pg_attribute a ON a.attrelid = i.indrelid "
                        "AND a.attnum = ANY(i.indkey) WHERE i.indrelid = $1::oid AND i.indisprimary",
                        arg, 0);
    for (int i = 0; i < PQntuples(keys.get()); ++i) info.keys.push_back(PQgetvalue(keys.get(), i, 0));
    return tables_.emplace(oid, std::move(info)).first->second;
  }

  std::vector<Column> Describe(PGresult* d) {
    std::vector<Column> cols;
    std::vector<Oid> tableOf;
    int n = PQnfields(d);
    for (int i = 0; i < n; ++i) {
      Column c;
      c.name = PQfname(d, i);
      Oid t = PQftable(d, i);
      int attnum = PQftablecol(d, i);
      if (t != InvalidOid && attnum > 0) {
        const TableInfo& info = Table(t);
        auto col = info.columns.find(attnum);
        if (col != info.columns.end() && !info.table.empty()) {
          c.schema = info.schema;
          c.table = info.table;
          c.baseColumn = col->second;
          c.key = std::find(info.keys.begin(), info.keys.end(), c.baseColumn) != info.keys.end();
        }
      }
      Oid type = PQftype(d, i);
      c.largeObject = type == kOid && t >= kFirstUserOid && !c.table.empty();
      c.type = AdoTypeOf(type, PQfmod(d, i), c.largeObject, c.definedSize);
      cols.push_back(std::move(c));
      tableOf.push_back(t);
    }
    // A bytea column is read in pieces when its table's key is in the result.
    for (int i = 0; i < n; ++i) {
      Column& c = cols[static_cast<size_t>(i)];
      if (PQftype(d, i) != kBytea || c.table.empty()) continue;
      const TableInfo& info = Table(tableOf[static_cast<size_t>(i)]);
      bool keyed = !info.keys.empty();
      for (const auto& k : info.keys)
        keyed = keyed && std::any_of(cols.begin(), cols.end(), [&](const Column& o) {
                  return o.table == c.table && o.schema == c.schema && o.baseColumn == k;
                });
      c.deferred = keyed;
    }
    return cols;
  }

  static Variant CellOf(PGresult* r, int row, int col, const Column& c) {
    if (PQgetisnull(r, row, col)) return Variant::Null();
    const char* s = PQgetvalue(r, row, col);
    int len = PQgetlength(r, row, col);
    if (c.deferred) return Variant::I8(std::strtoll(s, nullptr, 10));
    Oid type = PQftype(r, col);
    return FromText(s, len, type, c.largeObject);
  }

  RowSet Collect(Result r, std::vector<Column> cols) {
    RowSet out;
    PGresult* res = r.get();
    if (PQresultStatus(res) != PGRES_TUPLES_OK) {
      const char* t = PQcmdTuples(res);
      out.affected = t && *t ? std::strtoll(t, nullptr, 10) : 0;
      return out;
    }
    out.hasColumns = true;
    if (cols.empty()) {
      // Values of a text run arrive whole.
      cols = Describe(res);
      for (auto& c : cols) c.deferred = false;
    }
    out.columns = std::move(cols);
    int rows = PQntuples(res), n = PQnfields(res);
    out.rows.reserve(static_cast<size_t>(rows));
    for (int i = 0; i < rows; ++i) {
      std::vector<Variant> row;
      row.reserve(static_cast<size_t>(n));
      for (int j = 0; j < n; ++j) row.push_back(CellOf(res, i, j, out.columns[static_cast<size_t>(j)]));
      out.rows.push_back(std::move(row));
    }
    return out;
  }

  PGconn* conn_ = nullptr;
  std::map<Oid, TableInfo> tables_;
};

int64_t PgReader::Size() {
  if (size_ >= 0) return size_;
  if (cell_.isNull() || cell_.isEmpty()) return size_ = 0;
  size_ = c_.largeObject ? s_->LargeObjectSize(cell_) : cell_.toInt64();
  return size_;
}

size_t PgReader::Read(int64_t offset, std::span<uint8_t> buffer) {
  int64_t size = Size();
  if (offset >= size || buffer.empty()) return 0;
  int64_t n = std::min<int64_t>(static_cast<int64_t>(buffer.size()), size - offset);
  Result r;
  if (c_.largeObject) {
    r = s_->Query("SELECT lo_get($1::oid, $2::int8, $3::int4)",
                  {Value{cell_, nullptr, {}}, Value{Variant::I8(offset), nullptr, {}}, Value{Variant::I8(n), nullptr, {}}}, 1);
  } else {
    std::vector<Value> binds{Value{Variant::I8(offset + 1), nullptr, {}}, Value{Variant::I8(n), nullptr, {}}};
    std::string cond;
    for (size_t k = 0; k < row_.columns.size(); ++k) {
      binds.push_back(Value{row_.values[k], nullptr, {}});
      cond += (k ? " AND " : "") + QuoteIdent(row_.columns[k]) + " = $" + std::to_string(binds.size());
    }
    r = s_->Query("SELECT substring(" + QuoteIdent(c_.baseColumn) + " FROM $1::int4 FOR $2::int4) FROM " +
                      QuoteIdent(row_.schema) + "." + QuoteIdent(row_.table) + " WHERE " + cond,
                  binds, 1);
  }
  if (PQntuples(r.get()) == 0 || PQgetisnull(r.get(), 0, 0))
    throw DatabaseError("The row is no longer in table " + row_.table + ".", "02000", 0, kProduct);
  size_t got = std::min(buffer.size(), static_cast<size_t>(PQgetlength(r.get(), 0, 0)));
  std::memcpy(buffer.data(), PQgetvalue(r.get(), 0, 0), got);
  return got;
}

}  // namespace

std::shared_ptr<Session> OpenPostgres(const std::string& target) { return std::make_shared<PostgresSession>(target); }

}  // namespace torvane::db
