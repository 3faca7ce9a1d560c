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

namespace {

constexpr int kMaxNesting = 8;  // Server.Execute / Transfer depth

// The engines of pages run inline (Server.Execute) on this thread, one per
// level: a page's engine is busy while the page it runs inline runs.
ScriptEngine& NestedEngine(int level) {
  thread_local std::vector<std::unique_ptr<ScriptEngine>> engines;
  if (engines.size() < static_cast<size_t>(level)) engines.resize(static_cast<size_t>(level));
  auto& e = engines[static_cast<size_t>(level) - 1];
  if (!e) e = std::make_unique<ScriptEngine>();
  return *e;
}

thread_local int tNesting = 0;

struct PageRun {
  Site& site;
  std::shared_ptr<HttpRequest> request;
  std::shared_ptr<HttpResponse> response;
  const PageLimits& limits;
  std::shared_ptr<ApplicationView> app;
  std::shared_ptr<SessionObject> session;
};

ScriptResult RunCompiled(PageRun& run, const CompiledPage& page, const std::string& virtualPath,
                         const HostServer::LastError* lastError);

// Runs the page at `virtualPath` inline; its failure becomes the caller's error.
void ExecuteInline(PageRun& run, const std::string& virtualPath) {
  if (tNesting >= kMaxNesting)
    throw Error(kHostFailure, "Server.Execute: pages run inline nest deeper than " + std::to_string(kMaxNesting) + ".",
                "Server object");
  std::shared_ptr<const CompiledPage> page;
  try {
    page = run.site.cache.Get(run.site.root, virtualPath);
  } catch (const CompileError& e) {
    throw Error(kHostFailure, e.message + " (" + e.where.file + ", line " + std::to_string(e.where.line) + ")",
                "Server object");
  }
  ++tNesting;
  ScriptResult r;
  try {
    r = RunCompiled(run, *page, virtualPath, nullptr);
  } catch (...) {
    --tNesting;
    throw;
  }
  --tNesting;
  if (!r.ok) throw Error(r.number ? r.number : kHostFailure, r.description, r.source.empty() ? "Server object" : r.source);
}

// Runs one compiled page with the request's objects and a Server of its own folder.
ScriptResult RunCompiled(PageRun& run, const CompiledPage& page, const std::string& virtualPath,
                         const HostServer::LastError* lastError) {
  auto server = std::make_shared<HostServer>(run.site.root, VirtualFolder(virtualPath), run.site.noPages);
  server->SetExecutor([&run](const std::string& path) { ExecuteInline(run, path); });
  if (lastError) server->SetLastError(*lastError);
  auto ctx = std::make_shared<ObjectContext>(ObjectContext{run.request, run.response, server, run.app});
  ObjectContextScope scope(ctx);
  PageGlobals g{RequestObject::Create(run.request), ResponseObject::Create(run.response), ServerObject::Create(server),
                ApplicationObject::Create(run.app), run.response.get(),
                run.limits.cpuSeconds >= 0 ? run.limits.cpuSeconds : run.site.scriptTimeout};
  g.memoryLimitBytes = run.limits.memoryBytes;
  g.deadline = run.limits.clock.Deadline();
  g.deadlineSeconds = run.limits.clock.DeadlineSeconds();
  g.serverStop = run.limits.clock.Stop();
  g.session = run.session;
  return tNesting > 0 ? NestedEngine(tNesting).Run(page, g) : ThreadEngine().Run(page, g);
}

// The failure as the custom error page sees it.
HostServer::LastError LastErrorOf(const ScriptResult& r) {
  HostServer::LastError e;
  e.set = true;
  e.number = r.number;
  e.description = r.description;
  e.source = r.source;
  e.file = r.file;
  e.line = r.line;
  e.category = r.compileError ? "Compilation" : "Runtime";
  return e;
}

// Runs the site's custom error page for a failed page whose output has not
// begun; true when it ran to its end (its answer stands).
bool RunErrorPage(PageRun& run, const std::string& failedPath, const ScriptResult& failure) {
  const std::string& path = run.site.errorPage;
  if (path.empty() || path == failedPath || run.response->HeadersSent() || failure.stopped || failure.timedOut)
    return false;
  try {
    auto page = run.site.cache.Get(run.site.root, path);
    run.response->Clear();
    run.response->SetStatus("500 Internal Server Error");
    HostServer::LastError last = LastErrorOf(failure);
    ScriptResult r = RunCompiled(run, *page, path, &last);
    if (!r.ok) LogFailure(r);
    return r.ok;
  } catch (...) {
    return false;
  }
}

}  // namespace

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
  PageRun run{site, request, response, limits,
              std::make_shared<ApplicationView>(site.application, site.application->NewPageId()),
              std::make_shared<SessionObject>(site.sessions, site.sessionSettings, request, response,
                                              request->info().https)};
  if (page) {
    try {
      outcome.script = RunCompiled(run, *page, virtualPath, nullptr);
    } catch (...) {
      outcome.script.ok = false;
      outcome.script.description = "the page host failed";
      outcome.script.file = virtualPath;
    }
    RestoreThreadIdentity();
    ClearScriptContext();
  }
  if (!outcome.script.ok) {
    LogFailure(outcome.script);
    if (!RunErrorPage(run, virtualPath, outcome.script)) response->FailWith(ErrorPageHtml(outcome.script));
    RestoreThreadIdentity();
    ClearScriptContext();
  }
  run.app->Release();
  try {
    run.session->PageEnded();
  } catch (...) {
  }
  try {
    response->Finish();
  } catch (...) {
  }
  if (outcome.script.heapPeakBytes > kLargePageBytes) ReleaseThreadMemory();
  return outcome;
}

}  // namespace torvane::server
