// Backup and restore through the server's services manager on localhost.
#include <gtest/gtest.h>

#include <string>

#include "IBServices_checks.h"
#include "dbclient/ClientLibraryName.h"
#include "dbclient/IB_Components.h"
#include "dbclient/IB_Session.h"

namespace pelvar::test {
namespace {

TEST(IBServicesServer, BackupAndRestoreRoundTripWithVerboseLines) {
  PELVAR_REQUIRE_SERVER();
  CheckBackupAndRestoreRoundTrip(FbTestDb::Mode::Server);
}

TEST(IBServicesServer, MissingDatabaseRaisesTheServerError) {
  PELVAR_REQUIRE_SERVER();
  CheckMissingDatabase(FbTestDb::Mode::Server);
}

TEST(IBServicesServer, WrongPasswordRaisesTheServerText) {
  PELVAR_REQUIRE_SERVER();
  TIBBackupService service(nullptr);
  ConfigureService(service, FbTestDb::Mode::Server, "wrong");
  try {
    service.SetActive(true);
    ADD_FAILURE() << "attached with a wrong password";
  } catch (const EIBInterBaseError& e) {
    EXPECT_EQ(e.IBErrorCode(), 335544472);
    EXPECT_NE(e.Message().find("Your user name and password are not defined"),
              std::string::npos)
        << e.Message();
  }
  EXPECT_FALSE(service.Active());

  // Parameter names ignore case and may carry the prefix; blank names are skipped.
  service.Params()->Clear();
  service.Params()->Add("ISC_SPB_USER_NAME=SYSDBA");
  service.Params()->Add("");
  service.Params()->Add(std::string("Password=") + kSysdbaPassword);
  service.SetActive(true);
  EXPECT_TRUE(service.Active());
  service.SetActive(false);
}

// A restore over a database that a client holds fails with the server's error and
// leaves the database as it was.
TEST(IBServicesServer, RestoreOverADatabaseInUseRaises) {
  PELVAR_REQUIRE_SERVER();
  auto db = FbTestDb::Create(FbTestDb::Mode::Server);
  db->RunSql(kFillScript);
  const std::string backup_file = db->Dir().File("full.fbk");
  TIBBackupService backup(nullptr);
  ConfigureService(backup, FbTestDb::Mode::Server);
  backup.SetDatabaseName(db->Path());
  backup.BackupFile()->Add(backup_file);
  backup.SetActive(true);
  StartAndReadChunks(backup);
  backup.SetActive(false);
  db->RunSql("delete from \"KŮŇ\" where ID > 20;\ncommit;\n");

  InstallClientLibraryNameProvider();
  TComponent form(nullptr);
  new TIB_Session(&form);
  auto* conn = new TIB_Connection(&form);
  conn->SetDatabaseName(db->ConnectString());
  conn->SetUsername(kSysdbaUser);
  conn->SetPassword(kSysdbaPassword);
  conn->Open();

  TIBRestoreService restore(nullptr);
  ConfigureService(restore, FbTestDb::Mode::Server);
  restore.DatabaseName()->Add(db->Path());
  restore.BackupFile()->Add(backup_file);
  restore.SetOptions({TRestoreOption::Replace});
  restore.SetVerbose(true);
  restore.SetActive(true);
  try {
    StartAndReadLines(restore);
    ADD_FAILURE() << "restored over a database in use";
  } catch (const EIBInterBaseError& e) {
    EXPECT_NE(e.Message().find("in use"), std::string::npos) << e.Message();
  }
  EXPECT_FALSE(restore.Active());
  conn->Close();
  EXPECT_EQ(ListValue(TableSummary(db->ConnectString()), "N"), "20");

  restore.SetActive(true);
  StartAndReadLines(restore);
  restore.SetActive(false);
  EXPECT_EQ(ListValue(TableSummary(db->ConnectString()), "N"), "120");
  ClientLibraryNameHook = nullptr;
}

}  // namespace
}  // namespace pelvar::test
