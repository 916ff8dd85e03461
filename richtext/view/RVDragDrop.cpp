#include "richtext/view/RVDragDrop.h"

#include <algorithm>

#include "platform/classes.h"
#include "platform/codepage.h"
#include "richtext/model/RVConst.h"
#include "richtext/model/RVUni.h"
#include "richtext/view/CRVFData.h"
#include "richtext/view/RVClipboard.h"
#include "richtext/view/RVScroll.h"

namespace pelvar {

namespace {
uint32_t Le(const std::string& s, size_t at, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}
void PutLe(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
std::string StreamBytes(TMemoryStream& stream) {
  return std::string(reinterpret_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}
TCustomRVFormattedData* RootOf(TCustomRVFormattedData* d) {
  auto* root = dynamic_cast<TCustomRVFormattedData*>(d->GetAbsoluteRootData());
  return root ? root : d;
}
}  // namespace

FORMATETC RVFormatEtc(uint16_t format) {
  FORMATETC f;
  f.cfFormat = format;
  f.ptd = nullptr;
  f.dwAspect = DVASPECT_CONTENT;
  f.lindex = -1;
  switch (format) {
    case CF_BITMAP: f.tymed = TYMED_GDI; break;
    case CF_METAFILEPICT: f.tymed = TYMED_MFPICT; break;
    case CF_ENHMETAFILE: f.tymed = TYMED_ENHMF; break;
    default: f.tymed = TYMED_HGLOBAL; break;
  }
  return f;
}

// ---- Source --------------------------------------------------------------------------------------

TRVDropSource::TRVDropSource(TCustomRVFormattedData* rvdata) : rvdata_(rvdata) {}

TRVDropSource::~TRVDropSource() {
  if (rvdata_) {
    TCustomRVFormattedData* root = RootOf(rvdata_);
    if (root->DropSource == this) root->DropSource = nullptr;
  }
  if (has_rendered_) ReleaseStgMedium(rendered_);
}

HRESULT TRVDropSource::QueryContinueDrag(bool escape_pressed, uint32_t key_state) {
  if ((key_state & MK_LBUTTON) && rvdata_) rvdata_->State &= ~rvstDragNotStarted;
  if (escape_pressed) return DRAGDROP_S_CANCEL;
  if (key_state & MK_LBUTTON) return S_OK;
  return DRAGDROP_S_DROP;
}

HRESULT TRVDropSource::GiveFeedback(uint32_t) { return DRAGDROP_S_USEDEFAULTCURSORS; }

TGraphic* TRVDropSource::Picture() { return rvdata_ ? rvdata_->GetSelectedImage() : nullptr; }

HRESULT TRVDropSource::CheckFormat(const FORMATETC& format) {
  const uint16_t cf = format.cfFormat;
  TGraphic* picture = nullptr;
  bool offered = cf == CF_TEXT || cf == CF_UNICODETEXT || cf == CFRV_RVF() || cf == CFRV_RTF();
  if (!offered && (cf == CF_BITMAP || cf == CF_ENHMETAFILE)) {
    picture = Picture();
    offered = (cf == CF_BITMAP && dynamic_cast<TBitmap*>(picture)) ||
              (cf == CF_ENHMETAFILE && dynamic_cast<TMetafile*>(picture));
  }
  if (!offered || cf == 0) return DV_E_FORMATETC;
  if (format.dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (!(format.tymed & RVFormatEtc(cf).tymed)) return DV_E_TYMED;
  return S_OK;
}

HRESULT TRVDropSource::QueryGetData(const FORMATETC& format) {
  if (has_rendered_) return S_OK;
  return CheckFormat(format);
}

bool TRVDropSource::RenderBytes(uint16_t format, std::string& data) {
  if (!rvdata_) return false;
  TCustomRVFormattedData* d = rvdata_;
  TMemoryStream stream;
  if (format == CF_TEXT || format == CF_UNICODETEXT) {
    const bool unicode = format == CF_UNICODETEXT;
    d->SaveTextToStream(AnsiString(), stream, 80, true, false, unicode, false);
    data = StreamBytes(stream);
    data.append(unicode ? 2 : 1, '\0');
    return true;
  }
  if (format == CFRV_RVF()) {
    d->SaveRVFToStream(stream, true, nullptr, d->GetBackground(), d->GetColor());
    data = RVMakeRVFBlock(StreamBytes(stream));
    return true;
  }
  if (format == CFRV_RTF()) {
    d->SaveRTFToStream(stream, AnsiString(), 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0, d->GetColor(), true);
    data = StreamBytes(stream);
    return true;
  }
  return false;
}

HRESULT TRVDropSource::GetData(const FORMATETC& format, STGMEDIUM& medium) {
  if (has_rendered_) {
    medium = rendered_;
    rendered_ = STGMEDIUM();
    has_rendered_ = false;
    return S_OK;
  }
  const HRESULT check = CheckFormat(format);
  if (check != S_OK) return check;
  const uint16_t cf = format.cfFormat;
  try {
    std::string data;
    if (cf == CF_BITMAP || cf == CF_ENHMETAFILE) {
      TGraphic* picture = Picture();
      uint16_t produced = 0;
      if (!picture || !RVGraphicClipboardData(*picture, produced, data)) return DV_E_FORMATETC;
      medium.hGlobal = GlobalAllocCopy(GMEM_DDESHARE | GMEM_ZEROINIT, data);
      if (!medium.hGlobal) return E_OUTOFMEMORY;
      medium.tymed = cf == CF_BITMAP ? TYMED_GDI : TYMED_ENHMF;
      medium.pUnkForRelease.reset();
      return S_OK;
    }
    if (!(format.tymed & TYMED_HGLOBAL)) return DV_E_TYMED;
    if (!RenderBytes(cf, data)) return DV_E_FORMATETC;
    medium.hGlobal = GlobalAllocCopy(GMEM_DDESHARE | GMEM_ZEROINIT, data);
    if (!medium.hGlobal) return E_OUTOFMEMORY;
    medium.tymed = TYMED_HGLOBAL;
    medium.pUnkForRelease.reset();
    return S_OK;
  } catch (...) {
    // Data objects answer with codes; an export that failed gives no data.
    return E_FAIL;
  }
}

HRESULT TRVDropSource::GetDataHere(const FORMATETC& format, STGMEDIUM& medium) {
  const uint16_t cf = format.cfFormat;
  if (cf != CF_TEXT && cf != CFRV_RVF() && cf != CFRV_RTF()) return DV_E_FORMATETC;
  if (format.tymed != TYMED_HGLOBAL || !medium.hGlobal) return DV_E_TYMED;
  try {
    std::string data;
    if (!RenderBytes(cf, data)) return DV_E_FORMATETC;
    if (medium.hGlobal->Data.size() < data.size()) return STG_E_MEDIUMFULL;
    std::copy(data.begin(), data.end(), medium.hGlobal->Data.begin());
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT TRVDropSource::GetCanonicalFormatEtc(const FORMATETC&, FORMATETC& out) {
  out.ptd = nullptr;
  return E_NOTIMPL;
}

HRESULT TRVDropSource::SetData(const FORMATETC&, STGMEDIUM&, bool) { return E_NOTIMPL; }

HRESULT TRVDropSource::EnumFormatEtc(uint32_t direction, std::shared_ptr<IEnumFORMATETC>& out) {
  out.reset();
  if (direction == DATADIR_GET) {
    out = std::make_shared<TRVEnumFormatEtc>(Picture(), 0);
    return S_OK;
  }
  if (direction == DATADIR_SET) return E_NOTIMPL;
  return E_INVALIDARG;
}

HRESULT TRVDropSource::DAdvise(const FORMATETC&, uint32_t, void*, uint32_t&) { return OLE_E_ADVISENOTSUPPORTED; }
HRESULT TRVDropSource::DUnadvise(uint32_t) { return OLE_E_ADVISENOTSUPPORTED; }
HRESULT TRVDropSource::EnumDAdvise(std::shared_ptr<void>& out) {
  out.reset();
  return OLE_E_ADVISENOTSUPPORTED;
}

bool TRVDropSource::RenderFormat(uint16_t format) {
  if (has_rendered_) {
    ReleaseStgMedium(rendered_);
    has_rendered_ = false;
  }
  STGMEDIUM medium;
  has_rendered_ = GetData(RVFormatEtc(format), medium) == S_OK;
  if (has_rendered_) rendered_ = medium;
  return has_rendered_;
}

// ---- Enumerator -----------------------------------------------------------------------------------

int32_t TRVEnumFormatEtc::Count() const {
  return dynamic_cast<TBitmap*>(Graphic) || dynamic_cast<TMetafile*>(Graphic) ? 5 : 4;
}

HRESULT TRVEnumFormatEtc::Next(uint32_t celt, std::vector<FORMATETC>& formats, uint32_t* fetched) {
  formats.clear();
  while (formats.size() < celt && Index < Count()) {
    uint16_t cf = 0;
    switch (Index) {
      case 0: cf = CFRV_RVF(); break;
      case 1: cf = CFRV_RTF(); break;
      case 2: cf = CF_TEXT; break;
      case 3: cf = CF_UNICODETEXT; break;
      default: cf = dynamic_cast<TBitmap*>(Graphic) ? CF_BITMAP : CF_ENHMETAFILE; break;
    }
    formats.push_back(RVFormatEtc(cf));
    ++Index;
  }
  if (fetched) *fetched = static_cast<uint32_t>(formats.size());
  return formats.size() == celt ? S_OK : S_FALSE;
}

HRESULT TRVEnumFormatEtc::Skip(uint32_t celt) {
  const int64_t left = Count() - Index;
  Index = static_cast<int32_t>(std::min<int64_t>(Index + int64_t{celt}, Count()));
  return int64_t{celt} <= left ? S_OK : S_FALSE;
}

HRESULT TRVEnumFormatEtc::Reset() {
  Index = 0;
  return S_OK;
}

HRESULT TRVEnumFormatEtc::Clone(std::shared_ptr<IEnumFORMATETC>& out) {
  out = std::make_shared<TRVEnumFormatEtc>(Graphic, Index);
  return S_OK;
}

// ---- Target --------------------------------------------------------------------------------------

TRVDropTarget::TRVDropTarget(TRVScroller* control) : control_(control) {}

TRVDropTarget::~TRVDropTarget() {
  if (!control_) return;
  // A target that goes while still bound is unbound first, so that no drop reaches it.
  if (control_->HandleAllocated() && DragDropService().RegisteredTarget(control_->MessageHandle()) == this)
    RevokeTarget();
  control_->OleForgetTarget();
}

uint32_t TRVDropTarget::ChooseEffect(uint32_t key_state, uint32_t allowed) {
  if (!(key_state & MK_CONTROL) && (allowed & DROPEFFECT_MOVE) && control_ && control_->OleIsDragging())
    return DROPEFFECT_MOVE;
  return (allowed & DROPEFFECT_COPY) ? DROPEFFECT_COPY : DROPEFFECT_LINK;
}

HRESULT TRVDropTarget::DragEnter(IDataObject* data_object, uint32_t key_state, TPoint pt, uint32_t& effect) {
  const TPoint p = control_ ? control_->ScreenToClient(pt) : pt;
  DropAllowed = false;
  possible_effects_ = effect;
  bool interested = false;
  std::shared_ptr<IEnumFORMATETC> formats;
  if (data_object && control_ && data_object->EnumFormatEtc(DATADIR_GET, formats) == S_OK && formats) {
    std::vector<FORMATETC> one;
    while (formats->Next(1, one, nullptr) == S_OK)
      if (control_->OleFormatAccepted(one[0].cfFormat)) interested = true;
  }
  effect = interested ? ChooseEffect(key_state, effect) : DROPEFFECT_NONE;
  if (control_) control_->OleDragEnterEvent(data_object, key_state, p, possible_effects_, effect);
  if (effect != DROPEFFECT_NONE) {
    DropAllowed = control_ && control_->OleDragEnterAllowed(p.X, p.Y);
    if (!DropAllowed) effect = DROPEFFECT_NONE;
  }
  return S_OK;
}

HRESULT TRVDropTarget::DragOver(uint32_t key_state, TPoint pt, uint32_t& effect) {
  const TPoint p = control_ ? control_->ScreenToClient(pt) : pt;
  possible_effects_ = effect;
  if (DropAllowed && control_ && control_->OleDragMoved(p.X, p.Y)) {
    effect = ChooseEffect(key_state, effect);
    control_->OleDragOverEvent(key_state, p, possible_effects_, effect);
  } else {
    effect = DROPEFFECT_NONE;
  }
  return S_OK;
}

HRESULT TRVDropTarget::DragLeave() {
  if (control_) control_->OleDragLeft();
  return S_OK;
}

HRESULT TRVDropTarget::Drop(IDataObject* data_object, uint32_t key_state, TPoint pt, uint32_t& effect) {
  const TPoint p = control_ ? control_->ScreenToClient(pt) : pt;
  const uint32_t offered = effect;
  const bool move = !(key_state & MK_CONTROL) && (offered & DROPEFFECT_MOVE) && control_ && control_->OleIsDragging();
  uint32_t r = control_ ? control_->OleDropped(data_object, move, key_state, p, offered) : DROPEFFECT_NONE;
  if (r == DROPEFFECT_COPY && !(offered & DROPEFFECT_COPY)) r = DROPEFFECT_LINK;
  effect = r;
  return S_OK;
}

bool TRVDropTarget::RegisterTarget() {
  if (!control_ || !control_->HandleAllocated()) return false;
  if (RegisterDragDrop(control_->MessageHandle(), this) != S_OK) return false;
  control_->setAcceptDrops(true);
  return true;
}

void TRVDropTarget::RevokeTarget() {
  if (control_ && control_->HandleAllocated()) {
    RevokeDragDrop(control_->MessageHandle());
    control_->setAcceptDrops(false);
  }
}

// ---- Readers --------------------------------------------------------------------------------------

bool TRVDropTarget::HasFormat(IDataObject* data_object, uint16_t format) {
  return data_object && format != 0 && data_object->QueryGetData(RVFormatEtc(format)) == S_OK;
}

bool TRVDropTarget::GetMedium(IDataObject* data_object, uint16_t format, STGMEDIUM& medium) {
  if (!data_object || format == 0) return false;
  medium = STGMEDIUM();
  return data_object->GetData(RVFormatEtc(format), medium) == S_OK;
}

namespace {
// The block of a format when it came through the expected medium.
bool GetBlock(IDataObject* data_object, uint16_t format, std::string& data) {
  STGMEDIUM medium;
  if (!TRVDropTarget::GetMedium(data_object, format, medium)) return false;
  const bool ok = medium.tymed == RVFormatEtc(format).tymed && medium.hGlobal;
  if (ok) data = medium.hGlobal->Data;
  ReleaseStgMedium(medium);
  return ok;
}
}  // namespace

std::unique_ptr<TMemoryStream> TRVDropTarget::GetAsStream(IDataObject* data_object, uint16_t format) {
  std::string data;
  if (!GetBlock(data_object, format, data)) return nullptr;
  if (format == CFRV_RVF()) {
    std::string rvf;
    if (data.size() >= 4 && !RVReadRVFBlock(data, rvf)) return nullptr;  // the prefix lies
    data = rvf;                                                            // shorter than 4: empty
  }
  auto stream = std::make_unique<TMemoryStream>();
  if (!data.empty()) stream->WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  stream->SetPosition(0);
  return stream;
}

bool TRVDropTarget::GetAsText(IDataObject* data_object, uint16_t format, AnsiString& text) {
  std::string data;
  if (!GetBlock(data_object, format, data)) return false;
  text = data.substr(0, data.find('\0'));
  return true;
}

bool TRVDropTarget::GetAsUnicodeText(IDataObject* data_object, AnsiString& raw) {
  std::string data;
  if (!GetBlock(data_object, CF_UNICODETEXT, data)) return false;
  size_t n = 0;
  while (n + 1 < data.size() && !(data[n] == 0 && data[n + 1] == 0)) n += 2;
  raw = data.substr(0, n);
  return true;
}

std::unique_ptr<TBitmap> TRVDropTarget::GetAsBitmap(IDataObject* data_object, bool use_dib) {
  if (use_dib) {
    STGMEDIUM medium;
    if (!GetMedium(data_object, CF_DIB, medium)) return nullptr;
    std::unique_ptr<TBitmap> bitmap;
    if (medium.tymed == TYMED_HGLOBAL && medium.hGlobal) bitmap = RVBitmapFromDIB(medium.hGlobal->Data);
    ReleaseStgMedium(medium);
    if (bitmap) return bitmap;
  }
  std::string data;
  if (!GetBlock(data_object, CF_BITMAP, data)) return nullptr;
  return RVBitmapFromDIB(data);
}

std::unique_ptr<TMetafile> TRVDropTarget::GetAsMetafile(IDataObject* data_object) {
  std::string data;
  if (!GetBlock(data_object, CF_ENHMETAFILE, data)) return nullptr;
  auto metafile = std::make_unique<TMetafile>();
  try {
    TStringStream stream(data);
    metafile->LoadFromStream(stream);
  } catch (const EInvalidGraphic&) {
    return nullptr;
  }
  return metafile;
}

std::unique_ptr<TStringList> TRVDropTarget::GetAsFiles(IDataObject* data_object) {
  std::string data;
  if (!GetBlock(data_object, CF_HDROP, data)) return nullptr;
  std::vector<AnsiString> names;
  if (!RVReadDropFiles(data, names)) return nullptr;
  auto list = std::make_unique<TStringList>();
  for (const AnsiString& n : names) list->Add(n);
  return list;
}

// ---- Blocks ----------------------------------------------------------------------------------------

bool RVReadDropFiles(const std::string& block, std::vector<AnsiString>& names) {
  names.clear();
  if (block.size() < 20) return false;
  const uint32_t at = Le(block, 0, 4);
  const bool wide = Le(block, 16, 4) != 0;
  if (at < 20 || at > block.size()) return false;
  size_t p = at;
  for (;;) {
    if (wide) {
      std::u16string name;
      size_t q = p;
      while (q + 1 < block.size() && Le(block, q, 2) != 0) {
        name += static_cast<char16_t>(Le(block, q, 2));
        q += 2;
      }
      if (name.empty()) break;
      names.push_back(FromWide(name));
      if (q + 1 >= block.size()) break;  // no terminating zero inside the block
      p = q + 2;
    } else {
      const size_t z = block.find('\0', p);
      const std::string name = block.substr(p, z == std::string::npos ? std::string::npos : z - p);
      if (name.empty()) break;
      names.push_back(name);
      if (z == std::string::npos) break;
      p = z + 1;
    }
  }
  return true;
}

std::string RVMakeDropFiles(const std::vector<AnsiString>& names, bool wide) {
  std::string s;
  PutLe(s, 20, 4);
  PutLe(s, 0, 4);
  PutLe(s, 0, 4);
  PutLe(s, 0, 4);
  PutLe(s, wide ? 1 : 0, 4);
  for (const AnsiString& n : names) {
    if (wide) {
      for (char16_t c : ToWide(n)) PutLe(s, c, 2);
      PutLe(s, 0, 2);
    } else {
      s += n;
      s += '\0';
    }
  }
  s.append(wide ? 2 : 1, '\0');
  return s;
}

uint16_t CFRV_FileGroupDescriptor() {
  static const uint16_t id = RegisterClipboardFormat("FileGroupDescriptor");
  return id;
}

bool RVReadFileGroupDescriptorName(const std::string& block, AnsiString& name) {
  constexpr size_t kNameAt = 76, kNameSize = 260;
  if (block.size() < 4 || static_cast<int32_t>(Le(block, 0, 4)) < 1 || block.size() <= kNameAt) return false;
  const size_t avail = std::min(kNameSize, block.size() - kNameAt);
  const std::string field = block.substr(kNameAt, avail);
  name = field.substr(0, field.find('\0'));
  return true;
}

AnsiString RVDroppedURLItemName(const AnsiString& url, const AnsiString& descriptor_name) {
  if (descriptor_name.size() > 4) return descriptor_name.substr(0, descriptor_name.size() - 4);
  return url;
}

// ---- What a drop reads ------------------------------------------------------------------------------

bool RVDropKindOfFormat(uint16_t format, TRVDropKind& kind) {
  if (format == 0) return false;
  if (format == CF_TEXT)
    kind = rvdkText;
  else if (format == CF_BITMAP || format == CF_DIB)
    kind = rvdkBitmap;
  else if (format == CF_UNICODETEXT)
    kind = rvdkUnicodeText;
  else if (format == CF_ENHMETAFILE)
    kind = rvdkMetafile;
  else if (format == CF_HDROP)
    kind = rvdkFiles;
  else if (format == CFRV_RTF())
    kind = rvdkRTF;
  else if (format == CFRV_RVF())
    kind = rvdkRVF;
  else if (format == CFRV_URL())
    kind = rvdkURL;
  else
    return false;
  return true;
}

std::vector<TRVDropKind> RVDropTryOrder(bool unicode_style) {
  if (unicode_style) return {rvdkRVF, rvdkRTF, rvdkURL, rvdkUnicodeText, rvdkText, rvdkBitmap, rvdkMetafile, rvdkFiles};
  return {rvdkRVF, rvdkRTF, rvdkURL, rvdkText, rvdkUnicodeText, rvdkBitmap, rvdkMetafile, rvdkFiles};
}

bool RVChooseDropKind(IDataObject* data_object, uint8_t accepted, bool unicode_style, TRVDropKind& kind) {
  for (TRVDropKind k : RVDropTryOrder(unicode_style)) {
    if (!(accepted & RVDropKindBit(k))) continue;
    bool offered = false;
    switch (k) {
      case rvdkRVF: offered = TRVDropTarget::HasFormat(data_object, CFRV_RVF()); break;
      case rvdkRTF: offered = TRVDropTarget::HasFormat(data_object, CFRV_RTF()); break;
      case rvdkURL: offered = TRVDropTarget::HasFormat(data_object, CFRV_URL()); break;
      case rvdkText: offered = TRVDropTarget::HasFormat(data_object, CF_TEXT); break;
      case rvdkUnicodeText: offered = TRVDropTarget::HasFormat(data_object, CF_UNICODETEXT); break;
      case rvdkBitmap:
        offered = TRVDropTarget::HasFormat(data_object, CF_DIB) || TRVDropTarget::HasFormat(data_object, CF_BITMAP);
        break;
      case rvdkMetafile: offered = TRVDropTarget::HasFormat(data_object, CF_ENHMETAFILE); break;
      case rvdkFiles: offered = TRVDropTarget::HasFormat(data_object, CF_HDROP); break;
    }
    if (offered) {
      kind = k;
      return true;
    }
  }
  return false;
}

uint16_t RVOwnDragFormat(uint8_t accepted, TGraphic* selected_picture) {
  if (accepted & RVDropKindBit(rvdkRVF)) return CFRV_RVF();
  if (accepted & RVDropKindBit(rvdkRTF)) return CFRV_RTF();
  if (dynamic_cast<TBitmap*>(selected_picture) && (accepted & RVDropKindBit(rvdkBitmap))) return CF_BITMAP;
  if (dynamic_cast<TMetafile*>(selected_picture) && (accepted & RVDropKindBit(rvdkMetafile))) return CF_ENHMETAFILE;
  if (accepted & RVDropKindBit(rvdkUnicodeText)) return CF_UNICODETEXT;
  if (accepted & RVDropKindBit(rvdkText)) return CF_TEXT;
  return 0;
}

// ---- The formatted document's side of a drag --------------------------------------------------------

bool TCustomRVFormattedData::CanStartDragging() {
  TCustomRVFormattedData* root = RootOf(this);
  return root != this && root->CanStartDragging();
}

bool TCustomRVFormattedData::IsDragging() {
  TCustomRVFormattedData* root = RootOf(this);
  return root != this ? root->IsDragging() : DropSource != nullptr;
}

bool TCustomRVFormattedData::InitDragDropSource(std::shared_ptr<TRVDropSource>& source, uint32_t& ok_effects) {
  TCustomRVFormattedData* root = RootOf(this);
  if (root != this) return root->InitDragDropSource(source, ok_effects);
  if (DropSource) return false;
  source = std::make_shared<TRVDropSource>(this);
  DropSource = source.get();
  ok_effects = DROPEFFECT_COPY;
  return true;
}

void TCustomRVFormattedData::DoneDragDropSource(bool moved) {
  TCustomRVFormattedData* root = RootOf(this);
  if (root != this) return root->DoneDragDropSource(moved);
  if (DropSource) DropSource->Forget();
  DropSource = nullptr;
}

TRVDragDropCaretInfo* TCustomRVFormattedData::GetDragDropCaretInfo() {
  TCustomRVFormattedData* root = RootOf(this);
  return root != this ? root->GetDragDropCaretInfo() : nullptr;
}

void TCustomRVFormattedData::StartOleDrag() {
  State &= ~rvstDragPending;
  State |= rvstDragging | rvstDragNotStarted;
  struct Clear {
    TCustomRVFormattedData* d;
    ~Clear() { d->State &= ~(rvstDragging | rvstDragNotStarted); }
  } clear{this};
  std::shared_ptr<TRVDropSource> source;
  uint32_t ok_effects = 0;
  if (!InitDragDropSource(source, ok_effects)) return;
  uint32_t effect = DROPEFFECT_NONE;
  DoDragDrop(source.get(), source.get(), ok_effects, effect);
  const bool moved = effect == DROPEFFECT_MOVE && (State & rvstDragging);
  DoneDragDropSource(moved);
  if (effect == DROPEFFECT_NONE && (State & rvstDragNotStarted)) {
    // A press inside the selection released before the drag moved: a plain click, the
    // selection collapses at the pointer.
    int32_t d_item = -1, d_offs = 0;
    FindDrawItemAtPos(DragStartX + GetHOffs(), DragStartY + GetVOffs(), d_item, d_offs, false);
    if (d_item >= 0) {
      int32_t item_no, offs;
      DrawItemPosToItemPos(d_item, d_offs, item_no, offs);
      auto* target = dynamic_cast<TCustomRVFormattedData*>(Edit());
      if (!target) target = this;
      target->SetSelectionBounds(item_no, offs, item_no, offs);
      target->InvalidateControl();
    }
  }
}

// ---- Drop caret ----------------------------------------------------------------------------------------

void TCustomRVFormattedData::SetDragDropCaretPos(int32_t item_no, int32_t offs) {
  TRVDragDropCaretInfo* caret = GetDragDropCaretInfo();
  if (!caret) return;
  caret->RVData = this;
  caret->ItemNo = item_no;
  caret->Offs = offs;
  int32_t d_item = -1, d_offs = 0;
  ItemPosToDrawItemPos(item_no, offs, d_item, d_offs);
  if (d_item < 0) return;
  TRVDrawLineInfo* d = DrawLines[d_item];
  caret->Y = d->Top;
  caret->Height = d->Height;
  caret->X = d->Left;
  if (GetItem(item_no)->StyleNo >= 0) {
    if (d_offs > 1 && d->Length > 0 && GetCanvas()) {
      const AnsiString text = DrawLines.GetSubStringPart(d_item, this, 1, d_offs - 1);
      TCanvas& canvas = *GetCanvas();
      if (TRVStyle* st = GetRVStyle()) st->ApplyStyle(canvas, GetItem(item_no)->StyleNo, rvbdUnspecified, true);
      const WideString w = IsUnicodeItem(item_no) ? RVU_RawUnicodeToWideString(text) : ToWide(text);
      caret->X = d->Left + std::min(canvas.TextExtentW(w).cx, 10 * d->Width);
    }
  } else if (d_offs >= 1) {
    caret->X = d->Left + d->Width;
  }
}

void TCustomRVFormattedData::MoveDragDropCaret(int32_t x, int32_t y) {
  TRVDragDropCaretInfo* caret = GetDragDropCaretInfo();
  if (!caret) return;
  TCanvas* canvas = GetCanvas();
  if (canvas) ToggleDragDropCaret(*canvas);
  int32_t d_item = -1, d_offs = 0;
  FindDrawItemAtPos(x + GetHOffs(), y + GetVOffs(), d_item, d_offs, false);
  if (d_item >= 0) {
    int32_t item_no, offs;
    DrawItemPosToItemPos(d_item, d_offs, item_no, offs);
    SetDragDropCaretPos(item_no, offs);
  }
  if (canvas) ToggleDragDropCaret(*canvas);
}

void TCustomRVFormattedData::ToggleDragDropCaret(TCanvas& canvas) {
  TRVDragDropCaretInfo* caret = GetDragDropCaretInfo();
  if (!caret || !caret->RVData) return;
  auto* owner = dynamic_cast<TCustomRVFormattedData*>(caret->RVData);
  if (owner && owner != this) {
    if (TCanvas* other = owner->GetCanvas()) owner->ToggleDragDropCaret(*other);
    return;
  }
  TCustomRVFormattedData* root = RootOf(this);
  int32_t ox = 0, oy = 0;
  GetOriginEx(ox, oy);
  const int32_t x = caret->X + ox - root->GetHOffs();
  const int32_t y0 = caret->Y + oy - GetVAlignOffset() - root->GetVOffs();
  canvas.Pen().Mode = pmNot;
  canvas.Pen().Width = 1;
  canvas.Pen().Style = psDot;
  canvas.Brush().SetStyle(bsClear);
  for (int32_t y = y0; y <= y0 + caret->Height; y += 2) {
    canvas.MoveTo(x, y);
    canvas.LineTo(x + 2, y);
  }
  canvas.Pen().Style = psSolid;
  canvas.Pen().Mode = pmCopy;
}

}  // namespace pelvar
