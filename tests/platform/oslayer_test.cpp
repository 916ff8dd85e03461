#include "platform/oslayer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/codepage.h"

namespace pelvar {
namespace {

TEST(OsLayerLibrary, FirebirdClientNamesResolveInAnyCase) {
  for (const char* name : {"GDS32.dll", "gds32.dll", "fbclient.dll", "FbClient.DLL",
                           "C:\\Windows\\System32\\gds32.dll", "fbclient"}) {
    EXPECT_EQ(SysLibraryName(name), "libfbclient.so.2") << name;
  }
  EXPECT_EQ(SysLibraryName("libm.so.6"), "libm.so.6");
  EXPECT_EQ(SysLibraryName("gds32.dll.bak"), "gds32.dll.bak");

  HMODULE lib = LoadLibrary("GDS32.DLL");
  ASSERT_NE(lib, nullptr) << LastLibraryError();
  EXPECT_NE(GetProcAddress(lib, "isc_attach_database"), nullptr);
  EXPECT_EQ(GetProcAddress(lib, "no_such_entry_point"), nullptr);
  // Loads are counted: a second load and free leave the first usable.
  HMODULE again = LoadLibrary("fbclient.dll");
  EXPECT_EQ(again, lib);
  EXPECT_TRUE(FreeLibrary(again));
  EXPECT_NE(GetProcAddress(lib, "isc_detach_database"), nullptr);
  EXPECT_TRUE(FreeLibrary(lib));
}

TEST(OsLayerLibrary, FailuresReturnNothingAndSayWhy) {
  EXPECT_EQ(LoadLibrary("libdoes-not-exist.so"), nullptr);
  EXPECT_NE(LastLibraryError().find("libdoes-not-exist.so"), AnsiString::npos);
  EXPECT_EQ(LoadLibrary(""), nullptr);
  EXPECT_EQ(GetProcAddress(nullptr, "x"), nullptr);
  EXPECT_FALSE(FreeLibrary(nullptr));
}

TEST(OsLayerTls, SlotsArePerThreadAndSlotZeroIsValid) {
  std::vector<uint32_t> slots;
  for (int i = 0; i < 3; ++i) {
    uint32_t slot = TlsAlloc();
    ASSERT_NE(slot, TLS_OUT_OF_INDEXES);
    slots.push_back(slot);
  }
  int here = 1, there = 2;
  for (uint32_t slot : slots) {
    EXPECT_EQ(TlsGetValue(slot), nullptr);
    EXPECT_TRUE(TlsSetValue(slot, &here));
  }
  void* seen_in_thread = &here;
  std::thread t([&] {
    seen_in_thread = TlsGetValue(slots[0]);
    TlsSetValue(slots[0], &there);
  });
  t.join();
  EXPECT_EQ(seen_in_thread, nullptr);
  EXPECT_EQ(TlsGetValue(slots[0]), &here);
  for (uint32_t slot : slots) EXPECT_TRUE(TlsFree(slot));

  // Slot 0 (whatever index the system hands out first) is a slot like any other: the
  // index is never confused with "no slot".
  EXPECT_FALSE(TlsSetValue(TLS_OUT_OF_INDEXES, &here));
  EXPECT_EQ(TlsGetValue(TLS_OUT_OF_INDEXES), nullptr);
}

TEST(OsLayerSync, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
  TRTLCriticalSection cs;
  InitializeCriticalSection(cs);
  int32_t counter = 0;
  int32_t plain = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 2000; ++i) {
        InterlockedIncrement(counter);
        TCriticalSectionGuard outer(cs);
        TCriticalSectionGuard inner(cs);  // the owner may enter again
        ++plain;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 8000);
  EXPECT_EQ(plain, 8000);
  EXPECT_EQ(InterlockedDecrement(&counter), 7999);
  EXPECT_EQ(InterlockedIncrement(&counter), 8000);
  DeleteCriticalSection(&cs);
}

TEST(OsLayerClock, TickCountSourceCanBeSetAndRestored) {
  uint32_t now = 0xFFFFFFF0u;
  SetTickCountSource([&] { return now; });
  EXPECT_EQ(GetTickCount(), 0xFFFFFFF0u);
  now += 0x20;  // wraps like the Windows counter
  EXPECT_EQ(GetTickCount(), 0x10u);
  SetTickCountSource(nullptr);
  uint32_t a = GetTickCount();
  uint32_t b = GetTickCount();
  EXPECT_GE(static_cast<int32_t>(b - a), 0);  // the real clock again: it does not go back
}

TEST(OsLayerEnvironment, VariablesInWindows1250) {
  const AnsiString name = "PELVAR_OSLAYER_TEST";
  DeleteEnvironmentVariable(name);
  EXPECT_EQ(GetEnvironmentVariable(name), "");
  ASSERT_TRUE(SetEnvironmentVariable(name, CZ("žluťoučký")));
  EXPECT_EQ(GetEnvironmentVariable(name), CZ("žluťoučký"));
  EXPECT_STREQ(getenv("PELVAR_OSLAYER_TEST"), "žluťoučký");  // UTF-8 outside
  EXPECT_TRUE(DeleteEnvironmentVariable(name));
  EXPECT_EQ(getenv("PELVAR_OSLAYER_TEST"), nullptr);
  EXPECT_FALSE(SetEnvironmentVariable("A=B", "x"));
}

TEST(OsLayerThreads, MainAndOtherThreadIds) {
  EXPECT_EQ(GetCurrentThreadId(), MainThreadID());
  uint32_t other = 0;
  std::thread t([&] { other = GetCurrentThreadId(); });
  t.join();
  EXPECT_NE(other, 0u);
  EXPECT_NE(other, MainThreadID());
}

}  // namespace
}  // namespace pelvar
