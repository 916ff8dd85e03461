// Table painting and printing: background, rules, the outer border, every cell's background,
// content and border, grid lines for invisible borders in an editor; the print record of a table,
// printing a part with its heading rows, and where the pages may cut a table (row groups joined by
// vertically merged cells stay together).
#include <algorithm>

#include "richtext/edit/RVERVData.h"
#include "richtext/edit/RVTableLayout.h"

namespace pelvar {

TPenStyle TableGridPenStyleEditing = psDot;
TPenStyle TableGridPenStyleViewing = psClear;
TColor TableGridLineColor = clBtnFace;

namespace {
TRect Intersect(const TRect& a, const TRect& b) {
  return TRect{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
               std::min(a.Bottom, b.Bottom)};
}
bool IsEmptyRect(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

void VLine(TCanvas& canvas, int32_t x, int32_t y1, int32_t y2, const TRect& clip) {
  y1 = std::max(y1, clip.Top - 1);
  y2 = std::min(y2, clip.Bottom + 1);
  if (y2 <= y1) return;
  canvas.MoveTo(x, y1);
  canvas.LineTo(x, y2);
}
void HLine(TCanvas& canvas, int32_t x1, int32_t x2, int32_t y) {
  canvas.MoveTo(x1, y);
  canvas.LineTo(x2, y);
}
}  // namespace

// ---- Colours
// -------------------------------------------------------------------------------------

TColor TRVTableItemInfo::GetCellEffectiveColor(const TRVTableCellData* cell) const {
  if (cell && cell->Color != clNone) return cell->Color;
  if (Color != clNone) return Color;
  auto* f = dynamic_cast<TCustomRVFormattedData*>(host_);
  if (!f) return clNone;
  if (TRVStyle* s = f->GetRVStyle()) {
    const TColor para = s->ParaStyles()->Items(ParaNo)->Background().Color;
    if (para != clNone) return para;
  }
  return f->GetColor();
}

bool TRVTableItemInfo::IsCellEditorTransparent(const TRVTableCellData* cell) const {
  if (cell->Color != clNone || Color != clNone) return false;
  auto* f = dynamic_cast<TCustomRVFormattedData*>(host_);
  if (!f || !f->GetRVStyle()) return true;
  return f->GetRVStyle()->ParaStyles()->Items(ParaNo)->Background().Color == clNone;
}

void TRVTableItemInfo::PaintTableBackgroundForEditor(TCanvas& canvas, const TRVTableCellData* cell,
                                                     const TRect& rect) {
  TColor color = Color;
  auto* f = dynamic_cast<TCustomRVFormattedData*>(host_);
  if (color == clNone && f)
    if (TRVStyle* s = f->GetRVStyle()) color = s->ParaStyles()->Items(ParaNo)->Background().Color;
  const TRect area{0, 0, rect.Right - rect.Left, rect.Bottom - rect.Top};
  if (Background && Background->HasVisibleImage()) {
    // As if the table's top left corner lay left of and above the cell by the cell's place.
    // The editor starts where the cell's content does.
    const int32_t top = cell->Top + CellEditorContentOffset(const_cast<TRVTableCellData*>(cell));
    Background->Draw(canvas, area, true, color, Layout.TableHeight, Layout.TableWidth, -top - rect.Top,
                     -cell->Left - rect.Left, 0, 0);
  } else if (color != clNone) {
    canvas.Brush().SetStyle(bsSolid);
    canvas.Brush().SetColor(color);
    canvas.FillRect(area);
  }
}

// ---- Painting
// --------------------------------------------------------------------------------------

void TRVTableItemInfo::PaintFullWidth(int32_t left, int32_t right, int32_t top, TCanvas& canvas, uint32_t state,
                                      TRVStyle* style, const TRect& clip) {
  PaintTable(left, right, top, 0, RowCount(), canvas, state, style, Layout, false, clip, 0);
}

void TRVTableItemInfo::PaintTable(int32_t x, int32_t, int32_t y, int32_t first_row, int32_t row_count, TCanvas& canvas,
                                  uint32_t state, TRVStyle* style, TRVTableItemFormattingInfo& layout,
                                  bool heading_flag, const TRect& clip, int32_t color_mode) {
  OriginX = x;
  OriginY = y;
  const bool printing = (state & 8) != 0;
  TCustomRVData* root = host_ ? host_->GetRootData() : nullptr;
  // The grid of invisible borders is an editing aid: a read-only editor shows none.
  auto* root_edit = dynamic_cast<TRVEditRVData*>(root);
  const bool editing_look = (TableState & 2) && root_edit != nullptr && !root_edit->IsReadOnly();
  const bool vrules = VRuleWidth != 0 && VRuleColor != clNone;
  const bool hrules = HRuleWidth != 0 && HRuleColor != clNone;
  const int32_t B = BorderWidth, HS = CellHSpacing, VS = CellVSpacing, CB = CellBorderWidth;
  const int32_t cby = DeviceY(CB);
  TColor sel_color = clNone;
  if (style) {
    auto* f = dynamic_cast<TCustomRVFormattedData*>(host_);
    sel_color = (f && f->IsFocused()) ? style->SelColor : style->InactiveSelColor;
  }
  const int32_t rows = RowCount(), cols = ColCount();
  const bool have_grid = !grid_->IsEmpty() && static_cast<int32_t>(layout.RowTops.size()) == rows &&
                         static_cast<int32_t>(layout.ColumnLefts.size()) == cols;
  const auto& tops = layout.RowTops;
  const auto& heights = layout.RowContentHeights;
  auto top_of = [&](int32_t r) { return tops[static_cast<size_t>(r)]; };
  auto height_of = [&](int32_t r) { return heights[static_cast<size_t>(r)]; };
  // 2. Rows and frame.
  int32_t heading = 0, first = 0, last = rows - 1;
  TRect frame{x, y, x + layout.TableWidth, y + layout.TableHeight};
  if (have_grid) {
    if (!printing) {
      const int32_t limit = clip.Top - y - DeviceY(B);
      int32_t lo = 0, hi = rows - 1;
      while (lo <= hi) {
        const int32_t mid = (lo + hi) / 2;
        if (top_of(mid) < limit) {
          first = mid;
          lo = mid + 1;
        } else {
          hi = mid - 1;
        }
      }
    } else {
      heading = heading_flag ? std::min(HeadingRowCount, first_row) : 0;
      first = first_row;
      last = first_row + row_count - 1;
      int32_t h = top_of(0) + layout.TableHeight - top_of(rows - 1) - height_of(rows - 1);
      if (row_count > 0) h += top_of(last) + height_of(last) - top_of(first);
      if (heading > 0) h += top_of(heading - 1) + height_of(heading - 1) - top_of(0);
      if (heading > 0 && row_count > 0) h += top_of(heading) - top_of(heading - 1) - height_of(heading - 1);
      frame.Bottom = y + h;
    }
  }
  // 3. Table background.
  {
    TColor back = clNone;
    if (Color != clNone)
      back = (printing && PrintOptions.Contains(rvtoWhiteBackground)) ? clWhite
                                                                      : RV_BackColorForPrintMode(Color, color_mode);
    const TRect r = Intersect(frame, clip);
    if (Background && Background->HasVisibleImage() && !IsEmptyRect(r)) {
      if (printing)
        Background->Print(canvas, r, back, *PrintScale, frame);
      else
        Background->Draw(canvas, r, true, back, layout.TableHeight, layout.TableWidth, y, x, 0, 0);
    } else if (back != clNone && !IsEmptyRect(r)) {
      canvas.Brush().SetStyle(bsSolid);
      canvas.Brush().SetColor(back);
      canvas.FillRect(r);
    }
  }
  // 4.
  canvas.Pen().Width = 1;
  canvas.Pen().Style = psSolid;
  if (have_grid) {
    // 5. Vertical rules.
    if (vrules) {
      const int32_t width = DeviceX(VRuleWidth);
      const int32_t half_gap = (DeviceX(HS + 2 * CB) + 1) / 2;
      const int32_t inset = (hrules && HOutermostRule) ? DeviceX(B + BorderVSpacing / 2) : 0;
      canvas.Pen().Color = RV_ColorForPrintMode(VRuleColor, color_mode);
      auto rule = [&](int32_t p) {
        for (int32_t i = 0; i < width; ++i)
          VLine(canvas, p - width / 2 + i, frame.Top + inset, frame.Bottom - inset, clip);
      };
      int32_t first_col = 0;
      const int32_t limit = clip.Left - x - DeviceX(B + HS + BorderHSpacing);
      for (int32_t c = 0; c < cols; ++c)
        if (layout.ColumnLefts[static_cast<size_t>(c)] < limit) first_col = c;
      if (VOutermostRule && first_col == 0) rule(x + DeviceX(B + BorderHSpacing / 2));
      for (int32_t k = first_col + 1; k < cols; ++k) {
        const int32_t p = x + layout.ColumnLefts[static_cast<size_t>(k)] - half_gap;
        if (p - width > clip.Right) break;
        rule(p);
      }
      if (VOutermostRule)
        rule(x + layout.TableWidth - DeviceX(B + BorderHSpacing / 2) - (DeviceX(VRuleWidth) % 2 != 0 ? 1 : 0));
    }
    // 6. Horizontal rules.
    if (hrules) {
      const int32_t width = DeviceY(HRuleWidth);
      const int32_t half_gap = (DeviceY(VS + 2 * CB) + 1) / 2;
      const int32_t inset = (vrules && VOutermostRule) ? DeviceX(B + BorderHSpacing / 2) : 0;
      canvas.Pen().Color = RV_ColorForPrintMode(HRuleColor, color_mode);
      auto rule = [&](int32_t p) {
        for (int32_t i = 0; i < width; ++i) HLine(canvas, x + inset, x + layout.TableWidth - inset, p - width / 2 + i);
      };
      if (HOutermostRule && (first < 2 || printing)) rule(y + DeviceY(B + BorderVSpacing / 2));
      for (int32_t k = 1; k < heading; ++k) rule(y + top_of(k) - half_gap);
      const int32_t body_y = printing ? y - (top_of(first) - top_of(heading)) : y;
      for (int32_t k = std::max(first - 1, 0) + 1; k <= last && k < rows; ++k) {
        const int32_t p = body_y + top_of(k) - half_gap;
        if (p - width > clip.Bottom) break;
        rule(p);
      }
      if (HOutermostRule)
        rule(frame.Bottom - DeviceY(B + BorderVSpacing / 2) - 1 + (DeviceY(HRuleWidth) % 2 == 0 ? 1 : 0));
    }
  }
  // 7. Outer border.
  TColor doc_back = clWindow;
  if (auto* f = dynamic_cast<TCustomRVFormattedData*>(host_)) doc_back = f->GetColor();
  PaintBorderFrame(canvas, frame.Left, frame.Top, frame.Right, frame.Bottom, color_mode, -1, -1, VisibleBorders, clip,
                   printing, editing_look, !Options.Contains(rvtoHideGridLines), doc_back, BorderColor,
                   BorderLightColor, B, BorderStyle);
  if (!have_grid) return;
  // 8. Cells reaching into the first drawn row from above.
  if (!printing && first > 0 && first < rows) {
    for (int32_t c = cols - 1; c >= 0;) {
      int32_t mr = 0, mc = 0;
      TRVTableCellData* cell = GetMainCell(first, c, mr, mc);
      if (cell && mr < first)
        PaintCell(cell, mr, mc, height_of(mr), x + layout.ColumnLefts[static_cast<size_t>(mc)], y + top_of(mr), canvas,
                  state, layout, clip, color_mode, printing, editing_look, sel_color, frame.Top);
      c = (cell ? mc : c) - 1;
    }
  }
  auto paint_row = [&](int32_t r, int32_t row_y) {
    for (int32_t c = 0; c < cols; ++c) {
      const int32_t left = x + layout.ColumnLefts[static_cast<size_t>(c)];
      if (left - cby > clip.Right) break;
      if (TRVTableCellData* cell = GetCells(r, c))
        PaintCell(cell, r, c, height_of(r), left, row_y + top_of(r), canvas, state, layout, clip, color_mode, printing,
                  editing_look, sel_color, frame.Top);
    }
  };
  // 9. Heading rows.
  for (int32_t r = 0; r < heading; ++r) {
    if (y + top_of(r) - cby > clip.Bottom) break;
    paint_row(r, y);
  }
  // 10. Body rows.
  const int32_t body_y = printing ? y - (top_of(first) - top_of(heading)) : y;
  TRVStyle* page_style = style ? style : (host_ ? host_->GetRVStyle() : nullptr);
  for (int32_t r = first; r <= last && r < rows; ++r) {
    if (!printing && body_y + top_of(r) - cby > clip.Bottom) break;
    paint_row(r, body_y);
    if (!printing && r > 0 && grid_->GetItem(r)->PageBreakBefore && host_ &&
        host_->GetOptions().Contains(rvoShowPageBreaks) && page_style)
      page_style->DrawPageBreak(canvas, body_y + top_of(r), 0, rvpbPageBreak, nullptr, layout.TableWidth);
  }
  // 11.
  canvas.Pen().Width = 1;
  // The line of a running border drag, at the mouse but not left of the dragged column's left.
  if (!printing && ResizeLineShown) {
    canvas.Pen().Style = psSolid;
    canvas.Pen().Color = clWindowText;
    if (DraggingColumn) {
      int32_t lx = ResizeLineX;
      if (DragMinPos != -1) lx = std::max(lx, DragMinPos);
      canvas.MoveTo(x + lx, y);
      canvas.LineTo(x + lx, y + layout.TableHeight);
    } else {
      int32_t ly = ResizeLineY;
      if (DragMinPos != -1) ly = std::max(ly, DragMinPos);
      canvas.MoveTo(x, y + ly);
      canvas.LineTo(x + layout.TableWidth, y + ly);
    }
  }
}

int32_t TRVTableItemInfo::CellFreeHeight(const TRVTableCellData* cell, int32_t content, int32_t doc) {
  const int32_t f = content - doc;
  switch (cell->EffectiveVAlign()) {
    case rvcBottom:
      return f;
    case rvcMiddle:
      return f / 2;
    default:
      return 0;
  }
}

int32_t TRVTableItemInfo::CellContentTop(TRVTableCellData* cell) {
  return CellPadding + std::max(0, CellFreeHeight(cell, cell->Height - 2 * CellPadding, cell->View()->DocumentHeight));
}

void TRVTableItemInfo::PaintCell(TRVTableCellData* cell, int32_t row, int32_t col, int32_t row_height, int32_t left,
                                 int32_t top, TCanvas& canvas, uint32_t state, TRVTableItemFormattingInfo& layout,
                                 const TRect& clip, int32_t color_mode, bool printing, bool editing_look,
                                 TColor sel_color, int32_t frame_top) {
  const int32_t P = CellPadding, CB = CellBorderWidth;
  const int32_t cols = ColCount();
  TCellPtblRVData* pd = nullptr;
  if (printing && layout.HasPrintCells) {
    const size_t i = static_cast<size_t>(row) * static_cast<size_t>(cols) + static_cast<size_t>(col);
    if (i < layout.PrintCells.size()) pd = layout.PrintCells[i].get();
  }
  // 1. Size.
  int32_t w = cell->Width, h = cell->Height;
  if (printing) {
    if (pd) {
      w = pd->Width + DeviceX(2 * P);
      h = pd->Height + DeviceY(2 * P);
    } else {
      const int32_t gx = DeviceX(2 * P + CellHSpacing + 2 * CB), gy = DeviceY(2 * P + CellVSpacing + 2 * CB);
      h = DeviceY(2 * P) + row_height;
      for (int32_t k = row + 1; k < row + cell->RowSpan; ++k)
        h += gy + layout.RowContentHeights[static_cast<size_t>(k)];
      w = DeviceX(2 * P) + layout.ColumnWidths[static_cast<size_t>(col)];
      for (int32_t k = col + 1; k < col + cell->ColSpan; ++k) w += gx + layout.ColumnWidths[static_cast<size_t>(k)];
    }
  }
  // 2. Background colour.
  const uint32_t old_state = cell->State;
  TColor color = clNone;
  if ((state & 1) || (!printing && IsCellInSelection(row, col))) {
    color = sel_color;
    cell->State |= rvstCompletelySelected;
  }
  const bool painted_selected = (cell->State & rvstCompletelySelected) && color != clNone;
  if (color == clNone) color = cell->Color;
  // 3. Background: the colour, or the cell's picture over it (a selected cell shows the
  // selection colour instead when there is one).
  const bool picture = cell->Background && cell->Background->HasVisibleImage();
  if (color != clNone || picture) {
    if (color != clNone) {
      if (printing && PrintOptions.Contains(rvtoWhiteBackground)) color = clWhite;
      color = RV_BackColorForPrintMode(color, color_mode);
    }
    TRect r{left, top, left + w, top + h};
    if (Options.Contains(rvtoCellBelowBorders)) {
      r.Left -= DeviceX(CB);
      r.Right += DeviceX(CB);
      r.Top -= DeviceY(CB);
      r.Bottom += DeviceY(CB);
    }
    const TRect shown = Intersect(r, clip);
    if (picture && !painted_selected && !IsEmptyRect(shown)) {
      if (printing)
        cell->Background->Print(canvas, shown, color, *PrintScale, r);
      else
        cell->Background->Draw(canvas, shown, true, color, r.Bottom - r.Top, r.Right - r.Left, r.Top, r.Left, 0, 0);
    } else if (color != clNone) {
      canvas.Brush().SetStyle(bsSolid);
      canvas.Brush().SetColor(color);
      canvas.FillRect(shown);
    }
  }
  // 4, 5. Content, clipped to the cell.
  const TRect cell_rect{left, top, left + w, top + h};
  const TRect inner = Intersect(cell_rect, clip);
  auto free_height = [&](int32_t content, int32_t doc) { return CellFreeHeight(cell, content, doc); };
  if (!IsEmptyRect(inner)) {
    const TRect saved = canvas.ClipRect();
    canvas.IntersectClipRect(inner);
    try {
      if (!printing) {
        TRVTableCellView* view = cell->View();
        view->PaintAt(canvas, left + P, top + CellContentTop(cell), inner);
      } else if (pd) {
        pd->DY = std::max(0, free_height(pd->Height, pd->DocumentHeight));
        PrintingCell = cell;
        PrintingCellRect =
            TRect{RV_XToScreen(left - OriginX, *PrintScale), RV_YToScreen(top - frame_top, *PrintScale),
                  RV_XToScreen(left + w - OriginX, *PrintScale), RV_YToScreen(top + h - frame_top, *PrintScale)};
        pd->PaintAt(canvas, left + DeviceX(P), top + DeviceY(P) + pd->DY, inner);
        PrintingCell = nullptr;
      }
    } catch (...) {
      PrintingCell = nullptr;
      canvas.ResetClip();
      canvas.IntersectClipRect(saved);
      throw;
    }
    canvas.ResetClip();
    canvas.IntersectClipRect(saved);
  }
  // 6. Border.
  const int32_t cby = DeviceY(CB);
  PaintBorderFrame(canvas, left - cby, top - cby, left + w + cby, top + h + cby, color_mode, row, col,
                   cell->VisibleBorders, clip, printing, editing_look, !Options.Contains(rvtoHideGridLines), Color,
                   cell->BorderColor != clNone ? cell->BorderColor : CellBorderColor,
                   cell->BorderLightColor != clNone ? cell->BorderLightColor : CellBorderLightColor, CB,
                   CellBorderStyle);
  // 7.
  if (!(old_state & rvstCompletelySelected)) cell->State &= ~rvstCompletelySelected;
}

void TRVTableItemInfo::PaintBorderFrame(TCanvas& canvas, int32_t left, int32_t top, int32_t right, int32_t bottom,
                                        int32_t color_mode, int32_t row, int32_t col, const bool* visible,
                                        const TRect& clip, bool printing, bool editing_look, bool grid_lines,
                                        TColor background_color, TColor color, TColor light_color, int32_t width,
                                        TRVTableBorderStyle style) {
  // 1.
  if (right < clip.Left || clip.Right < left || bottom < clip.Top || clip.Bottom < top) return;
  // 2.
  if (OnDrawBorder) {
    bool do_default = true;
    OnDrawBorder(this, canvas, left, top, right, bottom, width, light_color, color, background_color, style, printing,
                 visible, row, col, do_default);
    if (!do_default) return;
  }
  // 3.
  const TPenStyle grid_style = editing_look ? TableGridPenStyleEditing : TableGridPenStyleViewing;
  const bool draw_grid = grid_lines && !printing && grid_style != psClear;
  auto grid_pen = [&] {
    canvas.Pen().Width = 1;
    canvas.Pen().Style = grid_style;
    canvas.Pen().Color = TableGridLineColor;
    canvas.Brush().SetStyle(bsClear);
  };
  auto solid = [&] {
    canvas.Pen().Mode = pmCopy;
    canvas.Pen().Style = psSolid;
  };
  const bool all_visible = !visible || (visible[0] && visible[1] && visible[2] && visible[3]);
  // 4.
  if (width == 0) {
    if (draw_grid) {
      grid_pen();
      canvas.Rectangle(left, top, right, bottom);
      solid();
    }
    return;
  }
  // 5. Grid lines along invisible sides.
  if (draw_grid && !all_visible) {
    grid_pen();
    auto neighbour_shows = [&](int side) {
      // side: 0 left, 1 top, 2 right, 3 bottom; only for cells with negative spacing.
      if (row < 0) return false;
      const int32_t spacing = (side == 1 || side == 3) ? CellVSpacing : CellHSpacing;
      if (spacing >= 0) return false;
      TRVTableCellData* cell = GetCells(row, col);
      int32_t r = row, c = col;
      switch (side) {
        case 0:
          c = col - 1;
          break;
        case 1:
          r = row - 1;
          break;
        case 2:
          c = col + (cell ? cell->ColSpan : 1);
          break;
        default:
          r = row + (cell ? cell->RowSpan : 1);
          break;
      }
      if (r < 0 || c < 0 || r >= RowCount() || c >= ColCount()) return false;
      int32_t mr = 0, mc = 0;
      TRVTableCellData* other = GetMainCell(r, c, mr, mc);
      return other && other->VisibleBorders[(side + 2) % 4];
    };
    if (!visible[1] && !neighbour_shows(1)) HLine(canvas, left, right, top);
    if (!visible[3] && !neighbour_shows(3)) HLine(canvas, left, right, bottom);
    if (!visible[0] && !neighbour_shows(0)) VLine(canvas, left, top, bottom, clip);
    if (!visible[2] && !neighbour_shows(2)) VLine(canvas, right, top, bottom, clip);
    solid();
    canvas.Brush().SetStyle(bsClear);
  }
  const bool finer = printing && PrintScale && PrintScale->ppiyDevice > PrintScale->ppiyScreen;
  const bool halftone = printing && PrintOptions.Contains(rvtoHalftoneBorders);
  if (style != rvtbColor) {
    // 6. 3D styles.
    --right;
    --bottom;
    int32_t n = DeviceY(width);
    const bool same_as_highlight = ColorToRGB(background_color) == ColorToRGB(clBtnHighlight);
    TColor tl = clNone, br = clNone;
    switch (style) {
      case rvtbRaised:
        tl = same_as_highlight ? clBtnFace : clBtnHighlight;
        br = clBtnShadow;
        break;
      case rvtbLowered:
        tl = clBtnShadow;
        br = same_as_highlight ? clBtnFace : clBtnHighlight;
        break;
      case rvtbRaisedColor:
        tl = light_color;
        br = color;
        break;
      default:
        tl = color;
        br = light_color;
        break;
    }
    tl = RV_ColorForPrintMode(tl, color_mode);
    br = RV_ColorForPrintMode(br, color_mode);
    int32_t extra = 1;
    if (halftone) {
      canvas.Pen().Width = finer ? n + 1 : n;
      if (finer) {
        --left;
        --top;
      }
      canvas.Pen().Style = psInsideFrame;
      n /= 2;
      left += n;
      top += n;
      right -= n;
      bottom -= n;
      extra = 0;
    } else {
      canvas.Pen().Width = 1;
      canvas.Pen().Style = psSolid;
    }
    const bool show_t = !visible || visible[1], show_l = !visible || visible[0];
    const bool show_b = !visible || visible[3], show_r = !visible || visible[2];
    canvas.Pen().Color = tl;
    int32_t l = left, t = top, r = right, b = bottom;
    for (int32_t i = 0; i < n; ++i) {
      if (show_t) HLine(canvas, l, r + extra, t);
      if (show_l) VLine(canvas, l, t, b + extra, clip);
      ++l, ++t, --r, --b;
    }
    canvas.Pen().Color = br;
    l = left, t = top, r = right, b = bottom;
    for (int32_t i = 0; i < n; ++i) {
      if (show_b) HLine(canvas, l, r + extra, b);
      if (show_r) VLine(canvas, r, t, b + extra, clip);
      ++l, ++t, --r, --b;
    }
    canvas.Pen().Style = psSolid;
    canvas.Pen().Width = 1;
    return;
  }
  // 7. Colour style.
  if (color == clNone) return;
  canvas.Pen().Color = RV_ColorForPrintMode(color, color_mode);
  if (all_visible) {
    canvas.Pen().Style = psInsideFrame;
    canvas.Pen().Width = DeviceY(width) + (finer ? 1 : 0);
    if (finer) {
      --left;
      --top;
    }
    canvas.Brush().SetStyle(bsClear);
    canvas.Rectangle(left, top, right, bottom);
    canvas.Pen().Width = 1;
    canvas.Pen().Style = psSolid;
    return;
  }
  int32_t n = DeviceY(width) + (finer ? 1 : 0);
  if (finer) {
    --left;
    --top;
  }
  if (halftone) {
    canvas.Pen().Width = n;
    canvas.Pen().Style = psInsideFrame;
    n /= 2;
    left += n;
    top += n;
    right -= n;
    bottom -= n;
  } else {
    canvas.Pen().Width = 1;
    canvas.Pen().Style = psSolid;
  }
  --right;
  --bottom;
  if (Options.Contains(rvtoOverlappingCorners)) {
    for (int32_t i = 0; i < n; ++i) {
      if (visible[0]) VLine(canvas, left + i, top, bottom + 1, clip);
      if (visible[2]) VLine(canvas, right - i, top, bottom + 1, clip);
      if (visible[1]) HLine(canvas, left, right + 1, top + i);
      if (visible[3]) HLine(canvas, left, right + 1, bottom - i);
    }
  } else {
    int32_t l = left, t = top, r = right, b = bottom;
    for (int32_t i = 0; i < n; ++i) {
      if (visible[0]) VLine(canvas, l, t, b + 1, clip);
      if (visible[2]) VLine(canvas, r, t, b + 1, clip);
      if (visible[1]) HLine(canvas, l, r + 1, t);
      if (visible[3]) HLine(canvas, l, r + 1, b);
      ++l, ++t, --r, --b;
    }
  }
  canvas.Pen().Style = psSolid;
  canvas.Pen().Width = 1;
}

// ---- Printing
// --------------------------------------------------------------------------------------

std::unique_ptr<TRVTablePrintInfo> TRVTableItemInfo::CreatePrintingDrawItem(TCanvas*, const TRVScreenAndDevice& sad) {
  auto info = std::make_unique<TRVTablePrintInfo>(this, sad);
  for (int32_t r = 0; r < RowCount(); ++r)
    for (int32_t c = 0; c < ColCount(); ++c) {
      TRVTableCellData* cell = GetCells(r, c);
      if (!cell || (cell->RowSpan == 1 && cell->ColSpan == 1 && !cell->HasContent(true))) {
        info->PrintLayout.PrintCells.push_back(nullptr);
        continue;
      }
      auto pd = std::make_unique<TCellPtblRVData>(cell);
      pd->SAD = sad;
      pd->BackgroundColor = GetCellEffectiveColor(cell);
      pd->DrawBackgroundFlag = true;
      pd->Transparent = cell->Color == clNone;
      info->PrintLayout.PrintCells.push_back(std::move(pd));
    }
  return info;
}

void TRVTableItemInfo::Print(TCanvas& canvas, int32_t x, int32_t y, bool preview, bool correction,
                             TRVTablePrintInfo& info, int32_t part, int32_t color_mode) {
  PrintScale = &info.SAD;
  try {
    int32_t first = 0, count = RowCount();
    bool heading = false;
    if (part >= 0) {
      TRVTablePrintPart* p = info.Part(part);
      first = p->StartRow;
      count = p->RowCount;
      heading = info.RepeatHeadings;
    }
    uint32_t state = 8;
    if (preview) state |= 16;
    if (correction) state |= 32;
    const TRect clip{x, y, x + info.PrintLayout.TableWidth, y + info.PrintLayout.TableHeight};
    PaintTable(x, x + info.PrintLayout.TableWidth, y, first, count, canvas, state, nullptr, info.PrintLayout, heading,
               clip, color_mode);
  } catch (...) {
    PrintScale = nullptr;
    throw;
  }
  PrintScale = nullptr;
}

void TRVTableItemInfo::DrawBackgroundForPrinting(TCanvas& canvas, const TRect& rect, int32_t mode, int32_t color_mode,
                                                 const TRect& table_rect) {
  if (mode == 0) return;
  auto back_color = [&](TColor c) {
    if (c == clNone) return static_cast<TColor>(clNone);
    return PrintOptions.Contains(rvtoWhiteBackground) ? static_cast<TColor>(clWhite)
                                                      : RV_BackColorForPrintMode(c, color_mode);
  };
  const TColor back = back_color(Color);
  const int32_t tw = table_rect.Right - table_rect.Left, th = table_rect.Bottom - table_rect.Top;
  if (Background && Background->HasVisibleImage()) {
    Background->Draw(canvas, rect, true, back, th, tw, table_rect.Top, table_rect.Left, 0, 0);
  } else if (back != clNone) {
    canvas.Brush().SetStyle(bsSolid);
    canvas.Brush().SetColor(back);
    canvas.FillRect(rect);
  }
  if (mode == 2 && PrintingCell) {
    const TColor cell_back = back_color(PrintingCell->Color);
    if (cell_back != clNone) {
      TRect r = PrintingCellRect;
      r.Left += table_rect.Left;
      r.Right += table_rect.Left;
      r.Top += table_rect.Top;
      r.Bottom += table_rect.Top;
      canvas.Brush().SetStyle(bsSolid);
      canvas.Brush().SetColor(cell_back);
      canvas.FillRect(Intersect(r, rect));
    }
  }
}

// ---- Row groups
// ------------------------------------------------------------------------------------

bool TRVTableItemInfo::IsRowGroupEnd(int32_t row) const {
  for (int32_t c = 0; c < ColCount(); ++c) {
    int32_t mr = 0, mc = 0;
    TRVTableCellData* cell = GetMainCell(row, c, mr, mc);
    if (cell && mr + cell->RowSpan - 1 > row) return false;
  }
  return true;
}

int32_t TRVTableItemInfo::RowGroupLastRow(int32_t row) const {
  int32_t last = row;
  for (int32_t r = row; r <= last && r < RowCount(); ++r)
    for (int32_t c = 0; c < ColCount(); ++c) {
      int32_t mr = 0, mc = 0;
      if (TRVTableCellData* cell = GetMainCell(r, c, mr, mc)) last = std::max(last, mr + cell->RowSpan - 1);
    }
  return std::min(last, RowCount() - 1);
}

int32_t TRVTableItemInfo::RowGroupFirstRow(int32_t row) const {
  int32_t first = row;
  for (int32_t r = row; r >= first && r >= 0; --r)
    for (int32_t c = 0; c < ColCount(); ++c) {
      int32_t mr = 0, mc = 0;
      if (GetMainCell(r, c, mr, mc)) first = std::min(first, mr);
    }
  return first;
}

bool TRVTableItemInfo::HeadingRowsPrintable() const {
  const int32_t h = std::min(HeadingRowCount, RowCount());
  if (h <= 0) return false;
  return IsRowGroupEnd(h - 1);
}

bool TRVTableItemInfo::RowsHavePageBreak(int32_t first_row, int32_t last_row) const {
  if (first_row < 0) first_row = HeadingRowCount + 1;
  if (last_row < 0) last_row = RowCount() - 1;
  for (int32_t r = std::max(first_row, 0); r <= last_row && r < RowCount(); ++r)
    if (grid_->GetItem(r)->PageBreakBefore) return true;
  return false;
}

// ---- Print record
// ----------------------------------------------------------------------------------

TRVTablePrintInfo::TRVTablePrintInfo(TRVTableItemInfo* table, const TRVScreenAndDevice& sad)
    : Table(table), RepeatHeadings(table->HeadingRowsPrintable()), SAD(sad) {}

int32_t TRVTablePrintInfo::FirstBodyRow() const {
  const int32_t n = static_cast<int32_t>(PrintLayout.RowTops.size());
  return RepeatHeadings ? std::min(Table->HeadingRowCount, n) : 0;
}

int32_t TRVTablePrintInfo::Overhead() const {
  const auto& s = PrintLayout.RowTops;
  const auto& h = PrintLayout.RowContentHeights;
  const size_t n = s.size();
  const size_t b = static_cast<size_t>(FirstBodyRow());
  const int32_t start_b = b < n ? s[b] : PrintLayout.TableHeight;
  return start_b + PrintLayout.TableHeight - (s[n - 1] + h[n - 1]);
}

bool TRVTablePrintInfo::InitSplit() {
  const int32_t n = static_cast<int32_t>(PrintLayout.RowTops.size());
  if (n == 0) return false;
  if (!Table->PrintOptions.Contains(rvtoRowsSplit) && !Table->RowsHavePageBreak(-1, -1)) return false;
  if (RepeatHeadings && Table->HeadingRowCount >= n) return false;
  auto part = std::make_unique<TRVTablePrintPart>();
  part->StartRow = FirstBodyRow();
  part->RowCount = n - part->StartRow;
  part->Height = PrintLayout.TableHeight;
  PartsList.clear();
  PartsList.push_back(std::move(part));
  return true;
}

bool TRVTablePrintInfo::CanSplitFirst(int32_t y) {
  const int32_t n = static_cast<int32_t>(PrintLayout.RowTops.size());
  const int32_t b = FirstBodyRow();
  if (n == 0 || (RepeatHeadings && b == n)) return false;
  const int32_t m = Table->RowGroupLastRow(b);
  const auto& s = PrintLayout.RowTops;
  const auto& h = PrintLayout.RowContentHeights;
  return s[static_cast<size_t>(m)] + h[static_cast<size_t>(m)] < (y - Overhead()) + s[static_cast<size_t>(b)];
}

bool TRVTablePrintInfo::SplitAt(int32_t y) {
  if (PartsList.empty()) throw EDocViewError("Internal printing error");
  TRVTablePrintPart* p = Part(static_cast<int32_t>(PartsList.size()) - 1);
  if (p->RowCount == 1) return false;
  const int32_t n = static_cast<int32_t>(PrintLayout.RowTops.size());
  const auto& s = PrintLayout.RowTops;
  const auto& h = PrintLayout.RowContentHeights;
  auto at = [](const std::vector<int32_t>& v, int32_t i) { return v[static_cast<size_t>(i)]; };
  auto has_break = [&](int32_t r) { return Table->Rows().GetItem(r)->PageBreakBefore; };
  if (y >= p->Height) {
    bool any = false;
    for (int32_t r = p->StartRow + 1; r < p->StartRow + p->RowCount && !any; ++r) any = has_break(r);
    if (!any) return false;
  }
  const int32_t b = FirstBodyRow();
  if (RepeatHeadings && b == n) return false;
  const int32_t overhead = Overhead();
  const int32_t limit = (y - overhead) + at(s, p->StartRow);
  int32_t i = p->StartRow + 1, j = 1;
  while (j < p->RowCount) {
    if (at(s, i) + at(h, i) >= limit || (has_break(i) && Table->IsRowGroupEnd(i))) break;
    ++i;
    ++j;
  }
  if (j >= p->RowCount) throw EDocViewError("Internal printing error");
  int32_t cut = Table->RowGroupFirstRow(i);
  if (p->StartRow + 1 >= cut) cut = Table->RowGroupLastRow(p->StartRow) + 1;
  const int32_t keep = cut - p->StartRow;
  if (keep > p->RowCount) throw EDocViewError("Internal printing error");
  if (keep == p->RowCount) return false;
  p->RowCount = keep;
  p->Height = overhead + at(s, cut - 1) + at(h, cut - 1) - at(s, p->StartRow);
  auto next = std::make_unique<TRVTablePrintPart>();
  next->StartRow = cut;
  next->RowCount = n - cut;
  next->Height = overhead + at(s, n - 1) + at(h, n - 1) - at(s, cut);
  PartsList.push_back(std::move(next));
  return true;
}

}  // namespace pelvar
