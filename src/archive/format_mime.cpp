// MIME: a multipart/mixed message whose parts are the files. Read: every leaf
// part of the message (nested multiparts are walked), decoded from base64,
// quoted-printable or kept as it is; the name comes from the part's
// Content-Disposition filename (RFC 2231 and RFC 2047 forms understood) or its
// Content-Type name, reduced to its last component (MIME has no folders), and
// made unique. Written: one base64 part per file, named in
// Content-Disposition (with an RFC 2231 UTF-8 form for names that are not ASCII).
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <random>
#include <set>

#include "archive/engine_util.h"
#include "basics/ascii.h"
#include "archive/format_modules.h"
#include "automation/object.h"
#include "platform/registry.h"

namespace torvane::engine {

namespace {

std::string Lower(std::string s) { return AsciiLower(s); }

std::string Trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t' || s[a] == '\r' || s[a] == '\n')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t' || s[b - 1] == '\r' || s[b - 1] == '\n')) --b;
  return std::string(s.substr(a, b - a));
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Base64Value(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

std::string Base64Decode(std::string_view s) {
  std::string out;
  uint32_t acc = 0;
  int bits = 0;
  for (char ch : s) {
    int v = Base64Value(static_cast<uint8_t>(ch));
    if (v < 0) continue;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((acc >> bits) & 0xFF);
    }
  }
  return out;
}

std::string CharsetToUtf8(const std::string& charset, const std::string& bytes) {
  std::string cs = Lower(charset);
  if (cs == "iso-8859-1" || cs == "latin1" || cs == "us-ascii" || cs == "windows-1252") return Latin1ToUtf8(bytes);
  return NameToUtf8(bytes, false);
}

// RFC 2047 encoded words (=?charset?B?...?= and =?charset?Q?...?=) in a header value.
std::string DecodeWords(const std::string& text) {
  std::string out;
  size_t i = 0;
  bool lastWasWord = false;
  while (i < text.size()) {
    size_t start = text.find("=?", i);
    if (start == std::string::npos) {
      out += text.substr(i);
      break;
    }
    size_t q1 = text.find('?', start + 2);
    size_t q2 = q1 == std::string::npos ? q1 : text.find('?', q1 + 1);
    size_t end = q2 == std::string::npos ? q2 : text.find("?=", q2 + 1);
    if (end == std::string::npos || q2 != q1 + 2) {
      out += text.substr(i);
      break;
    }
    std::string between = text.substr(i, start - i);
    if (!(lastWasWord && Trim(between).empty())) out += between;  // blanks between words vanish
    std::string charset = text.substr(start + 2, q1 - start - 2);
    char enc = static_cast<char>(std::toupper(static_cast<unsigned char>(text[q1 + 1])));
    std::string payload = text.substr(q2 + 1, end - q2 - 1);
    std::string bytes;
    if (enc == 'B') {
      bytes = Base64Decode(payload);
    } else {
      for (size_t k = 0; k < payload.size(); ++k) {
        if (payload[k] == '_') bytes += ' ';
        else if (payload[k] == '=' && k + 2 < payload.size() + 0 && HexValue(payload[k + 1]) >= 0 && HexValue(payload[k + 2]) >= 0) {
          bytes += static_cast<char>(HexValue(payload[k + 1]) * 16 + HexValue(payload[k + 2]));
          k += 2;
        } else bytes += payload[k];
      }
    }
    out += CharsetToUtf8(charset, bytes);
    lastWasWord = true;
    i = end + 2;
  }
  return out;
}

// "type/sub; a=1; b=\"x y\"" -> value "type/sub" and parameters (lower-case names).
struct HeaderValue {
  std::string value;
  std::map<std::string, std::string> params;
};

HeaderValue ParseParams(const std::string& text) {
  HeaderValue hv;
  std::vector<std::string> pieces;
  std::string cur;
  bool quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted && c == '\\' && i + 1 < text.size()) {
      cur += c;
      cur += text[++i];
      continue;
    }
    if (c == '"') quoted = !quoted;
    if (c == ';' && !quoted) {
      pieces.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  pieces.push_back(cur);
  hv.value = Lower(Trim(pieces[0]));
  for (size_t i = 1; i < pieces.size(); ++i) {
    size_t eq = pieces[i].find('=');
    if (eq == std::string::npos) continue;
    std::string name = Lower(Trim(pieces[i].substr(0, eq)));
    std::string v = Trim(pieces[i].substr(eq + 1));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
      std::string u;
      for (size_t k = 1; k + 1 < v.size(); ++k) {
        if (v[k] == '\\' && k + 2 < v.size()) ++k;
        u += v[k];
      }
      v = u;
    }
    hv.params[name] = v;
  }
  return hv;
}

// A parameter in its RFC 2231 forms (name*, name*0, name*0*, ...) or plain.
std::string Param(const HeaderValue& hv, const std::string& name) {
  auto pct = [](const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
      if (s[i] == '%' && i + 2 < s.size() && HexValue(s[i + 1]) >= 0 && HexValue(s[i + 2]) >= 0) {
        out += static_cast<char>(HexValue(s[i + 1]) * 16 + HexValue(s[i + 2]));
        i += 2;
      } else {
        out += s[i];
      }
    }
    return out;
  };
  auto extended = [&](const std::string& v) {
    size_t a = v.find('\''), b = a == std::string::npos ? a : v.find('\'', a + 1);
    if (b == std::string::npos) return pct(v);
    return CharsetToUtf8(v.substr(0, a), pct(v.substr(b + 1)));
  };
  auto it = hv.params.find(name + "*");
  if (it != hv.params.end()) return extended(it->second);
  if (hv.params.count(name + "*0") || hv.params.count(name + "*0*")) {
    std::string joined, charset;
    bool encoded = false;
    for (int n = 0;; ++n) {
      std::string key = name + "*" + std::to_string(n);
      if (auto e = hv.params.find(key + "*"); e != hv.params.end()) {
        std::string v = e->second;
        if (n == 0) {
          size_t a = v.find('\''), b = a == std::string::npos ? a : v.find('\'', a + 1);
          if (b != std::string::npos) {
            charset = v.substr(0, a);
            v = v.substr(b + 1);
          }
          encoded = true;
        }
        joined += pct(v);
      } else if (auto p = hv.params.find(key); p != hv.params.end()) {
        joined += p->second;
      } else {
        break;
      }
    }
    return encoded ? CharsetToUtf8(charset, joined) : NameToUtf8(joined, false);
  }
  it = hv.params.find(name);
  if (it != hv.params.end()) return DecodeWords(NameToUtf8(it->second, false));
  return "";
}

enum class Encoding { Raw, Base64, QuotedPrintable };

struct Part {
  std::string name;
  int64_t begin = 0, end = 0;  // encoded body
  Encoding encoding = Encoding::Raw;
  int64_t decodedSize = 0;
};

// A read-only view of the whole file.
class Mapping {
 public:
  explicit Mapping(const SourceFile& src) : size_(static_cast<size_t>(src.size)) {
    if (size_ == 0) return;
    void* p = ::mmap(nullptr, size_, PROT_READ, MAP_PRIVATE, src.fd, 0);
    if (p == MAP_FAILED) ThrowErrno(errno);
    data_ = static_cast<const char*>(p);
  }
  ~Mapping() {
    if (data_) ::munmap(const_cast<char*>(data_), size_);
  }
  Mapping(const Mapping&) = delete;
  Mapping& operator=(const Mapping&) = delete;
  std::string_view view() const { return {data_ ? data_ : "", size_}; }

 private:
  const char* data_ = nullptr;
  size_t size_;
};

class MessageParser {
 public:
  explicit MessageParser(std::string_view text) : text_(text) {}

  std::vector<Part> Parse() {
    size_t bodyAt = 0;
    auto headers = Headers(0, text_.size(), bodyAt);
    Entity(headers, bodyAt, text_.size(), 0);
    return std::move(parts_);
  }

 private:
  using HeaderMap = std::map<std::string, std::string>;

  // The header block at [from, to): names lower-cased, folded lines joined.
  HeaderMap Headers(size_t from, size_t to, size_t& bodyAt) {
    HeaderMap h;
    std::string last;
    size_t i = from;
    while (i < to) {
      size_t eol = text_.find('\n', i);
      if (eol == std::string_view::npos || eol >= to) eol = to;
      std::string_view line = text_.substr(i, eol - i);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      size_t next = eol < to ? eol + 1 : to;
      if (line.empty()) {
        bodyAt = next;
        return h;
      }
      if ((line[0] == ' ' || line[0] == '\t') && !last.empty()) {
        h[last] += " " + Trim(line);
      } else {
        size_t colon = line.find(':');
        if (colon != std::string_view::npos) {
          last = Lower(Trim(line.substr(0, colon)));
          h[last] = Trim(line.substr(colon + 1));
        }
      }
      i = next;
    }
    bodyAt = to;  // headers only, no body
    return h;
  }

  void Entity(const HeaderMap& h, size_t bodyAt, size_t end, int depth) {
    auto ct = h.find("content-type");
    HeaderValue type = ParseParams(ct == h.end() ? "text/plain" : ct->second);
    if (type.value.rfind("multipart/", 0) == 0 && depth < 16) {
      std::string boundary = Param(type, "boundary");
      if (boundary.empty()) ThrowEngine(engine_error::Damaged, "The MIME message has a multipart without boundary.");
      Multipart(boundary, bodyAt, end, depth);
      return;
    }
    Part p;
    auto cd = h.find("content-disposition");
    if (cd != h.end()) p.name = Param(ParseParams(cd->second), "filename");
    if (p.name.empty()) p.name = Param(type, "name");
    size_t cut = p.name.find_last_of("/\\");
    if (cut != std::string::npos) p.name = p.name.substr(cut + 1);
    p.name = Trim(p.name);
    if (p.name.empty() || p.name == "." || p.name == "..") {
      std::string ext = type.value == "text/plain" ? ".txt" : type.value == "text/html" ? ".html" : ".bin";
      p.name = "Part" + std::to_string(parts_.size() + 1) + ext;
    }
    auto te = h.find("content-transfer-encoding");
    std::string enc = te == h.end() ? "" : Lower(te->second);
    p.encoding = enc == "base64" ? Encoding::Base64 : enc == "quoted-printable" ? Encoding::QuotedPrintable : Encoding::Raw;
    p.begin = static_cast<int64_t>(bodyAt);
    p.end = static_cast<int64_t>(end);
    p.decodedSize = DecodedSize(p);
    parts_.push_back(std::move(p));
  }

  // Splits [from, to) at the boundary's delimiter lines. The line break before
  // a delimiter belongs to the delimiter.
  void Multipart(const std::string& boundary, size_t from, size_t to, int depth) {
    std::string dash = "--" + boundary;
    size_t partStart = std::string::npos;
    size_t i = from;
    while (i < to) {
      size_t eol = text_.find('\n', i);
      if (eol == std::string_view::npos || eol >= to) eol = to;
      std::string_view line = text_.substr(i, eol - i);
      if (line.rfind(dash, 0) == 0) {
        std::string_view rest = line.substr(dash.size());
        bool closing = rest.rfind("--", 0) == 0;
        if (closing || Trim(rest).empty()) {
          if (partStart != std::string::npos) {
            size_t partEnd = i;
            if (partEnd > partStart && text_[partEnd - 1] == '\n') --partEnd;
            if (partEnd > partStart && text_[partEnd - 1] == '\r') --partEnd;
            if (partEnd < partStart) partEnd = partStart;
            size_t bodyAt = 0;
            auto h = Headers(partStart, partEnd, bodyAt);
            Entity(h, bodyAt, partEnd, depth + 1);
          }
          if (closing) return;
          partStart = eol < to ? eol + 1 : to;
        }
      }
      i = eol < to ? eol + 1 : to;
    }
    if (partStart != std::string::npos && partStart < to) {
      size_t bodyAt = 0;
      auto h = Headers(partStart, to, bodyAt);  // an unterminated last part is kept
      Entity(h, bodyAt, to, depth + 1);
    }
  }

  int64_t DecodedSize(const Part& p) const {
    std::string_view body = text_.substr(static_cast<size_t>(p.begin), static_cast<size_t>(p.end - p.begin));
    if (p.encoding == Encoding::Raw) return static_cast<int64_t>(body.size());
    int64_t n = 0;
    if (p.encoding == Encoding::Base64) {
      int64_t chars = 0;
      for (char c : body) {
        if (c == '=') break;
        if (Base64Value(static_cast<uint8_t>(c)) >= 0) ++chars;
      }
      return chars * 6 / 8;
    }
    for (size_t i = 0; i < body.size(); ++i) {
      if (body[i] == '=') {
        if (i + 2 < body.size() + 0 && HexValue(body[i + 1]) >= 0 && HexValue(body[i + 2]) >= 0) {
          i += 2;
          ++n;
        } else {
          while (i + 1 < body.size() && (body[i + 1] == ' ' || body[i + 1] == '\t')) ++i;
          if (i + 1 < body.size() && body[i + 1] == '\r') ++i;
          if (i + 1 < body.size() && body[i + 1] == '\n') ++i;
        }
      } else {
        ++n;
      }
    }
    return n;
  }

  std::string_view text_;
  std::vector<Part> parts_;
};

class MimeReader : public FormatReader {
 public:
  explicit MimeReader(const SourceFile& source) : map_(source) {
    parts_ = MessageParser(map_.view()).Parse();
    // One name per part: later duplicates get " (2)", " (3)" before the extension.
    std::set<std::string> seen;
    for (auto& p : parts_) {
      std::string name = p.name;
      for (int n = 2; seen.count(FoldCase(name)); ++n) {
        size_t dot = p.name.find_last_of('.');
        name = dot == std::string::npos || dot == 0
                   ? p.name + " (" + std::to_string(n) + ")"
                   : p.name.substr(0, dot) + " (" + std::to_string(n) + ")" + p.name.substr(dot);
      }
      seen.insert(FoldCase(name));
      p.name = name;
    }
  }

  bool Next(EntryMeta& meta) override {
    if (index_ + 1 >= static_cast<int64_t>(parts_.size())) return false;
    ++index_;
    const Part& p = parts_[static_cast<size_t>(index_)];
    meta.path = p.name;
    meta.kind = EntryKind::File;
    meta.compressedSize = p.end - p.begin;
    meta.uncompressedSize = p.decodedSize;
    meta.mode = 0644;
    pos_ = p.begin;
    acc_ = 0;
    bits_ = 0;
    return true;
  }

  size_t Read(uint8_t* out, size_t n) override {
    if (index_ < 0 || index_ >= static_cast<int64_t>(parts_.size())) return 0;
    const Part& p = parts_[static_cast<size_t>(index_)];
    std::string_view t = map_.view();
    size_t k = 0;
    while (k < n && pos_ < p.end) {
      char c = t[static_cast<size_t>(pos_)];
      if (p.encoding == Encoding::Raw) {
        size_t take = static_cast<size_t>(std::min<int64_t>(p.end - pos_, static_cast<int64_t>(n - k)));
        std::memcpy(out + k, t.data() + pos_, take);
        k += take;
        pos_ += static_cast<int64_t>(take);
      } else if (p.encoding == Encoding::Base64) {
        ++pos_;
        if (c == '=') {
          pos_ = p.end;
          break;
        }
        int v = Base64Value(static_cast<uint8_t>(c));
        if (v < 0) continue;
        acc_ = (acc_ << 6) | static_cast<uint32_t>(v);
        bits_ += 6;
        if (bits_ >= 8) {
          bits_ -= 8;
          out[k++] = static_cast<uint8_t>((acc_ >> bits_) & 0xFF);
        }
      } else {
        ++pos_;
        if (c != '=') {
          out[k++] = static_cast<uint8_t>(c);
          continue;
        }
        if (pos_ + 1 < p.end && HexValue(t[static_cast<size_t>(pos_)]) >= 0 &&
            HexValue(t[static_cast<size_t>(pos_ + 1)]) >= 0) {
          out[k++] = static_cast<uint8_t>(HexValue(t[static_cast<size_t>(pos_)]) * 16 + HexValue(t[static_cast<size_t>(pos_ + 1)]));
          pos_ += 2;
        } else {
          while (pos_ < p.end && (t[static_cast<size_t>(pos_)] == ' ' || t[static_cast<size_t>(pos_)] == '\t')) ++pos_;
          if (pos_ < p.end && t[static_cast<size_t>(pos_)] == '\r') ++pos_;
          if (pos_ < p.end && t[static_cast<size_t>(pos_)] == '\n') ++pos_;
        }
      }
    }
    return k;
  }

 private:
  Mapping map_;
  std::vector<Part> parts_;
  int64_t index_ = -1;
  int64_t pos_ = 0;
  uint32_t acc_ = 0;
  int bits_ = 0;
};

std::string Base64Encode(std::string_view in) {
  static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < in.size(); i += 3) {
    uint32_t v = uint32_t{static_cast<uint8_t>(in[i])} << 16;
    if (i + 1 < in.size()) v |= uint32_t{static_cast<uint8_t>(in[i + 1])} << 8;
    if (i + 2 < in.size()) v |= static_cast<uint8_t>(in[i + 2]);
    out += abc[(v >> 18) & 63];
    out += abc[(v >> 12) & 63];
    out += i + 1 < in.size() ? abc[(v >> 6) & 63] : '=';
    out += i + 2 < in.size() ? abc[v & 63] : '=';
  }
  return out;
}

// The content type registered for a file name's extension.
std::string ContentTypeFor(const std::string& name) {
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot + 1 < name.size()) {
    RegValue v;
    if (RegistryLookup("HKEY_CLASSES_ROOT\\" + name.substr(dot), "Content Type", v) == 0 && !v.text.empty() &&
        v.text.find_first_of("\r\n\";") == std::string::npos)
      return v.text;
  }
  return "application/octet-stream";
}

class MimeWriter : public FormatWriter {
 public:
  explicit MimeWriter(int fd) : fd_(fd) {
    std::random_device rd;
    static const char* hex = "0123456789abcdef";
    boundary_ = "----=_Torvane_";
    for (int i = 0; i < 24; ++i) boundary_ += hex[rd() & 15];
    Put("MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" + boundary_ +
        "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n");
  }

  void Begin(const EntryMeta& meta) override {
    if (meta.kind != EntryKind::File) ThrowEngine(engine_error::BadContents, "A MIME archive holds only files.");
    std::string name = BaseName(meta.path);
    std::string ascii;
    bool plain = true;
    for (unsigned char c : name) {
      if (c < 0x20 || c >= 0x7F) {
        plain = false;
        ascii += '_';
      } else {
        if (c == '"' || c == '\\') ascii += '\\';
        ascii += static_cast<char>(c);
      }
    }
    // Names that are not ASCII: RFC 2231 in the disposition (what mail
    // libraries read first) and an RFC 2047 word in the type's name.
    std::string disposition = "attachment; filename=\"" + ascii + "\"";
    std::string typeName = "\"" + ascii + "\"";
    if (!plain) {
      static const char* hex = "0123456789ABCDEF";
      disposition = "attachment; filename*=UTF-8''";
      for (unsigned char c : name) {
        if (std::isalnum(c) || c == '.' || c == '-' || c == '_') {
          disposition += static_cast<char>(c);
        } else {
          disposition += '%';
          disposition += hex[c >> 4];
          disposition += hex[c & 15];
        }
      }
      typeName = "\"=?UTF-8?B?" + Base64Encode(name) + "?=\"";
    }
    Put("--" + boundary_ + "\r\nContent-Type: " + ContentTypeFor(name) + "; name=" + typeName +
        "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: " + disposition + "\r\n\r\n");
    carry_.clear();
  }

  void Write(const uint8_t* data, size_t n) override {
    carry_.insert(carry_.end(), data, data + n);
    size_t whole = carry_.size() / 57 * 57;
    for (size_t i = 0; i < whole; i += 57) Line(carry_.data() + i, 57);
    carry_.erase(carry_.begin(), carry_.begin() + static_cast<long>(whole));
    if (out_.size() >= 65536) Flush();
  }

  void End() override {
    if (!carry_.empty()) Line(carry_.data(), carry_.size());
    carry_.clear();
  }

  void Finish() override {
    Put("--" + boundary_ + "--\r\n");
    Flush();
    if (::close(fd_.Release()) != 0) ThrowErrno(errno);
  }

 private:
  void Line(const uint8_t* p, size_t n) {
    static const char* abc = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < n; i += 3) {
      uint32_t v = uint32_t{p[i]} << 16;
      if (i + 1 < n) v |= uint32_t{p[i + 1]} << 8;
      if (i + 2 < n) v |= p[i + 2];
      out_ += abc[(v >> 18) & 63];
      out_ += abc[(v >> 12) & 63];
      out_ += i + 1 < n ? abc[(v >> 6) & 63] : '=';
      out_ += i + 2 < n ? abc[v & 63] : '=';
    }
    out_ += "\r\n";
  }
  void Put(const std::string& s) { out_ += s; }
  void Flush() {
    WriteFileAll(fd_.get(), out_.data(), out_.size());
    out_.clear();
  }

  UniqueFd fd_;
  std::string boundary_;
  std::string out_;
  std::vector<uint8_t> carry_;
};

class MimeModule : public FormatModule {
 public:
  int32_t Type() const override { return kTypeMime; }
  const char* Name() const override { return "MIME"; }
  bool HasFolders() const override { return false; }
  int32_t Capabilities() const override { return 0; }

  // A header block at the start that declares MIME or a multipart body.
  int Bid(const FileProbe& probe) const override {
    std::string_view t(reinterpret_cast<const char*>(probe.head.data()), probe.head.size());
    int bid = 0;
    size_t i = 0;
    bool first = true;
    while (i < t.size()) {
      size_t eol = t.find('\n', i);
      if (eol == std::string_view::npos) break;
      std::string_view line = t.substr(i, eol - i);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      if (line.empty()) break;
      if (line[0] != ' ' && line[0] != '\t') {
        size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) return 0;
        for (size_t k = 0; k < colon; ++k)
          if (line[k] <= ' ' || line[k] >= 0x7F) return 0;
        std::string name = Lower(std::string(line.substr(0, colon)));
        std::string value = Lower(Trim(line.substr(colon + 1)));
        if (name == "mime-version") bid = std::max(bid, 30);
        if (name == "content-type" && value.rfind("multipart/", 0) == 0) bid = std::max(bid, 40);
      } else if (first) {
        return 0;
      }
      first = false;
      i = eol + 1;
    }
    return bid;
  }

  std::unique_ptr<FormatReader> OpenReader(const SourceFile& source, const std::string&) const override {
    return std::make_unique<MimeReader>(source);
  }

  void CheckContents(size_t files, size_t others) const override {
    if (files == 0 || others != 0)
      ThrowEngine(engine_error::BadContents, "A MIME archive holds one file or more, and no folders.");
  }

  std::unique_ptr<FormatWriter> OpenWriter(const std::string& nativePath, const WriteOptions&) const override {
    int fd = ::open(nativePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) ThrowErrno(errno);
    return std::make_unique<MimeWriter>(fd);
  }
};

}  // namespace

const FormatModule& MimeFormat() {
  static const MimeModule module;
  return module;
}

}  // namespace torvane::engine
