#include "host/xml.h"

#include "basics/escape.h"

namespace torvane {

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
