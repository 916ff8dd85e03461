// A control item inserted in the editor (offscreen): its widget joins the editor's window;
// undoing the insertion takes the widget out of the window (kept alive with the item in the
// undo record), redoing brings it back working, and the widget is freed with its item: when
// the undo record that holds it is freed, or with the editor's document.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QPushButton>

#include "richtext/edit/RVEdit.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

class TButtonControl : public QPushButton, public TObject {
 public:
  TButtonControl() : QPushButton("OK") { resize(40, 16); }
};

class ControlItemUndoTest : public viewtest::TQtSuite {
 protected:
  void SetUp() override {
    e = std::make_unique<TDocViewEdit>();
    e->SetTextMetrics(std::make_shared<viewtest::TTestFont>());
    e->SetStyle(&style);
    e->resize(300, 200);
    e->HandleNeeded();
    e->RVData->AddTextItem("text", 0, 0);
    e->Format();
  }
  // Inserts a new button at the caret; the item owns it from then on.
  TButtonControl* InsertButton() {
    auto* button = new TButtonControl;
    auto* item = new TRVControlItemInfo(e->RVData.get());
    item->StyleNo = rvsComponent;
    item->Control = button;
    EXPECT_TRUE(e->InsertItem("button1", item));
    return button;
  }
  // Deletes the item of the control (into the undo list).
  void DeleteItemOf(TObject* control) {
    for (int32_t i = 0; i < e->GetItemCount(); ++i) {
      auto* item = dynamic_cast<TRVControlItemInfo*>(e->RVData->GetItem(i));
      if (!item || item->Control != control) continue;
      e->RVData->SetSelectionBounds(i, 0, i, 1);
      e->DeleteSelection();
      return;
    }
    ADD_FAILURE() << "no item holds the control";
  }
  TRVStyle style{nullptr};
  std::unique_ptr<TDocViewEdit> e;
};

TEST_F(ControlItemUndoTest, UndoTakesTheWidgetOutOfTheWindowAndRedoBringsItBackWorking) {
  QPointer<TButtonControl> button = InsertButton();
  ASSERT_FALSE(button.isNull());
  EXPECT_EQ(button->parentWidget(), e.get());
  EXPECT_FALSE(button->isHidden());

  e->Undo();
  EXPECT_EQ(e->GetItemCount(), 1);
  ASSERT_FALSE(button.isNull());
  EXPECT_EQ(button->parentWidget(), nullptr);
  EXPECT_TRUE(button->isHidden());

  e->Redo();
  EXPECT_EQ(e->GetItemCount(), 2);
  ASSERT_FALSE(button.isNull());
  EXPECT_EQ(button->parentWidget(), e.get());
  EXPECT_FALSE(button->isHidden());
  int clicks = 0;
  QObject::connect(button.data(), &QPushButton::clicked, [&clicks] { ++clicks; });
  button->click();
  EXPECT_EQ(clicks, 1);
}

// Undoing the insertion moves its record to the redo list, which the next edit frees, and
// the item and its widget with it; a deleted item waits in the undo list until the list
// lets its record go.
TEST_F(ControlItemUndoTest, AWidgetInAFreedUndoRecordIsFreed) {
  QPointer<TButtonControl> button = InsertButton();
  e->Undo();
  ASSERT_FALSE(button.isNull());
  e->InsertText("x");
  EXPECT_TRUE(button.isNull());

  button = InsertButton();
  DeleteItemOf(button);
  ASSERT_FALSE(button.isNull());
  EXPECT_EQ(button->parentWidget(), nullptr);
  e->SetUndoLimit(0);
  EXPECT_TRUE(button.isNull());
}

// A widget in the document and one in the undo list both go with the editor.
TEST_F(ControlItemUndoTest, TheEditorFreesTheWidgetsOfItsDocumentAndItsUndoList) {
  QPointer<TButtonControl> deleted = InsertButton();
  QPointer<TButtonControl> shown = InsertButton();
  DeleteItemOf(deleted);
  EXPECT_EQ(e->GetItemCount(), 2);
  ASSERT_FALSE(deleted.isNull());
  ASSERT_FALSE(shown.isNull());
  EXPECT_EQ(deleted->parentWidget(), nullptr);
  EXPECT_EQ(shown->parentWidget(), e.get());
  e.reset();
  EXPECT_TRUE(shown.isNull());
  EXPECT_TRUE(deleted.isNull());
}

}  // namespace
}  // namespace pelvar
