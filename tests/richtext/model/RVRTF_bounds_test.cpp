// RTF reader: the colour table loses only the entry the reader opened after the last ';'
// (a table whose last colour has no ';' keeps it); picture display sizes taken from the
// input are bounded; SYMBOL fields deliver their character; linked pictures are asked for
// only inside the folder the caller allows.
#include <gtest/gtest.h>

#include "richtext/model/RVRTF.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/canvas.h"
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
  struct {
    const char* field;
    std::string text;
  } cases[] = {
      {"SYMBOL 183 \\\\f \"Symbol\" \\\\s 10", "\xB7"},
      {"SYMBOL 183 \\\\f \"Symbol\"", ""},
      {"SYMBOL x1 \\\\f \"Symbol\" \\\\s 10", ""},
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
    ASSERT_EQ(r.Parse(in), rtf_ec_OK);
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
