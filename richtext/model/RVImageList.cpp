#include "richtext/model/RVImageList.h"

#include <algorithm>

#include "platform/exceptions.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {
// 0x00BBGGRR to 0xAARRGGBB, opaque.
uint32_t ToArgb(TColor c) {
  const uint32_t rgb = static_cast<uint32_t>(ColorToRGB(c)) & 0xFFFFFFu;
  return 0xFF000000u | ((rgb & 0xFF) << 16) | (rgb & 0xFF00) | ((rgb >> 16) & 0xFF);
}
TColor FromArgb(uint32_t p) { return RGB(static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p)); }
// src over dst by src's alpha.
uint32_t Over(uint32_t dst, uint32_t src) {
  const uint32_t a = src >> 24;
  if (a == 255) return src;
  if (a == 0) return dst;
  auto mix = [&](int shift) {
    const uint32_t s = (src >> shift) & 0xFF, d = (dst >> shift) & 0xFF;
    return ((s * a + d * (255 - a) + 127) / 255) << shift;
  };
  return 0xFF000000u | mix(16) | mix(8) | mix(0);
}
}  // namespace

// ---- Image list ---------------------------------------------------------------------------------

TCustomImageList::TCustomImageList(TComponent* owner, int32_t width, int32_t height)
    : TComponent(owner), width_(std::max(width, 1)), height_(std::max(height, 1)) {}

void TCustomImageList::SetSize(int32_t width, int32_t height) {
  width = std::max(width, 1);
  height = std::max(height, 1);
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  images_.clear();
}

int32_t TCustomImageList::Add(const TBitmap& image) { return AddPixels(image.Image); }

int32_t TCustomImageList::AddPixels(const TPixelImage& image) {
  if (image.Width != width_ || image.Height != height_) throw EInvalidOperation("Invalid image size");
  images_.push_back(image);
  return Count() - 1;
}

void TCustomImageList::Delete(int32_t index) {
  Image(index);
  images_.erase(images_.begin() + index);
}

const TPixelImage& TCustomImageList::Image(int32_t index) const {
  if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", {index}));
  return images_[static_cast<size_t>(index)];
}

void TCustomImageList::Draw(TCanvas& canvas, int32_t x, int32_t y, int32_t index, TColor blend) const {
  if (index < 0 || index >= Count()) return;
  const TPixelImage& src = images_[static_cast<size_t>(index)];
  const TRect dest{x, y, x + width_, y + height_};
  const TRect whole{0, 0, width_, height_};
  if (blend == clNone) {
    canvas.StretchPixels(dest, src, whole);
    return;
  }
  // Each opaque part half the image's colour and half the blend colour.
  const uint32_t b = ToArgb(blend);
  TPixelImage mixed = src;
  for (uint32_t& p : mixed.Pixels) {
    auto half = [&](int shift) { return ((((p >> shift) & 0xFF) + ((b >> shift) & 0xFF) + 1) / 2) << shift; };
    p = (p & 0xFF000000u) | half(16) | half(8) | half(0);
  }
  canvas.StretchPixels(dest, mixed, whole);
}

bool TCustomImageList::GetBitmap(int32_t index, TBitmap& bitmap) const {
  if (index < 0 || index >= Count()) return false;
  bitmap.Image = TPixelImage(width_, height_);
  const TPixelImage& src = images_[static_cast<size_t>(index)];
  for (size_t i = 0; i < bitmap.Image.Pixels.size(); ++i) bitmap.Image.Pixels[i] = Over(bitmap.Image.Pixels[i], src.Pixels[i]);
  return true;
}

// ---- Pixel canvas -------------------------------------------------------------------------------

TRVPixelCanvas::TRVPixelCanvas(TPixelImage& image) : image_(image) {}

void TRVPixelCanvas::Put(int32_t x, int32_t y, uint32_t argb) {
  if (x < 0 || y < 0 || x >= image_.Width || y >= image_.Height) return;
  if (const TRect* c = DeviceClip(); c && !PtInRect(*c, TPoint{x, y})) return;
  image_.Set(x, y, Over(image_.At(x, y), argb));
}

void TRVPixelCanvas::DevFillRect(const TRect& r, TColor rgb, TBrushStyle style) {
  if (style == bsClear) return;
  const uint32_t p = ToArgb(rgb);
  for (int32_t y = r.Top; y < r.Bottom; ++y)
    for (int32_t x = r.Left; x < r.Right; ++x) Put(x, y, p);
}

void TRVPixelCanvas::DevRectangle(const TRect& r) {
  const bool pen = Pen().Style != psClear;
  if (Brush().Style() != bsClear) {
    const int32_t in = pen ? 1 : 0;
    DevFillRect(TRect{r.Left + in, r.Top + in, r.Right - in, r.Bottom - in}, Brush().Color(), bsSolid);
  }
  if (!pen) return;
  const uint32_t p = ToArgb(Pen().Color);
  for (int32_t x = r.Left; x < r.Right; ++x) Put(x, r.Top, p), Put(x, r.Bottom - 1, p);
  for (int32_t y = r.Top; y < r.Bottom; ++y) Put(r.Left, y, p), Put(r.Right - 1, y, p);
}

TColor TRVPixelCanvas::DevPixel(int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= image_.Width || y >= image_.Height) return clNone;
  return FromArgb(image_.At(x, y));
}

void TRVPixelCanvas::DevSetPixel(int32_t x, int32_t y, TColor rgb) {
  if (x < 0 || y < 0 || x >= image_.Width || y >= image_.Height) return;
  image_.Set(x, y, ToArgb(rgb));
}

void TRVPixelCanvas::DevStretchPixels(const TRect& dest, const TPixelImage& image, const TRect& src_rect) {
  const int32_t dw = dest.Right - dest.Left, dh = dest.Bottom - dest.Top;
  const int32_t sw = src_rect.Right - src_rect.Left, sh = src_rect.Bottom - src_rect.Top;
  if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
  for (int32_t y = 0; y < dh; ++y) {
    const int32_t sy = src_rect.Top + static_cast<int32_t>(int64_t{y} * sh / dh);
    if (sy < 0 || sy >= image.Height) continue;
    for (int32_t x = 0; x < dw; ++x) {
      const int32_t sx = src_rect.Left + static_cast<int32_t>(int64_t{x} * sw / dw);
      if (sx < 0 || sx >= image.Width) continue;
      Put(dest.Left + x, dest.Top + y, image.At(sx, sy));
    }
  }
}

}  // namespace pelvar
