// Backup and restore through the database server's services manager: the settings
// objects that configure a backup or restore service, and the run loops that start the
// service and read its output until the server has finished, showing the progress in
// one of four ways (caption only, a count in a status bar, every line in a memo, a
// progress bar). The loops pump the application's messages so the program stays alive.
//
// A failure of the service (attach, start, reading its output) is raised after the
// service has been detached.
#pragma once

#include <cstdint>
#include <string>

#include "dbclient/IBServices.h"
#include "platform/types.h"
#include "sync/Pracuji.h"

namespace pelvar {

// The administrator account every database open and every services call uses.
inline constexpr const char* AdministratorUser = "SYSDBA";
inline constexpr const char* AdministratorPassword = "masterkey";

struct TBackUpDatabaseSetings {
  // Blank gives "localhost".
  AnsiString ServerName = "localhost";
  TProtocol Protocol = TProtocol::Local;
  bool LoginPrompt = false;
  // The first parameter line; empty gives "user_name=sysdba".
  AnsiString UserLine;
  // The second parameter line; empty gives "password=" and the administrator password.
  AnsiString PasswordLine;
  // Attach to the services manager at once.
  bool Active = false;
  bool Verbose = false;
  TBackupOptions Options;
  AnsiString DatabaseName;
  AnsiString BackupFile;
};

struct TRestoreDatabaseSettings {
  AnsiString ServerName = "localhost";
  TProtocol Protocol = TProtocol::Local;
  bool LoginPrompt = false;
  // The database to create or replace.
  AnsiString DatabaseName;
  AnsiString BackupFile;
  // Blank (after trimming) gives "user_name=sysdba".
  AnsiString UserLine;
  AnsiString PasswordLine;
  TRestoreOptions Options;
  // 0 gives 4096.
  int32_t PageSize = 0;
  int32_t PageBuffers = 0;
  bool Active = false;
  bool Verbose = false;
};

// Configure the service from the settings and set its Active (which attaches when
// set). On a failure the service is detached and the failure raised; otherwise true.
bool RunBackup(TIBBackupService& service, const TBackUpDatabaseSetings& settings);
bool RunRestore(TIBRestoreService& service, const TRestoreDatabaseSettings& settings);

// The run loops: start the configured, attached service, read its output to the end
// and detach it (also on failure, which is raised). True when the output ended.
//   Mode 0: the output in blocks, messages pumped after every block.
//   Mode 1: by lines; every 10th line the status bar reads "Zazálohováno: %d objektů"
//           (backup) or "Rozbaleno: %d objektů" (restore) and messages are pumped. The
//           backup loop shows the status bar for its run and hides it afterwards.
//   Mode 2: by lines, each appended to the memo (cleared first); every 10th line the
//           memo is refreshed and messages are pumped.
//   Mode 3: by lines; the bar steps (and messages are pumped) every total / 800000
//           lines (restore: total / 650000), so on every line while total is below
//           that. The bar's position is 0 before and after; the backup loop shows the
//           bar for its run only.
bool BackupMode0(TIBBackupService& service);
bool BackupMode1(TIBBackupService& service, TPracujiStatusBar& status_bar);
bool BackupMode2(TIBBackupService& service, TPracujiMemo& memo);
bool BackupMode3(TIBBackupService& service, TPracujiProgressBar& bar, int32_t total);
bool RestoreMode0(TIBRestoreService& service);
bool RestoreMode1(TIBRestoreService& service, TPracujiStatusBar& status_bar);
bool RestoreMode2(TIBRestoreService& service, TPracujiMemo& memo);
bool RestoreMode3(TIBRestoreService& service, TPracujiProgressBar& bar, int32_t total);

// A restore through the in-process engine run in a child process (the program
// "meldrun-restore"): the engine ends the process it runs in at some failures (a disk
// that fills up while the database is written), which must not take the wizard with it.
// It reads like the restore service: ServiceStart starts the child, GetNextLine gives
// the lines of its verbose output (pumping the application's messages while it waits),
// Eof is set when the child has ended. A child that failed or was ended raises
// EIBInterBaseError with its own text once its output ended; SetActive(false) (and the
// destructor) end a child still running. The child ends with this process too.
class TRestoreProcess {
 public:
  TRestoreProcess(const AnsiString& database_file, const AnsiString& backup_file, int32_t page_size);
  ~TRestoreProcess();
  TRestoreProcess(const TRestoreProcess&) = delete;
  TRestoreProcess& operator=(const TRestoreProcess&) = delete;

  void ServiceStart();
  bool Eof() const { return eof_; }
  AnsiString GetNextLine();
  AnsiString GetNextChunk();
  bool Active() const { return pid_ > 0; }
  void SetActive(bool value);

  // The helper program: $PELVAR_RESTORE_HELPER, else "meldrun-restore" beside the
  // running program, else the one this build made.
  static AnsiString HelperPath();

 private:
  // Reads what the child has written (waiting up to wait_ms); false at the end of its
  // output.
  bool Fill(int wait_ms);
  void Finish();
  void Kill();

  AnsiString database_;
  AnsiString backup_;
  int32_t page_size_;
  int pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  bool eof_ = false;
  std::string pending_;
  std::string errors_;
};

// The process id of a restore child running now (0: none), for a handler that ends the
// program at once and must end the child with it.
int RunningRestoreChild();

// Ends a restore child and reaps it: asked first (SIGTERM: it shuts its engine down,
// which releases the engine's machine-wide locks), killed only when it has not ended
// within a while. Safe in a signal handler.
void EndRestoreChild(int pid);

bool RestoreMode0(TRestoreProcess& service);
bool RestoreMode1(TRestoreProcess& service, TPracujiStatusBar& status_bar);
bool RestoreMode2(TRestoreProcess& service, TPracujiMemo& memo);
bool RestoreMode3(TRestoreProcess& service, TPracujiProgressBar& bar, int32_t total);

}  // namespace pelvar
