// ScriptEngine: runs compiled pages in Duktape with the host objects bound.
//
// One engine (one Duktape heap) per worker thread. The heap's built-ins and
// the host's shared globals are made once; each page runs in a thread of the
// heap with a global object of its own (script_globals.h), so nothing a page
// defines reaches the next, and a page that changes a shared built-in gets the
// heap replaced after it (shared_builtins.h). After the page its global is
// emptied, so reference counts free its objects; a collection runs only when a
// component object is still held (in a cycle) or garbage passed a bound, so
// component objects never outlive their page.
//
// Binding (every component and host object, through its member table only):
//  - obj.Prop calls the getter (a getter with required parameters, and every
//    method, reads as a function); obj.Prop = v calls let, or set-by-reference
//    when v is an object and the member has one; names ignore letter case.
//  - a property whose parameters are all optional reads as its value and is
//    also callable with arguments (v.Item, v.Item(), v.Item(2)); see
//    PushOptionalProperty.
//  - an object with a default member is callable (post.FormInputs("f")), and
//    converts to a string or number through its default member; obj[n] is the
//    default member at position n.
//  - undefined passed as an argument is a missing argument, also in the middle.
//  - strings, numbers, booleans and null map directly; dates <-> Date; arrays
//    <-> arrays (an array a method rearranged is written back into the caller's
//    array); byte arrays <-> Uint8Array.
//  - an automation error becomes a thrown Error with number, description,
//    message and source.
//  - Enumerator(collection) walks a collection through its NewEnum member.
// No C++ exception ever crosses into Duktape: every binding function catches
// everything inside a helper and throws the script error only from a frame
// that holds no C++ objects (Duktape unwinds with longjmp).
//
// The parts: script_heap (allocator and limits), script_guard (page state and
// the one guarded trampoline), script_values (value conversion),
// script_object (a page's own objects handed to components), script_binding
// (wrapped component objects), script_globals (the globals of every page).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "automation/object.h"
#include "host/host.h"
#include "server/page_compiler.h"

struct duk_hthread;

namespace torvane::server {

class ServerStop;

// The objects a page sees as its globals.
struct PageGlobals {
  ObjectRef request, response, server, application;
  // The page's Response: its Ended() is checked after every call, and the
  // page's text blocks are written to it directly.
  Response* rawResponse = nullptr;
  // Processor time the page may use, in seconds (0: no limit). Time spent
  // waiting (for the client, for the application lock) does not count.
  double cpuLimitSeconds = 0;
  // Bytes the page's script heap may hold (0: no limit). Past it the page is
  // stopped (try/catch cannot hold it) with an error that names the limit.
  int64_t memoryLimitBytes = 0;
  // Wall-clock deadline (page_deadline; time_point::max(): none) and its
  // length in seconds for the error text.
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::time_point::max();
  int deadlineSeconds = 0;
  // The server's stop at the end of its grace period (null: none).
  const ServerStop* serverStop = nullptr;
  ObjectRef session;  // the page's Session (null: the page has none)
};

// How a page run ended.
struct ScriptResult {
  bool ok = true;           // ran to its end or stopped by Response.End
  bool compileError = false;
  bool timedOut = false;    // stopped for using more than its processor time
  int32_t number = 0;       // automation error number (0 for a plain script error)
  std::string description;
  std::string source;       // "Torvane.Post", "TypeError", ...
  std::string file;         // virtual path of the page or include
  int line = 0;
  bool stopped = false;         // stopped by its memory limit, deadline or the server's stop
  int64_t heapPeakBytes = 0;    // the most the script heap held during the page
};

class ScriptEngine {
 public:
  ScriptEngine();
  ~ScriptEngine();
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  ScriptResult Run(const CompiledPage& page, const PageGlobals& globals);
  // Bytes the heap holds now (between pages: what it keeps).
  int64_t HeapBytes() const;
  // Heaps this engine has made: 1, plus one for each page that changed a
  // shared built-in.
  int HeapsOpened() const { return heapsOpened_; }

  // Garbage a heap may keep between pages before a collection runs.
  static constexpr int64_t kGarbageBytes = 1 << 20;

  struct Clock;  // the limits of the running page and the heap's accounting (script_heap.h)

 private:
  struct HeapState;  // the binding's handlers, the globals' template and the built-ins' snapshot
  void OpenHeap();
  void CloseHeap();

  std::unique_ptr<Clock> clock_;
  duk_hthread* heap_ = nullptr;
  std::unique_ptr<HeapState> state_;
  int heapsOpened_ = 0;
};

// Server.ScriptTimeout: the processor-time limit, in seconds, of the page
// running on this thread (0: none; -1 when no page runs here), and its change
// for the rest of that page (counted from the page's start; 0: none). False
// when no page runs on this thread.
double PageScriptTimeout();
bool SetPageScriptTimeout(double seconds);

}  // namespace torvane::server
