// The sorting routines of Directory: a gap-shrinking exchange sort (CombSort,
// used by the listing), an insertion sort and a quicksort with its partition
// step (reachable from pages). All four sort an index array B by the keys
// A(B(i)) and rearrange only B; A is never changed.
//
// Both arrays keep their own lower bounds: B(i) is the item at position i of B,
// A(k) the item at position k of A. A position outside an array fails with 9
// "Subscript out of range". The values of B are moved as they are (their type
// stays); only their 32-bit integer value is used to index A.
//
// Key comparison follows the automation run time's rules for two values:
// numbers, booleans and dates by value; two strings code unit by code unit of
// their UTF-16 form (letter case matters); a number is less than a string;
// Empty counts as 0 against a number and as "" against a string; two Empty
// values are equal; an object compares by its default value. A comparison with
// Null has no result, so every test on it is false.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "automation/variant.h"
#include "basics/utf8.h"  // UpperText: the listing's text keys

namespace torvane {

enum class KeyOrder { Less, Equal, Greater, Unknown };

// Compares two keys by the rules above. Arrays and byte arrays fail with 13.
KeyOrder CompareKeys(const Variant& a, const Variant& b);

// Ascending comb sort of B(lb..ub) with gap = trunc(gap / 1.3), gaps 9 and 10
// replaced by 11 and 0 by 1, until a pass of gap 1 exchanges nothing.
// `onPass`, when given, sees the gap of every pass (diagnostics and tests).
void CombSort(const VArray& a, VArray& b, int32_t lb, int32_t ub,
              const std::function<void(int32_t gap)>& onPass = nullptr);

// Ascending, stable insertion sort of B(lb..ub).
void InsertSort(const VArray& a, VArray& b, int32_t lb, int32_t ub);

// The partition step: returns the final position of the pivot (the middle
// position's key); keys left of it are <= the pivot, keys right of it >=.
int32_t Partition(const VArray& a, VArray& b, int32_t lb, int32_t ub);

// Ascending quicksort of B(lb..ub): ranges of 13 positions or fewer go to
// InsertSort; it recurses into the smaller part and loops on the larger one.
// `onInsertSort`, when given, sees each range handed to InsertSort.
void QuickSort(const VArray& a, VArray& b, int32_t lb, int32_t ub,
               const std::function<void(int32_t lb, int32_t ub)>& onInsertSort = nullptr);

}  // namespace torvane
