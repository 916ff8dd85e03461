#include "richtext/view/RVScroll.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QResizeEvent>
#include <QVariant>
#include <QWheelEvent>
#include <cmath>

#include "platform/checked.h"
#include "platform/dataobject.h"
#include "richtext/view/CRVFData.h"
#include "richtext/view/RVClipboardQt.h"

namespace pelvar {

namespace {
constexpr int32_t kTopLimit = 10000;
const char* const kTagProperty = "Tag";
constexpr int32_t kBarExtent = 16;

int32_t CheckedAdd(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_add_overflow(a, b, &r)) throw EIntOverflow("Integer overflow");
  return r;
}
int32_t CheckedMul(int32_t a, int32_t b) {
  int32_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw EIntOverflow("Integer overflow");
  return r;
}
}  // namespace

int32_t ControlTag(QWidget* control) { return control->property(kTagProperty).toInt(); }
void SetControlTag(QWidget* control, int32_t tag) { control->setProperty(kTagProperty, tag); }

int32_t ControlTopFromTag(QWidget* control) {
  const int32_t tag = ControlTag(control);
  if (tag > kTopLimit) return kTopLimit;
  if (tag < -kTopLimit) return -kTopLimit;
  return tag;
}

void ApplyControlTopFromTag(QWidget* control) { control->move(control->x(), ControlTopFromTag(control)); }

TRVScroller::TRVScroller(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  vbar_ = new QScrollBar(Qt::Vertical, this);
  hbar_ = new QScrollBar(Qt::Horizontal, this);
  vbar_->hide();
  hbar_->hide();
  target_ = std::make_unique<TMessageWindow>([this](TMessage& m) { WndProc(m); });
  auto hook = [this](QScrollBar* bar, bool vertical) {
    QObject::connect(bar, &QAbstractSlider::actionTriggered, this, [this, bar, vertical](int action) {
      if (bars_syncing_) return;
      int32_t code = -1;
      switch (action) {
        case QAbstractSlider::SliderSingleStepAdd: code = SB_LINEDOWN; break;
        case QAbstractSlider::SliderSingleStepSub: code = SB_LINEUP; break;
        case QAbstractSlider::SliderPageStepAdd: code = SB_PAGEDOWN; break;
        case QAbstractSlider::SliderPageStepSub: code = SB_PAGEUP; break;
        case QAbstractSlider::SliderMove: code = SB_THUMBTRACK; break;
        case QAbstractSlider::SliderToMinimum: code = SB_TOP; break;
        case QAbstractSlider::SliderToMaximum: code = SB_BOTTOM; break;
        default: break;
      }
      if (code < 0) return;
      // The platform's own slider moves on; the model decides the position.
      bars_syncing_ = true;
      const int32_t pos = bar->sliderPosition();
      bar->setSliderPosition(vertical ? vbar_info_.Pos : hbar_info_.Pos);
      bars_syncing_ = false;
      if (vertical)
        WMVScroll(code, pos);
      else
        WMHScroll(code, pos);
    });
  };
  hook(vbar_, true);
  hook(hbar_, false);
}

TRVScroller::~TRVScroller() {
  Destroying = true;
  if (created_) DestroyWnd();
}

// ---- The window --------------------------------------------------------------------------------

void TRVScroller::HandleNeeded() {
  if (created_) return;
  created_ = true;
  ++generation_;
  CreateWnd();
}

void TRVScroller::RecreateWnd() {
  if (!created_) return;
  DestroyWnd();
  created_ = false;
  HandleNeeded();
}

void TRVScroller::CreateWnd() {
  VDisableNoScroll = false;
  VSmallStep = GetDefSmallStep();
  ResetScrollPosition();
  CreateThemeData();
  UpdateScrollBarsToClient();
}

void TRVScroller::DestroyWnd() { FreeThemeData(); }

void TRVScroller::CreateThemeData() {
  const TRVThemeBinding& b = RVThemeBinding();
  ThemeData = nullptr;
  if (use_xp_themes_ && b.IsAppThemed && b.IsAppThemed() && b.IsThemeActive && b.IsThemeActive() && b.OpenThemeData)
    ThemeData = b.OpenThemeData(nullptr, u"Edit");
}

void TRVScroller::FreeThemeData() {
  const TRVThemeBinding& b = RVThemeBinding();
  if (ThemeData && b.CloseThemeData) b.CloseThemeData(ThemeData);
  ThemeData = nullptr;
}

int32_t TRVScroller::ClientWidth() const {
  return std::max(0, width() - (vbar_->isVisible() ? kBarExtent : 0) - (border_style_ == bsSingle ? 2 : 0));
}

int32_t TRVScroller::ClientHeight() const {
  return std::max(0, height() - (hbar_->isVisible() ? kBarExtent : 0) - (border_style_ == bsSingle ? 2 : 0));
}

void TRVScroller::LayoutBars() {
  const int32_t b = border_style_ == bsSingle ? 1 : 0;
  const bool rtl = bidi_mode_ == rvbdRightToLeft;
  const int32_t vw = vbar_->isVisible() ? kBarExtent : 0;
  const int32_t hh = hbar_->isVisible() ? kBarExtent : 0;
  vbar_->setGeometry(rtl ? b : width() - b - kBarExtent, b, kBarExtent, height() - 2 * b - hh);
  hbar_->setGeometry(rtl ? b + vw : b, height() - b - kBarExtent, width() - 2 * b - vw, kBarExtent);
}

void TRVScroller::SetBarInfo(bool vertical, const TRVScrollInfo& info, bool disable_no_scroll) {
  TRVScrollInfo& stored = vertical ? vbar_info_ : hbar_info_;
  stored = info;
  // The platform clamps the position to the last page.
  const int32_t last = std::max(info.Min, info.Max - std::max(info.Page, 1) + 1);
  stored.Pos = std::clamp(info.Pos, info.Min, last);
  QScrollBar* bar = vertical ? vbar_ : hbar_;
  const bool scrolls = info.Page > 0 ? info.Page <= info.Max - info.Min : info.Max > info.Min;
  bars_syncing_ = true;
  bar->setRange(info.Min, last);
  bar->setPageStep(std::max(info.Page, 1));
  bar->setValue(stored.Pos);
  bars_syncing_ = false;
  const bool was = bar->isVisible();
  bar->setVisible(scrolls || disable_no_scroll);
  bar->setEnabled(scrolls);
  if (was != bar->isVisible()) LayoutBars();
}

void TRVScroller::UpdateScrollBars(int32_t x_size, int32_t y_size, bool update_horizontal,
                                   bool allow_disable_no_scroll) {
  if (UpdatingScrollBars || !created_) return;
  UpdatingScrollBars = true;
  try {
    if (update_horizontal) {
      XSize = x_size;
      HScrollPage = ClientWidth();
      HScrollMax = XSize - 1;
      if (hscroll_visible_) {
        if (HScrollMax - (ClientWidth() - 1) < HPos) HPos = HScrollMax - (ClientWidth() - 1);
        if (HPos < 0) HPos = 0;
        SetBarInfo(false, TRVScrollInfo{0, XSize - 1, ClientWidth(), HPos}, false);
      } else {
        SetBarInfo(false, TRVScrollInfo{0, 1, 2, 0}, false);
      }
    }
    YSize = y_size;
    VScrollPage = ClientHeight() / VSmallStep;
    VScrollMax = YSize - 1;
    if (VScrollMax - (VScrollPage - 1) < VPos) VPos = VScrollMax - (VScrollPage - 1);
    if (VPos < 0) VPos = 0;
    if (vscroll_visible_)
      SetBarInfo(true, TRVScrollInfo{0, YSize - 1, VScrollPage, VPos}, allow_disable_no_scroll && VDisableNoScroll);
    else
      SetBarInfo(true, TRVScrollInfo{0, 1, 2, 0}, false);
    if (OnResize) OnResize(this);
  } catch (...) {
    UpdatingScrollBars = false;
    throw;
  }
  UpdatingScrollBars = false;
}

void TRVScroller::UpdateScrollBarsToClient() { UpdateScrollBars(ClientWidth(), ClientHeight() / VSmallStep, true, true); }

void TRVScroller::SetVPos(int32_t pos, bool redraw) {
  if (!created_) return;
  const int32_t old = VPos;
  VPos = pos;
  if (vscroll_visible_) {
    TRVScrollInfo info = vbar_info_;
    info.Pos = VPos;
    SetBarInfo(true, info, vbar_->isVisible() && !vbar_->isEnabled());
    VPos = vbar_info_.Pos;
  } else {
    if (VPos > VScrollMax - (VScrollPage - 1)) VPos = VScrollMax - (VScrollPage - 1);
    if (VPos < 0) VPos = 0;
  }
  if (VPos == old) return;
  const int32_t delta = CheckedMul(CheckedAdd(old, -VPos), VSmallStep);
  if (!redraw) {
    MoveChildControls(0, delta);
  } else if (FullRedraw) {
    MoveChildControls(0, delta);
    update();
  } else {
    scroll(0, delta, QRect(0, 0, ClientWidth(), ClientHeight()));
    MoveChildControls(0, delta);
  }
  DoVScrolled();
}

void TRVScroller::SetHPos(int32_t pos) {
  if (!created_) return;
  const int32_t old = HPos;
  HPos = pos;
  if (hscroll_visible_) {
    TRVScrollInfo info = hbar_info_;
    info.Pos = HPos;
    SetBarInfo(false, info, false);
    HPos = hbar_info_.Pos;
  } else {
    if (HPos > HScrollMax - (HScrollPage - 1)) HPos = HScrollMax - (HScrollPage - 1);
    if (HPos < 0) HPos = 0;
  }
  if (HPos == old) return;
  const int32_t delta = CheckedAdd(old, -HPos);
  if (FullRedraw) {
    MoveChildControls(delta, 0);
    update();
  } else {
    scroll(delta, 0, QRect(0, 0, ClientWidth(), ClientHeight()));
    MoveChildControls(delta, 0);
  }
  DoHScrolled();
}

void TRVScroller::MoveChildControls(int32_t dx, int32_t dy) {
  if (dx == 0 && dy == 0) return;
  for (QObject* o : children()) {
    auto* w = qobject_cast<QWidget*>(o);
    if (!w || w == vbar_ || w == hbar_) continue;
    if (dy != 0) {
      SetControlTag(w, CheckedAdd(ControlTag(w), dy));
      ApplyControlTopFromTag(w);
    }
    if (dx != 0) w->move(w->x() + dx, w->y());
  }
}

void TRVScroller::DoVScrolled() {
  if (OnVScrolled) OnVScrolled(this);
}

void TRVScroller::DoHScrolled() {
  if (OnHScrolled) OnHScrolled(this);
}

void TRVScroller::WMVScroll(int32_t code, int32_t pos) {
  const int32_t page = ClientHeight() / VSmallStep;
  switch (code) {
    case SB_LINEUP: ScrollTo(CheckedAdd(VPos, -LineStepCount)); break;
    case SB_LINEDOWN: ScrollTo(CheckedAdd(VPos, LineStepCount)); break;
    case SB_PAGEUP: ScrollTo(CheckedAdd(VPos, -page)); break;
    case SB_PAGEDOWN: ScrollTo(CheckedAdd(VPos, page)); break;
    case SB_THUMBPOSITION: ScrollTo(static_cast<int16_t>(pos)); break;
    case SB_THUMBTRACK:
      if (tracking_) ScrollTo(static_cast<int16_t>(pos));
      break;
    case SB_TOP: ScrollTo(0); break;
    case SB_BOTTOM: ScrollTo(YSize); break;
    default: break;
  }
}

void TRVScroller::WMHScroll(int32_t code, int32_t pos) {
  const int32_t line = CheckedMul(VSmallStep, LineStepCount);
  switch (code) {
    case SB_LINEUP: SetHPos(CheckedAdd(HPos, -line)); break;
    case SB_LINEDOWN: SetHPos(CheckedAdd(HPos, line)); break;
    case SB_PAGEUP: SetHPos(CheckedAdd(HPos, -ClientWidth())); break;
    case SB_PAGEDOWN: SetHPos(CheckedAdd(HPos, ClientWidth())); break;
    case SB_THUMBPOSITION: SetHPos(static_cast<int16_t>(pos)); break;
    case SB_THUMBTRACK:
      if (tracking_) SetHPos(static_cast<int16_t>(pos));
      break;
    case SB_TOP: SetHPos(0); break;
    case SB_BOTTOM: SetHPos(XSize); break;
    default: break;
  }
}

void TRVScroller::WndProc(TMessage& message) {
  if (message.Msg == WM_VSCROLL)
    WMVScroll(static_cast<int16_t>(message.WParam & 0xFFFF), static_cast<int16_t>((message.WParam >> 16) & 0xFFFF));
  else if (message.Msg == WM_HSCROLL)
    WMHScroll(static_cast<int16_t>(message.WParam & 0xFFFF), static_cast<int16_t>((message.WParam >> 16) & 0xFFFF));
}

bool TRVScroller::DoMouseWheelDown() {
  if (wheel_step_ == 0) return false;
  const int lines = QApplication::wheelScrollLines();
  int32_t steps;
  if (lines < 0)
    steps = ClientHeight() / VSmallStep;
  else
    steps = static_cast<int32_t>(std::nearbyint(static_cast<double>(wheel_step_) * lines / 3.0));
  ScrollTo(CheckedAdd(VPos, steps));
  return true;
}

bool TRVScroller::DoMouseWheelUp() {
  if (wheel_step_ == 0) return false;
  const int lines = QApplication::wheelScrollLines();
  int32_t steps;
  if (lines < 0)
    steps = ClientHeight() / VSmallStep;
  else
    steps = static_cast<int32_t>(std::nearbyint(static_cast<double>(wheel_step_) * lines / 3.0));
  ScrollTo(CheckedAdd(VPos, -steps));
  return true;
}

void TRVScroller::KeyDownScroll(int key) {
  if (!KeyboardScroll) return;
  auto send = [this](uint32_t msg, int32_t code) { SendMessage(MessageHandle(), msg, static_cast<WPARAM>(code), 0); };
  switch (key) {
    case Qt::Key_PageUp: send(WM_VSCROLL, SB_PAGEUP); break;
    case Qt::Key_PageDown: send(WM_VSCROLL, SB_PAGEDOWN); break;
    case Qt::Key_End: send(WM_VSCROLL, SB_BOTTOM); break;
    case Qt::Key_Home: send(WM_VSCROLL, SB_TOP); break;
    case Qt::Key_Up: send(WM_VSCROLL, SB_LINEUP); break;
    case Qt::Key_Down: send(WM_VSCROLL, SB_LINEDOWN); break;
    case Qt::Key_Left: send(WM_HSCROLL, SB_LINEUP); break;
    case Qt::Key_Right: send(WM_HSCROLL, SB_LINEDOWN); break;
    default: break;
  }
}

// ---- Properties --------------------------------------------------------------------------------

void TRVScroller::SetBorderStyle(TBorderStyle value) {
  if (value == border_style_) return;
  border_style_ = value;
  RecreateWnd();
}

void TRVScroller::SetBiDiMode(TRVBiDiMode value) {
  if (value == bidi_mode_) return;
  bidi_mode_ = value;
  RecreateWnd();
  LayoutBars();
}

void TRVScroller::SetUseXPThemes(bool value) {
  if (value == use_xp_themes_) return;
  use_xp_themes_ = value;
  if (created_) {
    FreeThemeData();
    CreateThemeData();
    update();
  }
}

void TRVScroller::SetHScrollVisible(bool value) {
  hscroll_visible_ = value;
  UpdateScrollBars(XSize, YSize, true, true);
}

void TRVScroller::SetVScrollVisible(bool value) {
  const bool changed = value != vscroll_visible_;
  vscroll_visible_ = value;
  if (!created_) return;
  if (Loading) {
    UpdateScrollBars(XSize, YSize, true, true);
    return;
  }
  UpdateScrollBars(XSize, YSize, true, false);
  if (changed && value && VDisableNoScroll) {
    UpdateScrollBars(XSize, YSize, true, true);
    vbar_->show();
    LayoutBars();
  }
}

void TRVScroller::SetDoInPaletteMode(TRVPaletteAction value) {
  if (value == palette_mode_) return;
  palette_mode_ = value;
  UpdatePaletteInfo();
}

std::unique_ptr<TRVLogPalette> CreateDefaultPalette() {
  auto p = std::make_unique<TRVLogPalette>();
  p->Entries.resize(216);
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 6; ++g)
      for (int b = 0; b < 6; ++b) {
        TRVPaletteEntry& e = p->Entries[static_cast<size_t>(r + 6 * g + 36 * b)];
        e.Red = static_cast<uint8_t>(r * 51);
        e.Green = static_cast<uint8_t>(g * 51);
        e.Blue = static_cast<uint8_t>(b * 51);
      }
  return p;
}

void TRVScroller::UpdatePaletteInfo() {
  if (palette_mode_ == rvpaDoNothing || !ScreenIsPaletteBased()) {
    palette_.reset();
    return;
  }
  if (!palette_) palette_ = CreateDefaultPalette();
}

// ---- Chosen sub-document -----------------------------------------------------------------------

void TRVScroller::AssignChosenRVData(TCustomRVFormattedData* rvdata, TCustomRVItemInfo* item) {
  if (rvdata != ChosenRVData) {
    DestroyInplaceEditor();
    UnassignChosenRVData(ChosenRVData);
    ChosenRVData = rvdata;
    ChosenItem = item;
  }
  if (QWidget* editor = GetInplaceEditor()) SetControlTag(editor, editor->y());
}

void TRVScroller::SilentReplaceChosenRVData(TCustomRVFormattedData* rvdata) {
  ChosenRVData = rvdata;
  if (!rvdata) ChosenItem = nullptr;
}

void TRVScroller::UnassignChosenRVData(TCustomRVData* rvdata) {
  if (!ChosenRVData || !(rvdata == ChosenRVData || rvdata == ChosenRVData->GetRVData())) return;
  if (!Destroying) {
    if (auto* d = dynamic_cast<TCustomRVFormattedData*>(ChosenRVData->GetRVData())) {
      d->FSelStartNo = d->FSelEndNo = -1;
      d->FSelStartOffs = d->FSelEndOffs = 0;
    }
  }
  ChosenRVData = nullptr;
  if (ChosenItem) {
    ChosenItem->CleanUpChosen();
    ChosenItem = nullptr;
  }
}

TPoint TRVScroller::ScreenToClient(TPoint pt) const {
  const QPoint p = mapFromGlobal(QPoint(pt.X, pt.Y));
  return TPoint{p.x(), p.y()};
}

TCustomRVData* TRVScroller::GetChosenRVData() { return ChosenRVData ? ChosenRVData->GetRVData() : nullptr; }

QWidget* TRVScroller::GetInplaceEditor() { return nullptr; }

void TRVScroller::DestroyInplaceEditor() {
  if (QWidget* editor = GetInplaceEditor()) {
    editor->hide();
    editor->deleteLater();
  }
}

bool TRVScroller::ChainFocused() {
  for (QWidget* w = this; w;) {
    if (w->hasFocus()) return true;
    auto* scroller = dynamic_cast<TRVScroller*>(w);
    w = scroller ? scroller->GetInplaceEditor() : nullptr;
  }
  return false;
}

void FocusControlInForm(QWidget* control) {
  // Only a control that can take the focus now: enabled and shown within its window (a
  // hidden one would otherwise take the focus later, when it is shown).
  if (!control || control->focusPolicy() == Qt::NoFocus || !control->isEnabled() || !control->window() ||
      !control->isVisibleTo(control->window()))
    return;
  control->setFocus(Qt::OtherFocusReason);
}

bool ScrollerChainDestroying(QWidget* control) {
  for (auto* s = dynamic_cast<TRVScroller*>(control); s; s = dynamic_cast<TRVScroller*>(s->parentWidget()))
    if (s->Destroying) return true;
  return false;
}

// ---- Qt events ---------------------------------------------------------------------------------

void TRVScroller::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  LayoutBars();
}

void TRVScroller::showEvent(QShowEvent* e) {
  QWidget::showEvent(e);
  HandleNeeded();
}

void TRVScroller::wheelEvent(QWheelEvent* e) {
  const int dy = e->angleDelta().y();
  bool handled = false;
  if (dy < 0)
    handled = DoMouseWheelDown();
  else if (dy > 0)
    handled = DoMouseWheelUp();
  if (handled)
    e->accept();
  else
    QWidget::wheelEvent(e);
}

void TRVScroller::keyPressEvent(QKeyEvent* e) {
  QWidget::keyPressEvent(e);
  KeyDownScroll(e->key());
}

void TRVScroller::focusInEvent(QFocusEvent* e) {
  QWidget::focusInEvent(e);
  if (ScrollerChainDestroying(this)) return;
  if (QWidget* editor = GetInplaceEditor()) editor->setFocus();
}

// ---- Drops ----------------------------------------------------------------------------------------

namespace {
TPoint ScreenPoint(QWidget* w, const QPointF& local) {
  const QPoint p = w->mapToGlobal(local.toPoint());
  return TPoint{p.x(), p.y()};
}
}  // namespace

void TRVScroller::FrameworkDragOver(QDropEvent* e, TDragState state) {
  framework_drag_ = true;
  framework_drag_pos_ = e->position().toPoint();
  framework_drop_accepted_ = DragOver(nullptr, framework_drag_pos_.x(), framework_drag_pos_.y(), state);
  if (framework_drop_accepted_) {
    e->acceptProposedAction();
  } else if (state == dsDragEnter && HasDragOverHandler()) {
    // Refused for now: the moves keep arriving, and a move may be accepted.
    e->accept();
    e->setDropAction(Qt::IgnoreAction);
  } else {
    e->ignore();
  }
}

void TRVScroller::dragEnterEvent(QDragEnterEvent* e) {
  framework_drag_ = framework_drop_accepted_ = false;
  IDropTarget* target = HandleAllocated() ? DragDropService().RegisteredTarget(MessageHandle()) : nullptr;
  if (!target || !e->mimeData()) {
    FrameworkDragOver(e, dsDragEnter);
    return;
  }
  drag_data_ = std::make_shared<TQtMimeDataObject>(*e->mimeData());
  uint32_t effect = static_cast<uint32_t>(e->possibleActions()) & 7;
  target->DragEnter(drag_data_.get(), RVQtKeyState(e->modifiers(), e->buttons()), ScreenPoint(this, e->position()),
                    effect);
  if (effect == DROPEFFECT_NONE && HasDragOverHandler()) {
    FrameworkDragOver(e, dsDragEnter);
    if (!e->isAccepted()) e->accept();
    return;
  }
  // The drag stays with the control (its moves keep arriving) while it shows no effect.
  e->accept();
  if (effect != DROPEFFECT_NONE) e->setDropAction(static_cast<Qt::DropAction>(effect & 7));
}

void TRVScroller::dragMoveEvent(QDragMoveEvent* e) {
  IDropTarget* target = HandleAllocated() ? DragDropService().RegisteredTarget(MessageHandle()) : nullptr;
  uint32_t effect = DROPEFFECT_NONE;
  if (target) {
    effect = static_cast<uint32_t>(e->possibleActions()) & 7;
    target->DragOver(RVQtKeyState(e->modifiers(), e->buttons()), ScreenPoint(this, e->position()), effect);
  }
  if (effect == DROPEFFECT_NONE) {
    framework_drag_ = false;
    if (!target || HasDragOverHandler()) {
      FrameworkDragOver(e, dsDragMove);
      return;
    }
    e->ignore();
  } else {
    framework_drag_ = framework_drop_accepted_ = false;
    e->setDropAction(static_cast<Qt::DropAction>(effect & 7));
    e->accept();
  }
}

void TRVScroller::dragLeaveEvent(QDragLeaveEvent* e) {
  if (IDropTarget* target = HandleAllocated() ? DragDropService().RegisteredTarget(MessageHandle()) : nullptr)
    target->DragLeave();
  drag_data_.reset();
  if (framework_drag_) DragOver(nullptr, framework_drag_pos_.x(), framework_drag_pos_.y(), dsDragLeave);
  framework_drag_ = framework_drop_accepted_ = false;
  e->accept();
}

void TRVScroller::dropEvent(QDropEvent* e) {
  // A drag the framework's events accepted at its last point drops there.
  if (framework_drag_ && framework_drop_accepted_) {
    framework_drag_ = framework_drop_accepted_ = false;
    IDropTarget* target = HandleAllocated() ? DragDropService().RegisteredTarget(MessageHandle()) : nullptr;
    if (target) target->DragLeave();
    drag_data_.reset();
    const QPoint p = e->position().toPoint();
    e->acceptProposedAction();
    DragDrop(nullptr, p.x(), p.y());
    return;
  }
  framework_drag_ = framework_drop_accepted_ = false;
  IDropTarget* target = HandleAllocated() ? DragDropService().RegisteredTarget(MessageHandle()) : nullptr;
  if (!target || !e->mimeData()) {
    e->ignore();
    return;
  }
  auto data = std::make_shared<TQtMimeDataObject>(*e->mimeData());
  uint32_t effect = static_cast<uint32_t>(e->possibleActions()) & 7;
  target->Drop(data.get(), RVQtKeyState(e->modifiers(), e->buttons()), ScreenPoint(this, e->position()), effect);
  drag_data_.reset();
  if (effect == DROPEFFECT_NONE) {
    e->ignore();
  } else {
    e->setDropAction(static_cast<Qt::DropAction>(effect & 7));
    e->accept();
  }
}

}  // namespace pelvar
