// The data module: the one object of the program that holds the database components the
// play-in and the wizard use, and the services built on them. It exists once for the
// whole run (the program makes it right after the main form) and everybody reaches it
// through DMMeldrun(). It reaches back into the main form only through TMainFormLink.
//
// Built so far: creation (settings of "Meldrun.ini", the progress windows, the backup
// and restore settings), opening the station (Src) and working main database (Dst), the
// per-station key-mapping lists, and the backup and restore services with their
// progress windows.
//
// NOT BUILT YET (they need the dataset adapters' queries and tables): the transactions
// and queries of the module (REZTransactionDst/Src/TmpSrc, IBQueryDst/Src/TmpSrc, the
// search queries and tables, IBTableOrigSave), the memory tables, and the services
// ExecDst, ExecSrc, SelectSrc, SelectDst, SelectTmpSrc, SelectTmpSrcLast, CommitBoth,
// CheckDatabaseVersion, SyncGenerator, SetJournalTriggers, AddIdMapping, RemapJournal,
// TrimStationJournal, the paging and chunk state, LowestVersion, ErrorList with
// "Errors.txt", DocumentStatuses, SplitToList, CutToken and LastCharPos.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dbadapters/REZDatabase.h"
#include "dbclient/IBServices.h"
#include "platform/classes.h"
#include "platform/types.h"
#include "sync/BkpResUtils.h"
#include "sync/MainFormLink.h"
#include "sync/Pracuji.h"

namespace pelvar {

class TDMMeldrun : public TComponent {
 public:
  // The module's creation: the two progress windows, the backup and restore settings,
  // and the three settings read through the main form: "SERVER"/"ServerName"
  // ("localhost"), "SERVER"/"ServerProtocol" ("local"), "WORKSTATION"/"MyProtocol"
  // ("local"). The first module made becomes DMMeldrun().
  TDMMeldrun(TComponent* owner, TMainFormLink& main_form);
  // Disconnects Src and Dst; the windows, settings and lists go with the module.
  ~TDMMeldrun() override;

  TMainFormLink& MainForm() const { return main_form_; }

  // --- Components
  TREZDatabase* Src() const { return src_; }
  TREZDatabase* Dst() const { return dst_; }
  // The main server's services ("M") and the local ones.
  TIBBackupService* IBBackupService() const { return ib_backup_service_; }
  TIBRestoreService* IBRestoreService() const { return ib_restore_service_; }
  TIBBackupService* IBBackupService1() const { return ib_backup_service1_; }
  TIBRestoreService* IBRestoreService1() const { return ib_restore_service1_; }

  // --- Fields
  TfrmPracuji* ProgressWindow() const { return progress_window_; }
  TfrmPracujiMemo* MemoProgressWindow() const { return memo_progress_window_; }
  // Expected line totals of display mode 3; nothing sets them, so they stay 0.
  int32_t BackupTotal = 0;
  int32_t RestoreTotal = 0;
  TBackUpDatabaseSetings& BackupSettings() { return *backup_settings_; }
  TRestoreDatabaseSettings& RestoreSettings() { return *restore_settings_; }
  const AnsiString& MainServerName() const { return main_server_name_; }
  TProtocol MainServerProtocol() const { return main_server_protocol_; }
  TIB_Protocol ConnectProtocol() const { return connect_protocol_; }
  // One key-mapping list per station ("TABLE|old|new" lines), indexed like the
  // wizard's station lists.
  const std::vector<std::unique_ptr<TStringList>>& StationMappings() const { return station_mappings_; }

  // The services protocol a text names: the first of "Local", "NamedPipe", "TCP",
  // "SPX" that the text contains (ignoring case); none gives Local.
  static TProtocol ServiceProtocolFromText(const AnsiString& text);
  // The connection protocol, the same words in the same order: cpLocal, cpNetBEUI,
  // cpTCP_IP, cpNovell; none gives cpLocal.
  static TIB_Protocol ConnectProtocolFromText(const AnsiString& text);

  // Open the station database (Src) or the working main database (Dst): the connection
  // parameters cleared, the path, user, password and "WIN1250"; ConnectProtocol with
  // the server "localhost" unless it is local; dialect 3, no login prompt. A failure
  // raises EDatabaseError "Otevření zdrojové databáze skončilo chybou:" (Src) or
  // "Otevření cílové databáze skončilo chybou:" (Dst) and the failure's own message.
  void OpenSrc(const AnsiString& database_path, const AnsiString& user_name,
               const AnsiString& password);
  void OpenDst(const AnsiString& database_path, const AnsiString& user_name,
               const AnsiString& password);

  // Makes count empty key-mapping lists (preparation, once it has succeeded).
  void InitStationLists(int32_t count);

  // --- Backup and restore
  // Backs up (restores) through the service of the server letter, showing the progress
  // in display mode 0 to 3 (see BkpResUtils.h; modes 0, 1, 3 in ProgressWindow, 2 in
  // MemoProgressWindow) placed at (left, top) with the caption. The window is hidden
  // afterwards, also on failure. A failure of the service is raised; a mode outside
  // 0 to 3 does nothing and returns false.
  //
  // A restore never leaves a half database behind: when the target is a file this
  // machine reaches, a failed restore removes what the server made and puts the file
  // that was there before back in place.
  bool BackupDatabase(const AnsiString& database_file, const AnsiString& backup_file, int32_t mode,
                      const AnsiString& caption, char server_letter, int32_t left, int32_t top);
  bool RestoreDatabase(const AnsiString& database_file, const AnsiString& backup_file, int32_t mode,
                       const AnsiString& caption, char server_letter, int32_t left, int32_t top);

  // Fill the settings object (server and protocol by the letter) and configure the
  // service of the letter through RunBackup / RunRestore.
  bool RunBackupService(const AnsiString& database_file, const AnsiString& backup_file,
                        bool login_prompt, bool active, bool verbose, TBackupOptions options,
                        char server_letter);
  bool RunRestoreService(const AnsiString& database_file, const AnsiString& backup_file,
                         bool login_prompt, bool active, bool verbose, TRestoreOptions options,
                         int32_t page_size, int32_t page_buffers, char server_letter);
  // "M" (upper case only) selects the main server's service, any other letter the
  // local one.
  TIBBackupService* BackupServiceFor(char server_letter) const;
  TIBRestoreService* RestoreServiceFor(char server_letter) const;

  // --- The progress window for the wizard's own long steps
  // ProgressWindow at (left, top) with the caption and, in its status bar (enabled and
  // shown), the status text; shown and repainted. A failure here is ignored.
  void ShowProgress(const AnsiString& caption, const AnsiString& status_text, int32_t top,
                    int32_t left);
  // Hides the window; its status bar disabled and hidden.
  void HideProgress();
  // Makes room for the progress bar and shows it: bar maximum, step maximum / 100
  // (rounded), position 0; pumps messages.
  void ShowProgressBar(int32_t maximum);
  void HideProgressBar();
  // Moves the bar and pumps messages.
  void SetProgressPosition(int32_t position);
  void SetProgressText(const AnsiString& text);

 private:
  void Open(TREZDatabase* database, const AnsiString& database_path, const AnsiString& user_name,
            const AnsiString& password, const char* failure_prefix);
  template <typename Loop>
  bool RunWindowed(int32_t mode, const AnsiString& caption, int32_t left, int32_t top, Loop loop);

  TMainFormLink& main_form_;
  TREZDatabase* src_;
  TREZDatabase* dst_;
  TIBBackupService* ib_backup_service_;
  TIBRestoreService* ib_restore_service_;
  TIBBackupService* ib_backup_service1_;
  TIBRestoreService* ib_restore_service1_;
  TfrmPracuji* progress_window_;
  TfrmPracujiMemo* memo_progress_window_;
  std::unique_ptr<TBackUpDatabaseSetings> backup_settings_;
  std::unique_ptr<TRestoreDatabaseSettings> restore_settings_;
  AnsiString main_server_name_;
  TProtocol main_server_protocol_ = TProtocol::Local;
  TIB_Protocol connect_protocol_ = cpLocal;
  std::vector<std::unique_ptr<TStringList>> station_mappings_;
};

// The program's data module (nullptr while none exists).
TDMMeldrun* DMMeldrun();

}  // namespace pelvar
