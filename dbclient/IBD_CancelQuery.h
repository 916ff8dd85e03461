// The cancel-query dialog of the database library: shown while a long fetch runs, it
// tells the current row number and lets the user abort the fetch.
//
// The dialog's model and behaviour live here, headless. A view shows the model and
// reports the press of its button: the program installs the Qt view
// (platform/qt/qt_ibdialogs.h); tests install a TScriptedCancelQueryView; without
// either, the dialog has no view (nothing is shown and nobody can press).
//
// The link to the fetching dataset is the narrow interface IB_FetchAbortTarget: the
// dataset that fetches with callbacks implements it (its AbortFetching) and sets itself
// as the dialog's Dataset. The dataset must clear that reference (SetDataset(nullptr))
// or free the dialog before it goes away itself.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/types.h"

namespace pelvar {

// What the dialog's button stops: the fetch of one dataset.
class IB_FetchAbortTarget {
 public:
  // Marks the running fetch aborted; the fetch loop stops at its next check.
  virtual void AbortFetching() = 0;

 protected:
  ~IB_FetchAbortTarget() = default;
};

enum class TCancelQueryWindowState : uint8_t { Normal, Minimized, Maximized };

// Everything the dialog shows (texts Windows-1250).
struct TCancelQueryForm {
  AnsiString Caption;
  int32_t ClientWidth = 313;
  int32_t ClientHeight = 123;
  bool AlwaysOnTop = true;
  AnsiString FetchingMessage;
  int32_t FetchingMessageFontHeight = 21;  // pixels
  // Centred.
  AnsiString RowNum;
  int32_t RowNumFontHeight = 16;  // pixels
  AnsiString CancelCaption;
  bool Visible = false;
  TCancelQueryWindowState WindowState = TCancelQueryWindowState::Normal;
};

// Shows a dialog's state: told of every change (shown, hidden, texts).
class TCancelQueryView {
 public:
  virtual ~TCancelQueryView() = default;
  virtual void Update(const TCancelQueryForm& Form) = 0;
};

// Makes the view of a new dialog; the view calls OnCancelClick when its button is
// pressed (on the main thread, from the message loop).
using TCancelQueryViewFactory =
    std::function<std::unique_ptr<TCancelQueryView>(std::function<void()> OnCancelClick)>;
// Installs a factory (empty: dialogs without a view) and returns the previous one.
TCancelQueryViewFactory SetCancelQueryViewFactory(TCancelQueryViewFactory Factory);

class TdlgCancelQuery {
 public:
  // Sets the Czech texts ("Načítání výsledků dotazu", "Přerušení") and makes the view.
  // The caption is set by the dataset when it shows the dialog.
  TdlgCancelQuery();
  ~TdlgCancelQuery();
  TdlgCancelQuery(const TdlgCancelQuery&) = delete;
  TdlgCancelQuery& operator=(const TdlgCancelQuery&) = delete;

  const TCancelQueryForm& Form() const { return form_; }
  const AnsiString& Caption() const { return form_.Caption; }
  void SetCaption(const AnsiString& Value);
  const AnsiString& RowNum() const { return form_.RowNum; }
  void SetRowNum(const AnsiString& Value);
  // "Řádek# %d" with RowNumber.
  void SetRowNumber(int32_t RowNumber);
  TCancelQueryWindowState WindowState() const { return form_.WindowState; }
  void SetWindowState(TCancelQueryWindowState Value);
  bool Visible() const { return form_.Visible; }
  void Show();
  void Hide();

  // The dataset being fetched; nullptr unless the dataset sets it.
  IB_FetchAbortTarget* Dataset() const { return dataset_; }
  void SetDataset(IB_FetchAbortTarget* Value) { dataset_ = Value; }

  // The button: only with a dataset attached, the dialog hides itself and asks
  // "Skutečně chcete skončit?" (OK / Storno); OK aborts the dataset's fetch, Storno
  // leaves the dialog hidden until the dataset shows it again.
  void CancelBtnClick();

 private:
  void Changed();

  TCancelQueryForm form_;
  IB_FetchAbortTarget* dataset_ = nullptr;
  std::unique_ptr<TCancelQueryView> view_;
  // Set by the destructor: a press still being handled must not touch the dialog.
  std::shared_ptr<bool> alive_;
};

// A view for tests, installed (as the factory) for its lifetime. It keeps every state
// the dialogs made meanwhile were shown in, and presses their button on request: at
// once (Press), or, as a user would during a fetch, through the message loop after the
// dialog next appears (PressWhenShown: the press is posted when the dialog becomes
// visible and arrives at the next ProcessMessages).
class TScriptedCancelQueryView {
 public:
  TScriptedCancelQueryView();
  ~TScriptedCancelQueryView();
  TScriptedCancelQueryView(const TScriptedCancelQueryView&) = delete;
  TScriptedCancelQueryView& operator=(const TScriptedCancelQueryView&) = delete;

  // Every update of every dialog made while installed, in order.
  const std::vector<TCancelQueryForm>& Updates() const { return updates_; }
  // The dialogs made while installed (whether still alive or not).
  int32_t DialogCount() const { return static_cast<int32_t>(clicks_.size()); }
  // Presses the button of the most recently made dialog that is still alive; false
  // when there is none.
  bool Press();
  // Presses the button, through the message loop, the next time a dialog is shown.
  void PressWhenShown() { press_when_shown_ = true; }

 private:
  class View;
  struct Impl;
  std::unique_ptr<Impl> impl_;
  TCancelQueryViewFactory previous_;
  std::vector<TCancelQueryForm> updates_;
  std::vector<std::function<void()>> clicks_;
  std::vector<std::weak_ptr<bool>> views_alive_;
  bool press_when_shown_ = false;
};

}  // namespace pelvar
