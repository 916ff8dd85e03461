#include "wizard/MldrMain.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>

#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "sync/BkpResUtils.h"
#include "sync/DmMeld.h"
#include "wizard/MldrReasons.h"

namespace pelvar {

namespace {

TFrmMldrMain*& Instance() {
  static TFrmMldrMain* instance = nullptr;
  return instance;
}

constexpr TColor kPanelColor = RGB(150, 215, 220);
constexpr TColor kLime = RGB(0, 255, 0);
constexpr TColor kGreen = RGB(0, 128, 0);
constexpr TColor kRed = RGB(255, 0, 0);
constexpr TColor kNavy = RGB(0, 0, 128);

}  // namespace

TFrmMldrMain* FrmMldrMain() { return Instance(); }

namespace {

// SIGTERM and SIGINT end the program at once, as a kill would: the step under way is
// abandoned where it stands (what it leaves is recorded for the next start) and a
// restore child goes with it. The database engine catches these signals for itself and
// shuts its attachments down, after which the program would run on with dead handles;
// this handler runs in its place (or first, when the engine chains it). Only calls that
// are safe in a signal handler.
void StopSignalHandler(int sig) {
  EndRestoreChild(RunningRestoreChild());
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, sig);
  ::sigprocmask(SIG_UNBLOCK, &set, nullptr);
  ::raise(sig);
  ::_exit(128 + sig);
}

void InstallStopSignalHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_handler = StopSignalHandler;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGTERM, SIGINT}) ::sigaction(sig, &action, nullptr);
}

}  // namespace

void AbandonRun() {
  EndRestoreChild(RunningRestoreChild());
  std::fflush(nullptr);
  ::_exit(0);
}

TStepGuard::TStepGuard(TFrmMldrMain& form) : form_(form) {
  ++form_.step_running_;
  form_.Btn_Next.Enabled = false;
  form_.Btn_Prev.Enabled = false;
}

TStepGuard::~TStepGuard() {
  if (--form_.step_running_ == 0) form_.EndStep();
}

void TFrmMldrMain::EndStep() {
  // A step posted while another ran goes now, through the loop as it would have.
  if (deferred_step_ != 0) {
    PostMessage(Handle(), WM_AUTOSTEP, deferred_step_, 0);
    deferred_step_ = 0;
  }
  Changed();
}

TFrmMldrMain::TFrmMldrMain(const AnsiString& exe_dir) : TFormModel(nullptr), settings_(exe_dir) {
  SetName("FrmMldrMain");
  SetBorderStyle(bsSingle);
  SetPosition(poScreenCenter);
  SetBounds(0, 0, 560, 420);
  Clock = [] { return Now(); };

  Btn_Storno = {CZ("Storno"), true, true};
  Btn_Prev = {CZ("<<&Předchozí"), true, false};
  Btn_Next = {CZ("&Další>>"), true, true};
  Btn_Start = {CZ("&Start"), false, true};
  Btn_Finally = {CZ("&Dokončit"), false, true};
  Btn_OK = {"OK", false, true};
  LE_Time = "00:00:00";
  LE_TimeLabel = CZ("Čas ");
  LaPriprava = {CZ("Příprava"), true};
  LaNastaveni = {CZ("Nastavení"), false};
  LaMeld = {CZ("Sehrání"), false};
  LaVysledky = {CZ("Výsledky"), false};
  LaDokonceni = {CZ("Dokončení"), false};
  Markers = {kLime, kRed, kRed, kRed, kRed, kNavy};

  CB_Zaklad = {CZ("&Základ"), true, true};
  CB_ExPartner = {CZ("Doplněk p&artnera"), false, true};
  CB_ExPacient = {CZ("D&oplněk pacienta"), false, true};
  CB_Karty = {CZ("Karty / &Skladové karty"), false, true};
  CB_Doklady = {CZ("Do&klady"), false, true};
  CB_Uzaverky = {CZ("Uzavřít skladové výdejky dle poslední skladové uzávěrky"), false, true};
  CB_Ciselniky = {CZ("Čís&elníky"), false, true};
  CB_OrgStruktura = {CZ("Organizační struktura"), true, true};
  CB_AutoChange = {CZ("&Změny provádět automaticky"), true, true};
  CB_AutoRun = {CZ("Automaticky pokračovat s daty dalších počítačů"), false, true};
  CB_PonechatData = {CZ("&Uschovat data ostatních počítačů"), true, true};
  CB_KopieZurnal = {CZ("Kopírovat"), true, true};
  CB_VerifyZaloha = {CZ("Pouze změny za posledních"), true, true};
  ME_DnyZurnal = {"30", true};
  L_Hotovo = CZ("Sehrávání dat bylo úspěšně dokončeno");
  L_Count = CZ("0 z 0");
  SG_DataPaths.push_back({CZ("Identifikace stanice"), CZ("Cesta k datům")});
  SG_DataPaths.push_back({AnsiString(), AnsiString()});

  OnShow = [this](TObject*) { FormShow(); };
  OnCloseQuery = [this](TObject*, bool& can_close) { FormCloseQuery(can_close); };

  // FormCreate
  settings_.ReadStartupSettings();
  station_files_ = std::make_unique<TStringList>();
  station_sources_ = std::make_unique<TStringList>();
  station_idents_ = std::make_unique<TStringList>();
  station_index_ = 0;
  busy_ = false;
  auto_continue_ = false;
  PnlLeftColor = kPanelColor;
  Shape1Color = kPanelColor;

  zip_kit_ = new TAbZipKit(this);
  zip_kit_->SetName("ZipKit");
  zip_kit_->SetDeflationOption(doMaximum);
  zip_kit_->SetStoreOptions(TAbStoreOptions{soStripDrive, soStripPath, soRemoveDots});
  zip_kit_->OnArchiveItemProgress = [this](TObject*, TAbArchiveItem*, uint8_t progress, bool&) {
    ZipItemProgress(progress);
  };
  zip_kit_->OnProcessItemFailure = [this](TObject*, TAbArchiveItem* item, TAbProcessType process,
                                          TAbErrorClass, int32_t code) {
    ZipItemFailure(item, process, code);
  };

  timer_ = new TTimer(this);
  timer_->SetName("Timer");
  timer_->SetInterval(200);
  timer_->SetOnTimer([this](TObject*) { TimerTimer(); });

  FolderBrowser = new TdfsBrowseDirectoryDlg(this);
  FolderBrowser->SetName("FolderBrowser");
  FolderBrowser->SetOptions(TBrowseFlags{bfDirectoriesOnly});
  FolderBrowser->SetShowSelectionInStatus(true);

  form_manager_ = new TQorFormManager(this);
  form_manager_->SetName("FormManager");
  form_manager_->SetIniFileName(settings_.FormManagerKey());
  form_manager_->SetIniSection("Wizard");
  form_manager_->OnRestorePlacement = [this](TObject*) { FormManagerRestorePlacement(); };
  form_manager_->OnSavePlacement = [this](TObject*) { FormManagerSavePlacement(); };
  form_manager_->Loaded();

  if (Instance() == nullptr) Instance() = this;
  InstallStopSignalHandlers();
}

TFrmMldrMain::~TFrmMldrMain() {
  if (Instance() == this) Instance() = nullptr;
  BeforeDestruction();
}

TDMMeldrun* TFrmMldrMain::DataModule() const { return data_module_; }

TDMMeldrun* TFrmMldrMain::MakeDataModule() {
  if (!data_module_) {
    data_module_ = new TDMMeldrun(this, *this);
    // A restore beside its target leaves its work file there when the process ends
    // midway: the record lets the next start remove it.
    data_module_->OnRestoreWorkFile = [this](const AnsiString& file) { RecordLeftover(file); };
  }
  return data_module_;
}

AnsiString TFrmMldrMain::LeftoverRecordPath() const {
  return IncludeTrailingPathDelimiter(settings_.WorkDir()) + "Rozpracovano.txt";
}

void TFrmMldrMain::RecordLeftover(const AnsiString& file) {
  TStringList record;
  const AnsiString path = LeftoverRecordPath();
  try {
    if (FileExists(path)) record.LoadFromFile(path);
    if (record.IndexOf(file) < 0) record.Add(file);
    record.SaveToFile(path);
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception&) {
    // Without the record the file is only not removed by a later start.
  }
}

void TFrmMldrMain::ForgetLeftover(const AnsiString& file) {
  const AnsiString path = LeftoverRecordPath();
  if (!FileExists(path)) return;
  try {
    TStringList record;
    record.LoadFromFile(path);
    const int32_t at = record.IndexOf(file);
    if (at < 0) return;
    record.Delete(at);
    if (record.Count() > 0) {
      record.SaveToFile(path);
    } else {
      DeleteFile(path);
    }
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception&) {
    // A record that cannot be changed only names a file that is no longer there.
  }
}

void TFrmMldrMain::RemoveLeftovers() {
  const AnsiString path = LeftoverRecordPath();
  if (!FileExists(path)) return;
  TStringList record;
  try {
    record.LoadFromFile(path);
  } catch (const std::exception&) {
    return;
  }
  TStringList removed;
  TStringList kept;
  for (int32_t i = 0; i < record.Count(); ++i) {
    const AnsiString file = record.Strings(i);
    if (file.empty() || !FileExists(file)) continue;
    if (DeleteFile(file)) {
      removed.Add(file);
    } else {
      kept.Add(file);
    }
  }
  if (kept.Count() > 0) {
    kept.SaveToFile(path);
  } else {
    DeleteFile(path);
  }
  if (removed.Count() > 0) {
    MessageDlg(CZ("Průvodce odstranil soubory, které po sobě zanechalo předchozí nedokončené sehrávání:") + "\r" +
                   removed.Text(),
               mtInformation, {mbOK});
  }
}

void TFrmMldrMain::SetView(TMldrMainView* view) {
  view_ = view;
  Changed();
}

void TFrmMldrMain::Changed() {
  if (view_) view_->Update(*this);
}

AnsiString TFrmMldrMain::ReadIniString(const AnsiString& section, const AnsiString& ident,
                                       const AnsiString& def) {
  return settings_.ReadIniString(section, ident, def);
}

void TFrmMldrMain::WriteRegInteger(const AnsiString& section, const AnsiString& ident,
                                   int32_t value) {
  settings_.WriteRegInteger(section, ident, value);
}

void TFrmMldrMain::WriteRegString(const AnsiString& section, const AnsiString& ident,
                                  const AnsiString& value) {
  settings_.WriteRegString(section, ident, value);
}

// --- Show, close, the form manager's events ---------------------------------------------

void TFrmMldrMain::FormShow() {
  SetPageIndex(0);
  ProgressBar.Position = 0;
  FontSize = 8;
  pressed_marker_ = -1;
  Changed();
  // Nothing of the working directory is touched before the run holds the practice.
  if (!TakeRunLock()) return;
  recovery_unclear_ = false;
  RecoverInterruptedFinishing();
  // What an interrupted run cannot be told from stays as it is.
  if (!recovery_unclear_) RemoveLeftovers();
}

AnsiString TFrmMldrMain::RunLockPath() const {
  return IncludeTrailingPathDelimiter(settings_.WorkDir()) + "Pruvodce.lck";
}

bool TFrmMldrMain::TakeRunLock() {
  if (run_lock_.Held()) return true;
  AnsiString text;
  try {
    if (run_lock_.Acquire(RunLockPath())) return true;
    const TRunLock::THolder& h = run_lock_.Holder();
    const auto known = [](const AnsiString& v) { return v.empty() ? CZ("(neznámý)") : v; };
    text = Format(CZ("Na této praxi již běží jiný průvodce sehráváním dat: spustil jej uživatel %s na počítači %s "
                     "%s (proces %s)."),
                  {known(h.User), known(h.Host), known(h.Started), known(h.Process)}) +
           "\r" +
           CZ("Dva průvodci najednou by si navzájem odstranili pracovní soubory. Tento průvodce se nyní ukončí "
              "a nic nezmění. Počkejte, až druhý průvodce skončí, a teprve potom spusťte sehrávání znovu.");
  } catch (const EAbort&) {
    throw;
  } catch (const std::exception& e) {
    const auto* ex = dynamic_cast<const Exception*>(&e);
    text = Format(CZ("Pracovní adresář %s nelze použít:"), {settings_.WorkDir()}) + "\r" +
           ReasonForAdministrator(ex ? ex->Message() : AnsiString(e.what())) + "\r" +
           CZ("Průvodce se nyní ukončí a nic nezmění. Zkontrolujte přístup k pracovnímu adresáři a spusťte "
              "průvodce znovu.");
  }
  run_refused_ = true;
  busy_ = true;
  Btn_Next.Enabled = false;
  Changed();
  MessageDlg(text, mtError, {mbOK});
  SetModalResult(mrCancel);
  CloseRequested();
  return false;
}

void TFrmMldrMain::FormCloseQuery(bool& can_close) {
  if (StepRunning()) can_close = false;
}

bool TFrmMldrMain::CloseRequested() {
  if (StepRunning()) {
    // Closing the window while a step works ends the program as a kill would: the
    // next start takes back or removes what the step left.
    const int answer = MessageDlg(
        CZ("Probíhající krok sehrávání bude přerušen a průvodce se ukončí. Hlavní databáze zůstane "
           "v pořádku; co přerušený krok zanechal, průvodce uklidí při příštím spuštění.\rUkončit "
           "průvodce?"),
        mtWarning, {mbYes, mbNo}, 0, mbNo);
    if (answer == mrYes) AbandonRun();
    return false;
  }
  if (!Close()) return false;
  timer_->SetEnabled(false);
  Changed();
  if (OnClosed) OnClosed(this);
  return true;
}

void TFrmMldrMain::FormManagerRestorePlacement() {
  const TMldrLastValues v = ReadLastValues(form_manager_->IniFileObject());
  FillStationGrid(v.Path);
  CB_Zaklad.Checked = v.CB_Zaklad;
  CB_ExPartner.Checked = v.CB_ExPartner;
  CB_ExPacient.Checked = v.CB_ExPacient;
  CB_Karty.Checked = v.CB_Karty;
  CB_Doklady.Checked = v.CB_Doklady;
  CB_Uzaverky.Checked = v.CB_Uzaverky;
  CB_Ciselniky.Checked = v.CB_Ciselniky;
  CB_OrgStruktura.Checked = v.CB_OrgStruktura;
  CB_AutoChange.Checked = v.CB_AutoChange;
  CB_VerifyZaloha.Checked = v.CB_VerifyZaloha;
  CB_PonechatData.Checked = v.CB_PonechatData;
  CB_ZakladClick();
  CB_KartyClick();
}

void TFrmMldrMain::FormManagerSavePlacement() {
  if (ModalResult() != mrOk) return;
  TMldrLastValues v;
  v.Path = StationGridText();
  v.CB_Zaklad = CB_Zaklad.Checked;
  v.CB_ExPartner = CB_ExPartner.Checked;
  v.CB_ExPacient = CB_ExPacient.Checked;
  v.CB_Karty = CB_Karty.Checked;
  v.CB_Doklady = CB_Doklady.Checked;
  v.CB_Uzaverky = CB_Uzaverky.Checked;
  v.CB_Ciselniky = CB_Ciselniky.Checked;
  v.CB_OrgStruktura = CB_OrgStruktura.Checked;
  v.CB_AutoChange = CB_AutoChange.Checked;
  v.CB_VerifyZaloha = CB_VerifyZaloha.Checked;
  v.CB_PonechatData = CB_PonechatData.Checked;
  WriteLastValues(form_manager_->IniFileObject(), v);
}

// --- Pages and buttons -------------------------------------------------------------------

void TFrmMldrMain::SetPageIndex(int32_t index) {
  if (index < 0 || index > 5 || index == page_index_) return;
  page_index_ = index;
  NotebookPageChanged();
}

void TFrmMldrMain::UsualButtonUpdate(bool touch_finally) {
  Btn_Next.Visible = page_index_ < 2;
  Btn_Start.Visible = page_index_ == 2;
  if (page_index_ == 2) Btn_Start.Enabled = true;
  if (touch_finally) Btn_Finally.Visible = page_index_ == 4;
  timer_->SetEnabled(false);
  timer_->SetInterval(page_index_ > 1 ? 1000 : 200);
  timer_->SetEnabled(true);
}

void TFrmMldrMain::Btn_NextClick() {
  if (StepRunning() || run_spoiled_ || run_refused_) return;
  if (page_index_ == 2 && StationLeftOut(station_index_)) {
    SkipLeftOutStation();
    return;
  }
  if (page_index_ == 3 && station_index_ < station_files_->Count() - 1) {
    ++station_index_;
    SetPageIndex(2);
    UsualButtonUpdate(true);
    if (auto_continue_) PostMessage(Handle(), WM_AUTOSTEP, page_index_ == 4 ? 4 : 3, 0);
    Changed();
    return;
  }
  if (page_index_ == 0) {
    bool ok;
    {
      TStepGuard guard(*this);
      ok = PrepareSources();
    }
    if (!ok) {
      Changed();
      return;
    }
  }
  SetPageIndex(page_index_ + 1);
  UsualButtonUpdate(true);
  LE_TimeLabel = page_index_ > 1 ? CZ("Čas sehrávání ") : CZ("Čas ");
  if (auto_continue_ && page_index_ == 4) PostMessage(Handle(), WM_AUTOSTEP, 4, 0);
  Changed();
}

void TFrmMldrMain::Btn_PrevClick() {
  if (StepRunning() || run_spoiled_ || page_index_ == 0) return;
  SetPageIndex(page_index_ - 1);
  UsualButtonUpdate(false);
  Changed();
}

void TFrmMldrMain::Btn_StornoClick() {
  if (StepRunning()) {
    MessageDlg(CZ("Probíhající krok sehrávání nelze přerušit. Počkejte prosím, až skončí."), mtInformation,
               {mbOK});
    return;
  }
  if (page_index_ == 3 || page_index_ == 4) {
    const int answer = MessageDlg(
        CZ("Přerušením sehrávání dat v této fázi, Vám mohou nastat nepředvídatelné těžkosti s "
           "dalším chodem programu.\r\nChcete opravdu nyní sehrávání přerušit?"),
        mtWarning, {mbYes, mbNo});
    if (answer != mrYes) return;
  }
  SetModalResult(mrCancel);
  CloseRequested();
}

void TFrmMldrMain::Btn_OKClick() {
  if (StepRunning()) return;
  SetModalResult(mrOk);
  CloseRequested();
}

void TFrmMldrMain::Btn_StartClick() {
  if (StepRunning() || run_spoiled_ || run_refused_ || page_index_ != 2 || !Btn_Start.Enabled) return;
  bool ok;
  bool failed = false;
  AnsiString failure;
  {
    TStepGuard guard(*this);
    Btn_Prev.Enabled = false;
    Btn_Storno.Enabled = false;
    Btn_Start.Enabled = false;
    CB_AutoChange.Enabled = false;
    if (station_index_ == 0 && CB_AutoRun.Checked) auto_continue_ = true;
    CB_AutoRun.Enabled = false;
    MakeDataModule()->CommitAfter = settings_.CommitAfter();
    start_time_ = Clock();
    Changed();
    try {
      ok = RunStation(station_index_);
    } catch (const EAbort&) {
      throw;
    } catch (const std::exception& e) {
      failure = e.what();
      if (const auto* ex = dynamic_cast<const Exception*>(&e)) failure = ex->Message();
      failure = ReasonForAdministrator(failure);
      ok = false;
      failed = true;
    }
  }
  if (static_cast<size_t>(station_index_) >= left_out_.size())
    left_out_.resize(static_cast<size_t>(station_index_) + 1, false);
  // A station that was not played gets nothing at finishing; one whose play-in wrote
  // into the working database spoils the run.
  left_out_[static_cast<size_t>(station_index_)] = !ok;
  if (station_index_ < station_idents_->Count() && station_index_ < station_files_->Count()) {
    NoteLeftOut(station_index_, station_idents_->Strings(station_index_), station_files_->Strings(station_index_),
                ok ? AnsiString()
                : failed ? CZ("sehrání selhalo: ") + failure
                         : CZ("sehrání neproběhlo (nebylo potvrzeno nebo nebylo co sehrát)."));
  }
  if (failed && play_wrote_) run_spoiled_ = true;
  Btn_Start.Visible = false;
  Btn_Storno.Enabled = true;
  if (!ok) {
    Btn_Prev.Enabled = !run_spoiled_;
    Btn_Next.Visible = true;
    Btn_Next.Enabled = false;
    Changed();
    if (failed) {
      ReportStationFailure(failure);
    } else if (station_refused_) {
      // Told why already; the run goes on with the other stations.
      Btn_Next.Enabled = true;
      if (auto_continue_) PostMessage(Handle(), WM_AUTOSTEP, 2, 0);
      Changed();
    } else {
      MessageDlg(CZ("Při importu nastala závažná chyba."), mtCustom, {mbOK});
    }
    return;
  }
  Btn_Next.Visible = true;
  Btn_Next.Enabled = true;
  SetPageIndex(3);
  if (auto_continue_) PostMessage(Handle(), WM_AUTOSTEP, 2, 0);
  Changed();
}

void TFrmMldrMain::NoteLeftOut(int32_t index, const AnsiString& ident, const AnsiString& file,
                               const AnsiString& why) {
  const AnsiString line = ident + " (" + file + "): " + why;
  if (index < 0) {
    dropped_stations_.push_back(line);
    return;
  }
  if (static_cast<size_t>(index) >= left_out_why_.size()) left_out_why_.resize(static_cast<size_t>(index) + 1);
  left_out_why_[static_cast<size_t>(index)] = why.empty() ? AnsiString() : line;
}

void TFrmMldrMain::ShowRunOutcome() {
  std::vector<AnsiString> lines = dropped_stations_;
  for (size_t i = 0; i < left_out_why_.size(); ++i)
    if (StationLeftOut(static_cast<int32_t>(i)) && !left_out_why_[i].empty()) lines.push_back(left_out_why_[i]);
  L_Vynechane.clear();
  if (lines.empty()) {
    L_Hotovo = rotation_failed_ ? CZ("Sehrávání dat bylo dokončeno, ale sehraná záloha nebyla zařazena mezi "
                                     "zálohy hlavní databáze.")
                                : CZ("Sehrávání dat bylo úspěšně dokončeno");
    return;
  }
  L_Hotovo = rotation_failed_ ? CZ("Sehrávání dat bylo dokončeno bez některých stanic a sehraná záloha nebyla "
                                   "zařazena mezi zálohy hlavní databáze.")
                              : CZ("Sehrávání dat bylo dokončeno bez některých stanic.");
  L_Vynechane = CZ("Tyto stanice nebyly sehrány a nedostaly sehraná data; jejich soubory zůstaly beze změny:");
  for (const AnsiString& line : lines) L_Vynechane += "\n" + line;
  L_Vynechane += "\n" + CZ("Jejich změny sehrajte při příštím sehrávání z jejich dosavadních "
                            "souborů.");
}

void TFrmMldrMain::Btn_FinallyClick() {
  if (StepRunning() || run_spoiled_ || run_refused_ || page_index_ != 4 || !Btn_Finally.Enabled) return;
  bool ok;
  {
    TStepGuard guard(*this);
    Btn_Finally.Enabled = false;
    copy_journal_ = CB_KopieZurnal.Checked;
    if (CB_VerifyZaloha.Checked) {
      int32_t days = 30;
      journal_days_ = TryStrToInt(Trim(ME_DnyZurnal.Text), days) ? days : 30;
    } else {
      journal_days_ = 999;
    }
    Changed();
    ok = FinishAll();
  }
  if (ok) {
    ShowRunOutcome();
    SetPageIndex(5);
    Btn_Next.Visible = Btn_Start.Visible = Btn_Finally.Visible = false;
    Btn_Storno.Visible = Btn_Prev.Visible = false;
    Btn_OK.Visible = true;
    WriteRegString("Wizard", "LastHarmonised", "");
  }
  timer_->SetEnabled(false);
  Changed();
}


// --- Timer --------------------------------------------------------------------------------

bool TFrmMldrMain::PageValid() const { return page_valid_; }

void TFrmMldrMain::TimerTimer() {
  bool valid = true;
  if (page_index_ == 0) {
    for (size_t row = 1; row < SG_DataPaths.size(); ++row) {
      const AnsiString& ident = SG_DataPaths[row][0];
      const AnsiString& path = SG_DataPaths[row][1];
      if (ident.empty() || path.size() <= 2 || !FileExists(path)) {
        valid = false;
        break;
      }
    }
  } else if (page_index_ == 1) {
    valid = CB_Zaklad.Checked || CB_ExPartner.Checked || CB_ExPacient.Checked ||
            CB_Karty.Checked || CB_Doklady.Checked || CB_Ciselniky.Checked ||
            CB_OrgStruktura.Checked;
  }
  page_valid_ = valid;
  // While a step works nothing is enabled here: the step gives the buttons back.
  if (!StepRunning()) {
    Btn_Prev.Enabled = page_index_ > 0 && !run_spoiled_;
    Btn_Next.Enabled = page_index_ < 5 && valid && !busy_ && !run_spoiled_;
  }
  LE_Time = FormatDateTime("hh:mm:ss", Clock() - start_time_);
  Changed();
}

// --- Left panel ------------------------------------------------------------------------------

void TFrmMldrMain::NotebookPageChanged() {
  // The step label of the page shown is bold, no other: going back a page (to the
  // next station's play-in) must not leave the results label bold beside it.
  TLabelModel* const steps[5] = {&LaPriprava, &LaNastaveni, &LaMeld, &LaVysledky, &LaDokonceni};
  for (int32_t i = 0; i < 5; ++i) steps[i]->Bold = i == page_index_;
  switch (page_index_) {
    case 0:
      Markers[0] = kLime;
      Markers[1] = Markers[2] = Markers[3] = kRed;
      break;
    case 1:
      Markers[0] = kGreen;
      Markers[1] = kLime;
      Markers[2] = Markers[3] = kRed;
      break;
    case 2: {
      Markers[0] = Markers[1] = kGreen;
      Markers[2] = kLime;
      Markers[3] = kRed;
      step_weight_total_ = (CB_Zaklad.Checked ? 21 : 0) + (CB_ExPartner.Checked ? 3 : 0) +
                           (CB_ExPacient.Checked ? 17 : 0) + (CB_Karty.Checked ? 6 : 0) +
                           (CB_Doklady.Checked ? 11 : 0) + (CB_Ciselniky.Checked ? 12 : 0) +
                           (CB_OrgStruktura.Checked ? 9 : 0);
      ProgressBar2.Position = 0;
      ProgressBar2.Max = step_weight_total_;
      CB_AutoChange.Enabled = true;
      const AnsiString ident = station_index_ >= 0 && station_index_ < station_idents_->Count()
                                   ? station_idents_->Strings(station_index_)
                                   : AnsiString();
      Label11 = Format(CZ("Start sehrávání dat pro '%s'"), {ident});
      Label10 = Format(CZ("Výsledek sehrání dat pro '%s'"), {ident});
      break;
    }
    case 3:
      Markers[0] = Markers[1] = Markers[2] = kRed;
      Markers[3] = kLime;
      break;
    case 4:
      Markers[0] = Markers[1] = Markers[2] = Markers[3] = kRed;
      Markers[4] = kLime;
      break;
    case 5:
      Markers[0] = Markers[1] = Markers[2] = Markers[3] = Markers[4] = kRed;
      Markers[5] = kLime;
      break;
  }
}

void TFrmMldrMain::PMouseDown(int32_t tag) {
  if (tag < 0 || tag > 4) return;  // P6 has no mouse handling
  pressed_marker_ = tag;
}

void TFrmMldrMain::PMouseUp(int32_t tag) {
  if (tag < 0 || tag > 4 || tag != pressed_marker_) return;
  if (StepRunning() || run_spoiled_ || Markers[tag] != kGreen) return;
  pressed_marker_ = -1;
  SetPageIndex(tag);
  NotebookPageChanged();
  UsualButtonUpdate(true);
  Changed();
}

// --- The private message ------------------------------------------------------------------

void TFrmMldrMain::WndProc(TMessage& message) {
  if (message.Msg != WM_AUTOSTEP) {
    TFormModel::WndProc(message);
    return;
  }
  if (StepRunning()) {
    // Pumped through by a running step: it goes once that step has ended.
    deferred_step_ = message.WParam;
    return;
  }
  switch (message.WParam) {
    case 2: Btn_NextClick(); break;
    case 3: Btn_StartClick(); break;
    case 4: Btn_FinallyClick(); break;
    default: break;
  }
}

}  // namespace pelvar
