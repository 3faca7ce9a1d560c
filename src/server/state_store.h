// StateStore: where the state pages share lives: Application values and the
// application lock, sessions, and (through Application values) the
// ProgressBar pool counter and progress records.
//
// Two back ends implement it: MemoryStateStore (one process, the default) and
// RedisStateStore (any number of `torvane serve` processes sharing one Redis).
// ApplicationStore and SessionStore sit above it and keep what belongs to one
// process (the in-process side of the application lock, the session cookie).
//
// Names are passed folded (FoldCase) as `key` together with the name as the
// page wrote it; values are never component objects (the stores above refuse
// them). A back end that cannot reach its storage throws the host error
// kStateStoreUnavailable with a text naming the store; every other failure
// keeps its own number.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "automation/variant.h"

namespace torvane::server {

class StateStore {
 public:
  virtual ~StateStore() = default;

  // ---- Application values -------------------------------------------------------------
  // The writes take the token of the calling page's application lock ("" when
  // the page does not hold it) and return false, changing nothing, while
  // another process holds the lock (a back end shared by processes), so the
  // caller waits and tries again. An in-process back end always returns true:
  // ApplicationStore keeps its own processes' pages in order.
  virtual Variant AppValue(const std::string& key) = 0;
  virtual bool SetAppValue(const std::string& key, std::string_view name, const Variant& value,
                           const std::string& token) = 0;
  virtual bool RemoveAppValue(const std::string& key, const std::string& token) = 0;
  virtual bool RemoveAllAppValues(const std::string& token) = 0;
  virtual std::vector<std::string> AppNames() = 0;

  // Reserves the next number of a slot pool in one atomic step: stores
  // `poolSize` (32-bit) under poolSizeName; reads the counter under
  // counterName, taking 1 when it holds nothing or more than poolSize; stores
  // that number plus 1 there and returns the number. -1 while another process
  // holds the application lock (as the writes above).
  struct PoolNames {
    std::string poolSizeKey, poolSizeName, counterKey, counterName;
  };
  virtual int64_t ReserveSlot(const PoolNames& names, int32_t poolSize, const std::string& token) = 0;

  // The application lock across processes: true when `token` now holds it for
  // `leaseMs` (false while another token holds it); RenewLock extends a lease
  // `token` still holds (false when it lost it); UnlockApp releases the lock
  // only when `token` holds it. An in-process back end grants every token.
  virtual bool TryLockApp(const std::string& token, int64_t leaseMs) = 0;
  virtual bool RenewLock(const std::string& token, int64_t leaseMs) = 0;
  virtual void UnlockApp(const std::string& token) = 0;

  // ---- Sessions -----------------------------------------------------------------------
  // Begins the session `id` (fresh, random) with `timeoutMinutes`. Throws the
  // host failure when the store holds as many sessions as it may.
  virtual void CreateSession(const std::string& id, int timeoutMinutes) = 0;
  // True when `id` is a live session; its timeout starts again.
  virtual bool TouchSession(const std::string& id) = 0;
  virtual Variant SessionValue(const std::string& id, const std::string& key) = 0;
  // False when the session is gone (nothing changes).
  virtual bool SetSessionValue(const std::string& id, const std::string& key, std::string_view name,
                               const Variant& value) = 0;
  virtual void RemoveSessionValue(const std::string& id, const std::string& key) = 0;
  virtual void RemoveAllSessionValues(const std::string& id) = 0;
  virtual std::vector<std::string> SessionNames(const std::string& id) = 0;
  // The session's timeout in minutes; 0 when it is gone.
  virtual int SessionTimeout(const std::string& id) = 0;
  // False when the session is gone.
  virtual bool SetSessionTimeout(const std::string& id, int minutes) = 0;
  virtual void AbandonSession(const std::string& id) = 0;
  // Live sessions (an estimate a shared store may take time to count).
  virtual size_t SessionCount() = 0;

  // What the store is, for messages and logs ("memory", "redis://host:port/db").
  virtual std::string Describe() const = 0;
  // True when other processes share this store (writes then go to it without
  // holding the process's own lock, and the application lock has a lease).
  virtual bool SharedByProcesses() const = 0;
};

// The store a `state_store` setting names: "memory" or
// "redis://[:PASSWORD@]HOST[:PORT][/DB]" (port 6379 and database 0 by
// default). `timeoutMs` bounds each connect and each command of a remote
// store. Session limits apply to the memory store. Throws
// std::runtime_error naming the setting when the text is malformed; a Redis
// server that is down is not an error here (the store connects when first used
// and again after every failure).
struct StateStoreOptions {
  std::string setting = "memory";
  int timeoutMs = 2000;
  size_t maxSessions = 100000;
};
std::shared_ptr<StateStore> MakeStateStore(const StateStoreOptions& options);

struct Site;
struct HostConfig;
// Gives `site` the Application and Session stores over the state store that
// `config` names (state_store, state_store_timeout, session_timeout,
// session_max). Throws std::runtime_error on a malformed state_store.
void ApplyStateStore(Site& site, const HostConfig& config);

// Checks a `state_store` value; throws std::runtime_error saying what is wrong.
void CheckStateStoreSetting(std::string_view setting);

}  // namespace torvane::server
