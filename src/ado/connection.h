// ADODB.Connection: one open database session, chosen by the connection string.
//
// Connection strings:
//   sqlite:PATH                   a SQLite database file; PATH is virtual or
//                                 physical like a File's Name (path policy
//                                 applies); the file is created when missing
//   postgresql://...              a libpq connection URI (postgres:// too)
//   Provider=SQLite;Data Source=PATH
//   Provider=PostgreSQL;Data Source=HOST;Port=N;Initial Catalog=DB;User ID=U;Password=P
//                                 (Database, Server, Host, UID, PWD are accepted
//                                 as the usual synonyms; Data Source may also be
//                                 a postgresql:// URI)
// Open's UserID and Password arguments, when given, are passed to PostgreSQL.
//
// Transactions: BeginTrans returns the new level (1 for the outermost);
// deeper levels are savepoints. CommitTrans and RollbackTrans without an open
// level fail with 9057. Close (and the object's end) rolls back what is open.
// Every database failure is error 9050 with the database's message, and the
// Errors collection then holds it with the product, SQLSTATE and native code.
#pragma once

#include <memory>
#include <string>

#include "ado/ado_errors.h"
#include "automation/object.h"
#include "platform/database/database.h"

namespace torvane::ado {

// Which back end a connection string names and what it hands that back end.
struct ConnectionTarget {
  std::string scheme;  // "sqlite", "postgresql"
  std::string target;  // SQLite: the path as the page wrote it; PostgreSQL: a libpq string
};
// Parses a connection string; 9051 when it names no back end.
ConnectionTarget ParseConnectionString(const std::string& text, const Variant& user, const Variant& password);

class Connection : public Object {
 public:
  // Members, slot order: ConnectionString let/get, Open, Close, Execute,
  // BeginTrans, CommitTrans, RollbackTrans, State, Errors, CursorLocation
  // let/get, CommandTimeout let/get, ConnectionTimeout let/get, Provider.
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  static ObjectRef Create();
  ~Connection() override;

  void Open(const Variant& connectionString, const Variant& user, const Variant& password);
  void Close();
  // Runs SQL text; `params` (an array) binds its "?" markers in order.
  // Returns a Recordset: open over the rows of a row-returning statement,
  // closed otherwise.
  ObjectRef Execute(const std::string& sql, const Variant& params);
  int32_t BeginTrans();
  void CommitTrans();
  void RollbackTrans();
  bool IsOpen() const { return session_ != nullptr; }

  // The open session, or 9058 naming the class that needs it.
  db::Session& Session(std::string_view className);
  std::shared_ptr<db::Session> SharedSession(std::string_view className);
  // The automation error for a database failure: 9050 with its message, also
  // recorded in Errors. `className` is the raising class.
  Error Failed(const db::DatabaseError& e, std::string_view className);

  // Runs fn(session) with database failures turned into 9050.
  template <class Fn>
  auto Call(std::string_view className, Fn&& fn) -> decltype(fn(std::declval<db::Session&>())) {
    db::Session& s = Session(className);
    try {
      return fn(s);
    } catch (const db::DatabaseError& e) {
      throw Failed(e, className);
    }
  }

  int32_t cursorLocation = 2;  // adUseServer
  int32_t commandTimeout = 30;
  int32_t connectionTimeout = 15;

 private:
  std::string connectionString_;
  std::shared_ptr<db::Session> session_;
  std::string product_;
  int32_t level_ = 0;
  std::shared_ptr<ErrorList> errors_ = std::make_shared<ErrorList>();
};

// The values of a parameter array (Missing, Null and Empty: none).
std::vector<db::Value> ParamValues(const Variant& params);

}  // namespace torvane::ado
