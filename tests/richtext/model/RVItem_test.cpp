// Items: the factory and the kind registry, paragraph flags, extra properties, word
// painters, checkpoints and item copies; breaks and tabs in the native format, RTF, HTML
// and text, and their figures on the recording canvas.
#include "richtext/model/RVItem.h"

#include <gtest/gtest.h>

#include "richtext/model/CRVData.h"
#include "richtext/model/RVFMisc.h"

namespace pelvar {
namespace {

std::string Contents(TMemoryStream& m) {
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

class TTestKindA : public TRVNonTextItemInfo {
 public:
  using TRVNonTextItemInfo::TRVNonTextItemInfo;
};
class TTestKindB : public TRVNonTextItemInfo {
 public:
  using TRVNonTextItemInfo::TRVNonTextItemInfo;
};

TEST(ItemRegistryTest, FactoryAndRegistration) {
  TCustomRVData data;
  auto text = CreateRVItem(5, &data);
  ASSERT_NE(dynamic_cast<TRVTextItemInfo*>(text.get()), nullptr);
  EXPECT_EQ(text->StyleNo, 5);
  EXPECT_EQ(CreateRVItem(-2, &data), nullptr);
  auto hot = CreateRVItem(-10, &data);
  ASSERT_NE(dynamic_cast<TRVHotGraphicItemInfo*>(hot.get()), nullptr);
  EXPECT_EQ(hot->StyleNo, -10);
  struct Kind {
    int32_t no;
    bool (*is)(TCustomRVItemInfo*);
  } kinds[] = {{-1, [](TCustomRVItemInfo* i) { return dynamic_cast<TRVBreakItemInfo*>(i) != nullptr; }},
               {-3, [](TCustomRVItemInfo* i) { return dynamic_cast<TRVGraphicItemInfo*>(i) != nullptr; }},
               {-11, [](TCustomRVItemInfo* i) { return dynamic_cast<TRVMarkerItemInfo*>(i) != nullptr; }},
               {-12, [](TCustomRVItemInfo* i) { return dynamic_cast<TRVTabItemInfo*>(i) != nullptr; }}};
  for (const Kind& k : kinds) {
    auto item = CreateRVItem(k.no, &data);
    ASSERT_NE(item, nullptr) << k.no;
    EXPECT_TRUE(k.is(item.get())) << k.no;
    EXPECT_EQ(item->StyleNo, k.no);
  }

  EXPECT_THROW(RegisterRVItemClass<TTestKindA>(-9), EDocViewError);
  EXPECT_THROW(RegisterRVItemClass<TTestKindA>(0), EDocViewError);
  RegisterRVItemClass<TTestKindA>(-70);
  RegisterRVItemClass<TTestKindA>(-70);  // the same class again is accepted
  EXPECT_THROW(RegisterRVItemClass<TTestKindB>(-70), EDocViewError);
  auto a = CreateRVItem(-70, &data);
  EXPECT_NE(dynamic_cast<TTestKindA*>(a.get()), nullptr);
  EXPECT_EQ(a->StyleNo, -70);
  EXPECT_EQ(CreateRVItem(-71, &data), nullptr);
}

TEST(ItemTest, ParagraphFlagsAndActualStyle) {
  TCustomRVData data;
  TRVBreakItemInfo br(&data);
  br.SetBR(true);
  EXPECT_FALSE(br.GetBR());  // full-line items never get BR
  TRVTextItemInfo t(&data);
  t.SetBR(true);
  t.SetPageBreakBefore(true);
  EXPECT_FALSE(t.GetBR());
  t.SetBR(true);
  t.ItemOptions.Include(rvioPageBreakBefore);
  t.SetSameAsPrev(true);
  EXPECT_EQ(t.ItemOptions, TRVItemOptions{rvioSameAsPrev});
  EXPECT_FALSE(t.IsParaStart());

  TRVStyle style(nullptr);
  t.StyleNo = rvsDefStyle;
  t.ParaNo = 1;
  EXPECT_EQ(t.GetActualStyleNo(&style), 0);  // DefStyleNo -1
  style.ParaStyles()->Items(1)->DefStyleNo = 3;
  EXPECT_EQ(t.GetActualStyleNo(&style), 3);
}

TEST(ItemTest, ExtraPropertiesFromNameValueLines) {
  TCustomRVData data;
  TRVTabItemInfo item(&data);
  item.ReadRVFExtraProperty("hint=a=b");
  EXPECT_EQ(item.Hint, "a=b");
  item.ReadRVFExtraProperty("unremovable=1");
  EXPECT_TRUE(item.Unremovable);
  item.ReadRVFExtraProperty("unremovable=x");  // not a number: 0
  EXPECT_FALSE(item.Unremovable);
  item.ReadRVFExtraProperty("hint");  // no "=": nothing
  EXPECT_EQ(item.Hint, "a=b");
  EXPECT_EQ(RVGetExtraIntPropertyIndex("spacing"), 9);
  EXPECT_EQ(RVGetExtraIntPropertyIndex("Spacing"), 0);  // names are case-sensitive
  EXPECT_EQ(RVGetExtraStrPropertyIndex("filename"), 3);
}

TEST(ItemTest, WordPaintersFollowInsertionsAndDeletions) {
  TCustomRVData data;
  TRVTextItemInfo item(&data);
  item.AddMisspelling(3, 4);  // offsets 3..6
  EXPECT_TRUE(item.IsMisspelled(6));
  EXPECT_FALSE(item.IsMisspelled(7));
  int32_t s = 0, l = 0;
  EXPECT_TRUE(item.GetMisspelling(7, s, l));  // just after the word
  EXPECT_EQ(s, 3);
  // A delimiter just after the word keeps the mark; a letter removes it.
  EXPECT_TRUE(item.AdjustWordPaintersOnInsert(7, u' ', &data));
  EXPECT_TRUE(item.IsMisspelled(3));
  EXPECT_TRUE(item.AdjustWordPaintersOnInsert(7, u'x', &data));
  EXPECT_EQ(item.WordPaintList(), nullptr);

  // A mark after a deleted range moves back by the count; one the range touches goes.
  item.AddMisspelling(10, 3);
  item.AddMisspelling(2, 2);
  EXPECT_TRUE(item.AdjustWordPaintersOnDelete(3, 2));
  ASSERT_NE(item.WordPaintList(), nullptr);
  ASSERT_EQ(item.WordPaintList()->size(), 1u);
  EXPECT_EQ((*item.WordPaintList())[0]->StartOffs, 8);
  item.ClearLiveSpellingResult();
  EXPECT_EQ(item.WordPaintList(), nullptr);
}

TEST(ItemTest, CopiesCarryCheckpointAndTagCopies) {
  TCustomRVData data;
  data.SetOptions({rvoTagsArePChars});
  TRVTabItemInfo src(&data);
  src.StyleNo = rvsTab;
  src.TextStyleNo = 4;
  src.Leader = ".";
  src.Hint = "h";
  src.Tag = TRVTag::FromStr("tag");
  TRVCPInfo cp;
  cp.Name = "mark";
  cp.Tag = TRVTag::FromStr("cp");
  cp.Next = &cp;
  src.Checkpoint = &cp;
  auto copy = CreateRVItemCopy(&src, &data, true);
  src.Checkpoint = nullptr;
  auto* tab = dynamic_cast<TRVTabItemInfo*>(copy.get());
  ASSERT_NE(tab, nullptr);
  EXPECT_EQ(tab->TextStyleNo, 4);
  EXPECT_EQ(tab->Leader, ".");
  EXPECT_EQ(tab->Hint, "h");
  EXPECT_EQ(*tab->Tag.Str, "tag");
  ASSERT_NE(tab->Checkpoint, nullptr);
  EXPECT_NE(tab->Checkpoint, &cp);
  EXPECT_EQ(tab->Checkpoint->Name, "mark");
  EXPECT_EQ(*tab->Checkpoint->Tag.Str, "cp");
  EXPECT_EQ(tab->Checkpoint->Next, nullptr);  // no links until inserted
  EXPECT_EQ(tab->Checkpoint->ItemInfo, nullptr);

  TRVCPInfo plain;
  plain.Tag = TRVTag::FromInt(7);
  EXPECT_EQ(plain.CreateCopy(false)->Tag.Int, 7);
}

TEST(BreakItemTest, TextRtfHtmlAndNativeForms) {
  TCustomRVData data;
  TRVBreakItemInfo br(&data);
  br.StyleNo = rvsBreak;
  br.LineWidth = 3;
  EXPECT_EQ(br.AsText(0, &data, "", "", false, false), "=");
  br.LineWidth = 1;
  EXPECT_EQ(br.AsText(4, &data, "", "", false, false), "----");

  TRVColorList colors;
  colors.AddUnique(clRed);
  br.Color = clRed;
  br.LineWidth = 2;
  TMemoryStream rtf;
  br.SaveRTF(rtf, &data, 0, "", 15.0, 2, colors);
  EXPECT_EQ(Contents(rtf), "\\pard\\itap2\\plain\\fs6\\brdrb\\brdrs\\brdrw30\\brdrcf0\\par\\pard\\itap2");

  struct Html {
    TColor color;
    uint8_t style;
    uint32_t options;
    bool css;
    const char* html;
  } cases[] = {
      {clNone, 0, 0, false, "<hr noshade size=2>"},
      {clRed, 0, 0, false, "<hr noshade size=2 color=\"#ff0000\">"},
      {clRed, 3, 0, true, "<hr noshade size=2 style=\"color : #ff0000; border-style: dotted\">"},
      {clNone, 0, rvsoXHTML, false, "<hr noshade=\"noshade\" size=\"2\" />"},
  };
  for (const Html& c : cases) {
    br.Color = c.color;
    br.Style = c.style;
    TMemoryStream m;
    int32_t n = 0;
    br.SaveToHTML(m, &data, 0, "", "", "", n, clNone, c.options, c.css);
    EXPECT_EQ(Contents(m), c.html);
  }

  // Native format: header with the tail; an empty tail reads as clNone, style 0, width 1.
  br.Color = clBlue;
  br.Style = 4;
  br.LineWidth = 5;
  br.Hint = "x";
  TMemoryStream rvf;
  br.SaveRVF(rvf, &data, 0, 1, "", 0, true);
  EXPECT_EQ(Contents(rvf), "-1 1 1 0 0 0 16711680 4 5\r\nhint=x\r\n");
  TRVBreakItemInfo back(&data);
  const char* tail = "";
  EXPECT_TRUE(back.ReadRVFHeaderTail(tail, &data));
  EXPECT_EQ(back.Color, clNone);
  EXPECT_EQ(back.LineWidth, 1);
  const char* bad = "1 2";
  EXPECT_FALSE(back.ReadRVFHeaderTail(bad, &data));
}

TEST(BreakItemTest, FiguresOnTheCanvas) {
  TCustomRVData data;
  TRVStyle style(nullptr);
  style.TextStyles()->Items(0)->Color = clMaroon;
  TRVBreakItemInfo br(&data);
  br.Color = clNone;
  br.LineWidth = 1;
  br.Style = 3;
  TRecordingCanvas canvas;
  br.PaintFullWidth(0, 30, 0, canvas, 0, &style, TRect{});
  // Width 1: one-pixel squares every 2 pixels from x1 = 5 while x + w < 25; width 4: circles
  // every 8 pixels.
  auto squares = canvas.Calls("FillRect");
  ASSERT_EQ(squares.size(), 10u);
  EXPECT_EQ(squares[0].Args, (std::vector<int32_t>{5, 5, 6, 6}));
  EXPECT_EQ(squares[1].Args, (std::vector<int32_t>{7, 5, 8, 6}));
  EXPECT_EQ(squares[0].Brush.Color(), clMaroon);

  canvas.ClearLog();
  br.LineWidth = 4;
  br.PaintFullWidth(0, 40, 0, canvas, 0, &style, TRect{});
  auto circles = canvas.Calls("Ellipse");
  ASSERT_EQ(circles.size(), 4u);  // x = 5, 13, 21, 29 while x + w < 35
  EXPECT_EQ(circles[1].Args, (std::vector<int32_t>{13, 3, 18, 8}));

  canvas.ClearLog();
  br.Style = 0;
  br.PaintFullWidth(0, 40, 0, canvas, ipsSelected | ipsControlFocused, &style, TRect{});
  auto rects = canvas.Calls("Rectangle");
  ASSERT_EQ(rects.size(), 1u);
  EXPECT_EQ(rects[0].Pen.Color, clHighlight);
}

TEST(TabItemTest, HtmlTextAndNativeFormKeepLeaderAndHint) {
  TCustomRVData data;
  TRVStyle style(nullptr);
  data.SetRVStyle(&style);
  style.SpacesInTab = 8;
  TRVTabItemInfo tab(&data);
  tab.StyleNo = rvsTab;
  auto html = [&]() {
    TMemoryStream m;
    int32_t n = 0;
    tab.SaveToHTML(m, &data, 0, "", "", "", n, clNone, 0, false);
    return Contents(m);
  };
  EXPECT_EQ(html(), " &nbsp; &nbsp; &nbsp; &nbsp;");
  tab.Leader = ".";
  EXPECT_EQ(html(), "........");
  tab.Leader = "<";
  EXPECT_EQ(html(), "&lt;&lt;&lt;&lt;&lt;&lt;&lt;&lt;");
  EXPECT_EQ(tab.AsText(0, &data, "", "", false, false), "\t");
  TMemoryStream rtf;
  TRVColorList colors;
  tab.SaveRTF(rtf, &data, 0, "", 15, 0, colors);
  EXPECT_EQ(Contents(rtf), "\\tab ");

  tab.TextStyleNo = rvsDefStyle;
  tab.Leader = ".-";
  tab.Hint = "tip";
  TMemoryStream rvf;
  tab.SaveRVF(rvf, &data, 0, 0, "", 0, false);
  EXPECT_EQ(Contents(rvf), "-12 2 0 0 0 0 2147483647\r\nhint=tip\r\nleader=.-\r\n");

  // Read back the way the native-format reader does: header tail, then the body lines.
  TRVTabItemInfo back(&data);
  const char* tail = "2147483647";
  EXPECT_TRUE(back.ReadRVFHeaderTail(tail, &data));
  int32_t state = 0;
  bool binary = false;
  AnsiString name;
  back.ReadRVFLine("hint=tip", &data, state, binary, name, 0, 2, 0);
  back.ReadRVFLine("leader=.-", &data, state, binary, name, 1, 2, 0);
  EXPECT_EQ(back.TextStyleNo, rvsDefStyle);
  EXPECT_EQ(back.Leader, ".-");
  EXPECT_EQ(back.Hint, "tip");
}

TEST(TabItemTest, PaintsInTheParagraphsDefaultStyleWithArrowAndLeader) {
  TCustomRVData data;
  TRVStyle style(nullptr);
  style.ParaStyles()->Items(0)->DefStyleNo = 3;
  TRVTabItemInfo tab(&data);
  tab.TextStyleNo = rvsDefStyle;
  EXPECT_EQ(tab.GetActualTextStyleNo(&style), 3);
  TRecordingCanvas canvas;
  tab.Paint(0, 0, 20, 10, canvas, ipsSpecialCharacters | ipsRightToLeft, &style, false, 0);
  EXPECT_TRUE(canvas.Font().Style().Contains(fsItalic));  // style 3 "Keywords"
  // c = 10, tip t = 15, y = 5: the shaft from 5 to 15; head strokes at 6, 7, 8 (pointing left).
  auto moves = canvas.Calls("MoveTo");
  ASSERT_EQ(moves.size(), 4u);
  EXPECT_EQ(moves[0].Args, (std::vector<int32_t>{5, 5}));
  EXPECT_EQ(moves[1].Args, (std::vector<int32_t>{6, 4}));
  EXPECT_EQ(moves[2].Args, (std::vector<int32_t>{7, 3}));

  canvas.ClearLog();
  tab.Leader = ".";
  tab.Paint(0, 0, 100, 10, canvas, 0, &style, false, 0);
  const int32_t lw = canvas.TextWidth(".");
  auto dots = canvas.Calls("TextOut");
  ASSERT_FALSE(dots.empty());
  EXPECT_EQ(dots.front().Args[0], lw);
  EXPECT_LE(dots.back().Args[0] + lw, 100 - lw);
}

}  // namespace
}  // namespace pelvar
