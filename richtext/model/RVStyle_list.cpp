#include "richtext/model/RVStyle_list.h"

#include <cctype>
#include <chrono>
#include <random>
#include <typeinfo>

#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/sysutils.h"
#include "richtext/model/RVConst.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVGraphics.h"

namespace pelvar {

bool DoNotStoreListIds = false;

namespace {
std::minstd_rand& Generator() {
  static std::minstd_rand gen(static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
  return gen;
}
}  // namespace

void RVSetRandomSeed(uint32_t seed) { Generator().seed(seed); }

int32_t RVRandomId() {
  std::uniform_int_distribution<int32_t> dist(0, 2147483646);
  int32_t r;
  do r = dist(Generator());
  while (r == 0);
  return r;
}

// ---- Marker font -------------------------------------------------------------------------------

TRVMarkerFont::TRVMarkerFont() {
  SetName("Arial");
  SetSize(8);
}

bool TRVMarkerFont::IsDefault() const {
  return Size() == 8 && Color() == clWindowText && Charset() == DEFAULT_CHARSET && Style().Empty() &&
         AnsiCompareText(Name(), "Arial") == 0;
}

// ---- Level -------------------------------------------------------------------------------------

TRVListLevel::TRVListLevel(TCollection* collection) : TCollectionItem(collection) {}

TRVStyle* TRVListLevel::GetRVStyle() const {
  auto* levels = dynamic_cast<TRVListLevelCollection*>(Collection());
  auto* info = levels ? dynamic_cast<TRVListInfo*>(levels->Owner()) : nullptr;
  auto* infos = info ? dynamic_cast<TRVListInfos*>(info->Collection()) : nullptr;
  return infos ? dynamic_cast<TRVStyle*>(infos->Owner()) : nullptr;
}

void TRVListLevel::SetImageList(TObject* value) {
  ImageList = value;
  if (auto* c = dynamic_cast<TComponent*>(value))
    if (TRVStyle* style = GetRVStyle()) c->FreeNotification(style);
}

TRVMarkerFont* TRVListLevel::Font() {
  if (!font_) font_ = std::make_unique<TRVMarkerFont>();
  return font_.get();
}

void TRVListLevel::SetFont(const TFont* value) {
  if (!value) {
    font_.reset();
    return;
  }
  Font()->Assign(*value);
}

void TRVListLevel::SetPicture(std::shared_ptr<TGraphic> value) {
  if (!value || value->Empty())
    picture_.reset();
  else
    picture_ = std::move(value);
}

void TRVListLevel::Assign(TPersistent* source) {
  auto* s = dynamic_cast<TRVListLevel*>(source);
  if (!s) {
    TCollectionItem::Assign(source);
    return;
  }
  ListType = s->ListType;
  SetImageList(s->ImageList);
  ImageIndex = s->ImageIndex;
  FormatString = s->FormatString;
  FormatStringW = s->FormatStringW;
  LeftIndent = s->LeftIndent;
  FirstIndent = s->FirstIndent;
  MarkerIndent = s->MarkerIndent;
  MarkerAlignment = s->MarkerAlignment;
  Options = s->Options;
  StartFrom = s->StartFrom;
  SetFont(s->font_.get());
  picture_ = s->picture_;  // graphics are not changed in place: sharing is a copy by value
}

AnsiString TRVListLevel::DisplayName() const {
  return Format("%s %d/%d/%d", {RVListTypeStr[ListType], LeftIndent, MarkerIndent, FirstIndent});
}

bool TRVListLevel::SameFont(const TRVListLevel* v) const {
  const bool a_def = !font_ || font_->IsDefault(), b_def = !v->font_ || v->font_->IsDefault();
  if (a_def && b_def) return true;
  if (!font_ || !v->font_) return false;
  return font_->Height() == v->font_->Height() && font_->Style() == v->font_->Style() &&
         font_->Color() == v->font_->Color() && font_->Charset() == v->font_->Charset() &&
         AnsiCompareText(font_->Name(), v->font_->Name()) == 0;
}

bool TRVListLevel::SamePicture(const TRVListLevel* v) const {
  const bool a = HasPicture(), b = v->HasPicture();
  if (!a || !b) return a == b;
  if (picture_ == v->picture_) return true;
  if (typeid(*picture_) != typeid(*v->picture_) || picture_->Width() != v->picture_->Width() ||
      picture_->Height() != v->picture_->Height())
    return false;
  TMemoryStream s1, s2;
  picture_->SaveToStream(s1);
  v->picture_->SaveToStream(s2);
  return s1.Size() == s2.Size() && std::equal(s1.Memory(), s1.Memory() + s1.Size(), s2.Memory());
}

bool TRVListLevel::IsEqual(const TRVListLevel* v) const {
  return ListType == v->ListType && StartFrom == v->StartFrom && ImageList == v->ImageList &&
         ImageIndex == v->ImageIndex && FormatString == v->FormatString && FormatStringW == v->FormatStringW &&
         LeftIndent == v->LeftIndent && FirstIndent == v->FirstIndent && MarkerIndent == v->MarkerIndent &&
         MarkerAlignment == v->MarkerAlignment && Options == v->Options && SameFont(v) && SamePicture(v);
}

int32_t TRVListLevel::Closeness(const TRVListLevel* v) const {
  int32_t r = 0;
  if (ListType == v->ListType) r += 5000;
  const bool same[] = {StartFrom == v->StartFrom,       ImageList == v->ImageList,
                       ImageIndex == v->ImageIndex,     FormatString == v->FormatString,
                       FormatStringW == v->FormatStringW, LeftIndent == v->LeftIndent,
                       MarkerIndent == v->MarkerIndent, MarkerAlignment == v->MarkerAlignment,
                       Options == v->Options,           SameFont(v),
                       SamePicture(v)};
  for (bool b : same)
    if (b) r += 100;
  if (FirstIndent == v->FirstIndent) r += 200;
  return r;
}

AnsiString TRVListLevel::GetHTMLListCSS() const {
  const int32_t d = MarkerIndent - LeftIndent;
  if (d >= 0) return Format("text-indent: %dpx; margin-left: %dpx;", {d, LeftIndent});
  return Format("text-indent: %dpx; padding-left: %dpx; margin-left: %dpx;", {d, -d, MarkerIndent});
}

void TRVListLevel::WriteHTMLOpenTag(TStream& stream, bool use_css) const {
  AnsiString attr;
  if (use_css) {
    int32_t prev_left = 0;
    if (Collection() && Index() > 0)
      prev_left = static_cast<TRVListLevel*>(Collection()->Items(Index() - 1))->LeftIndent;
    AnsiString css;
    if (MarkerIndent < LeftIndent)
      css = Format("text-indent: %dpx; margin-left: %dpx; list-style-position: outside;",
                   {FirstIndent, LeftIndent - prev_left});
    else
      css = Format("text-indent: %dpx; margin-left: %dpx; list-style-position: inside;",
                   {MarkerIndent - LeftIndent, LeftIndent - prev_left});
    attr = " style=\"" + css + "\"";
  }
  if (HasNumbering()) {
    const char* type = "";
    switch (ListType) {
      case rvlstLowerAlpha: type = " type=a"; break;
      case rvlstUpperAlpha: type = " type=A"; break;
      case rvlstLowerRoman: type = " type=i"; break;
      case rvlstUpperRoman: type = " type=I"; break;
      default: break;
    }
    RV_StreamWrite(stream, Format("<ol%s%s>", {type, attr}));
  } else {
    RV_StreamWrite(stream, Format("<ul%s>", {attr}));
  }
}

void TRVListLevel::WriteHTMLCloseTag(TStream& stream) const { RV_StreamWrite(stream, HasNumbering() ? "</ol>" : "</ul>"); }

// ---- Level collection --------------------------------------------------------------------------

TRVListLevelCollection::TRVListLevelCollection(TPersistent* owner)
    : TCollection(ItemClass<TRVListLevel>()), owner_(owner) {}

TRVListLevel* TRVListLevelCollection::Items(int32_t index) const {
  if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", {index}));
  return static_cast<TRVListLevel*>(TCollection::Items(index));
}

bool TRVListLevelCollection::IsEqual(const TRVListLevelCollection* v) const {
  if (Count() != v->Count()) return false;
  for (int32_t i = 0; i < Count(); ++i)
    if (!Items(i)->IsEqual(v->Items(i))) return false;
  return true;
}

// ---- List style --------------------------------------------------------------------------------

TRVListInfo::TRVListInfo(TCollection* collection) : TCustomRVInfo(collection), levels_(this) {
  StyleName = "List Style";
}

int32_t TRVListInfo::GetListId() {
  if (list_id_ == 0) list_id_ = RVRandomId();
  return list_id_;
}

bool TRVListInfo::HasNumbering() const {
  for (int32_t i = 0; i < levels_.Count(); ++i)
    if (levels_.Items(i)->HasNumbering()) return true;
  return false;
}

bool TRVListInfo::HasTextNumbering() const {
  for (int32_t i = 0; i < levels_.Count(); ++i)
    if (RVIsTextNumberedType(levels_.Items(i)->ListType)) return true;
  return false;
}

void TRVListInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVListInfo*>(source)) {
    levels_.Assign(&s->levels_);
    OneLevelPreview = s->OneLevelPreview;
  }
  TCustomRVInfo::Assign(source);
}

bool TRVListInfo::SameProperties(TCustomRVInfo* value, bool, bool ignore_list_id) {
  auto* v = dynamic_cast<TRVListInfo*>(value);
  if (!v) return false;
  bool same = OneLevelPreview == v->OneLevelPreview && levels_.Count() == v->levels_.Count() &&
              (ignore_list_id || GetListId() == v->GetListId()) && levels_.IsEqual(&v->levels_);
  if (same && CompareStyleNames) same = StyleName == v->StyleName;
  return same;
}

bool TRVListInfo::SameAsMapped(TCustomRVInfo* value, const TRVIntegerList&) {
  return SameProperties(value, true, false);
}

int32_t TRVListInfo::Closeness(TCustomRVInfo* value) {
  auto* v = dynamic_cast<TRVListInfo*>(value);
  if (!v) return 0;
  int32_t r = 0;
  if (GetListId() == v->GetListId()) r += 50;
  if (OneLevelPreview == v->OneLevelPreview) r += 100;
  const int32_t a = levels_.Count(), b = v->levels_.Count();
  for (int32_t i = 0; i < std::min(a, b); ++i) r += levels_.Items(i)->Closeness(v->levels_.Items(i));
  return r - 100 * (std::max(a, b) - std::min(a, b));
}

// ---- Collection --------------------------------------------------------------------------------

TRVListInfos::TRVListInfos(TPersistent* owner) : TCustomRVInfos(owner, ItemClass<TRVListInfo>()) {}

TRVListInfo* TRVListInfos::Items(int32_t index) const {
  if (index < 0 || index >= Count()) throw EListError(Format("List index out of bounds (%d)", {index}));
  return static_cast<TRVListInfo*>(TCollection::Items(index));
}

void TRVListInfos::RemoveImageList(TObject* image_list) {
  for (int32_t i = 0; i < Count(); ++i) {
    TRVListLevelCollection* levels = Items(i)->Levels();
    for (int32_t j = 0; j < levels->Count(); ++j)
      if (levels->Items(j)->ImageList == image_list) levels->Items(j)->ImageList = nullptr;
  }
}

// ---- The style sheet's list styles -------------------------------------------------------------

TRVListInfos* TRVStyle::ListStyles() {
  if (!list_styles_) list_styles_ = std::make_shared<TRVListInfos>(this);
  return list_styles_.get();
}

}  // namespace pelvar

namespace pelvar {

namespace {
AnsiString Key(const AnsiString& kf, const char* name) { return Format(kf, {name}); }

const std::pair<TColor, const char*> kColorNames[] = {
    {clBlack, "clBlack"}, {clMaroon, "clMaroon"}, {clGreen, "clGreen"}, {clOlive, "clOlive"},
    {clNavy, "clNavy"},   {clPurple, "clPurple"}, {clTeal, "clTeal"},   {clGray, "clGray"},
    {clSilver, "clSilver"}, {clRed, "clRed"},     {clLime, "clLime"},   {clYellow, "clYellow"},
    {clBlue, "clBlue"},   {clFuchsia, "clFuchsia"}, {clAqua, "clAqua"}, {clWhite, "clWhite"},
    {clWindowText, "clWindowText"}, {clWindow, "clWindow"}, {clNone, "clNone"}};

AnsiString ColorText(TColor c) {
  for (const auto& [v, n] : kColorNames)
    if (v == c) return n;
  return Format("$%.8x", {static_cast<uint32_t>(c)});
}

TColor ColorFromText(const AnsiString& s) {
  for (const auto& [v, n] : kColorNames)
    if (SameText(s, n)) return v;
  if (!s.empty() && s[0] == '$') return static_cast<TColor>(std::stoul(s.substr(1), nullptr, 16));
  return static_cast<TColor>(StrToInt(s));
}
}  // namespace

AnsiString RVFontToIniText(const TFont& f) {
  AnsiString styles;
  if (f.Style().Contains(fsBold)) styles += "B";
  if (f.Style().Contains(fsItalic)) styles += "I";
  if (f.Style().Contains(fsUnderline)) styles += "U";
  if (f.Style().Contains(fsStrikeOut)) styles += "S";
  return Format("%s,%d,%s,%d,%s,%d",
                {f.Name(), f.Height(), styles, static_cast<int32_t>(f.Pitch()), ColorText(f.Color()),
                 static_cast<int32_t>(f.Charset())});
}

void RVIniTextToFont(const AnsiString& text, TFont& font) {
  std::vector<AnsiString> parts;
  size_t p = 0;
  for (;;) {
    const size_t c = text.find(',', p);
    parts.push_back(text.substr(p, c == AnsiString::npos ? AnsiString::npos : c - p));
    if (c == AnsiString::npos) break;
    p = c + 1;
  }
  const size_t n = parts.size();
  if (n > 0) font.SetName(parts[0]);
  if (n > 1) font.SetHeight(StrToInt(parts[1]));
  if (n > 2) {
    TFontStyles st;
    for (char ch : parts[2]) {
      switch (std::toupper(static_cast<unsigned char>(ch))) {
        case 'B': st.Include(fsBold); break;
        case 'I': st.Include(fsItalic); break;
        case 'U': st.Include(fsUnderline); break;
        case 'S': st.Include(fsStrikeOut); break;
        default: break;
      }
    }
    font.SetStyle(st);
  }
  if (n > 3) font.SetPitch(static_cast<TFontPitch>(StrToInt(parts[3])));
  if (n > 4) {
    try {
      font.SetColor(ColorFromText(parts[4]));
    } catch (const std::exception&) {
      throw EConvertError(Format("'%s' is not a valid integer value", {parts[4]}));
    }
  }
  if (n > 5) font.SetCharset(static_cast<TFontCharset>(StrToInt(parts[5])));
}

void TRVListLevel::WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  RVWriteIniInt(ini, section, Key(kf, "ListType"), ListType, 0);
  RVWriteIniInt(ini, section, Key(kf, "ImageIndex"), ImageIndex, 0);
  ini.WriteString(section, Key(kf, "FormatString"), FormatString);
  RVWriteIniInt(ini, section, Key(kf, "LeftIndent"), LeftIndent, 0);
  RVWriteIniInt(ini, section, Key(kf, "FirstIndent"), FirstIndent, 10);
  RVWriteIniInt(ini, section, Key(kf, "MarkerIndent"), MarkerIndent, 0);
  RVWriteIniInt(ini, section, Key(kf, "MarkerAlignment"), MarkerAlignment, 0);
  if (HasPicture()) {
    const AnsiString cls = RVGraphicClassName(picture_.get());
    if (!cls.empty()) {
      ini.WriteString(section, Key(kf, "GraphicClass"), cls);
      TMemoryStream m;
      picture_->SaveToStream(m);
      RVWriteLongString(ini, section, Key(kf, "Picture"), RVFStreamToHex(m));
    }
  }
  if (font_) ini.WriteString(section, Key(kf, "Font"), RVFontToIniText(*font_));
  RVWriteIniBool(ini, section, Key(kf, "Continuous"), Options.Contains(rvloContinuous), true);
  RVWriteIniBool(ini, section, Key(kf, "LevelReset"), Options.Contains(rvloLevelReset), true);
  if (!FormatStringW.empty()) {
    TMemoryStream m;
    for (char16_t c : FormatStringW) {
      const uint8_t b[2] = {static_cast<uint8_t>(c & 0xFF), static_cast<uint8_t>(c >> 8)};
      m.WriteBuffer(b, 2);
    }
    ini.WriteString(section, Key(kf, "FormatStringW"), RVFStreamToHex(m));
  }
}

void TRVListLevel::ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  const int32_t type = ini.ReadInteger(section, Key(kf, "ListType"), 0);
  ListType = type >= 0 && type <= rvlstUnicodeBullet ? static_cast<TRVListType>(type) : rvlstBullet;
  ImageIndex = ini.ReadInteger(section, Key(kf, "ImageIndex"), 0);
  FormatString = ini.ReadString(section, Key(kf, "FormatString"), "");
  LeftIndent = ini.ReadInteger(section, Key(kf, "LeftIndent"), 0);
  FirstIndent = ini.ReadInteger(section, Key(kf, "FirstIndent"), 10);
  MarkerIndent = ini.ReadInteger(section, Key(kf, "MarkerIndent"), 0);
  const int32_t align = ini.ReadInteger(section, Key(kf, "MarkerAlignment"), 0);
  MarkerAlignment = align >= 0 && align <= rvmaCenter ? static_cast<TRVMarkerAlignment>(align) : rvmaLeft;
  picture_.reset();
  const AnsiString cls = ini.ReadString(section, Key(kf, "GraphicClass"), "");
  if (std::unique_ptr<TGraphic> g = cls.empty() ? nullptr : RVCreateGraphic(cls)) {
    TMemoryStream m;
    try {
      if (RVFHexToStream(RVReadLongString(ini, section, Key(kf, "Picture")), m)) {
        m.SetPosition(0);
        g->LoadFromStream(m);
        picture_ = std::move(g);
      }
    } catch (const Exception&) {
      // A picture that cannot be loaded is dropped.
    }
  }
  if (ini.ValueExists(section, Key(kf, "Font")))
    RVIniTextToFont(ini.ReadString(section, Key(kf, "Font"), ""), *Font());
  else
    font_.reset();
  Options = TRVListLevelOptions();
  if (RVReadIniBool(ini, section, Key(kf, "Continuous"), true)) Options.Include(rvloContinuous);
  if (RVReadIniBool(ini, section, Key(kf, "LevelReset"), true)) Options.Include(rvloLevelReset);
  FormatStringW.clear();
  const AnsiString wh = ini.ReadString(section, Key(kf, "FormatStringW"), "");
  TMemoryStream m;
  if (!wh.empty() && RVFHexToStream(wh, m))
    for (int64_t i = 0; i + 1 < m.Size(); i += 2)
      FormatStringW += static_cast<char16_t>(m.Memory()[i] | (m.Memory()[i + 1] << 8));
}

void TRVListInfo::WriteIni(TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  ini.WriteString(section, Key(kf, "StyleName"), StyleName);
  RVWriteIniInt(ini, section, Key(kf, "BaseStyleNo"), BaseStyleNo, -1);
  RVWriteIniInt(ini, section, Key(kf, "Standard"), Standard ? 1 : 0, 1);
  RVWriteIniInt(ini, section, Key(kf, "LevelsCount"), levels_.Count(), 0);
  RVWriteIniBool(ini, section, "OneLevelPreview", OneLevelPreview, false);
  const AnsiString base = Format(kf, {""});
  for (int32_t i = 0; i < levels_.Count(); ++i)
    levels_.Items(i)->WriteIni(ini, section, base + "Lvl" + IntToStr(i) + "%s");
}

void TRVListInfo::ReadIni(const TIniFile& ini, const AnsiString& section, const AnsiString& kf) {
  StyleName = ini.ReadString(section, Key(kf, "StyleName"), "List Style");
  BaseStyleNo = ini.ReadInteger(section, Key(kf, "BaseStyleNo"), -1);
  Standard = ini.ReadInteger(section, Key(kf, "Standard"), 1) != 0;
  OneLevelPreview = RVReadIniBool(ini, section, "OneLevelPreview", false);
  const int32_t count = ini.ReadInteger(section, Key(kf, "LevelsCount"), 0);
  const AnsiString base = Format(kf, {""});
  for (int32_t i = 0; i < count; ++i) levels_.Add()->ReadIni(ini, section, base + "Lvl" + IntToStr(i) + "%s");
}

}  // namespace pelvar
