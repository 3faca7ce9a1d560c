#include "server/state_value.h"

#include <charconv>
#include <stdexcept>

namespace torvane::server {

namespace {

[[noreturn]] void Bad() { throw std::runtime_error("state store: a stored value is not in the expected form"); }

std::string Number(double d) {
  char buf[64];
  auto [p, ec] = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, p);
}

template <class T>
T Parse(std::string_view s) {
  T v{};
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  if (ec != std::errc() || p != s.data() + s.size()) Bad();
  return v;
}

// Reads LENGTH ":" and the LENGTH bytes after it from `text` at `pos`.
std::string_view Counted(std::string_view text, size_t& pos) {
  size_t colon = text.find(':', pos);
  if (colon == std::string_view::npos) Bad();
  size_t n = Parse<size_t>(text.substr(pos, colon - pos));
  if (n > text.size() - colon - 1) Bad();
  pos = colon + 1 + n;
  return text.substr(colon + 1, n);
}

}  // namespace

std::string EncodeValue(const Variant& v) {
  switch (v.type()) {
    case VType::Empty:
    case VType::Missing: return "e";
    case VType::Null: return "n";
    case VType::String: return "s" + v.str();
    case VType::I2: return "h" + std::to_string(v.rawInt());
    case VType::I4: return "i" + std::to_string(v.rawInt());
    case VType::I8: return "l" + std::to_string(v.rawInt());
    case VType::Double: return "d" + Number(v.rawDouble());
    case VType::Date: return "t" + Number(v.rawDouble());
    case VType::Bool: return v.rawInt() ? "b1" : "b0";
    case VType::Bytes: {
      const Bytes& b = v.bytes();
      return "y" + std::string(b.begin(), b.end());
    }
    case VType::Array: {
      const VArray& a = v.array();
      std::string out = "a" + std::to_string(a.lbound) + "," + std::to_string(a.items.size()) + ";";
      for (const Variant& item : a.items) {
        std::string e = EncodeValue(item);
        out += std::to_string(e.size()) + ":" + e;
      }
      return out;
    }
    case VType::Object: break;
  }
  throw std::runtime_error("state store: an object has no stored form");
}

Variant DecodeValue(std::string_view text) {
  if (text.empty()) Bad();
  std::string_view body = text.substr(1);
  switch (text[0]) {
    case 'e': return Variant();
    case 'n': return Variant::Null();
    case 's': return Variant(std::string(body));
    case 'h': return Variant::I2(Parse<int16_t>(body));
    case 'i': return Variant(Parse<int32_t>(body));
    case 'l': return Variant::I8(Parse<int64_t>(body));
    case 'd': return Variant(Parse<double>(body));
    case 't': return Variant::Date(Parse<double>(body));
    case 'b':
      if (body != "0" && body != "1") Bad();
      return Variant(body == "1");
    case 'y': return Variant(Bytes(body.begin(), body.end()));
    case 'a': {
      size_t comma = body.find(','), semi = body.find(';');
      if (comma == std::string_view::npos || semi == std::string_view::npos || semi < comma) Bad();
      VArray a;
      a.lbound = Parse<int32_t>(body.substr(0, comma));
      size_t count = Parse<size_t>(body.substr(comma + 1, semi - comma - 1));
      if (count > body.size()) Bad();  // every item takes at least one byte
      size_t pos = semi + 1;
      a.items.reserve(count);
      for (size_t i = 0; i < count; ++i) a.items.push_back(DecodeValue(Counted(body, pos)));
      if (pos != body.size()) Bad();
      return Variant(std::move(a));
    }
    default: Bad();
  }
}

std::string EncodeEntry(std::string_view name, const Variant& v) {
  return std::to_string(name.size()) + ":" + std::string(name) + EncodeValue(v);
}

std::pair<std::string, Variant> DecodeEntry(std::string_view text) {
  size_t pos = 0;
  std::string name(Counted(text, pos));
  return {std::move(name), DecodeValue(text.substr(pos))};
}

}  // namespace torvane::server
