#include "richtext/model/RVConst.h"

#include <gtest/gtest.h>

#include <set>

namespace pelvar {
namespace {

TEST(RVConstTest, FamilyFormatsAreRegisteredOnceWithDistinctIds) {
  std::set<uint16_t> ids = {CFRV_RVF(), CFRV_RTF(), CFRV_URL(), CFRV_HTML()};
  EXPECT_EQ(ids.size(), 4u);
  EXPECT_EQ(ids.count(0), 0u);
  EXPECT_EQ(GetClipboardFormatName(CFRV_RVF()), "DocView Format");
  EXPECT_EQ(GetClipboardFormatName(CFRV_RTF()), "Rich Text Format");
  EXPECT_EQ(GetClipboardFormatName(CFRV_URL()), "UniformResourceLocator");
  EXPECT_EQ(GetClipboardFormatName(CFRV_HTML()), "HTML Format");
  // Another component registering the same names gets the same ids (any case).
  EXPECT_EQ(RegisterClipboardFormat("Rich Text Format"), CFRV_RTF());
  EXPECT_EQ(RegisterClipboardFormat("html format"), CFRV_HTML());
  uint16_t rvf = CFRV_RVF();
  RVRegisterClipboardFormats();
  EXPECT_EQ(CFRV_RVF(), rvf);
  uint16_t other = RegisterClipboardFormat("Some Other Format");
  EXPECT_GE(other, 0xC000);
  EXPECT_EQ(ids.count(other), 0u);
  EXPECT_EQ(RegisterClipboardFormat(""), 0);
}

TEST(RVConstTest, DisplayNames) {
  EXPECT_STREQ(RVListTypeStr[0], "bullet");
  EXPECT_STREQ(RVListTypeStr[3], "1,2,3");
  EXPECT_STREQ(RVListTypeStr[9], "unicode bullet");
  EXPECT_STREQ(RVAlignStr[2], "center");
}

}  // namespace
}  // namespace pelvar
