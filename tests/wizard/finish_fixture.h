// Pieces the finishing tests share: the wizard form with the steps the tests drive opened
// up, and a dialog responder that answers every box with its default button.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "support/practice.h"
#include "support/process.h"
#include "sync/BkpResUtils.h"
#include "sync/DmMeld.h"
#include "wizard/MldrMain.h"

namespace pelvar::test {

class FinishWizard : public TFrmMldrMain {
 public:
  using TFrmMldrMain::TFrmMldrMain;
  using TFrmMldrMain::AddPreparedStation;
  using TFrmMldrMain::SetJournalMark;
  using TFrmMldrMain::SetTriggerState;
  ~FinishWizard() override { BeforeDestruction(); }
};

// Answers every dialog with its default button and keeps the texts (UTF-8).
class DialogLog {
 public:
  DialogLog() {
    previous_ = SetDialogResponder([this](const TDialogRequest& r) {
      texts.push_back(AnsiToUtf8(r.Text));
      return r.DefaultResult != mrNone ? r.DefaultResult : mrOk;
    });
  }
  ~DialogLog() { SetDialogResponder(previous_); }
  DialogLog(const DialogLog&) = delete;
  DialogLog& operator=(const DialogLog&) = delete;
  std::vector<std::string> texts;

 private:
  TDialogResponder previous_;
};

// The wizard of the practice in dir on page 4, its two stations played (the working
// directory as the play-in leaves it: MAINDATA/Main.fdb, the unpacked PC1 archive and the
// PC2 backup on its medium), with the journal marks of both stations.
inline std::unique_ptr<FinishWizard> PlayedWizard(const std::string& dir, int mark1, int mark2) {
  auto w = std::make_unique<FinishWizard>(AnsiString(dir + "/"));
  TDMMeldrun* dm = w->MakeDataModule();
  w->AddPreparedStation(dir + "/MAINDATA/Stanice.fbk", dir + "/media1/Stanice.zip", "PC1");
  w->AddPreparedStation(dir + "/media2/Pelvar.gbk", dir + "/media2/Pelvar.gbk", "PC2");
  w->SetJournalMark(0, mark1);
  w->SetJournalMark(1, mark2);
  dm->InitStationLists(2);
  w->SetStationIndex(0);
  dm->OpenDst(dir + "/MAINDATA/Main.fdb", AdministratorUser, AdministratorPassword);
  w->SetTriggerState(dm->SetJournalTriggers(0));
  w->Show();
  w->SetPageIndex(4);
  w->CB_VerifyZaloha.Checked = false;
  return w;
}

// The practice the finishing suites play: the main database, the harmonised working
// database (told apart by a row of its own) and two played station databases, made in a
// new directory named after prefix; marks receives each station's highest journal id.
inline std::unique_ptr<TempDir> MakeFinishPractice(const char* prefix, int marks[2]) {
  auto practice = std::make_unique<TempDir>(prefix);
  const CommandResult r =
      GeneratePractice({"--seed", "finish", "--size", "small", "--main", practice->File("main.fdb"), "--station",
                        practice->File("st1.fdb"), "--station", practice->File("st2.fdb")});
  if (r.exit_code != 0) throw std::runtime_error("practice generation failed: " + r.output);
  std::filesystem::copy_file(practice->File("main.fdb"), practice->File("harm.fdb"));
  Query(practice->File("harm.fdb"),
        "insert into POHLAVI (ID_POHLAVI, POHLAVI) values (999001, 'sehraná');\ncommit;");
  for (int i = 0; i < 2; ++i) {
    marks[i] = std::stoi(
        QueryOne(practice->File(i == 0 ? "st1.fdb" : "st2.fdb"), "select max(ID_ZURNAL) as V from ZURNAL;"));
  }
  return practice;
}

}  // namespace pelvar::test
