// The Qt window of the access-rights decision over its headless dialog (offscreen):
// the rights in the disabled edits, the button of each option, a refused button whose
// message goes through the dialog responder while the window stays open, the typed
// name, and the close box as a cancel; the selection window over a dataset takes the
// row chosen in its grid.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTimer>
#include <functional>
#include <memory>

#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/qt/qt_application.h"
#include "platform/qt/qt_strings.h"
#include "dbadapters/MemoryData.h"
#include "wizard/DlgPravaView.h"
#include "wizard_env.h"

namespace pelvar::test {
namespace {

class DlgPravaGui : public WizardEnv {
 protected:
  void SetUp() override {
    WizardEnv::SetUp();
    app_ = std::make_unique<TQtApplication>(argc_, argv_);
    dialog_.ShowMainRight(CZ("Laborant"), "A", "N", "y", CZ("hlavní"));
    dialog_.ShowStationRight(CZ("Laborant"), "n", "A", "N", CZ("stanice"));
  }
  void TearDown() override {
    app_.reset();
    WizardEnv::TearDown();
  }
  // Runs the window; steps act on it once it shows.
  void Run(std::function<void(QDialog*)> steps) {
    QTimer::singleShot(0, [&] {
      QDialog* w = QtActiveConflictWindow();
      ASSERT_NE(w, nullptr);
      steps(w);
      if (QtActiveConflictWindow() == w && w->isVisible()) w->reject();
    });
    QtRunDialogPrava(dialog_);
  }
  template <typename W>
  static W* Find(QDialog* w, const char* name) {
    W* c = w->findChild<W*>(name);
    EXPECT_NE(c, nullptr) << name;
    return c;
  }

  int argc_ = 1;
  char name_[16] = "guitest";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<TQtApplication> app_;
  TFrmDialogPrava dialog_{nullptr};
};

TEST_F(DlgPravaGui, AnotherNameIsRequiredBeforeTheRightIsAdded) {
  TScriptedResponder responder([](const std::string& m) { ADD_FAILURE() << m; });
  responder.Expect(CZ("Nelze přidat právo se stejným jménem!"), mrOk);
  Run([&](QDialog* w) {
    EXPECT_EQ(Find<QLineEdit>(w, "LEAdmin")->text(), "ANO");
    EXPECT_EQ(Find<QLineEdit>(w, "LEAdminS")->text(), "NE");
    EXPECT_EQ(Find<QLineEdit>(w, "LENastav")->text(), "ANO");
    EXPECT_TRUE(Find<QPushButton>(w, "BtnOK")->isVisible());
    EXPECT_FALSE(Find<QLineEdit>(w, "LENazevS")->isEnabled());
    Find<QRadioButton>(w, "RadioGroupRozhodni1")->click();
    EXPECT_FALSE(Find<QPushButton>(w, "BtnOK")->isVisible());
    EXPECT_TRUE(Find<QPushButton>(w, "BtnPridej")->isVisible());
    QLineEdit* name = Find<QLineEdit>(w, "LENazevS");
    EXPECT_TRUE(name->isEnabled());
    Find<QPushButton>(w, "BtnPridej")->click();
    EXPECT_TRUE(w->isVisible());  // refused, still open
    name->setText("Laborant 2");
    emit name->textEdited(name->text());
    Find<QPushButton>(w, "BtnPridej")->click();
  });
  EXPECT_EQ(dialog_.ModalResult(), mrOk);
  EXPECT_EQ(dialog_.Decision(), 1);
  EXPECT_EQ(dialog_.StationRight().Nazev, "Laborant 2");
  EXPECT_EQ(responder.Pending(), 0u);
}

TEST_F(DlgPravaGui, TheCloseBoxIsACancel) {
  Run([](QDialog* w) { Find<QRadioButton>(w, "RadioGroupRozhodni2")->click(); });
  EXPECT_EQ(dialog_.ModalResult(), mrCancel);
}


TEST_F(DlgPravaGui, TheSelectionTakesTheRowChosenInTheGrid) {
  TMemoryData rights(nullptr);
  auto* id = new TIntegerField(&rights);
  id->SetFieldName("ID_PRISTUPOVA_PRAVA");
  id->SetDataSet(&rights);
  auto* name = new TStringField(&rights);
  name->SetFieldName("NAZEV");
  name->SetSize(50);
  name->SetDataSet(&rights);
  for (int row : {1, -1}) {
    TFrmVyberId v(nullptr);
    v.SetInfo(CZ("Vyberte"));
    v.SetLines(&rights);  // a memory table reopened is empty: filled now
    for (int i : {4, 7, 9}) {
      rights.Append();
      id->SetAsInteger(i);
      name->SetAsString("R" + std::to_string(i));
      rights.Post();
    }
    QTimer::singleShot(0, [&] {
      QDialog* w = QtActiveConflictWindow();
      ASSERT_NE(w, nullptr);
      auto* grid = w->findChild<QTableWidget*>("DBGridLines");
      ASSERT_NE(grid, nullptr);
      EXPECT_EQ(grid->rowCount(), 3);
      if (row < 0) {
        w->findChild<QPushButton*>("ButtonCancel")->click();
        return;
      }
      grid->selectRow(row);
      w->findChild<QPushButton*>("ButtonOK")->click();
    });
    QtRunVyberId(v);
    EXPECT_EQ(v.SelectedId(), row < 0 ? -1 : 7);
    EXPECT_EQ(v.ModalResult(), row < 0 ? mrCancel : mrOk);
  }
}
}  // namespace
}  // namespace pelvar::test
