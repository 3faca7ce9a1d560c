// HttpServer: the web host of `torvane serve`, on Boost.Beast.
//
// I/O threads accept connections, read request headers (HTTP/1.1 keep-alive,
// bounded in size and time), answer bad requests (400, 404, 405, 411, 413, 431,
// 501, 503, 505) and serve static files. Each .asp request goes to the pool of
// page threads, where one thread runs the whole page: the page reads the body
// from the connection as it asks for it (BinaryRead, Form) and its output
// leaves through the same connection. Every transfer with a client is held to
// an idle timeout, a minimum rate and a deadline (TransferClock); a page thread
// that waits for its client gives its slot to other pages meanwhile, so slow
// clients never hold up other visitors. When the page ends, a body it left
// unread is drained (or the connection closed) by the I/O threads, and the
// connection returns to them for its next request. Answers that end a
// connection close it lingering, so the client sees the answer, not a reset.
#pragma once

#include <cstdint>
#include <memory>

#include "server/config.h"
#include "server/page_runner.h"

namespace torvane::server {

class HttpServer {
 public:
  HttpServer(HostConfig config, std::shared_ptr<Site> site);
  ~HttpServer();
  // Binds the listening socket; returns the bound port (useful with port 0).
  // Throws std::runtime_error when it cannot bind.
  uint16_t Listen();
  // Serves until Stop() is called (from a signal handler or another thread).
  void Run();
  void Stop();
  // The graceful stop (SIGTERM): closes the listener and idle connections,
  // lets requests in flight finish for up to `graceSeconds`, then stops the
  // pages still running at their next checkpoint (their uploads are cleaned
  // up as failed ones) and waits a little for them. Blocks until done; the
  // caller then ends the process.
  void Drain(int graceSeconds);
  // New settings for the requests to come (SIGHUP); connections stay.
  void Reload(const HostConfig& config);
  // Requests between their headers and the end of their answer.
  int RequestsInFlight() const;

  struct Impl;  // the server's state (public only to the connections in http_server.cpp)

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace torvane::server
