// RTF reader: the colour table loses only the entry the reader opened after the last ';'
// (a table whose last colour has no ';' keeps it), and picture display sizes taken from
// the input are bounded.
#include <gtest/gtest.h>

#include "richtext/model/RVRTF.h"

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
      {"{\\pict\\pngblip\\picwgoal2147483647\\pichgoal2147483647 00}", RTF_MAX_PICTURE_SIZE, RTF_MAX_PICTURE_SIZE},
      {"{\\pict\\pngblip\\picwgoal-1440\\pichgoal-99999999 00}", 0, 0},
      {"{\\pict\\wmetafile8\\picw2147483647\\pich2540 00}", RTF_MAX_PICTURE_SIZE, 96},
      {"{\\pict\\pngblip\\picwgoal1440\\pichgoal720 00}", 96, 48},
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

}  // namespace
}  // namespace pelvar
