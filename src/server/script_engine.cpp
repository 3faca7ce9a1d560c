#include "server/script_engine.h"

#include <duktape.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <new>

#include "automation/collection.h"
#include "automation/progid.h"
#include "server/page_clock.h"

namespace torvane::server {

// The limits of the running page, also the heap's allocation state: Duktape
// hands this to the execution check and to the allocation functions.
struct ScriptEngine::Clock {
  std::atomic<int64_t> limitNs{INT64_MAX};  // thread CPU time at which the page expires
  int64_t startNs = 0;                       // thread CPU time at the page's start
  double limitSeconds = 0;                   // the page's processor-time limit (0: none)
  std::atomic<bool> expired{false};
  enum class Reason { None, Cpu, Memory, Deadline, Stop };
  Reason reason = Reason::None;
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
  const std::atomic<bool>* stop = nullptr;
  // Heap accounting: every block carries its size in a header.
  int64_t used = 0;
  int64_t peak = 0;
  int64_t limit = 0;        // 0: none
  bool overLimit = false;   // the page went past its limit: it is being stopped
};

namespace {

// ---- the script heap's memory ----------------------------------------------------
//
// Past the page's limit, allocations still succeed up to a margin (a quarter of
// the limit, at least 16 MiB) so that the page can unwind cleanly; the
// execution check stops it at once. Only a single block that would go past the
// margin fails (Duktape then throws "alloc failed", which the stop turns into
// the limit's error).

using HeapClock = ScriptEngine::Clock;
constexpr size_t kBlockHeader = 16;  // keeps malloc's alignment

bool HeapAllows(HeapClock* c, int64_t more) {
  if (c->limit <= 0 || more <= 0 || c->used + more <= c->limit) return true;
  c->overLimit = true;
  int64_t margin = std::max<int64_t>(c->limit / 4, 16 << 20);
  return c->used + more <= c->limit + margin;
}

void Account(HeapClock* c, int64_t delta) {
  c->used += delta;
  if (c->used > c->peak) c->peak = c->used;
}

void* HeapAlloc(void* udata, duk_size_t size) {
  auto* c = static_cast<HeapClock*>(udata);
  if (!HeapAllows(c, static_cast<int64_t>(size))) return nullptr;
  auto* base = static_cast<unsigned char*>(std::malloc(size + kBlockHeader));
  if (!base) return nullptr;
  std::memcpy(base, &size, sizeof size);
  Account(c, static_cast<int64_t>(size));
  return base + kBlockHeader;
}

void HeapFree(void* udata, void* ptr) {
  if (!ptr) return;
  auto* c = static_cast<HeapClock*>(udata);
  unsigned char* base = static_cast<unsigned char*>(ptr) - kBlockHeader;
  duk_size_t size = 0;
  std::memcpy(&size, base, sizeof size);
  Account(c, -static_cast<int64_t>(size));
  std::free(base);
}

void* HeapRealloc(void* udata, void* ptr, duk_size_t size) {
  if (!ptr) return HeapAlloc(udata, size);
  if (size == 0) {
    HeapFree(udata, ptr);
    return nullptr;
  }
  auto* c = static_cast<HeapClock*>(udata);
  unsigned char* base = static_cast<unsigned char*>(ptr) - kBlockHeader;
  duk_size_t old = 0;
  std::memcpy(&old, base, sizeof old);
  if (!HeapAllows(c, static_cast<int64_t>(size) - static_cast<int64_t>(old))) return nullptr;
  auto* moved = static_cast<unsigned char*>(std::realloc(base, size + kBlockHeader));
  if (!moved) return nullptr;
  std::memcpy(moved, &size, sizeof size);
  Account(c, static_cast<int64_t>(size) - static_cast<int64_t>(old));
  return moved + kBlockHeader;
}

// True once the page is being stopped by one of its limits (the execution
// check said so, or it went past its memory limit): like an ended response,
// every later call unwinds it at once, even inside try.
bool PageStopping(const HeapClock& c) { return c.overLimit || c.expired.load(std::memory_order_relaxed); }

int64_t ThreadCpuNs() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// ---- per-thread state ----------------------------------------------------------
//
// Binding functions run on the page's thread; the page's state and the error a
// helper wants thrown live here, never in a frame that Duktape may unwind.

std::atomic<uint64_t> gPageSerial{0};

struct PageState {
  Response* response = nullptr;
  void* handler = nullptr;
  void* finalizer = nullptr;
  ScriptEngine::Clock* clock = nullptr;
  void* optHandler = nullptr;  // the Proxy handler of optional-parameter properties  // the page's limits: a stopped page makes no more calls
  // Tells this page from every other (script objects a component kept from an
  // earlier page are refused by it).
  uint64_t serial = gPageSerial.fetch_add(1) + 1;
};

struct PendingThrow {
  bool end = false;  // Response.End: unwind the page
  int32_t number = 0;
  std::string description;
  std::string source;
};

thread_local PageState* tPage = nullptr;
thread_local PendingThrow tPending;

constexpr duk_ret_t kThrow = -1000;  // a helper's "throw tPending"
constexpr int kMaxArrayDepth = 32;

const char* const kObjKey = DUK_HIDDEN_SYMBOL("tvobj");
const char* const kEndKey = DUK_HIDDEN_SYMBOL("tvend");
const char* const kThunkTarget = DUK_HIDDEN_SYMBOL("tvt");
const char* const kThunkName = DUK_HIDDEN_SYMBOL("tvn");
const char* const kThunkKind = DUK_HIDDEN_SYMBOL("tvk");
const char* const kKeepKey = DUK_HIDDEN_SYMBOL("tvkeep");
const char* const kOptKey = DUK_HIDDEN_SYMBOL("tvopt");

duk_ret_t PendEnd() noexcept;

// Records the exception being handled as the error to throw. Call only inside
// a catch block.
duk_ret_t PendCurrentException() noexcept {
  // A call that failed because the page ended (a script object that called
  // Response.End) unwinds the page like any call after the end.
  try {
    if (tPage && tPage->response && tPage->response->Ended()) return PendEnd();
  } catch (...) {
  }
  tPending = PendingThrow{};
  Error e = CaughtError();
  tPending.number = e.number;
  tPending.description = e.description;
  tPending.source = e.source;
  return kThrow;
}

duk_ret_t PendEnd() noexcept {
  tPending = PendingThrow{};
  tPending.end = true;
  return kThrow;
}

// Pushes the pending error (or the end marker) and throws it. The caller's
// frame holds no C++ objects.
[[noreturn]] void ThrowPending(duk_context* ctx) {
  if (tPending.end) {
    duk_push_object(ctx);
    duk_push_true(ctx);
    duk_put_prop_string(ctx, -2, kEndKey);
    duk_throw(ctx);
  }
  duk_push_error_object(ctx, DUK_ERR_ERROR, "%s", tPending.description.c_str());
  duk_push_int(ctx, tPending.number);
  duk_put_prop_string(ctx, -2, "number");
  duk_push_string(ctx, tPending.description.c_str());
  duk_put_prop_string(ctx, -2, "description");
  duk_push_string(ctx, tPending.source.c_str());
  duk_put_prop_string(ctx, -2, "source");
  duk_throw(ctx);
  std::abort();  // not reached: duk_throw does not return
}

// Pends the end marker when the page's response has ended; kThrow then. Used
// before a call (an ended page makes no more calls) and after it (the call
// may have ended the response).
duk_ret_t CheckEnded(duk_ret_t ok) {
  if (tPage && tPage->response && tPage->response->Ended()) return PendEnd();
  if (tPage && tPage->clock && PageStopping(*tPage->clock)) return PendEnd();
  return ok;
}

// ---- safe helpers (run under duk_safe_call, plain C only) ------------------------

// [array, index] -> [value]
duk_ret_t SafeGetIndex(duk_context* ctx, void* udata) {
  duk_uarridx_t i = static_cast<duk_uarridx_t>(reinterpret_cast<uintptr_t>(udata));
  duk_get_prop_index(ctx, -1, i);
  return 1;
}

// [value] -> [milliseconds or undefined]
duk_ret_t SafeDateMs(duk_context* ctx, void*) {
  duk_get_global_string(ctx, "Date");
  if (!duk_is_function(ctx, -1) || !duk_instanceof(ctx, -2, -1)) {
    duk_push_undefined(ctx);
    return 1;
  }
  duk_pop(ctx);
  duk_get_prop_string(ctx, -1, "getTime");
  duk_dup(ctx, -2);
  duk_call_method(ctx, 0);
  return 1;
}

// [target, source] -> []: replaces the target array's items with the source's.
duk_ret_t SafeCopyArray(duk_context* ctx, void*) {
  duk_uarridx_t n = static_cast<duk_uarridx_t>(duk_get_length(ctx, -1));
  duk_push_uint(ctx, n);
  duk_put_prop_string(ctx, -3, "length");
  for (duk_uarridx_t i = 0; i < n; ++i) {
    duk_get_prop_index(ctx, -1, i);
    duk_put_prop_index(ctx, -3, i);
  }
  return 0;
}

// [ms] -> [new Date(ms)]
duk_ret_t SafeNewDate(duk_context* ctx, void*) {
  duk_get_global_string(ctx, "Date");
  duk_dup(ctx, -2);
  duk_new(ctx, 1);
  return 1;
}

// [value] -> [its length]
duk_ret_t SafeLength(duk_context* ctx, void*) {
  duk_push_number(ctx, static_cast<double>(duk_get_length(ctx, -1)));
  return 1;
}

// ---- wrapped objects ----------------------------------------------------------------

ObjectRef* HolderAt(duk_context* ctx, duk_idx_t idx) {
  if (!duk_is_object(ctx, idx)) return nullptr;
  duk_get_prop_string(ctx, idx, kObjKey);
  auto* holder = static_cast<ObjectRef*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  return holder;
}

duk_ret_t WrapperTarget(duk_context*) { return 0; }

duk_ret_t FinalizeWrapper(duk_context* ctx) {
  duk_get_prop_string(ctx, 0, kObjKey);
  auto* holder = static_cast<ObjectRef*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  if (holder) {
    duk_push_pointer(ctx, nullptr);
    duk_put_prop_string(ctx, 0, kObjKey);
    try {
      delete holder;
    } catch (...) {
    }
  }
  return 0;
}

void PushObject(duk_context* ctx, const ObjectRef& obj) {
  duk_push_c_function(ctx, WrapperTarget, DUK_VARARGS);
  duk_push_pointer(ctx, new ObjectRef(obj));
  duk_put_prop_string(ctx, -2, kObjKey);
  duk_push_heapptr(ctx, tPage->finalizer);
  duk_set_finalizer(ctx, -2);
  duk_push_heapptr(ctx, tPage->handler);
  duk_push_proxy(ctx, 0);
}

// ---- a page's own objects handed to components ---------------------------------
//
// A plain JavaScript object (one whose class is "Object": a literal, new
// Object, an instance of a page's own constructor) passed to a component
// becomes a ScriptObject: a late-bound object whose members are the object's
// properties, found by name in any letter case (an exact match first). Reading
// a member reads the property and calls it when it is a function; calling a
// member calls the function with the object as `this`; Let and Set assign the
// property. Its default value is the object's string conversion. Handed back
// to the page, it is the page's own object again.
//
// The page's global object keeps the JavaScript object alive for the rest of
// the page; a component that keeps the ScriptObject longer finds it dead (91)
// in any later page. All engine calls run protected, so a throwing getter or
// function becomes an automation error and never unwinds C++ frames.

void PushVariant(duk_context* ctx, const Variant& v, int depth = 0);
Variant GetVariant(duk_context* ctx, duk_idx_t idx, bool asArgument, int depth = 0);
bool IsEndMarker(duk_context* ctx, duk_idx_t idx);
bool IsOptionalProperty(duk_context* ctx, duk_idx_t idx);

// What an IDispatch member that raised an exception reports.
constexpr int32_t kScriptException = -2147352567;  // 0x80020009

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

// Restores the value stack of a context to its height at construction.
struct StackGuard {
  explicit StackGuard(duk_context* c) : ctx(c), top(duk_get_top(c)) {}
  ~StackGuard() { duk_set_top(ctx, top); }
  duk_context* ctx;
  duk_idx_t top;
};

// The script error at `idx` as an automation error: its own number and
// description when it carries them, else 0x80020009 with its message.
Error ScriptError(duk_context* ctx, duk_idx_t idx) {
  if (IsEndMarker(ctx, idx)) return Error(kScriptException, "The page ended.", "Response");
  auto text = [&](const char* name) {
    std::string out;
    if (duk_is_object(ctx, idx)) {
      duk_get_prop_string(ctx, idx, name);
      if (duk_is_string(ctx, -1)) out = duk_get_string(ctx, -1);
      duk_pop(ctx);
    }
    return out;
  };
  int32_t number = kScriptException;
  if (duk_is_object(ctx, idx)) {
    duk_get_prop_string(ctx, idx, "number");
    if (duk_is_number(ctx, -1)) {
      double d = duk_get_number(ctx, -1);
      if (std::isfinite(d) && d >= INT32_MIN && d <= INT32_MAX) number = static_cast<int32_t>(d);
    }
    duk_pop(ctx);
  }
  std::string description = text("description");
  if (description.empty()) description = text("message");
  if (description.empty()) {
    duk_dup(ctx, idx);
    description = duk_safe_to_string(ctx, -1);
    duk_pop(ctx);
  }
  std::string source = text("source");
  if (source.empty()) source = text("name");
  return Error(number, description, source.empty() ? "JavaScript" : source);
}

class ScriptObject final : public Object {
 public:
  ScriptObject(duk_context* ctx, void* ptr, uint64_t page) : ctx_(ctx), ptr_(ptr), page_(page) {}

  const ClassInfo& classInfo() const override {
    static const ClassInfo info("Object", {});
    return info;
  }

  // True while the page that made this object runs on the calling thread.
  bool Live() const { return tPage && tPage->serial == page_; }
  void* HeapPtr() const { return ptr_; }

  Variant Invoke(std::string_view name, CallKind kind, Args& args) override {
    duk_context* ctx = Context();
    StackGuard guard(ctx);
    if (!duk_check_stack(ctx, static_cast<duk_idx_t>(args.size()) + 8)) ThrowPlatform(err::OutOfMemory);
    duk_push_heapptr(ctx, ptr_);
    duk_idx_t obj = duk_get_top_index(ctx);
    std::string key = Resolve(ctx, obj, name);
    if (kind == CallKind::Let || kind == CallKind::Set) {
      if (args.size() != 1) ThrowPlatform(err::WrongArgCount);
      duk_dup(ctx, obj);
      duk_push_lstring(ctx, key.empty() ? name.data() : key.data(), key.empty() ? name.size() : key.size());
      PushVariant(ctx, args[0]);
      // One result slot, so that a failure leaves its error there.
      if (duk_safe_call(ctx, SafePutProp, nullptr, 3, 1) != DUK_EXEC_SUCCESS) throw ScriptError(ctx, -1);
      return Variant();
    }
    if (key.empty()) ThrowPlatform(err::NoSuchMember);
    duk_dup(ctx, obj);
    duk_push_lstring(ctx, key.data(), key.size());
    if (duk_safe_call(ctx, SafeGetProp, nullptr, 2, 1) != DUK_EXEC_SUCCESS) throw ScriptError(ctx, -1);
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
    if (duk_safe_call(ctx, SafeToString, nullptr, 1, 1) != DUK_EXEC_SUCCESS) throw ScriptError(ctx, -1);
    duk_size_t len = 0;
    const char* s = duk_get_lstring(ctx, -1, &len);
    return Variant(std::string(s ? s : "", len));
  }

 private:
  duk_context* Context() const {
    if (!Live()) ThrowPlatform(err::ObjectNotSet);
    return ctx_;
  }

  // The property name that answers `name`: itself when the object has it,
  // else the first name equal to it in another letter case; "" when none.
  std::string Resolve(duk_context* ctx, duk_idx_t obj, std::string_view name) {
    std::string folded = FoldCase(name);
    auto cached = names_.find(folded);
    if (cached != names_.end()) return cached->second;
    duk_dup(ctx, obj);
    duk_push_lstring(ctx, name.data(), name.size());
    if (duk_safe_call(ctx, SafeHas, nullptr, 2, 1) != DUK_EXEC_SUCCESS) throw ScriptError(ctx, -1);
    bool exact = duk_get_boolean(ctx, -1);
    duk_pop(ctx);
    if (exact) return std::string(name);
    duk_dup(ctx, obj);
    if (duk_safe_call(ctx, SafeKeys, nullptr, 1, 1) != DUK_EXEC_SUCCESS) throw ScriptError(ctx, -1);
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
    // Only found names are remembered: a property may still be added later.
    if (!found.empty()) names_[folded] = found;
    return found;
  }

  duk_context* ctx_;
  void* ptr_;
  uint64_t page_;
  std::map<std::string, std::string> names_;  // folded name -> property name
};

// True for a plain object of the running page (see above).
bool IsPlainObject(duk_context* ctx, duk_idx_t idx) {
  if (!tPage || !duk_is_object(ctx, idx) || duk_is_function(ctx, idx) || duk_is_array(ctx, idx) ||
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
  if (duk_safe_call(ctx, SafeKeep, nullptr, 1, 1) != DUK_EXEC_SUCCESS) {
    Error e = ScriptError(ctx, -1);
    duk_pop(ctx);
    throw e;
  }
  duk_pop(ctx);
  return std::make_shared<ScriptObject>(ctx, duk_get_heapptr(ctx, idx), tPage->serial);
}

// Pushes the page's own object when `obj` is a live ScriptObject; false otherwise.
bool PushScriptObject(duk_context* ctx, const ObjectRef& obj) {
  auto* so = dynamic_cast<ScriptObject*>(obj.get());
  if (!so || !so->Live()) return false;
  duk_push_heapptr(ctx, so->HeapPtr());
  return true;
}

// ---- value conversion -----------------------------------------------------------

void PushBytes(duk_context* ctx, const Bytes& b) {
  void* p = duk_push_fixed_buffer(ctx, b.size());
  if (!b.empty()) std::memcpy(p, b.data(), b.size());
  duk_push_buffer_object(ctx, -1, 0, b.size(), DUK_BUFOBJ_UINT8ARRAY);
  duk_remove(ctx, -2);
}

void PushDate(duk_context* ctx, double oleDate) {
  double ms = static_cast<double>(UnixFromDate(oleDate)) * 1000.0;
  duk_push_number(ctx, ms);
  if (duk_safe_call(ctx, SafeNewDate, nullptr, 1, 1) != DUK_EXEC_SUCCESS) {
    duk_pop(ctx);
    duk_push_number(ctx, ms);
  }
}

void PushVariant(duk_context* ctx, const Variant& v, int depth) {
  switch (v.type()) {
    case VType::Empty:
    case VType::Missing: duk_push_undefined(ctx); break;
    case VType::Null: duk_push_null(ctx); break;
    case VType::String: duk_push_lstring(ctx, v.str().data(), v.str().size()); break;
    case VType::I2:
    case VType::I4:
    case VType::I8: duk_push_number(ctx, static_cast<double>(v.rawInt())); break;
    case VType::Double: duk_push_number(ctx, v.rawDouble()); break;
    case VType::Bool: duk_push_boolean(ctx, v.rawInt() != 0); break;
    case VType::Date: PushDate(ctx, v.rawDouble()); break;
    case VType::Object:
      if (!PushScriptObject(ctx, v.obj())) PushObject(ctx, v.obj());
      break;
    case VType::Bytes: PushBytes(ctx, v.bytes()); break;
    case VType::Array: {
      duk_idx_t arr = duk_push_array(ctx);
      duk_uarridx_t i = 0;
      for (const auto& item : v.array().items) {
        if (depth < kMaxArrayDepth) PushVariant(ctx, item, depth + 1);
        else duk_push_undefined(ctx);
        duk_put_prop_index(ctx, arr, i++);
      }
      break;
    }
  }
}

// Duktape keeps a character beyond U+FFFF of page text as a surrogate pair,
// each half encoded on its own (CESU-8: ED A0-AF xx ED B0-BF xx). Components
// get proper UTF-8: such a pair becomes the character's 4-byte form. Other
// bytes pass unchanged.
std::string Utf8FromEngine(const char* s, size_t len) {
  if (!std::memchr(s, 0xED, len)) return std::string(s, len);
  std::string out;
  out.reserve(len);
  for (size_t i = 0; i < len;) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[i + k]); };
    if (i + 6 <= len && b(0) == 0xED && (b(1) & 0xF0) == 0xA0 && (b(2) & 0xC0) == 0x80 && b(3) == 0xED &&
        (b(4) & 0xF0) == 0xB0 && (b(5) & 0xC0) == 0x80) {
      char32_t hi = 0xD000 | ((b(1) & 0x3F) << 6) | (b(2) & 0x3F);
      char32_t lo = 0xD000 | ((b(4) & 0x3F) << 6) | (b(5) & 0x3F);
      char32_t cp = 0x10000 + ((hi - 0xD800) << 10) + (lo - 0xDC00);
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
      i += 6;
    } else {
      out += s[i++];
    }
  }
  return out;
}

Variant NumberVariant(double d) {
  if (std::isfinite(d) && d == std::trunc(d)) {
    if (d >= -2147483648.0 && d <= 2147483647.0) return Variant(static_cast<int32_t>(d));
    if (std::fabs(d) <= 9007199254740992.0) return Variant(static_cast<int64_t>(d));
  }
  return Variant(d);
}

// The value at `idx` as a Variant; `asArgument`: undefined is Missing, else Empty.
Variant GetVariant(duk_context* ctx, duk_idx_t idx, bool asArgument, int depth) {
  idx = duk_normalize_index(ctx, idx);
  switch (duk_get_type(ctx, idx)) {
    case DUK_TYPE_UNDEFINED:
    case DUK_TYPE_NONE: return asArgument ? Variant::Missing() : Variant();
    case DUK_TYPE_NULL: return Variant::Null();
    case DUK_TYPE_BOOLEAN: return Variant(static_cast<bool>(duk_get_boolean(ctx, idx)));
    case DUK_TYPE_NUMBER: return NumberVariant(duk_get_number(ctx, idx));
    case DUK_TYPE_STRING: {
      if (duk_is_symbol(ctx, idx)) return Variant();
      duk_size_t len = 0;
      const char* s = duk_get_lstring(ctx, idx, &len);
      return Variant(Utf8FromEngine(s, len));
    }
    case DUK_TYPE_BUFFER: {
      duk_size_t len = 0;
      auto* p = static_cast<const uint8_t*>(duk_get_buffer_data(ctx, idx, &len));
      return Variant(Bytes(p, p + len));
    }
    default: break;
  }
  if (ObjectRef* holder = HolderAt(ctx, idx)) return Variant(*holder);
  if (IsOptionalProperty(ctx, idx)) {
    duk_dup(ctx, idx);
    if (duk_pcall(ctx, 0) != DUK_EXEC_SUCCESS) {
      Error e = ScriptError(ctx, -1);
      duk_pop(ctx);
      throw e;
    }
    Variant v = GetVariant(ctx, -1, false, depth);
    duk_pop(ctx);
    return v;
  }
  if (duk_is_buffer_data(ctx, idx)) {
    duk_size_t len = 0;
    auto* p = static_cast<const uint8_t*>(duk_get_buffer_data(ctx, idx, &len));
    return Variant(Bytes(p, p + len));
  }
  if (duk_is_array(ctx, idx)) {
    VArray arr;
    if (depth >= kMaxArrayDepth) return Variant(std::move(arr));
    duk_dup(ctx, idx);
    duk_size_t n = 0;
    if (duk_safe_call(ctx, SafeLength, nullptr, 1, 1) == DUK_EXEC_SUCCESS && duk_is_number(ctx, -1))
      n = static_cast<duk_size_t>(duk_get_number(ctx, -1));
    duk_pop(ctx);
    n = std::min<duk_size_t>(n, 1 << 24);
    arr.items.reserve(n);
    for (duk_size_t i = 0; i < n; ++i) {
      duk_dup(ctx, idx);
      if (duk_safe_call(ctx, SafeGetIndex, reinterpret_cast<void*>(static_cast<uintptr_t>(i)), 1, 1) ==
          DUK_EXEC_SUCCESS)
        arr.items.push_back(GetVariant(ctx, -1, false, depth + 1));
      else
        arr.items.emplace_back();
      duk_pop(ctx);
    }
    return Variant(std::move(arr));
  }
  if (duk_is_object(ctx, idx) && !duk_is_function(ctx, idx)) {
    duk_dup(ctx, idx);
    if (duk_safe_call(ctx, SafeDateMs, nullptr, 1, 1) == DUK_EXEC_SUCCESS && duk_is_number(ctx, -1)) {
      double ms = duk_get_number(ctx, -1);
      duk_pop(ctx);
      if (!std::isfinite(ms)) ThrowPlatform(err::TypeMismatch);
      return Variant::Date(DateFromUnix(static_cast<int64_t>(std::floor(ms / 1000.0))));
    }
    duk_pop(ctx);
    if (IsPlainObject(ctx, idx)) return Variant(MakeScriptObject(ctx, idx));
  }
  duk_dup(ctx, idx);
  duk_size_t len = 0;
  const char* s = duk_safe_to_lstring(ctx, -1, &len);
  Variant out(std::string(s, len));
  duk_pop(ctx);
  return out;
}

// Arguments at [first, first + count) as Variants; marks those that were arrays.
Args GetArgs(duk_context* ctx, duk_idx_t first, duk_idx_t count, std::vector<duk_idx_t>& arrays) {
  Args args;
  args.reserve(static_cast<size_t>(count));
  for (duk_idx_t i = 0; i < count; ++i) {
    if (duk_is_array(ctx, first + i)) arrays.push_back(i);
    args.push_back(GetVariant(ctx, first + i, true));
  }
  while (!args.empty() && args.back().isMissing()) args.pop_back();
  return args;
}

// Writes arrays a member changed back into the caller's own arrays.
void WriteBackArrays(duk_context* ctx, duk_idx_t first, const Args& args, const std::vector<duk_idx_t>& arrays) {
  for (duk_idx_t i : arrays) {
    if (static_cast<size_t>(i) >= args.size() || args[static_cast<size_t>(i)].type() != VType::Array) continue;
    duk_dup(ctx, first + i);
    PushVariant(ctx, args[static_cast<size_t>(i)]);
    duk_safe_call(ctx, SafeCopyArray, nullptr, 2, 0);
  }
}

bool NeedsArguments(const MemberInfo& m) {
  for (const auto& p : m.params)
    if (!p.optional) return true;
  return false;
}

void PushThunk(duk_context* ctx, duk_idx_t target, const char* name, CallKind kind);
duk_ret_t ValueThunk(duk_context* ctx);

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

// The get trap: [target thunk, key, receiver] -> [member].
duk_ret_t OptTrapGet(duk_context* ctx) {
  if (duk_is_string(ctx, 1) && !duk_is_symbol(ctx, 1)) {
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
  duk_push_heapptr(ctx, tPage->optHandler);
  duk_push_proxy(ctx, 0);
}

// True for an optional-parameter property (hidden keys read through the Proxy
// to its target).
bool IsOptionalProperty(duk_context* ctx, duk_idx_t idx) {
  if (!duk_is_function(ctx, idx)) return false;
  duk_get_prop_string(ctx, idx, kOptKey);
  bool yes = duk_get_boolean(ctx, -1);
  duk_pop(ctx);
  return yes;
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

// ---- traps and thunks: each Impl catches everything; the outer function throws --

duk_ret_t GetImpl(duk_context* ctx) noexcept {
  try {
    if (CheckEnded(0) == kThrow) return kThrow;
    ObjectRef* holder = HolderAt(ctx, 0);
    if (!holder || !*holder) ThrowPlatform(err::ObjectNotSet);
    ObjectRef obj = *holder;
    const char* key = duk_get_string(ctx, 1);
    const ClassInfo& ci = obj->classInfo();
    if (const MemberInfo* m = ci.Find(key, CallKind::Get)) {
      if (m->kind == MemberKind::Method || NeedsArguments(*m)) {
        PushThunk(ctx, 0, key, m->kind == MemberKind::Method ? CallKind::Method : CallKind::Get);
        return 1;
      }
      if (!m->params.empty()) {
        PushOptionalProperty(ctx, 0, key);
        return 1;
      }
      Args none;
      Variant v = obj->Invoke(key, CallKind::Get, none);
      duk_ret_t r = CheckEnded(1);
      if (r == kThrow) return r;
      PushVariant(ctx, v);
      return 1;
    }
    if (std::strcmp(key, "toString") == 0 || std::strcmp(key, "valueOf") == 0) {
      duk_push_c_function(ctx, ValueThunk, 0);
      duk_dup(ctx, 0);
      duk_put_prop_string(ctx, -2, kThunkTarget);
      duk_push_string(ctx, key);
      duk_put_prop_string(ctx, -2, kThunkName);
      return 1;
    }
    int32_t position = 0;
    if (IsIndexKey(key, position) && ci.HasDefault()) {
      Args a{Variant(position)};
      Variant v = obj->InvokeDispId(kDispIdDefault, CallKind::Get, a);
      duk_ret_t r = CheckEnded(1);
      if (r == kThrow) return r;
      PushVariant(ctx, v);
      return 1;
    }
    for (const char* quiet : {"toJSON", "constructor", "prototype", "inspect", "then", "length", "name", "caller",
                              "arguments"}) {
      if (std::strcmp(key, quiet) == 0) {
        duk_push_undefined(ctx);
        return 1;
      }
    }
    ThrowPlatform(err::NoSuchMember);
  } catch (...) {
    return PendCurrentException();
  }
}

duk_ret_t TrapGet(duk_context* ctx) {
  if (duk_is_number(ctx, 1)) duk_to_string(ctx, 1);  // obj[3] may arrive as a number
  if (!duk_is_string(ctx, 1) || duk_is_symbol(ctx, 1)) {
    duk_push_undefined(ctx);
    return 1;
  }
  duk_ret_t r = GetImpl(ctx);
  if (r == kThrow) ThrowPending(ctx);
  return r;
}

duk_ret_t SetImpl(duk_context* ctx) noexcept {
  try {
    if (CheckEnded(0) == kThrow) return kThrow;
    ObjectRef* holder = HolderAt(ctx, 0);
    if (!holder || !*holder) ThrowPlatform(err::ObjectNotSet);
    ObjectRef obj = *holder;
    const char* key = duk_get_string(ctx, 1);
    Args a{GetVariant(ctx, 2, false)};
    obj->Invoke(key, a[0].isObject() ? CallKind::Set : CallKind::Let, a);
    if (CheckEnded(0) == kThrow) return kThrow;
    duk_push_true(ctx);
    return 1;
  } catch (...) {
    return PendCurrentException();
  }
}

duk_ret_t TrapSet(duk_context* ctx) {
  if (!duk_is_string(ctx, 1) || duk_is_symbol(ctx, 1)) {
    duk_push_false(ctx);
    return 1;
  }
  duk_ret_t r = SetImpl(ctx);
  if (r == kThrow) ThrowPending(ctx);
  return r;
}

duk_ret_t HasImpl(duk_context* ctx) noexcept {
  try {
    ObjectRef* holder = HolderAt(ctx, 0);
    bool has = holder && *holder && (*holder)->classInfo().HasName(duk_get_string(ctx, 1));
    duk_push_boolean(ctx, has);
    return 1;
  } catch (...) {
    return PendCurrentException();
  }
}

duk_ret_t TrapHas(duk_context* ctx) {
  if (!duk_is_string(ctx, 1) || duk_is_symbol(ctx, 1)) {
    duk_push_false(ctx);
    return 1;
  }
  duk_ret_t r = HasImpl(ctx);
  if (r == kThrow) ThrowPending(ctx);
  return r;
}

// Calls the default member (dispid 0) with the arguments at [first, first+count).
duk_ret_t ApplyImpl(duk_context* ctx, duk_idx_t first, duk_idx_t count) noexcept {
  try {
    if (CheckEnded(0) == kThrow) return kThrow;
    ObjectRef* holder = HolderAt(ctx, 0);
    if (!holder || !*holder) ThrowPlatform(err::ObjectNotSet);
    ObjectRef obj = *holder;
    std::vector<duk_idx_t> arrays;
    Args args = GetArgs(ctx, first, count, arrays);
    Variant v = obj->InvokeDispId(kDispIdDefault, CallKind::Method, args);
    if (CheckEnded(0) == kThrow) return kThrow;
    WriteBackArrays(ctx, first, args, arrays);
    PushVariant(ctx, v);
    return 1;
  } catch (...) {
    return PendCurrentException();
  }
}

duk_ret_t TrapApply(duk_context* ctx) {
  // [target, this, argArray]: spread the arguments (the engine made the array).
  duk_idx_t first = duk_get_top(ctx);
  duk_idx_t count = static_cast<duk_idx_t>(duk_get_length(ctx, 2));
  for (duk_idx_t i = 0; i < count; ++i) duk_get_prop_index(ctx, 2, static_cast<duk_uarridx_t>(i));
  duk_ret_t r = ApplyImpl(ctx, first, count);
  if (r == kThrow) ThrowPending(ctx);
  return r;
}

duk_ret_t ThunkImpl(duk_context* ctx, duk_idx_t count) noexcept {
  try {
    if (CheckEnded(0) == kThrow) return kThrow;
    // [args...] [thunk function] on top
    duk_idx_t fn = duk_get_top(ctx) - 1;
    duk_get_prop_string(ctx, fn, kThunkTarget);
    ObjectRef* holder = HolderAt(ctx, -1);
    duk_pop(ctx);
    if (!holder || !*holder) ThrowPlatform(err::ObjectNotSet);
    ObjectRef obj = *holder;
    duk_get_prop_string(ctx, fn, kThunkName);
    std::string name = duk_get_string(ctx, -1) ? duk_get_string(ctx, -1) : "";
    duk_pop(ctx);
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
  } catch (...) {
    return PendCurrentException();
  }
}

duk_ret_t MemberThunk(duk_context* ctx) {
  duk_idx_t count = duk_get_top(ctx);
  duk_push_current_function(ctx);
  duk_ret_t r = ThunkImpl(ctx, count);
  if (r == kThrow) ThrowPending(ctx);
  return r;
}

void PushThunk(duk_context* ctx, duk_idx_t target, const char* name, CallKind kind) {
  duk_push_c_function(ctx, MemberThunk, DUK_VARARGS);
  duk_dup(ctx, target);
  duk_put_prop_string(ctx, -2, kThunkTarget);
  duk_push_string(ctx, name);
  duk_put_prop_string(ctx, -2, kThunkName);
  duk_push_int(ctx, static_cast<int>(kind));
  duk_put_prop_string(ctx, -2, kThunkKind);
}

// toString / valueOf of a wrapped object: its default value.
duk_ret_t ValueImpl(duk_context* ctx) noexcept {
  try {
    duk_idx_t fn = duk_get_top(ctx) - 1;
    duk_get_prop_string(ctx, fn, kThunkTarget);
    ObjectRef* holder = HolderAt(ctx, -1);
    duk_pop(ctx);
    duk_get_prop_string(ctx, fn, kThunkName);
    bool wantString = std::strcmp(duk_get_string(ctx, -1), "toString") == 0;
    duk_pop(ctx);
    if (!holder || !*holder) ThrowPlatform(err::ObjectNotSet);
    ObjectRef obj = *holder;
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
  } catch (...) {
    return PendCurrentException();
  }
}

duk_ret_t ValueThunk(duk_context* ctx) {
  duk_push_current_function(ctx);
  duk_ret_t r = ValueImpl(ctx);
  if (r == kThrow) ThrowPending(ctx);
  return r;
}

// ---- globals ------------------------------------------------------------------------

// __torvane_write(value): the page's text blocks and <%= %> output.
duk_ret_t WriteImpl(duk_context* ctx) noexcept {
  try {
    if (!tPage || !tPage->response) ThrowPlatform(err::ObjectNotSet);
    if (tPage->response->Ended()) return PendEnd();
    if (tPage->clock && PageStopping(*tPage->clock)) return PendEnd();
    switch (duk_get_type(ctx, 0)) {
      case DUK_TYPE_UNDEFINED:
      case DUK_TYPE_NULL:
      case DUK_TYPE_NONE: break;
      case DUK_TYPE_STRING: {
        duk_size_t len = 0;
        const char* s = duk_get_lstring(ctx, 0, &len);
        tPage->response->Write(std::string_view(s, len));
        break;
      }
      case DUK_TYPE_NUMBER: {
        duk_dup(ctx, 0);
        duk_size_t len = 0;
        const char* s = duk_safe_to_lstring(ctx, -1, &len);
        tPage->response->Write(std::string_view(s, len));
        duk_pop(ctx);
        break;
      }
      default: {
        Variant v = GetVariant(ctx, 0, false).resolved();
        if (!v.isEmpty() && !v.isNull() && !v.isMissing()) tPage->response->Write(v.toString());
      }
    }
    return CheckEnded(0);
  } catch (...) {
    return PendCurrentException();
  }
}

duk_ret_t WriteFn(duk_context* ctx) {
  duk_ret_t r = WriteImpl(ctx);
  if (r == kThrow) ThrowPending(ctx);
  return 0;
}

// __torvane_items(collection): the items of a collection (through NewEnum) or an array.
duk_ret_t ItemsImpl(duk_context* ctx) noexcept {
  try {
    Variant v = GetVariant(ctx, 0, false);
    if (v.type() == VType::Array) {
      PushVariant(ctx, v);
      return 1;
    }
    if (v.isEmpty() || v.isNull()) {
      duk_push_array(ctx);
      return 1;
    }
    ObjectRef obj = v.toObject();
    Args none;
    Variant e = obj->InvokeDispId(kDispIdNewEnum, CallKind::Get, none);
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
  } catch (...) {
    return PendCurrentException();
  }
}

duk_ret_t ItemsFn(duk_context* ctx) {
  if (duk_is_array(ctx, 0)) {
    duk_dup(ctx, 0);
    return 1;
  }
  duk_ret_t r = ItemsImpl(ctx);
  if (r == kThrow) ThrowPending(ctx);
  return r;
}

// new ActiveXObject(progid): a component object, without OnStartPage.
duk_ret_t CreateImpl(duk_context* ctx) noexcept {
  try {
    Variant id = GetVariant(ctx, 0, false).resolved();
    ObjectRef obj = CreateObject(id.isEmpty() ? std::string() : id.toString());
    PushObject(ctx, obj);
    return 1;
  } catch (...) {
    return PendCurrentException();
  }
}

duk_ret_t ActiveXObjectFn(duk_context* ctx) {
  duk_ret_t r = CreateImpl(ctx);
  if (r == kThrow) ThrowPending(ctx);
  return r;
}

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

void PutGlobalObject(duk_context* ctx, const char* name, const ObjectRef& obj) {
  if (!obj) return;
  PushObject(ctx, obj);
  duk_put_global_string(ctx, name);
}

// ---- results ---------------------------------------------------------------------------

std::string StringProp(duk_context* ctx, duk_idx_t idx, const char* name) {
  duk_get_prop_string(ctx, idx, name);
  std::string out;
  if (duk_is_string(ctx, -1)) out = duk_get_string(ctx, -1);
  duk_pop(ctx);
  return out;
}

// The program line of an error: its lineNumber, else the first line of its
// stack trace that belongs to the page (errors raised inside a binding).
int ErrorLine(duk_context* ctx, duk_idx_t idx, const std::string& pageName) {
  std::string stack = StringProp(ctx, idx, "stack");
  std::string marker = pageName + ":";
  size_t at = stack.find(marker);
  if (at != std::string::npos) {
    int line = std::atoi(stack.c_str() + at + marker.size());
    if (line > 0) return line;
  }
  duk_get_prop_string(ctx, idx, "lineNumber");
  int line = duk_is_number(ctx, -1) ? duk_get_int(ctx, -1) : 0;
  duk_pop(ctx);
  return line;
}

void FillFailure(duk_context* ctx, duk_idx_t idx, const CompiledPage& page, const std::string& scriptName,
                 ScriptResult& out) {
  out.ok = false;
  if (duk_is_error(ctx, idx) || duk_is_object(ctx, idx)) {
    duk_get_prop_string(ctx, idx, "number");
    out.number = duk_is_number(ctx, -1) ? duk_get_int(ctx, -1) : 0;
    duk_pop(ctx);
    out.description = StringProp(ctx, idx, "description");
    if (out.description.empty()) {
      out.description = StringProp(ctx, idx, "message");
      // The engine's own messages may end with a program line, which is not the page's.
      size_t at = out.description.rfind(" (line ");
      if (at != std::string::npos && out.description.back() == ')') out.description.resize(at);
    }
    out.source = StringProp(ctx, idx, "source");
    if (out.source.empty()) out.source = StringProp(ctx, idx, "name");
    int line = ErrorLine(ctx, idx, scriptName);
    SourceLine where = page.Origin(line);
    out.file = where.file;
    out.line = where.line;
  }
  if (out.description.empty()) {
    duk_dup(ctx, idx);
    out.description = duk_safe_to_string(ctx, -1);
    duk_pop(ctx);
    out.file = page.virtualPath;
  }
}

bool IsEndMarker(duk_context* ctx, duk_idx_t idx) {
  if (!duk_is_object(ctx, idx)) return false;
  duk_get_prop_string(ctx, idx, kEndKey);
  bool end = duk_get_boolean(ctx, -1);
  duk_pop(ctx);
  return end;
}

void Fatal(void*, const char* msg) {
  std::fprintf(stderr, "torvane: fatal script engine error: %s\n", msg ? msg : "");
  std::abort();
}

// Runs the page program in the current thread context; leaves nothing on the stack.
void RunProgram(duk_context* ctx, const CompiledPage& page, const PageGlobals& g, ScriptResult& result) {
  // A name no page line can produce, so stack lines of the page are recognisable.
  const std::string scriptName = "page" + page.virtualPath;
  duk_push_c_function(ctx, WriteFn, 1);
  duk_put_global_string(ctx, "__torvane_write");
  duk_push_c_function(ctx, ItemsFn, 1);
  duk_put_global_string(ctx, "__torvane_items");
  duk_push_c_function(ctx, ActiveXObjectFn, 1);
  duk_put_global_string(ctx, "ActiveXObject");
  for (const auto& c : ConstantTable()) {
    duk_push_int(ctx, c.value);
    duk_put_global_string(ctx, c.name);
  }
  PutGlobalObject(ctx, "Request", g.request);
  PutGlobalObject(ctx, "Response", g.response);
  PutGlobalObject(ctx, "Server", g.server);
  PutGlobalObject(ctx, "Application", g.application);
  PutGlobalObject(ctx, "Session", g.session);
  if (duk_peval_string_noresult(ctx, kPrelude) != 0) {
    result.ok = false;
    result.description = "the page prelude failed to load";
    return;
  }
  duk_push_lstring(ctx, scriptName.data(), scriptName.size());
  if (duk_pcompile_lstring_filename(ctx, 0, page.script.data(), page.script.size()) != 0) {
    FillFailure(ctx, -1, page, scriptName, result);
    result.compileError = true;
    duk_pop(ctx);
    return;
  }
  if (duk_pcall(ctx, 0) != DUK_EXEC_SUCCESS && !IsEndMarker(ctx, -1)) FillFailure(ctx, -1, page, scriptName, result);
  duk_pop(ctx);
}

}  // namespace

}  // namespace torvane::server

// Duktape's execution check (duktape_build.c): true once the running page has
// used up its processor time; it stays true until the page has unwound.
// It also stops a page that went past its memory limit, its wall-clock deadline,
// or the server's stop.
extern "C" duk_bool_t torvane_script_expired(void* udata) {
  using Reason = torvane::server::ScriptEngine::Clock::Reason;
  auto* clock = static_cast<torvane::server::ScriptEngine::Clock*>(udata);
  if (!clock) return 0;
  if (clock->expired.load(std::memory_order_relaxed)) return 1;
  Reason why = Reason::None;
  if (clock->overLimit) why = Reason::Memory;
  else if (clock->stop && clock->stop->load(std::memory_order_relaxed)) why = Reason::Stop;
  else if (clock->deadline != std::chrono::steady_clock::time_point::max() &&
           std::chrono::steady_clock::now() >= clock->deadline)
    why = Reason::Deadline;
  else if (torvane::server::ThreadCpuNs() >= clock->limitNs.load(std::memory_order_relaxed)) why = Reason::Cpu;
  if (why == Reason::None) return 0;
  clock->reason = why;
  clock->expired = true;
  return 1;
}

namespace torvane::server {

namespace {

void SetCpuLimit(ScriptEngine::Clock& c, double seconds) {
  c.limitSeconds = seconds > 0 ? seconds : 0;
  c.limitNs = seconds > 0 ? c.startNs + static_cast<int64_t>(seconds * 1e9) : INT64_MAX;
}

// The error of a page the engine stopped, by the reason it was stopped.
void DescribeStop(const ScriptEngine::Clock& clock, const PageGlobals& g, ScriptResult& result) {
  using Reason = ScriptEngine::Clock::Reason;
  result.ok = false;
  result.stopped = true;
  result.number = kHostFailure;
  result.source = "Torvane host";
  char text[200];
  switch (clock.reason) {
    case Reason::Memory:
      std::snprintf(text, sizeof text,
                    "The page was stopped: its script memory reached the limit of %lld bytes (page_memory_limit).",
                    static_cast<long long>(g.memoryLimitBytes));
      result.description = text;
      break;
    case Reason::Deadline: result.description = PageDeadlineText(g.deadlineSeconds); break;
    case Reason::Stop: result.description = ServerStopText(g.serverStop ? g.serverStop->GraceSeconds() : 0); break;
    case Reason::Cpu:
    case Reason::None:
      result.stopped = false;
      result.timedOut = true;
      std::snprintf(text, sizeof text,
                    "The page was stopped: it used more than %g seconds of processor time (script_timeout).",
                    clock.limitSeconds > 0 ? clock.limitSeconds : g.cpuLimitSeconds);
      result.description = text;
      break;
  }
}

}  // namespace

ScriptEngine::ScriptEngine() : clock_(std::make_unique<Clock>()) {
  heap_ = duk_create_heap(HeapAlloc, HeapRealloc, HeapFree, clock_.get(), Fatal);
  duk_context* ctx = heap_;
  duk_push_heap_stash(ctx);
  duk_push_object(ctx);
  duk_push_c_function(ctx, TrapGet, 3);
  duk_put_prop_string(ctx, -2, "get");
  duk_push_c_function(ctx, TrapSet, 4);
  duk_put_prop_string(ctx, -2, "set");
  duk_push_c_function(ctx, TrapHas, 2);
  duk_put_prop_string(ctx, -2, "has");
  duk_push_c_function(ctx, TrapApply, 3);
  duk_put_prop_string(ctx, -2, "apply");
  handler_ = duk_get_heapptr(ctx, -1);
  duk_put_prop_string(ctx, -2, "handler");
  duk_push_object(ctx);
  duk_push_c_function(ctx, OptTrapGet, 3);
  duk_put_prop_string(ctx, -2, "get");
  optHandler_ = duk_get_heapptr(ctx, -1);
  duk_put_prop_string(ctx, -2, "optHandler");
  duk_push_c_function(ctx, FinalizeWrapper, 2);
  finalizer_ = duk_get_heapptr(ctx, -1);
  duk_put_prop_string(ctx, -2, "finalizer");
  duk_pop(ctx);
}

int64_t ScriptEngine::HeapBytes() const { return clock_->used; }

double PageScriptTimeout() {
  if (!tPage || !tPage->clock) return -1;
  return tPage->clock->limitSeconds;
}

bool SetPageScriptTimeout(double seconds) {
  if (!tPage || !tPage->clock) return false;
  SetCpuLimit(*tPage->clock, seconds);
  return true;
}

ScriptEngine::~ScriptEngine() {
  PageState state{nullptr, handler_, finalizer_};
  PageState* saved = tPage;
  tPage = &state;
  duk_destroy_heap(heap_);
  tPage = saved;
}

ScriptResult ScriptEngine::Run(const CompiledPage& page, const PageGlobals& globals) {
  ScriptResult result;
  PageState state{globals.rawResponse, handler_, finalizer_, clock_.get(), optHandler_};
  PageState* saved = tPage;
  tPage = &state;
  duk_context* ctx = heap_;
  clock_->expired = false;
  clock_->reason = Clock::Reason::None;
  clock_->deadline = globals.deadline;
  clock_->stop = globals.serverStop ? &globals.serverStop->Flag() : nullptr;
  clock_->limit = globals.memoryLimitBytes;
  clock_->overLimit = false;
  clock_->peak = clock_->used;
  clock_->startNs = ThreadCpuNs();
  clock_->limitSeconds = 0;
  SetCpuLimit(*clock_, globals.cpuLimitSeconds);
  duk_push_thread_new_globalenv(ctx);
  duk_context* page_ctx = duk_get_context(ctx, -1);
  RunProgram(page_ctx, page, globals, result);
  duk_pop(ctx);
  if (clock_->overLimit && !clock_->expired) {
    // A block past the margin failed and the page ended before the check ran.
    clock_->expired = true;
    clock_->reason = Clock::Reason::Memory;
  }
  if (clock_->expired) DescribeStop(*clock_, globals, result);
  clock_->limitNs = INT64_MAX;
  clock_->expired = false;
  clock_->deadline = std::chrono::steady_clock::time_point::max();
  clock_->stop = nullptr;
  // Two passes: the first runs finalizers, the second frees what they released.
  duk_gc(ctx, 0);
  duk_gc(ctx, 0);
  clock_->limit = 0;
  clock_->overLimit = false;
  result.heapPeakBytes = clock_->peak;
  tPage = saved;
  return result;
}

}  // namespace torvane::server
