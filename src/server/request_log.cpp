#include "server/request_log.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <stdexcept>

namespace torvane::server {

namespace {

std::tm Utc(std::chrono::system_clock::time_point t) {
  std::time_t secs = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  gmtime_r(&secs, &tm);
  return tm;
}

}  // namespace

// A quoted log field: printable ASCII and UTF-8 bytes as they
// are, quotes, backslashes and control bytes as \xHH; "-" when empty.
std::string LogQuoted(std::string_view s) {
  if (s.empty()) return "\"-\"";
  std::string out = "\"";
  static const char* hex = "0123456789ABCDEF";
  for (unsigned char c : s) {
    if (c < 0x20 || c == 0x7f || c == '"' || c == '\\') {
      out += "\\x";
      out += hex[c >> 4];
      out += hex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}


std::string AccessLogLine(const LoggedRequest& r) {
  char when[64];
  std::tm tm = Utc(r.start);
  std::strftime(when, sizeof when, "[%d/%b/%Y:%H:%M:%S +0000]", &tm);
  std::string request = r.method.empty() ? "-" : r.method + " " + r.target + " " + r.protocol;
  std::string quotedRequest = LogQuoted(request);
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds < 0 ? 0.0 : r.seconds);
  std::string line = (r.client.empty() ? "-" : r.client) + " - - " + when + " " + quotedRequest + " " +
                     std::to_string(r.status) + " " + (r.bytes > 0 ? std::to_string(r.bytes) : "-") + " " +
                     LogQuoted(r.referer) + " " + LogQuoted(r.userAgent) + " " + seconds;
  if (!r.appended.empty()) line += " " + LogQuoted(r.appended);
  return line;
}

std::string ErrorLogLine(const LoggedRequest& r, std::string_view message) {
  char when[64];
  std::tm tm = Utc(r.start);
  std::strftime(when, sizeof when, "[%Y-%m-%d %H:%M:%S]", &tm);
  std::string path = r.target.substr(0, r.target.find('?'));
  std::string line = std::string(when) + " error " + std::to_string(r.status) + " client " +
                     (r.client.empty() ? "-" : r.client) + " " + (r.method.empty() ? "-" : r.method) + " " +
                     (path.empty() ? "-" : path);
  if (!message.empty()) {
    line += ": ";
    for (char c : message) line += (c == '\n' || c == '\r') ? ' ' : c;
    while (!line.empty() && line.back() == ' ') line.pop_back();
  }
  return line;
}

LogSink::~LogSink() {
  if (own_ && file_) std::fclose(file_);
}

void LogSink::Open(const std::string& where) {
  FILE* next = nullptr;
  bool own = false;
  if (where == "-") {
    next = stdout;
  } else if (!where.empty() && where != "off") {
    next = std::fopen(where.c_str(), "ae");
    if (!next) throw std::runtime_error(where + ": cannot open the access log: " + std::strerror(errno));
    own = true;
  }
  std::lock_guard g(mutex_);
  if (own_ && file_) std::fclose(file_);
  file_ = next;
  own_ = own;
}

bool LogSink::Enabled() const {
  std::lock_guard g(mutex_);
  return file_ != nullptr;
}

void LogSink::Write(std::string_view line) {
  std::lock_guard g(mutex_);
  if (!file_) return;
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace torvane::server
