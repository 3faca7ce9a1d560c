#include "basics/escape.h"

#include "basics/utf8.h"

namespace torvane {

namespace {
constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

bool IsAsciiAlnum(unsigned char c) { return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'); }

// U+FFFE and U+FFFF (EF BF BE, EF BF BF): well-formed, yet not XML characters.
bool IsXmlNonCharacter(std::string_view text, size_t i, size_t len) {
  return len == 3 && static_cast<unsigned char>(text[i]) == 0xEF && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
         static_cast<unsigned char>(text[i + 2]) >= 0xBE;
}
}  // namespace

std::string HtmlEncode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '&': out += "&amp;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UrlEncode(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (IsAsciiAlnum(c) || c == '-' || c == '_' || c == '.' || c == '*') {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      size_t len = Utf8SequenceLength(text, i);
      if (len == 0 || IsXmlNonCharacter(text, i, len)) {
        out += kReplacement;  // a stray byte, or a character XML cannot carry
        ++i;
      } else {
        out.append(text.substr(i, len));
        i += len;
      }
      continue;
    }
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '\t': case '\n': case '\r': out += static_cast<char>(c); break;
      default:
        if (c < 0x20) out += kReplacement;  // control characters are not XML characters
        else out += static_cast<char>(c);
    }
    ++i;
  }
  return out;
}

}  // namespace torvane
