// Formatting with the hand-computable test font: lines, wraps and dropped spaces, the line
// limit, breaks, justification, right-to-left order, combining marks, tabs, the draw-item
// list with its hole, position look-ups and the partial reformat of one paragraph.
#include "richtext/view/CRVFData.h"

#include <gtest/gtest.h>

#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

using viewtest::DI;
using viewtest::DrawItems;
using viewtest::TTestDoc;

class FormatTest : public ::testing::Test {
 protected:
  TRVStyle style{nullptr};
};

TEST_F(FormatTest, WrapsDropSpacesAndCapLines) {
  struct Case {
    const char* name;
    const char* text;
    int32_t area;
    int32_t max_length;
    std::vector<DI> expected;
    int32_t max_text_width = 0;
  };
  // A word wider than the area widens the document; lines are narrower than the word only
  // under MaxTextWidth.
  const Case cases[] = {
      {"fits exactly, space dropped", "aaaa bbbb cccc dddd", 60, 0, {{0, 1, 9, 0, 0, 60}, {0, 11, 9, 0, 13, 60}}},
      {"word wider than the line is cut", "aaaaaaaaaa", 30, 0, {{0, 1, 4, 0, 0, 28}, {0, 5, 4, 0, 13, 28}, {0, 9, 2, 0, 26, 14}}, 30},
      {"space beyond the fit", "aaaa bbbbbbb", 28, 0, {{0, 1, 4, 0, 0, 28}, {0, 6, 7, 0, 13, 49}}},
      {"MaxLength 10 caps every line", "aaaaaaaaaaaaaaaaaaaaaaaaa", 1000, 10,
       {{0, 1, 10, 0, 0, 70}, {0, 11, 10, 0, 13, 70}, {0, 21, 5, 0, 26, 35}}},
      {"MaxLength with spaces", "aaaa bbbb cccc dddd", 1000, 10, {{0, 1, 9, 0, 0, 60}, {0, 11, 9, 0, 13, 60}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTestDoc doc(&style, c.area);
    doc.SetMaxLength(c.max_length);
    doc.MaxTW = c.max_text_width;
    doc.AddText(c.text, 0, 0);
    doc.Format();
    EXPECT_EQ(DrawItems(doc), c.expected);
    // No line ends or (when wrapped) starts with a space.
    const std::string t = c.text;
    for (const DI& d : DrawItems(doc)) {
      EXPECT_NE(t[static_cast<size_t>(d.Offs - 1)], ' ');
      EXPECT_NE(t[static_cast<size_t>(d.Offs + d.Length - 2)], ' ');
    }
  }
}

TEST_F(FormatTest, LastLineOfParagraphKeepsTrailingSpacesAndHeightCountsMargins) {
  TTestDoc doc(&style, 100);
  doc.TM = 5;
  doc.BM = 7;
  style.ParaStyles()->Items(0)->SpaceAfter = 2;
  doc.AddText("ab  ", 0, 0);
  doc.Format();
  ASSERT_EQ(doc.DrawLines.Count(), 1);
  EXPECT_EQ(doc.DrawLines[0]->Length, 4);
  EXPECT_EQ(doc.DrawLines[0]->Top, 5);
  // Top margin + ascent + descent + space after + bottom margin.
  EXPECT_EQ(doc.DocumentHeight, 5 + 13 + 2 + 7);
}

TEST_F(FormatTest, BreakIsElevenPixelsHighAfterSpaceBeforeOfParagraphStyleZero) {
  style.ParaStyles()->Items(0)->SpaceBefore = 4;
  TTestDoc doc(&style, 100);
  doc.AddText("aa", 0, 1);
  auto brk = CreateRVItem(rvsBreak, &doc);
  brk->ParaNo = 1;
  doc.AddItem("", brk.release());
  doc.AddText("bb", 0, 1);
  doc.Format();
  ASSERT_EQ(doc.DrawLines.Count(), 3);
  TRVDrawLineInfo* b = doc.DrawLines[1];
  EXPECT_EQ(b->Height, 11);
  EXPECT_EQ(b->Top, 13 + 4);
  EXPECT_EQ(b->Width, 100);
  EXPECT_TRUE(b->FromNewLine);
  // After the break: its half height below it, then the text.
  EXPECT_EQ(doc.DrawLines[2]->Top, 17 + 5 + 1 + 5);
}

TEST_F(FormatTest, EmptyParagraphHasTheHeightOfItsStyle) {
  TTestDoc doc(&style, 100);
  doc.AddText("", 0, 0);
  doc.AddText("a", 0, 0);
  doc.Format();
  ASSERT_EQ(doc.DrawLines.Count(), 2);
  EXPECT_EQ(doc.DrawLines[0]->Width, 0);
  EXPECT_EQ(doc.DrawLines[0]->Height, 13);
  EXPECT_EQ(doc.DrawLines[1]->Top, 13);
}

TEST_F(FormatTest, JustificationSpreadsTheRemainderOverTheLaterSpaces) {
  style.ParaStyles()->Items(0)->Alignment = rvaJustify;
  TTestDoc doc(&style, 78);
  doc.AddText("aa bb cc dd eeeeeeeeee", 0, 0);
  doc.Format();
  const std::vector<DI> expected = {{0, 1, 2, 0, 0, 14},   {0, 3, 3, 14, 0, 21}, {0, 6, 3, 35, 0, 21},
                                    {0, 9, 3, 56, 0, 22},  {0, 13, 10, 0, 13, 70}};
  EXPECT_EQ(DrawItems(doc), expected);
  EXPECT_EQ(doc.DrawLines[1]->SpaceBefore, 3);
  EXPECT_EQ(doc.DrawLines[2]->SpaceBefore, 3);
  EXPECT_EQ(doc.DrawLines[3]->SpaceBefore, 4);
  // The paragraph's last line is not widened.
  EXPECT_EQ(doc.DrawLines[4]->SpaceBefore, 0);
}

TEST_F(FormatTest, AlignmentAndLineSpacing) {
  struct Case {
    TRVAlignment align;
    TRVLineSpacingType type;
    int32_t spacing;
    int32_t left;
    int32_t extra;
  };
  const Case cases[] = {
      {rvaRight, rvlsPercent, 100, 100 - 14, 0},  {rvaCenter, rvlsPercent, 49, 43, 0},
      {rvaLeft, rvlsPercent, 200, 0, 13},         {rvaLeft, rvlsPercent, 150, 0, 6},
      {rvaLeft, rvlsSpaceBetween, 5, 0, 5},       {rvaLeft, rvlsSpaceBetween, -3, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.left);
    TRVStyle s(nullptr);
    TParaInfo* p = s.ParaStyles()->Items(0);
    p->Alignment = c.align;
    p->LineSpacingType = c.type;
    p->LineSpacing = c.spacing;
    TTestDoc doc(&s, 100);
    doc.AddText("ab", 0, 0);
    doc.AddText("cd", 0, 0);
    doc.Format();
    EXPECT_EQ(doc.DrawLines[0]->Left, c.left);
    EXPECT_EQ(doc.DrawLines[0]->ExtraSpaceBelow, c.extra);
    EXPECT_EQ(doc.DrawLines[1]->Top, 13 + c.extra);
  }
}

TEST_F(FormatTest, RightToLeftAndCombiningMarks) {
  struct Case {
    const char* name;
    std::vector<std::u16string> items;
    TRVBiDiMode bidi;
    int32_t area;
    std::vector<DI> expected;
    int32_t max_text_width = 0;
  };
  const Case cases[] = {
      // Two right-to-left runs: the second stands left of the first.
      {"rtl runs", {u"\u05D0\u05D1", u"\u05D2\u05D3"}, rvbdRightToLeft, 100, {{0, 1, 2, 14, 0, 14}, {1, 1, 2, 0, 0, 14}}},
      // Two left-to-right runs in a right-to-left paragraph keep their order.
      {"ltr in rtl", {u"ab", u"cd"}, rvbdRightToLeft, 100, {{0, 1, 2, 0, 0, 14}, {1, 1, 2, 14, 0, 14}}},
      // A word of e + combining acute is never cut between a letter and its mark.
      {"combining", {u"e\u0301e\u0301e\u0301e\u0301e\u0301"}, rvbdUnspecified, 20,
       {{0, 1, 4, 0, 0, 14}, {0, 5, 4, 0, 13, 14}, {0, 9, 2, 0, 26, 7}}, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TRVStyle s(nullptr);
    s.ParaStyles()->Items(0)->BiDiMode = c.bidi;
    TTestDoc doc(&s, c.area);
    doc.MaxTW = c.max_text_width;
    for (size_t i = 0; i < c.items.size(); ++i) doc.AddTextW(c.items[i], 0, i == 0 ? 0 : -1);
    doc.Format();
    EXPECT_EQ(DrawItems(doc), c.expected);
  }
}

// A line that ends at a soft hyphen shows a hyphen there: the line is fitted with it, so it
// never reaches past the text width.
TEST_F(FormatTest, ALineEndingAtASoftHyphenFitsWithTheHyphen) {
  struct Case {
    const char* name;
    std::vector<std::u16string> items;
    int32_t area;
    std::vector<DI> expected;
  };
  const Case cases[] = {
      {"the hyphen does not fit: the word goes down whole", {u"xxx aaaa\u00ADbbbb"}, 56,
       {{0, 1, 3, 0, 0, 21}, {0, 5, 9, 0, 13, 56}}},
      {"the hyphen fits exactly", {u"xxx aaaa\u00ADbbbb"}, 60, {{0, 1, 9, 0, 0, 60}, {0, 10, 4, 0, 13, 28}}},
      {"a wrap at a soft hyphen that ends an item", {u"xxx aaaa\u00AD", u"bbbb"}, 56,
       {{0, 1, 3, 0, 0, 21}, {0, 5, 5, 0, 13, 28}, {1, 1, 4, 28, 13, 28}}},
      {"a word cut at a line start, then a wrap at its soft hyphen", {u"aaaaaaa\u00ADbb"}, 28,
       {{0, 1, 4, 0, 0, 28}, {0, 5, 4, 0, 13, 28}, {0, 9, 2, 0, 26, 14}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TTestDoc doc(&style, c.area);
    doc.MaxTW = c.area;
    for (size_t i = 0; i < c.items.size(); ++i) doc.AddTextW(c.items[i], 0, i == 0 ? 0 : -1);
    doc.Format();
    EXPECT_EQ(DrawItems(doc), c.expected);
    for (const DI& d : DrawItems(doc)) EXPECT_LE(d.Left + d.Width, c.area) << d.Offs;
  }
}

// A word made of several items (ANSI and Unicode pieces of one text, or pieces of other
// styles) breaks only where the text allows it: the whole word goes to the next line.
TEST_F(FormatTest, AWordMadeOfSeveralItemsIsNotBrokenAtTheirBorders) {
  struct Item {
    std::u16string text;
    bool unicode;
    int32_t style = 0;
  };
  struct Case {
    const char* name;
    std::vector<Item> items;
    int32_t area;
    std::vector<DI> expected;
  };
  const Case cases[] = {
      {"ANSI, Unicode, ANSI", {{u"xxx p", false}, {u"\u0159", true}, {u"ijima", false}}, 56,
       {{0, 1, 3, 0, 0, 21}, {0, 5, 1, 0, 13, 7}, {1, 1, 1, 7, 13, 7}, {2, 1, 5, 14, 13, 35}}},
      {"Unicode, ANSI", {{u"k\u016F\u0148 \u00FA", true}, {u"pel", false}}, 42,
       {{0, 1, 3, 0, 0, 21}, {0, 5, 1, 0, 13, 7}, {1, 1, 3, 7, 13, 21}}},
      {"a word that starts a piece of its own", {{u"xxx ", false}, {u"o", false}, {u"\u0161", true}, {u"et", false}},
       42, {{0, 1, 4, 0, 0, 25}, {1, 1, 1, 0, 13, 7}, {2, 1, 1, 7, 13, 7}, {3, 1, 2, 14, 13, 14}}},
      {"a bold piece inside a word", {{u"aa bb", false}, {u"cc", false, 1}, {u"dd ee", false}}, 49,
       {{0, 1, 2, 0, 0, 14}, {0, 4, 2, 0, 13, 14}, {1, 1, 2, 14, 13, 14}, {2, 1, 2, 28, 13, 14},
        {2, 4, 2, 0, 26, 14}}},
      {"a break after the piece is used", {{u"xxx p", false}, {u" ijima", false}}, 56,
       {{0, 1, 5, 0, 0, 32}, {1, 1, 0, 32, 0, 0}, {1, 2, 5, 0, 13, 35}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TRVStyle s(nullptr);
    while (s.TextStyles()->Count() < 2) s.TextStyles()->Add();
    s.TextStyles()->Items(1)->Style.Include(fsBold);
    TTestDoc doc(&s, c.area);
    doc.MaxTW = c.area;
    for (size_t i = 0; i < c.items.size(); ++i) {
      const Item& it = c.items[i];
      const int32_t para = i == 0 ? 0 : -1;
      if (it.unicode)
        doc.AddTextW(it.text, it.style, para);
      else
        doc.AddText(std::string(it.text.begin(), it.text.end()), it.style, para);
    }
    doc.Format();
    EXPECT_EQ(DrawItems(doc), c.expected);
  }
}

TEST_F(FormatTest, RightTabPlacesTheFollowingTextToEndAtTheStop) {
  TRVTabInfo* t = static_cast<TRVTabInfo*>(style.ParaStyles()->Items(0)->Tabs().Add());
  t->SetPosition(80);
  t->Align = rvtaRight;
  TTestDoc doc(&style, 200);
  doc.AddText("a", 0, 0);
  auto tab = CreateRVItem(rvsTab, &doc);
  tab->ParaNo = -1;
  doc.AddItem("", tab.release());
  doc.AddText("bb", 0, -1);
  doc.Format();
  ASSERT_EQ(doc.DrawLines.Count(), 3);
  EXPECT_EQ(doc.DrawLines[2]->Left + doc.DrawLines[2]->Width, 80);
  EXPECT_EQ(doc.DrawLines[1]->Left, 7);
  EXPECT_EQ(doc.DrawLines[1]->Width, 80 - 14 - 7);
}

TEST(DrawLinesTest, HoleIsReusedThenDropped) {
  TRVDrawLines lines;
  for (int32_t i = 0; i < 10; ++i) lines.Add(std::make_unique<TRVDrawLineInfo>(0, i, 1, 1, i, true));
  lines.ReserveRange(5, 7);
  EXPECT_EQ(lines.HoleStart, 5);
  EXPECT_EQ(lines.HoleCount, 3);
  lines.InsertDrawItem(5, std::make_unique<TRVDrawLineInfo>(0, 0, 1, 1, 50, true));
  lines.InsertDrawItem(6, std::make_unique<TRVDrawLineInfo>(0, 0, 1, 1, 51, true));
  // Deleting while a hole exists widens it and keeps the length.
  lines.DeleteDrawItem(6);
  EXPECT_EQ(lines.Count(), 10);
  EXPECT_EQ(lines.HoleStart, 6);
  EXPECT_EQ(lines.HoleCount, 2);
  lines.DropReserved();
  ASSERT_EQ(lines.Count(), 8);
  EXPECT_EQ(lines[5]->ItemNo, 50);
  EXPECT_EQ(lines[6]->ItemNo, 8);
  // Without a hole an insertion shifts the rest.
  lines.InsertDrawItem(1, std::make_unique<TRVDrawLineInfo>(0, 0, 1, 1, 99, true));
  EXPECT_EQ(lines.Count(), 9);
  EXPECT_EQ(lines[2]->ItemNo, 1);
}

TEST(DrawLinesTest, MisspellingZigzag) {
  struct Case {
    int32_t width;
    size_t points;
    int32_t last_x;
  };
  const Case cases[] = {{2, 0, 0}, {3, 2, 13}, {3000, 1024, 3010}};
  for (const Case& c : cases) {
    TRecordingCanvas canvas;
    RVDrawMisspelling(canvas, TRect{10, 0, 10 + c.width, 20}, clRed);
    const auto calls = canvas.Calls("Polyline");
    if (c.points == 0) {
      EXPECT_TRUE(calls.empty());
      continue;
    }
    ASSERT_EQ(calls.size(), 1u);
    ASSERT_EQ(calls[0].Args.size(), c.points * 2);
    EXPECT_EQ(calls[0].Args[0], 10);
    EXPECT_EQ(calls[0].Args[1], 18);
    EXPECT_EQ(calls[0].Args[3], 20);
    EXPECT_EQ(calls[0].Args[c.points * 2 - 2], c.last_x);
    EXPECT_EQ(calls[0].Pen.Color, clRed);
    EXPECT_EQ(canvas.Pen().Color, clBlack);
  }
}

TEST_F(FormatTest, PositionsAroundADroppedSpace) {
  TTestDoc doc(&style, 60);
  doc.AddText("aaaa bbbb cccc dddd", 0, 0);
  doc.Format();
  int32_t d = -1, o = -1;
  doc.ItemPosToDrawItemPos(0, 11, d, o);  // after the dropped space
  EXPECT_EQ(d, 1);
  EXPECT_EQ(o, 1);
  doc.ItemPosToDrawItemPos(0, 10, d, o);  // before it
  EXPECT_EQ(d, 0);
  EXPECT_EQ(o, 10);
  int32_t item = -1, offs = -1;
  doc.DrawItemPosToItemPos(1, 3, item, offs);
  EXPECT_EQ(item, 0);
  EXPECT_EQ(offs, 13);
  // Points: strictly between lines there is nothing; otherwise the nearest stop.
  doc.FindDrawItemAtPos(10, 14, d, o, false);
  EXPECT_EQ(d, 1);
  EXPECT_EQ(o, 2);
  doc.FindDrawItemAtPos(200, 3, d, o, true);
  EXPECT_EQ(d, -1);
  EXPECT_EQ(doc.FindDrawItemByY(20, 1), 0);
}

TEST_F(FormatTest, PartialReformatKeepsOtherParagraphsAndInvalidatesOnlyItsOwn) {
  TTestDoc doc(&style, 60);
  doc.AddText("aaaa", 0, 0);
  doc.AddText("bbbb bbbb cc", 0, 0);
  doc.AddText("dddd", 0, 0);
  doc.Format();
  ASSERT_EQ(doc.DrawLines.Count(), 4);
  TRVDrawLineInfo* first = doc.DrawLines[0];
  TRVDrawLineInfo* last = doc.DrawLines[3];
  const int32_t height = doc.DocumentHeight;
  // A same-height edit of the middle paragraph.
  doc.Items().Put(1, "cccc cccc bb");
  doc.Invalidated.clear();
  doc.FormatParasExact(1, 2, 0, false, false);
  ASSERT_EQ(doc.DrawLines.Count(), 4);
  EXPECT_EQ(doc.DrawLines[0], first);
  EXPECT_EQ(doc.DrawLines[3], last);
  EXPECT_EQ(last->Top, 39);
  EXPECT_EQ(doc.DocumentHeight, height);
  ASSERT_EQ(doc.Invalidated.size(), 1u);
  EXPECT_EQ(doc.Invalidated[0], (TRect{0, 13 - 10, 60, 39 + 10}));
  // A taller edit moves the following paragraph down.
  doc.Items().Put(1, "cccc cccc cccc cccc cc");
  doc.FormatParasExact(1, 2, 0, false, false);
  ASSERT_EQ(doc.DrawLines.Count(), 5);
  EXPECT_EQ(doc.DrawLines[4], last);
  EXPECT_EQ(doc.GetItem(2)->DrawItemNo, 4);
  EXPECT_EQ(last->Top, 52);
  EXPECT_EQ(doc.DocumentHeight, height + 13);
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

TEST(FormatTailTest, AppendingKeepsEarlierDrawItemsAndContinuesAtTheOldBottom) {
  TRVStyle style(nullptr);
  style.ParaStyles()->Items(0)->SpaceAfter = 3;
  viewtest::TTestDoc doc(&style, 100);
  doc.AddText("first", 0, 0);
  doc.Format();
  TRVDrawLineInfo* first = doc.DrawLines[0];
  doc.AddText("second", 0, 0);
  doc.FormatDocument(false, true, false, 0, &doc.Canvas, true, false, false);
  ASSERT_EQ(doc.DrawLines.Count(), 2);
  EXPECT_EQ(doc.DrawLines[0], first);
  EXPECT_EQ(doc.DrawLines[1]->Top, 13 + 3);
  EXPECT_EQ(doc.DocumentHeight, 13 + 3 + 13 + 3);
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

// An inline item of a given size and vertical alignment.
class TBoxItem : public TRVRectItemInfo {
 public:
  TBoxItem(TCustomRVData* d, int32_t w, int32_t h, uint8_t valign) : TRVRectItemInfo(d), w_(w), h_(h), valign_(valign) {
    StyleNo = -203;
    ParaNo = -1;
  }
  int32_t GetWidth() const override { return w_; }
  int32_t GetHeight() const override { return h_; }
  uint8_t GetVAlign() const override { return valign_; }

 private:
  int32_t w_, h_;
  uint8_t valign_;
};

TEST(InlineItemTest, VerticalAlignmentsInTheLine) {
  struct Case {
    const char* name;
    uint8_t valign;
    int32_t box_top;   // of the 30 px box
    int32_t text_top;  // of "ab"
    int32_t next_top;  // of the next paragraph
    int32_t extra_below;
  };
  // Text: ascent 10, descent 3. Baseline: the box's bottom pixel is below the baseline.
  const Case cases[] = {
      {"baseline", 0, 0, 19, 32, 0},
      {"middle", 1, 0, 5, 30, 0},
      // Line top: the text stays, the box hangs below it; the extra is the line's Extra,
      // not ExtraSpaceBelow.
      {"line top", 2, 0, 0, 30, 0},
      {"line bottom", 3, 0, 17, 30, 0},
      {"line middle", 4, 0, 8, 30, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TRVStyle style(nullptr);
    viewtest::TTestDoc doc(&style, 200);
    doc.AddText("ab", 0, 0);
    doc.AddItem("", new TBoxItem(&doc, 10, 30, c.valign));
    doc.AddText("next", 0, 0);
    doc.Format();
    ASSERT_EQ(doc.DrawLines.Count(), 3);
    EXPECT_EQ(doc.DrawLines[1]->Top, c.box_top);
    EXPECT_EQ(doc.DrawLines[0]->Top, c.text_top);
    EXPECT_EQ(doc.DrawLines[2]->Top, c.next_top);
    EXPECT_EQ(doc.DrawLines[0]->ExtraSpaceBelow, c.extra_below);
  }
}

TEST(InlineItemTest, AWideItemStartsANewLineButNeverAfterAMarkerOrInNoWrap) {
  TRVStyle style(nullptr);
  viewtest::TTestDoc doc(&style, 100);
  doc.AddText("abcdefghij", 0, 0);  // 70 px
  doc.AddItem("", new TBoxItem(&doc, 40, 10, 0));
  doc.Format();
  EXPECT_TRUE(doc.DrawLines[1]->FromNewLine);
  EXPECT_EQ(doc.DrawLines[1]->Left, 0);
  style.ParaStyles()->Items(0)->Options.Include(rvpaoNoWrap);
  doc.Format();
  EXPECT_FALSE(doc.DrawLines[1]->FromNewLine);
  EXPECT_EQ(doc.DrawLines[1]->Left, 70);
}

}  // namespace
}  // namespace pelvar
