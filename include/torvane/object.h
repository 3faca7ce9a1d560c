// Torvane's public object model: Object and its member tables (ClassInfo,
// MemberInfo), called late-bound by name with Object::Invoke or Object::Get.
// Forwards to automation/object.h.
#pragma once

#include "automation/object.h"
