// Undo records of tables: every change of a table's grid or of a cell's attributes made in
// an editable document is undoable. A record names its table by the table's item index in
// the document; performing it first records its reverse in the list records currently go
// to (so undoing fills the redo list and redoing the undo list), then changes the grid
// through the grid's raw steps, then marks the table changed.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "richtext/edit/RVERVData.h"
#include "richtext/edit/RVTable.h"
#include "richtext/edit/RVUndo.h"

namespace pelvar {

// The table that item item_no of rvdata is; EInvalidCast when it is no table.
TRVTableItemInfo* RVTableOfUndo(TRVEditRVData* rvdata, int32_t item_no);

// The list records go to for a table in document rvdata, or nil: the document is not
// editable, its recording is off, or the table is not recorded (item_no -1).
TRVUndoList* RVTableUndoDestination(TCustomRVData* rvdata, int32_t item_no);

// A new record of class T (kind 15, ItemNo and the two flags set) added to the list
// records go to; nil when nothing is recorded. The caller fills the record's own fields.
template <class T>
T* RecordTableUndo(TCustomRVData* rvdata, int32_t item_no, bool changes_size, bool changes_width) {
  TRVUndoList* list = RVTableUndoDestination(rvdata, item_no);
  if (!list) return nullptr;
  auto rec = std::make_unique<T>();
  rec->Kind = rvukModifyItem;
  rec->ItemNo = item_no;
  rec->ChangesSize = changes_size;
  rec->ChangesWidth = changes_width;
  T* raw = rec.get();
  list->AddInfo(rec.release());
  return raw;
}

// The common base of the structural table records: the reverse is a record of the same
// class made by RecordTableUndo with the class's own flags.
template <class Self, bool ReverseWidth = true, bool ReverseSize = true>
class TRVTableUndoRecord : public TRVUndoModifyItemProps {
 public:
  std::unique_ptr<TRVUndoModifyItemProps> NewReverse() const override { return std::make_unique<Self>(); }

 protected:
  Self* Reverse(TRVEditRVData* rvdata) const {
    return RecordTableUndo<Self>(rvdata, ItemNo, ReverseSize, ReverseWidth);
  }
};

// ---- Cell properties ----
class TRVUndoModifyCellIntProperty : public TRVUndoModifyItemIntProperty {
 public:
  int32_t CellRow = 0, CellCol = 0;
  void Perform(TRVEditRVData* rvdata) override;
  void TakeReverseRecord(TRVUndoModifyItemProps* record) override;
  std::unique_ptr<TRVUndoModifyItemProps> NewReverse() const override {
    return std::make_unique<TRVUndoModifyCellIntProperty>();
  }
};

// A string property of a cell (the value is kept in PriorText).
class TRVUndoModifyCellStrProperty : public TRVUndoModifyCellIntProperty {
 public:
  std::unique_ptr<TRVUndoModifyItemProps> NewReverse() const override {
    return std::make_unique<TRVUndoModifyCellStrProperty>();
  }
};

class TRVUndoModifyCellIntProperties : public TRVUndoModifyItemIntProperties {
 public:
  int32_t CellRow = 0, CellCol = 0;
  void Perform(TRVEditRVData* rvdata) override;
  void TakeReverseRecord(TRVUndoModifyItemProps* record) override;
  std::unique_ptr<TRVUndoModifyItemProps> NewReverse() const override {
    return std::make_unique<TRVUndoModifyCellIntProperties>();
  }
};

// The visible sides of a cell, or with a negative position of the table itself.
class TRVUndoModifyVisibleBorders : public TRVTableUndoRecord<TRVUndoModifyVisibleBorders, false, false> {
 public:
  int32_t CellRow = -1, CellCol = -1;
  bool PriorLeft = true, PriorRight = true, PriorTop = true, PriorBottom = true;
  void Perform(TRVEditRVData* rvdata) override;
};

// The background picture of the table (negative position) or of a cell put back (the record
// owns the picture while it waits).
class TRVUndoModifyBackgroundImage : public TRVTableUndoRecord<TRVUndoModifyBackgroundImage, false, false> {
 public:
  int32_t CellRow = -1, CellCol = -1;
  std::unique_ptr<TGraphic> Image;
  void Perform(TRVEditRVData* rvdata) override;
};

// ---- Structure ----
class TRVUndoInsertTableRows : public TRVTableUndoRecord<TRVUndoInsertTableRows> {
 public:
  int32_t FirstRow = 0, Count = 0;
  bool Inserting = false;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoInsertTableCell : public TRVTableUndoRecord<TRVUndoInsertTableCell> {
 public:
  int32_t CellRow = 0, CellCol = 0;
  bool Inserting = false;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoSpreadOverEmptyCells : public TRVTableUndoRecord<TRVUndoSpreadOverEmptyCells> {
 public:
  int32_t CellRow = 0, CellCol = 0, SpanCount = 0;
  bool Spreading = false;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoSpan : public TRVTableUndoRecord<TRVUndoSpan> {
 public:
  bool SpanIsColumn = false;
  int32_t CellRow = 0, CellCol = 0, PriorSpan = 1;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoFreeEmptyCell : public TRVTableUndoRecord<TRVUndoFreeEmptyCell> {
 public:
  bool Freeing = false;
  int32_t CellRow = 0, CellCol = 0, ColSpan = 1, RowSpan = 1;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoInsertEmptyCell : public TRVTableUndoRecord<TRVUndoInsertEmptyCell> {
 public:
  bool Inserting = false;
  int32_t CellRow = 0, CellCol = 0, ColsPerRow = 0, RowsCount = 0;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoCellSpitHorz : public TRVTableUndoRecord<TRVUndoCellSpitHorz, false, true> {
 public:
  bool Splitting = false, ShrinkHeight = false;
  int32_t CellRow = 0, CellCol = 0, SplitRow = 0, PriorBestHeight = 0;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoCellSpitVert : public TRVTableUndoRecord<TRVUndoCellSpitVert> {
 public:
  bool Splitting = false, ShrinkWidth = false;
  int32_t CellRow = 0, CellCol = 0, SplitCol = 0, PriorBestWidth = 0;
  void Perform(TRVEditRVData* rvdata) override;
};

// Holds the removed row objects (with their cells) until they are given back.
class TRVUndoDeleteRows : public TRVTableUndoRecord<TRVUndoDeleteRows> {
 public:
  ~TRVUndoDeleteRows() override;
  bool Deleting = false;
  int32_t FirstRow = 0, Count = 0;
  std::vector<std::unique_ptr<TRVTableRow>> HeldRows;
  void Perform(TRVEditRVData* rvdata) override;
};

// Holds removed cells (entries may be nil).
class TCustomRVUndoWithCells : public TRVUndoModifyItemProps {
 public:
  ~TCustomRVUndoWithCells() override;
  bool Deleting = false;
  std::vector<std::unique_ptr<TRVTableCellData>> HeldCells;
};

class TRVUndoDeleteCols : public TCustomRVUndoWithCells {
 public:
  int32_t FirstCol = 0, Count = 0;
  void Perform(TRVEditRVData* rvdata) override;
  std::unique_ptr<TRVUndoModifyItemProps> NewReverse() const override { return std::make_unique<TRVUndoDeleteCols>(); }
};

class TRVUndoCellsClear : public TCustomRVUndoWithCells {
 public:
  std::vector<int32_t> CellRows, CellCols;
  void Perform(TRVEditRVData* rvdata) override;
  std::unique_ptr<TRVUndoModifyItemProps> NewReverse() const override { return std::make_unique<TRVUndoCellsClear>(); }
};

// One cell absorbed by a merge and the number of items it gave to the merged cell.
class TRVUndoMergeItem {
 public:
  TRVUndoMergeItem(int32_t row, int32_t col, int32_t item_count, std::unique_ptr<TRVTableCellData> cell)
      : CellRow(row), CellCol(col), ItemCount(item_count), Cell(std::move(cell)) {}
  ~TRVUndoMergeItem();
  int32_t CellRow, CellCol, ItemCount;
  std::unique_ptr<TRVTableCellData> Cell;
};

class TRVUndoMerge : public TRVTableUndoRecord<TRVUndoMerge> {
 public:
  ~TRVUndoMerge() override;
  bool Merging = false;
  int32_t CellRow = 0, CellCol = 0, PriorColSpan = 1, PriorRowSpan = 1, NewColSpan = 1, NewRowSpan = 1,
          PriorBestWidth = 0;
  std::vector<std::unique_ptr<TRVUndoMergeItem>> MergedCells;
  void Perform(TRVEditRVData* rvdata) override;
};

// The undo (or redo) groups of a cell editor, handed to the main document when the editor
// closes or before a table change. Performing it puts the groups back into the cell's editor
// (opening it on the cell) and asks the editor to undo (redo) its newest group there; where no
// editor can open, the groups are performed on the cell's items directly.
class TRVUndoCellModify : public TRVCompositeUndo {
 public:
  TRVUndoCellModify() { Kind = rvukModifyItem; }
  int32_t CellRow = 0, CellCol = 0, CellCaretItem = 0, CellCaretOffset = 0;
  bool NeedsFormatFirst() override { return true; }
  void Perform(TRVEditRVData* rvdata) override;
};

// Style operations applied to several cells at once: InnerList holds, for the cells of
// CellRows/CellCols in that order, GroupCounts[k] groups of each cell's own edits. Each
// cell's groups are undone in a temporal editor holding the cell's items, and the groups
// that undoing makes go to the reverse record.
class TRVUndoMultiCellsModify : public TRVCompositeUndo {
 public:
  TRVUndoMultiCellsModify() { Kind = rvukModifyItem; }
  std::vector<int32_t> CellRows, CellCols, GroupCounts;
  int32_t MeasuredItemWidth = 0;
  bool NeedsFormat() override { return true; }
  bool NeedsFullFormatBefore(TRVEditRVData* rvdata) override;
  bool NeedsFullFormatAfter(TRVEditRVData* rvdata) override;
  void Perform(TRVEditRVData* rvdata) override;
};

// ---- Undoable cell attribute changes (used by the grid operations) ----
// Sets the integer properties of the cell at (row, col), recording one property record
// when item_no is recorded; only values that differ are recorded.
void SetCellIntPropertiesUndoable(TRVTableItemInfo* table, int32_t item_no, int32_t row, int32_t col,
                                  const std::vector<std::pair<AnsiString, int32_t>>& values, bool changes_size,
                                  bool changes_width);
void SetCellVisibleBordersUndoable(TRVTableItemInfo* table, int32_t item_no, int32_t row, int32_t col, bool left,
                                   bool top, bool right, bool bottom);
void SetCellStrPropertyUndoable(TRVTableItemInfo* table, int32_t item_no, int32_t row, int32_t col,
                                const AnsiString& name, const AnsiString& value);
// The cell takes source's attributes (with the best sizes divided when copy_size), each
// change recorded.
void AssignCellAttributesUndoable(TRVTableItemInfo* table, int32_t item_no, int32_t row, int32_t col,
                                  const TRVTableCellData* source, bool copy_size, int32_t col_divisor,
                                  int32_t row_divisor);

}  // namespace pelvar
