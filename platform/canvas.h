// The drawing surface everything of the rich-text family paints on, and the text
// measurement behind it.
//
// TCanvas keeps what a device context keeps (the selected font, pen and brush, the
// current position, the character extra, the text alignment, the window origin, the
// clip rectangle and a stack of saved states) and offers the drawing and measuring calls
// of the framework's canvas and of the platform's text functions. Coordinates given to
// it are logical: the window origin is subtracted to get device pixels. The back ends
// implement a handful of device primitives:
//   - TRecordingCanvas (here): draws nothing, keeps a readable log of every call; its
//     text is measured by a TTextMetrics, by default the synthetic test font;
//   - TQtImageCanvas and TQtWidgetCanvas (platform/qt/qt_canvas.h): QPainter on a QImage
//     or on a widget, measured by the DejaVu fonts through Qt.
// Everything is at 96 pixels per inch.
//
// Text: the "A" calls take Windows-1250 bytes (or the code page of the font's charset),
// the "W" calls UTF-16. The font's colour draws the glyphs; the brush paints the
// background of the text cell unless it is clear (the framework's rule for TextOut).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/graphics.h"
#include "platform/streams.h"
#include "platform/types.h"

namespace pelvar {

class TCanvas;

// ---- Text measurement -------------------------------------------------------------
// What a canvas asks about a font. Advances are per UTF-16 code unit, in whole pixels,
// without the canvas's character extra.
class TTextMetrics {
 public:
  virtual ~TTextMetrics() = default;
  virtual TTextMetric GetTextMetrics(const TFont& font) = 0;
  // False when the font has no outline metrics.
  virtual bool GetOutlineTextMetrics(const TFont& font, TOutlineTextMetric& otm) = 0;
  virtual std::vector<int32_t> GetAdvances(const TFont& font, std::u16string_view text) = 0;
};

// The synthetic test font: every face is the same, so layout tests can be worked out by
// hand. With em = -Height (or Height when positive, 16 when 0):
//   advance of every code unit = Width when the font asks for one, else em div 2 (at
//   least 1), unless SetAdvance gave the character another;
//   descent = em div 4, ascent = em - descent, height = em, no leading of either kind;
//   underline 1 + em div 16 thick at descent div 2 + 1 below the baseline (at least 1),
//   strike-out as thick at ascent div 3 above it.
// The style (bold, italic ...) changes no measure.
class TSyntheticTextMetrics : public TTextMetrics {
 public:
  TTextMetric GetTextMetrics(const TFont& font) override;
  bool GetOutlineTextMetrics(const TFont& font, TOutlineTextMetric& otm) override;
  std::vector<int32_t> GetAdvances(const TFont& font, std::u16string_view text) override;

  // A character with its own advance, for every font.
  void SetAdvance(char16_t ch, int32_t advance) { overrides_[ch] = advance; }
  static int32_t Em(const TFont& font);

 private:
  std::map<char16_t, int32_t> overrides_;
};

// ---- Pictures -----------------------------------------------------------------------
// A block of pixels, 0xAARRGGBB, rows from the top.
struct TPixelImage {
  // Most pixels one image may hold (1 GB of pixels): a larger size, such as one read from a
  // file's header, raises EOutOfResources instead of taking the memory.
  static constexpr int64_t MaxPixels = int64_t{1} << 28;
  int32_t Width = 0;
  int32_t Height = 0;
  std::vector<uint32_t> Pixels;
  TPixelImage() = default;
  // A size of 0 or less in either direction gives no pixels.
  TPixelImage(int32_t w, int32_t h, uint32_t fill = 0xFFFFFFFFu)
      : Width(w), Height(h), Pixels(static_cast<size_t>(PixelCount(w, h)), fill) {}
  uint32_t At(int32_t x, int32_t y) const { return Pixels[Index(x, y)]; }
  void Set(int32_t x, int32_t y, uint32_t argb) { Pixels[Index(x, y)] = argb; }

 private:
  static int64_t PixelCount(int32_t w, int32_t h);
  size_t Index(int32_t x, int32_t y) const {
    return static_cast<size_t>(y) * static_cast<size_t>(Width) + static_cast<size_t>(x);
  }
};

// The framework's picture base: a picture draws itself into a rectangle of a canvas
// (Draw and StretchDraw of the canvas call it).
class TGraphic {
 public:
  virtual ~TGraphic() = default;
  virtual int32_t Width() const = 0;
  virtual int32_t Height() const = 0;
  virtual bool Empty() const { return Width() <= 0 || Height() <= 0; }
  virtual bool Transparent() const { return false; }
  virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;
  // The picture's own stream format; pictures that have none raise EInvalidOperation.
  virtual void SaveToStream(TStream& stream) const;
  virtual void LoadFromStream(TStream& stream);
};

// ---- The canvas ---------------------------------------------------------------------
// Options of ExtTextOut.
constexpr uint32_t ETO_OPAQUE = 0x0002;
constexpr uint32_t ETO_CLIPPED = 0x0004;
// Text alignment. Text is always placed by its top left corner and laid out left to
// right; the reading-order flag is kept (and logged) but changes no drawing.
constexpr uint32_t TA_LEFT = 0;
constexpr uint32_t TA_TOP = 0;
constexpr uint32_t TA_RTLREADING = 0x0100;
// Indexes of GetDeviceCaps.
constexpr int32_t HORZRES = 8;
constexpr int32_t VERTRES = 10;
constexpr int32_t LOGPIXELSX = 88;
constexpr int32_t LOGPIXELSY = 90;
// Character classes of GetCharacterPlacementW.
constexpr uint8_t GCPCLASS_LATIN = 1;

// The code page of a font charset (0 means the process's ANSI code page, Windows-1250)
// and the UTF-16 form of narrow text drawn with a font of that charset. SYMBOL_CHARSET
// takes the bytes as they are (U+0000..U+00FF).
int CharsetToCodePage(TFontCharset charset);
WideString CharsetTextToWide(std::string_view text, TFontCharset charset);

class TCanvas {
 public:
  TCanvas();
  virtual ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  TFont& Font() { return font_; }
  TPen& Pen() { return pen_; }
  TBrush& Brush() { return brush_; }
  const TFont& Font() const { return font_; }
  const TPen& Pen() const { return pen_; }
  const TBrush& Brush() const { return brush_; }
  TPoint PenPos() const { return pen_pos_; }
  void SetPenPos(const TPoint& p) { pen_pos_ = p; }

  // The measurement of this canvas's text.
  virtual TTextMetrics& Metrics() = 0;

  // Lines with the pen (the end point itself is not drawn, as on the platform).
  void MoveTo(int32_t x, int32_t y);
  void LineTo(int32_t x, int32_t y);
  void Polyline(const std::vector<TPoint>& points);
  // Figures: the brush fills, the pen outlines. Rectangle (Left, Top, Right, Bottom)
  // covers Left..Right-1 and Top..Bottom-1; with a clear pen it fills one pixel less to
  // the right and to the bottom, as the platform does.
  void Polygon(const std::vector<TPoint>& points);
  void Rectangle(int32_t left, int32_t top, int32_t right, int32_t bottom);
  void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  void Ellipse(int32_t left, int32_t top, int32_t right, int32_t bottom);
  void Ellipse(const TRect& r) { Ellipse(r.Left, r.Top, r.Right, r.Bottom); }
  // The brush alone (nothing for a clear brush).
  void FillRect(const TRect& r);
  // A one-pixel frame in the brush colour.
  void FrameRect(const TRect& r);
  // A dotted frame drawn by inverting pixels: a second call removes it.
  void DrawFocusRect(const TRect& r);
  TColor Pixel(int32_t x, int32_t y);
  void SetPixel(int32_t x, int32_t y, TColor color);

  // Text at (x, y), the top left corner of the text cell.
  void TextOut(int32_t x, int32_t y, const AnsiString& text);
  void TextOutW(int32_t x, int32_t y, const WideString& text);
  // Text with ETO_OPAQUE (rect filled with the brush colour first) and ETO_CLIPPED
  // (glyphs clipped to rect); dx, when given, holds the advance of every character
  // (one per byte for narrow text, one per code unit for UTF-16) and replaces the
  // font's advances and the character extra.
  void ExtTextOut(int32_t x, int32_t y, uint32_t options, const TRect* rect, const AnsiString& text,
                  const std::vector<int32_t>* dx = nullptr);
  void ExtTextOutW(int32_t x, int32_t y, uint32_t options, const TRect* rect, const WideString& text,
                   const std::vector<int32_t>* dx = nullptr);

  // Width and height of a text (the character extra counts once per character).
  TSize TextExtent(const AnsiString& text);
  TSize TextExtentW(const WideString& text);
  int32_t TextWidth(const AnsiString& text) { return TextExtent(text).cx; }
  int32_t TextHeight(const AnsiString& text) { return TextExtent(text).cy; }
  // The extent with fit: fit = how many characters from the start end within
  // max_extent; extents (when given) receives the width of every prefix, 1..n
  // characters (all of them, not only those that fit).
  TSize GetTextExtentExPoint(const AnsiString& text, int32_t max_extent, int32_t* fit,
                             std::vector<int32_t>* extents);
  TSize GetTextExtentExPointW(const WideString& text, int32_t max_extent, int32_t* fit,
                              std::vector<int32_t>* extents);
  TTextMetric GetTextMetrics();
  bool GetOutlineTextMetrics(TOutlineTextMetric& otm);
  // Character placement of UTF-16 text: order[i] is the visual slot of character i,
  // classes[i] its GCP class (GCPCLASS_LATIN: text is laid out left to right, one glyph
  // per code unit, no reordering or ligatures), advances[i] its advance with the
  // character extra; the result is the whole extent. Always succeeds.
  TSize GetCharacterPlacementW(const WideString& text, std::vector<int32_t>* order, std::vector<uint8_t>* classes,
                               std::vector<int32_t>* advances);
  // The font's language flags (GCP_...): none, since nothing is reordered or joined.
  uint32_t GetFontLanguageInfo();

  // Extra pixels after every character of text output and measurement; the old value
  // is returned.
  int32_t TextCharacterExtra() const { return char_extra_; }
  int32_t SetTextCharacterExtra(int32_t extra);
  uint32_t TextAlign() const { return text_align_; }
  uint32_t SetTextAlign(uint32_t align);

  // The visible part in logical coordinates: the clip rectangle when there is one, else
  // the whole surface.
  TRect ClipRect() const;
  // Narrows the clip rectangle (logical coordinates).
  void IntersectClipRect(const TRect& r);
  // Removes any clip rectangle.
  void ResetClip();
  // The logical point shown at the device's top left corner; the old one is returned.
  TPoint WindowOrg() const { return window_org_; }
  TPoint SetWindowOrg(int32_t x, int32_t y);
  // Saves the window origin, clip rectangle, character extra and text alignment; returns
  // the level to give RestoreDC (-1: the last saved). The font, pen and brush are the
  // canvas's own objects and are not part of it.
  int32_t SaveDC();
  bool RestoreDC(int32_t level);

  // Pictures.
  void Draw(int32_t x, int32_t y, TGraphic* graphic);
  void StretchDraw(const TRect& r, TGraphic* graphic);
  // Copies src_rect of a block of pixels into dest (stretched when sizes differ); the
  // primitive pictures draw themselves with. Alpha below 255 blends.
  void StretchPixels(const TRect& dest, const TPixelImage& image, const TRect& src_rect);

  // The surface's size in device pixels.
  virtual TSize SurfaceSize() const = 0;
  // Device capabilities: LOGPIXELSX and LOGPIXELSY (96), HORZRES and VERTRES (the
  // surface in pixels); 0 for anything else.
  int32_t GetDeviceCaps(int32_t index) const;

 protected:
  // Device primitives, all in device pixels, clipped by DeviceClip() by the back end.
  virtual void DevPolyline(const std::vector<TPoint>& points) = 0;
  virtual void DevPolygon(const std::vector<TPoint>& points) = 0;
  virtual void DevRectangle(const TRect& r) = 0;
  virtual void DevEllipse(const TRect& r) = 0;
  virtual void DevFillRect(const TRect& r, TColor rgb, TBrushStyle style) = 0;
  virtual void DevFocusRect(const TRect& r) = 0;
  virtual TColor DevPixel(int32_t x, int32_t y) = 0;
  virtual void DevSetPixel(int32_t x, int32_t y, TColor rgb) = 0;
  // Glyphs of text, the first cell's left edge at x, its top at y; x_positions holds the
  // left edge of every code unit's cell (device pixels). clip: glyphs are also clipped
  // to it.
  virtual void DevText(int32_t x, int32_t y, const WideString& text, const std::vector<int32_t>& x_positions,
                       const TRect* clip) = 0;
  virtual void DevStretchPixels(const TRect& dest, const TPixelImage& image, const TRect& src_rect) = 0;

  // Told of every public call before it is carried out (the recording canvas logs it).
  virtual void Record(const char* op, std::vector<int32_t> args, const WideString* text = nullptr,
                      const std::vector<int32_t>* dx = nullptr);

  // The clip rectangle in device pixels (nullptr: none).
  const TRect* DeviceClip() const { return has_clip_ ? &clip_ : nullptr; }
  TPoint ToDevice(int32_t x, int32_t y) const { return {x - window_org_.X, y - window_org_.Y}; }
  TRect ToDevice(const TRect& r) const;

 private:
  struct SavedState {
    TPoint window_org;
    bool has_clip;
    TRect clip;
    int32_t char_extra;
    uint32_t text_align;
  };
  WideString Narrow(const AnsiString& text) const;
  void TextOutput(int32_t x, int32_t y, uint32_t options, const TRect* rect, const WideString& text,
                  const std::vector<int32_t>* dx, bool brush_background);
  TSize ExtentOf(const WideString& text, int32_t max_extent, int32_t* fit, std::vector<int32_t>* extents);

  TFont font_;
  TPen pen_;
  TBrush brush_;
  TPoint pen_pos_;
  int32_t char_extra_ = 0;
  uint32_t text_align_ = 0;
  TPoint window_org_;
  bool has_clip_ = false;
  TRect clip_;
  std::vector<SavedState> saved_;
};

// ---- The recording canvas -------------------------------------------------------------
// One call as the canvas received it: the operation's name, its integer arguments in
// the order of the call (rectangles as Left, Top, Right, Bottom; points as X, Y ...),
// the text (UTF-16) and advances for text calls, and the tools in force at the time.
struct TCanvasCall {
  std::string Op;
  std::vector<int32_t> Args;
  WideString Text;
  bool HasText = false;
  std::vector<int32_t> Dx;
  TFont Font;
  TPen Pen;
  TBrush Brush;
  int32_t CharExtra = 0;
  TPoint WindowOrg;
  // One line, e.g. `TextOutW(10,20,"Kůň")` (the text as UTF-8); the tools are left out.
  std::string ToString() const;
};

// A canvas that draws nothing: it logs the calls, measures text with its metrics (the
// synthetic test font unless given others) and reads pixels back as white.
class TRecordingCanvas : public TCanvas {
 public:
  explicit TRecordingCanvas(int32_t width = 1024, int32_t height = 768,
                            std::shared_ptr<TTextMetrics> metrics = nullptr);

  const std::vector<TCanvasCall>& Log() const { return log_; }
  // The log as text, one call per line.
  std::string LogText() const;
  // The calls with this name, in order.
  std::vector<TCanvasCall> Calls(std::string_view op) const;
  void ClearLog() { log_.clear(); }

  TTextMetrics& Metrics() override { return *metrics_; }
  TSize SurfaceSize() const override { return {width_, height_}; }

 protected:
  void DevPolyline(const std::vector<TPoint>&) override {}
  void DevPolygon(const std::vector<TPoint>&) override {}
  void DevRectangle(const TRect&) override {}
  void DevEllipse(const TRect&) override {}
  void DevFillRect(const TRect&, TColor, TBrushStyle) override {}
  void DevFocusRect(const TRect&) override {}
  TColor DevPixel(int32_t, int32_t) override { return clWhite; }
  void DevSetPixel(int32_t, int32_t, TColor) override {}
  void DevText(int32_t, int32_t, const WideString&, const std::vector<int32_t>&, const TRect*) override {}
  void DevStretchPixels(const TRect&, const TPixelImage&, const TRect&) override {}
  void Record(const char* op, std::vector<int32_t> args, const WideString* text,
              const std::vector<int32_t>* dx) override;

 private:
  int32_t width_;
  int32_t height_;
  std::shared_ptr<TTextMetrics> metrics_;
  std::vector<TCanvasCall> log_;
};

}  // namespace pelvar
