// The document data of the editor: the current styles, the undo and redo lists and the
// recording edit primitives. A primitive applies one elementary change and, while a group
// is open, first records how to reverse it. Primitives never reformat or move the caret;
// they report through FullFormat whether the change may alter the document's minimal width.
#pragma once

#include <memory>
#include <vector>

#include "richtext/edit/RVUndo.h"
#include "richtext/view/CRVFData.h"

namespace pelvar {

class TRVEditRVData : public TCustomRVFormattedData {
 public:
  TRVEditRVData();
  ~TRVEditRVData() override;

  int32_t LastAutoTextStyleNo = 0;
  int32_t CurTextStyleNo = 0;
  int32_t CurParaStyleNo = 0;
  std::unique_ptr<TRVUndoList> UndoList;
  std::unique_ptr<TRVRedoList> RedoList;
  // Recording mode: 0 none, 1 into UndoList, 2 into RedoList.
  uint8_t UndoDest = 0;

  // The caret as an item position (the item and the offset in it).
  virtual int32_t CurItemNo() { return caret_item_; }
  virtual int32_t OffsetInCurItem() { return caret_offset_; }
  // Puts the caret (an empty selection) at an item position.
  virtual void SetCaretAt(int32_t item_no, int32_t offset);

  void Clear() override;

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

  // ---- Widths for the reformatting decisions (0 while the document is not formatted) ----
  int32_t ItemWidthForUndo(int32_t item_no);
  int32_t RangeWidthForUndo(int32_t first, int32_t last);
  int32_t DocWidthForUndo();
  bool IsFormattedForUndo();

  // Frees an item that an undo record held (the document is told it is being destroyed).
  void FreeHeldItem(TCustomRVItemInfo* item);
  void FreeHeldCheckpoint(TRVCPInfo* cp);

 protected:
  int32_t caret_item_ = 0;
  int32_t caret_offset_ = 0;

 private:
  void RecordInfo(TRVUndoInfo* info);
  void InsertItemRaw(int32_t item_no, AnsiString& text, TCustomRVItemInfo* item, bool from_undo);
};

}  // namespace pelvar
