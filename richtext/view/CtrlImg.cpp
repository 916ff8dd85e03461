#include "richtext/view/CtrlImg.h"

#include <QImage>
#include <QScrollBar>
#include <QWidget>

#include "richtext/model/RVImageList.h"
#include "richtext/model/RVItem.h"
#include "richtext/view/RVScroll.h"

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

namespace {

class TWidgetWindowing : public TRVControlWindowing {
 public:
  bool IsWindowed(TObject* control) const override { return WidgetOf(control) != nullptr; }
  bool GetSize(TObject* control, int32_t& width, int32_t& height) const override {
    QWidget* w = WidgetOf(control);
    width = w->width();
    height = w->height();
    return true;
  }
  void SetWidth(TObject* control, int32_t width) override {
    QWidget* w = WidgetOf(control);
    w->resize(std::max(width, 0), w->height());
  }
  void SetParent(TObject* control, TObject* parent) override {
    QWidget* w = WidgetOf(control);
    auto* holder = dynamic_cast<TRVWidgetParent*>(parent);
    QWidget* target = holder ? holder->Widget : nullptr;
    if (w->parentWidget() == target) return;
    w->hide();
    w->setParent(target);
    // Later children cover earlier ones: the viewer's scroll bars stay above its controls.
    if (target)
      for (QScrollBar* bar : target->findChildren<QScrollBar*>(Qt::FindDirectChildrenOnly)) bar->raise();
  }
  bool HasParent(TObject* control) const override { return WidgetOf(control)->parentWidget() != nullptr; }
  void SetVisible(TObject* control, bool visible) override {
    QWidget* w = WidgetOf(control);
    // Never shown on its own: a widget without a parent would open as a window.
    w->setVisible(visible && w->parentWidget() != nullptr);
  }
  void Place(TObject* control, int32_t left, int32_t top, bool apply_top) override {
    QWidget* w = WidgetOf(control);
    SetControlTag(w, top);
    w->move(left, apply_top ? ControlTopFromTag(w) : w->y());
  }
  bool CanFocus(TObject* control) const override {
    QWidget* w = WidgetOf(control);
    return w->isEnabled() && (w->focusPolicy() & Qt::TabFocus) != 0;
  }
  void Focus(TObject* control) override { FocusControlInForm(WidgetOf(control)); }
  std::shared_ptr<const bool> Watch(TObject* control) override {
    auto alive = std::make_shared<bool>(true);
    QObject::connect(WidgetOf(control), &QObject::destroyed, [alive] { *alive = false; });
    return alive;
  }
};

}  // namespace

void RVInstallWidgetControlWindowing() {
  static TWidgetWindowing windowing;
  if (RVControlWindowing() != &windowing) RVSetControlWindowing(&windowing);
}

}  // namespace pelvar
