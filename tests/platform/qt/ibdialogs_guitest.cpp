// The Qt views of the database library's login and cancel-query dialogs, offscreen:
// real widgets, typed into and clicked.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <memory>

#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/qt/qt_application.h"
#include "platform/qt/qt_ibdialogs.h"
#include "platform/qt/qt_strings.h"

namespace pelvar {
namespace {

// The guitest program's environment makes the Qt application; should it be missing,
// this file makes its own.
void EnsureQtApplication() {
  if (QApplication::instance() != nullptr) return;
  static int argc = 1;
  static char name[] = "guitest";
  static char* argv[] = {name, nullptr};
  static TQtApplication app(argc, argv);
}

QDialog* VisibleDialog(const char* name) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible() && w->objectName() == name) return qobject_cast<QDialog*>(w);
  }
  return nullptr;
}

template <class T>
T* Child(QWidget* parent, const char* name) {
  T* child = parent->findChild<T*>(name);
  EXPECT_NE(child, nullptr) << name;
  return child;
}

void SendKey(QWidget* target, int key, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &release);
}

// Types the text key by key, as a keyboard would.
void Type(QWidget* target, const QString& text) {
  for (QChar c : text) {
    const int key = c.isLetter() && c.unicode() < 128 ? Qt::Key_A + (c.toUpper().unicode() - 'A')
                                                     : Qt::Key_unknown;
    SendKey(target, key, QString(c));
  }
}

// Runs `user` once the modal login dialog is up.
int ShowLogin(TLoginDialogForm& form, std::function<void(QDialog*)> user) {
  EnsureQtApplication();
  bool ran = false;
  QTimer::singleShot(0, [&] {
    QDialog* dlg = VisibleDialog("dlgLogin");
    ran = true;
    if (dlg == nullptr) {
      ADD_FAILURE() << "the login dialog is not shown";
      for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* d = qobject_cast<QDialog*>(w); d != nullptr && d->isVisible()) d->reject();
      }
      return;
    }
    user(dlg);
  });
  const int result = QtShowLoginDialog(form);
  EXPECT_TRUE(ran);
  return result;
}

TLoginDialogForm SampleForm() {
  TLoginDialogForm f;
  f.Caption = CZ("Sehrávání dat Pelvar 2008 Přihlašovací dialog");
  f.DatabaseLabel = CZ("Databáze");
  f.UserLabel = CZ("Uživatel");
  f.PasswordLabel = CZ("Heslo");
  f.SQLRoleLabel = "SQL Role";
  f.OKCaption = "OK";
  f.CancelCaption = "Storno";
  f.HelpCaption = CZ("&Nápověda");
  f.Database = "C:\\Data\\Main.fdb";
  f.UserName = "SYSDBA";
  f.Password = "old";
  f.SQLRole = "READER";
  f.SQLRoles = {"READER", "WRITER"};
  using C = TLoginControl;
  f.TabOrder = {C::edPassword, C::cbSQLRole, C::OKBtn,    C::CancelBtn,
                C::HelpBtn,    C::edDatabase, C::edUserName};
  f.ActiveControl = C::edPassword;
  return f;
}

TEST(QtLoginDialog, ShowsTheFormAndTakesBackWhatIsTyped) {
  TLoginDialogForm form = SampleForm();
  const int result = ShowLogin(form, [](QDialog* dlg) {
    EXPECT_EQ(dlg->windowTitle(),
              QString::fromUtf8("Sehrávání dat Pelvar 2008 Přihlašovací dialog"));
    EXPECT_TRUE(dlg->isModal());
    EXPECT_TRUE(dlg->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(Child<QLabel>(dlg, "lbDatabase")->text(), QString::fromUtf8("Databáze"));
    EXPECT_EQ(Child<QLabel>(dlg, "lbUser")->text(), QString::fromUtf8("Uživatel"));
    EXPECT_EQ(Child<QLabel>(dlg, "lbPassword")->text(), QString::fromUtf8("Heslo"));
    EXPECT_EQ(Child<QLabel>(dlg, "lbSQLRole")->text(), "SQL Role");
    EXPECT_EQ(Child<QPushButton>(dlg, "OKBtn")->text(), "OK");
    EXPECT_EQ(Child<QPushButton>(dlg, "CancelBtn")->text(), "Storno");
    EXPECT_FALSE(Child<QPushButton>(dlg, "HelpBtn")->isVisible());
    EXPECT_TRUE(Child<QLabel>(dlg, "Image1")->isVisible());
    QLineEdit* db = Child<QLineEdit>(dlg, "edDatabase");
    QLineEdit* user = Child<QLineEdit>(dlg, "edUserName");
    QLineEdit* password = Child<QLineEdit>(dlg, "edPassword");
    QComboBox* role = Child<QComboBox>(dlg, "cbSQLRole");
    EXPECT_EQ(db->text(), "C:\\Data\\Main.fdb");
    EXPECT_FALSE(db->isReadOnly());
    EXPECT_EQ(user->text(), "SYSDBA");
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(role->count(), 2);
    EXPECT_EQ(role->currentText(), "READER");
    // A preset user name: the cursor is in the password field.
    EXPECT_EQ(dlg->focusWidget(), password);
    // Tab order: password, role, OK, Storno, (Help hidden), database, user name.
    const QWidget* expected[] = {role, Child<QPushButton>(dlg, "OKBtn"),
                                 Child<QPushButton>(dlg, "CancelBtn"), db, user, password};
    for (const QWidget* next : expected) {
      SendKey(dlg->focusWidget(), Qt::Key_Tab);
      EXPECT_EQ(dlg->focusWidget(), next) << next->objectName().toStdString();
    }

    password->clear();
    Type(password, "tajne");
    user->clear();
    Type(user, QString::fromUtf8("novák"));
    EXPECT_EQ(user->text(), QString::fromUtf8("NOVÁK"));
    role->setEditText("WRITER");
    Child<QPushButton>(dlg, "OKBtn")->click();
  });
  EXPECT_EQ(result, mrOk);
  EXPECT_EQ(form.Password, "tajne");
  EXPECT_EQ(form.UserName, CZ("NOVÁK"));
  EXPECT_EQ(form.SQLRole, "WRITER");
  EXPECT_EQ(form.Database, "C:\\Data\\Main.fdb");
}

TEST(QtLoginDialog, ReadOnlyDatabaseHelpFocusOnEmptyUserAndEscapeCancels) {
  TLoginDialogForm form = SampleForm();
  form.UserName.clear();
  form.ActiveControl = TLoginControl::edUserName;
  form.DatabaseReadOnly = true;
  form.DatabaseColor = LoginDatabaseColorReadOnly;
  form.HelpVisible = true;
  form.HelpContext = 12;
  const int result = ShowLogin(form, [](QDialog* dlg) {
    QLineEdit* db = Child<QLineEdit>(dlg, "edDatabase");
    EXPECT_TRUE(db->isReadOnly());
    EXPECT_EQ(db->palette().color(QPalette::Base), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_TRUE(Child<QPushButton>(dlg, "HelpBtn")->isVisible());
    EXPECT_EQ(Child<QPushButton>(dlg, "HelpBtn")->text(), QString::fromUtf8("&Nápověda"));
    EXPECT_EQ(dlg->focusWidget(), Child<QLineEdit>(dlg, "edUserName"));
    Type(Child<QLineEdit>(dlg, "edUserName"), "abc");
    SendKey(dlg, Qt::Key_Escape);
  });
  EXPECT_EQ(result, mrCancel);
  // Nothing typed comes back from a cancelled dialog.
  EXPECT_EQ(form.UserName, "");
  EXPECT_EQ(form.Password, "old");
}

TEST(QtCancelQueryDialog, FollowsTheFormAndItsButtonPresses) {
  EnsureQtApplication();
  int presses = 0;
  std::unique_ptr<TCancelQueryView> view = QtMakeCancelQueryView([&presses] { ++presses; });
  QDialog* dlg = QtCancelQueryDialog(view.get());
  ASSERT_NE(dlg, nullptr);
  TCancelQueryForm form;
  form.FetchingMessage = CZ("Načítání výsledků dotazu");
  form.CancelCaption = CZ("Přerušení");
  view->Update(form);
  EXPECT_FALSE(dlg->isVisible());

  form.Caption = "Pelvar";
  form.RowNum = CZ("Řádek# 250");
  form.Visible = true;
  view->Update(form);
  QApplication::processEvents();
  EXPECT_TRUE(dlg->isVisible());
  EXPECT_FALSE(dlg->isModal());
  EXPECT_TRUE(dlg->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(dlg->windowTitle(), "Pelvar");
  QLabel* message = Child<QLabel>(dlg, "lbFetchingMessage");
  QLabel* row = Child<QLabel>(dlg, "lbRowNum");
  EXPECT_EQ(message->text(), QString::fromUtf8("Načítání výsledků dotazu"));
  EXPECT_EQ(message->font().pixelSize(), 21);
  EXPECT_EQ(row->text(), QString::fromUtf8("Řádek# 250"));
  EXPECT_EQ(row->font().pixelSize(), 16);
  EXPECT_TRUE(row->alignment() & Qt::AlignHCenter);
  QPushButton* button = Child<QPushButton>(dlg, "CancelBtn");
  EXPECT_EQ(button->text(), QString::fromUtf8("Přerušení"));
  EXPECT_EQ(button->cursor().shape(), Qt::ArrowCursor);

  // The button, Escape and the window's close button all press it; the window itself
  // stays as the dialog's model says.
  button->click();
  SendKey(dlg, Qt::Key_Escape);
  dlg->close();
  EXPECT_EQ(presses, 3);
  EXPECT_TRUE(dlg->isVisible());

  form.RowNum = CZ("Řádek# 500");
  view->Update(form);
  EXPECT_EQ(row->text(), QString::fromUtf8("Řádek# 500"));
  form.Visible = false;
  view->Update(form);
  EXPECT_FALSE(dlg->isVisible());
}

}  // namespace
}  // namespace pelvar
