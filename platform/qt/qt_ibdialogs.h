// Real dialogs behind the database library's login and cancel-query dialogs
// (dbclient/IBD_Login.h, dbclient/IBD_CancelQuery.h).
//
// The views work on the dialogs' plain forms only, so this library needs nothing of the
// database library at link time; the program, which links both, installs them at start
// with InstallQtIBDialogs() after creating its TQtApplication.
#pragma once

#include <functional>
#include <memory>

#include "dbclient/IBD_CancelQuery.h"
#include "dbclient/IBD_Login.h"

class QDialog;

namespace pelvar {

// Shows the login form as a modal QDialog (its labels, fields, role box and buttons),
// writes what the user typed into Form and answers mrOk or mrCancel.
int QtShowLoginDialog(TLoginDialogForm& Form);

// A non-modal QDialog that follows the cancel-query form; its button calls OnCancelClick.
std::unique_ptr<TCancelQueryView> QtMakeCancelQueryView(std::function<void()> OnCancelClick);
// The dialog widget behind a view made by QtMakeCancelQueryView (for tests).
QDialog* QtCancelQueryDialog(TCancelQueryView* View);

// Installs both views; the previous responder and factory are dropped.
inline void InstallQtIBDialogs() {
  SetLoginDialogResponder(&QtShowLoginDialog);
  SetCancelQueryViewFactory(&QtMakeCancelQueryView);
}

}  // namespace pelvar
