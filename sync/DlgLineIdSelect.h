// The selection dialog of one row ("Výběr"): an info text over a read-only grid of a
// dataset's rows; OK (or a double click) takes the first column of the current row as
// the selected id, "Zpět" leaves it -1.
//
// The dialog's state and behaviour live here, headless; ShowModal hands it to the
// installed runner (the Qt view in the program, a script in tests), which moves the
// grid's dataset and clicks the buttons until the dialog is closed. Without a runner
// the dialog closes as "Zpět" would.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/classes.h"
#include "platform/db.h"
#include "platform/dialogs.h"
#include "platform/types.h"

namespace pelvar {

class TFrmVyberId : public TComponent {
 public:
  explicit TFrmVyberId(TComponent* owner);

  const AnsiString& Caption() const { return caption_; }
  const AnsiString& InfoText() const { return info_; }
  // The dataset of the grid (DataSourceLines), open while the dialog shows it.
  TDataSet* Lines() const { return lines_; }
  int32_t SelectedId() const { return selected_id_; }
  TModalResult ModalResult() const { return modal_result_; }
  bool Closed() const { return modal_result_ != mrNone; }

  void SetTitle(const AnsiString& text) { caption_ = text; }
  void SetInfo(const AnsiString& text) { info_ = text; }
  // Binds the grid to the dataset and reopens it.
  void SetLines(TDataSet* dataset);

  // OK or a double click: the first column of the current row (-1 when the dataset is
  // not open or has no row); the dataset is closed.
  void ButtonOKClick();
  void ButtonCancelClick();

  TModalResult ShowModal();

 private:
  AnsiString caption_;
  AnsiString info_;
  TDataSet* lines_ = nullptr;
  int32_t selected_id_ = -1;
  TModalResult modal_result_ = mrNone;
};

using TVyberIdRunner = std::function<void(TFrmVyberId& dialog)>;
// Installs a runner (empty: none) and returns the previous one.
TVyberIdRunner SetVyberIdRunner(TVyberIdRunner runner);

}  // namespace pelvar
