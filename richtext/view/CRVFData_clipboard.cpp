// Copying the selection of a formatted document to the clipboard: the export range of the
// selection, the five producers and the copy command that runs them in their fixed order.
#include <memory>

#include "platform/clipboard.h"
#include "richtext/model/RVConst.h"
#include "richtext/model/RVUni.h"
#include "richtext/view/CRVFData.h"
#include "richtext/view/RVClipboard.h"

namespace pelvar {

namespace {
// A block for the clipboard; "No memory" when it cannot be had.
HGLOBAL ClipboardBlock(const std::string& data) {
  HGLOBAL block = GlobalAllocCopy(GMEM_MOVEABLE | GMEM_DDESHARE, data);
  if (!block) throw EDocViewError("No memory");
  return block;
}

std::string StreamBytes(TMemoryStream& stream) {
  return std::string(reinterpret_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size()));
}

TCustomRVFormattedData* ActiveSubDocument(TCustomRVFormattedData* data) {
  return dynamic_cast<TCustomRVFormattedData*>(data->GetChosenRVData());
}
}  // namespace

void TCustomRVFormattedData::GetSelectionBounds(int32_t kind, int32_t& start_item_no, int32_t& start_offs,
                                                int32_t& end_item_no, int32_t& end_offs) {
  if (kind != 1) {
    TCustomRVData::GetSelectionBounds(kind, start_item_no, start_offs, end_item_no, end_offs);
    return;
  }
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (GetItem(i)->IsPartiallySelected()) {
      start_item_no = end_item_no = i;
      start_offs = GetOffsBeforeItem(i);
      end_offs = GetOffsAfterItem(i);
      return;
    }
  GetSelBounds(start_item_no, end_item_no, start_offs, end_offs, true);
}

AnsiString TCustomRVFormattedData::GetSelTextAs(bool unicode) {
  if (TCustomRVFormattedData* sub = ActiveSubDocument(this)) return sub->GetSelTextAs(unicode);
  if (!SelectionExists(false)) return AnsiString();
  TMemoryStream stream;
  SaveTextToStream(AnsiString(), stream, 80, true, false, unicode, false);
  return StreamBytes(stream);
}

TGraphic* TCustomRVFormattedData::GetSelectedImage() {
  if (TCustomRVFormattedData* sub = ActiveSubDocument(this)) return sub->GetSelectedImage();
  int32_t si, ei, so, eo;
  GetSelBounds(si, ei, so, eo, true);
  if (si < 0 || ei < 0) return nullptr;
  int32_t item = -1;
  if (si == ei) {
    if (so <= 0 && eo >= 1) item = si;
  } else if (ei == si + 1) {
    if (so > GetOffsBeforeItem(si)) {
      if (so >= GetOffsAfterItem(si) && eo >= GetOffsAfterItem(ei)) item = ei;
    } else if (eo <= GetOffsBeforeItem(ei)) {
      item = si;
    }
  } else if (ei == si + 2) {
    if (so >= GetOffsAfterItem(si) && eo <= GetOffsBeforeItem(ei)) item = si + 1;
  }
  if (item < 0 || GetItem(item)->StyleNo >= 0) return nullptr;
  return GetItem(item)->AsImage();
}

void TCustomRVFormattedData::CopyRVF(TColor color, TRVBackground* background) {
  TMemoryStream stream;
  const uint32_t zero = 0;
  stream.WriteBuffer(&zero, 4);
  SaveRVFToStream(stream, true, nullptr, background, color);
  std::string data = StreamBytes(stream);
  const uint32_t n = static_cast<uint32_t>(data.size() - 4);
  for (int i = 0; i < 4; ++i) data[static_cast<size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xFF);
  Clipboard().SetAsHandle(CFRV_RVF(), ClipboardBlock(data));
}

void TCustomRVFormattedData::CopyText() {
  if (SelectionExists(true)) Clipboard().SetAsText(GetSelTextAs(false));
}

void TCustomRVFormattedData::CopyUnicodeText() {
  if (!SelectionExists(true)) return;
  std::string data = GetSelTextAs(true);
  data.append(2, '\0');
  Clipboard().SetAsHandle(CF_UNICODETEXT, ClipboardBlock(data));
}

void TCustomRVFormattedData::CopyImage() {
  TGraphic* graphic = GetSelectedImage();
  if (!graphic) return;
  try {
    RVAssignGraphicToClipboard(Clipboard(), *graphic);
  } catch (const Exception&) {
    // A picture without a clipboard form: the other formats are still written.
  }
}

void TCustomRVFormattedData::CopyRTF(TColor color, TRVBackground* /*background*/) {
  TMemoryStream stream;
  SaveRTFToStream(stream, AnsiString(), 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0, color, true);
  Clipboard().SetAsHandle(CFRV_RTF(), ClipboardBlock(StreamBytes(stream)));
}

bool TCustomRVFormattedData::CopyToClipboard(TColor color, TRVBackground* background) {
  if (TCustomRVFormattedData* sub = ActiveSubDocument(this)) return sub->CopyToClipboard(clNone, nullptr);
  const TRVOptions options = GetOptions();
  const bool result = options.Contains(rvoAutoCopyText) || options.Contains(rvoAutoCopyRVF) ||
                      options.Contains(rvoAutoCopyUnicodeText) || options.Contains(rvoAutoCopyRTF) ||
                      options.Contains(rvoAutoCopyImage) || IsAssignedCopy();
  if (!result || !SelectionExists(true)) return result;
  TClipboard& clipboard = Clipboard();
  clipboard.Clear();
  clipboard.Open();
  // The clipboard is closed again whatever a producer raises (a failed allocation, an
  // export error); the exception still reaches the caller.
  try {
    if (auto* root = dynamic_cast<TCustomRVFormattedData*>(GetAbsoluteRootData()))
      root->DoCopy();
    else
      DoCopy();
    if (options.Contains(rvoAutoCopyRVF)) CopyRVF(color, background);
    if (options.Contains(rvoAutoCopyText) && !(RVU_PlatformNT && options.Contains(rvoAutoCopyUnicodeText)))
      CopyText();
    if (options.Contains(rvoAutoCopyImage)) CopyImage();
    if (options.Contains(rvoAutoCopyUnicodeText)) CopyUnicodeText();
    if (options.Contains(rvoAutoCopyRTF)) CopyRTF(color, background);
  } catch (...) {
    clipboard.Close();
    throw;
  }
  clipboard.Close();
  return result;
}

}  // namespace pelvar
