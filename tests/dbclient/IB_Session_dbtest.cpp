// Binding the real client library and turning its failures into exceptions, against the
// embedded engine.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "client_calls.h"
#include "dbclient/IB_Session.h"
#include "platform/checked.h"
#include "platform/codepage.h"

namespace pelvar::test {
namespace {

class ClientBinding : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every test starts from an unloaded library and the program's name provider.
    UnloadClientLibrary();
    InstallClientLibraryNameProvider();
  }
  void TearDown() override { ClientLibraryNameHook = nullptr; }
};

TEST_F(ClientBinding, BindsEveryEntryPointOnFirstNeedAndAgainWithTheSameResult) {
  ASSERT_EQ(ClientCallTable.isc_attach_database, nullptr);
  EnsureClientAPI();
  ASSERT_TRUE(ClientLibraryHeld());

  // The 64 mandatory and the 10 optional entries are all there, none a substitute: the
  // call table holds what the library itself exports.
  int bound = 0;
#define CHECK_ENTRY(name, result, params)                                              \
  EXPECT_EQ(reinterpret_cast<void*>(ClientCallTable.name),                             \
            GetProcAddress(ClientLibraryHandle, #name)) << #name;                      \
  EXPECT_NE(ClientCallTable.name, nullptr) << #name;                                   \
  ++bound;
  PELVAR_IB_MANDATORY_ENTRY_POINTS(CHECK_ENTRY)
  EXPECT_EQ(bound, IB_MandatoryEntryPointCount);
  PELVAR_IB_OPTIONAL_ENTRY_POINTS(CHECK_ENTRY)
  EXPECT_EQ(bound, IB_MandatoryEntryPointCount + IB_OptionalEntryPointCount);
#undef CHECK_ENTRY
  EXPECT_EQ(ClientCallTable.MonitorOutputHook, &EmptyMonitorOutput);
  EXPECT_FALSE(IsMonitorHooked());

  // Binding again with the library held re-reads the same table.
  const TIB_ClientEntryPoints before = ClientEntryPoints;
  LoadClientLibrary();
  EXPECT_EQ(std::memcmp(&before, &ClientEntryPoints, sizeof before), 0);
}

TEST_F(ClientBinding, ProviderNameThatCannotLoadIsNotReplacedByAnotherName) {
  // "fbclient.dll" would load; with a provider installed it must not be tried.
  ClientLibraryNameHook = [](AnsiString& name) { name = "no-such-client-library.dll"; };
  TIB_SessionBase session(nullptr);
  try {
    Attach(session, "/nonexistent/test.fdb");
    FAIL() << "the attach did not fail";
  } catch (const EIB_ISCError& e) {
    FAIL() << "a client library was loaded: " << e.Message();
  } catch (const EIB_Error& e) {
    EXPECT_EQ(e.Message(), CZ("InterBase klient GDS32.DLL není nainstalován"));
    EXPECT_EQ(e.Sender(), nullptr);
  }
  EXPECT_FALSE(ClientLibraryHeld());
  EXPECT_EQ(ClientCallTable.isc_attach_database, nullptr);
  EXPECT_EQ(ClientCallTable.isc_interprete, nullptr);
}

TEST_F(ClientBinding, LibraryWithoutAMandatoryEntryPointIsReportedEveryTime) {
  // Any other shared library stands for a client library that lacks entry points.
  ClientLibraryNameHook = [](AnsiString& name) { name = "libz.so.1"; };
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      EnsureClientAPI();
      ADD_FAILURE() << "binding a library without the entry points succeeded";
    } catch (const EIB_Error& e) {
      EXPECT_EQ(e.Message(), "Nemohu nal\xE9zt DLL import isc_array_gen_sdl");
      EXPECT_EQ(e.Sender(), nullptr);
    }
    // The library stays loaded; the call table is untouched, so the next need binds again.
    EXPECT_TRUE(ClientLibraryHeld());
    EXPECT_EQ(ClientCallTable.isc_attach_database, nullptr);
  }
}

TEST_F(ClientBinding, WithoutProviderTheDefaultNamesAreUsed) {
  ClientLibraryNameHook = nullptr;
  EnsureClientAPI();
  EXPECT_TRUE(ClientLibraryHeld());
  EXPECT_NE(ClientCallTable.isc_attach_database, nullptr);
  // An empty name from a provider means the same.
  UnloadClientLibrary();
  ClientLibraryNameHook = [](AnsiString& name) { name.clear(); };
  EnsureClientAPI();
  EXPECT_TRUE(ClientLibraryHeld());
}

TEST_F(ClientBinding, MissingOptionalEntriesGetSubstitutesThatRaiseTheirTexts) {
  TIB_ClientEntryPoints table;
  InstallOptionalEntryStubs(table);
  EXPECT_EQ(table.fb_interpret, nullptr);
  EXPECT_EQ(table.isc_rollback_retaining, nullptr);
  struct Case {
    std::function<void()> call;
    const char* text;
  };
  const Case cases[] = {
      {[&] { table.isc_service_attach(nullptr, 0, nullptr, nullptr, 0, nullptr); },
       "isc_service_attach() not implemented"},
      {[&] { table.isc_service_detach(nullptr, nullptr); },
       "isc_service_dettach() not implemented"},
      {[&] { table.isc_service_query(nullptr, nullptr, nullptr, 0, nullptr, 0, nullptr, 0, nullptr); },
       "isc_service_query() not implemented"},
      {[&] { table.isc_service_start(nullptr, nullptr, nullptr, 0, nullptr); },
       "isc_service_start() not implemented"},
      {[&] { table.isc_add_user(nullptr, nullptr); }, "isc_add_user() not implemented"},
      {[&] { table.isc_delete_user(nullptr, nullptr); }, "isc_delete_user() not implemented"},
      {[&] { table.isc_modify_user(nullptr, nullptr); }, "isc_modify_user() not implemented"},
      {[&] { table.isc_portable_integer(nullptr, 0); },
       "isc_portable_integer() not implemented"},
  };
  for (const Case& c : cases) {
    try {
      c.call();
      ADD_FAILURE() << "no exception for " << c.text;
    } catch (const EIB_Error& e) {
      EXPECT_EQ(e.Message(), c.text);
    }
  }
}

TEST_F(ClientBinding, FailedAttachReportsTheServerTextThroughEitherInterpreter) {
  const std::string missing = "/nonexistent-dir/missing.fdb";
  for (bool with_fb_interpret : {true, false}) {
    SCOPED_TRACE(with_fb_interpret ? "fb_interpret" : "isc_interprete");
    EnsureClientAPI();
    if (!with_fb_interpret) {
      ClientCallTable.fb_interpret = nullptr;  // as with a library that lacks it
    }
    TIB_SessionBase session(nullptr);
    try {
      Attach(session, missing);
      ADD_FAILURE() << "attaching a missing database succeeded";
    } catch (const EIB_ISCError& e) {
      EXPECT_EQ(e.ERRCODE(), isc_io_error);
      EXPECT_EQ(session.LastResult(), isc_io_error);
      EXPECT_EQ(e.SQLCODE(), -902);
      const TStringList& m = *e.ErrorMessage();
      ASSERT_GE(m.Count(), 4);
      EXPECT_EQ(m.Strings(0), "ISC ERROR CODE:335544344");
      EXPECT_EQ(m.Strings(3).rfind("I/O error during \"open", 0), 0u) << m.Strings(3);
      EXPECT_NE(m.Text().find(missing), std::string::npos) << m.Text();
      EXPECT_EQ(e.Message(), m.Text());
      EXPECT_EQ(e.Message().rfind("ISC ERROR CODE:335544344\r\n\r\nISC ERROR MESSAGE:\r\n", 0),
                0u);
    }
  }
}

TEST_F(ClientBinding, ErrorEventsMaySuppressOrReplaceTheException) {
  EnsureClientAPI();
  TIB_SessionBase session(nullptr);
  int calls = 0;
  session.SetOnError([&](TObject* sender, int32_t errcode, TStringList* message, TStringList*,
                         int32_t sqlcode, TStringList*, TStringList*, bool& raise) {
    ++calls;
    EXPECT_EQ(sender, &session);
    EXPECT_EQ(errcode, isc_io_error);
    EXPECT_EQ(sqlcode, -902);
    EXPECT_GE(message->Count(), 4);
    raise = false;
  });
  // Suppressed: the failed call just returns its status.
  EXPECT_EQ(Attach(session, "/nonexistent-dir/missing.fdb"), 0u);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(session.LastResult(), isc_io_error);

  // An exception of the handler travels in place of the EIB_ISCError.
  session.SetOnError([](TObject*, int32_t, TStringList*, TStringList*, int32_t, TStringList*,
                        TStringList*, bool&) { throw EAbort("stop"); });
  EXPECT_THROW(Attach(session, "/nonexistent-dir/missing.fdb"), EAbort);
}

TEST_F(ClientBinding, TriggerExceptionCarriesTheUsersCzechText) {
  CheckUserExceptionFromTrigger(FbTestDb::Mode::Embedded);
}

TEST_F(ClientBinding, XsqldaBufferHoldsAWideRowDescribedByTheServer) {
  // 60 columns described into a buffer sized by XSQLDA_LENGTH (the address sanitizer
  // reports any write past its end).
  constexpr int16_t kColumns = 60;
  auto fb = FbTestDb::Create(FbTestDb::Mode::Embedded);
  TIB_SessionBase session(nullptr);
  isc_db_handle db = Attach(session, fb->ConnectString());
  isc_tr_handle tr = StartTransaction(session, db);
  std::string sql = "select ";
  for (int i = 1; i <= kColumns; ++i) {
    sql += (i > 1 ? ", " : "") + std::to_string(i) + " as COLUMN_WITH_A_LONG_NAME_" +
           std::to_string(i);
  }
  sql += " from rdb$database";

  std::vector<char> buffer(static_cast<size_t>(XSQLDA_LENGTH(kColumns)), 0);
  auto* da = reinterpret_cast<XSQLDA*>(buffer.data());
  da->version = SQLDA_VERSION1;
  da->sqln = kColumns;
  isc_stmt_handle stmt = 0;
  session.API_Call(&session, ClientCallTable.isc_dsql_allocate_statement, &db, &stmt);
  session.API_Call(&session, ClientCallTable.isc_dsql_prepare, &tr, &stmt,
                   static_cast<unsigned short>(0), sql.c_str(),
                   static_cast<unsigned short>(SQL_DIALECT_V6), da);
  ASSERT_EQ(da->sqld, kColumns);
  const XSQLVAR& last = da->sqlvar[kColumns - 1];
  EXPECT_EQ(std::string(last.aliasname, static_cast<size_t>(last.aliasname_length)),
            "COLUMN_WITH_A_LONG_NAME_60");
  EXPECT_EQ(last.sqltype & ~1, SQL_LONG);
  session.API_Call(&session, ClientCallTable.isc_dsql_free_statement, &stmt,
                   static_cast<unsigned short>(DSQL_drop));
  CleanUp(session, db, tr);
}

TEST_F(ClientBinding, ClientCallsKeepTheCallersFpuControlWord) {
  EnsureClientAPI();
  TFpuControlWordGuard restore;
  Set8087CW(static_cast<uint16_t>((kDefault8087CW & ~0x0C00) | 0x0400));  // round down
  const uint16_t mine = Get8087CW();
  TIB_SessionBase session(nullptr);
  auto fb = FbTestDb::Create(FbTestDb::Mode::Embedded);
  isc_db_handle db = Attach(session, fb->ConnectString());
  EXPECT_EQ(Get8087CW(), mine);
  // And a call that changes the control word does not leak the change.
  CallClient([] { Set8087CW(kDefault8087CW); });
  EXPECT_EQ(Get8087CW(), mine);
  isc_tr_handle tr = 0;
  CleanUp(session, db, tr);
}

}  // namespace
}  // namespace pelvar::test
