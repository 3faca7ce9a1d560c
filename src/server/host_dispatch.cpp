#include "server/host_dispatch.h"

#include "server/http_response.h"

#include "automation/collection.h"
#include "server/http_request.h"

namespace torvane::server {

namespace {

ObjectRef MakeEnumerator(const std::vector<std::string>& names) {
  std::vector<Variant> items;
  items.reserve(names.size());
  for (const auto& n : names) items.emplace_back(n);
  return std::make_shared<Enumerator>(std::move(items));
}

// The text of an argument; "" for a missing, empty or null one.
std::string TextOf(const Variant& v) {
  if (v.isMissing()) return "";
  Variant r = v.resolved();
  if (r.isEmpty() || r.isNull() || r.isMissing()) return "";
  return r.toString();
}

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
             std::string name = TextOf(a[0]);
             Variant v = o.request_->QueryString(name);
             if (v.isEmpty() && FormIsUrlEncoded(*o.request_)) v = o.request_->Form(name);
             if (v.isEmpty()) v = o.request_->ServerVariables(name);
             return v;
           },
           kDispIdDefault},
          {"QueryString", MemberKind::Get, {{"name", true}}, collection(K::QueryString)},
          {"Form", MemberKind::Get, {{"name", true}}, collection(K::Form)},
          {"ServerVariables", MemberKind::Get, {{"name", true}}, collection(K::ServerVariables)},
          {"TotalBytes", MemberKind::Get, {},
           [](RequestObject& o, Args&) { return Variant(o.request_->TotalBytes()); }},
          {"BinaryRead", MemberKind::Method, {{"count"}},
           [](RequestObject& o, Args& a) { return o.request_->BinaryRead(a[0].toInt64()); }},
      });
  return info;
}

ObjectRef RequestCollection::Create(std::shared_ptr<Request> request, Kind kind) {
  auto o = std::make_shared<RequestCollection>();
  o->request_ = std::move(request);
  o->kind_ = kind;
  return o;
}

Variant RequestCollection::Item(const Variant& name) {
  Request& r = *request_;
  if (name.isMissing()) {
    switch (kind_) {
      case Kind::QueryString: return r.ServerVariables("QUERY_STRING");
      case Kind::Form: {
        if (auto* http = dynamic_cast<HttpRequest*>(&r)) return Variant(http->RawForm());
        std::string raw;
        for (const auto& n : r.FormNames()) {
          if (!raw.empty()) raw += '&';
          raw += n + "=" + TextOf(r.Form(n));
        }
        return Variant(raw);
      }
      case Kind::ServerVariables: return Variant();
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
  switch (kind_) {
    case Kind::QueryString: return r.QueryString(n);
    case Kind::Form: return r.Form(n);
    case Kind::ServerVariables: return r.ServerVariables(n);
  }
  return Variant();
}

std::vector<std::string> RequestCollection::Names() {
  switch (kind_) {
    case Kind::QueryString: return request_->QueryStringNames();
    case Kind::Form: return request_->FormNames();
    case Kind::ServerVariables: return {};
  }
  return {};
}

const ClassInfo& RequestCollection::Class() {
  static const ClassInfo info = ClassInfo::Make<RequestCollection>(
      "RequestCollection",
      {
          {"Item", MemberKind::Get, {{"name", true}}, [](RequestCollection& c, Args& a) { return c.Item(a[0]); },
           kDispIdDefault},
          {"Count", MemberKind::Get, {},
           [](RequestCollection& c, Args&) { return Variant(static_cast<int32_t>(c.Names().size())); }},
          {"Key", MemberKind::Get, {{"index"}},
           [](RequestCollection& c, Args& a) -> Variant {
             auto names = c.Names();
             int32_t i = a[0].toInt32();
             if (i < 1 || static_cast<size_t>(i) > names.size()) ThrowPlatform(err::SubscriptRange);
             return Variant(names[static_cast<size_t>(i) - 1]);
           }},
          {"NewEnum", MemberKind::Get, {}, [](RequestCollection& c, Args&) { return Variant(MakeEnumerator(c.Names())); },
           kDispIdNewEnum},
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
           }},
          {"BinaryWrite", MemberKind::Method, {{"data"}},
           [](ResponseObject& o, Args& a) {
             Bytes b = BytesOf(a[0]);
             o.response_->BinaryWrite(b);
             return Variant();
           }},
          {"ContentType", MemberKind::Get, {}, [](ResponseObject& o, Args&) { return Variant(o.response_->ContentType()); }},
          {"ContentType", MemberKind::Let, {{"value"}},
           [](ResponseObject& o, Args& a) {
             o.response_->SetContentType(TextOf(a[0]));
             return Variant();
           }},
          {"Status", MemberKind::Get, {}, [](ResponseObject& o, Args&) { return Variant(o.response_->Status()); }},
          {"Status", MemberKind::Let, {{"value"}},
           [](ResponseObject& o, Args& a) {
             o.response_->SetStatus(TextOf(a[0]));
             return Variant();
           }},
          {"Buffer", MemberKind::Get, {}, [](ResponseObject& o, Args&) { return Variant(o.response_->Buffer()); }},
          {"Buffer", MemberKind::Let, {{"value"}},
           [](ResponseObject& o, Args& a) {
             o.response_->SetBuffer(a[0].resolved().toBool());
             return Variant();
           }},
          {"CacheControl", MemberKind::Get, {},
           [](ResponseObject& o, Args&) { return Variant(o.response_->CacheControl()); }},
          {"CacheControl", MemberKind::Let, {{"value"}},
           [](ResponseObject& o, Args& a) {
             o.response_->SetCacheControl(TextOf(a[0]));
             return Variant();
           }},
          {"AddHeader", MemberKind::Method, {{"name"}, {"value"}},
           [](ResponseObject& o, Args& a) {
             o.response_->AddHeader(TextOf(a[0]), TextOf(a[1]));
             return Variant();
           }},
          {"Flush", MemberKind::Method, {},
           [](ResponseObject& o, Args&) {
             o.response_->Flush();
             return Variant();
           }},
          {"Clear", MemberKind::Method, {},
           [](ResponseObject& o, Args&) {
             o.response_->Clear();
             return Variant();
           }},
          {"End", MemberKind::Method, {},
           [](ResponseObject& o, Args&) {
             o.response_->End();
             return Variant();
           }},
          {"Redirect", MemberKind::Method, {{"url"}},
           [](ResponseObject& o, Args& a) {
             o.response_->Redirect(TextOf(a[0]));
             return Variant();
           }},
          {"IsClientConnected", MemberKind::Get, {},
           [](ResponseObject& o, Args&) { return Variant(o.response_->IsClientConnected()); }},
          {"AppendToLog", MemberKind::Method, {{"text"}},
           [](ResponseObject& o, Args& a) {
             // Only the web host keeps an access log; elsewhere the text is dropped.
             if (auto* http = dynamic_cast<HttpResponse*>(o.response_.get())) http->AppendToLog(TextOf(a[0]));
             return Variant();
           }},
      });
  return info;
}

// ---- Server -----------------------------------------------------------------------

ObjectRef ServerObject::Create(std::shared_ptr<Server> server) {
  auto o = std::make_shared<ServerObject>();
  o->server_ = std::move(server);
  return o;
}

const ClassInfo& ServerObject::Class() {
  static const ClassInfo info = ClassInfo::Make<ServerObject>(
      "Server",
      {
          {"MapPath", MemberKind::Method, {{"path"}},
           [](ServerObject& o, Args& a) { return Variant(o.server_->MapPath(TextOf(a[0]))); }},
          {"CreateObject", MemberKind::Method, {{"progid"}},
           [](ServerObject& o, Args& a) { return Variant(o.server_->CreateObject(TextOf(a[0]))); }},
          {"HTMLEncode", MemberKind::Method, {{"text", true}},
           [](ServerObject& o, Args& a) { return Variant(o.server_->HTMLEncode(TextOf(a[0]))); }},
          {"URLEncode", MemberKind::Method, {{"text", true}},
           [](ServerObject& o, Args& a) { return Variant(o.server_->URLEncode(TextOf(a[0]))); }},
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
           [](ApplicationObject& o, Args& a) { return o.application_->Value(TextOf(a[0])); }, kDispIdDefault},
          {"Value", MemberKind::Let, {{"name"}, {"value"}}, set, kDispIdDefault},
          {"Value", MemberKind::Set, {{"name"}, {"value"}}, set, kDispIdDefault},
          {"SetValue", MemberKind::Method, {{"name"}, {"value"}}, set},
          {"Lock", MemberKind::Method, {},
           [](ApplicationObject& o, Args&) {
             o.application_->Lock();
             return Variant();
           }},
          {"UnLock", MemberKind::Method, {},
           [](ApplicationObject& o, Args&) {
             o.application_->UnLock();
             return Variant();
           }},
          {"Count", MemberKind::Get, {},
           [](ApplicationObject& o, Args&) {
             return Variant(static_cast<int32_t>(o.application_->Names().size()));
           }},
          {"NewEnum", MemberKind::Get, {},
           [](ApplicationObject& o, Args&) { return Variant(MakeEnumerator(o.application_->Names())); },
           kDispIdNewEnum},
      });
  return info;
}

}  // namespace torvane::server
