// The server's two logs: the access log (one line per request, the combined
// format of Apache and nginx plus the request's duration) and the error lines
// written to the server's log for every 4xx/5xx the host answers itself and
// every page that fails.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

namespace torvane::server {

// What the logs say of one request.
struct LoggedRequest {
  std::string client;                           // the client's address, without port
  std::chrono::system_clock::time_point start;  // when its headers were read
  std::string method;                           // "" when the request line could not be read
  std::string target;                           // the request target as sent ("/a.asp?x=1")
  std::string protocol = "HTTP/1.1";
  int status = 0;
  int64_t bytes = 0;                            // body bytes sent
  std::string referer, userAgent;
  double seconds = 0;                           // from the headers to the end of the answer
  std::string appended;                         // text a page added for the log line
};

// `s` as a quoted log field: printable ASCII and UTF-8 bytes as they are,
// quotes, backslashes and control bytes as \xHH; "-" (quoted) when empty.
std::string LogQuoted(std::string_view s);

// The access-log line (no newline):
//   CLIENT - - [10/Dec/2026:17:00:00 +0000] "GET /a.asp?x=1 HTTP/1.1" 200 512 "REFERER" "AGENT" 0.004 "APPENDED"
// Quotes, backslashes and control bytes inside quoted fields are written as
// \xHH, so a line is always one line and its fields can be split. The
// appended field is present only when a page added text.
std::string AccessLogLine(const LoggedRequest& r);

// An error line (no newline):
//   [2026-12-10 17:00:00] error 413 client 127.0.0.1 POST /a.asp: MESSAGE
std::string ErrorLogLine(const LoggedRequest& r, std::string_view message);

// A log destination shared by all threads: a file opened for appending, "-"
// for standard output, "off" (or "") for none. Reopen() follows a rotated
// file (SIGHUP).
class LogSink {
 public:
  LogSink() = default;
  ~LogSink();
  LogSink(const LogSink&) = delete;
  LogSink& operator=(const LogSink&) = delete;

  // Opens `where`; throws std::runtime_error naming it when it cannot be
  // opened (the previous destination stays).
  void Open(const std::string& where);
  bool Enabled() const;
  // Writes one line (a newline is added) and flushes it.
  void Write(std::string_view line);

 private:
  mutable std::mutex mutex_;
  FILE* file_ = nullptr;
  bool own_ = false;
};

}  // namespace torvane::server
