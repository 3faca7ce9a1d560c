// HTTP dates (RFC 1123, always GMT): "Sun, 06 Nov 1994 08:49:37 GMT".
// The host's Date and Last-Modified headers and File's LastModifiedGMT and
// download validators all write and read them here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvane {

// The date of a second since 1970 (UTC). `twoDigitDay` false writes the day
// without a leading zero ("Sun, 6 Nov 1994 08:49:37 GMT").
std::string FormatHttpTime(int64_t unixSeconds, bool twoDigitDay = true);

// Reads the 20 characters from the sixth on ("06 Nov 1994 08:49:37": day of one
// or two digits, English month abbreviation in any letter case, four-digit
// year, hh:mm:ss; blanks around them ignored) as a UTC time. The weekday and
// the zone name are not checked. Nothing for any other text or an impossible
// date.
std::optional<int64_t> ParseHttpTime(std::string_view text);

}  // namespace torvane
