// Sessions and the component base: default sessions per thread, the session search
// among owners, joining and leaving, the service timer, busy nesting and focus.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dbclient/IB_Components.h"
#include "platform/application.h"
#include "platform/screen.h"

namespace pelvar::test {
namespace {

// A library component as the statements and datasets will be: it may want the timer.
class TTestComponent : public TIB_Component {
 public:
  using TIB_Component::TIB_Component;
};

// A component that follows the focused connection, as a connection link does.
class TTestLink : public TIB_Component {
 public:
  using TIB_Component::TIB_Component;
  ~TTestLink() override { SetIB_Session(nullptr); }
  void SetIB_Session(TIB_Session* Value) override {
    if (Value == session_) return;
    if (session_ != nullptr) RemoveFromComponentList(session_->ConnectionLinkList(), this);
    TIB_Component::SetIB_Session(Value);
    if (session_ != nullptr) {
      session_->ConnectionLinkList().push_back(this);
      DoReceiveFocus(session_->FocusedConnection());
    }
  }
  void DoReceiveFocus(TIB_Component* Focused) override { received.push_back(Focused); }
  std::vector<TIB_Component*> received;
};

class TFocusConnection : public TIB_Connection {
 public:
  TFocusConnection(TComponent* Owner, std::vector<std::string>& Log, std::string Name)
      : TIB_Connection(Owner), log_(Log), name_(std::move(Name)) {}
  void DoGainFocus() override { log_.push_back(name_ + " gains"); }
  void DoLoseFocus() override { log_.push_back(name_ + " loses"); }

 private:
  std::vector<std::string>& log_;
  std::string name_;
};

TEST(DefaultSession, WorkerThreadGetsItsOwnSessionFreedWithItsLastComponent) {
  TIB_Session* main_session = GetDefaultSession();
  ASSERT_NE(main_session, nullptr);
  EXPECT_EQ(GetDefaultSession(), main_session) << "one default session per thread";
  EXPECT_TRUE(main_session->UseCursor());
  EXPECT_EQ(main_session->TimerInterval(), 5000u);

  struct Seen {
    TIB_Session* session = nullptr;
    std::string name;
    bool auto_created = false, use_cursor = true, same_for_second = false;
    uint32_t timer = 1;
    int32_t refs_with_two = 0, refs_with_one = 0;
    void* slot_while_used = nullptr;
    void* slot_after = reinterpret_cast<void*>(1);
  } seen;
  std::thread worker([&] {
    auto first = std::make_unique<TTestComponent>(nullptr);
    auto second = std::make_unique<TTestComponent>(nullptr);
    TIB_Session* s = first->IB_Session();
    seen.session = s;
    seen.name = s->Name();
    seen.auto_created = s->AutoCreated();
    seen.use_cursor = s->UseCursor();
    seen.timer = s->TimerInterval();
    seen.same_for_second = second->IB_Session() == s;
    seen.refs_with_two = s->RefCount();
    seen.slot_while_used = TlsGetValue(DefaultSessionSlot());
    second.reset();
    seen.refs_with_one = s->RefCount();
    first.reset();  // the last component: the session goes with it
    seen.slot_after = TlsGetValue(DefaultSessionSlot());
  });
  worker.join();

  EXPECT_NE(seen.session, main_session);
  EXPECT_EQ(seen.name, "REZ_DefaultSession");
  EXPECT_TRUE(seen.auto_created);
  EXPECT_FALSE(seen.use_cursor);
  EXPECT_EQ(seen.timer, 0u);
  EXPECT_TRUE(seen.same_for_second);
  EXPECT_EQ(seen.refs_with_two, 2);
  EXPECT_EQ(seen.refs_with_one, 1);
  EXPECT_EQ(seen.slot_while_used, seen.session);
  EXPECT_EQ(seen.slot_after, nullptr);
  EXPECT_EQ(GetDefaultSession(), main_session) << "the main thread's session is untouched";
}

TEST(SessionSearch, SiblingsShareOneSessionAndASessionOnTheFormIsPreferred) {
  {
    // Two library components on a data module: the second finds the first's session,
    // which the first adopts from the default session on this occasion.
    TComponent module(nullptr);
    auto* first = new TTestComponent(&module);
    auto* second = new TTestComponent(&module);
    EXPECT_FALSE(first->Internal());
    EXPECT_EQ(first->AssignedSession(), nullptr) << "the session is found lazily";
    TIB_Session* s = second->IB_Session();
    EXPECT_EQ(s, GetDefaultSession());
    EXPECT_EQ(first->AssignedSession(), s);
    EXPECT_FALSE(first->IB_SessionStored());
  }
  {
    TComponent form(nullptr);
    auto* component = new TTestComponent(&form);
    auto* session = new TIB_Session(&form);
    auto* nested_owner = new TComponent(&form);
    auto* nested = new TTestComponent(nested_owner);
    EXPECT_EQ(component->IB_Session(), session);
    EXPECT_EQ(nested->IB_Session(), session) << "found one owner further up";
    EXPECT_TRUE(component->IB_SessionStored());
    EXPECT_EQ(session->RefCount(), 2);
    EXPECT_EQ(session->AllComponentList().size(), 2u);
  }
}

TEST(SessionMembership, LeavingAndJoiningMovesListsBusySectionsAndTheSessionGoingDetaches) {
  TComponent form(nullptr);
  auto* a = new TIB_Session(&form);
  auto* b = new TIB_Session(&form);
  auto* conn = new TIB_Connection(&form);
  auto* internal_owner = new TTestComponent(nullptr);  // no owner: internal
  auto* internal = new TTestComponent(internal_owner);
  EXPECT_TRUE(internal->Internal()) << "owned by an internal library component";

  conn->SetIB_Session(a);
  internal->SetIB_Session(a);
  EXPECT_EQ(a->ConnectionList(), std::vector<TIB_Connection*>{conn});
  EXPECT_EQ(a->DefaultConnection(), conn);
  EXPECT_EQ(a->AllComponentList(), std::vector<TIB_Component*>{conn})
      << "internal components stay out of the lists";
  EXPECT_EQ(a->RefCount(), 2);

  conn->BeginBusy(false);
  conn->BeginBusy(true);
  internal->BeginBusy(false);
  EXPECT_EQ(a->BusyLevel(), 2) << "an internal component does not move the busy level";

  conn->SetIB_Session(b);
  EXPECT_EQ(a->BusyLevel(), 0);
  EXPECT_EQ(b->BusyLevel(), 2) << "the open sections move along";
  EXPECT_EQ(conn->BusyLevel(), 2);
  EXPECT_TRUE(a->ConnectionList().empty());
  EXPECT_EQ(a->DefaultConnection(), nullptr);
  EXPECT_EQ(b->DefaultConnection(), conn);
  EXPECT_EQ(a->RefCount(), 1);
  conn->EndBusy();
  conn->EndBusy();
  conn->EndBusy();  // unmatched: leaves the session alone
  EXPECT_EQ(b->BusyLevel(), 0);

  EXPECT_EQ(b->FindConnection("x"), nullptr);
  conn->SetDatabaseName("Main.FDB");
  EXPECT_EQ(b->FindConnection("main.fdb"), conn);

  delete a;  // the internal member is detached, not left pointing at it
  EXPECT_EQ(internal->AssignedSession(), nullptr);
  delete internal_owner;
  delete b;
  EXPECT_EQ(conn->AssignedSession(), nullptr);
}

class SessionTimer : public ::testing::Test {
 protected:
  void SetUp() override {
    Application()->SetOnException([this](TObject*, const Exception& e) {
      shown.push_back(e.Message());
    });
  }
  void TearDown() override { Application()->SetOnException(nullptr); }
  void Tick() {
    clock.Advance(TIB_Session::DefaultTimerInterval);
    Application()->ProcessMessages();
  }
  TTestClock clock;  // before the session: its timer runs on this clock
  TComponent form{nullptr};
  TIB_Session* session = new TIB_Session(&form);
  std::vector<std::string> shown;
};

TEST_F(SessionTimer, ServesOneComponentPerTickRoundRobinAndEndsEachRound) {
  ASSERT_EQ(session->TimerInterval(), 5000u);
  std::vector<std::string> log;
  std::vector<TTestComponent*> comps;
  for (const char* name : {"A", "B", "C"}) {
    auto* c = new TTestComponent(&form);
    c->SetIB_Session(session);
    c->SetOnSessionTimer([&log, name](TComponent*, bool& done, bool&, bool&) {
      log.push_back(name);
      if (std::string(name) == "B") done = false;
    });
    comps.push_back(c);
  }
  auto* no_timer = new TTestComponent(&form);
  no_timer->SetNoTimer(true);
  no_timer->SetOnSessionTimer([&log](TComponent*, bool&, bool&, bool&) { log.push_back("X"); });
  EXPECT_EQ(session->TimerList().size(), 3u) << "a NoTimer component is never listed";

  std::vector<bool> round_done;
  session->OnSessionTimer = [&](TComponent* sender, bool& done, bool&, bool&) {
    EXPECT_EQ(sender, session);
    log.push_back("end");
    round_done.push_back(done);
  };
  clock.Advance(4999);
  Application()->ProcessMessages();
  EXPECT_TRUE(log.empty());
  for (int i = 0; i < 8; ++i) Tick();
  EXPECT_EQ(log, (std::vector<std::string>{"A", "B", "C", "end", "A", "B", "C", "end"}));
  EXPECT_EQ(round_done, (std::vector<bool>{false, false})) << "B left IsDone false";

  // Without B's veto a round is done.
  comps[1]->SetOnSessionTimer([&log](TComponent*, bool&, bool&, bool&) { log.push_back("b"); });
  log.clear();
  round_done.clear();
  for (int i = 0; i < 4; ++i) Tick();
  EXPECT_EQ(log, (std::vector<std::string>{"A", "b", "C", "end"}));
  EXPECT_EQ(round_done, (std::vector<bool>{true}));

  // Direct calls report the round's flags.
  bool done = false, waiting = true, terminate = true;
  session->ProcessSessionTimer(done, waiting, terminate);
  EXPECT_FALSE(done) << "a round is only done at its end";
  EXPECT_FALSE(waiting);
  EXPECT_FALSE(terminate);
}

TEST_F(SessionTimer, RemovingServedEntriesKeepsTheNextComponentNext) {
  std::vector<std::string> log;
  std::vector<TTestComponent*> comps;
  for (const char* name : {"A", "B", "C", "D"}) {
    auto* c = new TTestComponent(&form);
    c->SetIB_Session(session);
    c->SetOnSessionTimer(
        [&log, name](TComponent*, bool&, bool&, bool&) { log.push_back(name); });
    comps.push_back(c);
  }
  Tick();
  Tick();  // A, B served; C is next
  ASSERT_EQ(session->TimerNext(), 2);
  delete comps[1];  // the one served last
  EXPECT_EQ(session->TimerNext(), 1);
  comps[2]->SetOnSessionTimer(nullptr);  // the one to be served next leaves the list
  EXPECT_EQ(session->TimerNext(), 1);
  Tick();
  EXPECT_EQ(log, (std::vector<std::string>{"A", "B", "D"}))
      << "neither skipped nor served twice";
}

TEST_F(SessionTimer, AnExceptionIsShownAndTheSameComponentIsServedAgain) {
  int calls = 0;
  auto* c = new TTestComponent(&form);
  c->SetIB_Session(session);
  c->SetOnSessionTimer([&](TComponent*, bool&, bool&, bool&) {
    if (++calls == 1) throw EDatabaseError("timer work failed");
  });
  bool ended = false;
  session->OnSessionTimer = [&](TComponent*, bool&, bool&, bool&) { ended = true; };
  Tick();
  EXPECT_EQ(shown, std::vector<std::string>{"timer work failed"});
  EXPECT_EQ(session->TimerNext(), 0);
  EXPECT_FALSE(session->IsBusy()) << "the in-tick flag is cleared";
  Tick();
  EXPECT_EQ(calls, 2);
  EXPECT_FALSE(ended);
  Tick();
  EXPECT_TRUE(ended);

  session->SetTimerInterval(0);
  Tick();
  EXPECT_EQ(calls, 2) << "no timer, no ticks";
}

class BusyCursor : public ::testing::Test {
 protected:
  void SetUp() override { Screen()->SetCursor(crDefault); }
  void TearDown() override { Screen()->SetCursor(crDefault); }
};

TEST_F(BusyCursor, NestedSectionsShowBusyYieldBusyAndRestoreWithEventsInOrder) {
  TIB_Session session(nullptr);
  ASSERT_TRUE(session.UseCursor());
  std::vector<std::string> events;
  session.OnBeginBusy = [&](TObject*) { events.push_back("BeginBusy"); };
  session.OnBeginYield = [&](TObject*) { events.push_back("BeginYield"); };
  session.OnEndYield = [&](TObject*) { events.push_back("EndYield"); };
  session.OnEndBusy = [&](TObject*) { events.push_back("EndBusy"); };
  Screen()->SetCursor(crHandPoint);
  std::vector<TCursor> cursors;
  session.BeginBusy(false);
  cursors.push_back(Screen()->Cursor());
  session.BeginBusy(true);
  cursors.push_back(Screen()->Cursor());
  session.EndBusy();
  cursors.push_back(Screen()->Cursor());
  session.EndBusy();
  cursors.push_back(Screen()->Cursor());
  EXPECT_EQ(cursors, (std::vector<TCursor>{crSQLWait, crAppStart, crSQLWait, crHandPoint}));
  EXPECT_EQ(events,
            (std::vector<std::string>{"BeginBusy", "BeginYield", "EndYield", "EndBusy"}));
  EXPECT_FALSE(session.IsBusy());

  // Starting while the busy cursor already shows restores the default at the end.
  Screen()->SetCursor(crSQLWait);
  session.BeginBusy(false);
  session.EndBusy();
  EXPECT_EQ(Screen()->Cursor(), crDefault);

  // A component's bracket goes through its session.
  TComponent form(nullptr);
  auto* c = new TTestComponent(&form);
  c->SetIB_Session(&session);
  {
    TIB_BusyBracket busy(*c, false);
    EXPECT_EQ(Screen()->Cursor(), crSQLWait);
    EXPECT_EQ(session.BusyLevel(), 1);
  }
  EXPECT_EQ(Screen()->Cursor(), crDefault);
  delete c;
}

TEST_F(BusyCursor, SessionWithoutCursorHandlingLeavesTheScreenAlone) {
  TIB_Session session(nullptr);
  session.SetUseCursor(false);
  Screen()->SetCursor(crHandPoint);
  session.BeginBusy(true);
  EXPECT_EQ(Screen()->Cursor(), crHandPoint);
  session.EndBusy();
  EXPECT_EQ(Screen()->Cursor(), crHandPoint);
}

TEST(SessionFocus, FocusedConnectionIsAnnouncedToLinksAndClearedWhenItLeaves) {
  TComponent form(nullptr);
  auto* session = new TIB_Session(&form);
  std::vector<std::string> log;
  auto* quiet = new TFocusConnection(&form, log, "quiet");
  auto* loud = new TFocusConnection(&form, log, "loud");
  auto* link = new TTestLink(&form);
  link->SetIB_Session(session);
  ASSERT_EQ(link->received, std::vector<TIB_Component*>{nullptr})
      << "a joining link takes the focused connection at once";
  link->received.clear();

  quiet->SetFocus();
  EXPECT_EQ(session->FocusedConnection(), quiet);
  EXPECT_TRUE(link->received.empty()) << "only an announcing connection is handed on";
  loud->SetAnnounceFocus(true);
  EXPECT_EQ(session->FocusedConnection(), loud);
  EXPECT_EQ(link->received, std::vector<TIB_Component*>{loud});
  EXPECT_EQ(log, (std::vector<std::string>{"quiet gains", "quiet loses", "loud gains"}));

  delete loud;
  EXPECT_EQ(session->FocusedConnection(), nullptr);
  EXPECT_EQ(link->received, (std::vector<TIB_Component*>{loud, nullptr}));
  EXPECT_EQ(session->DefaultConnection(), quiet);

  // An internal connection never takes the focus.
  TIB_Connection internal(nullptr);
  internal.SetIB_Session(session);
  session->SetFocusedConnection(&internal);
  EXPECT_EQ(session->FocusedConnection(), nullptr);
  internal.SetIB_Session(nullptr);
}

// A dataset and a data source as the statement engine makes them, for the focus chain.
class TTestDataset : public TIB_Component {
 public:
  TTestDataset(TComponent* Owner, TIB_Connection* C, TIB_Transaction* T)
      : TIB_Component(Owner), c_(C), t_(T) {}
  TIB_Connection* FocusConnection() override { return c_; }
  TIB_Transaction* FocusTransaction() override { return t_; }

 private:
  TIB_Connection* c_;
  TIB_Transaction* t_;
};

class TTestDataSource : public TIB_Component {
 public:
  TTestDataSource(TComponent* Owner, TIB_Component* DS, std::vector<std::string>& Log,
                  std::string Name)
      : TIB_Component(Owner), ds_(DS), log_(Log), name_(std::move(Name)) {}
  TIB_Component* FocusDataset() override { return ds_; }
  bool AnnouncesFocus() const override { return true; }
  void DoGainFocus() override { log_.push_back(name_ + " gains"); }
  void DoLoseFocus() override { log_.push_back(name_ + " loses"); }

 private:
  TIB_Component* ds_;
  std::vector<std::string>& log_;
  std::string name_;
};

class TTestDataLink : public TIB_Component {
 public:
  TTestDataLink(TComponent* Owner, std::vector<std::string>& Log)
      : TIB_Component(Owner), log_(Log) {}
  void DoReceiveFocus(TIB_Component* Focused) override {
    log_.push_back("link gets " + (Focused ? Focused->Name() : std::string("nothing")));
  }

 private:
  std::vector<std::string>& log_;
};

TEST(SessionFocus, FocusedDataSourceFocusesItsDatasetConnectionAndTransactionThenItsLinks) {
  TComponent form(nullptr);
  auto* session = new TIB_Session(&form);
  std::vector<std::string> log;
  auto* conn = new TFocusConnection(&form, log, "conn");
  auto* tr = new TIB_Transaction(&form);
  auto* ds = new TTestDataset(&form, conn, tr);
  auto* src1 = new TTestDataSource(&form, ds, log, "src1");
  auto* src2 = new TTestDataSource(&form, nullptr, log, "src2");
  src1->SetName("src1");
  src2->SetName("src2");
  auto* link = new TTestDataLink(&form, log);
  for (TIB_Component* c : std::vector<TIB_Component*>{conn, tr, ds, src1, src2, link}) {
    c->SetIB_Session(session);
  }
  session->DataLinkList().push_back(link);

  session->SetFocusedDataSource(src1);
  EXPECT_EQ(session->FocusedDataSource(), src1);
  EXPECT_EQ(session->FocusedDataset(), ds);
  EXPECT_EQ(session->FocusedConnection(), conn);
  EXPECT_EQ(session->FocusedTransaction(), tr);
  session->SetFocusedDataSource(src2);
  EXPECT_EQ(session->FocusedDataset(), nullptr);
  EXPECT_EQ(session->FocusedConnection(), nullptr);
  session->SetFocusedDataSource(nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"conn gains", "link gets src1", "src1 gains",
                                           "src1 loses", "conn loses", "link gets src2",
                                           "src2 gains", "src2 loses", "link gets nothing"}));
  RemoveFromComponentList(session->DataLinkList(), link);
}

TEST(SessionLoading, ASessionLoadedWithItsFormMovesToTheFront) {
  TComponent form(nullptr);
  new TTestComponent(&form);
  auto* session = new TIB_Session(&form);
  ASSERT_EQ(session->ComponentIndex(), 1);
  session->BeginLoading();
  session->EndLoading();
  EXPECT_EQ(session->ComponentIndex(), 0);
}

}  // namespace
}  // namespace pelvar::test
