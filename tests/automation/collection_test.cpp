#include "automation/collection.h"

#include <gtest/gtest.h>

namespace torvane {
namespace {

int32_t ErrorOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const Error& e) {
    return e.number;
  }
  return 0;
}

int32_t ErrorOf(const std::function<void()>& fn);

TEST(KeyedCollection, PositionsAndKeysWithoutCase) {
  KeyedCollection c;
  c.Add(Variant("one"), Variant("comment"));
  c.Add(Variant("two"));
  c.Add(Variant("three"), Variant("Last"));
  EXPECT_EQ(c.Count(), 3);
  EXPECT_EQ(c.Item(Variant("COMMENT")).toString(), "one");
  EXPECT_EQ(c.Item(Variant(2)).toString(), "two");
  // A string is always a key, even when it reads as a number.
  EXPECT_EQ(ErrorOf([&] { c.Item(Variant("2")); }), 5);
}

TEST(KeyedCollection, ErrorsForBadIndexes) {
  KeyedCollection c;
  c.Add(Variant("a"), Variant("k"));
  EXPECT_EQ(ErrorOf([&] { c.Item(Variant(0)); }), 9);
  EXPECT_EQ(ErrorOf([&] { c.Item(Variant(2)); }), 9);
  EXPECT_EQ(ErrorOf([&] { c.Item(Variant("missing")); }), 5);
  EXPECT_EQ(ErrorOf([&] { c.Add(Variant("b"), Variant("K")); }), 457);
  EXPECT_EQ(c.Count(), 1);
  EXPECT_EQ(ErrorOf([&] { c.Remove(Variant(5)); }), 9);
  EXPECT_EQ(ErrorOf([&] { c.Remove(Variant("nope")); }), 5);
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
  EXPECT_EQ(ErrorOf([&] { c.Add(Variant("x"), Variant::Missing(), Variant(1), Variant(2)); }), 5);
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
