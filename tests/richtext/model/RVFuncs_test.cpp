#include "richtext/model/RVFuncs.h"
#include "richtext/model/RVStyle.h"

#include <gtest/gtest.h>

#include <tuple>

#include "platform/codepage.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/RVUni.h"

namespace pelvar {
namespace {

std::string U(std::string_view utf8) { return RVU_WideStringToRawUnicode(Utf8ToUtf16(utf8)); }

TEST(RVFuncsTest, StringReplacement) {
  AnsiString s = "a  b";
  RV_ReplaceAll(s, "  ", " ");
  EXPECT_EQ(s, "a b");
  s = "aaaa";
  RV_ReplaceAll(s, "aa", "a");  // searched again from the start: "aaaa" -> "aaa" -> "aa" -> "a"
  EXPECT_EQ(s, "a");
  s = "xax";
  RV_ReplaceAll(s, "a", "aa");  // a replacement holding the searched text ends
  EXPECT_EQ(s, "xaax");
  // The document data's replacement searches again from the start after each: new
  // occurrences that a replacement makes with the text before it are replaced too.
  for (auto [text, search, replacement, result] :
       {std::tuple{"aabb", "ab", "", ""}, std::tuple{"xaabbx", "ab", "", "xx"}, std::tuple{"abcabc", "bc", "b", "abab"},
        std::tuple{"cccc", "cc", "c", "c"}, std::tuple{"no match", "zz", "y", "no match"},
        std::tuple{"x", "", "y", "x"}, std::tuple{"xax", "a", "aa", "xaax"}}) {
    AnsiString t = text;
    RV_ReplaceAllStr(t, search, replacement);
    EXPECT_EQ(t, result) << text << " / " << search;
  }
  s = "aaaa";
  RV_ReplaceAllOnce(s, "aa", "a");
  EXPECT_EQ(s, "aa");
  EXPECT_EQ(RV_ReplaceTabsA("a\tb", 2), "a  b");
  EXPECT_EQ(RV_ReplaceTabsW(U("č\t"), 3), U("č   "));
  EXPECT_EQ(RV_CharPos("abc", 'c', 3), 3);
  EXPECT_EQ(RV_CharPos("abc", 'c', 2), 0);
  EXPECT_EQ(RV_CharPos(nullptr, 'c', 2), 0);
  AnsiString list;
  RV_AddStrEx(list, "a", ";");
  RV_AddStrEx(list, "", ";");
  RV_AddStrWithSpace(list, "b");
  EXPECT_EQ(list, "a b");
}

TEST(RVFuncsTest, HtmlAndCssColours) {
  struct Case {
    TColor color;
    const char* quoted;
    const char* css;
  } cases[] = {
      {clRed, "\"#ff0000\"", "#ff0000"},
      {clNone, "", "transparent"},
      {clWindowText, "\"#000000\"", "#000000"},
      {clBtnFace, "\"#d4d0c8\"", "#d4d0c8"},  // the platform's fixed scheme
      {RGB(0x12, 0xAB, 0x0F), "\"#12ab0f\"", "#12ab0f"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RV_GetHTMLColor(c.color, true), c.quoted);
    EXPECT_EQ(RV_GetCSSColor(c.color), c.css);
  }
  EXPECT_EQ(RV_GetHTMLColor(clRed, false), "#ff0000");
}

TEST(RVFuncsTest, MarkerFontCss) {
  TFont f;
  f.SetName("Tahoma");
  f.SetSize(10);
  f.SetColor(clNavy);
  EXPECT_EQ(RV_GetMarkerFontCSS(f, false), "font-size: 10pt; color: #000080;");
  f.SetStyle({fsBold, fsItalic, fsUnderline, fsStrikeOut});
  EXPECT_EQ(RV_GetMarkerFontCSS(f, true),
            "font-weight: bold; font-style: italic; font-size: 10pt; font-family: 'Tahoma'; "
            "text-decoration: underline line-through; color: #000080;");
  f.SetStyle({});
  f.SetName("wingdings");
  EXPECT_EQ(RV_GetMarkerFontCSS(f, true),
            "font-size: 10pt; font-family: 'Arial Unicode MS', 'Lucida Sans Unicode', 'Arial'; color: #000080;");
}

TEST(RVFuncsTest, HtmlTextAndAttributes) {
  EXPECT_EQ(RV_MakeHTMLStr("    ", false), "&nbsp;&nbsp;&nbsp; ");
  EXPECT_EQ(RV_MakeHTMLStr(CZ("Kůň & <b>"), false), CZ("Kůň &amp; &lt;b&gt;"));
  EXPECT_EQ(RV_MakeHTMLStr("<b>", true), "<b>");
  EXPECT_EQ(RV_HTMLEmptyTagEnd(rvsoXHTML), " /");
  EXPECT_EQ(RV_HTMLEmptyTagEnd(0), "");
  EXPECT_EQ(RV_HTMLBoolAttr("checked", rvsoXHTML), "checked=\"checked\"");
  EXPECT_EQ(RV_HTMLBoolAttr("checked", 0), "checked");
  EXPECT_EQ(RV_HTMLIntAttrValue(-3, rvsoXHTML), "\"-3\"");
  EXPECT_EQ(RV_HTMLQuoteAttrValue("\"x\"", rvsoXHTML), "\"x\"");
  EXPECT_EQ(RV_HTMLQuoteAttrValue("x", rvsoXHTML), "\"x\"");
  EXPECT_EQ(RV_HTMLQuoteAttrValue("x", 0), "x");
  EXPECT_EQ(RV_GetHintAttribute(1, "Say \"hi\""), "title=\"Say 'hi'\"");
  EXPECT_EQ(RV_GetHintAttribute(2, CZ("a{b}\\č")), "\\o \"a_b__\\'e8\"");
  EXPECT_EQ(RV_GetHintAttribute(1, ""), "");
  EXPECT_EQ(RV_GetHTMLPath(CZ("C:\\Obrázky\\pes.png"), rvsoUTF8, 1250), "C:/Obrázky/pes.png");
  EXPECT_EQ(RV_GetHTMLPath("a\\b", 0, 1250), "a/b");
  EXPECT_EQ(RV_DecodeURL("a%20b%2Fc%zz%4"), "a b/c%zz%4");
  struct Size {
    int32_t pt, html;
  } sizes[] = {{8, 1}, {9, 2}, {10, 2}, {12, 3}, {14, 4}, {15, 5}, {18, 5}, {24, 6}, {25, 7}};
  for (const Size& s : sizes) EXPECT_EQ(RV_FontSizeToHTML(s.pt), s.html) << s.pt;
}

TEST(RVFuncsTest, CharsetHtmlNames) {
  struct Case {
    TFontCharset charset;
    const char* name;
  } cases[] = {{EASTEUROPE_CHARSET, "Windows-1250"}, {RUSSIAN_CHARSET, "Windows-1251"}, {SHIFTJIS_CHARSET, "shift_jis"},
               {OEM_CHARSET, "ascii"},              {ANSI_CHARSET, ""},               {DEFAULT_CHARSET, ""}};
  for (const Case& c : cases) EXPECT_EQ(RV_CharsetToHTMLName(c.charset), c.name) << int(c.charset);
}

TEST(RVFuncsTest, SymbolFontAsHtml) {
  EXPECT_EQ(RV_SymbolToHTML("\x61\x62"), "&alpha;&beta;");
  EXPECT_EQ(RV_SymbolToHTML("1+\x80\xA5\x27\xFF\x1F"), "1+&infin;?");
  EXPECT_EQ(RV_SymbolToHTML("\xB0\xF0"), "\xB0&euro;");
  EXPECT_EQ(RV_SymbolToHTMLW(U("\uF061\u0062\uF0A5")), "&alpha;&beta;&infin;");
  EXPECT_THROW(RV_SymbolToHTMLW("abc"), EDocViewError);
}

TEST(RVFuncsTest, RtfEscapingOfCzechText) {
  AnsiString s = "\xE9";
  RV_EscapeRTFBytes(s, false);
  EXPECT_EQ(s, "\\'e9");
  s = "a\xA0\x95\t" + CZ("ž");
  RV_EscapeRTFBytes(s, true);
  EXPECT_EQ(s, "a\\~\\bullet \\'09\\'9e");
  EXPECT_EQ(RV_MakeRTFStr(CZ("Kůň {x}\\"), false, false), "K\\'f9\\'f2 \\{x\\}\\\\");
  EXPECT_EQ(RV_MakeRTFStr("{x}", true, false), "{x}");
  EXPECT_EQ(RV_MakeRTFFileNameStr(CZ("C:\\Psí\\{a}")), "C:\\\\\\\\Ps\\'ed\\\\\\\\\\\\{a\\\\}");
  EXPECT_EQ(RV_MakeRTFIdentifierStr("a\\b{c}"), "a_b_c_");
  EXPECT_EQ(RV_MakeRTFBookmarkNameStr(CZ("Kapitola č. 1")), "Kapitola_\\'e8__1");
}

TEST(RVFuncsTest, UnicodeRtf) {
  struct Case {
    const char* text;
    uint32_t code_page;
    bool duplicate, special;
    const char* rtf;
  } cases[] = {
      {"一", 1250, false, false, "\\u19968 "},
      {"！", 1250, false, false, "\\u-255 "},
      {"ř", 1250, true, false, "\\u345 \\'f8"},
      {"一", 1250, true, false, "\\u19968 ?"},
      {"日", 932, true, false, "\\uc2\\u26085 \\'93\\'fa\\uc1 "},
      {"a{b}", 1250, false, false, "a\\{b\\}"},
      {"a{b}", 1250, false, true, "a{b}"},
      {"\u2013\u00A0\u201C", 1250, true, false, "\\endash \\~\\ldblquote "},
      {"\u2013", 1250, true, true, "\\u8211 \\'96"},
  };
  for (const Case& c : cases) {
    TMemoryStream st;
    RV_WriteUnicodeRTFStr(st, U(c.text), c.code_page, c.duplicate, c.special);
    std::string out(reinterpret_cast<const char*>(st.Memory()), static_cast<size_t>(st.Size()));
    EXPECT_EQ(out, c.rtf) << c.text;
  }
}

TEST(RVFuncsTest, UrlAndEmailRecognition) {
  struct Case {
    const char* text;
    bool url;
  } urls[] = {{"www.", false},      {"WWW.x", true},       {"http://", false}, {"HTTPS://pelvar.cz", true},
              {"mailto:a@b.cz", true}, {"ftp.x", true},     {"xwww.a", false},  {"news:x", true},
              {"", false}};
  for (const Case& c : urls) EXPECT_EQ(RV_IsURL(c.text), c.url) << c.text;
  EXPECT_FALSE(RV_IsEmail("jan.novak@cz"));
  EXPECT_TRUE(RV_IsEmail("jan@pelvar.cz"));
  EXPECT_FALSE(RV_IsEmail("pelvar.cz"));
  RVCustomURLTest = [](const AnsiString& s) { return s == "intranet"; };
  EXPECT_TRUE(RV_IsURL("intranet"));
  EXPECT_TRUE(RV_IsURL("www.a"));
  RVCustomURLTest = nullptr;
  EXPECT_FALSE(RV_IsURL("intranet"));
}

TEST(RVFuncsTest, UnitsAndGeometry) {
  TRVScreenAndDevice sd;
  sd.ppixDevice = 600;
  sd.ppiyDevice = 300;
  EXPECT_EQ(RV_XToDevice(96, sd), 600);
  EXPECT_EQ(RV_YToDevice(96, sd), 300);
  EXPECT_EQ(RV_XToScreen(600, sd), 96);
  TRect r = Rect(600, 300, 1200, 600);
  RV_RectToScreen(r, sd);
  EXPECT_EQ(r, Rect(96, 96, 192, 192));
  TRecordingCanvas canvas;
  TRVScreenAndDevice got;
  got.LeftMargin = 7;
  RV_GetScreenAndDeviceResolution(canvas, got);
  EXPECT_EQ(got.ppixDevice, 96);
  EXPECT_EQ(got.LeftMargin, 7);
  EXPECT_EQ(RV_GetScreenPPI(), 96);
  RVCustomScreenPPI = 120;
  EXPECT_EQ(RV_GetScreenPPI(), 120);
  RVCustomScreenPPI = 0;
  EXPECT_TRUE(RV_PointInRect(10, 10, 10, 10, 1, 1));
  EXPECT_FALSE(RV_PointInRect(11, 10, 10, 10, 1, 1));
}

TEST(RVFuncsTest, PrintColours) {
  struct Case {
    TColor color;
    int32_t mode;
    TColor text, back;
  } cases[] = {
      {clYellow, 3, clBlack, clWhite},     {clWhite, 3, clWhite, clWhite},   {clWindow, 3, clWhite, clWhite},
      {clNone, 2, clNone, clNone},         {clNone, 3, clNone, clNone},      {clBtnFace, 1, 0xC0C0C0, 0xC0C0C0},
      {clBtnFace, 0, clBtnFace, clBtnFace}, {clWindowText, 1, 0, 0},         {clRed, 2, RGB(76, 76, 76), RGB(76, 76, 76)},
      {clBtnShadow, 2, 0x808080, 0x808080},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RV_ColorForPrintMode(c.color, c.mode), c.text) << std::hex << c.color << " " << c.mode;
    EXPECT_EQ(RV_BackColorForPrintMode(c.color, c.mode), c.back) << std::hex << c.color << " " << c.mode;
  }
  EXPECT_EQ(RV_GetLuminance(clWhite), 255);
  // Halves round to the even neighbour.
  EXPECT_EQ(RV_GetLuminance(RGB(15, 0, 0)), 4);
  EXPECT_EQ(RV_GetLuminance(RGB(5, 0, 0)), 2);
  EXPECT_EQ(RV_GetLuminance(clRed), 76);
  EXPECT_EQ(RV_ColorForPrintMode(clRed, 2), RGB(76, 76, 76));
  EXPECT_EQ(RV_GetGrayColor(clWhite), clWhite);
}

// Font tags of text styles, whole and relative to a base style, and of list markers.
TEST(RVFuncsHtmlTest, FontTags) {
  TFontInfos infos;
  TFontInfo* base = infos.Add();
  TFontInfo* s = infos.Add();
  s->Style = {fsBold, fsUnderline};
  s->Size = 14;
  s->VShift = 5;
  EXPECT_EQ(RV_HTMLOpenFontTag(*s, nullptr, false, 0), "<font size=4 color=\"#000000\" face=\"Arial\"><b><u><sup>");
  EXPECT_EQ(RV_HTMLCloseFontTag(*s, nullptr, false), "</sup></u></b></font>");
  base->Style = {fsItalic, fsBold};
  EXPECT_EQ(RV_HTMLOpenFontTag(*s, base, true, rvsoXHTML), "<font size=\"4\"></i><u><sup>");
  EXPECT_EQ(RV_HTMLCloseFontTag(*s, base, true), "</sup></u><i></font>");
  s->Size = 10;
  s->VShift = 0;
  EXPECT_EQ(RV_HTMLOpenFontTag(*s, base, true, 0), "</i><u>");
  EXPECT_EQ(RV_HTMLCloseFontTag(*s, base, true), "</u><i>");

  TFont marker;
  marker.SetName("Symbol");
  marker.SetSize(10);
  marker.SetColor(clWindowText);
  marker.SetStyle({fsBold});
  EXPECT_EQ(RV_HTMLOpenMarkerFontTag(marker, *base, false, 0), "</i>");
  EXPECT_EQ(RV_HTMLOpenMarkerFontTag(marker, *base, true, 0), "<font face=\"Symbol\"></i>");
  EXPECT_EQ(RV_HTMLCloseMarkerFontTag(marker, *base, true), "<i></font>");
}

}  // namespace
}  // namespace pelvar
