// The edge between a member table and the typed C++ methods of the directory
// classes: no C++ exception other than torvane::Error leaves a member.
#pragma once

#include <new>
#include <stdexcept>
#include <utility>

#include "automation/object.h"

namespace torvane::dirs_internal {

// Inside a catch block: the caught exception as an automation Error (out of
// memory becomes 7 "Out of memory").
inline Error CaughtError() {
  try {
    throw;
  } catch (const Error& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return Error(7, "Out of memory");
  } catch (const std::length_error&) {
    return Error(7, "Out of memory");
  } catch (const std::exception& e) {
    return Error(5, e.what());
  } catch (...) {
    return Error(5, "Invalid procedure call or argument");
  }
}

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
