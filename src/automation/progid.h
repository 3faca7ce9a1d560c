// The ProgID registry: "Torvane." + class name -> factory for the component's
// classes; the data-access stand-ins carry ADO's own ("ADODB.Connection").
//
// The table itself and CreateObject live in src/classes.cpp (one line per
// public class), above the automation layer that declares them.
// Creating an object runs its initialisation and, where its class attaches on
// creation, the script-context attach (the factory does both).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/object.h"

namespace torvane {

using Factory = std::function<ObjectRef()>;

struct ProgIdEntry {
  const char* progid;  // "Torvane.Post", "ADODB.Recordset"
  Factory create;
  const ClassInfo& (*classInfo)();  // the member table of what `create` makes (for the reference)
};

// The one table of the component's creatable classes (src/classes.cpp).
const std::vector<ProgIdEntry>& ProgIdTable();

// Creates an object by ProgID (letter case ignored). Unknown ProgID: error
// 429 "ActiveX component can't create object".
ObjectRef CreateObject(std::string_view progid);

// Public enumeration constants (TV_*, NT_*, and ADO's ad*) that pages see as globals.
struct NamedConstant {
  const char* name;
  int32_t value;
  const char* group;  // the enumeration it belongs to ("TV_UPLOAD_TYPE")
  const char* doc;    // one line: what the value means
};
const std::vector<NamedConstant>& ConstantTable();

}  // namespace torvane
