// RTF import into documents: text runs and tabs become items in text and paragraph styles
// that are chosen from the style sheet (closest or exact) or added to it; hyperlink fields,
// page breaks, line breaks and header/footer regions are honoured.
#include "richtext/model/RVRTFProps.h"

#include "richtext/model/RVMarker.h"

#include <cmath>

#include "platform/sysutils.h"
#include "richtext/model/RVClasses.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVStyle_list.h"
#include "richtext/model/RVTableBase.h"
#include "richtext/model/RVFuncs.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

TRVTableItemBase* (*RVCreateTableItem)(TCustomRVData*, int32_t, int32_t) = nullptr;

namespace {

// Rounding to the nearest integer, halves to even.
int32_t RoundEven(double v) { return static_cast<int32_t>(std::nearbyint(v)); }

TFontStyles StyleBits(uint8_t rtf) {
  TFontStyles s;
  if (rtf & rtf_fs_Bold) s.Include(fsBold);
  if (rtf & rtf_fs_Italic) s.Include(fsItalic);
  if (rtf & rtf_fs_Underline) s.Include(fsUnderline);
  if (rtf & rtf_fs_StrikeOut) s.Include(fsStrikeOut);
  return s;
}

// The vertical position class of a style: 0 normal, 1 subscript, 2 superscript.
int32_t VClass(int32_t vshift) { return vshift == 0 ? 0 : (vshift < 0 ? 1 : 2); }

// The character properties as a style would hold them.
struct CharWanted {
  AnsiString font;
  int32_t charset = DEFAULT_CHARSET;
  int32_t size = 10;
  TColor color = clWindowText, back = clNone;
  TFontStyles bits;
  bool caps = false;
  int32_t scale = 100, spacing = 0, vclass = 0;
};

// The first argument of a field instruction (after the field name and its switches);
// pos_after is where the parse may go on.
AnsiString FieldArgument(const AnsiString& instr, size_t& pos_after) {
  size_t i = 0;
  // Skip the field name.
  while (i < instr.size() && instr[i] != ' ') ++i;
  while (i < instr.size()) {
    while (i < instr.size() && instr[i] == ' ') ++i;
    if (i < instr.size() && instr[i] == '\\') {
      // A switch: skip it and its own word.
      while (i < instr.size() && instr[i] != ' ') ++i;
      continue;
    }
    break;
  }
  const size_t start = i;
  if (i < instr.size() && instr[i] == '"') {
    ++i;
    while (i < instr.size() && !(instr[i] == '"' && (i + 1 >= instr.size() || instr[i + 1] == ' '))) ++i;
    if (i < instr.size()) ++i;
  } else {
    while (i < instr.size() && instr[i] != ' ') ++i;
  }
  pos_after = i;
  AnsiString arg = instr.substr(start, i - start);
  if (arg.size() > 1 && arg.front() == '"') {
    arg = arg.substr(1);
    if (!arg.empty() && arg.back() == '"') arg.pop_back();
  }
  return arg;
}

AnsiString Trim(const AnsiString& s) {
  size_t a = 0, b = s.size();
  while (a < b && static_cast<unsigned char>(s[a]) <= ' ') ++a;
  while (b > a && static_cast<unsigned char>(s[b - 1]) <= ' ') --b;
  return s.substr(a, b - a);
}

void ConvertBorder(const TRVRTFParaBorder* rb, double k, TRVBorder& out) {
  out.Style = rvbNone;
  out.Width = 0;
  out.InternalWidth = 0;
  if (!rb) return;
  const TRVRTFBorderSide* side = nullptr;
  bool oriented = false;
  for (int32_t i : {1, 0, 3, 2}) {  // top, left, bottom, right
    const TRVRTFBorderSide* s = rb->SideOrNull(i);
    if (s && s->Style != 0) {
      side = s;
      oriented = i >= 2;
      break;
    }
  }
  if (!side) return;
  const double e = side->Width * k;
  const int32_t f = RoundEven(e);
  auto set = [&](TRVBorderStyle st, int32_t w, int32_t iw) {
    out.Style = st;
    out.Width = w;
    out.InternalWidth = iw;
  };
  const TRVBorderStyle in_out = oriented ? rvbThickInside : rvbThickOutside;
  const TRVBorderStyle out_in = oriented ? rvbThickOutside : rvbThickInside;
  switch (side->Style) {
    case 2: set(rvbSingle, RoundEven(2 * e), 0); break;
    case 4: case 22: set(rvbDouble, f, 2 * f - 1); break;
    case 7: set(rvbSingle, 1, 0); break;
    case 11: set(rvbTriple, f, 2 * f - 1); break;
    case 12: { const int32_t w = RoundEven(e / 2); set(in_out, w, w + (w + 1) / 2); break; }
    case 13: { const int32_t w = RoundEven(e / 2); set(out_in, w, w + (w + 1) / 2); break; }
    case 14: { const int32_t w = RoundEven(e / 3); set(rvbTriple, w, 2 * w - 1); break; }
    case 15: { const int32_t w = RoundEven(e / 2); set(in_out, w, 2 * w + (w + 1) / 2); break; }
    case 16: { const int32_t w = RoundEven(e / 2); set(out_in, w, 2 * w + (w + 1) / 2); break; }
    case 17: { const int32_t w = RoundEven(e / 2); set(rvbTriple, w, 3 * w - 1); break; }
    case 18: set(in_out, 1, f + 1); break;
    case 19: set(out_in, 1, f + 1); break;
    case 20: set(rvbTriple, 1, f); break;
    default: set(rvbSingle, f, 0); break;
  }
  out.Color = side->Color == clNone ? clWindowText : side->Color;
  auto vis = [&](int32_t i) {
    const TRVRTFBorderSide* s = rb->SideOrNull(i);
    return s && s->Style != 0;
  };
  out.VisibleBorders().SetValues(vis(0), vis(1), vis(2), vis(3));
  auto sp = [&](int32_t i) {
    const TRVRTFBorderSide* s = rb->SideOrNull(i);
    return s ? RoundEven(s->Spacing * k) : 0;
  };
  out.BorderOffsets().Left = sp(0);
  out.BorderOffsets().Top = sp(1);
  out.BorderOffsets().Right = sp(2);
  out.BorderOffsets().Bottom = sp(3);
}

}  // namespace

TRVRTFReaderProperties::TRVRTFReaderProperties() = default;
TRVRTFReaderProperties::~TRVRTFReaderProperties() = default;

void TRVRTFReaderProperties::SetTextStyleNo(int32_t value) {
  if (value < 0) throw EDocViewError("Value must not be negative");
  text_style_no_ = value;
}

void TRVRTFReaderProperties::SetParaStyleNo(int32_t value) {
  if (value < 0) throw EDocViewError("Value must not be negative");
  para_style_no_ = value;
}

void TRVRTFReaderProperties::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVRTFReaderProperties*>(source)) {
    UnicodeMode = s->UnicodeMode;
    TextStyleMode = s->TextStyleMode;
    ParaStyleMode = s->ParaStyleMode;
    IgnorePictures = s->IgnorePictures;
    IgnoreTables = s->IgnoreTables;
    SkipHiddenText = s->SkipHiddenText;
    para_style_no_ = s->para_style_no_;
    text_style_no_ = s->text_style_no_;
    UseHypertextStyles = s->UseHypertextStyles;
    LineBreaksAsParagraphs = s->LineBreaksAsParagraphs;
    ExtractMetafileBitmaps = s->ExtractMetafileBitmaps;
    ConvertHighlight = s->ConvertHighlight;
    PictureAllowedFolder = s->PictureAllowedFolder;
    return;
  }
  TPersistent::Assign(source);
}

int32_t TRVRTFReaderProperties::Px(int32_t twips) const { return RoundEven(twips * k_); }

uint8_t TRVRTFReaderProperties::ReadRTFFromStream(TStream& stream, TCustomRVData* document, int32_t& index) {
  uint8_t result = rtf_ec_OK;
  // The list markers are numbered once, when the whole text is in.
  TRVMarkerRecalcBatch marker_batch(document);
  input_size_ = std::max<int64_t>(stream.Size() - stream.Position(), 0);
  grid_cells_ = 0;
  auto reader = std::make_unique<TRVRTFReader>(nullptr);
  reader_ = reader.get();
  try {
    BeginImport(document, index);
    result = reader_->Parse(stream);
  } catch (...) {
    reader_ = nullptr;
    reader.reset();
    EndImport();
    throw;
  }
  reader_ = nullptr;
  reader.reset();
  EndImport();
  index = first_index_;
  return result;
}

void TRVRTFReaderProperties::BeginImport(TCustomRVData* document, int32_t index) {
  k_ = RV_GetScreenPPI() / 1440.0;
  root_ = current_ = document;
  style_ = document->GetRVStyle();
  if (!style_) throw EDocViewError("RTF import needs a style sheet");
  reader_->SetPixelsPerInch(RV_GetScreenPPI());
  reader_->SetConvertHighlight(static_cast<TRVRTFHighlightConvert>(ConvertHighlight));
  reader_->SetPictureBasePath(ResourceBasePath);
  {
    const AnsiString& allowed = PictureAllowedFolder.empty() ? ResourceBasePath : PictureAllowedFolder;
    // Only a folder of this file system (a URL base allows nothing).
    const bool local = !allowed.empty() && allowed.find("://") == AnsiString::npos;
    reader_->SetPictureAllowedFolder(local ? ExpandFileName(allowed) : AnsiString());
  }
  reader_->SetExtractMetafileBitmaps(ExtractMetafileBitmaps);
  reader_->SetDefCodePage(document->GetDefaultCodePage());
  reader_->SetTabAsSeparateChar(style_->SpacesInTab == 0);
  reader_->OnNewText = [this](TRVRTFReader*, const AnsiString& text, TRVRTFPosition pos) { NewText(text, nullptr, pos); };
  if (UnicodeMode != rvruNoUnicode)
    reader_->OnNewUnicodeText = [this](TRVRTFReader*, const WideString& text, TRVRTFPosition pos) {
      NewText(AnsiString(), &text, pos);
    };
  reader_->OnRequiredPageBreak = [this](TRVRTFReader*) {
    page_break_ = true;
    page_break_doc_ = current_;
  };
  reader_->OnTranslateKeyword = [this](TRVRTFReader* r, const AnsiString& kw, int32_t p, bool fp, AnsiString& t,
                                       bool& dd) { DoTranslateKeyword(r, kw, p, fp, t, dd); };
  if (HeaderDocument || FooterDocument) {
    if (HeaderDocument) HeaderDocument->Clear();
    if (FooterDocument) FooterDocument->Clear();
    reader_->OnHeaderFooter = [this](TRVRTFReader* r, TRVRTFHeaderFooterType hf, bool starting, bool& supported) {
      if (starting) {
        TCustomRVData* d = hf == rtf_hf_Header ? HeaderDocument : (hf == rtf_hf_Footer ? FooterDocument : nullptr);
        if (!d) return;
        current_ = d;
        d->Clear();
        const int32_t y = hf == rtf_hf_Header ? r->GroupState().SectProps.HeaderY : r->GroupState().SectProps.FooterY;
        (hf == rtf_hf_Header ? HeaderDistanceMM : FooterDistanceMM) = RoundEven(y * 127.0 / 7200);
        hf_mode_ = hf == rtf_hf_Header ? 1 : 2;
        supported = true;
      } else {
        current_ = root_;
        hf_mode_ = 0;
      }
      if (TRVStyle* s = current_->GetRVStyle()) style_ = s;
    };
  }
  index_ = std::clamp(index, 0, document->ItemCount());
  first_insertion_ = true;
  first_index_ = -1;
  count_after_first_ = 0;
  page_break_ = false;
  page_break_doc_ = nullptr;
  hf_mode_ = 0;
  HeaderDistanceMM = FooterDistanceMM = -1;
  tables_.clear();
  row_index_ = cell_index_ = -1;
  default_para_ = -1;
  last_marker_ = nullptr;
  last_marker_new_ = false;
  old_levels_.clear();
  list_map_.clear();
  lists_built_ = false;
  lists_before_ = style_->ListStyles()->Count();
  moving_out_ = false;
  reader_->OnUpdateMarker = [this](TRVRTFReader*) { UpdateMarker(); };
  if (!IgnorePictures) {
    reader_->OnNewPicture = [this](TRVRTFReader*, TRVRTFPicture* pic, TGraphic* g, TRVRTFPosition pos,
                                   const AnsiString& file, bool& inserted) { NewPicture(pic, g, pos, file, inserted); };
    reader_->OnImportPicture = [this](TRVRTFReader*, const AnsiString& location, TGraphic*& graphic, bool&) {
      graphic = current_->DoImportPicture(location, 0, 0);
    };
  }
  if (!IgnoreTables && RVCreateTableItem)
    reader_->OnTable = [this](TRVRTFReader*, TRVRTFTableEventKind what) { TableEvent(what); };
}

void TRVRTFReaderProperties::EndImport() {
  tables_.clear();
  last_marker_ = nullptr;
  old_levels_.clear();
  list_map_.clear();
  current_ = root_;
  style_ = nullptr;
}

// ---- Text -----------------------------------------------------------------------------------------
void TRVRTFReaderProperties::NewText(const AnsiString& ansi, const WideString* wide, TRVRTFPosition position) {
  const TRVRTFCharProperties& cp = reader_->GroupState().CharProps;
  if (SkipHiddenText && cp.Hidden) return;
  if (LineBreaksAsParagraphs && position == rtf_ts_NewLine) position = rtf_ts_NewPara;
  AnsiString text = ansi;
  bool unicode_in = wide != nullptr;
  const TRVRTFFontList& fonts = reader_->FontTable();
  auto font_code_page = [&]() -> uint32_t {
    uint32_t c = 0;
    if (cp.FontIndex >= 0 && cp.FontIndex < fonts.Count()) {
      const uint8_t cs = fonts.Items(cp.FontIndex)->Charset;
      c = cs == DEFAULT_CHARSET ? 0 : RVU_CharsetToCodePage(cs);
    }
    return c ? c : reader_->CodePageInUse();
  };
  if (unicode_in && UnicodeMode == rvruMixed && cp.FontIndex >= 0 && cp.FontIndex < fonts.Count()) {
    const uint32_t c = font_code_page();
    const std::string raw = RVU_WideStringToRawUnicode(*wide);
    if (RVU_CanConvertToCodePage(c, raw)) {
      text = RVU_UnicodeToAnsi(c, raw);
      unicode_in = false;
    }
  }
  const bool want_unicode = unicode_in || UnicodeMode == rvruOnlyUnicode;
  AnsiString target, options, tip;
  const bool link = ParseHyperlink(target, options, tip);
  int32_t style_no = CurrentTextStyle(want_unicode, link);
  const int32_t para_no = ParaStyleForPosition(position);
  const bool is_tab = unicode_in ? (wide->size() == 1 && (*wide)[0] == u'\t') : text == "\t";
  if (is_tab && style_->SpacesInTab == 0) {
    auto* tab = new TRVTabItemInfo(current_);
    tab->StyleNo = rvsTab;
    tab->TextStyleNo = style_no;
    tab->ParaNo = para_no;
    AnsiString empty;
    InsertItem(empty, tab, position);
    return;
  }
  std::unique_ptr<TCustomRVItemInfo> item(RVTextItemFactory(current_));
  item->BeforeLoading(rvlfRTF);
  TFontInfo* f = style_->TextStyles()->Items(style_no);
  if (f->Unicode) item->ItemOptions.Include(rvioUnicodeText);
  AnsiString stored;
  if (unicode_in)
    stored = f->Unicode ? RVU_WideStringToRawUnicode(*wide) : reader_->WideToAnsi(*wide);
  else
    stored = f->Unicode ? RVU_AnsiToUnicode(font_code_page(), text) : text;
  stored = current_->ReplaceTabs(stored, style_no, f->Unicode);
  TRVTag tag;
  if (link) {
    int32_t s = style_no;
    current_->DoReadHyperlink(target, options, rvlfRTF, s, tag, stored);
    if (s >= 0) style_no = s;
  }
  item->StyleNo = style_no;
  item->ParaNo = para_no;
  item->Tag = tag;
  item->Hint = tip;
  InsertItem(stored, item.release(), position);
}

int32_t TRVRTFReaderProperties::CurrentTextStyle(bool unicode, bool hyperlink) {
  switch (TextStyleMode) {
    case rvrsUseSpecified: return text_style_no_;
    case rvrsAddIfNeeded: {
      const int32_t s = ExactTextStyle(unicode, hyperlink);
      return s >= 0 ? s : AddTextStyle(unicode, hyperlink);
    }
    default: return ClosestTextStyle(unicode, hyperlink);
  }
}

namespace {
CharWanted Wanted(const TRVRTFReader& r, double k) {
  const TRVRTFCharProperties& cp = r.GroupState().CharProps;
  CharWanted w;
  const TRVRTFFontList& fonts = r.FontTable();
  if (!cp.FontNameOverride.empty()) {
    w.font = cp.FontNameOverride;
    w.charset = (AnsiSameText(w.font, "Symbol") || AnsiSameText(w.font, "Wingdings")) ? 2
                : (cp.FontIndex >= 0 && cp.FontIndex < fonts.Count() ? fonts.Items(cp.FontIndex)->Charset : 1);
  } else if (cp.FontIndex >= 0 && cp.FontIndex < fonts.Count()) {
    w.font = fonts.Items(cp.FontIndex)->Name;
    w.charset = fonts.Items(cp.FontIndex)->Charset;
  }
  // The size as given: sub- and superscript text keeps its own size.
  w.size = cp.Size;
  w.color = cp.Color;
  w.back = cp.BackColor;
  w.bits = StyleBits(cp.FontStyle);
  w.caps = (cp.FontStyleEx & 1) != 0;
  w.scale = cp.HScale;
  w.spacing = RoundEven(cp.CharSpacing * k);
  w.vclass = cp.VShift;
  return w;
}

bool JumpAllowed(const TFontInfo* f, bool hyperlink, bool use_hypertext) {
  if (hyperlink) return f->Jump;
  return !f->Jump || use_hypertext;
}
}  // namespace

int32_t TRVRTFReaderProperties::ClosestTextStyle(bool unicode, bool hyperlink) {
  if (reader_->FontTable().Count() == 0) return 0;
  const CharWanted w = Wanted(*reader_, k_);
  int32_t best = 0, best_score = 0;
  TFontInfos* ts = style_->TextStyles();
  for (int32_t i = 0; i < ts->Count(); ++i) {
    TFontInfo* f = ts->Items(i);
    bool allowed = true;
    if (OnFilterStyle) OnFilterStyle(i, true, allowed);
    if (!allowed || f->Unicode != unicode || !JumpAllowed(f, hyperlink, UseHypertextStyles)) continue;
    int64_t score = 0;
    if (AnsiSameText(f->FontName, w.font)) score += 10000;
    if (f->Charset == w.charset)
      score += 50000;
    else if (f->Charset == DEFAULT_CHARSET || w.charset == DEFAULT_CHARSET)
      score += 12500;
    score += CalcIntSimilarity(w.size, f->Size, 10000);
    score += CalcColorSimilarity(f->Color, w.color, 3333, 3000);
    score += CalcColorSimilarity(f->BackColor, w.back, 10000, 50000);
    if (f->StyleEx.Contains(rvfsAllCaps) == w.caps) score += 50000;
    for (TFontStyle b : {fsBold, fsItalic, fsUnderline, fsStrikeOut})
      if (f->Style.Contains(b) == w.bits.Contains(b)) score += 50000;
    if (f->Style.Empty() == w.bits.Empty()) score += 50000;
    score += RoundEven((1.0 - std::abs(f->CharScale - w.scale) / 100.0) * 300);
    score += CalcIntSimilarity(w.spacing, f->CharSpacing, 10000);
    if (VClass(f->VShift) == w.vclass) score += 50000;
    if (!f->StyleEx.Empty()) score /= 4;
    if (score > best_score) {
      best_score = static_cast<int32_t>(std::min<int64_t>(score, INT32_MAX));
      best = i;
    }
  }
  return best;
}

int32_t TRVRTFReaderProperties::ExactTextStyle(bool unicode, bool hyperlink) {
  if (reader_->FontTable().Count() == 0) return 0;
  const CharWanted w = Wanted(*reader_, k_);
  TFontInfos* ts = style_->TextStyles();
  for (int32_t i = 0; i < ts->Count(); ++i) {
    TFontInfo* f = ts->Items(i);
    TRVFontStyles ex = f->StyleEx;
    ex.Exclude(rvfsAllCaps);
    if (AnsiLowerCase(f->FontName) == AnsiLowerCase(w.font) && f->Size == w.size && f->Color == w.color &&
        f->BackColor == w.back && f->Style.Bits() == w.bits.Bits() && f->Charset == w.charset &&
        f->CharScale == w.scale && f->CharSpacing == w.spacing && f->StyleEx.Contains(rvfsAllCaps) == w.caps &&
        VClass(f->VShift) == w.vclass && f->Unicode == unicode && ex.Empty() &&
        JumpAllowed(f, hyperlink, UseHypertextStyles))
      return i;
  }
  return -1;
}

int32_t TRVRTFReaderProperties::AddTextStyle(bool unicode, bool hyperlink) {
  const CharWanted w = Wanted(*reader_, k_);
  TFontInfo* f = style_->TextStyles()->Add();
  f->Standard = false;
  f->Jump = hyperlink;
  f->Unicode = unicode;
  f->Style = w.bits;
  f->Size = w.size;
  f->Color = w.color;
  f->BackColor = w.back;
  if (!w.font.empty()) f->FontName = w.font;
  f->Charset = static_cast<TFontCharset>(w.charset);
  f->CharScale = w.scale;
  f->CharSpacing = w.spacing;
  f->VShift = w.vclass == 1 ? -25 : (w.vclass == 2 ? 45 : 0);
  if (w.caps) f->StyleEx.Include(rvfsAllCaps);
  return style_->TextStyles()->Count() - 1;
}

// ---- Paragraphs ------------------------------------------------------------------------------------
int32_t TRVRTFReaderProperties::CurrentParaStyle() {
  if (ParaStyleMode == rvrsUseSpecified) return para_style_no_;
  const TRVRTFParaProperties& pp = reader_->GroupState().ParaProps;
  const int32_t left = Px(pp.LeftIndent), right = Px(pp.RightIndent), first = Px(pp.FirstIndent);
  const int32_t before = Px(pp.SpaceBefore), after = Px(pp.SpaceAfter);
  int32_t percent = std::abs(pp.LineSpacing) * 100 / 240;
  TRVBorder border;
  ConvertBorder(pp.BorderOrNull(), k_, border);
  const bool has_border = pp.HasBorder() && border.Style != rvbNone;
  const TRVRTFTabList* tabs = pp.TabsOrNull();
  const int32_t ntabs = tabs ? tabs->Count() : 0;
  auto tab_align = [](uint8_t kind) { return kind == 1 || kind == 3 ? rvtaRight : (kind == 2 ? rvtaCenter : rvtaLeft); };
  auto tab_leader = [](uint8_t l) -> AnsiString {
    switch (l) {
      case 1: return ".";
      case 2: return AnsiString(1, '\xB7');
      case 3: return "-";
      case 4: return "_";
      case 5: return "=";
      default: return AnsiString();
    }
  };
  TParaInfos* ps = style_->ParaStyles();
  if (ParaStyleMode == rvrsUseClosest) {
    percent = std::max(percent, 100);
    int32_t best = 0;
    int64_t best_score = 0;
    for (int32_t i = 0; i < ps->Count(); ++i) {
      bool allowed = true;
      if (OnFilterStyle) OnFilterStyle(i, false, allowed);
      if (!allowed) continue;
      TParaInfo* p = ps->Items(i);
      const int32_t b = p->Border().Style == rvbNone ? 0 : p->Border().GetTotalWidth();
      int64_t score = 0;
      if (static_cast<uint8_t>(p->Alignment) == pp.Alignment) score += 50000;
      score += CalcIntSimilarity(b + left, p->LeftIndent, 1000);
      score += CalcIntSimilarity(b + right, p->RightIndent, 1000);
      score += CalcIntSimilarity(b + before, p->SpaceBefore, 1000);
      score += CalcIntSimilarity(b + after, p->SpaceAfter, 1000);
      score += CalcIntSimilarity(first, p->FirstIndent, 1000);
      score += CalcColorSimilarity(p->Background().Color, pp.Color, 10000, 50000);
      if (p->Options.Contains(rvpaoKeepLinesTogether) == pp.KeepLinesTogether) score += 500;
      if (p->Options.Contains(rvpaoKeepWithNext) == pp.KeepWithNext) score += 500;
      if (pp.LineSpacingMulti) {
        if (p->LineSpacingType == rvlsSpaceBetween)
          score += p->LineSpacing > 1 ? -20000 : (percent <= 100 ? 5000 : 0);
        else
          score += CalcIntSimilarity(percent, std::max(p->LineSpacing, 100), 5000);
      }
      if (style_->SpacesInTab <= 0) {
        const int32_t m = p->Tabs().Count();
        for (int32_t t = 0; t < std::min(ntabs, m); ++t) {
          const TRVRTFTab* rt = tabs->Items(t);
          TRVTabInfo* ti = p->Tabs().Items(t);
          score += CalcIntSimilarity(Px(rt->Position), ti->Position(), 200);
          if (ti->Align == tab_align(rt->Kind)) score += 100;
          if (ti->Leader == tab_leader(rt->Leader)) score += 50;
        }
        score -= 400 * std::abs(ntabs - m);
      }
      if (!has_border && p->Border().Style == rvbNone) score += 20000;
      if (has_border && p->Border().Style == border.Style) score += 5000;
      if (score > best_score) {
        best_score = score;
        best = i;
      }
    }
    return best;
  }
  // Add if needed: an exact match or a new style.
  int32_t l = left, r = right, sb = before, sa = after;
  if (has_border) {
    const int32_t tw = border.GetTotalWidth();
    l = std::max(l, border.BorderOffsets().Left + tw - 1);
    sb = std::max(sb, border.BorderOffsets().Top + tw - 1);
    r = std::max(r, border.BorderOffsets().Right + tw - 1);
    sa = std::max(sa, border.BorderOffsets().Bottom + tw - 1);
  }
  for (int32_t i = 0; i < ps->Count(); ++i) {
    TParaInfo* p = ps->Items(i);
    if (static_cast<uint8_t>(p->Alignment) != pp.Alignment || p->LeftIndent != l || p->RightIndent != r ||
        p->FirstIndent != first || p->SpaceBefore != sb || p->SpaceAfter != sa || p->Background().Color != pp.Color ||
        p->Options.Contains(rvpaoKeepLinesTogether) != pp.KeepLinesTogether ||
        p->Options.Contains(rvpaoKeepWithNext) != pp.KeepWithNext)
      continue;
    if (pp.LineSpacingMulti) {
      if (p->LineSpacingType == rvlsSpaceBetween) {
        if (!(p->LineSpacing < 2 && percent < 101)) continue;
      } else if (!(p->LineSpacing == percent || (p->LineSpacing < 100 && percent < 100))) {
        continue;
      }
    }
    if (style_->SpacesInTab <= 0) {
      if (p->Tabs().Count() != ntabs) continue;
      bool same = true;
      for (int32_t t = 0; t < ntabs && same; ++t) {
        const TRVRTFTab* rt = tabs->Items(t);
        TRVTabInfo* ti = p->Tabs().Items(t);
        same = ti->Position() == Px(rt->Position) && ti->Align == tab_align(rt->Kind) &&
               ti->Leader == tab_leader(rt->Leader);
      }
      if (!same) continue;
    }
    if (!has_border) {
      if (p->Border().Style != rvbNone) continue;
    } else {
      const TRVBorder& pb = p->Border();
      if (pb.Style != border.Style || pb.Width != border.Width ||
          (border.Style != rvbSingle && pb.InternalWidth != border.InternalWidth) || pb.Color != border.Color ||
          !pb.VisibleBorders().IsEqual(&border.VisibleBorders()) || !pb.BorderOffsets().IsEqual(&border.BorderOffsets()))
        continue;
    }
    return i;
  }
  TParaInfo* p = ps->Add();
  p->Standard = false;
  p->Alignment = static_cast<TRVAlignment>(pp.Alignment & 3);
  p->FirstIndent = first;
  p->LeftIndent = l;
  p->RightIndent = r;
  p->SpaceBefore = sb;
  p->SpaceAfter = sa;
  if (pp.LineSpacingMulti) {
    p->LineSpacingType = rvlsPercent;
    p->LineSpacing = pp.LineSpacing * 100 / 240;
  }
  p->Background().Color = pp.Color;
  p->Options.Set(rvpaoKeepLinesTogether, pp.KeepLinesTogether);
  p->Options.Set(rvpaoKeepWithNext, pp.KeepWithNext);
  for (int32_t t = 0; t < ntabs; ++t) {
    const TRVRTFTab* rt = tabs->Items(t);
    TRVTabInfo* ti = p->Tabs().Add();
    ti->SetPosition(Px(rt->Position));
    ti->Leader = tab_leader(rt->Leader);
    ti->Align = tab_align(rt->Kind);
  }
  if (has_border) p->SetBorder(&border);
  return ps->Count() - 1;
}

int32_t TRVRTFReaderProperties::ParaStyleForPosition(TRVRTFPosition position) {
  if (position == rtf_ts_NewPara) return CurrentParaStyle();
  if (current_ == root_) return index_ > 0 ? root_->GetItemPara(index_ - 1) : 0;
  return current_->ItemCount() > 0 ? current_->GetItemPara(current_->ItemCount() - 1) : 0;
}

// ---- Insertion -------------------------------------------------------------------------------------
// A text run that continues the line of a run of the same text style (the reader starts a
// new run at every switch between code-page and Unicode characters) joins it, as the
// document's own merging of text items allows: same style, encoding, hint and tag, no
// checkpoint on the new run, no style protection against concatenation. A run whose style
// is the other encoding's twin of the previous run's (every property the same but Unicode)
// joins it too, as one Unicode item: the code-page text is converted, which loses nothing,
// so that a text whose words mix the two kinds of characters is not cut into pieces.
bool TRVRTFReaderProperties::JoinsPrevious(TCustomRVData* d, int32_t prev_no, TCustomRVItemInfo* item,
                                           const AnsiString& text) {
  if (prev_no < 0 || item->StyleNo < 0 || text.empty() || !item->GetSameAsPrev() || item->GetBR() ||
      item->GetPageBreakBefore() || item->Checkpoint)
    return false;
  TCustomRVItemInfo* prev = d->GetItem(prev_no);
  const bool prev_unicode = prev->ItemOptions.Contains(rvioUnicodeText);
  const bool item_unicode = item->ItemOptions.Contains(rvioUnicodeText);
  if (prev->StyleNo < 0 || prev->ParaNo != item->ParaNo || d->GetItemTextRaw(prev_no).empty() ||
      prev->Hint != item->Hint || !RV_CompareTags(prev->Tag, item->Tag, false) ||
      !RV_CompareTags(prev->Tag, item->Tag, true))
    return false;
  TRVStyle* style = d->GetRVStyle();
  if (prev->StyleNo != item->StyleNo || prev_unicode != item_unicode) {
    if (!style || prev_unicode == item_unicode || prev->StyleNo >= style->TextStyles()->Count() ||
        item->StyleNo >= style->TextStyles()->Count())
      return false;
    TFontInfo* a = style->TextStyles()->Items(prev->StyleNo);
    TFontInfo* b = style->TextStyles()->Items(item->StyleNo);
    if (a->Unicode != prev_unicode || b->Unicode != item_unicode ||
        !a->SamePropertiesExcept(b, TRVFontInfoProperties{rvfiUnicode}) || a->StyleName != b->StyleName)
      return false;
  }
  if (style) {
    for (TCustomRVItemInfo* it : {prev, item}) {
      const TFontInfo* f = style->TextStyles()->Items(d->GetActualStyle(it));
      if (f->Protection.Contains(rvprModifyProtect) || f->Protection.Contains(rvprConcateProtect)) return false;
    }
  }
  AnsiString tail = text;
  if (prev_unicode != item_unicode) {
    if (item_unicode) {
      // The earlier run becomes the Unicode twin.
      d->SetItemTextRaw(prev_no, RVU_AnsiToUnicode(d->GetStyleCodePage(prev->StyleNo), d->GetItemTextRaw(prev_no)));
      prev->StyleNo = item->StyleNo;
      prev->ItemOptions.Include(rvioUnicodeText);
    } else {
      tail = RVU_AnsiToUnicode(d->GetStyleCodePage(item->StyleNo), text);
    }
  }
  d->SetItemTextRaw(prev_no, d->GetItemTextRaw(prev_no) + tail);
  return true;
}

void TRVRTFReaderProperties::InsertItem(AnsiString& text, TCustomRVItemInfo* raw, TRVRTFPosition position) {
  std::unique_ptr<TCustomRVItemInfo> item(raw);
  // The first item of a list paragraph follows the paragraph's list marker.
  if ((position == rtf_ts_NewPara || (position == rtf_ts_NewLine && LineBreaksAsParagraphs)) &&
      raw->StyleNo != rvsListMarker && raw->StyleNo != rvsTable && ParaStyleMode == rvrsAddIfNeeded && !moving_out_) {
    TCustomRVData* d = current_;
    const int32_t before = d == root_ ? index_ : d->ItemCount();
    InsertMarkerIfNeeded();
    if ((d == root_ ? index_ : d->ItemCount()) != before) {
      position = rtf_ts_ContinuePara;
      raw->ParaNo = d == root_ ? root_->GetItemPara(index_ - 1) : d->GetItemPara(d->ItemCount() - 1);
    }
  }
  if (position == rtf_ts_ContinuePara)
    item->SetSameAsPrev(true);
  else if (position == rtf_ts_NewLine && !LineBreaksAsParagraphs)
    item->SetBR(true);
  if (page_break_ && page_break_doc_ == current_) {
    item->SetPageBreakBefore(true);
    page_break_ = false;
  }
  if (current_ == root_) {
    // Nothing continues a line at the start of the document or after a full-width item.
    if (index_ == 0 || root_->GetItem(index_ - 1)->GetBoolValue(0)) {
      item->SetSameAsPrev(false);
      if (index_ == 0) item->SetBR(false);
    }
    if (item->GetSameAsPrev()) item->ParaNo = root_->GetItemPara(index_ - 1);
    if (first_insertion_) {
      int32_t a = 0, b = 0;
      TCustomRVItemInfo* it = item.release();
      if (!root_->InsertRVFItem(index_, text, it, false, a, b)) {
        delete it;
        throw EAbort("");
      }
      it->AfterLoading(rvlfRTF);
      first_index_ = index_;
      ++index_;
      first_insertion_ = false;
      return;
    }
    if (index_ - 1 >= first_index_ && JoinsPrevious(root_, index_ - 1, item.get(), text)) return;
    TCustomRVItemInfo* it = item.get();
    it->Inserting(root_, text, false);
    root_->Items().InsertObject(index_, text, item.release());
    it->Inserted(root_, index_);
    it->AfterLoading(rvlfRTF);
    root_->AddMarkerInList(index_);
    ++index_;
    ++count_after_first_;
    return;
  }
  TCustomRVData* d = current_;
  if (d->ItemCount() == 0 || d->GetItem(d->ItemCount() - 1)->GetBoolValue(0)) {
    item->SetSameAsPrev(false);
    if (d->ItemCount() == 0) item->SetBR(false);
  }
  // Only the cells of tables read now are this import's own from their first item.
  if (!tables_.empty() && hf_mode_ == 0 && d->ItemCount() > 0 && JoinsPrevious(d, d->ItemCount() - 1, item.get(), text)) {
    NoteCellContent();
    return;
  }
  TCustomRVItemInfo* it = item.get();
  it->Inserting(d, text, false);
  d->Items().AddObject(text, item.release());
  it->Inserted(d, d->ItemCount() - 1);
  d->AddMarkerInList(d->ItemCount() - 1);
  if (hf_mode_ != 0) it->AfterLoading(rvlfRTF);
  NoteCellContent();
}

// ---- Pictures --------------------------------------------------------------------------------------
void TRVRTFReaderProperties::NewPicture(TRVRTFPicture* pic, TGraphic* graphic, TRVRTFPosition position,
                                        const AnsiString& file_name, bool& inserted) {
  // The reader's graphic becomes the item's once the item is being inserted (inserted set);
  // until then it stays the reader's.
  inserted = false;
  std::unique_ptr<TGraphic> placeholder;
  if (!graphic) {
    // The other form of a picture group is read instead; a picture that cannot be shown
    // keeps its place as an empty framed box.
    if (pic && pic->ShpPict) return;
    placeholder = std::make_unique<TBitmap>(20, 20);
  }
  TGraphic* shown = graphic ? graphic : placeholder.get();
  AnsiString target, options, tip;
  const bool link = ParseHyperlink(target, options, tip);
  std::unique_ptr<TRVGraphicItemInfo> item;
  TRVTag tag;
  AnsiString text;
  if (link) {
    int32_t style_no = rvsPicture;
    current_->DoReadHyperlink(target, options, rvlfRTF, style_no, tag, text);
    std::unique_ptr<TCustomRVItemInfo> made = CreateRVItem(style_no, current_);
    auto* pi = dynamic_cast<TRVGraphicItemInfo*>(made.get());
    if (!pi) throw EDocViewError("A hyperlinked picture needs a picture item kind");
    made.release();
    item.reset(pi);
    item->Tag = tag;
  } else {
    item = std::make_unique<TRVGraphicItemInfo>(current_);
    item->StyleNo = rvsPicture;
  }
  if (pic) {
    // The display size as the document gives it, for metafiles and scaled pictures; bounded
    // as the reader bounds the sizes it computes.
    const bool meta = dynamic_cast<TMetafile*>(shown) != nullptr;
    auto scaled = [](int32_t w, int32_t own, int32_t scale) {
      const double base = w < 1 ? own : w;
      return static_cast<int32_t>(
          std::clamp(std::nearbyint(base / 100.0 * scale), 0.0, static_cast<double>(RTF_MAX_PICTURE_SIZE)));
    };
    if (meta || pic->PicScaleX != 100) item->ImageWidth = scaled(pic->SuggestedWidth, shown->Width(), pic->PicScaleX);
    if (meta || pic->PicScaleY != 100) item->ImageHeight = scaled(pic->SuggestedHeight, shown->Height(), pic->PicScaleY);
  }
  item->ParaNo = ParaStyleForPosition(position);
  item->Hint = tip;
  if (StoreImagesFileNames && !file_name.empty()) item->SetExtraStrProperty(3, file_name);
  item->BeforeLoading(rvlfRTF);
  item->Image.reset(placeholder ? placeholder.release() : graphic);
  inserted = true;
  InsertItem(text, item.release(), position);
}

// ---- Hyperlinks ------------------------------------------------------------------------------------
bool TRVRTFReaderProperties::ParseHyperlink(AnsiString& target, AnsiString& options, AnsiString& tip) const {
  AnsiString instr = Trim(reader_->GroupState().FieldCode);
  if (!instr.empty() && instr[0] == '\\') instr = instr.substr(1);
  if (instr.size() < 9 || AnsiUpperCase(instr.substr(0, 9)) != "HYPERLINK") return false;
  size_t after = 0;
  target = FieldArgument(instr, after);
  RV_ReplaceAll(target, "\\\\", "\\");
  target = RV_DecodeURL(target);
  if (BasePathLinks && !ResourceBasePath.empty() && target.find(':') == AnsiString::npos)
    target = ResourceBasePath + target;
  options = Trim(after < instr.size() ? instr.substr(after) : AnsiString());
  // The screen tip: the value of "\o".
  bool quoted = false;
  for (size_t i = 0; i + 2 < options.size(); ++i) {
    if (options[i] == '"') quoted = !quoted;
    if (!quoted && options[i] == '\\' && options[i + 1] == 'o' && options[i + 2] == ' ') {
      size_t j = i + 3;
      if (j < options.size() && options[j] == '"') {
        const size_t e = options.find('"', j + 1);
        tip = options.substr(j + 1, (e == AnsiString::npos ? options.size() : e) - j - 1);
      } else {
        const size_t e = options.find(' ', j);
        tip = options.substr(j, (e == AnsiString::npos ? options.size() : e) - j);
      }
      break;
    }
  }
  return true;
}

}  // namespace pelvar
