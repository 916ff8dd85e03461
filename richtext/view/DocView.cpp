#include "richtext/view/DocView.h"
#include "richtext/view/RVAnimate.h"
#include "richtext/view/RVClipboardQt.h"
#include "richtext/view/RVLinear.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>

#include "platform/qt/qt_application.h"
#include "platform/qt/qt_canvas.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {
// The widget that has the focus, as the application last reported it: while a focus-in
// event is delivered, the widget that had the focus before.
QPointer<QWidget>& ReportedFocus() {
  static QPointer<QWidget> focus;
  return focus;
}
void TrackFocus() {
  // One tracker per application object (it goes with the application).
  static QPointer<QObject> tracker;
  if (tracker || !qApp) return;
  tracker = new QObject(qApp);
  ReportedFocus() = QApplication::focusWidget();
  QObject::connect(qApp, &QApplication::focusChanged, tracker,
                   [](QWidget*, QWidget* now) { ReportedFocus() = now; });
}
const TRVOptions kDefaultOptions = {rvoAllowSelection,   rvoScrollToEnd,      rvoShowPageBreaks, rvoAutoCopyText,
                                    rvoAutoCopyRVF,      rvoAutoCopyImage,    rvoAutoCopyRTF,    rvoFormatInvalidate,
                                    rvoDblClickSelectsWord, rvoRClickDeselects, rvoFastFormatting};
const TRVRTFOptions kDefaultRTFOptions = {rvrtfDuplicateUnicode, rvrtfSaveEMFAsWMF, rvrtfSaveJpegAsJpeg};
const TRVFOptions kDefaultRVFOptions = {rvfoSavePicturesBody, rvfoSaveControlsBody, rvfoSaveBinary,
                                        rvfoSaveDocProperties, rvfoLoadDocProperties};
const char kDefaultDelimiters[] = " .;,:(){}\"/\\<>!?[]\x91\x92\x93\x94-+*=\xA0";

int32_t ScrollDirection(int32_t v, int32_t extent) {
  if (v < -20) return -10;
  if (v < 0) return -1;
  if (v > extent + 20) return 10;
  if (v > extent) return 1;
  return 0;
}
}  // namespace

TCustomDocView::TCustomDocView(QWidget* parent) : TRVScroller(parent) {
  RVInstallQtServices();
  RVData = std::make_unique<TDocViewRVData>(this);
  Background = std::make_unique<TRVBackground>(true);
  if (auto* b = dynamic_cast<TRVBitmap*>(Background->Image())) b->OnChange = [this] { BackgroundChanged(); };
  Options = kDefaultOptions;
  RTFOptions = kDefaultRTFOptions;
  RVFOptions = kDefaultRVFOptions;
  Delimiters = AnsiString(kDefaultDelimiters, sizeof(kDefaultDelimiters) - 1);
  SetBorderStyle(bsSingle);
  resize(100, 40);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMouseTracking(true);
  TrackFocus();
}

TCustomDocView::~TCustomDocView() {
  // The live-spelling worker calls the control; it ends before anything is taken down
  // (a class derived from this one stops it in its own destructor already).
  StopLiveSpelling();
  Destroying = true;
  if (style_ && style_watch_) style_->RemoveFreeNotification(style_watch_.get());
  StopScrollTimer();
  StopAnimation();
  Background.reset();
  RVData->State |= rvstDestroying;
  RVData->Clear();
  RVData.reset();
}

void TCustomDocView::SetTextMetrics(std::shared_ptr<TTextMetrics> metrics) {
  metrics_ = std::move(metrics);
  format_canvas_.reset();
}

TCanvas* TCustomDocView::FormatCanvas() {
  if (!format_canvas_) {
    if (!metrics_) metrics_ = TQtTextMetrics::Shared();
    format_canvas_ = std::make_unique<TRVMeasureCanvas>(*metrics_, TSize{ClientWidth(), ClientHeight()});
  }
  return format_canvas_.get();
}

void TCustomDocView::TStyleWatch::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == view_->style_) view_->SetStyle(nullptr);
}

void TCustomDocView::SetStyle(TRVStyle* value) {
  if (value == style_) return;
  if (!style_watch_) style_watch_ = std::make_unique<TStyleWatch>(this);
  if (style_) style_->RemoveFreeNotification(style_watch_.get());
  style_ = value;
  if (style_) style_->FreeNotification(style_watch_.get());
  if (Options.Contains(rvoFormatInvalidate)) update();
}

TColor TCustomDocView::GetColor() const {
  if (Color != clNone) return Color;
  return style_ ? style_->Color : clWindow;
}

TRVSmartPopupProperties* TCustomDocView::SmartPopupProperties() {
  if (!smart_popup_) smart_popup_ = std::make_unique<TRVSmartPopupProperties>();
  return smart_popup_.get();
}

void TCustomDocView::SetSmartPopupProperties(TRVSmartPopupProperties* value) {
  if (!value)
    smart_popup_.reset();
  else
    SmartPopupProperties()->Assign(*value);
}

// ---- Context menu and smart-popup button ---------------------------------------------------------

TCustomDocView* TCustomDocView::RootControl() {
  auto* root = dynamic_cast<TDocViewRVData*>(RVData->GetAbsoluteRootData());
  return root && root->Control ? root->Control : this;
}

void TCustomDocView::DoContextPopup(TPoint mouse_pos, bool& handled) {
  if (OnContextPopup) OnContextPopup(this, mouse_pos, handled);
}

TPopupMenu* TCustomDocView::FindPopupMenu() {
  for (QWidget* w = this; w; w = w->parentWidget())
    if (auto* view = dynamic_cast<TCustomDocView*>(w); view && view->PopupMenu) return view->PopupMenu;
  return nullptr;
}

void TCustomDocView::PopupAt(int32_t x, int32_t y) {
  TPoint pt{x, y};
  AdjustPopupMenuPos(pt);
  const QPoint screen = mapToGlobal(QPoint(pt.X, pt.Y));
  TCustomDocView* root = RootControl();
  const QPoint in_root = root->mapFromGlobal(screen);
  bool handled = false;
  root->DoContextPopup(TPoint{in_root.x(), in_root.y()}, handled);
  if (handled) return;
  TPopupMenu* menu = FindPopupMenu();
  if (!menu || !menu->AutoPopup) return;
  // No mouse mode survives the menu: the selecting and its auto-scroll end here.
  StopScrollTimer();
  RVData->State &= ~(rvstSelecting | rvstLineSelecting);
  menu->PopupComponent = this;
  menu->Popup(screen.x(), screen.y());
}

void TCustomDocView::InheritedContextPopup(TPoint screen_pt) {
  const bool from_keyboard = screen_pt.X == -1 && screen_pt.Y == -1;
  TPoint client{-1, -1};
  if (!from_keyboard) {
    const QPoint c = mapFromGlobal(QPoint(screen_pt.X, screen_pt.Y));
    client = TPoint{c.x(), c.y()};
  }
  bool handled = false;
  DoContextPopup(client, handled);
  if (handled) return;
  TPopupMenu* menu = FindPopupMenu();
  if (!menu || !menu->AutoPopup) return;
  if (from_keyboard) {
    const QPoint corner = mapToGlobal(QPoint(0, 0));
    screen_pt = TPoint{corner.x(), corner.y()};
  }
  menu->PopupComponent = this;
  menu->Popup(screen_pt.X, screen_pt.Y);
}

void TCustomDocView::KeyboardContextMenu() {
  TCustomDocView* root = RootControl();
  if (root == this)
    InheritedContextPopup(TPoint{-1, -1});
  else
    root->KeyboardContextMenu();
}

void TCustomDocView::contextMenuEvent(QContextMenuEvent* e) {
  // Never passed on to a viewer this one lies in: that one would show its menu again.
  e->accept();
  if (e->reason() == QContextMenuEvent::Keyboard) {
    KeyboardContextMenu();
    return;
  }
  // Over the text the menu comes from the right button's release; here only what an
  // inserted control under the point left to this control.
  QWidget* child = childAt(e->pos());
  while (child && child->parentWidget() != this) child = child->parentWidget();
  if (!child || !child->isEnabled() || child == static_cast<QWidget*>(RVData->SmartPopupButton.get())) return;
  if (dynamic_cast<QScrollBar*>(child)) return;
  TPopupMenu* child_menu = nullptr;
  if (auto* view = dynamic_cast<TCustomDocView*>(child)) child_menu = view->FindPopupMenu();
  if (child_menu != FindPopupMenu()) InheritedContextPopup(TPoint{e->globalPos().x(), e->globalPos().y()});
}

TRVSmartPopupButton* TCustomDocView::SmartPopupButton() {
  auto* root = dynamic_cast<TDocViewRVData*>(RVData->GetAbsoluteRootData());
  return root ? root->SmartPopupButton.get() : nullptr;
}

void TCustomDocView::ShowSmartPopup(TCustomRVFormattedData* rvdata, int32_t item_no) {
  auto* root = dynamic_cast<TDocViewRVData*>(RVData->GetAbsoluteRootData());
  if (!root || !root->Control) return;
  if (!rvdata) rvdata = RVData.get();
  if (item_no < 0 || item_no >= rvdata->ItemCount()) return;
  TCustomDocView* owner = root->Control;
  root->SmartPopupButton.reset();
  auto button = std::make_unique<TRVSmartPopupButton>(owner, owner->SmartPopupProperties());
  button->RVData = rvdata;
  button->ItemNo = item_no;
  button->Item = rvdata->GetItem(item_no);
  button->OnClick = [owner](TRVSmartPopupButton* b) {
    if (owner->OnSmartPopupClick) owner->OnSmartPopupClick(owner, b);
    TRVSmartPopupProperties* p = owner->SmartPopupProperties();
    if (p->ButtonType == rvsptDropDown && p->Menu) {
      const QPoint below = b->mapToGlobal(QPoint(0, b->height()));
      p->Menu->PopupComponent = owner;
      p->Menu->Popup(below.x(), below.y());
    }
  };
  root->SmartPopupButton = std::move(button);
  owner->AdjustSmartPopup();
  root->AdjustSmartPopupPosition();
  if (root->SmartPopupButton) root->SmartPopupButton->show();
}

void TCustomDocView::HideSmartPopup() {
  if (auto* root = dynamic_cast<TDocViewRVData*>(RVData->GetAbsoluteRootData())) root->SmartPopupButton.reset();
}

// ---- Saving and loading with the control's layout -----------------------------------------------

bool TCustomDocView::SaveRVFToStream(TStream& stream, bool selection_only) {
  TRVLayoutInfo layout;
  layout.LeftMargin = LeftMargin;
  layout.RightMargin = RightMargin;
  layout.TopMargin = TopMargin;
  layout.BottomMargin = BottomMargin;
  layout.MinTextWidth = MinTextWidth;
  layout.MaxTextWidth = MaxTextWidth;
  layout.BiDiMode = BiDiMode();
  return RVData->SaveRVFToStream(stream, selection_only, &layout, Background.get(), Color);
}

bool TCustomDocView::SaveRTFToStream(TStream& stream, bool selection_only) {
  return RVData->SaveRTFToStream(stream, AnsiString(), 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0, Color,
                                 selection_only);
}

bool TCustomDocView::SaveTextToStream(const AnsiString& path, TStream& stream, int32_t line_width,
                                      bool selection_only, bool text_only) {
  return RVData->SaveTextToStream(path, stream, line_width, selection_only, text_only, false, false);
}

bool TCustomDocView::SaveTextToStreamW(const AnsiString& path, TStream& stream, int32_t line_width,
                                       bool selection_only, bool text_only) {
  return RVData->SaveTextToStream(path, stream, line_width, selection_only, text_only, true, false);
}

bool TCustomDocView::LoadRVFFromStream(TStream& stream) {
  ClearTemporal();
  TRVLayoutInfo layout;
  TColor color = Color;
  const bool ok = RVData->LoadRVFFromStream(stream, color, Background.get(), &layout);
  Color = color;
  if (layout.Loaded) ApplyLayoutInfo(layout);
  BackgroundChanged();
  Format();
  return ok;
}

void TCustomDocView::ApplyLayoutInfo(const TRVLayoutInfo& layout) {
  LeftMargin = layout.LeftMargin;
  RightMargin = layout.RightMargin;
  BottomMargin = layout.BottomMargin;
  TopMargin = layout.TopMargin;
  MinTextWidth = layout.MinTextWidth;
  MaxTextWidth = layout.MaxTextWidth;
  // The BiDi mode without a format of its own: the caller formats once.
  RVData->State |= rvstFormatting;
  try {
    SetBiDiMode(layout.BiDiMode);
  } catch (...) {
    RVData->State &= ~rvstFormatting;
    throw;
  }
  RVData->State &= ~rvstFormatting;
}

void TCustomDocView::SetBackgroundStyle(TBackgroundStyle value) {
  Background->Style = value;
  BackgroundChanged();
}

void TCustomDocView::BackgroundChanged() {
  if (RVData->State & (1u << 5)) return;
  FullRedraw = Background->ScrollNeedsFullRedraw();
  Background->UpdatePaletted(DoInPaletteMode(), nullptr);
  if (Options.Contains(rvoFormatInvalidate)) update();
  // Animations start again over the new background.
  RVData->ResetAnimation();
}

// ---- Formatting ---------------------------------------------------------------------------------

void TCustomDocView::DoFormat(bool keep_position, bool force, bool only_tail, bool width_flag1, bool width_flag2) {
  if (VSmallStep == 0 || !HandleAllocated()) return;
  RVData->FormatDocument(keep_position, force, false, 0, FormatCanvas(), only_tail, width_flag1, width_flag2);
}

void TCustomDocView::Format() {
  DoFormat(false, true, false, true, false);
  if (Options.Contains(rvoFormatInvalidate)) update();
  if (animation_mode_ == rvaniOnFormat) StartAnimation();
}

// ---- Animation -------------------------------------------------------------------------------

void TCustomDocView::SetAnimationMode(TRVAnimationMode value) {
  animation_mode_ = value;
  if (value == rvaniDisabled) ResetAnimation();
}

void TCustomDocView::SetAnimationTimer(int32_t period) {
  if (!animation_timer_) {
    animation_timer_ = std::make_unique<TTimer>();
    animation_timer_->SetOnTimer([this](TObject*) { OnAnimationTimer(); });
  }
  animation_timer_->SetInterval(static_cast<uint32_t>(std::max(period, 1)));
  animation_timer_->SetEnabled(true);
}

void TCustomDocView::StartAnimation() {
  AnimationStarted = true;
  TRVAnimatorList* list = RVData->AnimatorList.get();
  if (list && list->Count() > 0 && !list->TimerActive) {
    list->TimerActive = true;
    list->TimerPeriod = list->NextDelay;
    SetAnimationTimer(list->NextDelay);
  }
}

void TCustomDocView::StopAnimation() {
  AnimationStarted = false;
  TRVAnimatorList* list = RVData->AnimatorList.get();
  if (list && list->TimerActive) list->TimerActive = false;
  if (animation_timer_) animation_timer_->SetEnabled(false);
}

void TCustomDocView::ResetAnimation() {
  StopAnimation();
  if (RVData->AnimatorList) {
    RVData->AnimatorList->FreeAll();
    RVData->AnimatorList.reset();
  }
}

void TCustomDocView::AnimatorInserted() {
  if (AnimationStarted) StartAnimation();
}

void TCustomDocView::OnAnimationTimer() {
  TRVAnimatorList* list = RVData->AnimatorList.get();
  if (!list || list->Count() == 0) {
    if (animation_timer_) animation_timer_->SetEnabled(false);
    if (list) list->TimerActive = false;
    return;
  }
  list->Tick();
  if (list->NextDelay != list->TimerPeriod) {
    list->TimerPeriod = list->NextDelay;
    SetAnimationTimer(list->NextDelay);
  }
}

void TCustomDocView::Reformat() {
  DoFormat(true, true, false, true, true);
  if (Options.Contains(rvoFormatInvalidate)) update();
}

void TCustomDocView::ClearTemporal() {
  StopScrollTimer();
  RVData->ClearTemporal();
}

void TCustomDocView::Clear() {
  ClearTemporal();
  RVData->Clear();
}

void TCustomDocView::AddTextBlock(const AnsiString& text, int32_t style_no, int32_t first_para_no,
                                  int32_t other_para_no) {
  RVData->AddTextBlockTag(text, style_no, first_para_no, other_para_no, TRVTag());
}

void TCustomDocView::CreateWnd() {
  TRVScroller::CreateWnd();
  format_canvas_.reset();
}

void TCustomDocView::ResetScrollPosition() {
  if (RVData && RVData->ItemCount() == 0) TRVScroller::ResetScrollPosition();
}

void TCustomDocView::UpdateScrollBarsToClient() {
  if (RVData && RVData->ItemCount() > 0)
    DoFormat(true, false, false, false, false);
  else
    TRVScroller::UpdateScrollBarsToClient();
}

void TCustomDocView::SetVSmallStep(int32_t value) {
  if (value <= 0) return;
  if (VScrollVisible() && RVData->DocumentHeight / value > 32000) return;
  TRVScroller::SetVSmallStep(value);
}

void TCustomDocView::SetBiDiMode(TRVBiDiMode value) {
  if (value == BiDiMode()) return;
  TRVScroller::SetBiDiMode(value);
  Deselect();
  if (!(RVData->State & rvstFormatting)) Format();
}

// ---- Scrolling ----------------------------------------------------------------------------------

void TCustomDocView::DoVScrolled() {
  TRVScroller::DoVScrolled();
  GenerateMouseMove();
  RVData->UpdateCheckpointVisibility();
  RefreshChain(false);
}

void TCustomDocView::DoHScrolled() {
  TRVScroller::DoHScrolled();
  GenerateMouseMove();
  RefreshChain(false);
}

void TCustomDocView::RefreshChain(bool refresh) {
  if (refresh) repaint();
  if (FullRedraw)
    if (auto* editor = dynamic_cast<TCustomDocView*>(GetInplaceEditor())) editor->RefreshChain(true);
}

void TCustomDocView::InvalidateChain() {
  update();
  for (TRVScroller* s = this;;) {
    auto* editor = dynamic_cast<TRVScroller*>(s->GetInplaceEditor());
    if (!editor || !editor->HandleAllocated() || editor->Destroying) break;
    editor->update();
    s = editor;
  }
}

void TCustomDocView::GenerateMouseMove() {
  const QPoint p = mapFromGlobal(QCursor::pos());
  if (p.x() >= 0 && p.x() < ClientWidth() && p.y() >= 0 && p.y() < ClientHeight()) {
    TShiftState shift = 0;
    const auto mods = QGuiApplication::queryKeyboardModifiers();
    if (mods & Qt::ShiftModifier) shift |= ssShift;
    if (mods & Qt::ControlModifier) shift |= ssCtrl;
    if (mods & Qt::AltModifier) shift |= ssAlt;
    const auto buttons = QGuiApplication::mouseButtons();
    if (buttons & Qt::LeftButton) shift |= ssLeft;
    if (buttons & Qt::RightButton) shift |= ssRight;
    if (buttons & Qt::MiddleButton) shift |= ssMiddle;
    MouseMove(shift, p.x(), p.y());
  }
}

void TCustomDocView::StartScrollTimer(bool slow) {
  if (ScrollTimerActive) return;
  if (!scroll_timer_) {
    scroll_timer_ = std::make_unique<TTimer>();
    scroll_timer_->SetOnTimer([this](TObject*) { OnScrollTimer(); });
  }
  scroll_timer_->SetInterval(slow ? 300 : 100);
  scroll_timer_->SetEnabled(true);
  ScrollTimerActive = true;
}

void TCustomDocView::StopScrollTimer() {
  if (!ScrollTimerActive) return;
  if (scroll_timer_) scroll_timer_->SetEnabled(false);
  ScrollTimerActive = false;
}

void TCustomDocView::OnScrollTimer() {
  if (ScrollDY != 0) ScrollTo(VPos + ScrollDY);
  if (ScrollDX != 0) SetHPos(HPos + ScrollDX);
  if (ScrollDX != 0 || ScrollDY != 0) GenerateMouseMove();
}

// ---- Mouse and keys ---------------------------------------------------------------------------

void TCustomDocView::MouseMove(TShiftState shift, int32_t x, int32_t y) {
  ScrollDY = ScrollDirection(y, ClientHeight());
  ScrollDX = ScrollDirection(x, ClientWidth());
  // The control's own event first, then the document's handling.
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
  // Without a style sheet the control shows its caption, not the document: the mouse has
  // nothing of it to hit (its layout may stand from before the style sheet went away).
  if (style_) RVData->MouseMove(shift, x, y);
}

void TCustomDocView::MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
  // The focus that a click brings moves no Tab focus (the framework gives the focus before
  // the press arrives when it can; the mark then waits for a focus given later).
  if (!GetInplaceEditor() && !hasFocus()) RVData->State |= rvstFocusByMouse;
  if (button == mbLeft) StartScrollTimer(false);
  if (style_) RVData->MouseDown(button, shift, x, y);
}

void TCustomDocView::MouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y) {
  if (button == mbLeft) StopScrollTimer();
  if (style_) RVData->MouseUp(button, shift, x, y);
  if (style_ && button == mbRight) PopupAt(x, y);
}

void TCustomDocView::Click() {
  if (OnClick) OnClick(this);
}

void TCustomDocView::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

// ---- Text messages -----------------------------------------------------------------------------

int32_t TCustomDocView::WMGetTextLength() {
  if (!(Flags & 0x0800) || Destroying || RVData->ItemCount() == 0) return 0;
  return GetTextLength(*RVData);
}

int32_t TCustomDocView::WMGetText(int32_t text_max, char16_t* buffer) {
  if (!(Flags & 0x0800) || Destroying || text_max < 1 || RVData->ItemCount() == 0) return 0;
  const WideString text = GetTextRange(*RVData, 0, -1);
  const int32_t n = std::min<int32_t>(static_cast<int32_t>(text.size()), text_max - 1);
  if (buffer) {
    std::copy_n(text.data(), n, buffer);
    buffer[n] = 0;
  }
  return n;
}

uint32_t TCustomDocView::EMGetSel(int32_t* start, int32_t* end) {
  int32_t s, l;
  GetSelection(*RVData, s, l);
  int32_t e = s + l;
  if (l < 0) {
    e = s;
    s = s + l;
  }
  if (start) *start = s;
  if (end) *end = e;
  return (static_cast<uint32_t>(s) & 0xFFFF) | (static_cast<uint32_t>(e) << 16);
}

void TCustomDocView::EMSetSel(int32_t start, int32_t end) {
  SetSelection(*RVData, start, end - start);
  update();
}

int32_t TCustomDocView::EMGetTextRange(int32_t min, int32_t max, char16_t* buffer, int32_t capacity) {
  if (!buffer || capacity < 1) return 0;
  const WideString text = GetTextRange(*RVData, min, max < 0 ? -1 : max - min);
  const int32_t n = std::min<int32_t>(static_cast<int32_t>(text.size()), capacity - 1);
  std::copy_n(text.data(), n, buffer);
  buffer[n] = 0;
  return n;
}

int32_t TCustomDocView::WMSetText(const char* text) {
  if (!(Flags & 0x0800) || Destroying || !text) return 0;
  Clear();
  AddTextBlock(text, 0, 0, 0);
  Format();
  return 1;
}

bool TCustomDocView::IsCopyShortcut(TShiftState shift, int key) {
  return (shift & ssCtrl) && !(shift & ssAlt) && (key == Qt::Key_C || key == Qt::Key_Insert);
}

bool TCustomDocView::IsCutShortcut(TShiftState shift, int key) {
  return ((shift & ssCtrl) && !(shift & ssAlt) && key == Qt::Key_X) || ((shift & ssShift) && key == Qt::Key_Delete);
}

bool TCustomDocView::IsPasteShortcut(TShiftState shift, int key) {
  return ((shift & ssCtrl) && !(shift & ssAlt) && key == Qt::Key_V) || ((shift & ssShift) && key == Qt::Key_Insert);
}

namespace {
TShiftState ShiftOf(Qt::KeyboardModifiers m, Qt::MouseButtons b) {
  TShiftState s = 0;
  if (m & Qt::ShiftModifier) s |= ssShift;
  if (m & Qt::ControlModifier) s |= ssCtrl;
  if (m & Qt::AltModifier) s |= ssAlt;
  if (b & Qt::LeftButton) s |= ssLeft;
  if (b & Qt::RightButton) s |= ssRight;
  if (b & Qt::MiddleButton) s |= ssMiddle;
  return s;
}
TMouseButton ButtonOf(Qt::MouseButton b) {
  return b == Qt::RightButton ? mbRight : b == Qt::MiddleButton ? mbMiddle : mbLeft;
}
}  // namespace

void TCustomDocView::mousePressEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  MouseDown(ButtonOf(e->button()), ShiftOf(e->modifiers(), e->buttons()), p.x(), p.y());
}

void TCustomDocView::mouseMoveEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  MouseMove(ShiftOf(e->modifiers(), e->buttons()), p.x(), p.y());
}

void TCustomDocView::mouseReleaseEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  MouseUp(ButtonOf(e->button()), ShiftOf(e->modifiers(), e->buttons()), p.x(), p.y());
  if (rect().contains(p) && e->button() == Qt::LeftButton) Click();
}

bool TCustomDocView::SelectionExists() {
  if (TCustomRVFormattedData* sub = RVData->GetActiveSubData(); sub && sub != RVData.get()) {
    if (auto* editor = dynamic_cast<TCustomDocView*>(GetInplaceEditor())) return editor->SelectionExists();
    return sub->SelectionExists(true, true);
  }
  return RVData->SelectionExists(true, true);
}

void TCustomDocView::leaveEvent(QEvent* e) {
  QWidget::leaveEvent(e);
  RVData->ClearHoverAndRepaint();
}

namespace {
// A cursor of the resource set, drawn: a black arrow with a white rim pointing along
// (dx, dy) (one of the four axis directions), or the arrow of the left margin (pointing up
// and to the right).
QCursor DrawnCursor(int dx, int dy, bool flipped) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setPen(QPen(Qt::white, 1));
  p.setBrush(Qt::black);
  QPolygon shape;
  int hx = 0, hy = 0;
  if (flipped) {
    // The usual arrow mirrored: its tip at the top right.
    shape << QPoint(20, 1) << QPoint(20, 18) << QPoint(16, 14) << QPoint(13, 20) << QPoint(11, 19)
          << QPoint(14, 13) << QPoint(8, 13);
    hx = 20, hy = 1;
  } else if (dx > 0) {
    shape << QPoint(15, 8) << QPoint(8, 1) << QPoint(8, 5) << QPoint(1, 5) << QPoint(1, 11) << QPoint(8, 11)
          << QPoint(8, 15);
    hx = 15, hy = 8;
  } else {
    (void) dy;
    shape << QPoint(8, 15) << QPoint(1, 8) << QPoint(5, 8) << QPoint(5, 1) << QPoint(11, 1) << QPoint(11, 8)
          << QPoint(15, 8);
    hx = 8, hy = 15;
  }
  p.drawPolygon(shape);
  p.end();
  return QCursor(pm, hx, hy);
}
}  // namespace

QCursor TCustomDocView::QtCursor(TCursor cursor) {
  // The resource cursors of the library: the hyperlink hand (crJump), the table's row and
  // column selection arrows and the flipped arrow.
  constexpr TCursor kJump = 101, kSelectRow = 104, kSelectCol = 105, kFlipArrow = 106;
  switch (cursor) {
    case crDefault: return QCursor(Qt::ArrowCursor);
    case kJump: return QCursor(Qt::PointingHandCursor);
    case kSelectRow: return DrawnCursor(1, 0, false);
    case kSelectCol: return DrawnCursor(0, 1, false);
    case kFlipArrow: return DrawnCursor(0, 0, true);
    default: return QCursor(static_cast<Qt::CursorShape>(QtCursorShape(cursor)));
  }
}

void TCustomDocView::ApplyCursor(TCursor cursor) {
  if (cursor == applied_cursor_) return;
  applied_cursor_ = cursor;
  setCursor(QtCursor(cursor));
}

bool TCustomDocView::DragOver(TObject* source, int32_t x, int32_t y, TDragState state) {
  if (!OnDragOver) return false;
  bool accept = true;
  OnDragOver(this, source, x, y, state, accept);
  return accept;
}

void TCustomDocView::DragDrop(TObject* source, int32_t x, int32_t y) {
  if (OnDragDrop) OnDragDrop(this, source, x, y);
}

void TCustomDocView::mouseDoubleClickEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  // The control's event first, then the document's word selection.
  DblClick();
  if (style_) RVData->DblClickAt(p.x(), p.y());
}

void TCustomDocView::keyPressEvent(QKeyEvent* e) {
  QWidget::keyPressEvent(e);
  int key = e->key();
  TShiftState shift = ShiftOf(e->modifiers(), Qt::NoButton);
  if (key == Qt::Key_Backtab) {
    key = Qt::Key_Tab;
    shift |= ssShift;
  }
  KeyDown(key, shift);
}

bool TCustomDocView::CopyToClipboard() {
  if (auto* editor = dynamic_cast<TCustomDocView*>(GetInplaceEditor())) {
    PostMessage(editor->MessageHandle(), WM_COPY, 0, 0);
    return true;
  }
  return RVData->CopyToClipboard(GetColor(), Background.get());
}

void TCustomDocView::KeyDown(int key, TShiftState shift) {
  KeyDownScroll(key);
  if (IsCopyShortcut(shift, key)) CopyToClipboard();
  if (key == Qt::Key_Tab) {
    const bool ctrl = shift & ssCtrl;
    if (TabNavigation() != rvtnNone && !(shift & ssAlt) &&
        ((ctrl && TabNavigation() == rvtnCtrlTab) || (!ctrl && TabNavigation() == rvtnTab))) {
      RVData->State &= ~rvstFocusByMouse;
      TabNavigate((shift & ssShift) != 0, this);
    }
  } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    RVData->ExecuteTabFocused();
  }
  if (TRVSmartPopupButton* button = SmartPopupButton();
      button && ShortCutOf(key, shift) == SmartPopupProperties()->ShortCut)
    button->Click();
}

TShortCut TCustomDocView::ShortCutOf(int key, TShiftState shift) {
  // The platform's virtual-key codes of the Qt keys a shortcut may name.
  int vk = 0;
  if (key >= Qt::Key_A && key <= Qt::Key_Z)
    vk = key;  // 'A'..'Z'
  else if (key >= Qt::Key_0 && key <= Qt::Key_9)
    vk = key;  // '0'..'9'
  else if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
    vk = 0x70 + (key - Qt::Key_F1);
  else
    switch (key) {
      case Qt::Key_Backspace: vk = 0x08; break;
      case Qt::Key_Tab: vk = 0x09; break;
      case Qt::Key_Return:
      case Qt::Key_Enter: vk = 0x0D; break;
      case Qt::Key_Escape: vk = 0x1B; break;
      case Qt::Key_Space: vk = 0x20; break;
      case Qt::Key_PageUp: vk = 0x21; break;
      case Qt::Key_PageDown: vk = 0x22; break;
      case Qt::Key_End: vk = 0x23; break;
      case Qt::Key_Home: vk = 0x24; break;
      case Qt::Key_Left: vk = 0x25; break;
      case Qt::Key_Up: vk = 0x26; break;
      case Qt::Key_Right: vk = 0x27; break;
      case Qt::Key_Down: vk = 0x28; break;
      case Qt::Key_Insert: vk = 0x2D; break;
      case Qt::Key_Delete: vk = 0x2E; break;
      default: return 0;
    }
  TShortCut sc = static_cast<TShortCut>(vk);
  if (shift & ssShift) sc |= 0x2000;
  if (shift & ssCtrl) sc |= 0x4000;
  if (shift & ssAlt) sc |= 0x8000;
  return sc;
}

void GetTabOrderList(QWidget* container, std::vector<QWidget*>& list) {
  // The children in the order of the focus chain (the order Tab visits them), then any the
  // chain does not hold.
  std::vector<QWidget*> children;
  for (QWidget* w = container->nextInFocusChain(); w && w != container; w = w->nextInFocusChain())
    if (w->parentWidget() == container && !w->isWindow() &&
        std::find(children.begin(), children.end(), w) == children.end())
      children.push_back(w);
  for (QObject* o : container->children())
    if (auto* w = qobject_cast<QWidget*>(o);
        w && !w->isWindow() && std::find(children.begin(), children.end(), w) == children.end())
      children.push_back(w);
  auto* scroller = dynamic_cast<TRVScroller*>(container);
  for (QWidget* w : children) {
    // A scroller's own scroll bars are part of its frame.
    if (scroller && scroller->IsOwnScrollBar(w)) continue;
    list.push_back(w);
    if (auto* view = dynamic_cast<TCustomDocView*>(w))
      view->GetTabOrderList(list);
    else
      GetTabOrderList(w, list);
  }
}

void TCustomDocView::GetTabOrderList(std::vector<QWidget*>& list) {
  pelvar::GetTabOrderList(this, list);
  if (TabNavigation() == rvtnNone) return;
  for (size_t i = list.size(); i-- > 2;)
    if (list[i]->parentWidget() == this) list.insert(list.begin() + static_cast<std::ptrdiff_t>(i), this);
  if (list.size() > 1) list.push_back(this);
}

QWidget* FindNextTabControl(QWidget* form, QWidget* control, bool forward) {
  if (!form) return nullptr;
  std::vector<QWidget*> order;
  if (auto* view = dynamic_cast<TCustomDocView*>(form))
    view->GetTabOrderList(order);
  else
    GetTabOrderList(form, order);
  if (order.empty()) return nullptr;
  const int32_t n = static_cast<int32_t>(order.size());
  int32_t start = -1;
  for (int32_t i = 0; i < n && start < 0; ++i)
    if (order[static_cast<size_t>(i)] == control) start = i;
  if (start < 0) start = forward ? n - 1 : 0;
  for (int32_t k = 1; k < n; ++k) {
    QWidget* w = order[static_cast<size_t>(((start + (forward ? k : -k)) % n + n) % n)];
    if (w == control || control->isAncestorOf(w)) continue;
    if (w->isEnabled() && w->isVisibleTo(form) && (w->focusPolicy() & Qt::TabFocus)) return w;
  }
  return nullptr;
}

// ---- Tab navigation and focus ------------------------------------------------------------------


bool TCustomDocView::event(QEvent* e) {
  if (e->type() == QEvent::KeyPress && TakesTabKey()) {
    auto* k = static_cast<QKeyEvent*>(e);
    if ((k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab) &&
        !(k->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
      keyPressEvent(k);
      // Taken here: not passed on to the form, which would move the focus on.
      k->accept();
      return true;
    }
  }
  return TRVScroller::event(e);
}

bool TCustomDocView::focusNextPrevChild(bool next) {
  QWidget* focus = QApplication::focusWidget();
  QWidget* editor = GetInplaceEditor();
  if (TabNavigation() != rvtnNone && focus && focus != this && isAncestorOf(focus) &&
      !(editor && (focus == editor || editor->isAncestorOf(focus))))
    if (QWidget* target = FindNextTabControl(window(), focus, next)) {
      target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
      return true;
    }
  return TRVScroller::focusNextPrevChild(next);
}

void TCustomDocView::TabNavigate(bool backward, QWidget* prev_control) {
  TDocViewRVData& d = *RVData;

  // The focus came from a click or from outside the application.
  if (d.State & rvstFocusByMouse) {
    d.State &= ~rvstFocusByMouse;
    return;
  }
  if (prev_control && prev_control->window() != window()) return;
  if (d.FocusedItem != -1 && !prev_control) return;
  if (prev_control && prev_control != this) {
    // The item holding the control that had the focus becomes the focused item, so that the
    // navigation goes on from there.
    int32_t item_no = -1;
    TObject* owned = nullptr;
    for (QWidget* w = prev_control; w && w != this && item_no < 0; w = w->parentWidget()) {
      auto* obj = dynamic_cast<TObject*>(w);
      if (!obj) continue;
      if (d.FocusedItem >= 0 && d.FocusedItem < d.ItemCount() && d.GetItem(d.FocusedItem)->OwnsControl(obj))
        item_no = d.FocusedItem;
      else
        item_no = d.FindControlItemNo(obj);
      if (item_no < 0)
        for (int32_t i = 0; i < d.ItemCount() && item_no < 0; ++i)
          if (d.GetItem(i)->OwnsControl(obj)) item_no = i;
      owned = obj;
    }
    if (item_no >= 0) {
      TCustomRVItemInfo* item = d.GetItem(item_no);
      d.SetFocusedItem(item_no, nullptr, -1);
      TCustomRVData* inner_data = nullptr;
      TCustomRVItemInfo* inner_item = nullptr;
      if (item->AdjustFocusToControl(owned, inner_data, inner_item) && inner_data && inner_item) {
        d.TabNavRVData = dynamic_cast<TCustomRVFormattedData*>(inner_data);
        d.TabNavItemNo = inner_data->GetItemNo(inner_item);
      }
      if (item->GetBoolValue(7)) {
        d.TabNavItemNo = item_no;
        d.TabNavRVData = &d;
      }
    }
  }
  const bool had_item = d.FocusedItem >= 0;
  if (d.DoTabNavigation(backward)) return;
  // Nothing to focus in the document: a focus that came from elsewhere stays here.
  if (prev_control != this && !had_item) return;
  // Past the last focusable item the focus leaves for the next control of the form; with
  // none, the navigation wraps around inside the document.
  if (QWidget* next = FindNextTabControl(window(), this, !backward))
    next->setFocus(backward ? Qt::BacktabFocusReason : Qt::TabFocusReason);
  else if (had_item)
    d.DoTabNavigation(backward);
}

void TCustomDocView::focusInEvent(QFocusEvent* e) {
  QWidget* prev = ReportedFocus();
  if (prev == this) prev = nullptr;
  TRVScroller::focusInEvent(e);
  if (Destroying || ScrollerChainDestroying(this)) return;
  if (TabNavigation() != rvtnNone && !GetInplaceEditor()) {
    if (e->reason() == Qt::MouseFocusReason) {
      // A click brought the focus: the Tab focus stays where it is.
    } else {
      if (!prev) RVData->State |= rvstFocusByMouse;  // from outside the application
      const bool backward = e->reason() == Qt::BacktabFocusReason ||
                            (QGuiApplication::keyboardModifiers() & Qt::ShiftModifier);
      TabNavigate(backward, prev);
    }
  }
  if (style_ && (style_->SelColor != style_->InactiveSelColor || style_->SelTextColor != style_->InactiveSelTextColor))
    update();
}

void TCustomDocView::focusOutEvent(QFocusEvent* e) {
  TRVScroller::focusOutEvent(e);
  if (style_ && (style_->SelColor != style_->InactiveSelColor || style_->SelTextColor != style_->InactiveSelTextColor))
    update();
}

// ---- Messages ---------------------------------------------------------------------------------

void TCustomDocView::WndProc(TMessage& message) {
  if (message.Msg == WM_RVDRAGDROP) {
    RVData->StartOleDrag();
    return;
  }
  if (message.Msg == WM_COPY) {
    CopyToClipboard();
    return;
  }
  if (message.Msg != WM_RVEVENT) {
    TRVScroller::WndProc(message);
    return;
  }
  std::unique_ptr<TRVMessageData> data(reinterpret_cast<TRVMessageData*>(message.WParam));
  if (!data) return;
  switch (data->Kind) {
    case 0: {
      auto* d = static_cast<TRVDblClickMessageData*>(data.get());
      RVData->DoRVDblClick(d->ClickedWord, d->StyleNo);
      break;
    }
    case 1: RVData->DoJump(static_cast<TRVJumpMessageData*>(data.get())->id); break;
    case 2:
    case 3: {
      auto* d = static_cast<TRVMouseUpDownMessageData*>(data.get());
      if (data->Kind == 2)
        RVData->DoRVMouseUp(d->Button, d->Shift, d->ItemNo, d->X, d->Y);
      else
        RVData->DoRVMouseDown(d->Button, d->Shift, d->ItemNo, d->X, d->Y);
      break;
    }
    case 4: Click(); break;
    case 5: DblClick(); break;
    case 6: {
      auto* d = static_cast<TRVMouseMoveMessageData*>(data.get());
      MouseMove(d->Shift, d->X, d->Y);
      break;
    }
    case 7: {
      auto* d = static_cast<TRVDNDMessageData*>(data.get());
      DragDrop(d->Obj, d->X, d->Y);
      break;
    }
    case 8: {
      auto* d = static_cast<TRVDNDMessageData*>(data.get());
      if (OnEndDrag) OnEndDrag(this, d->Obj, d->X, d->Y);
      break;
    }
    default: break;
  }
}

// ---- Painting ---------------------------------------------------------------------------------

void TCustomDocView::PaintCaption(TCanvas& canvas, const TRect& clip, const AnsiString& text) {
  canvas.Brush().SetColor(GetColor());
  canvas.Brush().SetStyle(bsSolid);
  canvas.FillRect(clip);
  canvas.Pen().Color = clWindow;
  TFont& f = canvas.Font();
  f.SetName("MS Sans Serif");
  f.SetSize(8);
  f.SetColor(clWindowText);
  f.SetStyle(TFontStyles());
  canvas.Brush().SetStyle(bsClear);
  // Word-wrapped in the client rectangle, a line per carriage return.
  const int32_t width = std::max(ClientWidth(), 1);
  const int32_t line_height = canvas.TextHeight("Wy");
  int32_t y = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t cr = text.find('\r', start);
    if (cr == AnsiString::npos) cr = text.size();
    const AnsiString para = text.substr(start, cr - start);
    AnsiString line;
    size_t p = 0;
    while (p <= para.size()) {
      size_t sp = para.find(' ', p);
      if (sp == AnsiString::npos) sp = para.size();
      const AnsiString word = para.substr(p, sp - p);
      const AnsiString candidate = line.empty() ? word : line + " " + word;
      if (!line.empty() && canvas.TextWidth(candidate) > width) {
        canvas.TextOut(0, y, line);
        y += line_height;
        line = word;
      } else {
        line = candidate;
      }
      p = sp + 1;
    }
    canvas.TextOut(0, y, line);
    y += line_height;
    start = cr + 1;
  }
}

void TCustomDocView::PaintOn(TCanvas& canvas, const TRect& clip) {
  if (!style_) {
    const AnsiString name = objectName().toStdString();
    PaintCaption(canvas, clip,
                 "Style is not defined\rCreate a TRVStyle object and assign it to " + name + ".Style");
    return;
  }
  RVData->PaintBuffered(canvas, clip);
  if (OnPaint) OnPaint(this, canvas, false);
}

void TCustomDocView::paintEvent(QPaintEvent* e) {
  TQtWidgetCanvas canvas(this);
  const QRect r = e->rect();
  PaintOn(canvas, TRect{r.left(), r.top(), r.right() + 1, r.bottom() + 1});
}

void TCustomDocView::resizeEvent(QResizeEvent* e) {
  TRVScroller::resizeEvent(e);
  format_canvas_.reset();
  DoFormat(true, false, false, false, false);
}

}  // namespace pelvar
