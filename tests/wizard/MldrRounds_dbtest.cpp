// A practice's life through the wizard, in the in-process engine, on the small practice
// of tools/practice (tests/sync/play_practice.h): the stations' data travel as their
// media carry them (an archive of "Identifikace.txt" and a gbak backup, made with
// Python's zipfile) and every round is the wizard's own: preparation, Start per station,
// finishing with delivery back to the media. Proven here:
// - stations of the older schema versions 200624 and 200628 play and finish through the
//   wizard, the tables their version lacks left out;
// - round 1 with two stations (one at 200624); round 2 from the archives delivery gave
//   back, once with no change anywhere (main's dump of tools/practice stays byte for
//   byte, nothing is saved or changed) and once with new rows and edits at both stations
//   and in main (every station change arrives, main's own edits stay, nothing twice);
//   the same station data played again changes nothing. After every round: every
//   reference resolves, no generator is below its table's highest key, main keeps no
//   change mark, and every row a station marked is in main, or main holds its natural
//   key (skipped where its table only adds rows, or merged and overwritten by a later
//   row of that key), or it is named in the logs and still marked in the station
//   database as the play-in left it.
// - the journal copied into a delivery ("Kopírovat") names, row for row, the record the
//   station's journal named (its code, or its own values where a table has no code), or
//   none: a patient merged onto main's patient of the same code, and the documents,
//   daily records and items of the memory import, among them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/sysutils.h"
#include "support/dbcache.h"
#include "support/practice.h"
#include "sync/DlgPrava.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "wizard/MldrMain.h"
#include "../sync/play_integrity.h"
#include "../sync/play_integrity_details.h"
#include "../sync/play_natural_keys.h"
#include "../sync/play_practice.h"
#include "wizard_env.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

// What one engine saw and counted.
struct EngineRun {
  int32_t station = 0;
  int32_t saved = 0, changed = 0, skipped = 0, init_errors = 0, convert_errors = 0, save_errors = 0;
  std::set<int32_t> played;
  std::string log;  // its Import.txt, UTF-8
};

class RecordingMeldrun : public TMeldrun {
 public:
  explicit RecordingMeldrun(std::vector<EngineRun>& runs) : runs_(runs) {}
  void Execute() override {
    TMeldrun::Execute();
    EngineRun r;
    r.station = FrmMldrMain()->StationIndex();
    r.saved = GetSavedCount();
    r.changed = GetChangedCount();
    r.skipped = GetSkippedCount();
    r.init_errors = GetInitErrorCount();
    r.convert_errors = GetConvertErrorCount();
    r.save_errors = GetSaveErrorCount();
    r.played.insert(PlayedSteps().begin(), PlayedSteps().end());
    r.log = AnsiToUtf8(ReadFile("Import.txt"));
    runs_.push_back(std::move(r));
  }

 private:
  std::vector<EngineRun>& runs_;
};

class RoundWizard : public TFrmMldrMain {
 public:
  using TFrmMldrMain::TFrmMldrMain;
  ~RoundWizard() override { BeforeDestruction(); }
  std::vector<EngineRun> runs;

 protected:
  std::unique_ptr<TMeldrun> NewEngine() override { return std::make_unique<RecordingMeldrun>(runs); }
};

void Exec(const std::string& db, const std::string& script) {
  const CommandResult r = RunIsql(script + "\ncommit;\n", db);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  ASSERT_EQ(r.output.find("Statement failed"), std::string::npos) << r.output;
}

// The references of the marked rows of a delivered database (the rows the delivery
// carries for its station) that name no row of it: the play-in's references and the
// user columns, as "TABLE.COLUMN = value has no PARENT".
std::vector<std::string> DanglingCarriedRefs(const std::string& db) {
  const PlaySchema schema = PlaySchema::Read(db);
  struct Ref {
    std::string table, column, parent, key;
  };
  std::vector<Ref> refs;
  for (const PlayRef& r : AllPlayRefs())
    if (schema.HasColumn(r.table, r.column) && schema.HasColumn(r.table, "ST") && schema.Has(r.parent))
      refs.push_back({r.table, r.column, r.parent, r.parent_key});
  for (const auto& [table, t] : schema.tables)
    for (const char* c : {"ID_ZALOZIL", "ID_MODIFIKOVAL", "ID_ORG_JEDNOTKA", "ID_ORG_JEDNOTKA_PRO",
                          "ID_ORG_JEDNOTKA_PROVEDL"})
      if (schema.HasColumn(table, c) && schema.HasColumn(table, "ST")) refs.push_back({table, c, "UZIVATEL_NEW", "ID_UZIVATEL"});
  std::string script = "set list on;\n";
  for (size_t i = 0; i < refs.size(); ++i) {
    const Ref& r = refs[i];
    script += std::string(i % 50 == 0 ? "" : " union all ") + "select cast('" + r.table + "." + r.column + " = ' || c." +
              r.column + " || ' has no " + r.parent + "' as varchar(200)) as V from " + r.table + " c where c.ST is not "
              "null and c." + r.column + " is not null and c." + r.column + " > 0 and not exists (select 1 from " +
              r.parent + " p where p." + r.key + " = c." + r.column + ")";
    if (i % 50 == 49 || i + 1 == refs.size()) script += ";\n";
  }
  const CommandResult r = RunIsql(script, db);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  return ListValues(r.output, "V");
}

class MldrRoundsDb : public WizardEnv {
 protected:
  static void SetUpTestSuite() { InstallClientLibraryNameProvider(); }

  void SetUp() override {
    WizardEnv::SetUp();
    fs::current_path(dir_.Path());
    for (const char* d : {"data", "media1", "media2", "zaloha", "stations"}) fs::create_directories(dir_.File(d));
    PlayPractice::CopyTo("main.fdb", Main());
    WriteFile(dir_.File("Meldrun.ini"), "[DATABAZE]\r\nPath=" + dir_.File("data") +
                                            "\r\nDBFileName=main.fdb\r\nBkpPath=" + dir_.File("zaloha") + "\r\n");
    // An access-rights conflict is the user's to decide: closed, main keeps its right.
    previous_rights_ = SetDialogPravaRunner([](TFrmDialogPrava&) {});
  }
  void TearDown() override {
    wizard_.reset();
    SetDialogPravaRunner(previous_rights_);
    fs::current_path(before_);
    WizardEnv::TearDown();
  }

  std::string Main() const { return dir_.File("data/main.fdb"); }
  std::string Work(const std::string& name) const { return dir_.File("MAINDATA/" + name); }
  std::string Medium(int n) const { return dir_.File("media" + std::to_string(n) + "/stanice" + std::to_string(n) + ".zip"); }
  // The station database as the last play-in left it (moved to the archive by finishing).
  std::string Played(int n) const { return Work("ARCHIV/stanice" + std::to_string(n) + ".fdb"); }

  // The station database db as station n's medium carries it.
  void Pack(const std::string& db, int n) {
    const std::string backup = dir_.File("stations/pack.fbk");
    fs::remove(backup);
    CommandResult r = RunCommand({"gbak", "-b", "-user", kSysdbaUser, "-password", kSysdbaPassword, db, backup});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    fs::remove(Medium(n));
    r = RunCommand({"python3", "-c",
                    "import sys, zipfile\n"
                    "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                    "    z.writestr('Identifikace.txt', sys.argv[2] + '\\r\\n')\n"
                    "    z.write(sys.argv[3], 'Pelvar.cb0')\n",
                    Medium(n), "PC" + std::to_string(n), backup});
    ASSERT_EQ(r.exit_code, 0) << r.output;
  }
  // Station n's medium carrying the practice's station database ("st.fdb", "st624.fdb")
  // as tools/practice made it: packed once, for every test process.
  void PackPractice(const std::string& name, int n) {
    const std::string db = dir_.File("stations/practice_" + name);
    if (!dbcache::Dir()) {
      PlayPractice::CopyTo(name, db);
      Pack(db, n);
      return;
    }
    const std::string key = dbcache::Key({"station medium v1", PlayPractice::Source(), name, std::to_string(n)});
    dbcache::KeyLock lock(key);
    if (!dbcache::Has(key, ".zip")) {
      PlayPractice::CopyTo(name, db);
      Pack(db, n);
      if (HasFatalFailure()) return;
      dbcache::Store(Medium(n), key, ".zip");
    }
    dbcache::CopyOut(dbcache::EntryPath(key, ".zip"), Medium(n));
  }
  // Station n's database from its medium, restored as stations/<name>.
  std::string Unpack(int n, const std::string& name) {
    const std::string out = dir_.File("stations/unzip");
    fs::remove_all(out);
    CommandResult r = RunCommand({"unzip", "-q", Medium(n), "Pelvar.cb0", "-d", out});
    EXPECT_EQ(r.exit_code, 0) << r.output;
    const std::string db = dir_.File("stations/" + name);
    fs::remove(db);
    r = RunCommand({"gbak", "-c", "-user", kSysdbaUser, "-password", kSysdbaPassword, out + "/Pelvar.cb0", db});
    EXPECT_EQ(r.exit_code, 0) << r.output;
    return db;
  }

  struct Round {
    std::vector<EngineRun> runs;
    std::vector<std::string> dialogs;
    std::string logs[2];  // Import.txt of the station's engines and the error list
    std::set<int> refused;  // stations whose databases the wizard would not play
    bool finished = false;
  };
  // One round of the wizard over the stations on the media: preparation, Start for each
  // station, finishing. after_station runs after each station with its logs, the working
  // database let go.
  Round PlayRound(int stations, const std::function<void(int, const std::string&)>& after_station = {}) {
    Round round;
    std::vector<std::string> dialogs;
    const TDialogResponder previous = SetDialogResponder([&dialogs](const TDialogRequest& r) {
      dialogs.push_back(AnsiToUtf8(r.Text));
      return r.DefaultResult != mrNone ? r.DefaultResult : mrOk;
    });
    wizard_ = std::make_unique<RoundWizard>(AnsiString(dir_.Path() + "/"));
    RoundWizard& w = *wizard_;
    [&] {
      w.MakeDataModule();
      w.Show();
      std::string grid;
      for (int n = 1; n <= stations; ++n) grid += (n > 1 ? ";PC" : "PC") + std::to_string(n) + "|" + Medium(n);
      w.FillStationGrid(grid);
      for (TCheckBoxModel* box : {&w.CB_Zaklad, &w.CB_ExPartner, &w.CB_ExPacient, &w.CB_Karty, &w.CB_Doklady,
                                  &w.CB_Ciselniky, &w.CB_OrgStruktura})
        if (!box->Checked) w.ClickCheckBox(*box);
      w.CB_VerifyZaloha.Checked = false;
      w.TimerTimer();
      ASSERT_TRUE(w.Btn_Next.Enabled);
      w.Btn_NextClick();
      ASSERT_EQ(w.PageIndex(), 1);
      w.TimerTimer();
      w.Btn_NextClick();
      ASSERT_EQ(w.PageIndex(), 2);
      for (int s = 0; s < stations; ++s) {
        const size_t before = w.runs.size();
        try {
          w.Btn_StartClick();
        } catch (const std::exception& e) {
          ADD_FAILURE() << "station " << s + 1 << ": " << AnsiToUtf8(e.what());
          return;
        }
        if (w.PageIndex() == 2 && w.StationLeftOut(s)) {
          // Told why; the run goes on without it.
          round.refused.insert(s);
          w.Btn_NextClick();
          continue;
        }
        ASSERT_EQ(w.PageIndex(), 3) << "station " << s + 1;
        for (size_t i = before; i < w.runs.size(); ++i) round.logs[s] += w.runs[i].log;
        TDMMeldrun* dm = w.DataModule();
        for (int32_t i = 0; i < dm->ErrorList().Count(); ++i) round.logs[s] += AnsiToUtf8(dm->ErrorList().Strings(i)) + "\n";
        dm->ErrorList().Clear();
        if (after_station) {
          dm->Dst()->SetConnected(false);
          after_station(s, round.logs[s]);
          dm->Dst()->SetConnected(true);
        }
        w.Btn_NextClick();
      }
      if (static_cast<int>(round.refused.size()) == stations) return;  // nothing to finish
      ASSERT_EQ(w.PageIndex(), 4);
      w.Btn_FinallyClick();
      ASSERT_EQ(w.PageIndex(), 5);
      round.finished = true;
    }();
    SetDialogResponder(previous);
    round.runs = w.runs;
    round.dialogs = dialogs;
    wizard_.reset();
    return round;
  }

  // The version questions of older stations, and the equipment questions of the
  // play-in; no other box (no error box).
  static void ExpectNoErrorBox(const Round& round) {
    for (const std::string& t : round.dialogs) {
      const bool question = t.rfind("Verze Sehrávané databáze (", 0) == 0 || t.rfind("POZOR! Zařízení \"", 0) == 0 ||
                            t.rfind("Před zahájením sehrávání", 0) == 0;
      EXPECT_TRUE(question) << t;
    }
  }

  const fs::path before_ = fs::current_path();
  std::unique_ptr<RoundWizard> wizard_;
  TDialogPravaRunner previous_rights_;
};

// --- Stations of older schema versions ------------------------------------------------------

struct OldStation {
  int32_t version;
  std::vector<int32_t> left_out;  // the steps of tables the version lacks
};
void PrintTo(const OldStation& p, std::ostream* os) { *os << p.version; }

class MldrOldStationDb : public MldrRoundsDb, public ::testing::WithParamInterface<OldStation> {};

// The station plays through the wizard and its result is delivered; the tables its
// version lacks are left out.
TEST_P(MldrOldStationDb, PlaysAndFinishesThroughTheWizard) {
  const OldStation& p = GetParam();
  const std::string st = dir_.File("stations/old.fdb");
  if (p.version == 200624) {
    PlayPractice::CopyTo("st624.fdb", st);
  } else {
    PlayPractice::CopyTo("st.fdb", st);
    const CommandResult r = RunIsql(ReadFile(Fixture("practice_version_" + std::to_string(p.version) + ".sql")), st);
    ASSERT_EQ(r.exit_code, 0) << r.output;
  }
  ASSERT_EQ(Q1(st, "select VERZE as V from VERZE"), std::to_string(p.version));
  Pack(st, 1);
  const Round round = PlayRound(1);
  ASSERT_TRUE(round.finished);
  ExpectNoErrorBox(round);
  ASSERT_EQ(round.runs.size(), 1u);
  const EngineRun& run = round.runs[0];
  EXPECT_EQ(run.init_errors + run.convert_errors + run.save_errors, 0) << run.log;
  EXPECT_GT(run.saved, 0);
  for (int32_t step : p.left_out) EXPECT_EQ(run.played.count(step), 0u) << step;
  EXPECT_EQ(run.played.size(), TMeldrun::PlaySteps().size() - p.left_out.size());
  // Delivered: the station's archive holds the harmonised data.
  const std::string delivered = Unpack(1, "delivered.fdb");
  const char* count = "select count(*) as V from KOPROLOGIE";
  EXPECT_EQ(Q1(delivered, count), Q1(Main(), count));
  EXPECT_EQ(Q1(delivered, "select VERZE as V from VERZE"), std::to_string(p.version));
}

INSTANTIATE_TEST_SUITE_P(Versions, MldrOldStationDb,
                         ::testing::Values(OldStation{200624, {47, 51, 52, 71, 78}},
                                           OldStation{200628, {51, 52, 71, 78}}),
                         [](const auto& info) { return std::to_string(info.param.version); });

// --- Rows a station keeps marked ----------------------------------------------------------

// A station document whose partner exists nowhere (with its item) and a new and a changed
// diagnosis that main refuses do not arrive: each stays marked at the station. The
// delivery holds them marked, the new rows under keys of their own beside every row of
// main, the changed one as the station's version of main's row; once their causes are
// mended, the next round plays them from the delivered data.
TEST_F(MldrRoundsDb, RowsAStationKeepsMarkedAreDeliveredAndPlayInTheNextRound) {
  const std::string st = dir_.File("stations/keep.fdb");
  PlayPractice::CopyTo("st.fdb", st);
  const std::string changed = Q1(st, "select min(ID_DIAGNOZA) as V from DIAGNOZA where DIAGNOZA > ''");
  const std::string changed_code = Q1(st, "select DIAGNOZA as V from DIAGNOZA where ID_DIAGNOZA = " + changed);
  // The new document and item take keys main gives rows of its own: the keys of rows
  // the station let go.
  const std::string taken_document = Q1(st, "select min(ID_DOKLAD) as V from DOKLAD where ST is null");
  const std::string taken_item = Q1(st, "select min(ID_DOKLAD_POLOZKA) as V from DOKLAD_POLOZKA_FA where ST is null");
  Exec(st,
       "delete from DOKLAD where ID_DOKLAD = " + taken_document + ";\n"
       "delete from DOKLAD_POLOZKA_FA where ID_DOKLAD_POLOZKA = " + taken_item + ";\n"
       "insert into DOKLAD (ID_DOKLAD, DOKLAD, TYP_DOKLADU, ID_DRUH_DOKLADU, PARTNER, ID_PARTNER, ZALOZENI_ZAZNAMU, "
       "CAS, ST) values (" + taken_document + ", 'KEEP-D1', 'FA', 1110, 'NIKDE', 990999, '2026-06-14', '10:00:00', "
       "'I');\n"
       "insert into DOKLAD_POLOZKA_FA (ID_DOKLAD_POLOZKA, ID_DOKLAD, TEXT, ZALOZENI_ZAZNAMU, CAS, MNOZSTVI, ST) values "
       "(" + taken_item + ", " + taken_document + ", 'KEEP-P1', '2026-06-14', '10:01:00', 2, 'I');\n"
       "insert into DIAGNOZA (ID_DIAGNOZA, DIAGNOZA, DIAGNOZA_NAZEV, ST) values (gen_id(GEN_DIAGNOZA, 1), 'KEEP-K1', "
       "'ODMITNOUT', 'I');\n"
       "update DIAGNOZA set DIAGNOZA_NAZEV = 'ODMITNOUT', ST = 'U' where ID_DIAGNOZA = " + changed + ";");
  // Main refuses the diagnoses it would take in unmarked; the delivery keeps the marks.
  const CommandResult refuse = RunIsql(
      "set term ^ ;\ncreate exception E_ODMITNUTO 'refused by main'^\n"
      "create trigger T_ODMITNI for DIAGNOZA before insert or update as begin if (new.DIAGNOZA_NAZEV = "
      "'ODMITNOUT' and new.ST is null) then exception E_ODMITNUTO; end^\nset term ; ^\ncommit;\n",
      Main());
  ASSERT_EQ(refuse.exit_code, 0) << refuse.output;
  Pack(st, 1);
  const Round first = PlayRound(1);
  ASSERT_TRUE(first.finished) << ::testing::PrintToString(first.dialogs);
  EXPECT_NE(first.logs[0].find("KEEP-D1"), std::string::npos) << first.logs[0];
  EXPECT_EQ(Q1(Main(), "select count(*) as V from DOKLAD where DOKLAD = 'KEEP-D1'"), "0");
  EXPECT_EQ(Q1(Main(), "select count(*) as V from DIAGNOZA where DIAGNOZA = 'KEEP-K1'"), "0");

  const std::string delivered = Unpack(1, "delivered.fdb");
  // The document's partner was never a row of the station: its reference stays as the
  // station had it (the document arrives by its partner's code).
  EXPECT_EQ(DanglingCarriedRefs(delivered), std::vector<std::string>{"DOKLAD.ID_PARTNER = 990999 has no PARTNER"});
  // Every row of main is there, and the kept rows beside them, marked.
  for (const char* table : {"DOKLAD", "DOKLAD_POLOZKA_FA", "DIAGNOZA"}) {
    const std::string count = std::string("select count(*) as V from ") + table;
    EXPECT_EQ(Q1(delivered, count), std::to_string(std::stoi(Q1(Main(), count)) + 1)) << table;
  }
  const std::string document = Q1(delivered, "select ID_DOKLAD as V from DOKLAD where DOKLAD = 'KEEP-D1'");
  EXPECT_EQ(Q1(delivered, "select ST as V from DOKLAD where DOKLAD = 'KEEP-D1'"), "I");
  EXPECT_EQ(Q1(delivered, "select ID_DOKLAD || ST as V from DOKLAD_POLOZKA_FA where TEXT = 'KEEP-P1'"), document + "I");
  EXPECT_EQ(Q1(delivered, "select ST as V from DIAGNOZA where DIAGNOZA = 'KEEP-K1'"), "I");
  EXPECT_EQ(Q1(delivered, "select count(*) as V from DIAGNOZA where DIAGNOZA = '" + changed_code + "'"), "1");
  EXPECT_EQ(Q1(delivered, "select ID_DIAGNOZA || DIAGNOZA_NAZEV || ST as V from DIAGNOZA where DIAGNOZA = '" +
                              changed_code + "'"),
            changed + "ODMITNOUTU");
  // Main's rows under the station's keys are main's.
  EXPECT_NE(document, taken_document);
  const std::string number = "select DOKLAD as V from DOKLAD where ID_DOKLAD = " + taken_document;
  EXPECT_EQ(Q1(delivered, number), Q1(Main(), number));
  const std::string text =
      "select cast(TEXT as varchar(200)) as V from DOKLAD_POLOZKA_FA where ID_DOKLAD_POLOZKA = " + taken_item;
  EXPECT_EQ(Q1(delivered, text), Q1(Main(), text));
  // The generators of the delivery stand above the keys it gave.
  EXPECT_EQ(Q1(delivered, "select count(*) as V from DOKLAD where ID_DOKLAD > gen_id(GEN_DOKLAD, 0)"), "0");
  EXPECT_EQ(Q1(delivered, "select count(*) as V from DIAGNOZA where ID_DIAGNOZA > gen_id(GEN_DIAGNOZA, 0)"), "0");
  EXPECT_EQ(Q1(delivered, "select count(*) as V from DOKLAD_POLOZKA_FA where ID_DOKLAD_POLOZKA > "
                          "gen_id(GEN_DOKLAD_POLOZKA, 0)"),
            "0");

  // The causes mended: main knows the partner and takes the diagnoses.
  Exec(Main(), "drop trigger T_ODMITNI;\ndrop exception E_ODMITNUTO;\n"
               "insert into PARTNER (ID_PARTNER, PARTNER, PARTNER_NAZEV) values (gen_id(GEN_PARTNER, 1), 'NIKDE', "
               "'Konečně známý');");
  // The delivery took main's trigger along: the station drops it too.
  Exec(delivered, "drop trigger T_ODMITNI;\ndrop exception E_ODMITNUTO;");
  Pack(delivered, 1);
  const Round second = PlayRound(1);
  ASSERT_TRUE(second.finished) << ::testing::PrintToString(second.dialogs);
  EXPECT_EQ(Q1(Main(), "select count(*) as V from DOKLAD d join PARTNER p on p.ID_PARTNER = d.ID_PARTNER where "
                       "d.DOKLAD = 'KEEP-D1' and p.PARTNER = 'NIKDE'"),
            "1") << second.logs[0];
  EXPECT_EQ(Q1(Main(), "select count(*) as V from DOKLAD_POLOZKA_FA i join DOKLAD d on d.ID_DOKLAD = i.ID_DOKLAD "
                       "where i.TEXT = 'KEEP-P1' and d.DOKLAD = 'KEEP-D1'"),
            "1");
  EXPECT_EQ(Q1(Main(), "select count(*) as V from DIAGNOZA where DIAGNOZA = 'KEEP-K1'"), "1");
  EXPECT_EQ(Q1(Main(), "select DIAGNOZA_NAZEV as V from DIAGNOZA where DIAGNOZA = '" + changed_code + "'"),
            "ODMITNOUT");
  // Played, they are marked no more.
  const std::string again = Unpack(1, "again.fdb");
  EXPECT_EQ(Q1(again, "select count(*) as V from DOKLAD where DOKLAD = 'KEEP-D1' and ST is null"), "1");
  EXPECT_EQ(Q1(again, "select count(*) as V from DIAGNOZA where DIAGNOZA in ('KEEP-K1', '" + changed_code +
                          "') and ST is null"),
            "2");
}

// A document the station changed and main refuses (its number emptied) goes back to the
// station as the station had it: under its own key, with every item it has, the changed
// item marked beside the others; no second document stands in for it.
TEST_F(MldrRoundsDb, ADocumentMainRefusesGoesBackAsTheStationHadIt) {
  const std::string st = dir_.File("stations/keepdoc.fdb");
  PlayPractice::CopyTo("st.fdb", st);
  const std::string doc =
      Q1(st, "select min(D.ID_DOKLAD) as V from DOKLAD D where D.ST is null and D.DOKLAD > '' and "
             "D.ZALOZENI_ZAZNAMU is not null and (select count(*) from DOKLAD_POLOZKA_FA P where P.ID_DOKLAD = "
             "D.ID_DOKLAD and P.ST is null) >= 2");
  ASSERT_FALSE(doc.empty());
  const std::string items = "select count(*) as V from DOKLAD_POLOZKA_FA where ID_DOKLAD = " + doc;
  const std::string station_items = Q1(st, items);
  Exec(st, "update DOKLAD set DOKLAD = '', ST = 'U' where ID_DOKLAD = " + doc + ";\n"
           "update DOKLAD_POLOZKA_FA set TEXT = 'KEEP-ZMENA', ST = 'U' where ID_DOKLAD_POLOZKA = (select "
           "min(ID_DOKLAD_POLOZKA) from DOKLAD_POLOZKA_FA where ID_DOKLAD = " + doc + ");");
  Pack(st, 1);
  const Round first = PlayRound(1);
  ASSERT_TRUE(first.finished) << ::testing::PrintToString(first.dialogs);

  const std::string delivered = Unpack(1, "delivered.fdb");
  const std::string documents = "select count(*) as V from DOKLAD";
  EXPECT_EQ(Q1(delivered, documents), Q1(Main(), documents));
  EXPECT_EQ(Q1(delivered, "select '[' || coalesce(DOKLAD, '') || ']' || ST as V from DOKLAD where ID_DOKLAD = " + doc),
            "[]U");
  EXPECT_EQ(Q1(delivered, items), station_items);
  EXPECT_EQ(Q1(delivered, "select ID_DOKLAD || ST as V from DOKLAD_POLOZKA_FA where TEXT = 'KEEP-ZMENA'"), doc + "U");
}

// --- What a station hands in ------------------------------------------------------------

// Main renamed its device after the station was given its data; the station changed
// nothing of its organisation: its device row is main's, nothing is asked and nothing of
// the organisation is added.
TEST_F(MldrRoundsDb, AStationDeviceItNeverChangedChangesNothingInMain) {
  // The station holds main's data as the last round gave them, unchanged.
  const std::string st = dir_.File("stations/pc1.fdb");
  PlayPractice::CopyTo("main.fdb", st);
  const std::string device = Q1(st, "select max(ID_ZARIZENI) as V from ZARIZENI");
  Exec(Main(), "update ZARIZENI set NAZEV = 'Přejmenované zařízení' where ID_ZARIZENI = " + device + ";");
  Pack(st, 1);
  const char* counts[] = {"ZARIZENI", "ODDELENI", "PRACOVISTE", "PRACUZIV"};
  std::map<std::string, std::string> before;
  for (const char* t : counts) before[t] = Q1(Main(), std::string("select count(*) as V from ") + t);
  const Round round = PlayRound(1);
  ASSERT_TRUE(round.finished);
  ExpectNoErrorBox(round);
  for (const std::string& t : round.dialogs) EXPECT_EQ(t.rfind("POZOR! Zařízení", 0), std::string::npos) << t;
  for (const char* t : counts) EXPECT_EQ(Q1(Main(), std::string("select count(*) as V from ") + t), before[t]) << t;
  EXPECT_EQ(Q1(Main(), "select NAZEV as V from ZARIZENI where ID_ZARIZENI = " + device), "Přejmenované zařízení");
}

// Once the practice has been through a round, a station's database tells which practice
// and round it comes from: the archive a station handed in before, handed in again, and
// the delivery of another practice are told apart before anything is played, each in a
// message naming the station and its file; the main database and the stations' files stay.
TEST_F(MldrRoundsDb, AnArchivePlayedBeforeAndOneOfAnotherPracticeAreNotPlayed) {
  PackPractice("st.fdb", 1);
  ASSERT_TRUE(PlayRound(1).finished);
  const std::string delivered = Unpack(1, "delivered.fdb");
  // Another practice's delivery to a station of the same name.
  const std::string foreign = dir_.File("stations/foreign.fdb");
  fs::copy_file(delivered, foreign);
  Exec(foreign, "comment on database is 'Pelvar harmonised 2026-01-02 10:00:00 00000000000000aa\r\nPraxe="
                "00000000000000AA\r\nKolo=1\r\nStanice.504331=1';");
  Pack(foreign, 2);
  // Station 1 hands in the archive it handed in before.
  const std::string old = dir_.File("media1/stanice1.old");
  ASSERT_TRUE(fs::exists(old));
  fs::copy_file(old, Medium(1), fs::copy_options::overwrite_existing);
  const std::string media[] = {ReadFile(Medium(1)), ReadFile(Medium(2))};
  const std::string before = PracticeDump(Main());

  const Round round = PlayRound(2);
  EXPECT_EQ(round.refused, (std::set<int>{0, 1}));
  EXPECT_FALSE(round.finished);
  EXPECT_TRUE(round.runs.empty());
  const struct {
    std::string station, says;
  } refusals[] = {{"\"PC1\"", "už byl sehrán"}, {"\"PC2\"", "nepochází z této praxe"}};
  for (size_t i = 0; i < 2; ++i) {
    bool told = false;
    for (const std::string& t : round.dialogs)
      told = told || (t.find(refusals[i].station) != std::string::npos &&
                      t.find(refusals[i].says) != std::string::npos && t.find(Medium(static_cast<int>(i) + 1)) != std::string::npos);
    EXPECT_TRUE(told) << refusals[i].station << "\n" << ::testing::PrintToString(round.dialogs);
  }
  const std::string after = PracticeDump(Main());
  EXPECT_TRUE(after == before) << PracticeDumpDiff(before, after);
  for (int n = 1; n <= 2; ++n) EXPECT_TRUE(ReadFile(Medium(n)) == media[n - 1]) << n;
  EXPECT_FALSE(fs::exists(dir_.File("media2/stanice2.old")));
}

// Main deleted a partner under which the station added a patient with a daily record:
// they do not arrive and never can. The delivered database holds no row that names what
// it lacks; the rows are named, with the reason, in the list the run's archive keeps.
TEST_F(MldrRoundsDb, KeptRowsThatCanNeverArriveAreListedNotDelivered) {
  const std::string st = dir_.File("stations/pc1.fdb");
  PlayPractice::CopyTo("st.fdb", st);
  const std::string partner = Q1(st, "select min(ID_PARTNER) as V from PARTNER p where ST is null and ID_PARTNER > 0 "
                                     "and not exists (select 1 from PACIENT a where a.ID_PARTNER = p.ID_PARTNER)");
  const std::string user = Q1(st, "select min(ID_UZIVATEL) as V from UZIVATEL_NEW");
  Exec(st, "insert into PACIENT (ID_PACIENT, PACIENT, JMENO, ID_PARTNER, ST) values (gen_id(GEN_PACIENT, 1), "
           "'ORPHAN-1', 'Sirotek', " + partner + ", 'I');\n"
           "insert into DENNI_ZAZNAM (ID_DENNI_ZAZNAM, ID_PACIENT, ID_ZALOZIL, ID_MODIFIKOVAL, ID_ORG_JEDNOTKA, DATUM, "
           "CAS, ZALOZENI_ZAZNAMU, DIAGNOZA_POPIS, ST) select gen_id(GEN_DENNI_ZAZNAM, 1), ID_PACIENT, " + user + ", " +
           user + ", " + user + ", current_date, '10:00:00', current_date, 'ORPHAN-DZ', 'I' from PACIENT where "
           "PACIENT = 'ORPHAN-1';");
  Exec(Main(), "delete from PARTNER where ID_PARTNER = " + partner + ";");
  Pack(st, 1);
  const Round round = PlayRound(1);
  ASSERT_TRUE(round.finished);
  EXPECT_EQ(Q1(Main(), "select count(*) as V from PACIENT where PACIENT = 'ORPHAN-1'"), "0");
  const std::string delivered = Unpack(1, "delivered.fdb");
  EXPECT_EQ(DanglingCarriedRefs(delivered), std::vector<std::string>{});
  EXPECT_EQ(Q1(delivered, "select count(*) as V from PACIENT where PACIENT = 'ORPHAN-1'"), "0");
  EXPECT_EQ(Q1(delivered, "select count(*) as V from DENNI_ZAZNAM where DIAGNOZA_POPIS = 'ORPHAN-DZ'"), "0");
  const std::string list = Work("ARCHIV/Nesehratelne_1_PC1.txt");
  ASSERT_TRUE(fs::exists(list));
  const std::string text = AnsiToUtf8(ReadFile(list));
  for (const std::string& named : {std::string("\"PC1\""), std::string("Tabulka PACIENT, sloupec ID_PARTNER"),
                                   std::string("PACIENT=ORPHAN-1"), std::string("Tabulka DENNI_ZAZNAM, sloupec ID_PACIENT"),
                                   std::string("DIAGNOZA_POPIS=ORPHAN-DZ"), std::string("zadejte je na stanici znovu")})
    EXPECT_NE(text.find(named), std::string::npos) << named << "\n" << text;
}

// --- The life of a practice ---------------------------------------------------------------

class MldrLifeDb : public MldrRoundsDb {
 protected:
  // The tables whose marks the play-in clears.
  static const std::set<std::string>& ClearedTables() {
    static const std::set<std::string> tables = [] {
      std::set<std::string> out;
      for (const TPlayStepDef& step : TMeldrun::PlaySteps()) {
        const std::string list = step.ClearedMarks;
        for (size_t from = 0; from < list.size();) {
          size_t end = list.find(',', from);
          if (end == std::string::npos) end = list.size();
          std::string t = list.substr(from, end - from);
          t.erase(0, t.find_first_not_of(' '));
          t.erase(t.find_last_not_of(' ') + 1);
          if (!t.empty()) out.insert(t);
          from = end + 1;
        }
      }
      return out;
    }();
    return tables;
  }
  void SetUp() override {
    MldrRoundsDb::SetUp();
    // The user lets a station's changed access right overwrite main's.
    SetDialogPravaRunner([](TFrmDialogPrava& d) {
      d.RadioGroupRozhodniClick(0);
      d.BtnOKClick();
    });
  }
  // The integrity sweep over both stations' data as the round will play it.
  std::unique_ptr<PlayIntegrity> Sweep(const std::string& st1, const std::string& st2) {
    auto sweep = std::make_unique<PlayIntegrity>(Main(), std::vector<std::string>{st1, st2}, AllPlayedTables(),
                                                 AllPlayRefs());
    // Cases kept open for unsorted visits are every patient's own; the play passes them
    // over, and an active case played in makes the patient's other cases inactive.
    sweep->PassedOver["PRIPAD"] = "AKTIVNI = 'O'";
    sweep->Rewritten.insert("PRIPAD.AKTIVNI");
    // Laboratory evaluations are only merged, never added; a sex code plays its code alone.
    sweep->PassedOver["LABHODN"] = "ST = 'I'";
    sweep->Rewritten.insert({"POHLAVI.SAMEC", "POHLAVI.KASTRAT"});
    // The wizard closes the stock issues and closing items up to a station's closing.
    sweep->Rewritten.insert({"DOKLAD_POLOZKA_SK.UZAVERKA", "DOKLAD_POLOZKA_UZ.TYP_POHYBU"});
    sweep->Snapshot();
    return sweep;
  }

  // A round with the checks that hold after every round: each station's marked rows are
  // in the working database right after the station played (with their values, under
  // whatever key main gave them), or main holds their natural key (the row was skipped
  // where its table only adds rows, or merged and then overwritten by a later row of the
  // same key, which the log shows), or they are named in the station's logs and still
  // marked in the station database the play-in worked on; any other marked row is lost. Then every reference of main resolves, no generator is below its table's
  // highest key, no main row that no station marked changed, and main keeps no change
  // mark.
  Round CheckedRound(PlayIntegrity& sweep) {
    using Rows = std::vector<std::pair<std::string, std::string>>;
    Rows reported[2], unreported[2];
    const Round round = PlayRound(2, [&](int s, const std::string& logs) {
      sweep.SetMain(Work("Main.fdb"));
      const auto changed = sweep.CheckChangedRows(static_cast<size_t>(s), logs);
      sweep.SetMain(Main());
      reported[s] = changed.reported_rows;
      unreported[s] = changed.unreported_rows;
    });
    EXPECT_TRUE(round.finished);
    ExpectNoErrorBox(round);
    for (const EngineRun& r : round.runs)
      EXPECT_EQ(r.init_errors + r.convert_errors + r.save_errors, 0) << "PC" << r.station + 1 << "\n" << r.log;
    if (!round.finished) return round;
    for (const std::string& p : sweep.Check()) ADD_FAILURE() << p;
    // The natural keys of the rows not found in main, and whether those the logs name
    // are still marked, in one isql run per station database; then main's natural keys
    // of those tables and its change marks in one run.
    std::map<std::string, std::map<std::string, std::string>> at_station[2];
    std::set<std::string> tables;
    for (int s = 0; s < 2; ++s) {
      if (reported[s].empty() && unreported[s].empty()) continue;
      const PlaySchema st = PlaySchema::Read(Played(s + 1));
      Rows all = reported[s];
      all.insert(all.end(), unreported[s].begin(), unreported[s].end());
      auto selects = StationNaturalKeySelects(st, all);
      for (const auto& [table, key] : reported[s]) {
        tables.insert(table);
        selects.push_back({"M:" + table, "select 'M:" + table + "' as T, cast(" + st.tables.at(table).key +
                                             " as varchar(20)) as K, '-' as V from " + table + " where " +
                                             st.tables.at(table).key + " = " + key + " and ST is not null"});
      }
      for (const auto& [table, key] : unreported[s]) tables.insert(table);
      at_station[s] = KeyedValues(Played(s + 1), selects);
    }
    auto selects = MainNaturalKeySelects(tables);
    const PlaySchema& schema = sweep.Schema();
    for (const auto& [table, t] : schema.tables)
      if (schema.HasColumn(table, "ST"))
        selects.push_back({"ST:" + table, "select 'ST:" + table + "' as T, '-' as K, '-' as V from RDB$DATABASE where "
                                              "exists (select 1 from " + table + " where ST is not null)"});
    const auto in_main = KeyedValues(Main(), selects);
    for (const auto& [t, rows] : in_main)
      if (t.rfind("ST:", 0) == 0) ADD_FAILURE() << "main keeps change marks in " << t.substr(3);
    for (int s = 0; s < 2; ++s) {
      if (round.refused.count(s)) continue;
      // The station's log is kept with the run's results: every line its engines and
      // its error list wrote.
      const std::string ident = "PC" + std::to_string(s + 1);
      const std::string kept = AnsiToUtf8(ReadFile(Work("ARCHIV/Import_" + std::to_string(s + 1) + "_" + ident + ".txt")));
      std::istringstream lines(round.logs[s]);
      for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && kept.find(line) == std::string::npos) {
          ADD_FAILURE() << ident << ": the kept log lacks " << line;
          break;
        }
      }
      // The delivery is whole, and holds every row the station keeps, unless the list
      // of rows that can never arrive names its table.
      const std::string delivered = Unpack(s + 1, "check_pc" + std::to_string(s + 1) + ".fdb");
      for (const std::string& d : DanglingCarriedRefs(delivered)) ADD_FAILURE() << ident << " delivery: " << d;
      const std::string never = Work("ARCHIV/Nesehratelne_" + std::to_string(s + 1) + "_" + ident + ".txt");
      const std::string listed = fs::exists(never) ? AnsiToUtf8(ReadFile(never)) : std::string();
      // Rows kept in a table whose marks the play-in clears (the others are not carried):
      // the delivery holds as many marked rows there, or the list names the table.
      std::map<std::string, int> kept_rows;
      for (const auto& [table, key] : reported[s]) {
        if (NaturalKeyInMain(at_station[s], in_main, table, key) || !ClearedTables().count(table)) continue;
        const auto marked = at_station[s].find("M:" + table);
        if (marked != at_station[s].end() && marked->second.count(key)) ++kept_rows[table];
      }
      std::vector<std::pair<std::string, std::string>> counts;
      for (const auto& [table, n] : kept_rows)
        counts.push_back({table, "select '" + table + "' as T, '-' as K, cast(count(*) as varchar(20)) as V from " +
                                     table + " where ST is not null"});
      const auto in_delivery = KeyedValues(delivered, counts);
      for (const auto& [table, n] : kept_rows) {
        const auto c = in_delivery.find(table);
        const int delivered_rows = c == in_delivery.end() ? 0 : std::stoi(c->second.at("-"));
        if (delivered_rows < n && listed.find("Tabulka " + table + ",") == std::string::npos)
          ADD_FAILURE() << ident << ": " << n << " rows of " << table << " are kept, the delivery carries "
                        << delivered_rows << " and the list names none";
      }
    }
    for (int s = 0; s < 2; ++s) {
      if (round.refused.count(s)) continue;
      // A row that is merged without a log line is equal to main's row, so in main.
      for (const auto& [table, key] : unreported[s])
        if (MergedTables().count(table) != 0 || !NaturalKeyInMain(at_station[s], in_main, table, key))
          ADD_FAILURE() << "PC" << s + 1 << ": " << table << " row " << key
                        << " is lost: it is not in main, no log names it, and it is not one main holds by design";
      for (const auto& [table, key] : reported[s]) {
        if (NaturalKeyInMain(at_station[s], in_main, table, key)) continue;
        const auto marked = at_station[s].find("M:" + table);
        if (marked == at_station[s].end() || marked->second.count(key) == 0)
          ADD_FAILURE() << "PC" << s + 1 << ": " << table << " row " << key
                        << " is lost: neither it nor its natural key is in main, and though the logs name it, it is "
                           "no longer marked";
      }
    }
    return round;
  }
  static void ExpectNothingWritten(const Round& round) {
    for (const EngineRun& r : round.runs) {
      EXPECT_EQ(r.saved, 0) << "PC" << r.station + 1 << "\n" << r.log;
      EXPECT_EQ(r.changed, 0) << "PC" << r.station + 1 << "\n" << r.log;
    }
  }
};

TEST_F(MldrLifeDb, APracticeLivesThroughRoundsEditsAndReplays) {
  // Round 1: the practice's main database, a station of the current schema and one at
  // 200624.
  {
    SCOPED_TRACE("round 1");
    PlayPractice::CopyTo("st.fdb", dir_.File("stations/r1_pc1.fdb"));
    PlayPractice::CopyTo("st624.fdb", dir_.File("stations/r1_pc2.fdb"));
    PackPractice("st.fdb", 1);
    PackPractice("st624.fdb", 2);
    auto sweep = Sweep(dir_.File("stations/r1_pc1.fdb"), dir_.File("stations/r1_pc2.fdb"));
    const Round round = CheckedRound(*sweep);
    ASSERT_TRUE(round.finished);
    for (const EngineRun& r : round.runs) EXPECT_GT(r.saved, 0) << "PC" << r.station + 1;
  }

  // Round 2 from what delivery gave back, with no change at the stations; main renamed
  // its device: nothing is asked and nothing is written.
  {
    SCOPED_TRACE("round 2, no change");
    Exec(Main(), "update ZARIZENI set NAZEV = 'R2 přejmenované' where ID_ZARIZENI = (select min(ID_ZARIZENI) from "
                 "ZARIZENI);");
    const std::string before = PracticeDump(Main());
    auto sweep = Sweep(Unpack(1, "r2_pc1.fdb"), Unpack(2, "r2_pc2.fdb"));
    const Round round = CheckedRound(*sweep);
    ASSERT_TRUE(round.finished);
    ExpectNothingWritten(round);
    for (const std::string& t : round.dialogs) EXPECT_EQ(t.rfind("POZOR! Zařízení", 0), std::string::npos) << t;
    const std::string after = PracticeDump(Main());
    EXPECT_TRUE(after == before) << PracticeDumpDiff(before, after);
  }

  // Round 2 again, with new rows and edits at both stations and in main.
  const std::string partner =
      "select PARTNER as V from PARTNER where PARTNER is not null and ID_PARTNER > 0 order by ID_PARTNER rows ";
  const std::string patient =
      "select PACIENT as V from PACIENT where PACIENT is not null and ID_PACIENT > 0 order by ID_PACIENT rows ";
  const std::string p1 = Q1(Main(), partner + "1"), p2 = Q1(Main(), partner + "2 to 2"), p3 = Q1(Main(), partner + "3 to 3");
  const std::string a1 = Q1(Main(), patient + "1"), a2 = Q1(Main(), patient + "2 to 2"), a3 = Q1(Main(), patient + "3 to 3");
  const auto coprology = [](const std::string& animal, const std::string& result) {
    return "insert into KOPROLOGIE (ID_KOPROLOGIE, ID_PACIENT, VYSLEDEK, ZALOZENI_ZAZNAMU, ID_DOKLAD_POLOZKA, ST) "
           "select gen_id(GEN_KOPROLOGIE, 1), ID_PACIENT, '" + result + "', '2026-06-10', -1, 'I' from PACIENT where "
           "PACIENT = '" + animal + "';\n";
  };
  const std::string kopro_before = Q1(Main(), "select count(*) as V from KOPROLOGIE");
  {
    SCOPED_TRACE("round 2, edits");
    const std::string st1 = Unpack(1, "r3_pc1.fdb"), st2 = Unpack(2, "r3_pc2.fdb");
    Exec(st1, coprology(a1, "R2 PC1 pozitivní") +
                  "update PARTNER set PARTNER_NAZEV = 'R2 název PC1', ST = 'U' where PARTNER = '" + p1 + "';\n"
                  "insert into PACIENT (ID_PACIENT, PACIENT, JMENO, ID_PARTNER, ST) select gen_id(GEN_PACIENT, 1), "
                  "'R2PC1', 'Alík', ID_PARTNER, 'I' from PARTNER where PARTNER = '" + p1 + "';");
    Exec(st2, coprology(a2, "R2 PC2 negativní") +
                  "update PARTNER set PARTNER_NAZEV = 'R2 název PC2', ST = 'U' where PARTNER = '" + p2 + "';\n"
                  "update PACIENT set JMENO = 'R2 Micka', ST = 'U' where PACIENT = '" + a3 + "';");
    Pack(st1, 1);
    Pack(st2, 2);
    // Main edits a partner no station touched, and one that PC1 changed too.
    Exec(Main(), "update PARTNER set ULICE = 'R2 Hlavní 1' where PARTNER = '" + p3 + "';\n"
                 "update PARTNER set PARTNER_NAZEV = 'R2 název hlavní' where PARTNER = '" + p1 + "';");
    auto sweep = Sweep(st1, st2);
    const Round round = CheckedRound(*sweep);
    ASSERT_TRUE(round.finished);
    // Every station change arrived, once; main's own edit stayed where no station
    // changed the row.
    EXPECT_EQ(Q1(Main(), "select count(*) as V from KOPROLOGIE"), std::to_string(std::stoi(kopro_before) + 2));
    for (const char* result : {"R2 PC1 pozitivní", "R2 PC2 negativní"})
      EXPECT_EQ(Q1(Main(), std::string("select count(*) as V from KOPROLOGIE where VYSLEDEK = '") + result + "'"), "1")
          << result;
    EXPECT_EQ(Q1(Main(), "select PARTNER_NAZEV as V from PARTNER where PARTNER = '" + p1 + "'"), "R2 název PC1");
    EXPECT_EQ(Q1(Main(), "select PARTNER_NAZEV as V from PARTNER where PARTNER = '" + p2 + "'"), "R2 název PC2");
    EXPECT_EQ(Q1(Main(), "select ULICE as V from PARTNER where PARTNER = '" + p3 + "'"), "R2 Hlavní 1");
    EXPECT_EQ(Q1(Main(), "select JMENO as V from PACIENT where PACIENT = '" + a3 + "'"), "R2 Micka");
    EXPECT_EQ(Q1(Main(), "select count(*) as V from PACIENT where PACIENT = 'R2PC1'"), "1");
  }

  // PC1 hands in the archive it handed in before (it kept its old database), PC2 the
  // delivery of another practice: neither is played, main and the media stay.
  const std::string fresh[] = {ReadFile(Medium(1)), ReadFile(Medium(2))};
  {
    SCOPED_TRACE("an archive handed in again, and one of another practice");
    const std::string old = dir_.File("media1/stanice1.old");
    ASSERT_TRUE(fs::exists(old));
    fs::copy_file(old, Medium(1), fs::copy_options::overwrite_existing);
    const std::string foreign = Unpack(2, "r4_foreign.fdb");
    Exec(foreign, "comment on database is 'Pelvar harmonised 2026-01-02 10:00:00 00000000000000bb\r\nPraxe="
                  "00000000000000BB\r\nKolo=7\r\nStanice.504332=7';");
    Pack(foreign, 2);
    const std::string before = PracticeDump(Main());
    const Round round = PlayRound(2);
    EXPECT_EQ(round.refused, (std::set<int>{0, 1}));
    EXPECT_TRUE(round.runs.empty());
    const std::string after = PracticeDump(Main());
    EXPECT_TRUE(after == before) << PracticeDumpDiff(before, after);
    // Nothing to finish: the run ends, and the next start removes its work files.
    std::vector<std::string> dialogs;
    const TDialogResponder previous = SetDialogResponder([&dialogs](const TDialogRequest& r) {
      dialogs.push_back(AnsiToUtf8(r.Text));
      return mrOk;
    });
    {
      RoundWizard w(AnsiString(dir_.Path() + "/"));
      w.MakeDataModule();
      w.Show();
    }
    SetDialogResponder(previous);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].rfind("Průvodce odstranil soubory", 0), 0u) << dialogs[0];
  }

  // Back to the data the last round gave them: they play, and nothing changes.
  {
    SCOPED_TRACE("the last deliveries after the refusals");
    for (int n = 1; n <= 2; ++n) WriteFile(Medium(n), fresh[n - 1]);
    const std::string before = PracticeDump(Main());
    auto sweep = Sweep(Unpack(1, "r5_pc1.fdb"), Unpack(2, "r5_pc2.fdb"));
    const Round round = CheckedRound(*sweep);
    ASSERT_TRUE(round.finished);
    ExpectNothingWritten(round);
    const std::string after = PracticeDump(Main());
    EXPECT_TRUE(after == before) << PracticeDumpDiff(before, after);
  }
}

// --- The journal delivered ------------------------------------------------------------

// What a journal row names, told the same way in every database: the code of the record
// (documents by number and type, daily records and items by their parents' codes and their
// times), elsewhere a hash of the record's own values (no keys, no change mark, no column
// the play rewrites by design).
std::string JournalIdentity(const std::string& table, const PlaySchema& schema) {
  static const std::map<std::string, std::string> codes = [] {
    const std::string patient = "(select p.PACIENT from PACIENT p where p.ID_PACIENT = x.ID_PACIENT)";
    const std::string document = "(select d.DOKLAD||'/'||d.TYP_DOKLADU from DOKLAD d where d.ID_DOKLAD = x.ID_DOKLAD)";
    const std::string item = document + "||'/'||x.VARIANTA||'/'||x.ZALOZENI_ZAZNAMU||'/'||x.CAS";
    return std::map<std::string, std::string>{
        {"PACIENT", "x.PACIENT"},
        {"ZARIZENI", "x.ID_ZARIZENI"},  // a facility is known by its number
        {"CENIK", "x.CENIK"},
        {"PRISTUPOVA_PRAVA", "x.NAZEV"},
        {"OBRAZOVA_DOKUMENTACE", patient + "||'/'||x.NAZEV||'/'||upper(x.TYP_SOUBORU)||'/'||x.ZALOZENI_ZAZNAMU"},
        {"PARTNER", "x.PARTNER"},
        {"VARIANTA", "x.VARIANTA"},
        {"DOKLAD", "x.DOKLAD||'/'||x.TYP_DOKLADU"},
        {"DENNI_ZAZNAM", patient + "||'/'||x.DATUM||'/'||x.CAS"},
        {"PRIPAD", patient + "||'/'||x.PRIPAD"},
        {"DOKLAD_POLOZKA_FA", item},
        {"DOKLAD_POLOZKA_PD", item},
        {"DOKLAD_POLOZKA_UM", item},
        {"DOKLAD_POLOZKA_SK", item},
        {"DOKLAD_POLOZKA_BV", item},
    };
  }();
  const auto code = codes.find(table);
  if (code != codes.end()) return "coalesce(cast(" + code->second + " as varchar(200)), '-')";
  static const std::set<std::string> rewritten = {"PRIPAD.AKTIVNI", "POHLAVI.SAMEC", "POHLAVI.KASTRAT",
                                                  "DOKLAD_POLOZKA_SK.UZAVERKA", "DOKLAD_POLOZKA_UZ.TYP_POHYBU"};
  const PlaySchema::Table& t = schema.tables.at(table);
  std::string expr;
  for (const std::string& c : t.columns) {
    if (c == "ST" || c.rfind("ID", 0) == 0 || (c.size() > 4 && c.substr(c.size() - 4) == "_NEW")) continue;
    if (rewritten.count(table + "." + c)) continue;
    const std::string v = t.text.count(c)     ? "trim(trailing from x.\"" + c + "\")"
                          : t.floats.count(c) ? "round(x.\"" + c + "\", 4)"
                                              : "x.\"" + c + "\"";
    expr += (expr.empty() ? "" : "||'|'||") + std::string("coalesce(cast(hash(" + v + ") as varchar(24)), 'N')");
  }
  return expr.empty() ? "'-'" : "cast(hash(" + expr + ") as varchar(24))";
}

// The column a journal row's ID_ZAZNAM holds for a table: the first column of its
// primary key; LAB_VAZBY is journalled under ID_POLOZKA_ZADANKY.
std::string JournalKey(const std::string& table, const PlaySchema& schema) {
  if (table == "LAB_VAZBY") return "ID_POLOZKA_ZADANKY";
  const auto it = schema.tables.find(table);
  return it == schema.tables.end() ? std::string() : it->second.key;
}

struct JournalView {
  std::map<std::string, std::pair<std::string, std::string>> rows;  // ID_ZURNAL -> (TABULKA, ID_ZAZNAM)
  std::map<std::string, std::map<std::string, std::set<std::string>>> named;  // table -> key -> identities
  std::map<std::string, std::map<std::string, std::string>> marks;             // table -> key -> ST
};

// The journal of db and the identities of the records its rows name (every record of
// the tables its journal names, with all_rows), and the change marks of those records.
JournalView ReadJournal(const std::string& db, const std::set<std::string>& of_tables = {}) {
  JournalView j;
  const PlaySchema schema = PlaySchema::Read(db);
  const auto rows = KeyedValues(db, {{"J", "select 'J' as T, cast(ID_ZURNAL as varchar(20)) as K, trim(TABULKA)||'|'||"
                                           "coalesce(cast(ID_ZAZNAM as varchar(20)), '') as V from ZURNAL"}});
  std::set<std::string> tables = of_tables;
  const bool all_rows = !of_tables.empty();
  if (!all_rows && rows.count("J")) {
    for (const auto& [id, v] : rows.at("J")) {
      const size_t bar = v.find('|');
      j.rows[id] = {v.substr(0, bar), v.substr(bar + 1)};
      tables.insert(v.substr(0, bar));
    }
  }
  std::vector<std::pair<std::string, std::string>> selects;
  for (const std::string& t : tables) {
    const std::string key = JournalKey(t, schema);
    if (key.empty()) continue;
    if (!schema.Has(t)) continue;
    const std::string where =
        all_rows ? "" : " where x." + key + " in (select z.ID_ZAZNAM from ZURNAL z where z.TABULKA = '" + t + "')";
    selects.push_back({t, "select '" + t + "' as T, cast(x." + key + " as varchar(20)) as K, " +
                              JournalIdentity(t, schema) + " as V from " + t + " x" + where});
    if (schema.HasColumn(t, "ST"))
      selects.push_back({"ST:" + t, "select 'ST:" + t + "' as T, cast(x." + key + " as varchar(20)) as K, "
                                    "coalesce(x.ST, '-') as V from " + t + " x" + where});
  }
  for (const auto& [t, keys] : KeyedValues(db, selects)) {
    if (t.rfind("ST:", 0) == 0) {
      for (const auto& [k, v] : keys) j.marks[t.substr(3)][k] = v;
      continue;
    }
    for (const auto& [k, v] : keys) {
      std::set<std::string>& ids = j.named[t][k];
      for (size_t from = 0;;) {
        const size_t at = v.find(';', from);
        ids.insert(v.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) break;
        from = at + 1;
      }
    }
  }
  return j;
}

TEST_F(MldrRoundsDb, TheDeliveredJournalNamesTheStationsRecordsOrNone) {
  const std::string st = dir_.File("stations/pc1.fdb");
  PlayPractice::CopyTo("st.fdb", st);
  // Main holds two patients the station does not know; the station's new patient has
  // the key of the one and the code of the other, so it is merged onto the other.
  const std::string partner =
      Q1(st, "select min(ID_PARTNER) as V from PARTNER where ID_PARTNER > 0 and PARTNER is not null");
  Exec(Main(), "insert into PACIENT (ID_PACIENT, PACIENT, JMENO, ID_PARTNER) values (990031, 'JRN-B', 'Bety', " +
                   partner + ");\ninsert into PACIENT (ID_PACIENT, PACIENT, JMENO, ID_PARTNER) values (990033, "
                   "'JRN-A', 'Asta', " + partner + ");");
  Exec(st, "insert into PACIENT (ID_PACIENT, PACIENT, JMENO, ID_PARTNER, ST) values (990031, 'JRN-A', 'Asta', " +
               partner + ", 'I');");
  // Main's items get keys the station's new items do not have.
  Exec(Main(), "select gen_id(GEN_DOKLAD_POLOZKA, 100) from RDB$DATABASE;");
  Pack(st, 1);
  const JournalView before = ReadJournal(st);
  std::set<std::string> tables;
  for (const auto& [t, keys] : before.named) tables.insert(t);
  const JournalView main_before = ReadJournal(Main(), tables);
  ASSERT_EQ(before.named.at("PACIENT").at("990031"), (std::set<std::string>{"JRN-A"}));

  const Round round = PlayRound(1);
  ASSERT_TRUE(round.finished);
  ExpectNoErrorBox(round);
  const std::string delivered = Unpack(1, "delivered.fdb");
  const JournalView after = ReadJournal(delivered);

  // Row for row: the record the station named, or none.
  std::map<std::string, int> moved;
  for (const auto& [id, row] : before.rows) {
    const auto& [table, key] = row;
    const auto d = after.rows.find(id);
    if (d == after.rows.end() || d->second.second.empty()) continue;
    EXPECT_EQ(d->second.first, table) << "ZURNAL " << id;
    const std::string& new_key = d->second.second;
    if (new_key != key) ++moved[table];
    static const std::set<std::string> none;
    const auto identities = [](const JournalView& j, const std::string& t, const std::string& k) -> const std::set<std::string>& {
      const auto tt = j.named.find(t);
      if (tt == j.named.end()) return none;
      const auto kk = tt->second.find(k);
      return kk == tt->second.end() ? none : kk->second;
    };
    const std::set<std::string>& was = identities(before, table, key);
    const std::set<std::string>& is = identities(after, table, new_key);
    // A row the station changed ("U") that was not played over main's is main's record
    // of that key as main had it.
    const auto mark = before.marks.find(table);
    const bool changed = mark != before.marks.end() && mark->second.count(key) && mark->second.at(key) == "U";
    if (changed && new_key == key && !is.empty() && is == identities(main_before, table, key)) continue;
    if (was.empty()) {
      EXPECT_TRUE(is.empty()) << "ZURNAL " << id << ": " << table << " " << key
                              << " names no record at the station, " << new_key << " one in the delivery";
    } else {
      EXPECT_TRUE(std::includes(is.begin(), is.end(), was.begin(), was.end()))
          << "ZURNAL " << id << ": " << table << " " << key << " (" << *was.begin() << ") became " << new_key << " ("
          << (is.empty() ? std::string("none") : *is.begin()) << ")";
    }
  }
  // The merged patient names main's patient of its code; the documents, daily records
  // and items of the memory import that main keys differently were followed too.
  for (const auto& [id, row] : before.rows) {
    if (row.first == "PACIENT" && row.second == "990031" && after.rows.count(id)) {
      EXPECT_EQ(after.rows.at(id).second, "990033") << "ZURNAL " << id;
    }
  }
  for (const char* t : {"PACIENT", "DOKLAD", "DENNI_ZAZNAM"}) EXPECT_GT(moved[t], 0) << t;
  EXPECT_GT(moved["DOKLAD_POLOZKA_FA"] + moved["DOKLAD_POLOZKA_PD"] + moved["DOKLAD_POLOZKA_UM"] +
                moved["DOKLAD_POLOZKA_SK"],
            0);
}

}  // namespace
}  // namespace pelvar::test
