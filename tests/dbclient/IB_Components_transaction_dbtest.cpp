// Transactions on the embedded engine: the database component's default transaction
// committing and rolling back with its events in order, one transaction over two
// databases, the parameter block, a read-only database, AutoCommit, the retaining
// forms, failing commits and rollbacks, connections that go; the server's facts and
// identifiers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dateutils.h"
#include "platform/oslayer.h"
#include "transaction_calls.h"

namespace pelvar::test {
namespace {

std::unique_ptr<FbTestDb> MakeDb(const std::string& name = "test.fdb") {
  auto fb = FbTestDb::Create(FbTestDb::Mode::Embedded, name);
  fb->RunSql("create table T (N integer);\ncommit;\n");
  return fb;
}

TEST(TransactionEmbedded, DatabaseCommitsAndRollsBackWithItsEventsInOrder) {
  auto fb = MakeDb();
  ClientSpy spy;
  DbRig rig(fb->ConnectString());
  TIB_Transaction& tr = rig.tr();
  EXPECT_EQ(tr.Name(), "trdbMain");
  rig.db->Open();
  auto* ds = new FakeDataset(&rig.form, rig.log(), "ds", &tr, rig.db);
  ds->Open();
  rig.log().clear();
  spy.log = &rig.log();

  tr.StartTransaction();
  ASSERT_TRUE(tr.EnsureStarted());
  EXPECT_EQ(rig.log(), (std::vector<std::string>{"e20", "e20", "BeforeStart", "e2",
                                                 "isc_start_multiple", "e20", "e3", "AfterStart",
                                                 "e20"}));
  EXPECT_TRUE(tr.WantsSessionTimer());
  Exec(tr, *rig.db, "insert into T values (42)");
  ds->StartEdit();
  rig.log().clear();

  tr.Commit();
  EXPECT_EQ(rig.log(),
            (std::vector<std::string>{"e20", "BeforeEnd", "e16", "BeforeCommit", "e4", "ds.post",
                                      "ds.close", "isc_commit_transaction", "e5", "e20",
                                      "AfterCommit", "e17", "AfterEnd", "e20"}));
  EXPECT_FALSE(tr.GetStarted());
  EXPECT_FALSE(tr.InTransaction());
  EXPECT_EQ(tr.State(), tsNone);
  EXPECT_FALSE(tr.WantsSessionTimer());
  spy.log = nullptr;
  EXPECT_EQ(Seen(*fb, "select count(*) from T where N = 42"), "1");

  tr.StartTransaction();
  ASSERT_TRUE(tr.EnsureStarted());
  Exec(tr, *rig.db, "insert into T values (43)");
  rig.log().clear();
  spy.log = &rig.log();
  tr.Rollback();
  EXPECT_EQ(rig.log(), (std::vector<std::string>{"e20", "BeforeEnd", "e16", "BeforeRollback",
                                                 "e10", "isc_rollback_transaction", "e11", "e20",
                                                 "AfterRollback", "e17", "AfterEnd", "e20"}));
  spy.log = nullptr;
  EXPECT_FALSE(tr.GetStarted());
  EXPECT_EQ(Seen(*fb, "select count(*) from T where N = 43"), "0");
  rig.db->Close();
}

TEST(TransactionEmbedded, OneTransactionOverTwoDatabasesCommitsBoth) {
  auto fb1 = MakeDb("one.fdb");
  auto fb2 = MakeDb("two.fdb");
  ClientSpy spy;
  TComponent form(nullptr);
  new TIB_Session(&form);
  auto* c1 = new TIB_Connection(&form);
  auto* c2 = new TIB_Connection(&form);
  c1->SetName("c1");
  c2->SetName("c2");
  PrepareConnection(c1, fb1->ConnectString());
  PrepareConnection(c2, fb2->ConnectString());
  auto* tr = new TIB_Transaction(&form);
  tr->SetIB_Connection(c1);
  tr->SetIB_Connection1(c2);
  std::vector<std::string> customized;
  tr->OnCustomizeTPB = [&](TIB_Transaction*, TIB_Connection* c, int32_t& ind, char* buf) {
    customized.push_back(c != nullptr ? c->Name() : "nil");
    if (c == c2) buf[ind++] = static_cast<char>(isc_tpb_no_auto_undo);
  };
  tr->StartTransaction();
  ASSERT_TRUE(tr->EnsureStarted()) << "the connections are opened by the start";
  EXPECT_TRUE(c1->GetConnected());
  EXPECT_TRUE(c2->GetConnected());
  EXPECT_EQ(customized, (std::vector<std::string>{"nil", "c1", "c2"}));
  ASSERT_EQ(spy.tpbs.back().size(), 2u);
  EXPECT_EQ(Bytes(spy.tpbs.back()[0]), "3 9 15 17 7");
  EXPECT_EQ(Bytes(spy.tpbs.back()[1]), "3 9 15 17 7 20");
  Exec(*tr, *c1, "insert into T values (1)");
  Exec(*tr, *c2, "insert into T values (2)");
  tr->Commit();
  EXPECT_EQ(Seen(*fb1, "select sum(N) from T"), "1");
  EXPECT_EQ(Seen(*fb2, "select sum(N) from T"), "2");

  // A handler that writes past the buffer's end is refused before anything is sent.
  tr->OnCustomizeTPB = [](TIB_Transaction*, TIB_Connection*, int32_t& ind, char*) {
    ind = 5000;
  };
  EXPECT_NE(ErrorOf([&] { tr->EnsureStarted(); }).find("TPB overrun"), std::string::npos);
  EXPECT_FALSE(tr->GetStarted());
  c1->Close();
  c2->Close();
}

TEST(TransactionEmbedded, ParameterBlockFollowsTheSettingsWhichStayWhileStarted) {
  auto fb = MakeDb();
  ClientSpy spy;
  DbRig rig(fb->ConnectString());
  struct Case {
    const char* name;
    bool read_only, rec_version, lock_wait, server_auto_commit;
    TIB_Isolation isolation;
    const char* tpb;
  };
  const Case cases[] = {
      {"defaults", false, true, false, false, tiCommitted, "3 9 15 17 7"},
      {"no record versions", false, false, false, false, tiCommitted, "3 9 15 18 7"},
      {"concurrency, waiting", false, true, true, false, tiConcurrency, "3 9 2 6"},
      {"consistency, read only", true, true, false, false, tiConsistency, "3 8 1 7"},
      {"server autocommit", false, true, false, true, tiCommitted, "3 9 15 17 7 16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TIB_Transaction tr(nullptr);
    tr.SetIB_Connection(rig.db);
    tr.SetReadOnly(c.read_only);
    tr.SetRecVersion(c.rec_version);
    tr.SetLockWait(c.lock_wait);
    tr.SetIsolation(c.isolation);
    tr.SetServerAutoCommit(c.server_auto_commit);
    ASSERT_TRUE(tr.EnsureStarted());
    EXPECT_EQ(Bytes(spy.tpbs.back()[0]), c.tpb);
    EXPECT_EQ(ErrorOf([&] { tr.SetIsolation(tiConsistency); }),
              c.isolation == tiConsistency
                  ? AnsiString("<none>")
                  : CZ("Nemohu změnit hodnotu Isolation po nastartování"));
    EXPECT_EQ(ErrorOf([&] { tr.SetReadOnly(!c.read_only); }),
              CZ("Nemohu změnit hodnotu ReadOnly po nastartování"));
    EXPECT_EQ(tr.ReadOnly(), c.read_only);
    tr.Close();
    EXPECT_FALSE(tr.GetStarted());
  }
  rig.db->Close();
}

TEST(TransactionEmbedded, ReadOnlyDatabaseGetsAReadOnlyTransactionAndItsFacts) {
  auto fb = MakeDb();
  fb->RunSql("insert into T values (5);\ncommit;\n");
  const CommandResult r = RunCommand({"gfix", "-mode", "read_only", "-user", kSysdbaUser,
                                      "-password", kSysdbaPassword, fb->Path()});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  ClientSpy spy;
  DbRig rig(fb->ConnectString());
  rig.db->Open();
  const TIB_ConnectCharacteristics c = rig.db->Characteristics();
  EXPECT_EQ(c.dbODS_Version, 12);
  EXPECT_EQ(c.dbSQL_Dialect, 3);
  EXPECT_EQ(c.dbServer_Major, 3);
  EXPECT_EQ(c.dbServer_Platform, "LI");
  EXPECT_EQ(c.dbServer_Kind, "V");
  EXPECT_EQ(c.dbServer_Version.rfind("LI-V3.0", 0), 0u) << c.dbServer_Version;
  EXPECT_NE(c.dbServer_Name.find("Firebird 3"), std::string::npos) << c.dbServer_Name;
  EXPECT_EQ(c.dbRead_Only, 1);
  EXPECT_EQ(c.dbPage_Size, 8192);
  EXPECT_GT(c.dbSize_In_Pages, 0);
  EXPECT_GT(c.dbAllocation, 0);
  EXPECT_NE(c.dbFile_Name.find("test.fdb"), std::string::npos) << c.dbFile_Name;
  EXPECT_EQ(c.dbForced_Writes, 0);  // test databases are written without forced writes
  // The connection reports them without touching its parameters.
  EXPECT_EQ(rig.db->SQLDialect(), 3);
  EXPECT_EQ(rig.db->PageSize(), 8192);
  EXPECT_EQ(rig.db->Params()->Values("PAGE SIZE"), "");
  // A server of on-disk structure 12 describes parameters in their written order.
  EXPECT_FALSE(rig.db->ProbeOldParameterOrder());
  EXPECT_FALSE(rig.db->OldParameterOrder());

  TIB_Transaction& tr = rig.tr();
  EXPECT_FALSE(tr.ReadOnly());
  ASSERT_TRUE(tr.EnsureStarted()) << "a write transaction would be refused";
  EXPECT_EQ(Bytes(spy.tpbs.back()[0]), "3 8 15 17 7");
  {
    TestStatement st(*rig.db->IB_Session(), *rig.db->GetDbHandlePtr(), *tr.GetTrHandlePtr(),
                     "select cast(sum(N) as integer) from T");
    st.Execute();
    ASSERT_TRUE(st.Fetch());
    EXPECT_EQ(st.Int(0), 5);
  }
  tr.Close();
  rig.db->Close();
  RunCommand({"gfix", "-mode", "read_write", "-user", kSysdbaUser, "-password", kSysdbaPassword,
              fb->Path()});
}

TEST(TransactionEmbedded, IdentifiersForTheDialect) {
  TempDir dir("pelvar-tr");
  InstallClientLibraryNameProvider();
  for (int dialect : {3, 1}) {
    SCOPED_TRACE(dialect);
    TComponent form(nullptr);
    auto* c = new TIB_Connection(&form);
    PrepareConnection(c, dir.File("d" + std::to_string(dialect) + ".fdb"));
    c->SetSQLDialect(static_cast<int16_t>(dialect));
    c->CreateDatabase();
    EXPECT_EQ(c->SQLDialect(), dialect);
    EXPECT_EQ(c->MakeStoredIdent("MYTABLE"), "MYTABLE");
    EXPECT_EQ(c->MakeStoredIdent("MyTable"), dialect == 3 ? "\"MyTable\"" : "MYTABLE");
    EXPECT_EQ(c->MakeIdent("MyTable"), IdentForDialect(static_cast<uint16_t>(dialect), "MyTable"));
    c->DropDatabase();
  }
}

TEST(TransactionEmbedded, AutoCommitCommitsEachChangeOfAnImplicitTransaction) {
  auto fb = MakeDb();
  DbRig rig(fb->ConnectString());
  TIB_Transaction& tr = rig.tr();
  ASSERT_TRUE(tr.GetAutoCommit());
  ASSERT_TRUE(tr.EnsureStarted()) << "the database is attached by the start";
  const isc_tr_handle handle = *tr.GetTrHandlePtr();
  Exec(tr, *rig.db, "insert into T values (1)");
  rig.log().clear();
  tr.Activate();
  EXPECT_EQ(rig.log(), (std::vector<std::string>{"e20", "BeforeSavePoint", "e9", "e20",
                                                 "AfterSavePoint", "e20", "e20"}));
  EXPECT_EQ(tr.State(), tsInactive);
  EXPECT_EQ(*tr.GetTrHandlePtr(), handle) << "a retaining commit";
  EXPECT_EQ(Seen(*fb, "select count(*) from T"), "1");

  // An explicit one waits for Commit.
  tr.StartTransaction();
  Exec(tr, *rig.db, "insert into T values (2)");
  tr.Activate();
  EXPECT_EQ(tr.State(), tsActive);
  EXPECT_EQ(Seen(*fb, "select count(*) from T"), "1");
  tr.Commit();
  EXPECT_EQ(Seen(*fb, "select count(*) from T"), "2");

  // Destroying a started implicit AutoCommit transaction commits it.
  {
    auto other = std::make_unique<TIB_Transaction>(nullptr);
    other->SetAutoCommit(true);
    other->SetIB_Connection(rig.db);
    ASSERT_TRUE(other->EnsureStarted());
    Exec(*other, *rig.db, "insert into T values (10)");
    other.reset();
    EXPECT_EQ(rig.db->TransactionCount(), 1);
    EXPECT_EQ(Seen(*fb, "select count(*) from T where N = 10"), "1");
  }

  // Disconnecting ends the implicit transaction by committing it.
  ASSERT_TRUE(tr.EnsureStarted());
  Exec(tr, *rig.db, "insert into T values (3)");
  rig.db->Close();
  EXPECT_FALSE(tr.GetStarted());
  EXPECT_EQ(Seen(*fb, "select count(*) from T"), "4");
}

TEST(TransactionEmbedded, RetainingCommitOfAnOldIdleTransactionEndsIt) {
  auto fb = MakeDb();
  DbRig rig(fb->ConnectString());
  TDateTime now = 46000.5;
  SetNowSource([&now] { return now; });
  for (TIB_Isolation isolation : {tiCommitted, tiConcurrency}) {
    SCOPED_TRACE(static_cast<int>(isolation));
    TIB_Transaction& tr = rig.tr();
    tr.SetIsolation(isolation);
    tr.StartTransaction();
    ASSERT_TRUE(tr.EnsureStarted());
    Exec(tr, *rig.db, "insert into T values (1)");
    now += 121 / 88400.0;
    rig.log().clear();
    tr.CommitRetaining();
    if (isolation == tiCommitted) {
      EXPECT_FALSE(tr.GetStarted()) << "a hard commit";
      EXPECT_EQ(rig.log(), (std::vector<std::string>{"e20", "BeforeCommitRetaining", "e6", "e7",
                                                     "e20", "AfterCommitRetaining", "e17",
                                                     "AfterEnd", "e20"}));
    } else {
      EXPECT_TRUE(tr.GetStarted()) << "a snapshot stays however old";
      tr.Close();
    }
    EXPECT_FALSE(tr.InTransaction());
  }

  // CheckOAT ends an idle read-committed transaction of that age on the server, with
  // no commit events; one with an open cursor it leaves alone.
  TIB_Transaction& tr = rig.tr();
  tr.SetIsolation(tiCommitted);
  for (bool cursor : {true, false}) {
    SCOPED_TRACE(cursor);
    if (!tr.GetStarted()) {
      ASSERT_TRUE(tr.EnsureStarted());
    }
    if (cursor) tr.AdjustOpenCursorCount(1);
    now += 121 / 88400.0;
    rig.log().clear();
    tr.CheckOAT();
    if (cursor) {
      EXPECT_TRUE(tr.GetStarted());
      EXPECT_TRUE(rig.log().empty());
      tr.AdjustOpenCursorCount(-1);
    } else {
      EXPECT_FALSE(tr.GetStarted());
      EXPECT_EQ(rig.log(), (std::vector<std::string>{"e17", "AfterEnd", "e20"}));
    }
  }
  SetNowSource({});
  EXPECT_EQ(Seen(*fb, "select count(*) from T"), "2");
  rig.db->Close();
}

TEST(TransactionEmbedded, RollbackRetainingWithAndWithoutTheLibraryEntry) {
  auto fb = MakeDb();
  DbRig rig(fb->ConnectString());
  TIB_Transaction& tr = rig.tr();
  rig.db->Open();
  auto* uni = new FakeDataset(&rig.form, rig.log(), "uni", &tr, rig.db);
  auto* changed = new FakeDataset(&rig.form, rig.log(), "changed", &tr, rig.db);
  auto* plain = new FakeDataset(&rig.form, rig.log(), "plain", &tr, rig.db);
  uni->unidirectional = true;
  changed->refresh_action = raKeepRowNum;
  for (FakeDataset* d : {uni, changed, plain}) d->Open();
  const Tisc_rollback_retaining entry = ClientCallTable.isc_rollback_retaining;
  ASSERT_NE(entry, nullptr);
  for (bool with_entry : {true, false}) {
    SCOPED_TRACE(with_entry);
    ClientCallTable.isc_rollback_retaining = with_entry ? entry : nullptr;
    changed->work_flags = 1;
    tr.StartTransaction();
    ASSERT_TRUE(tr.EnsureStarted());
    Exec(tr, *rig.db, "insert into T values (1)");
    rig.log().clear();
    tr.RollbackRetaining();
    EXPECT_TRUE(tr.GetStarted()) << "the context goes on";
    EXPECT_FALSE(tr.InTransaction());
    EXPECT_EQ(QueryOne(*rig.db, "select count(*) from T"), "0");
    std::vector<std::string> datasets;
    for (const auto& s : rig.log()) {
      if (s.find('.') != std::string::npos) datasets.push_back(s);
    }
    EXPECT_EQ(datasets, with_entry ? std::vector<std::string>{"changed.refreshall"}
                                   : (std::vector<std::string>{"uni.close", "changed.refreshall"}));
    EXPECT_EQ(changed->work_flags, 0);
  }
  ClientCallTable.isc_rollback_retaining = entry;
  tr.Close();
  rig.db->Close();
}

// A start entry that answers the lost pipe while the test clock is below a limit.
struct FlakyStart {
  static inline Tisc_start_multiple real = nullptr;
  static inline uint32_t clock = 0;
  static inline uint32_t heal_at = 0;
  static inline int calls = 0;
  static ISC_STATUS Start(ISC_STATUS* s, isc_tr_handle* h, short n, void* v) {
    ++calls;
    if (clock < heal_at) {
      clock += 500;
      s[0] = isc_arg_gds;
      s[1] = 335544648;
      s[2] = isc_arg_end;
      return 335544648;
    }
    return real(s, h, n, v);
  }
};

TEST(TransactionEmbedded, StartIsRetriedOnTheLostPipeForTwoSeconds) {
  auto fb = MakeDb();
  DbRig rig(fb->ConnectString());
  rig.db->Open();
  FlakyStart::real = ClientCallTable.isc_start_multiple;
  ClientCallTable.isc_start_multiple = &FlakyStart::Start;
  SetTickCountSource([] { return FlakyStart::clock; });
  TIB_Transaction& tr = rig.tr();

  FlakyStart::clock = 0;
  FlakyStart::heal_at = 1500;
  FlakyStart::calls = 0;
  EXPECT_TRUE(tr.EnsureStarted());
  EXPECT_EQ(FlakyStart::calls, 4);
  tr.Close();

  FlakyStart::clock = 0;
  FlakyStart::heal_at = 100000;
  FlakyStart::calls = 0;
  try {
    tr.EnsureStarted();
    ADD_FAILURE() << "started";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.ERRCODE(), 335544648);
  }
  EXPECT_EQ(FlakyStart::calls, 5) << "tries at 0, 500, 1000, 1500 and 2000 ms";
  EXPECT_FALSE(tr.GetStarted());
  EXPECT_EQ(tr.State(), tsInactivePending);

  SetTickCountSource({});
  ClientCallTable.isc_start_multiple = FlakyStart::real;
  EXPECT_TRUE(tr.EnsureStarted());
  tr.Close();
  rig.db->Close();
}

// An information entry that answers like an old server: no server version, no dialect.
struct OldServerInfo {
  static ISC_STATUS Info(ISC_STATUS* s, isc_db_handle*, short, const ISC_SCHAR*, short len,
                         ISC_SCHAR* buf) {
    const unsigned char answer[] = {isc_info_page_size, 2, 0, 0x00, 0x10,
                                    isc_info_ods_version, 2, 0, 9, 0,
                                    isc_info_isc_version, 13, 0, 1, 11,
                                    'W', 'I', '-', 'V', '6', '.', '3', '.', '2', ' ', 'X',
                                    isc_info_end};
    std::memset(buf, 0, static_cast<size_t>(len));
    std::memcpy(buf, answer, sizeof answer);
    s[0] = isc_arg_gds;
    s[1] = 0;
    s[2] = isc_arg_end;
    return 0;
  }
};

TEST(TransactionEmbedded, OlderServerWithoutDialectReadsAsDialectOneAndOldParameterOrder) {
  auto fb = MakeDb();
  DbRig rig(fb->ConnectString());
  EnsureClientAPI();
  const Tisc_database_info real = ClientCallTable.isc_database_info;
  ClientCallTable.isc_database_info = &OldServerInfo::Info;
  rig.db->Open();
  const TIB_ConnectCharacteristics c = rig.db->Characteristics();
  EXPECT_EQ(c.dbServer_Version, "");
  EXPECT_EQ(c.dbVersion, "WI-V6.3.2 X");
  EXPECT_EQ(c.dbSQL_Dialect, 0);
  EXPECT_EQ(c.dbODS_Version, 9);
  EXPECT_EQ(rig.db->SQLDialect(), 1);
  EXPECT_EQ(rig.db->PageSize(), 4096);
  EXPECT_TRUE(rig.db->OldParameterOrder()) << "no probe below on-disk structure 10";
  ClientCallTable.isc_database_info = real;
  rig.db->Close();
}

// A commit trigger that refuses while a row 666 exists.
void CreateCommitGuard(const FbTestDb& fb) {
  fb.RunSql("create exception E_NO 'Nelze potvrdit';\n"
            "set term ^;\n"
            "create trigger T_COMMIT on transaction commit as begin\n"
            "  if (exists(select 1 from T where N = 666)) then exception E_NO;\n"
            "end^\n"
            "set term ;^\n"
            "commit;\n");
}

TEST(TransactionEmbedded, FailedCommitOnCloseIsReportedAndTheWorkKept) {
  auto fb = MakeDb();
  CreateCommitGuard(*fb);
  DbRig rig(fb->ConnectString());
  TIB_Transaction& tr = rig.tr();
  ASSERT_TRUE(tr.EnsureStarted());
  Exec(tr, *rig.db, "insert into T values (7)");
  Exec(tr, *rig.db, "insert into T values (666)");
  try {
    tr.Close();
    ADD_FAILURE() << "the failed commit was dropped";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.ERRCODE(), isc_except);
  }
  EXPECT_TRUE(tr.GetStarted()) << "not silently rolled back";
  EXPECT_EQ(tr.State(), tsInactive);
  EXPECT_EQ(Seen(*fb, "select count(*) from T"), "0");

  // The work is still there to be put right and committed.
  Exec(tr, *rig.db, "delete from T where N = 666");
  tr.Close();
  EXPECT_FALSE(tr.GetStarted());
  EXPECT_EQ(Seen(*fb, "select sum(N) from T"), "7");

  // A database destroyed with a commit that cannot succeed rolls back quietly and
  // lets its attachment go.
  {
    DbRig other(fb->ConnectString());
    ASSERT_TRUE(other.tr().EnsureStarted());
    Exec(other.tr(), *other.db, "insert into T values (666)");
  }
  EXPECT_EQ(Seen(*fb, "select count(*) from T where N = 666"), "0");
  rig.db->Close();
  fb->Drop();
}

TEST(TransactionEmbedded, FailedRollbackIsReportedAndTheTransactionStaysStarted) {
  auto fb = MakeDb();
  ClientSpy spy;
  DbRig rig(fb->ConnectString());
  TIB_Transaction& tr = rig.tr();
  tr.StartTransaction();
  ASSERT_TRUE(tr.EnsureStarted());
  Exec(tr, *rig.db, "insert into T values (9)");
  ClientSpy::rollback_failure = isc_lock_conflict;
  try {
    tr.Rollback();
    ADD_FAILURE() << "the failed rollback was not reported";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.ERRCODE(), isc_lock_conflict);
    EXPECT_EQ(e.Sender(), &tr);
  }
  EXPECT_TRUE(tr.GetStarted());
  EXPECT_TRUE(tr.InTransaction());
  ClientSpy::rollback_failure = 0;
  tr.Rollback();
  EXPECT_FALSE(tr.GetStarted());
  EXPECT_EQ(Seen(*fb, "select count(*) from T"), "0");
  rig.db->Close();
}

TEST(TransactionEmbedded, ChangingTheConnectionsEndsARunningTransaction) {
  auto fb = MakeDb();
  DbRig rig(fb->ConnectString());
  for (bool implicit : {false, true}) {
    SCOPED_TRACE(implicit);
    TIB_Transaction tr(nullptr);
    tr.SetAutoCommit(true);
    tr.SetIB_Connection(rig.db);
    if (!implicit) tr.StartTransaction();
    ASSERT_TRUE(tr.EnsureStarted());
    Exec(tr, *rig.db, "insert into T values (1)");
    tr.SetIB_Connection(nullptr);
    EXPECT_FALSE(tr.GetStarted());
    EXPECT_EQ(rig.db->TransactionCount(), 1) << "only the default transaction is left";
    // Rolled back unless implicit AutoCommit.
    EXPECT_EQ(Seen(*fb, "select count(*) from T"), implicit ? "1" : "0");
  }
  rig.db->Close();
}

}  // namespace
}  // namespace pelvar::test
