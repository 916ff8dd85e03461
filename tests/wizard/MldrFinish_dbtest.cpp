// Finishing against real practice databases in the in-process engine, from the state the
// play-in leaves (station databases restored in the working directory with their new-key
// columns, journal marks, key mappings): the harmonised backup replaces the main database;
// each station's medium gets a zip archive or a backup that gbak restores to the
// harmonised data plus that station's own tables (keys remapped, the journal trimmed to
// the mark and remapped, an ORD_DOBA text with apostrophes intact, a null reference kept
// null); a station backup named like the harmonised backup leaves that alone; the
// medium files end in ".old"; the work files move to the archive. Fault runs:
// a table of the working database refusing the copy-back, a station file copy failing,
// a medium file that cannot be renamed, a main database in use; each leaves the main
// database and every station file as they were and says what to do. A station file
// that cannot be renamed once the main database was replaced keeps its result beside it,
// named in the message.
#include <gtest/gtest.h>

#include <filesystem>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/dialogs.h"
#include "platform/oslayer.h"
#include "platform/registry.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "wizard/MldrMain.h"
#include "finish_fixture.h"
#include "wizard_env.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

// Acts when the form shows a given finishing step.
class StepView : public TMldrMainView {
 public:
  std::string step;
  std::function<void()> action;
  void Update(const TFrmMldrMain& form) override {
    if (action && AnsiToUtf8(form.L_Dokonceni) == step) {
      auto a = std::move(action);
      action = nullptr;
      a();
    }
  }
};

const char* const kStationSetup = R"(
alter table ZARIZENI add ID_ZARIZENI_NEW integer;
alter table UZIVATEL_NEW add ID_UZIVATEL_NEW integer;
commit;
update ZARIZENI set ID_ZARIZENI_NEW = ID_ZARIZENI + 7000;
update UZIVATEL_NEW set ID_UZIVATEL_NEW = ID_UZIVATEL + 9000;
update ORD_DOBA set POZNAMKA = 'U Nováků''s; drop table ZURNAL; --'
  where ID_ORD_DOBA = (select min(ID_ORD_DOBA) from ORD_DOBA);
update FRONTA set ID_ZALOZIL = null where ID_FRONTA = (select min(ID_FRONTA) from FRONTA);
update FRONTA set ID_ZALOZIL = 2 where ID_FRONTA = (select max(ID_FRONTA) from FRONTA);
commit;
)";

class MldrFinishDb : public WizardEnv {
 protected:
  // The practice, made once: the main database, the working database with a mark of its
  // own, and two station databases as the play-in leaves them.
  static void SetUpTestSuite() {
    InstallClientLibraryNameProvider();
    practice_ = new TempDir("pelvar-finish");
    const CommandResult r = GeneratePractice({"--seed", "finish", "--size", "small", "--main",
                                              practice_->File("main.fdb"), "--station",
                                              practice_->File("st1.fdb"), "--station",
                                              practice_->File("st2.fdb")});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    fs::copy_file(practice_->File("main.fdb"), practice_->File("harm.fdb"));
    Query(practice_->File("harm.fdb"),
          "insert into NASTAVENI (ID_NASTAVENI, SEKCE, KLIC, HODNOTA) values (999001, 'TEST', "
          "'harm', 'sehraná');\ninsert into POHLAVI (ID_POHLAVI, POHLAVI) values (999001, 'sehraná');\n"
          "commit;");
    for (int i = 0; i < 2; ++i) {
      const std::string st = practice_->File(i == 0 ? "st1.fdb" : "st2.fdb");
      marks_[i] = std::stoi(QueryOne(st, "select max(ID_ZURNAL) as V from ZURNAL;"));
      Query(st, kStationSetup);
    }
    // A row of the second station that a locked table of the working database refuses.
    Query(practice_->File("st2.fdb"),
          "update TEPLOTA_MISTO set NAZEV = 'ZAMCENO' where ID_TEPLOTA_MISTO = (select "
          "max(ID_TEPLOTA_MISTO) from TEPLOTA_MISTO);\ncommit;");
  }
  static void TearDownTestSuite() {
    delete practice_;
    practice_ = nullptr;
  }

  void SetUp() override {
    WizardEnv::SetUp();
    for (const char* d : {"data", "media1", "media2", "zaloha", "MAINDATA"}) fs::create_directories(dir_.File(d));
    WriteFile(dir_.File("Meldrun.ini"), "[DATABAZE]\r\nPath=" + dir_.File("data") +
                                            "\r\nDBFileName=main.fdb\r\nBkpPath=" + dir_.File("zaloha") +
                                            "\r\n");
    fs::copy_file(practice_->File("main.fdb"), dir_.File("data/main.fdb"));
    fs::copy_file(practice_->File("harm.fdb"), Work("Main.fdb"));
    fs::copy_file(practice_->File("st1.fdb"), Work("stanice.fdb"));
    fs::copy_file(practice_->File("st2.fdb"), Work("pelvar.gdb"));
    WriteFile(Work("Stanice.fbk"), "unpacked backup of PC1");
    WriteFile(dir_.File("media1/Stanice.zip"), "original archive of PC1");
    WriteFile(dir_.File("media2/Pelvar.gbk"), "original backup of PC2");
    WriteFile(dir_.File("zaloha/Pelvar.cb0"), "earlier backup");
    main_before_ = ReadFile(dir_.File("data/main.fdb"));
  }
  void TearDown() override {
    wizard_.reset();
    SetTickCountSource({});
    WizardEnv::TearDown();
  }

  std::string Work(const std::string& name) const { return dir_.File("MAINDATA/" + name); }

  // The wizard on page 4 with the two stations played.
  FinishWizard& Wizard() {
    wizard_ = std::make_unique<FinishWizard>(AnsiString(dir_.Path() + "/"));
    FinishWizard& w = *wizard_;
    TDMMeldrun* dm = w.MakeDataModule();
    w.AddPreparedStation(Work("Stanice.fbk"), dir_.File("media1/Stanice.zip"), "PC1");
    w.AddPreparedStation(dir_.File("media2/Pelvar.gbk"), dir_.File("media2/Pelvar.gbk"), "PC2");
    w.SetJournalMark(0, marks_[0]);
    w.SetJournalMark(1, marks_[1]);
    dm->InitStationLists(2);
    w.SetStationIndex(0);
    dm->AddIdMapping("LABVD", "1", "77001");
    dm->OpenDst(Work("Main.fdb"), AdministratorUser, AdministratorPassword);
    w.SetTriggerState(dm->SetJournalTriggers(0));
    w.Show();
    w.SetPageIndex(4);
    w.CB_VerifyZaloha.Checked = false;  // every generated journal row is older than 30 days
    return w;
  }

  // The station files are as they were before finishing, and nothing was added beside.
  void ExpectStationFilesUntouched() {
    EXPECT_EQ(ReadFile(dir_.File("media1/Stanice.zip")), "original archive of PC1");
    EXPECT_EQ(ReadFile(dir_.File("media2/Pelvar.gbk")), "original backup of PC2");
    for (const char* d : {"media1", "media2"}) {
      int n = 0;
      for (const auto& e : fs::directory_iterator(dir_.File(d))) {
        (void)e;
        ++n;
      }
      EXPECT_EQ(n, 1) << d;
    }
  }
  void ExpectMainUntouched() {
    EXPECT_TRUE(ReadFile(dir_.File("data/main.fdb")) == main_before_) << "the main database changed";
  }
  static bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
  // A backup restored by gbak into a fresh database of the test's directory.
  std::string Restored(const std::string& backup, const std::string& name) {
    const std::string db = dir_.File(name);
    const CommandResult r = RunCommand({"gbak", "-c", "-user", kSysdbaUser, "-password",
                                        kSysdbaPassword, backup, db});
    EXPECT_EQ(r.exit_code, 0) << r.output;
    return db;
  }
  void RefusedCopyBack(const char* trigger, const char* station, const char* detail);
  static AnsiString Reg(const char* name) {
    return WizardRegText(name);
  }

  static TempDir* practice_;
  static int marks_[2];
  std::string main_before_;
  std::unique_ptr<FinishWizard> wizard_;
};

TempDir* MldrFinishDb::practice_ = nullptr;
int MldrFinishDb::marks_[2] = {0, 0};

TEST_F(MldrFinishDb, FinishesEveryStationAndReplacesTheMainDatabase) {
  FinishWizard& w = Wizard();
  DialogLog dialogs;
  w.Btn_FinallyClick();

  EXPECT_EQ(dialogs.texts, std::vector<std::string>{});
  ASSERT_EQ(w.PageIndex(), 5);
  EXPECT_TRUE(w.Btn_OK.Visible);
  EXPECT_EQ(Reg("Level"), "0");
  EXPECT_EQ(Reg("LastOK"), DateToStr(Date()));
  EXPECT_EQ(Reg("LastHarmonised"), "");
  EXPECT_EQ(w.LaZurnalTrigSwich, CZ("Žurnál je aktivní"));

  // The main database is the harmonised one, without any station's own tables.
  const std::string main = dir_.File("data/main.fdb");
  EXPECT_EQ(QueryOne(main, "select POHLAVI as V from POHLAVI where ID_POHLAVI = 999001;"), "sehraná");
  EXPECT_EQ(QueryOne(main, "select HODNOTA as V from NASTAVENI where ID_NASTAVENI = 999001;"), "sehraná");

  // PC1: a zip archive in place of the old one, whose backup holds the harmonised data
  // and PC1's own tables.
  EXPECT_EQ(ReadFile(dir_.File("media1/Stanice.old")), "original archive of PC1");
  const std::string zip = dir_.File("media1/Stanice.zip");
  CommandResult r = RunCommand({"unzip", "-Z1", zip});
  EXPECT_EQ(r.output, "Identifikace.txt\nPelvar.cb0\n");
  r = RunCommand({"unzip", "-p", zip, "Identifikace.txt"});
  EXPECT_EQ(r.output, "PC1\r\n");
  TempDir out("pelvar-unzip");
  r = RunCommand({"unzip", "-q", zip, "Pelvar.cb0", "-d", out.Path()});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const std::string pc1 = Restored(out.File("Pelvar.cb0"), "pc1.fdb");
  const std::string st1 = Work("ARCHIV/stanice.fdb");  // the played station, archived
  EXPECT_EQ(QueryOne(pc1, "select POHLAVI as V from POHLAVI where ID_POHLAVI = 999001;"), "sehraná");
  EXPECT_EQ(QueryOne(pc1, "select count(*) as V from NASTAVENI where ID_NASTAVENI = 999001;"), "0");
  for (const char* table : {"RADA", "NASTAVENI", "TEPLOTA", "ORD_DOBA", "FRONTA", "RADA_OJ"}) {
    const std::string sql = std::string("select count(*) as V from ") + table + ";";
    EXPECT_EQ(QueryOne(pc1, sql), QueryOne(st1, sql)) << table;
  }
  // Org keys through the station's new keys; a table the play-in did not play keeps its
  // keys; no reference stays no reference.
  EXPECT_EQ(QueryOne(pc1, "select count(*) as V from RADA_OJ where ID_ZARIZENI < 7000;"), "0");
  EXPECT_EQ(QueryOne(pc1, "select list(ID_ODDELENI) as V from RADA_OJ;"),
            QueryOne(st1, "select list(ID_ODDELENI) as V from RADA_OJ;"));
  EXPECT_EQ(QueryOne(pc1, "select ID_ZALOZIL as V from FRONTA where ID_FRONTA = (select min(ID_FRONTA) from FRONTA);"),
            "<null>");
  EXPECT_EQ(QueryOne(pc1, "select ID_ZALOZIL as V from FRONTA where ID_FRONTA = (select max(ID_FRONTA) from FRONTA);"),
            "9002");
  EXPECT_EQ(QueryOne(pc1, "select POZNAMKA as V from ORD_DOBA where ID_ORD_DOBA = (select min(ID_ORD_DOBA) from ORD_DOBA);"),
            "U Nováků's; drop table ZURNAL; --");
  EXPECT_EQ(QueryOne(pc1, "select list(\"DO\") as V from ORD_DOBA;"),
            QueryOne(st1, "select list(\"DO\") as V from ORD_DOBA;"));
  // The journal up to the mark, remapped.
  EXPECT_EQ(QueryOne(pc1, "select max(ID_ZURNAL) as V from ZURNAL;"), std::to_string(marks_[0]));
  EXPECT_EQ(QueryOne(pc1, "select count(*) as V from ZURNAL;"),
            QueryOne(practice_->File("st1.fdb"),
                     "select count(*) as V from ZURNAL where ID_ZURNAL <= " + std::to_string(marks_[0]) + ";"));
  EXPECT_EQ(QueryOne(pc1, "select count(*) as V from ZURNAL where TABULKA = 'LABVD' and ID_ZAZNAM = 77001;"),
            QueryOne(practice_->File("st1.fdb"),
                     "select count(*) as V from ZURNAL where TABULKA = 'LABVD' and ID_ZAZNAM = 1 and ID_ZURNAL <= " +
                         std::to_string(marks_[0]) + ";"));
  EXPECT_NE(QueryOne(pc1, "select count(*) as V from ZURNAL where TABULKA = 'LABVD' and ID_ZAZNAM = 77001;"), "0");

  // PC2: a backup copied in place of the old one. Its name is that of the harmonised
  // backup, which its result in the working directory leaves alone.
  EXPECT_EQ(ReadFile(dir_.File("media2/Pelvar.old")), "original backup of PC2");
  const std::string pc2 = Restored(dir_.File("media2/Pelvar.gbk"), "pc2.fdb");
  EXPECT_EQ(QueryOne(pc2, "select POHLAVI as V from POHLAVI where ID_POHLAVI = 999001;"), "sehraná");
  EXPECT_EQ(QueryOne(pc2, "select list(NAZEV) as V from TEPLOTA_MISTO;"),
            QueryOne(practice_->File("st2.fdb"), "select list(NAZEV) as V from TEPLOTA_MISTO;"));
  EXPECT_EQ(QueryOne(pc2, "select max(ID_ZURNAL) as V from ZURNAL;"), std::to_string(marks_[1]));

  // The rotation and the archive.
  EXPECT_EQ(ReadFile(dir_.File("zaloha/Pelvar.cb1")), "earlier backup");
  EXPECT_GT(fs::file_size(dir_.File("zaloha/Pelvar.cb0")), 100000u);
  // Only the lock of the run, open still, stays.
  for (const auto& e : fs::directory_iterator(dir_.File("MAINDATA")))
    EXPECT_TRUE(e.is_directory() || e.path().filename() == "Pruvodce.lck")
        << "left in the working directory: " << e.path();
  for (const char* f : {"Main.fdb", "Pelvar.gbk", "stanice.fdb", "pelvar.gdb", "Pelvar_1.gbk"})
    EXPECT_TRUE(fs::exists(Work(std::string("ARCHIV/") + f))) << f;
}

// Without "Kopírovat" every station gets an empty journal and the journal generator of
// the harmonised data.
TEST_F(MldrFinishDb, WithoutTheJournalCopyStationsGetAnEmptyJournal) {
  FinishWizard& w = Wizard();
  w.ClickCheckBox(w.CB_KopieZurnal);
  DialogLog dialogs;
  w.Btn_FinallyClick();
  EXPECT_EQ(dialogs.texts, std::vector<std::string>{});
  ASSERT_EQ(w.PageIndex(), 5);
  const std::string pc2 = Restored(dir_.File("media2/Pelvar.gbk"), "pc2.fdb");
  EXPECT_EQ(QueryOne(pc2, "select count(*) as V from ZURNAL;"), "0");
  const char* gen = "select gen_id(GEN_ZURNAL, 0) as V from RDB$DATABASE;";
  EXPECT_EQ(QueryOne(pc2, gen), QueryOne(practice_->File("harm.fdb"), gen));
  EXPECT_EQ(QueryOne(pc2, "select count(*) as V from NASTAVENI;"),
            QueryOne(practice_->File("st2.fdb"), "select count(*) as V from NASTAVENI;"));
}

// A table of the working database refuses the station's rows: the row insert of the
// second station, or the emptying of a table at the first. Nothing is delivered.
void MldrFinishDb::RefusedCopyBack(const char* trigger, const char* station, const char* detail) {
  Query(Work("Main.fdb"), std::string("create exception E_ZAMCENO 'Tabulka je uzamčena';\ncommit;\n"
                                      "set term ^ ;\n") + trigger + "^\nset term ; ^\ncommit;");
  FinishWizard& w = Wizard();
  DialogLog dialogs;
  w.Btn_FinallyClick();
  EXPECT_EQ(w.PageIndex(), 4);
  ASSERT_EQ(dialogs.texts.size(), 1u);
  const std::string& m = dialogs.texts[0];
  EXPECT_TRUE(Contains(m, std::string("Dokončení sehrávání bylo přerušeno při kopírování původních "
                                      "tabulek stanice \"") + station + "\":"))
      << m;
  EXPECT_TRUE(Contains(m, detail)) << m;
  EXPECT_TRUE(Contains(m, "Hlavní databáze ani soubory stanic nebyly změněny. Odstraňte příčinu chyby a "
                          "spusťte sehrávání znovu se stejnými soubory stanic."))
      << m;
  ExpectStationFilesUntouched();
  ExpectMainUntouched();
  EXPECT_EQ(Reg("Level"), "(none)");
  EXPECT_FALSE(w.Animate2Active);
  EXPECT_FALSE(w.DataModule()->Src()->Connected());
}

TEST_F(MldrFinishDb, CopyBackInsertRefusedAtTheSecondStationChangesNothing) {
  RefusedCopyBack(
      "create trigger TEPLOTA_MISTO_LOCK for TEPLOTA_MISTO before insert as begin\n"
      "  if (new.NAZEV = 'ZAMCENO') then exception E_ZAMCENO;\nend",
      "PC2", "Tabulka je uzamčena");
}

TEST_F(MldrFinishDb, CopyBackDeleteRefusedAtTheFirstStationChangesNothing) {
  RefusedCopyBack(
      "create trigger RADA_OJ_LOCK for RADA_OJ before delete as begin\n  exception E_ZAMCENO;\nend",
      "PC1", "Tabulku RADA_OJ sehrané databáze nelze vyprázdnit");
}

// The copy of the second station's backup to its medium fails (the backup is gone when
// the copy starts): the first station's archive, already written, is taken back.
TEST_F(MldrFinishDb, FailedStationFileCopyTakesBackEveryDelivery) {
  FinishWizard& w = Wizard();
  StepView view;
  view.step = "Kopírování zpět na média (2 z 2)";
  view.action = [&] { fs::remove(Work("Pelvar_1.gbk")); };
  w.SetView(&view);
  DialogLog dialogs;
  w.Btn_FinallyClick();
  w.SetView(nullptr);
  EXPECT_FALSE(view.action) << "the copy was never reached";
  EXPECT_EQ(w.PageIndex(), 4);
  ASSERT_EQ(dialogs.texts.size(), 1u);
  const std::string& m = dialogs.texts[0];
  EXPECT_TRUE(Contains(m, "při ukládání výsledku stanice \"PC2\" na médium:\rVýsledek stanice se "
                          "nepodařilo uložit do souboru " + dir_.File("media2/Pelvar.gbk")))
      << m;
  EXPECT_TRUE(Contains(m, "Hlavní databáze ani soubory stanic nebyly změněny.")) << m;
  ExpectStationFilesUntouched();
  ExpectMainUntouched();
  EXPECT_NE(Reg("Level"), "10");
}

// A station file that cannot be renamed (its ".old" name is taken by a directory that
// cannot be removed): finishing stops before anything is written to a medium.
TEST_F(MldrFinishDb, MediumFileThatCannotBeRenamedStopsFinishing) {
  fs::create_directories(dir_.File("media1/Stanice.old"));
  WriteFile(dir_.File("media1/Stanice.old/x"), "x");
  uint32_t ticks = 0;
  SetTickCountSource([&] { return ticks += 500; });
  FinishWizard& w = Wizard();
  DialogLog dialogs;
  w.Btn_FinallyClick();
  EXPECT_EQ(w.PageIndex(), 4);
  ASSERT_EQ(dialogs.texts.size(), 1u);
  EXPECT_TRUE(Contains(dialogs.texts[0], "Soubor stanice " + dir_.File("media1/Stanice.zip") +
                                             " se nepodařilo přejmenovat na " +
                                             dir_.File("media1/Stanice.old") + "."))
      << dialogs.texts[0];
  EXPECT_EQ(ReadFile(dir_.File("media1/Stanice.zip")), "original archive of PC1");
  EXPECT_EQ(ReadFile(dir_.File("media1/Stanice.old/x")), "x");
  EXPECT_EQ(ReadFile(dir_.File("media2/Pelvar.gbk")), "original backup of PC2");
  EXPECT_FALSE(fs::exists(dir_.File("media2/Pelvar.old")));
  ExpectMainUntouched();
}

// The main database is in use when the harmonised data would replace it: the main
// database stays, and so do the stations' files.
TEST_F(MldrFinishDb, MainDatabaseInUseTakesBackTheDeliveries) {
  FinishWizard& w = Wizard();
  TComponent owner(nullptr);
  auto* other = new TREZDatabase(&owner);
  other->SetPath(dir_.File("data/main.fdb"));
  other->SetUsername(AdministratorUser);
  other->SetPassword(AdministratorPassword);
  other->SetLoginPrompt(false);
  other->SetConnected(true);
  DialogLog dialogs;
  w.Btn_FinallyClick();
  other->SetConnected(false);
  EXPECT_EQ(w.PageIndex(), 4);
  ASSERT_EQ(dialogs.texts.size(), 1u);
  const std::string& m = dialogs.texts[0];
  EXPECT_TRUE(Contains(m, "při obnově hlavní databáze:")) << m;
  EXPECT_TRUE(Contains(m, "je právě používána")) << m;
  EXPECT_TRUE(Contains(m, "Hlavní databáze ani soubory stanic nebyly změněny.")) << m;
  ExpectStationFilesUntouched();
  EXPECT_EQ(QueryOne(dir_.File("data/main.fdb"), "select count(*) as V from POHLAVI where ID_POHLAVI = 999001;"), "0");
}

// The main database is replaced; then the first station's file cannot be renamed (a
// directory has taken its ".old" name): finishing ends with that station's result beside
// its file, named in the message, and the second station's result in its place.
TEST_F(MldrFinishDb, ResultThatCannotBePlacedStaysBesideTheStationFile) {
  uint32_t ticks = 0;
  SetTickCountSource([&] { return ticks += 500; });
  FinishWizard& w = Wizard();
  StepView view;
  view.step = "Ukládání výsledků na média (1 z 2)";
  view.action = [&] {
    fs::create_directories(dir_.File("media1/Stanice.old"));
    WriteFile(dir_.File("media1/Stanice.old/x"), "x");
  };
  w.SetView(&view);
  DialogLog dialogs;
  w.Btn_FinallyClick();
  w.SetView(nullptr);
  std::string said;
  for (const std::string& t : dialogs.texts) said += "\n" + t;
  EXPECT_FALSE(view.action) << "the placing was never reached; the wizard said:" << said;
  ASSERT_EQ(w.PageIndex(), 5) << "the wizard said:" << said;
  EXPECT_EQ(dialogs.texts,
            std::vector<std::string>{"Hlavní databáze obsahuje sehraná data. Výsledky těchto stanic se "
                                     "nepodařilo uložit na místo jejich souborů:\rPC1: " +
                                     dir_.File("media1/Stanice.new.zip") + " -> " +
                                     dir_.File("media1/Stanice.zip") + "\r\nPřejmenujte je ručně."});
  EXPECT_EQ(ReadFile(dir_.File("media1/Stanice.zip")), "original archive of PC1");
  EXPECT_EQ(RunCommand({"unzip", "-Z1", dir_.File("media1/Stanice.new.zip")}).output,
            "Identifikace.txt\nPelvar.cb0\n");
  EXPECT_EQ(ReadFile(dir_.File("media2/Pelvar.old")), "original backup of PC2");
  EXPECT_GT(fs::file_size(dir_.File("media2/Pelvar.gbk")), 100000u);
  EXPECT_EQ(QueryOne(dir_.File("data/main.fdb"), "select POHLAVI as V from POHLAVI where ID_POHLAVI = 999001;"),
            "sehraná");
  EXPECT_FALSE(fs::exists(Work("Dokonceni.txt")));
  EXPECT_EQ(Reg("Level"), "0");
}

}  // namespace
}  // namespace pelvar::test
