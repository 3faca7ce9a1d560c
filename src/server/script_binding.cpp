#include "server/script_binding.h"

#include <cstring>
#include <string>
#include <vector>

#include "server/script_guard.h"
#include "server/script_heap.h"
#include "server/script_values.h"

namespace torvane::server::script {

namespace {

duk_ret_t WrapperTarget(duk_context*) { return 0; }

// The finalizer of a wrapper's target: deletes its ObjectRef holder.
duk_ret_t FinalizeWrapper(duk_context* ctx) {
  auto* holder = HolderAt(ctx, 0);
  if (holder) {
    if (PageState* page = CurrentPage(); page && page->clock) --page->clock->wrappers;
    duk_push_pointer(ctx, nullptr);
    duk_put_prop_string(ctx, 0, kObjKey);
    try {
      delete holder;
    } catch (...) {
    }
  }
  return 0;
}

bool NeedsArguments(const MemberInfo& m) {
  for (const auto& p : m.params)
    if (!p.optional) return true;
  return false;
}

bool IsIndexKey(const char* k, int32_t& out) {
  if (!*k || std::strlen(k) > 9) return false;
  int32_t n = 0;
  for (const char* p = k; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    n = n * 10 + (*p - '0');
  }
  if (k[0] == '0' && k[1]) return false;
  out = n;
  return true;
}

// True for a string key that is no symbol.
bool IsNameKey(duk_context* ctx, duk_idx_t idx) { return duk_is_string(ctx, idx) && !duk_is_symbol(ctx, idx); }

// Pushes the result of a call that may have ended the page; kThrow when it did.
duk_ret_t PushResult(duk_context* ctx, const Variant& v) {
  if (CheckEnded(1) == kThrow) return kThrow;
  PushVariant(ctx, v);
  return 1;
}

// ---- thunks: functions bound to one member of one wrapped object ---------------

duk_ret_t MemberThunkBody(duk_context* ctx);
duk_ret_t ValueThunkBody(duk_context* ctx);

// Pushes a function whose hidden properties name the member it calls.
void PushBoundFunction(duk_context* ctx, duk_c_function fn, duk_idx_t nargs, duk_idx_t target, const char* name) {
  target = duk_normalize_index(ctx, target);
  duk_push_c_function(ctx, fn, nargs);
  duk_dup(ctx, target);
  duk_put_prop_string(ctx, -2, kThunkTarget);
  duk_push_string(ctx, name);
  duk_put_prop_string(ctx, -2, kThunkName);
}

void PushThunk(duk_context* ctx, duk_idx_t target, const char* name, CallKind kind) {
  PushBoundFunction(ctx, Guarded<MemberThunkBody>, DUK_VARARGS, target, name);
  duk_push_int(ctx, static_cast<int>(kind));
  duk_put_prop_string(ctx, -2, kThunkKind);
}

std::string ThunkString(duk_context* ctx, duk_idx_t fn, const char* key) {
  duk_get_prop_string(ctx, fn, key);
  std::string out = duk_get_string(ctx, -1) ? duk_get_string(ctx, -1) : "";
  duk_pop(ctx);
  return out;
}

// A member thunk: calls its member with the arguments given.
duk_ret_t MemberThunkBody(duk_context* ctx) {
  duk_idx_t count = duk_get_top(ctx);
  duk_push_current_function(ctx);
  if (CheckEnded(0) == kThrow) return kThrow;
  duk_idx_t fn = count;
  ObjectRef obj = ThunkTargetAt(ctx, fn);
  std::string name = ThunkString(ctx, fn, kThunkName);
  duk_get_prop_string(ctx, fn, kThunkKind);
  auto kind = static_cast<CallKind>(duk_get_int(ctx, -1));
  duk_pop(ctx);
  std::vector<duk_idx_t> arrays;
  Args args = GetArgs(ctx, 0, count, arrays);
  Variant v = obj->Invoke(name, kind, args);
  if (CheckEnded(0) == kThrow) return kThrow;
  WriteBackArrays(ctx, 0, args, arrays);
  PushVariant(ctx, v);
  return 1;
}

// toString / valueOf of a wrapped object: its default value.
duk_ret_t ValueThunkBody(duk_context* ctx) {
  duk_push_current_function(ctx);
  duk_idx_t fn = duk_get_top_index(ctx);
  bool wantString = ThunkString(ctx, fn, kThunkName) == "toString";
  ObjectRef obj = ThunkTargetAt(ctx, fn);
  if (!obj->classInfo().HasDefault()) {
    std::string text = "[object " + obj->classInfo().name() + "]";
    duk_push_lstring(ctx, text.data(), text.size());
    return 1;
  }
  Variant v = Variant(obj).resolved();
  if (CheckEnded(0) == kThrow) return kThrow;
  if (wantString) {
    std::string text = (v.isEmpty() || v.isNull()) ? std::string() : v.toString();
    duk_push_lstring(ctx, text.data(), text.size());
  } else {
    PushVariant(ctx, v);
  }
  return 1;
}

// ---- properties whose parameters are all optional -----------------------------------
//
// `v.Item` must work read (the value with no arguments) and called
// (`v.Item(2)`). Such a property reads as a Proxy over its getter thunk:
// calling it calls the getter with the arguments given; valueOf and toString
// read it with none, so conversions and loose comparisons see the value; any
// other member (`length`, `indexOf`, `Count`) is the value's own, read with no
// arguments at that moment. Handed to a component or written, it is the value.
// `typeof` says "function" and `===` compares the proxy itself.

// toString of an optional-parameter property: [] -> [String(value)]. Plain C:
// an error thrown by the getter unwinds no C++ frame.
duk_ret_t OptToString(duk_context* ctx) {
  duk_push_current_function(ctx);
  duk_get_prop_string(ctx, -1, kThunkTarget);
  duk_call(ctx, 0);
  if (duk_is_null_or_undefined(ctx, -1)) {
    duk_push_string(ctx, "");
    return 1;
  }
  duk_to_string(ctx, -1);
  return 1;
}

// The get trap: [target thunk, key, receiver] -> [member]. Plain C.
duk_ret_t OptTrapGet(duk_context* ctx) {
  if (IsNameKey(ctx, 1)) {
    const char* key = duk_get_string(ctx, 1);
    if (std::strcmp(key, "valueOf") == 0) {
      duk_dup(ctx, 0);  // called with no arguments, the getter gives the value
      return 1;
    }
    if (std::strcmp(key, "toString") == 0) {
      duk_push_c_function(ctx, OptToString, 0);
      duk_dup(ctx, 0);
      duk_put_prop_string(ctx, -2, kThunkTarget);
      return 1;
    }
  } else if (!duk_is_string(ctx, 1)) {
    duk_push_undefined(ctx);
    return 1;
  }
  duk_dup(ctx, 0);
  duk_call(ctx, 0);
  duk_idx_t value = duk_get_top_index(ctx);
  if (duk_is_null_or_undefined(ctx, value)) {
    duk_push_undefined(ctx);
    return 1;
  }
  duk_dup(ctx, 1);
  duk_get_prop(ctx, value);
  // A method of a plain value ("a, b".split) needs the value as `this`; the
  // members of a wrapped object do not.
  if (duk_is_function(ctx, -1) && !HolderAt(ctx, value)) {
    duk_get_prop_string(ctx, -1, "bind");
    duk_dup(ctx, -2);
    duk_dup(ctx, value);
    duk_call_method(ctx, 1);
  }
  return 1;
}

void PushOptionalProperty(duk_context* ctx, duk_idx_t target, const char* name) {
  PushThunk(ctx, target, name, CallKind::Get);
  duk_push_true(ctx);
  duk_put_prop_string(ctx, -2, kOptKey);
  duk_push_heapptr(ctx, CurrentPage()->optHandler);
  duk_push_proxy(ctx, 0);
}

// ---- the wrapper's traps ---------------------------------------------------------------

// obj.Name where the member table has Name: its value, or a function for a
// method or a property with parameters.
duk_ret_t GetMember(duk_context* ctx, const ObjectRef& obj, const MemberInfo& m, const char* key) {
  if (m.kind == MemberKind::Method || NeedsArguments(m)) {
    PushThunk(ctx, 0, key, m.kind == MemberKind::Method ? CallKind::Method : CallKind::Get);
    return 1;
  }
  if (!m.params.empty()) {
    PushOptionalProperty(ctx, 0, key);
    return 1;
  }
  Args none;
  return PushResult(ctx, obj->Invoke(key, CallKind::Get, none));
}

// A key the member table lacks: toString/valueOf, obj[n], names the engine
// itself asks for (undefined); 438 for anything else.
duk_ret_t GetOther(duk_context* ctx, const ObjectRef& obj, const char* key) {
  if (std::strcmp(key, "toString") == 0 || std::strcmp(key, "valueOf") == 0) {
    PushBoundFunction(ctx, Guarded<ValueThunkBody>, 0, 0, key);
    return 1;
  }
  int32_t position = 0;
  if (IsIndexKey(key, position) && obj->classInfo().HasDefault()) {
    Args a{Variant(position)};
    return PushResult(ctx, obj->InvokeDispId(kDispIdDefault, CallKind::Get, a));
  }
  for (const char* quiet : {"toJSON", "constructor", "prototype", "inspect", "then", "length", "name", "caller",
                            "arguments"}) {
    if (std::strcmp(key, quiet) == 0) {
      duk_push_undefined(ctx);
      return 1;
    }
  }
  ThrowNoSuchMember(*obj);
}

// get: [target, key, receiver] -> [value]
duk_ret_t TrapGetBody(duk_context* ctx) {
  if (duk_is_number(ctx, 1)) duk_to_string(ctx, 1);  // obj[3] may arrive as a number
  if (!IsNameKey(ctx, 1)) {
    duk_push_undefined(ctx);
    return 1;
  }
  if (CheckEnded(0) == kThrow) return kThrow;
  ObjectRef obj = TargetAt(ctx, 0);
  const char* key = duk_get_string(ctx, 1);
  if (const MemberInfo* m = obj->classInfo().Find(key, CallKind::Get)) return GetMember(ctx, obj, *m, key);
  return GetOther(ctx, obj, key);
}

// set: [target, key, value, receiver] -> [true]
duk_ret_t TrapSetBody(duk_context* ctx) {
  if (!IsNameKey(ctx, 1)) {
    duk_push_false(ctx);
    return 1;
  }
  if (CheckEnded(0) == kThrow) return kThrow;
  ObjectRef obj = TargetAt(ctx, 0);
  const char* key = duk_get_string(ctx, 1);
  Args a{GetVariant(ctx, 2, false)};
  obj->Invoke(key, a[0].isObject() ? CallKind::Set : CallKind::Let, a);
  if (CheckEnded(0) == kThrow) return kThrow;
  duk_push_true(ctx);
  return 1;
}

// has: [target, key] -> [whether the member table has the name]
duk_ret_t TrapHasBody(duk_context* ctx) {
  if (!IsNameKey(ctx, 1)) {
    duk_push_false(ctx);
    return 1;
  }
  ObjectRef* holder = HolderAt(ctx, 0);
  duk_push_boolean(ctx, holder && *holder && (*holder)->classInfo().HasName(duk_get_string(ctx, 1)));
  return 1;
}

// apply: [target, this, argArray] -> the default member called with the arguments.
duk_ret_t TrapApplyBody(duk_context* ctx) {
  // Spread the arguments (the engine made the array).
  duk_idx_t first = duk_get_top(ctx);
  duk_idx_t count = static_cast<duk_idx_t>(duk_get_length(ctx, 2));
  for (duk_idx_t i = 0; i < count; ++i) duk_get_prop_index(ctx, 2, static_cast<duk_uarridx_t>(i));
  if (CheckEnded(0) == kThrow) return kThrow;
  ObjectRef obj = TargetAt(ctx, 0);
  std::vector<duk_idx_t> arrays;
  Args args = GetArgs(ctx, first, count, arrays);
  Variant v = obj->InvokeDispId(kDispIdDefault, CallKind::Method, args);
  if (CheckEnded(0) == kThrow) return kThrow;
  WriteBackArrays(ctx, first, args, arrays);
  PushVariant(ctx, v);
  return 1;
}

// The traps of a wrapper's Proxy handler, by name and argument count.
struct Trap {
  const char* name;
  duk_c_function fn;
  duk_idx_t nargs;
};
const Trap kWrapperTraps[] = {
    {"get", Guarded<TrapGetBody>, 3},
    {"set", Guarded<TrapSetBody>, 4},
    {"has", Guarded<TrapHasBody>, 2},
    {"apply", Guarded<TrapApplyBody>, 3},
};

// Pushes a handler object with `traps`; stores it in the stash under `name`.
void* PushHandler(duk_context* ctx, const Trap* traps, size_t count, const char* name) {
  duk_push_object(ctx);
  for (size_t i = 0; i < count; ++i) {
    duk_push_c_function(ctx, traps[i].fn, traps[i].nargs);
    duk_put_prop_string(ctx, -2, traps[i].name);
  }
  void* ptr = duk_get_heapptr(ctx, -1);
  duk_put_prop_string(ctx, -2, name);
  return ptr;
}

}  // namespace

BindingHandlers MakeBindingHandlers(duk_context* ctx) {
  static const Trap kOptTraps[] = {{"get", OptTrapGet, 3}};
  BindingHandlers h;
  duk_push_heap_stash(ctx);
  h.handler = PushHandler(ctx, kWrapperTraps, std::size(kWrapperTraps), "handler");
  h.optHandler = PushHandler(ctx, kOptTraps, std::size(kOptTraps), "optHandler");
  duk_push_c_function(ctx, FinalizeWrapper, 2);
  h.finalizer = duk_get_heapptr(ctx, -1);
  duk_put_prop_string(ctx, -2, "finalizer");
  duk_pop(ctx);
  return h;
}

void PushObject(duk_context* ctx, const ObjectRef& obj) {
  duk_push_c_function(ctx, WrapperTarget, DUK_VARARGS);
  duk_push_pointer(ctx, new ObjectRef(obj));
  duk_put_prop_string(ctx, -2, kObjKey);
  if (CurrentPage()->clock) ++CurrentPage()->clock->wrappers;
  duk_push_heapptr(ctx, CurrentPage()->finalizer);
  duk_set_finalizer(ctx, -2);
  duk_push_heapptr(ctx, CurrentPage()->handler);
  duk_push_proxy(ctx, 0);
}

bool IsOptionalProperty(duk_context* ctx, duk_idx_t idx) {
  if (!duk_is_function(ctx, idx)) return false;
  duk_get_prop_string(ctx, idx, kOptKey);
  bool yes = duk_get_boolean(ctx, -1);
  duk_pop(ctx);
  return yes;
}

}  // namespace torvane::server::script
