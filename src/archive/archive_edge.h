// The edge between the archive classes' member tables and their C++ methods:
// no C++ exception other than torvane::Error leaves a member.
#pragma once

#include <functional>
#include <new>
#include <stdexcept>
#include <system_error>
#include <utility>

#include "automation/object.h"

namespace torvane::archive_internal {

using torvane::CaughtError;

// Wraps a member-table call so that any other exception becomes an Error.
template <class T, class F>
std::function<Variant(T&, Args&)> Guarded(F fn) {
  return [fn = std::move(fn)](T& self, Args& args) -> Variant {
    try {
      return fn(self, args);
    } catch (...) {
      throw CaughtError();
    }
  };
}

}  // namespace torvane::archive_internal
