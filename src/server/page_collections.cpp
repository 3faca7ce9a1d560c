#include "server/page_collections.h"

#include <cctype>
#include <cstring>

#include "automation/collection.h"
#include "basics/http_date.h"
#include "server/http_request.h"
#include "server/http_response.h"

namespace torvane::server {

namespace {

// Position `i` (from 1) of a list of `n`; 9 "Subscript out of range" outside it.
size_t Position(const Variant& i, size_t n) {
  int32_t k = i.toInt32();
  if (k < 1 || static_cast<size_t>(k) > n) ThrowPlatform(err::SubscriptRange);
  return static_cast<size_t>(k) - 1;
}

std::string Trim(std::string_view s) {
  size_t a = 0, b = s.size();
  while (a < b && (s[a] == ' ' || s[a] == '\t')) ++a;
  while (b > a && (s[b - 1] == ' ' || s[b - 1] == '\t')) --b;
  return std::string(s.substr(a, b - a));
}

}  // namespace

ObjectRef NameEnumerator(const std::vector<std::string>& names) {
  std::vector<Variant> items(names.begin(), names.end());
  return std::make_shared<Enumerator>(std::move(items));
}

// The text of an argument; "" for a missing, empty or null one.
std::string TextOf(const Variant& v) {
  if (v.isMissing()) return "";
  Variant r = v.resolved();
  if (r.isEmpty() || r.isNull() || r.isMissing()) return "";
  return r.toString();
}

// ---- request items -----------------------------------------------------------------

ObjectRef RequestItem::Create(std::vector<std::string> values) {
  auto o = std::make_shared<RequestItem>();
  o->values_ = std::move(values);
  return o;
}

ObjectRef RequestItem::CreateCookie(const std::string& rawValue) {
  auto o = std::make_shared<RequestItem>();
  o->cookie_ = true;
  o->values_.push_back(PercentDecode(rawValue, true));
  if (rawValue.find('=') != std::string::npos) o->keys_ = ParseUrlEncoded(rawValue);
  return o;
}

std::string RequestItem::Joined() const {
  std::string out;
  for (size_t i = 0; i < values_.size(); ++i) {
    if (i) out += ", ";
    out += values_[i];
  }
  return out;
}

Variant RequestItem::Item(const Variant& index) const {
  if (index.isMissing()) return Variant(Joined());
  Variant key = index.resolved();
  if (key.isNumeric()) {
    if (!keys_.empty()) return Variant(keys_[Position(key, keys_.size())].second);
    return Variant(values_[Position(key, values_.size())]);
  }
  std::string name = TextOf(key);
  for (const auto& [k, v] : keys_)
    if (EqualsNoCase(k, name)) return Variant(v);
  return Variant();
}

const ClassInfo& RequestItem::Class() {
  static const ClassInfo info = ClassInfo::Make<RequestItem>(
      "RequestItem",
      {
          {"Item", MemberKind::Get, {{"index", true}}, [](RequestItem& o, Args& a) { return o.Item(a[0]); },
           kDispIdDefault,
           "The value at a position (from 1), or all values joined when omitted", "String"},
          {"Count", MemberKind::Get, {},
           [](RequestItem& o, Args&) {
             size_t n = o.keys_.empty() ? o.values_.size() : o.keys_.size();
             return Variant(static_cast<int32_t>(n));
           },
           "Number of values", "Long"},
          {"Key", MemberKind::Get, {{"index"}},
           [](RequestItem& o, Args& a) { return Variant(o.keys_[Position(a[0], o.keys_.size())].first); },
           "The sub-key at a position (from 1) of a cookie with keys", "String"},
          {"HasKeys", MemberKind::Get, {}, [](RequestItem& o, Args&) { return Variant(!o.keys_.empty()); },
           "Whether the cookie has sub-keys", "Boolean"},
          {"NewEnum", MemberKind::Get, {},
           [](RequestItem& o, Args&) -> Variant {
             if (o.keys_.empty()) return Variant(NameEnumerator(o.values_));
             std::vector<std::string> names;
             for (const auto& k : o.keys_) names.push_back(k.first);
             return Variant(NameEnumerator(names));
           },
           kDispIdNewEnum,
           "Enumerator over the values", "Enumerator"},
      });
  return info;
}

Pairs ParseCookieHeader(std::string_view header) {
  Pairs out;
  size_t pos = 0;
  while (pos < header.size()) {
    size_t semi = header.find(';', pos);
    std::string_view part = header.substr(pos, semi == std::string_view::npos ? std::string_view::npos : semi - pos);
    pos = semi == std::string_view::npos ? header.size() : semi + 1;
    size_t eq = part.find('=');
    std::string name = Trim(part.substr(0, eq));
    if (name.empty()) continue;
    std::string value = eq == std::string_view::npos ? std::string() : Trim(part.substr(eq + 1));
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    bool seen = false;
    for (const auto& p : out)
      if (EqualsNoCase(p.first, name)) seen = true;
    if (!seen) out.emplace_back(name, value);
  }
  return out;
}

std::string CookieEncode(std::string_view text) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || std::strchr("-_.!~*'()", c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

// ---- response cookies ----------------------------------------------------------------

std::shared_ptr<ResponseCookies> ResponseCookies::Create(std::shared_ptr<Response> response) {
  auto o = std::make_shared<ResponseCookies>();
  o->response_ = std::move(response);
  return o;
}

ObjectRef ResponseCookies::Cookie(const std::string& name) {
  for (const auto& c : cookies_)
    if (static_cast<ResponseCookie&>(*c).name() == name) return c;
  // A cookie name is a token: no separators, controls or blanks.
  if (name.empty()) ThrowPlatform(err::InvalidArgument);
  for (unsigned char c : name)
    if (c <= 32 || c >= 127 || std::strchr("()<>@,;:\\\"/[]?={}", c)) ThrowPlatform(err::InvalidArgument);
  auto cookie = std::make_shared<ResponseCookie>(response_, name);
  cookies_.push_back(cookie);
  return cookie;
}

const ClassInfo& ResponseCookies::Class() {
  static const ClassInfo info = ClassInfo::Make<ResponseCookies>(
      "ResponseCookies",
      {
          {"Item", MemberKind::Get, {{"name"}},
           [](ResponseCookies& o, Args& a) { return Variant(o.Cookie(TextOf(a[0]))); }, kDispIdDefault,
           "The cookie with that name, created on first use", "ResponseCookie"},
          {"Count", MemberKind::Get, {},
           [](ResponseCookies& o, Args&) { return Variant(static_cast<int32_t>(o.cookies_.size())); },
           "Number of cookies", "Long"},
          {"Key", MemberKind::Get, {{"index"}},
           [](ResponseCookies& o, Args& a) {
             return Variant(static_cast<ResponseCookie&>(*o.cookies_[Position(a[0], o.cookies_.size())]).name());
           },
           "The cookie name at a position (from 1)", "String"},
          {"NewEnum", MemberKind::Get, {},
           [](ResponseCookies& o, Args&) {
             std::vector<std::string> names;
             for (const auto& c : o.cookies_) names.push_back(static_cast<ResponseCookie&>(*c).name());
             return Variant(NameEnumerator(names));
           },
           kDispIdNewEnum,
           "Enumerator over the cookie names", "Enumerator"},
      });
  return info;
}

std::string ResponseCookie::Header() const {
  std::string h = name_ + "=";
  if (keys_.empty()) {
    h += CookieEncode(value_);
  } else {
    for (size_t i = 0; i < keys_.size(); ++i) {
      if (i) h += '&';
      h += CookieEncode(keys_[i].first) + "=" + CookieEncode(keys_[i].second);
    }
  }
  if (expires_ != 0) h += "; Expires=" + FormatHttpTime(UnixFromDate(expires_));
  if (!domain_.empty()) h += "; Domain=" + domain_;
  if (!path_.empty()) h += "; Path=" + path_;
  if (secure_) h += "; Secure";
  if (httpOnly_) h += "; HttpOnly";
  if (!sameSite_.empty()) h += "; SameSite=" + sameSite_;
  return h;
}

// An attribute's text may not end the attribute early (";"), nor split the
// header (CR, LF): 5 "Invalid procedure call or argument".
void ResponseCookie::SetAttribute(std::string& field, const Variant& v) {
  std::string text = TextOf(v);
  for (unsigned char c : text)
    if (c == ';' || c < 32 || c == 127) ThrowPlatform(err::InvalidArgument);
  field = text;
  Publish();
}

const ClassInfo& ResponseCookie::Class() {
  using C = ResponseCookie;
  auto attr = [](std::string C::*field) {
    return [field](C& c, Args& a) {
      c.SetAttribute(c.*field, a[0]);
      return Variant();
    };
  };
  auto flag = [](bool C::*field) {
    return [field](C& c, Args& a) {
      c.*field = a[0].resolved().toBool();
      c.Publish();
      return Variant();
    };
  };
  static const ClassInfo info = ClassInfo::Make<C>(
      "ResponseCookie",
      {
          {"Value", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.value_); }, kDispIdDefault,
           "The cookie's value", "String"},
          {"Value", MemberKind::Let, {{"value"}},
           [](C& c, Args& a) {
             c.value_ = TextOf(a[0]);
             c.keys_.clear();
             c.Publish();
             return Variant();
           },
           kDispIdDefault,
           "Sets the cookie's value"},
          {"Item", MemberKind::Get, {{"key"}},
           [](C& c, Args& a) -> Variant {
             std::string k = TextOf(a[0]);
             for (const auto& p : c.keys_)
               if (EqualsNoCase(p.first, k)) return Variant(p.second);
             return Variant();
           },
           "The value of a sub-key", "String"},
          {"SetValue", MemberKind::Method, {{"key"}, {"value"}},
           [](C& c, Args& a) {
             std::string k = TextOf(a[0]), v = TextOf(a[1]);
             if (k.empty()) ThrowPlatform(err::InvalidArgument);
             c.value_.clear();
             bool found = false;
             for (auto& p : c.keys_)
               if (EqualsNoCase(p.first, k)) p.second = v, found = true;
             if (!found) c.keys_.emplace_back(k, v);
             c.Publish();
             return Variant();
           },
           "Sets the value of a sub-key"},
          {"HasKeys", MemberKind::Get, {}, [](C& c, Args&) { return Variant(!c.keys_.empty()); },
           "Whether the cookie has sub-keys", "Boolean"},
          {"Path", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.path_); },
           "The cookie's path", "String"},
          {"Path", MemberKind::Let, {{"value"}}, attr(&C::path_),
           "Sets the cookie's path"},
          {"Domain", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.domain_); },
           "The cookie's domain", "String"},
          {"Domain", MemberKind::Let, {{"value"}}, attr(&C::domain_),
           "Sets the cookie's domain"},
          {"Expires", MemberKind::Get, {},
           [](C& c, Args&) { return c.expires_ != 0 ? Variant::Date(c.expires_) : Variant(); },
           "When the cookie expires; empty for a session cookie", "Date"},
          {"Expires", MemberKind::Let, {{"value"}},
           [](C& c, Args& a) {
             Variant v = a[0].resolved();
             c.expires_ = (v.isEmpty() || v.isNull()) ? 0 : v.toDate();
             c.Publish();
             return Variant();
           },
           "Sets when the cookie expires"},
          {"Secure", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.secure_); },
           "Whether the cookie is sent over HTTPS only", "Boolean"},
          {"Secure", MemberKind::Let, {{"value"}}, flag(&C::secure_),
           "Sets whether the cookie is sent over HTTPS only"},
          {"HttpOnly", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.httpOnly_); },
           "Whether scripts in the browser cannot read the cookie", "Boolean"},
          {"HttpOnly", MemberKind::Let, {{"value"}}, flag(&C::httpOnly_),
           "Sets whether scripts in the browser cannot read the cookie"},
          {"SameSite", MemberKind::Get, {}, [](C& c, Args&) { return Variant(c.sameSite_); },
           "The cookie's SameSite attribute", "String"},
          {"SameSite", MemberKind::Let, {{"value"}},
           [](C& c, Args& a) {
             std::string v = TextOf(a[0]);
             std::string folded = FoldCase(v);
             if (folded == "strict") v = "Strict";
             else if (folded == "lax") v = "Lax";
             else if (folded == "none") v = "None";
             else if (!v.empty()) ThrowPlatform(err::InvalidArgument);
             c.sameSite_ = v;
             c.Publish();
             return Variant();
           },
           "Sets the cookie's SameSite attribute (Strict, Lax or None)"},
      });
  return info;
}

// ---- contents of a store ----------------------------------------------------------------

ObjectRef ContentsCollection::Create(Store store) {
  auto o = std::make_shared<ContentsCollection>();
  o->store_ = std::move(store);
  return o;
}

std::string ContentsCollection::NameOf(const Variant& key) {
  Variant k = key.resolved();
  if (k.isNumeric()) {
    auto names = store_.names();
    return names[Position(k, names.size())];
  }
  return TextOf(k);
}

const ClassInfo& ContentsCollection::Class() {
  using C = ContentsCollection;
  static const ClassInfo info = ClassInfo::Make<C>(
      "Contents",
      {
          {"Item", MemberKind::Get, {{"name"}}, [](C& c, Args& a) { return c.store_.value(c.NameOf(a[0])); },
           kDispIdDefault,
           "The value under a name", "Variant"},
          {"Count", MemberKind::Get, {},
           [](C& c, Args&) { return Variant(static_cast<int32_t>(c.store_.names().size())); },
           "Number of values", "Long"},
          {"Key", MemberKind::Get, {{"index"}},
           [](C& c, Args& a) {
             auto names = c.store_.names();
             return Variant(names[Position(a[0], names.size())]);
           },
           "The name at a position (from 1)", "String"},
          {"Remove", MemberKind::Method, {{"name"}},
           [](C& c, Args& a) {
             c.store_.remove(c.NameOf(a[0]));
             return Variant();
           },
           "Removes the value under a name or at a position"},
          {"RemoveAll", MemberKind::Method, {},
           [](C& c, Args&) {
             c.store_.removeAll();
             return Variant();
           },
           "Removes every value"},
          {"NewEnum", MemberKind::Get, {}, [](C& c, Args&) { return Variant(NameEnumerator(c.store_.names())); },
           kDispIdNewEnum,
           "Enumerator over the names", "Enumerator"},
      });
  return info;
}

// ---- the last error ----------------------------------------------------------------------

const ClassInfo& AspErrorObject::Class() {
  using E = AspErrorObject;
  static const ClassInfo info = ClassInfo::Make<E>(
      "ASPError",
      {
          {"Number", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.number); },
           "The error number", "Long"},
          {"Description", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.description); }, kDispIdDefault,
           "The error's text", "String"},
          {"Source", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.source); },
           "What raised the error", "String"},
          {"File", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.file); },
           "The page the error happened in", "String"},
          {"Line", MemberKind::Get, {}, [](E& e, Args&) { return Variant(static_cast<int32_t>(e.line)); },
           "The line of the page", "Long"},
          {"Column", MemberKind::Get, {}, [](E&, Args&) { return Variant(int32_t{-1}); },
           "The column of the line (-1 when not known)", "Long"},
          {"Category", MemberKind::Get, {}, [](E& e, Args&) { return Variant(e.category); },
           "The kind of error (script, component, host)", "String"},
          {"ASPCode", MemberKind::Get, {}, [](E&, Args&) { return Variant(std::string()); },
           "The host's own error code", "String"},
          {"ASPDescription", MemberKind::Get, {}, [](E&, Args&) { return Variant(std::string()); },
           "The host's own description", "String"},
      });
  return info;
}

}  // namespace torvane::server
