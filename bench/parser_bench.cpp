// The multipart record parser over the in-memory host, content discarded.
// Each case runs at two sizes (1x and 4x) to show that the time is linear in
// the body size, and reports the parser's own buffer memory, which must not
// depend on the size.
#include <benchmark/benchmark.h>

#include <cstring>
#include <map>
#include <random>

#include "support/memhost.h"
#include "upload/record_parser.h"

namespace torvane {
namespace {

const std::string kB = "------TorvaneBenchBoundary";

void AppendText(Bytes& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

void FileHead(Bytes& out) {
  AppendText(out, kB + "\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.bin\"\r\n"
                       "Content-Type: application/octet-stream\r\n\r\n");
}
void Close(Bytes& out) { AppendText(out, "\r\n" + kB + "--\r\n"); }

Bytes RandomFile(size_t n) {
  Bytes out;
  out.reserve(n + 512);
  FileHead(out);
  std::mt19937_64 rng(42);
  size_t start = out.size();
  out.resize(start + n);
  for (size_t i = 0; i < n; i += 8) {
    uint64_t v = rng();
    std::memcpy(out.data() + start + i, &v, std::min<size_t>(8, n - i));
  }
  Close(out);
  return out;
}

Bytes TextLines(size_t n) {
  Bytes out;
  out.reserve(n + 512);
  FileHead(out);
  std::string line(78, 'x');
  for (size_t i = 0; i < line.size(); ++i) line[i] = static_cast<char>('a' + i % 26);
  line += "\r\n";
  for (size_t done = 0; done < n; done += line.size()) AppendText(out, line);
  Close(out);
  return out;
}

Bytes SmallFields(size_t count) {
  Bytes out;
  for (size_t i = 0; i < count; ++i)
    AppendText(out, kB + "\r\nContent-Disposition: form-data; name=\"field" + std::to_string(i) + "\"\r\n\r\nvalue " +
                        std::to_string(i) + "\r\n");
  AppendText(out, kB + "--\r\n");
  return out;
}

Bytes CrLfFlood(size_t n) {
  Bytes out;
  FileHead(out);
  for (size_t i = 0; i < n / 2; ++i) AppendText(out, "\r\n");
  Close(out);
  return out;
}

Bytes NoLineEnd(size_t n) {
  Bytes out;
  FileHead(out);
  out.insert(out.end(), n, 'q');
  Close(out);
  return out;
}

// Bodies are built once per (kind, size) and kept for every iteration.
const Bytes& Body(int kind, size_t size) {
  static std::map<std::pair<int, size_t>, Bytes> cache;
  auto key = std::make_pair(kind, size);
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  Bytes b;
  switch (kind) {
    case 0: b = RandomFile(size); break;
    case 1: b = TextLines(size); break;
    case 2: b = SmallFields(size); break;
    case 3: b = CrLfFlood(size); break;
    default: b = NoLineEnd(size); break;
  }
  return cache.emplace(key, std::move(b)).first->second;
}

// `hostReadSize`: what the host hands over per BinaryRead (1024 for the
// classic host, 64 KiB for the web server).
void Parse(benchmark::State& state, int kind, int64_t hostReadSize = 1024) {
  size_t size = static_cast<size_t>(state.range(0));
  test::MemHost host;
  host.request->body = Body(kind, size);
  host.request->bodyReadSize = hostReadSize;
  host.request->serverVariables["CONTENT_TYPE"] = "multipart/form-data; boundary=" + kB.substr(2);
  test::MemHost::Scope scope(host);
  size_t parserBytes = 0;
  int64_t records = 0;
  for (auto _ : state) {
    host.request->readPos = 0;
    host.request->readSizes.clear();
    RecordParser parser;
    parser.SetBytesRemaining(static_cast<int64_t>(host.request->body.size()));
    int64_t content = 0;
    for (;;) {
      int32_t k = parser.GetARecord(true);
      if (k == kEndOfRequest) break;
      if (k == kData || k == kLongData) content += static_cast<int64_t>(parser.Record().size());
      ++records;
    }
    benchmark::DoNotOptimize(content);
    parserBytes = parser.HeapBytes();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(host.request->body.size()));
  state.counters["parser_heap_KiB"] = static_cast<double>(parserBytes) / 1024.0;
  state.counters["records"] = benchmark::Counter(static_cast<double>(records), benchmark::Counter::kAvgIterations);
}

constexpr int64_t MiB = 1 << 20;

void BM_RandomFile(benchmark::State& s) { Parse(s, 0); }
// The same body read as the web server hands it over (64 KiB per read), as
// busboy is fed in bench/peers/busboy_parse.js.
void BM_RandomFileServerReads(benchmark::State& s) { Parse(s, 0, 64 * 1024); }
void BM_TextLines80(benchmark::State& s) { Parse(s, 1); }
void BM_SmallFields(benchmark::State& s) { Parse(s, 2); }
void BM_CrLfPairs(benchmark::State& s) { Parse(s, 3); }
void BM_NoLineEnd(benchmark::State& s) { Parse(s, 4); }

BENCHMARK(BM_RandomFile)->Arg(64 * MiB)->Arg(256 * MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_RandomFileServerReads)->Arg(256 * MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_TextLines80)->Arg(16 * MiB)->Arg(64 * MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_SmallFields)->Arg(2500)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1);
BENCHMARK(BM_CrLfPairs)->Arg(2 * MiB)->Arg(8 * MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1);
BENCHMARK(BM_NoLineEnd)->Arg(2 * MiB)->Arg(8 * MiB)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(1);

}  // namespace
}  // namespace torvane

BENCHMARK_MAIN();
