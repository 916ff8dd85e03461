#include "platform/oslayer.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "platform/codepage.h"
#include "platform/streams.h"

namespace pelvar {

namespace {

thread_local AnsiString last_library_error;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

AnsiString SysLibraryName(const AnsiString& name) {
  auto sep = name.find_last_of("\\/");
  AnsiString base = sep == AnsiString::npos ? name : name.substr(sep + 1);
  AnsiString lower;
  for (char c : base) lower += LowerAscii(c);
  if (lower == "gds32.dll" || lower == "gds32" || lower == "fbclient.dll" || lower == "fbclient")
    return "libfbclient.so.2";
  return name;
}

HMODULE LoadLibrary(const AnsiString& name) {
  if (name.empty()) {
    last_library_error = "No library name";
    return nullptr;
  }
  std::string file = SysFileName(SysLibraryName(name));
  void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* err = dlerror();
    last_library_error = Utf8ToAnsi(err ? err : "cannot load library");
  } else {
    last_library_error.clear();
  }
  return handle;
}

void* GetProcAddress(HMODULE module, const char* name) {
  if (module == nullptr || name == nullptr) return nullptr;
  dlerror();
  return dlsym(module, name);
}

bool FreeLibrary(HMODULE module) {
  if (module == nullptr) return false;
  return dlclose(module) == 0;
}

AnsiString LastLibraryError() { return last_library_error; }

// ---------------------------------------------------------------------------
uint32_t TlsAlloc() {
  pthread_key_t key;
  if (pthread_key_create(&key, nullptr) != 0) return TLS_OUT_OF_INDEXES;
  static_assert(sizeof(pthread_key_t) <= sizeof(uint32_t), "pthread keys must fit a slot index");
  return static_cast<uint32_t>(key);
}

void* TlsGetValue(uint32_t index) {
  if (index == TLS_OUT_OF_INDEXES) return nullptr;
  return pthread_getspecific(static_cast<pthread_key_t>(index));
}

bool TlsSetValue(uint32_t index, void* value) {
  if (index == TLS_OUT_OF_INDEXES) return false;
  return pthread_setspecific(static_cast<pthread_key_t>(index), value) == 0;
}

bool TlsFree(uint32_t index) {
  if (index == TLS_OUT_OF_INDEXES) return false;
  return pthread_key_delete(static_cast<pthread_key_t>(index)) == 0;
}

// ---------------------------------------------------------------------------
void InitializeCriticalSection(TRTLCriticalSection&) {}
void EnterCriticalSection(TRTLCriticalSection& cs) { cs.mutex.lock(); }
void LeaveCriticalSection(TRTLCriticalSection& cs) { cs.mutex.unlock(); }
void DeleteCriticalSection(TRTLCriticalSection&) {}

// ---------------------------------------------------------------------------
int32_t InterlockedIncrement(int32_t& target) {
  return std::atomic_ref<int32_t>(target).fetch_add(1) + 1;
}

int32_t InterlockedDecrement(int32_t& target) {
  return std::atomic_ref<int32_t>(target).fetch_sub(1) - 1;
}

// ---------------------------------------------------------------------------
namespace {

std::mutex tick_mutex;
std::shared_ptr<const std::function<uint32_t()>> tick_source;

}  // namespace

uint32_t GetTickCount() {
  std::shared_ptr<const std::function<uint32_t()>> source;
  {
    std::lock_guard<std::mutex> lock(tick_mutex);
    source = tick_source;
  }
  if (source) return (*source)();
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::chrono::steady_clock::now().time_since_epoch())
                .count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));
}

void SetTickCountSource(std::function<uint32_t()> source) {
  std::lock_guard<std::mutex> lock(tick_mutex);
  if (source)
    tick_source = std::make_shared<const std::function<uint32_t()>>(std::move(source));
  else
    tick_source.reset();
}

// ---------------------------------------------------------------------------
AnsiString GetEnvironmentVariable(const AnsiString& name) {
  const char* v = std::getenv(AnsiToUtf8(name).c_str());
  return v ? Utf8ToAnsi(v) : AnsiString();
}

bool SetEnvironmentVariable(const AnsiString& name, const AnsiString& value) {
  if (name.empty() || name.find('=') != AnsiString::npos) return false;
  return setenv(AnsiToUtf8(name).c_str(), AnsiToUtf8(value).c_str(), 1) == 0;
}

bool DeleteEnvironmentVariable(const AnsiString& name) {
  if (name.empty() || name.find('=') != AnsiString::npos) return false;
  return unsetenv(AnsiToUtf8(name).c_str()) == 0;
}

// ---------------------------------------------------------------------------
uint32_t GetCurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

// On Linux the thread that starts the program has the process's id as its thread id.
uint32_t MainThreadID() { return static_cast<uint32_t>(getpid()); }

}  // namespace pelvar
