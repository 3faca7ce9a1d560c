#include "basics/ascii.h"

namespace torvane {

std::string AsciiLower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiLower(c);
  return out;
}

std::string AsciiUpper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = AsciiUpper(c);
  return out;
}

bool EqualsAsciiNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  return true;
}

bool StartsWithAsciiNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsAsciiNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimChars(std::string_view text, std::string_view set) {
  size_t b = text.find_first_not_of(set);
  if (b == std::string_view::npos) return {};
  size_t e = text.find_last_not_of(set);
  return text.substr(b, e - b + 1);
}

}  // namespace torvane
