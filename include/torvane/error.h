// Torvane's public error type: torvane::Error { number, description, source },
// the one exception the component throws, with the platform numbers
// (torvane::err) and the component's own numbers and texts
// (torvane::component_error). Forwards to automation/error.h and
// automation/component_errors.h.
#pragma once

#include "automation/component_errors.h"
#include "automation/error.h"
