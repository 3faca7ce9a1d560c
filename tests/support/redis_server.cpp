#include "support/redis_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <hiredis/hiredis.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace torvane::test {

namespace {
const char* kRedis = "/usr/bin/redis-server";

int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}
}  // namespace

RedisServer::~RedisServer() {
  Stop();
  if (!dir_.empty()) {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
}

bool RedisServer::Installed() { return ::access(kRedis, X_OK) == 0; }

bool RedisServer::Start() {
  if (pid_ > 0) return true;
  if (!Installed()) return false;
  if (dir_.empty()) {
    char tmpl[] = "/tmp/torvane-redis.XXXXXX";
    if (!::mkdtemp(tmpl)) return false;
    dir_ = tmpl;
  }
  if (port_ == 0) port_ = FreePort();
  std::string port = std::to_string(port_);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a test that crashed
    int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    ::execl(kRedis, kRedis, "--port", port.c_str(), "--bind", "127.0.0.1", "--save", "", "--appendonly", "no",
            "--dir", dir_.c_str(), "--daemonize", "no", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  if (pid_ < 0) return false;
  for (int i = 0; i < 100; ++i) {
    if (Command({"PING"}) == "PONG") return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  Stop();
  return false;
}

void RedisServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 100; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
  pid_ = -1;
}

std::string RedisServer::Command(const std::vector<std::string>& args, int db) const {
  redisContext* c = redisConnectWithTimeout("127.0.0.1", port_, timeval{1, 0});
  if (!c || c->err) {
    if (c) redisFree(c);
    return "";
  }
  auto run = [&](const std::vector<std::string>& a) {
    std::vector<const char*> argv;
    std::vector<size_t> lens;
    for (const auto& s : a) {
      argv.push_back(s.data());
      lens.push_back(s.size());
    }
    auto* r = static_cast<redisReply*>(redisCommandArgv(c, static_cast<int>(a.size()), argv.data(), lens.data()));
    std::string out;
    if (!r) return out;
    switch (r->type) {
      case REDIS_REPLY_INTEGER: out = std::to_string(r->integer); break;
      case REDIS_REPLY_NIL: out = "(nil)"; break;
      default: out = r->str ? std::string(r->str, r->len) : std::string(); break;
    }
    freeReplyObject(r);
    return out;
  };
  if (db != 0) run({"SELECT", std::to_string(db)});
  std::string out = run(args);
  redisFree(c);
  return out;
}

}  // namespace torvane::test
