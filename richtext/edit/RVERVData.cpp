#include "richtext/edit/RVERVData.h"

#include <algorithm>

#include "richtext/model/RVMarker.h"
#include "richtext/model/RVUni.h"
#include "richtext/view/DocView.h"

namespace pelvar {

TRVEditRVData::TRVEditRVData(TCustomDocView* control)
    : TDocViewRVData(control),
      UndoList(std::make_unique<TRVUndoList>(this)),
      RedoList(std::make_unique<TRVRedoList>(this)) {
  TabNavigation = rvtnNone;
}

void TRVEditRVData::Beep() {
  // A refused action leaves no empty group behind.
  if (UndoList) UndoList->DropEmptyGroup();
  TDocViewRVData::Beep();
}

void TRVEditRVData::DoChange(bool clear_redo) {
  if (clear_redo) RedoList->Clear();
  CurTag = TRVTag();
}

// ---- Live spelling ----

TCustomDocView* TRVEditRVData::SpellingControl() {
  auto* root = dynamic_cast<TDocViewRVData*>(GetAbsoluteRootData());
  return root ? root->Control : Control;
}

void TRVEditRVData::ItemTextChanged(int32_t item_no, int32_t offs, bool clear_marks) {
  if (item_no < 0 || item_no >= ItemCount()) return;
  if (clear_marks) GetItem(item_no)->ClearWordPainters(offs - 1);
  if (TCustomDocView* control = SpellingControl()) control->LiveSpellingScheduleFrom(GetSourceRVData(), item_no, offs);
}

TRVEditRVData::~TRVEditRVData() {
  // Held items go before the document they were told about.
  UndoList->Clear();
  RedoList->Clear();
}

void TRVEditRVData::Clear() {
  if (Control)
    TDocViewRVData::Clear();
  else
    TRVControlData::Clear();
  if (UndoList) UndoList->Clear();
  if (RedoList) RedoList->Clear();
  LastAutoTextStyleNo = 0;
  CurTextStyleNo = 0;
  CurParaStyleNo = 0;
  caret_item_ = caret_offset_ = 0;
  CharPositions.clear();
  CaretDrawItemNo = CaretOffs = -1;
}

// ---- Recording switch ----

TRVUndoList* TRVEditRVData::GetUndoDestination() {
  if (UndoDest == 1 && UndoList->MaxGroups != 0) return UndoList.get();
  if (UndoDest == 2) return RedoList.get();
  return nullptr;
}

bool TRVEditRVData::BeginUndoGroup(uint8_t group_type, bool finish_sub_editor) {
  return BeginNamedUndoGroup(group_type, AnsiString(), finish_sub_editor);
}

bool TRVEditRVData::BeginNamedUndoGroup(uint8_t group_type, const AnsiString& title, bool /*finish_sub_editor*/) {
  const bool ok = UndoList->BeginGroup(group_type, title, CurItemNo(), OffsetInCurItem());
  UndoDest = ok ? 1 : 0;
  return ok;
}

bool TRVEditRVData::BeginRedoGroup(uint8_t group_type, const AnsiString& title) {
  const bool ok = RedoList->BeginGroup(group_type, title, CurItemNo(), OffsetInCurItem());
  UndoDest = ok ? 2 : 0;
  return ok;
}

void TRVEditRVData::Undo() { UndoList->Undo(this); }
void TRVEditRVData::Redo() { RedoList->Redo(this); }

void TRVEditRVData::RecordInfo(TRVUndoInfo* info) {
  std::unique_ptr<TRVUndoInfo> guard(info);
  TRVUndoList* list = GetUndoDestination();
  list->AddInfo(guard.release());
}

// ---- Widths ----

bool TRVEditRVData::IsFormattedForUndo() { return DrawLines.Count() > 0 && GetCanvas() != nullptr; }

int32_t TRVEditRVData::ItemWidthForUndo(int32_t item_no) {
  if (!IsFormattedForUndo() || item_no < 0 || item_no >= ItemCount()) return 0;
  // A text in the middle of a conversion between encodings is not measured.
  if (IsUnicodeItem(item_no) && GetItemTextRaw(item_no).size() % 2 != 0) return 0;
  return ItemMinWidth(item_no, nullptr, GetCanvas());
}

int32_t TRVEditRVData::RangeWidthForUndo(int32_t first, int32_t last) {
  if (!IsFormattedForUndo() || first < 0 || last >= ItemCount() || last < first) return 0;
  int32_t first_para_item = -1;
  return GetMinItemsWidth(first, last, GetCanvas(), nullptr, first_para_item);
}

int32_t TRVEditRVData::DocWidthForUndo() { return IsFormattedForUndo() ? DocumentWidth : 0; }

static bool WidthRule(int32_t before, int32_t after, int32_t doc) {
  return before != after && (after > doc || before >= doc);
}

// ---- Held items ----

void TRVEditRVData::FreeHeldItem(TCustomRVItemInfo* item) {
  if (!item) return;
  AnsiString text;
  ItemAction(rviaDestroying, item, text, this);
  ItemControlAction(rvcaDestroyInUndoList, -1, item);
  if (item->Checkpoint) {
    delete item->Checkpoint;
    item->Checkpoint = nullptr;
  }
  FreeItem(item, false);
}

void TRVEditRVData::FreeHeldCheckpoint(TRVCPInfo* cp) { delete cp; }

// ---- Primitives ----

void TRVEditRVData::RecDeleteItem(int32_t item_no, bool& full_format) {
  full_format = IsFormattedForUndo() && ItemWidthForUndo(item_no) == DocWidthForUndo();
  if (GetItem(item_no)->Checkpoint) RecDeleteCheckpoint(item_no);
  TCustomRVItemInfo* item = GetItem(item_no);
  if (item->StyleNo == rvsListMarker) DeleteMarkerFromList(item, false);
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoDeleteItemInfo();
    rec->Kind = rvukDeleteItem;
    rec->ItemNo = item_no;
    rec->SavedText = GetItemTextRaw(item_no);
    RecordInfo(rec);
    item->MovingToUndoList(item_no, this);
    rec->HeldItem = item;
  } else {
    DestroyItem(item_no, false);
  }
  Items().Delete(item_no);
}

void TRVEditRVData::RecDeleteItems(int32_t first_item_no, int32_t last_item_no, bool& full_format) {
  full_format = false;
  if (last_item_no < first_item_no) return;
  full_format = IsFormattedForUndo() && RangeWidthForUndo(first_item_no, last_item_no) == DocWidthForUndo();
  for (int32_t i = last_item_no; i >= first_item_no; --i)
    if (GetItem(i)->Checkpoint) RecDeleteCheckpoint(i);
  TRVUndoDeleteItemsInfo* rec = nullptr;
  if (GetUndoDestination()) {
    rec = new TRVUndoDeleteItemsInfo();
    rec->Kind = rvukDeleteItems;
    rec->FirstItemNo = first_item_no;
    RecordInfo(rec);
  }
  for (int32_t i = last_item_no; i >= first_item_no; --i) {
    TCustomRVItemInfo* item = GetItem(i);
    if (item->StyleNo == rvsListMarker) DeleteMarkerFromList(item, false);
    if (rec) {
      item->MovingToUndoList(i, this);
      rec->HeldItems.emplace_back(GetItemTextRaw(i), item);
    } else {
      DestroyItem(i, false);
    }
    Items().Delete(i);
  }
}

void TRVEditRVData::RecDeleteSubstring(int32_t item_no, int32_t char_pos, int32_t count) {
  AnsiString s = GetItemTextRaw(item_no);
  const uint8_t options = GetItemOptions(item_no);
  if (count == -1) count = RVU_Length(s, options) - char_pos + 1;
  if (count <= 0) return;
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoDeleteSubstringInfo();
    rec->Kind = rvukDeleteSubstring;
    rec->ItemNo = item_no;
    rec->CharPos = char_pos;
    rec->SavedText = RVU_Copy(s, char_pos, count, options);
    RecordInfo(rec);
  }
  RVU_Delete(s, char_pos, count, options);
  ItemAction(rviaTextModifying, GetItem(item_no), s, this);
  SetItemTextRaw(item_no, s);
}

void TRVEditRVData::RecInsertSubstring(int32_t item_no, int32_t char_pos, const AnsiString& text) {
  if (text.empty()) return;
  if (item_no < 0 || item_no >= ItemCount() || GetItem(item_no)->StyleNo < 0) throw Exception("Undo error");
  const uint8_t options = GetItemOptions(item_no);
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoInsertSubstringInfo();
    rec->Kind = rvukInsertSubstring;
    rec->ItemNo = item_no;
    rec->CharPos = char_pos;
    rec->CharCount = RVU_Length(text, options);
    RecordInfo(rec);
  }
  AnsiString s = GetItemTextRaw(item_no);
  RVU_Insert(text, s, char_pos, options);
  ItemAction(rviaTextModifying, GetItem(item_no), s, this);
  SetItemTextRaw(item_no, s);
}

void TRVEditRVData::RecChangeText(int32_t item_no, const AnsiString& new_text) {
  AnsiString old = GetItemTextRaw(item_no);
  if (old == new_text) return;
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoChangeTextInfo();
    rec->Kind = rvukChangeText;
    rec->ItemNo = item_no;
    rec->SavedText = old;
    RecordInfo(rec);
  }
  AnsiString s = new_text;
  ItemAction(rviaTextModifying, GetItem(item_no), s, this);
  SetItemTextRaw(item_no, s);
}

void TRVEditRVData::InsertItemRaw(int32_t item_no, AnsiString& text, TCustomRVItemInfo* item, bool from_undo) {
  item->Inserting(this, text, false);
  Items().InsertObject(item_no, text, item);
  item->Inserted(this, item_no);
  AddMarkerInList(item_no);
  if (from_undo) item->MovingFromUndoList(item_no, this);
  item->UpdatePaletteInfo(static_cast<int32_t>(GetDoInPaletteMode()), false);
}

int32_t TRVEditRVData::GetLastParaItem(int32_t item_no) {
  int32_t i = item_no + 1;
  while (i < ItemCount() && !IsParaStart(i)) ++i;
  return i - 1;
}

void TRVEditRVData::RecInsertItem(int32_t item_no, AnsiString& text, TCustomRVItemInfo* item, bool from_undo,
                                  bool& full_format) {
  full_format = false;
  int32_t last_affected = -1;
  if (item->IsParaStart() && item_no < ItemCount() && !IsParaStart(item_no))
    last_affected = GetLastParaItem(item_no);
  TRVCPInfo* cp = item->Checkpoint;
  item->Checkpoint = nullptr;
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoInsertItemInfo();
    rec->Kind = rvukInsertItem;
    rec->ItemNo = item_no;
    rec->RangeEndNo = last_affected;
    RecordInfo(rec);
  }
  InsertItemRaw(item_no, text, item, from_undo);
  if (last_affected != -1) RecSetParaRange(item_no + 1, last_affected + 1, item->ParaNo, full_format);
  if (cp) {
    cp->ItemInfo = nullptr;
    RecAddCheckpoint(item_no, cp);
  }
}

TRVUndoInsertItemsInfo* TRVEditRVData::RecInsertItemsHead(int32_t item_no, int32_t count) {
  if (count == 0 || !GetUndoDestination()) return nullptr;
  auto* rec = new TRVUndoInsertItemsInfo();
  rec->Kind = rvukInsertItems;
  rec->ItemNo = item_no;
  rec->ItemCount = count;
  RecordInfo(rec);
  return rec;
}

void TRVEditRVData::RecInsertItemsTail(int32_t item_no, int32_t count, TRVUndoInsertItemsInfo* record,
                                       bool& full_format) {
  full_format = false;
  if (count == 0) return;
  const int32_t e = item_no + count - 1;
  int32_t last_affected = -1;
  if (item_no + count < ItemCount() && !IsParaStart(item_no + count)) last_affected = GetLastParaItem(e);
  if (record) record->RangeEndNo = last_affected;
  if (last_affected != -1) RecSetParaRange(e, last_affected, GetItemPara(e), full_format);
  for (int32_t i = item_no; i <= e; ++i)
    if (TRVCPInfo* cp = GetItem(i)->Checkpoint) {
      GetItem(i)->Checkpoint = nullptr;
      cp->ItemInfo = nullptr;
      RecAddCheckpoint(i, cp);
    }
}

void TRVEditRVData::RecInsertItems(int32_t item_no, std::vector<std::pair<AnsiString, TCustomRVItemInfo*>>& items,
                                   bool from_undo, bool& full_format) {
  full_format = false;
  const int32_t count = static_cast<int32_t>(items.size());
  if (count == 0) return;
  TRVUndoInsertItemsInfo* rec = RecInsertItemsHead(item_no, count);
  for (auto& [text, item] : items) InsertItemRaw(item_no, text, item, from_undo);
  RecInsertItemsTail(item_no, count, rec, full_format);
}

bool TRVEditRVData::SetParaNoRange(int32_t first, int32_t last, int32_t para_no, bool& full_format) {
  full_format = false;
  const int32_t w0 = RangeWidthForUndo(first, last);
  bool changed = false;
  TRVStyle* style = GetRVStyle();
  for (int32_t i = first; i <= last; ++i) {
    TCustomRVItemInfo* item = GetItem(i);
    if (item->ParaNo == para_no) continue;
    bool protect = false;
    if (style && item->ParaNo >= 0 && item->ParaNo < style->ParaStyles()->Count())
      protect = style->ParaStyles()->Items(item->ParaNo)->Options.Contains(rvpaoStyleProtect);
    if (protect && !(!item->IsParaStart() && i > 0 && GetItem(i - 1)->ParaNo == para_no)) continue;
    item->ParaNo = para_no;
    changed = true;
  }
  if (changed && IsFormattedForUndo()) {
    const int32_t w1 = RangeWidthForUndo(first, last);
    const int32_t d = DocWidthForUndo();
    full_format = w1 > d || w0 >= d;
  }
  return changed;
}

bool TRVEditRVData::RecSetParaRange(int32_t first, int32_t last, int32_t para_no, bool& full_format) {
  full_format = false;
  if (last < first) return false;
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoParaListInfo();
    rec->Kind = rvukPara;
    rec->FirstItemNo = first;
    for (int32_t i = first; i <= last; ++i) rec->Numbers.push_back(GetItemPara(i));
    RecordInfo(rec);
  }
  return SetParaNoRange(first, last, para_no, full_format);
}

bool TRVEditRVData::RecSetParaList(int32_t first, const std::vector<int32_t>& numbers, bool& full_format) {
  full_format = false;
  if (numbers.empty()) return false;
  const int32_t last = first + static_cast<int32_t>(numbers.size()) - 1;
  // Every item's prior style is kept: items of one range may have had different styles.
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoParaListInfo();
    rec->Kind = rvukPara;
    rec->FirstItemNo = first;
    for (int32_t i = first; i <= last; ++i) rec->Numbers.push_back(GetItemPara(i));
    RecordInfo(rec);
  }
  const int32_t w0 = RangeWidthForUndo(first, last);
  bool changed = false;
  for (int32_t i = first; i <= last; ++i)
    if (GetItem(i)->ParaNo != numbers[static_cast<size_t>(i - first)]) {
      GetItem(i)->ParaNo = numbers[static_cast<size_t>(i - first)];
      changed = true;
    }
  if (changed) full_format = WidthRule(w0, RangeWidthForUndo(first, last), DocWidthForUndo());
  return changed;
}

void TRVEditRVData::RecSetStyleNo(int32_t item_no, int32_t style_no) {
  TCustomRVItemInfo* item = GetItem(item_no);
  if (item->StyleNo < 0 || item->StyleNo == style_no) return;
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoStyleNoInfo();
    rec->Kind = rvukStyleNo;
    rec->ItemNo = item_no;
    rec->PriorStyleNo = item->StyleNo;
    RecordInfo(rec);
  }
  TRVStyle* style = GetRVStyle();
  auto is_unicode = [&](int32_t no) {
    return style && no >= 0 && no < style->TextStyles()->Count() && style->TextStyles()->Items(no)->Unicode;
  };
  const bool old_uni = is_unicode(GetActualStyle(item));
  item->StyleNo = style_no;
  const bool new_uni = is_unicode(GetActualStyle(item));
  if (old_uni && !new_uni) item->ItemOptions.Exclude(rvioUnicodeText);
  if (!old_uni && new_uni) item->ItemOptions.Include(rvioUnicodeText);
}

void TRVEditRVData::RecSetAssocTextStyleNo(int32_t item_no, int32_t style_no) {
  TCustomRVItemInfo* item = GetItem(item_no);
  if (item->StyleNo >= 0 || item->GetAssociatedTextStyleNo() == style_no) return;
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoAssociatedTextStyleNoInfo();
    rec->Kind = rvukStyleNo;
    rec->ItemNo = item_no;
    rec->PriorStyleNo = item->GetAssociatedTextStyleNo();
    RecordInfo(rec);
  }
  item->SetAssociatedTextStyleNo(style_no);
}

void TRVEditRVData::RecSetBR(int32_t item_no, bool br, bool& full_format) {
  full_format = false;
  TCustomRVItemInfo* item = GetItem(item_no);
  if ((item->GetSameAsPrev() || item->GetBR()) == br) return;
  if (item->GetBoolValue(0)) return;  // full-line items keep their line
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoBRInfo();
    rec->Kind = rvukBR;
    rec->ItemNo = item_no;
    rec->PriorBreak = item->GetBR();
    RecordInfo(rec);
  }
  const int32_t w0 = ItemWidthForUndo(item_no);
  item->SetBR(br);
  full_format = WidthRule(w0, ItemWidthForUndo(item_no), DocWidthForUndo());
}

void TRVEditRVData::RecSetPageBreak(int32_t item_no, bool page_break) {
  if (item_no > 0 && GetItem(item_no - 1)->StyleNo == rvsListMarker) --item_no;
  TCustomRVItemInfo* item = GetItem(item_no);
  if ((item->GetSameAsPrev() || item->GetPageBreakBefore()) == page_break) return;
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoPageBreakInfo();
    rec->Kind = rvukPageBreak;
    rec->ItemNo = item_no;
    rec->PriorPageBreak = item->GetPageBreakBefore();
    RecordInfo(rec);
  }
  item->SetPageBreakBefore(page_break);
}

void TRVEditRVData::RecSetNewLine(int32_t item_no, bool same_as_prev, int32_t para_no, bool& full_format) {
  full_format = false;
  TCustomRVItemInfo* item = GetItem(item_no);
  if (item->GetBoolValue(0)) return;
  if (!same_as_prev && !item->GetSameAsPrev()) return;
  bool ff = false;
  if (same_as_prev) {
    RecSetBR(item_no, false, ff);
    full_format = full_format || ff;
    RecSetPageBreak(item_no, false);
  }
  int32_t last_affected =
      (item_no == ItemCount() - 1 || IsParaStart(item_no + 1)) ? -1 : GetLastParaItem(item_no + 1);
  // The paragraphs on both sides of the join or split: their minimal width decides whether
  // the document's width may change (a paragraph that does not wrap is as wide as its text).
  const int32_t range_first = GetFirstParaItem(std::max(item_no - 1, 0));
  const int32_t range_last = GetLastParaItem(item_no);
  const int32_t w0 = RangeWidthForUndo(range_first, range_last);
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoNewLineInfo();
    rec->Kind = rvukNewLine;
    rec->ItemNo = item_no;
    rec->PriorSameAsPrev = item->GetSameAsPrev();
    rec->PriorParaNo = item->ParaNo;
    rec->RangeEndNo = last_affected;
    RecordInfo(rec);
  }
  if (last_affected == -1) last_affected = item_no;
  if (same_as_prev && item_no > 0)
    RecSetParaRange(item_no, last_affected, GetItemPara(item_no - 1), ff);
  else if (!same_as_prev && para_no != -1)
    RecSetParaRange(item_no, last_affected, para_no, ff);
  full_format = full_format || ff;
  item->SetSameAsPrev(same_as_prev);
  if (IsFormattedForUndo())
    full_format = full_format || WidthRule(w0, RangeWidthForUndo(range_first, range_last), DocWidthForUndo());
}

void TRVEditRVData::RecSetTag(int32_t item_no, const TRVTag& tag) {
  TCustomRVItemInfo* item = GetItem(item_no);
  const bool text = TagsArePChars();
  if (text ? RV_CompareTags(item->Tag, tag, true) : (item->Tag.Int == tag.Int && item->Tag.Str == tag.Str)) return;
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoTagInfo();
    rec->Kind = rvukTag;
    rec->ItemNo = item_no;
    rec->PriorTag = RV_CopyTag(item->Tag, text);
    rec->TagIsText = text;
    RecordInfo(rec);
  }
  item->Tag = RV_CopyTag(tag, text);
}

void TRVEditRVData::RecReformatRange(int32_t item_no, int32_t last_item_no, bool reformat_root) {
  if (!GetUndoDestination()) return;
  auto* rec = new TRVUndoReformateRange();
  rec->Kind = rvukReformat;
  rec->ItemNo = item_no;
  rec->RangeEndNo = last_item_no;
  rec->ReformatRoot = reformat_root;
  RecordInfo(rec);
}

void TRVEditRVData::RecAddCheckpoint(int32_t item_no, TRVCPInfo* checkpoint) {
  if (item_no < 0 || item_no >= ItemCount()) {
    delete checkpoint;
    throw EDocViewError("Checkpoint error");
  }
  if (GetItem(item_no)->Checkpoint) {
    delete checkpoint;
    throw EDocViewError("Checkpoint error");
  }
  if (!checkpoint) return;
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoAddCPInfo();
    rec->Kind = rvukCheckpoint;
    rec->ItemNo = item_no;
    try {
      RecordInfo(rec);
    } catch (...) {
      delete checkpoint;
      throw;
    }
  }
  GetItem(item_no)->Checkpoint = checkpoint;
  checkpoint->ItemInfo = GetItem(item_no);
  AdjustCPCount(1);
  LinkCheckpoint(checkpoint, item_no);
}

void TRVEditRVData::RecDeleteCheckpoint(int32_t item_no) {
  TRVCPInfo* cp = GetItem(item_no)->Checkpoint;
  if (!cp) throw EDocViewError("Checkpoint error");
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoDeleteCPInfo();
    rec->Kind = rvukCheckpoint;
    rec->ItemNo = item_no;
    rec->TagIsText = TagsArePChars();
    RecordInfo(rec);
    UnlinkCheckpoint(cp, true);
    rec->HeldCheckpoint = cp;
  } else {
    FreeCheckpoint(cp, true, true);
  }
  GetItem(item_no)->Checkpoint = nullptr;
}

void TRVEditRVData::RecMoveCheckpoint(int32_t from_item_no, int32_t to_item_no) {
  TRVCPInfo* cp = GetItem(from_item_no)->Checkpoint;
  if (!cp) return;
  if (GetItem(to_item_no)->Checkpoint) RecDeleteCheckpoint(to_item_no);
  RecAddCheckpoint(to_item_no, cp->CreateCopy(TagsArePChars()).release());
  RecDeleteCheckpoint(from_item_no);
}

void TRVEditRVData::RecConcatenateItems(int32_t item_no) {
  bool ff = false;
  TCustomRVItemInfo* item1 = GetItem(item_no);
  TCustomRVItemInfo* item2 = GetItem(item_no + 1);
  const bool uni1 = item1->ItemOptions.Contains(rvioUnicodeText);
  const bool uni2 = item2->ItemOptions.Contains(rvioUnicodeText);
  if (uni1 != uni2 && !GetItemTextRaw(item_no + 1).empty()) {
    // The empty first item goes; its line and paragraph state move onto the second.
    if (!item1->GetSameAsPrev()) RecSetNewLine(item_no + 1, false, item1->ParaNo, ff);
    if (item1->GetBR()) RecSetBR(item_no + 1, true, ff);
    if (item1->Checkpoint && !item2->Checkpoint)
      RecAddCheckpoint(item_no + 1, item1->Checkpoint->CreateCopy(TagsArePChars()).release());
    RecDeleteItem(item_no, ff);
    return;
  }
  const bool was_empty = GetItemTextRaw(item_no).empty();
  if (was_empty) RecSetTag(item_no, item2->Tag);
  RecInsertSubstring(item_no, RVU_Length(GetItemTextRaw(item_no), GetItemOptions(item_no)) + 1,
                     GetItemTextRaw(item_no + 1));
  if (item2->Checkpoint && !item1->Checkpoint)
    RecAddCheckpoint(item_no, item2->Checkpoint->CreateCopy(TagsArePChars()).release());
  const int32_t style2 = item2->StyleNo;
  RecDeleteItem(item_no + 1, ff);
  if (was_empty) RecSetStyleNo(item_no, style2);
}

void TRVEditRVData::RecSetExtraIntProperty(int32_t item_no, int32_t property_id, int32_t value) {
  TCustomRVItemInfo* item = GetItem(item_no);
  int32_t prior = 0;
  if (!item->GetExtraIntProperty(property_id, prior) || prior == value) return;
  if (GetUndoDestination()) {
    auto* rec = new TRVUndoExtraIntProperty();
    rec->Kind = rvukModifyItem;
    rec->ItemNo = item_no;
    rec->PriorValue = prior;
    rec->PropertyId = static_cast<uint8_t>(property_id);
    RecordInfo(rec);
  }
  item->SetExtraIntProperty(property_id, value);
  // Width, height and the animation interval restart the picture's animation.
  if (property_id == 3 || property_id == 4 || property_id == 13) item->UpdateAnimator(this);
}

void TRVEditRVData::RecModifyItemTerminator(int32_t item_no, bool is_opening) {
  if (!GetUndoDestination()) return;
  auto* rec = new TRVUndoModifyItemTerminator();
  rec->ItemNo = item_no;
  rec->IsOpening = is_opening;
  RecordInfo(rec);
}

bool TRVEditRVData::HasPersistentCheckpoint(int32_t item_no) {
  TRVCPInfo* cp = GetItem(item_no)->Checkpoint;
  return cp && cp->Persistent;
}

bool TRVEditRVData::ParaHasPersistentCheckpoint(int32_t item_no) {
  int32_t first = item_no;
  while (first > 0 && !IsParaStart(first)) --first;
  const int32_t last = GetLastParaItem(item_no);
  for (int32_t i = first; i <= last; ++i)
    if (HasPersistentCheckpoint(i)) return true;
  return false;
}

bool TRVEditRVData::MovePersistentCheckpoint(int32_t item_no, bool dont_move_forward) {
  if (!HasPersistentCheckpoint(item_no)) return true;
  if (!dont_move_forward && item_no + 1 < ItemCount() && !IsParaStart(item_no + 1) &&
      !HasPersistentCheckpoint(item_no + 1)) {
    RecMoveCheckpoint(item_no, item_no + 1);
    return true;
  }
  if (!IsParaStart(item_no) && item_no > 0 && !HasPersistentCheckpoint(item_no - 1)) {
    RecMoveCheckpoint(item_no, item_no - 1);
    return true;
  }
  return false;
}

bool TRVEditRVData::ReplicateListMarker(int32_t source_item_no, int32_t insert_at, bool& full_format,
                                        bool recorded) {
  full_format = false;
  int32_t first = source_item_no;
  while (first > 0 && !IsParaStart(first)) --first;
  TCustomRVItemInfo* marker = GetItem(first);
  if (marker->StyleNo != rvsListMarker) return false;
  std::unique_ptr<TCustomRVItemInfo> copy = CreateRVItemCopy(marker, this, false);
  if (auto* m = dynamic_cast<TRVMarkerItemInfo*>(copy.get())) {
    m->Reset = false;
    m->IndexInList = -1;
  }
  copy->SetSameAsPrev(false);
  copy->SetBR(false);
  copy->SetPageBreakBefore(false);
  AnsiString text;
  TCustomRVItemInfo* item = copy.release();
  if (recorded) {
    RecInsertItem(insert_at, text, item, false, full_format);
  } else {
    item->Inserting(this, text, false);
    Items().InsertObject(insert_at, text, item);
    item->Inserted(this, insert_at);
    AddMarkerInList(insert_at);
  }
  return true;
}

// ---- List numbering after edits ----

bool TRVEditRVData::CollectNumberedLists(int32_t first, int32_t last, bool before_first, int32_t& last_item_no,
                                         int32_t& marker_index, std::unique_ptr<TRVIntegerList>& lists) {
  lists.reset();
  marker_index = -1;
  last_item_no = last;
  auto* markers = GetMarkers(false);
  TRVStyle* style = GetRVStyle();
  if (!markers || !style || ItemCount() == 0) return false;
  first = std::clamp(first, 0, ItemCount() - 1);
  last = std::clamp(last, first, ItemCount() - 1);
  ExpandToPara(first, last, first, last);
  last_item_no = last;
  bool seen = false;
  for (int32_t i = first; i <= last; ++i) {
    auto* m = dynamic_cast<TRVMarkerItemInfo*>(GetItem(i));
    if (!m || m->ListNo < 0 || m->ListNo >= style->ListStyles()->Count() ||
        !style->ListStyles()->Items(m->ListNo)->HasTextNumbering())
      continue;
    if (!lists) lists = std::make_unique<TRVIntegerList>();
    bool listed = false;
    for (int32_t k = 0; k < lists->Count(); ++k) listed = listed || lists->GetItem(k) == m->ListNo;
    if (!listed) lists->Add(m->ListNo);
    const auto at = std::find(markers->begin(), markers->end(), m);
    const int32_t index = at == markers->end() ? -1 : static_cast<int32_t>(at - markers->begin());
    if (!before_first)
      marker_index = index;
    else if (!seen)
      marker_index = index - 1;
    seen = true;
  }
  return lists != nullptr;
}

void TRVEditRVData::ReformatFollowingMarkers(int32_t last_item_no, int32_t marker_index, const TRVIntegerList* lists,
                                             int32_t list_no) {
  TRVIntegerList one;
  if (!lists) {
    if (list_no < 0) return;
    one.Add(list_no);
    lists = &one;
  }
  const int32_t index = FindLastMarkerOfLists(marker_index, *lists);
  if (index < 0) return;
  TRVMarkerItemInfo* marker = (*GetMarkers(false))[static_cast<size_t>(index)];
  int32_t marker_item = -1;
  for (int32_t i = std::max(last_item_no + 1, 0); i < ItemCount() && marker_item < 0; ++i)
    if (GetItem(i) == marker) marker_item = i;
  if (marker_item < 0) {
    // The marker lies in another document of the tree (a table cell).
    if (auto* root = dynamic_cast<TCustomRVFormattedData*>(GetAbsoluteRootData()); root && root->DrawLines.Count() > 0) {
      root->FormatDocument(false, true, true, 0, nullptr, false, false, false);
      root->InvalidateControl();
    }
    RecReformatRange(-1, -1, true);
    return;
  }
  int32_t first = last_item_no + 1, last = marker_item;
  ExpandToPara(first, last, first, last);
  RecReformatRange(first, last, false);
  if (NotFormatted() || !GetCanvas() || !GetRVStyle()) return;
  int32_t first_d = -1, last_d = -1;
  GetFirstDrawItemOfItem(first, first_d);
  GetLastDrawItemOfItem(last, last_d);
  if (first_d < 0 || last_d < first_d) return;
  FormatParasExact(first_d, last_d, 0, false, false);
  InvalidateControl();
}

void TRVEditRVData::RenumberListsAfterDelete(int32_t item_no, int32_t marker_index, const TRVIntegerList* lists) {
  if (!lists || ItemCount() == 0) return;
  int32_t first = std::clamp(item_no, 0, ItemCount() - 1), last = first;
  ExpandToPara(first, last, first, last);
  ReformatFollowingMarkers(first - 1, marker_index, lists, -1);
}

void TRVEditRVData::UpdateListNumbering(int32_t first_item_no, int32_t last_item_no) {
  int32_t last = -1, marker_index = -1;
  std::unique_ptr<TRVIntegerList> lists;
  if (CollectNumberedLists(first_item_no, last_item_no, false, last, marker_index, lists))
    ReformatFollowingMarkers(last, marker_index, lists.get(), -1);
}

}  // namespace pelvar
