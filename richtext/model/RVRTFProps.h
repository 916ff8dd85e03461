// The RTF import options of a viewer control and the import itself: the RTF reader's text
// runs, tabs, page breaks, hyperlinks and header/footer regions become items of a document,
// with text and paragraph styles chosen from the style sheet or added to it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/classes.h"
#include "platform/streams.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/RVRTF.h"
#include "richtext/model/RVTableBase.h"

namespace pelvar {

// Limits of the tables an import builds: the columns of one table, and the cells of all
// tables together (a base plus a few per input byte). Beyond either the import ends with
// the reader's code for a failed event (rtf_ec_Exception): a row of 100,000 cells or a grid
// split again and again is not a document anyone wrote.
constexpr int32_t RTF_MAX_TABLE_COLUMNS = 1024;
constexpr int64_t RTF_TABLE_CELLS_BASE = 1 << 16;
constexpr int64_t RTF_TABLE_CELLS_PER_BYTE = 4;

enum TRVReaderUnicode : uint8_t { rvruMixed, rvruNoUnicode, rvruOnlyUnicode };
enum TRVReaderStyleMode : uint8_t { rvrsUseSpecified, rvrsUseClosest, rvrsAddIfNeeded };
enum TRVRTFHighlight : uint8_t { rtfhlIgnore, rtfhlFixedColors, rtfhlColorTable };

class TRVRTFReaderProperties : public TPersistent {
 public:
  TRVRTFReaderProperties();
  ~TRVRTFReaderProperties() override;

  TRVReaderUnicode UnicodeMode = rvruNoUnicode;
  TRVReaderStyleMode TextStyleMode = rvrsUseClosest;
  TRVReaderStyleMode ParaStyleMode = rvrsUseClosest;
  bool IgnorePictures = false;
  bool IgnoreTables = false;
  bool UseHypertextStyles = false;
  bool SkipHiddenText = true;
  bool AutoHideTableGridLines = false;
  bool LineBreaksAsParagraphs = false;
  bool ExtractMetafileBitmaps = true;
  TRVRTFHighlight ConvertHighlight = rtfhlColorTable;
  bool StoreImagesFileNames = false;
  bool BasePathLinks = true;
  int32_t TextStyleNo() const { return text_style_no_; }
  void SetTextStyleNo(int32_t value);  // "Value must not be negative"
  int32_t ParaStyleNo() const { return para_style_no_; }
  void SetParaStyleNo(int32_t value);

  // Set by the caller before an import.
  AnsiString ResourceBasePath;
  // The folder whose files linked pictures (INCLUDEPICTURE, IMPORT fields) may be read
  // from; empty: the document's own folder (ResourceBasePath), so that a document read from
  // a file shows the pictures beside it. Nothing outside it is read; with neither set, no
  // linked picture is.
  AnsiString PictureAllowedFolder;
  TCustomRVData* HeaderDocument = nullptr;
  TCustomRVData* FooterDocument = nullptr;
  // (style index, is-text flag, var Allowed): consulted by the closest-style searches.
  std::function<void(int32_t, bool, bool&)> OnFilterStyle;
  // After an import: the header and footer distances in millimetres (-1 when none came).
  int32_t HeaderDistanceMM = -1;
  int32_t FooterDistanceMM = -1;

  void Assign(TPersistent* source) override;
  // Imports the stream into document at index; returns the reader's result code; index then
  // holds the first inserted item's index, or -1.
  uint8_t ReadRTFFromStream(TStream& stream, TCustomRVData* document, int32_t& index);
  // The number of items inserted after the first one by the last import.
  int32_t InsertedCount() const { return count_after_first_; }

 protected:
  virtual void DoTranslateKeyword(TRVRTFReader* /*sender*/, const AnsiString& /*keyword*/, int32_t /*param*/,
                                  bool /*f_param*/, AnsiString& /*text*/, bool& /*do_default*/) {}

 private:
  void BeginImport(TCustomRVData* document, int32_t index);
  void EndImport();
  void NewText(const AnsiString& text, const WideString* wide, TRVRTFPosition position);
  int32_t CurrentTextStyle(bool unicode, bool hyperlink);
  int32_t ClosestTextStyle(bool unicode, bool hyperlink);
  int32_t ExactTextStyle(bool unicode, bool hyperlink);
  int32_t AddTextStyle(bool unicode, bool hyperlink);
  int32_t CurrentParaStyle();
  int32_t ParaStyleForPosition(TRVRTFPosition position);
  void InsertItem(AnsiString& text, TCustomRVItemInfo* item, TRVRTFPosition position);
  // Appends the run to the item before it in the document when the two may be one item.
  bool JoinsPrevious(TCustomRVData* d, int32_t prev_no, TCustomRVItemInfo* item, const AnsiString& text);
  bool ParseHyperlink(AnsiString& target, AnsiString& options, AnsiString& tip) const;
  int32_t Px(int32_t twips) const;
  // Tables (RVRTFProps_tables.cpp).
  // One table being read: the result table, the table that collects the cells of the row
  // being read, the column boundaries (twips) and the sums the table's measures come from.
  //
  // The grid is laid out apart from the table item while rows arrive (TTableGrid) and the
  // item is built from it once, at the table end: column splits, vertical merges and rows
  // that only merged cells cover then cost work in proportion to the cells they touch, not
  // to the cells the table already has.
  struct TTableGrid {
    // A cell of the grid: its first row and row count, the column boundaries (twips) it
    // spans, its best width, what its properties set, and its content: the documents
    // whose items it receives in order (nil: the one empty paragraph a new cell holds).
    struct TCell {
      int32_t top = 0, rows = 1;
      int32_t left = 0, right = 0;
      int32_t best_width = 0;
      bool alive = true;
      bool borders_given = false;
      bool visible_borders[4] = {true, true, true, true};
      bool look_given = false;
      TColor color = clNone, border_color = clNone, border_light_color = clNone;
      TRVCellVAlign valign = rvcVDefault;
      bool height_given = false;
      int32_t best_height = 0;
      std::vector<TCustomRVData*> content{nullptr};
      uint32_t stamp = 0;
    };
    std::vector<int32_t> bounds;  // column boundaries, ascending, at least 2 twips apart
    int32_t rows = 0;
    // owner[col][row]: the cell covering the position; -1 for a new cell of its own there.
    std::vector<std::vector<int32_t>> owner;
    std::vector<TCell> cells;
    uint32_t stamp = 0;

    int32_t ColCount() const { return static_cast<int32_t>(owner.size()); }
    int32_t ColOf(int32_t boundary) const;
    // The cell at (row, col) made a cell of its own (its index), for a new cell there.
    int32_t Materialize(int32_t row, int32_t col);
    // The cell covering (row, col), its first row and its first column; -1 for a new cell.
    int32_t MainCell(int32_t row, int32_t col, int32_t& main_row, int32_t& main_col) const;
    // The cell starting at (row, col), or -2 when a cell from elsewhere covers it.
    int32_t CellAt(int32_t row, int32_t col) const;
    // A new boundary x at index p: a column at the grid's edge gets one empty cell over
    // the rows so far; a column split inside leaves every cell over both halves.
    void InsertBoundary(int32_t p, int32_t x);
    void AddRow();
    // The cell starting at (row, col) loses its content and its borders.
    void EmptyCell(int32_t row, int32_t col);
    // The table's merge: the rectangle becomes its top-left cell, which takes the content
    // of the cells inside and their best width; a rectangle cutting a cell is refused.
    void Merge(int32_t top, int32_t left, int32_t col_span, int32_t row_span);
    bool HasContent(const TCell& cell) const;
  };
  struct TTableInfo {
    std::unique_ptr<TRVTableItemBase> table;
    std::unique_ptr<TRVTableItemBase> collecting;
    // The collecting tables of the rows read: the grid's cells take their items at the end.
    std::vector<std::unique_ptr<TRVTableItemBase>> collected_rows;
    TTableGrid grid;
    int32_t saved_row = -1, saved_cell = -1;
    bool content_after_row = false;
    bool explicit_width = false;
    int32_t padding_sum = 0, padding_count = 0;
    int32_t cell_border_sum = 0, cell_border_count = 0;
    int32_t row_border_sum = 0, row_border_count = 0;
    int32_t width = 0;
    bool heading_done = false;
  };
  void TableEvent(TRVRTFTableEventKind what);
  void ImportRow();
  void FinishTable(TTableInfo& info);
  // The cell properties of an RTF cell spanning the boundaries left to right (twips).
  void ApplyCellProperties(TTableInfo& info, TTableGrid::TCell& cell, const TRVRTFCellProperties& p, int32_t left,
                           int32_t right);
  // The table item made from the grid.
  void BuildTable(TTableInfo& info);
  int32_t AlignedParaStyle(int32_t alignment);
  TCustomRVData* CollectingCell(TTableInfo& info, int32_t index);
  // Counts cells about to be made; raises EDocViewError past the limits above.
  void CountGridCells(int64_t cells, int32_t columns);
  void NoteCellContent();

  // Lists (RVRTFProps_lists.cpp).
  void InsertMarkerIfNeeded();
  void BuildListStyles();
  int32_t FindOrAddOldStyleList(const TRVRTFMarkerProperties& m);
  void UpdateMarker();
  // Pictures.
  void NewPicture(TRVRTFPicture* picture, TGraphic* graphic, TRVRTFPosition position, const AnsiString& file_name,
                  bool& inserted);

  int32_t text_style_no_ = 0;
  int32_t para_style_no_ = 0;
  // Import state.
  TRVRTFReader* reader_ = nullptr;
  TCustomRVData* root_ = nullptr;
  TCustomRVData* current_ = nullptr;
  TRVStyle* style_ = nullptr;
  double k_ = 1.0;
  int32_t index_ = 0;
  bool first_insertion_ = true;
  int32_t first_index_ = -1;
  int32_t count_after_first_ = 0;
  bool page_break_ = false;
  TCustomRVData* page_break_doc_ = nullptr;
  int32_t hf_mode_ = 0;
  std::vector<std::unique_ptr<TTableInfo>> tables_;
  int32_t row_index_ = -1, cell_index_ = -1;
  int32_t default_para_ = -1;
  // The marker inserted since the last marker update (and whether it is of the list-table
  // kind); the list style of each old-style level (1 to 11; empty until needed); the list
  // style of each RTF list; the number of list styles before this import.
  TRVMarkerItemInfo* last_marker_ = nullptr;
  bool last_marker_new_ = false;
  std::vector<int32_t> old_levels_;
  std::vector<int32_t> list_map_;
  bool lists_built_ = false;
  int32_t lists_before_ = 0;
  bool moving_out_ = false;  // items move out of a table: no markers are added
  // The bytes of the input and the table cells made from it so far: the grids an import
  // builds stay linear in its input (see RTF_MAX_TABLE_COLUMNS).
  int64_t input_size_ = 0;
  int64_t grid_cells_ = 0;
};

}  // namespace pelvar
