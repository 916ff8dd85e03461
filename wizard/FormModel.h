// The headless model of a top-level form: its bounds, window state, border, position
// rule, visibility, modal result and the events OnShow, OnCloseQuery and OnDestroy. The
// form's logic (and the form-placement family) works on this model; the Qt view that
// shows the form mirrors it and reports the user's moves and resizes back into it.
//
// The model is also a message target: messages sent to it pass through the window hooks
// installed on it (TWindowHook) before and after its own default handling, the way a
// subclassed window procedure works. The view asks it for the track sizes
// (WM_GETMINMAXINFO) and the hit-test result of a point (WM_NCHITTEST).
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/application.h"
#include "platform/classes.h"
#include "platform/graphics.h"
#include "platform/types.h"

namespace pelvar {

// The screen the forms are placed on. The Qt view sets it from the primary screen at
// start; headless it is 1024 x 768 at 96 pixels per inch.
struct TScreenMetrics {
  int32_t Width = 1024;
  int32_t Height = 768;
  int32_t PixelsPerInch = 96;
};
TScreenMetrics& FormScreen();

enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TPosition {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};

// Window messages the form model understands.
constexpr uint32_t WM_DESTROY = 0x0002;
constexpr uint32_t WM_GETMINMAXINFO = 0x0024;
constexpr uint32_t WM_NCHITTEST = 0x0084;

// Hit-test results.
constexpr LRESULT HTNOWHERE = 0;
constexpr LRESULT HTCLIENT = 1;
constexpr LRESULT HTCAPTION = 2;
constexpr LRESULT HTLEFT = 10;
constexpr LRESULT HTRIGHT = 11;
constexpr LRESULT HTTOP = 12;
constexpr LRESULT HTTOPLEFT = 13;
constexpr LRESULT HTTOPRIGHT = 14;
constexpr LRESULT HTBOTTOM = 15;
constexpr LRESULT HTBOTTOMLEFT = 16;
constexpr LRESULT HTBOTTOMRIGHT = 17;

// WM_GETMINMAXINFO's LParam points to one of these.
struct TMinMaxInfo {
  TPoint ptReserved;
  TPoint ptMaxSize;
  TPoint ptMaxPosition;
  TPoint ptMinTrackSize;
  TPoint ptMaxTrackSize;
};

// WM_NCHITTEST's LParam: a screen point packed as x | y << 16 (16-bit signed each).
constexpr LPARAM PointToLParam(int32_t x, int32_t y) {
  return static_cast<LPARAM>(static_cast<uint16_t>(x) |
                             (static_cast<uint32_t>(static_cast<uint16_t>(y)) << 16));
}

class TFormModel;
class TWindowHook;

using TCloseQueryEvent = std::function<void(TObject* sender, bool& can_close)>;
using THookMessageEvent = std::function<void(TObject* sender, TMessage& msg, bool& handled)>;

class TFormModel : public TComponent, public TMessageTarget {
 public:
  explicit TFormModel(TComponent* owner = nullptr);
  // Calls BeforeDestruction when the derived form has not done so.
  ~TFormModel() override;

  // The start of the form's destruction, while it is still whole: runs OnDestroy (a
  // failure goes to the application's handler), sends WM_DESTROY through the hooks, and
  // destroys the owned components (the placement among them). Runs once. A derived form
  // whose OnDestroy or owned components use its own members calls it first thing in its
  // destructor.
  void BeforeDestruction();

  int32_t Left() const { return bounds_.Left; }
  int32_t Top() const { return bounds_.Top; }
  int32_t Width() const { return bounds_.Width(); }
  int32_t Height() const { return bounds_.Height(); }
  void SetLeft(int32_t v) { SetBounds(v, Top(), Width(), Height()); }
  void SetTop(int32_t v) { SetBounds(Left(), v, Width(), Height()); }
  void SetWidth(int32_t v) { SetBounds(Left(), Top(), v, Height()); }
  void SetHeight(int32_t v) { SetBounds(Left(), Top(), Width(), v); }
  void SetBounds(int32_t left, int32_t top, int32_t width, int32_t height);
  // The normal (restored) position, also while minimised or maximised.
  const TRect& BoundsRect() const { return bounds_; }
  void SetBoundsRect(const TRect& r) { SetBounds(r.Left, r.Top, r.Width(), r.Height()); }

  TWindowState WindowState() const { return window_state_; }
  void SetWindowState(TWindowState v) { window_state_ = v; }
  TFormBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TFormBorderStyle v) { border_style_ = v; }
  // True for the borders the user can size.
  bool Sizeable() const { return border_style_ == bsSizeable || border_style_ == bsSizeToolWin; }
  TPosition Position() const { return position_; }
  void SetPosition(TPosition v) { position_ = v; }
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  int ModalResult() const { return modal_result_; }
  void SetModalResult(int v) { modal_result_ = v; }
  // The name of the control that has the focus (empty: none).
  const AnsiString& ActiveControl() const { return active_control_; }
  void SetActiveControl(const AnsiString& name) { active_control_ = name; }

  // Shows the form: places it by its Position rule, makes it visible and runs OnShow.
  void Show();
  // Asks OnCloseQuery; when the form may close it is hidden and the result is true.
  bool Close();
  // Runs OnCloseQuery (true when no handler objects).
  bool CloseQuery();

  TNotifyEvent OnShow;
  TCloseQueryEvent OnCloseQuery;
  TNotifyEvent OnDestroy;

  // Sends a message through the hooks and the default handling; returns its result.
  LRESULT Perform(uint32_t msg, WPARAM wparam, LPARAM lparam);
  void WndProc(TMessage& message) override;
  // The track sizes the view must keep to (after the hooks had their say).
  TMinMaxInfo GetMinMaxInfo();

  // The hooks on this form's message procedure, called from the last added to the first.
  void AddWindowHook(TWindowHook* hook);
  void RemoveWindowHook(TWindowHook* hook);

 protected:
  // What the form itself does with a message: the default track sizes, a hit test from
  // the bounds (a sizeable border has 4-pixel sizing edges, the caption is 20 pixels).
  virtual void DefaultHandler(TMessage& message);

 private:
  TRect bounds_{0, 0, 560, 420};
  TWindowState window_state_ = wsNormal;
  TFormBorderStyle border_style_ = bsSizeable;
  TPosition position_ = poDesigned;
  bool visible_ = false;
  int modal_result_ = 0;
  AnsiString active_control_;
  std::vector<TWindowHook*> hooks_;
  bool destruction_begun_ = false;
};

// A hook on a form's message procedure: every message goes first to BeforeMessage (which
// may mark it handled), then to the form's own handling unless handled (WM_DESTROY
// always), then to AfterMessage.
class TWindowHook : public TComponent {
 public:
  explicit TWindowHook(TComponent* owner);
  ~TWindowHook() override;

  bool Active() const { return active_; }
  void SetActive(bool v);
  TFormModel* WinControl() const { return win_control_; }
  void SetWinControl(TFormModel* form);

  THookMessageEvent BeforeMessage;
  THookMessageEvent AfterMessage;

  void Notification(TComponent* component, TOperation operation) override;

 private:
  void Hook();
  void Unhook();
  bool active_ = true;
  bool hooked_ = false;
  TFormModel* win_control_ = nullptr;
};

}  // namespace pelvar
