#include "server/state_store.h"

#include <stdexcept>

#include "server/config.h"
#include "server/memory_state_store.h"
#include "server/page_runner.h"
#include "server/redis_state_store.h"

namespace torvane::server {

void CheckStateStoreSetting(std::string_view setting) {
  if (setting == "memory") return;
  if (setting.substr(0, 8) == "redis://") {
    ParseRedisUrl(setting);
    return;
  }
  throw std::runtime_error("state_store: expected \"memory\" or redis://HOST:PORT/DB, got \"" + std::string(setting) +
                           "\"");
}

std::shared_ptr<StateStore> MakeStateStore(const StateStoreOptions& o) {
  CheckStateStoreSetting(o.setting);
  if (o.setting == "memory") return std::make_shared<MemoryStateStore>(nullptr, o.maxSessions);
  return std::make_shared<RedisStateStore>(ParseRedisUrl(o.setting), o.timeoutMs);
}

void ApplyStateStore(Site& site, const HostConfig& config) {
  StateStoreOptions o;
  o.setting = config.stateStore;
  o.timeoutMs = config.stateStoreTimeout;
  o.maxSessions = static_cast<size_t>(config.sessionMax);
  auto store = MakeStateStore(o);
  site.application = std::make_shared<ApplicationStore>(store);
  site.sessions = std::make_shared<SessionStore>(store, config.sessionTimeout);
}

}  // namespace torvane::server
