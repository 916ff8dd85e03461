// The play-in of two stations into a working copy of main (every option on, one cycle,
// as the wizard runs it) for the small and the large practice of tools/practice, against
// a raw client loop that inserts the same changed rows into the same tables of another
// copy of main through one prepared INSERT per table (keys from the tables' generators,
// no merging, no look-ups) in the same run, once with a commit every 900 rows and once with
// a commit after every row as the play-in's posts have. Rates are changed station rows per
// second; the play-in also prints its slowest steps to the error output;
// peak_rss_MB is the process's peak resident size after the run (the small practice runs
// first). The practices are made once in PELVAR_BENCH_DIR (default: a directory under
// /tmp), without forced writes, with indexes on the code and reference columns (the
// practice schema has none), and kept for later runs; every run plays fresh copies.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/raw_insert_loop.h"
#include "dbclient/ClientLibraryName.h"
#include "dbclient/IB_Components.h"
#include "dbclient/IB_Session.h"
#include "dbclient/IB_Utils.h"
#include "platform/codepage.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"

namespace pelvar {
namespace {

namespace fs = std::filesystem;

class AutoMainForm : public TMainFormLink {
 public:
  AnsiString ReadIniString(const AnsiString&, const AnsiString&, const AnsiString& def) override { return def; }
  int32_t StationIndex() const override { return station; }
  bool AutoContinue() const override { return true; }
  bool JournalRecentOnly() const override { return false; }
  int32_t ProgressMax() const override { return 0; }
  void SetProgressMax(int32_t) override {}
  void SetProgressPosition(int32_t) override {}
  void SetCountText(const AnsiString&) override {}
  void RepaintProgress() override {}
  int32_t station = 0;
};

const char* const kSizes[] = {"small", "large"};
const char* const kStations[] = {"st.fdb", "st624.fdb"};

struct Practices {
  Practices() {
    InstallClientLibraryNameProvider();
    EnsureClientAPI();
    const char* d = std::getenv("PELVAR_BENCH_DIR");
    dir = d ? fs::path(d) : fs::temp_directory_path() / "pelvar-bench-practice";
    for (const char* size : kSizes) {
      const fs::path at = dir / (std::string("play-") + size);
      fs::create_directories(at);
      fs::permissions(at, fs::perms::all);
      if (fs::exists(at / "done")) continue;
      const fs::path generator = fs::path(PELVAR_SOURCE_DIR) / "tools/practice/generate.py";
      const std::string cmd = "python3 " + generator.string() + " --quiet --seed 1 --size " + size +
                              " --today 2026-06-15 --main " + (at / "main.fdb").string() + " --station " +
                              (at / kStations[0]).string() + " --station-version 200824 --station " +
                              (at / kStations[1]).string() + " --station-version 200624";
      if (std::system(cmd.c_str()) != 0) std::abort();
      // Without forced writes, as the tests have them: the run measures the engine, not
      // the disk's flushes.
      for (const char* f : {"main.fdb", kStations[0], kStations[1]})
        if (std::system(("gfix -write async -user SYSDBA -password masterkey " + (at / f).string()).c_str()) != 0)
          std::abort();
      std::system(("touch " + (at / "done").string()).c_str());
    }
    for (const char* size : kSizes) {
      const fs::path at = dir / (std::string("play-") + size);
      if (fs::exists(at / "indexed")) continue;
      // The practice schema holds no indexes but the keys; a practice database has them on
      // its codes and references, and the play's look-ups by code rely on them.
      for (const char* f : {"main.fdb", kStations[0], kStations[1]}) {
        const std::string script = (at / "indexes.sql").string();
        std::FILE* out = std::fopen(script.c_str(), "w");
        std::fputs(
            "set term ^ ;\nexecute block as declare t varchar(63); declare c varchar(63); declare n integer = 0; "
            "begin for select trim(rf.RDB$RELATION_NAME), trim(rf.RDB$FIELD_NAME) from RDB$RELATION_FIELDS rf join "
            "RDB$RELATIONS r on r.RDB$RELATION_NAME = rf.RDB$RELATION_NAME join RDB$FIELDS f on f.RDB$FIELD_NAME = "
            "rf.RDB$FIELD_SOURCE where r.RDB$SYSTEM_FLAG = 0 and r.RDB$VIEW_BLR is null and f.RDB$FIELD_TYPE <> 261 "
            "and (rf.RDB$FIELD_NAME = rf.RDB$RELATION_NAME or rf.RDB$FIELD_NAME starting with 'ID_') and not exists "
            "(select 1 from RDB$RELATION_CONSTRAINTS k join RDB$INDEX_SEGMENTS s on s.RDB$INDEX_NAME = "
            "k.RDB$INDEX_NAME where k.RDB$RELATION_NAME = rf.RDB$RELATION_NAME and k.RDB$CONSTRAINT_TYPE = 'PRIMARY "
            "KEY' and s.RDB$FIELD_NAME = rf.RDB$FIELD_NAME and s.RDB$FIELD_POSITION = 0) into :t, :c do begin n = n "
            "+ 1; execute statement 'create index BX_' || n || ' on ' || t || ' (' || c || ')'; end end^\n"
            "set term ; ^\ncommit;\n",
            out);
        std::fclose(out);
        if (std::system(("isql-fb -q -user SYSDBA -password masterkey -i " + script + " " + (at / f).string()).c_str()) !=
            0)
          std::abort();
      }
      std::system(("touch " + (at / "indexed").string()).c_str());
    }
    work = dir / ("work-" + std::to_string(getpid()));
    fs::create_directories(work);
    fs::permissions(work, fs::perms::all);
    fs::current_path(work);  // Import.txt goes here
  }
  ~Practices() {
    fs::current_path(dir);
    fs::remove_all(work);
  }
  static Practices& Get() {
    static Practices p;
    return p;
  }
  // Fresh copies of a practice in the work directory.
  void Copy(int size) {
    const fs::path from = dir / (std::string("play-") + kSizes[size]);
    for (const char* f : {"main.fdb", kStations[0], kStations[1]})
      fs::copy_file(from / f, work / f, fs::copy_options::overwrite_existing);
  }
  std::string Work(const char* f) const { return (work / f).string(); }

  fs::path dir, work;
  AutoMainForm form;
  TDMMeldrun dm{nullptr, form};
};

void Report(benchmark::State& state, int64_t rows, double seconds) {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["rows_per_s"] = static_cast<double>(rows) / seconds;
  state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}

int64_t CopyRaw(Practices& p, int64_t& refused, bool commit_each_row = false) {
  return bench::CopyRaw(p.Work("main.fdb"), {p.Work(kStations[0]), p.Work(kStations[1])}, refused, commit_each_row);
}

int64_t MarkedRows(Practices& p) {
  int64_t refused = 0;
  // The copies are thrown away: the count is what is wanted.
  const int64_t rows = CopyRaw(p, refused);
  return rows;
}

// Seconds per play step (the step's caption) over a run, kept to say where a run's time goes.
struct StepTimes {
  void Start(const AnsiString& caption) {
    Stop();
    current = caption;
    since = std::chrono::steady_clock::now();
  }
  void Stop() {
    if (!current.empty())
      seconds[current] += std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
    current.clear();
  }
  void Print() const {
    std::vector<std::pair<double, std::string>> order;
    for (const auto& [caption, s] : seconds) order.emplace_back(s, caption);
    std::sort(order.rbegin(), order.rend());
    for (size_t i = 0; i < order.size() && i < 12; ++i)
      std::fprintf(stderr, "  %8.2f s  %s\n", order[i].first, AnsiToUtf8(order[i].second).c_str());
  }
  std::map<std::string, double> seconds;
  std::string current;
  std::chrono::steady_clock::time_point since;
};

void BM_PlayIn(benchmark::State& state) {
  Practices& p = Practices::Get();
  StepTimes steps;
  const int size = static_cast<int>(state.range(0));
  int64_t rows = 0;
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    p.Copy(size);
    rows = MarkedRows(p);
    p.Copy(size);
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    p.dm.CommitAfter = 900;
    p.dm.LowestVersion = 999999;
    p.dm.OpenDst(p.Work("main.fdb"), AdministratorUser, AdministratorPassword);
    p.dm.SetJournalTriggers(0);
    p.dm.InitStationLists(2);
    for (int s = 0; s < 2; ++s) {
      p.form.station = s;
      p.dm.OpenSrc(p.Work(kStations[s]), AdministratorUser, AdministratorPassword);
      p.dm.CheckDatabaseVersion("Src", s == 0 ? 200824 : 200624);
      p.dm.CycleIndex = 0;
      p.dm.IsLastCycle = true;
      auto m = std::make_unique<TMeldrun>();
      m->Zaklad = m->ExPartner = m->ExPacient = m->Karty = m->Doklady = m->Uzaverky = m->Ciselniky =
          m->OrgStruktura = m->AutoChange = true;
      m->OnStep = [&steps](int32_t, int32_t, const AnsiString& caption) { steps.Start(caption); };
      m->Execute();
      steps.Stop();
      m.reset();
      p.dm.CommitBoth();
      p.dm.Src()->SetConnected(false);
    }
    p.dm.CommitBoth();
    p.dm.Dst()->SetConnected(false);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  Report(state, rows, seconds);
  std::fprintf(stderr, "slowest play steps (%s practice):\n", kSizes[size]);
  steps.Print();
}
BENCHMARK(BM_PlayIn)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_RawInsertLoop(benchmark::State& state) {
  Practices& p = Practices::Get();
  const int size = static_cast<int>(state.range(0));
  const bool commit_each_row = state.range(1) != 0;
  int64_t rows = 0, refused = 0;
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    p.Copy(size);
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    rows = CopyRaw(p, refused, commit_each_row);
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  Report(state, rows, seconds);
  state.counters["refused"] = static_cast<double>(refused);
}
BENCHMARK(BM_RawInsertLoop)->ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"size", "commit_each_row"})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace pelvar

BENCHMARK_MAIN();
