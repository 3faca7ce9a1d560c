#include "files/httpdate.h"

#include <cstdio>
#include <ctime>

#include "automation/variant.h"

namespace torvane {

namespace {

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Day of the week (0 = Sunday) of a civil date.
int Weekday(int y, int m, int d) {
  static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (m < 3) y -= 1;
  int w = (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
  return w < 0 ? w + 7 : w;
}

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

std::string Format(double localDate, bool twoDigitDay) {
  DateParts g = PartsFromDate(ToGmt(localDate));
  char buf[64];
  std::snprintf(buf, sizeof buf, twoDigitDay ? "%s, %02d %s %04d %02d:%02d:%02d GMT" : "%s, %d %s %04d %02d:%02d:%02d GMT",
                kDays[Weekday(g.year, g.month, g.day)], g.day, kMonths[g.month - 1], g.year, g.hour, g.minute, g.second);
  return buf;
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

bool ParseUnsigned(std::string_view s, size_t& i, size_t minDigits, size_t maxDigits, int& out) {
  size_t start = i;
  int v = 0;
  while (i < s.size() && i - start < maxDigits && s[i] >= '0' && s[i] <= '9') v = v * 10 + (s[i++] - '0');
  if (i - start < minDigits) return false;
  out = v;
  return true;
}

bool Expect(std::string_view s, size_t& i, char c) {
  if (i >= s.size() || s[i] != c) return false;
  ++i;
  return true;
}

}  // namespace

double ToGmt(double localDate) {
  return DateFromParts(UtcPartsFromUnix(UnixFromDate(localDate)));
}

double FromGmt(double gmtDate) { return DateFromUnix(UnixFromUtcParts(PartsFromDate(gmtDate))); }

std::string FormatHttpDate(double localDate) { return Format(localDate, true); }

std::string FormatGmtText(double localDate) { return Format(localDate, false); }

double ParseHttpDate(std::string_view text) {
  std::string_view s = text.size() > 5 ? text.substr(5, 20) : std::string_view();
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  DateParts p;
  size_t i = 0;
  bool ok = ParseUnsigned(s, i, 1, 2, p.day) && Expect(s, i, ' ') && i + 3 <= s.size();
  if (ok) {
    int month = 0;
    for (int m = 0; m < 12; ++m) {
      std::string_view name = kMonths[m];
      bool same = true;
      for (size_t k = 0; k < 3; ++k)
        if ((s[i + k] | 0x20) != (name[k] | 0x20)) same = false;
      if (same) month = m + 1;
    }
    p.month = month;
    i += 3;
    ok = month != 0 && Expect(s, i, ' ') && ParseUnsigned(s, i, 4, 4, p.year) && Expect(s, i, ' ') &&
         ParseUnsigned(s, i, 2, 2, p.hour) && Expect(s, i, ':') && ParseUnsigned(s, i, 2, 2, p.minute) &&
         Expect(s, i, ':') && ParseUnsigned(s, i, 2, 2, p.second) && i == s.size();
  }
  if (!ok || p.day < 1 || p.day > DaysInMonth(p.year, p.month) || p.hour > 23 || p.minute > 59 || p.second > 59)
    ThrowPlatform(err::TypeMismatch);
  return DateFromUnix(UnixFromUtcParts(p));
}

}  // namespace torvane
