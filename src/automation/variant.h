// Variant: the automation value that every public argument, property and result is.
//
// Legal states (Type() and what the value holds):
//   Empty    no value yet (a fresh variable, a member that returns nothing)
//   Missing  an omitted optional argument; never stored by a class
//   Null     the explicit null value
//   String   UTF-8 text (std::string)
//   I2, I4   16-bit and 32-bit signed integers (held as int32_t, I2 within range)
//   I8       64-bit signed integer: sizes and counters of 2 GiB and more
//   Double   IEEE double
//   Bool     boolean; as a number True is -1 and False 0
//   Date     local date-time as an automation date: days since 1899-12-30,
//            the fraction is the time of day
//   Object   a counted reference to an automation object (never a null pointer;
//            a null reference is the Null state)
//   Array    a one-dimensional array of variants with its lower bound
//   Bytes    an array of unsigned bytes (request bytes, file content)
//
// Conversions follow the automation rules and fail with 13 "Type mismatch"
// (no sensible conversion) or 6 "Overflow" (out of the target's range).
// Converting an object follows its default member (dispatch id 0) to a plain value.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/error.h"

namespace torvane {

class Object;
class Variant;
using ObjectRef = std::shared_ptr<Object>;
using Bytes = std::vector<std::uint8_t>;

// A one-dimensional array with its lower bound (0 for arrays made by pages).
struct VArray {
  int32_t lbound = 0;
  std::vector<Variant> items;
};

// (The scoped enumerator Bytes does not hide the alias above; GCC's -Wshadow says it does.)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
enum class VType { Empty, Missing, Null, String, I2, I4, I8, Double, Bool, Date, Object, Array, Bytes };
#pragma GCC diagnostic pop

class Variant {
 public:
  Variant() = default;
  Variant(const Variant& other);
  Variant(Variant&& other) noexcept = default;
  Variant& operator=(const Variant& other);
  Variant& operator=(Variant&& other) noexcept = default;
  ~Variant();

  Variant(const char* s);
  Variant(std::string s);
  Variant(std::string_view s);
  Variant(int32_t v);
  Variant(int64_t v);  // I4 when it fits, else I8
  Variant(double v);
  Variant(bool v);
  Variant(ObjectRef obj);  // Null when obj is empty
  Variant(Bytes bytes);
  Variant(VArray arr);

  static Variant Missing();
  static Variant Null();
  static Variant I2(int16_t v);
  static Variant I8(int64_t v);  // always I8
  static Variant Date(double oleDate);

  VType type() const { return type_; }
  bool isEmpty() const { return type_ == VType::Empty; }
  bool isMissing() const { return type_ == VType::Missing; }
  bool isNull() const { return type_ == VType::Null; }
  bool isString() const { return type_ == VType::String; }
  bool isObject() const { return type_ == VType::Object; }
  bool isNumeric() const;
  // Missing, or Empty standing for an omitted argument.
  bool isAbsent() const { return type_ == VType::Missing; }

  // Conversions (automation rules). Each throws 13 or 6 as described above.
  std::string toString() const;
  int16_t toInt16() const;
  int32_t toInt32() const;
  int64_t toInt64() const;
  double toDouble() const;
  bool toBool() const;
  double toDate() const;
  ObjectRef toObject() const;  // Object state only; 13 otherwise (91 for Null/Empty)
  const Bytes& bytes() const;  // Bytes state only; 13 otherwise
  Bytes& bytes();
  const VArray& array() const;  // Array state only; 13 otherwise
  VArray& array();

  // Raw access without conversion (caller checked type()).
  const std::string& str() const { return s_; }
  int64_t rawInt() const { return i_; }
  double rawDouble() const { return d_; }
  const ObjectRef& obj() const { return o_; }

  // Typed object access: the object as T, or 13 "Type mismatch" for another class.
  template <class T>
  std::shared_ptr<T> as() const {
    auto o = toObject();
    auto t = std::dynamic_pointer_cast<T>(o);
    if (!t) ThrowPlatform(err::TypeMismatch);
    return t;
  }

  // Follows default members until a plain (non-object) value.
  Variant resolved() const;

 private:
  VType type_ = VType::Empty;
  int64_t i_ = 0;  // I2, I4, I8, Bool (0 / 1)
  double d_ = 0;   // Double, Date
  std::string s_;
  ObjectRef o_;
  std::unique_ptr<Bytes> b_;
  std::unique_ptr<VArray> a_;
};

// Dates: automation date <-> broken-down local time and text.
struct DateParts {
  int year = 1899, month = 12, day = 30, hour = 0, minute = 0, second = 0;
};
double DateFromParts(const DateParts& p);
DateParts PartsFromDate(double oleDate);
// "YYYY-MM-DD HH:MM:SS"; a date whose day part is 0 (a time alone) is "HH:MM:SS".
std::string DateToText(double oleDate);
// Parses "YYYY-MM-DD[ HH:MM[:SS]]" or "HH:MM[:SS]"; 13 on anything else.
double DateFromText(std::string_view text);
// Local time of the system clock now, as an automation date (whole seconds).
double NowDate();
// Unix time <-> automation date in local time (the offset in force at that date).
double DateFromUnix(int64_t unixSeconds);
int64_t UnixFromDate(double oleDate);

}  // namespace torvane
