#include "richtext/model/RVGraphics.h"

#include <algorithm>
#include <vector>

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

TColor TBitmap::TransparentColor() const {
  if (transparent_mode_ == tmFixed) return transparent_color_;
  if (Image.Width <= 0 || Image.Height <= 0) return clDefault;
  const uint32_t p = Image.At(0, Image.Height - 1);
  return RGB(static_cast<uint8_t>(p >> 16), static_cast<uint8_t>(p >> 8), static_cast<uint8_t>(p));
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect) {
  const TRect src{0, 0, Image.Width, Image.Height};
  const TColor key = transparent_ ? TransparentColor() : clNone;
  if (key == clNone || key == clDefault) {
    canvas.StretchPixels(rect, Image, src);
    return;
  }
  // The pixels of the transparent colour become fully transparent.
  const uint32_t rgb = static_cast<uint32_t>(ColorToRGB(key));
  const uint32_t argb = (rgb & 0xFF) << 16 | (rgb & 0xFF00) | (rgb >> 16 & 0xFF);
  TPixelImage masked = Image;
  for (uint32_t& p : masked.Pixels)
    if ((p & 0xFFFFFFu) == argb) p = 0;
  canvas.StretchPixels(rect, masked, src);
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

namespace {

[[noreturn]] void InvalidBitmap() { throw EInvalidGraphic("Bitmap image is not valid"); }

// A run-length bitmap above this many pixels must hold at least one two-byte code per row
// (the end-of-line code every encoder writes): a header of a few bytes cannot make the
// program fill a picture of millions of pixels. Smaller ones may end early (the rest black).
constexpr int64_t kRleFreePixels = int64_t{1} << 20;

// One colour channel of a pixel under a bit mask, scaled to 8 bits.
uint32_t Channel(uint32_t value, uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctz(mask);
  const uint32_t max = mask >> shift;
  return static_cast<uint32_t>((uint64_t{(value & mask) >> shift} * 255 + max / 2) / max);
}

// The pixels of a run-length encoded bitmap (8 or 4 bits per pixel), bottom-up; pixels the
// runs skip stay black.
void DecodeRle(const std::string& s, size_t at, int32_t bpp, const std::vector<uint32_t>& palette, TPixelImage& img) {
  const auto colour = [&](uint32_t index) { return index < palette.size() ? palette[index] : 0xFF000000u; };
  int32_t x = 0, row = 0;
  const auto put = [&](uint32_t index) {
    if (x < img.Width && row < img.Height) img.Set(x, img.Height - 1 - row, colour(index));
    ++x;
  };
  while (at + 2 <= s.size() && row < img.Height) {
    const uint8_t count = static_cast<uint8_t>(s[at]), value = static_cast<uint8_t>(s[at + 1]);
    at += 2;
    if (count > 0) {
      for (int32_t i = 0; i < count; ++i) put(bpp == 8 ? value : (i % 2 == 0 ? value >> 4 : value & 0x0F));
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++row;
    } else if (value == 1) {  // end of bitmap
      return;
    } else if (value == 2) {  // move right and up
      if (at + 2 > s.size()) return;
      x += static_cast<uint8_t>(s[at]);
      row += static_cast<uint8_t>(s[at + 1]);
      at += 2;
    } else {  // a run of single pixels, padded to a word
      const size_t bytes = bpp == 8 ? value : (value + 1u) / 2;
      if (at + bytes > s.size()) return;
      for (int32_t i = 0; i < value; ++i) {
        const uint8_t b = static_cast<uint8_t>(s[at + (bpp == 8 ? i : i / 2)]);
        put(bpp == 8 ? b : (i % 2 == 0 ? b >> 4 : b & 0x0F));
      }
      at += (bytes + 1) / 2 * 2;
    }
  }
}

}  // namespace

// Every uncompressed depth (1, 4 and 8 bits with a colour table, 16, 24 and 32 bits, with
// or without colour masks), run-length encoded 8- and 4-bit bitmaps, and the old 12-byte
// bitmap header with its 3-byte colour table.
void TBitmap::LoadFromStream(TStream& stream) {
  const std::string s = ReadRest(stream);
  if (s.size() < 14 + 12 || s[0] != 'B' || s[1] != 'M') InvalidBitmap();
  const uint32_t header = Le(s, 14, 4);
  const bool core = header == 12;
  if (!core && (header < 40 || 14 + uint64_t{header} > s.size())) InvalidBitmap();
  int64_t w = 0, h = 0;
  uint32_t bpp = 0, compression = 0, used = 0;
  if (core) {
    w = Le(s, 18, 2);
    h = Le(s, 20, 2);
    bpp = Le(s, 24, 2);
  } else {
    w = static_cast<int32_t>(Le(s, 18, 4));
    h = static_cast<int32_t>(Le(s, 22, 4));
    bpp = Le(s, 28, 2);
    compression = Le(s, 30, 4);
    used = Le(s, 46, 4);
  }
  const bool top_down = h < 0;
  if (top_down) h = -h;
  const bool rle = (compression == 1 && bpp == 8) || (compression == 2 && bpp == 4);
  const bool masks = compression == 3 && (bpp == 16 || bpp == 32);
  if (w <= 0 || h <= 0 || w > 65535 || h > 65535 || (top_down && rle)) InvalidBitmap();
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) InvalidBitmap();
  if (compression != 0 && !rle && !masks) InvalidBitmap();
  // As many pixels as a decoded JPEG or PNG picture may have, whatever the depth.
  if (w * h > RV_MAX_DECODED_PIXELS) InvalidBitmap();
  // The colour masks follow a 40-byte header and are part of the longer ones.
  size_t at = 14 + header;
  uint32_t red = 0x00FF0000u, green = 0x0000FF00u, blue = 0x000000FFu;
  if (bpp == 16) red = 0x7C00, green = 0x03E0, blue = 0x001F;
  if (masks) {
    const size_t m = header == 40 ? at : 14 + 40;
    if (m + 12 > s.size()) InvalidBitmap();
    red = Le(s, m, 4), green = Le(s, m + 4, 4), blue = Le(s, m + 8, 4);
    if (header == 40) at += 12;
  }
  std::vector<uint32_t> palette;
  if (bpp <= 8) {
    const size_t entry = core ? 3 : 4;
    const size_t count = std::min<size_t>(used ? used : (1u << bpp), 256);
    for (size_t i = 0; i < count && at + entry <= s.size(); ++i, at += entry) palette.push_back(0xFF000000u | Le(s, at, 3));
  }
  // The bits start where the file header says, or right after the colour table when the
  // offset leads into the headers or beyond the file.
  uint64_t offset = Le(s, 10, 4);
  if (offset < at || offset >= s.size()) offset = at;
  // The data must be there before the pixels are made.
  const int64_t data_size = static_cast<int64_t>(s.size()) - static_cast<int64_t>(offset);
  if (rle) {
    if (w * h > kRleFreePixels && data_size / 2 < h) InvalidBitmap();
    TPixelImage img(static_cast<int32_t>(w), static_cast<int32_t>(h), 0xFF000000u);
    DecodeRle(s, static_cast<size_t>(offset), static_cast<int32_t>(bpp), palette, img);
    Image = std::move(img);
    return;
  }
  const int64_t line = (w * bpp + 31) / 32 * 4;
  if (line * h > data_size) InvalidBitmap();
  TPixelImage img(static_cast<int32_t>(w), static_cast<int32_t>(h), 0xFF000000u);
  const auto colour = [&](uint32_t index) { return index < palette.size() ? palette[index] : 0xFF000000u; };
  for (int64_t row = 0; row < h; ++row) {
    const size_t base = static_cast<size_t>(offset + line * row);
    const int32_t y = static_cast<int32_t>(top_down ? row : h - 1 - row);
    for (int32_t x = 0; x < w; ++x) {
      uint32_t p = 0;
      switch (bpp) {
        case 1: p = colour((static_cast<uint8_t>(s[base + x / 8]) >> (7 - x % 8)) & 1); break;
        case 4: p = colour((static_cast<uint8_t>(s[base + x / 2]) >> (x % 2 == 0 ? 4 : 0)) & 0x0F); break;
        case 8: p = colour(static_cast<uint8_t>(s[base + x])); break;
        case 24: p = 0xFF000000u | Le(s, base + static_cast<size_t>(x) * 3, 3); break;
        default: {
          const uint32_t v = Le(s, base + static_cast<size_t>(x) * (bpp / 8), static_cast<int>(bpp / 8));
          p = 0xFF000000u | Channel(v, red) << 16 | Channel(v, green) << 8 | Channel(v, blue);
        }
      }
      img.Set(x, y, p);
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
  // An enhanced metafile: its first record is the header (type 1) with the signature
  // " EMF" and the picture frame (left, top, right, bottom) in 0.01 mm.
  if (Data.size() >= 88 && Le(Data, 0, 4) == 1 && Le(Data, 40, 4) == 0x464D4520u) {
    const uint32_t header = Le(Data, 4, 4);
    const auto i32 = [&](size_t at) { return int64_t{static_cast<int32_t>(Le(Data, at, 4))}; };
    const int64_t mw = i32(32) - i32(24), mh = i32(36) - i32(28);
    if (header < 88 || header > Data.size() || mw < 0 || mh < 0 || mw > 10000000 || mh > 10000000)
      throw EInvalidGraphic("Invalid metafile");
    mm_width_ = static_cast<int32_t>(mw);
    mm_height_ = static_cast<int32_t>(mh);
    width_ = static_cast<int32_t>((mw * 96 + 1270) / 2540);
    height_ = static_cast<int32_t>((mh * 96 + 1270) / 2540);
    Inch = 0;
    Enhanced = true;
    return;
  }
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

int32_t TMetafile::MMWidth() const { return Enhanced ? mm_width_ : width_ * 2540 / 96; }
int32_t TMetafile::MMHeight() const { return Enhanced ? mm_height_ : height_ * 2540 / 96; }

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

std::unique_ptr<TBitmap> RVMakeBadPicture() {
  constexpr int32_t n = 20;
  auto b = std::make_unique<TBitmap>(n, n);
  for (int32_t i = 0; i < n; ++i) {
    b->Image.Set(i, 0, 0xFF808080u), b->Image.Set(i, n - 1, 0xFF808080u);
    b->Image.Set(0, i, 0xFF808080u), b->Image.Set(n - 1, i, 0xFF808080u);
    if (i >= 4 && i < n - 4) b->Image.Set(i, i, 0xFFFF0000u), b->Image.Set(n - 1 - i, i, 0xFFFF0000u);
  }
  return b;
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
