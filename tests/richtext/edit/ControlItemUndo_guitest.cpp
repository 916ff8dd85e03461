// A control item inserted in the editor (offscreen): its widget joins the editor's window;
// undoing the insertion takes the widget out of the window, redoing brings it back, and the
// widget is never freed by the editor.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>

#include "richtext/edit/RVEdit.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

class TButtonControl : public QPushButton, public TObject {
 public:
  TButtonControl() : QPushButton("OK") { resize(40, 16); }
};

class ControlItemUndoTest : public viewtest::TQtSuite {};

TEST_F(ControlItemUndoTest, UndoTakesTheWidgetOutOfTheWindowAndRedoBringsItBack) {
  TRVStyle style(nullptr);
  TButtonControl button;
  {
    TDocViewEdit e;
    e.SetTextMetrics(std::make_shared<viewtest::TTestFont>());
    e.SetStyle(&style);
    e.resize(300, 200);
    e.HandleNeeded();
    e.RVData->AddTextItem("text", 0, 0);
    e.Format();
    auto* item = new TRVControlItemInfo(e.RVData.get());
    item->StyleNo = rvsComponent;
    item->Control = &button;
    ASSERT_TRUE(e.InsertItem("button1", item));
    EXPECT_EQ(button.parentWidget(), &e);
    EXPECT_FALSE(button.isHidden());

    e.Undo();
    EXPECT_EQ(e.GetItemCount(), 1);
    EXPECT_EQ(button.parentWidget(), nullptr);
    EXPECT_TRUE(button.isHidden());

    e.Redo();
    EXPECT_EQ(e.GetItemCount(), 2);
    EXPECT_EQ(button.parentWidget(), &e);
    EXPECT_FALSE(button.isHidden());
  }
  // The editor is gone; the widget is still the application's.
  EXPECT_EQ(button.parentWidget(), nullptr);
  EXPECT_EQ(button.text(), QString("OK"));
}

}  // namespace
}  // namespace pelvar
