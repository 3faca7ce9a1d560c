// ASCII letter case and trimming for protocol text (header names, tokens,
// configuration keys): only A-Z and a-z change, whatever the process locale;
// every other byte, UTF-8 included, passes unchanged. Text shown to people
// uses the Unicode mappings of basics/utf8.h instead.
#pragma once

#include <string>
#include <string_view>

namespace torvane {

constexpr char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }
constexpr char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
std::string AsciiLower(std::string_view text);
std::string AsciiUpper(std::string_view text);

// Equal when A-Z and a-z are taken as the same letters.
bool EqualsAsciiNoCase(std::string_view a, std::string_view b);
bool StartsWithAsciiNoCase(std::string_view text, std::string_view prefix);

// `text` without the characters of `set` at either end.
std::string_view TrimChars(std::string_view text, std::string_view set);
// Without blanks (space and tab) at either end: header values, tokens.
inline std::string_view TrimBlanks(std::string_view text) { return TrimChars(text, " \t"); }
// Without ASCII white space (space, tab, CR, LF, VT, FF) at either end.
inline std::string_view TrimSpace(std::string_view text) { return TrimChars(text, " \t\r\n\v\f"); }

}  // namespace torvane
