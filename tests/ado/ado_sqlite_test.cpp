// The data-access objects over SQLite, driven late-bound as a page drives them
// (the page-level cases on both back ends are in tests/e2e/test_ado.sh): the
// connection strings, the spool, long values written and read in pieces, and
// the atomicity of a refused Update.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ado/connection.h"
#include "ado/recordset.h"
#include "automation/progid.h"
#include "platform/database/database.h"
#include "platform/paths.h"
#include "support/memhost.h"
#include "support/thrown_error.h"

namespace torvane::ado {
namespace {

using ::testing::HasSubstr;

using test::MemHost;
using test::TempDir;
using test::ThrownError;

Variant Call(const ObjectRef& o, std::string_view name, Args args = {}) {
  return o->Invoke(name, CallKind::Method, args);
}
Variant Get(const ObjectRef& o, std::string_view name, Args args = {}) {
  return o->Invoke(name, CallKind::Get, args);
}
void Let(const ObjectRef& o, std::string_view name, Variant v) {
  Args a{std::move(v)};
  o->Invoke(name, CallKind::Let, a);
}
ObjectRef FieldOf(const ObjectRef& rs, std::string_view name) { return Get(rs, "Fields", {Variant(name)}).toObject(); }

Bytes Pattern(size_t n, int seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * 31 + static_cast<size_t>(seed) + i / 7919) & 0xFF);
  return b;
}

TEST(AdoConnectionString, NamesTheBackEndAndItsTarget) {
  struct Case {
    const char* text;
    const char* scheme;
    const char* target;
  } cases[] = {
      {"sqlite:data/app.db", "sqlite", "data/app.db"},
      {"  SQLITE:C:\\srv\\app.db ", "sqlite", "C:\\srv\\app.db"},
      {"postgresql://u@127.0.0.1:5432/db", "postgresql", "postgresql://u@127.0.0.1:5432/db"},
      {"postgres://h/db", "postgresql", "postgres://h/db"},
      {"Provider=SQLite;Data Source=/app.db", "sqlite", "/app.db"},
      {"provider=sqlite3; data source=\"a;b.db\"", "sqlite", "a;b.db"},
      {"Provider=PostgreSQL;Data Source=db.local;Port=6432;Initial Catalog=shop;User ID=web;Password=it's",
       "postgresql", "host='db.local' port='6432' dbname='shop' user='web' password='it\\'s' "},
      {"Provider=PostgreSQL;Data Source=postgresql://h/x;UID=u", "postgresql", "postgresql://h/x?user=u"},
      {"Provider=PostgreSQL;Data Source=postgresql://h/x?sslmode=disable;UID=u;PWD=p w&", "postgresql",
       "postgresql://h/x?sslmode=disable&user=u&password=p%20w%26"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ConnectionTarget t = ParseConnectionString(c.text, Variant::Missing(), Variant::Missing());
    EXPECT_EQ(t.scheme, c.scheme);
    EXPECT_EQ(t.target, c.target);
  }
  ConnectionTarget withUser = ParseConnectionString("postgresql://h/db", Variant("web"), Variant("pw"));
  EXPECT_EQ(withUser.target, "postgresql://h/db?user=web&password=pw");
  for (const char* bad : {"", "Driver={SQL Server};Server=x", "Provider=SQLOLEDB;Data Source=x", "mysql://h/db",
                          "Provider=SQLite"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(ThrownError([&] { ParseConnectionString(bad, Variant::Missing(), Variant::Missing()); }).number, 9051);
  }
}

TEST(AdoSpool, KeepsBytesOutsideMemoryAndReadsThemAnywhere) {
  db::Spool spool;
  Bytes a = Pattern(70000, 1), b = Pattern(5, 2);
  spool.Append(a);
  spool.Append(b);
  spool.Append(Bytes{});
  EXPECT_EQ(spool.Size(), 70005);
  Bytes part(10);
  EXPECT_EQ(spool.ReadAt(69998, part), 7u);
  EXPECT_EQ(Bytes(part.begin(), part.begin() + 2), Bytes(a.end() - 2, a.end()));
  EXPECT_EQ(Bytes(part.begin() + 2, part.begin() + 7), b);
  EXPECT_EQ(spool.ReadAt(70005, part), 0u);
  Bytes all = spool.ReadAll();
  ASSERT_EQ(all.size(), 70005u);
  EXPECT_TRUE(std::equal(a.begin(), a.end(), all.begin()));
}

struct AdoSqlite : ::testing::Test {
  TempDir dir;
  MemHost host{dir.path()};
  MemHost::Scope scope{host};
  ObjectRef conn;

  AdoSqlite() {
    conn = CreateObject("ADODB.Connection");
    Call(conn, "Open", {Variant("sqlite:" + ToDosPath(dir / "t.db"))});
    Call(conn, "Execute", {Variant("CREATE TABLE docs (id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, data BLOB)")});
  }
  ObjectRef Open(const std::string& sql, int lock = 3) {
    ObjectRef rs = CreateObject("ADODB.Recordset");
    Call(rs, "Open", {Variant(sql), Variant(conn), Variant(1), Variant(lock)});
    return rs;
  }
  // Appends `value` to the field in pieces of `piece` bytes, as File.Import does.
  static void AppendInPieces(const ObjectRef& field, const Bytes& value, size_t piece) {
    for (size_t at = 0; at < value.size(); at += piece) {
      size_t n = std::min(piece, value.size() - at);
      Call(field, "AppendChunk", {Variant(Bytes(value.begin() + static_cast<std::ptrdiff_t>(at),
                                                value.begin() + static_cast<std::ptrdiff_t>(at + n)))});
    }
  }
  // Reads the field back with GetChunk(piece) until null.
  static Bytes ReadInPieces(const ObjectRef& field, int64_t piece, int* calls = nullptr) {
    Bytes out;
    for (int n = 1;; ++n) {
      Variant chunk = Call(field, "GetChunk", {Variant(piece)});
      if (chunk.isNull()) break;
      if (calls) *calls = n;
      out.insert(out.end(), chunk.bytes().begin(), chunk.bytes().end());
    }
    return out;
  }
};

TEST_F(AdoSqlite, ALongValueGoesInAndComesOutInPieces) {
  Bytes value = Pattern(2 * 1024 * 1024 + 12345, 3);
  ObjectRef rs = Open("SELECT * FROM docs");
  Call(rs, "AddNew");
  Let(FieldOf(rs, "name"), "Value", Variant("big"));
  AppendInPieces(FieldOf(rs, "data"), value, 30000);
  Call(rs, "Update");
  EXPECT_EQ(Get(FieldOf(rs, "id"), "Value").toInt64(), 1);
  EXPECT_EQ(Get(FieldOf(rs, "data"), "ActualSize").toInt64(), static_cast<int64_t>(value.size()));
  Call(rs, "Close");

  ObjectRef again = Open("SELECT id, name, data FROM docs WHERE name = 'big'", 1);
  auto typed = std::static_pointer_cast<Recordset>(again);
  EXPECT_TRUE(typed->ColumnAt(2).deferred) << "the BLOB is not read with its row";
  int calls = 0;
  Bytes back = ReadInPieces(FieldOf(again, "data"), 300000, &calls);
  EXPECT_EQ(calls, 8);  // seven of 300000 bytes and the rest
  EXPECT_TRUE(back == value);
  // The walk is over: the next one starts at the first byte again.
  EXPECT_TRUE(ReadInPieces(FieldOf(again, "data"), 1 << 20) == value);
  EXPECT_TRUE(Get(FieldOf(again, "data"), "Value").bytes() == value);
}

TEST_F(AdoSqlite, QueriesThatCannotBeDeferredStillGiveTheirValues) {
  Call(conn, "Execute", {Variant("INSERT INTO docs (name, data) VALUES (?, ?)"), Variant(VArray{0, {Variant("a"), Variant(Bytes{1, 2, 3})}})});
  // Without the key, and with a name twice: the values come whole with the row.
  for (const char* sql : {"SELECT name, data FROM docs", "SELECT data, data FROM docs", "SELECT CAST(data AS BLOB) AS d FROM docs"}) {
    SCOPED_TRACE(sql);
    ObjectRef rs = Open(sql, 1);
    auto typed = std::static_pointer_cast<Recordset>(rs);
    EXPECT_FALSE(typed->ColumnAt(typed->ColumnCount() - 1).deferred);
    Bytes v = Get(typed->FieldsObject(), "Item", {Variant(static_cast<int32_t>(typed->ColumnCount() - 1))})
                  .toObject()
                  ->Get("Value")
                  .bytes();
    EXPECT_EQ(Bytes(v.begin(), v.begin() + 3), (Bytes{1, 2, 3}));
  }
}

TEST_F(AdoSqlite, ARefusedUpdateChangesNothingAndKeepsTheEdit) {
  Call(conn, "Execute", {Variant("INSERT INTO docs (name) VALUES ('taken')")});
  ObjectRef rs = Open("SELECT * FROM docs");
  Call(rs, "AddNew");
  Let(FieldOf(rs, "name"), "Value", Variant("taken"));
  AppendInPieces(FieldOf(rs, "data"), Pattern(500000, 4), 65536);
  Error e = ThrownError([&] { Call(rs, "Update"); });
  EXPECT_EQ(e.number, 9050);
  EXPECT_THAT(e.description, HasSubstr("UNIQUE constraint failed"));
  EXPECT_EQ(e.source, "ADODB.Recordset");
  ObjectRef count = Call(conn, "Execute", {Variant("SELECT COUNT(*), COUNT(data) FROM docs")}).toObject();
  EXPECT_EQ(Get(count, "Fields", {Variant(0)}).toObject()->Get("Value").toInt64(), 1);
  EXPECT_EQ(Get(count, "Fields", {Variant(1)}).toObject()->Get("Value").toInt64(), 0);
  EXPECT_EQ(Get(rs, "EditMode").toInt32(), 2);
  Let(FieldOf(rs, "name"), "Value", Variant("free"));
  Call(rs, "Update");
  EXPECT_EQ(Get(FieldOf(rs, "data"), "ActualSize").toInt64(), 500000);
}

TEST_F(AdoSqlite, ChangingAnExistingRowNeedsItsKey) {
  Call(conn, "Execute", {Variant("INSERT INTO docs (name) VALUES ('a')")});
  ObjectRef rs = Open("SELECT name FROM docs");
  Let(FieldOf(rs, "name"), "Value", Variant("b"));
  EXPECT_EQ(ThrownError([&] { Call(rs, "Update"); }).number, 9056);
  ObjectRef ro = Open("SELECT * FROM docs", 1);
  EXPECT_EQ(ThrownError([&] { Call(ro, "Delete"); }).number, 9059);
  ObjectRef keyed = Open("SELECT * FROM docs");
  ObjectRef other = Open("SELECT * FROM docs");
  Call(keyed, "Delete");
  ObjectRef left = Call(conn, "Execute", {Variant("SELECT COUNT(*) FROM docs")}).toObject();
  EXPECT_EQ(Get(left, "Fields", {Variant(0)}).toObject()->Get("Value").toInt64(), 0);
  // The row is gone from under the other recordset: its Update says so.
  Let(FieldOf(other, "name"), "Value", Variant("c"));
  Error e = ThrownError([&] { Call(other, "Update"); });
  EXPECT_EQ(e.number, 9050);
  EXPECT_THAT(e.description, HasSubstr("no longer in table docs"));
}

TEST_F(AdoSqlite, ClosingTheConnectionEndsPieceReads) {
  Call(conn, "Execute", {Variant("INSERT INTO docs (name, data) VALUES ('x', ?)"), Variant(VArray{0, {Variant(Pattern(10, 5))}})});
  ObjectRef rs = Open("SELECT * FROM docs", 1);
  Call(conn, "Close");
  Error e = ThrownError([&] { Call(FieldOf(rs, "data"), "GetChunk", {Variant(4)}); });
  EXPECT_EQ(e.number, 9058);
}

}  // namespace
}  // namespace torvane::ado
