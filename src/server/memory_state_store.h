// MemoryStateStore: the state of one `torvane serve` process, in its memory.
//
// Sessions end when unused for their timeout (by the store's clock) or when
// abandoned; at most `maxSessions` live at once: once expired ones are swept,
// a new session beyond that is refused with a page error and every live
// session keeps its values. The application lock is kept by ApplicationStore
// in the process, so the lock calls here grant every token.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>

#include "host/named_values.h"
#include "server/state_store.h"

namespace torvane::server {

class MemoryStateStore : public StateStore {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr size_t kDefaultMaxSessions = 100000;
  explicit MemoryStateStore(Clock now = nullptr, size_t maxSessions = kDefaultMaxSessions);

  Variant AppValue(const std::string& key) override;
  bool SetAppValue(const std::string& key, std::string_view name, const Variant& value,
                   const std::string& token) override;
  bool RemoveAppValue(const std::string& key, const std::string& token) override;
  bool RemoveAllAppValues(const std::string& token) override;
  std::vector<std::string> AppNames() override;
  int64_t ReserveSlot(const PoolNames& names, int32_t poolSize, const std::string& token) override;
  bool TryLockApp(const std::string&, int64_t) override { return true; }
  bool RenewLock(const std::string&, int64_t) override { return true; }
  void UnlockApp(const std::string&) override {}

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
  std::string Describe() const override { return "memory"; }
  bool SharedByProcesses() const override { return false; }

 private:
  using Values = std::map<std::string, std::pair<std::string, Variant>>;  // folded name -> (name, value)
  struct Session {
    Values values;
    int timeoutMinutes = 20;
    std::chrono::steady_clock::time_point lastUse;
  };
  // The live session `id` (nullptr when none); removes it when it expired.
  Session* Find(const std::string& id);
  void SweepExpired();
  bool Expired(const Session& s, std::chrono::steady_clock::time_point now) const;

  std::mutex appMutex_;
  NamedValues app_;  // Application values, named as every host names them
  std::mutex sessionMutex_;
  std::map<std::string, Session> sessions_;
  Clock now_;
  uint64_t creations_ = 0;
  size_t maxSessions_;
};

}  // namespace torvane::server
