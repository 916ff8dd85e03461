#include "wizard/FormModel.h"

#include <algorithm>

namespace pelvar {

TScreenMetrics& FormScreen() {
  static TScreenMetrics screen;
  return screen;
}

TFormModel::TFormModel(TComponent* owner) : TComponent(owner) {}

TFormModel::~TFormModel() { BeforeDestruction(); }

void TFormModel::BeforeDestruction() {
  if (destruction_begun_) return;
  destruction_begun_ = true;
  if (OnDestroy) {
    try {
      OnDestroy(this);
    } catch (...) {
      Application()->HandleException(this);
    }
  }
  TMessage destroy{WM_DESTROY, 0, 0, 0};
  WndProc(destroy);
  // Owned components (the placement among them) go while the form's members still exist.
  Destroying();
  DestroyComponents();
}

void TFormModel::SetBounds(int32_t left, int32_t top, int32_t width, int32_t height) {
  bounds_ = TRect{left, top, left + std::max(width, 0), top + std::max(height, 0)};
}

void TFormModel::Show() {
  visible_ = true;
  if (OnShow) OnShow(this);
  // The framework's own placement comes after OnShow, so OnShow can switch it off.
  const TScreenMetrics& screen = FormScreen();
  switch (position_) {
    case poScreenCenter:
    case poDesktopCenter:
    case poMainFormCenter:
    case poOwnerFormCenter:
      SetBounds(std::max(0, (screen.Width - Width()) / 2),
                std::max(0, (screen.Height - Height()) / 2), Width(), Height());
      break;
    default:
      break;
  }
}

bool TFormModel::CloseQuery() {
  bool can_close = true;
  if (OnCloseQuery) OnCloseQuery(this, can_close);
  return can_close;
}

bool TFormModel::Close() {
  if (!CloseQuery()) return false;
  visible_ = false;
  return true;
}

LRESULT TFormModel::Perform(uint32_t msg, WPARAM wparam, LPARAM lparam) {
  TMessage m{msg, wparam, lparam, 0};
  WndProc(m);
  return m.Result;
}

void TFormModel::WndProc(TMessage& message) {
  // A copy: a handler may add or remove hooks.
  const std::vector<TWindowHook*> hooks = hooks_;
  bool handled = false;
  for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) {
    if ((*it)->BeforeMessage) (*it)->BeforeMessage(*it, message, handled);
  }
  if (!handled || message.Msg == WM_DESTROY) DefaultHandler(message);
  for (auto it = hooks.rbegin(); it != hooks.rend(); ++it) {
    bool after_handled = false;
    if ((*it)->AfterMessage) (*it)->AfterMessage(*it, message, after_handled);
  }
}

TMinMaxInfo TFormModel::GetMinMaxInfo() {
  TMinMaxInfo info;
  Perform(WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  return info;
}

void TFormModel::DefaultHandler(TMessage& message) {
  const TScreenMetrics& screen = FormScreen();
  switch (message.Msg) {
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<TMinMaxInfo*>(message.LParam);
      info->ptMaxSize = {screen.Width, screen.Height};
      info->ptMaxPosition = {0, 0};
      info->ptMinTrackSize = {112, 27};
      info->ptMaxTrackSize = {screen.Width, screen.Height};
      break;
    }
    case WM_NCHITTEST: {
      const int32_t x = static_cast<int16_t>(message.LParam & 0xFFFF);
      const int32_t y = static_cast<int16_t>((message.LParam >> 16) & 0xFFFF);
      const TRect& r = bounds_;
      if (x < r.Left || x >= r.Right || y < r.Top || y >= r.Bottom) {
        message.Result = HTNOWHERE;
        break;
      }
      constexpr int32_t kEdge = 4;
      constexpr int32_t kCaption = 20;
      if (Sizeable()) {
        const bool left = x < r.Left + kEdge, right = x >= r.Right - kEdge;
        const bool top = y < r.Top + kEdge, bottom = y >= r.Bottom - kEdge;
        if (top && left) { message.Result = HTTOPLEFT; break; }
        if (top && right) { message.Result = HTTOPRIGHT; break; }
        if (bottom && left) { message.Result = HTBOTTOMLEFT; break; }
        if (bottom && right) { message.Result = HTBOTTOMRIGHT; break; }
        if (left) { message.Result = HTLEFT; break; }
        if (right) { message.Result = HTRIGHT; break; }
        if (top) { message.Result = HTTOP; break; }
        if (bottom) { message.Result = HTBOTTOM; break; }
      }
      message.Result = border_style_ != bsNone && y < r.Top + kCaption ? HTCAPTION : HTCLIENT;
      break;
    }
    default:
      break;
  }
}

void TFormModel::AddWindowHook(TWindowHook* hook) {
  if (std::find(hooks_.begin(), hooks_.end(), hook) == hooks_.end()) hooks_.push_back(hook);
}

void TFormModel::RemoveWindowHook(TWindowHook* hook) {
  hooks_.erase(std::remove(hooks_.begin(), hooks_.end(), hook), hooks_.end());
}

// ---------------------------------------------------------------------------------------

TWindowHook::TWindowHook(TComponent* owner) : TComponent(owner) {}

TWindowHook::~TWindowHook() { Unhook(); }

void TWindowHook::SetActive(bool v) {
  active_ = v;
  if (v) {
    Hook();
  } else {
    Unhook();
  }
}

void TWindowHook::SetWinControl(TFormModel* form) {
  if (form == win_control_) return;
  Unhook();
  if (win_control_ && win_control_ != Owner()) win_control_->RemoveFreeNotification(this);
  win_control_ = form;
  if (win_control_ && win_control_ != Owner()) win_control_->FreeNotification(this);
  if (active_) Hook();
}

void TWindowHook::Hook() {
  if (hooked_ || !win_control_) return;
  win_control_->AddWindowHook(this);
  hooked_ = true;
}

void TWindowHook::Unhook() {
  if (!hooked_) return;
  if (win_control_) win_control_->RemoveWindowHook(this);
  hooked_ = false;
}

void TWindowHook::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == win_control_) {
    Unhook();
    win_control_ = nullptr;
  }
}

}  // namespace pelvar
