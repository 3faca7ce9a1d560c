// The globals every page finds (internal to the page engine), from tables.
//
// Each page runs in a fresh global environment, so its globals are put there
// for every page; what can be made once is made once per heap: the prelude
// (Enumerator) is compiled once and each page loads its bytecode, which binds
// it to that page's own built-ins. The host functions are created per page in
// the page's realm, so a page that changes one (or its prototype) changes
// nothing the next page sees.
//
// Globals: the host functions (__torvane_write for the page's text blocks and
// <%= %>, __torvane_items behind Enumerator, ActiveXObject), every public
// constant (ConstantTable), the page objects (Request, Response, Server,
// Application, Session when the page has one) and Enumerator.
#pragma once

#include <duktape.h>

#include "server/script_engine.h"

namespace torvane::server::script {

class PageGlobalsTemplate {
 public:
  // Compiles the prelude on `heap` (once per heap).
  explicit PageGlobalsTemplate(duk_context* heap);

  // Puts every global into the fresh global environment of `page`; false
  // (with nothing thrown) when the prelude fails to load.
  bool Install(duk_context* page, const PageGlobals& g) const;

 private:
  void* prelude_ = nullptr;  // the prelude's bytecode (a buffer kept in the heap stash)
};

}  // namespace torvane::server::script
