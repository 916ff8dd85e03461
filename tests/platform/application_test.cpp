#include "platform/application.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/screen.h"

namespace pelvar {
namespace {

// A window that runs a function per message and can log.
class Window : public TMessageTarget {
 public:
  std::function<void(TMessage&)> on_message;
  void WndProc(TMessage& m) override {
    if (on_message) on_message(m);
  }
};

TScriptedResponder::TFailure GtestFailure() {
  return [](const std::string& m) { ADD_FAILURE() << m; };
}

// The documented order around a handler that pumps: messages first in posting order
// (including those posted meanwhile), then due timers, then what the timer posted;
// a handler's own posts wait for the handler unless it pumps.
TEST(Application, PostedMessagesAndTimerFireInDocumentedOrderAroundNestedPump) {
  TTestClock clock;
  std::vector<std::string> log;
  Window w;
  TTimer timer;
  timer.SetInterval(100);
  timer.SetOnTimer([&](TObject* sender) {
    EXPECT_EQ(sender, &timer);
    log.push_back("T");
    PostMessage(w.Handle(), WM_USER + 4, 0, 0);  // D
  });
  w.on_message = [&](TMessage& m) {
    switch (m.Msg - WM_USER) {
      case 0:  // A
        log.push_back("A-begin");
        PostMessage(w.Handle(), WM_USER + 1, 0, 0);
        PostMessage(w.Handle(), WM_USER + 2, 0, 0);
        clock.Advance(100);
        Application()->ProcessMessages();
        log.push_back("A-end");
        break;
      case 1:
        log.push_back("B");
        PostMessage(w.Handle(), WM_USER + 3, 0, 0);  // E: after B returns, after C
        EXPECT_EQ(log.back(), "B");
        break;
      case 2: log.push_back("C"); break;
      case 3: log.push_back("E"); break;
      case 4: log.push_back("D"); break;
    }
  };
  ASSERT_TRUE(PostMessage(w.Handle(), WM_USER + 0, 7, -7));
  EXPECT_TRUE(log.empty()) << "posting delivers nothing by itself";
  Application()->ProcessMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"A-begin", "B", "C", "E", "T", "D", "A-end"}));
  log.clear();
  Application()->ProcessMessages();
  EXPECT_TRUE(log.empty()) << "the timer's period started anew when it fired";
}

TEST(Application, TimerNeverFiresReentrantlyAndDoesNotBurst) {
  TTestClock clock;
  int ticks = 0, other_ticks = 0, depth = 0, max_depth = 0;
  TTimer timer, other;
  timer.SetInterval(50);
  other.SetInterval(50);
  other.SetOnTimer([&](TObject*) { ++other_ticks; });
  timer.SetOnTimer([&](TObject*) {
    ++ticks;
    max_depth = std::max(max_depth, ++depth);
    clock.Advance(500);  // its own period passes many times over while it runs
    Application()->ProcessMessages();
    --depth;
  });
  clock.Advance(50);
  Application()->ProcessMessages();
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(max_depth, 1);
  EXPECT_EQ(other_ticks, 1) << "another timer does fire in the nested pump";
  Application()->ProcessMessages();
  EXPECT_EQ(ticks, 2) << "one tick for all the missed periods";
  EXPECT_EQ(max_depth, 1);
}

TEST(Application, TimerRunsOnlyWhenEnabledWithIntervalAndHandler) {
  TTestClock clock;
  int ticks = 0;
  TTimer timer;
  EXPECT_EQ(timer.Interval(), 1000u);
  EXPECT_TRUE(timer.Enabled());
  clock.Advance(5000);
  Application()->ProcessMessages();  // no handler: nothing to run
  timer.SetInterval(100);
  timer.SetOnTimer([&](TObject*) { ++ticks; });
  clock.Advance(99);
  Application()->ProcessMessages();
  EXPECT_EQ(ticks, 0);
  clock.Advance(1);
  Application()->ProcessMessages();
  EXPECT_EQ(ticks, 1);

  clock.Advance(60);
  timer.SetInterval(200);  // a new interval starts the period afresh
  clock.Advance(150);
  Application()->ProcessMessages();
  EXPECT_EQ(ticks, 1);
  clock.Advance(50);
  Application()->ProcessMessages();
  EXPECT_EQ(ticks, 2);

  timer.SetEnabled(false);
  clock.Advance(1000);
  Application()->ProcessMessages();
  EXPECT_EQ(ticks, 2);
  EXPECT_EQ(Application()->NextTimerDelay(), -1);
  timer.SetEnabled(true);
  EXPECT_EQ(Application()->NextTimerDelay(), 200);
  timer.SetInterval(0);
  EXPECT_EQ(Application()->NextTimerDelay(), -1);
}

TEST(Application, GoneTargetsAndTimersAreSafe) {
  TTestClock clock;
  int delivered = 0;
  auto w = std::make_unique<Window>();
  w->on_message = [&](TMessage&) { ++delivered; };
  const HWND h = w->Handle();
  ASSERT_TRUE(PostMessage(h, WM_USER, 0, 0));
  w.reset();
  Application()->ProcessMessages();
  EXPECT_EQ(delivered, 0);
  EXPECT_FALSE(PostMessage(h, WM_USER, 0, 0));
  EXPECT_FALSE(PostMessage(0, WM_USER, 0, 0));
  EXPECT_EQ(SendMessage(h, WM_USER, 0, 0), 0);

  // A timer freed by its own handler (its owner goes away meanwhile).
  auto owner = std::make_unique<TComponent>(nullptr);
  auto* timer = new TTimer(owner.get());
  int ticks = 0;
  timer->SetInterval(10);
  timer->SetOnTimer([&](TObject* sender) {
    ++ticks;
    EXPECT_EQ(sender, timer);
    owner.reset();
  });
  clock.Advance(10);
  Application()->ProcessMessages();
  clock.Advance(10);
  Application()->ProcessMessages();
  EXPECT_EQ(ticks, 1);
}

TEST(Application, SendMessageDeliversAtOnceAndMessagesFromThreadsKeepOrder) {
  Window w;
  std::vector<WPARAM> got;
  w.on_message = [&](TMessage& m) {
    if (m.Msg == WM_APP) {
      m.Result = m.LParam * 2;
      return;
    }
    got.push_back(m.WParam);
  };
  EXPECT_EQ(SendMessage(w.Handle(), WM_APP, 0, 21), 42);

  std::thread producer([&] {
    for (WPARAM i = 0; i < 200; ++i) ASSERT_TRUE(PostMessage(w.Handle(), WM_USER, i, 0));
  });
  if (producer.joinable()) producer.join();
  EXPECT_TRUE(got.empty());
  Application()->ProcessMessages();
  ASSERT_EQ(got.size(), 200u);
  for (WPARAM i = 0; i < 200; ++i) EXPECT_EQ(got[i], i);
}

TEST(Application, EscapedExceptionsGoToTheApplicationHandler) {
  Window w;
  std::vector<std::string> seen;
  w.on_message = [&](TMessage& m) {
    if (m.WParam == 1) throw EConvertError(CZ("Chybné číslo"));
    if (m.WParam == 2) Abort();
    throw std::runtime_error("plain");
  };
  Application()->SetOnException([&](TObject* sender, const Exception& e) {
    EXPECT_EQ(sender, nullptr);
    seen.push_back(e.Message());
  });
  for (WPARAM i : {1, 2, 3}) PostMessage(w.Handle(), WM_USER, i, 0);
  Application()->ProcessMessages();  // nothing escapes the loop
  EXPECT_EQ(seen, (std::vector<std::string>{CZ("Chybné číslo"), "plain"}));
  Application()->SetOnException(nullptr);

  // Without a handler the message is shown in an error box titled with the title.
  const AnsiString title = Application()->Title();
  Application()->SetTitle(CZ("Sehrávání dat"));
  {
    TScriptedResponder dialogs(GtestFailure());
    dialogs.Expect(mtError, CZ("Chybné číslo."), mrOk);
    dialogs.Expect(mtError, CZ("Konec?"), mrOk);  // ends in '?', so nothing is added
    PostMessage(w.Handle(), WM_USER, 1, 0);
    Application()->ProcessMessages();
    try {
      throw Exception(CZ("Konec?"));
    } catch (...) {
      Application()->HandleException(nullptr);
    }
    ASSERT_EQ(dialogs.Shown().size(), 2u);
    EXPECT_EQ(dialogs.Shown()[0].Caption, CZ("Sehrávání dat"));
    EXPECT_EQ(dialogs.Shown()[0].Kind, TDialogKind::MessageBox);
  }
  Application()->SetTitle(title);
  Application()->HandleException(nullptr);  // outside a catch block: nothing to show
}

TEST(Application, HeadlessRunAdvancesTheTestClockAndEndsOnTerminate) {
  if (Application()->Terminated())
    GTEST_SKIP() << "Terminate is final: an earlier run in this process ended the application";
  TTestClock clock;
  Application()->Run();  // nothing can happen: returns at once
  EXPECT_FALSE(Application()->Terminated());

  int ticks = 0;
  TTimer timer;
  timer.SetInterval(250);
  timer.SetOnTimer([&](TObject*) {
    if (++ticks == 3) Application()->Terminate();
  });
  const uint64_t start = clock.Now();
  Application()->Run();
  EXPECT_EQ(ticks, 3);
  EXPECT_TRUE(Application()->Terminated());
  EXPECT_EQ(clock.Now() - start, 750u);
}

TEST(Application, TitleDefaultsToTheExecutableName) {
  EXPECT_EQ(Application()->Title(), "test_platform_unit");
  const AnsiString exe = Application()->ExeName();
  EXPECT_EQ(exe.substr(exe.size() - 18), "test_platform_unit");
}

TEST(Screen, CursorChangesReachTheHandler) {
  std::vector<TCursor> shown;
  auto previous = Screen()->SetCursorHandler([&](TCursor c) { shown.push_back(c); });
  EXPECT_EQ(Screen()->Cursor(), crDefault);
  Screen()->SetCursor(crSQLWait);
  Screen()->SetCursor(crSQLWait);
  Screen()->SetCursor(crAppStart);
  Screen()->SetCursor(crDefault);
  EXPECT_EQ(shown, (std::vector<TCursor>{-17, -19, 0}));
  Screen()->SetCursorHandler(std::move(previous));
}

}  // namespace
}  // namespace pelvar
