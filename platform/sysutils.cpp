#include "platform/sysutils.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <vector>

#include "platform/codepage.h"
#include "platform/streams.h"

namespace pelvar {

// =============================================================================================
// Format settings

TFormatSettings CzechFormatSettings() {
  TFormatSettings fs;
  fs.CurrencyString = CZ("Kč");
  static const char* const kShortMonths[12] = {"led", "úno", "bře", "dub", "kvě", "čvn",
                                               "čvc", "srp", "zář", "říj", "lis", "pro"};
  static const char* const kLongMonths[12] = {"leden",  "únor",     "březen",   "duben",
                                              "květen", "červen",   "červenec", "srpen",
                                              "září",   "říjen",    "listopad", "prosinec"};
  static const char* const kShortDays[7] = {"ne", "po", "út", "st", "čt", "pá", "so"};
  static const char* const kLongDays[7] = {"neděle",  "pondělí", "úterý", "středa",
                                           "čtvrtek", "pátek",   "sobota"};
  for (int i = 0; i < 12; ++i) {
    fs.ShortMonthNames[i] = CZ(kShortMonths[i]);
    fs.LongMonthNames[i] = CZ(kLongMonths[i]);
  }
  for (int i = 0; i < 7; ++i) {
    fs.ShortDayNames[i] = CZ(kShortDays[i]);
    fs.LongDayNames[i] = CZ(kLongDays[i]);
  }
  return fs;
}

TFormatSettings& FormatSettings() {
  static TFormatSettings settings = CzechFormatSettings();
  return settings;
}

// =============================================================================================
// Case tables and collation for Windows-1250

namespace {

struct CaseTables {
  unsigned char upper[256];
  unsigned char lower[256];
  // Collation weights: primary (letter identity), secondary (diacritic), tertiary (case).
  uint16_t primary[256];
  uint8_t secondary[256];
  uint8_t tertiary[256];
};

enum Accent : uint8_t {
  kNone, kAcute, kCircumflex, kBreve, kDiaeresis, kCaron, kRing, kOgonek, kCedilla,
  kDoubleAcute, kDotAbove, kStroke, kSharp
};

struct LetterInfo {
  unsigned char upper;  // upper-case byte
  char base;            // base letter, upper case
  Accent accent;
};

// The accented upper-case letters of Windows-1250; the lower-case ones are paired below.
constexpr LetterInfo kLetters[] = {
    {0x8A, 'S', kCaron},     {0x8C, 'S', kAcute},     {0x8D, 'T', kCaron},
    {0x8E, 'Z', kCaron},     {0x8F, 'Z', kAcute},     {0xA3, 'L', kStroke},
    {0xA5, 'A', kOgonek},    {0xAA, 'S', kCedilla},   {0xAF, 'Z', kDotAbove},
    {0xBC, 'L', kCaron},     {0xC0, 'R', kAcute},     {0xC1, 'A', kAcute},
    {0xC2, 'A', kCircumflex}, {0xC3, 'A', kBreve},    {0xC4, 'A', kDiaeresis},
    {0xC5, 'L', kAcute},     {0xC6, 'C', kAcute},     {0xC7, 'C', kCedilla},
    {0xC8, 'C', kCaron},     {0xC9, 'E', kAcute},     {0xCA, 'E', kOgonek},
    {0xCB, 'E', kDiaeresis}, {0xCC, 'E', kCaron},     {0xCD, 'I', kAcute},
    {0xCE, 'I', kCircumflex}, {0xCF, 'D', kCaron},    {0xD0, 'D', kStroke},
    {0xD1, 'N', kAcute},     {0xD2, 'N', kCaron},     {0xD3, 'O', kAcute},
    {0xD4, 'O', kCircumflex}, {0xD5, 'O', kDoubleAcute}, {0xD6, 'O', kDiaeresis},
    {0xD8, 'R', kCaron},     {0xD9, 'U', kRing},      {0xDA, 'U', kAcute},
    {0xDB, 'U', kDoubleAcute}, {0xDC, 'U', kDiaeresis}, {0xDD, 'Y', kAcute},
    {0xDE, 'T', kCedilla},
};

unsigned char LowerOf(unsigned char upper) {
  switch (upper) {
    case 0x8A: case 0x8C: case 0x8D: case 0x8E: case 0x8F: return upper + 0x10;
    case 0xA3: return 0xB3;
    case 0xA5: return 0xB9;
    case 0xAA: return 0xBA;
    case 0xAF: return 0xBF;
    case 0xBC: return 0xBE;
    default: return upper + 0x20;  // 0xC0..0xDE
  }
}

CaseTables BuildTables() {
  CaseTables t{};
  for (int b = 0; b < 256; ++b) {
    t.upper[b] = t.lower[b] = static_cast<unsigned char>(b);
    t.secondary[b] = 0;
    t.tertiary[b] = 0;
    // Non-letters sort before digits, digits before letters; each keeps its own weight.
    if (b >= '0' && b <= '9')
      t.primary[b] = uint16_t(600 + (b - '0'));
    else
      t.primary[b] = uint16_t(1 + b);
  }
  auto letter_primary = [](char base, Accent accent) -> uint16_t {
    uint16_t p = uint16_t(1000 + 16 * (base - 'A'));
    // Č, Ř, Š, Ž are letters of their own in Czech, right after their base letter.
    if (accent == kCaron && (base == 'C' || base == 'R' || base == 'S' || base == 'Z')) p += 8;
    if (accent == kSharp) p += 12;  // ß after s and š
    return p;
  };
  for (int c = 'A'; c <= 'Z'; ++c) {
    const int l = c + 32;
    t.upper[l] = static_cast<unsigned char>(c);
    t.lower[c] = static_cast<unsigned char>(l);
    t.primary[c] = t.primary[l] = letter_primary(char(c), kNone);
    t.tertiary[c] = 1;
  }
  for (const LetterInfo& li : kLetters) {
    const unsigned char u = li.upper, l = LowerOf(li.upper);
    t.upper[l] = u;
    t.lower[u] = l;
    t.primary[u] = t.primary[l] = letter_primary(li.base, li.accent);
    t.secondary[u] = t.secondary[l] = li.accent;
    t.tertiary[u] = 1;
  }
  t.primary[0xDF] = letter_primary('S', kSharp);  // ß, lower case only
  t.secondary[0xDF] = kSharp;
  return t;
}

const CaseTables& Tables() {
  static const CaseTables tables = BuildTables();
  return tables;
}

inline unsigned char U8(char c) { return static_cast<unsigned char>(c); }

int Sign(int v) { return (v > 0) - (v < 0); }

// Hyphens and apostrophes are ignored but for the last tie-break, so that "co-op" stays next
// to "coop" (the word sort of Windows).
inline bool Ignorable(unsigned char c) { return c == '-' || c == '\''; }

// Compares the weights of the non-ignorable characters of a and b.
template <class Weight>
int CompareLevel(std::string_view a, std::string_view b, Weight weight) {
  size_t i = 0, j = 0;
  while (true) {
    while (i < a.size() && Ignorable(U8(a[i]))) ++i;
    while (j < b.size() && Ignorable(U8(b[j]))) ++j;
    if (i == a.size() || j == b.size()) return (i == a.size() ? 0 : 1) - (j == b.size() ? 0 : 1);
    const int wa = weight(U8(a[i++])), wb = weight(U8(b[j++]));
    if (wa != wb) return wa < wb ? -1 : 1;
  }
}

// Compares every character.
template <class Weight>
int CompareAll(std::string_view a, std::string_view b, Weight weight) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const int wa = weight(U8(a[i])), wb = weight(U8(b[i]));
    if (wa != wb) return wa < wb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Primary (letters, accented ones with their base), secondary (accents), then for the
// case-sensitive order tertiary (lower case first) and the bytes; the case-insensitive order
// ends with the upper-cased bytes, so that it is zero exactly when SameText holds.
int LinguisticCompare(std::string_view a, std::string_view b, bool case_sensitive) {
  const CaseTables& t = Tables();
  if (int r = CompareLevel(a, b, [&](unsigned char c) { return int(t.primary[c]); })) return r;
  if (int r = CompareLevel(a, b, [&](unsigned char c) { return int(t.secondary[c]); })) return r;
  if (case_sensitive) {
    if (int r = CompareLevel(a, b, [&](unsigned char c) { return int(t.tertiary[c]); })) return r;
    return CompareAll(a, b, [](unsigned char c) { return int(c); });
  }
  return CompareAll(a, b, [&](unsigned char c) { return int(t.upper[c]); });
}

}  // namespace

char AnsiUpperChar(char c) { return static_cast<char>(Tables().upper[U8(c)]); }
char AnsiLowerChar(char c) { return static_cast<char>(Tables().lower[U8(c)]); }

AnsiString AnsiUpperCase(std::string_view s) {
  AnsiString r(s);
  for (char& c : r) c = AnsiUpperChar(c);
  return r;
}

AnsiString AnsiLowerCase(std::string_view s) {
  AnsiString r(s);
  for (char& c : r) c = AnsiLowerChar(c);
  return r;
}

int AnsiCompareText(std::string_view a, std::string_view b) {
  return LinguisticCompare(a, b, false);
}
int AnsiCompareStr(std::string_view a, std::string_view b) {
  return LinguisticCompare(a, b, true);
}
bool AnsiSameText(std::string_view a, std::string_view b) { return SameText(a, b); }
bool AnsiSameStr(std::string_view a, std::string_view b) { return a == b; }

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  const CaseTables& t = Tables();
  for (size_t i = 0; i < a.size(); ++i)
    if (t.upper[U8(a[i])] != t.upper[U8(b[i])]) return false;
  return true;
}

int CompareStr(std::string_view a, std::string_view b) { return Sign(a.compare(b)); }

int CompareText(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char ca = U8(a[i]), cb = U8(b[i]);
    if (ca >= 'a' && ca <= 'z') ca -= 32;
    if (cb >= 'a' && cb <= 'z') cb -= 32;
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

AnsiString UpperCase(std::string_view s) {
  AnsiString r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = char(c - 32);
  return r;
}

AnsiString LowerCase(std::string_view s) {
  AnsiString r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return r;
}

// =============================================================================================
// Trimming, searching, replacing, quoting

namespace {
inline bool IsBlank(char c) { return U8(c) <= 32; }
}  // namespace

AnsiString Trim(std::string_view s) { return TrimRight(TrimLeft(s)); }

AnsiString TrimLeft(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  return AnsiString(s.substr(i));
}

AnsiString TrimRight(std::string_view s) {
  size_t n = s.size();
  while (n > 0 && IsBlank(s[n - 1])) --n;
  return AnsiString(s.substr(0, n));
}

int Pos(std::string_view sub, std::string_view s) {
  if (sub.empty()) return 0;
  const size_t p = s.find(sub);
  return p == std::string_view::npos ? 0 : int(p) + 1;
}

int AnsiPos(std::string_view sub, std::string_view s) { return Pos(sub, s); }

AnsiString StringReplace(std::string_view s, std::string_view old_pattern,
                         std::string_view new_pattern, TReplaceFlags flags) {
  if (old_pattern.empty()) return AnsiString(s);
  const bool ignore_case = flags.Contains(rfIgnoreCase);
  const AnsiString hay = ignore_case ? AnsiUpperCase(s) : AnsiString();
  const AnsiString pat = ignore_case ? AnsiUpperCase(old_pattern) : AnsiString();
  const std::string_view search = ignore_case ? std::string_view(hay) : s;
  const std::string_view pattern = ignore_case ? std::string_view(pat) : old_pattern;
  AnsiString r;
  size_t from = 0;
  while (true) {
    const size_t p = search.find(pattern, from);
    if (p == std::string_view::npos) break;
    r.append(s.substr(from, p - from));
    r.append(new_pattern);
    from = p + pattern.size();
    if (!flags.Contains(rfReplaceAll)) break;
  }
  r.append(s.substr(from));
  return r;
}

AnsiString QuotedStr(std::string_view s) { return AnsiQuotedStr(s, '\''); }

AnsiString AnsiQuotedStr(std::string_view s, char quote) {
  AnsiString r;
  r.reserve(s.size() + 2);
  r.push_back(quote);
  for (char c : s) {
    r.push_back(c);
    if (c == quote) r.push_back(c);
  }
  r.push_back(quote);
  return r;
}

AnsiString AnsiExtractQuotedStr(std::string_view s, size_t& pos, char quote) {
  AnsiString r;
  if (pos >= s.size() || s[pos] != quote) return r;
  ++pos;
  while (pos < s.size()) {
    if (s[pos] == quote) {
      if (pos + 1 < s.size() && s[pos + 1] == quote) {
        r.push_back(quote);
        pos += 2;
        continue;
      }
      ++pos;
      break;
    }
    r.push_back(s[pos++]);
  }
  return r;
}

AnsiString AnsiDequotedStr(std::string_view s, char quote) {
  if (s.empty() || s[0] != quote) return AnsiString(s);
  size_t pos = 0;
  return AnsiExtractQuotedStr(s, pos, quote);
}

// =============================================================================================
// Integers

namespace {

[[noreturn]] void RaiseInvalidInteger(std::string_view s) {
  throw EConvertError("'" + AnsiString(s) + "' is not a valid integer value");
}

// The framework's Val for integers: leading blanks, sign, decimal or "$"/"0x" hexadecimal.
// A hexadecimal value may use all bits of the type (it wraps to negative).
template <class T>
bool ParseInteger(std::string_view s, T& out) {
  using U = std::make_unsigned_t<T>;
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool neg = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
  bool hex = false;
  if (i < s.size() && s[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= s.size()) return false;
  U value = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    unsigned d;
    if (c >= '0' && c <= '9')
      d = unsigned(c - '0');
    else if (hex && c >= 'a' && c <= 'f')
      d = unsigned(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F')
      d = unsigned(c - 'A' + 10);
    else
      return false;
    const unsigned base = hex ? 16 : 10;
    if (value > (std::numeric_limits<U>::max() - d) / base) return false;
    value = U(value * base + d);
  }
  if (hex) {
    const T v = static_cast<T>(value);  // two's complement wrap
    if (neg && v == std::numeric_limits<T>::min()) {
      out = v;
      return true;
    }
    out = neg ? T(-v) : v;
    return true;
  }
  const U limit = neg ? U(U(std::numeric_limits<T>::max()) + 1) : U(std::numeric_limits<T>::max());
  if (value > limit) return false;
  out = neg ? static_cast<T>(U(0) - value) : static_cast<T>(value);
  return true;
}

AnsiString HexDigits(uint64_t v, int digits) {
  char buf[17];
  int n = 0;
  do {
    buf[n++] = "0123456789ABCDEF"[v & 15];
    v >>= 4;
  } while (v != 0);
  AnsiString r;
  if (digits > n) r.append(size_t(digits - n), '0');
  while (n > 0) r.push_back(buf[--n]);
  return r;
}

}  // namespace

AnsiString IntToStr(int64_t v) { return std::to_string(v); }
AnsiString UIntToStr(uint64_t v) { return std::to_string(v); }

AnsiString IntToHex(uint64_t bits, int digits) { return HexDigits(bits, digits); }

bool TryStrToInt(std::string_view s, int32_t& v) { return ParseInteger(s, v); }
bool TryStrToInt64(std::string_view s, int64_t& v) { return ParseInteger(s, v); }

int32_t StrToInt(std::string_view s) {
  int32_t v;
  if (!ParseInteger(s, v)) RaiseInvalidInteger(s);
  return v;
}

int64_t StrToInt64(std::string_view s) {
  int64_t v;
  if (!ParseInteger(s, v)) RaiseInvalidInteger(s);
  return v;
}

int32_t StrToIntDef(std::string_view s, int32_t def) {
  int32_t v;
  return ParseInteger(s, v) ? v : def;
}

int64_t StrToInt64Def(std::string_view s, int64_t def) {
  int64_t v;
  return ParseInteger(s, v) ? v : def;
}

// =============================================================================================
// Decimal representation of numbers, shared by the float and currency conversions

namespace {

// value = 0.d1d2d3... * 10^exp; digits has no leading or trailing zeros; empty means zero.
struct Decimal {
  bool negative = false;
  bool nan = false;
  bool inf = false;
  int exp = 0;
  std::string digits;
  bool IsZero() const { return !nan && !inf && digits.empty(); }
};

void Normalize(Decimal& d) {
  size_t lead = 0;
  while (lead < d.digits.size() && d.digits[lead] == '0') ++lead;
  d.digits.erase(0, lead);
  d.exp -= int(lead);
  while (!d.digits.empty() && d.digits.back() == '0') d.digits.pop_back();
  if (d.digits.empty()) d.exp = 0;
}

// 18 significant digits of a floating-point value (locale independent).
Decimal ToDecimal(long double v) {
  Decimal d;
  if (std::isnan(v)) {
    d.nan = true;
    return d;
  }
  d.negative = std::signbit(v);
  if (std::isinf(v)) {
    d.inf = true;
    return d;
  }
  if (v == 0) {
    d.negative = false;
    return d;
  }
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, 17);
  const std::string_view text(buf, size_t(res.ptr - buf));
  const size_t e = text.find('e');
  for (char c : text.substr(0, e))
    if (c >= '0' && c <= '9') d.digits.push_back(c);
  int exp10 = 0;
  std::from_chars(text.data() + e + 1 + (text[e + 1] == '+'), text.data() + text.size(), exp10);
  d.exp = exp10 + 1;
  Normalize(d);
  return d;
}

Decimal CurrencyDecimal(Currency c) {
  Decimal d;
  const int64_t raw = c.Raw();
  d.negative = raw < 0;
  const uint64_t mag = raw < 0 ? uint64_t(0) - uint64_t(raw) : uint64_t(raw);
  d.digits = std::to_string(mag);
  d.exp = int(d.digits.size()) - 4;
  Normalize(d);
  if (d.digits.empty()) d.negative = false;
  return d;
}

// Keeps at most `keep` significant digits, rounding half up (away from zero).
void RoundToDigits(Decimal& d, int keep) {
  if (d.nan || d.inf || int(d.digits.size()) <= keep) return;
  if (keep < 0) {
    d.digits.clear();
    Normalize(d);
    return;
  }
  const bool up = d.digits[size_t(keep)] >= '5';
  d.digits.resize(size_t(keep));
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.digits[size_t(i)] == '9') d.digits[size_t(i--)] = '0';
    if (i >= 0) {
      ++d.digits[size_t(i)];
    } else {
      d.digits.insert(d.digits.begin(), '1');
      ++d.exp;
    }
  }
  Normalize(d);
}

// Digit i (0-based from the first significant one), '0' beyond the stored ones.
inline char DigitAt(const Decimal& d, int i) {
  return i >= 0 && i < int(d.digits.size()) ? d.digits[size_t(i)] : '0';
}

AnsiString SpecialText(const Decimal& d) {
  if (d.nan) return "NAN";
  return d.negative ? "-INF" : "INF";
}

// Integer digits of d (at least "0"), optionally with thousand separators.
AnsiString IntegerPart(const Decimal& d, char thousand_sep, bool group) {
  AnsiString digits;
  for (int i = 0; i < d.exp; ++i) digits.push_back(DigitAt(d, i));
  if (digits.empty()) digits = "0";
  if (!group || thousand_sep == '\0') return digits;
  AnsiString r;
  const size_t n = digits.size();
  for (size_t i = 0; i < n; ++i) {
    r.push_back(digits[i]);
    const size_t left = n - 1 - i;
    if (left > 0 && left % 3 == 0) r.push_back(thousand_sep);
  }
  return r;
}

AnsiString FractionPart(const Decimal& d, int decimals) {
  AnsiString r;
  for (int i = 0; i < decimals; ++i) r.push_back(DigitAt(d, d.exp + i));
  return r;
}

AnsiString ExponentText(int exponent, int min_digits, bool show_plus) {
  AnsiString r;
  if (exponent < 0)
    r.push_back('-');
  else if (show_plus)
    r.push_back('+');
  AnsiString digits = std::to_string(exponent < 0 ? -exponent : exponent);
  if (int(digits.size()) < min_digits) digits.insert(0, size_t(min_digits) - digits.size(), '0');
  return r + digits;
}

AnsiString FormatGeneral(Decimal d, int precision, int digits, const TFormatSettings& fs) {
  if (d.nan || d.inf) return SpecialText(d);
  RoundToDigits(d, precision);
  if (d.IsZero()) return "0";
  AnsiString r = d.negative ? "-" : "";
  if (d.exp > precision || d.exp < -3) {
    r.push_back(d.digits[0]);
    if (d.digits.size() > 1) {
      r.push_back(fs.DecimalSeparator);
      r.append(d.digits, 1, std::string::npos);
    }
    r.push_back('E');
    r += ExponentText(d.exp - 1, std::clamp(digits, 0, 4), false);
    return r;
  }
  r += IntegerPart(d, 0, false);
  const int decimals = int(d.digits.size()) - d.exp;
  if (decimals > 0) {
    r.push_back(fs.DecimalSeparator);
    r += FractionPart(d, decimals);
  }
  return r;
}

AnsiString FormatExponent(Decimal d, int precision, int digits, const TFormatSettings& fs) {
  if (d.nan || d.inf) return SpecialText(d);
  RoundToDigits(d, precision);
  AnsiString r = d.negative && !d.IsZero() ? "-" : "";
  r.push_back(DigitAt(d, 0));
  if (precision > 1) {
    r.push_back(fs.DecimalSeparator);
    for (int i = 1; i < precision; ++i) r.push_back(DigitAt(d, i));
  }
  r.push_back('E');
  r += ExponentText(d.IsZero() ? 0 : d.exp - 1, std::clamp(digits, 0, 4), true);
  return r;
}

const char* const kNegCurrPatterns[16] = {
    "($1)", "-$1", "$-1", "$1-", "(1$)", "-1$", "1-$", "1$-",
    "-1 $", "-$ 1", "1 $-", "$ 1-", "$ -1", "1- $", "($ 1)", "(1 $)"};
const char* const kCurrPatterns[4] = {"$1", "1$", "$ 1", "1 $"};

// Fixed, number (grouped) and currency formats.
AnsiString FormatFixed(Decimal d, TFloatFormat format, int precision, int digits,
                       const TFormatSettings& fs) {
  if (d.nan || d.inf) return SpecialText(d);
  digits = std::clamp(digits, 0, 18);
  if (d.exp > precision) return FormatGeneral(d, precision, 0, fs);
  RoundToDigits(d, std::min(precision, d.exp + digits));
  AnsiString number = IntegerPart(d, fs.ThousandSeparator, format != ffFixed);
  if (digits > 0) {
    number.push_back(fs.DecimalSeparator);
    number += FractionPart(d, digits);
  }
  const bool negative = d.negative && !d.IsZero();
  if (format != ffCurrency) return negative ? "-" + number : number;
  const char* pattern = negative ? kNegCurrPatterns[fs.NegCurrFormat & 15]
                                 : kCurrPatterns[fs.CurrencyFormat & 3];
  AnsiString r;
  for (const char* p = pattern; *p; ++p) {
    if (*p == '$')
      r += fs.CurrencyString;
    else if (*p == '1')
      r += number;
    else
      r.push_back(*p);
  }
  return r;
}

AnsiString FormatDecimal(const Decimal& d, TFloatFormat format, int precision, int digits,
                         const TFormatSettings& fs) {
  switch (format) {
    case ffGeneral: return FormatGeneral(d, precision, digits, fs);
    case ffExponent: return FormatExponent(d, precision, digits, fs);
    default: return FormatFixed(d, format, precision, digits, fs);
  }
}

// ---- FormatFloat patterns -----------------------------------------------------------------

// Splits a pattern into its sections (at ';' outside quotes).
std::vector<std::string_view> SplitSections(std::string_view format) {
  std::vector<std::string_view> sections;
  size_t start = 0;
  char quote = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    const char c = format[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == ';') {
      sections.push_back(format.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(format.substr(start));
  return sections;
}

struct PatternInfo {
  int int_placeholders = 0;  // '0' and '#' before the decimal point
  int int_min = 0;           // from the first '0' before the point on
  int dec_placeholders = 0;  // '0' and '#' after the point
  int dec_min = 0;           // up to the last '0' after the point
  bool thousands = false;
  bool scientific = false;
};

PatternInfo AnalysePattern(std::string_view p) {
  PatternInfo info;
  bool after_point = false;
  int first_zero = -1;
  char quote = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    const char c = p[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    switch (c) {
      case '"': case '\'': quote = c; break;
      case '0': case '#':
        if (after_point) {
          ++info.dec_placeholders;
          if (c == '0') info.dec_min = info.dec_placeholders;
        } else {
          if (c == '0' && first_zero < 0) first_zero = info.int_placeholders;
          ++info.int_placeholders;
        }
        break;
      case '.': after_point = true; break;
      case ',': if (!after_point) info.thousands = true; break;
      case 'E': case 'e':
        if (i + 1 < p.size() && (p[i + 1] == '+' || p[i + 1] == '-')) {
          info.scientific = true;
          // The exponent's digits are not mantissa placeholders.
          i += 2;
          while (i < p.size() && p[i] == '0') ++i;
          --i;
        }
        break;
      default: break;
    }
  }
  if (first_zero >= 0) info.int_min = info.int_placeholders - first_zero;
  return info;
}

struct PreparedNumber {
  Decimal d;
  int exponent = 0;  // scientific: the exponent written after E
};

PreparedNumber PrepareNumber(Decimal d, const PatternInfo& info) {
  PreparedNumber n;
  if (info.scientific) {
    if (!d.IsZero()) {
      const int total = std::max(1, info.int_placeholders + info.dec_placeholders);
      RoundToDigits(d, total);
      const int int_digits = std::max(1, info.int_placeholders);
      n.exponent = d.exp - int_digits;
      d.exp = int_digits;
    }
  } else {
    RoundToDigits(d, d.exp + info.dec_placeholders);
  }
  n.d = d;
  return n;
}

AnsiString ApplyPattern(std::string_view p, const PatternInfo& info, const PreparedNumber& n,
                        bool with_minus, const TFormatSettings& fs) {
  const Decimal& d = n.d;
  AnsiString int_digits;
  for (int i = 0; i < d.exp; ++i) int_digits.push_back(DigitAt(d, i));
  if (int(int_digits.size()) < info.int_min)
    int_digits.insert(0, size_t(info.int_min) - int_digits.size(), '0');
  int decimals = std::max(0, int(d.digits.size()) - d.exp);
  decimals = std::clamp(decimals, info.dec_min, info.dec_placeholders);

  AnsiString r = with_minus ? "-" : "";
  const int nd = int(int_digits.size());
  auto emit_int_digit = [&](int idx) {
    r.push_back(int_digits[size_t(idx)]);
    const int left = nd - 1 - idx;
    if (info.thousands && left > 0 && left % 3 == 0) r.push_back(fs.ThousandSeparator);
  };
  int int_seen = 0, dec_seen = 0;
  bool after_point = false;
  for (size_t i = 0; i < p.size(); ++i) {
    const char c = p[i];
    switch (c) {
      case '"': case '\'': {
        const size_t end = p.find(c, i + 1);
        const size_t stop = end == std::string_view::npos ? p.size() : end;
        r.append(p.substr(i + 1, stop - i - 1));
        i = stop;
        break;
      }
      case '0': case '#':
        if (!after_point) {
          if (int_seen == 0)
            for (int k = 0; k < nd - info.int_placeholders; ++k) emit_int_digit(k);
          const int idx = nd - info.int_placeholders + int_seen;
          if (idx >= 0) emit_int_digit(idx);
          ++int_seen;
        } else {
          if (dec_seen < decimals) r.push_back(DigitAt(d, d.exp + dec_seen));
          ++dec_seen;
        }
        break;
      case '.':
        if (!after_point) {
          after_point = true;
          if (int_seen == 0 && info.int_placeholders == 0)
            for (int k = 0; k < nd; ++k) emit_int_digit(k);
          if (decimals > 0) r.push_back(fs.DecimalSeparator);
        }
        break;
      case ',': break;
      case 'E': case 'e':
        if (i + 1 < p.size() && (p[i + 1] == '+' || p[i + 1] == '-')) {
          const bool plus = p[i + 1] == '+';
          i += 2;
          int zeros = 0;
          while (i < p.size() && p[i] == '0') {
            ++zeros;
            ++i;
          }
          --i;
          r.push_back(c);
          r += ExponentText(n.exponent, std::min(zeros, 4), plus);
        } else {
          r.push_back(c);
        }
        break;
      default: r.push_back(c); break;
    }
  }
  return r;
}

AnsiString FormatPattern(std::string_view format, const Decimal& value,
                         const TFormatSettings& fs) {
  if (value.nan || value.inf) return SpecialText(value);
  const std::vector<std::string_view> sections = SplitSections(format);
  std::string_view section = sections[0];
  bool with_minus = value.negative;
  if (value.negative && sections.size() > 1 && !sections[1].empty()) {
    section = sections[1];
    with_minus = false;
  }
  PatternInfo info = AnalysePattern(section);
  PreparedNumber n = PrepareNumber(value, info);
  if (n.d.IsZero()) {
    with_minus = false;
    if (sections.size() > 2 && !sections[2].empty()) {
      section = sections[2];
      info = AnalysePattern(section);
      n = PrepareNumber(Decimal{}, info);
    } else if (section != sections[0]) {
      section = sections[0];
      info = AnalysePattern(section);
      n = PrepareNumber(Decimal{}, info);
    }
  }
  if (!info.scientific && n.d.exp > 18) return FormatGeneral(value, 15, 0, fs);
  return ApplyPattern(section, info, n, with_minus, fs);
}

// ---- Parsing --------------------------------------------------------------------------------

// The framework's text-to-number syntax: blanks, sign, digits with one decimal separator,
// an exponent, blanks. Returns the exact decimal.
bool ParseDecimal(std::string_view s, const TFormatSettings& fs, Decimal& out) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n && s[i] == ' ') ++i;
  Decimal d;
  if (i < n && (s[i] == '+' || s[i] == '-')) d.negative = s[i++] == '-';
  bool any_digit = false, seen_point = false;
  int int_digits = 0;
  for (; i < n; ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      any_digit = true;
      d.digits.push_back(c);
      if (!seen_point) ++int_digits;
    } else if (c == fs.DecimalSeparator && !seen_point) {
      seen_point = true;
    } else {
      break;
    }
  }
  if (!any_digit) return false;
  int exp10 = 0;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    bool exp_neg = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) exp_neg = s[i++] == '-';
    if (i >= n || s[i] < '0' || s[i] > '9') return false;
    for (; i < n && s[i] >= '0' && s[i] <= '9'; ++i)
      if (exp10 < 100000) exp10 = exp10 * 10 + (s[i] - '0');
    if (exp_neg) exp10 = -exp10;
  }
  while (i < n && s[i] == ' ') ++i;
  if (i != n) return false;
  d.exp = int_digits + exp10;
  Normalize(d);
  if (d.digits.empty()) d.negative = false;
  out = d;
  return true;
}

template <class T>
bool DecimalToFloat(const Decimal& d, T& v) {
  if (d.IsZero()) {
    v = 0;
    return true;
  }
  std::string text = "0." + d.digits + "e" + std::to_string(d.exp);
  T r = 0;
  const auto res = std::from_chars(text.data(), text.data() + text.size(), r);
  if (res.ec == std::errc::result_out_of_range) {
    // Underflow gives zero; overflow is an error.
    if (d.exp < 0) {
      v = 0;
      return true;
    }
    return false;
  }
  if (res.ec != std::errc() || std::isinf(r)) return false;
  v = d.negative ? -r : r;
  return true;
}

bool DecimalToCurrency(const Decimal& d, Currency& c) {
  if (d.IsZero()) {
    c = Currency();
    return true;
  }
  if (d.exp > 16) return false;
  // raw = 0.digits * 10^(exp + 4), rounded half to even.
  const int len = int(d.digits.size());
  const int keep = d.exp + 4;  // digits that land before the raw value's point
  __int128 raw = 0;
  for (int i = 0; i < std::min(keep, len); ++i) raw = raw * 10 + (d.digits[size_t(i)] - '0');
  for (int i = len; i < keep; ++i) raw *= 10;
  if (keep >= 0 && keep < len) {
    const char f = d.digits[size_t(keep)];
    const bool more = keep + 1 < len;  // digits are normalized: anything after is non-zero
    if (f > '5' || (f == '5' && (more || (raw % 2) != 0))) ++raw;
  }
  if (d.negative) raw = -raw;
  if (raw > std::numeric_limits<int64_t>::max() || raw < std::numeric_limits<int64_t>::min())
    return false;
  c = Currency::FromRaw(int64_t(raw));
  return true;
}

[[noreturn]] void RaiseInvalidFloat(std::string_view s) {
  throw EConvertError("'" + AnsiString(s) + "' is not a valid floating point value");
}

}  // namespace

// =============================================================================================
// Floating point and currency conversions

AnsiString FloatToStr(long double v) { return FloatToStr(v, FormatSettings()); }
AnsiString FloatToStr(long double v, const TFormatSettings& fs) {
  return FormatGeneral(ToDecimal(v), 15, 0, fs);
}

AnsiString FloatToStrF(long double v, TFloatFormat format, int precision, int digits) {
  return FloatToStrF(v, format, precision, digits, FormatSettings());
}
AnsiString FloatToStrF(long double v, TFloatFormat format, int precision, int digits,
                       const TFormatSettings& fs) {
  precision = std::clamp(precision, 1, 18);
  return FormatDecimal(ToDecimal(v), format, precision, digits, fs);
}

AnsiString FormatFloat(std::string_view format, long double v) {
  return FormatFloat(format, v, FormatSettings());
}
AnsiString FormatFloat(std::string_view format, long double v, const TFormatSettings& fs) {
  if (format.empty()) return FormatGeneral(ToDecimal(v), 15, 0, fs);
  return FormatPattern(format, ToDecimal(v), fs);
}

bool TryStrToFloat(std::string_view s, long double& v, const TFormatSettings& fs) {
  Decimal d;
  return ParseDecimal(s, fs, d) && DecimalToFloat(d, v);
}
bool TryStrToFloat(std::string_view s, long double& v) {
  return TryStrToFloat(s, v, FormatSettings());
}
bool TryStrToFloat(std::string_view s, double& v, const TFormatSettings& fs) {
  // Straight to double: no double rounding through long double.
  Decimal d;
  return ParseDecimal(s, fs, d) && DecimalToFloat(d, v);
}
bool TryStrToFloat(std::string_view s, double& v) { return TryStrToFloat(s, v, FormatSettings()); }

long double StrToFloat(std::string_view s) { return StrToFloat(s, FormatSettings()); }
long double StrToFloat(std::string_view s, const TFormatSettings& fs) {
  long double v;
  if (!TryStrToFloat(s, v, fs)) RaiseInvalidFloat(s);
  return v;
}
long double StrToFloatDef(std::string_view s, long double def) {
  return StrToFloatDef(s, def, FormatSettings());
}
long double StrToFloatDef(std::string_view s, long double def, const TFormatSettings& fs) {
  long double v;
  return TryStrToFloat(s, v, fs) ? v : def;
}

AnsiString CurrToStr(Currency v) { return CurrToStr(v, FormatSettings()); }
AnsiString CurrToStr(Currency v, const TFormatSettings& fs) {
  return FormatGeneral(CurrencyDecimal(v), 19, 0, fs);
}
AnsiString CurrToStrF(Currency v, TFloatFormat format, int digits) {
  return CurrToStrF(v, format, digits, FormatSettings());
}
AnsiString CurrToStrF(Currency v, TFloatFormat format, int digits, const TFormatSettings& fs) {
  if (format == ffGeneral || format == ffExponent) {
    // The framework gives general and exponent formats of a currency all its digits.
    return FormatDecimal(CurrencyDecimal(v), format, format == ffGeneral ? 19 : 18,
                         format == ffGeneral ? 0 : 3, fs);
  }
  return FormatFixed(CurrencyDecimal(v), format, 19, digits, fs);
}
AnsiString FormatCurr(std::string_view format, Currency v) {
  return FormatCurr(format, v, FormatSettings());
}
AnsiString FormatCurr(std::string_view format, Currency v, const TFormatSettings& fs) {
  if (format.empty()) return CurrToStr(v, fs);
  return FormatPattern(format, CurrencyDecimal(v), fs);
}

bool TryStrToCurr(std::string_view s, Currency& v, const TFormatSettings& fs) {
  Decimal d;
  return ParseDecimal(s, fs, d) && DecimalToCurrency(d, v);
}
bool TryStrToCurr(std::string_view s, Currency& v) { return TryStrToCurr(s, v, FormatSettings()); }
Currency StrToCurr(std::string_view s) { return StrToCurr(s, FormatSettings()); }
Currency StrToCurr(std::string_view s, const TFormatSettings& fs) {
  Currency v;
  if (!TryStrToCurr(s, v, fs)) RaiseInvalidFloat(s);
  return v;
}
Currency StrToCurrDef(std::string_view s, Currency def) {
  return StrToCurrDef(s, def, FormatSettings());
}
Currency StrToCurrDef(std::string_view s, Currency def, const TFormatSettings& fs) {
  Currency v;
  return TryStrToCurr(s, v, fs) ? v : def;
}

// =============================================================================================
// Booleans

AnsiString BoolToStr(bool b, bool use_bool_strs) {
  if (use_bool_strs) return b ? "True" : "False";
  return b ? "-1" : "0";
}

bool TryStrToBool(std::string_view s, bool& v) {
  if (SameText(s, "True")) {
    v = true;
    return true;
  }
  if (SameText(s, "False")) {
    v = false;
    return true;
  }
  long double f;
  Decimal d;
  if (ParseDecimal(s, FormatSettings(), d) && DecimalToFloat(d, f)) {
    v = f != 0;
    return true;
  }
  return false;
}

bool StrToBool(std::string_view s) {
  bool v;
  if (!TryStrToBool(s, v))
    throw EConvertError("'" + AnsiString(s) + "' is not a valid boolean value");
  return v;
}

bool StrToBoolDef(std::string_view s, bool def) {
  bool v;
  return TryStrToBool(s, v) ? v : def;
}

// =============================================================================================
// Format

namespace {

[[noreturn]] void RaiseBadFormat(std::string_view fmt) {
  throw EConvertError("Format '" + AnsiString(fmt) + "' invalid or incompatible with argument");
}

[[noreturn]] void RaiseMissingArgument(std::string_view fmt) {
  throw EConvertError("No argument for format '" + AnsiString(fmt) + "'");
}

}  // namespace

AnsiString Format(std::string_view fmt, std::initializer_list<TVarRec> args) {
  return Format(fmt, args, FormatSettings());
}

AnsiString Format(std::string_view fmt, std::initializer_list<TVarRec> args,
                  const TFormatSettings& fs) {
  const TVarRec* const argv = args.begin();
  const size_t argc = args.size();
  size_t next_arg = 0;
  AnsiString out;
  size_t i = 0;
  const size_t n = fmt.size();

  auto take_arg = [&]() -> const TVarRec& {
    if (next_arg >= argc) RaiseMissingArgument(fmt);
    return argv[next_arg++];
  };
  // A number or '*' (taken from the arguments); -1 when neither is there.
  auto read_number = [&]() -> int {
    if (i < n && fmt[i] == '*') {
      ++i;
      const TVarRec& a = take_arg();
      if (a.kind != TVarRec::vtInteger) RaiseBadFormat(fmt);
      return int(a.i);
    }
    if (i >= n || fmt[i] < '0' || fmt[i] > '9') return -1;
    int v = 0;
    while (i < n && fmt[i] >= '0' && fmt[i] <= '9') {
      if (v > 100000000) RaiseBadFormat(fmt);
      v = v * 10 + (fmt[i++] - '0');
    }
    return v;
  };

  while (i < n) {
    const char c = fmt[i];
    if (c != '%') {
      out.push_back(c);
      ++i;
      continue;
    }
    ++i;
    if (i >= n) RaiseBadFormat(fmt);
    if (fmt[i] == '%') {
      out.push_back('%');
      ++i;
      continue;
    }
    int first = read_number();
    if (i < n && fmt[i] == ':') {
      ++i;
      if (first < 0) first = 0;
      next_arg = size_t(first);
      first = -1;
    }
    bool left = false;
    int width = first;
    if (width < 0) {
      if (i < n && fmt[i] == '-') {
        left = true;
        ++i;
      }
      width = read_number();
    }
    int prec = -1;
    if (i < n && fmt[i] == '.') {
      ++i;
      prec = read_number();
      if (prec < 0) prec = 0;
    }
    if (i >= n) RaiseBadFormat(fmt);
    const char type = char(fmt[i++] | 0x20);
    const TVarRec& a = take_arg();

    AnsiString text;
    switch (type) {
      case 'd': case 'u': case 'x': {
        bool neg = false;
        uint64_t mag = 0;
        if (a.kind == TVarRec::vtInteger) {
          const int32_t v = int32_t(a.i);
          if (type == 'd') {
            neg = v < 0;
            mag = neg ? uint64_t(-int64_t(v)) : uint64_t(v);
          } else {
            mag = uint32_t(v);
          }
        } else if (a.kind == TVarRec::vtInt64) {
          if (type == 'd') {
            neg = a.i < 0;
            mag = neg ? uint64_t(0) - uint64_t(a.i) : uint64_t(a.i);
          } else {
            mag = uint64_t(a.i);
          }
        } else if (a.kind == TVarRec::vtUInt64) {
          mag = a.u;
        } else {
          RaiseBadFormat(fmt);
        }
        AnsiString digits = type == 'x' ? HexDigits(mag, 0) : std::to_string(mag);
        if (prec > int(digits.size())) digits.insert(0, size_t(prec) - digits.size(), '0');
        text = neg ? "-" + digits : digits;
        break;
      }
      case 'e': case 'f': case 'g': case 'n': case 'm': {
        Decimal d;
        if (a.kind == TVarRec::vtExtended)
          d = ToDecimal(a.f);
        else if (a.kind == TVarRec::vtCurrency)
          d = CurrencyDecimal(Currency::FromRaw(a.i));
        else
          RaiseBadFormat(fmt);
        switch (type) {
          case 'e':
            text = FormatExponent(d, std::clamp(prec < 0 ? 15 : prec, 1, 18), 3, fs);
            break;
          case 'g':
            text = FormatGeneral(d, std::clamp(prec < 0 ? 15 : prec, 1, 18), 3, fs);
            break;
          case 'f':
            text = FormatFixed(d, ffFixed, 18, prec < 0 ? 2 : prec, fs);
            break;
          case 'n':
            text = FormatFixed(d, ffNumber, 18, prec < 0 ? 2 : prec, fs);
            break;
          default:
            text = FormatFixed(d, ffCurrency, 18, prec < 0 ? fs.CurrencyDecimals : prec, fs);
            break;
        }
        break;
      }
      case 's':
        if (a.kind == TVarRec::vtString)
          text = AnsiString(a.s);
        else if (a.kind == TVarRec::vtChar)
          text = AnsiString(1, char(a.i));
        else
          RaiseBadFormat(fmt);
        if (prec >= 0 && size_t(prec) < text.size()) text.resize(size_t(prec));
        break;
      case 'p':
        if (a.kind != TVarRec::vtPointer) RaiseBadFormat(fmt);
        text = HexDigits(reinterpret_cast<uintptr_t>(a.p), int(sizeof(void*) * 2));
        break;
      default:
        RaiseBadFormat(fmt);
    }
    if (width > int(text.size())) {
      const size_t pad = size_t(width) - text.size();
      if (left)
        text.append(pad, ' ');
      else
        text.insert(0, pad, ' ');
    }
    out += text;
  }
  return out;
}

// =============================================================================================
// File names and files

namespace {

inline bool IsPathDelim(char c) { return c == '/' || c == '\\'; }
inline bool IsNameDelim(char c) { return IsPathDelim(c) || c == ':'; }

size_t AfterLastNameDelim(std::string_view s) {
  for (size_t i = s.size(); i > 0; --i)
    if (IsNameDelim(s[i - 1])) return i;
  return 0;
}

std::string Sys(std::string_view name) { return SysFileName(AnsiString(name)); }

}  // namespace

AnsiString IncludeTrailingPathDelimiter(std::string_view s) {
  AnsiString r(s);
  if (r.empty() || !IsPathDelim(r.back())) r.push_back(PathDelim);
  return r;
}

AnsiString ExcludeTrailingPathDelimiter(std::string_view s) {
  AnsiString r(s);
  if (!r.empty() && IsPathDelim(r.back())) r.pop_back();
  return r;
}

AnsiString IncludeTrailingBackslash(std::string_view s) { return IncludeTrailingPathDelimiter(s); }
AnsiString ExcludeTrailingBackslash(std::string_view s) { return ExcludeTrailingPathDelimiter(s); }

AnsiString ExtractFileName(std::string_view s) { return AnsiString(s.substr(AfterLastNameDelim(s))); }

AnsiString ExtractFilePath(std::string_view s) { return AnsiString(s.substr(0, AfterLastNameDelim(s))); }

AnsiString ExtractFileDir(std::string_view s) {
  size_t i = AfterLastNameDelim(s);  // length of the path with its delimiter
  if (i > 1 && IsPathDelim(s[i - 1]) && !IsNameDelim(s[i - 2])) --i;
  return AnsiString(s.substr(0, i));
}

AnsiString ExtractFileExt(std::string_view s) {
  const size_t start = AfterLastNameDelim(s);
  const size_t dot = s.rfind('.');
  if (dot == std::string_view::npos || dot < start) return {};
  return AnsiString(s.substr(dot));
}

AnsiString ChangeFileExt(std::string_view s, std::string_view ext) {
  const size_t start = AfterLastNameDelim(s);
  size_t dot = s.rfind('.');
  if (dot == std::string_view::npos || dot < start) dot = s.size();
  return AnsiString(s.substr(0, dot)) + AnsiString(ext);
}

bool FileExists(std::string_view name) {
  struct stat st;
  return !name.empty() && ::stat(Sys(name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::string_view name) {
  struct stat st;
  return !name.empty() && ::stat(Sys(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(std::string_view dir) {
  const AnsiString d = ExcludeTrailingPathDelimiter(dir);
  if (d.empty()) {
    if (!dir.empty()) return true;  // the root
    throw EInOutError("Unable to create directory");
  }
  if (DirectoryExists(d)) return true;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(Sys(d)), ec);
  return DirectoryExists(d);
}

bool DeleteFile(std::string_view name) {
  if (DirectoryExists(name)) return false;
  return ::unlink(Sys(name).c_str()) == 0;
}

bool RenameFile(std::string_view old_name, std::string_view new_name) {
  // As on Windows, renaming onto an existing file fails.
  struct stat st;
  if (::lstat(Sys(new_name).c_str(), &st) == 0) return false;
  return ::rename(Sys(old_name).c_str(), Sys(new_name).c_str()) == 0;
}

AnsiString GetCurrentDir() {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::current_path(ec);
  return ec ? AnsiString() : Utf8ToAnsi(p.string());
}

AnsiString ExpandFileName(std::string_view name) {
  AnsiString full(name);
  for (char& c : full)
    if (c == '\\') c = '/';
  if (full.empty() || full[0] != '/') full = IncludeTrailingPathDelimiter(GetCurrentDir()) + full;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= full.size()) {
    size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    const std::string part = full.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  AnsiString r;
  for (const std::string& p : parts) r += "/" + p;
  if (r.empty()) r = "/";
  if (full.size() > 1 && full.back() == '/' && r != "/") r.push_back('/');
  return r;
}

}  // namespace pelvar
