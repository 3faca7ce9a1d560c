#include "upload/part_headers.h"

#include <cstdint>
#include <span>

#include "platform/codepage.h"

namespace torvane::multipart {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerText(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One parameter "attr = value" of a header value, read from `i` on. `attr` is
// lower-cased; a word without "=" (the disposition type) gives an empty attr.
// False when a quoted value is not closed.
bool NextParameter(std::string_view v, size_t& i, std::string& attr, std::string& value) {
  size_t n = v.size();
  attr.clear();
  value.clear();
  size_t a = i;
  while (i < n && v[i] != '=' && v[i] != ';') ++i;
  if (i >= n || v[i] == ';') return true;  // no value: not a parameter
  attr = LowerText(TrimBlanks(v.substr(a, i - a)));
  ++i;  // '='
  while (i < n && IsBlank(v[i])) ++i;
  if (i < n && v[i] == '"') {
    ++i;
    for (;;) {
      if (i >= n) return false;
      char c = v[i];
      // \" stands for a quote when another quote follows to close the value;
      // every other backslash is a byte of the value (client paths).
      if (c == '\\' && i + 1 < n && v[i + 1] == '"' && v.find('"', i + 2) != std::string_view::npos) {
        value += '"';
        i += 2;
        continue;
      }
      ++i;
      if (c == '"') break;
      value += c;
    }
    while (i < n && v[i] != ';') ++i;  // anything after the closing quote
    return true;
  }
  size_t b = i;
  while (i < n && v[i] != ';') ++i;
  value = std::string(TrimBlanks(v.substr(b, i - b)));
  return true;
}

}  // namespace

bool HeaderIs(std::string_view line, std::string_view lowerName, std::string& value) {
  size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  std::string_view name = TrimBlanks(line.substr(0, colon));
  if (name.size() != lowerName.size()) return false;
  for (size_t i = 0; i < name.size(); ++i)
    if (Lower(name[i]) != lowerName[i]) return false;
  value.clear();
  std::string_view rest = line.substr(colon + 1);
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '\r' && i + 1 < rest.size() && rest[i + 1] == '\n') {
      ++i;  // a line end: the end of the header or a fold
      continue;
    }
    value += rest[i];
  }
  return true;
}

bool ParseDisposition(std::string_view v, Disposition& out) {
  out = Disposition();
  bool seenFileName = false;
  std::string attr, value;
  size_t i = 0;
  while (i < v.size()) {
    while (i < v.size() && (IsBlank(v[i]) || v[i] == ';')) ++i;
    if (i >= v.size()) break;
    if (!NextParameter(v, i, attr, value)) return false;
    if (attr == "name" && !out.hasName) {
      out.hasName = true;
      out.name = std::move(value);
    } else if (attr == "filename" && !seenFileName) {
      seenFileName = true;
      out.isFile = true;
      out.fileName = std::move(value);
    } else if (attr == "filename*" && !out.hasFileNameText) {
      out.isFile = true;
      out.hasFileNameText = DecodeExtendedValue(value, out.fileNameText);
    }
  }
  return true;
}

bool DecodeExtendedValue(std::string_view v, std::string& text) {
  size_t q1 = v.find('\'');
  if (q1 == std::string_view::npos) return false;
  size_t q2 = v.find('\'', q1 + 1);
  if (q2 == std::string_view::npos) return false;
  std::string charset = LowerText(TrimBlanks(v.substr(0, q1)));
  int32_t codePage = charset == "utf-8" ? 65001 : charset == "iso-8859-1" ? 28591 : 0;
  if (codePage == 0) return false;
  std::string bytes;
  for (size_t i = q2 + 1; i < v.size(); ++i) {
    int hi = -1, lo = -1;
    if (v[i] == '%' && i + 2 < v.size() && (hi = HexDigit(v[i + 1])) >= 0 && (lo = HexDigit(v[i + 2])) >= 0) {
      bytes += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      bytes += v[i];
    }
  }
  text = ConvertToText(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                       codePage, "Post");
  return true;
}

std::string BoundaryParameter(std::string_view contentType) {
  size_t i = contentType.find(';');
  if (i == std::string_view::npos) return "";
  std::string attr, value;
  while (i < contentType.size()) {
    while (i < contentType.size() && (IsBlank(contentType[i]) || contentType[i] == ';')) ++i;
    if (i >= contentType.size()) break;
    if (!NextParameter(contentType, i, attr, value)) return "";
    if (attr == "boundary") return value;
  }
  return "";
}

bool IsFormData(std::string_view contentType) {
  static constexpr std::string_view kType = "multipart/form-data";
  if (contentType.size() < kType.size()) return false;
  for (size_t i = 0; i < kType.size(); ++i)
    if (Lower(contentType[i]) != kType[i]) return false;
  return true;
}

}  // namespace torvane::multipart
