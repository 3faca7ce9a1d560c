// The globals every page finds (internal to the page engine), from tables.
//
// What every page shares is made once per heap, on the heap's own global
// object (the template): the host functions (__torvane_write for the page's
// text blocks and <%= %>, __torvane_items behind Enumerator, ActiveXObject),
// every public constant (ConstantTable) and Enumerator (the prelude). Each page
// then gets a global object of its own whose prototype is the template, with
// the page objects on it (Request, Response, Server, Application, and Session
// when the page has one): what a page declares or assigns at its top level
// stays on its own global. The shared objects are watched by the built-ins
// snapshot (shared_builtins.h).
#pragma once

#include <duktape.h>

#include "server/script_engine.h"

namespace torvane::server::script {

class PageGlobalsTemplate {
 public:
  // Puts the shared globals on the global object of `heap` (once per heap).
  explicit PageGlobalsTemplate(duk_context* heap);

  // False when the template could not be made (the prelude failed).
  bool Ready() const { return ready_; }

  // Gives `page`, a thread that shares the heap's built-ins, a global object
  // of its own (inheriting from the template) with the page objects on it.
  // False, with nothing thrown and the stack as it was, when it fails (out of
  // memory, or the template is not ready).
  bool Install(duk_context* page, const PageGlobals& g) const;

  // Removes every property of `page`'s own global object: its functions and
  // the objects they hold are freed by reference counts, with no collection.
  static void Clear(duk_context* page);

 private:
  bool ready_ = false;
};

}  // namespace torvane::server::script
