// The restore of a database backup in a process of its own: the in-process engine ends
// its whole process when it meets a failure it cannot recover from (a disk that fills up
// while the database is written is one), so the wizard restores the main database here
// and survives whatever happens to this process.
//
// Usage: meldrun-restore <database> <backup> <page size>
// The paths are UTF-8 file names. The restore replaces the database and runs verbose:
// every line of the engine's output goes to standard output as it comes. A failure is
// written to standard error (the engine's own text) and ends with exit code 1.
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "dbclient/ClientLibraryName.h"
#include "dbclient/IBServices.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/oslayer.h"
#include "platform/sysutils.h"

// In the sanitizer build the engine's process-wide buffers, kept until the process ends,
// are not this program's leaks.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_options() { return "detect_leaks=0"; }
#endif

namespace {

// The engine's own end: every attachment and service detached, its threads stopped and
// its locks (the machine-wide lock table among them) released. Only then may the
// process end without the engine's cooperation.
void ShutDownEngine() {
  using TFbShutdown = int (*)(unsigned int timeout_ms, int reason);
  const pelvar::HMODULE module = pelvar::LoadLibrary("fbclient.dll");
  if (module == nullptr) return;
  if (auto shutdown = reinterpret_cast<TFbShutdown>(pelvar::GetProcAddress(module, "fb_shutdown"))) {
    constexpr int kApplicationStopped = -3;
    shutdown(10000, kApplicationStopped);
  }
}

// SIGTERM, SIGINT and SIGHUP wait in this thread (every other thread has them blocked):
// the engine is shut down first, then the process ends as the signal says. The engine's
// own handlers, run inside whatever thread the signal hit, could end the process while
// that thread holds the lock table.
void WaitForStopSignals(sigset_t set) {
  int sig = 0;
  while (sigwait(&set, &sig) != 0) {
  }
  static const char kEnded[] = "the restore was ended\n";
  [[maybe_unused]] const auto n = std::fwrite(kEnded, 1, sizeof kEnded - 1, stderr);
  std::fflush(stderr);
  ShutDownEngine();
  std::_Exit(128 + sig);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pelvar;
  if (argc != 4) {
    std::fprintf(stderr, "usage: meldrun-restore <database> <backup> <page size>\n");
    return 2;
  }
  {
    // Blocked before the engine makes any thread: its threads inherit the mask.
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, sig);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(WaitForStopSignals, set).detach();
  }
  InstallClientLibraryNameProvider();
  try {
    TIBRestoreService service(nullptr);
    service.SetServerName("localhost");
    service.SetProtocol(TProtocol::Local);
    service.DatabaseName()->Add(Utf8ToAnsi(argv[1]));
    service.BackupFile()->Add(Utf8ToAnsi(argv[2]));
    service.SetLoginPrompt(false);
    service.Params()->Add("user_name=sysdba");
    service.Params()->Add("password=masterkey");
    service.SetOptions(TRestoreOptions{TRestoreOption::Replace});
    service.SetPageSize(std::atoi(argv[3]) > 0 ? std::atoi(argv[3]) : 4096);
    service.SetVerbose(true);
    service.SetActive(true);
    service.ServiceStart();
    while (!service.Eof()) {
      const AnsiString line = service.GetNextLine();
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fputc('\n', stdout);
      std::fflush(stdout);
    }
    service.SetActive(false);
    // The engine's threads may still be closing the restored database (with forced
    // writes that takes a while); the unloading of the client library at a normal end of
    // the process pulls the code from under them and the process crashes. So the engine
    // is shut down (its threads end, its locks are released) and the process ends here,
    // without that unloading (the wizard checks that the restored database is online
    // before it takes it).
    std::fflush(stdout);
    ShutDownEngine();
    std::_Exit(0);
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.Message().c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
  }
  std::fflush(stderr);
  return 1;
}
