#include "richtext/model/RVStyle_list.h"

#include <chrono>
#include <random>
#include <typeinfo>

#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/sysutils.h"
#include "richtext/model/RVConst.h"

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
  ImageList = s->ImageList;
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
