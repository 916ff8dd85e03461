#include "richtext/view/RVLinear.h"

#include <climits>
#include <memory>

#include "richtext/model/RVUni.h"

namespace pelvar {

int32_t LinearParaBreakLength = 1;
char LinearNonTextChar = ' ';

namespace {

bool HasSubDocs(TCustomRVItemInfo* item) {
  std::unique_ptr<TRVStoreSubRVData> st;
  return item->GetSubRVData(st, rvdFirst) != nullptr;
}

// Sub-documents of an item in their enumeration order, each as the data that currently
// represents it.
template <typename F>
bool ForEachSubDoc(TCustomRVItemInfo* item, F&& f) {
  std::unique_ptr<TRVStoreSubRVData> st;
  for (TCustomRVData* s = item->GetSubRVData(st, rvdFirst); s; s = item->GetSubRVData(st, rvdNext))
    if (f(s->GetRVData())) return true;
  return false;
}

// The item's text as UTF-16, whatever its storage.
WideString ItemTextW(TCustomRVData* rvdata, int32_t item_no) {
  TCustomRVItemInfo* item = rvdata->GetItem(item_no);
  const AnsiString raw = rvdata->GetItemTextRaw(item_no);
  if (item->ItemOptions.Contains(rvioUnicodeText)) return RVU_RawUnicodeToWideString(raw);
  return RVU_RawUnicodeToWideString(RVU_AnsiToUnicode(rvdata->GetStyleCodePage(rvdata->GetActualStyle(item)), raw));
}

void AppendBreak(WideString& out) {
  out += u'\r';
  if (LinearParaBreakLength != 1) out += u'\n';
}

// The document's linear text; the first item's break counted only when first_break.
void AppendText(TCustomRVData* rvdata, WideString& out) {
  for (int32_t i = 0; i < rvdata->ItemCount(); ++i) {
    TCustomRVItemInfo* item = rvdata->GetItem(i);
    if (i > 0 && !item->GetSameAsPrev()) AppendBreak(out);
    if (rvdata->GetActualStyle(item) >= 0) {
      out += ItemTextW(rvdata, i);
    } else if (HasSubDocs(item)) {
      ForEachSubDoc(item, [&](TCustomRVData* sub) {
        AppendBreak(out);
        AppendText(sub, out);
        return false;
      });
      AppendBreak(out);
    } else {
      out += item->StyleNo == rvsTab ? u'\t' : static_cast<char16_t>(static_cast<uint8_t>(LinearNonTextChar));
    }
  }
}

}  // namespace

int32_t ItemLinearLength(TCustomRVData* rvdata, int32_t item_no) {
  TCustomRVItemInfo* item = rvdata->GetItem(item_no);
  int32_t r = item->GetSameAsPrev() ? 0 : LinearParaBreakLength;
  if (rvdata->GetActualStyle(item) >= 0) return r + RVU_Length(rvdata->GetItemTextRaw(item_no), item->ItemOptions.ToBits());
  if (!HasSubDocs(item)) return r + 1;
  ForEachSubDoc(item, [&](TCustomRVData* sub) {
    r += RVDataLinearLength(sub);  // its first item's break stands for the cell's
    return false;
  });
  return r + LinearParaBreakLength;
}

int32_t RVDataLinearLength(TCustomRVData* rvdata) {
  int32_t r = 0;
  for (int32_t i = 0; i < rvdata->ItemCount(); ++i) r += ItemLinearLength(rvdata, i);
  return r;
}

bool ItemPosToLinear(TCustomRVData* rvdata, TCustomRVData* target, int32_t item_no, int32_t offs, int32_t& pos) {
  pos = 0;
  if (rvdata == target) {
    for (int32_t i = 0; i < item_no; ++i) pos += ItemLinearLength(rvdata, i);
    const bool new_line = rvdata->IsFromNewLine(item_no);
    if (rvdata->GetItemStyle(item_no) >= 0) {
      if (new_line) pos += LinearParaBreakLength;
      pos += offs - 1;
    } else if (offs > 0) {
      pos += ItemLinearLength(rvdata, item_no);
    } else if (new_line) {
      pos += LinearParaBreakLength;
    }
    return true;
  }
  for (int32_t i = 0; i < rvdata->ItemCount(); ++i) {
    TCustomRVItemInfo* item = rvdata->GetItem(i);
    if (!HasSubDocs(item)) {
      pos += ItemLinearLength(rvdata, i);
      continue;
    }
    if (!item->GetSameAsPrev()) pos += LinearParaBreakLength;
    const bool found = ForEachSubDoc(item, [&](TCustomRVData* sub) {
      int32_t p = 0;
      const bool in_sub = ItemPosToLinear(sub, target, item_no, offs, p);
      pos += in_sub ? p : RVDataLinearLength(sub);
      return in_sub;
    });
    if (found) return true;
    pos += LinearParaBreakLength;
  }
  return false;
}

bool LinearToItemPos(TCustomRVData* rvdata, int32_t& pos, TCustomRVData*& out_rvdata, int32_t& item_no,
                     int32_t& offs) {
  for (int32_t i = 0; i < rvdata->ItemCount(); ++i) {
    TCustomRVItemInfo* item = rvdata->GetItem(i);
    const bool lead = i > 0 && !item->GetSameAsPrev();
    if (HasSubDocs(item)) {
      if (lead) pos -= LinearParaBreakLength;
      if (pos == 0) {
        out_rvdata = rvdata, item_no = i, offs = 0;
        return true;
      }
      const bool found = ForEachSubDoc(item, [&](TCustomRVData* sub) {
        pos -= LinearParaBreakLength;
        return pos >= 0 && LinearToItemPos(sub, pos, out_rvdata, item_no, offs);
      });
      if (found) return true;
      if (pos < 0) return false;
      pos -= LinearParaBreakLength;
      if (pos == 0) {
        out_rvdata = rvdata, item_no = i, offs = 1;
        return true;
      }
      continue;
    }
    int32_t len = ItemLinearLength(rvdata, i);
    if (i == 0 && !item->GetSameAsPrev()) len -= LinearParaBreakLength;
    if (len >= pos) {
      if (lead) pos -= LinearParaBreakLength;
      const bool text = rvdata->GetItemStyle(i) >= 0;
      offs = pos + (text ? 1 : 0);
      offs = std::max(offs, text ? 1 : 0);
      offs = std::min(offs, rvdata->GetOffsAfterItem(i));
      out_rvdata = rvdata, item_no = i;
      return true;
    }
    pos -= len;
  }
  return false;
}

void GetSelection(TCustomRVFormattedData& root, int32_t& sel_start, int32_t& sel_length) {
  TCustomRVData* inner = &root;
  while (TCustomRVData* chosen = inner->GetChosenRVData()) inner = chosen;
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(inner);
  sel_start = sel_length = 0;
  if (!fd) return;
  int32_t si, ei, so, eo;
  fd->GetSelBounds(si, ei, so, eo, false);
  if (si < 0) return;
  int32_t s = 0, e = 0;
  ItemPosToLinear(&root, inner, si, so, s);
  ItemPosToLinear(&root, inner, ei, eo, e);
  sel_start = s - LinearParaBreakLength;
  sel_length = e - s;
}

void SetSelection(TCustomRVFormattedData& root, int32_t sel_start, int32_t sel_length) {
  int32_t p1 = sel_start, p2 = sel_start + sel_length;
  TCustomRVData *d1 = nullptr, *d2 = nullptr;
  int32_t i1, o1, i2, o2;
  if (p1 < 0 || p2 < 0) return;
  if (!LinearToItemPos(&root, p1, d1, i1, o1) || !LinearToItemPos(&root, p2, d2, i2, o2)) return;
  if (d1 != d2) return;
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(d1->Edit());
  if (!fd) return;
  fd->SetSelectionBounds(i1, o1, i2, o2);
  fd->InvalidateControl();
}

WideString GetTextRange(TCustomRVData& root, int32_t range_start, int32_t range_length) {
  if (range_length == 0 || range_start < 0) return WideString();
  WideString all;
  AppendText(&root, all);
  if (static_cast<size_t>(range_start) >= all.size()) return WideString();
  const size_t n = range_length < 0 ? WideString::npos : static_cast<size_t>(range_length);
  return all.substr(static_cast<size_t>(range_start), n);
}

int32_t GetTextLength(TCustomRVData& root) {
  const int32_t n = root.ItemCount();
  if (n == 0) return 0;
  int32_t pos = 0;
  ItemPosToLinear(&root, &root, n - 1, root.GetOffsAfterItem(n - 1), pos);
  return std::max(pos - LinearParaBreakLength, 0);
}

}  // namespace pelvar
