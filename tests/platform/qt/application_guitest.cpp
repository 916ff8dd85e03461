#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <string>
#include <thread>
#include <vector>

#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/qt/qt_application.h"
#include "platform/qt/qt_strings.h"
#include "platform/screen.h"

namespace pelvar {
namespace {

// One Qt application for the whole test program, as main() of the program has it.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { app_ = std::make_unique<TQtApplication>(argc_, argv_); }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "guitest";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<TQtApplication> app_;
};
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

class Window : public TMessageTarget {
 public:
  std::function<void(TMessage&)> on_message;
  void WndProc(TMessage& m) override {
    if (on_message) on_message(m);
  }
};

// The same order as headless: messages (also those posted meanwhile), then due timers,
// then what a timer posted; nothing of a handler's own posts inside it unless it pumps.
TEST(QtApplication, PostedMessagesAndTimerFireInDocumentedOrderAroundNestedPump) {
  TTestClock clock;
  std::vector<std::string> log;
  Window w;
  TTimer timer;
  timer.SetInterval(100);
  timer.SetOnTimer([&](TObject*) {
    log.push_back("T");
    PostMessage(w.Handle(), WM_USER + 4, 0, 0);
  });
  w.on_message = [&](TMessage& m) {
    switch (m.Msg - WM_USER) {
      case 0:
        log.push_back("A-begin");
        PostMessage(w.Handle(), WM_USER + 1, 0, 0);
        PostMessage(w.Handle(), WM_USER + 2, 0, 0);
        clock.Advance(100);
        Application()->ProcessMessages();
        log.push_back("A-end");
        break;
      case 1:
        log.push_back("B");
        PostMessage(w.Handle(), WM_USER + 3, 0, 0);
        break;
      case 2: log.push_back("C"); break;
      case 3: log.push_back("E"); break;
      case 4: log.push_back("D"); break;
    }
  };
  PostMessage(w.Handle(), WM_USER + 0, 0, 0);
  Application()->ProcessMessages();
  EXPECT_EQ(log, (std::vector<std::string>{"A-begin", "B", "C", "E", "T", "D", "A-end"}));
}

// The real loop (QApplication::exec) on the real clock: the single-shot QTimer wakes
// it for timers, the custom posted event for messages, also from another thread.
TEST(QtApplication, RunDrivesTimersAndMessagesFromOtherThreads) {
  if (Application()->Terminated())
    GTEST_SKIP() << "Terminate is final: an earlier run in this process ended the application";
  int ticks = 0;
  std::vector<WPARAM> got;
  Window w;
  w.on_message = [&](TMessage& m) { got.push_back(m.WParam); };
  TTimer timer;
  timer.SetInterval(5);
  std::thread producer;
  timer.SetOnTimer([&](TObject*) {
    if (++ticks == 1)
      producer = std::thread([&] {
        for (WPARAM i = 0; i < 50; ++i) PostMessage(w.Handle(), WM_USER, i, 0);
        PostMessage(w.Handle(), WM_USER, 999, 0);
      });
    if (!got.empty() && got.back() == 999 && ticks >= 3) Application()->Terminate();
  });
  PostMessage(w.Handle(), WM_USER, 1000, 0);  // delivered once the loop runs
  Application()->Run();
  if (producer.joinable()) producer.join();
  ASSERT_EQ(got.size(), 52u);
  EXPECT_EQ(got[0], 1000u);
  for (WPARAM i = 0; i < 50; ++i) EXPECT_EQ(got[i + 1], i);
  EXPECT_GE(ticks, 3);
}

// A real message box, answered by the test the way a user would: clicking "Ano".
TEST(QtApplication, MessageBoxIsShownWithCzechButtonsAndAnswered) {
  QString title, text;
  QStringList buttons;
  bool default_is_yes = false;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    poll.stop();
    title = box->windowTitle();
    text = box->text();
    QAbstractButton* yes = nullptr;
    for (QAbstractButton* b : box->buttons()) {
      buttons << b->text().remove('&');
      if (b->text().remove('&') == QString::fromUtf8("Ano")) yes = b;
    }
    default_is_yes = box->defaultButton() == yes;
    ASSERT_NE(yes, nullptr);
    yes->click();
  });
  poll.start();
  const int result = MessageDlg(CZ("Přepsat soubor „Import.txt“?"), mtConfirmation, mbYesNoCancel);
  EXPECT_EQ(result, mrYes);
  EXPECT_EQ(title, QString::fromUtf8("Potvrzení"));
  EXPECT_EQ(text, QString::fromUtf8("Přepsat soubor „Import.txt“?"));
  EXPECT_EQ(buttons, (QStringList{"Ano", "Ne", "Storno"}));
  EXPECT_TRUE(default_is_yes);

  // Closed with Escape: what closing gives.
  QTimer::singleShot(10, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->reject();
  });
  EXPECT_EQ(MessageBox(CZ("Pokračovat?"), CZ("Dotaz"), MB_OKCANCEL | MB_ICONQUESTION), IDCANCEL);
}

TEST(QtApplication, ScreenCursorBecomesTheOverrideCursor) {
  ASSERT_EQ(QApplication::overrideCursor(), nullptr);
  Screen()->SetCursor(crSQLWait);
  ASSERT_NE(QApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
  Screen()->SetCursor(crAppStart);
  EXPECT_EQ(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
  Screen()->SetCursor(crDefault);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtApplication, TextConvertsBetweenWindows1250AndQString) {
  const char* utf8 = "Příliš žluťoučký kůň úpěl ďábelské ódy – „Š“";
  const QString q = AnsiToQString(CZ(utf8));
  EXPECT_EQ(q, QString::fromUtf8(utf8));
  EXPECT_EQ(QStringToAnsi(q), CZ(utf8));
  EXPECT_EQ(QStringToAnsi(QString::fromUtf8("日本")), "??");
}

}  // namespace
}  // namespace pelvar
