#include "dirs/sorting.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <random>

#include "dirs/directory.h"
#include "support/thrown_error.h"

namespace torvane {
namespace {

using test::ThrownError;

VArray Keys(std::vector<Variant> items, int32_t lbound = 1) { return VArray{lbound, std::move(items)}; }

VArray Identity(int32_t n, int32_t lbound = 1, int32_t firstValue = 1) {
  VArray b{lbound, {}};
  for (int32_t i = 0; i < n; ++i) b.items.emplace_back(firstValue + i);
  return b;
}

std::vector<int32_t> Values(const VArray& b) {
  std::vector<int32_t> out;
  for (const auto& v : b.items) out.push_back(v.toInt32());
  return out;
}

VArray IntKeys(const std::vector<int>& v, int32_t lbound = 1) {
  VArray a{lbound, {}};
  for (int x : v) a.items.emplace_back(int32_t{x});
  return a;
}

// Keys in B's order.
std::vector<int> Sorted(const VArray& a, const VArray& b) {
  std::vector<int> out;
  for (const auto& v : b.items) out.push_back(a.items[static_cast<size_t>(v.toInt32() - a.lbound)].toInt32());
  return out;
}

// ---- key comparison -------------------------------------------------------------

struct CompareCase {
  Variant a, b;
  KeyOrder want;
  const char* what;
};

TEST(CompareKeys, AutomationComparisonRules) {
  std::vector<CompareCase> cases = {
      {Variant(int32_t{9}), Variant(int32_t{10}), KeyOrder::Less, "numbers by value"},
      {Variant(int64_t{5000000000}), Variant(int32_t{7}), KeyOrder::Greater, "64-bit sizes"},
      {Variant(2.5), Variant(int32_t{2}), KeyOrder::Greater, "double against integer"},
      {Variant(true), Variant(int32_t{0}), KeyOrder::Less, "True is -1"},
      {Variant::Date(45000.5), Variant::Date(45000.25), KeyOrder::Greater, "dates by value"},
      {Variant("a"), Variant("B"), KeyOrder::Greater, "strings by code unit, case matters"},
      {Variant("A.TXT"), Variant("A.TXT"), KeyOrder::Equal, "equal strings"},
      {Variant("AB"), Variant("A"), KeyOrder::Greater, "longer string after its prefix"},
      {Variant("A_"), Variant("AB"), KeyOrder::Greater, "underscore after upper-case letters"},
      // UTF-16 order: U+1F600 is written D83D DE00, which comes before U+FF21.
      {Variant("\xF0\x9F\x98\x80"), Variant("\xEF\xBC\xA1"), KeyOrder::Less, "surrogates before U+E000..U+FFFF"},
      {Variant("\xF0\x9F\x98\x80"), Variant("\xED\x9F\xBF"), KeyOrder::Greater, "surrogates after U+D7FF"},
      {Variant(int32_t{100}), Variant("1"), KeyOrder::Less, "a number is less than a string"},
      {Variant(), Variant(), KeyOrder::Equal, "two Empty values"},
      {Variant(), Variant(int32_t{0}), KeyOrder::Equal, "Empty is 0 against a number"},
      {Variant(), Variant(int32_t{-1}), KeyOrder::Greater, "Empty is 0 against a negative number"},
      {Variant(), Variant(""), KeyOrder::Equal, "Empty is \"\" against a string"},
      {Variant(), Variant("a"), KeyOrder::Less, "Empty before a non-empty string"},
      {Variant::Null(), Variant(int32_t{1}), KeyOrder::Unknown, "Null has no order"},
      {Variant("x"), Variant::Null(), KeyOrder::Unknown, "Null on the right"},
  };
  for (const auto& c : cases) EXPECT_EQ(CompareKeys(c.a, c.b), c.want) << c.what;
  EXPECT_EQ(ThrownError([] { CompareKeys(Variant(VArray{}), Variant(int32_t{1})); }).number, 13);
  EXPECT_EQ(ThrownError([] { CompareKeys(Variant(Bytes{1}), Variant("a")); }).number, 13);
}

TEST(UpperText, SimpleUnicodeMappings) {
  EXPECT_EQ(UpperText("b.txt"), "B.TXT");
  EXPECT_EQ(UpperText("\xC3\xA9t\xC3\xA9"), "\xC3\x89T\xC3\x89");  // été -> ÉTÉ
  EXPECT_EQ(UpperText("\xC3\x9F"), "\xC3\x9F");                      // ß has no simple upper case
  EXPECT_EQ(UpperText("a\xFF" "b"), "A\xFF" "B");                     // a stray byte stays
}

// ---- CombSort -------------------------------------------------------------------------

TEST(CombSort, TwoEntriesMakeOneMorePassAfterAnExchange) {
  VArray a = Keys({Variant("B"), Variant("A")});
  VArray b = Identity(2);
  std::vector<int32_t> gaps;
  CombSort(a, b, 1, 2, [&](int32_t g) { gaps.push_back(g); });
  EXPECT_EQ(gaps, (std::vector<int32_t>{1, 1}));
  EXPECT_EQ(Values(b), (std::vector<int32_t>{2, 1}));

  VArray sortedB = Identity(2);
  gaps.clear();
  VArray ordered = Keys({Variant("A"), Variant("B")});
  CombSort(ordered, sortedB, 1, 2, [&](int32_t g) { gaps.push_back(g); });
  EXPECT_EQ(gaps, (std::vector<int32_t>{1}));
}

TEST(CombSort, TwelveEntriesUseElevenThenShrinkingGaps) {
  std::vector<int> keys = {12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
  VArray a = IntKeys(keys);
  VArray b = Identity(12);
  std::vector<int32_t> gaps;
  CombSort(a, b, 1, 12, [&](int32_t g) { gaps.push_back(g); });
  ASSERT_GE(gaps.size(), 8u);
  EXPECT_EQ(std::vector<int32_t>(gaps.begin(), gaps.begin() + 7), (std::vector<int32_t>{11, 8, 6, 4, 3, 2, 1}));
  for (size_t i = 7; i < gaps.size(); ++i) EXPECT_EQ(gaps[i], 1);
  EXPECT_EQ(Sorted(a, b), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
}

TEST(CombSort, NoGapIsNineOrTen) {
  for (int32_t n : {12, 13, 14, 15, 100, 1000}) {
    VArray a = IntKeys(std::vector<int>(static_cast<size_t>(n), 0));
    VArray b = Identity(n);
    CombSort(a, b, 1, n, [&](int32_t g) {
      EXPECT_NE(g, 9) << n;
      EXPECT_NE(g, 10) << n;
    });
  }
}

TEST(CombSort, EqualKeysCanChangeOrderThroughLargerGaps) {
  // Gap 2 exchanges positions 1 and 3; the two equal keys end up reversed.
  VArray a = IntKeys({2, 1, 1});
  VArray b = Identity(3);
  CombSort(a, b, 1, 3);
  EXPECT_EQ(Values(b), (std::vector<int32_t>{3, 2, 1}));
}

TEST(CombSort, SortsAnyInputAndLeavesKeysAlone) {
  std::mt19937 rng(7);
  for (int n : {1, 2, 3, 5, 12, 13, 31, 200}) {
    std::vector<int> keys(static_cast<size_t>(n));
    for (auto& k : keys) k = static_cast<int>(rng() % 20);
    VArray a = IntKeys(keys);
    VArray b = Identity(n);
    CombSort(a, b, 1, n);
    auto got = Sorted(a, b);
    auto want = keys;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want) << n;
    auto perm = Values(b);
    std::sort(perm.begin(), perm.end());
    EXPECT_EQ(perm, Values(Identity(n))) << n;
    EXPECT_EQ(Values(a), std::vector<int32_t>(keys.begin(), keys.end()));
  }
}

// ---- InsertSort, Partition, QuickSort ---------------------------------------------------

TEST(InsertSort, StableForEqualKeys) {
  VArray a = Keys({Variant("b"), Variant("a"), Variant("b"), Variant("a"), Variant("a")});
  VArray b = Identity(5);
  InsertSort(a, b, 1, 5);
  EXPECT_EQ(Values(b), (std::vector<int32_t>{2, 4, 5, 1, 3}));
}

TEST(InsertSort, SortsOnlyTheGivenRange) {
  VArray a = IntKeys({5, 4, 3, 2, 1});
  VArray b = Identity(5);
  InsertSort(a, b, 2, 4);
  EXPECT_EQ(Values(b), (std::vector<int32_t>{1, 4, 3, 2, 5}));
  VArray untouched = Identity(5);
  InsertSort(a, untouched, 3, 3);
  InsertSort(a, untouched, 4, 2);
  EXPECT_EQ(Values(untouched), Values(Identity(5)));
}

TEST(Partition, PivotSplitsTheRange) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 200; ++trial) {
    int n = 2 + static_cast<int>(rng() % 40);
    std::vector<int> keys(static_cast<size_t>(n));
    for (auto& k : keys) k = static_cast<int>(rng() % 10);
    VArray a = IntKeys(keys);
    VArray b = Identity(n);
    int pivotKey = keys[static_cast<size_t>((1 + (n - 1) / 2) - 1)];
    int32_t m = Partition(a, b, 1, n);
    auto got = Sorted(a, b);
    ASSERT_GE(m, 1);
    ASSERT_LE(m, n);
    EXPECT_EQ(got[static_cast<size_t>(m - 1)], pivotKey);
    for (int i = 0; i < m - 1; ++i) EXPECT_LE(got[static_cast<size_t>(i)], pivotKey);
    for (int i = m; i < n; ++i) EXPECT_GE(got[static_cast<size_t>(i)], pivotKey);
  }
}

TEST(QuickSort, ThirteenPositionsAreOneInsertSort) {
  std::vector<int> keys = {13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
  VArray a = IntKeys(keys);
  VArray b = Identity(13);
  std::vector<std::pair<int32_t, int32_t>> ranges;
  QuickSort(a, b, 1, 13, [&](int32_t lb, int32_t ub) { ranges.emplace_back(lb, ub); });
  EXPECT_EQ(ranges, (std::vector<std::pair<int32_t, int32_t>>{{1, 13}}));
  EXPECT_EQ(Sorted(a, b), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}));
}

TEST(QuickSort, FourteenPositionsPartitionFirst) {
  std::vector<int> keys = {14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1};
  VArray a = IntKeys(keys);
  VArray b = Identity(14);
  std::vector<std::pair<int32_t, int32_t>> ranges;
  QuickSort(a, b, 1, 14, [&](int32_t lb, int32_t ub) { ranges.emplace_back(lb, ub); });
  ASSERT_FALSE(ranges.empty());
  for (const auto& [lb, ub] : ranges) EXPECT_LT(ub - lb, 13) << lb << ".." << ub;
  EXPECT_EQ(Sorted(a, b), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
}

TEST(QuickSort, SortsRandomInputWithAnyLowerBound) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 50; ++trial) {
    int n = 1 + static_cast<int>(rng() % 300);
    std::vector<int> keys(static_cast<size_t>(n));
    for (auto& k : keys) k = static_cast<int>(rng() % 50);
    // Keys based at 0, index array based at 5 and holding 0-based positions.
    VArray a = IntKeys(keys, 0);
    VArray b = Identity(n, 5, 0);
    QuickSort(a, b, 5, 5 + n - 1);
    auto want = keys;
    std::sort(want.begin(), want.end());
    EXPECT_EQ(Sorted(a, b), want);
  }
}

TEST(QuickSort, AlreadySortedAndAllEqualInputs) {
  for (bool equal : {false, true}) {
    std::vector<int> keys(5000);
    for (size_t i = 0; i < keys.size(); ++i) keys[i] = equal ? 7 : static_cast<int>(i);
    VArray a = IntKeys(keys);
    VArray b = Identity(5000);
    QuickSort(a, b, 1, 5000);
    EXPECT_EQ(Sorted(a, b), keys);
  }
}

TEST(SortRoutines, PositionsOutsideAnArrayFailWithSubscriptError) {
  VArray a = IntKeys({3, 2, 1});
  VArray b = Identity(3);
  EXPECT_EQ(ThrownError([&] { InsertSort(a, b, 1, 4); }).number, 9);
  VArray wild{1, {Variant(int32_t{1}), Variant(int32_t{7})}};
  EXPECT_EQ(ThrownError([&] { InsertSort(a, wild, 1, 2); }).number, 9);
  VArray bad{1, {Variant(int32_t{1}), Variant("x")}};
  EXPECT_EQ(ThrownError([&] { CombSort(a, bad, 1, 2); }).number, 13);
}

// ---- reachable from pages -----------------------------------------------------------------

TEST(DirectorySortMembers, IndexArrayArgumentIsRearrangedInPlace) {
  auto dir = Directory::New();
  for (const char* member : {"QuickSort", "InsertSort"}) {
    VArray a{0, {Variant("pear"), Variant("apple"), Variant("fig"), Variant("apple")}};
    // A page's numbers arrive as doubles; they keep their type when moved.
    VArray b{0, {Variant(0.0), Variant(1.0), Variant(2.0), Variant(3.0)}};
    Args args{Variant(a), Variant(b), Variant(int32_t{0}), Variant(int32_t{3})};
    EXPECT_TRUE(dir->Invoke(member, CallKind::Method, args).isEmpty());
    ASSERT_EQ(args.size(), 4u);
    const VArray& out = args[1].array();
    EXPECT_EQ(Values(out), (std::vector<int32_t>{1, 3, 2, 0})) << member;
    EXPECT_EQ(out.items[0].type(), VType::Double);
    EXPECT_EQ(args[0].array().items[0].toString(), "pear");  // keys unchanged
  }
}

TEST(DirectorySortMembers, ArgumentErrors) {
  auto dir = Directory::New();
  Args notArray{Variant("x"), Variant(VArray{0, {}}), Variant(int32_t{0}), Variant(int32_t{0})};
  EXPECT_EQ(ThrownError([&] { dir->Invoke("QuickSort", CallKind::Method, notArray); }).number, 13);
  Args tooFew{Variant(VArray{}), Variant(VArray{})};
  EXPECT_EQ(ThrownError([&] { dir->Invoke("InsertSort", CallKind::Method, tooFew); }).number, 449);
  Args outside{Variant(VArray{0, {Variant(int32_t{1})}}), Variant(VArray{0, {Variant(int32_t{0})}}),
               Variant(int32_t{0}), Variant(int32_t{20})};
  EXPECT_EQ(ThrownError([&] { dir->Invoke("QuickSort", CallKind::Method, outside); }).number, 9);
}

}  // namespace
}  // namespace torvane
