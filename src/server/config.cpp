#include "server/config.h"

#include <unistd.h>

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "basics/ascii.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/settings.h"
#include "server/page_folders.h"
#include "server/state_store.h"

namespace torvane::server {

namespace {

// "a, b,c" -> {"a", "b", "c"} (blank items dropped).
std::vector<std::string> SplitList(std::string_view v) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos <= v.size()) {
    size_t comma = v.find(',', pos);
    std::string_view item = TrimSpace(v.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos));
    if (!item.empty()) out.emplace_back(item);
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return out;
}

// A whole decimal number within [lo, hi]; throws with `what` otherwise.
int64_t Number(std::string_view v, int64_t lo, int64_t hi, const std::string& what) {
  int64_t n = 0;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
  if (ec != std::errc() || p != v.data() + v.size() || n < lo || n > hi)
    throw std::runtime_error(what + ": expected a whole number from " + std::to_string(lo) + " to " +
                             std::to_string(hi) + ", got \"" + std::string(v) + "\"");
  return n;
}

// A size in bytes: a whole number with an optional K, M or G suffix (powers
// of 1024, either case), within [lo, hi]; throws with `what` otherwise.
int64_t Size(std::string_view v, int64_t lo, int64_t hi, const std::string& what) {
  int shift = 0;
  if (!v.empty()) {
    switch (v.back()) {
      case 'k': case 'K': shift = 10; break;
      case 'm': case 'M': shift = 20; break;
      case 'g': case 'G': shift = 30; break;
      default: break;
    }
  }
  std::string_view digits = shift ? TrimSpace(v.substr(0, v.size() - 1)) : v;
  auto bad = [&] {
    return std::runtime_error(what + ": expected a size from " + std::to_string(lo) + " to " + std::to_string(hi) +
                              " bytes (K, M, G allowed), got \"" + std::string(v) + "\"");
  };
  int64_t n = 0;
  auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
  if (ec != std::errc() || p != digits.data() + digits.size() || digits.empty() || n < 0) throw bad();
  if (shift && n > (INT64_MAX >> shift)) throw bad();
  n <<= shift;
  if (n < lo || n > hi) throw bad();
  return n;
}

void Apply(const std::string& key, std::string_view v, HostConfig& c, const std::string& where) {
  auto num = [&](int64_t lo, int64_t hi) { return Number(v, lo, hi, where + ": " + key); };
  auto size = [&](int64_t lo, int64_t hi) { return Size(v, lo, hi, where + ": " + key); };
  constexpr int64_t kDay = 86400;
  if (key == "listen") {
    try {
      ParseListen(v, c);
    } catch (const std::runtime_error& e) {
      throw std::runtime_error(where + ": " + e.what());
    }
  }
  else if (key == "root") c.root = std::string(v);
  else if (key == "registry") c.registry = std::string(v);
  else if (key == "drives") {
    if (v.find('=') == std::string_view::npos)
      throw std::runtime_error(where + ": drives: expected LETTER=DIRECTORY[,...], got \"" + std::string(v) + "\"");
    c.drives = std::string(v);
  } else if (key == "default_code_page") c.defaultCodePage = static_cast<int>(num(0, 65535));
  else if (key == "workers") c.workers = static_cast<int>(num(1, 1024));
  else if (key == "io_threads") c.ioThreads = static_cast<int>(num(1, 64));
  else if (key == "queue_limit") c.queueLimit = static_cast<int>(num(1, 1000000));
  else if (key == "max_request_bytes") c.maxRequestBytes = size(0, INT64_MAX);
  else if (key == "max_header_bytes") c.maxHeaderBytes = size(1024, 1 << 24);
  else if (key == "response_buffer_bytes") c.responseBufferBytes = size(1024, INT64_MAX);
  else if (key == "header_timeout") c.headerTimeout = static_cast<int>(num(1, kDay));
  else if (key == "read_timeout") c.readTimeout = static_cast<int>(num(1, kDay));
  else if (key == "write_timeout") c.writeTimeout = static_cast<int>(num(1, kDay));
  else if (key == "keepalive_timeout") c.keepAliveTimeout = static_cast<int>(num(1, kDay));
  else if (key == "script_timeout") c.scriptTimeout = static_cast<int>(num(0, kDay));
  else if (key == "pam_service") c.pamService = std::string(v);
  else if (key == "min_read_rate") c.minReadRate = size(0, 1LL << 40);
  else if (key == "min_write_rate") c.minWriteRate = size(0, 1LL << 40);
  else if (key == "rate_window") c.rateWindow = static_cast<int>(num(1, kDay));
  else if (key == "read_deadline") c.readDeadline = static_cast<int>(num(0, 30 * kDay));
  else if (key == "write_deadline") c.writeDeadline = static_cast<int>(num(0, 30 * kDay));
  else if (key == "page_deadline") c.pageDeadline = static_cast<int>(num(0, 30 * kDay));
  else if (key == "page_memory_limit") c.pageMemoryLimit = size(0, INT64_MAX);
  else if (key == "grace_period") c.gracePeriod = static_cast<int>(num(0, kDay));
  else if (key == "page_threads") c.pageThreads = static_cast<int>(num(1, 100000));
  else if (key == "log_file") c.logFile = std::string(v);
  else if (key == "no_pages") {
    try {
      c.noPages = ParseNoPages(v);
    } catch (const std::runtime_error& e) {
      throw std::runtime_error(where + ": " + e.what());
    }
  }
  else if (key == "error_page") {
    if (v.empty() || v.front() != '/') throw std::runtime_error(where + ": error_page must be a virtual path starting with /");
    c.errorPage = std::string(v);
  }
  else if (key == "session_cookie") {
    for (char ch : v)
      if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '_' && ch != '-')
        throw std::runtime_error(where + ": session_cookie must be letters, digits, '_' or '-'");
    if (v.empty()) throw std::runtime_error(where + ": session_cookie must not be empty");
    c.sessionCookie = std::string(v);
  }
  else if (key == "session_timeout") c.sessionTimeout = static_cast<int>(num(1, 1440));
  else if (key == "session_max") c.sessionMax = num(1, 100000000);
  else if (key == "trusted_proxies") c.trustedProxies = SplitList(v);
  else if (key == "state_store") {
    try {
      CheckStateStoreSetting(v);
    } catch (const std::runtime_error& e) {
      throw std::runtime_error(where + ": " + e.what());
    }
    c.stateStore = std::string(v);
  }
  else if (key == "state_store_timeout") c.stateStoreTimeout = static_cast<int>(num(10, 60000));
  else if (key == "upload_max_files") c.uploadMaxFiles = static_cast<int32_t>(num(0, INT32_MAX));
  else if (key == "upload_max_parts") c.uploadMaxParts = static_cast<int32_t>(num(0, INT32_MAX));
  else if (key == "upload_max_field_size") c.uploadMaxFieldSize = size(0, INT64_MAX);
  else if (key == "upload_max_total_field_size") c.uploadMaxTotalFieldSize = size(0, INT64_MAX);
  else if (key == "access_log") c.accessLog = v.empty() ? "off" : std::string(v);
  else if (key == "error_template") c.errorTemplate = std::string(v);
  else if (key == "static_charset") {
    for (char ch : v)
      if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '-' && ch != '_' && ch != '.' && ch != ':')
        throw std::runtime_error(where + ": static_charset must be a charset name (letters, digits, '-', '_', '.', ':') or empty");
    c.staticCharset = std::string(v);
  }
  else throw std::runtime_error(where + ": unknown setting \"" + key + "\"");
}

}  // namespace

void ParseListen(std::string_view value, HostConfig& config) {
  std::string_view v = TrimSpace(value);
  size_t colon = v.rfind(':');
  if (colon == std::string_view::npos) throw std::runtime_error("listen: expected HOST:PORT, got \"" + std::string(v) + "\"");
  std::string_view host = v.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  int64_t port = Number(v.substr(colon + 1), 0, 65535, "listen port");
  config.listenHost = host.empty() ? "127.0.0.1" : std::string(host);
  config.listenPort = static_cast<uint16_t>(port);
}

namespace {

// Applies every line of `text`; returns the keys it set, each with its line.
std::map<std::string, size_t> ApplyLines(std::string_view text, std::string_view name, HostConfig& config) {
  std::map<std::string, size_t> seen;
  size_t lineNo = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t nl = text.find('\n', pos);
    std::string_view line = text.substr(pos, nl == std::string_view::npos ? std::string_view::npos : nl - pos);
    pos = nl == std::string_view::npos ? text.size() + 1 : nl + 1;
    ++lineNo;
    line = TrimSpace(line);
    if (line.empty() || line.front() == '#') continue;
    std::string where = std::string(name) + ":" + std::to_string(lineNo);
    size_t eq = line.find('=');
    if (eq == std::string_view::npos) throw std::runtime_error(where + ": expected \"key = value\"");
    std::string key = AsciiLower(TrimSpace(line.substr(0, eq)));
    std::string_view value = TrimSpace(line.substr(eq + 1));
    if (key.empty()) throw std::runtime_error(where + ": expected \"key = value\"");
    auto [earlier, first] = seen.emplace(key, lineNo);
    if (!first)
      throw std::runtime_error(where + ": \"" + key + "\" is set twice (first on line " +
                               std::to_string(earlier->second) + ")");
    Apply(key, value, config, where);
  }
  return seen;
}

}  // namespace

void ParseConfigText(std::string_view text, std::string_view name, HostConfig& config) { ApplyLines(text, name, config); }

void LoadConfigFile(const std::string& path, HostConfig& config) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error(path + ": cannot read the configuration file");
  std::stringstream ss;
  ss << in.rdbuf();
  HostConfig read = config;
  auto set = ApplyLines(ss.str(), path, read);
  // Paths the file set are relative to the file's folder.
  namespace fs = std::filesystem;
  fs::path folder = fs::absolute(fs::path(path)).parent_path();
  auto anchor = [&](const char* key, std::string& value) {
    if (!set.count(key) || value.empty() || value == "-" || value == "off" || fs::path(value).is_absolute()) return;
    value = (folder / value).lexically_normal().string();
  };
  anchor("root", read.root);
  anchor("access_log", read.accessLog);
  anchor("error_template", read.errorTemplate);
  config = std::move(read);
}

void CheckSiteRoot(const std::string& root) {
  std::error_code ec;
  auto status = std::filesystem::status(root, ec);
  if (!std::filesystem::exists(status)) throw std::runtime_error(root + ": the site root does not exist");
  if (!std::filesystem::is_directory(status)) throw std::runtime_error(root + ": the site root is not a folder");
}

void ApplyProcessSettings(const HostConfig& config) {
  std::string registry = config.registry;
  if (registry.empty()) {
    const char* env = std::getenv("TORVANE_REGISTRY");
    registry = (env && *env) ? env : "/etc/torvane/registry.reg";
  }
  SetRegistryFile(registry);
  SetDrives(ParseDriveTable(config.drives));
  Settings s;
  s.defaultCodePage = config.defaultCodePage;
  s.pamService = config.pamService;
  s.uploadMaxFiles = config.uploadMaxFiles;
  s.uploadMaxParts = config.uploadMaxParts;
  s.uploadMaxFieldSize = config.uploadMaxFieldSize;
  s.uploadMaxTotalFieldSize = config.uploadMaxTotalFieldSize;
  SetSettings(s);
}

std::string DefaultSiteRoot() {
  namespace fs = std::filesystem;
  std::error_code ec;
  if (const char* env = std::getenv("TORVANE_SITE"); env && *env) return env;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    for (fs::path dir = exe.parent_path(); !dir.empty() && dir != dir.root_path(); dir = dir.parent_path()) {
      fs::path candidate = dir / "examples" / "site";
      if (fs::is_directory(candidate, ec)) return candidate.string();
    }
  }
  for (const char* p : {"/usr/local/share/torvane/site", "/usr/share/torvane/site"})
    if (fs::is_directory(p, ec)) return p;
  return "";
}

}  // namespace torvane::server
