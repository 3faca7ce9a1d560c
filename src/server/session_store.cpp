#include "server/session_store.h"

#include "automation/collection.h"
#include "automation/member_binding.h"
#include "basics/fdio.h"
#include "basics/hresult.h"
#include "server/application_store.h"
#include "server/memory_state_store.h"
#include "server/page_collections.h"

namespace torvane::server {

namespace {

constexpr int kMaxTimeoutMinutes = 1440;


// `n` bytes from the system's generator; fails rather than fall back to a
// weaker source.
std::string RandomHex(size_t n) {
  std::vector<unsigned char> buf(n);
  if (!RandomBytes(buf.data(), buf.size()))
    throw Error(kHostFailure, "Session - the system's random generator failed.", "Session object");
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
    : state_(std::make_shared<MemoryStateStore>(std::move(now), maxSessions)),
      defaultTimeout_(defaultTimeoutMinutes) {}

SessionStore::SessionStore(std::shared_ptr<StateStore> state, int defaultTimeoutMinutes)
    : state_(std::move(state)), defaultTimeout_(defaultTimeoutMinutes) {}

std::string SessionStore::Create() {
  std::string id = RandomHex(20);
  state_->CreateSession(id, defaultTimeout_);
  return id;
}

bool SessionStore::Touch(const std::string& id) { return state_->TouchSession(id); }

Variant SessionStore::Value(const std::string& id, std::string_view name) {
  return state_->SessionValue(id, FoldCase(name));
}

void SessionStore::SetValue(const std::string& id, std::string_view name, Variant value) {
  if (HoldsObject(value))
    throw Error(kHostFailure, "Session - an object cannot be stored in the session; store its values instead.",
                "Session object");
  if (!state_->SetSessionValue(id, FoldCase(name), name, value)) Gone();
}

void SessionStore::Remove(const std::string& id, std::string_view name) {
  state_->RemoveSessionValue(id, FoldCase(name));
}

void SessionStore::RemoveAll(const std::string& id) { state_->RemoveAllSessionValues(id); }

std::vector<std::string> SessionStore::Names(const std::string& id) { return state_->SessionNames(id); }

int SessionStore::Timeout(const std::string& id) {
  int t = state_->SessionTimeout(id);
  return t > 0 ? t : defaultTimeout_;
}

void SessionStore::SetTimeout(const std::string& id, int minutes) {
  if (minutes < 1 || minutes > kMaxTimeoutMinutes) ThrowPlatform(err::InvalidArgument);
  if (!state_->SetSessionTimeout(id, minutes)) Gone();
}

void SessionStore::Abandon(const std::string& id) { state_->AbandonSession(id); }

size_t SessionStore::Size() { return state_->SessionCount(); }

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
