#include "richtext/view/CRVPrintData.h"

#include <algorithm>
#include <climits>

#include "richtext/model/RVUni.h"
#include "richtext/view/CtrlImg.h"
#include "richtext/view/DocView.h"
#include "richtext/view/RVBack.h"

namespace pelvar {

// ---- TCustomPrintableRVData ---------------------------------------------------------------------

TCustomPrintableRVData::TCustomPrintableRVData(TRVPrintComponent* print_component, TCustomDocView* source)
    : TDocViewRVData(source), PrintComponent(print_component), flags_(source->Flags) {
  // Printed hyperlinks are not live; split items get printing draw items.
  flags_ = static_cast<uint16_t>((flags_ & ~rvflJumps) | rvflPrintingDrawItems);
}

TCanvas* TCustomPrintableRVData::GetCanvas() { return PrintComponent->PrinterCanvas(); }

// Measured on the printer canvas itself: its font has the printer's resolution.
TRVFontInfoCache* TCustomPrintableRVData::CreateFontInfoCache(TCanvas* canvas) {
  delete FontInfoCache;
  FontInfoCache = new TRVFontInfoCacheLowResource(this, false, canvas, GetRVStyle());
  return FontInfoCache;
}

TRVFontInfoCache* TCustomPrintableRVData::GetFontInfoCache(TCanvas* canvas, TCustomRVFormattedData* requester) {
  if (FontInfoCache) return FontInfoCache;
  if (requester == this) return CreateFontInfoCache(canvas);
  return new TRVFontInfoCacheLowResource(requester, false, canvas, GetRVStyle());
}

// The items belong to the printed document: only the layout goes.
void TCustomPrintableRVData::Clear() {
  ClearTemporal();
  TRVControlData::Clear();
}

void TCustomPrintableRVData::GetDrawItemsRange(int32_t /*page_no*/, int32_t& first, int32_t& last,
                                               int32_t& start_part) {
  first = 0;
  start_part = -1;
  last = DrawLines.Count() - 1;
}

void TCustomPrintableRVData::DrawParaBackAndBorder(TCanvas& canvas, int32_t first_d, int32_t last_d,
                                                   int32_t page_left, int32_t page_top, const TRVScreenAndDevice& sad,
                                                   int32_t color_mode, int32_t start_part) {
  TRVStyle* style = GetRVStyle();
  TCustomRVItemInfo* item = GetItem(DrawLines[first_d]->ItemNo);
  TParaInfo* p = style->ParaStyles()->Items(item->ParaNo);
  if (p->Border().Style == rvbNone && p->Background().Color == clNone && !style->OnDrawParaBack) return;
  TRect r;
  r.Left = page_left + RV_XToDevice(GetLeftMargin() + p->LeftIndent, sad);
  if (p->FirstIndent < 0) r.Left += RV_XToDevice(p->FirstIndent, sad);
  r.Right = page_left + GetAreaWidth() - RV_XToDevice(GetRightMargin() + p->RightIndent, sad);
  r.Top = INT32_MAX;
  r.Bottom = INT32_MIN;
  // The paragraph's draw items on this page.
  for (int32_t k = first_d; k <= last_d; ++k) {
    if (k > first_d && DrawLines[k]->ItemNo != DrawLines[k - 1]->ItemNo && GetItem(DrawLines[k]->ItemNo)->IsParaStart())
      break;
    TRVDrawLineInfo* d = DrawLines[k];
    int32_t h = d->Height;
    auto* multi = dynamic_cast<TRVMultiDrawItemInfo*>(d);
    if (multi && k == first_d && start_part >= 0 && start_part < static_cast<int32_t>(multi->PartsList.size()))
      h = multi->PartsList[static_cast<size_t>(start_part)]->Height;
    r.Top = std::min(r.Top, d->Top);
    r.Bottom = std::max(r.Bottom, d->Top + h + d->ExtraSpaceBelow);
  }
  r.Top -= page_top;
  r.Bottom -= page_top;
  TRect back = r;
  p->Background().PrepareDrawScaled(back, sad);
  style->DrawingRVData = this;
  style->DrawingItemNo = DrawLines[first_d]->ItemNo;
  style->DrawParaBack(canvas, item->ParaNo, back, true, color_mode);
  p->Border().DrawScaled(r, canvas, color_mode, sad);
}

void TCustomPrintableRVData::DrawPage(int32_t page_no, TCanvas& canvas, bool preview, bool correction) {
  CurPageNo = page_no;
  TRVStyle* style = GetRVStyle();
  if (!style) throw EDocViewError("Style of printable TDocView component is not assigned");
  TRVScreenAndDevice sad;
  GetResolutions(canvas, sad);
  int32_t first = 0, last = -1, start_part = -1;
  GetDrawItemsRange(page_no, first, last, start_part);
  int32_t page_top = GetTopCoord(page_no);
  const int32_t page_left = GetPrintableAreaLeft(page_no);
  const int32_t color_mode = GetColorMode();
  canvas.Brush().SetStyle(bsClear);
  // Whatever happens, nothing of this page is left behind.
  struct Reset {
    TCustomPrintableRVData* d;
    ~Reset() {
      d->CurDrawItem = nullptr;
      d->PageBackBitmap = nullptr;
    }
  } reset{this};

  const TRect area{page_left, GetPrintableAreaTop(), page_left + GetAreaWidth(), GetPrintableAreaTop() + GetAreaHeight()};
  TRVBackground* back = GetBackground();
  if (back && back->Style != bsNoBitmap && back->Image() && !back->Image()->Empty()) {
    back->Print(canvas, area, GetColor(), sad, area);
  } else if (!NoPageColor && GetColor() != clNone) {
    canvas.Brush().SetColor(RV_BackColorForPrintMode(GetColor(), color_mode));
    canvas.Brush().SetStyle(bsSolid);
    canvas.FillRect(area);
    canvas.Brush().SetStyle(bsClear);
  }
  DoPagePrepaint(canvas, page_no, preview, correction);

  for (int32_t i = first; i <= last && i < DrawLines.Count(); ++i) {
    TRVDrawLineInfo* d = DrawLines[i];
    CurDrawItem = d;
    TCustomRVItemInfo* item = GetItem(d->ItemNo);
    auto* multi = dynamic_cast<TRVMultiDrawItemInfo*>(d);
    int32_t part = i == first ? start_part : -1;
    if (i == last && i != first && multi && !multi->PartsList.empty()) part = 0;
    const bool first_of_item = i == 0 || DrawLines[i - 1]->ItemNo != d->ItemNo;
    if (((first_of_item && item->IsParaStart()) || i == first) && item->StyleNo != rvsBreak)
      DrawParaBackAndBorder(canvas, i, last, page_left, page_top, sad, color_mode, part);
    const int32_t sn = GetActualStyle(item);
    const bool hyperlink = sn >= 0 ? style->TextStyles()->Items(sn)->Jump : item->GetBoolValueEx(1, style);
    if (hyperlink)
      DoHyperlinkPrinted(d->ItemNo, TRect{d->Left + page_left, d->Top - page_top, d->Left + page_left + d->Width,
                                          d->Top - page_top + d->Height});
    // A continued item starts at the page top: its earlier parts are on the pages before.
    const bool continued = i == first && part > 0 && multi;
    int32_t item_top = d->Top - page_top;
    if (continued)
      for (int32_t k = 0; k < part && k < static_cast<int32_t>(multi->PartsList.size()); ++k)
        item_top += multi->PartsList[static_cast<size_t>(k)]->Height;
    if (item->Checkpoint && first_of_item && part <= 0) {
      DoCheckpointPrinted(d->ItemNo, d->Left + page_left, item_top);
      if (GetOptions().Contains(rvoShowCheckpoints))
        style->DrawCheckpoint(canvas, d->Left + page_left, item_top, page_left, GetAreaWidth(), this, d->ItemNo, 0,
                              item->Checkpoint->RaiseEvent, nullptr);
    }
    if (sn < 0) {
      CurItemTop = item_top;
      std::unique_ptr<TBitmap> control_image;
      if (auto* br = dynamic_cast<TRVBreakItemInfo*>(item)) {
        br->Print(canvas, d->Left + page_left, page_left + GetAreaWidth() - RV_XToDevice(GetRightMargin(), sad),
                  CurItemTop, sad, style, color_mode);
      } else if (TGraphic* g = ItemImageForPrinting(item, control_image)) {
        auto* rect_item = dynamic_cast<TRVRectItemInfo*>(item);
        const int32_t sp = rect_item ? RV_XToDevice(rect_item->GetSpacing(), sad) : 0;
        // A picture prints at its display size, as the screen shows it and the layout
        // reserves it (a control's image at its own size).
        auto* picture = dynamic_cast<TRVGraphicItemInfo*>(item);
        const int32_t w = picture ? picture->GetImageWidth() : -1, h = picture ? picture->GetImageHeight() : -1;
        auto* img = dynamic_cast<TRVMultiImagePrintInfo*>(d);
        if (img && part >= 0 && part < static_cast<int32_t>(img->PartsList.size())) {
          // One piece of a picture split over pages: the picture moved up by the piece's
          // place, clipped to the piece.
          TRVImagePrintPart* piece = img->Part(part);
          const int32_t saved = canvas.SaveDC();
          const int32_t y = piece->ImgTop ? CurItemTop - RV_YToDevice(piece->ImgTop, sad) : CurItemTop + sp;
          canvas.IntersectClipRect(TRect{d->Left + page_left, CurItemTop, d->Left + page_left + d->Width,
                                         CurItemTop + piece->Height + (piece->ImgTop ? 0 : sp)});
          RV_DrawGraphicOnDevice(canvas, d->Left + page_left + sp, y, w, h, sad, g);
          canvas.RestoreDC(saved);
        } else {
          RV_DrawGraphicOnDevice(canvas, d->Left + page_left + sp, CurItemTop + sp, w, h, sad, g);
        }
      } else {
        item->Paint(d->Left + page_left, CurItemTop, canvas, 0, style, d);
      }
      if (i == first) page_top = GetTopCoord2(page_no);
      continue;
    }
    // Text.
    TFontInfo* fi = style->TextStyles()->Items(sn);
    const TRVBiDiMode bidi = GetItemBiDiMode(d->ItemNo);
    style->ApplyStyleColor(canvas, sn, TRVTextDrawStates(), true, color_mode);
    style->ApplyStyle(canvas, sn, bidi, false);
    if (fi->CharSpacing != 0 && fi->BiDiMode != rvbdRightToLeft &&
        GetParaBiDiMode(item->ParaNo) != rvbdRightToLeft)
      canvas.SetTextCharacterExtra(RV_XToDevice(fi->CharSpacing, sad));
    if (style->OnDrawTextBack)
      style->DrawTextBack(canvas, d->ItemNo, sn, this, d->Left + page_left, d->Top - page_top, d->Width, d->Height,
                          TRVTextDrawStates());
    const AnsiString text = RVU_Copy(DisplayText(d->ItemNo, false), d->Offs, d->Length, GetItemOptions(d->ItemNo));
    style->DrawStyleText(text, canvas, d->ItemNo, d->Offs, sn, this, d->SpaceBefore, d->Left + page_left,
                         d->Top - page_top, d->Width - d->SpaceBefore, d->Height, TRVTextDrawStates(), true,
                         correction, color_mode, bidi);
  }
  DoPagePostpaint(canvas, page_no, preview);
}

TGraphic* TCustomPrintableRVData::ItemImageForPrinting(TCustomRVItemInfo* item, std::unique_ptr<TBitmap>& holder) {
  auto* control_item = dynamic_cast<TRVControlItemInfo*>(item);
  if (!control_item) return item->AsImage();
  auto bitmap = std::make_unique<TBitmap>();
  const bool printed = control_item->PrintToBitmap(*bitmap, [this](TObject* control) {
    std::unique_ptr<TBitmap> image = PrintComponent ? PrintComponent->ControlImage(control) : nullptr;
    return image ? std::move(image) : DrawControlToBitmap(control);
  });
  if (!printed || bitmap->Empty()) return nullptr;
  holder = std::move(bitmap);
  return holder.get();
}

void TCustomPrintableRVData::DrawBackToBitmap(int32_t left, int32_t top, TRVBitmap& bitmap,
                                              const TRVScreenAndDevice& sad, bool scale) {
  if (scale && CurDrawItem) {
    left = RV_XToScreen(CurDrawItem->Left, sad);
    top = RV_YToScreen(CurDrawItem->Top, sad);
  }
  TColor c = clNone;
  if (CurDrawItem) c = GetRVStyle()->ParaStyles()->Items(GetItem(CurDrawItem->ItemNo)->ParaNo)->Background().Color;
  auto fill = [&](TColor color) {
    const uint32_t rgb = static_cast<uint32_t>(ColorToRGB(color));
    const uint32_t argb = 0xFF000000u | ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
    for (int32_t y = 0; y < bitmap.Image.Height; ++y)
      for (int32_t x = 0; x < bitmap.Image.Width; ++x) bitmap.Image.Set(x, y, argb);
  };
  if (c != clNone) {
    fill(c);
  } else if (PageBackBitmap) {
    for (int32_t y = 0; y < bitmap.Image.Height; ++y)
      for (int32_t x = 0; x < bitmap.Image.Width; ++x) {
        const int32_t sx = left + x, sy = top + y;
        if (sx >= 0 && sy >= 0 && sx < PageBackBitmap->Image.Width && sy < PageBackBitmap->Image.Height)
          bitmap.Image.Set(x, y, PageBackBitmap->Image.At(sx, sy));
      }
  } else {
    fill(GetColor() == clNone ? clWhite : GetColor());
  }
}

// ---- TCustomMainPtblRVData --------------------------------------------------------------------------

TCustomMainPtblRVData::TCustomMainPtblRVData(TRVPrintComponent* print_component)
    : TCustomPrintableRVData(print_component, print_component->SourceView()) {
  ShareItemsFrom(print_component->SourceView()->RVData.get());
}

void TCustomMainPtblRVData::PrepareResolutions() {
  int32_t px = kScreenPixelsPerInch, py = kScreenPixelsPerInch;
  PrintComponent->GetDeviceResolution(px, py);
  PrnSaD = TRVScreenAndDevice();
  PrnSaD.ppixDevice = px;
  PrnSaD.ppiyDevice = py;
  PrnSaD.ppixScreen = PrnSaD.ppiyScreen = RV_GetScreenPPI();
  HeaderHeight = RV_YToDevice(HeaderY, PrnSaD);
  FooterHeight = RV_YToDevice(FooterY, PrnSaD);
}

void TCustomMainPtblRVData::FormatForPrinting() {
  PrepareResolutions();
  ClearTemporal();
  FormatDocument(false, true, true, 0, GetCanvas(), false, false, false);
}

void TCustomMainPtblRVData::GetResolutions(TCanvas& /*canvas*/, TRVScreenAndDevice& sad) {
  sad = PrnSaD;
  sad.LeftMargin = sad.RightMargin = 0;
}

TRVBackground* TCustomMainPtblRVData::GetBackground() { return PrintComponent->GetBackground(); }

TColor TCustomMainPtblRVData::GetColor() { return NoDocColor ? clNone : TDocViewRVData::GetColor(); }

void TCustomMainPtblRVData::CheckPageNo(int32_t page_no) {
  if (page_no < 1 || page_no > Pages.Count()) throw EDocViewError("Invalid page number is specified for printing");
}

int32_t TCustomMainPtblRVData::GetTopCoord(int32_t page_no) {
  CheckPageNo(page_no);
  int32_t r = Pages.Items(page_no - 1)->StartY - TmpTM - HeaderHeight;
  if (page_no == 1) r -= PrintComponent->GetFirstPageOffset();
  return r;
}

int32_t TCustomMainPtblRVData::GetTopCoord2(int32_t page_no) {
  CheckPageNo(page_no);
  int32_t r = Pages.Items(page_no - 1)->StartY2 - TmpTM - HeaderHeight;
  if (page_no == 1) r -= PrintComponent->GetFirstPageOffset();
  return r;
}

void TCustomMainPtblRVData::GetDrawItemsRange(int32_t page_no, int32_t& first, int32_t& last, int32_t& start_part) {
  CheckPageNo(page_no);
  const TRVPageInfo* page = Pages.Items(page_no - 1);
  first = page->StartDrawItemNo;
  start_part = page->StartPart - 1;
  if (page_no == Pages.Count()) {
    last = DrawLines.Count() - 1;
  } else {
    const TRVPageInfo* next = Pages.Items(page_no);
    last = next->StartDrawItemNo - 1;
    if (next->StartPart >= 2) ++last;
  }
}

// A page outside the page list is an error here too, not a blank page.
void TCustomMainPtblRVData::DrawPage(int32_t page_no, TCanvas& canvas, bool preview, bool correction) {
  CheckPageNo(page_no);
  TCustomPrintableRVData::DrawPage(page_no, canvas, preview, correction);
}

void TCustomMainPtblRVData::DoHyperlinkPrinted(int32_t item_no, const TRect& rect) {
  PrintComponent->HyperlinkPrinted(this, item_no, rect);
}

void TCustomMainPtblRVData::DoCheckpointPrinted(int32_t item_no, int32_t x, int32_t y) {
  PrintComponent->CheckpointPrinted(this, item_no, x, y);
}

void TCustomMainPtblRVData::GetSelectionBounds(int32_t kind, int32_t& start_item_no, int32_t& start_offs,
                                               int32_t& end_item_no, int32_t& end_offs) {
  if (kind != 2 || PrintingPageNo < 1 || PrintingPageNo > Pages.Count() || DrawLines.Count() == 0) {
    TDocViewRVData::GetSelectionBounds(kind, start_item_no, start_offs, end_item_no, end_offs);
    return;
  }
  int32_t first, last, part;
  GetDrawItemsRange(PrintingPageNo, first, last, part);
  DrawItemPosToItemPos(first, GetOffsBeforeDrawItem(first), start_item_no, start_offs);
  DrawItemPosToItemPos(last, GetOffsAfterDrawItem(last), end_item_no, end_offs);
}

std::vector<TRVMarkerItemInfo*>* TCustomMainPtblRVData::GetMarkers(bool allow_create) {
  if (!markers_ && allow_create) markers_ = std::make_unique<std::vector<TRVMarkerItemInfo*>>();
  return markers_.get();
}

void TCustomMainPtblRVData::Clear() {
  TCustomPrintableRVData::Clear();
  markers_.reset();
  ContinuedListNo = ContinuedListLevel = -1;
}

// ---- TRectPtblRVData -----------------------------------------------------------------------------------

TRectPtblRVData::TRectPtblRVData(TRVPrintComponent* print_component, TCustomRVData* source_rvdata,
                                 TCustomPrintableRVData* parent_print_data)
    : TCustomPrintableRVData(print_component, print_component->SourceView()),
      SourceRVData(source_rvdata),
      ParentPrintData(parent_print_data) {
  ShareItemsFrom(source_rvdata);
}

void TRectPtblRVData::GetResolutions(TCanvas& canvas, TRVScreenAndDevice& sad) {
  auto* root = dynamic_cast<TCustomPrintableRVData*>(ParentPrintData->GetAbsoluteRootData());
  if (root)
    root->GetResolutions(canvas, sad);
  else
    ParentPrintData->GetResolutions(canvas, sad);
}

void TRectPtblRVData::DrawBackToBitmap(int32_t left, int32_t top, TRVBitmap& bitmap, const TRVScreenAndDevice& sad,
                                       bool scale) {
  if (scale && CurDrawItem) {
    left = RV_XToScreen(CurDrawItem->Left, sad);
    top = RV_YToScreen(CurDrawItem->Top, sad);
  }
  const TColor para =
      CurDrawItem ? GetRVStyle()->ParaStyles()->Items(GetItem(CurDrawItem->ItemNo)->ParaNo)->Background().Color : clNone;
  if (para == clNone && Transparent) {
    ParentPrintData->DrawBackToBitmap(left + RV_XToScreen(Left + DX, sad), top + RV_YToScreen(Top + DY, sad), bitmap,
                                      sad, false);
    return;
  }
  TCustomPrintableRVData::DrawBackToBitmap(left, top, bitmap, sad, false);
}

}  // namespace pelvar
