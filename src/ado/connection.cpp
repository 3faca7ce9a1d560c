#include "ado/connection.h"

#include <cctype>

#include "automation/member_binding.h"
#include "ado/recordset.h"
#include "host/policy.h"
#include "host/script_context.h"

namespace torvane::ado {

namespace {

constexpr const char* kClass = "Connection";

std::string Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

bool StartsNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// "a=1;b=2" -> folded key -> value (a value may be quoted with " or ').
std::vector<std::pair<std::string, std::string>> Pairs(const std::string& text) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t i = 0;
  while (i < text.size()) {
    size_t eq = text.find('=', i);
    if (eq == std::string::npos) break;
    std::string key = FoldCase(Trim(std::string_view(text).substr(i, eq - i)));
    size_t v = eq + 1;
    while (v < text.size() && text[v] == ' ') ++v;
    std::string value;
    if (v < text.size() && (text[v] == '"' || text[v] == '\'')) {
      char q = text[v];
      size_t end = text.find(q, v + 1);
      if (end == std::string::npos) end = text.size();
      value = text.substr(v + 1, end - v - 1);
      i = text.find(';', end);
    } else {
      size_t end = text.find(';', v);
      value = Trim(std::string_view(text).substr(v, (end == std::string::npos ? text.size() : end) - v));
      i = end;
    }
    out.emplace_back(key, value);
    if (i == std::string::npos) break;
    ++i;
  }
  return out;
}

// A libpq keyword/value item with its value quoted.
std::string PgItem(const char* key, const std::string& value) {
  std::string out = std::string(key) + "='";
  for (char c : value) {
    if (c == '\'' || c == '\\') out += '\\';
    out += c;
  }
  return out + "' ";
}

bool Given(const Variant& v) { return !v.isMissing() && !v.isNull() && !v.isEmpty(); }

// A libpq URI with more keyword parameters in its query part (percent-encoded).
std::string WithUriParams(std::string uri, const std::vector<std::pair<const char*, std::string>>& params) {
  static const char* hex = "0123456789ABCDEF";
  for (const auto& [key, value] : params) {
    if (value.empty() && std::string(key) != "password") continue;
    uri += uri.find('?') == std::string::npos ? '?' : '&';
    uri += key;
    uri += '=';
    for (unsigned char c : value) {
      if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
        uri += static_cast<char>(c);
      } else {
        uri += '%';
        uri += hex[c >> 4];
        uri += hex[c & 15];
      }
    }
  }
  return uri;
}

}  // namespace

ConnectionTarget ParseConnectionString(const std::string& raw, const Variant& user, const Variant& password) {
  std::string text = Trim(raw);
  std::string openUser = Given(user) ? user.toString() : "";
  std::string openPassword = Given(password) ? password.toString() : "";
  std::string pgExtra;
  if (!openUser.empty()) pgExtra += PgItem("user", openUser);
  if (Given(password)) pgExtra += PgItem("password", openPassword);
  auto uriExtra = [&](std::vector<std::pair<const char*, std::string>> more) {
    if (!openUser.empty()) more.emplace_back("user", openUser);
    if (Given(password)) more.emplace_back("password", openPassword);
    return more;
  };
  if (StartsNoCase(text, "sqlite:")) return {"sqlite", Trim(std::string_view(text).substr(7))};
  if (StartsNoCase(text, "postgresql://") || StartsNoCase(text, "postgres://"))
    return {"postgresql", WithUriParams(text, uriExtra({}))};
  std::string provider, source, host, port, database, uid, pwd;
  for (auto& [key, value] : Pairs(text)) {
    if (key == "provider") provider = value;
    else if (key == "data source") source = value;
    else if (key == "server" || key == "host") host = value;
    else if (key == "port") port = value;
    else if (key == "initial catalog" || key == "database") database = value;
    else if (key == "user id" || key == "uid" || key == "user") uid = value;
    else if (key == "password" || key == "pwd") pwd = value;
  }
  std::string p = FoldCase(provider);
  if (p.rfind("sqlite", 0) == 0 && !source.empty()) return {"sqlite", source};
  if (p.rfind("postgres", 0) == 0 || p.rfind("pgsql", 0) == 0) {
    if (StartsNoCase(source, "postgresql://") || StartsNoCase(source, "postgres://")) {
      std::vector<std::pair<const char*, std::string>> more{
          {"host", host}, {"port", port}, {"dbname", database}, {"user", uid}};
      if (!pwd.empty()) more.emplace_back("password", pwd);
      return {"postgresql", WithUriParams(source, uriExtra(std::move(more)))};
    }
    std::string conn;
    if (!source.empty()) host = host.empty() ? source : host;
    if (!host.empty()) conn += PgItem("host", host);
    if (!port.empty()) conn += PgItem("port", port);
    if (!database.empty()) conn += PgItem("dbname", database);
    if (!uid.empty()) conn += PgItem("user", uid);
    if (!pwd.empty()) conn += PgItem("password", pwd);
    return {"postgresql", conn + pgExtra};
  }
  throw AdoError(kBadConnectionString,
                 "The connection string names no database Torvane can open: \"" + raw +
                     "\". Use sqlite:PATH, postgresql://... or Provider=SQLite;Data Source=PATH.",
                 kClass);
}

std::vector<db::Value> ParamValues(const Variant& params) {
  std::vector<db::Value> out;
  if (params.type() != VType::Array) return out;
  for (const auto& v : params.array().items) out.push_back(db::Value{v, nullptr, {}});
  return out;
}

// ---- the class -------------------------------------------------------------------

const ClassInfo& Connection::Class() {
  using C = Connection;
  static const ClassInfo info = ClassInfo::Make<C>(
      "Connection",
      {
          {"ConnectionString", MemberKind::Let, {{"value"}},
           [](C& c, Args& a) {
             if (c.IsOpen()) throw AdoError(kOpen, kClass);
             c.connectionString_ = a[0].toString();
             return Variant();
           },
           "Sets which database to open (sqlite or PostgreSQL connection text)"},
          {"ConnectionString", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.connectionString_); },
           kDispIdDefault,
           "The connection text", "String"},
          {"Open", MemberKind::Method, {{"ConnectionString", true}, {"UserID", true}, {"Password", true}, {"Options", true}},
           [](C& c, Args& a) {
             c.Open(a[0], a[1], a[2]);
             return Variant();
           },
           "Opens the database"},
          {"Close", MemberKind::Method, {}, Action(&C::Close),
           "Closes the database"},
          {"Execute", MemberKind::Method, {{"CommandText"}, {"Parameters", true}, {"Options", true}},
           [](C& c, Args& a) { return Variant(c.Execute(a[0].toString(), a[1])); },
           "Runs a statement; returns its rows for a query", "Recordset"},
          {"BeginTrans", MemberKind::Method, {}, [](C& c, Args&) { return Variant(c.BeginTrans()); },
           "Starts a transaction", "Long"},
          {"CommitTrans", MemberKind::Method, {}, Action(&C::CommitTrans),
           "Commits the transaction"},
          {"RollbackTrans", MemberKind::Method, {}, Action(&C::RollbackTrans),
           "Rolls the transaction back"},
          {"State", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.IsOpen() ? 1 : 0); },
           "Whether the connection is open (ObjectStateEnum)", "Long"},
          {"Errors", MemberKind::Get, {}, [](C& c, Args&) { return Variant(ObjectRef(c.errors_)); },
           "The errors of the last failed operation", "Errors"},
          {"CursorLocation", MemberKind::Let, {{"value"}},
           [](C& c, Args& a) { c.cursorLocation = a[0].toInt32(); return Variant(); },
           "Sets where cursors are kept (CursorLocationEnum)"},
          {"CursorLocation", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.cursorLocation); },
           "Where cursors are kept (CursorLocationEnum)", "Long"},
          {"CommandTimeout", MemberKind::Let, {{"value"}},
           [](C& c, Args& a) { c.commandTimeout = a[0].toInt32(); return Variant(); },
           "Sets how long a statement may run, in seconds"},
          {"CommandTimeout", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.commandTimeout); },
           "How long a statement may run, in seconds", "Long"},
          {"ConnectionTimeout", MemberKind::Let, {{"value"}},
           [](C& c, Args& a) { c.connectionTimeout = a[0].toInt32(); return Variant(); },
           "Sets how long opening may take, in seconds"},
          {"ConnectionTimeout", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.connectionTimeout); },
           "How long opening may take, in seconds", "Long"},
          {"Provider", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.product_); },
           "The database product in use", "String"},
      });
  return info;
}

ObjectRef Connection::Create() {
  auto c = std::make_shared<Connection>();
  try {
    // A virtual database path maps through the page's Server.MapPath.
    AttachScriptContext();
  } catch (const Error&) {
    // Outside a page: physical paths and PostgreSQL still work.
  }
  return c;
}

Connection::~Connection() {
  try {
    Close();
  } catch (...) {
  }
}

void Connection::Open(const Variant& connectionString, const Variant& user, const Variant& password) {
  if (IsOpen()) throw AdoError(kOpen, kClass);
  if (Given(connectionString)) connectionString_ = connectionString.toString();
  ConnectionTarget t = ParseConnectionString(connectionString_, user, password);
  const db::Module* module = db::ModuleFor(t.scheme);
  if (!module) throw AdoError(kBadConnectionString, "No back end for " + t.scheme + ".", kClass);
  // A SQLite file is named like a File's Name: virtual, or physical where the policy allows.
  std::string target = t.scheme == "sqlite" ? ResolvePath(t.target, false) : t.target;
  try {
    session_ = module->open(target);
  } catch (const db::DatabaseError& e) {
    throw Failed(e, kClass);
  }
  product_ = module->product;
  level_ = 0;
}

void Connection::Close() {
  if (!session_) return;
  std::shared_ptr<db::Session> s = std::move(session_);
  session_ = nullptr;
  level_ = 0;
  // Whatever a page left open is undone, never half kept.
  try {
    if (s->InTransaction()) s->Run("ROLLBACK", {});
  } catch (...) {
  }
  s->Close();
}

db::Session& Connection::Session(std::string_view className) {
  if (!session_) throw AdoError(kNoConnection, className);
  return *session_;
}

std::shared_ptr<db::Session> Connection::SharedSession(std::string_view className) {
  if (!session_) throw AdoError(kNoConnection, className);
  return session_;
}

Error Connection::Failed(const db::DatabaseError& e, std::string_view className) {
  errors_->Set(kDatabaseError, e);
  return AdoError(kDatabaseError, e.message, className);
}

ObjectRef Connection::Execute(const std::string& sql, const Variant& params) {
  if (!IsOpen()) throw AdoError(kClosed, kClass);
  std::vector<db::Value> values = ParamValues(params);
  db::RowSet rows = Call(kClass, [&](db::Session& s) { return s.Run(sql, values); });
  auto rs = std::static_pointer_cast<Recordset>(Recordset::Create());
  rs->Attach(self<Connection>(), std::move(rows), sql);
  return rs;
}

int32_t Connection::BeginTrans() {
  if (!IsOpen()) throw AdoError(kClosed, kClass);
  std::string sql = level_ == 0 ? "BEGIN" : "SAVEPOINT tv_level_" + std::to_string(level_ + 1);
  Call(kClass, [&](db::Session& s) { return s.Run(sql, {}); });
  return ++level_;
}

void Connection::CommitTrans() {
  if (!IsOpen()) throw AdoError(kClosed, kClass);
  if (level_ == 0) throw AdoError(kNoTransaction, kClass);
  std::string sql = level_ == 1 ? "COMMIT" : "RELEASE SAVEPOINT tv_level_" + std::to_string(level_);
  Call(kClass, [&](db::Session& s) { return s.Run(sql, {}); });
  --level_;
}

void Connection::RollbackTrans() {
  if (!IsOpen()) throw AdoError(kClosed, kClass);
  if (level_ == 0) throw AdoError(kNoTransaction, kClass);
  int32_t level = level_--;
  Call(kClass, [&](db::Session& s) {
    if (level == 1) return s.Run("ROLLBACK", {});
    std::string name = "tv_level_" + std::to_string(level);
    s.Run("ROLLBACK TO SAVEPOINT " + name, {});
    return s.Run("RELEASE SAVEPOINT " + name, {});
  });
}

}  // namespace torvane::ado
