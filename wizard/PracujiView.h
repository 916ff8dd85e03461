// The Qt windows behind the data module's progress windows (sync/Pracuji.h) and the Qt
// file chooser behind the wizard's open-file dialog (FileDialogs.h) and its folder
// browser (BrowseDirectoryDlg.h).
#pragma once

#include <memory>

#include "sync/Pracuji.h"
#include "wizard/BrowseDirectoryDlg.h"
#include "wizard/FileDialogs.h"

class QWidget;

namespace pelvar {

// A borderless, always-on-top, translucent window that follows the form.
std::unique_ptr<TPracujiView> QtMakePracujiView(const TPracujiForm& form);
// The window behind a view made by QtMakePracujiView (for tests).
QWidget* QtPracujiWindow(TPracujiView* view);

// Shows the dialog as a modal QFileDialog.
bool QtShowOpenDialog(TOpenDialog& dialog);

// Shows the folder chooser as a modal QFileDialog for directories.
bool QtChooseFolder(const TFolderBrowseRequest& request, AnsiString& chosen);

// Installs all three.
inline void InstallQtWizardDialogs() {
  SetPracujiViewFactory(&QtMakePracujiView);
  SetOpenDialogResponder(&QtShowOpenDialog);
  SetFolderChooser(&QtChooseFolder);
}

}  // namespace pelvar
