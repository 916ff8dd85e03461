// The framework's graphics values: colours (with the system colours and their fixed
// RGB values), points, rectangles and sizes, and the drawing tools a canvas holds (font,
// pen, brush), together with the logical-font and text-metric records of the platform.
// Lengths are pixels at 96 pixels per inch unless a record says otherwise.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>

#include "platform/types.h"

namespace pelvar {

// ---- Colours ----------------------------------------------------------------------
// A colour is 0x00BBGGRR, or a system colour 0xFF0000nn (nn = the system colour index),
// or one of the two special values clNone and clDefault.
using TColor = int32_t;

constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<TColor>(r | (static_cast<uint32_t>(g) << 8) | (static_cast<uint32_t>(b) << 16));
}
constexpr uint8_t GetRValue(TColor c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t GetGValue(TColor c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t GetBValue(TColor c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clLtGray = 0xC0C0C0;
constexpr TColor clDkGray = 0x808080;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clMoneyGreen = 0xC0DCC0;
constexpr TColor clSkyBlue = 0xF0CAA6;
constexpr TColor clCream = 0xF0FBFF;
constexpr TColor clMedGray = 0xA4A0A0;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;

constexpr TColor clSystemColor = static_cast<TColor>(0xFF000000u);
constexpr TColor SystemColor(int index) { return static_cast<TColor>(0xFF000000u | static_cast<uint32_t>(index)); }
constexpr TColor clScrollBar = SystemColor(0);
constexpr TColor clBackground = SystemColor(1);
constexpr TColor clActiveCaption = SystemColor(2);
constexpr TColor clInactiveCaption = SystemColor(3);
constexpr TColor clMenu = SystemColor(4);
constexpr TColor clWindow = SystemColor(5);
constexpr TColor clWindowFrame = SystemColor(6);
constexpr TColor clMenuText = SystemColor(7);
constexpr TColor clWindowText = SystemColor(8);
constexpr TColor clCaptionText = SystemColor(9);
constexpr TColor clActiveBorder = SystemColor(10);
constexpr TColor clInactiveBorder = SystemColor(11);
constexpr TColor clAppWorkSpace = SystemColor(12);
constexpr TColor clHighlight = SystemColor(13);
constexpr TColor clHighlightText = SystemColor(14);
constexpr TColor clBtnFace = SystemColor(15);
constexpr TColor clBtnShadow = SystemColor(16);
constexpr TColor clGrayText = SystemColor(17);
constexpr TColor clBtnText = SystemColor(18);
constexpr TColor clInactiveCaptionText = SystemColor(19);
constexpr TColor clBtnHighlight = SystemColor(20);
constexpr TColor cl3DDkShadow = SystemColor(21);
constexpr TColor cl3DLight = SystemColor(22);
constexpr TColor clInfoText = SystemColor(23);
constexpr TColor clInfoBk = SystemColor(24);
constexpr TColor clHotLight = SystemColor(26);
constexpr TColor clGradientActiveCaption = SystemColor(27);
constexpr TColor clGradientInactiveCaption = SystemColor(28);
constexpr TColor clMenuHighlight = SystemColor(29);
constexpr TColor clMenuBar = SystemColor(30);

// The RGB value of a system colour index (the classic Windows scheme, fixed so that
// drawings are the same everywhere); 0 for an unknown index.
TColor GetSysColor(int index);
// A system colour becomes its RGB value; every other value (clNone included) is returned
// as it is.
TColor ColorToRGB(TColor color);

// ---- Geometry -----------------------------------------------------------------------
struct TPoint {
  int32_t X = 0;
  int32_t Y = 0;
  bool operator==(const TPoint&) const = default;
};

struct TRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  int32_t Width() const { return Right - Left; }
  int32_t Height() const { return Bottom - Top; }
  TPoint TopLeft() const { return {Left, Top}; }
  TPoint BottomRight() const { return {Right, Bottom}; }
  bool operator==(const TRect&) const = default;
};

struct TSize {
  int32_t cx = 0;
  int32_t cy = 0;
  bool operator==(const TSize&) const = default;
};

constexpr TPoint Point(int32_t x, int32_t y) { return {x, y}; }
constexpr TRect Rect(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  return {left, top, right, bottom};
}
constexpr TRect Bounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  return {left, top, left + width, top + height};
}
// Empty: no pixel inside (right <= left or bottom <= top).
bool IsRectEmpty(const TRect& r);
// Left <= x < Right and Top <= y < Bottom.
bool PtInRect(const TRect& r, const TPoint& p);
void InflateRect(TRect& r, int32_t dx, int32_t dy);
void OffsetRect(TRect& r, int32_t dx, int32_t dy);
// The common part of a and b; false (and an all-zero rectangle) when they do not meet.
bool IntersectRect(TRect& dest, const TRect& a, const TRect& b);

// number * numerator / denominator with a 64-bit intermediate, rounded half away from
// zero; -1 when the denominator is 0 or the result does not fit 32 bits.
int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator);

// ---- Fonts --------------------------------------------------------------------------
constexpr int32_t kScreenPixelsPerInch = 96;

enum TFontStyle : uint8_t { fsBold, fsItalic, fsUnderline, fsStrikeOut };
// A set of TFontStyle values, bit n = value n.
class TFontStyles {
 public:
  constexpr TFontStyles() = default;
  constexpr TFontStyles(std::initializer_list<TFontStyle> styles) {
    for (TFontStyle s : styles) bits_ |= Bit(s);
  }
  static constexpr TFontStyles FromBits(uint8_t bits) {
    TFontStyles r;
    r.bits_ = bits & 0x0F;
    return r;
  }
  constexpr uint8_t Bits() const { return bits_; }
  constexpr bool Contains(TFontStyle s) const { return (bits_ & Bit(s)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TFontStyles& Include(TFontStyle s) {
    bits_ |= Bit(s);
    return *this;
  }
  constexpr TFontStyles& Exclude(TFontStyle s) {
    bits_ &= static_cast<uint8_t>(~Bit(s));
    return *this;
  }
  constexpr bool operator==(const TFontStyles&) const = default;

 private:
  static constexpr uint8_t Bit(TFontStyle s) { return static_cast<uint8_t>(1u << s); }
  uint8_t bits_ = 0;
};

using TFontCharset = uint8_t;
constexpr TFontCharset ANSI_CHARSET = 0;
constexpr TFontCharset DEFAULT_CHARSET = 1;
constexpr TFontCharset SYMBOL_CHARSET = 2;
constexpr TFontCharset MAC_CHARSET = 77;
constexpr TFontCharset SHIFTJIS_CHARSET = 128;
constexpr TFontCharset HANGEUL_CHARSET = 129;
constexpr TFontCharset JOHAB_CHARSET = 130;
constexpr TFontCharset GB2312_CHARSET = 134;
constexpr TFontCharset CHINESEBIG5_CHARSET = 136;
constexpr TFontCharset GREEK_CHARSET = 161;
constexpr TFontCharset TURKISH_CHARSET = 162;
constexpr TFontCharset VIETNAMESE_CHARSET = 163;
constexpr TFontCharset HEBREW_CHARSET = 177;
constexpr TFontCharset ARABIC_CHARSET = 178;
constexpr TFontCharset BALTIC_CHARSET = 186;
constexpr TFontCharset RUSSIAN_CHARSET = 204;
constexpr TFontCharset THAI_CHARSET = 222;
constexpr TFontCharset EASTEUROPE_CHARSET = 238;
constexpr TFontCharset OEM_CHARSET = 255;

enum TFontPitch : uint8_t { fpDefault, fpVariable, fpFixed };

constexpr int32_t FW_NORMAL = 400;
constexpr int32_t FW_BOLD = 700;

// The platform's logical-font record. Height < 0: the character (em) height in pixels;
// > 0: the cell height (em plus internal leading); 0: a default size. Width 0: the
// font's natural width, else the average character width wanted.
struct TLogFont {
  int32_t lfHeight = 0;
  int32_t lfWidth = 0;
  int32_t lfEscapement = 0;
  int32_t lfOrientation = 0;
  int32_t lfWeight = 0;
  uint8_t lfItalic = 0;
  uint8_t lfUnderline = 0;
  uint8_t lfStrikeOut = 0;
  uint8_t lfCharSet = 0;
  uint8_t lfOutPrecision = 0;
  uint8_t lfClipPrecision = 0;
  uint8_t lfQuality = 0;
  uint8_t lfPitchAndFamily = 0;
  // At most 31 characters; a longer name is cut there when a font is made from it.
  AnsiString lfFaceName;
  static constexpr size_t kMaxFaceName = 31;
};

// The font of a canvas. Size (points) and Height (pixels) are two views of one value,
// tied by PixelsPerInch (96): Height = -MulDiv(Size, PixelsPerInch, 72).
class TFont {
 public:
  TFont() = default;
  TFont(const TFont& other);
  TFont& operator=(const TFont& other);

  const AnsiString& Name() const { return name_; }
  void SetName(const AnsiString& v);
  int32_t Size() const;
  void SetSize(int32_t points);
  int32_t Height() const { return height_; }
  void SetHeight(int32_t pixels);
  TFontStyles Style() const { return style_; }
  void SetStyle(TFontStyles v);
  TFontCharset Charset() const { return charset_; }
  void SetCharset(TFontCharset v);
  TColor Color() const { return color_; }
  void SetColor(TColor v);
  TFontPitch Pitch() const { return pitch_; }
  void SetPitch(TFontPitch v);
  int32_t PixelsPerInch() const { return pixels_per_inch_; }
  void SetPixelsPerInch(int32_t v);
  // The average character width asked for by a logical font (0: natural width).
  int32_t Width() const { return width_; }
  void SetWidth(int32_t v);

  // Copies name, height, resolution, style, charset, colour, pitch and width.
  void Assign(const TFont& source);
  // The font as a logical-font record, and a font made from one (the colour stays).
  TLogFont LogFont() const;
  void AssignLogFont(const TLogFont& lf);

  // The same look (the change event is not compared).
  bool SameAs(const TFont& other) const;

  // Fired after every change that alters the font.
  std::function<void(TFont&)> OnChange;

 private:
  void Changed();
  AnsiString name_ = "Arial";
  int32_t height_ = -11;  // 8 points at 96 pixels per inch
  int32_t pixels_per_inch_ = kScreenPixelsPerInch;
  TFontStyles style_;
  TFontCharset charset_ = DEFAULT_CHARSET;
  TColor color_ = clWindowText;
  TFontPitch pitch_ = fpDefault;
  int32_t width_ = 0;
};

// ---- Pens and brushes ---------------------------------------------------------------
enum TPenStyle : uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TPenMode : uint8_t {
  pmBlack,
  pmWhite,
  pmNop,
  pmNot,
  pmCopy,
  pmNotCopy,
  pmMergePenNot,
  pmMaskPenNot,
  pmMergeNotPen,
  pmMaskNotPen,
  pmMerge,
  pmNotMerge,
  pmMask,
  pmNotMask,
  pmXor,
  pmNotXor
};

struct TPen {
  TColor Color = clBlack;
  int32_t Width = 1;
  TPenStyle Style = psSolid;
  TPenMode Mode = pmCopy;
  bool operator==(const TPen&) const = default;
};

enum TBrushStyle : uint8_t { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };

class TBrush {
 public:
  TColor Color() const { return color_; }
  // As the framework does, a colour given to a clear brush makes it solid.
  void SetColor(TColor v) {
    color_ = v;
    if (style_ == bsClear) style_ = bsSolid;
  }
  TBrushStyle Style() const { return style_; }
  void SetStyle(TBrushStyle v) { style_ = v; }
  bool operator==(const TBrush&) const = default;

 private:
  TColor color_ = clWhite;
  TBrushStyle style_ = bsSolid;
};

// ---- Text metrics -------------------------------------------------------------------
struct TTextMetric {
  int32_t tmHeight = 0;
  int32_t tmAscent = 0;
  int32_t tmDescent = 0;
  int32_t tmInternalLeading = 0;
  int32_t tmExternalLeading = 0;
  int32_t tmAveCharWidth = 0;
  int32_t tmMaxCharWidth = 0;
  int32_t tmWeight = 0;
  int32_t tmOverhang = 0;
  uint8_t tmItalic = 0;
  uint8_t tmUnderlined = 0;
  uint8_t tmStruckOut = 0;
  uint8_t tmCharSet = 0;
  bool operator==(const TTextMetric&) const = default;
};

// The outline metrics the family reads: the underline and strike-out lines. Positions
// are distances above the baseline (negative: below).
struct TOutlineTextMetric {
  TTextMetric otmTextMetrics;
  int32_t otmAscent = 0;
  int32_t otmDescent = 0;
  int32_t otmsUnderscoreSize = 0;
  int32_t otmsUnderscorePosition = 0;
  int32_t otmsStrikeoutSize = 0;
  int32_t otmsStrikeoutPosition = 0;
};

}  // namespace pelvar
