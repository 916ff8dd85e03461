// Backup and restore of a practice database through the data module's services in the
// in-process engine: the four display modes as a view sees them, a restored backup
// that dumps to the same checksum as its source (tools/practice), a restore over an
// existing file, failed restores that leave no half database behind, and the main
// database's restore (in a process of its own) of a backup with forced writes, which
// must succeed every time.
#include <gtest/gtest.h>
#include <sched.h>

#include <filesystem>
#include <string>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "main_form_double.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

class DmMeldDb : public ::testing::Test {
 protected:
  // One small practice database for the whole suite, copied by the tests that need it.
  static void SetUpTestSuite() {
    InstallClientLibraryNameProvider();
    source_dir_ = new TempDir("pelvar-dmmeld");
    const std::string main = source_dir_->File("main.fdb");
    const CommandResult r = GeneratePractice({"--seed", "dm", "--size", "small", "--main", main});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    checksum_ = new std::string(PracticeChecksum(main));
  }
  static void TearDownTestSuite() {
    delete source_dir_;
    delete checksum_;
    source_dir_ = nullptr;
    checksum_ = nullptr;
  }
  static std::string SourceDb() { return source_dir_->File("main.fdb"); }

  // A backup of the practice database made once, in mode 0.
  std::string Backup() {
    const std::string bkp = dir_.File("main.fbk");
    if (!fs::exists(bkp)) {
      EXPECT_TRUE(dm_.BackupDatabase(SourceDb(), bkp, 0, "b", 'L', 0, 0));
    }
    return bkp;
  }

  static TempDir* source_dir_;
  static std::string* checksum_;
  TempDir dir_{"pelvar-dmmeld"};
  MainFormDouble form_;
  TRecordingPracujiView view_;
  TDMMeldrun dm_{nullptr, form_};
};

TempDir* DmMeldDb::source_dir_ = nullptr;
std::string* DmMeldDb::checksum_ = nullptr;

TEST_F(DmMeldDb, BackupInEachDisplayMode) {
  for (int mode = 0; mode <= 3; ++mode) {
    SCOPED_TRACE(mode);
    view_.Clear();
    const std::string bkp = dir_.File("m" + std::to_string(mode) + ".fbk");
    ASSERT_TRUE(dm_.BackupDatabase(SourceDb(), bkp, mode, CZ("Záloha hlavní databáze..."), 'L', 12, 34));
    EXPECT_GT(fs::file_size(bkp), 10000u);
    EXPECT_FALSE(dm_.IBBackupService1()->Active());
    const auto& u = view_.Updates();
    ASSERT_GE(u.size(), 2u);
    // Shown at the place asked with the caption, hidden at the end.
    EXPECT_TRUE(u.front().Visible);
    EXPECT_EQ(u.front().Left, 12);
    EXPECT_EQ(u.front().Top, 34);
    EXPECT_EQ(u.front().LabelInfo, CZ("Záloha hlavní databáze..."));
    EXPECT_EQ(u.front().Kind, mode == 2 ? TPracujiForm::TKind::Memo : TPracujiForm::TKind::Plain);
    EXPECT_FALSE(u.back().Visible);
    EXPECT_EQ(dm_.IBBackupService1()->Verbose(), mode != 0);
    switch (mode) {
      case 1:
        EXPECT_TRUE(view_.ShowedStatus(CZ("Zazálohováno: 10 objektů")));
        EXPECT_TRUE(view_.ShowedStatus(CZ("Zazálohováno: 20 objektů")));
        EXPECT_TRUE(u[u.size() / 2].StatusBarVisible);
        EXPECT_FALSE(dm_.ProgressWindow()->StatusBarPracuji().Visible());
        break;
      case 2:
        // Every line of the server's output, unchanged, in the memo.
        EXPECT_GT(dm_.MemoProgressWindow()->MemoPracuji().Lines().size(), 100u);
        EXPECT_GT(u[u.size() - 2].MemoLineCount, 100u);
        break;
      case 3: {
        bool stepped = false;
        for (const auto& s : u) stepped = stepped || (s.ProgressBarVisible && s.ProgressPosition > 0);
        EXPECT_TRUE(stepped);
        EXPECT_FALSE(dm_.ProgressWindow()->ProgressBarPracuji().Visible());
        EXPECT_EQ(dm_.ProgressWindow()->ProgressBarPracuji().Position(), 0);
        break;
      }
    }
  }
}

TEST_F(DmMeldDb, RestoredBackupEqualsItsSourceInEachMode) {
  const std::string bkp = Backup();
  for (int mode = 0; mode <= 3; ++mode) {
    SCOPED_TRACE(mode);
    view_.Clear();
    const std::string restored = dir_.File("r" + std::to_string(mode) + ".fdb");
    ASSERT_TRUE(dm_.RestoreDatabase(restored, bkp, mode, CZ("Rozbalení hlavní databáze..."), 'L', 0, 0));
    EXPECT_FALSE(dm_.IBRestoreService1()->Active());
    EXPECT_FALSE(view_.Updates().back().Visible);
    if (mode == 1) {
      EXPECT_TRUE(dm_.ProgressWindow()->StatusBarPracuji().SimpleText().find(CZ("Rozbaleno: ")) == 0);
    }
    if (mode == 2) {
      EXPECT_GT(dm_.MemoProgressWindow()->MemoPracuji().Lines().size(), 100u);
    }
    if (mode == 0 || mode == 3) {
      EXPECT_EQ(PracticeChecksum(restored), *checksum_);
    }
  }
}

TEST_F(DmMeldDb, RestoreReplacesAnExistingDatabase) {
  const std::string bkp = Backup();
  auto other = FbTestDb::Create(FbTestDb::Mode::Embedded, "other.fdb");
  const std::string target = dir_.File("target.fdb");
  fs::copy_file(other->Path(), target);
  ASSERT_NE(PracticeChecksum(target), *checksum_);
  ASSERT_TRUE(dm_.RestoreDatabase(target, bkp, 2, "r", 'L', 0, 0));
  EXPECT_EQ(PracticeChecksum(target), *checksum_);
  for (const auto& e : fs::directory_iterator(dir_.Path()))
    EXPECT_EQ(e.path().string().find(".restoring"), std::string::npos) << e.path();

  // A database in use is not replaced: the restore fails and the file stays.
  dm_.OpenDst(target, AdministratorUser, AdministratorPassword);
  EXPECT_THROW(dm_.RestoreDatabase(target, other->Path() + "x", 0, "r", 'L', 0, 0), Exception);
  try {
    dm_.RestoreDatabase(target, bkp, 0, "r", 'L', 0, 0);
    ADD_FAILURE() << "a database in use was replaced";
  } catch (const EDatabaseError& e) {
    EXPECT_NE(e.Message().find(CZ("je právě používána")), AnsiString::npos) << e.Message();
  }
  dm_.Dst()->SetConnected(false);
  EXPECT_EQ(PracticeChecksum(target), *checksum_);
}

// A backup cut short: the server starts the restore, makes the database and fails half
// way. What was at the target before stays; where there was nothing, nothing is left.
TEST_F(DmMeldDb, FailedRestoreLeavesNoHalfDatabase) {
  const std::string bkp = Backup();
  const std::string cut = dir_.File("cut.fbk");
  {
    const std::string data = ReadFile(bkp);
    WriteFile(cut, data.substr(0, data.size() / 2));
  }
  const std::string fresh = dir_.File("fresh.fdb");
  EXPECT_THROW(dm_.RestoreDatabase(fresh, cut, 2, "r", 'L', 0, 0), Exception);
  EXPECT_FALSE(fs::exists(fresh));
  EXPECT_FALSE(dm_.MemoProgressWindow()->Visible());
  EXPECT_FALSE(dm_.IBRestoreService1()->Active());

  const std::string target = dir_.File("kept.fdb");
  fs::copy_file(SourceDb(), target);
  EXPECT_THROW(dm_.RestoreDatabase(target, cut, 1, "r", 'L', 0, 0), Exception);
  ASSERT_TRUE(fs::exists(target));
  EXPECT_EQ(PracticeChecksum(target), *checksum_);
  for (const auto& e : fs::directory_iterator(dir_.Path()))
    EXPECT_EQ(e.path().string().find(".restoring"), std::string::npos) << e.path();

  // A missing backup fails at the start, before anything is touched.
  EXPECT_THROW(dm_.RestoreDatabase(target, dir_.File("none.fbk"), 0, "r", 'L', 0, 0), Exception);
  EXPECT_EQ(PracticeChecksum(target), *checksum_);
}

TEST_F(DmMeldDb, BackupOfAMissingDatabaseRaisesAndHidesTheWindow) {
  EXPECT_THROW(dm_.BackupDatabase(dir_.File("none.fdb"), dir_.File("none.fbk"), 1, "b", 'L', 0, 0),
               Exception);
  EXPECT_FALSE(dm_.ProgressWindow()->Visible());
  EXPECT_FALSE(dm_.IBBackupService1()->Active());
}

TEST_F(DmMeldDb, OpenDstAndItsFailure) {
  const std::string copy = dir_.File("dst.fdb");
  fs::copy_file(SourceDb(), copy);
  dm_.OpenDst(copy, AdministratorUser, AdministratorPassword);
  EXPECT_TRUE(dm_.Dst()->Connected());
  EXPECT_EQ(dm_.Dst()->CharSet(), "WIN1250");
  try {
    dm_.OpenSrc(dir_.File("none.fdb"), AdministratorUser, AdministratorPassword);
    FAIL() << "no exception";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message().find(CZ("Otevření zdrojové databáze skončilo chybou:")), 0u) << e.Message();
    EXPECT_GT(e.Message().size(), CZ("Otevření zdrojové databáze skončilo chybou:").size());
  }
  EXPECT_FALSE(dm_.Src()->Connected());
}

// The restore process ends while the engine may still be closing the restored
// database; with forced writes that often outlasts the output, and an end that unloaded
// the client library under it crashed the process now and then. On one processor (the
// restore process inherits this process's) that happens almost every time.
TEST_F(DmMeldDb, MainRestoreOfABackupWithForcedWritesSucceedsEveryTime) {
  auto db = FbTestDb::Create(FbTestDb::Mode::Embedded, "forced.fdb");
  CommandResult r = RunCommand({"gfix", "-write", "sync", "-user", kSysdbaUser, "-password", kSysdbaPassword,
                                db->Path()});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const std::string bkp = dir_.File("forced.fbk");
  r = RunCommand({"gbak", "-b", "-user", kSysdbaUser, "-password", kSysdbaPassword, db->Path(), bkp});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const std::string target = dir_.File("main.fdb");
  cpu_set_t all;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  cpu_set_t one;
  CPU_ZERO(&one);
  for (int c = 0; c < CPU_SETSIZE; ++c) {
    if (CPU_ISSET(c, &all)) {
      CPU_SET(c, &one);
      break;
    }
  }
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  bool restored = true;
  for (int i = 0; i < 10 && restored; ++i) {
    try {
      restored = dm_.RestoreDatabase(target, bkp, 0, "r", 'M', 0, 0);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "restore " << i << ": " << e.what();
      restored = false;
    }
  }
  sched_setaffinity(0, sizeof all, &all);
  ASSERT_TRUE(restored);
  EXPECT_EQ(QueryOne(target, "select MON$FORCED_WRITES as V from MON$DATABASE;"), "1");
}

}  // namespace
}  // namespace pelvar::test
