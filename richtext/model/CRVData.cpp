#include "richtext/model/CRVData.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <mutex>
#include <typeinfo>

#include "platform/beep.h"
#include "platform/sysutils.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVImageList.h"
#include "richtext/model/RVJPEG.h"
#include "richtext/model/RVMarker.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

void RV_CheckUnicodeLength(size_t length) {
  if (length % 2 != 0) throw EDocViewError("Can't perform Unicode operation");
}

namespace {
constexpr uint8_t kUnicodeOption = 8;
bool FileExists(const AnsiString& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}
bool FileIsReadOnly(const AnsiString& path) { return ::access(path.c_str(), W_OK) != 0; }
}  // namespace

// ---- HTML graphic classes ----
namespace {
std::mutex& HTMLGraphicLock() {
  static std::mutex m;
  return m;
}
std::map<AnsiString, AnsiString>& HTMLGraphicClasses() {
  static std::map<AnsiString, AnsiString> m;
  return m;
}
AnsiString GraphicClassName(const TGraphic* graphic) {
  if (!graphic) return AnsiString();
  int status = 0;
  const char* mangled = typeid(*graphic).name();
  std::unique_ptr<char, void (*)(void*)> dem(abi::__cxa_demangle(mangled, nullptr, nullptr, &status), std::free);
  AnsiString name = status == 0 && dem ? AnsiString(dem.get()) : AnsiString(mangled);
  auto sep = name.rfind("::");
  return sep == AnsiString::npos ? name : name.substr(sep + 2);
}
AnsiString HTMLGraphicExt(const TGraphic* graphic) {
  std::lock_guard<std::mutex> g(HTMLGraphicLock());
  auto it = HTMLGraphicClasses().find(GraphicClassName(graphic));
  return it == HTMLGraphicClasses().end() ? AnsiString() : it->second;
}
}  // namespace

void RV_RegisterHTMLGraphicFormat(const AnsiString& class_name, const AnsiString& ext) {
  std::lock_guard<std::mutex> g(HTMLGraphicLock());
  HTMLGraphicClasses()[class_name] = ext;
}

bool RV_IsHTMLGraphicClass(const TGraphic* graphic) { return !HTMLGraphicExt(graphic).empty(); }

// ---- Construction --------------------------------------------------------------------------------
TCustomRVData::TCustomRVData() {
  own_items_ = std::make_unique<TStringList>();
  items_ = own_items_.get();
}

TCustomRVData::~TCustomRVData() {
  State |= rvstDestroying;
  // A shared list belongs to the document that owns it: only an own list is cleared.
  if (items_ == own_items_.get()) {
    try {
      Clear();
    } catch (...) {
      // A handler that raises while the document goes away cannot stop it.
    }
  }
  delete not_added_cp_;
  not_added_cp_ = nullptr;
}

// ---- Owner-answered operations ---------------------------------------------------------------------
// Each asks the root document; a document that is its own root answers from its settings.
#define RV_ASK_ROOT(call)                              \
  do {                                                 \
    TCustomRVData* root = GetRootData();               \
    if (root && root != this) return root->call;       \
  } while (0)

TRVOptions TCustomRVData::GetOptions() {
  RV_ASK_ROOT(GetOptions());
  return options_;
}
void TCustomRVData::SetOptions(TRVOptions value) {
  TCustomRVData* root = GetRootData();
  if (root && root != this) return root->SetOptions(value);
  options_ = value;
}
TRVFOptions TCustomRVData::GetRVFOptions() {
  RV_ASK_ROOT(GetRVFOptions());
  return rvf_options_;
}
void TCustomRVData::SetRVFOptions(TRVFOptions value) {
  TCustomRVData* root = GetRootData();
  if (root && root != this) return root->SetRVFOptions(value);
  rvf_options_ = value;
}
TRVRTFOptions TCustomRVData::GetRTFOptions() {
  RV_ASK_ROOT(GetRTFOptions());
  return rtf_options_;
}
void TCustomRVData::SetRTFOptions(TRVRTFOptions value) {
  TCustomRVData* root = GetRootData();
  if (root && root != this) return root->SetRTFOptions(value);
  rtf_options_ = value;
}
uint32_t TCustomRVData::GetRVFWarnings() {
  RV_ASK_ROOT(GetRVFWarnings());
  return rvf_warnings_;
}
void TCustomRVData::SetRVFWarnings(uint32_t value) {
  TCustomRVData* root = GetRootData();
  if (root && root != this) return root->SetRVFWarnings(value);
  rvf_warnings_ = value;
}
TRVFReaderStyleMode TCustomRVData::GetRVFTextStylesReadMode() {
  RV_ASK_ROOT(GetRVFTextStylesReadMode());
  return text_read_mode_;
}
TRVFReaderStyleMode TCustomRVData::GetRVFParaStylesReadMode() {
  RV_ASK_ROOT(GetRVFParaStylesReadMode());
  return para_read_mode_;
}
uint16_t TCustomRVData::GetFlags() {
  RV_ASK_ROOT(GetFlags());
  return flags_;
}
void TCustomRVData::SetFlags(uint16_t value) {
  TCustomRVData* root = GetRootData();
  if (root && root != this) return root->SetFlags(value);
  flags_ = value;
}
int32_t TCustomRVData::GetMaxLength() {
  TCustomRVData* root = GetAbsoluteRootData();
  if (root && root != this) return root->GetMaxLength();
  return max_length_;
}
TRVStyle* TCustomRVData::GetRVStyle() {
  TCustomRVData* parent = GetParentData();
  if (parent && parent != this) return parent->GetRVStyle();
  return rvstyle_;
}
TRVPaletteAction TCustomRVData::GetDoInPaletteMode() {
  RV_ASK_ROOT(GetDoInPaletteMode());
  return rvpaDoNothing;
}
TRVBiDiMode TCustomRVData::GetBiDiMode() {
  RV_ASK_ROOT(GetBiDiMode());
  return bidi_mode_;
}
AnsiString TCustomRVData::GetDelimiters() {
  RV_ASK_ROOT(GetDelimiters());
  return delimiters_;
}
TObject* TCustomRVData::GetParentControl() {
  RV_ASK_ROOT(GetParentControl());
  return nullptr;
}
void TCustomRVData::InitStyleMappings(TRVIntegerList*& text_mapping, TRVIntegerList*& para_mapping,
                                      TRVIntegerList*& list_mapping) {
  TCustomRVData* root = GetRootData();
  if (root && root != this) return root->InitStyleMappings(text_mapping, para_mapping, list_mapping);
  text_mapping = &text_mapping_;
  para_mapping = &para_mapping_;
  list_mapping = &list_mapping_;
}
void TCustomRVData::DoURLNeeded(int32_t id, AnsiString& url) {
  RV_ASK_ROOT(DoURLNeeded(id, url));
  if (OnURLNeeded) OnURLNeeded(id, url);
}
TGraphic* TCustomRVData::DoRVFPictureNeeded(const AnsiString& name, const TRVTag& tag) {
  RV_ASK_ROOT(DoRVFPictureNeeded(name, tag));
  return OnRVFPictureNeeded ? OnRVFPictureNeeded(name, tag) : nullptr;
}
TObject* TCustomRVData::DoRVFControlNeeded(const AnsiString& name, const TRVTag& tag) {
  RV_ASK_ROOT(DoRVFControlNeeded(name, tag));
  return OnRVFControlNeeded ? OnRVFControlNeeded(name, tag) : nullptr;
}

void TCustomRVData::DoReadHyperlink(const AnsiString& target, const AnsiString& extras, TRVLoadFormat doc_format,
                                    int32_t& style_no, TRVTag& item_tag, AnsiString& item_name) {
  RV_ASK_ROOT(DoReadHyperlink(target, extras, doc_format, style_no, item_tag, item_name));
  if (OnReadHyperlink) OnReadHyperlink(target, extras, doc_format, style_no, item_tag, item_name);
}
TObject* TCustomRVData::DoRVFImageListNeeded(int32_t image_list_tag) {
  RV_ASK_ROOT(DoRVFImageListNeeded(image_list_tag));
  return OnRVFImageListNeeded ? OnRVFImageListNeeded(image_list_tag) : nullptr;
}
void* TCustomRVData::GetRVPalette() {
  RV_ASK_ROOT(GetRVPalette());
  return nullptr;
}
void* TCustomRVData::GetRVLogPalette() {
  RV_ASK_ROOT(GetRVLogPalette());
  return nullptr;
}

#undef RV_ASK_ROOT

// Forwarded to the absolute root.
#define RV_ASK_ABS_ROOT(call)                          \
  do {                                                 \
    TCustomRVData* root = GetAbsoluteRootData();       \
    if (root && root != this) return root->call;       \
  } while (0)

bool TCustomRVData::SaveComponentToFile(const AnsiString& path, TObject* control, TRVSaveFormat format,
                                        AnsiString& out) {
  RV_ASK_ABS_ROOT(SaveComponentToFile(path, control, format, out));
  return OnSaveComponentToFile ? OnSaveComponentToFile(path, control, format, out) : false;
}
bool TCustomRVData::IsAssignedOnProgress() {
  RV_ASK_ABS_ROOT(IsAssignedOnProgress());
  return static_cast<bool>(OnProgress);
}
void TCustomRVData::DoProgress(int32_t operation, int32_t stage, uint8_t percent) {
  RV_ASK_ABS_ROOT(DoProgress(operation, stage, percent));
  if (OnProgress) OnProgress(operation, stage, percent);
}
void TCustomRVData::DoSaveImage2(TGraphic* graphic, TRVSaveFormat format, const AnsiString& path,
                                 const AnsiString& image_prefix, int32_t& image_save_no, AnsiString& location,
                                 bool& do_default) {
  RV_ASK_ABS_ROOT(DoSaveImage2(graphic, format, path, image_prefix, image_save_no, location, do_default));
  if (OnSaveImage2) OnSaveImage2(graphic, format, path, image_prefix, image_save_no, location, do_default);
}
std::vector<TRVMarkerItemInfo*>* TCustomRVData::GetMarkers(bool allow_create) {
  RV_ASK_ABS_ROOT(GetMarkers(allow_create));
  if (!markers_ && allow_create) markers_ = std::make_unique<std::vector<TRVMarkerItemInfo*>>();
  return markers_.get();
}
void TCustomRVData::DestroyMarkers() {
  RV_ASK_ABS_ROOT(DestroyMarkers());
  markers_.reset();
}

void TCustomRVData::DoSaveRTFExtra(int32_t area, TObject* obj, int32_t index1, int32_t index2, bool in_style_sheet,
                                   AnsiString& rtf_code) {
  RV_ASK_ABS_ROOT(DoSaveRTFExtra(area, obj, index1, index2, in_style_sheet, rtf_code));
  if (OnSaveRTFExtra) OnSaveRTFExtra(area, obj, index1, index2, in_style_sheet, rtf_code);
}
void TCustomRVData::DoSaveHTMLExtra(int32_t area, bool css_version, AnsiString& html_code) {
  RV_ASK_ABS_ROOT(DoSaveHTMLExtra(area, css_version, html_code));
  if (OnSaveHTMLExtra) OnSaveHTMLExtra(area, css_version, html_code);
}
void TCustomRVData::DoWriteHyperlink(int32_t id, TCustomRVData* rvdata, int32_t item_no, TRVSaveFormat format,
                                     AnsiString& target, AnsiString& extras) {
  RV_ASK_ABS_ROOT(DoWriteHyperlink(id, rvdata, item_no, format, target, extras));
  if (OnWriteHyperlink) OnWriteHyperlink(id, rvdata, item_no, format, target, extras);
}
void TCustomRVData::DoHTMLSaveImage(TCustomRVData* rvdata, int32_t item_no, const AnsiString& path, TColor back_color,
                                    AnsiString& location, bool& do_default) {
  RV_ASK_ABS_ROOT(DoHTMLSaveImage(rvdata, item_no, path, back_color, location, do_default));
  if (OnHTMLSaveImage) OnHTMLSaveImage(rvdata, item_no, path, back_color, location, do_default);
}
TGraphic* TCustomRVData::DoImportPicture(const AnsiString& location, int32_t width, int32_t height) {
  RV_ASK_ABS_ROOT(DoImportPicture(location, width, height));
  return OnImportPicture ? OnImportPicture(location, width, height) : nullptr;
}
bool TCustomRVData::SaveItemToFile(const AnsiString& path, TCustomRVData* rvdata, int32_t item_no,
                                   TRVSaveFormat format, bool unicode, AnsiString& out) {
  RV_ASK_ABS_ROOT(SaveItemToFile(path, rvdata, item_no, format, unicode, out));
  return OnSaveItemToFile ? OnSaveItemToFile(path, rvdata, item_no, format, unicode, out) : false;
}

#undef RV_ASK_ABS_ROOT

void TCustomRVData::DoItemHint(TCustomRVData* rvdata, int32_t item_no, AnsiString& hint) {
  TCustomRVData* parent = GetAbsoluteParentData();
  if (parent && parent != this) return parent->DoItemHint(rvdata, item_no, hint);
  if (item_no >= 0 && rvdata) hint = rvdata->GetItem(item_no)->Hint;
  if (OnItemHint) OnItemHint(rvdata, item_no, hint);
}

void TCustomRVData::DoControlAction(TRVControlAction action, int32_t item_no, TObject* control) {
  TCustomRVData* root = GetAbsoluteRootData();
  if (root && root != this) return root->DoControlAction(action, item_no, control);
  if (OnControlAction) OnControlAction(action, item_no, control);
}

void TCustomRVData::ItemAction(TRVItemAction action, TCustomRVItemInfo* item, AnsiString& text,
                               TCustomRVData* rvdata) {
  TCustomRVData* root = GetAbsoluteRootData();
  if (root && root != this) return root->ItemAction(action, item, text, rvdata);
  if (OnItemAction) OnItemAction(action, item, text, rvdata);
}

void TCustomRVData::GetSelectionBounds(int32_t, int32_t& start_item_no, int32_t& start_offs, int32_t& end_item_no,
                                       int32_t& end_offs) {
  start_item_no = 0;
  end_item_no = ItemCount() - 1;
  if (ItemCount() == 0) {
    start_offs = end_offs = 0;
    return;
  }
  start_offs = GetOffsBeforeItem(0);
  end_offs = GetOffsAfterItem(end_item_no);
}

void TCustomRVData::GetParentInfo(int32_t& parent_item_no, std::unique_ptr<TRVStoreSubRVData>& location) {
  parent_item_no = -1;
  location.reset();
}

// ---- Construction and removal ---------------------------------------------------------------------
void TCustomRVData::FreeItem(TCustomRVItemInfo* item, bool clearing) {
  RemoveMarkerFromList(item, clearing);
  if (item->Checkpoint) {
    TRVCPInfo* cp = item->Checkpoint;
    FreeCheckpoint(cp, true, true);
    item->Checkpoint = nullptr;
  }
  delete item;
}

void TCustomRVData::ItemControlAction(TRVControlAction action, int32_t item_no, TCustomRVItemInfo* item) {
  if (auto* c = dynamic_cast<TRVControlItemInfo*>(item)) DoControlAction(action, item_no, c->Control);
}

void TCustomRVData::DestroyItem(int32_t item_no, bool clearing) {
  TCustomRVItemInfo* item = GetItem(item_no);
  AnsiString text = GetItemTextRaw(item_no);
  ItemAction(rviaDestroying, item, text, this);
  ItemControlAction(rvcaDestroy, item_no, item);
  FreeItem(item, clearing);
  items_->PutObject(item_no, nullptr);
}

void TCustomRVData::Clear() {
  const uint32_t old = State & rvstClearing;
  State |= rvstClearing;
  State &= ~(rvstContinuesList | rvstLastParaContinues);
  if (!ShareItems()) {
    items_->BeginUpdate();
    int32_t i = 0;
    try {
      for (; i < items_->Count(); ++i) DestroyItem(i, true);
    } catch (...) {
      // A handler raised: the rest go without events, so that nothing is left behind.
      for (int32_t j = i; j < items_->Count(); ++j)
        if (TCustomRVItemInfo* item = GetItem(j)) {
          items_->PutObject(j, nullptr);
          FreeItem(item, true);
        }
      items_->Clear();
      items_->EndUpdate();
      State = (State & ~rvstClearing) | old;
      throw;
    }
    items_->Clear();
    items_->EndUpdate();
  }
  FreeCheckpoint(not_added_cp_, false, true);
  first_cp_ = last_cp_ = nullptr;
  cp_count_ = 0;
  if (TStringList* props = GetDocProperties()) props->Clear();
  State = (State & ~rvstClearing) | old;
}

void TCustomRVData::DeleteItems(int32_t first_item_no, int32_t count) {
  if (ShareItems() || first_item_no < 0 || first_item_no >= ItemCount() || count <= 0) return;
  count = std::min(count, ItemCount() - first_item_no);
  items_->BeginUpdate();
  try {
    for (int32_t k = 0; k < count; ++k) {
      DestroyItem(first_item_no, false);
      items_->Delete(first_item_no);
    }
  } catch (...) {
    items_->EndUpdate();
    throw;
  }
  items_->EndUpdate();
}

// ---- Adding --------------------------------------------------------------------------------------------
void TCustomRVData::AddEmptyItemAfterMarker() {
  auto item = CreateRVItem(0, this);
  item->ParaNo = -1;
  AddItem("", item.release());
}

void TCustomRVData::AddItem(const AnsiString& text, TCustomRVItemInfo* item) {
  std::unique_ptr<TCustomRVItemInfo> guard(item);
  const int32_t n = ItemCount();
  if (item->ParaNo == -1 && n > 0 && !GetItem(n - 1)->GetBoolValue(0)) {
    item->SetSameAsPrev(true);
    item->ParaNo = GetItem(n - 1)->ParaNo;
  } else {
    if (n > 0 && GetItem(n - 1)->StyleNo == rvsListMarker) AddEmptyItemAfterMarker();
    item->ItemOptions.Exclude(rvioSameAsPrev);
    bool br = (item->GetBR() || !allow_new_para_) && !item->GetBoolValue(0);
    item->ItemOptions.Set(rvioBR, br);
    if (item->ParaNo == -1) item->ParaNo = 0;
  }
  AddItemAsIs(text, guard.release());
}

void TCustomRVData::AddItemAsIs(const AnsiString& text, TCustomRVItemInfo* item) {
  std::unique_ptr<TCustomRVItemInfo> guard(item);
  if (item->Checkpoint) {
    // The checkpoint the item carries becomes the pending one (unless one is pending).
    TRVCPInfo* carried = item->Checkpoint;
    item->Checkpoint = nullptr;
    if (!not_added_cp_) {
      carried->ItemInfo = nullptr;
      carried->Next = carried->Prev = nullptr;
      not_added_cp_ = carried;
      ++cp_count_;
    } else {
      delete carried;
    }
  }
  AttachPendingCheckpoint(item, last_cp_, not_added_cp_);
  item->UpdatePaletteInfo(GetDoInPaletteMode(), false);
  AnsiString s = text;
  item->Inserting(this, s, false);
  items_->AddObject(s, guard.release());
  item->Inserted(this, ItemCount() - 1);
}

void TCustomRVData::AddTextItemTagAsIs(const AnsiString& text, int32_t style_no, int32_t para_no, const TRVTag& tag) {
  auto item = CreateRVItem(style_no < 0 ? rvsDefStyle : style_no, this);
  item->ParaNo = para_no;
  item->Tag = tag;
  if (TRVStyle* style = GetRVStyle()) {
    int32_t eff = GetActualStyle2(item->StyleNo, para_no >= 0 ? para_no : (ItemCount() ? GetItemPara(ItemCount() - 1) : 0));
    if (style->TextStyles()->Items(eff)->Unicode) item->ItemOptions.Include(rvioUnicodeText);
  }
  AddItem(text, item.release());
}

void TCustomRVData::AddTextItemTag(const AnsiString& text, int32_t style_no, int32_t para_no, const TRVTag& tag) {
  int32_t eff = GetActualStyle2(style_no < 0 ? rvsDefStyle : style_no,
                                para_no >= 0 ? para_no : (ItemCount() ? GetItemPara(ItemCount() - 1) : 0));
  TRVStyle* style = GetRVStyle();
  bool unicode = style && style->TextStyles()->Items(eff)->Unicode;
  AddTextItemTagAsIs(ReplaceTabs(text, eff, unicode), style_no, para_no, tag);
}

void TCustomRVData::AddTextItem(const AnsiString& text, int32_t style_no, int32_t para_no) {
  AddTextItemTag(text, style_no, para_no, TRVTag());
}

void TCustomRVData::AddAnsiTextItemTagAsIs(const AnsiString& text, int32_t style_no, int32_t para_no,
                                           const TRVTag& tag) {
  int32_t eff = GetActualStyle2(style_no < 0 ? rvsDefStyle : style_no,
                                para_no >= 0 ? para_no : (ItemCount() ? GetItemPara(ItemCount() - 1) : 0));
  TRVStyle* style = GetRVStyle();
  if (style && style->TextStyles()->Items(eff)->Unicode)
    AddTextItemTagAsIs(RVU_AnsiToUnicode(GetStyleCodePage(eff), text), style_no, para_no, tag);
  else
    AddTextItemTagAsIs(text, style_no, para_no, tag);
}

void TCustomRVData::AddAnsiTextItemTag(const AnsiString& text, int32_t style_no, int32_t para_no, const TRVTag& tag) {
  int32_t eff = GetActualStyle2(style_no < 0 ? rvsDefStyle : style_no,
                                para_no >= 0 ? para_no : (ItemCount() ? GetItemPara(ItemCount() - 1) : 0));
  TRVStyle* style = GetRVStyle();
  if (style && style->TextStyles()->Items(eff)->Unicode)
    AddTextItemTag(RVU_AnsiToUnicode(GetStyleCodePage(eff), text), style_no, para_no, tag);
  else
    AddTextItemTag(text, style_no, para_no, tag);
}

AnsiString TCustomRVData::ReplaceTabs(const AnsiString& text, int32_t style_no, bool is_unicode) {
  TRVStyle* style = GetRVStyle();
  if (!style) return is_unicode ? RV_ReplaceTabsW(text, 8) : RV_ReplaceTabsA(text, 8);
  bool unicode = style->TextStyles()->Items(style_no)->Unicode;
  return unicode ? RV_ReplaceTabsW(text, style->SpacesInTab) : RV_ReplaceTabsA(text, style->SpacesInTab);
}

bool TCustomRVData::AddTextBlockTag(const AnsiString& text, int32_t style_no, int32_t first_para_no, int32_t para_no,
                                    const TRVTag& tag) {
  return AddTextBlock(text, style_no, first_para_no, para_no, tag, true, false);
}

bool TCustomRVData::AddTextBlock(const AnsiString& text, int32_t style_no, int32_t first_para_no, int32_t para_no,
                                 const TRVTag& tag, bool convert, bool single_para) {
  const bool saved_allow = allow_new_para_;
  const bool page_breaks = PageBreaksAllowed();
  TRVStyle* style = GetRVStyle();
  const bool tab_items = style && style->SpacesInTab <= 0;
  const bool pchars = TagsArePChars();
  bool result = true;
  try {
    int32_t cur_para = first_para_no;
    bool new_para = first_para_no >= 0;
    bool page_break = false;
    bool added_one = false;
    auto flush = [&](size_t from, size_t to) {
      AnsiString seg = text.substr(from, to - from);
      if (!seg.empty() || new_para) {
        int32_t p = (new_para || page_break) ? cur_para : -1;
        TRVTag t = RV_CopyTag(tag, pchars);
        if (tab_items) {
          if (convert)
            AddAnsiTextItemTagAsIs(seg, style_no, p, t);
          else
            AddTextItemTagAsIs(seg, style_no, p, t);
        } else {
          if (convert)
            AddAnsiTextItemTag(seg, style_no, p, t);
          else
            AddTextItemTag(seg, style_no, p, t);
        }
        if (single_para && !added_one) allow_new_para_ = false;
        added_one = true;
      }
      new_para = false;
      if (page_break) {
        if (ItemCount() > 0) GetItem(ItemCount() - 1)->SetPageBreakBefore(true);
        page_break = false;
      }
    };
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      char c = text[i];
      if (c == '\n' || c == '\r' || c == '\f' || (c == '\t' && tab_items)) {
        flush(start, i);
        if (c == '\t') {
          auto tab = std::make_unique<TRVTabItemInfo>(this);
          tab->StyleNo = rvsTab;
          tab->TextStyleNo = style_no < 0 ? rvsDefStyle : style_no;
          tab->ParaNo = new_para ? cur_para : -1;
          tab->Tag = RV_CopyTag(tag, pchars);
          AddItem("", tab.release());
          new_para = false;
        } else {
          new_para = true;
          cur_para = para_no;
          if (c == '\f' && page_breaks) page_break = true;
          if ((c == '\r' || c == '\n') && i + 1 < text.size() &&
              ((c == '\r' && text[i + 1] == '\n') || (c == '\n' && text[i + 1] == '\r')))
            ++i;  // CR LF and LF CR are one break
        }
        start = i + 1;
      }
    }
    flush(start, text.size());
  } catch (...) {
    result = false;
  }
  allow_new_para_ = saved_allow;
  return result;
}

int32_t TCustomRVData::AddCheckpoint(const AnsiString& name, bool raise_event, const TRVTag& tag) {
  if (not_added_cp_) return cp_count_ - 1;
  not_added_cp_ = new TRVCPInfo();
  not_added_cp_->Name = name;
  not_added_cp_->RaiseEvent = raise_event;
  not_added_cp_->Tag = tag;
  return cp_count_++;
}

void TCustomRVData::AppendFrom(TCustomRVData* source) {
  if (!source) return;
  if (TagsArePChars() != source->TagsArePChars())
    throw EDocViewError("Can't assign DocView to DocView - tags types mismatch");
  TStringList& src = source->Items();
  for (int32_t i = 0; i < src.Count(); ++i) {
    auto* item = static_cast<TCustomRVItemInfo*>(src.Objects(i));
    src.PutObject(i, nullptr);
    if (auto* marker = dynamic_cast<TRVMarkerItemInfo*>(item)) {
      source->RemoveMarkerFromList(marker, true);
      marker->Counter = -1;
    }
    if (item->GetSameAsPrev()) item->ParaNo = -1;
    // The checkpoint moves with its item.
    if (TRVCPInfo* cp = item->Checkpoint) {
      item->Checkpoint = nullptr;
      AddCheckpoint(cp->Name, cp->RaiseEvent, cp->Tag);
      if (not_added_cp_) not_added_cp_->Persistent = cp->Persistent;
      delete cp;
    }
    AddItem(src.Get(i), item);
  }
  // The source's pending checkpoint stays pending here, for the next item added.
  if (source->not_added_cp_ && !not_added_cp_) {
    not_added_cp_ = source->not_added_cp_;
    source->not_added_cp_ = nullptr;
    ++cp_count_;
  }
  src.Clear();
  source->first_cp_ = source->last_cp_ = nullptr;
  delete source->not_added_cp_;
  source->not_added_cp_ = nullptr;
  source->cp_count_ = 0;
  source->Clear();
}

void TCustomRVData::NotifyItemsInserting(TCustomRVData* rvdata, bool safe) {
  for (int32_t i = 0; i < ItemCount(); ++i) {
    AnsiString s = GetItemTextRaw(i);
    GetItem(i)->Inserting(rvdata, s, safe);
    SetItemTextRaw(i, s);
  }
}

bool TCustomRVData::InsertRVFItem(int32_t& index, AnsiString& text, TCustomRVItemInfo* item, bool, int32_t& a,
                                  int32_t& b) {
  item->Inserting(this, text, false);
  items_->InsertObject(index, text, item);
  item->Inserted(this, index);
  AddMarkerInList(index);
  a = -1;
  b = 0;
  return true;
}

// ---- Checkpoints -------------------------------------------------------------------------------------------
void TCustomRVData::AttachPendingCheckpoint(TCustomRVItemInfo* item, TRVCPInfo*& prev, TRVCPInfo*& pending) {
  if (!pending) return;
  TRVCPInfo* cp = pending;
  cp->Prev = prev;
  if (prev) {
    cp->Next = prev->Next;
    prev->Next = cp;
  } else {
    cp->Next = first_cp_;
    first_cp_ = cp;
  }
  if (cp->Next) cp->Next->Prev = cp;
  if (prev == last_cp_ || !last_cp_) last_cp_ = cp;
  cp->ItemInfo = item;
  item->Checkpoint = cp;
  pending = nullptr;
}

void TCustomRVData::LinkCheckpoint(TRVCPInfo* cp, int32_t item_no) {
  if (item_no == -1 || !cp) return;
  UpdateCheckpointItemNumbers();
  cp->ItemNo = item_no;
  cp->ItemInfo = GetItem(item_no);
  if (!first_cp_) {
    cp->Prev = cp->Next = nullptr;
    first_cp_ = last_cp_ = cp;
  } else if (item_no < first_cp_->ItemNo) {
    cp->Prev = nullptr;
    cp->Next = first_cp_;
    first_cp_->Prev = cp;
    first_cp_ = cp;
  } else if (item_no >= last_cp_->ItemNo) {
    cp->Next = nullptr;
    cp->Prev = last_cp_;
    last_cp_->Next = cp;
    last_cp_ = cp;
  } else {
    TRVCPInfo* after = first_cp_;
    while (after->Next && after->Next->ItemNo <= item_no) after = after->Next;
    cp->Prev = after;
    cp->Next = after->Next;
    if (after->Next) after->Next->Prev = cp;
    after->Next = cp;
  }
}

void TCustomRVData::UnlinkCheckpoint(TRVCPInfo* cp, bool dec_count) {
  if (!cp) return;
  cp->ItemInfo = nullptr;
  if (first_cp_ == cp) first_cp_ = cp->Next;
  if (last_cp_ == cp) last_cp_ = cp->Prev;
  if (cp->Prev) cp->Prev->Next = cp->Next;
  if (cp->Next) cp->Next->Prev = cp->Prev;
  cp->Prev = cp->Next = nullptr;
  if (dec_count) --cp_count_;
}

void TCustomRVData::FreeCheckpoint(TRVCPInfo*& cp, bool unlink, bool dec_count) {
  if (!cp) return;
  if (unlink) UnlinkCheckpoint(cp, false);
  delete cp;
  cp = nullptr;
  if (dec_count) --cp_count_;
}

void TCustomRVData::UpdateCheckpointItemNumbers() {
  if (cp_count_ == 0) return;
  int32_t found = 0;
  for (int32_t i = 0; i < ItemCount() && found < cp_count_; ++i)
    if (TRVCPInfo* cp = GetItem(i)->Checkpoint) {
      cp->ItemNo = i;
      ++found;
    }
}

TRVCPInfo* TCustomRVData::FindCheckpointBefore(int32_t item_no) {
  UpdateCheckpointItemNumbers();
  TRVCPInfo* result = nullptr;
  for (TRVCPInfo* cp = first_cp_; cp && cp->ItemNo < item_no; cp = cp->Next) result = cp;
  return result;
}

// ---- Accessors -----------------------------------------------------------------------------------------------
AnsiString TCustomRVData::GetItemTextA(int32_t item_no) {
  TCustomRVItemInfo* item = GetItem(item_no);
  AnsiString s = GetItemTextRaw(item_no);
  if (item->ItemOptions.Contains(rvioUnicodeText)) return RVU_UnicodeToAnsi(GetStyleCodePage(GetActualStyle(item)), s);
  return s;
}

int32_t TCustomRVData::GetActualStyle(const TCustomRVItemInfo* item) { return GetActualStyle2(item->StyleNo, item->ParaNo); }

int32_t TCustomRVData::GetActualStyle2(int32_t style_no, int32_t para_no) {
  if (style_no != rvsDefStyle) return style_no;
  TRVStyle* style = GetRVStyle();
  int32_t def = style ? style->ParaStyles()->Items(para_no)->DefStyleNo : -1;
  return def >= 0 ? def : 0;
}

int32_t TCustomRVData::ItemLength(int32_t item_no) const {
  TCustomRVItemInfo* item = GetItem(item_no);
  if (item->StyleNo < 0) return 1;
  int32_t n = static_cast<int32_t>(GetItemTextRaw(item_no).size());
  return item->ItemOptions.Contains(rvioUnicodeText) ? n / 2 : n;
}

int32_t TCustomRVData::GetOffsAfterItem(int32_t item_no) {
  return IsTextItem(item_no) ? ItemLength(item_no) + 1 : 1;
}

bool TCustomRVData::PageBreaksBeforeItem(int32_t item_no) const {
  if (item_no < 0 || item_no >= ItemCount()) throw EDocViewError("Item index is out of bounds");
  if (item_no > 0 && GetItem(item_no - 1)->StyleNo == rvsListMarker) return GetItem(item_no - 1)->GetPageBreakBefore();
  return GetItem(item_no)->GetPageBreakBefore();
}

void TCustomRVData::SetItemPageBreakBefore(int32_t item_no, bool value) {
  if (item_no < 0 || item_no >= ItemCount()) throw EDocViewError("Item index is out of bounds");
  GetItem(item_no)->ItemOptions.Set(rvioPageBreakBefore, value);
}

int32_t TCustomRVData::FindControlItemNo(TObject* control) const {
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (GetItem(i)->OwnsControl(control)) return i;
  return -1;
}

void TCustomRVData::ClampItemNo(int32_t& item_no) const {
  if (item_no > ItemCount() - 1) item_no = ItemCount() - 1;
  if (item_no < 0) item_no = 0;
}

int32_t TCustomRVData::NextCharOffs(const AnsiString& text, int32_t item_no, int32_t offs) const {
  if (!GetItem(item_no)->ItemOptions.Contains(rvioUnicodeText)) return offs + 1;
  // A surrogate pair or a base character with its combining marks is one character.
  WideString w = RVU_RawUnicodeToWideString(text);
  size_t i = static_cast<size_t>(std::max(offs, 1) - 1);
  if (i >= w.size()) return offs + 1;
  size_t j = i + 1;
  if (w[i] >= 0xD800 && w[i] <= 0xDBFF && j < w.size() && w[j] >= 0xDC00 && w[j] <= 0xDFFF) ++j;
  while (j < w.size() && ((w[j] >= 0x0300 && w[j] <= 0x036F) || (w[j] >= 0x20D0 && w[j] <= 0x20FF))) ++j;
  return static_cast<int32_t>(j) + 1;
}

int32_t TCustomRVData::PrevCharOffs(const AnsiString& text, int32_t item_no, int32_t offs) const {
  if (!GetItem(item_no)->ItemOptions.Contains(rvioUnicodeText)) return offs - 1;
  WideString w = RVU_RawUnicodeToWideString(text);
  int32_t i = offs - 1;  // 0-based position of the boundary
  if (i <= 0) return 1;
  int32_t j = std::min<int32_t>(i, static_cast<int32_t>(w.size())) - 1;
  while (j > 0 && ((w[static_cast<size_t>(j)] >= 0x0300 && w[static_cast<size_t>(j)] <= 0x036F) ||
                   (w[static_cast<size_t>(j)] >= 0x20D0 && w[static_cast<size_t>(j)] <= 0x20FF)))
    --j;
  if (j > 0 && w[static_cast<size_t>(j)] >= 0xDC00 && w[static_cast<size_t>(j)] <= 0xDFFF &&
      w[static_cast<size_t>(j - 1)] >= 0xD800 && w[static_cast<size_t>(j - 1)] <= 0xDBFF)
    --j;
  return j + 1;
}

int32_t TCustomRVData::GetFirstParaItem(int32_t item_no) const {
  while (item_no > 0 && !IsParaStart(item_no)) --item_no;
  return item_no;
}

int32_t TCustomRVData::GetFirstParaSectionItem(int32_t item_no) const {
  while (item_no > 0 && !IsFromNewLine(item_no)) --item_no;
  return item_no;
}

void TCustomRVData::ExpandToPara(int32_t item_no1, int32_t item_no2, int32_t& first_item_no,
                                 int32_t& last_item_no) const {
  first_item_no = GetFirstParaItem(item_no1);
  last_item_no = item_no2 + 1;
  while (last_item_no < ItemCount() && !IsParaStart(last_item_no)) ++last_item_no;
  --last_item_no;
}

void TCustomRVData::ExpandToParaSection(int32_t item_no1, int32_t item_no2, int32_t& first_item_no,
                                        int32_t& last_item_no) const {
  first_item_no = GetFirstParaSectionItem(item_no1);
  last_item_no = item_no2 + 1;
  while (last_item_no < ItemCount() && !IsFromNewLine(last_item_no)) ++last_item_no;
  --last_item_no;
}

void TCustomRVData::FixParaNoOfParagraph(int32_t item_no) {
  if (ItemCount() == 0) return;
  item_no = std::min(item_no, ItemCount() - 1);
  int32_t first = GetFirstParaItem(item_no);
  int32_t para = GetItem(first)->ParaNo;
  for (int32_t i = first + 1; i < ItemCount() && !IsParaStart(i); ++i) GetItem(i)->ParaNo = para;
}

TRVBiDiMode TCustomRVData::GetItemBiDiMode(int32_t item_no) {
  TCustomRVItemInfo* item = GetItem(item_no);
  TRVStyle* style = GetRVStyle();
  int32_t s = GetActualStyle(item);
  if (style && s >= 0) {
    TRVBiDiMode m = style->TextStyles()->Items(s)->BiDiMode;
    if (m != rvbdUnspecified) return m;
  }
  return GetParaBiDiMode(item->ParaNo);
}

TRVBiDiMode TCustomRVData::GetParaBiDiMode(int32_t para_no) {
  TRVStyle* style = GetRVStyle();
  if (style) {
    TRVBiDiMode m = style->ParaStyles()->Items(para_no)->BiDiMode;
    if (m != rvbdUnspecified) return m;
  }
  return GetBiDiMode();
}

uint32_t TCustomRVData::GetStyleCodePage(int32_t style_no) {
  TRVStyle* style = GetRVStyle();
  if (!style) return 0;
  if (style_no < 0) return style->DefCodePage;
  TFontCharset cs = style->TextStyles()->Items(style_no)->Charset;
  if (cs == DEFAULT_CHARSET) return style->DefCodePage;
  return RVU_CharsetToCodePage(cs);
}

uint32_t TCustomRVData::GetDefaultCodePage() {
  TRVStyle* style = GetRVStyle();
  return style ? style->DefCodePage : 0;
}

uint32_t TCustomRVData::RVGetStyleLocale(int32_t style_no) {
  TRVStyle* style = GetRVStyle();
  if (!style || style_no < 0) return RVU_LangToLCID(0);
  return RVU_LangToLCID(RVU_CharsetToLanguage(style->TextStyles()->Items(style_no)->Charset));
}

bool TCustomRVData::IsDelimiterA(char ch) { return GetDelimiters().find(ch) != AnsiString::npos; }

bool TCustomRVData::IsDelimiterW(char16_t ch) { return ch <= 255 && IsDelimiterA(static_cast<char>(ch)); }

bool TCustomRVData::IsDelimiter(const AnsiString& s, int32_t index, uint8_t item_options) {
  if (item_options & kUnicodeOption) {
    size_t at = static_cast<size_t>(index - 1) * 2;
    if (index < 1 || at + 1 >= s.size()) return false;
    char16_t ch = static_cast<char16_t>(static_cast<uint8_t>(s[at]) | (static_cast<uint8_t>(s[at + 1]) << 8));
    return IsDelimiterW(ch);
  }
  if (index < 1 || static_cast<size_t>(index) > s.size()) return false;
  return IsDelimiterA(s[static_cast<size_t>(index - 1)]);
}

void TCustomRVData::ReplaceNullChars(AnsiString& text) { std::replace(text.begin(), text.end(), '\0', '?'); }

void TCustomRVData::Beep() {
  TRVStyle* style = GetRVStyle();
  if (style && style->UseSound) MessageBeep(0);
}

// ---- Sharing and palette ------------------------------------------------------------------------------------------
void TCustomRVData::ShareItemsFrom(TCustomRVData* source) {
  if (!ShareItems() || !source) return;
  Clear();
  items_ = source->items_;
}

void TCustomRVData::AssignItemList(TCustomRVData* source) {
  if (source) items_ = source->items_;
}

void TCustomRVData::UpdateItemsPaletteInfo() {
  if (ShareItems()) return;
  for (int32_t i = 0; i < ItemCount(); ++i) GetItem(i)->UpdatePaletteInfo(GetDoInPaletteMode(), false);
}

// ---- Maintenance and search -------------------------------------------------------------------------------------
bool TCustomRVData::EnumItems(const TRVEnumItemsProc& proc, void* user_data) {
  bool cont = true;
  for (int32_t i = 0; i < ItemCount() && cont; ++i) {
    proc(this, i, cont, user_data);
    if (!cont) break;
    std::unique_ptr<TRVStoreSubRVData> state;
    for (TCustomRVData* sub = GetItem(i)->GetSubRVData(state, rvdFirst); sub;
         sub = GetItem(i)->GetSubRVData(state, rvdNext)) {
      if (!sub->GetRVData()->EnumItems(proc, user_data)) {
        cont = false;
        break;
      }
    }
  }
  return cont;
}

int32_t TCustomRVData::ComparePositions(int32_t item_no1, TCustomRVData* rvdata2, int32_t item_no2) {
  TCustomRVData* d1 = GetSourceRVData();
  TCustomRVData* d2_start = rvdata2->GetSourceRVData();
  std::unique_ptr<TRVStoreSubRVData> loc1;
  for (;;) {
    TCustomRVData* d2 = d2_start;
    int32_t i2 = item_no2;
    std::unique_ptr<TRVStoreSubRVData> loc2;
    while (d2 != d1) {
      int32_t parent_item = -1;
      std::unique_ptr<TRVStoreSubRVData> loc;
      d2->GetParentInfo(parent_item, loc);
      TCustomRVData* parent = d2->GetAbsoluteParentData();
      if (!parent || parent_item < 0) break;
      d2 = parent->GetSourceRVData();
      i2 = parent_item;
      loc2 = std::move(loc);
    }
    if (d2 == d1) {
      if (item_no1 != i2) return item_no1 - i2;
      if (loc1 && loc2) return loc1->Compare(loc2.get());
      if (loc1) return 1;
      if (loc2) return -1;
      return 0;
    }
    // Not met: the first position climbs one level.
    int32_t parent_item = -1;
    std::unique_ptr<TRVStoreSubRVData> loc;
    d1->GetParentInfo(parent_item, loc);
    TCustomRVData* parent = d1->GetAbsoluteParentData();
    if (!parent || parent_item < 0) throw EDocViewError("Error when comparing positions in the document");
    d1 = parent->GetSourceRVData();
    item_no1 = parent_item;
    loc1 = std::move(loc);
  }
}

int32_t TCustomRVData::FindItemFrom(int32_t start_no, const TObject* obj) {
  std::function<bool(TCustomRVData*)> contains = [&](TCustomRVData* d) -> bool {
    for (int32_t i = 0; i < d->ItemCount(); ++i) {
      if (d->GetItem(i) == obj) return true;
      std::unique_ptr<TRVStoreSubRVData> st;
      for (TCustomRVData* s = d->GetItem(i)->GetSubRVData(st, rvdFirst); s; s = d->GetItem(i)->GetSubRVData(st, rvdNext))
        if (s == obj || contains(s->GetRVData())) return true;
    }
    return false;
  };
  for (int32_t i = std::max(start_no, 0); i < ItemCount(); ++i) {
    if (GetItem(i) == obj) return i;
    std::unique_ptr<TRVStoreSubRVData> st;
    for (TCustomRVData* s = GetItem(i)->GetSubRVData(st, rvdFirst); s; s = GetItem(i)->GetSubRVData(st, rvdNext))
      if (s == obj || contains(s->GetRVData())) return i;
  }
  return -1;
}

void TCustomRVData::MarkStylesInUse(TRVDeleteUnusedStylesData& data) {
  for (int32_t i = 0; i < ItemCount(); ++i) GetItem(i)->MarkStylesInUse(data);
}

void TCustomRVData::UpdateStyles(const TRVDeleteUnusedStylesData& data) {
  for (int32_t i = 0; i < ItemCount(); ++i) GetItem(i)->UpdateStyles(data);
}

namespace {
// Marks every style reachable from a marked one through link(style).
template <typename Link>
void CloseOver(TRVIntegerList& used, int32_t count, Link link) {
  std::vector<bool> visited(static_cast<size_t>(count), false);
  std::vector<int32_t> stack;
  for (int32_t i = 0; i < count; ++i)
    if (used.GetItem(i)) stack.push_back(i);
  while (!stack.empty()) {
    int32_t s = stack.back();
    stack.pop_back();
    if (visited[static_cast<size_t>(s)]) continue;
    visited[static_cast<size_t>(s)] = true;
    used.SetItem(s, 1);
    for (int32_t next : link(s))
      if (next >= 0 && next < count && !visited[static_cast<size_t>(next)]) stack.push_back(next);
  }
}

// Turns used-flags into shift counts (deleted styles before each index) and deletes the
// unused styles from the collection, last first. Returns whether anything was deleted.
bool DeleteUnused(TRVIntegerList& used, TCollection* collection) {
  int32_t deleted = 0;
  TRVIntegerList flags = used;
  for (int32_t i = 0; i < used.Count(); ++i) {
    used.SetItem(i, deleted);
    if (!flags.GetItem(i)) ++deleted;
  }
  for (int32_t i = flags.Count() - 1; i >= 0; --i)
    if (!flags.GetItem(i)) collection->Delete(i);
  return deleted > 0;
}

int32_t FixRef(int32_t ref, const TRVIntegerList& flags_before, const TRVIntegerList& shift) {
  if (ref < 0 || ref >= shift.Count()) return -1;
  if (!flags_before.GetItem(ref)) return -1;
  return ref - shift.GetItem(ref);
}
}  // namespace

void TCustomRVData::DeleteUnusedStyles(bool text_styles, bool para_styles, bool list_styles) {
  TRVStyle* style = GetRVStyle();
  if (!style) return;
  TRVDeleteUnusedStylesData data;
  data.ConvertedTextStyles = text_styles;
  data.ConvertedParaStyles = para_styles;
  data.ConvertedListStyles = list_styles;
  InitStylesInUse(data, style);
  TRVEnumItemsProc mark = [&data](TCustomRVData* d, int32_t i, bool&, void*) { d->GetItem(i)->MarkStylesInUse(data); };
  EnumItems(mark, nullptr);
  TParaInfos& ps = *style->ParaStyles();
  TFontInfos& ts = *style->TextStyles();
  if (para_styles) {
    for (int32_t i = 0; i < ps.Count(); ++i) {
      TParaInfo* p = ps.Items(i);
      if (p->BaseStyleNo >= ps.Count()) p->BaseStyleNo = -1;
      if (p->NextParaNo >= ps.Count()) p->NextParaNo = -1;
    }
    CloseOver(data.UsedParaStyles, ps.Count(), [&](int32_t s) {
      return std::vector<int32_t>{ps.Items(s)->BaseStyleNo, ps.Items(s)->NextParaNo};
    });
  }
  if (text_styles) {
    for (int32_t i = 0; i < ps.Count(); ++i)
      if (data.UsedParaStyles.GetItem(i)) {
        int32_t d = ps.Items(i)->DefStyleNo;
        if (d >= 0 && d < ts.Count()) data.UsedTextStyles.SetItem(d, 1);
      }
    if (style->DefUnicodeStyle >= ts.Count()) style->DefUnicodeStyle = -1;
    if (style->DefUnicodeStyle >= 0) data.UsedTextStyles.SetItem(style->DefUnicodeStyle, 1);
    for (int32_t i = 0; i < ts.Count(); ++i) {
      TFontInfo* f = ts.Items(i);
      if (f->BaseStyleNo >= ts.Count()) f->BaseStyleNo = -1;
      if (f->NextStyleNo >= ts.Count()) f->NextStyleNo = -1;
    }
    CloseOver(data.UsedTextStyles, ts.Count(), [&](int32_t s) {
      return std::vector<int32_t>{ts.Items(s)->BaseStyleNo, ts.Items(s)->NextStyleNo};
    });
  }
  if (list_styles) {
    TRVListInfos& ls = *style->ListStyles();
    for (int32_t i = 0; i < ls.Count(); ++i)
      if (ls.Items(i)->BaseStyleNo >= ls.Count()) ls.Items(i)->BaseStyleNo = -1;
    CloseOver(data.UsedListStyles, ls.Count(), [&](int32_t s) { return std::vector<int32_t>{ls.Items(s)->BaseStyleNo}; });
  }
  RebuildStylesAfterDelete(data);
  TRVEnumItemsProc update = [&data](TCustomRVData* d, int32_t i, bool&, void*) { d->GetItem(i)->UpdateStyles(data); };
  EnumItems(update, nullptr);
  AfterDeleteStyles(data);
}

void TCustomRVData::RebuildStylesAfterDelete(TRVDeleteUnusedStylesData& data) {
  TRVStyle* style = GetRVStyle();
  TParaInfos& ps = *style->ParaStyles();
  TFontInfos& ts = *style->TextStyles();
  TRVListInfos& ls = *style->ListStyles();
  const TRVIntegerList text_flags = data.UsedTextStyles, para_flags = data.UsedParaStyles,
                       list_flags = data.UsedListStyles;
  if (data.ConvertedTextStyles) DeleteUnused(data.UsedTextStyles, &ts);
  if (data.ConvertedParaStyles) DeleteUnused(data.UsedParaStyles, &ps);
  if (data.ConvertedListStyles) DeleteUnused(data.UsedListStyles, &ls);
  // References inside the sheet follow the new numbers.
  if (data.ConvertedTextStyles) {
    for (int32_t i = 0; i < ts.Count(); ++i) {
      TFontInfo* f = ts.Items(i);
      f->BaseStyleNo = FixRef(f->BaseStyleNo, text_flags, data.UsedTextStyles);
      f->NextStyleNo = FixRef(f->NextStyleNo, text_flags, data.UsedTextStyles);
    }
    for (int32_t i = 0; i < ps.Count(); ++i)
      ps.Items(i)->DefStyleNo = FixRef(ps.Items(i)->DefStyleNo, text_flags, data.UsedTextStyles);
    if (style->DefUnicodeStyle >= 0)
      style->DefUnicodeStyle = FixRef(style->DefUnicodeStyle, text_flags, data.UsedTextStyles);
  }
  if (data.ConvertedParaStyles)
    for (int32_t i = 0; i < ps.Count(); ++i) {
      TParaInfo* p = ps.Items(i);
      p->BaseStyleNo = FixRef(p->BaseStyleNo, para_flags, data.UsedParaStyles);
      p->NextParaNo = FixRef(p->NextParaNo, para_flags, data.UsedParaStyles);
    }
  if (data.ConvertedListStyles)
    for (int32_t i = 0; i < ls.Count(); ++i)
      ls.Items(i)->BaseStyleNo = FixRef(ls.Items(i)->BaseStyleNo, list_flags, data.UsedListStyles);
}

bool TCustomRVData::CanMergeItems(int32_t item_no, TCustomRVItemInfo* item1, bool force, TCustomRVItemInfo* item2) {
  if (!item1 || !item2 || item1->StyleNo < 0 || item2->StyleNo < 0) return false;
  // Item1 stands at item_no and item2 after it.
  const bool empty1 = item_no >= 0 && item_no < ItemCount() && GetItemTextRaw(item_no).empty();
  const bool empty2 = item_no + 1 < ItemCount() && GetItemTextRaw(item_no + 1).empty();
  if (empty1 || empty2) return force || item2->GetSameAsPrev();
  if (item1->StyleNo != item2->StyleNo) return false;
  if (!force && !item2->GetSameAsPrev()) return false;
  TRVStyle* style = GetRVStyle();
  if (style) {
    TFontInfo* f1 = style->TextStyles()->Items(GetActualStyle(item1));
    TFontInfo* f2 = style->TextStyles()->Items(GetActualStyle(item2));
    if (f1->Unicode != f2->Unicode) return false;
  }
  if (item1->Hint != item2->Hint) return false;
  if (!RV_CompareTags(item1->Tag, item2->Tag, TagsArePChars())) return false;
  if (item2->Checkpoint) return false;
  if (style) {
    TFontInfo* f1 = style->TextStyles()->Items(GetActualStyle(item1));
    if (f1->Protection.Contains(rvprModifyProtect) || f1->Protection.Contains(rvprConcateProtect)) return false;
  }
  return true;
}

void TCustomRVData::MergeItems(int32_t item_no, TCustomRVItemInfo* item2) {
  TCustomRVItemInfo* item1 = GetItem(item_no);
  AnsiString text2 = GetItemTextRaw(item_no + 1);
  if (GetItemTextRaw(item_no).empty() && !text2.empty()) {
    // An empty item that takes the text of another item takes its style with it (style,
    // encoding, tag and hint), so that the text keeps its formatting.
    item1->StyleNo = item2->StyleNo;
    item1->ItemOptions.Set(rvioUnicodeText, item2->ItemOptions.Contains(rvioUnicodeText));
    item1->Tag = RV_CopyTag(item2->Tag, TagsArePChars());
    item1->Hint = item2->Hint;
  }
  // The text is stored in the surviving item's encoding, never as the other encoding's bytes.
  const bool u1 = item1->ItemOptions.Contains(rvioUnicodeText), u2 = item2->ItemOptions.Contains(rvioUnicodeText);
  if (u1 && !u2)
    text2 = RVU_AnsiToUnicode(GetStyleCodePage(GetActualStyle(item2)), text2);
  else if (!u1 && u2)
    text2 = RVU_UnicodeToAnsi(GetStyleCodePage(GetActualStyle(item1)), text2);
  SetItemTextRaw(item_no, GetItemTextRaw(item_no) + text2);
  FreeItem(item2, false);
  items_->PutObject(item_no + 1, nullptr);
  items_->Delete(item_no + 1);
}

void TCustomRVData::NormalizeItems(int32_t from_item_no, int32_t to_item_no) {
  from_item_no = std::max(from_item_no, 0);
  to_item_no = std::min(to_item_no, ItemCount() - 1);
  for (int32_t i = to_item_no; i > from_item_no; --i) {
    NormalizeSubDocuments(i);
    // An empty first item takes the second one's text and style; its own object stays.
    if (CanMergeItems(i - 1, GetItem(i - 1), false, GetItem(i))) MergeItems(i - 1, GetItem(i));
  }
  if (from_item_no < ItemCount()) NormalizeSubDocuments(from_item_no);
}

void TCustomRVData::NormalizeSubDocuments(int32_t item_no) {
  std::unique_ptr<TRVStoreSubRVData> st;
  TCustomRVItemInfo* item = GetItem(item_no);
  for (TCustomRVData* s = item->GetSubRVData(st, rvdFirst); s; s = item->GetSubRVData(st, rvdNext)) {
    TCustomRVData* d = s->GetRVData();
    d->NormalizeItems(0, d->ItemCount() - 1);
  }
}

TRVMarkerItemInfo* TCustomRVData::FindPreviousMarker(int32_t item_no) {
  std::function<TRVMarkerItemInfo*(TCustomRVData*, int32_t)> search_back = [&](TCustomRVData* d,
                                                                                int32_t from) -> TRVMarkerItemInfo* {
    for (int32_t i = std::min(from, d->ItemCount() - 1); i >= 0; --i) {
      TCustomRVItemInfo* item = d->GetItem(i);
      if (auto* m = dynamic_cast<TRVMarkerItemInfo*>(item)) return m;
      std::unique_ptr<TRVStoreSubRVData> st;
      for (TCustomRVData* s = item->GetSubRVData(st, rvdLast); s; s = item->GetSubRVData(st, rvdPrev)) {
        TCustomRVData* sd = s->GetRVData();
        if (TRVMarkerItemInfo* m = search_back(sd, sd->ItemCount() - 1)) return m;
      }
    }
    return nullptr;
  };
  if (TRVMarkerItemInfo* m = search_back(this, item_no)) return m;
  // Not found: the sub-documents of the parent item before this one, then the parent.
  int32_t parent_item = -1;
  std::unique_ptr<TRVStoreSubRVData> loc;
  GetParentInfo(parent_item, loc);
  TCustomRVData* parent = GetAbsoluteParentData();
  if (!parent || parent_item < 0) return nullptr;
  TCustomRVItemInfo* owner = parent->GetItem(parent_item);
  std::unique_ptr<TRVStoreSubRVData> st;
  bool before = false;
  for (TCustomRVData* s = owner->GetSubRVData(st, rvdLast); s; s = owner->GetSubRVData(st, rvdPrev)) {
    if (s->GetRVData() == GetSourceRVData() || s == this) {
      before = true;
      continue;
    }
    if (before) {
      TCustomRVData* sd = s->GetRVData();
      if (TRVMarkerItemInfo* m = search_back(sd, sd->ItemCount() - 1)) return m;
    }
  }
  return parent->FindPreviousMarker(parent_item - 1);
}

void TCustomRVData::AddMarkerInList(int32_t item_no) {
  auto* marker = dynamic_cast<TRVMarkerItemInfo*>(GetItem(item_no));
  if (!marker) return;
  auto* list = GetMarkers(true);
  if (std::find(list->begin(), list->end(), marker) != list->end()) return;
  TRVMarkerItemInfo* prev = item_no > 0 ? FindPreviousMarker(item_no - 1) : nullptr;
  auto it = prev ? std::find(list->begin(), list->end(), prev) : list->end();
  list->insert(it == list->end() ? list->begin() : it + 1, marker);
  RVRecalcDocumentMarkers(this);
}

void TCustomRVData::RemoveMarkerFromList(TCustomRVItemInfo* item, bool clearing) {
  auto* marker = dynamic_cast<TRVMarkerItemInfo*>(item);
  if (!marker) return;
  auto* list = GetMarkers(false);
  if (!list) return;
  auto it = std::find(list->begin(), list->end(), marker);
  if (it != list->end()) list->erase(it);
  if (list->empty()) {
    DestroyMarkers();
    return;
  }
  if (!clearing) RVRecalcDocumentMarkers(this);
}

int32_t TCustomRVData::FindLastMarkerOfLists(int32_t start_index, const TRVIntegerList& list_nos) {
  auto* list = GetMarkers(false);
  if (!list) return -1;
  for (int32_t i = static_cast<int32_t>(list->size()) - 1; i > start_index; --i) {
    int32_t no = (*list)[static_cast<size_t>(i)]->ListNo;
    for (int32_t k = 0; k < list_nos.Count(); ++k)
      if (list_nos.GetItem(k) == no) return i;
  }
  return -1;
}

// ---- Pictures beside exports ---------------------------------------------------------------------------------
AnsiString TCustomRVData::GetNextFileName(const AnsiString& images_prefix, const AnsiString& path,
                                          const AnsiString& ext, int32_t& image_save_no, bool override_files) {
  AnsiString stem = images_prefix.find(':') != AnsiString::npos ? images_prefix : path + images_prefix;
  AnsiString name;
  do {
    ++image_save_no;
    name = stem + IntToStr(image_save_no) + ext;
  } while (FileExists(name) && (!override_files || FileIsReadOnly(name)));
  return name;
}

AnsiString TCustomRVData::SavePicture(TRVSaveFormat format, const AnsiString& images_prefix, const AnsiString& path,
                                      int32_t& image_save_no, bool override_files, TColor color, TGraphic* graphic) {
  AnsiString location;
  bool do_default = true;
  DoSaveImage2(graphic, format, path, images_prefix, image_save_no, location, do_default);
  if (do_default)
    location = DoSavePicture(format, images_prefix, path, image_save_no, override_files, color, graphic);
  return location;
}

AnsiString TCustomRVData::DoSavePicture(TRVSaveFormat format, const AnsiString& images_prefix, const AnsiString& path,
                                        int32_t& image_save_no, bool override_files, TColor color,
                                        TGraphic* graphic) {
  if (!graphic) throw EDocViewError("Can't save an empty picture");
  // HTML: JPEG and the classes listed for HTML as they are; every other picture as a JPEG
  // of it (drawn on the colour given, white for clNone). Other formats: a bitmap file.
  const bool html = format == rvsfHTML;
  const bool as_is = html && (dynamic_cast<TJPEGImage*>(graphic) || RV_IsHTMLGraphicClass(graphic));
  const AnsiString ext = !html ? AnsiString(".bmp") : as_is ? HTMLGraphicExt(graphic) : AnsiString(".jpg");
  std::unique_ptr<TGraphic> converted;
  TGraphic* out_graphic = graphic;
  if (!as_is) {
    auto* bitmap = dynamic_cast<TBitmap*>(graphic);
    std::unique_ptr<TBitmap> drawn;
    if (!bitmap) {
      drawn = std::make_unique<TBitmap>(graphic->Width(), graphic->Height());
      const TColor back = color == clNone ? TColor(0xFFFFFF) : color;
      TRVPixelCanvas canvas(drawn->Image);
      canvas.Brush().SetColor(back);
      canvas.Pen().Color = back;
      canvas.Rectangle(0, 0, drawn->Width(), drawn->Height());
      canvas.Draw(0, 0, graphic);
      bitmap = drawn.get();
    }
    if (html) {
      converted = RVBitmapToJPEG(*bitmap);
      out_graphic = converted.get();
    } else if (drawn) {
      converted = std::move(drawn);
      out_graphic = converted.get();
    }
  }
  AnsiString file = GetNextFileName(images_prefix, path, ext.empty() ? AnsiString(".jpg") : ext, image_save_no,
                                    override_files);
  TFileStream out(file, fmCreate);
  out_graphic->SaveToStream(out);
  AnsiString dir;
  auto slash = images_prefix.find_last_of("\\/");
  if (slash != AnsiString::npos) dir = images_prefix.substr(0, slash + 1);
  auto fslash = file.find_last_of("\\/");
  return dir + (fslash == AnsiString::npos ? file : file.substr(fslash + 1));
}

}  // namespace pelvar
