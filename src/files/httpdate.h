// HTTP dates and the local/UTC conversion shared by File.LastModifiedGMT and
// File.Download.
//
// Every conversion uses the offset in force at the date being converted (not
// the one in force now), so a summer date converts with the summer offset all
// year round, and ParseHttpDate is the exact inverse of FormatHttpDate for
// every local time that exists (a wall time skipped by a clock change moves to
// the time the system gives it).
#pragma once

#include <string>
#include <string_view>

namespace torvane {

// Local automation date -> the same instant as a UTC automation date.
double ToGmt(double localDate);
// UTC automation date -> local automation date (inverse of ToGmt).
double FromGmt(double gmtDate);

// RFC 1123 date of a local date: "Sun, 06 Nov 1994 08:49:37 GMT" (day two digits).
std::string FormatHttpDate(double localDate);
// The form of LastModifiedGMT: the same, but the day without a leading zero
// ("Sun, 6 Nov 1994 08:49:37 GMT").
std::string FormatGmtText(double localDate);

// Parses the 20 characters from the sixth on ("06 Nov 1994 08:49:37": day,
// English month abbreviation, four-digit year, hh:mm:ss) as a UTC time and
// returns the local date. Anything else fails with 13 "Type mismatch".
double ParseHttpDate(std::string_view text);

}  // namespace torvane
