// Inserting at the caret: one item (placed by the caret item and offset, splitting text),
// plain ANSI or UTF-16 text cut into paragraphs and lines, text files and native-format
// streams. The block inserted directly behind the first item is recorded afterwards as one
// record, so that one Undo removes the whole insertion.
#include <algorithm>

#include "platform/codepage.h"
#include "richtext/edit/RVERVData.h"
#include "richtext/model/RVFuncs.h"
#include "richtext/model/RVMarker.h"
#include "richtext/model/RVRTF.h"
#include "richtext/model/RVRTFProps.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

// A piece of inserted text: its bytes (in the target encoding), whether it is a tab item and
// what comes before it (0 the line goes on, 1 a new paragraph, 2 a new line, 3 a new
// paragraph on a new page).
struct TRVEditRVData::TextSegment {
  AnsiString Text;
  bool Tab = false;
  int32_t Break = 0;
};

TCustomRVItemInfo* TRVEditRVData::CreateTextItemCopy(TCustomRVItemInfo* source) {
  auto* item = new TRVTextItemInfo(this);
  item->Assign(source);
  const bool uni = source->ItemOptions.Contains(rvioUnicodeText);
  item->ItemOptions = TRVItemOptions();
  if (uni) item->ItemOptions.Include(rvioUnicodeText);
  item->Tag = RV_CopyTag(source->Tag, TagsArePChars());
  item->Checkpoint = nullptr;
  item->DrawItemNo = -1;
  return item;
}

TCustomRVItemInfo* TRVEditRVData::NewTextItem(const TRVTag& tag, int32_t para_no, int32_t style_no, bool same_as_prev,
                                              bool br) {
  auto* item = new TRVTextItemInfo(this);
  item->StyleNo = style_no;
  item->ParaNo = para_no;
  item->Tag = tag;
  if (IsUnicodeStyle(GetActualStyle(item))) item->ItemOptions.Include(rvioUnicodeText);
  item->SetSameAsPrev(same_as_prev);
  if (!same_as_prev) item->SetBR(br);
  return item;
}

// ---- One item ----------------------------------------------------------------------------------

bool TRVEditRVData::InsertItemAtCaretPos(TCustomRVItemInfo*& item, AnsiString& text, bool auto_tag,
                                         int32_t& insert_index, int32_t& items_added, bool& full_format,
                                         int32_t& last_affected) {
  full_format = false;
  last_affected = -1;
  items_added = 1;
  TRVStyle* style = GetRVStyle();
  int32_t r = item->GetSameAsPrev() ? -1 : item->ParaNo;
  if (!style || r >= style->ParaStyles()->Count()) r = -1;
  const bool full_line = item->GetBoolValue(0);
  const bool marker = item->StyleNo == rvsListMarker;
  const bool persistent = item->Checkpoint && item->Checkpoint->Persistent;
  int32_t ci = CurItemNo(), co = OffsetInCurItem();
  if (ItemCount() == 0) {
    ci = -1;
  } else if (ci < 0 || ci >= ItemCount()) {
    ci = ItemCount() - 1;
    co = GetOffsAfterItem(ci);
  }
  if (!NotFormatted() && ci >= 0) {
    if (full_line || persistent || marker) {
      item->SetSameAsPrev(false);
      item->ParaNo = CurParaStyleNo;
    } else {
      item->SetSameAsPrev(true);
      item->ParaNo = GetItemPara(ci);
    }
  } else {
    item->SetSameAsPrev(false);
    item->ParaNo = CurParaStyleNo;
  }
  if (ParaHasOption(item->ParaNo, rvpaoReadOnly)) {
    delete item;
    item = nullptr;
    return false;
  }
  if (auto_tag && item->Tag.IsNil() && item->Tag.Int == 0 && item->StyleNo == CurTextStyleNo)
    item->Tag = RV_CopyTag(CurTag, TagsArePChars());
  auto refuse = [&]() {
    delete item;
    item = nullptr;
    return false;
  };
  auto take_line_start = [&](int32_t i) {
    item->SetSameAsPrev(false);
    if (!marker) item->SetBR(GetItem(i)->GetBR());
    item->SetPageBreakBefore(GetItem(i)->GetPageBreakBefore());
  };
  bool ff = false;
  int32_t idx = 0;
  bool continue_old = false;  // the item at idx+1 must continue the inserted item's line
  if (ci < 0) {
    idx = 0;
  } else if (GetItem(ci)->StyleNo < 0) {
    if (marker) {
      delete item;
      item = nullptr;
      return true;
    }
    if (co >= 1) {
      if (IsSticking(ci, true)) return refuse();
      idx = ci + 1;
      if (IsFullLineItem(ci)) item->SetSameAsPrev(false);
    } else {
      if (IsSticking(ci - 1, true)) return refuse();
      idx = ci;
      if (IsFromNewLine(ci)) {
        take_line_start(ci);
        if (!full_line) continue_old = true;
      }
    }
  } else if (GetItemTextRaw(ci).empty()) {
    if (IsSticking(ci - 1, true) || IsSticking(ci, true)) return refuse();
    // The item replaces the empty text item.
    // A full-line item always starts its own paragraph.
    if (!full_line) item->SetSameAsPrev(GetItem(ci)->GetSameAsPrev());
    if (!marker && !full_line) item->SetBR(GetItem(ci)->GetBR());
    item->SetPageBreakBefore(GetItem(ci)->GetPageBreakBefore());
    if (item->GetSameAsPrev()) item->ParaNo = GetItemPara(ci);
    RecDeleteItem(ci, ff);
    full_format = full_format || ff;
    idx = ci;
    items_added = 0;
  } else {
    if (marker) {
      delete item;
      item = nullptr;
      return true;
    }
    const int32_t after = GetOffsAfterItem(ci);
    if (co <= 1) {
      if (IsSticking(ci - 1, true)) return refuse();
      idx = ci;
      if (IsFromNewLine(ci)) {
        take_line_start(ci);
        if (!full_line) continue_old = true;
      }
      if (auto_tag && item->Tag.IsNil() && item->Tag.Int == 0 && item->StyleNo == GetItem(ci)->StyleNo)
        item->Tag = RV_CopyTag(GetItem(ci)->Tag, TagsArePChars());
    } else if (co >= after) {
      if (IsSticking(ci, true)) return refuse();
      idx = ci + 1;
      if (auto_tag && item->Tag.IsNil() && item->Tag.Int == 0 && item->StyleNo == GetItem(ci)->StyleNo)
        item->Tag = RV_CopyTag(GetItem(ci)->Tag, TagsArePChars());
    } else {
      if (IsProtected(ci, rvprModifyProtect)) return refuse();
      AnsiString tail = RVU_Copy(GetItemTextRaw(ci), co, after - co, GetItemOptions(ci));
      RecDeleteSubstring(ci, co, -1);
      TCustomRVItemInfo* copy = CreateTextItemCopy(GetItem(ci));
      copy->SetSameAsPrev(true);
      RecInsertItem(ci + 1, tail, copy, false, ff);
      full_format = full_format || ff;
      idx = ci + 1;
      items_added = 2;
    }
  }
  if (idx > 0 && IsMarker(idx - 1) && !full_line) item->SetSameAsPrev(true);
  if (full_line && idx < ItemCount()) {
    RecSetNewLine(idx, false, GetItemPara(idx), ff);
    RecSetBR(idx, false, ff);
    full_format = full_format || ff;
  }
  if (item->StyleNo == rvsBreak) item->ParaNo = 0;
  RecInsertItem(idx, text, item, false, ff);
  full_format = full_format || ff;
  if (continue_old && idx + 1 < ItemCount()) {
    RecSetNewLine(idx + 1, true, -1, ff);
    full_format = full_format || ff;
  }
  if (r >= 0 && r != item->ParaNo && item->StyleNo != rvsBreak) {
    int32_t f, l;
    ExpandToPara(idx, idx, f, l);
    RecSetParaRange(f, l, r, ff);
    full_format = full_format || ff;
  }
  AnsiString t;
  ItemAction(rviaTextModifying, item, t, this);
  insert_index = idx;
  last_affected = idx;
  return true;
}

bool TRVEditRVData::IsMarker(int32_t item_no) {
  return item_no >= 0 && item_no < ItemCount() && GetItem(item_no)->StyleNo == rvsListMarker;
}

bool TRVEditRVData::InsertItemAtCaret(TCustomRVItemInfo* item, AnsiString& text, bool auto_tag, bool caret_before) {
  for (int32_t k = 0; k < ItemCount(); ++k)
    if (GetItem(k)->IsPartiallySelected()) {
      delete item;
      Beep();
      return false;
    }
  if (item->StyleNo != rvsBreak && !(item->Checkpoint && item->Checkpoint->Persistent)) item->ParaNo = CurParaStyleNo;
  // In the editor's group when it opened one (group mode), else a group of its own.
  BeginUndoGroup(rvutInsert, true);
  int32_t first_d = 0, last_d = 0;
  CaretParaRange(first_d, last_d);
  int32_t idx = 0, added = 0, last_affected = -1;
  bool ff = false;
  if (!InsertItemAtCaretPos(item, text, auto_tag, idx, added, ff, last_affected)) {
    Beep();
    return false;
  }
  if (!item) return true;
  const bool full = ff || (IsFormattedForUndo() && ItemWidthForUndo(idx) > DocWidthForUndo());
  ReformatAfterEdit(full, first_d, added, last_d);
  if (caret_before)
    PlaceCaret(idx, GetOffsBeforeItem(idx));
  else
    PlaceCaret(idx, GetOffsAfterItem(idx));
  DoChange(true);
  return true;
}

bool TRVEditRVData::InsertTextInStyle(AnsiString& text, int32_t style_no, bool auto_tag, bool caret_before) {
  TCustomRVItemInfo* item = NewTextItem(TRVTag(), CurParaStyleNo, style_no, false, false);
  return InsertItemAtCaret(item, text, auto_tag, caret_before);
}

// ---- Text --------------------------------------------------------------------------------------

bool TRVEditRVData::InsertSegments(std::vector<TextSegment>& segments, bool auto_tag, bool caret_before) {
  if (segments.empty()) {
    InvalidateControl();
    return true;
  }
  BeginUndoGroup(rvutInsert, true);
  int32_t first_d = 0, last_d = 0;
  CaretParaRange(first_d, last_d);
  auto make_item = [&](const TextSegment& seg) -> TCustomRVItemInfo* {
    if (seg.Tab) {
      auto* tab = new TRVTabItemInfo(this);
      tab->StyleNo = rvsTab;
      tab->TextStyleNo = CurTextStyleNo;
      tab->ParaNo = CurParaStyleNo;
      return tab;
    }
    return NewTextItem(TRVTag(), CurParaStyleNo, CurTextStyleNo, false, false);
  };
  TCustomRVItemInfo* first = make_item(segments[0]);
  AnsiString text0 = segments[0].Text;
  int32_t idx = 0, added = 0, last_affected = -1;
  bool ff = false, fft = false;
  if (!InsertItemAtCaretPos(first, text0, auto_tag, idx, added, ff, last_affected)) {
    Beep();
    return false;
  }
  if (!first) return true;
  int32_t cur = idx;
  bool markers_added = false;
  for (size_t k = 1; k < segments.size(); ++k) {
    const TextSegment& seg = segments[k];
    TCustomRVItemInfo* item = make_item(seg);
    item->ParaNo = GetItemPara(cur);
    if (seg.Break == 0) {
      item->SetSameAsPrev(true);
    } else if (seg.Break == 2) {
      item->SetBR(true);
    } else {
      item->ParaNo = CurParaStyleNo;
      if (seg.Break == 3 && PageBreaksAllowed()) item->SetPageBreakBefore(true);
      // A new paragraph in a list item becomes a list item of its own.
      bool mff = false;
      if (ReplicateListMarker(cur, cur + 1, mff, false)) {
        markers_added = true;
        ++cur;
        item->SetSameAsPrev(true);
        item->ParaNo = GetItemPara(cur);
      }
    }
    AnsiString t = seg.Text;
    item->Inserting(this, t, false);
    Items().InsertObject(cur + 1, t, item);
    item->Inserted(this, cur + 1);
    ++cur;
  }
  const int32_t block = cur - idx;
  TRVUndoInsertItemsInfo* head = RecInsertItemsHead(idx + 1, block);
  RecInsertItemsTail(idx + 1, block, head, fft);
  ff = ff || fft;
  int32_t caret_item = cur, caret_offs = GetOffsAfterItem(cur);
  int32_t first_item = idx, first_offs = GetOffsBeforeItem(idx);
  int32_t change = added + block;
  // Joined with the neighbours where the styles allow it.
  if (cur + 1 < ItemCount() && CanMergeItems(cur, GetItem(cur), false, GetItem(cur + 1))) {
    RecConcatenateItems(cur);
    --change;
  }
  if (idx > 0 && CanMergeItems(idx - 1, GetItem(idx - 1), false, GetItem(idx))) {
    const int32_t len = ItemLength(idx - 1);
    RecConcatenateItems(idx - 1);
    --change;
    if (caret_item == idx) caret_offs += len;
    --caret_item;
    first_item = idx - 1;
    first_offs = len + 1;
  }
  if (block > 0) RVRecalcDocumentMarkers(this);
  ItemTextChanged(first_item, 0, true);
  const bool full = ff || (IsFormattedForUndo() && RangeWidthForUndo(first_item, caret_item) > DocWidthForUndo());
  ReformatAfterEdit(full, first_d, change, last_d);
  if (caret_before)
    PlaceCaret(first_item, first_offs);
  else
    PlaceCaret(caret_item, caret_offs);
  if (markers_added && !full) UpdateListNumbering(first_item, caret_item);
  DoChange(true);
  return true;
}

bool TRVEditRVData::InsertText(const AnsiString& text, bool auto_tag, bool caret_before) {
  if (text.empty()) {
    InvalidateControl();
    return true;
  }
  TRVStyle* style = GetRVStyle();
  const bool tab_items = style && style->SpacesInTab < 1;
  const bool uni = IsUnicodeStyle(CurEffectiveTextStyle());
  const uint32_t cp = GetStyleCodePage(CurEffectiveTextStyle());
  std::vector<TextSegment> segments;
  TextSegment seg;
  auto flush = [&](int32_t next_break, bool tab) {
    AnsiString t = seg.Text;
    if (!tab_items && style) t = RV_ReplaceTabsA(t, style->SpacesInTab);
    if (uni) t = RVU_AnsiToUnicode(cp, t);
    seg.Text = t;
    segments.push_back(seg);
    seg = TextSegment();
    if (tab) {
      TextSegment ts;
      ts.Tab = true;
      segments.push_back(ts);
    }
    seg.Break = next_break;
  };
  for (size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    if (c == '\r' || c == '\n') {
      if (k + 1 < text.size() && ((c == '\r' && text[k + 1] == '\n') || (c == '\n' && text[k + 1] == '\r'))) ++k;
      flush(1, false);
    } else if (c == '\f') {
      flush(3, false);
    } else if (c == '\t' && tab_items) {
      flush(0, true);
    } else {
      seg.Text += c;
    }
  }
  flush(0, false);
  return InsertSegments(segments, auto_tag, caret_before);
}

bool TRVEditRVData::InsertTextW(const AnsiString& text, bool auto_tag, bool caret_before) {
  RV_CheckUnicodeLength(text.size());
  std::u16string w = RVU_RawUnicodeToWideString(text);
  if (!w.empty() && (w[0] == 0xFEFF || w[0] == 0xFFFE)) {
    const bool swapped = w[0] == 0xFFFE;
    w.erase(0, 1);
    if (swapped)
      for (char16_t& c : w) c = static_cast<char16_t>((c >> 8) | (c << 8));
  }
  if (w.empty()) {
    InvalidateControl();
    return true;
  }
  TRVStyle* style = GetRVStyle();
  const bool tab_items = style && style->SpacesInTab < 1;
  const bool uni = IsUnicodeStyle(CurEffectiveTextStyle());
  const uint32_t cp = GetStyleCodePage(CurEffectiveTextStyle());
  std::vector<TextSegment> segments;
  TextSegment seg;
  std::u16string cur;
  auto flush = [&](int32_t next_break, bool tab) {
    AnsiString raw = RVU_WideStringToRawUnicode(WideString(cur));
    if (!tab_items && style) raw = RV_ReplaceTabsW(raw, style->SpacesInTab);
    seg.Text = uni ? raw : RVU_UnicodeToAnsi(cp, raw);
    segments.push_back(seg);
    seg = TextSegment();
    cur.clear();
    if (tab) {
      TextSegment ts;
      ts.Tab = true;
      segments.push_back(ts);
    }
    seg.Break = next_break;
  };
  for (size_t k = 0; k < w.size(); ++k) {
    const char16_t c = w[k];
    if (c == u'\r' || c == u'\n') {
      if (k + 1 < w.size() && ((c == u'\r' && w[k + 1] == u'\n') || (c == u'\n' && w[k + 1] == u'\r'))) ++k;
      flush(1, false);
    } else if (c == 0x2029) {
      flush(1, false);
    } else if (c == 0x2028 || c == 0x000B) {
      flush(2, false);
    } else if (c == u'\f') {
      flush(3, false);
    } else if (c == u'\t' && tab_items) {
      flush(0, true);
    } else {
      cur.push_back(c);
    }
  }
  flush(0, false);
  return InsertSegments(segments, auto_tag, caret_before);
}

bool TRVEditRVData::InsertTextFromStream(TStream& stream, bool oem, bool auto_tag) {
  try {
    const int64_t rest = stream.Size() - stream.Position();
    if (rest <= 0) return true;
    AnsiString s(static_cast<size_t>(rest), '\0');
    stream.ReadBuffer(s.data(), static_cast<int32_t>(rest));
    ReplaceNullChars(s);
    if (oem) s = ConvertCodePage(s, TCodePage::cp852, TCodePage::cp1250);
    return InsertText(s, auto_tag, false);
  } catch (const std::exception&) {
    return false;
  }
}

bool TRVEditRVData::InsertTextFromFile(const AnsiString& file_name, bool oem, bool auto_tag) {
  std::unique_ptr<TFileStream> stream;
  try {
    stream = std::make_unique<TFileStream>(file_name, fmOpenRead | fmShareDenyNone);
  } catch (const std::exception&) {
    return false;
  }
  return InsertTextFromStream(*stream, oem, auto_tag);
}

// ---- Native format -----------------------------------------------------------------------------

void TRVEditRVData::NormalizeInsertedRange(int32_t& first, int32_t& last, int32_t& count_change, int32_t& last_offs) {
  if (last + 1 < ItemCount()) {
    if (CanMergeItems(last, GetItem(last), false, GetItem(last + 1))) {
      RecConcatenateItems(last);
      --count_change;
    } else if (IsFullLineItem(last) && GetItem(last + 1)->GetSameAsPrev()) {
      bool ff = false;
      RecSetNewLine(last + 1, false, GetItemPara(last + 1), ff);
    }
  }
  bool contiguous = true;
  for (int32_t d = last; d > first; --d) {
    if (CanMergeItems(d - 1, GetItem(d - 1), false, GetItem(d))) {
      const int32_t len = ItemLength(d - 1);
      RecConcatenateItems(d - 1);
      --last;
      --count_change;
      if (contiguous) last_offs += len;
    } else {
      contiguous = false;
    }
  }
  if (first > 0 && first <= last) {
    if (CanMergeItems(first - 1, GetItem(first - 1), false, GetItem(first))) {
      const int32_t len = ItemLength(first - 1);
      RecConcatenateItems(first - 1);
      ItemTextChanged(first - 1, len + 1, true);
      --last;
      --count_change;
      if (contiguous) last_offs += len;
    } else if (GetItem(first)->StyleNo >= 0 && GetItemTextRaw(first).empty() && GetItem(first)->GetSameAsPrev() &&
               !IsMarker(first - 1)) {
      bool ff = false;
      RecDeleteItem(first, ff);
      --last;
      --count_change;
    }
  }
}

int32_t TRVEditRVData::StreamInsertIndex(bool& replace_empty, bool& continue_line) {
  replace_empty = false;
  continue_line = false;
  if (ItemCount() == 0) return 0;
  int32_t n = std::clamp(CurItemNo(), 0, ItemCount() - 1);
  const int32_t o = OffsetInCurItem();
  if (GetItem(n)->StyleNo >= 0 && GetItemTextRaw(n).empty()) {
    // An empty text item at the caret is replaced.
    replace_empty = true;
    return n;
  }
  if (GetItem(n)->StyleNo >= 0 && o > 1 && o < GetOffsAfterItem(n)) {
    // Inside a word: the word is cut and the stream goes between the halves.
    bool ff = false;
    AnsiString tail = RVU_Copy(GetItemTextRaw(n), o, GetOffsAfterItem(n) - o, GetItemOptions(n));
    RecDeleteSubstring(n, o, -1);
    TCustomRVItemInfo* copy = CreateTextItemCopy(GetItem(n));
    copy->SetSameAsPrev(true);
    RecInsertItem(n + 1, tail, copy, false, ff);
    continue_line = true;
    return n + 1;
  }
  if (o >= GetOffsAfterItem(n)) {
    // After the last item of a line that goes on: the stream continues that line.
    continue_line = true;
    return n + 1;
  }
  continue_line = GetItem(n)->GetSameAsPrev();
  return n;
}

bool TRVEditRVData::FinishStreamInsert(int32_t n, int32_t count, bool replace_empty, bool continue_line, bool ok) {
  if (count > 0) {
    TRVUndoInsertItemsInfo* head = RecInsertItemsHead(n, count);
    bool ff = false;
    RecInsertItemsTail(n, count, head, ff);
    // The first inserted paragraph joins the line of the caret.
    if (continue_line && n > 0 && GetItem(n)->IsParaStart() && !IsFullLineItem(n) && !IsFullLineItem(n - 1))
      RecSetNewLine(n, true, -1, ff);
    // Inserted before the first item of a paragraph: the inserted block takes over the line
    // start and that item continues the block's last line.
    const int32_t after = n + count;
    if (!continue_line && !replace_empty && after < ItemCount() && GetItem(after)->IsParaStart() &&
        !IsFullLineItem(after) && !IsFullLineItem(after - 1) &&
        GetItem(after)->StyleNo != rvsListMarker)
      RecSetNewLine(after, true, -1, ff);
    if (replace_empty && n + count < ItemCount() && GetItem(n + count)->StyleNo >= 0 &&
        GetItemTextRaw(n + count).empty()) {
      if (!GetItem(n + count)->GetSameAsPrev() && GetItem(n)->GetSameAsPrev()) RecSetNewLine(n, false, GetItemPara(n), ff);
      RecDeleteItem(n + count, ff);
    }
    int32_t first = n, last = n + count - 1, change = count, last_offs = 0;
    NormalizeInsertedRange(first, last, change, last_offs);
    RVRecalcDocumentMarkers(this);
    if (!NotFormatted()) {
      TRVControlData::FormatDocument(false, true, true, 0, GetCanvas(), false, false, false);
      InvalidateControl();
      last = std::clamp(last, 0, ItemCount() - 1);
      PlaceCaret(last, GetOffsAfterItem(last));
    }
    DoChange(true);
  }
  if (!ok) {
    if (!NotFormatted()) FormatKeepingCaret();
    Beep();
  }
  return ok;
}

bool TRVEditRVData::InsertRVFAtCaret(TStream& stream) {
  BeginUndoGroup(rvutInsert, true);
  bool replace_empty = false, continue_line = false;
  const int32_t n = StreamInsertIndex(replace_empty, continue_line);
  const int32_t before = ItemCount();
  int32_t index = n;
  TColor color = GetColor();
  bool ok = false;
  try {
    ok = TCustomRVData::InsertRVFFromStream(stream, index, nullptr, nullptr, color, true, false, false, CurParaStyleNo);
  } catch (const std::exception&) {
    ok = false;
  }
  return FinishStreamInsert(n, ItemCount() - before, replace_empty, continue_line, ok);
}

bool TRVEditRVData::InsertRTFAtCaret(TStream& stream) {
  if (stream.Position() >= stream.Size()) return true;
  if (!RTFReadProperties) return false;
  BeginUndoGroup(rvutInsert, true);
  bool replace_empty = false, continue_line = false;
  const int32_t n = StreamInsertIndex(replace_empty, continue_line);
  const int32_t before = ItemCount();
  int32_t index = n;
  bool ok = false;
  try {
    ok = RTFReadProperties->ReadRTFFromStream(stream, this, index) == rtf_ec_OK;
  } catch (const std::exception&) {
    ok = false;
  }
  return FinishStreamInsert(n, ItemCount() - before, replace_empty, continue_line, ok);
}

}  // namespace pelvar
