#include "fuzz_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace pelvar::fuzz {
namespace {

void RemoveScratch() {
  std::error_code ec;
  std::filesystem::remove_all(ScratchDir(), ec);
}

}  // namespace

const std::string& ScratchDir() {
  static const std::string dir = [] {
    std::string base = "/dev/shm";
    if (::access(base.c_str(), W_OK) != 0) {
      const char* tmp = std::getenv("TMPDIR");
      base = tmp && *tmp ? tmp : "/tmp";
    }
    std::string pattern = base + "/pelvar_fuzz_XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    return pattern;
  }();
  static const bool registered = (std::atexit(RemoveScratch), true);
  (void)registered;
  return dir;
}

AnsiString WriteInput(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = ScratchDir() + "/" + name;
  const std::string tmp = path + ".new";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    std::perror("open");
    std::abort();
  }
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) {
      std::perror("write");
      std::abort();
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  if (::rename(tmp.c_str(), path.c_str()) != 0) {
    std::perror("rename");
    std::abort();
  }
  return path;
}

AnsiString FreshDir(const std::string& name) {
  const std::filesystem::path dir = std::filesystem::path(ScratchDir()) / name;
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::filesystem::create_directories(dir);
  return dir.string();
}

}  // namespace pelvar::fuzz

// The Firebird client, glib (under the cabinet library) and the C library's dlerror keep
// process-wide buffers until the process ends; they are not ours to free.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfbclient\n"
         "leak:libglib\n"
         "leak:libgobject\n"
         "leak:libgio\n"
         "leak:libgcab\n"
         "leak:_dlerror_run\n";
}

extern "C" const char* __ubsan_default_options() { return "print_stacktrace=1:halt_on_error=1"; }
