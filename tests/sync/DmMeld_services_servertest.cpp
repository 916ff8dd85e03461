// The data module's database services through the server on localhost (the settings'
// "MyProtocol" TCP/IP): practice databases of tools/practice made by the embedded engine
// and then only ever opened by the server. Opening both sides and its failure, the version
// check, a generator raised, a journal remap with a swap and a quoted table name, the
// trigger switch and the cycle chunks.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "support/firebird.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "main_form_double.h"

namespace pelvar::test {
namespace {

TEST(DmMeldServicesServer, ServicesOverLocalhost) {
  PELVAR_REQUIRE_SERVER();
  InstallClientLibraryNameProvider();
  TempDir dir("pelvar-dmsvc-server");
  const std::string main = dir.File("main.fdb");
  const std::string station = dir.File("st.fdb");
  const CommandResult r = GeneratePractice({"--seed", "svcsrv", "--size", "small", "--main", main,
                                            "--station", station, "--station-version", "200701"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  // The server runs as its own user.
  chmod(main.c_str(), 0666);
  chmod(station.c_str(), 0666);

  MainFormDouble form;
  form.Ini["WORKSTATION/MyProtocol"] = "TCP/IP";
  TScriptedResponder dialogs([](const std::string& m) { ADD_FAILURE() << m; });
  TDMMeldrun dm(nullptr, form);
  ASSERT_EQ(dm.ConnectProtocol(), cpTCP_IP);
  try {
    dm.OpenDst(dir.File("none.fdb"), AdministratorUser, AdministratorPassword);
    ADD_FAILURE() << "a missing database opened";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message().find(CZ("Otevření cílové databáze skončilo chybou:")), 0u) << e.Message();
    EXPECT_NE(e.Message().find("none.fdb"), AnsiString::npos) << e.Message();
  }
  dm.OpenDst(main, AdministratorUser, AdministratorPassword);
  dm.OpenSrc(station, AdministratorUser, AdministratorPassword);
  EXPECT_EQ(dm.SelectDst("select mon$remote_protocol from mon$attachments where "
                         "mon$attachment_id = current_connection")
                .AsString()
                .substr(0, 3),
            "TCP");

  dialogs.Expect(mtConfirmation,
                 CZ("Verze Sehrávané databáze (200701) neodpovídá verzi sehrávacího programu (200824).\r\n"
                    "           Přejete si přesto pokračovat v sehrávání dat?"),
                 mrNo);
  EXPECT_FALSE(dm.CheckDatabaseVersion("src", 200824));
  EXPECT_EQ(dm.LowestVersion, 200701);
  EXPECT_TRUE(dm.CheckDatabaseVersion("dst", 200824));

  const int64_t st_gen = dm.SelectSrc("select gen_id(GEN_PACIENT, 0) from RDB$DATABASE").AsInt64();
  EXPECT_TRUE(dm.SyncGenerator("PACIENT", 0));
  EXPECT_EQ(dm.SelectDst("select gen_id(GEN_PACIENT, 0) from RDB$DATABASE").AsInt64(), st_gen);
  EXPECT_TRUE(dm.SyncGenerator("PACIENT", 1));
  EXPECT_EQ(dm.SelectDst("select gen_id(GEN_PACIENT, 0) from RDB$DATABASE").AsInt64(), st_gen);

  dm.InitStationLists(1);
  dm.AddIdMapping("L'AB", "1", "2");
  dm.AddIdMapping("L'AB", "2", "1");
  dm.AddIdMapping("L'AB", "3", "1");
  ASSERT_TRUE(dm.ExecDst("delete from ZURNAL"));
  for (int k = 1; k <= 4; ++k)
    ASSERT_TRUE(dm.ExecDst(Format("insert into ZURNAL (ID_ZURNAL, TABULKA, ID_ZAZNAM) values (%d, 'L''AB', %d)", {k, k})));
  dm.RemapJournal();
  std::vector<int32_t> keys;
  for (int k = 1; k <= 4; ++k)
    keys.push_back(dm.SelectDst(Format("select ID_ZAZNAM from ZURNAL where ID_ZURNAL = %d", {k})).AsInteger());
  EXPECT_EQ(keys, (std::vector<int32_t>{2, 1, 1, 4}));

  EXPECT_EQ(dm.SetJournalTriggers(0), 0);
  ASSERT_TRUE(dm.ExecDst("insert into PSC (ID_PSC, PSC) values (9301, '1')"));
  EXPECT_EQ(dm.SelectDst("select count(*) from ZURNAL").AsInteger(), 4);
  EXPECT_EQ(dm.SetJournalTriggers(1), 1);

  ASSERT_TRUE(dm.ExecSrc("update DOKLAD set ST = null"));
  ASSERT_TRUE(dm.ExecSrc("update DOKLAD set ST = 'I' where ID_DOKLAD in (select first 25 ID_DOKLAD from DOKLAD order by 1)"));
  dm.CommitAfter = 900;
  dm.PrepareDocumentCycles(3);
  std::vector<int32_t> sizes;
  for (size_t i = 0; i < 3; ++i)
    sizes.push_back(dm.SelectSrc(Format("select count(*) from DOKLAD where ST is not null and ID_DOKLAD between %d and %d",
                                        {dm.CycleLowerKeys[i], dm.CycleUpperKeys[i]}))
                        .AsInteger());
  EXPECT_EQ(sizes, (std::vector<int32_t>{9, 9, 7}));
  EXPECT_EQ(dm.CommitAfter, 900);

  dm.Src()->SetConnected(false);
  dm.Dst()->SetConnected(false);
}

}  // namespace
}  // namespace pelvar::test
