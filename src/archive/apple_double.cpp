#include "archive/apple_double.h"

#include <cstring>

namespace torvane::engine {

namespace {
constexpr uint32_t kMagic = 0x00051607;
constexpr uint32_t kVersion = 0x00020000;
constexpr uint32_t kResourceFork = 2;
constexpr uint32_t kFinderInfo = 9;

void Put32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}
uint32_t Get32(const Bytes& b, size_t at) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}
}  // namespace

bool HasForkData(const MacForks& forks) {
  if (!forks.resourceFork.empty()) return true;
  for (uint8_t c : forks.finderInfo)
    if (c) return true;
  return false;
}

Bytes EncodeAppleDouble(const MacForks& forks) {
  Bytes out;
  Put32(out, kMagic);
  Put32(out, kVersion);
  out.insert(out.end(), 16, 0);
  out.push_back(0);
  out.push_back(2);  // two entries
  uint32_t first = 26 + 2 * 12;
  Put32(out, kFinderInfo);
  Put32(out, first);
  Put32(out, 32);
  Put32(out, kResourceFork);
  Put32(out, first + 32);
  Put32(out, static_cast<uint32_t>(forks.resourceFork.size()));
  out.insert(out.end(), forks.finderInfo, forks.finderInfo + 16);
  out.insert(out.end(), 16, 0);  // extended Finder info
  out.insert(out.end(), forks.resourceFork.begin(), forks.resourceFork.end());
  return out;
}

bool DecodeAppleDouble(const Bytes& data, MacForks& forks) {
  if (data.size() < 26 || Get32(data, 0) != kMagic) return false;
  size_t count = (size_t{data[24]} << 8) | data[25];
  if (26 + count * 12 > data.size()) return false;
  for (size_t i = 0; i < count; ++i) {
    size_t at = 26 + i * 12;
    uint32_t id = Get32(data, at), off = Get32(data, at + 4), len = Get32(data, at + 8);
    if (uint64_t{off} + len > data.size()) return false;
    if (id == kFinderInfo) std::memcpy(forks.finderInfo, data.data() + off, len < 16 ? len : 16);
    if (id == kResourceFork) forks.resourceFork.assign(data.begin() + off, data.begin() + off + len);
  }
  return true;
}

std::string AppleDoubleName(const std::string& path) {
  size_t cut = path.find_last_of('/');
  if (cut == std::string::npos) return "._" + path;
  return path.substr(0, cut + 1) + "._" + path.substr(cut + 1);
}

}  // namespace torvane::engine
