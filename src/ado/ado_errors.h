// The errors of the data-access objects and the Connection's Errors collection.
//
// Numbers (source "ADODB." + the raising class):
//   9050  the database refused a statement: the database's own message
//   9051  "The connection string names no database Torvane can open: " + text
//   9052  "Operation is not allowed when the object is closed."
//   9053  "Operation is not allowed when the object is open."
//   9054  "Either BOF or EOF is True, or the current record has been deleted.
//          Requested operation requires a current record."
//   9055  "Item cannot be found in the collection corresponding to the requested
//          name or ordinal."
//   9056  "The recordset cannot change rows: " + the reason
//   9057  "No transaction is active."
//   9058  "The connection cannot be used to perform this operation. It is
//          either closed or invalid in this context."
//   9059  "Current Recordset does not support updating. This may be a
//          limitation of the provider, or of the selected locktype."
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "automation/object.h"
#include "platform/database/database.h"

namespace torvane::ado {

constexpr int32_t kDatabaseError = 9050;
constexpr int32_t kBadConnectionString = 9051;
constexpr int32_t kClosed = 9052;
constexpr int32_t kOpen = 9053;
constexpr int32_t kNoCurrentRecord = 9054;
constexpr int32_t kNoSuchItem = 9055;
constexpr int32_t kNotUpdatable = 9056;
constexpr int32_t kNoTransaction = 9057;
constexpr int32_t kNoConnection = 9058;
constexpr int32_t kReadOnly = 9059;

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
