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

// Inside a catch block: the caught exception as an automation Error.
inline Error CaughtError() {
  try {
    throw;
  } catch (const Error& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return Error(7, "Out of memory");
  } catch (const std::length_error&) {
    return Error(7, "Out of memory");
  } catch (const std::system_error& e) {
    return Error(e.code().value(), e.code().message());
  } catch (const std::exception& e) {
    return Error(5, e.what());
  } catch (...) {
    return Error(5, "Invalid procedure call or argument");
  }
}

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
