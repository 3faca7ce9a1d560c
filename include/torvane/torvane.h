// Everything a program that embeds the component needs: values, errors,
// objects, the ProgID table and the host interfaces (link Torvane::core).
#pragma once

#include "torvane/error.h"
#include "torvane/host.h"
#include "torvane/object.h"
#include "torvane/progid.h"
#include "torvane/value.h"
