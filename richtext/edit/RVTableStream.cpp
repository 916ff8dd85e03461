// Table streaming components, the temporal editor's document and the dotted lines (see
// RVTableStream.h); the cell list "C" itself is written and read by the table.
#include "richtext/edit/RVTableStream.h"

#include <algorithm>

#include "platform/filer.h"

namespace pelvar {

namespace {

// The rows a save writes, in order: heading rows first when asked, then the range.
std::vector<int32_t> WrittenRows(const TRVTableItemInfo* t, const TRVTableStreamSaveInfo& info) {
  std::vector<int32_t> rows;
  const int32_t h = info.SaveHeadingRows ? std::min(t->HeadingRowCount, t->RowCount()) : 0;
  for (int32_t r = 0; r < h; ++r) rows.push_back(r);
  for (int32_t r = info.StartRow; r < info.StartRow + info.RowCount && r < t->RowCount(); ++r) rows.push_back(r);
  return rows;
}

// The table's range while it is streamed, or a whole-table range made for the call.
class TRangeScope {
 public:
  explicit TRangeScope(TRVTableItemInfo* t) : t_(t) {
    if (!t_->StreamSaveInfo) {
      own_ = std::make_unique<TRVTableStreamSaveInfo>(t_);
      t_->StreamSaveInfo = own_.get();
    }
  }
  ~TRangeScope() {
    if (own_) t_->StreamSaveInfo = nullptr;
  }
  TRVTableStreamSaveInfo& Info() { return *t_->StreamSaveInfo; }

 private:
  TRVTableItemInfo* t_;
  std::unique_ptr<TRVTableStreamSaveInfo> own_;
};

}  // namespace

// ---- Components ----------------------------------------------------------------------------------

void TD::Loaded() {
  TComponent::Loaded();
  Release();
}

void TD::DefinePublished(TPublishedProperties& props) {
  if (C) props.Object("C", C);
}

TRVTableSW::TRVTableSW(TComponent* owner) : TComponent(owner), td_(std::make_unique<TD>(nullptr)) { td_->SW = this; }

TRVTableSW::~TRVTableSW() = default;

void TRVTableSW::DefinePublished(TPublishedProperties& props) {
  if (T) props.Object("T", T);
}

void TRVTableSW::DefineProperties(TFiler* filer) {
  TComponent::DefineProperties(filer);
  if (!T) return;
  TRVTableItemInfo* t = T;
  TD* td = td_.get();
  filer->DefineProperty(
      "C", [t, td](TReader& r) { t->ReadCells(r, td); }, [t, td](TWriter& w) { t->WriteCells(w, td); }, true);
  std::vector<int32_t> rows;
  if (t->StreamSaveInfo) rows = WrittenRows(t, *t->StreamSaveInfo);
  bool valign = false, breaks = false;
  for (int32_t r : rows) {
    valign = valign || t->Row(r).VAlign != rvcTop;
    breaks = breaks || t->Row(r).PageBreakBefore;
  }
  // Readers fill the rows of the grid just rebuilt; a list of another length is damage.
  auto read_list = [t](TReader& reader, bool booleans) {
    reader.ReadListBegin();
    int32_t i = 0;
    const int32_t start = t->StreamSaveInfo ? t->StreamSaveInfo->StartRow : 0;
    while (!reader.EndOfList()) {
      const int32_t r = start + i++;
      if (r >= t->RowCount()) throw EReadError("Too many row values in the table stream");
      if (booleans)
        t->Row(r).PageBreakBefore = reader.ReadBoolean();
      else
        t->Row(r).VAlign = static_cast<TRVCellVAlign>(std::clamp(reader.ReadInteger(), 0, 3));
    }
    reader.ReadListEnd();
    if (start + i != t->RowCount()) throw EReadError("Too few row values in the table stream");
  };
  filer->DefineProperty(
      "RowVAlign", [read_list](TReader& r) { read_list(r, false); },
      [t, rows](TWriter& w) {
        w.WriteListBegin();
        for (int32_t r : rows) w.WriteInteger(static_cast<int32_t>(t->Row(r).VAlign));
        w.WriteListEnd();
      },
      valign);
  filer->DefineProperty(
      "RowPageBreakBefore", [read_list](TReader& r) { read_list(r, true); },
      [t, rows](TWriter& w) {
        w.WriteListBegin();
        for (int32_t r : rows) w.WriteBoolean(t->Row(r).PageBreakBefore);
        w.WriteListEnd();
      },
      breaks);
}

void RVWriteTableToStream(TStream& stream, TRVTableItemInfo* table, TRVTableStreamSaveInfo* info) {
  TRVTableStreamSaveInfo* saved = table->StreamSaveInfo;
  TRVTableStreamSaveInfo whole(table);
  table->StreamSaveInfo = info ? info : &whole;
  try {
    TRVTableSW sw(nullptr);
    sw.T = table;
    WriteComponentToStream(stream, &sw);
  } catch (...) {
    table->StreamSaveInfo = saved;
    throw;
  }
  table->StreamSaveInfo = saved;
}

void RVReadTableFromStream(TStream& stream, TRVTableItemInfo* table) {
  TRVTableStreamSaveInfo* saved = table->StreamSaveInfo;
  TRVTableStreamSaveInfo fresh(table);
  table->StreamSaveInfo = &fresh;
  try {
    TRVTableSW sw(nullptr);
    sw.T = table;
    ReadComponentFromStream(stream, &sw);
  } catch (...) {
    table->StreamSaveInfo = saved;
    throw;
  }
  table->StreamSaveInfo = saved;
}

// ---- The cell list "C" -------------------------------------------------------------------------------

void TRVTableItemInfo::WriteCells(TWriter& writer, TD* td) {
  struct Lock {
    TRVTableItemInfo* t;
    explicit Lock(TRVTableItemInfo* table) : t(table) { t->BeginItemUpdate(); }
    ~Lock() { t->EndItemUpdate(); }
  } lock(this);
  TRangeScope scope(this);
  TRVTableStreamSaveInfo& info = scope.Info();
  const int32_t h = info.SaveHeadingRows ? std::min(HeadingRowCount, RowCount()) : 0;
  const int32_t range_rows = std::max(0, std::min(info.RowCount, RowCount() - info.StartRow));
  writer.WriteInteger(h + range_rows);
  if (h + range_rows <= 0) return;
  const int32_t col_end = std::min(info.StartCol + info.ColCount, ColCount());
  writer.WriteInteger(std::max(0, col_end - info.StartCol));
  writer.WriteListBegin();
  // Two blocks of rows: a cell is written once per block, at the first position of the
  // block it occupies, with its spans cut to the block and to the written columns.
  auto write_block = [&](int32_t first, int32_t end) {
    for (int32_t r = first; r < end; ++r)
      for (int32_t c = info.StartCol; c < col_end; ++c) {
        int32_t r0 = 0, c0 = 0;
        TRVTableCellData* cell = GetMainCell(r, c, r0, c0);
        if (!cell || std::max(r0, first) != r || std::max(c0, info.StartCol) != c) continue;
        writer.WriteInteger(std::min(cell->ColSpan - (c - c0), col_end - c));
        writer.WriteInteger(std::min(cell->RowSpan - (r - r0), end - r));
        td->C = cell;
        // A selection save writes the cells outside the cell selection without content.
        cell->SavingWithoutContent = info.SelectionOnly && !IsCellInSelection(r0, c0);
        try {
          writer.WriteComponent(td);
        } catch (...) {
          cell->SavingWithoutContent = false;
          td->C = nullptr;
          throw;
        }
        cell->SavingWithoutContent = false;
        td->C = nullptr;
      }
  };
  write_block(0, h);
  write_block(info.StartRow, info.StartRow + range_rows);
  writer.WriteListEnd();
}

void TRVTableItemInfo::ReadCells(TReader& reader, TD* td) {
  // The old layout names rows and cells that are about to go.
  Layout.Clear();
  MarkChanged();
  const int32_t n = reader.ReadInteger();
  if (n == 0) {
    Reset(0, 0);
    return;
  }
  try {
    const int32_t m = reader.ReadInteger();
    // The grid's size is checked before anything is allocated (ResetForReading).
    grid_->ResetForReading(n, m);
    pending_cols_ = m;
    reader.ReadListBegin();
    for (int32_t i = 0; i < n; ++i)
      for (int32_t j = 0; j < m; ++j) {
        if (!grid_->IsFreeForReading(i, j)) continue;
        if (reader.EndOfList()) throw EReadError("Wrong end of cells list");
        const int32_t col_span = reader.ReadInteger();
        const int32_t row_span = reader.ReadInteger();
        if ((col_span < 1 && row_span > 1) || (row_span < 1 && col_span > 1))
          throw EDocViewError("Parameters for cell merging are not correct");
        TRVTableCellData* cell = grid_->PlaceReadCell(i, j, row_span, col_span);
        if (!cell) throw EReadError("Overlapping cells in the table stream");
        td->C = cell;
        td->AddRef();
        reader.ReadComponent(td);
        td->C = nullptr;
      }
    if (!reader.EndOfList()) throw EReadError("Wrong end of cells list");
    reader.ReadListEnd();
    grid_->FinishReading();
  } catch (...) {
    // Nothing half-read is left: the table is empty again.
    td->C = nullptr;
    Reset(0, 0);
    throw;
  }
}

// ---- Temporal editor ---------------------------------------------------------------------------------

TRVTableTemporalEditorData::TRVTableTemporalEditorData(TRVEditRVData* main_document) : main_(main_document) {
  UndoList->Document = main_ ? main_ : this;
  RedoList->Document = main_ ? main_ : this;
}

// ---- Dotted lines ------------------------------------------------------------------------------------

void DrawDottedVLine(TCanvas& canvas, int32_t x, int32_t y1, int32_t y2) {
  for (int32_t y = y1; y < y2; y += 8)
    for (int32_t d : {0, 2, 4}) {
      canvas.MoveTo(x, y + d);
      canvas.LineTo(x, y + d + 1);
    }
}

void DrawDottedHLine(TCanvas& canvas, int32_t x1, int32_t x2, int32_t y) {
  for (int32_t x = x1; x < x2; x += 8)
    for (int32_t d : {0, 2, 4}) {
      canvas.MoveTo(x + d, y);
      canvas.LineTo(x + d + 1, y);
    }
}

}  // namespace pelvar
