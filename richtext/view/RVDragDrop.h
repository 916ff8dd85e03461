// Drag and drop of the viewer family: the drop source that is also the data object of a
// drag that starts in a viewer or editor, its format enumerator, the drop target an editor
// registers for its window with the readers of dropped data, and the drop caret record.
// The source and the enumerator answer with the platform's codes and raise nothing; the
// readers check every length that dropped data carries against the data's real size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/dataobject.h"
#include "platform/streams.h"
#include "richtext/model/RVGraphics.h"

namespace pelvar {

class TCustomRVData;
class TCustomRVFormattedData;
class TRVScroller;
class TStringList;

// The document state bit of a running drag (between stDragPending and stDragNotStarted).
constexpr uint32_t rvstDragging = 1u << 26;

// The drop caret of an editor: where a drop would insert (in the coordinates of the
// caret's document), reference counted by the editor.
struct TRVDragDropCaretInfo {
  int32_t X = 0, Y = 0, Height = 0;
  int32_t ItemNo = 0, Offs = 0;
  TCustomRVData* RVData = nullptr;
  int32_t RefCount = 0;
};

// The request for a format: content aspect, index -1, the medium the format travels in
// (CF_BITMAP by TYMED_GDI, CF_METAFILEPICT by TYMED_MFPICT, CF_ENHMETAFILE by TYMED_ENHMF,
// everything else by TYMED_HGLOBAL).
FORMATETC RVFormatEtc(uint16_t format);

// ---- Source --------------------------------------------------------------------------------------
class TRVDropSource : public IDropSource, public IDataObject {
 public:
  // rvdata: the document whose selection is dragged (its absolute root is asked for the
  // drag state and forgets the source when it goes).
  explicit TRVDropSource(TCustomRVFormattedData* rvdata);
  ~TRVDropSource() override;
  TRVDropSource(const TRVDropSource&) = delete;
  TRVDropSource& operator=(const TRVDropSource&) = delete;

  TCustomRVFormattedData* RVData() const { return rvdata_; }
  // The source stops serving data (its document forgot it).
  void Forget() { rvdata_ = nullptr; }

  // IDropSource.
  HRESULT QueryContinueDrag(bool escape_pressed, uint32_t key_state) override;
  HRESULT GiveFeedback(uint32_t effect) override;
  // IDataObject.
  HRESULT GetData(const FORMATETC& format, STGMEDIUM& medium) override;
  HRESULT GetDataHere(const FORMATETC& format, STGMEDIUM& medium) override;
  HRESULT QueryGetData(const FORMATETC& format) override;
  HRESULT GetCanonicalFormatEtc(const FORMATETC& in, FORMATETC& out) override;
  HRESULT SetData(const FORMATETC& format, STGMEDIUM& medium, bool release) override;
  HRESULT EnumFormatEtc(uint32_t direction, std::shared_ptr<IEnumFORMATETC>& out) override;
  HRESULT DAdvise(const FORMATETC& format, uint32_t advf, void* sink, uint32_t& connection) override;
  HRESULT DUnadvise(uint32_t connection) override;
  HRESULT EnumDAdvise(std::shared_ptr<void>& out) override;

  // Renders a format now into the held medium (an editor that moves the selection inside
  // itself renders before it deletes the selection); True on success.
  bool RenderFormat(uint16_t format);
  bool HasRenderedMedium() const { return has_rendered_; }

  // The data of a text, Unicode text, native or RTF format; false for another format or
  // without a document.
  bool RenderBytes(uint16_t format, std::string& data);

 private:
  HRESULT CheckFormat(const FORMATETC& format);
  TGraphic* Picture();
  TCustomRVFormattedData* rvdata_;
  STGMEDIUM rendered_;
  bool has_rendered_ = false;
};

// The formats of a drag: "DocView Format", "Rich Text Format", CF_TEXT, CF_UNICODETEXT, and
// CF_BITMAP for a selected bitmap or CF_ENHMETAFILE for a selected metafile.
class TRVEnumFormatEtc : public IEnumFORMATETC {
 public:
  TRVEnumFormatEtc(TGraphic* graphic, int32_t index) : Graphic(graphic), Index(index) {}
  HRESULT Next(uint32_t celt, std::vector<FORMATETC>& formats, uint32_t* fetched) override;
  HRESULT Skip(uint32_t celt) override;
  HRESULT Reset() override;
  HRESULT Clone(std::shared_ptr<IEnumFORMATETC>& out) override;

  TGraphic* Graphic;
  int32_t Index;

 private:
  int32_t Count() const;
};

// ---- Target --------------------------------------------------------------------------------------
// Translates the drop protocol for a control and calls its OLE hooks (RVScroll.h); the
// points it gets are screen points, the hooks take client points.
class TRVDropTarget : public IDropTarget {
 public:
  explicit TRVDropTarget(TRVScroller* control);
  ~TRVDropTarget() override;
  TRVDropTarget(const TRVDropTarget&) = delete;
  TRVDropTarget& operator=(const TRVDropTarget&) = delete;

  bool DropAllowed = false;
  HRESULT DragEnter(IDataObject* data_object, uint32_t key_state, TPoint pt, uint32_t& effect) override;
  HRESULT DragOver(uint32_t key_state, TPoint pt, uint32_t& effect) override;
  HRESULT DragLeave() override;
  HRESULT Drop(IDataObject* data_object, uint32_t key_state, TPoint pt, uint32_t& effect) override;
  // Binds the target to the control's window (when it exists) and unbinds it.
  bool RegisterTarget();
  void RevokeTarget();
  // The effect of a drop: a move from this very control without Ctrl, else a copy when
  // allowed, else a link.
  uint32_t ChooseEffect(uint32_t key_state, uint32_t allowed);

  // ---- Readers of dropped data (nullptr or false when the format cannot be had) ----
  static bool HasFormat(IDataObject* data_object, uint16_t format);
  static bool GetMedium(IDataObject* data_object, uint16_t format, STGMEDIUM& medium);
  // The format's bytes; for "DocView Format" the data after the length prefix (a prefix
  // that claims more than the block holds gives nullptr).
  static std::unique_ptr<TMemoryStream> GetAsStream(IDataObject* data_object, uint16_t format);
  // The bytes up to the first zero byte.
  static bool GetAsText(IDataObject* data_object, uint16_t format, AnsiString& text);
  // CF_UNICODETEXT as UTF-16 bytes up to the first zero character.
  static bool GetAsUnicodeText(IDataObject* data_object, AnsiString& raw_unicode);
  // With use_dib CF_DIB first (a DIB whose header, colour table or rows do not fit in the
  // block is not converted), then CF_BITMAP.
  static std::unique_ptr<TBitmap> GetAsBitmap(IDataObject* data_object, bool use_dib);
  static std::unique_ptr<TMetafile> GetAsMetafile(IDataObject* data_object);
  // CF_HDROP: the names of the file list (UTF-16 or ANSI); nullptr without the format or
  // when the list does not lie inside the block.
  static std::unique_ptr<TStringList> GetAsFiles(IDataObject* data_object);

 private:
  TRVScroller* control_;
  uint32_t possible_effects_ = 0;
};

// ---- What a drop reads ----------------------------------------------------------------------------
// The kinds of dropped data, in the order of the editor's accepted drag-and-drop formats
// (bit n of a set is kind n).
enum TRVDropKind : uint8_t {
  rvdkRVF,
  rvdkRTF,
  rvdkText,
  rvdkUnicodeText,
  rvdkBitmap,
  rvdkMetafile,
  rvdkURL,
  rvdkFiles
};
constexpr uint8_t RVDropKindBit(TRVDropKind kind) { return static_cast<uint8_t>(1u << kind); }
// The kind a clipboard format brings (CF_DIB and CF_BITMAP are bitmaps); False for a
// format no drop takes.
bool RVDropKindOfFormat(uint16_t format, TRVDropKind& kind);
// The kinds a drop from another program tries, in order: native, RTF, URL, text (Unicode
// first for a Unicode text style), bitmap, metafile, files.
std::vector<TRVDropKind> RVDropTryOrder(bool unicode_style);
// The first kind of that order that is accepted (a set of RVDropKindBit) and offered by
// the data object; False when none is.
bool RVChooseDropKind(IDataObject* data_object, uint8_t accepted, bool unicode_style, TRVDropKind& kind);
// The format a drag started in an editor reads when it is dropped back into it: the
// native format, else RTF, else for a single selected picture CF_BITMAP (a bitmap) or
// CF_ENHMETAFILE (a metafile), else Unicode text, else text; 0 when nothing is accepted.
uint16_t RVOwnDragFormat(uint8_t accepted, TGraphic* selected_picture);

// ---- Blocks of dropped data ------------------------------------------------------------------------
// The names of a DROPFILES block (a 20-byte header whose first field is the offset of the
// names; its last field says UTF-16). False when the offset lies outside the block; a
// name that runs to the block's end without its zero ends the list.
bool RVReadDropFiles(const std::string& block, std::vector<AnsiString>& names);
// A DROPFILES block of names (UTF-16 when wide).
std::string RVMakeDropFiles(const std::vector<AnsiString>& names, bool wide);
// The registered "FileGroupDescriptor" format that names a dropped URL's file.
uint16_t CFRV_FileGroupDescriptor();
// The first file name of a "FileGroupDescriptor" block (the count, then descriptors whose
// name is 260 bytes at offset 72): False when the count is below 1 or the name does not
// lie inside the block.
bool RVReadFileGroupDescriptorName(const std::string& block, AnsiString& name);
// The name of the link item made from a dropped URL: the descriptor's file name without
// its last 4 characters when it is longer than 4 characters, otherwise the URL.
AnsiString RVDroppedURLItemName(const AnsiString& url, const AnsiString& descriptor_name);

}  // namespace pelvar
