#include "server/session_store.h"

#include <sys/random.h>

#include <cerrno>

#include "automation/collection.h"
#include "automation/member_binding.h"
#include "basics/hresult.h"
#include "server/application_store.h"
#include "server/page_collections.h"

namespace torvane::server {

namespace {

constexpr int kMaxTimeoutMinutes = 1440;


// `n` bytes from the system's generator; fails rather than fall back to a
// weaker source.
std::string RandomHex(size_t n) {
  std::vector<unsigned char> buf(n);
  size_t got = 0;
  while (got < n) {
    ssize_t r = ::getrandom(buf.data() + got, n - got, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) throw Error(kHostFailure, "Session - the system's random generator failed.", "Session object");
    got += static_cast<size_t>(r);
  }
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (unsigned char c : buf) {
    out += hex[c >> 4];
    out += hex[c & 15];
  }
  return out;
}

[[noreturn]] void Gone() { throw Error(kHostFailure, "Session - the session has ended.", "Session object"); }

}  // namespace

SessionStore::SessionStore(int defaultTimeoutMinutes, Clock now, size_t maxSessions)
    : defaultTimeout_(defaultTimeoutMinutes),
      now_(now ? std::move(now) : [] { return std::chrono::steady_clock::now(); }),
      maxSessions_(maxSessions) {}

bool SessionStore::Expired(const Session& s, std::chrono::steady_clock::time_point now) const {
  return now - s.lastUse >= std::chrono::minutes(s.timeoutMinutes);
}

void SessionStore::SweepExpired() {
  auto now = now_();
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    if (Expired(it->second, now)) it = sessions_.erase(it);
    else ++it;
  }
}

SessionStore::Session* SessionStore::Find(const std::string& id) {
  auto it = sessions_.find(id);
  if (it == sessions_.end()) return nullptr;
  if (Expired(it->second, now_())) {
    sessions_.erase(it);
    return nullptr;
  }
  return &it->second;
}

std::string SessionStore::Create() {
  std::string id = RandomHex(20);
  std::lock_guard g(mutex_);
  // Expired sessions nobody asks for again go in a sweep every 256 creations.
  if (++creations_ % 256 == 0) SweepExpired();
  if (sessions_.size() >= maxSessions_) SweepExpired();
  if (sessions_.size() >= maxSessions_)
    throw Error(kHostFailure,
                "Session - the server already holds its " + std::to_string(maxSessions_) +
                    " sessions (session_max); no new session can begin until one ends.",
                "Session object");
  Session& s = sessions_[id];
  s.timeoutMinutes = defaultTimeout_;
  s.lastUse = now_();
  return id;
}

bool SessionStore::Touch(const std::string& id) {
  std::lock_guard g(mutex_);
  Session* s = Find(id);
  if (!s) return false;
  s->lastUse = now_();
  return true;
}

Variant SessionStore::Value(const std::string& id, std::string_view name) {
  std::lock_guard g(mutex_);
  Session* s = Find(id);
  if (!s) return Variant();
  auto it = s->values.find(FoldCase(name));
  return it == s->values.end() ? Variant() : it->second.second;
}

void SessionStore::SetValue(const std::string& id, std::string_view name, Variant value) {
  if (HoldsObject(value))
    throw Error(kHostFailure, "Session - an object cannot be stored in the session; store its values instead.",
                "Session object");
  std::lock_guard g(mutex_);
  Session* s = Find(id);
  if (!s) Gone();
  s->values[FoldCase(name)] = std::make_pair(std::string(name), std::move(value));
}

void SessionStore::Remove(const std::string& id, std::string_view name) {
  std::lock_guard g(mutex_);
  if (Session* s = Find(id)) s->values.erase(FoldCase(name));
}

void SessionStore::RemoveAll(const std::string& id) {
  std::lock_guard g(mutex_);
  if (Session* s = Find(id)) s->values.clear();
}

std::vector<std::string> SessionStore::Names(const std::string& id) {
  std::lock_guard g(mutex_);
  std::vector<std::string> out;
  if (Session* s = Find(id))
    for (const auto& [k, v] : s->values) out.push_back(v.first);
  return out;
}

int SessionStore::Timeout(const std::string& id) {
  std::lock_guard g(mutex_);
  Session* s = Find(id);
  return s ? s->timeoutMinutes : defaultTimeout_;
}

void SessionStore::SetTimeout(const std::string& id, int minutes) {
  if (minutes < 1 || minutes > kMaxTimeoutMinutes) ThrowPlatform(err::InvalidArgument);
  std::lock_guard g(mutex_);
  Session* s = Find(id);
  if (!s) Gone();
  s->timeoutMinutes = minutes;
}

void SessionStore::Abandon(const std::string& id) {
  std::lock_guard g(mutex_);
  sessions_.erase(id);
}

size_t SessionStore::Size() {
  std::lock_guard g(mutex_);
  return sessions_.size();
}

// ---- the page's Session ----------------------------------------------------------------

const std::string& SessionObject::Id() {
  if (!id_.empty()) return id_;
  std::string wanted;
  for (const auto& [k, v] : ParseCookieHeader(request_->ServerVariables("HTTP_COOKIE").isString()
                                                  ? request_->ServerVariables("HTTP_COOKIE").str()
                                                  : std::string())) {
    if (k == settings_.cookieName) wanted = v;
  }
  if (!wanted.empty() && store_->Touch(wanted)) {
    id_ = wanted;
    return id_;
  }
  id_ = store_->Create();
  std::string header = settings_.cookieName + "=" + id_ + "; Path=/; HttpOnly; SameSite=Lax";
  if (https_) header += "; Secure";
  response_->SetCookie(settings_.cookieName, header);
  return id_;
}

void SessionObject::PageEnded() {
  if (abandoned_ && !id_.empty()) store_->Abandon(id_);
}

const ClassInfo& SessionObject::Class() {
  using S = SessionObject;
  auto set = [](S& s, Args& a) {
    Variant v = a[1].isMissing() ? Variant() : a[1];
    s.store_->SetValue(s.Id(), a[0].resolved().toString(), std::move(v));
    return Variant();
  };
  static const ClassInfo info = ClassInfo::Make<S>(
      "Session",
      {
          {"Value", MemberKind::Get, {{"name"}},
           [](S& s, Args& a) { return s.store_->Value(s.Id(), a[0].resolved().toString()); }, kDispIdDefault,
           "The session value stored under a name", "Variant"},
          {"Value", MemberKind::Let, {{"name"}, {"value"}}, set, kDispIdDefault,
           "Stores a value in the session under a name"},
          {"SetValue", MemberKind::Method, {{"name"}, {"value"}}, set,
           "Stores a value in the session under a name"},
          {"SessionID", MemberKind::Get, {}, Getter(&S::Id),
           "The session's identifier", "String"},
          {"Timeout", MemberKind::Get, {},
           [](S& s, Args&) { return Variant(static_cast<int32_t>(s.store_->Timeout(s.Id()))); },
           "Minutes of inactivity before the session ends", "Long"},
          {"Timeout", MemberKind::Let, {{"minutes"}},
           [](S& s, Args& a) {
             s.store_->SetTimeout(s.Id(), a[0].resolved().toInt32());
             return Variant();
           },
           "Sets the minutes of inactivity before the session ends"},
          {"Abandon", MemberKind::Method, {},
           [](S& s, Args&) {
             s.Id();
             s.abandoned_ = true;
             return Variant();
           },
           "Ends the session after this page"},
          {"Count", MemberKind::Get, {},
           [](S& s, Args&) { return Variant(static_cast<int32_t>(s.store_->Names(s.Id()).size())); },
           "Number of stored values", "Long"},
          {"NewEnum", MemberKind::Get, {},
           [](S& s, Args&) {
             auto names = s.store_->Names(s.Id());
             return Variant(ObjectRef(std::make_shared<Enumerator>(std::vector<Variant>(names.begin(), names.end()))));
           },
           kDispIdNewEnum,
           "Enumerator over the value names", "Enumerator"},
          {"Contents", MemberKind::Get, {},
           [](S& s, Args&) {
             auto self = s.self<S>();
             return Variant(ContentsCollection::Create(
                 {[self](std::string_view n) { return self->store_->Value(self->Id(), n); },
                  [self] { return self->store_->Names(self->Id()); },
                  [self](std::string_view n) { self->store_->Remove(self->Id(), n); },
                  [self] { self->store_->RemoveAll(self->Id()); }}));
           },
           "The stored values as a collection", "Contents"},
      });
  return info;
}

}  // namespace torvane::server
