// Small stateless helpers the exporters, the style sheet, the items and printing share:
// string replacement, colours and fonts as HTML and CSS text, HTML attribute forms that
// follow the XHTML option, the HTML names of charsets, the Symbol font as HTML entities,
// RTF escaping of ANSI and UTF-16 text, URL and e-mail recognition, screen and device
// units and the colour modes of printing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/canvas.h"
#include "platform/graphics.h"
#include "platform/streams.h"
#include "platform/types.h"

namespace pelvar {

// HTML save options read here.
constexpr uint32_t rvsoXHTML = 0x2000;
constexpr uint32_t rvsoUTF8 = 0x4000;

// Screen and device resolutions (pixels per inch) and two margins the formatting keeps.
struct TRVScreenAndDevice {
  int32_t ppixScreen = 96;
  int32_t ppiyScreen = 96;
  int32_t ppixDevice = 96;
  int32_t ppiyDevice = 96;
  int32_t LeftMargin = 0;
  int32_t RightMargin = 0;
};

// Program-wide replaceable values (the family itself never changes them).
extern int32_t RVCustomScreenPPI;
extern std::function<bool(const AnsiString&)> RVCustomURLTest;

// ---- Strings -------------------------------------------------------------------------------
AnsiString RV_ReplaceTabsA(const AnsiString& s, int32_t spaces);
// UTF-16 item string: every TAB becomes the given number of UTF-16 spaces.
std::string RV_ReplaceTabsW(const std::string& s, int32_t spaces);
// 1-based position of ch among count bytes; 0 when absent or p is nullptr.
int32_t RV_CharPos(const char* p, char ch, int32_t count);
// Replaces sub by new_text, searching again from the start after every replacement.
// new_text must not contain sub (a new_text that does is replaced once left to right,
// rather than looping for ever).
void RV_ReplaceAll(AnsiString& s, const AnsiString& sub, const AnsiString& new_text);
// The document data's name of the same replacement (Text, Search, Replacement).
inline void RV_ReplaceAllStr(AnsiString& text, const AnsiString& search, const AnsiString& replacement) {
  RV_ReplaceAll(text, search, replacement);
}
// Every occurrence, left to right, continuing after each inserted text.
void RV_ReplaceAllOnce(AnsiString& s, const AnsiString& sub, const AnsiString& new_text);
void RV_AddStrEx(AnsiString& s, const AnsiString& add, const AnsiString& separator);
void RV_AddStrWithSpace(AnsiString& s, const AnsiString& add);

// ---- HTML and CSS -------------------------------------------------------------------------------
AnsiString RV_GetHTMLColor(TColor color, bool quoted);
AnsiString RV_GetCSSColor(TColor color);
AnsiString RV_GetHTMLPath(const AnsiString& path, uint32_t save_options, uint32_t code_page);
AnsiString RV_HTMLEmptyTagEnd(uint32_t save_options);
AnsiString RV_HTMLBoolAttr(const AnsiString& name, uint32_t save_options);
AnsiString RV_HTMLIntAttrValue(int32_t n, uint32_t save_options);
AnsiString RV_HTMLQuoteAttrValue(const AnsiString& s, uint32_t save_options);
// format 1: HTML title attribute; 2: RTF "\o" field text; empty for an empty hint.
AnsiString RV_GetHintAttribute(int32_t format, const AnsiString& hint);
AnsiString RV_MakeHTMLStr(const AnsiString& s, bool special_code);
int32_t RV_FontSizeToHTML(int32_t size);
AnsiString RV_GetMarkerFontCSS(const TFont& font, bool with_name);
AnsiString RV_CharsetToHTMLName(TFontCharset charset);
AnsiString RV_SymbolToHTML(const AnsiString& s);
// s: UTF-16 item string (odd lengths raise EDocViewError).
AnsiString RV_SymbolToHTMLW(const std::string& s);
AnsiString RV_DecodeURL(const AnsiString& s);

// Font, size, colour, bold, italic, underline, strike-out, sub and sup tags of a text style
// (with relative, only what differs from base_style; base_style may be nullptr then).
class TCustomRVFontInfo;
AnsiString RV_HTMLOpenFontTag(const TCustomRVFontInfo& style, const TCustomRVFontInfo* base_style, bool relative,
                              uint32_t save_options);
AnsiString RV_HTMLCloseFontTag(const TCustomRVFontInfo& style, const TCustomRVFontInfo* base_style, bool relative);
// The same for a list level's marker font against the text style it stands in.
AnsiString RV_HTMLOpenMarkerFontTag(const TFont& marker_font, const TCustomRVFontInfo& style, bool with_name,
                                    uint32_t save_options);
AnsiString RV_HTMLCloseMarkerFontTag(const TFont& marker_font, const TCustomRVFontInfo& style, bool with_name);

// ---- RTF -------------------------------------------------------------------------------------
void RV_EscapeRTFBytes(AnsiString& s, bool use_named_chars);
AnsiString RV_MakeRTFStr(const AnsiString& s, bool special_code, bool use_named_chars);
AnsiString RV_MakeRTFFileNameStr(const AnsiString& s);
AnsiString RV_MakeRTFIdentifierStr(const AnsiString& s);
AnsiString RV_MakeRTFBookmarkNameStr(const AnsiString& s);
// Writes a UTF-16 item string as RTF text.
void RV_WriteUnicodeRTFStr(TStream& stream, const std::string& s, uint32_t code_page, bool duplicate_ansi,
                           bool special_code);

// ---- URLs -----------------------------------------------------------------------------------------
bool RV_IsURL(const AnsiString& s);
bool RV_IsEmail(const AnsiString& s);

// ---- Units and geometry ---------------------------------------------------------------------------
int32_t RV_XToDevice(int32_t x, const TRVScreenAndDevice& sd);
int32_t RV_YToDevice(int32_t y, const TRVScreenAndDevice& sd);
int32_t RV_XToScreen(int32_t x, const TRVScreenAndDevice& sd);
int32_t RV_YToScreen(int32_t y, const TRVScreenAndDevice& sd);
void RV_RectToScreen(TRect& r, const TRVScreenAndDevice& sd);
// Device values from the canvas, screen values 96 (the margins are left alone).
void RV_GetScreenAndDeviceResolution(TCanvas& canvas, TRVScreenAndDevice& sd);
int32_t RV_GetScreenPPI();
bool RV_PointInRect(int32_t x, int32_t y, int32_t left, int32_t top, int32_t width, int32_t height);

// Draws a picture at (x, y) scaled to the device (width or height below 0: the picture's
// own); pictures are drawn stretched into the scaled rectangle.
void RV_DrawGraphicOnDevice(TCanvas& canvas, int32_t x, int32_t y, int32_t width, int32_t height,
                            const TRVScreenAndDevice& sd, TGraphic* graphic);
// Applied to every picture the RTF reader reads; the installed routine does nothing.
extern std::function<void(TGraphic*)> RVPictureReadHook;

// ---- Colours for printing ---------------------------------------------------------------------------
int32_t RV_GetLuminance(TColor color);
TColor RV_GetGrayColor(TColor color);
TColor RV_MapSystemColorForPrint(TColor color);
TColor RV_ColorForPrintMode(TColor color, int32_t mode);
TColor RV_BackColorForPrintMode(TColor color, int32_t mode);

}  // namespace pelvar
