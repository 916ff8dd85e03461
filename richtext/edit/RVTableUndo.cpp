// Undo records of tables (see RVTableUndo.h).
#include "richtext/edit/RVTableUndo.h"

#include "platform/application.h"
#include "platform/exceptions.h"
#include "platform/filer.h"
#include "richtext/edit/RVTableInplace.h"
#include "richtext/edit/RVTableStream.h"

namespace pelvar {

TRVTableItemInfo* RVTableOfUndo(TRVEditRVData* rvdata, int32_t item_no) {
  auto* table = item_no >= 0 && item_no < rvdata->ItemCount()
                    ? dynamic_cast<TRVTableItemInfo*>(rvdata->GetItem(item_no))
                    : nullptr;
  if (!table) throw EInvalidCast("Invalid class typecast");
  return table;
}

TRVUndoList* RVTableUndoDestination(TCustomRVData* rvdata, int32_t item_no) {
  auto* edit = dynamic_cast<TRVEditRVData*>(rvdata);
  return edit && item_no >= 0 ? edit->GetUndoDestination() : nullptr;
}

// ---- Cell properties ----

void TRVUndoModifyCellIntProperty::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  table->MarkChanged();
  Target = table->GetCells(CellRow, CellCol);
  TRVUndoModifyItemIntProperty::Perform(rvdata);
}

void TRVUndoModifyCellIntProperty::TakeReverseRecord(TRVUndoModifyItemProps* record) {
  auto* r = static_cast<TRVUndoModifyCellIntProperty*>(record);
  r->CellRow = CellRow;
  r->CellCol = CellCol;
}

void TRVUndoModifyCellIntProperties::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  table->MarkChanged();
  Target = table->GetCells(CellRow, CellCol);
  TRVUndoModifyItemIntProperties::Perform(rvdata);
}

void TRVUndoModifyCellIntProperties::TakeReverseRecord(TRVUndoModifyItemProps* record) {
  auto* r = static_cast<TRVUndoModifyCellIntProperties*>(record);
  r->CellRow = CellRow;
  r->CellCol = CellCol;
}

void TRVUndoModifyVisibleBorders::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  bool* sides = CellRow < 0 || CellCol < 0 ? table->VisibleBorders : table->GetCells(CellRow, CellCol)->VisibleBorders;
  if (auto* rev = Reverse(rvdata)) {
    rev->CellRow = CellRow;
    rev->CellCol = CellCol;
    rev->PriorLeft = sides[0];
    rev->PriorTop = sides[1];
    rev->PriorRight = sides[2];
    rev->PriorBottom = sides[3];
  }
  sides[0] = PriorLeft;
  sides[1] = PriorTop;
  sides[2] = PriorRight;
  sides[3] = PriorBottom;
  table->MarkChanged();
}

void TRVUndoModifyBackgroundImage::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  // A negative position: the table's own picture; else the cell's.
  TRVTableCellData* cell = CellRow >= 0 && CellCol >= 0 ? table->GetCells(CellRow, CellCol) : nullptr;
  std::unique_ptr<TGraphic> current = cell ? cell->TakeBackgroundImage() : table->TakeBackgroundImage();
  if (auto* rev = Reverse(rvdata)) {
    rev->CellRow = CellRow;
    rev->CellCol = CellCol;
    rev->Image = std::move(current);
  }
  if (cell)
    cell->AssignBackgroundImage(std::move(Image));
  else
    table->AssignBackgroundImage(std::move(Image));
  table->MarkChanged();
}

// ---- Structure ----

void TRVUndoInsertTableRows::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  if (auto* rev = Reverse(rvdata)) {
    rev->Inserting = !Inserting;
    rev->FirstRow = FirstRow;
    rev->Count = Count;
  }
  if (Inserting)
    table->Rows().InsertRowsRaw(FirstRow, Count);
  else
    table->Rows().DeleteRowsRaw(FirstRow, Count);
  table->MarkChanged();
}

void TRVUndoInsertTableCell::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  if (auto* rev = Reverse(rvdata)) {
    rev->Inserting = !Inserting;
    rev->CellRow = CellRow;
    rev->CellCol = CellCol;
  }
  TRVTableRow* row = table->Rows().GetItem(CellRow);
  if (Inserting)
    row->InsertCell(CellCol);
  else
    row->RemoveEntry(CellCol).reset();
  table->MarkChanged();
}

void TRVUndoSpreadOverEmptyCells::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  if (auto* rev = Reverse(rvdata)) {
    rev->Spreading = !Spreading;
    rev->CellRow = CellRow;
    rev->CellCol = CellCol;
    rev->SpanCount = SpanCount;
  }
  if (Spreading)
    table->Rows().SpreadOverEmptyCells(CellRow, CellCol, SpanCount);
  else
    table->Rows().UnspreadCell(CellRow, CellCol, SpanCount);
  table->MarkChanged();
}

void TRVUndoSpan::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  TRVTableCellData* cell = table->GetCells(CellRow, CellCol);
  if (!cell) throw EDocViewError("Invalid row or column index");
  if (auto* rev = Reverse(rvdata)) {
    rev->SpanIsColumn = SpanIsColumn;
    rev->CellRow = CellRow;
    rev->CellCol = CellCol;
    rev->PriorSpan = SpanIsColumn ? cell->ColSpan : cell->RowSpan;
  }
  (SpanIsColumn ? cell->ColSpan : cell->RowSpan) = PriorSpan;
  table->MarkChanged();
}

void TRVUndoFreeEmptyCell::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  if (auto* rev = Reverse(rvdata)) {
    rev->Freeing = !Freeing;
    rev->CellRow = CellRow;
    rev->CellCol = CellCol;
    rev->ColSpan = ColSpan;
    rev->RowSpan = RowSpan;
  }
  if (Freeing)
    table->Rows().FreeCells(CellRow, CellCol, ColSpan, RowSpan);
  else
    table->Rows().CreateCells(CellRow, CellCol, ColSpan, RowSpan);
  table->MarkChanged();
}

void TRVUndoInsertEmptyCell::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  if (auto* rev = Reverse(rvdata)) {
    rev->Inserting = !Inserting;
    rev->CellRow = CellRow;
    rev->CellCol = CellCol;
    rev->ColsPerRow = ColsPerRow;
    rev->RowsCount = RowsCount;
  }
  if (Inserting)
    table->Rows().InsertEmptyCells(CellRow, CellCol, ColsPerRow, RowsCount);
  else
    table->Rows().RemoveEntries(CellRow, CellCol, ColsPerRow, RowsCount);
  table->MarkChanged();
}

void TRVUndoCellSpitHorz::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  if (auto* rev = Reverse(rvdata)) {
    rev->Splitting = !Splitting;
    rev->ShrinkHeight = ShrinkHeight;
    rev->CellRow = CellRow;
    rev->CellCol = CellCol;
    rev->SplitRow = SplitRow;
    rev->PriorBestHeight = PriorBestHeight;
  }
  if (Splitting)
    table->Rows().SplitCellHorz(CellRow, CellCol, SplitRow, ShrinkHeight);
  else
    table->Rows().UnsplitCellHorz(CellRow, CellCol, SplitRow, PriorBestHeight);
  table->MarkChanged();
}

void TRVUndoCellSpitVert::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  if (auto* rev = Reverse(rvdata)) {
    rev->Splitting = !Splitting;
    rev->ShrinkWidth = ShrinkWidth;
    rev->CellRow = CellRow;
    rev->CellCol = CellCol;
    rev->SplitCol = SplitCol;
    rev->PriorBestWidth = PriorBestWidth;
  }
  if (Splitting)
    table->Rows().SplitCellVert(CellRow, CellCol, SplitCol, ShrinkWidth);
  else
    table->Rows().UnsplitCellVert(CellRow, CellCol, SplitCol, PriorBestWidth);
  table->MarkChanged();
}

TRVUndoDeleteRows::~TRVUndoDeleteRows() {
  while (!HeldRows.empty()) HeldRows.pop_back();
}

void TRVUndoDeleteRows::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  TRVUndoDeleteRows* rev = Reverse(rvdata);
  if (rev) {
    rev->Deleting = !Deleting;
    rev->FirstRow = FirstRow;
    rev->Count = Count;
  }
  if (Deleting)
    table->Rows().RemoveRows(ItemNo, FirstRow, Count, rev);
  else
    table->Rows().RestoreRows(FirstRow, HeldRows);
  table->MarkChanged();
}

TCustomRVUndoWithCells::~TCustomRVUndoWithCells() {
  while (!HeldCells.empty()) HeldCells.pop_back();
}

void TRVUndoDeleteCols::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  auto* rev = RecordTableUndo<TRVUndoDeleteCols>(rvdata, ItemNo, true, true);
  if (rev) {
    rev->Deleting = !Deleting;
    rev->FirstCol = FirstCol;
    rev->Count = Count;
  }
  if (Deleting)
    table->Rows().RemoveCols(ItemNo, FirstCol, Count, rev);
  else
    table->Rows().RestoreCols(FirstCol, HeldCells);
  table->MarkChanged();
}

void TRVUndoCellsClear::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  auto* rev = RecordTableUndo<TRVUndoCellsClear>(rvdata, ItemNo, true, true);
  if (rev) {
    rev->Deleting = !Deleting;
    rev->CellRows = CellRows;
    rev->CellCols = CellCols;
  }
  if (Deleting) {
    if (rev) {
      table->Rows().ClearCells(&rev->HeldCells, CellRows, CellCols, rev);
    } else {
      // Nothing records the old cells: they are emptied in place.
      table->Rows().ClearCells(nullptr, CellRows, CellCols, nullptr);
    }
  } else {
    table->Rows().RestoreClearedCells(HeldCells, CellRows, CellCols);
  }
  table->MarkChanged();
}

TRVUndoMergeItem::~TRVUndoMergeItem() = default;

TRVUndoMerge::~TRVUndoMerge() {
  while (!MergedCells.empty()) MergedCells.pop_back();
}

void TRVUndoMerge::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  TRVUndoMerge* rev = Reverse(rvdata);
  if (rev) {
    rev->Merging = !Merging;
    rev->CellRow = CellRow;
    rev->CellCol = CellCol;
    rev->PriorColSpan = PriorColSpan;
    rev->PriorRowSpan = PriorRowSpan;
    rev->NewColSpan = NewColSpan;
    rev->NewRowSpan = NewRowSpan;
    rev->PriorBestWidth = PriorBestWidth;
  }
  if (Merging)
    table->Rows().DoMerge(ItemNo, CellRow, CellCol, NewColSpan, NewRowSpan, rev, true);
  else
    table->Rows().UndoMerge(CellRow, CellCol, PriorColSpan, PriorRowSpan, MergedCells, PriorBestWidth);
  table->MarkChanged();
}

// ---- Several cells ----

bool TRVUndoMultiCellsModify::NeedsFullFormatBefore(TRVEditRVData* rvdata) {
  if (!rvdata->IsFormattedForUndo()) return false;
  MeasuredItemWidth = rvdata->ItemWidthForUndo(ItemNo);
  return MeasuredItemWidth >= rvdata->DocWidthForUndo();
}

bool TRVUndoMultiCellsModify::NeedsFullFormatAfter(TRVEditRVData* rvdata) {
  if (!rvdata->IsFormattedForUndo()) return false;
  const int32_t w = rvdata->ItemWidthForUndo(ItemNo);
  return w != MeasuredItemWidth && rvdata->DocWidthForUndo() < w;
}

void TRVUndoMultiCellsModify::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  TRVUndoMultiCellsModify* rev = nullptr;
  if (TRVUndoList* list = rvdata->GetUndoDestination()) {
    auto r = std::make_unique<TRVUndoMultiCellsModify>();
    r->ItemNo = ItemNo;
    r->ForRedo = !ForRedo;
    r->InnerList = std::make_unique<TRVUndoList>(rvdata);
    rev = r.get();
    list->AddInfo(r.release());
  }
  TRVTableTemporalEditorData temp(rvdata);
  temp.SetUndoLimit(rvdata->GetUndoLimit() != 0 ? -1 : 0);
  while (InnerList && InnerList->Count() > 0 && !CellRows.empty() && !CellCols.empty() && !GroupCounts.empty()) {
    TRVTableCellData* cell = table->GetCells(CellRows.front(), CellCols.front());
    if (!cell) throw EDocViewError("Invalid row or column index");
    temp.Clear();
    temp.AppendFrom(cell);
    try {
      for (int32_t k = 0; k < GroupCounts.front() && InnerList->Count() > 0; ++k)
        temp.UndoList->AddGroup(InnerList->ExtractGroup(0).release());
      while (temp.UndoList->Count() > 0) temp.Undo();
      if (rev) {
        rev->CellRows.push_back(CellRows.front());
        rev->CellCols.push_back(CellCols.front());
        rev->GroupCounts.push_back(temp.RedoList->Count());
        while (temp.RedoList->Count() > 0) rev->InnerList->AddGroup(temp.RedoList->ExtractGroup(0).release());
      }
    } catch (...) {
      // The cell keeps its items whatever happened to its groups.
      cell->AppendFrom(&temp);
      throw;
    }
    cell->AppendFrom(&temp);
    CellRows.erase(CellRows.begin());
    CellCols.erase(CellCols.begin());
    GroupCounts.erase(GroupCounts.begin());
  }
  table->MarkChanged();
}

// ---- A cell editor's groups ----

void TRVUndoCellModify::Perform(TRVEditRVData* rvdata) {
  TRVTableItemInfo* table = RVTableOfUndo(rvdata, ItemNo);
  if (!InnerList || InnerList->Count() == 0) return;
  int32_t row = -1, col = -1;
  table->GetEditedCellPos(row, col);
  if (row != CellRow || col != CellCol)
    table->OpenCellEditor(-1, CellRow, CellCol, false, true, false, false, true);
  TRVTableInplaceEdit* editor = table->GetEditedCellPos(row, col);
  if (!editor || row != CellRow || col != CellCol) {
    // No editor here (a document without a control): the cell's items take the groups directly.
    TRVUndoMultiCellsModify direct;
    direct.ItemNo = ItemNo;
    direct.ForRedo = ForRedo;
    direct.CellRows.push_back(CellRow);
    direct.CellCols.push_back(CellCol);
    direct.GroupCounts.push_back(InnerList->Count());
    direct.InnerList = std::move(InnerList);
    InnerList = std::make_unique<TRVUndoList>(rvdata);
    direct.Perform(rvdata);
    return;
  }
  TRVEditRVData* d = editor->EditData();
  TRVUndoList& target = ForRedo ? *d->RedoList : *d->UndoList;
  while (InnerList->Count() > 0) target.AddGroup(InnerList->ExtractGroup(0).release());
  if (CellCaretItem >= 0 && CellCaretItem < d->ItemCount()) {
    d->SetSelectionBounds(CellCaretItem, CellCaretOffset, CellCaretItem, CellCaretOffset);
    if (!d->NotFormatted()) d->ChangeCaret(false, false, false);
  }
  editor->SetReadOnly(true);
  PostMessage(editor->MessageHandle(), ForRedo ? WM_RVINPLACEREDO : WM_RVINPLACEUNDO, 0, 0);
}

// ---- Undoable cell attribute changes ----

void SetCellIntPropertiesUndoable(TRVTableItemInfo* table, int32_t item_no, int32_t row, int32_t col,
                                  const std::vector<std::pair<AnsiString, int32_t>>& values, bool changes_size,
                                  bool changes_width) {
  TRVTableCellData* cell = table->GetCells(row, col);
  TPublishedProperties props;
  cell->DefinePublished(props);
  std::vector<std::pair<const TPublishedProperty*, int32_t>> changes;
  for (const auto& [name, value] : values) {
    const TPublishedProperty* p = props.Find(name);
    if (!p) throw EDocViewError("Property " + name + " does not exist");
    if (p->GetOrd() != value) changes.emplace_back(p, value);
  }
  if (changes.empty()) return;
  if (auto* rec = RecordTableUndo<TRVUndoModifyCellIntProperties>(table->HostDocument(), item_no, changes_size,
                                                                  changes_width)) {
    rec->CellRow = row;
    rec->CellCol = col;
    for (auto& [p, v] : changes) rec->PriorValues.emplace_back(p->Name, static_cast<int32_t>(p->GetOrd()));
  }
  for (auto& [p, v] : changes) p->SetOrd(v);
  table->MarkChanged();
}

void SetCellVisibleBordersUndoable(TRVTableItemInfo* table, int32_t item_no, int32_t row, int32_t col, bool left,
                                   bool top, bool right, bool bottom) {
  bool* sides = table->GetCells(row, col)->VisibleBorders;
  if (sides[0] == left && sides[1] == top && sides[2] == right && sides[3] == bottom) return;
  if (auto* rec = RecordTableUndo<TRVUndoModifyVisibleBorders>(table->HostDocument(), item_no, false, false)) {
    rec->CellRow = row;
    rec->CellCol = col;
    rec->PriorLeft = sides[0];
    rec->PriorTop = sides[1];
    rec->PriorRight = sides[2];
    rec->PriorBottom = sides[3];
  }
  sides[0] = left;
  sides[1] = top;
  sides[2] = right;
  sides[3] = bottom;
  table->MarkChanged();
}

void SetCellStrPropertyUndoable(TRVTableItemInfo* table, int32_t item_no, int32_t row, int32_t col,
                                const AnsiString& name, const AnsiString& value) {
  TRVTableCellData* cell = table->GetCells(row, col);
  TPublishedProperties props;
  cell->DefinePublished(props);
  const TPublishedProperty* p = props.Find(name);
  if (!p || p->Kind != TPropKind::String) throw EDocViewError("Property " + name + " does not exist");
  if (p->GetStr() == value) return;
  if (auto* rec = RecordTableUndo<TRVUndoModifyCellStrProperty>(table->HostDocument(), item_no, false, false)) {
    rec->CellRow = row;
    rec->CellCol = col;
    rec->PropName = name;
    rec->PriorText = p->GetStr();
  }
  p->SetStr(value);
  table->MarkChanged();
}

void AssignCellAttributesUndoable(TRVTableItemInfo* table, int32_t item_no, int32_t row, int32_t col,
                                  const TRVTableCellData* source, bool copy_size, int32_t col_divisor,
                                  int32_t row_divisor) {
  if (!RVTableUndoDestination(table->HostDocument(), item_no)) {
    table->GetCells(row, col)->AssignAttributesFrom(source, copy_size, col_divisor, row_divisor);
    table->MarkChanged();
    return;
  }
  const bool* s = source->VisibleBorders;
  SetCellVisibleBordersUndoable(table, item_no, row, col, s[0], s[1], s[2], s[3]);
  table->SetCellBackgroundImageUndoable(source->BackgroundImage(), row, col);
  SetCellStrPropertyUndoable(table, item_no, row, col, "BackgroundImageFileName", source->BackgroundImageFileName);
  SetCellStrPropertyUndoable(table, item_no, row, col, "Hint", source->Hint);
  std::vector<std::pair<AnsiString, int32_t>> values = {{"Color", source->Color},
                                                        {"BorderColor", source->BorderColor},
                                                        {"BorderLightColor", source->BorderLightColor},
                                                        {"VAlign", static_cast<int32_t>(source->VAlign)},
                                                        {"BackgroundStyle", static_cast<int32_t>(source->BackgroundStyle())}};
  if (copy_size) {
    values.emplace_back("BestWidth", source->BestWidth / std::max(col_divisor, 1));
    values.emplace_back("BestHeight", source->BestHeight / std::max(row_divisor, 1));
  }
  SetCellIntPropertiesUndoable(table, item_no, row, col, values, copy_size, copy_size);
}

}  // namespace pelvar
