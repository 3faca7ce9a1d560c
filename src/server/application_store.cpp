#include "server/application_store.h"

#include "automation/object.h"
#include "basics/hresult.h"

namespace torvane::server {

uint64_t ApplicationStore::NewPageId() {
  std::lock_guard g(lockMutex_);
  return nextPage_++;
}

Variant ApplicationStore::Value(std::string_view name) {
  std::lock_guard g(valuesMutex_);
  return values_.Value(name);
}

bool HoldsObject(const Variant& v) {
  if (v.type() == VType::Object) return true;
  if (v.type() == VType::Array)
    for (const auto& item : v.array().items)
      if (HoldsObject(item)) return true;
  return false;
}

void ApplicationStore::SetValue(uint64_t page, std::string_view name, Variant value) {
  if (HoldsObject(value))
    throw Error(kHostFailure,
                "Application - an object cannot be stored in the application store; store its values instead.",
                "Application object");
  // A page that does not hold the lock waits while another page holds it.
  std::unique_lock lk(lockMutex_);
  lockFree_.wait(lk, [&] { return owner_ == 0 || owner_ == page; });
  std::lock_guard g(valuesMutex_);
  values_.Set(name, std::move(value));
}

void ApplicationStore::Remove(uint64_t page, std::string_view name) {
  std::unique_lock lk(lockMutex_);
  lockFree_.wait(lk, [&] { return owner_ == 0 || owner_ == page; });
  std::lock_guard g(valuesMutex_);
  values_.Remove(name);
}

void ApplicationStore::RemoveAll(uint64_t page) {
  std::unique_lock lk(lockMutex_);
  lockFree_.wait(lk, [&] { return owner_ == 0 || owner_ == page; });
  std::lock_guard g(valuesMutex_);
  values_.Clear();
}

void ApplicationStore::Lock(uint64_t page) {
  std::unique_lock lk(lockMutex_);
  lockFree_.wait(lk, [&] { return owner_ == 0 || owner_ == page; });
  owner_ = page;
  ++depth_;
}

void ApplicationStore::UnLock(uint64_t page) {
  std::lock_guard lk(lockMutex_);
  if (owner_ != page) return;
  if (--depth_ <= 0) {
    owner_ = 0;
    depth_ = 0;
    lockFree_.notify_all();
  }
}

bool ApplicationStore::ReleaseFor(uint64_t page) {
  std::lock_guard lk(lockMutex_);
  if (owner_ != page) return false;
  owner_ = 0;
  depth_ = 0;
  lockFree_.notify_all();
  return true;
}

std::vector<std::string> ApplicationStore::Names() {
  std::lock_guard g(valuesMutex_);
  return values_.Names();
}

}  // namespace torvane::server
