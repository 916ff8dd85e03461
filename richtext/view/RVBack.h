// The background of documents, tables and cells: a colour given by the caller plus an
// optional picture stretched, tiled (fixed to the area or scrolling with the text),
// centred or anchored to a corner; drawn on screen and on printed pages.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/canvas.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/RVFuncs.h"

namespace pelvar {

enum TBackgroundStyle : uint8_t {
  bsNoBitmap,
  bsStretched,
  bsTiled,
  bsTiledAndScrolled,
  bsCentered,
  bsTopLeft,
  bsTopRight,
  bsBottomLeft,
  bsBottomRight
};
enum TRVItemBackgroundStyle : uint8_t { rvbsColor, rvbsStretched, rvbsTiled, rvbsCentered };

// A picture of pixels (the framework's bitmap): copied pixel for pixel, stretched when
// the rectangle differs from its size.
class TRVBitmap : public TGraphic {
 public:
  TRVBitmap() = default;
  TRVBitmap(int32_t width, int32_t height, uint32_t fill = 0xFFFFFFFFu) : Image(width, height, fill) {}
  TPixelImage Image;
  bool TransparentFlag = false;
  std::function<void()> OnChange;

  int32_t Width() const override { return Image.Width; }
  int32_t Height() const override { return Image.Height; }
  bool Transparent() const override { return TransparentFlag; }
  void Draw(TCanvas& canvas, const TRect& rect) override {
    canvas.StretchPixels(rect, Image, TRect{0, 0, Image.Width, Image.Height});
  }
  void Changed() {
    if (OnChange) OnChange();
  }
};

class TCustomRVFormattedData;

class TRVBackground {
 public:
  explicit TRVBackground(bool create_bitmap);
  ~TRVBackground();

  TBackgroundStyle Style = bsNoBitmap;
  TGraphic* Image() const { return image_.get(); }
  TGraphic* ImageCopy() const { return image_copy_.get(); }
  TGraphic* GetImage() const { return image_.get(); }

  void Draw(TCanvas& canvas, const TRect& rect, bool clip, TColor color, int32_t area_height, int32_t area_width,
            int32_t area_top, int32_t area_left, int32_t vscroll, int32_t hscroll);
  // A printed page: rect of a page whose text area is page_rect, device pixels.
  void Print(TCanvas& canvas, const TRect& rect, TColor color, const TRVScreenAndDevice& sad, const TRect& page_rect);
  // Takes graphic (copy: a copy of it; else the background owns graphic from now on).
  void AssignImage(TGraphic* graphic, TCustomRVData* rvdata, bool copy);
  void SetImage(std::unique_ptr<TGraphic> graphic) { image_ = std::move(graphic); }
  void FreeImages();
  void UpdatePaletted(TRVPaletteAction action, void* log_palette);

  TRVItemBackgroundStyle GetItemBackStyle() const;
  void SetItemBackStyle(TRVItemBackgroundStyle value);
  bool IsEmpty() const { return Style == bsNoBitmap && !HasImage(); }
  bool HasVisibleImage() const { return Style != bsNoBitmap && HasImage(); }
  bool NeedsColorUnderImage() const;
  bool ScrollNeedsFullRedraw() const { return HasImage() && Style != bsNoBitmap && Style != bsTiledAndScrolled; }

 private:
  bool HasImage() const { return image_ && !image_->Empty(); }
  void Put(TCanvas& canvas, TGraphic* g, int32_t x, int32_t y);
  std::unique_ptr<TGraphic> image_;
  std::unique_ptr<TGraphic> image_copy_;
};

}  // namespace pelvar
