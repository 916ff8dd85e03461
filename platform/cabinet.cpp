// The cabinet library over libgcab, bound at run time. The few functions of libgcab,
// glib, gobject and gio that are used are declared here by hand (opaque pointers);
// libgcab's headers are not needed to build.
#include "platform/cabinet.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/oslayer.h"

namespace pelvar {

namespace {

using gboolean = int;
struct GError {
  uint32_t domain;
  int code;
  char* message;
};
struct GPtrArray {
  void** pdata;
  unsigned len;
};
struct GSList {
  void* data;
  GSList* next;
};
using GCabFileCallback = gboolean (*)(void* file, void* user_data);

constexpr const char* kDefaultLibrary = "libgcab-1.0.so.0";
// The libraries libgcab stands on, loaded first so that a missing one is noticed.
constexpr const char* kSupportLibraries[] = {"libglib-2.0.so.0", "libgobject-2.0.so.0", "libgio-2.0.so.0"};

struct Api {
  std::vector<HMODULE> modules;

  void (*g_object_unref)(void*) = nullptr;
  void (*g_error_free)(GError*) = nullptr;
  const void* (*g_bytes_get_data)(void*, size_t*) = nullptr;
  void* (*g_bytes_new)(const void*, size_t) = nullptr;
  void (*g_bytes_unref)(void*) = nullptr;
  void (*g_slist_free)(GSList*) = nullptr;
  void* (*g_date_time_new_local)(int, int, int, int, int, double) = nullptr;
  void (*g_date_time_unref)(void*) = nullptr;
  void (*g_date_time_get_ymd)(void*, int*, int*, int*) = nullptr;
  int (*g_date_time_get_hour)(void*) = nullptr;
  int (*g_date_time_get_minute)(void*) = nullptr;
  int (*g_date_time_get_second)(void*) = nullptr;
  void* (*g_file_new_for_path)(const char*) = nullptr;
  void* (*g_file_read)(void*, void*, GError**) = nullptr;
  void* (*g_file_replace)(void*, const char*, gboolean, int, void*, GError**) = nullptr;
  gboolean (*g_input_stream_close)(void*, void*, GError**) = nullptr;
  gboolean (*g_output_stream_close)(void*, void*, GError**) = nullptr;
  void* (*g_cancellable_new)() = nullptr;
  void (*g_cancellable_cancel)(void*) = nullptr;

  void* (*gcab_cabinet_new)() = nullptr;
  gboolean (*gcab_cabinet_load)(void*, void*, void*, GError**) = nullptr;
  GPtrArray* (*gcab_cabinet_get_folders)(void*) = nullptr;
  gboolean (*gcab_cabinet_add_folder)(void*, void*, GError**) = nullptr;
  gboolean (*gcab_cabinet_write_simple)(void*, void*, GCabFileCallback, void*, void*, GError**) = nullptr;
  gboolean (*gcab_cabinet_extract_simple)(void*, void*, GCabFileCallback, void*, void*, GError**) = nullptr;
  void* (*gcab_folder_new)(int) = nullptr;
  gboolean (*gcab_folder_add_file)(void*, void*, gboolean, void*, GError**) = nullptr;
  GSList* (*gcab_folder_get_files)(void*) = nullptr;
  int (*gcab_folder_get_comptype)(void*) = nullptr;
  void* (*gcab_file_new_with_bytes)(const char*, void*) = nullptr;
  void* (*gcab_file_get_bytes)(void*) = nullptr;
  const char* (*gcab_file_get_name)(void*) = nullptr;
  uint32_t (*gcab_file_get_size)(void*) = nullptr;
  uint32_t (*gcab_file_get_attributes)(void*) = nullptr;
  void (*gcab_file_set_attributes)(void*, uint32_t) = nullptr;
  void* (*gcab_file_get_date_time)(void*) = nullptr;
  void (*gcab_file_set_date_time)(void*, void*) = nullptr;
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

void Unload(Api& api) {
  for (auto it = api.modules.rbegin(); it != api.modules.rend(); ++it) FreeLibrary(*it);
  api.modules.clear();
}

std::unique_ptr<Api> LoadApi(const AnsiString& name) {
  auto api = std::make_unique<Api>();
  for (const char* support : kSupportLibraries) {
    HMODULE m = LoadLibrary(support);
    if (m == nullptr) {
      Unload(*api);
      return nullptr;
    }
    api->modules.push_back(m);
  }
  HMODULE gcab = LoadLibrary(name);
  if (gcab == nullptr) {
    Unload(*api);
    return nullptr;
  }
  api->modules.push_back(gcab);
  HMODULE glib = api->modules[0];
  HMODULE gobject = api->modules[1];
  HMODULE gio = api->modules[2];
  Api& a = *api;
  bool ok = Bind(gobject, a.g_object_unref, "g_object_unref") && Bind(glib, a.g_error_free, "g_error_free") &&
            Bind(glib, a.g_bytes_get_data, "g_bytes_get_data") && Bind(glib, a.g_bytes_new, "g_bytes_new") &&
            Bind(glib, a.g_bytes_unref, "g_bytes_unref") && Bind(glib, a.g_slist_free, "g_slist_free") &&
            Bind(glib, a.g_date_time_new_local, "g_date_time_new_local") &&
            Bind(glib, a.g_date_time_unref, "g_date_time_unref") &&
            Bind(glib, a.g_date_time_get_ymd, "g_date_time_get_ymd") &&
            Bind(glib, a.g_date_time_get_hour, "g_date_time_get_hour") &&
            Bind(glib, a.g_date_time_get_minute, "g_date_time_get_minute") &&
            Bind(glib, a.g_date_time_get_second, "g_date_time_get_second") &&
            Bind(gio, a.g_file_new_for_path, "g_file_new_for_path") && Bind(gio, a.g_file_read, "g_file_read") &&
            Bind(gio, a.g_file_replace, "g_file_replace") &&
            Bind(gio, a.g_input_stream_close, "g_input_stream_close") &&
            Bind(gio, a.g_output_stream_close, "g_output_stream_close") &&
            Bind(gio, a.g_cancellable_new, "g_cancellable_new") &&
            Bind(gio, a.g_cancellable_cancel, "g_cancellable_cancel") &&
            Bind(gcab, a.gcab_cabinet_new, "gcab_cabinet_new") &&
            Bind(gcab, a.gcab_cabinet_load, "gcab_cabinet_load") &&
            Bind(gcab, a.gcab_cabinet_get_folders, "gcab_cabinet_get_folders") &&
            Bind(gcab, a.gcab_cabinet_add_folder, "gcab_cabinet_add_folder") &&
            Bind(gcab, a.gcab_cabinet_write_simple, "gcab_cabinet_write_simple") &&
            Bind(gcab, a.gcab_cabinet_extract_simple, "gcab_cabinet_extract_simple") &&
            Bind(gcab, a.gcab_folder_new, "gcab_folder_new") &&
            Bind(gcab, a.gcab_folder_add_file, "gcab_folder_add_file") &&
            Bind(gcab, a.gcab_folder_get_files, "gcab_folder_get_files") &&
            Bind(gcab, a.gcab_folder_get_comptype, "gcab_folder_get_comptype") &&
            Bind(gcab, a.gcab_file_new_with_bytes, "gcab_file_new_with_bytes") &&
            Bind(gcab, a.gcab_file_get_bytes, "gcab_file_get_bytes") &&
            Bind(gcab, a.gcab_file_get_name, "gcab_file_get_name") &&
            Bind(gcab, a.gcab_file_get_size, "gcab_file_get_size") &&
            Bind(gcab, a.gcab_file_get_attributes, "gcab_file_get_attributes") &&
            Bind(gcab, a.gcab_file_set_attributes, "gcab_file_set_attributes") &&
            Bind(gcab, a.gcab_file_get_date_time, "gcab_file_get_date_time") &&
            Bind(gcab, a.gcab_file_set_date_time, "gcab_file_set_date_time");
  if (!ok) {
    Unload(*api);
    return nullptr;
  }
  return api;
}

// The bound library, or nullptr. Bound once until the name is changed.
Api* TheApi() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_tried) {
    g_tried = true;
    g_api = LoadApi(g_library_name);
  }
  return g_api.get();
}

// Frees a GObject, a GError, ... when the scope ends.
struct ObjectRef {
  Api* api;
  void* p;
  ObjectRef(Api* a, void* object) : api(a), p(object) {}
  ~ObjectRef() {
    if (p != nullptr) api->g_object_unref(p);
  }
  ObjectRef(const ObjectRef&) = delete;
  ObjectRef& operator=(const ObjectRef&) = delete;
};

void FreeError(Api* api, GError*& error) {
  if (error != nullptr) api->g_error_free(error);
  error = nullptr;
}

std::string SysPath(const AnsiString& path) {
  std::string p = AnsiToUtf8(path);
  for (char& c : p)
    if (c == '\\') c = '/';
  return p;
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

uint16_t DosDate(int y, int m, int d) {
  if (y < 1980) return (0 << 9) | (1 << 5) | 1;
  return static_cast<uint16_t>(((y - 1980) << 9) | (m << 5) | d);
}
uint16_t DosTime(int h, int mi, int s) { return static_cast<uint16_t>((h << 11) | (mi << 5) | (s / 2)); }

// The files of a loaded cabinet in folder order.
struct CabFile {
  void* file;  // GCabFile, owned by the cabinet
  uint16_t folder;
};

std::vector<CabFile> ListFiles(Api* api, void* cabinet) {
  std::vector<CabFile> files;
  GPtrArray* folders = api->gcab_cabinet_get_folders(cabinet);
  if (folders == nullptr) return files;
  for (unsigned i = 0; i < folders->len; ++i) {
    GSList* list = api->gcab_folder_get_files(folders->pdata[i]);
    for (GSList* l = list; l != nullptr; l = l->next) files.push_back({l->data, static_cast<uint16_t>(i)});
    api->g_slist_free(list);
  }
  return files;
}

bool ReadWholeFile(const AnsiString& path, std::string& data) {
  FILE* f = std::fopen(SysPath(path).c_str(), "rb");
  if (f == nullptr) return false;
  char buffer[65536];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) data.append(buffer, got);
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

// The checksum of a data block as the cabinet format defines it: the XOR of the
// little-endian 32-bit words, the last 1 to 3 bytes taken high byte first.
uint32_t BlockChecksum(const uint8_t* p, size_t n, uint32_t seed) {
  uint32_t c = seed;
  size_t i = 0;
  for (; i + 4 <= n; i += 4)
    c ^= static_cast<uint32_t>(p[i]) | (static_cast<uint32_t>(p[i + 1]) << 8) |
         (static_cast<uint32_t>(p[i + 2]) << 16) | (static_cast<uint32_t>(p[i + 3]) << 24);
  uint32_t rest = 0;
  switch (n - i) {
    case 3:
      rest = (static_cast<uint32_t>(p[i]) << 16) | (static_cast<uint32_t>(p[i + 1]) << 8) | p[i + 2];
      break;
    case 2:
      rest = (static_cast<uint32_t>(p[i]) << 8) | p[i + 1];
      break;
    case 1:
      rest = p[i];
      break;
    default:
      break;
  }
  return c ^ rest;
}

// Checks every data block of every folder against its checksum (0: none stored).
// The library expands blocks without checking them, so damaged data would
// otherwise come out as if it were sound.
bool DataChecksumsOk(const std::string& d) {
  auto u8 = [&](size_t at) -> uint32_t { return static_cast<uint8_t>(d[at]); };
  auto u16 = [&](size_t at) -> uint32_t { return u8(at) | (u8(at + 1) << 8); };
  auto u32 = [&](size_t at) -> uint32_t { return u16(at) | (u16(at + 2) << 16); };
  if (d.size() < 36) return false;
  const uint32_t flags = u16(30);
  const uint32_t folders = u16(26);
  size_t off = 36;
  uint32_t folder_reserve = 0, data_reserve = 0;
  if (flags & 4) {
    if (d.size() < 40) return false;
    const uint32_t header_reserve = u16(36);
    folder_reserve = u8(38);
    data_reserve = u8(39);
    off = 40 + header_reserve;
  }
  for (int names = ((flags & 1) ? 2 : 0) + ((flags & 2) ? 2 : 0); names > 0; --names) {
    const size_t end = d.find('\0', off);
    if (end == std::string::npos) return false;
    off = end + 1;
  }
  for (uint32_t f = 0; f < folders; ++f) {
    if (off + 8 > d.size()) return false;
    size_t block = u32(off);
    const uint32_t blocks = u16(off + 4);
    off += 8 + folder_reserve;
    for (uint32_t b = 0; b < blocks; ++b) {
      if (block + 8 + data_reserve > d.size()) return false;
      const uint32_t stored = u32(block);
      const uint32_t size = u16(block + 4);
      const size_t data = block + 8 + data_reserve;
      if (data + size > d.size()) return false;
      if (stored != 0) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(d.data());
        if (BlockChecksum(bytes + block + 4, 4, BlockChecksum(bytes + data, size, 0)) != stored) return false;
      }
      block = data + size;
    }
  }
  return true;
}

// Reads the fixed cabinet header (36 bytes).
bool ReadHeader(const AnsiString& fileName, FDICABINETINFO& info, FDIERROR& error) {
  FILE* f = std::fopen(SysPath(fileName).c_str(), "rb");
  if (f == nullptr) {
    error = FDIERROR_CABINET_NOT_FOUND;
    return false;
  }
  uint8_t h[36];
  const size_t got = std::fread(h, 1, sizeof h, f);
  std::fclose(f);
  if (got < sizeof h || std::memcmp(h, "MSCF", 4) != 0) {
    error = FDIERROR_NOT_A_CABINET;
    return false;
  }
  auto u16 = [&](int at) { return static_cast<uint16_t>(h[at] | (h[at + 1] << 8)); };
  auto u32 = [&](int at) { return static_cast<uint32_t>(u16(at) | (static_cast<uint32_t>(u16(at + 2)) << 16)); };
  if (h[25] != 1 || h[24] != 3) {
    error = FDIERROR_UNKNOWN_CABINET_VERSION;
    return false;
  }
  const uint16_t flags = u16(30);
  info.cbCabinet = static_cast<int32_t>(u32(8));
  info.cFolders = u16(26);
  info.cFiles = u16(28);
  info.setID = u16(32);
  info.iCabinet = u16(34);
  info.hasprev = (flags & 1) != 0;
  info.hasnext = (flags & 2) != 0;
  info.fReserve = (flags & 4) != 0;
  error = FDIERROR_NONE;
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------

bool LoadCabinetLibrary() { return TheApi() != nullptr; }
bool CabinetLibraryAvailable() { return LoadCabinetLibrary(); }

void SetCabinetLibraryName(const AnsiString& name) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_api) Unload(*g_api);
  g_api.reset();
  g_tried = false;
  g_library_name = name.empty() ? AnsiString(kDefaultLibrary) : name;
}

// ---------------------------------------------------------------------------
// Decompression.

struct FDIContext {
  Api* api;
  PFNFDIWRITE write;
  ERF* erf;
};

HFDI FDICreate(PFNFDIWRITE pfnwrite, int32_t /*cpuType*/, ERF* perf) {
  Api* api = TheApi();
  if (api == nullptr) {
    SetError(perf, FDIERROR_ALLOC_FAIL);
    return nullptr;
  }
  if (perf != nullptr) *perf = ERF{};
  return new FDIContext{api, std::move(pfnwrite), perf};
}

bool FDIDestroy(HFDI hfdi) {
  if (hfdi == nullptr) return false;
  delete hfdi;
  return true;
}

bool FDIIsCabinet(HFDI hfdi, const AnsiString& fileName, FDICABINETINFO* pfdici) {
  if (hfdi == nullptr) return false;
  FDICABINETINFO info;
  FDIERROR error = FDIERROR_NONE;
  if (!ReadHeader(fileName, info, error)) {
    SetError(hfdi->erf, error);
    return false;
  }
  if (pfdici != nullptr) *pfdici = info;
  return true;
}

bool FDICopy(HFDI hfdi, const AnsiString& cabinetName, const AnsiString& cabinetPath, int32_t /*flags*/,
             const PFNFDINOTIFY& pfnfdin, void* pvUser) {
  if (hfdi == nullptr) return false;
  Api* api = hfdi->api;
  auto fail = [&](FDIERROR error) {
    SetError(hfdi->erf, error);
    return false;
  };
  const AnsiString full = JoinPath(cabinetPath, cabinetName);
  FDICABINETINFO info;
  FDIERROR header_error = FDIERROR_NONE;
  if (!ReadHeader(full, info, header_error)) return fail(header_error);
  // Files that continue from or into another cabinet cannot be read here.
  if (info.hasprev || info.hasnext) return fail(FDIERROR_WRONG_CABINET);

  ObjectRef cabinet(api, api->gcab_cabinet_new());
  ObjectRef gfile(api, api->g_file_new_for_path(SysPath(full).c_str()));
  GError* error = nullptr;
  ObjectRef input(api, api->g_file_read(gfile.p, nullptr, &error));
  if (input.p == nullptr) {
    FreeError(api, error);
    return fail(FDIERROR_CABINET_NOT_FOUND);
  }
  const bool loaded = api->gcab_cabinet_load(cabinet.p, input.p, nullptr, &error) != 0;
  FreeError(api, error);
  if (!loaded) return fail(FDIERROR_CORRUPT_CABINET);

  FDINOTIFICATION notice;
  notice.pv = pvUser;
  notice.psz3 = cabinetPath;
  notice.setID = info.setID;
  notice.iCabinet = info.iCabinet;
  if (pfnfdin(fdintCABINET_INFO, notice) == -1) return fail(FDIERROR_USER_ABORT);

  // Which files the caller takes, and the handles it gave for them.
  struct Taken {
    void* file;
    intptr_t handle;
    FDINOTIFICATION notice;
  };
  std::vector<Taken> taken;
  for (const CabFile& cf : ListFiles(api, cabinet.p)) {
    FDINOTIFICATION n;
    n.pv = pvUser;
    n.psz1 = api->gcab_file_get_name(cf.file);
    n.cb = static_cast<int32_t>(api->gcab_file_get_size(cf.file));
    n.attribs = static_cast<uint16_t>(api->gcab_file_get_attributes(cf.file));
    n.iFolder = cf.folder;
    if (void* dt = api->gcab_file_get_date_time(cf.file)) {
      int y = 1980, m = 1, d = 1;
      api->g_date_time_get_ymd(dt, &y, &m, &d);
      n.date = DosDate(y, m, d);
      n.time = DosTime(api->g_date_time_get_hour(dt), api->g_date_time_get_minute(dt),
                       api->g_date_time_get_second(dt));
      api->g_date_time_unref(dt);
    }
    const intptr_t answer = pfnfdin(fdintCOPY_FILE, n);
    if (answer == -1) return fail(FDIERROR_USER_ABORT);
    if (answer != 0) taken.push_back({cf.file, answer, n});
  }
  if (taken.empty()) return true;

  {
    std::string whole;
    if (!ReadWholeFile(full, whole)) return fail(FDIERROR_CABINET_NOT_FOUND);
    if (!DataChecksumsOk(whole)) {
      // Every handle given is closed again; nothing was written to it.
      for (Taken& t : taken) {
        t.notice.hf = t.handle;
        pfnfdin(fdintCLOSE_FILE_INFO, t.notice);
      }
      return fail(FDIERROR_CORRUPT_CABINET);
    }
  }
  // Only the files taken are kept in memory.
  struct Selection {
    const std::vector<Taken>* taken;
  } selection{&taken};
  auto select = [](void* file, void* user) -> gboolean {
    for (const Taken& t : *static_cast<Selection*>(user)->taken)
      if (t.file == file) return 1;
    return 0;
  };
  const bool extracted = api->gcab_cabinet_extract_simple(cabinet.p, nullptr, select, &selection, nullptr, &error) != 0;
  FreeError(api, error);
  bool ok = extracted;
  for (Taken& t : taken) {
    if (ok) {
      size_t size = 0;
      void* bytes = api->gcab_file_get_bytes(t.file);
      const uint8_t* data = bytes ? static_cast<const uint8_t*>(api->g_bytes_get_data(bytes, &size)) : nullptr;
      if (bytes == nullptr || size != static_cast<uint32_t>(t.notice.cb)) {
        ok = false;
      } else {
        size_t done = 0;
        while (ok && done < size) {
          const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(size - done, 1u << 20));
          if (!hfdi->write || hfdi->write(t.handle, data + done, chunk) != chunk) ok = false;
          done += chunk;
        }
        if (!ok) SetError(hfdi->erf, FDIERROR_TARGET_FILE);
      }
    }
    // Every handle given is closed, also after a failure.
    t.notice.hf = t.handle;
    if (pfnfdin(fdintCLOSE_FILE_INFO, t.notice) == 0 && ok) {
      SetError(hfdi->erf, FDIERROR_TARGET_FILE);
      ok = false;
    }
  }
  if (!extracted) return fail(FDIERROR_CORRUPT_CABINET);
  return ok;
}

// ---------------------------------------------------------------------------
// Compression.

namespace {

struct PendingFile {
  AnsiString source;
  AnsiString name;
  uint16_t date = 0;
  uint16_t time = 0;
  uint16_t attribs = 0;
  uint32_t size = 0;
};

struct PendingFolder {
  uint16_t compression = tcompTYPE_NONE;
  bool closed = false;
  std::vector<PendingFile> files;
};

}  // namespace

struct FCIContext {
  Api* api;
  ERF* erf;
  FCICallbacks callbacks;
  CCAB ccab;
  void* pv;
  std::vector<PendingFolder> folders;
};

HFCI FCICreate(ERF* perf, const FCICallbacks& callbacks, CCAB* pccab, void* pv) {
  Api* api = TheApi();
  if (api == nullptr || pccab == nullptr) {
    SetError(perf, FCIERR_ALLOC_FAIL);
    return nullptr;
  }
  if (perf != nullptr) *perf = ERF{};
  return new FCIContext{api, perf, callbacks, *pccab, pv, {}};
}

bool FCIDestroy(HFCI hfci) {
  if (hfci == nullptr) return false;
  delete hfci;
  return true;
}

bool FCIAddFile(HFCI hfci, const AnsiString& pszSourceFile, const AnsiString& pszFileName, bool /*fExecute*/,
                uint16_t typeCompress) {
  if (hfci == nullptr) return false;
  const uint16_t type = typeCompress & tcompMASK_TYPE;
  if (type != tcompTYPE_NONE && type != tcompTYPE_MSZIP) {
    SetError(hfci->erf, FCIERR_BAD_COMPR_TYPE);
    return false;
  }
  struct stat st;
  if (::stat(SysPath(pszSourceFile).c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
      ::access(SysPath(pszSourceFile).c_str(), R_OK) != 0) {
    SetError(hfci->erf, FCIERR_OPEN_SRC);
    return false;
  }
  // A cabinet's sizes are 32-bit.
  if (static_cast<uint64_t>(st.st_size) > 0x7FFFFFFFu) {
    SetError(hfci->erf, FCIERR_READ_SRC);
    return false;
  }
  PendingFile file;
  file.source = pszSourceFile;
  file.name = pszFileName;
  file.size = static_cast<uint32_t>(st.st_size);
  if (hfci->callbacks.fnGetOpenInfo) {
    int32_t err = 0;
    if (!hfci->callbacks.fnGetOpenInfo(pszSourceFile, file.date, file.time, file.attribs, err, hfci->pv)) {
      SetError(hfci->erf, FCIERR_OPEN_SRC);
      return false;
    }
  }
  if (hfci->folders.empty() || hfci->folders.back().closed || hfci->folders.back().compression != type) {
    hfci->folders.push_back(PendingFolder{type, false, {}});
  }
  hfci->folders.back().files.push_back(file);
  if (hfci->callbacks.fnFilePlaced)
    hfci->callbacks.fnFilePlaced(hfci->ccab, pszFileName, static_cast<int32_t>(file.size), false, hfci->pv);
  return true;
}

bool FCIFlushFolder(HFCI hfci) {
  if (hfci == nullptr) return false;
  if (!hfci->folders.empty()) hfci->folders.back().closed = true;
  return true;
}

bool FCIFlushCabinet(HFCI hfci, bool /*fGetNextCab*/) {
  if (hfci == nullptr) return false;
  Api* api = hfci->api;
  auto fail = [&](FCIERROR error) {
    SetError(hfci->erf, error);
    return false;
  };
  std::vector<PendingFolder> folders;
  folders.swap(hfci->folders);

  ObjectRef cabinet(api, api->gcab_cabinet_new());
  GError* error = nullptr;
  std::vector<const PendingFile*> order;
  for (const PendingFolder& pf : folders) {
    if (pf.files.empty()) continue;
    ObjectRef folder(api, api->gcab_folder_new(pf.compression));
    for (const PendingFile& f : pf.files) {
      // The file's bytes are handed over as a whole: the library's own file reading
      // would start a helper thread in the process.
      std::string data;
      if (!ReadWholeFile(f.source, data)) return fail(FCIERR_READ_SRC);
      void* bytes = api->g_bytes_new(data.data(), data.size());
      std::string().swap(data);
      ObjectRef cf(api, api->gcab_file_new_with_bytes(f.name.c_str(), bytes));
      api->g_bytes_unref(bytes);
      if (api->gcab_folder_add_file(folder.p, cf.p, 0, nullptr, &error) == 0) {
        FreeError(api, error);
        return fail(FCIERR_OPEN_SRC);
      }
      api->gcab_file_set_attributes(cf.p, f.attribs);
      const int y = 1980 + (f.date >> 9), m = (f.date >> 5) & 15, d = f.date & 31;
      const int h = f.time >> 11, mi = (f.time >> 5) & 63, s = (f.time & 31) * 2;
      if (m >= 1 && m <= 12 && d >= 1 && d <= 31 && h < 24 && mi < 60 && s < 60) {
        if (void* dt = api->g_date_time_new_local(y, m, d, h, mi, s)) {
          api->gcab_file_set_date_time(cf.p, dt);
          api->g_date_time_unref(dt);
        }
      }
      order.push_back(&f);
    }
    if (api->gcab_cabinet_add_folder(cabinet.p, folder.p, &error) == 0) {
      FreeError(api, error);
      return fail(FCIERR_MCI_FAIL);
    }
  }

  const AnsiString path = JoinPath(hfci->ccab.szCabPath, hfci->ccab.szCab);
  const std::string sys = SysPath(path);
  if (order.empty()) {
    // The library writes no cabinet without a folder: the header alone is one.
    static const uint8_t kEmpty[36] = {'M', 'S', 'C', 'F', 0, 0, 0, 0, 36, 0, 0, 0, 0, 0, 0, 0, 36, 0,
                                       0,   0,   0,   0,   0, 0, 3, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    FILE* f = std::fopen(sys.c_str(), "wb");
    const bool ok = f != nullptr && std::fwrite(kEmpty, 1, sizeof kEmpty, f) == sizeof kEmpty;
    if (f != nullptr && std::fclose(f) != 0) return fail(FCIERR_CAB_FILE);
    if (!ok) return fail(FCIERR_CAB_FILE);
    if (hfci->callbacks.fnStatus) hfci->callbacks.fnStatus(statusCabinet, 0, sizeof kEmpty, hfci->pv);
    return true;
  }
  ObjectRef target(api, api->g_file_new_for_path(sys.c_str()));
  ObjectRef output(api, api->g_file_replace(target.p, nullptr, 0, 0, nullptr, &error));
  if (output.p == nullptr) {
    FreeError(api, error);
    return fail(FCIERR_CAB_FILE);
  }
  ObjectRef cancellable(api, api->g_cancellable_new());

  // The library names each file as it starts on it: the one before is done.
  struct Progress {
    FCIContext* fci;
    Api* api;
    void* cancellable;
    const std::vector<const PendingFile*>* order;
    size_t started = 0;
    bool aborted = false;
    uint32_t total = 0;
    uint32_t done = 0;
    void FileDone(size_t index) {
      const PendingFile& f = *(*order)[index];
      done += f.size;
      if (aborted || !fci->callbacks.fnStatus) return;
      if (fci->callbacks.fnStatus(statusFile, f.size, f.size, fci->pv) == -1 ||
          fci->callbacks.fnStatus(statusFolder, done, total, fci->pv) == -1) {
        aborted = true;
        api->g_cancellable_cancel(cancellable);
      }
    }
  } progress{hfci, api, cancellable.p, &order};
  for (const PendingFile* f : order) progress.total += f->size;
  auto on_file = [](void* /*file*/, void* user) -> gboolean {
    auto* p = static_cast<Progress*>(user);
    if (p->started > 0 && p->started <= p->order->size()) p->FileDone(p->started - 1);
    ++p->started;
    return p->aborted ? 0 : 1;
  };
  const bool written =
      api->gcab_cabinet_write_simple(cabinet.p, output.p, on_file, &progress, cancellable.p, &error) != 0;
  FreeError(api, error);
  const bool closed = api->g_output_stream_close(output.p, nullptr, &error) != 0;
  FreeError(api, error);
  if (written && !progress.aborted && progress.started > 0 && progress.started <= order.size())
    progress.FileDone(progress.started - 1);
  if (!written || !closed || progress.aborted) {
    ::unlink(sys.c_str());
    return fail(progress.aborted ? FCIERR_USER_ABORT : FCIERR_CAB_FILE);
  }
  if (hfci->callbacks.fnStatus) {
    struct stat st;
    const uint32_t size = ::stat(sys.c_str(), &st) == 0 ? static_cast<uint32_t>(st.st_size) : 0;
    hfci->callbacks.fnStatus(statusCabinet, 0, size, hfci->pv);
  }
  return true;
}

}  // namespace pelvar
