// Formatting pass, line finishing, tabs and the text-metric caches.
#include "richtext/view/CRVFData.h"
#include "richtext/view/RVMultiPrint.h"
#include "richtext/view/RVAnimate.h"
#include "richtext/view/RVDragDrop.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "platform/checked.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

bool ShowSwallowedSpaces = false;

namespace {

int32_t MulDiv32(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  return static_cast<int32_t>(std::llround(static_cast<double>(a) * b / c));
}

bool IsRectItem(TCustomRVItemInfo* item) { return dynamic_cast<TRVRectItemInfo*>(item) != nullptr; }

// Direction class of one character: 1 left to right, 2 right to left, 0 neither.
int32_t CharDirection(char16_t ch) {
  if ((ch >= 0x0590 && ch <= 0x08FF) || (ch >= 0xFB1D && ch <= 0xFDFF) || (ch >= 0xFE70 && ch <= 0xFEFF)) return 2;
  if ((ch >= u'A' && ch <= u'Z') || (ch >= u'a' && ch <= u'z') || (ch >= 0x00C0 && ch <= 0x024F && ch != 0x00D7 &&
                                                                    ch != 0x00F7) ||
      (ch >= 0x0370 && ch <= 0x058F))
    return 1;
  return 0;
}

}  // namespace

// ---- Caches ---------------------------------------------------------------------------------

TRVFontInfoCache::TRVFontInfoCache(TCustomRVData* owner, bool can_use_custom_ppi, TCanvas* canvas,
                                   TRVStyle* rvstyle)
    : Canvas(canvas), RVStyle(rvstyle), CanUseCustomPPI(can_use_custom_ppi), Owner(owner) {
  items_.resize(static_cast<size_t>(rvstyle->TextStyles()->Count()));
}

TRVFontInfoCacheItem* TRVFontInfoCache::Slot(int32_t style_no) {
  if (style_no < 0) style_no = 0;
  if (static_cast<size_t>(style_no) >= items_.size()) items_.resize(static_cast<size_t>(style_no) + 1);
  return items_[static_cast<size_t>(style_no)].get();
}

void TRVFontInfoCache::Measure(TRVFontInfoCacheItem& item, int32_t style_no) {
  TCanvas& c = *item.Canvas;
  item.FontInfo = RVStyle->TextStyles()->Items(style_no);
  item.TextMetric = c.GetTextMetrics();
  item.VShiftPixels = MulDiv32(item.TextMetric.tmHeight, item.FontInfo->VShift, 100);
  const TSize hyphen = c.TextExtent("-");
  item.HyphenHeight = hyphen.cy;
  item.HyphenWidth = hyphen.cx;
}

TRVFontInfoCacheItem* TRVFontInfoCacheFast::GetItem(int32_t style_no) {
  if (style_no < 0) style_no = 0;
  TRVFontInfoCacheItem* item = Slot(style_no);
  if (!item) {
    auto fresh = std::make_unique<TRVFontInfoCacheItem>();
    fresh->OwnCanvas = std::make_unique<TRVMeasureCanvas>(Canvas->Metrics(), Canvas->SurfaceSize());
    fresh->Canvas = fresh->OwnCanvas.get();
    fresh->BiDiMode = BiDiMode;
    RVStyle->ApplyStyle(*fresh->Canvas, style_no, BiDiMode, CanUseCustomPPI);
    Measure(*fresh, style_no);
    item = fresh.get();
    items_[static_cast<size_t>(style_no)] = std::move(fresh);
  } else if (item->BiDiMode != BiDiMode) {
    item->BiDiMode = BiDiMode;
    item->FontInfo->ApplyBiDiAndSpacing(*item->Canvas, BiDiMode);
  }
  return item;
}

TRVFontInfoCacheItem* TRVFontInfoCacheLowResource::GetItem(int32_t style_no) {
  if (style_no < 0) style_no = 0;
  TRVFontInfoCacheItem* item = Slot(style_no);
  bool fresh_item = false;
  if (!item) {
    auto fresh = std::make_unique<TRVFontInfoCacheItem>();
    fresh->Canvas = Canvas;
    fresh->BiDiMode = BiDiMode;
    item = fresh.get();
    items_[static_cast<size_t>(style_no)] = std::move(fresh);
    fresh_item = true;
  }
  if (fresh_item || style_no != AppliedStyle || item->BiDiMode != BiDiMode) {
    item->BiDiMode = BiDiMode;
    RVStyle->ApplyStyle(*Canvas, style_no, BiDiMode, CanUseCustomPPI);
    AppliedStyle = style_no;
  }
  if (fresh_item) Measure(*item, style_no);
  return item;
}

// ---- Construction -----------------------------------------------------------------------------

TCustomRVFormattedData::TCustomRVFormattedData() = default;

TCustomRVFormattedData::~TCustomRVFormattedData() {
  if (DropSource) DropSource->Forget();
  DrawLines.Clear();
  Jumps.clear();
}

void TCustomRVFormattedData::ClearJumps() {
  Jumps.clear();
  LastJumpMovedAbove = -1;
}

void TCustomRVFormattedData::ClearTemporal() {
  DrawLines.Clear();
  ClearJumps();
  JumpCount = 0;
  DocumentHeight = GetTopMargin() + GetBottomMargin();
  if (!ShareItems())
    for (int32_t i = 0; i < ItemCount(); ++i) GetItem(i)->DrawItemNo = -1;
}

void TCustomRVFormattedData::Clear() {
  const uint32_t saved = State & rvstClearing;
  State |= rvstClearing;
  try {
    FSelStartNo = FSelEndNo = -1;
    FSelStartOffs = FSelEndOffs = 0;
    ClearTemporal();
    TCustomRVData::Clear();
  } catch (...) {
    State = (State & ~rvstClearing) | saved;
    throw;
  }
  State = (State & ~rvstClearing) | saved;
  LastFormattedItem = -1;
}

void TCustomRVFormattedData::GetResolutions(TCanvas& canvas, TRVScreenAndDevice& sad) {
  RV_GetScreenAndDeviceResolution(canvas, sad);
}

TRVFontInfoCache* TCustomRVFormattedData::CreateFontInfoCache(TCanvas* /*canvas*/) { return nullptr; }

TRVFontInfoCache* TCustomRVFormattedData::GetFontInfoCache(TCanvas* canvas, TCustomRVFormattedData* requester) {
  if (auto* parent = dynamic_cast<TCustomRVFormattedData*>(GetParentData()))
    return parent->GetFontInfoCache(canvas, requester);
  const bool ppi = (GetFlags() & rvflCustomPPI) != 0;
  return new TRVFontInfoCacheLowResource(requester, ppi, canvas, GetRVStyle());
}

void TCustomRVFormattedData::DestroyFontInfoCache(TRVFontInfoCache*& cache) {
  if (cache && cache->Owner == this) delete cache;
  cache = nullptr;
}

TColor TCustomRVFormattedData::GetColor() {
  TRVStyle* s = GetRVStyle();
  return s ? s->Color : clWindow;
}

bool TCustomRVFormattedData::IsFullLineItem(int32_t item_no) {
  TCustomRVItemInfo* item = GetItem(item_no);
  return item->StyleNo < 0 && !IsRectItem(item);
}

AnsiString TCustomRVFormattedData::DisplayText(int32_t item_no, bool ends_wrapped_line) {
  TCustomRVItemInfo* item = GetItem(item_no);
  const int32_t style = GetActualStyle(item);
  TFontInfo* fi = GetRVStyle()->TextStyles()->Items(style);
  return RVU_PrepareDisplayText(GetItemTextRaw(item_no), fi->StyleEx.Contains(rvfsAllCaps),
                                item->ItemOptions.ToBits(), ends_wrapped_line,
                                GetOptions().Contains(rvoShowSpecialCharacters), false, ShownSpecialCharacters);
}

// ---- Indents ---------------------------------------------------------------------------------------

void TCustomRVFormattedData::GetLineIndents(int32_t item_no, bool is_first_line, int32_t& first_para_item,
                                            int32_t& line_indent, int32_t& right_indent, int32_t& tab_left) {
  TCustomRVParaInfo* p = Para(item_no);
  if (first_para_item < 0) first_para_item = GetFirstParaItem(item_no);
  if ((State & rvstContinuesList) && first_para_item == 0) is_first_line = false;
  // List levels are not part of this style sheet: list paragraphs take the paragraph's
  // own indents.
  if (is_first_line) {
    line_indent = p->LeftIndent;
    TCustomRVItemInfo* item = GetItem(item_no);
    if (!item->GetBR() && !IsFullLineItem(item_no)) line_indent += p->FirstIndent;
    tab_left = p->LeftIndent;
    right_indent = p->RightIndent;
  } else {
    line_indent = tab_left = p->LeftIndent;
    right_indent = p->RightIndent;
  }
}

// ---- The pass --------------------------------------------------------------------------------------

void TCustomRVFormattedData::InitState(TRVLineBuildState& st, TCanvas* canvas, bool width_flag1, bool width_flag2) {
  st = TRVLineBuildState();
  GetResolutions(*canvas, st.SAD);
  st.SAD.LeftMargin = RV_XToDevice(GetLeftMargin(), st.SAD);
  st.SAD.RightMargin = RV_XToDevice(GetRightMargin(), st.SAD);
  st.Y = RV_YToDevice(GetTopMargin(), st.SAD);
  st.DrawItemNo = DrawLines.Count();
  st.MaxLength = GetMaxLength();
  st.WidthFlag1 = width_flag1;
  st.WidthFlag2 = width_flag2;
  st.Canvas = canvas;
}

void TCustomRVFormattedData::FormatDocument(bool keep_position, bool force, bool no_scroll, int32_t depth,
                                            TCanvas* canvas, bool only_tail, bool width_flag1, bool width_flag2) {
  if (FormatGuard) {
    FormatGuard = false;
    return;
  }
  if (depth > 1 || !GetRVStyle() || (State & rvstFormatting)) return;
  if (!canvas) canvas = GetCanvas();
  if (!canvas) return;
  if (depth == 0) BeginFormat();
  bool done = false;
  try {
    TRVScreenAndDevice sad;
    GetResolutions(*canvas, sad);
    const int32_t lm = RV_XToDevice(GetLeftMargin(), sad);
    const int32_t rm = RV_XToDevice(GetRightMargin(), sad);
    const int32_t old_doc_width = DocumentWidth, old_text_width = TextWidth;
    const int32_t min_text = RV_XToDevice(GetMinTextWidth(), sad);
    const int32_t max_text = RV_XToDevice(GetMaxTextWidth(), sad);
    DocumentWidth = std::max(GetAreaWidth() - (lm + rm), CalcMinDocWidth(&sad, canvas));
    DocumentWidth = std::max(DocumentWidth, min_text);
    if (GetOptions().Contains(rvoClientTextWidth))
      TextWidth = std::max(GetAreaWidth() - (lm + rm), min_text);
    else if (GetMaxTextWidth() <= 0 || max_text >= DocumentWidth)
      TextWidth = DocumentWidth;
    else
      TextWidth = max_text;
    // Remembered positions.
    int32_t sel_si = -1, sel_ei = -1, sel_so = 0, sel_eo = 0;
    int32_t top_item = -1, top_dist = 0, old_voffs = 0;
    if (keep_position && depth == 0) {
      GetSelBounds(sel_si, sel_ei, sel_so, sel_eo, false);
      if (!no_scroll && DrawLines.Count() > 0) {
        const int32_t d = FindDrawItemByY(GetVOffs(), 1);
        top_item = DrawLines[d]->ItemNo;
        top_dist = GetVOffs() - DrawLines[d]->Top;
      }
    }
    if (only_tail) old_voffs = GetVOffs();
    if (force || !keep_position || old_doc_width != DocumentWidth || old_text_width != TextWidth) {
      TRVLineBuildState st;
      int32_t first = 0;
      if (only_tail && LastFormattedItem >= 0 && LastFormattedItem < ItemCount()) {
        InitState(st, canvas, width_flag1, width_flag2);
        first = LastFormattedItem + 1;
        st.Y = DocumentHeight - RV_YToDevice(GetBottomMargin(), sad) -
               RV_YToDevice(Para(LastFormattedItem)->SpaceAfter, sad);
      } else {
        only_tail = false;
        ClearTemporal();
        InitState(st, canvas, width_flag1, width_flag2);
      }
      st.Cache = GetFontInfoCache(canvas, this);
      try {
        FormatRange(first, ItemCount() - 1, st);
      } catch (...) {
        DestroyFontInfoCache(st.Cache);
        throw;
      }
      DestroyFontInfoCache(st.Cache);
      DocumentHeight = st.LineExtra + RV_YToDevice(GetBottomMargin(), sad) + st.Below + st.Y;
      if (ItemCount() > 0) DocumentHeight += RV_YToDevice(Para(ItemCount() - 1)->SpaceAfter, sad);
      AdjustVScrollUnits();
      AdjustJumpsCoords();
      // Step 10.
      FormatGuard = true;
      const bool changed = SetDocumentAreaSize(DocumentWidth + lm + rm, DocumentHeight, true);
      FormatGuard = false;
      if (changed) {
        EndFormat();
        FormatDocument(keep_position, true, no_scroll, depth + 1, canvas, false, width_flag1, width_flag2);
        BeginFormat();
      }
      if (depth == 0) {
        if (keep_position && !no_scroll) {
          int32_t d = -1;
          if (top_item >= 0 && top_item < ItemCount()) GetFirstDrawItemOfItem(top_item, d);
          ScrollTo(d >= 0 ? DrawLines[d]->Top + top_dist : 0, false);
        }
        RepositionControls();
        if (only_tail) {
          if (GetOptions().Contains(rvoScrollToEnd))
            ScrollTo(DocumentHeight, true);
          else
            ScrollTo(old_voffs, false);
        }
        if (keep_position && sel_si >= 0 && sel_ei >= 0 && sel_si < ItemCount() && sel_ei < ItemCount())
          StoreSelectionBounds(sel_si, sel_ei, sel_so, sel_eo);
      }
    }
    done = true;
    if (depth == 0) EndFormat();
    LastFormattedItem = ItemCount() - 1;
    AfterFormatRange(0, ItemCount() - 1, false);
  } catch (...) {
    if (!done) {
      if (depth == 0) EndFormat();
      LastFormattedItem = ItemCount() - 1;
      AfterFormatRange(0, ItemCount() - 1, false);
    }
    throw;
  }
}

void TCustomRVFormattedData::FormatRange(int32_t first, int32_t last, TRVLineBuildState& st) {
  const bool show_special = GetOptions().Contains(rvoShowSpecialCharacters);
  for (int32_t i = first; i <= last; ++i) {
    TCustomRVItemInfo* item = GetItem(i);
    if (!item->GetSameAsPrev() && !item->GetBR()) st.FirstParaItem = i;
    if (item->StyleNo < 0) {
      if (IsRectItem(item))
        PlaceRectItem(i, st);
      else
        FormatFullLineItem(i, st);
    } else if (Para(i)->Alignment == rvaJustify) {
      FormatWords(i, st);
    } else {
      (void)show_special;
      const AnsiString display = DisplayText(i, false);
      FormatItem(display, GetItemTextRaw(i), 0, ItemLength(i), i, st);
    }
  }
  FinishPendingTab(st);
  int32_t extra = 0;
  const bool para_end = !(State & rvstLastParaContinues);
  FinishScreenLine(st, st.LineLeft + st.LineWidth, para_end, extra);
  st.LineExtra = extra;
}

void TCustomRVFormattedData::LoadStyle(int32_t style_no, int32_t item_no, TRVLineBuildState& st) {
  if (style_no == st.CurStyle) return;
  st.Cache->BiDiMode = GetParaBiDiMode(GetItem(item_no)->ParaNo);
  st.Cache->AppliedStyle = st.CurStyle;
  TRVFontInfoCacheItem* ci = st.Cache->GetItem(style_no);
  st.Metric = ci->TextMetric;
  st.VShift = ci->VShiftPixels;
  st.Canvas = ci->Canvas;
  st.CurStyle = style_no;
  TFontInfo* fi = ci->FontInfo;
  if (fi->CharSpacing != 0 && st.SAD.ppixDevice != st.SAD.ppixScreen && GetItemBiDiMode(item_no) == rvbdUnspecified)
    st.Canvas->SetTextCharacterExtra(RV_XToDevice(fi->CharSpacing, st.SAD));
}

TSize TCustomRVFormattedData::Measure(TCanvas& canvas, const AnsiString& display, bool unicode, int32_t from,
                                      int32_t count) {
  TSize sz{0, 0};
  if (unicode) {
    const WideString w = RVU_RawUnicodeToWideString(display.substr(static_cast<size_t>(from) * 2,
                                                                   static_cast<size_t>(count) * 2));
    RVU_GetTextExtentW(canvas, w.data(), static_cast<int32_t>(w.size()), sz);
  } else {
    sz = canvas.TextExtent(display.substr(static_cast<size_t>(from), static_cast<size_t>(count)));
  }
  return sz;
}

namespace {
// A line may break between two characters: after a space, or where the line-breaking
// classes of the pair allow it without a space.
bool BreakAllowedBetween(char16_t a, char16_t b) {
  if (a == u' ') return true;
  if (b == u' ') return false;
  const char16_t pair[3] = {a, b, 0};
  return RVU_FindLineBreak(pair, 1, false) == 0;
}
}  // namespace

char16_t TCustomRVFormattedData::ItemChar(int32_t item_no, int32_t index) {
  const AnsiString& raw = GetItemTextRaw(item_no);
  if (IsUnicodeItem(item_no)) {
    const size_t at = static_cast<size_t>(index) * 2;
    return at + 1 < raw.size() ? static_cast<char16_t>(static_cast<uint8_t>(raw[at]) |
                                                        (static_cast<uint8_t>(raw[at + 1]) << 8))
                               : u' ';
  }
  const auto at = static_cast<size_t>(index);
  if (at >= raw.size()) return u' ';
  const uint8_t b = static_cast<uint8_t>(raw[at]);
  if (b < 0x80) return b;
  const std::string w = RVU_AnsiToUnicode(GetStyleCodePage(GetActualStyle(GetItem(item_no))), std::string(1, raw[at]));
  return w.size() >= 2 ? static_cast<char16_t>(static_cast<uint8_t>(w[0]) | (static_cast<uint8_t>(w[1]) << 8)) : u'?';
}

int32_t TCustomRVFormattedData::WordContinuationWidth(int32_t item_no, TRVLineBuildState& st) {
  const int32_t len = ItemLength(item_no);
  if (len == 0) return 0;
  char16_t prev = ItemChar(item_no, len - 1);
  int32_t width = 0;
  const int32_t cur = st.CurStyle;
  bool other_style = false;
  for (int32_t j = item_no + 1; j < ItemCount(); ++j) {
    TCustomRVItemInfo* next = GetItem(j);
    if (next->StyleNo < 0 || !next->GetSameAsPrev()) break;
    const int32_t n = ItemLength(j);
    int32_t k = 0;
    for (; k < n; ++k) {
      const char16_t ch = ItemChar(j, k);
      if (ch == u' ' || BreakAllowedBetween(prev, ch)) break;
      prev = ch;
    }
    if (k > 0) {
      const int32_t style = GetActualStyle(next);
      other_style = other_style || style != cur;
      TRVFontInfoCacheItem* ci = st.Cache->GetItem(style);
      width += Measure(*ci->Canvas, DisplayText(j, false), IsUnicodeItem(j), 0, k).cx;
    }
    if (k < n) break;
  }
  if (other_style && cur >= 0) {
    // The measuring selected other fonts: the current style is loaded again.
    st.CurStyle = -1;
    LoadStyle(cur, item_no, st);
  }
  return width;
}

int32_t TCustomRVFormattedData::FitChars(const AnsiString& display, bool unicode, int32_t from, int32_t count,
                                         int32_t width, TRVLineBuildState& st, int32_t item_no) {
  if (Para(item_no)->Options.Contains(rvpaoNoWrap)) return count;
  TCanvas& c = *st.Canvas;
  // A piece that ends on a soft hyphen shows a hyphen when the line breaks there: it is
  // measured with it (unless the soft hyphen is shown as a special character anyway). A
  // whole rest that ends the paragraph never breaks there.
  WideString stored;
  int32_t hyphen = 0;
  if (unicode) {
    stored = RVU_RawUnicodeToWideString(GetItemTextRaw(item_no).substr(static_cast<size_t>(from) * 2,
                                                                       static_cast<size_t>(count) * 2));
    const bool shown = GetOptions().Contains(rvoShowSpecialCharacters) && (ShownSpecialCharacters & rvscSoftHyphen);
    if (!shown && stored.find(char16_t{0x00AD}) != WideString::npos)
      hyphen = st.Cache->GetItem(GetActualStyle(GetItem(item_no)))->HyphenWidth;
  }
  const bool rest_continues = item_no + 1 < ItemCount() && GetItem(item_no + 1)->GetSameAsPrev();
  auto ends_on_hyphen = [&](int32_t n) {
    return hyphen > 0 && n > 0 && n <= static_cast<int32_t>(stored.size()) &&
           stored[static_cast<size_t>(n - 1)] == 0x00AD && (n < count || rest_continues);
  };
  auto measure = [&](int32_t n) {
    const int32_t w = Measure(c, display, unicode, from, n).cx;
    return ends_on_hyphen(n) ? w + hyphen : w;
  };
  int32_t fit = 0;
  if (st.SAD.ppixDevice != 0 && (GetFlags() & rvflExactMeasure) && unicode) {
    std::vector<int32_t> ext;
    RVU_GetTextExtentExPoint(c, display.substr(static_cast<size_t>(from) * 2, static_cast<size_t>(count) * 2), width,
                             fit, nullptr, rvioUnicode);
    if (ends_on_hyphen(fit) && measure(fit) > width) --fit;
  } else {
    const int32_t all = measure(count);
    if (all >= 0 && all <= width) return count;
    int32_t lo = 0, lo_w = 0, hi = count, hi_w = all;
    while (lo + 1 < hi) {
      if (hi_w == lo_w) ++hi_w;
      int32_t guess = lo + static_cast<int32_t>(static_cast<int64_t>(width - lo_w) * (hi - lo) / (hi_w - lo_w));
      guess = std::clamp(guess, lo + 1, hi - 1);
      const int32_t w = measure(guess);
      if (w == width) {
        lo = guess;
        break;
      }
      if (w > 0 && w < width) {
        lo = guess;
        lo_w = w;
      } else {
        hi = guess;
        hi_w = w;
      }
    }
    fit = lo;
  }
  // A fit that stops just before a soft hyphen leaves the hyphen's word to the break search.
  if (hyphen > 0 && fit > 0 && fit < count && stored[static_cast<size_t>(fit)] == 0x00AD) --fit;
  if (unicode && fit > 0 && fit < count) {
    // Never between a surrogate pair's halves, nor before a combining mark.
    const WideString w = RVU_RawUnicodeToWideString(display.substr(static_cast<size_t>(from) * 2,
                                                                   static_cast<size_t>(count) * 2));
    auto inside = [&](int32_t p) {
      const char16_t ch = w[static_cast<size_t>(p)];
      return (ch >= 0xDC00 && ch <= 0xDFFF) || (ch >= 0x0300 && ch <= 0x036F) || (ch >= 0x20D0 && ch <= 0x20FF);
    };
    if (inside(fit)) {
      int32_t next = fit;
      while (next < count && inside(next)) ++next;
      if (Measure(c, display, unicode, from, next).cx <= width) {
        fit = next;
      } else {
        while (fit > 0 && inside(fit)) --fit;
      }
    }
  }
  return fit;
}

void TCustomRVFormattedData::RaiseAscent(int32_t ascent, TRVLineBuildState& st) {
  if (st.Above >= ascent) return;
  const int32_t d = ascent - st.Above;
  for (int32_t i = st.LineStart; i < st.DrawItemNo; ++i) DrawLines[i]->Top += d;
  st.Y += d;
  st.Above = ascent;
}

void TCustomRVFormattedData::InsertDrawItem(std::unique_ptr<TRVDrawLineInfo> d, TRVLineBuildState& st) {
  TCustomRVItemInfo* item = GetItem(d->ItemNo);
  const int32_t index = st.DrawItemNo;
  const bool first_of_item = index == 0 || !DrawLines.GetItem(index - 1) ||
                             DrawLines[index - 1]->ItemNo != d->ItemNo;
  if (d->FromNewLine) st.LineStart = index;
  DrawLines.InsertDrawItem(index, std::move(d));
  ++st.DrawItemNo;
  if (first_of_item && !ShareItems()) item->DrawItemNo = index;
}

void TCustomRVFormattedData::AddJump(int32_t d_item_no, int32_t id, TCursor cursor) {
  auto j = std::make_unique<TRVJumpInfo>();
  TRVDrawLineInfo* d = DrawLines[d_item_no];
  j->RVData = this;
  j->Width = d->Width;
  j->Height = d->Height;
  j->Id = id;
  j->DrawItemNo = d_item_no;
  j->Cursor = cursor;
  Jumps.push_back(std::move(j));
}

void TCustomRVFormattedData::StartNewLine(int32_t item_no, bool is_continuation, TRVLineBuildState& st) {
  TRVStyle* rvstyle = GetRVStyle();
  // 1. A trailing space at the wrap.
  if (is_continuation && !st.SpaceDropped && st.DrawItemNo > 0 && (GetFlags() & rvflDropWrapSpace)) {
    TRVDrawLineInfo* prev = DrawLines[st.DrawItemNo - 1];
    const int32_t pitem = prev->ItemNo;
    const bool first_after_marker = st.DrawItemNo >= 2 && DrawLines[st.DrawItemNo - 2]->FromNewLine &&
                                    GetItem(DrawLines[st.DrawItemNo - 2]->ItemNo)->StyleNo == rvsListMarker;
    if (GetItem(pitem)->StyleNo >= 0 && prev->Length > 0 && !prev->FromNewLine && !first_after_marker &&
        RVU_IsSpace(GetItemTextRaw(pitem), prev->Offs + prev->Length - 1, GetItemOptions(pitem))) {
      if (prev->Length == 1 && st.DrawItemNo >= 2 && DrawLines[st.DrawItemNo - 2]->ItemNo == pitem) {
        DrawLines.DeleteDrawItem(st.DrawItemNo - 1);
        --st.DrawItemNo;
      } else {
        --prev->Length;
        const int32_t style = GetActualStyle(GetItem(pitem));
        const int32_t cur = st.CurStyle;
        TRVFontInfoCacheItem* ci = st.Cache->GetItem(style);
        const AnsiString disp = DisplayText(pitem, false);
        prev->Width = Measure(*ci->Canvas, disp, IsUnicodeItem(pitem), prev->Offs - 1, prev->Length).cx +
                      prev->SpaceBefore;
        if (cur != style && cur >= 0) {
          st.CurStyle = -1;
          st.Cache->AppliedStyle = style;
          LoadStyle(cur, item_no, st);
        }
      }
      st.SpaceDropped = true;
    }
  }
  // 2. A soft hyphen at the end of the previous line becomes visible.
  if (is_continuation && st.DrawItemNo > 0) {
    TRVDrawLineInfo* prev = DrawLines[st.DrawItemNo - 1];
    if (prev->Length > 0 && IsUnicodeItem(prev->ItemNo) && GetItem(prev->ItemNo)->StyleNo >= 0) {
      const WideString w = RVU_RawUnicodeToWideString(GetItemTextRaw(prev->ItemNo));
      const size_t last = static_cast<size_t>(prev->Offs + prev->Length - 2);
      const bool shown = GetOptions().Contains(rvoShowSpecialCharacters) && (ShownSpecialCharacters & rvscSoftHyphen);
      if (last < w.size() && w[last] == 0x00AD && !shown)
        prev->Width += st.Cache->GetItem(GetActualStyle(GetItem(prev->ItemNo)))->HyphenWidth;
    }
  }
  // 3. Finish the previous line.
  FinishPendingTab(st);
  int32_t extra = 0;
  FinishScreenLine(st, st.LineLeft + st.LineWidth, st.ParaStart, extra);
  st.LineExtra = extra;
  // 4. Indents and paragraph spacing.
  int32_t line_indent = 0, right_indent = 0, tab_left = 0;
  GetLineIndents(item_no, st.ParaStart, st.FirstParaItem, line_indent, right_indent, tab_left);
  line_indent = RV_XToDevice(line_indent, st.SAD);
  right_indent = RV_XToDevice(right_indent, st.SAD);
  st.TabLeft = RV_XToDevice(tab_left, st.SAD);
  st.RightIndent = right_indent;
  if (st.ParaStart && !GetItem(item_no)->GetBR()) {
    if (item_no > 0) st.Below += RV_YToDevice(rvstyle->ParaStyles()->Items(GetItem(item_no - 1)->ParaNo)->SpaceAfter, st.SAD);
    st.Below += RV_YToDevice(Para(item_no)->SpaceBefore, st.SAD);
  }
  // 5. The line's frame.
  st.LineWidth = (Para(item_no)->Options.Contains(rvpaoNoWrap) ? DocumentWidth : TextWidth) -
                 (right_indent + line_indent);
  st.LineLeft = st.SAD.LeftMargin + line_indent;
  st.CharsInLine = 0;
  st.HasAbsAligned = false;
}

void TCustomRVFormattedData::FormatItem(const AnsiString& display, const AnsiString& item_text, int32_t start_offs,
                                        int32_t length, int32_t item_no, TRVLineBuildState& st) {
  TCustomRVItemInfo* item = GetItem(item_no);
  const bool unicode = item->ItemOptions.Contains(rvioUnicodeText);
  const uint8_t opts = item->ItemOptions.ToBits();
  const uint16_t flags = GetFlags();
  bool new_line = false;
  if (!item->GetSameAsPrev() && start_offs == 0) {
    st.ParaStart = true;
    st.SpaceDropped = false;
    new_line = true;
  }
  const int32_t style = GetActualStyle(item);
  LoadStyle(style, item_no, st);
  TFontInfo* fi = GetRVStyle()->TextStyles()->Items(style);
  const int32_t ascent = st.Metric.tmAscent + ((flags & rvflExternalLeading) ? st.Metric.tmExternalLeading : 0) +
                         st.VShift;
  const int32_t descent = st.Metric.tmDescent - st.VShift;
  const bool prev_is_marker = item_no > 0 && GetItem(item_no - 1)->StyleNo == rvsListMarker;
  const bool jump_areas = (flags & rvflJumps) && fi->Jump;
  const int32_t jump_id = start_offs > 0 ? JumpCount - 1 : JumpCount;

  auto place = [&](int32_t pos, int32_t count, int32_t width, int32_t height) {
    auto d = std::make_unique<TRVDrawLineInfo>();
    d->ItemNo = item_no;
    d->Offs = pos + 1;
    d->Length = count;
    d->Width = width;
    d->Height = height;
    if (new_line) {
      d->FromNewLine = true;
      st.X = 0;
      st.Y += st.LineExtra;
      st.LineExtra = 0;
      d->Top = st.Y + st.Below;
      st.Above = ascent;
      st.Y += st.Below + st.Above;
      st.Below = descent;
    } else {
      RaiseAscent(ascent, st);
      d->Top = st.Y - ascent;
      st.Below = std::max(st.Below, descent);
    }
    d->Left = st.X + st.LineLeft;
    st.X += width;
    st.CharsInLine += count;
    st.ParaStart = false;
    const int32_t index = st.DrawItemNo;
    InsertDrawItem(std::move(d), st);
    if (jump_areas) AddJump(index, jump_id, fi->JumpCursor);
    new_line = false;
  };

  if (length == 0) {
    const int32_t h = st.Cache->GetItem(style)->HyphenHeight;
    if (item->GetSameAsPrev()) {
      new_line = false;
    } else {
      StartNewLine(item_no, !st.ParaStart, st);
      new_line = true;
    }
    place(start_offs, 0, 0, h);
    if (fi->Jump) item->JumpID = -3;
    return;
  }

  int32_t pos = start_offs;
  int32_t remaining = length;
  bool first_run = true;
  while (remaining > 0) {
    if (new_line) {
      StartNewLine(item_no, !st.ParaStart, st);
      st.X = 0;
      if ((flags & rvflDropWrapSpace) && !st.SpaceDropped && !st.ParaStart && remaining > 1 &&
          RVU_IsSpace(item_text, pos + 1, opts)) {
        ++pos;
        --remaining;
      }
      st.SpaceDropped = false;
    }
    const int32_t avail = std::max(st.LineWidth - st.X, 0);
    int32_t count = remaining;
    if (st.MaxLength > 0) count = std::max(0, std::min(count, st.MaxLength - st.CharsInLine));
    int32_t fit = (st.MaxLength > 0 && st.CharsInLine >= st.MaxLength) || count == 0
                      ? 0
                      : FitChars(display, unicode, pos, count, avail, st, item_no);
    if (fit == 0) {
      if (new_line || (first_run && prev_is_marker)) {
        fit = 1;
        if (unicode && remaining > 1) {
          const WideString w = RVU_RawUnicodeToWideString(item_text.substr(static_cast<size_t>(pos) * 2, 4));
          if (w.size() == 2 && w[0] >= 0xD800 && w[0] <= 0xDBFF && w[1] >= 0xDC00 && w[1] <= 0xDFFF) fit = 2;
        }
      } else {
        st.X = 0;
        st.ParaStart = false;
        new_line = true;
        first_run = false;
        continue;
      }
    }
    int32_t piece = fit;
    bool dropped = false;
    if (fit < remaining) {
      int32_t b = -1;
      const bool one_beyond = remaining == fit + 1;
      if (unicode) {
        const WideString w = RVU_RawUnicodeToWideString(item_text.substr(static_cast<size_t>(pos) * 2,
                                                                         static_cast<size_t>(remaining) * 2));
        b = RVU_FindLineBreak(w.c_str(), fit, one_beyond);
        if (b >= fit + 1) b = -1;
      } else {
        const int32_t upto = one_beyond ? fit : fit + 1;
        for (int32_t k = std::min(upto, remaining) - 1; k >= 0; --k)
          if (item_text[static_cast<size_t>(pos + k)] == ' ') {
            b = k;
            break;
          }
      }
      if (b < 0 && (flags & rvflDropWrapSpace) && RVU_IsSpace(item_text, pos + fit + 1, opts)) {
        const bool last_char = fit == remaining - 1;
        const bool next_starts_line = item_no + 1 >= ItemCount() || !GetItem(item_no + 1)->GetSameAsPrev();
        if (!(last_char && next_starts_line)) b = fit;
      }
      if (b >= 0) {
        if ((flags & rvflDropWrapSpace) && b > 0 && RVU_IsSpace(item_text, pos + b + 1, opts)) {
          piece = b;
          dropped = true;
        } else {
          piece = b + 1;
        }
      } else if (!new_line && !(prev_is_marker && first_run)) {
        st.X = 0;
        st.ParaStart = false;
        new_line = true;
        first_run = false;
        continue;
      }
    }
    // The rest fits, but the word at its end goes on in the next items: the word must fit
    // whole, else the line breaks before it (a word at a line start stays, as it would be
    // cut anyway).
    if (piece == remaining && start_offs + length == ItemLength(item_no) &&
        !Para(item_no)->Options.Contains(rvpaoNoWrap)) {
      const int32_t more = WordContinuationWidth(item_no, st);
      if (more > 0 && Measure(*st.Canvas, display, unicode, pos, remaining).cx + more > avail) {
        int32_t b = -1;
        for (int32_t k = remaining - 1; k >= 1 && b < 0; --k)
          if (unicode ? BreakAllowedBetween(ItemChar(item_no, pos + k - 1), ItemChar(item_no, pos + k))
                      : item_text[static_cast<size_t>(pos + k - 1)] == ' ')
            b = k - 1;
        if (b >= 0) {
          dropped = (flags & rvflDropWrapSpace) && b > 0 && RVU_IsSpace(item_text, pos + b + 1, opts);
          piece = dropped ? b : b + 1;
        } else if (!new_line && !(prev_is_marker && first_run)) {
          st.X = 0;
          st.ParaStart = false;
          new_line = true;
          first_run = false;
          continue;
        }
      }
    }
    const TSize sz = Measure(*st.Canvas, display, unicode, pos, piece);
    // A soft hyphen that ends the line gets its width when the next line starts.
    place(pos, piece, sz.cx, sz.cy);
    first_run = false;
    pos += piece + (dropped ? 1 : 0);
    remaining -= piece + (dropped ? 1 : 0);
    if (dropped) st.SpaceDropped = true;
    if (remaining > 0) {
      st.X = 0;
      st.ParaStart = false;
      new_line = true;
    }
  }
  if (start_offs == 0 && fi->Jump && remaining == 0) {
    item->JumpID = JumpCount;
    ++JumpCount;
  }
}

void TCustomRVFormattedData::FormatWords(int32_t item_no, TRVLineBuildState& st) {
  const AnsiString display = DisplayText(item_no, false);
  const AnsiString text = GetItemTextRaw(item_no);
  const int32_t len = ItemLength(item_no);
  TCustomRVItemInfo* item = GetItem(item_no);
  if (len == 0) {
    FormatItem(display, text, 0, 0, item_no, st);
    return;
  }
  const uint8_t opts = item->ItemOptions.ToBits();
  TFontInfo* fi = GetRVStyle()->TextStyles()->Items(GetActualStyle(item));
  int32_t done = 0;
  while (done < len) {
    int32_t end = done;
    if (RVU_IsSpace(display, end + 1, opts)) ++end;
    while (end < len && !RVU_IsSpace(display, end + 1, opts)) ++end;
    FormatItem(display, text, done, end - done, item_no, st);
    done = end;
  }
  // The whole item is one hyperlink: one id for all its words.
  if (fi->Jump && item->JumpID != JumpCount - 1) {
    item->JumpID = JumpCount;
    ++JumpCount;
  }
}

void TCustomRVFormattedData::FormatFullLineItem(int32_t item_no, TRVLineBuildState& st) {
  TCustomRVItemInfo* item = GetItem(item_no);
  TRVStyle* rvstyle = GetRVStyle();
  FinishPendingTab(st);
  int32_t extra = 0;
  FinishScreenLine(st, st.LineLeft + st.LineWidth, true, extra);
  st.Y += extra;
  st.LineExtra = 0;
  st.SkipFinish = true;
  if (item_no > 0) st.Below += RV_YToDevice(rvstyle->ParaStyles()->Items(GetItem(item_no - 1)->ParaNo)->SpaceAfter, st.SAD);
  st.Below += RV_YToDevice(Para(item_no)->SpaceBefore, st.SAD);
  auto d = std::make_unique<TRVDrawLineInfo>();
  d->ItemNo = item_no;
  d->FromNewLine = true;
  if (item->StyleNo == rvsBreak) {
    st.Below += RV_YToDevice(rvstyle->ParaStyles()->Items(0)->SpaceBefore, st.SAD);
    const int32_t h = RV_YToDevice(5, st.SAD);
    d->Left = st.SAD.LeftMargin;
    d->Top = st.Y + st.Below;
    d->Width = TextWidth;
    d->Height = 2 * h + 1;
    st.Y = d->Top + h + 1;
    st.Below = st.Above = h;
  } else {
    TCustomRVParaInfo* p = Para(item_no);
    const int32_t li = RV_XToDevice(p->LeftIndent, st.SAD), ri = RV_XToDevice(p->RightIndent, st.SAD);
    st.LineWidth = TextWidth - (li + ri);
    int32_t dx = 0, descent = 1;
    auto* nt = static_cast<TRVNonTextItemInfo*>(item);
    nt->AdjustToDocWidth(st.LineWidth, d.get(), (GetFlags() & rvflExactMeasure) != 0, st.Canvas, this, &st.SAD, dx,
                         descent, st.WidthFlag1, st.WidthFlag2);
    d->SetSize(RV_XToDevice(nt->GetWidth(), st.SAD), RV_YToDevice(nt->GetHeight(), st.SAD));
    d->Left = st.SAD.LeftMargin + li + dx;
    if (p->Alignment == rvaRight)
      d->Left += st.LineWidth - d->Width;
    else if (p->Alignment == rvaCenter)
      d->Left += std::max((st.LineWidth - d->Width) / 2, 0);
    d->Top = st.Y + st.Below;
    st.Y += st.Below + d->Height;
    st.Above = d->Height;
    st.Below = 0;
  }
  const int32_t index = st.DrawItemNo;
  InsertDrawItem(std::move(d), st);
  if (item->StyleNo != rvsBreak)
    item->BuildJumps(this, index, JumpCount, (GetFlags() & rvflJumps) ? &Jumps : nullptr);
  st.ParaStart = false;
  st.CharsInLine = 0;
  if (item->StyleNo != rvsBreak && item->GetBoolValue(4)) st.CurStyle = -1;
}

void TCustomRVFormattedData::PlaceRectItem(int32_t item_no, TRVLineBuildState& st) {
  TCustomRVItemInfo* item = GetItem(item_no);
  auto* ri = static_cast<TRVRectItemInfo*>(item);
  TRVStyle* rvstyle = GetRVStyle();
  TCustomRVParaInfo* p = Para(item_no);
  // Laid out for printing, a picture that may continue over pages gets a record of parts.
  std::unique_ptr<TRVDrawLineInfo> d = (GetFlags() & rvflPrintingDrawItems) && !dynamic_cast<TRVTabItemInfo*>(item)
                                           ? CreatePrintingDrawItem(ri, st.SAD)
                                           : std::make_unique<TRVDrawLineInfo>();
  d->ItemNo = item_no;
  int32_t dx = 0, descent = 1;
  const int32_t doc_width = TextWidth - RV_XToDevice(p->LeftIndent + p->RightIndent + p->FirstIndent, st.SAD);
  ri->AdjustToDocWidth(doc_width, d.get(), (GetFlags() & rvflExactMeasure) != 0, st.Canvas, this, &st.SAD, dx,
                       descent, st.WidthFlag1, st.WidthFlag2);
  if (int32_t w, h; ri->GetDrawItemSize(w, h)) d->SetSize(w, h);
  int32_t width, height;
  if (item->GetBoolValueEx(5, rvstyle)) {
    width = d->Width;
    height = d->Height;
  } else {
    width = RV_XToDevice(ri->GetWidth(), st.SAD);
    height = RV_YToDevice(ri->GetHeight(), st.SAD);
    descent = RV_YToDevice(descent, st.SAD);
  }
  auto* tab = dynamic_cast<TRVTabItemInfo*>(item);
  TRVTabAlign tab_align = rvtaLeft;
  int32_t tab_stop = 0;
  AnsiString leader;
  const TRVBiDiMode bidi = GetParaBiDiMode(item->ParaNo);
  if (tab) {
    FinishPendingTab(st);
    const int32_t ts = tab->GetActualTextStyleNo(rvstyle);
    TRVFontInfoCacheItem* ci = st.Cache->GetItem(ts);
    height = ci->TextMetric.tmHeight;
    descent = ci->TextMetric.tmDescent;
    st.CurStyle = -1;
    rvstyle->GetNextTab(item->ParaNo, st.X + st.LineLeft, st.SAD, tab_stop, leader, tab_align, bidi, st.TabLeft,
                        st.RightIndent);
    width = tab_stop - (st.X + st.LineLeft);
    if (st.LineWidth >= st.X + width) {
      if (tab_align == rvtaRight)
        width = 0;
      else if (tab_align == rvtaCenter)
        width = std::max(width - (st.LineLeft + st.LineWidth - tab_stop), 0);
    }
  }
  // The vertical shift: the associated text style's, as a percentage of the item's height.
  int32_t shift = 0;
  const int32_t assoc = item->GetAssociatedTextStyleNo();
  if (assoc >= 0 && !tab) shift = height * rvstyle->TextStyles()->Items(assoc)->VShift / 100;
  const uint8_t valign = ri->GetVAlign();
  const bool absolute = valign >= 2 && valign <= 4;
  const bool on_line = item->GetSameAsPrev() &&
                       ((st.LineWidth >= st.X + width && !(st.MaxLength > 0 && st.CharsInLine == st.MaxLength)) ||
                        p->Options.Contains(rvpaoNoWrap) ||
                        (item_no > 0 && GetItem(item_no - 1)->StyleNo == rvsListMarker));
  const int32_t ascent = absolute ? 0 : valign == 1 ? height / 2 : height - descent;
  if (on_line) {
    RaiseAscent(ascent + shift, st);
    d->Top = st.Y - ascent - shift;
    if (!absolute) st.Below = std::max(st.Below, height - ascent - shift);
  } else {
    st.ParaStart = !item->GetSameAsPrev();
    StartNewLine(item_no, item->GetSameAsPrev(), st);
    st.X = 0;
    st.Y += st.LineExtra;
    st.LineExtra = 0;
    d->Top = st.Y + st.Below;
    st.Above = ascent + shift;
    st.Y += st.Below + st.Above;
    st.Below = absolute ? 0 : height - st.Above;
    d->FromNewLine = true;
  }
  if (absolute) st.HasAbsAligned = true;
  d->Left = st.X + st.LineLeft + dx;
  d->Width = width;
  d->Height = height;
  d->Offs = d->Length = 0;
  st.X += width + dx;
  st.CharsInLine += 1;
  st.ParaStart = false;
  const int32_t index = st.DrawItemNo;
  InsertDrawItem(std::move(d), st);
  if (tab) {
    TRVDrawLineInfo* td = DrawLines[index];
    rvstyle->GetNextTab(item->ParaNo, td->Left, st.SAD, tab_stop, leader, tab_align, bidi, st.TabLeft,
                        st.RightIndent);
    tab->Leader = leader;
    int32_t w = tab_stop - td->Left;
    if (tab_align == rvtaRight || tab_align == rvtaCenter) {
      w = tab_align == rvtaRight ? 0 : std::max(w - (st.LineLeft + st.LineWidth - tab_stop), 0);
      st.PendingTab = index;
      st.TabAlign = tab_align;
      st.TabPos = tab_stop;
    }
    st.X += w - td->Width;
    td->Width = w;
  }
  if (item->GetBoolValueEx(1, rvstyle)) {
    if (GetFlags() & rvflJumps) AddJump(index, JumpCount, item->GetHypertextCursor(rvstyle));
    item->JumpID = JumpCount++;
  }
  if (item->GetBoolValue(4)) st.CurStyle = -1;
}

// ---- Finishing lines -------------------------------------------------------------------------------

void TCustomRVFormattedData::FinishPendingTab(TRVLineBuildState& st) {
  if (st.PendingTab < 0) return;
  TRVDrawLineInfo* s = DrawLines[st.PendingTab];
  TRVDrawLineInfo* last = DrawLines[st.DrawItemNo - 1];
  const int32_t r = last->Left + last->Width;
  const int32_t tab_pos = std::min(st.TabPos, st.LineLeft + st.LineWidth);
  int32_t m = 0;
  if (st.TabAlign == rvtaRight)
    m = tab_pos - r;
  else if (st.TabAlign == rvtaCenter)
    m = (2 * tab_pos - s->Left - s->Width - r) / 2;
  m = std::max(m, 0);
  s->Width += m;
  for (int32_t i = st.PendingTab + 1; i < st.DrawItemNo; ++i) DrawLines[i]->Left += m;
  st.X += m;
  st.PendingTab = -1;
}

void TCustomRVFormattedData::AlignAbsoluteItems(int32_t first, int32_t last, int32_t& growth) {
  auto valign = [&](int32_t i) -> uint8_t {
    auto* ri = dynamic_cast<TRVRectItemInfo*>(GetItem(DrawLines[i]->ItemNo));
    return ri ? ri->GetVAlign() : 0;
  };
  auto is_abs = [&](int32_t i) { return valign(i) >= 2 && valign(i) <= 4; };
  int32_t t0 = DrawLines[first]->Top, b0 = DrawLines[first]->Top;
  bool any = false;
  for (int32_t i = first; i <= last; ++i) {
    if (is_abs(i)) continue;
    TRVDrawLineInfo* d = DrawLines[i];
    t0 = any ? std::min(t0, d->Top) : d->Top;
    b0 = std::max(b0, d->Top + d->Height);
    any = true;
  }
  for (int32_t i = first; i <= last; ++i) {
    if (!is_abs(i)) continue;
    TRVDrawLineInfo* d = DrawLines[i];
    switch (valign(i)) {
      case 2: d->Top = t0; break;
      case 3: d->Top = b0 - d->Height; break;
      default: d->Top = (t0 + b0 - d->Height) / 2; break;
    }
  }
  int32_t t1 = INT32_MAX, b1 = INT32_MIN;
  for (int32_t i = first; i <= last; ++i) {
    t1 = std::min(t1, DrawLines[i]->Top);
    b1 = std::max(b1, DrawLines[i]->Top + DrawLines[i]->Height);
  }
  if (t1 < t0) {
    for (int32_t i = first; i <= last; ++i) DrawLines[i]->Top += t0 - t1;
    b1 += t0 - t1;
  }
  growth = std::max(b1 - b0, 0);
}

void TCustomRVFormattedData::FinishScreenLine(TRVLineBuildState& st, int32_t right_edge, bool is_para_end,
                                              int32_t& extra) {
  extra = 0;
  if (st.SkipFinish) {
    st.SkipFinish = false;
    return;
  }
  const int32_t count = st.DrawItemNo;
  if (count == 0) return;
  TRVDrawLineInfo* d = DrawLines[count - 1];
  if (IsFullLineItem(d->ItemNo)) return;
  int32_t first = count - 1;
  while (first > 0 && !DrawLines[first]->FromNewLine) --first;
  TCustomRVParaInfo* p = Para(d->ItemNo);
  const TRVBiDiMode b = GetParaBiDiMode(GetItem(d->ItemNo)->ParaNo);
  TRVAlignment a = p->Alignment;
  if (a == rvaJustify && b != rvbdUnspecified) a = rvaLeft;
  int32_t f = 0;
  if (!(a == rvaLeft || (a == rvaJustify && is_para_end))) {
    f = right_edge - (d->Left + d->Width);
    if (a == rvaCenter) f = std::max(f / 2, 0);
  }
  int32_t growth = 0;
  if (st.HasAbsAligned) AlignAbsoluteItems(first, count - 1, growth);
  int32_t l = 0;
  if (p->LineSpacingType == rvlsSpaceBetween) {
    l = p->LineSpacing >= 0 ? RV_YToDevice(p->LineSpacing, st.SAD) : 0;
  } else if (p->LineSpacing >= 50) {
    int32_t top = INT32_MAX, bottom = INT32_MIN;
    for (int32_t i = first; i < count; ++i) {
      TRVDrawLineInfo* di = DrawLines[i];
      if (GetItem(di->ItemNo)->StyleNo < 0) continue;
      top = std::min(top, di->Top);
      bottom = std::max(bottom, di->Top + di->Height);
    }
    if (top != INT32_MAX) l = (bottom - top) * (p->LineSpacing - 100) / 100;
  }
  if (l != 0)
    for (int32_t i = first; i < count; ++i) DrawLines[i]->ExtraSpaceBelow = l;
  extra = l + growth;
  if (a != rvaJustify || is_para_end) {
    if (f != 0)
      for (int32_t i = first; i < count; ++i) DrawLines[i]->Left += f;
  } else if (count - 1 > first) {
    int32_t last_tab = first;
    for (int32_t i = count - 1; i > first; --i)
      if (GetItem(DrawLines[i]->ItemNo)->StyleNo == rvsTab) {
        last_tab = i;
        break;
      }
    auto starts_with_space = [&](int32_t i) {
      TRVDrawLineInfo* di = DrawLines[i];
      return GetItem(di->ItemNo)->StyleNo >= 0 && di->Length > 0 &&
             RVU_IsSpace(GetItemTextRaw(di->ItemNo), di->Offs, GetItemOptions(di->ItemNo));
    };
    int32_t n = 0;
    for (int32_t i = count - 1; i > last_tab; --i)
      if (starts_with_space(i)) ++n;
    for (int32_t i = last_tab + 1; i < count; ++i) {
      TRVDrawLineInfo* di = DrawLines[i];
      if (n > 0 && starts_with_space(i)) {
        const int32_t t = f / n;
        di->SpaceBefore = t;
        di->Width += t;
        f -= t;
        --n;
      }
      if (!di->FromNewLine) di->Left = DrawLines[i - 1]->Left + DrawLines[i - 1]->Width;
    }
  }
  if (b != rvbdUnspecified) ReorderBiDiLine(first, count - 1, b, p);
}

void TCustomRVFormattedData::ReorderBiDiLine(int32_t first, int32_t last, TRVBiDiMode para_bidi,
                                             TCustomRVParaInfo* para) {
  TRVDrawLineInfo* d0 = DrawLines[first];
  TCustomRVItemInfo* item0 = GetItem(d0->ItemNo);
  if (para_bidi == rvbdRightToLeft && !item0->GetSameAsPrev() && (item0->StyleNo < 0 || d0->Offs <= 1)) {
    const int32_t fi = RV_XToDevice(para->FirstIndent, TRVScreenAndDevice());
    for (int32_t i = first; i <= last; ++i) DrawLines[i]->Left -= fi;
  }
  const int32_t n = last - first + 1;
  if (n <= 1) return;
  std::vector<int32_t> start_dir(static_cast<size_t>(n)), end_dir(static_cast<size_t>(n)), gap(static_cast<size_t>(n));
  const int32_t bdir = para_bidi == rvbdRightToLeft ? 2 : 1;
  for (int32_t k = 0; k < n; ++k) {
    TRVDrawLineInfo* d = DrawLines[first + k];
    TCustomRVItemInfo* item = GetItem(d->ItemNo);
    int32_t def = bdir;
    if (item->StyleNo >= 0) {
      TFontInfo* fi = GetRVStyle()->TextStyles()->Items(GetActualStyle(item));
      if (fi->BiDiMode != rvbdUnspecified) def = fi->BiDiMode == rvbdRightToLeft ? 2 : 1;
    }
    start_dir[static_cast<size_t>(k)] = end_dir[static_cast<size_t>(k)] = def;
    if (item->StyleNo >= 0 && d->Length > 0) {
      const AnsiString piece = DrawLines.GetSubString(first + k, this);
      WideString w = IsUnicodeItem(d->ItemNo)
                         ? RVU_RawUnicodeToWideString(piece)
                         : RVU_RawUnicodeToWideString(RVU_AnsiToUnicode(GetStyleCodePage(GetActualStyle(item)), piece));
      if (!w.empty()) {
        const int32_t s = CharDirection(w.front()), e = CharDirection(w.back());
        if (s) start_dir[static_cast<size_t>(k)] = s;
        if (e) end_dir[static_cast<size_t>(k)] = e;
      }
    }
    gap[static_cast<size_t>(k)] =
        k == 0 ? 0 : d->Left - DrawLines[first + k - 1]->Left - DrawLines[first + k - 1]->Width;
  }
  std::vector<int32_t> visual;
  int32_t ins = 0, prev_end = bdir;
  for (int32_t k = 0; k < n; ++k) {
    const int32_t boundary = start_dir[static_cast<size_t>(k)] == prev_end ? prev_end : bdir;
    if (boundary == 1) ins = std::min(ins + 1, static_cast<int32_t>(visual.size()));
    visual.insert(visual.begin() + ins, k);
    prev_end = end_dir[static_cast<size_t>(k)];
  }
  int32_t x = d0->Left;
  for (int32_t k : visual) {
    TRVDrawLineInfo* d = DrawLines[first + k];
    d->Left = x;
    x += d->Width + gap[static_cast<size_t>(k)];
  }
}

}  // namespace pelvar
