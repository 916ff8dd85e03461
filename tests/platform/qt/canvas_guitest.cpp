#include "platform/qt/qt_canvas.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPixmap>
#include <QWidget>
#include <functional>
#include <memory>

#include "platform/codepage.h"

namespace pelvar {
namespace {

// The tests of this program share one application object; when no other test made one
// this suite makes its own.
class QtCanvasTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!QCoreApplication::instance()) {
      static int argc = 1;
      static char name[] = "canvas_guitest";
      static char* argv[] = {name, nullptr};
      static QApplication app(argc, argv);
    }
  }
};

bool IsDark(TColor c) { return c != clNone && GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 128; }

// The columns (device x) that hold at least one dark pixel in rows top..bottom-1.
std::vector<int32_t> DarkColumns(const TQtImageCanvas& c, int32_t top, int32_t bottom) {
  std::vector<int32_t> cols;
  for (int32_t x = 0; x < c.Image().width(); ++x)
    for (int32_t y = top; y < bottom; ++y)
      if (IsDark(c.PixelAt(x, y))) {
        cols.push_back(x);
        break;
      }
  return cols;
}

TEST_F(QtCanvasTest, FillsAndFiguresCoverThePlatformsPixels) {
  TQtImageCanvas c(40, 40);
  c.Brush().SetColor(clRed);
  c.FillRect(Rect(2, 2, 6, 6));
  EXPECT_EQ(c.Pixel(2, 2), clRed);
  EXPECT_EQ(c.Pixel(5, 5), clRed);
  EXPECT_EQ(c.Pixel(6, 6), clWhite);

  // With a clear pen a rectangle fills one pixel less to the right and the bottom.
  c.Pen().Style = psClear;
  c.Brush().SetColor(clBlue);
  c.Rectangle(10, 10, 20, 20);
  EXPECT_EQ(c.Pixel(18, 18), clBlue);
  EXPECT_EQ(c.Pixel(19, 19), clWhite);

  // A solid pen outlines Left..Right-1 and Top..Bottom-1 around the brush.
  c.Pen().Style = psSolid;
  c.Pen().Color = clBlack;
  c.Brush().SetColor(clLime);
  c.Rectangle(20, 0, 30, 10);
  EXPECT_EQ(c.Pixel(20, 0), clBlack);
  EXPECT_EQ(c.Pixel(29, 9), clBlack);
  EXPECT_EQ(c.Pixel(25, 5), clLime);
  EXPECT_EQ(c.Pixel(30, 10), clWhite);

  // A system colour is drawn as its RGB value.
  c.Brush().SetColor(clBtnFace);
  c.FillRect(Rect(0, 30, 4, 34));
  EXPECT_EQ(c.Pixel(1, 31), RGB(212, 208, 200));
  // A frame in the brush colour, one pixel wide.
  c.Brush().SetColor(clRed);
  c.FrameRect(Rect(30, 30, 36, 36));
  EXPECT_EQ(c.Pixel(30, 33), clRed);
  EXPECT_EQ(c.Pixel(35, 35), clRed);
  EXPECT_EQ(c.Pixel(33, 33), clWhite);
}

TEST_F(QtCanvasTest, WidePensEllipsesAndPolygons) {
  TQtImageCanvas c(60, 60);
  // An inside-frame pen keeps its whole width inside the figure.
  c.Pen().Style = psInsideFrame;
  c.Pen().Width = 3;
  c.Pen().Color = clNavy;
  c.Brush().SetColor(clYellow);
  c.Rectangle(0, 0, 20, 20);
  EXPECT_EQ(c.Pixel(0, 10), clNavy);
  EXPECT_EQ(c.Pixel(2, 10), clNavy);
  EXPECT_EQ(c.Pixel(3, 10), clYellow);
  EXPECT_EQ(c.Pixel(19, 19), clNavy);
  EXPECT_EQ(c.Pixel(20, 10), clWhite);

  c.Pen().Style = psSolid;
  c.Pen().Width = 1;
  c.Pen().Color = clBlack;
  c.Brush().SetColor(clRed);
  c.Ellipse(30, 0, 50, 20);
  EXPECT_EQ(c.Pixel(40, 10), clRed);
  EXPECT_EQ(c.Pixel(30, 0), clWhite);  // corners lie outside
  EXPECT_EQ(c.Pixel(49, 19), clWhite);

  c.Brush().SetColor(clGreen);
  c.Polygon({{0, 30}, {20, 30}, {0, 50}});
  EXPECT_EQ(c.Pixel(3, 33), clGreen);
  EXPECT_EQ(c.Pixel(18, 48), clWhite);
  EXPECT_EQ(c.Pixel(10, 30), clBlack);  // the outline
}

TEST_F(QtCanvasTest, LinesLeaveOutTheirEndPoint) {
  TQtImageCanvas c(20, 20);
  c.Pen().Color = clBlack;
  c.MoveTo(0, 5);
  c.LineTo(10, 5);
  for (int x = 0; x < 10; ++x) EXPECT_EQ(c.Pixel(x, 5), clBlack) << x;
  EXPECT_EQ(c.Pixel(10, 5), clWhite);
  c.MoveTo(3, 0);
  c.LineTo(3, 3);
  EXPECT_EQ(c.Pixel(3, 2), clBlack);
  EXPECT_EQ(c.Pixel(3, 3), clWhite);

  // A dotted pen: three on, three off.
  c.Pen().Style = psDot;
  c.Brush().SetStyle(bsClear);
  c.Polyline({{0, 10}, {12, 10}});
  const TColor want[] = {clBlack, clBlack, clBlack, clWhite, clWhite, clWhite, clBlack};
  for (int x = 0; x < 7; ++x) EXPECT_EQ(c.Pixel(x, 10), want[x]) << x;
}

TEST_F(QtCanvasTest, InvertingDrawingsUndoThemselves) {
  TQtImageCanvas c(30, 30);
  c.Brush().SetColor(clYellow);
  c.FillRect(Rect(0, 0, 30, 15));
  const QImage before = c.Image().copy();
  c.Pen().Mode = pmNot;
  c.MoveTo(5, 0);
  c.LineTo(5, 30);
  EXPECT_EQ(c.Pixel(5, 1), RGB(0, 0, 255));  // yellow inverted
  EXPECT_EQ(c.Pixel(5, 20), clBlack);        // white inverted
  c.MoveTo(5, 0);
  c.LineTo(5, 30);
  c.DrawFocusRect(Rect(2, 2, 20, 20));
  EXPECT_NE(c.Image(), before);
  c.DrawFocusRect(Rect(2, 2, 20, 20));
  EXPECT_EQ(c.Image(), before);
}

TEST_F(QtCanvasTest, OriginAndClipMoveAndLimitDrawing) {
  TQtImageCanvas c(40, 40);
  c.SaveDC();
  c.SetWindowOrg(-10, -10);
  c.IntersectClipRect(Rect(0, 0, 5, 5));  // device 10..14
  c.Brush().SetColor(clRed);
  c.FillRect(Rect(-10, -10, 30, 30));
  EXPECT_EQ(c.Pixel(0, 0), clRed);  // logical
  EXPECT_EQ(c.PixelAt(10, 10), clRed);
  EXPECT_EQ(c.PixelAt(14, 14), clRed);
  EXPECT_EQ(c.PixelAt(15, 15), clWhite);
  EXPECT_EQ(c.PixelAt(9, 9), clWhite);
  c.RestoreDC(-1);
  c.FillRect(Rect(30, 30, 31, 31));
  EXPECT_EQ(c.PixelAt(30, 30), clRed);
}

TEST_F(QtCanvasTest, PixelsAndStretchedImages) {
  TQtImageCanvas c(20, 20);
  c.SetPixel(3, 4, clGreen);
  EXPECT_EQ(c.Pixel(3, 4), clGreen);
  EXPECT_EQ(c.Pixel(-1, 0), clNone);
  TPixelImage img(2, 2);
  img.Set(0, 0, 0xFFFF0000u);  // red
  img.Set(1, 1, 0xFF0000FFu);  // blue
  c.StretchPixels(Rect(10, 10, 14, 14), img, Rect(0, 0, 2, 2));
  EXPECT_EQ(c.Pixel(10, 10), clRed);
  EXPECT_EQ(c.Pixel(11, 11), clRed);
  EXPECT_EQ(c.Pixel(13, 13), clBlue);
  EXPECT_EQ(c.Pixel(13, 10), clWhite);
}

TEST_F(QtCanvasTest, DejaVuMetricsAtNinetySixDpi) {
  TQtTextMetrics m;
  TFont f;
  f.SetName("Arial");  // stands as DejaVu Sans
  f.SetSize(10);       // 13 pixels
  const TTextMetric tm = m.GetTextMetrics(f);
  EXPECT_EQ(tm.tmHeight, 15);
  EXPECT_EQ(tm.tmAscent, 12);
  EXPECT_EQ(tm.tmDescent, 3);
  EXPECT_EQ(tm.tmInternalLeading, 2);
  EXPECT_EQ(tm.tmExternalLeading, 0);
  EXPECT_EQ(tm.tmAveCharWidth, 7);
  EXPECT_EQ(m.GetAdvances(f, u"Kůň žluťoučký iW"),
            (std::vector<int32_t>{9, 8, 8, 4, 7, 4, 8, 5, 8, 8, 7, 8, 8, 4, 4, 13}));
  f.SetName("Courier New");  // stands as DejaVu Sans Mono
  EXPECT_EQ(m.GetAdvances(f, u"iW"), (std::vector<int32_t>{8, 8}));
  f.SetName("Arial");
  TOutlineTextMetric otm;
  ASSERT_TRUE(m.GetOutlineTextMetrics(f, otm));
  EXPECT_EQ(otm.otmsUnderscoreSize, 1);
  EXPECT_EQ(otm.otmsUnderscorePosition, -1);
  // A positive height is the cell height.
  f.SetHeight(20);
  EXPECT_EQ(m.GetTextMetrics(f).tmHeight, 20);
  // A logical font with a width narrows the characters to that average.
  f.SetSize(10);
  f.SetWidth(3);
  EXPECT_EQ(m.GetTextMetrics(f).tmAveCharWidth, 3);
  EXPECT_LT(m.GetAdvances(f, u"mmmm")[0], 10);
}

TEST_F(QtCanvasTest, TextIsDrawnWhereItIsMeasured) {
  TQtImageCanvas c(200, 40);
  c.Font().SetName("Arial");
  c.Font().SetSize(10);
  c.Font().SetColor(clBlack);
  c.Brush().SetStyle(bsClear);
  const AnsiString text = CZ("Kůň žluťoučký");
  const int32_t width = c.TextWidth(text);
  c.TextOut(5, 5, text);
  const std::vector<int32_t> cols = DarkColumns(c, 0, 40);
  ASSERT_FALSE(cols.empty());
  EXPECT_GE(cols.front(), 5);
  EXPECT_LE(cols.front(), 7);
  EXPECT_LT(cols.back(), 5 + width);
  EXPECT_GE(cols.back(), 5 + width - 4);
  // Nothing above the cell or below it.
  EXPECT_TRUE(DarkColumns(c, 0, 5).empty());
  EXPECT_TRUE(DarkColumns(c, 5 + c.TextHeight(text), 40).empty());
}

TEST_F(QtCanvasTest, WindowsTwelveFiftyTextDrawsItsOwnGlyphs) {
  auto draw = [](auto output) {
    auto c = std::make_unique<TQtImageCanvas>(40, 30);
    c->Font().SetSize(12);
    c->Font().SetColor(clBlack);
    c->Brush().SetStyle(bsClear);
    output(*c);
    return c->Image().copy();
  };
  const QImage narrow = draw([](TCanvas& c) { c.TextOut(2, 2, CZ("řŽ")); });  // bytes F8 8E
  const QImage wide = draw([](TCanvas& c) { c.TextOutW(2, 2, u"řŽ"); });
  const QImage latin1 = draw([](TCanvas& c) { c.TextOutW(2, 2, u"\u00F8\u017D"); });  // the same bytes in 1252
  const QImage blank = draw([](TCanvas&) {});
  EXPECT_EQ(narrow, wide);
  EXPECT_NE(narrow, latin1);
  EXPECT_NE(narrow, blank);
}

TEST_F(QtCanvasTest, TextBackgroundAdvancesAndClipping) {
  TQtImageCanvas c(200, 60);
  c.Font().SetSize(10);
  c.Font().SetColor(clBlack);
  // A solid brush paints the text cell.
  c.Brush().SetColor(clYellow);
  const int32_t w = c.TextWidth("Kun");
  const int32_t h = c.TextHeight("Kun");
  c.TextOut(0, 0, "Kun");
  EXPECT_EQ(c.Pixel(w - 1, h - 1), clYellow);
  EXPECT_EQ(c.Pixel(w, h - 1), clWhite);
  EXPECT_EQ(c.Pixel(0, h), clWhite);

  // Given advances place each character.
  c.Brush().SetStyle(bsClear);
  const std::vector<int32_t> dx{40, 40};
  c.ExtTextOutW(0, 20, 0, nullptr, u"ll", &dx);
  const std::vector<int32_t> cols = DarkColumns(c, 20, 40);
  ASSERT_FALSE(cols.empty());
  EXPECT_LT(cols.front(), 10);
  EXPECT_GE(cols.back(), 40);
  EXPECT_LT(cols.back(), 50);
  for (int32_t x : cols) EXPECT_TRUE(x < 10 || x >= 40) << x;

  // Opaque and clipped: the rectangle takes the brush colour and holds the glyphs.
  c.Brush().SetColor(clAqua);
  const TRect r = Rect(100, 40, 110, 60);
  c.ExtTextOutW(100, 40, ETO_OPAQUE | ETO_CLIPPED, &r, u"WWWW");
  EXPECT_EQ(c.Pixel(100, 59), clAqua);
  EXPECT_FALSE(DarkColumns(c, 40, 60).empty());
  for (int32_t x : DarkColumns(c, 40, 60)) EXPECT_LT(x, 110) << x;
}

class PaintedWidget : public QWidget {
 public:
  std::function<void(TCanvas&)> paint;

 protected:
  void paintEvent(QPaintEvent*) override {
    TQtWidgetCanvas canvas(this);
    if (paint) paint(canvas);
  }
};

TEST_F(QtCanvasTest, WidgetCanvasPaintsTheWidget) {
  PaintedWidget w;
  w.resize(30, 20);
  w.paint = [](TCanvas& c) {
    EXPECT_EQ(c.SurfaceSize(), (TSize{30, 20}));
    c.Brush().SetColor(clWhite);
    c.FillRect(Rect(0, 0, 30, 20));
    c.Brush().SetColor(clRed);
    c.FillRect(Rect(10, 5, 20, 15));
    EXPECT_EQ(c.Pixel(0, 0), clNone);  // a widget cannot be read back
  };
  const QImage img = w.grab().toImage();
  EXPECT_EQ(img.pixelColor(15, 10), QColor(255, 0, 0));
  EXPECT_EQ(img.pixelColor(5, 5), QColor(255, 255, 255));
}

}  // namespace
}  // namespace pelvar
