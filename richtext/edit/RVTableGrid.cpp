// The grid operations of the table: merge, insert and delete rows and columns, clear
// cells, and the raw steps the table undo records reverse them with (see RVTable.h).
#include <algorithm>

#include "richtext/edit/RVTable.h"
#include "richtext/edit/RVTableUndo.h"

namespace pelvar {

namespace {

[[noreturn]] void BadIndex() { throw EDocViewError("Invalid row or column index"); }
[[noreturn]] void BadMerge() { throw EDocViewError("Parameters for cell merging are not correct"); }

// The opening and closing item-property terminators around one recorded operation; the
// closing one is recorded also when the operation fails half-way.
class TTerminators {
 public:
  TTerminators(TCustomRVData* rvdata, int32_t item_no) : item_no_(item_no) {
    if (RVTableUndoDestination(rvdata, item_no)) edit_ = static_cast<TRVEditRVData*>(rvdata);
    if (edit_) edit_->RecModifyItemTerminator(item_no_, true);
  }
  ~TTerminators() {
    if (!edit_) return;
    try {
      edit_->RecModifyItemTerminator(item_no_, false);
    } catch (...) {
    }
  }

 private:
  TRVEditRVData* edit_ = nullptr;
  int32_t item_no_;
};

}  // namespace

int32_t TRVTableRows::ItemNoForUndo() const { return OwnerTable ? OwnerTable->GetEditorItemNoForUndo() : -1; }

// ---- Merging ---------------------------------------------------------------------------------------

bool TRVTableRows::MergeParamsValid(int32_t top_row, int32_t left_col, int32_t& col_count, int32_t& row_count) const {
  row_count = std::min(row_count, Count() - top_row);
  if (top_row >= 0 && top_row < Count()) col_count = std::min(col_count, GetItem(top_row)->Count() - left_col);
  if (col_count <= 1 && row_count <= 1) return false;
  if (col_count < 1 || row_count < 1 || top_row < 0 || left_col < 0 || top_row >= Count() || left_col >= ColCount())
    BadMerge();
  TRVTableCellData* cell = Cell(top_row, left_col);
  return cell && (cell->RowSpan < row_count || cell->ColSpan < col_count);
}

bool TRVTableRows::CanMerge(int32_t top_row, int32_t left_col, int32_t col_count, int32_t row_count,
                            bool allow_empty_lines) const {
  if (!MergeParamsValid(top_row, left_col, col_count, row_count)) return false;
  const int32_t bottom = top_row + row_count - 1, right = left_col + col_count - 1;
  bool several = false;
  for (int32_t r = top_row; r <= bottom; ++r)
    for (int32_t c = left_col; c <= right; ++c) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* m = GetMainCell(r, c, mr, mc);
      if (!m || mr < top_row || mc < left_col || mr + m->RowSpan - 1 > bottom || mc + m->ColSpan - 1 > right)
        return false;
      if (mr != top_row || mc != left_col) several = true;
    }
  if (allow_empty_lines) return several;
  // Without empty lines every column and row inside must keep a cell starting in it.
  for (int32_t c = left_col + 1; c <= right; ++c) {
    bool found = false;
    for (int32_t r = 0; r < Count() && !found; ++r)
      if ((r < top_row || r > bottom) && Cell(r, c)) found = true;
    if (!found) return false;
  }
  for (int32_t r = top_row + 1; r <= bottom; ++r) {
    bool found = false;
    for (int32_t c = 0; c < ColCount() && !found; ++c)
      if ((c < left_col || c > right) && Cell(r, c)) found = true;
    if (!found) return false;
  }
  return true;
}

void TRVTableRows::MergeCells(int32_t top_row, int32_t left_col, int32_t col_count, int32_t row_count,
                              bool allow_empty_lines, bool merge_best_widths) {
  if (!MergeParamsValid(top_row, left_col, col_count, row_count)) return;
  if (!CanMerge(top_row, left_col, col_count, row_count, allow_empty_lines)) {
    if (HostDocument) HostDocument->Beep();
    return;
  }
  const int32_t item_no = ItemNoForUndo();
  TTerminators brackets(HostDocument, item_no);
  TRVTableCellData* main = Cell(top_row, left_col);
  auto* rec = RecordTableUndo<TRVUndoMerge>(HostDocument, item_no, true, true);
  if (rec) {
    rec->Merging = false;
    rec->CellRow = top_row;
    rec->CellCol = left_col;
    rec->PriorColSpan = main->ColSpan;
    rec->PriorRowSpan = main->RowSpan;
    rec->PriorBestWidth = main->BestWidth;
    rec->NewColSpan = col_count;
    rec->NewRowSpan = row_count;
  }
  DoMerge(item_no, top_row, left_col, col_count, row_count, rec, merge_best_widths);
}

void TRVTableRows::DoMerge(int32_t, int32_t top_row, int32_t left_col, int32_t col_count, int32_t row_count,
                           TRVUndoMerge* undo_record, bool merge_best_widths) {
  TRVTableCellData* main = Cell(top_row, left_col);
  if (merge_best_widths) main->BestWidth = MergedBestWidth(top_row, left_col, col_count, row_count);
  for (int32_t r = top_row; r < top_row + row_count; ++r)
    for (int32_t c = left_col; c < left_col + col_count; ++c) {
      if (r == top_row && c == left_col) continue;
      TRVTableCellData* cell = Cell(r, c);
      if (!cell) continue;
      int32_t given = 0;
      if (cell->HasContent(false)) {
        given = cell->ItemCount();
        main->AppendFrom(cell);
      }
      std::unique_ptr<TRVTableCellData> taken = GetItem(r)->TakeCell(c);
      if (undo_record) {
        taken->MovingToUndoList(undo_record);
        undo_record->MergedCells.push_back(std::make_unique<TRVUndoMergeItem>(r, c, given, std::move(taken)));
      }
    }
  main->ColSpan = col_count;
  main->RowSpan = row_count;
}

void TRVTableRows::UndoMerge(int32_t row, int32_t col, int32_t old_col_span, int32_t old_row_span,
                             std::vector<std::unique_ptr<TRVUndoMergeItem>>& merge_items, int32_t old_best_width) {
  TRVTableCellData* main = Cell(row, col);
  main->BestWidth = old_best_width;
  int32_t n = main->ItemCount();
  for (auto it = merge_items.rbegin(); it != merge_items.rend(); ++it) {
    TRVUndoMergeItem& m = **it;
    TRVTableCellData* cell = m.Cell.get();
    cell->MovingFromUndoList();
    GetItem(m.CellRow)->PutCell(m.CellCol, std::move(m.Cell)).reset();
    n -= m.ItemCount;
    if (n < 0) throw EDocViewError("Cannot undo the merge: the merged cell has lost items");
    for (int32_t i = n; i < n + m.ItemCount; ++i)
      cell->Items().AddObject(main->Items().Get(i), main->Items().Objects(i));
  }
  // The items handed back leave the merged cell without being freed.
  for (int32_t i = main->ItemCount() - 1; i >= std::max(n, 0); --i) {
    main->Items().PutObject(i, nullptr);
    main->Items().Delete(i);
  }
  main->ColSpan = old_col_span;
  main->RowSpan = old_row_span;
  merge_items.clear();
}

void TRVTableRows::SetSpan(int32_t item_no, int32_t row, int32_t col, int32_t new_value, bool is_col_span) {
  TRVTableCellData* cell = Cell(row, col);
  int32_t& span = is_col_span ? cell->ColSpan : cell->RowSpan;
  if (span == new_value) return;
  if (auto* rec = RecordTableUndo<TRVUndoSpan>(HostDocument, item_no, true, is_col_span)) {
    rec->SpanIsColumn = is_col_span;
    rec->CellRow = row;
    rec->CellCol = col;
    rec->PriorSpan = span;
  }
  span = new_value;
}

// ---- Inserting -------------------------------------------------------------------------------------

void TRVTableRows::InsertRows(int32_t index, int32_t count, int32_t copy_index, bool divide_heights) {
  if (index < 0 || index > Count() || copy_index < -1 || copy_index >= Count() || count < 1) BadIndex();
  const int32_t item_no = ItemNoForUndo();
  TTerminators brackets(HostDocument, item_no);
  const int32_t cols = ColCount();
  std::vector<bool> covered(static_cast<size_t>(cols), false);
  if (index != Count()) {
    for (int32_t c = cols - 1; c >= 0;) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* m = GetMainCell(index, c, mr, mc);
      if (mr < index) {
        for (int32_t k = mc; k < mc + m->ColSpan; ++k) covered[static_cast<size_t>(k)] = true;
        SetSpan(item_no, mr, mc, m->RowSpan + count, false);
      }
      c = mc - 1;
    }
  }
  if (copy_index >= index) copy_index += count;
  if (auto* rec = RecordTableUndo<TRVUndoInsertTableRows>(HostDocument, item_no, true, true)) {
    rec->Inserting = false;
    rec->FirstRow = index;
    rec->Count = count;
  }
  InsertRowsRaw(index, count);
  for (int32_t c = 0; c < cols;) {
    if (covered[static_cast<size_t>(c)]) {
      if (auto* rec = RecordTableUndo<TRVUndoFreeEmptyCell>(HostDocument, item_no, true, true)) {
        rec->Freeing = false;
        rec->CellRow = index;
        rec->RowSpan = count;
        rec->ColSpan = 1;
        rec->CellCol = c;
      }
      FreeCells(index, c, 1, count);
      ++c;
      continue;
    }
    TRVTableCellData* src = copy_index >= 0 ? Cell(copy_index, c) : nullptr;
    if (!src) {
      ++c;
      continue;
    }
    if (divide_heights)
      SetCellIntPropertiesUndoable(OwnerTable, item_no, copy_index, c,
                                   {{"BestHeight", src->BestHeight * src->RowSpan / (count + src->RowSpan)}}, true,
                                   false);
    // The copies spread over the source's columns, but never into a column that a cell
    // from above covers in the new rows.
    int32_t spread = 1;
    while (spread < src->ColSpan && c + spread < cols && !covered[static_cast<size_t>(c + spread)]) ++spread;
    for (int32_t r = index; r < index + count; ++r) {
      AssignCellAttributesUndoable(OwnerTable, item_no, r, c, src, true, 1, src->RowSpan);
      if (spread > 1) {
        if (auto* rec = RecordTableUndo<TRVUndoSpreadOverEmptyCells>(HostDocument, item_no, true, true)) {
          rec->Spreading = false;
          rec->CellRow = r;
          rec->CellCol = c;
          rec->SpanCount = spread;
        }
        SpreadOverEmptyCells(r, c, spread);
      }
    }
    c += spread;
  }
}

void TRVTableRows::InsertCols(int32_t index, int32_t count, int32_t copy_index, bool divide_widths) {
  const int32_t cols = ColCount();
  if (index < 0 || index > cols || copy_index < -1 || copy_index >= cols || count < 1) BadIndex();
  const int32_t item_no = ItemNoForUndo();
  TTerminators brackets(HostDocument, item_no);
  std::vector<bool> marked(static_cast<size_t>(Count()), false);
  if (index != cols) {
    for (int32_t r = Count() - 1; r >= 0;) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* m = GetMainCell(r, index, mr, mc);
      if (mc < index) {
        for (int32_t k = mr; k < mr + m->RowSpan; ++k) marked[static_cast<size_t>(k)] = true;
        SetSpan(item_no, mr, mc, m->ColSpan + count, true);
      }
      r = mr - 1;
    }
  }
  // Looked up in rows not yet widened, so the copy column keeps its old index.
  auto insert_empty = [&](int32_t r) {
    if (auto* rec = RecordTableUndo<TRVUndoInsertEmptyCell>(HostDocument, item_no, true, true)) {
      rec->Inserting = false;
      rec->CellRow = r;
      rec->CellCol = index;
      rec->ColsPerRow = count;
      rec->RowsCount = 1;
    }
    InsertEmptyCells(r, index, count, 1);
  };
  auto insert_cell = [&](int32_t r) {
    if (auto* rec = RecordTableUndo<TRVUndoInsertTableCell>(HostDocument, item_no, true, true)) {
      rec->Inserting = false;
      rec->CellRow = r;
      rec->CellCol = index;
    }
    GetItem(r)->InsertCell(index);
  };
  for (int32_t r = 0; r < Count();) {
    if (marked[static_cast<size_t>(r)]) {
      insert_empty(r);
      ++r;
      continue;
    }
    TRVTableCellData* src = copy_index >= 0 ? Cell(r, copy_index) : nullptr;
    if (!src) {
      for (int32_t k = 0; k < count; ++k) insert_cell(r);
      ++r;
      continue;
    }
    const int32_t src_col = copy_index;
    if (divide_widths)
      SetCellIntPropertiesUndoable(OwnerTable, item_no, r, src_col,
                                   {{"BestWidth", src->BestWidth * src->ColSpan / (count + src->ColSpan)}}, true, true);
    // The copies reach down the source's rows, but never into a row where a cell from the
    // left already widened over the new columns.
    int32_t span = 1;
    while (span < src->RowSpan && r + span < Count() && !marked[static_cast<size_t>(r + span)]) ++span;
    for (int32_t k = 0; k < count; ++k) {
      insert_cell(r);
      AssignCellAttributesUndoable(OwnerTable, item_no, r, index, src, true, src->ColSpan, 1);
      SetSpan(item_no, r, index, span, false);
    }
    for (int32_t rr = r + 1; rr < r + span; ++rr) insert_empty(rr);
    r += span;
  }
}

// ---- Deleting --------------------------------------------------------------------------------------

void TRVTableRows::DeleteRows(int32_t index, int32_t count, bool decrease_heights) {
  if (index < 0 || index >= Count() || count <= 0 || (index == 0 && count > Count())) BadIndex();
  count = std::min(count, Count() - index);
  const int32_t item_no = ItemNoForUndo();
  TTerminators brackets(HostDocument, item_no);
  const int32_t end = index + count, cols = ColCount();
  if (end < Count()) {
    for (int32_t c = cols - 1; c >= 0;) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* m = GetMainCell(end - 1, c, mr, mc);
      if (mr >= index && mr + m->RowSpan > end) {
        if (auto* rec = RecordTableUndo<TRVUndoCellSpitHorz>(HostDocument, item_no, true, false)) {
          rec->Splitting = false;
          rec->ShrinkHeight = decrease_heights;
          rec->CellRow = mr;
          rec->CellCol = mc;
          rec->SplitRow = end;
          rec->PriorBestHeight = m->BestHeight;
        }
        SplitCellHorz(mr, mc, end, decrease_heights);
      }
      c = mc - 1;
    }
  }
  for (int32_t c = cols - 1; c >= 0;) {
    int32_t mr = 0, mc = 0;
    TRVTableCellData* m = GetMainCell(index, c, mr, mc);
    if (mr < index) {
      const int32_t old = m->RowSpan;
      const int32_t span = mr + old - 1 > end - 1 ? old - count : index - mr;
      if (decrease_heights)
        SetCellIntPropertiesUndoable(OwnerTable, item_no, mr, mc, {{"BestHeight", span * m->BestHeight / old}}, true,
                                     false);
      SetSpan(item_no, mr, mc, span, false);
    }
    c = mc - 1;
  }
  auto* rec = RecordTableUndo<TRVUndoDeleteRows>(HostDocument, item_no, true, true);
  if (rec) {
    rec->Deleting = false;
    rec->FirstRow = index;
    rec->Count = count;
  }
  RemoveRows(item_no, index, count, rec);
}

void TRVTableRows::DeleteCols(int32_t index, int32_t count, bool decrease_widths) {
  const int32_t cols = ColCount();
  if (index < 0 || index >= cols || count <= 0 || (index == 0 && count > cols)) BadIndex();
  count = std::min(count, cols - index);
  const int32_t item_no = ItemNoForUndo();
  TTerminators brackets(HostDocument, item_no);
  const int32_t end = index + count;
  if (end < cols) {
    for (int32_t r = Count() - 1; r >= 0;) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* m = GetMainCell(r, end - 1, mr, mc);
      if (mc >= index && mc + m->ColSpan > end) {
        if (auto* rec = RecordTableUndo<TRVUndoCellSpitVert>(HostDocument, item_no, true, true)) {
          rec->Splitting = false;
          rec->ShrinkWidth = decrease_widths;
          rec->CellRow = mr;
          rec->CellCol = mc;
          rec->SplitCol = end;
          rec->PriorBestWidth = m->BestWidth;
        }
        SplitCellVert(mr, mc, end, decrease_widths);
      }
      r = mr - 1;
    }
  }
  for (int32_t r = Count() - 1; r >= 0;) {
    int32_t mr = 0, mc = 0;
    TRVTableCellData* m = GetMainCell(r, index, mr, mc);
    if (mc < index) {
      const int32_t old = m->ColSpan;
      const int32_t span = mc + old - 1 > end - 1 ? old - count : index - mc;
      if (decrease_widths)
        SetCellIntPropertiesUndoable(OwnerTable, item_no, mr, mc, {{"BestWidth", span * m->BestWidth / old}}, true,
                                     true);
      SetSpan(item_no, mr, mc, span, true);
    }
    r = mr - 1;
  }
  auto* rec = RecordTableUndo<TRVUndoDeleteCols>(HostDocument, item_no, true, true);
  if (rec) {
    rec->Deleting = false;
    rec->FirstCol = index;
    rec->Count = count;
  }
  RemoveCols(item_no, index, count, rec);
}

// ---- Clearing --------------------------------------------------------------------------------------

void TRVTableRows::ClearCells(std::vector<std::unique_ptr<TRVTableCellData>>* saved_cells,
                              const std::vector<int32_t>& row_indexes, const std::vector<int32_t>& col_indexes,
                              TRVUndoInfo* undo_record) {
  const size_t n = std::min(row_indexes.size(), col_indexes.size());
  for (size_t i = 0; i < n; ++i) {
    const int32_t r = row_indexes[i], c = col_indexes[i];
    TRVTableCellData* cell = Cell(r, c);
    if (!cell) continue;
    if (!saved_cells) {
      cell->Clear();
      cell->AddTextItem("", 0, 0);
      continue;
    }
    TRVTableRow* row = GetItem(r);
    std::unique_ptr<TRVTableCellData> fresh = NewCell(row);
    fresh->AssignAttributesFrom(cell, true, 1, 1);
    fresh->AssignGeometryFrom(cell);
    fresh->RowSpan = cell->RowSpan;
    fresh->ColSpan = cell->ColSpan;
    std::unique_ptr<TRVTableCellData> old = row->PutCell(c, std::move(fresh));
    old->MovingToUndoList(undo_record);
    saved_cells->push_back(std::move(old));
  }
}

void TRVTableRows::RestoreClearedCells(std::vector<std::unique_ptr<TRVTableCellData>>& saved_cells,
                                       const std::vector<int32_t>& row_indexes,
                                       const std::vector<int32_t>& col_indexes) {
  const size_t n = std::min({row_indexes.size(), col_indexes.size(), saved_cells.size()});
  for (size_t i = 0; i < n; ++i) {
    std::unique_ptr<TRVTableCellData> cell = std::move(saved_cells[i]);
    if (!cell) continue;
    cell->MovingFromUndoList();
    GetItem(row_indexes[i])->PutCell(col_indexes[i], std::move(cell)).reset();
  }
  saved_cells.clear();
}

// ---- Raw steps ---------------------------------------------------------------------------------------

void TRVTableRows::DetachCells(int32_t row, int32_t col, int32_t col_count, int32_t row_count,
                               TRVUndoInfo* undo_record) {
  for (int32_t r = row; r < row + row_count; ++r)
    for (int32_t c = col; c < col + col_count; ++c)
      if (TRVTableCellData* cell = Cell(r, c)) cell->MovingToUndoList(undo_record);
}

void TRVTableRows::ReattachCells(int32_t row, int32_t col, int32_t col_count, int32_t row_count) {
  for (int32_t r = row; r < row + row_count; ++r) {
    TRVTableRow* line = GetItem(r);
    for (int32_t c = col; c < col + col_count; ++c)
      if (TRVTableCellData* cell = line->Items(c)) {
        cell->OwnerList = line;
        cell->MovingFromUndoList();
      }
  }
}

void TRVTableRows::InsertRowsRaw(int32_t index, int32_t count) {
  const int32_t cols = ColCount();
  for (int32_t i = 0; i < count; ++i) InsertRow(index + i, cols);
}

void TRVTableRows::DeleteRowsRaw(int32_t index, int32_t count) {
  for (int32_t i = 0; i < count; ++i) TakeRow(index).reset();
}

void TRVTableRows::SpreadOverEmptyCells(int32_t row, int32_t col, int32_t count) {
  Cell(row, col)->ColSpan = count;
  for (int32_t c = col + 1; c < col + count; ++c) GetItem(row)->FreeCell(c);
}

void TRVTableRows::UnspreadCell(int32_t row, int32_t col, int32_t count) {
  Cell(row, col)->ColSpan = 1;
  TRVTableRow* line = GetItem(row);
  for (int32_t c = col + 1; c < col + count; ++c) line->PutCell(c, NewCell(line)).reset();
}

void TRVTableRows::FreeCells(int32_t row, int32_t col, int32_t col_count, int32_t row_count) {
  for (int32_t r = row; r < row + row_count; ++r)
    for (int32_t c = col; c < col + col_count; ++c) GetItem(r)->FreeCell(c);
}

void TRVTableRows::CreateCells(int32_t row, int32_t col, int32_t col_count, int32_t row_count) {
  for (int32_t r = row; r < row + row_count; ++r) {
    TRVTableRow* line = GetItem(r);
    for (int32_t c = col; c < col + col_count; ++c) line->PutCell(c, NewCell(line)).reset();
  }
}

void TRVTableRows::InsertEmptyCells(int32_t row, int32_t col, int32_t col_count, int32_t row_count) {
  for (int32_t r = row; r < row + row_count; ++r)
    for (int32_t k = 0; k < col_count; ++k) GetItem(r)->InsertEmpty(col);
}

void TRVTableRows::RemoveEntries(int32_t row, int32_t col, int32_t col_count, int32_t row_count) {
  for (int32_t r = row; r < row + row_count; ++r)
    for (int32_t k = 0; k < col_count; ++k) GetItem(r)->RemoveEntry(col).reset();
}

void TRVTableRows::SplitCellHorz(int32_t row, int32_t col, int32_t split_row, bool adjust_height) {
  TRVTableCellData* cell = Cell(row, col);
  const int32_t old_span = cell->RowSpan, old_height = cell->BestHeight;
  const int32_t lower_span = row + old_span - split_row;
  TRVTableRow* line = GetItem(split_row);
  std::unique_ptr<TRVTableCellData> lower = NewCell(line);
  lower->AssignAttributesFrom(cell, true, 1, 1);
  lower->ColSpan = cell->ColSpan;
  lower->RowSpan = lower_span;
  lower->BestHeight = lower_span * old_height / old_span;
  line->PutCell(col, std::move(lower)).reset();
  if (adjust_height) cell->BestHeight = (old_span - lower_span) * old_height / old_span;
  cell->RowSpan -= lower_span;
}

void TRVTableRows::UnsplitCellHorz(int32_t row, int32_t col, int32_t split_row, int32_t old_best_height) {
  TRVTableCellData* cell = Cell(row, col);
  TRVTableCellData* lower = Cell(split_row, col);
  cell->BestHeight = old_best_height;
  cell->RowSpan += lower->RowSpan;
  GetItem(split_row)->FreeCell(col);
}

void TRVTableRows::SplitCellVert(int32_t row, int32_t col, int32_t split_col, bool adjust_width) {
  TRVTableCellData* cell = Cell(row, col);
  const int32_t old_span = cell->ColSpan, old_width = cell->BestWidth;
  const int32_t right_span = col + old_span - split_col;
  TRVTableRow* line = GetItem(row);
  std::unique_ptr<TRVTableCellData> right = NewCell(line);
  right->AssignAttributesFrom(cell, true, 1, 1);
  right->RowSpan = cell->RowSpan;
  right->ColSpan = right_span;
  right->BestWidth = right_span * old_width / old_span;
  line->PutCell(split_col, std::move(right)).reset();
  if (adjust_width) cell->BestWidth = (old_span - right_span) * old_width / old_span;
  cell->ColSpan -= right_span;
}

void TRVTableRows::UnsplitCellVert(int32_t row, int32_t col, int32_t split_col, int32_t old_best_width) {
  TRVTableCellData* cell = Cell(row, col);
  TRVTableCellData* right = Cell(row, split_col);
  cell->BestWidth = old_best_width;
  cell->ColSpan += right->ColSpan;
  GetItem(row)->FreeCell(split_col);
}

void TRVTableRows::RemoveRows(int32_t, int32_t index, int32_t count, TRVUndoDeleteRows* undo_record) {
  if (!undo_record) {
    DeleteRowsRaw(index, count);
    return;
  }
  DetachCells(index, 0, ColCount(), count, undo_record);
  for (int32_t i = 0; i < count; ++i) undo_record->HeldRows.push_back(TakeRow(index));
}

void TRVTableRows::RemoveCols(int32_t, int32_t index, int32_t count, TCustomRVUndoWithCells* undo_record) {
  for (int32_t r = 0; r < Count(); ++r) {
    TRVTableRow* line = GetItem(r);
    for (int32_t c = index + count - 1; c >= index; --c) {
      std::unique_ptr<TRVTableCellData> cell = line->RemoveEntry(c);
      if (!undo_record) continue;
      if (cell) cell->MovingToUndoList(undo_record);
      undo_record->HeldCells.push_back(std::move(cell));
    }
  }
}

void TRVTableRows::RestoreRows(int32_t index, std::vector<std::unique_ptr<TRVTableRow>>& row_list) {
  const int32_t n = static_cast<int32_t>(row_list.size());
  for (auto it = row_list.rbegin(); it != row_list.rend(); ++it) {
    (*it)->AdoptCells();
    InsertRowObject(index, std::move(*it));
  }
  row_list.clear();
  ReattachCells(index, 0, ColCount(), n);
}

void TRVTableRows::RestoreCols(int32_t index, std::vector<std::unique_ptr<TRVTableCellData>>& cell_list) {
  if (Count() == 0) return;
  const size_t n = cell_list.size() / static_cast<size_t>(Count());
  for (int32_t r = 0; r < Count(); ++r) {
    TRVTableRow* line = GetItem(r);
    for (size_t k = 0; k < n; ++k) {
      std::unique_ptr<TRVTableCellData>& cell = cell_list[static_cast<size_t>(r) * n + k];
      if (cell) cell->MovingFromUndoList();
      line->InsertCellObject(index, std::move(cell));
    }
  }
  cell_list.clear();
}

}  // namespace pelvar
