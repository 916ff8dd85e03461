// The main wizard form without a database: start-up state, the page checks of the timer,
// navigation by the buttons and the markers, closing, the clock, the busy guard against
// clicks, ticks and posted steps that a running step's message pumping lets through,
// the station grid and the table-group rules.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/dialogs.h"
#include "platform/registry.h"
#include "support/process.h"
#include "wizard/FileDialogs.h"
#include "wizard_double.h"
#include "wizard_env.h"

namespace pelvar::test {
namespace {

class MldrMainTest : public WizardEnv {
 protected:
  void SetUp() override {
    WizardEnv::SetUp();
    exe_dir_ = dir_.Path() + "/";
    Application()->ProcessMessages();  // nothing left from earlier tests
  }
  std::unique_ptr<TestWizard> Make() {
    auto w = std::make_unique<TestWizard>(AnsiString(exe_dir_));
    w->Clock = [this] { return now_; };
    w->OnClosed = [this](TObject*) { ++closed_; };
    w->Show();
    return w;
  }
  static AnsiString RegValue(const char* section, const char* ident) {
    TRegIniFile reg("Software\\Brontek\\Pelvar");
    return reg.ReadString(section, ident, "(none)");
  }
  void ValidStation(TestWizard& w, int row = 1) {
    const std::string file = dir_.File("st" + std::to_string(row) + ".fbk");
    WriteFile(file, "x");
    if (static_cast<int>(w.SG_DataPaths.size()) <= row) w.SG_DataPaths.push_back({});
    w.SetCell(0, row, "PC" + std::to_string(row));
    w.SetCell(1, row, file);
  }

  std::string exe_dir_;
  TDateTime now_ = EncodeDate(2026, 6, 15) + EncodeTime(12, 34, 56, 0);
  int closed_ = 0;
};

TEST_F(MldrMainTest, StartsOnTheFirstPage) {
  auto w = Make();
  EXPECT_EQ(FrmMldrMain(), w.get());
  EXPECT_TRUE(std::filesystem::is_directory(dir_.File("MAINDATA")));
  EXPECT_EQ(w->PageIndex(), 0);
  EXPECT_EQ(w->Width(), 560);
  EXPECT_EQ(w->Btn_Next.Caption, CZ("&Další>>"));
  EXPECT_TRUE(w->Btn_Next.Visible);
  EXPECT_FALSE(w->Btn_Prev.Enabled);
  EXPECT_FALSE(w->Btn_Start.Visible);
  EXPECT_FALSE(w->Btn_Finally.Visible);
  EXPECT_FALSE(w->Btn_OK.Visible);
  EXPECT_EQ(w->Timer()->Interval(), 200u);
  EXPECT_EQ(w->Markers[0], RGB(0, 255, 0));
  EXPECT_EQ(w->Markers[1], RGB(255, 0, 0));
  EXPECT_EQ(w->Markers[5], RGB(0, 0, 128));
  EXPECT_EQ(w->PnlLeftColor, RGB(150, 215, 220));
  EXPECT_EQ(w->PressedMarker(), -1);
  EXPECT_EQ(w->StationIndex(), 0);
  EXPECT_FALSE(w->Busy());
  EXPECT_FALSE(w->AutoContinue());
  // An empty saved grid gives one station row "Počítač 2" with no path.
  ASSERT_EQ(w->SG_DataPaths.size(), 2u);
  EXPECT_EQ(w->SG_DataPaths[0][0], CZ("Identifikace stanice"));
  EXPECT_EQ(w->SG_DataPaths[1][0], CZ("Počítač 2"));
  EXPECT_EQ(w->SG_DataPaths[1][1], "");
  // The groups with their defaults from the registry (all ticked) and the rules.
  EXPECT_TRUE(w->CB_Doklady.Enabled);
  EXPECT_TRUE(w->CB_Uzaverky.Enabled);
}

TEST_F(MldrMainTest, ClockShowsTheTimeOfDayUntilStartThenTheTimeSinceStart) {
  auto w = Make();
  w->TimerTimer();
  EXPECT_EQ(w->LE_Time, "12:34:56");
  w->SetPageIndex(2);
  w->Btn_StartClick();
  now_ += 65.0 / 86400.0;
  w->TimerTimer();
  EXPECT_EQ(w->LE_Time, "00:01:05");
}

TEST_F(MldrMainTest, FirstPageNeedsIdentificationsAndExistingFiles) {
  auto w = Make();
  struct Case {
    const char* ident;
    std::string path;
    bool valid;
  } cases[] = {
      {"PC1", dir_.File("st.fbk"), true},
      {"", dir_.File("st.fbk"), false},
      {"PC1", "ab", false},
      {"PC1", dir_.File("none.fbk"), false},
  };
  WriteFile(dir_.File("st.fbk"), "x");
  for (const Case& c : cases) {
    w->SetCell(0, 1, c.ident);
    w->SetCell(1, 1, c.path);
    w->TimerTimer();
    EXPECT_EQ(w->Btn_Next.Enabled, c.valid) << c.ident << " " << c.path;
  }
  // A second, invalid row keeps Next off.
  ValidStation(*w, 1);
  w->SG_DataPaths.push_back({"PC2", "xx"});
  w->TimerTimer();
  EXPECT_FALSE(w->Btn_Next.Enabled);
}

TEST_F(MldrMainTest, SecondPageNeedsAGroupOtherThanStockClosing) {
  auto w = Make();
  w->SetPageIndex(1);
  for (TCheckBoxModel* b : {&w->CB_Zaklad, &w->CB_ExPartner, &w->CB_ExPacient, &w->CB_Karty,
                            &w->CB_Doklady, &w->CB_Ciselniky, &w->CB_OrgStruktura})
    b->Checked = false;
  w->CB_Uzaverky.Checked = true;
  w->TimerTimer();
  EXPECT_FALSE(w->Btn_Next.Enabled);
  EXPECT_TRUE(w->Btn_Prev.Enabled);
  w->CB_Ciselniky.Checked = true;
  w->TimerTimer();
  EXPECT_TRUE(w->Btn_Next.Enabled);
}

TEST_F(MldrMainTest, NavigationAndMarkers) {
  auto w = Make();
  w->SetPageIndex(1);
  w->Btn_NextClick();
  EXPECT_EQ(w->PageIndex(), 2);
  EXPECT_FALSE(w->Btn_Next.Visible);
  EXPECT_TRUE(w->Btn_Start.Visible);
  EXPECT_EQ(w->Timer()->Interval(), 1000u);
  EXPECT_EQ(w->LE_TimeLabel, CZ("Čas sehrávání "));
  EXPECT_EQ(w->Markers[0], RGB(0, 128, 0));
  EXPECT_EQ(w->Markers[2], RGB(0, 255, 0));
  EXPECT_TRUE(w->LaMeld.Bold);
  // Weights of the ticked groups (all ticked from the registry defaults): 21+3+17+6+11+12+9.
  EXPECT_EQ(w->StepWeightTotal(), 79);
  EXPECT_EQ(w->ProgressBar2.Max, 79);

  // A green marker goes back; a red or lime one does nothing.
  w->PMouseDown(2);
  w->PMouseUp(2);
  EXPECT_EQ(w->PageIndex(), 2);
  w->PMouseDown(0);
  w->PMouseUp(1);  // released elsewhere
  EXPECT_EQ(w->PageIndex(), 2);
  w->PMouseDown(0);
  w->PMouseUp(0);
  EXPECT_EQ(w->PageIndex(), 0);
  EXPECT_EQ(w->PressedMarker(), -1);
  EXPECT_TRUE(w->Btn_Next.Visible);
  EXPECT_EQ(w->Timer()->Interval(), 200u);

  // After a play-in no marker leads back.
  w->SetPageIndex(2);
  w->Btn_StartClick();
  EXPECT_EQ(w->PageIndex(), 3);
  EXPECT_TRUE(w->Btn_Next.Visible && w->Btn_Next.Enabled);
  for (int tag = 0; tag < 5; ++tag) {
    w->PMouseDown(tag);
    w->PMouseUp(tag);
    EXPECT_EQ(w->PageIndex(), 3) << tag;
  }
  // Next after the last station goes to finishing, which shows Finish.
  w->Btn_NextClick();
  EXPECT_EQ(w->PageIndex(), 4);
  EXPECT_TRUE(w->Btn_Finally.Visible);
  w->Btn_PrevClick();
  EXPECT_EQ(w->PageIndex(), 3);
  EXPECT_TRUE(w->Btn_Finally.Visible);  // Prev leaves it alone
}

TEST_F(MldrMainTest, StornoClosesAtOnceEarlyAndAsksLater) {
  {
    auto w = Make();
    w->SetPageIndex(1);
    w->Btn_StornoClick();
    EXPECT_EQ(closed_, 1);
    EXPECT_EQ(w->ModalResult(), mrCancel);
  }
  auto w = Make();
  w->SetPageIndex(3);
  const AnsiString question = CZ(
      "Přerušením sehrávání dat v této fázi, Vám mohou nastat nepředvídatelné těžkosti s dalším "
      "chodem programu.\r\nChcete opravdu nyní sehrávání přerušit?");
  TScriptedResponder dialogs([](const std::string& m) { ADD_FAILURE() << m; });
  dialogs.Expect(mtWarning, question, mrNo).Expect(mtWarning, question, mrYes);
  w->Btn_StornoClick();
  EXPECT_EQ(closed_, 1);
  EXPECT_TRUE(w->Visible());
  w->Btn_StornoClick();
  EXPECT_EQ(closed_, 2);
  EXPECT_FALSE(w->Visible());
}

TEST_F(MldrMainTest, LastValuesAreSavedOnlyThroughOK) {
  {
    auto w = Make();
    ValidStation(*w);
    w->SetPageIndex(1);
    w->Btn_StornoClick();
  }
  EXPECT_EQ(RegValue("LastValues", "Path"), "(none)");
  {
    auto w = Make();
    ValidStation(*w);
    w->CB_Ciselniky.Checked = false;
    w->SetPageIndex(5);
    w->Btn_OKClick();
  }
  EXPECT_EQ(RegValue("LastValues", "Path"), "PC1|" + dir_.File("st1.fbk"));
  // The boxes as integer values (REG_DWORD).
  {
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\Brontek\\Pelvar\\LastValues"));
    for (const auto& [ident, value] : {std::pair{"CB_Ciselniky.Checked", 0}, std::pair{"CB_Zaklad.Checked", 1}}) {
      TRegDataInfo info;
      ASSERT_TRUE(reg.GetDataInfo(ident, info)) << ident;
      EXPECT_EQ(info.RegData, rdInteger) << ident;
      EXPECT_EQ(reg.ReadInteger(ident), value) << ident;
    }
  }
  auto w = Make();
  EXPECT_EQ(w->SG_DataPaths[1][1], dir_.File("st1.fbk"));
  EXPECT_FALSE(w->CB_Ciselniky.Checked);
}

// A step that pumps messages: the timer ticks, a click and a posted step arrive while it
// runs; none of them may move the wizard on, and the posted step runs afterwards.
TEST_F(MldrMainTest, BusyGuardHoldsWhileAStepPumpsMessages) {
  TTestClock clock;
  auto w = Make();
  w->SetPageIndex(2);
  w->CB_AutoRun.Checked = true;
  int calls = 0;
  w->play = [&](int32_t) {
    ++calls;
    clock.Advance(5000);
    PostMessage(w->Handle(), WM_AUTOSTEP, 3, 0);  // a second Start
    Application()->ProcessMessages();             // the timer ticks here
    EXPECT_FALSE(w->Btn_Next.Enabled);
    EXPECT_FALSE(w->Btn_Prev.Enabled);
    w->Btn_PrevClick();
    w->Btn_NextClick();
    w->Btn_StartClick();
    EXPECT_FALSE(w->CloseRequested());
    EXPECT_EQ(w->PageIndex(), 2);
    return true;
  };
  w->Btn_StartClick();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(w->PageIndex(), 3);
  EXPECT_TRUE(w->AutoContinue());
  EXPECT_EQ(closed_, 0);
  // The deferred Start meets page 3 and does nothing; the Next that Start posted moves
  // on to finishing (one station), which posts Finish.
  Application()->ProcessMessages();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(w->PageIndex(), 5);
  EXPECT_EQ(w->log, (std::vector<std::string>{"Start 0", "Finish"}));
  EXPECT_TRUE(w->Btn_OK.Visible);
  EXPECT_FALSE(w->Btn_Storno.Visible);
  EXPECT_EQ(RegValue("Wizard", "LastHarmonised"), "");
}

TEST_F(MldrMainTest, FailedPlayInReportsAndEnablesPrevAndStorno) {
  auto w = Make();
  w->SetPageIndex(2);
  w->play = [](int32_t) { return false; };
  TScriptedResponder dialogs([](const std::string& m) { ADD_FAILURE() << m; });
  dialogs.Expect(CZ("Při importu nastala závažná chyba."), mrOk);
  w->Btn_StartClick();
  EXPECT_EQ(w->PageIndex(), 2);
  EXPECT_TRUE(w->Btn_Prev.Enabled);
  EXPECT_TRUE(w->Btn_Storno.Enabled);
  EXPECT_FALSE(w->Btn_Start.Visible);
  EXPECT_TRUE(w->Btn_Next.Visible);
  EXPECT_FALSE(w->Btn_Next.Enabled);
}

TEST_F(MldrMainTest, StationGridTextAndKeys) {
  auto w = Make();
  w->FillStationGrid("A|/x/a.zip;B|/x/b.gbk");
  ASSERT_EQ(w->SG_DataPaths.size(), 3u);
  EXPECT_EQ(w->SG_DataPaths[2][0], "B");
  w->SetCell(1, 2, "");
  EXPECT_EQ(w->StationGridText(), "A|/x/a.zip");
  w->FillStationGrid("/x/only.gbk");
  EXPECT_EQ(w->SG_DataPaths[1][0], CZ("Počítač 2"));
  EXPECT_EQ(w->SG_DataPaths[1][1], "/x/only.gbk");

  // Down on a full last row adds "Počítač 3"; Up removes a last row without a path.
  w->SetCell(1, 2, "/x/b.gbk");
  bool can = false;
  w->SG_DataPathsSelectCell(1, 2, can);
  EXPECT_TRUE(w->SG_DataPathsKeyDown(VK_DOWN, false));
  ASSERT_EQ(w->SG_DataPaths.size(), 4u);
  EXPECT_EQ(w->SG_DataPaths[3][0], CZ("Počítač 4"));
  EXPECT_EQ(w->GridRow, 3);
  w->SG_DataPathsKeyDown(VK_UP, false);
  EXPECT_EQ(w->SG_DataPaths.size(), 3u);

  // Shift+Down opens the file dialog for the current row.
  TScriptedOpenDialog files([](const std::string& m) { ADD_FAILURE() << m; });
  files.Choose("/media/stanice.zip");
  w->SG_DataPathsSelectCell(1, 1, can);
  EXPECT_TRUE(w->SG_DataPathsKeyDown(VK_DOWN, true));
  EXPECT_EQ(w->SG_DataPaths[1][1], "/media/stanice.zip");
  ASSERT_EQ(files.Shown().size(), 1u);
  EXPECT_EQ(files.Shown()[0].FileName, "/x/only.gbk");
  EXPECT_EQ(files.Shown()[0].DefaultExt, "zip");
  EXPECT_EQ(w->BtnFolderTop, 300);
}

TEST_F(MldrMainTest, GroupRules) {
  auto w = Make();
  w->ClickCheckBox(w->CB_Zaklad);  // off
  for (TCheckBoxModel* b : {&w->CB_ExPartner, &w->CB_ExPacient, &w->CB_Karty, &w->CB_Doklady,
                            &w->CB_Uzaverky}) {
    EXPECT_FALSE(b->Checked);
  }
  EXPECT_FALSE(w->CB_ExPartner.Enabled);
  EXPECT_FALSE(w->CB_Doklady.Enabled);
  EXPECT_FALSE(w->CB_Uzaverky.Enabled);
  EXPECT_TRUE(w->CB_Ciselniky.Enabled);
  w->ClickCheckBox(w->CB_Zaklad);  // on
  EXPECT_TRUE(w->CB_Karty.Enabled);
  EXPECT_FALSE(w->CB_Doklady.Enabled);  // needs Karty ticked
  w->ClickCheckBox(w->CB_Karty);
  EXPECT_TRUE(w->CB_Doklady.Enabled);
  EXPECT_FALSE(w->CB_Uzaverky.Enabled);
  w->ClickCheckBox(w->CB_Doklady);
  EXPECT_TRUE(w->CB_Uzaverky.Enabled);
  w->ClickCheckBox(w->CB_Karty);  // off: Doklady goes too
  EXPECT_FALSE(w->CB_Doklady.Checked);
  EXPECT_FALSE(w->CB_Doklady.Enabled);
  EXPECT_FALSE(w->CB_Uzaverky.Enabled);
}

TEST_F(MldrMainTest, UniqueFileNamesNeverTakeTheWorkingFiles) {
  auto w = Make();
  const std::string work = dir_.File("MAINDATA");
  const auto in_work = [&](const std::string& n) { return AnsiString(work + "/" + n); };
  EXPECT_EQ(w->UniqueFileName(in_work("st.fbk")), in_work("st.fbk"));
  WriteFile(work + "/st.fbk", "x");
  WriteFile(work + "/st_1.fbk", "x");
  EXPECT_EQ(w->UniqueFileName(in_work("st.fbk")), in_work("st_2.fbk"));
  // The main backup and the working database are made after the stations are unpacked.
  EXPECT_EQ(w->UniqueFileName(in_work("Pelvar.gbk")), in_work("Pelvar_1.gbk"));
  EXPECT_EQ(w->UniqueFileName(in_work("main.FDB")), in_work("main_1.FDB"));
  EXPECT_EQ(w->UniqueFileName(in_work("a.b.fbk")), in_work("a.b.fbk"));
}

}  // namespace
}  // namespace pelvar::test
