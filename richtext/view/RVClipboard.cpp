#include "richtext/view/RVClipboard.h"

#include <algorithm>
#include <cctype>

#include "platform/codepage.h"
#include "platform/sysutils.h"
#include "richtext/model/RVConst.h"

namespace pelvar {

namespace {
uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  return v;
}
}  // namespace

uint16_t CFRV_PNG() {
  static const uint16_t id = RegisterClipboardFormat("PNG");
  return id;
}

uint16_t CFRV_JFIF() {
  static const uint16_t id = RegisterClipboardFormat("JFIF");
  return id;
}

// ---- Pictures -----------------------------------------------------------------------------------

std::string RVBitmapToDIB(const TBitmap& bitmap) {
  TDIBPixels p;
  p.Width = bitmap.Image.Width;
  p.Height = bitmap.Image.Height;
  p.Pixels = bitmap.Image.Pixels;
  return MakePackedDIB(p);
}

std::unique_ptr<TBitmap> RVBitmapFromDIB(const std::string& dib) {
  TDIBPixels p;
  if (!ReadPackedDIB(dib, p)) return nullptr;
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->Image.Width = p.Width;
  bitmap->Image.Height = p.Height;
  bitmap->Image.Pixels = std::move(p.Pixels);
  return bitmap;
}

bool RVGraphicClipboardData(const TGraphic& graphic, uint16_t& format, std::string& data) {
  if (graphic.Empty()) return false;
  if (auto* b = dynamic_cast<const TBitmap*>(&graphic)) {
    format = CF_BITMAP;
    data = RVBitmapToDIB(*b);
    return true;
  }
  if (auto* m = dynamic_cast<const TMetafile*>(&graphic)) {
    format = m->Enhanced ? CF_ENHMETAFILE : CF_METAFILEPICT;
    data = m->Data;
    return true;
  }
  if (auto* p = dynamic_cast<const TPNGImage*>(&graphic)) {
    format = CFRV_PNG();
    data = p->Data;
    return true;
  }
  if (auto* j = dynamic_cast<const TJPEGImage*>(&graphic)) {
    format = CFRV_JFIF();
    data = j->Data;
    return true;
  }
  return false;
}

void RVAssignGraphicToClipboard(TClipboard& clipboard, const TGraphic& graphic) {
  uint16_t format = 0;
  std::string data;
  if (!RVGraphicClipboardData(graphic, format, data)) throw EInvalidGraphic("Unsupported clipboard format");
  HGLOBAL block = GlobalAllocCopy(GMEM_MOVEABLE | GMEM_DDESHARE, data);
  if (!block) throw EOutOfMemory("Out of memory");
  clipboard.SetAsHandle(format, block);
}

// ---- Native blocks ------------------------------------------------------------------------------

bool RVReadRVFBlock(const std::string& block, std::string& rvf) {
  if (block.size() < 4) return false;
  const uint64_t n = Le32(block, 0);
  if (n > block.size() - 4) return false;
  rvf.assign(block, 4, static_cast<size_t>(n));
  return true;
}

std::string RVMakeRVFBlock(const std::string& rvf) {
  std::string block;
  const uint32_t n = static_cast<uint32_t>(rvf.size());
  for (int i = 0; i < 4; ++i) block += static_cast<char>((n >> (8 * i)) & 0xFF);
  block += rvf;
  return block;
}

// ---- HTML source folder -------------------------------------------------------------------------

AnsiString RVGetHTMLSourceFolder(const std::string& data) {
  static const std::string kKey = "SourceURL:";
  const size_t at = data.find(kKey);
  if (at == std::string::npos) return AnsiString();
  size_t end = at + kKey.size();
  while (end < data.size() && data[end] != '\0' && data[end] != '\n' && data[end] != '\r') ++end;
  AnsiString url = Utf8ToAnsi(data.substr(at + kKey.size(), end - at - kKey.size()));
  const AnsiString head = AnsiLowerCase(url.substr(0, 7));
  const bool http = head == "http://";
  const bool file = head == "file://";
  if (http || file) url.erase(0, 7);
  // "file:///C:/d/x.html": the slash before a drive letter belongs to the URL, not to the
  // path.
  if (file && url.size() >= 3 && url[0] == '/' && std::isalpha(static_cast<uint8_t>(url[1])) &&
      (url[2] == ':' || url[2] == '|')) {
    url.erase(0, 1);
    if (url[1] == '|') url[1] = ':';
  }
  std::replace(url.begin(), url.end(), '/', '\\');
  const size_t last = url.rfind('\\');
  url = last == AnsiString::npos ? AnsiString() : url.substr(0, last + 1);
  if (http) {
    std::replace(url.begin(), url.end(), '\\', '/');
    url = "http://" + url;
  }
  return url;
}

AnsiString RVGetClipboardHTMLSourceFolder(TClipboard& clipboard) {
  if (!clipboard.HasFormat(CFRV_HTML())) return AnsiString();
  HGLOBAL block = clipboard.GetAsHandle(CFRV_HTML());
  return block ? RVGetHTMLSourceFolder(block->Data) : AnsiString();
}

// ---- Choosing a format -----------------------------------------------------------------------------

TRVPasteFormat RVChooseTextOrPictureFormat(TClipboard& clipboard, bool unicode_style) {
  const bool has_text = clipboard.HasFormat(CF_TEXT);
  if (clipboard.HasFormat(CF_UNICODETEXT)) return unicode_style || !has_text ? rvpfUnicodeText : rvpfText;
  if (has_text) return rvpfText;
  if (clipboard.HasFormat(CF_BITMAP)) return rvpfBitmap;
  if (clipboard.HasFormat(CF_METAFILEPICT)) return rvpfMetafile;
  return rvpfNone;
}

TRVPasteFormat RVChoosePasteFormat(TClipboard& clipboard, bool unicode_style) {
  if (clipboard.HasFormat(CFRV_RVF())) return rvpfRVF;
  if (clipboard.HasFormat(CFRV_RTF())) return rvpfRTF;
  return RVChooseTextOrPictureFormat(clipboard, unicode_style);
}

bool RVCanPaste(TClipboard& clipboard) {
  return clipboard.HasFormat(CF_TEXT) || clipboard.HasFormat(CF_UNICODETEXT) || clipboard.HasFormat(CF_BITMAP) ||
         clipboard.HasFormat(CF_METAFILEPICT) || clipboard.HasFormat(CFRV_RTF()) || clipboard.HasFormat(CFRV_RVF());
}

// ---- Readers --------------------------------------------------------------------------------------

namespace {
void Fill(TMemoryStream& stream, const std::string& data) {
  stream.Clear();
  if (!data.empty()) stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
  stream.SetPosition(0);
}
}  // namespace

bool RVReadClipboardRVF(TClipboard& clipboard, TMemoryStream& stream) {
  HGLOBAL block = clipboard.GetAsHandle(CFRV_RVF());
  std::string rvf;
  if (!block || !RVReadRVFBlock(block->Data, rvf)) return false;
  Fill(stream, rvf);
  return true;
}

bool RVReadClipboardRTF(TClipboard& clipboard, TMemoryStream& stream) {
  HGLOBAL block = clipboard.GetAsHandle(CFRV_RTF());
  if (!block || block->Data.empty()) return false;
  Fill(stream, block->Data);
  return true;
}

bool RVReadClipboardUnicodeText(TClipboard& clipboard, AnsiString& raw) {
  HGLOBAL block = clipboard.GetAsHandle(CF_UNICODETEXT);
  if (!block) return false;
  const std::string& d = block->Data;
  size_t n = 0;
  while (n + 1 < d.size() && !(d[n] == 0 && d[n + 1] == 0)) n += 2;
  raw = d.substr(0, n);
  return !raw.empty();
}

bool RVReadClipboardText(TClipboard& clipboard, AnsiString& text) {
  if (!clipboard.HasFormat(CF_TEXT)) return false;
  text = clipboard.AsText();
  return true;
}

std::unique_ptr<TBitmap> RVReadClipboardBitmap(TClipboard& clipboard) {
  HGLOBAL block = clipboard.GetAsHandle(CF_BITMAP);
  return block ? RVBitmapFromDIB(block->Data) : nullptr;
}

std::unique_ptr<TMetafile> RVReadClipboardMetafile(TClipboard& clipboard) {
  HGLOBAL block = clipboard.GetAsHandle(CF_METAFILEPICT);
  if (!block) block = clipboard.GetAsHandle(CF_ENHMETAFILE);
  if (!block) return nullptr;
  auto metafile = std::make_unique<TMetafile>();
  try {
    TStringStream stream(block->Data);
    metafile->LoadFromStream(stream);
  } catch (const EInvalidGraphic&) {
    return nullptr;
  }
  if (metafile->Inch == 0) metafile->Inch = 1440;
  return metafile;
}

}  // namespace pelvar
