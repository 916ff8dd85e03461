#include "wizard/Qor_System.h"

#include <algorithm>

namespace pelvar {

TQorFormManager::TQorFormManager(TComponent* owner) : TFormStorage(owner) {
  SetUseRegistry(true);
}

void TQorFormManager::RestoreFormPlacement() {
  TFormModel* form = Form();
  const TScreenMetrics& screen = FormScreen();
  if (form) {
    if (default_position_ == dpScreenCenter) {
      form->SetBounds(std::clamp((screen.Width - form->Width()) / 2, 0, std::max(screen.Width - 1, 0)),
                      std::clamp((screen.Height - form->Height()) / 2, 0,
                                 std::max(screen.Height - 1, 0)),
                      form->Width(), form->Height());
    } else if (default_position_ == dpTopLeft) {
      form->SetBounds(0, 0, form->Width(), form->Height());
    }
  }
  TFormStorage::RestoreFormPlacement();
  if (form) {
    if (form->Top() < 0 || form->Top() >= screen.Height) form->SetTop(0);
    if (form->Left() < 0 || form->Left() >= screen.Width) form->SetLeft(0);
  }
}

void TQorFormManager::AfterWndMessage(TMessage& msg) {
  if (msg.Msg == WM_NCHITTEST) {
    TFormModel* form = Form();
    const bool prevent = prevent_move_ == pmYes ||
                         (prevent_move_ == pmIfMaximized && form &&
                          form->WindowState() == wsMaximized);
    if (prevent && msg.Result >= HTLEFT && msg.Result <= HTBOTTOMRIGHT) {
      msg.Result = HTNOWHERE;
      return;
    }
  }
  TFormStorage::AfterWndMessage(msg);
}

}  // namespace pelvar
