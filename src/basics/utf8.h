// UTF-8: the one decoder, encoder and case mapping of Torvane.
//
// Text is UTF-8 in std::string everywhere. Every layer reads it through the
// functions below, under one policy for bytes that are not UTF-8:
//
//   A sequence is well formed when it is the shortest form of a code point up
//   to U+10FFFF that is not a surrogate (RFC 3629): its lead byte announces its
//   length and every continuation byte is 10xxxxxx. Any byte that does not
//   start a well-formed sequence is one "stray byte" on its own: the decoder
//   hands it out as the code point of the same value (U+0080..U+00FF) with
//   `stray` set, and advances by that one byte. The next byte starts afresh.
//
// So a truncated or broken sequence never swallows the bytes after it, and the
// case mappings copy a stray byte unchanged (never re-encode it as the letter
// of the same number). The converters to other forms say what they make of a
// stray byte (XmlEscape and the code-page conversion write U+FFFD).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <locale.h>

namespace torvane {

// Length (2..4) of the well-formed multi-byte sequence that starts at p, or 0
// when the byte at p starts none (an ASCII byte also gives 0). `end` bounds the
// bytes that may be read.
inline size_t Utf8SequenceLength(const uint8_t* p, const uint8_t* end) {
  uint8_t c = p[0];
  size_t avail = static_cast<size_t>(end - p);
  auto cont = [&](size_t i) { return i < avail && (p[i] & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if (c == 0xE0 && p[1] < 0xA0) return 0;   // overlong
    if (c == 0xED && p[1] >= 0xA0) return 0;  // a surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if (c == 0xF0 && p[1] < 0x90) return 0;   // overlong
    if (c == 0xF4 && p[1] >= 0x90) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

inline size_t Utf8SequenceLength(std::string_view s, size_t i) {
  const auto* p = reinterpret_cast<const uint8_t*>(s.data());
  return Utf8SequenceLength(p + i, p + s.size());
}

// Decodes the character at s[i] and advances i past it. A stray byte (see
// above) comes back as its own value with `stray` true (when given).
char32_t NextCodePoint(std::string_view s, size_t& i, bool* stray = nullptr);

// Appends the UTF-8 form of `cp` (up to U+10FFFF) to `out`.
void AppendUtf8(char32_t cp, std::string& out);

// True when every byte of `text` belongs to a well-formed sequence.
bool IsValidUtf8(std::string_view text);

// The code points of `text` (a stray byte gives its own value).
std::u32string CodePoints(std::string_view text);

// Appends `text` as UTF-16LE code units (a character above U+FFFF as its
// surrogate pair; a stray byte as the unit of its value).
void AppendUtf16LE(std::string_view text, std::vector<uint8_t>& out);

// Unicode's simple case mappings over UTF-8 (ASCII directly, the rest through
// the C.UTF-8 locale's tables, whatever locale the process runs in). Stray
// bytes are copied unchanged.
std::string FoldCase(std::string_view text);   // lower case: member names, keys
std::string UpperText(std::string_view text);  // upper case: sort keys, file types
// FoldCase(a) == FoldCase(b).
bool EqualsNoCase(std::string_view a, std::string_view b);

// The process's one C.UTF-8 LC_CTYPE locale (null when the system lacks it).
locale_t Utf8CTypeLocale();

}  // namespace torvane
