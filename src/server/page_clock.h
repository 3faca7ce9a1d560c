// The wall-clock limits of a running page: its own deadline (page_deadline)
// and the server's stop at the end of the grace period after SIGTERM.
//
// Script code is stopped by the page engine's execution check; a page busy in
// a component call is stopped at the component's next checkpoint: every
// Request.BinaryRead, Response write and IsClientConnected asks Check(), which
// throws the host error, so the component fails the way it fails for any
// read error and cleans up what it wrote. Waits for the client never last
// past the page's deadline, and the server's stop wakes them at once (its
// eventfd is polled beside the client's socket).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "basics/hresult.h"

namespace torvane::server {

// The server's hard stop: set once, when the grace period has run out.
class ServerStop {
 public:
  ServerStop();
  ~ServerStop();
  ServerStop(const ServerStop&) = delete;
  ServerStop& operator=(const ServerStop&) = delete;
  // Stops every page at its next checkpoint and wakes every wait for a client.
  void Trigger(int graceSeconds);
  bool Triggered() const { return stopped_.load(std::memory_order_relaxed); }
  const std::atomic<bool>& Flag() const { return stopped_; }
  int GraceSeconds() const { return grace_.load(); }
  // Readable once Trigger ran (for poll()); -1 when none could be made.
  int Fd() const { return fd_; }

 private:
  std::atomic<bool> stopped_{false};
  std::atomic<int> grace_{0};
  int fd_ = -1;
};

// The error texts of the two stops (also used by the page engine).
std::string PageDeadlineText(int seconds);
std::string ServerStopText(int graceSeconds);

class PageClock {
 public:
  using Clock = std::chrono::steady_clock;
  PageClock() = default;
  // `deadlineSeconds` 0: no deadline. `stop` may be null.
  PageClock(int deadlineSeconds, std::shared_ptr<const ServerStop> stop, Clock::time_point start = Clock::now());

  // Throws the host error (kHostFailure, source "Torvane host") once the
  // deadline has passed or the server has stopped.
  void Check() const;
  bool Expired() const;
  // The deadline (time_point::max() when none).
  Clock::time_point Deadline() const { return deadline_; }
  int DeadlineSeconds() const { return seconds_; }
  const ServerStop* Stop() const { return stop_.get(); }

 private:
  Clock::time_point deadline_ = Clock::time_point::max();
  int seconds_ = 0;
  std::shared_ptr<const ServerStop> stop_;
};

}  // namespace torvane::server
