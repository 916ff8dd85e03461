#include "richtext/model/RVStyle.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "tests/support/process.h"

namespace pelvar {
namespace {

// Restores the program-wide switches a test changes.
struct SwitchGuard {
  bool compare = CompareStyleNames, reset = ResetStandardOnMerge;
  ~SwitchGuard() {
    CompareStyleNames = compare;
    ResetStandardOnMerge = reset;
  }
};

TEST(TextStyleTest, Defaults) {
  TFontInfos infos;
  TFontInfo* f = infos.Add();
  EXPECT_EQ(f->BaseStyleNo, -1);
  EXPECT_EQ(f->StyleName, "Font Style");
  EXPECT_EQ(f->DisplayName(), "Font Style");
  EXPECT_TRUE(f->Standard);
  EXPECT_EQ(f->StyleTemplateId, -1);
  EXPECT_EQ(f->BiDiMode, rvbdUnspecified);
  EXPECT_FALSE(f->Jump);
  EXPECT_EQ(f->JumpCursor, 101);
  EXPECT_EQ(f->FontName, "Arial");
  EXPECT_EQ(f->Size, 10);
  EXPECT_EQ(f->Color, static_cast<TColor>(0xFF000008));
  EXPECT_EQ(f->BackColor, clNone);
  EXPECT_EQ(f->HoverColor, clNone);
  EXPECT_EQ(f->HoverBackColor, clNone);
  EXPECT_EQ(f->Style, TFontStyles());
  EXPECT_TRUE(f->StyleEx.Empty());
  EXPECT_EQ(f->VShift, 0);
  EXPECT_EQ(f->Charset, DEFAULT_CHARSET);
  EXPECT_TRUE(f->Protection.Empty());
  EXPECT_TRUE(f->Options.Empty());
  EXPECT_EQ(f->CharScale, 100);
  EXPECT_EQ(f->CharSpacing, 0);
  EXPECT_FALSE(f->Unicode);
  EXPECT_EQ(f->NextStyleNo, -1);
  EXPECT_TRUE(f->ModifiedProperties.Empty());
  EXPECT_EQ(RVAllFontInfoProperties.ToBits(), (1u << 26) - 1);
}

TEST(TextStyleTest, AssignCopiesEverythingAndFontOnlyItsPart) {
  TFontInfos infos;
  TFontInfo* a = infos.Add();
  a->StyleName = "Nadpis";
  a->BaseStyleNo = 3;
  a->Standard = false;
  a->FontName = "Courier New";
  a->Size = 14;
  a->Style = {fsBold};
  a->StyleEx = {rvfsAllCaps};
  a->Jump = true;
  a->HoverColor = clRed;
  a->Protection = {rvprStickToBottom};
  a->Unicode = true;
  a->NextStyleNo = 2;
  a->ModifiedProperties = {rvfiSize};
  TFontInfo* b = infos.Add();
  b->Assign(a);
  EXPECT_TRUE(b->SameProperties(a, false, false));
  EXPECT_EQ(b->StyleName, "Nadpis");
  EXPECT_EQ(b->BaseStyleNo, 3);
  EXPECT_FALSE(b->Standard);

  TFont font;
  a->AssignToFont(font);
  EXPECT_EQ(font.Name(), "Courier New");
  EXPECT_EQ(font.Size(), 14);
  EXPECT_TRUE(font.Style().Contains(fsBold));
  TFontInfo* c = infos.Add();
  c->Jump = true;
  c->AssignFont(font);
  EXPECT_EQ(c->FontName, "Courier New");
  EXPECT_EQ(c->Size, 14);
  EXPECT_TRUE(c->Jump);  // not part of a font

  TRVRect not_a_style;
  EXPECT_THROW(c->Assign(&not_a_style), EConvertError);
  EXPECT_EQ(c->FontName, "Courier New");
}

TEST(TextStyleTest, AssignPropertiesCopiesOnlyTheMask) {
  TFontInfos infos;
  TFontInfo* src = infos.Add();
  src->FontName = "Tahoma";
  src->Size = 20;
  src->Style = {fsBold, fsItalic};
  src->Options = {rvteoRTFCode};
  src->Unicode = true;
  TFontInfo* dst = infos.Add();
  dst->Style = {fsUnderline};
  dst->AssignProperties(src, {rvfiBold, rvfiUnderline, rvfiRTFCode, rvfiUnicode});
  EXPECT_EQ(dst->Style, (TFontStyles{fsBold}));  // italic not in the mask, underline cleared
  EXPECT_EQ(dst->FontName, "Arial");
  EXPECT_EQ(dst->Size, 10);
  EXPECT_TRUE(dst->Options.Contains(rvteoRTFCode));
  EXPECT_FALSE(dst->Unicode);  // never copied here
}

struct EqualityCase {
  const char* name;
  std::function<void(TFontInfo&)> change;
  bool same;
};

TEST(TextStyleTest, SamePropertiesRules) {
  SwitchGuard guard;
  const EqualityCase cases[] = {
      {"font name case", [](TFontInfo& f) { f.FontName = "ARIAL"; }, true},
      {"hover colour, not a link", [](TFontInfo& f) { f.HoverColor = clRed; }, true},
      {"jump cursor, not a link", [](TFontInfo& f) { f.JumpCursor = 5; }, true},
      {"style name", [](TFontInfo& f) { f.StyleName = CZ("Jiný"); }, true},
      {"base style", [](TFontInfo& f) { f.BaseStyleNo = 4; }, true},
      {"standard", [](TFontInfo& f) { f.Standard = false; }, true},
      {"next style (references ignored)", [](TFontInfo& f) { f.NextStyleNo = 1; }, true},
      {"size", [](TFontInfo& f) { f.Size = 11; }, false},
      {"charset", [](TFontInfo& f) { f.Charset = EASTEUROPE_CHARSET; }, false},
      {"bold", [](TFontInfo& f) { f.Style = {fsBold}; }, false},
      {"overline", [](TFontInfo& f) { f.StyleEx = {rvfsOverline}; }, false},
      {"other font", [](TFontInfo& f) { f.FontName = "Times New Roman"; }, false},
      {"vshift", [](TFontInfo& f) { f.VShift = 50; }, false},
      {"color", [](TFontInfo& f) { f.Color = clRed; }, false},
      {"back color", [](TFontInfo& f) { f.BackColor = clRed; }, false},
      {"jump", [](TFontInfo& f) { f.Jump = true; }, false},
      {"protection", [](TFontInfo& f) { f.Protection = {rvprDeleteProtect}; }, false},
      {"options", [](TFontInfo& f) { f.Options = {rvteoHTMLCode}; }, false},
      {"char scale", [](TFontInfo& f) { f.CharScale = 90; }, false},
      {"char spacing", [](TFontInfo& f) { f.CharSpacing = 1; }, false},
      {"bidi", [](TFontInfo& f) { f.BiDiMode = rvbdRightToLeft; }, false},
      {"unicode", [](TFontInfo& f) { f.Unicode = true; }, false},
      {"template", [](TFontInfo& f) { f.StyleTemplateId = 7; }, false},
      {"modified", [](TFontInfo& f) { f.ModifiedProperties = {rvfiColor}; }, false},
  };
  CompareStyleNames = false;
  for (const auto& c : cases) {
    TFontInfos infos;
    TFontInfo* a = infos.Add();
    TFontInfo* b = infos.Add();
    c.change(*b);
    EXPECT_EQ(a->SameProperties(b, true, false), c.same) << c.name;
    EXPECT_EQ(b->SameProperties(a, true, false), c.same) << c.name;
  }

  TFontInfos infos;
  TFontInfo* a = infos.Add();
  TFontInfo* b = infos.Add();
  b->NextStyleNo = 1;
  EXPECT_FALSE(a->SameProperties(b, false, false));
  // Links also compare their hover colours and cursor.
  a->Jump = b->Jump = true;
  b->NextStyleNo = -1;
  b->HoverColor = clRed;
  EXPECT_FALSE(a->SameProperties(b, true, false));
  b->HoverColor = clNone;
  b->StyleName = "Odkaz";
  EXPECT_TRUE(a->SameProperties(b, true, false));
  CompareStyleNames = true;
  EXPECT_FALSE(a->SameProperties(b, true, false));
}

TEST(TextStyleTest, SamePropertiesExceptSkipsIgnored) {
  TFontInfos infos;
  TFontInfo* a = infos.Add();
  TFontInfo* b = infos.Add();
  b->Size = 20;
  b->Style = {fsBold};
  b->BaseStyleNo = 0;
  EXPECT_FALSE(a->SamePropertiesExcept(b, {rvfiSize, rvfiBold}));
  EXPECT_TRUE(a->SamePropertiesExcept(b, {rvfiSize, rvfiBold, rvfiBaseStyleNo}));
  b->Unicode = true;
  EXPECT_FALSE(a->SamePropertiesExcept(b, {rvfiSize, rvfiBold, rvfiBaseStyleNo}));
  EXPECT_TRUE(a->SamePropertiesExcept(b, {rvfiSize, rvfiBold, rvfiBaseStyleNo, rvfiUnicode}));
  // Template id and the modified set are always compared.
  b->StyleTemplateId = 3;
  EXPECT_FALSE(a->SamePropertiesExcept(b, RVAllFontInfoProperties));
}

TEST(TextStyleTest, InvalidIndexStyleIsOneCopyOfStyleZeroInWhiteOnRed) {
  TFontInfos infos;
  TFontInfo* zero = infos.Add();
  zero->FontName = "Verdana";
  zero->Size = 12;
  infos.Add();
  TFontInfo* bad = infos.Items(-1);
  EXPECT_EQ(bad, infos.Items(2));
  EXPECT_EQ(bad, infos.Items(1000));
  EXPECT_NE(bad, zero);
  EXPECT_EQ(bad->FontName, "Verdana");
  EXPECT_EQ(bad->Size, 12);
  EXPECT_EQ(bad->Color, clWhite);
  EXPECT_EQ(bad->BackColor, clRed);
  zero->Size = 30;
  EXPECT_EQ(infos.Items(-5)->Size, 12);
  EXPECT_EQ(infos.Items(0), zero);

  TFontInfos empty;
  EXPECT_EQ(empty.Items(0)->FontName, "Arial");
  EXPECT_EQ(empty.Items(0)->BackColor, clRed);
}

TEST(TextStyleTest, FindMatchingStyle) {
  TFontInfos infos;
  infos.Add();                    // 0 plain
  infos.Add()->Style = {fsBold};  // 1 bold
  TFontInfo* big = infos.Add();   // 2 bold 20
  big->Style = {fsBold};
  big->Size = 20;

  TFontInfos probes;
  TFontInfo* want = probes.Add();
  want->Style = {fsBold};
  want->Size = 20;
  EXPECT_EQ(infos.FindMatchingStyle(0, want, {rvfiBold}), 1);           // first bold after the base
  EXPECT_EQ(infos.FindMatchingStyle(2, want, {rvfiBold}), 2);           // the base itself fits
  EXPECT_EQ(infos.FindMatchingStyle(0, want, {rvfiBold, rvfiSize}), 2);
  EXPECT_EQ(infos.FindMatchingStyle(0, want, {rvfiBold, rvfiItalic, rvfiSize}), 2);
  want->Style = {fsItalic};
  EXPECT_EQ(infos.FindMatchingStyle(0, want, {rvfiItalic}), -1);
  // An empty mask only compares the template id and the modified set.
  EXPECT_EQ(infos.FindMatchingStyle(1, want, {}), 1);
  want->StyleTemplateId = 9;
  EXPECT_EQ(infos.FindMatchingStyle(1, want, {}), -1);
  // An out-of-range base is compared through the invalid-index style.
  TFontInfo* white = probes.Add();
  white->Color = clWhite;
  EXPECT_EQ(infos.FindMatchingStyle(7, white, {rvfiColor}), 7);
}

TEST(TextStyleTest, FindStyleWithCharsetNeverGivesUnicode) {
  TFontInfos infos;
  infos.Add()->Style = {fsBold};  // 0
  TFontInfo* uni = infos.Add();   // 1: right charset but Unicode
  uni->Style = {fsBold};
  uni->Charset = EASTEUROPE_CHARSET;
  uni->Unicode = true;
  TFontInfo* other = infos.Add();  // 2: right charset, not bold
  other->Charset = EASTEUROPE_CHARSET;
  TFontInfo* good = infos.Add();  // 3
  good->Style = {fsBold};
  good->Charset = EASTEUROPE_CHARSET;
  EXPECT_EQ(infos.FindStyleWithCharset(0, EASTEUROPE_CHARSET), 3);
  EXPECT_EQ(infos.FindStyleWithCharset(0, DEFAULT_CHARSET), 0);
  EXPECT_EQ(infos.FindStyleWithCharset(3, EASTEUROPE_CHARSET), 3);
  EXPECT_EQ(infos.FindStyleWithCharset(0, RUSSIAN_CHARSET), -1);
  EXPECT_EQ(infos.FindStyleWithCharset(1, EASTEUROPE_CHARSET), 3);
}

TEST(TextStyleTest, ClosenessRules) {
  TFontInfos infos;
  TFontInfo* me = infos.Add();
  TFontInfo* same = infos.Add();
  const int32_t top = me->Closeness(same);

  struct Case {
    const char* name;
    std::function<void(TFontInfo&)> change;
    int32_t loss;  // -1: some loss, value unknown
  };
  const Case cases[] = {
      {"protection", [](TFontInfo& f) { f.Protection = {rvprModifyProtect}; }, 100000},
      {"bold: one flag and plainness", [](TFontInfo& f) { f.Style = {fsBold}; }, 100000},
      {"html code", [](TFontInfo& f) { f.Options = {rvteoHTMLCode}; }, 50000},
      {"charset vs default", [](TFontInfo& f) { f.Charset = EASTEUROPE_CHARSET; }, 37500},
      {"font name", [](TFontInfo& f) { f.FontName = "Tahoma"; }, 10000},
      {"font name case", [](TFontInfo& f) { f.FontName = "arial"; }, 0},
      {"bidi", [](TFontInfo& f) { f.BiDiMode = rvbdLeftToRight; }, 10000},
      {"unicode does not count", [](TFontInfo& f) { f.Unicode = true; }, 0},
      {"next style does not count", [](TFontInfo& f) { f.NextStyleNo = 0; }, 0},
      {"size", [](TFontInfo& f) { f.Size = 30; }, -1},
      {"colour", [](TFontInfo& f) { f.Color = clRed; }, -1},
  };
  for (const auto& c : cases) {
    TFontInfos other;
    TFontInfo* cand = other.Add();
    c.change(*cand);
    int32_t score = me->Closeness(cand);
    if (c.loss >= 0)
      EXPECT_EQ(top - score, c.loss) << c.name;
    else
      EXPECT_LT(score, top) << c.name;
  }
  // Two different charsets neither of which is the default: no charset points at all.
  TFontInfo* a = infos.Add();
  a->Charset = RUSSIAN_CHARSET;
  TFontInfo* b = infos.Add();
  b->Charset = EASTEUROPE_CHARSET;
  EXPECT_EQ(a->Closeness(a) - a->Closeness(b), 50000);
  // Nearer sizes score higher.
  TFontInfo* s11 = infos.Add();
  s11->Size = 11;
  TFontInfo* s20 = infos.Add();
  s20->Size = 20;
  EXPECT_GT(me->Closeness(s11), me->Closeness(s20));
  // Links add the cursor bonus.
  TFontInfo* l1 = infos.Add();
  l1->Jump = true;
  TFontInfo* l2 = infos.Add();
  l2->Jump = true;
  EXPECT_GT(l1->Closeness(l2), me->Closeness(same));
}

TEST(TextStyleTest, MergeReuseAddsOnlyMissingStylesAndRemapsReferences) {
  SwitchGuard guard;
  ResetStandardOnMerge = true;
  TFontInfos dest;
  dest.Add();                    // 0 plain
  dest.Add()->Style = {fsBold};  // 1 bold

  TFontInfos src;
  src.Add()->Style = {fsBold};  // -> 1
  TFontInfo* red = src.Add();   // new -> 2
  red->Color = clRed;
  red->NextStyleNo = 0;
  red->BaseStyleNo = 2;
  src.Add();                     // plain -> 0
  TRVIntegerList mapping;
  mapping.Add(99);  // cleared first
  dest.MergeStyles(&src, 0, mapping, nullptr);
  ASSERT_EQ(mapping.Count(), 3);
  EXPECT_EQ(mapping.Items(0), 1);
  EXPECT_EQ(mapping.Items(1), 2);
  EXPECT_EQ(mapping.Items(2), 0);
  ASSERT_EQ(dest.Count(), 3);
  EXPECT_EQ(dest.Items(2)->Color, clRed);
  EXPECT_EQ(dest.Items(2)->NextStyleNo, 1);  // incoming 0 is receiving 1
  EXPECT_EQ(dest.Items(2)->BaseStyleNo, 0);  // incoming 2 is receiving 0
  EXPECT_FALSE(dest.Items(2)->Standard);
  EXPECT_TRUE(dest.Items(0)->Standard);

  // Merging an equal collection maps each style to itself and adds nothing.
  TFontInfos copy;
  for (int32_t i = 0; i < dest.Count(); ++i) copy.Add()->Assign(dest.Items(i));
  dest.MergeStyles(&copy, 0, mapping, nullptr);
  EXPECT_EQ(dest.Count(), 3);
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(mapping.Items(i), i);
}

TEST(TextStyleTest, MergeClosestAndAppend) {
  TFontInfos dest;
  dest.Add();                          // 0 plain
  TFontInfo* link = dest.Add();        // 1 link
  link->Jump = true;
  TFontInfo* big = dest.Add();         // 2 size 30
  big->Size = 30;

  TFontInfos src;
  src.Add()->Size = 28;                // -> 2
  TFontInfo* slink = src.Add();        // a bold red link: still the only link
  slink->Jump = true;
  slink->Style = {fsBold};
  slink->Color = clRed;
  TFontInfo* uni = src.Add();          // Unicode: no Unicode style, so same Jump -> 0 (plain)
  uni->Unicode = true;
  TRVIntegerList mapping;
  dest.MergeStyles(&src, 1, mapping, nullptr);
  EXPECT_EQ(dest.Count(), 3);
  ASSERT_EQ(mapping.Count(), 3);
  EXPECT_EQ(mapping.Items(0), 2);
  EXPECT_EQ(mapping.Items(1), 1);
  EXPECT_EQ(mapping.Items(2), 0);

  TFontInfos empty;
  empty.MergeStyles(&src, 1, mapping, nullptr);
  for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(mapping.Items(i), -1);

  TFontInfos appended;
  appended.Add();
  src.Items(0)->NextStyleNo = 2;
  appended.MergeStyles(&src, 2, mapping, nullptr);
  EXPECT_EQ(appended.Count(), 4);
  EXPECT_EQ(mapping.Items(0), 1);
  EXPECT_EQ(appended.Items(1)->NextStyleNo, 3);
}

TEST(TextStyleTest, MergeWithDanglingReferenceRaisesListErrorAndAddsNothing) {
  TFontInfos dest;
  dest.Add();
  TFontInfos src;
  src.Add()->Color = clRed;
  src.Add()->BaseStyleNo = 5;
  TRVIntegerList mapping;
  EXPECT_THROW(dest.MergeStyles(&src, 2, mapping, nullptr), EListError);
  EXPECT_EQ(dest.Count(), 1);
  TFontInfos src0;
  TFontInfo* f = src0.Add();
  f->Color = clRed;
  f->NextStyleNo = 3;  // no receiving style is red: added, then its reference fails
  EXPECT_THROW(dest.MergeStyles(&src0, 0, mapping, nullptr), EListError);
  EXPECT_EQ(dest.Count(), 1);
}

TEST(TextStyleTest, StylesListToStrings) {
  TFontInfos infos;
  infos.Add()->StyleName = CZ("Normální");
  infos.Add()->StyleName = "Odkaz";
  TStringList list;
  list.Add("old");
  list.Assign(&infos);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Strings(0), CZ("Normální"));
  EXPECT_EQ(list.Strings(1), "Odkaz");
}

TEST(TextStyleIniTest, RoundTripAndDefaultsNotWritten) {
  test::TempDir dir("textstyles");
  const AnsiString file = dir.File("styles.ini");
  TFontInfos infos;
  TFontInfo* f = infos.Add();
  f->StyleName = CZ("Nadpis žluťoučký");
  f->BaseStyleNo = 0;
  f->Standard = false;
  f->FontName = CZ("Písmo");
  f->Jump = true;
  f->JumpCursor = 7;
  f->Size = 16;
  f->Color = clRed;
  f->BackColor = clWhite;
  f->HoverColor = 0x00FF00;
  f->HoverBackColor = 0x123456;
  f->Charset = EASTEUROPE_CHARSET;
  f->CharScale = 80;
  f->CharSpacing = -2;
  f->BiDiMode = rvbdRightToLeft;
  f->Style = {fsBold, fsUnderline, fsStrikeOut, fsItalic};
  f->StyleEx = {rvfsOverline, rvfsAllCaps};
  f->Protection = {rvprStyleProtect, rvprStickToTop};
  f->Options = {rvteoHTMLCode, rvteoRTFCode};
  f->VShift = -33;
  f->NextStyleNo = 4;
  f->Unicode = true;
  TFontInfo* plain = infos.Add();
  {
    TIniFile ini(file);
    f->WriteIni(ini, "Style0", "%s");
    plain->WriteIni(ini, "Style1", "Font%s");
  }
  TIniFile ini(file);
  TFontInfo* back = infos.Add();
  back->ReadIni(ini, "Style0", "%s", false, crJump);
  EXPECT_TRUE(back->SameProperties(f, false, false));
  EXPECT_EQ(back->StyleName, f->StyleName);
  EXPECT_EQ(back->BaseStyleNo, 0);
  EXPECT_FALSE(back->Standard);
  EXPECT_EQ(ini.ReadString("Style0", "Bold", ""), "Yes");
  EXPECT_EQ(ini.ReadInteger("Style0", "Color", 0), clRed);

  // Only the always-written keys for a default style (with the key format applied).
  EXPECT_EQ(ini.ReadString("Style1", "FontStyleName", ""), "Font Style");
  EXPECT_EQ(ini.ReadString("Style1", "FontName", ""), "Arial");
  EXPECT_EQ(ini.ReadString("Style1", "FontJump", ""), "No");
  for (const char* key : {"FontSize", "FontColor", "FontBold", "FontStandard", "FontNextStyleNo", "FontUnicode"})
    EXPECT_FALSE(ini.ValueExists("Style1", key)) << key;
  TFontInfo* back_plain = infos.Add();
  back_plain->Size = 99;
  back_plain->Style = {fsBold};
  back_plain->ReadIni(ini, "Style1", "Font%s", false, crJump);
  EXPECT_TRUE(back_plain->SameProperties(plain, false, false));
}

TEST(TextStyleIniTest, ReadingRules) {
  test::TempDir dir("textstyles");
  const AnsiString file = dir.File("read.ini");
  {
    TIniFile ini(file);
    ini.WriteString("NoJump", "JumpCursor", "55");
    ini.WriteString("NoJump", "Protection", "2048");
    ini.WriteString("NoJump", "Standard", "7");
    ini.WriteString("NoJump", "Bold", "yes");
    ini.WriteString("NoJump", "Italic", "true");
    ini.WriteString("Old", "Jump", "YES");
    ini.WriteString("Old", "SingleSymbols", "Yes");
    ini.WriteString("Old", "Protection", "4");
  }
  TIniFile ini(file);
  TFontInfos infos;
  TFontInfo* f = infos.Add();
  f->ReadIni(ini, "NoJump", "%s", true, 33);
  EXPECT_TRUE(f->Jump);
  EXPECT_EQ(f->JumpCursor, 33);  // from the arguments, the key is ignored
  EXPECT_TRUE(f->Protection.Empty());  // bit 11 names no option
  EXPECT_TRUE(f->Standard);
  EXPECT_EQ(f->Style, (TFontStyles{fsBold}));  // only "yes" in any case is True

  f->ReadIni(ini, "Old", "%s", false, 33);
  EXPECT_TRUE(f->Jump);
  EXPECT_EQ(f->JumpCursor, crJump);
  EXPECT_EQ(f->Protection, (TRVProtectOptions{rvprModifyProtect, rvprStyleProtect, rvprDoNotAutoSwitch}));
  EXPECT_EQ(f->Style, TFontStyles());
}

// Every protection option survives the INI form, rvprStickToBottom (bit 10) included.
TEST(TextStyleIniTest, StickToBottomIsPersisted) {
  test::TempDir dir("textstyles");
  TIniFile ini(dir.File("p.ini"));
  TFontInfos infos;
  TFontInfo* f = infos.Add();
  f->Protection = {rvprStickToBottom, rvprSticking};
  f->WriteIni(ini, "S", "%s");
  EXPECT_EQ(ini.ReadInteger("S", "Protection", -1), 1024 + 256);
  f->Protection = {};
  f->ReadIni(ini, "S", "%s", false, crJump);
  EXPECT_EQ(f->Protection, (TRVProtectOptions{rvprStickToBottom, rvprSticking}));
}

TEST(TextStyleIniTest, LongStringsInPieces) {
  test::TempDir dir("textstyles");
  TIniFile ini(dir.File("long.ini"));
  AnsiString text(1203, 'x');
  text[500] = 'y';
  RVWriteLongString(ini, "S", "Text", text);
  EXPECT_EQ(ini.ReadString("S", "Text_0", "").size(), 500u);
  EXPECT_EQ(ini.ReadString("S", "Text_2", "").size(), 203u);
  EXPECT_FALSE(ini.ValueExists("S", "Text_3"));
  EXPECT_EQ(RVReadLongString(ini, "S", "Text"), text);
  RVWriteLongString(ini, "S", "Empty", "");
  EXPECT_FALSE(ini.ValueExists("S", "Empty_0"));
  EXPECT_EQ(RVReadLongString(ini, "S", "Empty"), "");
}

std::string Css(TCustomRVFontInfo* f, TCustomRVFontInfo* base, bool multiline, bool utf8) {
  TMemoryStream stream;
  f->WriteCSS(stream, base, multiline, utf8);
  const char* p = reinterpret_cast<const char*>(stream.Memory());
  return std::string(p, p + stream.Size());
}

TEST(TextStyleCssTest, WithoutBase) {
  TFontInfos infos;
  TFontInfo* f = infos.Add();
  EXPECT_EQ(Css(f, nullptr, false, false),
            " font-size: 10pt; font-family: 'Arial'; font-style: normal; font-weight: normal; color: #000000;"
            " background-color: transparent; text-decoration: none;");
  EXPECT_EQ(Css(f, nullptr, true, false),
            " font-size: 10pt;\r\n font-family: 'Arial';\r\n font-style: normal;\r\n font-weight: normal;\r\n"
            " color: #000000;\r\n text-decoration: none;\r\n");
  f->Size = 12;
  f->BiDiMode = rvbdRightToLeft;
  f->Style = {fsBold, fsItalic, fsUnderline, fsStrikeOut};
  f->StyleEx = {rvfsOverline, rvfsAllCaps};
  f->Color = clRed;
  f->BackColor = 0x00FF00;
  f->CharSpacing = 2;
  f->VShift = 30;
  f->FontName = "symbol";
  EXPECT_EQ(Css(f, nullptr, false, false),
            " font-size: 12pt; direction: rtl; font-family: 'Arial Unicode MS', 'Lucida Sans Unicode', 'Arial';"
            " font-style: italic; font-weight: bold; color: #ff0000; letter-spacing: 2px;"
            " text-transform: uppercase; background-color: #00ff00; vertical-align: super;"
            " text-decoration: underline line-through overline;");
}

TEST(TextStyleCssTest, CzechFontNames) {
  TFontInfos infos;
  TFontInfo* f = infos.Add();
  f->FontName = CZ("Písmo Čeština");
  TFontInfo* base = infos.Add();
  EXPECT_EQ(Css(f, base, false, true), " font-family: 'Písmo Čeština';");
  EXPECT_EQ(Css(f, base, false, false), " font-family: '" + CZ("Písmo Čeština") + "';");
  // Equal names in another case are the same font and write nothing.
  base->FontName = CZ("PÍSMO ČEŠTINA");
  EXPECT_EQ(Css(f, base, false, true), "");
}

TEST(TextStyleCssTest, AgainstBase) {
  TFontInfos infos;
  TFontInfo* base = infos.Add();
  TFontInfo* f = infos.Add();
  EXPECT_EQ(Css(f, base, false, false), "");
  f->Jump = true;  // a link without decoration says so even when the base agrees
  EXPECT_EQ(Css(f, base, false, false), " text-decoration: none;");
  f->Jump = false;
  base->StyleEx = {rvfsAllCaps};
  base->VShift = -10;
  base->Style = {fsBold, fsUnderline};
  base->BackColor = clRed;
  EXPECT_EQ(Css(f, base, false, false),
            " font-weight: normal; text-transform: none; background-color: transparent;"
            " vertical-align: baseline; text-decoration: none;");
  f->VShift = -50;  // still "sub": nothing to say
  f->Style = {fsUnderline};
  f->StyleEx = {rvfsAllCaps};
  f->BackColor = clRed;
  EXPECT_EQ(Css(f, base, false, false), " font-weight: normal;");
}

}  // namespace
}  // namespace pelvar
