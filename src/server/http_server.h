// HttpServer: the web host of `torvane serve`, on Boost.Beast.
//
// I/O threads accept connections, read request headers (HTTP/1.1 keep-alive,
// bounded in size and time), answer bad requests (400, 404, 405, 411, 413, 431,
// 503, 505) and serve static files. Each .asp request goes to the bounded pool
// of worker threads, where one thread runs the whole page: the page reads the
// body from the connection as it asks for it (BinaryRead, Form) and its output
// leaves through the same connection, both with the configured timeouts. When
// the page ends the connection returns to the I/O threads for its next request.
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

  struct Impl;  // the server's state (public only to the connections in http_server.cpp)

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace torvane::server
