// The picture classes items hold: a bitmap of pixels with the Windows bitmap file format,
// JPEG and PNG pictures kept as their own bytes (written back unchanged; their size read
// from the header; decoded when first painted, a framed placeholder when the bytes do not
// decode), and a metafile container that reads a placeable metafile header and writes a
// one-record metafile (painted as a placeholder: Linux has no metafile player). The graphic
// factory makes a picture from its class name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/canvas.h"
#include "platform/streams.h"
#include "platform/types.h"

namespace pelvar {

// How a transparent bitmap chooses its transparent colour: the colour of its bottom-left
// pixel, or the colour set.
enum TTransparentMode : uint8_t { tmAuto, tmFixed };

class TBitmap : public TGraphic {
 public:
  TBitmap() = default;
  TBitmap(int32_t width, int32_t height, uint32_t fill = 0xFFFFFFFFu) : Image(width, height, fill) {}
  TPixelImage Image;
  int32_t Width() const override { return Image.Width; }
  int32_t Height() const override { return Image.Height; }
  // A transparent bitmap draws every pixel but those of its transparent colour. Loading
  // other pixels keeps these settings; setting the colour makes the mode fixed.
  bool Transparent() const override { return transparent_; }
  void SetTransparent(bool value) { transparent_ = value; }
  TTransparentMode TransparentMode() const { return transparent_mode_; }
  void SetTransparentMode(TTransparentMode value) { transparent_mode_ = value; }
  // The fixed colour, or the bottom-left pixel's in automatic mode (clDefault when empty).
  TColor TransparentColor() const;
  void SetTransparentColor(TColor value) {
    transparent_color_ = value;
    transparent_mode_ = tmFixed;
  }
  void Draw(TCanvas& canvas, const TRect& rect) override;
  // Writes a 24-bit bottom-up bitmap file (14-byte file header, 40-byte info header);
  // reads bitmap files of every depth (colour tables, colour masks, run-length encoding)
  // and raises EInvalidGraphic for what is no bitmap file.
  void SaveToStream(TStream& stream) const override;
  void LoadFromStream(TStream& stream) override;
  // Bytes per stored row (rows are padded to 4 bytes).
  int32_t BytesPerScanLine() const { return (Image.Width * 3 + 3) / 4 * 4; }

 private:
  bool transparent_ = false;
  TTransparentMode transparent_mode_ = tmAuto;
  TColor transparent_color_ = clDefault;
};

// A picture stored as the bytes of its own file format.
class TRVEncodedGraphic : public TGraphic {
 public:
  std::string Data;
  int32_t Width() const override { return width_; }
  int32_t Height() const override { return height_; }
  // The decoded pixels stretched over rect; a framed placeholder when the format has no
  // decoder here or the bytes do not decode.
  void Draw(TCanvas& canvas, const TRect& rect) override;
  void SaveToStream(TStream& stream) const override;
  void LoadFromStream(TStream& stream) override;

 protected:
  // Reads the size from Data; raises EInvalidGraphic when the bytes are not of the format.
  virtual void ParseHeader() = 0;
  // The pixels of Data; false when there is no decoder or the bytes do not decode.
  virtual bool Decode(TPixelImage&) const { return false; }
  int32_t width_ = 0, height_ = 0;

 private:
  // Decoded on the first Draw after the bytes were loaded (shared by copies).
  std::shared_ptr<const TPixelImage> decoded_;
  bool decode_tried_ = false;
};

class TJPEGImage : public TRVEncodedGraphic {
 protected:
  void ParseHeader() override;
  bool Decode(TPixelImage& image) const override;
};

class TPNGImage : public TRVEncodedGraphic {
 protected:
  void ParseHeader() override;
  bool Decode(TPixelImage& image) const override;
};

// A Windows metafile (the placeable header with its bounding box and units per inch, and
// the records after it) or an enhanced metafile (Enhanced: its header gives the frame in
// 0.01 mm), kept as it came.
class TMetafile : public TRVEncodedGraphic {
 public:
  bool Enhanced = false;
  int32_t Inch = 0;
  // Size in 0.01 mm.
  int32_t MMWidth() const;
  int32_t MMHeight() const;
  // An empty metafile of the given size (pixels): one end-of-file record.
  void SetEmpty(int32_t width, int32_t height);

 protected:
  void ParseHeader() override;

 private:
  int32_t mm_width_ = 0, mm_height_ = 0;  // the frame of an enhanced metafile
};

// The class name of a picture ("TBitmap", "TJPEGImage", "TPNGImage", "TMetafile") and a
// new picture of a class (nullptr for an unknown name).
AnsiString RVGraphicClassName(const TGraphic* graphic);
std::unique_ptr<TGraphic> RVCreateGraphic(const AnsiString& class_name);
std::unique_ptr<TGraphic> RVCopyGraphic(const TGraphic* graphic);
// The program's mark of a picture that does not load: a red cross in a grey frame on white,
// 20 x 20 pixels.
std::unique_ptr<TBitmap> RVMakeBadPicture();

class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace pelvar
