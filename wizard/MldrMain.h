// The wizard's main form, headless: the six pages, the navigation buttons, the clock
// timer, the marker panel, the private message through which the wizard goes on by
// itself over several stations, the station grid and the table groups, and the
// preparation that Next runs on the first page. A view (the Qt window of
// MldrMainView.h) shows the state and calls the handlers; the whole wizard also runs
// without one.
//
// One busy guard: while any step works (preparation, a play-in, finishing), navigation,
// Start, Finish, the markers and closing the window are refused, also when the step's
// message pumping lets a click, a timer tick or a posted step through; a posted step
// that arrives meanwhile runs once the step has ended.
//
// The form is the data module's TMainFormLink.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "archive/abzipkit.h"
#include "platform/application.h"
#include "platform/classes.h"
#include "platform/graphics.h"
#include "platform/types.h"
#include "platform/variant.h"
#include "sync/MainFormLink.h"
#include "wizard/BrowseDirectoryDlg.h"
#include "wizard/FormModel.h"
#include "wizard/MldrSettings.h"
#include "wizard/Qor_System.h"
#include "wizard/RunLock.h"

namespace pelvar {

class TDMMeldrun;
class TDataSet;
class TMeldrun;

// The private message the form posts to itself; WParam 2 presses Next, 3 Start,
// 4 Finish.
constexpr uint32_t WM_AUTOSTEP = WM_USER + 1000;

// The expected schema version of the practice databases.
constexpr int32_t ExpectedDatabaseVersion = 200824;

struct TButtonModel {
  AnsiString Caption;
  bool Visible = true;
  bool Enabled = true;
};

struct TCheckBoxModel {
  AnsiString Caption;
  bool Checked = false;
  bool Enabled = true;
};

struct TLabelModel {
  AnsiString Caption;
  bool Bold = false;
};

// A progress bar of the form.
struct TBarModel {
  int32_t Max = 100;
  int32_t Position = 0;
};

// An edit box of the form.
struct TEditModel {
  AnsiString Text;
  bool Enabled = true;
};

class TMldrMainView;
class TKeptRows;

// Key codes and shift state of the grid's key handler.
constexpr uint16_t VK_UP = 0x26;
constexpr uint16_t VK_DOWN = 0x28;

class TFrmMldrMain : public TFormModel, public TMainFormLink {
 public:
  // FormCreate: reads the settings (exe_dir: the executable's directory with a
  // trailing delimiter; empty: the running executable's), creates the working
  // directory, the station lists and the form manager, and sets the colours. The data
  // module does not exist yet and is not used.
  explicit TFrmMldrMain(const AnsiString& exe_dir = AnsiString());
  ~TFrmMldrMain() override;

  // The data module, made by the program after the form (see MakeDataModule).
  TDMMeldrun* DataModule() const;
  // Makes the data module owned by this form (once) and returns it; the steps that
  // need it make it themselves where the program has not.
  TDMMeldrun* MakeDataModule();

  // The view is told of every change (nullptr: none).
  void SetView(TMldrMainView* view);
  // Tells the view.
  void Changed();

  // --- Settings
  TMldrSettings& Settings() { return settings_; }
  const TMldrSettings& Settings() const { return settings_; }

  // --- TMainFormLink
  AnsiString ReadIniString(const AnsiString& section, const AnsiString& ident,
                           const AnsiString& def) override;
  int32_t StationIndex() const override { return station_index_; }
  bool AutoContinue() const override { return auto_continue_; }
  bool JournalRecentOnly() const override { return CB_VerifyZaloha.Checked; }
  int32_t ProgressMax() const override { return ProgressBar.Max; }
  void SetProgressMax(int32_t value) override { ProgressBar.Max = value; }
  void SetProgressPosition(int32_t value) override { ProgressBar.Position = value; }
  void SetCountText(const AnsiString& text) override { L_Count = text; }
  void RepaintProgress() override { Changed(); }

  // --- State of Part "start-up and main form"
  void SetStationIndex(int32_t v) { station_index_ = v; }
  bool Busy() const { return busy_; }
  int32_t PressedMarker() const { return pressed_marker_; }
  TDateTime StartTime() const { return start_time_; }
  int32_t StepWeightTotal() const { return step_weight_total_; }
  // True while a step runs (the busy guard).
  bool StepRunning() const { return step_running_ > 0; }
  // Another run of the wizard holds the practice: this one said so, touched nothing
  // and closed.
  bool RunRefused() const { return run_refused_; }
  // The lock file of the practice's run, in the working directory.
  AnsiString RunLockPath() const;

  // --- Components (their state; the view shows them)
  int32_t PageIndex() const { return page_index_; }
  TButtonModel Btn_Storno, Btn_Prev, Btn_Next, Btn_Start, Btn_Finally, Btn_OK;
  TTimer* Timer() const { return timer_; }
  // The form's folder browser (directories only, from the desktop, the selection shown in
  // its status line); the wizard itself never opens it.
  TdfsBrowseDirectoryDlg* FolderBrowser = nullptr;
  AnsiString LE_Time;
  AnsiString LE_TimeLabel;
  TColor PnlLeftColor = clBtnFace;
  TColor Shape1Color = clBtnFace;
  TLabelModel LaPriprava, LaNastaveni, LaMeld, LaVysledky, LaDokonceni;
  // Markers P1 .. P6 (tags 0 .. 5).
  std::array<TColor, 6> Markers{};
  TQorFormManager* FormManager() const { return form_manager_; }
  int32_t FontSize = 8;

  // Page 0: the station grid (row 0 is the header; two columns).
  std::vector<std::array<AnsiString, 2>> SG_DataPaths;
  int32_t GridRow = 1;
  int32_t GridCol = 0;
  // The grid's first visible row below the header (the view scrolls it).
  int32_t GridTopRow = 1;
  bool BtnFolderVisible = false;
  int32_t BtnFolderTop = 300;

  // Page 1: the table groups.
  TCheckBoxModel CB_Zaklad, CB_ExPartner, CB_ExPacient, CB_Karty, CB_Doklady, CB_Uzaverky,
      CB_Ciselniky, CB_OrgStruktura;
  // Page 2.
  AnsiString Label11;
  AnsiString L_Count;
  TBarModel ProgressBar;
  TBarModel ProgressBar2;
  TCheckBoxModel CB_AutoChange, CB_AutoRun;
  // The action label and the copy animation of page 2.
  AnsiString L_Action;
  bool Animate1Active = false;
  // Page 3.
  AnsiString Label10;
  // The counters of the station's last engine: to process, saved, changed, errors at
  // initialisation, skipped, conversion errors, save errors.
  AnsiString L_RC, L_SDC, L_CRC, L_IEC, L_SC, L_CEC, L_DEC;
  // Page 4.
  TCheckBoxModel CB_PonechatData, CB_KopieZurnal, CB_VerifyZaloha;
  // The journal's days (two digits) and its label "dní", enabled with it.
  TEditModel ME_DnyZurnal;
  AnsiString L_DokonceniIdent;
  AnsiString L_Dokonceni;
  TBarModel ProgressBarDokonceni;
  // The finishing animation runs.
  bool Animate2Active = false;
  AnsiString LaZurnalTrigSwich;
  // Page 5: how the run ended, and the stations it left out with why (one a line).
  AnsiString L_Hotovo;
  AnsiString L_Vynechane;

  // --- Handlers of Part "start-up and main form"
  void FormShow();
  void Btn_NextClick();
  void Btn_PrevClick();
  void Btn_StornoClick();
  void Btn_OKClick();
  // Start: arms the automatic continuation, runs RunStation and moves on to the
  // results page (or reports "Při importu nastala závažná chyba.").
  void Btn_StartClick();
  // Finish: runs FinishAll and moves on to the last page; the timer stops.
  void Btn_FinallyClick();
  void TimerTimer();
  void NotebookPageChanged();
  void PMouseDown(int32_t tag);
  void PMouseUp(int32_t tag);
  // The window's close box, Storno and OK: closes unless a step runs (the form manager
  // saves the placement, and the last values after OK), then runs OnClosed (the program
  // ends there). While a step runs, the administrator is asked whether to end the
  // program anyway (AbandonRun).
  bool CloseRequested();
  TNotifyEvent OnClosed;
  void WndProc(TMessage& message) override;
  void WriteRegInteger(const AnsiString& section, const AnsiString& ident, int32_t value);
  void WriteRegString(const AnsiString& section, const AnsiString& ident, const AnsiString& value);
  // Shows page index (running NotebookPageChanged when it changes).
  void SetPageIndex(int32_t index);
  // The page the timer found valid at its last tick.
  bool PageValid() const;
  // The clock of the form (Now by default).
  std::function<TDateTime()> Clock;

  // --- Part "station list and preparation"
  const TStringList& StationFiles() const { return *station_files_; }
  const TStringList& StationSources() const { return *station_sources_; }
  const TStringList& StationIdents() const { return *station_idents_; }
  const std::vector<int32_t>& JournalMarks() const { return journal_marks_; }
  int32_t TriggerState() const { return trigger_state_; }
  const AnsiString& CurrentIdent() const { return current_ident_; }
  bool UnzipDone() const { return unzip_done_; }
  bool IdentRefused() const { return ident_refused_; }
  TAbZipKit* ZipKit() const { return zip_kit_; }

  void FillStationGrid(const AnsiString& saved);
  AnsiString StationGridText() const;
  // Sets a cell of the grid (the view's editor).
  void SetCell(int32_t col, int32_t row, const AnsiString& text);
  // Returns true when the key was handled and must not reach the grid.
  bool SG_DataPathsKeyDown(uint16_t key, bool shift);
  void SG_DataPathsSelectCell(int32_t col, int32_t row, bool& can_select);
  void SG_DataPathsEnter();
  // focus_to_button: the folder button itself took the focus.
  void SG_DataPathsExit(bool focus_to_button);
  void BtnFolderClick();
  void CB_ZakladClick();
  void CB_KartyClick();
  void CB_DokladyClick();
  // Sets a group box's tick the way a click does (the rules above follow).
  void ClickCheckBox(TCheckBoxModel& box);

  bool PrepareSources();
  // Why the medium of a station's file cannot take the station's result (written beside
  // the file, the file kept under another name): "" when it can.
  AnsiString MediumRefusal(const AnsiString& path) const;
  bool UnpackStationArchive(const AnsiString& archive, const AnsiString& target);
  bool UnzipStation(const AnsiString& archive, const AnsiString& target);
  bool CheckIdentification(const AnsiString& archive_ident, const AnsiString& typed_ident);
  bool PrepareWorkingDatabase();
  bool BackupMainDatabase();
  // While the working databases are the server's (WorkingDatabasesOnServer), the server
  // makes them and their backups in the working directory as an OS user of its own: the
  // directory lets every user create files in it (and only a file's owner and the
  // directory's remove or rename them), and a station backup this program put there
  // becomes readable to every user. Only what this program made is touched; where that
  // fails, the server's own error says what it could not do.
  void ShareWorkDirWithServer(const AnsiString& backup_file = AnsiString());
  // The path itself when nothing is there; otherwise the name with "_1", "_2", ...
  // before its extension. Names preparation keeps for the working database and the
  // main backup count as taken.
  AnsiString UniqueFileName(const AnsiString& path) const;
  void ShowJournalState();

  // --- Part "play-in and results" (MldrMain_play.cpp)
  // Restores the station's backup into the working directory (RestoredStationName).
  bool RestoreStation(int32_t index);
  // The station's journal mark and its first stock closing (Src open).
  void ReadStationMarks(int32_t index);
  // Closes the stock issues of the working main database up to the station's closing.
  void ApplyStockClosing();
  // The engine's OnStep and OnProgress.
  void EngineStep(const AnsiString& caption);
  void EngineProgress(int32_t current, int32_t count, const AnsiString& text);
  // Opens "Import.txt" of the current directory with its associated program.
  void BtnDetailClick();
  // The station was not played (its play-in failed before it wrote into the working
  // database, or it was declined): finishing leaves it out, its file stays as it is.
  bool StationLeftOut(int32_t index) const;
  // A play-in failed after it wrote into the working database: nothing can be finished
  // from it; only Storno is left.
  bool RunSpoiled() const { return run_spoiled_; }
  bool HasStockClosing() const { return has_stock_closing_; }
  TDateTime StockClosingDate() const { return stock_closing_date_; }
  int32_t StockClosingStore() const { return stock_closing_store_; }

  // --- Rounds of the practice (MldrMain_rounds.cpp)
  // Before a station's rows are played (Src and Dst open): false, having said why in a
  // message naming the station and its file, when its database comes from another
  // practice or from an earlier round than the one it was given last.
  bool CheckStationRound(int32_t index);
  // The station was refused by CheckStationRound in its last Start.
  bool StationRefused() const { return station_refused_; }
  // The identity lines the harmonised data carry after this run: the practice (made
  // now when main has none), the next round, and that round for every station played.
  AnsiString NextRoundLedger();
  // The station's play-in log in the working directory: every engine's "Import.txt" and
  // the rows its play-in listed as errors.
  AnsiString StationLogPath(int32_t index) const;
  // A file of the station in the working directory: prefix, its number and its
  // identification (what a file name cannot hold made "_"), ".txt".
  AnsiString StationWorkFile(const AnsiString& prefix, int32_t index) const;
  void KeepStationLog(int32_t index, int32_t errors_before);

  // --- Part "finishing and delivery" (MldrMain_finish.cpp)
  // Finishing works in stages so that a failure, or the end of the process, leaves the
  // practice whole: every station's own tables are copied back into the harmonised
  // database and backed up there; then each station's result is written beside its
  // file on the medium under a name of its own; then the harmonised data replace the
  // main database; only then the results take the places of the stations' files (each
  // kept as ".old"). A failure before the main database is replaced removes the results
  // written, leaves the main database and the stations' files alone and says so, with
  // what to do. A record in the working directory lists the results written until they
  // have their places; RecoverInterruptedFinishing reads what a killed finishing left.
  bool CopyJournal() const { return copy_journal_; }
  int32_t JournalDays() const { return journal_days_; }
  bool ZipFailed() const { return zip_failed_; }
  void CB_KopieZurnalClick();
  // The station tables copied back, 1 .. 13 (empty outside).
  static AnsiString StationTableName(int32_t number);
  // The file name in the working directory that a station's backup is restored to: the
  // station file's name lower-cased, its first ".gbk" made ".gdb", else its first
  // ".fbk" made ".fdb", else ".fdb" added.
  AnsiString RestoredStationName(int32_t index) const;
  bool BackupHarmonisedDatabase();
  // The backup of a database that leaves the wizard, with the main database's write mode;
  // the working database is written without forced writes again afterwards.
  bool BackupHandedOut(const AnsiString& database, const AnsiString& backup, const AnsiString& caption);
  // Raises, saying so, when the main database's disk has no room for the harmonised
  // database beside it (the restore makes it there before it replaces the main one).
  void CheckRoomForMainDatabase();
  // Restores the harmonised backup into a scratch database of the working directory
  // and removes it again: the backup that will replace the main database restores.
  // Raises when it does not.
  void VerifyHarmonisedBackup();
  bool CopyStationTables();
  bool DeleteAllRows(const AnsiString& table);
  void CopyJournalRow(TDataSet* query);
  void InsertOrdDobaRow(TDataSet* query);
  Variant RemapOrgKey(const AnsiString& column, int32_t old_key);
  // Backs up the working database, holding the station's own tables (or database, the
  // copy of it that also holds the rows the station keeps marked), as the station's
  // result in the working directory; the path it wrote.
  AnsiString BackupStationResult(int32_t index, const AnsiString& database = AnsiString());
  // Rows the station keeps marked after its play-in (they did not arrive in main) go back
  // to it with its result (MldrMain_keep.cpp). True when the station database (Src)
  // holds such rows: marked rows of a table whose marks the play-in clears.
  bool StationKeepsRows();
  // Writes those rows, marked, into the station's result database (Dst): a row the
  // result holds under the same key and natural key is the station's version of it and
  // replaces it; any other row takes a new key from the result's generator. References
  // follow the rows they name into the result (rows carried here, the parents' keys the
  // play-in gave, parents found by their codes); each new key is recorded as the
  // station's key mapping, so that the station's journal follows it too. The journal
  // triggers are off while it writes.
  void CarryKeptRows();
  // The kept rows of the station that were not carried because they name a row the
  // result does not hold (they can never arrive), with the reason and what to do: a
  // file in the working directory, which the run's end moves to the archive.
  AnsiString LeftOutRowsPath(int32_t index) const;
  void ListRowsThatCannotArrive(const TKeptRows& rows);
  // Writes the station's result beside its medium file (zipped or copied; the medium
  // file stays), recorded first. A failure raises with what happened.
  bool DeliverStation(int32_t index);
  // Once the main database holds the harmonised data: each medium file renamed to
  // ".old" and the result renamed into its place (or, when that place is taken by
  // another file, beside it, with a message). What could not be placed goes to
  // left_behind. Results placed already are skipped.
  void PlaceDeliveries(TStrings& left_behind);
  // Run when the form is shown: a record of deliveries in the working directory means
  // that finishing ended without coming to its end. The main database's content decides:
  // when it carries the mark of that finishing's harmonised data, the results take their
  // places and finishing ends as it would have (backups rotated, work files archived);
  // when it holds other data, the results written are removed (the stations' files were
  // not touched); when it cannot be read, or the record has no mark, nothing is changed
  // and the record stays. Says which, and where the results are.
  void RecoverInterruptedFinishing();
  // The work files of a run (the unpacked archives, the main backup and the working
  // database of preparation, the restored stations of the play-in, and what a restore
  // makes beside its target, the main database's "<main>.restoring" among them) are
  // recorded in the working directory before they are made; a start removes those that
  // are still there (a run ended midway left them) and says so. A run that came to its
  // end drops the record.
  void RecordLeftover(const AnsiString& file);
  // A recorded work file removed by the step that made it.
  void ForgetLeftover(const AnsiString& file);
  void RemoveLeftovers();
  AnsiString LeftoverRecordPath() const;
  AnsiString AskDestination(const AnsiString& path, const AnsiString& identification);
  bool PackStationArchive(const AnsiString& backup_file, const AnsiString& zip_path);
  bool ZipStation(const AnsiString& backup_file, const AnsiString& zip_path);
  bool RestoreMainDatabase();
  void RotateBackups();
  void MoveToArchive();
  bool RenameWithRetries(const AnsiString& source, const AnsiString& target, int32_t seconds);
  void FinishProgress(int32_t step, int32_t steps, const AnsiString& text);

 protected:
  // The station lists, the journal marks and the trigger state as preparation and the
  // play-in leave them, for the steps that build on them.
  void AddPreparedStation(const AnsiString& file, const AnsiString& source, const AnsiString& ident);
  void SetJournalMark(int32_t index, int32_t mark);
  void SetTriggerState(int32_t state) { trigger_state_ = state; }

  // Steps that later parts of the wizard provide. Until then each raises an error that
  // says it is not available; tests put doubles in their place.
  // The play-in of a station (all its work-flow cycles); false when it ended
  // unsuccessfully without an exception.
  virtual bool RunStation(int32_t index);
  // Finishing and delivery; false when it did not succeed.
  virtual bool FinishAll();
  // A play-in engine for one work-flow cycle (tests watch the engines through it).
  virtual std::unique_ptr<TMeldrun> NewEngine();
  // The schema version check of the working main database (data module service).
  virtual bool CheckWorkingDatabaseVersion();
  // Switches the working main database's journal triggers (data module service) and
  // returns the new state.
  virtual int32_t SetWorkingJournalTriggers(int32_t state);

 private:
  friend class TStepGuard;
  void UsualButtonUpdate(bool touch_finally);
  // Tells why the station's play-in failed and what the administrator can do.
  void ReportStationFailure(const AnsiString& reason);
  // Next on the play-in page of a station left out: the next station, or finishing.
  void SkipLeftOutStation();
  // Preparation's word on a station whose medium cannot take its result: 0 it can, 1
  // the station is left out, 2 preparation stops.
  int32_t CheckStationMedium(const AnsiString& path);
  // A station left out of the run, and why: one dropped by preparation (index -1, it
  // never entered the station lists) or one whose play-in did not happen (its index;
  // an empty why takes it back in). The last page names them.
  void NoteLeftOut(int32_t index, const AnsiString& ident, const AnsiString& file, const AnsiString& why);
  // The last page's text after a finishing that succeeded.
  void ShowRunOutcome();
  void ApplyGroupRules();
  void ApplyKartyRules();
  void UpdateUzaverky();
  void ZipItemProgress(uint8_t progress);
  void ZipItemFailure(TAbArchiveItem* item, TAbProcessType process, int32_t code);
  void FormManagerRestorePlacement();
  void FormManagerSavePlacement();
  void FormCloseQuery(bool& can_close);
  // Takes the practice's run lock; when another run holds it, says who, refuses every
  // step and closes the form. False then.
  bool TakeRunLock();
  void EndStep();
  int32_t ClientLeft() const { return Left(); }
  int32_t ClientTop() const { return Top(); }
  // A station's result written beside its medium file, kept (and recorded in the
  // working directory) until it has its place, so that a failure can take it back and
  // a later start can finish or take back what a killed finishing left.
  struct TDelivery {
    AnsiString Ident;
    AnsiString Medium;   // the station's file
    AnsiString Old;      // where the station's file goes ("" when there was none)
    AnsiString Written;  // the result written beside it
    AnsiString Target;   // where the result goes
  };
  // Removes the results written and the record; the stations' files were not touched.
  void UndoDeliveries();
  void DropFinishConnections();
  AnsiString DeliveryRecordPath() const;
  // A mark of its own for this finishing's harmonised data.
  AnsiString NewHarmonisedMark() const;
  void SaveDeliveryRecord();
  void DropDeliveryRecord();

  TMldrSettings settings_;
  TRunLock run_lock_;
  bool run_refused_ = false;
  TMldrMainView* view_ = nullptr;
  TDMMeldrun* data_module_ = nullptr;
  TTimer* timer_ = nullptr;
  TQorFormManager* form_manager_ = nullptr;
  TAbZipKit* zip_kit_ = nullptr;
  int32_t page_index_ = 0;
  int32_t station_index_ = 0;
  bool busy_ = false;
  bool auto_continue_ = false;
  int32_t pressed_marker_ = -1;
  TDateTime start_time_ = 0;
  int32_t step_weight_total_ = 0;
  int32_t step_running_ = 0;
  WPARAM deferred_step_ = 0;
  bool page_valid_ = false;
  std::unique_ptr<TStringList> station_files_, station_sources_, station_idents_;
  std::vector<int32_t> journal_marks_;
  int32_t trigger_state_ = 1;
  AnsiString current_ident_;
  bool unzip_done_ = false;
  bool ident_refused_ = false;
  bool zip_failed_ = false;
  AnsiString zip_entry_;
  bool first_item_progress_ = false;
  bool copy_journal_ = true;
  int32_t journal_days_ = 30;
  AnsiString failed_table_;
  AnsiString failed_reason_;
  AnsiString last_written_;
  std::map<AnsiString, bool> remap_columns_;
  std::vector<AnsiString> station_results_;
  // The copy of the working database that holds the current station's result with the
  // rows it keeps marked ("" while there is none).
  AnsiString keep_database_;
  // The write mode of the practice's main database (its working copy as restored, before
  // the play-in turned forced writes off): what every backup that leaves the wizard
  // carries. On when preparation did not read it.
  bool handed_out_forced_writes_ = true;
  std::vector<TDelivery> deliveries_;
  AnsiString harmonised_mark_;
  // The last start could not tell what an interrupted finishing left: nothing of it is
  // touched.
  bool recovery_unclear_ = false;
  bool rotation_failed_ = false;
  std::vector<bool> left_out_;
  // Why each station of the lists was left out ("" played), and the stations preparation
  // dropped, as the last page names them.
  std::vector<AnsiString> left_out_why_;
  std::vector<AnsiString> dropped_stations_;
  // The play-in of the current station began writing into the working database.
  bool play_wrote_ = false;
  // The stage of RunStation that was under way (0 restore, 1 the rest before the
  // engine), for the message of a failure.
  int32_t play_stage_ = 0;
  bool run_spoiled_ = false;
  bool station_refused_ = false;
  // The zip's own text of the last item failure.
  AnsiString zip_failure_text_;
  // What preparation was doing with the main database, for the message of a failure.
  AnsiString prepare_stage_;
  bool has_stock_closing_ = false;
  TDateTime stock_closing_date_ = 0;
  int32_t stock_closing_store_ = 0;
};

// Marks a step as running for its lifetime (nested steps count).
class TStepGuard {
 public:
  explicit TStepGuard(TFrmMldrMain& form);
  ~TStepGuard();
  TStepGuard(const TStepGuard&) = delete;
  TStepGuard& operator=(const TStepGuard&) = delete;

 private:
  TFrmMldrMain& form_;
};

// Shows the form: told of every change.
class TMldrMainView {
 public:
  virtual ~TMldrMainView() = default;
  virtual void Update(const TFrmMldrMain& form) = 0;
};

// Opens a document with its associated program (the shell's "open" verb); false when
// that could not be started. The handler replaces how (empty: xdg-open); returns the
// previous one.
using TShellOpenHandler = std::function<bool(const AnsiString& file)>;
TShellOpenHandler SetShellOpenHandler(TShellOpenHandler handler);
bool ShellOpenDocument(const AnsiString& file);

// The program's main form (nullptr while none exists).
TFrmMldrMain* FrmMldrMain();

// Ends the program at once, as a kill would, with a restore child running for it; the
// next start deals with what the step under way left. The first form made installs
// the same end for SIGTERM and SIGINT.
[[noreturn]] void AbandonRun();

}  // namespace pelvar
