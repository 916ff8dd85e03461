// Painting a formatted document: paragraph backgrounds and borders, text in its draw
// states, non-text items, page-break and checkpoint marks, paragraph marks and word
// painters.
#include <algorithm>
#include <cctype>
#include <climits>

#include "richtext/model/RVUni.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/view/CRVFData.h"
#include "richtext/view/RVBack.h"

namespace pelvar {

struct TCustomRVFormattedData::PaintCtx {
  TCanvas* Canvas;
  TRVStyle* Style;
  int32_t XShift, YShift;
  TRect DocRect;   // the paint rectangle in document coordinates
  TRect ClipRect;  // Rect moved to (0, 0)
  int32_t First, Last;
  int32_t LastStyle = -1;
  bool Focused = false;
  bool Special = false;
  int32_t SD, SO, ED, EO;  // normalised selection in draw-item terms
  bool Complete = false;
  int32_t BandTop = 0, BandBottom = 0;
  bool BandValid = false;
  TRVBiDiMode ItemBiDi = rvbdUnspecified;
  bool Hover = false;
  int32_t StyleNo = 0;
};

void TCustomRVFormattedData::GetItemBackground(int32_t item_no, TRect& rect, bool full, TColor& color,
                                               std::unique_ptr<TRVBitmap>& bitmap, bool& use_bitmap) {
  TRVStyle* style = GetRVStyle();
  color = style->ParaStyles()->Items(GetItem(item_no)->ParaNo)->Background().Color;
  use_bitmap = false;
  if (color != clNone) return;
  color = GetColor();
  TRVBackground* back = GetBackground();
  if (!back || back->Style == bsNoBitmap) return;
  int32_t d = -1;
  GetFirstDrawItemOfItem(item_no, d);
  if (d < 0) return;
  use_bitmap = true;
  if (full) {
    TRVDrawLineInfo* dl = DrawLines[d];
    auto* nt = dynamic_cast<TRVNonTextItemInfo*>(GetItem(item_no));
    const int32_t w = nt ? nt->GetWidth() : dl->Width, h = nt ? nt->GetHeight() : dl->Height;
    rect = TRect{dl->Left, dl->Top, dl->Left + w, dl->Top + h};
  }
  const int32_t w = std::max(rect.Right - rect.Left, 1), h = std::max(rect.Bottom - rect.Top, 1);
  auto argb = [](TColor c) {
    const uint32_t rgb = static_cast<uint32_t>(ColorToRGB(c));
    return 0xFF000000u | ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
  };
  bitmap = std::make_unique<TRVBitmap>(w, h, argb(color));
  // Drawn through a pixel canvas into the bitmap, shifted as the screen shows that place.
  struct TBitmapCanvas : TRVMeasureCanvas {
    TBitmapCanvas(TTextMetrics& m, TPixelImage& img) : TRVMeasureCanvas(m, TSize{img.Width, img.Height}), image(img) {}
    TPixelImage& image;
    void DevStretchPixels(const TRect& dest, const TPixelImage& src, const TRect& sr) override {
      const int32_t dw = dest.Right - dest.Left, dh = dest.Bottom - dest.Top;
      if (dw <= 0 || dh <= 0) return;
      for (int32_t y = std::max(dest.Top, 0); y < std::min(dest.Bottom, image.Height); ++y)
        for (int32_t x = std::max(dest.Left, 0); x < std::min(dest.Right, image.Width); ++x) {
          const int32_t sx = sr.Left + (x - dest.Left) * (sr.Right - sr.Left) / dw;
          const int32_t sy = sr.Top + (y - dest.Top) * (sr.Bottom - sr.Top) / dh;
          image.Set(x, y, src.At(sx, sy));
        }
    }
    void DevFillRect(const TRect& r, TColor rgb, TBrushStyle) override {
      for (int32_t y = std::max(r.Top, 0); y < std::min(r.Bottom, image.Height); ++y)
        for (int32_t x = std::max(r.Left, 0); x < std::min(r.Right, image.Width); ++x)
          image.Set(x, y, 0xFF000000u | ((static_cast<uint32_t>(rgb) & 0xFF) << 16) |
                              (static_cast<uint32_t>(rgb) & 0xFF00) | ((static_cast<uint32_t>(rgb) >> 16) & 0xFF));
    }
  };
  TSyntheticTextMetrics metrics;
  TBitmapCanvas canvas(metrics, bitmap->Image);
  const TRect screen{rect.Left - GetHOffs(), rect.Top - GetVOffs(), rect.Right - GetHOffs(), rect.Bottom - GetVOffs()};
  DrawBackground(canvas, screen);
}

void TCustomRVFormattedData::InvalidateJump(int32_t jump_id) {
  TRVStyle* style = GetRVStyle();
  if (style && style->FullRedraw) {
    InvalidateRectangle(TRect{0, 0, GetAreaWidth(), GetAreaHeight()});
  } else {
    for (const auto& j : Jumps)
      if (j->Id == jump_id)
        InvalidateRectangle(TRect{j->Left - 5 - GetHOffs(), j->Top - 5 - GetVOffs(), j->Left + j->Width + 5 - GetHOffs(),
                                  j->Top + j->Height + 5 - GetVOffs()});
  }
  UpdateView();
}

int32_t TCustomRVFormattedData::GetRVFBackgroundStyle(TRVBackground* background) {
  return background ? static_cast<int32_t>(background->Style) : 0;
}

std::unique_ptr<TGraphic> TCustomRVFormattedData::GetRVFBackgroundPicture(TRVBackground* background) {
  auto* bitmap = background ? dynamic_cast<TRVBitmap*>(background->Image()) : nullptr;
  if (!bitmap || bitmap->Empty()) return nullptr;
  auto picture = std::make_unique<TBitmap>();
  picture->Image = bitmap->Image;
  return picture;
}

void TCustomRVFormattedData::SetRVFBackground(TRVBackground* background, int32_t style,
                                             std::unique_ptr<TGraphic> picture) {
  if (!background) return;
  background->Style = style >= bsNoBitmap && style <= bsBottomRight ? static_cast<TBackgroundStyle>(style) : bsNoBitmap;
  auto* read = dynamic_cast<TBitmap*>(picture.get());
  if (!read) return;
  if (auto* bitmap = dynamic_cast<TRVBitmap*>(background->Image())) {
    bitmap->Image = read->Image;
  } else {
    auto own = std::make_unique<TRVBitmap>();
    own->Image = read->Image;
    background->SetImage(std::move(own));
  }
}

void TCustomRVFormattedData::ClearHoverAndRepaint() {
  if (!(GetFlags() & rvflJumps)) return;
  const int32_t id = LastJumpMovedAbove;
  LastJumpMovedAbove = -1;
  State &= ~rvstHoverDrawn;
  if (id >= 0) InvalidateJump(id);
}

void TCustomRVFormattedData::SelectAll() {
  if (ItemCount() == 0 || DrawLines.Count() == 0) return;
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (GetItem(i)->IsPartiallySelected()) GetItem(i)->DeselectPartial();
  FSelStartNo = 0;
  FSelStartOffs = GetOffsBeforeDrawItem(0);
  FSelEndNo = DrawLines.Count() - 1;
  FSelEndOffs = GetOffsAfterDrawItem(FSelEndNo);
}

bool TCustomRVFormattedData::ClearSoftPageBreaks() {
  const bool had = SoftPageBreaks != nullptr;
  SoftPageBreaks.reset();
  return had;
}

int32_t TCustomRVFormattedData::LineTop(int32_t d_item_no) {
  int32_t f, l;
  GetScreenLineBounds(d_item_no, f, l);
  int32_t t = INT32_MAX;
  for (int32_t i = f; i <= l; ++i) t = std::min(t, DrawLines[i]->Top);
  return t;
}

void TCustomRVFormattedData::DrawBackground(TCanvas& canvas, const TRect& rect) {
  int32_t ox, oy;
  GetOriginEx(ox, oy);
  TRVBackground* back = GetBackground();
  if (back) {
    back->Draw(canvas, rect, false, GetColor(), GetAreaHeight(), GetAreaWidth(), 0, 0, GetVOffs() + oy,
               GetHOffs() + ox);
  } else if (GetColor() != clNone) {
    canvas.Brush().SetColor(GetColor());
    canvas.Brush().SetStyle(bsSolid);
    canvas.FillRect(TRect{0, 0, rect.Right - rect.Left, rect.Bottom - rect.Top});
  }
}

void TCustomRVFormattedData::PaintParaBackgrounds(PaintCtx& c) {
  const int32_t n = DrawLines.Count();
  int32_t i = c.First;
  auto is_para_start_d = [&](int32_t d) {
    return d == 0 || (DrawLines[d - 1]->ItemNo != DrawLines[d]->ItemNo && GetItem(DrawLines[d]->ItemNo)->IsParaStart());
  };
  while (i > 0 && !is_para_start_d(i)) --i;
  bool passed = false;
  while (i < n) {
    // One paragraph: i .. j-1.
    int32_t j = i + 1;
    while (j < n && !is_para_start_d(j)) ++j;
    const int32_t item_no = DrawLines[i]->ItemNo;
    TCustomRVItemInfo* item = GetItem(item_no);
    TParaInfo* p = c.Style->ParaStyles()->Items(item->ParaNo);
    // Cut below the rectangle.
    int32_t cut = -1;
    for (int32_t k = i; k < j; ++k) {
      if (DrawLines[k]->Top > c.DocRect.Bottom) passed = true;
      if (passed && k > i && DrawLines[k]->FromNewLine && GetMaxTextWidth() == 0) {
        cut = k;
        break;
      }
    }
    if (item->StyleNo != rvsBreak &&
        !(p->Border().Style == rvbNone && p->Background().Color == clNone && !c.Style->OnDrawParaBack)) {
      TRect r;
      r.Left = GetLeftMargin() + p->LeftIndent + (p->FirstIndent < 0 ? p->FirstIndent : 0);
      if (GetOptions().Contains(rvoClientTextWidth))
        r.Right = GetAreaWidth() - (GetRightMargin() + p->RightIndent);
      else if (GetMaxTextWidth() < 1)
        r.Right = GetDocumentAreaWidth() - (GetRightMargin() + p->RightIndent);
      else
        r.Right = GetLeftMargin() + GetMaxTextWidth() - p->RightIndent;
      r.Top = INT32_MAX;
      r.Bottom = INT32_MIN;
      for (int32_t k = i; k < j; ++k) {
        TRVDrawLineInfo* d = DrawLines[k];
        r.Right = std::max(r.Right, d->Left + d->Width);
        r.Top = std::min(r.Top, d->Top);
        r.Bottom = std::max(r.Bottom, d->Top + d->Height + d->ExtraSpaceBelow);
      }
      r.Left -= c.XShift;
      r.Right -= c.XShift;
      r.Top -= c.YShift;
      r.Bottom -= c.YShift;
      TRect grown = r;
      TRVScreenAndDevice sad;
      p->Background().PrepareDrawScaled(grown, sad);
      c.Style->DrawingRVData = this;
      c.Style->DrawingItemNo = DrawLines[j - 1]->ItemNo;
      c.Style->DrawParaBack(*c.Canvas, item->ParaNo, grown, false, 0);
      p->Border().DrawScaled(r, *c.Canvas, 0, sad);
    }
    if (cut >= 0) {
      c.Last = std::min(c.Last, cut);
      return;
    }
    if (passed) {
      c.Last = std::min(c.Last, std::max(j, c.First));
      if (j >= n) c.Last = n - 1;
      return;
    }
    i = j;
  }
}

void TCustomRVFormattedData::PaintTextPiece(PaintCtx& c, int32_t j, int32_t x, int32_t width, const AnsiString& text,
                                            bool selected, bool at_start, bool at_end, int32_t s) {
  TRVDrawLineInfo* d = DrawLines[j];
  TRVTextDrawStates state;
  if (c.Focused) state.Include(rvtsControlFocused);
  if (selected) state.Include(rvtsSelected);
  if (c.Hover) state.Include(rvtsHover);
  if (c.Style->OnDrawStyleText) {
    if (at_start) {
      state.Include(rvtsDrawItemStart);
      if (d->Offs == 1) state.Include(rvtsItemStart);
    }
    if (at_end) {
      state.Include(rvtsDrawItemEnd);
      if (d->Offs + d->Length == ItemLength(d->ItemNo) + 1) state.Include(rvtsItemEnd);
    }
  }
  c.Style->ApplyStyleColor(*c.Canvas, c.StyleNo, state, false, 0);
  int32_t space_before;
  if (at_start) {
    space_before = d->SpaceBefore;
    if (!(at_start && at_end)) width += d->SpaceBefore;
  } else {
    x += d->SpaceBefore;
    space_before = 0;
  }
  AnsiString t = text;
  if (c.Special) {
    state.Include(rvtsSpecialCharacters);
    if (ShowSwallowedSpaces && at_end) {
      const bool swallowed = d->Offs + d->Length - 1 < ItemLength(d->ItemNo) &&
                             (j + 1 >= DrawLines.Count() || DrawLines[j + 1]->ItemNo != d->ItemNo ||
                              DrawLines[j + 1]->Offs != d->Offs + d->Length);
      if (swallowed && (!selected || c.Complete || j != c.ED))
        t += IsUnicodeItem(d->ItemNo) ? AnsiString(" \0", 2) : AnsiString(" ");
    }
  }
  if (c.Style->SelectionStyle == rvssLines && selected && width > 0 && c.BandValid)
    c.Canvas->FillRect(TRect{x - c.XShift - 1, c.BandTop - c.YShift, x - c.XShift + width + 1, c.BandBottom - c.YShift});
  c.Style->DrawStyleText(t, *c.Canvas, d->ItemNo, d->Offs + s - 1, c.StyleNo, this, space_before, x - c.XShift,
                         d->Top - c.YShift, width, d->Height, state, false, false, 0, c.ItemBiDi);
}

void TCustomRVFormattedData::PaintParaMark(PaintCtx& c, int32_t j) {
  const int32_t n = DrawLines.Count();
  const bool last_of_line = j == n - 1 || (DrawLines[j + 1]->ItemNo != DrawLines[j]->ItemNo &&
                                           IsFromNewLine(DrawLines[j + 1]->ItemNo));
  if (!last_of_line) return;
  TRVDrawLineInfo* d = DrawLines[j];
  const int32_t style = c.LastStyle < 0 ? 0 : c.LastStyle;
  c.Style->ApplyStyle(*c.Canvas, style, c.ItemBiDi, (GetFlags() & rvflCustomPPI) != 0);
  c.Style->ApplyStyleColor(*c.Canvas, style, TRVTextDrawStates(), false, 0);
  c.LastStyle = style;
  TFont& f = c.Canvas->Font();
  const AnsiString upper = [&] {
    AnsiString u = f.Name();
    for (char& ch : u) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return u;
  }();
  if (f.Charset() == SYMBOL_CHARSET || upper == "SYMBOL" || upper == "WINGDINGS") {
    f.SetName("Arial");
    f.SetCharset(DEFAULT_CHARSET);
    c.LastStyle = -1;
  }
  AnsiString mark("\xB6");
  const bool para_end = j == n - 1 || GetItem(DrawLines[j + 1]->ItemNo)->IsParaStart();
  if (!para_end) {
    mark = AnsiString("\xBF");
    f.SetName("Symbol");
    f.SetCharset(SYMBOL_CHARSET);
    c.LastStyle = -1;
  }
  const TSize sz = c.Canvas->TextExtent(mark);
  const bool rtl = GetParaBiDiMode(GetItem(d->ItemNo)->ParaNo) == rvbdRightToLeft;
  const int32_t x = rtl ? d->Left - sz.cx : d->Left + d->Width;
  const int32_t y = d->Top + d->Height - sz.cy;
  c.Canvas->Brush().SetStyle(bsClear);
  c.Canvas->TextOut(x - c.XShift, y - c.YShift, mark);
}

void TCustomRVFormattedData::PaintTo(TCanvas& canvas, const TRect& rect) {
  TRVStyle* style = GetRVStyle();
  if (!style) return;
  PaintCtx c;
  c.Canvas = &canvas;
  c.Style = style;
  GetSelDrawItemBounds(c.SD, c.ED, c.SO, c.EO, true);
  c.XShift = rect.Left + GetHOffs();
  c.YShift = rect.Top + GetVOffs();
  c.DocRect = TRect{rect.Left + GetHOffs(), rect.Top + GetVOffs(), rect.Right + GetHOffs(), rect.Bottom + GetVOffs()};
  c.ClipRect = TRect{0, 0, rect.Right - rect.Left, rect.Bottom - rect.Top};
  canvas.Brush().SetStyle(bsClear);
  c.Focused = IsFocused();
  c.Special = GetOptions().Contains(rvoShowSpecialCharacters);
  c.Complete = (State & rvstCompletelySelected) != 0;
  const int32_t n = DrawLines.Count();
  const uint16_t flags = GetFlags();
  if (n > 0) {
    c.First = FindDrawItemByY(c.DocRect.Top, 1);
    c.Last = n - 1;
    PaintParaBackgrounds(c);
    if (c.Last < c.First) c.Last = c.First;
    // Text backgrounds.
    if (style->OnDrawTextBack) {
      for (int32_t j = c.First; j <= c.Last; ++j) {
        TRVDrawLineInfo* d = DrawLines[j];
        TCustomRVItemInfo* item = GetItem(d->ItemNo);
        const int32_t sn = GetActualStyle(item);
        if (sn < 0) continue;
        TRVTextDrawStates st;
        if (style->TextStyles()->Items(sn)->Jump && (State & rvstHoverDrawn) && LastJumpMovedAbove >= 0 &&
            item->JumpID == LastJumpMovedAbove)
          st.Include(rvtsHover);
        style->DrawTextBack(canvas, d->ItemNo, sn, this, d->Left - c.XShift, d->Top - c.YShift, d->Width, d->Height,
                            st);
      }
    }
    // Soft page breaks.
    if (SoftPageBreaks && GetOptions().Contains(rvoShowPageBreaks)) {
      for (const auto& pb : *SoftPageBreaks) {
        if (pb.ItemNo < DrawLines[c.First]->ItemNo || pb.ItemNo >= ItemCount()) continue;
        int32_t dn, doffs;
        ItemPosToDrawItemPos(pb.ItemNo, pb.Offset, dn, doffs);
        if (dn < 0) continue;
        if (dn > c.Last) break;
        if (dn == 0 && pb.ExtraData < 0) continue;
        const int32_t y = pb.ExtraData < 0 ? LineTop(dn) : GetItem(pb.ItemNo)->GetSplitOffsetY(pb.ExtraData) + DrawLines[dn]->Top;
        style->DrawPageBreak(canvas, y - c.YShift - 1, c.XShift, rvpbSoftPageBreak, GetParentControl(), GetAreaWidth());
      }
    }
    for (int32_t j = c.First; j <= c.Last; ++j) {
      TRVDrawLineInfo* d = DrawLines[j];
      TCustomRVItemInfo* item = GetItem(d->ItemNo);
      const int32_t sn = GetActualStyle(item);
      c.StyleNo = sn;
      c.ItemBiDi = GetItemBiDiMode(d->ItemNo);
      TCustomRVParaInfo* p = style->ParaStyles()->Items(item->ParaNo);
      // a. Line band.
      if (d->FromNewLine) {
        c.BandValid = false;
        if (c.SD >= 0 && style->SelectionStyle == rvssLines && c.ItemBiDi == rvbdUnspecified) {
          int32_t f, l;
          GetScreenLineBounds(j, f, l);
          c.BandTop = INT32_MAX;
          c.BandBottom = INT32_MIN;
          for (int32_t k = f; k <= l; ++k) {
            c.BandTop = std::min(c.BandTop, DrawLines[k]->Top);
            c.BandBottom = std::max(c.BandBottom, DrawLines[k]->Top + DrawLines[k]->Height + DrawLines[k]->ExtraSpaceBelow);
          }
          if (item->IsParaStart() && (f == 0 || DrawLines[f - 1]->ItemNo != d->ItemNo)) c.BandTop -= p->SpaceBefore;
          if (l == n - 1 || (DrawLines[l + 1]->ItemNo != DrawLines[l]->ItemNo &&
                             GetItem(DrawLines[l + 1]->ItemNo)->IsParaStart()))
            c.BandBottom += p->SpaceAfter;
          c.BandValid = true;
        }
      }
      const bool first_of_item = j == 0 || DrawLines[j - 1]->ItemNo != d->ItemNo;
      // c. Hard page break; d. checkpoint.
      if (item->GetPageBreakBefore() && GetOptions().Contains(rvoShowPageBreaks) && first_of_item) {
        style->DrawPageBreak(canvas, LineTop(j) - c.YShift - 1, c.XShift, rvpbPageBreak, GetParentControl(),
                             GetAreaWidth());
        c.LastStyle = -1;
      }
      if (item->Checkpoint && GetOptions().Contains(rvoShowCheckpoints) && first_of_item) {
        style->DrawCheckpoint(canvas, d->Left - c.XShift, d->Top - c.YShift, 0, GetAreaWidth(), this, d->ItemNo,
                              c.XShift, item->Checkpoint->RaiseEvent, GetParentControl());
        c.LastStyle = -1;
      }
      if (sn < 0) {
        // e. Non-text item.
        uint32_t state = 0;
        if (c.Focused) state |= ipsControlFocused;
        const bool selected = c.Complete || !(c.SD < 0 || j < c.SD || j > c.ED || (j == c.ED && c.EO == 0) ||
                                              (j == c.SD && c.SO == 1));
        if (selected) state |= ipsSelected;
        if ((State & rvstHoverDrawn) && LastJumpMovedAbove >= 0 && item->JumpID == LastJumpMovedAbove &&
            item->GetBoolValueEx(1, style))
          state |= ipsHover;
        if (GetParaBiDiMode(item->ParaNo) == rvbdRightToLeft) state |= ipsRightToLeft;
        if (c.Special) state |= ipsSpecialCharacters;
        if (d->ItemNo == CurrentItemNo) state |= ipsCurrent;
        if (flags & rvflCustomPPI) state |= ipsControlFlag;
        if (item->GetBoolValue(0)) {
          int32_t r;
          if (GetOptions().Contains(rvoClientTextWidth)) {
            r = GetAreaWidth();
          } else {
            r = GetDocumentAreaWidth();
            if (GetMaxTextWidth() > 0 && GetMaxTextWidth() + GetLeftMargin() + GetRightMargin() < r)
              r = GetMaxTextWidth() + GetLeftMargin() + GetRightMargin();
          }
          item->PaintFullWidth(d->Left - c.XShift, r - GetRightMargin() - c.XShift, d->Top - c.YShift, canvas, state,
                               style, c.ClipRect);
        } else {
          if (selected && style->SelectionStyle == rvssLines && c.BandValid && item->StyleNo != rvsListMarker) {
            const TColor col = c.Focused ? style->SelColor : style->InactiveSelColor;
            if (col != clNone) {
              canvas.Brush().SetColor(col);
              canvas.Brush().SetStyle(bsSolid);
              canvas.FillRect(TRect{d->Left - c.XShift, c.BandTop - c.YShift, d->Left - c.XShift + d->Width,
                                    c.BandBottom - c.YShift});
              canvas.Brush().SetStyle(bsClear);
            }
          }
          if (auto* tab = dynamic_cast<TRVTabItemInfo*>(item))
            tab->Paint(d->Left - c.XShift, d->Top - c.YShift, d->Width, d->Height, canvas, state, style, false, 0);
          else
            item->Paint(d->Left - c.XShift, d->Top - c.YShift, canvas, state, style, d);
        }
        if (item->GetBoolValue(4)) c.LastStyle = -1;
        if (c.Special && (ShownSpecialCharacters & rvscParagraph)) PaintParaMark(c, j);
        continue;
      }
      // f. Text.
      if (sn != c.LastStyle) {
        style->ApplyStyle(canvas, sn, GetParaBiDiMode(item->ParaNo), (flags & rvflCustomPPI) != 0);
        c.LastStyle = sn;
      }
      c.Hover = style->TextStyles()->Items(sn)->Jump && (State & rvstHoverDrawn) && LastJumpMovedAbove >= 0 &&
                item->JumpID == LastJumpMovedAbove;
      const bool wrapped_end = j + 1 < n && DrawLines[j + 1]->ItemNo == d->ItemNo && DrawLines[j + 1]->FromNewLine;
      const AnsiString full = DisplayText(d->ItemNo, false);
      const bool uni = IsUnicodeItem(d->ItemNo);
      auto piece_text = [&](bool ends_wrapped) {
        AnsiString disp = ends_wrapped ? DisplayText(d->ItemNo, true) : full;
        return RVU_Copy(disp, d->Offs, d->Length, GetItemOptions(d->ItemNo));
      };
      const bool whole_sel = c.Complete || (c.SD >= 0 && (j > c.SD || (j == c.SD && c.SO <= 1)) &&
                                            (j < c.ED || (j == c.ED && c.EO > d->Length)));
      const bool outside = c.SD < 0 || j < c.SD || j > c.ED;
      if (whole_sel || outside) {
        PaintTextPiece(c, j, d->Left, d->Width - d->SpaceBefore, piece_text(wrapped_end), whole_sel, true, true, 1);
      } else {
        PaintTextPiece(c, j, d->Left, d->Width - d->SpaceBefore, piece_text(wrapped_end), false, true, true, 1);
        const int32_t s = (j == c.SD && c.SO > 1) ? c.SO : 1;
        const int32_t e = (j == c.ED) ? std::min(d->Length, c.EO - 1) : d->Length;
        if (e >= s) {
          const AnsiString text = piece_text(wrapped_end && e == d->Length);
          const uint8_t opts = GetItemOptions(d->ItemNo);
          const int32_t x0 = s == 1 ? 0 : RVU_TextWidth(RVU_Copy(text, 1, s - 1, opts), canvas, opts);
          const AnsiString sel = RVU_Copy(text, s, e - s + 1, opts);
          int32_t w = 0;
          if (style->OnDrawStyleText || style->SelectionStyle == rvssLines) w = RVU_TextWidth(sel, canvas, opts);
          (void)uni;
          PaintTextPiece(c, j, d->Left + x0, w, sel, true, s == 1, e == d->Length, s);
        }
      }
      if (c.Special && (ShownSpecialCharacters & rvscParagraph)) PaintParaMark(c, j);
    }
    // Word painters.
    for (int32_t j = c.First; j <= c.Last; ++j) {
      TRVDrawLineInfo* d = DrawLines[j];
      TCustomRVItemInfo* item = GetItem(d->ItemNo);
      TRVWordPainterList* list = item->WordPaintList();
      if (!list || list->empty() || item->StyleNo < 0) continue;
      const int32_t sn = GetActualStyle(item);
      if (sn != c.LastStyle) {
        style->ApplyStyle(canvas, sn, GetParaBiDiMode(item->ParaNo), (flags & rvflCustomPPI) != 0);
        c.LastStyle = sn;
      }
      const AnsiString text = RVU_Copy(DisplayText(d->ItemNo, false), d->Offs, d->Length, GetItemOptions(d->ItemNo));
      const uint8_t opts = GetItemOptions(d->ItemNo);
      for (const auto& painter : *list) {
        if (!(painter->StartOffs + painter->Length >= d->Offs && painter->StartOffs <= d->Offs + d->Length)) continue;
        const int32_t from = std::max(painter->StartOffs - d->Offs, 0);
        const int32_t to = std::min(painter->StartOffs + painter->Length - d->Offs, d->Length);
        if (to <= from) continue;
        const int32_t left = from == 0 ? 0 : RVU_TextWidth(RVU_Copy(text, 1, from, opts), canvas, opts);
        const int32_t width = RVU_TextWidth(RVU_Copy(text, from + 1, to - from, opts), canvas, opts);
        TRect r{left + d->SpaceBefore + d->Left - c.XShift, d->Top - c.YShift,
                left + width + d->SpaceBefore + d->Left - c.XShift, d->Height + d->Top - c.YShift};
        RVDrawMisspelling(canvas, r, style->LiveSpellingColor);
      }
    }
  } else {
    c.First = 0;
    c.Last = -1;
  }
  if (NotAddedCP() && GetOptions().Contains(rvoShowCheckpoints))
    style->DrawCheckpoint(canvas, -1, DocumentHeight - c.YShift, 0, GetAreaWidth(), this, -1, c.XShift,
                          NotAddedCP()->RaiseEvent, GetParentControl());
  AfterPaint(canvas, c.XShift, c.YShift, c.First, c.Last);
}

}  // namespace pelvar
