#include "server/script_values.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "server/script_binding.h"
#include "server/script_guard.h"
#include "server/script_object.h"

namespace torvane::server::script {

namespace {

constexpr int kMaxArrayDepth = 32;
// What an IDispatch member that raised an exception reports.
constexpr int32_t kScriptException = -2147352567;  // 0x80020009

// ---- protected helpers (run under duk_safe_call, plain C only) ----------------

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

// ---- to the engine ----------------------------------------------------------------

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

void PushArray(duk_context* ctx, const VArray& array, int depth) {
  duk_idx_t arr = duk_push_array(ctx);
  duk_uarridx_t i = 0;
  for (const auto& item : array.items) {
    if (depth < kMaxArrayDepth) PushVariant(ctx, item, depth + 1);
    else duk_push_undefined(ctx);
    duk_put_prop_index(ctx, arr, i++);
  }
}

// ---- from the engine --------------------------------------------------------------

Variant NumberVariant(double d) {
  if (std::isfinite(d) && d == std::trunc(d)) {
    if (d >= -2147483648.0 && d <= 2147483647.0) return Variant(static_cast<int32_t>(d));
    if (std::fabs(d) <= 9007199254740992.0) return Variant(static_cast<int64_t>(d));
  }
  return Variant(d);
}

Variant BytesAt(duk_context* ctx, duk_idx_t idx) {
  duk_size_t len = 0;
  auto* p = static_cast<const uint8_t*>(duk_get_buffer_data(ctx, idx, &len));
  return Variant(Bytes(p, p + len));
}

// A primitive value (not an object); false when `idx` holds an object.
bool PrimitiveAt(duk_context* ctx, duk_idx_t idx, bool asArgument, Variant& out) {
  switch (duk_get_type(ctx, idx)) {
    case DUK_TYPE_UNDEFINED:
    case DUK_TYPE_NONE: out = asArgument ? Variant::Missing() : Variant(); return true;
    case DUK_TYPE_NULL: out = Variant::Null(); return true;
    case DUK_TYPE_BOOLEAN: out = Variant(static_cast<bool>(duk_get_boolean(ctx, idx))); return true;
    case DUK_TYPE_NUMBER: out = NumberVariant(duk_get_number(ctx, idx)); return true;
    case DUK_TYPE_STRING: {
      if (duk_is_symbol(ctx, idx)) {
        out = Variant();
        return true;
      }
      duk_size_t len = 0;
      const char* s = duk_get_lstring(ctx, idx, &len);
      out = Variant(Utf8FromEngine(s, len));
      return true;
    }
    case DUK_TYPE_BUFFER: out = BytesAt(ctx, idx); return true;
    default: return false;
  }
}

// The value of an optional-parameter property: its getter called with no arguments.
Variant OptionalPropertyValue(duk_context* ctx, duk_idx_t idx, int depth) {
  duk_dup(ctx, idx);
  if (duk_pcall(ctx, 0) != DUK_EXEC_SUCCESS) ThrowScriptError(ctx);
  Variant v = GetVariant(ctx, -1, false, depth);
  duk_pop(ctx);
  return v;
}

Variant ArrayAt(duk_context* ctx, duk_idx_t idx, int depth) {
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

// A Date object's value; false when the object at `idx` is no Date.
bool DateAt(duk_context* ctx, duk_idx_t idx, Variant& out) {
  duk_dup(ctx, idx);
  if (duk_safe_call(ctx, SafeDateMs, nullptr, 1, 1) == DUK_EXEC_SUCCESS && duk_is_number(ctx, -1)) {
    double ms = duk_get_number(ctx, -1);
    duk_pop(ctx);
    if (!std::isfinite(ms)) ThrowPlatform(err::TypeMismatch);
    out = Variant::Date(DateFromUnix(static_cast<int64_t>(std::floor(ms / 1000.0))));
    return true;
  }
  duk_pop(ctx);
  return false;
}

Variant StringOf(duk_context* ctx, duk_idx_t idx) {
  duk_dup(ctx, idx);
  duk_size_t len = 0;
  const char* s = duk_safe_to_lstring(ctx, -1, &len);
  Variant out(std::string(s, len));
  duk_pop(ctx);
  return out;
}

std::string TextProp(duk_context* ctx, duk_idx_t idx, const char* name) {
  std::string out;
  if (duk_is_object(ctx, idx)) {
    duk_get_prop_string(ctx, idx, name);
    if (duk_is_string(ctx, -1)) out = duk_get_string(ctx, -1);
    duk_pop(ctx);
  }
  return out;
}

}  // namespace

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
    case VType::Array: PushArray(ctx, v.array(), depth); break;
  }
}

// Duktape keeps a character beyond U+FFFF of page text as a surrogate pair,
// each half encoded on its own (CESU-8: ED A0-AF xx ED B0-BF xx).
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

Variant GetVariant(duk_context* ctx, duk_idx_t idx, bool asArgument, int depth) {
  idx = duk_normalize_index(ctx, idx);
  Variant out;
  if (PrimitiveAt(ctx, idx, asArgument, out)) return out;
  if (ObjectRef* holder = HolderAt(ctx, idx)) return Variant(*holder);
  if (IsOptionalProperty(ctx, idx)) return OptionalPropertyValue(ctx, idx, depth);
  if (duk_is_buffer_data(ctx, idx)) return BytesAt(ctx, idx);
  if (duk_is_array(ctx, idx)) return ArrayAt(ctx, idx, depth);
  if (duk_is_object(ctx, idx) && !duk_is_function(ctx, idx)) {
    if (DateAt(ctx, idx, out)) return out;
    if (IsPlainObject(ctx, idx)) return Variant(MakeScriptObject(ctx, idx));
  }
  return StringOf(ctx, idx);
}

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

void WriteBackArrays(duk_context* ctx, duk_idx_t first, const Args& args, const std::vector<duk_idx_t>& arrays) {
  for (duk_idx_t i : arrays) {
    if (static_cast<size_t>(i) >= args.size() || args[static_cast<size_t>(i)].type() != VType::Array) continue;
    duk_dup(ctx, first + i);
    PushVariant(ctx, args[static_cast<size_t>(i)]);
    duk_safe_call(ctx, SafeCopyArray, nullptr, 2, 0);
  }
}

Error ScriptError(duk_context* ctx, duk_idx_t idx) {
  if (IsEndMarker(ctx, idx)) return Error(kScriptException, "The page ended.", "Response");
  int32_t number = kScriptException;
  if (duk_is_object(ctx, idx)) {
    duk_get_prop_string(ctx, idx, "number");
    if (duk_is_number(ctx, -1)) {
      double d = duk_get_number(ctx, -1);
      if (std::isfinite(d) && d >= INT32_MIN && d <= INT32_MAX) number = static_cast<int32_t>(d);
    }
    duk_pop(ctx);
  }
  std::string description = TextProp(ctx, idx, "description");
  if (description.empty()) description = TextProp(ctx, idx, "message");
  if (description.empty()) {
    duk_dup(ctx, idx);
    description = duk_safe_to_string(ctx, -1);
    duk_pop(ctx);
  }
  std::string source = TextProp(ctx, idx, "source");
  if (source.empty()) source = TextProp(ctx, idx, "name");
  return Error(number, description, source.empty() ? "JavaScript" : source);
}

void ThrowScriptError(duk_context* ctx) {
  Error e = ScriptError(ctx, -1);
  duk_pop(ctx);
  throw e;
}

}  // namespace torvane::server::script
