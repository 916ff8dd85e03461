// The buffered dataset's node list: fetching keys, scrolling row by row with and without
// hidden rows, seeking far rows, and key look-ups near the current row against a full scan.
#include <benchmark/benchmark.h>

#include <cstring>

#include "dbengine/IB_NodeList.h"

namespace {

using namespace pelvar;

void Fill(TIB_NodeList& list, int32_t rows) {
  list.SetKeyLength(4);
  for (int32_t k = 0; k < rows; ++k) list.AddKey(&k, false, false, true);
}

void AddKeys(benchmark::State& state) {
  const auto rows = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    TIB_NodeList list;
    Fill(list, rows);
    benchmark::DoNotOptimize(list.NodeCount());
  }
  state.SetItemsProcessed(state.iterations() * rows);
}
BENCHMARK(AddKeys)->Arg(100000);

void ScrollRows(benchmark::State& state) {
  TIB_NodeList list;
  Fill(list, 100000);
  if (state.range(0) != 0) {
    list.OnFilter = [](TIB_NodeList*, TIB_Node* n, bool& hidden) {
      int32_t k;
      std::memcpy(&k, n->Key.data(), 4);
      hidden = k % 3 == 0;
    };
    list.Refilter();
    list.SetFiltered(true);
  }
  for (auto _ : state) {
    list.SetRowNum(list.BofRowNum());
    while (!list.IsRowEof()) list.MoveRowBy(1);
  }
  state.SetItemsProcessed(state.iterations() * list.VisibleCount());
}
BENCHMARK(ScrollRows)->Arg(0)->Arg(1);

void SeekFarRows(benchmark::State& state) {
  TIB_NodeList list;
  Fill(list, 100000);
  int32_t n = 1;
  for (auto _ : state) {
    list.SetRowNum(n);
    n = n == 1 ? 50000 : 1;
  }
}
BENCHMARK(SeekFarRows);

// A key 80 rows before the current row (found by the window) against one far from it
// (found by the scan from BOF).
void LocateNearKey(benchmark::State& state) {
  TIB_NodeList list;
  Fill(list, 100000);
  const int32_t near = static_cast<int32_t>(state.range(0));
  list.SetRowNum(90001);
  TIB_NodePosition p;
  for (auto _ : state) benchmark::DoNotOptimize(list.LocateKey(&near, false, p));
}
BENCHMARK(LocateNearKey)->Arg(89920)->Arg(40000);

}  // namespace

BENCHMARK_MAIN();
