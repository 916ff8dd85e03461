// What a table needs to lay out and print its cells: the formatted view of a cell (a formatted
// document over the cell's own items, sized by the table's layout), the printable document of a
// cell, and the print record of a table that is cut between rows into parts, one part per page.
#pragma once

#include <memory>

#include "richtext/edit/RVTable.h"
#include "richtext/view/RVMultiPrint.h"

namespace pelvar {

// A cell's layout: shares the cell's item list (it owns no items) and asks the cell for everything
// else; the table sets its width and formats it.
class TRVTableCellView : public TCustomRVFormattedData {
 public:
  explicit TRVTableCellView(TRVTableCellData* cell);
  ~TRVTableCellView() override;
  TRVTableCellData* Cell;
  // The content width the table gives the cell, and the canvas it measures on.
  int32_t ContentWidth = 0;
  TCanvas* FormatCanvas = nullptr;

  bool ShareItems() override { return true; }
  TRVStyle* GetRVStyle() override { return Cell->GetRVStyle(); }
  TRVOptions GetOptions() override { return Cell->GetOptions(); }
  TCustomRVData* GetParentData() override { return Cell->GetParentData(); }
  TCustomRVData* GetAbsoluteParentData() override { return Cell->GetAbsoluteParentData(); }
  TCustomRVData* GetRootData() override { return Cell->GetRootData(); }
  TCustomRVData* GetAbsoluteRootData() override { return Cell->GetAbsoluteRootData(); }
  void GetParentInfo(int32_t& parent_item_no, std::unique_ptr<TRVStoreSubRVData>& location) override {
    Cell->GetParentInfo(parent_item_no, location);
  }
  TCanvas* GetCanvas() override { return FormatCanvas; }
  // A cell has no window: what it shows changing repaints the control of the document
  // around its table, and the mouse pointer over it is that control's.
  void InvalidateRectangle(const TRect& r) override;
  void RefreshControl() override;
  void UpdateControl() override;
  void SetControlCursor(TCursor cursor) override;
  TCursor GetControlCursor() override;
  // A selection made with the mouse in a cell follows the mouse beyond the cell.
  bool MouseCoordsClamped() override { return false; }
  // Where the cell's content starts in the document coordinates of the outermost document:
  // the origin of the document holding the table, the table's place in it and the cell's
  // content place in the table.
  void GetOrigin(int32_t& x, int32_t& y) override;
  int32_t GetAreaWidth() override { return ContentWidth; }
  int32_t GetMinTextWidth() override { return 0; }
  // Lays the cell's items out for the width on the canvas (always anew).
  void FormatTo(TCanvas* canvas, int32_t width);
  // The cell's items changed since the last layout (its draw items may name items that are gone):
  // painting lays them out again first.
  bool IsStale() const { return formatted_count_ != ItemCount(); }
  // Paints the layout with its top left corner at (x, y) of the canvas, for the clip.
  void PaintAt(TCanvas& canvas, int32_t x, int32_t y, const TRect& clip);

 private:
  int32_t formatted_count_ = -1;
  bool formatting_ = false;
};

// The printable document of one cell of a printed table: the same view formatted on the printer
// canvas, with its content rectangle on the part (device pixels) and its background.
class TCellPtblRVData : public TRVTableCellView {
 public:
  using TRVTableCellView::TRVTableCellView;
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;
  // Added to the content's top when it is drawn (vertical alignment plus the part's own offset).
  int32_t DY = 0;
  TColor BackgroundColor = clNone;
  bool DrawBackgroundFlag = false;
  bool Transparent = false;
  // The scaling of the print record: the cell measures at device resolution.
  TRVScreenAndDevice SAD;
  void GetResolutions(TCanvas& canvas, TRVScreenAndDevice& sad) override { (void)canvas, sad = SAD; }
};

// One page's piece of a printed table: rows StartRow .. StartRow + RowCount - 1, and the height on
// paper with the repeated heading rows and both border bands.
class TRVTablePrintPart : public TRVMultiDrawItemPart {
 public:
  int32_t StartRow = 0;
  int32_t RowCount = 0;
  int32_t GetSplitInfo() const override { return StartRow; }
};

// The draw item of a table on paper: the printer layout, and the parts the pagination cut.
class TRVTablePrintInfo : public TRVMultiDrawItemInfo {
 public:
  TRVTablePrintInfo(TRVTableItemInfo* table, const TRVScreenAndDevice& sad);
  TRVTableItemInfo* Table;
  bool RepeatHeadings;
  TRVScreenAndDevice SAD;
  TRVTableItemFormattingInfo PrintLayout{true};
  void SetSize(int32_t, int32_t) override {}
  // May the table be split; makes the first part.
  bool InitSplit() override;
  // Does the first body row group fit into y device pixels.
  bool CanSplitFirst(int32_t y) override;
  // Cuts the last part so that its first piece fits into y device pixels.
  bool SplitAt(int32_t y) override;
  TRVTablePrintPart* Part(int32_t i) const {
    return static_cast<TRVTablePrintPart*>(PartsList[static_cast<size_t>(i)].get());
  }

 private:
  int32_t FirstBodyRow() const;
  int32_t Overhead() const;
};

}  // namespace pelvar
