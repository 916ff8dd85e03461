#include <gtest/gtest.h>

#include <functional>

#include "platform/canvas.h"
#include "richtext/model/RVStyle.h"
#include "tests/support/process.h"

namespace pelvar {
namespace {

TEST(RVRectTest, GeometryAndComparison) {
  TRVRect o;
  o.Left = 1;
  o.Top = 2;
  o.Right = 3;
  o.Bottom = 4;
  TRect r{10, 20, 30, 40};
  o.InflateRect(r);
  EXPECT_EQ(r, (TRect{9, 18, 33, 44}));
  TRVScreenAndDevice sd;
  sd.ppixDevice = 192;  // twice the screen horizontally, three times vertically
  sd.ppiyDevice = 288;
  r = TRect{10, 20, 30, 40};
  o.InflateRectScaled(r, sd);
  EXPECT_EQ(r, (TRect{8, 14, 36, 52}));
  r = TRect{0, 5, 0, 9};
  o.MaxWith(r);
  EXPECT_EQ(r, (TRect{1, 5, 3, 9}));
  o.AssignToRect(r);
  EXPECT_EQ(r, (TRect{1, 2, 3, 4}));

  TRVRect p;
  p.AssignValidSides(&o, true, false, false, true);
  EXPECT_EQ(p.Left, 1);
  EXPECT_EQ(p.Top, 0);
  EXPECT_EQ(p.Bottom, 4);
  EXPECT_FALSE(p.IsEqual(&o));
  EXPECT_TRUE(p.IsEqualExcept(&o, false, true, true, false));
  p.Assign(&o);
  EXPECT_TRUE(p.IsEqual(&o));
  p.SetAll(7);
  EXPECT_TRUE(p.Top == 7 && p.Left == 7 && p.Right == 7 && p.Bottom == 7);
  EXPECT_EQ(o.Closeness(&p, 100), CalcIntSimilarity(1, 7, 100) + CalcIntSimilarity(2, 7, 100) +
                                      CalcIntSimilarity(3, 7, 100) + CalcIntSimilarity(4, 7, 100));
  EXPECT_GT(o.Closeness(&o, 100), o.Closeness(&p, 100));
}

TEST(RVBooleanRectTest, Operations) {
  TRVBorder border;
  EXPECT_TRUE(border.VisibleBorders().IsAllEqual(true));
  TRVBooleanRect b(false);
  EXPECT_TRUE(b.IsAllEqual(false));
  b.SetValues(true, false, true, false);
  EXPECT_TRUE(b.IsEqualToValues(true, false, true, false));
  EXPECT_TRUE(b.Left && !b.Top && b.Right && !b.Bottom);
  TRVBooleanRect c(true);
  EXPECT_FALSE(c.IsEqual(&b));
  EXPECT_TRUE(c.IsEqualExcept(&b, false, true, false, true));
  c.AssignValidSides(&b, false, true, false, false);
  EXPECT_TRUE(c.IsEqualToValues(true, false, true, true));
  c.Assign(&b);
  EXPECT_TRUE(c.IsEqual(&b));
  c.SetAll(true);
  EXPECT_TRUE(c.IsAllEqual(true));
}

TEST(RVBorderTest, TotalWidth) {
  struct Case {
    TRVBorderStyle style;
    int32_t width, internal, total;
  };
  const Case cases[] = {{rvbNone, 3, 2, 0},        {rvbSingle, 3, 2, 3},      {rvbDouble, 3, 2, 8},
                        {rvbTriple, 1, 2, 7},      {rvbThickInside, 2, 1, 7}, {rvbThickOutside, 1, 4, 7}};
  for (const auto& c : cases) {
    TRVBorder b;
    b.Style = c.style;
    b.Width = c.width;
    b.InternalWidth = c.internal;
    EXPECT_EQ(b.GetTotalWidth(), c.total) << int(c.style);
  }
}

TEST(RVBorderTest, EqualityAndMaskedCopy) {
  TRVBorder a, b;
  EXPECT_TRUE(a.IsEqual(&b));
  b.Color = clRed;  // rvbNone still compares its colour
  EXPECT_FALSE(a.IsEqual(&b));
  EXPECT_TRUE(a.IsEqualExcept(&b, {rvpiBorder_Color}));
  b.BorderOffsets().Top = 4;
  b.VisibleBorders().Left = false;
  EXPECT_FALSE(a.IsEqualExcept(&b, {rvpiBorder_Color}));
  EXPECT_TRUE(a.IsEqualExcept(&b, {rvpiBorder_Color, rvpiBorder_BO_Top, rvpiBorder_Vis_Left}));
  EXPECT_FALSE(a.IsEqualExcept(&b, {rvpiBorder_Color, rvpiBorder_BO_Left, rvpiBorder_Vis_Top}));
  a.AssignValidProperties(&b, {rvpiBorder_BO_Top, rvpiBorder_Vis_Left});
  EXPECT_EQ(a.BorderOffsets().Top, 4);
  EXPECT_FALSE(a.VisibleBorders().Left);
  EXPECT_EQ(a.Color, clWindowText);
  a.Assign(&b);
  EXPECT_TRUE(a.IsEqual(&b));

  TRVBackgroundRect x, y;
  EXPECT_TRUE(x.IsEqual(&y));
  y.Color = clRed;
  y.BorderOffsets().Right = 2;
  EXPECT_FALSE(x.IsEqualExcept(&y, {rvpiBackground_Color}));
  EXPECT_TRUE(x.IsEqualExcept(&y, {rvpiBackground_Color, rvpiBackground_BO_Right}));
  x.AssignValidProperties(&y, {rvpiBackground_Color});
  EXPECT_EQ(x.Color, clRed);
  EXPECT_EQ(x.BorderOffsets().Right, 0);
  x.Assign(&y);
  EXPECT_TRUE(x.IsEqual(&y));
}

TEST(RVBorderTest, Closeness) {
  TRVBorder a, b;
  a.Color = clRed;
  b.Width = 9;
  EXPECT_EQ(a.Closeness(&b), 80000);  // no side shown by either
  a.Style = rvbSingle;
  EXPECT_EQ(a.Closeness(&b), -80000);  // every side shown by one only
  b.Style = rvbSingle;
  b.Color = clRed;
  b.Width = 1;
  const int32_t per_side = CalcColorSimilarity(clRed, clRed, 3333, 3000) + 2 * CalcIntSimilarity(1, 1, 1000) + 1000;
  EXPECT_EQ(a.Closeness(&b), 4 * (per_side + CalcIntSimilarity(0, 0, 100)));
  b.VisibleBorders().Top = false;
  EXPECT_EQ(a.Closeness(&b), 3 * per_side - 20000 + 3 * CalcIntSimilarity(0, 0, 100));

  TRVBackgroundRect x, y;
  EXPECT_EQ(x.Closeness(&y), CalcColorSimilarity(clNone, clNone, 10000, 50000) + 4 * CalcIntSimilarity(0, 0, 100));
}

std::vector<std::string> LineLog(const TRecordingCanvas& canvas) {
  std::vector<std::string> out;
  for (const auto& c : canvas.Log())
    if (c.Op == "MoveTo" || c.Op == "LineTo") out.push_back(c.ToString() + " w" + std::to_string(c.Pen.Width));
  return out;
}

TEST(RVBorderDrawTest, NoneDrawsNothing) {
  TRVBorder b;
  b.Color = clRed;
  b.Width = 3;
  TRecordingCanvas canvas;
  b.Draw(TRect{0, 0, 10, 10}, canvas);
  b.DrawScaled(TRect{0, 0, 10, 10}, canvas, 0, TRVScreenAndDevice{});
  EXPECT_TRUE(canvas.Log().empty());
}

TEST(RVBorderDrawTest, TripleDrawsThreeLinesOutward) {
  TRVBorder b;
  b.Style = rvbTriple;
  b.Width = 1;
  b.InternalWidth = 2;
  b.Color = clRed;
  b.BorderOffsets().SetAll(1);
  TRecordingCanvas canvas;
  b.Draw(TRect{11, 11, 99, 49}, canvas);
  auto log = LineLog(canvas);
  ASSERT_EQ(log.size(), 36u);  // 3 lines x 4 sides x (move + 2 lines)
  const std::vector<std::string> first_line = {
      "MoveTo(10,10) w1",  "LineTo(100,10) w1", "LineTo(10,10) w1",   "MoveTo(100,10) w1",
      "LineTo(100,50) w1", "LineTo(100,10) w1", "MoveTo(100,50) w1",  "LineTo(10,50) w1",
      "LineTo(100,50) w1", "MoveTo(10,50) w1",  "LineTo(10,10) w1",   "LineTo(10,50) w1"};
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 12), first_line);
  EXPECT_EQ(log[12], "MoveTo(7,7) w1");
  EXPECT_EQ(log[13], "LineTo(103,7) w1");
  EXPECT_EQ(log[24], "MoveTo(4,4) w1");
  EXPECT_EQ(log[25], "LineTo(106,4) w1");
  EXPECT_EQ(canvas.Log().back().Pen.Color, clRed);
  EXPECT_EQ(canvas.Log().back().Pen.Style, psInsideFrame);
  EXPECT_EQ(canvas.Pen().Width, 1);
}

TEST(RVBorderDrawTest, ThickVariantsAndHiddenSides) {
  TRVBorder b;
  b.Style = rvbThickOutside;
  b.VisibleBorders().SetValues(false, true, false, true);  // top and bottom only
  TRecordingCanvas canvas;
  b.Draw(TRect{10, 10, 100, 50}, canvas);
  EXPECT_EQ(LineLog(canvas), (std::vector<std::string>{
                                 "MoveTo(10,10) w1", "LineTo(100,10) w1", "LineTo(10,10) w1",
                                 "MoveTo(100,50) w1", "LineTo(10,50) w1", "LineTo(100,50) w1",
                                 // outer line: 2 pixels, grown by 2 and right/bottom by one more
                                 "MoveTo(8,8) w2", "LineTo(103,8) w2", "LineTo(8,8) w2",
                                 "MoveTo(103,53) w2", "LineTo(8,53) w2", "LineTo(103,53) w2"}));
  EXPECT_EQ(canvas.Pen().Width, 1);

  TRVBorder in;
  in.Style = rvbThickInside;
  in.VisibleBorders().SetValues(false, true, false, false);
  TRecordingCanvas c2;
  in.Draw(TRect{10, 10, 100, 50}, c2);
  EXPECT_EQ(LineLog(c2), (std::vector<std::string>{"MoveTo(10,10) w2", "LineTo(100,10) w2", "LineTo(10,10) w2",
                                                   "MoveTo(7,7) w1", "LineTo(102,7) w1", "LineTo(7,7) w1"}));
}

TEST(RVBorderDrawTest, ScaledDrawingAndColourModes) {
  TRVBorder b;
  b.Style = rvbDouble;
  b.Width = 1;
  b.InternalWidth = 1;
  b.Color = clRed;
  b.BorderOffsets().SetAll(2);
  b.VisibleBorders().SetValues(false, true, false, false);
  TRVScreenAndDevice sd;
  sd.ppixDevice = sd.ppiyDevice = 192;
  struct Case {
    int32_t mode;
    TColor pen;
  };
  for (const Case& c : {Case{0, clRed}, Case{1, clRed}, Case{2, RV_GetGrayColor(clRed)}, Case{3, clBlack},
                        Case{4, clBlack}}) {
    TRecordingCanvas canvas;
    b.DrawScaled(TRect{100, 100, 200, 200}, canvas, c.mode, sd);
    auto log = LineLog(canvas);
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[0], "MoveTo(96,96) w2");
    EXPECT_EQ(log[3], "MoveTo(92,92) w2");  // grown by 2 x (1 + 1)
    EXPECT_EQ(canvas.Log().front().Pen.Color, c.pen) << c.mode;
  }
}

TEST(RVBackgroundDrawTest, FillsOnePixelMoreAndSkipsNoneAndBlackModes) {
  TRVBackgroundRect bg;
  bg.BorderOffsets().SetAll(3);
  TRect r{10, 10, 20, 20};
  bg.PrepareDraw(r);
  EXPECT_EQ(r, (TRect{7, 7, 23, 23}));
  TRVScreenAndDevice sd;
  sd.ppixDevice = sd.ppiyDevice = 192;
  r = TRect{10, 10, 20, 20};
  bg.PrepareDrawScaled(r, sd);
  EXPECT_EQ(r, (TRect{4, 4, 26, 26}));

  for (int32_t mode = 0; mode <= 4; ++mode) {
    TRecordingCanvas canvas;
    bg.Draw(TRect{0, 0, 10, 10}, canvas, mode);  // clNone
    EXPECT_TRUE(canvas.Log().empty()) << mode;
  }
  bg.Color = clRed;
  for (int32_t mode : {3, 4}) {
    TRecordingCanvas canvas;
    bg.Draw(TRect{0, 0, 10, 10}, canvas, mode);
    EXPECT_TRUE(canvas.Log().empty()) << mode;
  }
  for (int32_t mode : {0, 2}) {
    TRecordingCanvas canvas;
    bg.Draw(TRect{0, 0, 10, 10}, canvas, mode);
    ASSERT_EQ(canvas.Log().size(), 1u);
    const auto& call = canvas.Log()[0];
    EXPECT_EQ(call.ToString(), "Rectangle(0,0,11,11)");
    EXPECT_EQ(call.Pen.Style, psClear);
    EXPECT_EQ(call.Brush.Style(), bsSolid);
    EXPECT_EQ(call.Brush.Color(), mode == 0 ? clRed : RV_GetGrayColor(clRed));
    EXPECT_EQ(canvas.Pen().Style, psSolid);
    EXPECT_EQ(canvas.Brush().Style(), bsClear);
  }
}

TEST(RVBorderIniTest, KeysAndRoundTrip) {
  test::TempDir dir("textstyles");
  TIniFile ini(dir.File("para.ini"));
  TRVBorder b;
  b.Style = rvbThickInside;
  b.Width = 2;
  b.Color = clRed;
  b.InternalWidth = 3;
  b.BorderOffsets().Left = 5;
  b.BorderOffsets().Bottom = -1;
  b.VisibleBorders().SetValues(true, false, true, false);
  b.WriteIni(ini, "Para0", "Border%s");
  TRVBackgroundRect bg;
  bg.Color = 0x00FF00;
  bg.BorderOffsets().Top = 4;
  bg.WriteIni(ini, "Para0", "Background%s");

  EXPECT_EQ(ini.ReadInteger("Para0", "BorderWidth", 0), 2);
  EXPECT_EQ(ini.ReadInteger("Para0", "BorderStyle", 0), 4);
  EXPECT_EQ(ini.ReadInteger("Para0", "BorderColor", 0), clRed);
  EXPECT_EQ(ini.ReadInteger("Para0", "BorderInternalWidth", 0), 3);
  EXPECT_EQ(ini.ReadInteger("Para0", "BorderOffsetsLeft", 0), 5);
  EXPECT_EQ(ini.ReadInteger("Para0", "BorderOffsetsBottom", 0), -1);
  EXPECT_FALSE(ini.ValueExists("Para0", "BorderOffsetsTop"));
  EXPECT_EQ(ini.ReadString("Para0", "BorderVisibleTop", ""), "No");
  EXPECT_FALSE(ini.ValueExists("Para0", "BorderVisibleLeft"));
  EXPECT_EQ(ini.ReadInteger("Para0", "BackgroundColor", 0), 0x00FF00);
  EXPECT_EQ(ini.ReadInteger("Para0", "BackgroundOffsetsTop", 0), 4);

  TRVBorder b2;
  b2.ReadIni(ini, "Para0", "Border%s");
  EXPECT_TRUE(b2.IsEqual(&b));
  TRVBackgroundRect bg2;
  bg2.ReadIni(ini, "Para0", "Background%s");
  EXPECT_TRUE(bg2.IsEqual(&bg));

  // Defaults write nothing and read back as defaults.
  TRVBorder plain;
  plain.WriteIni(ini, "Empty", "Border%s");
  EXPECT_FALSE(ini.SectionExists("Empty"));
  b2.ReadIni(ini, "Empty", "Border%s");
  EXPECT_TRUE(b2.IsEqual(&plain));

  // A style ordinal outside the enumeration reads as no border.
  ini.WriteInteger("Bad", "Style", 42);
  b2.ReadIni(ini, "Bad", "%s");
  EXPECT_EQ(b2.Style, rvbNone);
}

}  // namespace
}  // namespace pelvar
