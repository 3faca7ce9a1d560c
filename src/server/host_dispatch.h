// Automation objects over the host interfaces: what a page sees as Request,
// Response, Server and Application. The page engine binds them through their
// member tables like any component object, so `Request.Form("x")`,
// `Response.ContentType = "text/plain"` and `Application("n")` go through the
// same binding rules as `post.FormInputs("f")`. Shared by `serve` and `run`
// (and usable over the tests' in-memory host).
#pragma once

#include <memory>

#include "automation/object.h"
#include "host/host.h"

namespace torvane::server {

class HostServer;

// Request: Item (default: query string, then url-encoded form, then cookies,
// then server variables), QueryString, Form, ServerVariables, Cookies (each a
// collection when read without a name), TotalBytes, BinaryRead.
class RequestObject : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  static ObjectRef Create(std::shared_ptr<Request> request);
  Request& request() { return *request_; }

 private:
  std::shared_ptr<Request> request_;
};

// Request.QueryString / Form / ServerVariables read without a name: Item
// (default; with no argument the whole raw text), Count, Key(i), NewEnum over
// the names.
class RequestCollection : public Object {
 public:
  enum class Kind { QueryString, Form, ServerVariables, Cookies };
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  RequestCollection(std::shared_ptr<Request> request, Kind kind) : request_(std::move(request)), kind_(kind) {}
  static ObjectRef Create(std::shared_ptr<Request> request, Kind kind);

  // By name or position: Empty when absent; a query-string or form name gives
  // a RequestItem (its values), a cookie a RequestItem with its subkeys, a
  // server variable its text.
  Variant Item(const Variant& name);
  std::vector<std::string> Names();

 private:
  std::vector<std::pair<std::string, std::string>> Cookies();
  std::vector<std::string> ServerVariableNames();
  std::shared_ptr<Request> request_;
  Kind kind_ = Kind::QueryString;
};

// Response: Write, BinaryWrite, ContentType, Status, Buffer, CacheControl,
// AddHeader, Flush, Clear, End, Redirect, IsClientConnected, Cookies,
// Charset, Expires, ExpiresAbsolute, AppendToLog.
class ResponseObject : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  static ObjectRef Create(std::shared_ptr<Response> response);
  Response& response() { return *response_; }

 private:
  void SetExpires(double oleDate);
  std::shared_ptr<Response> response_;
  ObjectRef cookies_;          // Response.Cookies, made on first use
  Variant expires_;            // minutes given to Expires (Empty: never set)
  Variant expiresAbsolute_;    // the date given to ExpiresAbsolute
};

// Server: MapPath, CreateObject (calls OnStartPage), HTMLEncode, URLEncode,
// Execute(path), Transfer(path), ScriptTimeout, GetLastError().
class ServerObject : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  static ObjectRef Create(std::shared_ptr<Server> server);

 private:
  // The web host's Server (Execute needs one): -2147467259 on another host.
  HostServer& Host();
  std::shared_ptr<Server> server_;
};

// Application: Value (default, by name), SetValue(name, value), Lock, UnLock,
// Count, NewEnum over the names, Contents (Item, Count, Key, Remove,
// RemoveAll, NewEnum).
class ApplicationObject : public Object {
 public:
  static const ClassInfo& Class();
  const ClassInfo& classInfo() const override { return Class(); }
  static ObjectRef Create(std::shared_ptr<Application> application);

 private:
  std::shared_ptr<Application> application_;
};

// The bytes a page hands to BinaryWrite: a byte array, an array of numbers
// 0..255, or a string (its UTF-8 bytes). 13 for anything else.
Bytes BytesOf(const Variant& v);

}  // namespace torvane::server
