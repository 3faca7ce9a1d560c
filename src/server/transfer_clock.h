// TransferClock: one direction of a client transfer (a request body coming in,
// a response going out) held to an idle timeout, a minimum average rate and an
// overall deadline.
//
// Only time spent waiting for the client counts toward the rate: while the page
// is busy the client cannot send (or take) anything, and that is not its fault.
// The waiting time is cut into windows of `windowSeconds`; a window in which the
// client moved fewer than minRate * windowSeconds bytes ends the transfer. A
// single wait longer than `idleSeconds` ends it too, and so does the deadline,
// counted from the clock's start.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace torvane::server {

struct TransferLimits {
  int idleSeconds = 30;       // longest wait with no byte moving
  int64_t minRate = 1024;     // bytes per second over a window (0: no minimum)
  int windowSeconds = 30;     // the window of the minimum rate
  int deadlineSeconds = 0;    // the whole transfer (0: no deadline)
};

enum class TransferVerdict { Ok, Idle, TooSlow, Deadline };

class TransferClock {
 public:
  using Clock = std::chrono::steady_clock;

  TransferClock() = default;
  TransferClock(TransferLimits limits, Clock::time_point start);

  // How long the next wait for the client may last (zero or more). Remembers
  // which limit set it, for AfterWait.
  Clock::duration NextWait(Clock::time_point now);
  // Records bytes that moved (whether or not a wait preceded them).
  void Moved(int64_t bytes) { windowBytes_ += bytes; }
  // Records a wait of `waited`, which ran out (`timedOut`) or ended because
  // the client became ready; says whether the transfer may go on.
  TransferVerdict AfterWait(Clock::duration waited, bool timedOut, Clock::time_point now);
  // What happened, for the log and the page's error: "sent 12 bytes in 30
  // seconds, below the minimum of 1024 bytes per second (min_read_rate)".
  // `verb` is "sent" (the client sent) or "took" (the client took).
  std::string Describe(TransferVerdict v, const char* verb, const char* rateKey, const char* idleKey,
                       const char* deadlineKey) const;
  // Describe for a clock of the read limits (the client sent; min_read_rate,
  // read_timeout, read_deadline) and of the write limits (the client took;
  // min_write_rate, write_timeout, write_deadline).
  std::string DescribeRead(TransferVerdict v) const {
    return Describe(v, "sent", "min_read_rate", "read_timeout", "read_deadline");
  }
  std::string DescribeWrite(TransferVerdict v) const {
    return Describe(v, "took", "min_write_rate", "write_timeout", "write_deadline");
  }
  const TransferLimits& limits() const { return limits_; }

 private:
  enum class Bound { Idle, Window, Deadline };
  TransferLimits limits_;
  Clock::time_point deadline_ = Clock::time_point::max();
  Clock::duration windowWaited_{};
  int64_t windowBytes_ = 0;
  int64_t lastWindowBytes_ = 0;
  Bound bound_ = Bound::Idle;
};

}  // namespace torvane::server
