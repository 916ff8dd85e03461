// The layer under the native document format: writing raw text and lines, hexadecimal
// forms of strings, wide strings, streams, pictures and components, size-prefixed binary
// blocks, parsing the fields of a header line (integers, words, quoted strings, tags, style
// references), and the encodings of style references and tags.
//
// A cursor is a pointer into a zero-terminated header line that the readers advance.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/canvas.h"
#include "platform/classes.h"
#include "platform/streams.h"
#include "platform/types.h"
#include "richtext/model/RVItem.h"

namespace pelvar {

// ---- Writing ----------------------------------------------------------------------------
void RVFWrite(TStream& stream, const AnsiString& s);
void RVFWriteLine(TStream& stream, const AnsiString& s);
// A text item's line: hex of s (unicode and hex_unicode), s and U+2029 (unicode only), or s
// and CR LF.
void RVFWriteTextLine(TStream& stream, const AnsiString& s, bool unicode, bool hex_unicode);
AnsiString RVFStringToHex(const AnsiString& s);
AnsiString RVFStreamToHex(TMemoryStream& stream);
AnsiString RVFWideStringToHex(const WideString& ws);
AnsiString RVFSavePicture(TGraphic& graphic);
void RVFSavePictureBinary(TStream& stream, TGraphic& graphic);
// The component in the binary form of the component streaming, hex-encoded / as a block.
AnsiString RVFSaveControl(TComponent* component);
void RVFSaveControlBinary(TStream& stream, TComponent* component);
// Integer tags as decimal; string tags quoted with inner quotes doubled; "0" for nil or empty.
AnsiString RVFSaveTag(bool tags_are_pchars, const TRVTag& tag);
AnsiString RVFTextStyleToStr(TRVStyle* rvstyle, bool use_style_names, int32_t style_no);
AnsiString RVFParaStyleToStr(TRVStyle* rvstyle, bool use_style_names, int32_t para_no);
AnsiString RVFSaveParaNo(int32_t para_no, TCustomRVData* rvdata, bool force_continuation);
uint8_t RVFGetItemOptions(TRVItemOptions options, bool force_continuation);
AnsiString RVFEncodeLineBreaks(const AnsiString& s);
AnsiString RVFDecodeLineBreaks(const AnsiString& s);
// The item header line "%d %d %s %d %d %s %s" with CR LF.
void RVFWriteItemHeader(TStream& stream, int32_t style_no, int32_t line_count, const AnsiString& para,
                        uint8_t options, int32_t read_mode, const AnsiString& tag, const AnsiString& tail);

// ---- Reading ----------------------------------------------------------------------------------
bool RVFReadInteger(const char*& p, int32_t& value);
bool RVFReadWord(const char*& p, AnsiString& s);
void RVFReadQuotedString(const char*& p, AnsiString& s);
bool RVFReadTag(const char*& p, bool tags_are_pchars, bool quoted_allowed, TRVTag& tag);
bool RVFReadTextStyle(TRVStyle* rvstyle, const char*& p, int32_t& style_no);
bool RVFReadParaStyle(TRVStyle* rvstyle, const char*& p, int32_t& para_no);
// Two hex digits per byte; an odd length gives an empty result; decoding stops at the first
// pair that is not hexadecimal (the result is the decoded prefix).
AnsiString RVFHexToString(const AnsiString& hex);
WideString RVFHexToWideString(const AnsiString& hex);
// False for an odd length (stream untouched) or an invalid pair (the decoded prefix written).
bool RVFHexToStream(const AnsiString& hex, TMemoryStream& stream);
// The graphic is loaded only from completely decoded data: invalid hex loads nothing and
// answers False.
bool RVFLoadPicture(const AnsiString& hex, TGraphic& graphic);
void RVFLoadPictureFromBinaryString(const AnsiString& s, TGraphic& graphic);
void RVFLoadPictureBinary(TStream& stream, TGraphic& graphic);
// Reads a component streamed with RVFSaveControl. With a class name, a new object of that
// registered class (a TComponent) is made first; a class that is not registered, or not a
// component, gives False. Any reading error gives False with control reset.
bool RVFLoadControl(const AnsiString& hex, std::unique_ptr<TComponent>& control, const AnsiString& class_name);
bool RVFLoadControlBinary(const AnsiString& s, std::unique_ptr<TComponent>& control, const AnsiString& class_name);

}  // namespace pelvar
