// The conditional and range decision shared by static files and File.Download.
#include "basics/http_conditional.h"

#include <gtest/gtest.h>

#include "basics/http_date.h"

namespace torvane {
namespace {

constexpr int64_t kMtime = 1700000000;  // Tue, 14 Nov 2023 22:13:20 GMT
constexpr int64_t kSize = 1000;
const std::string kTag = FileEntityTag(kMtime, kSize);
const std::string kDate = FormatHttpTime(kMtime);

TEST(HttpConditional, EntityTagIsQuotedHexOfTimeAndSize) {
  EXPECT_EQ(FileEntityTag(0x6553f100, 1000), "\"6553f100-3e8\"");
  EXPECT_EQ(FileEntityTag(0, 0), "\"0-0\"");
  EXPECT_NE(FileEntityTag(kMtime, kSize), FileEntityTag(kMtime + 1, kSize));
  EXPECT_NE(FileEntityTag(kMtime, kSize), FileEntityTag(kMtime, kSize + 1));
}

TEST(HttpConditional, NoneMatchListsStarAndWeakComparison) {
  struct Case {
    std::string header;
    bool hits;
  };
  const Case cases[] = {
      {kTag, true},
      {"*", true},
      {" * ", true},
      {"W/" + kTag, true},                        // weak comparison for GET
      {"\"other\", " + kTag, true},               // anywhere in a list
      {"\"a\",\"b\" ,\t" + kTag + " ", true},
      {"\"other\"", false},
      {"\"6553f101-3e8\"", false},                // another version
      {kTag.substr(1, kTag.size() - 2), false},   // unquoted is no entity tag
      {"\"unclosed, " + kTag, false},             // a malformed list names nothing
      {"", false},
      {"**", false},
  };
  for (const auto& c : cases) EXPECT_EQ(NoneMatchHits(c.header, kTag), c.hits) << c.header;
  // A weak tag on the server's side compares weakly too.
  EXPECT_TRUE(NoneMatchHits(kTag, "W/" + kTag));
}

TEST(HttpConditional, IfRangeNeedsTheSameTagStronglyOrTheSameDate) {
  struct Case {
    std::string header;
    bool holds;
  };
  const Case cases[] = {
      {kTag, true},
      {kDate, true},
      {" " + kTag + " ", true},
      {"W/" + kTag, false},               // a weak tag never holds a range
      {"\"other\"", false},
      {FormatHttpTime(kMtime + 1), false},
      {FormatHttpTime(kMtime - 1), false},
      {"yesterday", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IfRangeHolds(c.header, kTag, kMtime), c.holds) << c.header;
  EXPECT_FALSE(IfRangeHolds(kDate, kTag, std::nullopt));  // no date of our own to compare with
}

TEST(HttpConditional, RangeHeaderSyntax) {
  struct Case {
    const char* header;
    RangeHeader kind;
    std::optional<int64_t> first, last;
  };
  const Case cases[] = {
      {"bytes=0-99", RangeHeader::Single, 0, 99},
      {"bytes=100-", RangeHeader::Single, 100, std::nullopt},
      {"bytes=-100", RangeHeader::Single, std::nullopt, 100},
      {"Bytes = 5 - 7 ", RangeHeader::Single, 5, 7},
      {"bytes=99999999999999999999999-", RangeHeader::Single, INT64_MAX, std::nullopt},
      {"bytes=0-1,5-6", RangeHeader::Several, std::nullopt, std::nullopt},
      {"bytes=-", RangeHeader::None, std::nullopt, std::nullopt},
      {"bytes=5", RangeHeader::None, std::nullopt, std::nullopt},
      {"bytes=a-5", RangeHeader::None, std::nullopt, std::nullopt},
      {"bytes=5-x", RangeHeader::None, std::nullopt, std::nullopt},
      {"bytes=-5-6", RangeHeader::None, std::nullopt, std::nullopt},
      {"bytes=+5-6", RangeHeader::None, std::nullopt, std::nullopt},
      {"items=0-5", RangeHeader::None, std::nullopt, std::nullopt},
      {"bytes0-5", RangeHeader::None, std::nullopt, std::nullopt},
      {"", RangeHeader::None, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    ByteRangeSpec spec{1, 2};
    EXPECT_EQ(ParseRangeHeader(c.header, spec), c.kind) << c.header;
    EXPECT_EQ(spec.first, c.first) << c.header;
    EXPECT_EQ(spec.last, c.last) << c.header;
  }
}

TEST(HttpConditional, RangesResolveInsideTheFileOrNotAtAll) {
  struct Case {
    std::optional<int64_t> first, last;
    int64_t total;
    bool satisfiable;
    int64_t wantFirst, wantLast;
    const char* contentRange;
  };
  const Case cases[] = {
      {0, 99, 1000, true, 0, 99, "bytes 0-99/1000"},
      {100, std::nullopt, 1000, true, 100, 999, "bytes 100-999/1000"},
      {std::nullopt, 100, 1000, true, 900, 999, "bytes 900-999/1000"},
      {999, 999, 1000, true, 999, 999, "bytes 999-999/1000"},
      {900, 5000, 1000, true, 900, 999, "bytes 900-999/1000"},           // end cut to the last byte
      {std::nullopt, 5000, 1000, true, 0, 999, "bytes 0-999/1000"},      // suffix longer than the file
      {900, INT64_MAX, 1000, true, 900, 999, "bytes 900-999/1000"},
      {1000, std::nullopt, 1000, false, 0, -1, "bytes */1000"},          // start at the end
      {INT64_MAX, std::nullopt, 1000, false, 0, -1, "bytes */1000"},
      {500, 100, 1000, false, 0, -1, "bytes */1000"},                    // end before start
      {std::nullopt, 0, 1000, false, 0, -1, "bytes */1000"},             // empty suffix
      {0, std::nullopt, 0, false, 0, -1, "bytes */0"},                   // empty file
      {std::nullopt, 5, 0, false, 0, -1, "bytes */0"},
  };
  for (const auto& c : cases) {
    ResolvedRange r = ResolveByteRange(ByteRangeSpec{c.first, c.last}, c.total);
    std::string name = ContentRangeValue(r, c.total);
    EXPECT_EQ(r.satisfiable, c.satisfiable) << name;
    EXPECT_EQ(r.first, c.wantFirst) << name;
    EXPECT_EQ(r.last, c.wantLast) << name;
    EXPECT_EQ(r.Length(), c.satisfiable ? c.wantLast - c.wantFirst + 1 : 0) << name;
    EXPECT_EQ(name, c.contentRange);
  }
}

TEST(HttpConditional, TheAnswerToAFileRequest) {
  struct Case {
    const char* name;
    ConditionalHeaders h;
    int status;
    int64_t first, length;
  };
  const std::string other = "\"1-1\"";
  const std::string oneSecondLater = FormatHttpTime(kMtime + 1);
  const Case cases[] = {
      {"plain", {}, 200, 0, 0},
      {"if-none-match hit", {kTag, "", "", ""}, 304, 0, 0},
      {"if-none-match star", {"*", "", "", ""}, 304, 0, 0},
      {"if-none-match miss", {other, "", "", ""}, 200, 0, 0},
      {"if-modified-since equal", {"", kDate, "", ""}, 304, 0, 0},
      {"if-modified-since later is no exact match", {"", oneSecondLater, "", ""}, 200, 0, 0},
      {"if-modified-since unreadable", {"", "soon", "", ""}, 200, 0, 0},
      // If-None-Match wins over If-Modified-Since, both ways.
      {"none-match miss beats modified-since hit", {other, kDate, "", ""}, 200, 0, 0},
      {"none-match hit beats modified-since miss", {kTag, oneSecondLater, "", ""}, 304, 0, 0},
      {"304 wins over a range", {kTag, "", "bytes=0-9", ""}, 304, 0, 0},
      {"range", {"", "", "bytes=10-19", ""}, 206, 10, 10},
      {"suffix range", {"", "", "bytes=-10", ""}, 206, 990, 10},
      {"range after a none-match miss", {other, "", "bytes=0-0", ""}, 206, 0, 1},
      {"range outside", {"", "", "bytes=1000-", ""}, 416, 0, 0},
      {"several ranges: whole file", {"", "", "bytes=0-1,3-4", ""}, 200, 0, 0},
      {"malformed range: whole file", {"", "", "bytes=x-1", ""}, 200, 0, 0},
      {"if-range tag holds", {"", "", "bytes=10-19", kTag}, 206, 10, 10},
      {"if-range date holds", {"", "", "bytes=10-19", kDate}, 206, 10, 10},
      {"if-range tag changed", {"", "", "bytes=10-19", other}, 200, 0, 0},
      {"if-range date changed", {"", "", "bytes=10-19", oneSecondLater}, 200, 0, 0},
      {"if-range changed: no 416 either", {"", "", "bytes=5000-", other}, 200, 0, 0},
  };
  for (const auto& c : cases) {
    FileAnswer a = DecideFileAnswer(c.h, kTag, kMtime, kSize);
    EXPECT_EQ(a.status, c.status) << c.name;
    if (a.status == 206) {
      EXPECT_EQ(a.range.first, c.first) << c.name;
      EXPECT_EQ(a.range.Length(), c.length) << c.name;
    }
    if (a.status == 416) {
      EXPECT_FALSE(a.range.satisfiable) << c.name;
    }
  }
}

}  // namespace
}  // namespace torvane
