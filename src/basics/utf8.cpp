#include "basics/utf8.h"

#include <wctype.h>

namespace torvane {

char32_t NextCodePoint(std::string_view s, size_t& i, bool* stray) {
  auto c = static_cast<unsigned char>(s[i]);
  size_t len = c < 0x80 ? 1 : Utf8SequenceLength(s, i);
  if (stray) *stray = len == 0;
  if (len <= 1) {
    ++i;
    return c;
  }
  char32_t cp = c & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
  i += len;
  return cp;
}

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool IsValidUtf8(std::string_view s) {
  for (size_t i = 0; i < s.size();) {
    if (static_cast<unsigned char>(s[i]) < 0x80) {
      ++i;
      continue;
    }
    size_t len = Utf8SequenceLength(s, i);
    if (len == 0) return false;
    i += len;
  }
  return true;
}

std::u32string CodePoints(std::string_view s) {
  std::u32string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) out += NextCodePoint(s, i);
  return out;
}

void AppendUtf16LE(std::string_view s, std::vector<uint8_t>& out) {
  auto unit = [&](uint16_t u) {
    out.push_back(static_cast<uint8_t>(u & 0xFF));
    out.push_back(static_cast<uint8_t>(u >> 8));
  };
  out.reserve(out.size() + s.size() * 2);
  for (size_t i = 0; i < s.size();) {
    char32_t cp = NextCodePoint(s, i);
    if (cp >= 0x10000) {
      cp -= 0x10000;
      unit(static_cast<uint16_t>(0xD800 + (cp >> 10)));
      unit(static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      unit(static_cast<uint16_t>(cp));
    }
  }
}

locale_t Utf8CTypeLocale() {
  static const locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!l) l = newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(nullptr));
    return l;
  }();
  return loc;
}

namespace {

bool IsAscii(std::string_view s) {
  for (char c : s)
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  return true;
}

// Maps every character of `s` with `ascii` (below U+0080) or `wide` (the
// locale's mapping of the rest); stray bytes are copied as they are.
template <class Ascii, class Wide>
std::string MapCase(std::string_view s, Ascii ascii, Wide wide) {
  std::string out;
  out.reserve(s.size());
  if (IsAscii(s)) {
    for (char c : s) out += ascii(c);
    return out;
  }
  locale_t loc = Utf8CTypeLocale();
  for (size_t i = 0; i < s.size();) {
    size_t start = i;
    bool stray = false;
    char32_t cp = NextCodePoint(s, i, &stray);
    if (cp < 0x80) out += ascii(static_cast<char>(cp));
    else if (stray || !loc) out.append(s.substr(start, i - start));
    else AppendUtf8(static_cast<char32_t>(wide(static_cast<wint_t>(cp), loc)), out);
  }
  return out;
}

}  // namespace

std::string FoldCase(std::string_view s) {
  return MapCase(
      s, [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; },
      [](wint_t c, locale_t l) { return towlower_l(c, l); });
}

std::string UpperText(std::string_view s) {
  return MapCase(
      s, [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; },
      [](wint_t c, locale_t l) { return towupper_l(c, l); });
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return FoldCase(a) == FoldCase(b); }

}  // namespace torvane
