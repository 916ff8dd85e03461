// RTF reader: the colour table loses only the entry the reader opened after the last ';'
// (a table whose last colour has no ';' keeps it); picture display sizes taken from the
// input are bounded; SYMBOL fields deliver their character (a malformed code fails);
// linked pictures are asked for only inside the folder the caller allows, read by the
// reader itself when no handler gives one, tried again URL-decoded, and an invalid one
// stands in for a field result without a picture; a metafile that draws one bitmap
// arrives as that bitmap; a damaged PNG arrives as its raw data and reading goes on.
#include <gtest/gtest.h>

#include "richtext/model/RVRTF.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/canvas.h"
#include "richtext/model/RVGraphics.h"
#include "tests/support/process.h"

namespace pelvar {
namespace {

TRVRTFColorList Colors(const std::string& rtf) {
  TRVRTFReader r(nullptr);
  r.OnNewText = [](TRVRTFReader*, const AnsiString&, TRVRTFPosition) {};
  TStringStream in(rtf);
  EXPECT_EQ(r.Parse(in), rtf_ec_OK);
  return r.ColorTable();
}

TEST(RVRTFReaderBounds, ColourTableKeepsALastColourWithoutSemicolon) {
  struct {
    const char* rtf;
    std::vector<TColor> colors;
  } cases[] = {
      {"{{\\colortbl;\\red255\\green0\\blue0;}x}", {clWindowText, 0x0000FF}},
      {"{{\\colortbl;\\red255\\green0\\blue0}x}", {clWindowText, 0x0000FF}},
      {"{{\\colortbl\\red0\\green0\\blue255}x}", {0xFF0000}},
      {"{{\\colortbl;;}x}", {clWindowText, clWindowText}},
      {"{x}", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rtf);
    TRVRTFColorList got = Colors(c.rtf);
    ASSERT_EQ(got.Count(), static_cast<int32_t>(c.colors.size()));
    for (size_t i = 0; i < c.colors.size(); ++i) EXPECT_EQ(got.Items(static_cast<int32_t>(i)), c.colors[i]);
  }
}

TEST(RVRTFReaderBounds, PictureSizesFromTheInputAreBounded) {
  struct {
    const char* rtf;
    int32_t w, h;
  } cases[] = {
      {"{\\pict\\macpict\\picwgoal2147483647\\pichgoal2147483647 00}", RTF_MAX_PICTURE_SIZE, RTF_MAX_PICTURE_SIZE},
      {"{\\pict\\macpict\\picwgoal-1440\\pichgoal-99999999 00}", 0, 0},
      {"{\\pict\\wmetafile8\\picw2147483647\\pich2540 0100090000030c0000000000030000000000030000000000}",
       RTF_MAX_PICTURE_SIZE, 96},
      {"{\\pict\\macpict\\picwgoal1440\\pichgoal720 00}", 96, 48},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rtf);
    TRVRTFReader r(nullptr);
    r.SetPixelsPerInch(96);
    int32_t w = -1, h = -1;
    r.OnNewPicture = [&](TRVRTFReader*, TRVRTFPicture* p, TGraphic*, TRVRTFPosition, const AnsiString&, bool&) {
      w = p->SuggestedWidth;
      h = p->SuggestedHeight;
    };
    TStringStream in(std::string("{") + c.rtf + "}");
    ASSERT_EQ(r.Parse(in), rtf_ec_OK);
    EXPECT_EQ(w, c.w);
    EXPECT_EQ(h, c.h);
  }
}


TEST(RVRTFReaderBounds, SymbolFields) {
  // A character code that is no number fails the document as a malformed parameter does.
  struct {
    const char* field;
    std::string text;
    uint8_t code = rtf_ec_OK;
  } cases[] = {
      {"SYMBOL 183 \\\\f \"Symbol\" \\\\s 10", "\xB7"},
      {"SYMBOL 183 \\\\f \"Symbol\"", ""},
      {"SYMBOL x1 \\\\f \"Symbol\" \\\\s 10", "", rtf_ec_Exception},
      {"SYMBOL 18x \\\\f \"Symbol\" \\\\s 10", "", rtf_ec_Exception},
      {"SYMBOL 99999999999999999999 \\\\f \"Symbol\" \\\\s 10", "", rtf_ec_Exception},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    TRVRTFReader r(nullptr);
    std::string text, font;
    int32_t size = 0;
    r.OnNewText = [&](TRVRTFReader* rd, const AnsiString& t, TRVRTFPosition) {
      if (t.empty()) return;
      text += t;
      font = rd->GroupState().CharProps.FontNameOverride;
      size = rd->GroupState().CharProps.Size;
    };
    TStringStream in(std::string("{{\\fonttbl{\\f0 Arial;}}\\fs24 {\\field{\\*\\fldinst ") + c.field +
                     "}{\\fldrslt }}}");
    ASSERT_EQ(r.Parse(in), c.code);
    EXPECT_EQ(text, c.text);
    if (!c.text.empty()) {
      EXPECT_EQ(font, "Symbol");
      EXPECT_EQ(size, 10);
    }
  }
}

class TTestGraphic : public TGraphic {
 public:
  int32_t Width() const override { return 1; }
  int32_t Height() const override { return 1; }
  void Draw(TCanvas&, const TRect&) override {}
};

TEST(RVRTFReaderBounds, LinkedPicturesOnlyFromTheAllowedFolder) {
  test::TempDir dir("rtfpic");
  mkdir(dir.File("pics").c_str(), 0700);
  std::ofstream(dir.File("pics/a.png")) << "x";
  std::ofstream(dir.File("secret.png")) << "x";
  symlink(dir.File("secret.png").c_str(), dir.File("pics/link.png").c_str());
  struct {
    const char* arg;
    bool allowed;
  } cases[] = {
      {"a.png", true},
      {"../secret.png", false},
      {"link.png", false},
      {"/../../etc/passwd", false},
  };
  for (bool allow : {false, true}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.arg) + (allow ? " allowed folder" : " no folder"));
      TRVRTFReader r(nullptr);
      r.SetPictureBasePath(dir.File("pics/"));
      if (allow) r.SetPictureAllowedFolder(dir.File("pics"));
      std::vector<std::string> asked;
      r.OnImportPicture = [&](TRVRTFReader*, const AnsiString& location, TGraphic*& g, bool& invalid) {
        asked.push_back(location);
        g = new TTestGraphic();
        invalid = false;
      };
      std::string delivered;
      r.OnNewPicture = [&](TRVRTFReader*, TRVRTFPicture* pic, TGraphic* g, TRVRTFPosition, const AnsiString& name,
                           bool& inserted) {
        EXPECT_EQ(pic, nullptr);
        EXPECT_NE(g, nullptr);
        delivered = name;
        inserted = false;  // the reader frees the graphic
      };
      TStringStream in(std::string("{{\\field{\\*\\fldinst INCLUDEPICTURE \"") + c.arg + "\" \\\\d}{\\fldrslt }}}");
      ASSERT_EQ(r.Parse(in), rtf_ec_OK);
      const bool expect = allow && c.allowed;
      EXPECT_EQ(asked.size(), expect ? 1u : 0u);
      if (expect) {
        EXPECT_EQ(delivered, dir.File("pics/a.png"));
      }
    }
  }
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

// A 4 x 4 red PNG (written by Python's zlib).
const char* kRedPng =
    "89504e470d0a1a0a0000000d4948445200000004000000040802000000269309290000001049444154789c63f8cfc000470cc47100ae93"
    "0ff1d05f239e0000000049454e44ae426082";

std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return out;
}
std::string Hex(const std::string& bytes) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out.push_back(d[c >> 4]);
    out.push_back(d[c & 15]);
  }
  return out;
}

struct TPictureLog {
  std::vector<std::string> classes;  // "" for no graphic
  std::vector<std::string> names;
  std::vector<size_t> raw_sizes;
  std::string text;
};

// A reader whose handlers log the pictures (declined, so the reader frees them) and text.
void Watch(TRVRTFReader& r, TPictureLog& log) {
  r.OnNewText = [&log](TRVRTFReader*, const AnsiString& t, TRVRTFPosition) { log.text += t; };
  r.OnNewPicture = [&log](TRVRTFReader*, TRVRTFPicture* pic, TGraphic* g, TRVRTFPosition, const AnsiString& name,
                          bool& inserted) {
    log.classes.push_back(g ? std::string(RVGraphicClassName(g)) : std::string());
    log.names.push_back(name);
    log.raw_sizes.push_back(pic ? static_cast<size_t>(pic->Data.Size()) : 0);
    inserted = false;
  };
}

TEST(RVRTFReaderPictures, LinkedPictureReadFromTheFileAndRetriedURLDecoded) {
  test::TempDir dir("rtflinked");
  mkdir(dir.File("pics").c_str(), 0700);
  std::ofstream(dir.File("pics/a b.png"), std::ios::binary) << Unhex(kRedPng);
  std::ofstream(dir.File("pics/plain.png"), std::ios::binary) << Unhex(kRedPng);
  std::ofstream(dir.File("secret.png"), std::ios::binary) << Unhex(kRedPng);
  struct {
    const char* arg;
    std::string name;  // delivered, "" when none
  } cases[] = {
      {"plain.png", dir.File("pics/plain.png")},
      {"a%20b.png", dir.File("pics/a b.png")},
      {"../secret.png", ""},
      {"..%2fsecret.png", ""},
      {"missing.png", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arg);
    TRVRTFReader r(nullptr);
    r.SetPictureBasePath(dir.File("pics/"));
    r.SetPictureAllowedFolder(dir.File("pics"));
    TPictureLog log;
    Watch(r, log);
    TStringStream in(std::string("{{\\field{\\*\\fldinst INCLUDEPICTURE \"") + c.arg + "\"}{\\fldrslt }}x}");
    ASSERT_EQ(r.Parse(in), rtf_ec_OK);
    EXPECT_EQ(log.text, "x");
    if (c.name.empty()) {
      EXPECT_TRUE(log.classes.empty());
    } else {
      ASSERT_EQ(log.classes, std::vector<std::string>{"TPNGImage"});
      EXPECT_EQ(log.names[0], c.name);
    }
  }
}

class TMarkedGraphic : public TGraphic {
 public:
  int32_t Width() const override { return 2; }
  int32_t Height() const override { return 2; }
  void Draw(TCanvas&, const TRect&) override {}
};

// A linked picture that the handler marks invalid is kept and offered when the field ends,
// unless the field's result brought a picture that was taken.
TEST(RVRTFReaderPictures, InvalidLinkedPictureOfferedAtTheFieldEnd) {
  test::TempDir dir("rtfinvalid");
  std::ofstream(dir.File("a.png")) << "x";
  for (bool result_taken : {false, true}) {
    SCOPED_TRACE(result_taken ? "result picture taken" : "no result picture");
    TRVRTFReader r(nullptr);
    r.SetPictureBasePath(dir.Path() + "/");
    r.SetPictureAllowedFolder(dir.Path());
    r.OnImportPicture = [](TRVRTFReader*, const AnsiString&, TGraphic*& g, bool& invalid) {
      g = new TMarkedGraphic();
      invalid = true;
    };
    std::vector<bool> marked;
    std::vector<std::unique_ptr<TGraphic>> taken;
    r.OnNewPicture = [&](TRVRTFReader*, TRVRTFPicture*, TGraphic* g, TRVRTFPosition, const AnsiString&,
                         bool& inserted) {
      marked.push_back(dynamic_cast<TMarkedGraphic*>(g) != nullptr);
      inserted = result_taken || dynamic_cast<TMarkedGraphic*>(g) != nullptr;
      if (inserted) taken.emplace_back(g);
    };
    TStringStream in(std::string("{{\\field{\\*\\fldinst INCLUDEPICTURE \"a.png\"}{\\fldrslt ") +
                     (result_taken ? "{\\pict\\pngblip " + std::string(kRedPng) + "}" : "") + "}}}");
    ASSERT_EQ(r.Parse(in), rtf_ec_OK);
    EXPECT_EQ(marked, result_taken ? std::vector<bool>{false} : std::vector<bool>{true});
  }
}

// A Windows metafile whose records set up the drawing and then stretch bitmaps.
std::string Wmf(int bitmaps) {
  auto le = [](std::string& s, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  std::string records;
  le(records, 4, 4), le(records, 0x0103, 2), le(records, 8, 2);  // SetMapMode
  for (int b = 0; b < bitmaps; ++b) {
    std::string dib;
    le(dib, 40, 4), le(dib, 2, 4), le(dib, 2, 4), le(dib, 1, 2), le(dib, 24, 2), le(dib, 0, 4), le(dib, 16, 4);
    le(dib, 0, 4), le(dib, 0, 4), le(dib, 0, 4), le(dib, 0, 4);
    for (int row = 0; row < 2; ++row) dib += std::string("\x00\x00\xff\x00\x00\xff\x00\x00", 8);  // red, red, pad
    std::string rec;
    le(rec, 0x00CC0020, 4), le(rec, 0, 2);
    for (int i = 0; i < 8; ++i) le(rec, 2, 2);
    rec += dib;
    le(records, static_cast<uint32_t>((6 + rec.size()) / 2), 4), le(records, 0x0F43, 2);
    records += rec;
  }
  le(records, 3, 4), le(records, 0, 2);  // end of file
  std::string w;
  le(w, 1, 2), le(w, 9, 2), le(w, 0x0300, 2), le(w, static_cast<uint32_t>((18 + records.size()) / 2), 4);
  le(w, 0, 2), le(w, 64, 4), le(w, 0, 2);
  return w + records;
}

TEST(RVRTFReaderPictures, MetafileDrawingOneBitmapArrivesAsTheBitmap) {
  struct {
    int bitmaps;
    bool extract;
    const char* cls;
  } cases[] = {
      {1, true, "TBitmap"},
      {1, false, "TMetafile"},
      {2, true, "TMetafile"},
      {0, true, "TMetafile"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bitmaps) + (c.extract ? " extract" : " keep"));
    TRVRTFReader r(nullptr);
    r.SetExtractMetafileBitmaps(c.extract);
    TPictureLog log;
    Watch(r, log);
    TStringStream in("{{\\pict\\wmetafile8\\picw53\\pich53 " + Hex(Wmf(c.bitmaps)) + "}}");
    ASSERT_EQ(r.Parse(in), rtf_ec_OK);
    ASSERT_EQ(log.classes, std::vector<std::string>{c.cls});
  }
}

// A PNG picture whose bytes are no PNG arrives without a graphic but with its raw data, and
// the text after it is read.
TEST(RVRTFReaderPictures, DamagedPngDeliversItsRawDataAndReadingGoesOn) {
  TRVRTFReader r(nullptr);
  TPictureLog log;
  Watch(r, log);
  TStringStream in("{{\\pict\\pngblip 89504e470d0a1a0a0011223344}after}");
  ASSERT_EQ(r.Parse(in), rtf_ec_OK);
  ASSERT_EQ(log.classes, std::vector<std::string>{""});
  EXPECT_EQ(log.raw_sizes[0], 13u);
  EXPECT_EQ(log.text, "after");
}

}  // namespace
}  // namespace pelvar
