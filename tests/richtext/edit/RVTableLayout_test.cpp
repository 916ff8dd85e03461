// Table item properties, layout on the test font (7 px glyphs, 13 px lines), painting on the
// recording canvas, print splits between row groups, and the table's native, RTF, HTML and text
// forms: the native record read back, RTF rows with the padding and merge words, and HTML of a
// document with two text styles loaded in headless Chromium.
#include "richtext/edit/RVTableLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <numeric>

#include "richtext/edit/RVERVData.h"
#include "richtext/edit/RVTableStream.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVRTFProps.h"
#include "tests/richtext/view/view_fixture.h"
#include "tests/support/process.h"

namespace pelvar {
namespace {

using viewtest::TTestDoc;
using viewtest::TTestFont;

struct View {
  TRVStyle style{nullptr};
  TTestDoc doc{&style, 600};
  View() {
    while (style.TextStyles()->Count() < 2) style.TextStyles()->Add();
  }
  TRVTableItemInfo* Add(int32_t rows, int32_t cols) {
    auto* t = new TRVTableItemInfo(&doc, rows, cols);
    doc.AddItem("", t);
    return t;
  }
};

void SetCell(TRVTableItemInfo* t, int32_t r, int32_t c, const std::string& text) {
  TRVTableCellData* cell = t->GetCells(r, c);
  cell->Clear();
  cell->AddTextItem(text, 0, 0);
}

TRVTableItemFormattingInfo& LayOut(TRVTableItemInfo* t, TCanvas& canvas, int32_t width) {
  int32_t dx = 0, descent = 0;
  t->AdjustToDocWidth(width, nullptr, false, &canvas, nullptr, nullptr, dx, descent, true, false);
  return t->Layout;
}

// Every column's box and gap add up to the table's width with the right border part.
void ExpectExactPlacement(TRVTableItemInfo* t) {
  const auto& l = t->Layout;
  const int32_t c = t->ColCount();
  const int32_t last = c - 1;
  EXPECT_EQ(l.ColumnLefts[last] + l.ColumnWidths[last] + 2 * t->CellPadding + t->CellBorderWidth + t->BorderHSpacing +
                t->BorderWidth,
            l.TableWidth);
  EXPECT_EQ(l.ColumnLefts[0], t->BorderWidth + t->BorderHSpacing + t->CellBorderWidth);
  for (int32_t k = 1; k < c; ++k)
    EXPECT_EQ(l.ColumnLefts[k] - l.ColumnLefts[k - 1] - l.ColumnWidths[k - 1],
              2 * (t->CellPadding + t->CellBorderWidth) + t->CellHSpacing);
}

TEST(RVTableItem, DefaultsAndUndoableProperties) {
  View v;
  TRVTableItemInfo t(&v.doc);
  EXPECT_EQ(t.RowCount(), 1);
  EXPECT_EQ(t.ColCount(), 1);
  EXPECT_EQ(t.CellPadding, 1);
  EXPECT_EQ(t.CellHSpacing, 2);
  EXPECT_EQ(t.Color, clWindow);
  EXPECT_EQ(t.Options, (TRVTableOptions{rvtoEditing, rvtoRowSizing, rvtoColSizing, rvtoRowSelect, rvtoColSelect}));
  EXPECT_EQ(t.PrintOptions, (TRVTablePrintOptions{rvtoHalftoneBorders, rvtoRowsSplit}));
  EXPECT_EQ(t.TextRowSeparator, "\r\n");
  // Detached: assigned directly, marked changed.
  t.TableState = 0;
  t.SetBorderWidth(3);
  EXPECT_EQ(t.BorderWidth, 3);
  EXPECT_TRUE(t.TableState & 4);

  // Inside an editable document: one undo group holding the old value.
  TRVStyle style(nullptr);
  TRVEditRVData data;
  data.SetRVStyle(&style);
  data.AddTextItem("x", 0, 0);
  auto* e = new TRVTableItemInfo(&data, 1, 1);
  data.AddItem("", e);
  ASSERT_TRUE(e->TableState & 1);
  const int32_t groups = data.UndoList->Count();
  e->SetBorderWidth(4);
  EXPECT_EQ(e->BorderWidth, 4);
  EXPECT_EQ(data.UndoList->Count(), groups + 1);
  e->TableState &= static_cast<uint16_t>(~4u);
  data.Undo();
  EXPECT_EQ(e->BorderWidth, 0);
  EXPECT_TRUE(e->TableState & 4);
  EXPECT_TRUE(e->TableState & 1);
}

TEST(RVTableLayout, TableInsideACell) {
  View v;
  v.doc.AddText("top", 0, 0);
  TRVTableItemInfo* outer = v.Add(1, 2);
  TRVTableCellData* host = outer->GetCells(0, 1);
  auto* inner = new TRVTableItemInfo(host, 1, 1);
  SetCell(inner, 0, 0, "inner");
  host->Clear();
  host->AddItem("", inner);
  v.doc.Format();
  // The inner table fills its cell's content width and makes the row taller.
  EXPECT_EQ(inner->Layout.TableWidth, host->Width - 2 * outer->CellPadding);
  EXPECT_EQ(outer->Layout.RowContentHeights[0], inner->Layout.TableHeight);
  TRecordingCanvas canvas(1024, 768, std::make_shared<TTestFont>());
  v.doc.PaintTo(canvas, TRect{0, 0, 600, 400});
  bool found = false;
  for (const TCanvasCall& c : canvas.Calls("TextOut"))
    if (c.Text == u"inner") {
      found = true;
      EXPECT_EQ(c.Args[0],
                outer->Layout.ColumnLefts[1] + outer->CellPadding + inner->Layout.ColumnLefts[0] + inner->CellPadding);
      EXPECT_EQ(c.Args[1], v.doc.DrawLines[1]->Top + outer->Layout.RowTops[0] + outer->CellPadding +
                               inner->Layout.RowTops[0] + inner->CellPadding);
    }
  EXPECT_TRUE(found) << canvas.LogText();
  EXPECT_EQ(inner->GetItemNoInParent(), 0);
  EXPECT_EQ(inner->GetRootItemNo(), 1);
}

TEST(RVTableItem, DeletedIntoUndoAndBack) {
  TRVStyle style(nullptr);
  TRVEditRVData data;
  data.SetRVStyle(&style);
  data.AddTextItem("x", 0, 0);
  auto* t = new TRVTableItemInfo(&data, 1, 2);
  SetCell(t, 0, 1, "cell");
  data.AddItem("", t);
  ASSERT_TRUE(data.BeginUndoGroup(rvutModifyItem));
  bool full = false;
  data.RecDeleteItem(1, full);
  // Held by the undo record: the cells no longer name the document.
  EXPECT_EQ(t->HostDocument(), nullptr);
  EXPECT_EQ(t->GetCells(0, 1)->GetRVStyle(), nullptr);
  data.Undo();
  ASSERT_EQ(data.ItemCount(), 2);
  ASSERT_EQ(data.GetItem(1), t);
  EXPECT_EQ(t->GetCells(0, 1)->GetRVStyle(), &style);
  TRecordingCanvas canvas(1024, 768, std::make_shared<TTestFont>());
  EXPECT_EQ(LayOut(t, canvas, 300).TableWidth, 300);
}

TEST(RVTableItem, BackgroundPicture) {
  View v;
  TRVTableItemInfo t(&v.doc, 1, 1);
  t.SetBackgroundStyle(rvbsColor);
  EXPECT_EQ(t.Background, nullptr);
  TBitmap pic(4, 3, 0xFF102030u);
  t.SetBackgroundImage(&pic);
  ASSERT_NE(t.BackgroundImage(), nullptr);
  EXPECT_NE(t.BackgroundImage(), &pic);  // a copy
  t.SetBackgroundStyle(rvbsStretched);
  TMemoryStream m;
  RVWriteTableToStream(m, &t);
  const std::string bytes(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
  EXPECT_NE(bytes.find("T.BackgroundImg"), std::string::npos);
  TRVTableItemInfo u(&v.doc, 0, 0);
  m.SetPosition(0);
  RVReadTableFromStream(m, &u);
  ASSERT_NE(u.BackgroundImage(), nullptr);
  EXPECT_EQ(u.BackgroundImage()->Width(), 4);
  EXPECT_EQ(u.BackgroundStyle(), rvbsStretched);
  // Without a placement, an empty picture leaves no background behind.
  u.SetBackgroundStyle(rvbsColor);
  TBitmap empty;
  u.SetBackgroundImage(&empty);
  EXPECT_EQ(u.Background, nullptr);

  // In an editor the change is one undo step that brings the old picture back.
  TRVStyle style(nullptr);
  TRVEditRVData data;
  data.SetRVStyle(&style);
  auto* e = new TRVTableItemInfo(&data, 1, 1);
  data.AddItem("", e);
  e->SetBackgroundImage(&pic);
  ASSERT_NE(e->BackgroundImage(), nullptr);
  data.Undo();
  EXPECT_EQ(e->BackgroundImage(), nullptr);
  data.Redo();
  ASSERT_NE(e->BackgroundImage(), nullptr);
  EXPECT_EQ(e->BackgroundImage()->Height(), 3);
}

TEST(RVTableLayout, WidthRules) {
  View v;
  TRecordingCanvas canvas(1024, 768, std::make_shared<TTestFont>());
  {
    SCOPED_TRACE("automatic width fills the offer, the last column takes the remainder");
    TRVTableItemInfo* t = v.Add(1, 3);
    SetCell(t, 0, 0, "ab");
    auto& l = LayOut(t, canvas, 600);
    EXPECT_EQ(l.TableWidth, 600);
    // 600 - 8 (spacing) - 6 (padding) = 586; beyond the 14 pixels of "ab" the surplus of 572 is
    // shared as 190, 191, 191.
    EXPECT_EQ(l.ColumnWidths, (std::vector<int32_t>{204, 191, 191}));
    ExpectExactPlacement(t);
    EXPECT_EQ(l.RowContentHeights, std::vector<int32_t>{13});
    EXPECT_EQ(t->GetCells(0, 0)->Width, 206);
  }
  {
    SCOPED_TRACE("percentage of the offer");
    TRVTableItemInfo* t = v.Add(1, 2);
    t->BestWidth = -50;
    EXPECT_EQ(LayOut(t, canvas, 600).TableWidth, 300);
    ExpectExactPlacement(t);
  }
  {
    SCOPED_TRACE("all columns fixed: their sum plus the overhead, whatever the offer");
    TRVTableItemInfo* t = v.Add(2, 2);
    t->GetCells(0, 0)->BestWidth = 50;
    t->GetCells(1, 1)->BestWidth = 70;
    ASSERT_TRUE(t->AllColumnsHaveFixedWidth());
    for (int32_t offer : {600, 100}) {
      auto& l = LayOut(t, canvas, offer);
      EXPECT_EQ(l.ColumnWidths, (std::vector<int32_t>{50, 70}));
      EXPECT_EQ(l.TableWidth, 50 + 70 + 4 + 6);
    }
    ExpectExactPlacement(t);
  }
  {
    SCOPED_TRACE("a -25% column of an inner width of 400");
    TRVTableItemInfo* t = v.Add(1, 2);
    t->BestWidth = 406;  // 400 + 6 of spacing
    t->GetCells(0, 0)->BestWidth = -25;
    auto& l = LayOut(t, canvas, 600);
    EXPECT_EQ(l.ColumnWidths[0], 100 - 2 * t->CellPadding);
    EXPECT_EQ(l.TableWidth, 406);
    ExpectExactPlacement(t);
  }
  {
    SCOPED_TRACE("only percentage columns: the surplus by their percentages");
    TRVTableItemInfo* t = v.Add(1, 2);
    t->BestWidth = 406;
    t->GetCells(0, 0)->BestWidth = -25;
    t->GetCells(0, 1)->BestWidth = -25;
    EXPECT_EQ(LayOut(t, canvas, 600).ColumnWidths, (std::vector<int32_t>{198, 198}));
  }
  {
    SCOPED_TRACE("a fixed and a percentage column: the fixed one takes the surplus");
    TRVTableItemInfo* t = v.Add(1, 2);
    t->BestWidth = 406;
    t->GetCells(0, 0)->BestWidth = 50;
    t->GetCells(0, 1)->BestWidth = -25;
    EXPECT_EQ(LayOut(t, canvas, 600).ColumnWidths, (std::vector<int32_t>{298, 98}));
    ExpectExactPlacement(t);
  }
  {
    SCOPED_TRACE("minimum above the set width");
    TRVTableItemInfo* t = v.Add(1, 1);
    t->BestWidth = 20;
    SetCell(t, 0, 0, std::string(10, 'a'));
    EXPECT_EQ(LayOut(t, canvas, 600).TableWidth, 70 + 2 + 4);
  }
  {
    SCOPED_TRACE("empty grid");
    TRVTableItemInfo* t = v.Add(0, 0);
    t->BorderWidth = 1;
    auto& l = LayOut(t, canvas, 600);
    EXPECT_EQ(l.TableWidth, 2 * (1 + 2));
    EXPECT_EQ(l.TableHeight, 2 * (1 + 2));
  }
}

TEST(RVTableLayout, MergedCellsWidenNarrowestColumnsAndFreeRows) {
  View v;
  TRecordingCanvas canvas(1024, 768, std::make_shared<TTestFont>());
  TRVTableItemInfo* t = v.Add(2, 3);
  SetCell(t, 0, 0, std::string(40, 'x'));
  t->MergeCells(0, 0, 3, 1);
  SetCell(t, 1, 0, std::string(28, 'a'));
  SetCell(t, 1, 1, "b");
  SetCell(t, 1, 2, "c");
  // Offered less than the minimum: the columns keep their minimums. Equalising gives the two narrow
  // columns 38 each; a proportional share would have widened the wide one.
  auto& l = LayOut(t, canvas, 10);
  EXPECT_EQ(l.ColumnWidths, (std::vector<int32_t>{196, 38, 38}));
  EXPECT_EQ(l.TableWidth, t->GetMinWidth(nullptr, &canvas, nullptr));
  ExpectExactPlacement(t);

  // A cell merged over rows 0 and 1, taller than both, enlarges only row 1, in which no other cell
  // ends (the cell starting there reaches row 2).
  TRVTableItemInfo* u = v.Add(3, 2);
  SetCell(u, 0, 1, "c");
  SetCell(u, 2, 0, "g");
  u->MergeCells(0, 0, 1, 2);
  u->MergeCells(1, 1, 1, 2);
  u->GetCells(0, 0)->BestHeight = 100;
  auto& m = LayOut(u, canvas, 200);
  // Row 1 holds no cell of its own: 10. Needed 100 + 2, offered -2 + (4 + 13) + (4 + 10).
  EXPECT_EQ(m.RowContentHeights, (std::vector<int32_t>{13, 10 + 73, 13}));
  EXPECT_EQ(m.TableHeight, m.RowTops[2] + 13 + 2 * u->CellPadding + u->BorderVSpacing);
}

TEST(RVTableLayout, FormattedAndPaintedInItsDocument) {
  View v;
  v.doc.AddText("top", 0, 0);
  TRVTableItemInfo* t = v.Add(1, 2);
  SetCell(t, 0, 1, "cell");
  v.doc.Format();
  // The table's draw item has the table's size; the cell's text is painted inside its cell box,
  // past the padding.
  ASSERT_EQ(v.doc.DrawLines.Count(), 2);
  TRVDrawLineInfo* d = v.doc.DrawLines[1];
  EXPECT_EQ(d->Width, 600);
  EXPECT_EQ(d->Height, t->Layout.TableHeight);
  TRecordingCanvas canvas(1024, 768, std::make_shared<TTestFont>());
  v.doc.PaintTo(canvas, TRect{0, 0, 600, 400});
  bool found = false;
  for (const TCanvasCall& c : canvas.Calls("TextOut"))
    if (c.Text == u"cell") {
      found = true;
      EXPECT_EQ(c.Args[0], d->Left + t->Layout.ColumnLefts[1] + t->CellPadding);
      EXPECT_EQ(c.Args[1], d->Top + t->Layout.RowTops[0] + t->CellPadding);
    }
  EXPECT_TRUE(found) << canvas.LogText();
  // Items taken out of a cell after its layout: painting lays the cell out again rather than
  // drawing items that are gone.
  TRVTableCellData* cell = t->GetCells(0, 1);
  cell->AddTextItem("more", 0, 0);
  cell->AddTextItem("lines", 0, 0);
  v.doc.Format();
  SetCell(t, 0, 1, "one");
  TRecordingCanvas again(1024, 768, std::make_shared<TTestFont>());
  v.doc.PaintTo(again, TRect{0, 0, 600, 400});
  size_t texts = 0;
  for (const TCanvasCall& c : again.Calls("TextOut")) texts += c.Text == u"one";
  EXPECT_EQ(texts, 1u);
}

// Grid lines of a table without borders.
size_t DottedRectangles(TRecordingCanvas& canvas) {
  size_t n = 0;
  for (const TCanvasCall& c : canvas.Calls("Rectangle"))
    if (c.Pen.Style == psDot && c.Pen.Color == clBtnFace) ++n;
  return n;
}

TEST(RVTablePaint, GridLinesOnlyInAnEditor) {
  TRVStyle style(nullptr);
  TRVEditRVData edit;
  edit.SetRVStyle(&style);
  auto* t = new TRVTableItemInfo(&edit, 2, 2);
  edit.AddItem("", t);
  TRecordingCanvas canvas(1024, 768, std::make_shared<TTestFont>());
  LayOut(t, canvas, 300);
  ASSERT_TRUE(t->TableState & 2);
  t->PaintFullWidth(0, 300, 0, canvas, 0, &style, TRect{0, 0, 1024, 768});
  // The outer frame and the four cells.
  EXPECT_EQ(DottedRectangles(canvas), 5u);

  View v;
  TRVTableItemInfo* w = v.Add(2, 2);
  TRecordingCanvas view_canvas(1024, 768, std::make_shared<TTestFont>());
  LayOut(w, view_canvas, 300);
  w->PaintFullWidth(0, 300, 0, view_canvas, 0, &v.style, TRect{0, 0, 1024, 768});
  EXPECT_EQ(DottedRectangles(view_canvas), 0u);

  // Printed from the editor: no grid either.
  TRVScreenAndDevice sad;
  sad.ppixDevice = sad.ppiyDevice = 600;
  TRecordingCanvas paper(8000, 8000, std::make_shared<TTestFont>());
  std::unique_ptr<TRVTablePrintInfo> info = t->CreatePrintingDrawItem(&paper, sad);
  int32_t dx = 0, descent = 0;
  t->AdjustToDocWidth(3000, info.get(), true, &paper, &edit, &sad, dx, descent, false, false);
  EXPECT_GT(info->Width, 0);
  t->Print(paper, 0, 0, false, false, *info, -1, 0);
  EXPECT_EQ(DottedRectangles(paper), 0u);
}

TEST(RVTablePaint, GridChangedSinceTheLayout) {
  View v;
  TRVTableItemInfo* t = v.Add(1, 1);
  SetCell(t, 0, 0, "a");
  TRecordingCanvas canvas(1024, 768, std::make_shared<TTestFont>());
  LayOut(t, canvas, 200);
  // Rows added after the layout: the layout's lists no longer match the grid, and only the frame is
  // painted until the table is laid out again.
  t->InsertRows(1, 2, -1);
  t->PaintFullWidth(0, 200, 0, canvas, 0, &v.style, TRect{0, 0, 1024, 768});
  EXPECT_TRUE(canvas.Calls("TextOut").empty());
  LayOut(t, canvas, 200);
  EXPECT_EQ(t->Layout.RowTops.size(), 3u);
  t->PaintFullWidth(0, 200, 0, canvas, 0, &v.style, TRect{0, 0, 1024, 768});
  size_t a = 0;
  for (const TCanvasCall& c : canvas.Calls("TextOut")) a += c.Text == u"a";
  EXPECT_EQ(a, 1u);
}

TEST(RVTablePaint, VerticalRulesBetweenColumns) {
  View v;
  TRVTableItemInfo* t = v.Add(1, 3);
  t->VRuleWidth = 1;
  t->VRuleColor = clRed;
  TRecordingCanvas canvas(1024, 768, std::make_shared<TTestFont>());
  LayOut(t, canvas, 300);
  t->PaintFullWidth(10, 310, 20, canvas, 0, &v.style, TRect{0, 0, 1024, 768});
  // One line between each two columns, in the middle of the gap.
  std::vector<int32_t> xs;
  const auto& log = canvas.Log();
  for (size_t i = 1; i < log.size(); ++i)
    if (log[i].Op == "LineTo" && log[i].Pen.Color == clRed) xs.push_back(log[i].Args[0]);
  const int32_t half_gap = (t->CellHSpacing + 1) / 2;
  EXPECT_EQ(xs,
            (std::vector<int32_t>{10 + t->Layout.ColumnLefts[1] - half_gap, 10 + t->Layout.ColumnLefts[2] - half_gap}));
}

TEST(RVTablePaint, RaisedBorderColoursAndPrintedColourMode) {
  View v;
  v.style.Color = clBtnHighlight;
  TRVTableItemInfo* t = v.Add(1, 1);
  t->BorderWidth = 2;
  t->Color = clBlue;
  TRecordingCanvas canvas(1024, 768, std::make_shared<TTestFont>());
  LayOut(t, canvas, 200);
  t->PaintFullWidth(0, 200, 0, canvas, 0, &v.style, TRect{0, 0, 1024, 768});
  // On a document of the highlight colour the light sides are drawn in clBtnFace: two rounds of top
  // and left lines, then two of bottom and right lines.
  std::vector<TColor> colours;
  for (const TCanvasCall& c : canvas.Calls("LineTo")) colours.push_back(c.Pen.Color);
  ASSERT_EQ(colours.size(), 8u);
  EXPECT_EQ(std::count(colours.begin(), colours.begin() + 4, clBtnFace), 4);
  EXPECT_EQ(std::count(colours.begin() + 4, colours.end(), clBtnShadow), 4);
  // Printed in colour mode 2 the blue background is grey.
  TRVScreenAndDevice sad;
  std::unique_ptr<TRVTablePrintInfo> info = t->CreatePrintingDrawItem(&canvas, sad);
  int32_t dx = 0, descent = 0;
  t->AdjustToDocWidth(200, info.get(), true, &canvas, &v.doc, &sad, dx, descent, false, false);
  TRecordingCanvas paper(1024, 768, std::make_shared<TTestFont>());
  t->Print(paper, 0, 0, false, false, *info, -1, 2);
  const auto fills = paper.Calls("FillRect");
  ASSERT_FALSE(fills.empty());
  EXPECT_EQ(fills[0].Brush.Color(), RV_BackColorForPrintMode(clBlue, 2));
  EXPECT_NE(RV_BackColorForPrintMode(clBlue, 2), static_cast<TColor>(clBlue));
}

TEST(RVTablePrint, CutsBetweenRowGroups) {
  View v;
  TRecordingCanvas canvas(1024, 768, std::make_shared<TTestFont>());
  TRVTableItemInfo* t = v.Add(8, 2);
  for (int32_t r = 0; r < 8; ++r) SetCell(t, r, 1, "r" + std::to_string(r));
  t->MergeCells(3, 0, 1, 3);  // rows 3..5 joined
  TRVScreenAndDevice sad;
  std::unique_ptr<TRVTablePrintInfo> info = t->CreatePrintingDrawItem(&canvas, sad);
  int32_t dx = 0, descent = 0;
  t->AdjustToDocWidth(300, info.get(), true, &canvas, &v.doc, &sad, dx, descent, false, false);
  const auto& l = info->PrintLayout;
  ASSERT_EQ(l.RowTops.size(), 8u);
  EXPECT_EQ(t->RowGroupFirstRow(4), 3);
  EXPECT_EQ(t->RowGroupLastRow(3), 5);
  EXPECT_FALSE(t->IsRowGroupEnd(4));
  ASSERT_TRUE(info->InitSplit());
  const int32_t overhead = l.RowTops[0] + l.TableHeight - (l.RowTops[7] + l.RowContentHeights[7]);
  // Room for rows 0..4: the cut falls inside the group and moves up to row 3.
  const int32_t y = overhead + l.RowTops[4] + l.RowContentHeights[4] + 1 - l.RowTops[0];
  ASSERT_TRUE(info->SplitAt(y));
  ASSERT_EQ(info->PartsList.size(), 2u);
  EXPECT_EQ(info->Part(0)->RowCount, 3);
  EXPECT_EQ(info->Part(1)->StartRow, 3);
  EXPECT_EQ(info->Part(0)->Height, overhead + l.RowTops[2] + l.RowContentHeights[2] - l.RowTops[0]);
  // The new part starts with the group: a cut inside it moves below the group.
  ASSERT_TRUE(info->SplitAt(overhead + 1));
  EXPECT_EQ(info->Part(1)->RowCount, 3);
  EXPECT_EQ(info->Part(2)->StartRow, 6);
  // Parts of one row are never split.
  ASSERT_TRUE(info->SplitAt(overhead + 1));
  EXPECT_EQ(info->Part(3)->RowCount, 1);
  EXPECT_FALSE(info->SplitAt(1));
  // Without rvtoRowsSplit and page breaks the table stays whole.
  t->PrintOptions.Exclude(rvtoRowsSplit);
  EXPECT_FALSE(info->InitSplit());
  t->Rows().GetItem(2)->PageBreakBefore = true;
  EXPECT_TRUE(info->InitSplit());
}

TEST(RVTablePrint, PartRepeatsHeadingRows) {
  View v;
  TRecordingCanvas canvas(1024, 768, std::make_shared<TTestFont>());
  TRVTableItemInfo* t = v.Add(8, 1);
  for (int32_t r = 0; r < 8; ++r) SetCell(t, r, 0, "r" + std::to_string(r));
  t->HeadingRowCount = 2;
  TRVScreenAndDevice sad;
  std::unique_ptr<TRVTablePrintInfo> info = t->CreatePrintingDrawItem(&canvas, sad);
  ASSERT_TRUE(info->RepeatHeadings);
  int32_t dx = 0, descent = 0;
  t->AdjustToDocWidth(300, info.get(), true, &canvas, &v.doc, &sad, dx, descent, false, false);
  const auto& l = info->PrintLayout;
  ASSERT_TRUE(info->InitSplit());
  EXPECT_EQ(info->Part(0)->StartRow, 2);
  const int32_t overhead = l.RowTops[2] + l.TableHeight - (l.RowTops[7] + l.RowContentHeights[7]);
  ASSERT_TRUE(info->SplitAt(overhead + l.RowTops[4] + l.RowContentHeights[4] + 1 - l.RowTops[2]));
  ASSERT_EQ(info->Part(1)->StartRow, 5);
  // The second page: rows 0 and 1, one row gap, then rows 5 to 7, in one frame.
  TRecordingCanvas page(1024, 768, std::make_shared<TTestFont>());
  t->Print(page, 0, 0, false, false, *info, 1, 0);
  std::map<std::u16string, int32_t> tops;
  for (const TCanvasCall& c : page.Calls("TextOut")) tops[std::u16string(c.Text.begin(), c.Text.end())] = c.Args[1];
  EXPECT_EQ(tops.count(u"r2") + tops.count(u"r3") + tops.count(u"r4"), 0u);
  ASSERT_EQ(tops.count(u"r0") + tops.count(u"r1") + tops.count(u"r5") + tops.count(u"r7"), 4u) << page.LogText();
  EXPECT_EQ(tops[u"r0"], l.RowTops[0] + t->CellPadding);
  EXPECT_EQ(tops[u"r1"], l.RowTops[1] + t->CellPadding);
  EXPECT_EQ(tops[u"r5"], l.RowTops[2] + t->CellPadding);
  EXPECT_EQ(tops[u"r7"], l.RowTops[4] + t->CellPadding);
}

// A 2 x 2 table whose (0, 0) spans both rows.
TRVTableItemInfo* MergedTable(TCustomRVData& d) {
  auto* t = new TRVTableItemInfo(&d, 2, 2);
  SetCell(t, 0, 0, "a");
  SetCell(t, 0, 1, "b");
  SetCell(t, 1, 1, "d");
  t->MergeCells(0, 0, 1, 2);
  return t;
}

TEST(RVTableFormats, NativeRecordReadsBackEqual) {
  TRVStyle style(nullptr);
  TCustomRVData a;
  a.SetRVStyle(&style);
  TRVTableItemInfo* t = MergedTable(a);
  t->CellPadding = 3;
  t->VisibleBorders[2] = false;
  t->GetCells(0, 1)->Color = clRed;
  a.AddItem("", t);
  TMemoryStream m;
  ASSERT_TRUE(a.SaveRVFToStream(m, false, nullptr, nullptr, clNone));
  const std::string rvf(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
  EXPECT_NE(rvf.find("-60 3 0 0 0 0 \r\n\r\n1\r\n"), std::string::npos) << rvf;
  // Three cell records: the merged one, (0, 1), (1, 1).
  TMemoryStream cells;
  RVWriteTableToStream(cells, t);
  const std::string bytes(reinterpret_cast<const char*>(cells.Memory()), static_cast<size_t>(cells.Size()));
  size_t records = 0;
  for (size_t at = bytes.find("TD"); at != std::string::npos; at = bytes.find("TD", at + 1)) ++records;
  EXPECT_EQ(records, 3u);
  // Only the hidden side of the table's borders is written.
  EXPECT_NE(bytes.find("T.VisibleBorders.Right"), std::string::npos);
  EXPECT_EQ(bytes.find("T.VisibleBorders.Left"), std::string::npos);
  m.SetPosition(0);
  TCustomRVData b;
  b.SetRVStyle(&style);
  TColor c = clNone;
  ASSERT_TRUE(b.LoadRVFFromStream(m, c, nullptr, nullptr));
  auto* u = dynamic_cast<TRVTableItemInfo*>(b.GetItem(b.ItemCount() - 1));
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->GetCells(0, 0)->RowSpan, 2);
  EXPECT_EQ(u->GetCells(1, 0), nullptr);
  EXPECT_EQ(u->GetCells(0, 1)->GetItemTextRaw(0), "b");
  EXPECT_EQ(u->GetCells(1, 1)->GetItemTextRaw(0), "d");
  EXPECT_EQ(u->GetCells(0, 1)->Color, clRed);
  EXPECT_EQ(u->CellPadding, 3);
  EXPECT_FALSE(u->VisibleBorders[2]);
  EXPECT_TRUE(u->VisibleBorders[0]);
  // Binary form.
  a.SetRVFOptions(a.GetRVFOptions().Include(rvfoSaveBinary));
  TMemoryStream bin;
  ASSERT_TRUE(a.SaveRVFToStream(bin, false, nullptr, nullptr, clNone));
  bin.SetPosition(0);
  TCustomRVData e;
  e.SetRVStyle(&style);
  ASSERT_TRUE(e.LoadRVFFromStream(bin, c, nullptr, nullptr));
  auto* w = dynamic_cast<TRVTableItemInfo*>(e.GetItem(e.ItemCount() - 1));
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->GetCells(1, 1)->GetItemTextRaw(0), "d");
}

TEST(RVTableFormats, NativeRecordOfAPrintedPart) {
  TRVStyle style(nullptr);
  TCustomRVData a;
  a.SetRVStyle(&style);
  auto* t = new TRVTableItemInfo(&a, 8, 2);
  for (int32_t r = 0; r < 8; ++r) SetCell(t, r, 1, "r" + std::to_string(r));
  t->HeadingRowCount = 2;
  t->MergeCells(3, 0, 1, 4);  // rows 3..6 of column 0
  a.AddItem("", t);
  TRVTablePrintPart part;
  part.StartRow = 5;
  part.RowCount = 3;
  TMemoryStream m;
  RVFWriteLine(m, "-8 1 3");  // the format version record
  t->SaveRVFPart(m, &a, 0, "", part);
  m.SetPosition(0);
  TCustomRVData b;
  b.SetRVStyle(&style);
  TColor c = clNone;
  ASSERT_TRUE(b.LoadRVFFromStream(m, c, nullptr, nullptr));
  auto* u = dynamic_cast<TRVTableItemInfo*>(b.GetItem(b.ItemCount() - 1));
  ASSERT_NE(u, nullptr);
  // Rows 0, 1, then 5, 6, 7; the merged cell once, at the part's first row, over 2 rows.
  ASSERT_EQ(u->RowCount(), 5);
  EXPECT_EQ(u->GetCells(1, 1)->GetItemTextRaw(0), "r1");
  EXPECT_EQ(u->GetCells(2, 1)->GetItemTextRaw(0), "r5");
  ASSERT_NE(u->GetCells(2, 0), nullptr);
  EXPECT_EQ(u->GetCells(2, 0)->RowSpan, 2);
  EXPECT_EQ(u->GetCells(4, 0)->RowSpan, 1);
}

TEST(RVTableFormats, RTFRowWords) {
  TRVStyle style(nullptr);
  TCustomRVData d;
  d.SetRVStyle(&style);
  TRVTableItemInfo* t = MergedTable(d);
  d.AddItem("", t);
  TMemoryStream m;
  ASSERT_TRUE(d.SaveRTFToStream(m, "", 15, nullptr, nullptr, nullptr, nullptr, nullptr, 0, clWindow, false));
  const std::string rtf(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
  EXPECT_NE(rtf.find("\\trowd\\trgaph30\\trleft0\\itap1"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\trpaddl15\\trpaddt15\\trpaddr15\\trpaddb15"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\trspdl15\\trspdr15"), std::string::npos) << rtf;
  const size_t first = rtf.find("\\clvmgf");
  ASSERT_NE(first, std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\clvmrg", first), std::string::npos) << rtf;
  EXPECT_EQ(rtf.find("\\clvmrg"), rtf.find("\\clvmrg", first));
  // The reader rebuilds the merge.
  TCustomRVData back;
  back.SetRVStyle(&style);
  TRVRTFReaderProperties p;
  TStringStream in(rtf);
  int32_t index = 0;
  ASSERT_EQ(p.ReadRTFFromStream(in, &back, index), rtf_ec_OK);
  TRVTableItemInfo* u = nullptr;
  for (int32_t i = 0; i < back.ItemCount() && !u; ++i) u = dynamic_cast<TRVTableItemInfo*>(back.GetItem(i));
  ASSERT_NE(u, nullptr) << rtf;
  EXPECT_EQ(u->GetCells(0, 0)->RowSpan, 2);
  EXPECT_EQ(u->GetCells(1, 1)->GetItemTextRaw(0), "d");
}

TEST(RVTableFormats, RTFWidthsSpacingKeepAndNesting) {
  TRVStyle style(nullptr);
  TCustomRVData d;
  d.SetRVStyle(&style);
  auto* t = new TRVTableItemInfo(&d, 1, 2);
  t->CellHSpacing = 3;
  t->BestWidth = -50;
  t->PrintOptions.Exclude(rvtoRowsSplit);
  auto* inner = new TRVTableItemInfo(t->GetCells(0, 1), 1, 1);
  SetCell(inner, 0, 0, "in");
  t->GetCells(0, 1)->Clear();
  t->GetCells(0, 1)->AddItem("", inner);
  d.AddItem("", t);
  TMemoryStream m;
  ASSERT_TRUE(d.SaveRTFToStream(m, "", 15, nullptr, nullptr, nullptr, nullptr, nullptr, 0, clWindow, false));
  const std::string rtf(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
  // Round(22.5) = 22.
  EXPECT_NE(rtf.find("\\trspdl22\\trspdr22"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\trwWidth2500\\trftsWidth2"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\trkeep\\trkeepfollow"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("{\\*\\nesttableprops\\trowd"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\itap2"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\nestcell}"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\nestrow}"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\row}"), std::string::npos) << rtf;

  TMemoryStream h;
  int32_t no = 0;
  t->CellVSpacing = 2;  // (2 + 3) / 2 = 2.5 -> 2
  t->SaveToHTML(h, &d, 0, "", "", "", no, clNone, 0, false);
  const std::string html(reinterpret_cast<const char*>(h.Memory()), static_cast<size_t>(h.Size()));
  EXPECT_NE(html.find("<table width=\"50%\" border=0 cellpadding=1 cellspacing=2"), std::string::npos) << html;
}

TEST(RVTableFormats, HTMLBackgroundPicture) {
  TRVStyle style(nullptr);
  TCustomRVData d;
  d.SetRVStyle(&style);
  auto* t = new TRVTableItemInfo(&d, 1, 1);
  // A 2 x 1 PNG picture: written beside the page as it is.
  static const unsigned char kPng[] = {
      0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
      0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x7B, 0x40, 0xE8, 0xDD, 0x00, 0x00, 0x00,
      0x0D, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xCF, 0x00, 0x04, 0xFF, 0x01, 0x07, 0x00, 0x01, 0xFF,
      0xE2, 0x23, 0x9E, 0x59, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
  TPNGImage pic;
  TStringStream in(std::string(reinterpret_cast<const char*>(kPng), sizeof kPng));
  pic.LoadFromStream(in);
  t->SetBackgroundImage(&pic);
  t->SetBackgroundStyle(rvbsCentered);
  d.AddItem("", t);
  test::TempDir dir("tableback");
  for (bool css : {false, true}) {
    TMemoryStream m;
    int32_t no = 0;
    t->SaveToHTML(m, &d, 0, "", dir.Path() + "/", "img", no, clNone, 0, css);
    const std::string html(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
    const std::string file = css ? "url('img" : "background=\"img";
    const size_t at = html.find(file);
    ASSERT_NE(at, std::string::npos) << html;
    const size_t name = at + file.size() - 3;
    const std::string written = html.substr(name, html.find_first_of("\"'", name) - name);
    EXPECT_TRUE(std::ifstream(dir.File(written)).good()) << written;
    if (css)
      EXPECT_NE(html.find("background-position: center center; background-repeat: no-repeat;"), std::string::npos);
  }
}

TEST(RVTableFormats, HTMLBordersAndEmptyCells) {
  TRVStyle style(nullptr);
  TCustomRVData d;
  d.SetRVStyle(&style);
  auto* t = new TRVTableItemInfo(&d, 1, 2);
  SetCell(t, 0, 0, "a");
  t->CellBorderWidth = 1;
  d.AddItem("", t);
  struct {
    bool css;
    uint32_t options;
    const char* want;
  } cases[] = {{true, 0, "border=1 style=\"border-width : 0px\""},
               {false, 0, " border=0 "},
               {false, 0, "<br>"},
               {false, rvsoXHTML, "<br />"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.want);
    TMemoryStream m;
    int32_t no = 0;
    t->SaveToHTML(m, &d, 0, "", "", "", no, clNone, c.options, c.css);
    const std::string html(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
    EXPECT_NE(html.find(c.want), std::string::npos) << html;
  }
}

TEST(RVTableFormats, TextWithSeparators) {
  TRVStyle style(nullptr);
  TCustomRVData d;
  d.SetRVStyle(&style);
  auto* t = new TRVTableItemInfo(&d, 2, 3);
  for (int32_t r = 0; r < 2; ++r)
    for (int32_t c = 0; c < 3; ++c) SetCell(t, r, c, std::string(1, static_cast<char>('a' + r * 3 + c)));
  t->MergeCells(1, 0, 2, 1);
  t->TextColSeparator = "|";
  t->TextRowSeparator = ";";
  d.AddItem("", t);
  EXPECT_EQ(t->AsText(80, &d, "", "", false, false), "a|b|c;d\r\ne||f;");
}

TEST(RVTableFormats, HTMLInChromium) {
  TRVStyle style(nullptr);
  while (style.TextStyles()->Count() < 2) style.TextStyles()->Add();
  style.TextStyles()->Items(1)->Style = TFontStyles{fsBold};
  TCustomRVData d;
  d.SetRVStyle(&style);
  d.AddTextItem("plain", 0, 0);
  auto* t = new TRVTableItemInfo(&d, 2, 2);
  SetCell(t, 0, 0, "a");
  t->GetCells(0, 1)->Clear();
  t->GetCells(0, 1)->AddTextItem("bold", 1, 0);
  SetCell(t, 1, 1, "d");
  t->GetCells(1, 0)->BestWidth = -50;
  d.AddItem("", t);
  TMemoryStream m;
  int32_t no = 0;
  TColor cur = clNone;
  ASSERT_TRUE(d.SaveHTMLToStreamEx(m, "", "t", "img", "", "", "", rvsoUTF8, clNone, cur, no, 0, 0, 0, 0, nullptr));
  const std::string html(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
  EXPECT_NE(html.find("cellpadding=1"), std::string::npos) << html;
  EXPECT_NE(html.find("width=\"50%\""), std::string::npos) << html;
  if (!test::HaveProgram("chromium")) {
    if (test::InCI()) FAIL() << "Chromium is missing";
    GTEST_SKIP() << "Chromium is not installed (scripts/deps.sh installs it)";
  }
  test::TempDir dir("tablehtml");
  const std::string file = dir.File("t.html");
  std::ofstream(file, std::ios::binary) << html;
  // The page reports what the browser built: tables, rows, cells and the span classes.
  test::CommandResult r = test::RunCommand({"chromium", "--headless", "--no-sandbox", "--disable-gpu",
                                            "--user-data-dir=" + dir.Path() + "/chr", "--dump-dom", "file://" + file});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  auto count = [&](const std::string& what) {
    size_t n = 0;
    for (size_t at = r.output.find(what); at != std::string::npos; at = r.output.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("<table"), 1u) << r.output;
  EXPECT_EQ(count("<tr"), 2u) << r.output;
  EXPECT_EQ(count("<td"), 4u) << r.output;
  EXPECT_NE(r.output.find("<span class=\"rvts1\">bold</span>"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace pelvar
