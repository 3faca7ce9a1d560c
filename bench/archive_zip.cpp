// Archive beside Info-ZIP on the same tree, in the same run: building a ZIP
// (Torvane: NewArchive, Add with Recurse, SaveArchive; Info-ZIP: zip -qr) and
// extracting it all (Torvane: OpenArchive, Extract "*"; Info-ZIP: unzip -q).
// The tree is 64 files of 1 MiB of word-like text (so deflate has real work)
// written once into TORVANE_BENCH_DIR or the temporary folder; every
// extraction is compared with the tree before timing starts.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "archive/archive.h"
#include "platform/paths.h"
#include "support/memhost.h"

namespace {

namespace fs = std::filesystem;
constexpr int kFiles = 64;
constexpr size_t kFileSize = 1 << 20;
std::string gRoot;

void WriteTree() {
  static const char* words[] = {"archive", "torvane", "upload", "folder", "entry", "deflate", "page", "server",
                                "the",     "a",       "of",     "and",    "to",    "in",      "file", "data"};
  std::mt19937 rng(7);
  for (int i = 0; i < kFiles; ++i) {
    std::string path = gRoot + "/tree/d" + std::to_string(i % 8) + "/f" + std::to_string(i) + ".txt";
    fs::create_directories(fs::path(path).parent_path());
    std::string text;
    text.reserve(kFileSize + 16);
    while (text.size() < kFileSize) {
      text += words[rng() % 16];
      text += (rng() % 12 == 0) ? '\n' : ' ';
    }
    text.resize(kFileSize);
    std::ofstream(path, std::ios::binary) << text;
  }
}

int Run(const std::string& cmd) { return std::system(cmd.c_str()); }

void TorvaneZip(const std::string& out) {
  auto a = torvane::Archive::New();
  a->NewArchive(torvane::Variant(torvane::ToDosPath(out)), torvane::Variant::Missing());
  a->Add(torvane::Variant(torvane::ToDosPath(gRoot + "/tree")), torvane::Variant(true), torvane::Variant::Missing());
  a->SaveArchive(torvane::Variant::Missing());
}

void TorvaneUnzip(const std::string& zip, const std::string& dest) {
  auto a = torvane::Archive::New();
  a->OpenArchive(torvane::Variant(torvane::ToDosPath(zip)));
  a->Extract(torvane::Variant("*"), torvane::Variant(torvane::ToDosPath(dest)), torvane::Variant::Missing());
}

bool SameTree(const std::string& dest) { return Run("diff -r '" + gRoot + "/tree' '" + dest + "/tree' >/dev/null") == 0; }

void BM_ArchiveZip(benchmark::State& state) {
  for (auto _ : state) {
    fs::remove(gRoot + "/t.zip");
    TorvaneZip(gRoot + "/t.zip");
  }
  state.counters["MB/s"] = benchmark::Counter(double(kFiles * kFileSize) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["bytes"] = double(fs::file_size(gRoot + "/t.zip"));
}

void BM_InfoZipZip(benchmark::State& state) {
  for (auto _ : state) {
    fs::remove(gRoot + "/i.zip");
    Run("cd '" + gRoot + "' && zip -qr i.zip tree");
  }
  state.counters["MB/s"] = benchmark::Counter(double(kFiles * kFileSize) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["bytes"] = double(fs::file_size(gRoot + "/i.zip"));
}

void BM_ArchiveExtract(benchmark::State& state) {
  for (auto _ : state) {
    fs::remove_all(gRoot + "/x");
    TorvaneUnzip(gRoot + "/i.zip", gRoot + "/x");
  }
  state.counters["MB/s"] = benchmark::Counter(double(kFiles * kFileSize) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_InfoZipUnzip(benchmark::State& state) {
  for (auto _ : state) {
    fs::remove_all(gRoot + "/u");
    Run("mkdir -p '" + gRoot + "/u' && unzip -q '" + gRoot + "/i.zip' -d '" + gRoot + "/u'");
  }
  state.counters["MB/s"] = benchmark::Counter(double(kFiles * kFileSize) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(BM_ArchiveZip)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_InfoZipZip)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_ArchiveExtract)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(BM_InfoZipUnzip)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

int main(int argc, char** argv) {
  const char* base = std::getenv("TORVANE_BENCH_DIR");
  gRoot = (base ? std::string(base) : fs::temp_directory_path().string()) + "/torvane-archive-bench";
  fs::remove_all(gRoot);
  fs::create_directories(gRoot);
  torvane::test::MemHost host(gRoot);
  torvane::test::MemHost::Scope scope(host);
  WriteTree();
  // Both archives must hold the same tree before anything is timed.
  TorvaneZip(gRoot + "/t.zip");
  Run("cd '" + gRoot + "' && zip -qr i.zip tree");
  TorvaneUnzip(gRoot + "/i.zip", gRoot + "/x");
  Run("mkdir -p '" + gRoot + "/u' && unzip -q '" + gRoot + "/t.zip' -d '" + gRoot + "/u'");
  if (!SameTree(gRoot + "/x") || !SameTree(gRoot + "/u")) {
    std::cerr << "archives do not round-trip the tree\n";
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  fs::remove_all(gRoot);
  return 0;
}
