#include "server/redis_state_store.h"

#include <hiredis/hiredis.h>
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <charconv>
#include <memory>
#include <stdexcept>

#include "basics/hresult.h"
#include "server/state_value.h"

namespace torvane::server {

namespace {

constexpr const char* kAppKey = "torvane:app";
constexpr const char* kLockKey = "torvane:app:lock";
constexpr const char* kSessionPrefix = "torvane:session:";
constexpr size_t kMaxIdle = 64;

std::string SessionKey(const std::string& id) { return kSessionPrefix + id; }
std::string ValueField(const std::string& key) { return "v:" + key; }

timeval Tv(int ms) { return timeval{ms / 1000, (ms % 1000) * 1000}; }

// Lua: the entry's "LENGTH:NAME" prefix, so a rewrite keeps the name as first written.
constexpr const char* kPrefixFn =
    "local function prefix(e, name) "
    "  if e then local c = string.find(e, ':', 1, true) "
    "    return string.sub(e, 1, c + tonumber(string.sub(e, 1, c - 1))) end "
    "  return string.len(name) .. ':' .. name end ";

// KEYS: app, lock. ARGV: token, op (s set, r remove, a remove all), field, name, value.
const std::string kWriteApp = std::string(kPrefixFn) +
    "local h = redis.call('GET', KEYS[2]) "
    "if h and h ~= ARGV[1] then return 0 end "
    "if ARGV[2] == 's' then "
    "  redis.call('HSET', KEYS[1], ARGV[3], prefix(redis.call('HGET', KEYS[1], ARGV[3]), ARGV[4]) .. ARGV[5]) "
    "elseif ARGV[2] == 'r' then redis.call('HDEL', KEYS[1], ARGV[3]) "
    "else redis.call('DEL', KEYS[1]) end "
    "return 1";

// KEYS: app, lock. ARGV: token, pool-size field, pool-size name, pool size,
// counter field, counter name. Returns the slot, -1 while another token holds
// the lock, or the error NOTNUM when the counter holds no number.
const std::string kReserveSlot = std::string(kPrefixFn) +
    "local h = redis.call('GET', KEYS[2]) "
    "if h and h ~= ARGV[1] then return -1 end "
    "local pool = tonumber(ARGV[4]) "
    "redis.call('HSET', KEYS[1], ARGV[2], prefix(redis.call('HGET', KEYS[1], ARGV[2]), ARGV[3]) .. 'i' .. ARGV[4]) "
    "local e = redis.call('HGET', KEYS[1], ARGV[5]) "
    "local n = 1 "
    "if e then "
    "  local p = prefix(e, '') "
    "  local v = string.sub(e, string.len(p) + 1) "
    "  local tag = string.sub(v, 1, 1) "
    "  if tag ~= 'e' and tag ~= 'n' then "
    "    local num = nil "
    "    if tag == 'b' then num = (string.sub(v, 2) == '1') and -1 or 0 "
    "    elseif tag == 'h' or tag == 'i' or tag == 'l' or tag == 'd' or tag == 's' then num = tonumber(string.sub(v, 2)) end "
    "    if not num then return redis.error_reply('NOTNUM the pool counter holds no number') end "
    "    n = math.floor(num + 0.5) "
    "    if n > pool then n = 1 end "
    "  end "
    "end "
    "local nxt = n + 1 "
    "local tag = (nxt >= -2147483648 and nxt <= 2147483647) and 'i' or 'l' "
    "redis.call('HSET', KEYS[1], ARGV[5], prefix(e, ARGV[6]) .. tag .. string.format('%d', nxt)) "
    "return n";

const char* kRenewLock =
    "if redis.call('GET', KEYS[1]) == ARGV[1] then return redis.call('PEXPIRE', KEYS[1], ARGV[2]) end return 0";
const char* kUnlock = "if redis.call('GET', KEYS[1]) == ARGV[1] then return redis.call('DEL', KEYS[1]) end return 0";

// KEYS: session. ARGV: minutes.
const char* kCreateSession =
    "redis.call('HSET', KEYS[1], 't', ARGV[1]) redis.call('EXPIRE', KEYS[1], tonumber(ARGV[1]) * 60) return 1";
const char* kTouchSession =
    "local t = redis.call('HGET', KEYS[1], 't') if not t then return 0 end "
    "redis.call('EXPIRE', KEYS[1], tonumber(t) * 60) return 1";
// KEYS: session. ARGV: field, entry.
const char* kSetSessionValue =
    "if redis.call('EXISTS', KEYS[1]) == 0 then return 0 end redis.call('HSET', KEYS[1], ARGV[1], ARGV[2]) return 1";
const char* kClearSession =
    "local t = redis.call('HGET', KEYS[1], 't') if not t then return 0 end "
    "local ttl = redis.call('PTTL', KEYS[1]) redis.call('DEL', KEYS[1]) redis.call('HSET', KEYS[1], 't', t) "
    "if ttl > 0 then redis.call('PEXPIRE', KEYS[1], ttl) end return 1";
// KEYS: session. ARGV: minutes.
const char* kSetSessionTimeout =
    "if redis.call('EXISTS', KEYS[1]) == 0 then return 0 end "
    "redis.call('HSET', KEYS[1], 't', ARGV[1]) redis.call('EXPIRE', KEYS[1], tonumber(ARGV[1]) * 60) return 1";

// Keeps a write to a connection Redis closed from killing the process with
// SIGPIPE (torvane serve ignores it; torvane run and embedding hosts may not):
// the signal is blocked on this thread for the command, and one it raised is
// taken before the mask is restored. The write itself fails with EPIPE.
class NoSigPipe {
 public:
  NoSigPipe() {
    sigemptyset(&pipe_);
    sigaddset(&pipe_, SIGPIPE);
    sigset_t pending;
    sigpending(&pending);
    alreadyPending_ = sigismember(&pending, SIGPIPE) == 1;
    pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
  }
  ~NoSigPipe() {
    sigset_t pending;
    sigpending(&pending);
    if (!alreadyPending_ && sigismember(&pending, SIGPIPE) == 1) {
      timespec zero{0, 0};
      sigtimedwait(&pipe_, nullptr, &zero);
    }
    pthread_sigmask(SIG_SETMASK, &old_, nullptr);
  }
  NoSigPipe(const NoSigPipe&) = delete;
  NoSigPipe& operator=(const NoSigPipe&) = delete;

 private:
  sigset_t pipe_, old_;
  bool alreadyPending_ = false;
};

}  // namespace

struct RedisStateStore::Reply {
  std::unique_ptr<redisReply, void (*)(void*)> r{nullptr, freeReplyObject};
  int type() const { return r->type; }
  bool nil() const { return r->type == REDIS_REPLY_NIL; }
  std::string_view str() const { return std::string_view(r->str, r->len); }
  long long integer() const { return r->type == REDIS_REPLY_INTEGER ? r->integer : 0; }
};

RedisAddress ParseRedisUrl(std::string_view url) {
  auto bad = [&](const std::string& why) {
    return std::runtime_error("state_store: " + why + " in \"" + std::string(url) +
                              "\" (expected redis://[:PASSWORD@]HOST[:PORT][/DB])");
  };
  constexpr std::string_view scheme = "redis://";
  if (url.substr(0, scheme.size()) != scheme) throw bad("not a redis:// address");
  std::string_view rest = url.substr(scheme.size());
  RedisAddress a;
  if (size_t at = rest.rfind('@'); at != std::string_view::npos) {
    std::string_view user = rest.substr(0, at);
    if (!user.empty() && user.front() == ':') user.remove_prefix(1);
    a.password = std::string(user);
    rest = rest.substr(at + 1);
  }
  std::string_view hostPort = rest, db;
  if (size_t slash = rest.find('/'); slash != std::string_view::npos) {
    hostPort = rest.substr(0, slash);
    db = rest.substr(slash + 1);
  }
  auto number = [&](std::string_view s, int lo, int hi, const char* what) {
    int n = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size() || n < lo || n > hi)
      throw bad(std::string("a bad ") + what);
    return n;
  };
  std::string_view host = hostPort;
  if (!hostPort.empty() && hostPort.front() == '[') {
    size_t close = hostPort.find(']');
    if (close == std::string_view::npos) throw bad("an unclosed [");
    host = hostPort.substr(1, close - 1);
    std::string_view after = hostPort.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') throw bad("text after ]");
      a.port = number(after.substr(1), 1, 65535, "port");
    }
  } else if (size_t colon = hostPort.rfind(':'); colon != std::string_view::npos) {
    host = hostPort.substr(0, colon);
    a.port = number(hostPort.substr(colon + 1), 1, 65535, "port");
  }
  if (host.empty()) throw bad("no host");
  a.host = std::string(host);
  if (!db.empty()) a.db = number(db, 0, 100000, "database number");
  return a;
}

RedisStateStore::RedisStateStore(RedisAddress address, int timeoutMs)
    : address_(std::move(address)), timeoutMs_(timeoutMs) {}

RedisStateStore::~RedisStateStore() {
  for (redisContext* c : idle_) redisFree(c);
}

std::string RedisStateStore::Describe() const {
  std::string host = address_.host.find(':') != std::string::npos ? "[" + address_.host + "]" : address_.host;
  return "redis://" + host + ":" + std::to_string(address_.port) + "/" + std::to_string(address_.db);
}

void RedisStateStore::Unavailable(const std::string& why) {
  throw Error(kStateStoreUnavailable,
              "State store - the Redis server " + Describe() + " cannot be reached (" + why +
                  "); sessions, Application values and upload progress are unavailable until it answers.",
              "State store");
}

void RedisStateStore::DropIdle() {
  std::vector<redisContext*> idle;
  {
    std::lock_guard g(mutex_);
    idle.swap(idle_);
  }
  for (redisContext* c : idle) redisFree(c);
}

redisContext* RedisStateStore::Take(bool& pooled) {
  pooled = false;
  {
    std::lock_guard g(mutex_);
    if (!idle_.empty()) {
      pooled = true;
      redisContext* c = idle_.back();
      idle_.pop_back();
      return c;
    }
    if (std::chrono::steady_clock::now() < pauseUntil_) Unavailable(lastError_);
  }
  redisContext* c = redisConnectWithTimeout(address_.host.c_str(), address_.port, Tv(timeoutMs_));
  std::string why;
  if (!c) why = "out of memory";
  else if (c->err) why = c->errstr;
  else if (redisSetTimeout(c, Tv(timeoutMs_)) != REDIS_OK) why = "cannot set the timeout";
  auto setup = [&](std::vector<std::string> args) {
    if (!why.empty()) return;
    std::vector<const char*> argv;
    std::vector<size_t> lens;
    for (auto& s : args) {
      argv.push_back(s.data());
      lens.push_back(s.size());
    }
    auto* r = static_cast<redisReply*>(redisCommandArgv(c, static_cast<int>(argv.size()), argv.data(), lens.data()));
    if (!r) why = c->errstr;
    else if (r->type == REDIS_REPLY_ERROR) why = std::string(r->str, r->len);
    if (r) freeReplyObject(r);
  };
  if (!address_.password.empty()) setup({"AUTH", address_.password});
  if (address_.db != 0) setup({"SELECT", std::to_string(address_.db)});
  if (why.empty()) return c;
  if (c) redisFree(c);
  {
    std::lock_guard g(mutex_);
    pauseUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRetryPauseMs);
    lastError_ = why;
  }
  Unavailable(why);
}

void RedisStateStore::Give(redisContext* c) {
  std::lock_guard g(mutex_);
  if (idle_.size() < kMaxIdle) idle_.push_back(c);
  else redisFree(c);
}

RedisStateStore::Reply RedisStateStore::Command(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  std::vector<size_t> lens;
  for (const auto& s : args) {
    argv.push_back(s.data());
    lens.push_back(s.size());
  }
  Reply reply;
  redisContext* c = nullptr;
  NoSigPipe noSigPipe;
  for (int attempt = 0;; ++attempt) {
    bool pooled = false;
    c = Take(pooled);
    reply.r.reset(
        static_cast<redisReply*>(redisCommandArgv(c, static_cast<int>(argv.size()), argv.data(), lens.data())));
    if (reply.r) break;
    // The connection failed: it is dropped with every idle one (they went
    // the same way when the server restarted). A pooled connection the server
    // had closed before the command went out is replaced once; any other
    // failure (a timeout, a refused connect) makes the next commands wait a
    // short pause before they connect again.
    bool closedBefore = pooled && c->err == REDIS_ERR_EOF && attempt == 0;
    std::string why = c->errstr[0] ? c->errstr : "no answer";
    if (c->err == REDIS_ERR_IO && why == std::strerror(EAGAIN))  // the socket's receive timeout
      why = "no answer within " + std::to_string(timeoutMs_) + " ms";
    redisFree(c);
    DropIdle();
    if (closedBefore) continue;
    {
      std::lock_guard g(mutex_);
      pauseUntil_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRetryPauseMs);
      lastError_ = why;
    }
    Unavailable(why);
  }
  Give(c);
  if (reply.type() == REDIS_REPLY_ERROR) {
    std::string_view text = reply.str();
    if (text.substr(0, 6) == "NOTNUM" || text.find("NOTNUM") != std::string_view::npos)
      ThrowPlatform(err::TypeMismatch);
    if (text.substr(0, 7) == "LOADING" || text.substr(0, 8) == "BUSY Red" || text.substr(0, 8) == "MASTERDO")
      Unavailable(std::string(text));
    throw Error(kHostFailure, "State store - Redis refused a command: " + std::string(text), "State store");
  }
  return reply;
}

RedisStateStore::Reply RedisStateStore::Script(const char* body, std::vector<std::string> keys,
                                               std::vector<std::string> args) {
  std::vector<std::string> all{"EVAL", body, std::to_string(keys.size())};
  for (auto& k : keys) all.push_back(std::move(k));
  for (auto& a : args) all.push_back(std::move(a));
  return Command(all);
}

// ---- Application values -----------------------------------------------------------------

Variant RedisStateStore::AppValue(const std::string& key) {
  Reply r = Command({"HGET", kAppKey, key});
  if (r.type() != REDIS_REPLY_STRING) return Variant();
  return DecodeEntry(r.str()).second;
}

bool RedisStateStore::SetAppValue(const std::string& key, std::string_view name, const Variant& value,
                                  const std::string& token) {
  return Script(kWriteApp.c_str(), {kAppKey, kLockKey}, {token, "s", key, std::string(name), EncodeValue(value)})
             .integer() == 1;
}

bool RedisStateStore::RemoveAppValue(const std::string& key, const std::string& token) {
  return Script(kWriteApp.c_str(), {kAppKey, kLockKey}, {token, "r", key, "", ""}).integer() == 1;
}

bool RedisStateStore::RemoveAllAppValues(const std::string& token) {
  return Script(kWriteApp.c_str(), {kAppKey, kLockKey}, {token, "a", "", "", ""}).integer() == 1;
}

std::vector<std::string> RedisStateStore::AppNames() {
  Reply r = Command({"HGETALL", kAppKey});
  std::vector<std::pair<std::string, std::string>> byKey;
  for (size_t i = 0; r.type() == REDIS_REPLY_ARRAY && i + 1 < r.r->elements; i += 2) {
    redisReply* f = r.r->element[i];
    redisReply* v = r.r->element[i + 1];
    byKey.emplace_back(std::string(f->str, f->len), DecodeEntry(std::string_view(v->str, v->len)).first);
  }
  std::sort(byKey.begin(), byKey.end());  // folded-name order, as the memory store
  std::vector<std::string> out;
  for (auto& [k, name] : byKey) out.push_back(std::move(name));
  return out;
}

int64_t RedisStateStore::ReserveSlot(const PoolNames& n, int32_t poolSize, const std::string& token) {
  Reply r = Script(kReserveSlot.c_str(), {kAppKey, kLockKey},
                   {token, n.poolSizeKey, n.poolSizeName, std::to_string(poolSize), n.counterKey, n.counterName});
  return r.integer();
}

bool RedisStateStore::TryLockApp(const std::string& token, int64_t leaseMs) {
  Reply r = Command({"SET", kLockKey, token, "NX", "PX", std::to_string(leaseMs)});
  return r.type() == REDIS_REPLY_STATUS;
}

bool RedisStateStore::RenewLock(const std::string& token, int64_t leaseMs) {
  return Script(kRenewLock, {kLockKey}, {token, std::to_string(leaseMs)}).integer() == 1;
}

void RedisStateStore::UnlockApp(const std::string& token) { Script(kUnlock, {kLockKey}, {token}); }

// ---- Sessions ---------------------------------------------------------------------------

void RedisStateStore::CreateSession(const std::string& id, int timeoutMinutes) {
  Script(kCreateSession, {SessionKey(id)}, {std::to_string(timeoutMinutes)});
}

bool RedisStateStore::TouchSession(const std::string& id) {
  return Script(kTouchSession, {SessionKey(id)}, {}).integer() == 1;
}

Variant RedisStateStore::SessionValue(const std::string& id, const std::string& key) {
  Reply r = Command({"HGET", SessionKey(id), ValueField(key)});
  if (r.type() != REDIS_REPLY_STRING) return Variant();
  return DecodeEntry(r.str()).second;
}

bool RedisStateStore::SetSessionValue(const std::string& id, const std::string& key, std::string_view name,
                                      const Variant& value) {
  return Script(kSetSessionValue, {SessionKey(id)}, {ValueField(key), EncodeEntry(name, value)}).integer() == 1;
}

void RedisStateStore::RemoveSessionValue(const std::string& id, const std::string& key) {
  Command({"HDEL", SessionKey(id), ValueField(key)});
}

void RedisStateStore::RemoveAllSessionValues(const std::string& id) { Script(kClearSession, {SessionKey(id)}, {}); }

std::vector<std::string> RedisStateStore::SessionNames(const std::string& id) {
  Reply r = Command({"HGETALL", SessionKey(id)});
  std::vector<std::pair<std::string, std::string>> byKey;
  for (size_t i = 0; r.type() == REDIS_REPLY_ARRAY && i + 1 < r.r->elements; i += 2) {
    std::string_view f(r.r->element[i]->str, r.r->element[i]->len);
    if (f.substr(0, 2) != "v:") continue;
    redisReply* v = r.r->element[i + 1];
    byKey.emplace_back(std::string(f), DecodeEntry(std::string_view(v->str, v->len)).first);
  }
  std::sort(byKey.begin(), byKey.end());
  std::vector<std::string> out;
  for (auto& [k, name] : byKey) out.push_back(std::move(name));
  return out;
}

int RedisStateStore::SessionTimeout(const std::string& id) {
  Reply r = Command({"HGET", SessionKey(id), "t"});
  if (r.type() != REDIS_REPLY_STRING) return 0;
  int t = 0;
  std::string_view s = r.str();
  std::from_chars(s.data(), s.data() + s.size(), t);
  return t;
}

bool RedisStateStore::SetSessionTimeout(const std::string& id, int minutes) {
  return Script(kSetSessionTimeout, {SessionKey(id)}, {std::to_string(minutes)}).integer() == 1;
}

void RedisStateStore::AbandonSession(const std::string& id) { Command({"DEL", SessionKey(id)}); }

size_t RedisStateStore::SessionCount() {
  size_t count = 0;
  std::string cursor = "0";
  do {
    Reply r = Command({"SCAN", cursor, "MATCH", std::string(kSessionPrefix) + "*", "COUNT", "1000"});
    if (r.type() != REDIS_REPLY_ARRAY || r.r->elements != 2) break;
    cursor = std::string(r.r->element[0]->str, r.r->element[0]->len);
    count += r.r->element[1]->elements;
  } while (cursor != "0");
  return count;
}

}  // namespace torvane::server
