// The HTML font tags of text styles and list markers, and drawing pictures on a device.
#include "platform/sysutils.h"
#include "richtext/model/RVFuncs.h"
#include "richtext/model/RVStyle.h"

namespace pelvar {

std::function<void(TGraphic*)> RVPictureReadHook = [](TGraphic*) {};

namespace {

// Closing tags in the order </s>, </u>, </i>, </b>; opening tags <b>, <i>, <u>, <s>.
AnsiString CloseBits(TFontStyles bits) {
  AnsiString r;
  if (bits.Contains(fsStrikeOut)) r += "</s>";
  if (bits.Contains(fsUnderline)) r += "</u>";
  if (bits.Contains(fsItalic)) r += "</i>";
  if (bits.Contains(fsBold)) r += "</b>";
  return r;
}

AnsiString OpenBits(TFontStyles bits) {
  AnsiString r;
  if (bits.Contains(fsBold)) r += "<b>";
  if (bits.Contains(fsItalic)) r += "<i>";
  if (bits.Contains(fsUnderline)) r += "<u>";
  if (bits.Contains(fsStrikeOut)) r += "<s>";
  return r;
}

TFontStyles Minus(TFontStyles a, TFontStyles b) { return TFontStyles::FromBits(a.Bits() & static_cast<uint8_t>(~b.Bits())); }

AnsiString FontTag(bool size, int32_t html_size, bool color, TColor c, bool face, const AnsiString& name,
                   uint32_t save_options) {
  AnsiString attrs;
  if (size) attrs += " size=" + RV_HTMLIntAttrValue(html_size, save_options);
  if (color) attrs += " color=" + RV_GetHTMLColor(c, true);
  if (face) attrs += " face=\"" + name + "\"";
  return attrs.empty() ? AnsiString() : "<font" + attrs + ">";
}

}  // namespace

AnsiString RV_HTMLOpenFontTag(const TCustomRVFontInfo& style, const TCustomRVFontInfo* base, bool relative,
                              uint32_t save_options) {
  const bool rel = relative && base;
  const int32_t size = RV_FontSizeToHTML(style.Size);
  AnsiString r = FontTag(!rel || size != RV_FontSizeToHTML(base->Size), size, !rel || style.Color != base->Color,
                         style.Color, !rel || !AnsiSameText(style.FontName, base->FontName), style.FontName,
                         save_options);
  if (rel)
    r += CloseBits(Minus(base->Style, style.Style)) + OpenBits(Minus(style.Style, base->Style));
  else
    r += OpenBits(style.Style);
  if (style.VShift < 0) r += "<sub>";
  if (style.VShift > 0) r += "<sup>";
  return r;
}

AnsiString RV_HTMLCloseFontTag(const TCustomRVFontInfo& style, const TCustomRVFontInfo* base, bool relative) {
  const bool rel = relative && base;
  AnsiString r;
  if (style.VShift < 0) r += "</sub>";
  if (style.VShift > 0) r += "</sup>";
  if (rel)
    r += CloseBits(Minus(style.Style, base->Style)) + OpenBits(Minus(base->Style, style.Style));
  else
    r += CloseBits(style.Style);
  if (!rel || RV_FontSizeToHTML(style.Size) != RV_FontSizeToHTML(base->Size) || style.Color != base->Color ||
      !AnsiSameText(style.FontName, base->FontName))
    r += "</font>";
  return r;
}

AnsiString RV_HTMLOpenMarkerFontTag(const TFont& marker_font, const TCustomRVFontInfo& style, bool with_name,
                                    uint32_t save_options) {
  const int32_t size = RV_FontSizeToHTML(marker_font.Size());
  AnsiString r = FontTag(size != RV_FontSizeToHTML(style.Size), size, marker_font.Color() != style.Color,
                         marker_font.Color(), with_name && !AnsiSameText(marker_font.Name(), style.FontName),
                         marker_font.Name(), save_options);
  return r + CloseBits(Minus(style.Style, marker_font.Style())) + OpenBits(Minus(marker_font.Style(), style.Style));
}

AnsiString RV_HTMLCloseMarkerFontTag(const TFont& marker_font, const TCustomRVFontInfo& style, bool with_name) {
  AnsiString r = CloseBits(Minus(marker_font.Style(), style.Style)) + OpenBits(Minus(style.Style, marker_font.Style()));
  if (RV_FontSizeToHTML(marker_font.Size()) != RV_FontSizeToHTML(style.Size) || marker_font.Color() != style.Color ||
      (with_name && !AnsiSameText(marker_font.Name(), style.FontName)))
    r += "</font>";
  return r;
}

void RV_DrawGraphicOnDevice(TCanvas& canvas, int32_t x, int32_t y, int32_t width, int32_t height,
                            const TRVScreenAndDevice& sd, TGraphic* graphic) {
  if (!graphic) return;
  if (width < 0) width = graphic->Width();
  if (height < 0) height = graphic->Height();
  width = RV_XToDevice(width, sd);
  height = RV_YToDevice(height, sd);
  canvas.StretchDraw(TRect{x, y, x + width, y + height}, graphic);
}

}  // namespace pelvar
