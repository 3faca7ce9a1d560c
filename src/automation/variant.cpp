#include "automation/variant.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "basics/ascii.h"
#include "automation/object.h"

namespace torvane {

// ---- construction -------------------------------------------------------

Variant::Variant(const Variant& o)
    : type_(o.type_), i_(o.i_), d_(o.d_), s_(o.s_), o_(o.o_),
      b_(o.b_ ? std::make_unique<Bytes>(*o.b_) : nullptr),
      a_(o.a_ ? std::make_unique<VArray>(*o.a_) : nullptr) {}

Variant& Variant::operator=(const Variant& o) {
  if (this != &o) {
    Variant copy(o);
    *this = std::move(copy);
  }
  return *this;
}

Variant::~Variant() = default;

Variant::Variant(const char* s) : type_(VType::String), s_(s) {}
Variant::Variant(std::string s) : type_(VType::String), s_(std::move(s)) {}
Variant::Variant(std::string_view s) : type_(VType::String), s_(s) {}
Variant::Variant(int32_t v) : type_(VType::I4), i_(v) {}
Variant::Variant(int64_t v)
    : type_(v >= INT32_MIN && v <= INT32_MAX ? VType::I4 : VType::I8), i_(v) {}
Variant::Variant(double v) : type_(VType::Double), d_(v) {}
Variant::Variant(bool v) : type_(VType::Bool), i_(v ? 1 : 0) {}
Variant::Variant(ObjectRef obj) : type_(obj ? VType::Object : VType::Null), o_(std::move(obj)) {}
Variant::Variant(Bytes bytes) : type_(VType::Bytes), b_(std::make_unique<Bytes>(std::move(bytes))) {}
Variant::Variant(VArray arr) : type_(VType::Array), a_(std::make_unique<VArray>(std::move(arr))) {}

Variant Variant::Missing() { Variant v; v.type_ = VType::Missing; return v; }
Variant Variant::Null() { Variant v; v.type_ = VType::Null; return v; }
Variant Variant::I2(int16_t x) { Variant v; v.type_ = VType::I2; v.i_ = x; return v; }
Variant Variant::I8(int64_t x) { Variant v; v.type_ = VType::I8; v.i_ = x; return v; }
Variant Variant::Date(double d) { Variant v; v.type_ = VType::Date; v.d_ = d; return v; }

bool Variant::isNumeric() const {
  switch (type_) {
    case VType::I2: case VType::I4: case VType::I8: case VType::Double: case VType::Bool: return true;
    default: return false;
  }
}

Variant Variant::resolved() const {
  Variant v = *this;
  for (int depth = 0; v.type_ == VType::Object; ++depth) {
    if (depth > 16) ThrowPlatform(err::TypeMismatch);
    Args none;
    v = v.o_->InvokeDispId(0, CallKind::Get, none);
  }
  return v;
}

// ---- numbers -------------------------------------------------------------

namespace {

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Parses decimal text (optionally signed, with fraction and exponent) or &H hex.
bool ParseNumber(std::string_view text, double& out) {
  std::string_view s = Trim(text);
  if (s.empty()) return false;
  if (s.size() > 2 && s[0] == '&' && (s[1] == 'H' || s[1] == 'h')) {
    int64_t v = 0;
    auto r = std::from_chars(s.data() + 2, s.data() + s.size(), v, 16);
    if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return false;
    out = static_cast<double>(v);
    return true;
  }
  std::string tmp(s);
  if (tmp[0] == '+') tmp.erase(0, 1);
  char* end = nullptr;
  errno = 0;
  out = std::strtod(tmp.c_str(), &end);
  if (end == tmp.c_str() || *end != '\0') return false;
  // strtod accepts "inf", "nan" and hex floats; automation text does not.
  for (char c : tmp)
    if (std::isalpha(static_cast<unsigned char>(c)) && c != 'e' && c != 'E') return false;
  return true;
}

// Rounds half to even, as the automation run time does for integer conversions.
double RoundEven(double d) { return std::nearbyint(d); }

std::string DoubleToText(double d) {
  if (d == std::floor(d) && std::fabs(d) < 1e15) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", d);
    return buf;
  }
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, d);
  std::string s(buf, r.ptr);
  for (auto& c : s)
    if (c == 'e') c = 'E';
  return s;
}

int64_t ToInt64Checked(double d, int64_t lo, int64_t hi) {
  if (std::isnan(d)) ThrowPlatform(err::Overflow);
  double r = RoundEven(d);
  if (r < static_cast<double>(lo) || r > static_cast<double>(hi)) ThrowPlatform(err::Overflow);
  return static_cast<int64_t>(r);
}

}  // namespace

int64_t Variant::toInt64() const {
  switch (type_) {
    case VType::Empty: return 0;
    case VType::I2: case VType::I4: case VType::I8: return i_;
    case VType::Bool: return i_ ? -1 : 0;
    case VType::Double: case VType::Date:
      return ToInt64Checked(d_, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
    case VType::String: {
      std::string_view s = Trim(s_);
      int64_t v = 0;
      const char* b = s.data();
      if (!s.empty() && s[0] == '+') ++b;
      auto r = std::from_chars(b, s.data() + s.size(), v);
      if (r.ec == std::errc() && r.ptr == s.data() + s.size() && !s.empty()) return v;
      if (r.ec == std::errc::result_out_of_range) ThrowPlatform(err::Overflow);
      if (s == "True" || s == "true" || s == "TRUE") return -1;
      if (s == "False" || s == "false" || s == "FALSE") return 0;
      double d;
      if (!ParseNumber(s, d)) ThrowPlatform(err::TypeMismatch);
      return ToInt64Checked(d, std::numeric_limits<int64_t>::min(), std::numeric_limits<int64_t>::max());
    }
    case VType::Object: return resolved().toInt64();
    case VType::Null: ThrowPlatform(err::InvalidUseOfNull);
    default: ThrowPlatform(err::TypeMismatch);
  }
}

int32_t Variant::toInt32() const {
  if (type_ == VType::Double || type_ == VType::Date) return static_cast<int32_t>(ToInt64Checked(d_, INT32_MIN, INT32_MAX));
  int64_t v = toInt64();
  if (v < INT32_MIN || v > INT32_MAX) ThrowPlatform(err::Overflow);
  return static_cast<int32_t>(v);
}

int16_t Variant::toInt16() const {
  int64_t v = (type_ == VType::Double || type_ == VType::Date) ? ToInt64Checked(d_, INT16_MIN, INT16_MAX) : toInt64();
  if (v < INT16_MIN || v > INT16_MAX) ThrowPlatform(err::Overflow);
  return static_cast<int16_t>(v);
}

double Variant::toDouble() const {
  switch (type_) {
    case VType::Empty: return 0;
    case VType::I2: case VType::I4: case VType::I8: return static_cast<double>(i_);
    case VType::Bool: return i_ ? -1.0 : 0.0;
    case VType::Double: case VType::Date: return d_;
    case VType::String: {
      double d;
      if (ParseNumber(s_, d)) return d;
      std::string_view t = Trim(s_);
      if (t == "True" || t == "true") return -1;
      if (t == "False" || t == "false") return 0;
      ThrowPlatform(err::TypeMismatch);
    }
    case VType::Object: return resolved().toDouble();
    case VType::Null: ThrowPlatform(err::InvalidUseOfNull);
    default: ThrowPlatform(err::TypeMismatch);
  }
}

bool Variant::toBool() const {
  switch (type_) {
    case VType::Empty: return false;
    case VType::I2: case VType::I4: case VType::I8: case VType::Bool: return i_ != 0;
    case VType::Double: case VType::Date: return d_ != 0;
    case VType::String: {
      std::string_view t = Trim(s_);
      std::string low = AsciiLower(t);
      if (low == "true") return true;
      if (low == "false") return false;
      double d;
      if (ParseNumber(t, d)) return d != 0;
      ThrowPlatform(err::TypeMismatch);
    }
    case VType::Object: return resolved().toBool();
    case VType::Null: ThrowPlatform(err::InvalidUseOfNull);
    default: ThrowPlatform(err::TypeMismatch);
  }
}

double Variant::toDate() const {
  switch (type_) {
    case VType::Date: return d_;
    case VType::String: return DateFromText(s_);
    case VType::I2: case VType::I4: case VType::I8: case VType::Double: case VType::Empty: return toDouble();
    case VType::Object: return resolved().toDate();
    case VType::Null: ThrowPlatform(err::InvalidUseOfNull);
    default: ThrowPlatform(err::TypeMismatch);
  }
}

std::string Variant::toString() const {
  switch (type_) {
    case VType::Empty: return "";
    case VType::String: return s_;
    case VType::I2: case VType::I4: case VType::I8: return std::to_string(i_);
    case VType::Bool: return i_ ? "True" : "False";
    case VType::Double: return DoubleToText(d_);
    case VType::Date: return DateToText(d_);
    case VType::Object: return resolved().toString();
    case VType::Null: ThrowPlatform(err::InvalidUseOfNull);
    default: ThrowPlatform(err::TypeMismatch);
  }
}

ObjectRef Variant::toObject() const {
  if (type_ == VType::Object) return o_;
  if (type_ == VType::Null || type_ == VType::Empty) ThrowPlatform(err::ObjectNotSet);
  ThrowPlatform(err::TypeMismatch);
}

const Bytes& Variant::bytes() const {
  if (type_ != VType::Bytes) ThrowPlatform(err::TypeMismatch);
  return *b_;
}
Bytes& Variant::bytes() {
  if (type_ != VType::Bytes) ThrowPlatform(err::TypeMismatch);
  return *b_;
}
const VArray& Variant::array() const {
  if (type_ != VType::Array) ThrowPlatform(err::TypeMismatch);
  return *a_;
}
VArray& Variant::array() {
  if (type_ != VType::Array) ThrowPlatform(err::TypeMismatch);
  return *a_;
}

// ---- dates ---------------------------------------------------------------

namespace {
// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}
void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yy + (m <= 2));
}
const int64_t kOleEpochDays = DaysFromCivil(1899, 12, 30);
}  // namespace

double DateFromParts(const DateParts& p) {
  int64_t days = DaysFromCivil(p.year, static_cast<unsigned>(p.month), static_cast<unsigned>(p.day)) - kOleEpochDays;
  double frac = (p.hour * 3600 + p.minute * 60 + p.second) / 86400.0;
  // Automation dates before 1899-12-30 count the time away from zero.
  return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

DateParts PartsFromDate(double ole) {
  double dayPart = std::trunc(ole);
  double frac = std::fabs(ole - dayPart);
  int64_t secs = static_cast<int64_t>(std::llround(frac * 86400.0));
  int64_t days = static_cast<int64_t>(dayPart);
  if (secs >= 86400) { secs -= 86400; days += ole >= 0 ? 1 : -1; }
  DateParts p;
  CivilFromDays(days + kOleEpochDays, p.year, p.month, p.day);
  p.hour = static_cast<int>(secs / 3600);
  p.minute = static_cast<int>((secs / 60) % 60);
  p.second = static_cast<int>(secs % 60);
  return p;
}

std::string DateToText(double ole) {
  DateParts p = PartsFromDate(ole);
  char buf[40];
  if (std::trunc(ole) == 0)
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", p.hour, p.minute, p.second);
  else
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day, p.hour, p.minute, p.second);
  return buf;
}

double DateFromText(std::string_view text) {
  std::string s(Trim(text));
  DateParts p;
  int n = 0, consumed = 0;
  if (std::sscanf(s.c_str(), "%d-%d-%d%n", &p.year, &p.month, &p.day, &consumed) == 3 && s.find('-') != std::string::npos) {
    std::string rest = s.substr(static_cast<size_t>(consumed));
    if (!rest.empty()) {
      int c2 = 0;
      p.second = 0;
      n = std::sscanf(rest.c_str(), " %d:%d%n:%d%n", &p.hour, &p.minute, &c2, &p.second, &c2);
      if (n < 2 || static_cast<size_t>(c2) != rest.size()) ThrowPlatform(err::TypeMismatch);
    }
  } else {
    p = DateParts{};
    int c2 = 0;
    n = std::sscanf(s.c_str(), "%d:%d%n:%d%n", &p.hour, &p.minute, &c2, &p.second, &c2);
    if (n < 2 || static_cast<size_t>(c2) != s.size()) ThrowPlatform(err::TypeMismatch);
  }
  if (p.month < 1 || p.month > 12 || p.day < 1 || p.day > 31 || p.hour < 0 || p.hour > 23 || p.minute < 0 ||
      p.minute > 59 || p.second < 0 || p.second > 59)
    ThrowPlatform(err::TypeMismatch);
  return DateFromParts(p);
}

double DateFromUnix(int64_t unixSeconds) {
  time_t t = static_cast<time_t>(unixSeconds);
  struct tm tmv {};
  localtime_r(&t, &tmv);
  DateParts p{tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec};
  return DateFromParts(p);
}

int64_t UnixFromDate(double ole) {
  DateParts p = PartsFromDate(ole);
  struct tm tmv {};
  tmv.tm_year = p.year - 1900;
  tmv.tm_mon = p.month - 1;
  tmv.tm_mday = p.day;
  tmv.tm_hour = p.hour;
  tmv.tm_min = p.minute;
  tmv.tm_sec = p.second;
  tmv.tm_isdst = -1;
  return static_cast<int64_t>(mktime(&tmv));
}

double NowDate() { return DateFromUnix(static_cast<int64_t>(time(nullptr))); }

}  // namespace torvane
