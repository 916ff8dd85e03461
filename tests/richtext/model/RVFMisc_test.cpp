// The native format's stream helpers: header-line fields, tags, style references, hex and
// wide hex, text lines, size-prefixed blocks, and pictures and components that are loaded
// only from completely decoded data of a registered class of the expected base.
#include "richtext/model/RVFMisc.h"

#include <gtest/gtest.h>

#include "platform/filer.h"
#include "richtext/model/CRVData.h"

namespace pelvar {
namespace {

std::string Contents(TMemoryStream& m) {
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

TEST(RVFMiscTest, ReadingHeaderFields) {
  struct Case {
    const char* text;
    bool ok;
    int32_t value;
    const char* rest;
  } cases[] = {{"12 34", true, 12, "34"}, {"-7", true, -7, ""},  {"x1", false, 0, "x1"},
               {"12a", false, 0, "a"},    {"-", true, 0, ""},    {"0 ", true, 0, ""}};
  for (const Case& c : cases) {
    const char* p = c.text;
    int32_t v = 0;
    EXPECT_EQ(RVFReadInteger(p, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
    EXPECT_STREQ(p, c.rest) << c.text;
  }
  const char* big = "99999999999";
  int32_t v = 0;
  EXPECT_THROW(RVFReadInteger(big, v), EIntOverflow);

  const char* q = "\"a \"\"b\"\" c\" next";
  AnsiString s;
  RVFReadQuotedString(q, s);
  EXPECT_EQ(s, "a \"b\" c");
  EXPECT_STREQ(q, "next");
  AnsiString w;
  EXPECT_TRUE(RVFReadWord(q, w));
  EXPECT_EQ(w, "next");
  EXPECT_FALSE(RVFReadWord(q, w));
}

TEST(RVFMiscTest, TagsAsTextAndBack) {
  EXPECT_EQ(RVFSaveTag(false, TRVTag::FromInt(-5)), "-5");
  EXPECT_EQ(RVFSaveTag(true, TRVTag()), "0");
  EXPECT_EQ(RVFSaveTag(true, TRVTag::FromStr("")), "0");
  EXPECT_EQ(RVFSaveTag(true, TRVTag::FromStr("a\"b")), "\"a\"\"b\"");

  TRVTag tag;
  const char* p = "0 \"0\" \"x y\" 12 z";
  EXPECT_TRUE(RVFReadTag(p, true, true, tag));
  EXPECT_TRUE(tag.IsNil());
  EXPECT_TRUE(RVFReadTag(p, true, true, tag));
  EXPECT_EQ(*tag.Str, "0");
  EXPECT_TRUE(RVFReadTag(p, true, true, tag));
  EXPECT_EQ(*tag.Str, "x y");
  EXPECT_TRUE(RVFReadTag(p, false, true, tag));
  EXPECT_EQ(tag.Int, 12);
  EXPECT_FALSE(RVFReadTag(p, false, true, tag));
}

TEST(RVFMiscTest, StyleReferencesByNumberOrName) {
  TRVStyle style(nullptr);
  EXPECT_EQ(RVFTextStyleToStr(&style, true, 1), "\"Heading\"");
  EXPECT_EQ(RVFTextStyleToStr(&style, false, 1), "1");
  EXPECT_EQ(RVFParaStyleToStr(&style, true, -1), "-1");
  const char* p = "\"Centered\" \"Nope\" 4";
  int32_t no = -1;
  EXPECT_TRUE(RVFReadParaStyle(&style, p, no));
  EXPECT_EQ(no, 1);
  EXPECT_TRUE(RVFReadTextStyle(&style, p, no));
  EXPECT_EQ(no, 0);
  EXPECT_TRUE(RVFReadTextStyle(&style, p, no));
  EXPECT_EQ(no, 4);
}

TEST(RVFMiscTest, HexForms) {
  EXPECT_EQ(RVFStringToHex(AnsiString("\x00\xFF", 2)), "00FF");
  EXPECT_EQ(RVFHexToString("00ff"), AnsiString("\x00\xFF", 2));
  EXPECT_EQ(RVFHexToString("0G"), "");
  EXPECT_EQ(RVFHexToString("414"), "");
  EXPECT_EQ(RVFWideStringToHex(u"AB"), "00410042");
  EXPECT_EQ(RVFHexToWideString("00410042"), u"AB");
  EXPECT_EQ(RVFHexToWideString("004"), u"");
  TMemoryStream m;
  EXPECT_FALSE(RVFHexToStream("414", m));
  EXPECT_EQ(m.Size(), 0);
  EXPECT_FALSE(RVFHexToStream("41ZZ42", m));
  EXPECT_EQ(Contents(m), "A");  // the decoded prefix
  EXPECT_EQ(RVFEncodeLineBreaks("a\r\nb"), "a\x01\x02" "b");
  EXPECT_EQ(RVFDecodeLineBreaks("a\x01\x02" "b"), "a\r\nb");
  EXPECT_EQ(RVFGetItemOptions({rvioPageBreakBefore, rvioBR, rvioUnicodeText}, true), 9);
}

TEST(RVFMiscTest, TextLines) {
  TMemoryStream a, b, c;
  RVFWriteTextLine(a, "A\0", true, false);
  RVFWriteTextLine(b, AnsiString("A\0", 2), true, true);
  RVFWriteTextLine(c, "abc", false, false);
  EXPECT_EQ(Contents(a), "A\x29\x20");
  EXPECT_EQ(Contents(b), "4100\r\n");
  EXPECT_EQ(Contents(c), "abc\r\n");
}

// A picture with a stream format of its own: the bytes it was loaded from.
class TBytesPicture : public TGraphic {
 public:
  std::string Bytes;
  int Loads = 0;
  int32_t Width() const override { return 1; }
  int32_t Height() const override { return 1; }
  void Draw(TCanvas&, const TRect&) override {}
  void SaveToStream(TStream& s) const override { s.WriteBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size())); }
  void LoadFromStream(TStream& s) override {
    ++Loads;
    Bytes.assign(static_cast<size_t>(s.Size() - s.Position()), '\0');
    if (!Bytes.empty()) s.ReadBuffer(Bytes.data(), static_cast<int64_t>(Bytes.size()));
  }
};

TEST(RVFMiscTest, PicturesLoadOnlyFromWholeData) {
  TBytesPicture pic;
  pic.Bytes = "PNG";
  EXPECT_EQ(RVFSavePicture(pic), "504E47");
  TBytesPicture back;
  EXPECT_TRUE(RVFLoadPicture("504e47", back));
  EXPECT_EQ(back.Bytes, "PNG");
  // Partly decoded hex never reaches the picture.
  TBytesPicture bad;
  EXPECT_FALSE(RVFLoadPicture("504E4G", bad));
  EXPECT_FALSE(RVFLoadPicture("504", bad));
  EXPECT_EQ(bad.Loads, 0);

  TMemoryStream m;
  RVFWrite(m, "x");
  RVFSavePictureBinary(m, pic);
  EXPECT_EQ(Contents(m), std::string("x\x03\x00\x00\x00PNG", 8));
  m.SetPosition(1);
  TBytesPicture bin;
  RVFLoadPictureBinary(m, bin);
  EXPECT_EQ(bin.Bytes, "PNG");
}

class TStreamedControl : public TComponent {
 public:
  using TComponent::TComponent;
  int32_t Level = 0;
  void DefinePublished(TPublishedProperties& p) override { p.Integer("Level", Level, 0); }
};

TEST(RVFMiscTest, ComponentsAreCreatedOnlyFromRegisteredClassesOfTheRightBase) {
  RegisterClass<TStreamedControl>("TStreamedControl");
  TStreamedControl c(nullptr);
  c.Level = 3;
  AnsiString hex = RVFSaveControl(&c);
  EXPECT_EQ(hex.substr(0, 8), "54504630");  // "TPF0"

  std::unique_ptr<TComponent> read;
  EXPECT_TRUE(RVFLoadControl(hex, read, ""));
  ASSERT_NE(dynamic_cast<TStreamedControl*>(read.get()), nullptr);
  EXPECT_EQ(static_cast<TStreamedControl*>(read.get())->Level, 3);

  std::unique_ptr<TComponent> named;
  EXPECT_TRUE(RVFLoadControl(hex, named, "TStreamedControl"));
  EXPECT_EQ(static_cast<TStreamedControl*>(named.get())->Level, 3);

  // An unregistered class name, a class that is no component, broken hex: nothing is made.
  RegisterClass<TRVRect>("TRVRect");
  for (const char* name : {"TUnknownThing", "TRVRect"}) {
    std::unique_ptr<TComponent> none;
    EXPECT_FALSE(RVFLoadControl(hex, none, name)) << name;
    EXPECT_EQ(none, nullptr);
  }
  std::unique_ptr<TComponent> broken;
  EXPECT_FALSE(RVFLoadControl(hex.substr(0, hex.size() - 2) + "ZZ", broken, ""));
  EXPECT_EQ(broken, nullptr);

  TMemoryStream m;
  RVFSaveControlBinary(m, &c);
  std::string block = Contents(m);
  std::unique_ptr<TComponent> bin;
  EXPECT_TRUE(RVFLoadControlBinary(block.substr(4), bin, ""));
  EXPECT_EQ(static_cast<TStreamedControl*>(bin.get())->Level, 3);
  UnRegisterClass("TStreamedControl");
  UnRegisterClass("TRVRect");
}

}  // namespace
}  // namespace pelvar
