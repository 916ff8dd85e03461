// Code pages of the system: the process's ANSI code page is Windows-1250, names in
// zip archives use the OEM code page 852; UTF-8 and UTF-16 appear only at the edges
// (terminal, GUI, Linux file names).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pelvar {

enum class TCodePage { cp1250, cp852 };

// One byte of a code page as UTF-16, and back (-1 when the code page lacks the char).
char16_t ByteToChar(uint8_t b, TCodePage cp = TCodePage::cp1250);
int CharToByte(char16_t c, TCodePage cp = TCodePage::cp1250);

// Narrow text of a code page <-> UTF-16. Characters the code page lacks become '?'.
std::u16string ToWide(std::string_view s, TCodePage cp = TCodePage::cp1250);
std::string FromWide(std::u16string_view s, TCodePage cp = TCodePage::cp1250);

// UTF-8 <-> UTF-16; malformed UTF-8 and lone surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view s);
std::u16string Utf8ToUtf16(std::string_view s);

// Narrow text of a code page <-> UTF-8.
std::string CodePageToUtf8(std::string_view s, TCodePage cp = TCodePage::cp1250);
std::string Utf8ToCodePage(std::string_view s, TCodePage cp = TCodePage::cp1250);
std::string ConvertCodePage(std::string_view s, TCodePage from, TCodePage to);

// Windows-1250 <-> UTF-8, the conversions at the edges of the process.
inline std::string AnsiToUtf8(std::string_view s) { return CodePageToUtf8(s, TCodePage::cp1250); }
inline std::string Utf8ToAnsi(std::string_view s) { return Utf8ToCodePage(s, TCodePage::cp1250); }

// The system's own texts are written in the sources as UTF-8; CZ() gives them as the
// Windows-1250 AnsiString the code works with.
inline std::string CZ(std::string_view utf8) { return Utf8ToAnsi(utf8); }

}  // namespace pelvar
