// The viewer's selection and mouse behaviours through Qt events (offscreen, the test font):
// deleting items drops the selection that pointed at them, the selection queries in item
// terms, a selected range is scrolled into view, the mouse pointer takes the shape the
// document asks for (a hand over hyperlinks, the control's own cursor elsewhere) and a
// hovered hyperlink loses its hover look when the mouse leaves the control.
#include <gtest/gtest.h>

#include "richtext/view/DocView.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

using ViewerMouseTest = viewtest::TViewerSuite;

// Deleting items first removes the selection: afterwards nothing is selected, OnSelect tells
// so, and the next layout shows no selection on the items that took the deleted ones' place.
TEST_F(ViewerMouseTest, DeletingItemsRemovesTheSelection) {
  auto v = Make({"alpha", "beta", "gamma", "delta"});
  TDocViewRVData& d = *v->RVData;
  v->SetSelectionBounds(1, 2, 2, 4);
  ASSERT_TRUE(d.SelectionExists(false));
  int selects = 0;
  v->OnSelect = [&](TCustomDocView*) { ++selects; };
  d.DeleteItems(1, 3);
  EXPECT_EQ(selects, 1);
  EXPECT_FALSE(d.SelectionExists(false));
  v->Format();
  EXPECT_FALSE(d.SelectionExists(false));
  EXPECT_EQ(d.GetSelTextAs(false), "");
}

// IsInSelection compares item positions on the normalised selection, with or without its
// edges; an empty selection holds nothing.
TEST_F(ViewerMouseTest, IsInSelectionInItemTerms) {
  auto v = Make({"alpha", "beta", "gamma"});
  TDocViewRVData& d = *v->RVData;
  v->SetSelectionBounds(2, 3, 0, 2);  // made backwards
  struct TCase {
    int32_t item, offs;
    bool edges, inside;
  };
  const TCase cases[] = {
      {0, 1, true, false}, {0, 2, true, true},  {0, 2, false, false}, {0, 3, false, true}, {1, 1, false, true},
      {2, 3, true, true},  {2, 3, false, false}, {2, 4, true, false},  {2, 2, false, true},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(d.IsInSelection(c.item, c.offs, c.edges), c.inside) << c.item << ":" << c.offs << " " << c.edges;
  v->SetSelectionBounds(1, 2, 1, 2);
  EXPECT_FALSE(d.IsInSelection(1, 2, true));
}

// Selecting a range brings it into view by the scrolling rule of ShowRectangle: a rectangle
// below the view is shown at the bottom plus one step, one above it at the top.
TEST_F(ViewerMouseTest, SelectItemRangeScrollsTheRangeIntoView) {
  std::vector<std::string> lines;
  for (int i = 0; i < 60; ++i) lines.push_back("line" + std::to_string(i));
  auto v = Make(lines, 300, 100);
  TDocViewRVData& d = *v->RVData;
  ASSERT_EQ(v->VPos, 0);
  d.SelectItemRange(40, 1, 3, false);
  int32_t d_item = 0;
  d.GetFirstDrawItemOfItem(40, d_item);
  TRVDrawLineInfo* line = d.DrawLines[d_item];
  const int32_t step = v->VSmallStep, h = v->ClientHeight();
  EXPECT_EQ(v->VPos, (line->Top + line->Height - h + step) / step);
  EXPECT_TRUE(d.IsInSelection(40, 2, false));
  // Above the view: its top becomes the view's top.
  d.SelectItemRange(5, 1, 2, false);
  d.GetFirstDrawItemOfItem(5, d_item);
  EXPECT_EQ(v->VPos, d.DrawLines[d_item]->Top / step);
  // Reversed: the anchor is the range's end.
  d.SelectItemRange(6, 1, 2, true);
  int32_t si, so, ei, eo;
  d.GetSelBounds(si, ei, so, eo, false);
  EXPECT_EQ(std::vector<int32_t>({si, so, ei, eo}), std::vector<int32_t>({6, 3, 6, 1}));
}

// The pointer over a hyperlink is a hand, elsewhere the control's cursor; leaving the control
// drops the hovered hyperlink and its hover look.
TEST_F(ViewerMouseTest, PointerShapeAndHoverFollowTheMouse) {
  auto v = Make({"plain"});
  TDocViewRVData& d = *v->RVData;
  d.AddTextItem("link", 4, 0);
  v->Format();
  int32_t link_d = 0;
  d.GetFirstDrawItemOfItem(1, link_d);
  TRVDrawLineInfo* link = d.DrawLines[link_d];
  std::vector<int32_t> moved;
  v->OnRVMouseMove = [&](TCustomDocView*, int32_t id) { moved.push_back(id); };
  // OnMouseMove comes first, before the document handles the move.
  std::vector<std::string> order;
  v->OnMouseMove = [&](TCustomDocView*, TShiftState, int32_t, int32_t) {
    order.push_back("move:" + std::to_string(moved.size()));
  };
  Move(v.get(), link->Left + 3, link->Top + 3);
  EXPECT_EQ(order, std::vector<std::string>({"move:0"}));
  v->OnMouseMove = nullptr;
  EXPECT_EQ(v->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(d.LastJumpMovedAbove, 0);
  TRVDrawLineInfo* text = d.DrawLines[0];
  Move(v.get(), text->Left + 3, text->Top + 3);
  EXPECT_EQ(v->cursor().shape(), Qt::ArrowCursor);
  v->Cursor = crIBeam;
  Move(v.get(), text->Left + 4, text->Top + 3);
  EXPECT_EQ(v->cursor().shape(), Qt::IBeamCursor);
  // Back on the link, then out of the control.
  Move(v.get(), link->Left + 3, link->Top + 3);
  ASSERT_EQ(d.LastJumpMovedAbove, 0);
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(v.get(), &leave);
  EXPECT_EQ(d.LastJumpMovedAbove, -1);
  EXPECT_FALSE(d.State & rvstHoverDrawn);
  EXPECT_EQ(moved, std::vector<int32_t>({0, -1, 0}));
}

// A selection changed by the mouse is shown at once: dragging over the text, and a right
// click that collapses the selection with rvoRClickDeselects, paint the control before the
// mouse event returns, not when the event loop comes round to it.
TEST_F(ViewerMouseTest, MouseSelectionRepaintsAtOnce) {
  for (bool right_click : {false, true}) {
    SCOPED_TRACE(right_click);
    auto v = Make({"alpha beta", "gamma"});
    v->Options.Include(rvoRClickDeselects);
    v->show();
    QCoreApplication::processEvents();
    TRVDrawLineInfo* first = v->RVData->DrawLines[0];
    int paints = 0;
    v->OnPaint = [&](TCustomDocView*, TCanvas&, bool) { ++paints; };
    const int y = first->Top + 3;
    if (right_click) {
      v->SetSelectionBounds(0, 1, 0, 6);
      QCoreApplication::processEvents();
      paints = 0;
      SendMouse(v.get(), QEvent::MouseButtonPress, first->Left + 7 * 8 + 3, y, Qt::RightButton, Qt::RightButton);
      SendMouse(v.get(), QEvent::MouseButtonRelease, first->Left + 7 * 8 + 3, y, Qt::RightButton, Qt::NoButton);
      EXPECT_FALSE(v->RVData->SelectionExists(false));
    } else {
      SendMouse(v.get(), QEvent::MouseButtonPress, first->Left + 1, y, Qt::LeftButton, Qt::LeftButton);
      QCoreApplication::processEvents();
      paints = 0;
      SendMouse(v.get(), QEvent::MouseMove, first->Left + 7 * 3 + 1, y, Qt::NoButton, Qt::LeftButton);
      EXPECT_TRUE(v->RVData->SelectionExists(false));
    }
    EXPECT_GT(paints, 0);
    v->OnPaint = nullptr;
  }
}

// With rvoShowItemHints the item under the mouse shows its hint as the control's tool tip
// (OnItemHint may change it); over an item without a hint, or below the text, the tool tip
// goes. Without the option nothing is shown.
TEST_F(ViewerMouseTest, ItemHintsFollowTheMouse) {
  auto v = Make({"alpha", "beta"});
  TDocViewRVData& d = *v->RVData;
  d.GetItem(0)->Hint = "first";
  TRVDrawLineInfo* first = d.DrawLines[0];
  TRVDrawLineInfo* second = d.DrawLines[1];
  Move(v.get(), first->Left + 3, first->Top + 3);
  EXPECT_TRUE(v->toolTip().isEmpty());
  v->Options.Include(rvoShowItemHints);
  Move(v.get(), first->Left + 3, first->Top + 3);
  EXPECT_EQ(v->toolTip(), QStringLiteral("first"));
  Move(v.get(), second->Left + 3, second->Top + 3);
  EXPECT_TRUE(v->toolTip().isEmpty());
  v->OnItemHint = [](TCustomDocView*, TCustomRVData*, int32_t item_no, AnsiString& hint) {
    if (item_no == 1) hint = "second";
  };
  Move(v.get(), second->Left + 3, second->Top + 3);
  EXPECT_EQ(v->toolTip(), QStringLiteral("second"));
  Move(v.get(), 10, second->Top + second->Height + 40);
  EXPECT_TRUE(v->toolTip().isEmpty());
}

// The draw-item predicates on a paragraph wrapped into two lines and a second paragraph:
// where items, lines and paragraphs start and end, and the space the wrap swallowed.
TEST_F(ViewerMouseTest, DrawItemPredicatesOfWrappedLines) {
  auto v = Make({"aaaa bbbb", "cc"}, 70, 200);
  TDocViewRVData& d = *v->RVData;
  ASSERT_EQ(viewtest::DrawItems(d).size(), 3u) << ::testing::PrintToString(viewtest::DrawItems(d));
  struct Case {
    int32_t d_item;
    bool item_start, from_new_line, line_start, para_start, para_end, wrapped_end, swallowed;
  };
  const Case cases[] = {
      {0, true, true, true, true, false, true, true},
      {1, false, false, true, false, true, false, false},
      {2, true, true, true, true, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.d_item);
    EXPECT_EQ(d.IsDrawItemItemStart(c.d_item), c.item_start);
    EXPECT_EQ(d.IsDrawItemFromNewLine(c.d_item), c.from_new_line);
    EXPECT_EQ(d.IsDrawItemLineStart(c.d_item), c.line_start);
    EXPECT_EQ(d.IsDrawItemParaStart(c.d_item), c.para_start);
    EXPECT_EQ(d.IsDrawItemParaEnd(c.d_item), c.para_end);
    EXPECT_EQ(d.IsWrappedLineEnd(c.d_item), c.wrapped_end);
    EXPECT_EQ(d.HasSwallowedTail(c.d_item), c.swallowed);
  }
  // The coordinates of an item: its first draw item's, in the document and in the client
  // area after scrolling; an item without a draw item has none.
  int32_t left = 0, top = 0;
  ASSERT_TRUE(d.GetItemCoords(1, left, top));
  EXPECT_EQ(left, d.DrawLines[2]->Left);
  EXPECT_EQ(top, d.DrawLines[2]->Top);
  ASSERT_TRUE(d.GetItemClientCoords(1, left, top));
  EXPECT_EQ(top, d.DrawLines[2]->Top - d.GetVOffs());
  EXPECT_FALSE(d.GetItemCoords(2, left, top));
}

// A double click fires the control's OnDblClick first, then the document selects the word
// under the mouse ("alpha " is 39 pixels wide after the 5-pixel margin).
TEST_F(ViewerMouseTest, DoubleClickFiresOnDblClickBeforeTheWordIsSelected) {
  auto v = Make({"alpha beta"});
  std::string seen = "none";
  v->OnDblClick = [&](TCustomDocView* s) { seen = s->RVData->GetSelTextAs(false); };
  const int x = 5 + 45, y = 10;
  Click(v.get(), x, y);
  SendMouse(v.get(), QEvent::MouseButtonDblClick, x, y, Qt::LeftButton, Qt::LeftButton);
  SendMouse(v.get(), QEvent::MouseButtonRelease, x, y, Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(seen, "");
  EXPECT_EQ(v->RVData->GetSelTextAs(false), "beta");
}

}  // namespace
}  // namespace pelvar
