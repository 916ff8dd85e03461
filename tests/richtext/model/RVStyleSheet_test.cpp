// The style sheet component: its default styles, its CSS style sheet against a golden file,
// merging of collections, its drawing wrappers and events on the recording canvas, text-style
// painting (fitting, spacing, colours per state and print mode) and its component streaming.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/filer.h"
#include "richtext/model/RVStyle.h"

namespace pelvar {
namespace {

std::string Contents(TMemoryStream& m) {
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

std::string ReadFixture(const std::string& name) {
  std::ifstream in(std::string(PELVAR_SOURCE_DIR) + "/tests/richtext/model/fixtures/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(StyleSheetTest, NewSheetHasSixTextStylesAndTwoParagraphStyles) {
  TRVStyle style(nullptr);
  ASSERT_EQ(style.TextStyles()->Count(), 6);
  ASSERT_EQ(style.ParaStyles()->Count(), 2);
  const char* names[] = {"Normal text", "Heading", "Subheading", "Keywords", "Jump 1", "Jump 2"};
  for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(style.TextStyles()->Items(i)->StyleName, names[i]);
  EXPECT_EQ(style.TextStyles()->Items(1)->Color, static_cast<TColor>(0xFF0000));
  EXPECT_EQ(style.TextStyles()->Items(1)->Style, TFontStyles{fsBold});
  EXPECT_EQ(style.TextStyles()->Items(3)->Style, TFontStyles{fsItalic});
  EXPECT_TRUE(style.TextStyles()->Items(4)->Jump);
  EXPECT_EQ(style.TextStyles()->Items(5)->JumpCursor, crJump);
  EXPECT_EQ(style.ParaStyles()->Items(0)->StyleName, "Paragraph Style");
  EXPECT_EQ(style.ParaStyles()->Items(1)->StyleName, "Centered");
  EXPECT_EQ(style.ParaStyles()->Items(1)->Alignment, rvaCenter);
  EXPECT_EQ(style.Color, clWindow);
  EXPECT_EQ(style.SpacesInTab, 0);
  EXPECT_EQ(style.DefTabWidth, 48);
  EXPECT_EQ(style.LineSelectCursor, 106);
  EXPECT_EQ(style.SelectionMode, rvsmWord);

  // Assigning a collection to itself changes nothing; another one is copied.
  style.SetTextStyles(style.TextStyles());
  EXPECT_EQ(style.TextStyles()->Count(), 6);
  TRVStyle other(nullptr);
  other.TextStyles()->Delete(5);
  style.SetTextStyles(other.TextStyles());
  EXPECT_EQ(style.TextStyles()->Count(), 5);
}

TEST(StyleSheetTest, CssOfANewSheetEqualsTheGoldenFile) {
  TRVStyle style(nullptr);
  TMemoryStream m;
  style.WriteCSS(m, 0);
  const std::string css = Contents(m);
  EXPECT_EQ(css, ReadFixture("new_sheet.css"));
  EXPECT_NE(css.find("body, table /* Normal text */"), std::string::npos);
  EXPECT_NE(css.find("a.rvts4, span.rvts4 /* Jump 1 */"), std::string::npos);
  EXPECT_EQ(css.find(":hover"), std::string::npos);

  // A hover colour on the sheet gives the link styles a hover rule.
  style.HoverColor = clRed;
  TMemoryStream h;
  style.WriteCSS(h, rvcssNoDefaultSelectors);
  const std::string hover = Contents(h);
  EXPECT_NE(hover.find("a.rvts4:hover { color: #ff0000; }\r\n"), std::string::npos);
  EXPECT_NE(hover.find("span.rvts0 /* Normal text */"), std::string::npos);
  EXPECT_NE(hover.find(".rvps0 /* Paragraph Style */"), std::string::npos);
}

TEST(StyleSheetTest, MergingMapsEqualStylesAndClosestStyles) {
  TRVStyle a(nullptr), b(nullptr);
  TRVIntegerList mapping;
  a.TextStyles()->MergeStyles(b.TextStyles(), 0, mapping, nullptr);
  ASSERT_EQ(mapping.Count(), 6);
  for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(mapping.GetItem(i), i);
  EXPECT_EQ(a.TextStyles()->Count(), 6);

  TFontInfos empty;
  TRVIntegerList closest;
  empty.MergeStyles(b.TextStyles(), 1, closest, nullptr);
  ASSERT_EQ(closest.Count(), 6);
  for (int32_t i = 0; i < 6; ++i) EXPECT_EQ(closest.GetItem(i), -1);
}

TEST(StyleSheetTest, DrawingWrappersFireEventsAndDefaultFigures) {
  TRVStyle style(nullptr);
  TRecordingCanvas canvas;

  // A handler that suppresses the default leaves the canvas font as it made it.
  style.OnApplyStyle = [](TRVStyle*, TCanvas& c, int32_t, bool& do_default) {
    c.Font().SetName("Courier");
    do_default = false;
  };
  style.ApplyStyle(canvas, 1, rvbdUnspecified, false);
  EXPECT_EQ(canvas.Font().Name(), "Courier");
  style.OnApplyStyle = nullptr;
  style.ApplyStyle(canvas, 1, rvbdUnspecified, false);
  EXPECT_EQ(canvas.Font().Name(), "Arial");
  EXPECT_TRUE(canvas.Font().Style().Contains(fsBold));

  // Text backgrounds have no default drawing.
  canvas.ClearLog();
  style.DrawTextBack(canvas, 0, 0, nullptr, 0, 0, 10, 10, {});
  EXPECT_TRUE(canvas.Log().empty());

  // A checkpoint of the document end draws only the dotted line.
  style.DrawCheckpoint(canvas, 50, 20, 10, 100, nullptr, -1, 0, false, nullptr);
  EXPECT_TRUE(canvas.Calls("Ellipse").empty());
  ASSERT_EQ(canvas.Calls("LineTo").size(), 1u);
  EXPECT_EQ(canvas.Calls("LineTo")[0].Pen.Style, psDot);
  EXPECT_EQ(canvas.Calls("LineTo")[0].Pen.Color, clGreen);
  canvas.ClearLog();
  style.DrawCheckpoint(canvas, 50, 20, 10, 100, nullptr, 3, 4, true, nullptr);
  ASSERT_EQ(canvas.Calls("Ellipse").size(), 1u);
  EXPECT_EQ(canvas.Calls("Ellipse")[0].Args, (std::vector<int32_t>{48, 18, 52, 22}));
  EXPECT_EQ(canvas.Calls("Ellipse")[0].Pen.Color, clLime);

  // Page break: a line and a triangle at the right edge.
  canvas.ClearLog();
  style.DrawPageBreak(canvas, 30, 0, rvpbPageBreak, nullptr, 200);
  ASSERT_EQ(canvas.Calls("Polygon").size(), 1u);
  EXPECT_EQ(canvas.Calls("Polygon")[0].Args, (std::vector<int32_t>{192, 30, 200, 38, 192, 38}));
  EXPECT_EQ(canvas.Calls("Polygon")[0].Pen.Color, clBtnShadow);
}

TEST(StyleSheetTest, HoverSensitivity) {
  TRVStyle style(nullptr);
  EXPECT_FALSE(style.IsStyleHoverSensitive(4));
  style.TextStyles()->Items(4)->HoverBackColor = clYellow;
  EXPECT_TRUE(style.IsStyleHoverSensitive(4));
  style.TextStyles()->Items(4)->HoverBackColor = clNone;
  style.HoverColor = clRed;
  EXPECT_TRUE(style.IsStyleHoverSensitive(4));
  style.OnStyleHoverSensitive = [](TRVStyle*, int32_t, bool& s) { s = false; };
  EXPECT_FALSE(style.IsStyleHoverSensitive(4));
}

// Printing with preview correction spreads the missing pixels over the characters from the
// first on: 7 extra pixels over 3 characters give +2, +2, +3.
TEST(TextStylePaintTest, FittingSpreadsTheDifferenceFromTheFirstCharacter) {
  TRVStyle style(nullptr);
  TRecordingCanvas canvas;
  TFontInfo* f = style.TextStyles()->Items(0);
  f->ApplyToCanvas(canvas, rvbdUnspecified, false);
  const int32_t natural = canvas.TextWidth("abc");
  std::vector<int32_t> adv;
  {
    std::vector<int32_t> ext;
    int32_t fit = 0;
    canvas.GetTextExtentExPoint("abc", 1000, &fit, &ext);
    adv = {ext[0], ext[1] - ext[0], ext[2] - ext[1]};
  }
  canvas.ClearLog();
  f->Draw("abc", canvas, 0, 0, 10, 20, natural + 7, 16, &style, {}, true, true, 0, rvbdUnspecified);
  auto calls = canvas.Calls("ExtTextOut");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].Dx, (std::vector<int32_t>{adv[0] + 2, adv[1] + 2, adv[2] + 3}));

  // Natural width already right, or one character: the plain text call.
  canvas.ClearLog();
  f->Draw("abc", canvas, 0, 0, 10, 20, natural, 16, &style, {}, true, true, 0, rvbdUnspecified);
  EXPECT_TRUE(canvas.Calls("ExtTextOut").empty());
  EXPECT_EQ(canvas.Calls("TextOut").size(), 1u);
  canvas.ClearLog();
  f->Draw("a", canvas, 0, 0, 10, 20, 99, 16, &style, {}, true, true, 0, rvbdUnspecified);
  EXPECT_TRUE(canvas.Calls("ExtTextOut").empty());
}

TEST(TextStylePaintTest, FontScalingSpacingAndColours) {
  TRVStyle style(nullptr);
  TRecordingCanvas canvas;
  TFontInfo* f = style.TextStyles()->Items(0);
  f->ApplyToCanvas(canvas, rvbdUnspecified, false);
  EXPECT_EQ(canvas.Font().Width(), 0);  // CharScale 100 makes no font of its own
  const int32_t ave = canvas.GetTextMetrics().tmAveCharWidth;
  f->CharScale = 50;
  f->ApplyToCanvas(canvas, rvbdUnspecified, false);
  EXPECT_EQ(canvas.Font().Width(), ave * 50 / 100);

  // Character spacing applies only to text of unspecified reading order.
  f->CharScale = 100;
  f->CharSpacing = 3;
  f->ApplyToCanvas(canvas, rvbdUnspecified, false);
  EXPECT_EQ(canvas.TextCharacterExtra(), 3);
  f->BiDiMode = rvbdRightToLeft;
  f->ApplyToCanvas(canvas, rvbdUnspecified, false);
  EXPECT_EQ(canvas.TextCharacterExtra(), 0);
  EXPECT_EQ(canvas.TextAlign(), TA_RTLREADING);

  // A fixed resolution for font heights.
  f->BiDiMode = rvbdUnspecified;
  style.TextStyles()->PixelsPerInch = 144;
  f->ApplyToCanvas(canvas, rvbdUnspecified, true);
  EXPECT_EQ(canvas.Font().Height(), -20);

  struct Case {
    TRVTextDrawStates state;
    bool printing;
    int32_t mode;
    TColor color, back, text, brush;
    TBrushStyle brush_style;
  } cases[] = {
      {{rvtsSelected, rvtsControlFocused}, false, 0, clRed, clNone, clHighlightText, clHighlight, bsSolid},
      {{rvtsHover}, false, 0, clRed, clNone, clRed, clNone, bsClear},
      {{}, true, 3, clYellow, clNavy, clWhite, clBlack, bsSolid},
      {{}, true, 3, clNavy, clYellow, clBlack, clWhite, bsSolid},
      {{}, true, 3, clWhite, clNone, clWhite, clNone, bsClear},
      {{}, true, 4, clRed, clYellow, clBlack, clNone, bsClear},
      {{}, true, 2, clRed, clNone, RGB(76, 76, 76), clNone, bsClear},
  };
  for (const Case& c : cases) {
    f->Color = c.color;
    f->BackColor = c.back;
    f->ApplyColor(canvas, &style, c.state, c.printing, c.mode);
    EXPECT_EQ(canvas.Font().Color(), c.text) << std::hex << c.color << " " << c.mode;
    EXPECT_EQ(canvas.Brush().Style(), c.brush_style) << std::hex << c.color << " " << c.mode;
    if (c.brush_style == bsSolid) {
      EXPECT_EQ(canvas.Brush().Color(), c.brush) << std::hex << c.color;
    }
  }
}

TEST(TextStylePaintTest, SpecialCharacterMarksAndTheGapBeforeText) {
  TRVStyle style(nullptr);
  TRecordingCanvas canvas;
  TFontInfo* f = style.TextStyles()->Items(0);
  f->ApplyToCanvas(canvas, rvbdUnspecified, false);
  canvas.ClearLog();
  f->Draw("a b", canvas, 0, 0, 0, 0, 100, 16, &style, {rvtsSpecialCharacters}, false, false, 0, rvbdUnspecified);
  auto outs = canvas.Calls("TextOutW");
  ASSERT_EQ(outs.size(), 1u);  // the mark
  EXPECT_EQ(outs[0].Text, u"\u00B7");

  const uint8_t saved = ShownSpecialCharacters;
  ShownSpecialCharacters = 0;
  canvas.ClearLog();
  f->Draw("a b", canvas, 0, 0, 0, 0, 100, 16, &style, {rvtsSpecialCharacters}, false, false, 0, rvbdUnspecified);
  EXPECT_TRUE(canvas.Calls("TextOutW").empty());
  ShownSpecialCharacters = saved;

  // A selected empty piece fills its gap in the unselected background.
  f->BackColor = clYellow;
  canvas.Brush().SetColor(clHighlight);
  canvas.ClearLog();
  f->Draw("", canvas, 0, 6, 10, 0, 20, 16, &style, {rvtsSelected}, false, false, 0, rvbdUnspecified);
  auto fills = canvas.Calls("FillRect");
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].Args, (std::vector<int32_t>{10, 0, 16, 16}));
  EXPECT_EQ(fills[0].Brush.Color(), clYellow);
}

TEST(StyleSheetStreamingTest, StylesStreamAndReadBack) {
  RegisterClass<TRVStyle>("TRVStyle");
  TRVStyle style(nullptr);
  style.SetName("Sheet");
  style.SpacesInTab = 4;
  TFontInfo* f = style.TextStyles()->Items(2);
  f->Protection = {rvprStickToBottom, rvprModifyProtect};
  f->ModifiedProperties = {rvfiColor};
  f->BiDiMode = rvbdRightToLeft;
  TParaInfo* p = style.ParaStyles()->Items(1);
  p->Border().Style = rvbDouble;
  p->Border().VisibleBorders().Top = false;
  p->Background().BorderOffsets().Left = 7;
  p->Tabs().Add()->SetPosition(40);
  p->ModifiedProperties2 = {rvpiTabs};

  TMemoryStream m;
  WriteComponentToStream(m, &style);
  const std::string bytes = Contents(m);
  // Defaults stay out; names of styles are always written.
  EXPECT_EQ(bytes.find("DefTabWidth"), std::string::npos);
  EXPECT_NE(bytes.find("Normal text"), std::string::npos);
  EXPECT_NE(bytes.find("Border.VisibleBorders.Top"), std::string::npos);

  m.SetPosition(0);
  std::unique_ptr<TComponent> read(ReadComponentFromStream(m, nullptr));
  auto* back = dynamic_cast<TRVStyle*>(read.get());
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->SpacesInTab, 4);
  ASSERT_EQ(back->TextStyles()->Count(), 6);
  EXPECT_TRUE(back->TextStyles()->Items(2)->SameProperties(f, false, false));
  EXPECT_EQ(back->TextStyles()->Items(2)->StyleName, "Subheading");
  ASSERT_EQ(back->ParaStyles()->Count(), 2);
  EXPECT_TRUE(back->ParaStyles()->Items(1)->SameProperties(p, false, false));
  EXPECT_EQ(back->ParaStyles()->Items(1)->Tabs().Items(0)->Position(), 40);
  UnRegisterClass("TRVStyle");
}

TEST(StyleSheetStreamingTest, OldSingleSymbolsIsReadIntoProtection) {
  TFontInfos infos;
  TFontInfo* f = infos.Add();
  std::string bytes = std::string(1, 13) + "SingleSymbols" + std::string(1, 9) + std::string(1, 0);
  TMemoryStream m;
  m.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  m.SetPosition(0);
  TReader r(m);
  r.ReadProperties(f);
  EXPECT_EQ(f->Protection, (TRVProtectOptions{rvprStyleProtect, rvprDoNotAutoSwitch}));
}

}  // namespace
}  // namespace pelvar
