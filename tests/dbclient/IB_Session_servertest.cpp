// The client library's failures through the server on localhost.
#include <gtest/gtest.h>

#include "client_calls.h"

namespace pelvar::test {
namespace {

TEST(ClientErrorsThroughServer, MissingDatabaseGivesTheServersErrorWithSqlMessage) {
  PELVAR_REQUIRE_SERVER();
  InstallClientLibraryNameProvider();
  TIB_SessionBase session(nullptr);
  static std::string monitored;
  EnsureClientAPI();
  ClientCallTable.MonitorOutputHook = [](const AnsiString& text) { monitored = text; };
  try {
    Attach(session, "localhost:/nonexistent-dir/missing.fdb");
    FAIL() << "attaching a missing database succeeded";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.ERRCODE(), 335544344);
    EXPECT_EQ(e.SQLCODE(), -902);
    const TStringList& m = *e.ErrorMessage();
    ASSERT_GE(m.Count(), 4);
    EXPECT_EQ(e.Message().rfind("ISC ERROR CODE:335544344\r\n\r\nISC ERROR MESSAGE:\r\n", 0), 0u);
    // The first message line is the server's own text.
    EXPECT_EQ(m.Strings(3).rfind("I/O error during \"open", 0), 0u) << m.Text();
    const TStringList& sql = *e.SQLMessage();
    ASSERT_EQ(sql.Count(), 4);
    EXPECT_EQ(sql.Strings(0), "SQL ERROR CODE:-902");
    EXPECT_EQ(sql.Strings(1), "");
    EXPECT_EQ(sql.Strings(2), "SQL ERROR MESSAGE:");
    EXPECT_FALSE(sql.Strings(3).empty());
    EXPECT_NE(monitored.find("\r\n\r\n//>>> SQL MESSAGE <<<//\r\nSQL ERROR CODE:-902\r\n"),
              std::string::npos) << monitored;
  }
  ClientCallTable.MonitorOutputHook = &EmptyMonitorOutput;
  ClientLibraryNameHook = nullptr;
}

TEST(ClientErrorsThroughServer, WrongPasswordIsRefusedByTheServer) {
  PELVAR_REQUIRE_SERVER();
  auto fb = FbTestDb::Create(FbTestDb::Mode::Server);
  InstallClientLibraryNameProvider();
  TIB_SessionBase session(nullptr);
  try {
    Attach(session, fb->ConnectString(), MakeDpb("WIN1250", "wrong-password"));
    FAIL() << "a wrong password was accepted";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.ERRCODE(), isc_login);
  }
  ClientLibraryNameHook = nullptr;
}

TEST(ClientErrorsThroughServer, TriggerExceptionCarriesTheUsersCzechText) {
  PELVAR_REQUIRE_SERVER();
  CheckUserExceptionFromTrigger(FbTestDb::Mode::Server);
  ClientLibraryNameHook = nullptr;
}

}  // namespace
}  // namespace pelvar::test
