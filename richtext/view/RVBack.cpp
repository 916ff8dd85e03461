#include "richtext/view/RVBack.h"

#include <algorithm>

namespace pelvar {

TRVBackground::TRVBackground(bool create_bitmap) {
  if (create_bitmap) image_ = std::make_unique<TRVBitmap>();
}

TRVBackground::~TRVBackground() = default;

void TRVBackground::FreeImages() {
  image_.reset();
  image_copy_.reset();
}

void TRVBackground::AssignImage(TGraphic* graphic, TCustomRVData* rvdata, bool copy) {
  if (graphic == image_.get()) return;
  if (copy) {
    FreeImages();
    if (auto* b = dynamic_cast<TRVBitmap*>(graphic)) {
      auto fresh = std::make_unique<TRVBitmap>();
      fresh->Image = b->Image;
      fresh->TransparentFlag = b->TransparentFlag;
      image_ = std::move(fresh);
    }
  } else {
    (void)image_.release();  // the caller still owns the previous picture
    image_.reset(graphic);
  }
  if (rvdata) UpdatePaletted(rvdata->GetDoInPaletteMode(), rvdata->GetRVLogPalette());
}

void TRVBackground::UpdatePaletted(TRVPaletteAction /*action*/, void* /*log_palette*/) {
  // Every display here is true-colour: no palette copy is ever needed.
  image_copy_.reset();
}

TRVItemBackgroundStyle TRVBackground::GetItemBackStyle() const {
  switch (Style) {
    case bsNoBitmap: return rvbsColor;
    case bsStretched: return rvbsStretched;
    case bsTiled:
    case bsTiledAndScrolled: return rvbsTiled;
    default: return rvbsCentered;
  }
}

void TRVBackground::SetItemBackStyle(TRVItemBackgroundStyle value) {
  switch (value) {
    case rvbsColor: Style = bsNoBitmap; break;
    case rvbsStretched: Style = bsStretched; break;
    case rvbsTiled: Style = bsTiled; break;
    case rvbsCentered: Style = bsCentered; break;
  }
}

bool TRVBackground::NeedsColorUnderImage() const {
  if (!HasImage()) return false;
  return image_->Transparent() || (Style >= bsCentered && Style <= bsBottomRight);
}

void TRVBackground::Put(TCanvas& canvas, TGraphic* g, int32_t x, int32_t y) {
  // Pixel pictures are copied at their size; other pictures draw themselves.
  if (auto* b = dynamic_cast<TRVBitmap*>(g))
    canvas.StretchPixels(TRect{x, y, x + b->Width(), y + b->Height()}, b->Image, TRect{0, 0, b->Width(), b->Height()});
  else
    canvas.Draw(x, y, g);
}

void TRVBackground::Draw(TCanvas& canvas, const TRect& rect_in, bool clip, TColor color, int32_t area_height,
                         int32_t area_width, int32_t area_top, int32_t area_left, int32_t vscroll,
                         int32_t hscroll) {
  int32_t saved = 0;
  if (clip) {
    saved = canvas.SaveDC();
    canvas.IntersectClipRect(rect_in);
    const TPoint org = canvas.WindowOrg();
    canvas.SetWindowOrg(org.X - rect_in.Left, org.Y - rect_in.Top);
  }
  try {
    TGraphic* g = image_copy_ ? image_copy_.get() : image_.get();
    const bool has = g && !g->Empty();
    TRect r{rect_in.Left - area_left, rect_in.Top - area_top, rect_in.Right - area_left, rect_in.Bottom - area_top};
    const int32_t rw = rect_in.Right - rect_in.Left, rh = rect_in.Bottom - rect_in.Top;
    const bool covers = has && !g->Transparent() && (Style == bsStretched || Style == bsTiled || Style == bsTiledAndScrolled);
    if (color != clNone && !covers) {
      canvas.Brush().SetColor(ColorToRGB(color));
      canvas.Brush().SetStyle(bsSolid);
      canvas.FillRect(TRect{0, 0, rw, rh});
    }
    if (has) {
      const int32_t w = g->Width(), h = g->Height(), l = r.Left, t = r.Top;
      switch (Style) {
        case bsStretched:
          canvas.StretchDraw(TRect{-l, -t, -l + area_width, -t + area_height}, g);
          break;
        case bsTiled:
          for (int32_t row = r.Top / h; row <= r.Bottom / h; ++row)
            for (int32_t i = r.Left / w; i <= r.Right / w; ++i) Put(canvas, g, i * w - l, row * h - t);
          break;
        case bsTiledAndScrolled:
          for (int32_t row = (r.Top + vscroll) / h; row <= (r.Bottom + vscroll) / h; ++row)
            for (int32_t i = (r.Left + hscroll) / w; i <= (r.Right + hscroll) / w; ++i)
              Put(canvas, g, i * w - hscroll - l, row * h - vscroll - t);
          break;
        case bsCentered: Put(canvas, g, (area_width - w) / 2 - l, (area_height - h) / 2 - t); break;
        case bsTopLeft: Put(canvas, g, -l, -t); break;
        case bsTopRight: Put(canvas, g, area_width - w - l, -t); break;
        case bsBottomLeft: Put(canvas, g, -l, area_height - h - t); break;
        case bsBottomRight: Put(canvas, g, area_width - w - l, area_height - h - t); break;
        case bsNoBitmap: break;
      }
    }
  } catch (...) {
    if (clip) canvas.RestoreDC(saved);
    throw;
  }
  if (clip) canvas.RestoreDC(saved);
}

void TRVBackground::Print(TCanvas& canvas, const TRect& rect, TColor color, const TRVScreenAndDevice& sad,
                          const TRect& page_rect) {
  const int32_t saved = canvas.SaveDC();
  const TPoint org = canvas.WindowOrg();
  canvas.SetWindowOrg(org.X - rect.Left, org.Y - rect.Top);
  try {
    TGraphic* g = image_.get();
    const bool has = g && !g->Empty();
    const int32_t rw = rect.Right - rect.Left, rh = rect.Bottom - rect.Top;
    if (color != clNone && (!has || Style == bsNoBitmap || Style >= bsCentered)) {
      canvas.Brush().SetColor(ColorToRGB(color));
      canvas.Brush().SetStyle(bsSolid);
      canvas.FillRect(TRect{0, 0, rw, rh});
    }
    if (has && Style != bsNoBitmap) {
      const int32_t sw = std::max(1, RV_XToDevice(g->Width(), sad)), sh = std::max(1, RV_YToDevice(g->Height(), sad));
      auto copy = [&](int32_t x, int32_t y, int32_t w, int32_t h) { canvas.StretchDraw(TRect{x, y, x + w, y + h}, g); };
      const int32_t pw = page_rect.Right - page_rect.Left, ph = page_rect.Bottom - page_rect.Top;
      switch (Style) {
        case bsStretched: copy(0, 0, pw, ph); break;
        case bsTiled:
        case bsTiledAndScrolled:
          for (int32_t row = 0; row <= rh / sh; ++row)
            for (int32_t i = 0; i <= rw / sw; ++i) copy(i * sw, row * sh, sw, sh);
          break;
        case bsCentered: copy((pw - sw) / 2, (ph - sh) / 2, sw, sh); break;
        case bsTopLeft: copy(page_rect.Left, page_rect.Top, sw, sh); break;
        case bsTopRight: copy(page_rect.Right - sw, page_rect.Top, sw, sh); break;
        case bsBottomLeft: copy(page_rect.Left, page_rect.Bottom - sh, sw, sh); break;
        case bsBottomRight: copy(page_rect.Right - sw, page_rect.Bottom - sh, sw, sh); break;
        default: break;
      }
    }
  } catch (...) {
    canvas.RestoreDC(saved);
    throw;
  }
  canvas.RestoreDC(saved);
}

}  // namespace pelvar
