// The document data with a layout: formatting the items into draw items (lines, indents,
// alignment, justification, line spacing, tabs, right-to-left order), the per-pass
// text-metric caches, look-ups over the draw items, minimal widths, partial reformatting
// of a range of paragraphs and painting the formatted document onto a canvas.
//
// All coordinates are device pixels of the formatting canvas; style values are screen
// pixels scaled through a TRVScreenAndDevice record (the identity on screen).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/application.h"
#include "platform/canvas.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/RVFuncs.h"
#include "richtext/model/RVItem.h"
#include "richtext/model/RVStyle.h"
#include "richtext/view/DLines.h"

namespace pelvar {

class TCustomRVFormattedData;
class TRVBackground;

// What an item draws in XOR mode over the document (a table's resize line): drawing it a
// second time at the same place erases it.
class TRVXorDrawer {
 public:
  virtual ~TRVXorDrawer() = default;
  virtual void XorDraw(TCustomRVFormattedData* rvdata, int32_t shift, int32_t x, int32_t y) = 0;
};

// Posted to the root control when a press inside the selection may start a drag.
constexpr uint32_t WM_RVDRAGDROP = WM_USER + 16;
class TRVAnimatorList;
class TRVDropSource;
struct TRVDragDropCaretInfo;

// ---- Text-metric caches -------------------------------------------------------------------
// A canvas that only measures, with the metrics of another canvas (one per text style in
// the fast cache).
class TRVMeasureCanvas : public TCanvas {
 public:
  explicit TRVMeasureCanvas(TTextMetrics& metrics, TSize size) : metrics_(metrics), size_(size) {}
  TTextMetrics& Metrics() override { return metrics_; }
  TSize SurfaceSize() const override { return size_; }

 protected:
  void DevPolyline(const std::vector<TPoint>&) override {}
  void DevPolygon(const std::vector<TPoint>&) override {}
  void DevRectangle(const TRect&) override {}
  void DevEllipse(const TRect&) override {}
  void DevFillRect(const TRect&, TColor, TBrushStyle) override {}
  void DevFocusRect(const TRect&) override {}
  TColor DevPixel(int32_t, int32_t) override { return clWhite; }
  void DevSetPixel(int32_t, int32_t, TColor) override {}
  void DevText(int32_t, int32_t, const WideString&, const std::vector<int32_t>&, const TRect*) override {}
  void DevStretchPixels(const TRect&, const TPixelImage&, const TRect&) override {}

 private:
  TTextMetrics& metrics_;
  TSize size_;
};

class TRVFontInfoCacheItem {
 public:
  TRVBiDiMode BiDiMode = rvbdUnspecified;
  TCanvas* Canvas = nullptr;
  TTextMetric TextMetric;
  TFontInfo* FontInfo = nullptr;
  int32_t VShiftPixels = 0;
  int32_t HyphenHeight = 0;
  int32_t HyphenWidth = 0;
  std::unique_ptr<TCanvas> OwnCanvas;  // the fast cache's canvas of this style
};

class TRVFontInfoCache {
 public:
  TRVFontInfoCache(TCustomRVData* owner, bool can_use_custom_ppi, TCanvas* canvas, TRVStyle* rvstyle);
  virtual ~TRVFontInfoCache() = default;

  TCanvas* Canvas;
  TRVStyle* RVStyle;
  bool CanUseCustomPPI;
  TCustomRVData* Owner;
  TRVBiDiMode BiDiMode = rvbdUnspecified;
  uint8_t HyphenQuery = 0;
  int32_t AppliedStyle = -1;

  virtual TRVFontInfoCacheItem* GetItem(int32_t style_no) = 0;

 protected:
  TRVFontInfoCacheItem* Slot(int32_t style_no);
  void Measure(TRVFontInfoCacheItem& item, int32_t style_no);
  std::vector<std::unique_ptr<TRVFontInfoCacheItem>> items_;
};

// One measuring canvas per text style used in the pass.
class TRVFontInfoCacheFast : public TRVFontInfoCache {
 public:
  using TRVFontInfoCache::TRVFontInfoCache;
  TRVFontInfoCacheItem* GetItem(int32_t style_no) override;
};

// Every style shares the cache's canvas; fonts are applied again when the style changes.
class TRVFontInfoCacheLowResource : public TRVFontInfoCache {
 public:
  using TRVFontInfoCache::TRVFontInfoCache;
  TRVFontInfoCacheItem* GetItem(int32_t style_no) override;
};

// ---- Hyperlink areas ----------------------------------------------------------------------
struct TRVJumpInfo {
  TCustomRVData* RVData = nullptr;
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;
  int32_t Id = 0;
  int32_t DrawItemNo = 0;
  TCursor Cursor = 0;
  // The area's offset inside its draw item (areas of an item's sub-documents).
  int32_t DX = 0, DY = 0;
};

// ---- Mouse selection by words -----------------------------------------------------------
enum TRVWordState : uint8_t { wsInWord, wsOutsideWord, wsFree, wsParagraphs };

// Exists only while the mouse selects by words or paragraphs.
struct TRVSelectingInfo {
  int32_t StartOffs = 0, EndOffs = 0;
  int32_t StartWordFrom = 0, StartWordTo = 0;
  int32_t EndWordFrom = -1, EndWordTo = -1;
  int32_t StartDItem = -1, EndDItem = -1;
  TRVWordState StartWordState = wsFree, EndWordState = wsInWord;
};

// Shift-state bits and buttons of the document's mouse handlers (the control's numbering).
constexpr uint32_t rvssShift = 1, rvssLeft = 8, rvssDouble = 64;
constexpr int32_t rvmbLeft = 0, rvmbRight = 1;

// ---- The line being built ----------------------------------------------------------------
struct TRVLineBuildState {
  int32_t X = 0;
  int32_t Y = 0;
  int32_t Below = 0;
  int32_t Above = 0;
  bool ParaStart = true;
  int32_t LineWidth = -1;
  int32_t LineLeft = 0;
  int32_t DrawItemNo = 0;
  int32_t VShift = 0;
  int32_t TabLeft = 0;
  int32_t RightIndent = 0;
  int32_t CurStyle = -1;
  int32_t FirstParaItem = -1;
  int32_t CharsInLine = 0;
  int32_t MaxLength = 0;
  bool WidthFlag1 = false;
  bool WidthFlag2 = false;
  bool SkipFinish = true;
  bool HasAbsAligned = false;
  int32_t PendingTab = -1;
  TRVTabAlign TabAlign = rvtaLeft;
  int32_t TabPos = 0;
  bool SpaceDropped = false;
  TRVFontInfoCache* Cache = nullptr;
  TCanvas* Canvas = nullptr;
  TTextMetric Metric;
  // Kept between lines: the height the finished line adds below itself, and the index of
  // the current line's first draw item.
  int32_t LineExtra = 0;
  int32_t LineStart = 0;
  TRVScreenAndDevice SAD;
};

// Control flag word bits that formatting reads.
constexpr uint16_t rvflJumps = 0x0001;
constexpr uint16_t rvflDropWrapSpace = 0x0002;
constexpr uint16_t rvflNoReposition = 0x0004;
constexpr uint16_t rvflExternalLeading = 0x0008;
constexpr uint16_t rvflPrintingDrawItems = 0x0020;
constexpr uint16_t rvflExactMeasure = 0x0040;
constexpr uint16_t rvflRoot = 0x0100;
constexpr uint16_t rvflCustomPPI = 0x0400;

// The library-wide switch of swallowed spaces shown as visible spaces (never set here).
extern bool ShowSwallowedSpaces;
// Value 4 of ShownSpecialCharacters: paragraph and line-break marks.
constexpr uint8_t rvscParagraph = 4;

class TCustomRVFormattedData : public TCustomRVData {
 public:
  TCustomRVFormattedData();
  ~TCustomRVFormattedData() override;

  TRVDrawLines DrawLines;
  std::vector<std::unique_ptr<TRVJumpInfo>> Jumps;
  int32_t JumpCount = 0;
  int32_t LastFormattedItem = -1;
  int32_t DocumentWidth = -1;
  int32_t DocumentHeight = 0;
  int32_t TextWidth = -1;
  bool FormatGuard = false;
  // Selection in draw-item terms.
  int32_t FSelStartNo = -1, FSelEndNo = -1, FSelStartOffs = 0, FSelEndOffs = 0;
  // Hovered hyperlink id (-1 none), the focused item, the current item (editor).
  int32_t LastJumpMovedAbove = -1;
  int32_t FocusedItem = -1;
  // The place a sub-document's Tab navigation reached (set by the item that holds the
  // sub-document while this document asks it, see FindNextFocusableItem).
  TCustomRVFormattedData* FocusReachedData = nullptr;
  int32_t FocusReachedItemNo = -1;
  // The item that captured the mouse (a table while resizing), or nullptr.
  TCustomRVItemInfo* CaptureMouseItem = nullptr;
  int32_t CurrentItemNo = -1;
  // Soft page breaks shown with rvoShowPageBreaks: (item, offset, extra; -1 none).
  struct TRVSoftPageBreakInfo {
    int32_t ItemNo, Offset, ExtraData;
  };
  std::unique_ptr<std::vector<TRVSoftPageBreakInfo>> SoftPageBreaks;

  // Mouse state: the hyperlink under a left press, the draw item under the mouse at the
  // last hit test and at the last press (-1 none); the word-selection record.
  int32_t PressedJumpId = -1;
  int32_t MouseDItem = -1;
  int32_t ClickedDItem = -1;
  std::unique_ptr<TRVSelectingInfo> SelectingInfo;
  // The animators of the pictures of a root document (RVAnimate.h).
  std::unique_ptr<TRVAnimatorList> AnimatorList;

  // ---- Formatting ----
  virtual void FormatDocument(bool keep_position, bool force, bool no_scroll, int32_t depth, TCanvas* canvas,
                              bool only_tail, bool width_flag1, bool width_flag2);
  void ReformatAll(bool width_flag1) { FormatDocument(false, true, false, 0, GetCanvas(), false, width_flag1, false); }
  virtual void ClearTemporal();
  void Clear() override;
  void BeginFormat() { State |= rvstFormatting; }
  void EndFormat() { State &= ~rvstFormatting; }
  void GetLineIndents(int32_t item_no, bool is_first_line, int32_t& first_para_item, int32_t& line_indent,
                      int32_t& right_indent, int32_t& tab_left);

  // ---- Hooks the owner answers (a bare document: no control, no margins) ----
  virtual TCanvas* GetCanvas() { return nullptr; }
  virtual int32_t GetLeftMargin() { return 0; }
  virtual int32_t GetRightMargin() { return 0; }
  virtual int32_t GetTopMargin() { return 0; }
  virtual int32_t GetBottomMargin() { return 0; }
  virtual int32_t GetMinTextWidth() { return 0; }
  virtual int32_t GetMaxTextWidth() { return 0; }
  virtual int32_t GetAreaWidth() { return 0; }
  virtual int32_t GetAreaHeight() { return 0; }
  // The scroller's document width (pixels).
  virtual int32_t GetDocumentAreaWidth() { return DocumentWidth + GetLeftMargin() + GetRightMargin(); }
  virtual int32_t GetHOffs() { return 0; }
  virtual int32_t GetVOffs() { return 0; }
  virtual int32_t GetVSmallStep() { return 1; }
  virtual int32_t GetVAlignOffset() { return 0; }
  virtual void GetOrigin(int32_t& x, int32_t& y) { x = 0, y = 0; }
  virtual void GetOriginEx(int32_t& x, int32_t& y) { GetOrigin(x, y); }
  // True when the area's width or height changed (a scroll bar appeared or vanished).
  virtual bool SetDocumentAreaSize(int32_t /*width*/, int32_t /*height*/, bool /*redraw*/) { return false; }
  virtual void AdjustVScrollUnits() {}
  virtual void ScrollTo(int32_t /*y*/, bool /*redraw*/) {}
  virtual void HScrollTo(int32_t /*x*/) {}
  virtual void AfterFormatRange(int32_t /*first*/, int32_t /*last*/, bool /*partial*/) {}
  virtual void GetResolutions(TCanvas& canvas, TRVScreenAndDevice& sad);
  virtual TRVFontInfoCache* CreateFontInfoCache(TCanvas* canvas);
  virtual TRVFontInfoCache* GetFontInfoCache(TCanvas* canvas, TCustomRVFormattedData* requester);
  virtual void DestroyFontInfoCache(TRVFontInfoCache*& cache);
  // Painting hooks.
  virtual TColor GetColor();
  virtual TRVBackground* GetBackground() { return nullptr; }
  virtual bool IsFocused() { return false; }
  virtual void InvalidateRectangle(const TRect& /*r*/) {}
  virtual void UpdateView() {}
  virtual void AfterPaint(TCanvas& /*canvas*/, int32_t /*x_shift*/, int32_t /*y_shift*/, int32_t /*first*/,
                          int32_t /*last*/) {}
  virtual void AfterControlsRepositioned(TCustomRVData* /*rvdata*/) {}
  virtual void MoveInsertedControl(TRVControlItemInfo* /*item*/, int32_t /*x*/, int32_t /*y*/) {}

  // ---- Mouse, hyperlinks and selection (client coordinates) ----
  void MouseDown(int32_t button, uint32_t shift, int32_t x, int32_t y);
  void MouseMove(uint32_t shift, int32_t x, int32_t y);
  void MouseUp(int32_t button, uint32_t shift, int32_t x, int32_t y);
  void DblClickAt(int32_t x, int32_t y);
  void HitTestDrawItem(int32_t x, int32_t y);
  // Mouse capture by an item: moves and releases go to it until it releases the capture or
  // leaves the document; left and top are those of its draw item under the mouse.
  void SetMouseCapture(TCustomRVItemInfo* item, int32_t& left, int32_t& top);
  void ReleaseMouseCapture(TCustomRVItemInfo* item);
  // XOR drawing: one registered drawer, drawn at the mouse position on every move.
  void AssignXorDrawing(TRVXorDrawer* drawer);
  void UnassignXorDrawing(TRVXorDrawer* drawer);
  bool UsesXorDrawing(const TRVXorDrawer* drawer) const { return drawer && drawer == XorDrawingCallback; }
  void XorDrawing();
  void SetXorDrawingPos(int32_t x, int32_t y);
  bool ClearXorDrawing();
  TRVXorDrawer* XorDrawingCallback = nullptr;
  bool XorDrawingVisible = false;
  int32_t XorDrawingX = 0, XorDrawingY = 0;
  // Posts WM_RVDRAGDROP to the root control (nothing without a control).
  virtual void PostDragStart() {}
  // The control's answer to WM_RVDRAGDROP: runs a whole drag of the selection through the
  // platform's drag-and-drop service (RVDragDrop.cpp).
  virtual void StartOleDrag();
  // An item leaving the document gives up its mouse capture.
  void FreeItem(TCustomRVItemInfo* item, bool clearing) override;
  // A mouse move handed to the item under the mouse (the captured item's draw item while
  // an item holds the capture), then the cursor.
  void ForwardMouseMove(uint32_t shift, int32_t x, int32_t y);
  // The word under a client point: its text (empty on a delimiter), item, offset of its
  // first character and style; False when no draw item lies there.
  bool GetWordAt(int32_t x, int32_t y, AnsiString& word, int32_t& item_no, int32_t& offs, int32_t& style_no);
  // The same, descending into the sub-document under the point (a table's cell): rvdata
  // is the document holding the word.
  bool GetWordAt(int32_t x, int32_t y, AnsiString& word, TCustomRVFormattedData*& rvdata, int32_t& item_no,
                 int32_t& offs, int32_t& style_no);
  bool GetWordAtDocPoint(int32_t dx, int32_t dy, AnsiString& word, TCustomRVFormattedData*& rvdata, int32_t& item_no,
                         int32_t& offs, int32_t& style_no);
  bool IsInsideWord(int32_t d_item_no, int32_t offs);
  void GetWordBounds(int32_t d_item_no, int32_t offs, int32_t& from, int32_t& to);
  bool IsDrawItemParaStart(int32_t d_item_no);
  // Draw-item predicates of painting, hit tests and the caret (d_item_no is a valid draw item).
  // The first draw item of its item; of an item that starts a line; the last of its paragraph.
  bool IsDrawItemItemStart(int32_t d_item_no);
  bool IsDrawItemFromNewLine(int32_t d_item_no);
  bool IsDrawItemParaEnd(int32_t d_item_no);
  // Starts a screen line (also right after a list marker of another item).
  bool IsDrawItemLineStart(int32_t d_item_no);
  // The next screen line begins by wrapping, not with an item of a new line.
  bool IsWrappedLineEnd(int32_t d_item_no);
  // Characters of the item after the draw item are shown by no draw item (a space the wrap
  // swallowed).
  bool HasSwallowedTail(int32_t d_item_no);
  // The top left of an item's first draw item in document coordinates; False when the item
  // has no draw item. The client variant subtracts the scroll offsets.
  bool GetItemCoords(int32_t item_no, int32_t& left, int32_t& top);
  bool GetItemClientCoords(int32_t item_no, int32_t& left, int32_t& top);
  // The innermost document, item and offset at a document point (a cell of a table under it
  // included, the point converted into the cell); over_control tells that the item there is
  // an inserted control. rvdata nil when no item lies there.
  void FindPositionAt(int32_t x, int32_t y, TCustomRVFormattedData*& rvdata, int32_t& item_no, int32_t& offs,
                      bool& over_control);
  bool IsMultiParaSelection();
  // The document's own selection; with use_partial an item's own inner selection (selected
  // cells) counts. An empty selection is removed with remove_empty unless the mouse is still
  // selecting. A chosen cell answers for the document. (The control's SelectionExists
  // also asks the cell being edited.)
  bool SelectionExists(bool remove_empty, bool use_partial = true);
  // The document of the in-place editor that stands for a sub-document (nil here).
  virtual TCustomRVFormattedData* GetActiveSubData() { return nullptr; }
  // The active sub-document: a cell whose selection stands for the document's (the
  // control's document keeps it in its control; nothing here). Ending it here only marks
  // that the sub-document ended.
  virtual void SetActiveSubData(TCustomRVFormattedData* /*rvdata*/, TCustomRVItemInfo* /*item*/) {}
  virtual void ClearActiveSubData() { State |= rvstSubDataEnded; }
  // The item whose sub-document is active (nil here).
  virtual TCustomRVItemInfo* GetActiveSubDataItem() { return nullptr; }
  // Ends the active sub-document unless except owns it (a new selection in this document
  // replaces the one in the cell).
  void EndActiveSubData(const TCustomRVItemInfo* except);
  // A cell document that holds a selection of its own and is not its parent's active
  // sub-document tells its table, which makes the cell the chosen one; not when bit 15 of
  // the root control's flag word is set.
  void UpdateParentSelection();
  bool IsInSelectionDItem(int32_t d_item_no, int32_t offs, bool include_edges);
  // The same in item terms; a cell document first asks whether its table lies inside the
  // selection of the document around it.
  bool IsInSelection(int32_t item_no, int32_t offs, bool include_edges);
  // Scrolls so that a rectangle of the document (document coordinates) can be seen.
  virtual void ShowRectangle(int32_t left, int32_t top, int32_t width, int32_t height);
  // Selects length characters of an item from offs (backwards when reverse: the anchor is
  // the range's end) and brings the start of the selection into view.
  virtual void SelectItemRange(int32_t item_no, int32_t offs, int32_t length, bool reverse);
  // Deleting items first removes the selection, which would point at draw items of
  // items that no longer exist.
  void DeleteItems(int32_t first_item_no, int32_t count) override;
  bool SelectionIsForward();
  bool ExtendSelection(int32_t x, int32_t y);
  bool ExtendSelectionByLines(int32_t x, int32_t y);
  void ExpandSelectionToLines(bool collapse);
  bool ExpandSelectionToParagraphs(bool only_if_multi_para);
  // Sets the selection in item terms; a position on a list marker moves to the next item.
  void SetSelectionBounds(int32_t start_item_no, int32_t start_offs, int32_t end_item_no, int32_t end_offs);
  virtual void Deselect(TCustomRVItemInfo* new_partially_selected, bool make_event);
  // Makes item (a table whose selected cells stand for the selection) the partly selected
  // item: the document's own selection and any other item's go, with OnSelect. Nothing when
  // item is partly selected already.
  void SetPartiallySelected(TCustomRVItemInfo* item);
  // Tab navigation. Does the item take the focus itself (a hyperlink, a control that takes
  // the focus).
  bool TakesFocus(int32_t item_no);
  // The next item after item_no (before it going back) that takes the focus, or that holds
  // one inside (a table asks its cells): the item of this document, -1 when none; rvdata and
  // inner_item_no name the document and item that take the focus (this one's own or a cell's).
  int32_t FindNextFocusableItem(int32_t item_no, bool go_forward, TCustomRVFormattedData*& rvdata,
                                int32_t& inner_item_no);
  // The focused item drops its inner focus.
  void ClearItemFocus();
  virtual void SelectionChanged(bool /*redraw*/) { ResetAnimation(); }
  // At the end of a mouse selection (the editor selects a clicked picture or control whole).
  virtual void DoSelectClickedItem() {}
  // Animation: the root document keeps the list (a full list frees the animator).
  virtual bool AllowAnimation() { return true; }
  void InsertAnimator(std::unique_ptr<TRVAnimatorBase>& animator);
  virtual void AfterAnimatorInserted() {}
  void ResetAnimation();
  void ForgetAnimators();
  virtual void InvalidateControl() { InvalidateRectangle(TRect{0, 0, GetAreaWidth(), GetAreaHeight()}); }
  // Repaints the control showing the document at once (all of it), or paints at once only
  // what is waiting to be repainted; nothing for a document without a control.
  virtual void RefreshControl() {}
  // The mouse is over item_no of rvdata (-1: over no item): with rvoShowItemHints the control
  // shows the item's hint (its Hint, or what OnItemHint makes of it) as a tool tip, and an
  // empty hint takes the tool tip away. A nested document asks its root.
  virtual void ShowItemHint(TCustomRVData* rvdata, int32_t item_no) {
    auto* root = dynamic_cast<TCustomRVFormattedData*>(GetAbsoluteRootData());
    if (root && root != this) root->ShowItemHint(rvdata, item_no);
  }
  virtual void UpdateControl() {}
  virtual void SetControlCursor(TCursor /*cursor*/) {}
  // Mouse points are clamped to the client area while a mouse selection is extended
  // (unless the flag word's bit 4 says otherwise); a nested document never clamps.
  virtual bool MouseCoordsClamped() { return !(GetFlags() & 0x0010); }
  virtual TCursor GetControlCursor() { return 0; }
  // ---- Drag and drop (RVDragDrop.cpp): a nested document asks its absolute root ----
  // The drop source of the running drag (the root's; the source clears it when it goes),
  // and the client point of the press that asked for the drag.
  TRVDropSource* DropSource = nullptr;
  int32_t DragStartX = 0, DragStartY = 0;
  virtual bool CanStartDragging();
  virtual bool IsDragging();
  // Creates the drop source of a drag of the selection; True only when it made one.
  virtual bool InitDragDropSource(std::shared_ptr<TRVDropSource>& source, uint32_t& ok_effects);
  virtual void DoneDragDropSource(bool moved);
  // The drop caret of an editor (none in a viewer).
  virtual TRVDragDropCaretInfo* GetDragDropCaretInfo();
  // The drop caret at a client point, at an item position, and drawn in inverting mode.
  void MoveDragDropCaret(int32_t x, int32_t y);
  void SetDragDropCaretPos(int32_t item_no, int32_t offs);
  void ToggleDragDropCaret(TCanvas& canvas);

  // ---- Copying (CRVFData_clipboard.cpp) ----
  // The export range of the selection: a partially selected item alone, else the
  // normalised selection in item terms (-1 when there is none).
  void GetSelectionBounds(int32_t kind, int32_t& start_item_no, int32_t& start_offs, int32_t& end_item_no,
                          int32_t& end_offs) override;
  // Puts the selection on Clipboard() in every format Options enable, after OnCopy; True
  // when any copy option is on or OnCopy is assigned.
  bool CopyToClipboard(TColor color, TRVBackground* background);
  // The producers, each usable alone while the clipboard is open.
  void CopyRVF(TColor color, TRVBackground* background);
  void CopyText();
  void CopyImage();
  void CopyUnicodeText();
  void CopyRTF(TColor color, TRVBackground* background);
  // The selection as plain text (UTF-16 bytes when unicode); '' without a selection.
  AnsiString GetSelTextAs(bool unicode);
  // The picture of a selection of exactly one non-text item, else nullptr.
  TGraphic* GetSelectedImage();
  // The control's OnCopy (through the root document).
  virtual bool IsAssignedCopy() { return false; }
  virtual void DoCopy() {}
  // Events of the root control (nothing without one).
  virtual bool IsAssignedOnJump() { return false; }
  virtual bool IsAssignedOnRVDblClick() { return false; }
  void DoJump(int32_t /*id*/) override {}
  virtual void DoRVMouseMove(int32_t /*id*/) {}
  virtual void DoRVMouseDown(int32_t /*button*/, uint32_t /*shift*/, int32_t /*item_no*/, int32_t /*x*/, int32_t /*y*/) {}
  virtual void DoRVMouseUp(int32_t /*button*/, uint32_t /*shift*/, int32_t /*item_no*/, int32_t /*x*/, int32_t /*y*/) {}
  virtual void DoRVDblClick(const AnsiString& /*word*/, int32_t /*style_no*/) {}
  virtual void DoRVRightClick(const AnsiString& /*word*/, int32_t /*style_no*/, int32_t /*x*/, int32_t /*y*/) {}
  void DoSelect() { FireOnSelect(); }

  // ---- Look-ups ----
  int32_t GetOffsBeforeDrawItem(int32_t d_item_no);
  int32_t GetOffsAfterDrawItem(int32_t d_item_no);
  void DrawItemPosToItemPos(int32_t d_item_no, int32_t d_offs, int32_t& item_no, int32_t& offs);
  void ItemPosToDrawItemPos(int32_t item_no, int32_t offs, int32_t& d_item_no, int32_t& d_offs);
  void GetFirstDrawItemOfItem(int32_t item_no, int32_t& d_item_no);
  void GetLastDrawItemOfItem(int32_t item_no, int32_t& d_item_no);
  int32_t FindDrawItemOfItem(int32_t item_no);
  void StoreSelectionBounds(int32_t start_item_no, int32_t end_item_no, int32_t start_offs, int32_t end_offs);
  void GetSelBounds(int32_t& start_item_no, int32_t& end_item_no, int32_t& start_offs, int32_t& end_offs,
                    bool normalize);
  void GetSelDrawItemBounds(int32_t& start_d_item, int32_t& end_d_item, int32_t& start_offs, int32_t& end_offs,
                            bool normalize);
  void GetScreenLineBounds(int32_t d_item_no, int32_t& first, int32_t& last);
  int32_t FindDrawItemByY(int32_t y, int32_t mode);
  int32_t FindDrawItemAtPoint(int32_t x, int32_t y);
  void FindDrawItemAtPos(int32_t x, int32_t y, int32_t& d_item_no, int32_t& d_offs, bool strict);
  virtual int32_t GetFirstVisibleItem();
  virtual int32_t GetLastVisibleItem();
  void InvalidateDrawItem(int32_t d_item_no, int32_t inflate);

  // ---- Minimal widths ----
  int32_t GetIndentsWidth(int32_t item_no, const TRVScreenAndDevice* sad, bool first_is_full_line);
  int32_t ItemMinWidth(int32_t item_no, const TRVScreenAndDevice* sad, TCanvas* canvas);
  int32_t CalcSectionMinWidth(int32_t item_no, int32_t& first_para_item, const TRVScreenAndDevice* sad,
                              TCanvas* canvas);
  int32_t GetMinItemsWidth(int32_t first, int32_t last, TCanvas* canvas, const TRVScreenAndDevice* sad,
                           int32_t& first_para_item);
  int32_t CalcMinDocWidth(const TRVScreenAndDevice* sad, TCanvas* canvas);

  // ---- After formatting ----
  void AdjustJumpsCoords();
  void RepositionControls();
  virtual void DrawBackground(TCanvas& canvas, const TRect& rect);

  // ---- Partial reformat ----
  void ExpandToParaDrawItems(int32_t first_d_item, int32_t last_d_item, int32_t& new_first, int32_t& new_last);
  void FormatParas(int32_t first_d_item, int32_t last_d_item, int32_t item_count_change, bool update_now);
  void FormatParasExact(int32_t first_d_item, int32_t last_d_item, int32_t item_count_change, bool width_flag1,
                        bool update_now);

  // ---- Painting ----
  void PaintTo(TCanvas& canvas, const TRect& rect);
  bool ClearSoftPageBreaks();
  // What lies under a non-text item: its paragraph's colour, else the document colour and,
  // with a background picture, a bitmap of the background under rect (the item's own box
  // when full).
  virtual void GetItemBackground(int32_t item_no, TRect& rect, bool full, TColor& color,
                                 std::unique_ptr<class TRVBitmap>& bitmap, bool& use_bitmap);
  // Repaints the areas of hyperlink jump_id (grown by 5 pixels), the whole control in the
  // style sheet's full-redraw mode.
  void InvalidateJump(int32_t jump_id);
  void ClearHoverAndRepaint();
  // The background in the native format: its style and its bitmap (CRVFData_paint.cpp).
  int32_t GetRVFBackgroundStyle(TRVBackground* background) override;
  std::unique_ptr<TGraphic> GetRVFBackgroundPicture(TRVBackground* background) override;
  void SetRVFBackground(TRVBackground* background, int32_t style, std::unique_ptr<TGraphic> picture) override;
  // After scrolling: the checkpoint now visible (by the control's event kind) is reported
  // when it differs from CurrentCheckpoint.
  void UpdateCheckpointVisibility();
  TRVCPInfo* CurrentCheckpoint = nullptr;
  virtual uint8_t GetCheckpointEventKind() { return 0; }
  virtual bool IsAssignedCheckpointVisible() { return false; }
  virtual void DoCheckpointVisible(TRVCPInfo* /*cp*/) {}
  // Selects every item (nothing for an empty document).
  void SelectAll();

 protected:
  virtual void FireOnSelect() {}
  // The display text of a text item (as drawn).
  AnsiString DisplayText(int32_t item_no, bool ends_wrapped_line);
  bool IsUnicodeItem(int32_t item_no) const { return GetItem(item_no)->ItemOptions.Contains(rvioUnicodeText); }
  TCustomRVParaInfo* Para(int32_t item_no) { return GetRVStyle()->ParaStyles()->Items(GetItem(item_no)->ParaNo); }
  bool IsFullLineItem(int32_t item_no);

 private:
  void FormatRange(int32_t first, int32_t last, TRVLineBuildState& st);
  void StartNewLine(int32_t item_no, bool is_continuation, TRVLineBuildState& st);
  void FormatItem(const AnsiString& display, const AnsiString& item_text, int32_t start_offs, int32_t length,
                  int32_t item_no, TRVLineBuildState& st);
  void FormatWords(int32_t item_no, TRVLineBuildState& st);
  void FormatFullLineItem(int32_t item_no, TRVLineBuildState& st);
  void PlaceRectItem(int32_t item_no, TRVLineBuildState& st);
  void LoadStyle(int32_t style_no, int32_t item_no, TRVLineBuildState& st);
  int32_t FitChars(const AnsiString& display, bool unicode, int32_t from, int32_t count, int32_t width,
                   TRVLineBuildState& st, int32_t item_no);
  TSize Measure(TCanvas& canvas, const AnsiString& display, bool unicode, int32_t from, int32_t count);
  // The UTF-16 unit of a text item's character (0-based).
  char16_t ItemChar(int32_t item_no, int32_t index);
  // The width of what the following items of the line add to the word that ends item_no,
  // up to the first place where a line may break; 0 when one may break right after it.
  int32_t WordContinuationWidth(int32_t item_no, TRVLineBuildState& st);
  void RaiseAscent(int32_t ascent, TRVLineBuildState& st);
  void InsertDrawItem(std::unique_ptr<TRVDrawLineInfo> d, TRVLineBuildState& st);
  void AddJump(int32_t d_item_no, int32_t id, TCursor cursor);
  void FinishScreenLine(TRVLineBuildState& st, int32_t right_edge, bool is_para_end, int32_t& extra);
  void FinishPendingTab(TRVLineBuildState& st);
  void AlignAbsoluteItems(int32_t first, int32_t last, int32_t& growth);
  void ReorderBiDiLine(int32_t first, int32_t last, TRVBiDiMode para_bidi, TCustomRVParaInfo* para);
  void InitState(TRVLineBuildState& st, TCanvas* canvas, bool width_flag1, bool width_flag2);
  void ClearJumps();
  void ItemsRecordDrawItems(int32_t from_d_item);

  // Painting helpers.
  struct PaintCtx;
  void PaintParaBackgrounds(PaintCtx& c);
  void PaintTextPiece(PaintCtx& c, int32_t j, int32_t x, int32_t width, const AnsiString& text, bool selected,
                      bool at_start, bool at_end, int32_t s);
  void PaintParaMark(PaintCtx& c, int32_t j);
  int32_t LineTop(int32_t d_item_no);
};

}  // namespace pelvar
