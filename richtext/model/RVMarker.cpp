#include "richtext/model/RVMarker.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVFuncs.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVImageList.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

TRVListLevel* GetMarkerListLevel(TRVStyle* rvstyle, int32_t list_no, int32_t level) {
  if (!rvstyle || list_no < 0 || level < 0 || list_no >= rvstyle->ListStyles()->Count()) return nullptr;
  TRVListLevelCollection* levels = rvstyle->ListStyles()->Items(list_no)->Levels();
  if (levels->Count() == 0) return nullptr;
  return levels->Items(std::min(level, levels->Count() - 1));
}

int32_t GetIndexInList(TRVMarkerItemInfo* marker, const TRVMarkerList* list) {
  if (!list) return -1;
  const int32_t i = marker->IndexInList;
  if (i >= 0 && i < list->Count() && (*list)[i] == marker) return i;
  auto it = std::find(list->Items.begin(), list->Items.end(), marker);
  marker->IndexInList = it == list->Items.end() ? -1 : static_cast<int32_t>(it - list->Items.begin());
  return marker->IndexInList;
}

int32_t InsertMarker(TRVMarkerList& list, TRVMarkerItemInfo* marker, TRVMarkerItemInfo* prev_marker) {
  const int32_t at = prev_marker ? GetIndexInList(prev_marker, &list) + 1 : 0;
  list.Items.insert(list.Items.begin() + at, marker);
  marker->IndexInList = at;
  return at;
}

void RecalcCounters(TRVMarkerList& list, int32_t from_index, TRVStyle* rvstyle) {
  if (from_index < 0 || from_index >= list.Count() || list[from_index]->ListNo < 0) return;
  const int32_t list_no = list[from_index]->ListNo;
  for (int32_t k = from_index; k < list.Count(); ++k) {
    TRVMarkerItemInfo* m = list[k];
    if (m->ListNo != list_no) continue;
    TRVListLevel* lvl = GetLevelInfo(m, rvstyle);
    if (m->Reset) {
      m->Counter = m->StartFrom;
    } else {
      const int32_t start = lvl ? lvl->StartFrom : 1;
      const bool level_reset = lvl && lvl->Options.Contains(rvloLevelReset);
      m->Counter = start;
      for (int32_t j = k - 1; j >= 0; --j) {
        TRVMarkerItemInfo* p = list[j];
        if (p->ListNo != list_no) continue;
        if (p->Level == m->Level) {
          m->Counter = p->Counter + 1;
          break;
        }
        if (p->Level < m->Level) {
          if (level_reset) break;
        } else {
          m->Counter = start + 1;
        }
      }
    }
    RVUpdateDisplayString(list, k, rvstyle);
  }
}

bool FindPrevOuterMarker(const TRVMarkerList* list, int32_t index, TRVMarkerItemInfo* marker,
                         const TRVMarkerList*& found_list, int32_t& found_index) {
  if (!marker) marker = (*list)[index];
  for (int32_t i = index - 1;; --i) {
    while (i < 0) {
      list = list->PrevMarkerList;
      if (!list) {
        found_list = nullptr;
        found_index = -1;
        return false;
      }
      i = list->Count() - 1;
    }
    TRVMarkerItemInfo* p = (*list)[i];
    if (p->ListNo == marker->ListNo && p->Level < marker->Level) {
      found_list = list;
      found_index = i;
      return true;
    }
  }
}

AnsiString RVGetCounterText(int32_t n, TRVListType type) {
  switch (type) {
    case rvlstDecimal:
    case rvlstImageListCounter: return IntToStr(n);
    case rvlstLowerAlpha:
    case rvlstUpperAlpha: {
      AnsiString r;
      const char base = type == rvlstLowerAlpha ? 'a' : 'A';
      while (n > 0) {
        r.insert(r.begin(), static_cast<char>(base + (n - 1) % 26));
        n = (n - 1) / 26;
      }
      return r;
    }
    case rvlstLowerRoman:
    case rvlstUpperRoman: {
      if (n < 1) return "?";
      static const std::pair<int32_t, const char*> table[] = {{1000, "M"}, {900, "CM"}, {500, "D"}, {400, "CD"},
                                                              {100, "C"},  {90, "XC"},  {50, "L"},  {40, "XL"},
                                                              {10, "X"},   {9, "IX"},   {5, "V"},   {4, "IV"},
                                                              {1, "I"}};
      AnsiString r;
      for (const auto& [v, s] : table)
        while (n >= v) {
          r += s;
          n -= v;
        }
      if (type == rvlstLowerRoman)
        for (char& c : r) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      return r;
    }
    default: return AnsiString();
  }
}

namespace {

constexpr int32_t kMaxArgs = 256;

// The framework's Format restricted to string arguments: "%[index:][-][width][.prec]s" and
// "%%"; any other directive is kept as it stands.
AnsiString FormatArgs(const AnsiString& fmt, const std::array<AnsiString, kMaxArgs>& args) {
  AnsiString out;
  int32_t next = 0;
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] != '%') {
      out += fmt[i];
      continue;
    }
    if (i + 1 < fmt.size() && fmt[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    size_t j = i + 1;
    auto number = [&](int32_t& v) {
      bool any = false;
      v = 0;
      while (j < fmt.size() && std::isdigit(static_cast<unsigned char>(fmt[j]))) {
        v = std::min(v * 10 + (fmt[j++] - '0'), 100000);
        any = true;
      }
      return any;
    };
    int32_t v = 0, width = 0, prec = -1;
    bool left = false;
    if (number(v) && j < fmt.size() && fmt[j] == ':') {
      next = v;
      ++j;
      v = 0;
    } else {
      j = i + 1;
    }
    if (j < fmt.size() && fmt[j] == '-') left = true, ++j;
    number(width);
    if (j < fmt.size() && fmt[j] == '.') {
      ++j;
      number(prec);
    }
    if (j >= fmt.size() || std::tolower(static_cast<unsigned char>(fmt[j])) != 's') {
      out += fmt.substr(i, j - i);
      i = j - 1;
      continue;
    }
    AnsiString a = next >= 0 && next < kMaxArgs ? args[static_cast<size_t>(next)] : AnsiString();
    ++next;
    if (prec >= 0 && static_cast<int32_t>(a.size()) > prec) a.resize(static_cast<size_t>(prec));
    const AnsiString pad(static_cast<size_t>(std::max<int32_t>(0, width - static_cast<int32_t>(a.size()))), ' ');
    out += left ? a + pad : pad + a;
    i = j;
  }
  return out;
}

}  // namespace

AnsiString RVFormatLevelString(const AnsiString& format, const std::vector<AnsiString>& args) {
  std::array<AnsiString, kMaxArgs> a;
  for (size_t i = 0; i < args.size() && i < a.size(); ++i) a[i] = args[i];
  return FormatArgs(format, a);
}

AnsiString RVGetMarkerText(const TRVMarkerList& list, int32_t index, TRVStyle* rvstyle) {
  TRVMarkerItemInfo* m = list[index];
  TRVListLevel* lvl = GetLevelInfo(m, rvstyle);
  if (!lvl) return AnsiString();
  std::array<AnsiString, kMaxArgs> args;
  const bool legal = lvl->Options.Contains(rvloLegalStyleNumbering);
  int32_t cur = std::min(m->Level, kMaxArgs - 1);
  TRVMarkerItemInfo* cur_marker = m;
  const TRVMarkerList* cur_list = &list;
  int32_t cur_index = index;
  for (;;) {
    TRVListLevel* cl = GetLevelInfo(cur_marker, rvstyle);
    TRVListType type = cl ? cl->ListType : rvlstDecimal;
    if (cur < m->Level && legal && type >= rvlstLowerAlpha && type <= rvlstUpperRoman) type = rvlstDecimal;
    args[static_cast<size_t>(cur)] = RVGetCounterText(cur_marker->Counter, type);
    if (cur == 0) break;
    const TRVMarkerList* fl = nullptr;
    int32_t fi = -1;
    const bool found = FindPrevOuterMarker(cur_list, cur_index, cur_marker, fl, fi);
    const int32_t found_level = found ? std::min((*fl)[fi]->Level, kMaxArgs - 1) : -1;
    for (int32_t l = found_level + 1; l < cur; ++l) {
      TRVListLevel* ll = GetMarkerListLevel(rvstyle, m->ListNo, l);
      if (ll) args[static_cast<size_t>(l)] = RVGetCounterText(ll->StartFrom, ll->ListType);
    }
    if (!found) break;
    cur = found_level;
    cur_marker = (*fl)[fi];
    cur_list = fl;
    cur_index = fi;
  }
  return FormatArgs(lvl->FormatString, args);
}

void RVUpdateDisplayString(const TRVMarkerList& list, int32_t index, TRVStyle* rvstyle) {
  TRVMarkerItemInfo* m = list[index];
  TRVListLevel* lvl = GetLevelInfo(m, rvstyle);
  if (!lvl)
    m->DisplayString.clear();
  else if (lvl->ListType == rvlstBullet)
    m->DisplayString = lvl->FormatString;
  else if (RVIsNumberedType(lvl->ListType))
    m->DisplayString = RVGetMarkerText(list, index, rvstyle);
  else
    m->DisplayString.clear();
}

namespace {
void PutInt(TStream& s, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  const uint8_t b[4] = {static_cast<uint8_t>(u), static_cast<uint8_t>(u >> 8), static_cast<uint8_t>(u >> 16),
                        static_cast<uint8_t>(u >> 24)};
  s.WriteBuffer(b, 4);
}
int32_t GetInt(TStream& s) {
  uint8_t b[4];
  s.ReadBuffer(b, 4);
  return static_cast<int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24));
}
}  // namespace

void WriteMarkerList(const TRVMarkerList& list, TStream& stream, int32_t count, bool with_size) {
  count = std::clamp(count, 0, list.Count());
  if (with_size) PutInt(stream, 17 * count + 8);
  PutInt(stream, 0);
  PutInt(stream, count);
  for (int32_t i = 0; i < count; ++i) {
    TRVMarkerItemInfo* m = list[i];
    PutInt(stream, m->ListNo);
    PutInt(stream, m->Level);
    const uint8_t reset = m->Reset ? 1 : 0;
    stream.WriteBuffer(&reset, 1);
    PutInt(stream, m->StartFrom);
    PutInt(stream, m->Counter);
  }
}

void ReadMarkerList(TRVMarkerList& list, TStream& stream, TCustomRVData* rvdata, bool with_size,
                    std::vector<std::unique_ptr<TRVMarkerItemInfo>>& owned) {
  list.Items.clear();
  if (with_size) GetInt(stream);
  GetInt(stream);
  const int32_t count = GetInt(stream);
  if (count < 0 || static_cast<int64_t>(count) * 17 > stream.Size() - stream.Position())
    throw EDocViewError("Invalid marker list");
  for (int32_t i = 0; i < count; ++i) {
    auto m = std::make_unique<TRVMarkerItemInfo>(rvdata);
    m->StyleNo = rvsListMarker;
    m->ListNo = GetInt(stream);
    m->Level = GetInt(stream);
    uint8_t reset = 0;
    stream.ReadBuffer(&reset, 1);
    m->Reset = reset != 0;
    m->StartFrom = GetInt(stream);
    m->Counter = GetInt(stream);
    m->IndexInList = i;
    list.Items.push_back(m.get());
    owned.push_back(std::move(m));
  }
}

void WriteMarkerListHex(const TRVMarkerList& list, TStream& stream, int32_t count) {
  TMemoryStream record;
  WriteMarkerList(list, record, count, false);
  RVFWriteLine(stream, RVFStreamToHex(record));
}

void ReadMarkerListFromString(TRVMarkerList& list, const AnsiString& s, TCustomRVData* rvdata,
                              std::vector<std::unique_ptr<TRVMarkerItemInfo>>& owned) {
  TMemoryStream record;
  record.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
  record.SetPosition(0);
  if (record.Size() < 8) throw EDocViewError("Invalid marker list");
  ReadMarkerList(list, record, rvdata, false, owned);
}

void ReadMarkerListFromHex(TRVMarkerList& list, const AnsiString& hex, TCustomRVData* rvdata,
                           std::vector<std::unique_ptr<TRVMarkerItemInfo>>& owned) {
  TMemoryStream record;
  if (!RVFHexToStream(hex, record)) throw EDocViewError("Invalid marker list");
  const AnsiString bytes(reinterpret_cast<const char*>(record.Memory()), static_cast<size_t>(record.Size()));
  ReadMarkerListFromString(list, bytes, rvdata, owned);
}

}  // namespace pelvar

namespace pelvar {

// ---- The marker item -----------------------------------------------------------------------------

void TRVMarkerItemInfo::MarkStylesInUse(TRVDeleteUnusedStylesData& data) {
  TRVRectItemInfo::MarkStylesInUse(data);
  if (ListNo >= 0 && ListNo < data.UsedListStyles.Count()) data.UsedListStyles.SetItem(ListNo, 1);
}

void TRVMarkerItemInfo::UpdateStyles(const TRVDeleteUnusedStylesData& data) {
  TRVRectItemInfo::UpdateStyles(data);
  if (ListNo >= 0) ListNo = data.RenumberList(ListNo);
}

bool TRVMarkerItemInfo::GetBoolValue(int32_t ordinal) const {
  return ordinal == 4 || ordinal == 5 || TRVRectItemInfo::GetBoolValue(ordinal);
}

bool TRVMarkerItemInfo::GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const {
  if (ordinal == 0) {
    TRVListLevel* l = GetLevelInfo(this, rvstyle);
    if (!l) return false;
    return l->ListType == rvlstImageList || l->ListType == rvlstImageListCounter ||
           (l->ListType == rvlstPicture && l->HasPicture() && !dynamic_cast<TMetafile*>(l->Picture()));
  }
  if (ordinal == 5) return true;
  return TRVRectItemInfo::GetBoolValueEx(ordinal, rvstyle);
}

void TRVMarkerItemInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVMarkerItemInfo*>(source)) {
    ListNo = s->ListNo;
    Level = s->Level;
    StartFrom = s->StartFrom;
    Reset = s->Reset;
    NoHTMLImageSize = s->NoHTMLImageSize;
  }
  TRVRectItemInfo::Assign(source);
}

void TRVMarkerItemInfo::Measure(TCanvas* canvas, TCustomRVData* rvdata, const TRVScreenAndDevice* sad,
                                int32_t& before, int32_t& after, int32_t& height, int32_t& descent, int32_t& d) {
  before = after = height = descent = d = 0;
  TRVStyle* style = rvdata ? rvdata->GetRVStyle() : nullptr;
  TRVListLevel* l = ListNo >= 0 && Level >= 0 ? GetLevelInfo(this, style) : nullptr;
  if (!l) return;
  int32_t w = 0;
  auto* images = dynamic_cast<TCustomImageList*>(l->ImageList);
  const bool image_list_type = l->ListType == rvlstImageList || l->ListType == rvlstImageListCounter;
  if (l->ListType == rvlstPicture && l->HasPicture()) {
    w = l->Picture()->Width();
    height = l->Picture()->Height();
    if (sad) w = RV_XToDevice(w, *sad), height = RV_YToDevice(height, *sad);
  } else if (image_list_type && images) {
    w = images->Width();
    height = images->Height();
    if (sad) w = RV_XToDevice(w, *sad), height = RV_YToDevice(height, *sad);
  } else if (canvas && l->ListType != rvlstPicture && l->ListType != rvlstImageList &&
             l->ListType != rvlstImageListCounter) {
    TRVMarkerFont* f = l->Font();
    canvas->Font().Assign(*f);
    if (style && style->TextStyles()->PixelsPerInch > 0 && f->Size() > 0)
      canvas->Font().SetHeight(-static_cast<int32_t>(int64_t{f->Size()} * style->TextStyles()->PixelsPerInch / 72));
    const TSize ext = l->ListType == rvlstUnicodeBullet ? canvas->TextExtentW(l->FormatStringW)
                                                        : canvas->TextExtent(DisplayString);
    w = ext.cx;
    height = ext.cy;
    descent = canvas->GetTextMetrics().tmDescent;
  }
  switch (l->MarkerAlignment) {
    case rvmaLeft: after = w; break;
    case rvmaRight: before = w; break;
    case rvmaCenter:
      after = w / 2;
      before = w - after;
      break;
  }
  d = l->LeftIndent + l->FirstIndent - l->MarkerIndent;
  if (sad) d = RV_XToDevice(d, *sad);
}

int32_t TRVMarkerItemInfo::GetMinWidth(const TRVScreenAndDevice* sad, TCanvas* canvas, TCustomRVData* rvdata) {
  int32_t before, after, height, descent, d;
  Measure(canvas, rvdata, sad, before, after, height, descent, d);
  return std::max(after, d);
}

void TRVMarkerItemInfo::AdjustToDocWidth(int32_t, TRVDrawLineInfo*, bool printing, TCanvas* canvas,
                                         TCustomRVData* rvdata, const TRVScreenAndDevice* sad, int32_t& dx,
                                         int32_t& descent_out, bool, bool) {
  int32_t before, after, height, descent, d;
  Measure(canvas, rvdata, sad, before, after, height, descent, d);
  after = std::max(after, d);
  // Right to left the marker stands on the other side; the draw item is then drawn from
  // its SpaceBefore (left to the painter).
  dx = -before;
  draw_width_ = before + after;
  draw_height_ = height;
  descent_out = descent;
  if (!printing) {
    CachedWidth = draw_width_;
    CachedHeight = height;
    CachedDescent = descent;
    CachedHShift = dx;
  }
}

int32_t TRVMarkerItemInfo::GetImageWidth(TRVStyle* rvstyle) const {
  TRVListLevel* l = GetLevelInfo(this, rvstyle);
  if (!l) return 0;
  if (l->ListType == rvlstPicture && l->HasPicture()) return l->Picture()->Width();
  auto* images = dynamic_cast<TCustomImageList*>(l->ImageList);
  if (images && (l->ListType == rvlstImageList || l->ListType == rvlstImageListCounter)) return images->Width();
  return 0;
}

int32_t TRVMarkerItemInfo::GetImageHeight(TRVStyle* rvstyle) const {
  TRVListLevel* l = GetLevelInfo(this, rvstyle);
  if (!l) return 0;
  if (l->ListType == rvlstPicture && l->HasPicture()) return l->Picture()->Height();
  auto* images = dynamic_cast<TCustomImageList*>(l->ImageList);
  if (images && (l->ListType == rvlstImageList || l->ListType == rvlstImageListCounter)) return images->Height();
  return 0;
}

bool TRVMarkerItemInfo::GetDrawItemSize(int32_t& width, int32_t& height) const {
  width = draw_width_;
  height = draw_height_;
  return true;
}

void TRVMarkerItemInfo::Paint(int32_t x, int32_t y, TCanvas& canvas, uint32_t, TRVStyle* style, TRVDrawLineInfo*) {
  TRVListLevel* l = GetLevelInfo(this, style);
  if (!l) return;
  if (l->ListType == rvlstPicture) {
    if (l->HasPicture()) canvas.StretchDraw(TRect{x, y, x + l->Picture()->Width(), y + l->Picture()->Height()},
                                            l->Picture());
    return;
  }
  if (l->ListType == rvlstImageList || l->ListType == rvlstImageListCounter) {
    if (auto* images = dynamic_cast<TCustomImageList*>(l->ImageList)) {
      // A counter picks the image: the first number shows ImageIndex.
      const int64_t index = l->ListType == rvlstImageList ? l->ImageIndex : int64_t{l->ImageIndex} + Counter - 1;
      if (index >= 0 && index < images->Count()) images->Draw(canvas, x, y, static_cast<int32_t>(index));
    }
    return;
  }
  TRVMarkerFont* f = l->Font();
  canvas.Font().Assign(*f);
  if (style && style->TextStyles()->PixelsPerInch > 0 && f->Size() > 0)
    canvas.Font().SetHeight(-static_cast<int32_t>(int64_t{f->Size()} * style->TextStyles()->PixelsPerInch / 72));
  canvas.Brush().SetStyle(bsClear);
  if (l->ListType == rvlstUnicodeBullet)
    canvas.TextOutW(x, y, l->FormatStringW);
  else
    canvas.TextOut(x, y, DisplayString);
}

AnsiString TRVMarkerItemInfo::SaveRVFHeaderTail(TCustomRVData*) {
  return Format("%d %d %d %d", {ListNo, Level, StartFrom, Reset ? 1 : 0});
}

bool TRVMarkerItemInfo::ReadRVFHeaderTail(const char*& p, TCustomRVData*) {
  int32_t list_no, level, start_from, reset;
  if (!RVFReadInteger(p, list_no) || !RVFReadInteger(p, level) || !RVFReadInteger(p, start_from) ||
      !RVFReadInteger(p, reset))
    return false;
  ListNo = list_no;
  Level = level;
  StartFrom = start_from;
  Reset = reset != 0;
  return true;
}

// ---- The document's markers ----------------------------------------------------------------------

namespace {
// The documents whose renumbering is put off on this thread: how many batches hold each and
// whether a renumbering was asked for.
struct TDeferredRecalc {
  TCustomRVData* root;
  int32_t holders;
  bool pending;
};
thread_local std::vector<TDeferredRecalc> g_deferred;

TDeferredRecalc* FindDeferred(TCustomRVData* root) {
  for (auto& d : g_deferred)
    if (d.root == root) return &d;
  return nullptr;
}
}  // namespace

TRVMarkerRecalcBatch::TRVMarkerRecalcBatch(TCustomRVData* rvdata) : root_(rvdata->GetAbsoluteRootData()) {
  if (TDeferredRecalc* d = FindDeferred(root_))
    ++d->holders;
  else
    g_deferred.push_back({root_, 1, false});
}

TRVMarkerRecalcBatch::~TRVMarkerRecalcBatch() {
  TDeferredRecalc* d = FindDeferred(root_);
  if (!d || --d->holders > 0) return;
  const bool pending = d->pending;
  g_deferred.erase(g_deferred.begin() + (d - g_deferred.data()));
  if (pending) {
    try {
      RVRecalcDocumentMarkers(root_);
    } catch (...) {
      // A destructor raises nothing; the counters stay as they were.
    }
  }
}

void RVRecalcDocumentMarkers(TCustomRVData* rvdata) {
  if (!g_deferred.empty()) {
    if (TDeferredRecalc* d = FindDeferred(rvdata->GetAbsoluteRootData())) {
      d->pending = true;
      return;
    }
  }
  auto* markers = rvdata->GetMarkers(false);
  if (!markers) return;
  TRVMarkerList list;
  list.Items = *markers;
  TRVStyle* style = rvdata->GetRVStyle();
  std::vector<int32_t> done;
  for (int32_t i = 0; i < list.Count(); ++i) {
    list[i]->IndexInList = i;
    const int32_t l = list[i]->ListNo;
    if (l < 0 || std::find(done.begin(), done.end(), l) != done.end()) continue;
    done.push_back(l);
    RecalcCounters(list, i, style);
  }
}

}  // namespace pelvar

namespace pelvar {

AnsiString TRVMarkerItemInfo::AsText(int32_t, TCustomRVData* rvdata, const AnsiString&, const AnsiString&, bool,
                                     bool unicode) {
  TRVListLevel* l = GetLevelInfo(this, rvdata ? rvdata->GetRVStyle() : nullptr);
  if (!l) return AnsiString();
  const uint32_t cp = rvdata ? rvdata->GetDefaultCodePage() : 0;
  auto out = [&](const AnsiString& ansi) { return unicode ? RVU_AnsiToUnicode(cp, ansi) : ansi; };
  switch (l->ListType) {
    case rvlstPicture:
    case rvlstImageList:
    case rvlstImageListCounter: return out("* ");
    case rvlstUnicodeBullet: {
      const WideString w = l->FormatStringW + u" ";
      if (unicode) return RVU_WideStringToRawUnicode(w);
      // Characters the code page lacks become "*", not "?".
      AnsiString a = RVU_UnicodeToAnsi(cp, RVU_WideStringToRawUnicode(w));
      for (size_t i = 0; i < a.size() && i < w.size(); ++i)
        if (a[i] == '?' && w[i] != u'?') a[i] = '*';
      return a;
    }
    default: {
      AnsiString s = DisplayString;
      if (l->HasFontObject() && AnsiCompareText(l->Font()->Name(), "Symbol") == 0) {
        for (char& c : s) {
          const uint8_t b = static_cast<uint8_t>(c);
          if ((b >= 0xA7 && b <= 0xAA) || b == 0xB7 || b == 0xD7 || b == 0xE0) c = '*';
        }
        RV_ReplaceAll(s, "\xDB", "<=>");
        RV_ReplaceAll(s, "\xDC", "<=");
        RV_ReplaceAll(s, "\xDE", "=>");
        RV_ReplaceAll(s, "\xAB", "<->");
        RV_ReplaceAll(s, "\xAC", "<-");
        RV_ReplaceAll(s, "\xAE", "->");
      }
      return out(s + " ");
    }
  }
}

void WriteHTMLListTags(TStream& stream, TRVListInfo* list, int32_t from_level, int32_t to_level, bool use_css) {
  TRVListLevelCollection* levels = list->Levels();
  const int32_t last = levels->Count() - 1;
  // Levels beyond the last one have no tags of their own (and are not counted through).
  const int32_t from = std::clamp(from_level, -1, last), to = std::clamp(to_level, -1, last);
  for (int32_t i = from; i > to; --i)
    if (i >= 0) levels->Items(i)->WriteHTMLCloseTag(stream);
  for (int32_t i = from + 1; i <= to; ++i)
    if (i >= 0) levels->Items(i)->WriteHTMLOpenTag(stream, use_css);
  if (from_level != to_level) RV_StreamWrite(stream, "\r\n");
}

}  // namespace pelvar

namespace pelvar {

namespace {
bool TagsAreStrings(TCustomRVData* d) { return d && d->GetOptions().Contains(rvoTagsArePChars); }

// The Unicode code point a Wingdings character stands for.
int32_t WingdingsCodePoint(uint8_t c) {
  if (c >= 128 && c <= 138) return c - 80;
  if (c >= 139 && c <= 149) return c - 91;
  if ((c >= 111 && c <= 114) || (c >= 120 && c <= 122) || c == 127 || c == 168 || c >= 253) return 9633;
  if ((c >= 161 && c <= 163) || c == 166 || c == 109) return 9675;
  if (c == 164 || c == 165 || (c >= 183 && c <= 194)) return 9678;
  if (c >= 169 && c <= 182) return 9733;
  switch (c) {
    case 40: return 9742;
    case 69: return 9756;
    case 70: return 9758;
    case 74: return 9786;
    case 82: return 9788;
    case 92: return 2384;
    case 107: return 38;
    case 108: return 9679;
    case 110: return 9632;
    case 115: case 116: case 119: return 9830;
    case 117: case 118: return 9670;
    case 158: return 183;
    case 160: case 167: return 9642;
    case 213: case 215: case 219: case 223: case 231: case 239: return 9668;
    case 214: case 216: case 220: case 224: case 232: case 240: return 9658;
    case 217: case 221: case 225: case 233: case 241: return 9650;
    case 218: case 222: case 226: case 234: case 242: return 9660;
    case 249: case 250: return 9643;
    default: return 8226;
  }
}
}  // namespace

int32_t RVMarkerImageIndex(const TRVMarkerItemInfo* marker, const TRVListLevel* level) {
  if (level->ListType != rvlstImageListCounter) return level->ImageIndex;
  const int64_t index = int64_t{level->ImageIndex} + marker->Counter - 1;
  return index < 0 || index > INT32_MAX ? -1 : static_cast<int32_t>(index);
}

AnsiString RVMarkerImageLocation(TRVMarkerItemInfo* marker, TRVListLevel* level, TCustomRVData* rvdata,
                                 int32_t item_no, const AnsiString& path, const AnsiString& images_prefix,
                                 int32_t& image_save_no, TColor color, uint32_t save_options) {
  auto* images = dynamic_cast<TCustomImageList*>(level->ImageList);
  const bool image_list = level->ListType == rvlstImageList || level->ListType == rvlstImageListCounter;
  const int32_t index = image_list ? RVMarkerImageIndex(marker, level) : 0;
  const bool has_image = image_list ? images && index >= 0 && index < images->Count()
                                    : level->ListType == rvlstPicture && level->HasPicture();
  if (!has_image || !rvdata) return AnsiString();
  AnsiString location;
  bool do_default = true;
  rvdata->DoHTMLSaveImage(rvdata, item_no, path, color, location, do_default);
  if (!do_default) return location;
  TRVHTMLBulletList own;
  TRVHTMLBulletList* bullets = rvdata->GetAbsoluteRootData()->HTMLBullets;
  if (!bullets) bullets = &own;
  if (image_list) {
    HTMLBulletLocation(images, index, nullptr, *bullets, save_options, color, image_save_no, images_prefix, path,
                       rvdata, location);
    return location;
  }
  TGraphic* graphic = level->Picture();
  if (!dynamic_cast<TRVEncodedGraphic*>(graphic)) {
    HTMLBulletLocation(nullptr, 0, graphic, *bullets, save_options, color, image_save_no, images_prefix, path, rvdata,
                       location);
    return location;
  }
  // JPEG, PNG and metafile pictures have no painter here: redrawn on the colour they would
  // come out as placeholders, so they go out as they are (once per export all the same).
  for (const TRVHTMLBulletInfo& b : bullets->Items)
    if (!b.ImageList && b.Graphic == graphic && b.BackColor == color) return b.FileName;
  location = RV_GetHTMLPath(rvdata->SavePicture(rvsfHTML, images_prefix, path, image_save_no,
                                                (save_options & 1) != 0, color, graphic),
                            save_options, 0);
  bullets->Items.push_back({location, nullptr, 0, color, graphic});
  return location;
}

int32_t TRVMarkerItemInfo::GetRVFExtraPropertyCount() const {
  return TRVRectItemInfo::GetRVFExtraPropertyCount() + (NoHTMLImageSize ? 1 : 0);
}

void TRVMarkerItemInfo::SaveRVFExtraProperties(TStream& stream) {
  TRVRectItemInfo::SaveRVFExtraProperties(stream);
  if (NoHTMLImageSize) RVFWriteExtraIntProperty(stream, 12, 1);
}

bool TRVMarkerItemInfo::SetExtraIntProperty(int32_t index, int32_t value) {
  if (index == 12) return NoHTMLImageSize = value != 0, true;
  return TRVRectItemInfo::SetExtraIntProperty(index, value);
}

bool TRVMarkerItemInfo::GetExtraIntProperty(int32_t index, int32_t& value) const {
  if (index == 12) return value = NoHTMLImageSize ? 1 : 0, true;
  return TRVRectItemInfo::GetExtraIntProperty(index, value);
}

void TRVMarkerItemInfo::SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t, int32_t para_no, const AnsiString&,
                                int32_t, bool) {
  RVFWriteItemHeader(stream, StyleNo, GetRVFExtraPropertyCount(), RVFSaveParaNo(para_no, rvdata, false),
                     ItemOptions.ToBits() & 0x0F, 0, RVFSaveTag(TagsAreStrings(rvdata), Tag),
                     SaveRVFHeaderTail(rvdata));
  SaveRVFExtraProperties(stream);
}

void TRVMarkerItemInfo::SaveRTF(TStream& stream, TCustomRVData* rvdata, int32_t, const AnsiString&, double twips,
                                int32_t, TRVColorList&) {
  TRVStyle* st = rvdata ? rvdata->GetRVStyle() : nullptr;
  TRVListLevel* l = GetLevelInfo(this, st);
  const TRVRTFSaveTables* t = RVCurrentRTFTables();
  if (!l || !t) return;
  const uint8_t rtf_options = rvdata->GetRTFOptions().ToBits();
  switch (l->ListType) {
    case rvlstPicture:
      if (l->HasPicture()) RVSaveImageToRTF(stream, l->Picture(), 0, 0, rtf_options, twips);
      return;
    case rvlstImageList:
    case rvlstImageListCounter:
      RTFImageListImage(stream, dynamic_cast<TCustomImageList*>(l->ImageList), RVMarkerImageIndex(this, l), rtf_options);
      return;
    default: break;
  }
  AnsiString s = "{\\listtext\\pard\\plain" + RVRTFLevelFontProps(*t, l) + " ";
  RV_StreamWrite(stream, s);
  if (l->ListType == rvlstUnicodeBullet)
    RV_WriteUnicodeRTFStr(stream, RVU_WideStringToRawUnicode(l->FormatStringW), st->DefCodePage, true, false);
  else
    RV_StreamWrite(stream, RV_MakeRTFStr(DisplayString, false, true));
  const int32_t ls = RVRTFOverrideNumber(*t, ListNo, RVRTFMarkerHasOwnOverride(this, st));
  RV_StreamWrite(stream, Format("\\tab}\\ls%d\\ilvl%d ", {ls, std::clamp(Level, 0, 8)}));
}

void TRVMarkerItemInfo::SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t item_no, const AnsiString&,
                                   const AnsiString& path, const AnsiString& images_prefix, int32_t& image_save_no,
                                   TColor color, uint32_t save_options, bool use_css) {
  // Inline only when markers are written as text; otherwise the list structure shows them.
  if (!(save_options & rvsoMarkersAsText) || !rvdata) return;
  TRVStyle* st = rvdata->GetRVStyle();
  TRVListLevel* l = GetLevelInfo(this, st);
  if (!l) return;
  const AnsiString empty_end = RV_HTMLEmptyTagEnd(save_options);
  switch (l->ListType) {
    case rvlstPicture:
    case rvlstImageList:
    case rvlstImageListCounter: {
      const AnsiString location =
          RVMarkerImageLocation(this, l, rvdata, item_no, path, images_prefix, image_save_no, color, save_options);
      if (location.empty()) return;
      int32_t w = 0, h = 0;
      if (l->ListType == rvlstPicture) {
        w = l->Picture()->Width(), h = l->Picture()->Height();
      } else if (auto* images = dynamic_cast<TCustomImageList*>(l->ImageList)) {
        w = images->Width(), h = images->Height();
      }
      AnsiString size = (save_options & rvsoNoHypertextImageBorders) ? " border=0 " : " ";
      if ((save_options & rvsoImageSizes) && !NoHTMLImageSize) size += Format("width=%d height=%d ", {w, h});
      const AnsiString img = "<img" + size + "src=\"" + RV_HTMLEscapeAttrText(location) + "\"" + empty_end + ">";
      // An image-list marker in CSS output takes the room of the marker's text.
      if (l->ListType != rvlstPicture && use_css && l->MarkerIndent >= l->LeftIndent)
        RV_StreamWrite(stream, Format("<span style=\"width:%dpx\">", {l->LeftIndent + l->FirstIndent - l->MarkerIndent}) +
                                   img + "</span>\r\n");
      else
        RV_StreamWrite(stream, img + "\r\n");
      return;
    }
    default: break;
  }
  TRVMarkerFont* font = l->Font();
  const bool symbol = l->ListType != rvlstUnicodeBullet &&
                      (AnsiCompareText(font->Name(), "Symbol") == 0 || AnsiCompareText(font->Name(), "Wingdings") == 0);
  TFontInfo* f0 = st->TextStyles()->Items(0);
  if (use_css) {
    AnsiString css = RV_GetMarkerFontCSS(*font, !symbol);
    if (save_options & rvsoUTF8) css = RVU_AnsiToUTF8(st->DefCodePage, css);
    AnsiString open = "<span style=\"" + css;
    if (l->MarkerIndent >= l->LeftIndent)
      open += Format(" width: %dpx;", {l->LeftIndent + l->FirstIndent - l->MarkerIndent});
    RV_StreamWrite(stream, open + "\">");
  } else {
    RV_StreamWrite(stream, RV_HTMLOpenMarkerFontTag(*font, *f0, !symbol, save_options));
  }
  AnsiString text;
  if (l->ListType == rvlstUnicodeBullet) {
    const std::string raw = RVU_WideStringToRawUnicode(l->FormatStringW);
    text = (save_options & rvsoUTF8) ? Utf16ToUtf8(l->FormatStringW) : RVU_UnicodeToAnsi(st->DefCodePage, raw);
    text = RV_MakeHTMLStr(text, false);
  } else if (AnsiCompareText(font->Name(), "Symbol") == 0) {
    text = RV_SymbolToHTML(DisplayString);
  } else if (AnsiCompareText(font->Name(), "Wingdings") == 0) {
    for (char c : DisplayString) text += Format("&#%d;", {WingdingsCodePoint(static_cast<uint8_t>(c))});
  } else {
    text = RV_MakeHTMLStr(DisplayString, false);
    if (save_options & rvsoUTF8) text = RVU_AnsiToUTF8(st->DefCodePage, text);
  }
  RV_StreamWrite(stream, text);
  if (use_css)
    RV_StreamWrite(stream, "</span>\r\n");
  else
    RV_StreamWrite(stream, RV_HTMLCloseMarkerFontTag(*font, *f0, !symbol) + "\r\n");
}

}  // namespace pelvar
