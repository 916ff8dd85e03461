// Transaction time-outs on the embedded engine with a manual clock: CheckOAT ends an idle
// read-committed transaction past its limit (in units of 1/88400 day) and leaves younger
// ones, snapshots, cursors and row locks alone; a failed hard commit is reported and
// leaves the transaction started; the session timer's Attempt step fetches a cursor but
// not one that holds AttemptMaxRows rows, then commits; PromptUser and ForceClosed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/dateutils.h"
#include "transaction_calls.h"

namespace pelvar::test {
namespace {

// A dataset stand-in that also answers what the Attempt step asks.
class TimedDataset : public FakeDataset {
 public:
  using FakeDataset::FakeDataset;
  void SysFetchAll(uint32_t Ticks) override {
    fetch_ticks.push_back(Ticks);
    if (rows_left <= fetch_step) {
      buffered += rows_left;
      rows_left = 0;
      cursor_open = false;
    } else {
      buffered += fetch_step;
      rows_left -= fetch_step;
    }
  }
  int32_t BufferRowCount() override { return buffered; }
  std::vector<uint32_t> fetch_ticks;
  int32_t buffered = 0, rows_left = 100, fetch_step = 40;
};

// Fails every commit with a lock conflict while set.
struct FailingCommit {
  FailingCommit() {
    saved = ClientCallTable.isc_commit_transaction;
    ClientCallTable.isc_commit_transaction = &Commit;
    calls = 0;
  }
  ~FailingCommit() { ClientCallTable.isc_commit_transaction = saved; }
  static ISC_STATUS Commit(ISC_STATUS* s, isc_tr_handle*) {
    ++calls;
    s[0] = isc_arg_gds;
    s[1] = 335544345;  // lock conflict
    s[2] = isc_arg_end;
    return 335544345;
  }
  static inline int calls = 0;
  decltype(ClientCallTable.isc_commit_transaction) saved;
};

class TimeoutsDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fb_ = FbTestDb::Create(FbTestDb::Mode::Embedded).release();
    fb_->RunSql("create table T (N integer);\ncommit;\n");
  }
  static void TearDownTestSuite() {
    delete fb_;
    fb_ = nullptr;
  }
  void SetUp() override {
    now_ = EncodeDate(2026, 3, 1);
    SetNowSource([this] { return now_; });
    rig_ = std::make_unique<DbRig>(fb_->ConnectString());
    rig_->db->Open();
  }
  void TearDown() override {
    rig_.reset();
    SetNowSource({});
    Application()->SetOnException({});
  }
  // Moves the clock on by Units time-out units (1/88400 day each).
  void Pass(double Units) { now_ += Units / 88400.0; }

  TIB_Transaction& Tr() { return rig_->tr(); }

  static FbTestDb* fb_;
  TDateTime now_ = 0;
  std::unique_ptr<DbRig> rig_;
};

FbTestDb* TimeoutsDb::fb_ = nullptr;

TEST_F(TimeoutsDb, CheckOATEndsOnlyIdleReadCommittedTransactionsPastTheLimit) {
  TIB_Transaction& tr = Tr();
  ASSERT_TRUE(tr.EnsureStarted());
  Pass(119.9);
  tr.CheckOAT();
  EXPECT_TRUE(tr.GetStarted()) << "younger than 120 units";
  Pass(0.2);
  rig_->log().clear();
  tr.CheckOAT();
  EXPECT_FALSE(tr.GetStarted());
  // Ended on the server without the commit's dataset pass and events.
  EXPECT_EQ(rig_->log(), (std::vector<std::string>{"e17", "AfterEnd", "e20"}));

  // Not for an open cursor, a row lock or a snapshot.
  ASSERT_TRUE(tr.EnsureStarted());
  Pass(500);
  tr.AdjustOpenCursorCount(1);
  tr.CheckOAT();
  EXPECT_TRUE(tr.GetStarted());
  tr.AdjustOpenCursorCount(-1);
  tr.AdjustRowLockCount(1);
  tr.CheckOAT();
  EXPECT_TRUE(tr.GetStarted());
  tr.AdjustRowLockCount(-1);
  tr.Commit();
  tr.SetIsolation(tiConcurrency);
  ASSERT_TRUE(tr.EnsureStarted());
  Pass(500);
  tr.CheckOAT();
  EXPECT_TRUE(tr.GetStarted());
  tr.Commit();
}

TEST_F(TimeoutsDb, AFailedHardCommitIsReportedAndLeavesTheTransactionStarted) {
  TIB_Transaction& tr = Tr();
  ASSERT_TRUE(tr.EnsureStarted());
  Pass(200);
  std::vector<int32_t> reported;
  rig_->db->SetOnError([&](TObject*, int32_t ERRCODE, TStringList*, TStringList*, int32_t,
                           TStringList*, TStringList*, bool& Raise) {
    reported.push_back(ERRCODE);
    Raise = false;
  });
  {
    FailingCommit failing;
    rig_->log().clear();
    tr.CheckOAT();
    EXPECT_GE(FailingCommit::calls, 1);
    EXPECT_EQ(reported, std::vector<int32_t>{335544345});
    EXPECT_TRUE(tr.GetStarted()) << "the server still holds it";
    EXPECT_TRUE(tr.TimeoutProps()->DisableCheckOATFromError);
    EXPECT_EQ(std::count(rig_->log().begin(), rig_->log().end(), "AfterEnd"), 0);
    const int calls = FailingCommit::calls;
    tr.CheckOAT();
    EXPECT_EQ(FailingCommit::calls, calls) << "no further attempt until the next start";
  }
  // Without a connection handler the application's exception handler shows it.
  tr.Rollback();
  ASSERT_TRUE(tr.EnsureStarted());
  Pass(200);
  rig_->db->SetOnError(nullptr);
  std::vector<std::string> shown;
  Application()->SetOnException([&](TObject*, const Exception& e) { shown.push_back(e.Message()); });
  {
    FailingCommit failing;
    tr.CheckOAT();
  }
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0].find("335544345"), std::string::npos) << shown[0];
  EXPECT_TRUE(tr.GetStarted());
  tr.Rollback();
}

TEST_F(TimeoutsDb, TimerAttemptFetchesUntilTheCursorEndsThenCommits) {
  TIB_Transaction& tr = Tr();
  tr.StartTransaction();  // explicit
  auto* ds = new TimedDataset(&rig_->form, rig_->log(), "ds", &tr, rig_->db);
  ds->Open();
  tr.AdjustOpenCursorCount(1);
  ASSERT_TRUE(tr.EnsureStarted());
  bool done = true, waiting = false, terminate = false;
  Pass(1000);
  tr.DoSessionTimer(done, waiting, terminate);
  EXPECT_TRUE(ds->fetch_ticks.empty()) << "before the first Attempt age";
  EXPECT_TRUE(waiting);
  Pass(201);  // 1201 units: past Attempt (1200)
  tr.DoSessionTimer(done, waiting, terminate);
  EXPECT_EQ(ds->fetch_ticks, std::vector<uint32_t>{150});
  EXPECT_EQ(tr.TimeoutProps()->NextAttempt, 1205);
  EXPECT_FALSE(done);
  EXPECT_TRUE(tr.GetStarted());
  Pass(5);
  done = true;
  tr.DoSessionTimer(done, waiting, terminate);
  Pass(5);
  tr.DoSessionTimer(done, waiting, terminate);
  EXPECT_EQ(ds->fetch_ticks.size(), 3u);
  EXPECT_FALSE(ds->cursor_open);
  // The cursor is done; the next step finds nothing to fetch and commits, keeping the
  // transaction explicit.
  tr.AdjustOpenCursorCount(-1);
  Pass(5);
  tr.DoSessionTimer(done, waiting, terminate);
  EXPECT_FALSE(tr.GetStarted());
  EXPECT_TRUE(tr.InTransaction());
  tr.Commit();
}

TEST_F(TimeoutsDb, AttemptMaxRowsStopsALongFetch) {
  TIB_Transaction& tr = Tr();
  tr.TimeoutProps()->AttemptMaxRows = 80;
  auto* ds = new TimedDataset(&rig_->form, rig_->log(), "ds", &tr, rig_->db);
  ds->rows_left = 1000;
  ds->Open();
  tr.AdjustOpenCursorCount(1);
  ASSERT_TRUE(tr.EnsureStarted());
  bool done = true, waiting = false, terminate = false;
  Pass(1201);
  for (int step = 0; step < 5; ++step) {
    done = true;
    tr.DoSessionTimer(done, waiting, terminate);
    Pass(5);
  }
  EXPECT_EQ(ds->fetch_ticks.size(), 2u) << "40 + 40 rows reach AttemptMaxRows";
  EXPECT_EQ(ds->buffered, 80);
  EXPECT_TRUE(ds->cursor_open);
  EXPECT_TRUE(tr.GetStarted()) << "a live dataset of raOpen keeps it";
  tr.AdjustOpenCursorCount(-1);
  tr.Rollback();
}

TEST_F(TimeoutsDb, PromptUserAndForceClosed) {
  TIB_Transaction& tr = Tr();
  tr.TimeoutProps()->PromptUser = 300;
  tr.TimeoutProps()->ForceClosed = 600;
  ASSERT_TRUE(tr.EnsureStarted());
  tr.AdjustRowLockCount(1);  // keeps CheckOAT away
  int prompts = 0;
  tr.OnTimeoutPromptUser = [&](TIB_Transaction*) { ++prompts; };
  bool done = true, waiting = false, terminate = false;
  Pass(301);
  tr.DoSessionTimer(done, waiting, terminate);
  EXPECT_EQ(prompts, 1);
  EXPECT_EQ(tr.TimeoutProps()->NextPromptUser, 360);
  tr.DoSessionTimer(done, waiting, terminate);
  EXPECT_EQ(prompts, 1) << "next prompt at 360 units";
  Pass(300);
  tr.DoSessionTimer(done, waiting, terminate);
  EXPECT_FALSE(tr.GetStarted()) << "closed after 600 units";
  tr.AdjustRowLockCount(-1);
}

}  // namespace
}  // namespace pelvar::test
