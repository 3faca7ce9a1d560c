// A real redis-server for the tests: started on a free loopback port in a
// temporary folder (no persistence), stopped by its pid. Tests that need it
// skip with a message when redis-server is not installed
// (scripts/install-deps.sh installs it).
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace torvane::test {

class RedisServer {
 public:
  RedisServer() = default;
  ~RedisServer();
  RedisServer(const RedisServer&) = delete;
  RedisServer& operator=(const RedisServer&) = delete;

  // True when redis-server can be run here.
  static bool Installed();
  // Starts the server (on a free port the first time, on the same port
  // again after Stop) and waits until it answers; false when it does not.
  bool Start();
  // Stops it (TERM, then KILL) and reaps it.
  void Stop();
  int port() const { return port_; }
  std::string Url(int db = 0) const { return "redis://127.0.0.1:" + std::to_string(port_) + "/" + std::to_string(db); }
  // Runs one command on a fresh connection; its reply as text (integers in
  // decimal, nil as "(nil)", errors as "ERR ..."). "" when unreachable.
  std::string Command(const std::vector<std::string>& args, int db = 0) const;

 private:
  pid_t pid_ = -1;
  int port_ = 0;
  std::string dir_;
};

}  // namespace torvane::test
