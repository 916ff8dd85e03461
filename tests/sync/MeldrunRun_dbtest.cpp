// The whole play-in end to end, against Firebird 3 on the practice of tools/practice:
// main and two stations (the current schema and 200624) with colliding keys, shared
// natural keys and changed rows, played station by station into a working copy of main
// the way the wizard's run does it, with every option on. Afterwards the integrity
// sweep of play_integrity.h over every played table; a run in three work-flow cycles
// gives the main of a run in one; a run broken off half way leaves main as it was, and a
// run from the start after it gives byte for byte the main of an unbroken one.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "support/practice.h"
#include "sync/DlgPrava.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "main_form_double.h"
#include "play_integrity.h"
#include "play_integrity_details.h"
#include "play_practice.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

// Code lists that keep the station's keys by design (a rating or location key copied
// unless main uses it; laboratory evaluations and links only ever merge).
const std::set<std::string> kKeepStationKeys = {"HODNOCENI", "UMISTENI", "LABHODN", "LAB_VAZBY"};

// The lines of a log that start with the label.
int32_t LogLines(const std::string& log, const char* label) {
  const std::string head = CZ(label);
  int32_t n = 0;
  for (size_t at = 0; at < log.size();) {
    if (log.compare(at, head.size(), head) == 0) ++n;
    const size_t end = log.find('\n', at);
    if (end == std::string::npos) break;
    at = end + 1;
  }
  return n;
}

class MeldrunRunDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallClientLibraryNameProvider(); }
  void SetUp() override {
    fs::current_path(dir_.Path());
    // A device of a station with main's code and another name replaces main's device (the
    // station changed it); any other dialog is kept and closed.
    previous_dialogs_ = SetDialogResponder([this](const TDialogRequest& r) {
      if (r.Text.rfind(CZ("POZOR! Zařízení \""), 0) == 0) return static_cast<int>(mrYes);
      dialogs_.push_back(r.Text);
      return r.CancelResult;
    });
    previous_rights_ = SetDialogPravaRunner([](TFrmDialogPrava&) { ADD_FAILURE() << "access-rights dialog shown"; });
  }
  void TearDown() override {
    SetDialogPravaRunner(previous_rights_);
    SetDialogResponder(previous_dialogs_);
    fs::current_path(before_);
  }

  struct Inputs {
    std::string main;
    std::string stations[2];
  };
  static constexpr int32_t kVersions[2] = {200824, 200624};
  // Fresh copies of the practice in a folder of their own ("main.fdb" is the working copy).
  Inputs Copy(const std::string& folder) {
    fs::create_directories(dir_.File(folder));
    const std::string at = dir_.File(folder) + "/";
    Inputs in{at + "main.fdb", {at + "st.fdb", at + "st624.fdb"}};
    PlayPractice::CopyTo("main.fdb", in.main);
    PlayPractice::CopyTo("st.fdb", in.stations[0]);
    PlayPractice::CopyTo("st624.fdb", in.stations[1]);
    return in;
  }

  struct Run {
    int32_t saved = 0, changed = 0, skipped = 0, init_errors = 0, convert_errors = 0, save_errors = 0;
    std::string logs;  // Import.txt of every engine and the error list ("Errors.txt"), per station, UTF-8
    std::set<int32_t> played[2];
    std::vector<int32_t> not_played;
  };

  // Plays both stations into in.main, one after the other, as the wizard's run does:
  // the working database's journal triggers off; per station its schema version read,
  // the document chunks of the cycles prepared, one engine per work-flow cycle with
  // every option on. arm may set up an engine before it runs. The connections are let
  // go also when an engine raises.
  Run PlayStations(const Inputs& in, int32_t cycles, const std::function<void(TMeldrun&)>& arm = {},
                   const std::function<void(int32_t, const Run&)>& after_station = {}) {
    Run run;
    form_.Auto = true;
    dm_.CommitAfter = 900;
    dm_.LowestVersion = 999999;
    dm_.ErrorList().Clear();
    dm_.OpenDst(in.main, AdministratorUser, AdministratorPassword);
    try {
      dm_.SetJournalTriggers(0);
      dm_.InitStationLists(2);
      for (int32_t s = 0; s < 2; ++s) {
        form_.Station = s;
        dm_.OpenSrc(in.stations[s], AdministratorUser, AdministratorPassword);
        EXPECT_TRUE(dm_.CheckDatabaseVersion("Src", kVersions[s]));
        if (cycles > 1) dm_.PrepareDocumentCycles(cycles);
        for (dm_.CycleIndex = 0; dm_.CycleIndex < cycles; ++dm_.CycleIndex) {
          dm_.IsLastCycle = dm_.CycleIndex + 1 == cycles;
          auto m = std::make_unique<TMeldrun>();
          m->Zaklad = m->ExPartner = m->ExPacient = m->Karty = m->Doklady = m->Uzaverky = m->Ciselniky =
              m->OrgStruktura = m->AutoChange = true;
          if (arm) arm(*m);
          m->Execute();
          const std::string log = ReadFile("Import.txt");
          // Every counted outcome has its log line.
          EXPECT_EQ(LogLines(log, TImportTable::kLogChanged), m->GetChangedCount());
          EXPECT_EQ(LogLines(log, TImportTable::kLogSkipped), m->GetSkippedCount());
          EXPECT_EQ(LogLines(log, TImportTable::kLogConvert), m->GetConvertErrorCount());
          EXPECT_EQ(LogLines(log, TImportTable::kLogSave), m->GetSaveErrorCount());
          EXPECT_EQ(LogLines(log, TImportTable::kLogInit), m->GetInitErrorCount());
          run.saved += m->GetSavedCount();
          run.changed += m->GetChangedCount();
          run.skipped += m->GetSkippedCount();
          run.init_errors += m->GetInitErrorCount();
          run.convert_errors += m->GetConvertErrorCount();
          run.save_errors += m->GetSaveErrorCount();
          run.logs += AnsiToUtf8(log);
          run.played[s].insert(m->PlayedSteps().begin(), m->PlayedSteps().end());
          run.not_played.insert(run.not_played.end(), m->NotPlayedSteps().begin(), m->NotPlayedSteps().end());
        }
        dm_.CommitBoth();
        dm_.Src()->SetConnected(false);
        for (int32_t i = 0; i < dm_.ErrorList().Count(); ++i) run.logs += AnsiToUtf8(dm_.ErrorList().Strings(i)) + "\n";
        dm_.ErrorList().Clear();
        if (after_station) {
          // The working copy is let go for the check and taken up again.
          dm_.Dst()->SetConnected(false);
          after_station(s, run);
          dm_.OpenDst(in.main, AdministratorUser, AdministratorPassword);
        }
      }
    } catch (...) {
      Disconnect();
      throw;
    }
    Disconnect();
    return run;
  }
  void Disconnect() {
    try {
      dm_.CommitBoth();
    } catch (...) {
    }
    if (dm_.Src()->Connected()) dm_.Src()->SetConnected(false);
    if (dm_.Dst()->Connected()) dm_.Dst()->SetConnected(false);
  }

  const fs::path before_ = fs::current_path();
  TempDir dir_{"pelvar-meldrun-run"};
  MainFormDouble form_;
  TDMMeldrun dm_{nullptr, form_};
  std::vector<AnsiString> dialogs_;
  TDialogResponder previous_dialogs_;
  TDialogPravaRunner previous_rights_;
};

TEST_F(MeldrunRunDb, TwoStationsPlayIntoAWorkingCopyOfMainAndTheIntegritySweepPasses) {
  const Inputs in = Copy("golden");
  // The working copy's generators far above every station key: a key the play draws
  // can never be taken for a station key.
  const CommandResult raised = RunIsql(
      "set term ^ ;\nexecute block as declare g varchar(63); declare v bigint; begin for select "
      "trim(RDB$GENERATOR_NAME) from RDB$GENERATORS where RDB$SYSTEM_FLAG = 0 into :g do execute statement "
      "'select gen_id(' || g || ', 100000) from RDB$DATABASE' into :v; end^\nset term ; ^\ncommit;\n",
      in.main);
  ASSERT_EQ(raised.exit_code, 0) << raised.output;
  PlayIntegrity sweep(in.main, {in.stations[0], in.stations[1]}, AllPlayedTables(), AllPlayRefs());
  // Cases kept open for unsorted visits are every patient's own; the play passes them
  // over, and an active case played in makes the patient's other cases inactive.
  sweep.PassedOver["PRIPAD"] = "AKTIVNI = 'O'";
  sweep.Rewritten.insert("PRIPAD.AKTIVNI");
  // Laboratory evaluations are only merged, never added; a sex code plays its code alone.
  sweep.PassedOver["LABHODN"] = "ST = 'I'";
  sweep.Rewritten.insert({"POHLAVI.SAMEC", "POHLAVI.KASTRAT"});
  sweep.Snapshot();
  // Each station's rows are checked right after it played: the next may change them again.
  std::string logs;
  int32_t marked = 0;
  const Run run = PlayStations(in, 1, {}, [&](int32_t s, const Run& so_far) {
    const auto changed = sweep.CheckChangedRows(static_cast<size_t>(s), so_far.logs.substr(logs.size()));
    logs = so_far.logs;
    for (const std::string& p : changed.problems) ADD_FAILURE() << p;
    EXPECT_GT(changed.in_main, changed.marked / 2) << s;
    EXPECT_GT(changed.reported, 0) << s;
    marked += changed.marked;
  });
  EXPECT_EQ(dialogs_, std::vector<AnsiString>{});
  EXPECT_EQ(run.init_errors, 0) << run.logs;
  EXPECT_EQ(run.convert_errors, 0) << run.logs;
  EXPECT_EQ(run.save_errors, 0) << run.logs;
  EXPECT_EQ(run.not_played, std::vector<int32_t>{});
  // The current station plays every step; the older one those its version has.
  EXPECT_EQ(run.played[0].size(), TMeldrun::PlaySteps().size());
  for (int32_t step : {47, 51, 52, 71, 78}) EXPECT_EQ(run.played[1].count(step), 0u) << step;
  EXPECT_EQ(run.played[1].size(), TMeldrun::PlaySteps().size() - 5);

  for (const std::string& p : sweep.Check()) ADD_FAILURE() << p;
  for (const std::string& p : sweep.CheckDrawnKeys(kKeepStationKeys)) ADD_FAILURE() << p;
  // The counters: rows were written, merged and skipped, and each merge or logged skip
  // is a marked row of a station.
  EXPECT_GT(run.saved, 0);
  EXPECT_GT(run.changed, 0);
  EXPECT_GT(run.skipped, 0);
  EXPECT_LE(run.changed + run.skipped, marked);
  // Every played mark is cleared on both stations.
  for (const std::string& st : in.stations)
    for (const char* t : {"PARTNER", "PACIENT", "DOKLAD", "DENNI_ZAZNAM", "DOKLAD_POLOZKA_UM", "KOPROLOGIE", "ZPRAVA"})
      EXPECT_EQ(Q1(st, std::string("select count(*) as V from ") + t + " where ST is not null"), "0") << st << " " << t;
}

// One fixture for three checks: a run in three work-flow cycles gives the main of a run
// in one; a run broken off half way leaves main as it was; the run from the start after
// it, with the same data module, gives byte for byte the main of the first run.
TEST_F(MeldrunRunDb, RunsRepeatInOneOrThreeCyclesAndAfterARunBrokenOffHalfWay) {
  const Inputs once = Copy("once"), cycles = Copy("cycles");
  const Run first = PlayStations(once, 1);
  const Run third = PlayStations(cycles, 3);
  EXPECT_EQ(first.save_errors + third.save_errors, 0);
  // The later cycles find the documents played by the first; the last plays the rest.
  EXPECT_EQ(third.played[0], first.played[0]);
  const std::string sum = PracticeChecksum(once.main);
  EXPECT_EQ(PracticeChecksum(cycles.main), sum);

  // The run works on a copy of the main database, as the wizard's does. The user breaks
  // it off in the middle of the second station.
  const Inputs in = Copy("broken");
  const std::string main_sum = PracticeChecksum(in.main);
  EXPECT_NE(main_sum, sum);
  Inputs work = in;
  work.main = dir_.File("broken/work.fdb");
  fs::copy_file(in.main, work.main);
  int32_t reports = 0;
  const auto cancel = [&](TMeldrun& m) {
    if (form_.Station != 1) return;
    m.OnProgress = [&m, &reports](int32_t, int32_t, const AnsiString&) {
      if (++reports == 150) m.CancelRequested = true;
    };
  };
  try {
    PlayStations(work, 1, cancel);
    ADD_FAILURE() << "the run was not broken off";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), CZ("Import byl přerušen uživatelem"));
  }
  EXPECT_GE(reports, 150);
  EXPECT_EQ(PracticeChecksum(in.main), main_sum);
  const std::string broken_sum = PracticeChecksum(work.main);
  EXPECT_NE(broken_sum, main_sum);
  EXPECT_NE(broken_sum, sum);

  // From the start: a new working copy, the stations as they came.
  const Inputs rerun = Copy("rerun");
  const Run again = PlayStations(rerun, 1);
  EXPECT_EQ(again.init_errors + again.convert_errors + again.save_errors, 0) << again.logs;
  EXPECT_EQ(again.saved, first.saved);
  EXPECT_EQ(again.changed, first.changed);
  EXPECT_EQ(again.skipped, first.skipped);
  EXPECT_EQ(PracticeChecksum(rerun.main), sum);
}

}  // namespace
}  // namespace pelvar::test
