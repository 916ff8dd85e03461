// RTF import of tables: the reader's table events build table items. The cells of a row are
// collected in a one-row table; at the row end they are placed on a grid of column
// boundaries shared by all rows (boundaries closer than 2 twips are one), splitting columns
// where a later row needs a boundary the earlier rows lack, and merging cells for
// horizontal and vertical merges. The grid is kept as boundaries and cell rectangles until
// the table ends, when the table item is built from it in one pass: a split or a merge
// touches only the cells it changes, so the work stays in proportion to the grid's cells
// (which the input's size bounds).
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

// ---- The grid of a table being read ----------------------------------------------------------------

int32_t TRVRTFReaderProperties::TTableGrid::ColOf(int32_t boundary) const {
  return static_cast<int32_t>(std::lower_bound(bounds.begin(), bounds.end(), boundary) - bounds.begin());
}

int32_t TRVRTFReaderProperties::TTableGrid::Materialize(int32_t row, int32_t col) {
  int32_t& id = owner[static_cast<size_t>(col)][static_cast<size_t>(row)];
  if (id >= 0) return id;
  TCell cell;
  cell.top = row;
  cell.left = bounds[static_cast<size_t>(col)];
  cell.right = bounds[static_cast<size_t>(col) + 1];
  cells.push_back(std::move(cell));
  id = static_cast<int32_t>(cells.size()) - 1;
  return id;
}

int32_t TRVRTFReaderProperties::TTableGrid::MainCell(int32_t row, int32_t col, int32_t& main_row,
                                                     int32_t& main_col) const {
  const int32_t id = owner[static_cast<size_t>(col)][static_cast<size_t>(row)];
  if (id < 0) {
    main_row = row;
    main_col = col;
  } else {
    main_row = cells[static_cast<size_t>(id)].top;
    main_col = ColOf(cells[static_cast<size_t>(id)].left);
  }
  return id;
}

int32_t TRVRTFReaderProperties::TTableGrid::CellAt(int32_t row, int32_t col) const {
  int32_t mr = 0, mc = 0;
  const int32_t id = MainCell(row, col, mr, mc);
  return mr == row && mc == col ? id : -2;
}

void TRVRTFReaderProperties::TTableGrid::InsertBoundary(int32_t p, int32_t x) {
  const auto at = static_cast<size_t>(p);
  if (p == 0 || at == bounds.size()) {
    std::vector<int32_t> column(static_cast<size_t>(rows), -1);
    if (rows > 0) {
      TCell fill;
      fill.rows = rows;
      fill.left = p == 0 ? x : bounds.back();
      fill.right = p == 0 ? bounds.front() : x;
      fill.content.clear();
      std::fill(std::begin(fill.visible_borders), std::end(fill.visible_borders), false);
      fill.borders_given = true;
      cells.push_back(std::move(fill));
      std::fill(column.begin(), column.end(), static_cast<int32_t>(cells.size()) - 1);
    }
    owner.insert(p == 0 ? owner.begin() : owner.end(), std::move(column));
  } else {
    // New cells in the split column become cells of their own first: they now span two.
    for (int32_t r = 0; r < rows; ++r) Materialize(r, p - 1);
    owner.insert(owner.begin() + p, owner[at - 1]);
  }
  bounds.insert(bounds.begin() + p, x);
}

void TRVRTFReaderProperties::TTableGrid::AddRow() {
  for (auto& column : owner) column.push_back(-1);
  ++rows;
}

void TRVRTFReaderProperties::TTableGrid::EmptyCell(int32_t row, int32_t col) {
  if (CellAt(row, col) == -2) return;
  TCell& cell = cells[static_cast<size_t>(Materialize(row, col))];
  cell.content.clear();
  std::fill(std::begin(cell.visible_borders), std::end(cell.visible_borders), false);
  cell.borders_given = true;
}

bool TRVRTFReaderProperties::TTableGrid::HasContent(const TCell& cell) const {
  int64_t items = 0;
  for (TCustomRVData* d : cell.content) items += d ? d->ItemCount() : 1;
  if (items != 1) return items > 1;
  for (TCustomRVData* d : cell.content)
    if (d && d->ItemCount() == 1) return d->GetItem(0)->StyleNo < 0 || !d->GetItemTextRaw(0).empty();
  return false;  // the empty paragraph of a new cell
}

void TRVRTFReaderProperties::TTableGrid::Merge(int32_t top, int32_t left, int32_t col_span, int32_t row_span) {
  // The table's rules for the rectangle: clipped to the grid, more than one position, a
  // cell starting at its top-left corner and smaller than it.
  row_span = std::min(row_span, rows - top);
  if (top >= 0 && top < rows) col_span = std::min(col_span, ColCount() - left);
  if (col_span <= 1 && row_span <= 1) return;
  if (col_span < 1 || row_span < 1 || top < 0 || left < 0 || top >= rows || left >= ColCount())
    throw EDocViewError("Parameters for cell merging are not correct");
  const int32_t main_id = CellAt(top, left);
  if (main_id == -2) return;
  int32_t main_rows = 1, main_cols = 1;
  if (main_id >= 0) {
    main_rows = cells[static_cast<size_t>(main_id)].rows;
    main_cols = ColOf(cells[static_cast<size_t>(main_id)].right) - left;
  }
  if (main_rows >= row_span && main_cols >= col_span) return;
  const int32_t bottom = top + row_span, right = left + col_span;
  // Every position of the rectangle outside the top-left cell, row by row: the cells there
  // must lie inside. A cell reaching outside crosses the rectangle's edge, so the edge
  // positions are checked; they are all taken over after that.
  auto each_outside = [&](auto&& visit, bool edges_only) {
    // Rows beside the top-left cell hold nothing outside it when it is as wide.
    for (int32_t r = main_cols >= col_span ? top + main_rows : top; r < bottom; ++r) {
      const bool beside_main = r < top + main_rows;
      const int32_t from = left + (beside_main ? main_cols : 0);
      const bool edge_row = r == top || r == bottom - 1;
      for (int32_t c = from; c < right; ++c) {
        if (edges_only && !edge_row && c != left && c != right - 1) {
          c = right - 2;  // to the right edge
          continue;
        }
        if (!visit(r, c)) return false;
      }
    }
    return true;
  };
  const bool inside = each_outside(
      [&](int32_t r, int32_t c) {
        const int32_t id = owner[static_cast<size_t>(c)][static_cast<size_t>(r)];
        if (id < 0) return true;
        const TCell& cell = cells[static_cast<size_t>(id)];
        return cell.top >= top && cell.top + cell.rows <= bottom && ColOf(cell.left) >= left &&
               ColOf(cell.right) <= right;
      },
      true);
  if (!inside) return;
  const int32_t main = Materialize(top, left);
  const uint32_t mark = ++stamp;
  cells[static_cast<size_t>(main)].stamp = mark;
  std::vector<std::pair<std::pair<int32_t, int32_t>, int32_t>> taken;  // ((row, col), cell)
  each_outside(
      [&](int32_t r, int32_t c) {
        int32_t& id = owner[static_cast<size_t>(c)][static_cast<size_t>(r)];
        if (id >= 0 && cells[static_cast<size_t>(id)].stamp != mark) {
          cells[static_cast<size_t>(id)].stamp = mark;
          taken.push_back({{r, c}, id});
        }
        id = main;
        return true;
      },
      false);
  std::sort(taken.begin(), taken.end());
  // The best width: per row the sum of the cells starting there (percentages, when any,
  // alone), the most negative of the rows, else the largest.
  int32_t result = 0;
  auto add_row = [&](int32_t sum) {
    if (sum == 0) return;
    if (result == 0 || (sum < 0) != (result < 0))
      result = (result == 0 || sum < 0) ? sum : result;
    else
      result = sum < 0 ? std::min(result, sum) : std::max(result, sum);
  };
  TCell& m = cells[static_cast<size_t>(main)];
  int32_t row_of_sum = top, positive = m.best_width > 0 ? m.best_width : 0, negative = std::min(m.best_width, 0);
  for (const auto& t : taken) {
    const TCell& cell = cells[static_cast<size_t>(t.second)];
    if (t.first.first != row_of_sum) {
      add_row(negative < 0 ? negative : positive);
      row_of_sum = t.first.first;
      positive = negative = 0;
    }
    if (cell.best_width > 0) positive += cell.best_width;
    if (cell.best_width < 0) negative += cell.best_width;
  }
  add_row(negative < 0 ? negative : positive);
  for (const auto& t : taken) {
    TCell& cell = cells[static_cast<size_t>(t.second)];
    if (HasContent(cell)) m.content.insert(m.content.end(), cell.content.begin(), cell.content.end());
    cell.alive = false;
    cell.content.clear();
  }
  m.best_width = result;
  m.rows = row_span;
  m.right = bounds[static_cast<size_t>(right)];
}

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
      info.collected_rows.push_back(std::move(info.collecting));
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
      BuildTable(*info);
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

void TRVRTFReaderProperties::ApplyCellProperties(TTableInfo& info, TTableGrid::TCell& cell,
                                                 const TRVRTFCellProperties& p, int32_t left, int32_t right) {
  const TRVRTFRowProperties* row = reader_->GroupState().RowPropsOrNull();
  cell.look_given = true;
  cell.color = p.Color;
  if (row && row->UseOwnExtensions && p.BestHeight > 0) {
    cell.height_given = true;
    cell.best_height = p.BestHeight;
  } else if (row && row->Height > 0) {
    cell.height_given = true;
    cell.best_height = RoundEven(row->Height * k_);
  }
  bool vis[4];
  for (int32_t i = 0; i < 4; ++i) {
    const TRVRTFBorderSide* s = p.Border.SideOrNull(i);
    vis[i] = s && s->Style != 0;
    if (vis[i]) {
      info.cell_border_sum += s->Width;
      ++info.cell_border_count;
    }
  }
  // left, top, right, bottom
  cell.borders_given = true;
  std::copy(std::begin(vis), std::end(vis), std::begin(cell.visible_borders));
  auto side_color = [&](int32_t i) { return p.Border.SideOrNull(i) ? p.Border.SideOrNull(i)->Color : clNone; };
  cell.border_color = vis[0] ? side_color(0) : (vis[1] ? side_color(1) : clNone);
  cell.border_light_color = vis[2] ? side_color(2) : (vis[3] ? side_color(3) : clNone);
  if (p.BestWidth != 0) info.explicit_width = true;
  if (row && row->UseOwnExtensions && p.BestWidth != 0)
    cell.best_width = p.BestWidth;
  else if (info.explicit_width && p.BestWidth != 0)
    cell.best_width = p.BestWidth < 0 ? p.BestWidth / 50 : RoundEven(p.BestWidth * k_);
  else
    cell.best_width = RoundEven((right - left) * k_);
  cell.valign = p.VAlign == 1 ? rvcBottom : (p.VAlign == 2 ? rvcMiddle : rvcTop);
}

void TRVRTFReaderProperties::ImportRow() {
  TTableInfo& info = *tables_.back();
  TRVTableItemBase* t = info.table.get();
  TTableGrid& g = info.grid;
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
  if (R.Heading && !info.heading_done) t->HeadingRowCount = g.rows + 1;
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
  const int32_t rows_before = g.rows;
  if (rows_before == 0) {
    CountGridCells(static_cast<int64_t>(rb.size()), static_cast<int32_t>(rb.size()) - 1);
    g.bounds = rb;
    g.owner.assign(rb.size() - 1, {});
  } else {
    for (int32_t x : rb) {
      if (FindBound(g.bounds, x) >= 0) continue;
      CountGridCells(rows_before, g.ColCount() + 1);
      g.InsertBoundary(static_cast<int32_t>(std::lower_bound(g.bounds.begin(), g.bounds.end(), x) - g.bounds.begin()), x);
    }
  }
  const int32_t row = g.rows;
  CountGridCells(g.ColCount(), g.ColCount());
  g.AddRow();
  int32_t col = FindBound(g.bounds, rb[0]);
  if (col > 0) {
    for (int32_t c = 0; c < col; ++c) g.EmptyCell(row, c);
    g.Merge(row, 0, col, 1);
  }
  int32_t prev_col = -1;
  for (int32_t i = 0; i < collected; ++i) {
    const int32_t end = FindBound(g.bounds, rb[static_cast<size_t>(i) + 1]);
    if (end <= col) continue;
    const TRVRTFCellProperties* P = i < R.Cells.Count() ? R.Cells.Items(i) : nullptr;
    TCustomRVData* source = CollectingCell(info, i);
    if (P && P->HMerge == 2 && prev_col >= 0) {
      g.Merge(row, prev_col, end - prev_col, 1);
    } else {
      g.Merge(row, col, end - col, 1);
      const bool starts_here = g.CellAt(row, col) != -2;
      if (P && P->VMerge == 2 && row > 0) {
        int32_t mr = 0, mc = 0;
        const int32_t above = g.MainCell(row - 1, col, mr, mc);
        if (mc == col) {
          const int32_t above_cols =
              above < 0 ? 1 : g.ColOf(g.cells[static_cast<size_t>(above)].right) - mc;
          const int32_t span = std::max(above_cols, end - col);
          if (span > end - col) g.Merge(row, col, span, 1);
          g.Merge(mr, mc, span, row - mr + 1);
        }
      } else if (starts_here) {
        TTableGrid::TCell& cell = g.cells[static_cast<size_t>(g.Materialize(row, col))];
        if (P) ApplyCellProperties(info, cell, *P, g.bounds[static_cast<size_t>(col)], g.bounds[static_cast<size_t>(end)]);
        cell.content.assign(1, source);
      }
      prev_col = col;
    }
    col = end;
  }
  if (col < g.ColCount()) {
    for (int32_t c = col; c < g.ColCount(); ++c) g.EmptyCell(row, c);
    g.Merge(row, col, g.ColCount() - col, 1);
  }
}

void TRVRTFReaderProperties::BuildTable(TTableInfo& info) {
  TTableGrid& g = info.grid;
  TRVTableItemBase* t = info.table.get();
  if (g.rows == 0 || g.ColCount() == 0) return;
  // Rows where no cell starts are left out (the cells over them lose a row each).
  std::vector<int32_t> first_row(static_cast<size_t>(g.rows) + 1, 0);
  {
    std::vector<bool> starts(static_cast<size_t>(g.rows), false);
    for (int32_t c = 0; c < g.ColCount(); ++c)
      for (int32_t r = 0; r < g.rows; ++r) {
        const int32_t id = g.owner[static_cast<size_t>(c)][static_cast<size_t>(r)];
        if (id < 0 || g.cells[static_cast<size_t>(id)].top == r) starts[static_cast<size_t>(r)] = true;
      }
    for (int32_t r = 0; r < g.rows; ++r)
      first_row[static_cast<size_t>(r) + 1] = first_row[static_cast<size_t>(r)] + (starts[static_cast<size_t>(r)] ? 1 : 0);
  }
  t->InsertCols(0, g.ColCount(), -1);
  t->InsertRows(0, first_row.back(), -1);
  std::unique_ptr<TRVTableItemBase> new_cell;  // the empty paragraph of a new cell, when a cell takes one
  for (TTableGrid::TCell& cell : g.cells) {
    if (!cell.alive) continue;
    const int32_t r = first_row[static_cast<size_t>(cell.top)];
    const int32_t c = g.ColOf(cell.left);
    const int32_t rows = first_row[static_cast<size_t>(cell.top + cell.rows)] - r;
    const int32_t cols = g.ColOf(cell.right) - c;
    if (rows > 1 || cols > 1) t->MergeCells(r, c, cols, rows);
    TRVTableCellBase* target = t->GetCells(r, c);
    if (!target) continue;
    target->BestWidth = cell.best_width;
    if (cell.borders_given) std::copy(std::begin(cell.visible_borders), std::end(cell.visible_borders), std::begin(target->VisibleBorders));
    if (cell.look_given) {
      target->Color = cell.color;
      target->BorderColor = cell.border_color;
      target->BorderLightColor = cell.border_light_color;
      target->VAlign = cell.valign;
    }
    if (cell.height_given) target->BestHeight = cell.best_height;
    // A new cell's own paragraph stays when its content starts with it.
    size_t from = 0;
    if (!cell.content.empty() && !cell.content.front())
      from = 1;
    else
      target->Clear();
    for (size_t i = from; i < cell.content.size(); ++i) {
      TCustomRVData* source = cell.content[i];
      if (!source) {
        new_cell.reset(RVCreateTableItem(current_, 1, 1));
        source = new_cell->GetCells(0, 0);
      }
      target->AppendFrom(source);
    }
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
