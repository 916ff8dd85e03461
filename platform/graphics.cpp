#include "platform/graphics.h"

#include <algorithm>
#include <array>
#include <limits>

namespace pelvar {

namespace {

// The classic Windows scheme, by system colour index.
constexpr std::array<TColor, 31> kSysColors = {
    RGB(212, 208, 200),  // 0 scroll bar
    RGB(58, 110, 165),   // 1 desktop
    RGB(10, 36, 106),    // 2 active caption
    RGB(128, 128, 128),  // 3 inactive caption
    RGB(212, 208, 200),  // 4 menu
    RGB(255, 255, 255),  // 5 window
    RGB(0, 0, 0),        // 6 window frame
    RGB(0, 0, 0),        // 7 menu text
    RGB(0, 0, 0),        // 8 window text
    RGB(255, 255, 255),  // 9 caption text
    RGB(212, 208, 200),  // 10 active border
    RGB(212, 208, 200),  // 11 inactive border
    RGB(128, 128, 128),  // 12 application work space
    RGB(10, 36, 106),    // 13 highlight
    RGB(255, 255, 255),  // 14 highlight text
    RGB(212, 208, 200),  // 15 button face
    RGB(128, 128, 128),  // 16 button shadow
    RGB(128, 128, 128),  // 17 grey text
    RGB(0, 0, 0),        // 18 button text
    RGB(212, 208, 200),  // 19 inactive caption text
    RGB(255, 255, 255),  // 20 button highlight
    RGB(64, 64, 64),     // 21 3-D dark shadow
    RGB(212, 208, 200),  // 22 3-D light
    RGB(0, 0, 0),        // 23 tool-tip text
    RGB(255, 255, 225),  // 24 tool-tip background
    RGB(0, 0, 0),        // 25 (unused)
    RGB(0, 0, 128),      // 26 hot-tracked item
    RGB(166, 202, 240),  // 27 gradient of the active caption
    RGB(192, 192, 192),  // 28 gradient of the inactive caption
    RGB(10, 36, 106),    // 29 menu highlight
    RGB(212, 208, 200),  // 30 menu bar
};

}  // namespace

TColor GetSysColor(int index) {
  if (index < 0 || index >= static_cast<int>(kSysColors.size())) return 0;
  return kSysColors[static_cast<size_t>(index)];
}

TColor ColorToRGB(TColor color) {
  if (color < 0) return GetSysColor(color & 0xFF);
  return color;
}

bool IsRectEmpty(const TRect& r) { return r.Right <= r.Left || r.Bottom <= r.Top; }

bool PtInRect(const TRect& r, const TPoint& p) {
  return p.X >= r.Left && p.X < r.Right && p.Y >= r.Top && p.Y < r.Bottom;
}

void InflateRect(TRect& r, int32_t dx, int32_t dy) {
  r.Left -= dx;
  r.Right += dx;
  r.Top -= dy;
  r.Bottom += dy;
}

void OffsetRect(TRect& r, int32_t dx, int32_t dy) {
  r.Left += dx;
  r.Right += dx;
  r.Top += dy;
  r.Bottom += dy;
}

bool IntersectRect(TRect& dest, const TRect& a, const TRect& b) {
  TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
          std::min(a.Bottom, b.Bottom)};
  if (IsRectEmpty(r)) {
    dest = TRect{};
    return false;
  }
  dest = r;
  return true;
}

int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator) {
  if (denominator == 0) return -1;
  int64_t product = static_cast<int64_t>(number) * numerator;
  int64_t d = denominator;
  bool negative = (product < 0) != (d < 0);
  uint64_t p = product < 0 ? static_cast<uint64_t>(-product) : static_cast<uint64_t>(product);
  uint64_t q = d < 0 ? static_cast<uint64_t>(-d) : static_cast<uint64_t>(d);
  uint64_t result = (p + q / 2) / q;
  if (result > static_cast<uint64_t>(std::numeric_limits<int32_t>::max())) return -1;
  int64_t r = static_cast<int64_t>(result);
  return static_cast<int32_t>(negative ? -r : r);
}

// ---- TFont ------------------------------------------------------------------------

TFont::TFont(const TFont& other) { Assign(other); }

TFont& TFont::operator=(const TFont& other) {
  if (this != &other) Assign(other);
  return *this;
}

void TFont::Changed() {
  if (OnChange) OnChange(*this);
}

void TFont::SetName(const AnsiString& v) {
  if (v.empty() || v == name_) return;
  name_ = v;
  Changed();
}

int32_t TFont::Size() const { return -MulDiv(height_, 72, pixels_per_inch_); }

void TFont::SetSize(int32_t points) { SetHeight(-MulDiv(points, pixels_per_inch_, 72)); }

void TFont::SetHeight(int32_t pixels) {
  if (pixels == height_) return;
  height_ = pixels;
  Changed();
}

void TFont::SetStyle(TFontStyles v) {
  if (v == style_) return;
  style_ = v;
  Changed();
}

void TFont::SetCharset(TFontCharset v) {
  if (v == charset_) return;
  charset_ = v;
  Changed();
}

void TFont::SetColor(TColor v) {
  if (v == color_) return;
  color_ = v;
  Changed();
}

void TFont::SetPitch(TFontPitch v) {
  if (v == pitch_) return;
  pitch_ = v;
  Changed();
}

void TFont::SetPixelsPerInch(int32_t v) {
  if (v <= 0 || v == pixels_per_inch_) return;
  pixels_per_inch_ = v;
  Changed();
}

void TFont::SetWidth(int32_t v) {
  if (v == width_) return;
  width_ = v;
  Changed();
}

void TFont::Assign(const TFont& source) {
  if (&source == this) return;
  name_ = source.name_;
  height_ = source.height_;
  pixels_per_inch_ = source.pixels_per_inch_;
  style_ = source.style_;
  charset_ = source.charset_;
  color_ = source.color_;
  pitch_ = source.pitch_;
  width_ = source.width_;
  Changed();
}

TLogFont TFont::LogFont() const {
  TLogFont lf;
  lf.lfHeight = height_;
  lf.lfWidth = width_;
  lf.lfWeight = style_.Contains(fsBold) ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = style_.Contains(fsItalic) ? 1 : 0;
  lf.lfUnderline = style_.Contains(fsUnderline) ? 1 : 0;
  lf.lfStrikeOut = style_.Contains(fsStrikeOut) ? 1 : 0;
  lf.lfCharSet = charset_;
  lf.lfPitchAndFamily = pitch_ == fpFixed ? 1 : pitch_ == fpVariable ? 2 : 0;
  lf.lfFaceName = name_.substr(0, TLogFont::kMaxFaceName);
  return lf;
}

void TFont::AssignLogFont(const TLogFont& lf) {
  name_ = lf.lfFaceName.empty() ? name_ : lf.lfFaceName.substr(0, TLogFont::kMaxFaceName);
  height_ = lf.lfHeight;
  width_ = lf.lfWidth;
  TFontStyles s;
  if (lf.lfWeight >= 600) s.Include(fsBold);
  if (lf.lfItalic) s.Include(fsItalic);
  if (lf.lfUnderline) s.Include(fsUnderline);
  if (lf.lfStrikeOut) s.Include(fsStrikeOut);
  style_ = s;
  charset_ = lf.lfCharSet;
  int pitch = lf.lfPitchAndFamily & 3;
  pitch_ = pitch == 1 ? fpFixed : pitch == 2 ? fpVariable : fpDefault;
  Changed();
}

bool TFont::SameAs(const TFont& o) const {
  return name_ == o.name_ && height_ == o.height_ && pixels_per_inch_ == o.pixels_per_inch_ &&
         style_ == o.style_ && charset_ == o.charset_ && color_ == o.color_ && pitch_ == o.pitch_ &&
         width_ == o.width_;
}

}  // namespace pelvar
