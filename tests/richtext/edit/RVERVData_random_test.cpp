// Random editing sessions (fixed seeds) on formatted documents: after every action the caret
// is a valid stop and the partially reformatted layout equals a full formatting; undoing
// every group gives back the starting document and redoing them all the final one.
#include <gtest/gtest.h>

#include <random>

#include "tests/richtext/edit/edit_fixture.h"

namespace pelvar {
namespace {

using edittest::EditDoc;

TEST(RVEditRandom, SessionsKeepLayoutCaretAndUndo) {
  const char* specs[] = {":one two three|+s1:bold|s2:uni\xC4\x8D|p3:last para here",
                         "M:|+:item one|M:|+:item two|:after", ":aaaa bbbb cccc dddd eeee ffff|=:|:x"};
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    std::mt19937 rng(seed);
    EditDoc doc;
    doc.data.Area = 80;
    doc.Build(specs[seed % 3]);
    const std::string start = doc.Dump();
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
    std::string log;
    for (int step = 0; step < 150; ++step) {
      edittest::TTestEditData& d = doc.data;
      const int op = pick(18);
      const std::string prev = doc.Dump() + " caret " + doc.Caret();
      log += std::to_string(op) + " ";
      try {
      switch (op) {
        case 0: d.TypeChar("abc xyz"[pick(7)]); break;
        case 1: d.EnterKey(pick(4) == 0); break;
        case 2: d.BackspaceKey(pick(3) == 0, false, false); break;
        case 3: d.DeleteKey(false); break;
        case 4: d.MoveLeft(false, pick(3) == 0); break;
        case 5: d.MoveRight(false, pick(3) == 0); break;
        case 6: d.MoveUp(false, false); break;
        case 7: d.MoveDown(false, false); break;
        case 8: {
          d.AnchorSelectionAtCaret();
          for (int k = pick(8); k >= 0; --k) d.MoveLeft(true, false);
          d.ExtendSelectionToCaret();
          if (d.SelectionExists(false)) d.DeleteSelection();
          d.Deselect(nullptr, false);
          break;
        }
        case 9: d.InsertText(pick(2) ? "p\r\nq" : "rs", true, false); break;
        case 10: {
          d.AnchorSelectionAtCaret();
          for (int k = pick(6); k >= 0; --k) d.MoveRight(true, false);
          d.ExtendSelectionToCaret();
          const int32_t to = pick(3);
          d.StyleConversion = [to](int32_t, int32_t, int32_t, bool, int32_t& n, bool) { n = to == 2 ? 8 : to; };
          d.ApplyTextStyleConversion(to, 1, false);
          d.Deselect(nullptr, false);
          break;
        }
        case 11: d.InsertTextW(RVU_WideStringToRawUnicode(WideString(u"\u0161\u2028t")), true, false); break;
        case 12: {
          d.BeginUndoGroup(rvutPara, true);
          d.ApplyParaStyle(pick(2) ? 0 : 3, 0);
          break;
        }
        case 13: {
          auto* brk = new TRVBreakItemInfo(&d);
          brk->StyleNo = rvsBreak;
          AnsiString empty;
          d.InsertItemAtCaret(brk, empty, false, false);
          break;
        }
        case 14: {
          auto* tab = new TRVTabItemInfo(&d);
          tab->StyleNo = rvsTab;
          AnsiString empty;
          d.InsertItemAtCaret(tab, empty, false, pick(2) == 0);
          break;
        }
        case 15: d.SetCurTextStyleNo(std::vector<int32_t>{0, 1, 2, 8}[static_cast<size_t>(pick(4))]); break;
        case 16:
          if (d.UndoList->Count() > 0) d.Undo();
          break;
        case 17:
          if (d.RedoList->Count() > 0) d.Redo();
          break;
      }
      } catch (const std::exception& x) {
        FAIL() << x.what() << " after " << log << " seed " << seed << "\n" << doc.Dump() << " caret " << doc.Caret();
      }
      ASSERT_GE(d.CaretOffs, 0) << log;
      ASSERT_LT(d.CaretOffs, static_cast<int32_t>(d.CharPositions.size())) << log;
      ASSERT_EQ(d.CharPositions[static_cast<size_t>(d.CaretOffs)].DItemNo, d.CaretDrawItemNo) << log;
      // The item list stays well formed: nothing continues the line of a full-line item,
      // the first item starts a paragraph, a marker is followed by its paragraph's text.
      for (int32_t i = 0; i < d.ItemCount(); ++i) {
        TCustomRVItemInfo* it = d.GetItem(i);
        if (i == 0) ASSERT_FALSE(it->GetSameAsPrev()) << log << "\nbefore " << prev << "\nafter " << doc.Dump();
        if (i > 0 && it->GetSameAsPrev())
          ASSERT_FALSE(d.GetItem(i - 1)->GetBoolValue(0)) << i << " " << log << "\nbefore " << prev << "\nafter " << doc.Dump();
        if (it->GetBoolValue(0)) ASSERT_FALSE(it->GetSameAsPrev()) << log << "\nbefore " << prev << "\nafter " << doc.Dump();
      }
      const auto partial = viewtest::DrawItems(d);
      const int32_t ci = d.CurItemNo(), co = d.OffsetInCurItem();
      d.Format();
      ASSERT_EQ(viewtest::DrawItems(d), partial) << log << "\nbefore " << prev << "\nafter " << doc.Dump();
      d.SetCaretAt(ci, co);
    }
    while (doc.data.RedoList->Count() > 0) doc.data.Redo();
    const std::string end = doc.Dump();
    int groups = 0;
    try {
      while (doc.data.UndoList->Count() > 0 && groups < 1000) {
        doc.data.Undo();
        ++groups;
      }
    } catch (const std::exception& x) {
      FAIL() << x.what() << " undo " << groups << " after " << log << " seed " << seed << "\n" << doc.Dump();
    }
    EXPECT_EQ(doc.Dump(), start) << "seed " << seed << ": " << log;
    while (doc.data.RedoList->Count() > 0) doc.data.Redo();
    EXPECT_EQ(doc.Dump(), end) << "seed " << seed << ": " << log;
  }
}

}  // namespace
}  // namespace pelvar
