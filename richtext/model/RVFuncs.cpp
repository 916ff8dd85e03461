#include "richtext/model/RVFuncs.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

int32_t RVCustomScreenPPI = 0;
std::function<bool(const AnsiString&)> RVCustomURLTest;

// ---- Strings -------------------------------------------------------------------------------
AnsiString RV_ReplaceTabsA(const AnsiString& s, int32_t spaces) {
  AnsiString out;
  for (char c : s) {
    if (c == '\t')
      out.append(static_cast<size_t>(spaces > 0 ? spaces : 0), ' ');
    else
      out.push_back(c);
  }
  return out;
}

std::string RV_ReplaceTabsW(const std::string& s, int32_t spaces) {
  WideString w = RVU_RawUnicodeToWideString(s);
  WideString out;
  for (char16_t c : w) {
    if (c == u'\t')
      out.append(static_cast<size_t>(spaces > 0 ? spaces : 0), u' ');
    else
      out.push_back(c);
  }
  return RVU_WideStringToRawUnicode(out);
}

int32_t RV_CharPos(const char* p, char ch, int32_t count) {
  if (!p) return 0;
  for (int32_t i = 0; i < count; ++i)
    if (p[i] == ch) return i + 1;
  return 0;
}

void RV_ReplaceAllOnce(AnsiString& s, const AnsiString& sub, const AnsiString& new_text) {
  if (sub.empty()) return;
  AnsiString out;
  size_t pos = 0;
  for (;;) {
    size_t at = s.find(sub, pos);
    if (at == AnsiString::npos) break;
    out.append(s, pos, at - pos);
    out += new_text;
    pos = at + sub.size();
  }
  out.append(s, pos, AnsiString::npos);
  s = out;
}

void RV_ReplaceAll(AnsiString& s, const AnsiString& sub, const AnsiString& new_text) {
  if (sub.empty()) return;
  // A replacement that holds the searched text would be found again for ever.
  if (new_text.find(sub) != AnsiString::npos) {
    RV_ReplaceAllOnce(s, sub, new_text);
    return;
  }
  // Searching again from the start finds nothing before where a new occurrence can begin:
  // one that overlaps the text just inserted.
  size_t from = 0;
  for (;;) {
    const size_t at = s.find(sub, from);
    if (at == AnsiString::npos) break;
    s.replace(at, sub.size(), new_text);
    from = at >= sub.size() - 1 ? at - (sub.size() - 1) : 0;
  }
}

void RV_AddStrEx(AnsiString& s, const AnsiString& add, const AnsiString& separator) {
  if (s.empty())
    s = add;
  else if (!add.empty())
    s += separator + add;
}

void RV_AddStrWithSpace(AnsiString& s, const AnsiString& add) { RV_AddStrEx(s, add, " "); }

// ---- HTML and CSS ---------------------------------------------------------------------------
AnsiString RV_GetHTMLColor(TColor color, bool quoted) {
  if (color == clNone) return AnsiString();
  if (color == clWindowText) color = clBlack;
  TColor rgb = ColorToRGB(color);
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%02x%02x%02x", GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
  return quoted ? AnsiString("\"") + buf + "\"" : AnsiString(buf);
}

AnsiString RV_GetCSSColor(TColor color) {
  return color == clNone ? AnsiString("transparent") : RV_GetHTMLColor(color, false);
}

AnsiString RV_GetHTMLPath(const AnsiString& path, uint32_t save_options, uint32_t code_page) {
  AnsiString r = path;
  for (char& c : r)
    if (c == '\\') c = '/';
  if (save_options & rvsoUTF8) r = RVU_AnsiToUTF8(code_page, r);
  return r;
}

AnsiString RV_HTMLEmptyTagEnd(uint32_t save_options) {
  return (save_options & rvsoXHTML) ? AnsiString(" /") : AnsiString();
}

AnsiString RV_HTMLBoolAttr(const AnsiString& name, uint32_t save_options) {
  return (save_options & rvsoXHTML) ? name + "=\"" + name + "\"" : name;
}

AnsiString RV_HTMLIntAttrValue(int32_t n, uint32_t save_options) {
  AnsiString v = std::to_string(n);
  return (save_options & rvsoXHTML) ? "\"" + v + "\"" : v;
}

AnsiString RV_HTMLQuoteAttrValue(const AnsiString& s, uint32_t save_options) {
  if (!(save_options & rvsoXHTML)) return s;
  if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s;
  return "\"" + s + "\"";
}

AnsiString RV_GetHintAttribute(int32_t format, const AnsiString& hint) {
  if (hint.empty()) return AnsiString();
  AnsiString h = hint;
  for (char& c : h)
    if (c == '"') c = '\'';
  if (format == 1) return "title=\"" + h + "\"";
  if (format == 2) return "\\o \"" + RV_MakeRTFIdentifierStr(h) + "\"";
  return AnsiString();
}

AnsiString RV_MakeHTMLStr(const AnsiString& s, bool special_code) {
  if (special_code) return s;
  AnsiString r = s;
  RV_ReplaceAllOnce(r, "&", "&amp;");
  RV_ReplaceAllOnce(r, ">", "&gt;");
  RV_ReplaceAllOnce(r, "<", "&lt;");
  RV_ReplaceAll(r, "  ", "&nbsp; ");
  return r;
}

int32_t RV_FontSizeToHTML(int32_t size) {
  if (size <= 8) return 1;
  if (size <= 10) return 2;
  if (size <= 12) return 3;
  if (size <= 14) return 4;
  if (size <= 18) return 5;
  if (size <= 24) return 6;
  return 7;
}

AnsiString RV_GetMarkerFontCSS(const TFont& font, bool with_name) {
  AnsiString r;
  TFontStyles st = font.Style();
  if (st.Contains(fsBold)) RV_AddStrWithSpace(r, "font-weight: bold;");
  if (st.Contains(fsItalic)) RV_AddStrWithSpace(r, "font-style: italic;");
  if (font.Size() < 1)
    RV_AddStrWithSpace(r, Format("font-size: %dpx;", {font.Height()}));
  else
    RV_AddStrWithSpace(r, Format("font-size: %dpt;", {font.Size()}));
  if (with_name) {
    AnsiString family;
    if (AnsiSameText(font.Name(), "Symbol") || AnsiSameText(font.Name(), "Wingdings"))
      family = "'Arial Unicode MS', 'Lucida Sans Unicode', 'Arial'";
    else
      family = "'" + font.Name() + "'";
    RV_AddStrWithSpace(r, Format("font-family: %s;", {family}));
  }
  if (st.Contains(fsUnderline) || st.Contains(fsStrikeOut)) {
    AnsiString deco;
    if (st.Contains(fsUnderline)) RV_AddStrWithSpace(deco, "underline");
    if (st.Contains(fsStrikeOut)) RV_AddStrWithSpace(deco, "line-through");
    r = Format("%s text-decoration: %s;", {r, deco});
  }
  return Format("%s color: %s;", {r, RV_GetHTMLColor(font.Color(), false)});
}

AnsiString RV_CharsetToHTMLName(TFontCharset charset) {
  switch (charset) {
    case 128: return "shift_jis";
    case 129: return "EUC-KR";
    case 130: return "CP1361";
    case 134: return "gb2312";
    case 136: return "big5";
    case 161: return "Windows-1253";
    case 162: return "Windows-1254";
    case 163: return "Windows-1258";
    case 177: return "Windows-1255";
    case 178: return "Windows-1256";
    case 186: return "Windows-1257";
    case 204: return "Windows-1251";
    case 222: return "Windows-874";
    case 238: return "Windows-1250";
    case 255: return "ascii";
    default: return AnsiString();
  }
}

namespace {

// The Symbol font's bytes 32..254 as HTML: a one-character entry is the character
// itself, a longer one an entity name, an empty one nothing.
const char* SymbolEntry(uint8_t b) {
  static const char* const kNames[] = {
      /*32*/ " ", "!", "forall", "#", "exist", "%", "&", "?", "(", ")", "*", "+", ",", "-", ".", "/",
      /*48*/ "0", "1", "2", "3", "4", "5", "6", "7", "8", "9", ":", ";", "<", "=", ">", "?",
      /*64*/ "cong", "Alpha", "Beta", "Chi", "Delta", "Epsilon", "Phi", "Gamma", "Eta", "Iota", "#977", "Kappa",
      "Lambda", "Mu", "Nu", "Omicron",
      /*80*/ "Pi", "Theta", "Rho", "Sigma", "Tau", "Upsilon", "sigmaf", "Omega", "Xi", "Psi", "Zeta", "[",
      "there4", "]", "perp", "_",
      /*96*/ "-", "alpha", "beta", "chi", "delta", "epsilon", "#981", "gamma", "eta", "iota", "phi", "kappa",
      "lambda", "mu", "nu", "omicron",
      /*112*/ "pi", "theta", "rho", "sigma", "tau", "upsilon", "#982", "omega", "xi", "psi", "zeta", "{", "|",
      "}", "~", "",
      /*128*/ "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
      /*144*/ "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",
      /*160*/ "", "#978", "prime", "le", "frasl", "infin", "fnof", "clubs", "diams", "hearts", "spades", "harr",
      "larr", "uarr", "rarr", "darr",
      /*176*/ "\xB0", "plusmn", "Prime", "ge", "times", "prop", "part", "#8226", "divide", "ne", "equiv", "asymp",
      "hellip", "|", "-", "crarr",
      /*192*/ "alefsym", "image", "real", "weierp", "otimes", "oplus", "empty", "cap", "cup", "sup", "supe",
      "nsub", "sub", "sube", "isin", "notin",
      /*208*/ "ang", "nabla", "reg", "copy", "trade", "prod", "radic", "sdot", "not", "and", "or", "hArr",
      "lArr", "uArr", "rArr", "dArr",
      /*224*/ "loz", "lang", "reg", "copy", "trade", "sum", "/", "|", "\\", "/", "|", "\\", "/", "{", "\\", "|",
      /*240*/ "euro", "rang", "int", "#8992", "|", "#8993", "\\", "|", "/", "\\", "|", "/", "\\", "}", "/"};
  static_assert(sizeof kNames / sizeof kNames[0] == 223, "one entry per byte 32..254");
  if (b < 32 || b > 254) return "";
  return kNames[b - 32];
}

void AppendSymbol(AnsiString& out, uint8_t b) {
  const char* e = SymbolEntry(b);
  size_t len = std::char_traits<char>::length(e);
  if (len == 1)
    out += e;
  else if (len > 1)
    out += AnsiString("&") + e + ";";
}

}  // namespace

AnsiString RV_SymbolToHTML(const AnsiString& s) {
  AnsiString out;
  for (char c : s) AppendSymbol(out, static_cast<uint8_t>(c));
  return out;
}

AnsiString RV_SymbolToHTMLW(const std::string& s) {
  WideString w = RVU_RawUnicodeToWideString(s);
  AnsiString out;
  for (char16_t c : w) {
    if (c >= 0xF000) c = static_cast<char16_t>(c + 0x1000);  // 16-bit wrap-around: moves down by 0xF000
    if (c >= 32 && c <= 254) AppendSymbol(out, static_cast<uint8_t>(c));
  }
  return out;
}

AnsiString RV_DecodeURL(const AnsiString& s) {
  AnsiString out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && std::isxdigit(static_cast<unsigned char>(s[i + 1])) &&
        std::isxdigit(static_cast<unsigned char>(s[i + 2]))) {
      out.push_back(static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16)));
      i += 2;
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

// ---- RTF -----------------------------------------------------------------------------------
void RV_EscapeRTFBytes(AnsiString& s, bool use_named_chars) {
  AnsiString out;
  out.reserve(s.size());
  char buf[8];
  for (char c : s) {
    uint8_t b = static_cast<uint8_t>(c);
    if (b >= 32 && b < 128) {
      out.push_back(c);
    } else if (use_named_chars && b == 0x95) {
      out += "\\bullet ";
    } else if (use_named_chars && b == 0xA0) {
      out += "\\~";
    } else {
      std::snprintf(buf, sizeof buf, "\\'%.2x", b);
      out += buf;
    }
  }
  s = out;
}

namespace {
AnsiString BackslashBefore(const AnsiString& s, const char* chars) {
  AnsiString out;
  for (char c : s) {
    if (std::char_traits<char>::find(chars, std::char_traits<char>::length(chars), c)) out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

bool IsAnsiAlphaNumeric(char c) {
  uint8_t b = static_cast<uint8_t>(c);
  if (b < 128) return std::isalnum(b) != 0;
  if (b == 0xDF) return true;  // sharp s has no capital in the code page
  AnsiString one(1, c);
  return AnsiUpperCase(one) != AnsiLowerCase(one);
}
}  // namespace

AnsiString RV_MakeRTFStr(const AnsiString& s, bool special_code, bool use_named_chars) {
  AnsiString r = special_code ? s : BackslashBefore(s, "\\{}");
  RV_EscapeRTFBytes(r, use_named_chars);
  return r;
}

AnsiString RV_MakeRTFFileNameStr(const AnsiString& s) {
  AnsiString r = BackslashBefore(BackslashBefore(s, "\\{}"), "\\");
  RV_EscapeRTFBytes(r, false);
  return r;
}

AnsiString RV_MakeRTFIdentifierStr(const AnsiString& s) {
  AnsiString r = s;
  for (char& c : r)
    if (c == '\\' || c == '{' || c == '}') c = '_';
  RV_EscapeRTFBytes(r, false);
  return r;
}

AnsiString RV_MakeRTFBookmarkNameStr(const AnsiString& s) {
  AnsiString r = s;
  for (char& c : r)
    if (!IsAnsiAlphaNumeric(c)) c = '_';
  RV_EscapeRTFBytes(r, false);
  return r;
}

void RV_WriteUnicodeRTFStr(TStream& stream, const std::string& s, uint32_t code_page, bool duplicate_ansi,
                           bool special_code) {
  WideString w = RVU_RawUnicodeToWideString(s);
  AnsiString out;
  for (char16_t c : w) {
    if (c > 0 && c < 128) {
      out += RV_MakeRTFStr(AnsiString(1, static_cast<char>(c)), special_code, true);
      continue;
    }
    if (!special_code) {
      const char* word = nullptr;
      switch (c) {
        case 149: word = "\\bullet "; break;
        case 160: word = "\\~"; break;
        case 173: word = "\\-"; break;
        case 0x2002: word = "\\enspace "; break;
        case 0x2003: word = "\\emspace "; break;
        case 0x2005: word = "\\qmspace "; break;
        case 0x2013: word = "\\endash "; break;
        case 0x2014: word = "\\emdash "; break;
        case 0x2018: word = "\\lquote "; break;
        case 0x2019: word = "\\rquote "; break;
        case 0x201C: word = "\\ldblquote "; break;
        case 0x201D: word = "\\rdblquote "; break;
        default: break;
      }
      if (word) {
        out += word;
        continue;
      }
    }
    AnsiString a;
    if (duplicate_ansi) {
      a = RVU_UnicodeToAnsi(code_page, RVU_WideStringToRawUnicode(WideString(1, c)));
      if (a.size() != 1) out += "\\uc" + std::to_string(a.size());
    }
    out += "\\u" + std::to_string(static_cast<int16_t>(c)) + " ";
    if (duplicate_ansi) {
      if (!a.empty()) out += RV_MakeRTFStr(a, false, true);
      if (a.size() != 1) out += "\\uc1 ";
    }
  }
  if (!out.empty()) stream.WriteBuffer(out.data(), static_cast<int64_t>(out.size()));
}

// ---- URLs -------------------------------------------------------------------------------------
bool RV_IsURL(const AnsiString& s) {
  if (RVCustomURLTest && RVCustomURLTest(s)) return true;
  static const char* const kPrefixes[] = {"http://", "ftp://",  "file://", "gopher://", "mailto:", "https://",
                                          "news:",   "telnet:", "wais:",   "www.",      "ftp."};
  AnsiString lower = AnsiLowerCase(s);
  for (const char* p : kPrefixes) {
    size_t n = std::char_traits<char>::length(p);
    if (lower.size() > n && lower.compare(0, n, p) == 0) return true;
  }
  return false;
}

bool RV_IsEmail(const AnsiString& s) {
  size_t at = s.find('@');
  if (at == AnsiString::npos) return false;
  size_t dot = s.rfind('.');
  return dot != AnsiString::npos && dot > at;
}

// ---- Units -------------------------------------------------------------------------------------
int32_t RV_XToDevice(int32_t x, const TRVScreenAndDevice& sd) { return MulDiv(x, sd.ppixDevice, sd.ppixScreen); }
int32_t RV_YToDevice(int32_t y, const TRVScreenAndDevice& sd) { return MulDiv(y, sd.ppiyDevice, sd.ppiyScreen); }
int32_t RV_XToScreen(int32_t x, const TRVScreenAndDevice& sd) { return MulDiv(x, sd.ppixScreen, sd.ppixDevice); }
int32_t RV_YToScreen(int32_t y, const TRVScreenAndDevice& sd) { return MulDiv(y, sd.ppiyScreen, sd.ppiyDevice); }

void RV_RectToScreen(TRect& r, const TRVScreenAndDevice& sd) {
  r.Left = RV_XToScreen(r.Left, sd);
  r.Top = RV_YToScreen(r.Top, sd);
  r.Right = RV_XToScreen(r.Right, sd);
  r.Bottom = RV_YToScreen(r.Bottom, sd);
}

void RV_GetScreenAndDeviceResolution(TCanvas& canvas, TRVScreenAndDevice& sd) {
  sd.ppixDevice = canvas.GetDeviceCaps(LOGPIXELSX);
  sd.ppiyDevice = canvas.GetDeviceCaps(LOGPIXELSY);
  sd.ppixScreen = kScreenPixelsPerInch;
  sd.ppiyScreen = kScreenPixelsPerInch;
}

int32_t RV_GetScreenPPI() { return RVCustomScreenPPI > 0 ? RVCustomScreenPPI : kScreenPixelsPerInch; }

bool RV_PointInRect(int32_t x, int32_t y, int32_t left, int32_t top, int32_t width, int32_t height) {
  return left <= x && x < left + width && top <= y && y < top + height;
}

// ---- Colours for printing ----------------------------------------------------------------------------
int32_t RV_GetLuminance(TColor color) {
  // Exact in hundredths, rounded half to even as the family rounds everywhere.
  TColor rgb = ColorToRGB(color);
  int32_t h = 30 * GetRValue(rgb) + 59 * GetGValue(rgb) + 11 * GetBValue(rgb);
  int32_t q = h / 100, r = h % 100;
  if (r > 50 || (r == 50 && (q & 1))) ++q;
  return q;
}

TColor RV_GetGrayColor(TColor color) {
  if (color == clNone) return clNone;
  int32_t l = RV_GetLuminance(color);
  if (l > 255) l = 255;
  return RGB(static_cast<uint8_t>(l), static_cast<uint8_t>(l), static_cast<uint8_t>(l));
}

TColor RV_MapSystemColorForPrint(TColor color) {
  if (color == clScrollBar || color == clBtnFace) return 0xC0C0C0;
  if (color == clWindow || color == clBtnHighlight) return 0xFFFFFF;
  if (color == clWindowText) return 0;
  if (color == clBtnShadow) return 0x808080;
  return color;
}

TColor RV_ColorForPrintMode(TColor color, int32_t mode) {
  if (color == clNone) return clNone;
  switch (mode) {
    case 0: return color;
    case 1: return RV_MapSystemColorForPrint(color);
    case 2: return RV_GetGrayColor(RV_MapSystemColorForPrint(color));
    default: return ColorToRGB(RV_MapSystemColorForPrint(color)) == clWhite ? clWhite : clBlack;
  }
}

TColor RV_BackColorForPrintMode(TColor color, int32_t mode) {
  if (color == clNone) return clNone;
  if (mode >= 0 && mode <= 2) return RV_ColorForPrintMode(color, mode);
  return clWhite;
}

}  // namespace pelvar
