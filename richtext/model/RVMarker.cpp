#include "richtext/model/RVMarker.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"
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

}  // namespace pelvar

namespace pelvar {

// ---- The marker item -----------------------------------------------------------------------------

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

void RVRecalcDocumentMarkers(TCustomRVData* rvdata) {
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
  for (int32_t i = from_level; i > to_level; --i)
    if (i >= 0 && i <= last) levels->Items(i)->WriteHTMLCloseTag(stream);
  for (int32_t i = from_level + 1; i <= to_level; ++i)
    if (i >= 0 && i <= last) levels->Items(i)->WriteHTMLOpenTag(stream, use_css);
  if (from_level != to_level) RV_StreamWrite(stream, "\r\n");
}

}  // namespace pelvar
