#include "server/http_request.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>

#include "basics/ascii.h"
#include "automation/object.h"
#include "basics/hresult.h"

namespace torvane::server {

namespace {


std::string Upper(std::string_view s) { return AsciiUpper(s); }

// The CGI name of a header: "If-Modified-Since" -> "HTTP_IF_MODIFIED_SINCE".
std::string CgiName(std::string_view header) {
  std::string out = "HTTP_";
  for (char c : header) out += c == '-' ? '_' : AsciiUpper(c);
  return out;
}

Variant Lookup(const std::vector<std::pair<std::string, std::string>>& pairs, std::string_view name) {
  std::string joined;
  bool found = false;
  for (const auto& [k, v] : pairs) {
    if (!EqualsNoCase(k, name)) continue;
    if (found) joined += ", ";
    joined += v;
    found = true;
  }
  return found ? Variant(joined) : Variant();
}

std::vector<std::string> Values(const std::vector<std::pair<std::string, std::string>>& pairs, std::string_view name) {
  std::vector<std::string> out;
  for (const auto& [k, v] : pairs)
    if (EqualsNoCase(k, name)) out.push_back(v);
  return out;
}

std::vector<std::string> Names(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::vector<std::string> out;
  for (const auto& [k, v] : pairs) {
    bool seen = false;
    for (const auto& n : out)
      if (EqualsNoCase(n, k)) seen = true;
    if (!seen) out.push_back(k);
  }
  return out;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string PercentDecode(std::string_view text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+' && plusIsSpace) {
      out += ' ';
    } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
               HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> ParseUrlEncoded(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> out;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t amp = text.find('&', pos);
    std::string_view item = text.substr(pos, amp == std::string_view::npos ? std::string_view::npos : amp - pos);
    pos = amp == std::string_view::npos ? text.size() + 1 : amp + 1;
    if (item.empty()) continue;
    size_t eq = item.find('=');
    if (eq == std::string_view::npos) out.emplace_back(PercentDecode(item, true), "");
    else out.emplace_back(PercentDecode(item.substr(0, eq), true), PercentDecode(item.substr(eq + 1), true));
  }
  return out;
}

namespace {

bool Listed(const std::vector<std::string>& list, std::string_view addr) {
  for (const auto& a : list)
    if (a == addr) return true;
  return false;
}

// True for an IPv4 or IPv6 address in its text form.
bool IsAddress(const std::string& a) {
  unsigned char buf[sizeof(in6_addr)];
  return ::inet_pton(AF_INET, a.c_str(), buf) == 1 || ::inet_pton(AF_INET6, a.c_str(), buf) == 1;
}

std::vector<std::string> CommaItems(std::string_view v) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos <= v.size()) {
    size_t comma = v.find(',', pos);
    std::string_view item = v.substr(pos, comma == std::string_view::npos ? std::string_view::npos : comma - pos);
    while (!item.empty() && (item.front() == ' ' || item.front() == '\t')) item.remove_prefix(1);
    while (!item.empty() && (item.back() == ' ' || item.back() == '\t')) item.remove_suffix(1);
    if (!item.empty()) out.emplace_back(item);
    if (comma == std::string_view::npos) break;
    pos = comma + 1;
  }
  return out;
}

}  // namespace

void ApplyForwarded(RequestInfo& info, const std::vector<std::string>& trusted) {
  if (!Listed(trusted, info.remoteAddr)) return;
  std::vector<std::string> chain;
  std::string proto;
  for (const auto& [k, v] : info.headers) {
    if (EqualsNoCase(k, "X-Forwarded-For"))
      for (auto& a : CommaItems(v)) chain.push_back(std::move(a));
    if (EqualsNoCase(k, "X-Forwarded-Proto")) {
      auto items = CommaItems(v);
      if (!items.empty()) proto = items.back();
    }
  }
  for (size_t i = chain.size(); i-- > 0;) {
    if (!IsAddress(chain[i])) break;  // a forged or broken entry: keep the peer's address
    if (!Listed(trusted, chain[i]) || i == 0) {
      info.remoteAddr = chain[i];
      info.remotePort = 0;
      break;
    }
  }
  if (!proto.empty()) info.https = EqualsNoCase(proto, "https");
}

HttpRequest::HttpRequest(RequestInfo info, std::shared_ptr<BodyReader> body, int64_t maxFormBytes)
    : info_(std::move(info)), body_(std::move(body)), maxFormBytes_(maxFormBytes) {
  query_ = ParseUrlEncoded(info_.query);
}

std::string HttpRequest::Header(std::string_view name) const {
  Variant v = Lookup(info_.headers, name);
  return v.isEmpty() ? std::string() : v.str();
}

Variant HttpRequest::ServerVariables(std::string_view name) {
  std::string n = Upper(name);
  if (n == "REQUEST_METHOD") return Variant(info_.method);
  if (n == "QUERY_STRING") return Variant(info_.query);
  if (n == "PATH_INFO" || n == "SCRIPT_NAME" || n == "URL") return Variant(info_.path);
  if (n == "PATH_TRANSLATED") return Variant(info_.pathTranslated);
  if (n == "APPL_PHYSICAL_PATH") return Variant(info_.siteRootDos);
  if (n == "CONTENT_TYPE") return Variant(Header("Content-Type"));
  if (n == "CONTENT_LENGTH") return Variant(std::to_string(body_ ? body_->Length() : 0));
  if (n == "REMOTE_ADDR" || n == "REMOTE_HOST") return Variant(info_.remoteAddr);
  if (n == "REMOTE_PORT") return Variant(std::to_string(info_.remotePort));
  if (n == "LOCAL_ADDR") return Variant(info_.localAddr);
  if (n == "SERVER_NAME") return Variant(info_.serverName);
  if (n == "SERVER_PORT") return Variant(std::to_string(info_.serverPort));
  if (n == "SERVER_PROTOCOL") return Variant(info_.protocol);
  if (n == "SERVER_SOFTWARE") return Variant("Torvane");
  if (n == "GATEWAY_INTERFACE") return Variant("CGI/1.1");
  if (n == "HTTPS") return Variant(info_.https ? "on" : "off");
  if (n == "REQUEST_URI") return Variant(info_.query.empty() ? info_.path : info_.path + "?" + info_.query);
  if (n == "ALL_HTTP" || n == "ALL_RAW") {
    std::string out;
    for (const auto& h : Names(info_.headers)) {
      out += n == "ALL_HTTP" ? CgiName(h) + ":" : h + ": ";
      out += Header(h) + "\r\n";
    }
    return Variant(out);
  }
  if (n.rfind("HTTP_", 0) == 0) {
    std::string joined;
    bool found = false;
    for (const auto& [k, v] : info_.headers) {
      if (CgiName(k) != n) continue;
      if (found) joined += ", ";
      joined += v;
      found = true;
    }
    if (found) return Variant(joined);
  }
  return Variant();
}

Variant HttpRequest::QueryString(std::string_view name) { return Lookup(query_, name); }
std::vector<std::string> HttpRequest::QueryStringNames() { return Names(query_); }

void HttpRequest::LoadForm() {
  if (formRead_) return;
  if (binaryRead_) throw Error(kHostFailure, "Cannot use Request.Form collection after calling BinaryRead.", "Request object");
  formRead_ = true;
  std::string type = Header("Content-Type");
  std::string lower = AsciiLower(type);
  if (lower.rfind("application/x-www-form-urlencoded", 0) != 0 || !body_) return;
  if (body_->Length() > maxFormBytes_)
    throw Error(kHostFailure, "Request.Form - the form data is larger than " + std::to_string(maxFormBytes_) + " bytes.",
                "Request object");
  if (checkpoint_) checkpoint_();
  std::vector<uint8_t> bytes;
  body_->Read(body_->Remaining(), bytes);
  rawForm_.assign(bytes.begin(), bytes.end());
  form_ = ParseUrlEncoded(rawForm_);
}

std::string HttpRequest::RawForm() {
  LoadForm();
  return rawForm_;
}

Variant HttpRequest::Form(std::string_view name) {
  LoadForm();
  return Lookup(form_, name);
}

std::vector<std::string> HttpRequest::FormNames() {
  LoadForm();
  return Names(form_);
}

std::vector<std::string> HttpRequest::QueryStringValues(std::string_view name) { return Values(query_, name); }

std::vector<std::string> HttpRequest::FormValues(std::string_view name) {
  LoadForm();
  return Values(form_, name);
}

int64_t HttpRequest::TotalBytes() { return body_ ? body_->Length() : 0; }

int64_t HttpRequest::BodyReadSize() const {
  constexpr auto kPiece = static_cast<int64_t>(BodyReader::kBufferBytes);
  return readLimit_ > 0 && readLimit_ < kPiece ? std::max<int64_t>(readLimit_, 1024) : kPiece;
}

Variant HttpRequest::BinaryRead(int64_t count) {
  if (formRead_) throw Error(kHostFailure, "Cannot call BinaryRead after using Request.Form collection.", "Request object");
  if (count < 0) ThrowPlatform(err::InvalidArgument);
  if (checkpoint_) checkpoint_();
  if (body_ && readLimit_ > 0 && std::min(count, body_->Remaining()) > readLimit_)
    throw Error(kHostFailure,
                "Request.BinaryRead - " + std::to_string(std::min(count, body_->Remaining())) +
                    " bytes do not fit in the page's memory limit of " + std::to_string(readLimit_) +
                    " bytes (page_memory_limit).",
                "Request object");
  binaryRead_ = true;
  Bytes out;
  if (body_) body_->Read(count, out);
  return Variant(std::move(out));
}

}  // namespace torvane::server
