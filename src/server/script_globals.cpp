#include "server/script_globals.h"

#include <string>

#include "automation/collection.h"
#include "automation/progid.h"
#include "server/script_binding.h"
#include "server/script_guard.h"
#include "server/script_values.h"
#include "server/shared_builtins.h"

namespace torvane::server::script {

namespace {

// __torvane_write(value): the page's text blocks and <%= %> output.
duk_ret_t WriteBody(duk_context* ctx) {
  PageState* page = CurrentPage();
  if (!page || !page->response) ThrowPlatform(err::ObjectNotSet);
  if (CheckEnded(0) == kThrow) return kThrow;
  switch (duk_get_type(ctx, 0)) {
    case DUK_TYPE_UNDEFINED:
    case DUK_TYPE_NULL:
    case DUK_TYPE_NONE: break;
    case DUK_TYPE_STRING: {
      duk_size_t len = 0;
      const char* s = duk_get_lstring(ctx, 0, &len);
      page->response->Write(std::string_view(s, len));
      break;
    }
    case DUK_TYPE_NUMBER: {
      duk_dup(ctx, 0);
      duk_size_t len = 0;
      const char* s = duk_safe_to_lstring(ctx, -1, &len);
      page->response->Write(std::string_view(s, len));
      duk_pop(ctx);
      break;
    }
    default: {
      Variant v = GetVariant(ctx, 0, false).resolved();
      if (!v.isEmpty() && !v.isNull() && !v.isMissing()) page->response->Write(v.toString());
    }
  }
  return CheckEnded(0);
}

// __torvane_items(collection): the items of a collection (through NewEnum) or an array.
duk_ret_t ItemsBody(duk_context* ctx) {
  if (duk_is_array(ctx, 0)) {
    duk_dup(ctx, 0);
    return 1;
  }
  Variant v = GetVariant(ctx, 0, false);
  if (v.type() == VType::Array) {
    PushVariant(ctx, v);
    return 1;
  }
  if (v.isEmpty() || v.isNull()) {
    duk_push_array(ctx);
    return 1;
  }
  Args none;
  Variant e = v.toObject()->InvokeDispId(kDispIdNewEnum, CallKind::Get, none);
  auto en = std::dynamic_pointer_cast<Enumerator>(e.toObject());
  if (!en) ThrowPlatform(err::NoSuchMember);
  if (CheckEnded(0) == kThrow) return kThrow;
  duk_idx_t arr = duk_push_array(ctx);
  Variant item;
  duk_uarridx_t i = 0;
  while (en->Next(item)) {
    PushVariant(ctx, item);
    duk_put_prop_index(ctx, arr, i++);
  }
  return 1;
}

// new ActiveXObject(progid): a component object, without OnStartPage.
duk_ret_t ActiveXObjectBody(duk_context* ctx) {
  Variant id = GetVariant(ctx, 0, false).resolved();
  PushObject(ctx, CreateObject(id.isEmpty() ? std::string() : id.toString()));
  return 1;
}

// The host functions, shared by every page of a heap.
struct HostFunction {
  const char* name;
  duk_c_function fn;
  duk_idx_t nargs;
};
const HostFunction kHostFunctions[] = {
    {"__torvane_write", Guarded<WriteBody>, 1},
    {"__torvane_items", Guarded<ItemsBody>, 1},
    {"ActiveXObject", Guarded<ActiveXObjectBody>, 1},
};

// The page objects, by global name (a page without one gets no global).
struct PageObject {
  const char* name;
  ObjectRef PageGlobals::*object;
};
const PageObject kPageObjects[] = {
    {"Request", &PageGlobals::request},
    {"Response", &PageGlobals::response},
    {"Server", &PageGlobals::server},
    {"Application", &PageGlobals::application},
    {"Session", &PageGlobals::session},
};

const char* const kPrelude = R"JS(
function Enumerator(c) {
  if (!(this instanceof Enumerator)) return new Enumerator(c);
  this._items = __torvane_items(c);
  this._pos = 0;
}
Enumerator.prototype.atEnd = function () { return this._pos >= this._items.length; };
Enumerator.prototype.moveNext = function () { if (this._pos < this._items.length) this._pos++; };
Enumerator.prototype.moveFirst = function () { this._pos = 0; };
Enumerator.prototype.item = function () { return this._pos < this._items.length ? this._items[this._pos] : undefined; };
)JS";

// [] -> []: the shared globals on the heap's global object. Plain C, run protected.
duk_ret_t SafeBuildTemplate(duk_context* ctx, void*) {
  duk_push_global_object(ctx);
  for (const auto& f : kHostFunctions) {
    duk_push_c_function(ctx, f.fn, f.nargs);
    duk_put_prop_string(ctx, -2, f.name);
  }
  for (const auto& c : ConstantTable()) {
    duk_push_int(ctx, c.value);
    duk_put_prop_string(ctx, -2, c.name);
  }
  duk_pop(ctx);
  duk_push_string(ctx, "prelude");
  duk_compile_string_filename(ctx, 0, kPrelude);
  duk_call(ctx, 0);
  duk_pop(ctx);
  return 0;
}

// [ PageGlobals pointer ] -> [ ]: the page's own global object, inheriting
// from the template, with the page objects on it; becomes the thread's global.
duk_ret_t InstallBody(duk_context* ctx) {
  const PageGlobals& g = *static_cast<const PageGlobals*>(duk_get_pointer(ctx, 0));
  duk_push_object(ctx);
  duk_push_global_object(ctx);
  duk_set_prototype(ctx, -2);
  for (const auto& o : kPageObjects) {
    const ObjectRef& obj = g.*o.object;
    if (!obj) continue;
    PushObject(ctx, obj);
    duk_put_prop_string(ctx, -2, o.name);
  }
  duk_set_global_object(ctx);
  return 0;
}

}  // namespace

PageGlobalsTemplate::PageGlobalsTemplate(duk_context* heap) {
  ready_ = duk_safe_call(heap, SafeBuildTemplate, nullptr, 0, 1) == DUK_EXEC_SUCCESS;
  duk_pop(heap);
}

bool PageGlobalsTemplate::Install(duk_context* ctx, const PageGlobals& g) const {
  if (!ready_) return false;
  // Guarded: making the wrappers allocates C++ objects, whose failure must
  // not unwind through Duktape.
  duk_push_c_function(ctx, Guarded<InstallBody>, 1);
  duk_push_pointer(ctx, const_cast<PageGlobals*>(&g));
  bool ok = duk_pcall(ctx, 1) == DUK_EXEC_SUCCESS;
  duk_pop(ctx);
  return ok;
}

void PageGlobalsTemplate::Clear(duk_context* page) {
  duk_push_global_object(page);
  torvane_clear_object(page, -1);
  duk_pop(page);
}

}  // namespace torvane::server::script
