#include "richtext/view/RVPopup.h"

#include <QMouseEvent>

#include "platform/qt/qt_canvas.h"

namespace pelvar {

namespace {
// The button's size: a square that holds the drop-down arrow.
constexpr int kButtonSize = 16;
}  // namespace

TRVSmartPopupButton::TRVSmartPopupButton(QWidget* parent, TRVSmartPopupProperties* properties)
    : QWidget(parent), properties_(properties) {
  resize(kButtonSize, kButtonSize);
  setCursor(Qt::ArrowCursor);
  setAttribute(Qt::WA_OpaquePaintEvent);
  link_.Invalidate = [this] { update(); };
  link_.SetHint = [this](const AnsiString& hint) { setToolTip(QString::fromStdString(hint)); };
  setToolTip(QString::fromStdString(properties_->Hint()));
  properties_->SetButton(&link_);
}

TRVSmartPopupButton::~TRVSmartPopupButton() {
  if (properties_->GetButton() == &link_) properties_->SetButton(nullptr);
}

void TRVSmartPopupButton::Click() {
  if (OnClick) OnClick(this);
}

void TRVSmartPopupButton::paintEvent(QPaintEvent*) {
  TQtWidgetCanvas canvas(this);
  const int32_t w = width(), h = height();
  canvas.Brush().SetStyle(bsSolid);
  canvas.Brush().SetColor(hovered_ ? properties_->HoverColor() : properties_->Color());
  canvas.Pen().Style = psSolid;
  canvas.Pen().Width = 1;
  canvas.Pen().Color = hovered_ ? properties_->HoverLineColor() : properties_->LineColor();
  canvas.Rectangle(0, 0, w, h);
  if (properties_->ButtonType == rvsptDropDown) {
    // A small arrow pointing down in the middle.
    canvas.Brush().SetColor(canvas.Pen().Color);
    const int32_t cx = w / 2, cy = h / 2;
    canvas.Polygon({TPoint{cx - 3, cy - 1}, TPoint{cx + 3, cy - 1}, TPoint{cx, cy + 2}});
  }
}

void TRVSmartPopupButton::enterEvent(QEnterEvent* e) {
  QWidget::enterEvent(e);
  hovered_ = true;
  update();
}

void TRVSmartPopupButton::leaveEvent(QEvent* e) {
  QWidget::leaveEvent(e);
  hovered_ = false;
  update();
}

void TRVSmartPopupButton::mousePressEvent(QMouseEvent* e) {
  if (e->button() == Qt::LeftButton) Click();
}

}  // namespace pelvar
