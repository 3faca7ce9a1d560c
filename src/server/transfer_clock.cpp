#include "server/transfer_clock.h"

#include <algorithm>

namespace torvane::server {

using std::chrono::seconds;

TransferClock::TransferClock(TransferLimits limits, Clock::time_point start) : limits_(limits) {
  if (limits_.deadlineSeconds > 0) deadline_ = start + seconds(limits_.deadlineSeconds);
}

TransferClock::Clock::duration TransferClock::NextWait(Clock::time_point now) {
  Clock::duration wait = seconds(std::max(limits_.idleSeconds, 0));
  bound_ = Bound::Idle;
  if (limits_.minRate > 0 && limits_.windowSeconds > 0) {
    Clock::duration left = seconds(limits_.windowSeconds) - windowWaited_;
    if (left < wait) {
      wait = left;
      bound_ = Bound::Window;
    }
  }
  if (deadline_ != Clock::time_point::max()) {
    Clock::duration left = deadline_ - now;
    if (left < wait) {
      wait = left;
      bound_ = Bound::Deadline;
    }
  }
  return std::max(wait, Clock::duration::zero());
}

TransferVerdict TransferClock::AfterWait(Clock::duration waited, bool timedOut, Clock::time_point now) {
  windowWaited_ += waited;
  if (now >= deadline_) return TransferVerdict::Deadline;
  if (timedOut && bound_ == Bound::Idle) return TransferVerdict::Idle;
  if (limits_.minRate > 0 && limits_.windowSeconds > 0 && windowWaited_ >= seconds(limits_.windowSeconds)) {
    if (windowBytes_ < limits_.minRate * limits_.windowSeconds) {
      lastWindowBytes_ = windowBytes_;
      return TransferVerdict::TooSlow;
    }
    windowWaited_ = Clock::duration::zero();
    windowBytes_ = 0;
  }
  return TransferVerdict::Ok;
}

std::string TransferClock::Describe(TransferVerdict v, const char* verb, const char* rateKey, const char* idleKey,
                                    const char* deadlineKey) const {
  switch (v) {
    case TransferVerdict::Idle:
      return std::string("the client ") + verb + " no data for " + std::to_string(limits_.idleSeconds) + " seconds (" +
             idleKey + ")";
    case TransferVerdict::TooSlow:
      return std::string("the client ") + verb + " " + std::to_string(lastWindowBytes_) + " bytes in " +
             std::to_string(limits_.windowSeconds) + " seconds, below the minimum of " +
             std::to_string(limits_.minRate) + " bytes per second (" + rateKey + ")";
    case TransferVerdict::Deadline:
      return std::string("the transfer did not end within ") + std::to_string(limits_.deadlineSeconds) +
             " seconds (" + deadlineKey + ")";
    case TransferVerdict::Ok: break;
  }
  return "";
}

}  // namespace torvane::server
