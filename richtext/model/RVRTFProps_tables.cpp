// RTF import of tables: the reader's table events build table items. The cells of a row are
// collected in a one-row table; at the row end they are placed on a grid of column
// boundaries shared by all rows (boundaries closer than 2 twips are one), splitting columns
// where a later row needs a boundary the earlier rows lack, and merging cells for
// horizontal and vertical merges.
#include <algorithm>
#include <cmath>

#include "richtext/model/RVRTFProps.h"

namespace pelvar {

namespace {
int32_t RoundEven(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

// Index of the boundary within 1 twip of x; -1 when none (the boundaries ascend, at least
// 2 twips apart).
int32_t FindBound(const std::vector<int32_t>& b, int32_t x) {
  auto it = std::lower_bound(b.begin(), b.end(), x - 1);
  if (it != b.end() && std::abs(*it - x) <= 1) return static_cast<int32_t>(it - b.begin());
  return -1;
}
}  // namespace

void TRVRTFReaderProperties::CountGridCells(int64_t cells, int32_t columns) {
  if (columns > RTF_MAX_TABLE_COLUMNS) throw EDocViewError("RTF table has too many columns");
  grid_cells_ += cells;
  if (grid_cells_ > RTF_TABLE_CELLS_BASE + RTF_TABLE_CELLS_PER_BYTE * input_size_)
    throw EDocViewError("RTF tables have too many cells for their input");
}

TCustomRVData* TRVRTFReaderProperties::CollectingCell(TTableInfo& info, int32_t index) {
  while (info.collecting->ColCount() <= index) info.collecting->InsertCols(info.collecting->ColCount(), 1, -1);
  return info.collecting->GetCells(0, index);
}

void TRVRTFReaderProperties::NoteCellContent() {
  if (!tables_.empty() && current_ != root_ && hf_mode_ == 0) tables_.back()->content_after_row = true;
}

int32_t TRVRTFReaderProperties::AlignedParaStyle(int32_t alignment) {
  if (ParaStyleMode == rvrsUseSpecified) return para_style_no_;
  if (ParaStyleMode == rvrsUseClosest) return 0;
  if (alignment == 0 && default_para_ >= 0) return default_para_;
  TParaInfos* ps = style_->ParaStyles();
  TParaInfo* p0 = ps->Items(0);
  int32_t result = 0;
  if (!(p0->LeftIndent == 0 && p0->RightIndent == 0 && p0->FirstIndent == 0 && p0->Alignment == alignment)) {
    result = -1;
    for (int32_t i = 0; i < ps->Count() && result < 0; ++i) {
      TParaInfo* p = ps->Items(i);
      TParaInfo probe(nullptr);
      probe.Assign(p0);
      probe.LeftIndent = probe.RightIndent = probe.FirstIndent = 0;
      probe.Alignment = static_cast<TRVAlignment>(alignment);
      probe.StyleName = p->StyleName;
      probe.Standard = p->Standard;
      if (p->SameProperties(&probe, true, true)) result = i;
    }
    if (result < 0) {
      TParaInfo* p = ps->Add();
      p->Assign(p0);
      p->LeftIndent = p->RightIndent = p->FirstIndent = 0;
      p->Alignment = static_cast<TRVAlignment>(alignment);
      p->Standard = false;
      result = ps->Count() - 1;
    }
  }
  if (alignment == 0) default_para_ = result;
  return result;
}

void TRVRTFReaderProperties::EmptyGridCell(TRVTableCellBase* cell) {
  if (!cell) return;
  for (bool& v : cell->VisibleBorders) v = false;
  cell->Clear();
}

void TRVRTFReaderProperties::TableEvent(TRVRTFTableEventKind what) {
  switch (what) {
    case rvf_tbl_TableStart: {
      auto info = std::make_unique<TTableInfo>();
      info->table.reset(RVCreateTableItem(current_, 0, 0));
      info->table->BeforeLoading(rvlfRTF);
      info->table->Color = clNone;
      info->table->BorderStyle = rvtbRaisedColor;
      info->table->CellBorderStyle = rvtbLoweredColor;
      info->table->CellBorderColor = info->table->BorderColor = clWindowText;
      info->table->BorderLightColor = info->table->CellBorderLightColor = clWindowText;
      info->collecting.reset(RVCreateTableItem(current_, 1, 1));
      info->saved_row = row_index_;
      info->saved_cell = cell_index_;
      row_index_ = cell_index_ = 0;
      current_ = CollectingCell(*info, 0);
      current_->Clear();
      tables_.push_back(std::move(info));
      break;
    }
    case rvf_tbl_CellEnd: {
      if (tables_.empty()) break;
      TTableInfo& info = *tables_.back();
      ++cell_index_;
      CountGridCells(1, cell_index_ + 1);
      current_ = CollectingCell(info, cell_index_);
      current_->Clear();
      break;
    }
    case rvf_tbl_RowEnd: {
      if (tables_.empty()) break;
      ImportRow();
      TTableInfo& info = *tables_.back();
      info.content_after_row = false;
      ++row_index_;
      cell_index_ = 0;
      info.collecting.reset(RVCreateTableItem(root_, 1, 1));
      current_ = CollectingCell(info, 0);
      break;
    }
    case rvf_tbl_TableEnd: {
      if (tables_.empty()) break;
      std::unique_ptr<TTableInfo> info = std::move(tables_.back());
      tables_.pop_back();
      TCustomRVData* enclosing = root_;
      if (hf_mode_ == 1 && HeaderDocument) enclosing = HeaderDocument;
      if (hf_mode_ == 2 && FooterDocument) enclosing = FooterDocument;
      if (!tables_.empty()) enclosing = CollectingCell(*tables_.back(), info->saved_cell);
      FinishTable(*info);
      current_ = enclosing;
      row_index_ = info->saved_row;
      cell_index_ = info->saved_cell;
      uint8_t align = reader_->RowAlignmentGiven() ? reader_->RowAlignment() : 0;
      TRVTableItemBase* t = info->table.get();
      t->ParaNo = AlignedParaStyle(align == 1 ? rvaRight : align == 2 ? rvaCenter : rvaLeft);
      bool has_cells = false;
      for (int32_t r = 0; r < t->RowCount() && !has_cells; ++r)
        for (int32_t c = 0; c < t->ColCount() && !has_cells; ++c) has_cells = t->GetCells(r, c) != nullptr;
      if (has_cells) {
        t->DeleteEmptyRows();
        AnsiString empty;
        InsertItem(empty, info->table.release(), rtf_ts_NewPara);
      }
      // Content after the last row end goes where the table stands, as paragraphs.
      if (info->content_after_row) {
        TCustomRVData* cell = info->collecting->GetCells(0, 0);
        moving_out_ = true;
        struct Restore {
          bool& flag;
          ~Restore() { flag = false; }
        } restore{moving_out_};
        while (cell && cell->ItemCount() > 0) {
          AnsiString text = cell->GetItemTextRaw(0);
          TCustomRVItemInfo* item = cell->GetItem(0);
          cell->Items().Delete(0);
          item->SetSameAsPrev(false);
          item->SetBR(false);
          InsertItem(text, item, rtf_ts_NewPara);
        }
      }
      break;
    }
  }
}

void TRVRTFReaderProperties::ApplyCellProperties(TTableInfo& info, TRVTableCellBase* cell,
                                                 const TRVRTFCellProperties& p, int32_t a, int32_t c) {
  const TRVRTFRowProperties* row = reader_->GroupState().RowPropsOrNull();
  cell->Color = p.Color;
  if (row && row->UseOwnExtensions && p.BestHeight > 0)
    cell->BestHeight = p.BestHeight;
  else if (row && row->Height > 0)
    cell->BestHeight = RoundEven(row->Height * k_);
  bool vis[4];
  TColor first = clNone, second = clNone;
  for (int32_t i = 0; i < 4; ++i) {
    const TRVRTFBorderSide* s = p.Border.SideOrNull(i);
    vis[i] = s && s->Style != 0;
    if (vis[i]) {
      info.cell_border_sum += s->Width;
      ++info.cell_border_count;
    }
  }
  // left, top, right, bottom
  cell->VisibleBorders[0] = vis[0];
  cell->VisibleBorders[1] = vis[1];
  cell->VisibleBorders[2] = vis[2];
  cell->VisibleBorders[3] = vis[3];
  auto side_color = [&](int32_t i) { return p.Border.SideOrNull(i) ? p.Border.SideOrNull(i)->Color : clNone; };
  first = vis[0] ? side_color(0) : (vis[1] ? side_color(1) : clNone);
  second = vis[2] ? side_color(2) : (vis[3] ? side_color(3) : clNone);
  cell->BorderColor = first;
  cell->BorderLightColor = second;
  if (p.BestWidth != 0) info.explicit_width = true;
  if (row && row->UseOwnExtensions && p.BestWidth != 0)
    cell->BestWidth = p.BestWidth;
  else if (info.explicit_width && p.BestWidth != 0)
    cell->BestWidth = p.BestWidth < 0 ? p.BestWidth / 50 : RoundEven(p.BestWidth * k_);
  else
    cell->BestWidth = RoundEven((info.bounds[static_cast<size_t>(c)] - info.bounds[static_cast<size_t>(a)]) * k_);
  cell->VAlign = p.VAlign == 1 ? rvcBottom : (p.VAlign == 2 ? rvcMiddle : rvcTop);
}

void TRVRTFReaderProperties::ImportRow() {
  TTableInfo& info = *tables_.back();
  TRVTableItemBase* t = info.table.get();
  const TRVRTFRowProperties* rp = reader_->GroupState().RowPropsOrNull();
  TRVRTFRowProperties empty_row;
  const TRVRTFRowProperties& R = rp ? *rp : empty_row;
  // The collected cells of this row (the open one after the last \cell holds nothing).
  const int32_t collected = cell_index_;
  if (collected <= 0) return;
  // The row's boundaries: its left position and every cell's right boundary, increasing.
  std::vector<int32_t> rb{R.Left};
  for (int32_t i = 0; i < collected; ++i) {
    int32_t x = i < R.Cells.Count() ? R.Cells.Items(i)->RightBoundary : rb.back() + 1440;
    if (x < rb.back() + 2) x = rb.back() + 2;
    rb.push_back(x);
  }
  if (R.Heading && !info.heading_done) t->HeadingRowCount = t->RowCount() + 1;
  if (!R.Heading) info.heading_done = true;
  for (int32_t i = 0; i < 4; ++i) {
    const TRVRTFBorderSide* s = R.Border.SideOrNull(i);
    if (s && s->Style != 0) {
      info.row_border_sum += s->Width;
      ++info.row_border_count;
    }
    if (R.PaddingGiven[i]) info.padding_sum += R.Padding[i];
    ++info.padding_count;
  }
  if (R.UseOwnExtensions && R.BestWidth != 0)
    info.width = R.BestWidth;
  else if (R.BestWidth != 0 && (info.width == 0 || (R.BestWidth > info.width && (R.BestWidth > 0) == (info.width > 0))))
    info.width = R.BestWidthInPercent ? -std::abs(R.BestWidth) : R.BestWidth;
  const int32_t rows_before = t->RowCount();
  if (rows_before == 0) {
    CountGridCells(static_cast<int64_t>(rb.size()), static_cast<int32_t>(rb.size()) - 1);
    info.bounds = rb;
    t->InsertCols(0, static_cast<int32_t>(rb.size()) - 1, -1);
  } else {
    for (int32_t x : rb) {
      if (FindBound(info.bounds, x) >= 0) continue;
      CountGridCells(rows_before, t->ColCount() + 1);
      auto pos = std::lower_bound(info.bounds.begin(), info.bounds.end(), x) - info.bounds.begin();
      const int32_t p = static_cast<int32_t>(pos);
      const int32_t cols = t->ColCount();
      if (p == 0 || p == static_cast<int32_t>(info.bounds.size())) {
        // A new column before or after the grid: one empty cell over the earlier rows.
        const int32_t at = p == 0 ? 0 : cols;
        t->InsertCols(at, 1, -1);
        for (int32_t r = 0; r < rows_before; ++r) EmptyGridCell(t->GetCells(r, at));
        t->MergeCells(0, at, 1, rows_before);
      } else {
        // Column p - 1 is split at x: earlier rows keep one cell over both halves.
        t->InsertCols(p, 1, -1);
        for (int32_t r = 0; r < rows_before; ++r) {
          if (!t->GetCells(r, p)) continue;
          int32_t mr = 0, mc = 0;
          TRVTableCellBase* m = t->GetMainCell(r, p - 1, mr, mc);
          if (m) t->MergeCells(mr, mc, m->ColSpan + 1, m->RowSpan);
        }
      }
      info.bounds.insert(info.bounds.begin() + p, x);
    }
  }
  const int32_t row = t->RowCount();
  CountGridCells(t->ColCount(), t->ColCount());
  t->InsertRows(row, 1, -1);
  int32_t col = FindBound(info.bounds, rb[0]);
  if (col > 0) {
    for (int32_t c = 0; c < col; ++c) EmptyGridCell(t->GetCells(row, c));
    t->MergeCells(row, 0, col, 1);
  }
  int32_t prev_col = -1;
  for (int32_t i = 0; i < collected; ++i) {
    const int32_t end = FindBound(info.bounds, rb[static_cast<size_t>(i) + 1]);
    if (end <= col) continue;
    const TRVRTFCellProperties* P = i < R.Cells.Count() ? R.Cells.Items(i) : nullptr;
    TCustomRVData* source = CollectingCell(info, i);
    if (P && P->HMerge == 2 && prev_col >= 0) {
      t->MergeCells(row, prev_col, end - prev_col, 1);
    } else {
      t->MergeCells(row, col, end - col, 1);
      TRVTableCellBase* cell = t->GetCells(row, col);
      if (P && P->VMerge == 2 && row > 0) {
        int32_t mr = 0, mc = 0;
        TRVTableCellBase* above = t->GetMainCell(row - 1, col, mr, mc);
        if (above && mc == col) {
          const int32_t span = std::max(above->ColSpan, end - col);
          if (span > end - col) t->MergeCells(row, col, span, 1);
          t->MergeCells(mr, mc, span, row - mr + 1);
        }
      } else if (cell) {
        if (P) ApplyCellProperties(info, cell, *P, col, end);
        cell->Clear();
        cell->AppendFrom(source);
      }
      prev_col = col;
    }
    col = end;
  }
  if (col < t->ColCount()) {
    for (int32_t c = col; c < t->ColCount(); ++c) EmptyGridCell(t->GetCells(row, c));
    t->MergeCells(row, col, t->ColCount() - col, 1);
  }
}

void TRVRTFReaderProperties::FinishTable(TTableInfo& info) {
  TRVTableItemBase* t = info.table.get();
  const int32_t n = t->RowCount();
  t->CellPadding = info.padding_count > 0 ? RoundEven(info.padding_sum * k_ / info.padding_count) : 0;
  const int32_t text_style = TextStyleMode == rvrsUseSpecified ? text_style_no_ : 0;
  const int32_t para = AlignedParaStyle(0);
  for (int32_t r = 0; r < n; ++r)
    for (int32_t c = 0; c < t->ColCount(); ++c) {
      TRVTableCellBase* cell = t->GetCells(r, c);
      if (!cell) continue;
      if (cell->BestWidth > 2 * t->CellPadding) cell->BestWidth -= 2 * t->CellPadding;
      if (cell->ItemCount() == 0) cell->AddTextItem("", text_style, para);
    }
  if (info.width > 0)
    t->BestWidth = RoundEven(k_ * info.width);
  else if (info.width < 0)
    t->BestWidth = info.width / 50;
  if (info.cell_border_count > 0) {
    t->CellBorderWidth = RoundEven(k_ * info.cell_border_sum / info.cell_border_count);
    if (t->CellBorderWidth == 0 && RoundEven(static_cast<double>(info.cell_border_sum) / info.cell_border_count) > 4)
      t->CellBorderWidth = 1;
  }
  if (info.row_border_count > 0) {
    t->BorderWidth = RoundEven(k_ * info.row_border_sum / info.row_border_count);
    if (t->BorderWidth == 0 && RoundEven(static_cast<double>(info.row_border_sum) / info.row_border_count) > 4)
      t->BorderWidth = 1;
  }
  t->CellHSpacing = t->CellVSpacing = t->BorderHSpacing = t->BorderVSpacing = -1;
  if (t->BorderWidth == t->CellBorderWidth) t->BorderWidth = t->BorderHSpacing = t->BorderVSpacing = 0;
  if (AutoHideTableGridLines) t->Options.Include(rvtoHideGridLines);
}

}  // namespace pelvar
