#include "richtext/view/CtrlImg.h"

#include <QImage>
#include <QWidget>

#include "richtext/model/RVImageList.h"
#include "richtext/model/RVItem.h"

namespace pelvar {

namespace {
QWidget* WidgetOf(TObject* control) { return dynamic_cast<QWidget*>(control); }

void ControlSize(TObject* control, int32_t& w, int32_t& h) {
  w = h = 0;
  if (auto* size = dynamic_cast<TRVControlSize*>(control)) {
    w = size->ControlWidth();
    h = size->ControlHeight();
  } else if (QWidget* widget = WidgetOf(control)) {
    w = widget->width();
    h = widget->height();
  }
}
}  // namespace

void DrawControl(TObject* control, TCanvas& canvas, int32_t x, int32_t y) {
  QWidget* widget = WidgetOf(control);
  if (!widget || widget->width() <= 0 || widget->height() <= 0) return;
  // The widget renders itself (hidden ones too) with its background and its children.
  QImage image(widget->size(), QImage::Format_ARGB32);
  image.fill(Qt::white);
  widget->render(&image, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
  TPixelImage pixels(image.width(), image.height());
  for (int32_t py = 0; py < image.height(); ++py) {
    const auto* line = reinterpret_cast<const uint32_t*>(image.constScanLine(py));
    for (int32_t px = 0; px < image.width(); ++px) pixels.Set(px, py, line[px] | 0xFF000000u);
  }
  canvas.StretchPixels(TRect{x, y, x + pixels.Width, y + pixels.Height}, pixels,
                       TRect{0, 0, pixels.Width, pixels.Height});
}

std::unique_ptr<TBitmap> DrawControlToBitmap(TObject* control) {
  int32_t w = 0, h = 0;
  ControlSize(control, w, h);
  auto bitmap = std::make_unique<TBitmap>(std::max(w, 0), std::max(h, 0));
  if (w > 0 && h > 0) {
    TRVPixelCanvas canvas(bitmap->Image);
    DrawControl(control, canvas, 0, 0);
  }
  return bitmap;
}

}  // namespace pelvar
