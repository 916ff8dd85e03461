// The archive kit's utilities: paths, masks, temporary files, numbers, conversions.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <thread>

#include "archive/abexcept.h"
#include "archive/abutils.h"
#include "support/process.h"

namespace pelvar {
namespace {

using test::RunCommand;
using test::TempDir;
using Names_t = std::vector<AnsiString>;

// The list's lines, sorted when asked.
Names_t Names(const TStrings& list, bool sorted = false) {
  Names_t out;
  for (int32_t i = 0; i < list.Count(); ++i) out.push_back(list.Strings(i));
  if (sorted) std::sort(out.begin(), out.end());
  return out;
}

TEST(AbUtilsTest, WildMatch) {
  struct Case {
    const char* text;
    const char* pattern;
    bool match;
  };
  const Case cases[] = {
      {"AB", "*A*B", true},     {"A", "A?", false},        {"README", "*.*", true},
      {"", "", true},           {"X", "", false},          {"ABC", "A*", true},
      {"", "*", false},         {"ABC", "*", true},        {"ABC.TXT", "*.TXT", true},
      {"ABC.TXT", "*.DOC", false}, {"ABC", "A?C", true},   {"ABC", "A?", false},
      {"ABC", "ABCD", false},   {"ABCD", "ABC", false},    {"AXBXC", "A*B*C", true},
      {"AXBXD", "A*B*C", false}, {"abc", "ABC", false},    {"A.B.C", "*.C", true},
      {"PELVAR.CB0", "*.CB?", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AbWildMatch(c.text, 1, c.pattern, 1), c.match) << c.text << " ~ " << c.pattern;
  }
}

TEST(AbUtilsTest, SplitPathAndFriends) {
  struct Case {
    const char* path;
    const char* drive;
    const char* dir;
    const char* name;
    int kind;
  };
  const Case cases[] = {
      {"C:\\dir\\sub\\file.txt", "C:", "dir\\sub\\", "file.txt", 2},
      {"\\\\srv\\share\\dir\\f.txt", "\\\\srv\\share", "dir\\", "f.txt", 2},
      {"a/b/c.txt", "", "a\\b\\", "c.txt", 1},
      {"file.txt", "", "", "file.txt", 0},
      {"dir\\file.txt", "", "dir\\", "file.txt", 1},
      {"C:file.txt", "C:", "", "file.txt", 2},
      {"/home/pelvar/data.zip", "", "\\home\\pelvar\\", "data.zip", 2},
      {"\\\\srv\\share\\f.txt", "\\\\srv\\share", "", "f.txt", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    AnsiString drive, dir, name;
    AbSplitPath(c.path, drive, dir, name);
    EXPECT_EQ(drive, c.drive);
    EXPECT_EQ(dir, c.dir);
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(AbPathKind(c.path), c.kind);
    AnsiString dropped = c.path;
    AbDropDrive(dropped);
    EXPECT_EQ(dropped, AnsiString(c.dir) + c.name);
  }

  EXPECT_EQ(AbWithTrailingBackslash(""), "");
  EXPECT_EQ(AbWithTrailingBackslash("C:"), "C:");
  EXPECT_EQ(AbWithTrailingBackslash("C:\\dir\\"), "C:\\dir\\");
  EXPECT_EQ(AbWithTrailingBackslash("C:\\dir"), "C:\\dir\\");
  EXPECT_EQ(AbNthBackslashEnd("\\\\srv\\share\\dir\\", 4), 11);
  EXPECT_EQ(AbNthBackslashEnd("a\\b", 4), 3);

  TStringList dirs;
  AbSplitDirs("dir\\sub\\deep\\", dirs);
  EXPECT_EQ(Names(dirs), (Names_t{"dir", "sub", "deep"}));
  dirs.Clear();
  AbSplitDirs("", dirs);
  EXPECT_EQ(dirs.Count(), 0);

  AnsiString refs = "..\\..\\a\\..\\b";
  AbDropParentRefs(refs);
  EXPECT_EQ(refs, "a\\..\\b");
  AnsiString slashes = "a\\b/c";
  AbToForwardSlashes(slashes);
  EXPECT_EQ(slashes, "a/b/c");
  AbToBackslashes(slashes);
  EXPECT_EQ(slashes, "a\\b\\c");
}

TEST(AbUtilsTest, SpanVolumeNames) {
  struct Case {
    const char* name;
    int number;
    const char* expected;
  };
  const Case cases[] = {
      {"archive.zip", 1, "archive.z01"}, {"data", 7, "data.07"},        {"backup.zip", 123, "backup.z23"},
      {"x.", 5, "x.05"},                {"a.b\\c", 2, "a.b\\c.02"},     {"/tmp/p.v.zip", 99, "/tmp/p.v.z99"},
  };
  for (const auto& c : cases) EXPECT_EQ(AbSpanVolumeName(c.name, c.number), c.expected) << c.name;
}

TEST(AbUtilsTest, PercentOf) {
  struct Case {
    int32_t part, whole, expected;
  };
  const Case cases[] = {
      {5, 0, 0},   {7, 7, 100},  {1, 3, 33},           {50000000, 100000000, 50},
      {0, 10, 0},  {11, 10, 100}, {5, -1, 0},          {2000000000, 2100000000, 95},
      {16383999, 16384000, 99},   {1, 2147483647, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(AbPercentOf(c.part, c.whole), c.expected) << c.part << "/" << c.whole;
}

TEST(AbUtilsTest, UnixTimeAndAttributes) {
  const double jan1_1970 = 25569.0;
  EXPECT_DOUBLE_EQ(AbUnixSecondsToDateTime(0), jan1_1970);
  EXPECT_NEAR(AbUnixSecondsToDateTime(108000), jan1_1970 + 1.25, 1e-9);
  EXPECT_NEAR(AbUnixSecondsToDateTime(-86400 + 3600), jan1_1970 - 1 + 1.0 / 24, 1e-9);
  EXPECT_EQ(AbDateTimeToUnixSeconds(jan1_1970 + 1.25), 108000);
  EXPECT_EQ(AbDateTimeToUnixSeconds(jan1_1970 - 10 + 0.5), 43200);  // only its time of day
  // Round trips through a range of real time stamps.
  for (int32_t s : {0, 1, 59, 86399, 86400, 1234567890, 2147483647}) {
    EXPECT_EQ(AbDateTimeToUnixSeconds(AbUnixSecondsToDateTime(s)), s) << s;
  }

  EXPECT_EQ(AbDosAttrToUnixMode(AbFaReadOnly), 0444);
  EXPECT_EQ(AbDosAttrToUnixMode(AbFaArchive), 0744);
  struct ModeCase {
    int32_t mode, attr;
  };
  const ModeCase modes[] = {
      {040755, AbFaDirectory}, {0100444, AbFaReadOnly}, {0100644, 0},
      {0120777, AbFaSysFile},  {010644, AbFaSysFile},   {020600, AbFaSysFile},
      {060600, AbFaSysFile},   {0140755, AbFaSysFile},  {0444, AbFaReadOnly},
      {040555, AbFaDirectory | AbFaReadOnly},
  };
  for (const auto& m : modes) EXPECT_EQ(AbUnixModeToDosAttr(m.mode), m.attr) << std::oct << m.mode;
}

TEST(AbUtilsTest, DosFileDates) {
  // 2024-02-29 13:45:58 local time packs and unpacks exactly (two-second units).
  const int32_t packed = ((2024 - 1980) << 25) | (2 << 21) | (29 << 16) | (13 << 11) | (45 << 5) | 29;
  const TDateTime dt = AbFileDateToDateTime(packed);
  EXPECT_EQ(AbDateTimeToFileDate(dt), packed);
  EXPECT_EQ(AbDateTimeToFileDate(25569.0), 0);  // before 1980: no DOS date

  TempDir dir("abutils");
  const std::string f = dir.File("dated.txt");
  test::WriteFile(f, "x");
  ASSERT_EQ(AbFileSetDate(f, packed), 0);
  EXPECT_EQ(AbFileAge(f), packed);
  EXPECT_EQ(AbFileAge(dir.File("missing")), -1);
  EXPECT_NE(AbFileSetDate(dir.File("missing"), packed), 0);
}

TEST(AbUtilsTest, Crc32MatchesPythonZlib) {
  std::mt19937 rng(1234);
  std::string random(1 << 20, '\0');
  for (auto& c : random) c = static_cast<char>(rng());
  for (const std::string& data : {std::string(), std::string("123456789"), random}) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t off = 0; off < data.size(); off += 65535) {
      const size_t n = std::min<size_t>(65535, data.size() - off);
      AbCrc32Update(crc, data.data() + off, static_cast<uint16_t>(n));
    }
    crc = ~crc;
    const auto r = RunCommand(
        {"python3", "-c", "import sys,zlib; print(zlib.crc32(sys.stdin.buffer.read()))"}, data);
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_EQ(std::to_string(crc) + "\n", r.output) << data.size();
  }
  EXPECT_EQ(AbCrc32Byte('1', 0xFFFFFFFF), AbCrc32Table[(0xFF ^ '1')] ^ 0x00FFFFFFu);
}

TEST(AbUtilsTest, PadLockIsTakenOnlyWithThreads) {
  TAbPadLock lock;
  lock.SetHeld(false);
  EXPECT_EQ(lock.Count(), 0);
  lock.SetHeld(true);
  EXPECT_EQ(lock.Count(), 0);  // single-threaded: never taken
  lock.SetHeld(false);
  EXPECT_EQ(lock.Count(), 0);

  // With a second thread running, the lock nests and excludes the other thread.
  std::atomic<bool> stop{false};
  std::thread other([&] {
    while (!stop) std::this_thread::yield();
  });
  lock.SetHeld(true);
  lock.SetHeld(true);
  EXPECT_EQ(lock.Count(), 2);
  std::atomic<bool> got{false};
  std::thread taker([&] {
    TAbPadLock* l = &lock;
    l->SetHeld(true);
    got = true;
    l->SetHeld(false);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(got);
  lock.SetHeld(false);
  lock.SetHeld(false);
  taker.join();
  EXPECT_TRUE(got);
  EXPECT_EQ(lock.Count(), 0);
  stop = true;
  other.join();
}

TEST(AbUtilsTest, DirectoriesFilesAndMasks) {
  TempDir tmp("abutils");
  const AnsiString root = tmp.Path();
  AbMakeDirPath(root + "/a/b\\c");
  EXPECT_TRUE(AbIsDirectory(root + "/a/b/c"));
  EXPECT_TRUE(AbIsDirectory(root + "\\a\\b"));
  EXPECT_FALSE(AbIsDirectory(root + "/a/*"));
  AbMakeDirPath(root + "/a/b/c");  // nothing to do
  test::WriteFile(root + "/blocker", "");
  EXPECT_THROW(AbMakeDirPath(root + "/blocker/x"), EInOutError);
  try {
    AbMakeDirPath(root + "/blocker/x");
  } catch (const std::exception& e) {
    EXPECT_EQ(AbClassifyException(e).ErrorClass, ecInOutError);
    EXPECT_NE(AbClassifyException(e).ErrorCode, 0);
  }

  for (const char* f : {"/a/one.txt", "/a/Two.TXT", "/a/three.doc", "/a/b/four.txt", "/a/.hidden.txt",
                        "/a/b/c/five.txt"})
    test::WriteFile(root + f, "12345");

  TStringList found;
  AbCollectFiles(root + "/a/*.txt", AbFaAnyFile & ~AbFaDirectory & ~AbFaHidden, found, false);
  EXPECT_EQ(Names(found, true), (Names_t{root + "/a/Two.TXT", root + "/a/one.txt"}));

  found.Clear();
  AbCollectFiles(root + "\\a\\*.txt", AbFaAnyFile, found, true);
  EXPECT_EQ(Names(found, true), (Names_t{root + "/a/.hidden.txt", root + "/a/Two.TXT", root + "/a/b/c/five.txt",
                                root + "/a/b/four.txt", root + "/a/one.txt"}));

  found.Clear();
  AbCollectFilesMulti(" " + root + "/a/*.doc ; " + root + "/a/one.txt", 0x2F, found, false);
  EXPECT_EQ(Names(found), (Names_t{root + "/a/three.doc", root + "/a/one.txt"}));

  EXPECT_EQ(AbSizeOfFile(root + "/a/one.txt"), 5);
  EXPECT_EQ(AbSizeOfFile(root + "/a/th*.doc"), 5);
  EXPECT_EQ(AbSizeOfFile(root + "/a/none"), -1);

  EXPECT_EQ(AbReadFileAttr(root + "/a/one.txt"), AbFaArchive);
  EXPECT_EQ(AbReadFileAttr(root + "/a/b"), AbFaDirectory);
  EXPECT_EQ(AbReadFileAttr(root + "/a/none"), -1);
  EXPECT_EQ(AbWriteFileAttr(root + "/a/one.txt", AbFaReadOnly | AbFaArchive), 0);
  EXPECT_EQ(AbReadFileAttr(root + "/a/one.txt"), AbFaReadOnly | AbFaArchive);
  EXPECT_EQ(AbWriteFileAttr(root + "/a/one.txt", AbFaArchive), 0);
  EXPECT_EQ(AbReadFileAttr(root + "/a/one.txt"), AbFaArchive);
  EXPECT_NE(AbWriteFileAttr(root + "/a/none", 0), 0);

  EXPECT_EQ(AbShortPathOf(root + "\\a\\one.txt"), root + "/a/one.txt");
  try {
    AbShortPathOf(root + "/nodir/one.txt");
    ADD_FAILURE();
  } catch (const EAbException& e) {
    EXPECT_EQ(e.Message(), "Path not found");
    EXPECT_EQ(e.ErrorCode(), 0);
  }
  EXPECT_THROW(AbShortPathOf(root + "/a/nofile.txt"), EAbFileNotFound);
}

TEST(AbUtilsTest, TemporaryFileNames) {
  TempDir tmp("abutils");
  EXPECT_EQ(AbTempFileName(tmp.Path() + "\\", false), tmp.Path() + "/Qor1.TMP");
  struct stat st;
  EXPECT_NE(stat((tmp.Path() + "/Qor1.TMP").c_str(), &st), 0);  // not created

  std::set<AnsiString> names;
  for (int i = 0; i < 50; ++i) {
    const AnsiString name = AbNewTempFile(tmp.Path());
    EXPECT_EQ(name.rfind(tmp.Path() + "/Qor", 0), 0u) << name;
    EXPECT_EQ(name.substr(name.size() - 4), ".TMP");
    EXPECT_EQ(stat(name.c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_size, 0);
    EXPECT_TRUE(names.insert(name).second) << name;
  }
  // Not a directory: the temporary directory takes its place.
  const AnsiString other = AbTempFileName(tmp.Path() + "/missing", false);
  EXPECT_EQ(other.find("/missing"), AnsiString::npos);
  EXPECT_EQ(other.substr(other.size() - 8), "Qor1.TMP");
}

TEST(AbUtilsTest, DrivesAndFreeSpace) {
  EXPECT_EQ(AbDriveLetterOf("C:\\x.zip"), 'C');
  EXPECT_EQ(AbDriveLetterOf("/home/x.zip"), 'A');
  EXPECT_FALSE(AbIsOnRemovableDrive("/home/x.zip"));
  EXPECT_EQ(AbFreeSpaceOf("file.zip"), -1);
  EXPECT_EQ(AbFreeSpaceOf("dir/file.zip"), -1);
  EXPECT_EQ(AbFreeSpaceOf("C:\\file.zip"), -1);  // no drive letters here
  TempDir tmp("abutils");
  // A file that does not exist yet on an existing volume.
  const int32_t free_space = AbFreeSpaceOf(tmp.Path() + "/new/archive.zip");
  EXPECT_GT(free_space, 0);
  EXPECT_GT(AbDiskFreeForCaller(tmp.Path()), 0);
  EXPECT_EQ(AbDiskFreeForCaller("relative-that-does-not-exist"), -1);
  EXPECT_NE(AbLabelSpanDisk('A', 1), 0);
}

TEST(AbUtilsTest, OemNamesRoundTrip) {
  const AnsiString name = "P\xF8\xEDli\x9A \x9Elu\x9Duou\xE8k\xFD.txt";  // Windows-1250
  const AnsiString oem = AbCharToOem(name);
  EXPECT_NE(oem, name);
  EXPECT_EQ(AbOemToChar(oem), name);
  EXPECT_EQ(AbCharToOem("plain.txt"), "plain.txt");
}

}  // namespace
}  // namespace pelvar
