// Inflate speed of the kit's decoder beside zlib's on the same data: a 56 MB corpus of
// mixed text and binary, deflated by zlib at level 9.
#include <benchmark/benchmark.h>

#include "archive/abdfdec.h"
#include "archive_corpus.h"

namespace {

using namespace pelvar;

struct Data {
  std::string plain = bench::MakeCorpus(56u << 20);
  std::string packed = bench::ZlibLib().Deflate(plain, 9);
};
const Data& Corpus() {
  static const Data d;
  return d;
}

void BM_Inflate_Kit(benchmark::State& state) {
  const Data& d = Corpus();
  bench::MemWriteStream out(d.plain.size());
  for (auto _ : state) {
    out.Clear();
    bench::MemReadStream in(d.packed.data(), d.packed.size());
    benchmark::DoNotOptimize(Inflate(&in, &out, nullptr));
    if (out.Data().size() != d.plain.size()) state.SkipWithError("wrong output size");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.plain.size()));
  state.counters["packed_MB"] = static_cast<double>(d.packed.size()) / 1e6;
}
BENCHMARK(BM_Inflate_Kit)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Inflate_Zlib(benchmark::State& state) {
  const Data& d = Corpus();
  std::string out(d.plain.size(), '\0');
  for (auto _ : state) {
    if (bench::ZlibLib().Inflate(d.packed, out) != d.plain.size()) state.SkipWithError("wrong output size");
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * d.plain.size()));
}
BENCHMARK(BM_Inflate_Zlib)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
