#include "platform/registry.h"

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <sstream>

#include "basics/utf8.h"

namespace torvane {

namespace {

// The registry file as last read, and the system's MIME data. Lookups share
// the lock while the file is unchanged and everything they need is loaded
// (every worker looks types up for each file it names); reading the file, the
// globs or a type's description takes it alone.
struct RegStore {
  std::shared_mutex mutex;
  std::string path;
  std::string mimeDir = "/usr/share/mime";
  bool loaded = false;
  struct timespec mtime {};
  off_t size = -1;
  // folded key -> folded value name -> value
  std::map<std::string, std::map<std::string, RegValue>> keys;
  std::map<std::string, std::string> globs;  // folded extension -> mime type
  bool globsLoaded = false;
  std::map<std::string, std::string> comments;  // folded mime type -> description ("" when none)
};

RegStore& Store() {
  static RegStore* s = [] {
    auto* r = new RegStore;
    const char* env = getenv("TORVANE_REGISTRY");
    r->path = env && *env ? env : "/etc/torvane/registry.reg";
    return r;
  }();
  return *s;
}

std::string NormaliseKey(std::string_view key) {
  std::string k(key);
  auto replacePrefix = [&](const char* shortName, const char* longName) {
    std::string s = shortName;
    if (k.size() >= s.size() && EqualsNoCase(std::string_view(k).substr(0, s.size()), s) &&
        (k.size() == s.size() || k[s.size()] == '\\'))
      k = longName + k.substr(s.size());
  };
  replacePrefix("HKLM", "HKEY_LOCAL_MACHINE");
  replacePrefix("HKCR", "HKEY_CLASSES_ROOT");
  replacePrefix("HKCU", "HKEY_CURRENT_USER");
  while (!k.empty() && k.back() == '\\') k.pop_back();
  return FoldCase(k);
}

// Reads a quoted .reg string starting after the opening quote at s[i].
std::string ReadQuoted(const std::string& s, size_t& i) {
  std::string out;
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      out += s[++i];
    } else if (c == '"') {
      ++i;
      break;
    } else {
      out += c;
    }
  }
  return out;
}

RegValue ParseData(const std::string& data) {
  RegValue v;
  if (!data.empty() && data[0] == '"') {
    size_t i = 1;
    v.type = kRegSz;
    v.text = ReadQuoted(data, i);
  } else if (data.rfind("dword:", 0) == 0) {
    v.type = kRegDword;
    v.number = static_cast<uint32_t>(std::stoul(data.substr(6), nullptr, 16));
  } else {
    size_t colon = data.find(':');
    std::string head = data.substr(0, colon);
    v.type = head == "hex(2)" ? kRegExpandSz : head == "hex" ? kRegBinary : 0;
    if (head.rfind("hex(", 0) == 0 && v.type == 0) v.type = static_cast<uint32_t>(std::stoul(head.substr(4), nullptr, 16));
    std::string hex = colon == std::string::npos ? "" : data.substr(colon + 1);
    std::string bytes;
    std::stringstream ss(hex);
    std::string item;
    while (std::getline(ss, item, ',')) {
      std::string t;
      for (char c : item)
        if (std::isxdigit(static_cast<unsigned char>(c))) t += c;
      if (!t.empty()) bytes += static_cast<char>(std::stoul(t, nullptr, 16));
    }
    if (v.type == kRegExpandSz) {  // UTF-16LE text -> ASCII/UTF-8 (basic plane)
      std::string text;
      for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        unsigned cp = static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (cp == 0) break;
        AppendUtf8(cp, text);
      }
      v.text = text;
    } else {
      v.text = bytes;
    }
  }
  return v;
}

void LoadFile(RegStore& s) {
  s.keys.clear();
  std::ifstream in(s.path, std::ios::binary);
  if (!in) return;
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // REGEDIT5 files are often UTF-16LE with a BOM; fold them to bytes.
  if (content.size() >= 2 && static_cast<unsigned char>(content[0]) == 0xFF && static_cast<unsigned char>(content[1]) == 0xFE) {
    std::string narrow;
    for (size_t i = 2; i + 1 < content.size(); i += 2) narrow += content[i];
    content = narrow;
  }
  if (content.size() >= 3 && content.compare(0, 3, "\xEF\xBB\xBF") == 0) content.erase(0, 3);
  // Join continuation lines (ending in a backslash).
  std::vector<std::string> lines;
  std::stringstream ss(content);
  std::string line, acc;
  while (std::getline(ss, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!acc.empty()) {
      size_t first = line.find_first_not_of(" \t");
      line = first == std::string::npos ? "" : line.substr(first);
    }
    if (!line.empty() && line.back() == '\\' && line.find('"') == std::string::npos) {
      acc += line.substr(0, line.size() - 1);
      continue;
    }
    if (!line.empty() && line.back() == '\\' && line.rfind("hex", line.find('=') + 1) != std::string::npos) {
      acc += line.substr(0, line.size() - 1);
      continue;
    }
    lines.push_back(acc + line);
    acc.clear();
  }
  std::string current;
  for (const auto& l : lines) {
    if (l.empty() || l[0] == ';') continue;
    if (l[0] == '[') {
      size_t end = l.rfind(']');
      current = NormaliseKey(l.substr(1, end == std::string::npos ? std::string::npos : end - 1));
      s.keys[current];
      continue;
    }
    if (current.empty()) continue;
    std::string name;
    size_t i = 0;
    if (l[0] == '@') {
      i = 1;
    } else if (l[0] == '"') {
      i = 1;
      name = ReadQuoted(l, i);
    } else {
      continue;
    }
    size_t eq = l.find('=', i);
    if (eq == std::string::npos) continue;
    std::string data = l.substr(eq + 1);
    if (data == "-") {
      s.keys[current].erase(FoldCase(name));
      continue;
    }
    s.keys[current][FoldCase(name)] = ParseData(data);
  }
}

// The registry file's identity on disk: its change time and size, or none.
struct FileStamp {
  bool exists = false;
  struct timespec mtime {};
  off_t size = -1;
};

FileStamp StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return {true, st.st_mtim, st.st_size};
}

// The look shared by the lookups inside a RegistryGlance on this thread.
thread_local int tGlanceDepth = 0;
thread_local std::optional<FileStamp> tGlance;

// The file's stamp for a lookup: the thread's shared look inside a glance,
// else a fresh one.
FileStamp LookNow(const RegStore& s) {
  if (tGlanceDepth == 0) return StampOf(s.path);
  if (!tGlance) tGlance = StampOf(s.path);
  return *tGlance;
}

// Whether what is loaded is the file as it is now (`now` is LookNow's look,
// taken for every lookup or once per glance, so a change to the file shows
// at the next call).
bool Current(const RegStore& s, const FileStamp& now) {
  if (!s.loaded) return false;
  if (!now.exists) return s.size == -1;
  return now.mtime.tv_sec == s.mtime.tv_sec && now.mtime.tv_nsec == s.mtime.tv_nsec && now.size == s.size;
}

void Refresh(RegStore& s) {
  FileStamp now = StampOf(s.path);
  if (Current(s, now)) return;
  LoadFile(s);
  s.loaded = true;
  s.mtime = now.exists ? now.mtime : timespec{};
  s.size = now.exists ? now.size : -1;
}

void LoadGlobs(RegStore& s) {
  if (s.globsLoaded) return;
  s.globsLoaded = true;
  std::ifstream in(s.mimeDir + "/globs2");
  std::string line;
  // weight:type:glob[:flags]; higher weights first in the file, keep the first.
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    size_t a = line.find(':');
    size_t b = line.find(':', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    std::string type = line.substr(a + 1, b - a - 1);
    std::string glob = line.substr(b + 1);
    size_t c = glob.find(':');
    if (c != std::string::npos) glob = glob.substr(0, c);
    if (glob.size() < 3 || glob[0] != '*' || glob[1] != '.') continue;
    std::string ext = glob.substr(2);
    if (ext.find_first_of("*?[") != std::string::npos) continue;
    s.globs.emplace(FoldCase(ext), type);
  }
}

std::string ReadMimeComment(const RegStore& s, const std::string& type) {
  std::ifstream in(s.mimeDir + "/" + type + ".xml");
  if (!in) return "";
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t pos = 0;
  while ((pos = content.find("<comment", pos)) != std::string::npos) {
    size_t close = content.find('>', pos);
    if (close == std::string::npos) break;
    std::string tag = content.substr(pos, close - pos);
    if (tag.find("xml:lang") == std::string::npos) {
      size_t end = content.find("</comment>", close);
      if (end == std::string::npos) break;
      return content.substr(close + 1, end - close - 1);
    }
    pos = close;
  }
  return "";
}

// Answers a HKEY_CLASSES_ROOT key from the system's MIME data: ".ext" gives
// its type, a type ("text/plain") its description. `loading` allows reading
// what is not loaded yet (the caller holds the lock alone); without it, a
// lookup that needs a read returns kNeedsLoad.
constexpr int32_t kNeedsLoad = -100;

int32_t MimeFallback(RegStore& s, const std::string& foldedKey, const std::string& valueName, RegValue& out,
                     bool loading) {
  static const std::string hkcr = "hkey_classes_root\\";
  if (foldedKey.rfind(hkcr, 0) != 0) return kRegNotFound;
  std::string sub = foldedKey.substr(hkcr.size());
  if (!s.globsLoaded && !loading) return kNeedsLoad;
  LoadGlobs(s);
  if (!sub.empty() && sub[0] == '.') {
    auto it = s.globs.find(sub.substr(1));
    if (it == s.globs.end()) return kRegNotFound;
    if (valueName == "content type" || valueName.empty()) {
      out.type = kRegSz;
      out.text = it->second;
      return 0;
    }
    return kRegNotFound;
  }
  if (sub.find('/') != std::string::npos && valueName.empty()) {
    auto known = s.comments.find(sub);
    if (known == s.comments.end()) {
      if (!loading) return kNeedsLoad;
      std::string comment = ReadMimeComment(s, sub);
      // Descriptions read like titles, as the platform's class descriptions do.
      if (!comment.empty()) comment[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(comment[0])));
      known = s.comments.emplace(sub, std::move(comment)).first;
    }
    if (known->second.empty()) return kRegNotFound;
    out.type = kRegSz;
    out.text = known->second;
    return 0;
  }
  return kRegNotFound;
}

// The value from what is loaded; kNeedsLoad as above.
int32_t Answer(RegStore& s, const std::string& k, const std::string& v, RegValue& out, bool loading) {
  auto it = s.keys.find(k);
  if (it == s.keys.end()) return MimeFallback(s, k, v, out, loading);
  auto jt = it->second.find(v);
  if (jt == it->second.end()) return kRegNotFound;
  out = jt->second;
  return 0;
}

}  // namespace

void SetRegistryFile(std::string path) {
  RegStore& s = Store();
  std::lock_guard lock(s.mutex);
  s.path = std::move(path);
  s.loaded = false;
}

const std::string& RegistryFile() { return Store().path; }

void SetMimeDirectory(std::string dir) {
  RegStore& s = Store();
  std::lock_guard lock(s.mutex);
  s.mimeDir = std::move(dir);
  s.globs.clear();
  s.globsLoaded = false;
  s.comments.clear();
}

int32_t RegistryLookup(std::string_view key, std::string_view valueName, RegValue& out) {
  RegStore& s = Store();
  std::string k = NormaliseKey(key);
  std::string v = FoldCase(valueName);
  {
    std::shared_lock shared(s.mutex);
    if (Current(s, LookNow(s))) {
      int32_t rc = Answer(s, k, v, out, false);
      if (rc != kNeedsLoad) return rc;
    }
  }
  std::unique_lock alone(s.mutex);
  Refresh(s);
  return Answer(s, k, v, out, true);
}

RegistryGlance::RegistryGlance() { ++tGlanceDepth; }

RegistryGlance::~RegistryGlance() {
  if (--tGlanceDepth == 0) tGlance.reset();
}

}  // namespace torvane
