// The running page's state and the one guarded trampoline through which every
// binding function is entered (internal to the page engine).
//
// Duktape unwinds a script error with longjmp, which must never cross a C++
// frame that holds objects, and no C++ exception may cross into Duktape. So
// every C function the engine gives Duktape is Guarded<Body>: the body runs
// inside a noexcept frame that catches everything and records the error to
// throw (the pending throw, kept per thread, never in an unwound frame); the
// trampoline, which holds no C++ objects, then throws it as a script error.
#pragma once

#include <duktape.h>

#include <cstdint>
#include <string>

#include "automation/object.h"
#include "host/host.h"
#include "server/script_heap.h"

namespace torvane::server::script {

// The page that runs on this thread: what every binding function needs.
struct PageState {
  Response* response = nullptr;
  void* handler = nullptr;      // the Proxy handler of wrapped objects
  void* finalizer = nullptr;    // releases a wrapped object
  ScriptEngine::Clock* clock = nullptr;  // the page's limits: a stopped page makes no more calls
  void* optHandler = nullptr;   // the Proxy handler of optional-parameter properties
  // Tells this page from every other (script objects a component kept from an
  // earlier page are refused by it).
  uint64_t serial = NextPageSerial();

  static uint64_t NextPageSerial();
};

// The page running on the calling thread (null between pages).
PageState* CurrentPage();
// Makes `page` the calling thread's page until destroyed; restores the previous one.
class PageScope {
 public:
  explicit PageScope(PageState* page);
  ~PageScope();
  PageScope(const PageScope&) = delete;
  PageScope& operator=(const PageScope&) = delete;

 private:
  PageState* saved_;
};

// What a body returns to have the pending throw thrown.
constexpr duk_ret_t kThrow = -1000;

// Hidden keys of the engine's own properties.
inline const char* const kObjKey = DUK_HIDDEN_SYMBOL("tvobj");       // a wrapper's ObjectRef holder
inline const char* const kEndKey = DUK_HIDDEN_SYMBOL("tvend");       // the end-of-page marker
inline const char* const kThunkTarget = DUK_HIDDEN_SYMBOL("tvt");    // a thunk's wrapped object
inline const char* const kThunkName = DUK_HIDDEN_SYMBOL("tvn");      // a thunk's member name
inline const char* const kThunkKind = DUK_HIDDEN_SYMBOL("tvk");      // a thunk's call kind
inline const char* const kKeepKey = DUK_HIDDEN_SYMBOL("tvkeep");     // page objects handed to components
inline const char* const kOptKey = DUK_HIDDEN_SYMBOL("tvopt");       // marks an optional-parameter property

// Records the exception being handled as the error to throw (the end of the
// page when the page has ended); kThrow. Call only inside a catch block.
duk_ret_t PendCurrentException() noexcept;
// Records the end of the page (Response.End, a limit) as what to throw; kThrow.
duk_ret_t PendEnd() noexcept;
// Pends the end marker when the page's response has ended or one of its
// limits stopped it, and gives kThrow; else `ok`. Used before a call (an ended
// page makes no more calls) and after it (the call may have ended the page).
duk_ret_t CheckEnded(duk_ret_t ok);
// True when the value at `idx` is the end-of-page marker.
bool IsEndMarker(duk_context* ctx, duk_idx_t idx);
// Pushes the pending error (or the end marker) and throws it.
[[noreturn]] void ThrowPending(duk_context* ctx);

// Runs `body` catching everything: its result, or kThrow with the error pended.
using BindingBody = duk_ret_t (*)(duk_context*);
duk_ret_t RunGuarded(duk_context* ctx, BindingBody body) noexcept;

// The C function Duktape calls for `Body`: runs it guarded and throws what it
// pended, from a frame that holds no C++ objects.
template <BindingBody Body>
duk_ret_t Guarded(duk_context* ctx) {
  duk_ret_t r = RunGuarded(ctx, Body);
  if (r == kThrow) ThrowPending(ctx);
  return r;
}

// The component object a wrapper at `idx` holds (null when `idx` is no wrapper).
ObjectRef* HolderAt(duk_context* ctx, duk_idx_t idx);
// The live component object of the wrapper at `idx`; 91 when it has none.
ObjectRef TargetAt(duk_context* ctx, duk_idx_t idx);
// The live component object a thunk function at `fn` is bound to; 91 when none.
ObjectRef ThunkTargetAt(duk_context* ctx, duk_idx_t fn);

}  // namespace torvane::server::script
