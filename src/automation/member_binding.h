// Member-pointer binding for member tables: the common shapes of a table
// entry's call, written without a hand-made lambda.
//
//   {"MD5", K::Get, {}, Getter(&File::MD5), "MD5 digest of the content", "String"},
//   {"Owner", K::Let, {{"value"}}, Setter(&File::SetOwner), "Makes the account the owner"},
//   {"Delete", K::Method, {}, Action(&File::Delete), "Deletes the file"},
//
// Getter wraps what the member function returns in a Variant (as
// `Variant(o.F())` would); Setter converts the first argument to the setter's
// parameter type (std::string, bool, 16/32/64-bit integer, double, or the
// Variant itself); Action calls a member function with no arguments and
// returns an empty value. A member that does more than that keeps its lambda.
#pragma once

#include <cstdint>
#include <string>
#include <type_traits>

#include "automation/object.h"

namespace torvane {

namespace binding {

// A script value as the C++ parameter type `P` (a conversion failure raises
// the value's own error, as the hand-written conversions do).
template <class P>
std::remove_cvref_t<P> ArgAs(const Variant& v) {
  using D = std::remove_cvref_t<P>;
  if constexpr (std::is_same_v<D, Variant>) return v;
  else if constexpr (std::is_same_v<D, std::string>) return v.toString();
  else if constexpr (std::is_same_v<D, bool>) return v.toBool();
  else if constexpr (std::is_same_v<D, int16_t>) return v.toInt16();
  else if constexpr (std::is_same_v<D, int32_t>) return v.toInt32();
  else if constexpr (std::is_same_v<D, int64_t>) return v.toInt64();
  else if constexpr (std::is_same_v<D, double>) return v.toDouble();
  else static_assert(sizeof(D) == 0, "no conversion from a script value to this parameter type");
}

}  // namespace binding

// get: the member function's result as a Variant.
template <class T, class R>
auto Getter(R (T::*get)() const) {
  return [get](T& o, Args&) { return Variant((o.*get)()); };
}
template <class T, class R>
auto Getter(R (T::*get)()) {
  return [get](T& o, Args&) { return Variant((o.*get)()); };
}

// put (or set): the first argument, converted, passed to the setter.
template <class T, class P>
auto Setter(void (T::*set)(P)) {
  return [set](T& o, Args& a) {
    (o.*set)(binding::ArgAs<P>(a[0]));
    return Variant();
  };
}

// method without arguments or result.
template <class T>
auto Action(void (T::*fn)()) {
  return [fn](T& o, Args&) {
    (o.*fn)();
    return Variant();
  };
}

}  // namespace torvane
