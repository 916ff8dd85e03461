#include "platform/qt/qt_canvas.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPolygon>
#include <QString>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace pelvar {

namespace {

// 96 pixels per inch in dots per metre.
constexpr int kDotsPerMeter96 = 3780;

// The device fonts are measured against: an image at 96 pixels per inch.
QPaintDevice* MetricsDevice() {
  static QImage device = [] {
    QImage img(1, 1, QImage::Format_RGB32);
    img.setDotsPerMeterX(kDotsPerMeter96);
    img.setDotsPerMeterY(kDotsPerMeter96);
    return img;
  }();
  return &device;
}

QColor ToQColor(TColor color) {
  const TColor rgb = ColorToRGB(color);
  if (rgb == clNone || rgb == clDefault) return QColor(0, 0, 0);
  return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

QRect ToQRect(const TRect& r) { return QRect(r.Left, r.Top, r.Width(), r.Height()); }

// The on/off runs of a cosmetic pen style, in pixels, from the start of a figure.
const std::vector<int>& PenPattern(TPenStyle style) {
  static const std::vector<int> solid;
  static const std::vector<int> dash{18, 6};
  static const std::vector<int> dot{3, 3};
  static const std::vector<int> dash_dot{9, 6, 3, 6};
  static const std::vector<int> dash_dot_dot{9, 3, 3, 3, 3, 3};
  switch (style) {
    case psDash: return dash;
    case psDot: return dot;
    case psDashDot: return dash_dot;
    case psDashDotDot: return dash_dot_dot;
    default: return solid;
  }
}

bool PatternOn(const std::vector<int>& pattern, int32_t pos) {
  if (pattern.empty()) return true;
  int period = 0;
  for (int p : pattern) period += p;
  int at = pos % period;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (at < pattern[i]) return i % 2 == 0;
    at -= pattern[i];
  }
  return true;
}

Qt::BrushStyle ToQtBrushStyle(TBrushStyle s) {
  switch (s) {
    case bsHorizontal: return Qt::HorPattern;
    case bsVertical: return Qt::VerPattern;
    case bsFDiagonal: return Qt::BDiagPattern;
    case bsBDiagonal: return Qt::FDiagPattern;
    case bsCross: return Qt::CrossPattern;
    case bsDiagCross: return Qt::DiagCrossPattern;
    case bsClear: return Qt::NoBrush;
    default: return Qt::SolidPattern;
  }
}

QPainter::CompositionMode ToCompositionMode(TPenMode m) {
  switch (m) {
    case pmNot: return QPainter::RasterOp_NotDestination;
    case pmNotCopy: return QPainter::RasterOp_NotSource;
    case pmMergePenNot: return QPainter::RasterOp_SourceOrNotDestination;
    case pmMaskPenNot: return QPainter::RasterOp_SourceAndNotDestination;
    case pmMergeNotPen: return QPainter::RasterOp_NotSourceOrDestination;
    case pmMaskNotPen: return QPainter::RasterOp_NotSourceAndDestination;
    case pmMerge: return QPainter::RasterOp_SourceOrDestination;
    case pmNotMerge: return QPainter::RasterOp_NotSourceAndNotDestination;
    case pmMask: return QPainter::RasterOp_SourceAndDestination;
    case pmNotMask: return QPainter::RasterOp_NotSourceOrNotDestination;
    case pmXor: return QPainter::RasterOp_SourceXorDestination;
    case pmNotXor: return QPainter::RasterOp_NotSourceXorDestination;
    case pmBlack: return QPainter::RasterOp_ClearDestination;
    case pmWhite: return QPainter::RasterOp_SetDestination;
    default: return QPainter::CompositionMode_SourceOver;
  }
}

}  // namespace

// ---- Metrics -------------------------------------------------------------------------------

QString TQtTextMetrics::FamilyFor(const AnsiString& face) {
  QString name = QString::fromLatin1(face.data(), static_cast<int>(face.size())).trimmed().toLower();
  static const char* const kMono[] = {"courier new", "courier", "lucida console", "consolas", "fixedsys", "terminal"};
  static const char* const kSerif[] = {"times new roman", "times", "georgia", "garamond", "book antiqua", "serif"};
  for (const char* m : kMono)
    if (name == QLatin1String(m)) return QStringLiteral("DejaVu Sans Mono");
  for (const char* s : kSerif)
    if (name == QLatin1String(s)) return QStringLiteral("DejaVu Serif");
  if (name == QLatin1String("dejavu sans mono")) return QStringLiteral("DejaVu Sans Mono");
  if (name == QLatin1String("dejavu serif")) return QStringLiteral("DejaVu Serif");
  return QStringLiteral("DejaVu Sans");
}

QFont TQtTextMetrics::ToQFont(const TFont& font) {
  QFont f(FamilyFor(font.Name()));
  f.setStyleStrategy(QFont::PreferDefault);
  f.setKerning(false);
  f.setBold(font.Style().Contains(fsBold));
  f.setItalic(font.Style().Contains(fsItalic));
  f.setUnderline(font.Style().Contains(fsUnderline));
  f.setStrikeOut(font.Style().Contains(fsStrikeOut));
  const int32_t h = font.Height();
  int px;
  if (h < 0) {
    px = -h;
  } else if (h > 0) {
    // A cell height: the em that gives that ascent + descent.
    QFont probe = f;
    probe.setPixelSize(1000);
    QFontMetricsF fm(probe, MetricsDevice());
    const double cell = fm.ascent() + fm.descent();
    px = cell > 0 ? static_cast<int>(std::lround(h * 1000.0 / cell)) : h;
  } else {
    px = MulDiv(8, kScreenPixelsPerInch, 72);
  }
  f.setPixelSize(std::max(1, px));
  if (font.Width() > 0) {
    QFontMetrics fm(f, MetricsDevice());
    const int natural = fm.averageCharWidth();
    if (natural > 0) f.setStretch(std::clamp(font.Width() * 100 / natural, 1, 4000));
  }
  return f;
}

std::shared_ptr<TQtTextMetrics> TQtTextMetrics::Shared() {
  static std::shared_ptr<TQtTextMetrics> shared = std::make_shared<TQtTextMetrics>();
  return shared;
}

TQtTextMetrics::Entry& TQtTextMetrics::Lookup(const TFont& font) {
  Key key{font.Name(), font.Height(), font.Style().Bits(), font.Width()};
  auto it = cache_.find(key);
  if (it != cache_.end()) return *it->second;
  // A document uses a handful of fonts; a long run of different ones starts afresh.
  if (cache_.size() >= 256) cache_.clear();
  QFont f = ToQFont(font);
  auto entry = std::make_unique<Entry>(Entry{f, QFontMetrics(f, MetricsDevice()), {}});
  return *cache_.emplace(std::move(key), std::move(entry)).first->second;
}

TTextMetric TQtTextMetrics::GetTextMetrics(const TFont& font) {
  const Entry& e = Lookup(font);
  const QFont& f = e.font;
  const QFontMetrics& fm = e.metrics;
  TTextMetric tm;
  tm.tmAscent = fm.ascent();
  tm.tmDescent = fm.descent();
  tm.tmHeight = tm.tmAscent + tm.tmDescent;
  tm.tmInternalLeading = std::max(0, tm.tmHeight - f.pixelSize());
  tm.tmExternalLeading = std::max(0, fm.leading());
  tm.tmAveCharWidth = fm.averageCharWidth();
  tm.tmMaxCharWidth = fm.maxWidth();
  tm.tmWeight = font.Style().Contains(fsBold) ? FW_BOLD : FW_NORMAL;
  tm.tmItalic = font.Style().Contains(fsItalic) ? 1 : 0;
  tm.tmUnderlined = font.Style().Contains(fsUnderline) ? 1 : 0;
  tm.tmStruckOut = font.Style().Contains(fsStrikeOut) ? 1 : 0;
  tm.tmCharSet = font.Charset();
  return tm;
}

bool TQtTextMetrics::GetOutlineTextMetrics(const TFont& font, TOutlineTextMetric& otm) {
  otm = TOutlineTextMetric{};
  otm.otmTextMetrics = GetTextMetrics(font);
  const QFontMetrics& fm = Lookup(font).metrics;
  otm.otmAscent = otm.otmTextMetrics.tmAscent;
  otm.otmDescent = otm.otmTextMetrics.tmDescent;
  otm.otmsUnderscoreSize = std::max(1, fm.lineWidth());
  otm.otmsUnderscorePosition = -std::max(1, fm.underlinePos());
  otm.otmsStrikeoutSize = std::max(1, fm.lineWidth());
  otm.otmsStrikeoutPosition = fm.strikeOutPos();
  return true;
}

std::vector<int32_t> TQtTextMetrics::GetAdvances(const TFont& font, std::u16string_view text) {
  Entry& e = Lookup(font);
  std::vector<int32_t> out(text.size(), 0);
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1])) {
      const QChar pair[2] = {QChar(c), QChar(text[i + 1])};
      out[i] = e.metrics.horizontalAdvance(QString(pair, 2));
      ++i;  // the low surrogate keeps 0
    } else {
      auto it = e.advances.find(c);
      if (it == e.advances.end()) it = e.advances.emplace(c, e.metrics.horizontalAdvance(QChar(c))).first;
      out[i] = it->second;
    }
  }
  return out;
}

// ---- Painter canvas ----------------------------------------------------------------------

TQtPainterCanvas::TQtPainterCanvas(QPainter* painter, QSize surface) { Attach(painter, surface); }

void TQtPainterCanvas::Attach(QPainter* painter, QSize surface) {
  painter_ = painter;
  surface_ = surface;
  painter_->setRenderHint(QPainter::Antialiasing, false);
  painter_->setBackgroundMode(Qt::TransparentMode);
}

void TQtPainterCanvas::ApplyClip(const TRect* extra) {
  TRect clip{0, 0, surface_.width(), surface_.height()};
  if (const TRect* c = DeviceClip()) IntersectRect(clip, clip, *c);
  if (extra) IntersectRect(clip, clip, *extra);
  painter_->setClipRect(ToQRect(clip));
  painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void TQtPainterCanvas::ApplyPenMode() { painter_->setCompositionMode(ToCompositionMode(Pen().Mode)); }

void TQtPainterCanvas::PlotPenPixel(int32_t x, int32_t y, const QColor& c) {
  const bool on = PatternOn(PenPattern(Pen().Style), pattern_pos_++);
  if (on) {
    painter_->fillRect(QRect(x, y, 1, 1), c);
  } else if (Brush().Style() != bsClear) {
    // The gaps of a styled pen take the background colour when the brush is not clear.
    painter_->fillRect(QRect(x, y, 1, 1), ToQColor(Brush().Color()));
  }
}

void TQtPainterCanvas::WideSegment(TPoint a, TPoint b) {
  QPen pen(ToQColor(Pen().Color));
  pen.setWidth(std::max(1, Pen().Width));
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  painter_->setPen(pen);
  painter_->setBrush(Qt::NoBrush);
  painter_->drawLine(QPoint(a.X, a.Y), QPoint(b.X, b.Y));
}

void TQtPainterCanvas::DevPolyline(const std::vector<TPoint>& points) {
  if (Pen().Style == psClear || Pen().Mode == pmNop || points.size() < 2) return;
  ApplyClip();
  ApplyPenMode();
  const QColor c = ToQColor(Pen().Color);
  pattern_pos_ = 0;
  const bool cosmetic = Pen().Width <= 1 || (Pen().Style != psSolid && Pen().Style != psInsideFrame);
  for (size_t i = 0; i + 1 < points.size(); ++i) {
    TPoint a = points[i];
    const TPoint b = points[i + 1];
    if (!cosmetic) {
      WideSegment(a, b);
      continue;
    }
    // Bresenham from a to b, the end point left out.
    int32_t dx = std::abs(b.X - a.X), sx = a.X < b.X ? 1 : -1;
    int32_t dy = -std::abs(b.Y - a.Y), sy = a.Y < b.Y ? 1 : -1;
    int32_t err = dx + dy;
    while (!(a.X == b.X && a.Y == b.Y)) {
      PlotPenPixel(a.X, a.Y, c);
      const int32_t e2 = 2 * err;
      if (e2 >= dy) {
        err += dy;
        a.X += sx;
      }
      if (e2 <= dx) {
        err += dx;
        a.Y += sy;
      }
    }
  }
  painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void TQtPainterCanvas::DevPolygon(const std::vector<TPoint>& points) {
  if (Pen().Mode == pmNop) return;
  ApplyClip();
  ApplyPenMode();
  QPolygon poly;
  for (const TPoint& p : points) poly << QPoint(p.X, p.Y);
  if (Brush().Style() != bsClear) {
    painter_->setPen(Qt::NoPen);
    painter_->setBrush(QBrush(ToQColor(Brush().Color()), ToQtBrushStyle(Brush().Style())));
    painter_->drawPolygon(poly);
  }
  painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
  if (Pen().Style != psClear) {
    std::vector<TPoint> outline = points;
    outline.push_back(points.front());
    DevPolyline(outline);
  }
}

void TQtPainterCanvas::FrameBand(const TRect& outer, int32_t width, const QColor& c) {
  const int32_t w = std::max(1, width);
  TRect r = outer;
  if (r.Width() <= 2 * w || r.Height() <= 2 * w) {
    painter_->fillRect(ToQRect(r), c);
    return;
  }
  painter_->fillRect(QRect(r.Left, r.Top, r.Width(), w), c);
  painter_->fillRect(QRect(r.Left, r.Bottom - w, r.Width(), w), c);
  painter_->fillRect(QRect(r.Left, r.Top + w, w, r.Height() - 2 * w), c);
  painter_->fillRect(QRect(r.Right - w, r.Top + w, w, r.Height() - 2 * w), c);
}

void TQtPainterCanvas::DevRectangle(const TRect& r) {
  if (Pen().Mode == pmNop) return;
  ApplyClip();
  ApplyPenMode();
  const bool pen_clear = Pen().Style == psClear;
  if (Brush().Style() != bsClear) {
    TRect fill = r;
    if (pen_clear) {
      fill.Right -= 1;
      fill.Bottom -= 1;
    }
    if (!IsRectEmpty(fill))
      painter_->fillRect(ToQRect(fill), QBrush(ToQColor(Brush().Color()), ToQtBrushStyle(Brush().Style())));
  }
  if (!pen_clear && !IsRectEmpty(r)) {
    const int32_t w = std::max(1, Pen().Width);
    if (Pen().Style == psSolid || Pen().Style == psInsideFrame || w > 1) {
      TRect outer = r;
      if (Pen().Style != psInsideFrame && w > 1) {
        // A wide pen is centred on the figure's edge.
        outer = {r.Left - w / 2, r.Top - w / 2, r.Right - 1 + (w - w / 2), r.Bottom - 1 + (w - w / 2)};
      }
      FrameBand(outer, w, ToQColor(Pen().Color));
    } else {
      painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
      DevPolyline({{r.Left, r.Top}, {r.Right - 1, r.Top}, {r.Right - 1, r.Bottom - 1}, {r.Left, r.Bottom - 1},
                   {r.Left, r.Top}});
    }
  }
  painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void TQtPainterCanvas::DevEllipse(const TRect& r) {
  if (Pen().Mode == pmNop || IsRectEmpty(r)) return;
  ApplyClip();
  ApplyPenMode();
  if (Brush().Style() != bsClear)
    painter_->setBrush(QBrush(ToQColor(Brush().Color()), ToQtBrushStyle(Brush().Style())));
  else
    painter_->setBrush(Qt::NoBrush);
  if (Pen().Style == psClear) {
    painter_->setPen(Qt::NoPen);
    painter_->drawEllipse(QRect(r.Left, r.Top, r.Width() - 1, r.Height() - 1));
  } else {
    const int32_t w = std::max(1, Pen().Width);
    QPen pen(ToQColor(Pen().Color));
    pen.setWidth(w);
    painter_->setPen(pen);
    TRect e = r;
    if (Pen().Style == psInsideFrame && w > 1) InflateRect(e, -(w / 2), -(w / 2));
    painter_->drawEllipse(QRect(e.Left, e.Top, e.Width() - 1, e.Height() - 1));
  }
  painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

void TQtPainterCanvas::DevFillRect(const TRect& r, TColor rgb, TBrushStyle style) {
  if (style == bsClear) return;
  ApplyClip();
  painter_->fillRect(ToQRect(r), QBrush(ToQColor(rgb), ToQtBrushStyle(style)));
}

void TQtPainterCanvas::DevFocusRect(const TRect& r) {
  ApplyClip();
  painter_->setCompositionMode(QPainter::RasterOp_NotDestination);
  auto dot = [&](int32_t x, int32_t y) {
    if (((x + y) & 1) == 0) painter_->fillRect(QRect(x, y, 1, 1), Qt::black);
  };
  for (int32_t x = r.Left; x < r.Right; ++x) {
    dot(x, r.Top);
    if (r.Bottom - 1 != r.Top) dot(x, r.Bottom - 1);
  }
  for (int32_t y = r.Top + 1; y < r.Bottom - 1; ++y) {
    dot(r.Left, y);
    if (r.Right - 1 != r.Left) dot(r.Right - 1, y);
  }
  painter_->setCompositionMode(QPainter::CompositionMode_SourceOver);
}

TColor TQtPainterCanvas::DevPixel(int32_t, int32_t) { return clNone; }

void TQtPainterCanvas::DevSetPixel(int32_t x, int32_t y, TColor rgb) {
  ApplyClip();
  painter_->fillRect(QRect(x, y, 1, 1), ToQColor(rgb));
}

void TQtPainterCanvas::DevText(int32_t x, int32_t y, const WideString& text, const std::vector<int32_t>& x_positions,
                               const TRect* clip) {
  (void)x;
  ApplyClip(clip);
  const TQtTextMetrics::Entry& e = metrics_->Lookup(Font());
  painter_->setFont(e.font);
  painter_->setPen(ToQColor(Font().Color()));
  const int baseline = y + e.metrics.ascent();
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    QString glyph;
    if (QChar::isHighSurrogate(c) && i + 1 < text.size() && QChar::isLowSurrogate(text[i + 1])) {
      const QChar pair[2] = {QChar(c), QChar(text[i + 1])};
      glyph = QString(pair, 2);
    } else if (QChar::isLowSurrogate(c) || c < 0x20) {
      continue;
    } else {
      glyph = QString(QChar(c));
    }
    painter_->drawText(QPoint(x_positions[i], baseline), glyph);
    if (glyph.size() == 2) ++i;
  }
}

void TQtPainterCanvas::DevStretchPixels(const TRect& dest, const TPixelImage& image, const TRect& src_rect) {
  ApplyClip();
  const QImage src(reinterpret_cast<const uchar*>(image.Pixels.data()), image.Width, image.Height,
                   image.Width * 4, QImage::Format_ARGB32);
  painter_->drawImage(ToQRect(dest), src, ToQRect(src_rect));
}

// ---- Image canvas --------------------------------------------------------------------

TQtImageCanvas::TQtImageCanvas(int32_t width, int32_t height, TColor fill)
    : image_(std::max(1, width), std::max(1, height), QImage::Format_RGB32) {
  image_.setDotsPerMeterX(kDotsPerMeter96);
  image_.setDotsPerMeterY(kDotsPerMeter96);
  image_.fill(ToQColor(fill));
  own_painter_ = std::make_unique<QPainter>(&image_);
  Attach(own_painter_.get(), image_.size());
}

TQtImageCanvas::~TQtImageCanvas() { own_painter_->end(); }

TColor TQtImageCanvas::PixelAt(int32_t x, int32_t y) const {
  if (x < 0 || y < 0 || x >= image_.width() || y >= image_.height()) return clNone;
  const QRgb p = image_.pixel(x, y);
  return RGB(static_cast<uint8_t>(qRed(p)), static_cast<uint8_t>(qGreen(p)), static_cast<uint8_t>(qBlue(p)));
}

// ---- Widget canvas -------------------------------------------------------------------

TQtWidgetCanvas::TQtWidgetCanvas(QWidget* widget) : own_painter_(std::make_unique<QPainter>(widget)) {
  Attach(own_painter_.get(), widget->size());
}

TQtWidgetCanvas::~TQtWidgetCanvas() { own_painter_->end(); }

}  // namespace pelvar
