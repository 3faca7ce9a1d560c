// Conditional and range requests for one file: the entity tag a version of a
// file carries, If-None-Match, If-Modified-Since, If-Range and one byte range,
// resolved against the file's size. The host's static files and File.Download
// both decide with these functions, so both answer a client alike.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace torvane {

// The strong entity tag of one version of a file on disk: its modification
// time (Unix seconds) and size in lower-case hexadecimal, quoted:
// "\"5f5e100-3e8\"" (the form nginx writes).
std::string FileEntityTag(int64_t mtimeSeconds, int64_t size);

// Whether an If-None-Match value names `tag`: "*" names every tag; otherwise
// a comma-separated list of entity tags compared weakly (a "W/" prefix on
// either side is ignored). An empty or malformed list names nothing.
bool NoneMatchHits(std::string_view ifNoneMatch, std::string_view tag);

// Whether an If-Range value still names the version the client holds: an
// entity tag equal to `tag` by strong comparison (a weak tag never holds), or
// an HTTP date equal to `lastModified` (Unix seconds) to the second. Anything
// else, an unreadable date included, does not hold.
bool IfRangeHolds(std::string_view ifRange, std::string_view tag, std::optional<int64_t> lastModified);

// One requested byte range as written: "first-last", "first-" (to the end) or
// "-suffix" (the last `suffix` bytes). Offsets count from 0.
struct ByteRangeSpec {
  std::optional<int64_t> first;
  std::optional<int64_t> last;    // with `first`: the last offset; without: the suffix length
};

// What a Range header asks of the server.
enum class RangeHeader {
  None,      // no header, another unit or a malformed value: the whole file
  Single,    // one range, read into the ByteRangeSpec
  Several,   // a list of ranges: answered with the whole file
};

// Reads a Range header value ("bytes=a-b", "bytes=a-", "bytes=-n"; the unit's
// letter case and blanks around the parts are free). Numbers too large for 64
// bits are held at the largest value (such a range lies outside any file).
RangeHeader ParseRangeHeader(std::string_view value, ByteRangeSpec& spec);

// A range resolved against a file of `total` bytes.
struct ResolvedRange {
  bool satisfiable = false;  // false: 416 with "bytes */total"
  int64_t first = 0;
  int64_t last = -1;         // inclusive
  int64_t Length() const { return satisfiable ? last - first + 1 : 0; }
};

// Resolves `spec` against `total` bytes: an end past the last byte is cut to
// it, a suffix longer than the file is the whole file; a start at or past the
// end, an end before the start, a suffix of 0 and any range of an empty file
// cannot be satisfied. Nothing outside [0, total) is ever named.
ResolvedRange ResolveByteRange(const ByteRangeSpec& spec, int64_t total);

// "bytes first-last/total", or "bytes */total" for an unsatisfiable range.
std::string ContentRangeValue(const ResolvedRange& range, int64_t total);

// The request headers that make a request for a file conditional (empty when
// absent).
struct ConditionalHeaders {
  std::string_view ifNoneMatch;
  std::string_view ifModifiedSince;
  std::string_view range;
  std::string_view ifRange;
};

// What a file answers: 200 with the whole file, 206 with `range`, 304 without
// a body, or 416 with "bytes */size".
struct FileAnswer {
  int status = 200;
  ResolvedRange range;  // for 206 (and 416: unsatisfiable)
};

// The answer to a GET or HEAD of a file whose entity tag is `tag`, last
// modified at `lastModified` (Unix seconds) and `size` bytes long:
// - If-None-Match, when present, decides 304 alone (If-Modified-Since is then
//   ignored); otherwise If-Modified-Since equal to the Last-Modified date to
//   the second gives 304 (an exact match, as nginx does by default: a file
//   replaced by an older copy is not taken for the cached one);
// - then one byte range gives 206 or 416, unless If-Range no longer holds;
//   several ranges and malformed ones give the whole file.
FileAnswer DecideFileAnswer(const ConditionalHeaders& headers, std::string_view tag, int64_t lastModified,
                            int64_t size);

}  // namespace torvane
