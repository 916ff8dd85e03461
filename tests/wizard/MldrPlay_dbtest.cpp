// The play-in of the wizard through its controllers against practice databases of
// tools/practice in the in-process engine. End to end: two station archives (made with
// gbak and Python's zipfile) entered on the first page, prepared, played station by
// station with the results page showing the counters of each station's engine, and
// finished: the main database is the harmonised one (the play-in integrity check), each
// medium holds a new archive whose backup gbak restores to the harmonised data plus the
// station's own tables, the old files end in ".old", the backups rotate, the registry
// says "Level" 0 and "LastOK"; the same run with automatic continuation goes through
// every station and finishing from the posted messages alone. The stations' databases
// have forced writes, as a practice's have: the working databases are played without
// them, and what leaves the wizard (the new main database, the stations' results) has
// the main database's write mode, on or off. Per station: work-flow
// cycles (three engines, none), a refused schema version, the station's first stock
// closing applied to the working database.
#include <gtest/gtest.h>

#include <filesystem>

#include "dbclient/ClientLibraryName.h"
#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/dialogs.h"
#include "platform/registry.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "wizard/MldrMain.h"
#include "../sync/play_integrity.h"
#include "wizard_env.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

struct EngineRun {
  int32_t cycle = 0;
  bool last = false;
  int32_t station = 0;
  int32_t counters[6] = {};  // saved, changed, init errors, skipped, conversion, save errors
  std::string log;           // its "Import.txt"
};

// Records what every engine saw and counted.
class RecordingMeldrun : public TMeldrun {
 public:
  explicit RecordingMeldrun(std::vector<EngineRun>& runs) : runs_(runs) {}
  void Execute() override {
    TMeldrun::Execute();
    EngineRun r;
    r.cycle = DMMeldrun()->CycleIndex;
    r.last = DMMeldrun()->IsLastCycle;
    r.station = FrmMldrMain()->StationIndex();
    const int32_t c[6] = {GetSavedCount(),   GetChangedCount(),      GetInitErrorCount(),
                          GetSkippedCount(), GetConvertErrorCount(), GetSaveErrorCount()};
    std::copy(std::begin(c), std::end(c), r.counters);
    r.log = ReadFile("Import.txt");
    runs_.push_back(r);
  }

 private:
  std::vector<EngineRun>& runs_;
};

class PlayWizard : public TFrmMldrMain {
 public:
  using TFrmMldrMain::TFrmMldrMain;
  using TFrmMldrMain::AddPreparedStation;
  ~PlayWizard() override { BeforeDestruction(); }
  std::vector<EngineRun> runs;

 protected:
  std::unique_ptr<TMeldrun> NewEngine() override { return std::make_unique<RecordingMeldrun>(runs); }
};

// Answers every dialog with its default button (or as told) and keeps the texts (UTF-8).
class Dialogs {
 public:
  Dialogs() {
    previous_ = SetDialogResponder([this](const TDialogRequest& r) {
      texts.push_back(AnsiToUtf8(r.Text));
      if (answer != mrNone) return answer;
      return r.DefaultResult != mrNone ? r.DefaultResult : mrOk;
    });
  }
  ~Dialogs() { SetDialogResponder(previous_); }
  std::vector<std::string> texts;
  int answer = mrNone;

 private:
  TDialogResponder previous_;
};

const char* const kPreparationNotice =
    "Před zahájením sehrávání je nezbytně nutné ukončit práci\rna všech stanicích připojených k "
    "hlavní databázi. V opačném\rpřípadě hrozí nenávratná ztráta dat!";

class MldrPlayDb : public WizardEnv {
 protected:
  static void SetUpTestSuite() {
    InstallClientLibraryNameProvider();
    practice_ = new TempDir("pelvar-play");
    const CommandResult r = GeneratePractice({"--seed", "play", "--size", "small", "--main",
                                              practice_->File("main.fdb"), "--station",
                                              practice_->File("st1.fdb"), "--station",
                                              practice_->File("st2.fdb")});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    // Each station's data as its medium carries it: an archive of its identification and
    // its backup, of a database with forced writes.
    for (int i = 1; i <= 2; ++i) {
      const std::string n = std::to_string(i);
      const std::string backup = practice_->File("st" + n + ".fbk");
      SetForcedWrites(practice_->File("st" + n + ".fdb"), true);
      CommandResult b = RunCommand({"gbak", "-b", "-user", kSysdbaUser, "-password", kSysdbaPassword,
                                    practice_->File("st" + n + ".fdb"), backup});
      ASSERT_EQ(b.exit_code, 0) << b.output;
      b = RunCommand({"python3", "-c",
                      "import sys, zipfile\n"
                      "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                      "    z.writestr('Identifikace.txt', sys.argv[2] + '\\r\\n')\n"
                      "    z.write(sys.argv[3], 'Pelvar.cb0')\n",
                      practice_->File("stanice" + n + ".zip"), "PC" + n, backup});
      ASSERT_EQ(b.exit_code, 0) << b.output;
    }
  }
  static void TearDownTestSuite() {
    delete practice_;
    practice_ = nullptr;
  }

  void SetUp() override {
    WizardEnv::SetUp();
    fs::current_path(dir_.Path());
    for (const char* d : {"data", "media1", "media2", "zaloha"}) fs::create_directories(dir_.File(d));
    fs::copy_file(practice_->File("main.fdb"), dir_.File("data/main.fdb"));
    fs::copy_file(practice_->File("stanice1.zip"), dir_.File("media1/stanice1.zip"));
    fs::copy_file(practice_->File("stanice2.zip"), dir_.File("media2/stanice2.zip"));
    WriteFile(dir_.File("zaloha/Pelvar.cb0"), "earlier backup");
    Ini("");
  }
  void TearDown() override {
    wizard_.reset();
    fs::current_path(before_);
    WizardEnv::TearDown();
  }
  void Ini(const std::string& more) {
    WriteFile(dir_.File("Meldrun.ini"), "[DATABAZE]\r\nPath=" + dir_.File("data") +
                                            "\r\nDBFileName=main.fdb\r\nBkpPath=" + dir_.File("zaloha") +
                                            "\r\n" + more);
  }
  std::string Work(const std::string& name) const { return dir_.File("MAINDATA/" + name); }

  PlayWizard& Wizard() {
    wizard_ = std::make_unique<PlayWizard>(AnsiString(dir_.Path() + "/"));
    PlayWizard& w = *wizard_;
    w.MakeDataModule();
    w.Show();
    w.FillStationGrid("PC1|" + dir_.File("media1/stanice1.zip") + ";PC2|" + dir_.File("media2/stanice2.zip"));
    // Organisation, basic data and code lists: every step the engine has rules for.
    w.ClickCheckBox(w.CB_Ciselniky);
    w.CB_VerifyZaloha.Checked = false;
    return w;
  }
  // Page 0 to page 2 through preparation.
  void ToStart(PlayWizard& w) {
    w.TimerTimer();
    ASSERT_TRUE(w.Btn_Next.Enabled);
    w.Btn_NextClick();
    ASSERT_EQ(w.PageIndex(), 1);
    w.TimerTimer();
    w.Btn_NextClick();
    ASSERT_EQ(w.PageIndex(), 2);
  }
  // The results page shows the counters of the station's last engine.
  static void ExpectResults(const PlayWizard& w, const EngineRun& r) {
    const int32_t total = r.counters[0] + r.counters[1] + r.counters[3] + r.counters[5];
    EXPECT_EQ(w.L_RC, IntToStr(total));
    EXPECT_EQ(w.L_SDC, IntToStr(r.counters[0]));
    EXPECT_EQ(w.L_CRC, IntToStr(r.counters[1]));
    EXPECT_EQ(w.L_IEC, IntToStr(r.counters[2]));
    EXPECT_EQ(w.L_SC, IntToStr(r.counters[3]));
    EXPECT_EQ(w.L_CEC, IntToStr(r.counters[4]));
    EXPECT_EQ(w.L_DEC, IntToStr(r.counters[5]));
  }
  static AnsiString Reg(const char* name) {
    return WizardRegText(name);
  }
  static void SetForcedWrites(const std::string& database, bool on) {
    const CommandResult r = RunCommand({"gfix", "-write", on ? "sync" : "async", "-user", kSysdbaUser, "-password",
                                        kSysdbaPassword, database});
    ASSERT_EQ(r.exit_code, 0) << r.output;
  }
  static std::string ForcedWrites(const std::string& database) {
    return QueryOne(database, "select MON$FORCED_WRITES as V from MON$DATABASE;");
  }
  // A backup restored by gbak into a fresh database of the test's directory.
  std::string Restored(const std::string& backup, const std::string& name) {
    const std::string db = dir_.File(name);
    const CommandResult r =
        RunCommand({"gbak", "-c", "-user", kSysdbaUser, "-password", kSysdbaPassword, backup, db});
    EXPECT_EQ(r.exit_code, 0) << r.output;
    return db;
  }
  // What a finished run leaves: the harmonised main database, a new archive on every
  // medium with the old file beside it, the rotated backups and the registry marks.
  void ExpectFinished(PlayWizard& w, std::vector<PlayIntegrity>& integrity, const std::string& forced_writes);
  void RunEndToEnd(bool automatic);

  static TempDir* practice_;
  const fs::path before_ = fs::current_path();
  std::unique_ptr<PlayWizard> wizard_;
};

TempDir* MldrPlayDb::practice_ = nullptr;

void MldrPlayDb::ExpectFinished(PlayWizard& w, std::vector<PlayIntegrity>& integrity,
                                const std::string& forced_writes) {
  ASSERT_EQ(w.PageIndex(), 5);
  EXPECT_EQ(Reg("Level"), "0");
  EXPECT_EQ(Reg("LastOK"), DateToStr(Date()));
  EXPECT_EQ(Reg("LastHarmonised"), "");
  const std::string main = dir_.File("data/main.fdb");
  EXPECT_EQ(ForcedWrites(main), forced_writes) << "the new main database";
  // Changes of one station may touch rows the other one marked.
  for (size_t i = 0; i < integrity.size(); ++i) {
    for (const std::string& p : integrity[i].Check()) {
      bool other = false;
      const auto at = p.find(" row ");
      const auto end = p.find(" changed though");
      if (at != std::string::npos && end != std::string::npos) {
        const std::string table = p.substr(0, at);
        const std::string key = p.substr(at + 5, end - at - 5);
        for (size_t j = 0; j < integrity.size(); ++j) {
          try {
            if (j != i && integrity[j].Marked(table).count(key)) other = true;
          } catch (const std::out_of_range&) {
          }
        }
      }
      if (!other) ADD_FAILURE() << "station " << i + 1 << ": " << p;
    }
  }
  // Played marks are cleared in the harmonised data.
  for (const char* t : {"CENIK", "DIAGNOZA", "ZARIZENI_BANKA"})
    EXPECT_EQ(QueryOne(main, std::string("select count(*) as V from ") + t + " where ST is not null;"), "0") << t;

  for (int i = 1; i <= 2; ++i) {
    const std::string n = std::to_string(i);
    const std::string medium = dir_.File("media" + n + "/stanice" + n + ".zip");
    EXPECT_EQ(ReadFile(dir_.File("media" + n + "/stanice" + n + ".old")), ReadFile(practice_->File("stanice" + n + ".zip")));
    CommandResult r = RunCommand({"unzip", "-Z1", medium});
    EXPECT_EQ(r.output, "Identifikace.txt\nPelvar.cb0\n");
    TempDir out("pelvar-unzip");
    r = RunCommand({"unzip", "-q", medium, "Pelvar.cb0", "-d", out.Path()});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    const std::string db = Restored(out.File("Pelvar.cb0"), "pc" + n + ".fdb");
    EXPECT_EQ(ForcedWrites(db), forced_writes) << "the result of PC" << n;
    // The harmonised data ...
    for (const char* t : {"CENIK", "DIAGNOZA", "UZIVATEL_NEW"}) {
      const std::string sql = std::string("select count(*) as V from ") + t + ";";
      EXPECT_EQ(QueryOne(db, sql), QueryOne(main, sql)) << t << " of PC" << n;
    }
    // ... with the station's own tables.
    for (const char* t : {"NASTAVENI", "RADA", "ORD_DOBA"}) {
      const std::string sql = std::string("select count(*) as V from ") + t + ";";
      EXPECT_EQ(QueryOne(db, sql), QueryOne(practice_->File("st" + n + ".fdb"), sql)) << t << " of PC" << n;
    }
  }
  // "Import.txt" holds what the last engine wrote; every station's log is kept with the
  // run's results.
  ASSERT_FALSE(w.runs.empty());
  EXPECT_TRUE(ReadFile("Import.txt") == w.runs.back().log);
  for (int i = 1; i <= 2; ++i) {
    std::string logs;
    for (const EngineRun& r : w.runs)
      if (r.station == i - 1) logs += r.log;
    const std::string kept = Work("ARCHIV/Import_" + std::to_string(i) + "_PC" + std::to_string(i) + ".txt");
    ASSERT_TRUE(fs::exists(kept)) << kept;
    EXPECT_FALSE(logs.empty());
    EXPECT_TRUE(ReadFile(kept).compare(0, logs.size(), logs) == 0) << kept;
  }
  EXPECT_EQ(ReadFile(dir_.File("zaloha/Pelvar.cb1")), "earlier backup");
  EXPECT_GT(fs::file_size(dir_.File("zaloha/Pelvar.cb0")), 100000u);
  EXPECT_TRUE(fs::exists(Work("ARCHIV/Main.fdb")));
}

void MldrPlayDb::RunEndToEnd(bool automatic) {
  // One run's main database with forced writes, the other's without.
  const std::string forced_writes = automatic ? "0" : "1";
  SetForcedWrites(dir_.File("data/main.fdb"), !automatic);
  std::vector<PlayIntegrity> integrity;
  for (int i = 1; i <= 2; ++i) {
    integrity.emplace_back(dir_.File("data/main.fdb"), practice_->File("st" + std::to_string(i) + ".fdb"),
                           OrgAndCodeTables(), OrgAndCodeRefs());
    integrity.back().Snapshot();
  }
  PlayWizard& w = Wizard();
  Dialogs dialogs;
  ToStart(w);
  ASSERT_EQ(w.StationFiles().Count(), 2);
  EXPECT_EQ(w.Label11, CZ("Start sehrávání dat pro 'PC1'"));
  if (automatic) {
    w.ClickCheckBox(w.CB_AutoRun);
    w.Btn_StartClick();
    EXPECT_TRUE(w.AutoContinue());
    // The first station is played; the rest waits for the loop.
    EXPECT_EQ(w.PageIndex(), 3);
    ASSERT_EQ(w.runs.size(), 1u);
    ExpectResults(w, w.runs[0]);
    for (int i = 0; i < 200 && w.PageIndex() != 5; ++i) Application()->ProcessMessages();
    ASSERT_EQ(w.runs.size(), 2u);
    EXPECT_EQ(w.runs[1].station, 1);
    ExpectResults(w, w.runs[1]);
    EXPECT_EQ(w.Label10, CZ("Výsledek sehrání dat pro 'PC2'"));
  } else {
    for (int32_t station = 0; station < 2; ++station) {
      ASSERT_EQ(w.PageIndex(), 2);
      EXPECT_EQ(w.StationIndex(), station);
      w.Btn_StartClick();
      ASSERT_EQ(w.PageIndex(), 3) << "station " << station;
      ASSERT_EQ(w.runs.size(), static_cast<size_t>(station + 1));
      EXPECT_EQ(w.runs[station].station, station);
      EXPECT_TRUE(w.runs[station].last);
      ExpectResults(w, w.runs[station]);
      EXPECT_EQ(w.L_Action, CZ("Hotovo..."));
      EXPECT_EQ(Reg("Level"), "5");
      EXPECT_FALSE(w.DataModule()->Src()->Connected());
      EXPECT_TRUE(fs::exists(Work(station == 0 ? "stanice1.fdb" : "stanice2.fdb")));
      // Played without forced writes: the working database, still in use, and the
      // station's copy.
      EXPECT_EQ(w.DataModule()->SelectDst("select MON$FORCED_WRITES from MON$DATABASE").AsInteger(), 0);
      EXPECT_EQ(ForcedWrites(Work(station == 0 ? "stanice1.fdb" : "stanice2.fdb")), "0");
      w.Btn_NextClick();
    }
    ASSERT_EQ(w.PageIndex(), 4);
    w.Btn_FinallyClick();
  }
  // The preparation's notice, and the equipment questions of the play-in (they are asked
  // also under automatic continuation); nothing else.
  ASSERT_FALSE(dialogs.texts.empty());
  EXPECT_EQ(dialogs.texts[0], kPreparationNotice);
  for (size_t i = 1; i < dialogs.texts.size(); ++i)
    EXPECT_EQ(dialogs.texts[i].rfind("POZOR! Zařízení \"", 0), 0u) << dialogs.texts[i];
  EXPECT_GT(w.runs[0].counters[0] + w.runs[0].counters[1], 0);
  for (const EngineRun& r : w.runs) EXPECT_EQ(r.counters[5], 0);
  ExpectFinished(w, integrity, forced_writes);
}

TEST_F(MldrPlayDb, TwoStationArchivesArePlayedAndFinishedStepByStep) { RunEndToEnd(false); }

TEST_F(MldrPlayDb, AutomaticContinuationGoesThroughEveryStationAndFinishing) { RunEndToEnd(true); }

// A station prepared from its backup, the working database open, page 2 shown.
class MldrPlayStationDb : public MldrPlayDb {
 protected:
  PlayWizard& Prepared() {
    PlayWizard& w = Wizard();
    fs::create_directories(dir_.File("MAINDATA"));
    fs::copy_file(practice_->File("main.fdb"), Work("Main.fdb"));
    fs::copy_file(practice_->File("st1.fbk"), Work("Stanice.FBK"));
    w.AddPreparedStation(Work("Stanice.FBK"), dir_.File("media1/stanice1.zip"), "PC1");
    w.DataModule()->InitStationLists(1);
    w.DataModule()->OpenDst(Work("Main.fdb"), AdministratorUser, AdministratorPassword);
    w.SetPageIndex(1);
    w.Btn_NextClick();
    return w;
  }
};

TEST_F(MldrPlayStationDb, ThreeWorkFlowCyclesRunThreeEnginesAndShowTheLast) {
  Ini("[PROGRAM_FLOW]\r\nWorkFlowCycles=3\r\nCommitAfter=50\r\n");
  PlayWizard& w = Prepared();
  Dialogs dialogs;
  w.Btn_StartClick();
  EXPECT_EQ(dialogs.texts, std::vector<std::string>{});
  ASSERT_EQ(w.PageIndex(), 3);
  EXPECT_EQ(w.DataModule()->CommitAfter, 50);
  ASSERT_EQ(w.runs.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(w.runs[i].cycle, i);
    EXPECT_EQ(w.runs[i].last, i == 2);
  }
  // The code lists play in the first cycle only.
  EXPECT_GT(w.runs[0].counters[0], 0);
  ExpectResults(w, w.runs[2]);
  EXPECT_EQ(w.L_SDC, IntToStr(w.runs[2].counters[0]));
  // The restored name: lower case, ".fbk" made ".fdb"; its journal mark kept.
  EXPECT_TRUE(fs::exists(Work("stanice.fdb")));
  EXPECT_EQ(IntToStr(w.JournalMarks()[0]),
            QueryOne(practice_->File("st1.fdb"), "select max(ID_ZURNAL) as V from ZURNAL;"));
  EXPECT_GE(w.ProgressBar2.Position, 1);
}

TEST_F(MldrPlayStationDb, NoWorkFlowCycleReportsASeriousError) {
  Ini("[PROGRAM_FLOW]\r\nWorkFlowCycles=0\r\n");
  PlayWizard& w = Prepared();
  Dialogs dialogs;
  w.Btn_StartClick();
  EXPECT_EQ(dialogs.texts, std::vector<std::string>{"Při importu nastala závažná chyba."});
  EXPECT_EQ(w.runs.size(), 0u);
  EXPECT_EQ(w.PageIndex(), 2);
  EXPECT_EQ(w.L_Action, CZ("Chyba..."));
  EXPECT_TRUE(w.Btn_Prev.Enabled);
  EXPECT_FALSE(w.Btn_Next.Enabled);
  EXPECT_EQ(Reg("Level"), "5");
}

// A version question answered No: no engine, "Level" stays 4, and the station database
// is let go, so that another Start restores it again.
TEST_F(MldrPlayStationDb, RefusedVersionPlaysNothingAndLetsTheStationGo) {
  PlayWizard& w = Prepared();
  {
    // An older station: restore the backup, change VERZE and back it up again.
    const std::string db = dir_.File("old.fdb");
    fs::copy_file(practice_->File("st1.fdb"), db);
    Query(db, "update VERZE set VERZE = 200624;\ncommit;");
    fs::remove(Work("Stanice.FBK"));
    const CommandResult b = RunCommand({"gbak", "-b", "-user", kSysdbaUser, "-password", kSysdbaPassword,
                                        db, Work("Stanice.FBK")});
    ASSERT_EQ(b.exit_code, 0) << b.output;
  }
  Dialogs dialogs;
  dialogs.answer = mrNo;
  w.Btn_StartClick();
  ASSERT_EQ(dialogs.texts.size(), 2u);
  EXPECT_EQ(dialogs.texts[1], "Při importu nastala závažná chyba.");
  EXPECT_EQ(w.runs.size(), 0u);
  EXPECT_EQ(Reg("Level"), "4");
  EXPECT_FALSE(w.DataModule()->Src()->Connected());
  // Back and Start again: the station restores over its earlier copy and is asked again.
  w.Btn_PrevClick();
  w.Btn_NextClick();
  dialogs.answer = mrYes;
  w.Btn_StartClick();
  EXPECT_EQ(w.PageIndex(), 3);
  EXPECT_EQ(w.runs.size(), 1u);
}

// The station's first closing group: its store's issues and stock movements up to the
// closing date are closed in the working database; other stores stay open.
TEST_F(MldrPlayStationDb, StockClosingOfTheFirstGroupIsApplied) {
  PlayWizard& w = Prepared();
  Dialogs dialogs;
  // No table group: the closing does not depend on the options.
  w.ClickCheckBox(w.CB_Ciselniky);
  w.CB_OrgStruktura.Checked = false;
  w.CB_Zaklad.Checked = false;
  w.Btn_StartClick();
  ASSERT_EQ(w.PageIndex(), 3);
  const std::string st = practice_->File("st1.fdb");
  const std::string first = QueryOne(
      st, "select first 1 id_sklad as V from doklad_polozka_uz uz where (uz.st is not null) group by uz.id_sklad;");
  if (first == "<0 rows>") GTEST_SKIP() << "the practice has no changed closing items";
  ASSERT_TRUE(w.HasStockClosing());
  EXPECT_EQ(IntToStr(w.StockClosingStore()), first);
  const std::string main = Work("Main.fdb");
  w.DataModule()->Dst()->SetConnected(false);
  const std::string date = FormatDateTime("yyyy-mm-dd hh:nn:ss", w.StockClosingDate());
  EXPECT_EQ(QueryOne(main, "select count(*) as V from doklad_polozka_sk sk where cast(sk.zalozeni_zaznamu + sk.cas "
                           "as timestamp) < '" + date + "' and sk.uzaverka is null and sk.id_sklad = " + first + ";"),
            "0");
  EXPECT_EQ(QueryOne(main, "select count(*) as V from doklad_polozka_uz uz where uz.datum_uzaverky < '" + date +
                               "' and uz.typ_pohybu = 'T' and uz.id_sklad = " + first + ";"),
            "0");
  EXPECT_EQ(QueryOne(main, "select count(*) as V from doklad_polozka_sk sk where sk.uzaverka = 'U' and sk.id_sklad <> " +
                               first + ";"),
            QueryOne(practice_->File("main.fdb"), "select count(*) as V from doklad_polozka_sk sk where sk.uzaverka = "
                                                  "'U' and sk.id_sklad <> " + first + ";"));
}

// Detail opens the play-in log of the current directory.
TEST_F(MldrPlayStationDb, DetailOpensTheLog) {
  PlayWizard& w = Wizard();
  std::vector<std::string> opened;
  TShellOpenHandler previous = SetShellOpenHandler([&](const AnsiString& f) {
    opened.push_back(f);
    return true;
  });
  w.BtnDetailClick();
  SetShellOpenHandler(previous);
  EXPECT_EQ(opened, std::vector<std::string>{"Import.txt"});
}

}  // namespace
}  // namespace pelvar::test
