#include "richtext/model/RVRTF.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/canvas.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"

namespace pelvar {
namespace {

// What the reader delivered, as readable lines; property snapshots are taken at the
// moment each text run arrives, as an importer would read them.
struct TRun {
  TRVRTFPosition Position;
  std::string Text;  // UTF-8 for Unicode runs, raw bytes for ANSI runs
  bool Unicode = false;
  uint8_t FontStyle = 0;
  int32_t Size = 0;
  TColor Color = 0, BackColor = 0, ParaColor = 0;
  int32_t FontIndex = 0;
  uint8_t Alignment = 0;
  bool Hidden = false;
  int32_t ListOverrideIndex = -1;
  uint32_t CodePage = 0;
  int32_t TabCount = 0;
  std::string Tabs;  // "position/kind/leader,..."
};

class TRecorder {
 public:
  explicit TRecorder(bool unicode = true) {
    reader.OnNewText = [this](TRVRTFReader* r, const AnsiString& t, TRVRTFPosition p) {
      Add(r, t, p, false);
    };
    if (unicode)
      reader.OnNewUnicodeText = [this](TRVRTFReader* r, const WideString& t, TRVRTFPosition p) {
        Add(r, Utf16ToUtf8(t), p, true);
      };
    reader.OnTable = [this](TRVRTFReader* r, TRVRTFTableEventKind k) {
      static const char* names[] = {"TS", "TE", "RE", "CE"};
      log.push_back(names[k]);
      if (k == rvf_tbl_RowEnd && r->GroupState().RowPropsOrNull()) {
        std::string cells;
        const auto& row = *r->GroupState().RowPropsOrNull();
        for (int32_t i = 0; i < row.Cells.Count(); ++i)
          cells += (i ? "," : "") + std::to_string(row.Cells.Items(i)->RightBoundary);
        rowCells.push_back(cells);
      }
    };
  }

  uint8_t Parse(const std::string& rtf) {
    TStringStream s(rtf);
    runs.clear();
    log.clear();
    return reader.Parse(s);
  }

  // Texts with positions: "2:a", "2:", "1:b"; Unicode runs are marked with "u".
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& r : runs) out.push_back(std::to_string(r.Position) + (r.Unicode ? "u:" : ":") + r.Text);
    return out;
  }
  std::string AllText() const {
    std::string s;
    for (const auto& r : runs) s += r.Text;
    return s;
  }

  TRVRTFReader reader{nullptr};
  std::vector<TRun> runs;
  std::vector<std::string> log;  // texts and table events in order
  std::vector<std::string> rowCells;

 private:
  void Add(TRVRTFReader* r, const std::string& text, TRVRTFPosition p, bool unicode) {
    const auto& st = r->GroupState();
    TRun run;
    run.Position = p;
    run.Text = text;
    run.Unicode = unicode;
    run.FontStyle = st.CharProps.FontStyle;
    run.Size = st.CharProps.Size;
    run.Color = st.CharProps.Color;
    run.BackColor = st.CharProps.BackColor;
    run.ParaColor = st.ParaProps.Color;
    run.FontIndex = st.CharProps.FontIndex;
    run.Alignment = st.ParaProps.Alignment;
    run.Hidden = st.CharProps.Hidden;
    run.ListOverrideIndex = st.ParaProps.ListOverrideIndex;
    run.CodePage = r->CodePageInUse();
    run.TabCount = st.ParaProps.TabsOrNull() ? st.ParaProps.TabsOrNull()->Count() : 0;
    for (int32_t i = 0; i < run.TabCount; ++i) {
      const TRVRTFTab& t = *st.ParaProps.TabsOrNull()->Items(i);
      run.Tabs += (i ? "," : "") + std::to_string(t.Position) + "/" + std::to_string(t.Kind) + "/" +
                  std::to_string(t.Leader);
    }
    runs.push_back(run);
    log.push_back("T:" + text);
  }
};

using Strings = std::vector<std::string>;

// ---- Keyword table -------------------------------------------------------------------

TEST(RVRTFKeywordTable, SortedUniqueAndFound) {
  const auto& t = RTFKeywordTable();
  for (size_t i = 1; i < t.size(); ++i)
    EXPECT_LT(std::string(t[i - 1].Keyword), std::string(t[i].Keyword)) << "duplicate or unsorted";
  for (const char* w : {"par", "b", "'", "*", "\\", "{", "\n", "\r", "trwWidth", "docviewtbw",
                        "listoverridestartat", "brdroutset", "pnseclvl"})
    EXPECT_NE(RTFFindKeyword(w), nullptr) << w;
  // case-sensitive: the mixed-case words exist only as written
  EXPECT_EQ(RTFFindKeyword("trwwidth"), nullptr);
  EXPECT_EQ(RTFFindKeyword("PAR"), nullptr);
  EXPECT_EQ(RTFFindKeyword("rtf"), nullptr);
}

// ---- Control words, parameters and character formatting --------------------------------

struct TFormatCase {
  const char* rtf;
  uint8_t fontStyle;
  int32_t size;
  uint8_t alignment;
};

TEST(RVRTFReader, ControlWordsWithAndWithoutParameters) {
  const TFormatCase cases[] = {
      {"{\\b x}", rtf_fs_Bold, 12, 0},
      {"{\\b1 x}", rtf_fs_Bold, 12, 0},
      {"{\\b\\b0 x}", 0, 12, 0},
      {"{\\i\\ul\\strike x}", rtf_fs_Italic | rtf_fs_Underline | rtf_fs_StrikeOut, 12, 0},
      {"{\\ul\\ulnone x}", 0, 12, 0},
      {"{\\ul\\ulnone5 x}", 0, 12, 0},          // default-only: the parameter is ignored
      {"{\\fs x}", 0, 12, 0},                    // default 24 half-points
      {"{\\fs25 x}", 0, 12, 0},                  // 12.5 -> 12 (halves to even)
      {"{\\fs27 x}", 0, 14, 0},                  // 13.5 -> 14
      {"{\\fs-6 x}", 0, -3, 0},
      {"{\\qc\\ql7 x}", 0, 12, 0},               // "ql" with any parameter aligns left
      {"{\\qr x}", 0, 12, 1},
      {"{\\qj99 x}", 0, 12, 3},
      {"{\\b{\\i x}}", rtf_fs_Bold | rtf_fs_Italic, 12, 0},
      {"{{\\b y}x}", 0, 12, 0},                  // the group end restores the properties
      {"{\\b\\plain x}", 0, 12, 0},
      {"{\\bunknown5 x}", 0, 12, 0},             // an unknown word with its parameter
  };
  for (const auto& c : cases) {
    TRecorder rec;
    ASSERT_EQ(rec.Parse(c.rtf), rtf_ec_OK) << c.rtf;
    ASSERT_FALSE(rec.runs.empty()) << c.rtf;
    const TRun& last = rec.runs.back();
    EXPECT_EQ(last.Text, "x") << c.rtf;
    EXPECT_EQ(last.FontStyle, c.fontStyle) << c.rtf;
    EXPECT_EQ(last.Size, c.size) << c.rtf;
    EXPECT_EQ(last.Alignment, c.alignment) << c.rtf;
  }
}

TEST(RVRTFReader, ControlSymbolsAndCharacterWords) {
  struct {
    const char* rtf;
    std::string text;
  } cases[] = {
      {"{a\\{b\\}c\\\\d}", "a{b}c\\d"},
      {"{a\\~b}", "a\xA0" "b"},
      {"{\\bullet}", "\x95"},
      {"{a\\tab b}", "a\tb"},
      {"{a\\_b\\:c}", "abc"},               // control symbols outside the table are ignored
      {"{a\r\nb}", "ab"},                     // raw CR and LF are dropped
      {"{abc-\\foo-12x}", "abc-x"},          // "-" and digits belong to the word
      {"{\\emdash}", "\x97"},                 // no Unicode handler: the ANSI fallback
  };
  for (const auto& c : cases) {
    TRecorder rec(false);
    ASSERT_EQ(rec.Parse(c.rtf), rtf_ec_OK) << c.rtf;
    EXPECT_EQ(rec.AllText(), c.text) << c.rtf;
  }
  TRecorder rec;
  ASSERT_EQ(rec.Parse("{a\\emdash\\ldblquote b}"), rtf_ec_OK);
  EXPECT_EQ(rec.Texts(), (Strings{"2:a", "0u:\u2014\u201C", "0:b"}));
}

TEST(RVRTFReader, ResultCodes) {
  struct {
    const char* rtf;
    uint8_t code;
  } cases[] = {
      {"", rtf_ec_OK},
      {"plain text", rtf_ec_OK},
      {"{a}}}}", rtf_ec_OK},                   // nothing after the outermost group is read
      {"}", rtf_ec_StackUnderflow},
      {"{a", rtf_ec_UnmatchedBrace},
      {"{{a}", rtf_ec_UnmatchedBrace},
      {"{\\'4g}", rtf_ec_InvalidHex},
      {"{\\'", rtf_ec_UnmatchedBrace},
      {"{\\", rtf_ec_EndOfFile},
      {"{\\fs99999999999 x}", rtf_ec_Exception},
      {"{\\fs2147483647 x}", rtf_ec_OK},
      {"{\\fs-2147483648 x}", rtf_ec_OK},
      {"{\\fs2147483648 x}", rtf_ec_Exception},
      {"{\\bin-2147483648 }x}", rtf_ec_OK},   // a negative count takes one byte
      {"{\\bin2147483647 }x}", rtf_ec_UnmatchedBrace},
      {"{\\pnseclvl12\\pnb x}", rtf_ec_Exception},  // numbering level outside 1 to 11
      {"{\\pnseclvl3\\pnb\\pnindent5 x}", rtf_ec_OK},
      {"{\\pict{\\pict 00}}", rtf_ec_InvalidPicture},
      {"{\\object{\\*\\objdata 01 02}}", rtf_ec_InvalidPicture},
      {"{\\object{\\*\\objdata 0102}}", rtf_ec_OK},
  };
  for (const auto& c : cases) {
    TRecorder rec;
    rec.reader.OnNewPicture = [](TRVRTFReader*, TRVRTFPicture*, TGraphic*, TRVRTFPosition,
                                 const AnsiString&, bool&) {};
    rec.reader.OnNewObject = [](TRVRTFReader*, TRVRTFObject*, TRVRTFPosition, bool&) {};
    EXPECT_EQ(rec.Parse(c.rtf), c.code) << c.rtf;
  }
}

TEST(RVRTFReader, HandlerExceptionsBecomeCodes) {
  TRecorder rec;
  rec.reader.OnNewText = [](TRVRTFReader*, const AnsiString&, TRVRTFPosition) {
    throw Exception("handler failed");
  };
  EXPECT_EQ(rec.Parse("{abc\\par def}"), rtf_ec_Aborted);
  TRecorder rec2;
  rec2.reader.OnTable = [](TRVRTFReader*, TRVRTFTableEventKind) { throw std::runtime_error("x"); };
  EXPECT_EQ(rec2.Parse("{\\intbl a\\cell\\row}"), rtf_ec_Exception);
}

TEST(RVRTFReader, TextBeyondTheOutermostGroupIsNotRead) {
  TRecorder rec;
  ASSERT_EQ(rec.Parse("{a}bc"), rtf_ec_OK);
  EXPECT_EQ(rec.Texts(), (Strings{"2:a"}));
  ASSERT_EQ(rec.Parse("no braces at all"), rtf_ec_OK);
  EXPECT_EQ(rec.Texts(), (Strings{"2:no braces at all"}));
  ASSERT_EQ(rec.Parse(""), rtf_ec_OK);
  EXPECT_TRUE(rec.runs.empty());
}

// ---- Paragraph structure -------------------------------------------------------------

TEST(RVRTFReader, PositionsOfRuns) {
  struct {
    const char* rtf;
    Strings texts;
  } cases[] = {
      {"{a\\par\\par b}", {"2:a", "2:", "2:b"}},
      {"{\\par a}", {"2:", "2:a"}},
      {"{a\\line b}", {"2:a", "1:b"}},
      {"{a{\\b b}c}", {"2:a", "0:b", "0:c"}},
      {"{a{\\b}\\par b}", {"2:a", "2:b"}},
      {"{a\\par}", {"2:a"}},
  };
  for (const auto& c : cases) {
    TRecorder rec;
    ASSERT_EQ(rec.Parse(c.rtf), rtf_ec_OK) << c.rtf;
    EXPECT_EQ(rec.Texts(), c.texts) << c.rtf;
  }
}

TEST(RVRTFReader, TabsAsSeparateRuns) {
  TRecorder rec;
  rec.reader.SetTabAsSeparateChar(true);
  ASSERT_EQ(rec.Parse("{a\\tab b}"), rtf_ec_OK);
  EXPECT_EQ(rec.Texts(), (Strings{"2:a", "0:\t", "0:b"}));
}

TEST(RVRTFReader, HiddenTextCarriesHiddenFlag) {
  TRecorder rec;
  ASSERT_EQ(rec.Parse("{a{\\v hidden}b}"), rtf_ec_OK);
  ASSERT_EQ(rec.runs.size(), 3u);
  EXPECT_FALSE(rec.runs[0].Hidden);
  EXPECT_EQ(rec.runs[1].Text, "hidden");
  EXPECT_TRUE(rec.runs[1].Hidden);
  EXPECT_FALSE(rec.runs[2].Hidden);
  // hidden with nothing after it still delivers an empty hidden run
  ASSERT_EQ(rec.Parse("{\\par{\\v}a}"), rtf_ec_OK);
  EXPECT_EQ(rec.Texts(), (Strings{"2:", "2:", "0:a"}));
  EXPECT_TRUE(rec.runs[1].Hidden);
}

// ---- Unicode and code pages -----------------------------------------------------------

TEST(RVRTFReader, UnicodeAndSkipCount) {
  struct {
    const char* rtf;
    bool unicodeHandler;
    Strings texts;
  } cases[] = {
      {"{\\u1089 x}", true, {"2u:\u0441"}},
      {"{\\u1089 xy}", true, {"2u:\u0441", "0:y"}},
      {"{\\uc2\\u1089 xyz}", true, {"2u:\u0441", "0:z"}},
      {"{\\uc0\\u1089 xyz}", true, {"2u:\u0441", "0:xyz"}},
      {"{\\u-3913 x}", true, {"2u:\uF0B7"}},
      {"{\\u1089 x}", false, {"2:x"}},
      {"{\\u269\\'e8\\u353\\'9a!}", true, {"2u:\u010D\u0161", "0:!"}},
      {"{\\u269{\\'e8}x}", true, {"2u:\u010D", "0:\xE8", "0:x"}},  // a group end resets the counter
      // "uc" is scoped to its group: after the group one fallback byte is skipped again
      {"{{\\uc2 a}\\u1089 xb}", true, {"2:a", "0u:\u0441", "0:b"}},
  };
  for (const auto& c : cases) {
    TRecorder rec(c.unicodeHandler);
    ASSERT_EQ(rec.Parse(c.rtf), rtf_ec_OK) << c.rtf;
    EXPECT_EQ(rec.Texts(), c.texts) << c.rtf;
  }
}

// Charset of a font -> Windows code page, for the cases used here.
uint32_t CodePageOfCharset(int charset) {
  switch (charset) {
    case 0: return 1252;
    case 128: return 932;
    case 161: return 1253;
    case 204: return 1251;
    case 238: return 1250;
    default: return 0;
  }
}

TEST(RVRTFReader, HexEscapesInCodePages) {
  // \ansicpg: the bytes arrive as they stand, the code page tells how to read them
  struct {
    const char* rtf;
    uint32_t codePage;
    const char* utf8;
  } ansi[] = {
      {"{\\rtf1\\ansi\\ansicpg1250 \\'e8\\'9a\\'9d\\'f8\\'fd}", 1250, "čšťřý"},
      {"{\\rtf1\\ansi\\ansicpg1251 \\'cf\\'f0\\'e8\\'e2\\'e5\\'f2}", 1251, "Привет"},
      {"{\\rtf1\\ansi\\ansicpg1253 \\'e1\\'e2\\'e3}", 1253, "αβγ"},
      {"{\\rtf1\\ansi\\ansicpg932 \\'82\\'a0\\'82\\'a2}", 932, "あい"},
      {"{\\rtf1\\ansi \\'e8}", 0, "č"},  // no \ansicpg: the system code page, Windows-1250
  };
  for (const auto& c : ansi) {
    TRecorder rec(false);
    ASSERT_EQ(rec.Parse(c.rtf), rtf_ec_OK) << c.rtf;
    ASSERT_EQ(rec.runs.size(), 1u) << c.rtf;
    EXPECT_EQ(rec.runs[0].CodePage, c.codePage);
    EXPECT_EQ(Utf16ToUtf8(TRVRTFReader::AnsiToWide(rec.runs[0].Text, rec.runs[0].CodePage)), c.utf8)
        << c.rtf;
  }
  // \fcharset: each run's font gives the code page
  const char* doc =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss\\fcharset0 Arial;}"
      "{\\f1\\froman\\fcharset238 Times New Roman CE;}{\\f2\\fcharset204 Arial Cyr;}"
      "{\\f3\\fcharset161 Arial Greek;}{\\f4\\fnil\\fcharset128 Mincho;}}"
      "\\f0 caf\\'e9 {\\f1 \\'9e\\'e1k }{\\f2 \\'e4\\'e0 }{\\f3 \\'d9 }{\\f4 \\'93\\'fa\\'96\\'7b}}";
  TRecorder rec(false);
  ASSERT_EQ(rec.Parse(doc), rtf_ec_OK);
  std::string out;
  for (const auto& r : rec.runs) {
    const TRVRTFFont* f = rec.reader.FontTable().Items(r.FontIndex);
    out += Utf16ToUtf8(TRVRTFReader::AnsiToWide(r.Text, CodePageOfCharset(f->Charset)));
  }
  EXPECT_EQ(out, "café žák да Ω 日本");
  EXPECT_EQ(rec.reader.FontTable().Items(1)->Name, "Times New Roman");
  EXPECT_EQ(rec.reader.FontTable().Items(4)->Charset, 128);
}

TEST(RVRTFReader, CodePageConversions) {
  EXPECT_EQ(TRVRTFReader::WideToAnsi(u"čšŘ", 1250), "\xE8\x9A\xD8");
  EXPECT_EQ(TRVRTFReader::WideToAnsi(u"aあb", 1250), "a?b");
  EXPECT_EQ(TRVRTFReader::WideToAnsi(u"あ", 932), "\x82\xA0");
  EXPECT_EQ(TRVRTFReader::WideToAnsi(u"č", 0), "\xE8");
  EXPECT_EQ(TRVRTFReader::WideToAnsi(u"", 1250), "");
  EXPECT_EQ(TRVRTFReader::AnsiToWide("\xE8", 1250), u"č");
  EXPECT_EQ(TRVRTFReader::AnsiToWide("\xE8", 999999), u"č");       // unknown: system code page
  EXPECT_EQ(TRVRTFReader::AnsiToWide("a\x82", 932), u"a?");         // truncated lead byte
  EXPECT_EQ(TRVRTFReader::AnsiToWide("", 1250), u"");
}

// ---- Groups and destinations -----------------------------------------------------------

TEST(RVRTFReader, IgnorableAndSkippedDestinations) {
  struct {
    const char* rtf;
    std::string text;
  } cases[] = {
      {"{{\\*\\unknownword hidden}shown}", "shown"},
      {"{{\\unknownword text}}", "text"},
      {"{{\\info{\\title T}{\\author A}}body}", "body"},
      {"{{\\*\\generator Something 1.0;}body}", "body"},
      {"{{\\header hdr}{\\footer ftr}body}", "body"},
      {"{{\\field{\\*\\fldinst PAGE}{\\fldrslt 7}} pages}", "7 pages"},
      {"{{\\*\\bkmkstart b}mark{\\*\\bkmkend b}}", "mark"},
      {"{{\\comment \\bin3 }}}}x}", "x"},  // binary data inside a skipped group
      {"{\\pntext 1.}x}", ""},
      {"{{\\pntext 1.}x}", "x"},
  };
  for (const auto& c : cases) {
    TRecorder rec;
    ASSERT_EQ(rec.Parse(c.rtf), rtf_ec_OK) << c.rtf;
    EXPECT_EQ(rec.AllText(), c.text) << c.rtf;
  }
}

TEST(RVRTFReader, KnownWordAfterStarEndsTheLookAhead) {
  // An unknown word inside a "\*\knownword" group must not skip that group's content.
  TRecorder rec;
  ASSERT_EQ(rec.Parse("{{\\*\\listtable{\\list\\listtemplateid5\\listid7{\\listlevel\\levelnfc0}"
                      "{\\listname ;}}}x}"),
            rtf_ec_OK);
  ASSERT_EQ(rec.reader.ListTable().Count(), 1);
  EXPECT_EQ(rec.reader.ListTable().Items(0)->Id, 7);
  EXPECT_EQ(rec.reader.ListTable().Items(0)->Count(), 1);
}

TEST(RVRTFReader, HeaderAndFooterWithHandler) {
  TRecorder rec;
  Strings hf;
  rec.reader.OnHeaderFooter = [&](TRVRTFReader*, TRVRTFHeaderFooterType t, bool starting, bool& supported) {
    hf.push_back(std::to_string(t) + (starting ? "+" : "-"));
    supported = t == rtf_hf_Header;
  };
  ASSERT_EQ(rec.Parse("{{\\header hdr\\par}{\\footer ftr}body}"), rtf_ec_OK);
  EXPECT_EQ(hf, (Strings{"1+", "1-", "2+", "2-"}));
  EXPECT_EQ(rec.AllText(), "hdrbody");
}

TEST(RVRTFReader, GroupNestingLimit) {
  TRecorder rec;
  EXPECT_EQ(rec.Parse(std::string(RTF_MAX_GROUP_DEPTH, '{') + "a" + std::string(RTF_MAX_GROUP_DEPTH, '}')),
            rtf_ec_OK);
  EXPECT_EQ(rec.AllText(), "a");
  EXPECT_EQ(rec.Parse(std::string(RTF_MAX_GROUP_DEPTH + 1, '{')), rtf_ec_StackOverflow);
  EXPECT_EQ(rec.Parse(std::string(200000, '{')), rtf_ec_StackOverflow);
}

TEST(RVRTFReader, ListsCopiedByEveryGroupAreBounded) {
  // Tab and cell lists are copied by every "{": a flood of them under deep nesting must
  // neither exhaust memory nor grow without limit.
  std::string rtf = "{";
  for (int i = 0; i < 20000; ++i) rtf += "\\tx" + std::to_string(i) + "\\cellx" + std::to_string(i);
  rtf += std::string(RTF_MAX_GROUP_DEPTH - 1, '{') + "\\intbl x\\cell\\row" +
         std::string(RTF_MAX_GROUP_DEPTH, '}');
  TRecorder rec;
  ASSERT_EQ(rec.Parse(rtf), rtf_ec_OK);
  ASSERT_EQ(rec.runs.size(), 1u);
  EXPECT_EQ(rec.runs[0].TabCount, RTF_MAX_TABS);
  ASSERT_EQ(rec.rowCells.size(), 1u);
  EXPECT_EQ(std::count(rec.rowCells[0].begin(), rec.rowCells[0].end(), ',') + 1, RTF_MAX_ROW_CELLS);
}

TEST(RVRTFReader, TranslateKeywordHook) {
  TRecorder rec;
  rec.reader.OnTranslateKeyword = [](TRVRTFReader*, const AnsiString& kw, int32_t p, bool fp,
                                     AnsiString& text, bool& doDefault) {
    if (kw == "chdate") text = "10.12.2026";
    if (kw == "b" && fp && p == 7) doDefault = false;
  };
  ASSERT_EQ(rec.Parse("{\\chdate  {\\b7 x}}"), rtf_ec_OK);
  EXPECT_EQ(rec.AllText(), "10.12.2026 x");
  EXPECT_EQ(rec.runs.back().FontStyle, 0);
}

// ---- Document tables --------------------------------------------------------------------

TEST(RVRTFReader, FontTable) {
  TRecorder rec;
  ASSERT_EQ(rec.Parse("{\\rtf1\\deff2{\\fonttbl{\\f0\\fnil\\fcharset238 Arial CE;}"
                      "{\\f1\\froman\\fcharset204 Times New Roman Cyr;}"
                      "{\\f2\\fswiss\\fcharset0 Times New Roman Cyr;}"
                      "{\\f3\\fcharset300 Odd;}{\\f4\\fcharset238 ce;}{\\f5\\fcharset162 Courier TUR;}"
                      "{\\f6\\fcharset186 Arial Baltic;}{\\f7\\fcharset238 Arial;}{\\f8\\fcharset161 Greek;}}"
                      "{\\f1 a}{\\f99 b}\\plain c}"),
            rtf_ec_OK);
  const auto& ft = rec.reader.FontTable();
  ASSERT_EQ(ft.Count(), 9);
  const char* names[] = {"Arial", "Times New Roman", "Times New Roman Cyr", "Odd", "ce",
                         "Courier", "Arial", "Arial", "Greek"};
  const int charsets[] = {238, 204, 0, 77, 238, 162, 186, 238, 161};
  for (int i = 0; i < 9; ++i) {
    EXPECT_EQ(ft.Items(i)->Name, names[i]) << i;
    EXPECT_EQ(ft.Items(i)->Number, i);
    EXPECT_EQ(ft.Items(i)->Charset, charsets[i]) << i;
  }
  EXPECT_EQ(ft.Items(1)->Family, 1);
  EXPECT_EQ(ft.Items(2)->Family, 2);
  ASSERT_EQ(rec.runs.size(), 3u);
  EXPECT_EQ(rec.runs[0].FontIndex, 1);
  EXPECT_EQ(rec.runs[1].FontIndex, 2);  // unknown number: the default font
  EXPECT_EQ(rec.runs[2].FontIndex, 2);  // \plain: the default font
  EXPECT_EQ(rec.reader.FontIndexOf(5, 99), 5);
  EXPECT_EQ(rec.reader.FontIndexOf(42, 42), 0);
  EXPECT_EQ(rec.reader.FontIndexOf(42, 3), 3);
}

TEST(RVRTFReader, FontTableTolerance) {
  // blanks before the first font and font words without a font do no harm
  TRecorder rec;
  ASSERT_EQ(rec.Parse("{{\\fonttbl  \\fswiss\\fcharset238 {\\f0 Arial;}}x}"), rtf_ec_OK);
  ASSERT_EQ(rec.reader.FontTable().Count(), 1);
  EXPECT_EQ(rec.reader.FontTable().Items(0)->Name, "Arial");
  EXPECT_EQ(rec.AllText(), "x");
}

TEST(RVRTFReader, ColorTableAndColours) {
  TRecorder rec;
  ASSERT_EQ(rec.Parse("{{\\colortbl;\\red255\\green0\\blue0;\\red0\\green128\\blue255;\\red300\\green-5;}"
                      "{\\cf0\\chcbpat0 a}{\\cf1\\chcbpat2 b}{\\cf1\\cf9 c}{\\cf3 d}}"),
            rtf_ec_OK);
  const auto& ct = rec.reader.ColorTable();
  ASSERT_EQ(ct.Count(), 4);  // the trailing "auto" entry is removed at the end
  EXPECT_EQ(ct.Items(0), clWindowText);
  EXPECT_EQ(ct.Items(1), 0x0000FF);
  EXPECT_EQ(ct.Items(2), 0xFF8000);
  EXPECT_EQ(ct.Items(3), 0x0000FF);  // channel values are clamped to 0..255
  ASSERT_EQ(rec.runs.size(), 4u);
  EXPECT_EQ(rec.runs[0].Color, clWindowText);
  EXPECT_EQ(rec.runs[0].BackColor, clNone);
  EXPECT_EQ(rec.runs[1].Color, 0x0000FF);
  EXPECT_EQ(rec.runs[1].BackColor, 0xFF8000);
  EXPECT_EQ(rec.runs[2].Color, 0x0000FF);  // index out of range: unchanged
}

TEST(RVRTFReader, HighlightModes) {
  struct {
    TRVRTFHighlightConvert mode;
    const char* rtf;
    TColor back;
  } cases[] = {
      {rtf_hl_FixedColors, "{\\highlight7 x}", 0x00FFFF},
      {rtf_hl_FixedColors, "{\\highlight16 x}", 0xC0C0C0},
      {rtf_hl_FixedColors, "{\\highlight0 x}", clNone},
      {rtf_hl_Ignore, "{\\highlight7 x}", clNone},
      {rtf_hl_ColorTable, "{{\\colortbl;\\red1\\green2\\blue3;}\\highlight1 x}", 0x030201},
  };
  for (const auto& c : cases) {
    TRecorder rec;
    rec.reader.SetConvertHighlight(c.mode);
    ASSERT_EQ(rec.Parse(c.rtf), rtf_ec_OK);
    EXPECT_EQ(rec.runs.back().BackColor, c.back) << c.rtf;
  }
}

TEST(RVRTFReader, StyleSheet) {
  TRecorder rec;
  ASSERT_EQ(rec.Parse("{\\b{\\stylesheet{\\s0 Normal;}{\\s1\\sbasedon0\\snext0\\i heading 1;}"
                      "{\\*\\cs10\\additive Default Paragraph Font;}{\\ds5\\shidden Section;}}x}"),
            rtf_ec_OK);
  const auto& ss = rec.reader.StyleSheet();
  ASSERT_EQ(ss.Count(), 4);
  EXPECT_EQ(ss.Items(0)->Name, "Normal");
  EXPECT_EQ(ss.Items(1)->Name, "heading 1");
  EXPECT_EQ(ss.Items(1)->Number, 1);
  EXPECT_EQ(ss.Items(1)->StyleType, 1);
  EXPECT_EQ(ss.Items(1)->BasedOn, ss.Items(0));
  EXPECT_EQ(ss.Items(1)->Next, ss.Items(0));
  EXPECT_EQ(ss.Items(0)->Next, ss.Items(0));
  EXPECT_EQ(ss.Items(2)->Name, "Default Paragraph Font");
  EXPECT_EQ(ss.Items(2)->StyleType, 0);
  EXPECT_TRUE(ss.Items(2)->Additive);
  EXPECT_EQ(ss.Items(3)->StyleType, 2);
  EXPECT_TRUE(ss.Items(3)->Hidden);
  // entries take the formatting in force when the style sheet began
  EXPECT_EQ(ss.Items(1)->CharProps.FontStyle, rtf_fs_Bold);
  EXPECT_EQ(rec.AllText(), "x");
}

TEST(RVRTFReader, ListTablesAndOverrides) {
  TRecorder rec;
  ASSERT_EQ(rec.Parse(
                "{{\\*\\listtable{\\list\\listtemplateid1\\listsimple{\\listlevel\\levelnfc23\\leveljc1"
                "\\levelstartat3\\levelfollow1{\\leveltext\\'01\\u8226 ?;}{\\levelnumbers;}\\f0\\fs20\\b"
                "\\fi-360\\li720\\jclisttab\\tx720}"
                "{\\listlevel\\levelnfc4\\leveljc2{\\leveltext\\'02\\'00.;}{\\levelnumbers\\'01;}}"
                "{\\listname Bullets;}\\listid111}"
                "{\\list\\listid222{\\listlevel\\levelnfc0{\\leveltext\\'09\\'00.;}}}}"
                "{\\*\\listoverridetable{\\listoverride\\listid222\\listoverridecount1{\\lfolevel"
                "\\listoverridestartat\\levelstartat5}\\ls1}{\\listoverride\\listid111\\ls2}"
                "{\\listoverride\\listid999\\ls3}}"
                "{\\ls2 a}{\\ls1 b}{\\ls7 c}}"),
            rtf_ec_OK);
  const auto& lt = rec.reader.ListTable();
  ASSERT_EQ(lt.Count(), 2);
  const TRVRTFList97& l0 = *lt.Items(0);
  EXPECT_EQ(l0.Id, 111);
  EXPECT_TRUE(l0.Simple);
  EXPECT_EQ(l0.Name, "Bullets");
  ASSERT_EQ(l0.Count(), 2);
  const TRVRTFListLevel97& lv0 = *l0.Items(0);
  EXPECT_EQ(lv0.ListType, 6);
  EXPECT_EQ(lv0.Alignment, 2);
  EXPECT_EQ(lv0.Start, 3);
  EXPECT_EQ(lv0.Follow, 1);
  EXPECT_EQ(lv0.FontSize, 10);
  EXPECT_TRUE(lv0.FontSizeDefined);
  EXPECT_EQ(lv0.FontStyle, rtf_fs_Bold);
  EXPECT_EQ(lv0.FirstIndent, -360);
  EXPECT_EQ(lv0.LeftIndent, 720);
  EXPECT_EQ(lv0.TabPos, 720);
  EXPECT_EQ(lv0.TextW, u"\x01\u2022");  // cut to the length character plus one
  EXPECT_EQ(lv0.Text.size(), 2u);
  const TRVRTFListLevel97& lv1 = *l0.Items(1);
  EXPECT_EQ(lv1.ListType, 2);
  EXPECT_EQ(lv1.Alignment, 1);
  EXPECT_EQ(lv1.Text, std::string("\x02\x00.", 3));
  EXPECT_EQ(lv1.Numbers, "\x01;");
  EXPECT_EQ(lt.Items(1)->Items(0)->Text, std::string("\x09\x00.;", 4));  // shorter than its length byte
  const auto& ot = rec.reader.ListOverrideTable();
  ASSERT_EQ(ot.Count(), 3);
  EXPECT_EQ(ot.Items(0)->ListIndex, 1);
  EXPECT_EQ(ot.Items(0)->Number, 1);
  EXPECT_EQ(ot.Items(0)->OverrideCount, 1);
  ASSERT_EQ(ot.Items(0)->Count(), 1);
  EXPECT_TRUE(ot.Items(0)->Items(0)->UseStart);
  EXPECT_EQ(ot.Items(0)->Items(0)->Start, 5);
  EXPECT_EQ(ot.Items(1)->ListIndex, 0);
  EXPECT_EQ(ot.Items(2)->ListIndex, -1);
  ASSERT_EQ(rec.runs.size(), 3u);
  EXPECT_EQ(rec.runs[0].ListOverrideIndex, 1);
  EXPECT_EQ(rec.runs[1].ListOverrideIndex, 0);
  EXPECT_EQ(rec.runs[2].ListOverrideIndex, -1);
}

TEST(RVRTFReader, OldStyleNumbering) {
  TRecorder rec;
  int markers = 0;
  TRVRTFMarkerProperties seen;
  rec.reader.OnUpdateMarker = [&](TRVRTFReader* r) {
    ++markers;
    if (auto* m = r->GroupState().ParaProps.MarkerOrNull()) seen.CopyFrom(*m, false);
  };
  ASSERT_EQ(rec.Parse("{{\\fonttbl{\\f0 Arial;}{\\f1 Symbol;}}{\\colortbl;\\red255\\green0\\blue0;}"
                      "\\pard{\\pn\\pnlvlbody\\pndec\\pnstart4\\pnindent360\\pncf1\\pnb\\pnqc"
                      "{\\pntxtb (}{\\pntxta )}}\\fs30\\i a\\par}"),
            rtf_ec_OK);
  EXPECT_GT(markers, 0);
  EXPECT_EQ(seen.Level, 10);
  EXPECT_EQ(seen.ListType, 1);
  EXPECT_EQ(seen.Start, 4);
  EXPECT_EQ(seen.Indent, 360);
  EXPECT_EQ(seen.Alignment, 2);
  EXPECT_EQ(seen.Color, 0x0000FF);  // fixed colour is kept
  EXPECT_EQ(seen.FontSize, 15);     // size taken from the text
  EXPECT_EQ(seen.FontStyle, rtf_fs_Italic);  // bold/italic/strike follow the text
  EXPECT_EQ(seen.TextBefore, "(");
  EXPECT_EQ(seen.TextAfter, ")");
  // a Symbol-font bullet given as \u in F000-F0FF arrives as its low byte
  TRecorder rec2;
  TRVRTFMarkerProperties seen2;
  rec2.reader.OnUpdateMarker = [&](TRVRTFReader* r) {
    if (auto* m = r->GroupState().ParaProps.MarkerOrNull()) seen2.CopyFrom(*m, false);
  };
  ASSERT_EQ(rec2.Parse("{{\\fonttbl{\\f0 Arial;}{\\f1 Symbol;}}{\\pn\\pnlvlblt\\pnf1{\\pntxtb\\u-3913 ?}}a\\par}"),
            rtf_ec_OK);
  EXPECT_EQ(seen2.TextBefore, "\xB7");
  EXPECT_EQ(seen2.FontIndex, 1);
}

// ---- Paragraph properties ------------------------------------------------------------------

// The state inside the outermost group is read when that group closes (the properties
// of the state outside it are what remains after the parse).
template <class F>
void AtEnd(TRecorder& rec, const char* rtf, F check) {
  bool called = false;
  rec.reader.OnEndParsing = [&](TRVRTFReader* r) {
    called = true;
    check(r->GroupState());
  };
  ASSERT_EQ(rec.Parse(rtf), rtf_ec_OK) << rtf;
  EXPECT_TRUE(called);
}

TEST(RVRTFReader, ParagraphShadingAndTabs) {
  TRecorder rec;
  ASSERT_EQ(rec.Parse("{{\\colortbl;\\red0\\green0\\blue0;}\\shading5000\\cfpat1 a\\par"
                      "\\pard\\tx720\\tqr\\tx1440 b}"),
            rtf_ec_OK);
  ASSERT_EQ(rec.runs.size(), 2u);
  EXPECT_EQ(rec.runs[0].ParaColor, 0x7F7F7F);
  EXPECT_EQ(rec.runs[0].Tabs, "");
  EXPECT_EQ(rec.runs[1].ParaColor, clNone);
  EXPECT_EQ(rec.runs[1].Tabs, "720/0/0,1440/1/0");
}

TEST(RVRTFReader, TabsAfterFinalising) {
  TRecorder rec;
  ASSERT_EQ(rec.Parse("{\\tldot\\tx720\\jclisttab\\tx1000\\tx1440 a\\par\\tx2000\\tqc\\tx3000 b}"), rtf_ec_OK);
  ASSERT_EQ(rec.runs.size(), 2u);
  EXPECT_EQ(rec.runs[0].Tabs, "720/0/1,1440/0/0");  // the list tab and the open tab are removed
  // tabs defined after the list was finalised are added, not written over the last one
  EXPECT_EQ(rec.runs[1].Tabs, "720/0/1,1440/0/0,2000/0/0,3000/2/0");
}

TEST(RVRTFReader, Borders) {
  TRecorder rec;
  AtEnd(rec,
        "{{\\colortbl;\\red0\\green0\\blue255;}\\brdrb\\brdrs\\brdrdb\\brdrw15\\brdrcf1\\brsp40"
        "\\brdrl\\brdrdot x}",
        [](const TRVRTFReaderState& st) {
          const auto& pp = st.ParaProps;
          ASSERT_NE(pp.BorderOrNull(), nullptr);
          const auto* bottom = pp.BorderOrNull()->SideOrNull(3);
          ASSERT_NE(bottom, nullptr);
          EXPECT_EQ(bottom->Style, 1);  // brdrs then brdrdb keeps style 1
          EXPECT_EQ(bottom->Width, 15);
          EXPECT_EQ(bottom->Color, 0xFF0000);
          EXPECT_EQ(bottom->Spacing, 40);
          EXPECT_EQ(pp.BorderOrNull()->SideOrNull(0)->Style, 5);
          EXPECT_EQ(pp.BorderOrNull()->SideOrNull(1), nullptr);
          EXPECT_TRUE(pp.HasBorder());
        });
}

TEST(RVRTFReader, DocumentAndSectionProperties) {
  TRecorder rec;
  AtEnd(rec,
        "{\\paperw11906\\paperh16838\\margl1417\\margr1417\\margt1417\\margb1417"
        "\\landscape\\facingp\\pgnstart3\\cols2\\sbkodd\\pgnucrm{\\headery500}x}",
        [](const TRVRTFReaderState& st) {
          EXPECT_EQ(st.DocProps.PaperWidth, 11906);
          EXPECT_EQ(st.DocProps.PaperHeight, 16838);
          EXPECT_EQ(st.DocProps.LeftMargin, 1417);
          EXPECT_TRUE(st.DocProps.Landscape);
          EXPECT_TRUE(st.DocProps.FacingPages);
          EXPECT_EQ(st.DocProps.PageNumberStart, 3);
          EXPECT_EQ(st.SectProps.ColumnCount, 2);
          EXPECT_EQ(st.SectProps.SectionBreak, 3);
          EXPECT_EQ(st.SectProps.PageNumberFormat, 1);
        });
  // the header distance is not restored by group ends
  EXPECT_EQ(rec.reader.GroupState().SectProps.HeaderY, 500);
  EXPECT_EQ(rec.reader.GroupState().DocProps.PaperWidth, 12240);
}

TEST(RVRTFReader, RequiredPageBreak) {
  TRecorder rec;
  rec.reader.OnRequiredPageBreak = [&](TRVRTFReader*) { rec.log.push_back("PAGE"); };
  ASSERT_EQ(rec.Parse("{a\\page b}"), rtf_ec_OK);
  EXPECT_EQ(rec.log, (Strings{"T:a", "PAGE", "T:b"}));
}

// ---- Tables ---------------------------------------------------------------------------------

TEST(RVRTFReader, TableEvents) {
  TRecorder rec;
  ASSERT_EQ(rec.Parse("{\\trowd\\trgaph108\\trleft-108\\cellx1000\\cellx2000\\pard\\intbl a\\cell b\\cell\\row"
                      "\\trowd\\cellx1500\\intbl c\\cell\\row\\pard d\\par}"),
            rtf_ec_OK);
  EXPECT_EQ(rec.log, (Strings{"TS", "T:a", "CE", "T:b", "CE", "RE", "T:c", "CE", "RE", "TE", "T:d"}));
  EXPECT_EQ(rec.rowCells, (Strings{"1000,2000", "1500"}));
}

TEST(RVRTFReader, NestedTablesAndEndOfInput) {
  TRecorder rec;
  ASSERT_EQ(rec.Parse("{\\intbl a\\cell\\itap2 b\\nestcell{\\*\\nesttableprops\\trowd\\cellx500\\nestrow}"
                      "\\itap1\\cell\\row}"),
            rtf_ec_OK);
  EXPECT_EQ(rec.log, (Strings{"TS", "T:a", "CE", "TS", "T:b", "CE", "RE", "TE", "CE", "RE", "TE"}));
  // a huge nesting level opens a bounded number of tables and closes them all
  TRecorder rec2;
  ASSERT_EQ(rec2.Parse("{\\itap2000000000 x}"), rtf_ec_OK);
  EXPECT_EQ(std::count(rec2.log.begin(), rec2.log.end(), "TS"), RTF_MAX_TABLE_NESTING);
  EXPECT_EQ(std::count(rec2.log.begin(), rec2.log.end(), "TE"), RTF_MAX_TABLE_NESTING);
}

TEST(RVRTFReader, RowAndCellProperties) {
  TRecorder rec;
  std::vector<std::string> seen;
  rec.reader.OnTable = [&](TRVRTFReader* r, TRVRTFTableEventKind k) {
    if (k != rvf_tbl_RowEnd) return;
    const auto& row = *r->GroupState().RowPropsOrNull();
    std::ostringstream o;
    o << row.Cells.Count() << " w" << row.BestWidth << " p" << row.BestWidthInPercent << " h"
      << row.Height << " hdr" << row.Heading << " pad" << row.Padding[0] << "/" << row.PaddingGiven[0]
      << " al" << int(r->RowAlignment()) << r->RowAlignmentGiven();
    for (int32_t i = 0; i < row.Cells.Count(); ++i) {
      const auto& c = *row.Cells.Items(i);
      o << " [" << c.RightBoundary << " v" << int(c.VMerge) << " m" << int(c.HMerge) << " a"
        << int(c.VAlign) << " w" << c.BestWidth << " c" << std::hex << c.Color << std::dec << "]";
    }
    seen.push_back(o.str());
  };
  ASSERT_EQ(rec.Parse("{{\\colortbl;\\red0\\green0\\blue0;\\red255\\green255\\blue255;}"
                      "\\trowd\\trqc\\trhdr\\trrh-300\\trftsWidth2\\trwWidth2500\\trpaddl100\\trpaddfl3"
                      "\\clvmgf\\clvmrg\\clvertalc\\clftsWidth2\\clwWidth1000\\cellx1000"
                      "\\clcbpat2\\clshdng5000\\clcfpat1\\clftsWidth3\\clwWidth700\\clmrg\\cellx2000"
                      "\\clcbpat0\\clwWidth5\\clftsWidth1\\cellx3000"
                      "\\intbl a\\cell b\\cell c\\cell\\row"
                      "\\trowd\\trqr\\trwWidth2500\\cellx100\\intbl d\\cell\\row}"),
            rtf_ec_OK);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0],
            "3 w-2500 p1 h300 hdr1 pad100/1 al20 [1000 v1 m0 a2 w-1000 c1fffffff]"
            " [2000 v0 m2 a0 w700 c7f7f7f] [3000 v0 m0 a0 w0 c1fffffff]");
  // the first row's "trqc" came before the table start, which clears the given-flag;
  // "trowd" clears the percent flag of the previous row
  EXPECT_EQ(seen[1], "1 w2500 p0 h0 hdr0 pad0/0 al11 [100 v0 m0 a0 w0 c1fffffff]");
}

// ---- Pictures and objects (data collection) ---------------------------------------------

TEST(RVRTFReader, PictureData) {
  struct {
    const char* rtf;
    std::string data;
    int32_t w, h;
  } cases[] = {
      {"{{\\pict\\wmetafile8\\picw2540\\pich2540 0100090000030c00\r\n00000000030000000000030000000000}}",
       std::string("\x01\x00\x09\x00\x00\x03\x0c\x00\x00\x00\x00\x00\x03\x00\x00\x00\x00\x00\x03\x00\x00\x00\x00\x00", 24),
       96, 96},
      {"{{\\pict\\macpict\\picwgoal1440\\pichgoal720 ab cd e}}", "\xab\xcd", 96, 48},
      {"{{\\pict\\macpict\\bin3 {}\\}}", "{}\\", 0, 0},
      {"{{\\pict\\macpict\\bin0 }}}", "}", 0, 0},
  };
  for (const auto& c : cases) {
    TRecorder rec;
    std::string data;
    int32_t w = -1, h = -1;
    rec.reader.OnNewPicture = [&](TRVRTFReader*, TRVRTFPicture* p, TGraphic* g, TRVRTFPosition,
                                  const AnsiString&, bool& inserted) {
      EXPECT_EQ(g != nullptr, p->PicType == 5);  // a metafile; no class for Macintosh pictures
      data.assign(reinterpret_cast<const char*>(p->Data.Memory()), static_cast<size_t>(p->Data.Size()));
      w = p->SuggestedWidth;
      h = p->SuggestedHeight;
      delete g;  // a handler that inserts a picture takes its graphic
      inserted = true;
    };
    ASSERT_EQ(rec.Parse(c.rtf), rtf_ec_OK) << c.rtf;
    EXPECT_EQ(data, c.data) << c.rtf;
    EXPECT_EQ(w, c.w) << c.rtf;
    EXPECT_EQ(h, c.h) << c.rtf;
  }
}

TEST(RVRTFReader, ShppictAndNonshppict) {
  for (bool take : {true, false}) {
    TRecorder rec;
    int pictures = 0;
    rec.reader.OnNewPicture = [&](TRVRTFReader*, TRVRTFPicture*, TGraphic*, TRVRTFPosition,
                                  const AnsiString&, bool& inserted) {
      ++pictures;
      inserted = take;
    };
    ASSERT_EQ(rec.Parse("{{\\*\\shppict{\\pict\\macpict 00}}{\\nonshppict{\\pict\\macpict 00}}}"),
              rtf_ec_OK);
    EXPECT_EQ(pictures, take ? 1 : 2);
  }
}

TEST(RVRTFReader, ObjectsAndResults) {
  for (bool take : {true, false}) {
    TRecorder rec;
    std::string data;
    rec.reader.OnNewObject = [&](TRVRTFReader*, TRVRTFObject* o, TRVRTFPosition, bool& inserted) {
      data.assign(reinterpret_cast<const char*>(o->Data.Memory()), static_cast<size_t>(o->Data.Size()));
      EXPECT_EQ(o->ObjType, 0);
      EXPECT_EQ(o->Width, 100);
      inserted = take;
    };
    ASSERT_EQ(rec.Parse("{{\\object\\objemb\\objw100{\\*\\objdata 4142}{\\result shown}}}"), rtf_ec_OK);
    EXPECT_EQ(data, "AB");
    EXPECT_EQ(rec.AllText(), take ? "" : "shown");
  }
}

TEST(RVRTFReader, Progress) {
  TRecorder rec;
  std::vector<int> stages;
  rec.reader.OnProgress = [&](TRVRTFReader*, TRVRTFProgressStage s, uint8_t pct) {
    stages.push_back(s * 1000 + pct);
  };
  std::string big = "{";
  for (int i = 0; i < 3000; ++i) big += "word\\par ";
  big += "}";
  ASSERT_GT(big.size(), 20480u);
  ASSERT_EQ(rec.Parse(big), rtf_ec_OK);
  ASSERT_GE(stages.size(), 3u);
  EXPECT_EQ(stages.front(), rvprtfprStarting * 1000);
  EXPECT_EQ(stages.back(), rvprtfprEnding * 1000);
  for (size_t i = 1; i + 1 < stages.size(); ++i) EXPECT_EQ(stages[i] / 1000, rvprtfprRunning);
  stages.clear();
  ASSERT_EQ(rec.Parse("{small}"), rtf_ec_OK);
  EXPECT_TRUE(stages.empty());
}

TEST(RVRTFReader, ReusedReaderStartsClean) {
  TRecorder rec;
  ASSERT_EQ(rec.Parse("{\\ansicpg1251{\\fonttbl{\\f0 A;}}{\\colortbl;\\red1;}\\b\\intbl x"), rtf_ec_UnmatchedBrace);
  ASSERT_EQ(rec.Parse("{y}"), rtf_ec_OK);
  EXPECT_EQ(rec.reader.FontTable().Count(), 0);
  EXPECT_EQ(rec.reader.ColorTable().Count(), 0);
  EXPECT_EQ(rec.reader.CodePageInUse(), 0u);
  EXPECT_EQ(rec.runs.back().FontStyle, 0);
  EXPECT_EQ(rec.log, (Strings{"T:y"}));
}

// ---- A document as a word processor writes it ------------------------------------------

std::string ReadFixture(const char* name) {
  std::string path = std::string(__FILE__);
  path = std::string(PELVAR_SOURCE_DIR) + "/tests/richtext/model/fixtures/" + name;
  std::ifstream f(path, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

TEST(RVRTFReader, WordProcessorDocument) {
  const std::string rtf = ReadFixture("czech_letter.rtf");
  ASSERT_FALSE(rtf.empty());
  TRecorder rec;
  ASSERT_EQ(rec.Parse(rtf), rtf_ec_OK);
  std::string text;
  for (const auto& r : rec.runs) {
    if (r.Position == rtf_ts_NewPara && !text.empty()) text += "\n";
    if (r.Unicode) {
      text += r.Text;
    } else {
      const TRVRTFFont* f = rec.reader.FontTable().Items(r.FontIndex);
      uint32_t cp = CodePageOfCharset(f->Charset);
      if (cp == 0) cp = r.CodePage;
      text += Utf16ToUtf8(TRVRTFReader::AnsiToWide(r.Text, cp));
    }
  }
  EXPECT_EQ(text,
            "Vážený pane doktore,\n"
            "Příliš žluťoučký kůň úpěl ďábelské ódy.\n"
            "Очень хорошо — “quoted”\n"
            "Pacient\nVěk\nAlík\n7\n"
            "S pozdravem");
  EXPECT_EQ(rec.reader.FontTable().Count(), 3);
  EXPECT_EQ(rec.reader.FontTable().Items(0)->Name, "Calibri");
  EXPECT_EQ(rec.reader.ColorTable().Count(), 3);
  EXPECT_EQ(std::count(rec.log.begin(), rec.log.end(), "TS"), 1);
  EXPECT_EQ(std::count(rec.log.begin(), rec.log.end(), "RE"), 2);
  // the bold run "doktore"
  bool boldSeen = false;
  for (const auto& r : rec.runs) boldSeen |= r.Text == "doktore" && (r.FontStyle & rtf_fs_Bold);
  EXPECT_TRUE(boldSeen);
}

// ---- Robustness ------------------------------------------------------------------------------

TEST(RVRTFReader, RandomAndMutatedInputNeverCrashes) {
  const std::string corpus[] = {
      ReadFixture("czech_letter.rtf"),
      "{\\rtf1{\\fonttbl{\\f0\\fcharset238 Arial CE;}}{\\colortbl;\\red255;}{\\stylesheet{\\s1 H;}}"
      "{\\*\\listtable{\\list\\listid1{\\listlevel{\\leveltext\\'01\\u8226 ?;}{\\levelnumbers;}}}}"
      "{\\*\\listoverridetable{\\listoverride\\listid1\\ls1{\\lfolevel\\levelstartat2}}}"
      "\\trowd\\clbrdrl\\brdrs\\cellx100\\intbl\\ls1 a\\cell\\row\\pard{\\pn\\pnlvlblt{\\pntxtb\\'b7}}"
      "{\\pict\\dibitmap 0102\\bin2 xy}{\\object{\\*\\objdata 00}{\\result r}}"
      "{\\field{\\*\\fldinst SYMBOL 183 \\\\f \"Symbol\"}{\\fldrslt x}}\\u1089?\\uc2\\u269 ab\\page}",
  };
  std::mt19937 rng(20261210);
  const char alphabet[] = "{}\\'*;abcdefu0123456789- \r\n";
  int counts[12] = {};
  for (int iter = 0; iter < 3000; ++iter) {
    std::string input = corpus[iter % 2];
    const int mutations = 1 + static_cast<int>(rng() % 12);
    for (int m = 0; m < mutations && !input.empty(); ++m) {
      const size_t pos = rng() % input.size();
      switch (rng() % 4) {
        case 0: input[pos] = static_cast<char>(rng() % 256); break;
        case 1: input.insert(pos, 1, alphabet[rng() % (sizeof(alphabet) - 1)]); break;
        case 2: input.erase(pos, 1 + rng() % 8); break;
        default: input.insert(pos, input.substr(rng() % input.size(), rng() % 40)); break;
      }
    }
    if (iter % 10 == 0) {  // pure noise
      input.resize(rng() % 400);
      for (auto& ch : input) ch = static_cast<char>(rng() % 256);
    }
    TRecorder rec(iter % 3 != 0);
    rec.reader.OnNewPicture = [](TRVRTFReader*, TRVRTFPicture*, TGraphic*, TRVRTFPosition,
                                 const AnsiString&, bool& inserted) { inserted = true; };
    rec.reader.OnNewObject = [](TRVRTFReader*, TRVRTFObject*, TRVRTFPosition, bool&) {};
    rec.reader.OnUpdateMarker = [](TRVRTFReader* r) { (void)r->GroupState().ParaProps.MarkerOrNull(); };
    rec.reader.OnHeaderFooter = [](TRVRTFReader*, TRVRTFHeaderFooterType, bool, bool& s) { s = true; };
    rec.reader.OnRequiredPageBreak = [](TRVRTFReader*) {};
    const uint8_t code = rec.Parse(input);
    ASSERT_LE(code, 11) << input;
    ASSERT_NE(code, 8);
    ++counts[code];
    // the tables stay readable after any parse
    for (int32_t i = 0; i < rec.reader.FontTable().Count(); ++i) (void)rec.reader.FontTable().Items(i)->Name.size();
  }
  EXPECT_GT(counts[0] + counts[3], 0);
}

}  // namespace
}  // namespace pelvar
