// An image list: equal-sized images kept by index, drawn transparently (pixels with alpha 0
// show what lies below) and optionally blended half and half with a colour (how selected
// bullets are shown). Bullets, hotspots and image-list list levels refer to one without
// owning it; the native format names it by its Tag.
//
// Also a canvas that paints into a block of pixels, for the bitmaps made from images
// (printing and the picture files of an HTML export): it fills, draws pictures and
// outlines rectangles; text and other figures leave it unchanged.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/canvas.h"
#include "platform/classes.h"
#include "richtext/model/RVGraphics.h"

namespace pelvar {

class TCustomImageList : public TComponent {
 public:
  explicit TCustomImageList(TComponent* owner, int32_t width = 16, int32_t height = 16);

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  // A new image size removes every image.
  void SetSize(int32_t width, int32_t height);
  int32_t Count() const { return static_cast<int32_t>(images_.size()); }

  // Appends the image (of the list's size: anything else raises EInvalidOperation
  // "Invalid image size") and returns its index.
  int32_t Add(const TBitmap& image);
  int32_t AddPixels(const TPixelImage& image);
  void Delete(int32_t index);
  void Clear() { images_.clear(); }
  // The pixels of image index; raises EListError for an index out of range.
  const TPixelImage& Image(int32_t index) const;

  // Draws image index with its top left corner at (x, y), blended 50% with blend unless it
  // is clNone; nothing for an index out of range (as the platform's image-list drawing).
  void Draw(TCanvas& canvas, int32_t x, int32_t y, int32_t index, TColor blend = clNone) const;
  // Image index as a bitmap of the list's size, drawn over white; false (bitmap
  // untouched) for an index out of range.
  bool GetBitmap(int32_t index, TBitmap& bitmap) const;

 private:
  int32_t width_, height_;
  std::vector<TPixelImage> images_;
};

// Draws on the pixels of a bitmap (device pixels are the bitmap's).
class TRVPixelCanvas : public TCanvas {
 public:
  explicit TRVPixelCanvas(TPixelImage& image);
  TTextMetrics& Metrics() override { return metrics_; }
  TSize SurfaceSize() const override { return TSize{image_.Width, image_.Height}; }

 protected:
  void DevPolyline(const std::vector<TPoint>&) override {}
  void DevPolygon(const std::vector<TPoint>&) override {}
  void DevRectangle(const TRect& r) override;
  void DevEllipse(const TRect&) override {}
  void DevFillRect(const TRect& r, TColor rgb, TBrushStyle style) override;
  void DevFocusRect(const TRect&) override {}
  TColor DevPixel(int32_t x, int32_t y) override;
  void DevSetPixel(int32_t x, int32_t y, TColor rgb) override;
  void DevText(int32_t, int32_t, const WideString&, const std::vector<int32_t>&, const TRect*) override {}
  void DevStretchPixels(const TRect& dest, const TPixelImage& image, const TRect& src_rect) override;

 private:
  TPixelImage& image_;
  TSyntheticTextMetrics metrics_;
  void Put(int32_t x, int32_t y, uint32_t argb);
};

}  // namespace pelvar
