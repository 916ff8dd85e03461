// Small companions of the table item: the components through which a table (or a range of
// its rows) is written to and read from the framework's component stream, the record of
// the range a save covers, the temporal editor's document through which editing commands
// run on cell contents one cell after another, and the dotted lines of the resize line.
#pragma once

#include <memory>

#include "platform/canvas.h"
#include "platform/classes.h"
#include "richtext/edit/RVERVData.h"
#include "richtext/edit/RVTable.h"

namespace pelvar {

// Which rows and columns of a table a save covers.
class TRVTableStreamSaveInfo {
 public:
  explicit TRVTableStreamSaveInfo(const TRVTableItemInfo* table)
      : RowCount(table ? table->RowCount() : 0), ColCount(table && table->RowCount() ? table->ColCount() : 0) {}
  int32_t StartRow = 0;
  int32_t StartCol = 0;
  int32_t RowCount;
  int32_t ColCount;
  bool SaveHeadingRows = false;
  // Cells outside the table's cell selection are written without content.
  bool SelectionOnly = false;
};

class TRVTableSW;

// The cell being streamed, as a nested component of the table's stream.
class TD : public TComponent {
 public:
  explicit TD(TComponent* owner) : TComponent(owner) {}
  TRVTableCellData* C = nullptr;
  TRVTableSW* SW = nullptr;
  // Every read of a component ends in one Loaded; the cell reader adds one before each
  // cell so that the count stays above zero while cells are read.
  int32_t ReleaseCount = 1;
  void AddRef() { ++ReleaseCount; }
  // Drops one count; true when it was the last.
  bool Release() { return --ReleaseCount <= 0; }
  void Loaded() override;
  void DefinePublished(TPublishedProperties& props) override;
};

// The table being streamed: its published properties as "T", then the cells ("C") and
// the per-row settings ("RowVAlign", "RowPageBreakBefore") as defined properties. The
// rows written are the heading rows (when the range says so), then the range's rows.
class TRVTableSW : public TComponent {
 public:
  explicit TRVTableSW(TComponent* owner);
  ~TRVTableSW() override;
  TRVTableItemInfo* T = nullptr;
  TD* GetTD() const { return td_.get(); }
  void DefinePublished(TPublishedProperties& props) override;

 protected:
  void DefineProperties(TFiler* filer) override;

 private:
  std::unique_ptr<TD> td_;
};

// Writes the table through a TRVTableSW (the range: info, or the whole table) and reads it
// back into a table; the reader rebuilds the whole grid from the stream.
void RVWriteTableToStream(TStream& stream, TRVTableItemInfo* table, TRVTableStreamSaveInfo* info = nullptr);
void RVReadTableFromStream(TStream& stream, TRVTableItemInfo* table);

// The document of a hidden editor used to run editing commands on cell contents: it
// answers the main editor's document as its absolute parent and root, and its undo and
// redo lists free held items against that root.
class TRVTableTemporalEditorData : public TRVEditRVData {
 public:
  explicit TRVTableTemporalEditorData(TRVEditRVData* main_document);
  TCustomRVData* GetAbsoluteParentData() override { return main_; }
  TCustomRVData* GetAbsoluteRootData() override { return main_ ? main_->GetAbsoluteRootData() : this; }
  TRVStyle* GetRVStyle() override { return main_ ? main_->GetRVStyle() : TRVEditRVData::GetRVStyle(); }

 private:
  TRVEditRVData* main_;
};

// The resize line: groups of three one-pixel dashes every 8 pixels; the end is tested only
// before each group, so a started group is always drawn whole.
void DrawDottedVLine(TCanvas& canvas, int32_t x, int32_t y1, int32_t y2);
void DrawDottedHLine(TCanvas& canvas, int32_t x1, int32_t x2, int32_t y);

}  // namespace pelvar
