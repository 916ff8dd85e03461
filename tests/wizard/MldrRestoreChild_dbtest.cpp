// The restore child of the wizard (the program meldrun-restore, run as the wizard runs
// it) and the embedded engine's machine-wide lock table, in a lock directory of the
// test's own (FIREBIRD_LOCK): a child asked to end (SIGTERM, as the wizard ends it and as
// a closing session ends its process group) shuts its engine down and ends with the
// signal's exit code, and a database opens right after; a child that restored and
// ended many times leaves nothing that holds the next open up. The open runs in isql-fb
// under a short time limit, so a lock left held fails the test rather than hanging it.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/firebird.h"
#include "support/process.h"
#include "sync/BkpResUtils.h"
#include "platform/codepage.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

class MldrRestoreChildDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir("pelvar-restorechild");
    // A backup whose restore takes a moment: a table of some thousands of rows.
    db_ = FbTestDb::Create(FbTestDb::Mode::Embedded).release();
    db_->RunSql(
        "create table T (ID integer not null primary key, TEXT varchar(200));\n"
        "set term ^;\n"
        "execute block as declare i integer = 0; begin\n"
        "  while (i < 60000) do begin\n"
        "    insert into T values (:i, lpad('', 180, 'x') || :i); i = i + 1; end\n"
        "end^\n"
        "set term ;^\n"
        "commit;\n");
    const CommandResult b = RunCommand({"gbak", "-b", "-user", kSysdbaUser, "-password", kSysdbaPassword,
                                        db_->Path(), dir_->File("big.fbk")});
    ASSERT_EQ(b.exit_code, 0) << b.output;
  }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
    delete dir_;
    dir_ = nullptr;
  }

  void SetUp() override { fs::create_directories(Lock()); }
  void TearDown() override { fs::remove_all(Lock()); }

  std::string Lock() const { return dir_->File("lock"); }

  // A child restoring backup into database with the test's lock directory; its
  // standard output is read by the caller, its standard error goes to err.
  pid_t Start(const std::string& database, const std::string& backup, int& out, const std::string& err) {
    int pipe_out[2];
    if (::pipe(pipe_out) != 0) return -1;
    const std::string helper = AnsiToUtf8(TRestoreProcess::HelperPath());
    const std::string lock = "FIREBIRD_LOCK=" + Lock();
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::dup2(pipe_out[1], 1);
      const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(e, 2);
      ::close(pipe_out[0]);
      ::putenv(const_cast<char*>(lock.c_str()));
      ::execl(helper.c_str(), helper.c_str(), database.c_str(), backup.c_str(), "4096", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(pipe_out[1]);
    out = pipe_out[0];
    return pid;
  }

  // Opens a database in isql-fb with the test's lock directory, under a time limit.
  CommandResult OpenQuickly(const std::string& database) {
    return RunCommand({"env", "FIREBIRD_LOCK=" + Lock(), "timeout", "30", "isql-fb", "-q", "-user", kSysdbaUser,
                       "-password", kSysdbaPassword, database},
                      "select 'OPEN' || 'ED' from RDB$DATABASE;\n");
  }

  static TempDir* dir_;
  static FbTestDb* db_;
};

TempDir* MldrRestoreChildDb::dir_ = nullptr;
FbTestDb* MldrRestoreChildDb::db_ = nullptr;

// SIGTERM while the child restores: it ends with 128 + SIGTERM, not by a fault of the
// engine's own handling; then a database opens at once.
TEST_F(MldrRestoreChildDb, EndedBySigtermItShutsItsEngineDownAndADatabaseOpensRightAfter) {
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    const std::string database = dir_->File("ended" + std::to_string(round) + ".fdb");
    const std::string err = dir_->File("ended.err");
    int out = -1;
    const pid_t pid = Start(database, dir_->File("big.fbk"), out, err);
    ASSERT_GT(pid, 0);
    // Under way: the restore has written its first lines.
    std::string lines;
    char buffer[4096];
    while (std::count(lines.begin(), lines.end(), '\n') < 3) {
      pollfd p{out, POLLIN, 0};
      if (::poll(&p, 1, 60000) <= 0) break;
      const ssize_t n = ::read(out, buffer, sizeof buffer);
      if (n <= 0) break;
      lines.append(buffer, static_cast<size_t>(n));
    }
    ::kill(pid, SIGTERM);
    // Its output is read to the end so that it never waits on a full pipe.
    while (::read(out, buffer, sizeof buffer) > 0) {
    }
    ::close(out);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const std::string said = ReadFile(err);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status) << "\n" << said;
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM) << said;
    const CommandResult r = OpenQuickly(db_->Path());
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("OPENED"), std::string::npos) << r.output;
    fs::remove(database);
  }
}

// Restores that run to their end, one after another, then an open.
TEST_F(MldrRestoreChildDb, RestoredManyTimesItLeavesNothingThatHoldsTheNextOpen) {
  const std::string small = dir_->File("small.fbk");
  if (!fs::exists(small)) {
    auto tiny = FbTestDb::Create(FbTestDb::Mode::Embedded);
    tiny->RunSql("create table S (ID integer);\ninsert into S values (1);\ncommit;\n");
    const CommandResult b =
        RunCommand({"gbak", "-b", "-user", kSysdbaUser, "-password", kSysdbaPassword, tiny->Path(), small});
    ASSERT_EQ(b.exit_code, 0) << b.output;
  }
  const std::string database = dir_->File("again.fdb");
  for (int i = 0; i < 8; ++i) {
    int out = -1;
    const pid_t pid = Start(database, small, out, dir_->File("again.err"));
    ASSERT_GT(pid, 0);
    char buffer[4096];
    while (::read(out, buffer, sizeof buffer) > 0) {
    }
    ::close(out);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(dir_->File("again.err"));
  }
  const CommandResult r = OpenQuickly(database);
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_NE(r.output.find("OPENED"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace pelvar::test
