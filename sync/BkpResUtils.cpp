#include "sync/BkpResUtils.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

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
template <typename Service>
void DeactivateQuietly(Service& service) {
  try {
    if (service.Active()) service.SetActive(false);
  } catch (...) {
  }
}

template <typename Service>
void Deactivate(Service& service) {
  if (service.Active()) service.SetActive(false);
}

// Runs body; the service is detached afterwards in every case.
template <typename Service, typename Body>
bool RunLoop(Service& service, Body body) {
  try {
    body();
  } catch (...) {
    DeactivateQuietly(service);
    throw;
  }
  Deactivate(service);
  return true;
}

template <typename Service>
bool ModeChunks(Service& service) {
  return RunLoop(service, [&] {
    service.ServiceStart();
    while (!service.Eof()) {
      service.GetNextChunk();
      Application()->ProcessMessages();
    }
  });
}

template <typename Service>
bool ModeCount(Service& service, TPracujiStatusBar& status_bar,
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

template <typename Service>
bool ModeMemo(Service& service, TPracujiMemo& memo) {
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

template <typename Service>
bool ModeBar(Service& service, TPracujiProgressBar& bar, int32_t total,
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

// --- The restore in a child process -----------------------------------------------------


namespace {

std::atomic<int>& RestoreChild() {
  static std::atomic<int> pid{0};
  return pid;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

int RunningRestoreChild() { return RestoreChild().load(); }

void EndRestoreChild(int pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  // Its engine's shut-down waits up to 10 s for its threads.
  constexpr int kSteps = 15000 / 20;
  for (int i = 0; i < kSteps; ++i) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid || (done < 0 && errno != EINTR)) return;
    timespec pause{0, 20 * 1000 * 1000};
    ::nanosleep(&pause, nullptr);
  }
  ::kill(pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
}

TRestoreProcess::TRestoreProcess(const AnsiString& database_file, const AnsiString& backup_file,
                                 int32_t page_size)
    : database_(database_file), backup_(backup_file), page_size_(page_size) {}

TRestoreProcess::~TRestoreProcess() {
  Kill();
  CloseFd(out_);
  CloseFd(err_);
}

AnsiString TRestoreProcess::HelperPath() {
  namespace fs = std::filesystem;
  if (const char* env = std::getenv("PELVAR_RESTORE_HELPER"); env && *env) return Utf8ToAnsi(env);
  std::error_code ec;
  const fs::path self = fs::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    const fs::path beside = self.parent_path() / "meldrun-restore";
    if (fs::exists(beside, ec)) return Utf8ToAnsi(beside.string());
  }
#ifdef PELVAR_RESTORE_HELPER_BUILT
  return Utf8ToAnsi(PELVAR_RESTORE_HELPER_BUILT);
#else
  return "meldrun-restore";
#endif
}

void TRestoreProcess::ServiceStart() {
  if (pid_ > 0 || eof_) throw EIBClientError(CZ("Obnova databáze již byla spuštěna."));
  const std::string helper = SysFileName(HelperPath());
  const std::string database = SysFileName(database_);
  const std::string backup = SysFileName(backup_);
  const std::string page_size = std::to_string(page_size_);
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    for (int fd : {out[0], out[1], err[0], err[1]})
      if (fd >= 0) ::close(fd);
    throw EIBClientError(Format(CZ("Obnovu databáze %s nelze spustit: %s"),
                                {database_, AnsiString(std::strerror(errno))}));
  }
  std::vector<char*> envp;
  for (char** e = environ; *e; ++e) envp.push_back(*e);
  envp.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // The child: only calls that are safe between fork and exec.
    // Ended with this process: asked, so that its engine lets its locks go.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    // Nothing else of this process goes with it: this process's engine keeps files open
    // (with their locks) that the child's engine must not find locked.
    ::close_range(3, ~0U, 0);
    const char* argv[] = {helper.c_str(), database.c_str(), backup.c_str(), page_size.c_str(), nullptr};
    ::execve(helper.c_str(), const_cast<char* const*>(argv), envp.data());
    static const char kNoHelper[] = "the restore program cannot be started\n";
    [[maybe_unused]] const ssize_t n = ::write(STDERR_FILENO, kNoHelper, sizeof kNoHelper - 1);
    ::_exit(127);
  }
  const int fork_errno = errno;
  ::close(out[1]);
  ::close(err[1]);
  if (pid < 0) {
    ::close(out[0]);
    ::close(err[0]);
    throw EIBClientError(Format(CZ("Obnovu databáze %s nelze spustit: %s"),
                                {database_, AnsiString(std::strerror(fork_errno))}));
  }
  pid_ = pid;
  RestoreChild().store(pid);
  out_ = out[0];
  err_ = err[0];
  eof_ = false;
  pending_.clear();
  errors_.clear();
}

bool TRestoreProcess::Fill(int wait_ms) {
  if (out_ < 0 && err_ < 0) return false;
  std::vector<pollfd> fds;
  if (out_ >= 0) fds.push_back({out_, POLLIN, 0});
  if (err_ >= 0) fds.push_back({err_, POLLIN, 0});
  const int n = ::poll(fds.data(), fds.size(), wait_ms);
  if (n < 0 && errno != EINTR) {
    CloseFd(out_);
    CloseFd(err_);
    return false;
  }
  char buffer[8192];
  for (const pollfd& p : fds) {
    if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
    const ssize_t got = ::read(p.fd, buffer, sizeof buffer);
    if (got > 0) {
      (p.fd == out_ ? pending_ : errors_).append(buffer, static_cast<size_t>(got));
    } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
      if (p.fd == out_) {
        CloseFd(out_);
      } else {
        CloseFd(err_);
      }
    }
  }
  return out_ >= 0 || err_ >= 0;
}

void TRestoreProcess::Finish() {
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  RestoreChild().store(0);
  eof_ = true;
  // The engine's own text is a few lines at the end; a child that was ended may have
  // written more before it (a report of where it stopped), which stays out.
  std::string tail = errors_;
  size_t cut = tail.size();
  while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r')) tail.pop_back();
  cut = tail.size();
  for (int lines = 0; cut > 0 && lines < 6; ++lines) {
    const size_t nl = tail.rfind('\n', cut - 1);
    cut = nl == std::string::npos ? 0 : nl;
  }
  AnsiString text = Trim(AnsiString(tail.substr(cut)));
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  if (WIFSIGNALED(status)) {
    text = Format(CZ("Obnova databáze %s byla ukončena (signál %d)."), {database_, WTERMSIG(status)}) +
           (text.empty() ? AnsiString() : "\r" + text);
  } else if (text.empty()) {
    text = Format(CZ("Obnova databáze %s skončila chybou %d."), {database_, WEXITSTATUS(status)});
  }
  throw EIBInterBaseError(text);
}

AnsiString TRestoreProcess::GetNextLine() {
  if (eof_) return AnsiString();
  if (pid_ <= 0) throw EIBClientError(CZ("Obnova databáze neběží."));
  for (;;) {
    const size_t at = pending_.find('\n');
    if (at != std::string::npos) {
      AnsiString line = pending_.substr(0, at);
      pending_.erase(0, at + 1);
      return line;
    }
    if (!Fill(100)) {
      if (!pending_.empty()) {
        AnsiString line = pending_;
        pending_.clear();
        return line;
      }
      Finish();
      return AnsiString();
    }
    Application()->ProcessMessages();
  }
}

AnsiString TRestoreProcess::GetNextChunk() {
  if (eof_) return AnsiString();
  if (pid_ <= 0) throw EIBClientError(CZ("Obnova databáze neběží."));
  while (pending_.empty()) {
    if (!Fill(100)) {
      Finish();
      return AnsiString();
    }
    Application()->ProcessMessages();
  }
  AnsiString chunk = pending_;
  pending_.clear();
  return chunk;
}

void TRestoreProcess::Kill() {
  if (pid_ <= 0) {
    return;
  }
  EndRestoreChild(pid_);
  pid_ = -1;
  RestoreChild().store(0);
}

void TRestoreProcess::SetActive(bool value) {
  if (value) return;
  // Ended before its output was read to the end: the child goes too.
  Kill();
  CloseFd(out_);
  CloseFd(err_);
}

bool RestoreMode0(TRestoreProcess& service) { return ModeChunks(service); }

bool RestoreMode1(TRestoreProcess& service, TPracujiStatusBar& status_bar) {
  return ModeCount(service, status_bar, "Rozbaleno: %d objektů");
}

bool RestoreMode2(TRestoreProcess& service, TPracujiMemo& memo) { return ModeMemo(service, memo); }

bool RestoreMode3(TRestoreProcess& service, TPracujiProgressBar& bar, int32_t total) {
  return ModeBar(service, bar, total, 650000);
}

}  // namespace pelvar
