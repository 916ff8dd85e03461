// Picture items and the picture classes: display size and spacing, native-format extra
// properties, bitmap files read back, JPEG and PNG bytes kept as they are, the one-record
// metafile, and the RTF picture group with its scaling and stripped headers.
#include <gtest/gtest.h>

#include "richtext/model/CRVData.h"
#include "richtext/model/RVClasses.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVImageList.h"
#include "richtext/model/RVItem.h"

namespace pelvar {
namespace {

std::string Str(TMemoryStream& s) { return std::string(reinterpret_cast<const char*>(s.Memory()), s.Size()); }

std::string Rtf(TGraphic* g, int32_t w, int32_t h, TRVRTFOptions o = {}) {
  TMemoryStream s;
  RVSaveImageToRTF(s, g, w, h, o.ToBits(), 15.0);
  return Str(s);
}

std::string Jpeg(int w, int h) {
  std::string s = "\xFF\xD8\xFF\xE0";
  s += std::string("\x00\x04", 2) + "JF";
  s += std::string("\xFF\xC0\x00\x0B\x08", 5);
  s += static_cast<char>(h >> 8);
  s += static_cast<char>(h & 0xFF);
  s += static_cast<char>(w >> 8);
  s += static_cast<char>(w & 0xFF);
  s += std::string("\x01\x01\x11\x00\xFF\xD9", 6);
  return s;
}

TEST(PictureItemTest, SizesAndExtraProperties) {
  TCustomRVData doc;
  auto* item = new TRVGraphicItemInfo(&doc, std::make_unique<TBitmap>(40, 30), 0);
  doc.AddItem("pic", item);
  EXPECT_EQ(item->GetWidth(), 42);
  item->ImageWidth = 100;
  EXPECT_EQ(item->GetImageWidth(), 100);
  EXPECT_EQ(item->GetImageHeight(), 30);
  TMemoryStream s;
  item->SaveRVFExtraProperties(s);
  EXPECT_EQ(Str(s), "width=100\r\n");
  EXPECT_EQ(item->GetRVFExtraPropertyCount(), 1);
  EXPECT_TRUE(item->SetExtraIntProperty(9, -5));
  EXPECT_EQ(item->Spacing, 0);
  EXPECT_TRUE(item->GetBoolValueEx(0, nullptr));  // printed through a bitmap
  TRVGraphicItemInfo copy(&doc);
  copy.Assign(item);
  ASSERT_NE(copy.Image, nullptr);
  EXPECT_NE(copy.Image.get(), item->Image.get());
  EXPECT_EQ(copy.GetImageWidth(), 100);
}

TEST(PictureItemTest, BitmapFileRoundTripAndEncodedPicturesKeepTheirBytes) {
  TBitmap b(3, 2, 0xFF102030u);
  b.Image.Set(2, 1, 0xFFABCDEFu);
  TMemoryStream s;
  b.SaveToStream(s);
  EXPECT_EQ(s.Size(), 14 + 40 + 2 * 12);
  s.Seek(0, TSeekOrigin::soBeginning);
  TBitmap back;
  back.LoadFromStream(s);
  EXPECT_EQ(back.Image.At(2, 1), 0xFFABCDEFu);
  EXPECT_EQ(back.Image.At(0, 0), 0xFF102030u);

  const std::string jpeg = Jpeg(640, 480);
  TMemoryStream js;
  js.WriteBuffer(jpeg.data(), static_cast<int64_t>(jpeg.size()));
  js.Seek(0, TSeekOrigin::soBeginning);
  TJPEGImage j;
  j.LoadFromStream(js);
  EXPECT_EQ(j.Width(), 640);
  EXPECT_EQ(j.Height(), 480);
  TMemoryStream out;
  j.SaveToStream(out);
  EXPECT_EQ(Str(out), jpeg);
  TMemoryStream bad;
  bad.WriteBuffer("nope", 4);
  bad.Seek(0, TSeekOrigin::soBeginning);
  EXPECT_THROW(j.LoadFromStream(bad), EInvalidGraphic);
  EXPECT_EQ(j.Width(), 640);  // the old picture stays

  TMetafile m;
  m.SetEmpty(96, 48);
  EXPECT_EQ(m.Width(), 96);
  EXPECT_EQ(m.Height(), 48);
  EXPECT_EQ(m.Data.size(), 22u + 18u + 6u);
  TMetafile m2;
  TMemoryStream ms;
  m.SaveToStream(ms);
  ms.Seek(0, TSeekOrigin::soBeginning);
  m2.LoadFromStream(ms);
  EXPECT_EQ(m2.Inch, 1440);
  EXPECT_EQ(m2.Width(), 96);
}

TEST(PictureItemTest, RtfPictureGroups) {
  TBitmap b(10, 10);
  const std::string rtf = Rtf(&b, 20, 0);
  EXPECT_EQ(rtf.rfind("{\\pict\\picscalex200\\dibitmap0\\wbmwidthbytes32\\picw10\\pich10\\picwgoal150\\pichgoal150 ", 0),
            0u)
      << rtf;
  // The info header (40 bytes) follows at once: the file header is stripped.
  EXPECT_NE(rtf.find("pichgoal150 28000000"), std::string::npos);
  EXPECT_EQ(rtf.back(), '}');

  TJPEGImage j;
  j.Data = Jpeg(8, 4);
  TMemoryStream js;
  js.WriteBuffer(j.Data.data(), static_cast<int64_t>(j.Data.size()));
  js.Seek(0, TSeekOrigin::soBeginning);
  j.LoadFromStream(js);
  TMemoryStream hex_src;
  hex_src.WriteBuffer(j.Data.data(), static_cast<int64_t>(j.Data.size()));
  EXPECT_EQ(Rtf(&j, 0, 0, {rvrtfSaveJpegAsJpeg}), "{\\pict\\jpegblip\\picw8\\pich4 " + RVFStreamToHex(hex_src) + "}");

  TMetafile m;
  m.SetEmpty(96, 96);
  const std::string mr = Rtf(&m, 0, 0);
  EXPECT_EQ(mr.rfind("{\\pict\\wmetafile8\\picw2540\\pich2540 0100090000030C", 0), 0u) << mr;
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> r;
  size_t p = 0;
  while (p < s.size()) {
    size_t e = s.find("\r\n", p);
    if (e == std::string::npos) e = s.size();
    r.push_back(s.substr(p, e - p));
    p = e + 2;
  }
  return r;
}

TEST(PictureItemTest, NativeFormatKeepsJpegBytesAndRefusesUnknownClasses) {
  TCustomRVData doc;
  doc.SetRVFOptions(TRVFOptions{rvfoSavePicturesBody});
  auto jpeg = std::make_unique<TJPEGImage>();
  const std::string bytes = Jpeg(12, 7);
  TMemoryStream js;
  js.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  js.Seek(0, TSeekOrigin::soBeginning);
  jpeg->LoadFromStream(js);
  TRVGraphicItemInfo item(&doc, std::move(jpeg), 3);
  item.ImageWidth = 24;
  TMemoryStream out;
  item.SaveRVF(out, &doc, 0, 0, "photo", -1, false);
  const auto lines = Lines(Str(out));
  ASSERT_EQ(lines.size(), 5u);  // header, name, class, width, body
  EXPECT_EQ(lines[0].substr(0, 6), "-3 4 0");
  EXPECT_EQ(lines[2], "TJPEGImage");

  TRVGraphicItemInfo back(&doc);
  const char* tail = "3";
  ASSERT_TRUE(back.ReadRVFHeaderTail(tail, &doc));
  EXPECT_EQ(back.VAlign, 3);
  int32_t state = 0;
  bool next_binary = false;
  AnsiString name;
  for (int32_t i = 1; i < 5; ++i)
    ASSERT_TRUE(back.ReadRVFLine(lines[static_cast<size_t>(i)], &doc, state, next_binary, name, i - 1, 4, 0));
  EXPECT_EQ(name, "photo");
  EXPECT_EQ(back.ImageWidth, 24);
  auto* j = dynamic_cast<TJPEGImage*>(back.Image.get());
  ASSERT_NE(j, nullptr);
  EXPECT_EQ(j->Data, bytes);

  TRVGraphicItemInfo unknown(&doc);
  EXPECT_FALSE(unknown.ReadRVFLine("TIcon", &doc, state, next_binary, name, 1, 3, 0));
  EXPECT_EQ(doc.GetRVFWarnings() & 1, 1u);
  // A body that does not load gives the invalid-picture mark and warning 64.
  TRVGraphicItemInfo bad(&doc);
  ASSERT_TRUE(bad.ReadRVFLine("TPNGImage", &doc, state, next_binary, name, 1, 3, 0));
  EXPECT_TRUE(bad.ReadRVFLine("00112233", &doc, state, next_binary, name, 2, 3, 0));
  EXPECT_EQ(doc.GetRVFWarnings() & 64, 64u);
  EXPECT_NE(dynamic_cast<TBitmap*>(bad.Image.get()), nullptr);
}

// A transparent bitmap picture keeps its transparency through the native format (text
// and binary) and paints without its transparent colour: fixed with a colour of its own,
// automatic with the colour of its bottom-left pixel.
TEST(PictureItemTest, BitmapTransparencySurvivesTheNativeFormatAndPaints) {
  constexpr uint32_t kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu, kGreen = 0xFF00FF00u;
  struct Case {
    const char* name;
    TTransparentMode mode;
    const char* lines;                 // the extra-property lines written
    std::vector<uint32_t> painted;     // top row, then bottom row, over white
  } cases[] = {
      {"fixed", tmFixed, "transparent=1\r\ntmode=1\r\ntcolor=16711680\r\n", {0xFFFFFFFFu, kRed, kGreen, kGreen}},
      {"automatic", tmAuto, "transparent=1\r\ntmode=0\r\n", {kBlue, kRed, 0xFFFFFFFFu, 0xFFFFFFFFu}},
  };
  for (const Case& c : cases) {
    for (bool binary : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (binary ? " binary" : " text"));
      TRVStyle style(nullptr);
      TCustomRVData doc;
      doc.SetRVStyle(&style);
      doc.SetRVFOptions(binary ? TRVFOptions{rvfoSavePicturesBody, rvfoSaveBinary} : TRVFOptions{rvfoSavePicturesBody});
      auto bitmap = std::make_unique<TBitmap>(2, 2);
      bitmap->Image.Set(0, 0, kBlue), bitmap->Image.Set(1, 0, kRed);
      bitmap->Image.Set(0, 1, kGreen), bitmap->Image.Set(1, 1, kGreen);
      bitmap->SetTransparent(true);
      if (c.mode == tmFixed) bitmap->SetTransparentColor(RGB(0, 0, 255));
      doc.AddItem("pic", new TRVGraphicItemInfo(&doc, std::move(bitmap), 0));
      TMemoryStream out;
      ASSERT_TRUE(doc.SaveRVFToStream(out, false, nullptr, nullptr, clNone));
      const std::string saved = Str(out);
      EXPECT_NE(saved.find(c.lines), std::string::npos) << saved;

      TCustomRVData back;
      back.SetRVStyle(&style);
      back.SetRVFOptions(doc.GetRVFOptions());
      out.SetPosition(0);
      TColor color = clNone;
      ASSERT_TRUE(back.LoadRVFFromStream(out, color, nullptr, nullptr));
      ASSERT_EQ(back.ItemCount(), 1);
      auto* item = static_cast<TRVGraphicItemInfo*>(back.GetItem(0));
      auto* b = dynamic_cast<TBitmap*>(item->Image.get());
      ASSERT_NE(b, nullptr);
      EXPECT_TRUE(b->Transparent());
      EXPECT_EQ(b->TransparentMode(), c.mode);
      TMemoryStream again;
      ASSERT_TRUE(back.SaveRVFToStream(again, false, nullptr, nullptr, clNone));
      EXPECT_EQ(Str(again), saved);

      TPixelImage page(2, 2, 0xFFFFFFFFu);
      TRVPixelCanvas canvas(page);
      item->Spacing = 0;
      item->Paint(0, 0, canvas, 0, nullptr, nullptr);
      EXPECT_EQ(page.Pixels, c.painted);
    }
  }
  // Other pictures have no transparency to set.
  TCustomRVData doc;
  TRVGraphicItemInfo jpeg(&doc, std::make_unique<TJPEGImage>(), 0);
  EXPECT_FALSE(jpeg.SetExtraIntProperty(5, 1));
}

// A picture body that does not load becomes a copy of the style sheet's invalid picture:
// the program's mark (a red cross in a grey frame) or the picture the sheet was given.
TEST(PictureItemTest, AFailedBodyBecomesACopyOfTheSheetsInvalidPicture) {
  for (bool own : {false, true}) {
    SCOPED_TRACE(own ? "set" : "mark");
    TRVStyle style(nullptr);
    if (own) style.SetInvalidPicture(std::make_unique<TBitmap>(7, 3, 0xFF00FF00u).get());
    TCustomRVData doc;
    doc.SetRVStyle(&style);
    const std::string rvf = "-3 3 0 0 0 0 0\r\nphoto\r\nTPNGImage\r\n00112233\r\n";
    TMemoryStream in;
    in.WriteBuffer(rvf.data(), static_cast<int64_t>(rvf.size()));
    in.SetPosition(0);
    TColor color = clNone;
    ASSERT_TRUE(doc.LoadRVFFromStream(in, color, nullptr, nullptr));
    EXPECT_EQ(doc.GetRVFWarnings() & 64, 64u);
    ASSERT_EQ(doc.ItemCount(), 1);
    auto* b = dynamic_cast<TBitmap*>(static_cast<TRVGraphicItemInfo*>(doc.GetItem(0))->Image.get());
    ASSERT_NE(b, nullptr);
    EXPECT_NE(static_cast<TGraphic*>(b), style.InvalidPicture());
    if (own) {
      EXPECT_EQ(b->Width(), 7);
      EXPECT_EQ(b->Image.At(6, 2), 0xFF00FF00u);
    } else {
      EXPECT_EQ(b->Width(), 20);
      EXPECT_EQ(b->Image.At(10, 10), 0xFFFF0000u);
      EXPECT_EQ(b->Image.At(0, 5), 0xFF808080u);
    }
  }
}

// A picture takes another picture's animator when it has none; the factory keeps it bound
// to its new item.
struct TCountingAnimator : TRVAnimatorBase {
  void DrawFrame(int32_t, int32_t, TCanvas&) override {}
  TRVGraphicItemInfo* Item = nullptr;
};
TEST(PictureItemTest, APictureTakesTheAnimatorOfAnother) {
  const TRVAnimatorFactory saved = AnimatorFactory;
  AnimatorFactory = [](TRVGraphicItemInfo* item, TCustomRVData*, std::unique_ptr<TRVAnimatorBase>& a) {
    if (auto* c = dynamic_cast<TCountingAnimator*>(a.get())) c->Item = item;
  };
  TCustomRVData doc;
  TRVGraphicItemInfo source(&doc, std::make_unique<TBitmap>(4, 4), 0), target(&doc, std::make_unique<TBitmap>(4, 4), 0);
  source.Animator = std::make_unique<TCountingAnimator>();
  TRVAnimatorBase* animator = source.Animator.get();
  target.TransferAnimator(&source, &doc);
  EXPECT_EQ(target.Animator.get(), animator);
  EXPECT_EQ(source.Animator, nullptr);
  EXPECT_EQ(static_cast<TCountingAnimator*>(animator)->Item, &target);
  // One that has an animator keeps its own; other kinds give none.
  source.Animator = std::make_unique<TCountingAnimator>();
  target.TransferAnimator(&source, &doc);
  EXPECT_EQ(target.Animator.get(), animator);
  EXPECT_NE(source.Animator, nullptr);
  TRVBreakItemInfo line(&doc);
  TRVGraphicItemInfo empty(&doc);
  empty.TransferAnimator(&line, &doc);
  EXPECT_EQ(empty.Animator, nullptr);
  AnimatorFactory = saved;
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

TEST(PictureItemTest, HtmlImageTag) {
  TCustomRVData doc;
  TRVGraphicItemInfo item(&doc, std::make_unique<TBitmap>(10, 20), 3);
  item.ImageFileName = "/data/pages/img/a.png";
  item.Alt = "A & B";
  TMemoryStream s;
  int32_t no = 0;
  const uint32_t xhtml_source = (1u << 13) | (1u << 12);
  item.SaveToHTML(s, &doc, 0, "", "/data/pages/", "img", no, clWhite, xhtml_source, false);
  EXPECT_EQ(Str(s), "<img align=\"absbottom\" alt=\"A &amp; B\" hspace=\"1\" vspace=\"1\" src=\"img/a.png\" />");
}

}  // namespace
}  // namespace pelvar

#include "richtext/model/RVImageList.h"
#include "richtext/model/RVJPEG.h"
#include "richtext/model/RVRTFProps.h"

namespace pelvar {
namespace {

// PNG and JPEG pictures of an RTF document paint their pixels (what the viewer and the
// printout show), not an empty frame; their bytes stay as they came. A PNG whose pixel data
// is damaged paints the frame.
TEST(PictureItemTest, PngAndJpegPicturesPaintTheirPixels) {
  const std::string png_hex =
      "89504e470d0a1a0a0000000d4948445200000004000000040802000000269309290000001049444154789c63f8cfc000470cc47100ae93"
      "0ff1d05f239e0000000049454e44ae426082";  // 4 x 4 red
  TBitmap blue(8, 8, 0xFF0000FFu);
  std::unique_ptr<TJPEGImage> jpeg = RVBitmapToJPEG(blue);
  std::string jpeg_hex;
  for (unsigned char c : jpeg->Data) {
    static const char* d = "0123456789abcdef";
    jpeg_hex += d[c >> 4];
    jpeg_hex += d[c & 15];
  }
  std::string broken_png_hex = png_hex;
  broken_png_hex.replace(broken_png_hex.find("789c"), 8, "00000000");  // the compressed pixels spoilt
  struct {
    std::string rtf;
    uint32_t colour;  // 0: the frame (white inside)
  } cases[] = {
      {"{\\pict\\pngblip " + png_hex + "}", 0xFFFF0000u},
      {"{\\pict\\jpegblip " + jpeg_hex + "}", 0xFF0000FFu},
      {"{\\pict\\pngblip " + broken_png_hex + "}", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rtf.substr(0, 40));
    TRVStyle style(nullptr);
    TCustomRVData doc;
    doc.SetRVStyle(&style);
    TRVRTFReaderProperties p;
    TStringStream in("{\\rtf1 " + c.rtf + "\\par}");
    int32_t index = 0;
    ASSERT_EQ(p.ReadRTFFromStream(in, &doc, index), rtf_ec_OK);
    ASSERT_EQ(doc.ItemCount(), 1);
    auto* item = dynamic_cast<TRVGraphicItemInfo*>(doc.GetItem(0));
    ASSERT_NE(item, nullptr);
    // The picture's box: its natural size, one pixel of spacing in.
    const int32_t w = item->GetImageWidth(), h = item->GetImageHeight();
    ASSERT_GE(w, 4);
    ASSERT_GE(h, 4);
    TPixelImage surface(w + 8, h + 8, 0xFF00FF00u);
    TRVPixelCanvas canvas(surface);
    item->Paint(0, 0, canvas, 0, nullptr, nullptr);
    const uint32_t centre = surface.At(1 + w / 2, 1 + h / 2);
    if (c.colour == 0) {
      EXPECT_EQ(centre, 0xFFFFFFFFu);
      continue;
    }
    // JPEG is lossy: each channel within a few steps.
    for (int shift : {0, 8, 16})
      EXPECT_NEAR(static_cast<int>((centre >> shift) & 0xFF), static_cast<int>((c.colour >> shift) & 0xFF), 8)
          << std::hex << centre;
    // The whole box is the picture's colour, no frame around it.
    EXPECT_EQ(surface.At(1, 1) & 0xFFFFFFu, centre & 0xFFFFFFu);
    EXPECT_EQ(surface.At(w, h) & 0xFFFFFFu, centre & 0xFFFFFFu);
  }
}

}  // namespace
}  // namespace pelvar
