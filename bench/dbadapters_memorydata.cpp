// The memory table with the documents layout: appending 100,000 rows and locating rows
// among them. Reports the time and the process's peak resident memory.
#include <benchmark/benchmark.h>

#include <fstream>
#include <string>

#include "dbadapters/MemoryData.h"
#include "platform/dateutils.h"
#include "tests/dbadapters/memory_layouts.h"

using namespace pelvar;

namespace {

constexpr int kRows = 100000;

// A line of /proc/self/status in kB ("VmHWM", "VmRSS").
double StatusKb(const std::string& key) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, key.size() + 1, key + ":") == 0) return std::stod(line.substr(key.size() + 1));
  return 0;
}

void Fill(TMemoryData& t, int rows) {
  TField* id = t.FieldByName("ID_DOKLAD");
  TField* doklad = t.FieldByName("DOKLAD");
  TField* typ = t.FieldByName("TYP_DOKLADU");
  TField* partner = t.FieldByName("PARTNER_NAZEV");
  TField* datum = t.FieldByName("DATUM_DOKLADU");
  TField* cena = t.FieldByName("CENA");
  TField* poznamka = t.FieldByName("POZNAMKA");
  const TDateTime day = EncodeDate(2008, 1, 1);
  for (int i = 0; i < rows; ++i) {
    t.Append();
    id->SetAsInteger(i);
    doklad->SetAsString(std::to_string(i));
    typ->SetAsString(i % 2 ? "FA" : "PD");
    partner->SetAsString("Partner " + std::to_string(i % 977));
    datum->SetAsDateTime(day + i % 365);
    cena->SetAsFloat(i * 1.25);
    if (i % 10 == 0) poznamka->SetAsString("poznamka " + std::to_string(i));
    t.Post();
  }
}

std::unique_ptr<TMemoryData> NewTable() {
  auto t = std::make_unique<TMemoryData>(nullptr);
  pelvar::testing::AddLayoutFields(t.get(), pelvar::testing::kDokladLayout);
  t->SetKeyFieldNames("ID_DOKLAD;DOKLAD;ID_PREDEK");
  t->Open();
  return t;
}

void BM_Append100k(benchmark::State& state) {
  double rss_per_row = 0;
  for (auto _ : state) {
    double before = StatusKb("VmRSS");
    auto t = NewTable();
    t->SetCapacity(kRows);
    Fill(*t, kRows);
    rss_per_row = (StatusKb("VmRSS") - before) * 1024.0 / kRows;
    benchmark::DoNotOptimize(t->RecordCount());
  }
  state.SetItemsProcessed(state.iterations() * kRows);
  state.counters["bytes_per_row"] = rss_per_row;
  state.counters["peak_rss_MB"] = StatusKb("VmHWM") / 1024.0;
}
BENCHMARK(BM_Append100k)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_Locate100k(benchmark::State& state) {
  auto t = NewTable();
  Fill(*t, kRows);
  const bool text_keys = state.range(0) != 0;
  int n = 0;
  for (auto _ : state) {
    // Keys spread over the table; the walk starts at the first row each time.
    int target = kRows - 1 - (n++ * 7919) % (kRows / 2);
    bool found = text_keys
                     ? t->Locate("DOKLAD;TYP_DOKLADU",
                                 VarArrayOf({std::to_string(target), target % 2 ? "fa" : "pd"}),
                                 {loCaseInsensitive})
                     : t->Locate("ID_DOKLAD", Variant(target), {});
    if (!found) state.SkipWithError("row not found");
    t->First();
  }
  state.counters["peak_rss_MB"] = StatusKb("VmHWM") / 1024.0;
}
BENCHMARK(BM_Locate100k)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
