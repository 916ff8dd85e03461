// Pages 2 and 3 of the wizard: the play-in of one station and its results. Start
// restores the station's backup into the working directory, opens it as the source,
// checks its schema version, reads its journal mark and its first stock closing, runs
// one play-in engine per work-flow cycle, closes the stock issues of the working main
// database up to the station's closing after every cycle and shows the last engine's
// counters on the results page.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <memory>

#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/exceptions.h"
#include "platform/oslayer.h"
#include "platform/streams.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "wizard/MldrMain.h"

extern char** environ;

namespace pelvar {

namespace {

TShellOpenHandler& ShellOpenHandler() {
  static TShellOpenHandler handler;
  return handler;
}

// Starts xdg-open on the file, detached: the wizard does not wait for the viewer.
bool XdgOpen(const AnsiString& file) {
  const std::string path = SysFileName(file);
  const char* argv[] = {"xdg-open", path.c_str(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0)
    return false;
  // xdg-open hands the file over and ends; its child is the viewer, not ours.
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

TShellOpenHandler SetShellOpenHandler(TShellOpenHandler handler) {
  TShellOpenHandler previous = std::move(ShellOpenHandler());
  ShellOpenHandler() = std::move(handler);
  return previous;
}

bool ShellOpenDocument(const AnsiString& file) {
  if (ShellOpenHandler()) return ShellOpenHandler()(file);
  return XdgOpen(file);
}

// --- The run of one station -------------------------------------------------------------

std::unique_ptr<TMeldrun> TFrmMldrMain::NewEngine() { return std::make_unique<TMeldrun>(); }

bool TFrmMldrMain::RunStation(int32_t index) {
  TDMMeldrun* dm = MakeDataModule();
  if (static_cast<size_t>(index) >= journal_marks_.size()) journal_marks_.resize(static_cast<size_t>(index) + 1, 0);
  SetJournalMark(index, 0);
  WriteRegString("Wizard", "LastHarmonised", DateTimeToStr(Now()));
  WriteRegInteger("Wizard", "Level", 4);
  if (!RestoreStation(index)) return false;
  dm->OpenSrc(IncludeTrailingPathDelimiter(settings_.WorkDir()) + RestoredStationName(index),
              AdministratorUser, AdministratorPassword);
  const auto disconnect = [dm] {
    try {
      dm->CommitBoth();
    } catch (...) {
    }
    if (dm->Src()->Connected()) dm->Src()->SetConnected(false);
  };
  bool result = false;
  try {
    if (!dm->CheckDatabaseVersion("Src", ExpectedDatabaseVersion)) {
      // The station stays unplayed; its database is let go so that another Start can
      // restore it again.
      disconnect();
      return false;
    }
    ReadStationMarks(index);
    const int32_t cycles = settings_.WorkFlowCycles();
    if (cycles > 1) dm->PrepareDocumentCycles(cycles);
    bool ran = false;
    for (dm->CycleIndex = 0; dm->CycleIndex < cycles; ++dm->CycleIndex) {
      std::unique_ptr<TMeldrun> engine = NewEngine();
      dm->IsLastCycle = dm->CycleIndex + 1 == cycles;
      engine->OnStep = [this](int32_t, int32_t, const AnsiString& caption) { EngineStep(caption); };
      engine->OnProgress = [this](int32_t current, int32_t count, const AnsiString& text) {
        EngineProgress(current, count, text);
      };
      engine->Zaklad = CB_Zaklad.Checked;
      engine->ExPartner = CB_ExPartner.Checked;
      engine->ExPacient = CB_ExPacient.Checked;
      engine->Karty = CB_Karty.Checked;
      engine->Doklady = CB_Doklady.Checked;
      engine->Uzaverky = CB_Uzaverky.Checked && CB_Uzaverky.Enabled;
      engine->Ciselniky = CB_Ciselniky.Checked;
      engine->OrgStruktura = CB_OrgStruktura.Checked;
      engine->AutoChange = CB_AutoChange.Checked;
      Animate1Active = true;
      Changed();
      engine->Execute();
      ran = true;
      ApplyStockClosing();
      const int32_t saved = engine->GetSavedCount();
      const int32_t changed = engine->GetChangedCount();
      const int32_t skipped = engine->GetSkippedCount();
      const int32_t save_errors = engine->GetSaveErrorCount();
      L_RC = IntToStr(saved + changed + skipped + save_errors);
      L_SDC = IntToStr(saved);
      L_CRC = IntToStr(changed);
      L_IEC = IntToStr(engine->GetInitErrorCount());
      L_SC = IntToStr(skipped);
      L_CEC = IntToStr(engine->GetConvertErrorCount());
      L_DEC = IntToStr(save_errors);
      Changed();
    }
    result = ran;
  } catch (...) {
    Animate1Active = false;
    disconnect();
    Changed();
    throw;
  }
  L_Action = result ? CZ("Hotovo...") : CZ("Chyba...");
  Animate1Active = false;
  disconnect();
  WriteRegInteger("Wizard", "Level", 5);
  Changed();
  return result;
}

bool TFrmMldrMain::RestoreStation(int32_t index) {
  ShareWorkDirWithServer(station_files_->Strings(index));
  return MakeDataModule()->RestoreDatabase(
      IncludeTrailingPathDelimiter(settings_.WorkDir()) + RestoredStationName(index),
      station_files_->Strings(index), 2, CZ("Přípravná fáze: Rozbalování..."), 'L', Left(), Top());
}

void TFrmMldrMain::ReadStationMarks(int32_t index) {
  TDMMeldrun* dm = MakeDataModule();
  const Variant mark = dm->SelectSrc("select max(id_zurnal) from zurnal");
  if (!mark.IsNull() && !mark.IsEmpty()) SetJournalMark(index, mark.AsInteger());
  Variant values;
  const int32_t n = dm->SelectRowValues(
      dm->IBQueryTmpSrc(),
      "select first 1 min (uz.datum_uzaverky), id_sklad from doklad_polozka_uz uz where (uz.st is "
      "not null) group by uz.id_sklad ",
      values);
  has_stock_closing_ = false;
  if (n >= 2) {
    const Variant date = values.GetElement({0});
    const Variant store = values.GetElement({1});
    // A closing item without a date or a store names no closing to apply.
    if (!date.IsNull() && !date.IsEmpty() && !store.IsNull() && !store.IsEmpty()) {
      stock_closing_date_ = date.AsDateTime();
      stock_closing_store_ = store.AsInteger();
      has_stock_closing_ = true;
    }
  }
}

void TFrmMldrMain::ApplyStockClosing() {
  if (!has_stock_closing_) return;
  TDMMeldrun* dm = MakeDataModule();
  const AnsiString date = FormatDateTime("dd.mm.yyyy hh:nn:ss", stock_closing_date_);
  dm->ExecDst(Format(
      "update doklad_polozka_sk sk  set sk.uzaverka = 'U' where (cast(sk.zalozeni_zaznamu + "
      "sk.cas as timestamp) < '%s') and (sk.uzaverka is null) and (sk.id_sklad = %d) ",
      {date, stock_closing_store_}));
  dm->ExecDst(Format(
      "update doklad_polozka_uz uz set uz.typ_pohybu = 'S' where (uz.datum_uzaverky < '%s') and "
      "(uz.typ_pohybu = 'T') and (uz.id_sklad = %d)",
      {date, stock_closing_store_}));
}

// --- The engine's events and the results page --------------------------------------------

void TFrmMldrMain::EngineStep(const AnsiString& caption) {
  L_Action = caption;
  ++ProgressBar2.Position;
  Changed();
}

void TFrmMldrMain::EngineProgress(int32_t current, int32_t count, const AnsiString&) {
  L_Count = IntToStr(current) + " z " + IntToStr(count);
  if (ProgressBar.Max != count) ProgressBar.Max = count;
  ProgressBar.Position = current;
  Changed();
}

void TFrmMldrMain::BtnDetailClick() { ShellOpenDocument("Import.txt"); }

}  // namespace pelvar
