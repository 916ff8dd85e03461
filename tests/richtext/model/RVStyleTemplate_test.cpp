// Style templates of a style sheet: default names, the normal template, unique ids, parent
// links with the refused cycle, a cycle read from a stream walked once, and applying the
// chain of templates to text and paragraph styles with hand-made changes kept.
#include "richtext/model/RVStyleTemplate.h"

#include <gtest/gtest.h>

#include "richtext/model/RVItem.h"

namespace pelvar {
namespace {

TEST(StyleTemplateTest, NamesNormalAndIds) {
  TRVStyle style(nullptr);
  TRVStyleTemplateCollection* c = style.StyleTemplates();
  TRVStyleTemplate* a = c->Add();
  TRVStyleTemplate* b = c->Add();
  TRVStyleTemplate* d = c->Add();
  EXPECT_EQ(a->Name(), "Style 1");
  EXPECT_EQ(b->Name(), "Style 2");
  EXPECT_EQ(d->Name(), "Style 3");
  c->Clear();
  EXPECT_EQ(c->Add()->Name(), "Style 1");
  TRVStyleTemplate* n = c->Add();
  n->SetName("Normal");
  EXPECT_EQ(c->NormalStyleTemplate(), n);
  n->SetName("Other");
  EXPECT_EQ(c->NormalStyleTemplate(), nullptr);
  RVSetRandomSeed(1);
  const TRVStyleTemplateId id0 = c->Items(0)->Id();
  EXPECT_GT(id0, 0);
  EXPECT_NE(c->Items(1)->Id(), id0);
  EXPECT_EQ(c->Items(0)->Id(), id0);
}

TEST(StyleTemplateTest, CyclesAreRefusedAndStreamedCyclesNeverHang) {
  TRVStyle style(nullptr);
  TRVStyleTemplateCollection* c = style.StyleTemplates();
  TRVStyleTemplate* a = c->Add();
  TRVStyleTemplate* b = c->Add();
  TRVStyleTemplate* k = c->Add();
  a->SetParentId(b->Id());
  EXPECT_EQ(a->Parent(), b);
  try {
    b->SetParentId(a->Id());
    FAIL() << "no error";
  } catch (const EDocViewError& e) {
    EXPECT_STREQ(e.what(), "Circular references are not allowed");
  }
  EXPECT_EQ(b->ParentId(), -1);
  EXPECT_EQ(b->Parent(), nullptr);
  EXPECT_THROW(a->SetParentId(a->Id()), EDocViewError);
  EXPECT_EQ(a->ParentId(), -1);
  // Destroying a parent leaves its children without one.
  a->SetParentId(k->Id());
  b->SetParentId(k->Id());
  delete k;
  EXPECT_EQ(a->ParentId(), -1);
  EXPECT_EQ(b->Parent(), nullptr);

  // Ids read from a stream make a cycle that only UpdateParentReferences sees; applying
  // walks it once.
  style.BeginLoading();
  a->SetParentId(b->Id());
  b->SetParentId(a->Id());
  style.EndLoading();
  c->UpdateParentReferences();
  EXPECT_EQ(a->Parent(), b);
  EXPECT_EQ(b->Parent(), a);
  a->ValidTextProperties = {rvfiColor};
  a->TextStyle.Color = clRed;
  b->ValidTextProperties = {rvfiColor, rvfiSize};
  b->TextStyle.Size = 20;
  TFontInfo* f = style.TextStyles()->Add();
  a->ApplyToTextStyle(f, nullptr, true);
  EXPECT_EQ(f->Color, clRed);
  EXPECT_EQ(f->Size, 20);
}

TEST(StyleTemplateTest, ApplyingTheChainKeepsModifiedProperties) {
  TRVStyle style(nullptr);
  TRVStyleTemplateCollection* c = style.StyleTemplates();
  TRVStyleTemplate* parent = c->Add();
  TRVStyleTemplate* child = c->Add();
  child->SetParentId(parent->Id());
  parent->ValidTextProperties = {rvfiBold, rvfiSize};
  parent->TextStyle.Style = TFontStyles{fsBold};
  parent->TextStyle.Size = 14;
  child->ValidTextProperties = {rvfiColor};
  child->TextStyle.Color = clBlue;

  TFontInfo* f = style.TextStyles()->Add();
  f->Size = 30;
  f->ModifiedProperties = {rvfiSize};
  child->ApplyToTextStyle(f, nullptr, false);
  EXPECT_TRUE(f->Style.Contains(fsBold));
  EXPECT_EQ(f->Color, clBlue);
  EXPECT_EQ(f->Size, 30);  // changed by hand: kept
  child->ApplyToTextStyle(f, nullptr, true);
  EXPECT_EQ(f->Size, 14);
  EXPECT_FALSE(f->ModifiedProperties.Contains(rvfiSize));
  EXPECT_EQ(f->StyleTemplateId, child->Id());
  // The child's own Bold wins over its parent's.
  child->ValidTextProperties = {rvfiColor, rvfiBold};
  child->ApplyToTextStyle(f, nullptr, true);
  EXPECT_FALSE(f->Style.Contains(fsBold));

  TParaInfo* p = style.ParaStyles()->Add();
  parent->ValidParaProperties1 = {rvpiFirstIndent};
  parent->ParaStyle.FirstIndent = 17;
  child->ApplyToParaStyle(p, true);
  EXPECT_EQ(p->FirstIndent, 17);
  EXPECT_EQ(p->StyleTemplateId, child->Id());
}

}  // namespace
}  // namespace pelvar
