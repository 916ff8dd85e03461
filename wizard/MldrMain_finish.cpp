// Page 4 of the wizard: finishing and delivery. Each station's own local tables are
// copied back into the harmonised working database and the result is backed up for
// that station; the results go back to the stations' media; the harmonised backup
// replaces the main database; the backups rotate and the work files move to the
// archive directory.
//
// Nothing outside the working directory changes until every station's result exists:
// the media are written only after all copy-backs succeeded, and then only beside the
// stations' files; the main database is replaced only after every result was written
// and the harmonised backup was shown to restore; the results take the places of the
// stations' files only after that. The replacement of the main database is one rename,
// so the practice is either as it was (main database and stations' files) or has the
// harmonised main database with every result written. A failure before the rename
// removes the results written and says what to do; a record in the working directory
// lets the next start do the same, or place the results, after the process ended
// midway.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "dbadapters/REZDataset.h"
#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/oslayer.h"
#include "platform/streams.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"
#include "wizard/FileDialogs.h"
#include "wizard/MldrMain.h"
#include "wizard/MldrReasons.h"
#include "wizard/ShellUtils.h"

namespace pelvar {

namespace {

namespace fs = std::filesystem;

const char* const kMainWorkingDatabase = "Main.fdb";
// The record of the results written beside the stations' files, in the working
// directory.
const char* const kDeliveryRecord = "Dokonceni.txt";

constexpr const char* kStationTables[13] = {
    "RADA",     "RADA_POLOZKA", "RADA_PORADOVE_CISLO", "FRONTA",      "OBJ_PACIENTA",
    "ORD_DOBA", "VERZE",        "NASTAVENI",           "ZURNAL",      "TYP_ZADANKY",
    "TEPLOTA",  "TEPLOTA_MISTO", "RADA_OJ"};

// Organisation and user columns whose keys the play-in changed: the station table that
// holds the old key and its new one (key + "_NEW").
struct TOrgRemap {
  const char* column;
  const char* table;
  const char* key;
};
constexpr TOrgRemap kOrgRemaps[] = {
    {"ID_ZARIZENI", "ZARIZENI", "ID_ZARIZENI"},
    {"ID_ODDELENI", "ODDELENI", "ID_ODDELENI"},
    {"ID_PRACOVISTE", "PRACOVISTE", "ID_PRACOVISTE"},
    {"ID_ZALOZIL", "UZIVATEL_NEW", "ID_UZIVATEL"},
    {"ID_MODIFIKOVAL", "UZIVATEL_NEW", "ID_UZIVATEL"},
};

const TOrgRemap* OrgRemapOf(const AnsiString& column) {
  const AnsiString upper = AnsiUpperCase(column);
  for (const TOrgRemap& r : kOrgRemaps)
    if (upper == r.column) return &r;
  return nullptr;
}

// A step of finishing that failed; the message says what happened.
class EFinishStep : public Exception {
 public:
  using Exception::Exception;
};

AnsiString MessageOf(const std::exception& e) {
  const auto* ex = dynamic_cast<const Exception*>(&e);
  return ex ? ex->Message() : AnsiString(e.what());
}

// The database key the adapters add to a select list; no column of the table.
bool IsDbKey(const TField* f) {
  return f->DataType() == ftBytes &&
         (AnsiSameText(f->FieldName(), "DB_KEY") || AnsiSameText(f->FieldName(), "RDB$DB_KEY"));
}

// Copies a file, overwriting the target; false with the reason when the copy is not
// there whole afterwards.
bool CopyWholeFile(const AnsiString& from, const AnsiString& to, AnsiString& reason) {
  std::error_code ec;
  const fs::path source = SysFileName(from);
  const fs::path target = SysFileName(to);
  fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
  if (!ec) {
    const auto want = fs::file_size(source, ec);
    if (!ec && fs::file_size(target, ec) != want && !ec) ec = std::make_error_code(std::errc::io_error);
  }
  if (ec) {
    reason = Utf8ToAnsi(ec.message());
    return false;
  }
  return true;
}

void CommitQuietly(TIB_Transaction* t) {
  try {
    if (IsTransactionStarted(t)) t->Commit();
  } catch (...) {
  }
}

void RollbackQuietly(TIB_Transaction* t) {
  try {
    if (IsTransactionStarted(t)) t->Rollback();
  } catch (...) {
  }
}

}  // namespace

// --- Small pieces ----------------------------------------------------------------------

AnsiString TFrmMldrMain::StationTableName(int32_t number) {
  if (number < 1 || number > 13) return AnsiString();
  return kStationTables[number - 1];
}

void TFrmMldrMain::CB_KopieZurnalClick() {
  CB_VerifyZaloha.Enabled = CB_KopieZurnal.Checked;
  ME_DnyZurnal.Enabled = CB_KopieZurnal.Checked;
  Changed();
}

void TFrmMldrMain::AddPreparedStation(const AnsiString& file, const AnsiString& source,
                                      const AnsiString& ident) {
  station_files_->Add(file);
  station_sources_->Add(source);
  station_idents_->Add(ident);
  journal_marks_.push_back(0);
  left_out_.resize(static_cast<size_t>(station_files_->Count()), false);
}

void TFrmMldrMain::SetJournalMark(int32_t index, int32_t mark) {
  if (index < 0 || static_cast<size_t>(index) >= journal_marks_.size())
    throw EListError(Format(CZ("Stanice %d není v seznamu stanic."), {index}));
  journal_marks_[static_cast<size_t>(index)] = mark;
}

AnsiString TFrmMldrMain::RestoredStationName(int32_t index) const {
  AnsiString name = AnsiLowerCase(ExtractFileName(station_files_->Strings(index)));
  size_t at = name.find(".gbk");
  if (at != AnsiString::npos) {
    name.replace(at, 4, ".gdb");
  } else if ((at = name.find(".fbk")) != AnsiString::npos) {
    name.replace(at, 4, ".fdb");
  } else {
    // A backup under another name is restored beside itself, never over it.
    name += ".fdb";
  }
  return name;
}

void TFrmMldrMain::FinishProgress(int32_t step, int32_t steps, const AnsiString& text) {
  L_Dokonceni = text + " (" + IntToStr(step) + " z " + IntToStr(steps) + ")";
  if (ProgressBarDokonceni.Max != steps) ProgressBarDokonceni.Max = steps;
  ProgressBarDokonceni.Position = step;
  Changed();
}

bool TFrmMldrMain::RenameWithRetries(const AnsiString& source, const AnsiString& target,
                                     int32_t seconds) {
  using namespace std::chrono_literals;
  const auto elapsed = [](uint32_t from) { return static_cast<int64_t>((GetTickCount() - from) / 1000); };
  bool result = false;
  uint32_t start = GetTickCount();
  int64_t counted = 0;
  while (FileExists(target) && counted < seconds) {
    Application()->ProcessMessages();
    result = DeleteFile(target);
    if (!result) std::this_thread::sleep_for(50ms);
    counted = elapsed(start);
  }
  // Time ran out deleting the target: one rename attempt is left.
  if (counted >= seconds) counted = seconds - 1;
  bool attempted = false;
  while (FileExists(source) && counted <= seconds) {
    Application()->ProcessMessages();
    result = RenameFile(source, target);
    if (result) break;
    if (!attempted) {
      attempted = true;
      start = GetTickCount();
    }
    std::this_thread::sleep_for(50ms);
    counted = elapsed(start);
  }
  return result;
}

// --- Finish -------------------------------------------------------------------------------

bool TFrmMldrMain::FinishAll() {
  TDMMeldrun* dm = MakeDataModule();
  const int32_t count = station_files_->Count();
  station_index_ = 0;
  deliveries_.clear();
  station_results_.assign(static_cast<size_t>(count), AnsiString());
  journal_marks_.resize(static_cast<size_t>(count), 0);
  AnsiString stage = CZ("zálohování sehrané databáze");
  const auto connect_dst = [dm] {
    if (!dm->Dst()->Connected()) dm->Dst()->SetConnected(true);
  };
  try {
    stage = CZ("kontrole volného místa pro hlavní databázi");
    CheckRoomForMainDatabase();
    ShareWorkDirWithServer();
    stage = CZ("zálohování sehrané databáze");
    connect_dst();
    if (trigger_state_ == 0) trigger_state_ = SetWorkingJournalTriggers(1);
    ShowJournalState();
    // The harmonised data carry a mark of this finishing: a later start tells from the
    // main database's content whether it holds them.
    harmonised_mark_ = NewHarmonisedMark();
    dm->WriteHarmonisedMark(harmonised_mark_ + "\r\n" + NextRoundLedger());
    if (!BackupHarmonisedDatabase()) {
      MessageDlg(CZ("Nepodařilo se provést zálohu hlavní sehrané databáze."), mtError, {mbOK});
      return false;
    }
    VerifyHarmonisedBackup();
    connect_dst();
    if (trigger_state_ == 1) trigger_state_ = SetWorkingJournalTriggers(0);
    ShowJournalState();

    const AnsiString work_database = IncludeTrailingPathDelimiter(settings_.WorkDir()) + kMainWorkingDatabase;
    // Stage 1: each station's result, in the working directory only.
    for (int32_t i = 0; i < count; ++i) {
      // A station that was not played keeps its file: its changes wait for the next run.
      if (StationLeftOut(i)) continue;
      station_index_ = i;
      const AnsiString ident = station_idents_->Strings(i);
      stage = Format(CZ("kopírování původních tabulek stanice \"%s\""), {ident});
      Animate2Active = true;
      L_DokonceniIdent = CZ("Identifikace stanice: ") + ident;
      Changed();
      remap_columns_.clear();
      dm->OpenSrc(IncludeTrailingPathDelimiter(settings_.WorkDir()) + RestoredStationName(i),
                  AdministratorUser, AdministratorPassword);
      dm->TrimStationJournal(journal_marks_[static_cast<size_t>(i)], journal_days_);
      const bool copied = CopyStationTables();
      if (!copied) {
        dm->Src()->SetConnected(false);
        throw EFinishStep(Format(CZ("Tabulku %s sehrané databáze nelze vyprázdnit: %s"),
                                 {failed_table_, failed_reason_}));
      }
      // The rows the station keeps marked go into a copy of the working database made
      // for its result alone: the next station's result, and main, never hold them.
      if (StationKeepsRows()) {
        stage = Format(CZ("přenosu neodehraných záznamů stanice \"%s\""), {ident});
        CommitQuietly(dm->REZTransactionDst());
        dm->Dst()->SetConnected(false);
        const AnsiString work = IncludeTrailingPathDelimiter(settings_.WorkDir());
        keep_database_ = UniqueFileName(work + "Vysledek.fdb");
        if (dm->ConnectProtocol() != cpLocal) {
          // The working database is the server's own file: the server makes the copy.
          const AnsiString backup = UniqueFileName(work + "Vysledek.fbk");
          dm->BackupDatabase(work + kMainWorkingDatabase, backup, 1, CZ("Kopie pracovní databáze..."), 'L',
                             ClientLeft(), ClientTop());
          dm->RestoreDatabase(keep_database_, backup, 2, CZ("Kopie pracovní databáze..."), 'L', ClientLeft(),
                              ClientTop());
          DeleteFile(backup);
        } else {
          AnsiString reason;
          if (!CopyWholeFile(work + kMainWorkingDatabase, keep_database_, reason)) {
            DeleteFile(keep_database_);
            keep_database_.clear();
            throw EFinishStep(
                Format(CZ("Pracovní databázi se nepodařilo zkopírovat: %s"), {ReasonForAdministrator(reason)}));
          }
        }
        dm->OpenDst(keep_database_, AdministratorUser, AdministratorPassword);
        CarryKeptRows();
      }
      dm->Src()->SetConnected(false);
      if (copy_journal_) dm->RemapJournal();
      if (trigger_state_ == 0) trigger_state_ = SetWorkingJournalTriggers(1);
      ShowJournalState();
      stage = Format(CZ("zálohování výsledné databáze stanice \"%s\""), {ident});
      BackupStationResult(i, keep_database_);
      if (!keep_database_.empty()) {
        // Back to the working database, its journal switch as the result's.
        DeleteFile(keep_database_);
        keep_database_.clear();
        dm->OpenDst(work_database, AdministratorUser, AdministratorPassword);
        SetWorkingJournalTriggers(trigger_state_);
      }
    }

    // Stage 2: the results go to the stations' media, beside the stations' files.
    for (int32_t i = 0; i < count; ++i) {
      if (StationLeftOut(i)) continue;
      station_index_ = i;
      stage = Format(CZ("ukládání výsledku stanice \"%s\" na médium"), {station_idents_->Strings(i)});
      L_DokonceniIdent = CZ("Identifikace stanice: ") + station_idents_->Strings(i);
      if (!DeliverStation(i)) throw EFinishStep(CZ("Výsledek stanice nebyl uložen."));
    }
    station_index_ = count;

    // Stage 3: the main database.
    stage = CZ("obnově hlavní databáze");
    L_DokonceniIdent = CZ("Identifikace stanice: Hlavní databáze");
    WriteRegString("Wizard", "LastOK", DateToStr(Date()));
    WriteRegInteger("Wizard", "Level", 10);
    FinishProgress(0, 1, CZ("Obnova hlavní databáze"));
    if (!RestoreMainDatabase()) throw EFinishStep(CZ("Obnova hlavní databáze neproběhla."));
  } catch (const EAbort&) {
    DropFinishConnections();
    UndoDeliveries();
    Animate2Active = false;
    Changed();
    throw;
  } catch (const std::exception& e) {
    // A step's own message is Czech already, with its reason in it.
    const AnsiString reason =
        dynamic_cast<const EFinishStep*>(&e) != nullptr ? MessageOf(e) : ReasonForAdministrator(MessageOf(e));
    DropFinishConnections();
    UndoDeliveries();
    Animate2Active = false;
    Changed();
    MessageDlg(Format(CZ("Dokončení sehrávání bylo přerušeno při %s:"), {stage}) + "\r" + reason +
                   "\r\r" +
                   CZ("Hlavní databáze ani soubory stanic nebyly změněny. Odstraňte příčinu chyby a "
                      "spusťte sehrávání znovu se stejnými soubory stanic."),
               mtError, {mbOK});
    return false;
  }
  // Stage 4: the main database holds the harmonised data; the results take the places
  // of the stations' files.
  {
    TStringList left;
    PlaceDeliveries(left);
    DropDeliveryRecord();
    if (left.Count() > 0) {
      MessageDlg(CZ("Hlavní databáze obsahuje sehraná data. Výsledky těchto stanic se nepodařilo "
                    "uložit na místo jejich souborů:") +
                     "\r" + left.Text() + CZ("Přejmenujte je ručně."),
                 mtWarning, {mbOK});
    }
  }
  deliveries_.clear();
  FinishProgress(1, 1, CZ("Přesouvání pracovních souborů"));
  MoveToArchive();
  WriteRegInteger("Wizard", "Level", 0);
  Animate2Active = false;
  Changed();
  return true;
}

namespace {

// Megabytes with one decimal, as the administrator reads them.
AnsiString Megabytes(uint64_t bytes, bool round_up) {
  const uint64_t tenths = (bytes + (round_up ? 104857 : 0)) / 104858;
  return IntToStr(static_cast<int32_t>(tenths / 10)) + "," + IntToStr(static_cast<int32_t>(tenths % 10));
}

}  // namespace

void TFrmMldrMain::CheckRoomForMainDatabase() {
  TDMMeldrun* dm = MakeDataModule();
  // A main server of its own machine restores with its own disk.
  if (dm->MainServerName() != "localhost") return;
  std::error_code ec;
  const auto needed = fs::file_size(
      SysFileName(IncludeTrailingPathDelimiter(settings_.WorkDir()) + kMainWorkingDatabase), ec);
  if (ec) return;
  const AnsiString dir = ExcludeTrailingPathDelimiter(settings_.DataPath());
  const fs::space_info space = fs::space(SysFileName(dir), ec);
  if (ec) return;
  // The harmonised database is restored beside the main database before it replaces it.
  if (space.available >= needed) return;
  throw EFinishStep(Format(CZ("Na disku s hlavní databází %s je volných %s MB, obnova sehrané databáze "
                              "potřebuje asi %s MB. Uvolněte na něm místo."),
                           {dir, Megabytes(space.available, false), Megabytes(needed, true)}));
}

void TFrmMldrMain::DropFinishConnections() {
  TDMMeldrun* dm = DataModule();
  if (!dm) return;
  try {
    dm->IBTableOrigSave()->Cancel();
  } catch (...) {
  }
  try {
    dm->IBTableOrigSave()->Close();
    dm->IBQuerySrc()->Close();
    dm->IBQueryDst()->Close();
  } catch (...) {
  }
  RollbackQuietly(dm->REZTransactionDst());
  try {
    if (dm->Src()->Connected()) dm->Src()->SetConnected(false);
  } catch (...) {
  }
  if (!keep_database_.empty()) {
    // A station's result with its kept rows, half made: gone, the working database back.
    try {
      dm->Dst()->SetConnected(false);
    } catch (...) {
    }
    DeleteFile(keep_database_);
    keep_database_.clear();
    try {
      dm->OpenDst(IncludeTrailingPathDelimiter(settings_.WorkDir()) + kMainWorkingDatabase, AdministratorUser,
                  AdministratorPassword);
    } catch (...) {
    }
  }
  try {
    dm->HideProgressBar();
    dm->HideProgress();
  } catch (...) {
  }
}

void TFrmMldrMain::UndoDeliveries() {
  for (auto it = deliveries_.rbegin(); it != deliveries_.rend(); ++it) {
    const TDelivery& d = *it;
    if (!d.Written.empty() && FileExists(d.Written)) DeleteFile(d.Written);
  }
  deliveries_.clear();
  DropDeliveryRecord();
}

AnsiString TFrmMldrMain::DeliveryRecordPath() const {
  return IncludeTrailingPathDelimiter(settings_.WorkDir()) + kDeliveryRecord;
}

AnsiString TFrmMldrMain::NewHarmonisedMark() const {
  std::random_device random;
  const uint64_t token = (static_cast<uint64_t>(random()) << 32) ^ random();
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(token));
  // Plain ASCII: the database keeps its description in its own character set.
  return "Pelvar harmonised " + FormatDateTime("yyyy-mm-dd hh:nn:ss", Now()) + " " + hex;
}

void TFrmMldrMain::DropDeliveryRecord() {
  DeleteFile(DeliveryRecordPath());
  DeleteFile(DeliveryRecordPath() + ".new");
}

void TFrmMldrMain::SaveDeliveryRecord() {
  TStringList record;
  record.Add("Main=" + IncludeTrailingPathDelimiter(settings_.DataPath()) + settings_.DBFileName());
  record.Add("Mark=" + harmonised_mark_);
  for (size_t i = 0; i < deliveries_.size(); ++i) {
    const TDelivery& d = deliveries_[i];
    const AnsiString n = IntToStr(static_cast<int32_t>(i + 1));
    record.Add("Ident" + n + "=" + d.Ident);
    record.Add("Medium" + n + "=" + d.Medium);
    record.Add("Old" + n + "=" + d.Old);
    record.Add("Written" + n + "=" + d.Written);
    record.Add("Target" + n + "=" + d.Target);
  }
  // Written whole beside itself and renamed: an ended process leaves the record before
  // or after, never half of it.
  const AnsiString file = DeliveryRecordPath();
  const AnsiString part = file + ".new";
  record.SaveToFile(part);
  std::error_code ec;
  fs::rename(SysFileName(part), SysFileName(file), ec);
  if (ec) {
    DeleteFile(part);
    throw EFinishStep(Format(CZ("Záznam dokončení %s nelze uložit: %s"), {file, Utf8ToAnsi(ec.message())}));
  }
}

void TFrmMldrMain::PlaceDeliveries(TStrings& left_behind) {
  const int32_t count = static_cast<int32_t>(deliveries_.size());
  for (int32_t i = 0; i < count; ++i) {
    const TDelivery& d = deliveries_[static_cast<size_t>(i)];
    L_DokonceniIdent = CZ("Identifikace stanice: ") + d.Ident;
    FinishProgress(i + 1, count, CZ("Ukládání výsledků na média"));
    if (d.Written.empty() || !FileExists(d.Written)) continue;
    if (!d.Old.empty() && FileExists(d.Medium)) {
      RenameWithRetries(d.Medium, d.Old, 10);
      if (FileExists(d.Medium) || !FileExists(d.Old)) {
        left_behind.Add(d.Ident + ": " + d.Written + " -> " + d.Target);
        continue;
      }
    }
    AnsiString target = d.Target;
    if (FileExists(target)) {
      const AnsiString unique = UniqueFileName(target);
      MessageDlg(Format(CZ("Původní soubor s názvem: %s nebyl ani přejmenován, ani odstraněn.\rSehraná "
                           "záloha bude proto uložena v souboru: %s"),
                        {target, unique}),
                 mtInformation, {mbOK});
      target = unique;
    }
    if (!RenameFile(d.Written, target)) left_behind.Add(d.Ident + ": " + d.Written + " -> " + target);
  }
}

void TFrmMldrMain::RecoverInterruptedFinishing() {
  const AnsiString file = DeliveryRecordPath();
  if (!FileExists(file)) return;
  TStringList record;
  try {
    record.LoadFromFile(file);
  } catch (const std::exception&) {
    return;
  }
  deliveries_.clear();
  for (int32_t n = 1; !record.Values("Medium" + IntToStr(n)).empty(); ++n) {
    const AnsiString i = IntToStr(n);
    deliveries_.push_back(TDelivery{record.Values("Ident" + i), record.Values("Medium" + i),
                                    record.Values("Old" + i), record.Values("Written" + i),
                                    record.Values("Target" + i)});
  }
  // Whether the main database holds the harmonised data is told by its content: the mark
  // finishing wrote into them. The file itself tells nothing (an administrator may have
  // put a copy in its place).
  const AnsiString main = IncludeTrailingPathDelimiter(settings_.DataPath()) + settings_.DBFileName();
  const AnsiString recorded = record.Values("Mark");
  AnsiString now;
  AnsiString unreadable;
  try {
    // The mark is the description's first line; the practice's identity follows it.
    now = MakeDataModule()->ReadDatabaseMark(main, 'M');
    const size_t end = now.find_first_of("\r\n");
    if (end != AnsiString::npos) now.erase(end);
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    unreadable = ReasonForAdministrator(MessageOf(e));
  }
  const AnsiString title = CZ("Předchozí dokončení sehrávání nebylo dokončeno.");
  if (recorded.empty() || !unreadable.empty()) {
    // No evidence either way: nothing is changed; the record stays for a later start.
    TStringList written;
    for (const TDelivery& d : deliveries_)
      if (!d.Written.empty() && FileExists(d.Written)) written.Add(d.Ident + ": " + d.Written + " -> " + d.Target);
    deliveries_.clear();
    recovery_unclear_ = true;
    AnsiString text = title + "\r" +
                      Format(CZ("Nelze zjistit, zda hlavní databáze %s obsahuje sehraná data."), {main});
    if (!unreadable.empty()) text += "\r" + unreadable;
    text += "\r" + CZ("Průvodce nic nezměnil. Výsledky stanic zůstaly vedle jejich souborů:") + "\r" +
            written.Text() +
            CZ("Obsahuje-li hlavní databáze sehraná data, přejmenujte je na místo souborů stanic; jinak je "
               "smažte a spusťte sehrávání znovu se stejnými soubory stanic.");
    MessageDlg(text, mtWarning, {mbOK});
    return;
  }
  if (now != recorded) {
    // The main database holds other data than the harmonised: the stations keep their
    // files.
    UndoDeliveries();
    MessageDlg(title + "\r" +
                   CZ("Hlavní databáze ani soubory stanic nebyly změněny. Spusťte sehrávání znovu se "
                      "stejnými soubory stanic."),
               mtWarning, {mbOK});
    return;
  }
  // The main database holds the harmonised data: finishing ends as it would have.
  TStringList left;
  PlaceDeliveries(left);
  deliveries_.clear();
  DropDeliveryRecord();
  MoveToArchive();
  WriteRegInteger("Wizard", "Level", 0);
  AnsiString text = title + "\r" +
                    CZ("Hlavní databáze již obsahuje sehraná data; výsledky stanic byly nyní uloženy na "
                       "místo jejich souborů (původní soubory mají příponu \".old\").");
  if (left.Count() > 0) {
    text += "\r" + CZ("Výsledky těchto stanic se nepodařilo uložit na místo jejich souborů:") + "\r" +
            left.Text() + CZ("Přejmenujte je ručně.");
  }
  MessageDlg(text, mtWarning, {mbOK});
}

bool TFrmMldrMain::BackupHarmonisedDatabase() {
  TDMMeldrun* dm = MakeDataModule();
  CommitQuietly(dm->REZTransactionDst());
  dm->Dst()->SetConnected(false);
  const AnsiString work = IncludeTrailingPathDelimiter(settings_.WorkDir());
  return BackupHandedOut(work + kMainWorkingDatabase, work + settings_.BkpFileName(),
                         CZ("Zaloha sehrané databáze..."));
}

bool TFrmMldrMain::BackupHandedOut(const AnsiString& database, const AnsiString& backup,
                                   const AnsiString& caption) {
  TDMMeldrun* dm = MakeDataModule();
  dm->SetWorkingForcedWrites(database, handed_out_forced_writes_);
  const bool ok = dm->BackupDatabase(database, backup, 1, caption, 'L', ClientLeft(), ClientTop());
  // The working database goes on being written (the next station's copy-back); a
  // station's own copy of it is deleted.
  const AnsiString work_database = IncludeTrailingPathDelimiter(settings_.WorkDir()) + kMainWorkingDatabase;
  if (handed_out_forced_writes_ && SameText(database, work_database)) dm->SetWorkingForcedWrites(database, false);
  return ok;
}

void TFrmMldrMain::VerifyHarmonisedBackup() {
  TDMMeldrun* dm = MakeDataModule();
  const AnsiString work = IncludeTrailingPathDelimiter(settings_.WorkDir());
  const AnsiString check = UniqueFileName(work + "Kontrola.fdb");
  bool ok = false;
  try {
    ok = dm->RestoreDatabase(check, work + settings_.BkpFileName(), 2,
                             CZ("Kontrola zálohy sehrané databáze..."), 'L', ClientLeft(), ClientTop());
  } catch (const std::exception& e) {
    DeleteFile(check);
    throw EFinishStep(Format(CZ("Zálohu sehrané databáze %s nelze obnovit: %s"),
                             {work + settings_.BkpFileName(), ReasonForAdministrator(MessageOf(e))}));
  }
  DeleteFile(check);
  if (!ok) {
    throw EFinishStep(
        Format(CZ("Zálohu sehrané databáze %s nelze obnovit."), {work + settings_.BkpFileName()}));
  }
}

// --- Copy-back ------------------------------------------------------------------------------

bool TFrmMldrMain::DeleteAllRows(const AnsiString& table) {
  TDMMeldrun* dm = MakeDataModule();
  TREZQuery* q = dm->IBQueryDst();
  TIB_Transaction* t = q->IB_Transaction();
  try {
    if (!IsTransactionStarted(t)) t->StartTransaction();
    if (q->Active()) q->Close();
    q->SQL()->SetText(Format("delete from %s", {table}));
    q->ExecSQL();
    t->Commit();
    q->Close();
    return true;
  } catch (const EAbort&) {
    RollbackQuietly(t);
    throw;
  } catch (const std::exception& e) {
    failed_reason_ = ReasonForAdministrator(MessageOf(e));
    RollbackQuietly(t);
    try {
      q->Close();
    } catch (...) {
    }
    return false;
  }
}

bool TFrmMldrMain::CopyStationTables() {
  TDMMeldrun* dm = MakeDataModule();
  if (!dm->Dst()->Connected()) dm->Dst()->SetConnected(true);
  failed_table_.clear();
  failed_reason_.clear();
  TREZTable* save = dm->IBTableOrigSave();
  TREZQuery* src = dm->IBQuerySrc();
  for (int32_t n = 1; n <= 13; ++n) {
    const AnsiString table = StationTableName(n);
    if (!DeleteAllRows(table)) {
      failed_table_ = table;
      return false;
    }
    const bool journal = table == "ZURNAL";
    if (journal && !copy_journal_) continue;
    save->Close();
    save->SetTableName(table);
    FinishProgress(n, 13, Format(CZ("Kopie původní tabulky : %s do sehrané databáze."), {table}));
    save->Open();
    if (src->Active()) src->Close();
    src->SQL()->SetText(Format("select * from %s", {table}));
    if (!IsTransactionStarted(src->IB_Transaction())) src->IB_Transaction()->StartTransaction();
    src->Prepare();
    src->Open();
    while (!src->Eof()) {
      if (journal) {
        CopyJournalRow(src);
      } else if (table == "ORD_DOBA") {
        InsertOrdDobaRow(src);
      } else {
        save->Append();
        for (TField* f : src->FieldList()) {
          if (IsDbKey(f)) continue;
          TField* target = save->FindField(f->FieldName());
          if (target == nullptr || IsDbKey(target)) continue;
          if (f->IsNull()) {
            // No reference stays no reference: a null is not key 0.
            target->Clear();
          } else if (OrgRemapOf(f->FieldName()) != nullptr) {
            target->SetAsVariant(RemapOrgKey(f->FieldName(), f->AsInteger()));
          } else {
            target->SetAsVariant(f->AsVariant());
          }
        }
        save->Post();
      }
      src->Next();
    }
    src->Close();
    if (IsTransactionStarted(save->IB_Transaction())) save->IB_Transaction()->Commit();
    if (table != "VERZE" && table != "TYP_ZADANKY") {
      if (journal) {
        dm->SyncGenerator("ZURNAL", journal_marks_[static_cast<size_t>(station_index_)]);
      } else {
        dm->SyncGenerator(table, 0);
      }
    }
  }
  save->Close();
  return true;
}

void TFrmMldrMain::CopyJournalRow(TDataSet* query) {
  TREZTable* save = MakeDataModule()->IBTableOrigSave();
  if (!save->Active()) save->Open();
  save->Append();
  const int32_t n = std::min({11, query->FieldCount(), save->FieldCount()});
  for (int32_t i = 0; i < n; ++i) {
    TField* f = query->Fields(i);
    if (f->IsNull()) {
      save->Fields(i)->Clear();
    } else {
      save->Fields(i)->SetAsVariant(f->AsVariant());
    }
  }
  save->Post();
}

void TFrmMldrMain::InsertOrdDobaRow(TDataSet* query) {
  // The values travel as parameters: a text holding an apostrophe is stored as it is,
  // and nothing of the data becomes part of the statement. The column names are quoted
  // identifiers (the table has a column "DO").
  TDMMeldrun* dm = MakeDataModule();
  TREZQuery* q = dm->IBQueryDst();
  std::vector<TField*> fields;
  AnsiString columns;
  AnsiString values;
  for (TField* f : query->FieldList()) {
    if (IsDbKey(f)) continue;
    if (!columns.empty()) {
      columns += ", ";
      values += ", ";
    }
    columns += AnsiQuotedStr(f->FieldName(), '"');
    values += ":P" + IntToStr(static_cast<int32_t>(fields.size()));
    fields.push_back(f);
  }
  const AnsiString sql = Format("insert into ORD_DOBA (%s) values (%s)", {columns, values});
  TIB_Transaction* t = q->IB_Transaction();
  if (!IsTransactionStarted(t)) t->StartTransaction();
  if (q->Active()) q->Close();
  if (q->SQL()->Text() != sql + "\r\n" && q->SQL()->Text() != sql) {
    q->SQL()->SetText(sql);
    q->Prepare();
  }
  for (size_t i = 0; i < fields.size(); ++i)
    q->ParamByName("P" + IntToStr(static_cast<int32_t>(i)))->AssignField(fields[i]);
  q->ExecSQL();
}

Variant TFrmMldrMain::RemapOrgKey(const AnsiString& column, int32_t old_key) {
  const TOrgRemap* r = OrgRemapOf(column);
  if (r == nullptr) return Variant(old_key);
  TDMMeldrun* dm = MakeDataModule();
  // A table the play-in did not play has no new keys: its keys stand.
  const AnsiString new_column = AnsiString(r->key) + "_NEW";
  const AnsiString cache_key = AnsiString(r->table) + "." + new_column;
  auto known = remap_columns_.find(cache_key);
  if (known == remap_columns_.end()) {
    const Variant n = dm->SelectTmpSrc(
        Format("select count(*) from RDB$RELATION_FIELDS where RDB$RELATION_NAME = %s and "
               "RDB$FIELD_NAME = %s",
               {QuotedStr(r->table), QuotedStr(new_column)}));
    known = remap_columns_.emplace(cache_key, !n.IsNull() && n.AsInteger() > 0).first;
  }
  if (!known->second) return Variant(old_key);
  const Variant v = dm->SelectTmpSrc(
      Format("select %s from %s where %s = %d", {new_column, r->table, r->key, old_key}));
  return v.IsNull() ? Variant(old_key) : v;
}

// --- Station results and delivery -------------------------------------------------------------

AnsiString TFrmMldrMain::BackupStationResult(int32_t index, const AnsiString& database) {
  TDMMeldrun* dm = MakeDataModule();
  FinishProgress(1, 2, CZ("Zálohování hotové databáze"));
  current_ident_ = station_idents_->Strings(index);
  const AnsiString work = IncludeTrailingPathDelimiter(settings_.WorkDir());
  // The station's own name in the working directory, unless that would overwrite the
  // harmonised backup, the working database, a station database still to be finished
  // or the result of another station.
  const auto taken = [&](const AnsiString& path) {
    const AnsiString name = ExtractFileName(path);
    if (AnsiSameText(name, kMainWorkingDatabase) || AnsiSameText(name, settings_.BkpFileName()) ||
        AnsiSameText(name, "Kontrola.fdb"))
      return true;
    for (int32_t j = 0; j < station_files_->Count(); ++j)
      if (name == RestoredStationName(j)) return true;
    for (int32_t j = 0; j < index; ++j)
      if (station_results_[static_cast<size_t>(j)] == path) return true;
    return false;
  };
  const AnsiString file = ExtractFileName(station_files_->Strings(index));
  AnsiString backup = work + file;
  const size_t dot = file.rfind('.');
  const AnsiString base = dot == AnsiString::npos ? file : file.substr(0, dot);
  const AnsiString ext = dot == AnsiString::npos ? AnsiString() : file.substr(dot);
  // A name of its own may replace the station's unpacked file; a made-up one is new.
  for (int32_t n = 0; taken(backup) || (n > 0 && FileExists(backup));)
    backup = work + base + "_" + IntToStr(++n) + ext;
  CommitQuietly(dm->REZTransactionDst());
  dm->Dst()->SetConnected(false);
  if (!BackupHandedOut(database.empty() ? work + kMainWorkingDatabase : database, backup,
                       CZ("Konečná fáze: Zálohování..."))) {
    throw EFinishStep(Format(CZ("Zálohu %s se nepodařilo vytvořit."), {backup}));
  }
  station_results_[static_cast<size_t>(index)] = backup;
  return backup;
}

bool TFrmMldrMain::DeliverStation(int32_t index) {
  const AnsiString ident = station_idents_->Strings(index);
  current_ident_ = ident;
  const AnsiString backup = station_results_.at(static_cast<size_t>(index));
  const AnsiString medium = station_sources_->Strings(index);
  const AnsiString old = ChangeFileExt(medium, ".old");
  const bool has_medium = FileExists(medium);
  // The medium file is renamed once the main database holds the harmonised data; a
  // directory in the place of its ".old" would refuse that then, so it stops now.
  if (has_medium && DirectoryExists(old)) {
    throw EFinishStep(Format(CZ("Soubor stanice %s se nepodařilo přejmenovat na %s."), {medium, old}));
  }
  const AnsiString target = settings_.RequestForDestination() ? AskDestination(medium, ident) : medium;
  // Beside the target, with its extension (the archive's type goes by it).
  const AnsiString written = UniqueFileName(ChangeFileExt(target, ".new" + ExtractFileExt(target)));
  deliveries_.push_back(TDelivery{ident, medium, has_medium ? old : AnsiString(), written, target});
  SaveDeliveryRecord();
  AnsiString reason;
  bool ok;
  if (SameText(ExtractFileExt(target), ".zip")) {
    FinishProgress(2, 2, CZ("Zipování zpět na média"));
    last_written_.clear();
    zip_failure_text_.clear();
    ok = PackStationArchive(backup, written);
    if (!ok && !zip_failure_text_.empty()) reason = "\r" + zip_failure_text_;
    if (!last_written_.empty() && last_written_ != written) {
      deliveries_.back().Written = last_written_;
      SaveDeliveryRecord();
    }
  } else {
    FinishProgress(2, 2, CZ("Kopírování zpět na média"));
    ok = CopyWholeFile(backup, written, reason);
    if (!ok) reason = "\r" + ReasonForAdministrator(reason);
  }
  if (!ok) {
    throw EFinishStep(Format(CZ("Výsledek stanice se nepodařilo uložit do souboru %s."), {target}) +
                      reason);
  }
  return true;
}

AnsiString TFrmMldrMain::AskDestination(const AnsiString& path, const AnsiString& identification) {
  TOpenDialog dialog;
  try {
    dialog.Title = Format(CZ("Kam se má uložit sehraný soubor pro: %s"), {identification});
    dialog.Filter = CZ(
        "Komprimované soubory (*.zip)|*.zip|Záloha InterBase (*.gbk)|*.gbk|Záloha FireBird "
        "(*.fbk)|*.fbk|Všechny soubory (*.*)|*.*");
    dialog.DefaultExt = "zip";
    dialog.FileName = ExtractFileName(path);
    dialog.InitialDir = ExtractFileDir(path);
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception&) {
    MessageDlg(CZ("Nelze otevřít dialog pro uložení výsledného souboru!"), mtError, {mbOK});
  }
  if (dialog.Execute()) return dialog.FileName;
  return path;
}

bool TFrmMldrMain::PackStationArchive(const AnsiString& backup_file, const AnsiString& zip_path) {
  TDMMeldrun* dm = MakeDataModule();
  dm->ShowProgress(CZ("Zipování souboru..."), backup_file, ClientTop(), ClientLeft());
  try {
    const bool ok = ZipStation(backup_file, zip_path);
    dm->HideProgress();
    return ok;
  } catch (...) {
    dm->HideProgress();
    throw;
  }
}

bool TFrmMldrMain::ZipStation(const AnsiString& backup_file, const AnsiString& zip_path) {
  TDMMeldrun* dm = MakeDataModule();
  const AnsiString ident_file = settings_.ExeDir() + "Identifikace.txt";
  {
    TStringList ident;
    ident.Add(current_ident_);
    ident.SaveToFile(ident_file);
  }
  zip_failed_ = false;
  // This system has no drive letters and no CD-burning service (see ShellUtils.h):
  // every target is a file of the file system.
  const AnsiString archive = UniqueFileName(zip_path);
  first_item_progress_ = true;
  const AnsiString cb0 = ExtractFilePath(backup_file) + "Pelvar.cb0";
  if (FileExists(cb0)) DeleteFile(cb0);
  RenameWithRetries(backup_file, cb0, 10);
  if (FileExists(backup_file) || !FileExists(cb0)) {
    DeleteFile(ident_file);
    throw EFinishStep(Format(CZ("Zálohu %s se nepodařilo přejmenovat na %s."), {backup_file, cb0}));
  }
  bool created = false;
  try {
    zip_kit_->SetFileName(archive);
    created = true;
    last_written_ = archive;
    zip_entry_ = "Identifikace.txt";
    zip_kit_->AddFiles(ident_file, 63);
    zip_entry_ = "Pelvar.cb0";
    zip_kit_->AddFiles(cb0, 63);
    zip_kit_->CloseArchive();
  } catch (...) {
    try {
      zip_kit_->CloseArchive();
    } catch (...) {
    }
    dm->HideProgressBar();
    DeleteFile(ident_file);
    if (created) DeleteFile(archive);
    throw;
  }
  dm->HideProgressBar();
  DeleteFile(ident_file);
  // An archive that lost an entry is no result.
  if (zip_failed_) DeleteFile(archive);
  return !zip_failed_;
}

// --- The main database and the work files -------------------------------------------------------

bool TFrmMldrMain::RestoreMainDatabase() {
  TDMMeldrun* dm = MakeDataModule();
  CommitQuietly(dm->REZTransactionDst());
  dm->Dst()->SetConnected(false);
  const AnsiString backup =
      dm->MainServerName() != "localhost"
          ? IncludeTrailingPathDelimiter(settings_.ShareDataDir()) + settings_.BkpFileName()
          : IncludeTrailingPathDelimiter(settings_.WorkDir()) + settings_.BkpFileName();
  return dm->RestoreDatabase(IncludeTrailingPathDelimiter(settings_.DataPath()) + settings_.DBFileName(),
                             backup, 2, CZ("Rozbalení sehrané databáze..."), 'M', ClientLeft(),
                             ClientTop());
}

void TFrmMldrMain::RotateBackups() {
  const AnsiString dir = IncludeTrailingPathDelimiter(settings_.BkpPath());
  const AnsiString copy = dir + settings_.BkpFileName();
  const AnsiString base = dir + "Pelvar";
  AnsiString reason;
  // Each generation moves only onto a place just made free: a failure stops the
  // rotation with every backup still there.
  bool ok = CopyWholeFile(IncludeTrailingPathDelimiter(settings_.WorkDir()) + settings_.BkpFileName(),
                          copy, reason);
  if (!ok) reason = copy + ": " + reason;
  const auto failed = [&reason](const AnsiString& what) {
    reason = what + ": " + Utf8ToAnsi(std::strerror(errno));
    return false;
  };
  for (int32_t n = 4; ok && n >= 1; --n) {
    const AnsiString to = base + "." + Format("cb%d", {n});
    const AnsiString from = base + "." + Format("cb%d", {n - 1});
    if (!FileExists(from)) continue;
    if (FileExists(to) && !DeleteFile(to)) ok = failed(to);
    if (ok && !RenameFile(from, to)) ok = failed(from);
  }
  if (ok && copy != base + ".cb0" && !RenameFile(copy, base + ".cb0")) ok = failed(copy);
  rotation_failed_ = !ok;
  if (ok) return;
  // The harmonised backup goes to the archive with the other work files.
  const AnsiString kept = IncludeTrailingPathDelimiter(settings_.ReadArchiveDir()) + settings_.BkpFileName();
  MessageDlg(CZ("Nepodařilo se zkopírovat sehranou zálohu mezi ostatní zálohy!") + "\r" +
                 Format(CZ("Adresář záloh: %s"), {settings_.BkpPath()}) + "\r" + ReasonForAdministrator(reason) +
                 "\r\r" +
                 Format(CZ("Hlavní databáze obsahuje sehraná data. Zkontrolujte, že adresář záloh existuje a lze do "
                           "něj zapisovat (hodnota BkpPath v sekci [DATABAZE] souboru Meldrun.ini), a zkopírujte do "
                           "něj sehranou zálohu %s pod názvem Pelvar.cb0."),
                        {kept}),
             mtInformation, {mbOK});
}

void TFrmMldrMain::MoveToArchive() {
  TDMMeldrun* dm = MakeDataModule();
  RotateBackups();
  // The run has come to its end: its work files are no leftovers.
  DeleteFile(LeftoverRecordPath());
  const AnsiString dir = settings_.ReadArchiveDir();
  CreateDirPath(dir);
  dm->ShowProgress(CZ("Přesouvání do archivu"), AnsiString(), ClientTop(), ClientLeft());
  std::vector<AnsiString> entries;
  std::error_code ec;
  for (fs::directory_iterator it(SysFileName(settings_.WorkDir()), ec), end; !ec && it != end;
       it.increment(ec))
    entries.push_back(Utf8ToAnsi(it->path().filename().string()));
  std::sort(entries.begin(), entries.end());
  TStringList not_moved;
  if (!entries.empty()) {
    dm->ShowProgressBar(static_cast<int32_t>(entries.size()));
    const AnsiString work = IncludeTrailingPathDelimiter(settings_.WorkDir());
    for (size_t i = 0; i < entries.size(); ++i) {
      dm->SetProgressText(entries[i]);
      dm->SetProgressPosition(static_cast<int32_t>(i));
      const AnsiString file = work + entries[i];
      // The run's lock stays with the run.
      if (!FileExists(file) || SameText(file, RunLockPath())) continue;
      AnsiString reason;
      // A file leaves the working directory only once its copy is in the archive.
      if (CopyWholeFile(file, IncludeTrailingPathDelimiter(dir) + entries[i], reason) &&
          DeleteFile(file))
        continue;
      not_moved.Add(entries[i]);
    }
    dm->HideProgressBar();
  }
  dm->HideProgress();
  if (not_moved.Count() > 0) {
    MessageDlg(Format(CZ("Tyto pracovní soubory se nepodařilo přesunout do archivu %s a zůstávají v "
                         "pracovním adresáři %s:"),
                      {dir, settings_.WorkDir()}) +
                   "\r" + not_moved.Text(),
               mtInformation, {mbOK});
  }
}

}  // namespace pelvar
