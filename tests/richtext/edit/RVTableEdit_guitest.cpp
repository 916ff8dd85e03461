// Table interaction in an editor (offscreen, the test font): the cell editor opens over the
// clicked cell with the cell's items, closes giving them back, Tab in the last cell appends a
// row as one undo step, Ctrl+Z with nothing to undo in the cell undoes the main document (and
// never clears the application's read-only state), keyboard moves, cell selection by mouse and
// by border, border dragging, and the operations over selected cells.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QDropEvent>
#include <QMouseEvent>

#include "platform/application.h"
#include "platform/beep.h"
#include "richtext/edit/RVEdit.h"
#include "richtext/edit/RVTable.h"
#include "richtext/edit/RVTableInplace.h"
#include "richtext/edit/RVTableLayout.h"
#include "richtext/edit/RVTableStream.h"
#include "richtext/edit/RVTableUndo.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

class TableEditTest : public viewtest::TQtSuite {
 protected:
  void SetUp() override {
    previous_sink_ = SetBeepSink([this](uint32_t) { ++beeps; });
    while (style.TextStyles()->Count() < 3) style.TextStyles()->Add();
    style.TextStyles()->Items(1)->Style.Include(fsBold);
    while (style.ParaStyles()->Count() < 2) style.ParaStyles()->Add();
    Build();
  }
  void Build() {
    e = std::make_unique<TDocViewEdit>();
    e->SetTextMetrics(std::make_shared<viewtest::TTestFont>());
    e->SetStyle(&style);
    e->resize(500, 400);
    e->HandleNeeded();
    e->RVData->AddTextItem("before", 0, 0);
    table = new TRVTableItemInfo(e->RVData.get(), 3, 3);
    table->CellPadding = 4;
    for (int32_t r = 0; r < 3; ++r)
      for (int32_t c = 0; c < 3; ++c) {
        TRVTableCellData* cell = table->GetCells(r, c);
        cell->Clear();
        cell->AddTextItem("c" + std::to_string(r) + std::to_string(c), 0, 0);
      }
    e->RVData->AddItem("", table);
    e->RVData->AddTextItem("after", 0, 0);
    e->Format();
  }
  void TearDown() override {
    e.reset();
    SetBeepSink(std::move(previous_sink_));
  }
  // Posted messages and deferred deletions run.
  static void Pump() {
    for (int i = 0; i < 3; ++i) {
      Application()->ProcessMessages();
      QCoreApplication::processEvents();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
  }
  void Click(int32_t row, int32_t col) {
    TRVTableCellData* cell = table->GetCells(row, col);
    const int32_t x = cell->Left + cell->Width / 2, y = cell->Top + cell->Height / 2;
    table->MouseDown(rvmbLeft, rvssLeft, x, y, 1, e->RVData.get());
    table->MouseUp(rvmbLeft, 0, x, y, 1, e->RVData.get());
  }
  static std::string Text(TCustomRVData* d) {
    std::string s;
    for (int32_t i = 0; i < d->ItemCount(); ++i) s += d->GetItemTextRaw(i);
    return s;
  }
  TBeepSink previous_sink_;
  TRVStyle style{nullptr};
  int beeps = 0;
  std::unique_ptr<TDocViewEdit> e;
  TRVTableItemInfo* table = nullptr;
};

TEST_F(TableEditTest, ClickOpensEditorOverCellAndClosingGivesItemsBack) {
  ASSERT_EQ(table->TableState & 3, 3);
  Click(1, 2);
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  TRVTableCellData* cell = table->GetCells(1, 2);
  int32_t cx = 0, cy = 0;
  table->GetItemClientCoords(cx, cy);
  EXPECT_EQ(ed->geometry(), QRect(cx + cell->Left, cy + cell->Top, cell->Width, cell->Height));
  EXPECT_EQ(ed->LeftMargin, 4);
  EXPECT_EQ(ed->TopMargin, 4);
  EXPECT_EQ(ed->RightMargin, 4);
  EXPECT_EQ(ed->BottomMargin, 4);
  EXPECT_EQ(cell->ItemCount(), 0);
  EXPECT_EQ(Text(ed->RVData.get()), "c12");
  EXPECT_EQ(e->InplaceEdit(), ed);
  // Typing goes into the cell editor; closing puts the items back with the selection.
  ed->InsertText("x");
  EXPECT_EQ(Text(ed->RVData.get()), "c12x");  // the caret is where the click was
  table->CloseCellEditor(true);
  Pump();
  EXPECT_EQ(table->CellEditor, nullptr);
  EXPECT_EQ(Text(cell), "c12x");
  EXPECT_EQ(e->InplaceEdit(), nullptr);
  // The typing is one cell-modify step of the main document: undoing it opens the cell's
  // editor again and undoes the typing there.
  EXPECT_EQ(e->EditData()->UndoList->Count(), 1);
  e->Undo();
  Pump();
  ASSERT_NE(table->CellEditor, nullptr);
  EXPECT_EQ(table->CellEditor->Row, 1);
  EXPECT_EQ(table->CellEditor->Col, 2);
  EXPECT_EQ(Text(table->CellEditor->RVData.get()), "c12");
  EXPECT_NE(table->CellEditor->PendingRedoType(), rvutNone);
  // Redo from the main editor goes to the cell editor's pending redo.
  e->Redo();
  EXPECT_EQ(Text(table->CellEditor->RVData.get()), "c12x");
  table->CloseCellEditor(true);
  Pump();
  EXPECT_EQ(Text(table->GetCells(1, 2)), "c12x");
  EXPECT_EQ(e->EditData()->UndoList->Count(), 1);
}

TEST_F(TableEditTest, RefusedEditingKeepsEditorClosed) {
  table->OnCellEditing = [](TRVTableItemInfo*, int32_t, int32_t, bool, bool& allow) { allow = false; };
  Click(0, 0);
  EXPECT_EQ(table->CellEditor, nullptr);
}

TEST_F(TableEditTest, TabMovesAndAppendsCopiedRowInOneUndoStep) {
  table->GetCells(2, 2)->Color = clRed;
  Click(2, 1);
  ASSERT_NE(table->CellEditor, nullptr);
  QKeyEvent tab0(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
  QCoreApplication::sendEvent(table->CellEditor, &tab0);
  Pump();
  ASSERT_NE(table->CellEditor, nullptr);
  EXPECT_EQ(table->CellEditor->Row, 2);
  EXPECT_EQ(table->CellEditor->Col, 2);
  const int32_t groups = e->EditData()->UndoList->Count();
  QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
  QCoreApplication::sendEvent(table->CellEditor, &tab);
  Pump();
  ASSERT_EQ(table->RowCount(), 4);
  EXPECT_EQ(table->GetCells(3, 2)->Color, clRed);
  ASSERT_NE(table->CellEditor, nullptr);
  EXPECT_EQ(table->CellEditor->Row, 3);
  EXPECT_EQ(table->CellEditor->Col, 0);
  EXPECT_EQ(e->EditData()->UndoList->Count(), groups + 1);
  table->CloseCellEditor(true);
  e->Undo();
  EXPECT_EQ(table->RowCount(), 3);
  // Shift+Tab in the first cell beeps and stays.
  Click(0, 0);
  beeps = 0;
  QKeyEvent back(QEvent::KeyPress, Qt::Key_Backtab, Qt::ShiftModifier);
  QCoreApplication::sendEvent(table->CellEditor, &back);
  Pump();
  EXPECT_EQ(beeps, 1);
  ASSERT_NE(table->CellEditor, nullptr);
  EXPECT_EQ(table->CellEditor->Row, 0);
}

TEST_F(TableEditTest, CtrlZWithNothingInCellUndoesMainDocument) {
  e->EditData()->SetSelectionBounds(2, 6, 2, 6);
  e->InsertText("!");
  ASSERT_EQ(Text(e->RVData.get()), "beforeafter!");
  Click(0, 0);
  ASSERT_NE(table->CellEditor, nullptr);
  QKeyEvent z(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier);
  QCoreApplication::sendEvent(table->CellEditor, &z);
  // Nothing happens before the posted message is processed.
  EXPECT_EQ(Text(e->RVData.get()), "beforeafter!");
  Pump();
  EXPECT_EQ(Text(e->RVData.get()), "beforeafter");
  EXPECT_EQ(table->CellEditor, nullptr);
  EXPECT_EQ(Text(table->GetCells(0, 0)), "c00");
}

TEST_F(TableEditTest, UndoMessageKeepsApplicationReadOnly) {
  Click(0, 0);
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  ed->InsertText("y");
  e->SetReadOnly(true);
  EXPECT_TRUE(ed->GetReadOnly());
  PostMessage(ed->MessageHandle(), WM_RVINPLACEUNDO, 0, 0);
  Pump();
  EXPECT_TRUE(e->ReadOnly());
  ASSERT_EQ(table->CellEditor, ed);
  EXPECT_EQ(Text(ed->RVData.get()), "c00y");
}

TEST_F(TableEditTest, DraggingColumnBorder) {
  for (const bool shift : {false, true}) {
    SCOPED_TRACE(shift);
    Build();
    // Fixed columns: the table is as wide as they are and may grow.
    if (shift) {
      for (int32_t r = 0; r < 3; ++r)
        for (int32_t c = 0; c < 3; ++c) table->GetCells(r, c)->BestWidth = 100;
      e->Format();
    }
    const auto widths = table->Layout.ColumnWidths;
    const int32_t table_width = table->Layout.TableWidth;
    int32_t min_pos = 0, border = 0;
    const int32_t x = table->Layout.ColumnLefts[1] - 1;
    ASSERT_EQ(table->FindColumnBorder(x, min_pos, border), 1);
    const int32_t groups = e->EditData()->UndoList->Count();
    int32_t hr = 0, hc = 0;
    ASSERT_FALSE(table->FindCellAt(x, 10, hr, hc))
        << x << " " << table->GetCells(0, 0)->Left << " " << table->GetCells(0, 0)->Width;
    table->MouseDown(rvmbLeft, rvssLeft | (shift ? rvssShift : 0), x, 10, 1, e->RVData.get());
    table->MouseUp(rvmbLeft, 0, x + 20, 10, 1, e->RVData.get());
    EXPECT_EQ(table->Layout.ColumnWidths[0], widths[0] + 20);
    if (shift) {
      EXPECT_EQ(table->Layout.ColumnWidths[1], widths[1]);
      EXPECT_EQ(table->Layout.TableWidth, table_width + 20);
    } else {
      EXPECT_EQ(table->Layout.ColumnWidths[1], widths[1] - 20);
      EXPECT_EQ(table->Layout.TableWidth, table_width);
    }
    EXPECT_EQ(e->EditData()->UndoList->Count(), groups + 1);
    e->Undo();
    EXPECT_EQ(table->Layout.ColumnWidths, widths);
  }
}

TEST_F(TableEditTest, ApplyToSelectedCellsIsOneUndoStep) {
  table->SelectCellRange(1, 1, 1, 1);
  int32_t tr, lc, cc, rc;
  ASSERT_TRUE(table->GetCellSelectionRect(false, tr, lc, cc, rc));
  EXPECT_EQ(cc * rc, 4);
  EXPECT_TRUE(table->IsCellInSelection(2, 2));
  EXPECT_FALSE(table->IsCellInSelection(0, 2));
  table->OnCellEditing = [](TRVTableItemInfo*, int32_t r, int32_t c, bool, bool& allow) {
    allow = !(r == 2 && c == 2);
  };
  const int32_t groups = e->EditData()->UndoList->Count();
  table->ApplyToCells(1, 1, true);
  auto style_of = [&](int32_t r, int32_t c) { return table->GetCells(r, c)->GetItem(0)->StyleNo; };
  EXPECT_EQ(style_of(1, 1), 1);
  EXPECT_EQ(style_of(1, 2), 1);
  EXPECT_EQ(style_of(2, 1), 1);
  EXPECT_EQ(style_of(2, 2), 0);  // refused by OnCellEditing
  EXPECT_EQ(style_of(0, 0), 0);
  EXPECT_EQ(e->EditData()->UndoList->Count(), groups + 1);
  e->Undo();
  for (int32_t r = 0; r < 3; ++r)
    for (int32_t c = 0; c < 3; ++c) {
      EXPECT_EQ(style_of(r, c), 0) << r << c;
      EXPECT_EQ(Text(table->GetCells(r, c)), "c" + std::to_string(r) + std::to_string(c));
    }
}

TEST_F(TableEditTest, ArrowKeysMoveBetweenCellsAndOutOfTheTable) {
  struct Case {
    int32_t row, col;
    int key;
    bool to_end;       // the caret is put at the end of the cell's text first
    int32_t want_row;  // -1: the editor closed
    int32_t want_col;
    int32_t want_offs;  // offset of the table item in the main document when closed
  };
  const Case cases[] = {
      {0, 0, Qt::Key_Right, true, 0, 1, 0}, {0, 2, Qt::Key_Right, true, 1, 0, 0}, {2, 2, Qt::Key_Right, true, -1, 0, 1},
      {0, 1, Qt::Key_Up, false, -1, 0, 0},  {1, 1, Qt::Key_Down, true, 2, 1, 0},  {1, 0, Qt::Key_Left, false, 0, 2, 0},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.row) + "," + std::to_string(k.col) + " key " + std::to_string(k.key));
    ASSERT_TRUE(table->OpenCellEditor(-1, k.row, k.col, false, !k.to_end, k.to_end, false, false));
    QKeyEvent ev(QEvent::KeyPress, k.key, Qt::NoModifier);
    QCoreApplication::sendEvent(table->CellEditor, &ev);
    Pump();
    if (k.want_row < 0) {
      EXPECT_EQ(table->CellEditor, nullptr);
      int32_t si, ei, so, eo;
      e->EditData()->GetSelBounds(si, ei, so, eo, true);
      EXPECT_EQ(si, 1);
      EXPECT_EQ(so, k.want_offs);
    } else {
      ASSERT_NE(table->CellEditor, nullptr);
      EXPECT_EQ(table->CellEditor->Row, k.want_row);
      EXPECT_EQ(table->CellEditor->Col, k.want_col);
    }
    table->CloseCellEditor(true);
    Pump();
  }
  for (int32_t r = 0; r < 3; ++r)
    for (int32_t c = 0; c < 3; ++c) EXPECT_EQ(Text(table->GetCells(r, c)), "c" + std::to_string(r) + std::to_string(c));
}

// A style operation that fails half way leaves every cell with its items, and the cells
// changed before the failure can be taken back.
TEST_F(TableEditTest, ApplyToCellsFailingHalfWayLosesNothing) {
  int calls = 0;
  e->OnStyleConversion = [&](TCustomDocViewEdit*, int32_t, int32_t, bool, int32_t& new_style) {
    // A few calls per cell (the current style, the item): the failure comes in a later cell.
    if (++calls == 5) throw EDocViewError("conversion failed");
    new_style = 1;
  };
  table->SelectCellRange(0, 0, 2, 2);
  EXPECT_THROW(table->ApplyToCells(3, 0, true), EDocViewError);
  int32_t converted = 0;
  for (int32_t r = 0; r < 3; ++r)
    for (int32_t c = 0; c < 3; ++c) {
      TRVTableCellData* cell = table->GetCells(r, c);
      EXPECT_EQ(Text(cell), "c" + std::to_string(r) + std::to_string(c));
      converted += cell->GetItem(0)->StyleNo == 1;
    }
  EXPECT_GT(converted, 0);
  EXPECT_LT(converted, 9);
  EXPECT_EQ(e->EditData()->UndoList->GroupNesting, 0);
  e->Undo();
  for (int32_t r = 0; r < 3; ++r)
    for (int32_t c = 0; c < 3; ++c) EXPECT_EQ(table->GetCells(r, c)->GetItem(0)->StyleNo, 0) << r << c;
}

// A selection save writes the cell rectangle grown by a merged cell crossing it; the cells
// of the grown part that the selection does not touch come without content.
TEST_F(TableEditTest, SelectionSaveWritesSelectedCells) {
  table->MergeCells(0, 1, 1, 2);
  e->Format();
  table->SelectCellRange(1, 0, 2, 0);
  EXPECT_TRUE(table->IsPartiallySelected());
  TMemoryStream m;
  ASSERT_TRUE(e->RVData->SaveRVFToStream(m, true, nullptr, nullptr, clNone));
  m.SetPosition(0);
  TDocViewEdit other;
  other.SetStyle(&style);
  TColor color = clNone;
  ASSERT_TRUE(other.RVData->LoadRVFFromStream(m, color, nullptr, nullptr));
  ASSERT_EQ(other.RVData->ItemCount(), 1);
  auto* t = dynamic_cast<TRVTableItemInfo*>(other.RVData->GetItem(0));
  ASSERT_NE(t, nullptr);
  ASSERT_EQ(t->RowCount(), 2);
  ASSERT_EQ(t->ColCount(), 3);
  EXPECT_EQ(Text(t->GetCells(0, 0)), "");
  EXPECT_EQ(Text(t->GetCells(0, 1)), "c01c11");
  EXPECT_EQ(Text(t->GetCells(0, 2)), "");
  EXPECT_EQ(Text(t->GetCells(1, 0)), "c10");
  EXPECT_EQ(Text(t->GetCells(1, 2)), "c12");
}

size_t GridRectangles(TRecordingCanvas& canvas) {
  size_t n = 0;
  for (const TCanvasCall& c : canvas.Calls("Rectangle"))
    if (c.Pen.Style == psDot && c.Pen.Color == clBtnFace) ++n;
  return n;
}

// Selected cells are painted in the selection colour; a read-only editor shows no grid.
TEST_F(TableEditTest, CellSelectionColourAndReadOnlyGrid) {
  auto paint = [&](TRecordingCanvas& canvas) {
    table->PaintFullWidth(0, 500, 0, canvas, 0, &style, TRect{0, 0, 1024, 768});
  };
  auto filled_with = [](TRecordingCanvas& canvas, TColor color) {
    size_t n = 0;
    for (const TCanvasCall& c : canvas.Calls("FillRect")) n += c.Brush.Color() == color;
    return n;
  };
  style.SelColor = clRed;
  style.InactiveSelColor = clRed;
  TRecordingCanvas before(1024, 768, std::make_shared<viewtest::TTestFont>());
  paint(before);
  EXPECT_EQ(filled_with(before, clRed), 0u);
  EXPECT_EQ(GridRectangles(before), 10u);  // the frame and nine cells
  table->SelectCellRange(0, 0, 1, 0);
  TRecordingCanvas selected(1024, 768, std::make_shared<viewtest::TTestFont>());
  paint(selected);
  EXPECT_EQ(filled_with(selected, clRed), 2u);
  table->ClearCellSelection();
  e->SetReadOnly(true);
  TRecordingCanvas read_only(1024, 768, std::make_shared<viewtest::TTestFont>());
  paint(read_only);
  EXPECT_EQ(GridRectangles(read_only), 0u);
}

// Dragging from the edited cell into the next one turns the editor into a cell selection;
// the editor goes once the button is released and the cells keep their items.
TEST_F(TableEditTest, DraggingOutOfTheCellSelectsCells) {
  TRVTableCellData* a = table->GetCells(0, 0);
  TRVTableCellData* b = table->GetCells(0, 1);
  table->MouseDown(rvmbLeft, rvssLeft, a->Left + a->Width / 2, a->Top + a->Height / 2, 1, e->RVData.get());
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  const QPointF inside_b(b->Left + b->Width / 2 - a->Left, b->Top + b->Height / 2 - a->Top);
  QMouseEvent move(QEvent::MouseMove, inside_b, inside_b, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(ed, &move);
  EXPECT_TRUE(ed->CellSelected());
  EXPECT_TRUE(table->IsPartiallySelected());
  QMouseEvent up(QEvent::MouseButtonRelease, inside_b, inside_b, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(ed, &up);
  Pump();
  EXPECT_EQ(table->CellEditor, nullptr);
  EXPECT_FALSE(table->MouseSelecting);
  int32_t tr, lc, cc, rc;
  ASSERT_TRUE(table->GetCellSelectionRect(false, tr, lc, cc, rc));
  EXPECT_EQ(std::vector<int32_t>({tr, lc, cc, rc}), std::vector<int32_t>({0, 0, 2, 1}));
  EXPECT_EQ(Text(a), "c00");
  EXPECT_EQ(Text(b), "c01");
}

// The outer borders select whole rows (left) and columns (top), with their own cursors.
TEST_F(TableEditTest, OuterBordersSelectRowsAndColumns) {
  table->BorderWidth = 4;
  e->Format();
  TRVTableCellData* mid = table->GetCells(1, 1);
  const int32_t row_y = mid->Top + mid->Height / 2, col_x = mid->Left + mid->Width / 2;
  int32_t tr, lc, cc, rc;
  table->MouseMove(0, 1, row_y, 1, e->RVData.get());
  EXPECT_EQ(e->RVData->ShownCursor, crRVSelectRow);
  table->MouseDown(rvmbLeft, rvssLeft, 1, row_y, 1, e->RVData.get());
  table->MouseUp(rvmbLeft, 0, 1, row_y, 1, e->RVData.get());
  ASSERT_TRUE(table->GetCellSelectionRect(false, tr, lc, cc, rc));
  EXPECT_EQ(std::vector<int32_t>({tr, lc, cc, rc}), std::vector<int32_t>({1, 0, 3, 1}));
  table->MouseMove(0, col_x, 1, 1, e->RVData.get());
  EXPECT_EQ(e->RVData->ShownCursor, crRVSelectCol);
  table->MouseDown(rvmbLeft, rvssLeft, col_x, 1, 1, e->RVData.get());
  table->MouseUp(rvmbLeft, 0, col_x, 1, 1, e->RVData.get());
  ASSERT_TRUE(table->GetCellSelectionRect(false, tr, lc, cc, rc));
  EXPECT_EQ(std::vector<int32_t>({tr, lc, cc, rc}), std::vector<int32_t>({0, 1, 1, 3}));
  EXPECT_EQ(e->RVData->CaptureMouseItem, nullptr);
}

// Typing in a cell and then changing a table property: undo takes back the property first,
// the typing second.
TEST_F(TableEditTest, CellTypingGoesBeforeTablePropertyInUndo) {
  Click(0, 0);
  ASSERT_NE(table->CellEditor, nullptr);
  table->CellEditor->InsertText("t");
  table->SetCellPadding(7);
  EXPECT_EQ(table->CellPadding, 7);
  table->CloseCellEditor(true);
  Pump();
  e->Undo();
  EXPECT_EQ(table->CellPadding, 4);
  EXPECT_EQ(Text(table->GetCells(0, 0)), "c00t");
  e->Undo();
  Pump();
  ASSERT_NE(table->CellEditor, nullptr);
  EXPECT_EQ(Text(table->CellEditor->RVData.get()), "c00");
  table->CloseCellEditor(true);
  EXPECT_EQ(Text(table->GetCells(0, 0)), "c00");
}

// Deleting the row of the edited cell moves the editor to the same column of the row now
// in its place (or the last row).
TEST_F(TableEditTest, DeletingEditedRowReopensEditorNearby) {
  ASSERT_TRUE(table->OpenCellEditor(-1, 2, 1, false, true, false, false, false));
  table->DeleteRows(2, 1, false);
  Pump();
  ASSERT_EQ(table->RowCount(), 2);
  ASSERT_NE(table->CellEditor, nullptr);
  EXPECT_EQ(table->CellEditor->Row, 1);
  EXPECT_EQ(table->CellEditor->Col, 1);
  EXPECT_EQ(Text(table->CellEditor->RVData.get()), "c11");
  EXPECT_THROW(table->DeleteRows(0, 3, false), EDocViewError);
}

// A cell edit whose undo fails.
class TFailingUndo : public TRVUndoInfo {
 public:
  void Perform(TRVEditRVData*) override { throw EDocViewError("undo failed"); }
};

// Undoing several cells at once keeps every cell's items when one cell's undo fails.
TEST_F(TableEditTest, MultiCellUndoFailingKeepsItems) {
  TRVEditRVData* d = e->EditData();
  d->BeginUndoGroup(rvutModifyItem);
  auto rec = std::make_unique<TRVUndoMultiCellsModify>();
  rec->ItemNo = 1;
  rec->InnerList = std::make_unique<TRVUndoList>(d);
  for (int32_t c = 0; c < 2; ++c) {
    auto group = std::make_unique<TRVUndoInfos>();
    group->GroupType = rvutStyleNo;
    group->Records.push_back(std::make_unique<TFailingUndo>());
    rec->InnerList->AddGroup(group.release());
    rec->CellRows.push_back(0);
    rec->CellCols.push_back(c);
    rec->GroupCounts.push_back(1);
  }
  d->UndoList->AddInfo(rec.release());
  EXPECT_THROW(e->Undo(), EDocViewError);
  EXPECT_EQ(Text(table->GetCells(0, 0)), "c00");
  EXPECT_EQ(Text(table->GetCells(0, 1)), "c01");
}

// Typing new lines in the cell editor lays the table out again; the editor follows its cell.
TEST_F(TableEditTest, EditorFollowsGrowingCell) {
  ASSERT_TRUE(table->OpenCellEditor(-1, 1, 1, false, false, true, false, false));
  TRVTableInplaceEdit* ed = table->CellEditor;
  TRVTableCellData* cell = table->GetCells(1, 1);
  const int32_t h0 = cell->Height;
  const int32_t below0 = table->GetCells(2, 1)->Top;
  for (int i = 0; i < 3; ++i) {
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r");
    QCoreApplication::sendEvent(ed, &enter);
  }
  Pump();
  ASSERT_EQ(table->CellEditor, ed);
  EXPECT_GT(cell->Height, h0);
  EXPECT_GT(table->GetCells(2, 1)->Top, below0);
  int32_t cx = 0, cy = 0;
  table->GetItemClientCoords(cx, cy);
  EXPECT_EQ(ed->geometry(), QRect(cx + cell->Left, cy + cell->Top, cell->Width, cell->Height));
  EXPECT_TRUE(e->Modified);
}

TEST_F(TableEditTest, EnteringFromTheKeyboard) {
  EXPECT_TRUE(table->EnterFromKeyboard(1, 0));
  ASSERT_NE(table->CellEditor, nullptr);
  EXPECT_EQ(table->CellEditor->Row, 2);
  EXPECT_EQ(table->CellEditor->Col, 2);
  EXPECT_TRUE(table->EnterFromKeyboard(0, 0));
  ASSERT_NE(table->CellEditor, nullptr);
  EXPECT_EQ(table->CellEditor->Row, 0);
  EXPECT_EQ(table->CellEditor->Col, 0);
  table->Options.Exclude(rvtoEditing);
  table->CloseCellEditor(true);
  EXPECT_FALSE(table->EnterFromKeyboard(0, 0));
  EXPECT_EQ(table->CellEditor, nullptr);
}

// Without a control no editor can open: a cell editor's groups are undone on the cell's items.
TEST(TableEditNoControl, CellModifyUndoneOnTheCellItself) {
  TRVStyle style(nullptr);
  while (style.TextStyles()->Count() < 2) style.TextStyles()->Add();
  TRVEditRVData data;
  data.SetRVStyle(&style);
  data.AddTextItem("x", 0, 0);
  auto* t = new TRVTableItemInfo(&data, 1, 1);
  data.AddItem("", t);
  TRVTableCellData* cell = t->GetCells(0, 0);
  cell->Clear();
  cell->AddTextItem("a", 0, 0);
  data.BeginUndoGroup(rvutModifyItem);
  auto rec = std::make_unique<TRVUndoCellModify>();
  rec->ItemNo = 1;
  rec->InnerList = std::make_unique<TRVUndoList>(&data);
  {
    TRVTableTemporalEditorData temp(&data);
    temp.AppendFrom(cell);
    temp.BeginUndoGroup(rvutStyleNo);
    temp.RecSetStyleNo(0, 1);
    while (temp.UndoList->Count() > 0) rec->InnerList->AddGroup(temp.UndoList->ExtractGroup(0).release());
    cell->AppendFrom(&temp);
  }
  data.UndoList->AddInfo(rec.release());
  ASSERT_EQ(cell->GetItem(0)->StyleNo, 1);
  data.Undo();
  EXPECT_EQ(cell->GetItem(0)->StyleNo, 0);
  EXPECT_EQ(cell->GetItemTextRaw(0), "a");
  data.Redo();
  EXPECT_EQ(cell->GetItem(0)->StyleNo, 1);
}

// Deleting a cell selection empties the selected cells in one undo step; a protected item in
// one of them refuses the whole deletion.
TEST_F(TableEditTest, DeletingSelectedCells) {
  table->SelectCellRange(1, 1, 1, 0);
  const int32_t groups = e->EditData()->UndoList->Count();
  e->DeleteSelection();
  EXPECT_EQ(Text(table->GetCells(1, 1)), "");
  EXPECT_EQ(Text(table->GetCells(1, 2)), "");
  EXPECT_EQ(Text(table->GetCells(1, 0)), "c10");
  EXPECT_EQ(e->EditData()->UndoList->Count(), groups + 1);
  e->Undo();
  EXPECT_EQ(Text(table->GetCells(1, 1)), "c11");
  EXPECT_EQ(Text(table->GetCells(1, 2)), "c12");

  style.TextStyles()->Items(2)->Protection.Include(rvprDeleteProtect);
  table->GetCells(0, 1)->GetItem(0)->StyleNo = 2;
  table->SelectCellRange(0, 0, 1, 0);
  beeps = 0;
  e->DeleteSelection();
  EXPECT_GE(beeps, 1);
  EXPECT_EQ(Text(table->GetCells(0, 0)), "c00");
  EXPECT_EQ(Text(table->GetCells(0, 1)), "c01");
}

// A click elsewhere that takes the focus closes the editor and gives the items back.
TEST_F(TableEditTest, FocusTakenByAClickClosesEditor) {
  Click(0, 0);
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  QFocusEvent other(QEvent::FocusOut, Qt::OtherFocusReason);
  QCoreApplication::sendEvent(ed, &other);
  Pump();
  EXPECT_EQ(table->CellEditor, ed);
  QFocusEvent click(QEvent::FocusOut, Qt::MouseFocusReason);
  QCoreApplication::sendEvent(ed, &click);
  Pump();
  EXPECT_EQ(table->CellEditor, nullptr);
  EXPECT_EQ(Text(table->GetCells(0, 0)), "c00");
}

// Typing in a cell is a change of the main editor; deleting the table while its cell is
// edited keeps the cell's items with the table in the undo list (the cell's own history goes:
// a record naming the table's old index would undo another item).
TEST_F(TableEditTest, CellChangesReachMainEditorAndDeletedTableKeepsCellItems) {
  int changes = 0;
  e->OnChange = [&](TCustomDocViewEdit*) { ++changes; };
  Click(0, 0);
  ASSERT_NE(table->CellEditor, nullptr);
  table->CellEditor->InsertText("z");
  EXPECT_GE(changes, 1);
  EXPECT_TRUE(e->Modified);
  TRVEditRVData* d = e->EditData();
  d->BeginUndoGroup(rvutDelete);
  d->SetSelectionBounds(0, 1, 2, d->GetOffsAfterItem(2));
  ASSERT_TRUE(d->DeleteSelection());
  Pump();
  EXPECT_EQ(table->CellEditor, nullptr);
  e->Undo();
  auto* back = dynamic_cast<TRVTableItemInfo*>(d->GetItem(1));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(Text(back->GetCells(0, 0)), "c00z");
  // No record of the cell's typing names an index that another item holds now.
  EXPECT_NO_THROW(e->Undo());
}

void DragColumnBorder(TRVTableItemInfo* t, TCustomRVData* d, int32_t border, int32_t dx) {
  const int32_t x = t->Layout.ColumnLefts[static_cast<size_t>(border)] - 1;
  t->MouseDown(rvmbLeft, rvssLeft, x, 10, 1, d);
  t->MouseUp(rvmbLeft, 0, x + dx, 10, 1, d);
}

TEST_F(TableEditTest, ColumnDragSetsBestWidths) {
  // A percentage column stays a percentage column.
  for (int32_t r = 0; r < 3; ++r) table->GetCells(r, 0)->BestWidth = -20;
  e->Format();
  DragColumnBorder(table, e->RVData.get(), 1, 30);
  for (int32_t r = 0; r < 3; ++r) EXPECT_LT(table->GetCells(r, 0)->BestWidth, -20) << r;

  // A merged cell ending at the dragged column follows the one-column cells.
  Build();
  table->MergeCells(0, 0, 2, 1);
  table->GetCells(0, 0)->BestWidth = 150;
  e->Format();
  DragColumnBorder(table, e->RVData.get(), 2, 10);
  EXPECT_EQ(table->GetCells(0, 0)->BestWidth, 0);
  EXPECT_GT(table->GetCells(1, 1)->BestWidth, 0);

  // A read-only editor refuses: nothing changes and the capture is gone.
  Build();
  e->SetReadOnly(true);
  const auto widths = table->Layout.ColumnWidths;
  DragColumnBorder(table, e->RVData.get(), 1, 20);
  EXPECT_EQ(table->Layout.ColumnWidths, widths);
  EXPECT_EQ(table->GetCells(0, 0)->BestWidth, 0);
  EXPECT_EQ(e->RVData->CaptureMouseItem, nullptr);
  EXPECT_EQ(e->RVData->XorDrawingCallback, nullptr);
}

TEST_F(TableEditTest, RowDragSetsBestHeights) {
  const int32_t h0 = table->Layout.RowContentHeights[0];
  const int32_t y = table->Layout.RowTops[1] - 1;
  const int32_t x = table->GetCells(0, 0)->Left + 5;
  int32_t mn = 0, bp = 0;
  ASSERT_EQ(table->FindRowBorder(y, mn, bp), 1);
  table->MouseDown(rvmbLeft, rvssLeft, x, y, 1, e->RVData.get());
  table->MouseUp(rvmbLeft, 0, x, y + 15, 1, e->RVData.get());
  EXPECT_EQ(table->Layout.RowContentHeights[0], h0 + 15);
  for (int32_t c = 0; c < 3; ++c) EXPECT_EQ(table->GetCells(0, c)->BestHeight, h0 + 15) << c;
  e->Undo();
  EXPECT_EQ(table->Layout.RowContentHeights[0], h0);
}

TEST_F(TableEditTest, RightClickOnSelectedCellKeepsSelection) {
  table->SelectCellRange(0, 0, 1, 1);
  TRVTableCellData* cell = table->GetCells(1, 1);
  table->MouseDown(rvmbRight, 0, cell->Left + 5, cell->Top + 5, 1, e->RVData.get());
  EXPECT_TRUE(table->IsPartiallySelected());
  EXPECT_EQ(table->CellEditor, nullptr);
  TRVTableCellData* outside = table->GetCells(2, 2);
  table->MouseDown(rvmbRight, 0, outside->Left + 5, outside->Top + 5, 1, e->RVData.get());
  EXPECT_FALSE(table->IsPartiallySelected());
  ASSERT_NE(table->CellEditor, nullptr);
  EXPECT_EQ(table->CellEditor->Row, 2);
}

// A press in the cell editor fires the main control's OnRVMouseDown once the posted message
// is processed, in the main control's coordinates and with the table's item.
TEST_F(TableEditTest, CellMouseEventsReachMainControl) {
  std::vector<std::vector<int32_t>> downs;
  e->OnRVMouseDown = [&](TCustomDocView* sender, TMouseButton, TShiftState, int32_t item_no, int32_t x, int32_t y) {
    EXPECT_EQ(sender, e.get());
    downs.push_back({item_no, x, y});
  };
  TRVTableCellData* cell = table->GetCells(1, 1);
  const int32_t x = cell->Left + cell->Width / 2, y = cell->Top + cell->Height / 2;
  table->MouseDown(rvmbLeft, rvssLeft, x, y, 1, e->RVData.get());
  table->MouseUp(rvmbLeft, 0, x, y, 1, e->RVData.get());
  EXPECT_TRUE(downs.empty());
  Pump();
  int32_t cx = 0, cy = 0;
  table->GetItemClientCoords(cx, cy);
  ASSERT_EQ(downs.size(), 1u);
  EXPECT_EQ(downs[0], std::vector<int32_t>({1, cx + x, cy + y}));
}

// While a column border is dragged the table paints the resize line at the mouse.
TEST_F(TableEditTest, ResizeLineFollowsTheMouse) {
  const int32_t x = table->Layout.ColumnLefts[1] - 1;
  int32_t cx = 0, cy = 0;
  table->GetItemClientCoords(cx, cy);
  table->MouseDown(rvmbLeft, rvssLeft, x, 10, 1, e->RVData.get());
  e->RVData->MouseMove(rvssLeft, cx + x + 20, cy + 10);
  auto line_xs = [&] {
    TRecordingCanvas canvas(1024, 768, std::make_shared<viewtest::TTestFont>());
    table->PaintFullWidth(0, 500, 0, canvas, 0, &style, TRect{0, 0, 1024, 768});
    std::vector<int32_t> xs;
    for (const TCanvasCall& c : canvas.Calls("LineTo"))
      if (c.Pen.Color == clWindowText && c.Args.size() >= 2 && c.Args[1] == table->Layout.TableHeight)
        xs.push_back(c.Args[0]);
    return xs;
  };
  EXPECT_EQ(line_xs(), std::vector<int32_t>({x + 20}));
  // Not left of the dragged column.
  e->RVData->MouseMove(rvssLeft, cx - 50, cy + 10);
  EXPECT_EQ(line_xs(), std::vector<int32_t>({table->Layout.ColumnLefts[0]}));
  e->RVData->MouseUp(rvmbLeft, 0, cx + x + 20, cy + 10);
  EXPECT_TRUE(line_xs().empty());
}

// Links in cells work in a viewer and, through the cell editor, in a read-only editor: the
// jump number counts on from the document's links before the table, cell by cell.
TEST_F(TableEditTest, CellHyperlinksJumpWithTheirDocumentNumber) {
  style.TextStyles()->Items(2)->Jump = true;
  auto fill = [&](TCustomRVData* doc) {
    doc->AddTextItem("link0", 2, 0);
    auto* t = new TRVTableItemInfo(doc, 2, 2);
    t->CellPadding = 4;
    for (int32_t r = 0; r < 2; ++r)
      for (int32_t c = 0; c < 2; ++c) {
        t->GetCells(r, c)->Clear();
        t->GetCells(r, c)->AddTextItem("L" + std::to_string(r) + std::to_string(c), (r + c) % 2 ? 2 : 0, 0);
      }
    doc->AddItem("", t);
    doc->AddTextItem("link3", 2, 0);
    return t;
  };
  // In a viewer: link0 is 0, the cells (0,1) and (1,0) are 1 and 2, link3 is 3.
  TCustomDocView v;
  v.resize(400, 300);
  v.SetTextMetrics(std::make_shared<viewtest::TTestFont>());
  v.HandleNeeded();
  v.SetStyle(&style);
  TRVTableItemInfo* t = fill(v.RVData.get());
  v.Format();
  std::vector<int32_t> jumps;
  v.OnJump = [&](TCustomDocView*, int32_t id) { jumps.push_back(id); };
  int32_t cx = 0, cy = 0;
  t->GetItemClientCoords(cx, cy);
  auto click_cell = [&](TCustomRVFormattedData* d, int32_t x, int32_t y) {
    d->MouseDown(rvmbLeft, rvssLeft, x, y);
    d->MouseUp(rvmbLeft, 0, x, y);
  };
  for (auto [r, c] : {std::pair{1, 0}, {0, 1}, {0, 0}}) {
    TRVTableCellData* cell = t->GetCells(r, c);
    click_cell(v.RVData.get(), cx + cell->Left + 6, cy + cell->Top + 6);
  }
  EXPECT_EQ(jumps, std::vector<int32_t>({2, 1}));
  EXPECT_EQ(t->GetCells(1, 0)->GetItem(0)->JumpID, 2);
  EXPECT_EQ(v.RVData->GetItem(2)->JumpID, 3);

  // In a read-only editor the click opens the cell editor, whose link answers at once.
  e = std::make_unique<TDocViewEdit>();
  e->SetTextMetrics(std::make_shared<viewtest::TTestFont>());
  e->SetStyle(&style);
  e->resize(500, 400);
  e->HandleNeeded();
  table = fill(e->RVData.get());
  e->Format();
  e->SetReadOnly(true);
  jumps.clear();
  e->OnJump = [&](TCustomDocView*, int32_t id) { jumps.push_back(id); };
  TRVTableCellData* cell = table->GetCells(1, 0);
  table->MouseDown(rvmbLeft, rvssLeft, cell->Left + 6, cell->Top + 6, 1, e->RVData.get());
  table->MouseUp(rvmbLeft, 0, cell->Left + 6, cell->Top + 6, 1, e->RVData.get());
  ASSERT_NE(table->CellEditor, nullptr);
  Pump();
  click_cell(table->CellEditor->RVData.get(), 6, 6);
  Pump();
  EXPECT_EQ(jumps, std::vector<int32_t>({2}));

  // In an editable editor the links shown while Ctrl is held include the cells' links and
  // keep the document's numbering; the cell being edited (1,0) numbers its link 2 itself.
  e->SetReadOnly(false);
  e->EditData()->ShowJumps(true);
  std::vector<int32_t> ids;
  for (const auto& j : e->RVData->Jumps) ids.push_back(j->Id);
  EXPECT_EQ(ids, std::vector<int32_t>({0, 1, 3}));
}

// Inserted rows and columns can become the cell selection.
TEST_F(TableEditTest, InsertedRowsAndColumnsSelected) {
  int32_t tr, lc, cc, rc;
  table->InsertRows(1, 2, 0, true);
  ASSERT_TRUE(table->GetCellSelectionRect(false, tr, lc, cc, rc));
  EXPECT_EQ(std::vector<int32_t>({tr, lc, cc, rc}), std::vector<int32_t>({1, 0, 3, 2}));
  table->InsertCols(3, 1, -1, true);
  ASSERT_TRUE(table->GetCellSelectionRect(false, tr, lc, cc, rc));
  EXPECT_EQ(std::vector<int32_t>({tr, lc, cc, rc}), std::vector<int32_t>({0, 3, 1, 5}));
}

// A table is selected as a whole when the document's selection runs across it; a right click
// in it then keeps the selection (and opens no cell editor), otherwise it moves the selection
// to just after the table.
TEST_F(TableEditTest, RightClickKeepsOrMovesTheDocumentSelection) {
  TCustomDocView v;
  v.resize(400, 300);
  v.SetTextMetrics(std::make_shared<viewtest::TTestFont>());
  v.HandleNeeded();
  v.SetStyle(&style);
  v.RVData->AddTextItem("before", 0, 0);
  auto* t = new TRVTableItemInfo(v.RVData.get(), 2, 2);
  v.RVData->AddItem("", t);
  v.RVData->AddTextItem("after", 0, 0);
  v.Format();
  ASSERT_TRUE(v.RVData->GetOptions().Contains(rvoRClickDeselects));
  struct Case {
    int32_t si, so, ei, eo;
    bool whole;
  };
  for (const Case& k : {Case{0, 3, 2, 2, true}, Case{1, 0, 1, 1, true}, Case{0, 1, 1, 0, false},
                        Case{1, 1, 2, 3, false}, Case{0, 1, 0, 4, false}}) {
    SCOPED_TRACE(std::to_string(k.si) + ":" + std::to_string(k.so) + "-" + std::to_string(k.ei) + ":" +
                 std::to_string(k.eo));
    v.RVData->SetSelectionBounds(k.si, k.so, k.ei, k.eo);
    EXPECT_EQ(t->IsSelectedAsWhole(), k.whole);
    int32_t cx = 0, cy = 0;
    t->GetItemClientCoords(cx, cy);
    TRVTableCellData* cell = t->GetCells(1, 0);  // the table's left half
    const int32_t x = cx + cell->Left + 3, y = cy + cell->Top + 3;
    v.RVData->MouseDown(rvmbRight, 0, x, y);
    v.RVData->MouseUp(rvmbRight, 0, x, y);
    int32_t si, ei, so, eo;
    v.RVData->GetSelBounds(si, ei, so, eo, true);
    if (k.whole)
      EXPECT_EQ(std::vector<int32_t>({si, so, ei, eo}), std::vector<int32_t>({k.si, k.so, k.ei, k.eo}));
    else
      EXPECT_EQ(std::vector<int32_t>({si, so, ei, eo}), std::vector<int32_t>({1, 1, 1, 1}));
  }
  // In an editor a right click into a table selected as a whole opens no cell editor.
  e->RVData->SetSelectionBounds(0, 1, 2, 3);
  TRVTableCellData* cell = table->GetCells(1, 1);
  table->MouseDown(rvmbRight, 0, cell->Left + 5, cell->Top + 5, 1, e->RVData.get());
  EXPECT_EQ(table->CellEditor, nullptr);
  EXPECT_TRUE(table->IsSelectedAsWhole());
}

// The editor of a cell whose content stands lower than its top (middle alignment in a taller
// row) starts where the content starts and reaches the cell's bottom, so that the text stays
// where the cell showed it.
TEST_F(TableEditTest, EditorOfAMiddleAlignedCellStartsAtItsContent) {
  TRVTableCellData* tall = table->GetCells(1, 1);
  tall->Clear();
  for (const char* line : {"a", "b", "c", "d"}) tall->AddTextItem(line, 0, 0);
  TRVTableCellData* cell = table->GetCells(1, 2);
  cell->VAlign = rvcMiddle;
  e->Format();
  const int32_t offset = table->CellContentTop(cell) - table->CellPadding;
  ASSERT_GT(offset, 0);
  int32_t text_y = 0;
  {
    int32_t cx = 0, cy = 0;
    table->GetItemClientCoords(cx, cy);
    text_y = cy + cell->Top + table->CellContentTop(cell) + cell->View()->DrawLines[0]->Top;
  }
  Click(1, 2);
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  int32_t cx = 0, cy = 0;
  table->GetItemClientCoords(cx, cy);
  EXPECT_EQ(ed->geometry(), QRect(cx + cell->Left, cy + cell->Top + offset, cell->Width, cell->Height - offset));
  // The text is where the cell showed it.
  EXPECT_EQ(ed->y() + ed->RVData->DrawLines[0]->Top - ed->RVData->GetVOffs(), text_y);
  table->CloseCellEditor(true);
  Pump();
}

// The click that opens the cell editor is the first click of a double click: a press in the
// editor within the double-click time completes it, a later one is a plain press.
TEST_F(TableEditTest, PressSoonAfterOpeningClickIsDoubleClick) {
  int64_t now = 1000;
  TRVTableInplaceEdit::ClickClock = [&] { return now; };
  std::vector<std::string> words;
  e->OnRVDblClick = [&](TCustomDocView*, const AnsiString& word, int32_t) { words.push_back(word); };
  auto press = [&] {
    const QPointF p(6, 6);
    QMouseEvent down(QEvent::MouseButtonPress, p, p, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent up(QEvent::MouseButtonRelease, p, p, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(table->CellEditor, &down);
    QApplication::sendEvent(table->CellEditor, &up);
    Pump();
  };
  for (const auto& [delay, second_press] :
       {std::pair{int64_t{100}, true}, {int64_t{QApplication::doubleClickInterval()}, false}}) {
    SCOPED_TRACE(delay);
    words.clear();
    now = 1000;
    Click(1, 1);
    Pump();
    ASSERT_NE(table->CellEditor, nullptr);
    EXPECT_EQ(table->CellEditor->LastClickTime, 1000);
    now += delay;
    press();
    EXPECT_EQ(words, second_press ? std::vector<std::string>({"c11"}) : std::vector<std::string>());
    EXPECT_EQ(table->CellEditor->LastClickTime, 0);
    // Once used, the opening click counts no more.
    words.clear();
    press();
    EXPECT_TRUE(words.empty());
    table->CloseCellEditor(true);
    Pump();
  }
  TRVTableInplaceEdit::ClickClock = nullptr;
}

// A table inside a cell gets its own cell editor, inside the outer cell's editor, once the
// outer cell is edited; closing both gives every item back.
TEST_F(TableEditTest, NestedTableGetsItsCellEditor) {
  TRVTableCellData* outer_cell = table->GetCells(1, 1);
  outer_cell->Clear();
  outer_cell->AddTextItem("x", 0, 0);
  auto* inner = new TRVTableItemInfo(outer_cell, 2, 2);
  inner->CellPadding = 2;
  for (int32_t r = 0; r < 2; ++r)
    for (int32_t c = 0; c < 2; ++c) {
      inner->GetCells(r, c)->Clear();
      inner->GetCells(r, c)->AddTextItem("n" + std::to_string(r) + std::to_string(c), 0, 0);
    }
  outer_cell->AddItem("", inner);
  e->Format();
  TRVTableCellData* target = inner->GetCells(1, 0);
  const int32_t tx = outer_cell->Left + 6, ty = outer_cell->Top + 6;
  table->MouseDown(rvmbLeft, rvssLeft, tx, ty, 1, e->RVData.get());
  table->MouseUp(rvmbLeft, 0, tx, ty, 1, e->RVData.get());
  Pump();
  ASSERT_NE(table->CellEditor, nullptr);
  TRVTableInplaceEdit* outer_editor = table->CellEditor;
  int32_t ix = 0, iy = 0;
  inner->GetItemClientCoords(ix, iy);
  const int32_t x = ix + target->Left + target->Width / 2, y = iy + target->Top + target->Height / 2;
  outer_editor->RVData->MouseDown(rvmbLeft, rvssLeft, x, y);
  outer_editor->RVData->MouseUp(rvmbLeft, 0, x, y);
  Pump();
  ASSERT_NE(inner->CellEditor, nullptr);
  EXPECT_EQ(inner->CellEditor->parentWidget(), outer_editor);
  EXPECT_EQ(inner->CellEditor->Row, 1);
  EXPECT_EQ(Text(inner->CellEditor->RVData.get()), "n10");
  EXPECT_EQ(inner->CellEditor->x(), ix + target->Left);
  // A right click on the edited cell while its document edits a cell of its own leaves both
  // editors open.
  ASSERT_TRUE(e->RVData->GetOptions().Contains(rvoRClickDeselects));
  table->MouseUp(rvmbRight, 0, tx, ty, 1, e->RVData.get());
  Pump();
  EXPECT_EQ(table->CellEditor, outer_editor);
  ASSERT_NE(inner->CellEditor, nullptr);
  table->CloseCellEditor(true);
  Pump();
  EXPECT_EQ(inner->CellEditor, nullptr);
  EXPECT_EQ(Text(target), "n10");
  EXPECT_EQ(Text(outer_cell), "x");
}

// A mouse event sent to a widget at a client point.
void SendMouse(QWidget* w, QEvent::Type type, int32_t x, int32_t y, Qt::MouseButton button = Qt::LeftButton,
               Qt::MouseButtons buttons = Qt::LeftButton) {
  const QPointF p(x, y);
  QMouseEvent ev(type, p, w->mapToGlobal(p), button, buttons, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &ev);
}

// Text and paragraph styles reach the cells by every way the cells can be selected (the grid
// call, a click on the table's left border, a mouse drag from one cell into another, and a
// selection running across the whole table), each as one undo step that undo takes back whole.
TEST_F(TableEditTest, StylesReachSelectedCellsByEverySelectionRoute) {
  struct TRoute {
    const char* name;
    std::function<void()> select;
    std::vector<std::pair<int32_t, int32_t>> cells;  // the cells that must change
  };
  auto client = [&](int32_t& cx, int32_t& cy) { table->GetItemClientCoords(cx, cy); };
  const std::vector<TRoute> routes = {
      {"SelectCellRange", [&] { table->SelectCellRange(1, 1, 1, 1); }, {{1, 1}, {1, 2}, {2, 1}, {2, 2}}},
      {"left border",
       [&] {
         int32_t cx, cy;
         client(cx, cy);
         TRVTableCellData* mid = table->GetCells(1, 1);
         const int32_t y = cy + mid->Top + mid->Height / 2;
         SendMouse(e.get(), QEvent::MouseMove, cx + 1, y, Qt::NoButton, Qt::NoButton);
         SendMouse(e.get(), QEvent::MouseButtonPress, cx + 1, y);
         SendMouse(e.get(), QEvent::MouseButtonRelease, cx + 1, y, Qt::LeftButton, Qt::NoButton);
         Pump();
       },
       {{1, 0}, {1, 1}, {1, 2}}},
      {"mouse drag",
       [&] {
         int32_t cx, cy;
         client(cx, cy);
         TRVTableCellData* a = table->GetCells(0, 0);
         TRVTableCellData* b = table->GetCells(0, 1);
         SendMouse(e.get(), QEvent::MouseButtonPress, cx + a->Left + a->Width / 2, cy + a->Top + a->Height / 2);
         Pump();
         TRVTableInplaceEdit* ed = table->CellEditor;
         ASSERT_NE(ed, nullptr);
         const int32_t x = b->Left + b->Width / 2 - a->Left, y = b->Top + b->Height / 2 - a->Top;
         SendMouse(ed, QEvent::MouseMove, x, y, Qt::NoButton, Qt::LeftButton);
         SendMouse(ed, QEvent::MouseButtonRelease, x, y, Qt::LeftButton, Qt::NoButton);
         Pump();
       },
       {{0, 0}, {0, 1}}},
      {"across the table",
       [&] { e->SetSelectionBounds(0, 3, 2, 3); },
       {{0, 0}, {0, 1}, {0, 2}, {1, 0}, {1, 1}, {1, 2}, {2, 0}, {2, 1}, {2, 2}}},
  };
  for (const bool text : {true, false})
    for (const TRoute& route : routes) {
      SCOPED_TRACE(std::string(route.name) + (text ? " text" : " para"));
      table->BorderWidth = 4;
      e->Format();
      route.select();
      Pump();
      const int32_t groups = e->EditData()->UndoList->Count();
      if (text)
        ASSERT_NO_THROW(e->SetSelectionTextStyle(1));
      else
        ASSERT_NO_THROW(e->SetSelectionParaStyle(1));
      Pump();
      auto value = [&](int32_t r, int32_t c) {
        TCustomRVItemInfo* item = table->GetCells(r, c)->GetItem(0);
        return text ? item->StyleNo : item->ParaNo;
      };
      for (int32_t r = 0; r < 3; ++r)
        for (int32_t c = 0; c < 3; ++c) {
          const bool wanted =
              std::find(route.cells.begin(), route.cells.end(), std::make_pair(r, c)) != route.cells.end();
          EXPECT_EQ(value(r, c), wanted ? 1 : 0) << r << c;
        }
      EXPECT_EQ(e->EditData()->UndoList->Count(), groups + 1);
      e->Undo();
      Pump();
      for (int32_t r = 0; r < 3; ++r)
        for (int32_t c = 0; c < 3; ++c) {
          EXPECT_EQ(value(r, c), 0) << "after undo " << r << c;
          EXPECT_EQ(Text(table->GetCells(r, c)), "c" + std::to_string(r) + std::to_string(c));
        }
      Build();
    }
}

// The cell editor stays over its cell when the control is resized (the table's columns
// follow the control's width) and when the document scrolls.
TEST_F(TableEditTest, EditorFollowsItsCellOnResizeAndScroll) {
  table->BestWidth = -100;
  e->show();
  e->Format();
  Click(0, 2);
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  auto cell_rect = [&] {
    TRVTableCellData* cell = table->GetCells(0, 2);
    int32_t cx = 0, cy = 0;
    table->GetItemClientCoords(cx, cy);
    return QRect(cx + cell->Left, cy + cell->Top, cell->Width, cell->Height);
  };
  const QRect before = ed->geometry();
  e->resize(300, 60);
  Pump();
  ASSERT_EQ(table->CellEditor, ed);
  EXPECT_NE(ed->geometry(), before);
  EXPECT_EQ(ed->geometry(), cell_rect());
  // Typing still goes to the cell under the editor, at the caret it had.
  ed->InsertText("q");
  EXPECT_EQ(Text(ed->RVData.get()), "c02q");
  ASSERT_GT(e->YSize, e->VScrollPage);
  e->SetVPos(2, true);
  ASSERT_EQ(e->VPos, 2);
  EXPECT_EQ(ed->geometry(), cell_rect());
  e->SetVPos(0, true);
  EXPECT_EQ(ed->geometry(), cell_rect());
}

// InvalidateChain repaints the editor and the open cell editor; RefreshChain reaches the cell
// editor while the background needs whole repaints.
TEST_F(TableEditTest, InvalidateChainReachesTheCellEditor) {
  e->show();
  Click(1, 1);
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  Pump();
  int32_t main_paints = 0, cell_paints = 0;
  e->OnPaint = [&](TCustomDocView*, TCanvas&, bool) { ++main_paints; };
  ed->OnPaint = [&](TCustomDocView*, TCanvas&, bool) { ++cell_paints; };
  e->InvalidateChain();
  Pump();
  EXPECT_GT(main_paints, 0);
  EXPECT_GT(cell_paints, 0);
  cell_paints = 0;
  e->FullRedraw = true;
  e->RefreshChain(false);
  EXPECT_GT(cell_paints, 0);
  e->FullRedraw = false;
  e->hide();
}

// A fake inserted control (the item reads and sets its size through it).
class TCellControl : public TObject, public TRVControlSize {
 public:
  int32_t ControlWidth() const override { return 30; }
  int32_t ControlHeight() const override { return 12; }
  void SetControlWidth(int32_t) override {}
};

// The table's sub-document hooks: the cell under a point, the corners of the selection, the
// owner of a control and of the cell editor, choosing a cell (which opens its editor with the
// cell's selection kept), the chosen cell's selection and dropping the chosen cell.
TEST_F(TableEditTest, SubDocumentHooksChooseAndDropCells) {
  auto* control = new TCellControl;  // the item's from now on
  auto* item = new TRVControlItemInfo(table->GetCells(2, 1));
  item->StyleNo = rvsComponent;
  item->ParaNo = 0;
  item->Control = control;
  table->GetCells(2, 1)->AddItem("ctl", item);
  e->Format();
  int32_t r = -1, c = -1, k = -1;
  EXPECT_TRUE(table->OwnsControl(control));
  ASSERT_TRUE(table->FindCellOfControl(control, r, c, k));
  EXPECT_EQ(std::vector<int32_t>({r, c, k}), std::vector<int32_t>({2, 1, 1}));
  TCellControl other;
  EXPECT_FALSE(table->OwnsControl(&other));

  TRVTableCellData* mid = table->GetCells(1, 1);
  EXPECT_EQ(table->GetSubRVDataAt(mid->Left + mid->Width / 2, mid->Top + mid->Height / 2), mid);
  EXPECT_EQ(table->GetSubRVDataAt(-5, -5), nullptr);

  table->SelectCellRange(0, 1, 1, 1);
  std::unique_ptr<TRVStoreSubRVData> state;
  EXPECT_EQ(table->GetSubRVData(state, rvdChosenDown), table->GetCells(1, 2));
  auto* pos = dynamic_cast<TRVTableStoreSubRVData*>(state.get());
  ASSERT_NE(pos, nullptr);
  EXPECT_EQ(std::make_pair(pos->Row, pos->Col), std::make_pair(1, 2));
  EXPECT_EQ(table->GetSubRVData(state, rvdChosenUp), table->GetCells(0, 1));
  table->ClearCellSelection();
  EXPECT_EQ(table->GetSubRVData(state, rvdChosenUp), nullptr);
  EXPECT_EQ(state, nullptr);

  // Choosing (2, 0) opens its editor there; the document's selection goes after the table.
  TRVTableStoreSubRVData at(2, 0);
  table->ChooseSubRVData(&at);
  Pump();
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  EXPECT_EQ(std::make_pair(ed->Row, ed->Col), std::make_pair(2, 0));
  EXPECT_EQ(std::make_pair(table->ChosenRow, table->ChosenCol), std::make_pair(2, 0));
  EXPECT_TRUE(table->OwnsInplaceEditor(ed));
  EXPECT_EQ(e->InplaceEdit(), ed);
  EXPECT_EQ(table->GetSubRVData(state, rvdChosenDown), ed->Cell);
  TRVTableCellData* edited = table->GetCells(2, 0);
  EXPECT_EQ(table->GetSubRVDataAt(edited->Left + 3, edited->Top + 3), ed->RVData.get());
  EXPECT_FALSE(table->ChosenCellHasSelection());
  ed->RVData->SetSelectionBounds(0, 1, 0, 3);
  EXPECT_TRUE(table->ChosenCellHasSelection());
  table->DropChosenCell();
  Pump();
  EXPECT_EQ(table->CellEditor, nullptr);
  EXPECT_EQ(table->ChosenRow, -1);
  EXPECT_EQ(Text(edited), "c20");
  EXPECT_FALSE(table->ChosenCellHasSelection());
}

// A table inside a cell: choosing one of its cells first opens the outer cell's editor.
TEST_F(TableEditTest, ChoosingANestedCellOpensTheOuterEditorFirst) {
  TRVTableCellData* outer_cell = table->GetCells(0, 1);
  auto* inner = new TRVTableItemInfo(outer_cell, 1, 2);
  for (int32_t c = 0; c < 2; ++c) {
    inner->GetCells(0, c)->Clear();
    inner->GetCells(0, c)->AddTextItem("n" + std::to_string(c), 0, 0);
  }
  outer_cell->AddItem("", inner);
  e->Format();
  inner->ChooseCell(0, 1);
  Pump();
  ASSERT_NE(table->CellEditor, nullptr);
  EXPECT_EQ(table->CellEditor->Col, 1);
  ASSERT_NE(inner->CellEditor, nullptr);
  EXPECT_EQ(inner->CellEditor->Col, 1);
  EXPECT_EQ(Text(inner->CellEditor->RVData.get()), "n1");
  table->CloseCellEditor(true);
  Pump();
}

// Mouse moves over the cell editor reach the main control's OnMouseMove in its coordinates.
TEST_F(TableEditTest, CellEditorMouseMovesReachTheMainControl) {
  std::vector<std::pair<int32_t, int32_t>> moves;
  e->OnMouseMove = [&](TCustomDocView* sender, TShiftState, int32_t x, int32_t y) {
    EXPECT_EQ(sender, e.get());
    moves.emplace_back(x, y);
  };
  Click(1, 1);
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  moves.clear();
  SendMouse(ed, QEvent::MouseMove, 3, 4, Qt::NoButton, Qt::NoButton);
  ASSERT_EQ(moves.size(), 1u);
  EXPECT_EQ(moves[0], std::make_pair(ed->x() + 3, ed->y() + 4));
}

// A drag that no drop target takes (data the editor does not read) goes to the control's
// OnDragOver and, once accepted, its drop to OnDragDrop; over a cell editor both reach the
// main control's handlers in the main control's coordinates, and the cell keeps its text.
TEST_F(TableEditTest, DragEventsOverTheCellEditorReachTheMainControl) {
  std::vector<std::string> seen;
  e->OnDragOver = [&](TCustomDocView* sender, TObject* source, int32_t x, int32_t y,
                      TRVScroller::TDragState state, bool& accept) {
    EXPECT_EQ(sender, e.get());
    EXPECT_EQ(source, nullptr);
    seen.push_back("over" + std::to_string(int(state)) + ":" + std::to_string(x) + "," + std::to_string(y));
    accept = x >= 100;  // only the right part takes drops
  };
  e->OnDragDrop = [&](TCustomDocView* sender, TObject*, int32_t x, int32_t y) {
    EXPECT_EQ(sender, e.get());
    seen.push_back("drop:" + std::to_string(x) + "," + std::to_string(y));
  };
  Click(1, 1);
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  for (QWidget* w : {static_cast<QWidget*>(ed), static_cast<QWidget*>(e.get())}) {
    SCOPED_TRACE(w == ed ? "cell editor" : "main editor");
    seen.clear();
    const int32_t dx = w == ed ? ed->x() : 0, dy = w == ed ? ed->y() : 0;
    const int32_t refused_x = 90 - dx, taken_x = 110 - dx, y = 3;
    QMimeData mime;
    mime.setData("application/x-pelvar-unknown", "data");
    QDragEnterEvent enter(QPoint(refused_x, y), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &enter);
    EXPECT_TRUE(enter.isAccepted());  // the moves keep coming
    QDragMoveEvent move(QPoint(taken_x, y), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &move);
    EXPECT_TRUE(move.isAccepted());
    QDropEvent drop(QPointF(taken_x, y), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &drop);
    EXPECT_TRUE(drop.isAccepted());
    const std::string Y = std::to_string(dy + y);
    EXPECT_EQ(seen, std::vector<std::string>({"over0:90," + Y, "over2:110," + Y, "drop:110," + Y}));
  }
  EXPECT_EQ(Text(ed->RVData.get()), "c11");
}

// The editor of a transparent cell shows the table's background picture under the text, as
// the cell shows it when it is not edited.
TEST_F(TableEditTest, TransparentCellEditorShowsTheTableBackground) {
  table->AssignBackgroundImage(std::make_unique<TBitmap>(8, 8, 0xFFCC2211u));
  table->SetBackgroundStyle(rvbsTiled);
  table->Color = clNone;
  e->Format();
  Click(1, 1);
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  ASSERT_TRUE(ed->Transparent);
  const QImage shot = ed->grab().toImage();
  // A pixel of the padding, where no text is drawn.
  EXPECT_EQ(shot.pixelColor(1, 1).rgb() & 0xFFFFFFu, 0xCC2211u);
}

// Choosing another sub-document frees the open cell editor (its items go back to the cell);
// the focus of the chain counts the cell editor; a scroller being destroyed (or one around
// it) is seen from the cell editor inside it; the form's focused control is set only for a
// control that takes the focus.
TEST_F(TableEditTest, InplaceEditorChainDestroyAndFocus) {
  e->show();
  e->activateWindow();
  Click(0, 0);
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  ed->setFocus();
  Pump();
  if (ed->hasFocus()) {
    EXPECT_FALSE(e->hasFocus());
    EXPECT_TRUE(e->ChainFocused());
    EXPECT_FALSE(ed->ChainFocused() && !ed->hasFocus());
  }
  EXPECT_FALSE(ScrollerChainDestroying(ed));
  e->Destroying = true;
  EXPECT_TRUE(ScrollerChainDestroying(ed));
  e->Destroying = false;

  auto* other = dynamic_cast<TCustomRVFormattedData*>(table->GetCells(1, 1)->View());
  ASSERT_NE(other, nullptr);
  e->AssignChosenRVData(other, table);
  Pump();
  EXPECT_EQ(table->CellEditor, nullptr);
  EXPECT_EQ(e->InplaceEdit(), nullptr);
  EXPECT_EQ(Text(table->GetCells(0, 0)), "c00");
  EXPECT_EQ(e->ChosenRVData, other);
  e->UnassignChosenRVData(other);
  EXPECT_EQ(e->ChosenRVData, nullptr);

  QWidget form;
  auto* takes = new QWidget(&form);
  takes->setFocusPolicy(Qt::StrongFocus);
  auto* never = new QWidget(&form);
  never->setFocusPolicy(Qt::NoFocus);
  FocusControlInForm(never);
  EXPECT_EQ(form.focusWidget(), nullptr);
  FocusControlInForm(takes);
  EXPECT_EQ(form.focusWidget(), takes);
}

// Whether a selection exists: selected cells count (unless only the document's own selection
// is asked for), and while a cell is edited the cell's selection is the answer.
TEST_F(TableEditTest, SelectionExistsWithSelectedCellsAndInTheEditedCell) {
  EXPECT_FALSE(e->SelectionExists());
  table->SelectCellRange(0, 0, 1, 0);
  EXPECT_TRUE(e->SelectionExists());
  EXPECT_FALSE(e->RVData->SelectionExists(false, false));
  Click(1, 1);
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  EXPECT_FALSE(e->SelectionExists());
  ed->RVData->SetSelectionBounds(0, 1, 0, 3);
  EXPECT_TRUE(e->SelectionExists());
}

// Closing the cell editor keeps what can still be redone: after several cell edits, each
// closed into a step of the main document, undone from the main editor and one of them
// redone (which opens the cell editor and redoes there), the main editor's redo list still
// holds the rest when the cell editor closes, and redoing them brings every edit back.
TEST_F(TableEditTest, ClosingTheCellEditorKeepsTheRedoList) {
  const int kEdits = 5;
  for (int k = 0; k < kEdits; ++k) {
    Click(1, 1);
    ASSERT_NE(table->CellEditor, nullptr);
    table->CellEditor->InsertText(std::to_string(k));
    table->CloseCellEditor(true);
    Pump();
  }
  const std::string full = Text(table->GetCells(1, 1));
  ASSERT_EQ(full, "c1101234");
  ASSERT_EQ(e->EditData()->UndoList->Count(), kEdits);
  for (int k = 0; k < kEdits; ++k) {
    e->Undo();
    Pump();
  }
  if (table->CellEditor) {
    table->CloseCellEditor(true);
    Pump();
  }
  ASSERT_EQ(Text(table->GetCells(1, 1)), "c11");
  const int32_t redo_groups = e->EditData()->RedoList->Count();
  ASSERT_GT(redo_groups, 0);
  e->Redo();
  Pump();
  if (table->CellEditor) {
    table->CloseCellEditor(true);
    Pump();
  }
  EXPECT_EQ(Text(table->GetCells(1, 1)), "c110");
  EXPECT_GT(e->EditData()->RedoList->Count(), 0) << "closing the cell editor kept the redo list";
  // Redo until nothing is left to redo (bounded): every edit comes back.
  for (int guard = 0; guard < 4 * kEdits && e->EditData()->RedoList->Count() > 0; ++guard) {
    e->Redo();
    Pump();
    if (table->CellEditor) {
      table->CloseCellEditor(true);
      Pump();
    }
  }
  EXPECT_EQ(Text(table->GetCells(1, 1)), full);
}

// A cell's background picture: set undoably (one step, undone and redone with the picture
// object handed back and forth), painted in the cell on the editor's window and in its open
// cell editor, kept through the native format with its placement, and copied with the cell's
// other attributes (undone with them).
TEST_F(TableEditTest, CellBackgroundPicture) {
  TBitmap picture(8, 8, 0xFF11CC22u);
  const int32_t groups = e->EditData()->UndoList->Count();
  table->SetCellBackgroundImageUndoable(&picture, 1, 1);
  TRVTableCellData* cell = table->GetCells(1, 1);
  ASSERT_NE(cell->BackgroundImage(), nullptr);
  EXPECT_NE(cell->BackgroundImage(), &picture);  // a copy
  cell->SetBackgroundStyle(rvbsTiled);
  EXPECT_EQ(e->EditData()->UndoList->Count(), groups + 1);
  e->Format();
  auto pixel_in_cell = [&](QWidget* w, int32_t x, int32_t y) { return w->grab().toImage().pixelColor(x, y).rgb() & 0xFFFFFFu; };
  int32_t cx = 0, cy = 0;
  table->GetItemClientCoords(cx, cy);
  // A pixel of the cell's padding, where no text is drawn.
  EXPECT_EQ(pixel_in_cell(e.get(), cx + cell->Left + 1, cy + cell->Top + 1), 0x11CC22u);
  Click(1, 1);
  ASSERT_NE(table->CellEditor, nullptr);
  EXPECT_EQ(pixel_in_cell(table->CellEditor, 1, 1), 0x11CC22u);
  table->CloseCellEditor(true);
  Pump();
  // Saved and read back.
  {
    TMemoryStream m;
    ASSERT_TRUE(e->RVData->SaveRVFToStream(m, false, nullptr, nullptr, clNone));
    m.SetPosition(0);
    TDocViewEdit other;
    other.SetStyle(&style);
    TColor color = clNone;
    ASSERT_TRUE(other.RVData->LoadRVFFromStream(m, color, nullptr, nullptr));
    auto* t = dynamic_cast<TRVTableItemInfo*>(other.RVData->GetItem(1));
    ASSERT_NE(t, nullptr);
    TRVTableCellData* read = t->GetCells(1, 1);
    ASSERT_NE(read->BackgroundImage(), nullptr);
    EXPECT_EQ(read->BackgroundImage()->Width(), 8);
    EXPECT_EQ(read->BackgroundStyle(), rvbsTiled);
    EXPECT_EQ(t->GetCells(0, 0)->BackgroundImage(), nullptr);
    // Copying the attributes of that cell: the picture and its placement come along, and
    // each undo takes back one attribute.
    TRVTableCellData* target = table->GetCells(2, 2);
    const int32_t before = e->EditData()->UndoList->Count();
    AssignCellAttributesUndoable(table, table->GetItemNoInParent(), 2, 2, read, false, 1, 1);
    ASSERT_NE(target->BackgroundImage(), nullptr);
    EXPECT_EQ(target->BackgroundStyle(), rvbsTiled);
    ASSERT_GT(e->EditData()->UndoList->Count(), before);
    while (e->EditData()->UndoList->Count() > before) e->Undo();
    EXPECT_EQ(target->BackgroundStyle(), rvbsColor);
    EXPECT_EQ(target->BackgroundImage(), nullptr);
  }
  // Undo and redo of the picture itself.
  cell->SetBackgroundStyle(rvbsColor);
  TGraphic* shown = cell->BackgroundImage();
  e->Undo();
  EXPECT_EQ(cell->BackgroundImage(), nullptr);
  e->Redo();
  EXPECT_EQ(cell->BackgroundImage(), shown);
}

void SendMouseTo(QWidget* w, QEvent::Type type, int x, int y, Qt::MouseButton button, Qt::MouseButtons buttons) {
  const QPointF p(x, y);
  QMouseEvent ev(type, p, w->mapToGlobal(p), button, buttons, Qt::NoModifier);
  QCoreApplication::sendEvent(w, &ev);
}

// The table's colour and padding reach an open cell editor at once, by the setter and by
// Undo; a table destroyed while one of its borders is dragged leaves no resize line and no
// mouse capture behind in the document (the next mouse move touches nothing of it).
TEST_F(TableEditTest, OpenCellEditorFollowsColourAndPaddingAndADestroyedTableLetsGo) {
  Click(0, 0);
  TRVTableInplaceEdit* ed = table->CellEditor;
  ASSERT_NE(ed, nullptr);
  table->SetColor(0x00336699);
  EXPECT_EQ(ed->Color, 0x00336699);
  table->SetCellPadding(9);
  EXPECT_EQ(ed->LeftMargin, 9);
  EXPECT_EQ(ed->BottomMargin, 9);
  e->Undo();  // from the cell editor, which has nothing to undo: the main document's step
  Pump();
  EXPECT_EQ(table->CellPadding, 4);
  if (table->CellEditor) EXPECT_EQ(table->CellEditor->LeftMargin, 4);
  table->CloseCellEditor(true);
  Pump();

  const int32_t x = table->Layout.ColumnLefts[1] - 1;
  int32_t cx = 0, cy = 0;
  table->GetItemClientCoords(cx, cy);
  SendMouseTo(e.get(), QEvent::MouseButtonPress, cx + x, cy + 10, Qt::LeftButton,
                                    Qt::LeftButton);
  ASSERT_EQ(e->RVData->CaptureMouseItem, table);
  e->RVData->Clear();
  EXPECT_EQ(e->RVData->CaptureMouseItem, nullptr);
  SendMouseTo(e.get(), QEvent::MouseMove, cx + x + 15, cy + 10, Qt::NoButton, Qt::LeftButton);
  SendMouseTo(e.get(), QEvent::MouseButtonRelease, cx + x + 15, cy + 10, Qt::LeftButton,
                                    Qt::NoButton);
  e->Format();
  table = nullptr;
}

// Undoing cell edits from the main editor gives one redo step per undone edit: each Redo
// brings back exactly the next edit.
TEST_F(TableEditTest, EveryUndoneCellEditIsOneRedo) {
  const int kEdits = 6;
  for (int k = 0; k < kEdits; ++k) {
    Click(1, 1);
    ASSERT_NE(table->CellEditor, nullptr);
    table->CellEditor->InsertText(std::to_string(k));
    table->CloseCellEditor(true);
    Pump();
  }
  auto close_editor = [&] {
    if (table->CellEditor) {
      table->CloseCellEditor(true);
      Pump();
    }
  };
  for (int k = 0; k < kEdits; ++k) {
    e->Undo();
    Pump();
  }
  close_editor();
  ASSERT_EQ(Text(table->GetCells(1, 1)), "c11");
  EXPECT_EQ(e->EditData()->RedoList->Count(), kEdits);
  std::string want = "c11";
  for (int k = 0; k < kEdits; ++k) {
    e->Redo();
    Pump();
    close_editor();
    want += std::to_string(k);
    EXPECT_EQ(Text(table->GetCells(1, 1)), want) << "redo " << k;
  }
  EXPECT_EQ(e->EditData()->RedoList->Count(), 0);
}

}  // namespace
}  // namespace pelvar
