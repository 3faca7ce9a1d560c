#include "platform/paths.h"

#include <cctype>
#include <mutex>
#include <shared_mutex>

namespace torvane {

namespace {
std::shared_mutex gDrivesMutex;
DriveTable& DriveStore() {
  static DriveTable table = [] {
    DriveTable t;
    t.drives['C'] = "/";
    return t;
  }();
  return table;
}

std::string JoinNative(const std::string& root, std::string_view rest) {
  std::string out = root;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  for (char c : rest) {
    char d = c == '\\' ? '/' : c;
    if (d == '/' && !out.empty() && out.back() == '/') continue;
    out += d;
  }
  if (out.empty()) out = "/";
  return out;
}
}  // namespace

const DriveTable& Drives() {
  std::shared_lock lock(gDrivesMutex);
  return DriveStore();
}

void SetDrives(DriveTable table) {
  std::unique_lock lock(gDrivesMutex);
  DriveStore() = std::move(table);
}

std::string ToNativePath(std::string_view p) {
  const DriveTable& t = Drives();
  auto rootOf = [&](char letter) -> std::string {
    auto it = t.drives.find(static_cast<char>(std::toupper(static_cast<unsigned char>(letter))));
    if (it == t.drives.end()) return std::string("/nonexistent-drive-") + letter;
    return it->second;
  };
  if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':') {
    std::string_view rest = p.substr(2);
    return JoinNative(rootOf(p[0]), std::string("/") + std::string(rest));
  }
  if (!p.empty() && (p[0] == '\\' || p[0] == '/')) return JoinNative(rootOf(t.current), p);
  std::string out(p);
  for (auto& c : out)
    if (c == '\\') c = '/';
  return out;
}

std::string ToDosPath(std::string_view native) {
  const DriveTable& t = Drives();
  char best = t.current;
  size_t bestLen = 0;
  for (const auto& [letter, root] : t.drives) {
    std::string r = root;
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    bool match = r == "/" || native == r || (native.size() > r.size() && native.substr(0, r.size()) == r && native[r.size()] == '/');
    size_t len = r == "/" ? 1 : r.size();
    if (match && len > bestLen) {
      best = letter;
      bestLen = len;
    }
  }
  std::string rest;
  if (bestLen == 0) {
    rest = std::string(native);
  } else {
    std::string r = t.drives.at(best);
    while (r.size() > 1 && r.back() == '/') r.pop_back();
    rest = r == "/" ? std::string(native) : std::string(native.substr(r.size()));
  }
  std::string out;
  out += best;
  out += ':';
  for (char c : rest) out += c == '/' ? '\\' : c;
  if (out.size() == 2) out += '\\';
  return out;
}

DriveTable ParseDriveTable(std::string_view text) {
  DriveTable t;
  size_t i = 0;
  while (i < text.size()) {
    size_t comma = text.find(',', i);
    std::string_view item = text.substr(i, comma == std::string_view::npos ? std::string_view::npos : comma - i);
    size_t eq = item.find('=');
    if (eq != std::string_view::npos && eq >= 1) {
      char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(item[0])));
      t.drives[letter] = std::string(item.substr(eq + 1));
    }
    if (comma == std::string_view::npos) break;
    i = comma + 1;
  }
  if (!t.drives.count('C') && !t.drives.empty()) t.current = t.drives.begin()->first;
  return t;
}

}  // namespace torvane
