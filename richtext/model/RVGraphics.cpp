#include "richtext/model/RVGraphics.h"

#include <algorithm>

#include "platform/sysutils.h"
#include "richtext/model/RVJPEG.h"

namespace pelvar {

namespace {
uint32_t Le(const std::string& s, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}
uint32_t Be(const std::string& s, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v << 8) | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}
void PutLe(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::string ReadRest(TStream& stream) {
  const int64_t n = stream.Size() - stream.Position();
  std::string s(static_cast<size_t>(std::max<int64_t>(n, 0)), '\0');
  if (n > 0) stream.ReadBuffer(s.data(), n);
  return s;
}
void Placeholder(TCanvas& canvas, const TRect& rect) {
  canvas.Brush().SetColor(clWhite);
  canvas.Pen().Color = clGray;
  canvas.Rectangle(rect);
}
}  // namespace

// ---- Bitmap ------------------------------------------------------------------------------------

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) {
  canvas.StretchPixels(rect, Image, TRect{0, 0, Image.Width, Image.Height});
}

void TBitmap::SaveToStream(TStream& stream) const {
  const int32_t line = BytesPerScanLine();
  const uint32_t data_size = static_cast<uint32_t>(line) * static_cast<uint32_t>(Image.Height);
  std::string s;
  s += "BM";
  PutLe(s, 54 + data_size, 4);
  PutLe(s, 0, 4);
  PutLe(s, 54, 4);
  PutLe(s, 40, 4);
  PutLe(s, static_cast<uint32_t>(Image.Width), 4);
  PutLe(s, static_cast<uint32_t>(Image.Height), 4);
  PutLe(s, 1, 2);
  PutLe(s, 24, 2);
  PutLe(s, 0, 4);
  PutLe(s, data_size, 4);
  PutLe(s, 3780, 4);  // 96 dpi
  PutLe(s, 3780, 4);
  PutLe(s, 0, 4);
  PutLe(s, 0, 4);
  for (int32_t y = Image.Height - 1; y >= 0; --y) {
    const size_t row_start = s.size();
    for (int32_t x = 0; x < Image.Width; ++x) {
      const uint32_t p = Image.At(x, y);
      s += static_cast<char>(p & 0xFF);
      s += static_cast<char>((p >> 8) & 0xFF);
      s += static_cast<char>((p >> 16) & 0xFF);
    }
    s.append(static_cast<size_t>(line) - (s.size() - row_start), '\0');
  }
  stream.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
}

void TBitmap::LoadFromStream(TStream& stream) {
  const std::string s = ReadRest(stream);
  if (s.size() < 54 || s[0] != 'B' || s[1] != 'M') throw EInvalidGraphic("Bitmap image is not valid");
  const uint32_t offset = Le(s, 10, 4);
  const int32_t w = static_cast<int32_t>(Le(s, 18, 4));
  int32_t h = static_cast<int32_t>(Le(s, 22, 4));
  const uint32_t bpp = Le(s, 28, 2), compression = Le(s, 30, 4);
  const bool top_down = h < 0;
  if (top_down) h = -h;
  if (w <= 0 || h <= 0 || w > 65535 || h > 65535 || (bpp != 24 && bpp != 32) || (compression != 0 && compression != 3))
    throw EInvalidGraphic("Bitmap image is not valid");
  const int64_t line = (int64_t{w} * (bpp / 8) + 3) / 4 * 4;
  if (offset + line * h > static_cast<int64_t>(s.size())) throw EInvalidGraphic("Bitmap image is not valid");
  TPixelImage img(w, h);
  for (int32_t row = 0; row < h; ++row) {
    const size_t base = offset + static_cast<size_t>(line * row);
    const int32_t y = top_down ? row : h - 1 - row;
    for (int32_t x = 0; x < w; ++x) {
      const size_t p = base + static_cast<size_t>(x) * (bpp / 8);
      img.Set(x, y, 0xFF000000u | Le(s, p, 3));
    }
  }
  Image = std::move(img);
}

// ---- Pictures kept as bytes --------------------------------------------------------------------

void TRVEncodedGraphic::Draw(TCanvas& canvas, const TRect& rect) {
  if (!decode_tried_) {
    decode_tried_ = true;
    auto image = std::make_shared<TPixelImage>();
    if (Decode(*image) && image->Width > 0 && image->Height > 0) decoded_ = std::move(image);
  }
  if (decoded_)
    canvas.StretchPixels(rect, *decoded_, TRect{0, 0, decoded_->Width, decoded_->Height});
  else
    Placeholder(canvas, rect);
}

void TRVEncodedGraphic::SaveToStream(TStream& stream) const {
  stream.WriteBuffer(Data.data(), static_cast<int64_t>(Data.size()));
}

void TRVEncodedGraphic::LoadFromStream(TStream& stream) {
  std::string old;
  old.swap(Data);
  Data = ReadRest(stream);
  try {
    ParseHeader();
  } catch (...) {
    Data.swap(old);
    throw;
  }
  decoded_.reset();
  decode_tried_ = false;
}

void TJPEGImage::ParseHeader() {
  const std::string& s = Data;
  if (s.size() < 4 || static_cast<uint8_t>(s[0]) != 0xFF || static_cast<uint8_t>(s[1]) != 0xD8)
    throw EInvalidGraphic("JPEG error #53");
  size_t p = 2;
  while (p + 4 <= s.size()) {
    if (static_cast<uint8_t>(s[p]) != 0xFF) throw EInvalidGraphic("JPEG error #53");
    const uint8_t marker = static_cast<uint8_t>(s[p + 1]);
    if (marker == 0xFF) {
      ++p;
      continue;
    }
    const uint32_t len = Be(s, p + 2, 2);
    const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
    if (sof) {
      if (p + 9 > s.size()) break;
      height_ = static_cast<int32_t>(Be(s, p + 5, 2));
      width_ = static_cast<int32_t>(Be(s, p + 7, 2));
      return;
    }
    if (len < 2) break;
    p += 2 + len;
  }
  throw EInvalidGraphic("JPEG error #53");
}

bool TJPEGImage::Decode(TPixelImage& image) const { return RVDecodeJPEG(Data, image); }

bool TPNGImage::Decode(TPixelImage& image) const { return RVDecodePNG(Data, image); }

void TPNGImage::ParseHeader() {
  static const char sig[] = "\x89PNG\r\n\x1a\n";
  if (Data.size() < 24 || Data.compare(0, 8, sig, 8) != 0 || Data.compare(12, 4, "IHDR") != 0)
    throw EInvalidGraphic("The PNG image is not valid");
  width_ = static_cast<int32_t>(Be(Data, 16, 4));
  height_ = static_cast<int32_t>(Be(Data, 20, 4));
}

// ---- Metafile ----------------------------------------------------------------------------------

void TMetafile::ParseHeader() {
  // Placeable header: key 0x9AC6CDD7, handle, left, top, right, bottom (16-bit), inch.
  if (Data.size() < 22 + 18 || Le(Data, 0, 4) != 0x9AC6CDD7u) throw EInvalidGraphic("Invalid metafile");
  const auto i16 = [&](size_t at) { return static_cast<int16_t>(Le(Data, at, 2)); };
  const int32_t w = i16(10) - i16(6), h = i16(12) - i16(8);
  Inch = static_cast<int32_t>(Le(Data, 14, 2));
  const int32_t inch = Inch > 0 ? Inch : 1440;
  width_ = w * 96 / inch;
  height_ = h * 96 / inch;
  Enhanced = false;
}

int32_t TMetafile::MMWidth() const { return width_ * 2540 / 96; }
int32_t TMetafile::MMHeight() const { return height_ * 2540 / 96; }

void TMetafile::SetEmpty(int32_t width, int32_t height) {
  Inch = 1440;
  const int32_t w = width * 1440 / 96, h = height * 1440 / 96;
  std::string s;
  PutLe(s, 0x9AC6CDD7u, 4);
  PutLe(s, 0, 2);
  PutLe(s, 0, 2);
  PutLe(s, 0, 2);
  PutLe(s, static_cast<uint32_t>(w), 2);
  PutLe(s, static_cast<uint32_t>(h), 2);
  PutLe(s, 1440, 2);
  PutLe(s, 0, 4);
  uint16_t check = 0;
  for (size_t i = 0; i < 20; i += 2) check ^= static_cast<uint16_t>(Le(s, i, 2));
  PutLe(s, check, 2);
  // The metafile header (9 words) and the end-of-file record (3 words).
  PutLe(s, 1, 2);
  PutLe(s, 9, 2);
  PutLe(s, 0x0300, 2);
  PutLe(s, 9 + 3, 4);
  PutLe(s, 0, 2);
  PutLe(s, 3, 4);
  PutLe(s, 0, 2);
  PutLe(s, 3, 4);
  PutLe(s, 0, 2);
  Data = s;
  ParseHeader();
}

// ---- Factory -----------------------------------------------------------------------------------

AnsiString RVGraphicClassName(const TGraphic* g) {
  if (dynamic_cast<const TBitmap*>(g)) return "TBitmap";
  if (dynamic_cast<const TJPEGImage*>(g)) return "TJPEGImage";
  if (dynamic_cast<const TPNGImage*>(g)) return "TPNGImage";
  if (dynamic_cast<const TMetafile*>(g)) return "TMetafile";
  return AnsiString();
}

std::unique_ptr<TGraphic> RVCreateGraphic(const AnsiString& name) {
  if (SameText(name, "TBitmap")) return std::make_unique<TBitmap>();
  if (SameText(name, "TJPEGImage")) return std::make_unique<TJPEGImage>();
  if (SameText(name, "TPNGImage")) return std::make_unique<TPNGImage>();
  if (SameText(name, "TMetafile")) return std::make_unique<TMetafile>();
  return nullptr;
}

std::unique_ptr<TGraphic> RVCopyGraphic(const TGraphic* g) {
  if (!g) return nullptr;
  if (auto* b = dynamic_cast<const TBitmap*>(g)) return std::make_unique<TBitmap>(*b);
  if (auto* j = dynamic_cast<const TJPEGImage*>(g)) return std::make_unique<TJPEGImage>(*j);
  if (auto* p = dynamic_cast<const TPNGImage*>(g)) return std::make_unique<TPNGImage>(*p);
  if (auto* m = dynamic_cast<const TMetafile*>(g)) return std::make_unique<TMetafile>(*m);
  return nullptr;
}

}  // namespace pelvar
