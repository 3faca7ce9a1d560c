// The page engine alone: compile-and-run of a trivial page on one thread, over
// the in-memory host (no HTTP). BM_TrivialPage is what every page pays;
// BM_CompileTrivialPage the compiler's share.
#include <benchmark/benchmark.h>

#include "server/host_dispatch.h"
#include "server/page_compiler.h"
#include "server/script_engine.h"
#include "support/memhost.h"

namespace {

using namespace torvane;
using namespace torvane::server;

const char* kTrivial = "<%@ Language=\"JScript\" %>\n<html><body>Hello <%= 6 * 7 %></body></html>\n";

void BM_TrivialPage(benchmark::State& state) {
  test::TempDir site;
  test::MemHost host(site.path());
  ScriptEngine engine;
  auto page = CompilePageText(site.path(), "/trivial.asp", kTrivial);
  for (auto _ : state) {
    host.response->body.clear();
    PageGlobals g{RequestObject::Create(host.request), ResponseObject::Create(host.response),
                  ServerObject::Create(host.server), ApplicationObject::Create(host.application), host.response.get()};
    test::MemHost::Scope scope(host);
    ScriptResult r = engine.Run(*page, g);
    if (!r.ok) state.SkipWithError(r.description.c_str());
  }
}
BENCHMARK(BM_TrivialPage);

void BM_CompileTrivialPage(benchmark::State& state) {
  test::TempDir site;
  for (auto _ : state) benchmark::DoNotOptimize(CompilePageText(site.path(), "/trivial.asp", kTrivial));
}
BENCHMARK(BM_CompileTrivialPage);

}  // namespace

BENCHMARK_MAIN();
