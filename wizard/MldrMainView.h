// The Qt window of the main wizard form: shows the headless form (MldrMain.h) and hands
// the user's clicks, keys and edits to its handlers. A handler's failure goes to the
// application's exception handler, as an event handler's failure would.
//
// Widgets carry the form's component names as object names (Btn_Next, SG_DataPaths,
// CB_Zaklad, P1 ...), so tests find them.
#pragma once

#include <memory>

#include "wizard/MldrMain.h"

class QWidget;

namespace pelvar {

class TMldrMainQtView : public TMldrMainView {
 public:
  explicit TMldrMainQtView(TFrmMldrMain& form);
  ~TMldrMainQtView() override;

  void Update(const TFrmMldrMain& form) override;
  QWidget* Window() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The program: the application object with the Qt loop and dialogs, the title, the main
// form and then the data module, the message loop until the form closes. exe_dir: the
// executable's directory (empty: the running executable's). started, when given, runs
// once the loop has started (tests look at the window and close it).
int MeldrunMain(int& argc, char** argv, const AnsiString& exe_dir = AnsiString(),
                std::function<void(TFrmMldrMain&, TMldrMainQtView&)> started = {});

}  // namespace pelvar
