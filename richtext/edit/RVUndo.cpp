#include "richtext/edit/RVUndo.h"

#include <algorithm>
#include <cstdint>

#include "platform/filer.h"
#include "richtext/edit/RVERVData.h"
#include "richtext/model/RVUni.h"
#include "richtext/view/DocView.h"

namespace pelvar {

// ---- Affected ranges ----

void TRVUndoItemNoInfo::GetAffectedItems(int32_t& first_no, int32_t& last_no, TRVEditRVData*) {
  if (ItemNo < 0) return;
  first_no = ItemNo;
  last_no = RangeEndNo >= 0 ? RangeEndNo : ItemNo;
}

void TRVUndoItemRangeInfo::GetAffectedItems(int32_t& first_no, int32_t& last_no, TRVEditRVData*) {
  first_no = FirstItemNo;
  last_no = RangeEndNo != -1 ? RangeEndNo : FirstItemNo + static_cast<int32_t>(HeldItems.size());
}

void TRVUndoParaListInfo::GetAffectedItems(int32_t& first_no, int32_t& last_no, TRVEditRVData*) {
  first_no = FirstItemNo;
  last_no = FirstItemNo + static_cast<int32_t>(Numbers.size());
}

void TRVUndoParaInfo::GetAffectedItems(int32_t& first_no, int32_t& last_no, TRVEditRVData*) {
  first_no = ItemNo;
  last_no = ItemNo + ItemCount;
}

// ---- Held items ----

static TRVEditRVData* HolderDocument(TRVUndoList* owner) { return owner ? owner->Document : nullptr; }

TRVUndoItemInfo::~TRVUndoItemInfo() {
  if (!HeldItem) return;
  if (TRVEditRVData* doc = HolderDocument(Owner))
    doc->FreeHeldItem(HeldItem);
  else
    delete HeldItem;
}

TRVUndoStringItemListInfo::~TRVUndoStringItemListInfo() {
  TRVEditRVData* doc = HolderDocument(Owner);
  for (auto& [text, item] : HeldItems) {
    if (doc)
      doc->FreeHeldItem(item);
    else
      delete item;
  }
}

TRVUndoDeleteCPInfo::~TRVUndoDeleteCPInfo() { delete HeldCheckpoint; }

// ---- Performing ----

void TRVUndoReformateRange::Perform(TRVEditRVData* rvdata) {
  rvdata->RecReformatRange(ItemNo, RangeEndNo, ReformatRoot);
}

void TRVUndoChangeTextInfo::Perform(TRVEditRVData* rvdata) {
  WidthBefore = rvdata->ItemWidthForUndo(ItemNo);
  rvdata->RecChangeText(ItemNo, SavedText);
}

void TRVUndoDeleteItemInfo::Perform(TRVEditRVData* rvdata) {
  TCustomRVItemInfo* item = HeldItem;
  HeldItem = nullptr;
  AnsiString text = SavedText;
  rvdata->RecInsertItem(ItemNo, text, item, true, FullFormat);
}

void TRVUndoDeleteItemsInfo::Perform(TRVEditRVData* rvdata) {
  auto items = std::move(HeldItems);
  HeldItems.clear();
  LastItemNo = FirstItemNo + static_cast<int32_t>(items.size()) - 1;
  rvdata->RecInsertItems(FirstItemNo, items, true, FullFormat);
}

void TRVUndoDeleteSubstringInfo::Perform(TRVEditRVData* rvdata) {
  WidthBefore = rvdata->ItemWidthForUndo(ItemNo);
  rvdata->RecInsertSubstring(ItemNo, CharPos, SavedText);
}

void TRVUndoInsertSubstringInfo::Perform(TRVEditRVData* rvdata) {
  WidthBefore = rvdata->ItemWidthForUndo(ItemNo);
  rvdata->RecDeleteSubstring(ItemNo, CharPos, CharCount);
}

void TRVUndoInsertItemInfo::Perform(TRVEditRVData* rvdata) { rvdata->RecDeleteItem(ItemNo, FullFormat); }

void TRVUndoInsertItemsInfo::Perform(TRVEditRVData* rvdata) {
  rvdata->RecDeleteItems(ItemNo, ItemNo + ItemCount - 1, FullFormat);
}

void TRVUndoNewLineInfo::Perform(TRVEditRVData* rvdata) {
  rvdata->RecSetNewLine(ItemNo, PriorSameAsPrev, PriorSameAsPrev ? -1 : PriorParaNo, FullFormat);
}

void TRVUndoBRInfo::Perform(TRVEditRVData* rvdata) {
  bool ff = false;
  rvdata->RecSetBR(ItemNo, PriorBreak, ff);
}

void TRVUndoPageBreakInfo::Perform(TRVEditRVData* rvdata) { rvdata->RecSetPageBreak(ItemNo, PriorPageBreak); }

void TRVUndoParaListInfo::Perform(TRVEditRVData* rvdata) { rvdata->RecSetParaList(FirstItemNo, Numbers, FullFormat); }

void TRVUndoParaInfo::Perform(TRVEditRVData* rvdata) {
  rvdata->RecSetParaRange(ItemNo, ItemNo + ItemCount - 1, PriorParaNo, FullFormat);
}

void TRVUndoStyleNoInfo::Perform(TRVEditRVData* rvdata) {
  WidthBefore = rvdata->ItemWidthForUndo(ItemNo);
  rvdata->RecSetStyleNo(ItemNo, PriorStyleNo);
}

void TRVUndoAssociatedTextStyleNoInfo::Perform(TRVEditRVData* rvdata) {
  WidthBefore = rvdata->ItemWidthForUndo(ItemNo);
  rvdata->RecSetAssocTextStyleNo(ItemNo, PriorStyleNo);
}

void TRVUndoTagInfo::Perform(TRVEditRVData* rvdata) { rvdata->RecSetTag(ItemNo, PriorTag); }

void TRVUndoAddCPInfo::Perform(TRVEditRVData* rvdata) { rvdata->RecDeleteCheckpoint(ItemNo); }

void TRVUndoDeleteCPInfo::Perform(TRVEditRVData* rvdata) {
  TRVCPInfo* cp = HeldCheckpoint;
  HeldCheckpoint = nullptr;
  rvdata->RecAddCheckpoint(ItemNo, cp);
}

void TRVUndoExtraIntProperty::Perform(TRVEditRVData* rvdata) {
  WidthBefore = rvdata->ItemWidthForUndo(ItemNo);
  rvdata->RecSetExtraIntProperty(ItemNo, PropertyId, PriorValue);
}

void TRVUndoModifyItemTerminator::Perform(TRVEditRVData* rvdata) {
  rvdata->RecModifyItemTerminator(ItemNo, !IsOpening);
}

// ---- Width tests: may the document's width change with the record? ----

namespace {
// The item's minimal width changed, and it was or now is as wide as the document.
bool ItemWidthChanged(TRVEditRVData* rvdata, int32_t item_no, int32_t before) {
  if (!rvdata->IsFormattedForUndo()) return false;
  const int32_t after = rvdata->ItemWidthForUndo(item_no), doc = rvdata->DocWidthForUndo();
  return after != before && (after > doc || before >= doc);
}
}  // namespace

bool TRVUndoChangeTextInfo::NeedsFullFormatAfter(TRVEditRVData* rvdata) {
  return ItemWidthChanged(rvdata, ItemNo, WidthBefore);
}
bool TRVUndoDeleteSubstringInfo::NeedsFullFormatAfter(TRVEditRVData* rvdata) {
  return ItemWidthChanged(rvdata, ItemNo, WidthBefore);
}
bool TRVRedoTypingInfo::NeedsFullFormatAfter(TRVEditRVData* rvdata) {
  return ItemWidthChanged(rvdata, ItemNo, WidthBefore);
}
bool TRVUndoInsertSubstringInfo::NeedsFullFormatAfter(TRVEditRVData* rvdata) {
  return ItemWidthChanged(rvdata, ItemNo, WidthBefore);
}
bool TRVUndoTypingInfo::NeedsFullFormatAfter(TRVEditRVData* rvdata) {
  return ItemWidthChanged(rvdata, ItemNo, TypedWidthBefore);
}
bool TRVUndoStyleNoInfo::NeedsFullFormatAfter(TRVEditRVData* rvdata) {
  return ItemWidthChanged(rvdata, ItemNo, WidthBefore);
}
bool TRVUndoExtraIntProperty::NeedsFullFormatAfter(TRVEditRVData* rvdata) {
  return ItemWidthChanged(rvdata, ItemNo, WidthBefore);
}

bool TRVUndoInsertItemInfo::NeedsFullFormatBefore(TRVEditRVData* rvdata) {
  return rvdata->IsFormattedForUndo() && rvdata->ItemWidthForUndo(ItemNo) >= rvdata->DocWidthForUndo();
}
bool TRVUndoInsertItemsInfo::NeedsFullFormatBefore(TRVEditRVData* rvdata) {
  return rvdata->IsFormattedForUndo() &&
         rvdata->RangeWidthForUndo(ItemNo, ItemNo + ItemCount - 1) >= rvdata->DocWidthForUndo();
}
bool TRVUndoDeleteItemInfo::NeedsFullFormatAfter(TRVEditRVData* rvdata) {
  return FullFormat ||
         (rvdata->IsFormattedForUndo() && rvdata->ItemWidthForUndo(ItemNo) > rvdata->DocWidthForUndo());
}
bool TRVUndoDeleteItemsInfo::NeedsFullFormatAfter(TRVEditRVData* rvdata) {
  return FullFormat || (rvdata->IsFormattedForUndo() &&
                        rvdata->RangeWidthForUndo(FirstItemNo, LastItemNo) > rvdata->DocWidthForUndo());
}

// ---- Item properties ----

bool TRVUndoModifyItemProps::NeedsFullFormatBefore(TRVEditRVData* rvdata) {
  if (!ChangesWidth || !ChangesSize || !rvdata->IsFormattedForUndo()) return false;
  MeasuredWidth = rvdata->ItemWidthForUndo(ItemNo);
  return MeasuredWidth >= rvdata->DocWidthForUndo();
}

bool TRVUndoModifyItemProps::NeedsFullFormatAfter(TRVEditRVData* rvdata) {
  if (!ChangesWidth || !ChangesSize || !rvdata->IsFormattedForUndo()) return false;
  const int32_t w = rvdata->ItemWidthForUndo(ItemNo);
  return w != MeasuredWidth && w > rvdata->DocWidthForUndo();
}

TRVUndoModifyItemProps* TRVUndoModifyItemProps::RecordReverse(TRVEditRVData* rvdata) {
  TRVUndoList* list = rvdata->GetUndoDestination();
  if (!list) return nullptr;
  std::unique_ptr<TRVUndoModifyItemProps> rec = NewReverse();
  rec->Kind = rvukModifyItem;
  rec->ItemNo = ItemNo;
  rec->ChangesWidth = ChangesWidth;
  rec->ChangesSize = ChangesSize;
  rec->Target = Target;
  TRVUndoModifyItemProps* raw = rec.get();
  list->AddInfo(rec.release());
  return raw;
}

namespace {
// The published property of that name of the target; EDocViewError when there is none.
TPublishedProperty FindPublished(TPersistent* target, const AnsiString& name) {
  TPublishedProperties props;
  if (target) target->DefinePublished(props);
  const TPublishedProperty* p = props.Find(name);
  if (!p) throw EDocViewError("Property " + name + " does not exist");
  return *p;
}

bool IsStringKind(const TPublishedProperty& p) { return p.Kind == TPropKind::String; }
}  // namespace

void TRVUndoModifyItemIntProperty::Perform(TRVEditRVData* rvdata) {
  TCustomRVItemInfo* item = rvdata->GetItem(ItemNo);
  TPersistent* target = Target ? Target : item;
  const TPublishedProperty p = FindPublished(target, PropName);
  if (auto* rev = static_cast<TRVUndoModifyItemIntProperty*>(RecordReverse(rvdata))) {
    rev->PropName = PropName;
    if (IsStringKind(p))
      rev->PriorText = p.GetStr();
    else
      rev->PriorValue = static_cast<int32_t>(p.GetOrd());
    TakeReverseRecord(rev);
  }
  item->BeforeUndoChangeProperty();
  try {
    if (IsStringKind(p))
      p.SetStr(PriorText);
    else
      p.SetOrd(PriorValue);
  } catch (...) {
    item->AfterUndoChangeProperty();
    throw;
  }
  item->AfterUndoChangeProperty();
}

void TRVUndoModifyItemIntProperties::Perform(TRVEditRVData* rvdata) {
  TCustomRVItemInfo* item = rvdata->GetItem(ItemNo);
  TPersistent* target = Target ? Target : item;
  std::vector<std::pair<TPublishedProperty, int32_t>> props;
  for (auto it = PriorValues.rbegin(); it != PriorValues.rend(); ++it)
    props.emplace_back(FindPublished(target, it->first), it->second);
  if (auto* rev = static_cast<TRVUndoModifyItemIntProperties*>(RecordReverse(rvdata))) {
    // The reverse keeps the original order and only what really changes.
    for (auto it = props.rbegin(); it != props.rend(); ++it) {
      const int32_t cur = static_cast<int32_t>(it->first.GetOrd());
      if (cur != it->second) rev->PriorValues.emplace_back(it->first.Name, cur);
    }
    TakeReverseRecord(rev);
  }
  item->BeforeUndoChangeProperty();
  try {
    for (auto& [p, v] : props) p.SetOrd(v);
  } catch (...) {
    item->AfterUndoChangeProperty();
    throw;
  }
  item->AfterUndoChangeProperty();
}

TRVCompositeUndo::TRVCompositeUndo() = default;
TRVCompositeUndo::~TRVCompositeUndo() = default;

void TRVCompositeUndo::Perform(TRVEditRVData* rvdata) {
  if (InnerList && InnerList->Count() > 0) InnerList->Undo(InnerList->Document ? InnerList->Document : rvdata);
}

static void CheckUnicodeLength(const AnsiString& s) {
  if (s.size() % 2 != 0) throw EDocViewError("Can't perform Unicode operation");
}

void TRVUndoTypingInfo::Perform(TRVEditRVData* rvdata) {
  TypedWidthBefore = rvdata->ItemWidthForUndo(ItemNo);
  AnsiString s = rvdata->GetItemTextRaw(ItemNo);
  AnsiString removed;
  if (IsUnicode) {
    CheckUnicodeLength(s);
    const size_t at = static_cast<size_t>((CharPos + CharCount) * 2 - 3 - 1);
    removed = s.substr(at, 2);
    s.erase(at, 2);
  } else {
    const size_t at = static_cast<size_t>(CharPos + CharCount - 1 - 1);
    removed = s.substr(at, 1);
    s.erase(at, 1);
  }
  --CharCount;
  rvdata->SetItemTextRaw(ItemNo, s);
  rvdata->RedoList->AddUntyping(removed, ItemNo, CharPos + CharCount + 1);
}

void TRVRedoTypingInfo::Perform(TRVEditRVData* rvdata) {
  WidthBefore = rvdata->ItemWidthForUndo(ItemNo);
  AnsiString s = rvdata->GetItemTextRaw(ItemNo);
  const size_t unit = IsUnicode ? 2 : 1;
  const int32_t n = static_cast<int32_t>(SavedText.size() / unit);
  AnsiString ch = SavedText.substr(SavedText.size() - unit);
  if (IsUnicode) {
    CheckUnicodeLength(s);
    const size_t at = static_cast<size_t>((CharPos - 1) * 2 - static_cast<int32_t>(SavedText.size()));
    s.insert(at, ch);
  } else {
    s.insert(static_cast<size_t>(CharPos - n - 1), ch);
  }
  SavedText.erase(SavedText.size() - unit);
  rvdata->SetItemTextRaw(ItemNo, s);
  rvdata->UndoList->AddTyping(ItemNo, CharPos - n, IsUnicode);
}

// ---- Lists ----

TRVUndoList::~TRVUndoList() { Clear(); }

void TRVUndoList::Clear() {
  // Newest first: a held item may refer to items released after it.
  while (!groups_.empty()) groups_.pop_back();
}

void TRVUndoList::DeleteGroup(int32_t index) { groups_.erase(groups_.begin() + index); }

std::unique_ptr<TRVUndoInfos> TRVUndoList::ExtractGroup(int32_t index) {
  std::unique_ptr<TRVUndoInfos> group = std::move(groups_.at(static_cast<size_t>(index)));
  groups_.erase(groups_.begin() + index);
  return group;
}

static bool IsSingleTyping(const TRVUndoInfos* g) { return g->Count() == 1 && g->Get(0)->Kind == rvukTyping; }

bool TRVUndoList::BeginGroup(uint8_t group_type, const AnsiString& title, int32_t caret_item, int32_t caret_offset) {
  if (MaxGroups == 0) return false;
  if (GroupNesting > 0 && !groups_.empty() && !IsSingleTyping(Last())) return true;
  if (MaxGroups > 0)
    while (Count() >= MaxGroups) DeleteGroup(0);
  auto group = std::make_unique<TRVUndoInfos>();
  group->GroupType = group_type;
  group->Title = title;
  group->CaretItem = caret_item;
  group->CaretOffset = caret_offset;
  if (TRVUndoInfos* last = Last(); last && last->Count() == 0) {
    group->Title = last->Title;
    group->CaretItem = last->CaretItem;
    group->CaretOffset = last->CaretOffset;
    groups_.pop_back();
  }
  groups_.push_back(std::move(group));
  return true;
}

void TRVUndoList::SetMaxGroups(int32_t value) {
  MaxGroups = value;
  if (value >= 0)
    while (Count() > value) DeleteGroup(0);
}

void TRVUndoList::AddInfo(TRVUndoInfo* info) {
  std::unique_ptr<TRVUndoInfo> guard(info);
  if (groups_.empty()) throw EDocViewError("Can't modify empty undo list");
  if (IsSingleTyping(Last())) throw EDocViewError("Incorrect adding into undo list");
  info->Owner = this;
  Last()->Records.push_back(std::move(guard));
}

void TRVUndoList::AddGroup(TRVUndoInfos* group) {
  std::unique_ptr<TRVUndoInfos> guard(group);
  for (auto& r : group->Records) r->Owner = this;
  groups_.push_back(std::move(guard));
}

void TRVUndoList::DropEmptyGroup() {
  if (!groups_.empty() && GroupNesting == 0 && Last()->Count() == 0) groups_.pop_back();
}

void TRVUndoList::AddTyping(int32_t item_no, int32_t char_pos, bool is_unicode) {
  if (MaxGroups == 0) return;
  if (Last() && Last()->Count() == 0) groups_.pop_back();
  if (TRVUndoInfos* last = Last(); last && last->Count() > 0)
    if (auto* t = dynamic_cast<TRVUndoTypingInfo*>(last->Get(0));
        t && t->ItemNo == item_no && char_pos == t->CharPos + t->CharCount) {
      ++t->CharCount;
      ++last->CaretOffset;
      return;
    }
  if (!BeginGroup(rvutTyping, AnsiString(), item_no, char_pos)) return;
  auto* rec = new TRVUndoTypingInfo();
  rec->Kind = rvukTyping;
  rec->ItemNo = item_no;
  rec->CharPos = char_pos;
  rec->CharCount = 1;
  rec->IsUnicode = is_unicode;
  AddInfo(rec);
}

void TRVUndoList::AddUntyping(const AnsiString& chars, int32_t item_no, int32_t char_pos) {
  if (MaxGroups == 0) return;
  if (Last() && Last()->Count() == 0) groups_.pop_back();
  if (TRVUndoInfos* last = Last(); last && last->Count() > 0)
    if (auto* t = dynamic_cast<TRVRedoTypingInfo*>(last->Get(0)); t && t->ItemNo == item_no) {
      const int32_t n = static_cast<int32_t>(t->SavedText.size() / (chars.size() > 1 ? 2 : 1));
      if (t->CharPos - n == char_pos) {
        t->SavedText += chars;
        --last->CaretOffset;
        return;
      }
    }
  if (!BeginGroup(rvutTyping, AnsiString(), item_no, char_pos)) return;
  auto* rec = new TRVRedoTypingInfo();
  rec->Kind = rvukTyping;
  rec->ItemNo = item_no;
  rec->CharPos = char_pos;
  rec->SavedText = chars;
  rec->IsUnicode = chars.size() > 1;
  AddInfo(rec);
}

void TRVUndoList::Undo(TRVEditRVData* rvdata) { PerformLast(rvdata, true); }
void TRVUndoList::Redo(TRVEditRVData* rvdata) { PerformLast(rvdata, false); }

static bool Exhausted(TRVUndoInfos* g) {
  if (g->Count() == 0) return true;
  TRVUndoInfo* first = g->Get(0);
  if (auto* t = dynamic_cast<TRVUndoTypingInfo*>(first)) return t->CharCount == 0;
  if (auto* t = dynamic_cast<TRVRedoTypingInfo*>(first)) return t->SavedText.empty();
  if (auto* c = dynamic_cast<TRVCompositeUndo*>(first)) return !c->InnerList || c->InnerList->Count() == 0;
  return true;
}

void TRVUndoList::PerformLast(TRVEditRVData* rvdata, bool undo) {
  if (groups_.empty()) throw EDocViewError("Undo buffer is empty");
  TRVUndoInfos* group = Last();
  if (undo)
    rvdata->BeginRedoGroup(group->GroupType, group->Title);
  else
    rvdata->BeginNamedUndoGroup(group->GroupType, group->Title, true);
  PerformGroup(rvdata, group, FormatLockCount <= 0);
  rvdata->UndoDest = 0;
  // A group that recorded nothing is no step to take back: a cell editor that takes over
  // the step hands it back as a group of its own when it closes.
  TRVUndoList* opposite = undo ? static_cast<TRVUndoList*>(rvdata->RedoList.get()) : rvdata->UndoList.get();
  if (opposite && opposite != this && opposite->Last() && opposite->Last()->Count() == 0)
    opposite->DeleteGroup(opposite->Count() - 1);
  auto it = std::find_if(groups_.begin(), groups_.end(), [&](auto& g) { return g.get() == group; });
  if (it == groups_.end()) return;
  if (Exhausted(group)) {
    groups_.erase(it);
  } else if (dynamic_cast<TRVUndoTypingInfo*>(group->Get(0))) {
    --group->CaretOffset;
  } else {
    ++group->CaretOffset;
  }
}

void TRVUndoList::PerformGroup(TRVEditRVData* rvdata, TRVUndoInfos* group, bool allow_format) {
  if (group->Count() == 0) return;
  const bool formatted = rvdata->IsFormattedForUndo();
  if (formatted) rvdata->Deselect(nullptr, true);
  const int32_t n = rvdata->ItemCount();
  bool needs_format = false, root_format = false;
  // The items the group touches, and how many it adds (negative: removes).
  int32_t first_no = n - 1, last_no = 0, shift = 0;
  for (int32_t i = group->Count() - 1; i >= 0; --i) {
    TRVUndoInfo* r = group->Get(i);
    if (!needs_format) needs_format = r->NeedsFormat();
    root_format = root_format || r->NeedsRootFormat();
    int32_t s = INT32_MIN, e = INT32_MIN;
    r->GetAffectedItems(s, e, rvdata);
    const int32_t d = r->ItemCountChange();
    if (s != INT32_MIN) {
      // The record names items as they stand when it is performed, after the newer
      // records have added or removed theirs: widened by that change, the range covers
      // them in the numbering before the group too.
      e += std::abs(shift);
      if (d > 0) e += d;
      first_no = std::min(first_no, s);
      last_no = std::max(last_no, e);
    }
    shift += d;
  }
  if (last_no < first_no) std::swap(first_no, last_no);
  first_no = std::max(first_no, 0);
  last_no = std::max(last_no, first_no);
  if (last_no + shift < first_no) last_no = first_no - shift;
  if (last_no >= n) last_no = n - 1;
  // The paragraphs of draw items that hold the touched items now: what is formatted again
  // afterwards, unless the document's width may change.
  int32_t first_d = -1, last_d = -1;
  // Only a layout that matches the items (the last draw item shows the last item) is patched.
  bool layout_current = formatted && n > 0 && rvdata->DrawLines.Count() > 0 &&
                        rvdata->DrawLines[rvdata->DrawLines.Count() - 1]->ItemNo == n - 1;
  if (layout_current) {
    // Items changed without a new layout since (draw items that name text no longer there,
    // hyperlink areas beyond the draw items) are formatted whole.
    const int32_t count = rvdata->DrawLines.Count();
    for (const auto& j : rvdata->Jumps) layout_current = layout_current && j->DrawItemNo < count;
    int32_t prev = 0;
    for (int32_t i = 0; i < count && layout_current; ++i) {
      const TRVDrawLineInfo* dl = rvdata->DrawLines[i];
      layout_current = dl->ItemNo >= prev && dl->ItemNo < n &&
                       (rvdata->GetItem(dl->ItemNo)->StyleNo < 0 ||
                        dl->Offs + dl->Length - 1 <= rvdata->ItemLength(dl->ItemNo));
      prev = dl->ItemNo;
    }
  }
  if (allow_format && layout_current && first_no < n) {
    int32_t f = 0, l = 0;
    rvdata->GetFirstDrawItemOfItem(first_no, f);
    rvdata->GetLastDrawItemOfItem(std::max(last_no, first_no), l);
    const int32_t count = rvdata->DrawLines.Count();
    if (f < 0 || f >= count) f = 0;
    if (l < 0 || l >= count) l = count - 1;
    if (l < f) std::swap(f, l);
    rvdata->ExpandToParaDrawItems(f, l, first_d, last_d);
  }
  // Performing, newest record first; a record that may change the document's width asks for
  // the whole document to be formatted. Between the two ends of an item's property run only
  // the run as a whole is judged.
  bool full_format = false, formatted_midway = false;
  int32_t nesting = 0, run_width = 0;
  for (int32_t i = group->Count() - 1; i >= 0; --i) {
    TRVUndoInfo* r = group->Get(i);
    if (nesting == 0 && formatted) full_format = needs_format && (full_format || r->NeedsFullFormatBefore(rvdata));
    if (auto* t = dynamic_cast<TRVUndoModifyItemTerminator*>(r)) {
      if (!t->IsOpening) {
        if (nesting == 0) run_width = t->MeasuredWidth;
        ++nesting;
      } else if (--nesting == 0) {
        t->MeasuredWidth = run_width;
      }
    }
    if (r->NeedsFormatFirst() && allow_format && rvdata->IsFormattedForUndo()) {
      rvdata->ReformatAll(false);
      formatted_midway = true;
    }
    r->Perform(rvdata);
    if (nesting == 0 && formatted) full_format = needs_format && (full_format || r->NeedsFullFormatAfter(rvdata));
  }
  // The touched items are checked again by live spelling.
  if (rvdata->ItemCount() > 0) {
    const int32_t count = rvdata->ItemCount();
    int32_t fs = std::clamp(first_no, 0, count - 1);
    int32_t ls = std::clamp(last_no + std::min(shift, 0), fs, count - 1);
    rvdata->ExpandToParaSection(fs, ls, fs, ls);
    for (int32_t i = fs; i <= ls; ++i) rvdata->GetItem(i)->ClearLiveSpellingResult();
    if (TCustomDocView* control = rvdata->SpellingControl())
      control->LiveSpellingScheduleFrom(rvdata->GetSourceRVData(), fs, 0);
  }
  if (allow_format && (needs_format || root_format) && rvdata->IsFormattedForUndo()) {
    // Only the touched paragraphs are laid out again while the document keeps its width.
    bool whole = root_format || formatted_midway || first_d < 0 || rvdata->ItemCount() == 0;
    if (!whole && needs_format && full_format)
      whole = rvdata->CalcMinDocWidth(nullptr, rvdata->GetCanvas()) != rvdata->DocumentWidth;
    if (!whole && needs_format) {
      const int32_t count = rvdata->DrawLines.Count();
      whole = last_d >= count || rvdata->DrawLines[last_d]->ItemNo + shift < rvdata->DrawLines[first_d]->ItemNo ||
              rvdata->DrawLines[last_d]->ItemNo + shift >= rvdata->ItemCount();
      // A table among the paragraphs lays its cells out against the whole document.
      if (!whole)
        for (int32_t i = rvdata->DrawLines[first_d]->ItemNo; i <= rvdata->DrawLines[last_d]->ItemNo + shift && !whole;
             ++i)
          whole = rvdata->GetItem(i)->StyleNo == rvsTable;
    }
    if (whole) {
      rvdata->ReformatAll(false);
    } else if (needs_format) {
      rvdata->FormatParas(first_d, last_d, shift, false);
    }
    rvdata->InvalidateControl();
  }
  rvdata->SetCaretAt(group->CaretItem, group->CaretOffset);
}

}  // namespace pelvar
