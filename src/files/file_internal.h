// Helpers shared by the File implementation files (not part of any interface).
#pragma once

#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "automation/error.h"

namespace torvane::files_internal {

// The error raised again with its number reduced to the low 16 bits.
inline Error Reduced(const Error& e) { return Error(LowWord(e.number), e.description, e.source); }

}  // namespace torvane::files_internal
