// The default of Application::ReserveSlot: the pool step under the lock.
#include "host/host.h"

namespace torvane {

namespace {
// Holds the application lock for the counter update; released on every way
// out, so a failing store call cannot leave other pages waiting.
class HeldLock {
 public:
  explicit HeldLock(Application& app) : app_(app) { app_.Lock(); }
  ~HeldLock() { app_.UnLock(); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

 private:
  Application& app_;
};
}  // namespace

int64_t Application::ReserveSlot(std::string_view poolSizeName, int32_t poolSize, std::string_view counterName) {
  HeldLock lock(*this);
  SetValue(poolSizeName, Variant(poolSize));
  Variant current = Value(counterName);
  if (current.isEmpty() || current.isNull() || current.toInt64() > poolSize) SetValue(counterName, Variant(int32_t{1}));
  int64_t counter = Value(counterName).toInt64();
  SetValue(counterName, Variant(counter + 1));
  return counter;
}

}  // namespace torvane
