#include "sync/DmMeld.h"

#include <cmath>
#include <filesystem>
#include <system_error>

#include "dbengine/IB_Components_dataset.h"
#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

TDMMeldrun*& Instance() {
  static TDMMeldrun* instance = nullptr;
  return instance;
}

bool Contains(const AnsiString& text, const char* word) {
  return AnsiPos(AnsiUpperCase(word), AnsiUpperCase(text)) > 0;
}

namespace fs = std::filesystem;

// Runs a query of one integer value on a database of its own attachment.
int32_t QueryInteger(const AnsiString& connect_string, const AnsiString& sql) {
  TComponent owner(nullptr);
  auto* connection = new TIB_Connection(&owner);
  connection->SetDatabaseName(connect_string);
  connection->SetUsername(AdministratorUser);
  connection->SetPassword(AdministratorPassword);
  connection->SetSQLDialect(3);
  connection->SetLoginPrompt(false);
  connection->Open();
  auto* transaction = new TIB_Transaction(&owner);
  transaction->SetIB_Connection(connection);
  auto* cursor = new TIB_Cursor(&owner);
  cursor->SetIB_Connection(connection);
  cursor->SetIB_Transaction(transaction);
  cursor->SQL()->SetText(sql);
  cursor->Open();
  cursor->First();
  const int32_t value = cursor->Fields()->GetColumn(0)->GetAsInteger();
  cursor->Close();
  transaction->Commit();
  connection->Close();
  return value;
}

// A restore whose backup ends early can end without an error from the server, leaving
// a database that was never brought online (the server keeps it shut down while it
// restores). A finished restore is online.
void CheckRestoredDatabaseOnline(const AnsiString& connect_string, const AnsiString& shown_name) {
  if (QueryInteger(connect_string, "select MON$SHUTDOWN_MODE from MON$DATABASE") != 0) {
    throw EDatabaseError(Format(
        CZ("Obnova databáze %s nebyla dokončena: záloha je neúplná nebo poškozená."), {shown_name}));
  }
}

// A database that somebody (this program included) is attached to must not be
// replaced; a file that cannot be opened as a database is not replaced either.
void CheckNotInUse(const AnsiString& connect_string, const AnsiString& database_file) {
  const int32_t others = QueryInteger(
      connect_string,
      "select count(*) from MON$ATTACHMENTS where MON$ATTACHMENT_ID <> current_connection "
      "and MON$SYSTEM_FLAG = 0");
  if (others > 0) {
    throw EDatabaseError(
        Format(CZ("Databázi %s nelze nahradit: je právě používána."), {database_file}));
  }
}

// The file a local restore is made in before it replaces its target.
AnsiString WorkFileFor(const AnsiString& target) {
  for (int i = 0;; ++i) {
    const AnsiString work = target + ".restoring" + (i ? IntToStr(i) : AnsiString());
    std::error_code ec;
    if (!fs::exists(SysFileName(work), ec)) return work;
  }
}

}  // namespace

TDMMeldrun* DMMeldrun() { return Instance(); }

TDMMeldrun::TDMMeldrun(TComponent* owner, TMainFormLink& main_form)
    : TComponent(owner), main_form_(main_form) {
  SetName("DMMeldrun");
  src_ = new TREZDatabase(this);
  src_->SetName("Src");
  src_->SetSQLDialect(3);
  src_->SetIsolation(tiCommitted);
  dst_ = new TREZDatabase(this);
  dst_->SetName("Dst");
  dst_->SetSQLDialect(3);
  dst_->SetIsolation(tiCommitted);
  ib_backup_service_ = new TIBBackupService(this);
  ib_backup_service_->SetName("IBBackupService");
  ib_backup_service_->SetLoginPrompt(false);
  ib_restore_service_ = new TIBRestoreService(this);
  ib_restore_service_->SetName("IBRestoreService");
  ib_restore_service_->SetLoginPrompt(false);
  ib_backup_service1_ = new TIBBackupService(this);
  ib_backup_service1_->SetName("IBBackupService1");
  ib_backup_service1_->SetLoginPrompt(false);
  ib_restore_service1_ = new TIBRestoreService(this);
  ib_restore_service1_->SetName("IBRestoreService1");
  ib_restore_service1_->SetLoginPrompt(false);

  // DataModuleCreate
  progress_window_ = new TfrmPracuji(this);
  memo_progress_window_ = new TfrmPracujiMemo(this);
  backup_settings_ = std::make_unique<TBackUpDatabaseSetings>();
  restore_settings_ = std::make_unique<TRestoreDatabaseSettings>();
  main_server_name_ = main_form_.ReadIniString("SERVER", "ServerName", "localhost");
  main_server_protocol_ =
      ServiceProtocolFromText(main_form_.ReadIniString("SERVER", "ServerProtocol", "local"));
  connect_protocol_ =
      ConnectProtocolFromText(main_form_.ReadIniString("WORKSTATION", "MyProtocol", "local"));

  if (Instance() == nullptr) Instance() = this;
}

TDMMeldrun::~TDMMeldrun() {
  if (Instance() == this) Instance() = nullptr;
  for (TREZDatabase* db : {src_, dst_}) {
    try {
      if (db->Connected()) db->SetConnected(false);
    } catch (...) {
      // The program is ending; a failing detach has nobody left to tell.
    }
  }
}

TProtocol TDMMeldrun::ServiceProtocolFromText(const AnsiString& text) {
  if (Contains(text, "Local")) return TProtocol::Local;
  if (Contains(text, "NamedPipe")) return TProtocol::NamedPipe;
  if (Contains(text, "TCP")) return TProtocol::TCP;
  if (Contains(text, "SPX")) return TProtocol::SPX;
  return TProtocol::Local;
}

TIB_Protocol TDMMeldrun::ConnectProtocolFromText(const AnsiString& text) {
  if (Contains(text, "Local")) return cpLocal;
  if (Contains(text, "NamedPipe")) return cpNetBEUI;
  if (Contains(text, "TCP")) return cpTCP_IP;
  if (Contains(text, "SPX")) return cpNovell;
  return cpLocal;
}

void TDMMeldrun::Open(TREZDatabase* database, const AnsiString& database_path,
                      const AnsiString& user_name, const AnsiString& password,
                      const char* failure_prefix) {
  try {
    database->Params()->Clear();
    database->SetPath(database_path);
    database->SetUsername(user_name);
    database->SetPassword(password);
    database->SetCharSet("WIN1250");
    if (connect_protocol_ != cpLocal) {
      database->SetProtocol(connect_protocol_);
      database->SetServer("localhost");
    } else {
      database->SetProtocol(cpLocal);
      database->SetServer("");
    }
    database->SetSQLDialect(3);
    database->SetLoginPrompt(false);
    database->SetConnected(true);
  } catch (const std::exception& e) {
    const auto* ex = dynamic_cast<const Exception*>(&e);
    throw EDatabaseError(CZ(failure_prefix) + AnsiString(ex ? ex->Message() : AnsiString(e.what())));
  }
}

void TDMMeldrun::OpenSrc(const AnsiString& database_path, const AnsiString& user_name,
                         const AnsiString& password) {
  Open(src_, database_path, user_name, password, "Otevření zdrojové databáze skončilo chybou:");
}

void TDMMeldrun::OpenDst(const AnsiString& database_path, const AnsiString& user_name,
                         const AnsiString& password) {
  Open(dst_, database_path, user_name, password, "Otevření cílové databáze skončilo chybou:");
}

void TDMMeldrun::InitStationLists(int32_t count) {
  station_mappings_.clear();
  for (int32_t i = 0; i < count; ++i) station_mappings_.push_back(std::make_unique<TStringList>());
}

// --- Backup and restore --------------------------------------------------------------

TIBBackupService* TDMMeldrun::BackupServiceFor(char server_letter) const {
  return server_letter == 'M' ? ib_backup_service_ : ib_backup_service1_;
}

TIBRestoreService* TDMMeldrun::RestoreServiceFor(char server_letter) const {
  return server_letter == 'M' ? ib_restore_service_ : ib_restore_service1_;
}

bool TDMMeldrun::RunBackupService(const AnsiString& database_file, const AnsiString& backup_file,
                                  bool login_prompt, bool active, bool verbose,
                                  TBackupOptions options, char server_letter) {
  TBackUpDatabaseSetings& s = *backup_settings_;
  if (server_letter == 'M') {
    s.ServerName = main_server_name_;
    s.Protocol = main_server_protocol_;
  } else {
    s.ServerName = "localhost";
    s.Protocol = TProtocol::Local;
  }
  s.LoginPrompt = login_prompt;
  s.Active = active;
  s.Verbose = verbose;
  s.Options = options;
  s.DatabaseName = database_file;
  s.BackupFile = backup_file;
  return RunBackup(*BackupServiceFor(server_letter), s);
}

bool TDMMeldrun::RunRestoreService(const AnsiString& database_file, const AnsiString& backup_file,
                                   bool login_prompt, bool active, bool verbose,
                                   TRestoreOptions options, int32_t page_size,
                                   int32_t page_buffers, char server_letter) {
  TRestoreDatabaseSettings& s = *restore_settings_;
  if (server_letter == 'M') {
    s.ServerName = main_server_name_;
    s.Protocol = main_server_protocol_;
  } else {
    s.ServerName = "localhost";
    s.Protocol = TProtocol::Local;
  }
  s.LoginPrompt = login_prompt;
  s.Active = active;
  s.Verbose = verbose;
  s.Options = options;
  s.PageSize = page_size;
  s.PageBuffers = page_buffers;
  s.DatabaseName = database_file;
  s.BackupFile = backup_file;
  return RunRestore(*RestoreServiceFor(server_letter), s);
}

template <typename Loop>
bool TDMMeldrun::RunWindowed(int32_t mode, const AnsiString& caption, int32_t left, int32_t top,
                             Loop loop) {
  TPracujiForm* window = mode == 2 ? static_cast<TPracujiForm*>(memo_progress_window_)
                                   : static_cast<TPracujiForm*>(progress_window_);
  try {
    window->SetLeft(left);
    window->SetTop(top);
    window->LabelInfo().SetCaption(caption);
    window->Show();
    if (mode == 0) window->Repaint();
    const bool ok = loop();
    window->Hide();
    return ok;
  } catch (...) {
    window->Hide();
    throw;
  }
}

bool TDMMeldrun::BackupDatabase(const AnsiString& database_file, const AnsiString& backup_file,
                                int32_t mode, const AnsiString& caption, char server_letter,
                                int32_t left, int32_t top) {
  if (mode < 0 || mode > 3) return false;
  if (!RunBackupService(database_file, backup_file, false, true, mode != 0,
                        TBackupOptions{TBackupOption::IgnoreLimbo}, server_letter))
    return false;
  TIBBackupService& service = *BackupServiceFor(server_letter);
  return RunWindowed(mode, caption, left, top, [&] {
    switch (mode) {
      case 0: return BackupMode0(service);
      case 1: return BackupMode1(service, progress_window_->StatusBarPracuji());
      case 2: return BackupMode2(service, memo_progress_window_->MemoPracuji());
      default: return BackupMode3(service, progress_window_->ProgressBarPracuji(), BackupTotal);
    }
  });
}

bool TDMMeldrun::RestoreDatabase(const AnsiString& database_file, const AnsiString& backup_file,
                                 int32_t mode, const AnsiString& caption, char server_letter,
                                 int32_t left, int32_t top) {
  if (mode < 0 || mode > 3) return false;
  // A target on this machine is restored beside itself first and replaces the target
  // only once the restore is complete; the main server may be another machine, whose
  // paths are its own: there the server restores in place.
  const fs::path target = SysFileName(database_file);
  std::error_code ec;
  const bool remote = server_letter == 'M' && main_server_protocol_ != TProtocol::Local &&
                      !SameText(Trim(main_server_name_), "localhost") &&
                      !Trim(main_server_name_).empty();
  const bool local = !remote && fs::is_directory(target.parent_path(), ec);
  const AnsiString work_name = local ? WorkFileFor(database_file) : database_file;
  const fs::path work = SysFileName(work_name);
  // Through the server that restores when it is reached over the network: a file the
  // server holds cannot be opened in this process at the same time.
  const AnsiString server_prefix =
      server_letter == 'M' && main_server_protocol_ != TProtocol::Local
          ? (Trim(main_server_name_).empty() ? AnsiString("localhost") : Trim(main_server_name_)) + ":"
          : AnsiString();
  const AnsiString connect = server_prefix + work_name;
  try {
    if (!RunRestoreService(work_name, backup_file, false, true, mode != 0,
                           TRestoreOptions{TRestoreOption::Replace}, 0, 0, server_letter))
      return false;
    TIBRestoreService& service = *RestoreServiceFor(server_letter);
    const bool ok = RunWindowed(mode, caption, left, top, [&] {
      switch (mode) {
        case 0: return RestoreMode0(service);
        case 1: return RestoreMode1(service, progress_window_->StatusBarPracuji());
        case 2: return RestoreMode2(service, memo_progress_window_->MemoPracuji());
        default: return RestoreMode3(service, progress_window_->ProgressBarPracuji(), RestoreTotal);
      }
    });
    CheckRestoredDatabaseOnline(connect, database_file);
    if (local) {
      if (fs::exists(target, ec)) CheckNotInUse(server_prefix + database_file, database_file);
      fs::rename(work, target, ec);
      if (ec) {
        throw EInOutError(Format(CZ("Obnovenou databázi nelze přejmenovat na %s: %s"),
                                 {database_file, AnsiString(ec.message())}));
      }
    }
    return ok;
  } catch (...) {
    if (local) fs::remove(work, ec);
    throw;
  }
}

// --- The progress window ----------------------------------------------------------------

void TDMMeldrun::ShowProgress(const AnsiString& caption, const AnsiString& status_text,
                              int32_t top, int32_t left) {
  try {
    TfrmPracuji& w = *progress_window_;
    w.SetLeft(left);
    w.SetTop(top);
    w.LabelInfo().SetCaption(caption);
    w.StatusBarPracuji().SetEnabled(true);
    w.StatusBarPracuji().SetVisible(true);
    w.StatusBarPracuji().SetSimpleText(status_text);
    w.Show();
    w.Repaint();
  } catch (...) {
    // Only a display: the step goes on without it.
  }
}

void TDMMeldrun::HideProgress() {
  TfrmPracuji& w = *progress_window_;
  w.StatusBarPracuji().SetEnabled(false);
  w.StatusBarPracuji().SetVisible(false);
  w.Hide();
}

void TDMMeldrun::ShowProgressBar(int32_t maximum) {
  TfrmPracuji& w = *progress_window_;
  w.LabelInfo().SetTop(115);
  w.PanelStatus().SetHeight(30);
  TPracujiProgressBar& bar = w.ProgressBarPracuji();
  bar.SetHeight(10);
  bar.SetVisible(true);
  bar.SetMax(maximum);
  bar.SetStep(static_cast<int32_t>(std::lround(maximum / 100.0)));
  bar.SetPosition(0);
  w.Refresh();
  Application()->ProcessMessages();
}

void TDMMeldrun::HideProgressBar() {
  TfrmPracuji& w = *progress_window_;
  TPracujiProgressBar& bar = w.ProgressBarPracuji();
  bar.SetVisible(false);
  bar.SetHeight(0);
  w.PanelStatus().SetHeight(19);
  bar.SetPosition(0);
  w.LabelInfo().SetTop(125);
  w.Refresh();
}

void TDMMeldrun::SetProgressPosition(int32_t position) {
  TPracujiProgressBar& bar = progress_window_->ProgressBarPracuji();
  bar.SetPosition(position);
  bar.Refresh();
  Application()->ProcessMessages();
}

void TDMMeldrun::SetProgressText(const AnsiString& text) {
  progress_window_->StatusBarPracuji().SetSimpleText(text);
  progress_window_->Repaint();
}

}  // namespace pelvar
