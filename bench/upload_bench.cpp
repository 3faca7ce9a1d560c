// Whole uploads through Post over the in-memory host: the driver, the parser
// and the file writes (to the page cache of a temporary folder).
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>

#include "dirs/directory.h"
#include "platform/paths.h"
#include "support/memhost.h"
#include "upload/post.h"

namespace torvane {
namespace {

const std::string kB = "------TorvaneBenchBoundary";

void AppendText(Bytes& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

void AppendFile(Bytes& out, const std::string& name, size_t n, std::mt19937_64& rng) {
  AppendText(out, kB + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + name +
                      ".bin\"\r\nContent-Type: application/octet-stream\r\n\r\n");
  size_t start = out.size();
  out.resize(start + n);
  for (size_t i = 0; i < n; i += 8) {
    uint64_t v = rng();
    std::memcpy(out.data() + start + i, &v, std::min<size_t>(8, n - i));
  }
  AppendText(out, "\r\n");
}

Bytes Files(size_t count, size_t size) {
  Bytes out;
  out.reserve(count * (size + 200) + 64);
  std::mt19937_64 rng(7);
  for (size_t i = 0; i < count; ++i) AppendFile(out, "file" + std::to_string(i), size, rng);
  AppendText(out, kB + "--\r\n");
  return out;
}

Bytes Fields(size_t count) {
  Bytes out;
  for (size_t i = 0; i < count; ++i)
    AppendText(out, kB + "\r\nContent-Disposition: form-data; name=\"field" + std::to_string(i) +
                        "\"\r\n\r\nsome value of field " + std::to_string(i) + "\r\n");
  AppendText(out, kB + "--\r\n");
  return out;
}

// Uploaded files go to the page cache: a tmpfs folder (/dev/shm) unless
// TMPDIR says otherwise, so that the disk's write-back does not set the pace.
struct PageCacheTmp {
  PageCacheTmp() {
    if (!std::getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm")) setenv("TMPDIR", "/dev/shm", 1);
  }
};

// `maxFiles` overrides Post.MaxFiles when not -1 (0: no limit).
void RunUpload(benchmark::State& state, const Bytes& body, int32_t method, int32_t maxFiles = -1) {
  static PageCacheTmp tmp;
  test::TempDir dir;
  test::MemHost host(dir.path());
  host.request->body = body;
  host.request->serverVariables["CONTENT_TYPE"] = "multipart/form-data; boundary=" + kB.substr(2);
  host.request->serverVariables["REQUEST_METHOD"] = "POST";
  test::MemHost::Scope scope(host);
  auto folder = Directory::New();
  folder->SetPath(ToDosPath(dir.path()));
  double userMs = 0, sysMs = 0;
  auto cpu = [](double& user, double& sys) {
    rusage ru{};
    getrusage(RUSAGE_THREAD, &ru);
    user = ru.ru_utime.tv_sec * 1e3 + ru.ru_utime.tv_usec / 1e3;
    sys = ru.ru_stime.tv_sec * 1e3 + ru.ru_stime.tv_usec / 1e3;
  };
  for (auto _ : state) {
    double u0, s0, u1, s1;
    cpu(u0, s0);
    host.request->readPos = 0;
    host.request->readSizes.clear();
    auto post = Post::CreateTyped();
    if (maxFiles != -1) post->SetMaxFiles(maxFiles);
    post->SetDirectory(Variant(ObjectRef(folder)));
    post->Upload(Variant::Missing(), Variant(method), Variant(false), Variant::Missing());
    benchmark::DoNotOptimize(post->GetFormInputs()->Count());
    cpu(u1, s1);
    userMs += u1 - u0;
    sysMs += s1 - s0;
    state.PauseTiming();
    post.reset();
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) std::filesystem::remove(e.path());
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
  // CPU time of the upload itself, split into user space (parser, driver,
  // host copies) and kernel (page-cache writes).
  state.counters["user_ms"] = userMs / static_cast<double>(state.iterations());
  state.counters["sys_ms"] = sysMs / static_cast<double>(state.iterations());
}

void BM_OneFile1GiB(benchmark::State& state) {
  static const Bytes body = Files(1, size_t{1} << 30);
  RunUpload(state, body, kUploadOverwrite);
}
void BM_Files1000x64KiB(benchmark::State& state) {
  static const Bytes body = Files(1000, 64 * 1024);
  RunUpload(state, body, kUploadOverwrite);
}
void BM_Files1000x64KiBTempNames(benchmark::State& state) {
  static const Bytes body = Files(1000, 64 * 1024);
  RunUpload(state, body, kUploadUseTemp);
}
void BM_Fields10000(benchmark::State& state) {
  static const Bytes body = Fields(10000);
  RunUpload(state, body, kUploadOverwrite);
}
void BM_OneFile256MiBInMemory(benchmark::State& state) {
  static const Bytes body = Files(1, size_t{256} << 20);
  RunUpload(state, body, kUploadInMemory);
}

// 2000 parts of one client name under TV_UPLOAD_MAKEVERSIONS: same.txt,
// same(1).txt ... same(1999).txt, each of 100 bytes. The folder is scanned once
// per name, not probed once per candidate.
Bytes SameName(size_t count) {
  Bytes out;
  for (size_t i = 0; i < count; ++i)
    AppendText(out, kB + "\r\nContent-Disposition: form-data; name=\"f" + std::to_string(i) +
                        "\"; filename=\"same.txt\"\r\nContent-Type: text/plain\r\n\r\n" + std::string(100, 'v') +
                        "\r\n");
  AppendText(out, kB + "--\r\n");
  return out;
}
void BM_SameName2000Versions(benchmark::State& state) {
  static const Bytes body = SameName(2000);
  RunUpload(state, body, kUploadMakeVersions, 0);
}

// Resident memory of the process (kB of /proc/self/status): "VmRSS" or the
// peak "VmHWM", which writing "5" to /proc/self/clear_refs resets.
int64_t StatusKiB(const char* key) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return -1;
  char line[256];
  int64_t value = -1;
  size_t n = std::strlen(key);
  while (std::fgets(line, sizeof line, f))
    if (std::strncmp(line, key, n) == 0 && line[n] == ':') value = std::atoll(line + n + 1);
  std::fclose(f);
  return value;
}

// One request with one ordinary field of 1 MiB (the default MaxFieldSize), in
// memory: the peak resident memory above what the process held before it, for
// the first request (which also warms the process up) and the most any later
// one took.
void BM_Field1MiBPeakMemory(benchmark::State& state) {
  static const Bytes body = [] {
    Bytes out;
    AppendText(out, kB + "\r\nContent-Disposition: form-data; name=\"big\"\r\n\r\n");
    for (size_t i = 0; i < (size_t{1} << 20); ++i) out.push_back(static_cast<uint8_t>('a' + i % 23));
    AppendText(out, "\r\n" + kB + "--\r\n");
    return out;
  }();
  test::TempDir dir;
  test::MemHost host(dir.path());
  host.request->body = body;
  host.request->serverVariables["CONTENT_TYPE"] = "multipart/form-data; boundary=" + kB.substr(2);
  host.request->serverVariables["REQUEST_METHOD"] = "POST";
  test::MemHost::Scope scope(host);
  double first = -1, growth = 0;
  for (auto _ : state) {
    host.request->readPos = 0;
    host.request->readSizes.clear();
    state.PauseTiming();
    if (FILE* clear = std::fopen("/proc/self/clear_refs", "w")) {
      std::fputs("5", clear);
      std::fclose(clear);
    }
    int64_t before = StatusKiB("VmRSS");
    state.ResumeTiming();
    auto post = Post::CreateTyped();
    post->Upload(Variant::Missing(), Variant(int32_t{kUploadInMemory}), Variant(false), Variant::Missing());
    benchmark::DoNotOptimize(post->GetFormInputs()->Count());
    state.PauseTiming();
    double peak = static_cast<double>(StatusKiB("VmHWM") - before);
    if (first < 0) first = peak;  // the first request also warms the process up
    else growth = std::max(growth, peak);
    post.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(body.size()));
  state.counters["first_peak_growth_KiB"] = first;
  state.counters["peak_growth_KiB"] = growth;
}

BENCHMARK(BM_OneFile1GiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(5);
BENCHMARK(BM_Files1000x64KiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Files1000x64KiBTempNames)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Fields10000)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_OneFile256MiBInMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_SameName2000Versions)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_Field1MiBPeakMemory)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(20);

}  // namespace
}  // namespace torvane

BENCHMARK_MAIN();
