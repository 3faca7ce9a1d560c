// The state store's semantics, the same table of cases for each back end:
// the process's memory, and a real redis-server started by the test (cases
// for Redis skip when redis-server is not installed). Then what only a store
// shared by processes has: the application lock across stores with its lease,
// pool numbers unique across stores, session expiry handed to Redis, and an
// unreachable store that fails clearly and is used again once it answers.
#include "server/state_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "basics/hresult.h"
#include "server/application_store.h"
#include "server/memory_state_store.h"
#include "server/redis_state_store.h"
#include "server/session_store.h"
#include "server/state_value.h"
#include "support/redis_server.h"

namespace torvane::server {
namespace {

using test::RedisServer;

// One Redis for the whole binary: started on first use, stopped at exit.
RedisServer& SharedRedis() {
  static RedisServer server;
  return server;
}

std::shared_ptr<StateStore> Redis(int db) {
  StateStoreOptions o;
  o.setting = SharedRedis().Url(db);
  o.timeoutMs = 1000;
  return MakeStateStore(o);
}

struct Backend {
  const char* name;
  int db;  // Redis database of the case (each test its own), 0 = memory
};

class StateStoreCases : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam().db == 0) {
      store = std::make_shared<MemoryStateStore>();
      return;
    }
    if (!RedisServer::Installed()) GTEST_SKIP() << "redis-server is not installed (scripts/install-deps.sh)";
    ASSERT_TRUE(SharedRedis().Start());
    db = GetParam().db;
    SharedRedis().Command({"FLUSHDB"}, db);
    store = Redis(db);
  }
  std::shared_ptr<StateStore> store;
  int db = 0;
};

Variant ArrayOf(int32_t lbound, std::vector<Variant> items) {
  VArray a;
  a.lbound = lbound;
  a.items = std::move(items);
  return Variant(std::move(a));
}

// Every kind of value the stores accept comes back with its type and value.
TEST_P(StateStoreCases, ValuesComeBackWithTheirTypes) {
  struct Case {
    const char* label;
    Variant value;
  };
  std::vector<Case> cases = {
      {"text with NUL and UTF-8", Variant(std::string("a\0b \xc3\xa9 ;:,", 9))},
      {"empty text", Variant(std::string())},
      {"16-bit", Variant::I2(-32768)},
      {"32-bit", Variant(int32_t{2147483647})},
      {"64-bit", Variant::I8(int64_t{1} << 40)},
      {"double", Variant(0.1)},
      {"boolean", Variant(true)},
      {"date", Variant::Date(45000.75)},
      {"null", Variant::Null()},
      {"bytes", Variant(Bytes{0, 255, ':', 'a'})},
      {"nested array", ArrayOf(1, {Variant(1), Variant("x"), ArrayOf(0, {Variant::Null(), Variant(2.5)}), Variant()})},
  };
  auto session = std::string(40, 'a');
  store->CreateSession(session, 20);
  for (const auto& c : cases) {
    ASSERT_TRUE(store->SetAppValue("k", "K", c.value, ""));
    ASSERT_TRUE(store->SetSessionValue(session, "k", "K", c.value));
    for (const Variant& back : {store->AppValue("k"), store->SessionValue(session, "k")}) {
      EXPECT_EQ(back.type(), c.value.type()) << c.label;
      EXPECT_EQ(EncodeValue(back), EncodeValue(c.value)) << c.label;
    }
  }
}

TEST_P(StateStoreCases, ApplicationValuesKeepTheirFirstNameAndGoWhenRemoved) {
  EXPECT_TRUE(store->AppValue("count").isEmpty());
  ASSERT_TRUE(store->SetAppValue("count", "Count", Variant(1), ""));
  ASSERT_TRUE(store->SetAppValue("count", "COUNT", Variant(2), ""));
  ASSERT_TRUE(store->SetAppValue("b", "b", Variant("x"), ""));
  EXPECT_EQ(store->AppValue("count").toInt32(), 2);
  EXPECT_EQ(store->AppNames(), (std::vector<std::string>{"b", "Count"}));
  ASSERT_TRUE(store->RemoveAppValue("count", ""));
  EXPECT_TRUE(store->AppValue("count").isEmpty());
  EXPECT_EQ(store->AppNames(), std::vector<std::string>{"b"});
  ASSERT_TRUE(store->RemoveAllAppValues(""));
  EXPECT_TRUE(store->AppNames().empty());
}

// The pool step of ProgressBar.GetID, from what the counter holds before.
TEST_P(StateStoreCases, ReserveSlotFollowsTheCounter) {
  struct Case {
    const char* label;
    Variant before;  // Missing: never written
    int32_t pool;
    int64_t slot;
    int64_t after;
  };
  std::vector<Case> cases = {
      {"fresh", Variant::Missing(), 500, 1, 2},
      {"empty", Variant(), 500, 1, 2},
      {"counting", Variant(int32_t{7}), 500, 7, 8},
      {"at the pool size", Variant(int32_t{3}), 3, 3, 4},
      {"past the pool size", Variant(int32_t{4}), 3, 1, 2},
      {"64-bit counter", Variant::I8(12), 500, 12, 13},
      {"numeric text", Variant("5"), 500, 5, 6},
  };
  StateStore::PoolNames names{"pnpoolsize", "PNPOOLSIZE", "pnnext", "PNNEXT"};
  for (const auto& c : cases) {
    ASSERT_TRUE(store->RemoveAllAppValues(""));
    if (!c.before.isMissing()) {
      ASSERT_TRUE(store->SetAppValue("pnnext", "PNNEXT", c.before, ""));
    }
    EXPECT_EQ(store->ReserveSlot(names, c.pool, ""), c.slot) << c.label;
    Variant next = store->AppValue("pnnext");
    EXPECT_EQ(next.type(), VType::I4) << c.label;
    EXPECT_EQ(next.toInt64(), c.after) << c.label;
    Variant pool = store->AppValue("pnpoolsize");
    EXPECT_EQ(pool.type(), VType::I4) << c.label;
    EXPECT_EQ(pool.toInt32(), c.pool) << c.label;
  }
  ASSERT_TRUE(store->SetAppValue("pnnext", "PNNEXT", Variant("not a number"), ""));
  try {
    store->ReserveSlot(names, 500, "");
    ADD_FAILURE() << "a counter that holds no number was taken";
  } catch (const Error& e) {
    EXPECT_EQ(e.number, 13);
  }
}

TEST_P(StateStoreCases, SessionsAreSeparateAndEndWhenAbandoned) {
  std::string a(40, '1'), b(40, '2'), gone(40, '3');
  store->CreateSession(a, 20);
  store->CreateSession(b, 20);
  EXPECT_TRUE(store->TouchSession(a));
  EXPECT_FALSE(store->TouchSession(gone));
  ASSERT_TRUE(store->SetSessionValue(a, "name", "Name", Variant("alice")));
  ASSERT_TRUE(store->SetSessionValue(a, "z", "z", Variant(1)));
  ASSERT_TRUE(store->SetSessionValue(b, "name", "name", Variant("bob")));
  EXPECT_FALSE(store->SetSessionValue(gone, "name", "name", Variant("eve")));
  EXPECT_TRUE(store->SessionValue(gone, "name").isEmpty());
  EXPECT_EQ(store->SessionValue(a, "name").toString(), "alice");
  EXPECT_EQ(store->SessionValue(b, "name").toString(), "bob");
  EXPECT_EQ(store->SessionNames(a), (std::vector<std::string>{"Name", "z"}));
  store->RemoveSessionValue(a, "z");
  EXPECT_EQ(store->SessionNames(a), std::vector<std::string>{"Name"});
  EXPECT_EQ(store->SessionTimeout(a), 20);
  EXPECT_TRUE(store->SetSessionTimeout(a, 5));
  EXPECT_EQ(store->SessionTimeout(a), 5);
  EXPECT_FALSE(store->SetSessionTimeout(gone, 5));
  EXPECT_EQ(store->SessionTimeout(gone), 0);
  store->RemoveAllSessionValues(a);
  EXPECT_TRUE(store->SessionNames(a).empty());
  EXPECT_TRUE(store->TouchSession(a));  // emptied, still live
  EXPECT_EQ(store->SessionTimeout(a), 5);
  EXPECT_EQ(store->SessionCount(), 2u);
  store->AbandonSession(a);
  EXPECT_FALSE(store->TouchSession(a));
  EXPECT_TRUE(store->SessionValue(a, "name").isEmpty());
  EXPECT_EQ(store->SessionValue(b, "name").toString(), "bob");
  EXPECT_EQ(store->SessionCount(), 1u);
}

// The page-facing stores over each back end.
TEST_P(StateStoreCases, PageStoresWorkOverTheBackEnd) {
  SessionStore sessions(store, 20);
  std::string id = sessions.Create();
  sessions.SetValue(id, "Cart", Variant(3));
  EXPECT_EQ(sessions.Value(id, "CART").toInt32(), 3);
  ApplicationStore app(store);
  uint64_t page = app.NewPageId();
  app.Lock(page);
  app.SetValue(page, "Hits", Variant(1));
  EXPECT_EQ(app.ReserveSlot(page, "TVPOOLSIZE", 500, "TVNEXT"), 1);
  app.UnLock(page);
  EXPECT_EQ(app.Value("hits").toInt32(), 1);
  EXPECT_EQ(app.ReserveSlot(app.NewPageId(), "TVPOOLSIZE", 500, "TVNEXT"), 2);
}

INSTANTIATE_TEST_SUITE_P(Backends, StateStoreCases,
                         ::testing::Values(Backend{"memory", 0}, Backend{"redis", 1}),
                         [](const auto& p) { return std::string(p.param.name); });

// ---- what a store shared by processes adds ----------------------------------------------

class SharedStore : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RedisServer::Installed()) GTEST_SKIP() << "redis-server is not installed (scripts/install-deps.sh)";
    ASSERT_TRUE(SharedRedis().Start());
    SharedRedis().Command({"FLUSHDB"}, 2);
  }
};

TEST_F(SharedStore, TheApplicationLockExcludesAnotherProcessUntilUnlock) {
  // Two ApplicationStores over two connections: two processes of one site.
  auto one = std::make_shared<ApplicationStore>(Redis(2));
  auto two = std::make_shared<ApplicationStore>(Redis(2));
  uint64_t holder = one->NewPageId();
  one->Lock(holder);
  one->Lock(holder);  // re-entrant
  one->SetValue(holder, "v", Variant(1));
  std::atomic<bool> wrote{false}, locked{false};
  std::thread other([&] {
    uint64_t page = two->NewPageId();
    two->SetValue(page, "v", Variant(2));  // waits for the other process's lock
    wrote = true;
    two->Lock(page);
    locked = true;
    two->UnLock(page);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_FALSE(wrote.load());
  EXPECT_EQ(two->Value("v").toInt32(), 1);
  one->UnLock(holder);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(wrote.load()) << "released after the first of two Locks";
  EXPECT_TRUE(one->ReleaseFor(holder));
  other.join();
  EXPECT_TRUE(wrote.load());
  EXPECT_TRUE(locked.load());
  EXPECT_EQ(one->Value("v").toInt32(), 2);
  EXPECT_EQ(SharedRedis().Command({"EXISTS", "torvane:app:lock"}, 2), "0");
}

TEST_F(SharedStore, AHolderThatDiedBlocksOthersForOneLeaseAtMost) {
  auto raw = Redis(2);
  ASSERT_TRUE(raw->TryLockApp("dead-process:1", 400));  // never renewed, never released
  EXPECT_FALSE(raw->SetAppValue("v", "v", Variant(1), "someone-else"));
  EXPECT_FALSE(raw->TryLockApp("someone-else", 400));
  ApplicationStore app(Redis(2));
  uint64_t page = app.NewPageId();
  app.Lock(page);  // waits for the lease to run out
  app.SetValue(page, "v", Variant(2));
  EXPECT_FALSE(raw->RenewLock("dead-process:1", 400));  // its lease is gone for good
  app.UnLock(page);
  EXPECT_EQ(app.Value("v").toInt32(), 2);
}

TEST_F(SharedStore, ALockHeldLongerThanItsLeaseIsRenewed) {
  ApplicationStore holder(Redis(2), 300);
  uint64_t page = holder.NewPageId();
  holder.Lock(page);
  std::this_thread::sleep_for(std::chrono::milliseconds(900));  // three leases
  auto other = Redis(2);
  EXPECT_FALSE(other->TryLockApp("other", 300));
  EXPECT_FALSE(other->SetAppValue("v", "v", Variant(1), ""));
  holder.UnLock(page);
  EXPECT_TRUE(other->TryLockApp("other", 300));
}

TEST_F(SharedStore, AWaitForALockHeldElsewhereEndsWithAPageError) {
  auto raw = Redis(2);
  ASSERT_TRUE(raw->TryLockApp("busy", 60000));
  ApplicationStore app(Redis(2), ApplicationStore::kLeaseMs, 300);
  uint64_t page = app.NewPageId();
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      if (attempt == 0) app.Lock(page);
      else app.SetValue(page, "v", Variant(1));
      ADD_FAILURE() << "no error while another process holds the lock";
    } catch (const Error& e) {
      EXPECT_EQ(e.number, kHostFailure);
      EXPECT_NE(e.description.find("held by another server"), std::string::npos) << e.description;
    }
  }
  raw->UnlockApp("busy");
  app.Lock(page);  // the failed Lock left nothing behind
  app.UnLock(page);
}

TEST_F(SharedStore, PoolNumbersAreUniqueAcrossProcesses) {
  std::vector<std::shared_ptr<ApplicationStore>> processes;
  for (int i = 0; i < 3; ++i) processes.push_back(std::make_shared<ApplicationStore>(Redis(2)));
  std::mutex m;
  std::multiset<int64_t> slots;
  std::vector<std::thread> threads;
  for (int t = 0; t < 6; ++t) {
    threads.emplace_back([&, t] {
      auto& app = *processes[static_cast<size_t>(t % 3)];
      for (int i = 0; i < 40; ++i) {
        int64_t slot = app.ReserveSlot(app.NewPageId(), "TVPROGRESSBARPOOLSIZE", 500, "TVPROGRESSBARNEXT");
        std::lock_guard g(m);
        slots.insert(slot);
      }
    });
  }
  for (auto& t : threads) t.join();
  ASSERT_EQ(slots.size(), 240u);
  EXPECT_EQ(std::set<int64_t>(slots.begin(), slots.end()).size(), 240u) << "a number was handed out twice";
  EXPECT_EQ(*slots.begin(), 1);
  EXPECT_EQ(*slots.rbegin(), 240);
}

TEST_F(SharedStore, RedisEndsUnusedSessionsByTheirTimeout) {
  SessionStore sessions(Redis(2), 20);
  std::string id = sessions.Create();
  std::string key = "torvane:session:" + id;
  auto ttl = [&] { return std::stoll(SharedRedis().Command({"TTL", key}, 2)); };
  EXPECT_GT(ttl(), 19 * 60);
  EXPECT_LE(ttl(), 20 * 60);
  sessions.SetTimeout(id, 2);
  EXPECT_LE(ttl(), 2 * 60);
  SharedRedis().Command({"EXPIRE", key, "100"}, 2);
  EXPECT_TRUE(sessions.Touch(id));  // use starts the timeout again
  EXPECT_GT(ttl(), 100);
  SharedRedis().Command({"DEL", key}, 2);  // what expiry does
  EXPECT_FALSE(sessions.Touch(id));
  EXPECT_TRUE(sessions.Value(id, "x").isEmpty());
}

TEST_F(SharedStore, AnUnreachableStoreFailsClearlyAndIsUsedAgainOnceItAnswers) {
  auto store = Redis(2);
  SessionStore sessions(store, 20);
  std::string id = sessions.Create();
  SharedRedis().Stop();
  auto unavailable = [&](const char* what, const std::function<void()>& call) {
    try {
      call();
      ADD_FAILURE() << what << ": no error with the store down";
    } catch (const Error& e) {
      EXPECT_EQ(e.number, kStateStoreUnavailable) << what;
      EXPECT_NE(e.description.find("cannot be reached"), std::string::npos) << e.description;
      EXPECT_NE(e.description.find(SharedRedis().Url(2)), std::string::npos) << e.description;
    }
  };
  unavailable("session read", [&] { sessions.Value(id, "x"); });
  unavailable("session write", [&] { sessions.SetValue(id, "x", Variant(1)); });
  unavailable("new session", [&] { sessions.Create(); });
  unavailable("application read", [&] { store->AppValue("x"); });
  ASSERT_TRUE(SharedRedis().Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(RedisStateStore::kRetryPauseMs + 100));
  std::string again = sessions.Create();  // the data went with the server; the store works again
  sessions.SetValue(again, "x", Variant(5));
  EXPECT_EQ(sessions.Value(again, "x").toInt32(), 5);
}

// ---- the stored text form and the setting ------------------------------------------------

TEST(StateValue, MalformedTextIsRefused) {
  for (const char* bad : {"", "q", "i12x", "b2", "a0,2;1:i", "a0,1;5:i1", "a0,1;2:i1extra", "h99999"}) {
    EXPECT_THROW(DecodeValue(bad), std::runtime_error) << bad;
  }
  for (const char* bad : {"", "3:ab", "x:abc"}) EXPECT_THROW(DecodeEntry(bad), std::runtime_error) << bad;
  auto [name, value] = DecodeEntry(EncodeEntry("na:me", Variant(4)));
  EXPECT_EQ(name, "na:me");
  EXPECT_EQ(value.toInt32(), 4);
}

TEST(StateStoreSetting, RedisAddressesAreParsedOrRefused) {
  struct Case {
    const char* url;
    const char* host;
    int port, db;
    const char* password;
  };
  for (const auto& c : std::vector<Case>{{"redis://cache", "cache", 6379, 0, ""},
                                         {"redis://10.0.0.5:6380/3", "10.0.0.5", 6380, 3, ""},
                                         {"redis://:s3cret@cache:7000/1", "cache", 7000, 1, "s3cret"},
                                         {"redis://[::1]:6390/2", "::1", 6390, 2, ""}}) {
    RedisAddress a = ParseRedisUrl(c.url);
    EXPECT_EQ(a.host, c.host) << c.url;
    EXPECT_EQ(a.port, c.port) << c.url;
    EXPECT_EQ(a.db, c.db) << c.url;
    EXPECT_EQ(a.password, c.password) << c.url;
  }
  for (const char* bad : {"redis://", "redis://host:0", "redis://host:99999", "redis://host:12/x", "redis://h/-1",
                          "http://host:6379", "Memory", "redis://[::1", "redis://host:"}) {
    EXPECT_THROW(CheckStateStoreSetting(bad), std::runtime_error) << bad;
  }
  EXPECT_NO_THROW(CheckStateStoreSetting("memory"));
}

}  // namespace
}  // namespace torvane::server
