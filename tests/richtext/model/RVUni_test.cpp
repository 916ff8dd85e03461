#include "richtext/model/RVUni.h"

#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "richtext/model/CRVData.h"

namespace pelvar {
namespace {

// UTF-16 item string (little-endian byte pairs) from UTF-8 source text.
std::string U(std::string_view utf8) { return RVU_WideStringToRawUnicode(Utf8ToUtf16(utf8)); }
std::string Utf8Of(const std::string& item) { return Utf16ToUtf8(RVU_RawUnicodeToWideString(item)); }

TEST(RVUniTest, CharacterEditsOnAnsiAndUnicodeItems) {
  const std::string a = CZ("Kůň běží");
  const std::string w = U("Kůň běží");
  EXPECT_EQ(RVU_Length(a, 0), 8);
  EXPECT_EQ(RVU_Length(w, rvioUnicode), 8);
  EXPECT_EQ(RVU_Copy(a, 2, 2, 0), CZ("ůň"));
  EXPECT_EQ(Utf8Of(RVU_Copy(w, 2, 2, rvioUnicode)), "ůň");
  EXPECT_EQ(Utf8Of(RVU_Copy(w, 7, 99, rvioUnicode)), "ží");
  std::string w2 = w;
  RVU_Delete(w2, 1, 4, rvioUnicode);
  EXPECT_EQ(Utf8Of(w2), "běží");
  RVU_Insert(U("Pes "), w2, 1, rvioUnicode);
  EXPECT_EQ(Utf8Of(w2), "Pes běží");
  EXPECT_TRUE(RVU_IsSpace(w, 4, rvioUnicode));
  EXPECT_FALSE(RVU_IsSpace(w, 3, rvioUnicode));
  EXPECT_FALSE(RVU_IsSpace(U("\u2020"), 1, rvioUnicode));  // low byte 0x20, high byte not 0
  EXPECT_TRUE(RVU_IsSpace(a, 4, 0));
  EXPECT_FALSE(RVU_IsSpace(a, 9, 0));
  EXPECT_THROW(RVU_RawUnicodeToWideString("abc"), EDocViewError);
}

TEST(RVUniTest, ByteOrderMarks) {
  WideString plain = u"\xFEFF" u"ab";
  char16_t* p = plain.data();
  int32_t n = 3;
  RVU_ProcessByteOrderMark(p, n);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(WideString(p, 2), u"ab");
  WideString swapped = {0xFFFE, 0x6100, 0x0D01};
  p = swapped.data();
  n = 3;
  RVU_ProcessByteOrderMark(p, n);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(WideString(p, 2), (WideString{u'a', 0x010D}));
  const char16_t text[] = u"abcabc";
  EXPECT_EQ(RVU_StrScanW(text, u'c', 6), text + 2);
  EXPECT_EQ(RVU_StrScanW(text, u'x', 6), nullptr);
  // The whole count is scanned, also past 65,535 units.
  WideString big(70000, u'a');
  big[5000] = u'x';
  big[69999] = u'y';
  EXPECT_EQ(RVU_StrScanW(big.data(), u'x', 70000), big.data() + 5000);
  EXPECT_EQ(RVU_StrScanW(big.data(), u'y', 70000), big.data() + 69999);
  EXPECT_EQ(RVU_StrScanW(big.data(), u'y', 69999), nullptr);
}

TEST(RVUniTest, CodePageConversionOfItemTexts) {
  struct Case {
    uint32_t code_page;
    std::string ansi;  // bytes of the code page
    const char* utf8;
  } cases[] = {
      {1250, CZ("Žluťoučký kůň"), "Žluťoučký kůň"},
      {0, CZ("Příliš"), "Příliš"},                            // the system code page
      {1251, "\xCF\xF0\xE8\xE2\xE5\xF2", "Привет"},
      {1252, "caf\xE9", "café"},
      {1, "k\x85\xE5", "kůň"},                                 // the OEM code page (852)
      {932, "\x93\xFA\x96\x7B", "日本"},                        // Shift-JIS
      {12345, CZ("čaj"), "čaj"},                               // unknown: the system code page
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code_page);
    EXPECT_EQ(Utf8Of(RVU_AnsiToUnicode(c.code_page, c.ansi)), c.utf8);
    EXPECT_EQ(RVU_UnicodeToAnsi(c.code_page, U(c.utf8)), c.ansi);
    EXPECT_EQ(RVU_AnsiToUTF8(c.code_page, c.ansi), c.utf8);
  }
  // What a code page lacks becomes "?"; nothing is lost of the rest.
  EXPECT_EQ(RVU_UnicodeToAnsi(1251, U("ř€x")), "?\x88x");
  EXPECT_EQ(RVU_UnicodeToAnsi(1250, U("a日b")), "a?b");
  EXPECT_EQ(RVU_UnicodeToAnsi(1250, U("a\U0001F600b")), "a?b");  // a surrogate pair is one character
  EXPECT_EQ(Utf8Of(RVU_AnsiToUnicode(932, "a\x81")), "a?");      // a cut double-byte character
  EXPECT_EQ(RVU_AnsiToUnicode(1250, ""), "");
  EXPECT_THROW(RVU_UnicodeToAnsi(1250, "odd"), EDocViewError);
  EXPECT_FALSE(RVU_CanConvertToCodePage(1250, "abc"));
}

TEST(RVUniTest, CharsetsLanguagesAndLocales) {
  EXPECT_EQ(RVU_CharsetToCodePage(EASTEUROPE_CHARSET), 1250u);
  EXPECT_EQ(RVU_CharsetToCodePage(ANSI_CHARSET), 1252u);
  EXPECT_EQ(RVU_CharsetToCodePage(OEM_CHARSET), 1u);
  EXPECT_EQ(RVU_CharsetToCodePage(DEFAULT_CHARSET), 0u);
  EXPECT_EQ(RVU_CharsetToCodePage(SYMBOL_CHARSET), 0u);
  EXPECT_EQ(RVU_LangToLCID(RVU_CharsetToLanguage(ANSI_CHARSET)), 1033u | 1024u);
  EXPECT_EQ(RVU_LangToLCID(1033), 1033u);
  EXPECT_EQ(RVU_LangToLCID(0), 1024u);
  EXPECT_EQ(RVU_LangToLCID(RVU_CharsetToLanguage(GB2312_CHARSET)), 3076u);
  EXPECT_EQ(RVU_CharsetToLanguage(BALTIC_CHARSET), 0);
  EXPECT_EQ(RVU_CharsetToLanguage(EASTEUROPE_CHARSET), 1024);
}

// Measured with the synthetic font: every code unit 5 pixels wide (8 points = 11 pixels).
class RVUniMeasureTest : public ::testing::Test {
 protected:
  TRecordingCanvas canvas_;
};

TEST_F(RVUniMeasureTest, ZeroWidthCharactersMeasureNothing) {
  ASSERT_EQ(canvas_.TextExtentW(u"ab").cx, 10);
  const WideString cases[] = {u"a\u200Bb", u"\u200Da\u2060b\u200B", u"a\u200B\u200B\u200Bb"};
  for (const WideString& t : cases) {
    TSize size;
    RVU_GetTextExtentW(canvas_, t.data(), static_cast<int32_t>(t.size()), size);
    EXPECT_EQ(size.cx, 10);
    EXPECT_EQ(RVU_TextWidth(RVU_WideStringToRawUnicode(t), canvas_, rvioUnicode), 10);
  }
  EXPECT_EQ(RVU_ZeroWidthSpaceWidth(canvas_), 5);
  EXPECT_EQ(RVU_TextWidth(CZ("kůň"), canvas_, 0), 15);
}

TEST_F(RVUniMeasureTest, ExtentsAndFitSkipZeroWidthCharacters) {
  struct Case {
    const char16_t* text;
    int32_t max_extent;
    std::vector<int32_t> extents;
    int32_t fit;
  } cases[] = {
      {u"abcde", 16, {5, 10, 15, 20, 25}, 3},
      {u"ab\u200Bcd", 16, {5, 10, 10, 15, 20}, 4},
      {u"\u200Babc", 10, {0, 5, 10, 15}, 2},  // grows while strictly below the limit
      {u"ab\u200Bcd", 100, {5, 10, 10, 15, 20}, 5},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.text));
    std::string item = RVU_WideStringToRawUnicode(c.text);
    std::vector<int32_t> ext;
    int32_t fit = -1;
    RVU_GetTextExtentExPoint(canvas_, item, c.max_extent, fit, &ext, rvioUnicode);
    EXPECT_EQ(ext, c.extents);
    EXPECT_EQ(fit, c.fit);
    int32_t fit2 = -1;
    TSize size;
    RVU_GetTextExtentExPointPW(canvas_, item.data(), RVU_Length(item, rvioUnicode), c.max_extent, fit2, nullptr,
                               rvioUnicode, size);
    EXPECT_EQ(fit2, c.fit);
    EXPECT_EQ(size.cx, c.extents.back());
  }
  int32_t fit = -1;
  std::vector<int32_t> ext;
  RVU_GetTextExtentExPoint(canvas_, CZ("čaj"), 11, fit, &ext, 0);
  EXPECT_EQ(fit, 2);
  EXPECT_EQ(ext, (std::vector<int32_t>{5, 10, 15}));
  RVU_GetTextExtentExPoint(canvas_, "", 11, fit, &ext, 0);
  EXPECT_EQ(fit, 0);
}

TEST_F(RVUniMeasureTest, CaretPositionsAndRanges) {
  std::vector<int32_t> pos;
  ASSERT_TRUE(RVU_GetTextCaretPos(canvas_, CZ("kůň"), pos, 0, 15));
  EXPECT_EQ(pos, (std::vector<int32_t>{0, 5, 10, 15}));
  ASSERT_TRUE(RVU_GetTextCaretPos(canvas_, U("a\u200Bb"), pos, rvioUnicode, 10));
  EXPECT_EQ(pos, (std::vector<int32_t>{0, 5, 5, 10}));
  // The layout is trusted within one pixel of the expected width only.
  EXPECT_TRUE(RVU_GetTextCaretPos(canvas_, "abc", pos, 0, 16));
  EXPECT_TRUE(RVU_GetTextCaretPos(canvas_, "abc", pos, 0, 14));
  EXPECT_FALSE(RVU_GetTextCaretPos(canvas_, "abc", pos, 0, 17));
  EXPECT_FALSE(RVU_GetTextCaretPos(canvas_, "abc", pos, 0, 13));
  int32_t left = -1, right = -1;
  ASSERT_TRUE(RVU_GetTextRangeCoords(canvas_, "abcd", 2, 2, 0, 20, left, right));
  EXPECT_EQ(left, 5);
  EXPECT_EQ(right, 15);
  EXPECT_FALSE(RVU_GetTextRangeCoords(canvas_, "abcd", 2, 2, 0, 30, left, right));
  EXPECT_FALSE(RVU_GetTextRangeCoords(canvas_, "abcd", 4, 5, 0, 20, left, right));
}

TEST_F(RVUniMeasureTest, SelectedTextIsDrawnAsOneRun) {
  EXPECT_FALSE(RVU_DrawSelectedTextEx(10, 20, 20, 11, "abcd", canvas_, 2, 3, 0, false));
  EXPECT_TRUE(canvas_.Calls("ExtTextOut").empty());
  ASSERT_TRUE(RVU_DrawSelectedTextEx(10, 20, 20, 11, U("abcd"), canvas_, 2, 3, rvioUnicode, true));
  auto calls = canvas_.Calls("ExtTextOutW");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Text, u"abcd");
  const auto& a = calls[0].Args;  // x, y, options, rect
  ASSERT_GE(a.size(), 7u);
  EXPECT_EQ(a[0], 10);
  EXPECT_EQ(a[1], 20);
  EXPECT_EQ(static_cast<uint32_t>(a[2]), ETO_OPAQUE | ETO_CLIPPED);
  EXPECT_EQ((std::vector<int32_t>{a[3], a[4], a[5], a[6]}), (std::vector<int32_t>{15, 20, 25, 31}));
  EXPECT_FALSE(RVU_DrawSelectedTextEx(10, 20, 99, 11, "abcd", canvas_, 1, 4, 0, true));
}

TEST(RVUniHtmlTest, UnicodeTextAsHtml) {
  struct Case {
    const char* text;
    const char* html;
    const char* html_utf8;
  } cases[] = {
      {"  a", "&nbsp; a", "&nbsp; a"},
      {"a  ", "a &nbsp;", "a &nbsp;"},
      {"Kůň & <pes>", "K&#367;&#328; &amp; &lt;pes&gt;", "Kůň &amp; &lt;pes&gt;"},
      {"a\u00A0b    c", "a&nbsp;b &nbsp; &nbsp;c", "a&nbsp;b &nbsp; &nbsp;c"},
      {"", "", ""},
      {"a\U0001F600b", "a&#128512;b", "a\U0001F600b"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(RVU_UnicodeToHTML(U(c.text), false), c.html) << c.text;
    EXPECT_EQ(RVU_UnicodeToHTMLUTF8(U(c.text), false), c.html_utf8) << c.text;
  }
  EXPECT_EQ(RVU_UnicodeToHTMLUTF8(U("<č>"), true), "<č>");
  bool prev = false;
  EXPECT_EQ(RVU_CharToHTML(u'<', prev, true, false), "<");
}

TEST(RVUniLineBreakTest, Classes) {
  struct Case {
    char16_t ch;
    TRVLineBreakClass cls;
  } cases[] = {
      {u'(', rvlbOP}, {u']', rvlbCL}, {u'"', rvlbQU}, {0x201E, rvlbOP}, {0x00A0, rvlbGL}, {0x30C3, rvlbNS},
      {u'?', rvlbEX}, {u'/', rvlbSY}, {u',', rvlbIS}, {u'$', rvlbPR}, {u'%', rvlbPO}, {0x2031, rvlbPO},
      {u'7', rvlbNU}, {0x0663, rvlbNU}, {u'ž', rvlbAL}, {0x4E00, rvlbID}, {0xAC00, rvlbID}, {0x2026, rvlbIN},
      {u'-', rvlbHY}, {u'\t', rvlbBA}, {0x00AD, rvlbBA}, {0x00B4, rvlbBB}, {0x2014, rvlbB2}, {0x200B, rvlbZW},
      {0x0301, rvlbCM}, {0x0001, rvlbCM}, {0x0085, rvlbCM}, {u' ', rvlbAL}, {u'\n', rvlbAL},
  };
  for (const Case& c : cases) EXPECT_EQ(RVU_GetLineBreakClass(c.ch), c.cls) << std::hex << int(c.ch);
}

TEST(RVUniLineBreakTest, BreakSearch) {
  struct Case {
    const char16_t* text;
    int32_t index;
    bool last_char_only;
    int32_t expected;
  } cases[] = {
      {u"abc def", 5, false, 3},     // after the space
      {u"abcdef", 4, false, -1},     // no opportunity
      {u"ab   cd", 6, false, 4},     // after the last space of the run
      {u"(abc", 2, false, -1},       // never after an opening bracket
      {u"ab)cd", 2, false, -1},      // never before a closing bracket...
      {u"ab)cd", 4, false, 2},       // ...but after it
      {u"ab!", 2, false, -1},        // never before "!"
      {u"x $5", 3, false, 1},        // "$5" is kept together
      {u"ab-cd", 4, false, 2},       // after a hyphen
      {u"\u4E00\u4E01\u4E02", 2, false, 1},  // between ideographs
      {u"ab cd ef", 5, true, 2},     // a space at the limit with only the last character
      {u"abc def", 3, true, -1},
      {u" abc", 1, true, -1},        // nothing before a leading space
      {u" abc", 0, true, -1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(RVU_FindLineBreak(c.text, c.index, c.last_char_only), c.expected)
        << Utf16ToUtf8(c.text) << " @" << c.index;
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

TEST(RVUniDisplayTest, DisplayText) {
  struct Case {
    const char* text;
    bool all_caps, ends_wrapped, show_special, remove_zw;
    uint32_t shown;
    const char* display;
  } cases[] = {
      {"kůň žere", true, false, false, false, 0, "KŮŇ ŽERE"},
      {"ko\u00ADčka", false, false, false, false, 0, "ko\u200Bčka"},
      {"ko\u00ADčka", false, false, true, false, rvscSoftHyphen, "ko\u00ACčka"},
      {"ko\u00ADčka", false, false, true, false, 0, "ko\u200Bčka"},
      {"ko\u00AD", false, true, false, false, 0, "ko\u00AD"},           // ends a wrapped line: a hyphen
      {"\u00ADko\u00AD", false, true, true, false, rvscSoftHyphen, "\u00ACko\u00AC"},
      {"a\u00ADb\u200Dc\u2060", false, false, false, true, 0, "abc"},
  };
  for (const Case& c : cases) {
    std::string item = RVU_WideStringToRawUnicode(Utf8ToUtf16(c.text));
    EXPECT_EQ(Utf16ToUtf8(RVU_RawUnicodeToWideString(RVU_PrepareDisplayText(
                  item, c.all_caps, rvioUnicode, c.ends_wrapped, c.show_special, c.remove_zw, c.shown))),
              c.display)
        << c.text;
  }
  EXPECT_EQ(RVU_PrepareDisplayText(CZ("kůň") + "\xAD", true, 0, false, false, false, 0), CZ("KŮŇ") + "\xAD");
}

}  // namespace
}  // namespace pelvar
