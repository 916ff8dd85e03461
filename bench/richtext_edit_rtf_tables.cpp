// RTF import of tables whose grids grow row by row, and of a plain long table: one row of
// 100,000 cells (refused by the grid limit), rows that each split the last column once
// more (below and past the limit), a first column merged down 20,000 rows, and 5,000 rows
// of six cells. Counters: seconds per import, the reader's result code, the grid's rows
// and columns.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "richtext/edit/RVTable.h"
#include "richtext/model/RVRTFProps.h"

namespace {

std::string RowOfCells(int cells) {
  std::string rtf = "{\\rtf1 \\trowd\\cellx1000\\pard\\intbl ";
  for (int i = 0; i < cells; ++i) rtf += "x\\cell ";
  return rtf + "\\row}";
}

std::string SplittingRows(int rows) {
  std::string rtf = "{\\rtf1 ";
  for (int r = 0; r < rows; ++r)
    rtf += "\\trowd\\cellx" + std::to_string(10 * (r + 1)) + "\\cellx40000\\pard\\intbl a\\cell b\\cell\\row ";
  return rtf + "}";
}

std::string MergedColumn(int rows) {
  std::string rtf = "{\\rtf1 ";
  for (int r = 0; r < rows; ++r)
    rtf += std::string(r ? "\\trowd\\clvmrg" : "\\trowd\\clvmgf") + "\\cellx1000\\cellx2000\\pard\\intbl \\cell b" +
           std::to_string(r) + "\\cell\\row ";
  return rtf + "}";
}

std::string PlainTable(int rows, int cols) {
  std::string rtf = "{\\rtf1 ";
  for (int r = 0; r < rows; ++r) {
    rtf += "\\trowd";
    for (int c = 1; c <= cols; ++c) rtf += "\\cellx" + std::to_string(c * 1000);
    rtf += "\\pard\\intbl ";
    for (int c = 0; c < cols; ++c) rtf += "r" + std::to_string(r) + "c" + std::to_string(c) + "\\cell ";
    rtf += "\\row ";
  }
  return rtf + "}";
}

void Import(benchmark::State& state, const std::string& rtf) {
  double seconds = 0;
  int64_t runs = 0;
  int code = 0, rows = 0, cols = 0;
  for (auto _ : state) {
    pelvar::TRVStyle style(nullptr);
    pelvar::TCustomRVData doc;
    doc.SetRVStyle(&style);
    pelvar::TRVRTFReaderProperties props;
    pelvar::TStringStream in(rtf);
    int32_t index = 0;
    const auto t0 = std::chrono::steady_clock::now();
    code = props.ReadRTFFromStream(in, &doc, index);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ++runs;
    auto* t = doc.ItemCount() ? dynamic_cast<pelvar::TRVTableItemInfo*>(doc.GetItem(0)) : nullptr;
    rows = t ? t->RowCount() : 0;
    cols = t ? t->ColCount() : 0;
  }
  state.counters["input_KB"] = static_cast<double>(rtf.size()) / 1e3;
  state.counters["import_s"] = seconds / static_cast<double>(std::max<int64_t>(runs, 1));
  state.counters["code"] = code;
  state.counters["rows"] = rows;
  state.counters["cols"] = cols;
}

void BM_RowOf100000Cells(benchmark::State& state) { Import(state, RowOfCells(100000)); }
void BM_RowsSplittingColumns(benchmark::State& state) { Import(state, SplittingRows(static_cast<int>(state.range(0)))); }
void BM_MergedColumn(benchmark::State& state) { Import(state, MergedColumn(static_cast<int>(state.range(0)))); }
void BM_PlainTable(benchmark::State& state) { Import(state, PlainTable(static_cast<int>(state.range(0)), 6)); }

BENCHMARK(BM_RowOf100000Cells)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RowsSplittingColumns)->Arg(250)->Arg(2000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_MergedColumn)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_PlainTable)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
