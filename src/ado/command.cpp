#include "ado/command.h"

#include "ado/connection.h"
#include "ado/recordset.h"
#include "automation/collection.h"

namespace torvane::ado {

namespace {
constexpr const char* kClass = "Command";
bool Given(const Variant& v) { return !v.isMissing() && !v.isNull() && !v.isEmpty(); }
}  // namespace

// ---- Parameter -----------------------------------------------------------------------

const ClassInfo& Parameter::Class() {
  using P = Parameter;
  static const ClassInfo info = ClassInfo::Make<P>(
      "Parameter",
      {
          {"Name", MemberKind::Let, {{"v"}}, [](P& p, Args& a) { p.name = a[0].toString(); return Variant(); },
           "Sets the parameter's name"},
          {"Name", MemberKind::Get, {}, [](P& p, Args&) { return Variant(p.name); },
           "The parameter's name", "String"},
          {"Type", MemberKind::Let, {{"v"}}, [](P& p, Args& a) { p.type = a[0].toInt32(); return Variant(); },
           "Sets the value type (DataTypeEnum)"},
          {"Type", MemberKind::Get, {}, [](P& p, Args&) { return Variant(p.type); },
           "The value type (DataTypeEnum)", "Long"},
          {"Direction", MemberKind::Let, {{"v"}}, [](P& p, Args& a) { p.direction = a[0].toInt32(); return Variant(); },
           "Sets the direction (ParameterDirectionEnum)"},
          {"Direction", MemberKind::Get, {}, [](P& p, Args&) { return Variant(p.direction); },
           "The direction (ParameterDirectionEnum)", "Long"},
          {"Size", MemberKind::Let, {{"v"}}, [](P& p, Args& a) { p.size = a[0].toInt64(); return Variant(); },
           "Sets the largest size of the value"},
          {"Size", MemberKind::Get, {}, [](P& p, Args&) { return Variant(p.size); },
           "The largest size of the value", "Long"},
          {"Value", MemberKind::Let, {{"v"}},
           [](P& p, Args& a) {
             p.value = a[0].isObject() ? a[0].resolved() : a[0];
             return Variant();
           },
           "Sets the value bound to the statement"},
          {"Value", MemberKind::Get, {}, [](P& p, Args&) { return p.value; }, kDispIdDefault,
           "The value bound to the statement", "Variant"},
      });
  return info;
}

ObjectRef Parameter::Create() { return std::make_shared<Parameter>(); }

Variant Parameter::Bound() const {
  const Variant& v = value;
  if (v.isNull() || v.isEmpty() || v.isMissing()) return Variant::Null();
  switch (type) {
    case db::adSmallInt:
    case db::adInteger:
    case db::adBigInt: return Variant(v.toInt64());
    case db::adSingle:
    case db::adDouble:
    case db::adNumeric: return Variant(v.toDouble());
    case db::adBoolean: return Variant(v.toBool());
    case db::adDate:
    case db::adDBDate:
    case db::adDBTime:
    case db::adDBTimeStamp: return Variant::Date(v.toDate());
    case db::adVarWChar:
    case db::adLongVarWChar:
    case 8:     // adBSTR
    case 129:   // adChar
    case 130:   // adWChar
    case 200:   // adVarChar
    case 201:   // adLongVarChar
      return v.type() == VType::Bytes ? v : Variant(v.toString());
    default: return v;
  }
}

// ---- Parameters ---------------------------------------------------------------------

const ClassInfo& ParameterList::Class() {
  using L = ParameterList;
  static const ClassInfo info = ClassInfo::Make<L>(
      "Parameters",
      {
          {"Append", MemberKind::Method, {{"Object"}},
           [](L& l, Args& a) {
             l.items.push_back(a[0].as<Parameter>());
             return Variant();
           },
           "Adds a Parameter"},
          {"Delete", MemberKind::Method, {{"Index"}},
           [](L& l, Args& a) {
             l.items.erase(l.items.begin() + static_cast<std::ptrdiff_t>(l.IndexOf(a[0])));
             return Variant();
           },
           "Removes the parameter at a position or with a name"},
          {"Count", MemberKind::Get, {}, [](L& l, Args&) { return Variant(static_cast<int32_t>(l.items.size())); },
           "Number of parameters", "Long"},
          {"Item", MemberKind::Get, {{"Index"}},
           [](L& l, Args& a) { return Variant(ObjectRef(l.items[l.IndexOf(a[0])])); }, kDispIdDefault,
           "The Parameter at a position (from 0) or with a name", "Parameter"},
          {"Refresh", MemberKind::Method, {}, [](L&, Args&) { return Variant(); },
           "Does nothing (parameters are not read from the database)"},
          {"NewEnum", MemberKind::Get, {},
           [](L& l, Args&) {
             std::vector<Variant> all;
             for (auto& p : l.items) all.emplace_back(ObjectRef(p));
             return Variant(ObjectRef(std::make_shared<Enumerator>(std::move(all))));
           },
           kDispIdNewEnum,
           "Enumerator over the parameters", "Enumerator"},
      });
  return info;
}

size_t ParameterList::IndexOf(const Variant& index) const {
  std::vector<std::string> names;
  for (const auto& p : items) names.push_back(p->name);
  int i = FindIndex(index, items.size(), names);
  if (i < 0) throw AdoError(kNoSuchItem, "Parameters");
  return static_cast<size_t>(i);
}

// ---- Command ----------------------------------------------------------------------------

const ClassInfo& Command::Class() {
  using C = Command;
  static const ClassInfo info = ClassInfo::Make<C>(
      "Command",
      {
          {"ActiveConnection", MemberKind::Set, {{"v"}},
           [](C& c, Args& a) {
             c.connection_ = a[0].isNull() ? nullptr : a[0].as<Connection>();
             return Variant();
           },
           "Sets the Connection the command runs on"},
          {"ActiveConnection", MemberKind::Let, {{"v"}},
           [](C& c, Args& a) {
             if (a[0].isObject()) {
               c.connection_ = a[0].as<Connection>();
             } else {
               auto conn = std::static_pointer_cast<Connection>(Connection::Create());
               conn->Open(a[0], Variant::Missing(), Variant::Missing());
               c.connection_ = conn;
             }
             return Variant();
           },
           "Opens a connection from connection text for the command"},
          {"ActiveConnection", MemberKind::Get, {},
           [](C& c, Args&) { return c.connection_ ? Variant(ObjectRef(c.connection_)) : Variant::Null(); },
           "The Connection the command runs on, or null", "Connection"},
          {"CommandText", MemberKind::Let, {{"v"}}, [](C& c, Args& a) { c.text_ = a[0].toString(); return Variant(); },
           "Sets the statement, with ? for each parameter"},
          {"CommandText", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.text_); }, kDispIdDefault,
           "The statement", "String"},
          {"CommandType", MemberKind::Let, {{"v"}}, [](C& c, Args& a) { c.type_ = a[0].toInt32(); return Variant(); },
           "Sets the statement kind (CommandTypeEnum)"},
          {"CommandType", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.type_); },
           "The statement kind (CommandTypeEnum)", "Long"},
          {"CommandTimeout", MemberKind::Let, {{"v"}},
           [](C& c, Args& a) { c.timeout_ = a[0].toInt32(); return Variant(); },
           "Sets how long the statement may run, in seconds"},
          {"CommandTimeout", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.timeout_); },
           "How long the statement may run, in seconds", "Long"},
          {"Prepared", MemberKind::Let, {{"v"}}, [](C& c, Args& a) { c.prepared_ = a[0].toBool(); return Variant(); },
           "Sets whether the statement is prepared once"},
          {"Prepared", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.prepared_); },
           "Whether the statement is prepared once", "Boolean"},
          {"Parameters", MemberKind::Get, {}, [](C& c, Args&) { return Variant(ObjectRef(c.params_)); },
           "The statement's parameters", "Parameters"},
          {"CreateParameter", MemberKind::Method,
           {{"Name", true}, {"Type", true}, {"Direction", true}, {"Size", true}, {"Value", true}},
           [](C&, Args& a) {
             auto p = std::static_pointer_cast<Parameter>(Parameter::Create());
             if (Given(a[0])) p->name = a[0].toString();
             if (Given(a[1])) p->type = a[1].toInt32();
             if (Given(a[2])) p->direction = a[2].toInt32();
             if (Given(a[3])) p->size = a[3].toInt64();
             if (!a[4].isMissing()) p->value = a[4].isObject() ? a[4].resolved() : a[4];
             return Variant(ObjectRef(p));
           },
           "Makes a new Parameter (not yet appended)", "Parameter"},
          {"Execute", MemberKind::Method, {{"RecordsAffected", true}, {"Parameters", true}, {"Options", true}},
           [](C& c, Args& a) { return Variant(c.Execute(a[1])); },
           "Runs the statement with its parameters; returns rows for a query", "Recordset"},
      });
  return info;
}

ObjectRef Command::Create() { return std::make_shared<Command>(); }

std::string Command::Text() const { return type_ == 2 ? "SELECT * FROM " + text_ : text_; }

std::vector<db::Value> Command::Values(const Variant& override) const {
  if (override.type() == VType::Array) return ParamValues(override);
  std::vector<db::Value> out;
  for (const auto& p : params_->items) out.push_back(db::Value{p->Bound(), nullptr, {}});
  return out;
}

ObjectRef Command::Execute(const Variant& params) {
  if (!connection_ || !connection_->IsOpen()) throw AdoError(kNoConnection, kClass);
  std::vector<db::Value> values = Values(params);
  std::string sql = Text();
  db::RowSet rows = connection_->Call(kClass, [&](db::Session& s) { return s.Run(sql, values); });
  auto rs = std::static_pointer_cast<Recordset>(Recordset::Create());
  rs->Attach(connection_, std::move(rows), text_);
  return rs;
}

}  // namespace torvane::ado
