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

AnsiString ParaProperties(TCustomRVData* d, TParaInfo* p, const RTFContext& c, int32_t level, bool body) {
  AnsiString s;
  if (p->LineSpacingType == rvlsPercent && p->LineSpacing > 100)
    s += Format("\\sl%d\\slmult1", {p->LineSpacing * 240 / 100});
  if (p->Options.Contains(rvpaoKeepLinesTogether)) s += "\\keep";
  if (p->Options.Contains(rvpaoKeepWithNext)) s += "\\keepn";
  s += Format("\\fi%d\\li%d", {Tw(p->FirstIndent, c.twips), Tw(p->LeftIndent, c.twips)});
  for (int32_t i = 0; i < p->Tabs().Count(); ++i) {
    TRVTabInfo* t = p->Tabs().Items(i);
    if (t->Position() <= 0) continue;
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
  if (body && level > 0) {
    s += Format("\\itap%d", {level});
    if (level == 1) s += "\\intbl";
  }
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
      MakeRTFTables(*color_list, override_counts, true);
      if (background_color != clWindow) color_list->AddUnique(background_color);
    }
    TRVRTFSaveTables shared{path, font_table, font_numbers, override_counts, list_ids, color_list};
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
      RVFWriteLine(stream, AnsiString());  // no list styles
      AnsiString extra;
      DoSaveRTFExtra(2 /* document */, nullptr, -1, -1, false, extra);
      RVFWrite(stream, extra);
      RVFWriteLine(stream, AnsiString());
      RVFWrite(stream, ropts.Contains(rvrtfDuplicateUnicode) ? "\\uc1" : "\\uc0");
    }
    int32_t start_no = 0, start_offs = 0, end_no = -1, end_offs = 0;
    GetSelectionBounds(selection_only ? 1 : 0, start_no, start_offs, end_no, end_offs);
    int32_t cur_para = -1, cur_text = -1, bookmark_no = 0;
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
          // A table ends its own last paragraph.
          if ((State & 0x10000) == 0 && !after_table) RVFWrite(stream, "\\par ");
          if (!full_line && it->GetPageBreakBefore() && (State & 0x10000) == 0) RVFWrite(stream, "\\page ");
          if (!is_table) {
            AnsiString pard = "\\pard";
            TParaInfo* p = st->ParaStyles()->Items(it->ParaNo);
            if (c.style_sheet && p->Standard) pard += Format("\\s%d", {it->ParaNo});
            RVFWrite(stream, pard + ParaProperties(this, p, c, level, true));
          }
          cur_para = it->ParaNo;
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
