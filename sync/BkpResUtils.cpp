#include "sync/BkpResUtils.h"

#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

AnsiString UserLineOr(const AnsiString& line) {
  return Trim(line).empty() ? AnsiString("user_name=sysdba") : line;
}

AnsiString PasswordLineOr(const AnsiString& line) {
  return line.empty() ? AnsiString("password=") + AdministratorPassword : line;
}

// Server and protocol in the order the service expects: a name given while the
// protocol is Local switches it to TCP, so the protocol comes second.
void SetServer(TIBCustomService& service, const AnsiString& server_name, TProtocol protocol) {
  const AnsiString name = Trim(server_name).empty() ? AnsiString("localhost") : server_name;
  service.SetServerName(name);
  service.SetProtocol(protocol);
}

// Detaches the service; a failure of that detach is dropped while another failure is
// on its way.
void DeactivateQuietly(TIBCustomService& service) {
  try {
    if (service.Active()) service.SetActive(false);
  } catch (...) {
  }
}

void Deactivate(TIBCustomService& service) {
  if (service.Active()) service.SetActive(false);
}

// Runs body; the service is detached afterwards in every case.
template <typename Body>
bool RunLoop(TIBCustomService& service, Body body) {
  try {
    body();
  } catch (...) {
    DeactivateQuietly(service);
    throw;
  }
  Deactivate(service);
  return true;
}

bool ModeChunks(TIBControlAndQueryService& service) {
  return RunLoop(service, [&] {
    service.ServiceStart();
    while (!service.Eof()) {
      service.GetNextChunk();
      Application()->ProcessMessages();
    }
  });
}

bool ModeCount(TIBControlAndQueryService& service, TPracujiStatusBar& status_bar,
               const char* pattern) {
  const AnsiString fmt = CZ(pattern);
  return RunLoop(service, [&] {
    service.ServiceStart();
    int32_t n = 0;
    while (!service.Eof()) {
      service.GetNextLine();
      ++n;
      if (n % 10 == 0) {
        status_bar.SetSimpleText(Format(fmt, {n}));
        status_bar.Refresh();
        Application()->ProcessMessages();
      }
    }
  });
}

bool ModeMemo(TIBControlAndQueryService& service, TPracujiMemo& memo) {
  memo.Clear();
  return RunLoop(service, [&] {
    service.ServiceStart();
    int32_t n = 0;
    while (!service.Eof()) {
      memo.Append(service.GetNextLine());
      if (++n % 10 == 0) {
        memo.Refresh();
        Application()->ProcessMessages();
      }
    }
    memo.Refresh();
  });
}

bool ModeBar(TIBControlAndQueryService& service, TPracujiProgressBar& bar, int32_t total,
             int32_t divisor) {
  bar.SetPosition(0);
  const int32_t every = total / divisor;
  bool ok = false;
  try {
    ok = RunLoop(service, [&] {
      service.ServiceStart();
      int32_t n = 0;
      while (!service.Eof()) {
        service.GetNextLine();
        ++n;
        if (n >= every) {
          bar.StepIt();
          bar.Repaint();
          Application()->ProcessMessages();
          n = 0;
        }
      }
    });
  } catch (...) {
    bar.SetPosition(0);
    throw;
  }
  bar.SetPosition(0);
  return ok;
}

// Shows a control for the duration of a loop.
template <typename Control, typename Loop>
bool WithVisible(Control& control, Loop loop) {
  control.SetVisible(true);
  control.Refresh();
  try {
    const bool ok = loop();
    control.SetVisible(false);
    return ok;
  } catch (...) {
    control.SetVisible(false);
    throw;
  }
}

}  // namespace

bool RunBackup(TIBBackupService& service, const TBackUpDatabaseSetings& settings) {
  try {
    service.BackupFile()->Clear();
    service.Params()->Clear();
    SetServer(service, settings.ServerName, settings.Protocol);
    service.SetDatabaseName(settings.DatabaseName);
    service.BackupFile()->Add(settings.BackupFile);
    service.SetLoginPrompt(settings.LoginPrompt);
    service.Params()->Add(settings.UserLine.empty() ? AnsiString("user_name=sysdba") : settings.UserLine);
    service.Params()->Add(PasswordLineOr(settings.PasswordLine));
    service.SetVerbose(settings.Verbose);
    service.SetOptions(settings.Options);
    service.SetActive(settings.Active);
  } catch (...) {
    DeactivateQuietly(service);
    throw;
  }
  return true;
}

bool RunRestore(TIBRestoreService& service, const TRestoreDatabaseSettings& settings) {
  try {
    service.DatabaseName()->Clear();
    service.BackupFile()->Clear();
    service.Params()->Clear();
    SetServer(service, settings.ServerName, settings.Protocol);
    service.DatabaseName()->Add(settings.DatabaseName);
    service.BackupFile()->Add(settings.BackupFile);
    service.SetLoginPrompt(settings.LoginPrompt);
    service.Params()->Add(UserLineOr(settings.UserLine));
    service.Params()->Add(PasswordLineOr(settings.PasswordLine));
    service.SetOptions(settings.Options);
    service.SetPageSize(settings.PageSize == 0 ? 4096 : settings.PageSize);
    service.SetPageBuffers(settings.PageBuffers);
    service.SetVerbose(settings.Verbose);
    service.SetActive(settings.Active);
  } catch (...) {
    DeactivateQuietly(service);
    throw;
  }
  return true;
}

bool BackupMode0(TIBBackupService& service) { return ModeChunks(service); }

bool BackupMode1(TIBBackupService& service, TPracujiStatusBar& status_bar) {
  return WithVisible(status_bar,
                     [&] { return ModeCount(service, status_bar, "Zazálohováno: %d objektů"); });
}

bool BackupMode2(TIBBackupService& service, TPracujiMemo& memo) { return ModeMemo(service, memo); }

bool BackupMode3(TIBBackupService& service, TPracujiProgressBar& bar, int32_t total) {
  return WithVisible(bar, [&] { return ModeBar(service, bar, total, 800000); });
}

bool RestoreMode0(TIBRestoreService& service) { return ModeChunks(service); }

bool RestoreMode1(TIBRestoreService& service, TPracujiStatusBar& status_bar) {
  return ModeCount(service, status_bar, "Rozbaleno: %d objektů");
}

bool RestoreMode2(TIBRestoreService& service, TPracujiMemo& memo) { return ModeMemo(service, memo); }

bool RestoreMode3(TIBRestoreService& service, TPracujiProgressBar& bar, int32_t total) {
  return ModeBar(service, bar, total, 650000);
}

}  // namespace pelvar
