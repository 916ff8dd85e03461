// The table item: a grid of cell documents with row and column spans (cells, rows and the
// grid container with its look-ups), the grid operations that change the grid's shape
// (merge, insert and delete rows and columns, clear cells, and the raw steps the table undo
// records reverse them with), the table's properties, its layout, painting and printing
// (RVTableLayout.cpp, RVTablePaint.cpp) and its native, RTF, HTML and text output
// (RVTableFormats.cpp), and the interaction in an editor: the cell editor, keyboard moves,
// mouse handling with cell selection and border dragging, operations over cells
// (RVTableEdit.cpp, RVTableInplace.h).
//
// Grid invariants: every row has the same number of entries; an entry is a cell or nil; a
// cell with spans r x c at (Row, Col) covers Row..Row+r-1 x Col..Col+c-1 and every other
// entry of that rectangle is nil; every nil entry lies inside exactly one cell's rectangle.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "platform/filer.h"
#include "richtext/model/RVTableBase.h"
#include "richtext/view/CRVFData.h"
#include "richtext/view/RVBack.h"

namespace pelvar {

class TRVTableItemInfo;
class TRVTableRow;
class TRVTableRows;
class TRVUndoInfo;
class TRVUndoMerge;
class TRVUndoMergeItem;
class TCustomRVUndoWithCells;
class TRVUndoDeleteRows;
class TRVTableStreamSaveInfo;
class TD;
class TRVTableCellView;
class TCellPtblRVData;
class TRVTablePrintInfo;
class TRVTablePrintPart;
class TRVTableInplaceEdit;
class TCustomDocViewEdit;

// Cursors over the outer borders: selecting a whole row (left) or column (top).
constexpr TCursor crRVSelectRow = 104, crRVSelectCol = 105;

// Tab in the last cell of a table appends a row copying the last one.
extern bool RVTableTabAddsRow;

enum TRVTablePrintOption : uint8_t { rvtoHalftoneBorders, rvtoRowsSplit, rvtoWhiteBackground };
using TRVTablePrintOptions = TRVSet<TRVTablePrintOption, uint8_t>;

// Grid lines of invisible borders: dotted in an editor that is not read-only, none elsewhere
// (psClear draws nothing).
extern TPenStyle TableGridPenStyleEditing;
extern TPenStyle TableGridPenStyleViewing;
extern TColor TableGridLineColor;
// RTF: every table of automatic width is marked autofit.
extern bool TableRTFAutofit;

// Where a cell stands in its table: kept where the document model stores "which
// sub-document".
class TRVBooleanRectHolder;

class TRVTableStoreSubRVData : public TRVStoreSubRVData {
 public:
  TRVTableStoreSubRVData(int32_t row, int32_t col) : Row(row), Col(col) {}
  int32_t Row, Col;
  std::unique_ptr<TRVStoreSubRVData> Duplicate() const override {
    return std::make_unique<TRVTableStoreSubRVData>(Row, Col);
  }
  // Negative, 0 or positive: rows first, then columns.
  int32_t Compare(const TRVStoreSubRVData* other) const override;
};

// A cell: a document of its own that asks the document holding its table for everything.
class TRVTableCellData : public TRVTableCellBase {
 public:
  // A new cell holds one empty paragraph (an empty text item of text and paragraph style 0).
  TRVTableCellData(TRVTableRow* owner_list, TRVTableItemInfo* table, TCustomRVData* host);
  ~TRVTableCellData() override;

  // Set by the layout.
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;
  AnsiString BackgroundImageFileName;
  AnsiString Hint;
  // The row holding the cell; nil while the cell is out of the grid.
  TRVTableRow* OwnerList = nullptr;
  // The table undo record holding the cell while it is out of the grid.
  TRVUndoInfo* UndoHolder = nullptr;
  // Set while the cell is written without content (a selection save): no "Data".
  bool SavingWithoutContent = false;
  // The cell's laid-out view: a formatted document over the cell's own items.
  TRVTableCellView* View();

  TCustomRVData* GetParentData() override { return host_; }
  TCustomRVData* GetAbsoluteParentData() override { return host_; }
  TCustomRVData* GetRootData() override { return host_ ? host_->GetRootData() : this; }
  TCustomRVData* GetAbsoluteRootData() override { return host_ ? host_->GetAbsoluteRootData() : this; }
  // The holding document's options (or, while held by an undo record, its document's)
  // without rvoClientTextWidth.
  TRVOptions GetOptions() override;
  bool PageBreaksAllowed() override { return false; }
  void GetParentInfo(int32_t& parent_item_no, std::unique_ptr<TRVStoreSubRVData>& location) override;

  // Colour, border colours, visible borders, vertical alignment, background file name and
  // hint; with include_size also the best sizes divided by the divisors.
  void AssignAttributesFrom(const TRVTableCellData* source, bool include_size = false, int32_t col_divisor = 1,
                            int32_t row_divisor = 1);
  void AssignGeometryFrom(const TRVTableCellData* source);
  // VAlign, or for rvcVDefault the row's (a row's rvcVDefault counts as rvcMiddle).
  TRVCellVAlign EffectiveVAlign() const;
  bool IsTransparent() const { return Color == clNone; }
  // More than one item: content. No item: none. One item: strict, an empty text item of
  // text and paragraph style 0 is empty; not strict, any empty text item is.
  bool HasContent(bool strict);
  // Out of the grid into an undo record, and back.
  void MovingToUndoList(TRVUndoInfo* holder);
  void MovingFromUndoList();

  // ---- Background picture ----
  // Nil while the cell has no picture and no picture placement.
  std::unique_ptr<TRVBackground> Background;
  TGraphic* BackgroundImage() const { return Background ? Background->Image() : nullptr; }
  // Copies the picture (nil or an empty picture removes it), without undo.
  void SetBackgroundImage(TGraphic* value);
  TRVItemBackgroundStyle BackgroundStyle() const { return Background ? Background->GetItemBackStyle() : rvbsColor; }
  void SetBackgroundStyle(TRVItemBackgroundStyle value);
  // Puts a picture in (owned from now on; nil removes it) and takes it out, without undo.
  void AssignBackgroundImage(std::unique_ptr<TGraphic> picture);
  std::unique_ptr<TGraphic> TakeBackgroundImage();

  TRVTableItemInfo* Table() const { return table_; }
  TCustomRVData* HostDocument() const { return host_; }
  void SetHost(TCustomRVData* host) { host_ = host; }

  // Published properties and the binary property "Data" (the cell's document).
  void DefinePublished(TPublishedProperties& props) override;

 protected:
  void DefineProperties(TFiler* filer) override;

 private:
  // An empty background goes; an open cell editor and the holding document show the change.
  void BackgroundChanged();
  void WriteDataProperty(TStream& stream);
  void ReadDataProperty(TStream& stream);
  std::unique_ptr<TPersistent> borders_;  // VisibleBorders as a published object
  std::unique_ptr<TRVTableCellView> view_;
  TRVTableItemInfo* table_;
  TCustomRVData* host_;
};

// A row of the grid; it owns its cells.
class TRVTableRow {
 public:
  // col_count new cells; with create_cells false, col_count nil entries.
  TRVTableRow(int32_t col_count, TRVTableRows* rows, bool create_cells = true);
  ~TRVTableRow();

  TRVCellVAlign VAlign = rvcTop;
  bool PageBreakBefore = false;
  TRVTableRows* OwnerGrid;

  int32_t Count() const { return static_cast<int32_t>(cells_.size()); }
  TRVTableCellData* Items(int32_t i) const { return cells_.at(static_cast<size_t>(i)).get(); }
  TRVTableCellData* GetCell(int32_t i) const { return Items(i); }
  TRVTableCellData* AddCell();
  TRVTableCellData* InsertCell(int32_t index);
  void InsertEmpty(int32_t index);
  // Inserts a given cell (or nil) and makes this row its owner.
  void InsertCellObject(int32_t index, std::unique_ptr<TRVTableCellData> cell);
  // Replaces the entry, handing the old one back, and makes this row the owner.
  std::unique_ptr<TRVTableCellData> PutCell(int32_t index, std::unique_ptr<TRVTableCellData> cell);
  // Takes the cell out of the entry (which becomes nil).
  std::unique_ptr<TRVTableCellData> TakeCell(int32_t index);
  // Removes the entry; the cell, if any, is handed back.
  std::unique_ptr<TRVTableCellData> RemoveEntry(int32_t index);
  // Frees the cell and sets the entry to nil.
  void FreeCell(int32_t index) { TakeCell(index).reset(); }
  // Gives every cell of the row this row as owner list.
  void AdoptCells();

  // The largest BestHeight of the cells that span one row.
  int32_t MaxBestHeight() const;
  // A cell of this row (which is row row_index) ends at or before row first + count - 1.
  bool SpanEndsInside(int32_t row_index, int32_t first, int32_t count) const;

 private:
  std::unique_ptr<TRVTableCellData> NewCell();
  std::vector<std::unique_ptr<TRVTableCellData>> cells_;
};

// The grid: rows of cells with their spans, and the operations that change its shape.
// While the table lies in an editable document whose undo recording is on, the operations
// record table undo records and keep removed cells and rows alive inside them; otherwise
// removed cells are freed at once.
class TRVTableRows {
 public:
  TRVTableRows(int32_t row_count, int32_t col_count, TCustomRVData* host, TRVTableItemInfo* table);
  ~TRVTableRows();

  TCustomRVData* HostDocument;
  TRVTableItemInfo* OwnerTable;

  void Reset(int32_t row_count, int32_t col_count);
  int32_t Count() const { return static_cast<int32_t>(rows_.size()); }
  TRVTableRow* GetItem(int32_t index) const { return rows_.at(static_cast<size_t>(index)).get(); }
  TRVTableRow* operator[](int32_t index) const { return GetItem(index); }
  // Entries of row 0; 0 without rows.
  int32_t ColCount() const { return rows_.empty() ? 0 : rows_[0]->Count(); }
  bool IsEmpty() const { return rows_.empty() || rows_[0]->Count() == 0; }
  TRVTableRow* AddRow(int32_t col_count);
  TRVTableRow* InsertRow(int32_t index, int32_t col_count);
  void InsertRowObject(int32_t index, std::unique_ptr<TRVTableRow> row);
  std::unique_ptr<TRVTableRow> TakeRow(int32_t index);
  void SetHostDocument(TCustomRVData* host);
  std::unique_ptr<TRVTableCellData> NewCell(TRVTableRow* row);

  // The cell covering (row, col) and its own position.
  TRVTableCellData* GetMainCell(int32_t row, int32_t col, int32_t& main_row, int32_t& main_col) const;
  // The best width a merge of the rectangle gets: per row the sum of its cells' widths (a
  // percentage, once met, discards pixels); across rows a percentage beats pixels, the
  // larger of two wins.
  int32_t MergedBestWidth(int32_t row, int32_t col, int32_t col_count, int32_t row_count) const;
  // Measures over the cells that start in column col and span one column.
  int32_t ColBestWidth(int32_t col) const;
  int32_t ColPercentWidth(int32_t col, int32_t table_width) const;
  bool ColHasPercentCell(int32_t col) const;
  // The grid invariants hold (equal row lengths, spans >= 1 inside the grid, every nil
  // entry inside exactly one cell, every cell's rectangle free of other cells).
  bool IsValid() const;

  // ---- Operations ----
  bool MergeParamsValid(int32_t top_row, int32_t left_col, int32_t& col_count, int32_t& row_count) const;
  bool CanMerge(int32_t top_row, int32_t left_col, int32_t col_count, int32_t row_count, bool allow_empty_lines) const;
  void MergeCells(int32_t top_row, int32_t left_col, int32_t col_count, int32_t row_count, bool allow_empty_lines,
                  bool merge_best_widths);
  void InsertRows(int32_t index, int32_t count, int32_t copy_index, bool divide_heights);
  void InsertCols(int32_t index, int32_t count, int32_t copy_index, bool divide_widths);
  void DeleteRows(int32_t index, int32_t count, bool decrease_heights);
  void DeleteCols(int32_t index, int32_t count, bool decrease_widths);
  // Empties the listed cells; with saved_cells the old cells move there (and into the
  // record) and new cells with their attributes take their places.
  void ClearCells(std::vector<std::unique_ptr<TRVTableCellData>>* saved_cells, const std::vector<int32_t>& row_indexes,
                  const std::vector<int32_t>& col_indexes, TRVUndoInfo* undo_record);
  void SetSpan(int32_t item_no, int32_t row, int32_t col, int32_t new_value, bool is_col_span);

  // ---- Raw steps (also used by the undo records) ----
  // Removed cells go into holder (an undo record) or are freed when it is nil.
  void DetachCells(int32_t row, int32_t col, int32_t col_count, int32_t row_count, TRVUndoInfo* undo_record);
  void ReattachCells(int32_t row, int32_t col, int32_t col_count, int32_t row_count);
  void InsertRowsRaw(int32_t index, int32_t count);
  void DeleteRowsRaw(int32_t index, int32_t count);
  void SpreadOverEmptyCells(int32_t row, int32_t col, int32_t count);
  void UnspreadCell(int32_t row, int32_t col, int32_t count);
  void FreeCells(int32_t row, int32_t col, int32_t col_count, int32_t row_count);
  void CreateCells(int32_t row, int32_t col, int32_t col_count, int32_t row_count);
  void InsertEmptyCells(int32_t row, int32_t col, int32_t col_count, int32_t row_count);
  void RemoveEntries(int32_t row, int32_t col, int32_t col_count, int32_t row_count);
  void SplitCellHorz(int32_t row, int32_t col, int32_t split_row, bool adjust_height);
  void UnsplitCellHorz(int32_t row, int32_t col, int32_t split_row, int32_t old_best_height);
  void SplitCellVert(int32_t row, int32_t col, int32_t split_col, bool adjust_width);
  void UnsplitCellVert(int32_t row, int32_t col, int32_t split_col, int32_t old_best_width);
  void RemoveRows(int32_t item_no, int32_t index, int32_t count, TRVUndoDeleteRows* undo_record);
  void RemoveCols(int32_t item_no, int32_t index, int32_t count, TCustomRVUndoWithCells* undo_record);
  void RestoreRows(int32_t index, std::vector<std::unique_ptr<TRVTableRow>>& row_list);
  void RestoreCols(int32_t index, std::vector<std::unique_ptr<TRVTableCellData>>& cell_list);
  void DoMerge(int32_t item_no, int32_t top_row, int32_t left_col, int32_t col_count, int32_t row_count,
               TRVUndoMerge* undo_record, bool merge_best_widths);
  void UndoMerge(int32_t row, int32_t col, int32_t old_col_span, int32_t old_row_span,
                 std::vector<std::unique_ptr<TRVUndoMergeItem>>& merge_items, int32_t old_best_width);
  void RestoreClearedCells(std::vector<std::unique_ptr<TRVTableCellData>>& saved_cells,
                           const std::vector<int32_t>& row_indexes, const std::vector<int32_t>& col_indexes);

  // ---- Reading ----
  // A grid of row_count x col_count nil entries whose cells come from a stream one by one.
  // Refuses (EReadError) a size no stream of this library writes before anything is
  // allocated, so that a damaged or hostile header cannot make it allocate.
  void ResetForReading(int32_t row_count, int32_t col_count);
  // Places a new cell at (row, col) over the spans (cut to the grid) and answers it; nil
  // when the position or any position of its rectangle is already taken.
  TRVTableCellData* PlaceReadCell(int32_t row, int32_t col, int32_t row_span, int32_t col_span);
  // True at a position that no read cell covers yet.
  bool IsFreeForReading(int32_t row, int32_t col) const;
  // Every position is covered; ends the reading.
  bool FinishReading();

 private:
  int32_t ItemNoForUndo() const;
  TRVTableCellData* Cell(int32_t row, int32_t col) const { return rows_[static_cast<size_t>(row)]->Items(col); }
  std::vector<std::unique_ptr<TRVTableRow>> rows_;
  std::vector<bool> read_covered_;  // while reading: positions taken by read cells
};

// Largest grid a stream may declare (entries, not cells).
constexpr int64_t kRVTableMaxEntries = 1 << 20;

// The layout of a table: column content widths and lefts, row content heights and tops (from the
// table's edges; a column's left is the left of its cell boxes, padding included), and the table's
// size. A printed table's record also holds, per grid position row by row, the printable document
// of the cell (nil for covered and empty cells).
class TRVTableItemFormattingInfo {
 public:
  explicit TRVTableItemFormattingInfo(bool with_print_cells);
  ~TRVTableItemFormattingInfo();
  std::vector<int32_t> ColumnWidths, RowContentHeights, ColumnLefts, RowTops;
  int32_t TableWidth = 0, TableHeight = 0;
  bool HasPrintCells;
  std::vector<std::unique_ptr<TCellPtblRVData>> PrintCells;
  void Clear();
  void ResetCounts() { Clear(); }
};

using TRVTableDrawBorderEvent = std::function<void(
    TRVTableItemInfo* sender, TCanvas& canvas, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t width,
    TColor light_color, TColor color, TColor background_color, TRVTableBorderStyle style, bool printing,
    const bool* visible_borders, int32_t row, int32_t col, bool& do_default)>;

class TRVTableItemInfo : public TRVTableItemBase {
 public:
  // A table of rows x cols empty cells for the document rvdata.
  TRVTableItemInfo(TCustomRVData* rvdata, int32_t rows, int32_t cols);
  explicit TRVTableItemInfo(TCustomRVData* rvdata) : TRVTableItemInfo(rvdata, 1, 1) {}
  ~TRVTableItemInfo() override;
  static TRVTableItemInfo* CreateEx(TCustomRVData* rvdata, int32_t rows, int32_t cols) {
    return new TRVTableItemInfo(rvdata, rows, cols);
  }
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override {
    return std::make_unique<TRVTableItemInfo>(d);
  }

  // State bits: 0 inserted into a document, 1 that document's root is editable, 2 changed (a new
  // layout is needed), 6 not yet inserted.
  uint16_t TableState = 0;
  void MarkChanged() { TableState |= 4; }

  // ---- Properties beside those of the base ----
  TRVTablePrintOptions PrintOptions{rvtoHalftoneBorders, rvtoRowsSplit};
  int32_t VRuleWidth = 0, HRuleWidth = 0;
  TColor VRuleColor = clWindowText, HRuleColor = clWindowText;
  bool VOutermostRule = false, HOutermostRule = false;
  AnsiString TextRowSeparator = "\r\n", TextColSeparator = "\r\n";
  AnsiString BackgroundImageFileName;
  TRVTableDrawBorderEvent OnDrawBorder;
  // Where the cells report they are: the paint origin while painting.
  int32_t OriginX = 0, OriginY = 0;
  // The cell whose content is being printed, and its rectangle (screen units, relative to the
  // part's frame).
  TRVTableCellData* PrintingCell = nullptr;
  TRect PrintingCellRect{};

  // Published setters: in an editable document each change is one undo step (group 13); detached,
  // the field is assigned. Both mark the table changed.
  void SetBestWidth(int32_t v) { SetTablePropertyUndoable("BestWidth", v, true, true); }
  void SetColor(TColor v) { SetTablePropertyUndoable("Color", v, false, false); }
  void SetHeadingRowCount(int32_t v) { SetTablePropertyUndoable("HeadingRowCount", v, false, false); }
  void SetBorderWidth(int32_t v) { SetTablePropertyUndoable("BorderWidth", v, true, true); }
  void SetBorderColor(TColor v) { SetTablePropertyUndoable("BorderColor", v, false, false); }
  void SetBorderLightColor(TColor v) { SetTablePropertyUndoable("BorderLightColor", v, false, false); }
  void SetBorderStyle(TRVTableBorderStyle v) { SetTablePropertyUndoable("BorderStyle", v, false, false); }
  void SetBorderVSpacing(int32_t v) { SetTablePropertyUndoable("BorderVSpacing", v, true, false); }
  void SetBorderHSpacing(int32_t v) { SetTablePropertyUndoable("BorderHSpacing", v, true, true); }
  void SetCellBorderWidth(int32_t v) { SetTablePropertyUndoable("CellBorderWidth", v, true, true); }
  void SetCellBorderColor(TColor v) { SetTablePropertyUndoable("CellBorderColor", v, false, false); }
  void SetCellBorderLightColor(TColor v) { SetTablePropertyUndoable("CellBorderLightColor", v, false, false); }
  void SetCellPadding(int32_t v) { SetTablePropertyUndoable("CellPadding", v, true, true); }
  void SetCellBorderStyle(TRVTableBorderStyle v) { SetTablePropertyUndoable("CellBorderStyle", v, false, false); }
  void SetVRuleWidth(int32_t v) { SetTablePropertyUndoable("VRuleWidth", v, false, false); }
  void SetVRuleColor(TColor v) { SetTablePropertyUndoable("VRuleColor", v, false, false); }
  void SetHRuleWidth(int32_t v) { SetTablePropertyUndoable("HRuleWidth", v, false, false); }
  void SetHRuleColor(TColor v) { SetTablePropertyUndoable("HRuleColor", v, false, false); }
  void SetCellVSpacing(int32_t v) { SetTablePropertyUndoable("CellVSpacing", v, true, false); }
  void SetCellHSpacing(int32_t v) { SetTablePropertyUndoable("CellHSpacing", v, true, true); }
  void SetVOutermostRule(bool v) { SetTablePropertyUndoable("VOutermostRule", v, false, false); }
  void SetHOutermostRule(bool v) { SetTablePropertyUndoable("HOutermostRule", v, false, false); }
  void SetTablePropertyUndoable(const AnsiString& prop_name, int32_t value, bool height_affected, bool width_affected);
  // The colour and the padding as their published properties set them (undo included): an open
  // cell editor takes the new colour, or the new padding as its four margins, at once.
  void ApplyColor(TColor value);
  void ApplyCellPadding(int32_t value);

  // The cell's colour, else the table's, else (in a formatted document) the table paragraph's
  // background, else the document's colour; clNone otherwise.
  TColor GetCellEffectiveColor(const TRVTableCellData* cell) const;
  bool IsCellEditorTransparent(const TRVTableCellData* cell) const;

  // ---- Background picture ----
  // Nil while the table has no picture and no picture placement.
  std::unique_ptr<TRVBackground> Background;
  TGraphic* BackgroundImage() const { return Background ? Background->Image() : nullptr; }
  // Copies the picture (nil or an empty picture removes it); in an editable document one undo step
  // that keeps the old picture.
  void SetBackgroundImage(TGraphic* value);
  TRVItemBackgroundStyle BackgroundStyle() const { return Background ? Background->GetItemBackStyle() : rvbsColor; }
  void SetBackgroundStyle(TRVItemBackgroundStyle value);
  // Puts a picture in (owned from now on; nil removes it) and takes it out, without undo.
  void AssignBackgroundImage(std::unique_ptr<TGraphic> picture);
  std::unique_ptr<TGraphic> TakeBackgroundImage();
  // The picture of the cell at (row, col), copied; in an editable document one undo step that
  // keeps the old picture.
  void SetCellBackgroundImageUndoable(TGraphic* value, int32_t row, int32_t col);
  // Draws the table's background into rect of a printed page (mode 0: nothing; 2: the printing
  // cell's background over it).
  void DrawBackgroundForPrinting(TCanvas& canvas, const TRect& rect, int32_t mode, int32_t color_mode,
                                 const TRect& table_rect);

  TRVTableItemFormattingInfo Layout{false};
  // Set while the table lays itself out or paints for a printing device.
  const TRVScreenAndDevice* PrintScale = nullptr;
  int32_t DeviceX(int32_t v) const;
  int32_t DeviceY(int32_t v) const;
  int32_t GetMinWidth(const TRVScreenAndDevice* sad, TCanvas* canvas, TCustomRVData* rvdata) override;
  void AdjustToDocWidth(int32_t doc_width, TRVDrawLineInfo* dli, bool printing, TCanvas* canvas, TCustomRVData* rvdata,
                        const TRVScreenAndDevice* sad, int32_t& dx, int32_t& descent, bool force,
                        bool reformat_editor) override;
  int32_t GetWidth() const override { return Layout.TableWidth; }
  int32_t GetHeight() const override { return Layout.TableHeight; }
  int32_t GetSplitOffsetY(int32_t row) const override;
  // Lays the record out for an available width (device units while PrintScale is set).
  void LayoutColumnsAndRows(int32_t avail_width, TRVTableItemFormattingInfo& layout, TCanvas* canvas, bool force,
                            bool reformat_editor);
  // Everything of the width that is neither column content nor cell padding.
  int32_t ExtraHorzSpace() const;
  bool AllColumnsHaveFixedWidth() const;

  // ---- Painting and printing ----
  void PaintFullWidth(int32_t left, int32_t right, int32_t top, TCanvas& canvas, uint32_t state, TRVStyle* style,
                      const TRect& clip) override;
  // State bits: 0 the whole table selected, 3 printing, 4 preview, 5 correction.
  void PaintTable(int32_t x, int32_t right, int32_t y, int32_t first_row, int32_t row_count, TCanvas& canvas,
                  uint32_t state, TRVStyle* style, TRVTableItemFormattingInfo& layout, bool heading_flag,
                  const TRect& clip, int32_t color_mode);
  void PaintBorderFrame(TCanvas& canvas, int32_t left, int32_t top, int32_t right, int32_t bottom, int32_t color_mode,
                        int32_t row, int32_t col, const bool* visible_borders, const TRect& clip, bool printing,
                        bool editing_look, bool grid_lines, TColor background_color, TColor color, TColor light_color,
                        int32_t width, TRVTableBorderStyle style);
  // The print record: its own layout with the cells' printable documents, formatted on the printer
  // canvas of the record's scaling.
  std::unique_ptr<TRVTablePrintInfo> CreatePrintingDrawItem(TCanvas* canvas, const TRVScreenAndDevice& sad);
  // Prints the whole table (part < 0) or one part of the print record at (x, y).
  void Print(TCanvas& canvas, int32_t x, int32_t y, bool preview, bool correction, TRVTablePrintInfo& info,
             int32_t part, int32_t color_mode);
  // Page-splitting queries.
  bool IsRowGroupEnd(int32_t row) const;
  int32_t RowGroupLastRow(int32_t row) const;
  int32_t RowGroupFirstRow(int32_t row) const;
  bool HeadingRowsPrintable() const;
  bool RowsHavePageBreak(int32_t first_row, int32_t last_row) const;

  TRVTableRows& Rows() { return *grid_; }
  const TRVTableRows& Rows() const { return *grid_; }
  int32_t RowCount() const override { return grid_->Count(); }
  int32_t ColCount() const override { return grid_->Count() ? grid_->ColCount() : pending_cols_; }
  TRVTableRow& Row(int32_t i) { return *grid_->GetItem(i); }
  TRVTableCellData* GetCells(int32_t row, int32_t col) const override;
  TRVTableCellData* GetMainCell(int32_t row, int32_t col, int32_t& main_row, int32_t& main_col) const override;

  // The table's operations: each one undo group of type 13 in an editable document.
  void InsertRows(int32_t index, int32_t count, int32_t copy_index) override { InsertRows(index, count, copy_index, false); }
  void InsertCols(int32_t index, int32_t count, int32_t copy_index) override { InsertCols(index, count, copy_index, false); }
  // select: the new rows (columns) become the cell selection.
  void InsertRows(int32_t index, int32_t count, int32_t copy_index, bool select);
  void InsertCols(int32_t index, int32_t count, int32_t copy_index, bool select);
  void DeleteRows(int32_t index, int32_t count, bool decrease_height);
  void DeleteCols(int32_t index, int32_t count, bool decrease_width) override;
  void DeleteEmptyRows() override;
  // Empty rows and columns allowed (what imports need).
  void MergeCells(int32_t top_row, int32_t left_col, int32_t col_span, int32_t row_span) override;
  void MergeCells(int32_t top_row, int32_t left_col, int32_t col_span, int32_t row_span, bool allow_empty_lines);
  // A fresh grid of empty cells.
  void Reset(int32_t rows, int32_t cols);
  TCustomRVData* HostDocument() const { return host_; }
  void SetHostDocument(TCustomRVData* host);

  // ---- Cell editing ----
  TRVTableInplaceEdit* CellEditor = nullptr;
  int32_t ChosenRow = -1, ChosenCol = -1;
  // The cell that Tab navigation is in (-1, -1 none).
  int32_t FocusRow = -1, FocusCol = -1;
  int32_t ClientLeft = 0, ClientTop = 0;
  int32_t TableMinWidthAtEdit = 0, EditorMinDocWidth = 0;
  std::function<void(TRVTableItemInfo* sender, int32_t row, int32_t col, bool automatic, bool& allow_edit)>
      OnCellEditing;
  std::function<void(TRVTableItemInfo* sender, int32_t row, int32_t col, bool clearing)> OnCellEndEdit;
  bool AskCellEditing(int32_t row, int32_t col, bool automatic);
  // Opens the editor over the cell (row, col) and moves the cell's items into it; False when
  // the document is not editable or OnCellEditing refuses.
  bool OpenCellEditor(int32_t item_no, int32_t row, int32_t col, bool build_jumps, bool caret_to_start,
                      bool caret_to_end, bool by_mouse, bool no_event);
  // Normal: the document ends the chosen sub-document; otherwise clearing mode (the table
  // goes away). The editor's items return to the cell.
  void CloseCellEditor(bool normal);
  // Called by the editor while it is freed.
  void CellEditorClosing(TRVTableInplaceEdit* editor, bool clearing);
  TRVTableInplaceEdit* GetEditedCellPos(int32_t& row, int32_t& col) const;
  // The document of the editor standing for the cell (screen layout only), else nil.
  TCustomRVFormattedData* EditedCellDocument(const TRVTableCellData* cell) const;
  // Moves the editor's undo (and redo) groups into the main document's lists as one record
  // each; with final the editor keeps no list.
  void MoveEditorUndo(bool final);
  void PlaceCellEditor(int32_t left, int32_t top, int32_t width, int32_t height);
  // The editor's change callback: the table's paragraph is laid out again.
  void CellEditorResized(TRVTableInplaceEdit* editor);
  // The cell next to (row, col) in a direction (0 left, 1 up, 2 right, 3 down, 6 next, 7
  // previous); with auto_add_row, next from the last cell appends a row copying the last.
  bool NeighbourCell(int32_t row, int32_t col, int32_t direction, int32_t& new_row, int32_t& new_col, bool silent,
                     bool auto_add_row);
  // The editor's deferred move request.
  void MoveFromCellEditor(TRVTableInplaceEdit* editor, int32_t direction);
  bool EnterFromKeyboard(int32_t direction, int32_t x) override;
  // Tab navigation through the cells' focusable items: from the focus cell's focused item on
  // (from_next: backwards), cell after cell; the place found is reported to the document that
  // holds the table. False when no cell has one left (the focus cell is then none).
  bool EnterItem(bool from_next, int32_t x) override;
  // The focus cell's document drops its item focus and the focus cell is none.
  void LeaveItem() override;
  // A control of a cell got the focus: its cell becomes the focus cell and the control's item
  // the cell's focused item, so that Tab goes on from there. An item that takes the focus
  // itself is reported with its cell's document (an inner table reports its own cell's).
  // False when no cell holds the control.
  bool AdjustFocusToControl(TObject* control, TCustomRVData*& top_data, TCustomRVItemInfo*& item) override;
  // The cells' hyperlinks, numbered on from the document's: the edited cell's through its
  // editor, the others' areas placed over the cells.
  void BuildJumps(TCustomRVData* rvdata, int32_t draw_item_no, int32_t& counter,
                  std::vector<std::unique_ptr<TRVJumpInfo>>* list) override;
  void CleanUpChosen() override;
  // After a layout pass: the open cell editor moves over its cell again (its Tag keeps its
  // unclamped top, so that scrolling moves it with the cell), and the origin follows.
  void AdjustInserted(int32_t x, int32_t y, bool reformat) override;
  void UpdateItemCoords(TCustomRVData* rvdata, int32_t item_no) override;
  bool OwnsInplaceEditor(const void* editor) const override;
  bool OwnsControl(TObject* control) const override;
  // The first cell, row by row, holding an item with the control.
  bool FindCellOfControl(TObject* control, int32_t& row, int32_t& col, int32_t& item_index) const;
  // The document of the cell under a table point (the editor's while the cell is edited).
  TCustomRVData* GetSubRVDataAt(int32_t x, int32_t y) override;
  // The laid-out document of the cell under the point (nil for the cell being edited) and
  // the point in its coordinates.
  TCustomRVData* GetSubLayoutAt(int32_t x, int32_t y, int32_t& sub_x, int32_t& sub_y) override;
  // Where the laid-out content of a cell starts below the cell's top (padding and vertical
  // alignment), on the screen.
  int32_t CellContentTop(TRVTableCellData* cell);
  // How far below the cell's top its content starts (its vertical alignment, padding not
  // counted): where the cell editor starts. For the edited cell, from the editor's document.
  int32_t CellEditorContentOffset(TRVTableCellData* cell);
  // The part of the free height (content minus document) above a cell's content by its
  // vertical alignment.
  static int32_t CellFreeHeight(const TRVTableCellData* cell, int32_t content, int32_t doc);
  // Choosing a cell as the document's sub-document: the document's selection goes after the
  // table and, in an editor, the cell gets the cell editor with its selection kept.
  void ChooseSubRVData(const TRVStoreSubRVData* state) override;
  void ChooseCell(int32_t row, int32_t col);
  // Opens the editor for a chosen cell, through the enclosing tables' editors for a nested
  // table (EDocViewError "Internal error" when the table is not found in its parent's cells).
  void OpenEditorForCell(int32_t row, int32_t col, bool no_event);
  // The chosen cell is dropped (its editor closed).
  void DropChosenCell();
  // The chosen cell's document holds a non-empty selection.
  bool ChosenCellHasSelection();
  // The chosen cell's position, replaced by its covering cell; (-1, -1) outside the grid.
  void ValidateChosenCell();
  // The table's background under a cell, for the cell editor of a transparent cell: rect is
  // the editor's client area painted onto canvas at its origin.
  void PaintTableBackgroundForEditor(TCanvas& canvas, const TRVTableCellData* cell, const TRect& rect);
  // The control of the table's root document when it is an editor, else nil.
  TCustomDocViewEdit* EditorControl() const;
  // The table's position in the control's client area.
  void GetItemClientCoords(int32_t& x, int32_t& y) const;

  // ---- Mouse, cell selection and resizing ----
  int32_t SelAnchorRow = -1, SelAnchorCol = -1, SelRowDelta = 0, SelColDelta = 0;
  bool MouseSelecting = false;
  int32_t HitRow = -1, HitCol = -1;
  int32_t DragMinPos = -1, DragMaxPos = -1, DragBorder = -1, DragStartPos = 0, DragGrabOffset = 0;
  bool DraggingColumn = false, DragShift = false, Dragging = false;
  // The resize line while a border is dragged (table coordinates), drawn when the table paints.
  bool ResizeLineShown = false;
  int32_t ResizeLineX = 0, ResizeLineY = 0;
  bool FindCellAt(int32_t x, int32_t y, int32_t& row, int32_t& col);
  int32_t FindColumnBorder(int32_t x, int32_t& min_pos, int32_t& border_pos) const;
  int32_t FindRowBorder(int32_t y, int32_t& min_pos, int32_t& border_pos) const;
  int32_t ColumnAtX(int32_t x) const;
  int32_t RowAtY(int32_t y) const;
  bool StartMouseCellSelection(int32_t row, int32_t col);
  void SelectCellRange(int32_t row, int32_t col, int32_t col_delta, int32_t row_delta);
  void SelectWholeColumns(int32_t col, int32_t count);
  void SelectWholeRows(int32_t row, int32_t count);
  void ClearCellSelection();
  void DeselectPartial() override { ClearCellSelection(); }
  bool IsPartiallySelected() const override { return cell_selection_; }
  bool GetCellSelectionRect(bool include_edited_cell, int32_t& top_row, int32_t& left_col, int32_t& col_count,
                            int32_t& row_count);
  // The selection rectangle grown by every merged cell crossing its edges.
  bool GetCellSelectionRectFull(bool include_edited_cell, int32_t& top_row, int32_t& left_col, int32_t& col_count,
                                int32_t& row_count);
  bool IsCellInSelection(int32_t row, int32_t col);
  // The document's selection covers the whole table (or the whole document is selected).
  bool IsSelectedAsWhole();
  // The laid-out document of the cell at (row, col) when the table point (x, y) lies in its
  // content area (the cell shrunk by the padding), with the point in its coordinates; nil
  // for a point outside it and for the cell being edited in place.
  TRVTableCellView* CellContentViewAt(int32_t row, int32_t col, int32_t x, int32_t y, int32_t& sub_x, int32_t& sub_y);
  void RefreshCellSelectionFlags();
  bool MouseMove(uint32_t shift, int32_t x, int32_t y, int32_t item_no, TCustomRVData* rvdata) override;
  bool MouseDown(int32_t button, uint32_t shift, int32_t x, int32_t y, int32_t item_no,
                 TCustomRVData* rvdata) override;
  bool MouseUp(int32_t button, uint32_t shift, int32_t x, int32_t y, int32_t item_no, TCustomRVData* rvdata) override;
  // new_width: from the column's left edge to the new border position.
  void ChangeColumnWidthByDrag(int32_t col, int32_t new_width, bool keep_table_width_off);
  void ChangeRowHeightByDrag(int32_t row, int32_t new_height);
  void SuspendCellEditor();
  void ResumeCellEditor();

  // ---- Editing operations ----
  // Codes: 0 paragraph style, 1 text style, 2 paragraph conversion, 3 text conversion, 4
  // paragraph template, 5 text template; one undo step over all the cells it changed.
  void ApplyToCells(int32_t code, int32_t user_data, bool selected_only);
  void ApplyStyleConversionToSubRVDatas(int32_t user_data, bool selected_only, int32_t code) override {
    ApplyToCells(code, user_data, selected_only);
  }
  // Deleting a cell selection empties the selected cells (one undo step); refused when a
  // selected cell holds an item protected from deletion.
  bool CanDeletePartiallySelected() const override;
  void DeletePartiallySelected() override;
  void SetCellBestWidthUndoable(int32_t value, int32_t row, int32_t col);
  void SetCellBestHeightUndoable(int32_t value, int32_t row, int32_t col);
  // The minimal width of the table before a change, and the layout after it.
  int32_t NoteMinWidthBefore(int32_t item_no);
  void ReformatAfterChange(int32_t item_no, int32_t before);
  void ReportChange();

  // The table's index in its document when its changes are recorded (the document is
  // editable and records), else -1.
  int32_t GetEditorItemNoForUndo() const;
  int32_t GetItemNoInParent() const;
  // The index of the top-level item holding this table (through enclosing cells).
  int32_t GetRootItemNo() const;
  // Opens an undo group of type 13 in group mode in an editable document; the end closes
  // group mode.
  void BeginTableUndoGroup();
  void EndTableUndoGroup();

  void DefinePublished(TPublishedProperties& props) override;
  // "BackgroundImg": the picture's class name and the picture.
  void DefineProperties(TFiler* filer) override;
  int32_t GetRVFExtraPropertyCount() const override;
  void SaveRVFExtraProperties(TStream& stream) override;
  bool SetExtraStrProperty(int32_t index, const AnsiString& value) override;
  bool GetExtraStrProperty(int32_t index, AnsiString& value) const override;
  void BeforeUndoChangeProperty() override { TableState &= static_cast<uint16_t>(~1u); }
  void AfterUndoChangeProperty() override {
    if (host_) TableState |= 1;
    MarkChanged();
  }

  bool GetBoolValue(int32_t ordinal) const override;
  // 0: a table is never printed through a bitmap.
  bool GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const override {
    return ordinal == 0 ? false : TRVTableItemBase::GetBoolValueEx(ordinal, rvstyle);
  }
  void BeforeLoading(TRVLoadFormat format) override;
  // Leaving the document into an undo record and coming back: the cells' items are told, and the
  // grid forgets its document meanwhile.
  void MovingToUndoList(int32_t item_no, TCustomRVData* rvdata) override;
  void MovingFromUndoList(int32_t item_no, TCustomRVData* rvdata) override;
  // Mouse input is ignored while the lock is above 0 (the cells are being written).
  int32_t UpdateLock = 0;
  void BeginItemUpdate() override { ++UpdateLock; }
  void EndItemUpdate() override { --UpdateLock; }
  void AfterLoading(TRVLoadFormat format) override;
  TCustomRVData* GetSubRVData(std::unique_ptr<TRVStoreSubRVData>& state, TRVSubRVDataPos position) override;
  void MarkStylesInUse(TRVDeleteUnusedStylesData& data) override;
  void UpdateStyles(const TRVDeleteUnusedStylesData& data) override;
  void Inserting(TCustomRVData* rvdata, AnsiString& text, bool safe) override;
  void Inserted(TCustomRVData* rvdata, int32_t item_no) override;
  // Output.
  void SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, int32_t para_no, const AnsiString& name,
               int32_t part, bool force_same_as_prev) override;
  // The selected part: the cell selection rectangle (grown by merged cells crossing it), the
  // cells outside the selection without content; the whole table without a cell selection.
  void SaveRVFSelection(TStream& stream, TCustomRVData* rvdata, int32_t item_no, int32_t para_no) override;
  // The record of one printed part: the heading rows, then the part's rows.
  void SaveRVFPart(TStream& stream, TCustomRVData* rvdata, int32_t para_no, const AnsiString& name,
                   const TRVTablePrintPart& part);
  bool ReadRVFHeaderTail(const char*& p, TCustomRVData* rvdata) override;
  bool ReadRVFLine(const AnsiString& s, TCustomRVData* rvdata, int32_t& read_state, bool& next_binary, AnsiString& name,
                   int32_t line_no, int32_t line_count, int32_t read_mode) override;
  void FillRTFTables(TRVColorList& color_list, TCustomRVData* rvdata) override;
  void SaveRTF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text, double twips_per_pixel,
               int32_t level, TRVColorList& color_list) override;
  void SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
                  const AnsiString& path, const AnsiString& images_prefix, int32_t& image_save_no, TColor color,
                  uint32_t save_options, bool use_css) override;
  AnsiString AsText(int32_t line_width, TCustomRVData* rvdata, const AnsiString& text, const AnsiString& path,
                    bool text_only, bool unicode) override;

  // Component streaming of the cells ("C", through a TRVTableSW): the range written is
  // StreamSaveInfo's while one is set, else the whole table.
  TRVTableStreamSaveInfo* StreamSaveInfo = nullptr;
  // Every stored cell, row by row.
  void ForEachCell(const std::function<void(TRVTableCellData*)>& proc) const;
  void WriteCells(TWriter& writer, TD* td);
  void ReadCells(TReader& reader, TD* td);

 private:
  void PaintCell(TRVTableCellData* cell, int32_t row, int32_t col, int32_t row_height, int32_t left, int32_t top,
                 TCanvas& canvas, uint32_t state, TRVTableItemFormattingInfo& layout, const TRect& clip,
                 int32_t color_mode, bool printing, bool editing_look, TColor sel_color, int32_t frame_top);
  int32_t CellMinWidth(TRVTableCellData* cell, TCanvas* canvas);
  void WidenColumns(std::vector<int32_t>& mins, int32_t row, int32_t col, int32_t need, int32_t depth, bool assignment,
                    int32_t kind_limit, const std::vector<int32_t>& kinds, int32_t& sum, int32_t& pool, bool all_fixed);
  void ApplyBackgroundStyle(TRVItemBackgroundStyle value);
  void WriteRVFRecord(TStream& stream, TCustomRVData* rvdata, int32_t para_no, const AnsiString& name,
                      TRVTableStreamSaveInfo* range);
  // Where the HTML of the table finds its background picture (written beside it when the owner does
  // not say otherwise); empty without a picture.
  AnsiString HTMLBackgroundLocation(int32_t item_no, const AnsiString& path, const AnsiString& images_prefix,
                                    int32_t& image_save_no, TColor current_file_color, uint32_t save_options);
  void BackgroundChanged();
  void SetColumnPixelWidths(int32_t k, int32_t new_width, bool is_neighbour);
  void SetColumnPercentWidths(int32_t k, int32_t new_width);
  bool cell_selection_ = false;
  struct TSavedEditorState {
    bool Valid = false;
    int32_t Row = 0, Col = 0, StartItem = 0, StartOffs = 0, EndItem = 0, EndOffs = 0;
  } saved_editor_state_;
  std::unique_ptr<TRVXorDrawer> resize_line_;
  std::unique_ptr<TRVTableRows> grid_;
  std::unique_ptr<TRVBooleanRectHolder> borders_;
  int32_t pending_cols_ = 0;  // columns of a grid without rows (imports build it so)
  TCustomRVData* host_;
  mutable int32_t item_no_cache_ = 0;
};

// Registers the table kind (-60) with the item factory and installs RVCreateTableItem;
// done once when this unit is linked, and safe to call again.
void RVRegisterTableItem();

// The position of a cell document among the cells of table; (-1, -1) when none.
void FindCellOfData(const TRVTableItemInfo* table, const TCustomRVData* data, int32_t& row, int32_t& col);

}  // namespace pelvar
