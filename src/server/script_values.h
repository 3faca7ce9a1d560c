// Value conversion between Duktape and Variants (internal to the page engine).
//
// Strings, numbers, booleans and null map directly; dates <-> Date; arrays <->
// arrays (an array a member rearranged is written back into the caller's
// array); byte arrays <-> Uint8Array; component objects <-> wrappers
// (script_binding.h); a page's plain objects <-> ScriptObject
// (script_object.h). Every engine call that could run page code (getters,
// proxies, a replaced Date) runs protected, so a script error never unwinds a
// C++ frame; the value functions throw automation errors instead.
#pragma once

#include <duktape.h>

#include <string>
#include <vector>

#include "automation/object.h"

namespace torvane::server::script {

// Pushes `v`; arrays nested deeper than a limit become undefined.
void PushVariant(duk_context* ctx, const Variant& v, int depth = 0);
// The value at `idx`; `asArgument`: undefined is Missing, else Empty.
Variant GetVariant(duk_context* ctx, duk_idx_t idx, bool asArgument, int depth = 0);
// Arguments at [first, first + count) as Variants, trailing missing ones
// dropped; `arrays` receives the positions of those that were arrays.
Args GetArgs(duk_context* ctx, duk_idx_t first, duk_idx_t count, std::vector<duk_idx_t>& arrays);
// Writes arrays a member changed back into the caller's own arrays.
void WriteBackArrays(duk_context* ctx, duk_idx_t first, const Args& args, const std::vector<duk_idx_t>& arrays);

// Engine text as proper UTF-8: a surrogate pair kept as two 3-byte halves
// becomes the character's 4-byte form; other bytes pass unchanged.
std::string Utf8FromEngine(const char* s, size_t len);

// The script error at `idx` as an automation error: its own number and
// description when it carries them, else 0x80020009 with its message.
Error ScriptError(duk_context* ctx, duk_idx_t idx);
// Pops the script error on top and throws it as an automation error.
[[noreturn]] void ThrowScriptError(duk_context* ctx);

// Restores the value stack of a context to its height at construction.
struct StackGuard {
  explicit StackGuard(duk_context* c) : ctx(c), top(duk_get_top(c)) {}
  ~StackGuard() { duk_set_top(ctx, top); }
  duk_context* ctx;
  duk_idx_t top;
};

}  // namespace torvane::server::script
