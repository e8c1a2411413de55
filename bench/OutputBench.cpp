// Throughput of the backend output handler: decoding, token masking and tail keeping
// on the kinds of output a backend really writes.
#include <benchmark/benchmark.h>

#include <string>

#include "backend/OutputProcessor.h"

namespace {

const std::string kToken = "k3J9xQ2mP7vL0aZ8rT5wY1nB6cD4eF0g";

std::string logLines(std::size_t bytes, bool withToken) {
  std::string out;
  int n = 0;
  while (out.size() < bytes) {
    out += "2026-12-07 10:00:00 INFO scheduler: agent run " + std::to_string(n++) +
           " finished in 0.42 s — résumé ✓";
    if (withToken && n % 50 == 0) out += " auth=" + kToken;
    out += '\n';
  }
  out.resize(bytes);
  return out;
}

void feedChunks(benchmark::State& state, const std::string& data) {
  const std::size_t chunk = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    brivok::OutputProcessor processor(kToken);
    std::size_t produced = 0;
    for (std::size_t at = 0; at < data.size(); at += chunk) {
      produced += processor.feed(std::string_view(data).substr(at, chunk)).log.size();
    }
    produced += processor.finish().log.size();
    benchmark::DoNotOptimize(produced);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(data.size()));
}

void BM_LogLines(benchmark::State& state) {
  static const std::string data = logLines(8 << 20, false);
  feedChunks(state, data);
}
BENCHMARK(BM_LogLines)->Arg(4096)->Arg(65536);

void BM_LogLinesWithToken(benchmark::State& state) {
  static const std::string data = logLines(8 << 20, true);
  feedChunks(state, data);
}
BENCHMARK(BM_LogLinesWithToken)->Arg(4096)->Arg(65536);

// What bench/flood.sh pours through the shell: the readiness line, then log lines, with a
// token like the shell's own (32 upper-case hexadecimal digits).
void BM_AfterReadiness(benchmark::State& state) {
  static const std::string data = [] {
    std::string s = "BRIVOK_READY http://127.0.0.1:9/\n";
    while (s.size() < (8u << 20))
      s += "2026-12-07 10:00:00 INFO scheduler: agent run finished in 0.42 s, nothing to report\n";
    return s;
  }();
  const std::size_t chunk = static_cast<std::size_t>(state.range(0));
  for (auto _ : state) {
    brivok::OutputProcessor processor("5F3A9C0B7E21D4486B90AC3F1E7D2B55");
    std::size_t produced = 0;
    for (std::size_t at = 0; at < data.size(); at += chunk) {
      produced += processor.feed(std::string_view(data).substr(at, chunk)).log.size();
    }
    benchmark::DoNotOptimize(produced);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_AfterReadiness)->Arg(65536)->Arg(1 << 20);

// Worst case for the masker: every byte could start the token.
void BM_TokenAlphabetOnly(benchmark::State& state) {
  static const std::string data = [] {
    std::string s;
    while (s.size() < (8u << 20)) s += kToken.substr(0, 7) + "-";
    return s;
  }();
  feedChunks(state, data);
}
BENCHMARK(BM_TokenAlphabetOnly)->Arg(65536);

void BM_BinaryNoise(benchmark::State& state) {
  static const std::string data = [] {
    std::string s(8 << 20, '\0');
    unsigned x = 12345;
    for (char& c : s) {
      x = x * 1103515245u + 12345u;
      c = static_cast<char>(x >> 16);
    }
    return s;
  }();
  feedChunks(state, data);
}
BENCHMARK(BM_BinaryNoise)->Arg(65536);

}  // namespace

BENCHMARK_MAIN();
