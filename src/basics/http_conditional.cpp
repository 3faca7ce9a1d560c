#include "basics/http_conditional.h"

#include <cstdio>
#include <limits>

#include "basics/ascii.h"
#include "basics/http_date.h"

namespace torvane {

namespace {

constexpr int64_t kLargest = std::numeric_limits<int64_t>::max();

// `tag` without a leading "W/" (weak comparison looks only at the quoted part).
std::string_view Opaque(std::string_view tag) { return tag.rfind("W/", 0) == 0 ? tag.substr(2) : tag; }

// The next entity tag of a list at `i` (blanks and commas before it skipped):
// "W/"? followed by a quoted string; empty at the end or on a malformed
// element (which ends the list: nothing after it is trusted).
std::string_view NextTag(std::string_view list, size_t& i) {
  while (i < list.size() && (list[i] == ' ' || list[i] == '\t' || list[i] == ',')) ++i;
  size_t start = i;
  if (list.compare(i, 2, "W/") == 0) i += 2;
  if (i >= list.size() || list[i] != '"') {
    i = list.size();
    return {};
  }
  size_t close = list.find('"', i + 1);
  if (close == std::string_view::npos) {
    i = list.size();
    return {};
  }
  i = close + 1;
  return list.substr(start, i - start);
}

// Decimal digits as a number held at kLargest; nothing when `text` is empty
// or holds anything but digits.
std::optional<int64_t> Digits(std::string_view text) {
  if (text.empty()) return std::nullopt;
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    int d = c - '0';
    v = v > (kLargest - d) / 10 ? kLargest : v * 10 + d;
  }
  return v;
}

}  // namespace

std::string FileEntityTag(int64_t mtimeSeconds, int64_t size) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "\"%llx-%llx\"", static_cast<unsigned long long>(mtimeSeconds),
                static_cast<unsigned long long>(size));
  return buf;
}

bool NoneMatchHits(std::string_view ifNoneMatch, std::string_view tag) {
  std::string_view list = TrimBlanks(ifNoneMatch);
  if (list == "*") return true;
  std::string_view want = Opaque(tag);
  size_t i = 0;
  while (i < list.size()) {
    std::string_view t = NextTag(list, i);
    if (!t.empty() && Opaque(t) == want) return true;
  }
  return false;
}

bool IfRangeHolds(std::string_view ifRange, std::string_view tag, std::optional<int64_t> lastModified) {
  std::string_view v = TrimBlanks(ifRange);
  if (v.empty()) return false;
  if (v[0] == '"' || v.rfind("W/", 0) == 0) return v[0] == '"' && v == tag;
  std::optional<int64_t> date = ParseHttpTime(v);
  return date && lastModified && *date == *lastModified;
}

RangeHeader ParseRangeHeader(std::string_view value, ByteRangeSpec& spec) {
  spec = ByteRangeSpec{};
  std::string_view v = TrimBlanks(value);
  size_t eq = v.find('=');
  if (eq == std::string_view::npos || !EqualsAsciiNoCase(TrimBlanks(v.substr(0, eq)), "bytes")) return RangeHeader::None;
  std::string_view set = TrimBlanks(v.substr(eq + 1));
  if (set.find(',') != std::string_view::npos) return RangeHeader::Several;
  size_t dash = set.find('-');
  if (dash == std::string_view::npos) return RangeHeader::None;
  std::string_view before = TrimBlanks(set.substr(0, dash));
  std::string_view after = TrimBlanks(set.substr(dash + 1));
  spec.first = Digits(before);
  spec.last = Digits(after);
  bool wellFormed = (before.empty() || spec.first) && (after.empty() || spec.last) && (spec.first || spec.last);
  if (!wellFormed) {
    spec = ByteRangeSpec{};
    return RangeHeader::None;
  }
  return RangeHeader::Single;
}

ResolvedRange ResolveByteRange(const ByteRangeSpec& spec, int64_t total) {
  ResolvedRange r;
  if (total <= 0) return r;
  if (spec.first) {
    int64_t last = spec.last ? *spec.last : total - 1;
    if (*spec.first >= total || last < *spec.first) return r;
    r.first = *spec.first;
    r.last = last < total - 1 ? last : total - 1;
  } else {
    if (!spec.last || *spec.last == 0) return r;
    r.first = *spec.last >= total ? 0 : total - *spec.last;
    r.last = total - 1;
  }
  r.satisfiable = true;
  return r;
}

std::string ContentRangeValue(const ResolvedRange& range, int64_t total) {
  if (!range.satisfiable) return "bytes */" + std::to_string(total);
  return "bytes " + std::to_string(range.first) + "-" + std::to_string(range.last) + "/" + std::to_string(total);
}

FileAnswer DecideFileAnswer(const ConditionalHeaders& h, std::string_view tag, int64_t lastModified, int64_t size) {
  FileAnswer a;
  if (!h.ifNoneMatch.empty()) {
    if (NoneMatchHits(h.ifNoneMatch, tag)) {
      a.status = 304;
      return a;
    }
  } else if (!h.ifModifiedSince.empty()) {
    std::optional<int64_t> since = ParseHttpTime(h.ifModifiedSince);
    if (since && *since == lastModified) {
      a.status = 304;
      return a;
    }
  }
  ByteRangeSpec spec;
  if (h.range.empty() || ParseRangeHeader(h.range, spec) != RangeHeader::Single) return a;
  if (!h.ifRange.empty() && !IfRangeHolds(h.ifRange, tag, lastModified)) return a;
  a.range = ResolveByteRange(spec, size);
  a.status = a.range.satisfiable ? 206 : 416;
  return a;
}

}  // namespace torvane
