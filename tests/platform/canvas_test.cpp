#include "platform/canvas.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/graphics.h"

namespace pelvar {
namespace {

TEST(Graphics, ColourValuesAndSystemColours) {
  // The signed values the style INI files hold.
  EXPECT_EQ(clWindowText, -16777208);
  EXPECT_EQ(clNone, 536870911);
  struct Case {
    TColor color;
    TColor rgb;
  } cases[] = {
      {clWindowText, 0},          {clWindow, 0xFFFFFF},          {clBtnFace, RGB(212, 208, 200)},
      {clBtnShadow, 0x808080},    {clHighlight, RGB(10, 36, 106)}, {clRed, 0x0000FF},
      {clNone, clNone},           {RGB(1, 2, 3), 0x030201},      {SystemColor(99), 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ColorToRGB(c.color), c.rgb) << std::hex << c.color;
  EXPECT_EQ(GetRValue(clRed), 255);
  EXPECT_EQ(GetBValue(clBlue), 255);
}

TEST(Graphics, MulDivRoundsHalfAwayFromZero) {
  struct Case {
    int32_t n, num, den, want;
  } cases[] = {
      {10, 96, 72, 13},  {-10, 96, 72, -13}, {7, 1, 2, 4},  {-7, 1, 2, -4}, {5, 3, -2, -8},
      {1, 1, 0, -1},     {2000000000, 2, 1, -1},            {12, 72, 96, 9},
  };
  for (const Case& c : cases) EXPECT_EQ(MulDiv(c.n, c.num, c.den), c.want) << c.n << " " << c.num << " " << c.den;
}

TEST(Graphics, RectangleHelpers) {
  TRect r = Bounds(10, 20, 30, 40);
  EXPECT_EQ(r, Rect(10, 20, 40, 60));
  EXPECT_TRUE(PtInRect(r, Point(10, 20)));
  EXPECT_FALSE(PtInRect(r, Point(40, 20)));  // right edge is outside
  EXPECT_FALSE(PtInRect(r, Point(10, 60)));
  TRect i;
  EXPECT_TRUE(IntersectRect(i, r, Rect(0, 0, 15, 25)));
  EXPECT_EQ(i, Rect(10, 20, 15, 25));
  EXPECT_FALSE(IntersectRect(i, r, Rect(40, 0, 50, 100)));
  EXPECT_EQ(i, TRect{});
  InflateRect(r, 1, 2);
  EXPECT_EQ(r, Rect(9, 18, 41, 62));
  OffsetRect(r, -9, -18);
  EXPECT_EQ(r.TopLeft(), Point(0, 0));
  EXPECT_TRUE(IsRectEmpty(Rect(5, 5, 5, 10)));
}

TEST(Graphics, FontSizeAndHeightAreOneValue) {
  TFont f;
  int changes = 0;
  f.OnChange = [&](TFont&) { ++changes; };
  f.SetSize(10);
  EXPECT_EQ(f.Height(), -13);
  EXPECT_EQ(f.Size(), 10);
  f.SetHeight(-16);
  EXPECT_EQ(f.Size(), 12);
  f.SetHeight(-16);  // unchanged: no event
  EXPECT_EQ(changes, 2);

  f.SetName("Times New Roman");
  f.SetStyle({fsBold, fsUnderline});
  f.SetCharset(EASTEUROPE_CHARSET);
  TLogFont lf = f.LogFont();
  EXPECT_EQ(lf.lfHeight, -16);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_EQ(lf.lfUnderline, 1);
  EXPECT_EQ(lf.lfItalic, 0);
  EXPECT_EQ(lf.lfCharSet, 238);
  lf.lfWidth = 4;
  lf.lfFaceName = std::string(40, 'x');
  TFont g;
  g.SetColor(clRed);
  g.AssignLogFont(lf);
  EXPECT_EQ(g.Name().size(), 31u);
  EXPECT_EQ(g.Width(), 4);
  EXPECT_EQ(g.Style(), (TFontStyles{fsBold, fsUnderline}));
  EXPECT_EQ(g.Color(), clRed);  // a logical font has no colour
}

TEST(Graphics, BrushColourMakesAClearBrushSolid) {
  TBrush b;
  b.SetStyle(bsClear);
  b.SetColor(clYellow);
  EXPECT_EQ(b.Style(), bsSolid);
  b.SetStyle(bsClear);
  EXPECT_EQ(b.Color(), clYellow);
}

TEST(SyntheticFont, FixedMeasures) {
  TSyntheticTextMetrics m;
  TFont f;
  f.SetSize(10);  // em 13
  TTextMetric tm = m.GetTextMetrics(f);
  EXPECT_EQ(tm.tmHeight, 13);
  EXPECT_EQ(tm.tmAscent, 10);
  EXPECT_EQ(tm.tmDescent, 3);
  EXPECT_EQ(tm.tmAveCharWidth, 6);
  EXPECT_EQ(m.GetAdvances(f, u"a\u00A0\u200B"), (std::vector<int32_t>{6, 6, 6}));
  m.SetAdvance(u' ', 2);
  EXPECT_EQ(m.GetAdvances(f, u"a b"), (std::vector<int32_t>{6, 2, 6}));
  f.SetWidth(3);  // a logical font with a width asks for narrower characters
  EXPECT_EQ(m.GetAdvances(f, u"ab"), (std::vector<int32_t>{3, 3}));
  f.SetHeight(20);  // a positive height is the cell height
  TOutlineTextMetric otm;
  ASSERT_TRUE(m.GetOutlineTextMetrics(f, otm));
  EXPECT_EQ(otm.otmTextMetrics.tmHeight, 20);
  EXPECT_EQ(otm.otmsUnderscoreSize, 2);
  EXPECT_EQ(otm.otmsUnderscorePosition, -3);
}

TEST(Charsets, NarrowTextFollowsTheFontCharset) {
  const std::string f8 = "\xF8";
  EXPECT_EQ(CharsetTextToWide(f8, DEFAULT_CHARSET), u"\u0159");     // ř, the process's 1250
  EXPECT_EQ(CharsetTextToWide(f8, EASTEUROPE_CHARSET), u"\u0159");  // ř
  EXPECT_EQ(CharsetTextToWide(f8, ANSI_CHARSET), u"\u00F8");        // ø, 1252
  EXPECT_EQ(CharsetTextToWide("\xC0", RUSSIAN_CHARSET), u"\u0410");  // А, 1251
  EXPECT_EQ(CharsetTextToWide("\xB7", SYMBOL_CHARSET), u"\u00B7");
  EXPECT_EQ(CharsetToCodePage(OEM_CHARSET), 1);
  EXPECT_EQ(CharsetToCodePage(DEFAULT_CHARSET), 0);
}

TEST(RecordingCanvas, LogsCallsWithTheToolsInForce) {
  TRecordingCanvas c;
  c.Pen().Color = clRed;
  c.Pen().Width = 2;
  c.MoveTo(1, 2);
  c.LineTo(30, 2);
  c.Brush().SetColor(clYellow);
  c.FillRect(Rect(0, 0, 5, 5));
  c.Brush().SetStyle(bsClear);
  c.Font().SetName("Arial");
  c.Font().SetStyle({fsBold});
  c.TextOut(4, 5, CZ("Kůň"));
  std::vector<int32_t> dx{7, 8};
  c.ExtTextOutW(1, 1, ETO_CLIPPED, nullptr, u"ab", &dx);

  EXPECT_EQ(c.LogText(),
            "MoveTo(1,2)\n"
            "LineTo(30,2)\n"
            "FillRect(0,0,5,5)\n"
            "TextOut(4,5,\"Kůň\")\n"
            "ExtTextOutW(1,1,4,\"ab\",[7,8])\n");
  const auto& log = c.Log();
  EXPECT_EQ(log[1].Pen.Color, clRed);
  EXPECT_EQ(log[1].Pen.Width, 2);
  EXPECT_EQ(log[2].Brush.Color(), clYellow);
  EXPECT_EQ(log[2].Brush.Style(), bsSolid);
  EXPECT_EQ(log[3].Brush.Style(), bsClear);
  EXPECT_TRUE(log[3].Font.Style().Contains(fsBold));
  EXPECT_EQ(log[3].Text, u"Kůň");
  EXPECT_EQ(c.Calls("LineTo").size(), 1u);
  EXPECT_EQ(c.PenPos(), Point(30, 2));
}

TEST(RecordingCanvas, MeasuresWithTheSyntheticFont) {
  TRecordingCanvas c;
  c.Font().SetSize(10);  // advance 6, height 13
  EXPECT_EQ(c.TextExtent("abc"), (TSize{18, 13}));
  EXPECT_EQ(c.TextWidth(""), 0);
  c.SetTextCharacterExtra(2);
  EXPECT_EQ(c.TextExtentW(u"abc").cx, 24);
  int32_t fit = -1;
  std::vector<int32_t> extents;
  TSize s = c.GetTextExtentExPointW(u"abcd", 17, &fit, &extents);
  EXPECT_EQ(s.cx, 32);
  EXPECT_EQ(fit, 2);  // 8, 16 fit; 24 does not
  EXPECT_EQ(extents, (std::vector<int32_t>{8, 16, 24, 32}));
  s = c.GetTextExtentExPoint("", 10, &fit, &extents);
  EXPECT_EQ(fit, 0);
  EXPECT_TRUE(extents.empty());
  std::vector<int32_t> order, advances;
  std::vector<uint8_t> classes;
  s = c.GetCharacterPlacementW(u"ab c", &order, &classes, &advances);
  EXPECT_EQ(s.cx, 32);
  EXPECT_EQ(order, (std::vector<int32_t>{0, 1, 2, 3}));
  EXPECT_EQ(advances, (std::vector<int32_t>{8, 8, 8, 8}));
  EXPECT_EQ(classes, (std::vector<uint8_t>(4, GCPCLASS_LATIN)));
  EXPECT_EQ(c.SetTextCharacterExtra(0), 2);
  TOutlineTextMetric otm;
  EXPECT_TRUE(c.GetOutlineTextMetrics(otm));
  EXPECT_EQ(c.GetTextMetrics().tmAscent, 10);
}

TEST(RecordingCanvas, ClipOriginAndSavedStates) {
  TRecordingCanvas c(200, 100);
  EXPECT_EQ(c.ClipRect(), Rect(0, 0, 200, 100));
  EXPECT_EQ(c.GetDeviceCaps(LOGPIXELSY), 96);
  EXPECT_EQ(c.GetDeviceCaps(HORZRES), 200);
  const int32_t level = c.SaveDC();
  c.IntersectClipRect(Rect(10, 10, 50, 50));
  c.SetWindowOrg(-10, -10);  // logical (0, 0) shows at device (10, 10)
  c.SetTextCharacterExtra(3);
  EXPECT_EQ(c.ClipRect(), Rect(0, 0, 40, 40));
  c.IntersectClipRect(Rect(-100, 20, 100, 100));
  EXPECT_EQ(c.ClipRect(), Rect(0, 20, 40, 40));
  c.SaveDC();
  c.SetWindowOrg(0, 0);
  EXPECT_TRUE(c.RestoreDC(-1));
  EXPECT_EQ(c.WindowOrg(), Point(-10, -10));
  EXPECT_TRUE(c.RestoreDC(level));
  EXPECT_EQ(c.WindowOrg(), Point(0, 0));
  EXPECT_EQ(c.ClipRect(), Rect(0, 0, 200, 100));
  EXPECT_EQ(c.TextCharacterExtra(), 0);
  EXPECT_FALSE(c.RestoreDC(1));  // nothing saved any more
  c.IntersectClipRect(Rect(300, 300, 400, 400));
  EXPECT_TRUE(IsRectEmpty(c.ClipRect()));
}

class FakeGraphic : public TGraphic {
 public:
  FakeGraphic(int32_t w, int32_t h) : w_(w), h_(h) {}
  int32_t Width() const override { return w_; }
  int32_t Height() const override { return h_; }
  void Draw(TCanvas&, const TRect& rect) override { drawn.push_back(rect); }
  std::vector<TRect> drawn;

 private:
  int32_t w_, h_;
};

TEST(RecordingCanvas, PicturesDrawThemselves) {
  TRecordingCanvas c;
  FakeGraphic g(16, 8), empty(0, 0);
  c.Draw(3, 4, &g);
  c.StretchDraw(Rect(0, 0, 32, 32), &g);
  c.Draw(0, 0, &empty);
  c.Draw(0, 0, nullptr);
  EXPECT_EQ(g.drawn, (std::vector<TRect>{Rect(3, 4, 19, 12), Rect(0, 0, 32, 32)}));
  EXPECT_TRUE(empty.drawn.empty());
  EXPECT_EQ(c.LogText(), "Draw(3,4,16,8)\nStretchDraw(0,0,32,32)\nDraw(0,0,0,0)\n");
}

// A size read from a file's header is multiplied in a wide type: 50,000 x 50,000 is refused
// (not an overflowed count), while the largest allowed size and empty sizes work.
TEST(PixelImage, SizesAreCheckedInAWideType) {
  for (auto [w, h] : {std::pair{50000, 50000}, std::pair{65535, 65535}, std::pair{2147483647, 2}})
    EXPECT_THROW(TPixelImage(w, h), EOutOfResources) << w << " x " << h;
  for (auto [w, h, n] : {std::tuple{0, 5, 0}, std::tuple{-3, 4, 0}, std::tuple{3, -4, 0}, std::tuple{3, 4, 12}}) {
    const TPixelImage image(w, h);
    EXPECT_EQ(image.Pixels.size(), static_cast<size_t>(n)) << w << " x " << h;
  }
  TPixelImage wide(70000, 2, 0xFF000000u);
  wide.Set(69999, 1, 0xFFFF0000u);
  EXPECT_EQ(wide.At(69999, 1), 0xFFFF0000u);
  EXPECT_EQ(wide.Pixels.back(), 0xFFFF0000u);
}

}  // namespace
}  // namespace pelvar
