#include "automation/error.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>

namespace torvane {

namespace {
constexpr PlatformError kPlatformErrors[] = {
    {err::InvalidArgument, "Invalid procedure call or argument"},
    {err::Overflow, "Overflow"},
    {err::OutOfMemory, "Out of memory"},
    {err::SubscriptRange, "Subscript out of range"},
    {err::TypeMismatch, "Type mismatch"},
    {err::InternalError, "Internal error"},
    {err::TooManyFiles, "Too many files"},
    {err::ObjectNotSet, "Object variable or With block variable not set"},
    {err::InvalidUseOfNull, "Invalid use of Null"},
    {err::NoSuchMember, "Object doesn't support this property or method"},
    {err::ArgumentNotOptional, "Argument not optional"},
    {err::WrongArgCount, "Wrong number of arguments or invalid property assignment"},
    {err::DuplicateKey, "This key is already associated with an element of this collection"},
};
}  // namespace

std::span<const PlatformError> PlatformErrors() { return kPlatformErrors; }

const char* PlatformErrorText(int32_t number) {
  for (const PlatformError& e : kPlatformErrors)
    if (e.number == number) return e.text;
  return "";
}

void ThrowPlatform(int32_t number) { throw Error(number, PlatformErrorText(number)); }

Error CaughtError() {
  try {
    throw;
  } catch (const Error& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return Error(err::OutOfMemory, "Out of memory");
  } catch (const std::length_error&) {
    return Error(err::OutOfMemory, "Out of memory");
  } catch (const std::system_error& e) {
    return Error(e.code().value(), e.code().message());
  } catch (const std::exception& e) {
    return Error(err::InternalError, std::string("Internal error: ") + e.what());
  } catch (...) {
    return Error(err::InternalError, "Internal error");
  }
}

Error CaughtHostFailure() {
  try {
    throw;
  } catch (const Error& e) {
    return e;
  } catch (const std::bad_alloc&) {
    return CaughtError();
  } catch (const std::exception& e) {
    return Error(err::InvalidArgument, e.what());
  } catch (...) {
    return CaughtError();
  }
}

void ThrowErrno(int errnum) { throw Error(errnum, std::strerror(errnum)); }

}  // namespace torvane
