#include "dbclient/IB_Utils.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>

#include "dbclient/IB_Constants.h"
#include "platform/checked.h"
#include "platform/dateutils.h"
#include "platform/exceptions.h"
#include "platform/oslayer.h"

namespace pelvar {

namespace {

constexpr int64_t kPow10[] = {1LL,
                              10LL,
                              100LL,
                              1000LL,
                              10000LL,
                              100000LL,
                              1000000LL,
                              10000000LL,
                              100000000LL,
                              1000000000LL,
                              10000000000LL,
                              100000000000LL,
                              1000000000000LL,
                              10000000000000LL,
                              100000000000000LL,
                              1000000000000000LL,
                              10000000000000000LL,
                              100000000000000000LL,
                              1000000000000000000LL};
constexpr int kMaxPow10 = 18;

long double Pow10L(int n) {
  long double p = 1;
  for (int i = 0; i < n; ++i) {
    p *= 10;
  }
  return p;
}

[[noreturn]] void Overflow(TIB_Msg msg) { throw Exception(IB_Message(msg)); }

// n × 10^e, raising "Přetečení Int64" when it leaves the 64-bit range.
int64_t MulPow10(int64_t n, int e) {
  if (n == 0 || e == 0) {
    return n;
  }
  int64_t r;
  if (e > kMaxPow10 || __builtin_mul_overflow(n, kPow10[e], &r)) {
    Overflow(TIB_Msg::Int64Overflow);
  }
  return r;
}

// n / 10^e truncated towards zero.
int64_t DivPow10Trunc(int64_t n, int e) { return e > kMaxPow10 ? 0 : n / kPow10[e]; }

// n / 10^e rounded to nearest, halves to the even neighbour.
int64_t DivPow10HalfEven(int64_t n, int e) {
  if (e > kMaxPow10) {
    return 0;  // |n| < 10^19 / 2
  }
  const int64_t p = kPow10[e];
  int64_t q = n / p;
  const int64_t r = n % p;
  const int64_t twice = 2 * (r < 0 ? -r : r);
  if (twice > p || (twice == p && (q % 2) != 0)) {
    q += n < 0 ? -1 : 1;
  }
  return q;
}

// The raw value of Value × 10^Scale, four decimals kept, rounded half to even.
int64_t ScaleCurrencyRaw(int16_t Scale, int64_t raw, TIB_Msg overflow) {
  if (Scale == 0 || raw == 0) {
    return raw;
  }
  long double v;
  if (Scale > 0) {
    v = static_cast<long double>(raw) * Pow10L(4 + Scale) / 10000;
  } else {
    v = static_cast<long double>(raw) / Pow10L(4 - Scale) * 10000;
  }
  if (!(std::fabs(v) < 9.0e18L)) {
    Overflow(overflow);
  }
  return RoundHalfEven(v);
}

AnsiString Copy(const AnsiString& s, size_t index1, size_t count) {
  if (index1 < 1 || index1 > s.size()) {
    return {};
  }
  return s.substr(index1 - 1, count);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool AllDigits(const AnsiString& s) {
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

int SoundExCode(char c) {
  switch (c) {
    case 'B': case 'F': case 'P': case 'V':
    case 'b': case 'f': case 'p': case 'v':
      return 1;
    case 'C': case 'G': case 'J': case 'K': case 'Q': case 'S': case 'X': case 'Z':
    case 'c': case 'g': case 'j': case 'k': case 'q': case 's': case 'x': case 'z':
      return 2;
    case 'D': case 'T': case 'd': case 't':
      return 3;
    case 'L': case 'l':
      return 4;
    case 'M': case 'N': case 'm': case 'n':
      return 5;
    case 'R': case 'r':
      return 6;
    default:
      return 0;
  }
}

// The soundex key and the shift of the first unused slot (below 0 when all are used).
uint32_t SoundEx(const AnsiString& text, int& shift) {
  shift = 21;
  if (text.empty()) {
    return 0;
  }
  char first = text[0];
  if (first >= 'a' && first <= 'z') {
    first = static_cast<char>(first - 'a' + 'A');
  }
  uint32_t key = static_cast<uint32_t>(static_cast<uint8_t>(first)) << 24;
  int previous = 0;
  for (size_t i = 1; i < text.size() && shift >= 0; ++i) {
    const int code = SoundExCode(text[i]);
    if (code != previous) {
      key += static_cast<uint32_t>(code) << shift;
      shift -= 3;
    }
    previous = code;
  }
  return key;
}

}  // namespace

// --- Dates and times ----------------------------------------------------------------------

TDateTime ISCTimestampToDateTime(const ISC_TIMESTAMP& TS) {
  const TDateTime day = static_cast<double>(TS.timestamp_date) - IB_DateOffset;
  const uint32_t t = TS.timestamp_time;
  TDateTime time = 0;
  if (!TryEncodeTime(static_cast<uint16_t>(std::min<uint32_t>(t / 36000000, 0xFFFF)),
                     static_cast<uint16_t>((t / 600000) % 60),
                     static_cast<uint16_t>((t / 10000) % 60),
                     static_cast<uint16_t>((t % 10000) / 10), time)) {
    return day;
  }
  return day >= 0 ? day + time : day - time;
}

void DateTimeToISCTimestamp(ISC_TIMESTAMP& TS, TDateTime DT) {
  const int64_t day = CheckedAdd(TruncToInt64(DT), int64_t{IB_DateOffset});
  TS.timestamp_date = CheckedCast<int32_t>(day);
  uint16_t h, m, s, ms;
  DecodeTime(DT, h, m, s, ms);
  TS.timestamp_time = static_cast<uint32_t>(h) * 36000000u + static_cast<uint32_t>(m) * 600000u +
                      static_cast<uint32_t>(s) * 10000u + static_cast<uint32_t>(ms) * 10u;
}

AnsiString DateTimeToTimestampStr(TDateTime DT) {
  uint16_t y, mo, d, h, mi, s, ms;
  DecodeDate(DT, y, mo, d);
  DecodeTime(DT, h, mi, s, ms);
  char buf[64];
  if (DT > 0) {
    std::snprintf(buf, sizeof buf, "%04u/%02u/%02u %02u:%02u:%02u.%03u0", unsigned{y},
                  unsigned{mo}, unsigned{d}, unsigned{h}, unsigned{mi}, unsigned{s},
                  unsigned{ms});
  } else {
    std::snprintf(buf, sizeof buf, "%04u/%02u/%02u %02u:%02u:%02u.0000", unsigned{y},
                  unsigned{mo}, unsigned{d}, unsigned{h}, unsigned{mi}, unsigned{s});
  }
  return buf;
}

TDateTime TimestampStrToDateTime(const AnsiString& S) {
  if (S == "12/30/1899 00:00") {
    return 0;
  }
  int32_t year, month, day, hour, minute, second, msec;
  const AnsiString fraction = (Trim(Copy(S, 21, 4)) + "0000").substr(0, 3);
  TDateTime date, time;
  if (TryStrToInt(Copy(S, 1, 4), year) && TryStrToInt(Copy(S, 6, 2), month) &&
      TryStrToInt(Copy(S, 9, 2), day) && TryStrToInt(Copy(S, 12, 2), hour) &&
      TryStrToInt(Copy(S, 15, 2), minute) && TryStrToInt(Copy(S, 18, 2), second) &&
      TryStrToInt(fraction, msec) && year >= 0 && year <= 9999 && month >= 0 &&
      day >= 0 && hour >= 0 && minute >= 0 && second >= 0 && msec >= 0 &&
      TryEncodeDate(static_cast<uint16_t>(year), static_cast<uint16_t>(month),
                    static_cast<uint16_t>(day), date) &&
      TryEncodeTime(static_cast<uint16_t>(std::min(hour, 0xFFFF)),
                    static_cast<uint16_t>(std::min(minute, 0xFFFF)),
                    static_cast<uint16_t>(std::min(second, 0xFFFF)),
                    static_cast<uint16_t>(std::min(msec, 0xFFFF)), time)) {
    return date >= 0 ? date + time : date - time;
  }
  return StrToDateTime(S);
}

// --- Hex text ----------------------------------------------------------------------------

AnsiString BinaryToHexText(const void* Buffer, int32_t Count) {
  static const char kDigits[] = "0123456789ABCDEF";
  AnsiString result;
  if (Buffer == nullptr || Count <= 0) {
    return result;
  }
  const auto* p = static_cast<const uint8_t*>(Buffer);
  result.reserve(static_cast<size_t>(Count) * 2);
  for (int32_t i = 0; i < Count; ++i) {
    result += kDigits[p[i] >> 4];
    result += kDigits[p[i] & 0x0F];
  }
  return result;
}

void HexTextToBinary(const AnsiString& Text, void* Buffer, int32_t Count) {
  if (Count <= 0) {
    return;
  }
  if (Text.size() < static_cast<size_t>(Count) * 2) {
    throw Exception("Invalid text in HexTextToBinary");
  }
  auto* p = static_cast<uint8_t*>(Buffer);
  for (int32_t i = 0; i < Count; ++i) {
    const int hi = HexDigit(Text[2 * i]);
    const int lo = HexDigit(Text[2 * i + 1]);
    if (hi < 0 || lo < 0) {
      throw Exception("Invalid text in HexTextToBinary");
    }
    p[i] = static_cast<uint8_t>(hi * 16 + lo);
  }
}

// --- Scaled numbers ----------------------------------------------------------------------

long double ScaleFloat(int16_t Scale, long double Value) {
  if (Scale == 0 || Value == 0) {
    return Value;
  }
  const long double p = Pow10L(Scale > 0 ? Scale : -Scale);
  return Scale > 0 ? Value * p : Value / p;
}

Currency ScaledIntToCurrency(int32_t Value, int16_t Scale) {
  const long double raw = static_cast<long double>(Value) * 10000;
  long double v = raw;
  if (Scale > 0) {
    v = raw * Pow10L(4 + Scale) / 10000;
  } else if (Scale < 0) {
    v = raw / Pow10L(4 - Scale) * 10000;
  }
  if (!(std::fabs(v) < 9.2e18L)) {
    Overflow(TIB_Msg::Int64Overflow);
  }
  return Currency::FromRaw(RoundHalfEven(v));
}

Currency ScaledInt64ToCurrency(int64_t Value, int16_t Scale) {
  const int e = Scale + 4;
  if (e >= 0) {
    return Currency::FromRaw(MulPow10(Value, e));
  }
  return Currency::FromRaw(DivPow10Trunc(Value, -e));
}

int64_t FloatToScaledInt64(int16_t Scale, long double Value) {
  const long double v = ScaleFloat(Scale, Value);
  // Beyond 64 bits the rounding has no answer: report the overflow.
  if (!(v >= -9223372036854775808.0L && v < 9223372036854775807.0L)) {
    Overflow(TIB_Msg::Int64Overflow);
  }
  return RoundHalfEven(v);
}

int32_t FloatToScaledInteger(int16_t Scale, long double Value) {
  const long double v = ScaleFloat(Scale, Value);
  if (v > 2147483647.0L || v < -2147483648.0L || std::isnan(v)) {
    Overflow(TIB_Msg::IntegerOverflow);
  }
  return static_cast<int32_t>(RoundHalfEven(v));
}

int16_t FloatToScaledSmallint(int16_t Scale, long double Value) {
  const long double v = ScaleFloat(Scale, Value);
  if (v > 32767.0L || v < -32768.0L || std::isnan(v)) {
    Overflow(TIB_Msg::SmallintOverflow);
  }
  return static_cast<int16_t>(RoundHalfEven(v));
}

int32_t CurrencyToScaledInteger(int16_t Scale, Currency Value) {
  const int64_t raw = ScaleCurrencyRaw(Scale, Value.Raw(), TIB_Msg::IntegerOverflow);
  if (raw > 21474836470000LL || raw < -21474836480000LL) {
    Overflow(TIB_Msg::IntegerOverflow);
  }
  return static_cast<int32_t>(DivPow10HalfEven(raw, 4));
}

int16_t CurrencyToScaledSmallint(int16_t Scale, Currency Value) {
  const int64_t raw = ScaleCurrencyRaw(Scale, Value.Raw(), TIB_Msg::SmallintOverflow);
  if (raw > 327670000LL || raw < -327680000LL) {
    Overflow(TIB_Msg::SmallintOverflow);
  }
  return static_cast<int16_t>(DivPow10HalfEven(raw, 4));
}

int64_t CurrencyToScaledInt64(int16_t Scale, Currency Value) {
  const int s = Scale - 4;
  const int64_t raw = Value.Raw();
  if (s == 0 || raw == 0) {
    return raw;
  }
  return s > 0 ? MulPow10(raw, s) : DivPow10HalfEven(raw, -s);
}

int64_t StrToScaledInt64(const AnsiString& Text, int16_t Scale) {
  return StrToScaledInt64(Text, Scale, FormatSettings());
}

int64_t StrToScaledInt64(const AnsiString& Text, int16_t Scale, const TFormatSettings& FS) {
  const AnsiString t = Trim(Text);
  if (t.size() > 1 && t.find('-', 1) != AnsiString::npos) {
    throw Exception("Invalid numeric format: " + t);
  }
  AnsiString digits = t;
  int d = 0;
  const size_t sep = t.find(FS.DecimalSeparator);
  if (sep != AnsiString::npos) {
    digits = t.substr(0, sep) + t.substr(sep + 1);
    d = static_cast<int>(t.size() - sep - 1);
  }
  // Decimals beyond the scale are cut before the digits are read, so any number of
  // them is fine; they must still be digits.
  const int wanted = Scale > 0 ? Scale : 0;
  if (d > wanted) {
    const size_t drop = static_cast<size_t>(d - wanted);
    const AnsiString dropped = digits.substr(digits.size() - drop);
    if (!AllDigits(dropped)) {
      StrToInt64(digits);  // raises its own conversion error
      throw EConvertError("'" + t + "' is not a valid integer value");
    }
    digits.resize(digits.size() - drop);
    d = wanted;
    if (digits.empty() || digits == "-" || digits == "+") {
      digits = "0";
    }
  }
  const int64_t v = StrToInt64(digits);
  const int e = Scale - d;
  if (e > 0) {
    if (v == 0) return 0;
    int64_t r;
    if (e > kMaxPow10 || __builtin_mul_overflow(v, kPow10[e], &r)) {
      throw EIntOverflow("Integer overflow");
    }
    return r;
  }
  return DivPow10Trunc(v, -e);
}

bool TryDecimalTextToScaledInt64(const AnsiString& Text, int16_t Scale, char DecimalSeparator,
                                 int64_t& Value, bool& Overflow) {
  Overflow = false;
  const AnsiString t = Trim(Text);
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  size_t i = 0;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  // The digits without the separator, and how many of them stand before it.
  AnsiString digits;
  int64_t before = -1;
  for (; i < t.size(); ++i) {
    if (digit(t[i])) {
      digits += t[i];
    } else if (t[i] == DecimalSeparator && before < 0) {
      before = static_cast<int64_t>(digits.size());
    } else {
      break;
    }
  }
  if (digits.empty()) return false;
  if (before < 0) before = static_cast<int64_t>(digits.size());
  int64_t exponent = 0;
  if (i < t.size() && (t[i] == 'E' || t[i] == 'e')) {
    ++i;
    bool exponent_negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) exponent_negative = t[i++] == '-';
    const size_t first = i;
    for (; i < t.size() && digit(t[i]); ++i) {
      if (exponent < 1000000) exponent = exponent * 10 + (t[i] - '0');  // far beyond any 64-bit value
    }
    if (i == first) return false;
    if (exponent_negative) exponent = -exponent;
  }
  if (i != t.size()) return false;

  // The scaled integer is made of the first `keep` digits (zeros past the text's end);
  // the digit after them decides the rounding.
  const int64_t keep = before + exponent + Scale;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  const auto len = static_cast<int64_t>(digits.size());
  uint64_t magnitude = 0;
  for (int64_t k = 0; k < keep; ++k) {
    const unsigned d = k < len ? static_cast<unsigned>(digits[static_cast<size_t>(k)] - '0') : 0;
    if (magnitude == 0 && d == 0) {
      if (k >= len) break;  // only zeros follow
      continue;
    }
    if (magnitude > (limit - d) / 10) {
      Overflow = true;
      return false;
    }
    magnitude = magnitude * 10 + d;
  }
  if (keep >= 0 && keep < len && digits[static_cast<size_t>(keep)] >= '5') {
    if (magnitude == limit) {
      Overflow = true;
      return false;
    }
    ++magnitude;
  }
  Value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

AnsiString ScaledInt64ToStr(int16_t Decimals, int64_t Value) {
  return ScaledInt64ToStr(Decimals, Value, FormatSettings());
}

AnsiString ScaledInt64ToStr(int16_t Decimals, int64_t Value, const TFormatSettings& FS) {
  AnsiString s = IntToStr(Value);
  if (Decimals <= 0) {
    return s;
  }
  const bool negative = !s.empty() && s[0] == '-';
  if (negative) {
    s.erase(0, 1);
  }
  const size_t decimals = static_cast<size_t>(Decimals);
  if (s.size() <= decimals) {
    s.insert(0, decimals + 1 - s.size(), '0');
  }
  s.insert(s.size() - decimals, 1, FS.DecimalSeparator);
  return negative ? "-" + s : s;
}

// --- Other ---------------------------------------------------------------------------------

bool BuffersEqual(const void* A, const void* B, int32_t Len) {
  if (Len <= 0) {
    return false;
  }
  return std::memcmp(A, B, static_cast<size_t>(Len)) == 0;
}

bool SameBlobId(const ISC_QUAD& A, const ISC_QUAD& B) {
  return A.gds_quad_high == B.gds_quad_high && A.gds_quad_low == B.gds_quad_low;
}

bool IsNullBlobId(const ISC_QUAD& Id) { return Id.gds_quad_high == 0 && Id.gds_quad_low == 0; }

void ReallocBuffer(void*& P, int32_t OldSize, int32_t NewSize) {
  if (OldSize == NewSize) {
    return;
  }
  void* block = nullptr;
  if (NewSize > 0) {
    block = std::calloc(static_cast<size_t>(NewSize), 1);
    if (block == nullptr) {
      throw EOutOfMemory("Out of memory");
    }
    const int32_t keep = OldSize < NewSize ? OldSize : NewSize;
    if (P != nullptr && keep > 0) {
      std::memcpy(block, P, static_cast<size_t>(keep));
    }
  }
  std::free(P);
  P = block;
}

AnsiString GetEnvironmentValue(const AnsiString& Name) { return GetEnvironmentVariable(Name); }

int32_t SoundExKey(const AnsiString& Text) {
  int shift;
  return static_cast<int32_t>(SoundEx(Text, shift));
}

int32_t SoundExMaxKey(const AnsiString& Text) {
  int shift;
  uint32_t key = SoundEx(Text, shift);
  for (; shift >= 0; shift -= 3) {
    key |= 7u << shift;
  }
  return static_cast<int32_t>(key);
}


// --- Password scrambling ------------------------------------------------------------------

const AnsiString JumbleMarker = ".FiNoRa.03.";
const AnsiString JumbleSecurityKey = "Software\\REZ\\Security";
HKEY JumbleRootKey = HKEY_CURRENT_USER;

namespace {

AnsiString XorWithKey(const AnsiString& Text, const AnsiString& Key) {
  AnsiString result = Text;
  for (size_t i = 0; i < result.size(); ++i) {
    result[i] = static_cast<char>(result[i] ^ Key[i % Key.size()]);
  }
  return result;
}

bool HasMarker(const AnsiString& Text) { return Text.compare(0, JumbleMarker.size(), JumbleMarker) == 0; }

}  // namespace

AnsiString GenerateJumbleKey() {
  static std::mutex lock;
  static std::mt19937 engine{std::random_device{}()};
  const std::lock_guard<std::mutex> guard(lock);
  std::uniform_int_distribution<int> code(1, 254);
  AnsiString key(16, '\0');
  for (char& c : key) {
    c = static_cast<char>(code(engine));
  }
  return key;
}

AnsiString GetJumbleKey() {
  bool level_set = false;
  int32_t level = 0;
  AnsiString key;
  try {
    TRegistry reg(KEY_READ);
    reg.SetRootKey(JumbleRootKey);
    if (reg.OpenKeyReadOnly("\\" + JumbleSecurityKey)) {
      if (reg.ValueExists("Level")) {
        level = reg.GetDataType("Level") == rdInteger ? reg.ReadInteger("Level")
                                                      : StrToInt(reg.ReadString("Level"));
        level_set = true;
      }
      if (reg.GetDataType("JumbleKey") == rdString) {
        key = reg.ReadString("JumbleKey");
      }
    }
  } catch (const EConvertError&) {
    throw;  // a "Level" that is not a number is reported
  } catch (const std::exception&) {
    // A registry that cannot be read counts as holding no settings.
    level_set = false;
  }
  if (!level_set) {
    try {
      TRegistry reg(KEY_ALL_ACCESS);
      reg.SetRootKey(JumbleRootKey);
      if (reg.OpenKey("\\" + JumbleSecurityKey, true)) {
        key = GenerateJumbleKey();
        reg.WriteString("Level", "2");
        reg.WriteString("JumbleKey", key);
        level = 2;
        level_set = true;
      }
    } catch (const std::exception&) {
      // A registry that cannot be written: no key, the password stays plain.
      level_set = false;
    }
  }
  if (!level_set || level <= 0) {
    return {};
  }
  return level == 1 ? JumbleMarker : key;
}

AnsiString JumblePassword(const AnsiString& Password, const AnsiString& Key) {
  if (Key.empty() || HasMarker(Password)) {
    return Password;
  }
  const AnsiString mixed = XorWithKey(Password, Key);
  return JumbleMarker + BinaryToHexText(mixed.data(), static_cast<int32_t>(mixed.size()));
}

AnsiString UnjumblePassword(const AnsiString& Text, const AnsiString& Key) {
  if (Key.empty() || !HasMarker(Text)) {
    return Text;
  }
  const AnsiString hex = Text.substr(JumbleMarker.size());
  if (hex.empty()) {
    return {};
  }
  AnsiString bytes(hex.size() / 2, '\0');
  HexTextToBinary(hex, bytes.data(), static_cast<int32_t>(bytes.size()));
  return XorWithKey(bytes, Key);
}

}  // namespace pelvar
