// Undo and redo of the editable document: typing groups taken back one character at a time,
// the group limit, group mode, the list errors, every recording primitive performed and then
// reversed (and redone), paragraph styles restored per item, and deleted items coming back
// with their checkpoints.
#include "richtext/edit/RVERVData.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVMarker.h"
#include "richtext/model/RVStyle.h"

namespace pelvar {
namespace {

struct Doc {
  TRVStyle style{nullptr};
  TRVEditRVData data;
  Doc() {
    data.SetRVStyle(&style);
    while (style.ParaStyles()->Count() < 4) style.ParaStyles()->Add();
    while (style.TextStyles()->Count() < 3) style.TextStyles()->Add();
  }
  void Add(const std::string& text, int32_t style_no = 0, int32_t para_no = 0, bool new_para = true) {
    auto* item = new TRVTextItemInfo(&data);
    item->StyleNo = style_no;
    item->ParaNo = para_no;
    item->SetSameAsPrev(!new_para);
    data.AddItemAsIs(text, item);
  }
};

// The item list as text: text, style, paragraph style, flags, checkpoint and tag of each item.
std::string Dump(TRVEditRVData& d) {
  std::string out;
  for (int32_t i = 0; i < d.ItemCount(); ++i) {
    TCustomRVItemInfo* it = d.GetItem(i);
    out += "[" + d.GetItemTextRaw(i) + " s" + std::to_string(it->StyleNo) + " p" + std::to_string(it->ParaNo);
    if (it->GetSameAsPrev()) out += " cont";
    if (it->GetBR()) out += " br";
    if (it->GetPageBreakBefore()) out += " pb";
    if (it->Checkpoint) out += " cp:" + it->Checkpoint->Name;
    if (it->Tag.Int) out += " t" + std::to_string(it->Tag.Int);
    out += "]";
  }
  return out + " cps" + std::to_string(d.CPCount());
}

// Types one character at 1-based position pos of item item_no, as the typing action does.
void TypeChar(TRVEditRVData& d, int32_t item_no, int32_t pos, char ch) {
  AnsiString s = d.GetItemTextRaw(item_no);
  s.insert(static_cast<size_t>(pos - 1), 1, ch);
  d.SetItemTextRaw(item_no, s);
  d.UndoList->AddTyping(item_no, pos, false);
  d.SetCaretAt(item_no, pos + 1);
}

TEST(RVUndo, TypingIsOneGroupUndoneAndRedoneCharByChar) {
  Doc doc;
  doc.Add("");
  for (int i = 0; i < 3; ++i) TypeChar(doc.data, 0, i + 1, "abc"[i]);
  ASSERT_EQ(doc.data.UndoList->Count(), 1);
  TRVUndoInfos* g = doc.data.UndoList->Get(0);
  EXPECT_EQ(g->GroupType, rvutTyping);
  ASSERT_EQ(g->Count(), 1);
  auto* t = dynamic_cast<TRVUndoTypingInfo*>(g->Get(0));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->CharCount, 3);

  const std::vector<std::pair<std::string, int32_t>> after_undo = {{"ab", 3}, {"a", 2}, {"", 1}};
  for (auto& [text, caret] : after_undo) {
    doc.data.Undo();
    EXPECT_EQ(doc.data.GetItemTextRaw(0), text);
    EXPECT_EQ(doc.data.OffsetInCurItem(), caret) << text;
  }
  EXPECT_EQ(doc.data.UndoList->Count(), 0);
  EXPECT_EQ(doc.data.RedoList->Count(), 1);

  const std::vector<std::pair<std::string, int32_t>> after_redo = {{"a", 2}, {"ab", 3}, {"abc", 4}};
  for (auto& [text, caret] : after_redo) {
    doc.data.Redo();
    EXPECT_EQ(doc.data.GetItemTextRaw(0), text);
    EXPECT_EQ(doc.data.OffsetInCurItem(), caret) << text;
  }
  EXPECT_EQ(doc.data.RedoList->Count(), 0);
  ASSERT_EQ(doc.data.UndoList->Count(), 1);
  EXPECT_EQ(dynamic_cast<TRVUndoTypingInfo*>(doc.data.UndoList->Get(0)->Get(0))->CharCount, 3);
}

TEST(RVUndo, TypingElsewhereOpensANewGroup) {
  Doc doc;
  doc.Add("xy");
  doc.Add("z");
  TypeChar(doc.data, 0, 1, 'a');
  TypeChar(doc.data, 0, 2, 'b');  // continues
  TypeChar(doc.data, 0, 1, 'c');  // not after the run
  TypeChar(doc.data, 1, 1, 'd');  // another item
  EXPECT_EQ(doc.data.UndoList->Count(), 3);
}

TEST(RVUndo, UnicodeTypingUndoAndRedo) {
  Doc doc;
  auto* item = new TRVTextItemInfo(&doc.data);
  item->ItemOptions.Include(rvioUnicodeText);
  doc.data.AddItemAsIs(std::string("a\0", 2), item);
  AnsiString s = doc.data.GetItemTextRaw(0);
  s += std::string("b\0", 2);
  doc.data.SetItemTextRaw(0, s);
  doc.data.UndoList->AddTyping(0, 2, true);
  doc.data.Undo();
  EXPECT_EQ(doc.data.GetItemTextRaw(0), std::string("a\0", 2));
  doc.data.Redo();
  EXPECT_EQ(doc.data.GetItemTextRaw(0), std::string("a\0b\0", 4));
  // A broken UTF-16 text is refused, not cut in the middle of a unit.
  doc.data.SetItemTextRaw(0, std::string("a\0b", 3));
  EXPECT_THROW(doc.data.Undo(), EDocViewError);
}

TEST(RVUndo, UndoLimit) {
  Doc doc;
  doc.Add("x");
  doc.data.SetUndoLimit(3);
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(doc.data.BeginUndoGroup(rvutInsert));
    doc.data.RecInsertSubstring(0, 1, std::string(1, static_cast<char>('1' + i)));
  }
  ASSERT_EQ(doc.data.UndoList->Count(), 3);
  // The oldest group ("1") went; three undos leave it in the text.
  for (int i = 0; i < 3; ++i) doc.data.Undo();
  EXPECT_EQ(doc.data.GetItemTextRaw(0), "1x");
  EXPECT_EQ(doc.data.UndoList->Count(), 0);

  // Lowering the limit below the number of groups trims the oldest ones at once.
  doc.data.SetUndoLimit(-1);
  for (int i = 0; i < 3; ++i) {
    doc.data.BeginUndoGroup(rvutInsert);
    doc.data.RecInsertSubstring(0, 1, "y");
  }
  doc.data.SetUndoLimit(1);
  EXPECT_EQ(doc.data.UndoList->Count(), 1);

  // 0 records nothing, also typing; deleted items are destroyed at once.
  doc.data.RedoList->Clear();
  doc.data.SetUndoLimit(0);
  EXPECT_EQ(doc.data.UndoList->Count(), 0);
  EXPECT_FALSE(doc.data.BeginUndoGroup(rvutInsert));
  EXPECT_EQ(doc.data.GetUndoDestination(), nullptr);
  doc.data.RecInsertSubstring(0, 1, "z");
  doc.data.UndoList->AddTyping(0, 1, false);
  doc.Add("gone");
  bool ff = false;
  doc.data.RecDeleteItem(1, ff);
  EXPECT_EQ(doc.data.UndoList->Count(), 0);
  EXPECT_EQ(doc.data.RedoList->Count(), 0);
  EXPECT_EQ(doc.data.UndoList->LastGroupType(), 0);
}

TEST(RVUndo, GroupModeAndEmptyGroups) {
  Doc doc;
  doc.Add("abc");
  TRVUndoList& u = *doc.data.UndoList;
  doc.data.SetCaretAt(0, 2);
  u.BeginGroup(rvutDelete, "first", 0, 2);
  // An empty last group gives its title and caret to the next one.
  u.BeginGroup(rvutInsert, "second", 0, 3);
  ASSERT_EQ(u.Count(), 1);
  EXPECT_EQ(u.Get(0)->Title, "first");
  EXPECT_EQ(u.Get(0)->GroupType, rvutInsert);
  EXPECT_EQ(u.Get(0)->CaretOffset, 2);

  doc.data.SetUndoGroupMode(true);
  doc.data.BeginUndoGroup(rvutDelete);
  doc.data.RecDeleteSubstring(0, 1, 1);
  doc.data.BeginUndoGroup(rvutInsert);
  doc.data.RecInsertSubstring(0, 1, "XY");
  doc.data.SetUndoGroupMode(false);
  ASSERT_EQ(u.Count(), 1);
  EXPECT_EQ(u.Get(0)->Count(), 2);
  doc.data.Undo();
  EXPECT_EQ(doc.data.GetItemTextRaw(0), "abc");
}

TEST(RVUndo, ListErrors) {
  Doc doc;
  doc.Add("abc");
  TRVUndoList& u = *doc.data.UndoList;
  try {
    u.AddInfo(new TRVUndoTagInfo());
    FAIL();
  } catch (const EDocViewError& e) {
    EXPECT_STREQ(e.what(), "Can't modify empty undo list");
  }
  u.AddTyping(0, 1, false);
  try {
    u.AddInfo(new TRVUndoTagInfo());
    FAIL();
  } catch (const EDocViewError& e) {
    EXPECT_STREQ(e.what(), "Incorrect adding into undo list");
  }
  try {
    doc.data.Redo();
    FAIL();
  } catch (const EDocViewError& e) {
    EXPECT_STREQ(e.what(), "Undo buffer is empty");
  }
  EXPECT_THROW(doc.data.RecInsertSubstring(5, 1, "x"), Exception);
  EXPECT_THROW(doc.data.RecDeleteCheckpoint(0), EDocViewError);
}

// Every primitive: perform, Undo gives the item list back, Redo gives the changed one.
TEST(RVUndo, EveryPrimitiveIsReversedAndRedone) {
  struct Case {
    const char* name;
    std::function<void(TRVEditRVData&)> edit;
  };
  auto checkpoint = [](const char* name) {
    auto* cp = new TRVCPInfo();
    cp->Name = name;
    return cp;
  };
  bool ff = false;
  const std::vector<Case> cases = {
      {"DeleteItem", [&](TRVEditRVData& d) { d.RecDeleteItem(1, ff); }},
      {"DeleteItems", [&](TRVEditRVData& d) { d.RecDeleteItems(1, 3, ff); }},
      {"DeleteSubstring", [](TRVEditRVData& d) { d.RecDeleteSubstring(0, 2, -1); }},
      {"InsertSubstring", [](TRVEditRVData& d) { d.RecInsertSubstring(2, 2, "XYZ"); }},
      {"ChangeText", [](TRVEditRVData& d) { d.RecChangeText(3, "new"); }},
      {"InsertItem",
       [&](TRVEditRVData& d) {
         auto* it = new TRVTextItemInfo(&d);
         it->ParaNo = 3;
         it->Checkpoint = checkpoint("n");
         AnsiString t = "ins";
         d.RecInsertItem(2, t, it, false, ff);
       }},
      {"InsertItems",
       [&](TRVEditRVData& d) {
         std::vector<std::pair<AnsiString, TCustomRVItemInfo*>> items;
         for (const char* t : {"q", "p"}) {
           auto* it = new TRVTextItemInfo(&d);
           it->SetSameAsPrev(true);
           items.emplace_back(t, it);
         }
         d.RecInsertItems(1, items, false, ff);
       }},
      {"SetParaRange", [&](TRVEditRVData& d) { d.RecSetParaRange(0, 3, 2, ff); }},
      {"SetParaList", [&](TRVEditRVData& d) { d.RecSetParaList(1, {3, 3, 0}, ff); }},
      {"SetStyleNo", [](TRVEditRVData& d) { d.RecSetStyleNo(1, 2); }},
      {"SetNewLineOn", [&](TRVEditRVData& d) { d.RecSetNewLine(2, false, 3, ff); }},
      {"SetNewLineOff", [&](TRVEditRVData& d) { d.RecSetNewLine(3, true, -1, ff); }},
      {"SetBR", [&](TRVEditRVData& d) { d.RecSetBR(3, true, ff); }},
      {"SetPageBreak", [](TRVEditRVData& d) { d.RecSetPageBreak(3, true); }},
      {"SetTag", [](TRVEditRVData& d) { d.RecSetTag(0, TRVTag::FromInt(7)); }},
      {"AddCheckpoint", [&](TRVEditRVData& d) { d.RecAddCheckpoint(0, checkpoint("a")); }},
      {"DeleteCheckpoint", [](TRVEditRVData& d) { d.RecDeleteCheckpoint(1); }},
      {"MoveCheckpoint", [](TRVEditRVData& d) { d.RecMoveCheckpoint(1, 3); }},
      {"Concatenate", [](TRVEditRVData& d) { d.RecConcatenateItems(1); }},
      {"ConcatenateEmpty", [](TRVEditRVData& d) { d.RecConcatenateItems(4); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Doc doc;
    doc.Add("one", 0, 0);
    doc.Add("two", 1, 0, false);
    doc.Add("three", 0, 0, false);
    doc.Add("four", 0, 1);
    doc.Add("", 1, 2);
    doc.Add("five", 2, 2, false);
    {
      // A checkpoint on item 1 for the checkpoint cases.
      auto* cp = checkpoint("c1");
      doc.data.UndoDest = 0;
      doc.data.RecAddCheckpoint(1, cp);
    }
    const std::string before = Dump(doc.data);
    ASSERT_TRUE(doc.data.BeginUndoGroup(rvutInsert));
    c.edit(doc.data);
    const std::string after = Dump(doc.data);
    EXPECT_NE(before, after);
    doc.data.Undo();
    EXPECT_EQ(Dump(doc.data), before);
    doc.data.Redo();
    EXPECT_EQ(Dump(doc.data), after);
    doc.data.Undo();
    EXPECT_EQ(Dump(doc.data), before);
  }
}

TEST(RVUndo, ParagraphStartBeforeContinuingItemRestylesTheRest) {
  Doc doc;
  doc.Add("a", 0, 1);
  doc.Add("b", 0, 1, false);
  doc.Add("c", 0, 1, false);
  doc.Add("d", 0, 2);
  auto* it = new TRVTextItemInfo(&doc.data);
  it->ParaNo = 3;
  AnsiString t = "new";
  bool ff = false;
  doc.data.BeginUndoGroup(rvutInsert);
  doc.data.RecInsertItem(1, t, it, false, ff);
  EXPECT_EQ(Dump(doc.data), "[a s0 p1][new s0 p3][b s0 p3 cont][c s0 p3 cont][d s0 p2] cps0");
  doc.data.Undo();
  EXPECT_EQ(Dump(doc.data), "[a s0 p1][b s0 p1 cont][c s0 p1 cont][d s0 p2] cps0");
}

TEST(RVUndo, ParaListUndoRestoresEveryPriorStyle) {
  Doc doc;
  doc.Add("a", 0, 1);
  doc.Add("b", 0, 2);
  doc.Add("c", 0, 3);
  bool ff = false;
  doc.data.BeginUndoGroup(rvutPara);
  doc.data.RecSetParaList(0, {0, 0, 0}, ff);
  doc.data.Undo();
  EXPECT_EQ(Dump(doc.data), "[a s0 p1][b s0 p2][c s0 p3] cps0");
}

TEST(RVUndo, DeletedItemsComeBackWithCheckpoints) {
  Doc doc;
  doc.Add("a");
  doc.Add("b");
  doc.Add("c");
  for (int32_t i : {1, 2}) {
    auto* cp = new TRVCPInfo();
    cp->Name = "cp" + std::to_string(i);
    doc.data.RecAddCheckpoint(i, cp);
  }
  bool ff = false;
  doc.data.BeginUndoGroup(rvutDelete);
  doc.data.RecDeleteItems(1, 2, ff);
  EXPECT_EQ(doc.data.CPCount(), 0);
  doc.data.Undo();
  EXPECT_EQ(Dump(doc.data), "[a s0 p0][b s0 p0 cp:cp1][c s0 p0 cp:cp2] cps2");
  // Items held by a list that is cleared are freed (checked by the sanitizer).
  doc.data.Redo();
  doc.data.RedoList->Clear();
}

TEST(RVUndo, ItemPropertiesAndTerminators) {
  Doc doc;
  auto* pic = new TRVGraphicItemInfo(&doc.data, std::make_unique<TBitmap>(40, 30), 0);
  pic->StyleNo = rvsPicture;
  doc.data.AddItemAsIs("", pic);
  doc.data.BeginUndoGroup(rvutModifyItem);
  doc.data.RecModifyItemTerminator(0, true);
  doc.data.RecSetExtraIntProperty(0, 1, 5);  // vertical shift
  doc.data.RecSetExtraIntProperty(0, 1, 5);  // unchanged: nothing recorded
  doc.data.RecModifyItemTerminator(0, false);
  ASSERT_EQ(doc.data.UndoList->Get(0)->Count(), 3);
  doc.data.Undo();
  int32_t v = -1;
  pic->GetExtraIntProperty(1, v);
  EXPECT_EQ(v, 0);
  // The reverse group is bracketed the other way round: opening first again after redo.
  ASSERT_EQ(doc.data.RedoList->Get(0)->Count(), 3);
  EXPECT_TRUE(dynamic_cast<TRVUndoModifyItemTerminator*>(doc.data.RedoList->Get(0)->Get(0))->IsOpening);
  doc.data.Redo();
  pic->GetExtraIntProperty(1, v);
  EXPECT_EQ(v, 5);
  EXPECT_TRUE(dynamic_cast<TRVUndoModifyItemTerminator*>(doc.data.UndoList->Get(0)->Get(0))->IsOpening);
}

TEST(RVUndo, PersistentCheckpointMovesWithinItsParagraph) {
  Doc doc;
  doc.Add("a");
  doc.Add("b", 0, 0, false);
  doc.Add("c");
  auto* cp = new TRVCPInfo();
  cp->Name = "keep";
  cp->Persistent = true;
  doc.data.RecAddCheckpoint(1, cp);
  EXPECT_TRUE(doc.data.ParaHasPersistentCheckpoint(0));
  EXPECT_FALSE(doc.data.ParaHasPersistentCheckpoint(2));
  doc.data.BeginUndoGroup(rvutDelete);
  // Item 1 ends its paragraph: the checkpoint goes back to item 0.
  EXPECT_TRUE(doc.data.MovePersistentCheckpoint(1, false));
  EXPECT_EQ(Dump(doc.data), "[a s0 p0 cp:keep][b s0 p0 cont][c s0 p0] cps1");
  // Item 0 starts its paragraph and may not move backwards.
  EXPECT_FALSE(doc.data.MovePersistentCheckpoint(0, true));
  doc.data.Undo();
  EXPECT_EQ(Dump(doc.data), "[a s0 p0][b s0 p0 cont cp:keep][c s0 p0] cps1");
}

TEST(RVUndo, ReplicatedListMarkerContinuesTheList) {
  Doc doc;
  TRVListLevel* level = doc.style.ListStyles()->Add()->Levels()->Add();
  level->ListType = rvlstDecimal;
  level->FormatString = "%0:s.";
  auto* m = new TRVMarkerItemInfo(&doc.data);
  m->StyleNo = rvsListMarker;
  m->ListNo = 0;
  m->Reset = true;
  doc.data.AddItemAsIs("", m);
  doc.data.AddMarkerInList(0);
  doc.Add("one", 0, 0, false);
  doc.Add("two", 0, 0);
  bool ff = false;
  doc.data.BeginUndoGroup(rvutNewLine);
  ASSERT_TRUE(doc.data.ReplicateListMarker(1, 2, ff, true));
  doc.data.RecSetNewLine(3, true, -1, ff);
  auto* copy = dynamic_cast<TRVMarkerItemInfo*>(doc.data.GetItem(2));
  ASSERT_NE(copy, nullptr);
  EXPECT_FALSE(copy->Reset);
  EXPECT_EQ(copy->DisplayString, "2.");
  doc.data.Undo();
  EXPECT_EQ(doc.data.ItemCount(), 3);
  EXPECT_EQ(doc.data.GetMarkers(false)->size(), 1u);
}

}  // namespace
}  // namespace pelvar
