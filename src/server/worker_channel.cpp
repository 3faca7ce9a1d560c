#include "server/worker_channel.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/sendfile.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <utility>

#include "basics/hresult.h"
#include "server/worker_pool.h"

namespace torvane::server {

namespace {

// A wait in poll()'s milliseconds, rounded up so that it never ends early.
int PollMs(WorkerChannel::Clock::duration d) {
  if (d <= WorkerChannel::Clock::duration::zero()) return 0;
  auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

bool WouldBlock(int e) { return e == EAGAIN || e == EWOULDBLOCK; }

bool SetCork(int fd, int value) { return ::setsockopt(fd, IPPROTO_TCP, TCP_CORK, &value, sizeof value) == 0; }

}  // namespace

void TcpCork::Set(int fd) {
  if (!on_) on_ = SetCork(fd, 1);
}

void TcpCork::Lift(int fd) {
  if (!on_) return;
  on_ = false;
  SetCork(fd, 0);
}

void WorkerChannel::Begin(int fd, TransferLimits read, TransferLimits write, PageClock page, CutLog cut,
                          Clock::time_point now) {
  Uncork();
  fd_ = fd;
  readClock_ = TransferClock(read, now);
  writeClock_ = TransferClock(write, now);
  pageClock_ = std::move(page);
  cut_ = std::move(cut);
  readFailure_.reset();
  readEnded_ = false;
  broken_ = false;
  beforeFirstWait_ = nullptr;
}

WorkerChannel::Outcome WorkerChannel::Await(short events, Clock::duration wait) {
  if (pageClock_.Deadline() != Clock::time_point::max())
    wait = std::min<Clock::duration>(wait, pageClock_.Deadline() - Clock::now());
  int stopFd = pageClock_.Stop() ? pageClock_.Stop()->Fd() : -1;
  pollfd p[2] = {{fd_, events, 0}, {stopFd, POLLIN, 0}};
  nfds_t count = stopFd >= 0 ? 2 : 1;
  int timeout = PollMs(wait);
  int r;
  if (timeout == 0) {
    r = ::poll(p, count, 0);
  } else {
    if (beforeFirstWait_) std::exchange(beforeFirstWait_, nullptr)();
    WorkerPool::ClientWait waiting;  // the slot goes to other pages meanwhile
    r = ::poll(p, count, timeout);
  }
  int e = errno;
  short revents = r > 0 ? p[0].revents : 0;
  if (pageClock_.Expired()) return {Wait::Stopped, revents};
  if (r < 0) return {e == EINTR ? Wait::Ready : Wait::TimedOut, 0};
  return {r == 0 ? Wait::TimedOut : Wait::Ready, revents};
}

void WorkerChannel::CheckRead() const {
  if (readFailure_) throw *readFailure_;
  // A page that reads a body faster than the client sends it is stopped
  // while it waits; one that never waits (the bytes are always there) is
  // stopped here, at its next read.
  pageClock_.Check();
}

void WorkerChannel::FailRead(Error e) {
  readFailure_ = e;
  throw e;
}

size_t WorkerChannel::Read(uint8_t* out, size_t max) {
  CheckRead();
  while (true) {
    // Bytes already in the socket are taken at once; the thread only waits
    // when there are none.
    ssize_t got = ::recv(fd_, out, max, MSG_DONTWAIT);
    if (got > 0) {
      readClock_.Moved(got);
      return static_cast<size_t>(got);
    }
    if (got == 0) {
      readEnded_ = true;
      return 0;
    }
    if (errno == EINTR) continue;
    if (!WouldBlock(errno)) {
      int e = errno;
      broken_ = true;  // a reset: nothing can be sent either
      if (cut_) cut_(std::string("the connection failed while the page read its body: ") + std::strerror(e));
      try {
        ThrowErrno(e);
      } catch (const Error& err) {
        FailRead(err);
      }
    }
    auto start = Clock::now();
    Outcome w = Await(POLLIN, readClock_.NextWait(start));
    if (w.wait == Wait::Stopped) pageClock_.Check();
    auto now = Clock::now();
    TransferVerdict verdict = readClock_.AfterWait(now - start, w.wait == Wait::TimedOut, now);
    if (verdict != TransferVerdict::Ok) {
      std::string why = readClock_.DescribeRead(verdict);
      if (cut_) cut_(why);
      FailRead(Error(kHostFailure, "Request.BinaryRead - " + why + ".", "Request object"));
    }
  }
}

bool WorkerChannel::AwaitWritable() {
  auto start = Clock::now();
  Outcome w = Await(POLLOUT, writeClock_.NextWait(start));
  if (w.wait == Wait::Stopped) return false;
  auto now = Clock::now();
  TransferVerdict verdict = writeClock_.AfterWait(now - start, w.wait == Wait::TimedOut, now);
  if (verdict == TransferVerdict::Ok) return true;
  if (cut_) cut_(writeClock_.DescribeWrite(verdict));
  return false;
}

bool WorkerChannel::Send(std::string_view data) {
  if (broken_) return false;
  Uncork();  // bytes after a file range leave as soon as they are sent
  while (!data.empty()) {
    ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      writeClock_.Moved(n);
      data.remove_prefix(static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && WouldBlock(errno) && AwaitWritable()) continue;
    broken_ = true;
    return false;
  }
  return true;
}

bool WorkerChannel::SendFile(int fd, int64_t offset, int64_t length) {
  if (broken_) return false;
  cork_.Set(fd_);
  off_t off = static_cast<off_t>(offset);
  while (length > 0) {
    ssize_t n = ::sendfile(fd_, fd, &off, static_cast<size_t>(std::min<int64_t>(length, 1 << 30)));
    if (n > 0) {
      writeClock_.Moved(n);
      length -= n;
      continue;
    }
    if (n == 0) {
      broken_ = true;
      throw Error(62, "Input past end of file");
    }
    if (errno == EINTR) continue;
    if (WouldBlock(errno) && AwaitWritable()) continue;
    broken_ = true;
    return false;
  }
  return true;
}

void WorkerChannel::Uncork() { cork_.Lift(fd_); }

bool WorkerChannel::PeerConnected() {
  if (broken_) return false;
  auto now = Clock::now();
  if (now - lastConnectedCheck_ < std::chrono::milliseconds(5)) return true;
  if (!ProbePeer()) return false;
  lastConnectedCheck_ = now;
  return true;
}

// A client that ended its sending side (shutdown(SHUT_WR), or a FIN after its
// whole body) still reads: it gets the page's answer, and a body it cut short
// fails the page's next read as a truncated body.
bool WorkerChannel::ProbePeer() {
  short ev = Await(POLLIN | POLLRDHUP, Clock::duration::zero()).revents;
  if (ev & (POLLHUP | POLLERR | POLLNVAL)) return false;
  if ((ev & POLLIN) && !(ev & POLLRDHUP)) {
    char c;
    ssize_t n = ::recv(fd_, &c, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0 && !WouldBlock(errno) && errno != EINTR) return false;
  }
  return true;
}

}  // namespace torvane::server
