#include "wizard/RunLock.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

std::string ReadAll(int fd) {
  std::string text;
  char buffer[512];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
    at += n;
    if (text.size() > 4096) break;
  }
  return text;
}

AnsiString ValueOf(const std::string& text, const char* name) {
  const std::string key = std::string(name) + "=";
  for (size_t from = 0; from < text.size();) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(from, end - from);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, key.size(), key) == 0) return Utf8ToAnsi(line.substr(key.size()));
    from = end + 1;
  }
  return AnsiString();
}

std::string UserName() {
  if (const passwd* pw = ::getpwuid(::geteuid()); pw != nullptr && pw->pw_name != nullptr) return pw->pw_name;
  if (const char* user = std::getenv("USER")) return user;
  return std::to_string(::geteuid());
}

std::string HostName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return std::string();
  return host;
}

}  // namespace

TRunLock::~TRunLock() { Release(); }

bool TRunLock::Acquire(const AnsiString& file) {
  Release();
  const std::string path = SysFileName(file);
  holder_ = THolder{};
  // The file may be removed by the run that gives the lock up just after it was opened
  // here: a lock taken on a file no longer under that name counts for nothing, and the
  // name is opened again.
  for (int attempt = 0; attempt < 50; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
      throw EInOutError(Format(CZ("Soubor %s nelze otevřít: %s"), {file, Utf8ToAnsi(std::strerror(errno))}));
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      if (error != EWOULDBLOCK) {
        ::close(fd);
        throw EInOutError(Format(CZ("Soubor %s nelze zamknout: %s"), {file, Utf8ToAnsi(std::strerror(error))}));
      }
      // The holder writes who it is just after it took the lock: a moment for that.
      std::string text = ReadAll(fd);
      for (int wait = 0; wait < 20 && text.find("Started=") == std::string::npos; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
        text = ReadAll(fd);
      }
      ::close(fd);
      holder_ = THolder{ValueOf(text, "Process"), ValueOf(text, "User"), ValueOf(text, "Host"),
                        ValueOf(text, "Started")};
      return false;
    }
    struct stat opened {}, named {};
    if (::fstat(fd, &opened) != 0 || ::stat(path.c_str(), &named) != 0 || opened.st_ino != named.st_ino ||
        opened.st_dev != named.st_dev) {
      ::close(fd);
      continue;
    }
    const std::string text = "Process=" + std::to_string(::getpid()) + "\nUser=" + UserName() +
                             "\nHost=" + HostName() + "\nStarted=" +
                             AnsiToUtf8(FormatDateTime("dd.mm.yyyy hh:nn:ss", Now())) + "\n";
    if (::ftruncate(fd, 0) == 0) {
      [[maybe_unused]] const ssize_t n = ::pwrite(fd, text.data(), text.size(), 0);
    }
    fd_ = fd;
    file_ = file;
    return true;
  }
  throw EInOutError(Format(CZ("Soubor %s nelze zamknout."), {file}));
}

void TRunLock::Release() {
  if (fd_ < 0) return;
  // Removed while still held: whoever opens the name afterwards makes a new file.
  ::unlink(SysFileName(file_).c_str());
  ::close(fd_);
  fd_ = -1;
  file_.clear();
}

}  // namespace pelvar
