#include "server/memory_state_store.h"

#include "basics/hresult.h"

namespace torvane::server {

MemoryStateStore::MemoryStateStore(Clock now, size_t maxSessions)
    : now_(now ? std::move(now) : [] { return std::chrono::steady_clock::now(); }), maxSessions_(maxSessions) {}

// ---- Application values -----------------------------------------------------------------

Variant MemoryStateStore::AppValue(const std::string& key) {
  std::lock_guard g(appMutex_);
  return app_.Value(key);
}

bool MemoryStateStore::SetAppValue(const std::string&, std::string_view name, const Variant& value,
                                   const std::string&) {
  std::lock_guard g(appMutex_);
  app_.Set(name, value);
  return true;
}

bool MemoryStateStore::RemoveAppValue(const std::string& key, const std::string&) {
  std::lock_guard g(appMutex_);
  app_.Remove(key);
  return true;
}

bool MemoryStateStore::RemoveAllAppValues(const std::string&) {
  std::lock_guard g(appMutex_);
  app_.Clear();
  return true;
}

std::vector<std::string> MemoryStateStore::AppNames() {
  std::lock_guard g(appMutex_);
  return app_.Names();
}

int64_t MemoryStateStore::ReserveSlot(const PoolNames& n, int32_t poolSize, const std::string&) {
  std::lock_guard g(appMutex_);
  app_.Set(n.poolSizeName, Variant(poolSize));
  int64_t counter = 1;
  Variant stored = app_.Value(n.counterName);
  if (!stored.isEmpty() && !stored.isNull()) {
    counter = stored.toInt64();  // 13 for a value that is no number
    if (counter > poolSize) counter = 1;
  }
  app_.Set(n.counterName, Variant(counter + 1));
  return counter;
}

// ---- Sessions ---------------------------------------------------------------------------

bool MemoryStateStore::Expired(const Session& s, std::chrono::steady_clock::time_point now) const {
  return now - s.lastUse >= std::chrono::minutes(s.timeoutMinutes);
}

void MemoryStateStore::SweepExpired() {
  auto now = now_();
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (Expired(it->second, now)) it = sessions_.erase(it);
    else ++it;
  }
}

MemoryStateStore::Session* MemoryStateStore::Find(const std::string& id) {
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return nullptr;
  if (Expired(it->second, now_())) {
    sessions_.erase(it);
    return nullptr;
  }
  return &it->second;
}

void MemoryStateStore::CreateSession(const std::string& id, int timeoutMinutes) {
  std::lock_guard g(sessionMutex_);
  // Expired sessions nobody asks for again go in a sweep every 256 creations.
  if (++creations_ % 256 == 0) SweepExpired();
  if (sessions_.size() >= maxSessions_) SweepExpired();
  if (sessions_.size() >= maxSessions_)
    throw Error(kHostFailure,
                "Session - the server already holds its " + std::to_string(maxSessions_) +
                    " sessions (session_max); no new session can begin until one ends.",
                "Session object");
  Session& s = sessions_[id];
  s.timeoutMinutes = timeoutMinutes;
  s.lastUse = now_();
}

bool MemoryStateStore::TouchSession(const std::string& id) {
  std::lock_guard g(sessionMutex_);
  Session* s = Find(id);
  if (!s) return false;
  s->lastUse = now_();
  return true;
}

Variant MemoryStateStore::SessionValue(const std::string& id, const std::string& key) {
  std::lock_guard g(sessionMutex_);
  Session* s = Find(id);
  if (!s) return Variant();
  auto it = s->values.find(key);
  return it == s->values.end() ? Variant() : it->second.second;
}

bool MemoryStateStore::SetSessionValue(const std::string& id, const std::string& key, std::string_view name,
                                       const Variant& value) {
  std::lock_guard g(sessionMutex_);
  Session* s = Find(id);
  if (!s) return false;
  s->values[key] = std::make_pair(std::string(name), value);
  return true;
}

void MemoryStateStore::RemoveSessionValue(const std::string& id, const std::string& key) {
  std::lock_guard g(sessionMutex_);
  if (Session* s = Find(id)) s->values.erase(key);
}

void MemoryStateStore::RemoveAllSessionValues(const std::string& id) {
  std::lock_guard g(sessionMutex_);
  if (Session* s = Find(id)) s->values.clear();
}

std::vector<std::string> MemoryStateStore::SessionNames(const std::string& id) {
  std::lock_guard g(sessionMutex_);
  std::vector<std::string> out;
  if (Session* s = Find(id))
    for (const auto& [k, v] : s->values) out.push_back(v.first);
  return out;
}

int MemoryStateStore::SessionTimeout(const std::string& id) {
  std::lock_guard g(sessionMutex_);
  Session* s = Find(id);
  return s ? s->timeoutMinutes : 0;
}

bool MemoryStateStore::SetSessionTimeout(const std::string& id, int minutes) {
  std::lock_guard g(sessionMutex_);
  Session* s = Find(id);
  if (!s) return false;
  s->timeoutMinutes = minutes;
  return true;
}

void MemoryStateStore::AbandonSession(const std::string& id) {
  std::lock_guard g(sessionMutex_);
  sessions_.erase(id);
}

size_t MemoryStateStore::SessionCount() {
  std::lock_guard g(sessionMutex_);
  return sessions_.size();
}

}  // namespace torvane::server
