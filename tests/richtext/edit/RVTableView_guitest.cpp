// A table in a viewer, through Qt mouse events (offscreen, the test font): a double click on
// a word in a cell selects the word in that cell and makes the cell the chosen one, whose
// selection is then the viewer's (what it copies), unless the control's flag bit 15 keeps
// the table from being told; a click elsewhere in the document ends it.
#include <gtest/gtest.h>

#include <tuple>

#include <QApplication>
#include <QKeyEvent>

#include "richtext/edit/RVTable.h"
#include "richtext/edit/RVTableLayout.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

class TableViewTest : public viewtest::TViewerSuite {
 protected:
  // "before", a 2 x 2 table whose cells hold "alpha beta", "c01", "c10", "c11", "after".
  std::unique_ptr<TCustomDocView> MakeWithTable() {
    auto v = Make({"before"});
    table = new TRVTableItemInfo(v->RVData.get(), 2, 2);
    table->CellPadding = 4;
    const char* texts[2][2] = {{"alpha beta", "c01"}, {"c10", "c11"}};
    for (int32_t r = 0; r < 2; ++r)
      for (int32_t c = 0; c < 2; ++c) {
        TRVTableCellData* cell = table->GetCells(r, c);
        cell->Clear();
        cell->AddTextItem(texts[r][c], 0, 0);
      }
    v->RVData->AddItem("", table);
    v->RVData->AddTextItem("after", 0, 0);
    v->Format();
    return v;
  }
  // The client point x pixels into the text of cell (row, col), in its first line (the
  // cells are aligned to their top).
  QPoint InCell(int32_t row, int32_t col, int32_t x) {
    TRVTableCellData* cell = table->GetCells(row, col);
    int32_t tx = 0, ty = 0;
    table->GetItemClientCoords(tx, ty);
    return QPoint(tx + cell->Left + table->CellPadding + x, ty + cell->Top + table->CellPadding + 5);
  }
  // A double click as Qt delivers it: press, release, double click, release.
  static void DoubleClick(QWidget* w, QPoint p) {
    Click(w, p.x(), p.y());
    SendMouse(w, QEvent::MouseButtonDblClick, p.x(), p.y(), Qt::LeftButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseButtonRelease, p.x(), p.y(), Qt::LeftButton, Qt::NoButton);
  }
  TRVTableItemInfo* table = nullptr;
};

// "alpha " is 39 pixels wide: 45 pixels in lies on "beta".
TEST_F(TableViewTest, DoubleClickOnAWordInACellChoosesTheCell) {
  for (bool told : {true, false}) {
    SCOPED_TRACE(told);
    auto v = MakeWithTable();
    if (!told) v->Flags |= 0x8000;
    TRVTableCellView* cell_view = table->GetCells(0, 0)->View();
    if (told) {
      DoubleClick(v.get(), InCell(0, 0, 45));
    } else {
      // A press on a cell chooses it by itself: here only the double click's own event.
      const QPoint p = InCell(0, 0, 45);
      SendMouse(v.get(), QEvent::MouseButtonDblClick, p.x(), p.y(), Qt::LeftButton, Qt::LeftButton);
      SendMouse(v.get(), QEvent::MouseButtonRelease, p.x(), p.y(), Qt::LeftButton, Qt::NoButton);
    }
    // The word is selected in the cell's own document either way.
    int32_t si, ei, so, eo;
    cell_view->GetSelBounds(si, ei, so, eo, true);
    EXPECT_EQ(std::vector<int32_t>({si, so, ei, eo}), std::vector<int32_t>({0, 7, 0, 11}));
    if (told) {
      EXPECT_EQ(v->ChosenRVData, cell_view);
      EXPECT_EQ(v->ChosenItem, table);
      EXPECT_EQ(table->ChosenRow, 0);
      EXPECT_EQ(table->ChosenCol, 0);
      EXPECT_TRUE(v->SelectionExists());
      EXPECT_EQ(v->RVData->GetSelTextAs(false), "beta");
      // The document's own selection waits right after the table.
      v->RVData->GetSelBounds(si, ei, so, eo, true);
      EXPECT_EQ(std::vector<int32_t>({si, so, ei, eo}), std::vector<int32_t>({1, 1, 1, 1}));
    } else {
      EXPECT_EQ(v->ChosenRVData, nullptr);
      EXPECT_EQ(v->RVData->GetSelTextAs(false), "");
    }
  }
}

// A click on the document's own text, or a new selection set in it, ends the chosen cell:
// its selection goes and the viewer's selection is its own again.
TEST_F(TableViewTest, AClickOutsideTheCellEndsTheChosenCell) {
  for (bool by_mouse : {true, false}) {
    SCOPED_TRACE(by_mouse);
    auto v = MakeWithTable();
    TRVTableCellView* cell_view = table->GetCells(0, 0)->View();
    DoubleClick(v.get(), InCell(0, 0, 45));
    ASSERT_EQ(v->ChosenRVData, cell_view);
    if (by_mouse) {
      TRVDrawLineInfo* before = v->RVData->DrawLines[0];
      Click(v.get(), before->Left + 10, before->Top + 5);
    } else {
      v->SetSelectionBounds(0, 1, 0, 3);
    }
    EXPECT_EQ(v->ChosenRVData, nullptr);
    EXPECT_EQ(v->ChosenItem, nullptr);
    EXPECT_EQ(table->ChosenRow, -1);
    EXPECT_FALSE(cell_view->SelectionExists(false));
    EXPECT_EQ(v->RVData->GetSelTextAs(false), by_mouse ? "" : "be");
  }
}

// The position at a document point: the cell's document, item and offset over a cell's
// text, the document's own over its text, none outside every item.
TEST_F(TableViewTest, FindPositionAtDescendsIntoTheCell) {
  auto v = MakeWithTable();
  TDocViewRVData& d = *v->RVData;
  const QPoint p = InCell(1, 1, 8);  // after "c" of "c11"
  TCustomRVFormattedData* rvdata = nullptr;
  int32_t item_no = -1, offs = 0;
  bool over_control = true;
  d.FindPositionAt(p.x() + d.GetHOffs(), p.y() + d.GetVOffs(), rvdata, item_no, offs, over_control);
  EXPECT_EQ(rvdata, table->GetCells(1, 1)->View());
  EXPECT_EQ(item_no, 0);
  EXPECT_EQ(offs, 2);
  EXPECT_FALSE(over_control);
  TRVDrawLineInfo* before = d.DrawLines[0];
  d.FindPositionAt(before->Left + 15, before->Top + 5, rvdata, item_no, offs, over_control);
  EXPECT_EQ(rvdata, &d);
  EXPECT_EQ(item_no, 0);
  EXPECT_EQ(offs, 3);
  d.FindPositionAt(before->Left + 5, d.DocumentHeight + 50, rvdata, item_no, offs, over_control);
  EXPECT_EQ(rvdata, nullptr);
  EXPECT_EQ(item_no, -1);
}

// A press on a cell's text in a viewer goes into the cell: dragging there selects its text,
// which then stands for the viewer's selection; the pointer over the text is the control's
// text cursor. Dragging on into another cell selects cells instead, and the chosen cell
// gives way to them.
TEST_F(TableViewTest, DraggingInACellSelectsItsTextThenCells) {
  style.SelectionMode = rvsmChar;
  for (bool into_next_cell : {false, true}) {
    SCOPED_TRACE(into_next_cell);
    auto v = MakeWithTable();
    v->Cursor = crIBeam;
    TRVTableCellView* cell_view = table->GetCells(0, 0)->View();
    const QPoint from = InCell(0, 0, 1), to = InCell(0, 0, 29);  // before "a", after "alph"
    Move(v.get(), from.x(), from.y());
    EXPECT_EQ(v->cursor().shape(), Qt::IBeamCursor);
    SendMouse(v.get(), QEvent::MouseButtonPress, from.x(), from.y(), Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(v->ChosenRVData, cell_view);
    SendMouse(v.get(), QEvent::MouseMove, to.x(), to.y(), Qt::NoButton, Qt::LeftButton);
    if (!into_next_cell) {
      SendMouse(v.get(), QEvent::MouseButtonRelease, to.x(), to.y(), Qt::LeftButton, Qt::NoButton);
      int32_t si, ei, so, eo;
      cell_view->GetSelBounds(si, ei, so, eo, true);
      EXPECT_EQ(std::vector<int32_t>({si, so, ei, eo}), std::vector<int32_t>({0, 1, 0, 5}));
      EXPECT_FALSE(cell_view->State & rvstSelecting);
      EXPECT_EQ(v->ChosenRVData, cell_view);
      EXPECT_TRUE(v->SelectionExists());
      EXPECT_EQ(v->RVData->GetSelTextAs(false), "alph");
    } else {
      const QPoint other = InCell(1, 1, 8);
      SendMouse(v.get(), QEvent::MouseMove, other.x(), other.y(), Qt::NoButton, Qt::LeftButton);
      SendMouse(v.get(), QEvent::MouseButtonRelease, other.x(), other.y(), Qt::LeftButton, Qt::NoButton);
      int32_t top = -1, left = -1, cols = 0, rows = 0;
      ASSERT_TRUE(table->GetCellSelectionRect(false, top, left, cols, rows));
      EXPECT_EQ(std::vector<int32_t>({top, left, cols, rows}), std::vector<int32_t>({0, 0, 2, 2}));
      EXPECT_EQ(v->ChosenRVData, nullptr);
      EXPECT_FALSE(cell_view->SelectionExists(false));
    }
  }
}

// An inserted control in a cell is placed at its item inside the cell, as a child of the
// viewer, and follows the table when it moves down.
TEST_F(TableViewTest, AControlInACellIsPlacedInTheCell) {
  auto v = MakeWithTable();
  class TBox : public QWidget, public TObject {};
  auto* box = new TBox;
  box->resize(20, 10);
  TRVTableCellData* cell = table->GetCells(1, 0);
  auto* item = new TRVControlItemInfo(cell);
  item->StyleNo = rvsComponent;
  item->ParaNo = 0;
  item->Spacing = 1;
  item->SetSameAsPrev(true);
  item->Control = box;
  cell->AddItem("box", item);
  v->Format();
  auto expect_in_cell = [&]() {
    TRVTableCellView* view = cell->View();
    int32_t d = -1;
    view->GetFirstDrawItemOfItem(1, d);
    ASSERT_GE(d, 0);
    EXPECT_EQ(view->DrawLines[d]->ItemNo, 1);
    int32_t tx = 0, ty = 0;
    table->GetItemClientCoords(tx, ty);
    EXPECT_EQ(box->parentWidget(), v.get());
    EXPECT_EQ(box->x(), tx + cell->Left + table->CellPadding + view->DrawLines[d]->Left + 1);
    EXPECT_EQ(box->y(), ty + cell->Top + table->CellContentTop(cell) + view->DrawLines[d]->Top + 1);
  };
  expect_in_cell();
  v->TopMargin = 40;
  v->Format();
  expect_in_cell();
}

// A press on a cell makes the table the document's partly selected item: the document's own
// selection goes at once, and the control hears of it.
TEST_F(TableViewTest, APressOnACellRemovesTheDocumentsSelection) {
  auto v = MakeWithTable();
  v->SetSelectionBounds(0, 1, 0, 4);
  ASSERT_EQ(v->RVData->GetSelTextAs(false), "bef");
  int selects = 0;
  v->OnSelect = [&](TCustomDocView*) { ++selects; };
  const QPoint p = InCell(1, 1, 8);
  SendMouse(v.get(), QEvent::MouseButtonPress, p.x(), p.y(), Qt::LeftButton, Qt::LeftButton);
  EXPECT_GE(selects, 1);
  EXPECT_FALSE(v->RVData->SelectionExists(false));
  EXPECT_EQ(v->RVData->GetSelTextAs(false), "");
  SendMouse(v.get(), QEvent::MouseButtonRelease, p.x(), p.y(), Qt::LeftButton, Qt::NoButton);
  EXPECT_EQ(v->RVData->GetSelTextAs(false), "");
}

// A press inside a cell's selection starts a drag from the point of the press in the
// control's client area (where a drag that never starts collapses the selection).
TEST_F(TableViewTest, ADragFromACellsSelectionStartsAtTheControlsPoint) {
  auto v = MakeWithTable();
  const QPoint p = InCell(0, 0, 45);
  DoubleClick(v.get(), p);
  ASSERT_EQ(v->RVData->GetSelTextAs(false), "beta");
  SendMouse(v.get(), QEvent::MouseButtonPress, p.x() + 2, p.y(), Qt::LeftButton, Qt::LeftButton);
  ASSERT_TRUE(v->RVData->State & rvstDragPending);
  EXPECT_EQ(v->RVData->DragStartX, p.x() + 2);
  EXPECT_EQ(v->RVData->DragStartY, p.y());
  v->RVData->State &= ~rvstDragPending;
}

// Tab goes through the hyperlinks of the cells, cell after cell, between those of the
// document around the table, and back with Shift+Tab; the focus rectangle stands on the
// cell's text.
TEST_F(TableViewTest, TabGoesThroughTheHyperlinksOfTheCells) {
  auto v = MakeWithTable();
  // Cell (0, 1) and cell (1, 0) get a hyperlink each, the document one after the table.
  for (auto [r, c] : {std::pair{0, 1}, std::pair{1, 0}}) {
    TRVTableCellData* cell = table->GetCells(r, c);
    cell->Clear();
    cell->AddTextItem("link" + std::to_string(r) + std::to_string(c), 4, 0);
  }
  v->RVData->AddTextItem("doclink", 4, -1);
  v->Format();
  TDocViewRVData& d = *v->RVData;
  using TPlace = std::tuple<int32_t, TCustomRVFormattedData*, int32_t>;
  auto place = [&]() { return TPlace{d.FocusedItem, d.TabNavRVData, d.TabNavItemNo}; };
  TCustomRVFormattedData* c01 = table->GetCells(0, 1)->View();
  TCustomRVFormattedData* c10 = table->GetCells(1, 0)->View();
  const std::vector<TPlace> forward = {{1, c01, 0}, {1, c10, 0}, {3, &d, 3}, {1, c01, 0}};
  for (const TPlace& expected : forward) {
    v->KeyDown(Qt::Key_Tab, TShiftState());
    EXPECT_EQ(place(), expected);
  }
  // The focus rectangle is drawn around the cell's link, where the cell shows it.
  TRecordingCanvas canvas(300, 200);
  d.DrawTabFocus(canvas);
  const auto rects = canvas.Calls("DrawFocusRect");
  ASSERT_EQ(rects.size(), 1u);
  int32_t tx = 0, ty = 0;
  table->GetItemClientCoords(tx, ty);
  TRVTableCellData* cell = table->GetCells(0, 1);
  EXPECT_EQ(rects[0].Args[0], tx + cell->Left + table->CellPadding + c01->DrawLines[0]->Left - 1);
  EXPECT_EQ(rects[0].Args[1], ty + cell->Top + table->CellContentTop(cell) + c01->DrawLines[0]->Top - 1);
  const std::vector<TPlace> backward = {{3, &d, 3}, {1, c10, 0}, {1, c01, 0}};
  for (const TPlace& expected : backward) {
    v->KeyDown(Qt::Key_Tab, TShiftState(ssShift));
    EXPECT_EQ(place(), expected);
  }
}

// An inserted control of a cell that takes the focus.
class TCellFocusBox : public QWidget, public TObject {
 public:
  explicit TCellFocusBox(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    resize(20, 10);
  }
};

// A form with a control, a viewer and a control, in that tab order.
struct TTabForm {
  QWidget form;
  QWidget* first = new QWidget(&form);
  TCustomDocView* view = new TCustomDocView(&form);
  QWidget* last = new QWidget(&form);
  explicit TTabForm(TRVStyle* style) {
    form.resize(400, 300);
    first->setFocusPolicy(Qt::StrongFocus);
    first->setGeometry(0, 0, 20, 10);
    view->setGeometry(0, 20, 300, 200);
    view->SetTextMetrics(std::make_shared<viewtest::TTestFont>());
    view->SetStyle(style);
    last->setFocusPolicy(Qt::StrongFocus);
    last->setGeometry(0, 250, 20, 10);
  }
  // Shows the form active and formats the viewer; False when the platform activates no window.
  bool Show() {
    form.show();
    form.activateWindow();
    QApplication::processEvents();
    view->Format();
    return form.isActiveWindow();
  }
  // An inserted control appended to a cell.
  TCellFocusBox* AddBox(TRVTableCellData* cell) {
    auto* box = new TCellFocusBox(view);
    auto* item = new TRVControlItemInfo(cell);
    item->StyleNo = rvsComponent;
    item->ParaNo = 0;
    item->SetSameAsPrev(true);
    item->Control = box;
    cell->AddItem("box", item);
    return box;
  }
  // A real Tab (Shift+Tab with back) to the widget that has the focus.
  static void Tab(bool back) {
    QWidget* w = QApplication::focusWidget();
    ASSERT_NE(w, nullptr);
    QKeyEvent k(QEvent::KeyPress, back ? Qt::Key_Backtab : Qt::Key_Tab, back ? Qt::ShiftModifier : Qt::NoModifier);
    QCoreApplication::sendEvent(w, &k);
    QApplication::processEvents();
  }
  static void Click(QWidget* w) {
    w->setFocus(Qt::MouseFocusReason);
    QApplication::processEvents();
  }
};

// Tab and Shift+Tab pressed in an inserted control of a cell (real keys, an active window) go
// on from that control: to the next focusable place in its cell, then in the next cells, then
// after the table; also when the control got the focus by a click rather than by Tab.
TEST_F(TableViewTest, TabInAControlOfACellGoesOnFromItsCell) {
  TTabForm f(&style);
  TCustomDocView* view = f.view;
  view->RVData->AddTextItem("before", 0, 0);
  table = new TRVTableItemInfo(view->RVData.get(), 2, 2);
  table->CellPadding = 4;
  // (0, 0): a hyperlink, a control and a hyperlink; (0, 1): plain text; (1, 0): a control;
  // (1, 1): a hyperlink; then a hyperlink after the table.
  for (int32_t r = 0; r < 2; ++r)
    for (int32_t c = 0; c < 2; ++c) table->GetCells(r, c)->Clear();
  TRVTableCellData* c00 = table->GetCells(0, 0);
  c00->AddTextItem("l00", 4, 0);
  TCellFocusBox* box00 = f.AddBox(c00);
  c00->AddTextItem("m00", 4, -1);
  table->GetCells(0, 1)->AddTextItem("c01", 0, 0);
  TRVTableCellData* c10 = table->GetCells(1, 0);
  c10->AddTextItem("", 0, 0);
  TCellFocusBox* box10 = f.AddBox(c10);
  table->GetCells(1, 1)->AddTextItem("l11", 4, 0);
  view->RVData->AddItem("", table);
  view->RVData->AddTextItem("after", 4, 0);
  if (!f.Show()) GTEST_SKIP() << "the platform activates no window";

  TDocViewRVData& d = *view->RVData;
  TCustomRVFormattedData* v00 = c00->View();
  TCustomRVFormattedData* v10 = c10->View();
  TCustomRVFormattedData* v11 = table->GetCells(1, 1)->View();
  // Where the focus is: the focused widget and the document and item showing the Tab focus.
  using TPlace = std::tuple<QWidget*, TCustomRVFormattedData*, int32_t>;
  auto place = [&]() { return TPlace{QApplication::focusWidget(), d.TabNavRVData, d.TabNavItemNo}; };
  struct TStep {
    bool back;
    TPlace expected;
  };
  const std::vector<TStep> steps = {
      {false, {view, v00, 0}},   // from the control before the viewer: the first hyperlink
      {false, {box00, v00, 1}},  // the control of the same cell
      {false, {view, v00, 2}},   // Tab in it: the hyperlink after it in its cell
      {true, {box00, v00, 1}},   // Shift+Tab: the control again
      {true, {view, v00, 0}},    // Shift+Tab in it: the hyperlink before it
      {false, {box00, v00, 1}},
      {false, {view, v00, 2}},
      {false, {box10, v10, 1}},  // the control of a later cell
      {false, {view, v11, 0}},   // Tab in it: the next cell's hyperlink
      {true, {box10, v10, 1}},
      {true, {view, v00, 2}},    // Shift+Tab in it: the previous cells' last place
  };
  f.first->setFocus(Qt::OtherFocusReason);
  for (size_t i = 0; i < steps.size(); ++i) {
    SCOPED_TRACE(i);
    f.Tab(steps[i].back);
    EXPECT_EQ(place(), steps[i].expected);
    EXPECT_EQ(d.FocusedItem, 1);
  }
  // A control of a cell that got the focus by a click: Tab goes on after it, past the
  // table to the hyperlink after it, then to the next control of the form.
  f.Click(box10);
  f.Tab(false);
  EXPECT_EQ(place(), (TPlace{view, v11, 0}));
  f.Tab(false);
  EXPECT_EQ(place(), (TPlace{view, &d, 2}));
  EXPECT_EQ(d.FocusedItem, 2);
  f.Tab(false);
  EXPECT_EQ(QApplication::focusWidget(), f.last);
  // And Shift+Tab from the clicked control goes back to the cell before it.
  f.Click(box00);
  f.Tab(true);
  EXPECT_EQ(place(), (TPlace{view, v00, 0}));
  EXPECT_EQ(d.FocusedItem, 1);
}

// A control in a cell of a table inside a cell: the inner table answers for its own cell, so
// that Tab in the clicked control goes on in the inner table, then in the outer one.
TEST_F(TableViewTest, TabInAControlOfANestedTableGoesOnFromItsCell) {
  TTabForm f(&style);
  TCustomDocView* view = f.view;
  view->RVData->AddTextItem("before", 0, 0);
  table = new TRVTableItemInfo(view->RVData.get(), 1, 2);
  TRVTableCellData* outer00 = table->GetCells(0, 0);
  outer00->Clear();
  auto* inner = new TRVTableItemInfo(outer00, 1, 2);
  for (int32_t c = 0; c < 2; ++c) inner->GetCells(0, c)->Clear();
  inner->GetCells(0, 0)->AddTextItem("", 0, 0);
  TCellFocusBox* box = f.AddBox(inner->GetCells(0, 0));
  inner->GetCells(0, 1)->AddTextItem("li", 4, 0);
  outer00->AddItem("", inner);
  table->GetCells(0, 1)->Clear();
  table->GetCells(0, 1)->AddTextItem("lo", 4, 0);
  view->RVData->AddItem("", table);
  if (!f.Show()) GTEST_SKIP() << "the platform activates no window";

  TDocViewRVData& d = *view->RVData;
  f.Click(box);
  f.Tab(false);
  EXPECT_EQ(QApplication::focusWidget(), view);
  EXPECT_EQ(d.TabNavRVData, inner->GetCells(0, 1)->View());
  f.Tab(false);
  EXPECT_EQ(d.TabNavRVData, table->GetCells(0, 1)->View());
  f.Tab(true);
  f.Tab(true);  // back over the inner hyperlink to the control
  EXPECT_EQ(QApplication::focusWidget(), box);
  f.Tab(true);  // nothing before it: the control before the viewer
  EXPECT_EQ(QApplication::focusWidget(), f.first);
}

// A click into a control of another table takes the Tab focus away from the table that had it,
// whether its focus stood on a cell's hyperlink or on a cell's control: Shift+Tab from the
// clicked control then enters the first table from its end, not at its old focus cell.
TEST_F(TableViewTest, AClickIntoAnotherTablesControlLeavesTheFocusedTable) {
  for (bool on_control : {false, true}) {
    SCOPED_TRACE(on_control);
    TTabForm f(&style);
    TCustomDocView* view = f.view;
    view->RVData->AddTextItem("before", 0, 0);
    // Table 1: (0, 0) a hyperlink and a control, (0, 1) a hyperlink; plain text; table 3 with
    // a control in its only cell.
    auto* first_table = new TRVTableItemInfo(view->RVData.get(), 1, 2);
    first_table->CellPadding = 4;
    for (int32_t c = 0; c < 2; ++c) first_table->GetCells(0, c)->Clear();
    TRVTableCellData* a00 = first_table->GetCells(0, 0);
    a00->AddTextItem("a00", 4, 0);
    TCellFocusBox* box_a = f.AddBox(a00);
    TRVTableCellData* a01 = first_table->GetCells(0, 1);
    a01->AddTextItem("a01", 4, 0);
    view->RVData->AddItem("", first_table);
    view->RVData->AddTextItem("mid", 0, 0);
    auto* second_table = new TRVTableItemInfo(view->RVData.get(), 1, 1);
    second_table->CellPadding = 4;
    TRVTableCellData* b00 = second_table->GetCells(0, 0);
    b00->Clear();
    b00->AddTextItem("", 0, 0);
    TCellFocusBox* box_b = f.AddBox(b00);
    view->RVData->AddItem("", second_table);
    view->RVData->AddTextItem("after", 0, 0);
    if (!f.Show()) GTEST_SKIP() << "the platform activates no window";

    TDocViewRVData& d = *view->RVData;
    using TPlace = std::tuple<QWidget*, TCustomRVFormattedData*, int32_t, int32_t>;
    auto place = [&]() { return TPlace{QApplication::focusWidget(), d.TabNavRVData, d.TabNavItemNo, d.FocusedItem}; };
    f.first->setFocus(Qt::OtherFocusReason);
    f.Tab(false);
    if (on_control) f.Tab(false);
    ASSERT_EQ(place(), on_control ? TPlace(box_a, a00->View(), 1, 1) : TPlace(view, a00->View(), 0, 1));
    f.Click(box_b);
    f.Tab(true);
    EXPECT_EQ(place(), (TPlace{view, a01->View(), 0, 1}));
    // And on back from there, through the first table's cell before it.
    f.Tab(true);
    EXPECT_EQ(place(), (TPlace{box_a, a00->View(), 1, 1}));
  }
}

}  // namespace
}  // namespace pelvar
