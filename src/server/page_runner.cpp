#include "server/page_runner.h"

#include <malloc.h>

#include <cstdio>
#include <filesystem>

#include "basics/escape.h"
#include "host/script_context.h"
#include "platform/identity.h"
#include "server/host_dispatch.h"
#include "server/host_server.h"

namespace torvane::server {

namespace {

std::unique_ptr<ScriptEngine>& ThreadEngineSlot() {
  thread_local std::unique_ptr<ScriptEngine> engine;
  return engine;
}

ScriptEngine& ThreadEngine() {
  auto& engine = ThreadEngineSlot();
  if (!engine) engine = std::make_unique<ScriptEngine>();
  return *engine;
}

}  // namespace

// After a page that used much memory: a fresh heap for the thread's next page,
// and the allocator's free memory (of every thread's arena) back to the system.
void ReleaseThreadMemory() {
  ThreadEngineSlot().reset();
  ::malloc_trim(0);
}

namespace {

void LogFailure(const ScriptResult& r) {
  std::fprintf(stderr, "torvane: %s, line %d: error %d (%s): %s\n", r.file.c_str(), r.line, r.number,
               r.source.c_str(), r.description.c_str());
}

}  // namespace

Site::Site(std::string rootDir) {
  std::error_code ec;
  auto abs = std::filesystem::weakly_canonical(std::filesystem::absolute(rootDir, ec), ec);
  root = ec ? rootDir : abs.string();
  while (root.size() > 1 && root.back() == '/') root.pop_back();
}

std::string VirtualFolder(const std::string& virtualPath) {
  size_t slash = virtualPath.find_last_of('/');
  return slash == std::string::npos ? "/" : virtualPath.substr(0, slash + 1);
}

std::string ErrorPageHtml(const ScriptResult& r) {
  std::string out = "<html><head><title>Page error</title></head><body>\n";
  out += r.compileError ? "<h1>Torvane page error: the page does not compile</h1>\n" : "<h1>Torvane page error</h1>\n";
  out += "<p>Error " + std::to_string(r.number) + ": " + HtmlEncode(r.description) + "</p>\n";
  if (!r.source.empty()) out += "<p>Source: " + HtmlEncode(r.source) + "</p>\n";
  out += "<p>Page: " + HtmlEncode(r.file) + ", line " + std::to_string(r.line) + "</p>\n";
  out += "</body></html>\n";
  return out;
}

PageOutcome RunPage(Site& site, const std::string& virtualPath, std::shared_ptr<HttpRequest> request,
                    std::shared_ptr<HttpResponse> response, const PageLimits& limits) {
  PageOutcome outcome;
  std::shared_ptr<const CompiledPage> page;
  try {
    page = site.cache.Get(site.root, virtualPath);
  } catch (const CompileError& e) {
    outcome.compileFailed = true;
    outcome.script.ok = false;
    outcome.script.compileError = true;
    outcome.script.description = e.message;
    outcome.script.file = e.where.file;
    outcome.script.line = e.where.line;
  } catch (const std::exception& e) {
    outcome.compileFailed = true;
    outcome.script.ok = false;
    outcome.script.compileError = true;
    outcome.script.description = e.what();
    outcome.script.file = virtualPath;
  }
  if (page) {
    auto app = std::make_shared<ApplicationView>(site.application, site.application->NewPageId());
    auto server = std::make_shared<HostServer>(site.root, VirtualFolder(virtualPath), site.noPages);
    auto ctx = std::make_shared<ObjectContext>(ObjectContext{request, response, server, app});
    try {
      ObjectContextScope scope(ctx);
      PageGlobals g{RequestObject::Create(request), ResponseObject::Create(response), ServerObject::Create(server),
                    ApplicationObject::Create(app), response.get(),
                    limits.cpuSeconds >= 0 ? limits.cpuSeconds : site.scriptTimeout};
      g.memoryLimitBytes = limits.memoryBytes;
      g.deadline = limits.clock.Deadline();
      g.deadlineSeconds = limits.clock.DeadlineSeconds();
      g.serverStop = limits.clock.Stop();
      outcome.script = ThreadEngine().Run(*page, g);
    } catch (...) {
      outcome.script.ok = false;
      outcome.script.description = "the page host failed";
      outcome.script.file = virtualPath;
    }
    app->Release();
    RestoreThreadIdentity();
    ClearScriptContext();
  }
  if (!outcome.script.ok) {
    LogFailure(outcome.script);
    response->FailWith(ErrorPageHtml(outcome.script));
  }
  try {
    response->Finish();
  } catch (...) {
  }
  if (outcome.script.heapPeakBytes > kLargePageBytes) ReleaseThreadMemory();
  return outcome;
}

}  // namespace torvane::server
