#include "support/dbcache.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace pelvar::test::dbcache {

namespace fs = std::filesystem;

std::optional<std::string> Dir() {
  static const std::optional<std::string> dir = []() -> std::optional<std::string> {
    // Beside the test programs, so that each build has its own and a clean build starts empty.
    std::string path = fs::read_symlink("/proc/self/exe").parent_path().string() + "/test-cache";
    if (const char* env = std::getenv("PELVAR_TEST_CACHE"); env != nullptr && *env != '\0') {
      if (std::string(env) == "off") return std::nullopt;
      path = env;
    }
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec) throw std::runtime_error("cannot make the test cache " + path + ": " + ec.message());
    return path;
  }();
  return dir;
}

std::string Key(std::initializer_list<std::string> parts) {
  // Two FNV-1a hashes with different starts: 128 bits, plenty for a few thousand entries.
  uint64_t a = 14695981039346656037ull, b = 0x84222325cbf29ce4ull;
  const auto feed = [&](unsigned char c) {
    a = (a ^ c) * 1099511628211ull;
    b = (b ^ c) * 0x100000001b3ull;
    b ^= b >> 29;
  };
  for (const auto& part : parts) {
    const uint64_t n = part.size();
    for (int i = 0; i < 8; ++i) feed(static_cast<unsigned char>(n >> (8 * i)));
    for (const char c : part) feed(static_cast<unsigned char>(c));
  }
  char hex[33];
  snprintf(hex, sizeof hex, "%016llx%016llx", static_cast<unsigned long long>(a),
           static_cast<unsigned long long>(b));
  return hex;
}

std::string EntryPath(const std::string& key, const std::string& suffix) {
  return *Dir() + "/" + key + suffix;
}

bool Has(const std::string& key, const std::string& suffix) { return fs::exists(EntryPath(key, suffix)); }

KeyLock::KeyLock(const std::string& key) {
  const std::string path = EntryPath(key, ".lock");
  fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) throw std::runtime_error("cannot lock " + path + ": " + std::strerror(errno));
  }
}

KeyLock::~KeyLock() {
  if (fd_ >= 0) close(fd_);  // closing releases the lock
}

namespace {

void CopyFile(const std::string& source, const std::string& target) {
  std::error_code ec;
  fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec);
  if (ec) throw std::runtime_error("cannot copy " + source + " to " + target + ": " + ec.message());
}

}  // namespace

void Store(const std::string& file, const std::string& key, const std::string& suffix) {
  const std::string final_path = EntryPath(key, suffix);
  const std::string tmp = final_path + ".tmp" + std::to_string(getpid());
  CopyFile(file, tmp);
  chmod(tmp.c_str(), 0644);
  std::error_code ec;
  fs::rename(tmp, final_path, ec);
  if (ec) {
    fs::remove(tmp, ec);
    throw std::runtime_error("cannot store " + final_path);
  }
}

void MarkUncacheable(const std::string& key) {
  const int fd = open(EntryPath(key, ".nocache").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd >= 0) close(fd);
}

bool IsUncacheable(const std::string& key) { return Has(key, ".nocache"); }

void CopyOut(const std::string& source, const std::string& target) {
  CopyFile(source, target);
  // The server runs as its own user and writes the database too.
  chmod(target.c_str(), 0666);
}

bool SameContents(const std::string& a, const std::string& b) {
  std::error_code ec1, ec2;
  const auto size_a = fs::file_size(a, ec1), size_b = fs::file_size(b, ec2);
  if (ec1 || ec2 || size_a != size_b) return false;
  const int fa = open(a.c_str(), O_RDONLY | O_CLOEXEC);
  const int fb = open(b.c_str(), O_RDONLY | O_CLOEXEC);
  bool same = fa >= 0 && fb >= 0;
  std::vector<char> ba(1 << 16), bb(1 << 16);
  while (same) {
    const ssize_t na = read(fa, ba.data(), ba.size());
    if (na <= 0) {
      same = na == 0;
      break;
    }
    ssize_t nb = 0;
    while (nb < na) {
      const ssize_t n = read(fb, bb.data() + nb, static_cast<size_t>(na - nb));
      if (n <= 0) break;
      nb += n;
    }
    same = nb == na && std::memcmp(ba.data(), bb.data(), static_cast<size_t>(na)) == 0;
  }
  if (fa >= 0) close(fa);
  if (fb >= 0) close(fb);
  return same;
}

bool OpenInThisProcess(const std::string& file) {
  struct stat target {};
  if (stat(file.c_str(), &target) != 0) return false;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return true;  // cannot tell: assume the worst
  bool open_here = false;
  const int own = dirfd(dir);
  while (const dirent* e = readdir(dir)) {
    char* end = nullptr;
    const long fd = std::strtol(e->d_name, &end, 10);
    if (end == e->d_name || *end != '\0' || fd == own) continue;
    struct stat st {};
    if (fstat(static_cast<int>(fd), &st) == 0 && st.st_dev == target.st_dev && st.st_ino == target.st_ino) {
      open_here = true;
      break;
    }
  }
  closedir(dir);
  return open_here;
}

}  // namespace pelvar::test::dbcache
