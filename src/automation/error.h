// Automation errors: the one exception type that every layer of Torvane throws.
//
// An Error carries the automation error number, its description and its source
// ("Torvane." + class name for the component's own errors). The page engine turns
// it into a script Error at the binding edge; no other C++ exception may cross
// into the script engine.
#pragma once

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace torvane {

// The source of an error raised without a class (ThrowPlatform, ThrowErrno,
// CaughtError); the member-call edge (Object::Call) replaces it with the
// source of the class whose member raised it.
inline constexpr const char* kGenericErrorSource = "Torvane";

struct Error : std::runtime_error {
  int32_t number;
  std::string description;
  std::string source;

  Error(int32_t num, std::string desc, std::string src = kGenericErrorSource)
      : std::runtime_error(desc), number(num), description(std::move(desc)), source(std::move(src)) {}
};

// Well-known platform error numbers (the automation run time's own).
namespace err {
constexpr int32_t InvalidArgument = 5;      // "Invalid procedure call or argument"
constexpr int32_t Overflow = 6;             // "Overflow"
constexpr int32_t OutOfMemory = 7;          // "Out of memory"
constexpr int32_t SubscriptRange = 9;       // "Subscript out of range"
constexpr int32_t TypeMismatch = 13;        // "Type mismatch"
constexpr int32_t InternalError = 51;       // "Internal error"
constexpr int32_t TooManyFiles = 67;        // "Too many files"
constexpr int32_t ObjectNotSet = 91;        // "Object variable or With block variable not set"
constexpr int32_t InvalidUseOfNull = 94;    // "Invalid use of Null"
constexpr int32_t NoSuchMember = 438;       // "Object doesn't support this property or method"
constexpr int32_t ArgumentNotOptional = 449;// "Argument not optional"
constexpr int32_t WrongArgCount = 450;      // "Wrong number of arguments or invalid property assignment"
constexpr int32_t DuplicateKey = 457;       // "This key is already associated with an element of this collection"
}  // namespace err

// The platform's text for one of the numbers above ("" for an unknown one).
const char* PlatformErrorText(int32_t number);

// Every number above with its text, in number order (for the reference).
struct PlatformError {
  int32_t number;
  const char* text;
};
std::span<const PlatformError> PlatformErrors();

// Throws the platform error `number` with its standard text.
[[noreturn]] void ThrowPlatform(int32_t number);

// Throws the error of a failed system call: number = errnum, text = strerror(errnum).
[[noreturn]] void ThrowErrno(int errnum);

// Inside a catch block: the exception being handled as an automation Error, so
// that no other C++ exception leaves a member. Out of memory becomes 7 "Out of
// memory", a std::system_error its code and message, anything else 51
// "Internal error: " + its text.
Error CaughtError();

// Inside a catch block: a failure of a host call as a component reports it
// when the failure belongs to the request rather than to the component (an
// upload reading the body): an automation error as it is; out of memory 7;
// any other C++ exception 5 with its own text (where CaughtError would make it
// 51, an internal error).
Error CaughtHostFailure();

// Reduces a negative number (a failure code of a called component) to its low
// 16 bits; other numbers pass unchanged.
inline int32_t LowWord(int32_t number) { return number < 0 ? (number & 0xFFFF) : number; }

}  // namespace torvane

namespace torvane {
// An error of the component's own (its numbers and texts are listed in
// automation/component_errors.h): source is
// "Torvane." + the raising class's name.
inline Error ComponentError(int32_t number, std::string description, std::string_view className) {
  return Error(number, std::move(description), "Torvane." + std::string(className));
}
}  // namespace torvane
