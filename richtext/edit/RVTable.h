// The table item: a grid of cell documents with row and column spans, the grid operations
// (insert and delete rows and columns, merge, empty-row removal), and the table's native,
// RTF, HTML and text output. Layout, painting and editing of tables come with the editor.
#pragma once

#include <memory>
#include <vector>

#include "richtext/model/RVTableBase.h"

namespace pelvar {

class TRVTableItemInfo;

// A cell: a document that asks the document holding its table for everything.
class TRVTableCellData : public TRVTableCellBase {
 public:
  TRVTableCellData(TRVTableItemInfo* table, TCustomRVData* host) : table_(table), host_(host) {}
  TCustomRVData* GetParentData() override { return host_; }
  TCustomRVData* GetAbsoluteParentData() override { return host_; }
  TCustomRVData* GetRootData() override { return host_ ? host_->GetRootData() : this; }
  TCustomRVData* GetAbsoluteRootData() override { return host_ ? host_->GetAbsoluteRootData() : this; }
  bool PageBreaksAllowed() override { return false; }
  void GetParentInfo(int32_t& parent_item_no, std::unique_ptr<TRVStoreSubRVData>& location) override;
  // Colour, border colours, visible borders, vertical alignment.
  void AssignAttributesFrom(const TRVTableCellData* source);
  TRVTableItemInfo* Table() const { return table_; }
  void SetHost(TCustomRVData* host) { host_ = host; }

 private:
  TRVTableItemInfo* table_;
  TCustomRVData* host_;
};

class TRVTableRow {
 public:
  int32_t Count() const { return static_cast<int32_t>(cells_.size()); }
  TRVTableCellData* Items(int32_t i) const { return cells_.at(static_cast<size_t>(i)).get(); }
  std::vector<std::unique_ptr<TRVTableCellData>>& Cells() { return cells_; }

 private:
  std::vector<std::unique_ptr<TRVTableCellData>> cells_;
};

class TRVTableItemInfo : public TRVTableItemBase {
 public:
  // A table of rows x cols empty cells for the document rvdata.
  TRVTableItemInfo(TCustomRVData* rvdata, int32_t rows, int32_t cols);
  explicit TRVTableItemInfo(TCustomRVData* rvdata) : TRVTableItemInfo(rvdata, 0, 0) {}
  static TRVTableItemInfo* CreateEx(TCustomRVData* rvdata, int32_t rows, int32_t cols) {
    return new TRVTableItemInfo(rvdata, rows, cols);
  }
  std::unique_ptr<TCustomRVItemInfo> NewInstance(TCustomRVData* d) const override {
    return std::make_unique<TRVTableItemInfo>(d);
  }

  int32_t RowCount() const override { return static_cast<int32_t>(rows_.size()); }
  int32_t ColCount() const override { return cols_; }
  TRVTableRow& Row(int32_t i) { return *rows_.at(static_cast<size_t>(i)); }
  TRVTableCellData* GetCells(int32_t row, int32_t col) const override;
  TRVTableCellData* GetMainCell(int32_t row, int32_t col, int32_t& main_row, int32_t& main_col) const override;
  void InsertRows(int32_t index, int32_t count, int32_t copy_index) override;
  void InsertCols(int32_t index, int32_t count, int32_t copy_index) override;
  void DeleteCols(int32_t index, int32_t count, bool shrink_width) override;
  void DeleteEmptyRows() override;
  void MergeCells(int32_t top_row, int32_t left_col, int32_t col_span, int32_t row_span) override;
  // A fresh grid of empty cells.
  void Reset(int32_t rows, int32_t cols);
  TCustomRVData* HostDocument() const { return host_; }
  void SetHostDocument(TCustomRVData* host);

  bool GetBoolValue(int32_t ordinal) const override;
  TCustomRVData* GetSubRVData(std::unique_ptr<TRVStoreSubRVData>& state, TRVSubRVDataPos position) override;
  void MarkStylesInUse(TRVDeleteUnusedStylesData& data) override;
  void UpdateStyles(const TRVDeleteUnusedStylesData& data) override;
  void Inserted(TCustomRVData* rvdata, int32_t item_no) override;
  // Output.
  void SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, int32_t para_no, const AnsiString& name,
               int32_t part, bool force_same_as_prev) override;
  bool ReadRVFHeaderTail(const char*& p, TCustomRVData* rvdata) override;
  bool ReadRVFLine(const AnsiString& s, TCustomRVData* rvdata, int32_t& read_state, bool& next_binary,
                   AnsiString& name, int32_t line_no, int32_t line_count, int32_t read_mode) override;
  void FillRTFTables(TRVColorList& color_list, TCustomRVData* rvdata) override;
  void SaveRTF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
               double twips_per_pixel, int32_t level, TRVColorList& color_list) override;
  void SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString& text,
                  const AnsiString& path, const AnsiString& images_prefix, int32_t& image_save_no, TColor color,
                  uint32_t save_options, bool use_css) override;
  AnsiString AsText(int32_t line_width, TCustomRVData* rvdata, const AnsiString& text, const AnsiString& path,
                    bool text_only, bool unicode) override;

 private:
  std::unique_ptr<TRVTableCellData> NewCell();
  std::vector<std::unique_ptr<TRVTableRow>> rows_;
  int32_t cols_ = 0;
  TCustomRVData* host_;
};

// Registers the table kind (-60) with the item factory and installs RVCreateTableItem;
// done once when this unit is linked, and safe to call again.
void RVRegisterTableItem();

}  // namespace pelvar
