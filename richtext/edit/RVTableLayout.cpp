// Table layout: the table's minimal width, its width for an available width (automatic, pixel,
// percentage, all columns fixed), the sharing of surplus width over the columns, the widening of
// columns and rows under merged cells, and the placement of every cell; the cells' views are
// formatted to their widths. All integer arithmetic.
#include "richtext/edit/RVTableLayout.h"

#include <algorithm>
#include <cmath>

#include "richtext/edit/RVERVData.h"
#include "richtext/edit/RVTableInplace.h"

namespace pelvar {

namespace {
// Halves to the even neighbour.
int32_t RoundDiv(int32_t a, int32_t b) { return static_cast<int32_t>(std::nearbyint(static_cast<double>(a) / b)); }
}  // namespace

// ---- Cell views
// ----------------------------------------------------------------------------------

TRVTableCellView::TRVTableCellView(TRVTableCellData* cell) : Cell(cell) { AssignItemList(cell); }

TRVTableCellView::~TRVTableCellView() = default;

void TRVTableCellView::FormatTo(TCanvas* canvas, int32_t width) {
  ContentWidth = width;
  FormatCanvas = canvas;
  // Laying the cell out repaints nothing by itself: the table's layout does.
  formatting_ = true;
  try {
    FormatDocument(false, true, false, 0, canvas, false, false, false);
  } catch (...) {
    formatting_ = false;
    throw;
  }
  formatting_ = false;
  formatted_count_ = ItemCount();
}

void TRVTableCellView::PaintAt(TCanvas& canvas, int32_t x, int32_t y, const TRect& clip) {
  // PaintTo shows the document rectangle starting at rect's top left at the canvas origin.
  PaintTo(canvas, TRect{-x, -y, clip.Right - x, clip.Bottom - y});
}

void TRVTableCellView::InvalidateRectangle(const TRect& /*r*/) {
  if (formatting_) return;
  if (auto* host = dynamic_cast<TCustomRVFormattedData*>(Cell->GetParentData()); host && host != this)
    host->InvalidateControl();
}

void TRVTableCellView::RefreshControl() {
  if (auto* host = dynamic_cast<TCustomRVFormattedData*>(Cell->GetParentData()); host && host != this)
    host->RefreshControl();
}

void TRVTableCellView::UpdateControl() {
  if (auto* host = dynamic_cast<TCustomRVFormattedData*>(Cell->GetParentData()); host && host != this)
    host->UpdateControl();
}

void TRVTableCellView::SetControlCursor(TCursor cursor) {
  if (auto* host = dynamic_cast<TCustomRVFormattedData*>(Cell->GetParentData()); host && host != this)
    host->SetControlCursor(cursor);
}

TCursor TRVTableCellView::GetControlCursor() {
  if (auto* host = dynamic_cast<TCustomRVFormattedData*>(Cell->GetParentData()); host && host != this)
    return host->GetControlCursor();
  return TCustomRVFormattedData::GetControlCursor();
}

void TRVTableCellView::GetOrigin(int32_t& x, int32_t& y) {
  x = y = 0;
  TCustomRVData* parent = Cell->GetParentData();
  auto* host = dynamic_cast<TCustomRVFormattedData*>(parent);
  if (!host)
    if (auto* outer = dynamic_cast<TRVTableCellData*>(parent)) host = outer->View();
  if (!host || host == this) return;
  int32_t item_no = -1;
  std::unique_ptr<TRVStoreSubRVData> location;
  Cell->GetParentInfo(item_no, location);
  int32_t left = 0, top = 0;
  if (item_no < 0 || item_no >= host->ItemCount() || !host->GetItemCoords(item_no, left, top)) return;
  auto* table = dynamic_cast<TRVTableItemInfo*>(host->GetItem(item_no));
  if (!table) return;
  host->GetOrigin(x, y);
  x += left + Cell->Left + table->CellPadding;
  y += top + Cell->Top + table->CellContentTop(Cell);
}

TRVTableCellView* TRVTableCellData::View() {
  if (!view_) view_ = std::make_unique<TRVTableCellView>(this);
  return view_.get();
}

// ---- Layout record
// -------------------------------------------------------------------------------

TRVTableItemFormattingInfo::TRVTableItemFormattingInfo(bool with_print_cells) : HasPrintCells(with_print_cells) {}
TRVTableItemFormattingInfo::~TRVTableItemFormattingInfo() = default;

void TRVTableItemFormattingInfo::Clear() {
  ColumnWidths.clear();
  RowContentHeights.clear();
  ColumnLefts.clear();
  RowTops.clear();
}

// ---- Scaling
// -------------------------------------------------------------------------------------

int32_t TRVTableItemInfo::DeviceX(int32_t v) const {
  return PrintScale ? MulDiv(v, PrintScale->ppixDevice, PrintScale->ppixScreen) : v;
}

int32_t TRVTableItemInfo::DeviceY(int32_t v) const {
  return PrintScale ? MulDiv(v, PrintScale->ppiyDevice, PrintScale->ppiyScreen) : v;
}

int32_t TRVTableItemInfo::ExtraHorzSpace() const {
  const int32_t c = ColCount();
  return DeviceX((c - 1) * CellHSpacing + 2 * (BorderWidth + BorderHSpacing) + 2 * c * CellBorderWidth);
}

int32_t TRVTableItemInfo::GetSplitOffsetY(int32_t row) const {
  if (row >= 0 && row < static_cast<int32_t>(Layout.RowTops.size())) return Layout.RowTops[static_cast<size_t>(row)];
  return Layout.TableHeight;
}

// ---- Per-cell and per-column measures
// ------------------------------------------------------------

int32_t TRVTableItemInfo::CellMinWidth(TRVTableCellData* cell, TCanvas* canvas) {
  // The edited cell's items are in its editor meanwhile.
  if (TCustomRVFormattedData* ed = EditedCellDocument(cell)) {
    if (!canvas) return 10;
    TRVScreenAndDevice screen;
    const int32_t w = ed->CalcMinDocWidth(&screen, canvas);
    return w == 0 ? 10 : w;
  }
  if (cell->ItemCount() == 0) return 0;
  TRVStyle* style = cell->GetRVStyle();
  if (cell->ItemCount() == 1 && cell->GetItem(0)->StyleNo >= 0 && cell->GetItemTextRaw(0).empty()) {
    if (!style) return 0;
    TCustomRVParaInfo* p = style->ParaStyles()->Items(cell->GetItem(0)->ParaNo);
    return DeviceX(p->LeftIndent + p->RightIndent + p->FirstIndent);
  }
  if (!style || !canvas) return 10;
  TRVScreenAndDevice screen;
  const int32_t w = cell->View()->CalcMinDocWidth(PrintScale ? PrintScale : &screen, canvas);
  return w == 0 ? 10 : w;
}

bool TRVTableItemInfo::AllColumnsHaveFixedWidth() const {
  const int32_t rows = RowCount(), cols = ColCount();
  for (int32_t c = 0; c < cols; ++c) {
    bool stored = false;
    for (int32_t r = 0; r < rows && !stored; ++r) stored = GetCells(r, c) != nullptr;
    if (!stored) return false;
  }
  for (int32_t c = 0; c < cols; ++c) {
    bool satisfied = false;
    for (int32_t r = 0; r < rows; ++r) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* cell = GetMainCell(r, c, mr, mc);
      if (!cell) continue;
      if (cell->BestWidth < 0) return false;
      if (mc + cell->ColSpan - 1 == c && cell->BestWidth > 0) satisfied = true;
    }
    if (!satisfied) return false;
  }
  return true;
}

// Widens the columns under the merged cell at (row, col) so that they offer need content pixels.
// Minimum mode equalises (the narrowest columns grow first) and adds the increases to sum;
// assignment mode hands out proportionally from the pool, to the columns of the lowest kind that
// has any.
void TRVTableItemInfo::WidenColumns(std::vector<int32_t>& mins, int32_t row, int32_t col, int32_t need, int32_t depth,
                                    bool assignment, int32_t kind_limit, const std::vector<int32_t>& kinds,
                                    int32_t& sum, int32_t& pool, bool all_fixed) {
  if (need == 0) return;
  TRVTableCellData* cell = GetCells(row, col);
  const int32_t span = cell->ColSpan;
  const int32_t pad = DeviceX(2 * CellPadding);
  const int32_t gx = DeviceX(2 * CellPadding + CellHSpacing + 2 * CellBorderWidth);
  const int32_t target = need + pad;
  const bool proportional = assignment || depth > 30;
  std::vector<int32_t> part;
  if (!assignment) {
    for (int32_t k = col; k < col + span; ++k) part.push_back(k);
  } else {
    for (int32_t level = 0; level <= kind_limit && part.empty(); ++level)
      for (int32_t k = col; k < col + span; ++k)
        if (kinds[static_cast<size_t>(k)] <= level) part.push_back(k);
  }
  int32_t have = DeviceX(-CellHSpacing - 2 * CellBorderWidth);
  for (int32_t k = col; k < col + span; ++k) have += gx + mins[static_cast<size_t>(k)];
  int32_t denominator = 0;
  for (int32_t k : part) {
    const int32_t w = mins[static_cast<size_t>(k)] + pad;
    denominator += (proportional && w == 0) ? 1 : w;
  }
  if (have >= target || part.empty()) return;
  int32_t extra = target - have;
  if (assignment && !all_fixed) {
    extra = std::min(extra, pool);
    pool -= extra;
  }
  if (proportional) {
    int32_t goal = denominator + extra;
    for (int32_t k : part) {
      int32_t& m = mins[static_cast<size_t>(k)];
      int32_t w = m + pad;
      if (w == 0) w = 1;
      const int32_t nw = MulDiv(w, goal, denominator);
      m = nw - pad;
      if (!assignment) sum += nw - w;
      goal -= nw;
      denominator -= w;
    }
    return;
  }
  int32_t goal = denominator + extra;
  int32_t n = static_cast<int32_t>(part.size());
  std::vector<bool> kept(part.size(), false);
  for (size_t i = 0; i < part.size() && n > 0 && goal > 0; ++i) {
    const int32_t w = mins[static_cast<size_t>(part[i])] + pad;
    if (w >= RoundDiv(goal, n)) {
      kept[i] = true;
      --n;
      goal -= w;
    }
  }
  for (size_t i = 0; i < part.size() && n > 0 && goal > 0; ++i) {
    if (kept[i]) continue;
    int32_t& m = mins[static_cast<size_t>(part[i])];
    const int32_t avg = RoundDiv(goal, n);
    if (m + pad < avg) {
      sum += avg - pad - m;
      m = avg - pad;
      --n;
      goal -= avg;
    }
  }
  WidenColumns(mins, row, col, need, depth + 1, assignment, kind_limit, kinds, sum, pool, all_fixed);
}

int32_t TRVTableItemInfo::GetMinWidth(const TRVScreenAndDevice* sad, TCanvas* canvas, TCustomRVData*) {
  const TRVScreenAndDevice* saved = PrintScale;
  // Only a printing device scales; the screen's own record leaves sizes as they are.
  PrintScale = (sad && (sad->ppixDevice != sad->ppixScreen || sad->ppiyDevice != sad->ppiyScreen)) ? sad : saved;
  struct Restore {
    TRVTableItemInfo* t;
    const TRVScreenAndDevice* s;
    ~Restore() { t->PrintScale = s; }
  } restore{this, saved};
  if (grid_->IsEmpty()) return DeviceX(2 * (BorderWidth + BorderHSpacing));
  const int32_t cols = ColCount();
  const bool ignore = Options.Contains(rvtoIgnoreContentWidth);
  std::vector<int32_t> mins(static_cast<size_t>(cols), 0);
  int32_t sum = 0;
  for (int32_t c = 0; c < cols; ++c) {
    int32_t m = 0;
    if (!ignore)
      for (int32_t r = 0; r < RowCount(); ++r)
        if (TRVTableCellData* cell = GetCells(r, c); cell && cell->ColSpan == 1)
          m = std::max(m, CellMinWidth(cell, canvas));
    if (BestWidth == 0) m = std::max(m, DeviceX(grid_->ColBestWidth(c)));
    mins[static_cast<size_t>(c)] = m;
    sum += m;
  }
  std::vector<int32_t> kinds(static_cast<size_t>(cols), 0);
  int32_t pool = 0;
  for (int32_t r = 0; r < RowCount(); ++r)
    for (int32_t c = 0; c < cols; ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell || cell->ColSpan <= 1) continue;
      int32_t need = ignore ? 0 : CellMinWidth(cell, canvas);
      if (BestWidth == 0) need = std::max(need, DeviceX(cell->BestWidth));
      WidenColumns(mins, r, c, need, 0, false, 0, kinds, sum, pool, false);
    }
  int32_t result = DeviceX(2 * cols * CellPadding) + ExtraHorzSpace() + sum;
  if (result < DeviceX(BestWidth)) result = DeviceX(BestWidth);
  return result;
}

void TRVTableItemInfo::AdjustToDocWidth(int32_t doc_width, TRVDrawLineInfo* dli, bool, TCanvas* canvas,
                                        TCustomRVData* rvdata, const TRVScreenAndDevice*, int32_t& dx, int32_t& descent,
                                        bool force, bool reformat_editor) {
  dx = 0;
  descent = 0;
  if (!canvas)
    if (auto* f = dynamic_cast<TCustomRVFormattedData*>(rvdata)) canvas = f->GetCanvas();
  if (auto* info = dynamic_cast<TRVTablePrintInfo*>(dli)) {
    PrintScale = &info->SAD;
    try {
      LayoutColumnsAndRows(doc_width, info->PrintLayout, canvas, false, false);
    } catch (...) {
      PrintScale = nullptr;
      throw;
    }
    PrintScale = nullptr;
    info->Width = info->PrintLayout.TableWidth;
    info->Height = info->PrintLayout.TableHeight;
    return;
  }
  if (TableState & 4) {
    TableState &= static_cast<uint16_t>(~4u);
    Layout.TableWidth = 0;
  }
  LayoutColumnsAndRows(doc_width, Layout, canvas, force, reformat_editor);
}

void TRVTableItemInfo::LayoutColumnsAndRows(int32_t avail_width, TRVTableItemFormattingInfo& layout, TCanvas* canvas,
                                            bool force, bool) {
  const bool printing = PrintScale != nullptr;
  const int32_t P = CellPadding, CB = CellBorderWidth, B = BorderWidth;
  if (grid_->IsEmpty()) {
    layout.Clear();
    layout.TableWidth = DeviceX(2 * (B + BorderHSpacing));
    layout.TableHeight = DeviceY(2 * (B + BorderVSpacing));
    return;
  }
  const int32_t rows = RowCount(), cols = ColCount();
  const bool ignore_width = Options.Contains(rvtoIgnoreContentWidth);
  const bool ignore_height = Options.Contains(rvtoIgnoreContentHeight);
  const int32_t pad = DeviceX(2 * P);
  // 2. The table's width.
  bool all_fixed = false;
  int32_t d = 0;
  if (BestWidth >= 1) {
    d = DeviceX(BestWidth);
  } else if (BestWidth < 0) {
    d = static_cast<int32_t>(static_cast<int64_t>(avail_width) * -BestWidth / 100);
  } else {
    all_fixed = AllColumnsHaveFixedWidth();
    if (!all_fixed) d = std::max(GetMinWidth(PrintScale, canvas, nullptr), avail_width);
  }
  // 3. The unchanged-width shortcut.
  if (d != 0 && d == layout.TableWidth && !force && static_cast<int32_t>(layout.ColumnWidths.size()) == cols &&
      static_cast<int32_t>(layout.RowTops.size()) == rows)
    return;
  // 4.
  layout.TableWidth = d;
  const int32_t e = ExtraHorzSpace();
  int32_t inner = 0, inner_content = 0, pool = 0;
  if (!all_fixed) {
    inner = d - e;
    inner_content = inner - DeviceX(2 * cols * P);
  }
  // 5. Minimum pass.
  layout.Clear();
  std::vector<int32_t> mins(static_cast<size_t>(cols), 0);
  std::vector<int32_t> kinds(static_cast<size_t>(cols), 0);
  int32_t min_sum = 0;
  for (int32_t c = 0; c < cols; ++c) {
    int32_t m = 0;
    if (!ignore_width)
      for (int32_t r = 0; r < rows; ++r)
        if (TRVTableCellData* cell = GetCells(r, c); cell && cell->ColSpan == 1)
          m = std::max(m, CellMinWidth(cell, canvas));
    mins[static_cast<size_t>(c)] = m;
    min_sum += m;
  }
  auto for_merged = [&](auto&& proc) {
    for (int32_t r = 0; r < rows; ++r)
      for (int32_t c = 0; c < cols; ++c)
        if (TRVTableCellData* cell = GetCells(r, c); cell && cell->ColSpan > 1) proc(r, c, cell);
  };
  if (!ignore_width)
    for_merged([&](int32_t r, int32_t c, TRVTableCellData* cell) {
      WidenColumns(mins, r, c, CellMinWidth(cell, canvas), 0, false, 0, kinds, min_sum, pool, all_fixed);
    });
  // 6. Distribution.
  if (all_fixed || min_sum < inner_content) {
    int32_t assigned = 0, fixed = 0;
    int32_t dummy_sum = 0;
    if (!all_fixed) {
      // 6.1 Percentage columns.
      pool = inner_content - min_sum;
      std::vector<int32_t> want(static_cast<size_t>(cols), 0);
      int32_t want_sum = 0, min_of_wanting = 0;
      for (int32_t c = 0; c < cols; ++c) {
        const size_t k = static_cast<size_t>(c);
        want[k] = std::max(0, grid_->ColPercentWidth(c, inner) - pad);
        if (mins[k] < want[k]) {
          want_sum += want[k];
          min_of_wanting += mins[k];
          pool += mins[k];
        }
      }
      if (want_sum != 0) {
        int32_t denominator = std::max(want_sum, pool);
        for (int32_t c = 0; c < cols; ++c) {
          const size_t k = static_cast<size_t>(c);
          if (want[k] <= 0) continue;
          if (mins[k] >= want[k]) {
            kinds[k] = 2;
            ++assigned;
            continue;
          }
          min_of_wanting -= mins[k];
          int32_t share = MulDiv(want[k], pool, denominator);
          denominator -= want[k];
          if (share > 0) {
            kinds[k] = 2;
            ++assigned;
          }
          share = std::min(share, pool - min_of_wanting);
          mins[k] = std::max(mins[k], share);
          pool -= mins[k];
          if (pool == 0 && min_of_wanting == 0) break;
        }
      }
      // 6.2 Percentage merged cells.
      for_merged([&](int32_t r, int32_t c, TRVTableCellData* cell) {
        if (pool <= 0 || cell->BestWidth >= 0) return;
        WidenColumns(mins, r, c, MulDiv(-cell->BestWidth, inner, 100) - pad, 0, true, 2, kinds, dummy_sum, pool,
                     all_fixed);
        for (int32_t k = c; k < c + cell->ColSpan; ++k)
          if (kinds[static_cast<size_t>(k)] == 0) {
            kinds[static_cast<size_t>(k)] = 2;
            ++assigned;
          }
      });
    }
    if (all_fixed) {
      // 6.3
      for (int32_t c = 0; c < cols; ++c) {
        const size_t k = static_cast<size_t>(c);
        if (kinds[k] != 0) continue;
        const int32_t f = DeviceX(grid_->ColBestWidth(c));
        if (f > 0) {
          kinds[k] = 1;
          ++assigned;
          ++fixed;
        }
        mins[k] = std::max(mins[k], f);
      }
    } else if (pool > 0) {
      // 6.4
      std::vector<int32_t> want(static_cast<size_t>(cols), 0);
      int32_t want_sum = 0;
      for (int32_t c = 0; c < cols; ++c) {
        const size_t k = static_cast<size_t>(c);
        if (kinds[k] != 0) continue;
        const int32_t f = DeviceX(grid_->ColBestWidth(c));
        if (f > 0) {
          kinds[k] = 1;
          ++assigned;
          ++fixed;
        }
        if (mins[k] < f) {
          want[k] = f;
          want_sum += f;
          pool += mins[k];
        }
      }
      int32_t given = std::min(pool, want_sum), denominator = want_sum;
      if (denominator > 0)
        for (int32_t c = 0; c < cols; ++c) {
          const size_t k = static_cast<size_t>(c);
          if (kinds[k] != 1 || want[k] <= 0) continue;
          int32_t share = MulDiv(want[k], given, denominator);
          share = std::min(share, pool);
          share = std::max(share, mins[k]);
          pool -= share;
          mins[k] = share;
          denominator -= want[k];
          given -= share;
        }
    }
    // 6.5 Fixed merged cells.
    for_merged([&](int32_t r, int32_t c, TRVTableCellData* cell) {
      if (!(all_fixed || pool > 0) || cell->BestWidth <= 0) return;
      WidenColumns(mins, r, c, DeviceX(cell->BestWidth), 0, true, 1, kinds, dummy_sum, pool, all_fixed);
      for (int32_t k = c; k < c + cell->ColSpan; ++k)
        if (kinds[static_cast<size_t>(k)] == 0) {
          kinds[static_cast<size_t>(k)] = 1;
          ++assigned;
          ++fixed;
        }
    });
    // 6.6 The rest.
    if (all_fixed) {
      int32_t s = 0;
      for (int32_t m : mins) s += m;
      layout.TableWidth = e + DeviceX(2 * cols * P) + s;
    } else if (pool > 0) {
      if (assigned < cols) {
        for (int32_t c = 0; c < cols && pool >= 1; ++c) {
          const size_t k = static_cast<size_t>(c);
          if (kinds[k] != 0) continue;
          const int32_t add = pool / (cols - assigned);
          mins[k] += add;
          pool -= add;
          ++assigned;
        }
      } else {
        std::vector<int32_t> weight(static_cast<size_t>(cols), 0);
        int32_t total = 0;
        for (int32_t c = 0; c < cols; ++c) {
          const size_t k = static_cast<size_t>(c);
          if (fixed == 0)
            weight[k] = kinds[k] == 2 ? std::max(1, grid_->ColPercentWidth(c, inner) - pad) : 0;
          else
            weight[k] = kinds[k] == 2 ? 0 : std::max(1, grid_->ColBestWidth(c));
          total += weight[k];
        }
        for (int32_t c = 0; c < cols && pool >= 1 && total > 0; ++c) {
          const size_t k = static_cast<size_t>(c);
          if (weight[k] <= 0) continue;
          int32_t add = MulDiv(pool, weight[k], total);
          if (fixed == 0) add = std::min(add, pool);
          mins[k] += add;
          pool -= add;
          total -= weight[k];
        }
      }
    }
  } else {
    layout.TableWidth = layout.TableWidth - inner_content + min_sum;
  }
  layout.ColumnWidths = mins;

  // 7. Columns placed, cells sized and formatted.
  const int32_t t0x = DeviceX(cols * (2 * (P + CB) + CellHSpacing));
  {
    int32_t t = t0x, left = DeviceX(B + BorderHSpacing + CB);
    for (int32_t c = 0; c < cols; ++c) {
      layout.ColumnLefts.push_back(left);
      const int32_t share = t / (cols - c);
      left += mins[static_cast<size_t>(c)] + share;
      t -= share;
    }
  }
  auto print_cell = [&](int32_t r, int32_t c) -> TCellPtblRVData* {
    if (!layout.HasPrintCells) return nullptr;
    const size_t i = static_cast<size_t>(r) * static_cast<size_t>(cols) + static_cast<size_t>(c);
    return i < layout.PrintCells.size() ? layout.PrintCells[i].get() : nullptr;
  };
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell) continue;
      int32_t w = mins[static_cast<size_t>(c)] + pad;
      for (int32_t k = c + 1; k < c + cell->ColSpan; ++k) w += mins[static_cast<size_t>(k)];
      w += MulDiv(t0x, cell->ColSpan - 1, cols);
      const int32_t left = layout.ColumnLefts[static_cast<size_t>(c)];
      if (TCellPtblRVData* pd = print_cell(r, c)) {
        pd->Left = left + DeviceX(P);
        pd->Width = w - 2 * DeviceX(P);
        pd->FormatTo(canvas, pd->Width);
      } else if (!printing) {
        cell->Left = left;
        cell->Width = w;
        if (canvas && cell->GetRVStyle()) cell->View()->FormatTo(canvas, w - pad);
        // The editor is formatted at the cell's new width before the rows are measured, its
        // caret kept where it was.
        if (TRVTableInplaceEdit* ed = CellEditor; ed && ed->Cell == cell && ed->width() != w) {
          ed->resize(w, ed->height());
          ed->Reformat();
        }
      }
    }

  // 8. Row heights.
  auto content_height = [&](TRVTableCellData* cell) {
    int32_t h = 0;
    if (cell->BestHeight == 0 || !ignore_height) {
      if (TCustomRVFormattedData* ed = EditedCellDocument(cell))
        h = std::max(0, ed->DocumentHeight - ed->GetTopMargin() - ed->GetBottomMargin());
      else
        h = cell->View()->DocumentHeight;
    }
    return std::max(h, cell->BestHeight);
  };
  layout.TableHeight = DeviceY(2 * (rows * P + B + BorderVSpacing) + (rows - 1) * CellVSpacing + 2 * rows * CB);
  for (int32_t r = 0; r < rows; ++r) {
    const TRVTableRow* line = grid_->GetItem(r);
    int32_t h = 0;
    if (!printing) {
      for (int32_t c = 0; c < cols; ++c)
        if (TRVTableCellData* cell = line->Items(c); cell && cell->RowSpan <= 1) h = std::max(h, content_height(cell));
      if (h == 0) h = 10;
      h = DeviceY(h);
    } else {
      h = DeviceY(line->MaxBestHeight());
      if (!(h != 0 && ignore_height)) {
        for (int32_t c = 0; c < cols; ++c) {
          TRVTableCellData* cell = line->Items(c);
          if (!cell || cell->RowSpan != 1 || (ignore_height && cell->BestHeight != 0)) continue;
          if (TCellPtblRVData* pd = print_cell(r, c)) {
            h = std::max(h, pd->DocumentHeight);
            continue;
          }
          // An empty cell is one blank line of its text style high.
          int32_t ch = DeviceY(cell->View()->DocumentHeight);
          TRVStyle* style = cell->GetRVStyle();
          if (ch == 0 && cell->ItemCount() > 0 && cell->GetItem(0)->StyleNo >= 0 && style && canvas) {
            TCustomRVItemInfo* first = cell->GetItem(0);
            style->ApplyStyle(*canvas, first->GetActualStyleNo(style), rvbdUnspecified, true);
            TCustomRVParaInfo* para = style->ParaStyles()->Items(first->ParaNo);
            ch = canvas->TextHeight(" ") + DeviceY(para->SpaceBefore + para->SpaceAfter);
          }
          h = std::max(h, ch);
        }
      }
      if (h == 0) h = 10;
    }
    layout.RowContentHeights.push_back(h);
    layout.TableHeight += h;
  }
  // 9. Merged rows.
  const int32_t gy = DeviceY(2 * P + CellVSpacing + 2 * CB);
  for (int32_t r = 0; r < rows; ++r)
    for (int32_t c = 0; c < cols; ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell || cell->RowSpan <= 1) continue;
      const int32_t n = cell->RowSpan;
      int32_t need = 0;
      if (!printing) {
        need = DeviceY(content_height(cell) + 2 * P);
      } else {
        int32_t h = DeviceY(cell->BestHeight);
        if (!(h != 0 && ignore_height))
          if (TCellPtblRVData* pd = print_cell(r, c)) h = std::max(h, pd->DocumentHeight);
        need = h + DeviceY(2 * P);
      }
      int32_t have = DeviceY(-CellVSpacing - 2 * CB);
      int32_t free_sum = 0, all_sum = 0;
      std::vector<bool> free(static_cast<size_t>(n), false);
      for (int32_t k = r; k < r + n; ++k) {
        const int32_t h = layout.RowContentHeights[static_cast<size_t>(k)];
        have += gy + h;
        all_sum += h;
        if (k > r && !grid_->GetItem(k)->SpanEndsInside(k, r, n)) {
          free[static_cast<size_t>(k - r)] = true;
          free_sum += h;
        }
      }
      if (have >= need) continue;
      int32_t extra = need - have;
      layout.TableHeight += extra;
      const bool use_free = free_sum > 0;
      int32_t denominator = use_free ? free_sum : all_sum;
      for (int32_t k = r; k < r + n && denominator > 0; ++k) {
        if (use_free && !free[static_cast<size_t>(k - r)]) continue;
        int32_t& h = layout.RowContentHeights[static_cast<size_t>(k)];
        const int32_t old = h;
        const int32_t add = MulDiv(h, extra, denominator);
        h += add;
        extra -= add;
        denominator -= old;
      }
    }
  // 10. Rows placed.
  const int32_t t0y = DeviceY(rows * (2 * (P + CB) + CellVSpacing));
  int32_t t = t0y, top = DeviceY(B + BorderVSpacing + CB);
  for (int32_t r = 0; r < rows; ++r) {
    layout.RowTops.push_back(top);
    for (int32_t c = 0; c < cols; ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell) continue;
      int32_t h = layout.RowContentHeights[static_cast<size_t>(r)] + DeviceY(2 * P);
      for (int32_t k = r + 1; k < r + cell->RowSpan; ++k) h += layout.RowContentHeights[static_cast<size_t>(k)];
      h += MulDiv(t0y, cell->RowSpan - 1, rows);
      if (TCellPtblRVData* pd = print_cell(r, c)) {
        pd->Top = top + DeviceY(P);
        pd->Height = h - 2 * DeviceY(P);
      } else if (!printing) {
        cell->Top = top;
        cell->Height = h;
      }
    }
    const int32_t share = t / (rows - r);
    top += layout.RowContentHeights[static_cast<size_t>(r)] + share;
    t -= share;
  }
}

}  // namespace pelvar
