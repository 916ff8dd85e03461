// Deflate speed and size of the kit's encoder at the maximum preset and at the
// default, beside zlib levels 6 and 9, on the corpus of the inflate benchmark.
#include <benchmark/benchmark.h>

#include "archive/abdfdec.h"
#include "archive/abdfenc.h"
#include "archive_corpus.h"

namespace {

using namespace pelvar;

const std::string& Plain() {
  static const std::string plain = bench::MakeCorpus(56u << 20);
  return plain;
}

void KitDeflate(benchmark::State& state, char preset) {
  const std::string& plain = Plain();
  bench::MemWriteStream out(plain.size());
  for (auto _ : state) {
    out.Clear();
    bench::MemReadStream in(plain.data(), plain.size());
    TAbDeflateHelper helper;
    helper.SetPresetLetter('0');
    helper.SetPresetLetter(preset);
    benchmark::DoNotOptimize(Deflate(&in, &out, &helper));
  }
  // The output must come back whole.
  bench::MemReadStream packed(out.Data().data(), out.Data().size());
  bench::MemWriteStream back(plain.size());
  Inflate(&packed, &back, nullptr);
  if (back.Data() != plain) state.SkipWithError("round trip failed");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * plain.size()));
  state.counters["packed_bytes"] = static_cast<double>(out.Data().size());
  state.counters["ratio_pct"] = 100.0 * static_cast<double>(out.Data().size()) / static_cast<double>(plain.size());
}

void ZlibDeflate(benchmark::State& state, int level) {
  const std::string& plain = Plain();
  size_t size = 0;
  for (auto _ : state) {
    const std::string packed = bench::ZlibLib().Deflate(plain, level);
    size = packed.size();
    benchmark::DoNotOptimize(packed.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * plain.size()));
  state.counters["packed_bytes"] = static_cast<double>(size);
  state.counters["ratio_pct"] = 100.0 * static_cast<double>(size) / static_cast<double>(plain.size());
}

BENCHMARK_CAPTURE(KitDeflate, maximum_x, 'x')->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK_CAPTURE(ZlibDeflate, level_9, 9)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK_CAPTURE(KitDeflate, default_n, 'n')->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK_CAPTURE(ZlibDeflate, level_6, 6)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace

BENCHMARK_MAIN();
