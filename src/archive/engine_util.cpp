#include "archive/engine_util.h"

#include <archive.h>
#include <unistd.h>

#include <cerrno>

#include "automation/object.h"
#include "basics/fdio.h"
#include "basics/utf8.h"

namespace torvane::engine {

void ThrowEngine(int32_t code, std::string text) { throw ComponentError(code, std::move(text), "ArchiveEngine"); }

void ThrowLibarchive(struct archive* a, int32_t code, std::string_view what) {
  int e = archive_errno(a);
  const char* text = archive_error_string(a);
  // libarchive reports its own format errors with errno-like codes of its own
  // (ARCHIVE_ERRNO_MISC = -1, ARCHIVE_ERRNO_FILE_FORMAT = EFTYPE/EILSEQ...);
  // only a plain system failure of the file itself passes as the system error.
  if (e == ENOENT || e == EACCES || e == ENOSPC || e == EIO || e == EROFS || e == EDQUOT || e == EISDIR ||
      e == ENOTDIR || e == EPERM)
    ThrowErrno(e);
  ThrowEngine(code, std::string(what) + (text ? text : "unknown failure"));
}

Utf8Locale::Utf8Locale() {
  locale_t l = Utf8CTypeLocale();
  if (l) previous_ = uselocale(l);
}

Utf8Locale::~Utf8Locale() {
  if (previous_) uselocale(static_cast<locale_t>(previous_));
}

namespace {

// Code page 437, bytes 0x80..0xFF.
const uint16_t kCp437[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC,
    0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6, 0x00DC, 0x00A2,
    0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310,
    0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C,
    0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF,
    0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2,
    0x25A0, 0x00A0};

// Mac Roman, bytes 0x80..0xFF.
const uint16_t kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7,
    0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4, 0x00F6, 0x00F5,
    0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9,
    0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8, 0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248,
    0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D,
    0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02, 0x2021, 0x00B7,
    0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD,
    0x02DB, 0x02C7};

std::string FromTable(std::string_view raw, const uint16_t* table) {
  std::string out;
  out.reserve(raw.size() * 2);
  for (char ch : raw) {
    unsigned char c = static_cast<unsigned char>(ch);
    AppendUtf8(c < 0x80 ? c : (table ? table[c - 0x80] : c), out);
  }
  return out;
}

}  // namespace

std::string Cp437ToUtf8(std::string_view raw) { return FromTable(raw, kCp437); }
std::string Latin1ToUtf8(std::string_view raw) { return FromTable(raw, nullptr); }
std::string MacRomanToUtf8(std::string_view raw) { return FromTable(raw, kMacRoman); }

std::string NameToUtf8(std::string_view raw, bool cp437) {
  if (IsValidUtf8(raw)) return std::string(raw);
  return cp437 ? Cp437ToUtf8(raw) : Latin1ToUtf8(raw);
}

std::string Utf8ToMacRoman(std::string_view text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    uint32_t cp = NextCodePoint(text, i);
    if (cp < 0x80) {
      out += static_cast<char>(cp);
      continue;
    }
    char mapped = '_';
    for (int k = 0; k < 128; ++k)
      if (kMacRoman[k] == cp) {
        mapped = static_cast<char>(0x80 + k);
        break;
      }
    out += mapped;
  }
  return out;
}

bool HasWildcards(std::string_view pattern) { return pattern.find_first_of("*?") != std::string_view::npos; }

bool ArchiveWildcardMatch(std::string_view pattern, std::string_view text) {
  std::string p = FoldCase(pattern), t = FoldCase(text);
  // Iterative matcher with one backtrack point for the last '*'.
  size_t pi = 0, ti = 0, star = std::string::npos, mark = 0;
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == '*') {
      star = pi++;
      mark = ti;
    } else if (pi < p.size() && (p[pi] == '?' || p[pi] == t[ti])) {
      if (p[pi] == '?') {
        // '?' stands for one whole UTF-8 character.
        size_t next = ti;
        NextCodePoint(t, next);
        ti = next;
      } else {
        ++ti;
      }
      ++pi;
    } else if (star != std::string::npos) {
      pi = star + 1;
      ti = ++mark;
    } else {
      return false;
    }
  }
  while (pi < p.size() && p[pi] == '*') ++pi;
  return pi == p.size();
}

std::vector<std::string> SplitArchivePath(std::string_view path) {
  std::vector<std::string> parts;
  std::string cur;
  auto flush = [&] {
    if (!cur.empty() && cur != ".") parts.push_back(cur);
    cur.clear();
  };
  for (char c : path) {
    if (c == '/' || c == '\\') flush();
    else cur += c;
  }
  flush();
  return parts;
}

bool IsUnsafeArchivePath(std::string_view path) {
  if (path.empty()) return false;
  if (path[0] == '/' || path[0] == '\\') return true;
  if (path.size() >= 2 && path[1] == ':' && std::isalpha(static_cast<unsigned char>(path[0]))) return true;
  std::string cur;
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/' || path[i] == '\\') {
      if (cur == "..") return true;
      cur.clear();
    } else {
      cur += path[i];
    }
  }
  return false;
}

std::string JoinPath(const std::vector<std::string>& parts, char separator) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += separator;
    out += parts[i];
  }
  return out;
}

std::string BaseName(std::string_view path) {
  size_t cut = path.find_last_of('/');
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

size_t ReadFileAt(int fd, void* buffer, size_t n, int64_t offset) {
  ssize_t got = PreadFull(fd, buffer, n, offset);
  if (got < 0) ThrowErrno(errno);
  return static_cast<size_t>(got);
}

void WriteFileAll(int fd, const void* data, size_t n) {
  if (!WriteAll(fd, data, n)) ThrowErrno(errno);
}

}  // namespace torvane::engine
