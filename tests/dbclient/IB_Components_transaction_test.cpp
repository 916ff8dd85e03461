// The transaction without a server: its explicit mode, states and events, the
// connections it spans, the pass over its datasets when it ends, the transaction link,
// the preset transactions and the database component; the server-version parser.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "transaction_calls.h"

namespace pelvar::test {
namespace {

TEST(ServerVersion, ParsedIntoPlatformKindNumbersAndName) {
  struct Case {
    const char* text;
    const char* platform;
    const char* kind;
    int major, minor, release, build;
    const char* name;
  };
  const Case cases[] = {
      {"WI-V2.5.2.26540 Firebird 2.5", "WI", "V", 2, 5, 2, 26540, "Firebird 2.5"},
      {"WI-V6.3.2 X", "WI", "V", 6, 3, 0, 2, "X"},
      {"LI-V3.0.11.33703 Firebird 3.0", "LI", "V", 3, 0, 11, 33703, "Firebird 3.0"},
      {"LI-T4.0", "LI", "T", 4, 0, 0, 0, ""},
      {"", "", "", 0, 0, 0, 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    TIB_ConnectCharacteristics ch;
    ch.dbServer_Version = c.text;
    ch.dbServer_Major = 99;  // cleared first
    ParseServerVersion(ch);
    EXPECT_EQ(ch.dbServer_Platform, c.platform);
    EXPECT_EQ(ch.dbServer_Kind, c.kind);
    EXPECT_EQ(ch.dbServer_Major, c.major);
    EXPECT_EQ(ch.dbServer_Minor, c.minor);
    EXPECT_EQ(ch.dbServer_Release, c.release);
    EXPECT_EQ(ch.dbServer_Build, c.build);
    EXPECT_EQ(ch.dbServer_Name, c.name);
  }
}

TEST(ConnectCharacteristics, RefusedWhileNotConnected) {
  TComponent form(nullptr);
  new TIB_Session(&form);
  auto* conn = new TIB_Connection(&form);
  const AnsiString text = CZ("Nemohu získat charakteristiku spojení");
  EXPECT_EQ(ErrorOf([&] { conn->Characteristics(); }), text);
  EXPECT_EQ(ErrorOf([&] { conn->MakeStoredIdent("MyTable"); }), text);
  EXPECT_EQ(ErrorOf([&] { conn->MakeIdent("x"); }), text);
  // Nothing to check and nothing to lose while not connected.
  EXPECT_TRUE(conn->CheckConnection());
  EXPECT_TRUE(conn->ProbeOldParameterOrder());
}

struct Rig {
  TransactionLog rec;  // first: logs while the form goes
  TComponent form{nullptr};
  TIB_Session* session = new TIB_Session(&form);
  TIB_Transaction* tr = new TIB_Transaction(&form);
  Rig() { rec.Attach(tr, &form); }
  std::vector<std::string>& log() { return rec.log; }
};

TEST(Transaction, ExplicitModeAndWhatAnEmptyEndSends) {
  Rig rig;
  TIB_Transaction& tr = *rig.tr;
  EXPECT_EQ(tr.State(), tsNone);
  EXPECT_EQ(tr.Isolation(), tiCommitted);
  EXPECT_TRUE(tr.RecVersion());
  EXPECT_FALSE(tr.GetAutoCommit());

  // Neither started, explicit nor pending: only event 20.
  tr.Commit();
  tr.Rollback();
  tr.SavePoint();
  EXPECT_EQ(rig.log(), (std::vector<std::string>{"e20", "e20", "e20"}));
  rig.log().clear();

  tr.StartTransaction();
  EXPECT_TRUE(tr.InTransaction());
  EXPECT_FALSE(tr.GetStarted()) << "the server transaction starts at the first need";
  EXPECT_EQ(ErrorOf([&] { tr.StartTransaction(); }), CZ("Transakce již byla nastartována"));
  EXPECT_EQ(rig.log(), std::vector<std::string>{"e20"});
  rig.log().clear();

  tr.Commit();
  EXPECT_FALSE(tr.InTransaction());
  EXPECT_EQ(tr.State(), tsNone);
  EXPECT_EQ(rig.log(), (std::vector<std::string>{"e20", "BeforeEnd", "e16", "BeforeCommit", "e4",
                                                 "e5", "e20", "AfterCommit", "e17", "AfterEnd",
                                                 "e20"}));

  rig.log().clear();
  tr.StartTransaction();
  tr.Rollback();
  EXPECT_EQ(rig.log(), (std::vector<std::string>{"e20", "e20", "BeforeEnd", "e16", "BeforeRollback",
                                                 "e10", "e11", "e20", "AfterRollback", "e17",
                                                 "AfterEnd", "e20"}));
  EXPECT_FALSE(tr.InTransaction());

  // CommitRetaining ends the explicit mode too (the server transaction would go on).
  tr.StartTransaction();
  tr.CommitRetaining();
  EXPECT_FALSE(tr.InTransaction());

  tr.SetServerAutoCommit(true);
  EXPECT_TRUE(tr.GetAutoCommit());
  EXPECT_FALSE(tr.IsAutoCommitStored());
  EXPECT_EQ(ErrorOf([&] { tr.StartTransaction(); }),
            CZ("Explicitní transakce není povolena při ServerAutoCommit"));
  EXPECT_FALSE(tr.InTransaction());
}

TEST(Transaction, PendingCountsDriveTheStateAndActivate) {
  Rig rig;
  TIB_Transaction& tr = *rig.tr;
  tr.AdjustPostPendingCount(1);
  EXPECT_EQ(tr.State(), tsActivePending);
  EXPECT_TRUE(tr.HasPendingWork());
  tr.AdjustCachedUpdatesPendingCount(1);
  tr.AdjustPostPendingCount(-1);
  EXPECT_EQ(tr.State(), tsActivePending);
  tr.AdjustCachedUpdatesPendingCount(-1);
  EXPECT_EQ(tr.State(), tsInactive);
  EXPECT_FALSE(tr.HasPendingWork());

  tr.Activate();
  EXPECT_EQ(tr.State(), tsActive) << "not AutoCommit: the change waits for Commit";
  tr.Rollback();
  EXPECT_EQ(tr.State(), tsNone);

  // Activate is refused while a start is pending.
  tr.SetAutoCommit(true);
  tr.BeginLoading();
  EXPECT_FALSE(tr.EnsureStarted());
  EXPECT_EQ(tr.State(), tsInactivePending);
  EXPECT_EQ(ErrorOf([&] { tr.Activate(); }), CZ("Chybný stav transakce. Nemohu aktivovat"));
  tr.EndLoading();

  // A pending count never wraps.
  tr.AdjustRowLockCount(std::numeric_limits<int32_t>::max());
  EXPECT_THROW(tr.AdjustRowLockCount(1), EIntOverflow);
  EXPECT_EQ(tr.RowLockCount(), std::numeric_limits<int32_t>::max());
}

TEST(Transaction, ConnectionsKeepTheirPositionsAndLists) {
  Rig rig;
  TIB_Transaction& tr = *rig.tr;
  auto* a = new TIB_Connection(&rig.form);
  auto* b = new TIB_Connection(&rig.form);
  auto* c = new TIB_Connection(&rig.form);
  auto* d = new TIB_Connection(&rig.form);
  tr.SetIB_Connection(a);
  tr.SetIB_Connection1(b);
  tr.SetIB_Connection2(c);
  EXPECT_EQ(tr.Get_ConnectionCount(), 3);
  EXPECT_EQ(a->TransactionCount(), 1);
  EXPECT_EQ(a->GetTransaction(0), &tr);

  tr.SetIB_Connection(b);  // already there: nothing
  EXPECT_EQ(tr.GetIB_Connection(), a);
  EXPECT_EQ(tr.GetIB_Connection1(), b);

  // A new connection at position 0 removes the first and is appended as the third.
  tr.SetIB_Connection(d);
  EXPECT_EQ(tr.GetIB_Connection(), b);
  EXPECT_EQ(tr.GetIB_Connection1(), c);
  EXPECT_EQ(tr.GetIB_Connection2(), d);
  EXPECT_EQ(a->TransactionCount(), 0);
  EXPECT_EQ(tr.IndexOfConnection(a), -1);
  EXPECT_EQ(tr.GetConnection(7), nullptr);

  tr.SetIB_Connection1(nullptr);
  EXPECT_EQ(tr.Get_ConnectionCount(), 2);
  EXPECT_EQ(c->TransactionCount(), 0);

  // A connection that goes leaves the transaction.
  delete b;
  EXPECT_EQ(tr.Get_ConnectionCount(), 1);
  EXPECT_EQ(tr.GetIB_Connection(), d);

  // Without connections and without a default connection there is nothing to start on.
  tr.RemoveAllConnections();
  rig.session->SetAllowDefaultConnection(false);
  EXPECT_EQ(ErrorOf([&] { tr.EnsureStarted(); }), CZ("Transakce nemá spojení"));
}

TEST(Transaction, DatasetPassOfCommitFollowsTheCommitActions) {
  Rig rig;
  TIB_Transaction& tr = *rig.tr;
  auto* conn = new TIB_Connection(&rig.form);
  std::vector<std::string>& log = rig.log();
  auto make = [&](const char* name, TIB_CommitAction action) {
    auto* d = new FakeDataset(&rig.form, log, name, &tr, conn);
    d->commit_action = action;
    d->Open();
    return d;
  };
  FakeDataset* closing = make("close", caClose);
  FakeDataset* fetching = make("fetch", caFetchAll);
  FakeDataset* keys = make("keys", caRefreshKeys);
  FakeDataset* full = make("full", caRefresh);
  FakeDataset* invalid = make("inval", caInvalidateCursor);
  FakeDataset* uni = make("uni", caRefresh);
  uni->unidirectional = true;
  closing->StartEdit();
  keys->work_flags = 0xFF;
  tr.StartTransaction();
  log.clear();

  tr.Commit();
  EXPECT_EQ(log, (std::vector<std::string>{
                     "e20", "BeforeEnd", "e16", "BeforeCommit", "e4",
                     "close.post",                               // PostAllDatasets
                     "close.close", "fetch.fetchall", "uni.close",  // the pass before
                     "keys.refresh", "full.refreshall", "inval.refresh",  // the pass after
                     "e5", "e20", "AfterCommit", "e17", "AfterEnd", "e20"}));
  EXPECT_FALSE(closing->editing);
  EXPECT_EQ(keys->work_flags, 0xE0) << "the five low work bits are cleared after";
  EXPECT_EQ(tr.State(), tsNone);
  (void)fetching;
  (void)full;
  (void)invalid;
}

TEST(Transaction, RollbackCancelsEditsAndAFailedPostKeepsEverything) {
  Rig rig;
  TIB_Transaction& tr = *rig.tr;
  auto* conn = new TIB_Connection(&rig.form);
  std::vector<std::string>& log = rig.log();
  auto* master = new FakeDataset(&rig.form, log, "master", &tr, conn);
  auto* detail = new FakeDataset(&rig.form, log, "detail", &tr, conn);
  auto* cached = new FakeDataset(&rig.form, log, "cached", &tr, conn);
  detail->master = master;
  cached->cached = true;
  tr.StartTransaction();

  // The inserted master is posted before its detail (the detail comes first here).
  tr.RemoveDataset(master);
  tr.AddDataset(master);
  master->StartEdit(true);
  detail->StartEdit();
  cached->StartEdit();
  log.clear();
  tr.Commit();
  EXPECT_EQ(std::vector<std::string>(log.begin() + 5, log.begin() + 7),
            (std::vector<std::string>{"master.post", "detail.post"}));
  EXPECT_TRUE(cached->editing) << "cached updates are not posted";
  EXPECT_EQ(tr.State(), tsActivePending);

  // A post that fails aborts the commit: state and explicit flag stay.
  tr.StartTransaction();
  detail->StartEdit();
  detail->fail_post = true;
  const TIB_TransactionState before = tr.State();
  log.clear();
  EXPECT_EQ(ErrorOf([&] { tr.Commit(); }), "post failed");
  EXPECT_TRUE(tr.InTransaction());
  EXPECT_EQ(tr.State(), before);
  EXPECT_EQ(std::count(log.begin(), log.end(), "AfterCommit"), 0);

  // Rollback cancels through the pass; RollbackRetaining before the server call.
  log.clear();
  tr.Rollback();
  EXPECT_NE(std::find(log.begin(), log.end(), "detail.cancel"), log.end());
  EXPECT_FALSE(detail->editing);
  EXPECT_FALSE(tr.InTransaction());

  // Edits left after posting are reported.
  tr.StartTransaction();
  tr.AdjustPostPendingCount(1);  // an edit no dataset of the list owns
  EXPECT_EQ(ErrorOf([&] { tr.Commit(); }), CZ("Chyba při ukládání všech datasetů"));
  EXPECT_EQ(ErrorOf([&] { tr.RollbackRetaining(); }),
            CZ("Chyba při stornování všech datasetů"));
  tr.AdjustPostPendingCount(-1);
  cached->cached = false;
  cached->editing = false;
  tr.AdjustPostPendingCount(-1);
}

TEST(Transaction, ADatasetLeavingDuringThePassSkipsNoOther) {
  Rig rig;
  TIB_Transaction& tr = *rig.tr;
  auto* conn = new TIB_Connection(&rig.form);
  std::vector<std::string>& log = rig.log();
  auto* a = new FakeDataset(&rig.form, log, "a", &tr, conn);
  auto* b = new FakeDataset(&rig.form, log, "b", &tr, conn);
  a->Open();
  b->Open();
  a->leave_on_close = true;
  tr.StartTransaction();
  log.clear();
  tr.Commit();
  EXPECT_NE(std::find(log.begin(), log.end(), "b.close"), log.end());
  EXPECT_EQ(tr.Get_DatasetCount(), 1);
}

TEST(Transaction, CachedUpdatesAreAppliedDetailsFirstThenCommitted) {
  Rig rig;
  TIB_Transaction& tr = *rig.tr;
  auto* conn = new TIB_Connection(&rig.form);
  std::vector<std::string>& log = rig.log();
  auto* master = new FakeDataset(&rig.form, log, "master", &tr, conn);
  auto* detail = new FakeDataset(&rig.form, log, "detail", &tr, conn);
  master->buffered = detail->buffered = true;
  detail->master = master;
  log.clear();
  tr.ApplyUpdates({});
  const std::vector<std::string> datasets_only = [&] {
    std::vector<std::string> r;
    for (const auto& s : log) {
      if (s.find('.') != std::string::npos) r.push_back(s);
    }
    return r;
  }();
  EXPECT_EQ(datasets_only,
            (std::vector<std::string>{"detail.apply", "master.apply", "master.commitupdates",
                                      "detail.commitupdates"}));
  EXPECT_FALSE(tr.InTransaction());

  // A dataset of another transaction is refused, and the work is rolled back.
  TIB_Transaction other(nullptr);
  other.SetName("other");
  tr.SetName("mine");
  FakeDataset stranger(nullptr, log, "stranger", &other, conn);
  EXPECT_EQ(ErrorOf([&] { tr.ApplyUpdates({&stranger}); }),
            CZ("Nemohu měnit, stranger není vlastněno mine"));
  EXPECT_FALSE(tr.InTransaction());

  tr.Activate();
  EXPECT_EQ(ErrorOf([&] { tr.ApplyUpdates({}); }), CZ("Transakce má nevyřízené změny"));
  tr.Rollback();
}

TEST(Transaction, ConfirmCloseKeepsDropsOrLeavesPendingWork) {
  Rig rig;
  TIB_Transaction& tr = *rig.tr;
  auto* conn = new TIB_Connection(&rig.form);
  std::vector<std::string>& log = rig.log();
  auto* ds = new FakeDataset(&rig.form, log, "ds", &tr, conn);
  TScriptedResponder dialogs([](const std::string& m) { ADD_FAILURE() << m; });
  dialogs.Expect(mtConfirmation, CZ("Uložit změny?"), mrCancel)
      .Expect(mtConfirmation, CZ("Uložit změny?"), mrYes)
      .Expect(mtConfirmation, "Keep the visit?", mrNo);

  ds->StartEdit();
  EXPECT_EQ(tr.ConfirmClose(), 2);
  EXPECT_TRUE(ds->editing) << "Cancel leaves everything";
  log.clear();
  EXPECT_EQ(tr.ConfirmClose(), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "ds.post"), 1) << "Yes keeps the work";
  EXPECT_NE(std::find(log.begin(), log.end(), "AfterCommitRetaining"), log.end());

  TStringList prompt;
  prompt.Add("Keep the visit?");
  tr.SetConfirmClosePrompt(&prompt);
  ds->StartEdit();
  log.clear();
  EXPECT_EQ(tr.ConfirmClose(), 1);
  EXPECT_EQ(std::count(log.begin(), log.end(), "ds.cancel"), 1) << "No drops it";
  EXPECT_EQ(dialogs.Pending(), 0u);

  // Without pending work there is no question; a failure is shown and answers 3.
  EXPECT_EQ(tr.ConfirmClose(), 1);
  std::vector<std::string> shown;
  Application()->SetOnException(
      [&shown](TObject*, const Exception& e) { shown.push_back(e.Message()); });
  ds->StartEdit();
  ds->fail_post = true;
  dialogs.Expect(mtConfirmation, "Keep the visit?", mrYes);
  EXPECT_EQ(tr.ConfirmClose(), 3);
  EXPECT_EQ(shown, std::vector<std::string>{"post failed"});
  Application()->SetOnException(nullptr);
  ds->fail_post = false;
  tr.Rollback();
}

TEST(Transaction, SettingsChangeWhileIdleAndTimeoutPropsAreCopied) {
  TComponent form(nullptr);
  new TIB_Session(&form);
  auto* tr = new TIB_Transaction(&form);
  tr->SetReadOnly(true);
  tr->SetIsolation(tiConcurrency);
  tr->SetRecVersion(false);
  tr->SetLockWait(true);
  EXPECT_TRUE(tr->ReadOnly());
  EXPECT_EQ(tr->Isolation(), tiConcurrency);
  EXPECT_FALSE(tr->RecVersion());
  EXPECT_TRUE(tr->LockWait());
  EXPECT_EQ(TransactionStateText(tsCommitRefreshPending), "State=CommitRefreshPending");
  EXPECT_EQ(TransactionStateText(tsSavePointPending), "State=Unknown");

  // The time-out settings are copied, not shared; the error flag stays.
  TIB_TimeoutProps props;
  props.AllowCheckOAT = 7;
  props.ForceClosed = 99;
  props.DisableCheckOATFromError = true;
  tr->SetTimeoutProps(&props);
  EXPECT_EQ(tr->TimeoutProps()->AllowCheckOAT, 7);
  EXPECT_EQ(tr->TimeoutProps()->ForceClosed, 99u);
  EXPECT_FALSE(tr->TimeoutProps()->DisableCheckOATFromError);
}

TEST(TransactionLink, AssignmentEventsIncomingTransactionAndFocus) {
  std::vector<std::string> log;
  TComponent form(nullptr);
  auto* session = new TIB_Session(&form);
  auto* a = new TIB_Transaction(&form);
  auto* b = new TIB_Transaction(&form);
  a->SetName("A");
  b->SetName("B");
  auto* link = new TIB_TransactionLink(&form);
  link->OnProcessEvent = [&log](TIB_TransactionLink* l, uint8_t e) {
    auto name = [](TIB_Transaction* t) { return t == nullptr ? std::string("-") : t->Name(); };
    log.push_back(std::to_string(e) + ":" + name(l->IB_Transaction()) + ">" +
                  name(l->IncomingTransaction()));
  };
  link->SetIB_Transaction(a);
  link->SetIB_Transaction(a);
  link->SetIB_Transaction(b);
  EXPECT_EQ(log, (std::vector<std::string>{"0:->A", "1:A>A", "0:A>B", "1:B>B"}));
  EXPECT_EQ(a->Get_TransactionLinkCount(), 0);
  EXPECT_EQ(b->Get_TransactionLinkCount(), 1);
  EXPECT_FALSE(link->GetStarted());

  // Without ReceiveFocus focus changes pass by.
  a->SetAnnounceFocus(true);
  EXPECT_EQ(session->FocusedTransaction(), a);
  EXPECT_EQ(link->IB_Transaction(), b);
  link->SetReceiveFocus(true);
  EXPECT_EQ(link->IB_Transaction(), a);
  b->SetAnnounceFocus(true);
  EXPECT_EQ(link->IB_Transaction(), b);
  // With OnReceiveFocus the handler decides.
  std::vector<TIB_Transaction*> offered;
  link->OnReceiveFocus = [&offered](TIB_TransactionLink*, TIB_Transaction* t) {
    offered.push_back(t);
  };
  a->SetFocus();
  EXPECT_EQ(link->IB_Transaction(), b);
  EXPECT_EQ(offered, std::vector<TIB_Transaction*>{a});

  // A transaction that goes leaves its links pointing to nothing.
  log.clear();
  delete b;
  EXPECT_EQ(link->IB_Transaction(), nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"0:B>-", "1:->-"}));
}

TEST(Database, DefaultTransactionFollowsTheNameAndCannotBeReplaced) {
  TComponent form(nullptr);
  auto* session = new TIB_Session(&form);
  auto* db = new TIB_Database(&form);
  TIB_Transaction* tr = db->DefaultTransaction();
  ASSERT_NE(tr, nullptr);
  EXPECT_NE(dynamic_cast<TIB_TransactionDefault*>(tr), nullptr);
  EXPECT_EQ(tr->Owner(), db);
  EXPECT_EQ(tr->GetIB_Connection(), db);
  EXPECT_TRUE(tr->GetAutoCommit());
  EXPECT_TRUE(tr->AnnounceFocus());
  EXPECT_EQ(session->FocusedTransaction(), tr);
  EXPECT_EQ(tr->Isolation(), tiCommitted);

  db->SetName("dbMain");
  EXPECT_EQ(tr->Name(), "trdbMain");
  db->SetName("Hlavni");
  EXPECT_EQ(tr->Name(), "trHlavni");

  db->SetDefaultTransaction(nullptr);
  EXPECT_EQ(db->DefaultTransaction(), tr);
  TIB_Transaction other(nullptr);
  EXPECT_EQ(ErrorOf([&] { db->SetDefaultTransaction(&other); }),
            CZ("Nemohu nahradit interní transakci jako defaultní"));
  EXPECT_EQ(db->DefaultTransaction(), tr);

  // Forwarded properties and events.
  db->SetLockWait(true);
  EXPECT_TRUE(tr->LockWait());
  db->SetAutoCommit(false);
  EXPECT_FALSE(db->GetAutoCommit());
  bool fired = false;
  db->SetAfterCommit([&fired](TIB_Transaction*) { fired = true; });
  tr->StartTransaction();
  tr->Commit();
  EXPECT_TRUE(fired);

  struct Case {
    const char* id;
    TIB_Isolation isolation;
    bool rec_version;
  };
  for (const Case& c : {Case{"tiDirtyRead", tiCommitted, false},
                        Case{"tiReadCommitted", tiCommitted, true},
                        Case{"tiRepeatableRead", tiConcurrency, true},
                        Case{"tiSomethingElse", tiConcurrency, true}}) {
    SCOPED_TRACE(c.id);
    db->ReadTransIsolation(c.id);
    EXPECT_EQ(db->Isolation(), c.isolation);
    EXPECT_EQ(db->RecVersion(), c.rec_version);
  }

  TIB_TransactionInternal internal(nullptr);
  EXPECT_TRUE(internal.ReadOnly());
  EXPECT_TRUE(internal.GetAutoCommit());
}

}  // namespace
}  // namespace pelvar::test
