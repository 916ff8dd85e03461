// Free-standing helpers of the archive kit: a nestable lock, path and name handling,
// wildcard matching and file collection, temporary files, free space, a percentage,
// the CRC-32 step, and conversions between Unix seconds and modes and the
// framework's date-times and file attributes.
//
// Paths on Linux. Names inside archives are Windows-style (drive colon, backslash,
// UNC share) and the string helpers below keep Windows semantics for them. Paths on
// disk are POSIX: every helper that touches the disk accepts '\' and '/' alike
// (a backslash is taken as a directory separator), gives back POSIX paths, and
// reaches the file system through the UTF-8 form of the Windows-1250 name. An
// absolute POSIX path ("/home/...") is a full path (AbPathKind gives 2). There are no
// drive letters, short names, volume labels or removable-drive types on Linux: those
// helpers answer "unknown" (-1, false, the name unchanged).
// File dates are DOS packed date-times in local time; attributes are the framework's
// (DOS) attribute bits, mapped from and to POSIX modes.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "platform/classes.h"
#include "platform/types.h"

namespace pelvar {

// The framework's file attribute bits.
constexpr int32_t AbFaReadOnly = 0x01;
constexpr int32_t AbFaHidden = 0x02;
constexpr int32_t AbFaSysFile = 0x04;
constexpr int32_t AbFaVolumeID = 0x08;
constexpr int32_t AbFaDirectory = 0x10;
constexpr int32_t AbFaArchive = 0x20;
constexpr int32_t AbFaAnyFile = 0x3F;

// True when the process runs more than one thread.
bool AbIsMultiThread();

// A nestable lock that is taken only when the program runs several threads.
class TAbPadLock {
 public:
  TAbPadLock() = default;
  ~TAbPadLock();
  TAbPadLock(const TAbPadLock&) = delete;
  TAbPadLock& operator=(const TAbPadLock&) = delete;

  void SetHeld(bool Value);
  bool Locked() const { return count_ > 0; }
  int32_t Count() const { return count_; }

 private:
  int32_t count_ = 0;
  std::recursive_mutex section_;
};

// --- Paths and names (Windows-style strings) ---
AnsiString AbWithTrailingBackslash(const AnsiString& S);
int32_t AbNthBackslashEnd(const AnsiString& S, int32_t N);
// 0 a bare name, 1 a relative path, 2 an absolute path (a colon or a double
// backslash anywhere, or a leading '/').
int32_t AbPathKind(const AnsiString& S);
void AbSplitPath(const AnsiString& Path, AnsiString& Drive, AnsiString& Dir, AnsiString& Name);
void AbSplitDirs(const AnsiString& Dir, TStrings& List);
void AbDropParentRefs(AnsiString& Path);
void AbDropDrive(AnsiString& Path);
void AbToForwardSlashes(AnsiString& Path);
void AbToBackslashes(AnsiString& Path);
AnsiString AbSpanVolumeName(const AnsiString& FileName, int32_t Number);
// Case-sensitive wildcard match of Source from SourcePos against Pattern from
// PatternPos (both counted from 1).
bool AbWildMatch(const AnsiString& Source, int32_t SourcePos, const AnsiString& Pattern,
                 int32_t PatternPos);

// --- Disk paths ---
// Path with every backslash turned into '/'.
AnsiString AbDiskPath(const AnsiString& Path);
// The Linux (UTF-8) name of a disk path.
std::string AbSysPath(const AnsiString& Path);
// Linux has no short names: the existing file's path itself. A missing directory
// raises EAbException "Path not found" (code 0), a missing file EAbFileNotFound.
AnsiString AbShortPathOf(const AnsiString& Path);
bool AbIsDirectory(const AnsiString& Path);
// Creates every missing directory of Path; a failure raises EAbInOutError.
void AbMakeDirPath(const AnsiString& Path);
void AbCollectFiles(const AnsiString& Mask, int32_t Attributes, TStrings& List, bool Recurse);
void AbCollectFilesMulti(const AnsiString& Masks, int32_t Attributes, TStrings& List,
                         bool Recurse);
AnsiString AbNewTempFile(const AnsiString& Dir);
// A name "Qor<hex>.TMP" in Dir (or the temporary directory when Dir is not one).
// With CreateIt the number is unique and the empty file is created; without it the
// number is 1 and nothing is created or checked.
AnsiString AbTempFileName(const AnsiString& Dir, bool CreateIt);
// The file's attributes, or -1 when it cannot be examined.
int32_t AbReadFileAttr(const AnsiString& Path);
// Sets the read-only state from Attributes; 0 on success, otherwise the system's
// error code.
int32_t AbWriteFileAttr(const AnsiString& Path, int32_t Attributes);
int64_t AbSizeOfFile(const AnsiString& Path);

// --- Drives and volumes ---
char AbDriveLetterOf(const AnsiString& FileName);
bool AbIsOnRemovableDrive(const AnsiString& FileName);
int32_t AbFreeSpaceOf(const AnsiString& Path);
int64_t AbDiskFreeByClusters(const AnsiString& Root);
int64_t AbDiskFreeForCaller(const AnsiString& Path);
int64_t AbRemovableDiskFree(const AnsiString& Path);
bool AbHasDiskFreeEx();
int32_t AbLabelVolume(const AnsiString& Label, char Drive);
int32_t AbLabelSpanDisk(char Drive, int32_t Number);

// --- Numbers and conversions ---
int32_t AbPercentOf(int32_t Part, int32_t Whole);
// The standard CRC-32 table of the reflected polynomial 0xEDB88320, computed at
// compile time.
constexpr std::array<uint32_t, 256> AbMakeCrc32Table() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}
inline constexpr std::array<uint32_t, 256> AbCrc32Table = AbMakeCrc32Table();
static_assert(AbCrc32Table[1] == 0x77073096u && AbCrc32Table[255] == 0x2D02EF8Du);
inline uint32_t AbCrc32Byte(uint8_t Byte, uint32_t Crc) {
  return AbCrc32Table[(Crc ^ Byte) & 0xFF] ^ (Crc >> 8);
}
void AbCrc32Update(uint32_t& Crc, const void* Buffer, uint16_t Length);
TDateTime AbUnixSecondsToDateTime(int32_t Seconds);
int32_t AbDateTimeToUnixSeconds(TDateTime Value);
int32_t AbDosAttrToUnixMode(int32_t Attributes);
int32_t AbUnixModeToDosAttr(int32_t Mode);

// DOS packed date-times (local time): date in the high 16 bits, time in the low.
int32_t AbDateTimeToFileDate(TDateTime Value);
TDateTime AbFileDateToDateTime(int32_t FileDate);
// The file's modification time as a DOS date-time, -1 when it cannot be read.
int32_t AbFileAge(const AnsiString& Path);
// Sets the file's modification time; 0 on success, otherwise the system's error code.
int32_t AbFileSetDate(const AnsiString& Path, int32_t FileDate);

// Names in zip archives are in the OEM code page 852.
AnsiString AbCharToOem(const AnsiString& S);
AnsiString AbOemToChar(const AnsiString& S);

}  // namespace pelvar
