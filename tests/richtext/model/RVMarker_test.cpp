// List styles and list markers: level defaults, equality and closeness, list ids from the
// seeded generator, HTML tags and CSS of levels; the numbering of markers per level with
// and without level reset, legal numbering, counter texts and the binary marker list.
#include "richtext/model/RVMarker.h"

#include <gtest/gtest.h>

#include "platform/inifiles.h"
#include "platform/streams.h"
#include "platform/sysutils.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/RVFMisc.h"

namespace pelvar {
namespace {

AnsiString Html(const TRVListLevel& l, bool open, bool css) {
  TMemoryStream s;
  if (open)
    l.WriteHTMLOpenTag(s, css);
  else
    l.WriteHTMLCloseTag(s);
  return AnsiString(reinterpret_cast<const char*>(s.Memory()), static_cast<size_t>(s.Size()));
}

TEST(ListStyleTest, LevelDefaultsEqualityClosenessAndIds) {
  TRVStyle style(nullptr);
  TRVListInfos* lists = style.ListStyles();
  TRVListInfo* a = lists->Add();
  TRVListInfo* b = lists->Add();
  EXPECT_EQ(a->StyleName, "List Style");
  TRVListLevel* la = a->Levels()->Add();
  TRVListLevel* lb = b->Levels()->Add();
  EXPECT_EQ(la->FormatString, AnsiString(1, '\xB7'));
  EXPECT_EQ(la->FirstIndent, 10);
  EXPECT_TRUE(la->Options == (TRVListLevelOptions{rvloContinuous, rvloLevelReset}));
  EXPECT_FALSE(la->HasFontObject());
  EXPECT_EQ(la->Closeness(lb), 6300);
  la->Font();  // a default font object equals no font
  EXPECT_TRUE(la->IsEqual(lb));
  la->Font()->SetName("Symbol");
  EXPECT_FALSE(la->IsEqual(lb));
  la->SetFont(nullptr);
  EXPECT_EQ(la->DisplayName(), "bullet 0/0/10");

  RVSetRandomSeed(7);
  const int32_t id = a->GetListId();
  EXPECT_NE(id, 0);
  EXPECT_EQ(a->GetListId(), id);
  EXPECT_NE(b->GetListId(), id);
  EXPECT_TRUE(a->SameProperties(b, true, true));
  EXPECT_FALSE(a->SameAsMapped(b, TRVIntegerList()));
  EXPECT_EQ(a->Closeness(b), 100 + 6300);
  b->Levels()->Add();
  EXPECT_EQ(a->Closeness(b), 100 + 6300 - 100);
  // The same seed gives the same ids.
  RVSetRandomSeed(7);
  TRVListInfo* c = lists->Add();
  EXPECT_EQ(c->GetListId(), id);
  EXPECT_THROW(lists->Items(3), EListError);
}

TEST(ListStyleTest, HtmlTagsAndCss) {
  TRVListInfos lists;
  TRVListInfo* l = lists.Add();
  TRVListLevel* l0 = l->Levels()->Add();
  TRVListLevel* l1 = l->Levels()->Add();
  l0->LeftIndent = 24;
  EXPECT_EQ(l0->GetHTMLListCSS(), "text-indent: -24px; padding-left: 24px; margin-left: 0px;");
  l1->ListType = rvlstUpperRoman;
  l1->LeftIndent = 48;
  l1->MarkerIndent = 60;
  EXPECT_EQ(l1->GetHTMLListCSS(), "text-indent: 12px; margin-left: 48px;");
  EXPECT_EQ(Html(*l0, true, true), "<ul style=\"text-indent: 10px; margin-left: 24px; list-style-position: outside;\">");
  EXPECT_EQ(Html(*l1, true, true),
            "<ol type=I style=\"text-indent: 12px; margin-left: 24px; list-style-position: inside;\">");
  EXPECT_EQ(Html(*l1, true, false), "<ol type=I>");
  EXPECT_EQ(Html(*l1, false, false), "</ol>");
  EXPECT_EQ(Html(*l0, false, false), "</ul>");
}

class NumberingTest : public ::testing::Test {
 protected:
  TRVStyle style{nullptr};
  TCustomRVData doc;
  std::vector<std::unique_ptr<TRVMarkerItemInfo>> owned;
  TRVMarkerList list;

  void SetUp() override {
    doc.SetRVStyle(&style);
    TRVListInfo* l = style.ListStyles()->Add();
    for (int i = 0; i < 2; ++i) {
      TRVListLevel* lv = l->Levels()->Add();
      lv->ListType = rvlstDecimal;
      lv->FormatString = i == 0 ? "%0:s." : "%0:s.%1:s";
    }
  }
  TRVListLevel* Level(int i) { return style.ListStyles()->Items(0)->Levels()->Items(i); }
  std::vector<int32_t> Number(std::initializer_list<int32_t> levels) {
    list.Items.clear();
    owned.clear();
    for (int32_t lv : levels) {
      auto m = std::make_unique<TRVMarkerItemInfo>(&doc);
      m->ListNo = 0;
      m->Level = lv;
      list.Items.push_back(m.get());
      owned.push_back(std::move(m));
    }
    RecalcCounters(list, 0, &style);
    std::vector<int32_t> r;
    for (auto* m : list.Items) r.push_back(m->Counter);
    return r;
  }
};

TEST_F(NumberingTest, CountersPerLevel) {
  EXPECT_EQ(Number({0, 1, 0}), (std::vector<int32_t>{1, 1, 2}));
  EXPECT_EQ(Number({0, 1, 0, 1}).back(), 1);
  Level(1)->Options.Exclude(rvloLevelReset);
  EXPECT_EQ(Number({0, 1, 0, 1}).back(), 2);
  EXPECT_EQ(Number({1, 0}), (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(list[1]->DisplayString, "2.");
  // A reset marker restarts with its own StartFrom.
  Number({0, 0, 0});
  list[1]->Reset = true;
  list[1]->StartFrom = 5;
  RecalcCounters(list, 0, &style);
  EXPECT_EQ(list[2]->Counter, 6);
}

TEST_F(NumberingTest, MarkerTextsAndLegalNumbering) {
  Level(0)->ListType = rvlstUpperRoman;
  Number({0, 1, 0, 0, 1});
  EXPECT_EQ(list[3]->DisplayString, "III.");
  EXPECT_EQ(list[4]->DisplayString, "III.1");
  Level(1)->Options.Include(rvloLegalStyleNumbering);
  RecalcCounters(list, 0, &style);
  EXPECT_EQ(list[4]->DisplayString, "3.1");
  EXPECT_EQ(list[3]->DisplayString, "III.");
  // A level-1 marker without an outer one: level 0 contributes its StartFrom.
  Number({1});
  EXPECT_EQ(list[0]->DisplayString, "I.1");
  // The markers of a preceding part continue the numbering.
  TRVMarkerList next;
  next.PrevMarkerList = &list;
  auto m = std::make_unique<TRVMarkerItemInfo>(&doc);
  m->ListNo = 0;
  m->Level = 1;
  m->Counter = 4;
  next.Items.push_back(m.get());
  Number({0, 0});
  EXPECT_EQ(RVGetMarkerText(next, 0, &style), "2.4");
}

TEST(CounterTextTest, Table) {
  struct Case {
    int32_t n;
    TRVListType type;
    const char* text;
  } cases[] = {{28, rvlstUpperAlpha, "AB"}, {26, rvlstLowerAlpha, "z"},     {0, rvlstLowerAlpha, ""},
               {0, rvlstUpperRoman, "?"},   {1994, rvlstUpperRoman, "MCMXCIV"}, {14, rvlstLowerRoman, "xiv"},
               {-3, rvlstDecimal, "-3"},    {7, rvlstImageListCounter, "7"}, {7, rvlstBullet, ""}};
  for (const Case& c : cases) EXPECT_EQ(RVGetCounterText(c.n, c.type), c.text) << c.n << " " << int(c.type);
}

TEST(MarkerListTest, BinaryRecordRoundTrip) {
  TCustomRVData doc;
  TRVMarkerItemInfo a(&doc), b(&doc);
  a.ListNo = 2, a.Level = 1, a.Reset = true, a.StartFrom = 5, a.Counter = 9;
  b.ListNo = 0, b.Level = 0, b.Counter = 3;
  TRVMarkerList list;
  list.Items = {&a, &b};
  TMemoryStream s;
  WriteMarkerList(list, s, 2, true);
  ASSERT_EQ(s.Size(), 4 + 4 + 4 + 34);
  EXPECT_EQ(s.Memory()[0], 42);
  s.Position();
  s.Seek(0, TSeekOrigin::soBeginning);
  TRVMarkerList back;
  std::vector<std::unique_ptr<TRVMarkerItemInfo>> owned;
  ReadMarkerList(back, s, &doc, true, owned);
  ASSERT_EQ(back.Count(), 2);
  EXPECT_EQ(back[0]->ListNo, 2);
  EXPECT_TRUE(back[0]->Reset);
  EXPECT_EQ(back[0]->StartFrom, 5);
  EXPECT_EQ(back[0]->Counter, 9);
  EXPECT_EQ(back[1]->Counter, 3);
  // A count larger than the record is refused.
  TMemoryStream bad;
  const uint8_t hdr[8] = {0, 0, 0, 0, 0xFF, 0xFF, 0, 0};
  bad.WriteBuffer(hdr, 8);
  bad.Seek(0, TSeekOrigin::soBeginning);
  EXPECT_THROW(ReadMarkerList(back, bad, &doc, false, owned), EDocViewError);

  // The same record without its size as one hex line, read back from the hex text and from
  // its bytes; what is no record is refused.
  TMemoryStream line;
  WriteMarkerListHex(list, line, 2);
  const AnsiString hex(reinterpret_cast<const char*>(line.Memory()), static_cast<size_t>(line.Size()));
  ASSERT_EQ(hex.size(), 2 * (8 + 34) + 2u);
  EXPECT_EQ(hex.substr(0, 16), "0000000002000000");
  EXPECT_EQ(hex.substr(hex.size() - 2), "\r\n");
  const AnsiString text = hex.substr(0, hex.size() - 2);
  for (bool from_hex : {true, false}) {
    TRVMarkerList again;
    if (from_hex)
      ReadMarkerListFromHex(again, text, &doc, owned);
    else
      ReadMarkerListFromString(again, RVFHexToString(text), &doc, owned);
    ASSERT_EQ(again.Count(), 2);
    EXPECT_EQ(again[0]->ListNo, 2);
    EXPECT_EQ(again[0]->Level, 1);
    EXPECT_TRUE(again[0]->Reset);
    EXPECT_EQ(again[0]->Counter, 9);
    EXPECT_EQ(again[1]->Counter, 3);
  }
  for (const AnsiString& wrong : {AnsiString("00zz"), text.substr(0, 30), AnsiString("0000000005000000")})
    EXPECT_THROW(ReadMarkerListFromHex(back, wrong, &doc, owned), EDocViewError) << wrong;
  EXPECT_THROW(ReadMarkerListFromString(back, "\x01", &doc, owned), EDocViewError);
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

TEST(ListStyleTest, IniRoundTrip) {
  const std::string path = ::testing::TempDir() + "/lists.ini";
  std::remove(path.c_str());
  TRVListInfos lists;
  TRVListInfo* l = lists.Add();
  l->StyleName = "Numbers";
  l->OneLevelPreview = true;
  TRVListLevel* a = l->Levels()->Add();
  a->ListType = rvlstUpperRoman;
  a->FormatString = "%0:s.";
  a->FormatStringW = u"\u2022\u010D";
  a->LeftIndent = 24;
  a->Options.Exclude(rvloLevelReset);
  a->Font()->SetName("DejaVu Sans");
  a->Font()->SetStyle(TFontStyles{fsBold, fsItalic});
  a->Font()->SetColor(clRed);
  TRVListLevel* b = l->Levels()->Add();
  b->SetPicture(std::make_shared<TBitmap>(4, 3, 0xFF112233u));
  {
    TIniFile ini(path);
    l->WriteIni(ini, "Lists", "List0%s");
    ini.UpdateFile();
  }
  TIniFile ini(path);
  EXPECT_EQ(ini.ReadString("Lists", "List0Lvl0FormatString", ""), "%0:s.");
  EXPECT_EQ(ini.ReadString("Lists", "List0Lvl0Font", ""), "DejaVu Sans," + IntToStr(a->Font()->Height()) + ",BI,0,clRed,1");
  TRVListInfos back;
  TRVListInfo* r = back.Add();
  r->ReadIni(ini, "Lists", "List0%s");
  EXPECT_EQ(r->StyleName, "Numbers");
  EXPECT_TRUE(r->OneLevelPreview);
  ASSERT_EQ(r->Levels()->Count(), 2);
  EXPECT_TRUE(r->Levels()->IsEqual(l->Levels()));
  EXPECT_EQ(r->Levels()->Items(0)->FormatStringW, u"\u2022\u010D");
  ASSERT_TRUE(r->Levels()->Items(1)->HasPicture());
  // A face name with a comma does not come back whole.
  TFont f;
  f.SetName("A, B");
  TFont g;
  EXPECT_THROW(RVIniTextToFont(RVFontToIniText(f), g), EConvertError);
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

TEST_F(NumberingTest, PlainTextAndHtmlListTags) {
  Number({0, 1});
  EXPECT_EQ(list[1]->AsText(0, &doc, "", "", true, false), "1.1 ");
  EXPECT_EQ(list[1]->AsText(0, &doc, "", "", true, true), std::string("1\0.\0" "1\0 \0", 8));
  Level(0)->ListType = rvlstUnicodeBullet;
  Level(0)->FormatStringW = u"\u25CF";  // not in Windows-1250
  EXPECT_EQ(list[0]->AsText(0, &doc, "", "", true, false), "* ");
  Level(0)->ListType = rvlstPicture;
  EXPECT_EQ(list[0]->AsText(0, &doc, "", "", true, false), "* ");
  // Level 0 bullet, level 1 decimal: from no list to level 1 opens both; back to 0 closes one.
  Level(0)->ListType = rvlstBullet;
  TMemoryStream s;
  WriteHTMLListTags(s, style.ListStyles()->Items(0), -1, 1, false);
  WriteHTMLListTags(s, style.ListStyles()->Items(0), 1, 0, false);
  WriteHTMLListTags(s, style.ListStyles()->Items(0), 0, 0, false);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), s.Size()), "<ul><ol>\r\n</ol>\r\n");
}

}  // namespace
}  // namespace pelvar
