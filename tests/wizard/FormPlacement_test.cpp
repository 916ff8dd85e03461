#include "wizard/FormPlacement.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/registry.h"
#include "wizard/MldrSettings.h"
#include "wizard/Qor_System.h"
#include "wizard_env.h"

namespace pelvar {
namespace {

using test::ReadFile;
using test::WriteFile;

// The wizard's main form as far as placement goes: a fixed single border, centred by
// the framework, with a form manager in the registry under the wizard's key whose
// events load and store the last values.
class TTestWizardForm : public TFormModel {
 public:
  explicit TTestWizardForm(std::vector<std::string>* log = nullptr) : log_(log) {
    SetBorderStyle(bsSingle);
    SetPosition(poScreenCenter);
    SetBounds(0, 0, 560, 420);
    OnShow = [this](TObject*) { Log("FormShow"); };
    OnDestroy = [this](TObject*) { Log("FormDestroy"); };
    manager = new TQorFormManager(this);
    manager->SetIniFileName("Software\\Brontek\\Pelvar");
    manager->SetIniSection("Wizard");
    manager->OnRestorePlacement = [this](TObject*) {
      last = ReadLastValues(manager->IniFileObject());
      Log("restore");
    };
    manager->OnSavePlacement = [this](TObject*) {
      if (ModalResult() == mrOk) WriteLastValues(manager->IniFileObject(), last);
      Log("save");
    };
    manager->Loaded();
  }
  ~TTestWizardForm() override { BeforeDestruction(); }

  void Log(const std::string& s) {
    if (log_) log_->push_back(s);
  }

  TQorFormManager* manager;
  TMldrLastValues last;

 private:
  std::vector<std::string>* log_;
};

class FormPlacementTest : public test::WizardEnv {
 protected:
  static AnsiString Stored(const AnsiString& ident) {
    return test::WizardRegText(ident);
  }
  static void Store(const AnsiString& ident, const AnsiString& value) {
    TRegIniFile reg("Software\\Brontek\\Pelvar");
    reg.WriteString("Wizard", ident, value);
  }
};

TEST_F(FormPlacementTest, PlacementRoundTripsThroughTheRegistry) {
  std::vector<std::string> log;
  {
    TTestWizardForm form(&log);
    form.Show();
    // Nothing stored: centred on the screen.
    EXPECT_EQ(form.Left(), (1024 - 560) / 2);
    EXPECT_EQ(form.Top(), (768 - 420) / 2);
    form.SetBounds(100, 50, 560, 420);
    EXPECT_TRUE(form.Close());
  }
  EXPECT_EQ(log, (std::vector<std::string>{"restore", "FormShow", "save", "FormDestroy"}));
  EXPECT_EQ(Stored("NormPos"), "100,50,660,470");
  EXPECT_EQ(Stored("NormPos(1024x768)"), "100,50,660,470");
  EXPECT_EQ(Stored("MinMaxPos"), "-1,-1,-1,-1");
  EXPECT_EQ(Stored("PixelsPerInch"), "96");
  EXPECT_EQ(Stored("ShowCmd"), "1");
  EXPECT_EQ(Stored("Flags"), "0");
  EXPECT_EQ(Stored("Visible"), "1");  // saved while the close is asked
  EXPECT_EQ(Stored("ActiveControl"), "(none)");

  TTestWizardForm again;
  again.Show();
  EXPECT_EQ(again.BoundsRect(), (TRect{100, 50, 660, 470}));
  EXPECT_EQ(again.Position(), poDesigned);

  // A form with a fixed border keeps its size and only moves.
  again.SetBounds(0, 0, 560, 420);
  Store("NormPos(1024x768)", "30,40,1030,940");
  again.Show();
  EXPECT_EQ(again.BoundsRect(), (TRect{30, 40, 590, 460}));
}

TEST_F(FormPlacementTest, AWindowPlacedOffScreenComesBackOnIt) {
  struct Case {
    const char* norm_pos;
    int left, top;
  };
  const Case cases[] = {
      {"-300,5000,260,5420", 0, 0},
      {"1500,100,2060,520", 0, 100},
      {"1024,768,1584,1188", 0, 0},
      {"1023,767,1583,1187", 1023, 767},
      {"20,-1,580,419", 20, 0},
      {"not,a,rect", (1024 - 560) / 2, (768 - 420) / 2},  // unreadable: centred
  };
  for (const Case& c : cases) {
    Store("NormPos(1024x768)", c.norm_pos);
    TTestWizardForm form;
    form.Show();
    EXPECT_EQ(form.Left(), c.left) << c.norm_pos;
    EXPECT_EQ(form.Top(), c.top) << c.norm_pos;
  }
}

TEST_F(FormPlacementTest, TheScreenSizedValueWinsAndAnotherScreenUsesThePlainOne) {
  Store("NormPos(1024x768)", "10,10,570,430");
  Store("NormPos", "20,20,580,440");
  {
    TTestWizardForm form;
    form.Show();
    EXPECT_EQ(form.Left(), 10);
  }  // saved again when destroyed, under both names
  Store("NormPos", "20,20,580,440");
  FormScreen().Width = 1920;
  FormScreen().Height = 1080;
  TTestWizardForm form;
  form.Show();
  EXPECT_EQ(form.Left(), 20);
}

TEST_F(FormPlacementTest, APlacementSavedAtAnotherDpiIsNotApplied) {
  Store("NormPos(1024x768)", "10,10,570,430");
  Store("PixelsPerInch", "120");
  TTestWizardForm form;
  form.last.CB_Karty = false;
  form.Show();
  EXPECT_EQ(form.Left(), (1024 - 560) / 2);
  // The last values are read all the same.
  EXPECT_TRUE(form.last.CB_Karty);
}

TEST_F(FormPlacementTest, ShowCmdGivesTheWindowState) {
  struct Case {
    const char* show_cmd;
    TWindowState state;
  };
  const Case cases[] = {{"1", wsNormal},    {"5", wsNormal},    {"9", wsNormal},
                        {"2", wsMinimized}, {"6", wsMinimized}, {"7", wsMinimized},
                        {"3", wsMaximized}, {"0", wsMaximized}, {"4", wsMaximized}};
  for (const Case& c : cases) {
    Store("ShowCmd", c.show_cmd);
    TTestWizardForm form;
    form.SetWindowState(wsMaximized);  // what 0 and 4 leave alone
    form.Show();
    EXPECT_EQ(form.WindowState(), c.state) << c.show_cmd;
  }
  TTestWizardForm form;
  form.SetWindowState(wsMaximized);
  form.Close();
  EXPECT_EQ(Stored("ShowCmd"), "3");
}

TEST_F(FormPlacementTest, LastValuesAreStoredOnlyWhenTheWizardClosesWithOk) {
  TMldrLastValues first;
  first.Path = "A|/media/a.zip";
  first.CB_Ciselniky = false;
  {
    TTestWizardForm form;
    form.Show();
    EXPECT_EQ(form.last, TMldrLastValues{});  // nothing stored: every box ticked
    form.last = first;
    form.SetModalResult(mrOk);
    form.Close();
  }
  {
    // Storno: the placement is saved, the last values are not.
    TTestWizardForm form;
    form.Show();
    EXPECT_EQ(form.last, first);
    form.last.Path = "B|/media/b.zip";
    form.last.CB_Ciselniky = true;
    form.SetBounds(7, 8, 560, 420);
    form.SetModalResult(mrCancel);
    form.Close();
  }
  EXPECT_EQ(Stored("NormPos"), "7,8,567,428");
  TTestWizardForm form;
  form.Show();
  EXPECT_EQ(form.last, first);
}

TEST_F(FormPlacementTest, DestroyWithoutCloseSavesOnceAndAVetoedCloseSavesNothing) {
  {
    TTestWizardForm form;
    form.Show();
    form.SetBounds(1, 2, 560, 420);
    form.SetModalResult(mrOk);
    form.last.Path = "X|/x.zip";
  }  // destroyed while shown
  EXPECT_EQ(Stored("NormPos"), "1,2,561,422");
  EXPECT_EQ(Stored("Visible"), "0");
  {
    TTestWizardForm form;
    form.Show();
    EXPECT_EQ(form.last.Path, "X|/x.zip");
  }

  ::unlink(RegistryFile().c_str());
  std::vector<std::string> log;
  TTestWizardForm form(&log);
  delete form.manager;  // unhooks and gives the form its own events back
  form.Show();
  EXPECT_EQ(log, (std::vector<std::string>{"FormShow"}));
  // The form's own close query runs first and may keep the form open.
  bool allow = false;
  form.OnCloseQuery = [&](TObject*, bool& can_close) { can_close = allow; };
  form.manager = new TQorFormManager(&form);
  form.manager->SetIniFileName("Software\\Brontek\\Pelvar");
  form.manager->SetIniSection("Wizard");
  form.manager->Loaded();
  EXPECT_FALSE(form.Close());
  EXPECT_EQ(Stored("NormPos"), "(none)");
  allow = true;
  EXPECT_TRUE(form.Close());
  EXPECT_NE(Stored("NormPos"), "(none)");
}

TEST_F(FormPlacementTest, AFailureGoesToTheApplicationHandlerAndTheShowGoesOn) {
  WriteFile(RegistryFile(), "this is no registry store\n");
  std::vector<std::string> errors;
  Application()->SetOnException(
      [&](TObject*, const Exception& e) { errors.push_back(e.Message()); });
  std::vector<std::string> log;
  {
    TTestWizardForm form(&log);
    form.Show();
    EXPECT_TRUE(form.Close());
  }
  Application()->SetOnException(nullptr);
  // Restore, save at close and save at destroy (nothing saved yet) failed and were
  // reported; the form's own handlers still ran.
  EXPECT_EQ(errors.size(), 3u);
  EXPECT_EQ(log, (std::vector<std::string>{"FormShow", "FormDestroy"}));
  // The damaged store is left as it was.
  EXPECT_EQ(ReadFile(RegistryFile()), "this is no registry store\n");
}

TEST_F(FormPlacementTest, AnIniFileStoreAndTheClassCheck) {
  class TIniForm : public TFormModel {};
  const std::string ini_name = dir_.File("placement.ini");
  TIniForm form;
  form.SetBounds(5, 6, 300, 200);
  auto* placement = new TFormPlacement(&form);
  EXPECT_EQ(placement->Options(), (TPlacementOptions{fpState, fpPosition}));
  placement->SetOptions(TPlacementOptions{fpState, fpPosition, fpActiveControl});
  placement->SetIniFileName(ini_name);
  EXPECT_EQ(placement->IniSection(), "TIniForm");
  bool checked = false;
  placement->OnSavePlacement = [&](TObject*) {
    EXPECT_NE(placement->IniFile(), nullptr);
    EXPECT_EQ(placement->RegIniFile(), nullptr);
    IniWriteString(placement->IniFileObject(), "Extra", "Key", "value");
    checked = true;
  };
  placement->Loaded();
  form.Show();
  form.SetActiveControl("Btn_OK");
  placement->SaveFormPlacement();
  EXPECT_TRUE(checked);
  EXPECT_EQ(placement->IniFileObject(), nullptr);  // closed after the operation
  const std::string text = ReadFile(ini_name);
  EXPECT_NE(text.find("[TIniForm]"), std::string::npos) << text;
  EXPECT_NE(text.find("NormPos=5,6,305,206"), std::string::npos) << text;
  EXPECT_NE(text.find("NormPos(1024x768)=5,6,305,206"), std::string::npos) << text;
  EXPECT_NE(text.find("ActiveControl=Btn_OK"), std::string::npos) << text;
  EXPECT_NE(text.find("Visible=1"), std::string::npos) << text;

  TStringList not_a_store;
  try {
    IniReadString(&not_a_store, "S", "I", "");
    ADD_FAILURE() << "no error";
  } catch (const EInvalidOperation& e) {
    EXPECT_EQ(e.Message(), "Invalid ini-file class!");
  }
  EXPECT_THROW(IniWriteInteger(nullptr, "S", "I", 1), EInvalidOperation);
}

TEST_F(FormPlacementTest, MessageHooksFixTheTrackSizeAndMakeBordersInert) {
  TFormModel form;
  form.SetBorderStyle(bsSizeable);
  form.SetBounds(100, 100, 400, 300);
  auto* manager = new TQorFormManager(&form);
  manager->Loaded();

  const LPARAM left_border = PointToLParam(101, 200);
  const LPARAM caption = PointToLParam(200, 105 + 4);
  const LPARAM client = PointToLParam(200, 250);
  EXPECT_EQ(form.Perform(WM_NCHITTEST, 0, left_border), HTLEFT);
  EXPECT_EQ(form.Perform(WM_NCHITTEST, 0, caption), HTCAPTION);
  EXPECT_EQ(form.Perform(WM_NCHITTEST, 0, client), HTCLIENT);
  EXPECT_EQ(form.GetMinMaxInfo().ptMaxTrackSize, (TPoint{1024, 768}));

  TWinMinMaxInfo limits;
  limits.MinTrackWidth = 200;
  limits.MaxTrackHeight = 500;
  manager->SetMinMaxInfo(limits);
  TMinMaxInfo info = form.GetMinMaxInfo();
  EXPECT_EQ(info.ptMinTrackSize, (TPoint{200, 27}));
  EXPECT_EQ(info.ptMaxTrackSize, (TPoint{1024, 500}));

  manager->SetPreventResize(true);
  info = form.GetMinMaxInfo();
  EXPECT_EQ(info.ptMinTrackSize, (TPoint{400, 300}));
  EXPECT_EQ(info.ptMaxTrackSize, (TPoint{400, 300}));
  EXPECT_EQ(form.Perform(WM_NCHITTEST, 0, left_border), HTNOWHERE);
  EXPECT_EQ(form.Perform(WM_NCHITTEST, 0, caption), HTCAPTION);
  manager->SetPreventResize(false);

  manager->SetPreventMove(pmIfMaximized);
  EXPECT_EQ(form.Perform(WM_NCHITTEST, 0, left_border), HTLEFT);
  form.SetWindowState(wsMaximized);
  EXPECT_EQ(form.Perform(WM_NCHITTEST, 0, left_border), HTNOWHERE);
  form.SetWindowState(wsNormal);
  manager->SetPreventMove(pmYes);
  EXPECT_EQ(form.Perform(WM_NCHITTEST, 0, left_border), HTNOWHERE);
  EXPECT_EQ(form.Perform(WM_NCHITTEST, 0, client), HTCLIENT);

  // Gone with the manager: the form answers by itself again.
  delete manager;
  EXPECT_EQ(form.Perform(WM_NCHITTEST, 0, left_border), HTLEFT);
  EXPECT_EQ(form.GetMinMaxInfo().ptMinTrackSize, (TPoint{112, 27}));
}

TEST_F(FormPlacementTest, DefaultPositionComesBeforeTheStoredOne) {
  TFormModel form;
  form.SetBorderStyle(bsSizeable);
  form.SetBounds(300, 300, 400, 300);
  auto* manager = new TQorFormManager(&form);
  manager->SetIniFileName("Software\\Test");
  manager->Loaded();
  form.Show();
  EXPECT_EQ(form.Left(), (1024 - 400) / 2);  // nothing stored: centred
  manager->SetDefaultPosition(dpTopLeft);
  form.Show();
  EXPECT_EQ(form.BoundsRect(), (TRect{0, 0, 400, 300}));
  manager->SetDefaultPosition(dpDesigned);
  form.SetBounds(300, 300, 400, 300);
  form.Show();
  EXPECT_EQ(form.Left(), 300);
  // The section defaults to the form's class name.
  EXPECT_EQ(manager->IniSection(), "TFormModel");
  form.Close();
  TRegIniFile reg("Software\\Test");
  EXPECT_EQ(reg.ReadString("TFormModel", "NormPos", ""), "300,300,700,600");
}

}  // namespace
}  // namespace pelvar
