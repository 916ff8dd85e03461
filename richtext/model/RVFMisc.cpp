#include "richtext/model/RVFMisc.h"

#include <cstring>

#include "platform/checked.h"
#include "platform/filer.h"
#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"

namespace pelvar {

namespace {
constexpr char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

AnsiString Quoted(const AnsiString& s) {
  AnsiString r = "\"";
  for (char c : s) {
    r += c;
    if (c == '"') r += '"';
  }
  return r + "\"";
}

bool AtEnd(const char* p) { return *p == 0; }

void WriteBlock(TStream& stream, const std::function<void(TStream&)>& write) {
  int64_t p = stream.Position();
  int32_t placeholder = 0;
  stream.WriteBuffer(&placeholder, 4);
  write(stream);
  int64_t e = stream.Position();
  int64_t n = e - p - 4;
  if (n > INT32_MAX) throw EWriteError("Binary block too large for the native format");
  int32_t len = static_cast<int32_t>(n);
  uint8_t b[4] = {static_cast<uint8_t>(len), static_cast<uint8_t>(len >> 8), static_cast<uint8_t>(len >> 16),
                  static_cast<uint8_t>(len >> 24)};
  stream.SetPosition(p);
  stream.WriteBuffer(b, 4);
  stream.SetPosition(e);
}
}  // namespace

// ---- Writing ----------------------------------------------------------------------------------
void RVFWrite(TStream& stream, const AnsiString& s) {
  if (!s.empty()) stream.WriteBuffer(s.data(), static_cast<int64_t>(s.size()));
}

void RVFWriteLine(TStream& stream, const AnsiString& s) { RVFWrite(stream, s + "\r\n"); }

void RVFWriteTextLine(TStream& stream, const AnsiString& s, bool unicode, bool hex_unicode) {
  if (unicode && hex_unicode)
    RVFWriteLine(stream, RVFStringToHex(s));
  else if (unicode)
    RVFWrite(stream, s + AnsiString("\x29\x20", 2));
  else
    RVFWriteLine(stream, s);
}

AnsiString RVFStringToHex(const AnsiString& s) {
  AnsiString r;
  r.reserve(s.size() * 2);
  for (unsigned char c : s) {
    r += kHex[c >> 4];
    r += kHex[c & 15];
  }
  return r;
}

AnsiString RVFStreamToHex(TMemoryStream& stream) {
  return RVFStringToHex(AnsiString(reinterpret_cast<const char*>(stream.Memory()), static_cast<size_t>(stream.Size())));
}

AnsiString RVFWideStringToHex(const WideString& ws) {
  AnsiString r;
  r.reserve(ws.size() * 4);
  for (char16_t c : ws)
    for (int shift = 12; shift >= 0; shift -= 4) r += kHex[(c >> shift) & 15];
  return r;
}

AnsiString RVFSavePicture(TGraphic& graphic) {
  TMemoryStream m;
  graphic.SaveToStream(m);
  return RVFStreamToHex(m);
}

void RVFSavePictureBinary(TStream& stream, TGraphic& graphic) {
  WriteBlock(stream, [&](TStream& s) { graphic.SaveToStream(s); });
}

AnsiString RVFSaveControl(TComponent* component) {
  TMemoryStream m;
  WriteComponentToStream(m, component);
  return RVFStreamToHex(m);
}

void RVFSaveControlBinary(TStream& stream, TComponent* component) {
  WriteBlock(stream, [&](TStream& s) { WriteComponentToStream(s, component); });
}

AnsiString RVFSaveTag(bool tags_are_pchars, const TRVTag& tag) {
  if (!tags_are_pchars) return IntToStr(tag.Int);
  if (tag.IsNil() || tag.Str->empty()) return "0";
  return Quoted(*tag.Str);
}

AnsiString RVFTextStyleToStr(TRVStyle* rvstyle, bool use_style_names, int32_t style_no) {
  if (use_style_names && style_no >= 0 && rvstyle) return Quoted(rvstyle->TextStyles()->Items(style_no)->StyleName);
  return IntToStr(style_no);
}

AnsiString RVFParaStyleToStr(TRVStyle* rvstyle, bool use_style_names, int32_t para_no) {
  if (use_style_names && para_no >= 0 && rvstyle) return Quoted(rvstyle->ParaStyles()->Items(para_no)->StyleName);
  return IntToStr(para_no);
}

AnsiString RVFSaveParaNo(int32_t para_no, TCustomRVData* rvdata, bool force_continuation) {
  if (force_continuation) para_no = -1;
  if (!rvdata) return IntToStr(para_no);
  return RVFParaStyleToStr(rvdata->GetRVStyle(), rvdata->GetRVFOptions().Contains(rvfoUseStyleNames), para_no);
}

uint8_t RVFGetItemOptions(TRVItemOptions options, bool force_continuation) {
  if (force_continuation) options.Include(rvioSameAsPrev).Exclude(rvioPageBreakBefore).Exclude(rvioBR);
  return options.ToBits();
}

AnsiString RVFEncodeLineBreaks(const AnsiString& s) {
  AnsiString r = s;
  for (char& c : r) {
    if (c == '\n')
      c = '\x02';
    else if (c == '\r')
      c = '\x01';
  }
  return r;
}

AnsiString RVFDecodeLineBreaks(const AnsiString& s) {
  AnsiString r = s;
  for (char& c : r) {
    if (c == '\x01')
      c = '\r';
    else if (c == '\x02')
      c = '\n';
  }
  return r;
}

void RVFWriteItemHeader(TStream& stream, int32_t style_no, int32_t line_count, const AnsiString& para,
                        uint8_t options, int32_t read_mode, const AnsiString& tag, const AnsiString& tail) {
  RVFWriteLine(stream, Format("%d %d %s %d %d %s %s", {style_no, line_count, para, static_cast<int32_t>(options & 0x0F),
                                                      read_mode, tag, tail}));
}

// ---- Reading -------------------------------------------------------------------------------------
bool RVFReadInteger(const char*& p, int32_t& value) {
  if (*p != '-' && !(*p >= '0' && *p <= '9')) return false;
  bool negative = *p == '-';
  if (negative) ++p;
  int32_t v = 0;
  while (*p >= '0' && *p <= '9') {
    v = CheckedAdd(CheckedMul(v, 10), static_cast<int32_t>(*p - '0'));
    ++p;
  }
  if (*p != ' ' && *p != 0) return false;
  if (*p == ' ') ++p;
  value = negative ? -v : v;
  return true;
}

bool RVFReadWord(const char*& p, AnsiString& s) {
  s.clear();
  while (*p != 0 && *p != ' ') s += *p++;
  if (*p == ' ') ++p;
  return !s.empty();
}

void RVFReadQuotedString(const char*& p, AnsiString& s) {
  s.clear();
  if (*p != '"') {
    // The framework's extraction gives the text up to the end when no quote starts it.
    while (*p != 0) s += *p++;
    return;
  }
  ++p;
  while (*p != 0) {
    if (*p == '"') {
      if (p[1] == '"') {
        s += '"';
        p += 2;
        continue;
      }
      ++p;
      break;
    }
    s += *p++;
  }
  if (*p == ' ') ++p;
}

bool RVFReadTag(const char*& p, bool tags_are_pchars, bool quoted_allowed, TRVTag& tag) {
  AnsiString field;
  bool quoted = false;
  if (quoted_allowed && *p == '"') {
    RVFReadQuotedString(p, field);
    quoted = true;
  } else if (!RVFReadWord(p, field)) {
    return false;
  }
  if (tags_are_pchars) {
    tag = (!quoted && field == "0") ? TRVTag() : TRVTag::FromStr(field);
    return true;
  }
  const char* q = field.c_str();
  int32_t v = 0;
  if (!RVFReadInteger(q, v) || !AtEnd(q)) return false;
  tag = TRVTag::FromInt(v);
  return true;
}

namespace {
template <typename GetName>
bool ReadStyleRef(const char*& p, int32_t& value, int32_t count, GetName name_of) {
  if (RVFReadInteger(p, value)) return true;
  AnsiString name;
  RVFReadQuotedString(p, name);
  value = 0;
  for (int32_t i = 0; i < count; ++i)
    if (name_of(i) == name) {
      value = i;
      break;
    }
  return true;
}
}  // namespace

bool RVFReadTextStyle(TRVStyle* rvstyle, const char*& p, int32_t& style_no) {
  int32_t count = rvstyle ? rvstyle->TextStyles()->Count() : 0;
  return ReadStyleRef(p, style_no, count, [&](int32_t i) { return rvstyle->TextStyles()->Items(i)->StyleName; });
}

bool RVFReadParaStyle(TRVStyle* rvstyle, const char*& p, int32_t& para_no) {
  int32_t count = rvstyle ? rvstyle->ParaStyles()->Count() : 0;
  return ReadStyleRef(p, para_no, count, [&](int32_t i) { return rvstyle->ParaStyles()->Items(i)->StyleName; });
}

namespace {
// Decodes pairs into out; false at the first invalid pair.
bool DecodeHex(const AnsiString& hex, AnsiString& out) {
  out.clear();
  out.reserve(hex.size() / 2);
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
  }
  return true;
}
}  // namespace

AnsiString RVFHexToString(const AnsiString& hex) {
  if (hex.size() % 2 != 0) return AnsiString();
  AnsiString out;
  DecodeHex(hex, out);
  return out;
}

WideString RVFHexToWideString(const AnsiString& hex) {
  if (hex.size() % 4 != 0) return WideString();
  WideString out;
  for (size_t i = 0; i < hex.size(); i += 4) {
    int v = 0;
    for (size_t k = 0; k < 4; ++k) {
      int d = HexValue(hex[i + k]);
      if (d < 0) return out;
      v = v * 16 + d;
    }
    out += static_cast<char16_t>(v);
  }
  return out;
}

bool RVFHexToStream(const AnsiString& hex, TMemoryStream& stream) {
  if (hex.size() % 2 != 0) return false;
  AnsiString out;
  bool ok = DecodeHex(hex, out);
  RVFWrite(stream, out);
  return ok;
}

bool RVFLoadPicture(const AnsiString& hex, TGraphic& graphic) {
  TMemoryStream m;
  if (!RVFHexToStream(hex, m)) return false;
  m.SetPosition(0);
  graphic.LoadFromStream(m);
  return true;
}

void RVFLoadPictureFromBinaryString(const AnsiString& s, TGraphic& graphic) {
  TMemoryStream m;
  RVFWrite(m, s);
  m.SetPosition(0);
  graphic.LoadFromStream(m);
}

void RVFLoadPictureBinary(TStream& stream, TGraphic& graphic) {
  uint8_t b[4];
  stream.ReadBuffer(b, 4);
  int32_t n = static_cast<int32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<uint32_t>(b[3]) << 24));
  if (n < 0 || n > stream.Size() - stream.Position()) throw EReadError("Invalid picture size in the native format");
  AnsiString data(static_cast<size_t>(n), '\0');
  if (n) stream.ReadBuffer(data.data(), n);
  RVFLoadPictureFromBinaryString(data, graphic);
}

namespace {
bool LoadControl(TMemoryStream& m, bool ok, std::unique_ptr<TComponent>& control, const AnsiString& class_name) {
  try {
    if (!class_name.empty()) {
      control = CreateRegistered<TComponent>(class_name);
      if (!control) return false;
    }
    m.SetPosition(0);
    if (control) {
      ReadComponentFromStream(m, control.get());
    } else {
      control.reset(ReadComponentFromStream(m, nullptr));
    }
    return ok;
  } catch (const std::exception&) {
    control.reset();
    return false;
  }
}
}  // namespace

bool RVFLoadControl(const AnsiString& hex, std::unique_ptr<TComponent>& control, const AnsiString& class_name) {
  TMemoryStream m;
  bool ok = RVFHexToStream(hex, m);
  if (!ok) {
    control.reset();
    return false;
  }
  return LoadControl(m, ok, control, class_name);
}

bool RVFLoadControlBinary(const AnsiString& s, std::unique_ptr<TComponent>& control, const AnsiString& class_name) {
  TMemoryStream m;
  RVFWrite(m, s);
  return LoadControl(m, true, control, class_name);
}

}  // namespace pelvar
