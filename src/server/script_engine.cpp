#include "server/script_engine.h"

#include <duktape.h>

#include <cstdio>
#include <cstdlib>

#include "server/page_clock.h"
#include "server/script_binding.h"
#include "server/script_globals.h"
#include "server/script_guard.h"
#include "server/script_heap.h"
#include "server/shared_builtins.h"

namespace torvane::server {

using script::CurrentPage;
using script::PageState;

// What the engine keeps per heap besides the heap itself.
struct ScriptEngine::HeapState {
  script::BindingHandlers handlers;
  script::PageGlobalsTemplate globals;
  torvane_builtins_snapshot* builtins;  // the shared built-ins as the template made them
  int64_t baseline;                     // heap bytes once the template is made
  explicit HeapState(duk_context* heap)
      : handlers(script::MakeBindingHandlers(heap)),
        globals(heap),
        builtins(torvane_builtins_snapshot_take(heap)),
        baseline(0) {}
  ~HeapState() { torvane_builtins_snapshot_free(builtins); }
  HeapState(const HeapState&) = delete;
  HeapState& operator=(const HeapState&) = delete;
};

namespace {

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

// The engine's own messages may end with a program line, which is not the page's.
std::string ErrorDescription(duk_context* ctx, duk_idx_t idx) {
  std::string text = StringProp(ctx, idx, "description");
  if (!text.empty()) return text;
  text = StringProp(ctx, idx, "message");
  size_t at = text.rfind(" (line ");
  if (at != std::string::npos && text.back() == ')') text.resize(at);
  return text;
}

// Fills `out` with the uncaught script error at `idx`.
void FillFailure(duk_context* ctx, duk_idx_t idx, const CompiledPage& page, const std::string& scriptName,
                 ScriptResult& out) {
  out.ok = false;
  if (duk_is_error(ctx, idx) || duk_is_object(ctx, idx)) {
    duk_get_prop_string(ctx, idx, "number");
    out.number = duk_is_number(ctx, -1) ? duk_get_int(ctx, -1) : 0;
    duk_pop(ctx);
    out.description = ErrorDescription(ctx, idx);
    out.source = StringProp(ctx, idx, "source");
    if (out.source.empty()) out.source = StringProp(ctx, idx, "name");
    SourceLine where = page.Origin(ErrorLine(ctx, idx, scriptName));
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

void Fatal(void*, const char* msg) {
  std::fprintf(stderr, "torvane: fatal script engine error: %s\n", msg ? msg : "");
  std::abort();
}

// [ ] -> [ program ]: loads the bytecode `udata` (a std::string). Plain C, run protected.
duk_ret_t SafeLoad(duk_context* ctx, void* udata) {
  auto* code = static_cast<const std::string*>(udata);
  duk_push_external_buffer(ctx);
  duk_config_buffer(ctx, -1, const_cast<char*>(code->data()), code->size());
  duk_load_function(ctx);
  return 1;
}

// [ program ] -> [ program bytecode ]. Plain C, run protected.
duk_ret_t SafeDump(duk_context* ctx, void*) {
  duk_dup(ctx, -1);
  duk_dump_function(ctx);
  return 2;
}

// Keeps the bytecode of the program on top of the stack with the page.
void KeepBytecode(duk_context* ctx, const CompiledPage& page) {
  if (duk_safe_call(ctx, SafeDump, nullptr, 1, 2) == DUK_EXEC_SUCCESS) {
    duk_size_t size = 0;
    const char* data = static_cast<const char*>(duk_get_buffer_data(ctx, -1, &size));
    if (data) page.SetBytecode(std::string(data, size));
  }
  duk_pop(ctx);
}

// [ ] -> [ program ] (true) or [ error ] (false): the page's program bound to
// the page's globals, loaded from the bytecode an engine made before, or
// compiled now (its bytecode then kept with the page).
bool PushProgram(duk_context* ctx, const CompiledPage& page, const std::string& scriptName) {
  if (auto code = page.Bytecode()) {
    if (duk_safe_call(ctx, SafeLoad, const_cast<std::string*>(code.get()), 0, 1) == DUK_EXEC_SUCCESS) return true;
    duk_pop(ctx);
  }
  duk_push_lstring(ctx, scriptName.data(), scriptName.size());
  if (duk_pcompile_lstring_filename(ctx, 0, page.script.data(), page.script.size()) != 0) return false;
  if (!page.Bytecode()) KeepBytecode(ctx, page);
  return true;
}

// Runs the page program in the page's context (its globals installed);
// leaves nothing on the stack.
void RunProgram(duk_context* ctx, const CompiledPage& page, ScriptResult& result) {
  // A name no page line can produce, so stack lines of the page are recognisable.
  const std::string scriptName = "page" + page.virtualPath;
  if (!PushProgram(ctx, page, scriptName)) {
    FillFailure(ctx, -1, page, scriptName, result);
    result.compileError = true;
    duk_pop(ctx);
    return;
  }
  duk_dup(ctx, -1);  // [ program program ]: the program is unlinked after its run
  if (duk_pcall(ctx, 0) != DUK_EXEC_SUCCESS && !script::IsEndMarker(ctx, -1))
    FillFailure(ctx, -1, page, scriptName, result);
  duk_pop(ctx);
  torvane_unlink_program(ctx, -1);
  duk_pop(ctx);
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

// Arms the clock with the page's limits.
void StartClock(ScriptEngine::Clock& c, const PageGlobals& g) {
  c.expired = false;
  c.reason = ScriptEngine::Clock::Reason::None;
  c.deadline = g.deadline;
  c.stop = g.serverStop ? &g.serverStop->Flag() : nullptr;
  c.limit = g.memoryLimitBytes;
  c.overLimit = false;
  c.peak = c.used;
  c.startNs = script::ThreadCpuNs();
  c.startWall = std::chrono::steady_clock::now();
  c.limitSeconds = 0;
  script::SetCpuLimit(c, g.cpuLimitSeconds);
}

// Disarms the clock after the page; true when a limit stopped the page.
bool StopClock(ScriptEngine::Clock& c) {
  if (c.overLimit && !c.expired) {
    // A block past the margin failed and the page ended before the check ran.
    c.expired = true;
    c.reason = ScriptEngine::Clock::Reason::Memory;
  }
  bool stopped = c.expired;
  c.limitNs = INT64_MAX;
  c.expired = false;
  c.deadline = std::chrono::steady_clock::time_point::max();
  c.stop = nullptr;
  return stopped;
}

}  // namespace

ScriptEngine::ScriptEngine() : clock_(std::make_unique<Clock>()) { OpenHeap(); }

ScriptEngine::~ScriptEngine() { CloseHeap(); }

void ScriptEngine::OpenHeap() {
  heap_ = duk_create_heap(script::HeapAlloc, script::HeapRealloc, script::HeapFree, clock_.get(), Fatal);
  state_ = std::make_unique<HeapState>(heap_);
  state_->baseline = clock_->used;
  ++heapsOpened_;
}

void ScriptEngine::CloseHeap() {
  // Finalizers of the wrappers still in the heap run now.
  PageState page{nullptr, state_->handlers.handler, state_->handlers.finalizer};
  script::PageScope scope(&page);
  state_.reset();
  duk_destroy_heap(heap_);
  heap_ = nullptr;
  clock_->wrappers = 0;
}

int64_t ScriptEngine::HeapBytes() const { return clock_->used; }

double PageScriptTimeout() {
  PageState* page = CurrentPage();
  if (!page || !page->clock) return -1;
  return page->clock->limitSeconds;
}

bool SetPageScriptTimeout(double seconds) {
  PageState* page = CurrentPage();
  if (!page || !page->clock) return false;
  script::SetCpuLimit(*page->clock, seconds);
  return true;
}

ScriptResult ScriptEngine::Run(const CompiledPage& page, const PageGlobals& globals) {
  ScriptResult result;
  {
    const auto& h = state_->handlers;
    PageState state{globals.rawResponse, h.handler, h.finalizer, clock_.get(), h.optHandler};
    script::PageScope scope(&state);
    StartClock(*clock_, globals);
    // The page's thread shares the heap's built-ins and gets a global of its own.
    duk_push_thread(heap_);
    duk_context* pageCtx = duk_get_context(heap_, -1);
    if (state_->globals.Install(pageCtx, globals)) {
      RunProgram(pageCtx, page, result);
      script::PageGlobalsTemplate::Clear(pageCtx);
    } else {
      result.ok = false;
      result.description = "the page's globals could not be made";
    }
    duk_pop(heap_);
    if (StopClock(*clock_)) DescribeStop(*clock_, globals, result);
    // A component object the page still holds (in a cycle of its objects) is
    // released now, and so is garbage past a bound: two passes, the first runs
    // finalizers, the second frees what they released.
    if (clock_->wrappers > 0 || clock_->used - state_->baseline > kGarbageBytes) {
      duk_gc(heap_, 0);
      duk_gc(heap_, 0);
    }
    clock_->limit = 0;
    clock_->overLimit = false;
    result.heapPeakBytes = clock_->peak;
  }
  // A page that changed a shared built-in leaves a heap no other page may use.
  if (torvane_builtins_changed(heap_, state_->builtins)) {
    CloseHeap();
    OpenHeap();
  }
  return result;
}

}  // namespace torvane::server
