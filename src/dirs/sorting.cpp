#include "dirs/sorting.h"

#include <utility>

#include "basics/utf8.h"

namespace torvane {

namespace {

// The position of a code point in UTF-16 code-unit order: characters above
// U+FFFF are written with surrogates (D800..DBFF first), which sort after
// U+D7FF and before U+E000.
uint32_t Utf16Rank(char32_t cp) {
  if (cp >= 0xE000 && cp <= 0xFFFF) return cp + 0x110000;
  return cp;
}

KeyOrder CompareText(std::string_view a, std::string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    char32_t ca = NextCodePoint(a, i), cb = NextCodePoint(b, j);
    if (ca == cb) continue;
    // Two characters above U+FFFF compare by their surrogate pairs, which keep
    // code-point order; Utf16Rank places them against the others.
    return Utf16Rank(ca) < Utf16Rank(cb) ? KeyOrder::Less : KeyOrder::Greater;
  }
  if (i < a.size()) return KeyOrder::Greater;
  if (j < b.size()) return KeyOrder::Less;
  return KeyOrder::Equal;
}

bool IsIntegral(VType t) { return t == VType::I2 || t == VType::I4 || t == VType::I8 || t == VType::Bool; }
bool IsNumberLike(VType t) { return IsIntegral(t) || t == VType::Double || t == VType::Date; }

template <class T>
KeyOrder Order(T a, T b) {
  return a < b ? KeyOrder::Less : (b < a ? KeyOrder::Greater : KeyOrder::Equal);
}

KeyOrder CompareNumbers(const Variant& a, const Variant& b) {
  if (IsIntegral(a.type()) && IsIntegral(b.type())) return Order(a.toInt64(), b.toInt64());
  double x = a.toDouble(), y = b.toDouble();
  if (x != x || y != y) return KeyOrder::Unknown;
  return Order(x, y);
}

const Variant& At(const VArray& arr, int64_t pos) {
  int64_t i = pos - arr.lbound;
  if (i < 0 || i >= static_cast<int64_t>(arr.items.size())) ThrowPlatform(err::SubscriptRange);
  return arr.items[static_cast<size_t>(i)];
}

Variant& At(VArray& arr, int64_t pos) {
  return const_cast<Variant&>(At(static_cast<const VArray&>(arr), pos));
}

// A(B(pos)).
const Variant& KeyAt(const VArray& a, const VArray& b, int64_t pos) { return At(a, At(b, pos).toInt32()); }

bool Greater(const Variant& x, const Variant& y) { return CompareKeys(x, y) == KeyOrder::Greater; }

// x <= y; no result (Null) is false.
bool LessOrEqual(const Variant& x, const Variant& y) {
  KeyOrder o = CompareKeys(x, y);
  return o == KeyOrder::Less || o == KeyOrder::Equal;
}

// Not (x <= y); the negation of no result is no result, so false as well.
bool NotLessOrEqual(const Variant& x, const Variant& y) { return CompareKeys(x, y) == KeyOrder::Greater; }

void Exchange(VArray& b, int64_t i, int64_t j) { std::swap(At(b, i), At(b, j)); }

}  // namespace

KeyOrder CompareKeys(const Variant& a0, const Variant& b0) {
  const Variant a = a0.isObject() ? a0.resolved() : a0;
  const Variant b = b0.isObject() ? b0.resolved() : b0;
  if (a.isNull() || b.isNull()) return KeyOrder::Unknown;
  auto comparable = [](const Variant& v) { return v.isEmpty() || v.isString() || IsNumberLike(v.type()); };
  if (!comparable(a) || !comparable(b)) ThrowPlatform(err::TypeMismatch);
  if (a.isEmpty() && b.isEmpty()) return KeyOrder::Equal;
  if (a.isString() || b.isString()) {
    if (a.isString() && b.isString()) return CompareText(a.str(), b.str());
    if (a.isEmpty()) return CompareText("", b.str());
    if (b.isEmpty()) return CompareText(a.str(), "");
    return a.isString() ? KeyOrder::Greater : KeyOrder::Less;  // a number is less than a string
  }
  if (a.isEmpty()) return CompareNumbers(Variant(int32_t{0}), b);
  if (b.isEmpty()) return CompareNumbers(a, Variant(int32_t{0}));
  return CompareNumbers(a, b);
}

void CombSort(const VArray& a, VArray& b, int32_t lb, int32_t ub, const std::function<void(int32_t)>& onPass) {
  int64_t n = static_cast<int64_t>(ub) - lb + 1;
  if (n < 2) return;
  int64_t gap = n;
  bool swapped = false;
  do {
    gap = static_cast<int64_t>(static_cast<double>(gap) / 1.3);
    if (gap == 0) gap = 1;
    if (gap == 9 || gap == 10) gap = 11;
    if (onPass) onPass(static_cast<int32_t>(gap));
    swapped = false;
    for (int64_t i = lb; i <= static_cast<int64_t>(ub) - gap; ++i) {
      if (Greater(KeyAt(a, b, i), KeyAt(a, b, i + gap))) {
        Exchange(b, i, i + gap);
        swapped = true;
      }
    }
  } while (swapped || gap > 1);
}

void InsertSort(const VArray& a, VArray& b, int32_t lb, int32_t ub) {
  for (int64_t i = static_cast<int64_t>(lb) + 1; i <= ub; ++i) {
    Variant t = KeyAt(a, b, i);
    Variant tb = At(b, i);
    int64_t j = i - 1;
    while (j >= lb) {
      if (LessOrEqual(KeyAt(a, b, j), t)) break;
      At(b, j + 1) = At(b, j);
      --j;
    }
    At(b, j + 1) = std::move(tb);
  }
}

int32_t Partition(const VArray& a, VArray& b, int32_t lb, int32_t ub) {
  int64_t p = static_cast<int64_t>(lb) + (static_cast<int64_t>(ub) - lb) / 2;
  Variant pivot = KeyAt(a, b, p);
  Variant saved = At(b, p);
  At(b, p) = At(b, lb);
  int64_t i = static_cast<int64_t>(lb) + 1;
  int64_t j = ub;
  while (true) {
    // Both sides of each test are evaluated, as the run time does, so a bad
    // position fails the same way whichever side decides.
    while (true) {
      bool inRange = i < j;
      bool below = NotLessOrEqual(pivot, KeyAt(a, b, i));
      if (!(inRange && below)) break;
      ++i;
    }
    while (true) {
      bool inRange = j >= i;
      bool above = NotLessOrEqual(KeyAt(a, b, j), pivot);
      if (!(inRange && above)) break;
      --j;
    }
    if (i >= j) break;
    Exchange(b, i, j);
    --j;
    ++i;
  }
  At(b, lb) = At(b, j);
  At(b, j) = std::move(saved);
  return static_cast<int32_t>(j);
}

void QuickSort(const VArray& a, VArray& b, int32_t lb, int32_t ub,
               const std::function<void(int32_t, int32_t)>& onInsertSort) {
  while (lb < ub) {
    if (static_cast<int64_t>(ub) - lb <= 12) {
      if (onInsertSort) onInsertSort(lb, ub);
      InsertSort(a, b, lb, ub);
      return;
    }
    int32_t m = Partition(a, b, lb, ub);
    if (static_cast<int64_t>(m) - lb <= static_cast<int64_t>(ub) - m) {
      QuickSort(a, b, lb, m - 1, onInsertSort);
      lb = m + 1;
    } else {
      QuickSort(a, b, m + 1, ub, onInsertSort);
      ub = m - 1;
    }
  }
}

}  // namespace torvane
