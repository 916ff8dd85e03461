#include "archive/abutils.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>

#include "archive/abexcept.h"
#include "platform/codepage.h"
#include "platform/streams.h"

namespace pelvar {

namespace {

constexpr double kUnixEpoch = 25569.0;  // 1970-01-01 as a framework date
constexpr int64_t kSecondsPerDay = 86400;

bool HasWild(const AnsiString& s) { return s.find_first_of("*?") != AnsiString::npos; }

// Splits a disk path after its last separator: ("dir/", "name").
void SplitDisk(const AnsiString& path, AnsiString& dir, AnsiString& name) {
  const AnsiString p = AbDiskPath(path);
  const size_t pos = p.rfind('/');
  if (pos == AnsiString::npos) {
    dir.clear();
    name = p;
  } else {
    dir = p.substr(0, pos + 1);
    name = p.substr(pos + 1);
  }
}

AnsiString UpperAscii(AnsiString s) {
  for (char& c : s) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return s;
}

// The framework's attributes of an entry, from its POSIX status.
int32_t AttrOf(const std::string& sys_path, const AnsiString& name) {
  struct stat st;
  int32_t attr = 0;
  if (stat(sys_path.c_str(), &st) != 0) {
    if (lstat(sys_path.c_str(), &st) != 0) return -1;
    attr = AbFaSysFile;  // a dangling link
  } else {
    attr = AbUnixModeToDosAttr(static_cast<int32_t>(st.st_mode));
    if (S_ISREG(st.st_mode)) attr |= AbFaArchive;
  }
  if (!name.empty() && name[0] == '.' && name != "." && name != "..") attr |= AbFaHidden;
  return attr;
}

// A directory search in the framework's manner: entries of dir whose attributes
// pass the filter (hidden, system, volume and directory entries only when asked for).
struct FoundEntry {
  AnsiString name;
  int32_t attr;
};
std::vector<FoundEntry> ListDir(const AnsiString& dir, int32_t filter) {
  std::vector<FoundEntry> out;
  const std::string sys_dir = dir.empty() ? std::string(".") : AbSysPath(dir);
  DIR* d = opendir(sys_dir.c_str());
  if (!d) return out;
  const int32_t exclude = ~filter & (AbFaHidden | AbFaSysFile | AbFaVolumeID | AbFaDirectory);
  while (dirent* e = readdir(d)) {
    const AnsiString name = Utf8ToAnsi(e->d_name);
    if (name == "." || name == "..") continue;
    const int32_t attr = AttrOf(sys_dir + "/" + e->d_name, name);
    if (attr < 0 || (attr & exclude) != 0) continue;
    out.push_back({name, attr});
  }
  closedir(d);
  std::sort(out.begin(), out.end(),
            [](const FoundEntry& a, const FoundEntry& b) { return a.name < b.name; });
  return out;
}

AnsiString TempDirectory() {
  const char* t = std::getenv("TMPDIR");
  AnsiString dir = (t && *t) ? Utf8ToAnsi(t) : AnsiString("/tmp");
  return dir;
}

AnsiString WithSlash(AnsiString dir) {
  dir = AbDiskPath(dir);
  if (!dir.empty() && dir.back() != '/') dir += '/';
  return dir;
}

void DecodeTimeOfDay(int64_t secs, int& h, int& m, int& s) {
  h = static_cast<int>(secs / 3600);
  m = static_cast<int>(secs / 60 % 60);
  s = static_cast<int>(secs % 60);
}

}  // namespace

// --- Lock ---

bool AbIsMultiThread() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Threads:", 0) == 0) return std::atoi(line.c_str() + 8) > 1;
  }
  return false;
}

TAbPadLock::~TAbPadLock() {
  while (count_ > 0) SetHeld(false);
}

void TAbPadLock::SetHeld(bool Value) {
  if (Value) {
    if (AbIsMultiThread()) {
      section_.lock();
      ++count_;
    }
  } else if (count_ > 0) {
    --count_;
    section_.unlock();
  }
}

// --- Paths and names ---

AnsiString AbWithTrailingBackslash(const AnsiString& S) {
  if (S.empty() || S.back() == '\\' || S.back() == ':') return S;
  return S + '\\';
}

int32_t AbNthBackslashEnd(const AnsiString& S, int32_t N) {
  int32_t found = 0;
  for (size_t i = 0; i < S.size(); ++i) {
    if (S[i] == '\\' && ++found == N) return static_cast<int32_t>(i);
  }
  return static_cast<int32_t>(S.size());
}

int32_t AbPathKind(const AnsiString& S) {
  if (S.find(':') != AnsiString::npos || S.find("\\\\") != AnsiString::npos) return 2;
  if (!S.empty() && S[0] == '/') return 2;  // an absolute POSIX path
  if (S.find_first_of("\\/") != AnsiString::npos) return 1;
  return 0;
}

void AbSplitPath(const AnsiString& Path, AnsiString& Drive, AnsiString& Dir, AnsiString& Name) {
  AnsiString p = Path;
  AbToBackslashes(p);
  const size_t last = p.find_last_of("\\:");
  if (last == AnsiString::npos) {
    Dir.clear();
    Name = p;
  } else {
    Dir = p.substr(0, last + 1);
    Name = p.substr(last + 1);
  }
  Drive.clear();
  if (Dir.find("\\\\") != AnsiString::npos) {
    const size_t n = static_cast<size_t>(AbNthBackslashEnd(Dir, 4));
    Drive = Dir.substr(0, n);
    Dir = n < Dir.size() ? Dir.substr(n + 1) : AnsiString();
  } else {
    const size_t colon = Dir.find(':');
    if (colon != AnsiString::npos) {
      Drive = Dir.substr(0, colon + 1);
      Dir = Dir.substr(colon + 1);
      if (!Dir.empty() && Dir[0] == '\\') Dir.erase(0, 1);
    }
  }
}

void AbSplitDirs(const AnsiString& Dir, TStrings& List) {
  AnsiString d = Dir;
  if (!d.empty() && d.back() == '\\') d.pop_back();
  if (d.empty()) return;
  size_t start = 0;
  while (true) {
    const size_t pos = d.find('\\', start);
    if (pos == AnsiString::npos) {
      List.Add(d.substr(start));
      return;
    }
    List.Add(d.substr(start, pos - start));
    start = pos + 1;
  }
}

void AbDropParentRefs(AnsiString& Path) {
  while (Path.rfind("..\\", 0) == 0) Path.erase(0, 3);
}

void AbDropDrive(AnsiString& Path) {
  AnsiString drive, dir, name;
  AbSplitPath(Path, drive, dir, name);
  Path = dir + name;
}

void AbToForwardSlashes(AnsiString& Path) {
  for (char& c : Path) {
    if (c == '\\') c = '/';
  }
}

void AbToBackslashes(AnsiString& Path) {
  for (char& c : Path) {
    if (c == '/') c = '\\';
  }
}

AnsiString AbSpanVolumeName(const AnsiString& FileName, int32_t Number) {
  // The extension starts at the last dot after the last separator.
  const size_t sep = FileName.find_last_of("\\/:");
  size_t dot = FileName.rfind('.');
  if (dot != AnsiString::npos && sep != AnsiString::npos && dot < sep) dot = AnsiString::npos;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%.2d", static_cast<int>(((Number % 100) + 100) % 100));
  if (dot == AnsiString::npos) return FileName + "." + digits;
  AnsiString ext = ".";
  if (dot + 1 < FileName.size()) ext += FileName[dot + 1];
  return FileName.substr(0, dot) + ext + digits;
}

bool AbWildMatch(const AnsiString& Source, int32_t SourcePos, const AnsiString& Pattern,
                 int32_t PatternPos) {
  if (Source.empty()) return Pattern.empty();
  if (PatternPos == 1 && (Pattern == "*.*" || Pattern == "*")) return true;
  const int32_t slen = static_cast<int32_t>(Source.size());
  const int32_t plen = static_cast<int32_t>(Pattern.size());
  if (Pattern.empty()) return SourcePos > slen;
  int32_t s = SourcePos;
  int32_t p = PatternPos;
  while (true) {
    if (p > plen) return s > slen;
    const char c = Pattern[p - 1];
    if (c == '*') {
      if (p == plen) return true;
      for (int32_t i = s; i <= slen + 1; ++i) {
        if (AbWildMatch(Source, i, Pattern, p + 1)) return true;
      }
      return false;
    }
    if (s > slen) return false;
    if (c != '?' && c != Source[s - 1]) return false;
    ++s;
    ++p;
  }
}

// --- Disk paths ---

AnsiString AbDiskPath(const AnsiString& Path) {
  AnsiString p = Path;
  AbToForwardSlashes(p);
  return p;
}

std::string AbSysPath(const AnsiString& Path) { return SysFileName(AbDiskPath(Path)); }

AnsiString AbShortPathOf(const AnsiString& Path) {
  const AnsiString p = AbDiskPath(Path);
  // Every directory on the way must exist.
  for (size_t pos = p.find('/', 1); pos != AnsiString::npos; pos = p.find('/', pos + 1)) {
    if (!AbIsDirectory(p.substr(0, pos))) throw EAbException("Path not found");
  }
  struct stat st;
  if (stat(AbSysPath(p).c_str(), &st) != 0) throw EAbFileNotFound();
  return p;
}

bool AbIsDirectory(const AnsiString& Path) {
  if (HasWild(Path)) return false;
  struct stat st;
  return stat(AbSysPath(Path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void AbMakeDirPath(const AnsiString& Path) {
  AnsiString p = AbDiskPath(Path);
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  if (p.empty() || AbIsDirectory(p)) return;
  size_t pos = (p[0] == '/') ? p.find('/', 1) : p.find('/');
  while (true) {
    const AnsiString prefix = pos == AnsiString::npos ? p : p.substr(0, pos);
    if (!prefix.empty() && !AbIsDirectory(prefix)) {
      if (mkdir(AbSysPath(prefix).c_str(), 0777) != 0 && !(errno == EEXIST && AbIsDirectory(prefix))) {
        const int err = errno;
        throw EAbInOutError(std::strerror(err), err);
      }
    }
    if (pos == AnsiString::npos) return;
    pos = p.find('/', pos + 1);
  }
}

void AbCollectFiles(const AnsiString& Mask, int32_t Attributes, TStrings& List, bool Recurse) {
  AnsiString dir, name;
  SplitDisk(Mask, dir, name);
  const AnsiString upper_name = UpperAscii(name);
  for (const FoundEntry& e : ListDir(dir, Attributes)) {
    if (AbWildMatch(UpperAscii(e.name), 1, upper_name, 1)) List.Add(dir + e.name);
  }
  if (Recurse) {
    for (const FoundEntry& e : ListDir(dir, AbFaDirectory)) {
      if (e.attr & AbFaDirectory) AbCollectFiles(dir + e.name + "/" + name, Attributes, List, true);
    }
  }
}

void AbCollectFilesMulti(const AnsiString& Masks, int32_t Attributes, TStrings& List,
                         bool Recurse) {
  size_t start = 0;
  while (true) {
    const size_t pos = Masks.find(';', start);
    AnsiString piece = Masks.substr(start, pos == AnsiString::npos ? AnsiString::npos : pos - start);
    const size_t b = piece.find_first_not_of(' ');
    piece = b == AnsiString::npos ? AnsiString() : piece.substr(b, piece.find_last_not_of(' ') - b + 1);
    AbCollectFiles(piece, Attributes, List, Recurse);
    if (pos == AnsiString::npos) return;
    start = pos + 1;
  }
}

AnsiString AbNewTempFile(const AnsiString& Dir) { return AbTempFileName(Dir, true); }

AnsiString AbTempFileName(const AnsiString& Dir, bool CreateIt) {
  const AnsiString dir = WithSlash(AbIsDirectory(Dir) ? Dir : TempDirectory());
  if (!CreateIt) return dir + "Qor1.TMP";
  // A unique number as the platform picks one: start from the clock, take the first
  // name that can be created exclusively.
  const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
  uint32_t number = static_cast<uint32_t>(now ^ (getpid() << 8)) & 0xFFFF;
  for (int tries = 0; tries < 0x10000; ++tries, number = (number + 1) & 0xFFFF) {
    if (number == 0) continue;
    char hex[8];
    std::snprintf(hex, sizeof hex, "%X", number);
    const AnsiString name = dir + "Qor" + hex + ".TMP";
    const int fd = open(AbSysPath(name).c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      return name;
    }
    if (errno != EEXIST) break;
  }
  const int err = errno;
  throw EAbInOutError(std::strerror(err), err);
}

int32_t AbReadFileAttr(const AnsiString& Path) {
  AnsiString dir, name;
  SplitDisk(Path, dir, name);
  return AttrOf(AbSysPath(Path), name);
}

int32_t AbWriteFileAttr(const AnsiString& Path, int32_t Attributes) {
  struct stat st;
  const std::string sys = AbSysPath(Path);
  if (stat(sys.c_str(), &st) != 0) return errno;
  mode_t mode = st.st_mode & 07777;
  if (Attributes & AbFaReadOnly)
    mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
  else
    mode |= S_IWUSR;
  return chmod(sys.c_str(), mode) == 0 ? 0 : errno;
}

int64_t AbSizeOfFile(const AnsiString& Path) {
  AnsiString dir, name;
  SplitDisk(Path, dir, name);
  if (HasWild(name)) {
    for (const FoundEntry& e : ListDir(dir, AbFaAnyFile)) {
      if (AbWildMatch(UpperAscii(e.name), 1, UpperAscii(name), 1)) {
        struct stat st;
        if (stat(AbSysPath(dir + e.name).c_str(), &st) == 0) return st.st_size;
      }
    }
    return -1;
  }
  struct stat st;
  if (stat(AbSysPath(Path).c_str(), &st) != 0) return -1;
  return st.st_size;
}

// --- Drives and volumes ---

char AbDriveLetterOf(const AnsiString& FileName) {
  if (FileName.find(':') != AnsiString::npos && !FileName.empty()) return FileName[0];
  return 'A';
}

bool AbIsOnRemovableDrive(const AnsiString& FileName) {
  // Linux has no drive types: nothing is a removable drive.
  (void)FileName;
  return false;
}

int64_t AbDiskFreeForCaller(const AnsiString& Path) {
  // The nearest existing directory of Path.
  AnsiString p = AbDiskPath(Path);
  while (!p.empty() && !AbIsDirectory(p)) {
    const size_t pos = p.find_last_of('/');
    if (pos == AnsiString::npos) return -1;
    p = pos == 0 ? AnsiString("/") : p.substr(0, pos);
  }
  if (p.empty()) return -1;
  struct statvfs vfs;
  if (statvfs(AbSysPath(p).c_str(), &vfs) != 0) return -1;
  return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

int64_t AbDiskFreeByClusters(const AnsiString& Root) {
  struct statvfs vfs;
  if (statvfs(AbSysPath(Root).c_str(), &vfs) != 0) return -1;
  return static_cast<int64_t>(vfs.f_bfree) * static_cast<int64_t>(vfs.f_frsize);
}

int64_t AbRemovableDiskFree(const AnsiString& Path) {
  (void)Path;
  return -1;
}

bool AbHasDiskFreeEx() { return true; }

int32_t AbFreeSpaceOf(const AnsiString& Path) {
  if (AbPathKind(Path) != 2) return -1;
  int64_t v = -1;
  const AnsiString p = AbDiskPath(Path);
  // Only POSIX paths name a volume here; drive letters and shares are unknown.
  if (!p.empty() && p[0] == '/' && p.rfind("//", 0) != 0) v = AbDiskFreeForCaller(p);
  if (v == -1) return -1;
  if (v < -1 || v > 2147483647) return 2147483647;
  return static_cast<int32_t>(v);
}

int32_t AbLabelVolume(const AnsiString& Label, char Drive) {
  (void)Label;
  (void)Drive;
  return ENOTSUP;  // volumes have no labels the kit can set on Linux
}

int32_t AbLabelSpanDisk(char Drive, int32_t Number) {
  char label[32];
  std::snprintf(label, sizeof label, "PKBACK# %3.3d", static_cast<int>(Number));
  return AbLabelVolume(label, Drive);
}

// --- Numbers and conversions ---

int32_t AbPercentOf(int32_t Part, int32_t Whole) {
  if (Whole > 0xFA0000) {
    Part = static_cast<int32_t>((static_cast<uint32_t>(Part) + 128) >> 8);
    Whole = static_cast<int32_t>((static_cast<uint32_t>(Whole) + 128) >> 8);
  }
  if (Whole <= 0) return 0;
  if (Part >= Whole) return 100;
  return static_cast<int32_t>(static_cast<int64_t>(Part) * 100 / Whole);
}

void AbCrc32Update(uint32_t& Crc, const void* Buffer, uint16_t Length) {
  const uint8_t* p = static_cast<const uint8_t*>(Buffer);
  uint32_t crc = Crc;
  for (uint16_t i = 0; i < Length; ++i) crc = AbCrc32Byte(p[i], crc);
  Crc = crc;
}

TDateTime AbUnixSecondsToDateTime(int32_t Seconds) {
  // Floor division, so that times before 1970 come out as proper date-times.
  int64_t days = Seconds / kSecondsPerDay;
  int64_t rest = Seconds % kSecondsPerDay;
  if (rest < 0) {
    rest += kSecondsPerDay;
    --days;
  }
  int h, m, s;
  DecodeTimeOfDay(rest, h, m, s);
  return kUnixEpoch + static_cast<double>(days) + (h * 3600.0 + m * 60.0 + s) / 86400.0;
}

int32_t AbDateTimeToUnixSeconds(TDateTime Value) {
  double whole = std::trunc(Value);
  int64_t ms = std::llround(std::fabs(Value - whole) * 86400000.0);
  if (ms >= 86400000) {
    ms -= 86400000;
    whole += Value < 0 ? -1 : 1;
  }
  int64_t days = static_cast<int64_t>(whole) - static_cast<int64_t>(kUnixEpoch);
  if (days < 0) days = 0;  // before 1970 only the time of day counts
  int h, m, s;
  DecodeTimeOfDay(ms / 1000, h, m, s);
  const int64_t total = days * kSecondsPerDay + h * 3600 + m * 60 + s;
  return static_cast<int32_t>(static_cast<uint32_t>(total));
}

int32_t AbDosAttrToUnixMode(int32_t Attributes) {
  return (Attributes & AbFaReadOnly) ? 0444 : 0744;
}

int32_t AbUnixModeToDosAttr(int32_t Mode) {
  int32_t attr = 0;
  switch (Mode & 0xF000) {
    case 0x4000: attr = AbFaDirectory; break;
    case 0x1000: case 0x2000: case 0x6000: case 0xA000: case 0xC000: attr = AbFaSysFile; break;
    default: break;
  }
  if ((Mode & 0200) == 0) attr |= AbFaReadOnly;
  return attr;
}

int32_t AbDateTimeToFileDate(TDateTime Value) {
  // Framework date -> calendar through Unix seconds in UTC arithmetic (no zone shift:
  // the value already is local time).
  const double days = std::floor(Value);
  int64_t ms = std::llround((Value - days) * 86400000.0);
  int64_t d = static_cast<int64_t>(days) - static_cast<int64_t>(kUnixEpoch);
  if (ms >= 86400000) {
    ms -= 86400000;
    ++d;
  }
  const time_t t = static_cast<time_t>(d * kSecondsPerDay + ms / 1000);
  struct tm tm;
  gmtime_r(&t, &tm);
  if (tm.tm_year < 80 || tm.tm_year > 207) return 0;
  return static_cast<int32_t>((static_cast<uint32_t>(tm.tm_year - 80) << 25) |
                              (static_cast<uint32_t>(tm.tm_mon + 1) << 21) |
                              (static_cast<uint32_t>(tm.tm_mday) << 16) |
                              (static_cast<uint32_t>(tm.tm_hour) << 11) |
                              (static_cast<uint32_t>(tm.tm_min) << 5) |
                              (static_cast<uint32_t>(tm.tm_sec) >> 1));
}

namespace {
// The broken-down local time of a DOS date-time; false when it is not a valid one.
bool UnpackFileDate(int32_t FileDate, struct tm& tm) {
  const uint32_t v = static_cast<uint32_t>(FileDate);
  std::memset(&tm, 0, sizeof tm);
  tm.tm_year = static_cast<int>(v >> 25) + 80;
  tm.tm_mon = static_cast<int>((v >> 21) & 0xF) - 1;
  tm.tm_mday = static_cast<int>((v >> 16) & 0x1F);
  tm.tm_hour = static_cast<int>((v >> 11) & 0x1F);
  tm.tm_min = static_cast<int>((v >> 5) & 0x3F);
  tm.tm_sec = static_cast<int>(v & 0x1F) * 2;
  return tm.tm_mon >= 0 && tm.tm_mon < 12 && tm.tm_mday >= 1 && tm.tm_hour < 24 && tm.tm_min < 60 &&
         tm.tm_sec < 60;
}
}  // namespace

TDateTime AbFileDateToDateTime(int32_t FileDate) {
  struct tm tm;
  if (!UnpackFileDate(FileDate, tm)) return 0;
  const time_t t = timegm(&tm);  // calendar arithmetic only, no zone shift
  return kUnixEpoch + static_cast<double>(t) / 86400.0;
}

int32_t AbFileAge(const AnsiString& Path) {
  struct stat st;
  if (stat(AbSysPath(Path).c_str(), &st) != 0) return -1;
  struct tm tm;
  localtime_r(&st.st_mtime, &tm);
  if (tm.tm_year < 80 || tm.tm_year > 207) return -1;
  return static_cast<int32_t>((static_cast<uint32_t>(tm.tm_year - 80) << 25) |
                              (static_cast<uint32_t>(tm.tm_mon + 1) << 21) |
                              (static_cast<uint32_t>(tm.tm_mday) << 16) |
                              (static_cast<uint32_t>(tm.tm_hour) << 11) |
                              (static_cast<uint32_t>(tm.tm_min) << 5) |
                              (static_cast<uint32_t>(tm.tm_sec) >> 1));
}

int32_t AbFileSetDate(const AnsiString& Path, int32_t FileDate) {
  struct tm tm;
  if (!UnpackFileDate(FileDate, tm)) return EINVAL;
  tm.tm_isdst = -1;
  const time_t t = mktime(&tm);
  if (t == static_cast<time_t>(-1)) return EINVAL;
  struct timespec times[2];
  times[0].tv_sec = t;
  times[0].tv_nsec = 0;
  times[1] = times[0];
  return utimensat(AT_FDCWD, AbSysPath(Path).c_str(), times, 0) == 0 ? 0 : errno;
}

AnsiString AbCharToOem(const AnsiString& S) {
  return ConvertCodePage(S, TCodePage::cp1250, TCodePage::cp852);
}

AnsiString AbOemToChar(const AnsiString& S) {
  return ConvertCodePage(S, TCodePage::cp852, TCodePage::cp1250);
}

}  // namespace pelvar
