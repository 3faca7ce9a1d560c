// ADODB.Command with its Parameters: SQL text whose "?" markers take the
// parameters' values in order, so that pages never build SQL from values.
//
// Command members: ActiveConnection let/set/get, CommandText let/get
// (default), CommandType let/get (adCmdText 1, adCmdTable 2), CommandTimeout
// let/get, Prepared let/get (kept, no effect), Parameters, CreateParameter(
// [Name, Type, Direction, Size, Value]), Execute([RecordsAffected,
// Parameters, Options]). An array given as Execute's Parameters argument
// replaces the collection's values for that run.
// Parameter members: Name, Type, Direction, Size, Value (default), all
// let/get. A value is converted to the parameter's Type when one is set
// (numbers, booleans, dates, text; bytes stay bytes); adEmpty (0) keeps it.
// Parameters members: Append, Delete, Count, Item (default: 0-based or name),
// Refresh, NewEnum.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ado/ado_errors.h"
#include "automation/object.h"
#include "platform/database/database.h"

namespace torvane::ado {

class Connection;

class Parameter : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  static ObjectRef Create();

  // The value as it is bound (converted to Type).
  Variant Bound() const;

  std::string name;
  int32_t type = 0;
  int32_t direction = 1;  // adParamInput
  int64_t size = 0;
  Variant value = Variant::Null();
};

class ParameterList : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }

  std::vector<std::shared_ptr<Parameter>> items;
  size_t IndexOf(const Variant& index) const;
};

class Command : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  static ObjectRef Create();

  // The SQL the command runs (a table name becomes SELECT * FROM it).
  std::string Text() const;
  // The values bound to its markers: the array `override` when given, else
  // the Parameters collection's values.
  std::vector<db::Value> Values(const Variant& override) const;
  const std::shared_ptr<Connection>& ConnectionOf() const { return connection_; }
  ObjectRef Execute(const Variant& params);

 private:
  std::shared_ptr<Connection> connection_;
  std::string text_;
  int32_t type_ = 1;  // adCmdText
  int32_t timeout_ = 30;
  bool prepared_ = false;
  std::shared_ptr<ParameterList> params_ = std::make_shared<ParameterList>();
};

}  // namespace torvane::ado
