// Preparation against a real practice database in the in-process engine: station
// archives written by the zip kit and by Info-ZIP's zip, identifications checked (the
// question answered Yes and No), backups taken as typed, the main database backed up and
// restored as the working "Main.fdb" and opened; a damaged archive or one without the
// backup stops preparation and leaves nothing half unpacked; a missing main database is
// searched for; the automatic continuation over three stations.
#include <gtest/gtest.h>

#include <filesystem>

#include "archive/abzipkit.h"
#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/registry.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "wizard/FileDialogs.h"
#include "wizard_double.h"
#include "wizard_env.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

const AnsiString kInfo = CZ(
    "Před zahájením sehrávání je nezbytně nutné ukončit práci\rna všech stanicích připojených k "
    "hlavní databázi. V opačném\rpřípadě hrozí nenávratná ztráta dat!");

AnsiString IdentQuestion(const std::string& archive, const std::string& typed) {
  return CZ("Identifikace archivu: \"" + archive +
            "\" neodpovídá identifikaci vyplněné v úvodní tabulce: \"" + typed +
            "\"\r\n                          Přejete si přesto sehrát tento archiv?");
}

class MldrPrepareDb : public WizardEnv {
 protected:
  static void SetUpTestSuite() { InstallClientLibraryNameProvider(); }
  static void TearDownTestSuite() {
    delete practice_;
    practice_ = nullptr;
  }

  void SetUp() override {
    WizardEnv::SetUp();
    fs::create_directories(dir_.File("data"));
    WriteFile(dir_.File("Meldrun.ini"),
              "[DATABAZE]\r\nPath=" + dir_.File("data") + "\r\nDBFileName=main.fdb\r\n");
    WriteFile(dir_.File("cb0"), std::string(150000, 'p') + "konec zálohy");
    Application()->ProcessMessages();
  }
  void TearDown() override {
    wizard_.reset();
    WizardEnv::TearDown();
  }

  // The main database of the settings: a small practice database, made once per test
  // program and copied, for the tests that get as far as backing it up.
  void UseMainDb() {
    if (!practice_) {
      practice_ = new TempDir("pelvar-prep");
      const CommandResult r = GeneratePractice(
          {"--seed", "prep", "--size", "small", "--main", practice_->File("main.fdb")});
      ASSERT_EQ(r.exit_code, 0) << r.output;
    }
    fs::copy_file(practice_->File("main.fdb"), dir_.File("data/main.fdb"));
  }

  TestWizard& Wizard() {
    wizard_ = std::make_unique<TestWizard>(AnsiString(dir_.Path() + "/"));
    wizard_->MakeDataModule();
    wizard_->Show();
    return *wizard_;
  }
  // A station archive written by the zip kit, as the wizard writes them.
  std::string KitArchive(const std::string& name, const std::string& ident,
                         const std::string& backup_file) {
    TempDir in("pelvar-in");
    WriteFile(in.File("Identifikace.txt"), CZ(ident) + "\r\n");
    fs::copy_file(backup_file, in.File("Pelvar.cb0"));
    const std::string zip = dir_.File(name);
    fs::create_directories(fs::path(zip).parent_path());
    TAbZipKit kit(nullptr);
    kit.SetDeflationOption(doMaximum);
    kit.SetStoreOptions(TAbStoreOptions{soStripDrive, soStripPath, soRemoveDots});
    kit.SetFileName(zip);
    kit.AddFiles(in.File("Identifikace.txt"), 63);
    kit.AddFiles(in.File("Pelvar.cb0"), 63);
    kit.CloseArchive();
    return zip;
  }
  // One written by Info-ZIP, entries stored without paths.
  std::string InfoZipArchive(const std::string& name, const std::string& ident,
                             const std::vector<std::string>& entries) {
    TempDir in("pelvar-in");
    WriteFile(in.File("Identifikace.txt"), CZ(ident));
    for (const std::string& e : entries) fs::copy_file(dir_.File("cb0"), in.File(e));
    fs::create_directories(fs::path(dir_.File(name)).parent_path());
    std::vector<std::string> argv = {"zip", "-q", "-j", dir_.File(name), in.File("Identifikace.txt")};
    for (const std::string& e : entries) argv.push_back(in.File(e));
    const CommandResult r = RunCommand(argv);
    EXPECT_EQ(r.exit_code, 0) << r.output;
    return dir_.File(name);
  }
  void Station(TestWizard& w, size_t row, const std::string& ident, const std::string& path) {
    while (w.SG_DataPaths.size() <= row) w.SG_DataPaths.push_back({});
    w.SetCell(0, static_cast<int32_t>(row), CZ(ident));
    w.SetCell(1, static_cast<int32_t>(row), path);
  }
  std::string Work(const std::string& name) const { return dir_.File("MAINDATA/" + name); }
  static AnsiString Level() {
    return WizardRegText("Level");
  }
  TScriptedResponder& Dialogs() {
    if (!dialogs_)
      dialogs_ = std::make_unique<TScriptedResponder>([](const std::string& m) { ADD_FAILURE() << m; });
    return *dialogs_;
  }

  static TempDir* practice_;
  std::unique_ptr<TScriptedResponder> dialogs_;
  std::unique_ptr<TestWizard> wizard_;
};

TempDir* MldrPrepareDb::practice_ = nullptr;

TEST_F(MldrPrepareDb, PreparesStationsAndTheWorkingDatabase) {
  UseMainDb();
  TestWizard& w = Wizard();
  const std::string kit_zip = KitArchive("media1/Stanice.zip", "Ordinace Brno", dir_.File("cb0"));
  const std::string info_zip = InfoZipArchive("media2/Stanice.ZIP", "Jiná stanice\r\n", {"Pelvar.cb0"});
  fs::create_directories(dir_.File("Media3"));
  WriteFile(dir_.File("Media3/Zaloha.GBK"), "gbk");
  Station(w, 1, "ordinace brno", kit_zip);  // differs in letter case only: no question
  Station(w, 2, "Sklad", info_zip);
  Station(w, 3, "Pokladna", dir_.File("Media3/Zaloha.GBK"));
  const std::string kit_before = ReadFile(kit_zip);
  Dialogs().Expect(mtInformation, kInfo, mrOk).Expect(IdentQuestion("Jiná stanice", "Sklad"), mrYes);
  w.TimerTimer();
  ASSERT_TRUE(w.Btn_Next.Enabled);
  w.Btn_NextClick();

  EXPECT_EQ(Dialogs().Pending(), 0u);
  ASSERT_EQ(w.PageIndex(), 1);
  EXPECT_FALSE(w.Busy());
  EXPECT_EQ(Level(), "2");
  // The lists in grid order; the archives unpacked under their own names, kept apart.
  ASSERT_EQ(w.StationFiles().Count(), 3);
  EXPECT_EQ(w.StationFiles().Strings(0), Work("Stanice.fbk"));
  EXPECT_EQ(w.StationFiles().Strings(1), Work("Stanice_1.fbk"));
  EXPECT_EQ(w.StationFiles().Strings(2), dir_.File("Media3/Zaloha.GBK"));
  EXPECT_EQ(w.StationSources().Strings(0), kit_zip);
  EXPECT_EQ(w.StationSources().Strings(2), dir_.File("Media3/Zaloha.GBK"));
  EXPECT_EQ(w.StationIdents().Strings(1), "Sklad");
  EXPECT_EQ(ReadFile(Work("Stanice.fbk")), ReadFile(dir_.File("cb0")));
  EXPECT_EQ(ReadFile(Work("Stanice_1.fbk")), ReadFile(dir_.File("cb0")));
  EXPECT_EQ(ReadFile(kit_zip), kit_before);
  // The working database: backed up from the main one, restored, open.
  EXPECT_TRUE(fs::exists(Work("Pelvar.gbk")));
  ASSERT_TRUE(fs::exists(Work("Main.fdb")));
  EXPECT_TRUE(w.DataModule()->Dst()->Connected());
  EXPECT_EQ(w.JournalMarks(), (std::vector<int32_t>{0, 0, 0}));
  EXPECT_EQ(w.DataModule()->StationMappings().size(), 3u);
  EXPECT_EQ(w.trigger_calls, (std::vector<int32_t>{0}));
  EXPECT_EQ(w.LaZurnalTrigSwich, CZ("Žurnál je neaktivní"));
  EXPECT_FALSE(w.DataModule()->ProgressWindow()->Visible());
  EXPECT_FALSE(w.DataModule()->MemoProgressWindow()->Visible());
}

TEST_F(MldrPrepareDb, RefusedIdentificationsLeaveNothingToPrepare) {
  TestWizard& w = Wizard();
  const std::string zip = InfoZipArchive("Stanice.zip", "Jiná", {"Pelvar.cb0"});
  Station(w, 1, "PC1", zip);
  Dialogs()
      .Expect(kInfo, mrOk)
      .Expect(mtConfirmation, IdentQuestion("Jiná", "PC1"), mrNo)
      .Expect(mtInformation,
              CZ("Archiv \"" + zip + "\" stanice \"PC1\" nebude sehrán a stanice nedostane sehraná data."), mrOk);
  w.Btn_NextClick();
  EXPECT_EQ(w.PageIndex(), 0);
  EXPECT_TRUE(w.Busy());
  EXPECT_EQ(Level(), "1");
  EXPECT_EQ(w.StationFiles().Count(), 0);
  EXPECT_FALSE(fs::exists(Work("Stanice.fbk")));
  EXPECT_FALSE(fs::exists(Work("Main.fdb")));
  // Busy keeps Next off for the rest of the run.
  w.TimerTimer();
  EXPECT_FALSE(w.Btn_Next.Enabled);
}

// A flipped byte in the compressed backup, and an archive without the backup: the
// station is not prepared, nothing half unpacked stays, the archive is untouched.
TEST_F(MldrPrepareDb, DamagedArchiveStopsPreparation) {
  struct Case {
    const char* what;
    bool flip;
    std::vector<std::string> entries;
  } cases[] = {{"flipped byte", true, {"Pelvar.cb0"}}, {"no backup", false, {"Jiny.cb0"}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dialogs_.reset();
    TestWizard& w = Wizard();
    const std::string zip = InfoZipArchive(std::string("bad") + (c.flip ? "1" : "2") + ".zip", "PC1", c.entries);
    if (c.flip) {
      std::string data = ReadFile(zip);
      const size_t at = data.find("Pelvar.cb0") + 10 + 200;  // inside the deflated data
      data[at] = static_cast<char>(data[at] ^ 0x55);
      WriteFile(zip, data);
    }
    const std::string before = ReadFile(zip);
    Station(w, 1, "PC1", zip);
    // The question whether to go on without the station, with the kit's failure
    // (damaged deflated data, a missing entry) in Czech inside it, answered No.
    Dialogs()
        .Expect(kInfo, mrOk)
        .Expect(mtError,
                CZ("Archiv \"" + zip + "\" stanice \"PC1\" se nepodařilo rozbalit:\r" +
                   (c.flip ? "Soubor Pelvar.cb0 archivu nelze rozbalit, archiv je nejspíš poškozený. Vytvořte na "
                             "stanici nový archiv. (Cannot extract file - damaged data (601))"
                           : "V archivu chybí soubor Pelvar.cb0: archiv nevytvořil průvodce stanice, nebo je "
                             "neúplný. Vytvořte na stanici nový archiv. (File not found (25))") +
                   "\r\rPokračovat v přípravě bez této stanice? Stanice nedostane sehraná data a její soubor "
                   "zůstane beze změny. Ne zastaví přípravu sehrávání."),
                mrNo);
    w.Btn_NextClick();
    EXPECT_EQ(w.PageIndex(), 0);
    EXPECT_TRUE(w.Busy());
    EXPECT_EQ(w.StationFiles().Count(), 0);
    // Nothing but the lock of the run, open still.
    for (const auto& e : fs::directory_iterator(dir_.File("MAINDATA")))
      if (e.path().filename() != "Pruvodce.lck") ADD_FAILURE() << "left in the working directory: " << e.path();
    EXPECT_EQ(ReadFile(zip), before);
    EXPECT_FALSE(w.DataModule()->ProgressWindow()->Visible());
    wizard_.reset();
  }
}

TEST_F(MldrPrepareDb, ZipIsTheExtensionNotASubstring) {
  UseMainDb();
  TestWizard& w = Wizard();
  WriteFile(dir_.File("data.zip.gbk"), "gbk");
  Station(w, 1, "PC1", dir_.File("data.zip.gbk"));
  Dialogs().Expect(kInfo, mrOk);
  w.Btn_NextClick();
  ASSERT_EQ(w.PageIndex(), 1);
  EXPECT_EQ(w.StationFiles().Strings(0), dir_.File("data.zip.gbk"));
}

// A station archive named like the main backup: the station's copy gets its own name.
TEST_F(MldrPrepareDb, StationNamedLikeTheMainBackupKeepsItsOwnFile) {
  UseMainDb();
  WriteFile(dir_.File("Meldrun.ini"), "[DATABAZE]\r\nPath=" + dir_.File("data") +
                                          "\r\nDBFileName=main.fdb\r\nBkpFileName=Pelvar.fbk\r\n");
  TestWizard& w = Wizard();
  const std::string zip = KitArchive("Pelvar.zip", "PC1", dir_.File("cb0"));
  Station(w, 1, "PC1", zip);
  Dialogs().Expect(kInfo, mrOk);
  w.Btn_NextClick();
  ASSERT_EQ(w.PageIndex(), 1);
  EXPECT_EQ(w.StationFiles().Strings(0), Work("Pelvar_1.fbk"));
  EXPECT_EQ(ReadFile(Work("Pelvar_1.fbk")), ReadFile(dir_.File("cb0")));
  EXPECT_GT(fs::file_size(Work("Pelvar.fbk")), 100000u);  // the main backup
}

TEST_F(MldrPrepareDb, MissingMainDatabaseIsSearchedFor) {
  UseMainDb();
  fs::rename(dir_.File("data/main.fdb"), dir_.File("elsewhere.fdb"));
  {
    TestWizard& w = Wizard();
    WriteFile(dir_.File("st.gbk"), "gbk");
    Station(w, 1, "PC1", dir_.File("st.gbk"));
    TScriptedOpenDialog files([](const std::string& m) { ADD_FAILURE() << m; });
    files.Choose(dir_.File("nothing.fdb")).Choose(dir_.File("elsewhere.fdb"));
    Dialogs()
        .Expect(kInfo, mrOk)
        .Expect(mtError, CZ("Soubor hlavní databáze nebyl nalezen!\rPokusíte se nalézt jej znovu?"), mrYes);
    w.Btn_NextClick();
    ASSERT_EQ(w.PageIndex(), 1);
    EXPECT_EQ(files.Shown()[0].Title, CZ("Nalezení hlavní databáze"));
    EXPECT_EQ(files.Shown()[0].InitialDir, dir_.File("data"));
    EXPECT_EQ(w.Settings().DBFileName(), "elsewhere.fdb");
  }
  dialogs_.reset();
  fs::rename(dir_.File("elsewhere.fdb"), dir_.File("gone.fdb"));
  TestWizard& w = Wizard();
  Station(w, 1, "PC1", dir_.File("st.gbk"));
  TScriptedOpenDialog files([](const std::string& m) { ADD_FAILURE() << m; });
  files.Cancel();
  Dialogs()
      .Expect(kInfo, mrOk)
      .Expect(CZ("Soubor hlavní databáze nebyl nalezen!\rPokusíte se nalézt jej znovu?"), mrNo)
      .Expect(mtError,
              CZ("Příprava sehrávání byla zastavena: hlavní databáze " + dir_.File("data/main.fdb") +
                 " nebyla nalezena.\rJe-li hlavní databáze jinde, opravte v souboru Meldrun.ini v sekci "
                 "[DATABAZE] hodnoty Path a DBFileName, nebo ji při příštím spuštění vyhledejte; pak spusťte "
                 "průvodce znovu."),
              mrOk);
  w.Btn_NextClick();
  EXPECT_EQ(w.PageIndex(), 0);
  EXPECT_TRUE(w.Busy());
}

// Three stations with automatic continuation: one Start, and the event loop runs the
// rest; a play-in that fails stops the chain at that station.
TEST_F(MldrPrepareDb, AutomaticContinuationOverThreeStations) {
  UseMainDb();
  for (bool fail_second : {false, true}) {
    SCOPED_TRACE(fail_second);
    dialogs_.reset();
    TestWizard& w = Wizard();
    for (int i = 1; i <= 3; ++i) {
      WriteFile(dir_.File("s" + std::to_string(i) + ".gbk"), "gbk");
      Station(w, i, "PC" + std::to_string(i), dir_.File("s" + std::to_string(i) + ".gbk"));
    }
    Dialogs().Expect(kInfo, mrOk);
    if (fail_second) Dialogs().Expect(CZ("Při importu nastala závažná chyba."), mrOk);
    if (fail_second) w.play = [](int32_t i) { return i != 1; };
    w.Btn_NextClick();
    ASSERT_EQ(w.PageIndex(), 1);
    w.Btn_NextClick();
    ASSERT_EQ(w.PageIndex(), 2);
    EXPECT_EQ(w.Label11, CZ("Start sehrávání dat pro 'PC1'"));
    w.CB_AutoRun.Checked = true;
    w.Btn_StartClick();
    EXPECT_EQ(w.log, (std::vector<std::string>{"Start 0"}));  // nothing more until the loop runs
    for (int i = 0; i < 20; ++i) Application()->ProcessMessages();
    if (!fail_second) {
      EXPECT_EQ(w.log, (std::vector<std::string>{"Start 0", "Start 1", "Start 2", "Finish"}));
      EXPECT_EQ(w.PageIndex(), 5);
    } else {
      EXPECT_EQ(w.log, (std::vector<std::string>{"Start 0", "Start 1"}));
      EXPECT_EQ(w.PageIndex(), 2);
      EXPECT_EQ(w.Label10, CZ("Výsledek sehrání dat pro 'PC2'"));
    }
    wizard_.reset();
    fs::remove_all(dir_.File("MAINDATA"));
    fs::create_directories(dir_.File("MAINDATA"));
  }
}

}  // namespace
}  // namespace pelvar::test
