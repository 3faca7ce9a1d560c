// The edge between a member table and the typed C++ methods of the directory
// classes: no C++ exception other than torvane::Error leaves a member.
#pragma once

#include <new>
#include <stdexcept>
#include <utility>

#include "automation/object.h"

namespace torvane::dirs_internal {

using torvane::CaughtError;

}  // namespace torvane::dirs_internal

namespace torvane {

// Wraps a member-table call so that any other exception becomes an Error.
template <class T, class F>
std::function<Variant(T&, Args&)> AtEdge(F fn) {
  return [fn = std::move(fn)](T& self, Args& args) -> Variant {
    try {
      return fn(self, args);
    } catch (...) {
      throw dirs_internal::CaughtError();
    }
  };
}

}  // namespace torvane
