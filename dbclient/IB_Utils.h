// Conversions between the client library's value formats and the program's: server
// timestamps, a fixed timestamp text, hex text, scaled NUMERIC/DECIMAL integers, blob
// ids, heap buffers, environment values and soundex range keys.
#pragma once

#include <cstdint>

#include "dbclient/IB_Header.h"
#include "platform/currency.h"
#include "platform/registry.h"
#include "platform/sysutils.h"
#include "platform/types.h"

namespace pelvar {

// Server day number of TDateTime day 0 (1899-12-30).
constexpr int32_t IB_DateOffset = 15018;

// --- Dates and times ----------------------------------------------------------------------

// The day number plus the time of day; a time of 24 hours or more is ignored. Before
// 1899-12-30 the time is subtracted, as TDateTime counts those days (so the value
// round-trips with DateTimeToISCTimestamp).
TDateTime ISCTimestampToDateTime(const ISC_TIMESTAMP& TS);
// Whole milliseconds of DT (the fourth decimal of a second is 0); a date outside the
// 32-bit day range raises EIntOverflow.
void DateTimeToISCTimestamp(ISC_TIMESTAMP& TS, TDateTime DT);
// "yyyy/mm/dd hh:nn:ss.zzz0"; for DT <= 0 the fraction is always ".0000".
AnsiString DateTimeToTimestampStr(TDateTime DT);
// Reads DateTimeToTimestampStr's text by position; "12/30/1899 00:00" is 0; any other
// text goes to StrToDateTime, whose EConvertError reports a bad one.
TDateTime TimestampStrToDateTime(const AnsiString& S);

// --- Hex text ----------------------------------------------------------------------------

// 2 × Count upper-case hex digits, high nibble first; empty when Buffer is nullptr.
AnsiString BinaryToHexText(const void* Buffer, int32_t Count);
// Fills Count bytes from the first 2 × Count hex digits of Text. Raises a plain
// Exception "Invalid text in HexTextToBinary" when Text is shorter or holds anything
// but hex digits there.
void HexTextToBinary(const AnsiString& Text, void* Buffer, int32_t Count);

// --- Scaled numbers ----------------------------------------------------------------------
// Scale is a power of ten: a positive Scale multiplies, a negative one divides. Floating
// point rounds to nearest with halves to even, unless said otherwise. The overflow
// errors are plain Exceptions with the texts "Přetečení Smallint", "Přetečení Integer"
// and "Přetečení Int64".

long double ScaleFloat(int16_t Scale, long double Value);
// Value × 10^Scale rounded to four decimals.
Currency ScaledIntToCurrency(int32_t Value, int16_t Scale);
// Value × 10^Scale in integer arithmetic; digits beyond four decimals are cut.
Currency ScaledInt64ToCurrency(int64_t Value, int16_t Scale);
int64_t FloatToScaledInt64(int16_t Scale, long double Value);
int32_t FloatToScaledInteger(int16_t Scale, long double Value);
int16_t FloatToScaledSmallint(int16_t Scale, long double Value);
// The limits are tested on the value with its four decimals (32767.0001 overflows).
int32_t CurrencyToScaledInteger(int16_t Scale, Currency Value);
int16_t CurrencyToScaledSmallint(int16_t Scale, Currency Value);
// Value × 10^Scale in integer arithmetic, halves to even.
int64_t CurrencyToScaledInt64(int16_t Scale, Currency Value);
// The decimal text times 10^Scale; decimals beyond Scale are cut, not rounded. A "-"
// anywhere but first raises "Invalid numeric format: " and the text; other bad text the
// EConvertError of StrToInt64; a result beyond 64 bits EIntOverflow.
int64_t StrToScaledInt64(const AnsiString& Text, int16_t Scale);
int64_t StrToScaledInt64(const AnsiString& Text, int16_t Scale, const TFormatSettings& FS);
// The exact value of a decimal text times 10^Scale, as the server converts text to a
// scaled number: an optional sign, digits with at most one DecimalSeparator, an optional
// exponent (E, sign, digits), blanks around; decimals beyond Scale round half away from
// zero. Never passes through a binary floating value. False when the text is no such
// number, or (with Overflow set) when the value does not fit 64 bits.
bool TryDecimalTextToScaledInt64(const AnsiString& Text, int16_t Scale, char DecimalSeparator,
                                 int64_t& Value, bool& Overflow);
// Value with a decimal separator before its last Decimals digits (5 → "0.05" with two).
AnsiString ScaledInt64ToStr(int16_t Decimals, int64_t Value);
AnsiString ScaledInt64ToStr(int16_t Decimals, int64_t Value, const TFormatSettings& FS);

// --- Other ---------------------------------------------------------------------------------

// True when the first Len bytes are equal; false when Len is 0.
bool BuffersEqual(const void* A, const void* B, int32_t Len);
bool SameBlobId(const ISC_QUAD& A, const ISC_QUAD& B);
bool IsNullBlobId(const ISC_QUAD& Id);
// Moves P to a new zero-filled block of NewSize bytes (nullptr when NewSize <= 0) with
// the old contents as far as they fit; the old block is freed. Nothing happens when the
// sizes are equal. Blocks come from std::malloc/std::calloc and go back with std::free.
void ReallocBuffer(void*& P, int32_t OldSize, int32_t NewSize);
// The process environment variable's value, empty when unset.
AnsiString GetEnvironmentValue(const AnsiString& Name);
// Lower and upper bound keys of a soundex range search.
int32_t SoundExKey(const AnsiString& Text);
int32_t SoundExMaxKey(const AnsiString& Text);


// --- Password scrambling ------------------------------------------------------------------
// A saved password is the marker followed by the hex digits of the password XORed with
// a key. The key follows the security level kept in the registry (below
// JumbleRootKey, key JumbleSecurityKey, string values "Level" and "JumbleKey"): level 0
// no key (passwords stay plain), level 1 the marker itself, level 2 and above the
// random key stored there. The first use on a machine without settings stores level 2
// and a new random key.

// The marker that begins every scrambled text; also the library's fixed key.
extern const AnsiString JumbleMarker;
// The registry key of the security settings, below the root.
extern const AnsiString JumbleSecurityKey;
// The root under which GetJumbleKey looks; HKEY_CURRENT_USER at start. Shared by the
// process: switch it only inside ProcessCriticalSection (IB_Session.h).
extern HKEY JumbleRootKey;

// 16 characters with codes 1 to 254, at random.
AnsiString GenerateJumbleKey();
// The key of the current security level (see above); empty when the settings can be
// neither read nor written.
AnsiString GetJumbleKey();
// Password unchanged for an empty key or when it already begins with the marker.
AnsiString JumblePassword(const AnsiString& Password, const AnsiString& Key);
// Text unchanged for an empty key or when it does not begin with the marker. A
// malformed hex part raises the plain Exception of HexTextToBinary.
AnsiString UnjumblePassword(const AnsiString& Text, const AnsiString& Key);

}  // namespace pelvar
