// The one way tests capture the automation error a call raises.
//
//   Error e = ThrownError([&] { file->Delete(); });
//   EXPECT_EQ(e.number, 2);
//   EXPECT_EQ(ThrownError([&] { ResolvePath("x.txt", false); }).number, 0);  // raises nothing
//
// ThrownError runs `fn` and returns the torvane::Error it throws. When `fn`
// returns normally the result is number 0 with an empty description and an
// empty source. The component never raises number 0, so an expectation of a
// particular number fails visibly ("which is 0") when nothing was thrown, and
// `.number == 0` states that the call raises nothing; the helper itself never
// fails a test. Any other exception passes through, and GoogleTest reports it.
#pragma once

#include <functional>
#include <ostream>

#include "automation/error.h"

namespace torvane {

// Failure messages show an Error as its number, description and source.
inline void PrintTo(const Error& e, std::ostream* os) {
  *os << "Error(" << e.number << ", \"" << e.description << "\", \"" << e.source << "\")";
}

namespace test {

inline Error ThrownError(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Error& e) {
    return e;
  }
  return Error(0, "", "");
}

}  // namespace test
}  // namespace torvane
