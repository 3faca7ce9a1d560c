// ApplicationStore: the Application host object, one per site, shared by every
// page on every worker thread.
//
// Values are copied in and out under an internal mutex, so readers never see a
// half-written value. Objects (also inside arrays) are refused: a component
// object belongs to the thread of the page that created it. Lock/UnLock is a real cross-thread lock owned by one page
// at a time (re-entrant for that page); while a page holds it, other pages'
// SetValue and Lock wait. ReleaseFor() is called by the host at the end of every
// page, so a page that never unlocks (or fails, or ends) never blocks the site.
//
// Each page sees the store through an ApplicationView (the Application object
// of that page) that carries the page's identity.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/named_values.h"

namespace torvane::server {

class ApplicationStore {
 public:
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
  // A fresh page identity (never 0).
  uint64_t NewPageId();

 private:
  std::mutex valuesMutex_;
  NamedValues values_;
  std::mutex lockMutex_;
  std::condition_variable lockFree_;
  uint64_t owner_ = 0;
  int depth_ = 0;
  uint64_t nextPage_ = 1;
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
