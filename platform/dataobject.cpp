#include "platform/dataobject.h"

#include <algorithm>

namespace pelvar {

void ReleaseStgMedium(STGMEDIUM& medium) {
  medium.hGlobal.reset();
  medium.pUnkForRelease.reset();
  medium.tymed = TYMED_NULL;
}

// ---- Memory data object ----------------------------------------------------------------------

void TMemoryDataObject::Set(uint16_t format, std::string data, uint32_t tymed) {
  FORMATETC f;
  f.cfFormat = format;
  f.tymed = tymed;
  for (Entry& e : entries_)
    if (e.Format.cfFormat == format) {
      e.Format = f;
      e.Data = std::move(data);
      return;
    }
  entries_.push_back(Entry{f, std::move(data)});
}

HRESULT TMemoryDataObject::QueryGetData(const FORMATETC& format) {
  for (const Entry& e : entries_) {
    if (e.Format.cfFormat != format.cfFormat) continue;
    if (format.dwAspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!(format.tymed & e.Format.tymed)) return DV_E_TYMED;
    return S_OK;
  }
  return DV_E_FORMATETC;
}

HRESULT TMemoryDataObject::GetData(const FORMATETC& format, STGMEDIUM& medium) {
  const HRESULT hr = QueryGetData(format);
  if (hr != S_OK) return hr;
  for (const Entry& e : entries_)
    if (e.Format.cfFormat == format.cfFormat) {
      medium.hGlobal = GlobalAllocCopy(GMEM_MOVEABLE, e.Data);
      if (!medium.hGlobal) return E_OUTOFMEMORY;
      medium.tymed = e.Format.tymed;
      medium.pUnkForRelease.reset();
      return S_OK;
    }
  return DV_E_FORMATETC;
}

HRESULT TMemoryDataObject::GetDataHere(const FORMATETC& format, STGMEDIUM& medium) {
  const HRESULT hr = QueryGetData(format);
  if (hr != S_OK) return hr;
  if (format.tymed != TYMED_HGLOBAL || !medium.hGlobal) return DV_E_TYMED;
  for (const Entry& e : entries_)
    if (e.Format.cfFormat == format.cfFormat) {
      if (medium.hGlobal->Data.size() < e.Data.size()) return STG_E_MEDIUMFULL;
      std::copy(e.Data.begin(), e.Data.end(), medium.hGlobal->Data.begin());
      return S_OK;
    }
  return DV_E_FORMATETC;
}

HRESULT TMemoryDataObject::GetCanonicalFormatEtc(const FORMATETC& in, FORMATETC& out) {
  out = in;
  out.ptd = nullptr;
  return E_NOTIMPL;
}

HRESULT TMemoryDataObject::SetData(const FORMATETC&, STGMEDIUM&, bool) { return E_NOTIMPL; }

HRESULT TMemoryDataObject::EnumFormatEtc(uint32_t direction, std::shared_ptr<IEnumFORMATETC>& out) {
  out.reset();
  if (direction == DATADIR_SET) return E_NOTIMPL;
  if (direction != DATADIR_GET) return E_INVALIDARG;
  std::vector<FORMATETC> formats;
  for (const Entry& e : entries_) formats.push_back(e.Format);
  out = std::make_shared<TFormatListEnumerator>(std::move(formats));
  return S_OK;
}

// ---- Format list enumerator ------------------------------------------------------------------

HRESULT TFormatListEnumerator::Next(uint32_t celt, std::vector<FORMATETC>& formats, uint32_t* fetched) {
  formats.clear();
  while (formats.size() < celt && index_ < formats_.size()) formats.push_back(formats_[index_++]);
  if (fetched) *fetched = static_cast<uint32_t>(formats.size());
  return formats.size() == celt ? S_OK : S_FALSE;
}

HRESULT TFormatListEnumerator::Skip(uint32_t celt) {
  const size_t left = formats_.size() - index_;
  index_ += std::min<size_t>(celt, left);
  return celt <= left ? S_OK : S_FALSE;
}

HRESULT TFormatListEnumerator::Reset() {
  index_ = 0;
  return S_OK;
}

HRESULT TFormatListEnumerator::Clone(std::shared_ptr<IEnumFORMATETC>& out) {
  out = std::make_shared<TFormatListEnumerator>(formats_, index_);
  return S_OK;
}

// ---- Service -------------------------------------------------------------------------------------

HRESULT TDragDropService::DoDragDrop(IDataObject* data_object, IDropSource* source, uint32_t, uint32_t& effect) {
  effect = DROPEFFECT_NONE;
  if (!data_object || !source) return E_INVALIDARG;
  source->QueryContinueDrag(false, 0);
  return DRAGDROP_S_CANCEL;
}

HRESULT TDragDropService::RegisterDragDrop(HWND window, IDropTarget* target) {
  if (!window || !target) return E_INVALIDARG;
  for (auto& t : targets_)
    if (t.first == window) return static_cast<HRESULT>(0x80040101u);  // DRAGDROP_E_ALREADYREGISTERED
  targets_.emplace_back(window, target);
  return S_OK;
}

HRESULT TDragDropService::RevokeDragDrop(HWND window) {
  auto it = std::find_if(targets_.begin(), targets_.end(), [&](const auto& t) { return t.first == window; });
  if (it == targets_.end()) return static_cast<HRESULT>(0x80040100u);  // DRAGDROP_E_NOTREGISTERED
  targets_.erase(it);
  return S_OK;
}

IDropTarget* TDragDropService::RegisteredTarget(HWND window) const {
  for (const auto& t : targets_)
    if (t.first == window) return t.second;
  return nullptr;
}

namespace {
TDragDropService*& CurrentService() {
  static TDragDropService* current = nullptr;
  return current;
}
}  // namespace

TDragDropService& DragDropService() {
  static TDragDropService headless;
  TDragDropService* s = CurrentService();
  return s ? *s : headless;
}

TDragDropService* SetDragDropService(TDragDropService* service) {
  TDragDropService* old = CurrentService();
  CurrentService() = service;
  return old;
}

}  // namespace pelvar
