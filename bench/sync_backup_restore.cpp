// Backup and restore of a large practice database through the data module's services
// (the wizard's display modes: 1 for backups, 2 for restores, and 0) against the gbak
// command line on the same file in the same run. The database is made once by
// tools/practice (--size large) in PELVAR_BENCH_DIR (default: a directory under /tmp)
// and kept for later runs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "dbclient/ClientLibraryName.h"
#include "sync/DmMeld.h"

namespace pelvar {
namespace {

namespace fs = std::filesystem;

class NoMainForm : public TMainFormLink {
 public:
  AnsiString ReadIniString(const AnsiString&, const AnsiString&, const AnsiString& def) override {
    return def;
  }
  int32_t StationIndex() const override { return 0; }
  bool AutoContinue() const override { return false; }
  bool JournalRecentOnly() const override { return false; }
  int32_t ProgressMax() const override { return 0; }
  void SetProgressMax(int32_t) override {}
  void SetProgressPosition(int32_t) override {}
  void SetCountText(const AnsiString&) override {}
  void RepaintProgress() override {}
};

struct Practice {
  Practice() {
    InstallClientLibraryNameProvider();
    const char* d = std::getenv("PELVAR_BENCH_DIR");
    dir = d ? fs::path(d) : fs::temp_directory_path() / "pelvar-bench-practice";
    fs::create_directories(dir);
    fs::permissions(dir, fs::perms::all);
    db = (dir / "large.fdb").string();
    if (!fs::exists(db)) {
      // The generator beside this source, or below the current directory.
      fs::path generator = fs::path(__FILE__).parent_path().parent_path() / "tools/practice/generate.py";
      if (!fs::exists(generator)) generator = "tools/practice/generate.py";
      const std::string cmd = "python3 " + generator.string() +
                              " --quiet --seed bench --size large --today 2026-06-15 --main " + db;
      if (std::system(cmd.c_str()) != 0) std::abort();
    }
    bkp = (dir / "large.fbk").string();
  }
  static Practice& Get() {
    static Practice p;
    return p;
  }
  fs::path dir;
  std::string db, bkp;
  NoMainForm form;
  TDMMeldrun dm{nullptr, form};
};

void Shell(const std::string& cmd) {
  if (std::system((cmd + " >/dev/null 2>&1").c_str()) != 0) std::abort();
}

void BM_BackupServices(benchmark::State& state) {
  Practice& p = Practice::Get();
  for (auto _ : state) p.dm.BackupDatabase(p.db, p.bkp, static_cast<int32_t>(state.range(0)), "b", 'L', 0, 0);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(p.db)));
}
BENCHMARK(BM_BackupServices)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_BackupGbak(benchmark::State& state) {
  Practice& p = Practice::Get();
  for (auto _ : state) Shell("gbak -b -user SYSDBA -pas masterkey " + p.db + " " + p.bkp);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(p.db)));
}
BENCHMARK(BM_BackupGbak)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_RestoreServices(benchmark::State& state) {
  Practice& p = Practice::Get();
  if (!fs::exists(p.bkp)) Shell("gbak -b -user SYSDBA -pas masterkey " + p.db + " " + p.bkp);
  const std::string target = (p.dir / "restored.fdb").string();
  for (auto _ : state)
    p.dm.RestoreDatabase(target, p.bkp, static_cast<int32_t>(state.range(0)), "r", 'L', 0, 0);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(p.db)));
}
BENCHMARK(BM_RestoreServices)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_RestoreGbak(benchmark::State& state) {
  Practice& p = Practice::Get();
  if (!fs::exists(p.bkp)) Shell("gbak -b -user SYSDBA -pas masterkey " + p.db + " " + p.bkp);
  const std::string target = (p.dir / "restored.fdb").string();
  for (auto _ : state)
    Shell("gbak -rep -page_size 4096 -user SYSDBA -pas masterkey " + p.bkp + " " + target);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(fs::file_size(p.db)));
}
BENCHMARK(BM_RestoreGbak)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace
}  // namespace pelvar

BENCHMARK_MAIN();
