// The Qt windows of the play-in's conflict dialogs: the access-rights decision
// (sync/DlgPrava.h) and the selection of one row (sync/DlgLineIdSelect.h). Each shows the
// headless dialog modally and drives it: radio items and buttons call the dialog's
// handlers, a handler's error is shown and the window stays open, and the window's close
// box is the dialog's close box.
#pragma once

#include "sync/DlgLineIdSelect.h"
#include "sync/DlgPrava.h"

class QDialog;

namespace pelvar {

void QtRunDialogPrava(TFrmDialogPrava& dialog);
void QtRunVyberId(TFrmVyberId& dialog);

// For tests: the window being shown (nullptr when none), so that a test can click it.
QDialog* QtActiveConflictWindow();

inline void InstallQtConflictDialogs() {
  SetDialogPravaRunner(&QtRunDialogPrava);
  SetVyberIdRunner(&QtRunVyberId);
}

}  // namespace pelvar
