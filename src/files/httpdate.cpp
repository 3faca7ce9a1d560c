#include "files/httpdate.h"

#include <ctime>

#include "automation/variant.h"
#include "basics/http_date.h"

namespace torvane {

namespace {

// Seconds since 1970 of a UTC civil time.
int64_t UnixFromUtcParts(const DateParts& p) {
  struct tm t {};
  t.tm_year = p.year - 1900;
  t.tm_mon = p.month - 1;
  t.tm_mday = p.day;
  t.tm_hour = p.hour;
  t.tm_min = p.minute;
  t.tm_sec = p.second;
  return static_cast<int64_t>(timegm(&t));
}

DateParts UtcPartsFromUnix(int64_t unixSeconds) {
  time_t tt = static_cast<time_t>(unixSeconds);
  struct tm t {};
  gmtime_r(&tt, &t);
  return DateParts{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec};
}

}  // namespace

double ToGmt(double localDate) {
  return DateFromParts(UtcPartsFromUnix(UnixFromDate(localDate)));
}

double FromGmt(double gmtDate) { return DateFromUnix(UnixFromUtcParts(PartsFromDate(gmtDate))); }

std::string FormatHttpDate(double localDate) { return FormatHttpTime(UnixFromDate(localDate), true); }

std::string FormatGmtText(double localDate) { return FormatHttpTime(UnixFromDate(localDate), false); }

double ParseHttpDate(std::string_view text) {
  std::optional<int64_t> t = ParseHttpTime(text);
  if (!t) ThrowPlatform(err::TypeMismatch);
  return DateFromUnix(*t);
}

}  // namespace torvane
