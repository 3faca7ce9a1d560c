#include "server/host_dispatch.h"

#include <ctime>

#include "automation/collection.h"
#include "basics/http_date.h"
#include "server/host_server.h"
#include "server/http_request.h"
#include "server/http_response.h"
#include "server/page_collections.h"
#include "server/script_engine.h"

namespace torvane::server {

namespace {

bool FormIsUrlEncoded(Request& r) {
  Variant ct = r.ServerVariables("CONTENT_TYPE");
  if (!ct.isString()) return false;
  std::string lower = FoldCase(ct.str());
  return lower.rfind("application/x-www-form-urlencoded", 0) == 0;
}

}  // namespace

Bytes BytesOf(const Variant& v) {
  Variant r = v.resolved();
  switch (r.type()) {
    case VType::Bytes: return r.bytes();
    case VType::String: return Bytes(r.str().begin(), r.str().end());
    case VType::Array: {
      Bytes out;
      out.reserve(r.array().items.size());
      for (const auto& item : r.array().items) {
        int32_t n = item.toInt32();
        if (n < 0 || n > 255) ThrowPlatform(err::Overflow);
        out.push_back(static_cast<uint8_t>(n));
      }
      return out;
    }
    default: ThrowPlatform(err::TypeMismatch);
  }
}

// ---- Request ----------------------------------------------------------------------

ObjectRef RequestObject::Create(std::shared_ptr<Request> request) {
  auto o = std::make_shared<RequestObject>();
  o->request_ = std::move(request);
  return o;
}

// Member table: Item is the default (Request("x")); the three collections take
// an optional name (a collection object without one).
const ClassInfo& RequestObject::Class() {
  using K = RequestCollection::Kind;
  auto collection = [](K kind) {
    return [kind](RequestObject& o, Args& a) -> Variant {
      auto c = std::static_pointer_cast<RequestCollection>(RequestCollection::Create(o.request_, kind));
      if (a[0].isMissing()) return Variant(ObjectRef(c));
      return c->Item(a[0]);
    };
  };
  static const ClassInfo info = ClassInfo::Make<RequestObject>(
      "Request",
      {
          {"Item", MemberKind::Get, {{"name"}},
           [](RequestObject& o, Args& a) -> Variant {
             Variant name(TextOf(a[0]));
             std::vector<K> order{K::QueryString, K::Cookies, K::ServerVariables};
             if (FormIsUrlEncoded(*o.request_)) order.insert(order.begin() + 1, K::Form);
             for (K kind : order) {
               Variant v = RequestCollection(o.request_, kind).Item(name);
               if (!v.isEmpty()) return v;
             }
             return Variant();
           },
           kDispIdDefault,
           "The named value from the query string, form, cookies or server variables", "RequestItem"},
          {"QueryString", MemberKind::Get, {{"name", true}}, collection(K::QueryString),
           "The query-string values", "RequestCollection"},
          {"Form", MemberKind::Get, {{"name", true}}, collection(K::Form),
           "The url-encoded form values of the body", "RequestCollection"},
          {"ServerVariables", MemberKind::Get, {{"name", true}}, collection(K::ServerVariables),
           "The request's server variables (headers, address, method)", "RequestCollection"},
          {"TotalBytes", MemberKind::Get, {},
           [](RequestObject& o, Args&) { return Variant(o.request_->TotalBytes()); },
           "Length of the request body in bytes", "Long"},
          {"BinaryRead", MemberKind::Method, {{"count"}},
           [](RequestObject& o, Args& a) { return o.request_->BinaryRead(a[0].toInt64()); },
           "Reads up to count bytes of the request body", "Variant"},
          {"Cookies", MemberKind::Get, {{"name", true}}, collection(K::Cookies),
           "The request's cookies", "RequestCollection"},
      });
  return info;
}

ObjectRef RequestCollection::Create(std::shared_ptr<Request> request, Kind kind) {
  return std::make_shared<RequestCollection>(std::move(request), kind);
}

Pairs RequestCollection::Cookies() {
  return ParseCookieHeader(TextOf(request_->ServerVariables("HTTP_COOKIE")));
}

Variant RequestCollection::Item(const Variant& name) {
  Request& r = *request_;
  if (name.isMissing()) {
    switch (kind_) {
      case Kind::QueryString: return r.ServerVariables("QUERY_STRING");
      case Kind::Form: return Variant(r.RawForm());
      case Kind::ServerVariables: return Variant();
      case Kind::Cookies: return request_->ServerVariables("HTTP_COOKIE");
    }
  }
  Variant key = name.resolved();
  std::vector<std::string> names;
  if (key.isNumeric()) {
    // A position (1-based) among the names.
    names = Names();
    int32_t i = key.toInt32();
    if (i < 1 || static_cast<size_t>(i) > names.size()) ThrowPlatform(err::SubscriptRange);
    key = Variant(names[static_cast<size_t>(i) - 1]);
  }
  std::string n = key.toString();
  std::vector<std::string> values;
  switch (kind_) {
    case Kind::QueryString: values = r.QueryStringValues(n); break;
    case Kind::Form: values = r.FormValues(n); break;
    case Kind::ServerVariables: return r.ServerVariables(n);
    case Kind::Cookies:
      for (const auto& [k, v] : Cookies())
        if (EqualsNoCase(k, n)) return Variant(RequestItem::CreateCookie(v));
      return Variant();
  }
  if (values.empty()) return Variant();
  return Variant(RequestItem::Create(std::move(values)));
}

std::vector<std::string> RequestCollection::Names() {
  switch (kind_) {
    case Kind::QueryString: return request_->QueryStringNames();
    case Kind::Form: return request_->FormNames();
    case Kind::ServerVariables: return ServerVariableNames();
    case Kind::Cookies: {
      std::vector<std::string> names;
      for (const auto& c : Cookies()) names.push_back(c.first);
      return names;
    }
  }
  return {};
}

// The fixed CGI names, then HTTP_<NAME> of every request header (from ALL_HTTP).
std::vector<std::string> RequestCollection::ServerVariableNames() {
  std::vector<std::string> names{"REQUEST_METHOD", "QUERY_STRING", "PATH_INFO",       "SCRIPT_NAME",  "URL",
                                 "PATH_TRANSLATED", "CONTENT_TYPE", "CONTENT_LENGTH", "REMOTE_ADDR",  "REMOTE_PORT",
                                 "SERVER_NAME",     "SERVER_PORT",  "SERVER_PROTOCOL", "HTTPS",       "ALL_HTTP",
                                 "ALL_RAW"};
  std::string all = TextOf(request_->ServerVariables("ALL_HTTP"));
  size_t pos = 0;
  while (pos < all.size()) {
    size_t end = all.find("\r\n", pos);
    std::string line = all.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
    pos = end == std::string::npos ? all.size() : end + 2;
    size_t colon = line.find(':');
    if (colon != std::string::npos && colon > 0) names.push_back(line.substr(0, colon));
  }
  return names;
}

const ClassInfo& RequestCollection::Class() {
  static const ClassInfo info = ClassInfo::Make<RequestCollection>(
      "RequestCollection",
      {
          {"Item", MemberKind::Get, {{"name", true}}, [](RequestCollection& c, Args& a) { return c.Item(a[0]); },
           kDispIdDefault,
           "The values under a name, or the whole text when omitted", "RequestItem"},
          {"Count", MemberKind::Get, {},
           [](RequestCollection& c, Args&) { return Variant(static_cast<int32_t>(c.Names().size())); },
           "Number of names", "Long"},
          {"Key", MemberKind::Get, {{"index"}},
           [](RequestCollection& c, Args& a) -> Variant {
             auto names = c.Names();
             int32_t i = a[0].toInt32();
             if (i < 1 || static_cast<size_t>(i) > names.size()) ThrowPlatform(err::SubscriptRange);
             return Variant(names[static_cast<size_t>(i) - 1]);
           },
           "The name at a position (from 1)", "String"},
          {"NewEnum", MemberKind::Get, {}, [](RequestCollection& c, Args&) { return Variant(NameEnumerator(c.Names())); },
           kDispIdNewEnum,
           "Enumerator over the names", "Enumerator"},
      });
  return info;
}

// ---- Response ---------------------------------------------------------------------

ObjectRef ResponseObject::Create(std::shared_ptr<Response> response) {
  auto o = std::make_shared<ResponseObject>();
  o->response_ = std::move(response);
  return o;
}

// Member table: properties as get/let pairs, then the methods.
const ClassInfo& ResponseObject::Class() {
  static const ClassInfo info = ClassInfo::Make<ResponseObject>(
      "Response",
      {
          // undefined (missing) writes nothing: Response.Write(Request.Form("absent")).
          {"Write", MemberKind::Method, {{"text", true}},
           [](ResponseObject& o, Args& a) {
             o.response_->Write(TextOf(a[0]));
             return Variant();
           },
           "Writes text to the response"},
          {"BinaryWrite", MemberKind::Method, {{"data"}},
           [](ResponseObject& o, Args& a) {
             Bytes b = BytesOf(a[0]);
             o.response_->BinaryWrite(b);
             return Variant();
           },
           "Writes bytes to the response"},
          {"ContentType", MemberKind::Get, {}, [](ResponseObject& o, Args&) { return Variant(o.response_->ContentType()); },
           "The response's content type", "String"},
          {"ContentType", MemberKind::Let, {{"value"}},
           [](ResponseObject& o, Args& a) {
             o.response_->SetContentType(TextOf(a[0]));
             return Variant();
           },
           "Sets the response's content type"},
          {"Status", MemberKind::Get, {}, [](ResponseObject& o, Args&) { return Variant(o.response_->Status()); },
           "The status line (\"200 OK\")", "String"},
          {"Status", MemberKind::Let, {{"value"}},
           [](ResponseObject& o, Args& a) {
             o.response_->SetStatus(TextOf(a[0]));
             return Variant();
           },
           "Sets the status line (\"404 Not Found\")"},
          {"Buffer", MemberKind::Get, {}, [](ResponseObject& o, Args&) { return Variant(o.response_->Buffer()); },
           "Whether output is held until the page ends or Flush", "Boolean"},
          {"Buffer", MemberKind::Let, {{"value"}},
           [](ResponseObject& o, Args& a) {
             o.response_->SetBuffer(a[0].resolved().toBool());
             return Variant();
           },
           "Sets whether output is held until the page ends or Flush"},
          {"CacheControl", MemberKind::Get, {},
           [](ResponseObject& o, Args&) { return Variant(o.response_->CacheControl()); },
           "The Cache-Control header value", "String"},
          {"CacheControl", MemberKind::Let, {{"value"}},
           [](ResponseObject& o, Args& a) {
             o.response_->SetCacheControl(TextOf(a[0]));
             return Variant();
           },
           "Sets the Cache-Control header value"},
          {"AddHeader", MemberKind::Method, {{"name"}, {"value"}},
           [](ResponseObject& o, Args& a) {
             o.response_->AddHeader(TextOf(a[0]), TextOf(a[1]));
             return Variant();
           },
           "Adds a response header"},
          {"Flush", MemberKind::Method, {},
           [](ResponseObject& o, Args&) {
             o.response_->Flush();
             return Variant();
           },
           "Sends the buffered output now"},
          {"Clear", MemberKind::Method, {},
           [](ResponseObject& o, Args&) {
             o.response_->Clear();
             return Variant();
           },
           "Drops the buffered output"},
          {"End", MemberKind::Method, {},
           [](ResponseObject& o, Args&) {
             o.response_->End();
             return Variant();
           },
           "Stops the page and sends what was written"},
          {"Redirect", MemberKind::Method, {{"url"}},
           [](ResponseObject& o, Args& a) {
             o.response_->Redirect(TextOf(a[0]));
             return Variant();
           },
           "Answers with a redirect to the URL and stops the page"},
          {"IsClientConnected", MemberKind::Get, {},
           [](ResponseObject& o, Args&) { return Variant(o.response_->IsClientConnected()); },
           "Whether the client is still connected", "Boolean"},
          {"Cookies", MemberKind::Get, {{"name", true}},
           [](ResponseObject& o, Args& a) -> Variant {
             if (!o.cookies_) o.cookies_ = ResponseCookies::Create(o.response_);
             if (a[0].isMissing()) return Variant(o.cookies_);
             return Variant(std::static_pointer_cast<ResponseCookies>(o.cookies_)->Cookie(TextOf(a[0])));
           },
           "The cookies the response sets", "ResponseCookies"},
          {"Charset", MemberKind::Get, {}, [](ResponseObject& o, Args&) { return Variant(o.response_->Charset()); },
           "The charset added to the content type", "String"},
          {"Charset", MemberKind::Let, {{"value"}},
           [](ResponseObject& o, Args& a) {
             o.response_->SetCharset(TextOf(a[0]));
             return Variant();
           },
           "Sets the charset added to the content type"},
          {"Expires", MemberKind::Get, {}, [](ResponseObject& o, Args&) { return o.expires_; },
           "Minutes until the response expires from caches", "Long"},
          {"Expires", MemberKind::Let, {{"minutes"}},
           [](ResponseObject& o, Args& a) {
             int32_t minutes = a[0].resolved().toInt32();
             o.expires_ = Variant(minutes);
             o.SetExpires(DateFromUnix(static_cast<int64_t>(::time(nullptr)) + int64_t{minutes} * 60));
             return Variant();
           },
           "Sets the minutes until the response expires from caches"},
          {"ExpiresAbsolute", MemberKind::Get, {}, [](ResponseObject& o, Args&) { return o.expiresAbsolute_; },
           "The time the response expires from caches", "Date"},
          {"ExpiresAbsolute", MemberKind::Let, {{"date"}},
           [](ResponseObject& o, Args& a) {
             double d = a[0].resolved().toDate();
             o.expiresAbsolute_ = Variant::Date(d);
             o.SetExpires(d);
             return Variant();
           },
           "Sets the time the response expires from caches"},
          {"AppendToLog", MemberKind::Method, {{"text"}},
           [](ResponseObject& o, Args& a) {
             o.response_->AppendToLog(TextOf(a[0]));
             return Variant();
           },
           "Adds text to this request's access-log line"},
      });
  return info;
}

// The Expires header at `oleDate`: Expires and ExpiresAbsolute rewrite the
// one header, so whichever the page set last wins.
void ResponseObject::SetExpires(double oleDate) { response_->SetHeader("Expires", FormatHttpTime(UnixFromDate(oleDate))); }

// ---- Server -----------------------------------------------------------------------

ObjectRef ServerObject::Create(std::shared_ptr<Server> server) {
  auto o = std::make_shared<ServerObject>();
  o->server_ = std::move(server);
  return o;
}

HostServer& ServerObject::Host() {
  auto* host = dynamic_cast<HostServer*>(server_.get());
  if (!host) throw Error(-2147467259, "Server.Execute: this host cannot run pages.", "Server object");
  return *host;
}

const ClassInfo& ServerObject::Class() {
  static const ClassInfo info = ClassInfo::Make<ServerObject>(
      "Server",
      {
          {"MapPath", MemberKind::Method, {{"path"}},
           [](ServerObject& o, Args& a) { return Variant(o.server_->MapPath(TextOf(a[0]))); },
           "The file-system path of a site path", "String"},
          {"CreateObject", MemberKind::Method, {{"progid"}},
           [](ServerObject& o, Args& a) { return Variant(o.server_->CreateObject(TextOf(a[0]))); },
           "Creates a component by ProgID and calls its OnStartPage", "Object"},
          {"HTMLEncode", MemberKind::Method, {{"text", true}},
           [](ServerObject& o, Args& a) { return Variant(o.server_->HTMLEncode(TextOf(a[0]))); },
           "The text with HTML's special characters escaped", "String"},
          {"URLEncode", MemberKind::Method, {{"text", true}},
           [](ServerObject& o, Args& a) { return Variant(o.server_->URLEncode(TextOf(a[0]))); },
           "The text encoded for a URL query", "String"},
          {"Execute", MemberKind::Method, {{"path"}},
           [](ServerObject& o, Args& a) {
             o.Host().Execute(TextOf(a[0]));
             return Variant();
           },
           "Runs another page of the site in place, then continues"},
          {"Transfer", MemberKind::Method, {{"path"}},
           [](ServerObject& o, Args& a) {
             o.Host().Execute(TextOf(a[0]));
             // The caller's remaining code does not run.
             if (auto ctx = GetObjectContext(); ctx && ctx->response) ctx->response->End();
             return Variant();
           },
           "Runs another page of the site instead of the rest of this one"},
          {"ScriptTimeout", MemberKind::Get, {},
           [](ServerObject&, Args&) {
             double t = PageScriptTimeout();
             return Variant(static_cast<int32_t>(t < 0 ? 0 : t));
           },
           "Seconds a page may run", "Long"},
          {"ScriptTimeout", MemberKind::Let, {{"seconds"}},
           [](ServerObject&, Args& a) {
             int32_t t = a[0].resolved().toInt32();
             if (t < 0) ThrowPlatform(err::InvalidArgument);
             SetPageScriptTimeout(t);
             return Variant();
           },
           "Sets the seconds a page may run"},
          {"GetLastError", MemberKind::Method, {},
           [](ServerObject& o, Args&) {
             auto e = std::make_shared<AspErrorObject>();
             if (auto* host = dynamic_cast<HostServer*>(o.server_.get())) {
               const auto& last = host->GetLastError();
               e->number = last.number;
               e->description = last.description;
               e->source = last.source;
               e->file = last.file;
               e->line = last.line;
               e->category = last.category;
             }
             return Variant(ObjectRef(e));
           },
           "The last page error", "ASPError"},
      });
  return info;
}

// ---- Application -----------------------------------------------------------------

ObjectRef ApplicationObject::Create(std::shared_ptr<Application> application) {
  auto o = std::make_shared<ApplicationObject>();
  o->application_ = std::move(application);
  return o;
}

// Member table: Value is the default (Application("n")); its let/set take the
// name and the new value, which pages write as SetValue(name, value).
const ClassInfo& ApplicationObject::Class() {
  auto set = [](ApplicationObject& o, Args& a) {
    o.application_->SetValue(TextOf(a[0]), a[1].isMissing() ? Variant() : a[1]);
    return Variant();
  };
  static const ClassInfo info = ClassInfo::Make<ApplicationObject>(
      "Application",
      {
          {"Value", MemberKind::Get, {{"name"}},
           [](ApplicationObject& o, Args& a) { return o.application_->Value(TextOf(a[0])); }, kDispIdDefault,
           "The application value stored under a name", "Variant"},
          {"Value", MemberKind::Let, {{"name"}, {"value"}}, set, kDispIdDefault,
           "Stores a value for every page under a name"},
          {"Value", MemberKind::Set, {{"name"}, {"value"}}, set, kDispIdDefault,
           "Stores an object reference for every page under a name"},
          {"SetValue", MemberKind::Method, {{"name"}, {"value"}}, set,
           "Stores a value for every page under a name"},
          {"Lock", MemberKind::Method, {},
           [](ApplicationObject& o, Args&) {
             o.application_->Lock();
             return Variant();
           },
           "Keeps other pages from changing application values until UnLock"},
          {"UnLock", MemberKind::Method, {},
           [](ApplicationObject& o, Args&) {
             o.application_->UnLock();
             return Variant();
           },
           "Lets other pages change application values again"},
          {"Count", MemberKind::Get, {},
           [](ApplicationObject& o, Args&) {
             return Variant(static_cast<int32_t>(o.application_->Names().size()));
           },
           "Number of stored values", "Long"},
          {"NewEnum", MemberKind::Get, {},
           [](ApplicationObject& o, Args&) { return Variant(NameEnumerator(o.application_->Names())); },
           kDispIdNewEnum,
           "Enumerator over the value names", "Enumerator"},
          {"Contents", MemberKind::Get, {},
           [](ApplicationObject& o, Args&) {
             std::shared_ptr<Application> app = o.application_;
             return Variant(ContentsCollection::Create(
                 {[app](std::string_view n) { return app->Value(n); }, [app] { return app->Names(); },
                  [app](std::string_view n) { app->Remove(n); }, [app] { app->RemoveAll(); }}));
           },
           "The stored values as a collection", "Contents"},
      });
  return info;
}

}  // namespace torvane::server
