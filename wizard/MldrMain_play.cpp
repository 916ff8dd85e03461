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
#include "platform/dialogs.h"
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
  play_wrote_ = false;
  play_stage_ = 0;
  station_refused_ = false;
  DeleteFile(StationLogPath(index));
  if (!RestoreStation(index)) return false;
  play_stage_ = 1;
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
    // A database of another practice, or one whose rows were played already, is told
    // before anything of it is played or asked.
    if (!CheckStationRound(index)) {
      disconnect();
      return false;
    }
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
      play_wrote_ = true;
      const int32_t errors_before = dm->ErrorList().Count();
      try {
        engine->Execute();
      } catch (...) {
        KeepStationLog(index, errors_before);
        throw;
      }
      KeepStationLog(index, errors_before);
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

bool TFrmMldrMain::StationLeftOut(int32_t index) const {
  return index >= 0 && static_cast<size_t>(index) < left_out_.size() && left_out_[static_cast<size_t>(index)];
}

void TFrmMldrMain::ReportStationFailure(const AnsiString& reason) {
  const AnsiString ident = station_idents_->Strings(station_index_);
  const AnsiString file = station_files_->Strings(station_index_);
  AnsiString text = CZ("Při importu nastala závažná chyba.") + "\r";
  if (!play_wrote_ && play_stage_ == 0) {
    text += Format(CZ("Stanici \"%s\" se nepodařilo sehrát: zálohu %s nelze obnovit."), {ident, file});
  } else {
    text += Format(CZ("Stanici \"%s\" se nepodařilo sehrát (záloha %s):"), {ident, file});
  }
  text += "\r" + reason + "\r\r";
  if (play_wrote_) {
    text += CZ("Pracovní databáze obsahuje jen část dat této stanice, sehrávání proto nelze dokončit. "
               "Hlavní databáze ani soubory stanic nebyly změněny. Ukončete průvodce tlačítkem Storno a "
               "spusťte sehrávání znovu.");
  } else {
    text += CZ("Stanice nedostane sehraná data a její soubor zůstane beze změny. Tlačítkem Další "
               "pokračujte s ostatními stanicemi, tlačítkem Storno sehrávání ukončete.");
  }
  MessageDlg(text, mtError, {mbOK});
}

void TFrmMldrMain::SkipLeftOutStation() {
  if (station_index_ < station_files_->Count() - 1) {
    ++station_index_;
    NotebookPageChanged();
    UsualButtonUpdate(true);
    if (auto_continue_) PostMessage(Handle(), WM_AUTOSTEP, 3, 0);
    Changed();
    return;
  }
  bool any_played = false;
  for (int32_t i = 0; i < station_files_->Count(); ++i) any_played = any_played || !StationLeftOut(i);
  if (!any_played) {
    MessageDlg(CZ("Žádná stanice nebyla sehrána, není co dokončit. Sehrávání ukončete tlačítkem Storno."),
               mtInformation, {mbOK});
    return;
  }
  SetPageIndex(4);
  UsualButtonUpdate(true);
  LE_TimeLabel = CZ("Čas sehrávání ");
  if (auto_continue_) PostMessage(Handle(), WM_AUTOSTEP, 4, 0);
  Changed();
}

bool TFrmMldrMain::RestoreStation(int32_t index) {
  RecordLeftover(IncludeTrailingPathDelimiter(settings_.WorkDir()) + RestoredStationName(index));
  ShareWorkDirWithServer(station_files_->Strings(index));
  TDMMeldrun* dm = MakeDataModule();
  const AnsiString restored = IncludeTrailingPathDelimiter(settings_.WorkDir()) + RestoredStationName(index);
  if (!dm->RestoreDatabase(restored, station_files_->Strings(index), 2, CZ("Přípravná fáze: Rozbalování..."), 'L',
                           Left(), Top()))
    return false;
  // The played copy is scratch (the station's own file stays on its medium, and its
  // result is made from the working database): every row's commit need not wait for
  // the disk.
  if (dm->WorkingForcedWrites(restored)) dm->SetWorkingForcedWrites(restored, false);
  return true;
}

void TFrmMldrMain::ReadStationMarks(int32_t index) {
  TDMMeldrun* dm = MakeDataModule();
  const Variant mark = dm->SelectSrc("select max(id_zurnal) from zurnal");
  if (!mark.IsNull() && !mark.IsEmpty()) SetJournalMark(index, mark.AsInteger());
  // What the station's journal names before the play-in changes anything: the journal
  // copied into its delivery follows these records to their keys in main.
  dm->ReadStationJournalKeys();
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
