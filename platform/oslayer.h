// The operating-system services the system takes from Windows, over Linux: dynamic
// libraries, thread-local storage, critical sections, interlocked counters, the tick
// count, environment variables and thread ids.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/types.h"

namespace pelvar {

// ---------------------------------------------------------------------------
// Dynamic libraries over dlopen. A Windows name of the Firebird client library
// ("GDS32.dll", "gds32.dll", "fbclient.dll", any case, with or without a directory or
// the extension) loads libfbclient.so.2; any other name is a Linux file name (in
// Windows-1250) given to dlopen as it stands.
using HMODULE = void*;
// The library's handle, or nullptr when it cannot be loaded (LastLibraryError says why).
HMODULE LoadLibrary(const AnsiString& name);
// The entry point, or nullptr when the module or the name is unknown.
void* GetProcAddress(HMODULE module, const char* name);
// Releases one load of the module; false for nullptr or when dlclose fails.
bool FreeLibrary(HMODULE module);
// The Linux library name LoadLibrary uses for name.
AnsiString SysLibraryName(const AnsiString& name);
// The loader's message for the last failure of LoadLibrary in this thread.
AnsiString LastLibraryError();

// ---------------------------------------------------------------------------
// Thread-local storage slots. Every slot, 0 included, is a valid index; a new slot
// reads nullptr in every thread.
constexpr uint32_t TLS_OUT_OF_INDEXES = 0xFFFFFFFFu;
uint32_t TlsAlloc();
void* TlsGetValue(uint32_t index);
bool TlsSetValue(uint32_t index, void* value);
bool TlsFree(uint32_t index);

// ---------------------------------------------------------------------------
// A Windows critical section: a lock the owning thread may enter again (recursive).
struct TRTLCriticalSection {
  std::recursive_mutex mutex;
};
void InitializeCriticalSection(TRTLCriticalSection& cs);
void EnterCriticalSection(TRTLCriticalSection& cs);
void LeaveCriticalSection(TRTLCriticalSection& cs);
void DeleteCriticalSection(TRTLCriticalSection& cs);
inline void InitializeCriticalSection(TRTLCriticalSection* cs) { InitializeCriticalSection(*cs); }
inline void EnterCriticalSection(TRTLCriticalSection* cs) { EnterCriticalSection(*cs); }
inline void LeaveCriticalSection(TRTLCriticalSection* cs) { LeaveCriticalSection(*cs); }
inline void DeleteCriticalSection(TRTLCriticalSection* cs) { DeleteCriticalSection(*cs); }

// Holds a critical section for its lifetime.
class TCriticalSectionGuard {
 public:
  explicit TCriticalSectionGuard(TRTLCriticalSection& cs) : cs_(cs) { EnterCriticalSection(cs_); }
  ~TCriticalSectionGuard() { LeaveCriticalSection(cs_); }
  TCriticalSectionGuard(const TCriticalSectionGuard&) = delete;
  TCriticalSectionGuard& operator=(const TCriticalSectionGuard&) = delete;

 private:
  TRTLCriticalSection& cs_;
};

// ---------------------------------------------------------------------------
// Atomic increment and decrement; they return the new value.
int32_t InterlockedIncrement(int32_t& target);
int32_t InterlockedDecrement(int32_t& target);
inline int32_t InterlockedIncrement(int32_t* target) { return InterlockedIncrement(*target); }
inline int32_t InterlockedDecrement(int32_t* target) { return InterlockedDecrement(*target); }

// ---------------------------------------------------------------------------
// Milliseconds of a monotonic clock, wrapping at 2^32 like the Windows tick count.
uint32_t GetTickCount();
// Replaces the clock (for tests); an empty function restores the real one.
void SetTickCountSource(std::function<uint32_t()> source);

// ---------------------------------------------------------------------------
// Environment variables; names and values are Windows-1250 (UTF-8 in the environment).
// A missing variable reads as empty.
AnsiString GetEnvironmentVariable(const AnsiString& name);
bool SetEnvironmentVariable(const AnsiString& name, const AnsiString& value);
// Removes the variable (what Windows does for a nil value).
bool DeleteEnvironmentVariable(const AnsiString& name);

// ---------------------------------------------------------------------------
// The calling thread's id (the kernel's thread id), and the id of the thread that
// started the program.
uint32_t GetCurrentThreadId();
uint32_t MainThreadID();

}  // namespace pelvar
