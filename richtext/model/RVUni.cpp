#include "richtext/model/RVUni.h"

#include <cerrno>
#include <cstring>
#include <cwctype>
#include <locale.h>
#include <map>

#include "platform/codepage.h"
#include "platform/iconv_cache.h"
#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"

namespace pelvar {

bool RVU_PlatformNT = true;

namespace {

constexpr uint32_t kSystemAnsiCodePage = 1250;
constexpr uint32_t kSystemOemCodePage = 852;

bool IsUnicode(uint8_t options) { return (options & rvioUnicode) != 0; }

// The iconv name of a Windows code page (0, 1, 2: the system's ANSI, OEM, Macintosh).
std::string IconvName(uint32_t code_page) {
  switch (code_page) {
    case 0: return "CP1250";
    case 1: return "CP852";
    case 2: case 10000: return "MACINTOSH";
    case 1361: return "JOHAB";
    case 874: return "CP874";
    case 65001: return "UTF-8";
    default: return "CP" + std::to_string(code_page);
  }
}

// The thread's cached converter between two encodings (opened once, see iconv_cache.h).
class TIconv {
 public:
  TIconv(const std::string& to, const std::string& from) : cd_(CachedIconv(to, from)) {}
  bool Ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Narrow text -> UTF-16; a byte (or an incomplete sequence) the code page lacks becomes
// "?". False when the code page is unknown.
bool NarrowToWide(uint32_t code_page, const std::string& s, WideString& out) {
  TIconv cd("UTF-16LE", IconvName(code_page));
  if (!cd.Ok()) return false;
  std::string in(s);
  std::string buf(in.size() * 4 + 16, '\0');
  char* inp = in.data();
  size_t inleft = in.size();
  char* outp = buf.data();
  size_t outleft = buf.size();
  while (inleft > 0) {
    if (iconv(cd.Get(), &inp, &inleft, &outp, &outleft) != static_cast<size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) return false;
    if (outleft < 2) return false;
    *outp++ = '?';
    *outp++ = '\0';
    outleft -= 2;
    ++inp;
    --inleft;
  }
  size_t bytes = buf.size() - outleft;
  out.clear();
  for (size_t i = 0; i + 1 < bytes; i += 2)
    out.push_back(static_cast<char16_t>(static_cast<uint8_t>(buf[i]) | (static_cast<uint8_t>(buf[i + 1]) << 8)));
  return true;
}

bool IsCombiningMark(char16_t c) {
  return (c >= 0x0300 && c <= 0x036F) || (c >= 0x1AB0 && c <= 0x1AFF) || (c >= 0x1DC0 && c <= 0x1DFF) ||
         (c >= 0x20D0 && c <= 0x20FF) || (c >= 0xFE20 && c <= 0xFE2F);
}

// UTF-16 -> narrow text; a character the code page lacks becomes "?" (a combining mark
// that cannot be written is dropped, as the non-spacing characters are discarded). False
// when the code page is unknown.
bool WideToNarrow(uint32_t code_page, const WideString& w, std::string& out) {
  TIconv cd(IconvName(code_page), "UTF-16LE");
  if (!cd.Ok()) return false;
  out.clear();
  char buf[16];
  for (size_t i = 0; i < w.size(); ++i) {
    char16_t unit[2] = {w[i], 0};
    size_t units = 1;
    if (w[i] >= 0xD800 && w[i] <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
      unit[1] = w[i + 1];
      units = 2;
    }
    char in[4];
    for (size_t k = 0; k < units; ++k) {
      in[2 * k] = static_cast<char>(unit[k] & 0xFF);
      in[2 * k + 1] = static_cast<char>(unit[k] >> 8);
    }
    char* inp = in;
    size_t inleft = units * 2;
    char* outp = buf;
    size_t outleft = sizeof buf;
    iconv(cd.Get(), nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd.Get(), &inp, &inleft, &outp, &outleft) == static_cast<size_t>(-1) || inleft != 0) {
      if (!IsCombiningMark(w[i])) out.push_back('?');
    } else {
      // Flush any shift state of a stateful code page.
      iconv(cd.Get(), nullptr, nullptr, &outp, &outleft);
      out.append(buf, sizeof buf - outleft);
    }
    i += units - 1;
  }
  return true;
}

WideString ItemToWide(const std::string& s) {
  WideString w(s.size() / 2, u'\0');
  for (size_t i = 0; i < w.size(); ++i)
    w[i] = static_cast<char16_t>(static_cast<uint8_t>(s[2 * i]) | (static_cast<uint8_t>(s[2 * i + 1]) << 8));
  return w;
}

}  // namespace

// ---- Item strings -----------------------------------------------------------------------------
int32_t RVU_Length(const std::string& s, uint8_t options) {
  return static_cast<int32_t>(IsUnicode(options) ? s.size() / 2 : s.size());
}

namespace {
// The byte range of count characters from the from-th (1-based), clipped to the string.
void ByteRange(const std::string& s, int32_t from, int32_t count, uint8_t options, size_t& start, size_t& len) {
  size_t unit = IsUnicode(options) ? 2 : 1;
  if (from < 1) {
    count += from - 1;
    from = 1;
  }
  if (count < 0) count = 0;
  start = (static_cast<size_t>(from) - 1) * unit;
  if (start > s.size()) start = s.size();
  len = static_cast<size_t>(count) * unit;
  if (len > s.size() - start) len = s.size() - start;
}
}  // namespace

std::string RVU_Copy(const std::string& s, int32_t from, int32_t count, uint8_t options) {
  size_t start, len;
  ByteRange(s, from, count, options, start, len);
  return s.substr(start, len);
}

void RVU_Delete(std::string& s, int32_t from, int32_t count, uint8_t options) {
  if (from < 1) return;  // as the framework's Delete: nothing before the first character
  size_t start, len;
  ByteRange(s, from, count, options, start, len);
  s.erase(start, len);
}

void RVU_Insert(const std::string& sub, std::string& s, int32_t at, uint8_t options) {
  size_t unit = IsUnicode(options) ? 2 : 1;
  if (at < 1) at = 1;
  size_t pos = (static_cast<size_t>(at) - 1) * unit;
  if (pos > s.size()) pos = s.size();
  s.insert(pos, sub);
}

bool RVU_IsSpace(const std::string& s, int32_t index, uint8_t options) {
  if (index < 1) return false;
  if (IsUnicode(options)) {
    size_t i = (static_cast<size_t>(index) - 1) * 2;
    return i + 1 < s.size() && s[i] == ' ' && s[i + 1] == 0;
  }
  return static_cast<size_t>(index) <= s.size() && s[static_cast<size_t>(index) - 1] == ' ';
}

int32_t RVU_TextWidth(const std::string& s, TCanvas& canvas, uint8_t options) {
  if (IsUnicode(options)) {
    WideString w = RVU_RawUnicodeToWideString(s);
    TSize size;
    RVU_GetTextExtentW(canvas, w.data(), static_cast<int32_t>(w.size()), size);
    return size.cx;
  }
  return canvas.TextExtent(s).cx;
}

const char16_t* RVU_StrScanW(const char16_t* p, char16_t ch, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (p[i] == ch) return p + i;
  return nullptr;
}

WideString RVU_RawUnicodeToWideString(const std::string& s) {
  RV_CheckUnicodeLength(s.size());
  return ItemToWide(s);
}

std::string RVU_WideStringToRawUnicode(const WideString& w) {
  std::string s(w.size() * 2, '\0');
  for (size_t i = 0; i < w.size(); ++i) {
    s[2 * i] = static_cast<char>(w[i] & 0xFF);
    s[2 * i + 1] = static_cast<char>(w[i] >> 8);
  }
  return s;
}

void RVU_SwapWordBytes(char16_t* p, int32_t count) {
  for (int32_t i = 0; i < count; ++i) p[i] = static_cast<char16_t>((p[i] >> 8) | (p[i] << 8));
}

void RVU_ProcessByteOrderMark(char16_t*& p, int32_t& count) {
  if (count <= 0) return;
  if (p[0] == 0xFEFF) {
    ++p;
    --count;
  } else if (p[0] == 0xFFFE) {
    ++p;
    --count;
    RVU_SwapWordBytes(p, count);
  }
}

// ---- Code pages -------------------------------------------------------------------------------
uint32_t RVU_CharsetToCodePage(TFontCharset charset) {
  switch (charset) {
    case 0: return 1252;
    case 77: return 2;
    case 128: return 932;
    case 129: return 949;
    case 130: return 1361;
    case 134: return 936;
    case 136: return 950;
    case 161: return 1253;
    case 162: return 1254;
    case 163: return 1258;
    case 177: return 1255;
    case 178: return 1256;
    case 186: return 1257;
    case 204: return 1251;
    case 222: return 874;
    case 238: return 1250;
    case 255: return 1;
    default: return 0;
  }
}

uint16_t RVU_CharsetToLanguage(TFontCharset charset) {
  switch (charset) {
    case 0: return 1033;
    case 128: return 1041;
    case 129: return 1042;
    case 130: return 2066;
    case 134: return 2052;
    case 136: return 1028;
    case 161: return 1032;
    case 162: return 1055;
    case 163: return 1066;
    case 177: return 1037;
    case 204: return 1049;
    case 222: return 1054;
    case 1: case 178: case 186: return 0;
    default: return 1024;
  }
}

uint32_t RVU_LangToLCID(uint16_t language) { return static_cast<uint32_t>(language) | (1u << 10); }

std::string RVU_AnsiToUnicode(uint32_t code_page, const std::string& s) {
  if (s.empty()) return std::string();
  WideString w;
  if (!NarrowToWide(code_page, s, w) || w.empty()) {
    if (code_page == 0 || !NarrowToWide(0, s, w) || w.empty()) w.assign(s.size(), u'?');
  }
  return RVU_WideStringToRawUnicode(w);
}

std::string RVU_UnicodeToAnsi(uint32_t code_page, const std::string& s) {
  RV_CheckUnicodeLength(s.size());
  if (s.empty()) return std::string();
  WideString w = ItemToWide(s);
  std::string out;
  if (!WideToNarrow(code_page, w, out) || out.empty()) {
    if (!WideToNarrow(0, w, out) || out.empty()) out.assign(w.size(), '?');
  }
  return out;
}

std::string RVU_AnsiToUTF8(uint32_t code_page, const std::string& s) {
  if (s.empty()) return std::string();
  return Utf16ToUtf8(ItemToWide(RVU_AnsiToUnicode(code_page, s)));
}

bool RVU_CanConvertToCodePage(uint32_t, const std::string&) { return false; }

// The keyboard of this system is the system's own locale: Czech, code page 1250.
uint32_t RVU_GetKeyboardCodePage() { return kSystemAnsiCodePage; }
uint16_t RVU_GetKeyboardLanguage() { return 0x0405; }

std::string RVU_KeyboardAnsiToUnicode(const std::string& s) {
  return RVU_AnsiToUnicode(RVU_GetKeyboardCodePage(), s);
}

// ---- Measuring ------------------------------------------------------------------------------------
bool RVU_IsZeroWidth(char16_t ch) { return ch == 0x200B || ch == 0x200D || ch == 0x2060; }

namespace {
int32_t SingleWidth(TCanvas& canvas, char16_t ch) { return canvas.TextExtentW(WideString(1, ch)).cx; }
}  // namespace

int32_t RVU_ZeroWidthSpaceWidth(TCanvas& canvas) { return SingleWidth(canvas, 0x200B); }
int32_t RVU_ZeroWidthJoinerWidth(TCanvas& canvas) { return SingleWidth(canvas, 0x200D); }
int32_t RVU_WordJoinerWidth(TCanvas& canvas) { return SingleWidth(canvas, 0x2060); }

void RVU_GetTextExtentW(TCanvas& canvas, const char16_t* p, int32_t count, TSize& size) {
  if (count <= 0) {
    size = canvas.TextExtentW(WideString());
    return;
  }
  WideString text(p, static_cast<size_t>(count));
  size = canvas.TextExtentW(text);
  std::map<char16_t, int32_t> widths;  // each zero-width character measured once
  for (char16_t ch : text) {
    if (!RVU_IsZeroWidth(ch)) continue;
    auto it = widths.find(ch);
    if (it == widths.end()) it = widths.emplace(ch, SingleWidth(canvas, ch)).first;
    size.cx -= it->second;
  }
}

void RVU_GetTextExtentExPointPW(TCanvas& canvas, const char* p, int32_t count, int32_t max_extent, int32_t& fit,
                                std::vector<int32_t>* extents, uint8_t options, TSize& size) {
  size = TSize{};
  if (count <= 0) {
    fit = 0;
    if (extents) extents->clear();
    return;
  }
  if (!IsUnicode(options)) {
    size = canvas.GetTextExtentExPoint(AnsiString(p, static_cast<size_t>(count)), max_extent, &fit, extents);
    return;
  }
  WideString text(static_cast<size_t>(count), u'\0');
  std::memcpy(text.data(), p, static_cast<size_t>(count) * 2);
  for (char16_t& c : text) {  // item strings are little-endian whatever the machine
    const auto* b = reinterpret_cast<const uint8_t*>(&c);
    c = static_cast<char16_t>(b[0] | (b[1] << 8));
  }
  std::vector<int32_t> local;
  std::vector<int32_t>& ext = extents ? *extents : local;
  size = canvas.GetTextExtentExPointW(text, max_extent, &fit, &ext);
  int32_t removed = 0;
  bool corrected = false;
  int32_t prev_raw = 0;
  for (int32_t i = 0; i < count && i < static_cast<int32_t>(ext.size()); ++i) {
    int32_t raw = ext[static_cast<size_t>(i)];
    if (RVU_IsZeroWidth(text[static_cast<size_t>(i)])) {
      removed += raw - prev_raw;
      corrected = true;
    }
    prev_raw = raw;
    ext[static_cast<size_t>(i)] = raw - removed;
  }
  if (corrected) {
    size.cx -= removed;
    while (fit < count && ext[static_cast<size_t>(fit)] < max_extent) ++fit;
  }
}

void RVU_GetTextExtentExPoint(TCanvas& canvas, const std::string& s, int32_t max_extent, int32_t& fit,
                              std::vector<int32_t>* extents, uint8_t options) {
  TSize size;
  RVU_GetTextExtentExPointPW(canvas, s.data(), RVU_Length(s, options), max_extent, fit, extents, options, size);
}

// ---- Complex scripts ---------------------------------------------------------------------------------
namespace {

struct TPlacement {
  WideString text;
  std::vector<int32_t> order;
  std::vector<uint8_t> classes;
  std::vector<int32_t> advances;
};

bool Place(TCanvas& canvas, const std::string& s, uint8_t options, int32_t expected_width, TPlacement& pl) {
  pl.text = IsUnicode(options) ? RVU_RawUnicodeToWideString(s) : CharsetTextToWide(s, canvas.Font().Charset());
  TSize sz = canvas.GetCharacterPlacementW(pl.text, &pl.order, &pl.classes, &pl.advances);
  size_t n = pl.text.size();
  if (pl.order.size() != n || pl.classes.size() != n || pl.advances.size() != n) return false;
  // Expected widths come from measurements that ignore the zero-width characters; the
  // layout is judged by the same measure, or a text holding one would never be trusted
  // with a font that gives them an advance.
  int32_t width = sz.cx;
  if (IsUnicode(options))
    for (size_t i = 0; i < n; ++i)
      if (RVU_IsZeroWidth(pl.text[i])) width -= pl.advances[i];
  int32_t diff = width - expected_width;
  return diff >= -1 && diff <= 1 && sz.cy >= 1;
}

constexpr uint8_t kGcpClassRightToLeft = 2;

}  // namespace

bool RVU_GetTextCaretPos(TCanvas& canvas, const std::string& s, std::vector<int32_t>& positions, uint8_t options,
                         int32_t expected_width) {
  TPlacement pl;
  if (!Place(canvas, s, options, expected_width, pl)) return false;
  int32_t n = static_cast<int32_t>(pl.text.size());
  positions.assign(static_cast<size_t>(n) + 1, -1);
  std::vector<int32_t> visual(static_cast<size_t>(n), -1);  // visual slot -> logical character
  for (int32_t i = 0; i < n; ++i) {
    int32_t slot = pl.order[static_cast<size_t>(i)];
    if (slot >= 0 && slot < n) visual[static_cast<size_t>(slot)] = i;
  }
  int32_t x = 0;
  bool unicode = IsUnicode(options);
  for (int32_t slot = 0; slot < n; ++slot) {
    int32_t ch = visual[static_cast<size_t>(slot)];
    if (ch < 0) continue;
    int32_t adv = pl.advances[static_cast<size_t>(ch)];
    if (unicode && RVU_IsZeroWidth(pl.text[static_cast<size_t>(ch)])) adv = 0;
    if (pl.classes[static_cast<size_t>(ch)] == kGcpClassRightToLeft) {
      positions[static_cast<size_t>(ch) + 1] = x;
      if (ch == 0) positions[0] = x + adv;
    } else {
      // The boundary after a left-to-right character is its right edge, where the next
      // character starts (not one pixel beyond it).
      positions[static_cast<size_t>(ch) + 1] = x + adv;
      if (ch == 0) positions[0] = x;
    }
    x += adv;
  }
  for (int32_t i = 0; i <= n; ++i)
    if (positions[static_cast<size_t>(i)] == -1) positions[static_cast<size_t>(i)] = i == 0 ? 0 : positions[static_cast<size_t>(i) - 1];
  return true;
}

bool RVU_GetTextRangeCoords(TCanvas& canvas, const std::string& s, int32_t from, int32_t count, uint8_t options,
                            int32_t expected_width, int32_t& left, int32_t& right) {
  std::vector<int32_t> pos;
  if (!RVU_GetTextCaretPos(canvas, s, pos, options, expected_width)) return false;
  int32_t n = static_cast<int32_t>(pos.size()) - 1;
  int32_t a = from - 1, b = from - 1 + count;
  if (a < 0 || b > n || count < 0) return false;
  left = pos[static_cast<size_t>(a)];
  right = pos[static_cast<size_t>(b)];
  if (left > right) std::swap(left, right);
  return true;
}

bool RVU_DrawSelectedTextEx(int32_t x, int32_t y, int32_t expected_width, int32_t height, const std::string& s,
                            TCanvas& canvas, int32_t first_char, int32_t last_char, uint8_t options,
                            bool use_complex) {
  if (!use_complex) return false;
  TPlacement pl;
  if (!Place(canvas, s, options, expected_width, pl)) return false;
  int32_t n = static_cast<int32_t>(pl.text.size());
  if (first_char < 1) first_char = 1;
  if (last_char > n) last_char = n;
  std::vector<bool> todo(static_cast<size_t>(n), false);
  int32_t left_to_draw = 0;
  for (int32_t i = first_char - 1; i <= last_char - 1; ++i) {
    todo[static_cast<size_t>(i)] = true;
    ++left_to_draw;
  }
  std::vector<int32_t> visual(static_cast<size_t>(n), -1);
  for (int32_t i = 0; i < n; ++i) {
    int32_t slot = pl.order[static_cast<size_t>(i)];
    if (slot >= 0 && slot < n) visual[static_cast<size_t>(slot)] = i;
  }
  bool unicode = IsUnicode(options);
  auto adv = [&](int32_t ch) {
    if (unicode && RVU_IsZeroWidth(pl.text[static_cast<size_t>(ch)])) return 0;
    return pl.advances[static_cast<size_t>(ch)];
  };
  while (left_to_draw > 0) {
    bool drew = false;
    int32_t px = 0;
    for (int32_t slot = 0; slot < n; ++slot) {
      int32_t ch = visual[static_cast<size_t>(slot)];
      if (ch < 0) continue;
      if (todo[static_cast<size_t>(ch)]) {
        // The run of selected characters adjacent both logically and visually.
        int32_t first = ch, last = ch;
        auto selected = [&](int32_t c) { return c >= 0 && c < n && todo[static_cast<size_t>(c)]; };
        while (selected(last + 1) && pl.order[static_cast<size_t>(last) + 1] == pl.order[static_cast<size_t>(last)] + 1) ++last;
        while (selected(first - 1) && pl.order[static_cast<size_t>(first) - 1] + 1 == pl.order[static_cast<size_t>(first)]) --first;
        int32_t width = 0;
        for (int32_t c = first; c <= last; ++c) width += adv(c);
        // The run starts at the leftmost visual slot among its characters.
        int32_t run_x = px;
        for (int32_t c = first; c < ch; ++c) run_x -= adv(c);
        TRect r = Rect(x + run_x, y, x + run_x + width, y + height);
        if (unicode)
          canvas.ExtTextOutW(x, y, ETO_OPAQUE | ETO_CLIPPED, &r, pl.text);
        else
          canvas.ExtTextOut(x, y, ETO_OPAQUE | ETO_CLIPPED, &r, s);
        for (int32_t c = first; c <= last; ++c) {
          todo[static_cast<size_t>(c)] = false;
          --left_to_draw;
        }
        drew = true;
      }
      px += adv(ch);
    }
    if (!drew) break;
  }
  return true;
}

// ---- Display text ----------------------------------------------------------------------------------
namespace {
char16_t UpperWide(char16_t c) {
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  if (c >= 0xD800 && c <= 0xDFFF) return c;
  if (utf8) return static_cast<char16_t>(towupper_l(static_cast<wint_t>(c), utf8));
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}
}  // namespace

std::string RVU_PrepareDisplayText(const std::string& s, bool all_caps, uint8_t options, bool ends_wrapped_line,
                                   bool show_special_characters, bool remove_zero_width, uint32_t shown_special) {
  if (!IsUnicode(options)) return all_caps ? AnsiUpperCase(s) : s;
  WideString w = RVU_RawUnicodeToWideString(s);
  if (all_caps)
    for (char16_t& c : w) c = UpperWide(c);
  bool visible_sign = show_special_characters && (shown_special & rvscSoftHyphen) != 0;
  for (size_t i = 0; i < w.size(); ++i) {
    if (w[i] != 0x00AD) continue;
    if (visible_sign)
      w[i] = 0x00AC;
    else if (!(ends_wrapped_line && i + 1 == w.size()))
      w[i] = 0x200B;
  }
  if (remove_zero_width) {
    WideString kept;
    for (char16_t c : w)
      if (!RVU_IsZeroWidth(c)) kept.push_back(c);
    w = kept;
  }
  return RVU_WideStringToRawUnicode(w);
}

// ---- HTML --------------------------------------------------------------------------------------------
std::string RVU_CharToHTML(char16_t ch, bool& prev_space, bool as_is, bool is_last) {
  char c = static_cast<char>(ch);
  if (as_is) return std::string(1, c);
  switch (ch) {
    case u'&': prev_space = false; return "&amp;";
    case u'<': prev_space = false; return "&lt;";
    case u'>': prev_space = false; return "&gt;";
    case u' ':
      if (is_last || prev_space) {
        prev_space = false;
        return "&nbsp;";
      }
      prev_space = true;
      return " ";
    default:
      prev_space = false;
      return std::string(1, c);
  }
}

std::string RVU_UnicodeToHTML(const std::string& s, bool as_is) {
  WideString w = RVU_RawUnicodeToWideString(s);
  std::string out;
  bool prev_space = true;
  for (size_t i = 0; i < w.size(); ++i) {
    char16_t ch = w[i];
    if (ch < 128)
      out += RVU_CharToHTML(ch, prev_space, as_is, i + 1 == w.size());
    else if (ch == 0xA0) {
      out += "&nbsp;";
      prev_space = false;
    } else {
      // A surrogate pair is one character and gets one reference.
      uint32_t code = ch;
      if (ch >= 0xD800 && ch <= 0xDBFF && i + 1 < w.size() && w[i + 1] >= 0xDC00 && w[i + 1] <= 0xDFFF) {
        code = 0x10000 + ((static_cast<uint32_t>(ch) - 0xD800) << 10) + (w[i + 1] - 0xDC00);
        ++i;
      }
      out += "&#" + std::to_string(code) + ";";
      prev_space = false;
    }
  }
  return out;
}

std::string RVU_UnicodeToHTMLUTF8(const std::string& s, bool as_is) {
  WideString w = RVU_RawUnicodeToWideString(s);
  if (as_is) return Utf16ToUtf8(w);
  std::string out;
  WideString run;
  auto flush = [&] {
    out += Utf16ToUtf8(run);
    run.clear();
  };
  bool prev_plain_space = false;
  for (size_t i = 0; i < w.size(); ++i) {
    char16_t ch = w[i];
    const char* entity = nullptr;
    bool plain_space = false;
    if (ch == u'&') entity = "&amp;";
    else if (ch == u'<') entity = "&lt;";
    else if (ch == u'>') entity = "&gt;";
    else if (ch == 0xA0) entity = "&nbsp;";
    else if (ch == u' ') {
      if (i == 0 || i + 1 == w.size() || prev_plain_space) entity = "&nbsp;";
      else plain_space = true;
    }
    if (entity) {
      flush();
      out += entity;
    } else {
      run.push_back(ch);
    }
    prev_plain_space = plain_space;
  }
  flush();
  return out;
}

// ---- Line breaking -------------------------------------------------------------------------------------
namespace {

// before \ after, in the order of TRVLineBreakClass: 0 break, 1 only with spaces, 2 never.
constexpr uint8_t kPairTable[20][20] = {
    {2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 1},  // OP
    {0, 2, 1, 1, 2, 2, 2, 2, 0, 1, 0, 0, 0, 0, 1, 1, 0, 0, 2, 1},  // CL
    {2, 2, 1, 1, 1, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 1},  // QU
    {1, 2, 1, 1, 1, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 1},  // GL
    {0, 2, 1, 1, 1, 2, 2, 2, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 2, 1},  // NS
    {0, 2, 1, 1, 1, 2, 2, 2, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 2, 1},  // EX
    {0, 2, 1, 1, 1, 2, 2, 2, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 2, 1},  // SY
    {0, 2, 1, 1, 1, 2, 2, 2, 0, 0, 1, 0, 0, 0, 1, 1, 0, 0, 2, 1},  // IS
    {1, 2, 1, 1, 1, 2, 2, 2, 0, 0, 1, 1, 1, 0, 1, 1, 0, 0, 2, 1},  // PR
    {0, 2, 1, 1, 1, 2, 2, 2, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 2, 1},  // PO
    {0, 2, 1, 1, 1, 2, 2, 2, 0, 1, 1, 1, 0, 1, 1, 1, 0, 0, 2, 1},  // NU
    {0, 2, 1, 1, 1, 2, 2, 2, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 2, 1},  // AL
    {0, 2, 1, 1, 1, 2, 2, 2, 0, 1, 0, 0, 0, 1, 1, 1, 0, 0, 2, 1},  // ID
    {0, 2, 1, 1, 1, 2, 2, 2, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 2, 1},  // IN
    {0, 2, 1, 1, 1, 2, 2, 2, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 2, 1},  // HY
    {0, 2, 1, 1, 1, 2, 2, 2, 0, 0, 0, 0, 0, 0, 1, 1, 0, 0, 2, 1},  // BA
    {1, 2, 1, 1, 1, 2, 2, 2, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 1},  // BB
    {0, 2, 1, 1, 1, 2, 2, 2, 0, 0, 0, 0, 0, 0, 1, 1, 0, 2, 2, 1},  // B2
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 1},  // ZW
    {0, 2, 1, 1, 1, 2, 2, 2, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 2, 1},  // CM
};

bool IsDecimalDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return true;
  static constexpr char16_t kZeros[] = {0x0660, 0x06F0, 0x0966, 0x09E6, 0x0A66, 0x0AE6, 0x0B66, 0x0BE6,
                                        0x0C66, 0x0CE6, 0x0D66, 0x0E50, 0x0ED0, 0x0F20, 0x1040, 0x17E0,
                                        0x1810, 0xFF10};
  for (char16_t z : kZeros)
    if (c >= z && c <= z + 9) return true;
  return false;
}

bool IsSmallKana(char16_t c) {
  switch (c) {
    case 0x3041: case 0x3043: case 0x3045: case 0x3047: case 0x3049: case 0x3063: case 0x3083:
    case 0x3085: case 0x3087: case 0x308E: case 0x30A1: case 0x30A3: case 0x30A5: case 0x30A7:
    case 0x30A9: case 0x30C3: case 0x30E3: case 0x30E5: case 0x30E7: case 0x30EE: case 0x30F5:
    case 0x30F6: case 0x30FC: case 0x309B: case 0x309C: case 0x309D: case 0x309E: case 0x30FD:
    case 0x30FE: case 0x3005:
      return true;
    default:
      return (c >= 0xFF67 && c <= 0xFF70);
  }
}

}  // namespace

TRVLineBreakClass RVU_GetLineBreakClass(char16_t c) {
  switch (c) {
    case u'(': case u'[': case u'{': case 0x201A: case 0x201E: case 0x3008:
    case 0x300A: case 0x300C: case 0x300E: case 0x3010: case 0xFF08: case 0xFF3B: case 0xFF5B:
      return rvlbOP;
    case u')': case u']': case u'}': case 0x3001: case 0x3002: case 0x3009: case 0x300B: case 0x300D:
    case 0x300F: case 0x3011: case 0xFF09: case 0xFF0C: case 0xFF0E: case 0xFF3D: case 0xFF5D:
      return rvlbCL;
    case u'"': case u'\'': case 0x00AB: case 0x00BB: case 0x2018: case 0x2019: case 0x201B: case 0x201C:
    case 0x201D: case 0x201F: case 0x2039: case 0x203A:
      return rvlbQU;
    case 0x00A0: case 0x2007: case 0x2011: case 0x202F: case 0x2060: case 0xFEFF:
      return rvlbGL;
    case u'!': case u'?': case 0xFF01: case 0xFF1F:
      return rvlbEX;
    case u'/':
      return rvlbSY;
    case u',': case u'.': case u':': case u';': case 0x0589:
      return rvlbIS;
    case u'$': case u'+': case u'\\': case 0x00A3: case 0x00A4: case 0x00A5: case 0x00B1: case 0x20AC:
      return rvlbPR;
    case u'%': case 0x00A2: case 0x00B0:
      return rvlbPO;
    case 0x2024: case 0x2025: case 0x2026:
      return rvlbIN;
    case u'-':
      return rvlbHY;
    case u'\t': case u'|': case 0x00AD: case 0x2010: case 0x2012: case 0x2013:
      return rvlbBA;
    case 0x00B4:
      return rvlbBB;
    case 0x2014:
      return rvlbB2;
    case 0x200B:
      return rvlbZW;
    default:
      break;
  }
  if (c >= 0x2030 && c <= 0x2037) return rvlbPO;
  if (IsSmallKana(c)) return rvlbNS;
  if (IsDecimalDigit(c)) return rvlbNU;
  if (c <= 8 || c == 11 || (c >= 14 && c <= 31) || (c >= 127 && c <= 159)) return rvlbCM;
  if (IsCombiningMark(c) || (c >= 0x0483 && c <= 0x0489) || (c >= 0x0591 && c <= 0x05BD) ||
      (c >= 0x064B && c <= 0x065F) || c == 0x200C || c == 0x200D)
    return rvlbCM;
  if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x2FFF) || (c >= 0x3040 && c <= 0x30FF) ||
      (c >= 0x3130 && c <= 0x318F) || (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
      (c >= 0xA000 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
      (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6))
    return rvlbID;
  return rvlbAL;
}

int32_t RVU_FindLineBreak(const char16_t* p, int32_t index, bool last_char_only) {
  if (!p || index < 0) return -1;
  if (p[index] == u' ' && last_char_only) {
    // Nothing precedes a space at the start of the line.
    if (index <= 1) return -1;
    --index;
  }
  uint8_t c = RVU_GetLineBreakClass(p[index]);
  for (int32_t i = index - 1; i >= 0; --i) {
    if (p[i] == u' ') continue;
    uint8_t a = RVU_GetLineBreakClass(p[i]);
    uint8_t t = kPairTable[a][c];
    if (t == 1 && p[i + 1] != u' ') t = 2;
    if (t < 2) {
      while (i + 1 < index && p[i + 1] == u' ') ++i;
      return i;
    }
    c = a;
  }
  return -1;
}

}  // namespace pelvar
