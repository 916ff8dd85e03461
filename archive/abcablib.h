// The cabinet library of the kit: reading and writing Microsoft cabinet files through
// calls shaped like the Windows library's decompression (FDI) and compression (FCI)
// interfaces, as far as the archive kit uses them.
//
// Writing is the kit's own: uncompressed, MSZIP (the kit's deflate, one independent
// deflate stream per 32 KB block) and LZX folders (valid LZX streams made of
// uncompressed LZX blocks, so LZX cabinets are no smaller than uncompressed ones),
// a set of cabinets split at a maximum cabinet size with the continuation flags and
// the names of the previous and next cabinets; each file in a folder of its own.
// Quantum folders and reserve areas are not written. The compressed data of every
// file added is held in memory until the context is destroyed.
//
// Reading lists a cabinet from its own headers and takes the data out through
// libmspack (libmspack.so.0, loaded at run time on first use): every compression
// type (none, MSZIP, Quantum, LZX), block checksums checked, and files continuing
// into or from other cabinets of the set, which are found beside the cabinet by the
// names its header gives. Where libmspack cannot be loaded, FDICreate fails and
// CabinetLibraryAvailable() is false; writing does not need it.
//
// Names inside a cabinet are handed over as the cabinet stores them (bytes, without
// conversion); file names on disk are Windows-1250 paths (UTF-8 on the file system).
#pragma once

#include <cstdint>
#include <functional>

#include "platform/types.h"

namespace pelvar {

// ---------------------------------------------------------------------------
// Binding.

// Loads the reading library on first use (once per run); true when every entry point
// is there.
bool LoadCabinetLibrary();
bool CabinetLibraryAvailable();
// Points the loader at another library file and forgets the current binding (for
// tests: a missing name makes every later call fail). An empty name restores the
// default. No context of the old binding may be alive.
void SetCabinetLibraryName(const AnsiString& name);

// ---------------------------------------------------------------------------
// Shared records.

// The library's error record: fError set when a call failed, erfOper the error code.
struct ERF {
  int32_t erfOper = 0;
  int32_t erfType = 0;
  bool fError = false;
};

// Compression types as the library takes them.
constexpr uint16_t tcompMASK_TYPE = 0x000F;
constexpr uint16_t tcompTYPE_NONE = 0x0000;
constexpr uint16_t tcompTYPE_MSZIP = 0x0001;
constexpr uint16_t tcompTYPE_QUANTUM = 0x0002;
constexpr uint16_t tcompTYPE_LZX = 0x0003;
// LZX with a window of 2^18 bytes.
constexpr uint16_t tcompLZX_18 = 0x1203;

// ---------------------------------------------------------------------------
// Decompression.

enum FDIERROR : int32_t {
  FDIERROR_NONE = 0,
  FDIERROR_CABINET_NOT_FOUND = 1,
  FDIERROR_NOT_A_CABINET = 2,
  FDIERROR_UNKNOWN_CABINET_VERSION = 3,
  FDIERROR_CORRUPT_CABINET = 4,
  FDIERROR_ALLOC_FAIL = 5,
  FDIERROR_BAD_COMPR_TYPE = 6,
  FDIERROR_MDI_FAIL = 7,
  FDIERROR_TARGET_FILE = 8,
  FDIERROR_RESERVE_MISMATCH = 9,
  FDIERROR_WRONG_CABINET = 10,
  FDIERROR_USER_ABORT = 11,
};

struct FDICABINETINFO {
  int32_t cbCabinet = 0;
  uint16_t cFolders = 0;
  uint16_t cFiles = 0;
  uint16_t setID = 0;
  uint16_t iCabinet = 0;
  bool fReserve = false;
  bool hasprev = false;
  bool hasnext = false;
};

enum FDINOTIFICATIONTYPE : int32_t {
  fdintCABINET_INFO = 0,
  fdintPARTIAL_FILE = 1,
  fdintCOPY_FILE = 2,
  fdintCLOSE_FILE_INFO = 3,
  fdintNEXT_CABINET = 4,
  fdintENUMERATE = 5,
};

struct FDINOTIFICATION {
  int32_t cb = 0;       // fdintCOPY_FILE: the file's size
  AnsiString psz1;      // the file's name in the cabinet; next cabinet's name
  AnsiString psz2;      // next disk's name
  AnsiString psz3;      // the cabinet's path
  void* pv = nullptr;   // the caller's context of FDICopy
  intptr_t hf = 0;      // fdintCLOSE_FILE_INFO: the handle fdintCOPY_FILE gave
  uint16_t date = 0;    // DOS date and time, and the file's attributes
  uint16_t time = 0;
  uint16_t attribs = 0;
  uint16_t setID = 0;
  uint16_t iCabinet = 0;
  uint16_t iFolder = 0;
  FDIERROR fdie = FDIERROR_NONE;
};

// The notification handler of FDICopy. fdintCOPY_FILE answers 0 to skip the file,
// -1 to abort, or a handle of the caller's choice to which the file's bytes are then
// written through the write callback, followed by fdintCLOSE_FILE_INFO with that
// handle (answer true to go on). Other notices answer 0 to go on, -1 to abort.
using PFNFDINOTIFY = std::function<intptr_t(FDINOTIFICATIONTYPE fdint, FDINOTIFICATION& pfdin)>;
// Writes cb bytes to the caller's handle; gives the number written (fewer fails the copy).
using PFNFDIWRITE = std::function<uint32_t(intptr_t hf, const void* pv, uint32_t cb)>;

struct FDIContext;
using HFDI = FDIContext*;

// cpuType is accepted for compatibility (-1: left to the library). Gives nullptr and
// fills perf when the library is not there.
HFDI FDICreate(PFNFDIWRITE pfnwrite, int32_t cpuType, ERF* perf);
// True when the file is a cabinet this layer can read; fills the information.
bool FDIIsCabinet(HFDI hfdi, const AnsiString& fileName, FDICABINETINFO* pfdici);
// Walks the cabinet cabinetPath + cabinetName: fdintCABINET_INFO once, then for each
// file fdintPARTIAL_FILE (the file continues from a previous cabinet) or
// fdintCOPY_FILE, and for each file taken its bytes and fdintCLOSE_FILE_INFO. A file
// continuing into the next cabinets is read on from them; a partial file, when taken,
// is read whole from the previous cabinets. False on failure, with the error record
// of FDICreate set.
bool FDICopy(HFDI hfdi, const AnsiString& cabinetName, const AnsiString& cabinetPath, int32_t flags,
             const PFNFDINOTIFY& pfnfdin, void* pvUser);
bool FDIDestroy(HFDI hfdi);

// ---------------------------------------------------------------------------
// Compression.

enum FCIERROR : int32_t {
  FCIERR_NONE = 0,
  FCIERR_OPEN_SRC = 1,
  FCIERR_READ_SRC = 2,
  FCIERR_ALLOC_FAIL = 3,
  FCIERR_TEMP_FILE = 4,
  FCIERR_BAD_COMPR_TYPE = 5,
  FCIERR_CAB_FILE = 6,
  FCIERR_USER_ABORT = 7,
  FCIERR_MCI_FAIL = 8,
};

// The compression parameters. cb is the maximum cabinet size (0: one cabinet of any
// size); cbFolderThresh has nothing left to do, since every file has a folder of its
// own; the reserves are not written. The context reads the
// caller's record at every flush, so it must outlive the context.
struct CCAB {
  uint32_t cb = 0;
  uint32_t cbFolderThresh = 0;
  uint32_t cbReserveCFHeader = 0;
  uint32_t cbReserveCFFolder = 0;
  uint32_t cbReserveCFData = 0;
  int32_t iCab = 0;
  int32_t iDisk = 0;
  uint16_t setID = 0;
  AnsiString szDisk;
  AnsiString szCab;      // the cabinet's file name
  AnsiString szCabPath;  // its directory (with or without a trailing separator)
};

// Kinds of status reports.
constexpr uint32_t statusFile = 0;     // cb1 compressed bytes made, cb2 bytes of the file read since the last report
constexpr uint32_t statusFolder = 1;   // cb1, cb2: folder bytes so far, of the total
constexpr uint32_t statusCabinet = 2;  // cb2: the cabinet's size; the answer is accepted

struct FCICallbacks {
  // A file has been placed in the cabinet.
  std::function<int32_t(CCAB& pccab, const AnsiString& pszFile, int32_t cbFile, bool fContinuation,
                        void* pv)>
      fnFilePlaced;
  // The source file's DOS date, time and attributes, asked when it is added; false
  // fails the add (err set).
  std::function<bool(const AnsiString& pszName, uint16_t& pdate, uint16_t& ptime, uint16_t& pattribs,
                     int32_t& err, void* pv)>
      fnGetOpenInfo;
  // Progress; -1 aborts.
  std::function<int32_t(uint32_t typeStatus, uint32_t cb1, uint32_t cb2, void* pv)> fnStatus;
  // The parameters of the next cabinet of a set (iCab already counted on): sets szCab
  // (and may set szDisk); false stops the flush.
  std::function<bool(CCAB& pccab, uint32_t cbPrevCab, void* pv)> fnGetNextCabinet;
};

struct FCIContext;
using HFCI = FCIContext*;

HFCI FCICreate(ERF* perf, const FCICallbacks& callbacks, CCAB* pccab, void* pv);
// Compresses the source file under pszFileName into the current folder, reporting
// statusFile as it goes, into a folder of its own. False
// when the file cannot be read, the type cannot be written (Quantum) or the status
// handler aborts; the folder is then as it was.
bool FCIAddFile(HFCI hfci, const AnsiString& pszSourceFile, const AnsiString& pszFileName, bool fExecute,
                uint16_t typeCompress);
// Ends the current folder; later files go to a new one.
bool FCIFlushFolder(HFCI hfci);
// Writes every file added to the context so far as the cabinet szCabPath + szCab, or
// as a set of cabinets when it would be larger than cb (the next cabinets named by
// fnGetNextCabinet). The files of a set are written whole or not at all.
bool FCIFlushCabinet(HFCI hfci, bool fGetNextCab);
// Releases the context without writing anything.
bool FCIDestroy(HFCI hfci);

}  // namespace pelvar
