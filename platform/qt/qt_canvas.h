// The canvas on Qt: QPainter on a QImage (off-screen drawing, and what the tests read
// back) and on a widget (inside its paint event), with the DejaVu fonts measured through
// Qt at 96 pixels per inch.
//
// Faces: "DejaVu Sans Mono" stands for the fixed-pitch faces (Courier New, Courier,
// Lucida Console, Consolas, Fixedsys, Terminal), "DejaVu Serif" for the serif faces
// (Times New Roman, Times, Georgia, Garamond, Book Antiqua), a DejaVu face for itself,
// and "DejaVu Sans" for every other name (Arial, Tahoma, MS Sans Serif, Symbol ...).
// A negative font height is the em size in pixels; a positive one the cell height
// (ascent + descent). Kerning is off: text is placed character by character at whole
// pixels, so what is measured is what is drawn.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QWidget>
#include <map>
#include <memory>
#include <tuple>
#include <unordered_map>

#include "platform/canvas.h"

namespace pelvar {

class TQtTextMetrics : public TTextMetrics {
 public:
  TTextMetric GetTextMetrics(const TFont& font) override;
  bool GetOutlineTextMetrics(const TFont& font, TOutlineTextMetric& otm) override;
  std::vector<int32_t> GetAdvances(const TFont& font, std::u16string_view text) override;

  // The DejaVu family standing for a face name.
  static QString FamilyFor(const AnsiString& face);
  // The Qt font of a canvas font.
  static QFont ToQFont(const TFont& font);
  // The one instance the Qt canvases share (GUI thread only).
  static std::shared_ptr<TQtTextMetrics> Shared();

  // The Qt font and its measures for a canvas font, kept for the fonts met recently.
  struct Entry {
    QFont font;
    QFontMetrics metrics;
    std::unordered_map<char16_t, int32_t> advances;
  };
  Entry& Lookup(const TFont& font);

 private:
  using Key = std::tuple<AnsiString, int32_t, uint8_t, int32_t>;
  std::map<Key, std::unique_ptr<Entry>> cache_;
};

// A canvas over a QPainter that someone else began (and ends, after the canvas is gone).
class TQtPainterCanvas : public TCanvas {
 public:
  TQtPainterCanvas(QPainter* painter, QSize surface);

  TTextMetrics& Metrics() override { return *metrics_; }
  TSize SurfaceSize() const override { return {surface_.width(), surface_.height()}; }
  QPainter* Painter() const { return painter_; }

 protected:
  TQtPainterCanvas() = default;
  void Attach(QPainter* painter, QSize surface);

  void DevPolyline(const std::vector<TPoint>& points) override;
  void DevPolygon(const std::vector<TPoint>& points) override;
  void DevRectangle(const TRect& r) override;
  void DevEllipse(const TRect& r) override;
  void DevFillRect(const TRect& r, TColor rgb, TBrushStyle style) override;
  void DevFocusRect(const TRect& r) override;
  TColor DevPixel(int32_t x, int32_t y) override;
  void DevSetPixel(int32_t x, int32_t y, TColor rgb) override;
  void DevText(int32_t x, int32_t y, const WideString& text, const std::vector<int32_t>& x_positions,
               const TRect* clip) override;
  void DevStretchPixels(const TRect& dest, const TPixelImage& image, const TRect& src_rect) override;

 private:
  void ApplyClip(const TRect* extra = nullptr);
  void ApplyPenMode();
  void PlotPenPixel(int32_t x, int32_t y, const QColor& c);
  void WideSegment(TPoint a, TPoint b);
  void FrameBand(const TRect& outer, int32_t width, const QColor& c);

  QPainter* painter_ = nullptr;
  QSize surface_;
  std::shared_ptr<TQtTextMetrics> metrics_ = TQtTextMetrics::Shared();
  int32_t pattern_pos_ = 0;
};

// Drawing into an image of its own (RGB, 96 pixels per inch), filled with a colour first.
class TQtImageCanvas : public TQtPainterCanvas {
 public:
  TQtImageCanvas(int32_t width, int32_t height, TColor fill = clWhite);
  ~TQtImageCanvas() override;

  // The picture drawn so far.
  const QImage& Image() const { return image_; }
  // The RGB value of a device pixel (what Pixel reads without the window origin).
  TColor PixelAt(int32_t x, int32_t y) const;

 protected:
  TColor DevPixel(int32_t x, int32_t y) override { return PixelAt(x, y); }

 private:
  QImage image_;
  std::unique_ptr<QPainter> own_painter_;
};

// Painting a widget: made inside the widget's paintEvent, over the widget's client area.
// Pixels cannot be read back (Pixel answers clNone).
class TQtWidgetCanvas : public TQtPainterCanvas {
 public:
  explicit TQtWidgetCanvas(QWidget* widget);
  ~TQtWidgetCanvas() override;

 protected:
  TColor DevPixel(int32_t, int32_t) override { return clNone; }

 private:
  std::unique_ptr<QPainter> own_painter_;
};

}  // namespace pelvar
