// A page run by the script engine over the in-memory host: tests write a
// page's text, run it with the host's Request, Response, Server and
// Application objects, and read what it wrote.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "server/host_dispatch.h"
#include "server/page_compiler.h"
#include "server/script_engine.h"
#include "support/memhost.h"

namespace torvane::test {

struct ScriptPageTest : ::testing::Test {
  TempDir site;
  MemHost host{site.path()};
  server::ScriptEngine engine;

  // Compiles `text` as /t.asp and runs it on a fresh response body with the
  // host's objects; `g` carries the limits (none by default).
  server::ScriptResult Run(const std::string& text, server::PageGlobals g = {}) {
    return RunCompiled(*server::CompilePageText(site.path(), "/t.asp", text), g);
  }

  // Runs a page compiled before (a page run again, as the server's cache does).
  server::ScriptResult RunCompiled(const server::CompiledPage& page, server::PageGlobals g = {}) {
    host.response->body.clear();
    host.response->ended = false;
    BeforeRun();
    g.request = server::RequestObject::Create(host.request);
    g.response = server::ResponseObject::Create(host.response);
    g.server = server::ServerObject::Create(host.server);
    g.application = server::ApplicationObject::Create(host.application);
    g.rawResponse = host.response.get();
    MemHost::Scope scope(host);
    return engine.Run(page, g);
  }

  // What the page wrote; a failed page fails the test with its error.
  std::string Out(const std::string& text) {
    server::ScriptResult r = Run(text);
    EXPECT_TRUE(r.ok) << r.number << " " << r.description << " line " << r.line;
    return host.response->BodyText();
  }

 protected:
  // Called before each run (a fixture puts its probe objects in place here).
  virtual void BeforeRun() {}
};

}  // namespace torvane::test
