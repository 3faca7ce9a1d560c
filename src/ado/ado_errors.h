// The errors of the data-access objects and the Connection's Errors collection.
//
// Numbers 9050..9059 (source "ADODB." + the raising class); their texts are
// listed with every other component error in automation/component_errors.h.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "automation/component_errors.h"
#include "automation/object.h"
#include "platform/database/database.h"

namespace torvane::ado {

constexpr int32_t kDatabaseError = component_error::DatabaseError;
constexpr int32_t kBadConnectionString = component_error::BadConnectionString;
constexpr int32_t kClosed = component_error::ObjectClosed;
constexpr int32_t kOpen = component_error::ObjectOpen;
constexpr int32_t kNoCurrentRecord = component_error::NoCurrentRecord;
constexpr int32_t kNoSuchItem = component_error::NoSuchItem;
constexpr int32_t kNotUpdatable = component_error::NotUpdatable;
constexpr int32_t kNoTransaction = component_error::NoTransaction;
constexpr int32_t kNoConnection = component_error::NoConnection;
constexpr int32_t kReadOnly = component_error::ReadOnlyRecordset;

// An error of the data-access objects, source "ADODB." + className.
Error AdoError(int32_t number, std::string_view className);
Error AdoError(int32_t number, std::string description, std::string_view className);

// One entry of the Errors collection.
class ErrorItem : public Object {
 public:
  // Members: Number, Description, Source, SQLState, NativeError.
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }

  int32_t number = 0;
  std::string description, source, sqlState;
  int32_t nativeError = 0;
};

// Connection.Errors: the errors of the last failed database operation.
class ErrorList : public Object {
 public:
  // Members: Count, Item(index) (default, 0-based), Clear, NewEnum (-4).
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }

  // Replaces the list with the one error.
  void Set(int32_t number, const db::DatabaseError& e);
  void Clear() { items_.clear(); }
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  Variant Item(const Variant& index) const;

 private:
  std::vector<std::shared_ptr<ErrorItem>> items_;
};

// The 0-based position an ADO collection index names: a number, or a name
// matched without regard to case; -1 when none.
int FindIndex(const Variant& index, size_t count, const std::vector<std::string>& names);

}  // namespace torvane::ado
