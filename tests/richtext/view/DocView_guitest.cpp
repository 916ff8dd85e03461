// The scroller and the viewer control as Qt widgets (offscreen): positions in steps and
// pixels, inserted controls far outside the window, the wheel, the step kept within 32000
// scroll units, vertical alignment, the placeholder caption, painting failures, events
// forwarded through posted messages, and the backgrounds on a real image.
#include "richtext/view/DocView.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>

#include "platform/qt/qt_canvas.h"
#include "richtext/model/RVImageList.h"
#include "richtext/view/RVAnimate.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

class ViewerGuiTest : public viewtest::TQtSuite {
 protected:
  void TearDown() override { QApplication::setWheelScrollLines(3); }
};

TEST_F(ViewerGuiTest, ChildControlsKeepTheirTruePositionInTheTag) {
  TRVScroller scroller;
  scroller.resize(200, 100);
  scroller.HandleNeeded();
  scroller.UpdateScrollBars(200, 10000, true, true);
  auto* child = new QWidget(&scroller);
  child->setGeometry(0, 0, 10, 10);
  SetControlTag(child, 25000);
  ApplyControlTopFromTag(child);
  EXPECT_EQ(child->y(), 10000);
  int32_t events = 0;
  scroller.OnVScrolled = [&](TRVScroller*) { ++events; };
  scroller.SetVPos(2000, true);  // 20000 pixels
  EXPECT_EQ(ControlTag(child), 5000);
  EXPECT_EQ(child->y(), 5000);
  EXPECT_EQ(events, 1);
  // The current position again: no event.
  scroller.SetVPos(2000, false);
  EXPECT_EQ(events, 1);
  // Past the end: clamped to the last page.
  scroller.SetVPos(20000, false);
  EXPECT_EQ(scroller.VPos, 10000 - scroller.VScrollPage);
}

TEST_F(ViewerGuiTest, ScrollMessagesWheelAndBars) {
  TRVScroller scroller;
  scroller.resize(200, 100);
  scroller.HandleNeeded();
  scroller.UpdateScrollBars(200, 1000, true, true);
  struct Case {
    int lines;
    int32_t wheel_step;
    int32_t moved;
  };
  for (const Case& c : {Case{3, 2, 2}, Case{1, 2, 1}, Case{6, 2, 4}}) {
    QApplication::setWheelScrollLines(c.lines);
    scroller.SetWheelStep(c.wheel_step);
    scroller.SetVPos(100, false);
    EXPECT_TRUE(scroller.DoMouseWheelDown());
    EXPECT_EQ(scroller.VPos, 100 + c.moved);
    EXPECT_TRUE(scroller.DoMouseWheelUp());
    EXPECT_EQ(scroller.VPos, 100);
  }
  scroller.SetWheelStep(0);
  EXPECT_FALSE(scroller.DoMouseWheelDown());
  // The thumb moves the view only while tracking is on; its final position always.
  scroller.SetTracking(false);
  scroller.WMVScroll(SB_THUMBTRACK, 50);
  EXPECT_EQ(scroller.VPos, 100);
  scroller.WMVScroll(SB_THUMBPOSITION, 50);
  EXPECT_EQ(scroller.VPos, 50);
  scroller.WMVScroll(SB_PAGEDOWN, 0);
  EXPECT_EQ(scroller.VPos, 50 + scroller.ClientHeight() / 10);
  // A shorter document clamps the position on the next update.
  scroller.UpdateScrollBars(200, 20, true, true);
  EXPECT_EQ(scroller.VPos, 20 - scroller.VScrollPage);
  scroller.UpdateScrollBars(200, 2, true, true);
  EXPECT_EQ(scroller.VPos, 0);
  // A hidden horizontal bar keeps the position and shows a page larger than the range.
  scroller.UpdateScrollBars(1000, 20, true, true);
  scroller.SetHPos(30);
  scroller.SetHScrollVisible(false);
  EXPECT_EQ(scroller.HPos, 30);
  EXPECT_EQ(scroller.HBarInfo().Max, 1);
  EXPECT_EQ(scroller.HBarInfo().Page, 2);
  // The same border again does not make the window anew.
  const int32_t gen = scroller.WindowGeneration();
  scroller.SetBorderStyle(scroller.BorderStyle());
  EXPECT_EQ(scroller.WindowGeneration(), gen);
  scroller.SetBorderStyle(bsSingle);
  EXPECT_EQ(scroller.WindowGeneration(), gen + 1);
}

// A full-line item of a given height.
class TTallItem : public TRVFullLineItemInfo {
 public:
  explicit TTallItem(TCustomRVData* d) : TRVFullLineItemInfo(d) { StyleNo = -201; }
  int32_t Height = 100;
  int32_t GetHeight() const override { return Height; }
  int32_t GetWidth() const override { return 10; }
};

// An inline item whose painter raises.
class TFailingItem : public TRVRectItemInfo {
 public:
  explicit TFailingItem(TCustomRVData* d) : TRVRectItemInfo(d) { StyleNo = -202; }
  int32_t GetWidth() const override { return 10; }
  int32_t GetHeight() const override { return 10; }
  void Paint(int32_t, int32_t, TCanvas&, uint32_t, TRVStyle*, TRVDrawLineInfo*) override {
    throw EDocViewError("cannot draw");
  }
};

struct Viewer {
  Viewer(TRVStyle* style) {
    view.setObjectName("Viewer1");
    view.resize(300, 200);
    view.SetTextMetrics(std::make_shared<viewtest::TTestFont>());
    view.HandleNeeded();
    view.SetStyle(style);
  }
  TCustomDocView view;
};

TEST_F(ViewerGuiTest, WithoutStyleSheetThePlaceholderCaptionIsPainted) {
  TCustomDocView view;
  view.setObjectName("Viewer1");
  view.resize(600, 100);
  view.HandleNeeded();
  view.AddTextBlock("text", 0, 0, 0);
  view.Format();
  EXPECT_EQ(view.RVData->DrawLines.Count(), 0);
  TRecordingCanvas canvas(600, 100);
  view.PaintOn(canvas, TRect{0, 0, 600, 100});
  std::u16string all;
  for (const auto& c : canvas.Calls("TextOut")) all += c.Text + u"|";
  EXPECT_EQ(all, u"Style is not defined|Create a TRVStyle object and assign it to Viewer1.Style|");
}

TEST_F(ViewerGuiTest, VerticalStepStaysWithin32000Units) {
  TRVStyle style(nullptr);
  Viewer v(&style);
  auto* tall = new TTallItem(v.view.RVData.get());
  tall->Height = 400000;
  v.view.AddItem("", tall);
  v.view.Format();
  EXPECT_EQ(v.view.VSmallStep, 13);
  EXPECT_LE(v.view.YSize, 32000);
  tall->Height = 300000;
  v.view.Format();
  EXPECT_EQ(v.view.VSmallStep, 10);
  // A step that would need more than 32000 units is refused.
  tall->Height = 200000;
  v.view.Format();
  v.view.SetVSmallStep(3);
  EXPECT_EQ(v.view.VSmallStep, 10);
}

TEST_F(ViewerGuiTest, BottomAlignedShortDocumentHasNegativeOffset) {
  TRVStyle style(nullptr);
  Viewer v(&style);
  v.view.VAlign = tlBottom;
  v.view.AddTextBlock("one line", 0, 0, 0);
  v.view.Format();
  const int32_t free_space = v.view.ClientHeight() - v.view.RVData->DocumentHeight;
  ASSERT_GT(free_space, 0);
  EXPECT_EQ(v.view.RVData->GetVOffs(), -free_space);
}

TEST_F(ViewerGuiTest, PaintingFailureShowsTheErrorInRed) {
  TRVStyle style(nullptr);
  Viewer v(&style);
  v.view.AddTextBlock("ab", 0, 0, 0);
  auto* bad = new TFailingItem(v.view.RVData.get());
  bad->ParaNo = -1;
  v.view.AddItem("", bad);
  v.view.Format();
  TRecordingCanvas canvas(300, 200);
  v.view.PaintOn(canvas, TRect{0, 0, 300, 200});
  // The picture painted before the failure is copied, then the message written over it.
  EXPECT_EQ(canvas.Calls("StretchPixels").size(), 1u);
  const auto texts = canvas.Calls("TextOut");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].Text, u"Error:cannot draw");
  EXPECT_EQ(texts[0].Args, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(texts[0].Font.Color(), 255);
  EXPECT_EQ(texts[0].Font.Name(), "Arial");
  EXPECT_EQ(texts[0].Brush.Color(), 0xFFFFFF);
}

TEST_F(ViewerGuiTest, ForwardedEventsArriveWhenTheLoopRuns) {
  TRVStyle style(nullptr);
  Viewer v(&style);
  std::vector<std::string> fired;
  auto& w = v.view;
  w.OnRVDblClick = [&](TCustomDocView*, const AnsiString& word, int32_t s) { fired.push_back("dbl:" + word + ":" + std::to_string(s)); };
  w.OnJump = [&](TCustomDocView*, int32_t id) { fired.push_back("jump:" + std::to_string(id)); };
  w.OnRVMouseUp = [&](TCustomDocView*, TMouseButton, TShiftState, int32_t item, int32_t x, int32_t y) {
    fired.push_back("up:" + std::to_string(item) + "," + std::to_string(x) + "," + std::to_string(y));
  };
  w.OnRVMouseDown = [&](TCustomDocView*, TMouseButton b, TShiftState, int32_t, int32_t, int32_t) {
    fired.push_back("down:" + std::to_string(b));
  };
  w.OnClick = [&](TCustomDocView*) { fired.push_back("click"); };
  w.OnDblClick = [&](TCustomDocView*) { fired.push_back("dblclick"); };
  w.OnMouseMove = [&](TCustomDocView*, TShiftState, int32_t x, int32_t) { fired.push_back("move:" + std::to_string(x)); };
  w.OnDragDrop = [&](TCustomDocView*, TObject*, int32_t x, int32_t) { fired.push_back("drop:" + std::to_string(x)); };
  w.OnEndDrag = [&](TCustomDocView*, TObject*, int32_t x, int32_t) { fired.push_back("enddrag:" + std::to_string(x)); };
  auto post = [&](TRVMessageData* d) {
    ASSERT_TRUE(PostMessage(w.MessageHandle(), WM_RVEVENT, reinterpret_cast<WPARAM>(d), 0));
  };
  auto* dbl = new TRVDblClickMessageData;
  dbl->ClickedWord = "slovo";
  dbl->StyleNo = 3;
  post(dbl);
  auto* jump = new TRVJumpMessageData;
  jump->id = 7;
  post(jump);
  auto* up = new TRVMouseUpDownMessageData(2);
  up->ItemNo = 1, up->X = 2, up->Y = 3;
  post(up);
  auto* down = new TRVMouseUpDownMessageData(3);
  down->Button = mbRight;
  post(down);
  post(new TRVClickMessageData(4));
  post(new TRVClickMessageData(5));
  auto* move = new TRVMouseMoveMessageData(6);
  move->X = 11;
  post(move);
  auto* drop = new TRVDNDMessageData(7);
  drop->X = 12;
  post(drop);
  auto* end = new TRVDNDMessageData(8);
  end->X = 13;
  post(end);
  post(new TRVMessageData(9));  // unknown: freed, no effect
  EXPECT_TRUE(fired.empty());
  Application()->ProcessMessages();
  const std::vector<std::string> expected = {"dbl:slovo:3", "jump:7",   "up:1,2,3",  "down:1",     "click",
                                             "dblclick",    "move:11",  "drop:12",   "enddrag:13"};
  EXPECT_EQ(fired, expected);
}

TEST_F(ViewerGuiTest, ThePostedDragStartIsAnsweredByTheControl) {
  TRVStyle style(nullptr);
  Viewer v(&style);
  v.view.RVData->State |= rvstDragPending;
  v.view.RVData->PostDragStart();
  EXPECT_TRUE(v.view.RVData->State & rvstDragPending) << "answered only when the loop runs";
  Application()->ProcessMessages();
  EXPECT_FALSE(v.view.RVData->State & rvstDragPending);
}

TEST_F(ViewerGuiTest, TheControlSuppliesImageListsControlsAndControlTexts) {
  TRVStyle style(nullptr);
  Viewer v(&style);
  TCustomImageList list(nullptr, 4, 4);
  list.AddPixels(TPixelImage(4, 4));
  TComponent* button = nullptr;  // the control the document asked for (its item's)
  std::vector<std::string> asked;
  v.view.OnRVFImageListNeeded = [&](TCustomDocView*, int32_t tag, TCustomImageList*& il) {
    asked.push_back("list " + std::to_string(tag));
    il = &list;
  };
  v.view.OnRVFControlNeeded = [&](TCustomDocView*, const AnsiString& name, const TRVTag&, TObject*& c) {
    asked.push_back("control " + name);
    c = button = new TComponent(nullptr);
  };
  v.view.OnSaveComponentToFile = [&](TCustomDocView*, const AnsiString&, TObject* c, TRVSaveFormat, AnsiString& out) {
    if (c && c == button) out = "[OK]";
  };
  const std::string stream = "-8 1 3\r\n-6 1 0 0 0 0 3 0\r\nb\r\n-5 1 0 0 1 0 0\r\nbutton1\r\n";
  TMemoryStream m;
  m.WriteBuffer(stream.data(), static_cast<int64_t>(stream.size()));
  m.SetPosition(0);
  TColor color = clNone;
  ASSERT_TRUE(v.view.RVData->LoadRVFFromStream(m, color, nullptr, nullptr));
  EXPECT_EQ(asked, (std::vector<std::string>{"list 3", "control button1"}));
  ASSERT_EQ(v.view.GetItemCount(), 2);
  EXPECT_EQ(dynamic_cast<TRVBulletItemInfo*>(v.view.RVData->GetItem(0))->ImageList, &list);
  auto* item = dynamic_cast<TRVControlItemInfo*>(v.view.RVData->GetItem(1));
  ASSERT_NE(item, nullptr);
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(item->Control, button);
  EXPECT_EQ(item->AsText(80, v.view.RVData.get(), "", "", false, false), "[OK]");
  v.view.Clear();
}

TEST_F(ViewerGuiTest, AutoScrollDirectionOutsideTheClientArea) {
  TRVStyle style(nullptr);
  Viewer v(&style);
  struct Case {
    int32_t y, dy;
  };
  for (const Case& c : {Case{-5, -1}, Case{-25, -10}, Case{50, 0}, Case{v.view.ClientHeight() + 5, 1},
                        Case{v.view.ClientHeight() + 25, 10}}) {
    v.view.MouseMove(0, 10, c.y);
    EXPECT_EQ(v.view.ScrollDY, c.dy) << c.y;
  }
}

TEST_F(ViewerGuiTest, TiledBackgroundOnAnImage) {
  // A 16 x 16 tile, white with one black pixel at its top left corner.
  auto make = [] {
    auto b = std::make_unique<TRVBitmap>(16, 16, 0xFFFFFFFFu);
    b->Image.Set(0, 0, 0xFF000000u);
    return b;
  };
  struct Case {
    TBackgroundStyle style;
    int32_t first_dark_row;
  };
  for (const Case& c : {Case{bsTiled, 0}, Case{bsTiledAndScrolled, 9}}) {
    TRVBackground back(false);
    back.SetImage(make());
    back.Style = c.style;
    TQtImageCanvas canvas(32, 32);
    back.Draw(canvas, TRect{0, 0, 32, 32}, false, clNone, 32, 32, 0, 0, 7, 0);
    int32_t row = -1;
    for (int32_t y = 0; y < 32 && row < 0; ++y)
      if (canvas.PixelAt(0, y) == 0) row = y;
    EXPECT_EQ(row, c.first_dark_row) << c.style;
  }
}

TEST_F(ViewerGuiTest, DejaVuFormattingAndPaintingOfAParagraph) {
  TRVStyle style(nullptr);
  TCustomDocView view;
  view.resize(200, 200);
  view.HandleNeeded();
  view.SetStyle(&style);
  view.AddTextBlock("The horse drinks water and eats hay.", 0, 0, 0);
  view.Format();
  ASSERT_GT(view.RVData->DrawLines.Count(), 1);
  for (int32_t i = 0; i < view.RVData->DrawLines.Count(); ++i)
    EXPECT_LE(view.RVData->DrawLines[i]->Left + view.RVData->DrawLines[i]->Width, view.ClientWidth() - 5);
  TQtImageCanvas canvas(200, 200);
  view.PaintOn(canvas, TRect{0, 0, 200, 200});
  int32_t dark = 0;
  for (int32_t y = 0; y < 40; ++y)
    for (int32_t x = 0; x < 150; ++x)
      if (qGray(canvas.Image().pixel(x, y)) < 100) ++dark;
  EXPECT_GT(dark, 20);
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

TEST_F(ViewerGuiTest, TabMovesBetweenHyperlinksThenLeavesTheDocument) {
  TRVStyle style(nullptr);  // text styles 4 and 5 are hyperlinks
  QWidget form;
  auto* view = new TCustomDocView(&form);
  view->SetTextMetrics(std::make_shared<viewtest::TTestFont>());
  view->HandleNeeded();
  view->SetStyle(&style);
  view->AddTextBlock("a", 0, 0, 0);
  view->RVData->AddTextItem("link", 4, -1);
  view->RVData->AddTextItem("b", 0, -1);
  view->RVData->AddTextItem("link2", 5, -1);
  view->Format();
  TDocViewRVData& d = *view->RVData;
  EXPECT_TRUE(d.DoTabNavigation(false));
  EXPECT_EQ(d.FocusedItem, 1);
  EXPECT_TRUE(d.DoTabNavigation(false));
  EXPECT_EQ(d.FocusedItem, 3);
  EXPECT_FALSE(d.DoTabNavigation(false));
  EXPECT_EQ(d.FocusedItem, -1);
  // Backwards from nothing starts at the last one.
  EXPECT_TRUE(d.DoTabNavigation(true));
  EXPECT_EQ(d.FocusedItem, 3);
  // A click brought the focus: the navigation only forgets that once.
  d.State |= rvstFocusByMouse;
  EXPECT_TRUE(d.DoTabNavigation(false));
  EXPECT_EQ(d.FocusedItem, 3);
  // Leaving the document: the next control of the form, if any.
  EXPECT_EQ(FindNextTabControl(&form, view, true), nullptr);
  auto* edit = new QWidget(&form);
  edit->setFocusPolicy(Qt::StrongFocus);
  EXPECT_EQ(FindNextTabControl(&form, view, true), edit);
  EXPECT_EQ(FindNextTabControl(&form, view, false), edit);
  edit->setEnabled(false);
  EXPECT_EQ(FindNextTabControl(&form, view, true), nullptr);
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

// An inserted control that is a widget is placed at its item after formatting, as a child
// of the viewer (within the item's spacing), and follows the document when it scrolls.
TEST_F(ViewerGuiTest, InsertedControlsArePlacedAtTheirItems) {
  class TBox : public QWidget, public TObject {};
  // The application's control, without a parent: the viewer takes it into its window while
  // the item shows it; the item owns it.
  auto box = std::make_unique<TBox>();
  TBox* tbox = box.get();
  TRVStyle style(nullptr);
  TCustomDocView view;
  view.resize(200, 100);
  view.SetTextMetrics(std::make_shared<viewtest::TTestFont>());
  view.SetStyle(&style);
  view.HandleNeeded();
  for (int i = 0; i < 20; ++i) view.AddTextBlock("line", 0, 0, 0);
  tbox->resize(30, 12);
  auto* item = new TRVControlItemInfo(view.RVData.get());
  item->StyleNo = rvsComponent;
  item->ParaNo = 0;
  item->Spacing = 2;
  item->SetSameAsPrev(true);
  item->Control = box.release();
  view.RVData->AddItem("box", item);
  view.Format();
  int32_t d = -1;
  view.RVData->GetFirstDrawItemOfItem(view.GetItemCount() - 1, d);
  ASSERT_GE(d, 0);
  const TRVDrawLineInfo* l = view.RVData->DrawLines[d];
  EXPECT_EQ(tbox->parentWidget(), &view);
  EXPECT_TRUE(tbox->isVisibleTo(&view));
  EXPECT_EQ(tbox->x(), l->Left + 2 - view.HPos);
  EXPECT_EQ(tbox->y(), l->Top + 2 - view.VPos * view.VSmallStep);
  view.ScrollTo(view.VPos + 3);
  EXPECT_EQ(tbox->y(), l->Top + 2 - view.VPos * view.VSmallStep);
}

// A control that takes the focus, inserted into a viewer.
class TFocusBox : public QWidget, public TObject {
 public:
  explicit TFocusBox(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    resize(20, 10);
  }
};

// Tab through real key events in an active window: the viewer takes Tab itself and moves
// between its hyperlinks and inserted controls; Tab in an inserted control comes back to the
// document, which goes on after that control; the focus arriving by Tab from the control
// before the viewer starts at the first focusable item; past the last one the focus leaves
// for the next control of the form. The tab order list puts the viewer before and after
// its inserted control.
TEST_F(ViewerGuiTest, TabThroughHyperlinksAndInsertedControlsWithRealKeys) {
  TRVStyle style(nullptr);  // text style 4 is a hyperlink
  QWidget form;
  form.resize(400, 300);
  auto* first = new QWidget(&form);
  first->setFocusPolicy(Qt::StrongFocus);
  first->setGeometry(0, 0, 20, 10);
  auto* view = new TCustomDocView(&form);
  view->setGeometry(0, 20, 300, 200);
  view->SetTextMetrics(std::make_shared<viewtest::TTestFont>());
  view->SetStyle(&style);
  auto* last = new QWidget(&form);
  last->setFocusPolicy(Qt::StrongFocus);
  last->setGeometry(0, 250, 20, 10);
  auto* box = new TFocusBox(view);
  view->AddTextBlock("a", 0, 0, 0);
  view->RVData->AddTextItem("link", 4, -1);
  auto* item = new TRVControlItemInfo(view->RVData.get());
  item->StyleNo = rvsComponent;
  item->ParaNo = 0;
  item->SetSameAsPrev(true);
  item->Control = box;
  view->RVData->AddItem("box", item);
  view->RVData->AddTextItem("link2", 4, -1);
  form.show();
  form.activateWindow();
  QApplication::processEvents();
  view->Format();
  if (!form.isActiveWindow()) GTEST_SKIP() << "the platform activates no window";

  std::vector<QWidget*> order;
  GetTabOrderList(&form, order);
  EXPECT_EQ(order, (std::vector<QWidget*>{first, view, view, box, view, last}));

  auto tab = [](bool back) {
    QWidget* w = QApplication::focusWidget();
    ASSERT_NE(w, nullptr);
    QKeyEvent k(QEvent::KeyPress, back ? Qt::Key_Backtab : Qt::Key_Tab, back ? Qt::ShiftModifier : Qt::NoModifier);
    QCoreApplication::sendEvent(w, &k);
    QApplication::processEvents();
  };
  TDocViewRVData& d = *view->RVData;
  first->setFocus(Qt::OtherFocusReason);
  tab(false);  // into the viewer: its first hyperlink
  EXPECT_EQ(QApplication::focusWidget(), view);
  EXPECT_EQ(d.FocusedItem, 1);
  tab(false);  // the inserted control takes the focus
  EXPECT_EQ(QApplication::focusWidget(), box);
  EXPECT_EQ(d.FocusedItem, 2);
  tab(false);  // back to the document, after the control
  EXPECT_EQ(QApplication::focusWidget(), view);
  EXPECT_EQ(d.FocusedItem, 3);
  tab(true);  // Shift+Tab: the control again
  EXPECT_EQ(QApplication::focusWidget(), box);
  EXPECT_EQ(d.FocusedItem, 2);
  tab(true);  // from the control back: the first hyperlink
  EXPECT_EQ(QApplication::focusWidget(), view);
  EXPECT_EQ(d.FocusedItem, 1);
  tab(false);
  tab(false);
  tab(false);  // past the last hyperlink: the next control of the form
  EXPECT_EQ(QApplication::focusWidget(), last);
  EXPECT_EQ(d.FocusedItem, -1);
  // A hidden inserted control cannot take the focus: the document keeps it.
  box->hide();
  first->setFocus(Qt::OtherFocusReason);
  tab(false);
  tab(false);
  EXPECT_EQ(d.FocusedItem, 2);
  EXPECT_EQ(QApplication::focusWidget(), view);
  EXPECT_NE(form.focusWidget(), box);
  // Nor does it take the focus later, when it is shown.
  box->show();
  QApplication::processEvents();
  EXPECT_EQ(QApplication::focusWidget(), view);
  // Without Tab navigation the control keeps no place between its inserted controls.
  view->SetTabNavigation(rvtnNone);
  order.clear();
  GetTabOrderList(&form, order);
  EXPECT_EQ(order, (std::vector<QWidget*>{first, view, box, last}));
}

TEST_F(ViewerGuiTest, StyleSheetGoingAwayIsForgotten) {
  TCustomDocView view;
  view.resize(300, 100);
  view.HandleNeeded();
  {
    TRVStyle style(nullptr);
    view.SetStyle(&style);
    view.AddTextBlock("ab", 0, 0, 0);
    view.Format();
    EXPECT_EQ(view.Style(), &style);
  }
  EXPECT_EQ(view.Style(), nullptr);
  TRecordingCanvas canvas(300, 100);
  view.PaintOn(canvas, TRect{0, 0, 300, 100});
  ASSERT_FALSE(canvas.Calls("TextOut").empty());
  EXPECT_EQ(canvas.Calls("TextOut")[0].Text, u"Style is not defined");
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

TEST_F(ViewerGuiTest, SelectingAboveTheWindowScrollsOneStepPerTick) {
  TRVStyle style(nullptr);
  TTestClock clock;
  Viewer v(&style);
  auto* tall = new TTallItem(v.view.RVData.get());
  tall->Height = 5000;
  v.view.AddItem("", tall);
  v.view.Format();
  v.view.SetVPos(50, false);
  v.view.MouseDown(mbLeft, ssLeft, 10, 10);
  EXPECT_TRUE(v.view.ScrollTimerActive);
  v.view.MouseMove(ssLeft, 10, -5);
  Application()->ProcessMessages();
  EXPECT_EQ(v.view.VPos, 50);  // not yet due
  clock.Advance(100);
  Application()->ProcessMessages();
  EXPECT_EQ(v.view.VPos, 49);
  v.view.MouseUp(mbLeft, 0, 10, -5);
  EXPECT_FALSE(v.view.ScrollTimerActive);
  clock.Advance(1000);
  Application()->ProcessMessages();
  EXPECT_EQ(v.view.VPos, 49);
}

TEST_F(ViewerGuiTest, NavigationKeysScrollTheView) {
  TRVStyle style(nullptr);
  Viewer v(&style);
  auto* tall = new TTallItem(v.view.RVData.get());
  tall->Height = 5000;
  v.view.AddItem("", tall);
  v.view.Format();
  const int32_t page = v.view.ClientHeight() / v.view.VSmallStep;
  struct Case {
    int key;
    int32_t expected;
  };
  for (const Case& c : {Case{Qt::Key_PageDown, page}, Case{Qt::Key_Down, page + 1}, Case{Qt::Key_Up, page},
                        Case{Qt::Key_End, v.view.YSize - v.view.VScrollPage}, Case{Qt::Key_Home, 0}}) {
    v.view.KeyDown(c.key, 0);
    EXPECT_EQ(v.view.VPos, c.expected) << c.key;
  }
  v.view.KeyboardScroll = false;
  v.view.KeyDown(Qt::Key_PageDown, 0);
  EXPECT_EQ(v.view.VPos, 0);
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

TEST_F(ViewerGuiTest, DefaultPaletteAndTrueColourScreen) {
  const auto p = CreateDefaultPalette();
  ASSERT_EQ(p->Entries.size(), 216u);
  EXPECT_EQ(p->Version, 0x300);
  const TRVPaletteEntry& e = p->Entries[1 + 6 * 2 + 36 * 5];
  EXPECT_EQ(e.Red, 51);
  EXPECT_EQ(e.Green, 102);
  EXPECT_EQ(e.Blue, 255);
  TRVScroller scroller;
  scroller.SetDoInPaletteMode(rvpaCreateCopiesEx);
  EXPECT_FALSE(scroller.HasPalette());
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

TEST_F(ViewerGuiTest, EditControlTextMessages) {
  TRVStyle style(nullptr);
  Viewer v(&style);
  v.view.AddTextBlock("abcdefgh\nijklmnop", 0, 0, 0);
  v.view.Format();
  EXPECT_EQ(v.view.WMGetTextLength(), 17);
  char16_t buf[5] = {1, 1, 1, 1, 1};
  EXPECT_EQ(v.view.WMGetText(5, buf), 4);
  EXPECT_EQ(std::u16string(buf), u"abcd");
  v.view.EMSetSel(10, 4);
  int32_t s = -1, e = -1;
  const uint32_t packed = v.view.EMGetSel(&s, &e);
  EXPECT_EQ(s, 4);
  EXPECT_EQ(e, 10);
  EXPECT_EQ(packed, 4u | (10u << 16));
  char16_t range[8];
  EXPECT_EQ(v.view.EMGetTextRange(7, 10, range, 8), 3);
  EXPECT_EQ(std::u16string(range), u"h\ri");
  // A range to the end stops at the buffer's capacity.
  EXPECT_EQ(v.view.EMGetTextRange(2, -1, range, 8), 7);
  EXPECT_EQ(std::u16string(range), u"cdefgh\r");
  EXPECT_EQ(v.view.EMGetTextRange(2, -1, range, 0), 0);
  // Setting the text answers success and replaces the document.
  EXPECT_EQ(v.view.WMSetText(nullptr), 0);
  EXPECT_EQ(v.view.WMSetText("xy\nz"), 1);
  EXPECT_EQ(v.view.WMGetTextLength(), 4);
  v.view.Flags &= ~0x0800;
  EXPECT_EQ(v.view.WMGetTextLength(), 0);
  EXPECT_EQ(v.view.WMSetText("q"), 0);
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

TEST_F(ViewerGuiTest, AnimationTimerFollowsTheShortestPeriod) {
  TRVStyle style(nullptr);
  Viewer v(&style);
  v.view.SetAnimationMode(rvaniOnFormat);
  auto add = [&](int32_t interval) {
    auto* item = new TRVGraphicItemInfo(v.view.RVData.get(), std::make_unique<TBitmap>(64, 32), 0);
    item->ImageWidth = item->ImageHeight = 32;
    item->Interval = interval;
    item->ParaNo = 0;
    v.view.AddItem("", item);
    return item;
  };
  TRVGraphicItemInfo* a = add(10);
  add(25);
  v.view.Format();
  TRVAnimatorList* list = v.view.RVData->AnimatorList.get();
  ASSERT_NE(list, nullptr);
  EXPECT_TRUE(list->TimerActive);
  EXPECT_EQ(list->TimerPeriod, 100);
  v.view.OnAnimationTimer();
  EXPECT_EQ(static_cast<TRVAnimator*>(a->Animator.get())->FrameIndex, 1);
  EXPECT_EQ(list->TimerPeriod, 100);
  // A new background starts the animations again.
  v.view.SetBackgroundStyle(bsTiled);
  EXPECT_EQ(static_cast<TRVAnimator*>(a->Animator.get())->FrameIndex, 0);
  v.view.SetAnimationMode(rvaniDisabled);
  EXPECT_EQ(v.view.RVData->AnimatorList, nullptr);
  EXPECT_EQ(a->Animator, nullptr);
}

}  // namespace
}  // namespace pelvar
