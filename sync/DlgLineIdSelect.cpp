#include "sync/DlgLineIdSelect.h"

#include "platform/codepage.h"

namespace pelvar {

namespace {
TVyberIdRunner& Runner() {
  static TVyberIdRunner runner;
  return runner;
}
}  // namespace

TVyberIdRunner SetVyberIdRunner(TVyberIdRunner runner) {
  TVyberIdRunner previous = std::move(Runner());
  Runner() = std::move(runner);
  return previous;
}

TFrmVyberId::TFrmVyberId(TComponent* owner) : TComponent(owner), caption_(CZ("Výběr")) {
  SetName("FrmVyberId");
}

void TFrmVyberId::SetLines(TDataSet* dataset) {
  lines_ = dataset;
  if (lines_ == nullptr) return;
  if (lines_->Active()) lines_->Close();
  lines_->Open();
}

void TFrmVyberId::ButtonOKClick() {
  selected_id_ = -1;
  if (lines_ != nullptr && lines_->Active()) {
    if (!lines_->IsEmpty() && lines_->FieldCount() > 0 && !lines_->Fields(0)->IsNull())
      selected_id_ = lines_->Fields(0)->AsInteger();
    lines_->Close();
  }
  modal_result_ = mrOk;
}

void TFrmVyberId::ButtonCancelClick() { modal_result_ = mrCancel; }

TModalResult TFrmVyberId::ShowModal() {
  modal_result_ = mrNone;
  if (Runner()) Runner()(*this);
  if (modal_result_ == mrNone) ButtonCancelClick();
  return modal_result_;
}

}  // namespace pelvar
