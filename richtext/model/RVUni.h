// Text services for item strings that hold either ANSI bytes of a code page or UTF-16
// code units (two bytes each, low byte first; item option bit 3 = rvioUnicode):
// character counts and edits, code-page conversions, measurement that ignores the
// zero-width characters, caret positions in the visual layout, HTML escaping and the
// line-break search of formatting.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "platform/graphics.h"
#include "platform/types.h"

namespace pelvar {

// The item option bit that marks a UTF-16 text.
constexpr uint8_t rvioUnicode = 8;

// Set at start-up: the platform is of the NT family (true here).
extern bool RVU_PlatformNT;

// ---- Item strings (positions 1-based, in characters) ------------------------------------
int32_t RVU_Length(const std::string& s, uint8_t options);
std::string RVU_Copy(const std::string& s, int32_t from, int32_t count, uint8_t options);
void RVU_Delete(std::string& s, int32_t from, int32_t count, uint8_t options);
void RVU_Insert(const std::string& sub, std::string& s, int32_t at, uint8_t options);
bool RVU_IsSpace(const std::string& s, int32_t index, uint8_t options);
int32_t RVU_TextWidth(const std::string& s, TCanvas& canvas, uint8_t options);
// The first position of ch among count code units; nullptr when absent.
const char16_t* RVU_StrScanW(const char16_t* p, char16_t ch, uint32_t count);
// Byte copies between item strings and wide strings (odd lengths raise EDocViewError).
WideString RVU_RawUnicodeToWideString(const std::string& s);
std::string RVU_WideStringToRawUnicode(const WideString& w);
void RVU_SwapWordBytes(char16_t* p, int32_t count);
// Skips a leading U+FEFF; a leading U+FFFE is skipped and the bytes of the remaining
// count - 1 units are swapped. p and count are moved past the mark.
void RVU_ProcessByteOrderMark(char16_t*& p, int32_t& count);

// ---- Code pages ----------------------------------------------------------------------------
// 0 means the system's ANSI code page (1250), 1 the OEM code page (852), 2 the Macintosh one.
uint32_t RVU_CharsetToCodePage(TFontCharset charset);
uint16_t RVU_CharsetToLanguage(TFontCharset charset);
uint32_t RVU_LangToLCID(uint16_t language);
// ANSI bytes -> UTF-16 item string; bytes the code page lacks become "?".
std::string RVU_AnsiToUnicode(uint32_t code_page, const std::string& s);
// UTF-16 item string -> ANSI bytes; characters the code page lacks become "?".
std::string RVU_UnicodeToAnsi(uint32_t code_page, const std::string& s);
std::string RVU_AnsiToUTF8(uint32_t code_page, const std::string& s);
bool RVU_CanConvertToCodePage(uint32_t code_page, const std::string& s);
uint32_t RVU_GetKeyboardCodePage();
uint16_t RVU_GetKeyboardLanguage();
std::string RVU_KeyboardAnsiToUnicode(const std::string& s);

// ---- Measuring (the canvas's selected font) ---------------------------------------------------
int32_t RVU_ZeroWidthSpaceWidth(TCanvas& canvas);
int32_t RVU_ZeroWidthJoinerWidth(TCanvas& canvas);
int32_t RVU_WordJoinerWidth(TCanvas& canvas);
bool RVU_IsZeroWidth(char16_t ch);
void RVU_GetTextExtentW(TCanvas& canvas, const char16_t* p, int32_t count, TSize& size);
// Extents (may be nullptr) receives the width of every prefix; fit = the characters that
// end within max_extent.
void RVU_GetTextExtentExPointPW(TCanvas& canvas, const char* p, int32_t count, int32_t max_extent, int32_t& fit,
                                std::vector<int32_t>* extents, uint8_t options, TSize& size);
void RVU_GetTextExtentExPoint(TCanvas& canvas, const std::string& s, int32_t max_extent, int32_t& fit,
                              std::vector<int32_t>* extents, uint8_t options);

// ---- Complex scripts ---------------------------------------------------------------------------
// positions (characters + 1) = caret x of every character boundary in the visual layout;
// false when the layout's width is more than 1 pixel off expected_width.
bool RVU_GetTextCaretPos(TCanvas& canvas, const std::string& s, std::vector<int32_t>& positions, uint8_t options,
                         int32_t expected_width);
bool RVU_GetTextRangeCoords(TCanvas& canvas, const std::string& s, int32_t from, int32_t count, uint8_t options,
                            int32_t expected_width, int32_t& left, int32_t& right);
bool RVU_DrawSelectedTextEx(int32_t x, int32_t y, int32_t expected_width, int32_t height, const std::string& s,
                            TCanvas& canvas, int32_t first_char, int32_t last_char, uint8_t options,
                            bool use_complex);

// ---- Display text ----------------------------------------------------------------------------------
// The bit of the shown special characters that stands for the soft hyphen.
constexpr uint32_t rvscSoftHyphen = 8;
// The text as drawn: upper-cased for an all-caps style; in a UTF-16 text every soft
// hyphen becomes invisible (U+200B), or the visible sign U+00AC when special characters
// are shown and soft hyphens among them; a soft hyphen that ends a wrapped line stays
// (it is drawn as a hyphen); remove_zero_width deletes U+200B, U+200D and U+2060.
// shown_special: the library-wide set of shown special characters.
std::string RVU_PrepareDisplayText(const std::string& s, bool all_caps, uint8_t options, bool ends_wrapped_line,
                                   bool show_special_characters, bool remove_zero_width, uint32_t shown_special);

// ---- HTML ------------------------------------------------------------------------------------
// s is a UTF-16 item string. Results are ASCII (entities) or UTF-8 text.
std::string RVU_CharToHTML(char16_t ch, bool& prev_space, bool as_is, bool is_last);
std::string RVU_UnicodeToHTML(const std::string& s, bool as_is);
std::string RVU_UnicodeToHTMLUTF8(const std::string& s, bool as_is);

// ---- Line breaking -------------------------------------------------------------------------------
enum TRVLineBreakClass : uint8_t {
  rvlbOP, rvlbCL, rvlbQU, rvlbGL, rvlbNS, rvlbEX, rvlbSY, rvlbIS, rvlbPR, rvlbPO,
  rvlbNU, rvlbAL, rvlbID, rvlbIN, rvlbHY, rvlbBA, rvlbBB, rvlbB2, rvlbZW, rvlbCM
};
TRVLineBreakClass RVU_GetLineBreakClass(char16_t ch);
// p: UTF-16 text; index: the position (0-based) of the first character that does not
// fit. The index of the last character to keep on the line, or -1 when there is no
// break opportunity.
int32_t RVU_FindLineBreak(const char16_t* p, int32_t index, bool last_char_only);

}  // namespace pelvar
