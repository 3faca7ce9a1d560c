// Torvane's public ProgID table: torvane::CreateObject("Torvane.File") creates
// a component object by its ProgID; ProgIdTable() and ConstantTable() list the
// creatable classes and the public constants. Forwards to automation/progid.h
// (the table itself is compiled into Torvane::core).
#pragma once

#include "automation/progid.h"
