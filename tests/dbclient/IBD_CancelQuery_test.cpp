// The cancel-query dialog: its texts, the row label, showing and hiding through its
// view, and the button that asks and aborts the fetch.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dbclient/IBD_CancelQuery.h"
#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"

namespace pelvar {
namespace {

auto Collect(std::vector<std::string>& failures) {
  return [&failures](const std::string& m) { failures.push_back(m); };
}

struct FakeDataset : IB_FetchAbortTarget {
  int aborts = 0;
  void AbortFetching() override { ++aborts; }
};

TEST(IBD_CancelQuery, FormCreateSetsTextsAndTheRowLabelFollowsTheRowNumber) {
  TScriptedCancelQueryView view;
  TdlgCancelQuery dlg;
  const TCancelQueryForm& f = dlg.Form();
  EXPECT_EQ(f.FetchingMessage, CZ("Načítání výsledků dotazu"));
  EXPECT_EQ(f.CancelCaption, CZ("Přerušení"));
  EXPECT_EQ(f.Caption, "");
  EXPECT_EQ(f.ClientWidth, 313);
  EXPECT_EQ(f.ClientHeight, 123);
  EXPECT_EQ(f.FetchingMessageFontHeight, 21);
  EXPECT_EQ(f.RowNumFontHeight, 16);
  EXPECT_TRUE(f.AlwaysOnTop);
  EXPECT_FALSE(dlg.Visible());
  EXPECT_EQ(dlg.Dataset(), nullptr);

  for (int32_t row : {0, 1, 1234, -5, 2147483647}) {
    dlg.SetRowNumber(row);
    EXPECT_EQ(dlg.RowNum(), CZ("Řádek# ") + std::to_string(row));
  }
  dlg.SetCaption("Pelvar");
  dlg.Show();
  dlg.SetWindowState(TCancelQueryWindowState::Minimized);
  dlg.SetWindowState(TCancelQueryWindowState::Normal);
  dlg.Hide();
  // The view saw every change, the last one hidden.
  ASSERT_EQ(view.DialogCount(), 1);
  ASSERT_FALSE(view.Updates().empty());
  EXPECT_FALSE(view.Updates().front().Visible);
  EXPECT_EQ(view.Updates().front().FetchingMessage, CZ("Načítání výsledků dotazu"));
  const TCancelQueryForm& last = view.Updates().back();
  EXPECT_FALSE(last.Visible);
  EXPECT_EQ(last.Caption, "Pelvar");
  EXPECT_EQ(last.RowNum, CZ("Řádek# 2147483647"));
  EXPECT_EQ(last.WindowState, TCancelQueryWindowState::Normal);
}

TEST(IBD_CancelQuery, ButtonWithoutDatasetDoesNothing) {
  std::vector<std::string> failures;
  TScriptedResponder dialogs(Collect(failures));  // no question expected
  TScriptedCancelQueryView view;
  TdlgCancelQuery dlg;
  dlg.Show();
  EXPECT_TRUE(view.Press());
  EXPECT_TRUE(dlg.Visible());
  EXPECT_TRUE(dialogs.Shown().empty());
  EXPECT_TRUE(failures.empty());
}

// The button hides the dialog and asks; only OK aborts the fetch, and the dialog stays
// hidden either way until the dataset shows it again.
TEST(IBD_CancelQuery, ButtonHidesAsksAndAbortsOnlyOnOk) {
  struct Case {
    int answer;
    int aborts;
  };
  for (const Case& c : {Case{mrOk, 1}, Case{mrCancel, 0}}) {
    std::vector<std::string> failures;
    TScriptedResponder dialogs(Collect(failures));
    dialogs.Expect(mtConfirmation, CZ("Skutečně chcete skončit?"), c.answer);
    FakeDataset ds;
    TdlgCancelQuery dlg;
    dlg.SetDataset(&ds);
    dlg.Show();
    dlg.CancelBtnClick();
    EXPECT_EQ(ds.aborts, c.aborts) << c.answer;
    EXPECT_FALSE(dlg.Visible());
    ASSERT_EQ(dialogs.Shown().size(), 1u);
    const TDialogRequest& q = dialogs.Shown()[0];
    ASSERT_EQ(q.Buttons.size(), 2u);
    EXPECT_EQ(q.Buttons[0].Result, mrOk);
    EXPECT_EQ(q.Buttons[1].Result, mrCancel);
    EXPECT_TRUE(failures.empty());
  }
}

// As during a real fetch: the user's press arrives through the message loop that the
// fetch pumps, and the loop stops at its next check.
TEST(IBD_CancelQuery, PressDuringAFetchArrivesThroughTheMessageLoop) {
  struct Fetch : IB_FetchAbortTarget {
    bool aborted = false;
    void AbortFetching() override { aborted = true; }
  } fetch;
  std::vector<std::string> failures;
  TScriptedResponder dialogs(Collect(failures));
  dialogs.Expect(CZ("Skutečně chcete skončit?"), mrOk);
  TScriptedCancelQueryView view;
  view.PressWhenShown();
  TdlgCancelQuery dlg;
  dlg.SetDataset(&fetch);
  dlg.SetCaption("Pelvar");
  int rows = 0;
  bool pressed_inside_show = false;
  while (!fetch.aborted && rows < 1000) {
    ++rows;
    if (rows % 5 == 0) {
      dlg.SetRowNumber(rows);
      dlg.Show();
      pressed_inside_show = pressed_inside_show || fetch.aborted;
    }
    Application()->ProcessMessages();
  }
  EXPECT_FALSE(pressed_inside_show);
  EXPECT_TRUE(fetch.aborted);
  EXPECT_EQ(rows, 5);
  EXPECT_FALSE(dlg.Visible());
  EXPECT_EQ(dlg.RowNum(), CZ("Řádek# 5"));
  EXPECT_TRUE(failures.empty());
}

// The question pumps messages; a dialog freed meanwhile (its dataset went) must not be
// touched afterwards, nor its former dataset aborted.
TEST(IBD_CancelQuery, DialogFreedWhileTheQuestionIsOpen) {
  FakeDataset ds;
  auto dlg = std::make_unique<TdlgCancelQuery>();
  dlg->SetDataset(&ds);
  dlg->Show();
  TDialogResponder previous = SetDialogResponder([&dlg](const TDialogRequest&) {
    dlg.reset();
    return mrOk;
  });
  TdlgCancelQuery* raw = dlg.get();
  raw->CancelBtnClick();
  SetDialogResponder(std::move(previous));
  EXPECT_EQ(dlg, nullptr);
  EXPECT_EQ(ds.aborts, 0);
}

TEST(IBD_CancelQuery, ViewsOfFreedDialogsAndOfAnEndedScriptAreHarmless) {
  std::unique_ptr<TdlgCancelQuery> survivor;
  {
    TScriptedCancelQueryView view;
    { TdlgCancelQuery gone; }
    EXPECT_EQ(view.DialogCount(), 1);
    EXPECT_FALSE(view.Press());  // its dialog is gone
    view.PressWhenShown();
    survivor = std::make_unique<TdlgCancelQuery>();
    survivor->Show();  // posts the press
  }
  // The script ended before the loop ran: the posted press is dropped, and the
  // surviving dialog's view no longer reports anywhere.
  Application()->ProcessMessages();
  survivor->SetRowNumber(3);
  survivor->Hide();
  EXPECT_FALSE(survivor->Visible());
}

}  // namespace
}  // namespace pelvar
