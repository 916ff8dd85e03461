// The whole wizard run as an administrator makes it, headless: two station archives on
// their media (a zip of "Identifikace.txt" and the backup "Pelvar.cb0", made with gbak and
// Python's zipfile), the main database where "Meldrun.ini" names it, the settings and the
// table groups of the demo practice (scripts/demo.sh: commit every 900 rows, one work-flow
// cycle, every group but the stock closings, automatic equipment changes, the backup
// verified, the station data kept), every message box answered with its default button.
// Timed: preparation (both Next presses of the first two pages), the play-in of each
// station (its Start), finishing and delivery (Finally). Each station's steps are printed
// with their times, the memory-table steps also by phase (filling, resolution, import).
// In the same run the changed rows of both stations go through a raw prepared INSERT loop
// into another copy of main (bench/raw_insert_loop.h), once with a commit every 900 rows
// and once with a commit after each row: rows/s of the play-in (the changed rows the raw
// loop copies over the time of both Starts) against those. peak_rss_MB is the process's
// peak resident size after the wizard run. The load average is printed beside the times.
//
// Arg 0 is the small practice of tools/practice, 1 the large one (about 100,000 changed
// rows per station), both with two stations at the current schema; each is generated once (as they are: no index added) into
// PELVAR_BENCH_DIR (default: a directory under /tmp) and kept; every run works on copies.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/raw_insert_loop.h"
#include "dbclient/ClientLibraryName.h"
#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "wizard/MldrMain.h"

namespace pelvar {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* const kSizes[] = {"small", "large"};

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string a, b, c;
  in >> a >> b >> c;
  return a + " " + b + " " + c;
}

void Run(const std::string& command) {
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", command.c_str());
    std::abort();
  }
}

// The generated practice of one size: main.fdb, the stations' databases and their archives.
fs::path Practice(int size) {
  const char* d = std::getenv("PELVAR_BENCH_DIR");
  const fs::path at = (d ? fs::path(d) : fs::temp_directory_path() / "pelvar-bench-practice") /
                      (std::string("wizard-") + kSizes[size]);
  if (fs::exists(at / "done")) return at;
  fs::create_directories(at);
  const std::string generator = (fs::path(PELVAR_SOURCE_DIR) / "tools/practice/generate.py").string();
  Run("python3 " + generator + " --quiet --seed 1 --size " + kSizes[size] + " --today 2026-06-15 --main " +
      (at / "main.fdb").string() + " --station " + (at / "st1.fdb").string() + " --station " +
      (at / "st2.fdb").string());
  const char* stations[] = {"st1", "st2"};
  for (int i = 0; i < 2; ++i) {
    const std::string n = std::to_string(i + 1);
    const std::string backup = (at / (std::string(stations[i]) + ".fbk")).string();
    Run("gbak -b -user SYSDBA -password masterkey " + (at / (std::string(stations[i]) + ".fdb")).string() + " " +
        backup);
    Run("python3 -c \"import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    z.writestr('Identifikace.txt', sys.argv[2] + '\\r\\n')\n    z.write(sys.argv[3], 'Pelvar.cb0')\" " +
        (at / ("stanice" + n + ".zip")).string() + " PC" + n + " " + backup);
    fs::remove(backup);
  }
  std::ofstream(at / "done").put('\n');
  return at;
}

// Seconds per label, in the order first met; each label is told as it starts, with the
// minutes since the run began, so that a long run shows where it is.
struct Times {
  void Start(const std::string& label) {
    Stop();
    current = label;
    since = Clock::now();
    std::fprintf(stderr, "[%6.1f min] %s\n", std::chrono::duration<double>(since - run_start).count() / 60,
                 label.c_str());
  }
  void Stop() {
    if (current.empty()) return;
    if (!seconds.count(current)) order.push_back(current);
    seconds[current] += Seconds(since);
    current.clear();
  }
  void Print(const char* title) const {
    std::fprintf(stderr, "%s\n", title);
    for (const std::string& label : order) std::fprintf(stderr, "  %9.2f s  %s\n", seconds.at(label), label.c_str());
  }
  std::map<std::string, double> seconds;
  std::vector<std::string> order;
  std::string current;
  Clock::time_point since;
  static inline Clock::time_point run_start = Clock::now();
};

// The engine with its steps timed; the form binds OnStep before Execute.
class TimedMeldrun : public TMeldrun {
 public:
  explicit TimedMeldrun(Times& steps) : steps_(steps) {}
  void Execute() override {
    auto inner = OnStep;
    OnStep = [this, inner](int32_t i, int32_t n, const AnsiString& caption) {
      step_ = AnsiToUtf8(caption);
      steps_.Start(step_);
      if (inner) inner(i, n, caption);
    };
    TMeldrun::Execute();
    steps_.Stop();
  }
  const std::string& Step() const { return step_; }

 private:
  Times& steps_;
  std::string step_;
};

class BenchWizard : public TFrmMldrMain {
 public:
  using TFrmMldrMain::TFrmMldrMain;
  ~BenchWizard() override { BeforeDestruction(); }
  Times* steps = nullptr;
  const TimedMeldrun* engine = nullptr;

 protected:
  std::unique_ptr<TMeldrun> NewEngine() override {
    auto e = std::make_unique<TimedMeldrun>(*steps);
    engine = e.get();
    return e;
  }
};

// Splits a memory-table step by the phase its count label names ("Import záznamů (i/n)"
// counts as one phase).
class PhaseView : public TMldrMainView {
 public:
  BenchWizard* wizard = nullptr;
  void Update(const TFrmMldrMain& form) override {
    if (wizard == nullptr || wizard->engine == nullptr || !form.StepRunning()) return;
    std::string phase = AnsiToUtf8(form.L_Count);
    const size_t cut = phase.find(" (");
    if (cut != std::string::npos) phase.resize(cut);
    if (phase.empty() || phase == last_) return;
    last_ = phase;
    if (phase == "Plnění paměťové tabulky" || phase == "Aktualizace hodnot tabulky" ||
        phase == "Aktualizace vazeb na předky" || phase == "Import nových záznamů" || phase == "Import záznamů")
      wizard->steps->Start(wizard->engine->Step() + " / " + phase);
  }

 private:
  std::string last_;
};

void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary);
  out << text;
}

void BM_WizardWholeRun(benchmark::State& state) {
  InstallClientLibraryNameProvider();
  const int size = static_cast<int>(state.range(0));
  const fs::path practice = Practice(size);
  const fs::path work = practice.parent_path() / ("wizard-work-" + std::to_string(getpid()));
  double prepare = 0, play[2] = {0, 0}, finish = 0, raw_bulk = 0, raw_each = 0;
  int64_t rows = 0, refused = 0;
  double rss_mb = 0;
  bool finished = false;
  std::string load_before, load_after;
  std::vector<std::string> dialogs;
  Times steps[2];
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove_all(work);
    for (const char* d : {"Data", "Zaloha", "media/pc1", "media/pc2", "raw"}) fs::create_directories(work / d);
    fs::copy_file(practice / "main.fdb", work / "Data/Pelvar.fdb");
    fs::copy_file(practice / "stanice1.zip", work / "media/pc1/stanice1.zip");
    fs::copy_file(practice / "stanice2.zip", work / "media/pc2/stanice2.zip");
    const std::string w = work.string();
    WriteText(work / "Meldrun.ini", "[DATABAZE]\r\nPath=" + w + "/Data\r\nDBFileName=Pelvar.fdb\r\nBkpPath=" + w +
                                        "/Zaloha\r\nBkpFileName=Pelvar.gbk\r\n[PROGRAM_FLOW]\r\nCommitAfter=900\r\n"
                                        "WorkFlowCycles=1\r\n[RESULTS]\r\nRequestForDestination=NE\r\n[ARCHIV]\r\n"
                                        "ArchDir=ARCHIV\r\n");
    const std::string key = "HKEY_CURRENT_USER\\Software\\Brontek\\Pelvar";
    std::string reg = "PELVAR REGISTRY 1\n\n[" + key + "\\LastValues]\n\"Path\"=\"PC1|" + w +
                      "/media/pc1/stanice1.zip;PC2|" + w + "/media/pc2/stanice2.zip\"\n";
    for (const char* box : {"Zaklad", "ExPartner", "ExPacient", "Karty", "Doklady", "Ciselniky", "OrgStruktura"})
      reg += std::string("\"CB_") + box + ".Checked\"=dword:00000001\n";
    reg += "\"CB_Uzaverky.Checked\"=dword:00000000\n[" + key + "\\AutoChange]\n\"CB_AutoChange.Checked\"=dword:00000001\n[" +
           key + "\\VerifyZaloha]\n\"CB_VerifyZaloha.Checked\"=dword:00000001\n[" + key +
           "\\PonechatData]\n\"CB_PonechatData.Checked\"=dword:00000001\n";
    WriteText(work / "registry.reg", reg);
    ::setenv("PELVAR_REGISTRY", (work / "registry.reg").c_str(), 1);
    fs::current_path(work);
    const TDialogResponder previous = SetDialogResponder([&dialogs](const TDialogRequest& r) {
      dialogs.push_back(AnsiToUtf8(r.Text));
      return r.DefaultResult != mrNone ? r.DefaultResult : mrOk;
    });
    load_before = LoadAverage();
    Times::run_start = Clock::now();
    state.ResumeTiming();

    {
      BenchWizard wizard(AnsiString(w + "/"));
      PhaseView view;
      view.wizard = &wizard;
      wizard.SetView(&view);
      wizard.MakeDataModule();
      wizard.Show();
      auto since = Clock::now();
      for (int page = 0; page < 2; ++page) {
        wizard.TimerTimer();
        wizard.Btn_NextClick();
      }
      prepare = Seconds(since);
      for (int s = 0; s < 2 && wizard.PageIndex() == 2; ++s) {
        wizard.steps = &steps[s];
        since = Clock::now();
        wizard.Btn_StartClick();
        play[s] = Seconds(since);
        wizard.engine = nullptr;
        if (wizard.PageIndex() != 3) break;
        wizard.Btn_NextClick();
      }
      if (wizard.PageIndex() == 4) {
        since = Clock::now();
        wizard.Btn_FinallyClick();
        finish = Seconds(since);
        finished = wizard.PageIndex() == 5;
      }
      wizard.SetView(nullptr);
    }
    load_after = LoadAverage();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    rss_mb = static_cast<double>(usage.ru_maxrss) / 1024.0;

    state.PauseTiming();
    SetDialogResponder(previous);
    // The reference: the same changed rows, straight from the generated stations.
    for (int each = 0; each < 2; ++each) {
      for (const char* f : {"main.fdb", "st1.fdb", "st2.fdb"})
        fs::copy_file(practice / f, work / "raw" / f, fs::copy_options::overwrite_existing);
      refused = 0;
      const auto since = Clock::now();
      rows = bench::CopyRaw((work / "raw/main.fdb").string(),
                            {(work / "raw/st1.fdb").string(), (work / "raw/st2.fdb").string()}, refused, each != 0);
      (each ? raw_each : raw_bulk) = Seconds(since);
    }
    fs::current_path(practice.parent_path());
    fs::remove_all(work);
    state.ResumeTiming();
  }
  const double played = play[0] + play[1];
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["prepare_s"] = prepare;
  state.counters["station1_s"] = play[0];
  state.counters["station2_s"] = play[1];
  state.counters["finish_s"] = finish;
  state.counters["whole_s"] = prepare + played + finish;
  state.counters["rows_per_s"] = played > 0 ? static_cast<double>(rows) / played : 0;
  state.counters["raw_rows_per_s"] = raw_bulk > 0 ? static_cast<double>(rows) / raw_bulk : 0;
  state.counters["raw_each_commit_rows_per_s"] = raw_each > 0 ? static_cast<double>(rows) / raw_each : 0;
  state.counters["vs_raw"] = played > 0 && raw_bulk > 0 ? raw_bulk / played : 0;
  state.counters["vs_raw_each_commit"] = played > 0 && raw_each > 0 ? raw_each / played : 0;
  state.counters["peak_rss_MB"] = rss_mb;
  std::fprintf(stderr,
               "%s practice: preparation %.1f s, station 1 %.1f s, station 2 %.1f s, finishing %.1f s, whole run "
               "%.1f s%s; %lld changed rows; raw loop %.1f s (commit every 900), %.1f s (commit each row); peak "
               "RSS %.0f MB; load average %s before, %s after\n",
               kSizes[size], prepare, play[0], play[1], finish, prepare + played + finish,
               finished ? "" : " (NOT FINISHED)", static_cast<long long>(rows), raw_bulk, raw_each, rss_mb,
               load_before.c_str(), load_after.c_str());
  steps[0].Print("station 1 steps:");
  steps[1].Print("station 2 steps:");
  for (const std::string& d : dialogs) std::fprintf(stderr, "dialog: %s\n", d.c_str());
  if (!finished) state.SkipWithError("the wizard did not reach its last page");
}
BENCHMARK(BM_WizardWholeRun)->Arg(0)->Arg(1)->Unit(benchmark::kSecond)->UseRealTime()->Iterations(1);

}  // namespace
}  // namespace pelvar

BENCHMARK_MAIN();
