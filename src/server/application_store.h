// ApplicationStore: the Application host object, one per site, shared by every
// page on every worker thread (and, with a shared state store, by every
// process that uses the store).
//
// Values live in the site's StateStore and are copied in and out whole, so
// readers never see a half-written value. Objects (also inside arrays) are
// refused: a component object belongs to the thread of the page that created
// it. Lock/UnLock is a real lock owned by one page at a time (re-entrant for
// that page); while a page holds it, other pages' SetValue, Remove and Lock
// wait. ReleaseFor() is called by the host at the end of every page, so a page
// that never unlocks (or fails, or ends) never blocks the site.
//
// With a store shared by processes the lock is also taken in the store, under
// a token naming this process and page, with a lease the store ends by itself
// (kLeaseMs) unless renewed: a thread renews it while the page holds it, so a
// process that dies holding the lock blocks the others for one lease at most.
// A page waits for a lock held by another process (and its writes wait while
// another process holds it) at most kSharedWaitMs, then fails with a page error.
//
// Each page sees the store through an ApplicationView (the Application object
// of that page) that carries the page's identity.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "host/host.h"
#include "server/state_store.h"

namespace torvane::server {

class ApplicationStore {
 public:
  static constexpr int64_t kLeaseMs = 10000;
  static constexpr int64_t kSharedWaitMs = 30000;
  // Values in this process's memory (nullptr) or in `state`.
  explicit ApplicationStore(std::shared_ptr<StateStore> state = nullptr, int64_t leaseMs = kLeaseMs,
                            int64_t sharedWaitMs = kSharedWaitMs);
  ~ApplicationStore();
  ApplicationStore(const ApplicationStore&) = delete;
  ApplicationStore& operator=(const ApplicationStore&) = delete;

  Variant Value(std::string_view name);
  void SetValue(uint64_t page, std::string_view name, Variant value);
  void Lock(uint64_t page);
  void UnLock(uint64_t page);
  // Releases the lock completely when `page` holds it; true when it did.
  bool ReleaseFor(uint64_t page);
  std::vector<std::string> Names();
  // Removes one value / every value; they wait for the lock like SetValue.
  void Remove(uint64_t page, std::string_view name);
  void RemoveAll(uint64_t page);
  // The next slot of a numbered pool in one step (see Application::ReserveSlot);
  // waits for the lock like SetValue.
  int64_t ReserveSlot(uint64_t page, std::string_view poolSizeName, int32_t poolSize, std::string_view counterName);
  // A fresh page identity (never 0).
  uint64_t NewPageId();

 private:
  // Runs `attempt(token)` once it is `page`'s turn in this process (no other
  // page holds the lock); token is the page's lock token when it holds the
  // lock, else "". An attempt that returns false (another process holds the
  // lock) is made again after a pause, for kSharedWaitMs at most.
  void Write(uint64_t page, const std::function<bool(const std::string&)>& attempt);
  std::string Token(uint64_t page) const;
  // Takes the lock in a shared store for `page` (waits as Write does).
  void AcquireShared(uint64_t page);
  void ReleaseShared(uint64_t page);
  void RenewLoop();

  std::shared_ptr<StateStore> state_;
  bool shared_;
  int64_t leaseMs_, sharedWaitMs_;
  std::string instance_;  // random: names this process in lock tokens
  std::mutex lockMutex_;
  std::condition_variable lockFree_;
  uint64_t owner_ = 0;
  int depth_ = 0;
  uint64_t nextPage_ = 1;
  // The lease renewal of a shared lock: the token it renews ("" when none).
  std::mutex renewMutex_;
  std::condition_variable renewWake_;
  std::string renewToken_;
  bool stopping_ = false;
  std::thread renewer_;
};

// The Application object of one page.
class ApplicationView : public Application {
 public:
  ApplicationView(std::shared_ptr<ApplicationStore> store, uint64_t page) : store_(std::move(store)), page_(page) {}
  Variant Value(std::string_view name) override { return store_->Value(name); }
  void SetValue(std::string_view name, Variant value) override { store_->SetValue(page_, name, std::move(value)); }
  void Lock() override { store_->Lock(page_); }
  void UnLock() override { store_->UnLock(page_); }
  std::vector<std::string> Names() override { return store_->Names(); }
  void Remove(std::string_view name) override { store_->Remove(page_, name); }
  void RemoveAll() override { store_->RemoveAll(page_); }
  int64_t ReserveSlot(std::string_view poolSizeName, int32_t poolSize, std::string_view counterName) override {
    return store_->ReserveSlot(page_, poolSizeName, poolSize, counterName);
  }
  // The host's end-of-page release.
  bool Release() { return store_->ReleaseFor(page_); }

 private:
  std::shared_ptr<ApplicationStore> store_;
  uint64_t page_;
};

// Whether `v` is or holds (in an array) a component object. Component objects
// belong to the thread of the page that made them, so the shared stores
// (Application, Session) refuse them.
bool HoldsObject(const Variant& v);

}  // namespace torvane::server
