// File.MD5 of a 1 GiB file beside coreutils' md5sum of the same file, in the
// same run. The file is written once (pseudo-random bytes, so no file system
// can shortcut it) into TORVANE_BENCH_DIR or the temporary folder, read once to
// warm the page cache for both contenders, and removed at the end. Both
// digests are compared before timing starts.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "files/file.h"
#include "platform/paths.h"

namespace {

constexpr int64_t kFileSize = int64_t{1} << 30;
std::string gNativePath;

void WriteSample(const std::string& path) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  std::mt19937_64 rng(20240611);
  std::vector<uint64_t> block(1 << 17);  // 1 MiB
  for (int64_t written = 0; written < kFileSize; written += static_cast<int64_t>(block.size() * 8)) {
    for (auto& w : block) w = rng();
    out.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(block.size() * 8));
  }
}

std::string FileMd5() {
  auto f = torvane::File::New();
  f->SetName(torvane::ToDosPath(gNativePath));
  return f->MD5();
}

std::string Md5sum() {
  std::string cmd = "md5sum '" + gNativePath + "'";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return "";
  char buf[64] = {};
  size_t n = fread(buf, 1, 32, p);
  pclose(p);
  std::string out(buf, n);
  for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

void BM_FileMD5(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(FileMd5());
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

void BM_md5sum(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(Md5sum());
  state.SetBytesProcessed(state.iterations() * kFileSize);
}

BENCHMARK(BM_FileMD5)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);
BENCHMARK(BM_md5sum)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

int main(int argc, char** argv) {
  const char* dirEnv = std::getenv("TORVANE_BENCH_DIR");
  std::filesystem::path dir = dirEnv && *dirEnv ? dirEnv : std::filesystem::temp_directory_path();
  gNativePath = (dir / ("torvane-md5-bench-" + std::to_string(getpid()) + ".bin")).string();
  WriteSample(gNativePath);
  std::string ours = FileMd5();  // also warms the page cache
  std::string theirs = Md5sum();
  if (ours != theirs) {
    std::cerr << "digests differ: File.MD5 " << ours << ", md5sum " << theirs << "\n";
    std::filesystem::remove(gNativePath);
    return 1;
  }
  std::cout << "1 GiB sample, digest " << ours << " (both agree)\n";
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::remove(gNativePath);
  return 0;
}
