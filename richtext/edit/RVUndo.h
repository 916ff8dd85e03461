// Undo and redo of the editor: every edit primitive of the editable document appends a
// small record that reverses exactly its change; records are collected in groups, one
// group per Undo or Redo command (a typing group gives back one character per command).
// Performing a record calls the same primitive with the old values, so its reverse lands
// in the opposite list.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "richtext/model/CRVData.h"
#include "richtext/model/RVItem.h"

namespace pelvar {

class TRVEditRVData;
class TRVUndoList;

// Record kinds (the first field of every record).
enum TRVUndoKind : uint8_t {
  rvukReformat = 0,
  rvukDeleteItem = 1,
  rvukDeleteItems = 2,
  rvukDeleteSubstring = 3,
  rvukInsertItem = 4,
  rvukInsertItems = 5,
  rvukInsertSubstring = 6,
  rvukNewLine = 7,
  rvukBR = 8,
  rvukPara = 9,
  rvukPageBreak = 10,
  rvukTyping = 11,
  rvukTag = 12,
  rvukStyleNo = 13,
  rvukCheckpoint = 14,
  rvukModifyItem = 15,
  rvukChangeText = 16,
};

// Group types the editor reports as its pending undo or redo action.
enum : uint8_t {
  rvutNone = 0,
  rvutDelete = 1,
  rvutInsert = 2,
  rvutPara = 3,
  rvutNewLine = 4,
  rvutTyping = 7,
  rvutStyleNo = 9,
  rvutModifyItem = 13,
};

class TRVUndoInfo {
 public:
  virtual ~TRVUndoInfo() = default;
  uint8_t Kind = 0;
  TRVUndoList* Owner = nullptr;

  virtual bool NeedsFullFormatBefore(TRVEditRVData*) { return false; }
  virtual bool NeedsFullFormatAfter(TRVEditRVData*) { return false; }
  virtual bool NeedsFormat() { return true; }
  virtual bool NeedsRootFormat() { return false; }
  virtual bool NeedsFormatFirst() { return false; }
  virtual void Perform(TRVEditRVData*) {}
  virtual void GetAffectedItems(int32_t& /*first_no*/, int32_t& /*last_no*/, TRVEditRVData*) {}
  virtual int32_t ItemCountChange() { return 0; }
};

class TRVUndoItemNoInfo : public TRVUndoInfo {
 public:
  int32_t ItemNo = 0;
  int32_t RangeEndNo = -1;
  void GetAffectedItems(int32_t& first_no, int32_t& last_no, TRVEditRVData*) override;
};

class TRVUndoReformateRange : public TRVUndoItemNoInfo {
 public:
  bool ReformatRoot = false;
  bool NeedsRootFormat() override { return ReformatRoot; }
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoStringInfo : public TRVUndoItemNoInfo {
 public:
  AnsiString SavedText;
};

class TRVUndoChangeTextInfo : public TRVUndoStringInfo {
 public:
  int32_t WidthBefore = 0;
  bool NeedsFullFormatAfter(TRVEditRVData* rvdata) override;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoSubStringInfo : public TRVUndoStringInfo {
 public:
  int32_t CharPos = 0;
};

// Holds a deleted item until it is given back (or freed with the record).
class TRVUndoItemInfo : public TRVUndoStringInfo {
 public:
  ~TRVUndoItemInfo() override;
  TCustomRVItemInfo* HeldItem = nullptr;
};

class TRVUndoDeleteItemInfo : public TRVUndoItemInfo {
 public:
  bool FullFormat = false;
  bool NeedsFullFormatAfter(TRVEditRVData* rvdata) override;
  void Perform(TRVEditRVData* rvdata) override;
  int32_t ItemCountChange() override { return 1; }
};

// Held items, each with its text.
class TRVUndoStringItemListInfo : public TRVUndoInfo {
 public:
  ~TRVUndoStringItemListInfo() override;
  std::vector<std::pair<AnsiString, TCustomRVItemInfo*>> HeldItems;
};

class TRVUndoItemRangeInfo : public TRVUndoStringItemListInfo {
 public:
  int32_t FirstItemNo = 0;
  int32_t RangeEndNo = -1;
  void GetAffectedItems(int32_t& first_no, int32_t& last_no, TRVEditRVData*) override;
};

class TRVUndoDeleteItemsInfo : public TRVUndoItemRangeInfo {
 public:
  int32_t LastItemNo = 0;
  bool FullFormat = false;
  bool NeedsFullFormatAfter(TRVEditRVData* rvdata) override;
  void Perform(TRVEditRVData* rvdata) override;
  int32_t ItemCountChange() override { return static_cast<int32_t>(HeldItems.size()); }
};

class TRVUndoDeleteSubstringInfo : public TRVUndoSubStringInfo {
 public:
  int32_t WidthBefore = 0;
  bool NeedsFullFormatAfter(TRVEditRVData* rvdata) override;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVRedoTypingInfo : public TRVUndoSubStringInfo {
 public:
  int32_t WidthBefore = 0;
  bool NeedsFullFormatAfter(TRVEditRVData* rvdata) override;
  bool IsUnicode = false;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoInsertSubstringInfo : public TRVUndoItemNoInfo {
 public:
  int32_t WidthBefore = 0;
  bool NeedsFullFormatAfter(TRVEditRVData* rvdata) override;
  int32_t CharPos = 0;
  int32_t CharCount = 0;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoTypingInfo : public TRVUndoInsertSubstringInfo {
 public:
  int32_t TypedWidthBefore = 0;
  bool NeedsFullFormatAfter(TRVEditRVData* rvdata) override;
  bool IsUnicode = false;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoInsertItemInfo : public TRVUndoItemNoInfo {
 public:
  bool FullFormat = false;
  bool NeedsFullFormatBefore(TRVEditRVData* rvdata) override;
  bool NeedsFullFormatAfter(TRVEditRVData*) override { return FullFormat; }
  void Perform(TRVEditRVData* rvdata) override;
  int32_t ItemCountChange() override { return -1; }
};

class TRVUndoInsertItemsInfo : public TRVUndoItemNoInfo {
 public:
  bool FullFormat = false;
  bool NeedsFullFormatBefore(TRVEditRVData* rvdata) override;
  int32_t ItemCount = 0;
  bool NeedsFullFormatAfter(TRVEditRVData*) override { return FullFormat; }
  void Perform(TRVEditRVData* rvdata) override;
  int32_t ItemCountChange() override { return -ItemCount; }
};

class TRVUndoNewLineInfo : public TRVUndoItemNoInfo {
 public:
  bool FullFormat = false;
  bool PriorSameAsPrev = false;
  int32_t PriorParaNo = 0;
  bool NeedsFullFormatAfter(TRVEditRVData*) override { return FullFormat; }
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoBRInfo : public TRVUndoItemNoInfo {
 public:
  bool PriorBreak = false;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoPageBreakInfo : public TRVUndoItemNoInfo {
 public:
  bool PriorPageBreak = false;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoListInfo : public TRVUndoInfo {
 public:
  std::vector<int32_t> Numbers;
};

// One prior paragraph style per item from FirstItemNo on.
class TRVUndoParaListInfo : public TRVUndoListInfo {
 public:
  bool FullFormat = false;
  int32_t FirstItemNo = 0;
  bool NeedsFullFormatAfter(TRVEditRVData*) override { return FullFormat; }
  void GetAffectedItems(int32_t& first_no, int32_t& last_no, TRVEditRVData*) override;
  void Perform(TRVEditRVData* rvdata) override;
};

// One paragraph style for a whole range.
class TRVUndoParaInfo : public TRVUndoItemNoInfo {
 public:
  bool FullFormat = false;
  int32_t PriorParaNo = 0;
  int32_t ItemCount = 0;
  bool NeedsFullFormatAfter(TRVEditRVData*) override { return FullFormat; }
  void GetAffectedItems(int32_t& first_no, int32_t& last_no, TRVEditRVData*) override;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoStyleNoInfo : public TRVUndoItemNoInfo {
 public:
  int32_t WidthBefore = 0;
  bool NeedsFullFormatAfter(TRVEditRVData* rvdata) override;
  int32_t PriorStyleNo = 0;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoAssociatedTextStyleNoInfo : public TRVUndoStyleNoInfo {
 public:
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoTagInfo : public TRVUndoItemNoInfo {
 public:
  TRVTag PriorTag;
  bool TagIsText = false;
  bool NeedsFormat() override { return false; }
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoAddCPInfo : public TRVUndoItemNoInfo {
 public:
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoDeleteCPInfo : public TRVUndoItemNoInfo {
 public:
  ~TRVUndoDeleteCPInfo() override;
  TRVCPInfo* HeldCheckpoint = nullptr;
  bool TagIsText = false;
  void Perform(TRVEditRVData* rvdata) override;
};

class TRVUndoExtraIntProperty : public TRVUndoItemNoInfo {
 public:
  int32_t WidthBefore = 0;
  bool NeedsFullFormatAfter(TRVEditRVData* rvdata) override;
  int32_t PriorValue = 0;
  uint8_t PropertyId = 0;
  void Perform(TRVEditRVData* rvdata) override;
};

// Brackets a run of item-property records; the closing one is met first when performing.
class TRVUndoModifyItemTerminator : public TRVUndoItemNoInfo {
 public:
  TRVUndoModifyItemTerminator() { Kind = rvukModifyItem; }
  int32_t MeasuredWidth = 0;
  bool ChangesWidth = true;
  bool ChangesSize = true;
  bool IsOpening = false;
  bool NeedsFormat() override { return ChangesSize; }
  void Perform(TRVEditRVData* rvdata) override;
};

// A change of an item's (or of an object inside it, Target) properties. Performing makes
// the reverse record (of the record's own class, NewReverse) in the list records go to and
// hands it to TakeReverseRecord.
class TRVUndoModifyItemProps : public TRVUndoItemNoInfo {
 public:
  TRVUndoModifyItemProps() { Kind = rvukModifyItem; }
  int32_t MeasuredWidth = 0;
  bool ChangesWidth = true;
  bool ChangesSize = true;
  TPersistent* Target = nullptr;  // nil: the item itself
  bool NeedsFormat() override { return ChangesSize; }
  bool NeedsFullFormatBefore(TRVEditRVData* rvdata) override;
  bool NeedsFullFormatAfter(TRVEditRVData* rvdata) override;
  virtual void TakeReverseRecord(TRVUndoModifyItemProps* /*record*/) {}
  // A new record of this record's class (the class of the reverse record).
  virtual std::unique_ptr<TRVUndoModifyItemProps> NewReverse() const = 0;
  // Records a new record of this class for the same item into rvdata's current list, with
  // the same flags and target; nil when nothing is recorded.
  TRVUndoModifyItemProps* RecordReverse(TRVEditRVData* rvdata);
};

// One published integer property set back to its prior value.
class TRVUndoModifyItemIntProperty : public TRVUndoModifyItemProps {
 public:
  AnsiString PropName;
  int32_t PriorValue = 0;
  AnsiString PriorText;  // string properties (PropName names a string property)
  void Perform(TRVEditRVData* rvdata) override;
  std::unique_ptr<TRVUndoModifyItemProps> NewReverse() const override {
    return std::make_unique<TRVUndoModifyItemIntProperty>();
  }
};

// Several published integer properties set back, from the last to the first.
class TRVUndoModifyItemIntProperties : public TRVUndoModifyItemProps {
 public:
  std::vector<std::pair<AnsiString, int32_t>> PriorValues;
  void Perform(TRVEditRVData* rvdata) override;
  std::unique_ptr<TRVUndoModifyItemProps> NewReverse() const override {
    return std::make_unique<TRVUndoModifyItemIntProperties>();
  }
};

// Groups of a nested document's own list, performed one per call.
class TRVCompositeUndo : public TRVUndoInfo {
 public:
  TRVCompositeUndo();
  ~TRVCompositeUndo() override;
  int32_t ItemNo = 0;
  bool ForRedo = false;
  std::unique_ptr<TRVUndoList> InnerList;
  bool NeedsFormat() override { return false; }
  void GetAffectedItems(int32_t& first_no, int32_t& last_no, TRVEditRVData*) override {
    first_no = last_no = ItemNo;
  }
  void Perform(TRVEditRVData* rvdata) override;
};

// One group: what one Undo or Redo command takes back.
class TRVUndoInfos {
 public:
  std::vector<std::unique_ptr<TRVUndoInfo>> Records;
  AnsiString Title;
  uint8_t GroupType = 0;
  int32_t CaretItem = 0;
  int32_t CaretOffset = 0;
  int32_t Count() const { return static_cast<int32_t>(Records.size()); }
  TRVUndoInfo* Get(int32_t i) const { return Records[static_cast<size_t>(i)].get(); }
};

class TRVUndoList {
 public:
  explicit TRVUndoList(TRVEditRVData* document) : Document(document) {}
  virtual ~TRVUndoList();

  int32_t FormatLockCount = 0;
  TRVEditRVData* Document;
  int32_t MaxGroups = -1;
  int32_t GroupNesting = 0;

  int32_t Count() const { return static_cast<int32_t>(groups_.size()); }
  TRVUndoInfos* Get(int32_t i) const { return groups_[static_cast<size_t>(i)].get(); }
  TRVUndoInfos* Last() const { return groups_.empty() ? nullptr : groups_.back().get(); }

  bool BeginGroup(uint8_t group_type, const AnsiString& title, int32_t caret_item, int32_t caret_offset);
  void AddInfo(TRVUndoInfo* info);
  void AddGroup(TRVUndoInfos* group);
  void AddTyping(int32_t item_no, int32_t char_pos, bool is_unicode);
  void AddUntyping(const AnsiString& chars, int32_t item_no, int32_t char_pos);
  void DropEmptyGroup();
  void ChangeGroupMode(bool on) { GroupNesting += on ? 1 : -1; }
  uint8_t LastGroupType() const { return groups_.empty() ? 0 : groups_.back()->GroupType; }
  // Changes the group limit; lowering it below the number of groups drops the oldest.
  void SetMaxGroups(int32_t value);
  void Undo(TRVEditRVData* rvdata);
  void Redo(TRVEditRVData* rvdata);
  void Clear();
  // Takes a group out of the list (its records keep their owner until added elsewhere).
  std::unique_ptr<TRVUndoInfos> ExtractGroup(int32_t index);

 protected:
  void DeleteGroup(int32_t index);
  void PerformGroup(TRVEditRVData* rvdata, TRVUndoInfos* group, bool allow_format);
  void PerformLast(TRVEditRVData* rvdata, bool undo);
  std::vector<std::unique_ptr<TRVUndoInfos>> groups_;
};

class TRVRedoList : public TRVUndoList {
 public:
  using TRVUndoList::TRVUndoList;
};

}  // namespace pelvar
