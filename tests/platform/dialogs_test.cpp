#include "platform/dialogs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/codepage.h"

namespace pelvar {
namespace {

std::vector<std::string> Captions(const TDialogRequest& r) {
  std::vector<std::string> out;
  for (const auto& b : r.Buttons) out.push_back(AnsiToUtf8(b.Caption));
  return out;
}

// Captures every request and answers with a fixed result.
struct Capture {
  std::vector<TDialogRequest> requests;
  int answer = mrNone;
  TDialogResponder previous;
  Capture() {
    previous = SetDialogResponder([this](const TDialogRequest& r) {
      requests.push_back(r);
      return answer == mrNone ? r.DefaultResult : answer;
    });
  }
  ~Capture() { SetDialogResponder(std::move(previous)); }
};

TEST(Dialogs, MessageDlgHasCzechCaptionsButtonsInOrderAndDefaults) {
  struct Case {
    TMsgDlgType type;
    TMsgDlgButtons buttons;
    std::string caption;
    std::vector<std::string> captions;
    int default_result, cancel_result;
  };
  const Case cases[] = {
      {mtConfirmation, {mbOK, mbCancel}, "Potvrzení", {"OK", "Storno"}, mrOk, mrCancel},
      {mtWarning, mbYesNoCancel, "Varování", {"Ano", "Ne", "Storno"}, mrYes, mrCancel},
      {mtError, {mbNo, mbYes}, "Chyba", {"Ano", "Ne"}, mrYes, mrNo},
      {mtInformation, {mbOK}, "Informace", {"OK"}, mrOk, mrOk},
      {mtWarning, mbAbortRetryIgnore, "Varování", {"Přerušit", "Opakovat", "Ignorovat"}, mrAbort,
       mrNone},
      {mtConfirmation, mbYesAllNoAllCancel, "Potvrzení",
       {"Ano", "Ne", "Storno", "Ne všem", "Ano všem"}, mrYes, mrCancel},
      {mtError, {}, "Chyba", {"OK"}, mrOk, mrOk},  // no buttons: still closable
  };
  for (const Case& c : cases) {
    Capture cap;
    MessageDlg(CZ("Skutečně chcete skončit?"), c.type, c.buttons);
    ASSERT_EQ(cap.requests.size(), 1u);
    const TDialogRequest& r = cap.requests[0];
    EXPECT_EQ(r.Kind, TDialogKind::MessageDlg);
    EXPECT_EQ(r.Type, c.type);
    EXPECT_EQ(AnsiToUtf8(r.Caption), c.caption);
    EXPECT_EQ(r.Text, CZ("Skutečně chcete skončit?"));
    EXPECT_EQ(Captions(r), c.captions) << c.caption;
    EXPECT_EQ(r.DefaultResult, c.default_result) << c.caption;
    EXPECT_EQ(r.CancelResult, c.cancel_result) << c.caption;
  }
  Capture cap;
  cap.answer = mrIgnore;
  EXPECT_EQ(MessageDlg("x", mtWarning, mbAbortRetryIgnore), mrIgnore);
  EXPECT_EQ(ButtonCaption(mbAll), CZ("Vše"));
}

TEST(Dialogs, MessageDlgTakesTheDefaultButtonItIsGiven) {
  struct Case {
    TMsgDlgButtons buttons;
    TMsgDlgBtn default_button;
    int default_result;
  };
  const Case cases[] = {
      {{mbYes, mbNo}, mbNo, mrNo},
      {mbYesNoCancel, mbCancel, mrCancel},
      {{mbYes, mbNo}, mbOK, mrYes},  // not one of the buttons: the usual default
  };
  for (const Case& c : cases) {
    Capture cap;
    EXPECT_EQ(MessageDlg("x", mtConfirmation, c.buttons, 0, c.default_button), c.default_result);
    ASSERT_EQ(cap.requests.size(), 1u);
    EXPECT_EQ(cap.requests[0].DefaultResult, c.default_result);
    EXPECT_EQ(Captions(cap.requests[0]).size(), c.buttons.Contains(mbCancel) ? 3u : 2u);
  }
}

TEST(Dialogs, MessageBoxMapsFlagsToButtonsIconAndDefault) {
  struct Case {
    uint32_t flags;
    std::vector<std::string> captions;
    TMsgDlgType type;
    int default_result, cancel_result;
  };
  const Case cases[] = {
      {MB_OK, {"OK"}, mtCustom, IDOK, IDOK},
      {MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2, {"OK", "Storno"}, mtConfirmation, IDCANCEL,
       IDCANCEL},
      {MB_YESNO | MB_ICONWARNING, {"Ano", "Ne"}, mtWarning, IDYES, mrNone},
      {MB_YESNOCANCEL | MB_ICONINFORMATION | MB_DEFBUTTON3, {"Ano", "Ne", "Storno"}, mtInformation,
       IDCANCEL, IDCANCEL},
      {MB_ABORTRETRYIGNORE | MB_ICONSTOP, {"Přerušit", "Opakovat", "Ignorovat"}, mtError, IDABORT,
       mrNone},
      {MB_RETRYCANCEL | MB_DEFBUTTON3, {"Opakovat", "Storno"}, mtCustom, IDRETRY, IDCANCEL},
  };
  for (const Case& c : cases) {
    Capture cap;
    EXPECT_EQ(MessageBox(CZ("Text č."), CZ("Titulek"), c.flags), c.default_result);
    const TDialogRequest& r = cap.requests.at(0);
    EXPECT_EQ(r.Kind, TDialogKind::MessageBox);
    EXPECT_EQ(r.Caption, CZ("Titulek"));
    EXPECT_EQ(Captions(r), c.captions) << c.flags;
    EXPECT_EQ(r.Type, c.type) << c.flags;
    EXPECT_EQ(r.CancelResult, c.cancel_result) << c.flags;
  }
}

TEST(Dialogs, ShowMessageUsesTheApplicationTitle) {
  Capture cap;
  ShowMessage(CZ("Hotovo"));
  const TDialogRequest& r = cap.requests.at(0);
  EXPECT_EQ(r.Kind, TDialogKind::ShowMessage);
  EXPECT_EQ(r.Caption, Application()->Title());
  EXPECT_EQ(Captions(r), std::vector<std::string>{"OK"});
}

TEST(Dialogs, ScriptedResponderAnswersInOrderAndReportsEveryMismatch) {
  std::vector<std::string> failures;
  {
    TScriptedResponder dialogs([&](const std::string& m) { failures.push_back(m); });
    dialogs.Expect(mtConfirmation, CZ("Skutečně chcete skončit?"), mrOk)
        .Expect(CZ("Smazat?"), mrNo)
        .Expect(CZ("Uložit?"), mrYes);  // will be answered wrongly below
    EXPECT_EQ(MessageDlg(CZ("Skutečně chcete skončit?"), mtConfirmation, mbOKCancel), mrOk);
    EXPECT_EQ(MessageDlg(CZ("Smazat?"), mtWarning, {mbYes, mbNo}), mrNo);
    EXPECT_TRUE(failures.empty());
    // Expected "Uložit?" with Ano, but the box offers only OK/Storno: reported, closed.
    EXPECT_EQ(MessageDlg(CZ("Uložit?"), mtConfirmation, mbOKCancel), mrCancel);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("Uložit?"), std::string::npos);
    // Nothing more expected: an unexpected dialog is reported with its text.
    MessageBox(CZ("Nečekaná zpráva"), "x", MB_OK);
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_NE(failures[1].find("Unexpected dialog: \"Nečekaná zpráva\""), std::string::npos);
    dialogs.Expect(CZ("Poslední"), mrOk);
    EXPECT_EQ(dialogs.Shown().size(), 4u);
    EXPECT_EQ(dialogs.Pending(), 1u);
  }
  ASSERT_EQ(failures.size(), 3u) << "a dialog never shown is reported at the end";
  EXPECT_NE(failures[2].find("Poslední"), std::string::npos);

  failures.clear();
  {
    TScriptedResponder dialogs([&](const std::string& m) { failures.push_back(m); });
    dialogs.Expect(CZ("Jiný text"), mrOk).Expect(mtError, "typ", mrOk);
    EXPECT_EQ(MessageDlg(CZ("Tento text"), mtInformation, {mbOK}), mrOk);
    MessageDlg("typ", mtWarning, {mbOK});
  }
  ASSERT_EQ(failures.size(), 2u);
  EXPECT_NE(failures[0].find("Jiný text"), std::string::npos);
  EXPECT_NE(failures[0].find("Tento text"), std::string::npos);
}

TEST(Dialogs, ScriptedResponderDefaultFailureAbortsTheProcess) {
  EXPECT_DEATH(
      {
        TScriptedResponder dialogs;
        ShowMessage(CZ("Nikdo ji nečeká"));
      },
      "Unexpected dialog: \"Nikdo ji nečeká\"");
}

TEST(Dialogs, HeadlessAnswerIsWhatClosingTheBoxGives) {
  auto previous = SetDialogResponder(nullptr);
  EXPECT_EQ(MessageDlg("a", mtConfirmation, mbYesNoCancel), mrCancel);
  EXPECT_EQ(MessageDlg("b", mtConfirmation, {mbYes, mbNo}), mrNo);
  EXPECT_EQ(MessageDlg("c", mtWarning, mbAbortRetryIgnore), mrAbort);
  EXPECT_EQ(MessageBox("d", "e", MB_OK), IDOK);
  SetDialogResponder(std::move(previous));
}

}  // namespace
}  // namespace pelvar
