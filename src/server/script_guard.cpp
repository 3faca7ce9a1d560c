#include "server/script_guard.h"

#include <atomic>
#include <cstdlib>

namespace torvane::server::script {

namespace {

std::atomic<uint64_t> gPageSerial{0};

// The error a body wants thrown, kept per thread so that no frame Duktape
// unwinds holds it.
struct PendingThrow {
  bool end = false;  // Response.End or a limit: unwind the page
  int32_t number = 0;
  std::string description;
  std::string source;
};

thread_local PageState* tPage = nullptr;
thread_local PendingThrow tPending;

bool PageEnded() {
  return tPage && ((tPage->response && tPage->response->Ended()) || (tPage->clock && PageStopping(*tPage->clock)));
}

}  // namespace

uint64_t PageState::NextPageSerial() { return gPageSerial.fetch_add(1) + 1; }

PageState* CurrentPage() { return tPage; }

PageScope::PageScope(PageState* page) : saved_(tPage) { tPage = page; }
PageScope::~PageScope() { tPage = saved_; }

duk_ret_t PendEnd() noexcept {
  tPending = PendingThrow{};
  tPending.end = true;
  return kThrow;
}

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

duk_ret_t CheckEnded(duk_ret_t ok) { return PageEnded() ? PendEnd() : ok; }

bool IsEndMarker(duk_context* ctx, duk_idx_t idx) {
  if (!duk_is_object(ctx, idx)) return false;
  duk_get_prop_string(ctx, idx, kEndKey);
  bool end = duk_get_boolean(ctx, -1);
  duk_pop(ctx);
  return end;
}

void ThrowPending(duk_context* ctx) {
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

duk_ret_t RunGuarded(duk_context* ctx, BindingBody body) noexcept {
  try {
    return body(ctx);
  } catch (...) {
    return PendCurrentException();
  }
}

ObjectRef* HolderAt(duk_context* ctx, duk_idx_t idx) {
  if (!duk_is_object(ctx, idx)) return nullptr;
  duk_get_prop_string(ctx, idx, kObjKey);
  auto* holder = static_cast<ObjectRef*>(duk_get_pointer(ctx, -1));
  duk_pop(ctx);
  return holder;
}

ObjectRef TargetAt(duk_context* ctx, duk_idx_t idx) {
  ObjectRef* holder = HolderAt(ctx, idx);
  if (!holder || !*holder) ThrowPlatform(err::ObjectNotSet);
  return *holder;
}

ObjectRef ThunkTargetAt(duk_context* ctx, duk_idx_t fn) {
  duk_get_prop_string(ctx, fn, kThunkTarget);
  ObjectRef* holder = HolderAt(ctx, -1);
  duk_pop(ctx);
  if (!holder || !*holder) ThrowPlatform(err::ObjectNotSet);
  return *holder;
}

}  // namespace torvane::server::script
