#include "platform/canvas.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/iconv_cache.h"

namespace pelvar {

int64_t TPixelImage::PixelCount(int32_t w, int32_t h) {
  if (w <= 0 || h <= 0) return 0;
  const int64_t n = int64_t{w} * h;
  if (n > MaxPixels)
    throw EOutOfResources("A picture of " + std::to_string(w) + " x " + std::to_string(h) + " pixels is too large");
  return n;
}

void TGraphic::SaveToStream(TStream&) const {
  throw EInvalidOperation("This picture cannot be written to a stream");
}

void TGraphic::LoadFromStream(TStream&) {
  throw EInvalidOperation("This picture cannot be read from a stream");
}


// ---- Synthetic test font --------------------------------------------------------------

int32_t TSyntheticTextMetrics::Em(const TFont& font) {
  int32_t h = font.Height();
  if (h < 0) return -h;
  if (h > 0) return h;
  return 16;
}

TTextMetric TSyntheticTextMetrics::GetTextMetrics(const TFont& font) {
  const int32_t em = Em(font);
  const int32_t advance = font.Width() > 0 ? font.Width() : std::max(1, em / 2);
  TTextMetric tm;
  tm.tmHeight = em;
  tm.tmDescent = em / 4;
  tm.tmAscent = em - tm.tmDescent;
  tm.tmAveCharWidth = advance;
  tm.tmMaxCharWidth = advance;
  for (const auto& [ch, w] : overrides_) tm.tmMaxCharWidth = std::max(tm.tmMaxCharWidth, w);
  tm.tmWeight = font.Style().Contains(fsBold) ? FW_BOLD : FW_NORMAL;
  tm.tmItalic = font.Style().Contains(fsItalic) ? 1 : 0;
  tm.tmUnderlined = font.Style().Contains(fsUnderline) ? 1 : 0;
  tm.tmStruckOut = font.Style().Contains(fsStrikeOut) ? 1 : 0;
  tm.tmCharSet = font.Charset();
  return tm;
}

bool TSyntheticTextMetrics::GetOutlineTextMetrics(const TFont& font, TOutlineTextMetric& otm) {
  otm = TOutlineTextMetric{};
  otm.otmTextMetrics = GetTextMetrics(font);
  const int32_t em = Em(font);
  otm.otmAscent = otm.otmTextMetrics.tmAscent;
  otm.otmDescent = otm.otmTextMetrics.tmDescent;
  otm.otmsUnderscoreSize = 1 + em / 16;
  otm.otmsUnderscorePosition = -std::max(1, otm.otmDescent / 2 + 1);
  otm.otmsStrikeoutSize = otm.otmsUnderscoreSize;
  otm.otmsStrikeoutPosition = otm.otmAscent / 3;
  return true;
}

std::vector<int32_t> TSyntheticTextMetrics::GetAdvances(const TFont& font, std::u16string_view text) {
  const int32_t advance = font.Width() > 0 ? font.Width() : std::max(1, Em(font) / 2);
  std::vector<int32_t> out;
  out.reserve(text.size());
  for (char16_t c : text) {
    auto it = overrides_.find(c);
    out.push_back(it != overrides_.end() ? it->second : advance);
  }
  return out;
}

// ---- Charsets -------------------------------------------------------------------------

int CharsetToCodePage(TFontCharset charset) {
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

namespace {

// Narrow text of a code page glibc knows -> UTF-16; false when the conversion fails.
bool IconvToWide(std::string_view text, const char* from, WideString& out) {
  iconv_t cd = CachedIconv("UTF-16LE", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in(text);
  std::string buf(in.size() * 4 + 8, '\0');
  char* inp = in.data();
  size_t inleft = in.size();
  char* outp = buf.data();
  size_t outleft = buf.size();
  bool ok = true;
  while (inleft > 0) {
    if (iconv(cd, &inp, &inleft, &outp, &outleft) == static_cast<size_t>(-1)) {
      if (errno == EILSEQ || errno == EINVAL) {
        // A byte the code page lacks: a question mark, and on.
        if (outleft < 2) {
          ok = false;
          break;
        }
        *outp++ = '?';
        *outp++ = '\0';
        outleft -= 2;
        ++inp;
        --inleft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
      } else {
        ok = false;
        break;
      }
    }
  }
  if (!ok) return false;
  size_t bytes = buf.size() - outleft;
  out.clear();
  for (size_t i = 0; i + 1 < bytes; i += 2)
    out.push_back(static_cast<char16_t>(static_cast<uint8_t>(buf[i]) | (static_cast<uint8_t>(buf[i + 1]) << 8)));
  return true;
}

}  // namespace

WideString CharsetTextToWide(std::string_view text, TFontCharset charset) {
  if (charset == SYMBOL_CHARSET) {
    WideString w;
    for (char c : text) w.push_back(static_cast<char16_t>(static_cast<uint8_t>(c)));
    return w;
  }
  const int cp = CharsetToCodePage(charset);
  if (cp == 0 || cp == 1250) return ToWide(text, TCodePage::cp1250);
  if (cp == 1) return ToWide(text, TCodePage::cp852);
  std::string name = cp == 2 ? "MACINTOSH" : "CP" + std::to_string(cp);
  WideString w;
  if (IconvToWide(text, name.c_str(), w)) return w;
  return ToWide(text, TCodePage::cp1250);
}

// ---- TCanvas -------------------------------------------------------------------------

TCanvas::TCanvas() = default;
TCanvas::~TCanvas() = default;

void TCanvas::Record(const char*, std::vector<int32_t>, const WideString*, const std::vector<int32_t>*) {}

TRect TCanvas::ToDevice(const TRect& r) const {
  return {r.Left - window_org_.X, r.Top - window_org_.Y, r.Right - window_org_.X, r.Bottom - window_org_.Y};
}

WideString TCanvas::Narrow(const AnsiString& text) const { return CharsetTextToWide(text, font_.Charset()); }

void TCanvas::MoveTo(int32_t x, int32_t y) {
  Record("MoveTo", {x, y});
  pen_pos_ = {x, y};
}

void TCanvas::LineTo(int32_t x, int32_t y) {
  Record("LineTo", {x, y});
  DevPolyline({ToDevice(pen_pos_.X, pen_pos_.Y), ToDevice(x, y)});
  pen_pos_ = {x, y};
}

void TCanvas::Polyline(const std::vector<TPoint>& points) {
  std::vector<int32_t> args;
  std::vector<TPoint> dev;
  for (const TPoint& p : points) {
    args.push_back(p.X);
    args.push_back(p.Y);
    dev.push_back(ToDevice(p.X, p.Y));
  }
  Record("Polyline", std::move(args));
  if (dev.size() >= 2) DevPolyline(dev);
}

void TCanvas::Polygon(const std::vector<TPoint>& points) {
  std::vector<int32_t> args;
  std::vector<TPoint> dev;
  for (const TPoint& p : points) {
    args.push_back(p.X);
    args.push_back(p.Y);
    dev.push_back(ToDevice(p.X, p.Y));
  }
  Record("Polygon", std::move(args));
  if (dev.size() >= 2) DevPolygon(dev);
}

void TCanvas::Rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  Record("Rectangle", {left, top, right, bottom});
  DevRectangle(ToDevice(TRect{left, top, right, bottom}));
}

void TCanvas::Ellipse(int32_t left, int32_t top, int32_t right, int32_t bottom) {
  Record("Ellipse", {left, top, right, bottom});
  DevEllipse(ToDevice(TRect{left, top, right, bottom}));
}

void TCanvas::FillRect(const TRect& r) {
  Record("FillRect", {r.Left, r.Top, r.Right, r.Bottom});
  if (brush_.Style() == bsClear || IsRectEmpty(r)) return;
  DevFillRect(ToDevice(r), ColorToRGB(brush_.Color()), brush_.Style());
}

void TCanvas::FrameRect(const TRect& r) {
  Record("FrameRect", {r.Left, r.Top, r.Right, r.Bottom});
  if (IsRectEmpty(r)) return;
  const TRect d = ToDevice(r);
  const TColor c = ColorToRGB(brush_.Color());
  DevFillRect({d.Left, d.Top, d.Right, d.Top + 1}, c, bsSolid);
  DevFillRect({d.Left, d.Bottom - 1, d.Right, d.Bottom}, c, bsSolid);
  DevFillRect({d.Left, d.Top, d.Left + 1, d.Bottom}, c, bsSolid);
  DevFillRect({d.Right - 1, d.Top, d.Right, d.Bottom}, c, bsSolid);
}

void TCanvas::DrawFocusRect(const TRect& r) {
  Record("DrawFocusRect", {r.Left, r.Top, r.Right, r.Bottom});
  if (IsRectEmpty(r)) return;
  DevFocusRect(ToDevice(r));
}

TColor TCanvas::Pixel(int32_t x, int32_t y) {
  const TPoint d = ToDevice(x, y);
  const TSize s = SurfaceSize();
  if (d.X < 0 || d.Y < 0 || d.X >= s.cx || d.Y >= s.cy) return clNone;
  return DevPixel(d.X, d.Y);
}

void TCanvas::SetPixel(int32_t x, int32_t y, TColor color) {
  Record("SetPixel", {x, y, color});
  const TPoint d = ToDevice(x, y);
  if (const TRect* clip = DeviceClip(); clip && !PtInRect(*clip, d)) return;
  const TSize s = SurfaceSize();
  if (d.X < 0 || d.Y < 0 || d.X >= s.cx || d.Y >= s.cy) return;
  DevSetPixel(d.X, d.Y, ColorToRGB(color));
}

void TCanvas::TextOut(int32_t x, int32_t y, const AnsiString& text) {
  WideString w = Narrow(text);
  Record("TextOut", {x, y}, &w);
  TextOutput(x, y, 0, nullptr, w, nullptr, true);
}

void TCanvas::TextOutW(int32_t x, int32_t y, const WideString& text) {
  Record("TextOutW", {x, y}, &text);
  TextOutput(x, y, 0, nullptr, text, nullptr, true);
}

void TCanvas::ExtTextOut(int32_t x, int32_t y, uint32_t options, const TRect* rect, const AnsiString& text,
                         const std::vector<int32_t>* dx) {
  WideString w = Narrow(text);
  std::vector<int32_t> args{x, y, static_cast<int32_t>(options)};
  if (rect) args.insert(args.end(), {rect->Left, rect->Top, rect->Right, rect->Bottom});
  Record("ExtTextOut", std::move(args), &w, dx);
  // Advances are per byte; a multibyte code page changes the count, and then the
  // font's own advances are used.
  const std::vector<int32_t>* use_dx = dx && w.size() == text.size() ? dx : nullptr;
  TextOutput(x, y, options, rect, w, use_dx, true);
}

void TCanvas::ExtTextOutW(int32_t x, int32_t y, uint32_t options, const TRect* rect, const WideString& text,
                          const std::vector<int32_t>* dx) {
  std::vector<int32_t> args{x, y, static_cast<int32_t>(options)};
  if (rect) args.insert(args.end(), {rect->Left, rect->Top, rect->Right, rect->Bottom});
  Record("ExtTextOutW", std::move(args), &text, dx);
  TextOutput(x, y, options, rect, text, dx, true);
}

void TCanvas::TextOutput(int32_t x, int32_t y, uint32_t options, const TRect* rect, const WideString& text,
                         const std::vector<int32_t>* dx, bool brush_background) {
  if ((options & ETO_OPAQUE) && rect && !IsRectEmpty(*rect))
    DevFillRect(ToDevice(*rect), ColorToRGB(brush_.Color()), bsSolid);
  if (text.empty()) return;
  std::vector<int32_t> advances = Metrics().GetAdvances(font_, text);
  if (dx) {
    for (size_t i = 0; i < advances.size(); ++i)
      if (i < dx->size()) advances[i] = (*dx)[i];
  } else {
    for (int32_t& a : advances) a += char_extra_;
  }
  const TPoint origin = ToDevice(x, y);
  std::vector<int32_t> positions;
  positions.reserve(text.size());
  int32_t pos = origin.X;
  for (int32_t a : advances) {
    positions.push_back(pos);
    pos += a;
  }
  const TRect dev_rect = rect ? ToDevice(*rect) : TRect{};
  if (brush_background && brush_.Style() != bsClear) {
    TRect cell{std::min(origin.X, pos), origin.Y, std::max(origin.X, pos),
               origin.Y + Metrics().GetTextMetrics(font_).tmHeight};
    if ((options & ETO_CLIPPED) && rect) IntersectRect(cell, cell, dev_rect);
    if (!IsRectEmpty(cell)) DevFillRect(cell, ColorToRGB(brush_.Color()), bsSolid);
  }
  DevText(origin.X, origin.Y, text, positions, (options & ETO_CLIPPED) && rect ? &dev_rect : nullptr);
}

TSize TCanvas::ExtentOf(const WideString& text, int32_t max_extent, int32_t* fit, std::vector<int32_t>* extents) {
  const int32_t height = Metrics().GetTextMetrics(font_).tmHeight;
  std::vector<int32_t> advances = Metrics().GetAdvances(font_, text);
  int32_t total = 0;
  int32_t fitted = 0;
  bool fitting = true;
  if (extents) extents->clear();
  for (int32_t a : advances) {
    total += a + char_extra_;
    if (extents) extents->push_back(total);
    if (fitting && total <= max_extent)
      ++fitted;
    else
      fitting = false;
  }
  if (fit) *fit = fitted;
  return {total, height};
}

TSize TCanvas::TextExtent(const AnsiString& text) {
  WideString w = Narrow(text);
  Record("TextExtent", {}, &w);
  return ExtentOf(w, 0, nullptr, nullptr);
}

TSize TCanvas::TextExtentW(const WideString& text) {
  Record("TextExtentW", {}, &text);
  return ExtentOf(text, 0, nullptr, nullptr);
}

TSize TCanvas::GetTextExtentExPoint(const AnsiString& text, int32_t max_extent, int32_t* fit,
                                    std::vector<int32_t>* extents) {
  WideString w = Narrow(text);
  Record("GetTextExtentExPoint", {max_extent}, &w);
  return ExtentOf(w, max_extent, fit, extents);
}

TSize TCanvas::GetTextExtentExPointW(const WideString& text, int32_t max_extent, int32_t* fit,
                                     std::vector<int32_t>* extents) {
  Record("GetTextExtentExPointW", {max_extent}, &text);
  return ExtentOf(text, max_extent, fit, extents);
}

TTextMetric TCanvas::GetTextMetrics() {
  Record("GetTextMetrics", {});
  return Metrics().GetTextMetrics(font_);
}

bool TCanvas::GetOutlineTextMetrics(TOutlineTextMetric& otm) {
  Record("GetOutlineTextMetrics", {});
  return Metrics().GetOutlineTextMetrics(font_, otm);
}

TSize TCanvas::GetCharacterPlacementW(const WideString& text, std::vector<int32_t>* order,
                                      std::vector<uint8_t>* classes, std::vector<int32_t>* advances) {
  Record("GetCharacterPlacementW", {}, &text);
  std::vector<int32_t> adv = Metrics().GetAdvances(font_, text);
  int32_t total = 0;
  for (int32_t& a : adv) {
    a += char_extra_;
    total += a;
  }
  if (order) {
    order->resize(text.size());
    for (size_t i = 0; i < text.size(); ++i) (*order)[i] = static_cast<int32_t>(i);
  }
  if (classes) classes->assign(text.size(), GCPCLASS_LATIN);
  if (advances) *advances = std::move(adv);
  return {total, Metrics().GetTextMetrics(font_).tmHeight};
}

int32_t TCanvas::GetDeviceCaps(int32_t index) const {
  switch (index) {
    case LOGPIXELSX:
    case LOGPIXELSY: return kScreenPixelsPerInch;
    case HORZRES: return SurfaceSize().cx;
    case VERTRES: return SurfaceSize().cy;
    default: return 0;
  }
}

uint32_t TCanvas::GetFontLanguageInfo() {
  Record("GetFontLanguageInfo", {});
  return 0;
}

int32_t TCanvas::SetTextCharacterExtra(int32_t extra) {
  Record("SetTextCharacterExtra", {extra});
  int32_t old = char_extra_;
  char_extra_ = extra;
  return old;
}

uint32_t TCanvas::SetTextAlign(uint32_t align) {
  Record("SetTextAlign", {static_cast<int32_t>(align)});
  uint32_t old = text_align_;
  text_align_ = align;
  return old;
}

TRect TCanvas::ClipRect() const {
  TRect r;
  if (has_clip_) {
    r = clip_;
  } else {
    const TSize s = SurfaceSize();
    r = {0, 0, s.cx, s.cy};
  }
  OffsetRect(r, window_org_.X, window_org_.Y);
  return r;
}

void TCanvas::IntersectClipRect(const TRect& r) {
  Record("IntersectClipRect", {r.Left, r.Top, r.Right, r.Bottom});
  TRect current;
  if (has_clip_) {
    current = clip_;
  } else {
    const TSize s = SurfaceSize();
    current = {0, 0, s.cx, s.cy};
  }
  IntersectRect(clip_, current, ToDevice(r));
  has_clip_ = true;
}

void TCanvas::ResetClip() {
  Record("ResetClip", {});
  has_clip_ = false;
  clip_ = TRect{};
}

TPoint TCanvas::SetWindowOrg(int32_t x, int32_t y) {
  Record("SetWindowOrg", {x, y});
  TPoint old = window_org_;
  window_org_ = {x, y};
  return old;
}

int32_t TCanvas::SaveDC() {
  Record("SaveDC", {});
  saved_.push_back({window_org_, has_clip_, clip_, char_extra_, text_align_});
  return static_cast<int32_t>(saved_.size());
}

bool TCanvas::RestoreDC(int32_t level) {
  Record("RestoreDC", {level});
  if (level < 0) level = static_cast<int32_t>(saved_.size()) + 1 + level;
  if (level < 1 || level > static_cast<int32_t>(saved_.size())) return false;
  const SavedState s = saved_[static_cast<size_t>(level - 1)];
  saved_.resize(static_cast<size_t>(level - 1));
  window_org_ = s.window_org;
  has_clip_ = s.has_clip;
  clip_ = s.clip;
  char_extra_ = s.char_extra;
  text_align_ = s.text_align;
  return true;
}

void TCanvas::Draw(int32_t x, int32_t y, TGraphic* graphic) {
  if (!graphic) return;
  const int32_t w = graphic->Width();
  const int32_t h = graphic->Height();
  Record("Draw", {x, y, w, h});
  if (!graphic->Empty()) graphic->Draw(*this, Bounds(x, y, w, h));
}

void TCanvas::StretchDraw(const TRect& r, TGraphic* graphic) {
  Record("StretchDraw", {r.Left, r.Top, r.Right, r.Bottom});
  if (graphic && !graphic->Empty()) graphic->Draw(*this, r);
}

void TCanvas::StretchPixels(const TRect& dest, const TPixelImage& image, const TRect& src_rect) {
  Record("StretchPixels", {dest.Left, dest.Top, dest.Right, dest.Bottom, src_rect.Left, src_rect.Top,
                           src_rect.Right, src_rect.Bottom});
  if (IsRectEmpty(dest) || IsRectEmpty(src_rect) || image.Width <= 0 || image.Height <= 0) return;
  DevStretchPixels(ToDevice(dest), image, src_rect);
}

// ---- TRecordingCanvas -------------------------------------------------------------------

TRecordingCanvas::TRecordingCanvas(int32_t width, int32_t height, std::shared_ptr<TTextMetrics> metrics)
    : width_(width), height_(height), metrics_(metrics ? std::move(metrics) : std::make_shared<TSyntheticTextMetrics>()) {}

void TRecordingCanvas::Record(const char* op, std::vector<int32_t> args, const WideString* text,
                              const std::vector<int32_t>* dx) {
  TCanvasCall call;
  call.Op = op;
  call.Args = std::move(args);
  if (text) {
    call.Text = *text;
    call.HasText = true;
  }
  if (dx) call.Dx = *dx;
  call.Font = Font();
  call.Pen = Pen();
  call.Brush = Brush();
  call.CharExtra = TextCharacterExtra();
  call.WindowOrg = WindowOrg();
  log_.push_back(std::move(call));
}

std::string TCanvasCall::ToString() const {
  std::string s = Op + "(";
  bool first = true;
  auto sep = [&] {
    if (!first) s += ",";
    first = false;
  };
  for (int32_t a : Args) {
    sep();
    s += std::to_string(a);
  }
  if (HasText) {
    sep();
    s += "\"" + Utf16ToUtf8(Text) + "\"";
  }
  if (!Dx.empty()) {
    sep();
    s += "[";
    for (size_t i = 0; i < Dx.size(); ++i) s += (i ? "," : "") + std::to_string(Dx[i]);
    s += "]";
  }
  return s + ")";
}

std::string TRecordingCanvas::LogText() const {
  std::string s;
  for (const TCanvasCall& c : log_) s += c.ToString() + "\n";
  return s;
}

std::vector<TCanvasCall> TRecordingCanvas::Calls(std::string_view op) const {
  std::vector<TCanvasCall> r;
  for (const TCanvasCall& c : log_)
    if (c.Op == op) r.push_back(c);
  return r;
}

}  // namespace pelvar
