// The smaller objects behind the page objects: one item of a Request
// collection, the cookies of the request and of the response, the contents of
// Application (and Session) and the error a custom error page reports.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "automation/object.h"
#include "host/host.h"

namespace torvane::server {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// One item of Request.QueryString / Form / ServerVariables / Cookies: its
// values (a name given twice has two) and, for a cookie "c=k1=v1&k2=v2", its
// subkeys. Item (default): without an argument all values joined by ", " (a
// cookie's whole text); a number is a value's position from 1, a name a
// subkey (Empty when absent). Count (values, or subkeys of a cookie that has
// them), Key(i) (a subkey's name), HasKeys, NewEnum (the values, or the
// subkey names).
class RequestItem : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  static ObjectRef Create(std::vector<std::string> values);
  static ObjectRef CreateCookie(const std::string& rawValue);

  std::string Joined() const;
  Variant Item(const Variant& index) const;

 private:
  std::vector<std::string> values_;
  Pairs keys_;
  bool cookie_ = false;
};

// The cookies of a request: name -> raw (still encoded) value, from the
// Cookie header ("a=1; b=k1=v1&k2=v2"); the first of a repeated name wins.
Pairs ParseCookieHeader(std::string_view header);

// A cookie's text: %XX for everything but letters, digits and "-_.!~*'()".
std::string CookieEncode(std::string_view text);

// The response's cookies (Response.Cookies): Item(name) (default) gives the
// cookie of that name, made on first use; Count, Key(i), NewEnum over names.
class ResponseCookies : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  static std::shared_ptr<ResponseCookies> Create(std::shared_ptr<Response> response);
  ObjectRef Cookie(const std::string& name);

 private:
  std::shared_ptr<Response> response_;
  std::vector<ObjectRef> cookies_;
};

// One cookie of the response. Value (default) and subkeys (Item(key) to
// read, SetValue(key, value) to write; setting Value drops the subkeys and
// a subkey drops the plain value), Path ("/" unless set), Domain, Expires (a
// date; none: a session cookie), Secure, HttpOnly, SameSite ("Strict", "Lax",
// "None" or ""), HasKeys. Every change rewrites its Set-Cookie header.
class ResponseCookie : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  ResponseCookie(std::shared_ptr<Response> response, std::string name)
      : response_(std::move(response)), name_(std::move(name)) {}
  const std::string& name() const { return name_; }
  // The Set-Cookie header value of the cookie as it stands.
  std::string Header() const;

 private:
  void Publish() { response_->SetCookie(name_, Header()); }
  void SetAttribute(std::string& field, const Variant& v);

  std::shared_ptr<Response> response_;
  std::string name_;
  std::string value_;
  Pairs keys_;
  std::string path_ = "/";
  std::string domain_;
  std::string sameSite_;
  double expires_ = 0;  // a date; 0: none
  bool secure_ = false;
  bool httpOnly_ = false;
};

// The values of a store seen as a collection (Application.Contents,
// Session.Contents): Item(name | position) (default), Count, Key(i),
// Remove(name | position), RemoveAll(), NewEnum over the names.
class ContentsCollection : public Object {
 public:
  struct Store {
    std::function<Variant(std::string_view)> value;
    std::function<std::vector<std::string>()> names;
    std::function<void(std::string_view)> remove;
    std::function<void()> removeAll;
  };
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  static ObjectRef Create(Store store);

 private:
  std::string NameOf(const Variant& key);
  Store store_;
};

// The text of a member's argument; "" for a missing, empty or null one.
std::string TextOf(const Variant& v);
// An Enumerator over `names` (what `new Enumerator(c)` walks for the page
// collections).
ObjectRef NameEnumerator(const std::vector<std::string>& names);

// Server.GetLastError(): Number, Description, Source, File, Line, Column
// (-1), Category, ASPCode (""), ASPDescription ("").
class AspErrorObject : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  int32_t number = 0;
  std::string description, source, file, category;
  int line = 0;
};

}  // namespace torvane::server
