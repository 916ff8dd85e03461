// The first two pages of the wizard: the station grid, the table groups, and the
// preparation that Next runs on the first page.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <algorithm>

#include "archive/abconst.h"
#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/sysutils.h"
#include "sync/DmMeld.h"
#include "wizard/FileDialogs.h"
#include "wizard/MldrMain.h"
#include "wizard/MldrReasons.h"
#include "wizard/ShellUtils.h"

namespace pelvar {

namespace {

constexpr int32_t kGridRowStep = 21;  // default row height 20 and the grid line

AnsiString WorkFile(const TMldrSettings& settings, const AnsiString& name) {
  return IncludeTrailingPathDelimiter(settings.WorkDir()) + name;
}

const char* const kMainWorkingDatabase = "Main.fdb";

}  // namespace

// --- The station grid ------------------------------------------------------------------------

void TFrmMldrMain::FillStationGrid(const AnsiString& saved_text) {
  if (SG_DataPaths.empty()) SG_DataPaths.push_back({});
  SG_DataPaths[0] = {CZ("Identifikace stanice"), CZ("Cesta k datům")};
  AnsiString saved = saved_text;
  if (saved.find('|') == AnsiString::npos) saved = CZ("Počítač") + " 2|" + saved;
  for (int32_t i = 1;; ++i) {
    const AnsiString part = GetToken(saved, ";", i);
    if (part.empty()) break;
    if (static_cast<int32_t>(SG_DataPaths.size()) <= i) SG_DataPaths.push_back({});
    SG_DataPaths[i][0] = GetToken(part, "|", 1);
    SG_DataPaths[i][1] = GetToken(part, "|", 2);
  }
  Changed();
}

AnsiString TFrmMldrMain::StationGridText() const {
  AnsiString text;
  for (size_t row = 1; row < SG_DataPaths.size(); ++row) {
    const auto& r = SG_DataPaths[row];
    if (r[0].empty() || r[1].empty()) continue;
    if (!text.empty()) text += ";";
    text += r[0] + "|" + r[1];
  }
  return text;
}

void TFrmMldrMain::SetCell(int32_t col, int32_t row, const AnsiString& text) {
  if (col < 0 || col > 1 || row < 1 || row >= static_cast<int32_t>(SG_DataPaths.size())) return;
  SG_DataPaths[row][col] = text;
}

bool TFrmMldrMain::SG_DataPathsKeyDown(uint16_t key, bool shift) {
  const int32_t last = static_cast<int32_t>(SG_DataPaths.size()) - 1;
  if (key == VK_DOWN && GridRow == last && last >= 1 && !SG_DataPaths[last][0].empty() &&
      !SG_DataPaths[last][1].empty()) {
    SG_DataPaths.push_back({CZ("Počítač ") + IntToStr(static_cast<int32_t>(SG_DataPaths.size()) + 1),
                            AnsiString()});
    GridRow = last + 1;  // the key moves into the new row
    Changed();
    return true;
  }
  if (key == VK_DOWN && shift) {
    BtnFolderClick();
    return true;
  }
  if (key == VK_UP && last >= 1 && SG_DataPaths[last][1].empty()) {
    SG_DataPaths.pop_back();
    GridRow = std::min<int32_t>(GridRow, static_cast<int32_t>(SG_DataPaths.size()) - 1);
    if (GridRow < 1) GridRow = 1;
    Changed();
  }
  return false;
}

void TFrmMldrMain::SG_DataPathsSelectCell(int32_t col, int32_t row, bool& can_select) {
  can_select = true;
  GridCol = col;
  GridRow = row;
  const int32_t top = row >= GridTopRow ? (row - GridTopRow + 1) * kGridRowStep : 0;
  BtnFolderTop = top == 0 ? 300 : top == 323 ? 342 : 279 + top;
  Changed();
}

void TFrmMldrMain::SG_DataPathsEnter() {
  BtnFolderVisible = true;
  Changed();
}

void TFrmMldrMain::SG_DataPathsExit(bool focus_to_button) {
  if (!focus_to_button) BtnFolderVisible = false;
  Changed();
}

void TFrmMldrMain::BtnFolderClick() {
  if (GridRow < 1 || GridRow >= static_cast<int32_t>(SG_DataPaths.size())) return;
  TOpenDialog dialog;
  dialog.Filter = CZ(
      "Komprimované soubory (*.zip)|*.zip|Záloha InterBase (*.gbk)|*.gbk|Záloha FireBird "
      "(*.fbk)|*.fbk|Všechny soubory (*.*)|*.*");
  dialog.DefaultExt = "zip";
  dialog.FileName = SG_DataPaths[GridRow][1];
  if (dialog.Execute()) SG_DataPaths[GridRow][1] = dialog.FileName;
  Changed();
}

// --- Table groups ------------------------------------------------------------------------------

void TFrmMldrMain::UpdateUzaverky() { CB_Uzaverky.Enabled = CB_Doklady.Checked && CB_Doklady.Enabled; }

void TFrmMldrMain::CB_ZakladClick() {
  if (!CB_Zaklad.Checked) {
    CB_ExPartner.Checked = CB_ExPacient.Checked = CB_Karty.Checked = false;
    CB_Doklady.Checked = CB_Uzaverky.Checked = false;
  }
  CB_ExPartner.Enabled = CB_ExPacient.Enabled = CB_Karty.Enabled = CB_Zaklad.Checked;
  CB_Doklady.Enabled = CB_Zaklad.Checked && CB_Karty.Checked;
  UpdateUzaverky();
  Changed();
}

void TFrmMldrMain::CB_KartyClick() {
  if (!CB_Karty.Checked) CB_Doklady.Checked = false;
  CB_Doklady.Enabled = CB_Karty.Checked;
  UpdateUzaverky();
  Changed();
}

void TFrmMldrMain::CB_DokladyClick() {
  CB_Uzaverky.Enabled = CB_Doklady.Checked;
  Changed();
}

void TFrmMldrMain::ClickCheckBox(TCheckBoxModel& box) {
  if (!box.Enabled || StepRunning()) return;
  box.Checked = !box.Checked;
  if (&box == &CB_Zaklad) {
    CB_ZakladClick();
  } else if (&box == &CB_Karty) {
    CB_KartyClick();
  } else if (&box == &CB_Doklady) {
    CB_DokladyClick();
  } else if (&box == &CB_KopieZurnal) {
    CB_KopieZurnalClick();
  } else {
    Changed();
  }
}

// --- Preparation ----------------------------------------------------------------------------

AnsiString TFrmMldrMain::UniqueFileName(const AnsiString& path) const {
  // Preparation writes the working database and the main backup into the working
  // directory after the station archives are unpacked there: their names are taken.
  const AnsiString work_dir = ExcludeTrailingPathDelimiter(settings_.WorkDir());
  const auto taken = [&](const AnsiString& candidate) {
    if (FileExists(candidate) || DirectoryExists(candidate)) return true;
    if (!SameText(ExcludeTrailingPathDelimiter(ExtractFileDir(candidate)), work_dir)) return false;
    const AnsiString name = ExtractFileName(candidate);
    return AnsiSameText(name, kMainWorkingDatabase) || AnsiSameText(name, settings_.BkpFileName());
  };
  if (!taken(path)) return path;
  const AnsiString dir = ExtractFilePath(path);
  const AnsiString file = ExtractFileName(path);
  const size_t first_dot = file.find('.');
  const size_t last_dot = file.rfind('.');
  AnsiString base = first_dot == AnsiString::npos ? file : file.substr(0, first_dot);
  const AnsiString ext = last_dot == AnsiString::npos ? AnsiString() : file.substr(last_dot);
  AnsiString candidate = path;
  while (taken(candidate)) {
    const size_t us = base.rfind('_');
    int32_t n = 0;
    if (us != AnsiString::npos && TryStrToInt(base.substr(us + 1), n) && n >= 0 &&
        n < INT32_MAX) {
      candidate = dir + base.substr(0, us + 1) + IntToStr(n + 1) + ext;
    } else {
      candidate = dir + base + "_1" + ext;
    }
    const AnsiString name = ExtractFileName(candidate);
    base = name.substr(0, name.find('.'));
  }
  return candidate;
}

void TFrmMldrMain::ShowJournalState() {
  LaZurnalTrigSwich = trigger_state_ != 0 ? CZ("Žurnál je aktivní") : CZ("Žurnál je neaktivní");
  Changed();
}

bool TFrmMldrMain::PrepareSources() {
  busy_ = true;
  WriteRegInteger("Wizard", "Level", 1);
  MessageDlg(CZ("Před zahájením sehrávání je nezbytně nutné ukončit práci\rna všech stanicích "
                "připojených k hlavní databázi. V opačném\rpřípadě hrozí nenávratná ztráta dat!"),
             mtInformation, {mbOK});
  station_files_->Clear();
  station_sources_->Clear();
  station_idents_->Clear();
  left_out_.clear();
  left_out_why_.clear();
  dropped_stations_.clear();
  for (size_t row = 1; row < SG_DataPaths.size(); ++row) {
    // Paths keep their letter case: the file system tells names apart by it.
    const AnsiString path = SG_DataPaths[row][1];
    current_ident_ = SG_DataPaths[row][0];
    if (const int32_t medium = CheckStationMedium(path); medium != 0) {
      if (medium == 2) return false;
      continue;
    }
    if (SameText(ExtractFileExt(path), ".zip")) {
      const AnsiString name = ChangeFileExt(ExtractFileName(path), ".fbk");
      const AnsiString target = UniqueFileName(WorkFile(settings_, name));
      bool unpacked = false;
      AnsiString reason;
      zip_failure_text_.clear();
      ident_refused_ = false;
      try {
        unpacked = UnpackStationArchive(path, target);
      } catch (const EAbort&) {
        throw;
      } catch (const std::exception& e) {
        const auto* ex = dynamic_cast<const Exception*>(&e);
        reason = ReasonForAdministrator(ex ? ex->Message() : AnsiString(e.what()));
      }
      if (unpacked) {
        station_files_->Add(target);
        station_sources_->Add(path);
        station_idents_->Add(current_ident_);
      } else if (ident_refused_) {
        MessageDlg(Format(CZ("Archiv \"%s\" stanice \"%s\" nebude sehrán a stanice nedostane sehraná "
                             "data."),
                          {path, current_ident_}),
                   mtInformation, {mbOK});
        NoteLeftOut(-1, current_ident_, path, CZ("identifikace archivu neodpovídá stanici."));
      } else {
        // A damaged archive: nothing of it is played. The others may go on without it;
        // its station keeps its file and its changes for the next run.
        if (reason.empty()) reason = zip_failure_text_;
        const int answer = MessageDlg(
            Format(CZ("Archiv \"%s\" stanice \"%s\" se nepodařilo rozbalit:"), {path, current_ident_}) + "\r" +
                reason + "\r\r" +
                CZ("Pokračovat v přípravě bez této stanice? Stanice nedostane sehraná data a její soubor "
                   "zůstane beze změny. Ne zastaví přípravu sehrávání."),
            mtError, {mbYes, mbNo}, 0, mbYes);
        if (answer != mrYes) return false;
        NoteLeftOut(-1, current_ident_, path, CZ("archiv se nepodařilo rozbalit: ") + reason);
      }
    } else {
      station_files_->Add(path);
      station_sources_->Add(path);
      station_idents_->Add(current_ident_);
    }
    Changed();
  }
  if (station_files_->Count() == 0) return false;
  prepare_stage_.clear();
  try {
    if (!PrepareWorkingDatabase()) return false;
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    const auto* ex = dynamic_cast<const Exception*>(&e);
    const AnsiString reason = ReasonForAdministrator(ex ? ex->Message() : AnsiString(e.what()));
    MessageDlg(prepare_stage_ + "\r" + reason + "\r\r" +
                   CZ("Příprava sehrávání byla zastavena. Hlavní databáze ani soubory stanic nebyly změněny. "
                      "Odstraňte příčinu chyby a spusťte průvodce znovu."),
               mtError, {mbOK});
    return false;
  }
  const int32_t count = station_files_->Count();
  journal_marks_.assign(static_cast<size_t>(count), 0);
  left_out_.assign(static_cast<size_t>(count), false);
  MakeDataModule()->InitStationLists(count);
  trigger_state_ = SetWorkingJournalTriggers(0);
  ShowJournalState();
  busy_ = false;
  WriteRegInteger("Wizard", "Level", 2);
  return true;
}

AnsiString TFrmMldrMain::MediumRefusal(const AnsiString& path) const {
  const AnsiString dir = ExcludeTrailingPathDelimiter(ExtractFileDir(path));
  if (!DirectoryExists(dir)) return Format(CZ("adresář %s není dostupný."), {dir});
  // A file made and removed again: what the delivery does there, without its data.
  const std::string probe = SysFileName(IncludeTrailingPathDelimiter(dir) + ".pelvar-zkouska-" +
                                        IntToStr(static_cast<int32_t>(::getpid())));
  const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    const int error = errno;
    switch (error) {
      case EROFS:
        return Format(CZ("médium s adresářem %s je chráněno proti zápisu (připojeno jen pro čtení)."), {dir});
      case EACCES:
      case EPERM:
        return Format(CZ("do adresáře %s nemá průvodce právo zapisovat."), {dir});
      case ENOSPC:
      case EDQUOT:
        return Format(CZ("na médiu s adresářem %s není volné místo."), {dir});
      default:
        return Format(CZ("do adresáře %s nelze zapisovat (%s)."), {dir, Utf8ToAnsi(std::strerror(error))});
    }
  }
  ::close(fd);
  ::unlink(probe.c_str());
  // The result is about as large as the station's file, which stays beside it.
  struct stat file {};
  struct statvfs disk {};
  if (::stat(SysFileName(path).c_str(), &file) == 0 && ::statvfs(SysFileName(dir).c_str(), &disk) == 0) {
    const uint64_t free = static_cast<uint64_t>(disk.f_bavail) * disk.f_frsize;
    if (free < static_cast<uint64_t>(file.st_size)) {
      return Format(CZ("na médiu s adresářem %s je volných %s kB, výsledek stanice potřebuje asi %s kB."),
                    {dir, IntToStr(static_cast<int32_t>(free / 1024)),
                     IntToStr(static_cast<int32_t>((static_cast<uint64_t>(file.st_size) + 1023) / 1024))});
    }
  }
  return AnsiString();
}

int32_t TFrmMldrMain::CheckStationMedium(const AnsiString& path) {
  // A target chosen at delivery is the administrator's to choose then.
  if (settings_.RequestForDestination()) return 0;
  const AnsiString why = MediumRefusal(path);
  if (why.empty()) return 0;
  const AnsiString ident = current_ident_;
  const int answer = MessageDlg(
      Format(CZ("Na médium stanice \"%s\" nelze uložit její sehraná data (soubor %s):"), {ident, path}) + "\r" +
          why + "\r\r" +
          CZ("Pokračovat v přípravě bez této stanice? Stanice nedostane sehraná data a její soubor zůstane beze "
             "změny. Ne zastaví přípravu sehrávání: umožněte zápis na médium a spusťte průvodce znovu."),
      mtError, {mbYes, mbNo}, 0, mbYes);
  if (answer != mrYes) return 2;
  NoteLeftOut(-1, ident, path, CZ("na médium nelze uložit sehraná data: ") + why);
  return 1;
}

bool TFrmMldrMain::UnpackStationArchive(const AnsiString& archive, const AnsiString& target) {
  TDMMeldrun* dm = MakeDataModule();
  dm->ShowProgress(CZ("Rozzipování archivu.."), archive, ClientTop(), ClientLeft());
  try {
    const bool ok = UnzipStation(archive, target);
    dm->HideProgress();
    return ok;
  } catch (...) {
    dm->HideProgress();
    throw;
  }
}

bool TFrmMldrMain::UnzipStation(const AnsiString& archive, const AnsiString& target) {
  TDMMeldrun* dm = MakeDataModule();
  Application()->ProcessMessages();
  unzip_done_ = false;
  ident_refused_ = false;
  zip_failed_ = false;
  bool created = false;
  bool result = false;
  try {
    if (!FileExists(archive)) throw EFOpenError(Format(CZ("Soubor %s neexistuje."), {archive}));
    zip_kit_->SetFileName(archive);
    dm->SetProgressText(CZ("Kontrola identifikace..."));
    first_item_progress_ = true;
    TMemoryStream ident_stream;
    zip_entry_ = "Identifikace.txt";
    const bool ident_ok = zip_kit_->ExtractToStream(zip_entry_, ident_stream) && !zip_failed_;
    if (ident_ok) {
      const AnsiString archive_ident =
          Trim(std::string_view(reinterpret_cast<const char*>(ident_stream.Memory()),
                                static_cast<size_t>(ident_stream.Size())));
      if (CheckIdentification(archive_ident, current_ident_)) {
        dm->SetProgressText(CZ("Rozbaluji : ") + archive);
        first_item_progress_ = true;
        bool extracted;
        {
          RecordLeftover(target);
          TFileStream file(target, fmCreate);
          created = true;
          zip_entry_ = "Pelvar.cb0";
          extracted = zip_kit_->ExtractToStream(zip_entry_, file);
        }
        if (extracted && !zip_failed_) {
          unzip_done_ = true;
          result = true;
        }
      } else {
        ident_refused_ = true;
      }
    }
  } catch (...) {
    zip_kit_->CloseArchive();
    dm->HideProgressBar();
    if (created && DeleteFile(target)) ForgetLeftover(target);
    throw;
  }
  zip_kit_->CloseArchive();
  dm->HideProgressBar();
  // An entry that failed leaves no partial backup behind to be restored later.
  if (!result && created && DeleteFile(target)) ForgetLeftover(target);
  return result;
}

void TFrmMldrMain::ZipItemProgress(uint8_t progress) {
  TDMMeldrun* dm = DataModule();
  if (!dm) return;
  if (first_item_progress_) {
    dm->ShowProgressBar(100);
    first_item_progress_ = false;
  } else {
    dm->SetProgressPosition(progress);
  }
}

void TFrmMldrMain::ZipItemFailure(TAbArchiveItem* item, TAbProcessType process, int32_t code) {
  zip_failed_ = true;
  // An entry missing from the archive comes without an item: name the one asked for.
  const AnsiString name = item ? (item->DiskFileName().empty() ? item->FileName() : item->DiskFileName())
                               : zip_entry_;
  // No box of its own: the question or the message that follows names the station and
  // says what to do, with this reason in it.
  if (process == ptAdd || process == ptExtract) zip_failure_text_ = ZipFailureReason(code, name);
}

bool TFrmMldrMain::CheckIdentification(const AnsiString& archive_ident, const AnsiString& typed_ident) {
  if (archive_ident.empty() || AnsiSameText(archive_ident, typed_ident)) return true;
  const int answer = MessageDlg(
      Format(CZ("Identifikace archivu: \"%s\" neodpovídá identifikaci vyplněné v úvodní tabulce: "
                "\"%s\"\r\n                          Přejete si přesto sehrát tento archiv?"),
             {archive_ident, typed_ident}),
      mtConfirmation, {mbYes, mbNo});
  return answer == mrYes;
}

bool TFrmMldrMain::BackupMainDatabase() {
  TDMMeldrun* dm = MakeDataModule();
  const bool local_server = dm->MainServerName() == "localhost";
  const AnsiString backup = local_server
                                ? WorkFile(settings_, settings_.BkpFileName())
                                : IncludeTrailingPathDelimiter(settings_.ShareDataDir()) +
                                      settings_.BkpFileName();
  AnsiString main = IncludeTrailingPathDelimiter(settings_.DataPath()) + settings_.DBFileName();
  if (local_server && !FileExists(main)) {
    try {
      TOpenDialog dialog;
      dialog.Title = CZ("Nalezení hlavní databáze");
      dialog.Filter = CZ(
          "FireBird (*.fdb)|*.fdb|InterBase (*.gdb)|*.gdb|IB6 (*.ib)|*.ib|Všechny soubory (*.*)|*.*");
      dialog.DefaultExt = "gdb";
      if (DirectoryExists(settings_.DataPath())) dialog.InitialDir = settings_.DataPath();
      for (;;) {
        if (dialog.Execute()) main = dialog.FileName;
        if (FileExists(main)) {
          settings_.SetDataPath(ExcludeTrailingPathDelimiter(ExtractFileDir(main)));
          settings_.SetDBFileName(ExtractFileName(main));
          break;
        }
        // "Ne" is the default answer: Enter ends the search rather than repeating it.
        if (MessageBox(CZ("Soubor hlavní databáze nebyl nalezen!\rPokusíte se nalézt jej znovu?"),
                       Application()->Title(), MB_YESNO | MB_ICONERROR | MB_DEFBUTTON2) != IDYES) {
          MessageDlg(Format(CZ("Příprava sehrávání byla zastavena: hlavní databáze %s nebyla nalezena."),
                            {main}) +
                         "\r" +
                         CZ("Je-li hlavní databáze jinde, opravte v souboru Meldrun.ini v sekci [DATABAZE] "
                            "hodnoty Path a DBFileName, nebo ji při příštím spuštění vyhledejte; pak spusťte "
                            "průvodce znovu."),
                     mtError, {mbOK});
          return false;
        }
      }
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception&) {
      // The search is a help only: the backup is attempted with what there is.
    }
  }
  prepare_stage_ = Format(CZ("Hlavní databázi %s se nepodařilo zazálohovat:"), {main});
  RecordLeftover(WorkFile(settings_, settings_.BkpFileName()));
  return dm->BackupDatabase(main, backup, 1, CZ("Záloha hlavní databáze..."), 'M', ClientLeft(),
                            ClientTop());
}

void TFrmMldrMain::ShareWorkDirWithServer(const AnsiString& backup_file) {
  if (!MakeDataModule()->WorkingDatabasesOnServer()) return;
  // The server's OS user is not known here, so the directory is opened to every user the
  // way a shared temporary directory is (sticky: nobody removes another's file), and only
  // while the server makes the working databases. Only this program's own directory.
  struct stat st {};
  const AnsiString work_dir = ExcludeTrailingPathDelimiter(settings_.WorkDir());
  const std::string dir = SysFileName(work_dir);
  if (stat(dir.c_str(), &st) == 0 && st.st_uid == geteuid() && (st.st_mode & 01777) != 01777)
    chmod(dir.c_str(), 01777);
  // A station backup unpacked into the working directory under a strict umask: the
  // server restores it, so it must read it. Backups elsewhere are not this program's.
  if (backup_file.empty() || ExcludeTrailingPathDelimiter(ExtractFileDir(backup_file)) != work_dir) return;
  const std::string file = SysFileName(backup_file);
  if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid() && !(st.st_mode & S_IROTH))
    chmod(file.c_str(), (st.st_mode & 07777) | S_IRUSR | S_IRGRP | S_IROTH);
}

bool TFrmMldrMain::PrepareWorkingDatabase() {
  ShareWorkDirWithServer();
  if (!BackupMainDatabase()) return false;
  TDMMeldrun* dm = MakeDataModule();
  const AnsiString working = WorkFile(settings_, kMainWorkingDatabase);
  prepare_stage_ = Format(CZ("Pracovní kopii hlavní databáze %s se nepodařilo vytvořit:"), {working});
  RecordLeftover(working);
  const bool restored =
      dm->RestoreDatabase(working, WorkFile(settings_, settings_.BkpFileName()), 2,
                          CZ("Rozbalení hlavní databáze..."), 'L', ClientLeft(), ClientTop());
  if (!restored) return false;
  // The working copy carries the main database's write mode (a backup keeps it); it is
  // played and finished without forced writes and given that mode back for every backup
  // that leaves the wizard.
  handed_out_forced_writes_ = dm->WorkingForcedWrites(working);
  if (handed_out_forced_writes_) dm->SetWorkingForcedWrites(working, false);
  if (!dm->Dst()->Connected()) dm->OpenDst(working, AdministratorUser, AdministratorPassword);
  return CheckWorkingDatabaseVersion();
}

bool TFrmMldrMain::CheckWorkingDatabaseVersion() {
  return MakeDataModule()->CheckDatabaseVersion("Dst", ExpectedDatabaseVersion);
}

int32_t TFrmMldrMain::SetWorkingJournalTriggers(int32_t state) {
  return MakeDataModule()->SetJournalTriggers(state);
}

}  // namespace pelvar
