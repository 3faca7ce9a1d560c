#include "automation/variant.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "automation/object.h"
#include "support/thrown_error.h"

namespace torvane {
namespace {

using test::ThrownError;

struct IntCase {
  Variant in;
  int32_t want;
};

TEST(VariantConversion, ToInt32Succeeds) {
  std::vector<IntCase> cases = {
      {Variant("12"), 12},          {Variant(" -7 "), -7},        {Variant(true), -1},
      {Variant(false), 0},          {Variant(2.5), 2},            {Variant(3.5), 4},
      {Variant(), 0},               {Variant("&H1F"), 31},        {Variant("1e3"), 1000},
      {Variant::I8(2147483647), 2147483647},
  };
  for (const auto& c : cases) EXPECT_EQ(c.in.toInt32(), c.want) << c.in.toString();
}

TEST(VariantConversion, FailuresCarryAutomationNumbers) {
  struct Bad {
    Variant in;
    int32_t number;
  };
  std::vector<Bad> cases = {
      {Variant("abc"), 13}, {Variant("12x"), 13}, {Variant(""), 13},
      {Variant("99999999999"), 6}, {Variant(3e10), 6}, {Variant::I8(5000000000LL), 6},
      {Variant::Null(), 94}, {Variant(Bytes{1, 2}), 13},
  };
  for (const auto& c : cases) {
    Error e = ThrownError([&] { c.in.toInt32(); });
    EXPECT_EQ(e.number, c.number);
  }
}

TEST(VariantConversion, SixtyFourBitSizesSurvive) {
  Variant v(int64_t{5000000000});
  EXPECT_EQ(v.type(), VType::I8);
  EXPECT_EQ(v.toInt64(), 5000000000);
  EXPECT_EQ(v.toString(), "5000000000");
  EXPECT_EQ(Variant("5368709120").toInt64(), 5368709120);
  EXPECT_EQ(Variant(int64_t{7}).type(), VType::I4);
}

TEST(VariantConversion, StringsOfEveryKind) {
  EXPECT_EQ(Variant(true).toString(), "True");
  EXPECT_EQ(Variant(false).toString(), "False");
  EXPECT_EQ(Variant(int32_t{-3}).toString(), "-3");
  EXPECT_EQ(Variant(1.5).toString(), "1.5");
  EXPECT_EQ(Variant(2.0).toString(), "2");
  EXPECT_EQ(Variant().toString(), "");
  EXPECT_THROW(Variant::Null().toString(), Error);
}

TEST(VariantConversion, BooleansFromText) {
  EXPECT_TRUE(Variant("True").toBool());
  EXPECT_TRUE(Variant("true").toBool());
  EXPECT_FALSE(Variant("False").toBool());
  EXPECT_TRUE(Variant("-1").toBool());
  EXPECT_FALSE(Variant("0").toBool());
  EXPECT_THROW(Variant("yes").toBool(), Error);
}

TEST(VariantDate, TextRoundTrip) {
  double d = DateFromText("2024-07-01 13:05:09");
  EXPECT_EQ(DateToText(d), "2024-07-01 13:05:09");
  EXPECT_EQ(Variant::Date(d).toString(), "2024-07-01 13:05:09");
  EXPECT_EQ(DateToText(DateFromText("08:30:00")), "08:30:00");
  EXPECT_DOUBLE_EQ(DateFromText("1899-12-31"), 1.0);
  EXPECT_DOUBLE_EQ(DateFromText("1900-01-01 12:00:00"), 2.5);
  EXPECT_THROW(DateFromText("2024-13-01"), Error);
  EXPECT_THROW(DateFromText("not a date"), Error);
}

TEST(VariantDate, UnixRoundTripUsesOffsetAtThatDate) {
  const char* old = getenv("TZ");
  std::string saved = old ? old : "";
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  // 2024-01-15 12:00 UTC is 13:00 in Berlin (winter), 2024-07-15 12:00 UTC is 14:00 (summer).
  EXPECT_EQ(DateToText(DateFromUnix(1705320000)), "2024-01-15 13:00:00");
  EXPECT_EQ(DateToText(DateFromUnix(1721044800)), "2024-07-15 14:00:00");
  EXPECT_EQ(UnixFromDate(DateFromUnix(1721044800)), 1721044800);
  if (old) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
  tzset();
}

TEST(VariantCopy, ArraysAndBytesAreValues) {
  VArray arr;
  arr.items = {Variant(1), Variant("x")};
  Variant a(arr);
  Variant b = a;
  b.array().items[0] = Variant(9);
  EXPECT_EQ(a.array().items[0].toInt32(), 1);
  Variant bytes(Bytes{1, 2, 3});
  Variant c = bytes;
  c.bytes()[0] = 7;
  EXPECT_EQ(bytes.bytes()[0], 1);
}

}  // namespace
}  // namespace torvane
