// RTF export of a document: the header with the font, colour and style-sheet tables built
// from the style sheet, then the paragraphs and items, checkpoints as bookmarks and
// hyperlinks as HYPERLINK fields. Non-text items write themselves; a nested call (a table
// cell) shares the tables of the outermost one.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>

#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVFuncs.h"
#include "richtext/model/RVMarker.h"
#include "richtext/model/RVStyle_list.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

namespace {
thread_local const TRVRTFSaveTables* g_rtf_tables = nullptr;
}  // namespace

const TRVRTFSaveTables* RVCurrentRTFTables() { return g_rtf_tables; }

int32_t TRVRTFFontTable::Find(const AnsiString& name, int32_t charset) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (items_[static_cast<size_t>(i)].Charset == charset && AnsiSameText(items_[static_cast<size_t>(i)].FontName, name))
      return i;
  return -1;
}

int32_t TRVRTFFontTable::AddUnique(const AnsiString& name, int32_t charset) {
  int32_t i = Find(name, charset);
  if (i >= 0) return i;
  items_.push_back(TRVRTFFontTableItem{name, charset});
  return Count() - 1;
}

void TCustomRVData::MakeRTFTables(TRVColorList& color_list, TRVIntegerList* override_counts, bool all_styles) {
  TRVStyle* st = GetRVStyle();
  if (all_styles) {
    color_list.Clear();
    if (override_counts) override_counts->Clear();
    for (TColor c : {clWindowText, clBlack, clBlue, clAqua, clLime, clFuchsia, clRed, clYellow, clWhite, clNavy,
                     clTeal, clGreen, clPurple, clMaroon, clOlive, clGray, clSilver})
      color_list.Add(c);
    if (st) {
      for (int32_t i = 0; i < st->TextStyles()->Count(); ++i) {
        TFontInfo* f = st->TextStyles()->Items(i);
        color_list.AddUnique(f->Color);
        color_list.AddUnique(f->BackColor);
        color_list.AddUnique(f->HoverColor);
        color_list.AddUnique(f->HoverBackColor);
      }
      for (int32_t i = 0; i < st->ParaStyles()->Count(); ++i) {
        TParaInfo* p = st->ParaStyles()->Items(i);
        if (p->Border().Style != rvbNone) color_list.AddUnique(p->Border().Color);
        color_list.AddUnique(p->Background().Color);
      }
      for (int32_t i = 0; i < st->ListStyles()->Count(); ++i) {
        if (override_counts) override_counts->Add(1);
        TRVListLevelCollection* levels = st->ListStyles()->Items(i)->Levels();
        for (int32_t l = 0; l < levels->Count(); ++l)
          if (levels->Items(l)->UsesFont()) color_list.AddUnique(levels->Items(l)->Font()->Color());
      }
    }
  }
  for (int32_t i = 0; i < ItemCount(); ++i) GetItem(i)->FillRTFTables(color_list, this);
}

namespace {

int32_t ColorIndex(const TRVColorList& list, TColor c) {
  for (int32_t i = 1; i < list.Count(); ++i)
    if (list.Items(i) == c) return i;
  if (c == clWindowText) return 0;
  // A system colour may stand in the table by its value.
  const TColor rgb = ColorToRGB(c);
  for (int32_t i = 1; i < list.Count(); ++i)
    if (ColorToRGB(list.Items(i)) == rgb) return i;
  return 0;
}

struct RTFContext {
  TRVRTFFontTable* fonts;
  TRVIntegerList* font_numbers;
  TRVColorList* colors;
  double twips;
  bool style_sheet;
  int32_t lang0;  // language of text style 0's charset
  int32_t charset0;
};

int32_t Tw(int32_t pixels, double twips) { return static_cast<int32_t>(std::lround(pixels * twips)); }

// \levelnfc of a list type.
int32_t LevelNfc(TRVListType t) {
  switch (t) {
    case rvlstDecimal:
    case rvlstImageListCounter: return 0;
    case rvlstLowerAlpha: return 4;
    case rvlstUpperAlpha: return 3;
    case rvlstLowerRoman: return 2;
    case rvlstUpperRoman: return 1;
    default: return 23;
  }
}

// The indents of a list level as RTF paragraph properties.
AnsiString LevelIndents(const TRVListLevel* l, double twips) {
  return Format("\\li%d\\fi%d\\jclisttab\\tx%d", {Tw(l->LeftIndent, twips), Tw(l->MarkerIndent - l->LeftIndent, twips),
                                                   Tw(l->LeftIndent + l->FirstIndent, twips)});
}

AnsiString Hex2(int32_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\'%.2x", static_cast<unsigned>(v & 0xFF));
  return buf;
}

// \leveltext and \levelnumbers of a level (without the groups around them).
void LevelText(TRVListLevel* l, uint32_t code_page, AnsiString& text, AnsiString& numbers) {
  text.clear();
  numbers.clear();
  if (RVIsNumberedType(l->ListType)) {
    // The placeholders of the nine levels become the bytes 0 to 8; their places are the
    // level numbers (1-based, after the length byte).
    std::vector<AnsiString> args;
    for (int32_t i = 0; i < 9; ++i) args.emplace_back(1, static_cast<char>(i));
    const AnsiString t = RVFormatLevelString(l->FormatString, args);
    const int32_t len = static_cast<int32_t>(std::min<size_t>(t.size(), 255));
    text = Hex2(len) + RV_MakeRTFStr(t.substr(0, static_cast<size_t>(len)), false, false);
    for (int32_t i = 0; i < len; ++i)
      if (static_cast<uint8_t>(t[static_cast<size_t>(i)]) < 9) numbers += Hex2(i + 1);
  } else if (l->ListType == rvlstBullet) {
    const AnsiString t = l->FormatString.substr(0, 255);
    text = Hex2(static_cast<int32_t>(t.size())) + RV_MakeRTFStr(t, false, false);
  } else if (l->ListType == rvlstUnicodeBullet) {
    const WideString w = l->FormatStringW.substr(0, 255);
    TMemoryStream m;
    RV_WriteUnicodeRTFStr(m, RVU_WideStringToRawUnicode(w), code_page, true, false);
    text = Hex2(static_cast<int32_t>(w.size())) +
           AnsiString(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
  } else {
    text = "\\'00";
  }
}

AnsiString ParaProperties(TCustomRVData* d, TParaInfo* p, const RTFContext& c, int32_t level, bool body,
                          const TRVListLevel* marker_level = nullptr) {
  AnsiString s;
  if (p->LineSpacingType == rvlsPercent && p->LineSpacing > 100)
    s += Format("\\sl%d\\slmult1", {p->LineSpacing * 240 / 100});
  if (p->Options.Contains(rvpaoKeepLinesTogether)) s += "\\keep";
  if (p->Options.Contains(rvpaoKeepWithNext)) s += "\\keepn";
  int32_t tabs_from = 0;
  if (marker_level) {
    s += LevelIndents(marker_level, c.twips);
    tabs_from = marker_level->LeftIndent + marker_level->FirstIndent;
  } else {
    s += Format("\\fi%d\\li%d", {Tw(p->FirstIndent, c.twips), Tw(p->LeftIndent, c.twips)});
  }
  for (int32_t i = 0; i < p->Tabs().Count(); ++i) {
    TRVTabInfo* t = p->Tabs().Items(i);
    if (t->Position() <= tabs_from) continue;
    if (t->Align == rvtaRight) s += "\\tqr";
    if (t->Align == rvtaCenter) s += "\\tqc";
    if (!t->Leader.empty()) {
      switch (t->Leader[0]) {
        case '-': s += "\\tlhyph"; break;
        case '=': s += "\\tleq"; break;
        case '_': s += "\\tlul"; break;
        case '\xB7': s += "\\tlmdot"; break;
        default: s += "\\tldot"; break;
      }
    }
    s += Format("\\tx%d", {Tw(t->Position(), c.twips)});
  }
  static const char* const kAlign[] = {"l", "r", "c", "j"};
  s += Format("\\q%s\\ri%d\\sb%d\\sa%d", {kAlign[p->Alignment & 3], Tw(p->RightIndent, c.twips),
                                          Tw(p->SpaceBefore, c.twips), Tw(p->SpaceAfter, c.twips)});
  const TRVBiDiMode bidi = p->BiDiMode != rvbdUnspecified ? p->BiDiMode : d->GetBiDiMode();
  if (bidi == rvbdLeftToRight) s += "\\ltrpar";
  if (bidi == rvbdRightToLeft) s += "\\rtlpar";
  if (p->Background().Color != clNone) s += Format("\\cbpat%d", {ColorIndex(*c.colors, p->Background().Color)});
  const TRVBorder& b = p->Border();
  if (b.Style != rvbNone && b.Color != clNone) {
    s += "\\brdrbtw";
    struct Side {
      bool vis;
      const char* word;
      int32_t offs;
      bool rb;
    } sides[] = {{b.VisibleBorders().Left, "\\brdrl", b.BorderOffsets().Left, false},
                 {b.VisibleBorders().Top, "\\brdrt", b.BorderOffsets().Top, false},
                 {b.VisibleBorders().Right, "\\brdrr", b.BorderOffsets().Right, true},
                 {b.VisibleBorders().Bottom, "\\brdrb", b.BorderOffsets().Bottom, true}};
    for (const Side& side : sides) {
      if (!side.vis) continue;
      s += Format("%s\\brsp%d", {side.word, Tw(side.offs, c.twips)});
      switch (b.Style) {
        case rvbSingle: s += "\\brdrs"; break;
        case rvbDouble: s += "\\brdrdb"; break;
        case rvbTriple: s += "\\brdrtriple"; break;
        case rvbThickInside: s += side.rb ? "\\brdrtnthmg" : "\\brdrthtnmg"; break;
        case rvbThickOutside: s += side.rb ? "\\brdrthtnmg" : "\\brdrtnthmg"; break;
        default: break;
      }
      const bool thick = b.Style == rvbThickInside || b.Style == rvbThickOutside;
      s += Format("\\brdrcf%d\\brdrw%d", {ColorIndex(*c.colors, b.Color), Tw(b.Width * (thick ? 2 : 1), c.twips)});
    }
  }
  if (body && level > 0) s += Format("\\itap%d\\intbl", {level});
  AnsiString extra;
  d->DoSaveRTFExtra(1 /* paragraph style */, p, -1, -1, !body, extra);
  s += extra;
  s += " ";
  return s;
}

AnsiString TextProperties(TCustomRVData* d, TFontInfo* f, int32_t style_no, const RTFContext& c, bool in_style_sheet) {
  AnsiString s;
  const int32_t fn = style_no < c.font_numbers->Count() ? c.font_numbers->Items(style_no) : 0;
  s += Format("\\f%d", {fn});
  if (f->Style.Contains(fsBold)) s += "\\b";
  if (f->Style.Contains(fsItalic)) s += "\\i";
  if (f->Style.Contains(fsUnderline)) s += "\\ul";
  if (f->Style.Contains(fsStrikeOut)) s += "\\strike";
  if (f->VShift < 0) s += "\\sub";
  if (f->VShift > 0) s += "\\super";
  if (f->CharScale != 100) s += Format("\\charscalex%d", {f->CharScale});
  if (f->CharSpacing != 0) s += Format("\\expndtw%d", {Tw(f->CharSpacing, c.twips)});
  if (f->StyleEx.Contains(rvfsAllCaps)) s += "\\caps";
  if (f->BiDiMode == rvbdLeftToRight) s += "\\ltrch";
  if (f->BiDiMode == rvbdRightToLeft) s += "\\rtlch";
  if (f->Charset != DEFAULT_CHARSET && f->Charset != c.charset0) {
    const int32_t lang = RVU_CharsetToLanguage(f->Charset);
    if (lang != 0) s += Format("\\lang%d", {lang});
  }
  // Half points; a raised or lowered style keeps its own size (the reader halves the size of
  // sub- and superscript text only when it chooses a document style, never in the file).
  s += Format("\\fs%d", {f->Size * 2});
  if (f->BackColor != clNone) s += Format("\\chcbpat%d", {ColorIndex(*c.colors, f->BackColor)});
  if (f->Color != clWindowText) s += Format("\\cf%d", {ColorIndex(*c.colors, f->Color)});
  AnsiString extra;
  d->DoSaveRTFExtra(0 /* text style */, f, style_no, -1, in_style_sheet, extra);
  s += extra;
  s += " ";
  return s;
}

}  // namespace

AnsiString RVRTFLevelFontProps(const TRVRTFSaveTables& t, TRVListLevel* l) {
  TRVMarkerFont* f = l->Font();
  AnsiString s;
  if (t.FontTable) {
    const int32_t fn = t.FontTable->Find(f->Name(), f->Charset());
    if (fn >= 0) s += Format("\\f%d", {fn});
  }
  if (f->Style().Contains(fsBold)) s += "\\b";
  if (f->Style().Contains(fsItalic)) s += "\\i";
  if (f->Style().Contains(fsUnderline)) s += "\\ul";
  if (f->Style().Contains(fsStrikeOut)) s += "\\strike";
  s += Format("\\fs%d", {f->Size() * 2});
  if (f->Charset() != DEFAULT_CHARSET && f->Charset() != t.Charset0) {
    const int32_t lang = RVU_CharsetToLanguage(f->Charset());
    if (lang != 0) s += Format("\\lang%d", {lang});
  }
  if (f->Color() != clWindowText && t.ColorList) s += Format("\\cf%d", {ColorIndex(*t.ColorList, f->Color())});
  return s;
}

bool RVRTFMarkerHasOwnOverride(const TRVMarkerItemInfo* marker, TRVStyle* style) {
  if (!marker->Reset) return false;
  TRVListLevel* l = GetLevelInfo(marker, style);
  return l && l->HasNumbering() && l->ListType != rvlstImageListCounter;
}

int32_t RVRTFOverrideNumber(const TRVRTFSaveTables& t, int32_t list_no, bool restarting) {
  if (!t.OverrideCounts || list_no < 0 || list_no >= t.OverrideCounts->Count()) return 0;
  if (restarting && t.OverrideCounters && list_no < t.OverrideCounters->Count()) {
    const int32_t n = t.OverrideCounters->Items(list_no) + 1;
    // Never beyond the numbers the list's overrides took.
    const int32_t last_of_list = list_no + 1 < t.OverrideCounts->Count() ? t.OverrideCounts->Items(list_no + 1) - 1
                                                                          : std::numeric_limits<int32_t>::max();
    if (n <= last_of_list) {
      t.OverrideCounters->SetItem(list_no, n);
      return n;
    }
  }
  return t.OverrideCounts->Items(list_no);
}

namespace {

// The list table and the list-override table. The override counts become each list's first
// \ls number; the running numbers of restarting markers start there.
void WriteListTables(TStream& stream, TCustomRVData* d, TRVStyle* st, const TRVRTFSaveTables& t, double twips) {
  TRVListInfos* lists = st->ListStyles();
  TRVIntegerList& ids = *t.ListIds;
  ids.Clear();
  std::vector<int32_t> used;
  auto fresh_id = [&]() {
    int32_t id;
    do id = RVRandomId();
    while (std::find(used.begin(), used.end(), id) != used.end());
    used.push_back(id);
    return id;
  };
  RVFWrite(stream, "{\\*\\listtable");
  for (int32_t i = 0; i < lists->Count(); ++i) {
    TRVListLevelCollection* levels = lists->Items(i)->Levels();
    const int32_t template_id = fresh_id();
    RVFWriteLine(stream, Format("{\\list\\listtemplateid%d", {template_id}) + (levels->Count() == 1 ? "\\listsimple1" : ""));
    const int32_t n = levels->Count() == 0 ? 0 : (levels->Count() == 1 ? 1 : 9);
    for (int32_t l = 0; l < n; ++l) {
      TRVListLevel* lv = levels->Items(std::min(l, levels->Count() - 1));
      static const int32_t kJc[] = {0, 2, 1};
      const int32_t nfc = LevelNfc(lv->ListType);
      AnsiString line = Format("{\\listlevel\\levelnfc%d\\leveljc%d", {nfc, kJc[lv->MarkerAlignment % 3]}) +
                        LevelIndents(lv, twips);
      if (nfc != 23) line += Format("\\levelstartat%d", {lv->StartFrom});
      if (lv->Options.Contains(rvloLegalStyleNumbering)) line += "\\levellegal1";
      if (!lv->Options.Contains(rvloLevelReset)) line += "\\levelnorestart1";
      AnsiString text, numbers;
      LevelText(lv, st->DefCodePage, text, numbers);
      line += "{\\leveltext" + text + ";}{\\levelnumbers" + numbers + ";}";
      if (lv->UsesFont()) line += RVRTFLevelFontProps(t, lv);
      RVFWriteLine(stream, line + "}");
    }
    const int32_t list_id = fresh_id();
    ids.Add(list_id);
    RVFWriteLine(stream, Format("\\listid%d}", {list_id}));
  }
  RVFWriteLine(stream, "}");
  RVFWriteLine(stream, "{\\*\\listoverridetable");
  TRVIntegerList& counts = *t.OverrideCounts;
  auto* markers = d->GetMarkers(false);
  int32_t ls = 1;
  for (int32_t i = 0; i < lists->Count(); ++i) {
    RVFWriteLine(stream, Format("{\\listoverride\\listid%d\\listoverridecount0\\ls%d}", {ids.Items(i), ls}));
    const int32_t first = ls++;
    if (i < counts.Count() && counts.Items(i) > 1 && markers) {
      for (TRVMarkerItemInfo* m : *markers) {
        if (m->ListNo != i || !RVRTFMarkerHasOwnOverride(m, st)) continue;
        const int32_t lvl = std::min(m->Level, 8);  // RTF lists have nine levels
        AnsiString o = Format("{\\listoverride\\listid%d\\listoverridecount%d", {ids.Items(i), lvl + 1});
        for (int32_t k = 0; k < lvl; ++k) o += "{\\lfolevel}";
        o += Format("{\\lfolevel\\listoverridestartat\\levelstartat%d}\\ls%d}", {m->StartFrom, ls++});
        RVFWriteLine(stream, o);
      }
    }
    if (i < counts.Count()) counts.SetItem(i, first);
    if (i < t.OverrideCounters->Count())
      t.OverrideCounters->SetItem(i, first);
    else
      t.OverrideCounters->Add(first);
  }
  RVFWriteLine(stream, "}");
}

}  // namespace

bool TCustomRVData::SaveRTFToStream(TStream& stream, const AnsiString& path, double twips_factor,
                                    TRVRTFFontTable* font_table, TRVIntegerList* font_numbers,
                                    TRVIntegerList* override_counts, TRVIntegerList* list_ids,
                                    TRVColorList* color_list, int32_t level, TColor background_color,
                                    bool selection_only) {
  if (selection_only) {
    if (TCustomRVData* chosen = GetChosenRVData())
      return chosen->SaveRTFToStream(stream, path, twips_factor, font_table, font_numbers, override_counts, list_ids,
                                     color_list, level, background_color, true);
  }
  std::unique_ptr<TRVRTFFontTable> own_fonts;
  std::unique_ptr<TRVIntegerList> own_numbers, own_overrides, own_ids;
  std::unique_ptr<TRVColorList> own_colors;
  const uint32_t old_state = State;
  try {
    TRVStyle* st = GetRVStyle();
    if (!st) return false;
    const TRVRTFOptions ropts = GetRTFOptions();
    if (level == 0) {
      own_fonts = std::make_unique<TRVRTFFontTable>();
      own_numbers = std::make_unique<TRVIntegerList>();
      own_overrides = std::make_unique<TRVIntegerList>();
      own_ids = std::make_unique<TRVIntegerList>();
      own_colors = std::make_unique<TRVColorList>();
      font_table = own_fonts.get();
      font_numbers = own_numbers.get();
      override_counts = own_overrides.get();
      list_ids = own_ids.get();
      color_list = own_colors.get();
      const int32_t ppi = RVCustomScreenPPI > 0 ? RVCustomScreenPPI : RV_GetScreenPPI();
      twips_factor = 1440.0 / ppi;
      for (int32_t i = 0; i < st->TextStyles()->Count(); ++i) {
        TFontInfo* f = st->TextStyles()->Items(i);
        font_numbers->Add(font_table->AddUnique(f->FontName, f->Charset));
      }
      for (int32_t i = 0; i < st->ListStyles()->Count(); ++i) {
        TRVListLevelCollection* levels = st->ListStyles()->Items(i)->Levels();
        for (int32_t l = 0; l < levels->Count(); ++l)
          if (levels->Items(l)->UsesFont())
            font_table->AddUnique(levels->Items(l)->Font()->Name(), levels->Items(l)->Font()->Charset());
      }
      MakeRTFTables(*color_list, override_counts, true);
      // Every marker that restarts a numbered level needs a list override of its own.
      if (auto* markers = GetMarkers(false))
        for (TRVMarkerItemInfo* m : *markers)
          if (m->ListNo >= 0 && m->ListNo < override_counts->Count() && RVRTFMarkerHasOwnOverride(m, st))
            override_counts->SetItem(m->ListNo, override_counts->Items(m->ListNo) + 1);
      if (background_color != clWindow) color_list->AddUnique(background_color);
    }
    std::unique_ptr<TRVIntegerList> own_counters;
    const TRVRTFSaveTables* outer = RVCurrentRTFTables();
    TRVIntegerList* counters = level > 0 && outer ? outer->OverrideCounters : nullptr;
    if (!counters) {
      own_counters = std::make_unique<TRVIntegerList>();
      counters = own_counters.get();
    }
    TRVRTFSaveTables shared{path, font_table, font_numbers, override_counts, list_ids, color_list, counters,
                            st->TextStyles()->Items(0)->Charset};
    struct Scope {
      const TRVRTFSaveTables* old;
      bool set;
      ~Scope() {
        if (set) g_rtf_tables = old;
      }
    } scope{g_rtf_tables, level == 0};
    if (level == 0) g_rtf_tables = &shared;
    RTFContext c{font_table, font_numbers, color_list, twips_factor, ropts.Contains(rvrtfSaveStyleSheet), 0, 0};
    TFontInfo* f0 = st->TextStyles()->Items(0);
    c.charset0 = f0->Charset;
    c.lang0 = RVU_CharsetToLanguage(f0->Charset);
    if (level == 0) {
      AnsiString h = Format("{\\rtf1\\ansi\\ansicpg%d\\uc1\\deff0\\deflang%d\\deflangfe%d",
                            {static_cast<int32_t>(st->DefCodePage ? st->DefCodePage : 1250), c.lang0, c.lang0});
      if (GetBiDiMode() == rvbdLeftToRight) h += "\\ltrdoc";
      if (GetBiDiMode() == rvbdRightToLeft) h += "\\rtldoc";
      RVFWrite(stream, h);
      RVFWrite(stream, "{\\fonttbl");
      for (int32_t i = 0; i < font_table->Count(); ++i)
        RVFWrite(stream, Format("{\\f%d\\fnil\\fcharset%d %s;}",
                                {i, font_table->Items(i).Charset,
                                 RV_MakeRTFIdentifierStr(font_table->Items(i).FontName)}));
      RVFWrite(stream, "}");
      RVFWrite(stream, "{\\colortbl;");
      for (int32_t i = 1; i < color_list->Count(); ++i) {
        const TColor rgb = ColorToRGB(color_list->Items(i));
        RVFWrite(stream, Format("\\red%d\\green%d\\blue%d;", {rgb & 0xFF, (rgb >> 8) & 0xFF, (rgb >> 16) & 0xFF}));
      }
      RVFWrite(stream, "}");
      if (c.style_sheet) {
        RVFWrite(stream, "{\\stylesheet");
        const int32_t np = st->ParaStyles()->Count();
        for (int32_t i = 0; i < np; ++i) {
          TParaInfo* p = st->ParaStyles()->Items(i);
          if (!p->Standard) continue;
          RVFWrite(stream, Format("{\\s%d", {i}) + ParaProperties(this, p, c, 0, false) +
                               RV_MakeRTFStr(p->StyleName, false, false) + ";}");
        }
        for (int32_t i = 0; i < st->TextStyles()->Count(); ++i) {
          TFontInfo* f = st->TextStyles()->Items(i);
          if (!f->Standard) continue;
          RVFWrite(stream, Format("{\\*\\cs%d", {i + np}) + TextProperties(this, f, i, c, true) +
                               RV_MakeRTFStr(f->StyleName, false, false) + ";}");
        }
        RVFWrite(stream, "}");
      }
      if (st->ListStyles()->Count() == 0)
        RVFWriteLine(stream, AnsiString());
      else
        WriteListTables(stream, this, st, shared, twips_factor);
      AnsiString extra;
      DoSaveRTFExtra(2 /* document */, nullptr, -1, -1, false, extra);
      RVFWrite(stream, extra);
      RVFWriteLine(stream, AnsiString());
      RVFWrite(stream, ropts.Contains(rvrtfDuplicateUnicode) ? "\\uc1" : "\\uc0");
    }
    int32_t start_no = 0, start_offs = 0, end_no = -1, end_offs = 0;
    GetSelectionBounds(selection_only ? 1 : 0, start_no, start_offs, end_no, end_offs);
    int32_t cur_para = -1, cur_text = -1, bookmark_no = 0;
    const TRVListLevel* cur_list_level = nullptr;
    bool prev_para_marker = false;
    if (selection_only && start_no > 0 && start_no < ItemCount() && !IsParaStart(start_no)) {
      // The paragraph's list marker first, so that the saved text keeps its list.
      const int32_t first = GetFirstParaItem(start_no);
      if (first < start_no && GetItem(first)->StyleNo == rvsListMarker) {
        TCustomRVItemInfo* m = GetItem(first);
        TRVListLevel* lvl = GetLevelInfo(static_cast<TRVMarkerItemInfo*>(m), st);
        AnsiString pard = "\\pard";
        TParaInfo* p = st->ParaStyles()->Items(m->ParaNo);
        if (c.style_sheet && p->Standard) pard += Format("\\s%d", {m->ParaNo});
        RVFWrite(stream, pard + ParaProperties(this, p, c, level, true, lvl));
        m->SaveRTF(stream, this, first, GetItemTextRaw(first), twips_factor, level, *color_list);
        State &= ~0x10000u;
        cur_para = m->ParaNo;
        cur_list_level = lvl;
        prev_para_marker = true;
      }
    }
    State |= 0x10000;
    const bool tags_str = GetOptions().Contains(rvoTagsArePChars);
    (void)tags_str;
    for (int32_t i = start_no; i >= 0 && i <= end_no && i < ItemCount(); ++i) {
      TCustomRVItemInfo* it = GetItem(i);
      AnsiString text = GetItemTextRaw(i);
      const bool is_text = it->StyleNo >= 0;
      const int32_t len = ItemLength(i);
      if (start_no != end_no && !text.empty()) {
        if (i == start_no && start_offs >= (is_text ? len + 1 : 1)) continue;
        if (i == end_no && end_offs <= (is_text ? 1 : 0)) continue;
      }
      if (is_text) {
        const int32_t from = i == start_no ? std::max(start_offs, 1) : 1;
        const int32_t to = i == end_no ? std::min(end_offs, len + 1) : len + 1;
        if (from != 1 || to != len + 1) text = RVU_Copy(text, from, std::max(0, to - from), it->ItemOptions.ToBits());
      }
      const bool is_table = it->StyleNo == rvsTable;
      const bool after_table = i > start_no && GetItem(i - 1)->StyleNo == rvsTable;
      if (!it->GetSameAsPrev()) {
        RVFWriteLine(stream, AnsiString());
        const bool full_line = dynamic_cast<TRVFullLineItemInfo*>(it) != nullptr;
        if (full_line && it->GetPageBreakBefore()) RVFWrite(stream, "\\page ");
        if (it->GetBR()) {
          RVFWrite(stream, "\\line ");
        } else {
          const bool marker = it->StyleNo == rvsListMarker;
          TRVListLevel* lvl = marker ? GetLevelInfo(static_cast<TRVMarkerItemInfo*>(it), st) : nullptr;
          // A table ends its own last paragraph.
          if ((State & 0x10000) == 0 && !after_table) RVFWrite(stream, prev_para_marker ? "\\plain\\par " : "\\par ");
          if (!full_line && it->GetPageBreakBefore() && (State & 0x10000) == 0) RVFWrite(stream, "\\page ");
          // A list paragraph like the one before keeps its paragraph properties.
          const bool same_list_para = marker && lvl && it->ParaNo == cur_para && lvl == cur_list_level;
          if (!is_table && !same_list_para) {
            AnsiString pard = "\\pard";
            TParaInfo* p = st->ParaStyles()->Items(it->ParaNo);
            if (c.style_sheet && p->Standard) pard += Format("\\s%d", {it->ParaNo});
            RVFWrite(stream, pard + ParaProperties(this, p, c, level, true, lvl));
          }
          cur_para = it->ParaNo;
          cur_list_level = lvl;
          prev_para_marker = marker;
          cur_text = -1;
        }
      }
      State &= ~0x10000u;
      if (it->Checkpoint) {
        AnsiString name = it->Checkpoint->Name.empty() ? AnsiString("DocViewCheckpoint") + IntToStr(bookmark_no)
                                                       : RV_MakeRTFBookmarkNameStr(it->Checkpoint->Name);
        ++bookmark_no;
        RVFWrite(stream, Format("{\\*\\bkmkstart %s}{\\*\\bkmkend %s}", {name, name}));
      }
      bool link = false;
      if (it->GetBoolValueEx(1, st)) {
        AnsiString target, extras;
        DoWriteHyperlink(it->JumpID + FirstJumpNo, this, i, rvsfRTF, target, extras);
        if (!target.empty() || !extras.empty()) {
          AnsiString ex = extras.empty() ? AnsiString() : " " + RV_MakeRTFStr(extras, false, false);
          // A quote would end the target early: it goes as its URL escape.
          AnsiString quoted_target = target;
          RV_ReplaceAll(quoted_target, "\"", "%22");
          RVFWrite(stream, Format("{\\field{\\*\\fldinst HYPERLINK \"%s\"%s}{\\fldrslt ",
                                  {RV_MakeRTFFileNameStr(quoted_target), ex}));
          link = true;
        }
      }
      const int32_t tstyle = is_text ? it->GetActualStyleNo(st) : it->GetAssociatedTextStyleNo();
      TFontInfo* f = tstyle >= 0 ? st->TextStyles()->Items(tstyle) : nullptr;
      const bool html_code = f && f->Options.Contains(rvteoHTMLCode) && !f->Options.Contains(rvteoRTFCode);
      if (html_code && is_text) {
        // HTML code has no place in RTF.
      } else if (tstyle < 0) {
        AnsiString own;
        if (SaveItemToFile(path, this, i, rvsfRTF, false, own)) {
          RVFWrite(stream, own);
        } else {
          const bool rtl = GetParaBiDiMode(it->ParaNo) == rvbdRightToLeft;
          if (rtl) RVFWrite(stream, "\\ltrpar");
          it->SaveRTF(stream, this, i, text, twips_factor, level, *color_list);
          if (rtl) RVFWrite(stream, "\\rtlpar");
        }
        cur_text = -1;
      } else {
        if (tstyle != cur_text) {
          AnsiString pl = "\\plain ";
          if (c.style_sheet && f->Standard) pl += Format("\\cs%d", {tstyle + st->ParaStyles()->Count()});
          RVFWrite(stream, pl + TextProperties(this, f, tstyle, c, false));
          cur_text = is_text ? tstyle : -1;
        }
        AnsiString own;
        const bool rtf_code = f->Options.Contains(rvteoRTFCode);
        if (SaveItemToFile(path, this, i, rvsfRTF, it->ItemOptions.Contains(rvioUnicodeText), own)) {
          RVFWrite(stream, own);
        } else if (!is_text) {
          it->SaveRTF(stream, this, i, text, twips_factor, level, *color_list);
        } else if (it->ItemOptions.Contains(rvioUnicodeText) ||
                   (!rtf_code && std::any_of(text.begin(), text.end(), [](char ch) { return (ch & 0x80) != 0; }))) {
          // Letters beyond ASCII go out as Unicode characters, each followed by its ANSI
          // equivalent inside a group that skips one byte: readers that ignore the code page
          // or the skip count still get them right.
          const uint32_t cp = GetStyleCodePage(tstyle);
          const std::string w = it->ItemOptions.Contains(rvioUnicodeText) ? text : RVU_AnsiToUnicode(cp, text);
          const bool dup = ropts.Contains(rvrtfDuplicateUnicode);
          if (!dup && !rtf_code) RVFWrite(stream, "{\\uc1 ");
          RV_WriteUnicodeRTFStr(stream, w, cp, dup || !rtf_code, rtf_code);
          if (!dup && !rtf_code) RVFWrite(stream, "}");
        } else {
          RVFWrite(stream, RV_MakeRTFStr(text, rtf_code, true));
        }
      }
      if (link) {
        RVFWrite(stream, "}}");
        cur_text = -1;
      }
    }
    (void)cur_para;
    if (NotAddedCP() && end_no == ItemCount() - 1) {
      AnsiString name = NotAddedCP()->Name.empty() ? AnsiString("DocViewCheckpoint") + IntToStr(bookmark_no)
                                                   : RV_MakeRTFBookmarkNameStr(NotAddedCP()->Name);
      RVFWrite(stream, Format("{\\*\\bkmkstart %s}{\\*\\bkmkend %s}", {name, name}));
    }
    if (start_no != end_no && end_no >= 0 && end_no < ItemCount() && GetItem(end_no)->StyleNo >= 0 &&
        GetItemTextRaw(end_no).empty() && GetItem(end_no)->IsParaStart())
      RVFWrite(stream, "\\par");
    if (level == 0) RVFWrite(stream, "}");
    State = old_state;
    return true;
  } catch (...) {
    State = old_state;
    return false;
  }
}

}  // namespace pelvar
