// The viewer control: a scroller that owns one document, its background, margins, width
// limits, options and events. It formats on resize and on request, paints the document
// (or a caption when it has no style sheet) through an off-screen picture, scrolls while
// a mouse selection leaves the window, and takes the events that nested editors post to
// it.
#pragma once

#include <QCursor>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/classes.h"
#include "platform/screen.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/view/RVBack.h"
#include "richtext/view/RVPopup.h"
#include "richtext/view/RVRVData.h"
#include "richtext/view/RVScroll.h"
#include "richtext/view/RVThread.h"

namespace pelvar {

class TCustomImageList;

enum TTextLayout : uint8_t { tlTop, tlCenter, tlBottom };
enum TRVAnimationMode : uint8_t { rvaniDisabled, rvaniManualStart, rvaniOnFormat };
enum TRVLiveSpellingMode : uint8_t { rvlspManualStart, rvlspOnChange };
enum TMouseButton : uint8_t { mbLeft, mbRight, mbMiddle };
using TShiftState = uint32_t;
constexpr TShiftState ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32;

// The message that carries events forwarded from a nested editor (its first parameter is
// a TRVMessageData the receiver frees).
constexpr uint32_t WM_RVEVENT = WM_USER + 15;
// The edit commands of the platform's windows.
constexpr uint32_t WM_CUT = 0x0300;
constexpr uint32_t WM_COPY = 0x0301;
constexpr uint32_t WM_PASTE = 0x0302;

class TRVMessageData {
 public:
  explicit TRVMessageData(uint8_t kind) : Kind(kind) {}
  virtual ~TRVMessageData() = default;
  uint8_t Kind;
};
class TRVClickMessageData : public TRVMessageData {
 public:
  using TRVMessageData::TRVMessageData;
};
class TRVDblClickMessageData : public TRVMessageData {
 public:
  TRVDblClickMessageData() : TRVMessageData(0) {}
  AnsiString ClickedWord;
  int32_t StyleNo = 0;
};
class TRVJumpMessageData : public TRVMessageData {
 public:
  TRVJumpMessageData() : TRVMessageData(1) {}
  int32_t id = 0;
};
class TRVMouseMoveMessageData : public TRVMessageData {
 public:
  explicit TRVMouseMoveMessageData(uint8_t kind = 6) : TRVMessageData(kind) {}
  int32_t X = 0, Y = 0, ItemNo = 0;
  TShiftState Shift = 0;
};
class TRVMouseUpDownMessageData : public TRVMouseMoveMessageData {
 public:
  explicit TRVMouseUpDownMessageData(uint8_t kind) : TRVMouseMoveMessageData(kind) {}
  TMouseButton Button = mbLeft;
};
class TRVDNDMessageData : public TRVMessageData {
 public:
  using TRVMessageData::TRVMessageData;
  int32_t X = 0, Y = 0;
  TObject* Obj = nullptr;
};

// The next control of the form in tab order (GetTabOrderList) after (before) control that
// takes the focus by Tab, control and its children excepted; nullptr when there is none.
QWidget* FindNextTabControl(QWidget* form, QWidget* control, bool forward);
// The tab order of the controls inside container: each child in the order Tab visits them,
// followed by the list of its own controls (a viewer's as its GetTabOrderList gives it).
void GetTabOrderList(QWidget* container, std::vector<QWidget*>& list);

class TCustomDocView : public TRVScroller, public TRVSpellingHost {
 public:
  explicit TCustomDocView(QWidget* parent = nullptr);
  ~TCustomDocView() override;

  std::unique_ptr<TDocViewRVData> RVData;
  uint16_t Flags = 0x0D03;
  // The cursor over the document's text (the editor's is the I-beam).
  TCursor Cursor = crDefault;
  // Shows cursor as the widget's mouse pointer: the framework's cursors by their Qt shapes,
  // the hyperlink cursor as a pointing hand, and the drawn cursors of the resource set (the
  // table's row and column selection arrows, the flipped arrow of the left margin).
  void ApplyCursor(TCursor cursor);
  static QCursor QtCursor(TCursor cursor);
  std::unique_ptr<TRVBackground> Background;
  TStringList DocProperties;
  int32_t ScrollDX = 0, ScrollDY = 0;
  bool ScrollTimerActive = false;
  uint8_t CheckpointEventKind = 0;
  int32_t ImageSaveNo = 0;
  AnsiString ImagesPrefix;
  bool OverwriteImages = false;
  TColor ImagesBackColor = 0;

  // ---- Properties ----
  TRVStyle* Style() const { return style_; }
  virtual void SetStyle(TRVStyle* value);
  TRVOptions Options;
  TRVRTFOptions RTFOptions;
  TRVFOptions RVFOptions;
  TRVFReaderStyleMode RVFTextStylesReadMode = rvf_sInsertMerge;
  TRVFReaderStyleMode RVFParaStylesReadMode = rvf_sInsertMerge;
  AnsiString Delimiters;
  int32_t MaxLength = 0;
  int32_t LeftMargin = 5, RightMargin = 5, TopMargin = 5, BottomMargin = 5;
  int32_t MaxTextWidth = 0, MinTextWidth = 0;
  TColor Color = clNone;
  TTextLayout VAlign = tlTop;
  TRVLiveSpellingMode LiveSpellingMode = rvlspManualStart;
  TRVAnimationMode AnimationMode() const { return animation_mode_; }
  void SetAnimationMode(TRVAnimationMode value);
  // Picture animation driven by one timer with the shortest period any animator has left.
  void StartAnimation();
  void StopAnimation();
  void ResetAnimation();
  bool AnimationStarted = false;
  // One period of the animation timer elapsed (the timer's handler).
  void OnAnimationTimer();
  // Called by the document after it took an animator in.
  void AnimatorInserted();
  TBackgroundStyle BackgroundStyle() const { return Background->Style; }
  void SetBackgroundStyle(TBackgroundStyle value);
  TRVTabNavigationType TabNavigation() const { return RVData->TabNavigation; }
  void SetTabNavigation(TRVTabNavigationType value) { RVData->TabNavigation = value; }
  TRVSmartPopupProperties* SmartPopupProperties();
  void SetSmartPopupProperties(TRVSmartPopupProperties* value);
  // The context menu of the control (forgotten when it is destroyed).
  QPointer<TPopupMenu> PopupMenu;
  // The metrics formatting measures with (DejaVu through Qt unless set).
  void SetTextMetrics(std::shared_ptr<TTextMetrics> metrics);
  TCanvas* FormatCanvas();

  // ---- Operations ----
  void Format();
  void Reformat();
  void Clear();
  void AddTextBlock(const AnsiString& text, int32_t style_no, int32_t first_para_no, int32_t other_para_no);
  void AddItem(const AnsiString& text, TCustomRVItemInfo* item) { RVData->AddItem(text, item); }
  int32_t GetItemCount() const { return RVData->ItemCount(); }
  int32_t GetDocumentHeight() const { return RVData->DocumentHeight; }
  TColor GetColor() const;
  void Deselect() { RVData->Deselect(nullptr, true); }
  // The whole document or its selection in the native format with the control's layout
  // (margins, width limits, BiDi mode), background and colour; False when writing failed.
  bool SaveRVFToStream(TStream& stream, bool selection_only);
  // The document or its selection as RTF, with the control's background and colour.
  bool SaveRTFToStream(TStream& stream, bool selection_only);
  // Plain text in the ANSI code page, and in UTF-16 (no byte-order mark).
  bool SaveTextToStream(const AnsiString& path, TStream& stream, int32_t line_width, bool selection_only,
                        bool text_only);
  bool SaveTextToStreamW(const AnsiString& path, TStream& stream, int32_t line_width, bool selection_only,
                         bool text_only);
  // Replaces the document by a native-format stream; its colour and background (with
  // rvfoLoadBack) and its layout block (with rvfoLoadLayout) go to the control. The
  // document is formatted afterwards. False when the stream was not read whole.
  bool LoadRVFFromStream(TStream& stream);
  // Takes the margins, width limits and BiDi mode of a native document's layout block.
  virtual void ApplyLayoutInfo(const TRVLayoutInfo& layout);
  // A selection exists: while a cell is edited, in that cell; otherwise in selected cells or
  // in the document.
  bool SelectionExists();
  void SetSelectionBounds(int32_t start_item_no, int32_t start_offs, int32_t end_item_no, int32_t end_offs) {
    RVData->SetSelectionBounds(start_item_no, start_offs, end_item_no, end_offs);
  }
  // The copy command (WM_COPY): with an in-place editor the editor copies; otherwise the
  // document copies in the formats Options enable, with the control's colour and
  // background.
  bool CopyToClipboard();
  bool OleIsDragging() override { return RVData->IsDragging(); }
  // The edit-control text messages over the linear character positions (answered only
  // with Flags bit 11 set; 0 otherwise). Texts are UTF-16; buffers hold max characters
  // with the terminating zero.
  int32_t WMGetTextLength();
  int32_t WMGetText(int32_t text_max, char16_t* buffer);
  uint32_t EMGetSel(int32_t* start, int32_t* end);
  void EMSetSel(int32_t start, int32_t end);
  // The text from min to max (a negative max: to the end), cut to the buffer's capacity
  // (characters including the terminating zero), so a range to the end never runs past it.
  int32_t EMGetTextRange(int32_t min, int32_t max, char16_t* buffer, int32_t capacity);
  // Replaces the document by the text (paragraphs of style 0) and formats it; 1 when the
  // text was set, 0 for no text or when the messages are not answered.
  int32_t WMSetText(const char* text);
  void ClearTemporal();
  void BackgroundChanged();
  void RefreshChain(bool refresh);
  // Invalidates the control and each in-place editor down the chain (up to one without a
  // window or being destroyed).
  void InvalidateChain();
  // ---- Context menu and smart-popup button ----
  // Asks OnContextPopup (point in client coordinates); Handled stops the menu.
  void DoContextPopup(TPoint mouse_pos, bool& handled);
  // The context menu for a right click at a client point: the root control's
  // OnContextPopup may take it, else the first PopupMenu from this control up through its
  // parents pops up there when its AutoPopup is on.
  void PopupAt(int32_t x, int32_t y);
  // The context menu asked for from the keyboard: the root control's, at its top left.
  void KeyboardContextMenu();
  // The first PopupMenu of this control or of a viewer it lies in.
  TPopupMenu* FindPopupMenu();
  // The control of the root document (a cell editor's is the control of the table).
  TCustomDocView* RootControl();
  // Shows the smart-popup button of the root document next to item item_no of rvdata
  // (nullptr: this control's document), replacing a button shown before.
  void ShowSmartPopup(TCustomRVFormattedData* rvdata, int32_t item_no);
  void HideSmartPopup();
  // The button shown now (nullptr when none).
  TRVSmartPopupButton* SmartPopupButton();
  void GenerateMouseMove();
  void StartScrollTimer(bool slow);
  void StopScrollTimer();
  void OnScrollTimer();
  // Paints the clip rectangle of the client area on canvas (the paint event's work).
  void PaintOn(TCanvas& canvas, const TRect& clip);
  // The scroll direction while selecting with the mouse outside the client area.
  void MouseMove(TShiftState shift, int32_t x, int32_t y);
  void MouseDown(TMouseButton button, TShiftState shift, int32_t x, int32_t y);
  void MouseUp(TMouseButton button, TShiftState shift, int32_t x, int32_t y);
  void Click();
  void DblClick();
  // A key pressed (Qt key code): scrolling keys, Tab navigation, Enter on the focused item.
  void KeyDown(int key, TShiftState shift);
  // The controls inside this one in tab order: its inserted controls; with Tab navigation
  // the control itself stands before each of them and after the last, so that Tab from an
  // inserted control comes back to the document, which moves on to its next focusable item.
  virtual void GetTabOrderList(std::vector<QWidget*>& list);
  void SetVSmallStep(int32_t value) override;
  void SetBiDiMode(TRVBiDiMode value) override;
  void ResetScrollPosition() override;
  void UpdateScrollBarsToClient() override;
  // The shortcut code of a key with its shift state (the platform's virtual key in the low
  // byte, 0x2000 Shift, 0x4000 Ctrl, 0x8000 Alt); 0 for keys a shortcut cannot name.
  static TShortCut ShortCutOf(int key, TShiftState shift);
  static bool IsCopyShortcut(TShiftState shift, int key);
  static bool IsCutShortcut(TShiftState shift, int key);
  static bool IsPasteShortcut(TShiftState shift, int key);

  // ---- Live spelling (RVThread.cpp) ----
  // Only a root control with OnSpellingCheck and a style sheet starts it.
  void StartLiveSpelling();
  void StopLiveSpelling();
  void ClearLiveSpellingResults();
  void LiveSpellingScheduleFrom(TCustomRVData* rvdata, int32_t item_no, int32_t offs);
  void LiveSpellingForgetData(TCustomRVData* cell_data);
  // After one character ch was inserted at offs of an item, and after count characters
  // were deleted at offs.
  void LiveSpellingCharInserted(TCustomRVData* rvdata, int32_t item_no, int32_t offs, char16_t ch);
  void LiveSpellingTextDeleted(TCustomRVData* rvdata, int32_t item_no, int32_t offs, int32_t count);
  void LiveSpellingRestartDelayed();
  void LiveSpellingRecheckModifiedWord(TCustomRVData* rvdata, int32_t item_no);
  std::unique_ptr<TRVWordEnumThread> WordEnumThread;
  TCustomRVData* SpellingRootData() override { return RVData.get(); }
  bool IsSpellingCheckAssigned() override { return static_cast<bool>(OnSpellingCheck); }
  void DoSpellingCheck(const AnsiString& word, int32_t style_no, bool& misspelled) override {
    if (OnSpellingCheck) OnSpellingCheck(this, word, style_no, misspelled);
  }

  // ---- Events ----
  // Runs in the live-spelling thread: a handler must not touch the GUI.
  std::function<void(TCustomDocView*, const AnsiString&, int32_t, bool&)> OnSpellingCheck;
  std::function<void(TCustomDocView*, int32_t, AnsiString&)> OnURLNeeded;
  std::function<void(TCustomDocView*, int32_t)> OnJump;
  std::function<void(TCustomDocView*, int32_t)> OnRVMouseMove;
  std::function<void(TCustomDocView*, TMouseButton, TShiftState, int32_t, int32_t, int32_t)> OnRVMouseDown;
  std::function<void(TCustomDocView*, TMouseButton, TShiftState, int32_t, int32_t, int32_t)> OnRVMouseUp;
  std::function<void(TCustomDocView*, const AnsiString&, int32_t)> OnRVDblClick;
  std::function<void(TCustomDocView*, const AnsiString&, int32_t, int32_t, int32_t)> OnRVRightClick;
  std::function<void(TCustomDocView*)> OnSelect;
  // Before copying: the handler may put its own formats on the open clipboard.
  std::function<void(TCustomDocView*)> OnCopy;
  std::function<void(TCustomDocView*, TCanvas&, bool)> OnPaint;
  std::function<void(TCustomDocView*, TCustomRVData*, int32_t, AnsiString&)> OnItemHint;
  // A typed character before it reaches the document; a handler may change it or clear it (0).
  std::function<void(TCustomDocView*, char16_t&)> OnKeyPress;
  std::function<void(TCustomDocView*)> OnClick;
  std::function<void(TCustomDocView*)> OnDblClick;
  std::function<void(TCustomDocView*, TShiftState, int32_t, int32_t)> OnMouseMove;
  // The framework's drag events (a drag no drop target of the control takes): OnDragOver
  // says whether a drop at the client point would be accepted (accept enters True), and
  // OnDragDrop takes the drop.
  std::function<void(TCustomDocView*, TObject*, int32_t, int32_t, TDragState, bool&)> OnDragOver;
  std::function<void(TCustomDocView*, TObject*, int32_t, int32_t)> OnDragDrop;
  bool HasDragOverHandler() override { return static_cast<bool>(OnDragOver); }
  bool DragOver(TObject* source, int32_t x, int32_t y, TDragState state) override;
  void DragDrop(TObject* source, int32_t x, int32_t y) override;
  std::function<void(TCustomDocView*, TObject*, int32_t, int32_t)> OnEndDrag;
  // What the native format does not carry: image lists by Tag, controls and pictures by
  // name and tag; and the text that stands for a control in text, HTML and RTF exports.
  std::function<void(TCustomDocView*, int32_t, TCustomImageList*&)> OnRVFImageListNeeded;
  std::function<void(TCustomDocView*, const AnsiString&, const TRVTag&, TObject*&)> OnRVFControlNeeded;
  std::function<void(TCustomDocView*, const AnsiString&, const TRVTag&, TGraphic*&)> OnRVFPictureNeeded;
  std::function<void(TCustomDocView*, const AnsiString&, TObject*, TRVSaveFormat, AnsiString&)> OnSaveComponentToFile;
  // Before a context menu pops up (point in client coordinates; (-1, -1) from the keyboard).
  std::function<void(TCustomDocView*, TPoint, bool&)> OnContextPopup;
  std::function<void(TCustomDocView*, TRVSmartPopupButton*)> OnSmartPopupClick;
  // Another checkpoint became the visible one while scrolling (nullptr: none); when it is
  // raised is set by CheckpointEventKind (1 the section the view is in, 2 a checkpoint in
  // view, other values never).
  std::function<void(TCustomDocView*, TRVCPInfo*)> OnCheckpointVisible;

 protected:
  void CreateWnd() override;
  void DoVScrolled() override;
  void DoHScrolled() override;
  void WndProc(TMessage& message) override;
  void DoFormat(bool keep_position, bool force, bool only_tail, bool width_flag1, bool width_flag2);
  // Hooks of the editor: the point where a context menu pops up, and the item the
  // smart-popup button belongs to.
  virtual void AdjustPopupMenuPos(TPoint& /*pt*/) {}
  virtual void AdjustSmartPopup() {}
  // The framework's own context menu handling at a screen point ((-1, -1): from the
  // keyboard, the menu at the top left corner).
  void InheritedContextPopup(TPoint screen_pt);
  void contextMenuEvent(QContextMenuEvent* e) override;
  void PaintCaption(TCanvas& canvas, const TRect& clip, const AnsiString& text);

  void paintEvent(QPaintEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  // The mouse left the control: the hovered hyperlink is forgotten and repainted.
  void leaveEvent(QEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  // When TakesTabKey, the control takes the Tab key itself (the framework would move the
  // focus on); Tab in an inserted control goes back to the document.
  bool event(QEvent* e) override;
  // Whether Tab (and Shift+Tab) reach keyPressEvent: with Tab navigation.
  virtual bool TakesTabKey() { return TabNavigation() == rvtnTab; }
  bool focusNextPrevChild(bool next) override;
  // The focus arrives: Tab navigation from the control that had it; a change of the look
  // of the selection between active and inactive repaints.
  void focusInEvent(QFocusEvent* e) override;
  void focusOutEvent(QFocusEvent* e) override;
  // Tab navigation (backward with Shift) from prev_control (the control itself for a Tab
  // key, the control that lost the focus when the focus arrives, nil from outside).
  void TabNavigate(bool backward, QWidget* prev_control);

 private:
  TRVStyle* style_ = nullptr;
  TRVAnimationMode animation_mode_ = rvaniManualStart;
  TCursor applied_cursor_ = crDefault;
  std::unique_ptr<TRVSmartPopupProperties> smart_popup_;
  std::shared_ptr<TTextMetrics> metrics_;
  std::unique_ptr<TRVMeasureCanvas> format_canvas_;
  std::unique_ptr<TTimer> scroll_timer_;
  std::unique_ptr<TTimer> animation_timer_;
  void SetAnimationTimer(int32_t period);
  // Told when the style sheet goes away, so that the control forgets it.
  class TStyleWatch : public TComponent {
   public:
    explicit TStyleWatch(TCustomDocView* view) : TComponent(nullptr), view_(view) {}
    void Notification(TComponent* component, TOperation operation) override;

   private:
    TCustomDocView* view_;
  };
  std::unique_ptr<TStyleWatch> style_watch_;
};

}  // namespace pelvar
