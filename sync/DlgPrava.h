// The access-rights decision ("Přístupová práva - rozhodnutí při shodě"): a changed
// station access right whose name exists in the main database is shown beside the main
// right, and the user chooses to overwrite the main right (0), add the station right
// under another name (1), assign it to another main right (2, through the selection
// dialog) or ignore its changes (3).
//
// The dialog's state and behaviour live here, headless; ShowModal hands it to the
// installed runner (the Qt view in the program, a script in tests), which clicks the
// radio items and buttons and types the new name until the dialog is closed. A button
// whose check fails raises; the runner shows the message and the dialog stays open.
// Every close stores the decision in the data module. A close by the window's close box
// (or with no runner at all) is a cancel: it stores option 3, so the station right is
// mapped to the main right and nothing in the main database changes.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/classes.h"
#include "platform/dialogs.h"
#include "platform/types.h"

namespace pelvar {

class TFrmDialogPrava : public TComponent {
 public:
  // One row of the five disabled edits ("Název", "Admin", "Poznámka", "Nastavení",
  // "Databáze").
  struct TRightEdits {
    AnsiString Nazev, Admin, Pozn, Nastav, Databaze;
  };

  explicit TFrmDialogPrava(TComponent* owner);

  static AnsiString CaptionText();
  static AnsiString InfoText();
  // The radio items in order; item 2 ends with a blank.
  static AnsiString OptionText(int32_t index);
  // "ANO" for "A" or "Y" (any case), else "NE".
  static AnsiString FlagText(const AnsiString& value);

  void ShowMainRight(const AnsiString& name, const AnsiString& admin, const AnsiString& database,
                     const AnsiString& settings, const AnsiString& note);
  void ShowStationRight(const AnsiString& name, const AnsiString& admin, const AnsiString& database,
                        const AnsiString& settings, const AnsiString& note);
  // LENazev.. and LENazevS..: the main and the station right.
  const TRightEdits& MainRight() const { return main_; }
  const TRightEdits& StationRight() const { return station_; }
  // The user types into LENazevS (enabled only for option 1).
  void SetStationName(const AnsiString& text) { station_.Nazev = text; }
  bool StationNameEnabled() const { return ItemIndex() == 1; }

  int32_t ItemIndex() const { return item_index_; }
  // Which of the three buttons at the same place is shown (and enabled).
  bool BtnOKVisible() const { return item_index_ == 0 || item_index_ == 3; }
  bool BtnPridejVisible() const { return item_index_ == 1; }
  bool BtnVyberVisible() const { return item_index_ == 2; }
  int32_t Decision() const { return decision_; }
  int32_t ChosenId() const { return chosen_id_; }

  void UpdateChoice() {}
  void RadioGroupRozhodniClick(int32_t index);
  void BtnOKClick();
  // Raises "Nelze přidat právo se stejným jménem!" when the new name is the main
  // right's name; otherwise closes.
  void BtnPridejClick();
  // The selection dialog over the main rights; raises "Nebylo vybráno žádné přístupové
  // právo pro přiřazení!" when it was left without a choice; otherwise closes.
  void BtnVyberClick();
  // The window's close box: a cancel.
  void CloseBox();

  bool Closed() const { return modal_result_ != mrNone; }
  TModalResult ModalResult() const { return modal_result_; }
  TModalResult ShowModal();

 private:
  void Close(TModalResult result);
  TRightEdits main_;
  TRightEdits station_;
  int32_t item_index_ = 0;
  int32_t decision_ = 0;
  int32_t chosen_id_ = -1;
  TModalResult modal_result_ = mrNone;
};

// Runs a button's action the way a dialog does: an exception it raises is shown through
// the application's handler and the dialog stays open. True when it raised nothing.
bool RunDialogAction(const std::function<void()>& action);

using TDialogPravaRunner = std::function<void(TFrmDialogPrava& dialog)>;
// Installs a runner (empty: none) and returns the previous one.
TDialogPravaRunner SetDialogPravaRunner(TDialogPravaRunner runner);

}  // namespace pelvar
