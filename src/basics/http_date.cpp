#include "basics/http_date.h"

#include <cstdio>
#include <ctime>

#include "basics/ascii.h"

namespace torvane {

namespace {

const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

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

// The month (1..12) whose abbreviation stands at s[i], or 0.
int MonthAt(std::string_view s, size_t i) {
  if (i + 3 > s.size()) return 0;
  for (int m = 0; m < 12; ++m)
    if (EqualsAsciiNoCase(s.substr(i, 3), kMonths[m])) return m + 1;
  return 0;
}

}  // namespace

std::string FormatHttpTime(int64_t unixSeconds, bool twoDigitDay) {
  time_t t = static_cast<time_t>(unixSeconds);
  struct tm g {};
  gmtime_r(&t, &g);
  char buf[64];
  std::snprintf(buf, sizeof buf, twoDigitDay ? "%s, %02d %s %04d %02d:%02d:%02d GMT" : "%s, %d %s %04d %02d:%02d:%02d GMT",
                kDays[g.tm_wday], g.tm_mday, kMonths[g.tm_mon], g.tm_year + 1900, g.tm_hour, g.tm_min, g.tm_sec);
  return buf;
}

std::optional<int64_t> ParseHttpTime(std::string_view text) {
  std::string_view s = TrimBlanks(text.size() > 5 ? text.substr(5, 20) : std::string_view());
  int day = 0, month = 0, year = 0, hour = 0, minute = 0, second = 0;
  size_t i = 0;
  bool ok = ParseUnsigned(s, i, 1, 2, day) && Expect(s, i, ' ') && (month = MonthAt(s, i)) != 0;
  i += 3;
  ok = ok && Expect(s, i, ' ') && ParseUnsigned(s, i, 4, 4, year) && Expect(s, i, ' ') &&
       ParseUnsigned(s, i, 2, 2, hour) && Expect(s, i, ':') && ParseUnsigned(s, i, 2, 2, minute) &&
       Expect(s, i, ':') && ParseUnsigned(s, i, 2, 2, second) && i == s.size();
  if (!ok || day < 1 || day > DaysInMonth(year, month) || hour > 23 || minute > 59 || second > 59) return std::nullopt;
  struct tm t {};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<int64_t>(timegm(&t));
}

}  // namespace torvane
