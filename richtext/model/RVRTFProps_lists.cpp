// RTF import of lists: list markers before the first item of list paragraphs, list styles
// found or added for the RTF list table (paragraphs naming a list override) and for the
// older paragraph numbering (marker descriptions of levels 1 to 11), and the indents of new
// list levels taken from the paragraphs that use them.
#include <algorithm>

#include "platform/sysutils.h"
#include "richtext/model/RVMarker.h"
#include "richtext/model/RVRTFProps.h"
#include "richtext/model/RVStyle_list.h"

namespace pelvar {

namespace {

TRVListType ListTypeOf(uint8_t rtf_type) {
  switch (rtf_type) {
    case 2: return rvlstLowerAlpha;
    case 3: return rvlstUpperAlpha;
    case 4: return rvlstLowerRoman;
    case 5: return rvlstUpperRoman;
    case 6: return rvlstBullet;
    default: return rvlstDecimal;
  }
}

TRVMarkerAlignment AlignmentOf(uint8_t rtf_alignment) {
  return rtf_alignment == 1 ? rvmaRight : (rtf_alignment == 2 ? rvmaCenter : rvmaLeft);
}

TFontStyles StyleOf(uint8_t rtf) {
  TFontStyles s;
  if (rtf & rtf_fs_Bold) s.Include(fsBold);
  if (rtf & rtf_fs_Italic) s.Include(fsItalic);
  if (rtf & rtf_fs_Underline) s.Include(fsUnderline);
  if (rtf & rtf_fs_StrikeOut) s.Include(fsStrikeOut);
  return s;
}

// Text for a format string: '%' doubled so that it shows as itself.
AnsiString FormatSafe(const AnsiString& s) {
  AnsiString r;
  for (char c : s) {
    r += c;
    if (c == '%') r += '%';
  }
  return r;
}

// The two forms of a level's format string from its level text (length character first):
// placeholders (codes below 10) as "%s" for code 0 and "%n:s" for code n, or all as "%n:s".
void FormatStrings(const AnsiString& text, AnsiString& first, AnsiString& second) {
  first.clear();
  second.clear();
  bool any_before = false;
  for (size_t i = 1; i < text.size(); ++i) {
    const uint8_t c = static_cast<uint8_t>(text[i]);
    if (c < 10) {
      const AnsiString indexed = Format("%%%d:s", {static_cast<int32_t>(c)});
      // "%s" takes the next argument: it names level 0 only before any other placeholder.
      first += c == 0 && !any_before ? AnsiString("%s") : indexed;
      second += indexed;
      any_before = true;
    } else {
      first += FormatSafe(AnsiString(1, static_cast<char>(c)));
      second += FormatSafe(AnsiString(1, static_cast<char>(c)));
    }
  }
}

// The list-level values an RTF list level gives.
struct LevelWanted {
  TRVListType type = rvlstDecimal;
  int32_t start = 1;
  TRVMarkerAlignment alignment = rvmaLeft;
  int32_t left = 0, marker = 0, first = 0;
  bool reset = true, legal = false;
  TFontStyles style;
  TColor color = clWindowText;
  int32_t size = 12;
  AnsiString font;
  TFontCharset charset = DEFAULT_CHARSET;
  AnsiString format1, format2;
  WideString format_w;
};

bool SameLevel(TRVListLevel* l, const LevelWanted& w) {
  if (l->ListType != w.type || l->StartFrom != w.start || l->MarkerAlignment != w.alignment ||
      l->LeftIndent != w.left || l->MarkerIndent != w.marker || l->FirstIndent != w.first ||
      l->Options.Contains(rvloLevelReset) != w.reset || l->Options.Contains(rvloLegalStyleNumbering) != w.legal)
    return false;
  TRVMarkerFont* f = l->Font();
  if (f->Style() != w.style || f->Color() != w.color || f->Size() != w.size || !AnsiSameText(f->Name(), w.font))
    return false;
  if (w.type == rvlstBullet || RVIsNumberedType(w.type))
    return l->FormatString == w.format1 || l->FormatString == w.format2;
  if (w.type == rvlstUnicodeBullet) return l->FormatStringW == w.format_w;
  return true;
}

void SetLevel(TRVListLevel* l, const LevelWanted& w) {
  l->ListType = w.type;
  l->StartFrom = w.start;
  l->MarkerAlignment = w.alignment;
  l->LeftIndent = w.left;
  l->MarkerIndent = w.marker;
  l->FirstIndent = w.first;
  l->Options.Set(rvloLevelReset, w.reset);
  l->Options.Set(rvloLegalStyleNumbering, w.legal);
  TRVMarkerFont* f = l->Font();
  f->SetStyle(w.style);
  f->SetColor(w.color);
  f->SetSize(w.size);
  if (!w.font.empty()) f->SetName(w.font);
  f->SetCharset(w.charset);
  l->FormatString = w.format2;
  l->FormatStringW = w.format_w;
}

}  // namespace

void TRVRTFReaderProperties::BuildListStyles() {
  if (lists_built_) return;
  lists_built_ = true;
  TRVListInfos* styles = style_->ListStyles();
  lists_before_ = styles->Count();
  const TRVRTFListTable97& table = reader_->ListTable();
  const TRVRTFFontList& fonts = reader_->FontTable();
  std::vector<bool> taken(static_cast<size_t>(styles->Count()), false);
  list_map_.assign(static_cast<size_t>(table.Count()), -1);
  for (int32_t i = 0; i < table.Count(); ++i) {
    const TRVRTFList97& list = *table.Items(i);
    std::vector<LevelWanted> wanted;
    for (int32_t l = 0; l < list.Count(); ++l) {
      const TRVRTFListLevel97& rl = *list.Items(l);
      LevelWanted w;
      w.type = ListTypeOf(rl.ListType);
      w.start = rl.Start;
      w.alignment = AlignmentOf(rl.Alignment);
      w.left = Px(rl.LeftIndent);
      w.marker = Px(rl.LeftIndent + rl.FirstIndent);
      // A level without a tab position puts its text at the left indent.
      w.first = rl.TabPos > 0 ? Px(rl.TabPos) - w.left : 0;
      w.reset = !rl.NoRestart;
      w.legal = rl.Legal;
      w.style = StyleOf(rl.FontStyle);
      w.color = rl.Color;
      w.size = rl.FontSize;
      // The font of a level: its own, else the first font; a document without a font table
      // cannot have lists (the import ends with an error).
      const int32_t fi = rl.FontIndex >= 0 ? rl.FontIndex : 0;
      if (fi >= fonts.Count()) throw EDocViewError("RTF list level without a font table");
      w.font = fonts.Items(fi)->Name;
      w.charset = fonts.Items(fi)->Charset;
      if (w.type == rvlstBullet && !rl.TextW.empty()) {
        WideString t = rl.TextW.size() > 1 ? rl.TextW.substr(1) : WideString();
        const bool symbol = AnsiSameText(w.font, "Symbol"), wingdings = AnsiSameText(w.font, "Wingdings");
        if (t.size() == 1 && ((symbol && t[0] >= 0xF0A1 && t[0] <= 0xF0FE) ||
                              (wingdings && t[0] >= 0xF021 && t[0] <= 0xF0FF))) {
          w.format1 = w.format2 = AnsiString(1, static_cast<char>(t[0] - 0xF000));
        } else {
          w.type = rvlstUnicodeBullet;
          w.format_w = t;
        }
      } else if (w.type == rvlstBullet) {
        w.format1 = w.format2 = rl.Text.size() > 1 ? rl.Text.substr(1) : AnsiString();
      } else {
        FormatStrings(rl.Text, w.format1, w.format2);
      }
      wanted.push_back(std::move(w));
    }
    int32_t found = -1;
    for (int32_t s = 0; s < static_cast<int32_t>(taken.size()) && found < 0; ++s) {
      if (taken[static_cast<size_t>(s)]) continue;
      TRVListLevelCollection* levels = styles->Items(s)->Levels();
      // Levels beyond a style's last one are its last level (as markers take them), so a
      // style matches the nine levels written for it, the last ones repeated.
      if (levels->Count() == 0) continue;
      bool same = true;
      for (int32_t l = 0; l < static_cast<int32_t>(wanted.size()) && same; ++l)
        same = SameLevel(levels->Items(std::min(l, levels->Count() - 1)), wanted[static_cast<size_t>(l)]);
      if (same) found = s;
    }
    if (found >= 0) {
      taken[static_cast<size_t>(found)] = true;
    } else {
      TRVListInfo* li = styles->Add();
      li->Standard = false;
      for (const LevelWanted& w : wanted) SetLevel(li->Levels()->Add(), w);
      found = styles->Count() - 1;
    }
    list_map_[static_cast<size_t>(i)] = found;
  }
}

void TRVRTFReaderProperties::InsertMarkerIfNeeded() {
  if (ParaStyleMode != rvrsAddIfNeeded || moving_out_) return;
  const TRVRTFParaProperties& pp = reader_->GroupState().ParaProps;
  const TRVRTFMarkerProperties* old = pp.MarkerOrNull();
  std::unique_ptr<TRVMarkerItemInfo> marker;
  bool new_style = false;
  if (!old || old->Level <= 0) old_levels_.clear();
  if (old && old->Level > 0) {
    if (old_levels_.empty()) old_levels_.assign(11, -1);
    const int32_t l = std::clamp(old->Level, 1, 11);
    marker = std::make_unique<TRVMarkerItemInfo>(current_);
    marker->ListNo = -1;
    marker->Level = -1;
    marker->StartFrom = old->Start;
    marker->Reset = old_levels_[static_cast<size_t>(l - 1)] < 0;
  } else if (pp.ListOverrideIndex >= 0) {
    BuildListStyles();
    const TRVRTFListOverride97& o = *reader_->ListOverrideTable().Items(pp.ListOverrideIndex);
    if (o.ListIndex < 0 || o.ListIndex >= static_cast<int32_t>(list_map_.size()))
      throw EDocViewError("RTF list override names a missing list");
    marker = std::make_unique<TRVMarkerItemInfo>(current_);
    marker->ListNo = list_map_[static_cast<size_t>(o.ListIndex)];
    marker->Level = std::clamp(pp.ListLevel, 0, 8);  // RTF lists have nine levels
    if (pp.ListLevel >= 0 && pp.ListLevel < o.Count()) {
      marker->StartFrom = o.Items(pp.ListLevel)->Start;
      marker->Reset = o.Items(pp.ListLevel)->UseStart;
    } else {
      marker->StartFrom = 1;
      marker->Reset = false;
    }
    new_style = true;
  } else {
    return;
  }
  marker->StyleNo = rvsListMarker;
  marker->ParaNo = CurrentParaStyle();
  marker->BeforeLoading(rvlfRTF);
  TRVMarkerItemInfo* raw = marker.get();
  AnsiString empty;
  InsertItem(empty, marker.release(), rtf_ts_NewPara);
  last_marker_ = raw;
  last_marker_new_ = new_style;
}

int32_t TRVRTFReaderProperties::FindOrAddOldStyleList(const TRVRTFMarkerProperties& m) {
  const int32_t lvl = std::clamp(m.Level, 1, 11);
  if (old_levels_.empty()) old_levels_.assign(11, -1);
  const TRVRTFFontList& fonts = reader_->FontTable();
  const int32_t fi = m.FontIndex >= 0 ? m.FontIndex : 0;
  if (fi >= fonts.Count()) throw EDocViewError("RTF numbering without a font table");
  if (lvl < 11 && old_levels_[static_cast<size_t>(lvl - 1)] >= 0) return old_levels_[static_cast<size_t>(lvl - 1)];
  const TRVRTFParaProperties& pp = reader_->GroupState().ParaProps;
  LevelWanted w;
  if (lvl == 11 || (lvl == 10 && m.ListType == 0)) {
    w.type = rvlstBullet;
    w.format1 = w.format2 = m.TextBefore;
  } else {
    w.type = m.ListType >= 1 && m.ListType <= 5 ? ListTypeOf(m.ListType) : rvlstDecimal;
    w.format1 = FormatSafe(m.TextBefore) + "%s" + FormatSafe(m.TextAfter);
    w.format2 = FormatSafe(m.TextBefore) + "%0:s" + FormatSafe(m.TextAfter);
  }
  const int32_t left = Px(pp.LeftIndent), first = Px(pp.FirstIndent), indent = Px(m.Indent), space = Px(m.Space);
  w.alignment = lvl == 11 ? rvmaLeft : AlignmentOf(m.Alignment);
  w.left = left;
  w.first = m.Hanging ? std::max(space, first + indent) : std::max(0, std::max(indent, space) + first);
  switch (w.alignment) {
    case rvmaRight: w.marker = w.first + left; break;
    case rvmaCenter: w.marker = (left + first + w.first + left) / 2; break;
    default: w.marker = left + first; break;
  }
  w.start = m.Start;
  w.size = m.FontSize;
  w.style = StyleOf(m.FontStyle);
  w.color = m.Color;
  w.font = fonts.Items(fi)->Name;
  w.charset = fonts.Items(fi)->Charset;
  TRVListInfos* styles = style_->ListStyles();
  int32_t found = -1;
  for (int32_t s = 0; s < styles->Count() && found < 0; ++s) {
    TRVListLevelCollection* levels = styles->Items(s)->Levels();
    if (levels->Count() == 0) continue;
    TRVListLevel* l = levels->Items(0);
    TRVMarkerFont* f = l->Font();
    if (l->ListType == w.type && l->MarkerAlignment == w.alignment && l->LeftIndent == w.left &&
        l->FirstIndent == w.first && l->MarkerIndent == w.marker && f->Size() == w.size && f->Style() == w.style &&
        f->Color() == w.color && AnsiSameText(f->Name(), w.font) &&
        (l->FormatString == w.format1 || l->FormatString == w.format2))
      found = s;
  }
  if (found < 0) {
    TRVListInfo* li = styles->Add();
    li->Standard = false;
    SetLevel(li->Levels()->Add(), w);
    found = styles->Count() - 1;
  }
  old_levels_[static_cast<size_t>(lvl - 1)] = found;
  return found;
}

void TRVRTFReaderProperties::UpdateMarker() {
  TRVMarkerItemInfo* m = last_marker_;
  if (!m) return;
  last_marker_ = nullptr;
  const TRVRTFParaProperties& pp = reader_->GroupState().ParaProps;
  if (!last_marker_new_) {
    const TRVRTFMarkerProperties* old = pp.MarkerOrNull();
    if (!old || old->Level <= 0) return;
    m->ListNo = FindOrAddOldStyleList(*old);
    m->Level = 0;
    RVRecalcDocumentMarkers(root_);
    return;
  }
  // The indents of a list level made by this import come from the paragraphs that use it
  // (once per RTF level).
  if (pp.ListOverrideIndex < 0 || m->ListNo < lists_before_) return;
  const TRVRTFListOverride97& o = *reader_->ListOverrideTable().Items(pp.ListOverrideIndex);
  if (o.ListIndex < 0 || o.ListIndex >= reader_->ListTable().Count()) return;
  TRVRTFList97& rlist = const_cast<TRVRTFList97&>(*reader_->ListTable().Items(o.ListIndex));
  if (pp.ListLevel < 0 || pp.ListLevel >= rlist.Count())
    throw EDocViewError("RTF paragraph names a missing list level");
  TRVRTFListLevel97& rl = *rlist.Items(pp.ListLevel);
  TRVListLevel* l = GetMarkerListLevel(style_, m->ListNo, pp.ListLevel);
  if (!l) return;
  if (!rl.IndentsUpdated) {
    rl.IndentsUpdated = true;
    const int32_t new_marker = Px(pp.LeftIndent + pp.FirstIndent), new_left = Px(pp.LeftIndent);
    l->FirstIndent = l->LeftIndent + l->FirstIndent - l->MarkerIndent + new_marker - new_left;
    l->MarkerIndent = new_marker;
    l->LeftIndent = new_left;
  }
  if (!rl.FontSizeDefined) {
    rl.FontSizeDefined = true;
    l->Font()->SetSize(reader_->GroupState().CharProps.Size);
  }
}

}  // namespace pelvar
