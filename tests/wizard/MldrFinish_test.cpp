// The pieces of finishing that need no database: the journal options the Finish button
// reads, the station database names, the step display, the rename with retries against a
// target that cannot be removed, the backup rotation (none, five and a gap of earlier
// generations, a missing backup directory) and the move to the archive directory (the
// default and a configured one; a file that cannot be copied stays where it is), and
// what the next start says of a finishing that ended midway when no main database tells
// whether it was replaced.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/oslayer.h"
#include "support/process.h"
#include "sync/DmMeld.h"
#include "wizard_double.h"
#include "wizard_env.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

class FinishStationsWizard : public TestWizard {
 public:
  using TestWizard::TestWizard;
  using TFrmMldrMain::AddPreparedStation;
};

class MldrFinishTest : public WizardEnv {
 protected:
  void SetUp() override {
    WizardEnv::SetUp();
    fs::create_directories(dir_.File("zaloha"));
    fs::create_directories(dir_.File("MAINDATA"));
    Ini("");
  }
  void TearDown() override {
    SetTickCountSource({});
    WizardEnv::TearDown();
  }
  void Ini(const std::string& extra) {
    WriteFile(dir_.File("Meldrun.ini"),
              "[DATABAZE]\r\nBkpPath=" + dir_.File("zaloha") + "\r\nBkpFileName=Pelvar.gbk\r\n" + extra);
  }
  std::unique_ptr<FinishStationsWizard> Make() {
    auto w = std::make_unique<FinishStationsWizard>(AnsiString(dir_.Path() + "/"));
    w->MakeDataModule();
    w->Show();
    return w;
  }
  std::string Work(const std::string& name) const { return dir_.File("MAINDATA/" + name); }
  std::unique_ptr<TScriptedResponder> dialogs_ =
      std::make_unique<TScriptedResponder>([](const std::string& m) { ADD_FAILURE() << m; });
};

TEST_F(MldrFinishTest, FinishReadsTheJournalOptions) {
  struct Case {
    bool copy, recent;
    const char* days;
    int32_t expected;
  } cases[] = {{true, true, " 45", 45}, {true, true, "x", 30}, {true, false, "45", 999}, {false, false, "", 999}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.days);
    auto w = Make();
    w->SetPageIndex(4);
    w->CB_KopieZurnal.Checked = c.copy;
    w->CB_VerifyZaloha.Checked = c.recent;
    w->ME_DnyZurnal.Text = c.days;
    bool copy = !c.copy;
    int32_t days = -1;
    w->finish = [&] {
      copy = w->CopyJournal();
      days = w->JournalDays();
      return false;
    };
    w->Btn_FinallyClick();
    EXPECT_EQ(copy, c.copy);
    EXPECT_EQ(days, c.expected);
    EXPECT_FALSE(w->Btn_Finally.Enabled);
    EXPECT_EQ(w->PageIndex(), 4);
  }
}

TEST_F(MldrFinishTest, JournalCopyEnablesItsOptions) {
  auto w = Make();
  EXPECT_TRUE(w->ME_DnyZurnal.Enabled);
  EXPECT_EQ(w->ME_DnyZurnal.Text, "30");
  w->ClickCheckBox(w->CB_KopieZurnal);
  EXPECT_FALSE(w->CB_VerifyZaloha.Enabled);
  EXPECT_FALSE(w->ME_DnyZurnal.Enabled);
  w->ClickCheckBox(w->CB_KopieZurnal);
  EXPECT_TRUE(w->CB_VerifyZaloha.Enabled);
  EXPECT_TRUE(w->ME_DnyZurnal.Enabled);
}

TEST_F(MldrFinishTest, StationTablesAndRestoredNames) {
  auto w = Make();
  EXPECT_EQ(TFrmMldrMain::StationTableName(1), "RADA");
  EXPECT_EQ(TFrmMldrMain::StationTableName(9), "ZURNAL");
  EXPECT_EQ(TFrmMldrMain::StationTableName(13), "RADA_OJ");
  EXPECT_EQ(TFrmMldrMain::StationTableName(14), "");
  const std::pair<const char*, const char*> names[] = {
      {"/media/C/Data/STANICE.FBK", "stanice.fdb"},
      {"/m/x.gbk.bak", "x.gdb.bak"},
      {"/m/a.fbk.gbk", "a.fbk.gdb"},
      {"/m/zaloha.bak", "zaloha.bak.fdb"},
  };
  for (const auto& [file, restored] : names) w->AddPreparedStation(file, file, "PC");
  for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(w->RestoredStationName(i), names[i].second);
}

TEST_F(MldrFinishTest, StepDisplay) {
  auto w = Make();
  w->FinishProgress(3, 13, CZ("Kopie původní tabulky : RADA do sehrané databáze."));
  EXPECT_EQ(w->L_Dokonceni, CZ("Kopie původní tabulky : RADA do sehrané databáze. (3 z 13)"));
  EXPECT_EQ(w->ProgressBarDokonceni.Max, 13);
  EXPECT_EQ(w->ProgressBarDokonceni.Position, 3);
}

// The target is a directory with a file in it: deleting it fails for the whole time,
// and the one rename left fails as well; a plain target is replaced.
TEST_F(MldrFinishTest, RenameWithRetriesGivesUpOnATargetThatStays) {
  auto w = Make();
  uint32_t ticks = 0;
  int calls = 0;
  SetTickCountSource([&] {
    ++calls;
    return ticks += 1000;
  });
  WriteFile(dir_.File("a.zip"), "a");
  fs::create_directories(dir_.File("a.old"));
  WriteFile(dir_.File("a.old/x"), "x");
  EXPECT_FALSE(w->RenameWithRetries(dir_.File("a.zip"), dir_.File("a.old"), 10));
  EXPECT_EQ(ReadFile(dir_.File("a.zip")), "a");
  EXPECT_LT(calls, 40);
  fs::remove_all(dir_.File("a.old"));
  WriteFile(dir_.File("a.old"), "older");
  EXPECT_TRUE(w->RenameWithRetries(dir_.File("a.zip"), dir_.File("a.old"), 10));
  EXPECT_FALSE(fs::exists(dir_.File("a.zip")));
  EXPECT_EQ(ReadFile(dir_.File("a.old")), "a");
}

TEST_F(MldrFinishTest, RotationKeepsFiveGenerations) {
  struct Case {
    const char* what;
    std::vector<int> earlier;
    std::vector<std::pair<int, std::string>> after;
  } cases[] = {
      {"none", {}, {{0, "new"}}},
      {"five", {0, 1, 2, 3, 4}, {{0, "new"}, {1, "g0"}, {2, "g1"}, {3, "g2"}, {4, "g3"}}},
      // A missing generation is not filled by deleting the one above it.
      {"gap", {0, 2}, {{0, "new"}, {1, "g0"}, {3, "g2"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(dir_.File("zaloha"));
    fs::create_directories(dir_.File("zaloha"));
    for (int g : c.earlier) WriteFile(dir_.File("zaloha/Pelvar.cb" + std::to_string(g)), "g" + std::to_string(g));
    WriteFile(Work("Pelvar.gbk"), "new");
    auto w = Make();
    w->RotateBackups();
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(dir_.File("zaloha")))
      files[e.path().filename().string()] = ReadFile(e.path().string());
    std::map<std::string, std::string> expected;
    for (const auto& [g, content] : c.after) expected["Pelvar.cb" + std::to_string(g)] = content;
    EXPECT_EQ(files, expected);
    EXPECT_EQ(ReadFile(Work("Pelvar.gbk")), "new");
  }
}

TEST_F(MldrFinishTest, RotationIntoAMissingDirectoryOnlyInforms) {
  Ini("");
  fs::remove_all(dir_.File("zaloha"));
  WriteFile(Work("Pelvar.gbk"), "new");
  auto w = Make();
  // The directory, the reason and what to do.
  dialogs_->Expect(mtInformation,
                   CZ("Nepodařilo se zkopírovat sehranou zálohu mezi ostatní zálohy!\rAdresář záloh: " +
                      dir_.File("zaloha") +
                      "\rSoubor nebo jeho adresář neexistuje, případně médium není připojeno. (" +
                      dir_.File("zaloha/Pelvar.gbk") +
                      ": No such file or directory)\r\rHlavní databáze obsahuje sehraná data. Zkontrolujte, že "
                      "adresář záloh existuje a lze do něj zapisovat (hodnota BkpPath v sekci [DATABAZE] souboru "
                      "Meldrun.ini), a zkopírujte do něj sehranou zálohu " +
                      Work("ARCHIV/Pelvar.gbk") + " pod názvem Pelvar.cb0."),
                   mrOk);
  w->RotateBackups();
  EXPECT_EQ(dialogs_->Pending(), 0u);
  EXPECT_EQ(ReadFile(Work("Pelvar.gbk")), "new");
}

TEST_F(MldrFinishTest, WorkFilesMoveToTheArchive) {
  for (bool configured : {false, true}) {
    SCOPED_TRACE(configured);
    const std::string archive = configured ? dir_.File("jinde/Archiv") : Work("ARCHIV");
    if (configured) Ini("[ARCHIV]\r\nArchDir=" + archive + "\r\n");
    WriteFile(Work("Pelvar.gbk"), "backup");
    WriteFile(Work("Main.fdb"), "db");
    fs::create_directories(Work("sub"));
    auto w = Make();
    w->MoveToArchive();
    EXPECT_EQ(ReadFile(archive + "/Pelvar.gbk"), "backup");
    EXPECT_EQ(ReadFile(archive + "/Main.fdb"), "db");
    EXPECT_FALSE(fs::exists(Work("Pelvar.gbk")));
    EXPECT_FALSE(fs::exists(Work("Main.fdb")));
    EXPECT_TRUE(fs::is_directory(Work("sub")));
    EXPECT_EQ(ReadFile(dir_.File("zaloha/Pelvar.cb0")), "backup");
    EXPECT_FALSE(w->DataModule()->ProgressWindow()->Visible());
  }
}

// The archive directory cannot be made (a file holds its name): nothing is deleted that
// was not copied, and the message names what stayed.
TEST_F(MldrFinishTest, FilesThatCannotBeArchivedStay) {
  WriteFile(dir_.File("Archiv"), "a file, not a directory");
  Ini("[ARCHIV]\r\nArchDir=" + dir_.File("Archiv") + "\r\n");
  WriteFile(Work("Pelvar.gbk"), "backup");
  WriteFile(Work("Main.fdb"), "db");
  auto w = Make();
  dialogs_->Expect(mtInformation,
                   CZ("Tyto pracovní soubory se nepodařilo přesunout do archivu " + dir_.File("Archiv") +
                      " a zůstávají v pracovním adresáři " + dir_.File("MAINDATA") +
                      ":\rMain.fdb\r\nPelvar.gbk\r\n"),
                   mrOk);
  w->MoveToArchive();
  EXPECT_EQ(dialogs_->Pending(), 0u);
  EXPECT_EQ(ReadFile(Work("Pelvar.gbk")), "backup");
  EXPECT_EQ(ReadFile(Work("Main.fdb")), "db");
  EXPECT_EQ(ReadFile(dir_.File("Archiv")), "a file, not a directory");
}

// A record of results written, left by a finishing that ended midway, without a main
// database to tell whether it holds the harmonised data: the next start changes nothing
// (no station file, no result, the record stays) and says where the results and the
// main database are.
TEST_F(MldrFinishTest, InterruptedFinishingWithoutAMainDatabaseIsReported) {
  fs::create_directories(dir_.File("media"));
  WriteFile(dir_.File("media/a.zip"), "station");
  WriteFile(dir_.File("media/a.new.zip"), "result");
  WriteFile(Work("Dokonceni.txt"), "Main=" + dir_.File("data/none.fdb") + "\r\nMark=Pelvar harmonised x\r\nIdent1=PC1\r\nMedium1=" +
                                       dir_.File("media/a.zip") + "\r\nOld1=" + dir_.File("media/a.old") +
                                       "\r\nWritten1=" + dir_.File("media/a.new.zip") + "\r\nTarget1=" +
                                       dir_.File("media/a.zip") + "\r\n");
  dialogs_.reset();
  std::vector<std::string> texts;
  const TDialogResponder previous = SetDialogResponder([&](const TDialogRequest& r) {
    texts.push_back(AnsiToUtf8(r.Text));
    return mrOk;
  });
  auto w = Make();
  SetDialogResponder(previous);
  ASSERT_EQ(texts.size(), 1u);
  const std::string& text = texts[0];
  for (const std::string& part :
       {std::string("Předchozí dokončení sehrávání nebylo dokončeno.\rNelze zjistit, zda hlavní databáze "),
        std::string("obsahuje sehraná data."), std::string("No such file or directory"),
        "Průvodce nic nezměnil. Výsledky stanic zůstaly vedle jejich souborů:\rPC1: " + dir_.File("media/a.new.zip") +
            " -> " + dir_.File("media/a.zip") +
            "\r\nObsahuje-li hlavní databáze sehraná data, přejmenujte je na místo souborů stanic; "
            "jinak je smažte a spusťte sehrávání znovu se stejnými soubory stanic."})
    EXPECT_NE(text.find(part), std::string::npos) << part << "\nin: " << text;
  EXPECT_EQ(ReadFile(dir_.File("media/a.zip")), "station");
  EXPECT_EQ(ReadFile(dir_.File("media/a.new.zip")), "result");
  EXPECT_FALSE(fs::exists(dir_.File("media/a.old")));
  EXPECT_TRUE(fs::exists(Work("Dokonceni.txt")));
}

}  // namespace
}  // namespace pelvar::test
