// What the document model's readers and writers use of the table item, which lives with the
// editor (richtext/edit): a grid of cell documents with spans, created through a factory
// that the table unit installs, and the grid operations the RTF import needs.
#pragma once

#include <cstdint>
#include <functional>

#include "richtext/model/CRVData.h"
#include "richtext/model/RVItem.h"

namespace pelvar {

enum TRVCellVAlign : uint8_t { rvcTop, rvcMiddle, rvcBottom, rvcVDefault };
enum TRVTableBorderStyle : uint8_t { rvtbRaised, rvtbLowered, rvtbColor, rvtbRaisedColor, rvtbLoweredColor };
enum TRVTableOption : uint8_t {
  rvtoEditing,
  rvtoRowSizing,
  rvtoColSizing,
  rvtoRowSelect,
  rvtoColSelect,
  rvtoNoCellSelect,
  rvtoRTFSaveCellPixelBestWidth,
  rvtoRTFAllowAutofit,
  rvtoHideGridLines,
  rvtoOverlappingCorners,
  rvtoCellBelowBorders,
  rvtoIgnoreContentWidth,
  rvtoIgnoreContentHeight
};
using TRVTableOptions = TRVSet<TRVTableOption, uint16_t>;

// A table cell as the readers see it: a document with its attributes and spans.
class TRVTableCellBase : public TCustomRVData {
 public:
  TColor Color = clNone;
  TRVCellVAlign VAlign = rvcVDefault;
  int32_t BestWidth = 0;   // pixels; negative: percent
  int32_t BestHeight = 0;  // pixels
  TColor BorderColor = clNone;
  TColor BorderLightColor = clNone;
  bool VisibleBorders[4] = {true, true, true, true};  // left, top, right, bottom
  int32_t RowSpan = 1;
  int32_t ColSpan = 1;
  void SetColor(TColor c) { Color = c; }
  void SetBestWidth(int32_t w) { BestWidth = w; }
  void SetBestHeight(int32_t h) { BestHeight = h; }
};

class TRVTableItemBase : public TRVFullLineItemInfo {
 public:
  explicit TRVTableItemBase(TCustomRVData* rvdata) : TRVFullLineItemInfo(rvdata) { StyleNo = rvsTable; }
  TColor Color = clWindow;
  TRVTableBorderStyle BorderStyle = rvtbRaised;
  TRVTableBorderStyle CellBorderStyle = rvtbLowered;
  TColor BorderColor = clWindowText, BorderLightColor = clBtnHighlight;
  TColor CellBorderColor = clWindowText, CellBorderLightColor = clBtnHighlight;
  int32_t BorderWidth = 0, CellBorderWidth = 0, CellPadding = 1;
  int32_t CellHSpacing = 2, CellVSpacing = 2, BorderHSpacing = 2, BorderVSpacing = 2;
  int32_t BestWidth = 0;  // pixels; negative: percent
  int32_t HeadingRowCount = 0;
  bool VisibleBorders[4] = {true, true, true, true};
  TRVTableOptions Options{rvtoEditing, rvtoRowSizing, rvtoColSizing, rvtoRowSelect, rvtoColSelect};

  virtual int32_t RowCount() const = 0;
  virtual int32_t ColCount() const = 0;
  // The cell at (row, col); nil when a merged cell covers the position.
  virtual TRVTableCellBase* GetCells(int32_t row, int32_t col) const = 0;
  // The cell covering (row, col) and its own position.
  virtual TRVTableCellBase* GetMainCell(int32_t row, int32_t col, int32_t& main_row, int32_t& main_col) const = 0;
  // Empty rows or columns at index; "Invalid row or column index" for a bad index.
  virtual void InsertRows(int32_t index, int32_t count, int32_t copy_index) = 0;
  virtual void InsertCols(int32_t index, int32_t count, int32_t copy_index) = 0;
  virtual void DeleteCols(int32_t index, int32_t count, bool shrink_width) = 0;
  // Removes every row whose positions are all covered by cells of other rows.
  virtual void DeleteEmptyRows() = 0;
  // Merges the rectangle into its top-left cell, moving the content there; a rectangle that
  // would cut a merged cell is left as it is.
  virtual void MergeCells(int32_t top_row, int32_t left_col, int32_t col_span, int32_t row_span) = 0;
};

// Installed by the table unit: a new table item of empty cells for the document.
// A plain pointer, set before any import can run whatever the order of static initialisation.
extern TRVTableItemBase* (*RVCreateTableItem)(TCustomRVData* rvdata, int32_t rows, int32_t cols);

}  // namespace pelvar
