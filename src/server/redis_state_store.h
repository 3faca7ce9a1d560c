// RedisStateStore: the state shared by every `torvane serve` process that
// names the same Redis server and database (state_store = redis://...).
//
// Keys: "torvane:app" (a hash: folded name -> entry of state_value.h),
// "torvane:app:lock" (the application lock: the holder's token, with a lease
// in milliseconds), "torvane:session:ID" (a hash: "t" -> timeout in minutes,
// "v:" + folded name -> entry), which Redis removes once unused for its
// timeout. Steps that read and write are Lua scripts, so each runs atomically
// in Redis: the writes refuse to change anything while another token holds the
// application lock, and the pool counter of ProgressBar.GetID is read and
// advanced in one step.
//
// Connections are kept in a small pool (hiredis contexts are used by one
// thread at a time). Every connect and every command is bounded by the
// timeout. A command that fails on the connection closes it and throws
// kStateStoreUnavailable; for a moment after such a failure (kRetryPauseMs)
// commands fail at once without trying, so a dead or silent server costs the
// pages no more than one timeout each; after that the next command connects
// again by itself.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "server/state_store.h"

struct redisContext;
struct redisReply;

namespace torvane::server {

struct RedisAddress {
  std::string host = "127.0.0.1";
  int port = 6379;
  int db = 0;
  std::string password;
};

// Parses "redis://[:PASSWORD@]HOST[:PORT][/DB]"; throws std::runtime_error
// saying what is wrong.
RedisAddress ParseRedisUrl(std::string_view url);

class RedisStateStore : public StateStore {
 public:
  static constexpr int kRetryPauseMs = 500;
  RedisStateStore(RedisAddress address, int timeoutMs);
  ~RedisStateStore() override;

  Variant AppValue(const std::string& key) override;
  bool SetAppValue(const std::string& key, std::string_view name, const Variant& value,
                   const std::string& token) override;
  bool RemoveAppValue(const std::string& key, const std::string& token) override;
  bool RemoveAllAppValues(const std::string& token) override;
  std::vector<std::string> AppNames() override;
  int64_t ReserveSlot(const PoolNames& names, int32_t poolSize, const std::string& token) override;
  bool TryLockApp(const std::string& token, int64_t leaseMs) override;
  bool RenewLock(const std::string& token, int64_t leaseMs) override;
  void UnlockApp(const std::string& token) override;

  void CreateSession(const std::string& id, int timeoutMinutes) override;
  bool TouchSession(const std::string& id) override;
  Variant SessionValue(const std::string& id, const std::string& key) override;
  bool SetSessionValue(const std::string& id, const std::string& key, std::string_view name,
                       const Variant& value) override;
  void RemoveSessionValue(const std::string& id, const std::string& key) override;
  void RemoveAllSessionValues(const std::string& id) override;
  std::vector<std::string> SessionNames(const std::string& id) override;
  int SessionTimeout(const std::string& id) override;
  bool SetSessionTimeout(const std::string& id, int minutes) override;
  void AbandonSession(const std::string& id) override;
  size_t SessionCount() override;
  std::string Describe() const override;
  bool SharedByProcesses() const override { return true; }

  // One reply of a command, owned.
  struct Reply;

 private:
  // Runs one command (arguments as given, binary-safe) on a pooled connection.
  Reply Command(const std::vector<std::string>& args);
  Reply Script(const char* body, std::vector<std::string> keys, std::vector<std::string> args);
  // A pooled connection (pooled = true) or a new one; kStateStoreUnavailable
  // when none can be made (or during the pause after a failure).
  redisContext* Take(bool& pooled);
  void Give(redisContext* c);
  void DropIdle();
  [[noreturn]] void Unavailable(const std::string& why);

  RedisAddress address_;
  int timeoutMs_;
  std::mutex mutex_;
  std::vector<redisContext*> idle_;
  std::chrono::steady_clock::time_point pauseUntil_{};
  std::string lastError_;
};

}  // namespace torvane::server
