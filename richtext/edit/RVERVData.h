// The document data of the editor: the current styles, the undo and redo lists and the
// recording edit primitives. A primitive applies one elementary change and, while a group
// is open, first records how to reverse it. Primitives never reformat or move the caret;
// they report through FullFormat whether the change may alter the document's minimal width.
#pragma once

#include <memory>
#include <vector>

#include <functional>

#include "richtext/edit/RVUndo.h"
#include "richtext/view/RVDragDrop.h"
#include "richtext/view/RVItemResizer.h"
#include "richtext/view/RVRVData.h"

namespace pelvar {

class TRVRTFReaderProperties;

// Document state bit: a typed character is on its way (set by the editor's key-press handler
// around its change check, so that live spelling keeps its pending position).
constexpr uint32_t rvstTyping = 1u << 23;

// One caret stop of the current screen line: the caret of the stop is drawn at
// Left + CaretShift - 1 (document coordinates).
class TRVCharPos {
 public:
  int32_t Left = 0;
  int32_t DItemNo = -1;
  int32_t DOffs = -1;
  int32_t CaretShift = 0;
  void Assign(const TRVCharPos& source) {
    Left = source.Left;
    DItemNo = source.DItemNo;
    DOffs = source.DOffs;
  }
};
using TRVCharPosCollection = std::vector<TRVCharPos>;

// The conversion callback of style application: (StyleNo, ParaNo, UserData, AppliedToText,
// var NewStyleNo, WholeParagraphs).
using TRVStyleConversionProc =
    std::function<void(int32_t style_no, int32_t para_no, int32_t user_data, bool applied_to_text,
                       int32_t& new_style_no, bool whole_paragraphs)>;

// The document data of the editor. Without a control (control = nullptr) it answers the
// control's questions as a bare formatted document does, so that it can be used and tested
// on its own.
class TRVEditRVData : public TDocViewRVData {
 public:
  explicit TRVEditRVData(TCustomDocView* control = nullptr);
  ~TRVEditRVData() override;

  int32_t LastAutoTextStyleNo = 0;
  int32_t CurTextStyleNo = 0;
  int32_t CurParaStyleNo = 0;
  std::unique_ptr<TRVUndoList> UndoList;
  std::unique_ptr<TRVRedoList> RedoList;
  // Recording mode: 0 none, 1 into UndoList, 2 into RedoList.
  uint8_t UndoDest = 0;

  // ---- Questions of the control, answered as a bare document without one ----
#define PELVAR_EDIT_ASK(ret, name, params, args) \
  ret name params override { return Control ? TDocViewRVData::name args : TRVControlData::name args; }
  PELVAR_EDIT_ASK(TRVOptions, GetOptions, (), ())
  PELVAR_EDIT_ASK(void, SetOptions, (TRVOptions v), (v))
  PELVAR_EDIT_ASK(TRVFOptions, GetRVFOptions, (), ())
  PELVAR_EDIT_ASK(void, SetRVFOptions, (TRVFOptions v), (v))
  PELVAR_EDIT_ASK(TRVRTFOptions, GetRTFOptions, (), ())
  PELVAR_EDIT_ASK(void, SetRTFOptions, (TRVRTFOptions v), (v))
  PELVAR_EDIT_ASK(TRVFReaderStyleMode, GetRVFTextStylesReadMode, (), ())
  PELVAR_EDIT_ASK(TRVFReaderStyleMode, GetRVFParaStylesReadMode, (), ())
  PELVAR_EDIT_ASK(TRVPaletteAction, GetDoInPaletteMode, (), ())
  PELVAR_EDIT_ASK(TRVStyle*, GetRVStyle, (), ())
  PELVAR_EDIT_ASK(TRVBiDiMode, GetBiDiMode, (), ())
  PELVAR_EDIT_ASK(AnsiString, GetDelimiters, (), ())
  PELVAR_EDIT_ASK(uint16_t, GetFlags, (), ())
  PELVAR_EDIT_ASK(void, SetFlags, (uint16_t v), (v))
  PELVAR_EDIT_ASK(int32_t, GetMaxLength, (), ())
  PELVAR_EDIT_ASK(bool, IsRootOfControl, (), ())
  PELVAR_EDIT_ASK(TStringList*, GetDocProperties, (), ())
  PELVAR_EDIT_ASK(TCanvas*, GetCanvas, (), ())
  PELVAR_EDIT_ASK(int32_t, GetLeftMargin, (), ())
  PELVAR_EDIT_ASK(int32_t, GetRightMargin, (), ())
  PELVAR_EDIT_ASK(int32_t, GetTopMargin, (), ())
  PELVAR_EDIT_ASK(int32_t, GetBottomMargin, (), ())
  PELVAR_EDIT_ASK(int32_t, GetMinTextWidth, (), ())
  PELVAR_EDIT_ASK(int32_t, GetMaxTextWidth, (), ())
  PELVAR_EDIT_ASK(int32_t, GetAreaWidth, (), ())
  PELVAR_EDIT_ASK(int32_t, GetAreaHeight, (), ())
  PELVAR_EDIT_ASK(int32_t, GetDocumentAreaWidth, (), ())
  PELVAR_EDIT_ASK(int32_t, GetHOffs, (), ())
  PELVAR_EDIT_ASK(int32_t, GetVOffs, (), ())
  PELVAR_EDIT_ASK(int32_t, GetVSmallStep, (), ())
  PELVAR_EDIT_ASK(int32_t, GetVAlignOffset, (), ())
  PELVAR_EDIT_ASK(void, GetOrigin, (int32_t & x, int32_t & y), (x, y))
  PELVAR_EDIT_ASK(bool, SetDocumentAreaSize, (int32_t w, int32_t h, bool r), (w, h, r))
  PELVAR_EDIT_ASK(void, AdjustVScrollUnits, (), ())
  PELVAR_EDIT_ASK(void, ScrollTo, (int32_t y, bool r), (y, r))
  PELVAR_EDIT_ASK(void, HScrollTo, (int32_t x), (x))
  PELVAR_EDIT_ASK(TColor, GetColor, (), ())
  PELVAR_EDIT_ASK(TRVBackground*, GetBackground, (), ())
  PELVAR_EDIT_ASK(bool, IsFocused, (), ())
  PELVAR_EDIT_ASK(void, InvalidateRectangle, (const TRect& r), (r))
  PELVAR_EDIT_ASK(void, UpdateView, (), ())
  PELVAR_EDIT_ASK(TRVFontInfoCache*, CreateFontInfoCache, (TCanvas * c), (c))
  PELVAR_EDIT_ASK(TRVFontInfoCache*, GetFontInfoCache, (TCanvas * c, TCustomRVFormattedData* r), (c, r))
  PELVAR_EDIT_ASK(void, DestroyFontInfoCache, (TRVFontInfoCache * &c), (c))
  PELVAR_EDIT_ASK(bool, AllowAnimation, (), ())
  PELVAR_EDIT_ASK(void, AfterAnimatorInserted, (), ())
  PELVAR_EDIT_ASK(void, DoURLNeeded, (int32_t id, AnsiString& url), (id, url))
  PELVAR_EDIT_ASK(void, DoJump, (int32_t id), (id))
  PELVAR_EDIT_ASK(void, DoRVMouseMove, (int32_t id), (id))
  PELVAR_EDIT_ASK(void, DoRVMouseDown, (int32_t b, uint32_t s, int32_t i, int32_t x, int32_t y), (b, s, i, x, y))
  PELVAR_EDIT_ASK(void, DoRVMouseUp, (int32_t b, uint32_t s, int32_t i, int32_t x, int32_t y), (b, s, i, x, y))
  PELVAR_EDIT_ASK(void, DoRVDblClick, (const AnsiString& w, int32_t s), (w, s))
  PELVAR_EDIT_ASK(bool, IsAssignedOnJump, (), ())
  PELVAR_EDIT_ASK(bool, IsAssignedOnRVDblClick, (), ())
  PELVAR_EDIT_ASK(void, DoRVRightClick, (const AnsiString& w, int32_t s, int32_t x, int32_t y), (w, s, x, y))
  PELVAR_EDIT_ASK(void, DoItemHint, (TCustomRVData * d, int32_t i, AnsiString& h), (d, i, h))
  PELVAR_EDIT_ASK(void, DoWriteHyperlink,
                  (int32_t id, TCustomRVData* d, int32_t i, TRVSaveFormat f, AnsiString& t, AnsiString& e),
                  (id, d, i, f, t, e))
#undef PELVAR_EDIT_ASK

  // ---- Hooks of the editor control (a bare document answers them itself) ----
  // Whether a change may start (read-only, OnChanging); refusals beep.
  virtual bool BeforeChange(bool /*forced*/) { return GetRVStyle() != nullptr; }
  // The change notification: the redo list is cleared unless the change came from Undo/Redo.
  virtual void DoChange(bool clear_redo);
  virtual void DoCaretMove() {}
  virtual bool IsReadOnly() { return false; }
  virtual void SetCurTextStyleNo(int32_t value) { CurTextStyleNo = value; }
  virtual void SetCurParaStyleNo(int32_t value) { CurParaStyleNo = value; }
  // The conversion of style application (set by the control just before it runs).
  TRVStyleConversionProc StyleConversion;
  // An item whose text style changes loses its tag (the editor option).
  bool ClearTagOnStyleApp = false;
  // Drops an empty undo group left by the refused action, then beeps (platform/beep.h) when the
  // style sheet's UseSound is on.
  void Beep();

  // ---- Caret (the stops of the current screen line) ----
  TRVCharPosCollection CharPositions;
  int32_t CaretDrawItemNo = -1;
  int32_t CaretOffs = -1;
  int32_t CaretHeight = 0;
  TRVTag CurTag;

  // The caret as an item position (the item and the offset in it).
  virtual int32_t CurItemNo();
  virtual int32_t OffsetInCurItem();
  int32_t CurEffectiveTextStyle();
  // Puts the caret (an empty selection) at an item position without scrolling.
  virtual void SetCaretAt(int32_t item_no, int32_t offset);
  // Puts the caret at an item position (a list marker skipped forwards) and shows it; with
  // apply_para_style the caret item's paragraph style is applied to its paragraph.
  void PlaceCaret(int32_t item_no, int32_t offs, bool apply_para_style = false);
  void BuildCaretLine(int32_t caret_index);
  void ChangeCaret(bool scroll_to_caret, bool keep_styles, bool update_first, bool force = false);
  void EnsureNotEmpty();
  void SkipMarkerItem(int32_t& item_no, int32_t& offs, bool forward);
  void SkipMarkerDrawItem(bool forward, int32_t& d_offs);
  bool NotFormatted() { return DrawLines.Count() == 0; }
  bool CaretAtLineStart();
  bool CaretAtLineEnd();
  bool CaretOnFirstStop() { return CaretOffs == 0; }
  bool CaretOnLastStop() { return CaretOffs == static_cast<int32_t>(CharPositions.size()) - 1; }
  bool CaretOnLastLine();
  void GetCaretClientPos(int32_t& x, int32_t& y);
  const TRVCharPos& CaretStop() { return CharPositions[static_cast<size_t>(CaretOffs)]; }
  // The selection in item terms; without a selection both ends are the caret.
  void GetSelBoundsEx(int32_t& start_item_no, int32_t& start_offs, int32_t& end_item_no, int32_t& end_offs,
                      bool normalize);
  // Selects Length characters from ItemNo:Offs (backwards when reverse) and shows it.
  void SelectItemRange(int32_t item_no, int32_t offs, int32_t length, bool reverse) override;
  // Where a search starts: the document's start or end, else the caret (moved across an
  // item boundary in the direction of the search).
  void GetSearchStart(bool down, bool from_doc_start, int32_t& item_no, int32_t& offs);
  // The current tag: a copy of the caret item's tag when it has the current text style.
  void UpdateCurTag();
  void AnchorSelectionAtCaret();
  void ExtendSelectionToCaret();
  void SelectionChanged(bool redraw) override;
  void ClearTemporal() override;
  // Deleting unused styles renumbers the current styles and empties both lists (their
  // records hold the old numbers).
  void AfterDeleteStyles(const TRVDeleteUnusedStylesData& data) override;
  void FormatDocument(bool keep_position, bool force, bool no_scroll, int32_t depth, TCanvas* canvas,
                      bool only_tail, bool width_flag1, bool width_flag2) override;
  // A whole-document formatting through the caret: the caret keeps its item position.
  void FormatKeepingCaret();

  // ---- Caret movement keys (true: the caret cannot leave in that direction) ----
  bool MoveLeft(bool shift, bool ctrl);
  bool MoveRight(bool shift, bool ctrl);
  bool MoveUp(bool shift, bool ctrl);
  bool MoveDown(bool shift, bool ctrl);
  bool MoveHome(bool ctrl);
  bool MoveEnd(bool ctrl);
  bool PageUp();
  bool PageDown();
  void ParaUp();
  void ParaDown();

  // ---- Protection and insertion tests ----
  bool IsProtected(int32_t item_no, TRVProtectOption option);
  bool ParaHasOption(int32_t para_no, TRVParaOption option);
  bool IsParaReadOnly(int32_t item_no) { return ParaHasOption(GetItemPara(item_no), rvpaoReadOnly); }
  bool IsSticking(int32_t item_no, bool silent);
  bool CanInsertHere(int32_t item_no, int32_t offs);

  // ---- Live spelling ----
  // The control whose live-spelling thread checks this document (the root control; nil
  // for a bare document).
  TCustomDocView* SpellingControl();
  // After a text change: with clear_marks the item's misspelling marks from offs - 1 on
  // go; the thread rechecks from (item_no, offs).
  void ItemTextChanged(int32_t item_no, int32_t offs, bool clear_marks);
  // BeforeChange for a typed or removed character (the typing state set while it runs).
  bool BeforeTypingChange();

  // ---- Keyboard actions and typing ----
  bool EnterKey(bool shift, bool recursed = false);
  void DeleteKey(bool ctrl, bool recursed = false);
  void BackspaceKey(bool ctrl, bool whole_cluster, bool at_prev_line_end);
  void TypeText(const AnsiString& text, char key_char);
  void TypeChar(char ch);
  void InsertTextAsNewItem(const AnsiString& text);
  void ReformatAfterEdit(bool full_check, int32_t first_d_item, int32_t item_count_change, int32_t last_d_item);
  // The draw items of the caret's screen line widened to whole paragraphs.
  void CaretParaRange(int32_t& first_d_item, int32_t& last_d_item);

  // ---- Insertion at the caret ----
  bool InsertItemAtCaret(TCustomRVItemInfo* item, AnsiString& text, bool auto_tag, bool caret_before);
  bool InsertItemAtCaretPos(TCustomRVItemInfo*& item, AnsiString& text, bool auto_tag, int32_t& insert_index,
                            int32_t& items_added, bool& full_format, int32_t& last_affected);
  bool InsertTextInStyle(AnsiString& text, int32_t style_no, bool auto_tag, bool caret_before);
  // False when the insertion was refused (nothing changed).
  bool InsertText(const AnsiString& text, bool auto_tag, bool caret_before);
  bool InsertTextW(const AnsiString& text, bool auto_tag, bool caret_before);
  bool InsertTextFromStream(TStream& stream, bool oem, bool auto_tag);
  bool InsertTextFromFile(const AnsiString& file_name, bool oem, bool auto_tag);
  bool InsertRVFAtCaret(TStream& stream);
  // True at once for a stream at its end; false without import properties or on a reading
  // error (the document is then formatted again and a beep sounds).
  bool InsertRTFAtCaret(TStream& stream);
  // The RTF import properties (the control's; none for a bare document).
  TRVRTFReaderProperties* RTFReadProperties = nullptr;
  TCustomRVItemInfo* CreateTextItemCopy(TCustomRVItemInfo* source);
  TCustomRVItemInfo* NewTextItem(const TRVTag& tag, int32_t para_no, int32_t style_no, bool same_as_prev, bool br);
  void NormalizeInsertedRange(int32_t& first, int32_t& last, int32_t& count_change, int32_t& last_offs);

  // ---- Deleting the selection ----
  bool CanDeleteSelection();
  bool DeleteSelection();

  // ---- Applying styles ----
  void ApplyTextStyleConversion(int32_t user_data, int32_t mode, bool whole_paragraphs);
  void ApplyParaStyle(int32_t para_no_or_user_data, int32_t mode);
  TCustomRVItemInfo* PartiallySelectedItem();
  // mode: the running application's mode, which an item with sub-documents repeats there.
  void ConvertItemStyle(int32_t item_no, int32_t user_data, bool whole_paragraphs, int32_t mode);

  void Clear() override;

  // ---- Hooks of the viewer's document (RVERVData_hooks.cpp) ----
  // The drop caret: kept by the document that is the root of its control (flag 0x100),
  // created on the first begin and freed when the last user ends; other documents use the
  // absolute root's.
  std::unique_ptr<TRVDragDropCaretInfo> DragDropCaret;
  TRVDragDropCaretInfo* GetDragDropCaretInfo() override;
  void BeginDragDropCaret();
  void EndDragDropCaret();
  // A drag from an editable root document whose selection may be deleted may also move.
  bool InitDragDropSource(std::shared_ptr<TRVDropSource>& source, uint32_t& ok_effects) override;
  // After a move to another place the dragged selection is deleted.
  void DoneDragDropSource(bool moved) override;
  // Deletes the selection that a drag moved away (one undo group; the control runs it as its
  // delete command).
  virtual void DeleteMovedSelection();
  // Hyperlinks of the editor: live only while shown (flag bit 0). Showing builds the jump
  // list from the layout; neither works in read-only mode (unless forced, for showing) or
  // while an item holds the mouse.
  virtual void ShowJumps(bool force);
  virtual void HideJumps();
  // The hyperlink areas of the formatted document (the document's own list).
  void BuildJumpList();

  // ---- The resize frame of a single selected picture (RVERVData_hooks.cpp) ----
  std::unique_ptr<TRVItemResizer> Resizer;
  // The item the selection covers exactly and wholly (an end at an item's edge counts for
  // the neighbour), else -1; the first draw item of that item when it is a resizable picture.
  int32_t SingleSelectedItem();
  int32_t ResizableSelectedDrawItem();
  // Recreates the frame for the current selection (none in read-only mode unless flag
  // 0x200 is set, nor with NoImageResize, nor in a read-only paragraph); CheckResizer only
  // when its draw item changed.
  void UpdateResizer();
  void CheckResizer();
  // The control's option that forbids the frame.
  virtual bool NoImageResize() { return false; }
  // Client points: whether (x, y) lies on a handle; the mouse on the frame (True when the
  // frame took the event; releasing a dragged handle resizes the picture); Escape.
  bool ResizerHitTest(int32_t x, int32_t y, int32_t& handle);
  bool ResizerMouseDown(int32_t x, int32_t y);
  bool ResizerMouseMove(uint32_t shift, int32_t x, int32_t y);
  bool ResizerMouseUp();
  bool CancelResize();
  // A press and release on the same resizable (or otherwise wholly selectable) item with
  // nothing selected selects that item whole, so that it gets its resize frame.
  void DoSelectClickedItem() override;
  // Resizes a picture to an outer size (its spacing included) as one undo step (type 13).
  void ResizeItem(int32_t item_no, int32_t width, int32_t height);
  void AfterPaint(TCanvas& canvas, int32_t x_shift, int32_t y_shift, int32_t first, int32_t last) override;

  // ---- Recording switch ----
  TRVUndoList* GetUndoDestination();
  bool BeginUndoGroup(uint8_t group_type, bool finish_sub_editor = false);
  bool BeginNamedUndoGroup(uint8_t group_type, const AnsiString& title, bool finish_sub_editor = false);
  bool BeginRedoGroup(uint8_t group_type, const AnsiString& title);
  void SetUndoGroupMode(bool on) { UndoList->ChangeGroupMode(on); }
  void SetUndoLimit(int32_t value) { UndoList->SetMaxGroups(value); }
  int32_t GetUndoLimit() const { return UndoList->MaxGroups; }
  void Undo();
  void Redo();

  // ---- Edit primitives ----
  void RecDeleteItem(int32_t item_no, bool& full_format);
  void RecDeleteItems(int32_t first_item_no, int32_t last_item_no, bool& full_format);
  void RecDeleteSubstring(int32_t item_no, int32_t char_pos, int32_t count);
  void RecInsertSubstring(int32_t item_no, int32_t char_pos, const AnsiString& text);
  void RecChangeText(int32_t item_no, const AnsiString& new_text);
  void RecInsertItem(int32_t item_no, AnsiString& text, TCustomRVItemInfo* item, bool from_undo, bool& full_format);
  TRVUndoInsertItemsInfo* RecInsertItemsHead(int32_t item_no, int32_t count);
  void RecInsertItemsTail(int32_t item_no, int32_t count, TRVUndoInsertItemsInfo* record, bool& full_format);
  // Items: (text, item) pairs; each is inserted at the same index, so a list in reverse
  // document order (as RecDeleteItems keeps it) restores the earlier order.
  void RecInsertItems(int32_t item_no, std::vector<std::pair<AnsiString, TCustomRVItemInfo*>>& items,
                      bool from_undo, bool& full_format);
  bool RecSetParaRange(int32_t first, int32_t last, int32_t para_no, bool& full_format);
  // Item first+i gets numbers[i]; records every prior style of the range.
  bool RecSetParaList(int32_t first, const std::vector<int32_t>& numbers, bool& full_format);
  void RecSetStyleNo(int32_t item_no, int32_t style_no);
  void RecSetAssocTextStyleNo(int32_t item_no, int32_t style_no);
  void RecSetNewLine(int32_t item_no, bool same_as_prev, int32_t para_no, bool& full_format);
  void RecSetBR(int32_t item_no, bool br, bool& full_format);
  void RecSetPageBreak(int32_t item_no, bool page_break);
  void RecSetTag(int32_t item_no, const TRVTag& tag);
  void RecReformatRange(int32_t item_no, int32_t last_item_no, bool reformat_root);
  void RecAddCheckpoint(int32_t item_no, TRVCPInfo* checkpoint);
  void RecDeleteCheckpoint(int32_t item_no);
  void RecMoveCheckpoint(int32_t from_item_no, int32_t to_item_no);
  void RecConcatenateItems(int32_t item_no);
  void RecSetExtraIntProperty(int32_t item_no, int32_t property_id, int32_t value);
  void RecModifyItemTerminator(int32_t item_no, bool is_opening);
  bool SetParaNoRange(int32_t first, int32_t last, int32_t para_no, bool& full_format);
  int32_t GetLastParaItem(int32_t item_no);

  // ---- Persistent checkpoints and list markers ----
  bool HasPersistentCheckpoint(int32_t item_no);
  bool ParaHasPersistentCheckpoint(int32_t item_no);
  // Moves item_no's persistent checkpoint to a neighbour of its paragraph; false when the
  // item has one that cannot move (the item may then not be deleted).
  bool MovePersistentCheckpoint(int32_t item_no, bool dont_move_forward);
  // Puts a copy of the list marker that starts source_item_no's paragraph at insert_at
  // (numbering not restarted); false when the paragraph has no marker.
  bool ReplicateListMarker(int32_t source_item_no, int32_t insert_at, bool& full_format, bool recorded);

  // ---- List numbering after edits ----
  // A marker added or removed renumbers the later items of its lists; a number that gets
  // wider or narrower changes their layout, so their paragraphs are formatted again.
  // The numbered lists of the markers in the paragraphs of first..last (false when there
  // are none): last_item_no is the last item of those paragraphs, marker_index the marker
  // list's index of the last such marker, or with before_first of the first one minus 1.
  bool CollectNumberedLists(int32_t first, int32_t last, bool before_first, int32_t& last_item_no,
                            int32_t& marker_index, std::unique_ptr<TRVIntegerList>& lists);
  // Formats the paragraphs from last_item_no + 1 to the last marker of lists (or of list_no
  // when lists is nil) after marker_index, recording the range so that undo and redo do
  // the same; the whole root document when that marker lies elsewhere.
  void ReformatFollowingMarkers(int32_t last_item_no, int32_t marker_index, const TRVIntegerList* lists,
                                int32_t list_no);
  void UpdateListNumbering(int32_t first_item_no, int32_t last_item_no);
  // After markers collected with CollectNumberedLists(..., true, ...) were deleted: formats
  // the later items of their lists, from the paragraph of item_no on.
  void RenumberListsAfterDelete(int32_t item_no, int32_t marker_index, const TRVIntegerList* lists);

  // ---- Widths for the reformatting decisions (0 while the document is not formatted) ----
  int32_t ItemWidthForUndo(int32_t item_no);
  int32_t RangeWidthForUndo(int32_t first, int32_t last);
  int32_t DocWidthForUndo();
  bool IsFormattedForUndo();

  // Frees an item that an undo record held (the document is told it is being destroyed).
  void FreeHeldItem(TCustomRVItemInfo* item);
  void FreeHeldCheckpoint(TRVCPInfo* cp);

 protected:
  void FireOnSelect() override {
    if (Control) TDocViewRVData::FireOnSelect();
  }
  // The caret of a document without layout.
  int32_t caret_item_ = 0;
  int32_t caret_offset_ = 0;

 private:
  struct TextSegment;
  bool InsertSegments(std::vector<TextSegment>& segments, bool auto_tag, bool caret_before);
  bool DeleteWholeItem(int32_t item_no, int32_t first_d, int32_t last_d);
  void DeleteChars(int32_t item_no, int32_t caret_offs, int32_t n, int32_t first_d, int32_t last_d);
  void JoinWithNextLine(int32_t item_no, int32_t first_d, int32_t last_d);
  int32_t StyleConvert(int32_t style_no, int32_t para_no, int32_t user_data, bool applied_to_text, bool whole);
  void SplitConvert(int32_t item_no, int32_t from, int32_t to, int32_t new_style, int32_t& item_count);
  bool IsUnicodeStyle(int32_t style_no);
  bool IsMarker(int32_t item_no);
  void ChangeStyleConverting(int32_t item_no, int32_t old_style, int32_t new_style);
  int32_t StreamInsertIndex(bool& replace_empty, bool& continue_line);
  bool FinishStreamInsert(int32_t n, int32_t count, bool replace_empty, bool continue_line, bool ok);
  bool MoveToDrawItemPos(int32_t d_item_no, int32_t d_offs);
  void RecordInfo(TRVUndoInfo* info);
  void InsertItemRaw(int32_t item_no, AnsiString& text, TCustomRVItemInfo* item, bool from_undo);
};

}  // namespace pelvar
