// The server letter "M" through the server on localhost: the main server named in the
// settings file (blank: localhost) backs up and restores.
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
  TDMMeldrun dm(nullptr, form);
  const std::string bkp = db->Dir().File("main.fbk");
  ASSERT_TRUE(dm.BackupDatabase(db->Path(), bkp, 1, "b", 'M', 0, 0));
  EXPECT_EQ(dm.IBBackupService()->ServerName(), "localhost");
  EXPECT_EQ(dm.IBBackupService()->Protocol(), TProtocol::TCP);
  ASSERT_TRUE(std::filesystem::exists(bkp));

  const std::string restored = db->Dir().File("restored.fdb");
  ASSERT_TRUE(dm.RestoreDatabase(restored, bkp, 2, "r", 'M', 0, 0));
  EXPECT_EQ(QueryOne("localhost:" + restored, "select count(*) as V from T;"), "2");

}

}  // namespace
}  // namespace pelvar::test
