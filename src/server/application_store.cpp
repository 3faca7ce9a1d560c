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
  auto it = values_.find(FoldCase(name));
  return it == values_.end() ? Variant() : it->second.second;
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
  std::string key = FoldCase(name);
  auto it = values_.find(key);
  if (it == values_.end()) values_.emplace(key, std::make_pair(std::string(name), std::move(value)));
  else it->second.second = std::move(value);
}

void ApplicationStore::Remove(uint64_t page, std::string_view name) {
  std::unique_lock lk(lockMutex_);
  lockFree_.wait(lk, [&] { return owner_ == 0 || owner_ == page; });
  std::lock_guard g(valuesMutex_);
  values_.erase(FoldCase(name));
}

void ApplicationStore::RemoveAll(uint64_t page) {
  std::unique_lock lk(lockMutex_);
  lockFree_.wait(lk, [&] { return owner_ == 0 || owner_ == page; });
  std::lock_guard g(valuesMutex_);
  values_.clear();
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
  std::vector<std::string> out;
  for (const auto& [k, v] : values_) out.push_back(v.first);
  return out;
}

}  // namespace torvane::server
