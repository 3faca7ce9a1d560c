// The single retry of Rename and Delete on files and folders.
#pragma once

#include <optional>
#include <thread>

#include "automation/error.h"

namespace torvane {

// Lets pending work of the host run once (a single yield of the thread):
// between the two attempts of a retried operation, so that another thread
// holding the file (closing it, finishing a write) can get on first. Only on
// that failure path: a yield costs a context switch whenever another thread
// is runnable.
inline void YieldToHost() { std::this_thread::yield(); }

// Runs `steps`; when they fail for the first time (any exception) it lets
// pending host work run once and runs them again. Returns nothing on success,
// else the second failure as an automation Error for the caller to trace and
// raise.
template <class Steps>
std::optional<Error> RunWithOneRetry(Steps&& steps) {
  for (int attempt = 0;; ++attempt) {
    try {
      steps();
      return std::nullopt;
    } catch (...) {
      if (attempt > 0) return CaughtError();
    }
    YieldToHost();
  }
}

}  // namespace torvane
