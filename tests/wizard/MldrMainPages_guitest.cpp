// Pages 2 and 3 of the wizard's Qt window offscreen: the action, the count and the
// animation of the play-in page and the seven counters of the results page follow the
// form; Detail reaches the form's handler, which opens the log.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "platform/qt/qt_application.h"
#include "wizard/MldrMainView.h"
#include "wizard_double.h"
#include "wizard_env.h"

namespace pelvar::test {
namespace {

class MldrPlayGui : public WizardEnv {};

TEST_F(MldrPlayGui, PlayAndResultPagesFollowTheForm) {
  int argc = 1;
  char name[] = "guitest";
  char* argv[] = {name, nullptr};
  TQtApplication app(argc, argv);
  TestWizard form{AnsiString(dir_.Path() + "/")};
  TMldrMainQtView view(form);
  form.Show();
  QWidget* w = view.Window();

  form.L_Action = CZ("Ceník");
  form.Animate1Active = true;
  form.EngineProgress(3, 40, "x");
  auto* action = w->findChild<QLabel*>("L_Action");
  ASSERT_NE(action, nullptr);
  EXPECT_EQ(action->text(), QString::fromUtf8("Ceník"));
  EXPECT_EQ(w->findChild<QLabel*>("L_Count")->text(), "3 z 40");
  EXPECT_EQ(w->findChild<QProgressBar*>("ProgressBar")->maximum(), 40);
  EXPECT_EQ(w->findChild<QProgressBar*>("Animate1")->maximum(), 0);  // busy

  const char* names[] = {"L_RC", "L_SDC", "L_CRC", "L_IEC", "L_SC", "L_CEC", "L_DEC"};
  AnsiString* values[] = {&form.L_RC, &form.L_SDC, &form.L_CRC, &form.L_IEC,
                          &form.L_SC, &form.L_CEC, &form.L_DEC};
  for (int i = 0; i < 7; ++i) *values[i] = IntToStr(10 + i);
  form.Animate1Active = false;
  form.Changed();
  for (int i = 0; i < 7; ++i) {
    auto* label = w->findChild<QLabel*>(names[i]);
    ASSERT_NE(label, nullptr) << names[i];
    EXPECT_EQ(label->text(), QString::number(10 + i)) << names[i];
  }
  EXPECT_EQ(w->findChild<QProgressBar*>("Animate1")->maximum(), 1);

  std::vector<std::string> opened;
  TShellOpenHandler previous = SetShellOpenHandler([&](const AnsiString& f) {
    opened.push_back(f);
    return true;
  });
  w->findChild<QPushButton*>("BtnDetail")->click();
  SetShellOpenHandler(previous);
  EXPECT_EQ(opened, std::vector<std::string>{"Import.txt"});
}

}  // namespace
}  // namespace pelvar::test
