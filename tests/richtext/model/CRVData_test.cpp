// The document data: adding items and blocks of text, paragraph and line rules, checkpoints,
// moving documents, deleting and clearing, accessors, and the maintenance operations across
// nested documents (enumeration, position comparison, markers, merging), style renumbering
// after unused styles are deleted, and numbered picture files.
#include "richtext/model/CRVData.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

#include "richtext/model/RVStyle_list.h"
#include "tests/support/process.h"

namespace pelvar {
namespace {

// A nested document as a table cell is one: it asks its parent for everything.
class TTestCellData;
class TTestLocation : public TRVStoreSubRVData {
 public:
  explicit TTestLocation(int32_t index) : Index(index) {}
  int32_t Index;
  int32_t Compare(const TRVStoreSubRVData* other) const override {
    return Index - static_cast<const TTestLocation*>(other)->Index;
  }
};

class TTestCellData : public TCustomRVData {
 public:
  TTestCellData(TCustomRVData* parent, TCustomRVItemInfo* owner, int32_t index)
      : parent_(parent), owner_(owner), index_(index) {}
  TCustomRVData* GetParentData() override { return parent_; }
  TCustomRVData* GetAbsoluteParentData() override { return parent_; }
  TCustomRVData* GetRootData() override { return parent_->GetRootData(); }
  TCustomRVData* GetAbsoluteRootData() override { return parent_->GetAbsoluteRootData(); }
  bool PageBreaksAllowed() override { return false; }
  void GetParentInfo(int32_t& parent_item_no, std::unique_ptr<TRVStoreSubRVData>& location) override {
    parent_item_no = parent_->GetItemNo(owner_);
    location = std::make_unique<TTestLocation>(index_);
  }

 private:
  TCustomRVData* parent_;
  TCustomRVItemInfo* owner_;
  int32_t index_;
};

// An item with sub-documents, as a table item is.
class TTestTableItem : public TRVFullLineItemInfo {
 public:
  TTestTableItem(TCustomRVData* parent, int32_t cells) : TRVFullLineItemInfo(parent) {
    StyleNo = -60;
    for (int32_t i = 0; i < cells; ++i) Cells.push_back(std::make_unique<TTestCellData>(parent, this, i));
  }
  std::vector<std::unique_ptr<TTestCellData>> Cells;
  TCustomRVData* GetSubRVData(std::unique_ptr<TRVStoreSubRVData>& state, TRVSubRVDataPos pos) override {
    int32_t n = static_cast<int32_t>(Cells.size());
    int32_t i = -1;
    switch (pos) {
      case rvdFirst: i = 0; break;
      case rvdLast: i = n - 1; break;
      case rvdNext: i = state ? static_cast<TTestLocation*>(state.get())->Index + 1 : -1; break;
      case rvdPrev: i = state ? static_cast<TTestLocation*>(state.get())->Index - 1 : -1; break;
    }
    if (i < 0 || i >= n) {
      state.reset();
      return nullptr;
    }
    state = std::make_unique<TTestLocation>(i);
    return Cells[static_cast<size_t>(i)].get();
  }
};

struct Doc {
  TRVStyle style{nullptr};
  TCustomRVData data;
  Doc() { data.SetRVStyle(&style); }
  std::string Texts() {
    std::string r;
    for (int32_t i = 0; i < data.ItemCount(); ++i) {
      if (i) r += data.IsParaStart(i) ? "|" : data.IsFromNewLine(i) ? "/" : "+";
      r += data.GetItem(i)->StyleNo == rvsTab ? AnsiString("<tab>") : data.GetItemTextRaw(i);
    }
    return r;
  }
};

TEST(DocumentDataTest, AddingFollowsTheLineAndParagraphRules) {
  Doc d;
  d.data.AddTextItem("a", 0, -1);
  EXPECT_EQ(d.data.GetItemPara(0), 0);  // -1 in an empty document starts paragraph 0
  EXPECT_TRUE(d.data.IsParaStart(0));
  d.data.AddTextItem("b", 1, -1);
  EXPECT_TRUE(d.data.GetItem(1)->GetSameAsPrev());

  // A trailing list marker gets an empty style-0 text item on its line first.
  auto marker = CreateRVItem(rvsListMarker, &d.data);
  marker->ParaNo = 1;
  d.data.AddItem("", marker.release());
  d.data.AddTextItem("c", 2, 1);
  ASSERT_EQ(d.data.ItemCount(), 5);
  EXPECT_EQ(d.data.GetItemTextRaw(3), "");
  EXPECT_EQ(d.data.GetItem(3)->StyleNo, 0);
  EXPECT_TRUE(d.data.GetItem(3)->GetSameAsPrev());
  EXPECT_TRUE(d.data.IsParaStart(4));

  // Without new paragraphs an item starts a line (BR) in the paragraph; a break never gets BR.
  d.data.SetAllowNewPara(false);
  d.data.AddTextItem("d", 0, 0);
  EXPECT_TRUE(d.data.GetItem(5)->GetBR());
  auto br = CreateRVItem(rvsBreak, &d.data);
  d.data.AddItem("", br.release());
  EXPECT_FALSE(d.data.GetItem(6)->GetBR());
  d.data.SetAllowNewPara(true);

  // Tabs become spaces unless the sheet keeps them as items.
  d.style.SpacesInTab = 4;
  Doc t;
  t.style.SpacesInTab = 4;
  t.data.AddTextItem("x\ty", 0, 0);
  EXPECT_EQ(t.Texts(), "x    y");
}

TEST(DocumentDataTest, TextBlocksSplitIntoParagraphs) {
  struct Case {
    const char* text;
    int32_t spaces_in_tab;
    const char* items;
  } cases[] = {
      {"a\r\nb\r\rc", 0, "a|b||c"},
      {"a\r\nb\n\nc\fd", 0, "a|b||c|d"},
      {"a\n\rb", 0, "a|b"},
      {"x\ty", 0, "x+<tab>+y"},
      {"x\ty", 4, "x    y"},
      {"a\vb", 0, "a\vb"},
  };
  for (const Case& c : cases) {
    Doc d;
    d.style.SpacesInTab = c.spaces_in_tab;
    EXPECT_TRUE(d.data.AddTextBlockTag(c.text, 0, 0, 1, TRVTag()));
    EXPECT_EQ(d.Texts(), c.items) << c.text;
  }
  Doc d;
  d.data.AddTextBlockTag("a\r\nb\n\nc\fd", 0, 0, 1, TRVTag());
  EXPECT_EQ(d.data.GetItemPara(0), 0);
  EXPECT_EQ(d.data.GetItemPara(1), 1);
  EXPECT_TRUE(d.data.GetItem(4)->GetPageBreakBefore());
  EXPECT_FALSE(d.data.GetItem(3)->GetPageBreakBefore());
  // FirstParaNo -1 continues the last paragraph.
  d.data.AddTextBlockTag("e", 0, -1, 1, TRVTag());
  EXPECT_TRUE(d.data.GetItem(5)->GetSameAsPrev());

  // String tags: every item gets its own copy.
  Doc s;
  s.data.SetOptions({rvoTagsArePChars});
  s.data.AddTextBlockTag("a\nb", 0, 0, 0, TRVTag::FromStr("t"));
  EXPECT_EQ(*s.data.GetItemTag(0).Str, "t");
  EXPECT_EQ(*s.data.GetItemTag(1).Str, "t");
}

TEST(DocumentDataTest, UnicodeStylesAndAnsiText) {
  Doc d;
  d.style.TextStyles()->Items(1)->Unicode = true;
  d.style.TextStyles()->Items(1)->Charset = 238;
  d.data.AddAnsiTextItemTag("\xE8", 1, 0, TRVTag());  // "č" in Windows-1250
  ASSERT_EQ(d.data.ItemCount(), 1);
  EXPECT_TRUE(d.data.GetItem(0)->ItemOptions.Contains(rvioUnicodeText));
  EXPECT_EQ(d.data.GetItemTextRaw(0), AnsiString("\x0D\x01", 2));
  EXPECT_EQ(d.data.ItemLength(0), 1);
  EXPECT_EQ(d.data.GetOffsAfterItem(0), 2);
  EXPECT_EQ(d.data.GetItemTextA(0), "\xE8");
  EXPECT_THROW(RV_CheckUnicodeLength(3), EDocViewError);
}

TEST(DocumentDataTest, AccessorsAndBounds) {
  Doc d;
  int32_t n = 5;
  d.data.ClampItemNo(n);
  EXPECT_EQ(n, 0);
  EXPECT_THROW(d.data.PageBreaksBeforeItem(0), EDocViewError);
  d.data.AddTextBlockTag("ab\ncd", 0, 0, 0, TRVTag());
  auto br = CreateRVItem(rvsBreak, &d.data);
  br->ParaNo = 0;
  d.data.AddItem("", br.release());
  EXPECT_THROW(d.data.PageBreaksBeforeItem(3), EDocViewError);
  EXPECT_THROW(d.data.SetItemPageBreakBefore(-1, true), EDocViewError);
  EXPECT_EQ(d.data.IsTextItem(2), 0);
  EXPECT_EQ(d.data.GetOffsAfterItem(2), 1);
  EXPECT_EQ(d.data.ItemLength(2), 1);
  EXPECT_TRUE(d.data.CheckItemClass<TRVBreakItemInfo>(2));
  EXPECT_THROW(d.data.CheckItemClass<TRVBreakItemInfo>(0), EDocViewError);
  EXPECT_TRUE(d.data.IsDelimiter("a b", 2, 0));
  EXPECT_FALSE(d.data.IsDelimiter("a b", 1, 0));
  EXPECT_TRUE(d.data.IsDelimiter(AnsiString("a\0 \0", 4), 2, 8));
  AnsiString z("a\0b", 3);
  TCustomRVData::ReplaceNullChars(z);
  EXPECT_EQ(z, "a?b");
  int32_t first = 0, last = 0;
  d.data.ExpandToPara(1, 1, first, last);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(last, 1);
}

TEST(DocumentDataTest, CheckpointsAttachAndLinkInItemOrder) {
  Doc d;
  EXPECT_EQ(d.data.AddCheckpoint("one", false, TRVTag()), 0);
  EXPECT_EQ(d.data.AddCheckpoint("ignored", false, TRVTag()), 0);  // one is pending
  d.data.AddTextItem("a", 0, 0);
  d.data.AddTextItem("b", 0, 0);
  d.data.AddCheckpoint("three", true, TRVTag());
  d.data.AddTextItem("c", 0, 0);
  EXPECT_EQ(d.data.CPCount(), 2);
  ASSERT_NE(d.data.GetItemCheckpoint(0), nullptr);
  EXPECT_EQ(d.data.GetItemCheckpoint(0)->Name, "one");
  EXPECT_EQ(d.data.FirstCP()->Next, d.data.LastCP());
  EXPECT_EQ(d.data.LastCP()->Name, "three");
  EXPECT_EQ(d.data.FindCheckpointBefore(2)->Name, "one");

  auto* cp = new TRVCPInfo();
  cp->Name = "two";
  d.data.GetItem(1)->Checkpoint = cp;
  d.data.LinkCheckpoint(cp, 1);
  EXPECT_EQ(d.data.FirstCP()->Next->Name, "two");
  EXPECT_EQ(d.data.LastCP()->Prev->Name, "two");

  d.data.DeleteItems(1, 1);
  EXPECT_EQ(d.data.FirstCP()->Next, d.data.LastCP());
  d.data.Clear();
  EXPECT_EQ(d.data.FirstCP(), nullptr);
  EXPECT_EQ(d.data.CPCount(), 0);
  EXPECT_EQ(d.data.ItemCount(), 0);
}

TEST(DocumentDataTest, AppendFromMovesItemsAndRefusesMixedTagTypes) {
  Doc a, b;
  a.data.AddTextItem("a", 0, 0);
  b.data.AddTextItem("b", 0, 0);
  b.data.AddTextItem("c", 1, -1);
  b.data.AddCheckpoint("end", false, TRVTag());
  a.data.AppendFrom(&b.data);
  EXPECT_EQ(a.Texts(), "a|b+c");
  EXPECT_EQ(b.data.ItemCount(), 0);
  EXPECT_EQ(b.data.NotAddedCP(), nullptr);
  EXPECT_NE(a.data.NotAddedCP(), nullptr);
  a.data.AppendFrom(nullptr);

  Doc s;
  s.data.SetOptions({rvoTagsArePChars});
  s.data.AddTextItem("x", 0, 0);
  EXPECT_THROW(a.data.AppendFrom(&s.data), EDocViewError);
  EXPECT_EQ(s.data.ItemCount(), 1);
  try {
    a.data.AppendFrom(&s.data);
  } catch (const EDocViewError& e) {
    EXPECT_STREQ(e.what(), "Can't assign DocView to DocView - tags types mismatch");
  }
}

TEST(DocumentDataTest, ItemActionsReachTheRootOwner) {
  Doc d;
  std::vector<TRVItemAction> seen;
  d.data.OnItemAction = [&](TRVItemAction a, TCustomRVItemInfo*, AnsiString& text, TCustomRVData*) {
    seen.push_back(a);
    if (a == rviaInserting) text += "!";
  };
  d.data.AddTextItem("a", 0, 0);
  EXPECT_EQ(d.data.GetItemTextRaw(0), "a!");
  d.data.Clear();
  EXPECT_EQ(seen, (std::vector<TRVItemAction>{rviaInserting, rviaInserted, rviaDestroying}));

  // A handler that raises while items are destroyed: the error reaches the caller, and every
  // item is freed all the same.
  d.data.AddTextItem("b", 0, 0);
  d.data.AddTextItem("c", 0, 0);
  d.data.OnItemAction = [](TRVItemAction a, TCustomRVItemInfo*, AnsiString&, TCustomRVData*) {
    if (a == rviaDestroying) throw Exception("no");
  };
  EXPECT_THROW(d.data.Clear(), Exception);
  EXPECT_EQ(d.data.ItemCount(), 0);
  EXPECT_EQ(d.data.State & rvstClearing, 0u);
}

TEST(DocumentMaintenanceTest, EnumerationEntersSubDocumentsAfterTheirItem) {
  Doc d;
  d.data.AddTextItem("a", 0, 0);
  auto* table = new TTestTableItem(&d.data, 2);
  table->ParaNo = 0;
  table->Cells[0]->AddTextItem("c0", 0, 0);
  table->Cells[1]->AddTextItem("c1", 0, 0);
  d.data.AddItem("", table);
  d.data.AddTextItem("z", 0, 0);
  std::vector<std::string> order;
  TRVEnumItemsProc proc = [&](TCustomRVData* rv, int32_t i, bool& cont, void*) {
    order.push_back(rv->GetItemTextRaw(i));
    if (rv->GetItemTextRaw(i) == "c1") cont = false;
  };
  EXPECT_FALSE(d.data.EnumItems(proc, nullptr));
  EXPECT_EQ(order, (std::vector<std::string>{"a", "", "c0", "c1"}));
  TCustomRVData empty;
  EXPECT_TRUE(empty.EnumItems(proc, nullptr));

  // Positions: a cell item lies after the item before the table; cells compare by location.
  EXPECT_GT(table->Cells[0]->ComparePositions(0, &d.data, 0), 0);
  EXPECT_LT(d.data.ComparePositions(0, table->Cells[0].get(), 0), 0);
  EXPECT_LT(table->Cells[0]->ComparePositions(0, table->Cells[1].get(), 0), 0);
  EXPECT_EQ(d.data.ComparePositions(1, table->Cells[1].get(), 0), -1);
  TCustomRVData stranger;
  stranger.AddTextItem("s", 0, 0);
  EXPECT_THROW(d.data.ComparePositions(0, &stranger, 0), EDocViewError);

  EXPECT_EQ(d.data.FindItemFrom(0, table->Cells[1]->GetItem(0)), 1);
  EXPECT_EQ(d.data.FindItemFrom(2, table), -1);
  // Options asked in a cell come from the root.
  d.data.SetOptions({rvoShowItemHints});
  EXPECT_TRUE(table->Cells[0]->GetOptions().Contains(rvoShowItemHints));
  EXPECT_EQ(table->Cells[0]->GetRVStyle(), &d.style);
  // Owner events raised in a cell reach the top document's handlers.
  d.data.OnWriteHyperlink = [](int32_t id, TCustomRVData*, int32_t, TRVSaveFormat, AnsiString& target, AnsiString&) {
    target = "#" + std::to_string(id);
  };
  AnsiString target, extras;
  table->Cells[1]->DoWriteHyperlink(7, table->Cells[1].get(), 0, rvsfHTML, target, extras);
  EXPECT_EQ(target, "#7");
  AnsiString url;
  table->Cells[0]->DoURLNeeded(1, url);
  EXPECT_EQ(url, "");  // no handler: stays empty
}

TEST(DocumentMaintenanceTest, PreviousMarkerIsFoundAcrossCells) {
  Doc d;
  auto m = CreateRVItem(rvsListMarker, &d.data);
  auto* marker = static_cast<TRVMarkerItemInfo*>(m.get());
  d.data.AddItem("", m.release());
  d.data.AddMarkerInList(0);
  d.data.AddTextItem("a", 0, -1);
  auto* table = new TTestTableItem(&d.data, 2);
  table->Cells[0]->AddTextItem("c0", 0, 0);
  table->Cells[1]->AddTextItem("c1", 0, 0);
  d.data.AddItem("", table);
  EXPECT_EQ(table->Cells[1]->FindPreviousMarker(0), marker);
  ASSERT_NE(d.data.GetMarkers(false), nullptr);
  EXPECT_EQ(table->Cells[0]->GetMarkers(false), d.data.GetMarkers(false));  // held by the root
  TRVIntegerList lists;
  lists.Add(-1);
  EXPECT_EQ(d.data.FindLastMarkerOfLists(-1, lists), 0);
  d.data.DeleteItems(0, 1);
  EXPECT_EQ(d.data.GetMarkers(false), nullptr);  // the last marker went
}

TEST(DocumentMaintenanceTest, MergingTextItems) {
  Doc d;
  d.data.AddTextItem("", 0, 0);
  d.data.AddTextItem("x", 1, -1);
  d.data.AddTextItem("y", 1, -1);
  d.data.AddTextItem("z", 1, 0);  // starts a paragraph: not merged unless forced
  d.data.NormalizeItems(0, 10);
  ASSERT_EQ(d.data.ItemCount(), 2);
  // The empty first item keeps its object and takes the text of the others with their style.
  EXPECT_EQ(d.data.GetItem(0)->StyleNo, 1);
  EXPECT_EQ(d.data.GetItemTextRaw(0), "xy");
  EXPECT_FALSE(d.data.CanMergeItems(0, d.data.GetItem(0), false, d.data.GetItem(1)));
  d.data.GetItem(1)->StyleNo = 2;
  EXPECT_FALSE(d.data.CanMergeItems(0, d.data.GetItem(0), true, d.data.GetItem(1)));  // styles differ
  d.style.TextStyles()->Items(1)->Protection = {rvprConcateProtect};
  Doc p;
  p.style.TextStyles()->Items(1)->Protection = {rvprConcateProtect};
  p.data.AddTextItem("a", 1, 0);
  p.data.AddTextItem("b", 1, -1);
  EXPECT_FALSE(p.data.CanMergeItems(0, p.data.GetItem(0), false, p.data.GetItem(1)));

  // An empty item that takes the text of a UTF-16 item takes its style and encoding.
  Doc u;
  u.style.TextStyles()->Items(1)->Unicode = true;
  u.data.AddTextItem("", 0, 0);
  u.data.AddTextItem(AnsiString("\x0D\x01", 2), 1, -1);  // U+010D
  u.data.NormalizeItems(0, 1);
  ASSERT_EQ(u.data.ItemCount(), 1);
  EXPECT_EQ(u.data.GetItem(0)->StyleNo, 1);
  EXPECT_TRUE(u.data.GetItem(0)->ItemOptions.Contains(rvioUnicodeText));
  EXPECT_EQ(u.data.GetItemTextRaw(0), AnsiString("\x0D\x01", 2));
  // A non-empty UTF-16 item merged after an 8-bit one is converted to its encoding.
  Doc w;
  w.style.TextStyles()->Items(1)->Unicode = true;
  w.data.AddTextItem("a", 0, 0);
  w.data.AddTextItem(AnsiString("\x0D\x01", 2), 1, -1);
  w.data.MergeItems(0, w.data.GetItem(1));
  EXPECT_EQ(w.data.GetItemTextRaw(0), "a\xE8");
}

// Deleting unused styles renumbers items and anything that holds style numbers the same way:
// a kept style's new number is its old number less the styles deleted before it.
class TRenumberingData : public TCustomRVData {
 public:
  int32_t CurTextStyleNo = 0;
  int32_t CurParaStyleNo = 0;
  void AfterDeleteStyles(const TRVDeleteUnusedStylesData& data) override {
    CurTextStyleNo = data.RenumberText(CurTextStyleNo);
    CurParaStyleNo = data.RenumberPara(CurParaStyleNo);
  }
};

TEST(DocumentMaintenanceTest, UnusedStylesAreDeletedAndEverythingRenumberedAlike) {
  TRVStyle style(nullptr);
  TRenumberingData data;
  data.SetRVStyle(&style);
  for (int32_t i = 0; i < style.TextStyles()->Count(); ++i) style.TextStyles()->Items(i)->Standard = false;
  style.ParaStyles()->Items(0)->Standard = false;
  TParaInfo* extra = style.ParaStyles()->Add();
  extra->Standard = false;
  extra->DefStyleNo = 5;
  data.AddTextItem("a", 2, 1);
  data.AddTextItem("b", 4, 2);
  auto tab = CreateRVItem(rvsTab, &data);
  static_cast<TRVTabItemInfo*>(tab.get())->TextStyleNo = 4;
  tab->ParaNo = -1;
  data.AddItem("", tab.release());
  data.CurTextStyleNo = 4;
  data.CurParaStyleNo = 2;

  data.DeleteUnusedStyles(true, true, false);
  // Text styles 2, 4 and 5 (the default of a used paragraph) stay; paragraphs 1 and 2.
  ASSERT_EQ(style.TextStyles()->Count(), 3);
  EXPECT_EQ(style.TextStyles()->Items(0)->StyleName, "Subheading");
  EXPECT_EQ(style.TextStyles()->Items(1)->StyleName, "Jump 1");
  ASSERT_EQ(style.ParaStyles()->Count(), 2);
  EXPECT_EQ(style.ParaStyles()->Items(1)->DefStyleNo, 2);
  EXPECT_EQ(data.GetItem(0)->StyleNo, 0);
  EXPECT_EQ(data.GetItem(0)->ParaNo, 0);
  EXPECT_EQ(data.GetItem(1)->StyleNo, 1);
  EXPECT_EQ(data.GetItem(1)->ParaNo, 1);
  EXPECT_EQ(static_cast<TRVTabItemInfo*>(data.GetItem(2))->TextStyleNo, 1);
  EXPECT_EQ(data.CurTextStyleNo, data.GetItem(1)->StyleNo);
  EXPECT_EQ(data.CurParaStyleNo, data.GetItem(1)->ParaNo);
}

// Unused list styles go too: a marker keeps its list style (and the styles it is based on)
// and follows it to its new number; the marker list numbers on as before.
TEST(DocumentMaintenanceTest, UnusedListStylesAreDeletedAndMarkersRenumbered) {
  TRVStyle style(nullptr);
  TCustomRVData data;
  data.SetRVStyle(&style);
  for (const char* name : {"one", "two", "three", "four"}) {
    TRVListInfo* list = style.ListStyles()->Add();
    list->StyleName = name;
    list->Standard = false;
    list->Levels()->Add();
  }
  style.ListStyles()->Items(2)->BaseStyleNo = 3;
  auto m = CreateRVItem(rvsListMarker, &data);
  static_cast<TRVMarkerItemInfo*>(m.get())->ListNo = 2;
  data.AddItem("", m.release());
  data.AddMarkerInList(0);
  data.AddTextItem("item", 0, -1);

  data.DeleteUnusedStyles(false, false, true);
  ASSERT_EQ(style.ListStyles()->Count(), 2);
  EXPECT_EQ(style.ListStyles()->Items(0)->StyleName, "three");
  EXPECT_EQ(style.ListStyles()->Items(0)->BaseStyleNo, 1);
  EXPECT_EQ(style.ListStyles()->Items(1)->StyleName, "four");
  auto* marker = static_cast<TRVMarkerItemInfo*>(data.GetItem(0));
  EXPECT_EQ(marker->ListNo, 0);
  EXPECT_EQ(marker->Counter, 1);
  // A standard list style stays though nothing uses it; without the switch nothing goes.
  TRVListInfo* standard = style.ListStyles()->Add();
  standard->Standard = true;
  data.DeleteUnusedStyles(true, true, false);
  EXPECT_EQ(style.ListStyles()->Count(), 3);
  data.DeleteUnusedStyles(false, false, true);
  EXPECT_EQ(style.ListStyles()->Count(), 3);
  EXPECT_EQ(marker->ListNo, 0);
}

class TPngPicture : public TGraphic {
 public:
  int32_t Width() const override { return 1; }
  int32_t Height() const override { return 1; }
  void Draw(TCanvas&, const TRect&) override {}
  void SaveToStream(TStream& s) const override { s.WriteBuffer("\x89PNG", 4); }
};
class TOtherPicture : public TPngPicture {};

TEST(DocumentMaintenanceTest, PictureFileNamesContinueTheCounter) {
  test::TempDir dir("rvdata");
  const AnsiString path = dir.Path() + "/";
  { std::ofstream(path + "img1.jpg") << "x"; }
  ::mkdir((path + "pics").c_str(), 0755);
  TCustomRVData data;
  int32_t counter = 0;
  EXPECT_EQ(data.GetNextFileName("img", path, ".jpg", counter, false), path + "img2.jpg");
  EXPECT_EQ(counter, 2);
  counter = 0;
  EXPECT_EQ(data.GetNextFileName("img", path, ".jpg", counter, true), path + "img1.jpg");

  // A picture of a class listed for HTML is written in its own format; any other one is
  // drawn and written as JPEG.
  RV_RegisterHTMLGraphicFormat("TPngPicture", ".png");
  TPngPicture png;
  counter = 0;
  EXPECT_EQ(data.SavePicture(rvsfHTML, "pics/img", path, counter, false, clNone, &png), "pics/img1.png");
  EXPECT_EQ(test::ReadFile(path + "pics/img1.png"), "\x89PNG");
  TOtherPicture other;
  EXPECT_EQ(data.SavePicture(rvsfHTML, "img", path, counter, false, clNone, &other), "img2.jpg");
  EXPECT_EQ(test::ReadFile(path + "img2.jpg").substr(0, 3), "\xFF\xD8\xFF");
  // The owner may take the picture over.
  data.OnSaveImage2 = [](TGraphic*, TRVSaveFormat, const AnsiString&, const AnsiString&, int32_t&,
                         AnsiString& location, bool& do_default) {
    location = "elsewhere.gif";
    do_default = false;
  };
  EXPECT_EQ(data.SavePicture(rvsfHTML, "img", path, counter, false, clNone, &other), "elsewhere.gif");
}

}  // namespace
}  // namespace pelvar
