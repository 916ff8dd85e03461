// The family's side of the clipboard: pictures in their clipboard formats, and the reading
// side of pasting that the editor calls: which format a paste takes, the native block
// with its length prefix, text, pictures, and the source folder named by "HTML Format".
// Every length read from the clipboard is checked against the data's real size.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/clipboard.h"
#include "platform/streams.h"
#include "richtext/model/RVGraphics.h"

namespace pelvar {

// Registered formats of PNG and JPEG pictures ("PNG", "JFIF").
uint16_t CFRV_PNG();
uint16_t CFRV_JFIF();

// The clipboard form of a picture: a bitmap as CF_BITMAP (a packed DIB), a metafile as
// CF_ENHMETAFILE (enhanced) or CF_METAFILEPICT (its bytes), PNG and JPEG pictures as their
// own bytes under "PNG" and "JFIF". False for any other picture or an empty one.
bool RVGraphicClipboardData(const TGraphic& graphic, uint16_t& format, std::string& data);
// The framework's clipboard assignment of a picture; raises EInvalidGraphic for a picture
// with no clipboard form.
void RVAssignGraphicToClipboard(TClipboard& clipboard, const TGraphic& graphic);

// A "DocView Format" block: a 32-bit little-endian length N, then N bytes of native data
// (the block may be longer; the bytes behind are ignored). False when the block is
// shorter than 4 bytes or N exceeds what follows the prefix.
bool RVReadRVFBlock(const std::string& block, std::string& rvf);
// The block for native data (prefix and data).
std::string RVMakeRVFBlock(const std::string& rvf);

// The folder named by the "SourceURL:" line of "HTML Format" data (UTF-8, as the format
// has it): "file://" and "http://" are taken off (case-insensitively), the slashes become
// backslashes and only the folder part, with its last backslash, remains; for an
// "http://" source the prefix is put back and the slashes stay forward. A local
// "file:///C:/d/x.html" gives "C:\d\" (the slash that precedes a drive letter is not
// part of the path). The result is Windows-1250 text; '' without the line.
AnsiString RVGetHTMLSourceFolder(const std::string& html_format_data);
// The same for the clipboard's "HTML Format" ('' when it has none).
AnsiString RVGetClipboardHTMLSourceFolder(TClipboard& clipboard);

// What a paste takes from a clipboard, in the editor's order of preference: the native
// format, then RTF, then (the fallback) Unicode text when the effective text style is
// Unicode or there is no CF_TEXT, else CF_TEXT; without text a bitmap, then a metafile.
enum TRVPasteFormat : uint8_t { rvpfNone, rvpfRVF, rvpfRTF, rvpfUnicodeText, rvpfText, rvpfBitmap, rvpfMetafile };
TRVPasteFormat RVChoosePasteFormat(TClipboard& clipboard, bool unicode_style);
// The fallback alone (when an RTF paste reports false).
TRVPasteFormat RVChooseTextOrPictureFormat(TClipboard& clipboard, bool unicode_style);
// Whether a paste can take anything (CF_TEXT, CF_UNICODETEXT, CF_BITMAP, CF_METAFILEPICT,
// RTF or the native format).
bool RVCanPaste(TClipboard& clipboard);

// Readers of the clipboard; each returns false when the format is missing or unusable.
// The native data (after its prefix) into stream, positioned at 0.
bool RVReadClipboardRVF(TClipboard& clipboard, TMemoryStream& stream);
// The RTF bytes into stream, positioned at 0 (an empty block is refused).
bool RVReadClipboardRTF(TClipboard& clipboard, TMemoryStream& stream);
// CF_UNICODETEXT as UTF-16 bytes, cut at the first zero character; false when empty.
bool RVReadClipboardUnicodeText(TClipboard& clipboard, AnsiString& raw_unicode);
bool RVReadClipboardText(TClipboard& clipboard, AnsiString& text);
std::unique_ptr<TBitmap> RVReadClipboardBitmap(TClipboard& clipboard);
// CF_METAFILEPICT (then CF_ENHMETAFILE); a metafile with an Inch of 0 gets 1440.
std::unique_ptr<TMetafile> RVReadClipboardMetafile(TClipboard& clipboard);

// Pixels of a bitmap <-> a packed DIB.
std::string RVBitmapToDIB(const TBitmap& bitmap);
std::unique_ptr<TBitmap> RVBitmapFromDIB(const std::string& dib);

}  // namespace pelvar
