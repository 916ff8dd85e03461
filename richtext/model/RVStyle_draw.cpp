// Putting a text style on a canvas: its font (scaled, at a fixed resolution when asked),
// its colours per draw state and print colour mode, and drawing a piece of text with fitting,
// emulated character spacing, the gap before it, its underline and overline, and visible
// marks for spaces and no-break spaces.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/checked.h"
#include "platform/sysutils.h"
#include "richtext/model/RVStyle.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

namespace {

constexpr uint8_t kUnicodeOption = 8;  // item option bit 3: the text is UTF-16

int32_t MulDivRound(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  int64_t p = int64_t{a} * b;
  int64_t q = p / c, r = p % c;
  if (2 * std::abs(r) >= std::abs(int64_t{c})) q += ((p < 0) != (c < 0)) ? -1 : 1;
  return static_cast<int32_t>(q);
}

TRVBiDiMode Effective(TRVBiDiMode own, TRVBiDiMode def) { return own == rvbdUnspecified ? def : own; }

}  // namespace

int32_t TCustomRVFontInfo::CustomPPI(bool can_use_custom_ppi) const {
  if (!can_use_custom_ppi) return 0;
  auto* infos = dynamic_cast<TFontInfos*>(Collection());
  return infos ? infos->PixelsPerInch : 0;
}

void TCustomRVFontInfo::ApplyToCanvas(TCanvas& canvas, TRVBiDiMode def_bidi_mode, bool can_use_custom_ppi) {
  TFont& font = canvas.Font();
  if (CharScale == 100) {
    if (!(font.Style() == Style)) font.SetStyle(Style);
    int32_t ppi = CustomPPI(can_use_custom_ppi);
    if (ppi != 0) {
      int32_t h = -MulDivRound(Size, ppi, 72);
      if (font.Height() != h) font.SetHeight(h);
    } else if (font.Size() != Size) {
      font.SetSize(Size);
    }
    if (!SameText(font.Name(), FontName)) font.SetName(FontName);
    if (font.Charset() != Charset) font.SetCharset(Charset);
    if (font.Width() != 0) font.SetWidth(0);
  } else {
    TLogFont lf;
    AssignToLogFont(lf, canvas, can_use_custom_ppi);
    TColor color = font.Color();
    font.AssignLogFont(lf);
    TTextMetric tm = canvas.GetTextMetrics();
    int32_t ave = tm.tmAveCharWidth;
    if (ave <= 0) ave = canvas.TextWidth("x");
    lf.lfWidth = CheckedMul(ave, CharScale) / 100;
    font.AssignLogFont(lf);
    font.SetColor(color);
  }
  ApplyBiDiAndSpacing(canvas, def_bidi_mode);
}

void TCustomRVFontInfo::AssignToLogFont(TLogFont& lf, TCanvas& canvas, bool can_use_custom_ppi) {
  lf = TLogFont();
  int32_t ppi = CustomPPI(can_use_custom_ppi);
  if (ppi == 0) ppi = canvas.Font().PixelsPerInch();
  lf.lfHeight = -MulDivRound(Size, ppi, 72);
  lf.lfWeight = Style.Contains(fsBold) ? 700 : 400;
  lf.lfItalic = Style.Contains(fsItalic) ? 1 : 0;
  lf.lfUnderline = Style.Contains(fsUnderline) ? 1 : 0;
  lf.lfStrikeOut = Style.Contains(fsStrikeOut) ? 1 : 0;
  lf.lfCharSet = Charset;
  // The record holds at most 31 characters of the face name.
  lf.lfFaceName = FontName.substr(0, 31);
}

void TCustomRVFontInfo::ApplyBiDiAndSpacing(TCanvas& canvas, TRVBiDiMode def_bidi_mode) {
  switch (Effective(BiDiMode, def_bidi_mode)) {
    case rvbdLeftToRight:
      canvas.SetTextCharacterExtra(0);
      canvas.SetTextAlign(TA_LEFT);
      break;
    case rvbdRightToLeft:
      canvas.SetTextCharacterExtra(0);
      canvas.SetTextAlign(TA_RTLREADING);
      break;
    case rvbdUnspecified:
      canvas.SetTextCharacterExtra(CharSpacing);
      break;
  }
}

void TCustomRVFontInfo::ApplyColor(TCanvas& canvas, TRVStyle* rvstyle, TRVTextDrawStates draw_state, bool printing,
                                   int32_t color_mode) {
  TColor text = Color, back = BackColor;
  if (draw_state.Contains(rvtsSelected)) {
    const bool focused = draw_state.Contains(rvtsControlFocused);
    back = focused ? rvstyle->SelColor : rvstyle->InactiveSelColor;
    text = focused ? rvstyle->SelTextColor : rvstyle->InactiveSelTextColor;
    if (text == clNone) text = Color;
  } else if (draw_state.Contains(rvtsHover)) {
    text = HoverColor != clNone ? HoverColor : rvstyle->HoverColor != clNone ? rvstyle->HoverColor : Color;
    back = HoverBackColor;
  } else if (printing) {
    switch (color_mode) {
      case 0:
        break;
      case 1:
        text = RV_MapSystemColorForPrint(Color);
        back = RV_MapSystemColorForPrint(BackColor);
        break;
      case 2:
        text = RV_GetGrayColor(RV_MapSystemColorForPrint(Color));
        back = RV_GetGrayColor(RV_MapSystemColorForPrint(BackColor));
        break;
      case 3: {
        TColor pt = RV_MapSystemColorForPrint(Color);
        if (BackColor == clNone) {
          back = clNone;
          text = ColorToRGB(pt) == 0xFFFFFF ? clWhite : clBlack;
        } else if (RV_GetLuminance(pt) < RV_GetLuminance(RV_MapSystemColorForPrint(BackColor))) {
          text = clBlack;
          back = clWhite;
        } else {
          text = clWhite;
          back = clBlack;
        }
        break;
      }
      default:
        text = clBlack;
        back = clNone;
        break;
    }
  }
  canvas.Font().SetColor(text);
  if (back == clNone) {
    canvas.Brush().SetStyle(bsClear);
  } else {
    canvas.Brush().SetColor(back);
    canvas.Brush().SetStyle(bsSolid);
  }
}

namespace {

// Fitting (fit) or adjusting by extra: answers whether it drew.
bool DrawFitted(const AnsiString& s, TCanvas& canvas, bool unicode, int32_t space_before, int32_t left, int32_t top,
                int32_t width, int32_t extra, bool fit) {
  const uint8_t options = unicode ? kUnicodeOption : 0;
  const int32_t n = RVU_Length(s, options);
  if (n <= 1) return false;
  std::vector<int32_t> extents;
  int32_t count_fit = 0;
  RVU_GetTextExtentExPoint(canvas, s, 2 * width, count_fit, &extents, options);
  extents.resize(static_cast<size_t>(n), extents.empty() ? 0 : extents.back());
  std::vector<int32_t> dx(static_cast<size_t>(n));
  dx[0] = extents[0];
  for (int32_t i = n - 1; i >= 1; --i) dx[static_cast<size_t>(i)] = extents[static_cast<size_t>(i)] - extents[static_cast<size_t>(i - 1)];
  if (fit) {
    int32_t natural = RVU_TextWidth(s, canvas, options);
    int32_t d = width - space_before - natural;
    if (d == 0) return false;
    for (int32_t i = 0, r = n; i < n && d != 0; ++i, --r) {
      int32_t add = d / r;
      dx[static_cast<size_t>(i)] += add;
      d -= add;
    }
  } else {
    for (int32_t& a : dx) a += extra;
  }
  if (unicode)
    canvas.ExtTextOutW(left + space_before, top, 0, nullptr, RVU_RawUnicodeToWideString(s), &dx);
  else
    canvas.ExtTextOut(left + space_before, top, 0, nullptr, s, &dx);
  return true;
}

int32_t HalfEven(int32_t v) {  // v / 2 rounded half to even
  int32_t q = v / 2, r = v % 2;
  if (r != 0 && (q & 1)) q += r > 0 ? 1 : -1;
  return q;
}

void DrawMarks(const AnsiString& s, TCanvas& canvas, bool unicode, int32_t space_before, int32_t left, int32_t top,
               int32_t width) {
  const bool spaces = ShownSpecialCharacters & (1u << rvscSpace);
  const bool nbsp = ShownSpecialCharacters & (1u << rvscNBSP);
  WideString text = unicode ? RVU_RawUnicodeToWideString(s) : CharsetTextToWide(s, canvas.Font().Charset());
  const WideString dot(1, u'\u00B7'), ring(1, u'\u00B0');
  std::vector<int32_t> order, advances;
  canvas.GetCharacterPlacementW(text, &order, nullptr, &advances);
  bool usable = text.size() <= 1 || std::any_of(order.begin(), order.end(), [](int32_t o) { return o != 0; });
  TBrushStyle saved_style = canvas.Brush().Style();
  TColor saved_color = canvas.Brush().Color();
  auto mark = [&](int32_t x, const WideString& m) {
    canvas.Brush().SetStyle(bsClear);
    canvas.TextOutW(x, top, m);
    canvas.Brush().SetColor(saved_color);
    canvas.Brush().SetStyle(saved_style);
  };
  if (usable) {
    std::vector<size_t> at_slot(text.size());
    for (size_t i = 0; i < text.size(); ++i) at_slot[static_cast<size_t>(order[i])] = i;
    int32_t space_off = 0, nbsp_off = 0;
    bool space_done = false, nbsp_done = false;
    int32_t x = left + space_before;
    for (size_t slot = 0; slot < text.size(); ++slot) {
      size_t i = at_slot[slot];
      char16_t ch = text[i];
      if (ch == u' ' && spaces) {
        if (!space_done) {
          space_off = HalfEven(canvas.TextExtentW(WideString(1, u' ')).cx - canvas.TextExtentW(dot).cx);
          space_done = true;
        }
        mark(x + space_off, dot);
      } else if (ch == 0xA0 && nbsp) {
        if (!nbsp_done) {
          nbsp_off = HalfEven(canvas.TextExtentW(WideString(1, 0xA0)).cx - canvas.TextExtentW(ring).cx);
          nbsp_done = true;
        }
        mark(x + nbsp_off, ring);
      }
      x += advances[i] + canvas.TextCharacterExtra();
    }
  } else if (spaces) {
    std::vector<int32_t> extents;
    int32_t fit = 0;
    RVU_GetTextExtentExPoint(canvas, s, 2 * width, fit, &extents, unicode ? kUnicodeOption : 0);
    for (size_t i = 0; i < text.size(); ++i)
      if (text[i] == u' ') mark(left + space_before + (i == 0 ? 0 : extents[i - 1]), dot);
  }
}

}  // namespace

void TFontInfo::Draw(const AnsiString& s, TCanvas& canvas, int32_t /*style_no*/, int32_t space_before, int32_t left,
                     int32_t top, int32_t width, int32_t height, TRVStyle* rvstyle, TRVTextDrawStates draw_state,
                     bool printing, bool preview_correction, int32_t color_mode, TRVBiDiMode def_bidi_mode) {
  bool drawn = false;
  if (printing && Effective(BiDiMode, def_bidi_mode) == rvbdUnspecified) {
    if (canvas.Brush().Style() != bsClear) {
      TPenStyle ps = canvas.Pen().Style;
      canvas.Pen().Style = psClear;
      canvas.FillRect(TRect{left, top, left + width, top + height});
      canvas.Pen().Style = ps;
      canvas.Brush().SetStyle(bsClear);
      canvas.Pen().Style = psSolid;
    }
    if (preview_correction) {
      int32_t e = canvas.SetTextCharacterExtra(0);
      try {
        drawn = DrawFitted(s, canvas, Unicode, space_before, left, top, width, 0, true);
      } catch (...) {
        canvas.SetTextCharacterExtra(e);
        throw;
      }
      canvas.SetTextCharacterExtra(e);
    } else if (canvas.TextCharacterExtra() != 0) {
      int32_t e = canvas.SetTextCharacterExtra(0);
      try {
        drawn = DrawFitted(s, canvas, Unicode, space_before, left, top, width, e, false);
      } catch (...) {
        canvas.SetTextCharacterExtra(e);
        throw;
      }
      canvas.SetTextCharacterExtra(e);
    }
  }
  if (!drawn) {
    if (Unicode)
      canvas.TextOutW(left + space_before, top, RVU_RawUnicodeToWideString(s));
    else
      canvas.TextOut(left + space_before, top, s);
    if (draw_state.Contains(rvtsSpecialCharacters) && !printing &&
        (ShownSpecialCharacters & ((1u << rvscSpace) | (1u << rvscNBSP))))
      DrawMarks(s, canvas, Unicode, space_before, left, top, width);
  }
  if (space_before != 0 && !printing) {
    if (draw_state.Contains(rvtsSelected) && s.empty()) {
      TRVTextDrawStates unselected = draw_state;
      unselected.Exclude(rvtsSelected);
      rvstyle->ApplyStyleColor(canvas, Index(), unselected, printing, color_mode);
    }
    if (canvas.Brush().Style() != bsClear) canvas.FillRect(TRect{left, top, left + space_before, top + height});
  }
  canvas.Brush().SetStyle(bsClear);
  if (space_before != 0 && canvas.Font().Style().Contains(fsUnderline)) {
    TOutlineTextMetric otm;
    if (canvas.GetOutlineTextMetrics(otm)) {
      int32_t y = top + otm.otmTextMetrics.tmAscent - otm.otmsUnderscorePosition + otm.otmsUnderscoreSize / 2;
      canvas.Pen().Color = canvas.Font().Color();
      canvas.Pen().Width = otm.otmsUnderscoreSize;
      canvas.Pen().Style = psInsideFrame;
      canvas.MoveTo(left, y);
      canvas.LineTo(left + space_before + 1, y);
      canvas.Pen().Style = psSolid;
    }
  }
  if (StyleEx.Contains(rvfsOverline)) {
    TOutlineTextMetric otm;
    canvas.Pen().Width = canvas.GetOutlineTextMetrics(otm) ? otm.otmsUnderscoreSize : 1;
    canvas.Pen().Color = canvas.Font().Color();
    canvas.MoveTo(left, top);
    canvas.LineTo(left + width, top);
  }
}

}  // namespace pelvar
