#include "richtext/model/RVStyle.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/checked.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "richtext/model/RVStyle_list.h"

namespace pelvar {

bool CompareStyleNames = false;
bool ResetStandardOnMerge = true;

namespace {

int32_t Add32(int32_t a, int32_t b) { return static_cast<int32_t>(CheckedAdd(a, b)); }

bool SameFontName(const AnsiString& a, const AnsiString& b) { return AnsiCompareText(a, b) == 0; }

}  // namespace

// ---- INI helpers -------------------------------------------------------------------------

AnsiString RVIniKey(const AnsiString& key_format, const AnsiString& name) { return Format(key_format, {name}); }

void RVWriteIniInt(TIniFile& ini, const AnsiString& section, const AnsiString& key, int32_t value, int32_t def) {
  if (value != def) ini.WriteInteger(section, key, value);
}

void RVWriteIniBool(TIniFile& ini, const AnsiString& section, const AnsiString& key, bool value, bool def) {
  if (value != def) ini.WriteString(section, key, value ? "Yes" : "No");
}

bool RVReadIniBool(const TIniFile& ini, const AnsiString& section, const AnsiString& key, bool def) {
  return UpperCase(ini.ReadString(section, key, def ? "Yes" : "No")) == "YES";
}

void RVWriteLongString(TIniFile& ini, const AnsiString& section, const AnsiString& key, const AnsiString& value) {
  constexpr size_t kPiece = 500;
  for (size_t i = 0, n = 0; i < value.size(); i += kPiece, ++n)
    ini.WriteString(section, key + "_" + IntToStr(static_cast<int64_t>(n)), value.substr(i, kPiece));
}

AnsiString RVReadLongString(const TIniFile& ini, const AnsiString& section, const AnsiString& key) {
  AnsiString result;
  for (int64_t n = 0;; ++n) {
    AnsiString piece = ini.ReadString(section, key + "_" + IntToStr(n), "");
    if (piece.empty()) break;
    result += piece;
  }
  return result;
}

// ---- TCustomRVInfo -----------------------------------------------------------------------

TCustomRVInfo::TCustomRVInfo(TCollection* collection) : TCollectionItem(collection) {}

void TCustomRVInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TCustomRVInfo*>(source)) {
    BaseStyleNo = s->BaseStyleNo;
    StyleName = s->StyleName;
    Standard = s->Standard;
    StyleTemplateId = s->StyleTemplateId;
    return;
  }
  TCollectionItem::Assign(source);
}

bool TCustomRVInfo::SameProperties(TCustomRVInfo*, bool, bool) { return false; }
bool TCustomRVInfo::SameAsMapped(TCustomRVInfo*, const TRVIntegerList&) { return false; }
int32_t TCustomRVInfo::Closeness(TCustomRVInfo*) { return 0; }

// ---- TCustomRVFontInfo -------------------------------------------------------------------

TCustomRVFontInfo::TCustomRVFontInfo(TCollection* collection) : TCustomRVInfo(collection) {
  StyleName = "Font Style";
}

void TCustomRVFontInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TCustomRVFontInfo*>(source)) {
    BiDiMode = s->BiDiMode;
    Jump = s->Jump;
    JumpCursor = s->JumpCursor;
    FontName = s->FontName;
    Size = s->Size;
    Color = s->Color;
    BackColor = s->BackColor;
    HoverColor = s->HoverColor;
    HoverBackColor = s->HoverBackColor;
    Style = s->Style;
    StyleEx = s->StyleEx;
    VShift = s->VShift;
    Charset = s->Charset;
    Protection = s->Protection;
    Options = s->Options;
    CharScale = s->CharScale;
    CharSpacing = s->CharSpacing;
  }
  TCustomRVInfo::Assign(source);
}

void TCustomRVFontInfo::AssignFont(const TFont& font) {
  FontName = font.Name();
  Size = font.Size();
  Color = font.Color();
  Style = font.Style();
  Charset = font.Charset();
}

void TCustomRVFontInfo::AssignToFont(TFont& font) const {
  font.SetName(FontName);
  font.SetSize(Size);
  font.SetColor(Color);
  font.SetStyle(Style);
  font.SetCharset(Charset);
}

void TCustomRVFontInfo::AssignProperties(TCustomRVFontInfo* source, TRVFontInfoProperties mask) {
  auto flag = [&](TRVFontInfoProperty p, TFontStyle fs) {
    if (mask.Contains(p)) {
      if (source->Style.Contains(fs))
        Style.Include(fs);
      else
        Style.Exclude(fs);
    }
  };
  if (mask.Contains(rvfiFontName)) FontName = source->FontName;
  if (mask.Contains(rvfiSize)) Size = source->Size;
  if (mask.Contains(rvfiCharset)) Charset = source->Charset;
  flag(rvfiBold, fsBold);
  flag(rvfiItalic, fsItalic);
  flag(rvfiUnderline, fsUnderline);
  flag(rvfiStrikeout, fsStrikeOut);
  if (mask.Contains(rvfiOverline)) StyleEx.Set(rvfsOverline, source->StyleEx.Contains(rvfsOverline));
  if (mask.Contains(rvfiAllCaps)) StyleEx.Set(rvfsAllCaps, source->StyleEx.Contains(rvfsAllCaps));
  if (mask.Contains(rvfiVShift)) VShift = source->VShift;
  if (mask.Contains(rvfiColor)) Color = source->Color;
  if (mask.Contains(rvfiBackColor)) BackColor = source->BackColor;
  if (mask.Contains(rvfiJump)) Jump = source->Jump;
  if (mask.Contains(rvfiHoverBackColor)) HoverBackColor = source->HoverBackColor;
  if (mask.Contains(rvfiHoverColor)) HoverColor = source->HoverColor;
  if (mask.Contains(rvfiJumpCursor)) JumpCursor = source->JumpCursor;
  if (mask.Contains(rvfiProtection)) Protection = source->Protection;
  if (mask.Contains(rvfiCharScale)) CharScale = source->CharScale;
  if (mask.Contains(rvfiBiDiMode)) BiDiMode = source->BiDiMode;
  if (mask.Contains(rvfiCharSpacing)) CharSpacing = source->CharSpacing;
  if (mask.Contains(rvfiHTMLCode)) Options.Set(rvteoHTMLCode, source->Options.Contains(rvteoHTMLCode));
  if (mask.Contains(rvfiRTFCode)) Options.Set(rvteoRTFCode, source->Options.Contains(rvteoRTFCode));
}

bool TCustomRVFontInfo::SameProperties(TCustomRVInfo* value, bool, bool) {
  auto* v = dynamic_cast<TCustomRVFontInfo*>(value);
  if (v == nullptr) return false;
  bool same = Size == v->Size && Charset == v->Charset && Style == v->Style && StyleEx == v->StyleEx &&
              SameFontName(FontName, v->FontName) && VShift == v->VShift && Color == v->Color &&
              BackColor == v->BackColor && Jump == v->Jump &&
              (!Jump || (HoverColor == v->HoverColor && HoverBackColor == v->HoverBackColor &&
                         JumpCursor == v->JumpCursor)) &&
              Protection == v->Protection && Options == v->Options && CharScale == v->CharScale &&
              CharSpacing == v->CharSpacing && BiDiMode == v->BiDiMode;
  if (same && CompareStyleNames) same = StyleName == v->StyleName;
  return same;
}

bool TCustomRVFontInfo::SamePropertiesExcept(TCustomRVInfo* value, TRVFontInfoProperties ignore) {
  auto* v = dynamic_cast<TCustomRVFontInfo*>(value);
  if (v == nullptr) return false;
  auto differs = [&](TRVFontInfoProperty p, bool equal) { return !ignore.Contains(p) && !equal; };
  auto fs = [&](TFontStyle f) { return Style.Contains(f) == v->Style.Contains(f); };
  if (differs(rvfiSize, Size == v->Size) || differs(rvfiCharset, Charset == v->Charset) ||
      differs(rvfiBold, fs(fsBold)) || differs(rvfiItalic, fs(fsItalic)) || differs(rvfiUnderline, fs(fsUnderline)) ||
      differs(rvfiStrikeout, fs(fsStrikeOut)) ||
      differs(rvfiOverline, StyleEx.Contains(rvfsOverline) == v->StyleEx.Contains(rvfsOverline)) ||
      differs(rvfiAllCaps, StyleEx.Contains(rvfsAllCaps) == v->StyleEx.Contains(rvfsAllCaps)) ||
      differs(rvfiFontName, SameFontName(FontName, v->FontName)) || differs(rvfiVShift, VShift == v->VShift) ||
      differs(rvfiColor, Color == v->Color) || differs(rvfiBackColor, BackColor == v->BackColor) ||
      differs(rvfiJump, Jump == v->Jump))
    return false;
  if (Jump && (differs(rvfiHoverColor, HoverColor == v->HoverColor) ||
               differs(rvfiHoverBackColor, HoverBackColor == v->HoverBackColor) ||
               differs(rvfiJumpCursor, JumpCursor == v->JumpCursor)))
    return false;
  if (differs(rvfiProtection, Protection == v->Protection) ||
      differs(rvfiRTFCode, Options.Contains(rvteoRTFCode) == v->Options.Contains(rvteoRTFCode)) ||
      differs(rvfiHTMLCode, Options.Contains(rvteoHTMLCode) == v->Options.Contains(rvteoHTMLCode)) ||
      differs(rvfiCharScale, CharScale == v->CharScale) || differs(rvfiCharSpacing, CharSpacing == v->CharSpacing) ||
      differs(rvfiBiDiMode, BiDiMode == v->BiDiMode) || differs(rvfiBaseStyleNo, BaseStyleNo == v->BaseStyleNo))
    return false;
  if (CompareStyleNames && StyleName != v->StyleName) return false;
  return true;
}

bool TCustomRVFontInfo::SameAsMapped(TCustomRVInfo* value, const TRVIntegerList&) {
  return SameProperties(value, true, false);
}

int32_t TCustomRVFontInfo::Closeness(TCustomRVInfo* value) {
  auto* v = dynamic_cast<TCustomRVFontInfo*>(value);
  if (v == nullptr) return 0;
  int32_t r = CalcIntSimilarity(v->Size, Size, 10000);
  r = Add32(r, CalcIntSimilarity(v->VShift, VShift, 1000));
  r = Add32(r, CalcIntSimilarity(v->CharScale, CharScale, 300));
  r = Add32(r, CalcIntSimilarity(v->CharSpacing, CharSpacing, 1000));
  r = Add32(r, CalcColorSimilarity(v->Color, Color, 3333, 3000));
  r = Add32(r, CalcColorSimilarity(v->BackColor, BackColor, 10000, 50000));
  if (BiDiMode == v->BiDiMode) r = Add32(r, 10000);
  if (SameFontName(FontName, v->FontName)) r = Add32(r, 10000);
  for (TFontStyle f : {fsBold, fsItalic, fsUnderline, fsStrikeOut})
    if (Style.Contains(f) == v->Style.Contains(f)) r = Add32(r, 50000);
  for (TRVFontStyle f : {rvfsOverline, rvfsAllCaps})
    if (StyleEx.Contains(f) == v->StyleEx.Contains(f)) r = Add32(r, 50000);
  bool plain = Style == TFontStyles() && StyleEx.Empty();
  bool v_plain = v->Style == TFontStyles() && v->StyleEx.Empty();
  if (plain == v_plain) r = Add32(r, 50000);
  if (Jump && v->Jump) {
    if (JumpCursor == v->JumpCursor) r = Add32(r, 5000);
    r = Add32(r, CalcColorSimilarity(v->HoverColor, HoverColor, 3333, 3000) / 2);
    r = Add32(r, CalcColorSimilarity(v->HoverBackColor, HoverBackColor, 10000, 50000) / 2);
  }
  if (Protection != v->Protection) r = static_cast<int32_t>(CheckedSub(r, 100000));
  if (Options.Contains(rvteoHTMLCode) == v->Options.Contains(rvteoHTMLCode)) r = Add32(r, 50000);
  if (Options.Contains(rvteoRTFCode) == v->Options.Contains(rvteoRTFCode)) r = Add32(r, 50000);
  if (Charset == v->Charset)
    r = Add32(r, 50000);
  else if (Charset == DEFAULT_CHARSET || v->Charset == DEFAULT_CHARSET)
    r = Add32(r, 12500);
  return r;
}

void TCustomRVFontInfo::WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  auto key = [&](const char* k) { return RVIniKey(kf, k); };
  ini.WriteString(section, key("StyleName"), StyleName);
  RVWriteIniInt(ini, section, key("BaseStyleNo"), BaseStyleNo, -1);
  RVWriteIniInt(ini, section, key("Standard"), Standard ? 1 : 0, 1);
  ini.WriteString(section, key("Name"), FontName);
  ini.WriteString(section, key("Jump"), Jump ? "Yes" : "No");
  RVWriteIniInt(ini, section, key("Size"), Size, 10);
  RVWriteIniInt(ini, section, key("Color"), Color, clWindowText);
  RVWriteIniInt(ini, section, key("BackColor"), BackColor, clNone);
  RVWriteIniInt(ini, section, key("HoverBackColor"), HoverBackColor, clNone);
  RVWriteIniInt(ini, section, key("HoverColor"), HoverColor, clNone);
  RVWriteIniInt(ini, section, key("JumpCursor"), JumpCursor, crJump);
  RVWriteIniInt(ini, section, key("Charset"), Charset, DEFAULT_CHARSET);
  RVWriteIniInt(ini, section, key("CharScale"), CharScale, 100);
  RVWriteIniInt(ini, section, key("CharSpacing"), CharSpacing, 0);
  RVWriteIniInt(ini, section, key("BiDiMode"), BiDiMode, rvbdUnspecified);
  RVWriteIniBool(ini, section, key("Bold"), Style.Contains(fsBold), false);
  RVWriteIniBool(ini, section, key("Underline"), Style.Contains(fsUnderline), false);
  RVWriteIniBool(ini, section, key("StrikeOut"), Style.Contains(fsStrikeOut), false);
  RVWriteIniBool(ini, section, key("Italic"), Style.Contains(fsItalic), false);
  RVWriteIniBool(ini, section, key("Overline"), StyleEx.Contains(rvfsOverline), false);
  RVWriteIniBool(ini, section, key("Caps"), StyleEx.Contains(rvfsAllCaps), false);
  RVWriteIniInt(ini, section, key("Protection"), Protection.ToBits() & 0x7FF, 0);
  RVWriteIniBool(ini, section, key("RTFCode"), Options.Contains(rvteoRTFCode), false);
  RVWriteIniBool(ini, section, key("HTMLCode"), Options.Contains(rvteoHTMLCode), false);
  RVWriteIniInt(ini, section, key("VShift"), VShift, 0);
}

void TCustomRVFontInfo::ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& kf,
                                bool jump_by_default, TCursor def_jump_cursor) {
  auto key = [&](const char* k) { return RVIniKey(kf, k); };
  StyleName = ini.ReadString(section, key("StyleName"), "Font Style");
  BaseStyleNo = ini.ReadInteger(section, key("BaseStyleNo"), -1);
  Standard = ini.ReadInteger(section, key("Standard"), 1) != 0;
  FontName = ini.ReadString(section, key("Name"), "Arial");
  if (ini.ValueExists(section, key("Jump"))) {
    Jump = RVReadIniBool(ini, section, key("Jump"), false);
    JumpCursor = static_cast<TCursor>(ini.ReadInteger(section, key("JumpCursor"), crJump));
  } else {
    Jump = jump_by_default;
    JumpCursor = def_jump_cursor;
  }
  Size = ini.ReadInteger(section, key("Size"), 10);
  Color = ini.ReadInteger(section, key("Color"), clWindowText);
  BackColor = ini.ReadInteger(section, key("BackColor"), clNone);
  HoverBackColor = ini.ReadInteger(section, key("HoverBackColor"), clNone);
  HoverColor = ini.ReadInteger(section, key("HoverColor"), clNone);
  Charset = static_cast<TFontCharset>(ini.ReadInteger(section, key("Charset"), DEFAULT_CHARSET));
  CharScale = ini.ReadInteger(section, key("CharScale"), 100);
  CharSpacing = ini.ReadInteger(section, key("CharSpacing"), 0);
  int32_t bidi = ini.ReadInteger(section, key("BiDiMode"), rvbdUnspecified);
  // An ordinal outside the enumeration would give an invalid value; keep the default.
  BiDiMode = bidi >= rvbdUnspecified && bidi <= rvbdRightToLeft ? static_cast<TRVBiDiMode>(bidi) : rvbdUnspecified;
  Style = TFontStyles();
  StyleEx = TRVFontStyles();
  Options = TRVTextOptions();
  if (RVReadIniBool(ini, section, key("Bold"), false)) Style.Include(fsBold);
  if (RVReadIniBool(ini, section, key("Underline"), false)) Style.Include(fsUnderline);
  if (RVReadIniBool(ini, section, key("StrikeOut"), false)) Style.Include(fsStrikeOut);
  if (RVReadIniBool(ini, section, key("Italic"), false)) Style.Include(fsItalic);
  if (RVReadIniBool(ini, section, key("Overline"), false)) StyleEx.Include(rvfsOverline);
  if (RVReadIniBool(ini, section, key("Caps"), false)) StyleEx.Include(rvfsAllCaps);
  if (RVReadIniBool(ini, section, key("RTFCode"), false)) Options.Include(rvteoRTFCode);
  if (RVReadIniBool(ini, section, key("HTMLCode"), false)) Options.Include(rvteoHTMLCode);
  Protection = TRVProtectOptions::FromBits(
      static_cast<uint16_t>(static_cast<uint32_t>(ini.ReadInteger(section, key("Protection"), 0)) & 0x7FF));
  if (RVReadIniBool(ini, section, key("SingleSymbols"), false)) {
    Protection.Include(rvprStyleProtect);
    Protection.Include(rvprDoNotAutoSwitch);
  }
  VShift = ini.ReadInteger(section, key("VShift"), 0);
}

namespace {

AnsiString Decoration(const TCustomRVFontInfo& f) {
  AnsiString s;
  if (f.Style.Contains(fsUnderline)) RV_AddStrWithSpace(s, "underline");
  if (f.Style.Contains(fsStrikeOut)) RV_AddStrWithSpace(s, "line-through");
  if (f.StyleEx.Contains(rvfsOverline)) RV_AddStrWithSpace(s, "overline");
  return s.empty() ? AnsiString("none") : s;
}

AnsiString VAlignWord(int32_t vshift) { return vshift > 0 ? "super" : vshift < 0 ? "sub" : ""; }

}  // namespace

void TCustomRVFontInfo::WriteCSS(TStream& stream, TCustomRVFontInfo* base, bool multiline, bool utf8) {
  auto put = [&](const AnsiString& decl) {
    AnsiString s = " " + decl;
    if (multiline) s += "\r\n";
    stream.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
  };
  if (base == nullptr || base->Size != Size) put(Format("font-size: %dpt;", {Size}));
  if (base == nullptr ? BiDiMode != rvbdUnspecified : base->BiDiMode != BiDiMode) {
    static const char* const kDir[] = {"inherit", "ltr", "rtl"};
    put(Format("direction: %s;", {kDir[BiDiMode]}));
  }
  if (base == nullptr || !SameFontName(base->FontName, FontName)) {
    AnsiString family;
    if (SameText(FontName, "Symbol"))
      family = "'Arial Unicode MS', 'Lucida Sans Unicode', 'Arial'";
    else
      family = "'" + (utf8 ? AnsiToUtf8(FontName) : FontName) + "'";
    put(Format("font-family: %s;", {family}));
  }
  bool italic = Style.Contains(fsItalic), bold = Style.Contains(fsBold);
  if (base == nullptr || base->Style.Contains(fsItalic) != italic)
    put(Format("font-style: %s;", {italic ? "italic" : "normal"}));
  if (base == nullptr || base->Style.Contains(fsBold) != bold)
    put(Format("font-weight: %s;", {bold ? "bold" : "normal"}));
  if (base == nullptr || base->Color != Color) put(Format("color: %s;", {RV_GetHTMLColor(Color, false)}));
  if (base == nullptr ? CharSpacing != 0 : base->CharSpacing != CharSpacing)
    put(Format("letter-spacing: %dpx;", {CharSpacing}));
  bool caps = StyleEx.Contains(rvfsAllCaps);
  bool base_caps = base != nullptr && base->StyleEx.Contains(rvfsAllCaps);
  if (caps && !base_caps) put("text-transform: uppercase;");
  if (!caps && base_caps) put("text-transform: none;");
  if (base == nullptr ? (BackColor != clNone || !multiline) : base->BackColor != BackColor)
    put(Format("background-color: %s;", {RV_GetCSSColor(BackColor)}));
  AnsiString valign = VAlignWord(VShift);
  if (base == nullptr ? VShift != 0 : VAlignWord(base->VShift) != valign) {
    // Where the base is raised or lowered and this style is not, the text returns to the
    // base line.
    put(Format("vertical-align: %s;", {valign.empty() ? AnsiString("baseline") : valign}));
  }
  AnsiString deco = Decoration(*this);
  if (base == nullptr || Decoration(*base) != deco || (Jump && deco == "none"))
    put(Format("text-decoration: %s;", {deco}));
}

// ---- TFontInfo ----------------------------------------------------------------------------

TFontInfo::TFontInfo(TCollection* collection) : TCustomRVFontInfo(collection) {}

void TFontInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TFontInfo*>(source)) {
    NextStyleNo = s->NextStyleNo;
    Unicode = s->Unicode;
    ModifiedProperties = s->ModifiedProperties;
  }
  TCustomRVFontInfo::Assign(source);
}

bool TFontInfo::SameProperties(TCustomRVInfo* value, bool ignore_references, bool ignore_list_id) {
  if (!TCustomRVFontInfo::SameProperties(value, ignore_references, ignore_list_id)) return false;
  if (auto* v = dynamic_cast<TFontInfo*>(value)) {
    return Unicode == v->Unicode && ModifiedProperties == v->ModifiedProperties &&
           StyleTemplateId == v->StyleTemplateId && (ignore_references || NextStyleNo == v->NextStyleNo);
  }
  return true;
}

bool TFontInfo::SamePropertiesExcept(TCustomRVInfo* value, TRVFontInfoProperties ignore) {
  if (!TCustomRVFontInfo::SamePropertiesExcept(value, ignore)) return false;
  if (auto* v = dynamic_cast<TFontInfo*>(value)) {
    return (ignore.Contains(rvfiUnicode) || Unicode == v->Unicode) &&
           (ignore.Contains(rvfiNextStyleNo) || NextStyleNo == v->NextStyleNo) &&
           StyleTemplateId == v->StyleTemplateId && ModifiedProperties == v->ModifiedProperties;
  }
  return true;
}

bool TFontInfo::SameAsMapped(TCustomRVInfo* value, const TRVIntegerList& mapping) {
  if (!SameProperties(value, true, false)) return false;
  if (auto* v = dynamic_cast<TFontInfo*>(value)) {
    if (NextStyleNo < 0) return true;
    if (NextStyleNo < mapping.Count()) return mapping.Items(NextStyleNo) == v->NextStyleNo;
    NextStyleNo = -1;
  }
  return true;
}

void TFontInfo::WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  TCustomRVFontInfo::WriteIni(ini, section, kf);
  RVWriteIniInt(ini, section, RVIniKey(kf, "NextStyleNo"), NextStyleNo, -1);
  RVWriteIniBool(ini, section, RVIniKey(kf, "Unicode"), Unicode, false);
}

void TFontInfo::ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& kf, bool jump_by_default,
                        TCursor def_jump_cursor) {
  TCustomRVFontInfo::ReadIni(ini, section, kf, jump_by_default, def_jump_cursor);
  NextStyleNo = ini.ReadInteger(section, RVIniKey(kf, "NextStyleNo"), -1);
  Unicode = RVReadIniBool(ini, section, RVIniKey(kf, "Unicode"), false);
}

// ---- Collections ---------------------------------------------------------------------------

TCustomRVInfos::TCustomRVInfos(TPersistent* owner, ItemFactory item_class)
    : TCollection(std::move(item_class)), owner_(owner) {}

void TCustomRVInfos::AssignTo(TPersistent* dest) {
  if (auto* list = dynamic_cast<TStrings*>(dest)) {
    list->Clear();
    for (int32_t i = 0; i < Count(); ++i) list->Add(Info(i)->StyleName);
    return;
  }
  TCollection::AssignTo(dest);
}

int32_t TCustomRVInfos::FindClosest(TCustomRVInfo* style) {
  int32_t best = -1, best_score = 0;
  for (int32_t i = 0; i < Count(); ++i) {
    int32_t score = style->Closeness(Info(i));
    if (best < 0 || score > best_score) {
      best = i;
      best_score = score;
    }
  }
  return best;
}

void TCustomRVInfos::FixMergedReferences(TCustomRVInfo* style, const TRVIntegerList& mapping, const TRVIntegerList*) {
  if (style->BaseStyleNo >= 0) style->BaseStyleNo = mapping.Items(style->BaseStyleNo);
}

void TCustomRVInfos::MergeStyles(TCustomRVInfos* source, int32_t mode, TRVIntegerList& mapping,
                                 const TRVIntegerList* text_mapping) {
  mapping.Clear();
  mapping.SetCapacity(source->Count());
  const int32_t first_new = Count();
  // Lists: two numbered incoming lists never share one list of this collection, or their
  // numbering would run together.
  const bool lists = dynamic_cast<TRVListInfos*>(this) != nullptr;
  std::vector<int32_t> used_lists;
  auto used = [&](int32_t j) { return std::find(used_lists.begin(), used_lists.end(), j) != used_lists.end(); };
  for (int32_t i = 0; i < source->Count(); ++i) {
    TCustomRVInfo* s = source->Info(i);
    int32_t index = -1;
    switch (mode) {
      case 0: {
        if (i < Count() && !used(i) && s->SameAsMapped(Info(i), mapping)) {
          index = i;
        } else {
          for (int32_t j = 0; j < Count() && index < 0; ++j)
            if (!used(j) && s->SameAsMapped(Info(j), mapping)) index = j;
        }
        if (index < 0) {
          index = Count();
          auto* added = static_cast<TCustomRVInfo*>(Add());
          added->Assign(s);
          // An added list stays the list it was (copying gives no id).
          if (auto* l = dynamic_cast<TRVListInfo*>(added)) l->SetListId(static_cast<TRVListInfo*>(s)->GetListId());
        }
        if (lists && static_cast<TRVListInfo*>(s)->HasNumbering()) used_lists.push_back(index);
        break;
      }
      case 1:
        index = FindClosest(s);
        break;
      default:
        index = Count();
        static_cast<TCustomRVInfo*>(Add())->Assign(s);
        break;
    }
    mapping.Add(index);
  }
  try {
    for (int32_t i = first_new; i < Count(); ++i) {
      TCustomRVInfo* style = Info(i);
      if (ResetStandardOnMerge) style->Standard = false;
      FixMergedReferences(style, mapping, text_mapping);
    }
  } catch (...) {
    // A reference outside the incoming collection: leave this collection as it was rather
    // than keep half-merged styles whose references point anywhere.
    while (Count() > first_new) Delete(Count() - 1);
    throw;
  }
}

TFontInfos::TFontInfos(TPersistent* owner) : TCustomRVInfos(owner, ItemClass<TFontInfo>()) {}

TFontInfos::~TFontInfos() { delete invalid_item_; }

TFontInfo* TFontInfos::Items(int32_t index) {
  if (index >= 0 && index < Count()) return static_cast<TFontInfo*>(TCollection::Items(index));
  if (invalid_item_ == nullptr) {
    invalid_item_ = new TFontInfo(nullptr);
    if (Count() > 0) invalid_item_->Assign(TCollection::Items(0));
    invalid_item_->BackColor = clRed;
    invalid_item_->Color = clWhite;
  }
  return invalid_item_;
}

int32_t TFontInfos::FindMatchingStyle(int32_t base_style_no, TFontInfo* style, TRVFontInfoProperties mask) {
  TRVFontInfoProperties ignore = RVAllFontInfoProperties - mask;
  if (style->SamePropertiesExcept(Items(base_style_no), ignore)) return base_style_no;
  for (int32_t i = 0; i < Count(); ++i)
    if (i != base_style_no && style->SamePropertiesExcept(Items(i), ignore)) return i;
  return -1;
}

int32_t TFontInfos::FindStyleWithCharset(int32_t base_style_no, TFontCharset charset) {
  TFontInfo* base = Items(base_style_no);
  if (base->Charset == charset && !base->Unicode) return base_style_no;
  for (int32_t i = 0; i < Count(); ++i) {
    TFontInfo* f = Items(i);
    if (i != base_style_no && f->Charset == charset && !f->Unicode &&
        base->SamePropertiesExcept(f, {rvfiCharset, rvfiUnicode}))
      return i;
  }
  return -1;
}

int32_t TFontInfos::FindClosest(TCustomRVInfo* style) {
  auto* s = dynamic_cast<TFontInfo*>(style);
  if (s == nullptr) return TCustomRVInfos::FindClosest(style);
  // Passes of decreasing strictness: same Jump and Unicode, same Jump, same Unicode, all.
  for (int pass = 0; pass < 4; ++pass) {
    int32_t best = -1, best_score = 0;
    for (int32_t i = 0; i < Count(); ++i) {
      TFontInfo* f = Items(i);
      bool jump_ok = f->Jump == s->Jump, uni_ok = f->Unicode == s->Unicode;
      bool ok = pass == 0 ? jump_ok && uni_ok : pass == 1 ? jump_ok : pass == 2 ? uni_ok : true;
      if (!ok) continue;
      int32_t score = s->Closeness(f);
      if (best < 0 || score > best_score) {
        best = i;
        best_score = score;
      }
    }
    if (best >= 0) return best;
  }
  return -1;
}

void TFontInfos::FixMergedReferences(TCustomRVInfo* style, const TRVIntegerList& mapping,
                                     const TRVIntegerList* text_mapping) {
  TCustomRVInfos::FixMergedReferences(style, mapping, text_mapping);
  auto* f = static_cast<TFontInfo*>(style);
  if (f->NextStyleNo >= 0) f->NextStyleNo = mapping.Items(f->NextStyleNo);
}

// ---- TRVRect --------------------------------------------------------------------------------

void TRVRect::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVRect*>(source)) {
    Top = s->Top;
    Left = s->Left;
    Right = s->Right;
    Bottom = s->Bottom;
    return;
  }
  TPersistent::Assign(source);
}

void TRVRect::AssignValidSides(TRVRect* source, bool valid_left, bool valid_top, bool valid_right, bool valid_bottom) {
  if (valid_left) Left = source->Left;
  if (valid_top) Top = source->Top;
  if (valid_right) Right = source->Right;
  if (valid_bottom) Bottom = source->Bottom;
}

void TRVRect::SetAll(int32_t value) { Top = Left = Right = Bottom = value; }

void TRVRect::AssignToRect(TRect& r) const {
  r.Left = Left;
  r.Top = Top;
  r.Right = Right;
  r.Bottom = Bottom;
}

void TRVRect::MaxWith(TRect& r) const {
  r.Left = std::max(r.Left, Left);
  r.Top = std::max(r.Top, Top);
  r.Right = std::max(r.Right, Right);
  r.Bottom = std::max(r.Bottom, Bottom);
}

void TRVRect::InflateRect(TRect& r) const {
  r.Left -= Left;
  r.Top -= Top;
  r.Right += Right;
  r.Bottom += Bottom;
}

void TRVRect::InflateRectScaled(TRect& r, const TRVScreenAndDevice& sd) const {
  r.Left -= RV_XToDevice(Left, sd);
  r.Top -= RV_YToDevice(Top, sd);
  r.Right += RV_XToDevice(Right, sd);
  r.Bottom += RV_YToDevice(Bottom, sd);
}

bool TRVRect::IsEqual(const TRVRect* v) const {
  return Top == v->Top && Left == v->Left && Right == v->Right && Bottom == v->Bottom;
}

bool TRVRect::IsEqualExcept(const TRVRect* v, bool il, bool it, bool ir, bool ib) const {
  return (il || Left == v->Left) && (it || Top == v->Top) && (ir || Right == v->Right) && (ib || Bottom == v->Bottom);
}

int32_t TRVRect::Closeness(const TRVRect* v, int32_t weight) const {
  int32_t r = CalcIntSimilarity(Left, v->Left, weight);
  r = Add32(r, CalcIntSimilarity(Top, v->Top, weight));
  r = Add32(r, CalcIntSimilarity(Right, v->Right, weight));
  return Add32(r, CalcIntSimilarity(Bottom, v->Bottom, weight));
}

void TRVRect::WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& kf) const {
  RVWriteIniInt(ini, section, RVIniKey(kf, "Left"), Left, 0);
  RVWriteIniInt(ini, section, RVIniKey(kf, "Right"), Right, 0);
  RVWriteIniInt(ini, section, RVIniKey(kf, "Top"), Top, 0);
  RVWriteIniInt(ini, section, RVIniKey(kf, "Bottom"), Bottom, 0);
}

void TRVRect::ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  Left = ini.ReadInteger(section, RVIniKey(kf, "Left"), 0);
  Right = ini.ReadInteger(section, RVIniKey(kf, "Right"), 0);
  Top = ini.ReadInteger(section, RVIniKey(kf, "Top"), 0);
  Bottom = ini.ReadInteger(section, RVIniKey(kf, "Bottom"), 0);
}

// ---- TRVBooleanRect ---------------------------------------------------------------------------

void TRVBooleanRect::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVBooleanRect*>(source)) {
    Top = s->Top;
    Left = s->Left;
    Right = s->Right;
    Bottom = s->Bottom;
    return;
  }
  TPersistent::Assign(source);
}

void TRVBooleanRect::SetAll(bool value) { Top = Left = Right = Bottom = value; }

void TRVBooleanRect::SetValues(bool left, bool top, bool right, bool bottom) {
  Left = left;
  Top = top;
  Right = right;
  Bottom = bottom;
}

void TRVBooleanRect::AssignValidSides(TRVBooleanRect* source, bool valid_left, bool valid_top, bool valid_right,
                                      bool valid_bottom) {
  if (valid_left) Left = source->Left;
  if (valid_top) Top = source->Top;
  if (valid_right) Right = source->Right;
  if (valid_bottom) Bottom = source->Bottom;
}

bool TRVBooleanRect::IsEqual(const TRVBooleanRect* v) const { return IsEqualToValues(v->Left, v->Top, v->Right, v->Bottom); }

bool TRVBooleanRect::IsEqualToValues(bool left, bool top, bool right, bool bottom) const {
  return Left == left && Top == top && Right == right && Bottom == bottom;
}

bool TRVBooleanRect::IsAllEqual(bool value) const { return IsEqualToValues(value, value, value, value); }

bool TRVBooleanRect::IsEqualExcept(const TRVBooleanRect* v, bool il, bool it, bool ir, bool ib) const {
  return (il || Left == v->Left) && (it || Top == v->Top) && (ir || Right == v->Right) && (ib || Bottom == v->Bottom);
}

void TRVBooleanRect::WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& kf) const {
  RVWriteIniBool(ini, section, RVIniKey(kf, "Left"), Left, true);
  RVWriteIniBool(ini, section, RVIniKey(kf, "Right"), Right, true);
  RVWriteIniBool(ini, section, RVIniKey(kf, "Top"), Top, true);
  RVWriteIniBool(ini, section, RVIniKey(kf, "Bottom"), Bottom, true);
}

void TRVBooleanRect::ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  Left = RVReadIniBool(ini, section, RVIniKey(kf, "Left"), true);
  Right = RVReadIniBool(ini, section, RVIniKey(kf, "Right"), true);
  Top = RVReadIniBool(ini, section, RVIniKey(kf, "Top"), true);
  Bottom = RVReadIniBool(ini, section, RVIniKey(kf, "Bottom"), true);
}

// ---- TRVBorder ----------------------------------------------------------------------------------

void TRVBorder::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVBorder*>(source)) {
    Color = s->Color;
    Style = s->Style;
    Width = s->Width;
    InternalWidth = s->InternalWidth;
    visible_borders_.Assign(&s->visible_borders_);
    border_offsets_.Assign(&s->border_offsets_);
    return;
  }
  TPersistent::Assign(source);
}

void TRVBorder::Draw(const TRect& rect, TCanvas& canvas) const {
  if (Style == rvbNone) return;
  TRect r = rect;
  border_offsets_.InflateRect(r);
  DoDraw(r, canvas, Width, InternalWidth, 1, 0);
}

void TRVBorder::DrawScaled(const TRect& rect, TCanvas& canvas, int32_t color_mode, const TRVScreenAndDevice& sd) const {
  if (Style == rvbNone) return;
  TRect r = rect;
  border_offsets_.InflateRectScaled(r, sd);
  DoDraw(r, canvas, RV_YToDevice(Width, sd), RV_YToDevice(InternalWidth, sd), RV_YToDevice(1, sd), color_mode);
}

void TRVBorder::DoDraw(TRect r, TCanvas& canvas, int32_t width, int32_t internal_width, int32_t one_pixel,
                       int32_t color_mode) const {
  TPen& pen = canvas.Pen();
  pen.Style = psInsideFrame;
  pen.Color = color_mode >= 3 ? clBlack : RV_ColorForPrintMode(Color, color_mode);
  int32_t lines = Style == rvbSingle ? 1 : Style == rvbTriple ? 3 : 2;
  for (int32_t i = 0; i < lines; ++i) {
    bool thick = (Style == rvbThickInside && i == 0) || (Style == rvbThickOutside && i == lines - 1);
    pen.Width = thick ? 2 * width : width;
    if (visible_borders_.Top) {
      canvas.MoveTo(r.Left, r.Top);
      canvas.LineTo(r.Right, r.Top);
      canvas.LineTo(r.Left, r.Top);
    }
    if (visible_borders_.Right) {
      canvas.MoveTo(r.Right, r.Top);
      canvas.LineTo(r.Right, r.Bottom);
      canvas.LineTo(r.Right, r.Top);
    }
    if (visible_borders_.Bottom) {
      canvas.MoveTo(r.Right, r.Bottom);
      canvas.LineTo(r.Left, r.Bottom);
      canvas.LineTo(r.Right, r.Bottom);
    }
    if (visible_borders_.Left) {
      canvas.MoveTo(r.Left, r.Bottom);
      canvas.LineTo(r.Left, r.Top);
      canvas.LineTo(r.Left, r.Bottom);
    }
    int32_t grow = internal_width + one_pixel;
    r.Left -= grow;
    r.Top -= grow;
    r.Right += grow;
    r.Bottom += grow;
    if (Width == 1) {
      if (Style == rvbThickOutside) {
        r.Right += one_pixel;
        r.Bottom += one_pixel;
      } else if (Style == rvbThickInside) {
        r.Left -= one_pixel;
        r.Top -= one_pixel;
      }
    }
  }
  pen.Width = 1;
}

bool TRVBorder::IsEqual(const TRVBorder* v) const {
  return Style == v->Style && Color == v->Color && Width == v->Width && InternalWidth == v->InternalWidth &&
         border_offsets_.IsEqual(&v->border_offsets_) && visible_borders_.IsEqual(&v->visible_borders_);
}

bool TRVBorder::IsEqualExcept(const TRVBorder* v, TRVParaInfoProperties ig) const {
  return (ig.Contains(rvpiBorder_Style) || Style == v->Style) && (ig.Contains(rvpiBorder_Color) || Color == v->Color) &&
         (ig.Contains(rvpiBorder_Width) || Width == v->Width) &&
         (ig.Contains(rvpiBorder_InternalWidth) || InternalWidth == v->InternalWidth) &&
         border_offsets_.IsEqualExcept(&v->border_offsets_, ig.Contains(rvpiBorder_BO_Left),
                                       ig.Contains(rvpiBorder_BO_Top), ig.Contains(rvpiBorder_BO_Right),
                                       ig.Contains(rvpiBorder_BO_Bottom)) &&
         visible_borders_.IsEqualExcept(&v->visible_borders_, ig.Contains(rvpiBorder_Vis_Left),
                                        ig.Contains(rvpiBorder_Vis_Top), ig.Contains(rvpiBorder_Vis_Right),
                                        ig.Contains(rvpiBorder_Vis_Bottom));
}

void TRVBorder::AssignValidProperties(const TRVBorder* s, TRVParaInfoProperties vp) {
  if (vp.Contains(rvpiBorder_Style)) Style = s->Style;
  if (vp.Contains(rvpiBorder_Color)) Color = s->Color;
  if (vp.Contains(rvpiBorder_Width)) Width = s->Width;
  if (vp.Contains(rvpiBorder_InternalWidth)) InternalWidth = s->InternalWidth;
  border_offsets_.AssignValidSides(const_cast<TRVRect*>(&s->border_offsets_), vp.Contains(rvpiBorder_BO_Left),
                                   vp.Contains(rvpiBorder_BO_Top), vp.Contains(rvpiBorder_BO_Right),
                                   vp.Contains(rvpiBorder_BO_Bottom));
  visible_borders_.AssignValidSides(const_cast<TRVBooleanRect*>(&s->visible_borders_),
                                    vp.Contains(rvpiBorder_Vis_Left), vp.Contains(rvpiBorder_Vis_Top),
                                    vp.Contains(rvpiBorder_Vis_Right), vp.Contains(rvpiBorder_Vis_Bottom));
}

int32_t TRVBorder::Closeness(const TRVBorder* v) const {
  const bool mine[4] = {visible_borders_.Left, visible_borders_.Top, visible_borders_.Right, visible_borders_.Bottom};
  const bool theirs[4] = {v->visible_borders_.Left, v->visible_borders_.Top, v->visible_borders_.Right,
                          v->visible_borders_.Bottom};
  const int32_t off_mine[4] = {border_offsets_.Left, border_offsets_.Top, border_offsets_.Right, border_offsets_.Bottom};
  const int32_t off_theirs[4] = {v->border_offsets_.Left, v->border_offsets_.Top, v->border_offsets_.Right,
                                 v->border_offsets_.Bottom};
  bool shown_a[4], shown_b[4];
  int32_t n = 0;
  for (int k = 0; k < 4; ++k) {
    shown_a[k] = Style != rvbNone && mine[k];
    shown_b[k] = v->Style != rvbNone && theirs[k];
    if (shown_a[k] && shown_b[k]) ++n;
  }
  int32_t r = 0;
  if (n > 0) {
    int32_t one = CalcColorSimilarity(Color, v->Color, 3333, 3000);
    one = Add32(one, CalcIntSimilarity(Width, v->Width, 1000));
    one = Add32(one, CalcIntSimilarity(InternalWidth, v->InternalWidth, 1000));
    if (Style == v->Style) one = Add32(one, 1000);
    r = static_cast<int32_t>(CheckedMul(one, n));
  }
  for (int k = 0; k < 4; ++k) {
    if (!shown_a[k] && !shown_b[k])
      r = Add32(r, 20000);
    else if (shown_a[k] != shown_b[k])
      r = static_cast<int32_t>(CheckedSub(r, 20000));
    else
      r = Add32(r, CalcIntSimilarity(off_mine[k], off_theirs[k], 100));
  }
  return r;
}

int32_t TRVBorder::GetTotalWidth() const {
  switch (Style) {
    case rvbSingle: return Width;
    case rvbDouble: return 2 * Width + InternalWidth;
    case rvbTriple: return 3 * Width + 2 * InternalWidth;
    case rvbThickInside:
    case rvbThickOutside: return 3 * Width + InternalWidth;
    default: return 0;
  }
}

void TRVBorder::WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& kf) const {
  RVWriteIniInt(ini, section, RVIniKey(kf, "Width"), Width, 1);
  RVWriteIniInt(ini, section, RVIniKey(kf, "Style"), Style, rvbNone);
  RVWriteIniInt(ini, section, RVIniKey(kf, "Color"), Color, clWindowText);
  RVWriteIniInt(ini, section, RVIniKey(kf, "InternalWidth"), InternalWidth, 1);
  border_offsets_.WriteIni(ini, section, RVIniKey(kf, "Offsets%s"));
  visible_borders_.WriteIni(ini, section, RVIniKey(kf, "Visible%s"));
}

void TRVBorder::ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  Width = ini.ReadInteger(section, RVIniKey(kf, "Width"), 1);
  int32_t style = ini.ReadInteger(section, RVIniKey(kf, "Style"), rvbNone);
  // An ordinal outside the enumeration is no border style; it reads as none.
  Style = style >= rvbNone && style <= rvbThickOutside ? static_cast<TRVBorderStyle>(style) : rvbNone;
  Color = ini.ReadInteger(section, RVIniKey(kf, "Color"), clWindowText);
  InternalWidth = ini.ReadInteger(section, RVIniKey(kf, "InternalWidth"), 1);
  border_offsets_.ReadIni(ini, section, RVIniKey(kf, "Offsets%s"));
  visible_borders_.ReadIni(ini, section, RVIniKey(kf, "Visible%s"));
}

// ---- TRVBackgroundRect ------------------------------------------------------------------------

void TRVBackgroundRect::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVBackgroundRect*>(source)) {
    Color = s->Color;
    border_offsets_.Assign(&s->border_offsets_);
    return;
  }
  TPersistent::Assign(source);
}

void TRVBackgroundRect::PrepareDraw(TRect& r) const { border_offsets_.InflateRect(r); }

void TRVBackgroundRect::PrepareDrawScaled(TRect& r, const TRVScreenAndDevice& sd) const {
  border_offsets_.InflateRectScaled(r, sd);
}

void TRVBackgroundRect::Draw(const TRect& rect, TCanvas& canvas, int32_t color_mode) const {
  if (Color == clNone || color_mode == 3 || color_mode == 4) return;
  canvas.Brush().SetStyle(bsSolid);
  canvas.Brush().SetColor(RV_ColorForPrintMode(Color, color_mode));
  canvas.Pen().Style = psClear;
  canvas.Rectangle(rect.Left, rect.Top, rect.Right + 1, rect.Bottom + 1);
  canvas.Pen().Style = psSolid;
  canvas.Brush().SetStyle(bsClear);
}

bool TRVBackgroundRect::IsEqual(const TRVBackgroundRect* v) const {
  return Color == v->Color && border_offsets_.IsEqual(&v->border_offsets_);
}

bool TRVBackgroundRect::IsEqualExcept(const TRVBackgroundRect* v, TRVParaInfoProperties ig) const {
  return (ig.Contains(rvpiBackground_Color) || Color == v->Color) &&
         border_offsets_.IsEqualExcept(&v->border_offsets_, ig.Contains(rvpiBackground_BO_Left),
                                       ig.Contains(rvpiBackground_BO_Top), ig.Contains(rvpiBackground_BO_Right),
                                       ig.Contains(rvpiBackground_BO_Bottom));
}

void TRVBackgroundRect::AssignValidProperties(const TRVBackgroundRect* s, TRVParaInfoProperties vp) {
  if (vp.Contains(rvpiBackground_Color)) Color = s->Color;
  border_offsets_.AssignValidSides(const_cast<TRVRect*>(&s->border_offsets_), vp.Contains(rvpiBackground_BO_Left),
                                   vp.Contains(rvpiBackground_BO_Top), vp.Contains(rvpiBackground_BO_Right),
                                   vp.Contains(rvpiBackground_BO_Bottom));
}

int32_t TRVBackgroundRect::Closeness(const TRVBackgroundRect* v) const {
  return Add32(CalcColorSimilarity(Color, v->Color, 10000, 50000), border_offsets_.Closeness(&v->border_offsets_, 100));
}

void TRVBackgroundRect::WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& kf) const {
  RVWriteIniInt(ini, section, RVIniKey(kf, "Color"), Color, clNone);
  border_offsets_.WriteIni(ini, section, RVIniKey(kf, "Offsets%s"));
}

void TRVBackgroundRect::ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  Color = ini.ReadInteger(section, RVIniKey(kf, "Color"), clNone);
  border_offsets_.ReadIni(ini, section, RVIniKey(kf, "Offsets%s"));
}

// ---- Tab stops ------------------------------------------------------------------------------

void TRVTabInfo::SetPosition(int32_t value) {
  if (value == position_) return;
  position_ = value;
  if (auto* tabs = dynamic_cast<TRVTabInfos*>(Collection())) tabs->SortTabs();
}

void TRVTabInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVTabInfo*>(source)) {
    SetPosition(s->position_);
    Align = s->Align;
    Leader = s->Leader;
    return;
  }
  TCollectionItem::Assign(source);
}

AnsiString TRVTabInfo::DisplayName() const {
  static const char* const kAlign[] = {"left", "right", "center"};
  AnsiString r = AnsiString(kAlign[Align <= rvtaCenter ? Align : rvtaLeft]) + " at " + IntToStr(position_);
  if (!Leader.empty()) {
    r += " (";
    for (int i = 0; i < 6; ++i) r += Leader;
    r += ")";
  }
  return r;
}

void TRVTabInfos::SortTabs() {
  std::vector<TRVTabInfo*> tabs;
  for (int32_t i = 0; i < Count(); ++i) tabs.push_back(Items(i));
  std::stable_sort(tabs.begin(), tabs.end(),
                   [](const TRVTabInfo* a, const TRVTabInfo* b) { return a->Position() < b->Position(); });
  BeginUpdate();
  try {
    for (int32_t i = 0; i < static_cast<int32_t>(tabs.size()); ++i) tabs[i]->SetIndex(i);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

bool TRVTabInfos::IsEqual(const TRVTabInfos* value) const {
  if (Count() != value->Count()) return false;
  for (int32_t i = 0; i < Count(); ++i) {
    const TRVTabInfo* a = Items(i);
    const TRVTabInfo* b = value->Items(i);
    if (a->Position() != b->Position() || a->Align != b->Align || a->Leader != b->Leader) return false;
  }
  return true;
}

int32_t TRVTabInfos::Closeness(const TRVTabInfos* value) const {
  const int32_t m = std::min(Count(), value->Count());
  int32_t r = 0;
  for (int32_t i = 0; i < m; ++i) {
    const TRVTabInfo* a = Items(i);
    const TRVTabInfo* b = value->Items(i);
    r = Add32(r, CalcIntSimilarity(a->Position(), b->Position(), 200));
    if (a->Align == b->Align) r = Add32(r, 100);
    if (a->Leader == b->Leader) r = Add32(r, 50);
  }
  int32_t extra = Count() - m + value->Count() - m;
  return static_cast<int32_t>(CheckedSub(r, static_cast<int32_t>(CheckedMul(extra, int32_t{400}))));
}

void TRVTabInfos::WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& kf) const {
  RVWriteIniInt(ini, section, RVIniKey(kf, "TabCount"), Count(), 0);
  const AnsiString item_format = RVIniKey(kf, "") + "Tab%s";
  for (int32_t i = 0; i < Count(); ++i) {
    const TRVTabInfo* t = Items(i);
    const AnsiString n = IntToStr(i);
    RVWriteIniInt(ini, section, RVIniKey(item_format, "Pos") + n, t->Position(), 0);
    RVWriteIniInt(ini, section, RVIniKey(item_format, "Align") + n, t->Align, 0);
    if (!t->Leader.empty()) ini.WriteString(section, RVIniKey(item_format, "Leader") + n, t->Leader);
  }
}

void TRVTabInfos::ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  Clear();
  const int32_t count = ini.ReadInteger(section, RVIniKey(kf, "TabCount"), 0);
  const AnsiString item_format = RVIniKey(kf, "") + "Tab%s";
  for (int32_t i = 0; i < count; ++i) {
    const AnsiString n = IntToStr(i);
    TRVTabInfo* t = Add();
    int32_t align = ini.ReadInteger(section, RVIniKey(item_format, "Align") + n, 0);
    t->Align = align >= rvtaLeft && align <= rvtaCenter ? static_cast<TRVTabAlign>(align) : rvtaLeft;
    t->Leader = ini.ReadString(section, RVIniKey(item_format, "Leader") + n, "");
    t->SetPosition(ini.ReadInteger(section, RVIniKey(item_format, "Pos") + n, 0));
  }
}

// ---- Paragraph styles -------------------------------------------------------------------------

TCustomRVParaInfo::TCustomRVParaInfo(TCollection* collection) : TCustomRVInfo(collection), tabs_(this) {
  StyleName = "Paragraph Style";
}

void TCustomRVParaInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TCustomRVParaInfo*>(source)) {
    FirstIndent = s->FirstIndent;
    LeftIndent = s->LeftIndent;
    RightIndent = s->RightIndent;
    SpaceBefore = s->SpaceBefore;
    SpaceAfter = s->SpaceAfter;
    LineSpacing = s->LineSpacing;
    LineSpacingType = s->LineSpacingType;
    Alignment = s->Alignment;
    border_.Assign(&s->border_);
    background_.Assign(&s->background_);
    Options = s->Options;
    BiDiMode = s->BiDiMode;
    tabs_.Assign(&s->tabs_);
  }
  TCustomRVInfo::Assign(source);
}

void TCustomRVParaInfo::AssignProperties(TCustomRVParaInfo* s, TRVParaInfoProperties mask) {
  if (mask.Contains(rvpiFirstIndent)) FirstIndent = s->FirstIndent;
  if (mask.Contains(rvpiLeftIndent)) LeftIndent = s->LeftIndent;
  if (mask.Contains(rvpiRightIndent)) RightIndent = s->RightIndent;
  if (mask.Contains(rvpiSpaceBefore)) SpaceBefore = s->SpaceBefore;
  if (mask.Contains(rvpiSpaceAfter)) SpaceAfter = s->SpaceAfter;
  if (mask.Contains(rvpiAlignment)) Alignment = s->Alignment;
  if (mask.Contains(rvpiLineSpacing)) LineSpacing = s->LineSpacing;
  if (mask.Contains(rvpiLineSpacingType)) LineSpacingType = s->LineSpacingType;
  background_.AssignValidProperties(&s->background_, mask);
  border_.AssignValidProperties(&s->border_, mask);
  static constexpr std::pair<TRVParaInfoProperty, TRVParaOption> kOptions[] = {
      {rvpiNoWrap, rvpaoNoWrap},
      {rvpiReadOnly, rvpaoReadOnly},
      {rvpiStyleProtect, rvpaoStyleProtect},
      {rvpiDoNotWantReturns, rvpaoDoNotWantReturns},
      {rvpiKeepLinesTogether, rvpaoKeepLinesTogether},
      {rvpiKeepWithNext, rvpaoKeepWithNext}};
  for (auto [p, o] : kOptions)
    if (mask.Contains(p)) Options.Set(o, s->Options.Contains(o));
  if (mask.Contains(rvpiTabs)) tabs_.Assign(&s->tabs_);
  if (mask.Contains(rvpiBiDiMode)) BiDiMode = s->BiDiMode;
}

bool TCustomRVParaInfo::IsLineSpacingSet() const {
  return LineSpacingType == rvlsPercent ? LineSpacing != 100 : LineSpacing > 0;
}

bool TCustomRVParaInfo::SameProperties(TCustomRVInfo* value, bool, bool) {
  auto* v = dynamic_cast<TCustomRVParaInfo*>(value);
  if (v == nullptr) return false;
  bool same = Alignment == v->Alignment && FirstIndent == v->FirstIndent && LeftIndent == v->LeftIndent &&
              RightIndent == v->RightIndent && SpaceBefore == v->SpaceBefore && SpaceAfter == v->SpaceAfter &&
              LineSpacing == v->LineSpacing && LineSpacingType == v->LineSpacingType && Options == v->Options &&
              BiDiMode == v->BiDiMode && background_.IsEqual(&v->background_) && tabs_.IsEqual(&v->tabs_) &&
              border_.IsEqual(&v->border_);
  if (same && CompareStyleNames) same = StyleName == v->StyleName;
  return same;
}

bool TCustomRVParaInfo::SamePropertiesExcept(TCustomRVInfo* value, TRVParaInfoProperties ignore) {
  auto* v = dynamic_cast<TCustomRVParaInfo*>(value);
  if (v == nullptr) return false;
  auto differs = [&](TRVParaInfoProperty p, bool equal) { return !ignore.Contains(p) && !equal; };
  auto opt = [&](TRVParaOption o) { return Options.Contains(o) == v->Options.Contains(o); };
  if (differs(rvpiAlignment, Alignment == v->Alignment) || differs(rvpiFirstIndent, FirstIndent == v->FirstIndent) ||
      differs(rvpiLeftIndent, LeftIndent == v->LeftIndent) || differs(rvpiRightIndent, RightIndent == v->RightIndent) ||
      differs(rvpiSpaceBefore, SpaceBefore == v->SpaceBefore) || differs(rvpiSpaceAfter, SpaceAfter == v->SpaceAfter) ||
      differs(rvpiLineSpacing, LineSpacing == v->LineSpacing) ||
      differs(rvpiLineSpacingType, LineSpacingType == v->LineSpacingType) ||
      differs(rvpiNoWrap, opt(rvpaoNoWrap)) || differs(rvpiReadOnly, opt(rvpaoReadOnly)) ||
      differs(rvpiStyleProtect, opt(rvpaoStyleProtect)) ||
      differs(rvpiDoNotWantReturns, opt(rvpaoDoNotWantReturns)) ||
      differs(rvpiKeepLinesTogether, opt(rvpaoKeepLinesTogether)) ||
      differs(rvpiKeepWithNext, opt(rvpaoKeepWithNext)) || differs(rvpiBiDiMode, BiDiMode == v->BiDiMode) ||
      differs(rvpiTabs, tabs_.IsEqual(&v->tabs_)))
    return false;
  if (!background_.IsEqualExcept(&v->background_, ignore) || !border_.IsEqualExcept(&v->border_, ignore))
    return false;
  if (CompareStyleNames && StyleName != v->StyleName) return false;
  return true;
}

bool TCustomRVParaInfo::SameAsMapped(TCustomRVInfo* value, const TRVIntegerList&) {
  return SameProperties(value, true, false);
}

int32_t TCustomRVParaInfo::Closeness(TCustomRVInfo* value) {
  auto* v = dynamic_cast<TCustomRVParaInfo*>(value);
  if (v == nullptr) return 0;
  int32_t r = CalcIntSimilarity(FirstIndent, v->FirstIndent, 1000);
  r = Add32(r, CalcIntSimilarity(LeftIndent, v->LeftIndent, 1000));
  r = Add32(r, CalcIntSimilarity(RightIndent, v->RightIndent, 1000));
  r = Add32(r, CalcIntSimilarity(SpaceBefore, v->SpaceBefore, 1000));
  r = Add32(r, CalcIntSimilarity(SpaceAfter, v->SpaceAfter, 1000));
  r = Add32(r, background_.Closeness(&v->background_));
  r = Add32(r, tabs_.Closeness(&v->tabs_));
  r = Add32(r, border_.Closeness(&v->border_));
  if (Alignment == v->Alignment) r = Add32(r, 50000);
  if (BiDiMode == v->BiDiMode) r = Add32(r, 10000);
  static constexpr std::pair<TRVParaOption, int32_t> kOptionWeights[] = {
      {rvpaoNoWrap, 1000},           {rvpaoReadOnly, 100000},        {rvpaoStyleProtect, 1000},
      {rvpaoDoNotWantReturns, 10000}, {rvpaoKeepLinesTogether, 500}, {rvpaoKeepWithNext, 500}};
  for (auto [o, w] : kOptionWeights)
    if (Options.Contains(o) == v->Options.Contains(o)) r = Add32(r, w);
  if (LineSpacingType == v->LineSpacingType)
    r = Add32(r, CalcIntSimilarity(LineSpacing, v->LineSpacing, 5000));
  else if (IsLineSpacingSet() != v->IsLineSpacingSet())
    r = static_cast<int32_t>(CheckedSub(r, int32_t{20000}));
  return r;
}

void TCustomRVParaInfo::WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  auto key = [&](const char* k) { return RVIniKey(kf, k); };
  ini.WriteString(section, key("StyleName"), StyleName);
  RVWriteIniInt(ini, section, key("BaseStyleNo"), BaseStyleNo, -1);
  RVWriteIniInt(ini, section, key("Standard"), Standard ? 1 : 0, 1);
  RVWriteIniInt(ini, section, key("SpaceBefore"), SpaceBefore, 0);
  RVWriteIniInt(ini, section, key("SpaceAfter"), SpaceAfter, 0);
  RVWriteIniInt(ini, section, key("LeftIndent"), LeftIndent, 0);
  RVWriteIniInt(ini, section, key("RightIndent"), RightIndent, 0);
  RVWriteIniInt(ini, section, key("FirstIndent"), FirstIndent, 0);
  RVWriteIniInt(ini, section, key("LineSpacing"), LineSpacing, 100);
  RVWriteIniInt(ini, section, key("LSType"), LineSpacingType, 0);
  RVWriteIniInt(ini, section, key("Alignment"), Alignment, 0);
  RVWriteIniInt(ini, section, key("BiDiMode"), BiDiMode, 0);
  RVWriteIniBool(ini, section, key("NoWrap"), Options.Contains(rvpaoNoWrap), false);
  RVWriteIniBool(ini, section, key("ReadOnly"), Options.Contains(rvpaoReadOnly), false);
  RVWriteIniBool(ini, section, key("StyleProtect"), Options.Contains(rvpaoStyleProtect), false);
  RVWriteIniBool(ini, section, key("DoNotWantReturns"), Options.Contains(rvpaoDoNotWantReturns), false);
  RVWriteIniBool(ini, section, key("KeepLinesTogether"), Options.Contains(rvpaoKeepLinesTogether), false);
  RVWriteIniBool(ini, section, key("KeepWithNext"), Options.Contains(rvpaoKeepWithNext), false);
  border_.WriteIni(ini, section, key("Border%s"));
  background_.WriteIni(ini, section, key("Background%s"));
  tabs_.WriteIni(ini, section, key("Tab%s"));
}

void TCustomRVParaInfo::ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  auto key = [&](const char* k) { return RVIniKey(kf, k); };
  // Out-of-range ordinals from a hand-edited file fall back to the defaults.
  auto ordinal = [&](const char* k, int32_t max) {
    int32_t v = ini.ReadInteger(section, key(k), 0);
    return v >= 0 && v <= max ? v : 0;
  };
  StyleName = ini.ReadString(section, key("StyleName"), "Paragraph Style");
  BaseStyleNo = ini.ReadInteger(section, key("BaseStyleNo"), -1);
  Standard = ini.ReadInteger(section, key("Standard"), 1) != 0;
  SpaceBefore = ini.ReadInteger(section, key("SpaceBefore"), 0);
  SpaceAfter = ini.ReadInteger(section, key("SpaceAfter"), 0);
  LeftIndent = ini.ReadInteger(section, key("LeftIndent"), 0);
  RightIndent = ini.ReadInteger(section, key("RightIndent"), 0);
  FirstIndent = ini.ReadInteger(section, key("FirstIndent"), 0);
  LineSpacing = ini.ReadInteger(section, key("LineSpacing"), 100);
  LineSpacingType = static_cast<TRVLineSpacingType>(ordinal("LSType", rvlsSpaceBetween));
  Alignment = static_cast<TRVAlignment>(ordinal("Alignment", rvaJustify));
  BiDiMode = static_cast<TRVBiDiMode>(ordinal("BiDiMode", rvbdRightToLeft));
  Options = {};
  Options.Set(rvpaoNoWrap, RVReadIniBool(ini, section, key("NoWrap"), false));
  Options.Set(rvpaoReadOnly, RVReadIniBool(ini, section, key("ReadOnly"), false));
  Options.Set(rvpaoStyleProtect, RVReadIniBool(ini, section, key("StyleProtect"), false));
  Options.Set(rvpaoDoNotWantReturns, RVReadIniBool(ini, section, key("DoNotWantReturns"), false));
  Options.Set(rvpaoKeepLinesTogether, RVReadIniBool(ini, section, key("KeepLinesTogether"), false));
  Options.Set(rvpaoKeepWithNext, RVReadIniBool(ini, section, key("KeepWithNext"), false));
  border_.ReadIni(ini, section, key("Border%s"));
  background_.ReadIni(ini, section, key("Background%s"));
  tabs_.ReadIni(ini, section, key("Tab%s"));
}

namespace {

const char* CSSAlignment(TRVAlignment a) {
  switch (a) {
    case rvaRight: return "right";
    case rvaCenter: return "center";
    case rvaJustify: return "justify";
    default: return "left";
  }
}

const char* CSSDirection(TRVBiDiMode m) {
  switch (m) {
    case rvbdLeftToRight: return "ltr";
    case rvbdRightToLeft: return "rtl";
    default: return "inherit";
  }
}

bool HasCSSBorder(const TRVBorder& b) { return b.Style != rvbNone && b.Color != clNone; }

struct Sides {
  int32_t top = 0, right = 0, bottom = 0, left = 0;
  bool operator==(const Sides&) const = default;
};

Sides SidesOf(const TRVRect& r) { return {r.Top, r.Right, r.Bottom, r.Left}; }

}  // namespace

void TCustomRVParaInfo::WriteCSS(TStream& stream, TCustomRVParaInfo* base, bool multiline, bool skip_left_alignment,
                                 bool skip_indents) {
  auto put = [&](const AnsiString& decl) {
    AnsiString text = " " + decl;
    if (multiline) text += "\r\n";
    stream.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
  };
  if (base == nullptr ? !(skip_left_alignment && Alignment == rvaLeft) : Alignment != base->Alignment)
    put(AnsiString("text-align: ") + CSSAlignment(Alignment) + ";");
  if (base == nullptr ? BiDiMode != rvbdUnspecified : BiDiMode != base->BiDiMode)
    put(AnsiString("direction: ") + CSSDirection(BiDiMode) + ";");
  if (!skip_indents && (base == nullptr || FirstIndent != base->FirstIndent))
    put("text-indent: " + IntToStr(FirstIndent) + "px;");
  if (LineSpacingType == rvlsPercent &&
      (base == nullptr ? LineSpacing != 100
                       : base->LineSpacingType == rvlsPercent && LineSpacing != base->LineSpacing)) {
    char frac[8];
    std::snprintf(frac, sizeof frac, "%02d", std::abs(LineSpacing % 100));
    put("line-height: " + IntToStr(LineSpacing / 100) + "." + frac + ";");
  } else if (base != nullptr && base->LineSpacingType == rvlsPercent && base->LineSpacing != 100 &&
             LineSpacingType != rvlsPercent) {
    put("line-height: normal;");
  }
  auto option_decl = [&](TRVParaOption o, const char* on, const char* off) {
    if (Options.Contains(o))
      put(on);
    else if (base != nullptr && base->Options.Contains(o))
      put(off);
  };
  option_decl(rvpaoNoWrap, "white-space: nowrap;", "white-space: normal;");
  option_decl(rvpaoKeepLinesTogether, "page-break-inside: avoid;", "page-break-inside: auto;");
  option_decl(rvpaoKeepWithNext, "page-break-after: avoid;", "page-break-after: auto;");
  Sides p;
  if (HasCSSBorder(border_)) {
    put("border-color: " + RV_GetHTMLColor(border_.Color, false) + ";");
    put(AnsiString("border-style: ") + (border_.Style == rvbSingle ? "solid" : "double") + ";");
    int32_t w = border_.Width;
    switch (border_.Style) {
      case rvbDouble: w = border_.Width + border_.InternalWidth; break;
      case rvbTriple: w = border_.Width + 2 * border_.InternalWidth; break;
      case rvbThickInside:
      case rvbThickOutside: w = 3 * border_.Width / 2 + border_.InternalWidth; break;
      default: break;
    }
    put("border-width: " + IntToStr(w) + "px;");
    const TRVBooleanRect& vis = border_.VisibleBorders();
    if (!vis.Top) put("border-top: none;");
    if (!vis.Right) put("border-right: none;");
    if (!vis.Bottom) put("border-bottom: none;");
    if (!vis.Left) put("border-left: none;");
    p = SidesOf(border_.BorderOffsets());
  } else if (base != nullptr && HasCSSBorder(base->border_)) {
    put("border: none;");
  }
  Sides bp;
  if (base != nullptr && HasCSSBorder(base->border_)) bp = SidesOf(base->border_.BorderOffsets());
  if (base == nullptr ? background_.Color != clNone : background_.Color != base->background_.Color)
    put("background: " + RV_GetCSSColor(background_.Color) + ";");
  if (background_.Color != clNone) {
    const TRVRect& o = background_.BorderOffsets();
    p.top = std::max(p.top, o.Top);
    p.right = std::max(p.right, o.Right);
    p.bottom = std::max(p.bottom, o.Bottom);
    p.left = std::max(p.left, o.Left);
  }
  if (base == nullptr || !(p == bp))
    put(Format("padding: %dpx %dpx %dpx %dpx;", {p.top, p.right, p.bottom, p.left}));
  Sides m{SpaceBefore - p.top, RightIndent - p.right, SpaceAfter - p.bottom, LeftIndent - p.left};
  bool margins_differ = base == nullptr;
  if (base != nullptr) {
    Sides bm{base->SpaceBefore - bp.top, base->RightIndent - bp.right, base->SpaceAfter - bp.bottom,
             base->LeftIndent - bp.left};
    margins_differ = !(m == bm);
  }
  if (margins_differ) {
    if (skip_indents) {
      put("margin-top: " + IntToStr(m.top) + "px;");
      put("margin-right: " + IntToStr(m.right) + "px;");
      put("margin-bottom: " + IntToStr(m.bottom) + "px;");
    } else {
      put(Format("margin: %dpx %dpx %dpx %dpx;", {m.top, m.right, m.bottom, m.left}));
    }
  }
}

void TParaInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TParaInfo*>(source)) {
    NextParaNo = s->NextParaNo;
    DefStyleNo = s->DefStyleNo;
    ModifiedProperties1 = s->ModifiedProperties1;
    ModifiedProperties2 = s->ModifiedProperties2;
  }
  TCustomRVParaInfo::Assign(source);
}

bool TParaInfo::SameProperties(TCustomRVInfo* value, bool ignore_references, bool ignore_list_id) {
  if (!TCustomRVParaInfo::SameProperties(value, ignore_references, ignore_list_id)) return false;
  if (auto* v = dynamic_cast<TParaInfo*>(value)) {
    return ModifiedProperties1 == v->ModifiedProperties1 && ModifiedProperties2 == v->ModifiedProperties2 &&
           StyleTemplateId == v->StyleTemplateId &&
           (ignore_references || (NextParaNo == v->NextParaNo && DefStyleNo == v->DefStyleNo));
  }
  return true;
}

bool TParaInfo::SamePropertiesExcept(TCustomRVInfo* value, TRVParaInfoProperties ignore) {
  if (!TCustomRVParaInfo::SamePropertiesExcept(value, ignore)) return false;
  if (auto* v = dynamic_cast<TParaInfo*>(value)) {
    return (ignore.Contains(rvpiNextParaNo) || NextParaNo == v->NextParaNo) &&
           (ignore.Contains(rvpiDefStyleNo) || DefStyleNo == v->DefStyleNo) &&
           StyleTemplateId == v->StyleTemplateId && ModifiedProperties1 == v->ModifiedProperties1 &&
           ModifiedProperties2 == v->ModifiedProperties2;
  }
  return true;
}

bool TParaInfo::SameAsMapped(TCustomRVInfo* value, const TRVIntegerList& mapping) {
  if (!SameProperties(value, true, false)) return false;
  if (auto* v = dynamic_cast<TParaInfo*>(value)) {
    if (NextParaNo < 0) return true;
    if (NextParaNo < mapping.Count()) return mapping.Items(NextParaNo) == v->NextParaNo;
    NextParaNo = -1;
  }
  return true;
}

void TParaInfo::WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  TCustomRVParaInfo::WriteIni(ini, section, kf);
  RVWriteIniInt(ini, section, RVIniKey(kf, "NextParaNo"), NextParaNo, -1);
  RVWriteIniInt(ini, section, RVIniKey(kf, "DefStyleNo"), DefStyleNo, -1);
}

void TParaInfo::ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  TCustomRVParaInfo::ReadIni(ini, section, kf);
  NextParaNo = ini.ReadInteger(section, RVIniKey(kf, "NextParaNo"), -1);
  DefStyleNo = ini.ReadInteger(section, RVIniKey(kf, "DefStyleNo"), -1);
}

void RVGetNextTab(const TCustomRVParaInfo* para, int32_t def_tab_width, int32_t x, const TRVScreenAndDevice& sd,
                  int32_t& position, AnsiString& leader, TRVTabAlign& align, TRVBiDiMode bidi, int32_t left_ref,
                  int32_t right_ref) {
  if (bidi == rvbdUnspecified) bidi = para->BiDiMode;
  const bool rtl = bidi == rvbdRightToLeft;
  int32_t g = x - sd.LeftMargin;
  int32_t h = left_ref;
  if (rtl) {
    g = g + right_ref - left_ref;
    h = right_ref;
  }
  leader.clear();
  align = rvtaLeft;
  const TRVTabInfos& tabs = para->Tabs();
  bool found = false;
  int32_t result = 0;
  for (int32_t i = 0; i < tabs.Count() && !found; ++i) {
    const TRVTabInfo* t = tabs.Items(i);
    const int32_t p = RV_XToDevice(t->Position(), sd);
    if (h > g && p > h) {
      result = h;
      found = true;
    } else if (p > g) {
      result = p;
      leader = t->Leader;
      align = t->Align;
      found = true;
    }
  }
  if (!found) {
    if (h > g && (tabs.Count() == 0 || RV_XToDevice(tabs.Items(tabs.Count() - 1)->Position(), sd) < h)) {
      result = h;
    } else {
      // A device coarser than the screen could turn a small width into 0: keep the grid at
      // least one unit wide rather than divide by zero.
      const int32_t w = std::max(1, RV_XToDevice(def_tab_width > 0 ? def_tab_width : 1, sd));
      result = (g + w) / w * w;
    }
  }
  position = result + sd.LeftMargin;
  if (rtl) position = position - right_ref + left_ref;
}

TParaInfos::TParaInfos(TPersistent* owner) : TCustomRVInfos(owner, ItemClass<TParaInfo>()) {}

TParaInfos::~TParaInfos() { delete invalid_item_; }

TParaInfo* TParaInfos::Items(int32_t index) {
  if (index >= 0 && index < Count()) return static_cast<TParaInfo*>(TCollection::Items(index));
  if (invalid_item_ == nullptr) {
    invalid_item_ = new TParaInfo(nullptr);
    if (Count() > 0) invalid_item_->Assign(TCollection::Items(0));
    invalid_item_->SpaceBefore = 1;
    invalid_item_->SpaceAfter = 1;
    invalid_item_->LeftIndent = 1;
    invalid_item_->RightIndent = 1;
    TRVBorder& b = invalid_item_->Border();
    b.Style = rvbSingle;
    b.Color = clRed;
    b.Width = 2;
    b.BorderOffsets().SetAll(1);
  }
  return invalid_item_;
}

int32_t TParaInfos::FindMatchingStyle(int32_t base_style_no, TParaInfo* style, TRVParaInfoProperties mask) {
  TRVParaInfoProperties ignore = RVAllParaInfoProperties - mask;
  if (style->SamePropertiesExcept(Items(base_style_no), ignore)) return base_style_no;
  for (int32_t i = 0; i < Count(); ++i)
    if (i != base_style_no && style->SamePropertiesExcept(Items(i), ignore)) return i;
  return -1;
}

void TParaInfos::FixMergedReferences(TCustomRVInfo* style, const TRVIntegerList& mapping,
                                     const TRVIntegerList* text_mapping) {
  TCustomRVInfos::FixMergedReferences(style, mapping, text_mapping);
  auto* p = static_cast<TParaInfo*>(style);
  if (p->NextParaNo >= 0) p->NextParaNo = mapping.Items(p->NextParaNo);
  // Without a text-style mapping the text styles were not renumbered; a reference beyond the
  // incoming text styles names nothing and is dropped.
  if (p->DefStyleNo >= 0 && text_mapping != nullptr)
    p->DefStyleNo = p->DefStyleNo < text_mapping->Count() ? text_mapping->Items(p->DefStyleNo) : -1;
}

}  // namespace pelvar
