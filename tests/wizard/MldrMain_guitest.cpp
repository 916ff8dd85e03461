// The wizard's Qt windows offscreen: the program starts into the first page with its
// captions and buttons and ends through Storno; the main window follows the form and
// hands clicks and edits to it; the progress windows follow the data module.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QFontMetrics>
#include <QHeaderView>
#include <QTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QTableWidget>
#include <filesystem>

#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/qt/qt_application.h"
#include "platform/qt/qt_strings.h"
#include "platform/registry.h"
#include "sync/DmMeld.h"
#include "wizard/BrowseDirectoryDlg.h"
#include "wizard/MldrMainView.h"
#include "wizard/PracujiView.h"
#include "wizard_double.h"
#include "wizard_env.h"

namespace pelvar::test {
namespace {

template <typename W>
W* Find(QWidget* window, const char* name) {
  W* w = window->findChild<W*>(name);
  EXPECT_NE(w, nullptr) << name;
  return w;
}

class MldrMainGui : public WizardEnv {
 protected:
  void SetUp() override {
    WizardEnv::SetUp();
    app_ = std::make_unique<TQtApplication>(argc_, argv_);
  }
  void TearDown() override {
    app_.reset();
    WizardEnv::TearDown();
  }
  std::string ExeDir() const { return dir_.Path() + "/"; }

  int argc_ = 1;
  char name_[16] = "guitest";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<TQtApplication> app_;
};

TEST_F(MldrMainGui, WindowFollowsTheFormAndHandsOverClicks) {
  TestWizard form{AnsiString(ExeDir())};
  TMldrMainQtView view(form);
  form.Show();
  QWidget* w = view.Window();
  EXPECT_TRUE(w->isVisible());
  EXPECT_EQ(w->windowTitle(), QString::fromUtf8("Průvodce sehráváním dat programu Pelvar"));
  auto* next = Find<QPushButton>(w, "Btn_Next");
  EXPECT_EQ(next->text(), QString::fromUtf8("&Další>>"));
  EXPECT_TRUE(next->isVisible());
  EXPECT_FALSE(Find<QPushButton>(w, "Btn_Prev")->isEnabled());
  EXPECT_FALSE(Find<QPushButton>(w, "Btn_Start")->isVisible());
  EXPECT_EQ(Find<QStackedWidget>(w, "Notebook")->currentIndex(), 0);

  // An edit of the grid reaches the form; a valid row lets the timer enable Next.
  auto* grid = Find<QTableWidget>(w, "SG_DataPaths");
  ASSERT_EQ(grid->rowCount(), 1);
  EXPECT_EQ(grid->horizontalHeaderItem(0)->text(), QString::fromUtf8("Identifikace stanice"));
  WriteFile(dir_.File("st.gbk"), "x");
  grid->item(0, 0)->setText("PC1");
  grid->item(0, 1)->setText(QString::fromStdString(dir_.File("st.gbk")));
  EXPECT_EQ(form.SG_DataPaths[1][1], dir_.File("st.gbk"));
  form.TimerTimer();
  EXPECT_TRUE(next->isEnabled());

  // The group boxes follow their rules through the form.
  form.SetPageIndex(1);
  form.Changed();
  auto* zaklad = Find<QCheckBox>(w, "CB_Zaklad");
  zaklad->click();
  EXPECT_FALSE(form.CB_Zaklad.Checked);
  EXPECT_FALSE(Find<QCheckBox>(w, "CB_Karty")->isEnabled());
  EXPECT_FALSE(Find<QCheckBox>(w, "CB_Karty")->isChecked());

  // Next on page 1, then back through the green marker P1.
  form.TimerTimer();
  next->click();
  EXPECT_EQ(Find<QStackedWidget>(w, "Notebook")->currentIndex(), 2);
  EXPECT_TRUE(Find<QPushButton>(w, "Btn_Start")->isVisible());
  auto* p1 = Find<QLabel>(w, "P1");
  EXPECT_EQ(p1->palette().color(QPalette::Window), QColor(0, 128, 0));
  QMouseEvent press(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), QPointF(2, 2), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(p1, &press);
  QApplication::sendEvent(p1, &release);
  EXPECT_EQ(form.PageIndex(), 0);
  EXPECT_EQ(Find<QStackedWidget>(w, "Notebook")->currentIndex(), 0);

  // Storno on the first page closes the window.
  int closed = 0;
  form.OnClosed = [&](TObject*) { ++closed; };
  Find<QPushButton>(w, "Btn_Storno")->click();
  EXPECT_EQ(closed, 1);
  EXPECT_FALSE(w->isVisible());
}

TEST_F(MldrMainGui, ProgressWindowsFollowTheDataModule) {
  InstallQtWizardDialogs();
  TestWizard form{AnsiString(ExeDir())};
  TDMMeldrun* dm = form.MakeDataModule();
  dm->ShowProgress(CZ("Rozzipování archivu.."), "/media/a.zip", 40, 30);
  dm->ShowProgressBar(200);
  dm->SetProgressPosition(50);
  QWidget* window = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->objectName() == "frmPracuji") window = top;
  ASSERT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->size(), QSize(199, 163));
  EXPECT_EQ(Find<QLabel>(window, "LabelInfo")->text(), QString::fromUtf8("Rozzipování archivu.."));
  EXPECT_EQ(Find<QLabel>(window, "StatusBarPracuji")->text(), "/media/a.zip");
  EXPECT_EQ(Find<QProgressBar>(window, "ProgressBarPracuji")->value(), 50);
  EXPECT_EQ(Find<QProgressBar>(window, "ProgressBarPracuji")->maximum(), 200);
  dm->HideProgressBar();
  dm->HideProgress();
  EXPECT_FALSE(window->isVisible());

  TfrmPracujiMemo* memo = dm->MemoProgressWindow();
  memo->LabelInfo().SetCaption("r");
  memo->Show();
  for (int i = 0; i < 12; ++i) memo->MemoPracuji().Append("line " + std::to_string(i));
  memo->Refresh();
  QWidget* memo_window = nullptr;
  for (QWidget* top : QApplication::topLevelWidgets())
    if (top->objectName() == "frmPracujiMemo") memo_window = top;
  ASSERT_NE(memo_window, nullptr);
  auto* text = Find<QPlainTextEdit>(memo_window, "MemoPracuji");
  EXPECT_EQ(text->blockCount(), 12);
  EXPECT_TRUE(text->toPlainText().endsWith("line 11"));
  memo->MemoPracuji().Clear();
  memo->MemoPracuji().Append("again");
  memo->Hide();
  EXPECT_EQ(text->toPlainText(), "again");
  SetPracujiViewFactory({});
  SetOpenDialogResponder({});
}

// The program itself: it starts, shows the first page, reads the settings file and the
// registry, makes the working directory, and ends through Storno. (The loop can run
// once per process: this test comes last.)
TEST_F(MldrMainGui, ProgramStartsOnTheFirstPageAndEndsThroughStorno) {
  app_.reset();  // the program makes its own
  WriteFile(dir_.File("Meldrun.ini"), "[PROGRAM_FLOW]\r\nCommitAfter=250\r\n");
  {
    TRegIniFile reg("Software\\Brontek\\Pelvar");
    reg.WriteString("LastValues", "Path", "PC1|/media/a.zip;PC2|/media/b.gbk");
    reg.WriteInteger("LastValues", "CB_Karty.Checked", 0);
  }
  int argc = 1;
  bool started = false;
  const int rc = MeldrunMain(argc, argv_, AnsiString(ExeDir()), [&](TFrmMldrMain& form, TMldrMainQtView& view) {
    started = true;
    EXPECT_EQ(Application()->Title(), CZ("Sehrávání dat Pelvar 2008"));
    EXPECT_EQ(FrmMldrMain(), &form);
    EXPECT_NE(DMMeldrun(), nullptr);
    EXPECT_EQ(form.Settings().CommitAfter(), 250);
    EXPECT_TRUE(std::filesystem::is_directory(dir_.File("MAINDATA")));
    QWidget* w = view.Window();
    EXPECT_TRUE(w->isVisible());
    EXPECT_EQ(Find<QStackedWidget>(w, "Notebook")->currentIndex(), 0);
    EXPECT_EQ(Find<QPushButton>(w, "Btn_Storno")->text(), "Storno");
    EXPECT_EQ(Find<QLabel>(w, "LaPriprava")->text(), QString::fromUtf8("Příprava"));
    // The last values from the registry: the grid, and the group rules applied to them.
    auto* grid = Find<QTableWidget>(w, "SG_DataPaths");
    EXPECT_EQ(grid->rowCount(), 2);
    if (grid->item(1, 1)) {
      EXPECT_EQ(grid->item(1, 1)->text(), "/media/b.gbk");
    }
    EXPECT_FALSE(Find<QCheckBox>(w, "CB_Karty")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>(w, "CB_Doklady")->isEnabled());
    Find<QPushButton>(w, "Btn_Storno")->click();
  });
  EXPECT_TRUE(started);
  EXPECT_EQ(rc, 0);
}

// The grid's first header is shown whole; on the second station's play-in page only the
// play-in step is bold; the last page says how the run ended.
TEST_F(MldrMainGui, HeaderStepLabelsAndLastPageSayWhatIsTrue) {
  TestWizard form{AnsiString(ExeDir())};
  TMldrMainQtView view(form);
  form.Show();
  QWidget* w = view.Window();
  auto* grid = Find<QTableWidget>(w, "SG_DataPaths");
  const QString header = grid->horizontalHeaderItem(0)->text();
  EXPECT_EQ(header, QString::fromUtf8("Identifikace stanice"));
  QFont bold = grid->horizontalHeader()->font();
  bold.setBold(true);
  EXPECT_GE(grid->columnWidth(0), QFontMetrics(bold).horizontalAdvance(header) + 12);

  form.AddPreparedStation("a.fbk", "a.fbk", "PC1");
  form.AddPreparedStation("b.fbk", "b.fbk", "PC2");
  form.SetPageIndex(1);
  form.SetPageIndex(2);
  form.SetPageIndex(3);
  form.Btn_NextClick();  // the second station's play-in page
  ASSERT_EQ(form.PageIndex(), 2);
  EXPECT_EQ(form.StationIndex(), 1);
  const TLabelModel* steps[5] = {&form.LaPriprava, &form.LaNastaveni, &form.LaMeld, &form.LaVysledky,
                                 &form.LaDokonceni};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(steps[i]->Bold, i == 2) << i;

  form.SetPageIndex(3);
  form.SetPageIndex(4);
  form.finish = [] { return true; };
  form.Btn_FinallyClick();
  ASSERT_EQ(form.PageIndex(), 5);
  EXPECT_EQ(Find<QLabel>(w, "L_Hotovo")->text(), QString::fromUtf8("Sehrávání dat bylo úspěšně dokončeno"));
}

// The program's folder browser opens a directory chooser above the active window, centred
// on the screen; the folders the user moves to are told to OnSelChanged, and what is
// chosen there is the selection.
TEST_F(MldrMainGui, FolderBrowserOpensADirectoryChooser) {
  InstallQtWizardDialogs();
  const std::string chosen = dir_.File("vybrana");
  std::filesystem::create_directories(chosen);
  QWidget owner;
  owner.setGeometry(10, 10, 200, 100);
  owner.show();
  QApplication::setActiveWindow(&owner);
  bool seen = false;
  QWidget* parent = nullptr;
  QPoint centre, screen_centre;
  QTimer::singleShot(0, [&] {
    auto* box = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    if (!box) return;
    seen = box->fileMode() == QFileDialog::Directory;
    parent = box->parentWidget();
    centre = box->frameGeometry().center();
    screen_centre = box->screen()->availableGeometry().center();
    box->setDirectory(QString::fromStdString(chosen));
    box->selectFile(QString::fromStdString(chosen));
    // What the dialog's view says when the user moves to a folder.
    emit box->currentChanged(QString::fromStdString(chosen));
    static_cast<QDialog*>(box)->accept();
  });
  // The main form's own browser, as the form sets it up.
  TFrmMldrMain form(AnsiString(dir_.Path() + "/"));
  TdfsBrowseDirectoryDlg& dialog = *form.FolderBrowser;
  EXPECT_EQ(dialog.Owner(), &form);
  EXPECT_TRUE(dialog.Options().Contains(bfDirectoriesOnly));
  EXPECT_TRUE(dialog.ShowSelectionInStatus());
  EXPECT_TRUE(dialog.Root().empty()) << "from the desktop";
  dialog.SetTitle(CZ("Vyberte adresář"));
  dialog.SetSelection(dir_.Path());
  std::vector<std::string> moved;
  dialog.OnSelChanged = [&](TObject* sender, const AnsiString& folder) {
    EXPECT_EQ(sender, &dialog);
    moved.push_back(AnsiToUtf8(folder));
  };
  EXPECT_TRUE(dialog.Execute());
  EXPECT_TRUE(seen);
  EXPECT_EQ(parent, &owner);
  EXPECT_LE((centre - screen_centre).manhattanLength(), 4) << centre.x() << "," << centre.y();
  ASSERT_FALSE(moved.empty());
  EXPECT_EQ(moved.back(), chosen);
  EXPECT_EQ(AnsiToUtf8(dialog.Selection()), chosen);
  SetPracujiViewFactory({});
  SetOpenDialogResponder({});
  SetFolderChooser({});
}

}  // namespace
}  // namespace pelvar::test
