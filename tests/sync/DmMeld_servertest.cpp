// The server letter "M" through the server on localhost: the main server named in the
// settings file (blank: localhost) backs up and restores, and never replaces a database
// that is open.
#include <gtest/gtest.h>

#include <filesystem>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "support/firebird.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "main_form_double.h"

namespace pelvar::test {
namespace {

TEST(DmMeldServer, MainServerBacksUpAndRestores) {
  PELVAR_REQUIRE_SERVER();
  InstallClientLibraryNameProvider();
  auto db = FbTestDb::Create(FbTestDb::Mode::Server, "main.fdb");
  db->RunSql("create table T (ID integer not null primary key, S varchar(20));\n"
             "insert into T values (1, 'Žluťoučký');\ninsert into T values (2, 'kůň');\ncommit;\n");
  MainFormDouble form;
  form.Ini["SERVER/ServerName"] = " ";  // blank: localhost
  form.Ini["SERVER/ServerProtocol"] = "TCP/IP";
  form.Ini["WORKSTATION/MyProtocol"] = "TCP/IP";
  TDMMeldrun dm(nullptr, form);
  const std::string bkp = db->Dir().File("main.fbk");
  ASSERT_TRUE(dm.BackupDatabase(db->Path(), bkp, 1, "b", 'M', 0, 0));
  EXPECT_EQ(dm.IBBackupService()->ServerName(), "localhost");
  EXPECT_EQ(dm.IBBackupService()->Protocol(), TProtocol::TCP);
  ASSERT_TRUE(std::filesystem::exists(bkp));

  const std::string restored = db->Dir().File("restored.fdb");
  ASSERT_TRUE(dm.RestoreDatabase(restored, bkp, 2, "r", 'M', 0, 0));
  EXPECT_EQ(QueryOne("localhost:" + restored, "select count(*) as V from T;"), "2");

  // While the database is open it is not replaced; once closed it is.
  dm.OpenDst(restored, AdministratorUser, AdministratorPassword);
  try {
    dm.RestoreDatabase(restored, bkp, 0, "r", 'M', 0, 0);
    ADD_FAILURE() << "a database in use was replaced";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find(CZ("je právě používána")), AnsiString::npos) << e.Message();
  }
  dm.Dst()->SetConnected(false);
  EXPECT_TRUE(dm.RestoreDatabase(restored, bkp, 0, "r", 'M', 0, 0));
  EXPECT_EQ(QueryOne("localhost:" + restored, "select count(*) as V from T;"), "2");
  for (const auto& e : std::filesystem::directory_iterator(db->Dir().Path()))
    EXPECT_EQ(e.path().string().find(".restoring"), std::string::npos) << e.path();

}

}  // namespace
}  // namespace pelvar::test
