// The wizard of a practice with a Firebird server ("MyProtocol" and "ServerProtocol"
// TCP/IP, the server "localhost"), started by an OS user other than the server's (the
// server runs as its own user; the test as another, with a umask that lets nobody else
// read its files): preparation, one station's play-in and finishing through the wizard's
// own operations complete, the working database is the server's own file, the main
// database (read through the server) holds the station's new row, and the station's
// medium gets a new archive whose backup gbak restores to data with that row and with
// the station's row that did not arrive (its partner exists nowhere), still marked.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "support/firebird.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "wizard/MldrMain.h"
#include "../sync/play_practice.h"
#include "wizard_env.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

class ServerWizard : public TFrmMldrMain {
 public:
  using TFrmMldrMain::TFrmMldrMain;
  ~ServerWizard() override { BeforeDestruction(); }
};

// Answers every dialog with its default button and keeps the texts (UTF-8).
class Dialogs {
 public:
  Dialogs() {
    previous_ = SetDialogResponder([this](const TDialogRequest& r) {
      texts.push_back(AnsiToUtf8(r.Text));
      return r.DefaultResult != mrNone ? r.DefaultResult : mrOk;
    });
  }
  ~Dialogs() { SetDialogResponder(previous_); }
  std::vector<std::string> texts;

 private:
  TDialogResponder previous_;
};

class MldrServer : public WizardEnv {
 protected:
  static void SetUpTestSuite() { InstallClientLibraryNameProvider(); }
  void SetUp() override {
    WizardEnv::SetUp();
    fs::current_path(dir_.Path());
  }
  void TearDown() override {
    wizard_.reset();
    fs::current_path(before_);
    WizardEnv::TearDown();
  }

  const fs::path before_ = fs::current_path();
  std::unique_ptr<ServerWizard> wizard_;
};

TEST_F(MldrServer, ARunByAnotherUserThanTheServersCompletes) {
  PELVAR_REQUIRE_SERVER();
  // The server runs as "firebird" (scripts/fbserver.sh); the run proves something only
  // under another user.
  if (const passwd* server_user = getpwnam("firebird"); server_user && server_user->pw_uid == geteuid())
    GTEST_SKIP() << "the test runs as the server's own user";
  for (const char* d : {"data", "media1", "zaloha", "stations"}) fs::create_directories(dir_.File(d));
  // The practice's data directory and main database are the server's to write (the test
  // stands for the practice's installation here).
  const std::string main = dir_.File("data/main.fdb");
  PlayPractice::CopyTo("main.fdb", main);
  chmod(dir_.File("data").c_str(), 0777);
  chmod(main.c_str(), 0666);

  // The station's medium: a new diagnosis beside what the practice marked, and a
  // document whose partner exists nowhere, which main does not take.
  const std::string station = dir_.File("stations/st.fdb");
  PlayPractice::CopyTo("st.fdb", station);
  const CommandResult q = RunIsql(
      "insert into DIAGNOZA (ID_DIAGNOZA, DIAGNOZA, DIAGNOZA_NAZEV, ST) values "
      "(gen_id(GEN_DIAGNOZA, 1), 'SRV54', 'Ze stanice přes server', 'I');\n"
      "insert into DOKLAD (ID_DOKLAD, DOKLAD, TYP_DOKLADU, ID_DRUH_DOKLADU, PARTNER, ID_PARTNER, "
      "ZALOZENI_ZAZNAMU, CAS, ST) values (gen_id(GEN_DOKLAD, 1), 'SRV-KEEP', 'FA', 1110, 'NIKDE', 990999, "
      "'2026-06-14', '10:00:00', 'I');\ncommit;\n",
      station);
  ASSERT_EQ(q.exit_code, 0) << q.output;
  const std::string backup = dir_.File("stations/st.fbk");
  CommandResult r = RunCommand({"gbak", "-b", "-user", kSysdbaUser, "-password", kSysdbaPassword, station, backup});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const std::string medium = dir_.File("media1/stanice1.zip");
  r = RunCommand({"python3", "-c",
                  "import sys, zipfile\n"
                  "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
                  "    z.writestr('Identifikace.txt', sys.argv[2] + '\\r\\n')\n"
                  "    z.write(sys.argv[3], 'Pelvar.cb0')\n",
                  medium, "PC1", backup});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const std::string medium_before = ReadFile(medium);

  // An administrator whose files nobody else may read: what the server must read or
  // write the wizard opens to it.
  const mode_t umask_before = umask(077);
  struct RestoreUmask {
    mode_t mask;
    ~RestoreUmask() { umask(mask); }
  } restore_umask{umask_before};
  WriteFile(dir_.File("Meldrun.ini"),
            "[DATABAZE]\r\nPath=" + dir_.File("data") + "\r\nDBFileName=main.fdb\r\nBkpPath=" + dir_.File("zaloha") +
                "\r\n[WORKSTATION]\r\nMyProtocol=TCP/IP\r\n[SERVER]\r\nServerName=localhost\r\n"
                "ServerProtocol=TCP/IP\r\n");
  wizard_ = std::make_unique<ServerWizard>(AnsiString(dir_.Path() + "/"));
  ServerWizard& w = *wizard_;
  TDMMeldrun* dm = w.MakeDataModule();
  ASSERT_EQ(dm->ConnectProtocol(), cpTCP_IP);
  w.Show();
  w.FillStationGrid("PC1|" + medium);
  w.ClickCheckBox(w.CB_Ciselniky);
  w.CB_VerifyZaloha.Checked = false;
  Dialogs dialogs;

  w.TimerTimer();
  ASSERT_TRUE(w.Btn_Next.Enabled);
  w.Btn_NextClick();
  ASSERT_EQ(w.PageIndex(), 1) << ::testing::PrintToString(dialogs.texts);
  // The working database is the server's: this process never holds it.
  EXPECT_EQ(dm->SelectDst("select mon$remote_protocol from mon$attachments where "
                          "mon$attachment_id = current_connection")
                .AsString()
                .substr(0, 3),
            "TCP");
  // The server made it.
  struct stat working {};
  ASSERT_EQ(stat(dir_.File("MAINDATA/Main.fdb").c_str(), &working), 0);
  EXPECT_NE(working.st_uid, geteuid());
  w.TimerTimer();
  w.Btn_NextClick();
  ASSERT_EQ(w.PageIndex(), 2) << ::testing::PrintToString(dialogs.texts);
  w.Btn_StartClick();
  ASSERT_EQ(w.PageIndex(), 3) << ::testing::PrintToString(dialogs.texts);
  w.Btn_NextClick();
  ASSERT_EQ(w.PageIndex(), 4) << ::testing::PrintToString(dialogs.texts);
  w.Btn_FinallyClick();
  ASSERT_EQ(w.PageIndex(), 5) << ::testing::PrintToString(dialogs.texts);
  EXPECT_EQ(WizardRegText("Level"), "0");

  // The preparation's notice and the play-in's equipment questions; no failure.
  for (size_t i = 1; i < dialogs.texts.size(); ++i)
    EXPECT_EQ(dialogs.texts[i].rfind("POZOR! Zařízení \"", 0), 0u) << dialogs.texts[i];

  const std::string through_server = "localhost:" + main;
  EXPECT_EQ(QueryOne(through_server, "select DIAGNOZA_NAZEV as V from DIAGNOZA where DIAGNOZA = 'SRV54';"),
            "Ze stanice přes server");
  EXPECT_EQ(QueryOne(through_server, "select count(*) as V from DIAGNOZA where ST is not null;"), "0");

  // The medium: the old archive kept as ".old", a new one whose backup restores to the
  // harmonised data.
  EXPECT_EQ(ReadFile(dir_.File("media1/stanice1.old")), medium_before);
  TempDir out("pelvar-unzip");
  r = RunCommand({"unzip", "-q", medium, "Pelvar.cb0", "-d", out.Path()});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const std::string delivered = dir_.File("delivered.fdb");
  r = RunCommand({"gbak", "-c", "-user", kSysdbaUser, "-password", kSysdbaPassword, out.File("Pelvar.cb0"), delivered});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(QueryOne(delivered, "select DIAGNOZA_NAZEV as V from DIAGNOZA where DIAGNOZA = 'SRV54';"),
            "Ze stanice přes server");
  // The document that did not arrive goes back to the station marked, for the next round.
  EXPECT_EQ(QueryOne(through_server, "select count(*) as V from DOKLAD where DOKLAD = 'SRV-KEEP';"), "0");
  EXPECT_EQ(QueryOne(delivered, "select ST as V from DOKLAD where DOKLAD = 'SRV-KEEP';"), "I");
}

}  // namespace
}  // namespace pelvar::test
