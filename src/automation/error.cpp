#include "automation/error.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>

namespace torvane {

const char* PlatformErrorText(int32_t number) {
  switch (number) {
    case err::InvalidArgument: return "Invalid procedure call or argument";
    case err::Overflow: return "Overflow";
    case err::SubscriptRange: return "Subscript out of range";
    case err::TypeMismatch: return "Type mismatch";
    case err::TooManyFiles: return "Too many files";
    case err::ObjectNotSet: return "Object variable or With block variable not set";
    case err::InvalidUseOfNull: return "Invalid use of Null";
    case err::NoSuchMember: return "Object doesn't support this property or method";
    case err::ArgumentNotOptional: return "Argument not optional";
    case err::WrongArgCount: return "Wrong number of arguments or invalid property assignment";
    case err::DuplicateKey: return "This key is already associated with an element of this collection";
    default: return "";
  }
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

void ThrowErrno(int errnum) { throw Error(errnum, std::strerror(errnum)); }

}  // namespace torvane
