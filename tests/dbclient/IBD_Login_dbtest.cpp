// The login dialog in the connection's login prompt, against the embedded engine: what
// the user types in the dialog is what the connection attaches with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection_calls.h"
#include "dbclient/IBD_Login.h"
#include "platform/application.h"

namespace pelvar::test {
namespace {

// The unit's start-up and finalisation around one test.
struct LoginUnit {
  LoginUnit() { InitializeIBD_Login(); }
  ~LoginUnit() { FinalizeIBD_Login(); }
};

TEST(IBD_LoginEmbedded, TypedDatabaseIsAttachedAfterAFailedAttempt) {
  LoginUnit unit;
  auto fb = FbTestDb::Create(FbTestDb::Mode::Embedded);
  ConnectionRig rig(fb->ConnectString());
  TIB_Connection& conn = *rig.conn;
  const AnsiString good = conn.GetConnectString();
  const AnsiString missing = CZ(fb->Dir().File("chybí.fdb"));
  conn.SetConnectString(missing);
  conn.SetLoginPrompt(true);
  std::vector<std::string> shown_errors;
  Application()->SetOnException(
      [&shown_errors](TObject*, const Exception& e) { shown_errors.push_back(e.Message()); });

  std::vector<std::string> failures;
  {
    TScriptedLoginResponder r([&failures](const std::string& m) { failures.push_back(m); });
    // First the user only types the password: the missing file fails and the dialog
    // comes again; then he corrects the database.
    r.ExpectPassword(kSysdbaPassword);
    TScriptedLoginResponder::TAnswer fix;
    fix.Database = good;
    r.Expect(fix);
    conn.Open();
    ASSERT_EQ(r.Shown().size(), 2u);
    EXPECT_EQ(r.Shown()[0].Database, missing);
    EXPECT_EQ(r.Shown()[1].Database, missing);
    EXPECT_EQ(r.Shown()[1].UserName, "SYSDBA");
    EXPECT_EQ(r.Shown()[1].Password, kSysdbaPassword);
  }
  EXPECT_TRUE(failures.empty());
  EXPECT_TRUE(conn.GetConnected());
  EXPECT_EQ(conn.GetConnectString(), good);
  EXPECT_EQ(shown_errors.size(), 1u);
  conn.Close();
  Application()->SetOnException(nullptr);
}

}  // namespace
}  // namespace pelvar::test
