// WorkerChannel: a connection's socket as the page thread uses it while one
// page runs: the request body read as the page asks for it, the answer sent
// (bytes and file ranges), and the question whether the client is still there.
//
// The calls block the page thread, but never inside a system call: every
// recv/send/sendfile is tried without waiting first, and only when the socket
// has nothing to give (or no room) does the thread wait, in one place (Await):
// poll on the socket beside the server's stop descriptor, for as long as the
// direction's TransferClock allows and never past the page's deadline. While
// it waits, the page thread gives its slot to other pages (WorkerPool::
// ClientWait). The server's stop wakes every wait at once.
//
// A transfer that breaks the limits is logged through the cut callback (the
// reason, e.g. "the client sent no data for 30 seconds (read_timeout)") and
// ends: a read fails with the host error, a send returns false. The first read
// failure is final (every later read throws it again), and once the connection
// has failed nothing more is sent. One page thread at a time; Begin starts
// each page afresh.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "automation/error.h"
#include "server/page_clock.h"
#include "server/transfer_clock.h"

namespace torvane::server {

// TCP_CORK on one socket: while it is set, the kernel sends only full
// segments (what is left goes when it is lifted, or after 200 ms). Remembers
// whether it took, so that lifting a cork never set costs no system call (a
// socket that is not TCP never takes it).
class TcpCork {
 public:
  void Set(int fd);
  void Lift(int fd);

 private:
  bool on_ = false;
};

class WorkerChannel {
 public:
  using Clock = std::chrono::steady_clock;
  // Receives why a transfer was cut (without the client's name).
  using CutLog = std::function<void(const std::string& why)>;

  WorkerChannel() = default;
  WorkerChannel(const WorkerChannel&) = delete;
  WorkerChannel& operator=(const WorkerChannel&) = delete;

  // Starts one page's transfers on the connected socket `fd` (not owned): a
  // read clock and a write clock from `read` and `write`, started `now`, the
  // page's clock (its deadline and the server's stop), and where cuts are
  // logged. Forgets the previous page's failures.
  void Begin(int fd, TransferLimits read, TransferLimits write, PageClock page, CutLog cut,
             Clock::time_point now = Clock::now());

  // Throws the read failure recorded earlier, then the page clock's error
  // when the page's deadline has passed or the server has stopped. Called by
  // Read; the connection calls it too before it hands over bytes it already
  // holds, so that a stopped page is stopped at its next read either way.
  void CheckRead() const;

  // Reads up to `max` (> 0) bytes from the socket: what is there at once, or
  // waits for the client under the read limits. Returns 0 when the client
  // ended its side (ReadEnded() is then true; the answer may still go out).
  // Throws an Error on a failed connection (errno's number and text; the
  // connection counts as broken), on a client that broke the read limits
  // (kHostFailure, "Request.BinaryRead - <why>.", source "Request object"),
  // and the page clock's error when the page is stopped during the wait.
  size_t Read(uint8_t* out, size_t max);

  // Sends all of `data` under the write limits. False when the connection
  // failed, the client broke the write limits (logged) or the page was
  // stopped while waiting; the connection is then broken.
  bool Send(std::string_view data);

  // Sends `length` bytes of the file `fd` from `offset` with sendfile(2),
  // waiting like Send. A file that ends before `length` breaks the connection
  // (its length was announced) and throws Error 62 "Input past end of file".
  // The socket stays corked from the first file range on, so that the ranges
  // of one download leave in full segments instead of ending each call with a
  // short one; the next Send, or Uncork, lets the rest go.
  bool SendFile(int fd, int64_t offset, int64_t length);

  // Sends at once what the cork holds back (the server calls it when a page
  // ends). Nothing happens when the socket is not corked.
  void Uncork();

  // Whether the client is still there. A page asks before every 1 KiB it
  // reads and every chunk it sends, so a positive answer is reused for a few
  // milliseconds instead of costing two system calls each time; a client that
  // has gone is still noticed within that time.
  bool PeerConnected();

  // Runs `hook` once, just before the page's first real wait for its client
  // (none runs for a page whose transfers never have to wait). The server
  // uses it to take the socket out of its I/O threads' epoll for the rest of
  // the page. Begin forgets it.
  void BeforeFirstWait(std::function<void()> hook) { beforeFirstWait_ = std::move(hook); }

  bool ReadFailed() const { return readFailure_.has_value(); }
  bool ReadEnded() const { return readEnded_; }  // the client ended its side before the body's end
  bool Broken() const { return broken_; }        // the connection failed: nothing more is sent

 private:
  enum class Wait { Ready, TimedOut, Stopped };
  struct Outcome {
    Wait wait;
    short revents;  // the socket's poll events (0 when the poll failed or timed out)
  };

  // The one wait for the client: polls the socket for `events` beside the
  // server's stop descriptor for up to `wait`, never past the page's
  // deadline. A zero wait only looks and keeps the page's slot. Stopped when
  // the page's clock has run out (deadline or stop); a poll cut short by a
  // signal counts as Ready, so the caller tries again.
  Outcome Await(short events, Clock::duration wait);
  // Waits for room in the socket under the write limits; false (logged when a
  // limit ended it) when the client counts as gone.
  bool AwaitWritable();
  // Records `e` as the final read failure and throws it.
  [[noreturn]] void FailRead(Error e);
  // A reset, a hang-up or a failed write is a disconnect; a client that only
  // ended its sending side still reads.
  bool ProbePeer();

  int fd_ = -1;
  TransferClock readClock_, writeClock_;
  PageClock pageClock_;
  CutLog cut_;
  std::optional<Error> readFailure_;
  bool readEnded_ = false;
  bool broken_ = false;
  TcpCork cork_;  // set by SendFile, lifted by Send, Uncork and Begin
  Clock::time_point lastConnectedCheck_{};
  std::function<void()> beforeFirstWait_;
};

}  // namespace torvane::server
