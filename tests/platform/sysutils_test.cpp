#include "platform/sysutils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/streams.h"
#include "support/process.h"

namespace pelvar {
namespace {

// Upper case of a character of Latin-1 and Latin Extended-A, from the Unicode tables' layout.
char16_t UnicodeUpper(char16_t c) {
  if (c >= u'a' && c <= u'z') return char16_t(c - 32);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return char16_t(c - 32);
  if (c >= 0x100 && c <= 0x17F && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
    const bool odd_upper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (odd_upper) return (c % 2 == 0) ? char16_t(c - 1) : c;
    return (c % 2 == 1) ? char16_t(c - 1) : c;
  }
  return c;
}

TEST(SysUtilsCase, Windows1250CaseMappingAgreesWithUnicode) {
  for (int b = 0; b < 256; ++b) {
    const char16_t u = ByteToChar(uint8_t(b));
    const char16_t up = UnicodeUpper(u);
    const int expected_upper = CharToByte(up);
    // Where the upper-case letter exists in Windows-1250 it is the mapping, otherwise the byte stays.
    const uint8_t want = expected_upper >= 0 ? uint8_t(expected_upper) : uint8_t(b);
    EXPECT_EQ(uint8_t(AnsiUpperChar(char(b))), want) << "byte " << b;
    if (want != b) {
      EXPECT_EQ(uint8_t(AnsiLowerChar(char(want))), b) << "byte " << b;
    }
  }
}

TEST(SysUtilsCase, CzechTextFoldsBothWays) {
  const AnsiString lower = CZ("příliš žluťoučký kůň úpěl ďábelské ódy");
  const AnsiString upper = CZ("PŘÍLIŠ ŽLUŤOUČKÝ KŮŇ ÚPĚL ĎÁBELSKÉ ÓDY");
  EXPECT_EQ(AnsiUpperCase(lower), upper);
  EXPECT_EQ(AnsiLowerCase(upper), lower);
  EXPECT_TRUE(SameText(CZ("ŽLUŤOUČKÝ"), CZ("žluťoučký")));
  EXPECT_TRUE(AnsiSameText(CZ("ŽLUŤOUČKÝ"), CZ("žluťoučký")));
  EXPECT_EQ(AnsiCompareText(CZ("ŽLUŤOUČKÝ"), CZ("žluťoučký")), 0);
  EXPECT_FALSE(SameText(CZ("žluťoučký"), CZ("zlutoucky")));
  EXPECT_FALSE(AnsiSameStr(CZ("Ž"), CZ("ž")));
  // The plain versions know ASCII only.
  EXPECT_EQ(UpperCase(CZ("čaj")), CZ("čAJ"));
  EXPECT_EQ(LowerCase(CZ("ČAJ")), CZ("Čaj"));
  EXPECT_NE(CompareText(CZ("č"), CZ("Č")), 0);
  EXPECT_EQ(CompareText("abc", "ABC"), 0);
  EXPECT_LT(CompareText("abc", "ABD"), 0);
  EXPECT_GT(CompareStr("b", "a"), 0);
  EXPECT_LT(CompareStr("A", "a"), 0);
}

TEST(SysUtilsCase, CzechLinguisticOrder) {
  const std::vector<std::string> expected_utf8 = {
      " mezera", "1 jedna", "2 dva", "abeceda", "Ábel", "cukr", "čas", "Čech", "ďábel", "dáma",
      "Dana", "elegán", "ěť", "éter", "Ivan", "jitro", "ruka", "řeka", "sova", "šála", "tělo",
      "ťuk", "úl", "ůl", "zima", "Zuzana", "žába", "Žofie"};
  std::vector<AnsiString> expected;
  for (const auto& s : expected_utf8) expected.push_back(CZ(s));
  std::vector<AnsiString> sorted(expected.rbegin(), expected.rend());
  std::stable_sort(sorted.begin(), sorted.end(), [](const AnsiString& a, const AnsiString& b) {
    return AnsiCompareText(a, b) < 0;
  });
  EXPECT_EQ(sorted, expected);

  // The comparison is a consistent order: antisymmetric, and zero exactly for SameText.
  std::vector<AnsiString> words = expected;
  for (const char* w : {"DÁMA", "dama", "Dama", "dáma", "", "a", "A", "á", "-a", "a-", "'", "--"}) words.push_back(CZ(w));
  for (const auto& a : words) {
    for (const auto& b : words) {
      const int ab = AnsiCompareText(a, b), ba = AnsiCompareText(b, a);
      EXPECT_EQ((ab > 0) - (ab < 0), -((ba > 0) - (ba < 0))) << a << " / " << b;
      EXPECT_EQ(ab == 0, SameText(a, b)) << a << " / " << b;
      EXPECT_EQ(AnsiCompareStr(a, b) == 0, a == b) << a << " / " << b;
    }
  }
  // Accents and case only break ties: dama < dáma < damy; lower case first.
  EXPECT_LT(AnsiCompareText("dama", CZ("dáma")), 0);
  EXPECT_LT(AnsiCompareText(CZ("dáma"), "damy"), 0);
  EXPECT_LT(AnsiCompareStr("dama", "Dama"), 0);
  EXPECT_LT(AnsiCompareStr("Dama", CZ("dáma")), 0);
  EXPECT_LT(AnsiCompareText("abc", "abcd"), 0);
  // Hyphens and apostrophes only break ties: co-op stays by coop.
  EXPECT_LT(AnsiCompareText("coop", "co-operace"), 0);
  EXPECT_LT(AnsiCompareText("co-op", "coopa"), 0);
  EXPECT_NE(AnsiCompareText("co-op", "coop"), 0);
  EXPECT_LT(AnsiCompareText(CZ("Nováková"), CZ("Novák-Svoboda")), 0);
}

TEST(SysUtilsText, TrimSearchReplaceQuote) {
  EXPECT_EQ(Trim(std::string("\t\r\n \0x y\x01 ", 9)), "x y");
  EXPECT_EQ(TrimLeft("  a  "), "a  ");
  EXPECT_EQ(TrimRight("  a  "), "  a");
  EXPECT_EQ(Trim("\xA0" "a"), "\xA0" "a");  // the no-break space is not trimmed
  EXPECT_EQ(Trim("   "), "");

  EXPECT_EQ(Pos("lo", "hello lo"), 4);
  EXPECT_EQ(Pos("x", "hello"), 0);
  EXPECT_EQ(Pos("", "hello"), 0);

  EXPECT_EQ(StringReplace("a-b-c", "-", "+"), "a+b-c");
  EXPECT_EQ(StringReplace("a-b-c", "-", "+", {rfReplaceAll}), "a+b+c");
  EXPECT_EQ(StringReplace(CZ("Žába žÁBA"), CZ("ŽÁBA"), "x", {rfReplaceAll, rfIgnoreCase}),
            "x x");
  EXPECT_EQ(StringReplace("aaa", "a", "aa", {rfReplaceAll}), "aaaaaa");
  EXPECT_EQ(StringReplace("abc", "", "x", {rfReplaceAll}), "abc");

  EXPECT_EQ(QuotedStr("it's"), "'it''s'");
  EXPECT_EQ(AnsiQuotedStr("a\"b", '"'), "\"a\"\"b\"");
  EXPECT_EQ(AnsiDequotedStr("'it''s'", '\''), "it's");
  EXPECT_EQ(AnsiDequotedStr("'it''s' rest", '\''), "it's");
  EXPECT_EQ(AnsiDequotedStr("plain", '\''), "plain");
  EXPECT_EQ(AnsiDequotedStr("''", '\''), "");
  EXPECT_EQ(AnsiDequotedStr("'open", '\''), "open");
  size_t pos = 2;
  EXPECT_EQ(AnsiExtractQuotedStr("x='a''b',y", pos, '\''), "a'b");
  EXPECT_EQ(pos, 8u);
}

TEST(SysUtilsInteger, ParsingFollowsTheFrameworkRules) {
  struct Case {
    const char* text;
    bool ok;
    int64_t value;
  };
  const Case cases[] = {
      {"0", true, 0},           {"123", true, 123},       {"  -45", true, -45},
      {"+7", true, 7},          {"$FF", true, 255},       {"0x1f", true, 31},
      {"-$10", true, -16},      {"$FFFFFFFF", true, -1},  {"2147483647", true, 2147483647},
      {"-2147483648", true, -2147483648LL},               {"2147483648", false, 0},
      {"-2147483649", false, 0}, {"12 ", false, 0},       {"", false, 0},
      {" ", false, 0},          {"1,5", false, 0},        {"abc", false, 0},
      {"-", false, 0},          {"$", false, 0},          {"1e3", false, 0},
      {"$1FFFFFFFF", false, 0},
  };
  for (const Case& c : cases) {
    int32_t v = 99;
    EXPECT_EQ(TryStrToInt(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
      EXPECT_EQ(StrToInt(c.text), c.value) << c.text;
    } else {
      EXPECT_THROW(StrToInt(c.text), EConvertError) << c.text;
      EXPECT_EQ(StrToIntDef(c.text, -7), -7) << c.text;
    }
  }
  EXPECT_EQ(StrToInt64("9223372036854775807"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(StrToInt64("-9223372036854775808"), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(StrToInt64("$FFFFFFFFFFFFFFFF"), -1);
  EXPECT_EQ(StrToInt64("4294967296"), 4294967296LL);
  EXPECT_THROW(StrToInt64("9223372036854775808"), EConvertError);
  EXPECT_EQ(StrToInt64Def("x", 5), 5);
  try {
    StrToInt("12a");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "'12a' is not a valid integer value");
  }

  EXPECT_EQ(IntToStr(-9223372036854775807LL - 1), "-9223372036854775808");
  EXPECT_EQ(IntToHex(255, 4), "00FF");
  EXPECT_EQ(IntToHex(-1, 2), "FFFFFFFF");
  EXPECT_EQ(IntToHex(int64_t(-1), 2), "FFFFFFFFFFFFFFFF");
  EXPECT_EQ(IntToHex(int64_t(0x123456789A), 0), "123456789A");
  EXPECT_EQ(IntToHex(uint32_t(0xFFFFFFFF), 0), "FFFFFFFF");
  EXPECT_EQ(IntToHex(int16_t(-2), 0), "FFFFFFFE");
  EXPECT_EQ(IntToHex(-2LL, 0), "FFFFFFFFFFFFFFFE");
  EXPECT_EQ(IntToStr(std::numeric_limits<uint64_t>::max()), "18446744073709551615");
  EXPECT_EQ(IntToStr(uint32_t(4000000000u)), "4000000000");
  EXPECT_EQ(IntToStr(-5), "-5");
}

// The Czech settings: decimal comma, no-break space between thousands, "Kč" after the number.
const AnsiString kNbsp = "\xA0";
AnsiString Kc() { return CZ("Kč"); }

TEST(SysUtilsFloat, FloatToStrAndFloatToStrF) {
  struct Case {
    long double v;
    const char* text;
  };
  const Case general[] = {
      {0, "0"},
      {1234.5L, "1234,5"},
      {-2.5L, "-2,5"},
      {0.1, "0,1"},
      {1.0 / 3.0, "0,333333333333333"},
      {2.0 / 3.0, "0,666666666666667"},
      {0.0001L, "0,0001"},
      {0.00001L, "1E-5"},
      {123456789012345.0L, "123456789012345"},
      {1234567890123456.0L, "1,23456789012346E15"},
      {1e20L, "1E20"},
      {-1.5e-10L, "-1,5E-10"},
      {0.1 + 0.2, "0,3"},
      {100, "100"},
  };
  for (const Case& c : general) EXPECT_EQ(FloatToStr(c.v), c.text) << double(c.v);
  EXPECT_EQ(FloatToStr(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(FloatToStr(-std::numeric_limits<double>::infinity()), "-INF");
  EXPECT_EQ(FloatToStr(std::nan("")), "NAN");

  EXPECT_EQ(FloatToStrF(1234.567L, ffFixed, 15, 2), "1234,57");
  EXPECT_EQ(FloatToStrF(-0.001L, ffFixed, 15, 2), "0,00");
  EXPECT_EQ(FloatToStrF(0.125L, ffFixed, 15, 2), "0,13");  // half away from zero
  EXPECT_EQ(FloatToStrF(1234567.891L, ffNumber, 15, 2), "1" + kNbsp + "234" + kNbsp + "567,89");
  EXPECT_EQ(FloatToStrF(999.999L, ffNumber, 15, 2), "1" + kNbsp + "000,00");
  EXPECT_EQ(FloatToStrF(1234.5L, ffCurrency, 15, 2), "1" + kNbsp + "234,50 " + Kc());
  EXPECT_EQ(FloatToStrF(-1234.5L, ffCurrency, 15, 2), "-1" + kNbsp + "234,50 " + Kc());
  EXPECT_EQ(FloatToStrF(1234.5L, ffExponent, 5, 2), "1,2345E+03");
  EXPECT_EQ(FloatToStrF(-0.00012L, ffExponent, 3, 3), "-1,20E-004");
  EXPECT_EQ(FloatToStrF(0.125L, ffGeneral, 2, 0), "0,13");

  TFormatSettings us = CzechFormatSettings();
  us.DecimalSeparator = '.';
  us.ThousandSeparator = ',';
  us.CurrencyString = "$";
  us.CurrencyFormat = 0;
  us.NegCurrFormat = 0;
  EXPECT_EQ(FloatToStr(1234.5L, us), "1234.5");
  EXPECT_EQ(FloatToStrF(-1234.5L, ffCurrency, 15, 2, us), "($1,234.50)");
  EXPECT_EQ(FloatToStrF(1234.5L, ffCurrency, 15, 2, us), "$1,234.50");
}

TEST(SysUtilsFloat, FormatFloatPatterns) {
  struct Case {
    const char* format;
    long double v;
    std::string text;
  };
  const Case cases[] = {
      {"0.00", 1234.5L, "1234,50"},
      {"0.00", 0.125L, "0,13"},
      {"0.00", -0.004L, "0,00"},
      {"#,##0.00", 1234567.5L, "1" + kNbsp + "234" + kNbsp + "567,50"},
      {"#,##0", 999.5L, "1" + kNbsp + "000"},
      {"#,##0.00", -1234.5L, "-1" + kNbsp + "234,50"},
      {"0.###", 1.5L, "1,5"},
      {"0.###", 2, "2"},
      {"#.##", 0.5L, ",5"},
      {"#", 0, ""},
      {"000", 7, "007"},
      {"0", 2.5L, "3"},
      {"0", -2.5L, "-3"},
      {"0.00E+00", 12345, "1,23E+04"},
      {"0.00E-00", 0.00012345L, "1,23E-04"},
      {"0.0E+0", 0, "0,0E+0"},
      {"0.00;(0.00)", -5.5L, "(5,50)"},
      {"0.00;(0.00);'nula'", 0, "nula"},
      {"0.00;(0.00);'nula'", 0.001L, "nula"},
      {"0.00;;'nula'", -3, "-3,00"},
      {"'Kč' 0.00", 5, "Kč 5,00"},
      {"0.00 \"ks\"", 5, "5,00 ks"},
      {"", 1.5L, "1,5"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FormatFloat(c.format, c.v), c.text) << c.format << " " << double(c.v);
  EXPECT_EQ(FormatCurr("#,##0.00", Currency::FromRaw(12345678)), "1" + kNbsp + "234,57");
  EXPECT_EQ(FormatCurr("0.0000", Currency::FromRaw(-1)), "-0,0001");
}

TEST(SysUtilsFloat, StrToFloat) {
  struct Case {
    const char* text;
    bool ok;
    long double v;
  };
  const Case cases[] = {
      {"1,5", true, 1.5L},     {"  -1,5e3  ", true, -1500}, {"+0,25", true, 0.25L},
      {",5", true, 0.5L},       {"5,", true, 5},             {"1E-2", true, 0.01L},
      {"1.5", false, 0},       {"", false, 0},              {"1,5x", false, 0},
      {"e5", false, 0},        {"1e", false, 0},            {"1 000", false, 0},
      {",", false, 0},         {"1,2,3", false, 0},         {"1e99999", false, 0},
  };
  for (const Case& c : cases) {
    long double v = 0;
    EXPECT_EQ(TryStrToFloat(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_NEAR(double(v), double(c.v), 1e-12) << c.text;
    } else {
      EXPECT_THROW(StrToFloat(c.text), EConvertError) << c.text;
    }
  }
  EXPECT_EQ(StrToFloatDef("x", 2.5), 2.5);
  TFormatSettings us = CzechFormatSettings();
  us.DecimalSeparator = '.';
  EXPECT_EQ(StrToFloat("1.25", us), 1.25L);
  EXPECT_FALSE([&] { long double v; return TryStrToFloat("1,25", v, us); }());
  // Text written by FloatToStr reads back to the same double.
  for (double d : {0.1, 1.0 / 3.0, 123456.789, 1e-300, 6.02214076e23, -2.5e-7}) {
    double back = 0;
    ASSERT_TRUE(TryStrToFloat(FloatToStrF(d, ffGeneral, 17, 0), back));
    EXPECT_EQ(back, d);
  }
}

TEST(SysUtilsFormat, Specifiers) {
  struct Case {
    const char* fmt;
    std::vector<TVarRec> args;
    std::string text;
  };
  const AnsiString name = CZ("Žába");
  int dummy = 0;
  const Case cases[] = {
      {"%d", {42}, "42"},
      {"%5d|%-5d|", {42, 42}, "   42|42   |"},
      {"%.3d", {-5}, "-005"},
      {"%d", {int64_t(-9223372036854775807LL - 1)}, "-9223372036854775808"},
      {"%u", {-1}, "4294967295"},
      {"%x", {255}, "FF"},
      {"%.4x", {255}, "00FF"},
      {"%x", {-1}, "FFFFFFFF"},
      {"%x", {int64_t(-1)}, "FFFFFFFFFFFFFFFF"},
      {"%s", {name}, name},
      {"%s|%s", {"a", 'b'}, "a|b"},
      {"%.2s", {"abcdef"}, "ab"},
      {"%-6s|%6s", {"ab", "cd"}, "ab    |    cd"},
      {"%f", {1234.5}, "1234,50"},
      {"%.0f", {2.5}, "3"},
      {"%.3f", {-0.0005}, "-0,001"},
      {"%n", {1234567.891}, "1" + kNbsp + "234" + kNbsp + "567,89"},
      {"%m", {1234.5}, "1" + kNbsp + "234,50 " + Kc()},
      {"%m", {Currency::FromRaw(-15000)}, "-1,50 " + Kc()},
      {"%e", {1234.5}, "1,23450000000000E+003"},
      {"%.3e", {1234.5}, "1,23E+003"},
      {"%g", {1234.5}, "1234,5"},
      {"%g", {0.00001}, "1E-005"},
      {"%.3g", {1234.5}, "1,23E003"},
      {"%10.2f|", {3.14159}, "      3,14|"},
      {"%1:s %0:s %s", {"a", "b"}, "b a b"},
      {"%*d", {4, 7}, "   7"},
      {"%-*.*f|", {7, 1, 2.25}, "2,3    |"},
      {"100%%", {}, "100%"},
      {"%s", {std::string_view("view")}, "view"},
      {"%d", {uint64_t(18446744073709551615ULL)}, "18446744073709551615"},
      {"%d", {3u}, "3"},
  };
  (void)dummy;
  for (const Case& c : cases) {
    // Format takes an initializer list; rebuild one from the stored arguments.
    AnsiString text;
    switch (c.args.size()) {
      case 0: text = Format(c.fmt, {}); break;
      case 1: text = Format(c.fmt, {c.args[0]}); break;
      case 2: text = Format(c.fmt, {c.args[0], c.args[1]}); break;
      default: text = Format(c.fmt, {c.args[0], c.args[1], c.args[2]}); break;
    }
    EXPECT_EQ(text, c.text) << c.fmt;
  }
  EXPECT_EQ(Format("%p", {static_cast<const void*>(nullptr)}), "0000000000000000");
}

TEST(SysUtilsFormat, BadFormatsRaise) {
  EXPECT_THROW(Format("%d", {"text"}), EConvertError);
  EXPECT_THROW(Format("%s", {5}), EConvertError);
  EXPECT_THROW(Format("%f", {5}), EConvertError);
  EXPECT_THROW(Format("%d", {1.5}), EConvertError);
  EXPECT_THROW(Format("%d", {true}), EConvertError);
  EXPECT_THROW(Format("%d %d", {1}), EConvertError);
  EXPECT_THROW(Format("%q", {1}), EConvertError);
  EXPECT_THROW(Format("abc %", {1}), EConvertError);
  EXPECT_THROW(Format("%5:d", {1}), EConvertError);
  try {
    Format("%d", {"x"});
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Format '%d' invalid or incompatible with argument");
  }
}

TEST(SysUtilsFormat, ExplicitSettingsAndProcessDefault) {
  TFormatSettings us = CzechFormatSettings();
  us.DecimalSeparator = '.';
  us.ThousandSeparator = ',';
  EXPECT_EQ(Format("%.2f %n", {1.5, 1234.0}, us), "1.50 1,234.00");
  EXPECT_EQ(FormatSettings().DecimalSeparator, ',');
  EXPECT_EQ(FormatSettings().CurrencyString, CZ("Kč"));
  EXPECT_EQ(FormatSettings().ShortDateFormat, "dd.mm.yyyy");
  EXPECT_EQ(FormatSettings().LongTimeFormat, "hh:mm:ss");
  EXPECT_EQ(FormatSettings().LongMonthNames[0], CZ("leden"));
  EXPECT_EQ(FormatSettings().LongDayNames[0], CZ("neděle"));
}

TEST(SysUtilsCurrency, TextConversions) {
  EXPECT_EQ(CurrToStr(Currency::FromRaw(12345000)), "1234,5");
  EXPECT_EQ(CurrToStr(Currency::FromRaw(-1)), "-0,0001");
  EXPECT_EQ(CurrToStr(Currency()), "0");
  EXPECT_EQ(CurrToStr(Currency::FromRaw(std::numeric_limits<int64_t>::max())),
            "922337203685477,5807");
  EXPECT_EQ(CurrToStr(Currency::FromRaw(std::numeric_limits<int64_t>::min())),
            "-922337203685477,5808");
  EXPECT_EQ(CurrToStrF(Currency::FromRaw(12345000), ffCurrency, 2), "1" + kNbsp + "234,50 " + Kc());
  EXPECT_EQ(CurrToStrF(Currency::FromRaw(12345678), ffFixed, 2), "1234,57");

  struct Case {
    const char* text;
    bool ok;
    int64_t raw;
  };
  const Case cases[] = {
      {"1234,5", true, 12345000},
      {" -0,0001 ", true, -1},
      {"0,00005", true, 0},     // half to even
      {"0,00015", true, 2},     // half to even
      {"0,000051", true, 1},
      {"-0,00025", true, -2},
      {"1,5E3", true, 15000000},
      {"922337203685477,5807", true, std::numeric_limits<int64_t>::max()},
      {"-922337203685477,5808", true, std::numeric_limits<int64_t>::min()},
      {"922337203685477,5808", false, 0},
      {"1E20", false, 0},
      {"1E-30", true, 0},
      {"1.5", false, 0},
      {"", false, 0},
  };
  for (const Case& c : cases) {
    Currency v;
    EXPECT_EQ(TryStrToCurr(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v.Raw(), c.raw) << c.text;
    } else {
      EXPECT_THROW(StrToCurr(c.text), EConvertError) << c.text;
    }
  }
}

TEST(SysUtilsBool, Conversions) {
  EXPECT_EQ(BoolToStr(true), "-1");
  EXPECT_EQ(BoolToStr(false), "0");
  EXPECT_EQ(BoolToStr(true, true), "True");
  EXPECT_TRUE(StrToBool("true"));
  EXPECT_FALSE(StrToBool("FALSE"));
  EXPECT_TRUE(StrToBool("-1"));
  EXPECT_TRUE(StrToBool("2,5"));
  EXPECT_FALSE(StrToBool("0"));
  EXPECT_THROW(StrToBool("ano"), EConvertError);
  EXPECT_TRUE(StrToBoolDef("x", true));
}

TEST(SysUtilsFiles, NamesAndFileSystem) {
  EXPECT_EQ(ExtractFileName("/data/db/file.fdb"), "file.fdb");
  EXPECT_EQ(ExtractFileName("C:\\Data\\FILE.GDB"), "FILE.GDB");
  EXPECT_EQ(ExtractFileName("server:C:\\a.gdb"), "a.gdb");
  EXPECT_EQ(ExtractFilePath("/data/db/file.fdb"), "/data/db/");
  EXPECT_EQ(ExtractFileDir("/data/db/file.fdb"), "/data/db");
  EXPECT_EQ(ExtractFileDir("/file"), "/");
  EXPECT_EQ(ExtractFileDir("file"), "");
  EXPECT_EQ(ExtractFileExt("/a.b/c"), "");
  EXPECT_EQ(ExtractFileExt("archiv.tar.gz"), ".gz");
  EXPECT_EQ(ChangeFileExt("/x/a.txt", ".bak"), "/x/a.bak");
  EXPECT_EQ(ChangeFileExt("/x.d/a", ".bak"), "/x.d/a.bak");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/x"), "/x/");
  EXPECT_EQ(IncludeTrailingPathDelimiter("/x/"), "/x/");
  EXPECT_EQ(ExcludeTrailingPathDelimiter("/x/"), "/x");
  EXPECT_EQ(ExpandFileName("/a/b/../c/./d"), "/a/c/d");
  EXPECT_EQ(ExpandFileName("rel"), IncludeTrailingPathDelimiter(GetCurrentDir()) + "rel");

  test::TempDir tmp;
  const AnsiString dir = Utf8ToAnsi(tmp.Path()) + "/" + CZ("složka/vnořená");
  EXPECT_FALSE(DirectoryExists(dir));
  EXPECT_TRUE(ForceDirectories(dir));
  EXPECT_TRUE(DirectoryExists(dir));
  EXPECT_THROW(ForceDirectories(""), EInOutError);
  const AnsiString file = dir + "/" + CZ("žába.txt");
  EXPECT_FALSE(FileExists(file));
  {
    TFileStream f(file, fmCreate);
    f.WriteBuffer("x", 1);
  }
  EXPECT_TRUE(FileExists(file));
  EXPECT_FALSE(FileExists(dir));
  const AnsiString renamed = dir + "/b.txt";
  EXPECT_TRUE(RenameFile(file, renamed));
  EXPECT_FALSE(FileExists(file));
  {
    TFileStream f(file, fmCreate);
  }
  EXPECT_FALSE(RenameFile(file, renamed));  // the target exists
  EXPECT_TRUE(DeleteFile(renamed));
  EXPECT_FALSE(DeleteFile(renamed));
  EXPECT_FALSE(DeleteFile(dir));
}

}  // namespace
}  // namespace pelvar
