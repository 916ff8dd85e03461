// The connection component on the embedded engine.
#include <gtest/gtest.h>

#include "connection_calls.h"
#include "platform/application.h"

namespace pelvar::test {
namespace {

TEST(ConnectionEmbedded, OpenAndCloseSendTheEventsInOrder) {
  CheckOpenAndClose(FbTestDb::Mode::Embedded);
}

TEST(ConnectionEmbedded, RefusedDetachIsReported) {
  CheckRefusedDetachIsReported(FbTestDb::Mode::Embedded);
}

TEST(ConnectionEmbedded, CreateAndDropDatabase) { CheckCreateAndDrop(FbTestDb::Mode::Embedded); }


TEST(ConnectionEmbedded, FailedAttachLeavesTheConnectionDisconnected) {
  TempDir dir("pelvar-conn");
  ConnectionRig rig(dir.File("missing.fdb"));
  try {
    rig.conn->Open();
    ADD_FAILURE() << "attached to a missing file";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.Sender(), rig.conn);
    EXPECT_NE(e.ERRCODE(), 0);
  }
  EXPECT_FALSE(rig.conn->GetConnected());
  EXPECT_EQ(rig.log, (std::vector<std::string>{"BeforeConnect-", "cet7"}));
  // A handler that raises before connecting leaves the status as it was.
  rig.conn->BeforeConnect = [](TIB_Connection*) { throw Exception("no"); };
  EXPECT_THROW(rig.conn->Open(), Exception);
  EXPECT_EQ(rig.conn->Status(), cstDisconnected);
}

// The login loop: each failed attempt goes to the application's handler, the last one
// ends with "Přihlašování skončilo chybou"; a cancel ends silently; a success writes the
// login defaults to the registry.
TEST(ConnectionEmbedded, LoginLoop) {
  auto fb = FbTestDb::Create(FbTestDb::Mode::Embedded);
  TempDir regdir("pelvar-reg");
  setenv("PELVAR_REGISTRY", regdir.File("registry.reg").c_str(), 1);
  ConnectionRig rig(fb->ConnectString());
  TIB_Connection& conn = *rig.conn;
  std::vector<std::string> shown;
  Application()->SetOnException(
      [&shown](TObject*, const Exception& e) { shown.push_back(e.Message()); });
  conn.SetLoginPrompt(true);
  conn.SetLoginRegKey("Software\\PelvarTest\\Login");
  const AnsiString good = conn.GetConnectString();

  // Three attempts at a missing file, then the failure.
  int logins = 0;
  int failures = 0;
  conn.OnLogin = [&](TIB_Connection* c, bool&) {
    ++logins;
    c->SetConnectString(CZ(fb->Dir().File("missing.fdb")));
  };
  conn.OnLoginFailure = [&failures](TIB_Connection*) { ++failures; };
  try {
    conn.Open();
    ADD_FAILURE() << "connected";
  } catch (const EAbort&) {
    ADD_FAILURE() << "silent abort";
  } catch (const EIB_ConnectionError& e) {
    EXPECT_EQ(e.Message(), CZ("Přihlašování skončilo chybou"));
  }
  EXPECT_EQ(logins, 3);
  EXPECT_EQ(shown.size(), 3u);
  EXPECT_EQ(failures, 1);
  EXPECT_FALSE(conn.GetConnected());

  // Cancel ends silently.
  conn.OnLogin = [](TIB_Connection*, bool& abort) { abort = true; };
  EXPECT_THROW(conn.Open(), EAbort);
  EXPECT_TRUE(conn.LoginAborted());

  // The second attempt succeeds; the registry keeps the database and the user. The
  // registry's "Database" (written at the first login) is read back at each login, so
  // the handler sets the good path after it.
  logins = 0;
  conn.OnLogin = [&](TIB_Connection* c, bool&) {
    ++logins;
    c->SetConnectString(logins == 1 ? CZ(fb->Dir().File("missing.fdb")) : good);
  };
  conn.Open();
  EXPECT_TRUE(conn.GetConnected());
  EXPECT_EQ(logins, 2);
  EXPECT_FALSE(conn.LoginAborted());
  TRegIniFile ini("Software\\PelvarTest\\Login");
  EXPECT_EQ(ini.ReadString("Settings", "Database", ""), good);
  EXPECT_EQ(ini.ReadString("Settings", "LastUser", ""), "SYSDBA");
  conn.Close();

  Application()->SetOnException(nullptr);
  unsetenv("PELVAR_REGISTRY");
}

// A connection that goes away while attached ends its attachment.
TEST(ConnectionEmbedded, DestroyingDisconnectsAndDetachesTheLinks) {
  auto fb = FbTestDb::Create(FbTestDb::Mode::Embedded);
  auto rig = std::make_unique<ConnectionRig>(fb->ConnectString());
  rig->conn->Open();
  ASSERT_TRUE(rig->conn->GetConnected());
  rig->log.clear();
  TIB_ConnectionLink* link = rig->link;
  delete rig->conn;
  EXPECT_EQ(link->IB_Connection(), nullptr);
  EXPECT_EQ(rig->log, (std::vector<std::string>{"cet9", "cet4", "cet10", "cet0", "cet1"}));
  // The database is free again: isql can drop it.
  rig.reset();
  fb->Drop();
}

}  // namespace
}  // namespace pelvar::test
