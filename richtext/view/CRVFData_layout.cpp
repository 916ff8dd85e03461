// Look-ups over the draw items, minimal widths, hyperlink areas, controls and partial
// reformatting of a range of paragraphs.
#include <algorithm>
#include <climits>

#include "richtext/model/RVUni.h"
#include "richtext/view/CRVFData.h"

namespace pelvar {

// ---- Positions ---------------------------------------------------------------------------------

int32_t TCustomRVFormattedData::GetOffsBeforeDrawItem(int32_t d_item_no) {
  return GetItem(DrawLines[d_item_no]->ItemNo)->StyleNo >= 0 ? 1 : 0;
}

int32_t TCustomRVFormattedData::GetOffsAfterDrawItem(int32_t d_item_no) {
  TRVDrawLineInfo* d = DrawLines[d_item_no];
  return GetItem(d->ItemNo)->StyleNo >= 0 ? d->Length + 1 : 1;
}

void TCustomRVFormattedData::DrawItemPosToItemPos(int32_t d_item_no, int32_t d_offs, int32_t& item_no,
                                                  int32_t& offs) {
  if (d_item_no < 0 || d_item_no >= DrawLines.Count()) {
    item_no = -1;
    offs = 0;
    return;
  }
  TRVDrawLineInfo* d = DrawLines[d_item_no];
  item_no = d->ItemNo;
  offs = GetItem(item_no)->StyleNo < 0 ? d_offs : d_offs + d->Offs - 1;
}

void TCustomRVFormattedData::ItemPosToDrawItemPos(int32_t item_no, int32_t offs, int32_t& d_item_no,
                                                  int32_t& d_offs) {
  if (item_no < 0 || item_no >= ItemCount()) {
    d_item_no = -1;
    d_offs = 0;
    return;
  }
  int32_t e = -1;
  GetFirstDrawItemOfItem(item_no, e);
  if (e < 0) {
    d_item_no = -1;
    d_offs = 0;
    return;
  }
  if (GetItem(item_no)->StyleNo < 0) {
    d_item_no = e;
    d_offs = offs;
    return;
  }
  const int32_t n = DrawLines.Count();
  while (e + 1 < n && DrawLines[e + 1]->ItemNo == item_no) {
    TRVDrawLineInfo* d = DrawLines[e];
    if (DrawLines[e + 1]->Offs >= offs && d->Offs + d->Length >= offs) break;
    if (DrawLines[e + 1]->Offs > offs) break;
    ++e;
  }
  TRVDrawLineInfo* d = DrawLines[e];
  if (d->Offs + d->Length < offs) {
    // Inside a space dropped at a wrap, or after the item's last draw item.
    if (e + 1 < n && DrawLines[e + 1]->ItemNo == item_no) {
      d_item_no = e + 1;
      d_offs = 1;
      return;
    }
    if (e + 1 < n && GetOffsBeforeDrawItem(e + 1) == DrawLines[e + 1]->Offs) {
      d_item_no = e + 1;
      d_offs = GetOffsBeforeDrawItem(e + 1);
      return;
    }
    d_item_no = e;
    d_offs = GetOffsAfterDrawItem(e);
    return;
  }
  d_item_no = e;
  d_offs = offs - d->Offs + 1;
}

void TCustomRVFormattedData::GetFirstDrawItemOfItem(int32_t item_no, int32_t& d_item_no) {
  // A layout over items it shares (a cell's, a printed copy's) cannot keep its draw item
  // numbers in them: the items' owner keeps its own there.
  if (ShareItems()) {
    d_item_no = FindDrawItemOfItem(item_no);
    return;
  }
  d_item_no = item_no < 0 ? -1 : GetItem(item_no)->DrawItemNo;
  if (d_item_no >= DrawLines.Count() || (d_item_no >= 0 && DrawLines[d_item_no]->ItemNo != item_no))
    d_item_no = FindDrawItemOfItem(item_no);
}

void TCustomRVFormattedData::GetLastDrawItemOfItem(int32_t item_no, int32_t& d_item_no) {
  int32_t d_offs = 0;
  ItemPosToDrawItemPos(item_no, GetOffsAfterItem(item_no), d_item_no, d_offs);
}

int32_t TCustomRVFormattedData::FindDrawItemOfItem(int32_t item_no) {
  if (item_no < 0) return -1;
  for (int32_t i = 0; i < DrawLines.Count(); ++i)
    if (DrawLines[i]->ItemNo == item_no) return i;
  return -1;
}

void TCustomRVFormattedData::StoreSelectionBounds(int32_t start_item_no, int32_t end_item_no, int32_t start_offs,
                                                  int32_t end_offs) {
  ItemPosToDrawItemPos(start_item_no, start_offs, FSelStartNo, FSelStartOffs);
  ItemPosToDrawItemPos(end_item_no, end_offs, FSelEndNo, FSelEndOffs);
}

void TCustomRVFormattedData::GetSelDrawItemBounds(int32_t& start_d_item, int32_t& end_d_item, int32_t& start_offs,
                                                  int32_t& end_offs, bool normalize) {
  start_d_item = FSelStartNo;
  end_d_item = FSelEndNo;
  start_offs = FSelStartOffs;
  end_offs = FSelEndOffs;
  if (normalize) {
    if (end_d_item < start_d_item) {
      std::swap(start_d_item, end_d_item);
      std::swap(start_offs, end_offs);
    } else if (end_d_item == start_d_item && end_offs < start_offs) {
      std::swap(start_offs, end_offs);
    }
  }
}

void TCustomRVFormattedData::GetSelBounds(int32_t& start_item_no, int32_t& end_item_no, int32_t& start_offs,
                                          int32_t& end_offs, bool normalize) {
  int32_t sd, ed, so, eo;
  GetSelDrawItemBounds(sd, ed, so, eo, normalize);
  DrawItemPosToItemPos(sd, so, start_item_no, start_offs);
  DrawItemPosToItemPos(ed, eo, end_item_no, end_offs);
}

// ---- Lines and points ------------------------------------------------------------------------

void TCustomRVFormattedData::GetScreenLineBounds(int32_t d_item_no, int32_t& first, int32_t& last) {
  first = d_item_no;
  while (first > 0 && !DrawLines[first]->FromNewLine) --first;
  if (first < 0) first = 0;
  last = d_item_no + 1;
  while (last < DrawLines.Count() && !DrawLines[last]->FromNewLine) ++last;
  --last;
}

int32_t TCustomRVFormattedData::FindDrawItemByY(int32_t y, int32_t mode) {
  const int32_t n = DrawLines.Count();
  if (n == 0 || DrawLines[0]->Top >= y) return 0;
  if (DrawLines[n - 1]->Top < y) {
    if (mode == 3) return n - 1;
    if (mode == 2) return 1;
  }
  int32_t lo = 0, hi = n - 1;
  while (lo < hi) {  // first with Top >= y
    const int32_t mid = (lo + hi) / 2;
    if (DrawLines[mid]->Top >= y)
      hi = mid;
    else
      lo = mid + 1;
  }
  int32_t r = lo;
  if (mode == 1) {
    auto line_start = [&](int32_t i) {
      while (i > 0 && !DrawLines[i]->FromNewLine) --i;
      return i;
    };
    r = line_start(r);
    r = std::max(r - 1, 0);
    r = line_start(r);
    r = std::max(r - 1, 0);
    return r;
  }
  while (r < n && DrawLines[r]->Top < y) ++r;
  return std::min(r, n - 1);
}

int32_t TCustomRVFormattedData::FindDrawItemAtPoint(int32_t x, int32_t y) {
  const int32_t n = DrawLines.Count();
  auto inside = [&](int32_t i) {
    TRVDrawLineInfo* d = DrawLines[i];
    return x >= d->Left && x < d->Left + d->Width && y >= d->Top && y < d->Top + d->Height;
  };
  if (n == 0) return -1;
  if (inside(0)) return 0;
  int32_t i = FindDrawItemByY(y, 1);
  int32_t lines = 0;
  for (; i < n && lines <= 3; ++i) {
    if (DrawLines[i]->FromNewLine && DrawLines[i]->Top > y) ++lines;
    if (inside(i)) return i;
  }
  return -1;
}

void TCustomRVFormattedData::FindDrawItemAtPos(int32_t x, int32_t y, int32_t& d_item_no, int32_t& d_offs,
                                               bool strict) {
  d_item_no = -1;
  d_offs = -1;
  const int32_t n = DrawLines.Count();
  if (n == 0) return;
  int32_t first, last;
  TRVDrawLineInfo* d0 = DrawLines[0];
  if (y < d0->Top + d0->Height + d0->ExtraSpaceBelow) {
    GetScreenLineBounds(0, first, last);
  } else {
    int32_t lo = 0, hi = n - 1;  // last with Top <= y
    while (lo < hi) {
      const int32_t mid = (lo + hi + 1) / 2;
      if (DrawLines[mid]->Top <= y)
        lo = mid;
      else
        hi = mid - 1;
    }
    GetScreenLineBounds(lo, first, last);
    if (last + 1 < n) {
      int32_t f2, l2;
      GetScreenLineBounds(last + 1, f2, l2);
      for (int32_t i = f2; i <= l2; ++i)
        if (DrawLines[i]->Top <= y) {
          first = f2;
          last = l2;
          break;
        }
    }
  }
  std::vector<int32_t> order;
  for (int32_t i = first; i <= last; ++i) order.push_back(i);
  const TRVBiDiMode bidi = GetParaBiDiMode(GetItem(DrawLines[first]->ItemNo)->ParaNo);
  if (bidi != rvbdUnspecified)
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) { return DrawLines[a]->Left < DrawLines[b]->Left; });
  int32_t found = -1;
  for (int32_t i : order) {
    TRVDrawLineInfo* d = DrawLines[i];
    if (x >= d->Left && x < d->Left + d->Width) {
      if (strict && !(y >= d->Top && y <= d->Top + d->Height)) continue;
      found = i;
      break;
    }
  }
  if (found < 0) {
    if (strict) return;
    found = x < DrawLines[order.front()]->Left ? order.front() : order.back();
    if (x >= DrawLines[order.front()]->Left) {
      // Between draw items: the nearest one to the left.
      for (int32_t i : order)
        if (DrawLines[i]->Left <= x) found = i;
    }
  }
  TRVDrawLineInfo* d = DrawLines[found];
  TCustomRVItemInfo* item = GetItem(d->ItemNo);
  const bool rtl = bidi == rvbdRightToLeft;
  d_item_no = found;
  if (item->StyleNo < 0) {
    const bool right_half = x >= d->Left + d->Width / 2;
    d_offs = (right_half != rtl) ? 1 : 0;
    if (!strict && item->StyleNo == rvsListMarker && found + 1 < n) {
      d_item_no = found + 1;
      d_offs = GetOffsBeforeDrawItem(found + 1);
    }
    return;
  }
  if (d->Length == 0) {
    d_offs = 1;
    return;
  }
  TCanvas* canvas = GetCanvas();
  const AnsiString piece = DrawLines.GetSubString(found, this);
  const uint8_t opts = GetItemOptions(d->ItemNo);
  std::vector<int32_t> ext;
  int32_t fit = 0;
  if (canvas) {
    GetRVStyle()->ApplyStyle(*canvas, GetActualStyle(item), bidi, (GetFlags() & rvflCustomPPI) != 0);
    RVU_GetTextExtentExPoint(*canvas, piece, 10 * d->Width, fit, &ext, opts);
  }
  const int32_t px = x - d->Left - d->SpaceBefore;
  int32_t best = 0, best_dist = px < 0 ? -px : px;
  for (size_t k = 0; k < ext.size(); ++k) {
    const int32_t dist = std::abs(px - ext[k]);
    if (dist < best_dist || (dist == best_dist && px >= ext[k])) {
      best = static_cast<int32_t>(k) + 1;
      best_dist = dist;
    }
  }
  int32_t offs = best + 1;
  // Never inside a surrogate pair or a combining sequence.
  const AnsiString text = GetItemTextRaw(d->ItemNo);
  const int32_t item_offs = d->Offs + offs - 1;
  const int32_t next = NextCharOffs(text, d->ItemNo, item_offs - 1);
  if (next > item_offs && next <= d->Offs + d->Length) offs = next - d->Offs + 1;
  d_offs = std::clamp(offs, 1, d->Length + 1);
}

int32_t TCustomRVFormattedData::GetFirstVisibleItem() {
  if (DrawLines.Count() == 0) return -1;
  return DrawLines[FindDrawItemByY(GetVOffs(), 1)]->ItemNo;
}

int32_t TCustomRVFormattedData::GetLastVisibleItem() {
  if (DrawLines.Count() == 0) return -1;
  const int32_t d = std::min(FindDrawItemByY(GetVOffs() + GetAreaHeight(), 3), DrawLines.Count() - 1);
  return DrawLines[d]->ItemNo;
}

void TCustomRVFormattedData::InvalidateDrawItem(int32_t d_item_no, int32_t inflate) {
  TRVDrawLineInfo* d = DrawLines[d_item_no];
  InvalidateRectangle(TRect{d->Left - inflate - GetHOffs(), d->Top - inflate - GetVOffs(),
                            d->Left + d->Width + inflate - GetHOffs(), d->Top + d->Height + inflate - GetVOffs()});
}

// ---- Minimal widths ----------------------------------------------------------------------------

int32_t TCustomRVFormattedData::GetIndentsWidth(int32_t item_no, const TRVScreenAndDevice* sad,
                                                bool first_is_full_line) {
  TCustomRVParaInfo* p = Para(item_no);
  int32_t w = p->LeftIndent + p->RightIndent + (p->FirstIndent > 0 && !first_is_full_line ? p->FirstIndent : 0);
  return sad ? RV_XToDevice(w, *sad) : w;
}

int32_t TCustomRVFormattedData::ItemMinWidth(int32_t item_no, const TRVScreenAndDevice* sad, TCanvas* canvas) {
  TCustomRVItemInfo* item = GetItem(item_no);
  int32_t w = 0;
  if (item->StyleNo >= 0) {
    // The widest word of the text.
    if (canvas) {
      const int32_t style = GetActualStyle(item);
      GetRVStyle()->ApplyStyle(*canvas, style, rvbdUnspecified, (GetFlags() & rvflCustomPPI) != 0);
      const AnsiString disp = DisplayText(item_no, false);
      const bool uni = IsUnicodeItem(item_no);
      const int32_t len = ItemLength(item_no);
      const uint8_t opts = item->ItemOptions.ToBits();
      int32_t start = 0;
      for (int32_t k = 0; k <= len; ++k) {
        if (k == len || RVU_IsSpace(disp, k + 1, opts)) {
          if (k > start) w = std::max(w, Measure(*canvas, disp, uni, start, k - start).cx);
          start = k + 1;
        }
      }
    }
  } else {
    w = item->GetMinWidth(sad, canvas, this);
  }
  if (item->GetSameAsPrev() && item_no > 0 && GetItem(item_no - 1)->StyleNo == rvsListMarker)
    w += ItemMinWidth(item_no - 1, sad, canvas);
  return w;
}

int32_t TCustomRVFormattedData::CalcSectionMinWidth(int32_t item_no, int32_t& first_para_item,
                                                    const TRVScreenAndDevice* sad, TCanvas* canvas) {
  int32_t last = item_no;
  while (last + 1 < ItemCount() && GetItem(last + 1)->GetSameAsPrev()) ++last;
  if (!GetItem(item_no)->GetSameAsPrev() && !GetItem(item_no)->GetBR()) first_para_item = item_no;
  const bool full = IsFullLineItem(item_no);
  const int32_t indents = GetIndentsWidth(item_no, sad, full);
  if (Para(item_no)->Options.Contains(rvpaoNoWrap)) {
    int32_t sum = indents;
    for (int32_t i = item_no; i <= last; ++i) {
      TCustomRVItemInfo* item = GetItem(i);
      if (item->StyleNo >= 0) {
        if (canvas) {
          GetRVStyle()->ApplyStyle(*canvas, GetActualStyle(item), rvbdUnspecified, (GetFlags() & rvflCustomPPI) != 0);
          sum += Measure(*canvas, DisplayText(i, false), IsUnicodeItem(i), 0, ItemLength(i)).cx;
        }
      } else {
        sum += item->GetMinWidth(sad, canvas, this);
      }
    }
    return sum;
  }
  int32_t w = 0;
  for (int32_t i = item_no; i <= last; ++i) w = std::max(w, indents + ItemMinWidth(i, sad, canvas));
  return w;
}

int32_t TCustomRVFormattedData::GetMinItemsWidth(int32_t first, int32_t last, TCanvas* canvas,
                                                 const TRVScreenAndDevice* sad, int32_t& first_para_item) {
  while (first > 0 && GetItem(first)->GetSameAsPrev()) --first;
  int32_t w = 0;
  for (int32_t i = first; i <= last && i < ItemCount(); ++i)
    if (!GetItem(i)->GetSameAsPrev()) w = std::max(w, CalcSectionMinWidth(i, first_para_item, sad, canvas));
  return w;
}

int32_t TCustomRVFormattedData::CalcMinDocWidth(const TRVScreenAndDevice* sad, TCanvas* canvas) {
  if (ItemCount() == 0 || !GetRVStyle()) return 0;
  if (sad && sad->ppixScreen == sad->ppixDevice && sad->ppiyScreen == sad->ppiyDevice) sad = nullptr;
  int32_t fpi = -1;
  return GetMinItemsWidth(0, ItemCount() - 1, canvas, sad, fpi);
}

// ---- After formatting ------------------------------------------------------------------------------

void TCustomRVFormattedData::AdjustJumpsCoords() {
  int32_t ox, oy;
  GetOrigin(ox, oy);
  for (auto& j : Jumps) {
    TRVDrawLineInfo* d = DrawLines[j->DrawItemNo];
    j->Left = d->Left + ox + j->DX;
    j->Top = d->Top + oy - GetVAlignOffset() + j->DY;
  }
}

void TCustomRVFormattedData::RepositionControls() {
  if ((GetFlags() & rvflNoReposition) || (State & (1u << 8))) return;
  int32_t ox, oy;
  GetOrigin(ox, oy);
  for (int32_t i = 0; i < DrawLines.Count(); ++i) {
    TCustomRVItemInfo* item = GetItem(DrawLines[i]->ItemNo);
    auto* ci = dynamic_cast<TRVControlItemInfo*>(item);
    if (!ci) {
      // Items with windows of their own (a table's cell editor) follow their draw item too.
      auto* nt = dynamic_cast<TRVNonTextItemInfo*>(item);
      if (nt && (i == 0 || DrawLines[i - 1]->ItemNo != DrawLines[i]->ItemNo))
        nt->AdjustInserted(DrawLines[i]->Left - GetHOffs(), DrawLines[i]->Top - GetVOffs(), true);
      continue;
    }
    ci->AdjustInserted(DrawLines[i]->Left - GetHOffs(), DrawLines[i]->Top - GetVOffs(), true);
    MoveInsertedControl(ci, DrawLines[i]->Left - GetHOffs(), DrawLines[i]->Top - GetVOffs());
  }
  if (auto* root = dynamic_cast<TCustomRVFormattedData*>(GetRootData())) root->AfterControlsRepositioned(this);
}

// ---- Partial reformat --------------------------------------------------------------------------

void TCustomRVFormattedData::ExpandToParaDrawItems(int32_t first_d_item, int32_t last_d_item, int32_t& new_first,
                                                   int32_t& new_last) {
  const int32_t n = DrawLines.Count();
  auto para_start_d = [&](int32_t d) {
    while (d > 0) {
      const int32_t it = DrawLines[d]->ItemNo;
      const bool start = (d == 0 || DrawLines[d - 1]->ItemNo != it) && GetItem(it)->IsParaStart();
      if (start) break;
      --d;
    }
    return std::max(d, 0);
  };
  new_first = para_start_d(first_d_item);
  new_first = para_start_d(std::max(new_first - 1, 0));
  auto past_para = [&](int32_t d) {
    int32_t it = DrawLines[d]->ItemNo;
    while (d < n && DrawLines[d]->ItemNo == it) ++d;
    while (d < n && !GetItem(DrawLines[d]->ItemNo)->IsParaStart()) ++d;
    return d;
  };
  int32_t d = past_para(last_d_item);
  if (d < n) d = past_para(d);
  new_last = std::min(d - 1, n - 1);
}

void TCustomRVFormattedData::FormatParas(int32_t first_d_item, int32_t last_d_item, int32_t item_count_change,
                                         bool update_now) {
  const int32_t n = DrawLines.Count();
  while (first_d_item > 0) {
    const int32_t it = DrawLines[first_d_item]->ItemNo;
    if ((DrawLines[first_d_item - 1]->ItemNo != it) && !GetItem(it)->GetSameAsPrev()) break;
    --first_d_item;
  }
  int32_t it = DrawLines[last_d_item]->ItemNo;
  while (last_d_item + 1 < n) {
    const int32_t next_it = DrawLines[last_d_item + 1]->ItemNo;
    const int32_t after = next_it + item_count_change;
    if (next_it != it && (after < 0 || after >= ItemCount() || !GetItem(after)->GetSameAsPrev())) break;
    it = next_it;
    ++last_d_item;
  }
  FormatParasExact(first_d_item, last_d_item, item_count_change, false, update_now);
}

void TCustomRVFormattedData::FormatParasExact(int32_t first_d_item, int32_t last_d_item, int32_t item_count_change,
                                              bool width_flag1, bool update_now) {
  TCanvas* canvas = GetCanvas();
  if (!canvas || !GetRVStyle() || DrawLines.Count() == 0) return;
  const int32_t old_count = DrawLines.Count();
  const int32_t first_item = DrawLines[first_d_item]->ItemNo;
  const int32_t last_item = std::clamp(DrawLines[last_d_item]->ItemNo + item_count_change, first_item,
                                       ItemCount() - 1);
  TRVScreenAndDevice sad;
  GetResolutions(*canvas, sad);
  int32_t top0 = RV_YToDevice(GetTopMargin(), sad);
  if (first_d_item > 0) {
    int32_t f, l;
    GetScreenLineBounds(first_d_item - 1, f, l);
    for (int32_t i = f; i <= l; ++i) {
      TRVDrawLineInfo* d = DrawLines[i];
      top0 = std::max(top0, d->Top + d->Height + d->ExtraSpaceBelow);
    }
  }
  int32_t old_next = -1;
  if (last_d_item + 1 < old_count) {
    int32_t f, l;
    GetScreenLineBounds(last_d_item + 1, f, l);
    old_next = INT32_MAX;
    for (int32_t i = f; i <= l; ++i) old_next = std::min(old_next, DrawLines[i]->Top);
  }
  // Hyperlink areas of the range are rebuilt by the next full pass; drop those that point
  // into it now so that none refers to a reused slot.
  Jumps.erase(std::remove_if(Jumps.begin(), Jumps.end(),
                             [&](const std::unique_ptr<TRVJumpInfo>& j) {
                               return j->DrawItemNo >= first_d_item && j->DrawItemNo <= last_d_item;
                             }),
              Jumps.end());
  // The range's own hyperlink areas are added behind these while it is laid out.
  const size_t kept_jumps = Jumps.size();
  const int32_t removed = last_d_item - first_d_item + 1;
  DrawLines.ReserveRange(first_d_item, last_d_item);
  TRVLineBuildState st;
  InitState(st, canvas, width_flag1, false);
  st.Y = top0;
  st.LineWidth = 0;
  st.DrawItemNo = first_d_item;
  st.Cache = GetFontInfoCache(canvas, this);
  BeginFormat();
  try {
    for (int32_t i = first_item; i <= last_item; ++i) {
      TCustomRVItemInfo* item = GetItem(i);
      if (!item->GetSameAsPrev() && !item->GetBR()) st.FirstParaItem = i;
      if (item->StyleNo < 0) {
        if (dynamic_cast<TRVRectItemInfo*>(item))
          PlaceRectItem(i, st);
        else
          FormatFullLineItem(i, st);
      } else if (Para(i)->Alignment == rvaJustify) {
        FormatWords(i, st);
      } else {
        FormatItem(DisplayText(i, false), GetItemTextRaw(i), 0, ItemLength(i), i, st);
      }
    }
    FinishPendingTab(st);
    int32_t extra = 0;
    FinishScreenLine(st, st.LineLeft + st.LineWidth, true, extra);
    st.Y += extra;
  } catch (...) {
    EndFormat();
    DestroyFontInfoCache(st.Cache);
    DrawLines.DropReserved();
    throw;
  }
  EndFormat();
  DestroyFontInfoCache(st.Cache);
  const int32_t added = st.DrawItemNo - first_d_item;
  DrawLines.DropReserved();
  // The bottom of the range.
  if (last_item + 1 >= ItemCount() || GetItem(last_item + 1)->IsParaStart())
    st.Below += RV_YToDevice(Para(last_item)->SpaceAfter, sad);
  if (last_item + 1 < ItemCount() && GetItem(last_item + 1)->IsParaStart())
    st.Below += RV_YToDevice(Para(last_item + 1)->SpaceBefore, sad);
  const int32_t new_next = st.Y + st.Below;
  const int32_t shift_d = added - removed;
  for (size_t k = 0; k < kept_jumps && k < Jumps.size(); ++k)
    if (Jumps[k]->DrawItemNo > last_d_item) Jumps[k]->DrawItemNo += shift_d;
  int32_t new_bottom = new_next;
  bool whole = false;
  if (!(item_count_change == 0 && DrawLines.Count() == old_count && (new_next == old_next || old_next < 0))) {
    const int32_t dy = old_next < 0 ? 0 : new_next - old_next;
    for (int32_t i = st.DrawItemNo; i < DrawLines.Count(); ++i) {
      TRVDrawLineInfo* d = DrawLines[i];
      d->Top += dy;
      d->ItemNo += item_count_change;
    }
    for (int32_t i = 0; i < DrawLines.Count(); ++i) {
      TRVDrawLineInfo* d = DrawLines[i];
      if (!ShareItems() && (i == 0 || DrawLines[i - 1]->ItemNo != d->ItemNo)) GetItem(d->ItemNo)->DrawItemNo = i;
    }
    int32_t bottom = 0;
    for (int32_t i = 0; i < DrawLines.Count(); ++i) {
      TRVDrawLineInfo* d = DrawLines[i];
      bottom = std::max(bottom, d->Top + d->Height + d->ExtraSpaceBelow);
    }
    const int32_t old_height = DocumentHeight;
    DocumentHeight = RV_YToDevice(GetBottomMargin(), sad) + bottom +
                     (ItemCount() > 0 ? RV_YToDevice(Para(ItemCount() - 1)->SpaceAfter, sad) : 0);
    const int32_t old_voffs = GetVOffs();
    AdjustVScrollUnits();
    FormatGuard = true;
    SetDocumentAreaSize(GetDocumentAreaWidth(), DocumentHeight, true);
    FormatGuard = false;
    if (GetVOffs() != old_voffs) whole = true;
    new_bottom = DocumentHeight < old_height ? std::max(GetAreaHeight() + GetVOffs(), DocumentHeight) : new_bottom;
  }
  AdjustJumpsCoords();
  if (whole)
    InvalidateRectangle(TRect{0, 0, GetAreaWidth(), GetAreaHeight()});
  else
    InvalidateRectangle(TRect{0, top0 - 10 - GetVOffs(), GetAreaWidth(), new_bottom + 10 - GetVOffs()});
  RepositionControls();
  LastFormattedItem = ItemCount() - 1;
  if (update_now) UpdateView();
  AfterFormatRange(first_item, last_item, true);
}

}  // namespace pelvar
