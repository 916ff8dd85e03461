// Control items whose controls are Qt widgets, in a real viewer (offscreen): the widget lives
// in the viewer's window at its item's place, under the scroll bars, moves with scrolling,
// follows a width in percent, is hidden by the item's "visible" property, answers whether
// it takes the keyboard focus, and is freed with its item (the item owns its control).
#include <gtest/gtest.h>

#include <QPointer>
#include <QPushButton>
#include <QScrollBar>

#include "richtext/view/DocView.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

// What an application inserts: a widget that is also a control object of the family.
class TButtonControl : public QPushButton, public TObject {
 public:
  TButtonControl() : QPushButton("OK") {
    resize(50, 20);
    setFocusPolicy(Qt::StrongFocus);
  }
};

class ControlItemGuiTest : public viewtest::TQtSuite {
 protected:
  void SetUp() override {
    view.resize(300, 200);
    view.SetTextMetrics(std::make_shared<viewtest::TTestFont>());
    view.HandleNeeded();
    view.SetStyle(&style);
  }
  TRVControlItemInfo* AddControl(TObject* control) {
    auto* item = new TRVControlItemInfo(view.RVData.get());
    item->StyleNo = rvsComponent;
    item->ParaNo = 0;
    item->Control = control;
    view.AddItem("button1", item);
    return item;
  }
  // The draw item of the control's item.
  TRVDrawLineInfo* DrawItemOf(int32_t item_no) {
    for (int32_t i = 0; i < view.RVData->DrawLines.Count(); ++i)
      if (view.RVData->DrawLines[i]->ItemNo == item_no) return view.RVData->DrawLines[i];
    return nullptr;
  }
  TRVStyle style{nullptr};
  TCustomDocView view;
};

TEST_F(ControlItemGuiTest, TheWidgetLivesInTheViewersWindowAtItsItem) {
  QPointer<TButtonControl> button = new TButtonControl;
  for (int i = 0; i < 40; ++i) view.AddTextBlock("line", 0, 0, 0);
  TRVControlItemInfo* item = AddControl(button.data());
  for (int i = 0; i < 40; ++i) view.AddTextBlock("line", 0, 0, 0);
  const int32_t item_no = view.GetItemCount() - 41;
  // Inserted: in the viewer's window, hidden until the item has its place.
  EXPECT_EQ(button->parentWidget(), &view);
  EXPECT_TRUE(button->isHidden());
  view.Format();
  TRVDrawLineInfo* d = DrawItemOf(item_no);
  ASSERT_NE(d, nullptr);
  EXPECT_FALSE(button->isHidden());
  EXPECT_EQ(button->x(), d->Left - view.RVData->GetHOffs() + item->Spacing);
  EXPECT_EQ(button->y(), d->Top - view.RVData->GetVOffs() + item->Spacing);
  EXPECT_EQ(d->Width, 50 + 2 * item->Spacing);
  // The scroll bars stay above the controls.
  const QObjectList children = view.children();
  for (QScrollBar* bar : view.findChildren<QScrollBar*>(Qt::FindDirectChildrenOnly))
    EXPECT_GT(children.indexOf(bar), children.indexOf(button.data()));

  // Scrolling moves it with the document.
  const int32_t top = button->y();
  view.ScrollToY(100);
  ASSERT_GT(view.RVData->GetVOffs(), 0);
  EXPECT_EQ(button->y(), top - (view.RVData->GetVOffs()));

  // The item's "visible" property hides it at once and keeps it hidden through formatting.
  item->SetExtraIntProperty(14, 0);
  EXPECT_TRUE(button->isHidden());
  view.Format();
  EXPECT_TRUE(button->isHidden());
  item->SetExtraIntProperty(14, 1);
  EXPECT_FALSE(button->isHidden());

  // A width in percent of the document sets the widget's width.
  item->PercentWidth = 50;
  view.Format();
  EXPECT_EQ(button->width(), DrawItemOf(item_no)->Width - 2 * item->Spacing);
  EXPECT_GT(button->width(), 50);

  // Whether the keyboard can give it the focus.
  EXPECT_TRUE(item->GetBoolValueEx(2, &style));
  button->setEnabled(false);
  EXPECT_FALSE(item->GetBoolValueEx(2, &style));

  // When its item goes, the widget goes with it.
  view.Clear();
  EXPECT_TRUE(button.isNull());
}

// A control that the document asks the application for while reading the native format
// is put into the viewer's window hidden, shown when the document is formatted, and
// belongs to its item from then on.
TEST_F(ControlItemGuiTest, AControlSuppliedWhileReadingJoinsTheWindow) {
  QPointer<TButtonControl> button;
  view.OnRVFControlNeeded = [&](TCustomDocView*, const AnsiString&, const TRVTag&, TObject*& c) {
    button = new TButtonControl;
    c = button.data();
  };
  const std::string stream = "-8 1 3\r\n-5 1 0 0 1 0 0\r\nbutton1\r\n";
  TMemoryStream m;
  m.WriteBuffer(stream.data(), static_cast<int64_t>(stream.size()));
  m.SetPosition(0);
  TColor color = clNone;
  ASSERT_TRUE(view.RVData->LoadRVFFromStream(m, color, nullptr, nullptr));
  ASSERT_EQ(view.GetItemCount(), 1);
  ASSERT_FALSE(button.isNull());
  ASSERT_EQ(dynamic_cast<TRVControlItemInfo*>(view.RVData->GetItem(0))->Control, static_cast<TObject*>(button.data()));
  EXPECT_EQ(button->parentWidget(), &view);
  EXPECT_TRUE(button->isHidden());
  view.Format();
  EXPECT_FALSE(button->isHidden());
  view.Clear();
  EXPECT_TRUE(button.isNull());
}

// A viewer that goes takes the controls of its items with it (the widgets are its window's
// children, freed by their items before the window goes).
TEST_F(ControlItemGuiTest, AViewerFreesTheControlsOfItsItems) {
  QPointer<TButtonControl> shown, hidden;
  {
    TCustomDocView v;
    v.resize(300, 200);
    v.SetTextMetrics(std::make_shared<viewtest::TTestFont>());
    v.HandleNeeded();
    v.SetStyle(&style);
    for (QPointer<TButtonControl>* p : {&shown, &hidden}) {
      *p = new TButtonControl;
      auto* item = new TRVControlItemInfo(v.RVData.get());
      item->StyleNo = rvsComponent;
      item->ParaNo = 0;
      item->Control = p->data();
      item->Visible = p == &shown;
      v.AddItem("button", item);
    }
    v.Format();
    ASSERT_FALSE(shown.isNull());
    EXPECT_FALSE(shown->isHidden());
    EXPECT_TRUE(hidden->isHidden());
  }
  EXPECT_TRUE(shown.isNull());
  EXPECT_TRUE(hidden.isNull());
}

}  // namespace
}  // namespace pelvar
