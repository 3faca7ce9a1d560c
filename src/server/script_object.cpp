#include "server/script_object.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <string>

#include "server/script_guard.h"
#include "server/script_values.h"

namespace torvane::server::script {

namespace {

// ---- protected helpers (run under duk_safe_call, plain C only) ----------------

// [value] -> [Object.prototype.toString.call(value)]
duk_ret_t SafeClassTag(duk_context* ctx, void*) {
  duk_get_global_string(ctx, "Object");
  duk_get_prop_string(ctx, -1, "prototype");
  duk_get_prop_string(ctx, -1, "toString");
  duk_dup(ctx, -4);
  duk_call_method(ctx, 0);
  return 1;
}

// [obj] -> []: the page's global object keeps obj alive (one entry per object).
duk_ret_t SafeKeep(duk_context* ctx, void*) {
  char key[40];
  std::snprintf(key, sizeof key, "%p", duk_get_heapptr(ctx, -1));
  duk_push_global_object(ctx);
  if (!duk_get_prop_string(ctx, -1, kKeepKey)) {
    duk_pop(ctx);
    duk_push_bare_object(ctx);
    duk_dup_top(ctx);
    duk_put_prop_string(ctx, -3, kKeepKey);
  }
  duk_dup(ctx, -3);
  duk_put_prop_string(ctx, -2, key);
  return 0;
}

// [obj, key] -> [obj has key]
duk_ret_t SafeHas(duk_context* ctx, void*) {
  duk_push_boolean(ctx, duk_has_prop(ctx, -2));
  return 1;
}

// [obj] -> [array of every property name, own and inherited, enumerable or not]
duk_ret_t SafeKeys(duk_context* ctx, void*) {
  duk_idx_t arr = duk_push_array(ctx);
  duk_enum(ctx, -2, DUK_ENUM_INCLUDE_NONENUMERABLE);
  duk_uarridx_t i = 0;
  while (duk_next(ctx, -1, 0)) {
    if (duk_is_string(ctx, -1) && !duk_is_symbol(ctx, -1)) duk_put_prop_index(ctx, arr, i++);
    else duk_pop(ctx);
  }
  duk_pop(ctx);
  return 1;
}

// [obj, key] -> [obj[key]]
duk_ret_t SafeGetProp(duk_context* ctx, void*) {
  duk_get_prop(ctx, -2);
  return 1;
}

// [obj, key, value] -> []
duk_ret_t SafePutProp(duk_context* ctx, void*) {
  duk_put_prop(ctx, -3);
  return 0;
}

// [value] -> [String(value)]
duk_ret_t SafeToString(duk_context* ctx, void*) {
  duk_to_string(ctx, -1);
  return 1;
}

// Runs `fn` protected over the top `nargs` values with one result slot, so
// that a failure leaves its error there; throws it as an automation error.
void SafeCall(duk_context* ctx, duk_safe_call_function fn, duk_idx_t nargs) {
  if (duk_safe_call(ctx, fn, nullptr, nargs, 1) != DUK_EXEC_SUCCESS) throw ScriptError(ctx, -1);
}

class ScriptObject final : public Object {
 public:
  ScriptObject(duk_context* ctx, void* ptr, uint64_t page) : ctx_(ctx), ptr_(ptr), page_(page) {}

  const ClassInfo& classInfo() const override {
    static const ClassInfo info("Object", {});
    return info;
  }

  // True while the page that made this object runs on the calling thread.
  bool Live() const { return CurrentPage() && CurrentPage()->serial == page_; }
  void* HeapPtr() const { return ptr_; }

  Variant Invoke(std::string_view name, CallKind kind, Args& args) override {
    duk_context* ctx = Context();
    StackGuard guard(ctx);
    if (!duk_check_stack(ctx, static_cast<duk_idx_t>(args.size()) + 8)) ThrowPlatform(err::OutOfMemory);
    duk_push_heapptr(ctx, ptr_);
    duk_idx_t obj = duk_get_top_index(ctx);
    std::string key = Resolve(ctx, obj, name);
    if (kind == CallKind::Let || kind == CallKind::Set) return Assign(ctx, obj, key.empty() ? name : key, args);
    if (key.empty()) ThrowPlatform(err::NoSuchMember);
    duk_dup(ctx, obj);
    duk_push_lstring(ctx, key.data(), key.size());
    SafeCall(ctx, SafeGetProp, 2);
    if (!duk_is_function(ctx, -1)) {
      if (!args.empty()) ThrowPlatform(err::WrongArgCount);
      return GetVariant(ctx, -1, false);
    }
    duk_dup(ctx, obj);
    for (const auto& a : args) PushVariant(ctx, a);
    if (duk_pcall_method(ctx, static_cast<duk_idx_t>(args.size())) != DUK_EXEC_SUCCESS) throw ScriptError(ctx, -1);
    return GetVariant(ctx, -1, false);
  }

  // Only the default value exists: the object's string conversion.
  Variant InvokeDispId(int32_t dispid, CallKind kind, Args& args) override {
    if (dispid != kDispIdDefault || !args.empty() || kind == CallKind::Let || kind == CallKind::Set)
      ThrowPlatform(err::NoSuchMember);
    duk_context* ctx = Context();
    StackGuard guard(ctx);
    duk_push_heapptr(ctx, ptr_);
    SafeCall(ctx, SafeToString, 1);
    duk_size_t len = 0;
    const char* s = duk_get_lstring(ctx, -1, &len);
    return Variant(std::string(s ? s : "", len));
  }

 private:
  duk_context* Context() const {
    if (!Live()) ThrowPlatform(err::ObjectNotSet);
    return ctx_;
  }

  // Let / Set: assigns the one argument to property `key`.
  Variant Assign(duk_context* ctx, duk_idx_t obj, std::string_view key, Args& args) {
    if (args.size() != 1) ThrowPlatform(err::WrongArgCount);
    duk_dup(ctx, obj);
    duk_push_lstring(ctx, key.data(), key.size());
    PushVariant(ctx, args[0]);
    SafeCall(ctx, SafePutProp, 3);
    return Variant();
  }

  // The property name that answers `name`: itself when the object has it,
  // else the first name equal to it in another letter case; "" when none.
  std::string Resolve(duk_context* ctx, duk_idx_t obj, std::string_view name) {
    std::string folded = FoldCase(name);
    auto cached = names_.find(folded);
    if (cached != names_.end()) return cached->second;
    duk_dup(ctx, obj);
    duk_push_lstring(ctx, name.data(), name.size());
    SafeCall(ctx, SafeHas, 2);
    bool exact = duk_get_boolean(ctx, -1);
    duk_pop(ctx);
    if (exact) return std::string(name);
    std::string found = FindFolded(ctx, obj, folded);
    // Only found names are remembered: a property may still be added later.
    if (!found.empty()) names_[folded] = found;
    return found;
  }

  // The first property name of the object whose folded form is `folded`.
  std::string FindFolded(duk_context* ctx, duk_idx_t obj, const std::string& folded) {
    duk_dup(ctx, obj);
    SafeCall(ctx, SafeKeys, 1);
    std::string found;
    duk_size_t n = duk_get_length(ctx, -1);
    for (duk_size_t i = 0; i < n && found.empty(); ++i) {
      duk_get_prop_index(ctx, -1, static_cast<duk_uarridx_t>(i));
      duk_size_t len = 0;
      const char* k = duk_get_lstring(ctx, -1, &len);
      if (k && FoldCase(std::string_view(k, len)) == folded) found.assign(k, len);
      duk_pop(ctx);
    }
    duk_pop(ctx);
    return found;
  }

  duk_context* ctx_;
  void* ptr_;
  uint64_t page_;
  std::map<std::string, std::string> names_;  // folded name -> property name
};

}  // namespace

bool IsPlainObject(duk_context* ctx, duk_idx_t idx) {
  if (!CurrentPage() || !duk_is_object(ctx, idx) || duk_is_function(ctx, idx) || duk_is_array(ctx, idx) ||
      duk_is_buffer_data(ctx, idx))
    return false;
  duk_dup(ctx, idx);
  bool plain = duk_safe_call(ctx, SafeClassTag, nullptr, 1, 1) == DUK_EXEC_SUCCESS && duk_is_string(ctx, -1) &&
               std::strcmp(duk_get_string(ctx, -1), "[object Object]") == 0;
  duk_pop(ctx);
  return plain;
}

ObjectRef MakeScriptObject(duk_context* ctx, duk_idx_t idx) {
  duk_dup(ctx, idx);
  // One result slot, so that a failure leaves its error there.
  if (duk_safe_call(ctx, SafeKeep, nullptr, 1, 1) != DUK_EXEC_SUCCESS) ThrowScriptError(ctx);
  duk_pop(ctx);
  return std::make_shared<ScriptObject>(ctx, duk_get_heapptr(ctx, idx), CurrentPage()->serial);
}

bool PushScriptObject(duk_context* ctx, const ObjectRef& obj) {
  auto* so = dynamic_cast<ScriptObject*>(obj.get());
  if (!so || !so->Live()) return false;
  duk_push_heapptr(ctx, so->HeapPtr());
  return true;
}

}  // namespace torvane::server::script
