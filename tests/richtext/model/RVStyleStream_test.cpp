// List styles and style templates in the component streaming: a style sheet read back as a
// form reads it keeps every level (font, picture, 8-bit and UTF-16 format strings, the image
// list found by name), the list ids and the templates with their ids, names and parents;
// a document streaming the list styles names image lists by Tag; an image list going away
// leaves every level; cyclic parents in a stream never hang.
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVImageList.h"
#include "richtext/model/RVStyleTemplate.h"
#include "richtext/model/RVStyle_list.h"

namespace pelvar {
namespace {

std::string Contents(TMemoryStream& m) {
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

// A form owning a style sheet and an image list named "Bullets".
struct Form {
  TComponent form{nullptr};
  TRVStyle* style = new TRVStyle(&form);
  TCustomImageList* list = new TCustomImageList(&form);
  Form() {
    form.SetName("Form");
    style->SetName("Sheet");
    list->SetName("Bullets");
  }
  // Reads the style sheet the way a form loader does, the form being the root.
  void Read(TMemoryStream& m) {
    m.SetPosition(0);
    TReader r(m);
    r.SetRoot(&form);
    r.ReadSignature();
    r.ReadComponent(style);
  }
};

TEST(ListStyleStreaming, AStyleSheetReadBackKeepsLevelsIdsAndTemplates) {
  Form a;
  TRVListInfo* li = a.style->ListStyles()->Add();
  li->StyleName = CZ("Odrážky");
  li->OneLevelPreview = true;
  li->SetListId(123456);
  TRVListLevel* l0 = li->Levels()->Add();
  l0->ListType = rvlstImageList;
  l0->SetImageList(a.list);
  l0->ImageIndex = 2;
  l0->Font()->SetName("DejaVu Sans");
  l0->Font()->SetSize(12);
  l0->Font()->SetStyle({fsBold});
  auto pic = std::make_shared<TBitmap>(3, 2, 0xFF102030u);
  l0->SetPicture(pic);
  TRVListLevel* l1 = li->Levels()->Add();
  l1->ListType = rvlstUpperRoman;
  l1->FormatString = CZ("%0:s. – ");
  l1->FormatStringW = u"\U0001F600%0:s";
  l1->LeftIndent = 24;
  l1->Options = {rvloLegalStyleNumbering};
  l1->StartFrom = 3;

  TRVStyleTemplateCollection* tc = a.style->StyleTemplates();
  tc->DefStyleName = "Vzor %d";
  TRVStyleTemplate* normal = tc->Add();
  normal->SetName("Normal");
  TRVStyleTemplate* heading = tc->Add();
  heading->SetName("Heading");
  heading->ValidTextProperties = {rvfiBold, rvfiSize};
  heading->TextStyle.Size = 16;
  heading->ValidParaProperties1 = {rvpiSpaceBefore};
  heading->ParaStyle.SpaceBefore = 12;
  TRVStyleTemplate* sub = tc->Add();
  sub->SetParentId(heading->Id());

  TMemoryStream m;
  WriteComponentToStream(m, a.style);
  const std::string bytes = Contents(m);
  for (const char* present : {"FormatStringCode", "FormatStringWCode", "LstID", "IDProp", "Picture.Data", "Font.Name",
                              "StyleTemplates.DefStyleName", "ImageList"})
    EXPECT_NE(bytes.find(present), std::string::npos) << present;
  // Template styles carry no style names; plain format strings are never written as such.
  for (const char* absent : {"TextStyle.StyleName", "ParaStyle.Standard", "FormatString\x06", "ILTag"})
    EXPECT_EQ(bytes.find(absent), std::string::npos) << absent;

  Form b;
  b.Read(m);
  ASSERT_EQ(b.style->ListStyles()->Count(), 1);
  TRVListInfo* rl = b.style->ListStyles()->Items(0);
  EXPECT_EQ(rl->StyleName, CZ("Odrážky"));
  EXPECT_TRUE(rl->OneLevelPreview);
  EXPECT_EQ(rl->GetListId(), 123456);
  ASSERT_EQ(rl->Levels()->Count(), 2);
  TRVListLevel* r0 = rl->Levels()->Items(0);
  EXPECT_EQ(r0->ImageList, b.list) << "found by name among the form's components";
  ASSERT_TRUE(r0->HasFontObject() && r0->HasPicture());
  auto* rp = dynamic_cast<TBitmap*>(r0->Picture());
  ASSERT_NE(rp, nullptr);
  EXPECT_EQ(rp->Image.Pixels, pic->Image.Pixels);
  r0->ImageList = a.list;  // the rest must be equal field for field
  EXPECT_TRUE(r0->IsEqual(l0));
  EXPECT_TRUE(rl->Levels()->Items(1)->IsEqual(l1));
  EXPECT_EQ(rl->Levels()->Items(1)->FormatStringW, u"\U0001F600%0:s");
  EXPECT_FALSE(rl->Levels()->Items(1)->HasFontObject());

  TRVStyleTemplateCollection* rc = b.style->StyleTemplates();
  EXPECT_EQ(rc->DefStyleName, "Vzor %d");
  ASSERT_EQ(rc->Count(), 3);
  EXPECT_EQ(rc->NormalStyleTemplate(), rc->Items(0));
  EXPECT_EQ(rc->Items(2)->Name(), "Vzor 3");
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(rc->Items(i)->Id(), tc->Items(i)->Id());
  EXPECT_EQ(rc->Items(2)->Parent(), rc->Items(1)) << "parents are resolved when loading ends";
  EXPECT_EQ(rc->Items(1)->Children(), std::vector<TRVStyleTemplate*>{rc->Items(2)});
  EXPECT_EQ(rc->Items(1)->TextStyle.Size, 16);
  EXPECT_EQ(rc->Items(1)->ValidTextProperties, (TRVFontInfoProperties{rvfiBold, rvfiSize}));
  EXPECT_EQ(rc->Items(1)->ParaStyle.SpaceBefore, 12);

  DoNotStoreListIds = true;
  TMemoryStream n;
  WriteComponentToStream(n, a.style);
  DoNotStoreListIds = false;
  EXPECT_EQ(Contents(n).find("LstID"), std::string::npos);
}

TEST(ListStyleStreaming, ADocumentStreamingListStylesNamesImageListsByTag) {
  TCustomImageList list(nullptr), other(nullptr);
  list.SetTag(42);
  TCustomRVData doc;
  doc.OnRVFImageListNeeded = [&](int32_t tag) -> TObject* { return tag == 42 ? &list : nullptr; };
  TRVListInfos infos;
  infos.Add()->Levels()->Add()->ImageList = &list;
  infos.RVData = &doc;
  TMemoryStream m;
  TWriter(m).WriteCollection(&infos);
  infos.RVData = nullptr;
  EXPECT_NE(Contents(m).find("ILTag"), std::string::npos);
  EXPECT_EQ(Contents(m).find("ImageList"), std::string::npos);

  TRVListInfos back;
  back.RVData = &doc;
  m.SetPosition(0);
  TReader(m).ReadCollection(&back);
  EXPECT_EQ(back.Items(0)->Levels()->Items(0)->ImageList, &list);
  // Without an owner that supplies it, the level has no list.
  TCustomRVData bare;
  back.RVData = &bare;
  m.SetPosition(0);
  TReader(m).ReadCollection(&back);
  EXPECT_EQ(back.Items(0)->Levels()->Items(0)->ImageList, nullptr);
}

TEST(ListStyleStreaming, AnImageListGoingAwayLeavesEveryLevelOfTheSheet) {
  TRVStyle style(nullptr);
  auto list = std::make_unique<TCustomImageList>(nullptr);
  for (int32_t i = 0; i < 2; ++i) {
    TRVListInfo* li = style.ListStyles()->Add();
    li->Levels()->Add()->SetImageList(list.get());
    li->Levels()->Add()->SetImageList(list.get());
  }
  list.reset();
  for (int32_t i = 0; i < 2; ++i)
    for (int32_t j = 0; j < 2; ++j) EXPECT_EQ(style.ListStyles()->Items(i)->Levels()->Items(j)->ImageList, nullptr);
}

TEST(ListStyleStreaming, CyclicTemplateParentsInAStreamNeverHang) {
  Form a;
  TRVStyleTemplateCollection* c = a.style->StyleTemplates();
  TRVStyleTemplate* x = c->Add();
  TRVStyleTemplate* y = c->Add();
  x->ValidTextProperties = {rvfiColor};
  x->TextStyle.Color = clRed;
  // A cycle can only come from outside: set while the sheet loads.
  a.style->BeginLoading();
  x->SetParentId(y->Id());
  y->SetParentId(x->Id());
  a.style->EndLoading();
  TMemoryStream m;
  WriteComponentToStream(m, a.style);

  Form b;
  b.Read(m);
  TRVStyleTemplateCollection* rc = b.style->StyleTemplates();
  ASSERT_EQ(rc->Count(), 2);
  EXPECT_EQ(rc->Items(0)->Parent(), rc->Items(1));
  EXPECT_EQ(rc->Items(1)->Parent(), rc->Items(0));
  TFontInfo f(nullptr);
  rc->Items(1)->ApplyToTextStyle(&f, nullptr, true);
  EXPECT_EQ(f.Color, clRed);

  // Read as a bare collection of a running sheet: the parent read second is linked at once.
  TRVStyle running(nullptr);
  TMemoryStream cm;
  TWriter(cm).WriteCollection(c);
  cm.SetPosition(0);
  TReader(cm).ReadCollection(running.StyleTemplates());
  running.StyleTemplates()->UpdateParentReferences();
  TFontInfo g(nullptr);
  running.StyleTemplates()->Items(0)->ApplyToTextStyle(&g, nullptr, true);
  EXPECT_EQ(g.Color, clRed);
}

}  // namespace
}  // namespace pelvar
