// Pieces the finishing tests share: the wizard form with the steps the tests drive opened
// up, and a dialog responder that answers every box with its default button.
#pragma once

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/dialogs.h"
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

}  // namespace pelvar::test
