// The data module without a database: the protocol words of the settings file, the
// server a letter selects, the progress windows and their controls as a view sees them,
// the text helpers, the state a new module starts with, and "Errors.txt".
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/screen.h"
#include "support/process.h"
#include "sync/DmMeld.h"
#include "main_form_double.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

TEST(DmMeld, ProtocolWordsFirstMatchWinsIgnoringCase) {
  struct Case {
    const char* text;
    TProtocol service;
    TIB_Protocol connect;
  } cases[] = {
      {"local", TProtocol::Local, cpLocal},
      {"tcp/ip", TProtocol::TCP, cpTCP_IP},
      {"TCP Local", TProtocol::Local, cpLocal},  // Local is tested first
      {"NamedPipe", TProtocol::NamedPipe, cpNetBEUI},
      {"spx", TProtocol::SPX, cpNovell},
      {"tcp spx", TProtocol::TCP, cpTCP_IP},
      {"", TProtocol::Local, cpLocal},
      {"token ring", TProtocol::Local, cpLocal},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TDMMeldrun::ServiceProtocolFromText(c.text), c.service) << c.text;
    EXPECT_EQ(TDMMeldrun::ConnectProtocolFromText(c.text), c.connect) << c.text;
  }
}

TEST(DmMeld, CreationReadsTheServerSettingsThroughTheMainForm) {
  MainFormDouble form;
  {
    TDMMeldrun dm(nullptr, form);
    EXPECT_EQ(DMMeldrun(), &dm);
    EXPECT_EQ(dm.MainServerName(), "localhost");
    EXPECT_EQ(dm.MainServerProtocol(), TProtocol::Local);
    EXPECT_EQ(dm.ConnectProtocol(), cpLocal);
    EXPECT_EQ(dm.BackupTotal, 0);
    EXPECT_EQ(dm.RestoreTotal, 0);
    EXPECT_EQ(dm.BackupSettings().ServerName, "localhost");
    EXPECT_EQ(dm.RestoreSettings().PageSize, 0);
    EXPECT_FALSE(dm.ProgressWindow()->Visible());
    EXPECT_EQ(dm.ProgressWindow()->LabelInfo().Caption(), CZ("Fáze"));
  }
  EXPECT_EQ(DMMeldrun(), nullptr);

  form.Ini["SERVER/ServerName"] = "pelvar-main";
  form.Ini["SERVER/ServerProtocol"] = "TCP/IP";
  form.Ini["WORKSTATION/MyProtocol"] = "tcp";
  TDMMeldrun dm(nullptr, form);
  EXPECT_EQ(dm.MainServerName(), "pelvar-main");
  EXPECT_EQ(dm.MainServerProtocol(), TProtocol::TCP);
  EXPECT_EQ(dm.ConnectProtocol(), cpTCP_IP);
}

// Only an upper-case "M" is the main server; its empty name becomes "localhost".
TEST(DmMeld, ServerLetterSelectsServiceServerAndProtocol) {
  MainFormDouble form;
  form.Ini["SERVER/ServerName"] = "";
  form.Ini["SERVER/ServerProtocol"] = "TCP";
  TDMMeldrun dm(nullptr, form);
  struct Case {
    char letter;
    bool main;
  } cases[] = {{'M', true}, {'m', false}, {'L', false}, {'A', false}};
  for (const Case& c : cases) {
    ASSERT_TRUE(dm.RunBackupService("/tmp/x.fdb", "/tmp/x.fbk", false, false, true,
                                    TBackupOptions{TBackupOption::IgnoreLimbo}, c.letter));
    ASSERT_TRUE(dm.RunRestoreService("/tmp/y.fdb", "/tmp/x.fbk", false, false, true,
                                     TRestoreOptions{TRestoreOption::Replace}, 0, 0, c.letter));
    TIBBackupService* backup = dm.BackupServiceFor(c.letter);
    TIBRestoreService* restore = dm.RestoreServiceFor(c.letter);
    EXPECT_EQ(backup, c.main ? dm.IBBackupService() : dm.IBBackupService1()) << c.letter;
    EXPECT_EQ(restore, c.main ? dm.IBRestoreService() : dm.IBRestoreService1()) << c.letter;
    EXPECT_EQ(backup->Protocol(), c.main ? TProtocol::TCP : TProtocol::Local) << c.letter;
    EXPECT_EQ(backup->ServerName(), c.main ? "localhost" : "") << c.letter;
    EXPECT_EQ(restore->Protocol(), backup->Protocol());
    EXPECT_FALSE(backup->Active());
    // The settings reach the services as the wrappers use them.
    EXPECT_EQ(backup->DatabaseName(), "/tmp/x.fdb");
    EXPECT_EQ(backup->BackupFile()->Text(), "/tmp/x.fbk\r\n");
    EXPECT_TRUE(backup->Verbose());
    EXPECT_EQ(backup->Params()->Text(), "user_name=sysdba\r\npassword=masterkey\r\n");
    EXPECT_EQ(restore->DatabaseName()->Text(), "/tmp/y.fdb\r\n");
    EXPECT_EQ(restore->PageSize(), 4096);
    EXPECT_TRUE(restore->Options().Contains(TRestoreOption::Replace));
  }
}

TEST(DmMeld, ModeOutsideTheFourDoesNothing) {
  MainFormDouble form;
  TDMMeldrun dm(nullptr, form);
  TRecordingPracujiView view;
  EXPECT_FALSE(dm.BackupDatabase("/nonexistent/a.fdb", "/nonexistent/a.fbk", 4, "x", 'L', 0, 0));
  EXPECT_FALSE(dm.RestoreDatabase("/nonexistent/a.fdb", "/nonexistent/a.fbk", -1, "x", 'L', 0, 0));
  EXPECT_TRUE(view.Updates().empty());
  EXPECT_FALSE(dm.IBBackupService1()->Active());
}

TEST(DmMeld, ProgressWindowForTheWizardsSteps) {
  MainFormDouble form;
  TRecordingPracujiView view;
  TDMMeldrun dm(nullptr, form);
  dm.ShowProgress(CZ("Rozzipování archivu.."), "/media/a.zip", 40, 30);
  const TfrmPracuji& w = *dm.ProgressWindow();
  ASSERT_FALSE(view.Updates().empty());
  TPracujiSnapshot s = view.Updates().back();
  EXPECT_TRUE(s.Visible);
  EXPECT_EQ(s.Left, 30);
  EXPECT_EQ(s.Top, 40);
  EXPECT_EQ(s.LabelInfo, CZ("Rozzipování archivu.."));
  EXPECT_TRUE(s.StatusBarVisible);
  EXPECT_EQ(s.StatusText, "/media/a.zip");
  EXPECT_EQ(Screen()->Cursor(), crHourGlass);

  dm.ShowProgressBar(1250);
  EXPECT_EQ(w.LabelInfo().Top(), 115);
  EXPECT_EQ(w.PanelStatus().Height(), 30);
  EXPECT_EQ(w.ProgressBarPracuji().Height(), 10);
  EXPECT_EQ(w.ProgressBarPracuji().Max(), 1250);
  EXPECT_EQ(w.ProgressBarPracuji().Step(), 13);  // 12.5 to the nearest
  dm.SetProgressPosition(600);
  EXPECT_EQ(view.Updates().back().ProgressPosition, 600);
  dm.SetProgressPosition(5000);  // the bar keeps within its range
  EXPECT_EQ(view.Updates().back().ProgressPosition, 1250);
  dm.SetProgressText(CZ("Kontrola identifikace..."));
  EXPECT_EQ(view.Updates().back().StatusText, CZ("Kontrola identifikace..."));

  dm.HideProgressBar();
  EXPECT_FALSE(w.ProgressBarPracuji().Visible());
  EXPECT_EQ(w.ProgressBarPracuji().Height(), 0);
  EXPECT_EQ(w.ProgressBarPracuji().Position(), 0);
  EXPECT_EQ(w.PanelStatus().Height(), 19);
  EXPECT_EQ(w.LabelInfo().Top(), 125);
  dm.HideProgress();
  s = view.Updates().back();
  EXPECT_FALSE(s.Visible);
  EXPECT_FALSE(s.StatusBarVisible);
  EXPECT_FALSE(w.StatusBarPracuji().Enabled());
  EXPECT_EQ(Screen()->Cursor(), crDefault);
}

TEST(DmMeld, CutTokenAndSplitToList) {
  AnsiString text = "A | B|C ";
  EXPECT_EQ(TDMMeldrun::CutToken(text, '|'), "A");
  EXPECT_EQ(TDMMeldrun::CutToken(text, '|'), "B");
  EXPECT_EQ(TDMMeldrun::CutToken(text, '|'), "C ");  // the rest, untrimmed
  EXPECT_EQ(text, "");
  text = " whole ";
  EXPECT_EQ(TDMMeldrun::CutToken(text, '|'), " whole ");
  EXPECT_EQ(text, "");

  struct Case {
    const char* text;
    std::vector<AnsiString> items;
  } cases[] = {
      {"a||b", {"a", "", "b"}},
      {"a|", {"a"}},
      {"", {}},
      {"PACIENT|12|345", {"PACIENT", "12", "345"}},
  };
  TStringList list;
  for (const Case& c : cases) {
    list.Add("stale");
    EXPECT_EQ(TDMMeldrun::SplitToList(&list, c.text, '|'), static_cast<int32_t>(c.items.size())) << c.text;
    std::vector<AnsiString> got;
    for (int32_t i = 0; i < list.Count(); ++i) got.push_back(list.Strings(i));
    EXPECT_EQ(got, c.items) << c.text;
  }
  EXPECT_EQ(TDMMeldrun::SplitToList(nullptr, "a|b", '|'), 0);

  EXPECT_EQ(TDMMeldrun::LastCharPos('\\', "C:\\a\\b.fdb"), 5);
  EXPECT_EQ(TDMMeldrun::LastCharPos('/', "abc"), 0);
  EXPECT_EQ(TDMMeldrun::LastCharPos('a', "a"), 1);
}

TEST(DmMeld, CreationResetsTheRunState) {
  MainFormDouble form;
  TDMMeldrun dm(nullptr, form);
  EXPECT_EQ(dm.PageNo, 1);
  EXPECT_EQ(dm.SourceRowCount, 0);
  EXPECT_EQ(dm.PageLastKey, 0);
  EXPECT_FALSE(dm.CyclesPrepared);
  EXPECT_FALSE(dm.IsLastCycle);
  EXPECT_EQ(dm.LowestVersion, 999999);
  EXPECT_EQ(dm.ErrorList().Count(), 0);
  EXPECT_EQ(dm.REZTransactionSrc()->IB_Connection(), dm.Src());
  EXPECT_EQ(dm.REZTransactionTmpSrc()->IB_Connection(), dm.Src());
  EXPECT_EQ(dm.IBQueryTmpSrc()->IB_Transaction(), dm.REZTransactionTmpSrc());
  EXPECT_EQ(dm.IBQueryDst()->IB_Transaction(), dm.REZTransactionDst());
  EXPECT_EQ(dm.IBTableOrigSave()->IB_Connection(), dm.Dst());
  EXPECT_EQ(dm.MemoryDokladPolozka()->Name(), "MemoryDokladPolozka");
  // Without station lists a mapping has nowhere to go.
  EXPECT_THROW(dm.AddIdMapping("PACIENT", "1", "2"), EListError);
  dm.InitStationLists(1);
  dm.AddIdMapping("PACIENT", "12", "345");
  EXPECT_EQ(dm.StationMappings()[0]->Text(), "PACIENT|12|345\r\n");
}

// "Errors.txt" in the current directory, Windows-1250 lines ended by CR LF, written when
// the module goes and only when there is a failed record.
TEST(DmMeld, ErrorsTxtOnlyWhenThereAreErrors) {
  TempDir dir("pelvar-errors");
  const fs::path before = fs::current_path();
  fs::current_path(dir.Path());
  MainFormDouble form;
  {
    TDMMeldrun dm(nullptr, form);
  }
  EXPECT_FALSE(fs::exists("Errors.txt"));
  {
    TDMMeldrun dm(nullptr, form);
    dm.ErrorList().Add(CZ("DOKLAD 12: chyba uložení"));
    dm.ErrorList().Add("DOKLAD 13");
  }
  fs::current_path(before);
  EXPECT_EQ(ReadFile(dir.File("Errors.txt")), CZ("DOKLAD 12: chyba uložení") + "\r\nDOKLAD 13\r\n");
}

TEST(Pracuji, ProgressBarStepsAndWraps) {
  TfrmPracuji w(nullptr);
  TPracujiProgressBar& bar = w.ProgressBarPracuji();
  EXPECT_EQ(bar.Max(), 100);
  for (int i = 0; i < 10; ++i) bar.StepIt();
  EXPECT_EQ(bar.Position(), 100);
  bar.StepIt();
  EXPECT_EQ(bar.Position(), 0);
  bar.SetPosition(80);
  bar.SetMax(50);
  EXPECT_EQ(bar.Position(), 50);
  EXPECT_EQ(w.ClientWidth(), 199);
  EXPECT_EQ(w.ClientHeight(), 163);
  TfrmPracujiMemo m(nullptr);
  EXPECT_EQ(m.ClientWidth(), 201);
  EXPECT_EQ(m.ClientHeight(), 243);
  EXPECT_EQ(TPracujiForm::WorkingText(), CZ("Moment prosím, pracuji..."));
}

}  // namespace
}  // namespace pelvar::test
