// The framework's string, number and file-name utilities over AnsiString (Windows-1250).
// Conversions that depend on the locale take an optional TFormatSettings; without one they use
// the process default, FormatSettings(), which starts as the Czech settings.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>

#include "platform/currency.h"
#include "platform/exceptions.h"
#include "platform/types.h"

namespace pelvar {

// ---------------------------------------------------------------------------------------------
// Format settings

struct TFormatSettings {
  // 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $" (Czech).
  uint8_t CurrencyFormat = 3;
  // 0 "($1)" ... 8 "-1 $" (Czech) ... 15 "(1 $)", the framework's sixteen patterns.
  uint8_t NegCurrFormat = 8;
  char ThousandSeparator = '\xA0';  // no-break space in Windows-1250
  char DecimalSeparator = ',';
  uint8_t CurrencyDecimals = 2;
  char DateSeparator = '.';
  char TimeSeparator = ':';
  char ListSeparator = ';';
  AnsiString CurrencyString;  // "Kč"
  AnsiString ShortDateFormat = "dd.mm.yyyy";
  AnsiString LongDateFormat = "d. mmmm yyyy";
  AnsiString TimeAMString = "dop.";
  AnsiString TimePMString = "odp.";
  AnsiString ShortTimeFormat = "h:mm";
  AnsiString LongTimeFormat = "hh:mm:ss";
  // Index 0 is January.
  std::array<AnsiString, 12> ShortMonthNames;
  std::array<AnsiString, 12> LongMonthNames;
  // Index 0 is Sunday (the framework's day 1).
  std::array<AnsiString, 7> ShortDayNames;
  std::array<AnsiString, 7> LongDayNames;
  // Two-digit years are taken within this many years before the current one (0: this century).
  uint16_t TwoDigitYearCenturyWindow = 50;
};

// The Czech settings, fresh.
TFormatSettings CzechFormatSettings();
// The process default (starts as the Czech settings; writable).
TFormatSettings& FormatSettings();

// ---------------------------------------------------------------------------------------------
// Case and comparison. The Ansi functions know the letters of Windows-1250; the others only
// ASCII. AnsiCompareText/AnsiCompareStr give a linguistic order in which accented letters sort
// next to their base letter (č, ř, š, ž after c, r, s, z as in Czech); the *Text functions
// ignore case; AnsiCompareStr puts a lower-case letter before its upper-case one.

char AnsiUpperChar(char c);
char AnsiLowerChar(char c);
AnsiString AnsiUpperCase(std::string_view s);
AnsiString AnsiLowerCase(std::string_view s);
int AnsiCompareText(std::string_view a, std::string_view b);
int AnsiCompareStr(std::string_view a, std::string_view b);
bool AnsiSameText(std::string_view a, std::string_view b);
bool AnsiSameStr(std::string_view a, std::string_view b);
// Case-insensitive equality with the Czech letters of Windows-1250 folded.
bool SameText(std::string_view a, std::string_view b);
// Ordinal comparisons; CompareText folds ASCII letters only. Results are <0, 0, >0.
int CompareText(std::string_view a, std::string_view b);
int CompareStr(std::string_view a, std::string_view b);
AnsiString UpperCase(std::string_view s);
AnsiString LowerCase(std::string_view s);

// ---------------------------------------------------------------------------------------------
// Trimming (characters with codes 0..32), searching, replacing, quoting

AnsiString Trim(std::string_view s);
AnsiString TrimLeft(std::string_view s);
AnsiString TrimRight(std::string_view s);

// 1-based position of sub in s, 0 when absent (or when sub is empty).
int Pos(std::string_view sub, std::string_view s);
int AnsiPos(std::string_view sub, std::string_view s);

enum TReplaceFlag { rfReplaceAll, rfIgnoreCase };
class TReplaceFlags {
 public:
  constexpr TReplaceFlags() = default;
  constexpr TReplaceFlags(TReplaceFlag f) : bits_(1u << f) {}
  constexpr TReplaceFlags(std::initializer_list<TReplaceFlag> flags) {
    for (TReplaceFlag f : flags) bits_ |= 1u << f;
  }
  constexpr bool Contains(TReplaceFlag f) const { return (bits_ >> f) & 1u; }

 private:
  unsigned bits_ = 0;
};

// rfIgnoreCase compares with the Windows-1250 case folding.
AnsiString StringReplace(std::string_view s, std::string_view old_pattern,
                         std::string_view new_pattern, TReplaceFlags flags = {});

// 'it''s' style quoting, and its reverse: AnsiDequotedStr returns s unchanged when it does not
// start with quote; text after the closing quote is dropped; a missing closing quote keeps
// the rest.
AnsiString QuotedStr(std::string_view s);
AnsiString AnsiQuotedStr(std::string_view s, char quote);
AnsiString AnsiDequotedStr(std::string_view s, char quote);
// Parses a quoted string at pos (0-based), advancing pos past it; empty when s[pos] is not quote.
AnsiString AnsiExtractQuotedStr(std::string_view s, size_t& pos, char quote);

// ---------------------------------------------------------------------------------------------
// Integers. StrToInt accepts leading blanks, a sign, decimal digits or a hexadecimal number
// written "$FF" or "0xFF"; anything else (trailing blanks included) or a value out of range
// raises EConvertError.

AnsiString IntToStr(int64_t v);
AnsiString UIntToStr(uint64_t v);
// Any other integer type, without narrowing (unsigned 64-bit values stay unsigned).
template <class T>
  requires std::is_integral_v<T>
AnsiString IntToStr(T v) {
  if constexpr (std::is_unsigned_v<T>)
    return UIntToStr(uint64_t(v));
  else
    return IntToStr(int64_t(v));
}

// Upper-case hex, at least digits digits. The value's bits are shown: a negative value of up
// to 32 bits gives its 8-digit two's complement, a negative 64-bit one its 16-digit one.
AnsiString IntToHex(uint64_t bits, int digits);
template <class T>
  requires std::is_integral_v<T>
AnsiString IntToHex(T v, int digits) {
  if constexpr (sizeof(T) <= 4)
    return IntToHex(uint64_t(static_cast<uint32_t>(v)), digits);
  else
    return IntToHex(static_cast<uint64_t>(v), digits);
}
int32_t StrToInt(std::string_view s);
int64_t StrToInt64(std::string_view s);
int32_t StrToIntDef(std::string_view s, int32_t def);
int64_t StrToInt64Def(std::string_view s, int64_t def);
bool TryStrToInt(std::string_view s, int32_t& v);
bool TryStrToInt64(std::string_view s, int64_t& v);

// ---------------------------------------------------------------------------------------------
// Floating point and currency

enum TFloatFormat { ffGeneral, ffExponent, ffFixed, ffNumber, ffCurrency };

// Largest number of significant digits a conversion honours for a double.
constexpr int kMaxFloatPrecision = 17;

// ffGeneral with 15 significant digits: "1234,5", "1E-5", "1,5E20".
AnsiString FloatToStr(long double v);
AnsiString FloatToStr(long double v, const TFormatSettings& fs);
AnsiString FloatToStrF(long double v, TFloatFormat format, int precision, int digits);
AnsiString FloatToStrF(long double v, TFloatFormat format, int precision, int digits,
                       const TFormatSettings& fs);
// Pattern formatting: "0.00", "#,##0.00", "0.###E+00", sections "pos;neg;zero", quoted text.
AnsiString FormatFloat(std::string_view format, long double v);
AnsiString FormatFloat(std::string_view format, long double v, const TFormatSettings& fs);
// Parses blanks, sign, digits, the settings' decimal separator and an exponent.
long double StrToFloat(std::string_view s);
long double StrToFloat(std::string_view s, const TFormatSettings& fs);
long double StrToFloatDef(std::string_view s, long double def);
long double StrToFloatDef(std::string_view s, long double def, const TFormatSettings& fs);
bool TryStrToFloat(std::string_view s, long double& v);
bool TryStrToFloat(std::string_view s, long double& v, const TFormatSettings& fs);
bool TryStrToFloat(std::string_view s, double& v);
bool TryStrToFloat(std::string_view s, double& v, const TFormatSettings& fs);

// Exact decimal text without trailing zeros: "1234,5".
AnsiString CurrToStr(Currency v);
AnsiString CurrToStr(Currency v, const TFormatSettings& fs);
AnsiString CurrToStrF(Currency v, TFloatFormat format, int digits);
AnsiString CurrToStrF(Currency v, TFloatFormat format, int digits, const TFormatSettings& fs);
AnsiString FormatCurr(std::string_view format, Currency v);
AnsiString FormatCurr(std::string_view format, Currency v, const TFormatSettings& fs);
// Parsed exactly, more than four decimals rounded half to even.
Currency StrToCurr(std::string_view s);
Currency StrToCurr(std::string_view s, const TFormatSettings& fs);
Currency StrToCurrDef(std::string_view s, Currency def);
Currency StrToCurrDef(std::string_view s, Currency def, const TFormatSettings& fs);
bool TryStrToCurr(std::string_view s, Currency& v);
bool TryStrToCurr(std::string_view s, Currency& v, const TFormatSettings& fs);

// ---------------------------------------------------------------------------------------------
// Booleans: "-1"/"0", or "True"/"False" with use_bool_strs. StrToBool takes "True"/"False" in
// any case and any number (non-zero is true).

AnsiString BoolToStr(bool b, bool use_bool_strs = false);
bool StrToBool(std::string_view s);
bool StrToBoolDef(std::string_view s, bool def);
bool TryStrToBool(std::string_view s, bool& v);

// ---------------------------------------------------------------------------------------------
// Format: "%" [index ":"] ["-"] [width] ["." precision] type, with '*' for index, width or
// precision taken from the arguments, and "%%". Types: d u x (integers; precision is the least
// number of digits), e f g n m (floating point; m is currency), s (strings, chars; precision
// cuts), p (pointer). A bad format or an argument of the wrong kind raises EConvertError.

struct TVarRec {
  enum Kind { vtInteger, vtInt64, vtUInt64, vtExtended, vtCurrency, vtBoolean, vtChar, vtString,
              vtPointer };
  TVarRec(int v) : kind(vtInteger), i(v) {}
  TVarRec(unsigned v) : kind(vtInt64), i(v) {}
  TVarRec(long v) : kind(vtInt64), i(v) {}
  TVarRec(long long v) : kind(vtInt64), i(v) {}
  TVarRec(unsigned long v) : kind(vtUInt64), u(v) {}
  TVarRec(unsigned long long v) : kind(vtUInt64), u(v) {}
  TVarRec(double v) : kind(vtExtended), f(v) {}
  TVarRec(long double v) : kind(vtExtended), f(v) {}
  TVarRec(Currency v) : kind(vtCurrency), i(v.Raw()) {}
  TVarRec(bool v) : kind(vtBoolean), i(v) {}
  TVarRec(char v) : kind(vtChar), i(static_cast<unsigned char>(v)) {}
  TVarRec(const char* v) : kind(vtString), s(v ? std::string_view(v) : std::string_view()) {}
  TVarRec(const AnsiString& v) : kind(vtString), s(v) {}
  TVarRec(std::string_view v) : kind(vtString), s(v) {}
  TVarRec(const void* v) : kind(vtPointer), p(v) {}
  TVarRec(std::nullptr_t) : kind(vtPointer), p(nullptr) {}

  Kind kind;
  int64_t i = 0;        // vtInteger, vtInt64, vtCurrency (raw), vtBoolean, vtChar
  uint64_t u = 0;       // vtUInt64
  long double f = 0;    // vtExtended
  std::string_view s;   // vtString (valid for the call)
  const void* p = nullptr;
};

AnsiString Format(std::string_view fmt, std::initializer_list<TVarRec> args);
AnsiString Format(std::string_view fmt, std::initializer_list<TVarRec> args,
                  const TFormatSettings& fs);

// ---------------------------------------------------------------------------------------------
// File names and files. Names are Windows-1250; both '\' and '/' separate directories in the
// Extract functions, '/' is the delimiter added. The file functions reach the Linux file system
// through SysFileName (UTF-8).

constexpr char PathDelim = '/';
AnsiString IncludeTrailingPathDelimiter(std::string_view s);
AnsiString ExcludeTrailingPathDelimiter(std::string_view s);
AnsiString IncludeTrailingBackslash(std::string_view s);
AnsiString ExcludeTrailingBackslash(std::string_view s);
AnsiString ExtractFileName(std::string_view s);
// With the trailing delimiter.
AnsiString ExtractFilePath(std::string_view s);
// Without the trailing delimiter (except for the root).
AnsiString ExtractFileDir(std::string_view s);
// With the dot: ".txt"; empty when there is none.
AnsiString ExtractFileExt(std::string_view s);
AnsiString ChangeFileExt(std::string_view s, std::string_view ext);
bool FileExists(std::string_view name);
bool DirectoryExists(std::string_view name);
// Creates the directory and its missing parents; false when that fails. An empty name raises
// EInOutError.
bool ForceDirectories(std::string_view dir);
bool DeleteFile(std::string_view name);
bool RenameFile(std::string_view old_name, std::string_view new_name);
AnsiString GetCurrentDir();
// Absolute, with "." and ".." resolved (no symbolic links followed).
AnsiString ExpandFileName(std::string_view name);

}  // namespace pelvar
