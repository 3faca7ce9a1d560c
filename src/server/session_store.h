// Sessions: per-visitor values kept between requests, found by a random
// identifier the visitor's cookie carries.
//
// SessionStore holds every live session of a site in its state store (the
// process's memory by default, or a store shared by processes). A session ends
// when it has not been used for its timeout (minutes, default 20) or when a
// page abandons it; its values are gone then, and a later request with its
// identifier gets a new session under a new identifier (a client never
// chooses an identifier). The store holds at most `maxSessions` live sessions
// (session_max), so clients that never return their cookie cannot grow the
// server's memory without bound: at the limit, once expired sessions are
// swept, a new session is refused with a page error and every live session
// keeps its values. Values are the ones the application store accepts:
// component objects (also inside arrays) are refused.
//
// SessionObject is the page's `Session`: created lazily on its first use
// (reading the cookie, or making the session and setting the cookie:
// HttpOnly, SameSite=Lax, Path=/, Secure when the request came over HTTPS).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "automation/object.h"
#include "host/host.h"
#include "server/state_store.h"

namespace torvane::server {

class SessionStore {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;
  static constexpr size_t kDefaultMaxSessions = 100000;
  // Sessions in this process's memory (MemoryStateStore).
  explicit SessionStore(int defaultTimeoutMinutes = 20, Clock now = nullptr,
                        size_t maxSessions = kDefaultMaxSessions);
  // Sessions in `state` (memory or shared).
  SessionStore(std::shared_ptr<StateStore> state, int defaultTimeoutMinutes);

  // A new session's identifier: 160 bits from the system's generator, as 40
  // hex digits. Throws the host failure when the store already holds
  // `maxSessions` live sessions.
  std::string Create();
  // True when `id` names a live session; refreshes its last use.
  bool Touch(const std::string& id);
  Variant Value(const std::string& id, std::string_view name);
  void SetValue(const std::string& id, std::string_view name, Variant value);
  void Remove(const std::string& id, std::string_view name);
  void RemoveAll(const std::string& id);
  std::vector<std::string> Names(const std::string& id);
  int Timeout(const std::string& id);
  void SetTimeout(const std::string& id, int minutes);
  void Abandon(const std::string& id);
  size_t Size();

 private:
  std::shared_ptr<StateStore> state_;
  int defaultTimeout_;
};

// The session settings of a site.
struct SessionSettings {
  std::string cookieName = "TVSESSIONID";
};

// The page's Session object. SessionID, Timeout (minutes, read and write),
// Abandon() (the values stay readable until the page ends; then the session is
// gone), Value (default: Session("n")), SetValue(name, value), Count,
// NewEnum, Contents (Count, Item, Key, Remove, RemoveAll, enumeration).
class SessionObject : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  SessionObject(std::shared_ptr<SessionStore> store, SessionSettings settings, std::shared_ptr<Request> request,
                std::shared_ptr<Response> response, bool https)
      : store_(std::move(store)),
        settings_(std::move(settings)),
        request_(std::move(request)),
        response_(std::move(response)),
        https_(https) {}

  // The session's identifier, making the session on first use.
  const std::string& Id();
  // Called by the host at the page's end: removes an abandoned session.
  void PageEnded();

 private:
  std::shared_ptr<SessionStore> store_;
  SessionSettings settings_;
  std::shared_ptr<Request> request_;
  std::shared_ptr<Response> response_;
  bool https_ = false;
  std::string id_;
  bool abandoned_ = false;
};

}  // namespace torvane::server
