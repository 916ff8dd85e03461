#include "sync/DlgPrava.h"

#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "sync/DlgLineIdSelect.h"
#include "sync/DmMeld.h"

namespace pelvar {

namespace {
TDialogPravaRunner& Runner() {
  static TDialogPravaRunner runner;
  return runner;
}
}  // namespace

bool RunDialogAction(const std::function<void()>& action) {
  try {
    action();
    return true;
  } catch (const EAbort&) {
    return false;
  } catch (const std::exception& e) {
    Application()->ShowException(e);
    return false;
  }
}

TDialogPravaRunner SetDialogPravaRunner(TDialogPravaRunner runner) {
  TDialogPravaRunner previous = std::move(Runner());
  Runner() = std::move(runner);
  return previous;
}

TFrmDialogPrava::TFrmDialogPrava(TComponent* owner) : TComponent(owner) { SetName("FrmDialogPrava"); }

AnsiString TFrmDialogPrava::CaptionText() { return CZ("Přístupová práva - rozhodnutí při shodě"); }

AnsiString TFrmDialogPrava::InfoText() {
  return CZ("    V hlavní databázi bylo nalzeno přístupové právo se shodným názvem, které bylo v se- "
            "hrávané databázi změněno. Je třeba rozhodnout, jakým způsobem má  sehrávání práv "
            "pokračovat.");
}

AnsiString TFrmDialogPrava::OptionText(int32_t index) {
  switch (index) {
    case 0: return CZ("Přepsat (nahradit) právo v hlavní databázi sehrávaným právem");
    case 1: return CZ("Přidat právo do hlavní databáze s jiným jménem (nové)");
    case 2: return CZ("Přiřadit právo k jinému právu v hlavní databázi (převzetí jiných práv) ");
    case 3: return CZ("Ignorovat změny (objekty ze sehrávané databáze podědí práva z hlavní)");
    default: return AnsiString();
  }
}

AnsiString TFrmDialogPrava::FlagText(const AnsiString& value) {
  const AnsiString u = AnsiUpperCase(value);
  return u == "A" || u == "Y" ? AnsiString("ANO") : AnsiString("NE");
}

void TFrmDialogPrava::ShowMainRight(const AnsiString& name, const AnsiString& admin,
                                    const AnsiString& database, const AnsiString& settings,
                                    const AnsiString& note) {
  main_ = {name, FlagText(admin), note, FlagText(settings), FlagText(database)};
  UpdateChoice();
}

void TFrmDialogPrava::ShowStationRight(const AnsiString& name, const AnsiString& admin,
                                       const AnsiString& database, const AnsiString& settings,
                                       const AnsiString& note) {
  station_ = {name, FlagText(admin), note, FlagText(settings), FlagText(database)};
  UpdateChoice();
}

void TFrmDialogPrava::RadioGroupRozhodniClick(int32_t index) {
  if (index < 0 || index > 3) return;
  item_index_ = index;
  UpdateChoice();
  decision_ = index;
}

void TFrmDialogPrava::BtnOKClick() { Close(mrOk); }

void TFrmDialogPrava::BtnPridejClick() {
  if (main_.Nazev == station_.Nazev) throw Exception(CZ("Nelze přidat právo se stejným jménem!"));
  Close(mrOk);
}

void TFrmDialogPrava::BtnVyberClick() {
  TDMMeldrun* dm = DMMeldrun();
  if (dm == nullptr) throw Exception(CZ("Datový modul sehrávání neexistuje."));
  TREZQuery* q = dm->IBQueryDSearch();
  if (q->Active()) q->Close();
  q->SQL()->SetText("select * from pristupova_prava");
  {
    TFrmVyberId select(nullptr);
    select.SetTitle(CZ("Přiřazení práva z hlavní databáze"));
    select.SetInfo(CZ("Vyberte jaké právo se má dále používat místo: ") + station_.Nazev);
    select.SetLines(q);
    select.ShowModal();
    chosen_id_ = select.SelectedId();
  }
  if (q->Active()) q->Close();
  if (chosen_id_ < 0) throw Exception(CZ("Nebylo vybráno žádné přístupové právo pro přiřazení!"));
  Close(mrOk);
}

void TFrmDialogPrava::CloseBox() { Close(mrCancel); }

void TFrmDialogPrava::Close(TModalResult result) {
  modal_result_ = result;
  // FormCloseQuery: every close stores the decision; a cancel ignores the changes.
  TDMMeldrun* dm = DMMeldrun();
  if (dm == nullptr) return;
  if (result == mrCancel) {
    dm->RightsDecision = 3;
    dm->RightsTargetId = -1;
  } else {
    dm->RightsDecision = decision_;
    dm->RightsTargetId = chosen_id_;
  }
  dm->RightsNewName = station_.Nazev;
}

TModalResult TFrmDialogPrava::ShowModal() {
  modal_result_ = mrNone;
  if (Runner()) Runner()(*this);
  if (modal_result_ == mrNone) CloseBox();
  return modal_result_;
}

}  // namespace pelvar
