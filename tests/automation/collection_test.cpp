#include "automation/collection.h"

#include <gtest/gtest.h>

#include "support/thrown_error.h"

namespace torvane {
namespace {

using test::ThrownError;

TEST(KeyedCollection, PositionsAndKeysWithoutCase) {
  KeyedCollection c;
  c.Add(Variant("one"), Variant("comment"));
  c.Add(Variant("two"));
  c.Add(Variant("three"), Variant("Last"));
  EXPECT_EQ(c.Count(), 3);
  EXPECT_EQ(c.Item(Variant("COMMENT")).toString(), "one");
  EXPECT_EQ(c.Item(Variant(2)).toString(), "two");
  // A string is always a key, even when it reads as a number.
  EXPECT_EQ(ThrownError([&] { c.Item(Variant("2")); }).number, 5);
}

TEST(KeyedCollection, ErrorsForBadIndexes) {
  KeyedCollection c;
  c.Add(Variant("a"), Variant("k"));
  EXPECT_EQ(ThrownError([&] { c.Item(Variant(0)); }).number, 9);
  EXPECT_EQ(ThrownError([&] { c.Item(Variant(2)); }).number, 9);
  EXPECT_EQ(ThrownError([&] { c.Item(Variant("missing")); }).number, 5);
  EXPECT_EQ(ThrownError([&] { c.Add(Variant("b"), Variant("K")); }).number, 457);
  EXPECT_EQ(c.Count(), 1);
  EXPECT_EQ(ThrownError([&] { c.Remove(Variant(5)); }).number, 9);
  EXPECT_EQ(ThrownError([&] { c.Remove(Variant("nope")); }).number, 5);
}

TEST(KeyedCollection, BeforeAndAfterKeepKeysFindable) {
  KeyedCollection c;
  c.Add(Variant("a"), Variant("a"));
  c.Add(Variant("c"), Variant("c"));
  c.Add(Variant("b"), Variant("b"), Variant(2));          // before position 2
  c.Add(Variant("d"), Variant("d"), Variant::Missing(), Variant("c"));  // after key c
  c.Add(Variant("first"), Variant::Missing(), Variant("A"));
  std::vector<std::string> order;
  for (int i = 1; i <= c.Count(); ++i) order.push_back(c.Item(Variant(i)).toString());
  EXPECT_EQ(order, (std::vector<std::string>{"first", "a", "b", "c", "d"}));
  EXPECT_EQ(c.Item(Variant("c")).toString(), "c");
  c.Remove(Variant("b"));
  EXPECT_EQ(c.Item(Variant("d")).toString(), "d");
  EXPECT_EQ(c.Item(Variant(3)).toString(), "c");
  EXPECT_FALSE(c.HasKey("b"));
  EXPECT_EQ(ThrownError([&] { c.Add(Variant("x"), Variant::Missing(), Variant(1), Variant(2)); }).number, 5);
}

TEST(Enumerator, WalksInOrder) {
  KeyedCollection c;
  c.Add(Variant("x"));
  c.Add(Variant("y"));
  Enumerator e(c.Snapshot());
  Variant v;
  std::string seen;
  while (e.Next(v)) seen += v.toString();
  EXPECT_EQ(seen, "xy");
  EXPECT_TRUE(e.AtEnd());
  e.Reset();
  EXPECT_EQ(e.Current().toString(), "x");
}

}  // namespace
}  // namespace torvane
