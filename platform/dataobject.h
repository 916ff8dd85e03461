// Data transfer between windows as the platform's drag and drop has it: the format
// description, the storage medium, the data object with its format enumerator, the drop
// source and the drop target, their result codes and effects, and the drag-and-drop
// service that runs a drag (DoDragDrop) and binds drop targets to windows. Objects are
// shared through std::shared_ptr instead of reference counts.
//
// A medium's handle is a global block (platform/clipboard.h), GDI handles included: a
// bitmap travels as a packed DIB and a metafile as its bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/application.h"
#include "platform/clipboard.h"
#include "platform/graphics.h"

namespace pelvar {

using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT DV_E_FORMATETC = static_cast<HRESULT>(0x80040064u);
constexpr HRESULT DV_E_TYMED = static_cast<HRESULT>(0x80040069u);
constexpr HRESULT DV_E_DVASPECT = static_cast<HRESULT>(0x8004006Bu);
constexpr HRESULT OLE_E_ADVISENOTSUPPORTED = static_cast<HRESULT>(0x80040003u);
constexpr HRESULT STG_E_MEDIUMFULL = static_cast<HRESULT>(0x80030070u);
constexpr HRESULT DRAGDROP_S_DROP = 0x00040100;
constexpr HRESULT DRAGDROP_S_CANCEL = 0x00040101;
constexpr HRESULT DRAGDROP_S_USEDEFAULTCURSORS = 0x00040102;
constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }

constexpr uint32_t TYMED_NULL = 0;
constexpr uint32_t TYMED_HGLOBAL = 1;
constexpr uint32_t TYMED_GDI = 16;
constexpr uint32_t TYMED_MFPICT = 32;
constexpr uint32_t TYMED_ENHMF = 64;
constexpr uint32_t DVASPECT_CONTENT = 1;
constexpr uint32_t DATADIR_GET = 1;
constexpr uint32_t DATADIR_SET = 2;

constexpr uint32_t DROPEFFECT_NONE = 0;
constexpr uint32_t DROPEFFECT_COPY = 1;
constexpr uint32_t DROPEFFECT_MOVE = 2;
constexpr uint32_t DROPEFFECT_LINK = 4;

// Key state of drag and drop.
constexpr uint32_t MK_LBUTTON = 0x0001;
constexpr uint32_t MK_RBUTTON = 0x0002;
constexpr uint32_t MK_SHIFT = 0x0004;
constexpr uint32_t MK_CONTROL = 0x0008;
constexpr uint32_t MK_MBUTTON = 0x0010;
constexpr uint32_t MK_ALT = 0x0020;

struct FORMATETC {
  uint16_t cfFormat = 0;
  const void* ptd = nullptr;
  uint32_t dwAspect = DVASPECT_CONTENT;
  int32_t lindex = -1;
  uint32_t tymed = TYMED_HGLOBAL;
  bool operator==(const FORMATETC&) const = default;
};

struct STGMEDIUM {
  uint32_t tymed = TYMED_NULL;
  HGLOBAL hGlobal;
  // The object that frees the medium (none here: the handle frees itself).
  std::shared_ptr<void> pUnkForRelease;
};
void ReleaseStgMedium(STGMEDIUM& medium);

class IEnumFORMATETC {
 public:
  virtual ~IEnumFORMATETC() = default;
  // Up to celt formats into formats (cleared first); fetched gets the count when given.
  virtual HRESULT Next(uint32_t celt, std::vector<FORMATETC>& formats, uint32_t* fetched) = 0;
  virtual HRESULT Skip(uint32_t celt) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(std::shared_ptr<IEnumFORMATETC>& out) = 0;
};

class IDataObject {
 public:
  virtual ~IDataObject() = default;
  virtual HRESULT GetData(const FORMATETC& format, STGMEDIUM& medium) = 0;
  virtual HRESULT GetDataHere(const FORMATETC& format, STGMEDIUM& medium) = 0;
  virtual HRESULT QueryGetData(const FORMATETC& format) = 0;
  virtual HRESULT GetCanonicalFormatEtc(const FORMATETC& in, FORMATETC& out) = 0;
  virtual HRESULT SetData(const FORMATETC& format, STGMEDIUM& medium, bool release) = 0;
  virtual HRESULT EnumFormatEtc(uint32_t direction, std::shared_ptr<IEnumFORMATETC>& out) = 0;
  virtual HRESULT DAdvise(const FORMATETC& format, uint32_t advf, void* sink, uint32_t& connection) = 0;
  virtual HRESULT DUnadvise(uint32_t connection) = 0;
  virtual HRESULT EnumDAdvise(std::shared_ptr<void>& out) = 0;
};

class IDropSource {
 public:
  virtual ~IDropSource() = default;
  virtual HRESULT QueryContinueDrag(bool escape_pressed, uint32_t key_state) = 0;
  virtual HRESULT GiveFeedback(uint32_t effect) = 0;
};

// Points are screen coordinates.
class IDropTarget {
 public:
  virtual ~IDropTarget() = default;
  virtual HRESULT DragEnter(IDataObject* data_object, uint32_t key_state, TPoint pt, uint32_t& effect) = 0;
  virtual HRESULT DragOver(uint32_t key_state, TPoint pt, uint32_t& effect) = 0;
  virtual HRESULT DragLeave() = 0;
  virtual HRESULT Drop(IDataObject* data_object, uint32_t key_state, TPoint pt, uint32_t& effect) = 0;
};

// A data object that holds ready blocks (what a drop from outside the process offers).
// Formats are offered in the order they were set, each through the tymed given.
class TMemoryDataObject : public IDataObject {
 public:
  void Set(uint16_t format, std::string data, uint32_t tymed = TYMED_HGLOBAL);
  HRESULT GetData(const FORMATETC& format, STGMEDIUM& medium) override;
  HRESULT GetDataHere(const FORMATETC& format, STGMEDIUM& medium) override;
  HRESULT QueryGetData(const FORMATETC& format) override;
  HRESULT GetCanonicalFormatEtc(const FORMATETC& in, FORMATETC& out) override;
  HRESULT SetData(const FORMATETC& format, STGMEDIUM& medium, bool release) override;
  HRESULT EnumFormatEtc(uint32_t direction, std::shared_ptr<IEnumFORMATETC>& out) override;
  HRESULT DAdvise(const FORMATETC&, uint32_t, void*, uint32_t&) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT DUnadvise(uint32_t) override { return OLE_E_ADVISENOTSUPPORTED; }
  HRESULT EnumDAdvise(std::shared_ptr<void>& out) override {
    out.reset();
    return OLE_E_ADVISENOTSUPPORTED;
  }

 private:
  struct Entry {
    FORMATETC Format;
    std::string Data;
  };
  std::vector<Entry> entries_;
};

// A list of formats served by an enumerator (the enumerator of TMemoryDataObject).
class TFormatListEnumerator : public IEnumFORMATETC {
 public:
  explicit TFormatListEnumerator(std::vector<FORMATETC> formats, size_t index = 0)
      : formats_(std::move(formats)), index_(index) {}
  HRESULT Next(uint32_t celt, std::vector<FORMATETC>& formats, uint32_t* fetched) override;
  HRESULT Skip(uint32_t celt) override;
  HRESULT Reset() override;
  HRESULT Clone(std::shared_ptr<IEnumFORMATETC>& out) override;

 private:
  std::vector<FORMATETC> formats_;
  size_t index_;
};

// Runs drags and binds drop targets to windows. The headless service cancels every drag
// (the source is asked once whether to go on, with no button held) and keeps the
// registrations; a GUI program installs its own.
class TDragDropService {
 public:
  virtual ~TDragDropService() = default;
  virtual HRESULT DoDragDrop(IDataObject* data_object, IDropSource* source, uint32_t ok_effects,
                             uint32_t& effect);
  virtual HRESULT RegisterDragDrop(HWND window, IDropTarget* target);
  virtual HRESULT RevokeDragDrop(HWND window);
  // The target registered for a window (nullptr when none).
  IDropTarget* RegisteredTarget(HWND window) const;

 private:
  std::vector<std::pair<HWND, IDropTarget*>> targets_;
};

TDragDropService& DragDropService();
// Installs another service and returns the previous one; nullptr restores the headless one.
TDragDropService* SetDragDropService(TDragDropService* service);

inline HRESULT DoDragDrop(IDataObject* data_object, IDropSource* source, uint32_t ok_effects, uint32_t& effect) {
  return DragDropService().DoDragDrop(data_object, source, ok_effects, effect);
}
inline HRESULT RegisterDragDrop(HWND window, IDropTarget* target) {
  return DragDropService().RegisterDragDrop(window, target);
}
inline HRESULT RevokeDragDrop(HWND window) { return DragDropService().RevokeDragDrop(window); }

}  // namespace pelvar
