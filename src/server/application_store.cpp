#include "server/application_store.h"

#include <random>

#include "automation/object.h"
#include "basics/hresult.h"
#include "server/memory_state_store.h"

namespace torvane::server {

namespace {

[[noreturn]] void LockHeldElsewhere(int64_t waitedMs) {
  throw Error(kHostFailure,
              "Application - the application lock is held by another server; it was not released within " +
                  std::to_string(waitedMs / 1000) + " seconds.",
              "Application object");
}

std::string InstanceName() {
  std::random_device rd;
  static const char* hex = "0123456789abcdef";
  std::string out;
  for (int i = 0; i < 16; ++i) out += hex[rd() & 15];
  return out;
}

}  // namespace

ApplicationStore::ApplicationStore(std::shared_ptr<StateStore> state, int64_t leaseMs, int64_t sharedWaitMs)
    : state_(state ? std::move(state) : std::make_shared<MemoryStateStore>()),
      shared_(state_->SharedByProcesses()),
      leaseMs_(leaseMs),
      sharedWaitMs_(sharedWaitMs),
      instance_(InstanceName()) {}

ApplicationStore::~ApplicationStore() {
  {
    std::lock_guard g(renewMutex_);
    stopping_ = true;
  }
  renewWake_.notify_all();
  if (renewer_.joinable()) renewer_.join();
}

uint64_t ApplicationStore::NewPageId() {
  std::lock_guard g(lockMutex_);
  return nextPage_++;
}

std::string ApplicationStore::Token(uint64_t page) const { return instance_ + ":" + std::to_string(page); }

Variant ApplicationStore::Value(std::string_view name) { return state_->AppValue(FoldCase(name)); }

bool HoldsObject(const Variant& v) {
  if (v.type() == VType::Object) return true;
  if (v.type() == VType::Array)
    for (const auto& item : v.array().items)
      if (HoldsObject(item)) return true;
  return false;
}

void ApplicationStore::Write(uint64_t page, const std::function<bool(const std::string&)>& attempt) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(sharedWaitMs_);
  int pauseMs = 2;
  while (true) {
    {
      // A page that does not hold the lock waits while another page of this
      // process holds it; a shared store is written outside the process's
      // mutex (the store itself keeps other processes' lock).
      std::unique_lock lk(lockMutex_);
      lockFree_.wait(lk, [&] { return owner_ == 0 || owner_ == page; });
      std::string token = owner_ == page ? Token(page) : std::string();
      if (shared_) lk.unlock();
      if (attempt(token)) return;
    }
    if (std::chrono::steady_clock::now() >= deadline) LockHeldElsewhere(sharedWaitMs_);
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    pauseMs = std::min(pauseMs * 2, 100);
  }
}

void ApplicationStore::SetValue(uint64_t page, std::string_view name, Variant value) {
  if (HoldsObject(value))
    throw Error(kHostFailure,
                "Application - an object cannot be stored in the application store; store its values instead.",
                "Application object");
  std::string key = FoldCase(name);
  Write(page, [&](const std::string& token) { return state_->SetAppValue(key, name, value, token); });
}

void ApplicationStore::Remove(uint64_t page, std::string_view name) {
  std::string key = FoldCase(name);
  Write(page, [&](const std::string& token) { return state_->RemoveAppValue(key, token); });
}

void ApplicationStore::RemoveAll(uint64_t page) {
  Write(page, [&](const std::string& token) { return state_->RemoveAllAppValues(token); });
}

int64_t ApplicationStore::ReserveSlot(uint64_t page, std::string_view poolSizeName, int32_t poolSize,
                                      std::string_view counterName) {
  StateStore::PoolNames names{FoldCase(poolSizeName), std::string(poolSizeName), FoldCase(counterName),
                              std::string(counterName)};
  int64_t slot = -1;
  Write(page, [&](const std::string& token) {
    slot = state_->ReserveSlot(names, poolSize, token);
    return slot >= 0;
  });
  return slot;
}

void ApplicationStore::Lock(uint64_t page) {
  {
    std::unique_lock lk(lockMutex_);
    lockFree_.wait(lk, [&] { return owner_ == 0 || owner_ == page; });
    if (owner_ == page) {
      ++depth_;
      return;
    }
    owner_ = page;
    depth_ = 1;
  }
  if (!shared_) return;
  try {
    AcquireShared(page);
  } catch (...) {
    std::lock_guard lk(lockMutex_);
    owner_ = 0;
    depth_ = 0;
    lockFree_.notify_all();
    throw;
  }
}

void ApplicationStore::AcquireShared(uint64_t page) {
  std::string token = Token(page);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(sharedWaitMs_);
  int pauseMs = 2;
  while (!state_->TryLockApp(token, leaseMs_)) {
    if (std::chrono::steady_clock::now() >= deadline) LockHeldElsewhere(sharedWaitMs_);
    std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    pauseMs = std::min(pauseMs * 2, 100);
  }
  std::lock_guard g(renewMutex_);
  renewToken_ = token;
  if (!renewer_.joinable()) renewer_ = std::thread([this] { RenewLoop(); });
}

void ApplicationStore::ReleaseShared(uint64_t page) {
  if (!shared_) return;
  {
    std::lock_guard g(renewMutex_);
    renewToken_.clear();
  }
  try {
    state_->UnlockApp(Token(page));
  } catch (...) {
    // The store cannot be reached: the lease ends the lock by itself.
  }
}

void ApplicationStore::RenewLoop() {
  std::unique_lock lk(renewMutex_);
  while (!stopping_) {
    renewWake_.wait_for(lk, std::chrono::milliseconds(std::max<int64_t>(leaseMs_ / 3, 1)));
    if (stopping_ || renewToken_.empty()) continue;
    std::string token = renewToken_;
    lk.unlock();
    try {
      state_->RenewLock(token, leaseMs_);
    } catch (...) {
      // Unreachable for now: the next round tries again while the lease lasts.
    }
    lk.lock();
  }
}

void ApplicationStore::UnLock(uint64_t page) {
  std::lock_guard lk(lockMutex_);
  if (owner_ != page) return;
  if (--depth_ <= 0) {
    ReleaseShared(page);
    owner_ = 0;
    depth_ = 0;
    lockFree_.notify_all();
  }
}

bool ApplicationStore::ReleaseFor(uint64_t page) {
  std::lock_guard lk(lockMutex_);
  if (owner_ != page) return false;
  ReleaseShared(page);
  owner_ = 0;
  depth_ = 0;
  lockFree_.notify_all();
  return true;
}

std::vector<std::string> ApplicationStore::Names() { return state_->AppNames(); }

}  // namespace torvane::server
