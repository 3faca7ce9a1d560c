// Helpers shared by the File implementation files (not part of any interface).
#pragma once

#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "automation/error.h"

namespace torvane::files_internal {

// Inside a catch (...) block: the caught exception as an automation Error, so
// that no other C++ exception leaves a member (out of memory becomes 7).
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

// The single yield that Rename and Delete make before their retry: lets other
// work of the host run once.
inline void YieldToHost() { std::this_thread::yield(); }

// The error raised again with its number reduced to the low 16 bits.
inline Error Reduced(const Error& e) { return Error(LowWord(e.number), e.description, e.source); }

}  // namespace torvane::files_internal
