// The scrolling base of the viewer: a Qt widget with the scroll model of the document (the
// vertical position in steps of VSmallStep pixels, the horizontal one in pixels), its two
// scroll bars, scrolling of the client area and of the inserted controls, keyboard and
// wheel scrolling, the palette policy and the chosen sub-document with its in-place
// editor.
//
// The window handle of the platform is the widget's "window created" state: it is made by
// HandleNeeded (also on the first show) and everything that needs it does nothing before.
// An inserted control is a child widget; its property "Tag" holds its top in client
// coordinates, unclamped, while its geometry keeps the top within -10000..10000.
#pragma once

#include <QScrollBar>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/application.h"
#include "platform/canvas.h"
#include "richtext/model/CRVData.h"
#include "richtext/view/RVXPTheme.h"

namespace pelvar {

enum TBorderStyle : uint8_t { bsNone, bsSingle };

// Scroll-bar codes of the scroll messages.
constexpr int32_t SB_LINEUP = 0;
constexpr int32_t SB_LINEDOWN = 1;
constexpr int32_t SB_PAGEUP = 2;
constexpr int32_t SB_PAGEDOWN = 3;
constexpr int32_t SB_THUMBPOSITION = 4;
constexpr int32_t SB_THUMBTRACK = 5;
constexpr int32_t SB_TOP = 6;
constexpr int32_t SB_BOTTOM = 7;
constexpr uint32_t WM_HSCROLL = 0x0114;
constexpr uint32_t WM_VSCROLL = 0x0115;

// What a scroll bar holds (the platform's scroll info).
struct TRVScrollInfo {
  int32_t Min = 0, Max = 0, Page = 0, Pos = 0;
};

// The top of an inserted control from its Tag, clamped to -10000..10000.
int32_t ControlTopFromTag(QWidget* control);
// Makes control the focused control of its window when it can take the focus.
void FocusControlInForm(QWidget* control);
// The control, or a scroller it lies in, is being destroyed.
bool ScrollerChainDestroying(QWidget* control);
void ApplyControlTopFromTag(QWidget* control);
int32_t ControlTag(QWidget* control);
void SetControlTag(QWidget* control, int32_t tag);

class TCustomRVFormattedData;
class IDataObject;

// A logical palette entry and the default palette of 216 colours (entry r + 6g + 36b holds
// red r*51, green g*51, blue b*51 for r, g, b in 0..5).
struct TRVPaletteEntry {
  uint8_t Red = 0, Green = 0, Blue = 0, Flags = 0;
};
struct TRVLogPalette {
  uint16_t Version = 0x300;
  std::vector<TRVPaletteEntry> Entries;
};
std::unique_ptr<TRVLogPalette> CreateDefaultPalette();

class TRVScroller : public QWidget {
 public:
  explicit TRVScroller(QWidget* parent = nullptr);
  ~TRVScroller() override;

  int32_t VSmallStep = 1;
  bool FullRedraw = false;
  bool UpdatingScrollBars = false;
  int32_t VScrollMax = 0, VScrollPage = 0, HScrollMax = 0, HScrollPage = 0;
  bool VDisableNoScroll = false;
  int32_t HPos = 0, VPos = 0, XSize = 0, YSize = 0;
  bool KeyboardScroll = true;
  TCustomRVItemInfo* ChosenItem = nullptr;
  TCustomRVFormattedData* ChosenRVData = nullptr;
  int32_t LineStepCount = 1;
  std::function<void(TRVScroller*)> OnVScrolled;
  std::function<void(TRVScroller*)> OnHScrolled;
  std::function<void(TRVScroller*)> OnResize;

  // ---- Properties ----
  TBorderStyle BorderStyle() const { return border_style_; }
  void SetBorderStyle(TBorderStyle value);
  bool Tracking() const { return tracking_; }
  void SetTracking(bool value) { tracking_ = value; }
  bool VScrollVisible() const { return vscroll_visible_; }
  void SetVScrollVisible(bool value);
  bool HScrollVisible() const { return hscroll_visible_; }
  void SetHScrollVisible(bool value);
  int32_t WheelStep() const { return wheel_step_; }
  void SetWheelStep(int32_t value) { wheel_step_ = value; }
  TRVPaletteAction DoInPaletteMode() const { return palette_mode_; }
  void SetDoInPaletteMode(TRVPaletteAction value);
  TRVBiDiMode BiDiMode() const { return bidi_mode_; }
  virtual void SetBiDiMode(TRVBiDiMode value);
  bool UseXPThemes() const { return use_xp_themes_; }
  void SetUseXPThemes(bool value);
  // How many times the window was (re)created.
  int32_t WindowGeneration() const { return generation_; }

  // ---- The window ----
  bool HandleAllocated() const { return created_; }
  void HandleNeeded();
  void RecreateWnd();
  HWND MessageHandle() const { return target_->Handle(); }
  int32_t ClientWidth() const;
  int32_t ClientHeight() const;
  // Loading from a stream (the setters then act as while loading).
  bool Loading = false;
  bool Destroying = false;

  // ---- Scrolling ----
  void UpdateScrollBars(int32_t x_size, int32_t y_size, bool update_horizontal, bool allow_disable_no_scroll);
  virtual void SetVPos(int32_t pos, bool redraw);
  virtual void SetHPos(int32_t pos);
  virtual void SetVSmallStep(int32_t value) { VSmallStep = value; }
  void ScrollTo(int32_t y) { SetVPos(y, true); }
  void ScrollToY(int32_t y) { SetVPos(y / VSmallStep, true); }
  void ScrollToYNoRedraw(int32_t y) { SetVPos(y / VSmallStep, false); }
  void MoveChildControls(int32_t dx, int32_t dy);
  virtual void ResetScrollPosition() { VPos = HPos = 0; }
  virtual void UpdateScrollBarsToClient();
  virtual int32_t GetDefSmallStep() { return 10; }
  // The scroll messages (code, thumb position).
  void WMVScroll(int32_t code, int32_t pos);
  void WMHScroll(int32_t code, int32_t pos);
  // The wheel: one notch down or up; True when handled.
  bool DoMouseWheelDown();
  bool DoMouseWheelUp();
  // What the vertical and horizontal bar show.
  TRVScrollInfo VBarInfo() const { return vbar_info_; }
  TRVScrollInfo HBarInfo() const { return hbar_info_; }

  // ---- Palette ----
  virtual void UpdatePaletteInfo();
  bool HasPalette() const { return palette_ != nullptr; }
  // Whether the screen shows colours through a palette (never on this platform).
  static bool ScreenIsPaletteBased() { return false; }

  // ---- Chosen sub-document ----
  void AssignChosenRVData(TCustomRVFormattedData* rvdata, TCustomRVItemInfo* item);
  void SilentReplaceChosenRVData(TCustomRVFormattedData* rvdata);
  void UnassignChosenRVData(TCustomRVData* rvdata);
  TCustomRVData* GetChosenRVData();
  // The in-place editor of a table cell (none here; an editor that hosts one answers it).
  virtual QWidget* GetInplaceEditor();
  // Frees the in-place editor (an editor that hosts cell editors closes its cell editor,
  // which gives the cell its items back).
  virtual void DestroyInplaceEditor();
  // The control or an in-place editor down its chain has the focus.
  bool ChainFocused();

  // ---- Theme ----
  HTHEME ThemeData = nullptr;
  virtual void CreateThemeData();
  virtual void FreeThemeData();

  // ---- OLE drag-and-drop hooks (the editor answers them) ----
  virtual bool OleDragEnterAllowed(int32_t, int32_t) { return false; }
  virtual void OleDragLeft() {}
  virtual bool OleDragMoved(int32_t, int32_t) { return false; }
  virtual void OleForgetTarget() {}
  virtual bool OleFormatAccepted(uint16_t) { return false; }
  // Points are client points; effects are the platform's DROPEFFECT bits.
  virtual void OleDragEnterEvent(IDataObject* /*data_object*/, uint32_t /*key_state*/, TPoint /*pt*/,
                                 uint32_t /*possible_effects*/, uint32_t& /*effect*/) {}
  virtual void OleDragOverEvent(uint32_t /*key_state*/, TPoint /*pt*/, uint32_t /*possible_effects*/,
                                uint32_t& /*effect*/) {}
  // The effect performed by a drop (0 none).
  virtual uint32_t OleDropped(IDataObject* /*data_object*/, bool /*move*/, uint32_t /*key_state*/, TPoint /*pt*/,
                              uint32_t /*possible_effects*/) {
    return 0;
  }
  // A drag of this control's own selection is running.
  virtual bool OleIsDragging() { return false; }
  // ---- The framework's drag events ----
  // A drag that no drop target of the control takes (none is registered, or it shows no
  // effect) goes to these: HasDragOverHandler keeps its moves coming, DragOver answers
  // whether a drop would be accepted, DragDrop takes the drop. Client points; the source is
  // the dragged framework object, nil for a drag that carries none (every Qt drag).
  enum TDragState : uint8_t { dsDragEnter, dsDragLeave, dsDragMove };
  virtual bool HasDragOverHandler() { return false; }
  virtual bool DragOver(TObject* /*source*/, int32_t /*x*/, int32_t /*y*/, TDragState /*state*/) { return false; }
  virtual void DragDrop(TObject* /*source*/, int32_t /*x*/, int32_t /*y*/) {}
  // A screen point in client coordinates.
  TPoint ScreenToClient(TPoint pt) const;
  // One of the control's own scroll bars (part of its frame, not an inserted control).
  bool IsOwnScrollBar(const QWidget* w) const { return w && (w == vbar_ || w == hbar_); }

 protected:
  virtual void CreateWnd();
  virtual void DestroyWnd();
  virtual void DoVScrolled();
  virtual void DoHScrolled();
  virtual void WndProc(TMessage& message);
  void KeyDownScroll(int key);
  void LayoutBars();
  void SetBarInfo(bool vertical, const TRVScrollInfo& info, bool disable_no_scroll);

  void resizeEvent(QResizeEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void focusInEvent(QFocusEvent* e) override;
  // Drops reach the drop target registered for the control's window (RVDragDrop.h).
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dragLeaveEvent(QDragLeaveEvent* e) override;
  void dropEvent(QDropEvent* e) override;

  TRVScrollInfo vbar_info_, hbar_info_;

 private:
  // The running drag goes to the framework's drag events (no drop target took it), its
  // last point and whether DragOver accepted it there.
  bool framework_drag_ = false;
  bool framework_drop_accepted_ = false;
  QPoint framework_drag_pos_;
  // The drag at a point, when no drop target took it: asks DragOver and answers the event.
  void FrameworkDragOver(QDropEvent* e, TDragState state);
  TBorderStyle border_style_ = bsNone;
  bool tracking_ = true;
  bool vscroll_visible_ = true;
  bool hscroll_visible_ = true;
  TRVPaletteAction palette_mode_ = rvpaCreateCopies;
  TRVBiDiMode bidi_mode_ = rvbdUnspecified;
  bool use_xp_themes_ = true;
  int32_t wheel_step_ = 2;
  bool created_ = false;
  int32_t generation_ = 0;
  std::unique_ptr<TRVLogPalette> palette_;
  QScrollBar* vbar_ = nullptr;
  QScrollBar* hbar_ = nullptr;
  bool bars_syncing_ = false;
  std::unique_ptr<TMessageWindow> target_;
  // The dropped data of the drag over the control (between enter and leave or drop).
  std::shared_ptr<IDataObject> drag_data_;
};

}  // namespace pelvar
