// The table grid in an editable document: new cells and the look-ups of the grid, merging
// (content, spans and best width, undone and redone; refused merges beep), inserting and
// deleting rows and columns with span growth and cell splits, each undone to the very
// same row and cell objects, cleared cells, cell attribute records, and a long run of
// random grid edits with a fixed seed that keeps the grid valid after every step and
// comes back to the original objects when everything is undone.
#include "richtext/edit/RVTable.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/beep.h"
#include "richtext/edit/RVTableStream.h"
#include "richtext/edit/RVTableUndo.h"

namespace pelvar {
namespace {

// An editable document holding one table.
struct TableDoc {
  TRVStyle style{nullptr};
  TRVEditRVData data;
  TRVTableItemInfo* t = nullptr;
  TableDoc(int32_t rows, int32_t cols) {
    data.SetRVStyle(&style);
    while (style.TextStyles()->Count() < 2) style.TextStyles()->Add();
    data.AddTextItem("before", 0, 0);
    t = new TRVTableItemInfo(&data, rows, cols);
    data.AddItem("", t);
  }
  TRVTableRows& G() { return t->Rows(); }
};

std::string CellText(TRVTableCellData* cell) {
  std::string out;
  for (int32_t i = 0; i < cell->ItemCount(); ++i) {
    if (i > 0) out += "/";
    out += cell->GetItemTextRaw(i);
  }
  return out;
}

// Rows separated by ';', cells by ',', a covered position '-', spans as [rows x cols].
std::string Grid(TRVTableItemInfo* t) {
  std::string out;
  for (int32_t r = 0; r < t->RowCount(); ++r) {
    if (r) out += ";";
    for (int32_t c = 0; c < t->ColCount(); ++c) {
      if (c) out += ",";
      TRVTableCellData* cell = t->GetCells(r, c);
      if (!cell) {
        out += "-";
        continue;
      }
      out += CellText(cell);
      if (cell->RowSpan > 1 || cell->ColSpan > 1)
        out += "[" + std::to_string(cell->RowSpan) + "x" + std::to_string(cell->ColSpan) + "]";
    }
  }
  return out;
}

void SetCell(TRVTableItemInfo* t, int32_t r, int32_t c, const std::string& text) {
  TRVTableCellData* cell = t->GetCells(r, c);
  cell->Clear();
  cell->AddTextItem(text, 0, 0);
}

// Fills every cell with its position's letter and row: "a0", "b0", ...
void Label(TRVTableItemInfo* t) {
  for (int32_t r = 0; r < t->RowCount(); ++r)
    for (int32_t c = 0; c < t->ColCount(); ++c)
      if (t->GetCells(r, c)) SetCell(t, r, c, std::string(1, static_cast<char>('a' + c)) + std::to_string(r));
}

// Counts the beeps while it lives.
struct BeepCounter {
  int count = 0;
  TBeepSink previous;
  BeepCounter() {
    previous = SetBeepSink([this](uint32_t) { ++count; });
  }
  ~BeepCounter() { SetBeepSink(previous); }
};

TEST(RVTableGrid, NewCellsAndLookUps) {
  TableDoc d(3, 4);
  TRVTableRows& g = d.G();
  EXPECT_EQ(g.Count(), 3);
  EXPECT_EQ(g.ColCount(), 4);
  EXPECT_TRUE(g.IsValid());
  for (int32_t r = 0; r < 3; ++r)
    for (int32_t c = 0; c < 4; ++c) {
      TRVTableCellData* cell = d.t->GetCells(r, c);
      EXPECT_EQ(cell->RowSpan, 1);
      EXPECT_EQ(cell->ColSpan, 1);
      EXPECT_EQ(cell->Color, clNone);
      EXPECT_EQ(cell->BorderColor, clNone);
      EXPECT_EQ(cell->VAlign, rvcVDefault);
      ASSERT_EQ(cell->ItemCount(), 1);
      EXPECT_EQ(cell->GetItemTextRaw(0), "");
      EXPECT_FALSE(cell->HasContent(true));
      EXPECT_EQ(cell->OwnerList, g.GetItem(r));
    }
  d.t->MergeCells(0, 0, 2, 2);
  int32_t mr = -1, mc = -1;
  EXPECT_EQ(g.GetMainCell(1, 1, mr, mc), d.t->GetCells(0, 0));
  EXPECT_EQ(mr, 0);
  EXPECT_EQ(mc, 0);
  EXPECT_EQ(d.t->GetCells(0, 1), nullptr);
  EXPECT_EQ(d.t->GetCells(1, 0), nullptr);
  EXPECT_EQ(d.t->GetCells(1, 1), nullptr);
  // The row's alignment stands in for a cell's default one.
  g.GetItem(2)->VAlign = rvcBottom;
  EXPECT_EQ(d.t->GetCells(2, 0)->EffectiveVAlign(), rvcBottom);
  g.GetItem(2)->VAlign = rvcVDefault;
  EXPECT_EQ(d.t->GetCells(2, 0)->EffectiveVAlign(), rvcMiddle);
}

TEST(RVTableGrid, MergedBestWidthAndContent) {
  struct {
    std::vector<std::vector<int32_t>> widths;  // rows of the rectangle
    int32_t merged;
  } cases[] = {
      {{{100, 50, -20}}, -20},          // a percentage discards pixels
      {{{100, 50}, {120, 0}}, 150},     // two pixel rows: the larger
      {{{-20, 0}, {-10, -20}}, -30},    // two percentages: the larger percentage
      {{{-20, 0}, {300, 0}}, -20},      // a percentage beats pixels
      {{{0, 0}, {0, 0}}, 0},
  };
  for (const auto& c : cases) {
    TableDoc d(2, 3);
    for (size_t r = 0; r < c.widths.size(); ++r)
      for (size_t k = 0; k < c.widths[r].size(); ++k)
        d.t->GetCells(static_cast<int32_t>(r), static_cast<int32_t>(k))->BestWidth = c.widths[r][k];
    EXPECT_EQ(d.G().MergedBestWidth(0, 0, static_cast<int32_t>(c.widths[0].size()),
                                    static_cast<int32_t>(c.widths.size())),
              c.merged);
  }
  // Content: strict counts an empty item of another style as content; merging does not.
  TableDoc d(1, 2);
  TRVTableCellData* cell = d.t->GetCells(0, 0);
  cell->Clear();
  cell->AddTextItem("", 1, 0);
  EXPECT_TRUE(cell->HasContent(true));
  EXPECT_FALSE(cell->HasContent(false));
  cell->Clear();
  EXPECT_FALSE(cell->HasContent(false));
}

TEST(RVTableGrid, MergeIsUndoneToTheSameCellsSpansAndBestWidth) {
  TableDoc d(2, 3);
  SetCell(d.t, 0, 0, "A");
  SetCell(d.t, 1, 1, "B");
  d.t->GetCells(0, 0)->BestWidth = 40;
  d.t->GetCells(0, 1)->BestWidth = 30;
  d.t->GetCells(1, 2)->BestWidth = 100;
  std::vector<TRVTableCellData*> before;
  for (int32_t r = 0; r < 2; ++r)
    for (int32_t c = 0; c < 3; ++c) before.push_back(d.t->GetCells(r, c));
  const std::string grid = Grid(d.t);

  d.t->MergeCells(0, 0, 3, 2);
  EXPECT_EQ(Grid(d.t), "A/B[2x3],-,-;-,-,-");
  EXPECT_EQ(d.t->GetCells(0, 0)->BestWidth, 100);
  EXPECT_TRUE(d.G().IsValid());
  ASSERT_EQ(d.data.UndoList->Count(), 1);
  EXPECT_EQ(d.data.UndoList->Get(0)->GroupType, rvutModifyItem);

  d.data.Undo();
  EXPECT_EQ(Grid(d.t), grid);
  EXPECT_EQ(d.t->GetCells(0, 0)->BestWidth, 40);
  EXPECT_TRUE(d.G().IsValid());
  for (int32_t r = 0, i = 0; r < 2; ++r)
    for (int32_t c = 0; c < 3; ++c, ++i) EXPECT_EQ(d.t->GetCells(r, c), before[static_cast<size_t>(i)]);
  EXPECT_EQ(d.data.UndoList->Count(), 0);

  d.data.Redo();
  EXPECT_EQ(Grid(d.t), "A/B[2x3],-,-;-,-,-");
  EXPECT_EQ(d.t->GetCells(0, 0)->BestWidth, 100);
  d.data.Undo();
  EXPECT_EQ(Grid(d.t), grid);
}

TEST(RVTableGrid, RefusedMergesBeepAndChangeNothing) {
  BeepCounter beeps;
  TableDoc d(3, 3);
  Label(d.t);
  d.t->MergeCells(0, 0, 1, 2);  // a0 over two rows
  const std::string grid = Grid(d.t);
  EXPECT_EQ(grid, "a0/a1[2x1],b0,c0;-,b1,c1;a2,b2,c2");
  d.data.UndoList->Clear();

  // Cutting through the vertical span.
  d.t->MergeCells(0, 0, 2, 1);
  EXPECT_EQ(beeps.count, 1);
  EXPECT_EQ(Grid(d.t), grid);
  // Exactly the merged cell, or a covered top-left position: nothing to merge, no beep.
  d.t->MergeCells(0, 0, 1, 2);
  d.t->MergeCells(1, 0, 2, 1);
  EXPECT_EQ(beeps.count, 1);
  // Without empty lines allowed, a merge leaving row 1 with no cell of its own is refused.
  d.t->MergeCells(0, 1, 2, 2, false);
  EXPECT_EQ(Grid(d.t), grid);
  EXPECT_EQ(beeps.count, 2);
  EXPECT_EQ(d.data.UndoList->Count(), 0);
  // A rectangle with no row after cutting.
  EXPECT_THROW(d.t->MergeCells(5, 0, 2, 2), EDocViewError);
  // The style sheet's sound switch silences it.
  d.style.UseSound = false;
  d.t->MergeCells(0, 0, 2, 1);
  EXPECT_EQ(beeps.count, 2);
  // Allowed, the same merge goes through.
  d.style.UseSound = true;
  d.t->MergeCells(0, 1, 2, 2, true);
  EXPECT_EQ(Grid(d.t), "a0/a1[2x1],b0/c0/b1/c1[2x2],-;-,-,-;a2,b2,c2");
}

TEST(RVTableGrid, DeleteRowsChecksItsRange) {
  TableDoc d(4, 2);
  Label(d.t);
  EXPECT_THROW(d.t->DeleteRows(0, 5, false), EDocViewError);
  EXPECT_THROW(d.t->DeleteRows(4, 1, false), EDocViewError);
  EXPECT_THROW(d.t->DeleteRows(1, 0, false), EDocViewError);
  EXPECT_EQ(d.t->RowCount(), 4);
  d.t->DeleteRows(2, 5, false);
  EXPECT_EQ(Grid(d.t), "a0,b0;a1,b1");
  d.data.Undo();
  EXPECT_EQ(Grid(d.t), "a0,b0;a1,b1;a2,b2;a3,b3");
  EXPECT_THROW(d.t->InsertRows(5, 1, -1), EDocViewError);
  EXPECT_THROW(d.t->InsertCols(0, 1, 2), EDocViewError);
}

// Each case: merges made first (not recorded), one operation, the grid after it; undo
// must give back the grid before it with the same row and cell objects.
TEST(RVTableGrid, ShapeOperationsAndTheirUndo) {
  struct Merge {
    int32_t row, col, cols, rows;
  };
  struct {
    const char* name;
    int32_t rows, cols;
    std::vector<Merge> merges;
    std::function<void(TRVTableItemInfo*)> op;
    const char* after;
  } cases[] = {
      {"row inserted inside a vertical merge", 3, 2, {{0, 0, 1, 3}},
       [](TRVTableItemInfo* t) { t->InsertRows(1, 1, -1); }, "a0/a1/a2[4x1],b0;-,;-,b1;-,b2"},
      {"rows inserted copying a horizontal merge", 2, 3, {{0, 0, 2, 1}},
       [](TRVTableItemInfo* t) { t->InsertRows(1, 2, 0); }, "a0/b0[1x2],-,c0;[1x2],-,;[1x2],-,;a1,b1,c1"},
      {"middle row of a three-row cell deleted", 3, 2, {{0, 0, 1, 3}},
       [](TRVTableItemInfo* t) { t->DeleteRows(1, 1, false); }, "a0/a1/a2[2x1],b0;-,b2"},
      {"first row of a three-row cell deleted", 3, 2, {{0, 0, 1, 3}},
       [](TRVTableItemInfo* t) { t->DeleteRows(0, 1, false); }, "[2x1],b1;-,b2"},
      {"column inserted inside a horizontal merge", 2, 3, {{0, 0, 3, 1}},
       [](TRVTableItemInfo* t) { t->InsertCols(1, 1, -1); }, "a0/b0/c0[1x4],-,-,-;a1,,b1,c1"},
      {"columns inserted copying a vertical merge", 2, 2, {{0, 1, 1, 2}},
       [](TRVTableItemInfo* t) { t->InsertCols(2, 1, 1); }, "a0,b0/b1[2x1],[2x1];a1,-,-"},
      {"first column of a three-column cell deleted", 2, 3, {{0, 0, 3, 1}},
       [](TRVTableItemInfo* t) { t->DeleteCols(0, 1, false); }, "[1x2],-;b1,c1"},
      {"columns deleted from the middle", 2, 4, {{0, 0, 4, 1}},
       [](TRVTableItemInfo* t) { t->DeleteCols(1, 2, false); }, "a0/b0/c0/d0[1x2],-;a1,d1"},
      {"everything merged", 2, 2, {}, [](TRVTableItemInfo* t) { t->MergeCells(0, 0, 2, 2); }, "a0/b0/a1/b1[2x2],-;-,-"},
      // A copied row's merge stops at a column that a cell from above covers in the new
      // row, and a copied column's merge stops at a row that a cell from the left covers:
      // spreading further would put one position inside two cells.
      {"copy stops at a column covered from above", 3, 2, {{0, 1, 1, 2}, {2, 0, 2, 1}},
       [](TRVTableItemInfo* t) { t->InsertRows(1, 1, 2); }, "a0,b0/b1[3x1];,-;a1,-;a2/b2[1x2],-"},
      {"copy stops at a row covered from the left", 2, 3, {{0, 0, 1, 2}, {1, 1, 2, 1}},
       [](TRVTableItemInfo* t) { t->InsertCols(2, 1, 0); }, "a0/a1[2x1],b0,,c0;-,b1/c1[1x3],-,-"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TableDoc d(c.rows, c.cols);
    Label(d.t);
    for (const Merge& m : c.merges) d.t->MergeCells(m.row, m.col, m.cols, m.rows);
    d.data.UndoList->Clear();
    const std::string grid = Grid(d.t);
    std::vector<TRVTableRow*> rows;
    std::vector<TRVTableCellData*> cells;
    for (int32_t r = 0; r < d.t->RowCount(); ++r) {
      rows.push_back(d.G().GetItem(r));
      for (int32_t k = 0; k < d.t->ColCount(); ++k) cells.push_back(d.t->GetCells(r, k));
    }
    c.op(d.t);
    EXPECT_EQ(Grid(d.t), c.after);
    EXPECT_TRUE(d.G().IsValid());
    ASSERT_EQ(d.data.UndoList->Count(), 1);
    d.data.Undo();
    EXPECT_EQ(Grid(d.t), grid);
    EXPECT_TRUE(d.G().IsValid());
    for (int32_t r = 0, i = 0; r < d.t->RowCount(); ++r) {
      EXPECT_EQ(d.G().GetItem(r), rows[static_cast<size_t>(r)]);
      for (int32_t k = 0; k < d.t->ColCount(); ++k, ++i) EXPECT_EQ(d.t->GetCells(r, k), cells[static_cast<size_t>(i)]);
    }
    d.data.Redo();
    EXPECT_EQ(Grid(d.t), c.after);
    EXPECT_TRUE(d.G().IsValid());
  }
}

TEST(RVTableGrid, CopiedAttributesAndSizesAreUndone) {
  TableDoc d(2, 2);
  Label(d.t);
  TRVTableCellData* src = d.t->GetCells(1, 0);
  src->Color = 0x00FF00;
  src->BestHeight = 60;
  src->BestWidth = 80;
  src->VisibleBorders[2] = false;
  src->Hint = "tip";

  d.t->BeginTableUndoGroup();
  d.t->Rows().InsertRows(1, 1, 1, true);
  d.t->EndTableUndoGroup();
  TRVTableCellData* copy = d.t->GetCells(1, 0);
  EXPECT_EQ(copy->Color, 0x00FF00);
  EXPECT_EQ(copy->Hint, "tip");
  EXPECT_FALSE(copy->VisibleBorders[2]);
  EXPECT_EQ(copy->BestWidth, 80);
  EXPECT_EQ(d.t->GetCells(2, 0)->BestHeight, 30);  // the source gave half of its height
  EXPECT_EQ(copy->BestHeight, 30);
  d.data.Undo();
  EXPECT_EQ(d.t->RowCount(), 2);
  EXPECT_EQ(d.t->GetCells(1, 0)->BestHeight, 60);
  EXPECT_EQ(d.t->GetCells(1, 0), src);

  // The table's own visible borders: a record at (-1, -1).
  d.t->VisibleBorders[0] = false;
  d.data.BeginUndoGroup(rvutModifyItem);
  auto* rec = RecordTableUndo<TRVUndoModifyVisibleBorders>(&d.data, 1, false, false);
  ASSERT_NE(rec, nullptr);
  rec->PriorLeft = true;
  d.data.Undo();
  EXPECT_TRUE(d.t->VisibleBorders[0]);
  d.data.Redo();
  EXPECT_FALSE(d.t->VisibleBorders[0]);
}

TEST(RVTableGrid, ClearedCellsComeBack) {
  TableDoc d(2, 2);
  Label(d.t);
  d.t->GetCells(0, 1)->Color = 0x123456;
  TRVTableCellData* old = d.t->GetCells(0, 1);
  d.data.BeginUndoGroup(rvutModifyItem);
  auto* rec = RecordTableUndo<TRVUndoCellsClear>(&d.data, 1, true, true);
  ASSERT_NE(rec, nullptr);
  rec->Deleting = false;
  rec->CellRows = {0, 1};
  rec->CellCols = {1, 0};
  d.t->Rows().ClearCells(&rec->HeldCells, rec->CellRows, rec->CellCols, rec);
  EXPECT_EQ(Grid(d.t), "a0,;,b1");
  EXPECT_EQ(d.t->GetCells(0, 1)->Color, 0x123456);
  EXPECT_NE(d.t->GetCells(0, 1), old);
  EXPECT_TRUE(d.G().IsValid());
  d.data.Undo();
  EXPECT_EQ(Grid(d.t), "a0,b0;a1,b1");
  EXPECT_EQ(d.t->GetCells(0, 1), old);
  d.data.Redo();
  EXPECT_EQ(Grid(d.t), "a0,;,b1");
  // A record naming an item that is no table fails with the invalid-cast error.
  d.data.BeginUndoGroup(rvutModifyItem);
  ASSERT_NE(RecordTableUndo<TRVUndoSpan>(&d.data, 0, true, true), nullptr);
  EXPECT_THROW(d.data.Undo(), EInvalidCast);
}

// A text style applied to two cells at once, as the table's style commands do: each
// cell's edits run in a temporal editor and their groups go into one record of the main
// document, which undoes and redoes both cells in one step.
TEST(RVTableGrid, StylesAppliedToSeveralCellsAreUndoneTogether) {
  TableDoc d(1, 2);
  Label(d.t);
  d.data.BeginUndoGroup(rvutStyleNo);
  auto rec = std::make_unique<TRVUndoMultiCellsModify>();
  rec->ItemNo = 1;
  rec->InnerList = std::make_unique<TRVUndoList>(&d.data);
  TRVUndoMultiCellsModify* multi = rec.get();
  d.data.UndoList->AddInfo(rec.release());
  for (int32_t c = 0; c < 2; ++c) {
    TRVTableCellData* cell = d.t->GetCells(0, c);
    TRVTableTemporalEditorData temp(&d.data);
    temp.AppendFrom(cell);
    temp.BeginUndoGroup(rvutStyleNo);
    temp.RecSetStyleNo(0, 1);
    multi->CellRows.push_back(0);
    multi->CellCols.push_back(c);
    multi->GroupCounts.push_back(temp.UndoList->Count());
    while (temp.UndoList->Count() > 0) multi->InnerList->AddGroup(temp.UndoList->ExtractGroup(0).release());
    cell->AppendFrom(&temp);
  }
  auto styles = [&] {
    return std::to_string(d.t->GetCells(0, 0)->GetItem(0)->StyleNo) +
           std::to_string(d.t->GetCells(0, 1)->GetItem(0)->StyleNo);
  };
  EXPECT_EQ(styles(), "11");
  d.data.Undo();
  EXPECT_EQ(styles(), "00");
  EXPECT_EQ(Grid(d.t), "a0,b0");
  EXPECT_EQ(d.data.UndoList->Count(), 0);
  d.data.Redo();
  EXPECT_EQ(styles(), "11");
  d.data.Undo();
  EXPECT_EQ(styles(), "00");
}

TEST(RVTableGrid, WithoutRecordingNothingIsKept) {
  TableDoc d(3, 3);
  Label(d.t);
  d.data.SetUndoLimit(0);
  d.t->MergeCells(0, 0, 2, 2);
  d.t->DeleteRows(2, 1, false);
  d.t->DeleteCols(2, 1, false);
  d.t->InsertRows(0, 1, 0);
  EXPECT_EQ(Grid(d.t), "[1x2],-;a0/b0/a1/b1[2x2],-;-,-");
  EXPECT_TRUE(d.G().IsValid());
  EXPECT_EQ(d.data.UndoList->Count(), 0);
  // A table outside any editable document behaves the same.
  TRVTableItemInfo loose(nullptr, 2, 2);
  loose.MergeCells(0, 0, 2, 2);
  loose.DeleteRows(1, 1, false);
  EXPECT_TRUE(loose.Rows().IsValid());
}

TEST(RVTableGrid, RandomEditsKeepTheGridValidAndUndoBringsBackTheSameObjects) {
  TableDoc d(5, 5);
  Label(d.t);
  d.t->GetCells(2, 2)->BestWidth = 50;
  std::vector<TRVTableRow*> rows;
  std::vector<TRVTableCellData*> cells;
  for (int32_t r = 0; r < 5; ++r) {
    rows.push_back(d.G().GetItem(r));
    for (int32_t c = 0; c < 5; ++c) cells.push_back(d.t->GetCells(r, c));
  }
  const std::string start = Grid(d.t);
  BeepCounter beeps;  // refused merges are part of the run
  std::mt19937 rng(20261210);
  auto pick = [&](int32_t lo, int32_t hi) { return std::uniform_int_distribution<int32_t>(lo, hi)(rng); };
  std::vector<std::string> states{start};
  for (int step = 0; step < 300; ++step) {
    const int32_t R = d.t->RowCount(), C = d.t->ColCount();
    const int32_t before = d.data.UndoList->Count();
    switch (pick(0, 5)) {
      case 0:
        if (R < 9) d.t->InsertRows(pick(0, R), pick(1, 2), pick(-1, R - 1));
        break;
      case 1:
        if (C < 9) d.t->InsertCols(pick(0, C), pick(1, 2), pick(-1, C - 1));
        break;
      case 2:
        if (R > 2) d.t->DeleteRows(pick(1, R - 1), pick(1, 3), pick(0, 1) == 1);
        break;
      case 3:
        if (C > 2) d.t->DeleteCols(pick(1, C - 1), pick(1, 3), pick(0, 1) == 1);
        break;
      default: {
        const int32_t r = pick(0, R - 1), c = pick(0, C - 1);
        d.t->MergeCells(r, c, pick(1, 3), pick(1, 3), pick(0, 1) == 1);
      }
    }
    ASSERT_TRUE(d.G().IsValid()) << "step " << step << ": " << Grid(d.t);
    if (d.data.UndoList->Count() > before) states.push_back(Grid(d.t));
    ASSERT_EQ(d.data.UndoList->Count() + 1, static_cast<int32_t>(states.size()));
  }
  EXPECT_GT(beeps.count, 0);
  ASSERT_GT(states.size(), 100u);
  const std::string end = Grid(d.t);
  // Everything undone, checking each state on the way back.
  for (size_t i = states.size() - 1; i > 0; --i) {
    ASSERT_EQ(Grid(d.t), states[i]);
    d.data.Undo();
    ASSERT_TRUE(d.G().IsValid()) << "undo to state " << i - 1;
  }
  EXPECT_EQ(Grid(d.t), start);
  EXPECT_EQ(d.t->GetCells(2, 2)->BestWidth, 50);
  ASSERT_EQ(d.t->RowCount(), 5);
  for (int32_t r = 0, i = 0; r < 5; ++r) {
    EXPECT_EQ(d.G().GetItem(r), rows[static_cast<size_t>(r)]);
    for (int32_t c = 0; c < 5; ++c, ++i) EXPECT_EQ(d.t->GetCells(r, c), cells[static_cast<size_t>(i)]);
  }
  // And redone to the end again.
  while (d.data.RedoList->Count() > 0) {
    d.data.Redo();
    ASSERT_TRUE(d.G().IsValid());
  }
  EXPECT_EQ(Grid(d.t), end);
}

}  // namespace
}  // namespace pelvar
