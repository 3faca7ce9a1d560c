#include "server/page_clock.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include "automation/error.h"

namespace torvane::server {

ServerStop::ServerStop() { fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK); }

ServerStop::~ServerStop() {
  if (fd_ >= 0) ::close(fd_);
}

void ServerStop::Trigger(int graceSeconds) {
  grace_ = graceSeconds;
  if (stopped_.exchange(true)) return;
  if (fd_ >= 0) {
    uint64_t one = 1;
    // Never read back: the descriptor stays readable, so every later poll wakes too.
    [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
  }
}

std::string PageDeadlineText(int seconds) {
  return "The page was stopped: it ran longer than " + std::to_string(seconds) + " seconds (page_deadline).";
}

std::string ServerStopText(int graceSeconds) {
  return "The page was stopped: the server is shutting down and its grace period of " + std::to_string(graceSeconds) +
         " seconds has passed.";
}

PageClock::PageClock(int deadlineSeconds, std::shared_ptr<const ServerStop> stop, Clock::time_point start)
    : seconds_(deadlineSeconds), stop_(std::move(stop)) {
  if (deadlineSeconds > 0) deadline_ = start + std::chrono::seconds(deadlineSeconds);
}

bool PageClock::Expired() const {
  if (stop_ && stop_->Triggered()) return true;
  return deadline_ != Clock::time_point::max() && Clock::now() >= deadline_;
}

void PageClock::Check() const {
  if (stop_ && stop_->Triggered()) throw Error(kHostFailure, ServerStopText(stop_->GraceSeconds()), "Torvane host");
  if (deadline_ != Clock::time_point::max() && Clock::now() >= deadline_)
    throw Error(kHostFailure, PageDeadlineText(seconds_), "Torvane host");
}

}  // namespace torvane::server
