#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "platform/exceptions.h"
#include "platform/streams.h"
#include "richtext/model/RVStyle.h"
#include "tests/support/process.h"

namespace pelvar {
namespace {

std::vector<int32_t> Positions(const TRVTabInfos& tabs) {
  std::vector<int32_t> r;
  for (int32_t i = 0; i < tabs.Count(); ++i) r.push_back(tabs.Items(i)->Position());
  return r;
}

TEST(RVParaStyleTest, DefaultsAndLineSpacing) {
  TParaInfos infos;
  TParaInfo* p = infos.Add();
  EXPECT_EQ(p->StyleName, "Paragraph Style");
  EXPECT_EQ(p->LineSpacing, 100);
  EXPECT_EQ(p->LineSpacingType, rvlsPercent);
  EXPECT_EQ(p->Alignment, rvaLeft);
  EXPECT_EQ(p->NextParaNo, -1);
  EXPECT_EQ(p->DefStyleNo, -1);
  EXPECT_EQ(p->Border().Style, rvbNone);
  EXPECT_EQ(p->Background().Color, clNone);
  EXPECT_EQ(p->Tabs().Count(), 0);
  EXPECT_EQ(p->Tabs().Owner(), p);
  EXPECT_FALSE(p->IsLineSpacingSet());

  struct Case { TRVLineSpacingType type; int32_t value; bool set; };
  for (const Case& c : {Case{rvlsSpaceBetween, 0, false}, Case{rvlsSpaceBetween, 3, true},
                        Case{rvlsPercent, 120, true}, Case{rvlsPercent, 100, false}}) {
    p->LineSpacingType = c.type;
    p->LineSpacing = c.value;
    EXPECT_EQ(p->IsLineSpacingSet(), c.set) << c.type << " " << c.value;
  }
  EXPECT_TRUE(RVAllParaInfoProperties.Contains(rvpiCustom));
  EXPECT_TRUE(RVAllParaInfoProperties.Contains(rvpiBorder_Color));
}

// The property numbers are stored (masks, modified sets): they follow the documented order,
// and the two modified sets are no wider than their ranges.
TEST(RVParaStyleTest, PropertyNumbersAndSetWidths) {
  const std::pair<TRVParaInfoProperty, int> numbers[] = {
      {rvpiFirstIndent, 0},      {rvpiAlignment, 5},          {rvpiLineSpacingType, 9},
      {rvpiBackground_Color, 10}, {rvpiBorder_Color, 15},     {rvpiBorder_Vis_Bottom, 26},
      {rvpiNoWrap, 27},          {rvpiBiDiMode, 34},          {rvpiCustom, 35}};
  for (auto [p, n] : numbers) EXPECT_EQ(static_cast<int>(p), n);
  EXPECT_EQ(RVAllParaInfoProperties.ToBits(), (uint64_t{1} << 36) - 1);
  static_assert(sizeof(TRVParaInfoProperties1) == 4);
  static_assert(sizeof(TRVParaInfoProperties2) == 1);
  TRVParaInfoProperties2 two{rvpiNoWrap, rvpiBiDiMode};
  EXPECT_EQ(two.ToBits(), 0x81);
  EXPECT_TRUE(two.Contains(rvpiBiDiMode));
  EXPECT_FALSE(two.Contains(rvpiTabs));
}

TEST(RVParaStyleTest, InvalidIndexStyleCopiesStyleZeroWithRedFrame) {
  TParaInfos infos;
  infos.Add()->Alignment = rvaCenter;
  TParaInfo* bad = infos.Items(5);
  EXPECT_EQ(bad, infos.Items(-1));
  EXPECT_EQ(bad->Alignment, rvaCenter);
  EXPECT_EQ(bad->SpaceBefore, 1);
  EXPECT_EQ(bad->RightIndent, 1);
  EXPECT_EQ(bad->Border().Style, rvbSingle);
  EXPECT_EQ(bad->Border().Color, clRed);
  EXPECT_EQ(bad->Border().Width, 2);
  EXPECT_EQ(bad->Border().BorderOffsets().Left, 1);
  EXPECT_EQ(infos.Count(), 1);
}

TEST(RVTabInfosTest, SortingAssignDisplayAndCompare) {
  TParaInfos infos;
  TParaInfo* p = infos.Add();
  for (int32_t pos : {300, 100, 200}) p->Tabs().Add()->SetPosition(pos);
  EXPECT_EQ(Positions(p->Tabs()), (std::vector<int32_t>{100, 200, 300}));
  p->Tabs().Items(0)->SetPosition(250);
  EXPECT_EQ(Positions(p->Tabs()), (std::vector<int32_t>{200, 250, 300}));

  TRVTabInfo* t = p->Tabs().Items(0);
  t->Align = rvtaRight;
  t->SetPosition(120);
  t->Leader = ".";
  EXPECT_EQ(t->DisplayName(), "right at 120 (......)");
  t->Leader.clear();
  EXPECT_EQ(t->DisplayName(), "right at 120");

  TParaInfo* q = infos.Add();
  q->Assign(p);
  EXPECT_TRUE(q->Tabs().IsEqual(&p->Tabs()));
  EXPECT_TRUE(q->SameProperties(p, false, false));
  EXPECT_EQ(q->Tabs().Closeness(&p->Tabs()), 3 * (200 + 100 + 50));
  // Leaders compare case-sensitively.
  q->Tabs().Items(1)->Leader = "a";
  p->Tabs().Items(1)->Leader = "A";
  EXPECT_FALSE(q->Tabs().IsEqual(&p->Tabs()));
  EXPECT_FALSE(q->SameProperties(p, false, false));
  EXPECT_TRUE(q->SamePropertiesExcept(p, {rvpiTabs}));
  // Extra tab stops cost 400 each.
  q->Tabs().Clear();
  EXPECT_EQ(q->Tabs().Closeness(&p->Tabs()), -1200);
  EXPECT_EQ(p->Tabs().Closeness(&q->Tabs()), -1200);
}

TEST(RVParaStyleTest, AssignPropertiesCopiesOnlyMasked) {
  TParaInfos infos;
  TParaInfo* src = infos.Add();
  src->LeftIndent = 10;
  src->RightIndent = 20;
  src->Alignment = rvaJustify;
  src->Options = {rvpaoNoWrap, rvpaoKeepWithNext};
  src->NextParaNo = 0;
  src->Border().Style = rvbDouble;
  src->Tabs().Add()->SetPosition(40);
  TParaInfo* dst = infos.Add();
  dst->Options = {rvpaoReadOnly};
  dst->AssignProperties(src, {rvpiLeftIndent, rvpiNoWrap, rvpiReadOnly, rvpiBorder_Style, rvpiTabs, rvpiNextParaNo});
  EXPECT_EQ(dst->LeftIndent, 10);
  EXPECT_EQ(dst->RightIndent, 0);
  EXPECT_EQ(dst->Alignment, rvaLeft);
  EXPECT_EQ(dst->Options, (TRVParaOptions{rvpaoNoWrap}));
  EXPECT_EQ(dst->Border().Style, rvbDouble);
  EXPECT_EQ(dst->Tabs().Count(), 1);
  EXPECT_EQ(dst->NextParaNo, -1);
}

TEST(RVParaStyleTest, EqualityAndReferences) {
  TParaInfos infos;
  TParaInfo* a = infos.Add();
  TParaInfo* b = infos.Add();
  b->DefStyleNo = 3;
  TRVIntegerList mapping;
  EXPECT_TRUE(a->SameAsMapped(b, mapping));
  EXPECT_FALSE(a->SameProperties(b, false, false));
  EXPECT_TRUE(a->SameProperties(b, true, false));
  EXPECT_FALSE(a->SamePropertiesExcept(b, {}));
  EXPECT_TRUE(a->SamePropertiesExcept(b, {rvpiDefStyleNo}));
  b->DefStyleNo = -1;
  b->ModifiedProperties2 = {rvpiTabs};
  EXPECT_FALSE(a->SameProperties(b, true, false));
  EXPECT_FALSE(a->SamePropertiesExcept(b, RVAllParaInfoProperties));
  b->ModifiedProperties2 = {};

  // Each field, made different, breaks equality and is ignored by its own property.
  struct Case { std::function<void(TParaInfo*)> change; TRVParaInfoProperty prop; };
  const std::vector<Case> cases = {
      {[](TParaInfo* p) { p->FirstIndent = 5; }, rvpiFirstIndent},
      {[](TParaInfo* p) { p->SpaceAfter = 5; }, rvpiSpaceAfter},
      {[](TParaInfo* p) { p->LineSpacing = 150; }, rvpiLineSpacing},
      {[](TParaInfo* p) { p->LineSpacingType = rvlsSpaceBetween; }, rvpiLineSpacingType},
      {[](TParaInfo* p) { p->Options.Include(rvpaoDoNotWantReturns); }, rvpiDoNotWantReturns},
      {[](TParaInfo* p) { p->BiDiMode = rvbdRightToLeft; }, rvpiBiDiMode},
      {[](TParaInfo* p) { p->Background().Color = clRed; }, rvpiBackground_Color},
      {[](TParaInfo* p) { p->Border().Width = 4; }, rvpiBorder_Width},
      {[](TParaInfo* p) { p->NextParaNo = 1; }, rvpiNextParaNo},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    TParaInfo* c = infos.Add();
    cases[i].change(c);
    EXPECT_FALSE(a->SameProperties(c, false, false)) << i;
    EXPECT_FALSE(a->SamePropertiesExcept(c, {})) << i;
    EXPECT_TRUE(a->SamePropertiesExcept(c, {cases[i].prop})) << i;
  }
}

TEST(RVParaStyleTest, ClosenessAndSearching) {
  TParaInfos infos;
  TParaInfo* a = infos.Add();
  TParaInfo* b = infos.Add();
  const int32_t same = a->Closeness(b);
  b->Alignment = rvaRight;
  EXPECT_EQ(a->Closeness(b), same - 50000);
  b->Alignment = rvaLeft;
  b->Options.Include(rvpaoReadOnly);
  EXPECT_EQ(a->Closeness(b), same - 100000);
  b->Options = {};
  // Different line-spacing types: a penalty only when exactly one of them is set.
  b->LineSpacingType = rvlsSpaceBetween;
  b->LineSpacing = 0;
  const int32_t base_ls = same - CalcIntSimilarity(100, 100, 5000);
  EXPECT_EQ(a->Closeness(b), base_ls);
  b->LineSpacing = 4;
  EXPECT_EQ(a->Closeness(b), base_ls - 20000);

  b->LineSpacingType = rvlsPercent;
  b->LineSpacing = 100;
  b->LeftIndent = 30;
  TParaInfos others;
  TParaInfo* probe = others.Add();
  probe->LeftIndent = 30;
  probe->RightIndent = 7;
  EXPECT_EQ(infos.FindMatchingStyle(0, probe, {rvpiLeftIndent}), 1);
  infos.Add()->Assign(probe);
  EXPECT_EQ(infos.FindMatchingStyle(2, probe, {rvpiLeftIndent}), 2);
  EXPECT_EQ(infos.FindMatchingStyle(0, probe, {rvpiLeftIndent, rvpiFirstIndent}), 1);
  probe->FirstIndent = 9;
  EXPECT_EQ(infos.FindMatchingStyle(0, probe, {rvpiLeftIndent, rvpiFirstIndent}), -1);
}

TEST(RVParaStyleTest, MergeRenumbersNextParaAndDefStyle) {
  TParaInfos target;
  target.Add();  // plain style 0
  TParaInfos source;
  TParaInfo* s0 = source.Add();
  s0->Alignment = rvaCenter;
  s0->NextParaNo = 1;
  s0->DefStyleNo = 1;
  TParaInfo* s1 = source.Add();
  s1->DefStyleNo = 0;
  TParaInfo* s2 = source.Add();
  s2->SpaceBefore = 8;
  s2->DefStyleNo = 7;  // beyond the incoming text styles

  TRVIntegerList text_mapping;
  text_mapping.Add(4);
  text_mapping.Add(9);
  TRVIntegerList mapping;
  target.MergeStyles(&source, 0, mapping, &text_mapping);
  // Source style 1 differs from target style 0 only by DefStyleNo, which takes no part in
  // matching: it is reused.
  ASSERT_EQ(mapping.Count(), 3);
  EXPECT_EQ(mapping.Items(0), 1);
  EXPECT_EQ(mapping.Items(1), 0);
  EXPECT_EQ(mapping.Items(2), 2);
  ASSERT_EQ(target.Count(), 3);
  EXPECT_EQ(target.Items(0)->DefStyleNo, -1);
  EXPECT_EQ(target.Items(1)->NextParaNo, 0);
  EXPECT_EQ(target.Items(1)->DefStyleNo, 9);
  EXPECT_FALSE(target.Items(1)->Standard);
  EXPECT_EQ(target.Items(2)->DefStyleNo, -1);

  // Merging the same styles again reuses them all.
  TRVIntegerList again;
  TParaInfos source2;
  source2.Add()->Assign(target.Items(1));
  source2.Items(0)->NextParaNo = -1;
  target.MergeStyles(&source2, 0, again, &text_mapping);
  EXPECT_EQ(target.Count(), 3);
  EXPECT_EQ(again.Items(0), 1);

  // The closest-style mode adds nothing.
  TParaInfos source3;
  source3.Add()->SpaceBefore = 7;
  target.MergeStyles(&source3, 1, again, nullptr);
  EXPECT_EQ(target.Count(), 3);
  EXPECT_EQ(again.Items(0), 2);
}

TEST(RVParaStyleIniTest, KeysAndRoundTrip) {
  test::TempDir dir("parastyles");
  TIniFile ini(dir.File("styles.ini"));
  TParaInfos infos;
  TParaInfo* p = infos.Add();
  p->StyleName = "Nadpis";
  p->SpaceBefore = 3;
  p->FirstIndent = -12;
  p->LineSpacing = 2;
  p->LineSpacingType = rvlsSpaceBetween;
  p->Alignment = rvaJustify;
  p->BiDiMode = rvbdRightToLeft;
  p->Options = {rvpaoKeepWithNext, rvpaoReadOnly};
  p->Border().Style = rvbSingle;
  p->Background().Color = clRed;
  p->NextParaNo = 2;
  p->DefStyleNo = 5;
  p->Tabs().Add()->SetPosition(100);
  TRVTabInfo* t = p->Tabs().Add();
  t->SetPosition(50);
  t->Align = rvtaCenter;
  t->Leader = "-";
  p->WriteIni(ini, "Para", "%s");

  EXPECT_EQ(ini.ReadInteger("Para", "TabTabCount", 0), 2);
  EXPECT_EQ(ini.ReadInteger("Para", "TabTabPos0", 0), 50);
  EXPECT_EQ(ini.ReadInteger("Para", "TabTabAlign0", 0), rvtaCenter);
  EXPECT_EQ(ini.ReadString("Para", "TabTabLeader0", ""), "-");
  EXPECT_EQ(ini.ReadInteger("Para", "TabTabPos1", 0), 100);
  EXPECT_FALSE(ini.ValueExists("Para", "TabTabLeader1"));
  EXPECT_FALSE(ini.ValueExists("Para", "TabTabAlign1"));
  EXPECT_EQ(ini.ReadInteger("Para", "LSType", 0), 1);
  EXPECT_EQ(ini.ReadString("Para", "KeepWithNext", ""), "Yes");
  EXPECT_FALSE(ini.ValueExists("Para", "NoWrap"));
  EXPECT_FALSE(ini.ValueExists("Para", "RightIndent"));
  EXPECT_EQ(ini.ReadInteger("Para", "BorderStyle", 0), rvbSingle);
  EXPECT_EQ(ini.ReadInteger("Para", "BackgroundColor", clNone), clRed);
  EXPECT_EQ(ini.ReadInteger("Para", "DefStyleNo", -1), 5);

  TParaInfo* q = infos.Add();
  q->Options = {rvpaoNoWrap};  // cleared by reading
  q->Tabs().Add()->SetPosition(7);
  q->ReadIni(ini, "Para", "%s");
  EXPECT_TRUE(q->SameProperties(p, false, false));
  EXPECT_EQ(q->StyleName, "Nadpis");

  // A prefixed key format and an empty section give defaults.
  TParaInfo* r = infos.Add();
  r->WriteIni(ini, "Other", "P1%s");
  EXPECT_FALSE(ini.ValueExists("Other", "P1TabTabCount"));
  q->ReadIni(ini, "Other", "P1%s");
  EXPECT_TRUE(q->SameProperties(r, false, false));
  EXPECT_EQ(q->StyleName, "Paragraph Style");
}

TEST(RVParaStyleIniTest, OutOfRangeOrdinalsFallBackToDefaults) {
  test::TempDir dir("parastyles");
  TIniFile ini(dir.File("bad.ini"));
  ini.WriteInteger("P", "Alignment", 99);
  ini.WriteInteger("P", "LSType", -3);
  ini.WriteInteger("P", "BiDiMode", 7);
  ini.WriteInteger("P", "TabTabCount", 1);
  ini.WriteInteger("P", "TabTabAlign0", 50);
  TParaInfos infos;
  TParaInfo* p = infos.Add();
  p->ReadIni(ini, "P", "%s");
  EXPECT_EQ(p->Alignment, rvaLeft);
  EXPECT_EQ(p->LineSpacingType, rvlsPercent);
  EXPECT_EQ(p->BiDiMode, rvbdUnspecified);
  ASSERT_EQ(p->Tabs().Count(), 1);
  EXPECT_EQ(p->Tabs().Items(0)->Align, rvtaLeft);
}

TEST(RVNextTabTest, TabStopsIndentsAndDefaultGrid) {
  TParaInfos infos;
  TParaInfo* p = infos.Add();
  TRVScreenAndDevice sd;
  sd.LeftMargin = 10;
  struct Out { int32_t pos; AnsiString leader; TRVTabAlign align; };
  auto next = [&](int32_t x, int32_t left_ref, int32_t right_ref, TRVBiDiMode bidi = rvbdUnspecified) {
    Out o{0, "junk", rvtaCenter};
    RVGetNextTab(p, 48, x + sd.LeftMargin, sd, o.pos, o.leader, o.align, bidi, left_ref, right_ref);
    o.pos -= sd.LeftMargin;
    return o;
  };
  // Default grid.
  EXPECT_EQ(next(50, 0, 500).pos, 96);
  EXPECT_EQ(next(96, 0, 500).pos, 144);
  EXPECT_EQ(next(0, 0, 500).pos, 48);
  // The left indent comes before the first tab stop beyond it.
  TRVTabInfo* t = p->Tabs().Add();
  t->SetPosition(150);
  t->Leader = ".";
  t->Align = rvtaRight;
  Out o = next(20, 100, 500);
  EXPECT_EQ(o.pos, 100);
  EXPECT_EQ(o.leader, "");
  EXPECT_EQ(o.align, rvtaLeft);
  o = next(120, 100, 500);
  EXPECT_EQ(o.pos, 150);
  EXPECT_EQ(o.leader, ".");
  EXPECT_EQ(o.align, rvtaRight);
  t->SetPosition(80);
  o = next(20, 100, 500);
  EXPECT_EQ(o.pos, 80);
  EXPECT_EQ(o.align, rvtaRight);
  // Past the last tab stop the indent, then the grid.
  EXPECT_EQ(next(90, 100, 500).pos, 100);
  EXPECT_EQ(next(100, 100, 500).pos, 144);
  // Tab positions are converted to device units.
  sd.ppixDevice = 192;
  EXPECT_EQ(next(100, 0, 1000).pos, 160);
  EXPECT_EQ(next(200, 0, 1000).pos, 288);
  // A zero default width and a coarse device still step forward.
  sd.ppixDevice = 1;
  p->Tabs().Clear();
  int32_t pos = 0;
  AnsiString leader;
  TRVTabAlign align;
  RVGetNextTab(p, 0, 5, TRVScreenAndDevice{96, 96, 1, 1, 0, 0}, pos, leader, align, rvbdLeftToRight, 0, 100);
  EXPECT_EQ(pos, 6);
  // Right to left: G = 50 + 100 - 0 = 150, grid 192, mapped back by 100.
  sd.ppixDevice = 96;
  EXPECT_EQ(next(50, 0, 100, rvbdRightToLeft).pos, 92);
  p->BiDiMode = rvbdRightToLeft;
  EXPECT_EQ(next(50, 0, 100).pos, 92);
  EXPECT_EQ(next(50, 0, 100, rvbdLeftToRight).pos, 96);
}

AnsiString CSS(TCustomRVParaInfo* p, TCustomRVParaInfo* base, bool multiline, bool skip_left, bool skip_indents) {
  TStringStream s;
  p->WriteCSS(s, base, multiline, skip_left, skip_indents);
  return s.DataString();
}

TEST(RVParaStyleCssTest, DeclarationsWithAndWithoutBase) {
  TParaInfos infos;
  TParaInfo* p = infos.Add();
  EXPECT_EQ(CSS(p, nullptr, false, false, false),
            " text-align: left; text-indent: 0px; padding: 0px 0px 0px 0px; margin: 0px 0px 0px 0px;");
  EXPECT_EQ(CSS(p, nullptr, true, true, true),
            " padding: 0px 0px 0px 0px;\r\n margin-top: 0px;\r\n margin-right: 0px;\r\n margin-bottom: 0px;\r\n");

  TParaInfo* q = infos.Add();
  q->Alignment = rvaCenter;
  q->BiDiMode = rvbdRightToLeft;
  q->FirstIndent = 10;
  q->LineSpacing = 105;
  q->LeftIndent = 20;
  q->SpaceBefore = 6;
  q->Options = {rvpaoNoWrap, rvpaoKeepLinesTogether, rvpaoKeepWithNext};
  q->Border().Style = rvbTriple;
  q->Border().Color = clRed;
  q->Border().Width = 2;
  q->Border().InternalWidth = 3;
  q->Border().BorderOffsets().SetAll(2);
  q->Border().VisibleBorders().SetValues(false, true, true, false);
  q->Background().Color = 0x00FF00;
  q->Background().BorderOffsets().Top = 5;
  EXPECT_EQ(CSS(q, nullptr, false, false, false),
            " text-align: center; direction: rtl; text-indent: 10px; line-height: 1.05;"
            " white-space: nowrap; page-break-inside: avoid; page-break-after: avoid;"
            " border-color: #ff0000; border-style: double; border-width: 8px; border-bottom: none;"
            " border-left: none; background: #00ff00; padding: 5px 2px 2px 2px; margin: 1px -2px -2px 18px;");

  // Against q as the base, a default style undoes q's settings.
  EXPECT_EQ(CSS(p, q, false, false, false),
            " text-align: left; direction: inherit; text-indent: 0px; line-height: 1.00; white-space: normal;"
            " page-break-inside: auto; page-break-after: auto; border: none; background: transparent;"
            " padding: 0px 0px 0px 0px; margin: 0px 0px 0px 0px;");
  // Against itself only what is always restated: set options, the border, padding (the base
  // padding counts the border offsets only) and the margins derived from it.
  EXPECT_EQ(CSS(q, q, false, false, false),
            " white-space: nowrap; page-break-inside: avoid; page-break-after: avoid;"
            " border-color: #ff0000; border-style: double; border-width: 8px; border-bottom: none;"
            " border-left: none; padding: 5px 2px 2px 2px; margin: 1px -2px -2px 18px;");
  EXPECT_EQ(CSS(p, p, false, false, false), "");

  TParaInfo* r = infos.Add();
  r->LineSpacing = 150;
  EXPECT_NE(CSS(r, nullptr, false, false, false).find(" line-height: 1.50;"), AnsiString::npos);
  TParaInfo* s = infos.Add();
  s->LineSpacingType = rvlsSpaceBetween;
  s->LineSpacing = 4;
  EXPECT_EQ(CSS(s, r, false, false, false), " line-height: normal;");
}

}  // namespace
}  // namespace pelvar
