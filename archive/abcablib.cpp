// The kit's cabinet library: the cabinet format written here, read from its own
// headers, and its data taken out through libmspack bound at run time (the few entry
// points are looked up by name; its header gives the layout of its records).
#include "archive/abcablib.h"

#include <mspack.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "archive/abdfbase.h"
#include "archive/abdfenc.h"
#include "archive/abutils.h"
#include "platform/oslayer.h"
#include "platform/streams.h"

namespace pelvar {

namespace {

// ---------------------------------------------------------------------------
// The format.

constexpr uint32_t kFrame = 32768;          // uncompressed bytes of a data block
constexpr uint32_t kHeaderSize = 36;        // the fixed cabinet header
constexpr uint16_t kFlagPrev = 0x0001;      // the cabinet continues a previous one
constexpr uint16_t kFlagNext = 0x0002;      // the cabinet continues into a next one
constexpr uint16_t kFlagReserve = 0x0004;   // reserve areas present
constexpr uint16_t kContinuedFromPrev = 0xFFFD;
constexpr uint16_t kContinuedToNext = 0xFFFE;
constexpr uint16_t kContinuedPrevAndNext = 0xFFFF;
// The most a folder holds: 65535 data blocks.
constexpr uint64_t kFolderLimit = 65535ull * kFrame;

uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | (static_cast<uint32_t>(Get16(p + 2)) << 16); }
void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
void Set32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The checksum of a data block: the XOR of the little-endian 32-bit words, the last
// 1 to 3 bytes taken high byte first.
uint32_t BlockChecksum(const uint8_t* p, size_t n, uint32_t seed) {
  uint32_t c = seed;
  size_t i = 0;
  for (; i + 4 <= n; i += 4) c ^= Get32(p + i);
  uint32_t rest = 0;
  for (; i < n; ++i) rest = (rest << 8) | p[i];
  return c ^ rest;
}

AnsiString JoinPath(const AnsiString& dir, const AnsiString& name) {
  if (dir.empty()) return name;
  const char last = dir.back();
  if (last == '/' || last == '\\') return dir + name;
  return dir + "/" + name;
}

void SetError(ERF* erf, int32_t oper) {
  if (erf == nullptr) return;
  erf->erfOper = oper;
  erf->erfType = 0;
  erf->fError = true;
}

// ---------------------------------------------------------------------------
// Reading the headers.

struct CabEntry {
  AnsiString name;
  uint32_t size = 0;
  uint32_t offset = 0;
  uint16_t folder = 0;
  uint16_t date = 0;
  uint16_t time = 0;
  uint16_t attribs = 0;
};

struct CabHeader {
  FDICABINETINFO info;
  AnsiString prev_cab, prev_disk, next_cab, next_disk;
  std::vector<CabEntry> files;
};

// Reads the headers of a cabinet (with the file list when WithFiles).
bool ReadCabinet(const AnsiString& path, CabHeader& h, FDIERROR& error, bool with_files) {
  FILE* f = std::fopen(AbSysPath(path).c_str(), "rb");
  if (f == nullptr) {
    error = FDIERROR_CABINET_NOT_FOUND;
    return false;
  }
  std::unique_ptr<FILE, int (*)(FILE*)> closer(f, &std::fclose);
  uint8_t fixed[kHeaderSize];
  if (std::fread(fixed, 1, sizeof fixed, f) != sizeof fixed || std::memcmp(fixed, "MSCF", 4) != 0) {
    error = FDIERROR_NOT_A_CABINET;
    return false;
  }
  if (fixed[25] != 1 || fixed[24] != 3) {
    error = FDIERROR_UNKNOWN_CABINET_VERSION;
    return false;
  }
  const uint16_t flags = Get16(fixed + 30);
  h.info.cbCabinet = static_cast<int32_t>(Get32(fixed + 8));
  h.info.cFolders = Get16(fixed + 26);
  h.info.cFiles = Get16(fixed + 28);
  h.info.setID = Get16(fixed + 32);
  h.info.iCabinet = Get16(fixed + 34);
  h.info.hasprev = (flags & kFlagPrev) != 0;
  h.info.hasnext = (flags & kFlagNext) != 0;
  h.info.fReserve = (flags & kFlagReserve) != 0;
  const uint32_t files_at = Get32(fixed + 16);

  // The header's variable part, the folders and the file entries: names are at most
  // 256 bytes with their terminator.
  std::fseek(f, 0, SEEK_END);
  const long file_size = std::ftell(f);
  const uint64_t want = static_cast<uint64_t>(std::max<uint32_t>(files_at, kHeaderSize)) +
                        (with_files ? static_cast<uint64_t>(h.info.cFiles) * (16 + 257) : 0) + 4 + 255 * 4 + 4;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(want, static_cast<uint64_t>(std::max(0L, file_size))));
  std::string buf(n, '\0');
  std::fseek(f, 0, SEEK_SET);
  if (std::fread(buf.data(), 1, n, f) != n) {
    error = FDIERROR_CORRUPT_CABINET;
    return false;
  }
  const auto* d = reinterpret_cast<const uint8_t*>(buf.data());
  size_t at = kHeaderSize;
  if (h.info.fReserve) {
    if (at + 4 > n) {
      error = FDIERROR_CORRUPT_CABINET;
      return false;
    }
    at += 4 + Get16(d + at);
  }
  auto read_name = [&](AnsiString& out) {
    if (at > n) return false;
    const void* end = std::memchr(d + at, 0, std::min<size_t>(n - at, 257));
    if (end == nullptr) return false;
    const size_t len = static_cast<const uint8_t*>(end) - (d + at);
    out.assign(reinterpret_cast<const char*>(d + at), len);
    at += len + 1;
    return true;
  };
  if ((h.info.hasprev && !(read_name(h.prev_cab) && read_name(h.prev_disk))) ||
      (h.info.hasnext && !(read_name(h.next_cab) && read_name(h.next_disk)))) {
    error = FDIERROR_CORRUPT_CABINET;
    return false;
  }
  if (!with_files) {
    error = FDIERROR_NONE;
    return true;
  }
  at = files_at;
  for (uint32_t i = 0; i < h.info.cFiles; ++i) {
    if (at + 16 > n) {
      error = FDIERROR_CORRUPT_CABINET;
      return false;
    }
    CabEntry e;
    e.size = Get32(d + at);
    e.offset = Get32(d + at + 4);
    e.folder = Get16(d + at + 8);
    e.date = Get16(d + at + 10);
    e.time = Get16(d + at + 12);
    e.attribs = Get16(d + at + 14);
    at += 16;
    if (!read_name(e.name) || (e.folder < kContinuedFromPrev && e.folder >= h.info.cFolders)) {
      error = FDIERROR_CORRUPT_CABINET;
      return false;
    }
    h.files.push_back(std::move(e));
  }
  error = FDIERROR_NONE;
  return true;
}

// ---------------------------------------------------------------------------
// Binding of the reading library.

constexpr const char* kDefaultLibrary = "libmspack.so.0";

struct Api {
  HMODULE module = nullptr;
  mscab_decompressor* (*create)(mspack_system*) = nullptr;
  void (*destroy)(mscab_decompressor*) = nullptr;
  int (*selftest)(int) = nullptr;
};

std::mutex g_mutex;
AnsiString g_library_name = kDefaultLibrary;
bool g_tried = false;
std::unique_ptr<Api> g_api;

template <typename F>
bool Bind(HMODULE module, F& slot, const char* name) {
  slot = reinterpret_cast<F>(GetProcAddress(module, name));
  return slot != nullptr;
}

std::unique_ptr<Api> LoadApi(const AnsiString& name) {
  auto api = std::make_unique<Api>();
  api->module = LoadLibrary(name);
  if (api->module == nullptr) return nullptr;
  // The library must have been built with this program's file offset size.
  if (!Bind(api->module, api->create, "mspack_create_cab_decompressor") ||
      !Bind(api->module, api->destroy, "mspack_destroy_cab_decompressor") ||
      !Bind(api->module, api->selftest, "mspack_sys_selftest_internal") ||
      api->selftest(static_cast<int>(sizeof(off_t))) != MSPACK_ERR_OK) {
    FreeLibrary(api->module);
    return nullptr;
  }
  return api;
}

Api* TheApi() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_tried) {
    g_tried = true;
    g_api = LoadApi(g_library_name);
  }
  return g_api.get();
}

// ---------------------------------------------------------------------------
// The file system the reading library works through: cabinets are read from disk,
// the file being extracted goes to the caller's write callback.

constexpr const char* kSinkName = "\x01sink";

struct CabSystem;

struct SysFile {
  FILE* f = nullptr;
  CabSystem* sink = nullptr;
};

struct CabSystem {
  mspack_system sys;  // first: the library hands it back as its self
  const PFNFDIWRITE* write = nullptr;
  intptr_t handle = 0;
  bool write_failed = false;
};

mspack_file* SysOpen(mspack_system* self, const char* filename, int mode) {
  auto* owner = reinterpret_cast<CabSystem*>(self);
  if (mode == MSPACK_SYS_OPEN_WRITE && std::strcmp(filename, kSinkName) == 0)
    return reinterpret_cast<mspack_file*>(new SysFile{nullptr, owner});
  if (mode != MSPACK_SYS_OPEN_READ) return nullptr;
  FILE* f = std::fopen(filename, "rb");
  if (f == nullptr) return nullptr;
  return reinterpret_cast<mspack_file*>(new SysFile{f, nullptr});
}

void SysClose(mspack_file* file) {
  auto* sf = reinterpret_cast<SysFile*>(file);
  if (sf == nullptr) return;
  if (sf->f != nullptr) std::fclose(sf->f);
  delete sf;
}

int SysRead(mspack_file* file, void* buffer, int bytes) {
  auto* sf = reinterpret_cast<SysFile*>(file);
  if (sf == nullptr || sf->f == nullptr || bytes < 0) return -1;
  const size_t got = std::fread(buffer, 1, static_cast<size_t>(bytes), sf->f);
  if (got == 0 && std::ferror(sf->f)) return -1;
  return static_cast<int>(got);
}

int SysWrite(mspack_file* file, void* buffer, int bytes) {
  auto* sf = reinterpret_cast<SysFile*>(file);
  if (sf == nullptr || sf->sink == nullptr || bytes < 0) return -1;
  CabSystem& owner = *sf->sink;
  if (bytes == 0) return 0;
  if (owner.write == nullptr || !*owner.write ||
      (*owner.write)(owner.handle, buffer, static_cast<uint32_t>(bytes)) != static_cast<uint32_t>(bytes)) {
    owner.write_failed = true;
    return -1;
  }
  return bytes;
}

int SysSeek(mspack_file* file, off_t offset, int mode) {
  auto* sf = reinterpret_cast<SysFile*>(file);
  if (sf == nullptr || sf->f == nullptr) return -1;
  const int whence = mode == MSPACK_SYS_SEEK_START ? SEEK_SET : mode == MSPACK_SYS_SEEK_CUR ? SEEK_CUR : SEEK_END;
  return fseeko(sf->f, offset, whence) == 0 ? 0 : -1;
}

off_t SysTell(mspack_file* file) {
  auto* sf = reinterpret_cast<SysFile*>(file);
  if (sf == nullptr || sf->f == nullptr) return -1;
  return ftello(sf->f);
}

void SysMessage(mspack_file*, const char*, ...) {}
void* SysAlloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void SysFree(void* p) { std::free(p); }
void SysCopy(void* src, void* dest, size_t bytes) { std::memmove(dest, src, bytes); }

}  // namespace

// ---------------------------------------------------------------------------

bool LoadCabinetLibrary() { return TheApi() != nullptr; }
bool CabinetLibraryAvailable() { return LoadCabinetLibrary(); }

void SetCabinetLibraryName(const AnsiString& name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_api) FreeLibrary(g_api->module);
  g_api.reset();
  g_tried = false;
  g_library_name = name.empty() ? AnsiString(kDefaultLibrary) : name;
}

// ---------------------------------------------------------------------------
// Decompression.

struct FDIContext {
  Api* api = nullptr;
  PFNFDIWRITE write;
  ERF* erf = nullptr;
  CabSystem system;
  mscab_decompressor* d = nullptr;
};

HFDI FDICreate(PFNFDIWRITE pfnwrite, int32_t /*cpuType*/, ERF* perf) {
  Api* api = TheApi();
  if (api == nullptr) {
    SetError(perf, FDIERROR_ALLOC_FAIL);
    return nullptr;
  }
  auto ctx = std::make_unique<FDIContext>();
  ctx->api = api;
  ctx->write = std::move(pfnwrite);
  ctx->erf = perf;
  mspack_system& s = ctx->system.sys;
  s.open = &SysOpen;
  s.close = &SysClose;
  s.read = &SysRead;
  s.write = &SysWrite;
  s.seek = &SysSeek;
  s.tell = &SysTell;
  s.message = &SysMessage;
  s.alloc = &SysAlloc;
  s.free = &SysFree;
  s.copy = &SysCopy;
  s.null_ptr = nullptr;
  ctx->system.write = &ctx->write;
  ctx->d = api->create(&s);
  if (ctx->d == nullptr) {
    SetError(perf, FDIERROR_ALLOC_FAIL);
    return nullptr;
  }
  if (perf != nullptr) *perf = ERF{};
  return ctx.release();
}

bool FDIDestroy(HFDI hfdi) {
  if (hfdi == nullptr) return false;
  hfdi->api->destroy(hfdi->d);
  delete hfdi;
  return true;
}

bool FDIIsCabinet(HFDI hfdi, const AnsiString& fileName, FDICABINETINFO* pfdici) {
  if (hfdi == nullptr) return false;
  CabHeader h;
  FDIERROR error = FDIERROR_NONE;
  if (!ReadCabinet(fileName, h, error, false)) {
    SetError(hfdi->erf, error);
    return false;
  }
  if (pfdici != nullptr) *pfdici = h.info;
  return true;
}

namespace {

struct Taken {
  const CabEntry* entry;
  intptr_t handle;
  FDINOTIFICATION notice;
};

bool IsFromPrev(uint16_t folder) { return folder == kContinuedFromPrev || folder == kContinuedPrevAndNext; }

// Takes the files out through the library: the cabinet joined with the next
// cabinets of its set (and with the previous ones when a partial file is taken).
FDIERROR ExtractTaken(HFDI hfdi, const AnsiString& full, const AnsiString& dir, std::vector<Taken>& taken) {
  mscab_decompressor* d = hfdi->d;
  std::set<AnsiString> seen{AbDiskPath(full)};
  // The library keeps the names it was given: they live until the set is closed.
  std::deque<std::string> names;
  auto open_path = [&](const AnsiString& path) {
    names.push_back(AbSysPath(path));
    return d->open(d, names.back().c_str());
  };
  auto open = [&](const char* name) -> mscabd_cabinet* {
    if (name == nullptr || *name == '\0') return nullptr;
    const AnsiString path = AbDiskPath(JoinPath(dir, name));
    if (!seen.insert(path).second) return nullptr;  // a set that names a cabinet twice
    return open_path(path);
  };
  mscabd_cabinet* cab = open_path(full);
  if (cab == nullptr) return FDIERROR_CORRUPT_CABINET;
  mscabd_cabinet* first = cab;
  for (mscabd_cabinet* last = cab; last->nextname != nullptr;) {
    mscabd_cabinet* next = open(last->nextname);
    if (next == nullptr) break;
    if (d->append(d, last, next) != MSPACK_ERR_OK) {
      d->close(d, next);
      break;
    }
    last = next;
  }
  const bool partial =
      std::any_of(taken.begin(), taken.end(), [](const Taken& t) { return IsFromPrev(t.entry->folder); });
  while (partial && first->prevname != nullptr) {
    mscabd_cabinet* prev = open(first->prevname);
    if (prev == nullptr) break;
    if (d->prepend(d, first, prev) != MSPACK_ERR_OK) {
      d->close(d, prev);
      break;
    }
    first = prev;
  }
  FDIERROR result = FDIERROR_NONE;
  for (const Taken& t : taken) {
    mscabd_file* file = first->files;
    while (file != nullptr && !(t.entry->name == file->filename && file->length == t.entry->size &&
                                file->offset == t.entry->offset))
      file = file->next;
    if (file == nullptr) {
      result = FDIERROR_CORRUPT_CABINET;
      break;
    }
    hfdi->system.handle = t.handle;
    hfdi->system.write_failed = false;
    if (d->extract(d, file, kSinkName) != MSPACK_ERR_OK) {
      result = hfdi->system.write_failed ? FDIERROR_TARGET_FILE : FDIERROR_CORRUPT_CABINET;
      break;
    }
  }
  d->close(d, first);
  return result;
}

}  // namespace

bool FDICopy(HFDI hfdi, const AnsiString& cabinetName, const AnsiString& cabinetPath, int32_t /*flags*/,
             const PFNFDINOTIFY& pfnfdin, void* pvUser) {
  if (hfdi == nullptr) return false;
  auto fail = [&](FDIERROR error) {
    SetError(hfdi->erf, error);
    return false;
  };
  const AnsiString full = JoinPath(cabinetPath, cabinetName);
  CabHeader h;
  FDIERROR header_error = FDIERROR_NONE;
  if (!ReadCabinet(full, h, header_error, true)) return fail(header_error);

  FDINOTIFICATION notice;
  notice.pv = pvUser;
  notice.psz1 = h.next_cab;
  notice.psz2 = h.next_disk;
  notice.psz3 = cabinetPath;
  notice.setID = h.info.setID;
  notice.iCabinet = h.info.iCabinet;
  if (pfnfdin(fdintCABINET_INFO, notice) == -1) return fail(FDIERROR_USER_ABORT);

  std::vector<Taken> taken;
  for (const CabEntry& e : h.files) {
    FDINOTIFICATION n;
    n.pv = pvUser;
    n.psz1 = e.name;
    n.psz3 = cabinetPath;
    n.cb = static_cast<int32_t>(e.size);
    n.date = e.date;
    n.time = e.time;
    n.attribs = e.attribs;
    n.iFolder = e.folder;
    n.setID = h.info.setID;
    n.iCabinet = h.info.iCabinet;
    const intptr_t answer = pfnfdin(IsFromPrev(e.folder) ? fdintPARTIAL_FILE : fdintCOPY_FILE, n);
    if (answer == -1) return fail(FDIERROR_USER_ABORT);
    if (answer != 0) taken.push_back({&e, answer, n});
  }
  if (taken.empty()) return true;

  const FDIERROR error = ExtractTaken(hfdi, full, cabinetPath, taken);
  bool ok = error == FDIERROR_NONE;
  if (!ok) SetError(hfdi->erf, error);
  // Every handle given is closed, also after a failure.
  for (Taken& t : taken) {
    t.notice.hf = t.handle;
    if (pfnfdin(fdintCLOSE_FILE_INFO, t.notice) == 0 && ok) {
      SetError(hfdi->erf, FDIERROR_TARGET_FILE);
      ok = false;
    }
  }
  return ok;
}

// ---------------------------------------------------------------------------
// Compression.

namespace {

struct Block {
  std::string data;  // as stored in the cabinet
  uint32_t ucomp = 0;
};

struct Folder {
  uint16_t type = tcompTYPE_NONE;
  std::vector<Block> blocks;
  std::string tail;  // uncompressed bytes not yet in a block (less than a block)
  uint64_t usize = 0;
  uint64_t csize = 0;
  bool closed = false;
  // The folder's files: [first_file, first_file + file_count) of the context's list.
  size_t first_file = 0;
  size_t file_count = 0;
};

struct FileRec {
  AnsiString name;
  uint32_t size = 0;
  uint32_t offset = 0;  // in the folder's uncompressed data
  uint16_t date = 0;
  uint16_t time = 0;
  uint16_t attribs = 0;
  uint32_t EntrySize() const { return 16 + static_cast<uint32_t>(name.size()) + 1; }
};

// Bits of an LZX stream: 16-bit little-endian words filled from their top bit.
struct LzxBits {
  std::string out;
  uint32_t acc = 0;
  int n = 0;
  void Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
      acc = (acc << 1) | ((value >> i) & 1);
      if (++n == 16) {
        Put16(out, acc);
        acc = 0;
        n = 0;
      }
    }
  }
};

// One frame of an LZX folder as an uncompressed LZX block: the first frame carries
// the stream header (no call translation); the block header is padded to a 16-bit
// boundary (1 to 16 bits), then come the three repeated-offset registers, the bytes,
// and a padding byte after an odd count.
void LzxFrame(bool first, const uint8_t* p, uint32_t n, std::string& out) {
  LzxBits bits;
  if (first) bits.Put(0, 1);
  bits.Put(3, 3);
  bits.Put(n >> 8, 16);
  bits.Put(n & 0xFF, 8);
  bits.Put(0, bits.n == 0 ? 16 : 16 - bits.n);
  out = std::move(bits.out);
  for (int i = 0; i < 3; ++i) Put32(out, 1);
  out.append(reinterpret_cast<const char*>(p), n);
  if (n & 1) out += '\0';
}

// One frame of an MSZIP folder: "CK" and a deflate stream of its own, or a stored
// deflate block when compressing does not pay.
void MszipFrame(const uint8_t* p, uint32_t n, std::string& out) {
  out = "CK";
  try {
    TMemoryStream source;
    source.WriteBuffer(p, n);
    source.SetPosition(0);
    TMemoryStream packed;
    TAbDeflateHelper helper;
    helper.SetInputSize(static_cast<int32_t>(n));
    Deflate(&source, &packed, &helper);
    if (packed.Size() > 0 && packed.Size() < static_cast<int64_t>(n) + 5) {
      out.append(reinterpret_cast<const char*>(packed.Memory()), static_cast<size_t>(packed.Size()));
      return;
    }
  } catch (const std::exception&) {
    // The stored form below always serves.
  }
  out += '\x01';
  Put16(out, n);
  Put16(out, ~n & 0xFFFF);
  out.append(reinterpret_cast<const char*>(p), n);
}

void MakeBlock(Folder& folder, const uint8_t* p, uint32_t n) {
  Block b;
  b.ucomp = n;
  switch (folder.type & tcompMASK_TYPE) {
    case tcompTYPE_MSZIP:
      MszipFrame(p, n, b.data);
      break;
    case tcompTYPE_LZX:
      LzxFrame(folder.blocks.empty(), p, n, b.data);
      break;
    default:
      b.data.assign(reinterpret_cast<const char*>(p), n);
      break;
  }
  folder.csize += b.data.size();
  folder.blocks.push_back(std::move(b));
}

void CloseFolder(Folder& folder) {
  if (folder.closed) return;
  if (!folder.tail.empty()) {
    MakeBlock(folder, reinterpret_cast<const uint8_t*>(folder.tail.data()), static_cast<uint32_t>(folder.tail.size()));
    folder.tail.clear();
  }
  folder.closed = true;
}

}  // namespace

struct FCIContext {
  ERF* erf = nullptr;
  FCICallbacks callbacks;
  CCAB* ccab = nullptr;
  void* pv = nullptr;
  std::vector<Folder> folders;
  std::vector<FileRec> files;
};

HFCI FCICreate(ERF* perf, const FCICallbacks& callbacks, CCAB* pccab, void* pv) {
  if (pccab == nullptr) {
    SetError(perf, FCIERR_ALLOC_FAIL);
    return nullptr;
  }
  if (perf != nullptr) *perf = ERF{};
  auto* ctx = new FCIContext;
  ctx->erf = perf;
  ctx->callbacks = callbacks;
  ctx->ccab = pccab;
  ctx->pv = pv;
  return ctx;
}

bool FCIDestroy(HFCI hfci) {
  if (hfci == nullptr) return false;
  delete hfci;
  return true;
}

bool FCIAddFile(HFCI hfci, const AnsiString& pszSourceFile, const AnsiString& pszFileName, bool /*fExecute*/,
                uint16_t typeCompress) {
  if (hfci == nullptr) return false;
  auto fail = [&](FCIERROR error) {
    SetError(hfci->erf, error);
    return false;
  };
  const uint16_t base = typeCompress & tcompMASK_TYPE;
  const uint16_t window = (typeCompress >> 8) & 0x1F;
  if (!(base == tcompTYPE_NONE || base == tcompTYPE_MSZIP || (base == tcompTYPE_LZX && window >= 15 && window <= 21)))
    return fail(FCIERR_BAD_COMPR_TYPE);
  if (pszFileName.empty() || pszFileName.size() > 255) return fail(FCIERR_OPEN_SRC);
  const std::string sys = AbSysPath(pszSourceFile);
  struct stat st;
  if (::stat(sys.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return fail(FCIERR_OPEN_SRC);
  // A folder holds at most 65535 data blocks.
  if (static_cast<uint64_t>(st.st_size) > kFolderLimit) return fail(FCIERR_READ_SRC);
  std::unique_ptr<FILE, int (*)(FILE*)> in(std::fopen(sys.c_str(), "rb"), &std::fclose);
  if (!in) return fail(FCIERR_OPEN_SRC);
  FileRec rec;
  rec.name = pszFileName;
  rec.size = static_cast<uint32_t>(st.st_size);
  if (hfci->callbacks.fnGetOpenInfo) {
    int32_t err = 0;
    if (!hfci->callbacks.fnGetOpenInfo(pszSourceFile, rec.date, rec.time, rec.attribs, err, hfci->pv))
      return fail(FCIERR_OPEN_SRC);
  }

  // Each file has a folder of its own: a folder that goes on into the next cabinet of
  // a set then holds only the file that goes on, which is what readers of cabinet
  // sets expect. Blocks are compressed each on its own, so nothing is lost by it.
  auto& folders = hfci->folders;
  if (!folders.empty()) CloseFolder(folders.back());
  const size_t old_folders = folders.size();
  {
    Folder f;
    f.type = typeCompress;
    f.first_file = hfci->files.size();
    folders.push_back(std::move(f));
  }
  Folder& folder = folders.back();
  auto undo = [&](FCIERROR error) {
    folders.resize(old_folders);
    return fail(error);
  };

  // The file's bytes join the folder's data, a block made whenever a frame is full.
  std::vector<uint8_t> chunk(kFrame);
  uint32_t left = rec.size;
  do {
    const uint32_t want = std::min<uint32_t>(left, kFrame);
    if (want > 0 && std::fread(chunk.data(), 1, want, in.get()) != want) return undo(FCIERR_READ_SRC);
    left -= want;
    const uint64_t packed_before = folder.csize;
    folder.tail.append(reinterpret_cast<const char*>(chunk.data()), want);
    while (folder.tail.size() >= kFrame) {
      MakeBlock(folder, reinterpret_cast<const uint8_t*>(folder.tail.data()), kFrame);
      folder.tail.erase(0, kFrame);
    }
    if (hfci->callbacks.fnStatus &&
        hfci->callbacks.fnStatus(statusFile, static_cast<uint32_t>(folder.csize - packed_before), want, hfci->pv) == -1)
      return undo(FCIERR_USER_ABORT);
  } while (left > 0);

  rec.offset = static_cast<uint32_t>(folder.usize);
  folder.usize += rec.size;
  ++folder.file_count;
  hfci->files.push_back(rec);
  if (hfci->callbacks.fnFilePlaced)
    hfci->callbacks.fnFilePlaced(*hfci->ccab, pszFileName, static_cast<int32_t>(rec.size), false, hfci->pv);
  return true;
}

bool FCIFlushFolder(HFCI hfci) {
  if (hfci == nullptr) return false;
  if (!hfci->folders.empty()) CloseFolder(hfci->folders.back());
  return true;
}

namespace {

// A stretch of one data block that goes into one cabinet: bytes [from, to) of the
// block as stored. A block split over two cabinets ends in the first with a stretch
// short of its end.
struct Piece {
  size_t folder;
  size_t block;  // SIZE_MAX: a folder without data
  uint32_t from;
  uint32_t to;
};

struct CabPlan {
  CCAB params;
  std::vector<Piece> pieces;
  std::string bytes;
};

// The position in the data of all folders where the next cabinet starts.
struct Position {
  size_t folder = 0;
  size_t block = 0;
  uint32_t from = 0;
};

class SetWriter {
 public:
  explicit SetWriter(FCIContext& ctx) : ctx_(ctx), folders_(ctx.folders), files_(ctx.files) {
    entry_sums_.reserve(files_.size() + 1);
    entry_sums_.push_back(0);
    for (const FileRec& f : files_) entry_sums_.push_back(entry_sums_.back() + f.EntrySize());
  }

  FCIERROR Write();

 private:
  // Whether a file lies in (or, empty, at) the uncompressed range of blocks
  // [b0, b1] of its folder.
  bool Touches(const Folder& f, const FileRec& file, size_t b0, size_t b1) const {
    const uint64_t lo = static_cast<uint64_t>(b0) * kFrame;
    const uint64_t hi = static_cast<uint64_t>(b1) * kFrame + f.blocks[b1].ucomp;
    if (file.size > 0) return file.offset < hi && file.offset + static_cast<uint64_t>(file.size) > lo;
    return file.offset >= lo && (file.offset < hi || (file.offset == hi && hi == f.usize));
  }
  // The cabinet's files of folder f for its blocks [b0, b1]: the files are in the
  // order of their offsets and follow one another, so both ends are found by halving.
  std::pair<size_t, size_t> Listed(size_t f, size_t b0, size_t b1) const {
    const Folder& folder = folders_[f];
    const auto first = files_.begin() + static_cast<ptrdiff_t>(folder.first_file);
    const auto last = first + static_cast<ptrdiff_t>(folder.file_count);
    if (folder.blocks.empty()) return {folder.first_file, folder.first_file + folder.file_count};
    const uint64_t lo = static_cast<uint64_t>(b0) * kFrame;
    const uint64_t hi = static_cast<uint64_t>(b1) * kFrame + folder.blocks[b1].ucomp;
    const auto i = std::partition_point(first, last, [&](const FileRec& file) {
      return file.size > 0 ? file.offset + static_cast<uint64_t>(file.size) <= lo : file.offset < lo;
    });
    const auto j = std::partition_point(i, last, [&](const FileRec& file) {
      return file.offset < hi || (file.size == 0 && file.offset == hi && hi == folder.usize);
    });
    return {static_cast<size_t>(i - files_.begin()), static_cast<size_t>(j - files_.begin())};
  }
  uint32_t EntryBytes(std::pair<size_t, size_t> r) const {
    return static_cast<uint32_t>(entry_sums_[r.second] - entry_sums_[r.first]);
  }
  // Fills one cabinet from pos with at most budget bytes (the header taking
  // header_size); gives the cabinet's size.
  uint64_t Fill(Position& pos, uint64_t budget, uint64_t header_size, std::vector<Piece>& pieces) const;
  std::string Build(const CabPlan& plan, size_t index, bool has_prev, const CCAB* prev, const CCAB* next) const;

  FCIContext& ctx_;
  const std::vector<Folder>& folders_;
  const std::vector<FileRec>& files_;
  std::vector<uint64_t> entry_sums_;  // the bytes of the file entries before each file
};

uint64_t NamesSize(const CCAB& c) { return c.szCab.size() + 1 + c.szDisk.size() + 1; }

uint64_t SetWriter::Fill(Position& pos, uint64_t budget, uint64_t header_size, std::vector<Piece>& pieces) const {
  uint64_t size = header_size;
  // The current folder's stretch in this cabinet: its first block and the bytes of
  // the file entries listed so far.
  size_t cur = SIZE_MAX, first_block = 0;
  uint32_t listed = 0;
  while (pos.folder < folders_.size()) {
    const Folder& folder = folders_[pos.folder];
    const bool new_folder = cur != pos.folder;
    if (folder.blocks.empty()) {
      const uint64_t add = 8 + EntryBytes(Listed(pos.folder, 0, 0));
      if (size + add > budget && !pieces.empty()) break;
      pieces.push_back({pos.folder, SIZE_MAX, 0, 0});
      size += add;
      pos = {pos.folder + 1, 0, 0};
      cur = SIZE_MAX;
      continue;
    }
    const size_t b0 = new_folder ? pos.block : first_block;
    const uint32_t entries = EntryBytes(Listed(pos.folder, b0, pos.block));
    const Block& block = folder.blocks[pos.block];
    const uint32_t rest = static_cast<uint32_t>(block.data.size()) - pos.from;
    const uint64_t overhead = (new_folder ? 8 : 0) + (entries - (new_folder ? 0 : listed)) + 8;
    if (size + overhead + rest <= budget) {
      pieces.push_back({pos.folder, pos.block, pos.from, static_cast<uint32_t>(block.data.size())});
      size += overhead + rest;
      cur = pos.folder;
      first_block = b0;
      listed = entries;
      if (++pos.block == folder.blocks.size()) {
        pos = {pos.folder + 1, 0, 0};
        cur = SIZE_MAX;
      } else {
        pos.from = 0;
      }
      continue;
    }
    // The block does not fit whole: as much of it as fits, the rest opening the next
    // cabinet (at least one byte, so that every cabinet moves on).
    const int64_t room = static_cast<int64_t>(budget) - static_cast<int64_t>(size + overhead);
    if (room >= 1 || pieces.empty()) {
      const uint32_t take = static_cast<uint32_t>(std::clamp<int64_t>(room, 1, rest));
      pieces.push_back({pos.folder, pos.block, pos.from, pos.from + take});
      size += overhead + take;
      if (pos.from + take == block.data.size()) {  // only when one byte was all there was
        if (++pos.block == folder.blocks.size()) pos = {pos.folder + 1, 0, 0};
        else pos.from = 0;
      } else {
        pos.from += take;
      }
      break;
    }
    // Nothing of it fits. A folder that goes on in the next cabinet must end here in
    // a split block: the last block placed gives up its last byte.
    if (!new_folder) {
      Piece& last = pieces.back();
      --last.to;
      --size;
      pos = {last.folder, last.block, last.to};
    }
    break;
  }
  return size;
}

std::string SetWriter::Build(const CabPlan& plan, size_t index, bool has_prev, const CCAB* prev,
                             const CCAB* next) const {
  // The folders of this cabinet, each with its pieces and listed files.
  struct CabFolder {
    size_t folder;
    size_t first_piece, piece_count;
    std::pair<size_t, size_t> files;
    bool from_prev, to_next;
  };
  std::vector<CabFolder> cf;
  for (size_t i = 0; i < plan.pieces.size(); ++i) {
    const Piece& p = plan.pieces[i];
    if (cf.empty() || cf.back().folder != p.folder) cf.push_back({p.folder, i, 0, {}, false, false});
    ++cf.back().piece_count;
  }
  for (CabFolder& c : cf) {
    const Piece& a = plan.pieces[c.first_piece];
    const Piece& z = plan.pieces[c.first_piece + c.piece_count - 1];
    if (a.block == SIZE_MAX) {
      c.files = Listed(c.folder, 0, 0);
      c.piece_count = 0;
      continue;
    }
    c.files = Listed(c.folder, a.block, z.block);
    c.from_prev = a.from > 0;
    c.to_next = z.to < folders_[c.folder].blocks[z.block].data.size();
  }

  std::string s;
  s.reserve(static_cast<size_t>(plan.params.cb > 0 ? plan.params.cb : 4096));
  s += "MSCF";
  Put32(s, 0);
  Put32(s, 0);  // the cabinet's size, set at the end
  Put32(s, 0);
  Put32(s, 0);  // where the file entries start, set below
  Put32(s, 0);
  s += '\x03';
  s += '\x01';
  Put16(s, static_cast<uint32_t>(cf.size()));
  size_t file_count = 0;
  for (const CabFolder& c : cf) file_count += c.files.second - c.files.first;
  Put16(s, static_cast<uint32_t>(file_count));
  Put16(s, (has_prev ? kFlagPrev : 0) | (next != nullptr ? kFlagNext : 0));
  Put16(s, ctx_.ccab->setID);
  Put16(s, static_cast<uint32_t>(index));
  auto name = [&](const AnsiString& n) {
    s += n;
    s += '\0';
  };
  if (has_prev) {
    name(prev->szCab);
    name(prev->szDisk);
  }
  if (next != nullptr) {
    name(next->szCab);
    name(next->szDisk);
  }
  const size_t folder_table = s.size();
  s.append(8 * cf.size(), '\0');
  Set32(s, 16, static_cast<uint32_t>(s.size()));
  for (size_t k = 0; k < cf.size(); ++k) {
    const CabFolder& c = cf[k];
    const Folder& folder = folders_[c.folder];
    const Piece* a = &plan.pieces[c.first_piece];
    const Piece* z = a + (c.piece_count > 0 ? c.piece_count - 1 : 0);
    for (size_t i = c.files.first; i < c.files.second; ++i) {
      const FileRec& f = files_[i];
      uint16_t at = static_cast<uint16_t>(k);
      if (c.piece_count > 0) {
        const bool from_prev = c.from_prev && Touches(folder, f, a->block, a->block);
        const bool to_next = c.to_next && Touches(folder, f, z->block, z->block);
        if (from_prev && to_next) at = kContinuedPrevAndNext;
        else if (from_prev) at = kContinuedFromPrev;
        else if (to_next) at = kContinuedToNext;
      }
      Put32(s, f.size);
      Put32(s, f.offset);
      Put16(s, at);
      Put16(s, f.date);
      Put16(s, f.time);
      Put16(s, f.attribs);
      name(f.name);
    }
  }
  for (size_t k = 0; k < cf.size(); ++k) {
    const CabFolder& c = cf[k];
    const Folder& folder = folders_[c.folder];
    Set32(s, folder_table + 8 * k, static_cast<uint32_t>(s.size()));
    s[folder_table + 8 * k + 4] = static_cast<char>(c.piece_count & 0xFF);
    s[folder_table + 8 * k + 5] = static_cast<char>(c.piece_count >> 8);
    s[folder_table + 8 * k + 6] = static_cast<char>(folder.type & 0xFF);
    s[folder_table + 8 * k + 7] = static_cast<char>(folder.type >> 8);
    for (size_t i = 0; i < c.piece_count; ++i) {
      const Piece& p = plan.pieces[c.first_piece + i];
      const Block& b = folder.blocks[p.block];
      const uint32_t n = p.to - p.from;
      const auto* data = reinterpret_cast<const uint8_t*>(b.data.data()) + p.from;
      std::string head;
      Put16(head, n);
      Put16(head, p.to == b.data.size() ? b.ucomp : 0);
      const uint32_t sum =
          BlockChecksum(reinterpret_cast<const uint8_t*>(head.data()), 4, BlockChecksum(data, n, 0));
      Put32(s, sum);
      s += head;
      s.append(reinterpret_cast<const char*>(data), n);
    }
  }
  Set32(s, 8, static_cast<uint32_t>(s.size()));
  return s;
}

FCIERROR SetWriter::Write() {
  const CCAB& params = *ctx_.ccab;
  const uint64_t limit = params.cb > 0 ? params.cb : 0;
  std::vector<CabPlan> plans;
  std::set<AnsiString> names;
  Position pos;
  CCAB current = params;
  do {
    const bool has_prev = !plans.empty();
    const uint64_t header = kHeaderSize + (has_prev ? NamesSize(plans.back().params) : 0);
    CabPlan plan;
    plan.params = current;
    if (!names.insert(AbDiskPath(JoinPath(current.szCabPath, current.szCab))).second) return FCIERR_CAB_FILE;
    Position end = pos;
    const Position start = pos;
    std::vector<Piece> all;
    const uint64_t whole = Fill(end, UINT64_MAX, header, all);
    if (limit == 0 || whole <= limit) {
      plan.pieces = std::move(all);
      pos = end;
    } else {
      // A next cabinet: its parameters first, since its names go in this header.
      CCAB next = current;
      next.iCab = current.iCab + 1;
      if (!ctx_.callbacks.fnGetNextCabinet || !ctx_.callbacks.fnGetNextCabinet(next, 0, ctx_.pv))
        return FCIERR_USER_ABORT;
      if (next.szCab.empty()) return FCIERR_CAB_FILE;
      Fill(pos, limit, header + NamesSize(next), plan.pieces);
      // A maximum size too small for any data at all.
      if (pos.folder == start.folder && pos.block == start.block && pos.from == start.from) return FCIERR_CAB_FILE;
      plans.push_back(std::move(plan));
      current = next;
      if (plans.size() > 0xFFFF) return FCIERR_CAB_FILE;
      continue;
    }
    plans.push_back(std::move(plan));
    break;
  } while (true);

  for (size_t i = 0; i < plans.size(); ++i) {
    plans[i].bytes = Build(plans[i], i, i > 0, i > 0 ? &plans[i - 1].params : nullptr,
                           i + 1 < plans.size() ? &plans[i + 1].params : nullptr);
    if (plans[i].bytes.size() > 0x7FFFFFFFu) return FCIERR_CAB_FILE;
  }
  // Every cabinet goes to a work file first; the set replaces the old files only
  // when all of it was written.
  std::vector<AnsiString> work;
  auto discard = [&] {
    for (const AnsiString& w : work) ::unlink(AbSysPath(w).c_str());
  };
  for (const CabPlan& plan : plans) {
    const AnsiString target = AbDiskPath(JoinPath(plan.params.szCabPath, plan.params.szCab));
    const size_t slash = target.rfind('/');
    const AnsiString temp = AbNewTempFile(slash == AnsiString::npos ? AnsiString(".") : target.substr(0, slash));
    work.push_back(temp);
    FILE* f = std::fopen(AbSysPath(temp).c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(plan.bytes.data(), 1, plan.bytes.size(), f) == plan.bytes.size();
    if (f != nullptr && std::fclose(f) != 0) ok = false;
    if (!ok) {
      discard();
      return FCIERR_CAB_FILE;
    }
  }
  for (size_t i = 0; i < plans.size(); ++i) {
    const AnsiString target = JoinPath(plans[i].params.szCabPath, plans[i].params.szCab);
    if (::rename(AbSysPath(work[i]).c_str(), AbSysPath(target).c_str()) != 0) {
      discard();
      return FCIERR_CAB_FILE;
    }
    work[i].clear();
    if (ctx_.callbacks.fnStatus &&
        ctx_.callbacks.fnStatus(statusCabinet, 0, static_cast<uint32_t>(plans[i].bytes.size()), ctx_.pv) == -1) {
      discard();
      return FCIERR_USER_ABORT;
    }
  }
  return FCIERR_NONE;
}

}  // namespace

bool FCIFlushCabinet(HFCI hfci, bool /*fGetNextCab*/) {
  if (hfci == nullptr) return false;
  if (!hfci->folders.empty()) CloseFolder(hfci->folders.back());
  const FCIERROR error = SetWriter(*hfci).Write();
  if (error != FCIERR_NONE) {
    SetError(hfci->erf, error);
    return false;
  }
  return true;
}

}  // namespace pelvar
