#include "platform/codepage.h"

#include <gtest/gtest.h>

namespace pelvar {
namespace {

TEST(CodePage, CzechTextInWindows1250AndCodePage852) {
  const std::string utf8 = "Příliš žluťoučký kůň úpěl ďábelské ódy";
  const std::string ansi = CZ(utf8);
  // One byte per letter; 'ř' is 0xF8 in Windows-1250 and 0xFD in code page 852.
  EXPECT_EQ(ansi.size(), 38u);
  EXPECT_EQ(static_cast<uint8_t>(ansi[1]), 0xF8);
  EXPECT_EQ(AnsiToUtf8(ansi), utf8);
  const std::string oem = ConvertCodePage(ansi, TCodePage::cp1250, TCodePage::cp852);
  EXPECT_EQ(static_cast<uint8_t>(oem[1]), 0xFD);
  EXPECT_EQ(CodePageToUtf8(oem, TCodePage::cp852), utf8);
}

TEST(CodePage, EveryByteRoundTripsThroughUtf16) {
  for (auto cp : {TCodePage::cp1250, TCodePage::cp852}) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    EXPECT_EQ(FromWide(ToWide(all, cp), cp), all);
    EXPECT_EQ(Utf8ToCodePage(CodePageToUtf8(all, cp), cp), all);
  }
}

TEST(CodePage, MissingAndMalformedCharacters) {
  EXPECT_EQ(Utf8ToAnsi("日本"), "??");                 // not in Windows-1250
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");           // truncated sequence
  EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");   // overlong form
  EXPECT_EQ(Utf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace pelvar
