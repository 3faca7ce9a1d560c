#include "host/xml.h"

namespace torvane {

namespace {
constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// Length of the UTF-8 sequence at text[i] when it encodes a character XML 1.0
// can carry (2 to 4 bytes), else 0.
size_t XmlCharLength(std::string_view text, size_t i) {
  auto at = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  unsigned char c = at(i);
  size_t avail = text.size() - i;
  auto cont = [&](size_t k) { return k < avail && (at(i + k) & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!cont(1) || !cont(2)) return 0;
    if (c == 0xE0 && at(i + 1) < 0xA0) return 0;                         // overlong
    if (c == 0xED && at(i + 1) >= 0xA0) return 0;                        // a surrogate
    if (c == 0xEF && at(i + 1) == 0xBF && at(i + 2) >= 0xBE) return 0;  // U+FFFE, U+FFFF
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!cont(1) || !cont(2) || !cont(3)) return 0;
    if (c == 0xF0 && at(i + 1) < 0x90) return 0;
    if (c == 0xF4 && at(i + 1) >= 0x90) return 0;
    return 4;
  }
  return 0;
}
}  // namespace

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      size_t len = XmlCharLength(text, i);
      if (len == 0) {
        out += kReplacement;  // not UTF-8, or a character XML cannot carry
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

std::string XmlValueText(const Variant& v) { return v.toString(); }

namespace {
std::vector<std::string_view> Split(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (true) {
    size_t comma = s.find(',', i);
    out.push_back(s.substr(i, comma == std::string_view::npos ? std::string_view::npos : comma - i));
    if (comma == std::string_view::npos) break;
    i = comma + 1;
  }
  return out;
}

std::string ExtraText(const Variant& extra) {
  if (extra.isMissing() || extra.isEmpty() || extra.isNull()) return "";
  return extra.toString();
}
}  // namespace

std::string RenderObjectXml(Object& obj, std::string_view root, std::string_view fullList, const Variant& properties,
                            const Variant& extra) {
  std::string list = properties.isMissing() ? std::string("*") : properties.toString();
  if (list == "*") list = std::string(fullList);
  auto known = Split(fullList);
  std::string out = "<" + std::string(root) + ">";
  for (std::string_view name : Split(list)) {
    bool isKnown = false;
    for (auto k : known)
      if (k == name) isKnown = true;
    if (!isKnown) continue;
    try {
      Variant value = obj.Get(name);
      std::string text = XmlEscape(XmlValueText(value));
      out += "<" + std::string(name) + ">" + text + "</" + std::string(name) + ">";
    } catch (const Error&) {
      // A property that cannot be read is left out; rendering goes on.
    }
  }
  out += ExtraText(extra);
  out += "</" + std::string(root) + ">";
  return out;
}

std::string RenderCollectionXml(std::string_view root, const std::vector<Variant>& items, const Variant& extra) {
  std::string out = "<" + std::string(root) + ">";
  for (const auto& item : items) {
    try {
      Args args{Variant("*")};
      out += item.toObject()->Invoke("ToXML", CallKind::Method, args).toString();
    } catch (const Error&) {
      // An item that fails to render contributes nothing.
    }
  }
  out += ExtraText(extra);
  out += "</" + std::string(root) + ">";
  return out;
}

}  // namespace torvane
