// The session store: identifiers, isolation, expiry by each session's own
// timeout, abandonment, and the values it refuses.
#include "server/session_store.h"

#include <gtest/gtest.h>

#include <set>

#include "basics/hresult.h"
#include "support/thrown_error.h"

namespace torvane::server {
namespace {

struct SessionStoreTest : ::testing::Test {
  std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
  SessionStore store{20, [this] { return now; }};
  void Advance(int minutes) { now += std::chrono::minutes(minutes); }
};

TEST_F(SessionStoreTest, IdentifiersAreLongRandomAndDistinct) {
  std::set<std::string> seen;
  for (int i = 0; i < 500; ++i) {
    std::string id = store.Create();
    ASSERT_EQ(id.size(), 40u) << id;  // 160 bits
    EXPECT_EQ(id.find_first_not_of("0123456789abcdef"), std::string::npos) << id;
    EXPECT_TRUE(seen.insert(id).second) << "repeated " << id;
  }
}

TEST_F(SessionStoreTest, TwoSessionsNeverSeeEachOthersValues) {
  std::string a = store.Create(), b = store.Create();
  store.SetValue(a, "Name", Variant("alice"));
  store.SetValue(b, "name", Variant("bob"));
  EXPECT_EQ(store.Value(a, "NAME").toString(), "alice");
  EXPECT_EQ(store.Value(b, "Name").toString(), "bob");
  store.Remove(a, "name");
  EXPECT_TRUE(store.Value(a, "name").isEmpty());
  EXPECT_EQ(store.Value(b, "name").toString(), "bob");
  EXPECT_EQ(store.Names(b), std::vector<std::string>{"name"});
}

TEST_F(SessionStoreTest, AnUnusedSessionExpiresAfterItsOwnTimeout) {
  std::string a = store.Create(), b = store.Create();
  store.SetValue(a, "x", Variant(1));
  store.SetValue(b, "x", Variant(2));
  store.SetTimeout(b, 60);
  Advance(19);
  EXPECT_TRUE(store.Touch(a));  // use keeps it alive
  Advance(19);
  EXPECT_EQ(store.Value(a, "x").toInt32(), 1);
  Advance(20);  // 20 minutes since a's last use
  EXPECT_FALSE(store.Touch(a));
  EXPECT_TRUE(store.Value(a, "x").isEmpty());
  EXPECT_EQ(store.Value(b, "x").toInt32(), 2);  // 58 minutes of 60
  Advance(2);
  EXPECT_FALSE(store.Touch(b));
  EXPECT_EQ(store.Size(), 0u);
}

TEST_F(SessionStoreTest, AbandonedAndUnknownSessionsAreGone) {
  std::string a = store.Create();
  store.SetValue(a, "x", Variant("v"));
  store.Abandon(a);
  EXPECT_FALSE(store.Touch(a));
  EXPECT_TRUE(store.Value(a, "x").isEmpty());
  EXPECT_FALSE(store.Touch("0123456789abcdef0123456789abcdef01234567"));
  EXPECT_THROW(store.SetValue(a, "x", Variant(1)), Error);
}

TEST_F(SessionStoreTest, ObjectsAndBadTimeoutsAreRefused) {
  std::string a = store.Create();
  struct Dummy : Object {
    const ClassInfo& classInfo() const override {
      static const ClassInfo info("Dummy", {});
      return info;
    }
  };
  ObjectRef o = std::make_shared<Dummy>();
  EXPECT_THROW(store.SetValue(a, "o", Variant(o)), Error);
  VArray arr;
  arr.items.push_back(Variant(1));
  arr.items.push_back(Variant(o));
  EXPECT_THROW(store.SetValue(a, "arr", Variant(std::move(arr))), Error);
  EXPECT_TRUE(store.Names(a).empty());
  for (int bad : {0, -1, 1441}) EXPECT_THROW(store.SetTimeout(a, bad), Error) << bad;
  EXPECT_EQ(store.Timeout(a), 20);
}

TEST(SessionStoreLimit, ANewSessionPastTheLimitIsRefusedAndTheLiveOnesKeepTheirValues) {
  auto now = std::chrono::steady_clock::now();
  SessionStore store(20, [&now] { return now; }, 3);
  std::string a = store.Create(), b = store.Create();
  store.Create();
  store.SetValue(a, "x", Variant("kept"));
  Error refused = test::ThrownError([&] { store.Create(); });
  EXPECT_EQ(refused.number, kHostFailure);
  EXPECT_EQ(refused.description,
            "Session - the server already holds its 3 sessions (session_max); no new session can begin until one "
            "ends.");
  EXPECT_EQ(store.Size(), 3u);
  EXPECT_EQ(store.Value(a, "x").toString(), "kept");
  store.Abandon(b);  // an ended session frees its place
  std::string d = store.Create();
  EXPECT_TRUE(store.Touch(d));
  now += std::chrono::minutes(19);
  store.Touch(a);
  now += std::chrono::minutes(2);  // the third and d expired, a still live
  std::string e = store.Create(), f = store.Create();
  EXPECT_EQ(store.Size(), 3u);
  EXPECT_EQ(store.Value(a, "x").toString(), "kept");
  EXPECT_TRUE(store.Touch(e) && store.Touch(f));
}

}  // namespace
}  // namespace torvane::server
