// Torvane's public value type: Variant, the automation value that every
// argument, property and result of the component is (with Bytes, VArray and
// ObjectRef). Forwards to the declarations in automation/variant.h.
#pragma once

#include "automation/variant.h"
